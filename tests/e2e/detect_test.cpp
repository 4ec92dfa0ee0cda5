// The detector at work: real global keyboard hooks planted by another process, found by the
// real Snoopsweep.exe and shown in its list, read from this process as a user would see it.
#include "tests/e2e/session.h"

#include "res/resource.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

using Detection = KeyloggerSession;

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
    if (!ScreenshotFolder().empty()) {
        EXPECT_TRUE(
            SaveWindowBitmap(program->Dialog(), ScreenshotFolder() + "keyloggers-found.bmp"));
    }
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
    ASSERT_TRUE(WaitForRow(hook, " Attivo & Bloccato  ", &blocked, 3));
    EXPECT_EQ(blocked.texts[0], row.texts[0]);
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
