#include "detect/KeyRounds.h"
#include "detect/ThreatRows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

namespace {

using detect::PickReacting;
using detect::ThreadWakes;

// Counts at each edge of a round from each thread's rise per window.
std::vector<std::vector<ThreadWakes>> Edges(const std::map<uint64_t, std::vector<uint64_t>>& rises,
                                            uint64_t start = 1000) {
    std::vector<std::vector<ThreadWakes>> edges(detect::kRoundWindows + 1);
    for (const auto& [thread, perWindow] : rises) {
        uint64_t count = start;
        edges[0].push_back({static_cast<uint32_t>(thread / 10), thread, count});
        for (size_t window = 0; window < perWindow.size(); ++window) {
            count += perWindow[window];
            edges[window + 1].push_back({static_cast<uint32_t>(thread / 10), thread, count});
        }
    }
    return edges;
}

std::vector<uint64_t> Threads(const std::vector<ThreadWakes>& picked) {
    std::vector<uint64_t> threads;
    for (const ThreadWakes& thread : picked)
        threads.push_back(thread.thread);
    std::sort(threads.begin(), threads.end());
    return threads;
}

const std::vector<int> kPattern = {0, 3, 0, 5, 2, 0, 0, 4};

TEST(PickReacting, TheThreadThatRisesPerKeyAndNothingThatRisesOnItsOwnClock) {
    const auto edges = Edges({
        {11, {0, 6, 0, 10, 4, 0, 0, 8}}, // a hook: 2 per key
        {21, {1, 7, 0, 10, 5, 1, 0, 9}}, // a sink with a little noise of its own
        {31, {1, 1, 1, 1, 1, 1, 1, 1}},  // a timer in step with the windows
        {41, {0, 1, 0, 1, 1, 0, 0, 1}},  // a timer that happens to fall in the keyed ones
        {51, {0, 5, 0, 5, 5, 0, 0, 5}},  // bursts that happen to fall there too
        {61, {980, 1012, 1003, 1040, 999, 1001, 1020, 1030}}, // busy on its own
        {71, {0, 0, 0, 0, 0, 0, 0, 0}},                       // idle
    });
    EXPECT_EQ(Threads(PickReacting(kPattern, edges, 64)), (std::vector<uint64_t>{11, 21}));
}

TEST(PickReacting, NobodyWhenNothingReacts) {
    const auto edges = Edges({
        {31, {2, 2, 2, 2, 2, 2, 2, 2}},
        {61, {900, 1100, 950, 1150, 1050, 1000, 980, 1200}},
        {71, {0, 0, 0, 0, 0, 0, 0, 0}},
    });
    EXPECT_TRUE(PickReacting(kPattern, edges, 64).empty());
    // A busy thread whose keyed windows all happened to run a little more: still its own clock.
    const auto lucky = Edges({{61, {1000, 1010, 1000, 1012, 1011, 1001, 1002, 1015}}});
    EXPECT_TRUE(PickReacting(kPattern, lucky, 64).empty());
}

TEST(PickReacting, AKeyedWindowThatRunsLongPicksNoSteadyThread) {
    // The program's thread was held up in the third keyed window: three windows' worth of a
    // steady thread's wake-ups fall in it. The hook rises per key all the same.
    const auto edges = Edges({
        {11, {0, 6, 0, 10, 4, 0, 0, 8}},
        {31, {10, 10, 10, 10, 30, 10, 10, 10}},
    });
    EXPECT_EQ(Threads(PickReacting(kPattern, edges, 64)), (std::vector<uint64_t>{11}));
}

TEST(PickReacting, ACounterThatWrapsStillRises) {
    // 32-bit counters near their end: a rise across the wrap is a rise.
    const auto edges = Edges({{11, {0, 6, 0, 10, 4, 0, 0, 8}}}, 0xFFFFFFF0u);
    std::vector<std::vector<ThreadWakes>> wrapped = edges;
    for (auto& edge : wrapped) {
        for (ThreadWakes& thread : edge)
            thread.count &= 0xFFFFFFFFu;
    }
    EXPECT_EQ(Threads(PickReacting(kPattern, wrapped, 32)), (std::vector<uint64_t>{11}));
}

TEST(PickReacting, AThreadThatEndsOrStartsMidRoundIsLeftOut) {
    auto edges = Edges({
        {11, {0, 6, 0, 10, 4, 0, 0, 8}},
        {12, {0, 6, 0, 10, 4, 0, 0, 8}},
    });
    // Thread 12 ended after the fourth window; thread 13 started after the first.
    for (size_t edge = 5; edge < edges.size(); ++edge)
        edges[edge].erase(edges[edge].begin() + 1);
    for (size_t edge = 2; edge < edges.size(); ++edge)
        edges[edge].push_back({1, 13, 5 * edge});
    EXPECT_EQ(Threads(PickReacting(kPattern, edges, 64)), (std::vector<uint64_t>{11}));
    // Snapshots that do not fit the pattern give nothing.
    edges.pop_back();
    EXPECT_TRUE(PickReacting(kPattern, edges, 64).empty());
}

TEST(RoundPattern, HalfQuietTwoToFiveKeysAndNeverEveryOtherWindow) {
    for (uint32_t seed = 0; seed < 500; ++seed) {
        const std::vector<int> pattern = detect::RoundPattern(seed);
        ASSERT_EQ(pattern.size(), 8u);
        std::vector<int> keyed;
        int even = 0;
        for (size_t i = 0; i < pattern.size(); ++i) {
            if (pattern[i] != 0) {
                keyed.push_back(pattern[i]);
                even += i % 2 == 0;
            }
        }
        std::sort(keyed.begin(), keyed.end());
        EXPECT_EQ(keyed, (std::vector<int>{2, 3, 4, 5})) << seed;
        EXPECT_TRUE(even != 0 && even != 4) << seed;
    }
}

TEST(Bracket, AHookRisesInsideOnNineEventsOfTen) {
    EXPECT_TRUE(detect::IsHookThread(10, 10));
    EXPECT_TRUE(detect::IsHookThread(9, 10));
    EXPECT_FALSE(detect::IsHookThread(8, 10));
    EXPECT_FALSE(detect::IsHookThread(0, 10));
    EXPECT_FALSE(detect::IsHookThread(0, 0));
}

// Other programs' threads, each woken in its own way by the keys the rounds press.
class FakeSystem : public detect::RoundPlatform, public detect::WakeCounterSource {
public:
    enum class Kind { Hook, Sink, Grabber, Busy };
    struct Thread {
        uint32_t process;
        Kind kind;
        uint64_t count = 0;
    };
    std::map<uint64_t, Thread> threads;
    std::map<uint32_t, std::string> images;
    bool keysGoIn = true;
    int taken = 'Q'; // the grabber's letter, while it holds a third of the keyboard; 0 for none
    uint64_t now = 0;
    int keys = 0;
    int baitKeys = 0;
    int refreshes = 0;

    // RoundPlatform
    bool InjectRoundKey(int key) override {
        if (!keysGoIn)
            return false;
        ++keys;
        baitKeys += key == taken;
        Press(key);
        return true;
    }
    void Press(int key) {
        for (auto& [id, thread] : threads) {
            if (thread.kind == Kind::Hook || thread.kind == Kind::Sink)
                thread.count += 4; // the press and the release, twice each
            if (thread.kind == Kind::Grabber && key == taken)
                thread.count += 1;
        }
    }
    std::optional<detect::BracketCounts>
    Bracket(detect::WakeCounterSource&, const std::vector<ThreadWakes>& asked, int keys) override {
        detect::BracketCounts counts{2 * keys, {}};
        for (const ThreadWakes& thread : asked)
            counts.risesInside.push_back(threads.at(thread.thread).kind == Kind::Hook ? 2 * keys
                                                                                      : 0);
        return counts;
    }
    std::optional<int> BaitKey() override {
        return taken ? std::optional<int>(taken) : std::nullopt;
    }
    std::vector<uint32_t> Processes() override {
        std::set<uint32_t> running;
        for (const auto& [id, thread] : threads)
            running.insert(thread.process);
        return {running.begin(), running.end()};
    }
    uint64_t NowMs() override { return now; }

    // WakeCounterSource
    void Refresh(const std::vector<uint32_t>&) override { ++refreshes; }
    std::vector<ThreadWakes> Snapshot() override {
        std::vector<ThreadWakes> all;
        for (auto& [id, thread] : threads) {
            if (thread.kind == Kind::Busy)
                thread.count += 97 + (now / 250) % 7 * 13;
            all.push_back({thread.process, id, thread.count});
        }
        return all;
    }
    std::vector<ThreadWakes> Read(const std::vector<ThreadWakes>& asked) override { return asked; }
    unsigned CounterBits() const override { return 64; }
    std::string ImagePath(uint32_t process) override { return images[process]; }
};

constexpr int kRoundSteps = detect::kRoundWindows * detect::kStepsPerWindow;

class Rounds : public ::testing::Test {
protected:
    Rounds() {
        system.threads[1] = {100, FakeSystem::Kind::Hook};
        system.threads[2] = {200, FakeSystem::Kind::Sink};
        system.threads[3] = {300, FakeSystem::Kind::Grabber};
        system.threads[4] = {400, FakeSystem::Kind::Busy};
        system.images = {{100, "C:\\a\\hook.exe"},
                         {200, "C:\\b\\sink.exe"},
                         {300, "C:\\c\\grab.exe"},
                         {400, "C:\\d\\busy.exe"}};
    }
    // Steps with the window in front, while `findings` are agreed; each round's window
    // takes five of them.
    void Run(int steps, const std::vector<std::string>& findings = {}) {
        for (int i = 0; i < steps; ++i) {
            system.now += rounds.StepMs();
            rounds.Step(true, findings);
        }
    }
    static std::vector<std::string> Images(const std::vector<detect::Holder>& holders) {
        std::vector<std::string> images;
        for (const auto& holder : holders)
            images.push_back(holder.image);
        return images;
    }

    FakeSystem system;
    detect::KeyRounds rounds{system, system};
};

TEST_F(Rounds, ARoundNamesTheHookAndTheSinkAndBaitsTheGrabberWhileItHoldsTheKeyboard) {
    system.taken = 0;
    Run(detect::KeyRounds::kFirstRoundSteps - 1);
    EXPECT_FALSE(rounds.Running());
    Run(1);
    EXPECT_TRUE(rounds.Running());
    EXPECT_EQ(system.refreshes, 1);
    Run(kRoundSteps);
    EXPECT_FALSE(rounds.Running());
    EXPECT_EQ(rounds.Decided(), 1u);
    EXPECT_EQ(system.keys, 2 + 3 + 4 + 5);
    EXPECT_EQ(Images(rounds.Holders(detect::kLowLevelHookKey)),
              (std::vector<std::string>{"C:\\a\\hook.exe"}));
    EXPECT_EQ(Images(rounds.Holders(detect::kRawInputSinkKind)),
              (std::vector<std::string>{"C:\\b\\sink.exe"}));
    EXPECT_TRUE(rounds.AllNamed(detect::kLowLevelHookKey));
    // F11 wakes no grabber, and nobody is baited while nobody holds the keyboard.
    EXPECT_TRUE(rounds.Holders(detect::kHotkeyGrabberKey).empty());

    // Held now, and found by the probes: the next round comes at once, and two of its keyed
    // windows carry the bait, one on an even place and one on an odd one.
    system.taken = 'Q';
    const std::vector<std::string> grabber = {detect::kHotkeyGrabberKey};
    const int keys = system.keys;
    Run(detect::KeyRounds::kSoonerSteps, grabber);
    EXPECT_TRUE(rounds.Running());
    EXPECT_FALSE(rounds.Weighed(detect::kHotkeyGrabberKey));
    Run(kRoundSteps, grabber);
    EXPECT_FALSE(rounds.Running());
    EXPECT_EQ(system.keys, keys + 2 + 3 + 4 + 5); // one round
    EXPECT_GE(system.baitKeys, 2 + 3);
    EXPECT_LE(system.baitKeys, 4 + 5);
    EXPECT_EQ(Images(rounds.Holders(detect::kHotkeyGrabberKey)),
              (std::vector<std::string>{"C:\\c\\grab.exe"}));
    EXPECT_TRUE(rounds.Weighed(detect::kHotkeyGrabberKey));
    // The hook and the sink, woken by the bait too, stay what they are.
    EXPECT_EQ(Images(rounds.Holders(detect::kLowLevelHookKey)),
              (std::vector<std::string>{"C:\\a\\hook.exe"}));
    EXPECT_EQ(rounds.Holders(detect::kRawInputSinkKind).size(), 1u);

    const std::vector<int> pattern = detect::RoundPattern(7);
    const std::vector<bool> bait = detect::BaitWindows(pattern, 11);
    int even = 0, odd = 0;
    for (size_t window = 0; window < pattern.size(); ++window) {
        if (bait[window]) {
            EXPECT_NE(pattern[window], 0);
            ++(window % 2 ? odd : even);
        }
    }
    EXPECT_EQ(even, 1);
    EXPECT_EQ(odd, 1);
}

// The probes' keys that wait for a round: each wakes hooks and sinks as a round key would.
class WaitingProbeKeys : public detect::WaitingKeys {
public:
    explicit WaitingProbeKeys(FakeSystem& system) : system_(system) {}
    int waiting = 0;
    int pressed = 0;
    bool PressWaitingKey() override {
        if (waiting == 0)
            return false;
        --waiting;
        ++pressed;
        system_.Press('7');
        return true;
    }

private:
    FakeSystem& system_;
};

TEST_F(Rounds, TheProbesKeysTakeThePlaceOfF11sAndNeverOfTheBait) {
    WaitingProbeKeys probeKeys(system);
    rounds.SetWaitingKeys(&probeKeys);
    probeKeys.waiting = 100;
    Run(detect::KeyRounds::kFirstRoundSteps + kRoundSteps);
    ASSERT_EQ(rounds.Decided(), 1u);
    // The round pressed only the bait; every F11 was a probe key, and each found its holder.
    // The keys still waiting went in as the round ended.
    EXPECT_EQ(system.keys, system.baitKeys);
    EXPECT_EQ(probeKeys.waiting, 0);
    EXPECT_GE(probeKeys.pressed + system.baitKeys, 2 + 3 + 4 + 5);
    EXPECT_EQ(rounds.Holders(detect::kLowLevelHookKey).size(), 1u);
    EXPECT_EQ(rounds.Holders(detect::kRawInputSinkKind).size(), 1u);
    EXPECT_EQ(rounds.Holders(detect::kHotkeyGrabberKey).size(), 1u);

    // A kind that the probes agree on during the round is weighed by it.
    system.taken = 0;
    Run(detect::KeyRounds::kRoundEverySteps);
    ASSERT_TRUE(rounds.Running());
    Run(kRoundSteps, {detect::kLowLevelHookKey});
    EXPECT_EQ(rounds.Decided(), 2u);
    EXPECT_TRUE(rounds.Weighed(detect::kLowLevelHookKey));
}

TEST_F(Rounds, AProgramStartedBringsTheNextRoundNearerAndOneMoreAfterIt) {
    using detect::KeyRounds;
    const auto stepsToRound = [&] {
        int steps = 0;
        while (!rounds.Running() && steps < KeyRounds::kRoundEverySteps) {
            Run(1);
            ++steps;
        }
        return steps;
    };
    Run(KeyRounds::kFirstRoundSteps + kRoundSteps);
    ASSERT_EQ(rounds.Decided(), 1u);
    // Seen by a look (once a second), it has time to set itself up; never sooner than the gap
    // after the last round.
    system.threads[5] = {500, FakeSystem::Kind::Sink};
    system.images[500] = "C:\\e\\late.exe";
    int steps = stepsToRound();
    EXPECT_GE(steps, KeyRounds::kNewProgramGapSteps);
    EXPECT_GT(steps, KeyRounds::kNewProgramSteps);
    EXPECT_LE(steps, KeyRounds::kNewProgramSteps + KeyRounds::kLookEverySteps);
    Run(kRoundSteps);
    EXPECT_EQ(rounds.Holders(detect::kRawInputSinkKind).size(), 2u);
    // Once more a gap later, then at the usual pace.
    Run(KeyRounds::kNewProgramGapSteps - 1);
    EXPECT_FALSE(rounds.Running());
    Run(1);
    EXPECT_TRUE(rounds.Running());
    Run(kRoundSteps + KeyRounds::kNewProgramGapSteps);
    EXPECT_FALSE(rounds.Running());
    EXPECT_EQ(rounds.Decided(), 3u);

    // Long after a round, as soon as it has had time to set itself up.
    system.threads[6] = {600, FakeSystem::Kind::Hook};
    system.images[600] = "C:\\f\\later.exe";
    steps = stepsToRound();
    EXPECT_GT(steps, KeyRounds::kNewProgramSteps);
    EXPECT_LE(steps, KeyRounds::kNewProgramSteps + KeyRounds::kLookEverySteps);
    Run(kRoundSteps);
    EXPECT_EQ(rounds.Holders(detect::kLowLevelHookKey).size(), 2u);
}

TEST_F(Rounds, AWindowLeftOrAKeyRefusedAbortsTheRoundAndHoldersStayWhileTheyRun) {
    Run(detect::KeyRounds::kFirstRoundSteps + 3);
    ASSERT_TRUE(rounds.Running());
    rounds.Step(false, {});
    EXPECT_FALSE(rounds.Running());
    EXPECT_TRUE(rounds.Holders(detect::kLowLevelHookKey).empty());

    // Back in front: a round a second later, spoilt by a held modifier; another a while after.
    system.keysGoIn = false;
    Run(detect::KeyRounds::kFirstRoundSteps + kRoundSteps);
    EXPECT_TRUE(rounds.Holders(detect::kLowLevelHookKey).empty());
    system.keysGoIn = true;
    Run(detect::KeyRounds::kRetrySteps + kRoundSteps);
    ASSERT_EQ(rounds.Holders(detect::kLowLevelHookKey).size(), 1u);

    // A later round that misses the hook keeps it named while its process runs; once it is
    // gone, it is forgotten.
    system.threads[1].kind = FakeSystem::Kind::Busy;
    Run(detect::KeyRounds::kRoundEverySteps + kRoundSteps);
    EXPECT_EQ(rounds.Holders(detect::kLowLevelHookKey).size(), 1u);
    system.threads.erase(1);
    Run(detect::KeyRounds::kRoundEverySteps + kRoundSteps);
    EXPECT_TRUE(rounds.Holders(detect::kLowLevelHookKey).empty());
    EXPECT_FALSE(rounds.AllNamed(detect::kLowLevelHookKey));
}

TEST_F(Rounds, AWindowHeldUpSpoilsTheRound) {
    Run(detect::KeyRounds::kFirstRoundSteps + 2);
    ASSERT_TRUE(rounds.Running());
    system.now += detect::KeyRounds::kLateWindowMs;
    Run(1);
    EXPECT_FALSE(rounds.Running());
}

TEST_F(Rounds, AnUnreadableImageLeavesTheKindNotAllNamed) {
    system.images[100] = "";
    Run(detect::KeyRounds::kFirstRoundSteps + kRoundSteps);
    EXPECT_EQ(rounds.Holders(detect::kLowLevelHookKey).size(), 1u);
    EXPECT_FALSE(rounds.AllNamed(detect::kLowLevelHookKey));
}

} // namespace
