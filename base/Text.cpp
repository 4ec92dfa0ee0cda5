#include "base/Text.h"

#include "base/FileError.h"

namespace base {

std::string FileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string TitleFromModulePath(const std::string& modulePath) {
    std::string name = FileNameOf(modulePath);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

std::string ToLowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string DescribeFileError(const std::string& fileName, unsigned long systemError,
                              const std::string& systemText) {
    std::string text = "Impossibile completare l'operazione sul file\r\n" + fileName + "\r\n\r\n";
    if (!systemText.empty())
        text += systemText;
    else
        text += "Errore di sistema " + std::to_string(systemError) + ".";
    return text;
}

} // namespace base
