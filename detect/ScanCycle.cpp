#include "detect/ScanCycle.h"

#include "base/ScopeExit.h"
#include "base/Text.h"

namespace detect {

namespace {

const char* const kCoreLibraries[3] = {"kernel32.dll", "gdi32.dll", "user32.dll"};

} // namespace

bool NearAnyReference(const std::optional<int64_t>& time,
                      const std::optional<int64_t> (&references)[3]) {
    if (!time)
        return false;
    for (const auto& reference : references) {
        if (!reference)
            continue;
        const int64_t difference = *time - *reference;
        if (difference > -kNearSeconds && difference < kNearSeconds)
            return true;
    }
    return false;
}

bool NamesMicrosoft(const VendorNames& names) {
    return base::ToLowerAscii(names.company).find("microsoft") != std::string::npos ||
           base::ToLowerAscii(names.product).find("microsoft") != std::string::npos;
}

void ScanCycle::Tick() {
    if (firstTick_ && !listedShown_)
        ShowListedEntries();

    const bool active = platform_.IsActive();
    if (active) {
        platform_.InjectF11();
    } else {
        if (probes_)
            probes_->Pause();
        // Counts inactive ticks only; wraps rather than overflowing after decades.
        tickCount_ = static_cast<int32_t>(static_cast<uint32_t>(tickCount_) + 1u);
        if (tickCount_ % 3 != 0)
            return;
    }

    if (busy_)
        return;
    busy_ = true;
    const auto idle = base::ScopeExit([this] { busy_ = false; });
    const bool calibrating = firstTick_;
    if (active && probes_)
        probes_->RunActive();
    platform_.ForEachModule([&](const std::string& path) { Examine(path, calibrating); });
    if (probes_ && !calibrating) {
        for (const std::string& key : probes_->Findings())
            ListFinding(key);
    }
    firstTick_ = false;
}

void ScanCycle::Analyse() {
    list_.Clear();
    listedShown_ = false;
    ShowListedEntries();
    Tick();
}

void ScanCycle::ShowListedEntries() {
    listedShown_ = true;
    list_.BeginUpdate();
    const auto redraw = base::ScopeExit([this] { list_.EndUpdate(); });
    // The list places each row by its text. Some list controls look for the place from the
    // top, one row after another, so rows are put in from the last key to the first: each then
    // belongs at or near the top, and many thousands of entries fill the list in moments
    // rather than minutes.
    map_.ForEachReversed([&](const std::string& key, const std::string& value) {
        RowState state;
        if (value == kBlocked)
            state = RowState::Blocked;
        else if (value == kAllowed)
            state = RowState::Allowed;
        else
            return;
        // A finding without a file has no names to read.
        const VendorNames names = IsFileless(key) ? VendorNames{} : platform_.Vendor(key);
        list_.Insert(MakeRow(state, key, names.company, names.product));
    });
}

void ScanCycle::Examine(const std::string& path, bool calibrating) {
    const std::string bareName = base::ToLowerAscii(base::FileNameOf(path));
    if (map_.Contains(bareName)) {
        if (calibrating) {
            for (int i = 0; i < 3; ++i) {
                if (bareName == kCoreLibraries[i])
                    references_[i] = platform_.CreationTime(path);
            }
        }
        return;
    }
    if (calibrating)
        return;

    const VendorNames names = platform_.Vendor(path);
    const int row = list_.Find(path);
    if (row < 0) {
        if (!NearAnyReference(platform_.CreationTime(path), references_) && !NamesMicrosoft(names))
            list_.Insert(MakeRow(RowState::Detected, path, names.company, names.product));
        else
            map_.Set(bareName, kTrusted);
        return;
    }

    MarkActive(row, path, names);
}

void ScanCycle::ListFinding(const std::string& key) {
    // No trust rule applies: there is no file to date or to read a vendor from.
    const int row = list_.Find(key);
    if (row < 0)
        list_.Insert(MakeRow(RowState::Detected, key, "", ""));
    else
        MarkActive(row, key, {});
}

void ScanCycle::MarkActive(int row, const std::string& path, const VendorNames& names) {
    std::string verdict;
    if (!map_.Lookup(path, verdict))
        return;
    if (verdict == kBlocked)
        list_.Update(row, MakeRow(RowState::DetectedBlocked, path, names.company, names.product));
    else if (verdict == kAllowed)
        list_.Update(row, MakeRow(RowState::DetectedAllowed, path, names.company, names.product));
}

} // namespace detect
