#include "detect/Win32ScanPlatform.h"

#include "inspect/FileVersionInfo.h"
#include "inspect/ModuleEnumerator.h"
#include "ui/Handles.h"

namespace detect {

bool Win32ScanPlatform::IsActive() {
    return window_.Hwnd() != nullptr && ::GetActiveWindow() == window_.Hwnd();
}

void Win32ScanPlatform::InjectF11() {
    ::keybd_event(VK_F11, 0, 0, 0);
    ::keybd_event(VK_F11, 0, KEYEVENTF_KEYUP, 0);
}

void Win32ScanPlatform::ForEachModule(const std::function<void(const std::string&)>& visit) {
    CModuleEnumerator enumerator;
    // The pass walks the way the enumerator chose when it was built; a pass that wanted another
    // way would set it here.
    enumerator.SetMode(enumerator.GetMode());
    ModuleEntry entry;
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = enumerator.GetFirstModule(self, entry); more;
         more = enumerator.GetNextModule(self, entry))
        visit(entry.Path());
}

std::optional<int64_t> Win32ScanPlatform::CreationTime(const std::string& path) {
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA(path.c_str(), &data));
    if (!find)
        return std::nullopt;
    const uint64_t ticks = (static_cast<uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) |
                           data.ftCreationTime.dwLowDateTime;
    return FileTimeSeconds(ticks);
}

VendorNames Win32ScanPlatform::Vendor(const std::string& path) {
    CFileVersionInfo info;
    info.Open(path.c_str());
    VendorNames names{info.GetCompanyName(), info.GetProductName()};
    info.Close();
    return names;
}

} // namespace detect
