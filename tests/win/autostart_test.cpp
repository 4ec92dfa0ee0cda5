// The autostart places read through the real registry, Startup folder and services.
#include "inspect/Autostart.h"
#include "tests/support/autostart.h"
#include "ui/Handles.h"
#include "ui/WinApp.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>

namespace {

using inspect::AutostartEntry;

const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// Values written under the machine's RunOnce key in the 32-bit view, raw, and deleted again
// with the key if it was made for them.
class RunOnce32 {
public:
    RunOnce32() {
        HKEY key = nullptr;
        DWORD disposition = 0;
        ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, nullptr, 0,
                          KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key, &disposition);
        key_.reset(key);
        created_ = disposition == REG_CREATED_NEW_KEY;
    }
    ~RunOnce32() {
        for (const std::string& name : names_)
            ::RegDeleteValueA(key_.get(), name.c_str());
        key_.reset();
        if (created_)
            ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, KEY_WOW64_32KEY, 0);
    }
    bool Set(const std::string& name, DWORD type, const std::string& bytes) {
        names_.push_back(name);
        return key_ && ::RegSetValueExA(key_.get(), name.c_str(), 0, type,
                                        reinterpret_cast<const BYTE*>(bytes.data()),
                                        static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
    }

private:
    ui::RegKey key_;
    bool created_ = false;
    std::vector<std::string> names_;
};

// Where the entry stands in the list, or -1.
long Find(const std::vector<AutostartEntry>& entries, const std::string& where,
          const std::string& name, const std::string& command) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].where == where && entries[i].name == name && entries[i].command == command)
            return static_cast<long>(i);
    return -1;
}

TEST(Autostart, ListsPlantedEntriesOnceEachInOrderAsStored) {
    const std::string unique = "SnoopsweepTest" + std::to_string(::GetCurrentProcessId());
    const std::string target = ui::ModuleFileName();
    testing_support::PlantedAutostart planted;
    ASSERT_TRUE(planted.AddRunValue(unique, "\"C:\\Program Files\\a b.exe\" /min"));
    ASSERT_TRUE(planted.AddStartupShortcut(unique, target, "--one \"two three\""));
    RunOnce32 runOnce;
    // Stored without their terminating zeros, one far longer than a path.
    const std::string longCommand = "%SystemRoot%\\" + std::string(5000, 'x') + ".exe";
    ASSERT_TRUE(runOnce.Set(unique + "Expand", REG_EXPAND_SZ, longCommand));
    ASSERT_TRUE(runOnce.Set(unique + "Multi", REG_MULTI_SZ, std::string("a.dll\0b.dll", 11)));
    ASSERT_TRUE(runOnce.Set(unique + "Number", REG_DWORD, std::string(4, '\1')));

    const std::vector<AutostartEntry> entries = inspect::ReadAutostartEntries();

    const long run = Find(entries, "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                          unique, "\"C:\\Program Files\\a b.exe\" /min");
    const std::string runOnceWhere =
        "HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    const long expand = Find(entries, runOnceWhere, unique + "Expand", longCommand);
    EXPECT_NE(Find(entries, runOnceWhere, unique + "Multi", "a.dll b.dll"), -1);
    const std::string folder = testing_support::UserStartupFolder();
    const long shortcut = Find(entries, folder.substr(0, folder.size() - 1), unique + ".lnk",
                               '"' + target + "\" --one \"two three\"");
    EXPECT_NE(expand, -1);
    EXPECT_NE(run, -1);
    EXPECT_NE(shortcut, -1);
    EXPECT_LT(expand, run);
    EXPECT_LT(run, shortcut);

    // Each entry once (HKCU is one key in both views), none empty, no number taken for text;
    // the services come after the Startup folders.
    std::set<std::string> seen;
    bool services = false;
    for (const AutostartEntry& e : entries) {
        EXPECT_FALSE(e.command.empty()) << e.where << " " << e.name;
        EXPECT_NE(e.name, unique + "Number");
        EXPECT_TRUE(seen.insert(e.where + '|' + e.name + '|' + e.command).second)
            << "twice: " << e.where << " " << e.name << " " << e.command;
        if (e.where.rfind("HKLM\\SYSTEM\\CurrentControlSet\\Services\\" + e.name, 0) == 0) {
            services = true;
            EXPECT_GT(std::distance(entries.data(), &e), shortcut);
        }
    }
    EXPECT_TRUE(services);
}

} // namespace
