#include "detect/PauseTest.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>

namespace {

using namespace detect;

std::vector<uint32_t> Processes(const std::vector<PauseCandidate>& candidates) {
    std::vector<uint32_t> processes;
    for (const PauseCandidate& candidate : candidates)
        processes.push_back(candidate.process);
    return processes;
}

TEST(WakesBetween, SumsEachProcesssRisesAndKeepsItsBusiestThread) {
    const std::vector<ThreadWakes> before = {
        {10, 1, 100}, {10, 2, 0xFFFFFFF0u}, {10, 3, 7}, {20, 4, 50}, {30, 5, 1}};
    const std::vector<ThreadWakes> after = {
        {10, 1, 130},  // 30
        {10, 2, 0x0A}, // 26 across the wrap of a 32-bit counter
        {10, 6, 900},  // started meanwhile: nothing
        {20, 4, 50},   // still
    };                 // thread 3 and process 30 ended
    const auto facts = WakesBetween(before, after, 32);
    ASSERT_EQ(facts.size(), 2u);
    EXPECT_EQ(facts[0].process, 10u);
    EXPECT_EQ(facts[0].wakes, 56u);
    EXPECT_EQ(facts[0].busiestWakes, 30u);
    EXPECT_EQ(facts[1].process, 20u);
    EXPECT_EQ(facts[1].wakes, 0u);
}

ProcessFacts Facts(uint32_t process, const std::string& image, uint64_t wakes,
                   uint64_t busiest = 0) {
    ProcessFacts facts;
    facts.process = process;
    facts.image = image;
    facts.session = 1;
    facts.maySuspend = true;
    facts.wakes = wakes;
    facts.busiestWakes = busiest ? busiest : wakes;
    return facts;
}

TEST(RankPauseCandidates, MostWakefulFirstAndNeverTheExcluded) {
    std::vector<ProcessFacts> processes = {
        Facts(100, "C:\\Apps\\slow.exe", 5),
        Facts(101, "C:\\Apps\\fast.exe", 900, 100),
        Facts(102, "C:\\Apps\\self.exe", 5000),
        Facts(103, "C:\\Windows\\System32\\CSRSS.EXE", 5000),
        Facts(104, "C:\\Windows\\System32\\lsass", 5000),
        Facts(4, "", 5000),
        Facts(0, "C:\\whatever\\ok.exe", 5000), // Idle, whatever it is called
        Facts(105, "C:\\Apps\\locked.exe", 5000),
        Facts(106, "C:\\Apps\\other-user.exe", 5000),
        Facts(107, "C:\\Apps\\front.exe", 5000),
        Facts(108, "C:\\Apps\\hook.exe", 5000),
        Facts(109, "C:\\Apps\\trusted.exe", 5000),
        Facts(110, "", 5000),
        Facts(111, "C:\\Apps\\still.exe", 0),
        Facts(112, "C:\\Apps\\nosession.exe", 5000),
        Facts(113, "C:\\Apps\\middle.exe", 60, 2),
        Facts(114, "C:\\Apps\\services.com", 50), // only services.exe is the system's
    };
    processes[7].maySuspend = false;
    processes[8].session = 2;
    processes[14].session.reset();
    PauseRules rules;
    rules.self = 102;
    rules.session = 1;
    rules.foreground = 107;
    rules.excluded = {108};
    rules.trusted = [](const std::string& image) { return image == "C:\\Apps\\trusted.exe"; };

    const auto candidates = RankPauseCandidates(processes, rules);
    EXPECT_EQ(Processes(candidates), (std::vector<uint32_t>{101, 113, 114, 100}));
    // Three wake periods of the busiest thread, within 300 ms and 1 s.
    ASSERT_EQ(candidates.size(), 4u);
    EXPECT_EQ(candidates[0].image, "C:\\Apps\\fast.exe");
    EXPECT_EQ(candidates[0].pauseMs, 300u); // every 10 ms
    EXPECT_EQ(candidates[1].pauseMs, 1000u);
    EXPECT_EQ(candidates[2].pauseMs, 300u);
    rules.measuredMs = 2000;
    processes = {Facts(1, "C:\\a.exe", 10)}; // every 200 ms
    EXPECT_EQ(RankPauseCandidates(processes, rules)[0].pauseMs, 600u);

    // At most eight, the most wakeful.
    processes.clear();
    for (uint32_t i = 1; i <= 12; ++i)
        processes.push_back(Facts(1000 + i, "C:\\Apps\\p.exe", i));
    EXPECT_EQ(Processes(RankPauseCandidates(processes, rules)),
              (std::vector<uint32_t>{1012, 1011, 1010, 1009, 1008, 1007, 1006, 1005}));
}

// A system with one poller, which clears the bit whenever it runs while time passes.
class FakeSystem : public PausePlatform {
public:
    explicit FakeSystem(uint32_t poller) : poller_(poller) {}

    bool Suspend(uint32_t process) override {
        suspends.push_back(process);
        if (cannotSuspend.count(process))
            return false;
        suspended.insert(process);
        return true;
    }
    bool Resume(uint32_t process) override {
        return suspended.erase(process) > 0 && !resumedEarly.count(process);
    }
    bool InjectProbeKey(int key) override {
        EXPECT_EQ(key, 'K');
        if (keysLeft-- <= 0)
            return false;
        bit_ = true;
        return true;
    }
    bool ReadPressedBit(int) override {
        const bool was = bit_;
        bit_ = false;
        return was;
    }
    void Wait(uint64_t ms) override {
        now_ += ms;
        if (throwWhileSuspended && !suspended.empty())
            throw std::runtime_error("failed");
        for (uint32_t process : suspended) {
            // A pause in which the poller happened not to read the key.
            if (bit_ && missedReads[process] > 0) {
                --missedReads[process];
                return;
            }
        }
        if (!suspended.count(poller_) && !pollerStopped)
            bit_ = false;
    }
    uint64_t NowMs() override { return now_; }

    std::set<uint32_t> suspended;
    std::vector<uint32_t> suspends;
    std::set<uint32_t> cannotSuspend;
    std::set<uint32_t> resumedEarly;
    std::map<uint32_t, int> missedReads;
    int keysLeft = 1000;
    bool pollerStopped = false;
    bool throwWhileSuspended = false;

private:
    uint32_t poller_;
    bool bit_ = false;
    uint64_t now_ = 0;
};

const std::vector<PauseCandidate> kCandidates = {
    {11, "C:\\a.exe", 300}, {22, "C:\\poller.exe", 400}, {33, "C:\\c.exe", 300}};

TEST(RunPauses, TwoPausesInARowNameThePollerNotABystanderThatLeftTheBitOnce) {
    FakeSystem system(22);
    system.missedReads[11] = 1;
    const auto outcome = RunPauses(system, kCandidates, 'K');
    ASSERT_TRUE(outcome.poller);
    EXPECT_EQ(outcome.poller->process, 22u);
    EXPECT_EQ(system.suspends, (std::vector<uint32_t>{11, 11, 22, 22}));
    ASSERT_EQ(outcome.pauses.size(), 4u);
    EXPECT_TRUE(outcome.pauses[0].bitLeftSet);
    EXPECT_FALSE(outcome.pauses[1].bitLeftSet);
    // Each pause lasts its candidate's time after the program has settled.
    EXPECT_EQ(outcome.pauses[0].ms, kSettleMs + 300);
    EXPECT_EQ(outcome.pauses[3].ms, kSettleMs + 400);
    EXPECT_TRUE(system.suspended.empty());
}

TEST(RunPauses, ASuspendThatFailsOrEndsEarlyPassesTheCandidateOver) {
    FakeSystem system(22);
    system.cannotSuspend = {11};
    system.resumedEarly = {22}; // held past the platform's limit: the pause tells nothing
    const auto outcome = RunPauses(system, kCandidates, 'K');
    EXPECT_FALSE(outcome.poller);
    EXPECT_EQ(system.suspends, (std::vector<uint32_t>{11, 22, 33}));
    EXPECT_TRUE(system.suspended.empty());

    FakeSystem poller(11);
    poller.cannotSuspend = {11};
    EXPECT_FALSE(RunPauses(poller, kCandidates, 'K').poller);
}

TEST(RunPauses, NobodyNamedWhenNobodyClearsTheBitOrTheKeyStaysOut) {
    // Nobody clears the bit even with nobody paused: nobody is paused at all.
    FakeSystem stopped(22);
    stopped.pollerStopped = true;
    EXPECT_FALSE(RunPauses(stopped, kCandidates, 'K').poller);
    EXPECT_TRUE(stopped.suspends.empty());

    // The poller ends once the pauses have begun: the first program leaves the bit set in
    // both its pauses, but the bit is not cleared with it running either.
    struct EndsDuringPauses : FakeSystem {
        using FakeSystem::FakeSystem;
        bool InjectProbeKey(int key) override {
            pollerStopped = !suspends.empty();
            return FakeSystem::InjectProbeKey(key);
        }
    } stopsLater(99);
    const auto outcome = RunPauses(stopsLater, kCandidates, 'K');
    EXPECT_FALSE(outcome.poller);
    EXPECT_EQ(stopsLater.suspends, (std::vector<uint32_t>{11, 11}));

    // The key does not go in during a pause: the test ends there, nobody left suspended.
    FakeSystem refused(22);
    refused.keysLeft = 2;
    EXPECT_FALSE(RunPauses(refused, kCandidates, 'K').poller);
    EXPECT_EQ(refused.suspends, (std::vector<uint32_t>{11, 22}));
    EXPECT_TRUE(refused.suspended.empty());
}

TEST(ResumeGuard, ResumesEverySuspendedProcessOnAnException) {
    FakeSystem system(22);
    system.throwWhileSuspended = true;
    EXPECT_THROW(RunPauses(system, kCandidates, 'K'), std::runtime_error);
    EXPECT_EQ(system.suspends, (std::vector<uint32_t>{11}));
    EXPECT_TRUE(system.suspended.empty());
}

} // namespace

TEST(PauseTestLine, NamesTheProgramAndItsPidOrNobody) {
    EXPECT_EQ(detect::PauseTestLine(detect::Holder{412, "C:\\Strumenti\\spia.exe"}),
              "Programma trovato: C:\\Strumenti\\spia.exe (pid 412)");
    EXPECT_EQ(detect::PauseTestLine(std::nullopt), "Nessun programma trovato.");
}
