// The scan's platform on Win32: the modules of the program's own process, file times and
// version names, the active window, and F11 into the system's input.
#pragma once

#include "detect/ScanCycle.h"
#include "detect/Win32Helper32.h"
#include "ui/Dialog.h"

#include <memory>

namespace detect {

// Whole seconds of a FILETIME's 100-nanosecond ticks since 1601.
constexpr int64_t FileTimeSeconds(uint64_t ticks) {
    return static_cast<int64_t>(ticks / 10000000u);
}

class Win32ScanPlatform : public ScanPlatform {
public:
    // `window` is the program's main window; the scan runs only while it exists. The 64-bit
    // program also sees the 32-bit hooks through `helper`, when given.
    explicit Win32ScanPlatform(const ui::Dialog& window, Helper32* helper = nullptr)
        : window_(window), helper_(helper) {}

    bool IsActive() override;
    // Also lets the key reach this thread's queue, where it stays for the dialog, so that the
    // keyboard hooks it calls have their DLLs loaded when this returns; waits 50 ms at most.
    // Then the helper has its bait key.
    void InjectF11() override;
    // The program's own modules, then those the helper listed last.
    void ForEachModule(const std::function<void(const std::string&)>& visit) override;
    std::optional<int64_t> CreationTime(const std::string& path) override;
    VendorNames Vendor(const std::string& path) override;

private:
    // Until the F11 is in this thread's queue, 50 ms at most.
    void WaitForTheKey();

    const ui::Dialog& window_;
    Helper32* helper_;
};

} // namespace detect
