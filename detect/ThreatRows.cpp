#include "detect/ThreatRows.h"

#include "base/Text.h"

namespace detect {

std::array<int, 4> ColumnWidths(int listWidth) {
    return {listWidth * 15 / 32, listWidth * 5 / 32, listWidth * 6 / 32, listWidth * 6 / 32};
}

bool IsFileless(const std::string& key) {
    return key == kLowLevelHookKey || key == kKeyStatePollerKey || key == kHotkeyGrabberKey;
}

std::string NamedKey(const std::string& image, const std::string& kind) {
    return image + " " + kind;
}

std::optional<NamedFinding> ParseNamedKey(const std::string& key) {
    for (const char* kind :
         {kLowLevelHookKey, kKeyStatePollerKey, kHotkeyGrabberKey, kRawInputSinkKind}) {
        const std::string suffix = std::string(" ") + kind;
        if (key.size() > suffix.size() &&
            key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0)
            return NamedFinding{key.substr(0, key.size() - suffix.size()), kind};
    }
    return std::nullopt;
}

std::string FileOfKey(const std::string& key) {
    if (IsFileless(key))
        return {};
    if (const auto named = ParseNamedKey(key))
        return named->image;
    return key;
}

Row MakeRow(RowState state, const std::string& path, const std::string& company,
            const std::string& product) {
    // Status text, icon and verdict code of each state, in the order of RowState.
    struct Look {
        const char* status;
        int image;
        long code;
    };
    static const Look kLooks[] = {
        {kStatusDetected, kImageDetected, kCodeNone},
        {kStatusDetectedBlocked, kImageDetectedBlocked, kCodeBlocked},
        {kStatusDetectedAllowed, kImageDetectedAllowed, kCodeAllowed},
        {kStatusBlocked, kImageBlocked, kCodeBlocked},
        {kStatusAllowed, kImageAllowed, kCodeAllowed},
    };
    const Look& look = kLooks[static_cast<int>(state)];
    Row row;
    row.path = path;
    row.status = look.status;
    row.company = base::ToLowerAscii(company);
    row.product = base::ToLowerAscii(product);
    row.image = look.image;
    row.code = look.code;
    return row;
}

} // namespace detect
