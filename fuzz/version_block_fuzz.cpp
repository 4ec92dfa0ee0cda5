// The check of a version block, against a model of the system's queries: any bytes are a
// version resource as a file stores it. The model copies them into a block as the system's
// version reader does (twice their length plus 4, zero-filled as the program allocates it, the
// signature after the root's length) and, when the check passes the block, walks it the way
// the system answers the program's three queries (the translation table, then the company
// and product names of the table it names) and makes the ANSI copies of the two names. Every
// byte the walk reads or writes must lie in the block.
#include "inspect/VersionQuery.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "version_block_fuzz: %s\n", what);
        std::abort();
    }
}

// The block, with every access checked.
class Block {
public:
    explicit Block(std::size_t size) : bytes_(size, 0) {}
    std::size_t Size() const { return bytes_.size(); }
    unsigned char* Data() { return bytes_.data(); }
    unsigned Byte(std::size_t at) const {
        Require(at < bytes_.size(), "a read past the block");
        return bytes_[at];
    }
    unsigned Word(std::size_t at) const { return Byte(at) | (Byte(at + 1) << 8); }
    void Put(std::size_t at, unsigned char byte) {
        Require(at < bytes_.size(), "a write past the block");
        bytes_[at] = byte;
    }

private:
    std::vector<unsigned char> bytes_;
};

std::size_t Align(std::size_t node, std::size_t at) {
    return node + ((at - node + 3) & ~static_cast<std::size_t>(3));
}

// A node: its length, value length and type words, then its name up to a zero word.
std::size_t NameEnd(const Block& block, std::size_t node) {
    std::size_t at = node + 6;
    while (block.Word(at) != 0)
        at += 2;
    return at + 2;
}
std::size_t ValueOf(const Block& block, std::size_t node) {
    return Align(node, NameEnd(block, node));
}
std::size_t ChildrenOf(const Block& block, std::size_t node) {
    const std::size_t valueBytes = block.Word(node + 2) * (block.Word(node + 4) != 0 ? 2 : 1);
    return ValueOf(block, node) + ((valueBytes + 3) & ~static_cast<std::size_t>(3));
}

unsigned Lower(unsigned c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

// The child of `node` named `key` (letter case ignored), as the system looks for it: children
// follow one another while they start inside the node; a child of length 0 ends the search.
bool FindChild(const Block& block, std::size_t node, const std::string& key, std::size_t* found) {
    const std::size_t end = node + block.Word(node);
    for (std::size_t child = ChildrenOf(block, node); child < end;) {
        std::size_t i = 0;
        for (; i < key.size(); ++i) {
            const unsigned c = block.Word(child + 6 + 2 * i);
            if (Lower(c) != Lower(static_cast<unsigned char>(key[i])) || c == 0)
                break;
        }
        if (i == key.size() && block.Word(child + 6 + 2 * i) == 0) {
            *found = child;
            return true;
        }
        const std::size_t length = block.Word(child);
        if (length == 0)
            return false;
        child = child + ((length + 3) & ~static_cast<std::size_t>(3));
    }
    return false;
}

bool Query(const Block& block, const std::vector<std::string>& path, std::size_t* node) {
    *node = 0;
    for (const std::string& key : path) {
        if (!FindChild(block, *node, key, node))
            return false;
    }
    return true;
}

// The ANSI copy of the text value of `node`, put after the block as far in as the value is
// in it, in at most as many bytes as the root's length less that distance (none when the
// value lies beyond it); the whole text is read even when none of it fits. Then the text as
// the program reads it there: up to its zero, and in any case up to the end of the block.
std::string CopyText(Block& block, std::size_t node) {
    const std::size_t root = block.Word(0);
    const std::size_t value = ValueOf(block, node);
    const std::size_t copy = root + 4 + value;
    std::vector<unsigned char> text;
    for (std::size_t at = value;; at += 2) {
        const unsigned c = block.Word(at);
        text.push_back(static_cast<unsigned char>(c < 0x100 ? c : '?'));
        if (c == 0)
            break;
    }
    const std::size_t room = root > value ? root - value : 0;
    for (std::size_t i = 0; i < text.size() && i < room; ++i)
        block.Put(copy + i, text[i]);
    std::string read;
    for (std::size_t at = copy; at < block.Size() && block.Byte(at) != 0; ++at)
        read += static_cast<char>(block.Byte(at));
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFF)
        return 0;
    Block block(2 * size + 4);
    if (size > 0)
        std::memcpy(block.Data(), data, size);
    const std::size_t root = block.Word(0);
    if (root + 4 <= block.Size())
        std::memcpy(block.Data() + root, "FE2X", 4);

    if (!inspect::VersionBlockIsSound(block.Data(), block.Size()))
        return 0;
    Require(2 * root + 4 <= block.Size(), "a block without room for its ANSI copies passed");

    std::size_t node = 0;
    if (!Query(block, {"VarFileInfo", "Translation"}, &node))
        return 0;
    const std::size_t value = ValueOf(block, node);
    const std::size_t length = block.Word(node + 2);
    std::uint32_t key = 0;
    if (length >= 4)
        Require(value + 4 <= block.Size(), "a translation value past the block");
    std::vector<unsigned char> entry;
    for (std::size_t i = 0; i < length && i < 4; ++i)
        entry.push_back(static_cast<unsigned char>(block.Byte(value + i)));
    if (!inspect::TranslationKeyFromValue(entry.data(), length, &key))
        return 0;

    char table[9];
    std::snprintf(table, sizeof(table), "%08lx", static_cast<unsigned long>(key));
    for (const char* name : {"CompanyName", "ProductName"}) {
        if (Query(block, {"StringFileInfo", table, name}, &node))
            CopyText(block, node);
    }
    return 0;
}
