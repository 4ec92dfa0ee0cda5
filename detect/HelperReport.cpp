#include "detect/HelperReport.h"

#include <cstdio>

namespace detect {

std::string HexNumber(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof(text), "%llx", static_cast<unsigned long long>(value));
    return text;
}

std::optional<uint64_t> ParseHexNumber(const std::string& text) {
    if (text.empty() || text.size() > 16)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    return value;
}

std::string WindowRecord(uint64_t window) {
    return "W " + HexNumber(window) + "\n";
}

std::string ModuleRecord(const std::string& path) {
    return "M " + path + "\n";
}

std::string EndRecord() {
    return "E\n";
}

std::string KeyRecord(uint32_t message, uint64_t wParam, uint64_t lParam) {
    return "K " + HexNumber(message) + " " + HexNumber(wParam) + " " + HexNumber(lParam) + "\n";
}

bool HelperReportReader::Feed(const char* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != '\n') {
            if (partial_.size() >= kMaxLine)
                return false;
            partial_ += bytes[i];
            continue;
        }
        const std::string line = std::move(partial_);
        partial_.clear();
        if (!Line(line))
            return false;
    }
    return true;
}

bool HelperReportReader::Line(const std::string& line) {
    if (line == "E") {
        complete_.swap(building_);
        building_.clear();
        fresh_ = true;
        return true;
    }
    if (line.size() < 3 || line[1] != ' ')
        return false;
    const std::string rest = line.substr(2);
    switch (line[0]) {
    case 'M':
        // A path holds no control characters.
        for (char c : rest) {
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
        }
        if (building_.size() >= kMaxModules)
            return false;
        building_.push_back(rest);
        return true;
    case 'W':
        window_ = ParseHexNumber(rest);
        return window_.has_value();
    case 'K': {
        const size_t first = rest.find(' ');
        const size_t second = first == std::string::npos ? first : rest.find(' ', first + 1);
        if (second == std::string::npos)
            return false;
        const auto message = ParseHexNumber(rest.substr(0, first));
        const auto wParam = ParseHexNumber(rest.substr(first + 1, second - first - 1));
        const auto lParam = ParseHexNumber(rest.substr(second + 1));
        if (!message || !wParam || !lParam || *message > 0xFFFFFFFFu)
            return false;
        keys_.push_back({static_cast<uint32_t>(*message), *wParam, *lParam});
        return true;
    }
    default:
        return false;
    }
}

bool HelperReportReader::TakeModules(std::vector<std::string>& modules) {
    if (!fresh_)
        return false;
    fresh_ = false;
    modules = complete_;
    return true;
}

std::vector<ForwardedKey> HelperReportReader::TakeKeys() {
    std::vector<ForwardedKey> keys;
    keys.swap(keys_);
    return keys;
}

} // namespace detect
