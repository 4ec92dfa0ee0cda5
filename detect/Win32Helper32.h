// The 64-bit program's view of the 32-bit processes' hooks: a helper process of 32 bits
// (SnoopsweepHelper32.exe, beside the program) keeps a small child window of the dialog. On
// each active tick the dialog lends it the keyboard focus for one bait key, so that the system
// loads every 32-bit keyboard hook DLL into the helper, which lists its modules back over a
// pipe that only the program reads. The helper is the dialog's alone: started by it, ended
// with it (a job that kills it when the program ends, however it ends), never two at once.
// A helper that is missing, fails, ends, hangs or says anything but its records is ended and
// started again a few times with a growing pause; meanwhile the program goes on with its own
// bitness. Every wait of the dialog's thread here is bounded.
#pragma once

#include "detect/HelperReport.h"
#include "ui/Handles.h"

#include <windows.h>

#include <string>
#include <vector>

namespace detect {

class Helper32 {
public:
    // `program` is the helper's program file; a helper that failed is started again after
    // `firstPauseMs`, then twice as long each time; one that has not shown its window
    // `startLimitMs` after its start has failed.
    explicit Helper32(std::string program, ULONGLONG firstPauseMs = kFirstPauseMs,
                      ULONGLONG startLimitMs = kStartLimitMs)
        : program_(std::move(program)), firstPauseMs_(firstPauseMs), startLimitMs_(startLimitMs) {}
    ~Helper32() { Stop(false); }
    Helper32(const Helper32&) = delete;
    Helper32& operator=(const Helper32&) = delete;

    // An active tick of `dialog`, after its own F11: takes in what the helper said, starts it
    // when it is due, or lends its window the focus for the bait key.
    void Probe(HWND dialog);
    // Ends the helper, as the dialog closes: before its window goes, so that the child
    // window of the helper's goes first.
    void End() { Stop(false); }
    // The helper's modules, as it listed them last.
    const std::vector<std::string>& Modules() const { return modules_; }

    // The helper's program file beside the program's own.
    static std::string BesideProgram();
    // How many times a helper that failed is started again, and the first pause before that
    // (doubled each time).
    static constexpr int kMaxStarts = 5;
    static constexpr ULONGLONG kFirstPauseMs = 1000;
    // How long the bait key may take to reach the helper, and the helper to answer at all.
    static constexpr DWORD kKeyWaitMs = 100;
    static constexpr DWORD kAnswerWaitMs = 50;
    // How long a helper may take to show its window (32-bit programs may run emulated).
    static constexpr ULONGLONG kStartLimitMs = 10000;

    // The helper's process, while one runs (for tests).
    DWORD ProcessId() const { return process_ ? ::GetProcessId(process_.get()) : 0; }

private:
    bool Start(HWND dialog);
    // Ends the helper; `failed` counts it among the failures and sets the pause.
    void Stop(bool failed);
    // Takes in what the helper wrote; false when it is not to be trusted.
    bool Read();
    void LendFocus(HWND dialog);

    std::string program_;
    ULONGLONG firstPauseMs_;
    ULONGLONG startLimitMs_;
    ui::Handle job_;
    ui::Handle process_;
    ui::Handle pipe_;  // the read end
    ui::Handle taken_; // set by the helper once it has the bait key
    HWND window_ = nullptr;
    DWORD windowThread_ = 0;
    HelperReportReader reader_;
    std::vector<std::string> modules_;
    int failures_ = 0;
    ULONGLONG nextStart_ = 0;
    ULONGLONG startedAt_ = 0;
};

} // namespace detect
