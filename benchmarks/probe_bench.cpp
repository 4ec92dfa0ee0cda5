// The keyboard probes of the real program: how long from starting a keylogger that loads no
// DLL to its row, and to the row that names its program; how much of one core the program
// takes with every probe at work; and how many rows appear on a clean system with both cores
// busy.
//   probe_bench [rounds [cpu-seconds [watch-seconds]]]      (defaults: 10, 60, 600)
#include "benchmarks/clock.h"
#include "benchmarks/program_cpu.h"
#include "base/Text.h"
#include "detect/ThreatRows.h"
#include "res/resource.h"
#include "tests/e2e/keylogger.h"
#include "tests/e2e/program.h"
#include "tests/support/remote_ui.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

bool Listed(HWND list, const std::string& key) {
    for (const auto& row : ReadRows(list))
        if (base::ToLowerAscii(row.texts[0]) == base::ToLowerAscii(key))
            return true;
    return false;
}

// Starts the program and waits for its first tick, which shows the remembered entry.
bool LaunchCalibrated(Program& program, const std::string& folder) {
    WriteFileBytes(folder + "leciti.txt", "C:\\bench\\remembered.dll\r\n");
    return program.Launch() &&
           WaitFor([&] { return !ReadRows(program.Control(IDC_THREAT_LIST)).empty(); });
}

void Quit(Program& program) {
    PostClick(program.Control(IDOK));
    if (!program.Process().WaitForExit())
        program.Process().Terminate();
}

void PrintMedian(const char* what, std::vector<double> seconds) {
    if (seconds.empty())
        return;
    std::sort(seconds.begin(), seconds.end());
    const double median = bench::Median(seconds);
    std::printf("%-62s median %.2f s, min %.2f s, max %.2f s over %zu\n", what, median,
                seconds.front(), seconds.back(), seconds.size());
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int cpuSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const int watchSeconds = argc > 3 ? std::atoi(argv[3]) : 600;
    ScratchFolder folder("probe-bench");

    // Time to each finding: a fresh program each round, past its first tick, then the spy.
    struct Kind {
        const char* mode;
        const char* key;
    };
    const Kind kinds[] = {{"low-level-hook", detect::kLowLevelHookKey},
                          {"poll-all", detect::kKeyStatePollerKey},
                          {"grab-keys", detect::kHotkeyGrabberKey}};
    for (const Kind& kind : kinds) {
        std::vector<double> times;
        for (int round = 0; round < rounds; ++round) {
            Program program(folder.Path());
            if (!LaunchCalibrated(program, folder.Path())) {
                std::fprintf(stderr, "Snoopsweep did not start\n");
                return 1;
            }
            TestKeylogger spy;
            const double start = bench::Seconds();
            if (!spy.StartSpy(kind.mode)) {
                std::fprintf(stderr, "%s did not start\n", kind.mode);
                return 1;
            }
            if (!WaitFor([&] { return Listed(program.Control(IDC_THREAT_LIST), kind.key); },
                         60000)) {
                std::fprintf(stderr, "%s not listed within 60 s\n", kind.mode);
                return 1;
            }
            times.push_back(bench::Seconds() - start);
            Quit(program);
        }
        PrintMedian((std::string("time to ") + kind.key).c_str(), times);
    }

    // Time to the row that names the program: a copy of the spy, dated long before the
    // system, in a folder of its own.
    const Kind named[] = {{"low-level-hook", detect::kLowLevelHookKey},
                          {"raw-input", detect::kRawInputSinkKind},
                          {"grab-keys", detect::kHotkeyGrabberKey}};
    ScratchFolder spies("probe-bench-spies");
    for (const Kind& kind : named) {
        std::vector<double> times;
        for (int round = 0; round < rounds; ++round) {
            Program program(folder.Path());
            if (!LaunchCalibrated(program, folder.Path()))
                return 1;
            TestKeylogger spy;
            const std::string path = spy.CopySpy(spies.Path() + kind.mode + ".exe");
            if (path.empty() || !AgeFile(path, 40))
                return 1;
            const std::string key = detect::NamedKey(path, kind.key);
            const double start = bench::Seconds();
            if (!spy.StartSpy(kind.mode, path)) {
                std::fprintf(stderr, "%s did not start\n", kind.mode);
                return 1;
            }
            if (!WaitFor([&] { return Listed(program.Control(IDC_THREAT_LIST), key); }, 60000)) {
                std::fprintf(stderr, "%s not named within 60 s\n", kind.mode);
                return 1;
            }
            times.push_back(bench::Seconds() - start);
            Quit(program);
        }
        PrintMedian(("time to <spy> " + std::string(kind.key)).c_str(), times);
    }

    // The CPU share with every probe at work and nothing to find, then the watch for false
    // findings with both cores kept busy by other programs.
    Program program(folder.Path());
    if (!LaunchCalibrated(program, folder.Path()))
        return 1;
    const HWND list = program.Control(IDC_THREAT_LIST);
    const bool active = ::GetForegroundWindow() == program.Dialog();
    const double cpuStart = bench::ProgramCpuSeconds(program.Path(), program.Process().Handle());
    const double wallStart = bench::Seconds();
    ::WaitForSingleObject(program.Process().Handle(), static_cast<DWORD>(cpuSeconds) * 1000);
    const double cpu =
        bench::ProgramCpuSeconds(program.Path(), program.Process().Handle()) - cpuStart;
    const double wall = bench::Seconds() - wallStart;
    std::printf("CPU while %s, all probes on, for %.0f s: %.3f s, %.2f%% of one core\n",
                active ? "active" : "NOT active", wall, cpu, 100.0 * cpu / wall);

    TestKeylogger busy[2];
    for (TestKeylogger& spinner : busy)
        spinner.StartSpy("busy");
    size_t falseFindings = 0;
    const double watchStart = bench::Seconds();
    while (bench::Seconds() - watchStart < watchSeconds) {
        // Only the remembered entry belongs in the list.
        falseFindings = std::max(falseFindings, ReadRows(list).size() - 1);
        ::Sleep(1000);
    }
    const bool stillActive = ::GetForegroundWindow() == program.Dialog();
    std::printf("false findings over %d s, both cores busy, window %s: %zu\n", watchSeconds,
                stillActive ? "active" : "NOT active", falseFindings);
    for (const auto& row : ReadRows(list))
        std::printf("  row: %s |%s|\n", row.texts[0].c_str(), row.texts[1].c_str());
    Quit(program);
    return 0;
}
