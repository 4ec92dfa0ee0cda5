// Who reads the keys without a DLL: rounds of keys that the program presses for itself in a
// pattern of short windows, some quiet and some with a few keys, while it counts how often
// every thread of the other programs wakes. A low-level hook's thread is woken by each key
// event, a raw-input sink's by each WM_INPUT, a hotkey grabber's by each WM_HOTKEY of its
// key; a thread whose count rises with the keys and stays flat in the quiet windows is one of
// them. A grabber's thread wakes for its letter only: while another program holds a third of the
// letters and digits, two keyed windows carry one of its letters instead of F11, and the thread
// that rises with those two alone is the grabber's. A hook is told from a sink by a bracket: the
// program's own hook, at the head of the low-level chain, reads the counts just before and just
// after passing each key event on, and only the hooks after it run in between. Portable: the system
// is reached through RoundPlatform and WakeCounterSource.
#pragma once

#include "detect/KeyboardProbes.h"
#include "detect/WakeCounters.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace detect {

// A round: 8 windows of 250 ms; half are quiet, the other half carry 2, 3, 4 and 5 keys, one
// per step of 50 ms.
constexpr int kRoundWindows = 8;
constexpr uint64_t kWindowMs = 250;
constexpr int kStepsPerWindow = 5;
constexpr uint64_t kRoundStepMs = kWindowMs / kStepsPerWindow;

// The keys of each window of a round, shuffled by `seed`. Keyed windows never all fall on even
// or all on odd places, so that nothing that wakes every other window lines up with them.
std::vector<int> RoundPattern(uint32_t seed);

// The two keyed windows of `pattern` that carry the bait: one on an even place and one on an
// odd place, picked by `seed`. The other keyed windows carry F11.
std::vector<bool> BaitWindows(const std::vector<int>& pattern, uint32_t seed);

// The threads whose count rose with the keys and stayed flat in the quiet windows. `keys`
// holds each window's keys, `snapshots` the counts at each window's edge (one more than
// windows). A thread missing from any snapshot (it started or ended meanwhile) is left out.
// Counts keep their low `counterBits` bits: a rise across the wrap counts as a rise.
std::vector<ThreadWakes> PickReacting(const std::vector<int>& keys,
                                      const std::vector<std::vector<ThreadWakes>>& snapshots,
                                      unsigned counterBits);

// A thread woken inside the bracket on at least 90 % of the key events is a low-level hook's.
bool IsHookThread(int risesInside, int events);

// What the bracket measured: the key events that went through the program's hook, and for
// each thread asked, on how many of them its count rose inside the bracket.
struct BracketCounts {
    int events = 0;
    std::vector<int> risesInside;
};

// What the rounds need from the system besides the counters.
class RoundPlatform {
public:
    virtual ~RoundPlatform() = default;
    // Presses and releases `key` as every probe key is pressed (never while a modifier is held
    // or another window is in front; dropped by the program's own thread); false when it did
    // not go in.
    virtual bool InjectRoundKey(int key) = 0;
    // Puts the program's hook at the head of the low-level keyboard chain, presses F11 `keys`
    // times and takes the hook away; reads `threads` (through `counters`) just before and just
    // after the hook passes each of those key events on. None when that could not be done.
    virtual std::optional<BracketCounts>
    Bracket(WakeCounterSource& counters, const std::vector<ThreadWakes>& threads, int keys) = 0;
    // A bare letter or digit that another program holds as a hotkey, while at least a third of
    // them are held (KeyboardHeld): the grabber's bait. None otherwise: a program that holds a
    // letter or two is sent none.
    virtual std::optional<int> BaitKey() = 0;
    // The ids of the running processes.
    virtual std::vector<uint32_t> Processes() = 0;
    // Milliseconds on a steady clock.
    virtual uint64_t NowMs() = 0;
};

// A program named as the holder of a kind.
struct Holder {
    uint32_t process = 0;
    std::string image; // its program file's full path; empty when it could not be read
};

class KeyRounds {
public:
    KeyRounds(RoundPlatform& platform, WakeCounterSource& counters)
        : platform_(platform), counters_(counters) {}

    // Every StepMs(). `active`: the program's window is in front. `kindFindings`: the keys of
    // the kinds that the probes agree on (KeyboardProbes::Findings()); a kind found whose
    // holders are not named yet brings the next round nearer, as does a program started since
    // the last look. Starts, carries on or ends a round.
    void Step(bool active, const std::vector<std::string>& kindFindings);
    // A round is under way, or another test holds the rounds: nobody else presses keys of their
    // own meanwhile, or the quiet windows would not be quiet.
    bool Running() const { return underWay_ || held_; }
    // Held by another test, which presses keys of its own.
    bool Held() const { return held_; }
    // How long until the next Step: 250 ms between rounds, 50 ms during one.
    uint64_t StepMs() const { return underWay_ ? kRoundStepMs : kWindowMs; }
    // The keys that the probes would press during a round, carried by its F11 windows.
    void SetWaitingKeys(WaitingKeys* waiting) { waiting_ = waiting; }
    // How many rounds have ended with a decision: a new one is listed at once.
    uint32_t Decided() const { return decided_; }
    // While held (another test presses its own keys), no round runs and a round under way
    // ends; Running() holds the scan's keys back meanwhile.
    void Hold(bool held);
    // A holder of `kind` named by another test (the pause test names a poller): it stays
    // named while it runs.
    void AddHolder(const std::string& kind, const Holder& holder);

    // The programs named for `kind` (kLowLevelHookKey, kHotkeyGrabberKey, kRawInputSinkKind):
    // those of the last round that named any, and earlier ones while they run.
    std::vector<Holder> Holders(const std::string& kind) const;
    // Every holder of `kind` found by the last round that named any has its image.
    bool AllNamed(const std::string& kind) const;
    // Takes note of the kinds that the probes agree on now (as Step does).
    void Notice(const std::vector<std::string>& kindFindings);
    // A round has looked for the holders of `kind` since the probes' finding was noticed, or
    // has had kWeighMs to do so: only then may the kind alone be listed, rather than its
    // holders.
    bool Weighed(const std::string& kind) const;

    // Processes never watched: the program's own helper.
    void SetSkipped(std::vector<uint32_t> skipped) { skipped_ = std::move(skipped); }

    // Steps of 250 ms with the window in front between two rounds, and before the first one.
    // 1 s after the window comes to the front: the probes vote on during the round, whose F11
    // windows carry their keys, so a kind they agree on by its end is weighed by it.
    static constexpr int kFirstRoundSteps = 4;
    static constexpr int kRoundEverySteps = 40; // 10 s
    static constexpr int kSoonerSteps = 1;      // at once, for a kind found but not named
    // A program started since the last look (once a second): a round 2.5 s later, once it has
    // set itself up, and no sooner than 3 s after the last round, however many programs start;
    // then once more 3 s after that round, for a program slower to set itself up (a 32-bit one
    // through an emulator).
    static constexpr int kNewProgramSteps = 10;
    static constexpr int kLookEverySteps = 4;
    static constexpr int kNewProgramGapSteps = 12;
    // After a round that could not go on (a modifier held, a window held up).
    static constexpr int kRetrySteps = 14;
    static constexpr int kBracketKeys = 5;         // 10 key events through the bracket
    static constexpr uint64_t kLateWindowMs = 500; // a window this long spoils its round
    static constexpr uint64_t kWeighMs = 6000;

private:
    void StartRound();
    void Carry();
    // The key of this step of the window, if it has one; false when it did not go in.
    bool InjectWindowKey();
    void EndRound();
    void Abort();
    // A program started since the last look brings the next round nearer.
    void LookForNewPrograms();
    // Keeps the named holders of `kind`: this round's, and the earlier ones still running.
    void Name(const std::string& kind, const std::vector<uint32_t>& processes);

    RoundPlatform& platform_;
    WakeCounterSource& counters_;
    WaitingKeys* waiting_ = nullptr;
    std::vector<uint32_t> skipped_;
    bool underWay_ = false;
    bool wasActive_ = false;
    bool held_ = false;
    int untilNext_ = kFirstRoundSteps;
    int sinceRound_ = 0;       // steps since the last round ended
    int newProgramRounds_ = 0; // rounds still owed to a program started
    uint32_t rounds_ = 0;
    uint32_t decided_ = 0;
    // The processes running at the last look; none taken yet.
    std::optional<std::set<uint32_t>> known_;
    // The round under way: each window's number of keys and its key.
    std::vector<int> pattern_;
    std::vector<int> windowKeys_;
    std::optional<int> bait_;
    std::vector<std::vector<ThreadWakes>> snapshots_;
    uint64_t windowStart_ = 0;
    int subStep_ = 0; // the step within the window
    // The kinds found by the probes, while they are: since when, and whether a round has
    // looked for their holders since.
    struct Found {
        uint64_t since = 0;
        bool weighed = false;
    };
    std::map<std::string, Found> found_;
    struct Named {
        std::vector<Holder> holders;
        bool allNamed = false;
    };
    std::map<std::string, Named> named_;
};

} // namespace detect
