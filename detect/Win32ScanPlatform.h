// The scan's platform on Win32: the modules of the program's own process, file times and
// version names, the active window, and F11 into the system's input.
#pragma once

#include "detect/ScanCycle.h"
#include "ui/Dialog.h"

namespace detect {

// Whole seconds of a FILETIME's 100-nanosecond ticks since 1601.
constexpr int64_t FileTimeSeconds(uint64_t ticks) {
    return static_cast<int64_t>(ticks / 10000000u);
}

class Win32ScanPlatform : public ScanPlatform {
public:
    // `window` is the program's main window; the scan runs only while it exists.
    explicit Win32ScanPlatform(const ui::Dialog& window) : window_(window) {}

    bool IsActive() override;
    // Also lets the key reach this thread's queue, where it stays for the dialog, so that the
    // keyboard hooks it calls have their DLLs loaded when this returns; waits 50 ms at most.
    void InjectF11() override;
    void ForEachModule(const std::function<void(const std::string&)>& visit) override;
    std::optional<int64_t> CreationTime(const std::string& path) override;
    VendorNames Vendor(const std::string& path) override;

private:
    const ui::Dialog& window_;
};

} // namespace detect
