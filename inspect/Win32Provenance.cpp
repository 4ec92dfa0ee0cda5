#include "inspect/Win32Provenance.h"

#include "base/Text.h"
#include "inspect/Autostart.h"
#include "ui/Handles.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <set>

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
        ui::Handle process;
        std::optional<bool> holds = HoldsByToolHelp(entry.th32ProcessID, wanted);
        if (!holds) {
            process.reset(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                        entry.th32ProcessID));
            if (process)
                holds = HoldsByPsapi(process.get(), wanted);
        }
        if (!holds || !*holds)
            continue;
        if (!process) {
            process.reset(
                ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        }
        entry.szExeFile[MAX_PATH - 1] = '\0';
        ProcessInfo info;
        info.pid = entry.th32ProcessID;
        info.imageName = entry.szExeFile;
        info.imagePath = ImagePath(process.get());
        info.hasVisibleWindow = windowed.count(entry.th32ProcessID) != 0;
        holders.push_back(info);
    }
    std::sort(holders.begin(), holders.end(), [](const ProcessInfo& a, const ProcessInfo& b) {
        const std::string left = base::ToLowerAscii(a.imageName);
        const std::string right = base::ToLowerAscii(b.imageName);
        return left != right ? left < right : a.pid < b.pid;
    });
    return holders;
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

} // namespace inspect
