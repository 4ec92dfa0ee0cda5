// Processes and files for tests that run under Wine: start a program, wait for a
// condition, make and clear a scratch folder.
#pragma once

#include "ui/Handles.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// Generous limit for anything a test waits for.
constexpr DWORD kWaitLimitMs = 30000;

// Polls `condition` until it holds or `limitMs` pass; true when it held.
bool WaitFor(const std::function<bool()>& condition, DWORD limitMs = kWaitLimitMs);

// A process this test started. It is ended (by its handle) when the object goes, if it is
// still running: a test never ends processes it did not start.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&&) = default;
    ChildProcess& operator=(ChildProcess&&) = default;

    bool Start(const std::string& executable, const std::string& arguments = std::string(),
               const std::string& workingDirectory = std::string());
    // Takes on, by its id, a process that this test started some other way (from a shell).
    bool Adopt(DWORD pid);
    DWORD Pid() const noexcept { return pid_; }
    HANDLE Handle() const noexcept { return process_.get(); }
    bool Running() const;
    // Waits for the process to end; true when it did, with its exit code.
    bool WaitForExit(DWORD limitMs = kWaitLimitMs, DWORD* exitCode = nullptr) const;
    void Terminate();

private:
    ui::Handle process_;
    DWORD pid_ = 0;
};

// The directory of the running test program, with its trailing backslash.
std::string OwnDirectory();

// key_spy.exe of the test's own folder (tests/e2e/fixture/key_spy.cpp) in `mode`, at work
// until the object goes; ended by its handle if it does not stop when asked.
class KeySpy {
public:
    explicit KeySpy(const std::string& mode);
    ~KeySpy();
    KeySpy(const KeySpy&) = delete;
    KeySpy& operator=(const KeySpy&) = delete;

    static std::string Program() { return OwnDirectory() + "key_spy.exe"; }
    bool Ready() const { return ready_; }
    uint32_t Pid() const { return process_.Pid(); }

private:
    ChildProcess process_;
    ui::Handle stop_;
    bool ready_ = false;
};

// A fresh folder under the temporary directory, removed with all it holds when the object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The folder's path with its trailing backslash.
    const std::string& Path() const noexcept { return path_; }

private:
    std::string path_;
};

bool FileExists(const std::string& path);
// The names in `folder` (with its trailing backslash), sorted; "." and ".." left out.
std::vector<std::string> FolderListing(const std::string& folder);
// Removes `folder` (with its trailing backslash) and everything in it, read-only files too.
void RemoveTree(const std::string& folder);
// Where the system keeps the renames it carries out at the next restart.
inline constexpr char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
inline constexpr char kPendingRenames[] = "PendingFileRenameOperations";
// The system's renames at the next restart, as stored: source and target names in turn.
std::vector<std::string> PendingRenames();
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);

} // namespace testing_support
