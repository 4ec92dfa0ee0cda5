// The pause test against key_spy.exe: a poller found among bystanders while a window of the
// test's is in front, every program running again afterwards, and the watchdog resuming a
// program that was left suspended.
#include "detect/Win32PauseTest.h"

#include "base/Text.h"
#include "detect/Win32ProbePlatform.h"
#include "detect/Win32WakeCounters.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace testing_support;
using detect::ThreadWakes;

using Spy = testing_support::KeySpy;

// The wakes of one program's threads, watched from the test's thread.
class Watcher {
public:
    explicit Watcher(uint32_t process) : process_(process) {}

    // Its threads, once the source sees them.
    bool Start() {
        return WaitFor([&] {
            source_->Refresh({});
            threads_.clear();
            for (const ThreadWakes& thread : source_->Snapshot()) {
                if (thread.process == process_)
                    threads_.push_back(thread);
            }
            return !threads_.empty();
        });
    }
    uint64_t Total() {
        uint64_t total = 0;
        for (const ThreadWakes& thread : source_->Read(threads_))
            total += thread.count;
        return total;
    }
    // Whether it wakes within `limitMs`.
    bool Wakes(DWORD limitMs = 1000) {
        const uint64_t first = Total();
        return WaitFor([&] { return Total() != first; }, limitMs);
    }

private:
    uint32_t process_;
    std::unique_ptr<detect::WakeCounterSource> source_ = detect::MakeWakeCounterSource();
    std::vector<ThreadWakes> threads_;
};

LRESULT CALLBACK PlainWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// Dispatches what reaches this thread, but the probe keys, until `done` is signalled or the
// limit passes.
bool PumpUntil(HANDLE done) {
    const ULONGLONG end = ::GetTickCount64() + kWaitLimitMs;
    while (::GetTickCount64() < end) {
        if (::MsgWaitForMultipleObjects(1, &done, FALSE, 10, QS_ALLINPUT) == WAIT_OBJECT_0)
            return true;
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            const bool probeKey =
                msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST &&
                static_cast<ULONG_PTR>(::GetMessageExtraInfo()) == detect::kProbeKeyMark;
            if (!probeKey)
                ::DispatchMessageA(&msg);
        }
    }
    return false;
}

struct PauseRun {
    std::unique_ptr<detect::WakeCounterSource> counters = detect::MakeWakeCounterSource();
    detect::PauseTestInputs inputs;
    detect::PauseTestResult result;

    static DWORD WINAPI Main(void* parameter) {
        auto* run = static_cast<PauseRun*>(parameter);
        run->result = detect::RunPauseTest(*run->counters, run->inputs);
        return 0;
    }
};

TEST(PauseTest, NamesThePollerAndLeavesEveryProgramRunning) {
    Spy poller("poll-all");
    Spy bystander("ticking");
    Spy excluded("ticking"); // as if it held a low-level hook
    ASSERT_TRUE(poller.Ready() && bystander.Ready() && excluded.Ready());

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PlainWindow;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "SnoopsweepPauseTestFront";
    ::RegisterClassA(&windowClass);
    const HWND front =
        ::CreateWindowExA(0, windowClass.lpszClassName, "Prova", WS_OVERLAPPEDWINDOW, 10, 10, 300,
                          200, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_TRUE(front);
    const auto destroy = [](HWND window) { ::DestroyWindow(window); };
    const std::unique_ptr<HWND__, decltype(destroy)> owned(front, destroy);
    ::ShowWindow(front, SW_SHOW);
    ::SetForegroundWindow(front);
    ASSERT_TRUE(WaitFor([&] {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&msg);
        return ::GetForegroundWindow() == front;
    }));

    char windows[MAX_PATH] = {};
    ASSERT_NE(::GetWindowsDirectoryA(windows, MAX_PATH), 0u);
    const std::string system = base::ToLowerAscii(std::string(windows) + "\\");
    auto run = std::make_unique<PauseRun>();
    run->inputs.owners = {excluded.Pid()};
    run->inputs.trusted = [system](const std::string& image) {
        return base::ToLowerAscii(image).rfind(system, 0) == 0;
    };
    const ui::Handle worker(::CreateThread(nullptr, 0, PauseRun::Main, run.get(), 0, nullptr));
    ASSERT_TRUE(worker);
    if (!PumpUntil(worker.get())) {
        run.release(); // still in use by the worker
        FAIL() << "the pause test did not end";
    }

    const detect::PauseTestResult& result = run->result;
    RecordProperty("totalMs", std::to_string(result.totalMs));
    std::string pauses;
    for (const detect::PauseRecord& pause : result.pauses)
        pauses += std::to_string(pause.process) + ":" + std::to_string(pause.ms) + "ms ";
    RecordProperty("pauses", pauses);
    ASSERT_TRUE(result.poller) << pauses;
    EXPECT_EQ(result.poller->process, poller.Pid());
    EXPECT_EQ(base::ToLowerAscii(result.poller->image), base::ToLowerAscii(Spy::Program()));
    ASSERT_GE(result.pauses.size(), 2u);
    for (const detect::PauseRecord& pause : result.pauses) {
        EXPECT_NE(pause.process, excluded.Pid());
        EXPECT_GE(pause.ms, detect::kSettleMs + detect::kMinPauseMs);
        EXPECT_LT(pause.ms, detect::Win32PausePlatform::kWatchdogMs);
    }

    for (const Spy* spy : {&poller, &bystander, &excluded}) {
        Watcher running(spy->Pid());
        ASSERT_TRUE(running.Start());
        EXPECT_TRUE(running.Wakes()) << spy->Pid();
    }
}

// Suspends the program and ends, leaving its platform behind as a killed thread would.
DWORD WINAPI LeaveSuspended(void* process) {
    auto* platform = new detect::Win32PausePlatform(); // never deleted
    return platform->Suspend(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(process))) ? 0 : 1;
}

TEST(PauseTest, TheWatchdogResumesAProgramLeftSuspended) {
    Spy ticking("ticking");
    ASSERT_TRUE(ticking.Ready());
    Watcher watched(ticking.Pid());
    ASSERT_TRUE(watched.Start());

    for (const auto by : {detect::SuspendBy::WholeProcess, detect::SuspendBy::EachThread}) {
        SCOPED_TRACE(by == detect::SuspendBy::WholeProcess ? "whole process" : "each thread");
        {
            detect::Win32PausePlatform platform(by);
            ASSERT_TRUE(platform.Suspend(ticking.Pid()));
            const ULONGLONG suspended = ::GetTickCount64();
            ::Sleep(detect::kSettleMs);
            EXPECT_FALSE(watched.Wakes(500));
            // Its thread hangs: the watchdog resumes the program at the deadline.
            EXPECT_TRUE(watched.Wakes(detect::Win32PausePlatform::kWatchdogMs + 1000));
            EXPECT_GE(::GetTickCount64() - suspended, detect::Win32PausePlatform::kWatchdogMs - 50);
            EXPECT_FALSE(platform.Resume(ticking.Pid()));

            // The platform goes: at once.
            ASSERT_TRUE(platform.Suspend(ticking.Pid()));
        }
        EXPECT_TRUE(watched.Wakes(500));
    }

    // Its thread ends without a word, the platform left behind: at once too.
    const ui::Handle thread(::CreateThread(
        nullptr, 0, LeaveSuspended, reinterpret_cast<void*>(uintptr_t{ticking.Pid()}), 0, nullptr));
    ASSERT_TRUE(thread);
    DWORD code = 1;
    ASSERT_EQ(::WaitForSingleObject(thread.get(), kWaitLimitMs), WAIT_OBJECT_0);
    ASSERT_TRUE(::GetExitCodeThread(thread.get(), &code) && code == 0);
    EXPECT_TRUE(watched.Wakes(500));
}

} // namespace
