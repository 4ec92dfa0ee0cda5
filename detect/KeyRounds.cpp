#include "detect/KeyRounds.h"

#include "base/ScopeExit.h"
#include "detect/ThreatRows.h"

#include <algorithm>
#include <set>
#include <utility>

namespace detect {

namespace {

constexpr int kF11 = 0x7A;

uint32_t NextRandom(uint32_t& state) {
    // xorshift32: enough to shuffle a round; 0 would stay 0.
    if (state == 0)
        state = 0x9E3779B9u;
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

using ThreadId = std::pair<uint32_t, uint64_t>;

ThreadId IdOf(const ThreadWakes& thread) {
    return {thread.process, thread.thread};
}

} // namespace

std::vector<int> RoundPattern(uint32_t seed) {
    uint32_t state = seed;
    std::vector<int> places(kRoundWindows);
    for (int i = 0; i < kRoundWindows; ++i)
        places[i] = i;
    for (;;) {
        for (int i = kRoundWindows - 1; i > 0; --i)
            std::swap(places[i], places[NextRandom(state) % (i + 1)]);
        int even = 0;
        for (int i = 0; i < kRoundWindows / 2; ++i)
            even += places[i] % 2 == 0;
        if (even != 0 && even != kRoundWindows / 2)
            break;
    }
    int counts[] = {2, 3, 4, 5};
    for (int i = 3; i > 0; --i)
        std::swap(counts[i], counts[NextRandom(state) % (i + 1)]);
    std::vector<int> pattern(kRoundWindows, 0);
    for (int i = 0; i < kRoundWindows / 2; ++i)
        pattern[places[i]] = counts[i];
    return pattern;
}

std::vector<bool> BaitWindows(const std::vector<int>& pattern, uint32_t seed) {
    std::vector<size_t> places[2]; // the keyed windows on even places, and on odd ones
    for (size_t window = 0; window < pattern.size(); ++window) {
        if (pattern[window] != 0)
            places[window % 2].push_back(window);
    }
    std::vector<bool> bait(pattern.size(), false);
    uint32_t state = seed;
    for (const std::vector<size_t>& keyed : places) {
        if (!keyed.empty())
            bait[keyed[NextRandom(state) % keyed.size()]] = true;
    }
    return bait;
}

std::vector<ThreadWakes> PickReacting(const std::vector<int>& keys,
                                      const std::vector<std::vector<ThreadWakes>>& snapshots,
                                      unsigned counterBits) {
    std::vector<ThreadWakes> picked;
    if (snapshots.size() != keys.size() + 1 || keys.empty())
        return picked;
    const uint64_t mask = counterBits >= 64 ? ~uint64_t{0} : (uint64_t{1} << counterBits) - 1;

    // Each thread's counts at every edge, by thread.
    std::map<ThreadId, std::vector<uint64_t>> series;
    for (const ThreadWakes& thread : snapshots.front())
        series[IdOf(thread)].push_back(thread.count);
    for (size_t edge = 1; edge < snapshots.size(); ++edge) {
        for (const ThreadWakes& thread : snapshots[edge]) {
            auto found = series.find(IdOf(thread));
            if (found != series.end() && found->second.size() == edge)
                found->second.push_back(thread.count);
        }
    }

    for (const auto& [id, counts] : series) {
        if (counts.size() != snapshots.size())
            continue; // started or ended during the round
        uint64_t quietMax = 0;
        uint64_t quietMin = ~uint64_t{0};
        bool anyQuiet = false;
        for (size_t window = 0; window < keys.size(); ++window) {
            if (keys[window] != 0)
                continue;
            const uint64_t rise = (counts[window + 1] - counts[window]) & mask;
            quietMax = std::max(quietMax, rise);
            quietMin = std::min(quietMin, rise);
            anyQuiet = true;
        }
        if (!anyQuiet)
            continue;
        // Per key, above the busiest quiet window (the least it rose for a key) and above the
        // calmest one (the most).
        double leastPerKey = 0;
        double mostPerKey = 0;
        bool first = true;
        for (size_t window = 0; window < keys.size(); ++window) {
            if (keys[window] == 0)
                continue;
            const uint64_t rise = (counts[window + 1] - counts[window]) & mask;
            const double least = (static_cast<double>(rise) - static_cast<double>(quietMax)) /
                                 static_cast<double>(keys[window]);
            const double most = (static_cast<double>(rise) - static_cast<double>(quietMin)) /
                                static_cast<double>(keys[window]);
            leastPerKey = first ? least : std::min(leastPerKey, least);
            mostPerKey = first ? most : std::max(mostPerKey, most);
            first = false;
        }
        if (first)
            continue;
        // Woken at least once per key in every keyed window; the quiet windows differ from
        // each other by less than a key's worth (a thread busy on its own clock does not);
        // and the rise follows the number of keys, not the window (a burst that happens to
        // fall in the keyed windows rises as much for 2 keys as for 5).
        const bool perKey = leastPerKey >= 1;
        const bool flat = static_cast<double>(quietMax - quietMin) < leastPerKey;
        const bool proportional = mostPerKey <= 2 * leastPerKey;
        if (perKey && flat && proportional)
            picked.push_back({id.first, id.second, counts.back()});
    }
    return picked;
}

bool IsHookThread(int risesInside, int events) {
    return events > 0 && risesInside * 10 >= events * 9;
}

// ---- KeyRounds ----

void KeyRounds::Hold(bool held) {
    held_ = held;
    if (held && underWay_)
        Abort();
}

void KeyRounds::AddHolder(const std::string& kind, const Holder& holder) {
    Named& named = named_[kind];
    for (const Holder& known : named.holders) {
        if (known.process == holder.process)
            return;
    }
    named.holders.push_back(holder);
    named.allNamed = !holder.image.empty();
}

void KeyRounds::Step(bool active, const std::vector<std::string>& kindFindings) {
    if (held_)
        return;
    if (!active) {
        if (underWay_)
            Abort();
        wasActive_ = false;
        return;
    }
    if (!wasActive_) {
        wasActive_ = true;
        untilNext_ = std::min(untilNext_, kFirstRoundSteps);
    }
    // Noticed during a round too: a kind that the probes agree on by its end is weighed by it.
    Notice(kindFindings);
    if (underWay_) {
        Carry();
        return;
    }

    // Once a second is soon enough, and cheaper: the list of processes is not free.
    if (++sinceRound_ % kLookEverySteps == 0)
        LookForNewPrograms();
    if (--untilNext_ > 0)
        return;
    untilNext_ = kRoundEverySteps;
    StartRound();
}

void KeyRounds::Notice(const std::vector<std::string>& kindFindings) {
    // A kind found whose holders are not all named brings the next round nearer, once per
    // finding; the round under way, if any, looks for them already.
    for (const char* kind : {kLowLevelHookKey, kHotkeyGrabberKey}) {
        if (std::find(kindFindings.begin(), kindFindings.end(), kind) == kindFindings.end()) {
            found_.erase(kind);
            continue;
        }
        if (found_.try_emplace(kind, Found{platform_.NowMs(), false}).second && !AllNamed(kind) &&
            !underWay_)
            untilNext_ = std::min(untilNext_, kSoonerSteps);
    }
}

void KeyRounds::LookForNewPrograms() {
    const std::vector<uint32_t> running = platform_.Processes();
    bool started = false;
    if (known_) {
        for (uint32_t process : running) {
            if (!known_->count(process) &&
                std::find(skipped_.begin(), skipped_.end(), process) == skipped_.end())
                started = true;
        }
    }
    known_.emplace(running.begin(), running.end());
    // Counted from this step on, which the caller counts down next.
    if (started) {
        untilNext_ =
            std::min(untilNext_, std::max(kNewProgramSteps, kNewProgramGapSteps - sinceRound_) + 1);
        newProgramRounds_ = 2;
    }
}

void KeyRounds::StartRound() {
    counters_.Refresh(skipped_);
    underWay_ = true;
    const uint32_t seed = static_cast<uint32_t>(platform_.NowMs()) * 2654435761u + ++rounds_;
    pattern_ = RoundPattern(seed);
    windowKeys_.assign(pattern_.size(), kF11);
    // While a third of the keyboard is held, two keyed windows bait its holder.
    bait_ = platform_.BaitKey();
    if (bait_) {
        const std::vector<bool> bait = BaitWindows(pattern_, seed ^ 0x5BD1E995u);
        for (size_t window = 0; window < pattern_.size(); ++window) {
            if (bait[window])
                windowKeys_[window] = *bait_;
        }
    }
    snapshots_.clear();
    snapshots_.push_back(counters_.Snapshot());
    windowStart_ = platform_.NowMs();
    subStep_ = 0;
    if (!InjectWindowKey())
        Abort();
}

bool KeyRounds::InjectWindowKey() {
    // One key per step at the window's start: each is taken in on its own, rather than in a
    // batch that a busy reader would handle in one wake-up.
    const size_t window = snapshots_.size() - 1;
    if (subStep_ >= pattern_[window])
        return true;
    const int key = windowKeys_[window];
    // A key the probes wait to press takes the place of an F11: it wakes hooks and sinks the
    // same, and no grabber (a polled key is never one that another program holds).
    if (key == kF11 && waiting_ && waiting_->PressWaitingKey())
        return true;
    return platform_.InjectRoundKey(key);
}

void KeyRounds::Carry() {
    // A window held up (the program's thread was busy elsewhere) mixes the keys' wake-ups
    // with much else: the round starts again later.
    const uint64_t now = platform_.NowMs();
    if (now - windowStart_ > kLateWindowMs) {
        Abort();
        return;
    }
    if (++subStep_ < kStepsPerWindow) {
        if (!InjectWindowKey())
            Abort();
        return;
    }
    subStep_ = 0;
    snapshots_.push_back(counters_.Snapshot());
    windowStart_ = now;
    if (snapshots_.size() <= pattern_.size()) {
        if (!InjectWindowKey())
            Abort();
        return;
    }
    EndRound();
}

void KeyRounds::EndRound() {
    underWay_ = false;
    sinceRound_ = 0;
    ++decided_;
    if (newProgramRounds_ > 0 && --newProgramRounds_ > 0)
        untilNext_ = std::min(untilNext_, kNewProgramGapSteps);
    // Keys that the probes still wait to press, for want of an F11 window after their tick,
    // go in once the round is done with, so that no vote is lost.
    const auto leftover = base::ScopeExit([this] {
        while (waiting_ && waiting_->PressWaitingKey()) {
        }
    });
    const unsigned bits = counters_.CounterBits();
    // Hooks and sinks wake for every key, the bait too.
    const std::vector<ThreadWakes> picked = PickReacting(pattern_, snapshots_, bits);
    // A grabber wakes for the bait alone: to it the F11 windows are as quiet as the others.
    std::vector<uint32_t> grabbers;
    if (bait_) {
        std::vector<int> baitKeys(pattern_.size(), 0);
        for (size_t window = 0; window < pattern_.size(); ++window) {
            if (windowKeys_[window] == *bait_)
                baitKeys[window] = pattern_[window];
        }
        std::set<ThreadId> byEveryKey;
        for (const ThreadWakes& thread : picked)
            byEveryKey.insert(IdOf(thread));
        for (const ThreadWakes& thread : PickReacting(baitKeys, snapshots_, bits)) {
            if (!byEveryKey.count(IdOf(thread)))
                grabbers.push_back(thread.process);
        }
    }
    Name(kHotkeyGrabberKey, grabbers);
    // A poller named by the pause test stays named while it runs.
    Name(kKeyStatePollerKey, {});
    if (const auto found = found_.find(kHotkeyGrabberKey); found != found_.end())
        found->second.weighed = true;

    std::vector<uint32_t> hooks, sinks;
    if (!picked.empty()) {
        const std::optional<BracketCounts> bracket =
            platform_.Bracket(counters_, picked, kBracketKeys);
        if (!bracket || bracket->risesInside.size() != picked.size()) {
            untilNext_ = kSoonerSteps;
            return; // no telling hooks from sinks this time
        }
        for (size_t i = 0; i < picked.size(); ++i) {
            auto& into = IsHookThread(bracket->risesInside[i], bracket->events) ? hooks : sinks;
            into.push_back(picked[i].process);
        }
    }
    Name(kLowLevelHookKey, hooks);
    Name(kRawInputSinkKind, sinks);
    if (const auto found = found_.find(kLowLevelHookKey); found != found_.end())
        found->second.weighed = true;
}

void KeyRounds::Abort() {
    underWay_ = false;
    snapshots_.clear();
    untilNext_ = kRetrySteps;
}

void KeyRounds::Name(const std::string& kind, const std::vector<uint32_t>& processes) {
    std::set<uint32_t> running;
    for (const ThreadWakes& thread : snapshots_.front())
        running.insert(thread.process);
    Named& named = named_[kind];
    std::vector<Holder> holders;
    std::set<uint32_t> seen;
    bool allNamed = true;
    for (uint32_t process : processes) {
        if (!seen.insert(process).second)
            continue;
        Holder holder{process, counters_.ImagePath(process)};
        allNamed = allNamed && !holder.image.empty();
        holders.push_back(holder);
    }
    if (!holders.empty())
        named.allNamed = allNamed;
    // Earlier holders stay named while they run: a round may miss them among the noise.
    for (const Holder& earlier : named.holders) {
        if (running.count(earlier.process) && seen.insert(earlier.process).second)
            holders.push_back(earlier);
    }
    if (holders.empty())
        named.allNamed = false;
    named.holders = std::move(holders);
}

std::vector<Holder> KeyRounds::Holders(const std::string& kind) const {
    const auto found = named_.find(kind);
    return found == named_.end() ? std::vector<Holder>{} : found->second.holders;
}

bool KeyRounds::Weighed(const std::string& kind) const {
    if (kind != kLowLevelHookKey && kind != kHotkeyGrabberKey)
        return true; // no round looks for its holders
    const auto found = found_.find(kind);
    return found != found_.end() &&
           (found->second.weighed || platform_.NowMs() - found->second.since >= kWeighMs);
}

bool KeyRounds::AllNamed(const std::string& kind) const {
    const auto found = named_.find(kind);
    return found != named_.end() && found->second.allNamed;
}

} // namespace detect
