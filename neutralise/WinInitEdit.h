// The [Rename] section of WinInit.Ini, edited in place in a buffer that holds the file: the
// last way to have a file renamed at the next start of the system. Portable: no Win32 types.
//
// A line "target=source" has the system move source onto target when it next starts; a
// target of "NUL" deletes the source. The newest line stands first, directly under the
// header, and the lines run in the order in which they stand.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace neutralise {

// The header as written and as recognised: this case, ended by CR LF.
constexpr std::string_view kRenameHeader = "[Rename]\r\n";
// The target of a line that deletes its source.
constexpr const char kDeleteTarget[] = "NUL";

// "target=source" and CR LF. Both are short paths, or the target is kDeleteTarget.
std::string RenameLine(const std::string& target, const std::string& source);

// The most that AddRename writes past the old contents: a header and the line.
size_t RenameRoom(const std::string& target, const std::string& source);

enum class RenameEdit {
    Inserted,       // the line stands directly under the header that was there
    HeaderAppended, // no header was found: the header and the line follow the old contents
    Cancelled,      // a pending move of target onto source was taken out; nothing was added
};

struct RenameEditResult {
    RenameEdit edit;
    size_t size; // the contents' new length
};

// Adds the move of `source` onto `target` to the WinInit.Ini contents at `text`: `size` bytes
// of the old file, followed by at least RenameRoom(target, source) bytes that may be
// overwritten.
//
// The header is the first "[Rename]" CR LF, in this exact case, in the old contents before
// their first NUL byte; a text such as x[Rename] at the end of a line counts. When the
// section under it holds a pending move of target onto source (the line "source=target",
// letter case aside, up to the next line that opens a section), that line is taken out
// instead: the two moves would undo each other, and run newest first they would move an
// empty file made for the older line's target onto the real file. Otherwise the new line is
// inserted directly under the header, or, without a header, the header and the line are
// appended directly after the old contents, without a line break before them.
// Takes the pending move of `source` onto `target` (the line "target=source", letter case
// aside) out of the [Rename] section of the contents at `text` (`size` bytes), so that the
// system's next start leaves both files alone. Returns the contents' new length, or none when
// the section holds no such line; the contents are then unchanged.
std::optional<size_t> TakeOutRename(char* text, size_t size, const std::string& target,
                                    const std::string& source);

RenameEditResult AddRename(char* text, size_t size, const std::string& target,
                           const std::string& source);

} // namespace neutralise
