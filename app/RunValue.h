// The data of the program's value under the Run key. Portable: no Win32 types.
#pragma once

#include <string>

namespace app {

// The executable's path as the Run value holds it: in double quotes when it contains a
// blank, since Windows would otherwise try shorter paths first (C:\Program.exe for
// C:\Program Files\...). Empty for an empty path.
std::string RunValueData(const std::string& executablePath);

} // namespace app
