#include "tests/support/run_key.h"

#include "ui/Handles.h"

#include <windows.h>

namespace testing_support {

namespace {
const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kValueName[] = "Snoopsweep";

ui::RegKey OpenRunKey(REGSAM access) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, access, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return ui::RegKey();
    return ui::RegKey(key);
}
} // namespace

bool ReadRunValue(std::string* data, unsigned long* type, unsigned long* size) {
    ui::RegKey key = OpenRunKey(KEY_QUERY_VALUE);
    char buffer[2048] = {};
    DWORD valueType = 0;
    DWORD valueSize = sizeof(buffer) - 1;
    if (!key || ::RegQueryValueExA(key.get(), kValueName, nullptr, &valueType,
                                   reinterpret_cast<BYTE*>(buffer), &valueSize) != ERROR_SUCCESS)
        return false;
    if (data)
        *data = std::string(buffer, valueSize).c_str();
    if (type)
        *type = valueType;
    if (size)
        *size = valueSize;
    return true;
}

bool WriteRunValue(const std::string& data) {
    ui::RegKey key = OpenRunKey(KEY_SET_VALUE);
    return key && ::RegSetValueExA(key.get(), kValueName, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(data.c_str()),
                                   static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

void DeleteRunValue() {
    ui::RegKey key = OpenRunKey(KEY_SET_VALUE);
    if (key)
        ::RegDeleteValueA(key.get(), kValueName);
}

} // namespace testing_support
