// The wake counters of other programs, read from a busy key_spy.exe and an idle one that is
// skipped: under Wine through the Linux side, and through the system's process list, which
// Wine fills too but with every count 0.
#include "detect/Win32WakeCounters.h"

#include "base/Text.h"
#include "tests/support/process.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace testing_support;
using detect::ThreadWakes;

using Spy = testing_support::KeySpy;

std::vector<ThreadWakes> Of(const std::vector<ThreadWakes>& threads, uint32_t process) {
    std::vector<ThreadWakes> of;
    for (const ThreadWakes& thread : threads) {
        if (thread.process == process)
            of.push_back(thread);
    }
    return of;
}

std::set<uint64_t> Ids(const std::vector<ThreadWakes>& threads) {
    std::set<uint64_t> ids;
    for (const ThreadWakes& thread : threads)
        ids.insert(thread.thread);
    return ids;
}

// The threads of a process as the tool-help functions list them.
std::set<uint64_t> ToolHelpThreads(uint32_t process) {
    std::set<uint64_t> ids;
    ui::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && ::Thread32First(snapshot.get(), &entry); more;
         more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == process)
            ids.insert(entry.th32ThreadID);
    }
    return ids;
}

void ExpectNeitherSelfNorSkipped(const std::vector<ThreadWakes>& threads, uint32_t skipped) {
    EXPECT_TRUE(Of(threads, ::GetCurrentProcessId()).empty());
    EXPECT_TRUE(Of(threads, skipped).empty());
}

TEST(WakeCounters, UnderWineCountTheLinuxThreadsWriteCalls) {
    ASSERT_TRUE(detect::RunsUnderWine());
    Spy busy("busy");
    Spy skipped("idle");
    ASSERT_TRUE(busy.Ready() && skipped.Ready());
    const auto source = detect::MakeWakeCounterSource();
    EXPECT_EQ(source->CounterBits(), 64u);

    // Its main thread and the one that spins.
    std::vector<ThreadWakes> first;
    ASSERT_TRUE(WaitFor([&] {
        source->Refresh({skipped.Pid()});
        first = Of(source->Snapshot(), busy.Pid());
        return first.size() >= 2;
    }));
    EXPECT_EQ(base::ToLowerAscii(source->ImagePath(busy.Pid())),
              base::ToLowerAscii(Spy::Program()));
    EXPECT_EQ(source->ImagePath(skipped.Pid()), "");

    ThreadWakes risen;
    ASSERT_TRUE(WaitFor([&] {
        for (const ThreadWakes& now : Of(source->Snapshot(), busy.Pid())) {
            for (const ThreadWakes& before : first) {
                if (now.thread == before.thread && now.count > before.count) {
                    risen = now;
                    return true;
                }
            }
        }
        return false;
    }));
    std::vector<ThreadWakes> read;
    EXPECT_TRUE(WaitFor([&] {
        read = source->Read({risen});
        return read.size() == 1 && read[0].count > risen.count;
    }));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].process, busy.Pid());
    EXPECT_EQ(read[0].thread, risen.thread);
    ExpectNeitherSelfNorSkipped(source->Snapshot(), skipped.Pid());
    EXPECT_TRUE(source->Read({{skipped.Pid(), risen.thread, 0}}).empty());
}

TEST(WakeCounters, TheSystemsProcessListNamesEveryThread) {
    Spy busy("busy");
    Spy skipped("idle");
    ASSERT_TRUE(busy.Ready() && skipped.Ready());
    const auto source = detect::MakeWindowsWakeCounterSource();
    EXPECT_EQ(source->CounterBits(), 32u);
    source->Refresh({skipped.Pid()});

    std::vector<ThreadWakes> threads;
    EXPECT_TRUE(WaitFor([&] {
        threads = source->Snapshot();
        return Ids(Of(threads, busy.Pid())) == ToolHelpThreads(busy.Pid());
    }));
    ASSERT_GE(Of(threads, busy.Pid()).size(), 2u);
    ExpectNeitherSelfNorSkipped(threads, skipped.Pid());
    EXPECT_EQ(base::ToLowerAscii(source->ImagePath(busy.Pid())),
              base::ToLowerAscii(Spy::Program()));

    const ThreadWakes one = Of(threads, busy.Pid()).back();
    const auto read = source->Read({one});
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].process, one.process);
    EXPECT_EQ(read[0].thread, one.thread);
    EXPECT_GE(read[0].count, one.count);
}

} // namespace
