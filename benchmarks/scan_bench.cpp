// Times one scan pass in steady state against a bare tool-help walk of the same process:
// with the modules the process has anyway, with 300 extra modules that the scan has cleared,
// and with 20 more that it lists as suspicious and so examines on every pass.
//   scan_bench [dll-to-copy]        (default: inspect_plain.dll beside the program)
#include "benchmarks/clock.h"
#include "detect/ScanCycle.h"
#include "detect/ListViewThreatList.h"
#include "detect/Win32ScanPlatform.h"
#include "detect/TrustMap.h"
#include "ui/Handles.h"
#include "base/Text.h"
#include "ui/WinApp.h"

#include <windows.h>

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRepeats = 41;

template <class Work> double Median(Work work) {
    std::vector<double> times;
    for (int i = 0; i < kRepeats; ++i) {
        const double start = bench::Seconds();
        work();
        times.push_back(bench::Seconds() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int BareWalk() {
    ui::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, ::GetCurrentProcessId()));
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = ::Module32First(snapshot.get(), &entry); more;
         more = ::Module32Next(snapshot.get(), &entry))
        ++count;
    return count;
}

// The real system side, with the window taken as active and no key injected.
class ActiveScan : public detect::Win32ScanPlatform {
public:
    using Win32ScanPlatform::Win32ScanPlatform;
    bool IsActive() override { return true; }
    void InjectF11() override {}
};

class NoWindow : public ui::Dialog {
public:
    NoWindow() : ui::Dialog(0) {}
};

bool SetTime(const std::string& path, ULONGLONG ticks) {
    FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    ui::FileHandle file(::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    return file && ::SetFileTime(file.get(), &time, &time, &time);
}

ULONGLONG CreationTicks(const std::string& path) {
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA(path.c_str(), &data));
    return find ? (static_cast<ULONGLONG>(data.ftCreationTime.dwHighDateTime) << 32) |
                      data.ftCreationTime.dwLowDateTime
                : 0;
}

// Copies of a DLL loaded into this process, dated at `ticks`; unloaded and deleted at the end.
class Copies {
public:
    Copies(std::string folder) : folder_(std::move(folder)) {}
    ~Copies() {
        for (auto& module : modules_)
            module.reset();
        for (const auto& path : paths_)
            ::DeleteFileA(path.c_str());
    }
    bool Load(const std::string& source, const std::string& prefix, int count, ULONGLONG ticks) {
        for (int i = 0; i < count; ++i) {
            const std::string path = folder_ + prefix + std::to_string(i) + ".dll";
            if (!::CopyFileA(source.c_str(), path.c_str(), FALSE) || !SetTime(path, ticks))
                return false;
            paths_.push_back(path);
            modules_.emplace_back(::LoadLibraryA(path.c_str()));
            if (!modules_.back())
                return false;
        }
        return true;
    }

private:
    std::string folder_;
    std::vector<std::string> paths_;
    std::vector<ui::Library> modules_;
};

} // namespace

int main(int argc, char** argv) {
    const std::string self = ui::ModuleFileName();
    const std::string source = argc > 1 ? argv[1] : base::DirectoryOf(self) + "inspect_plain.dll";
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder =
        std::string(temp) + "scan-bench-" + std::to_string(::GetCurrentProcessId()) + "\\";
    ::CreateDirectoryA(folder.c_str(), nullptr);

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    HWND window = ::CreateWindowExA(0, WC_LISTVIEWA, "", LVS_REPORT | LVS_SORTASCENDING, 0, 0, 600,
                                    300, nullptr, nullptr, nullptr, nullptr);
    ui::ListCtrl list;
    list.Attach(window);
    for (int column = 0; column < 4; ++column)
        list.InsertColumn(column, "c", LVCFMT_LEFT, 100);

    detect::TrustMap map;
    detect::AddTrustedNames(map, self);
    NoWindow noWindow;
    ActiveScan system(noWindow);
    detect::ListViewThreatList rows(list);
    detect::ScanCycle scan(map, rows, system);
    scan.ResetFlags();
    scan.ResetTickCounter();
    scan.Tick(); // calibration

    char kernel32[MAX_PATH] = {};
    ::GetModuleFileNameA(::GetModuleHandleA("kernel32.dll"), kernel32, MAX_PATH);
    const ULONGLONG systemTime = CreationTicks(kernel32);
    const ULONGLONG hour = 3600ULL * 10000000ULL;

    std::printf("%-34s %8s %10s %10s %7s\n", "scenario", "modules", "pass ms", "walk ms", "ratio");
    auto measure = [&](const char* name) {
        scan.Tick(); // decides the new modules; later passes are the steady state
        const int modules = BareWalk();
        const double pass = Median([&] { scan.Tick(); });
        const double walk = Median([] { BareWalk(); });
        std::printf("%-34s %8d %10.2f %10.2f %7.2f\n", name, modules, pass * 1e3, walk * 1e3,
                    pass / walk);
    };

    measure("natural");
    Copies cleared(folder);
    if (!cleared.Load(source, "cleared", 300, systemTime + hour)) {
        std::fprintf(stderr, "cannot load copies of %s\n", source.c_str());
        return 1;
    }
    measure("+300 cleared");
    Copies listed(folder);
    if (!listed.Load(source, "listed", 20, systemTime - 40 * 24 * hour)) {
        std::fprintf(stderr, "cannot load copies of %s\n", source.c_str());
        return 1;
    }
    measure("+300 cleared, +20 listed");
    std::printf("rows listed: %d\n", list.GetItemCount());
    ::DestroyWindow(window);
    ::RemoveDirectoryA(folder.c_str());
    return 0;
}
