#include "tests/e2e/program.h"

#include "tests/support/remote_ui.h"

#include <cstdlib>

namespace testing_support {

std::string BuiltProgram() {
    // The tests live in tests\ below the build folder that holds the program.
    const std::string relative = OwnDirectory() + "..\\Snoopsweep.exe";
    char full[MAX_PATH] = {};
    const DWORD length = ::GetFullPathNameA(relative.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : relative;
}

std::string ScreenshotFolder() {
    const char* folder = std::getenv("SNOOPSWEEP_SCREENSHOTS");
    return folder ? folder : "";
}

Program::Program(const std::string& folder) : path_(folder + "Snoopsweep.exe") {
    ::CopyFileA(BuiltProgram().c_str(), path_.c_str(), FALSE);
}

bool Program::Launch() {
    if (!process_.Start(path_, std::string(), "C:\\"))
        return false;
    dialog_ = WaitForWindow(process_.Pid(), "#32770", "Snoopsweep");
    return dialog_ != nullptr;
}

} // namespace testing_support
