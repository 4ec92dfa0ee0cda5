#include "detect/ScanCycle.h"

#include "base/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>

namespace {

using detect::Row;
using detect::ScanCycle;

constexpr int64_t kDay = 24 * 3600;
constexpr int64_t kSystemTime = 13'000'000'000; // when the system's libraries were made

class FakeSystem : public detect::ScanPlatform {
public:
    bool active = false;
    int f11 = 0;
    int walks = 0;
    std::vector<std::string> modules;
    std::map<std::string, std::optional<int64_t>> times;
    std::map<std::string, detect::VendorNames> vendors;
    std::vector<std::string> vendorReads;
    std::function<void()> duringWalk;

    bool IsActive() override { return active; }
    void InjectF11() override { ++f11; }
    void ForEachModule(const std::function<void(const std::string&)>& visit) override {
        ++walks;
        if (duringWalk)
            duringWalk();
        for (const auto& module : modules)
            visit(module);
    }
    std::optional<int64_t> CreationTime(const std::string& path) override {
        const auto found = times.find(path);
        return found == times.end() ? std::nullopt : found->second;
    }
    detect::VendorNames Vendor(const std::string& path) override {
        vendorReads.push_back(path);
        const auto found = vendors.find(path);
        return found == vendors.end() ? detect::VendorNames{} : found->second;
    }

    void AddSystemLibraries() {
        for (const char* name : {"ntdll.dll", "kernel32.dll", "gdi32.dll", "USER32.dll"}) {
            const std::string path = std::string("C:\\windows\\system32\\") + name;
            modules.push_back(path);
            times[path] = kSystemTime;
        }
    }
    void AddModule(const std::string& path, std::optional<int64_t> time) {
        modules.push_back(path);
        times[path] = time;
    }
};

// Rows kept sorted by path, as the list control keeps them.
class FakeList : public detect::ThreatList {
public:
    std::vector<Row> rows;
    int inserts = 0;
    int updates = 0;

    int Find(const std::string& path) override {
        for (size_t i = 0; i < rows.size(); ++i) {
            if (base::ToLowerAscii(rows[i].path) == base::ToLowerAscii(path))
                return static_cast<int>(i);
        }
        return -1;
    }
    int Insert(const Row& row) override {
        ++inserts;
        const auto at =
            std::upper_bound(rows.begin(), rows.end(), row,
                             [](const Row& a, const Row& b) { return a.path < b.path; });
        return static_cast<int>(rows.insert(at, row) - rows.begin());
    }
    void Update(int index, const Row& row) override {
        ++updates;
        rows.at(static_cast<size_t>(index)) = row;
    }
    void Clear() override { rows.clear(); }
    void Remove(int index) override { rows.erase(rows.begin() + index); }
    void BeginUpdate() override { ++updating; }
    void EndUpdate() override { --updating; }
    int updating = 0;

    const Row* RowFor(const std::string& path) const {
        for (const auto& row : rows) {
            if (row.path == path)
                return &row;
        }
        return nullptr;
    }
};

class Scan : public ::testing::Test {
protected:
    Scan() {
        detect::AddTrustedNames(map, "C:\\tools\\Snoopsweep.exe");
        system.AddSystemLibraries();
        system.modules.push_back("C:\\tools\\Snoopsweep.exe");
        scan.ResetFlags();
        scan.ResetTickCounter();
    }
    // The calibration tick, then the window in front.
    void Calibrate() {
        scan.Tick();
        system.active = true;
    }

    detect::TrustMap map;
    FakeSystem system;
    FakeList list;
    ScanCycle scan{map, list, system};
};

TEST_F(Scan, CalibrationTakesTheReferenceTimesAndListsNothing) {
    system.AddModule("C:\\spy\\hook.dll", kSystemTime - 40 * kDay);
    scan.Tick();
    EXPECT_EQ(system.walks, 1);
    EXPECT_FALSE(scan.FirstTick());
    for (const auto& reference : scan.References())
        EXPECT_EQ(reference, kSystemTime);
    EXPECT_TRUE(list.rows.empty());
    EXPECT_FALSE(map.Contains("hook.dll"));

    // The next pass lists it, once, with the detected state.
    system.active = true;
    system.vendors["C:\\spy\\hook.dll"] = {"ACME Spy", "Logger PRO"};
    scan.Tick();
    scan.Tick();
    ASSERT_EQ(list.rows.size(), 1u);
    const Row& row = list.rows[0];
    EXPECT_EQ(row.path, "C:\\spy\\hook.dll");
    EXPECT_EQ(row.status, " Attivo");
    EXPECT_EQ(row.image, 0);
    EXPECT_EQ(row.code, 0);
    EXPECT_EQ(row.company, "acme spy");
    EXPECT_EQ(row.product, "logger pro");
    EXPECT_EQ(list.inserts, 1);
    EXPECT_EQ(list.updates, 0);
}

TEST_F(Scan, InactiveTicksScanEveryThirdAndActiveTicksAlwaysWithF11) {
    scan.Tick(); // 1st inactive tick: count 0, a pass
    EXPECT_EQ(system.walks, 1);
    scan.Tick(); // 2nd
    scan.Tick(); // 3rd
    EXPECT_EQ(system.walks, 1);
    scan.Tick(); // 4th
    EXPECT_EQ(system.walks, 2);
    EXPECT_EQ(system.f11, 0);

    system.active = true;
    scan.Tick();
    scan.Tick();
    EXPECT_EQ(system.walks, 4);
    EXPECT_EQ(system.f11, 2);
    EXPECT_EQ(scan.TickCount(), 3); // untouched while active

    system.active = false;
    scan.Tick(); // 5th inactive: count 4
    scan.Tick(); // 6th: count 5
    EXPECT_EQ(system.walks, 4);
    scan.Tick(); // 7th: count 6, a pass
    EXPECT_EQ(system.walks, 5);
}

TEST_F(Scan, TheThirteenHourWindowHasItsBoundariesEitherWay) {
    Calibrate();
    system.AddModule("C:\\a\\near-after.dll", kSystemTime + 46799);
    system.AddModule("C:\\a\\near-before.dll", kSystemTime - 46799);
    system.AddModule("C:\\a\\far-after.dll", kSystemTime + 46800);
    system.AddModule("C:\\a\\far-before.dll", kSystemTime - 46800);
    scan.Tick();
    EXPECT_TRUE(map.Contains("near-after.dll"));
    EXPECT_TRUE(map.Contains("near-before.dll"));
    EXPECT_FALSE(map.Contains("far-after.dll"));
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.rows[0].path, "C:\\a\\far-after.dll");
    EXPECT_EQ(list.rows[1].path, "C:\\a\\far-before.dll");
}

TEST(ScanReferences, OneNearReferenceSufficesAndMissingTimesClearNothing) {
    const std::optional<int64_t> refs[3] = {kSystemTime, kSystemTime + 40 * kDay, std::nullopt};
    EXPECT_TRUE(detect::NearAnyReference(kSystemTime + 40 * kDay + 3600, refs));
    EXPECT_FALSE(detect::NearAnyReference(kSystemTime + 20 * kDay, refs));
    EXPECT_FALSE(detect::NearAnyReference(std::nullopt, refs));
    const std::optional<int64_t> none[3] = {};
    EXPECT_FALSE(detect::NearAnyReference(kSystemTime, none));
}

TEST(ScanVendor, MicrosoftInAnyCaseAnywhereInEitherName) {
    EXPECT_TRUE(detect::NamesMicrosoft({"Microsoft Corporation", ""}));
    EXPECT_TRUE(detect::NamesMicrosoft({"", "MICROSOFT"}));
    EXPECT_TRUE(detect::NamesMicrosoft({"NotMicrosoftish Ltd", ""}));
    EXPECT_FALSE(detect::NamesMicrosoft({"Micro soft", "Windows"}));
    EXPECT_FALSE(detect::NamesMicrosoft({}));
}

TEST_F(Scan, VendorOrDateClearsABareNameForEveryDirectory) {
    Calibrate();
    system.AddModule("C:\\a\\ms.dll", kSystemTime - 400 * kDay);
    system.vendors["C:\\a\\ms.dll"] = {"", "Microsoft Windows"};
    system.AddModule("C:\\a\\x.dll", kSystemTime + 3600);
    scan.Tick();
    EXPECT_TRUE(list.rows.empty());
    std::string value = "x";
    ASSERT_TRUE(map.Lookup("ms.dll", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(map.Contains("x.dll"));

    // Another x.dll, far from everything, is never examined again.
    system.vendorReads.clear();
    system.AddModule("C:\\b\\X.DLL", kSystemTime - 90 * kDay);
    scan.Tick();
    EXPECT_TRUE(list.rows.empty());
    EXPECT_TRUE(system.vendorReads.empty());
}

TEST_F(Scan, AModuleWithoutTimeOrReferencesIsListed) {
    Calibrate();
    system.AddModule("C:\\gone\\deleted.dll", std::nullopt);
    system.AddModule("N/A (error)", std::nullopt);
    scan.Tick();
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.rows[0].path, "C:\\gone\\deleted.dll");
    EXPECT_EQ(list.rows[1].path, "N/A (error)");

    // Calibration that found no core library: no module is near anything.
    detect::TrustMap otherMap;
    detect::AddTrustedNames(otherMap, "C:\\tools\\Snoopsweep.exe");
    FakeSystem bare;
    FakeList otherList;
    ScanCycle other{otherMap, otherList, bare};
    other.Tick();
    bare.AddModule("C:\\new\\fresh.dll", kSystemTime);
    other.Tick();
    other.Tick();
    other.Tick();
    EXPECT_EQ(otherList.rows.size(), 1u);
    // No module on the first pass: calibration is over all the same.
    EXPECT_FALSE(other.FirstTick());
    bare.AddSystemLibraries();
    other.Tick();
    other.Tick();
    other.Tick();
    EXPECT_FALSE(other.References()[0].has_value());
}

TEST_F(Scan, KnownBareNamesAreNeverExaminedWhateverTheirVerdict) {
    map.Set("hook.dll", detect::kBlocked);
    map.Set("keys.dll", detect::kAllowed);
    Calibrate();
    system.AddModule("C:\\spy\\hook.dll", kSystemTime - 40 * kDay);
    system.AddModule("C:\\spy\\keys.dll", kSystemTime - 40 * kDay);
    scan.Tick();
    // The bare-name entries are not paths: no row, and no row is shown for them at start.
    EXPECT_EQ(list.rows.size(), 2u); // both shown as remembered entries on the first tick
    EXPECT_EQ(list.updates, 0);
    EXPECT_EQ(list.RowFor("hook.dll")->status, "Bloccato  ");
}

TEST_F(Scan, RememberedEntriesShowOnTheFirstTickAndTurnActiveWhenLoaded) {
    map.Set("C:\\spy\\hook.dll", detect::kBlocked);
    map.Set("C:\\spy\\keys.dll", detect::kAllowed);
    map.Set("C:\\old\\gone.dll", detect::kBlocked);
    system.vendors["C:\\spy\\hook.dll"] = {"Spy Inc", "HOOK"};
    scan.Tick();
    ASSERT_EQ(list.rows.size(), 3u);
    EXPECT_EQ(list.rows[0].path, "C:\\old\\gone.dll");
    EXPECT_EQ(list.rows[0].status, "Bloccato  ");
    EXPECT_EQ(list.rows[0].image, 1);
    EXPECT_EQ(list.rows[0].code, 1);
    EXPECT_EQ(list.rows[2].status, " Lecito");
    EXPECT_EQ(list.rows[2].image, 2);
    EXPECT_EQ(list.rows[2].code, 2);

    system.active = true;
    system.AddModule("C:\\spy\\hook.dll", kSystemTime - 40 * kDay);
    system.AddModule("C:\\spy\\keys.dll", kSystemTime + 3600); // near, but it has a row
    scan.Tick();
    EXPECT_EQ(list.rows.size(), 3u);
    const Row* hook = list.RowFor("C:\\spy\\hook.dll");
    EXPECT_EQ(hook->status, " Attivo & Bloccato  ");
    EXPECT_EQ(hook->image, 3);
    EXPECT_EQ(hook->code, 1);
    EXPECT_EQ(hook->company, "spy inc");
    EXPECT_EQ(hook->product, "hook");
    const Row* keys = list.RowFor("C:\\spy\\keys.dll");
    EXPECT_EQ(keys->status, " Attivo & Lecito ");
    EXPECT_EQ(keys->image, 4);
    EXPECT_FALSE(map.Contains("keys.dll"));
    // The remembered entries are shown once only.
    scan.Tick();
    EXPECT_EQ(list.rows.size(), 3u);
}

TEST_F(Scan, RememberedEntriesAreShownInOneUpdateEvenWhenReadingFails) {
    map.Set("C:\\spy\\hook.dll", detect::kBlocked);
    map.Set("C:\\spy\\keys.dll", detect::kAllowed);
    scan.ShowListedEntries();
    EXPECT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.updating, 0);

    class Failing : public FakeSystem {
        detect::VendorNames Vendor(const std::string&) override { throw std::bad_alloc(); }
    } failing;
    FakeList other;
    ScanCycle broken{map, other, failing};
    EXPECT_THROW(broken.ShowListedEntries(), std::bad_alloc);
    EXPECT_EQ(other.updating, 0);
}

TEST_F(Scan, RowSearchIgnoresCaseButTheVerdictLookupDoesNot) {
    map.Set("C:\\SPY\\hook.dll", detect::kBlocked);
    Calibrate();
    system.AddModule("C:\\spy\\hook.dll", kSystemTime - 40 * kDay);
    scan.Tick();
    ASSERT_EQ(list.rows.size(), 1u);
    EXPECT_EQ(list.rows[0].path, "C:\\SPY\\hook.dll");
    EXPECT_EQ(list.rows[0].status, "Bloccato  ");
    EXPECT_EQ(list.updates, 0);
}

TEST_F(Scan, ATickDuringAPassOnlyInjectsOrCountsAndAFailedPassFreesTheScan) {
    Calibrate();
    int nested = 0;
    system.duringWalk = [&] {
        if (nested++ == 0)
            scan.Tick();
    };
    scan.Tick();
    EXPECT_EQ(system.walks, 2); // calibration and this pass; the nested tick did not scan
    EXPECT_EQ(system.f11, 2);   // but it injected its key

    system.duringWalk = [] { throw std::runtime_error("out of memory"); };
    EXPECT_THROW(scan.Tick(), std::runtime_error);
    EXPECT_FALSE(scan.Busy());
    system.duringWalk = nullptr;
    scan.Tick();
    EXPECT_EQ(system.walks, 4);
}

TEST_F(Scan, AnalyseRebuildsTheListWithoutDuplicates) {
    map.Set("C:\\spy\\hook.dll", detect::kBlocked);
    system.active = true;
    // Before the first tick: the remembered entries once, and the pass calibrates.
    scan.Analyse();
    EXPECT_EQ(list.rows.size(), 1u);
    EXPECT_FALSE(scan.FirstTick());

    system.AddModule("C:\\spy\\logger.dll", kSystemTime - 40 * kDay);
    system.AddModule("C:\\spy\\hook.dll", kSystemTime - 40 * kDay);
    scan.Tick();
    ASSERT_EQ(list.rows.size(), 2u);

    // Unloaded modules do not come back; remembered and loaded ones do, once each.
    list.rows.push_back({"C:\\was\\here.dll", " Attivo", "", "", 0, 0});
    scan.Analyse();
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.RowFor("C:\\spy\\hook.dll")->status, " Attivo & Bloccato  ");
    EXPECT_EQ(list.RowFor("C:\\spy\\logger.dll")->status, " Attivo");
}

// A low-level hook that the probe always times.
class HookedKeyboard : public detect::ProbePlatform {
public:
    std::vector<detect::ChainTiming> TimeLowLevelChain(bool& keySent) override {
        keySent = true;
        return {{0.2, 0.4}, {0.2, 0.4}};
    }
    bool ReadPressedBit(int) override { return true; }
    bool InjectProbeKey(int) override { return true; }
    bool ProbeKeyArrived() override { return true; }
    bool HotkeyTaken(int) override { return false; }
};

TEST_F(Scan, FindingsOfTheProbesAreListedLikeModulesButWithoutTrustRules) {
    HookedKeyboard keyboard;
    detect::KeyboardProbes probes(keyboard);
    ScanCycle withProbes(map, list, system, &probes);
    withProbes.ResetFlags();
    withProbes.ResetTickCounter();
    map.Set(detect::kKeyStatePollerKey, detect::kAllowed);
    system.active = true;
    // Calibration votes but lists nothing beyond the remembered entry, read from no file.
    for (int tick = 0; tick < 3; ++tick)
        withProbes.Tick();
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.RowFor(detect::kKeyStatePollerKey)->status, " Lecito");
    const Row* hook = list.RowFor(detect::kLowLevelHookKey);
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(hook->status, " Attivo");
    EXPECT_EQ(hook->image, 0);
    EXPECT_EQ(hook->code, 0);
    EXPECT_TRUE(system.vendorReads.empty());

    // Once allowed, the next pass shows it active and allowed; a pass while another window is
    // in front still lists what the probes agreed on.
    map.Set(detect::kLowLevelHookKey, detect::kAllowed);
    system.active = false;
    withProbes.Tick();
    EXPECT_EQ(list.RowFor(detect::kLowLevelHookKey)->status, " Attivo & Lecito ");
    EXPECT_EQ(list.rows.size(), 2u);
}

// Two programs whose threads wake with every key the rounds press, both low-level hooks.
class TwoHooks : public detect::RoundPlatform, public detect::WakeCounterSource {
public:
    uint64_t now = 0;
    uint64_t count[2] = {};
    std::string images[2] = {"C:\\spy\\spia.exe", "C:\\tools\\reader.exe"};

    bool InjectRoundKey(int) override {
        count[0] += 2;
        count[1] += 2;
        return true;
    }
    std::optional<detect::BracketCounts> Bracket(detect::WakeCounterSource&,
                                                 const std::vector<detect::ThreadWakes>& threads,
                                                 int keys) override {
        return detect::BracketCounts{2 * keys, std::vector<int>(threads.size(), 2 * keys)};
    }
    std::optional<int> BaitKey() override { return std::nullopt; }
    std::vector<uint32_t> Processes() override { return {1, 2}; }
    uint64_t NowMs() override { return now; }
    void Refresh(const std::vector<uint32_t>&) override {}
    std::vector<detect::ThreadWakes> Snapshot() override {
        return {{1, 10, count[0]}, {2, 20, count[1]}};
    }
    std::vector<detect::ThreadWakes> Read(const std::vector<detect::ThreadWakes>& t) override {
        return t;
    }
    unsigned CounterBits() const override { return 32; }
    std::string ImagePath(uint32_t process) override { return images[process - 1]; }
};

TEST_F(Scan, NamedProgramsGetRowsOfTheirOwnUnlessTrustedAndTheKindAloneStaysOnlyThen) {
    HookedKeyboard keyboard;
    detect::KeyboardProbes probes(keyboard);
    TwoHooks hooks;
    detect::KeyRounds rounds(hooks, hooks);
    ScanCycle withRounds(map, list, system, &probes, &rounds);
    withRounds.ResetFlags();
    withRounds.ResetTickCounter();
    // The spy came minutes after the system was installed: its time trusts nobody.
    system.times[hooks.images[0]] = kSystemTime + 300;
    system.times[hooks.images[1]] = kSystemTime - 40 * kDay;
    system.vendors[hooks.images[0]] = {"Spy Soft", "Spia"};
    // A kind-alone verdict from before says nothing of the programs named now.
    map.Set(detect::kLowLevelHookKey, detect::kBlocked);
    const std::string spyKey = detect::NamedKey(hooks.images[0], detect::kLowLevelHookKey);
    const std::string readerKey = detect::NamedKey(hooks.images[1], detect::kLowLevelHookKey);
    map.Set(readerKey, detect::kAllowed);
    system.active = true;
    const auto second = [&] {
        for (uint64_t start = hooks.now; hooks.now - start < 1000;) {
            hooks.now += rounds.StepMs();
            withRounds.Step();
        }
        withRounds.Tick();
    };
    // The first round comes a second after the window came to the front, and what it names is
    // listed as it ends, before the next tick.
    withRounds.Tick();
    while (rounds.Decided() == 0 && hooks.now < 10000) {
        hooks.now += rounds.StepMs();
        withRounds.Step();
    }
    ASSERT_NE(list.RowFor(spyKey), nullptr);
    EXPECT_NE(list.RowFor(readerKey), nullptr);
    // The kind alone is never listed since both programs are named and untrusted.
    for (int i = 0; i < 5; ++i)
        second();
    EXPECT_TRUE(list.RowFor(detect::kLowLevelHookKey) == nullptr ||
                list.RowFor(detect::kLowLevelHookKey)->status == "Bloccato  ");
    const Row* spy = list.RowFor(spyKey);
    ASSERT_NE(spy, nullptr);
    EXPECT_EQ(spy->status, " Attivo");
    EXPECT_EQ(spy->company, "spy soft");
    EXPECT_EQ(list.RowFor(readerKey)->status, " Attivo & Lecito ");
    EXPECT_EQ(list.RowFor(detect::kLowLevelHookKey)->status, "Bloccato  ");
    EXPECT_TRUE(withRounds.TrustedHolders(detect::kLowLevelHookKey).empty());
    // During a round the tick presses no key of its own.
    const int f11 = system.f11;
    for (int i = 0; i < 20; ++i)
        second();
    EXPECT_LT(system.f11, f11 + 20);

    // One of them from the system's vendor: no row of its own any more (rows stay once
    // listed), and the kind alone is listed, active, with its old verdict.
    list.rows.clear();
    system.vendors[hooks.images[1]] = {"Microsoft Corporation", "Lettore"};
    second();
    second();
    EXPECT_NE(list.RowFor(spyKey), nullptr);
    EXPECT_EQ(list.RowFor(readerKey), nullptr);
    EXPECT_EQ(list.RowFor(detect::kLowLevelHookKey)->status, " Attivo & Bloccato  ");
    const auto trusted = withRounds.TrustedHolders(detect::kLowLevelHookKey);
    ASSERT_EQ(trusted.size(), 1u);
    EXPECT_EQ(trusted[0].image, hooks.images[1]);
    EXPECT_EQ(trusted[0].process, 2u);
}

} // namespace
