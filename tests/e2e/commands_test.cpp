// "Disabilita" and "Consenti" as the user uses them: a real keylogger found by the program,
// its row selected with the mouse, the buttons pressed and the boxes answered.
#include "tests/e2e/session.h"

#include "neutralise/Commands.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

using Commands = KeyloggerSession;

TEST_F(Commands, DisableThenAllowAKeylogger) {
    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    const std::string disabled = hook.substr(0, hook.size() - 1) + "_";
    Launch();
    RemoteRow row;
    ASSERT_TRUE(WaitForRow(hook, " Attivo", &row));
    const std::string path = row.texts[0];
    ASSERT_TRUE(Select(path));

    PostClick(program->Control(IDC_DISABLE));
    HWND box = WaitForBox(neutralise::kAlertCaption);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), neutralise::kRestartQuestion);
    EXPECT_NE(::GetDlgItem(box, IDYES), nullptr);
    EXPECT_NE(::GetDlgItem(box, IDNO), nullptr);
    // The rename and the row came before the question.
    EXPECT_TRUE(FileExists(disabled));
    EXPECT_FALSE(FileExists(hook));
    row = Rows().at(0);
    EXPECT_EQ(row.data, 1);
    EXPECT_TRUE(row.texts[1] == "Bloccato  " || row.texts[1] == " Attivo & Bloccato  ")
        << row.texts[1];
    ASSERT_TRUE(Answer(box, IDNO));
    EXPECT_TRUE(WaitFor([&] { return ListFileExists("leciti.txt"); }));
    EXPECT_EQ(ListFile("bloccati.txt"), path + "\r\n");
    EXPECT_EQ(ListFile("leciti.txt"), "");
    // Still loaded, so the next pass shows it active and blocked.
    ASSERT_TRUE(WaitForRow(hook, " Attivo & Bloccato  ", &row, 3));
    EXPECT_EQ(row.data, 1);

    // Disable again: refused in a box of the program's own.
    PostClick(program->Control(IDC_DISABLE));
    box = WaitForBox("Snoopsweep");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), neutralise::kRefusedDisable);
    EXPECT_EQ(::GetWindow(box, GW_OWNER), program->Dialog());
    ASSERT_TRUE(Answer(box, IDOK));
    EXPECT_TRUE(FileExists(disabled));

    // Allow renames it back and the lists swap.
    PostClick(program->Control(IDC_ALLOW));
    box = WaitForBox(neutralise::kAlertCaption);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(FileExists(hook));
    EXPECT_FALSE(FileExists(disabled));
    ASSERT_TRUE(Answer(box, IDNO));
    EXPECT_TRUE(WaitForListFile("leciti.txt", path + "\r\n"));
    EXPECT_EQ(ListFile("bloccati.txt"), "");
    ASSERT_TRUE(WaitForRow(hook, " Attivo & Lecito ", &row, 4));
    EXPECT_EQ(row.data, 2);
}

TEST_F(Commands, WithoutASelectionTheButtonsDoNothing) {
    ASSERT_TRUE(WriteFileBytes(folder.Path() + "leciti.txt", "C:\\elsewhere\\kept.dll\r\n"));
    Launch();
    ASSERT_TRUE(WaitFor([&] { return Rows().size() == 1; }));
    for (int id : {IDC_DISABLE, IDC_ALLOW}) {
        DWORD_PTR result = 0;
        // A command that showed a box would not return.
        EXPECT_TRUE(::SendMessageTimeoutA(program->Control(id), BM_CLICK, 0, 0, SMTO_NORMAL, 10000,
                                          &result));
    }
    EXPECT_TRUE(TopLevelWindows(program->Process().Pid(), "#32770").size() == 1u);
    EXPECT_FALSE(ListFileExists("bloccati.txt"));
    EXPECT_EQ(ListFile("leciti.txt"), "C:\\elsewhere\\kept.dll\r\n");
}

TEST_F(Commands, ARenameThatCannotBeMadeShowsTheFailureAndStillSaves) {
    // No disabled name can be formed for this path.
    WriteLists("", "C:\\elsewhere\\kept.d\nC:\\other.dll\n");
    Launch();
    ASSERT_TRUE(WaitFor([&] { return Rows().size() == 2; }));
    ASSERT_TRUE(Select("C:\\elsewhere\\kept.d"));
    PostClick(program->Control(IDC_DISABLE));
    HWND box = WaitForBox(neutralise::kAlertCaption);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), neutralise::kRenameFailed);
    EXPECT_EQ(::GetDlgItem(box, IDNO), nullptr);
    ASSERT_TRUE(Answer(box, IDOK));
    // Both files rewritten from the map, which did not change: leciti.txt, written last, now
    // with CR LF line ends.
    EXPECT_TRUE(WaitForListFile("leciti.txt", "C:\\elsewhere\\kept.d\r\nC:\\other.dll\r\n"));
    EXPECT_EQ(ListFile("bloccati.txt"), "");
    EXPECT_EQ(Rows().at(0).texts[1], " Lecito");
}

TEST_F(Commands, AListFileThatCannotBeWrittenIsReportedAndKeptWhole) {
    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    WriteLists("C:\\old\\one.dll\r\n", "");
    const std::string blocked = folder.Path() + "bloccati.txt";
    ASSERT_TRUE(::SetFileAttributesA(blocked.c_str(), FILE_ATTRIBUTE_READONLY));
    Launch();
    RemoteRow row;
    ASSERT_TRUE(WaitForRow(hook, " Attivo", &row));
    ASSERT_TRUE(Select(row.texts[0]));
    PostClick(program->Control(IDC_DISABLE));
    HWND box = WaitForBox(neutralise::kAlertCaption);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(Answer(box, IDNO));

    // The save fails: a stop box of the program's own names the file.
    box = WaitForBox("Snoopsweep");
    ASSERT_NE(box, nullptr);
    EXPECT_NE(MessageBoxText(box).find(blocked), std::string::npos) << MessageBoxText(box);
    ASSERT_TRUE(Answer(box, IDOK));
    ::SetFileAttributesA(blocked.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ListFile("bloccati.txt"), "C:\\old\\one.dll\r\n");
    EXPECT_EQ(ListFile("leciti.txt"), "");
    // The verdict stays in the row, and the program carries on.
    EXPECT_EQ(Rows().size(), 2u);
    ASSERT_TRUE(WaitForRow(hook, " Attivo & Bloccato  ", nullptr));
}

// A list file that another program holds while the program starts: read where it shares the
// file (a virus scanner, an indexer), and where it does not, never written by that run, so
// that its verdicts outlive the run.
TEST_F(Commands, AListFileHeldAtStartKeepsEveryLine) {
    const std::string blocked = "C:\\old\\one.dll\r\nC:\\old\\two.dll\r\n";
    const std::string allowed = "C:\\old\\three.dll\r\n";
    WriteLists(blocked, allowed);
    const std::string blockedPath = folder.Path() + "bloccati.txt";
    {
        ui::FileHandle scanned(::CreateFileA(blockedPath.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(scanned);
        Launch();
    }
    EXPECT_TRUE(WaitForRow("C:\\old\\two.dll", "Bloccato  ", nullptr));
    Quit();

    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    {
        ui::FileHandle held(::CreateFileA(blockedPath.c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        Launch();
    }
    RemoteRow row;
    ASSERT_TRUE(WaitForRow(hook, " Attivo", &row));
    EXPECT_EQ(CountRows("C:\\old\\one.dll"), 0);
    EXPECT_EQ(CountRows("C:\\old\\three.dll"), 1);
    const std::string path = row.texts[0];

    ASSERT_TRUE(Select(path));
    PostClick(program->Control(IDC_DISABLE));
    HWND box = WaitForBox(neutralise::kAlertCaption);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(Answer(box, IDNO));
    // Told once, at the first save, in a box of the program's own.
    box = WaitForBox("Snoopsweep");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), "Impossibile leggere il file " + blockedPath +
                                       " all'avvio: non viene sovrascritto. Chiudi il programma "
                                       "che lo tiene aperto e riavvia Snoopsweep.   ");
    EXPECT_EQ(::GetWindow(box, GW_OWNER), program->Dialog());
    EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr);
    ASSERT_TRUE(Answer(box, IDOK));
    // The other file is saved as usual.
    EXPECT_TRUE(WaitForListFile("leciti.txt", allowed));
    EXPECT_EQ(ListFile("bloccati.txt"), blocked);

    PostClick(program->Control(IDC_ALLOW));
    box = WaitForBox(neutralise::kAlertCaption);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(Answer(box, IDNO));
    const std::string line = path + "\r\n";
    ASSERT_TRUE(WaitFor(
        [&] { return Stamp(folder.Path() + "leciti.txt").size == line.size() + allowed.size(); }));
    const std::string saved = ListFile("leciti.txt");
    EXPECT_TRUE(saved == line + allowed || saved == allowed + line) << saved;
    EXPECT_EQ(ListFile("bloccati.txt"), blocked);
    EXPECT_EQ(TopLevelWindows(program->Process().Pid(), "#32770").size(), 1u);
}

} // namespace
