#include "neutralise/WinInitEdit.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace neutralise {

namespace {

constexpr size_t kNone = std::string_view::npos;

unsigned char LowerAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

unsigned char UpperAscii(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

bool SameIgnoringCase(const char* a, std::string_view b) {
    for (size_t i = 0; i < b.size(); ++i) {
        if (LowerAscii(static_cast<unsigned char>(a[i])) !=
            LowerAscii(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// The length of the line end at `at`: CR LF, LF, or a CR alone before a NUL byte or the end
// of the text; 0 when the text ends or reaches a NUL byte there; kNone when the line goes on.
size_t LineEndAt(std::string_view text, size_t at) {
    if (at == text.size() || text[at] == '\0')
        return 0;
    if (text[at] == '\n')
        return 1;
    if (text[at] != '\r')
        return kNone;
    if (at + 1 == text.size() || text[at + 1] == '\0')
        return 1;
    return text[at + 1] == '\n' ? 2 : kNone;
}

// True when [from, to) holds a NUL byte or a line that opens another section. `from` is the
// start of a line.
bool SectionEndsBefore(std::string_view text, size_t from, size_t to) {
    const char* begin = text.data() + from;
    if (std::memchr(begin, '\0', to - from))
        return true;
    // '[' is rare: look for it, then at the byte before it.
    for (const char* bracket = begin;
         (bracket =
              static_cast<const char*>(std::memchr(bracket, '[', to - (bracket - text.data()))));
         ++bracket) {
        if (bracket == begin || bracket[-1] == '\n')
            return true;
    }
    return false;
}

struct Span {
    size_t begin = kNone; // kNone: not found
    size_t end = 0;       // past the line's line end
};

// The pending line of the section that starts at `from` whose text, without its line end, is
// `wanted`, letter case aside. The section ends at a line that opens another one, or at a NUL
// byte. Horspool's search finds the text: it skips ahead by up to its length at each step, so
// that a long section costs little more than one look at every few bytes.
Span FindPendingLine(std::string_view text, size_t from, std::string_view wanted) {
    const size_t length = wanted.size();
    size_t skip[256];
    std::fill(std::begin(skip), std::end(skip), length);
    for (size_t i = 0; i + 1 < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(wanted[i]);
        skip[LowerAscii(c)] = skip[UpperAscii(c)] = length - 1 - i;
    }
    Span found;
    for (size_t at = from; at + length <= text.size();
         at += skip[static_cast<unsigned char>(text[at + length - 1])]) {
        if (text[at - 1] != '\n' || !SameIgnoringCase(text.data() + at, wanted))
            continue;
        const size_t lineEnd = LineEndAt(text, at + length);
        if (lineEnd == kNone)
            continue;
        if (!SectionEndsBefore(text, from, at)) {
            found.begin = at;
            found.end = at + length + lineEnd;
        }
        break;
    }
    return found;
}

// Where the [Rename] section's lines begin, or kNone without a header. The header counts
// only before the first NUL byte: if its first occurrence lies past one, none lies before it.
size_t SectionStart(std::string_view text) {
    const size_t header = text.find(kRenameHeader);
    if (header == kNone || std::memchr(text.data(), '\0', header))
        return kNone;
    return header + kRenameHeader.size();
}

} // namespace

std::string RenameLine(const std::string& target, const std::string& source) {
    return target + "=" + source + "\r\n";
}

size_t RenameRoom(const std::string& target, const std::string& source) {
    return RenameLine(target, source).size() + kRenameHeader.size();
}

std::optional<size_t> TakeOutRename(char* text, size_t size, const std::string& target,
                                    const std::string& source) {
    const std::string_view old(text, size);
    const size_t at = SectionStart(old);
    if (at == kNone)
        return std::nullopt;
    const Span pending = FindPendingLine(old, at, target + "=" + source);
    if (pending.begin == kNone)
        return std::nullopt;
    std::memmove(text + pending.begin, text + pending.end, size - pending.end);
    return size - (pending.end - pending.begin);
}

RenameEditResult AddRename(char* text, size_t size, const std::string& target,
                           const std::string& source) {
    const size_t at = SectionStart(std::string_view(text, size));
    const std::string line = RenameLine(target, source);
    if (at == kNone) {
        std::memcpy(text + size, kRenameHeader.data(), kRenameHeader.size());
        std::memcpy(text + size + kRenameHeader.size(), line.data(), line.size());
        return {RenameEdit::HeaderAppended, size + kRenameHeader.size() + line.size()};
    }

    if (target != kDeleteTarget) {
        if (const std::optional<size_t> shorter = TakeOutRename(text, size, source, target))
            return {RenameEdit::Cancelled, *shorter};
    }
    std::memmove(text + at + line.size(), text + at, size - at);
    std::memcpy(text + at, line.data(), line.size());
    return {RenameEdit::Inserted, size + line.size()};
}

} // namespace neutralise
