// Every place from which the system starts a program or loads a DLL by itself, read as it is:
// nothing is changed.
#pragma once

#include "inspect/Provenance.h"

#include <vector>

namespace inspect {

// The entries of every place: the Run and RunOnce keys of the machine and of the user (both
// registry views), the user's and the common Startup folders (shortcuts resolved to their
// targets), the services (image path and service DLL), Winlogon's Shell and Userinit,
// AppInit_DLLs (both views), and the scheduled tasks where the task scheduler answers.
// A place that cannot be read is skipped silently.
std::vector<AutostartEntry> ReadAutostartEntries();

} // namespace inspect
