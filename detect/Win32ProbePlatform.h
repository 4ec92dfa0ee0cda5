// The keyboard probes on Win32: two low-level keyboard hooks of the program's own that time
// the chain, the keys' asynchronous state, hotkeys, and probe keys that the program's thread
// takes in and drops before any control sees them. Lives on the user-interface thread.
#pragma once

#include "detect/KeyboardProbes.h"
#include "ui/Handles.h"

#include <windows.h>

#include <atomic>

namespace detect {

// What the injected keys carry as their extra information, so that the program knows and
// drops them.
constexpr ULONG_PTR kProbeKeyMark = 0x5353504B;  // the poller probe's key
constexpr ULONG_PTR kChainKeyMark = 0x53534C4C;  // the key sent through the low-level chain
constexpr ULONG_PTR kHelperKeyMark = 0x53534833; // the 32-bit helper's bait key

// Drops the keys that carry one of the marks above from the modal loops of this thread (the
// dialog's and its boxes'), and notes the arrival of the poller probe's key.
class ProbeKeyFilter {
public:
    ProbeKeyFilter();
    ~ProbeKeyFilter();
    ProbeKeyFilter(const ProbeKeyFilter&) = delete;
    ProbeKeyFilter& operator=(const ProbeKeyFilter&) = delete;

    // Waits for the press of `key` with kProbeKeyMark from now on.
    void Expect(int key) {
        expected_ = key;
        arrived_ = false;
    }
    bool Arrived() const { return arrived_; }

private:
    static LRESULT CALLBACK Filter(int code, WPARAM wParam, LPARAM lParam);

    ui::Hook hook_;
    int expected_ = 0;
    bool arrived_ = false;
};

// Two threads of the program, each with a low-level keyboard hook for the time of one
// measurement: the probe hook, then ahead of it the calibration hook.
class LowLevelChainTimer {
public:
    LowLevelChainTimer() = default;
    ~LowLevelChainTimer();
    LowLevelChainTimer(const LowLevelChainTimer&) = delete;
    LowLevelChainTimer& operator=(const LowLevelChainTimer&) = delete;

    // Sets both hooks, calls `sendKey` (false when it sent nothing), waits a moment for its
    // key events to pass through both and takes the hooks away. The threads start on the first
    // call. All its waits together last at most kBudgetMs; a thread that has not carried out
    // an earlier command yet is not given another, and the call times nothing.
    std::vector<ChainTiming> Time(bool (*sendKey)());

    static constexpr DWORD kBudgetMs = 200;

    // One thread with its hook; public for the hook procedure.
    struct Worker {
        ui::Handle thread;
        DWORD id = 0;
        ui::Handle done;                     // the thread has carried out a command
        unsigned issued = 0;                 // the number of the last command given
        std::atomic<unsigned> carriedOut{0}; // the number of the last command carried out
        ui::Handle sampled;                  // the thread's hook has timed enough key events
        HHOOK hook = nullptr;
        static constexpr int kSamples = 8;
        std::atomic<int> count{0};
        double ms[kSamples] = {};
        int wanted = 0; // signal `sampled` once this many events are timed
    };

private:
    bool Start(ULONGLONG deadline);
    // Gives the thread a command and waits until it is carried out or the deadline passes.
    bool Command(Worker& worker, UINT message, ULONGLONG deadline);
    // Waits until the thread has carried out every command given, or the deadline passes.
    static bool CaughtUp(Worker& worker, ULONGLONG deadline);

    Worker workers_[2]; // the probe hook's thread, the calibration hook's thread
    bool started_ = false;
    bool failed_ = false;
};

class Win32ProbePlatform : public ProbePlatform {
public:
    std::vector<ChainTiming> TimeLowLevelChain() override;
    bool ReadPressedBit(int key) override;
    bool InjectProbeKey(int key) override;
    bool ProbeKeyArrived() override { return filter_.Arrived(); }
    bool HotkeyTaken(int key) override;

private:
    ProbeKeyFilter filter_;
    LowLevelChainTimer chain_;
};

} // namespace detect
