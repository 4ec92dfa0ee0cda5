#include "tests/support/process.h"

#include "base/Text.h"
#include "ui/WinApp.h"

#include <algorithm>
#include <vector>

namespace testing_support {

bool WaitFor(const std::function<bool()>& condition, DWORD limitMs) {
    const ULONGLONG end = ::GetTickCount64() + limitMs;
    for (;;) {
        if (condition())
            return true;
        if (::GetTickCount64() >= end)
            return false;
        ::Sleep(20);
    }
}

ChildProcess::~ChildProcess() {
    Terminate();
}

bool ChildProcess::Start(const std::string& executable, const std::string& arguments,
                         const std::string& workingDirectory) {
    std::string commandLine = "\"" + executable + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(executable.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                          &info))
        return false;
    ::CloseHandle(info.hThread);
    process_.reset(info.hProcess);
    pid_ = info.dwProcessId;
    return true;
}

bool ChildProcess::Adopt(DWORD pid) {
    process_.reset(::OpenProcess(
        PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    pid_ = process_ ? pid : 0;
    return pid_ != 0;
}

bool ChildProcess::Running() const {
    return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool ChildProcess::WaitForExit(DWORD limitMs, DWORD* exitCode) const {
    if (!process_ || ::WaitForSingleObject(process_.get(), limitMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        ::GetExitCodeProcess(process_.get(), exitCode);
    return true;
}

void ChildProcess::Terminate() {
    if (Running()) {
        ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), kWaitLimitMs);
    }
}

std::string OwnDirectory() {
    return base::DirectoryOf(ui::ModuleFileName());
}

ScratchFolder::ScratchFolder(const std::string& name) {
    // Numbered, so that each is new: one that an earlier test could not remove whole (a program
    // it ran still ending, its file still held) is never handed out again.
    static int made = 0;
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + name + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(++made) + "\\";
    ::CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(path_);
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> FolderListing(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA((folder + "*").c_str(), &data));
    if (!find)
        return names;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (::FindNextFileA(find.get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::string& folder) {
    for (const std::string& name : FolderListing(folder)) {
        const std::string path = folder + name;
        if (::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path + "\\");
        } else {
            ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(path.c_str());
        }
    }
    ::RemoveDirectoryA(folder.c_str());
}

std::vector<std::string> PendingRenames() {
    DWORD size = 0;
    if (::RegGetValueA(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RRF_RT_REG_MULTI_SZ,
                       nullptr, nullptr, &size) != ERROR_SUCCESS)
        return {};
    std::string text(size, '\0');
    if (::RegGetValueA(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RRF_RT_REG_MULTI_SZ,
                       nullptr, &text[0], &size) != ERROR_SUCCESS)
        return {};
    std::vector<std::string> names;
    for (size_t start = 0; start < size && text[start] != '\0';) {
        const size_t end = text.find('\0', start);
        names.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::string ReadFileBytes(const std::string& path) {
    ui::FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!file)
        return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    ui::FileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

KeySpy::KeySpy(const std::string& mode) {
    static int started = 0;
    const std::string stopName = "snoopsweep-key-spy-" + std::to_string(::GetCurrentProcessId()) +
                                 "-" + std::to_string(++started);
    stop_.reset(::CreateEventA(nullptr, TRUE, FALSE, stopName.c_str()));
    const ui::Handle ready(::CreateEventA(nullptr, TRUE, FALSE, (stopName + "-ready").c_str()));
    if (!stop_ || !ready || !process_.Start(Program(), mode + " " + stopName))
        return;
    const HANDLE waits[] = {ready.get(), process_.Handle()};
    ready_ = ::WaitForMultipleObjects(2, waits, FALSE, kWaitLimitMs) == WAIT_OBJECT_0;
}

KeySpy::~KeySpy() {
    if (stop_)
        ::SetEvent(stop_.get());
    process_.WaitForExit(); // and ended by its handle if it hangs
}

} // namespace testing_support
