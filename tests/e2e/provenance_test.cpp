// Who is behind a row, as the user asks with a double-click: the processes that have the
// module loaded, the one that most likely installed it, and what starts it again.
#include "tests/e2e/session.h"

#include "tests/support/autostart.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

class Provenance : public KeyloggerSession {
protected:
    static bool Contains(const std::string& text, const std::string& part) {
        return base::ToLowerAscii(text).find(base::ToLowerAscii(part)) != std::string::npos;
    }
};

TEST_F(Provenance, TheBoxNamesTheInstallerTheProcessesAndTheAutostartEntries) {
    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    const std::string installer = OwnDirectory() + "hook_installer.exe";
    const DWORD installerPid = keyloggers.back()->Installer().Pid();
    // Another program that reads keys takes the DLL in too.
    ChildProcess reader;
    ASSERT_TRUE(reader.Start(OwnDirectory() + "key_reader.exe"));
    ASSERT_TRUE(WaitFor([&] {
        ::keybd_event(VK_F11, 0, 0, 0);
        ::keybd_event(VK_F11, 0, KEYEVENTF_KEYUP, 0);
        return ProcessHasModule(reader.Pid(), hook);
    }));
    const std::string tag = "SnoopsweepTestSpy" + std::to_string(::GetCurrentProcessId());
    auto autostart = std::make_unique<PlantedAutostart>();
    ASSERT_TRUE(autostart->AddRunValue(tag, "\"" + installer + "\" /quiet"));
    ASSERT_TRUE(autostart->AddStartupShortcut(tag, "C:\\windows\\system32\\rundll32.exe",
                                              "\"" + hook + "\",KbProc"));

    Launch();
    RemoteRow row;
    ASSERT_TRUE(WaitForRow(hook, " Attivo", &row));
    HWND box = nullptr;
    const std::string text = AskWhoIsBehind(hook, &box);
    ASSERT_NE(box, nullptr) << text;
    if (!ScreenshotFolder().empty()) {
        EXPECT_TRUE(SaveWindowBitmap(box, ScreenshotFolder() + "who-is-behind.bmp"));
    }
    EXPECT_TRUE(Answer(box, IDOK));

    EXPECT_EQ(text.rfind(row.texts[0] + "\n\nCaricato anche in:\n", 0), 0u) << text;
    const std::string origin = "hook_installer.exe (pid " + std::to_string(installerPid) + ")";
    EXPECT_TRUE(Contains(text, "\n  " + origin + "\n")) << text;
    EXPECT_TRUE(Contains(text, "\n  key_reader.exe (pid " + std::to_string(reader.Pid()) + ")\n"))
        << text;
    EXPECT_FALSE(Contains(text, "Snoopsweep.exe (pid")) << text;
    EXPECT_TRUE(Contains(text, "\nProbabile origine: " + origin + " " + installer + "\n")) << text;
    EXPECT_TRUE(Contains(text, "\nAvvio automatico:\n")) << text;
    EXPECT_TRUE(Contains(text, "\n  HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run: " +
                                   tag + " = \"" + installer + "\" /quiet"))
        << text;
    const std::string startup = UserStartupFolder();
    EXPECT_TRUE(Contains(text, "\n  " + startup.substr(0, startup.size() - 1) + ": " + tag +
                                   ".lnk = \"C:\\windows\\system32\\rundll32.exe\" \"" + hook +
                                   "\",KbProc"))
        << text;

    // With the entries gone, nothing starts it.
    autostart.reset();
    const std::string nothing = AskWhoIsBehind(hook);
    EXPECT_EQ(
        nothing.substr(nothing.size() - std::string("\nAvvio automatico:\n  (nessuno)").size()),
        "\nAvvio automatico:\n  (nessuno)")
        << nothing;
    reader.Terminate();
}

// The dialog's message for a gathered box, posted by another program with any values: nothing
// is shown or freed, and the dialog goes on answering, double-clicks included.
TEST_F(Provenance, TheBoxMessageFromAnotherProgramIsIgnored) {
    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    Launch();
    ASSERT_TRUE(WaitForRow(hook, " Attivo", nullptr));
    constexpr UINT kBoxReady = WM_APP + 10;
    const auto postGarbage = [&] {
        for (WPARAM number : {0, 1, 2, 3, 7})
            for (LPARAM pointer :
                 {LPARAM{0}, LPARAM{1}, LPARAM{-1}, LPARAM{0x10000},
                  static_cast<LPARAM>(0x7FFE0000), reinterpret_cast<LPARAM>(&hook)})
                EXPECT_TRUE(::PostMessageA(program->Dialog(), kBoxReady, number, pointer));
    };
    const auto answers = [&] {
        DWORD_PTR result = 0;
        return ::SendMessageTimeoutA(program->Dialog(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000,
                                     &result) != 0;
    };
    postGarbage();
    EXPECT_TRUE(answers());
    EXPECT_TRUE(program->Process().Running());
    EXPECT_EQ(TopLevelWindows(program->Process().Pid(), "#32770").size(), 1u);

    // A search of its own still shows its box, the same garbage around it notwithstanding.
    EXPECT_EQ(AskWhoIsBehind(hook).rfind(Rows().at(0).texts[0] + "\n\nCaricato anche in:", 0), 0u);
    postGarbage();
    EXPECT_TRUE(answers());
    EXPECT_EQ(AskWhoIsBehind(hook).rfind(Rows().at(0).texts[0] + "\n\nCaricato anche in:", 0), 0u);
    EXPECT_TRUE(program->Process().Running());
}

} // namespace
