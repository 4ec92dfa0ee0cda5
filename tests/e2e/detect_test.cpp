// The detector at work: real global keyboard hooks planted by another process, found by the
// real Snoopsweep.exe and shown in its list, read from this process as a user would see it.
#include "tests/e2e/keylogger.h"
#include "tests/e2e/program.h"
#include "tests/support/remote_ui.h"

#include "res/resource.h"
#include "ui/Text.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace testing_support;

constexpr ULONGLONG kTicksPerSecond = 10000000;

ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Sets the time that the program reads as the file's creation time (under Wine, the
// last-write time stands for it).
bool SetFileTimeTo(const std::string& path, ULONGLONG ticks) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    ui::FileHandle file(::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    return file && ::SetFileTime(file.get(), &time, &time, &time);
}

// The creation time of the kernel32.dll that processes of this bitness load.
ULONGLONG Kernel32Time() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(::GetModuleHandleA("kernel32.dll"), path, MAX_PATH);
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA(path, &data));
    return find ? Ticks(data.ftCreationTime) : 0;
}

bool SamePath(const std::string& a, const std::string& b) {
    return ui::ToLowerAscii(a) == ui::ToLowerAscii(b);
}

class Detection : public ::testing::Test {
protected:
    // Plants a keylogger: a copy of a fixture DLL under `name`, dated `age` (in 100-ns ticks
    // before now, or absolute when `absolute`), hooked in by its own installer process.
    std::string PlantHook(const std::string& fixture, const std::string& name, int ageDays) {
        const std::string path = spies.Path() + name;
        EXPECT_TRUE(::CopyFileA(FixtureDll(fixture).c_str(), path.c_str(), FALSE)) << path;
        EXPECT_TRUE(AgeFile(path, ageDays)) << path;
        Hook(path);
        return path;
    }
    void Hook(const std::string& path) {
        keyloggers.push_back(std::make_unique<TestKeylogger>());
        EXPECT_TRUE(keyloggers.back()->Install(path)) << path;
    }

    HWND List() const { return program->Control(IDC_THREAT_LIST); }
    std::vector<RemoteRow> Rows() const { return ReadRows(List()); }
    int CountRows(const std::string& path) const {
        int count = 0;
        for (const auto& row : Rows())
            count += SamePath(row.texts[0], path);
        return count;
    }
    // Waits until a row for `path` shows `status`; returns that row.
    bool WaitForRow(const std::string& path, const std::string& status, RemoteRow* found) {
        return WaitFor([&] {
            for (const auto& row : Rows()) {
                if (SamePath(row.texts[0], path) && row.texts[1] == status) {
                    if (found)
                        *found = row;
                    return true;
                }
            }
            return false;
        });
    }
    void Launch() {
        program = std::make_unique<Program>(folder.Path());
        ASSERT_TRUE(program->Launch());
    }
    void Quit() {
        PostClick(program->Control(IDOK));
        EXPECT_TRUE(program->Process().WaitForExit());
    }
    void WriteLists(const std::string& blocked, const std::string& allowed) {
        ASSERT_TRUE(WriteFileBytes(folder.Path() + "bloccati.txt", blocked));
        ASSERT_TRUE(WriteFileBytes(folder.Path() + "leciti.txt", allowed));
    }

    // Destroyed in reverse: the program ends first, then the hooks, then the folders.
    ScratchFolder folder{"snoopsweep-detect"};
    ScratchFolder spies{"spy files"};
    std::vector<std::unique_ptr<TestKeylogger>> keyloggers;
    std::unique_ptr<Program> program;
};

TEST_F(Detection, AKeyloggerIsListedOnceWithItsPath) {
    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    Launch();
    RemoteRow row;
    ASSERT_TRUE(WaitForRow(hook, " Attivo", &row)) << "keylogger not listed";
    EXPECT_EQ(row.image, 0);
    EXPECT_EQ(row.data, 0);
    EXPECT_EQ(row.texts[2], "");
    EXPECT_EQ(row.texts[3], "");
    EXPECT_TRUE(ProcessHasModule(program->Process().Pid(), hook));

    // Once a second keylogger is listed, later passes have gone over the first one again.
    const std::string second = PlantHook("kbhook_plain.dll", "second.dll", 40);
    ASSERT_TRUE(WaitForRow(second, " Attivo", nullptr));
    EXPECT_EQ(CountRows(hook), 1);
    EXPECT_EQ(Rows().size(), 2u);
}

TEST_F(Detection, MicrosoftVendorsAndFilesMadeWithTheSystemAreNeverListed) {
    const std::string vendor = PlantHook("kbhook_ms.dll", "mshook.dll", 40);
    const std::string fresh = spies.Path() + "fresh.dll";
    ASSERT_TRUE(::CopyFileA(FixtureDll("kbhook_plain.dll").c_str(), fresh.c_str(), FALSE));
    const ULONGLONG systemTime = Kernel32Time();
    ASSERT_NE(systemTime, 0u);
    ASSERT_TRUE(SetFileTimeTo(fresh, systemTime + 3600 * kTicksPerSecond));
    Hook(fresh);
    const std::string sentinel = PlantHook("kbhook_plain.dll", "sentinel.dll", 40);
    Launch();
    ASSERT_TRUE(WaitForRow(sentinel, " Attivo", nullptr));
    // All three were loaded by the same key, so the pass that listed one judged all three.
    EXPECT_TRUE(ProcessHasModule(program->Process().Pid(), vendor));
    EXPECT_TRUE(ProcessHasModule(program->Process().Pid(), fresh));
    EXPECT_EQ(CountRows(vendor), 0);
    EXPECT_EQ(CountRows(fresh), 0);
    EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(Detection, RememberedEntriesShowAfterTheFirstTickSortedByPath) {
    WriteLists("C:\\b\\x.dll\r\nC:\\both.dll\r\nC:\\b\\x.dll\r\n", "C:\\a\\y.dll\nC:\\both.dll");
    Launch();
    ASSERT_TRUE(WaitFor([&] { return Rows().size() >= 3; }));
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].texts[0], "C:\\a\\y.dll");
    EXPECT_EQ(rows[0].texts[1], " Lecito");
    EXPECT_EQ(rows[0].image, 2);
    EXPECT_EQ(rows[0].data, 2);
    EXPECT_EQ(rows[1].texts[0], "C:\\b\\x.dll");
    EXPECT_EQ(rows[1].texts[1], "Bloccato  ");
    EXPECT_EQ(rows[1].image, 1);
    EXPECT_EQ(rows[1].data, 1);
    EXPECT_EQ(rows[2].texts[0], "C:\\both.dll");
    EXPECT_EQ(rows[2].texts[1], " Lecito");
    Quit();
    // Reading changed nothing.
    EXPECT_EQ(ReadFileBytes(folder.Path() + "leciti.txt"), "C:\\a\\y.dll\nC:\\both.dll");
}

TEST_F(Detection, ABlockedKeyloggerThatStaysLoadedShowsActiveAndBlocked) {
    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    Launch();
    RemoteRow row;
    ASSERT_TRUE(WaitForRow(hook, " Attivo", &row));
    Quit();

    // The path as the program reported it, blocked in the list file.
    WriteLists(row.texts[0] + "\r\n", "");
    Launch();
    RemoteRow blocked;
    ASSERT_TRUE(WaitForRow(hook, " Attivo & Bloccato  ", &blocked));
    EXPECT_EQ(blocked.texts[0], row.texts[0]);
    EXPECT_EQ(blocked.image, 3);
    EXPECT_EQ(blocked.data, 1);
    EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(Detection, AnalyseRebuildsTheListFromRememberedAndLoadedModules) {
    WriteLists("C:\\b\\x.dll\r\n", "");
    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    Launch();
    ASSERT_TRUE(WaitForRow(hook, " Attivo", nullptr));
    ASSERT_EQ(Rows().size(), 2u);

    for (int click = 0; click < 3; ++click) {
        ::SendMessageA(program->Control(IDC_ANALYSE), BM_CLICK, 0, 0);
        const auto rows = Rows();
        ASSERT_EQ(rows.size(), 2u) << click;
        EXPECT_EQ(rows[0].texts[0], "C:\\b\\x.dll");
        EXPECT_TRUE(SamePath(rows[1].texts[0], hook));
        EXPECT_EQ(rows[1].texts[1], " Attivo");
    }
}

} // namespace
