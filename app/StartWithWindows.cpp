#include "app/StartWithWindows.h"

#include "app/RunValue.h"
#include "ui/WinApp.h"

#include <windows.h>

#include <shlwapi.h>

namespace app {

namespace {
const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kValueName[] = "Snoopsweep";
} // namespace

bool IsStartWithWindowsSet() {
    DWORD type = REG_SZ;
    char data[MAX_PATH];
    DWORD size = sizeof(data);
    return ::SHGetValueA(HKEY_LOCAL_MACHINE, kRunKey, kValueName, &type, data, &size) ==
           ERROR_SUCCESS;
}

void ApplyStartWithWindows(bool ticked) {
    if (!ticked) {
        ::SHDeleteValueA(HKEY_LOCAL_MACHINE, kRunKey, kValueName);
        return;
    }
    const std::string path = ui::ModuleFileName();
    if (path.empty())
        return;
    const std::string data = RunValueData(path);
    ::SHSetValueA(HKEY_LOCAL_MACHINE, kRunKey, kValueName, REG_SZ, data.c_str(),
                  static_cast<DWORD>(data.size()));
}

} // namespace app
