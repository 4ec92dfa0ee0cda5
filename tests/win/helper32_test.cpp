// The program's 32-bit helper as the dialog runs it, with helpers that fail: each is ended,
// started again after a growing pause a few times only, and never holds the dialog's thread.
#include "detect/Win32Helper32.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

class FaultyHelper : public ::testing::TestWithParam<const char*> {};

TEST_P(FaultyHelper, IsEndedAndStartedAgainAFewTimesOnly) {
    ::SetEnvironmentVariableA("SNOOPSWEEP_FAKE_HELPER", GetParam());
    const HWND dialog = ::CreateWindowExA(0, "STATIC", "dialog", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                          0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    ::SetForegroundWindow(dialog);
    {
        detect::Helper32 helper(OwnDirectory() + "fake_helper.exe", 10, 500);
        std::vector<DWORD> started;
        const auto tick = [&] {
            helper.Probe(dialog);
            const DWORD pid = helper.ProcessId();
            if (pid && (started.empty() || started.back() != pid))
                started.push_back(pid);
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageA(&msg);
        };
        // Ticks until the helper is given up; each one returns (a hanging helper would hold it).
        EXPECT_TRUE(WaitFor([&] {
            tick();
            return started.size() > detect::Helper32::kMaxStarts && helper.ProcessId() == 0;
        }));
        // Longer than the last pause: no other start.
        const DWORD since = ::GetTickCount();
        while (::GetTickCount() - since < 1000) {
            tick();
            ::Sleep(10);
        }
        EXPECT_EQ(started.size(), size_t{detect::Helper32::kMaxStarts + 1});
        EXPECT_EQ(helper.ProcessId(), 0u);
        EXPECT_TRUE(helper.Modules().empty());
        // None is left running.
        for (DWORD pid : started) {
            ui::Handle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
            EXPECT_TRUE(!process ||
                        ::WaitForSingleObject(process.get(), kWaitLimitMs) == WAIT_OBJECT_0);
        }
    }
    ::DestroyWindow(dialog);
    ::SetEnvironmentVariableA("SNOOPSWEEP_FAKE_HELPER", nullptr);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultyHelper,
                         ::testing::Values("garbage", "hang", "silent", "exit"));

TEST(Helper32, AMissingHelperIsNoHelper) {
    detect::Helper32 helper(OwnDirectory() + "no such helper.exe", 1);
    for (int tick = 0; tick < 50; ++tick) {
        helper.Probe(::GetDesktopWindow());
        EXPECT_EQ(helper.ProcessId(), 0u);
        ::Sleep(5);
    }
}

} // namespace
