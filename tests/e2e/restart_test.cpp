// A disabled keylogger whose file is in use: the rename waits for the restart, and answering
// Yes restarts. Runs only in a Wine prefix of its own (tests/win/reboot_test.sh), which hands
// over a folder through SNOOPSWEEP_RESTART_FILES: the first half before `wineboot -r`, the
// second after it.
#include "tests/e2e/session.h"

#include "neutralise/Commands.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace testing_support;

std::string RestartFiles() {
    const char* folder = std::getenv("SNOOPSWEEP_RESTART_FILES");
    return folder ? folder : "";
}

std::string SpyDll() {
    return RestartFiles() + "spy\\hook.dll";
}

TEST(BeforeRestart, ADisabledKeyloggerInUseWaitsForTheRestartThatYesAsksFor) {
    if (RestartFiles().empty())
        GTEST_SKIP() << "needs a Wine prefix of its own";
    const std::string programFolder = RestartFiles() + "program\\";
    ::CreateDirectoryA(programFolder.c_str(), nullptr);
    ::CreateDirectoryA((RestartFiles() + "spy").c_str(), nullptr);
    const std::string hook = SpyDll();
    ASSERT_TRUE(::CopyFileA(FixtureDll("kbhook_plain.dll").c_str(), hook.c_str(), FALSE));
    ASSERT_TRUE(AgeFile(hook, 40));
    TestKeylogger keylogger;
    ASSERT_TRUE(keylogger.Install(hook));

    Program program(programFolder);
    ASSERT_TRUE(program.Launch());
    const HWND list = program.Control(IDC_THREAT_LIST);
    std::string path;
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& row : ReadRows(list))
            if (SamePath(row.texts[0], hook))
                path = row.texts[0];
        return !path.empty();
    }));
    ASSERT_TRUE(ClickRow(list, 0));
    ASSERT_TRUE(WaitFor([&] { return ::SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0) == 0; }));

    {
        // Held open without sharing by another program: only a rename at restart can work.
        ui::FileHandle held(
            ::CreateFileA(hook.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        PostClick(program.Control(IDC_DISABLE));
        HWND box = WaitForWindow(program.Process().Pid(), "#32770", neutralise::kAlertCaption);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), neutralise::kRestartQuestion);
        EXPECT_TRUE(FileExists(hook)); // scheduled, not moved
        held.reset();
        // Yes: the restart is requested, the lists are saved, and the system ends the program.
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    }
    DWORD code = 0;
    EXPECT_TRUE(program.Process().WaitForExit(kWaitLimitMs, &code));
    EXPECT_EQ(ReadFileBytes(programFolder + "bloccati.txt"), path + "\r\n");
    EXPECT_EQ(ReadFileBytes(programFolder + "leciti.txt"), "");
}

TEST(AfterRestart, TheDisabledKeyloggerHasItsDisabledName) {
    if (RestartFiles().empty())
        GTEST_SKIP() << "needs a Wine prefix of its own";
    const std::string hook = SpyDll();
    EXPECT_FALSE(FileExists(hook));
    EXPECT_TRUE(FileExists(hook.substr(0, hook.size() - 1) + "_"));
}

} // namespace
