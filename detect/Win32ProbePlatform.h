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
constexpr ULONG_PTR kRoundKeyMark = 0x5353524B;  // a key of the rounds (detect/KeyRounds.h)

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

// A thread of the program's that sets a low-level keyboard hook of the program's and takes it
// away on command. The hook procedure runs on that thread and finds the context it was given
// through Context(). Every wait on it lasts until a deadline (a GetTickCount64 time) at most; a
// command that is not carried out in time still is later, and is told apart by its number.
class HookThread {
public:
    HookThread(HOOKPROC procedure, void* context) : procedure_(procedure), context_(context) {}
    // Ends the thread, which takes its hook away.
    ~HookThread();
    HookThread(const HookThread&) = delete;
    HookThread& operator=(const HookThread&) = delete;

    // Starts the thread on the first call; false when it could not start or has not started
    // by the deadline.
    bool Start(ULONGLONG deadline);
    // Sets the hook, now at the head of the chain; true when it is set.
    bool Install(ULONGLONG deadline);
    // Takes the hook away; the command goes even when the time is up.
    bool Remove(ULONGLONG deadline);
    // Waits until the thread has carried out every command given, or the deadline passes.
    bool CaughtUp(ULONGLONG deadline);

    // The context of the hook thread that calls this.
    static void* Context();

private:
    static DWORD WINAPI Main(void* parameter);
    // Gives the thread a command and waits until it is carried out or the deadline passes.
    bool Command(UINT message, ULONGLONG deadline);

    HOOKPROC procedure_;
    void* context_;
    ui::Handle thread_;
    DWORD id_ = 0;
    ui::Handle done_;                     // the thread has carried out a command
    unsigned issued_ = 0;                 // the number of the last command given
    std::atomic<unsigned> carriedOut_{0}; // the number of the last command carried out
    std::atomic<bool> hooked_{false};
    bool failed_ = false;
};

// Milliseconds left until `deadline` (a GetTickCount64 time); 0 once it has passed.
DWORD Remaining(ULONGLONG deadline);

// Two threads of the program, each with a low-level keyboard hook for the time of one
// measurement: the probe hook, then ahead of it the calibration hook.
class LowLevelChainTimer {
public:
    LowLevelChainTimer() = default;
    LowLevelChainTimer(const LowLevelChainTimer&) = delete;
    LowLevelChainTimer& operator=(const LowLevelChainTimer&) = delete;

    // Sets both hooks, calls `sendKey` (false when it sent nothing; `keySent` tells), waits a
    // moment for its key events to pass through both and takes the hooks away. The threads
    // start on the first call. All its waits together last at most kBudgetMs; a thread that
    // has not carried out an earlier command yet is not given another, and the call times
    // nothing.
    std::vector<ChainTiming> Time(bool (*sendKey)(), bool& keySent);

    static constexpr DWORD kBudgetMs = 200;

    // One thread with its hook and what the hook timed.
    struct Worker {
        Worker() : thread(TimeNextHook, this) {}
        static LRESULT CALLBACK TimeNextHook(int code, WPARAM wParam, LPARAM lParam);

        HookThread thread;
        ui::Handle sampled; // the thread's hook has timed enough key events
        static constexpr int kSamples = 8;
        std::atomic<int> count{0};
        double ms[kSamples] = {};
        int wanted = 0; // signal `sampled` once this many events are timed
    };

private:
    bool Start(ULONGLONG deadline);

    Worker workers_[2]; // the probe hook's thread, the calibration hook's thread
};

class Win32ProbePlatform : public ProbePlatform {
public:
    std::vector<ChainTiming> TimeLowLevelChain(bool& keySent) override;
    bool ReadPressedBit(int key) override;
    bool InjectProbeKey(int key) override;
    bool ProbeKeyArrived() override { return filter_.Arrived(); }
    bool HotkeyTaken(int key) override;

private:
    ProbeKeyFilter filter_;
    LowLevelChainTimer chain_;
};

} // namespace detect
