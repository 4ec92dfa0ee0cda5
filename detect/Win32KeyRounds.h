// The rounds' platform on Win32: their keys, the bait for a hotkey grabber, the running
// processes, and the bracket,
// a low-level keyboard hook of the program's on a thread of its own that reads the counters
// around passing each of its keys on. Lives on the user-interface thread.
#pragma once

#include "detect/KeyRounds.h"
#include "detect/KeyboardProbes.h"
#include "detect/Win32ProbePlatform.h"

#include <windows.h>

#include <atomic>

namespace detect {

class Win32RoundPlatform : public RoundPlatform {
public:
    // `probes` tells which hotkeys another program holds.
    explicit Win32RoundPlatform(ProbePlatform& probes) : probes_(probes) {}

    bool InjectRoundKey(int key) override;
    std::optional<BracketCounts> Bracket(WakeCounterSource& counters,
                                         const std::vector<ThreadWakes>& threads,
                                         int keys) override;
    std::optional<int> BaitKey() override;
    std::vector<uint32_t> Processes() override;
    uint64_t NowMs() override { return ::GetTickCount64(); }

    // All the bracket's waits together last at most this long.
    static constexpr DWORD kBracketBudgetMs = 500;

    // What the bracket's hook works on; shared between its thread and the caller's.
    struct Bracketing {
        SRWLOCK lock = SRWLOCK_INIT;
        bool open = false; // the hook reads the counters for the round's keys
        WakeCounterSource* counters = nullptr;
        std::vector<ThreadWakes> threads;
        std::vector<int> risesInside;
        int events = 0;
        int wanted = 0;
        ui::Handle done; // `wanted` events went through
    };

private:
    static LRESULT CALLBACK BracketNextHook(int code, WPARAM wParam, LPARAM lParam);

    ProbePlatform& probes_;
    Bracketing bracketing_;
    HookThread thread_{BracketNextHook, &bracketing_};
};

} // namespace detect
