#include "detect/PauseTest.h"

#include "base/Text.h"

#include <algorithm>
#include <map>
#include <utility>

namespace detect {

namespace {

const char* const kCoreSystemNames[] = {"system",  "idle",     "smss",     "csrss",
                                        "wininit", "winlogon", "services", "lsass"};
constexpr uint32_t kIdleProcess = 0;
constexpr uint32_t kSystemProcess = 4;

// Three wake periods of the most wakeful thread, within the bounds of a pause.
uint64_t PauseLength(uint64_t measuredMs, uint64_t busiestWakes) {
    return std::clamp(3 * measuredMs / busiestWakes, kMinPauseMs, kMaxPauseMs);
}

bool Listed(const std::vector<uint32_t>& processes, uint32_t process) {
    return std::find(processes.begin(), processes.end(), process) != processes.end();
}

// Everything that keeps a program from being paused but the trust rules, which cost more.
bool Excluded(const ProcessFacts& facts, const PauseRules& rules) {
    return facts.process == rules.self || facts.process == rules.foreground ||
           Listed(rules.excluded, facts.process) || !facts.maySuspend || facts.image.empty() ||
           !facts.session || !rules.session || *facts.session != *rules.session ||
           IsCoreSystemProcess(facts.process, facts.image);
}

enum class Pause { BitSet, BitClear, Missed, KeyRefused };

// One pause of `candidate`: suspended, the bit cleared, the key pressed, the bit read back at
// the end of the pause, resumed. A pause that the platform had to end early is missed.
Pause PauseOnce(PausePlatform& platform, ResumeGuard& guard, const PauseCandidate& candidate,
                int key, std::vector<PauseRecord>& pauses) {
    const uint64_t start = platform.NowMs();
    if (!guard.Suspend(candidate.process))
        return Pause::Missed;
    platform.Wait(kSettleMs);
    platform.ReadPressedBit(key);
    const bool keyIn = platform.InjectProbeKey(key);
    bool set = false;
    if (keyIn) {
        platform.Wait(candidate.pauseMs);
        set = platform.ReadPressedBit(key);
    }
    const bool heldThroughout = guard.Resume(candidate.process);
    if (!keyIn)
        return Pause::KeyRefused;
    pauses.push_back({candidate.process, platform.NowMs() - start, set});
    if (!heldThroughout)
        return Pause::Missed;
    return set ? Pause::BitSet : Pause::BitClear;
}

// With nobody paused: the key, and after `waitMs` whether its bit has been cleared by someone.
// None when the key did not go in.
std::optional<bool> SomeoneClears(PausePlatform& platform, int key, uint64_t waitMs) {
    platform.ReadPressedBit(key);
    if (!platform.InjectProbeKey(key))
        return std::nullopt;
    platform.Wait(waitMs);
    return !platform.ReadPressedBit(key);
}

} // namespace

std::vector<ProcessFacts> WakesBetween(const std::vector<ThreadWakes>& before,
                                       const std::vector<ThreadWakes>& after,
                                       unsigned counterBits) {
    const uint64_t mask = counterBits >= 64 ? ~uint64_t{0} : (uint64_t{1} << counterBits) - 1;
    std::map<std::pair<uint32_t, uint64_t>, uint64_t> earlier;
    for (const ThreadWakes& thread : before)
        earlier[{thread.process, thread.thread}] = thread.count;
    std::map<uint32_t, ProcessFacts> processes;
    for (const ThreadWakes& thread : after) {
        const auto found = earlier.find({thread.process, thread.thread});
        if (found == earlier.end())
            continue;
        const uint64_t rise = (thread.count - found->second) & mask;
        ProcessFacts& facts = processes[thread.process];
        facts.process = thread.process;
        facts.wakes += rise;
        facts.busiestWakes = std::max(facts.busiestWakes, rise);
    }
    std::vector<ProcessFacts> list;
    list.reserve(processes.size());
    for (auto& process : processes)
        list.push_back(std::move(process.second));
    return list;
}

bool IsCoreSystemProcess(uint32_t process, const std::string& image) {
    if (process == kIdleProcess || process == kSystemProcess)
        return true;
    std::string name = base::ToLowerAscii(base::FileNameOf(image));
    const std::string exe = ".exe";
    if (name.size() > exe.size() && name.compare(name.size() - exe.size(), exe.size(), exe) == 0)
        name.erase(name.size() - exe.size());
    for (const char* core : kCoreSystemNames) {
        if (name == core)
            return true;
    }
    return false;
}

std::vector<PauseCandidate> RankPauseCandidates(const std::vector<ProcessFacts>& processes,
                                                const PauseRules& rules) {
    std::vector<const ProcessFacts*> woken;
    for (const ProcessFacts& facts : processes) {
        if (facts.wakes > 0 && facts.busiestWakes > 0)
            woken.push_back(&facts);
    }
    std::stable_sort(woken.begin(), woken.end(), [](const ProcessFacts* a, const ProcessFacts* b) {
        return a->wakes > b->wakes;
    });
    // The trust rules are asked only about the programs that would be paused otherwise.
    std::vector<PauseCandidate> candidates;
    for (const ProcessFacts* facts : woken) {
        if (candidates.size() == kMaxPauseCandidates)
            break;
        if (Excluded(*facts, rules) || !rules.trusted || rules.trusted(facts->image))
            continue;
        candidates.push_back(
            {facts->process, facts->image, PauseLength(rules.measuredMs, facts->busiestWakes)});
    }
    return candidates;
}

ResumeGuard::~ResumeGuard() {
    for (auto process = suspended_.rbegin(); process != suspended_.rend(); ++process) {
        // One process that cannot be resumed keeps none of the others suspended.
        try {
            platform_.Resume(*process);
        } catch (...) {
        }
    }
}

bool ResumeGuard::Suspend(uint32_t process) {
    // Room first: a process once suspended is always noted.
    suspended_.reserve(suspended_.size() + 1);
    if (!platform_.Suspend(process))
        return false;
    suspended_.push_back(process);
    return true;
}

bool ResumeGuard::Resume(uint32_t process) {
    const auto found = std::find(suspended_.begin(), suspended_.end(), process);
    if (found == suspended_.end())
        return false;
    suspended_.erase(found);
    return platform_.Resume(process);
}

std::string PauseTestLine(const std::optional<Holder>& poller) {
    if (!poller)
        return kNoPollerFound;
    return "Programma trovato: " + poller->image + " (pid " + std::to_string(poller->process) + ")";
}

PauseOutcome RunPauses(PausePlatform& platform, const std::vector<PauseCandidate>& candidates,
                       int key) {
    PauseOutcome outcome;
    if (candidates.empty())
        return outcome;
    uint64_t longest = 0;
    for (const PauseCandidate& candidate : candidates)
        longest = std::max(longest, candidate.pauseMs);
    // A poller that has stopped (or never ran) would leave the bit set in anyone's pause.
    if (SomeoneClears(platform, key, longest) != true)
        return outcome;

    ResumeGuard guard(platform);
    for (const PauseCandidate& candidate : candidates) {
        for (int setInARow = 0;;) {
            const Pause pause = PauseOnce(platform, guard, candidate, key, outcome.pauses);
            if (pause == Pause::KeyRefused)
                return outcome;
            if (pause != Pause::BitSet)
                break;
            if (++setInARow < 2)
                continue;
            // And once it runs again, the bit is cleared again: it did not merely stop polling
            // meanwhile, leaving the bit set in anyone's pause.
            if (SomeoneClears(platform, key, candidate.pauseMs) == true)
                outcome.poller = candidate;
            return outcome;
        }
    }
    return outcome;
}

} // namespace detect
