#include "tests/e2e/keylogger.h"

#include "tests/e2e/fixture/hook_installer.h"

#include "base/Text.h"
#include "ui/WideText.h"

#include <tlhelp32.h>

#include <atomic>
#include <utility>
#include <vector>

namespace testing_support {

namespace {

constexpr ULONGLONG kFileTimeTicksPerDay = 24ULL * 60 * 60 * 10000000;

FILETIME ToFileTime(ULONGLONG ticks) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

// A stop-event name no other installer of this or another test program uses.
std::string UniqueEventName() {
    static std::atomic<unsigned> counter{0};
    return "snoopsweep-test-keylogger-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(++counter) + "-" + std::to_string(::GetTickCount64());
}

// The Linux path of a Windows path, as Wine maps it; empty when it has none.
std::string UnixPath(const std::string& path) {
    using Convert = char*(CDECL*)(const WCHAR*);
    const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = convert ? convert(ui::Widen(path).c_str()) : nullptr;
    if (!unix)
        return {};
    std::string result(unix);
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

// Starts `program` with `arguments` as typed in a shell in the program's folder:
// `wine NAME ARGUMENTS`. The shell is a Linux program, of which Wine gives no handle.
bool StartFromShell(const std::string& program, const std::string& arguments) {
    const std::string unix = UnixPath(program);
    const size_t slash = unix.rfind('/');
    if (slash == std::string::npos || unix.find('\'') != std::string::npos)
        return false;
    std::string command = "/bin/sh -c \"cd '" + unix.substr(0, slash) + "' && exec wine " +
                          unix.substr(slash + 1) + " " + arguments + "\"";
    std::vector<char> buffer(command.begin(), command.end());
    buffer.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    return ::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info) != FALSE;
}

// The id of the running process of `program`, this program's bitness; 0 when none.
DWORD ProcessOf(const std::string& program) {
    ui::Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    const std::string wanted = base::ToLowerAscii(program);
    for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
         more = ::Process32Next(snapshot.get(), &entry)) {
        ui::Handle process(
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        char path[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        if (process && ::QueryFullProcessImageNameA(process.get(), 0, path, &size) &&
            base::ToLowerAscii(path) == wanted)
            return entry.th32ProcessID;
    }
    return 0;
}

} // namespace

std::string FixtureDll(const std::string& name) {
    return OwnDirectory() + name;
}

bool AgeFile(const std::string& path, int days) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    const FILETIME then = ToFileTime(ticks.QuadPart - days * kFileTimeTicksPerDay);
    ui::FileHandle file(::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    // Wine takes the creation time without error but keeps none of its own: it reports the
    // last-write time in its place.
    return file && ::SetFileTime(file.get(), &then, &then, &then);
}

bool ProcessHasModule(DWORD pid, const std::string& path) {
    ui::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
    if (!snapshot)
        return false;
    const std::string wanted = base::ToLowerAscii(path);
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Module32First(snapshot.get(), &entry); more;
         more = ::Module32Next(snapshot.get(), &entry)) {
        if (base::ToLowerAscii(entry.szExePath) == wanted)
            return true;
    }
    return false;
}

TestKeylogger::~TestKeylogger() {
    Remove();
}

std::string X86Fixtures() {
    return OwnDirectory() + "..\\..\\win32\\tests\\";
}

bool TestKeylogger::Install(const std::string& dllPath, bool messageHook) {
    return Start(fixtures_ + "hook_installer.exe", "\"" + dllPath + "\"",
                 messageHook ? " getmessage" : "");
}

bool TestKeylogger::StartSpy(const std::string& mode, const std::string& program) {
    return Start(program.empty() ? fixtures_ + "key_spy.exe" : program, mode);
}

std::string TestKeylogger::CopySpy(const std::string& copy, const std::string& fixture) const {
    return ::CopyFileA((fixtures_ + fixture).c_str(), copy.c_str(), FALSE) ? copy : std::string();
}

bool TestKeylogger::StartSpyFromShell(const std::string& mode, const std::string& program) {
    return Start(program, mode, std::string(), true);
}

bool TestKeylogger::Start(const std::string& program, const std::string& arguments,
                          const std::string& trailing, bool fromShell) {
    Remove();
    const std::string stopName = UniqueEventName();
    // Both events exist before the installer starts, so neither signal can be missed.
    ui::Handle stop(::CreateEventA(nullptr, TRUE, FALSE, stopName.c_str()));
    ui::Handle ready(::CreateEventA(nullptr, TRUE, FALSE, (stopName + "-ready").c_str()));
    installer_ = ChildProcess();
    if (!stop || !ready)
        return false;
    if (fromShell) {
        // Nothing to watch but the event: a program that fails leaves it unset.
        if (!StartFromShell(program, arguments + " " + stopName + trailing) ||
            ::WaitForSingleObject(ready.get(), kWaitLimitMs) != WAIT_OBJECT_0)
            return false;
        stop_ = std::move(stop);
        return installer_.Adopt(ProcessOf(program));
    }
    if (!installer_.Start(program, arguments + " " + stopName + trailing))
        return false;
    // Ready, or gone: an installer that fails exits at once.
    const HANDLE waits[] = {ready.get(), installer_.Handle()};
    if (::WaitForMultipleObjects(2, waits, FALSE, kWaitLimitMs) != WAIT_OBJECT_0) {
        installer_.Terminate(); // in case it hangs
        return false;
    }
    stop_ = std::move(stop);
    return true;
}

bool TestKeylogger::Remove() {
    if (!stop_)
        return true;
    ::SetEvent(stop_.get());
    stop_.reset();
    DWORD code = 1;
    const bool clean =
        installer_.WaitForExit(kWaitLimitMs, &code) && code == hook_installer::kStopped;
    installer_.Terminate(); // only if it hangs
    return clean;
}

} // namespace testing_support
