// Times full walks of this process's modules with each method, first with the modules the
// process has anyway and then with extra copies of a small DLL loaded, and prints the cost
// per walk and per module.
//   module_walk_bench [extra-count [dll-to-copy]]     (defaults: 300, inspect_plain.dll
//                                                       beside the program)
#include "benchmarks/clock.h"
#include "inspect/ModuleEnumerator.h"
#include "ui/Handles.h"
#include "base/Text.h"
#include "ui/WinApp.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

// Each measurement repeats walks for at least this long, and at least kMinimumWalks times.
constexpr double kMeasureSeconds = 1.0;
constexpr int kMinimumWalks = 5;

int WalkAll(CModuleEnumerator& enumerator, DWORD processId) {
    ModuleEntry entry;
    int count = 0;
    for (BOOL more = enumerator.GetFirstModule(processId, entry); more;
         more = enumerator.GetNextModule(processId, entry))
        ++count;
    return count;
}

// One walk as the scan makes it: a new enumerator, its mode confirmed, the walk, the end.
int ScanPass(DWORD processId) {
    CModuleEnumerator enumerator;
    enumerator.SetMode(enumerator.GetMode());
    return WalkAll(enumerator, processId);
}

// The median and the fastest of the timed walks: the median is the typical cost, the
// fastest the cost on a quiet machine.
void Report(const char* what, int modules, std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    const double fastest = seconds.front();
    const double perModule = 1e6 / (modules > 0 ? modules : 1);
    std::printf("  %-26s %7d %6d %9.2f %9.2f %11.1f %11.1f\n", what, modules,
                static_cast<int>(seconds.size()), median * 1e3, fastest * 1e3, median * perModule,
                fastest * perModule);
}

template <class Walk> void Measure(const char* what, Walk walk) {
    int modules = walk(); // once to warm up
    std::vector<double> seconds;
    const double start = bench::Seconds();
    while (static_cast<int>(seconds.size()) < kMinimumWalks ||
           bench::Seconds() - start < kMeasureSeconds) {
        const double before = bench::Seconds();
        modules = walk();
        seconds.push_back(bench::Seconds() - before);
    }
    Report(what, modules, seconds);
}

void MeasureAll(const char* heading) {
    const DWORD self = ::GetCurrentProcessId();
    std::printf("%s\n  %-26s %7s %6s %9s %9s %11s %11s\n", heading, "walk", "modules", "walks",
                "ms median", "ms best", "us/mod med", "us/mod best");
    CModuleEnumerator enumerator;
    if (enumerator.SetMode(MODE_TOOLHELP) == MODE_TOOLHELP)
        Measure("tool-help", [&] { return WalkAll(enumerator, self); });
    if (enumerator.SetMode(MODE_PSAPI) == MODE_PSAPI)
        Measure("PSAPI", [&] { return WalkAll(enumerator, self); });
    Measure("scan pass (new enumerator)", [&] { return ScanPass(self); });
}

} // namespace

int main(int argc, char** argv) {
    const int extraCount = argc > 1 ? std::atoi(argv[1]) : 300;
    const std::string source =
        argc > 2 ? argv[2] : base::DirectoryOf(ui::ModuleFileName()) + "inspect_plain.dll";

    // Keeps the enumerator's own libraries loaded, so that every walk sees the same modules.
    CModuleEnumerator holder;
    std::printf("mode %d, %d-bit\n", holder.GetMode(), static_cast<int>(sizeof(void*) * 8));
    MeasureAll("natural modules");

    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder =
        std::string(temp) + "module_walk_bench-" + std::to_string(::GetCurrentProcessId()) + "\\";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    std::vector<std::pair<std::string, ui::Library>> extras;
    for (int i = 0; i < extraCount; ++i) {
        const std::string path = folder + "extra_" + std::to_string(i) + ".dll";
        ui::Library module;
        if (::CopyFileA(source.c_str(), path.c_str(), FALSE))
            module.reset(::LoadLibraryA(path.c_str()));
        if (!module) {
            std::fprintf(stderr, "cannot load %s (copied from %s)\n", path.c_str(), source.c_str());
            break;
        }
        extras.emplace_back(path, std::move(module));
    }
    if (static_cast<int>(extras.size()) == extraCount && extraCount > 0) {
        const std::string heading = "with " + std::to_string(extraCount) + " extra modules";
        MeasureAll(heading.c_str());
    }

    for (auto& extra : extras) {
        extra.second.reset();
        ::DeleteFileA(extra.first.c_str());
    }
    ::RemoveDirectoryA(folder.c_str());
    return static_cast<int>(extras.size()) == extraCount ? 0 : 1;
}
