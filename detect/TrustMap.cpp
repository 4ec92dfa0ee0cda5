#include "detect/TrustMap.h"

#include "base/Text.h"

namespace detect {

bool TrustMap::Lookup(const std::string& key, std::string& value) const {
    const auto found = entries_.find(key);
    if (found == entries_.end())
        return false;
    value = found->second;
    return true;
}

const std::array<const char*, 27>& BuiltInTrustedNames() {
    static const std::array<const char*, 27> names = {
        "uxtheme.dll", "mslbui.dll",   "lpk.dll",      "usp10.dll",  "mfc30.dll", "mfc40.dll",
        "mfc42.dll",   "mfc42u.dll",   "mfc70.dll",    "msctf.dll",  "imm32.dll", "oleaut32.dll",
        "ole2.dll",    "ole32.dll",    "comctl32.dll", "msvcrt.dll", "gdi32.dll", "rpcrt4.dll",
        "user32.dll",  "advapi32.dll", "kernel32.dll", "ntdll.dll",  "psapi.dll", "toolhelp.dll",
        "vdmdbg.dll",  "indicdll.dll", "ipsp.dll",
    };
    return names;
}

void AddTrustedNames(TrustMap& map, const std::string& executablePath) {
    for (const char* name : BuiltInTrustedNames())
        map.Set(name, kTrusted);
    map.Set(base::ToLowerAscii(base::FileNameOf(executablePath)), kTrusted);
}

ListFilePaths ListFilePathsFor(const std::string& executablePath) {
    const std::string directory = base::DirectoryOf(executablePath);
    return {directory + "bloccati.txt", directory + "leciti.txt"};
}

std::vector<std::string> ParseListText(std::string_view text) {
    const auto end = text.find('\x1A');
    if (end != std::string_view::npos)
        text = text.substr(0, end);
    std::vector<std::string> keys;
    size_t start = 0;
    while (start < text.size()) {
        const auto lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            keys.emplace_back(text.substr(start));
            break;
        }
        size_t stop = lf;
        if (stop > start && text[stop - 1] == '\r')
            --stop;
        keys.emplace_back(text.substr(start, stop - start));
        start = lf + 1;
    }
    return keys;
}

void LoadListText(TrustMap& map, std::string_view text, const std::string& verdict) {
    for (const std::string& key : ParseListText(text))
        map.Set(key, verdict);
}

ListTexts FormatListTexts(const TrustMap& map) {
    ListTexts texts;
    map.ForEach([&](const std::string& key, const std::string& value) {
        if (value == kBlocked)
            texts.blocked.append(key).append("\r\n");
        else if (value == kAllowed)
            texts.allowed.append(key).append("\r\n");
    });
    return texts;
}

} // namespace detect
