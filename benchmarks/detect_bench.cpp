// The real program at work: how long from installing a keylogger's hook to its row in the
// list, and how much of one core the program takes while its window stays active. The x64
// program with its helper also times 32-bit hooks, and gives the helper's CPU share and the
// memory of both processes.
//   detect_bench [hooks [seconds [hooks32]]]   (defaults: 10 hooks, 60 s, 10 32-bit hooks
//                                               where the build has the helper)
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

constexpr char kHelper[] = "snoopsweephelper32.exe";

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

    // Latency: from starting the hook's installer to the row. The 64-bit hooks first: a
    // 32-bit keyboard hook ahead of them would end their chain in 64-bit processes (Wine).
    const int hooks32 = argc > 3 ? std::atoi(argv[3]) : BuiltHelper().empty() ? 0 : 10;
    const auto timeHooks = [&](int count, const std::string& fixtures, const char* kind) {
        std::vector<double> latencies;
        for (int i = 0; i < count; ++i) {
            const std::string path = spies.Path() + kind + std::to_string(i) + ".dll";
            ::CopyFileA((fixtures + "kbhook_plain.dll").c_str(), path.c_str(), FALSE);
            AgeFile(path, 40);
            const double start = bench::Seconds();
            keyloggers.push_back(std::make_unique<TestKeylogger>(fixtures));
            if (!keyloggers.back()->Install(path)) {
                std::fprintf(stderr, "%s %d not installed\n", kind, i);
                return false;
            }
            if (!WaitFor([&] { return Listed(list, path); }, 30000)) {
                std::fprintf(stderr, "%s %d not listed within 30 s\n", kind, i);
                return false;
            }
            latencies.push_back(bench::Seconds() - start);
        }
        if (latencies.empty())
            return true;
        std::printf("each %s in turn:", kind);
        for (const double latency : latencies)
            std::printf(" %.3f", latency);
        std::printf(" s\n");
        std::sort(latencies.begin(), latencies.end());
        std::printf("detection latency over %d %ss: median %.3f s, min %.3f s, max %.3f s\n", count,
                    kind, bench::Median(latencies), latencies.front(), latencies.back());
        return true;
    };
    if (!timeHooks(hooks, OwnDirectory(), "hook") || !timeHooks(hooks32, X86Fixtures(), "hook32"))
        return 1;

    // CPU share while the window stays active, with the hooks loaded and listed.
    const bool active = ::GetForegroundWindow() == program.Dialog();
    const double cpuStart = bench::CpuSeconds(program.Process().Handle());
    const double linuxStart = bench::LinuxCpuSeconds(program.Path());
    const double helperStart = bench::LinuxCpuSeconds(program.Path(), kHelper);
    const double wallStart = bench::Seconds();
    ::WaitForSingleObject(program.Process().Handle(), static_cast<DWORD>(seconds) * 1000);
    const double cpu = linuxStart >= 0 ? bench::LinuxCpuSeconds(program.Path()) - linuxStart
                                       : bench::CpuSeconds(program.Process().Handle()) - cpuStart;
    const double wall = bench::Seconds() - wallStart;
    std::printf("CPU while %s for %.0f s: %.3f s, %.2f%% of one core (%s)\n",
                active ? "active" : "NOT active", wall, cpu, 100.0 * cpu / wall,
                linuxStart >= 0 ? "Linux /proc" : "GetProcessTimes");
    if (helperStart >= 0) {
        const double helper = bench::LinuxCpuSeconds(program.Path(), kHelper) - helperStart;
        std::printf("the helper's CPU meanwhile: %.3f s, %.2f%% of one core; both: %.2f%%\n",
                    helper, 100.0 * helper / wall, 100.0 * (cpu + helper) / wall);
    }
    const long memory = bench::LinuxResidentKiB(program.Path());
    const long helperMemory = bench::LinuxResidentKiB(program.Path(), kHelper);
    if (memory >= 0)
        std::printf("resident memory: the program %ld KiB", memory);
    if (memory >= 0 && helperMemory >= 0)
        std::printf(", the helper %ld KiB, both %ld KiB", helperMemory, memory + helperMemory);
    if (memory >= 0)
        std::printf("\n");
    return 0;
}
