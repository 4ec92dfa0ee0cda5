#include "inspect/FileVersionInfo.h"

#include "inspect/VersionQuery.h"

#include <cstring>
#include <new>

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
        !inspect::VersionBlockIsSound(m_block.get(), size)) {
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
