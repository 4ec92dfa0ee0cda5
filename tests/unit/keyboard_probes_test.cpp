#include "detect/KeyboardProbes.h"
#include "detect/ThreatRows.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using detect::ChainTiming;
using detect::KeyboardProbes;

TEST(LowLevelChain, AHookFollowsWhenPassingOnCostsHalfAHopOrMore) {
    // Alone: passing on is nearly free next to the program's own hop.
    EXPECT_EQ(detect::AnotherHookFollows({{0.008, 0.16}, {0.009, 0.17}}), false);
    // A foreign hook after ours: passing on is a hop of its own.
    EXPECT_EQ(detect::AnotherHookFollows({{0.15, 0.31}, {0.16, 0.30}}), true);
    // Being held up only adds: one slow passing-on or one slow hop decides nothing.
    EXPECT_EQ(detect::AnotherHookFollows({{4.0, 4.2}, {0.008, 0.15}}), false);
    EXPECT_EQ(detect::AnotherHookFollows({{0.15, 9.0}, {0.16, 0.31}}), true);
    // Nothing timed, or a clock too coarse for a hop: no vote.
    EXPECT_EQ(detect::AnotherHookFollows({}), std::nullopt);
    EXPECT_EQ(detect::AnotherHookFollows({{0.0, 0.0}}), std::nullopt);
}

TEST(Votes, ThreeOfTheLastFive) {
    detect::Votes votes;
    for (bool vote : {true, true, false, false})
        votes.Add(vote);
    EXPECT_FALSE(votes.Agreed());
    votes.Add(true);
    EXPECT_TRUE(votes.Agreed());
    // The oldest yes drops out of the five.
    votes.Add(true);
    EXPECT_TRUE(votes.Agreed());
    votes.Add(false);
    EXPECT_FALSE(votes.Agreed());
}

// A keyboard as the probes see it: who reads the keys' state, who holds hotkeys, how the
// low-level chain times.
class FakeKeyboard : public detect::ProbePlatform {
public:
    bool pollerRunning = false;
    bool foreignLowLevelHook = false;
    bool keysArrive = true;
    bool modifierHeld = false; // no key may be pressed
    std::set<int> heldHotkeys;
    std::set<int> pressed; // the "pressed since the last read" bits
    std::vector<int> injected;
    int chainTimings = 0;

    std::vector<ChainTiming> TimeLowLevelChain(bool& keySent) override {
        ++chainTimings;
        keySent = !modifierHeld;
        if (modifierHeld)
            return {};
        const double next = foreignLowLevelHook ? 0.15 : 0.008;
        return {{next, next + 0.15}, {next, next + 0.15}};
    }
    bool ReadPressedBit(int key) override { return pressed.erase(key) != 0; }
    bool InjectProbeKey(int key) override {
        if (modifierHeld)
            return false;
        injected.push_back(key);
        if (!keysArrive)
            return true;
        pressed.insert(key);
        if (pollerRunning)
            pressed.clear();
        return true;
    }
    bool ProbeKeyArrived() override { return keysArrive; }
    bool HotkeyTaken(int key) override { return heldHotkeys.count(key) != 0; }
};

std::vector<std::string> FindingsAfter(FakeKeyboard& keyboard, int ticks) {
    KeyboardProbes probes(keyboard);
    for (int tick = 0; tick < ticks; ++tick)
        probes.RunActive();
    return probes.Findings();
}

TEST(KeyboardProbes, EachKindOfKeyloggerIsFoundAfterAgreeingVotesOnly) {
    FakeKeyboard clean;
    EXPECT_TRUE(FindingsAfter(clean, 20).empty());
    EXPECT_TRUE(detect::IsFileless(detect::kHotkeyGrabberKey));
    EXPECT_FALSE(detect::IsFileless("[hook di tastiera a basso livello] "));

    FakeKeyboard hook;
    hook.foreignLowLevelHook = true;
    EXPECT_TRUE(FindingsAfter(hook, 2).empty());
    EXPECT_EQ(FindingsAfter(hook, 3), std::vector<std::string>{detect::kLowLevelHookKey});

    // The key injected on one tick is read on the next.
    FakeKeyboard poller;
    poller.pollerRunning = true;
    EXPECT_TRUE(FindingsAfter(poller, 3).empty());
    EXPECT_EQ(FindingsAfter(poller, 4), std::vector<std::string>{detect::kKeyStatePollerKey});

    FakeKeyboard grabber;
    for (int key : detect::HotkeyKeys())
        grabber.heldHotkeys.insert(key);
    EXPECT_TRUE(FindingsAfter(grabber, 2).empty());
    EXPECT_EQ(FindingsAfter(grabber, 3), std::vector<std::string>{detect::kHotkeyGrabberKey});
}

TEST(KeyboardProbes, DuringARoundTheirKeysWaitForItAndEveryProbeVotesOn) {
    FakeKeyboard keyboard;
    keyboard.pollerRunning = true;
    keyboard.foreignLowLevelHook = true;
    for (int key = 'A'; key <= 'M'; ++key)
        keyboard.heldHotkeys.insert(key);
    KeyboardProbes probes(keyboard);
    probes.RunActive();
    ASSERT_EQ(keyboard.injected.size(), 1u);
    ASSERT_EQ(keyboard.chainTimings, 1);

    // Two ticks in a round: nothing goes in on the tick itself; the round presses the chain's
    // key, then the polled one, then has nothing more to press for them.
    for (int tick = 0; tick < 2; ++tick) {
        probes.RunDuringRound();
        EXPECT_EQ(keyboard.injected.size(), 1u + tick);
        EXPECT_EQ(keyboard.chainTimings, 1 + tick);
        EXPECT_TRUE(probes.PressWaitingKey());
        EXPECT_EQ(keyboard.chainTimings, 2 + tick);
        EXPECT_TRUE(probes.PressWaitingKey());
        EXPECT_EQ(keyboard.injected.size(), 2u + tick);
        EXPECT_FALSE(probes.PressWaitingKey());
    }
    // Three votes each for the chain and the hotkeys, two for the poller so far.
    EXPECT_EQ(probes.Findings(),
              (std::vector<std::string>{detect::kLowLevelHookKey, detect::kHotkeyGrabberKey}));
    probes.RunDuringRound();
    EXPECT_EQ(probes.Findings().size(), 3u);

    // With a modifier held neither key goes in, and the round is told so; a pause forgets
    // what waits.
    keyboard.modifierHeld = true;
    EXPECT_FALSE(probes.PressWaitingKey());
    keyboard.modifierHeld = false;
    probes.RunDuringRound();
    probes.Pause();
    EXPECT_FALSE(probes.PressWaitingKey());
}

TEST(KeyboardProbes, InjectedKeysAvoidHeldHotkeysAndUnarrivedKeysAreNoVote) {
    FakeKeyboard keyboard;
    for (int key : detect::HotkeyKeys())
        keyboard.heldHotkeys.insert(key);
    keyboard.keysArrive = false;
    const auto findings = FindingsAfter(keyboard, 20);
    // Only the function keys went in; none arrived, which is no sign of a poller.
    EXPECT_EQ(findings, std::vector<std::string>{detect::kHotkeyGrabberKey});
    ASSERT_FALSE(keyboard.injected.empty());
    for (int key : keyboard.injected)
        EXPECT_TRUE(key >= 0x71 && key <= 0x79) << key;

    // A few held hotkeys are no grabber.
    FakeKeyboard few;
    few.heldHotkeys = {'K', 'L', 'M'};
    EXPECT_TRUE(FindingsAfter(few, 20).empty());
    EXPECT_FALSE(detect::KeyboardHeld(11, 36));
    EXPECT_TRUE(detect::KeyboardHeld(12, 36));
}

TEST(KeyboardProbes, AnotherWindowInFrontForgetsTheKeyInFlight) {
    FakeKeyboard keyboard;
    keyboard.pollerRunning = true;
    KeyboardProbes probes(keyboard);
    for (int tick = 0; tick < 10; ++tick) {
        probes.RunActive();
        probes.Pause();
    }
    EXPECT_TRUE(probes.Findings().empty());
}

TEST(KeyboardProbes, TicksWhoseKeysCouldNotGoInCountNeitherWay) {
    FakeKeyboard keyboard;
    keyboard.pollerRunning = true;
    keyboard.foreignLowLevelHook = true;
    KeyboardProbes probes(keyboard);
    // Two votes of the chain, one of the poller, whose second key is still in flight.
    for (int tick = 0; tick < 2; ++tick)
        probes.RunActive();
    EXPECT_TRUE(probes.Findings().empty());
    keyboard.modifierHeld = true;
    const size_t injected = keyboard.injected.size();
    for (int tick = 0; tick < 10; ++tick)
        probes.RunActive();
    EXPECT_EQ(keyboard.injected.size(), injected);
    EXPECT_TRUE(probes.Findings().empty());
    // The key in flight when the modifier came was read; none since. The chain's third vote
    // comes with the next tick, the poller's with the one after.
    keyboard.modifierHeld = false;
    probes.RunActive();
    EXPECT_EQ(probes.Findings(), std::vector<std::string>{detect::kLowLevelHookKey});
    probes.RunActive();
    EXPECT_EQ(probes.Findings(),
              (std::vector<std::string>{detect::kLowLevelHookKey, detect::kKeyStatePollerKey}));
}

} // namespace
