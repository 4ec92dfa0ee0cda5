#include "inspect/FileVersionInfo.h"

#include "inspect/VersionQuery.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace {

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

std::size_t WordAt(const BYTE* block, std::size_t offset) {
    return block[offset] | (block[offset + 1] << 8);
}

// Whether the node at `node` lies within its parent, which ends at `limit`: header and name
// inside it, the value inside the block's first `end` bytes; and so, `depth` levels down, its
// children. A value may run on past its own node while it stays in the block: what is read is
// still the block's, and a string's copy still ends at its zero. A node of length 0 ends its
// parent's list, but a query may still read its name and value.
bool NodeInside(const BYTE* block, std::size_t node, std::size_t limit, std::size_t end,
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

// Whether queries can walk the `size` bytes GetFileVersionInfoA filled without reading or
// writing outside them: the root's length leaves room for the ANSI copies (twice itself plus 4,
// what GetFileVersionInfoSizeA gives for a sound block), and every node a query can visit lies
// within its parent. A 16-bit block (its name's first letter where the type is) is refused: it
// comes from 16-bit programs, never loaded in this process, and is laid out differently.
bool BlockIsSound(const BYTE* block, std::size_t size) {
    if (size < kNodeHeaderSize)
        return false;
    const std::size_t length = WordAt(block, 0);
    if (2 * length + 4 > size || block[4] >= ' ')
        return false;
    return NodeInside(block, 0, length, length, kQueryDepth);
}

} // namespace

CFileVersionInfo::CFileVersionInfo() : m_blockSize(0), m_translation(0) {}

CFileVersionInfo::~CFileVersionInfo() {
    Close();
}

BOOL CFileVersionInfo::Open(const char* path) {
    // Never keep another file's block: a failed Open leaves the reader empty.
    Close();
    if (path == nullptr)
        return FALSE;

    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return FALSE;
    // Zeroed: the ANSI copy of a value stored without its terminating zero then still ends.
    m_block.reset(new (std::nothrow) BYTE[size]());
    if (!m_block)
        return FALSE;
    m_blockSize = size;
    if (!::GetFileVersionInfoA(path, handle, size, m_block.get()) ||
        !BlockIsSound(m_block.get(), size)) {
        Close();
        return FALSE;
    }

    void* value = nullptr;
    UINT length = 0;
    std::uint32_t key = 0;
    if (!::VerQueryValueA(m_block.get(), "\\VarFileInfo\\Translation", &value, &length) ||
        !inspect::TranslationKeyFromValue(value, length, &key)) {
        Close();
        return FALSE;
    }
    m_translation = key;
    return TRUE;
}

void CFileVersionInfo::Close() {
    m_block.reset();
    m_blockSize = 0;
    m_translation = 0;
}

std::string CFileVersionInfo::GetValue(const char* name, DWORD translation) const {
    if (!m_block || name == nullptr)
        return std::string();
    const std::string query =
        inspect::StringValueQuery(translation != 0 ? translation : m_translation, name);
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(m_block.get(), query.c_str(), &value, &length) || value == nullptr)
        return std::string();
    // The text ends at its NUL, and in any case at the end of the block that holds it.
    const char* text = static_cast<const char*>(value);
    const char* blockEnd = reinterpret_cast<const char*>(m_block.get()) + m_blockSize;
    if (text < reinterpret_cast<const char*>(m_block.get()) || text >= blockEnd)
        return std::string();
    const void* end = std::memchr(text, '\0', static_cast<std::size_t>(blockEnd - text));
    return std::string(text, end ? static_cast<const char*>(end) : blockEnd);
}

std::string CFileVersionInfo::GetCompanyName() const {
    return GetValue("CompanyName");
}

std::string CFileVersionInfo::GetProductName() const {
    return GetValue("ProductName");
}
