#include "inspect/VersionQuery.h"

#include <cstdio>

namespace inspect {

namespace {
// One translation entry: a 16-bit language identifier and a 16-bit code page.
constexpr std::size_t kTranslationEntrySize = 4;

// A version block is a tree of nodes. Each starts on a 4-byte boundary with three 16-bit
// words: its length (itself and its children), its value's length (characters for text, bytes
// for binary) and its type (0 binary, else text); then its name, UTF-16 up to a zero; its
// value from the next 4-byte boundary; its children from the boundary after that.
// VerQueryValueA follows these lengths as they stand, and puts the ANSI copy of a text value
// after the block (the root's length plus 4 bytes in), as far in as the value is in the block.
constexpr std::size_t kNodeHeaderSize = 6;
// How deep a query goes below the root: \StringFileInfo\<table>\<name>.
constexpr int kQueryDepth = 3;

std::size_t AlignedTo4(std::size_t offset) {
    return (offset + 3) & ~static_cast<std::size_t>(3);
}

std::size_t WordAt(const unsigned char* block, std::size_t offset) {
    return block[offset] | (block[offset + 1] << 8);
}

// Whether the node at `node` lies within its parent, which ends at `limit`: header and name
// inside it, the value inside the block's first `end` bytes; and so, `depth` levels down, its
// children. A value may run on past its own node while it stays in the block: what is read is
// still the block's, and a string's copy still ends at its zero. A node of length 0 ends its
// parent's list, but a query may still read its name and value.
bool NodeInside(const unsigned char* block, std::size_t node, std::size_t limit, std::size_t end,
                int depth) {
    if (node + kNodeHeaderSize > limit)
        return false;
    const std::size_t length = WordAt(block, node);
    const std::size_t nodeEnd = length != 0 ? node + length : limit;
    if (nodeEnd > limit)
        return false;
    std::size_t name = node + kNodeHeaderSize;
    while (name + 2 <= nodeEnd && WordAt(block, name) != 0)
        name += 2;
    if (name + 2 > nodeEnd)
        return false;
    const std::size_t value = AlignedTo4(name + 2);
    const std::size_t valueSize = WordAt(block, node + 2) * (WordAt(block, node + 4) != 0 ? 2 : 1);
    if (valueSize != 0 && value + valueSize > end)
        return false;
    if (depth == 0)
        return true;
    for (std::size_t child = AlignedTo4(value + valueSize); child < node + length;) {
        if (!NodeInside(block, child, node + length, end, depth - 1))
            return false;
        const std::size_t childLength = WordAt(block, child);
        if (childLength == 0)
            break;
        child = AlignedTo4(child + childLength);
    }
    return true;
}
} // namespace

bool TranslationKeyFromValue(const void* value, std::size_t length, std::uint32_t* key) {
    if (value == nullptr || key == nullptr || length < kTranslationEntrySize)
        return false;
    // The resource stores its words little-endian, whatever the host.
    const unsigned char* bytes = static_cast<const unsigned char*>(value);
    const std::uint32_t language = bytes[0] | (bytes[1] << 8);
    const std::uint32_t codePage = bytes[2] | (bytes[3] << 8);
    *key = (language << 16) | codePage;
    return true;
}

bool VersionBlockIsSound(const void* data, std::size_t size) {
    const unsigned char* block = static_cast<const unsigned char*>(data);
    if (block == nullptr)
        return false;
    if (size < kNodeHeaderSize)
        return false;
    const std::size_t length = WordAt(block, 0);
    if (2 * length + 4 > size || block[4] >= ' ')
        return false;
    return NodeInside(block, 0, length, length, kQueryDepth);
}

std::string StringValueQuery(std::uint32_t key, const std::string& name) {
    char table[9];
    std::snprintf(table, sizeof(table), "%08lx", static_cast<unsigned long>(key));
    return "\\StringFileInfo\\" + std::string(table) + "\\" + name;
}

} // namespace inspect
