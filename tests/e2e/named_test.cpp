// The programs behind the findings without a DLL, named by the real Snoopsweep.exe among
// other programs that are busy or idle: a low-level hook's, a raw-input sink's and a hotkey
// grabber's, each a program in a folder of its own.
#include "tests/e2e/session.h"

#include "detect/PauseTest.h"
#include "detect/ThreatRows.h"
#include "neutralise/Commands.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace testing_support;

class NamedFindings : public KeyloggerSession {
protected:
    // Programs that wake on their own clock, or never, beside the keyloggers.
    void StartBystanders() {
        for (const char* mode : {"busy", "idle", "ticking", "idle", "ticking"}) {
            keyloggers.push_back(std::make_unique<TestKeylogger>());
            ASSERT_TRUE(keyloggers.back()->StartSpy(mode)) << mode;
        }
    }
    // The keys of the rows shown now.
    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        for (const auto& row : Rows())
            keys.push_back(row.texts[0]);
        return keys;
    }
    // Answers the restart question with No.
    void DeclineRestart() {
        HWND box = WaitForBox(neutralise::kAlertCaption);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), neutralise::kRestartQuestion);
        ASSERT_TRUE(Answer(box, IDNO));
    }
};

struct Case {
    const char* mode;
    const char* kind;
};

class EachKind : public NamedFindings, public ::testing::WithParamInterface<Case> {};

TEST_P(EachKind, IsNamedByItsProgramAndNothingElseIsListed) {
    StartBystanders();
    // Put on the system minutes after it was installed, and started from a shell.
    const std::string spy =
        StartSpyAt(GetParam().mode, GetParam().mode, Kernel32Time() + 5 * 60 * kTicksPerSecond,
                   OwnDirectory(), "key_spy.exe", true);
    const std::string key = detect::NamedKey(spy, GetParam().kind);
    Launch();
    RemoteRow row;
    ASSERT_TRUE(WaitForRow(key, " Attivo", &row, 0)) << "not named";
    EXPECT_EQ(row.data, 0);
    // Every holder named, none trusted: the kind alone is not listed.
    EXPECT_EQ(Keys(), std::vector<std::string>{key});

    // Who is behind it: the program itself, running.
    const std::string text = AskWhoIsBehind(key);
    EXPECT_EQ(text.rfind(key + "\n\nCaricato anche in:\n", 0), 0u) << text;
    EXPECT_NE(
        text.find("spia.exe (pid " + std::to_string(keyloggers.back()->Installer().Pid()) + ")"),
        std::string::npos)
        << text;
    EXPECT_EQ(text.find("Probabile origine:"), std::string::npos) << text;
    EXPECT_EQ(Keys(), std::vector<std::string>{key});
}

INSTANTIATE_TEST_SUITE_P(Kinds, EachKind,
                         ::testing::Values(Case{"low-level-hook", detect::kLowLevelHookKey},
                                           Case{"raw-input", detect::kRawInputSinkKind},
                                           Case{"grab-keys", detect::kHotkeyGrabberKey}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return TestNameOfMode(info.param.mode);
                         });

TEST_F(NamedFindings, AllowOneDisableAnotherAndTheVerdictsOutliveTheProgram) {
    StartBystanders();
    const std::string hookKey =
        detect::NamedKey(StartSpyAt("low-level-hook", "hook"), detect::kLowLevelHookKey);
    const std::string raw = StartSpyAt("raw-input", "raw");
    const std::string rawKey = detect::NamedKey(raw, detect::kRawInputSinkKind);
    const std::string grabKey =
        detect::NamedKey(StartSpyAt("grab-keys", "grab"), detect::kHotkeyGrabberKey);
    Launch();
    for (const std::string& key : {hookKey, rawKey, grabKey})
        ASSERT_TRUE(WaitForRow(key, " Attivo", nullptr, 0)) << key;

    // Consenti on one remembers that row alone.
    ASSERT_TRUE(Select(hookKey));
    PostClick(program->Control(IDC_ALLOW));
    DeclineRestart();
    EXPECT_TRUE(WaitForListFile("leciti.txt", hookKey + "\r\n"));
    ASSERT_TRUE(WaitForRow(hookKey, " Attivo & Lecito ", nullptr, 4));

    // Disabilita on the raw-input logger renames its program, which still runs.
    ASSERT_TRUE(Select(rawKey));
    PostClick(program->Control(IDC_DISABLE));
    DeclineRestart();
    EXPECT_TRUE(WaitForListFile("bloccati.txt", rawKey + "\r\n"));
    EXPECT_TRUE(FileExists(raw.substr(0, raw.size() - 1) + "_"));
    EXPECT_FALSE(FileExists(raw));
    ASSERT_TRUE(WaitForRow(rawKey, " Attivo & Bloccato  ", nullptr, 3));
    Quit();

    Launch();
    EXPECT_TRUE(WaitForRow(hookKey, " Attivo & Lecito ", nullptr, 4));
    EXPECT_TRUE(WaitForRow(rawKey, " Attivo & Bloccato  ", nullptr, 3));
    EXPECT_TRUE(WaitForRow(grabKey, " Attivo", nullptr, 0));
    EXPECT_EQ(Rows().size(), 3u);
}

TEST_F(NamedFindings, NothingIsListedAmongHarmlessProgramsAndAnEndedProgramLeavesNoTrace) {
    StartBystanders();
    Launch();
    // Half a minute with the window in front: a dozen rounds and more.
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 30000) {
        ASSERT_TRUE(Rows().empty()) << Rows().front().texts[0];
        ::Sleep(250);
    }
    // Ended at any moment, with its hooks set or not, the program leaves none behind that
    // would keep a later hook from being seen.
    for (int i = 0; i < 3; ++i) {
        program->Process().Terminate();
        Launch();
    }
    const std::string key =
        detect::NamedKey(StartSpyAt("low-level-hook", "late"), detect::kLowLevelHookKey);
    EXPECT_TRUE(WaitForRow(key, " Attivo", nullptr, 0));
}

} // namespace

// The poller wakes on its own clock, not with the keys: the user lets Snoopsweep pause the
// programs that wake most, one at a time, to see whose pause leaves the probe key unread.
class PauseTest : public NamedFindings {
protected:
    // Double-clicks the poller's row and answers the question with `button`; the box of who
    // is behind the row that comes then, answered.
    std::string AskAndAnswer(int button) {
        const auto rows = Rows();
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].texts[0] != detect::kKeyStatePollerKey)
                continue;
            EXPECT_TRUE(ClickRow(List(), static_cast<int>(i), true));
            HWND question = WaitForBox("Snoopsweep");
            if (!question)
                return "(no question)";
            EXPECT_EQ(MessageBoxText(question), detect::kPauseTestQuestion);
            EXPECT_EQ(::GetWindow(question, GW_OWNER), program->Dialog());
            EXPECT_NE(::GetDlgItem(question, IDNO), nullptr);
            if (!Answer(question, button))
                return "(question stays)";
            if (afterAnswer)
                afterAnswer();
            HWND box = nullptr;
            WaitFor([&] {
                box = WaitForBox("Snoopsweep");
                return box && MessageBoxText(box) != detect::kPauseTestQuestion;
            });
            if (!box)
                return "(no box)";
            const std::string text = MessageBoxText(box);
            EXPECT_TRUE(Answer(box, IDOK));
            return text;
        }
        return "(no row)";
    }
    static bool EndsWith(const std::string& text, const std::string& end) {
        return text.size() >= end.size() &&
               text.compare(text.size() - end.size(), end.size(), end) == 0;
    }
    // Every program the test started still runs and ends when asked: none stayed suspended.
    void EveryoneEndsWhenAsked() {
        for (auto& keylogger : keyloggers)
            EXPECT_TRUE(keylogger->Remove());
    }
    std::function<void()> afterAnswer;
};

TEST_F(PauseTest, YesNamesThePollerAndEveryProgramRunsOn) {
    StartBystanders();
    const std::string poller = StartSpyAt("poll-all", "poller");
    const DWORD pid = keyloggers.back()->Installer().Pid();
    Launch();
    ASSERT_TRUE(WaitForRow(detect::kKeyStatePollerKey, " Attivo", nullptr, 0));
    const std::string text = AskAndAnswer(IDYES);
    EXPECT_EQ(text.rfind(std::string(detect::kKeyStatePollerKey) + "\n\nNessun file", 0), 0u);
    EXPECT_TRUE(
        EndsWith(text, "\nProgramma trovato: " + poller + " (pid " + std::to_string(pid) + ")"))
        << text;
    const std::string key = detect::NamedKey(poller, detect::kKeyStatePollerKey);
    ASSERT_TRUE(WaitForRow(key, " Attivo", nullptr, 0));
    EXPECT_EQ(Keys(), std::vector<std::string>{key});
    EveryoneEndsWhenAsked();
}

TEST_F(PauseTest, NoPausesNobodyAndAPollerThatEndsMidTestHangsNothing) {
    StartBystanders();
    StartSpyAt("poll-all", "poller");
    Launch();
    ASSERT_TRUE(WaitForRow(detect::kKeyStatePollerKey, " Attivo", nullptr, 0));
    const std::string no = AskAndAnswer(IDNO);
    EXPECT_EQ(no.rfind(std::string(detect::kKeyStatePollerKey) + "\n\nNessun file", 0), 0u);
    EXPECT_EQ(no.find("Programma trovato"), std::string::npos) << no;
    EXPECT_EQ(no.find(detect::kNoPollerFound), std::string::npos) << no;
    EXPECT_EQ(Keys(), std::vector<std::string>{detect::kKeyStatePollerKey});

    // The poller ends about when its pauses begin (after a second of counting).
    TestKeylogger& spy = *keyloggers.back();
    afterAnswer = [&] {
        ::Sleep(1300);
        spy.Installer().Terminate();
    };
    const std::string yes = AskAndAnswer(IDYES);
    EXPECT_TRUE(EndsWith(yes, std::string("\n") + detect::kNoPollerFound) ||
                yes.find("\nProgramma trovato: ") != std::string::npos)
        << yes;
    keyloggers.pop_back();
    EveryoneEndsWhenAsked();
}
