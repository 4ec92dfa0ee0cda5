// The built Snoopsweep.exe, copied to a folder of the test's own and run from there.
#pragma once

#include "tests/support/process.h"

#include <windows.h>

#include <string>

namespace testing_support {

// The full path of the Snoopsweep.exe that the build made.
std::string BuiltProgram();

// Where the screenshots for the documentation go, or empty when the run takes none.
std::string ScreenshotFolder();

// The x64 program's helper of 32 bits, as the build made it; empty in the x86 build.
std::string BuiltHelper();

// One run of the program from a copy in `folder`, with its helper beside it where the build
// has one, unless `withHelper` is false.
class Program {
public:
    explicit Program(const std::string& folder, bool withHelper = true);
    ~Program() = default;

    const std::string& Path() const noexcept { return path_; }
    // Starts the copy (from another working directory) and waits for its main dialog.
    bool Launch();
    HWND Dialog() const noexcept { return dialog_; }
    HWND Control(int id) const { return ::GetDlgItem(dialog_, id); }
    ChildProcess& Process() noexcept { return process_; }
    const ChildProcess& Process() const noexcept { return process_; }

private:
    std::string path_;
    ChildProcess process_;
    HWND dialog_ = nullptr;
};

} // namespace testing_support
