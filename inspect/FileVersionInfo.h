// String values (company, product and the like) of a file's version resource, read from the
// file on disk.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

class CFileVersionInfo {
public:
    CFileVersionInfo();
    ~CFileVersionInfo();
    CFileVersionInfo(const CFileVersionInfo&) = delete;
    CFileVersionInfo& operator=(const CFileVersionInfo&) = delete;

    // Loads the file's version block and the key of the first entry of its translation table.
    // FALSE when the file has no usable version resource (none, no translation table, or one
    // too short for an entry, or a block whose lengths run past its end or that leaves no room
    // for the system's ANSI copies of its texts); the reader is then empty, whatever it held
    // before.
    BOOL Open(const char* path);
    // Releases the block; the reader is empty again.
    void Close();

    // A string value from the table of `translation` (language in the high 16 bits, code page
    // in the low 16), or of the stored key when it is 0. Empty when no block is loaded or the
    // table has no such value. Returned as stored, letter case included.
    std::string GetValue(const char* name, DWORD translation = 0) const;
    std::string GetCompanyName() const;
    std::string GetProductName() const;

    // The stored key: 0x040904B0 for US English with the Unicode code page; 0 when empty.
    DWORD GetTranslation() const noexcept { return m_translation; }

private:
    std::unique_ptr<BYTE[]> m_block;
    DWORD m_blockSize;
    DWORD m_translation;
};
