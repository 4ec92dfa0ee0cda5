// How often each thread of the other running programs has woken: the counter that tells
// which program reacts to the keys the program presses for itself. Portable: the Win32 side
// (detect/Win32WakeCounters.h) reads it from the system, the tests' fakes from recordings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace detect {

// One thread of another program and its count of wake-ups so far.
struct ThreadWakes {
    uint32_t process = 0; // the Windows process id
    uint64_t thread = 0;  // the source's own id of the thread, unique while it runs
    uint64_t count = 0;   // wake-ups so far; only differences mean anything
};

class WakeCounterSource {
public:
    virtual ~WakeCounterSource() = default;
    // Looks at the running programs again and watches every process but the program itself
    // and those in `skip` (its own helper). Called before each round; may take a while.
    virtual void Refresh(const std::vector<uint32_t>& skip) = 0;
    // The counts of every thread of the watched processes, now. Threads that could not be
    // read are left out.
    virtual std::vector<ThreadWakes> Snapshot() = 0;
    // The counts of these threads only, now (their `count` is ignored); may be called from
    // any thread of the program, and quickly: it runs inside a keyboard hook.
    virtual std::vector<ThreadWakes> Read(const std::vector<ThreadWakes>& threads) = 0;
    // How many low bits of a count are kept: a count wraps to 0 past 2^CounterBits() - 1.
    virtual unsigned CounterBits() const = 0;
    // The full path of a watched process's program file; empty when it cannot be read.
    virtual std::string ImagePath(uint32_t process) = 0;
};

} // namespace detect
