// The "Avvia con Windows" switch: the program's value under the machine-wide Run key.
#pragma once

namespace app {

// True when a value named after the program exists under the Run key, whatever it holds.
bool IsStartWithWindowsSet();

// Writes the program's own path (ticked) or deletes the value (unticked). Silent on failure.
void ApplyStartWithWindows(bool ticked);

} // namespace app
