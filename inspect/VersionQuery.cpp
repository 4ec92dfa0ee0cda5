#include "inspect/VersionQuery.h"

#include <cstdio>

namespace inspect {

namespace {
// One translation entry: a 16-bit language identifier and a 16-bit code page.
constexpr std::size_t kTranslationEntrySize = 4;
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

std::string StringValueQuery(std::uint32_t key, const std::string& name) {
    char table[9];
    std::snprintf(table, sizeof(table), "%08lx", static_cast<unsigned long>(key));
    return "\\StringFileInfo\\" + std::string(table) + "\\" + name;
}

} // namespace inspect
