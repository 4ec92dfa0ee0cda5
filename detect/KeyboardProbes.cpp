#include "detect/KeyboardProbes.h"

#include "detect/ThreatRows.h"

#include <algorithm>
#include <bitset>

namespace detect {

std::optional<bool> AnotherHookFollows(const std::vector<ChainTiming>& timings) {
    if (timings.empty())
        return std::nullopt;
    double next = timings.front().probeNextMs;
    double hop = timings.front().calibrationNextMs - timings.front().probeNextMs;
    for (const ChainTiming& timing : timings) {
        next = std::min(next, timing.probeNextMs);
        hop = std::min(hop, timing.calibrationNextMs - timing.probeNextMs);
    }
    // A hop that took no time says the clock is too coarse to tell anything.
    if (hop <= 0)
        return std::nullopt;
    return next > hop / 2;
}

namespace {

std::vector<int> LettersAndDigits() {
    std::vector<int> keys;
    for (int key = 'A'; key <= 'Z'; ++key)
        keys.push_back(key);
    for (int key = '0'; key <= '9'; ++key)
        keys.push_back(key);
    return keys;
}

constexpr int kF2 = 0x71;
constexpr int kF10 = 0x79;

// Enough votes of the last five for a finding.
constexpr size_t kVotesNeeded = 3;
constexpr uint32_t kLastFive = 0x1F;

} // namespace

const std::vector<int>& PolledKeys() {
    static const std::vector<int> keys = [] {
        std::vector<int> all = LettersAndDigits();
        for (int key = kF2; key <= kF10; ++key)
            all.push_back(key);
        return all;
    }();
    return keys;
}

const std::vector<int>& HotkeyKeys() {
    static const std::vector<int> keys = LettersAndDigits();
    return keys;
}

bool KeyboardHeld(int taken, int tried) {
    return tried > 0 && taken * 3 >= tried;
}

void Votes::Add(bool yes) {
    bits_ = ((bits_ << 1) | (yes ? 1u : 0u)) & kLastFive;
}

bool Votes::Agreed() const {
    return std::bitset<5>(bits_).count() >= kVotesNeeded;
}

void KeyboardProbes::RunActive() {
    chainWaits_ = keyWaits_ = false;
    ReadPendingKey();
    InjectNextKey();
    TimeChain();
    TryHotkeys();
}

void KeyboardProbes::RunDuringRound() {
    ReadPendingKey();
    chainWaits_ = keyWaits_ = true;
    TryHotkeys();
}

bool KeyboardProbes::PressWaitingKey() {
    // The chain first: its vote needs no tick after it. A chain whose hooks could not be set
    // pressed nothing, and the next key takes its place.
    if (chainWaits_) {
        chainWaits_ = false;
        if (TimeChain())
            return true;
    }
    if (keyWaits_) {
        keyWaits_ = false;
        return InjectNextKey();
    }
    return false;
}

void KeyboardProbes::Pause() {
    pendingKey_ = 0;
    chainWaits_ = keyWaits_ = false;
}

bool KeyboardProbes::TimeChain() {
    bool keySent = false;
    if (const auto follows = AnotherHookFollows(platform_.TimeLowLevelChain(keySent)))
        lowLevelHook_.Add(*follows);
    return keySent;
}

void KeyboardProbes::TryHotkeys() {
    // No key goes in: the hotkeys are tried on every tick, during a round too.
    int taken = 0;
    for (int key : HotkeyKeys())
        taken += platform_.HotkeyTaken(key);
    grabber_.Add(KeyboardHeld(taken, static_cast<int>(HotkeyKeys().size())));
}

void KeyboardProbes::ReadPendingKey() {
    const int key = pendingKey_;
    pendingKey_ = 0;
    // A key that never reached the program says nothing about who read it.
    if (key == 0 || !platform_.ProbeKeyArrived())
        return;
    // The bit was cleared before the key went in: gone now, someone else read it.
    poller_.Add(!platform_.ReadPressedBit(key));
}

bool KeyboardProbes::InjectNextKey() {
    const std::vector<int>& keys = PolledKeys();
    for (size_t tried = 0; tried < keys.size(); ++tried) {
        const int key = keys[nextKey_];
        nextKey_ = (nextKey_ + 1) % keys.size();
        // A key held as a hotkey would go to its holder instead, who would act on it.
        if (platform_.HotkeyTaken(key))
            continue;
        platform_.ReadPressedBit(key);
        // A key that could not go in now gives no vote on the next tick.
        if (!platform_.InjectProbeKey(key))
            return false;
        pendingKey_ = key;
        return true;
    }
    return false;
}

std::vector<std::string> KeyboardProbes::Findings() const {
    std::vector<std::string> keys;
    if (lowLevelHook_.Agreed())
        keys.push_back(kLowLevelHookKey);
    if (poller_.Agreed())
        keys.push_back(kKeyStatePollerKey);
    if (grabber_.Agreed())
        keys.push_back(kHotkeyGrabberKey);
    return keys;
}

} // namespace detect
