#include "neutralise/PendingMoves.h"

#include "base/Text.h"

#include <string_view>

namespace neutralise {

namespace {

// A name of the list as the program writes a path: without the mark of a replacing target
// and without the NT prefix.
std::string_view PlainPath(std::string_view name) {
    if (!name.empty() && name.front() == '!')
        name.remove_prefix(1);
    constexpr std::string_view kNtPrefix = "\\??\\";
    if (name.substr(0, kNtPrefix.size()) == kNtPrefix)
        name.remove_prefix(kNtPrefix.size());
    return name;
}

bool SamePath(std::string_view name, const std::string& path) {
    return base::ToLowerAscii(std::string(PlainPath(name))) == base::ToLowerAscii(path);
}

} // namespace

std::vector<std::string> SplitMultiString(const std::string& data) {
    // A deletion's empty target stands inside the list, so only the list's own length ends it.
    std::vector<std::string> names;
    size_t at = 0;
    while (at < data.size()) {
        size_t end = data.find('\0', at);
        if (end == std::string::npos)
            end = data.size();
        names.emplace_back(data, at, end - at);
        at = end + 1;
    }
    // The empty string that closes the list.
    if (!names.empty() && names.back().empty())
        names.pop_back();
    return names;
}

std::string JoinMultiString(const std::vector<std::string>& names) {
    std::string data;
    for (const std::string& name : names) {
        data += name;
        data += '\0';
    }
    data += '\0';
    return data;
}

bool TakeOutPendingMove(std::vector<std::string>& names, const std::string& source,
                        const std::string& target) {
    for (size_t i = 0; i + 1 < names.size(); i += 2) {
        if (!names[i + 1].empty() && SamePath(names[i], source) && SamePath(names[i + 1], target)) {
            names.erase(names.begin() + static_cast<std::ptrdiff_t>(i),
                        names.begin() + static_cast<std::ptrdiff_t>(i + 2));
            return true;
        }
    }
    return false;
}

} // namespace neutralise
