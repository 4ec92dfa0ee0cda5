// The real program at work: how long from installing a keylogger's hook to its row in the
// list, and how much of one core the program takes while its window stays active.
//   detect_bench [hooks [seconds]]      (defaults: 10 hooks, 60 s)
#include "benchmarks/clock.h"
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

double CpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    auto ticks = [](const FILETIME& t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

// Under Wine, GetProcessTimes on another process gives the caller's own times; there the
// program's come from Linux's /proc (drive Z: is the Linux root), found by the program's path
// on its command line. -1 where there is no such process (on Windows).
double LinuxCpuSeconds(const std::string& programPath) {
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA("Z:\\proc\\*", &data));
    if (!find)
        return -1;
    const std::string wanted = base::ToLowerAscii(base::FileNameOf(
        base::DirectoryOf(programPath).substr(0, base::DirectoryOf(programPath).size() - 1)));
    do {
        const std::string pid = data.cFileName;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string commandLine =
            base::ToLowerAscii(ReadFileBytes("Z:\\proc\\" + pid + "\\cmdline"));
        if (commandLine.find(wanted) == std::string::npos ||
            commandLine.find("snoopsweep.exe") == std::string::npos)
            continue;
        const std::string stat = ReadFileBytes("Z:\\proc\\" + pid + "\\stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        // Fields after the command: state is the 3rd field, utime the 14th, stime the 15th.
        std::vector<std::string> fields;
        size_t at = close + 2;
        while (at < stat.size()) {
            const auto space = stat.find(' ', at);
            fields.push_back(stat.substr(at, space - at));
            if (space == std::string::npos)
                break;
            at = space + 1;
        }
        if (fields.size() > 12)
            return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / 100.0;
    } while (::FindNextFileA(find.get(), &data));
    return -1;
}

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
        // Of an even count, the median is the mean of the middle two.
        const size_t middle = latencies.size() / 2;
        const double median = latencies.size() % 2 != 0
                                  ? latencies[middle]
                                  : (latencies[middle - 1] + latencies[middle]) / 2;
        std::printf("detection latency over %d hooks: median %.3f s, min %.3f s, max %.3f s\n",
                    hooks, median, latencies.front(), latencies.back());
    }

    // CPU share while the window stays active, with the hooks loaded and listed.
    const bool active = ::GetForegroundWindow() == program.Dialog();
    const double cpuStart = CpuSeconds(program.Process().Handle());
    const double linuxStart = LinuxCpuSeconds(program.Path());
    const double wallStart = bench::Seconds();
    ::WaitForSingleObject(program.Process().Handle(), static_cast<DWORD>(seconds) * 1000);
    const double cpu = linuxStart >= 0 ? LinuxCpuSeconds(program.Path()) - linuxStart
                                       : CpuSeconds(program.Process().Handle()) - cpuStart;
    const double wall = bench::Seconds() - wallStart;
    std::printf("CPU while %s for %.0f s: %.3f s, %.2f%% of one core (%s)\n",
                active ? "active" : "NOT active", wall, cpu, 100.0 * cpu / wall,
                linuxStart >= 0 ? "Linux /proc" : "GetProcessTimes");
    return 0;
}
