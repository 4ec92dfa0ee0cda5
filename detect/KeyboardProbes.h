// Keyloggers that load no DLL into the program: a low-level keyboard hook, a loop over the
// keys' asynchronous state, and every letter and digit taken as a hotkey. Each probe gives a
// vote now and then; a finding stands only while several recent votes of its probe agree.
// Portable: the system is reached through ProbePlatform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace detect {

// One key event through the low-level keyboard chain, timed by two hooks of the program: the
// probe hook, and ahead of it the calibration hook on another thread, which passes the key on
// to the probe hook. Milliseconds.
struct ChainTiming {
    // How long the probe hook's passing the key on took: nearly nothing when no hook follows
    // it, a round trip to another thread when one does.
    double probeNextMs = 0;
    // How long the calibration hook's passing the key on took: one hop to the probe hook's
    // thread, plus all that the probe hook did.
    double calibrationNextMs = 0;
};

// Whether a hook follows the probe hook: its passing on costs more than half of the program's
// own hop between two threads. The least of each is taken, since being held up only adds to
// a time. None when the timings cannot tell (no key went through both hooks).
std::optional<bool> AnotherHookFollows(const std::vector<ChainTiming>& timings);

// Keys whose "pressed since the last read" bit the poller probe watches, in turn: the letters,
// the digits and F2 to F10 (F1 asks for help, F11 is the scan's own key, F12 is reserved for
// debuggers).
const std::vector<int>& PolledKeys();
// Keys that the hotkey probe tries to take without modifiers: the letters and the digits.
const std::vector<int>& HotkeyKeys();
// Someone holds the keyboard when at least a third of the bare letters and digits are taken.
bool KeyboardHeld(int taken, int tried);

// What the probes need from the system.
class ProbePlatform {
public:
    virtual ~ProbePlatform() = default;
    // Puts the two hooks of the program at the head of the low-level keyboard chain, sends a
    // harmless key through it and takes the hooks away again; the timing of each key event
    // that went through both. Empty when the hooks could not be set, the key could not be
    // sent safely (as for InjectProbeKey) or no key came through. `keySent` tells whether its
    // key (F11, pressed and released) went in.
    virtual std::vector<ChainTiming> TimeLowLevelChain(bool& keySent) = 0;
    // Whether `key` was pressed since the last read of its state, by anyone; the read
    // clears that.
    virtual bool ReadPressedBit(int key) = 0;
    // Presses and releases `key` in the system's input; the program's thread takes it in and
    // drops it, so it reaches no control. False when the key was not pressed: while the user
    // holds a modifier, or another window is in front, the key could reach another program.
    virtual bool InjectProbeKey(int key) = 0;
    // Whether the program's thread has taken in the press of the probe key last injected.
    virtual bool ProbeKeyArrived() = 0;
    // Tries to take `key` without modifiers as a hotkey and gives it back at once: true when
    // another program holds it.
    virtual bool HotkeyTaken(int key) = 0;
};

// The last five votes of one probe.
class Votes {
public:
    void Add(bool yes);
    // At least three of the last five votes say yes.
    bool Agreed() const;
    void Clear() { bits_ = 0; }

private:
    uint32_t bits_ = 0; // newest vote in bit 0
};

// Keys that another test would press on a tick that falls in a round of keys. The round's F11
// windows carry them, each in place of one of its own F11s: a hook or a sink wakes for any key
// alike, and the quiet windows stay quiet.
class WaitingKeys {
public:
    virtual ~WaitingKeys() = default;
    // Presses the next waiting key, if one waits: true when a key went in.
    virtual bool PressWaitingKey() = 0;
};

class KeyboardProbes : public WaitingKeys {
public:
    explicit KeyboardProbes(ProbePlatform& platform) : platform_(platform) {}

    // A tick with the program's window in front: reads the key injected on the tick before,
    // injects the next one, times the low-level chain and tries the hotkeys.
    void RunActive();
    // The same on a tick during a round of keys: reads the key injected before and tries the
    // hotkeys now; the chain's key and the next key wait for the round to press them.
    void RunDuringRound();
    bool PressWaitingKey() override;
    // A tick with another window in front, or while another test presses its own keys: the
    // key injected last is not read, since the other window's owner may read it legitimately.
    void Pause();

    // The keys of the findings that their probes agree on, as the list shows them.
    std::vector<std::string> Findings() const;

private:
    void ReadPendingKey();
    // Injects the next polled key; false when none went in.
    bool InjectNextKey();
    // Times the low-level chain and votes on what it timed; false when its key did not go in.
    bool TimeChain();
    void TryHotkeys();

    ProbePlatform& platform_;
    Votes lowLevelHook_;
    Votes poller_;
    Votes grabber_;
    int pendingKey_ = 0; // injected on the tick before, not read yet
    size_t nextKey_ = 0;
    // Left by a tick during a round, for the round's F11 windows.
    bool chainWaits_ = false;
    bool keyWaits_ = false;
};

} // namespace detect
