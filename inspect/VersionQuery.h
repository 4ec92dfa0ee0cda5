// The parts of a version-resource query that need no system call. Portable: no Win32 types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace inspect {

// The key of a file's string table, from the first entry of its translation table (the value
// of "\VarFileInfo\Translation"). An entry is two 16-bit words, the language identifier and
// then the code page; the key holds the language in its high half and the code page in its
// low half, so 0x0409 with 0x04B0 gives 0x040904B0. False, with `key` untouched, when the
// value is too short to hold one whole entry.
bool TranslationKeyFromValue(const void* value, std::size_t length, std::uint32_t* key);

// Whether queries can walk the `size` bytes of a version block as GetFileVersionInfoA fills them
// without reading or writing outside them: the root's length leaves room for the ANSI copies (twice
// itself plus 4, what GetFileVersionInfoSizeA gives for a sound block), and every node a query can
// visit lies within its parent. A 16-bit block (its name's first letter where the type is) is
// refused: it comes from 16-bit programs, never loaded in this process, and is laid out
// differently.
bool VersionBlockIsSound(const void* block, std::size_t size);

// The query path of a string value in the table of `key`:
// StringValueQuery(0x040904B0, "CompanyName") is "\StringFileInfo\040904b0\CompanyName".
std::string StringValueQuery(std::uint32_t key, const std::string& name);

} // namespace inspect
