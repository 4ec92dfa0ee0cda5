// The real program at work: how long from installing a keylogger's hook to its row in the
// list, and how much of one core the program takes while its window stays active.
//   detect_bench [hooks [seconds]]      (defaults: 10 hooks, 60 s)
#include "benchmarks/clock.h"
#include "benchmarks/program_cpu.h"
#include "res/resource.h"
#include "tests/e2e/keylogger.h"
#include "tests/e2e/program.h"
#include "tests/support/remote_ui.h"
#include "base/Text.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

bool Listed(HWND list, const std::string& path) {
    for (const auto& row : ReadRows(list))
        if (base::ToLowerAscii(row.texts[0]) == base::ToLowerAscii(path))
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const int hooks = argc > 1 ? std::atoi(argv[1]) : 10;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;

    ScratchFolder folder("detect-bench");
    ScratchFolder spies("detect-bench-spies");
    std::vector<std::unique_ptr<TestKeylogger>> keyloggers;
    Program program(folder.Path());
    if (!program.Launch()) {
        std::fprintf(stderr, "Snoopsweep did not start\n");
        return 1;
    }
    const HWND list = program.Control(IDC_THREAT_LIST);

    // Latency: from starting the hook's installer to the row.
    std::vector<double> latencies;
    for (int i = 0; i < hooks; ++i) {
        const std::string path = spies.Path() + "hook" + std::to_string(i) + ".dll";
        ::CopyFileA(FixtureDll("kbhook_plain.dll").c_str(), path.c_str(), FALSE);
        AgeFile(path, 40);
        const double start = bench::Seconds();
        keyloggers.push_back(std::make_unique<TestKeylogger>());
        if (!keyloggers.back()->Install(path)) {
            std::fprintf(stderr, "hook %d not installed\n", i);
            return 1;
        }
        if (!WaitFor([&] { return Listed(list, path); }, 30000)) {
            std::fprintf(stderr, "hook %d not listed within 30 s\n", i);
            return 1;
        }
        latencies.push_back(bench::Seconds() - start);
    }
    if (!latencies.empty()) {
        std::printf("each hook in turn:");
        for (const double latency : latencies)
            std::printf(" %.3f", latency);
        std::printf(" s\n");
        std::sort(latencies.begin(), latencies.end());
        const double median = bench::Median(latencies);
        std::printf("detection latency over %d hooks: median %.3f s, min %.3f s, max %.3f s\n",
                    hooks, median, latencies.front(), latencies.back());
    }

    // CPU share while the window stays active, with the hooks loaded and listed.
    const bool active = ::GetForegroundWindow() == program.Dialog();
    const double cpuStart = bench::CpuSeconds(program.Process().Handle());
    const double linuxStart = bench::LinuxCpuSeconds(program.Path());
    const double wallStart = bench::Seconds();
    ::WaitForSingleObject(program.Process().Handle(), static_cast<DWORD>(seconds) * 1000);
    const double cpu = linuxStart >= 0 ? bench::LinuxCpuSeconds(program.Path()) - linuxStart
                                       : bench::CpuSeconds(program.Process().Handle()) - cpuStart;
    const double wall = bench::Seconds() - wallStart;
    std::printf("CPU while %s for %.0f s: %.3f s, %.2f%% of one core (%s)\n",
                active ? "active" : "NOT active", wall, cpu, 100.0 * cpu / wall,
                linuxStart >= 0 ? "Linux /proc" : "GetProcessTimes");
    return 0;
}
