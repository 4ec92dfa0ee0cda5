// Who is behind a row, with many processes running: how long from the double-click on a
// listed keylogger to the box that names its processes, origin and autostart entries.
//   provenance_bench [processes [rounds]]      (defaults: 200 processes, 10 rounds)
#include "benchmarks/clock.h"
#include "res/resource.h"
#include "tests/e2e/keylogger.h"
#include "tests/e2e/program.h"
#include "tests/support/remote_ui.h"
#include "base/Text.h"
#include "inspect/Autostart.h"
#include "inspect/Win32Provenance.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

int RunningProcesses() {
    ui::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = snapshot && ::Process32First(snapshot.get(), &entry); more;
         more = ::Process32Next(snapshot.get(), &entry))
        ++count;
    return count;
}

HWND Box(DWORD pid, HWND dialog) {
    for (HWND window : TopLevelWindows(pid, "#32770", "Snoopsweep")) {
        if (window != dialog)
            return window;
    }
    return nullptr;
}

// The median time of `rounds` calls of `work`, in this process.
template <class Work> double TimeOf(int rounds, Work work) {
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        const double start = bench::Seconds();
        work();
        times.push_back(bench::Seconds() - start);
    }
    return bench::Median(times);
}

} // namespace

int main(int argc, char** argv) {
    const int processes = argc > 1 ? std::atoi(argv[1]) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 10;

    ScratchFolder folder("provenance-bench");
    ScratchFolder spies("provenance-bench-spies");
    std::vector<std::unique_ptr<TestKeylogger>> others;
    while (RunningProcesses() < processes) {
        others.push_back(std::make_unique<TestKeylogger>());
        if (!others.back()->StartSpy("idle")) {
            std::fprintf(stderr, "could not start process %d\n", RunningProcesses());
            return 1;
        }
    }
    const std::string hook = spies.Path() + "hook.dll";
    ::CopyFileA(FixtureDll("kbhook_plain.dll").c_str(), hook.c_str(), FALSE);
    AgeFile(hook, 40);
    TestKeylogger keylogger;
    Program program(folder.Path());
    if (!keylogger.Install(hook) || !program.Launch()) {
        std::fprintf(stderr, "the keylogger or Snoopsweep did not start\n");
        return 1;
    }
    const HWND list = program.Control(IDC_THREAT_LIST);
    if (!WaitFor([&] { return ReadRows(list).size() == 1; }, 30000)) {
        std::fprintf(stderr, "the keylogger was not listed\n");
        return 1;
    }
    std::printf("processes running: %d\n", RunningProcesses());

    std::vector<double> times;
    std::string text;
    for (int round = 0; round < rounds; ++round) {
        const double start = bench::Seconds();
        ClickRow(list, 0, true);
        HWND box = nullptr;
        if (!WaitFor(
                [&] { return (box = Box(program.Process().Pid(), program.Dialog())) != nullptr; },
                60000)) {
            std::fprintf(stderr, "no box within 60 s\n");
            return 1;
        }
        times.push_back(bench::Seconds() - start);
        text = MessageBoxText(box);
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        WaitFor([&] { return !::IsWindow(box); });
    }
    std::sort(times.begin(), times.end());
    std::printf("double-click to box over %d rounds: median %.3f s, min %.3f s, max %.3f s\n",
                rounds, bench::Median(times), times.front(), times.back());
    // The two halves of the work, done here: the walk of every process, the autostart places.
    std::printf("of which, medians here: the processes %.3f s, the autostart places %.3f s\n",
                TimeOf(5, [&] { inspect::ProcessesHolding(hook); }),
                TimeOf(5, [] { inspect::ReadAutostartEntries(); }));
    std::printf("last box:\n%s\n", text.c_str());
    PostClick(program.Control(IDOK));
    program.Process().WaitForExit();
    return 0;
}
