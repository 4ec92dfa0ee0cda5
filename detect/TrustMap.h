// The program's store of verdicts about modules, and the text of its two list files.
// Portable: no Win32 types.
//
// Keys are lower-cased bare file names (trusted system libraries, the program's own file, the
// names the scan clears) or full paths as the module enumerator reports them (verdicts the
// user gave). Keys compare exactly: case matters and nothing is trimmed.
#pragma once

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace detect {

// The three verdicts, as the map and the list files store them.
constexpr const char kTrusted[] = "";
constexpr const char kBlocked[] = "1";
constexpr const char kAllowed[] = "2";

class TrustMap {
public:
    // True when `key` is present; its verdict is stored in `value`.
    bool Lookup(const std::string& key, std::string& value) const;
    bool Contains(const std::string& key) const { return entries_.count(key) != 0; }
    // Sets the verdict of `key`, adding the key when it is absent. Entries are never removed.
    void Set(const std::string& key, const std::string& value) { entries_[key] = value; }

    bool empty() const noexcept { return entries_.empty(); }
    size_t size() const noexcept { return entries_.size(); }

    // Every entry once, in the map's order (which means nothing).
    template <class Visit> void ForEach(Visit visit) const {
        for (const auto& entry : entries_)
            visit(entry.first, entry.second);
    }
    // The same entries in the opposite order.
    template <class Visit> void ForEachReversed(Visit visit) const {
        for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry)
            visit(entry->first, entry->second);
    }

private:
    std::map<std::string, std::string> entries_;
};

// The system libraries trusted by name, in the order they are entered.
const std::array<const char*, 27>& BuiltInTrustedNames();

// Fills a map as the program starts: the built-in names and the program's own file name
// (lower-cased), all trusted.
void AddTrustedNames(TrustMap& map, const std::string& executablePath);

struct ListFilePaths {
    std::string blocked; // bloccati.txt
    std::string allowed; // leciti.txt
};

// The two list files in the directory of the program's executable.
ListFilePaths ListFilePathsFor(const std::string& executablePath);

// The keys of a list file's text, read as text-mode lines: a line ends at LF and a CR just
// before that LF goes with it; nothing else is removed (blanks stay, an empty line is an
// empty key); a last line without a line end is still a key; a Ctrl-Z byte ends the text.
std::vector<std::string> ParseListText(std::string_view text);

// Enters every key of a list file's text into the map with `verdict`.
void LoadListText(TrustMap& map, std::string_view text, const std::string& verdict);

// The texts of the two list files for the map's verdicts: each key followed by CR LF;
// trusted entries are written nowhere.
struct ListTexts {
    std::string blocked;
    std::string allowed;
};
ListTexts FormatListTexts(const TrustMap& map);

} // namespace detect
