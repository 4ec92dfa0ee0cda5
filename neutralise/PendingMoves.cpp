#include "neutralise/PendingMoves.h"

#include <algorithm>

namespace neutralise {

namespace {

// A name of the list as the program writes a path: without the mark of a replacing target
// and without the NT prefix.
std::u16string_view PlainPath(std::u16string_view name) {
    if (!name.empty() && name.front() == u'!')
        name.remove_prefix(1);
    constexpr std::u16string_view kNtPrefix = u"\\??\\";
    if (name.substr(0, kNtPrefix.size()) == kNtPrefix)
        name.remove_prefix(kNtPrefix.size());
    return name;
}

char16_t LowerAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool SamePath(std::u16string_view name, std::u16string_view path) {
    name = PlainPath(name);
    return name.size() == path.size() &&
           std::equal(name.begin(), name.end(), path.begin(),
                      [](char16_t a, char16_t b) { return LowerAscii(a) == LowerAscii(b); });
}

// One name of the list: its units are [begin, end); the next name starts at `next`, after the
// NUL that ends this one, or at the list's end when it has none.
struct Name {
    size_t begin;
    size_t end;
    size_t next;

    std::u16string_view In(std::u16string_view list) const {
        return list.substr(begin, end - begin);
    }
};

Name NameAt(std::u16string_view list, size_t at) {
    const size_t end = std::min(list.find(u'\0', at), list.size());
    return {at, end, std::min(end + 1, list.size())};
}

} // namespace

size_t TakeOutPendingMoves(std::u16string& list, std::u16string_view source,
                           std::u16string_view target) {
    const std::u16string_view all(list);
    std::u16string kept;
    size_t copied = 0; // the units before it are in `kept` or taken out
    size_t taken = 0;
    // A deletion's empty target stands inside the list, so only the list's own length ends it;
    // the NUL that closes it reads as an empty source without a target.
    for (size_t at = 0; at < all.size();) {
        const Name from = NameAt(all, at);
        if (from.next >= all.size())
            break;
        const Name onto = NameAt(all, from.next);
        if (onto.end > onto.begin && SamePath(from.In(all), source) &&
            SamePath(onto.In(all), target)) {
            kept.append(all.substr(copied, from.begin - copied));
            copied = onto.next;
            ++taken;
        }
        at = onto.next;
    }
    if (taken > 0) {
        kept.append(all.substr(copied));
        list.swap(kept);
    }
    return taken;
}

bool HoldsNoNames(std::u16string_view list) {
    return std::all_of(list.begin(), list.end(), [](char16_t c) { return c == u'\0'; });
}

} // namespace neutralise
