#include "detect/KeyRounds.h"

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
    if (held && phase_ != Phase::Idle)
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
        if (phase_ != Phase::Idle)
            Abort();
        wasActive_ = false;
        return;
    }
    if (!wasActive_) {
        wasActive_ = true;
        untilNext_ = std::min(untilNext_, kFirstRoundSteps);
    }
    if (phase_ != Phase::Idle) {
        Carry();
        return;
    }

    Notice(kindFindings);
    if (--untilNext_ > 0)
        return;
    untilNext_ = kRoundEverySteps;
    // A grabber found since the last F11 round is baited at once: that round's threads are
    // the ones F11 wakes.
    if (baitWanted_ && keysRoundDone_ && !Weighed(kHotkeyGrabberKey)) {
        if (const std::optional<int> bait = platform_.BaitKey()) {
            StartRound(Phase::Bait, *bait);
            return;
        }
    }
    StartRound(Phase::Keys, kF11);
}

void KeyRounds::Notice(const std::vector<std::string>& kindFindings) {
    // A kind found whose holders are not all named brings the next round nearer, once per
    // finding.
    for (const char* kind : {kLowLevelHookKey, kHotkeyGrabberKey}) {
        if (std::find(kindFindings.begin(), kindFindings.end(), kind) == kindFindings.end()) {
            found_.erase(kind);
            continue;
        }
        if (found_.try_emplace(kind, Found{platform_.NowMs(), false}).second && !AllNamed(kind))
            untilNext_ = std::min(untilNext_, kSoonerSteps);
    }
    baitWanted_ = found_.count(kHotkeyGrabberKey) != 0;
}

void KeyRounds::StartRound(Phase phase, int key) {
    counters_.Refresh(skipped_);
    phase_ = phase;
    key_ = key;
    pattern_ = RoundPattern(static_cast<uint32_t>(platform_.NowMs()) * 2654435761u + ++rounds_);
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
    if (subStep_ >= pattern_[snapshots_.size() - 1])
        return true;
    return platform_.InjectRoundKey(key_);
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
    if (phase_ == Phase::Keys)
        EndKeys();
    else
        EndBait();
}

void KeyRounds::EndKeys() {
    phase_ = Phase::Idle;
    const std::vector<ThreadWakes> picked =
        PickReacting(pattern_, snapshots_, counters_.CounterBits());
    keyThreads_ = picked;
    keysRoundDone_ = true;
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
    // A poller named by the pause test stays named while it runs.
    Name(kKeyStatePollerKey, {});
    if (const auto found = found_.find(kLowLevelHookKey); found != found_.end())
        found->second.weighed = true;

    if (baitWanted_) {
        if (const std::optional<int> bait = platform_.BaitKey())
            StartRound(Phase::Bait, *bait);
        else
            found_[kHotkeyGrabberKey].weighed = true; // nobody to bait after all
    }
}

void KeyRounds::EndBait() {
    phase_ = Phase::Idle;
    std::set<ThreadId> byKeys;
    for (const ThreadWakes& thread : keyThreads_)
        byKeys.insert(IdOf(thread));
    // Hooks and sinks wake for the bait too: only a thread that F11 left alone holds it.
    std::vector<uint32_t> grabbers;
    for (const ThreadWakes& thread : PickReacting(pattern_, snapshots_, counters_.CounterBits())) {
        if (!byKeys.count(IdOf(thread)))
            grabbers.push_back(thread.process);
    }
    Name(kHotkeyGrabberKey, grabbers);
    if (const auto found = found_.find(kHotkeyGrabberKey); found != found_.end())
        found->second.weighed = true;
}

void KeyRounds::Abort() {
    phase_ = Phase::Idle;
    snapshots_.clear();
    untilNext_ = kFirstRoundSteps;
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
