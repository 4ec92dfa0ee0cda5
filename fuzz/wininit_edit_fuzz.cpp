// The WinInit.Ini [Rename] edit, against a plain model of it.
//
// The input is the target, a LF, the source, a LF, and the old contents of the file. In the
// contents a few escapes stand for what a fuzzer would hardly guess:
//   %H  the header "[Rename]" CR LF         %0  a NUL byte
//   %P  the pending opposite: source=target  %p  the same with the letter case swapped
//   %L  the same move: target=source         %%  a '%'
// Any other byte stands for itself. The edit runs in a buffer of exactly the old contents and
// the room it asks for, filled with text that the edit would find if it looked past the old
// contents.
#include "neutralise/WinInitEdit.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

using neutralise::RenameEdit;

const std::string kHeader = "[Rename]\r\n";

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "wininit_edit_fuzz: %s\n", what);
        std::abort();
    }
}

char SwapCase(char c) {
    if (c >= 'a' && c <= 'z')
        return static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z')
        return static_cast<char>(c - 'A' + 'a');
    return c;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string Expand(std::string_view coded, const std::string& target, const std::string& source) {
    std::string text;
    for (size_t i = 0; i < coded.size(); ++i) {
        if (coded[i] != '%' || i + 1 == coded.size()) {
            text += coded[i];
            continue;
        }
        const std::string opposite = source + "=" + target;
        switch (coded[++i]) {
        case 'H':
            text += kHeader;
            break;
        case '0':
            text += '\0';
            break;
        case 'P':
            text += opposite;
            break;
        case 'p':
            for (const char c : opposite)
                text += SwapCase(c);
            break;
        case 'L':
            text += target + "=" + source;
            break;
        case '%':
            text += '%';
            break;
        default:
            text += '%';
            text += coded[i];
        }
    }
    return text;
}

struct Model {
    RenameEdit edit;
    std::string text;
};

// The edit, line by line. The header is the first "[Rename]" CR LF before the first NUL byte.
// Its section is the lines after it up to one that starts with '[', or up to a NUL byte. A line
// runs to a LF, a NUL byte or the end; one CR at its end is no part of its text. The first
// line of the section whose text is source=target, letter case aside, goes with its line end;
// else the new line goes directly under the header. A deletion undoes nothing.
Model Edit(const std::string& old, const std::string& target, const std::string& source) {
    const std::string line = target + "=" + source + "\r\n";
    const size_t header = old.substr(0, old.find('\0')).find(kHeader);
    if (header == std::string::npos)
        return {RenameEdit::HeaderAppended, old + kHeader + line};

    const size_t section = header + kHeader.size();
    if (target != "NUL") {
        const std::string opposite = Lower(source + "=" + target);
        for (size_t start = section; start < old.size() && old[start] != '[';) {
            size_t stop = start;
            while (stop < old.size() && old[stop] != '\n' && old[stop] != '\0')
                ++stop;
            std::string text = old.substr(start, stop - start);
            if (!text.empty() && text.back() == '\r')
                text.pop_back();
            const bool lineFeed = stop < old.size() && old[stop] == '\n';
            const size_t next = lineFeed ? stop + 1 : stop;
            if (Lower(text) == opposite)
                return {RenameEdit::Cancelled, old.substr(0, start) + old.substr(next)};
            if (!lineFeed)
                break;
            start = next;
        }
    }
    return {RenameEdit::Inserted, old.substr(0, section) + line + old.substr(section)};
}

// The model holds for moves between paths: no NUL or CR (nor LF, which the input cannot hold),
// and no '[' to start a line with. The edit would take out a pending line "[..." although that
// line opens a section; no module's path starts so.
bool Modelled(const std::string& target, const std::string& source) {
    const auto plain = [](const std::string& path) {
        return path.find_first_of(std::string("\0\r", 2)) == std::string::npos;
    };
    return plain(target) && plain(source) && (source.empty() || source[0] != '[');
}

void Check(const std::string& old, const std::string& target, const std::string& source,
           const std::string& filler) {
    const size_t room = neutralise::RenameRoom(target, source);
    const size_t capacity = old.size() + room;
    // Exactly the size asked for, so that a write past it is caught.
    const std::unique_ptr<char[]> buffer(new char[capacity == 0 ? 1 : capacity]);
    std::memcpy(buffer.get(), old.data(), old.size());
    for (size_t i = old.size(); i < capacity; ++i)
        buffer[i] = filler[(i - old.size()) % filler.size()];

    const auto result = neutralise::AddRename(buffer.get(), old.size(), target, source);
    Require(result.size <= capacity, "the edit grew past its room");
    if (!Modelled(target, source))
        return;
    const Model model = Edit(old, target, source);
    Require(result.edit == model.edit, "another kind of edit than the model's");
    Require(std::string_view(buffer.get(), result.size) == model.text,
            "contents other than the model's");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t first = input.find('\n');
    const std::string target(input.substr(0, first));
    std::string source;
    std::string_view coded;
    if (first != std::string_view::npos) {
        const size_t second = input.find('\n', first + 1);
        source = std::string(input.substr(first + 1, second - (first + 1)));
        if (second != std::string_view::npos)
            coded = input.substr(second + 1);
    }
    const std::string old = Expand(coded, target, source);

    // Past the old contents: headers, or the pending opposite line.
    Check(old, target, source, kHeader);
    Check(old, target, source, "\n" + source + "=" + target + "\r\n");
    return 0;
}
