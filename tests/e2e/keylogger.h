// Test keyloggers for the whole-program tests: hook DLLs built next to the test programs,
// a helper process that installs one of them as a system-wide keyboard hook, and a way to
// make a file look old to the program.
#pragma once

#include "tests/support/process.h"
#include "ui/Handles.h"

#include <windows.h>

#include <string>
#include <utility>

namespace testing_support {

// The full path of a built fixture DLL, e.g. FixtureDll("kbhook_plain.dll"). The DLLs:
//   kbhook_plain.dll  no version resource
//   kbhook_ms.dll     CompanyName "MICROSOFT Test Hooks", ProductName "Keyboard probe"
//                     (string table 040904b0)
// Both export the hook procedure KbProc.
std::string FixtureDll(const std::string& name);

// Makes the file look `days` days old: its creation, last-write and last-access times are
// set to that moment. Under Wine the creation time that programs see is the file's Unix
// modification time, which follows the last-write time set here.
bool AgeFile(const std::string& path, int days);

// Whether the process `pid` (of this program's bitness) has the module at `path` loaded.
// Letter case does not count; the path is the one the loader knows (files outside the Wine
// prefix under Z:).
bool ProcessHasModule(DWORD pid, const std::string& path);

// The folder of the x86 build's test programs and fixtures (the x64 tests plant keyloggers of
// 32 bits from there).
std::string X86Fixtures();

// A keylogger at work: hook_installer.exe holding a global WH_KEYBOARD hook from a DLL.
// The system loads the DLL into a process the next time a thread of it reads a key (and it
// stays there for the life of that process). The hook goes with the object.
class TestKeylogger {
public:
    // `fixtures` is the folder of the installer and key_spy.exe: the test's own, or the x86
    // build's (X86Fixtures()) for a keylogger of 32 bits.
    explicit TestKeylogger(std::string fixtures = OwnDirectory())
        : fixtures_(std::move(fixtures)) {}
    ~TestKeylogger();
    TestKeylogger(const TestKeylogger&) = delete;
    TestKeylogger& operator=(const TestKeylogger&) = delete;

    // Starts the installer for `dllPath` and waits until the hook is in place. False when
    // the installer could not start, failed (no such DLL, no KbProc, no hook) or did not
    // get ready within the limit. A hook this object already held is removed first.
    bool Install(const std::string& dllPath, bool messageHook = false);
    // Starts key_spy.exe in `mode` (see tests/e2e/fixture/key_spy.cpp) and waits until it is
    // at work, as Install does; or `program`, a copy of it (CopySpy), given by its full path.
    bool StartSpy(const std::string& mode, const std::string& program = std::string());
    // Starts `program`, a copy of key_spy.exe on drive Z:, in `mode` as a user would from a
    // Linux shell: `wine spia.exe MODE ...` in its folder. Waits as StartSpy does; the
    // program's own process is then Installer().
    bool StartSpyFromShell(const std::string& mode, const std::string& program);
    // Copies key_spy.exe (or `fixture`, e.g. key_spy_ms.exe, whose vendor is trusted) to the
    // full path `copy`; `copy`, or empty when that failed.
    std::string CopySpy(const std::string& copy, const std::string& fixture = "key_spy.exe") const;
    // Tells the installer to unhook and end, and waits for it; ends it if it hangs. True
    // when it ended by itself with exit code 0, or when no hook was installed.
    bool Remove();
    // Whether the hook is in place: installed and its installer still running.
    bool Installed() const { return stop_ && installer_.Running(); }
    // The installer last started, running or ended (its exit code tells why it failed).
    const ChildProcess& Installer() const noexcept { return installer_; }
    ChildProcess& Installer() noexcept { return installer_; }

private:
    // `program` is a full path. With `fromShell`, it is started by a Linux shell.
    bool Start(const std::string& program, const std::string& arguments,
               const std::string& trailing = std::string(), bool fromShell = false);

    std::string fixtures_;
    ChildProcess installer_;
    ui::Handle stop_;
};

} // namespace testing_support
