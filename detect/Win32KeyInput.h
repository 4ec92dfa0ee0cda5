// The keys the program presses into the system's input for itself: the scan's F11 and the
// probes' keys. A key pressed while the user holds a modifier would combine with it into a
// shortcut of some other program (Win+D, Ctrl+W, a hotkey with Shift), and one pressed while
// another window is in front would go to that window's program; so none is pressed then.
#pragma once

#include <windows.h>

namespace detect {

// True when a key pressed now reaches the program alone: a window of the program's is the
// foreground window, and no Shift, Ctrl, Alt or Windows key, left or right, is down or
// latched by the system's sticky keys.
bool KeysMayBeInjected();

// Presses and releases `key` with its real scan code, both events in one go, carrying `mark`
// as their extra information; only when KeysMayBeInjected() holds at that moment. True when
// the key went in.
bool PressAndRelease(WORD key, ULONG_PTR mark);

} // namespace detect
