// Restarting Windows so that renames scheduled for the next start take effect.
#pragma once

namespace neutralise {

// Enables the shutdown privilege of this process and asks the system to reboot, without
// forcing programs to close. Returns once the reboot is requested; silent in every outcome.
void RestartWindows();

} // namespace neutralise
