// The Win32 side of the scan and of the threat list: the modules of the program's own
// process, file times and version names, F11 into the system's input, and the list view.
#pragma once

#include "detect/ScanCycle.h"
#include "detect/ThreatRows.h"
#include "ui/Dialog.h"
#include "ui/Window.h"

namespace detect {

// Whole seconds of a FILETIME's 100-nanosecond ticks since 1601.
constexpr int64_t FileTimeSeconds(uint64_t ticks) {
    return static_cast<int64_t>(ticks / 10000000u);
}

class SystemScan : public ScanSystem {
public:
    // `window` is the program's main window; the scan runs only while it exists.
    explicit SystemScan(const ui::Dialog& window) : window_(window) {}

    bool IsActive() override;
    void InjectF11() override;
    void ForEachModule(const std::function<void(const std::string&)>& visit) override;
    std::optional<int64_t> CreationTime(const std::string& path) override;
    VendorNames Vendor(const std::string& path) override;

private:
    const ui::Dialog& window_;
};

// The threat list on the list-view control: rows written with the list's item calls.
class ListViewThreatList : public ThreatList {
public:
    explicit ListViewThreatList(const ui::ListCtrl& list) : list_(list) {}

    int Find(const std::string& path) override { return list_.FindItem(path); }
    int Insert(const Row& row) override;
    void Update(int index, const Row& row) override;
    void Clear() override { list_.DeleteAllItems(); }
    void BeginUpdate() override;
    void EndUpdate() override;

private:
    void WriteTexts(int index, const Row& row) const;

    const ui::ListCtrl& list_;
};

} // namespace detect
