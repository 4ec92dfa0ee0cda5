#include "detect/Win32KeyInput.h"

#include <initializer_list>

namespace detect {

namespace {

bool Down(int key) {
    return (::GetAsyncKeyState(key) & 0x8000) != 0;
}

// A modifier that the sticky keys hold for the next key, or lock.
bool StickyModifierSet() {
    STICKYKEYS sticky = {};
    sticky.cbSize = sizeof(sticky);
    if (!::SystemParametersInfoA(SPI_GETSTICKYKEYS, sizeof(sticky), &sticky, 0) ||
        !(sticky.dwFlags & SKF_STICKYKEYSON))
        return false;
    constexpr DWORD kHeld = SKF_LSHIFTLATCHED | SKF_RSHIFTLATCHED | SKF_LCTLLATCHED |
                            SKF_RCTLLATCHED | SKF_LALTLATCHED | SKF_RALTLATCHED | SKF_LWINLATCHED |
                            SKF_RWINLATCHED | SKF_LSHIFTLOCKED | SKF_RSHIFTLOCKED | SKF_LCTLLOCKED |
                            SKF_RCTLLOCKED | SKF_LALTLOCKED | SKF_RALTLOCKED | SKF_LWINLOCKED |
                            SKF_RWINLOCKED;
    return (sticky.dwFlags & kHeld) != 0;
}

} // namespace

bool KeysMayBeInjected() {
    const HWND front = ::GetForegroundWindow();
    DWORD process = 0;
    if (!front || !::GetWindowThreadProcessId(front, &process) ||
        process != ::GetCurrentProcessId())
        return false;
    for (int key : {VK_SHIFT, VK_LSHIFT, VK_RSHIFT, VK_CONTROL, VK_LCONTROL, VK_RCONTROL, VK_MENU,
                    VK_LMENU, VK_RMENU, VK_LWIN, VK_RWIN}) {
        if (Down(key))
            return false;
    }
    return !StickyModifierSet();
}

bool PressAndRelease(WORD key, ULONG_PTR mark) {
    if (!KeysMayBeInjected())
        return false;
    INPUT inputs[2] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(::MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
        input.ki.dwExtraInfo = mark;
    }
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return ::SendInput(2, inputs, sizeof(INPUT)) == 2;
}

} // namespace detect
