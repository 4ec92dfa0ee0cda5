#include "detect/Win32ScanPlatform.h"

#include "detect/Win32KeyInput.h"

#include "inspect/FileVersionInfo.h"
#include "inspect/ModuleEnumerator.h"
#include "ui/Handles.h"

namespace detect {

namespace {

// How long a tick waits at most for its F11 to reach this thread.
constexpr ULONGLONG kKeyWaitMs = 50;

} // namespace

bool Win32ScanPlatform::IsActive() {
    return window_.Hwnd() != nullptr && ::GetActiveWindow() == window_.Hwnd();
}

void Win32ScanPlatform::InjectF11() {
    // Not while the user holds a modifier: the key would make a shortcut with it. The pass
    // still runs; a hook DLL comes in with the next F11.
    if (!PressAndRelease(VK_F11, 0))
        return;
    WaitForTheKey();
    if (helper_ && window_.Hwnd())
        helper_->Probe(window_.Hwnd());
}

void Win32ScanPlatform::WaitForTheKey() {
    // The system calls the keyboard hooks, and loads their DLLs here, when this thread looks
    // at the key. Looking at it now, without taking it off the queue, lets this tick's pass
    // find them rather than the next one's; the dialog still reads the key afterwards. The key
    // may take a moment to arrive: wait for it, woken by keyboard input only, and not for long.
    const ULONGLONG deadline = ::GetTickCount64() + kKeyWaitMs;
    MSG key;
    while (!::PeekMessageA(&key, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE | PM_QS_INPUT)) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline ||
            ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_KEY,
                                          0) != WAIT_OBJECT_0)
            return;
    }
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
    if (helper_) {
        for (const std::string& path : helper_->Modules())
            visit(path);
    }
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
