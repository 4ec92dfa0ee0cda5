#include "detect/Win32WakeCounters.h"

#include "detect/WineProcessMap.h"
#include "ui/Handles.h"
#include "ui/Lock.h"
#include "ui/WideText.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <utility>

namespace detect {

namespace {

std::string Utf8(const std::wstring& text) {
    const int length = static_cast<int>(text.size());
    const int size = text.empty() ? 0
                                  : ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr,
                                                          0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string utf8(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &utf8[0], size, nullptr, nullptr);
    return utf8;
}

// The full path of a process's program file; empty when it cannot be read. Other programs'
// paths come in UTF-16: they need not fit the program's code page.
std::wstring ProcessImage(DWORD pid) {
    ui::Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process)
        return {};
    std::wstring path(32768, L'\0');
    DWORD length = static_cast<DWORD>(path.size());
    if (!::QueryFullProcessImageNameW(process.get(), 0, &path[0], &length))
        return {};
    path.resize(length);
    return path;
}

std::string AnsiPath(const std::wstring& path) {
    return ui::Narrow(path.data(), static_cast<int>(path.size()));
}

// ---- Under Wine ----

// /proc through Wine's file system: Wine's own name for the Linux root, or the drive Z:
// where that does not list /proc. The Wine server opens the files: /proc/self is the server.
class WineProcFiles : public ProcFiles {
public:
    WineProcFiles() {
        for (const wchar_t* root : {L"\\\\?\\unix", L"Z:"}) {
            WIN32_FIND_DATAW found;
            ui::FindHandle find(
                ::FindFirstFileW((std::wstring(root) + L"\\proc\\*").c_str(), &found));
            if (find) {
                root_ = root;
                return;
            }
        }
    }

    std::vector<uint32_t> Numbers(const std::string& folder) override {
        std::vector<uint32_t> numbers;
        WIN32_FIND_DATAW found;
        ui::FindHandle find(::FindFirstFileW(WindowsPath(folder + "/*").c_str(), &found));
        if (!find)
            return numbers;
        do {
            uint64_t value = 0;
            const wchar_t* name = found.cFileName;
            for (; *name >= L'0' && *name <= L'9' && value <= UINT32_MAX; ++name)
                value = value * 10 + static_cast<uint64_t>(*name - L'0');
            if (name != found.cFileName && *name == L'\0' && value <= UINT32_MAX)
                numbers.push_back(static_cast<uint32_t>(value));
        } while (::FindNextFileW(find.get(), &found));
        return numbers;
    }

    // The files report no size: read until there is no more.
    bool Read(const std::string& path, std::string& bytes) override {
        bytes.clear();
        ui::FileHandle file(::CreateFileW(WindowsPath(path).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file)
            return false;
        char buffer[4096];
        while (bytes.size() < kMaxProcFile) {
            DWORD got = 0;
            const DWORD room =
                static_cast<DWORD>(std::min(sizeof(buffer), kMaxProcFile - bytes.size()));
            if (!::ReadFile(file.get(), buffer, room, &got, nullptr))
                return false;
            if (got == 0)
                break;
            bytes.append(buffer, got);
        }
        return true;
    }

private:
    std::wstring WindowsPath(const std::string& path) const {
        std::wstring windows = root_;
        for (char c : path)
            windows += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
        return windows;
    }

    std::wstring root_ = L"\\\\?\\unix";
};

// The program's WINEPREFIX as Linux spells it: Wine hands the Linux environment on.
std::string OwnPrefix() {
    const DWORD size = ::GetEnvironmentVariableW(L"WINEPREFIX", nullptr, 0);
    if (size == 0)
        return {};
    std::wstring prefix(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(L"WINEPREFIX", &prefix[0], size);
    if (length == 0 || length >= size)
        return {};
    prefix.resize(length);
    return Utf8(prefix);
}

// Windows processes are watched through their Linux processes: a Linux thread's id is the
// thread's id here, its write calls the count.
class WineSource : public WakeCounterSource {
public:
    WineSource() : map_(files_, OwnPrefix()) {}

    void Refresh(const std::vector<uint32_t>& skip) override;
    std::vector<ThreadWakes> Snapshot() override;
    std::vector<ThreadWakes> Read(const std::vector<ThreadWakes>& threads) override;
    unsigned CounterBits() const override { return 64; }
    std::string ImagePath(uint32_t process) override;

private:
    struct Watched {
        uint32_t pid = 0; // the Linux process
        std::string imagePath;
    };
    using WatchedMap = std::map<uint32_t, Watched>;

    // The processes watched since the last Refresh; Read takes them from any thread.
    std::shared_ptr<const WatchedMap> Current() {
        ui::SharedLock shared(lock_);
        return watched_;
    }

    WineProcFiles files_;
    SRWLOCK refreshing_ = SRWLOCK_INIT; // one Refresh at a time works on the map
    WineProcessMap map_;
    SRWLOCK lock_ = SRWLOCK_INIT; // for watched_
    std::shared_ptr<const WatchedMap> watched_ = std::make_shared<WatchedMap>();
};

void WineSource::Refresh(const std::vector<uint32_t>& skip) {
    ui::ExclusiveLock one(refreshing_);
    // The program itself and the skipped ones are mapped too, so that they take their own
    // Linux processes rather than leave them to another process of the same program file.
    std::vector<WindowsProcess> processes;
    std::map<uint32_t, std::string> paths;
    ui::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot) {
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
             more = ::Process32NextW(snapshot.get(), &entry)) {
            const std::wstring image = ProcessImage(entry.th32ProcessID);
            processes.push_back({entry.th32ProcessID, Utf8(image), entry.cntThreads});
            paths[entry.th32ProcessID] = AnsiPath(image);
        }
    }
    map_.Refresh(processes);

    auto watched = std::make_shared<WatchedMap>();
    const std::set<uint32_t> skipped(skip.begin(), skip.end());
    for (const auto& process : map_.Pids()) {
        if (process.first != ::GetCurrentProcessId() && !skipped.count(process.first))
            (*watched)[process.first] = {process.second, paths[process.first]};
    }
    ui::ExclusiveLock publish(lock_);
    watched_ = std::move(watched);
}

std::vector<ThreadWakes> WineSource::Snapshot() {
    const auto watched = Current();
    std::vector<ThreadWakes> threads;
    for (const auto& process : *watched)
        AppendThreadWakes(files_, process.first, process.second.pid, threads);
    return threads;
}

std::vector<ThreadWakes> WineSource::Read(const std::vector<ThreadWakes>& threads) {
    const auto watched = Current();
    std::vector<ThreadWakes> counts;
    counts.reserve(threads.size());
    for (const ThreadWakes& thread : threads) {
        const auto process = watched->find(thread.process);
        if (process == watched->end() || thread.thread > UINT32_MAX)
            continue;
        if (const auto count =
                ReadWakes(files_, process->second.pid, static_cast<uint32_t>(thread.thread)))
            counts.push_back({thread.process, thread.thread, *count});
    }
    return counts;
}

std::string WineSource::ImagePath(uint32_t process) {
    const auto watched = Current();
    const auto found = watched->find(process);
    return found == watched->end() ? std::string() : found->second.imagePath;
}

// ---- On Windows ----

using QuerySystemInformationFn = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemProcessInformation = 5;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
// The most room the process list is given; it needs some hundred kilobytes.
constexpr ULONG kMaxListBytes = 64 * 1024 * 1024;

// The system's records (SYSTEM_THREAD_INFORMATION, SYSTEM_PROCESS_INFORMATION), as laid out
// for the program's own bitness.
struct ThreadRecord {
    LARGE_INTEGER kernelTime;
    LARGE_INTEGER userTime;
    LARGE_INTEGER createTime;
    ULONG waitTime;
    PVOID startAddress;
    HANDLE uniqueProcess;
    HANDLE uniqueThread;
    LONG priority;
    LONG basePriority;
    ULONG contextSwitches;
    ULONG threadState;
    ULONG waitReason;
};

struct ProcessRecord {
    ULONG nextEntryOffset;
    ULONG numberOfThreads;
    LARGE_INTEGER workingSetPrivateSize;
    ULONG hardFaultCount;
    ULONG numberOfThreadsHighWatermark;
    ULONGLONG cycleTime;
    LARGE_INTEGER createTime;
    LARGE_INTEGER userTime;
    LARGE_INTEGER kernelTime;
    USHORT imageNameLength;
    USHORT imageNameMaximumLength;
    PWSTR imageNameBuffer;
    LONG basePriority;
    HANDLE uniqueProcessId;
    HANDLE inheritedFromUniqueProcessId;
    ULONG handleCount;
    ULONG reserved;
    ULONG_PTR uniqueProcessKey;
    SIZE_T peakVirtualSize;
    SIZE_T virtualSize;
    ULONG pageFaultCount;
    SIZE_T peakWorkingSetSize;
    SIZE_T workingSetSize;
    SIZE_T quotaPeakPagedPoolUsage;
    SIZE_T quotaPagedPoolUsage;
    SIZE_T quotaPeakNonPagedPoolUsage;
    SIZE_T quotaNonPagedPoolUsage;
    SIZE_T pagefileUsage;
    SIZE_T peakPagefileUsage;
    SIZE_T privatePageCount;
    LARGE_INTEGER readOperationCount;
    LARGE_INTEGER writeOperationCount;
    LARGE_INTEGER otherOperationCount;
    LARGE_INTEGER readTransferCount;
    LARGE_INTEGER writeTransferCount;
    LARGE_INTEGER otherTransferCount;
    // The threads' records follow.
};

constexpr bool kWide = sizeof(void*) == 8;
static_assert(sizeof(ThreadRecord) == (kWide ? 0x50 : 0x40), "SYSTEM_THREAD_INFORMATION");
static_assert(offsetof(ThreadRecord, contextSwitches) == (kWide ? 0x40 : 0x30), "ContextSwitches");
static_assert(offsetof(ProcessRecord, uniqueProcessId) == (kWide ? 0x50 : 0x44), "UniqueProcessId");
static_assert(sizeof(ProcessRecord) == (kWide ? 0x100 : 0xB8), "SYSTEM_PROCESS_INFORMATION");

// Each thread's context switches, from the system's process list.
class WindowsSource : public WakeCounterSource {
public:
    explicit WindowsSource(QuerySystemInformationFn query) : query_(query) {}

    void Refresh(const std::vector<uint32_t>& skip) override {
        ui::ExclusiveLock exclusive(lock_);
        skip_.clear();
        skip_.insert(skip.begin(), skip.end());
    }
    std::vector<ThreadWakes> Snapshot() override;
    std::vector<ThreadWakes> Read(const std::vector<ThreadWakes>& threads) override;
    unsigned CounterBits() const override { return 32; }
    std::string ImagePath(uint32_t process) override { return AnsiPath(ProcessImage(process)); }

private:
    // Calls `each(process, threads, count)` for each process of the system's list, with its
    // threads' records; for none when the list could not be had.
    template <class Each> void ForEachProcess(Each each);

    QuerySystemInformationFn query_;
    std::atomic<ULONG> roomBytes_{256 * 1024}; // the room the last list took
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::set<uint32_t> skip_;
};

template <class Each> void WindowsSource::ForEachProcess(Each each) {
    if (!query_)
        return;
    std::vector<ULONGLONG> buffer; // aligned for the records
    ULONG room = roomBytes_.load();
    ULONG size = 0;
    for (int attempt = 0;; ++attempt) {
        buffer.resize(room / sizeof(ULONGLONG) + 1);
        ULONG needed = 0;
        const LONG status = query_(kSystemProcessInformation, buffer.data(), room, &needed);
        if (status >= 0) {
            size = needed > 0 && needed < room ? needed : room;
            break;
        }
        // The list grows between the calls: room to spare beyond what it needed.
        if (status != kInfoLengthMismatch || attempt == 5 || room >= kMaxListBytes)
            return;
        room = static_cast<ULONG>(
            std::min<ULONGLONG>(kMaxListBytes, ULONGLONG{std::max(needed, room)} * 5 / 4 + 4096));
    }
    roomBytes_ = room;
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (size_t offset = 0; offset + sizeof(ProcessRecord) <= size;) {
        const auto* process = reinterpret_cast<const ProcessRecord*>(bytes + offset);
        const size_t fit = (size - offset - sizeof(ProcessRecord)) / sizeof(ThreadRecord);
        const auto* threads = reinterpret_cast<const ThreadRecord*>(process + 1);
        each(static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(process->uniqueProcessId)), threads,
             std::min<size_t>(process->numberOfThreads, fit));
        if (process->nextEntryOffset == 0)
            break;
        offset += process->nextEntryOffset;
    }
}

uint64_t ThreadId(const ThreadRecord& thread) {
    return reinterpret_cast<ULONG_PTR>(thread.uniqueThread);
}

std::vector<ThreadWakes> WindowsSource::Snapshot() {
    std::set<uint32_t> skip;
    {
        ui::SharedLock shared(lock_);
        skip = skip_;
    }
    const uint32_t self = ::GetCurrentProcessId();
    std::vector<ThreadWakes> counts;
    ForEachProcess([&](uint32_t process, const ThreadRecord* threads, size_t count) {
        // Process 0 is the processors' idle time, not a program.
        if (process == 0 || process == self || skip.count(process))
            return;
        for (size_t i = 0; i < count; ++i)
            counts.push_back({process, ThreadId(threads[i]), threads[i].contextSwitches});
    });
    return counts;
}

std::vector<ThreadWakes> WindowsSource::Read(const std::vector<ThreadWakes>& threads) {
    std::set<std::pair<uint32_t, uint64_t>> wanted;
    for (const ThreadWakes& thread : threads)
        wanted.insert({thread.process, thread.thread});
    std::vector<ThreadWakes> counts;
    ForEachProcess([&](uint32_t process, const ThreadRecord* records, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (wanted.count({process, ThreadId(records[i])}))
                counts.push_back({process, ThreadId(records[i]), records[i].contextSwitches});
        }
    });
    return counts;
}

} // namespace

bool RunsUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::unique_ptr<WakeCounterSource> MakeWindowsWakeCounterSource() {
    // Through a plain function pointer type, as GetProcAddress's result has no real type.
    const auto query = reinterpret_cast<QuerySystemInformationFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    return std::make_unique<WindowsSource>(query);
}

std::unique_ptr<WakeCounterSource> MakeWakeCounterSource() {
    if (RunsUnderWine())
        return std::make_unique<WineSource>();
    return MakeWindowsWakeCounterSource();
}

} // namespace detect
