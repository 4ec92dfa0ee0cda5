#include "app/RunValue.h"

namespace app {

std::string RunValueData(const std::string& executablePath) {
    if (executablePath.find(' ') == std::string::npos)
        return executablePath;
    return "\"" + executablePath + "\"";
}

} // namespace app
