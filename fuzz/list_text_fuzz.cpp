// The list files' reader and writer.
//
// The input is read twice. As the text of a list file: the reader must give the keys that a
// byte-by-byte reading gives, and those keys, loaded and written back, must read back the same.
// As keys separated by NUL bytes, each with a verdict: the writer's texts must read back as
// exactly the blocked and the allowed keys, in the map's order, whenever no key holds a LF or
// a Ctrl-Z byte, and must not when one does.
#include "detect/TrustMap.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Keys = std::vector<std::string>;

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "list_text_fuzz: %s\n", what);
        std::abort();
    }
}

// Text-mode reading, one byte at a time: Ctrl-Z ends the text, LF ends a line and takes one CR
// before it along, and bytes after the last LF make one more line.
Keys ReadByBytes(std::string_view text) {
    Keys keys;
    std::string line;
    bool open = false;
    for (const char c : text) {
        if (c == '\x1A')
            break;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            keys.push_back(line);
            line.clear();
            open = false;
        } else {
            line += c;
            open = true;
        }
    }
    if (open)
        keys.push_back(line);
    return keys;
}

Keys KeysWith(const detect::TrustMap& map, const std::string& verdict) {
    Keys keys;
    map.ForEach([&](const std::string& key, const std::string& value) {
        if (value == verdict)
            keys.push_back(key);
    });
    return keys;
}

bool Survives(const std::string& key) {
    return key.find('\n') == std::string::npos && key.find('\x1A') == std::string::npos;
}

void CheckFileText(std::string_view text) {
    const Keys keys = detect::ParseListText(text);
    Require(keys == ReadByBytes(text), "the reader differs from a byte-by-byte reading");

    detect::TrustMap map;
    detect::LoadListText(map, text, detect::kBlocked);
    const Keys loaded = KeysWith(map, detect::kBlocked);
    Keys distinct = keys;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    Require(loaded == distinct && map.size() == distinct.size(),
            "the map does not hold each key read, blocked");

    const detect::ListTexts written = detect::FormatListTexts(map);
    Require(written.allowed.empty(), "blocked keys written to the allowed list");
    Require(detect::ParseListText(written.blocked) == loaded, "the keys do not read back");
}

void CheckMap(std::string_view data) {
    static const char* const kVerdicts[] = {detect::kTrusted, detect::kBlocked, detect::kAllowed,
                                            "3"};
    detect::TrustMap map;
    size_t count = 0;
    for (size_t start = 0; start <= data.size(); ++count) {
        size_t stop = data.find('\0', start);
        if (stop == std::string_view::npos)
            stop = data.size();
        const std::string key(data.substr(start, stop - start));
        map.Set(key, kVerdicts[(key.size() + count) % 4]);
        start = stop + 1;
    }

    const detect::ListTexts written = detect::FormatListTexts(map);
    for (const auto& [text, verdict] : {std::pair{&written.blocked, detect::kBlocked},
                                        std::pair{&written.allowed, detect::kAllowed}}) {
        const Keys keys = KeysWith(map, verdict);
        bool clean = true;
        for (const std::string& key : keys)
            clean = clean && Survives(key);
        const bool same = detect::ParseListText(*text) == keys;
        Require(same == clean, clean ? "clean keys do not read back"
                                     : "a key with LF or Ctrl-Z read back unchanged");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckFileText(text);
    CheckMap(text);
    return 0;
}
