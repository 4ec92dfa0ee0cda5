// Which program is the key-state poller: the pause test. The keyboard probes find that someone
// clears the "pressed since the last read" bit of the keys the program presses for itself, not
// who. The pause test suspends the other programs one at a time, most wakeful first, presses a
// probe key while each is suspended and reads the bit back at the end of the pause: while the
// poller is suspended nobody clears it. A program whose pause leaves the bit set twice in a row
// is the poller. Portable: the system is reached through PausePlatform.
#pragma once

#include "detect/KeyRounds.h"
#include "detect/WakeCounters.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace detect {

// At most this many programs are paused in one test, the most wakeful first.
// The question asked before the test, blanks included, and its outcome's line in the box of
// who is behind the row.
constexpr const char kPauseTestQuestion[] =
    "Per trovare il programma che legge lo stato dei tasti, Snoopsweep sospende per meno di "
    "mezzo secondo, uno alla volta, alcuni programmi in esecuzione. Procedere?   ";
constexpr const char kNoPollerFound[] = "Nessun programma trovato.";
// "Programma trovato: <image path> (pid <n>)", or kNoPollerFound.
std::string PauseTestLine(const std::optional<Holder>& poller);

constexpr size_t kMaxPauseCandidates = 8;
// A pause lasts three of the program's wake periods, but never less than kMinPauseMs nor more
// than kMaxPauseMs; the key goes in kSettleMs after the suspend, once the program has surely
// stopped.
constexpr uint64_t kMinPauseMs = 300;
constexpr uint64_t kMaxPauseMs = 1000;
constexpr uint64_t kSettleMs = 50;

// Another program, as the pause test weighs it.
struct ProcessFacts {
    uint32_t process = 0;
    std::string image;               // its program file's full path; empty when unreadable
    std::optional<uint32_t> session; // its session; none when it could not be told
    bool maySuspend = false;         // the program may suspend it
    uint64_t wakes = 0;              // the rises of all its threads over the measured time
    uint64_t busiestWakes = 0;       // the rise of its most wakeful thread alone
};

// The processes with threads in both snapshots and their rises between them; the rest of each
// one's facts is left to the caller. A thread found in one snapshot only (it started or ended
// meanwhile) counts for nothing. Counts keep their low `counterBits` bits: a rise across the
// wrap counts as a rise.
std::vector<ProcessFacts> WakesBetween(const std::vector<ThreadWakes>& before,
                                       const std::vector<ThreadWakes>& after, unsigned counterBits);

// What keeps a program from being paused.
struct PauseRules {
    uint32_t self = 0;               // the program's own process
    std::optional<uint32_t> session; // the program's session
    uint32_t foreground = 0;         // the process of the foreground window
    // The named owners of low-level hooks and raw-input sinks, and the program's own helper.
    std::vector<uint32_t> excluded;
    // The trust rules of a program's file; a trusted program is never paused.
    std::function<bool(const std::string& image)> trusted;
    uint64_t measuredMs = 1000; // the time between the two snapshots
};

// A program to pause, and for how long.
struct PauseCandidate {
    uint32_t process = 0;
    std::string image;
    uint64_t pauseMs = 0; // from the key to the read of the bit
};

// The system's own processes by file name (System, Idle, smss, csrss, wininit, winlogon,
// services, lsass), in any case, with or without ".exe"; System and Idle also by their ids.
bool IsCoreSystemProcess(uint32_t process, const std::string& image);

// The programs to pause, most wakeful first, at most kMaxPauseCandidates. Never the program
// itself, a core system process, one the program may not suspend, one of another session (or
// of none known), the foreground window's, an excluded one, a trusted one, one whose file is
// unknown, nor one that did not wake at all.
std::vector<PauseCandidate> RankPauseCandidates(const std::vector<ProcessFacts>& processes,
                                                const PauseRules& rules);

// What the pauses need from the system.
class PausePlatform {
public:
    virtual ~PausePlatform() = default;
    // Stops every thread of `process`; false when it could not be stopped (it has ended, access
    // is denied).
    virtual bool Suspend(uint32_t process) = 0;
    // Lets the threads that Suspend stopped run again. False when the process was no longer
    // suspended by the test (the platform had resumed it already, having waited too long).
    virtual bool Resume(uint32_t process) = 0;
    // Presses and releases `key` as the poller probe does; false when it did not go in.
    virtual bool InjectProbeKey(int key) = 0;
    // Whether `key` was pressed since the last read of its state, by anyone; the read clears it.
    virtual bool ReadPressedBit(int key) = 0;
    virtual void Wait(uint64_t ms) = 0;
    // Milliseconds on a steady clock.
    virtual uint64_t NowMs() = 0;
};

// Resumes every process it suspended and has not resumed yet when it goes, however the scope
// that holds it ends: no way out of the test leaves a program suspended.
class ResumeGuard {
public:
    explicit ResumeGuard(PausePlatform& platform) : platform_(platform) {}
    ~ResumeGuard();
    ResumeGuard(const ResumeGuard&) = delete;
    ResumeGuard& operator=(const ResumeGuard&) = delete;

    bool Suspend(uint32_t process);
    // As PausePlatform::Resume; false also for a process it did not suspend.
    bool Resume(uint32_t process);

private:
    PausePlatform& platform_;
    std::vector<uint32_t> suspended_;
};

// One pause: the program, from its suspend to its resume, and whether the bit was left set.
struct PauseRecord {
    uint32_t process = 0;
    uint64_t ms = 0;
    bool bitLeftSet = false;
};

struct PauseOutcome {
    std::optional<PauseCandidate> poller;
    std::vector<PauseRecord> pauses;
};

// The pauses, with `key` as the probe key. First a check with nobody paused: when nobody
// clears the bit even then, there is nobody to find. Then each candidate in turn: a pause that
// leaves the bit clear, or whose suspend fails, passes it over; two pauses in a row that leave
// it set name it, once the same check finds the bit cleared again with it running (a poller
// that stopped meanwhile would leave the bit set in anyone's pause). A key that does not go in
// ends the test with nobody found.
PauseOutcome RunPauses(PausePlatform& platform, const std::vector<PauseCandidate>& candidates,
                       int key);

} // namespace detect
