// The pause test on Win32 (detect/PauseTest.h): other programs suspended and resumed whole,
// the poller probe's key, and a watchdog thread that resumes every program still suspended
// past its deadline. Runs on a worker thread of its own, never the dialog's: it waits.
#pragma once

#include "detect/KeyRounds.h"
#include "detect/PauseTest.h"
#include "detect/WakeCounters.h"
#include "ui/Handles.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace detect {

// How a program is suspended: by ntdll's NtSuspendProcess and NtResumeProcess, or thread by
// thread with SuspendThread and ResumeThread, as where ntdll lacks those.
enum class SuspendBy { WholeProcess, EachThread };

// Suspends and resumes other programs, presses the probe key and reads its bit. Each program it
// suspends is resumed by a watchdog thread kWatchdogMs later at the latest, also when the
// thread that made the platform hangs; and at once when that thread ends or the platform goes.
// Suspend, Resume and the destructor belong to the thread that made it.
class Win32PausePlatform : public PausePlatform {
public:
    // `cancel`, when given, is an event that cuts every wait short once set: the test then
    // hurries to its end, resuming as it goes.
    explicit Win32PausePlatform(SuspendBy by = SuspendBy::WholeProcess, HANDLE cancel = nullptr);
    ~Win32PausePlatform() override;
    Win32PausePlatform(const Win32PausePlatform&) = delete;
    Win32PausePlatform& operator=(const Win32PausePlatform&) = delete;

    // False also when the watchdog could not be started: nothing is suspended without it.
    bool Suspend(uint32_t process) override;
    bool Resume(uint32_t process) override;
    // With kProbeKeyMark, through detect::PressAndRelease.
    bool InjectProbeKey(int key) override;
    bool ReadPressedBit(int key) override;
    void Wait(uint64_t ms) override;
    uint64_t NowMs() override { return ::GetTickCount64(); }

    // The longest a program stays suspended: a whole pause, with room to spare.
    static constexpr DWORD kWatchdogMs = 2000;

    // What the platform shares with its watchdog thread.
    struct Watch;

private:
    HANDLE cancel_;
    std::shared_ptr<Watch> watch_;
    ui::Handle watchdog_;
};

// Whether the program may suspend `process`: it can open it for that.
bool MaySuspend(uint32_t process);

// A bare letter, digit or function key of detect::PolledKeys() that no program holds as a
// hotkey, asked of the system on the calling thread; none when every one is taken.
std::optional<int> FreeProbeKey();

struct PauseTestInputs {
    uint32_t helper = 0; // the program's 32-bit helper, neither watched nor paused; 0: none
    // The named owners of low-level hooks and raw-input sinks: never paused.
    std::vector<uint32_t> owners;
    // The trust rules of a program's file, called on the test's thread; a program they trust is
    // never paused. Without them nobody is.
    std::function<bool(const std::string& image)> trusted;
    // An event that, once set, ends the test at once (the program is closing); may be null.
    HANDLE cancel = nullptr;
};

struct PauseTestResult {
    std::optional<Holder> poller;    // the program found; none when nobody was
    std::vector<PauseRecord> pauses; // each pause, in turn
    uint64_t totalMs = 0;            // the whole test, the measurement of the wakes included
};

// The whole test, on the calling thread (a worker's; the dialog's thread pumps meanwhile and
// drops the probe keys, as it does): the other programs' wakes over about a second, the
// candidates, and their pauses with a free probe key. Only while a window of the program's is
// in front and no modifier is held; nobody else presses keys meanwhile (the probes and the
// rounds wait), or the bit would tell nothing. `counters` is refreshed on this thread.
PauseTestResult RunPauseTest(WakeCounterSource& counters, const PauseTestInputs& inputs);

// How long the wakes are counted before the pauses.
constexpr DWORD kPauseTestMeasureMs = 1000;

} // namespace detect
