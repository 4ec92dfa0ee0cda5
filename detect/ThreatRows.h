// The threat list's row model: columns, row states with their status texts, icons and
// verdict codes, and the list as the scan and the commands see it. Portable: no Win32 types.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace detect {

// Headings of the four columns; "Stato " ends with a blank.
constexpr std::array<const char*, 4> kColumnHeadings = {"Minacce", "Stato ", "Company", "Product"};

// Column widths from the list control's outer width: 15/32, 5/32, 6/32 and 6/32 of it.
std::array<int, 4> ColumnWidths(int listWidth);

// Status texts of column 1, blanks included.
constexpr const char kStatusDetected[] = " Attivo";
constexpr const char kStatusDetectedBlocked[] = " Attivo & Bloccato  ";
constexpr const char kStatusDetectedAllowed[] = " Attivo & Lecito ";
constexpr const char kStatusBlocked[] = "Bloccato  ";
constexpr const char kStatusAllowed[] = " Lecito";

// Indices of the state icons in the list's image list.
enum StateImage : int {
    kImageDetected = 0,
    kImageBlocked = 1,
    kImageAllowed = 2,
    kImageDetectedBlocked = 3,
    kImageDetectedAllowed = 4,
};

// A row's item data: its verdict code.
enum VerdictCode : long {
    kCodeNone = 0,
    kCodeBlocked = 1,
    kCodeAllowed = 2,
};

// Column 0 of the findings that have no file: keyloggers that read keys without a DLL of
// theirs in the program (detect/KeyboardProbes.h). They are listed, allowed and remembered by
// these keys as a module is by its path.
constexpr const char kLowLevelHookKey[] = "[hook di tastiera a basso livello]";
constexpr const char kKeyStatePollerKey[] = "[lettura continua dello stato dei tasti]";
constexpr const char kHotkeyGrabberKey[] = "[tasti intercettati come scelte rapide]";
// The kind of a program that receives the keyboard as raw input while in the background. It
// has no row of its own: only named ones (below).
constexpr const char kRawInputSinkKind[] = "[tastiera ricevuta come input grezzo]";

// True for the key of a finding that has no file: a kind alone, with nobody named.
bool IsFileless(const std::string& key);

// A finding without a DLL whose program was named: its key is "<image path> <kind>", e.g.
// "C:\Strumenti\spia.exe [hook di tastiera a basso livello]". The program's file stands where
// a module's would: it is dated, read for its vendor, disabled and allowed back.
struct NamedFinding {
    std::string image; // the program's full path
    std::string kind;  // one of the kind keys above, brackets included
};
std::string NamedKey(const std::string& image, const std::string& kind);
// The image and kind of a named finding's key; none for any other key.
std::optional<NamedFinding> ParseNamedKey(const std::string& key);
// The file behind a row: a module's path, a named finding's image; empty for a kind alone.
std::string FileOfKey(const std::string& key);

enum class RowState { Detected, DetectedBlocked, DetectedAllowed, Blocked, Allowed };

// Everything one write puts in a row: all four texts, the icon and the item data.
struct Row {
    std::string path;    // column 0: the row's identity
    std::string status;  // column 1
    std::string company; // column 2, lower-cased
    std::string product; // column 3, lower-cased
    int image = kImageDetected;
    long code = kCodeNone;
};

// A row in `state` for the module file at `path`, with company and product as the file's
// version resource stores them (they are lower-cased here).
Row MakeRow(RowState state, const std::string& path, const std::string& company,
            const std::string& product);

// The threat list as its writers use it.
class ThreatList {
public:
    virtual ~ThreatList() = default;
    // The first row, from the top, whose path equals `path` ignoring letter case; -1 for none.
    virtual int Find(const std::string& path) = 0;
    // Adds a row; the list keeps its rows sorted by path. Returns the new row's index.
    virtual int Insert(const Row& row) = 0;
    // Rewrites the row at `index` whole.
    virtual void Update(int index, const Row& row) = 0;
    // Removes the row at `index`.
    virtual void Remove(int index) = 0;
    // Removes every row.
    virtual void Clear() = 0;
    // Brackets many writes in a row, so that the list redraws once at the end.
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}
};

} // namespace detect
