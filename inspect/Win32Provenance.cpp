#include "inspect/Win32Provenance.h"

#include "base/Text.h"
#include "inspect/Autostart.h"
#include "ui/Handles.h"
#include "ui/WideText.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <set>
#include <utility>

namespace inspect {

namespace {

BOOL CALLBACK NoteVisibleOwner(HWND window, LPARAM found) {
    if (::IsWindowVisible(window)) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        reinterpret_cast<std::set<DWORD>*>(found)->insert(pid);
    }
    return TRUE;
}

// The processes that own a visible top-level window, or the desktop.
std::set<DWORD> ProcessesWithVisibleWindows() {
    std::set<DWORD> owners;
    ::EnumWindows(NoteVisibleOwner, reinterpret_cast<LPARAM>(&owners));
    // The user's shell shows the desktop and the taskbar even where they are not top-level
    // windows of their own.
    for (HWND shown : {::GetShellWindow(), ::GetDesktopWindow()}) {
        DWORD pid = 0;
        if (shown && ::IsWindowVisible(shown) && ::GetWindowThreadProcessId(shown, &pid))
            owners.insert(pid);
    }
    return owners;
}

bool IsWanted(const char* modulePath, const std::vector<std::string>& wanted) {
    const std::string path = base::ToLowerAscii(modulePath);
    return std::find(wanted.begin(), wanted.end(), path) != wanted.end();
}

// The names wanted, as a process's loader keeps them: UTF-16, lower case.
std::vector<std::wstring> WideForms(const std::vector<std::string>& forms) {
    std::vector<std::wstring> wide;
    for (const std::string& form : forms) {
        std::wstring text = ui::Widen(form);
        if (text.empty())
            continue;
        ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
        wide.push_back(text);
    }
    return wide;
}

template <class T> bool ReadRemote(HANDLE process, const void* address, T* value) {
    SIZE_T read = 0;
    return ::ReadProcessMemory(process, address, value, sizeof(T), &read) && read == sizeof(T);
}

bool SameBitness(HANDLE process) {
    static const BOOL selfWow64 = [] {
        BOOL wow64 = FALSE;
        return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
    }();
    BOOL otherWow64 = FALSE;
    return ::IsWow64Process(process, &otherWow64) && selfWow64 == otherWow64;
}

// Through the process's own list of loaded modules, read from its memory: one read a module,
// and the name read only where its length is that of a wanted one. Much quicker than the
// system's walks, which read every name; only for a process of this program's bitness. None
// when the list cannot be read.
std::optional<bool> HoldsByLoaderList(HANDLE process, const std::vector<std::wstring>& wanted) {
    using QueryFn = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    PEB peb;
    PEB_LDR_DATA loader;
    if (!query || !SameBitness(process) ||
        query(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) < 0 ||
        !basic.PebBaseAddress || !ReadRemote(process, basic.PebBaseAddress, &peb) || !peb.Ldr ||
        !ReadRemote(process, peb.Ldr, &loader))
        return std::nullopt;
    const auto* head =
        reinterpret_cast<const char*>(peb.Ldr) + offsetof(PEB_LDR_DATA, InMemoryOrderModuleList);
    const LIST_ENTRY* link = loader.InMemoryOrderModuleList.Flink;
    // A list that never comes back to its head (being changed while read) ends here.
    for (int count = 0; count < 65536; ++count) {
        if (!link || reinterpret_cast<const char*>(link) == head)
            return false;
        LDR_DATA_TABLE_ENTRY entry;
        if (!ReadRemote(process,
                        reinterpret_cast<const char*>(link) -
                            offsetof(LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks),
                        &entry))
            return std::nullopt;
        const size_t length = entry.FullDllName.Length / sizeof(wchar_t);
        for (const std::wstring& name : wanted) {
            if (name.size() != length || !entry.FullDllName.Buffer)
                continue;
            std::wstring text(length, L'\0');
            SIZE_T read = 0;
            if (::ReadProcessMemory(process, entry.FullDllName.Buffer, &text[0],
                                    length * sizeof(wchar_t), &read) &&
                read == length * sizeof(wchar_t)) {
                ::CharLowerBuffW(&text[0], static_cast<DWORD>(length));
                if (text == name)
                    return true;
            }
        }
        link = entry.InMemoryOrderLinks.Flink;
    }
    return std::nullopt;
}

// Through the tool-help functions, which see the modules of processes of this program's
// bitness (and, on 64-bit Windows, the 32-bit ones' too); none when they cannot walk it.
std::optional<bool> HoldsByToolHelp(DWORD pid, const std::vector<std::string>& wanted) {
    ui::FileHandle snapshot(
        ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid));
    if (!snapshot)
        return std::nullopt;
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Module32First(snapshot.get(), &entry); more;
         more = ::Module32Next(snapshot.get(), &entry)) {
        entry.szExePath[MAX_PATH - 1] = '\0';
        if (IsWanted(entry.szExePath, wanted))
            return true;
    }
    return false;
}

// Through the process-status functions, which also list the modules of a process of the
// other bitness where the tool-help walk fails on it.
bool HoldsByPsapi(HANDLE process, const std::vector<std::string>& wanted) {
    DWORD needed = 0;
    std::vector<HMODULE> modules(256);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD size = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        if (!::EnumProcessModulesEx(process, modules.data(), size, &needed, LIST_MODULES_ALL))
            return false;
        if (needed <= size)
            break;
        modules.resize(needed / sizeof(HMODULE) + 16);
    }
    const size_t count = std::min<size_t>(needed / sizeof(HMODULE), modules.size());
    for (size_t i = 0; i < count; ++i) {
        char path[MAX_PATH] = {};
        if (::GetModuleFileNameExA(process, modules[i], path, MAX_PATH) && IsWanted(path, wanted))
            return true;
    }
    return false;
}

std::string ImagePath(HANDLE process) {
    char path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (process && ::QueryFullProcessImageNameA(process, 0, path, &length))
        return std::string(path, length);
    return std::string();
}

// A process of the snapshot as the box shows it.
ProcessInfo Describe(PROCESSENTRY32& entry, std::string imagePath,
                     const std::set<DWORD>& windowed) {
    entry.szExeFile[MAX_PATH - 1] = '\0';
    ProcessInfo info;
    info.pid = entry.th32ProcessID;
    info.imageName = entry.szExeFile;
    info.imagePath = std::move(imagePath);
    info.hasVisibleWindow = windowed.count(entry.th32ProcessID) != 0;
    return info;
}

// By program name, then by pid.
void SortByName(std::vector<ProcessInfo>& processes) {
    std::sort(processes.begin(), processes.end(), [](const ProcessInfo& a, const ProcessInfo& b) {
        const std::string left = base::ToLowerAscii(a.imageName);
        const std::string right = base::ToLowerAscii(b.imageName);
        return left != right ? left < right : a.pid < b.pid;
    });
}

} // namespace

std::vector<std::string> PathForms(const std::string& path) {
    std::vector<std::string> forms = {base::ToLowerAscii(path)};
    char shortPath[MAX_PATH] = {};
    const DWORD length = ::GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        const std::string form = base::ToLowerAscii(std::string(shortPath, length));
        if (form != forms.front())
            forms.push_back(form);
    }
    return forms;
}

std::string ExpandEnvironment(const std::string& text) {
    const DWORD size = ::ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
    if (size == 0)
        return text;
    std::string expanded(size, '\0');
    const DWORD written = ::ExpandEnvironmentStringsA(text.c_str(), &expanded[0], size);
    if (written == 0 || written > size)
        return text;
    expanded.resize(written - 1);
    return expanded;
}

std::vector<ProcessInfo> ProcessesHolding(const std::string& path) {
    const std::vector<std::string> wanted = PathForms(path);
    const std::vector<std::wstring> wideWanted = WideForms(wanted);
    const std::set<DWORD> windowed = ProcessesWithVisibleWindows();
    std::vector<ProcessInfo> holders;
    ui::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return holders;
    const DWORD self = ::GetCurrentProcessId();
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
         more = ::Process32Next(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == 0 || entry.th32ProcessID == self)
            continue;
        ui::Handle process(
            ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID));
        std::optional<bool> holds;
        if (process)
            holds = HoldsByLoaderList(process.get(), wideWanted);
        if (!holds)
            holds = HoldsByToolHelp(entry.th32ProcessID, wanted);
        if (!holds && process)
            holds = HoldsByPsapi(process.get(), wanted);
        if (!holds || !*holds)
            continue;
        if (!process) {
            process.reset(
                ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        }
        holders.push_back(Describe(entry, ImagePath(process.get()), windowed));
    }
    SortByName(holders);
    return holders;
}

std::vector<ProcessInfo> ProcessesRunning(const std::string& image) {
    const std::vector<std::string> wanted = PathForms(image);
    const std::set<DWORD> windowed = ProcessesWithVisibleWindows();
    std::vector<ProcessInfo> running;
    ui::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return running;
    const DWORD self = ::GetCurrentProcessId();
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
         more = ::Process32Next(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == 0 || entry.th32ProcessID == self)
            continue;
        ui::Handle process(
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        std::string path = ImagePath(process.get());
        if (path.empty() || !IsWanted(path.c_str(), wanted))
            continue;
        running.push_back(Describe(entry, std::move(path), windowed));
    }
    SortByName(running);
    return running;
}

Provenance GatherProvenance(const std::string& path) {
    Provenance provenance;
    provenance.path = path;
    provenance.holders = ProcessesHolding(path);
    provenance.origin = ChooseOrigin(provenance.holders, path);
    std::vector<std::string> named = PathForms(path);
    if (provenance.origin && !provenance.origin->imagePath.empty()) {
        const auto originForms = PathForms(provenance.origin->imagePath);
        named.insert(named.end(), originForms.begin(), originForms.end());
    }
    provenance.autostart = EntriesNaming(ReadAutostartEntries(), named, ExpandEnvironment);
    return provenance;
}

Provenance GatherProgramProvenance(const std::string& image) {
    Provenance provenance;
    provenance.path = image;
    provenance.holders = ProcessesRunning(image);
    provenance.autostart =
        EntriesNaming(ReadAutostartEntries(), PathForms(image), ExpandEnvironment);
    return provenance;
}

} // namespace inspect
