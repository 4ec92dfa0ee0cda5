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

std::string BuiltHelper() {
    const std::string program = BuiltProgram();
    const std::string helper =
        program.substr(0, program.find_last_of('\\') + 1) + "SnoopsweepHelper32.exe";
    return FileExists(helper) ? helper : std::string();
}

Program::Program(const std::string& folder, bool withHelper) : path_(folder + "Snoopsweep.exe") {
    ::CopyFileA(BuiltProgram().c_str(), path_.c_str(), FALSE);
    const std::string helper = folder + "SnoopsweepHelper32.exe";
    if (withHelper && !BuiltHelper().empty())
        ::CopyFileA(BuiltHelper().c_str(), helper.c_str(), FALSE);
    else
        ::DeleteFileA(helper.c_str());
}

bool Program::Launch() {
    if (!process_.Start(path_, std::string(), "C:\\"))
        return false;
    dialog_ = WaitForWindow(process_.Pid(), "#32770", "Snoopsweep");
    return dialog_ != nullptr;
}

} // namespace testing_support
