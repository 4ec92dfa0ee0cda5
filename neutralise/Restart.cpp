#include "neutralise/Restart.h"

#include "ui/Handles.h"

#include <windows.h>

namespace neutralise {

void RestartWindows() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    ui::Handle owner(token);
    TOKEN_PRIVILEGES privileges = {};
    if (!::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
        return;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ::SetLastError(ERROR_SUCCESS);
    ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    // Also stops when the account does not hold the privilege (ERROR_NOT_ALL_ASSIGNED).
    if (::GetLastError() != ERROR_SUCCESS)
        return;
    ::ExitWindowsEx(EWX_REBOOT, 0);
}

} // namespace neutralise
