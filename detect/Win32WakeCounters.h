// The wake counters as the system keeps them. Under Wine: each thread's write system calls on
// the Linux side, read from /proc through Wine's file system (detect/WineProcessMap.h); 64
// bits. On Windows: each thread's context switches from the system's process list; 32 bits.
#pragma once

#include "detect/WakeCounters.h"

#include <memory>

namespace detect {

// Whether the program runs under Wine (ntdll.dll exports wine_get_version).
bool RunsUnderWine();

// The source of the system the program runs on.
std::unique_ptr<WakeCounterSource> MakeWakeCounterSource();

// Windows' source, whatever the system. Wine fills the system's process list too, but keeps
// every thread's context switches at 0 there.
std::unique_ptr<WakeCounterSource> MakeWindowsWakeCounterSource();

} // namespace detect
