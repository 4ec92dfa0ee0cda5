#include "detect/ScanCycle.h"

#include "base/ScopeExit.h"
#include "base/Text.h"

#include <algorithm>
#include <memory>

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
    // While a round of keys is under way, or another test presses keys of its own, no other
    // key goes in: the quiet windows stay quiet. The round's own keys are F11s, which bring
    // the hook DLLs in all the same, and its F11 windows carry the probes' keys.
    const bool inRound = rounds_ && rounds_->Running() && !rounds_->Held();
    const bool keysHeldBack = rounds_ && rounds_->Running();
    if (active) {
        if (!keysHeldBack)
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
    if (active && probes_) {
        if (inRound)
            probes_->RunDuringRound();
        else if (keysHeldBack)
            probes_->Pause();
        else
            probes_->RunActive();
    }
    platform_.ForEachModule([&](const std::string& path) { Examine(path, calibrating); });
    if (probes_ && !calibrating)
        ListFindings();
    firstTick_ = false;
}

void ScanCycle::Step() {
    if (!rounds_)
        return;
    rounds_->Step(platform_.IsActive(), probes_ ? probes_->Findings() : std::vector<std::string>{});
    if (rounds_->Decided() == roundsListed_ || !probes_ || firstTick_ || busy_)
        return;
    busy_ = true;
    const auto idle = base::ScopeExit([this] { busy_ = false; });
    ListFindings();
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
        const std::string file = FileOfKey(key);
        const VendorNames names = file.empty() ? VendorNames{} : platform_.Vendor(file);
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

void ScanCycle::ListFindings() {
    const std::vector<std::string> found = probes_->Findings();
    if (rounds_) {
        rounds_->Notice(found);
        roundsListed_ = rounds_->Decided();
    }
    for (const char* kind :
         {kLowLevelHookKey, kKeyStatePollerKey, kHotkeyGrabberKey, kRawInputSinkKind}) {
        bool named = false;
        bool trusted = false;
        if (rounds_) {
            for (const Holder& holder : rounds_->Holders(kind)) {
                if (holder.image.empty())
                    continue;
                named = true;
                const VendorNames names = platform_.Vendor(holder.image);
                if (Trusted(holder.image, names))
                    trusted = true;
                else
                    ListFinding(NamedKey(holder.image, kind), names);
            }
        }
        // The kind alone stays listed unless every program behind it was named and none of
        // them is trusted; a trusted one may hide another that the rounds missed.
        // Until a round has looked for them, the kind alone waits, unless a round has named a
        // trusted one already.
        const bool everyoneListed = named && !trusted && rounds_->AllNamed(kind);
        if (!everyoneListed && (!rounds_ || trusted || rounds_->Weighed(kind)) &&
            std::find(found.begin(), found.end(), kind) != found.end())
            ListFinding(kind, {});
    }
}

std::vector<Holder> ScanCycle::TrustedHolders(const std::string& kind) {
    std::vector<Holder> trusted;
    if (!rounds_)
        return trusted;
    for (const Holder& holder : rounds_->Holders(kind)) {
        if (!holder.image.empty() && Trusted(holder.image, platform_.Vendor(holder.image)))
            trusted.push_back(holder);
    }
    return trusted;
}

bool ScanCycle::Trusted(const std::string& path, const VendorNames& names) const {
    return ProgramTrusted(map_, path, names);
}

bool ScanCycle::ProgramTrusted(const TrustMap& map, const std::string& path,
                               const VendorNames& names) {
    // A program's file time is no reason to trust it: on a system installed the day a
    // keylogger came, everything is near the system's libraries, and any program can set its
    // own times.
    return map.Contains(base::ToLowerAscii(base::FileNameOf(path))) || NamesMicrosoft(names);
}

std::function<bool(const std::string&)> ScanCycle::TrustRulesForAnotherThread() const {
    auto map = std::make_shared<TrustMap>(map_);
    ScanPlatform* platform = &platform_;
    return [map, platform](const std::string& path) {
        return ProgramTrusted(*map, path, platform->Vendor(path));
    };
}

void ScanCycle::ListFinding(const std::string& key, const VendorNames& names) {
    // A kind alone has no file to date or to read a vendor from; a named program's file was
    // weighed by the trust rules before.
    const int row = list_.Find(key);
    if (row < 0)
        list_.Insert(MakeRow(RowState::Detected, key, names.company, names.product));
    else
        MarkActive(row, key, names);
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
