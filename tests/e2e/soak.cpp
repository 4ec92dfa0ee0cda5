// The soak: the real program for minutes on end with a keylogger loaded, its window active
// and "Analizza" pressed once a second from outside. It samples what the program holds
// (handles, GDI and USER objects, private bytes) and fails when any of them grows beyond
// noise, or when the list shows anything but the keylogger's one row after a press.
//   soak [minutes]      (default 10; a fraction such as 0.5 is allowed)
#include "res/resource.h"
#include "tests/e2e/keylogger.h"
#include "tests/e2e/program.h"
#include "tests/support/remote_ui.h"
#include "ui/Handles.h"
#include "base/Text.h"

#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

constexpr long long kUnknown = -1;
constexpr long long kMegabyte = 1024 * 1024;

// ---- Where each figure comes from ----
//
// Every figure is read the way Windows offers it first. Where the system answers with
// nothing (Wine 8 reports 0 from GetProcessHandleCount, GetGuiResources and PrivateUsage for
// another process), the soak takes the next source in line that gives a plausible value,
// once, and keeps it for the whole run: mixing sources would make the growth meaningless.

enum Measure { kHandles, kGdi, kUser, kPrivate, kLinuxFiles, kLinuxResident, kMeasures };

using Figures = std::array<long long, kMeasures>;

struct MeasureRule {
    const char* name;
    bool bytes;
    // The growth allowed over a run of `minutes`: noise + rate * minutes, or none when
    // negative (shown, not judged).
    double noise;
    double ratePerMinute;
};

// What a measure may grow by before it counts as a leak.
// - Counts (handles, GDI, USER, open files): the program holds some objects only while a
//   pass runs or the list paints (a module snapshot, a DC and its brushes), up to five at a
//   time as seen here. A sample is the least of several reads, which drops most of them,
//   yet a pass of the program's own timer may span all the reads: noise 5. On top of that
//   0.5 a minute, 10 in all over 10 minutes. With one press a second (600 in 10 minutes),
//   an object lost on every press would show as +600, one lost every 50 presses as +12: a
//   leak tied to the presses or the passes goes beyond the limit, a one-off cache filled
//   late does not.
// - Private bytes: the heap is committed and given back in blocks of tens of kilobytes to
//   a megabyte, so 1 MB is noise; 0.1 MB a minute on top, 2 MB in all over 10 minutes.
//   One pass allocates a few kilobytes in all (module paths, version blocks, row texts);
//   losing even 4 KB on every press would show as +2.4 MB.
// - Resident memory follows the system's paging as much as the program: shown only.
const MeasureRule kRules[kMeasures] = {
    {"handles", false, 5, 0.5},
    {"GDI objects", false, 5, 0.5},
    {"USER objects", false, 5, 0.5},
    {"private bytes", true, 1.0 * kMegabyte, 0.1 * kMegabyte},
    {"open files (Linux)", false, 5, 0.5},
    {"resident (Linux)", true, -1, 0},
};

double Limit(Measure measure, double minutes) {
    const MeasureRule& rule = kRules[measure];
    return rule.noise < 0 ? -1 : rule.noise + rule.ratePerMinute * minutes;
}

std::string Format(Measure measure, long long value, bool sign = false) {
    if (value == kUnknown && !sign)
        return "n/a";
    char text[64];
    if (kRules[measure].bytes) {
        std::snprintf(text, sizeof(text), sign ? "%+.2f MB" : "%.2f MB",
                      static_cast<double>(value) / kMegabyte);
    } else {
        std::snprintf(text, sizeof(text), sign ? "%+lld" : "%lld", value);
    }
    return text;
}

// ---- The Linux side of a process under Wine (drive Z: is the Linux root) ----

bool AllDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The Linux process that runs the program copied to `programPath`, found by the folder's
// name and the program's name on its command line; empty when there is none (on Windows).
std::string LinuxProcessOf(const std::string& programPath) {
    const std::string folder = base::DirectoryOf(programPath);
    const std::string wanted =
        base::ToLowerAscii(base::FileNameOf(folder.substr(0, folder.size() - 1)));
    const std::string program = base::ToLowerAscii(base::FileNameOf(programPath));
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA("Z:\\proc\\*", &data));
    if (!find)
        return std::string();
    std::string found;
    do {
        const std::string pid = data.cFileName;
        if (!AllDigits(pid))
            continue;
        const std::string commandLine =
            base::ToLowerAscii(ReadFileBytes("Z:\\proc\\" + pid + "\\cmdline"));
        if (commandLine.find(wanted) != std::string::npos &&
            commandLine.find(program) != std::string::npos) {
            if (!found.empty())
                return std::string(); // two candidates: trust neither
            found = pid;
        }
    } while (::FindNextFileA(find.get(), &data));
    return found;
}

// A folder name that no other run on this machine uses, not even one under another Wine
// prefix, where process ids start over: the program's Linux process is found by it.
std::string UniqueName(const char* stem) {
    LARGE_INTEGER counter = {};
    ::QueryPerformanceCounter(&counter);
    return std::string(stem) + "-" + std::to_string(counter.QuadPart);
}

// A "Name:   1234 kB" line of /proc/<pid>/status, in bytes.
long long LinuxStatusBytes(const std::string& pid, const char* name) {
    const std::string status = ReadFileBytes("Z:\\proc\\" + pid + "\\status");
    const std::string key = std::string("\n") + name + ":";
    const auto at = status.find(key);
    if (at == std::string::npos)
        return kUnknown;
    return std::atoll(status.c_str() + at + key.size()) * 1024;
}

long long LinuxOpenFiles(const std::string& pid) {
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA(("Z:\\proc\\" + pid + "\\fd\\*").c_str(), &data));
    if (!find)
        return kUnknown;
    long long count = 0;
    do {
        count += AllDigits(data.cFileName);
    } while (::FindNextFileA(find.get(), &data));
    return count;
}

// ---- What the system keeps about another process ----

// One entry of the system's handle list (SystemExtendedHandleInformation).
struct HandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};
struct HandleList {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};
constexpr ULONG kExtendedHandleInformation = 64;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

using QuerySystemInformation = NTSTATUS(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
using QueryProcessInformation = NTSTATUS(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

template <class Function> Function NtdllFunction(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), name)));
}

// The handles the process `pid` holds, from the system's list of every process's handles.
long long SystemHandleCount(DWORD pid) {
    static const auto query = NtdllFunction<QuerySystemInformation>("NtQuerySystemInformation");
    if (!query)
        return kUnknown;
    std::vector<char> buffer(1 << 20);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status = query(kExtendedHandleInformation, buffer.data(),
                                      static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 65536));
            continue;
        }
        if (status < 0)
            return kUnknown;
        const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
        long long count = 0;
        for (ULONG_PTR i = 0; i < list->count; ++i)
            count += list->entries[i].processId == pid;
        return count;
    }
    return kUnknown;
}

// The GDI objects of a process, counted in its GDI handle table, to which its PEB points
// (GdiSharedHandleTable). Under Wine each process has a table of its own, of 24-byte
// entries in both bitnesses: the object's type in byte 14 (0 for a free entry), the stock
// flag in the top bit of byte 12. Stock objects are the system's, not the program's, and
// GetGuiResources leaves them out too.
constexpr size_t kGdiEntrySize = 24;
constexpr size_t kGdiEntries = 65536;
#ifdef _WIN64
constexpr size_t kPebGdiTable = 0xF8;
#else
constexpr size_t kPebGdiTable = 0x94;
#endif

// The address of a process's GDI handle table, or null.
void* GdiTableAddress(HANDLE process) {
    static const auto query = NtdllFunction<QueryProcessInformation>("NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) < 0 ||
        !basic.PebBaseAddress)
        return nullptr;
    const char* peb = reinterpret_cast<const char*>(basic.PebBaseAddress);
    void* table = nullptr;
    SIZE_T got = 0;
    if (::ReadProcessMemory(process, peb + kPebGdiTable, &table, sizeof(table), &got) && table)
        return table;
#ifndef _WIN64
    // A 32-bit process on a 64-bit system has a 64-bit PEB too, in the page before its own,
    // and Wine notes the table there only.
    ULONGLONG table64 = 0;
    if (::ReadProcessMemory(process, peb - 0x1000 + 0xF8, &table64, sizeof(table64), &got) &&
        table64 != 0 && table64 <= 0xFFFFFFFFull)
        return reinterpret_cast<void*>(static_cast<UINT_PTR>(table64));
#endif
    return nullptr;
}

long long GdiTableCount(HANDLE process) {
    void* table = GdiTableAddress(process);
    if (!table)
        return kUnknown;
    SIZE_T got = 0;
    MEMORY_BASIC_INFORMATION region = {};
    if (!::VirtualQueryEx(process, table, &region, sizeof(region)) || region.State != MEM_COMMIT)
        return kUnknown;
    const size_t room = static_cast<const char*>(region.BaseAddress) + region.RegionSize -
                        static_cast<const char*>(table);
    std::vector<unsigned char> entries(std::min(room, kGdiEntries * kGdiEntrySize));
    if (!::ReadProcessMemory(process, table, entries.data(), entries.size(), &got) ||
        got != entries.size())
        return kUnknown;
    long long count = 0;
    for (size_t at = 0; at + kGdiEntrySize <= entries.size(); at += kGdiEntrySize)
        count += entries[at + 14] != 0 && (entries[at + 12] & 0x80) == 0;
    return count;
}

// Whether GdiTableCount counts right, tried on this process: brushes made and deleted here
// must show one for one. Guards against a table laid out otherwise than expected.
bool GdiTableCountWorks() {
    const long long before = GdiTableCount(::GetCurrentProcess());
    if (before == kUnknown)
        return false;
    std::vector<HBRUSH> brushes;
    for (int i = 0; i < 8; ++i)
        brushes.push_back(::CreateSolidBrush(RGB(i, 2 * i, 3 * i)));
    const long long with = GdiTableCount(::GetCurrentProcess());
    for (HBRUSH brush : brushes)
        ::DeleteObject(brush);
    const long long after = GdiTableCount(::GetCurrentProcess());
    return with == before + 8 && after == before;
}

struct WindowCount {
    DWORD pid;
    long long count;
};

BOOL CALLBACK CountChild(HWND, LPARAM context) {
    ++reinterpret_cast<WindowCount*>(context)->count;
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM context) {
    auto* windows = reinterpret_cast<WindowCount*>(context);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid == windows->pid) {
        ++windows->count;
        ::EnumChildWindows(hwnd, CountChild, context);
    }
    return TRUE;
}

// The windows of a process, top-level (shown or not) and their descendants: the USER
// objects that can be seen from outside.
long long WindowsOf(DWORD pid) {
    WindowCount windows{pid, 0};
    ::EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&windows));
    return windows.count;
}

// ---- The sampler: sources chosen once, then read the same way every time ----

class Sampler {
public:
    Sampler(HANDLE process, DWORD pid, std::string linuxPid)
        : process_(process), pid_(pid), linuxPid_(std::move(linuxPid)) {}

    // Tries the sources of each measure in turn and keeps the first that gives a value.
    void ChooseSources() {
        DWORD handles = 0;
        const BOOL handleCount = ::GetProcessHandleCount(process_, &handles);
        std::printf("what the system reports of the program: GetProcessHandleCount %s %lu, "
                    "GetGuiResources GDI %lu USER %lu, PrivateUsage %lld; Linux process %s\n",
                    handleCount ? "ok" : "failed", handles,
                    ::GetGuiResources(process_, GR_GDIOBJECTS),
                    ::GetGuiResources(process_, GR_USEROBJECTS), PrivateUsage(),
                    linuxPid_.empty() ? "none" : linuxPid_.c_str());
        if (handleCount && handles > 0)
            sources_[kHandles] = Source::kSystem;
        else if (SystemHandleCount(pid_) > 0)
            sources_[kHandles] = Source::kSecondary;
        else if (!linuxPid_.empty())
            sources_[kHandles] = Source::kLinux;

        if (::GetGuiResources(process_, GR_GDIOBJECTS) > 0)
            sources_[kGdi] = Source::kSystem;
        else if (GdiTableCountWorks() && GdiTableCount(process_) > 0)
            sources_[kGdi] = Source::kSecondary;

        if (::GetGuiResources(process_, GR_USEROBJECTS) > 0)
            sources_[kUser] = Source::kSystem;
        else if (WindowsOf(pid_) > 0)
            sources_[kUser] = Source::kSecondary;

        // A program with a window has megabytes of private memory; a figure below one
        // megabyte is not its private bytes (Wine reports 0 for another process).
        if (PrivateUsage() >= kMegabyte)
            sources_[kPrivate] = Source::kSystem;
        else if (!linuxPid_.empty())
            sources_[kPrivate] = Source::kLinux;

        if (!linuxPid_.empty()) {
            sources_[kLinuxFiles] = Source::kLinux;
            sources_[kLinuxResident] = Source::kLinux;
        }
    }

    std::string SourceOf(Measure measure) const {
        switch (measure) {
        case kHandles:
            return sources_[kHandles] == Source::kSystem      ? "GetProcessHandleCount"
                   : sources_[kHandles] == Source::kSecondary ? "system handle list"
                   : sources_[kHandles] == Source::kLinux     ? "/proc/" + linuxPid_ + "/fd"
                                                              : "none";
        case kGdi:
            return sources_[kGdi] == Source::kSystem      ? "GetGuiResources"
                   : sources_[kGdi] == Source::kSecondary ? "the process's GDI table"
                                                          : "none";
        case kUser:
            return sources_[kUser] == Source::kSystem      ? "GetGuiResources"
                   : sources_[kUser] == Source::kSecondary ? "windows of the process"
                                                           : "none";
        case kPrivate:
            return sources_[kPrivate] == Source::kSystem  ? "PrivateUsage"
                   : sources_[kPrivate] == Source::kLinux ? "/proc/" + linuxPid_ + " VmData"
                                                          : "none";
        case kLinuxFiles:
            return sources_[kLinuxFiles] == Source::kLinux ? "/proc/" + linuxPid_ + "/fd" : "none";
        case kLinuxResident:
            return sources_[kLinuxResident] == Source::kLinux ? "/proc/" + linuxPid_ + " VmRSS"
                                                              : "none";
        default:
            return "none";
        }
    }

    // What the program holds for good. It holds some objects only for a moment (a DC and
    // brushes while the list paints, a module snapshot while a pass runs); a leaked one
    // stays. So each figure is the least of a few reads spread over a third of a second,
    // between two presses.
    Figures Sample() const {
        Figures least = ReadOnce();
        for (int read = 1; read < 5; ++read) {
            ::Sleep(80);
            const Figures figures = ReadOnce();
            for (int m = 0; m < kMeasures; ++m) {
                if (least[m] == kUnknown || (figures[m] != kUnknown && figures[m] < least[m]))
                    least[m] = figures[m];
            }
        }
        return least;
    }

private:
    enum class Source { kNone, kSystem, kSecondary, kLinux };

    Figures ReadOnce() const {
        Figures figures;
        figures.fill(kUnknown);
        switch (sources_[kHandles]) {
        case Source::kSystem: {
            DWORD handles = 0;
            if (::GetProcessHandleCount(process_, &handles))
                figures[kHandles] = handles;
            break;
        }
        case Source::kSecondary:
            figures[kHandles] = SystemHandleCount(pid_);
            break;
        case Source::kLinux:
            figures[kHandles] = LinuxOpenFiles(linuxPid_);
            break;
        case Source::kNone:
            break;
        }
        if (sources_[kGdi] == Source::kSystem)
            figures[kGdi] = ::GetGuiResources(process_, GR_GDIOBJECTS);
        else if (sources_[kGdi] == Source::kSecondary)
            figures[kGdi] = GdiTableCount(process_);
        if (sources_[kUser] == Source::kSystem)
            figures[kUser] = ::GetGuiResources(process_, GR_USEROBJECTS);
        else if (sources_[kUser] == Source::kSecondary)
            figures[kUser] = WindowsOf(pid_);
        if (sources_[kPrivate] == Source::kSystem)
            figures[kPrivate] = PrivateUsage();
        else if (sources_[kPrivate] == Source::kLinux)
            figures[kPrivate] = LinuxStatusBytes(linuxPid_, "VmData");
        if (sources_[kLinuxFiles] == Source::kLinux)
            figures[kLinuxFiles] = LinuxOpenFiles(linuxPid_);
        if (sources_[kLinuxResident] == Source::kLinux)
            figures[kLinuxResident] = LinuxStatusBytes(linuxPid_, "VmRSS");
        return figures;
    }

    long long PrivateUsage() const {
        PROCESS_MEMORY_COUNTERS_EX counters = {};
        counters.cb = sizeof(counters);
        if (!::GetProcessMemoryInfo(process_, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                    sizeof(counters)))
            return kUnknown;
        return static_cast<long long>(counters.PrivateUsage);
    }

    HANDLE process_;
    DWORD pid_;
    std::string linuxPid_;
    Source sources_[kMeasures] = {};
};

// ---- The run ----

bool SamePath(const std::string& a, const std::string& b) {
    return base::ToLowerAscii(a) == base::ToLowerAscii(b);
}

// What the list shows when it is right: the keylogger's row, once, and nothing else.
std::string CheckRows(HWND list, const std::string& hook) {
    const auto rows = ReadRows(list);
    if (rows.size() == 1 && SamePath(rows[0].texts[0], hook))
        return std::string();
    std::string shown = std::to_string(rows.size()) + " rows:";
    for (const auto& row : rows)
        shown += " [" + row.texts[0] + "|" + row.texts[1] + "]";
    return shown;
}

struct TimedFigures {
    double minute;
    Figures figures;
};

void PrintHeading() {
    std::printf("%8s", "minute");
    for (int m = 0; m < kMeasures; ++m)
        std::printf(" %19s", kRules[m].name);
    std::printf("\n");
}

void PrintSample(const TimedFigures& sample) {
    std::printf("%8.2f", sample.minute);
    for (int m = 0; m < kMeasures; ++m)
        std::printf(" %19s", Format(static_cast<Measure>(m), sample.figures[m]).c_str());
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (!(minutes > 0)) {
        std::fprintf(stderr, "usage: soak [minutes]\n");
        return 2;
    }
    const char* bitness = sizeof(void*) == 8 ? "x64" : "x86";
    const int measuredClicks = static_cast<int>(minutes * 60 + 0.5);
    // The first presses fill what the program keeps for good (the heap's first blocks, the
    // version reader's buffers, caches of the system's libraries): measured from after them.
    const int warmUpClicks = std::max(15, measuredClicks / 20);
    constexpr int kSamples = 5;    // intervals between start and end
    constexpr int kCheckEvery = 5; // presses between two reads of the list

    ScratchFolder folder(UniqueName("snoopsweep-soak"));
    ScratchFolder spies("soak-spy");
    const std::string hook = spies.Path() + "soakhook.dll";
    if (!::CopyFileA(FixtureDll("kbhook_plain.dll").c_str(), hook.c_str(), FALSE) ||
        !AgeFile(hook, 40)) {
        std::fprintf(stderr, "could not plant %s\n", hook.c_str());
        return 1;
    }
    TestKeylogger keylogger;
    if (!keylogger.Install(hook)) {
        std::fprintf(stderr, "the keylogger's hook was not installed\n");
        return 1;
    }
    Program program(folder.Path());
    if (!program.Launch()) {
        std::fprintf(stderr, "Snoopsweep did not start\n");
        return 1;
    }
    const HWND dialog = program.Dialog();
    const HWND list = program.Control(IDC_THREAT_LIST);
    const HWND analyse = program.Control(IDC_ANALYSE);
    if (!WaitFor([&] { return CheckRows(list, hook).empty(); }, 60000)) {
        std::fprintf(stderr, "the keylogger was not listed within 60 s: %s\n",
                     CheckRows(list, hook).c_str());
        return 1;
    }

    Sampler sampler(program.Process().Handle(), program.Process().Pid(),
                    LinuxProcessOf(program.Path()));
    std::vector<TimedFigures> samples;
    int reactivations = 0;
    int checks = 0;
    int nextSample = 0; // of kSamples + 1, the first at the end of the warm-up
    std::vector<std::string> faults;

    const int totalClicks = warmUpClicks + measuredClicks;
    const ULONGLONG startTicks = ::GetTickCount64();
    for (int click = 1; click <= totalClicks; ++click) {
        // One press a second, on the second.
        const ULONGLONG due = startTicks + static_cast<ULONGLONG>(click) * 1000;
        const ULONGLONG now = ::GetTickCount64();
        if (due > now)
            ::Sleep(static_cast<DWORD>(due - now));
        if (!program.Process().Running()) {
            faults.push_back("Snoopsweep ended after " + std::to_string(click - 1) + " presses");
            break;
        }
        // The window stays active: the program presses F11 into itself only then.
        bool active = ::GetForegroundWindow() == dialog;
        if (!active) {
            ++reactivations;
            ::SetForegroundWindow(dialog);
            active = WaitFor([&] { return ::GetForegroundWindow() == dialog; }, 5000);
            if (!active && faults.size() < 10)
                faults.push_back("before press " + std::to_string(click) +
                                 " the window could not be made active again");
        }
        DWORD_PTR result = 0;
        if (!::SendMessageTimeoutA(analyse, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kWaitLimitMs,
                                   &result)) {
            faults.push_back("press " + std::to_string(click) + " was not answered within " +
                             std::to_string(kWaitLimitMs / 1000) + " s");
            break;
        }
        // The press rebuilt the list before it returned: the remembered entries (none), then
        // a pass over the modules, in which the keylogger is found again. Read only after a
        // press made with the window active throughout: an inactive tick may skip the pass.
        if (click % kCheckEvery == 0 && active && ::GetForegroundWindow() == dialog) {
            ++checks;
            const std::string wrong = CheckRows(list, hook);
            if (!wrong.empty() && faults.size() < 10)
                faults.push_back("after press " + std::to_string(click) + " the list shows " +
                                 wrong);
        }
        const int measured = click - warmUpClicks;
        if (measured == nextSample * measuredClicks / kSamples) {
            if (nextSample++ == 0) {
                sampler.ChooseSources();
                PrintHeading();
            }
            samples.push_back({measured / 60.0, sampler.Sample()});
            PrintSample(samples.back());
        }
    }
    if (samples.size() < 2)
        faults.push_back("the run ended before its last sample");

    std::printf("\nSnoopsweep soak, %s: %.1f min measured after a %d s warm-up, one press of "
                "Analizza a second; %d list checks; window re-activated %d times\n",
                bitness, minutes, warmUpClicks, checks, reactivations);
    bool grew = false;
    if (samples.size() >= 2) {
        const Figures& start = samples.front().figures;
        const Figures& end = samples.back().figures;
        std::printf("%-20s %-28s %12s %12s %12s %12s\n", "measure", "source", "start", "end",
                    "growth", "limit");
        for (int m = 0; m < kMeasures; ++m) {
            const auto measure = static_cast<Measure>(m);
            const bool known = start[m] != kUnknown && end[m] != kUnknown;
            const long long growth = known ? end[m] - start[m] : kUnknown;
            const double limit = Limit(measure, minutes);
            const bool over = known && limit >= 0 && static_cast<double>(growth) > limit;
            grew = grew || over;
            // What the program holds must be measured; the Linux figures exist only there.
            if (!known && m < kLinuxFiles)
                faults.push_back(std::string("no source gave the ") + kRules[m].name);
            std::printf("%-20s %-28s %12s %12s %12s %12s%s\n", kRules[m].name,
                        sampler.SourceOf(measure).c_str(), Format(measure, start[m]).c_str(),
                        Format(measure, end[m]).c_str(),
                        known ? Format(measure, growth, true).c_str() : "n/a",
                        limit < 0 ? "shown only"
                                  : Format(measure, static_cast<long long>(limit), true).c_str(),
                        over ? "  GREW" : "");
        }
    }
    for (const auto& fault : faults)
        std::fprintf(stderr, "FAULT: %s\n", fault.c_str());
    const bool passed = faults.empty() && !grew;
    std::printf("%s: %s\n", bitness, passed ? "no growth beyond noise" : "FAILED");
    // Closed the way the user closes it, so that it ends by itself; ended by its handle if not.
    PostClick(program.Control(IDOK));
    program.Process().WaitForExit();
    return passed ? 0 : 1;
}
