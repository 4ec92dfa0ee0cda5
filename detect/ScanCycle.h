// The detector: once a tick it looks at the modules loaded in the program's own process and
// lists every one that is not a known system library, not from a "microsoft" vendor and not
// created within 13 hours of the system's core libraries; with the keyboard probes, it also
// lists the keyloggers that they find, and the programs behind them unless their name or vendor
// is trusted (a program's creation time makes no difference). Portable: the system is reached
// through ScanPlatform (and ProbePlatform), the rows through ThreatList.
#pragma once

#include "detect/KeyRounds.h"
#include "detect/KeyboardProbes.h"
#include "detect/ThreatRows.h"
#include "detect/TrustMap.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace detect {

// A file's company and product names as its version resource stores them.
struct VendorNames {
    std::string company;
    std::string product;
};

// What a pass needs from the system: the port that the Win32 side (Win32ScanPlatform) and the
// tests' fakes implement.
class ScanPlatform {
public:
    virtual ~ScanPlatform() = default;
    // True when the program's window is the active window of its thread.
    virtual bool IsActive() = 0;
    // Presses and releases F11 in the system's input.
    virtual void InjectF11() = 0;
    // Calls `visit` with the full path of every module loaded in the program's process, as
    // the module enumerator reports it.
    virtual void ForEachModule(const std::function<void(const std::string&)>& visit) = 0;
    // The file's creation time in whole seconds since 1601 (UTC), or none when the file
    // cannot be found.
    virtual std::optional<int64_t> CreationTime(const std::string& path) = 0;
    // Company and product of the file's version resource; empty where there are none.
    virtual VendorNames Vendor(const std::string& path) = 0;
};

// Two creation times are near when less than 13 hours apart either way.
constexpr int64_t kNearSeconds = 13 * 3600;

// True when `time` is known and near at least one known reference.
bool NearAnyReference(const std::optional<int64_t>& time,
                      const std::optional<int64_t> (&references)[3]);

// True when "microsoft" occurs in either name, in any letter case.
bool NamesMicrosoft(const VendorNames& names);

class ScanCycle {
public:
    // `probes`, when given, run on every tick with the window in front, and their findings
    // are listed by every pass after calibration. `rounds`, when given, name the programs
    // behind them: a named program is listed by its own row, "<image> <kind>".
    ScanCycle(TrustMap& map, ThreatList& list, ScanPlatform& platform,
              KeyboardProbes* probes = nullptr, KeyRounds* rounds = nullptr)
        : map_(map), list_(list), platform_(platform), probes_(probes), rounds_(rounds) {
        if (rounds_)
            rounds_->SetWaitingKeys(probes_);
    }

    // Set while the trust map loads: the next complete pass calibrates.
    void ResetFlags() {
        firstTick_ = true;
        busy_ = false;
    }
    // Set just before the timer starts: the first tick always runs a pass.
    void ResetTickCounter() { tickCount_ = -1; }

    // One timer tick: the remembered entries on the first tick, F11 while active, and a pass
    // on every active tick and every third inactive one.
    void Tick();
    // Every StepMs() of the rounds: carries the rounds of keys on, and lists what a round that
    // has just ended found at once, rather than on the next tick.
    void Step();
    // The programs named for `kind` whose file passes the trust rules: they have no row of
    // their own.
    std::vector<Holder> TrustedHolders(const std::string& kind);
    // The trust rules of a program's file as they stand now, with what they read copied, for
    // another thread: the platform's Vendor is called there.
    std::function<bool(const std::string&)> TrustRulesForAnotherThread() const;
    // "Analizza": empties the list, shows the remembered entries and runs a tick at once.
    void Analyse();
    // Adds a row for every blocked and allowed entry of the trust map.
    void ShowListedEntries();

    int32_t TickCount() const noexcept { return tickCount_; }
    bool Busy() const noexcept { return busy_; }
    bool FirstTick() const noexcept { return firstTick_; }
    // The creation times of kernel32.dll, gdi32.dll and user32.dll, once calibrated.
    const std::optional<int64_t> (&References() const noexcept)[3] { return references_; }

private:
    void Examine(const std::string& path, bool calibrating);
    // Lists the findings of the probes and of the rounds.
    void ListFindings();
    // Lists a finding of the probes, or marks its row active.
    void ListFinding(const std::string& key, const VendorNames& names);
    // The trust rules of a program named by the rounds or the pause test: those of a module
    // but for its creation time.
    bool Trusted(const std::string& path, const VendorNames& names) const;
    static bool ProgramTrusted(const TrustMap& map, const std::string& path,
                               const VendorNames& names);
    // Marks the row of a loaded module or a present finding active, with its verdict.
    void MarkActive(int row, const std::string& path, const VendorNames& names);

    TrustMap& map_;
    ThreatList& list_;
    ScanPlatform& platform_;
    KeyboardProbes* probes_;
    KeyRounds* rounds_;
    int32_t tickCount_ = -1;
    bool busy_ = false;
    bool firstTick_ = true;
    // The list holds the remembered entries since it was last emptied.
    bool listedShown_ = false;
    uint32_t roundsListed_ = 0; // the rounds' Decided() when their findings were last listed
    std::optional<int64_t> references_[3]; // kernel32.dll, gdi32.dll, user32.dll
};

} // namespace detect
