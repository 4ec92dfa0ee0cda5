// Keyloggers that load no DLL into the program, found by the real Snoopsweep.exe: a
// low-level hook, a poller of every key, a grabber of every letter and digit; and programs
// that look like them but are harmless.
#include "tests/e2e/session.h"

#include "detect/ThreatRows.h"
#include "neutralise/Commands.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

class KeyboardProbes : public KeyloggerSession {
protected:
    void Spy(const std::string& mode) {
        keyloggers.push_back(std::make_unique<TestKeylogger>());
        ASSERT_TRUE(keyloggers.back()->StartSpy(mode)) << mode;
    }
};

struct Case {
    const char* mode;
    const char* key;
};

class EachKeylogger : public KeyboardProbes, public ::testing::WithParamInterface<Case> {};

TEST_P(EachKeylogger, IsListedCannotBeDisabledAndIsAllowedAndRemembered) {
    const std::string key = GetParam().key;
    Spy(GetParam().mode);
    Launch();
    RemoteRow row;
    ASSERT_TRUE(WaitForRow(key, " Attivo", &row, 0)) << "not found";
    EXPECT_EQ(row.texts[0], key);
    EXPECT_EQ(row.data, 0);
    EXPECT_EQ(row.texts[2], "");
    EXPECT_EQ(row.texts[3], "");
    EXPECT_EQ(Rows().size(), 1u);

    ASSERT_TRUE(Select(key));
    PostClick(program->Control(IDC_DISABLE));
    HWND box = WaitForBox("Snoopsweep");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), neutralise::kNoFileToDisable);
    EXPECT_EQ(::GetWindow(box, GW_OWNER), program->Dialog());
    EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr);
    ASSERT_TRUE(Answer(box, IDOK));
    EXPECT_FALSE(ListFileExists("bloccati.txt"));
    EXPECT_FALSE(ListFileExists("leciti.txt"));
    EXPECT_EQ(Rows().at(0).data, 0);

    PostClick(program->Control(IDC_ALLOW));
    EXPECT_TRUE(WaitForListFile("leciti.txt", key + "\r\n"));
    EXPECT_EQ(ListFile("bloccati.txt"), "");
    // No rename, so no restart to offer.
    EXPECT_TRUE(
        TopLevelWindows(program->Process().Pid(), "#32770", neutralise::kAlertCaption).empty());
    ASSERT_TRUE(WaitForRow(key, " Attivo & Lecito ", &row, 4));
    EXPECT_EQ(row.data, 2);
    Quit();

    Launch();
    ASSERT_TRUE(WaitForRow(key, " Attivo & Lecito ", &row, 4));
    EXPECT_EQ(Rows().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EachKeylogger,
                         ::testing::Values(Case{"low-level-hook", detect::kLowLevelHookKey},
                                           Case{"poll-all", detect::kKeyStatePollerKey},
                                           Case{"grab-keys", detect::kHotkeyGrabberKey}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* c = info.param.mode; *c; ++c) {
                                 if (*c != '-')
                                     name += *c;
                             }
                             return name;
                         });

TEST_F(KeyboardProbes, HarmlessReadersOfKeysAreNotListedEvenWithBothCoresBusy) {
    Spy("poll-modifiers");
    Spy("ctrl-alt-hotkeys");
    Spy("busy");
    Spy("busy");
    // A keylogger that loads a DLL shows that the passes ran with the window in front.
    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    Launch();
    ASSERT_TRUE(WaitForRow(hook, " Attivo", nullptr));
    // Every probe has voted five times and more by then.
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 12000) {
        ASSERT_EQ(Rows().size(), 1u) << Rows().back().texts[0];
        ::Sleep(200);
    }
}

} // namespace
