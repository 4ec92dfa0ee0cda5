#include "inspect/Provenance.h"

#include <gtest/gtest.h>

namespace {

using inspect::CommandNames;
using inspect::ProcessInfo;

std::string Expand(const std::string& text) {
    std::string result = text;
    for (const auto& [name, value] :
         {std::pair<std::string, std::string>{"%APPDATA%", "C:\\Users\\ann\\AppData\\Roaming"},
          {"%SystemRoot%", "C:\\Windows"}}) {
        for (size_t at = result.find(name); at != std::string::npos; at = result.find(name))
            result.replace(at, name.size(), value);
    }
    return result;
}

TEST(CommandNames, AWholePathQuotedOrNotWithArgumentsInAnyCase) {
    const std::vector<std::string> spy = {"C:\\Program Files\\Spy Kit\\spy.exe",
                                          "C:\\PROGRA~1\\SPYKIT~1\\spy.exe"};
    for (const char* command :
         {"\"C:\\Program Files\\Spy Kit\\spy.exe\" /hidden", "c:\\program files\\spy kit\\SPY.EXE",
          "C:\\PROGRA~1\\SPYKIT~1\\spy.exe -q", "'C:/Program Files/Spy Kit/spy.exe'"})
        EXPECT_TRUE(CommandNames(command, spy, Expand)) << command;
    for (const char* command :
         {"C:\\Program Files\\Spy Kit\\spy.exe.bak", "C:\\Program Files\\Spy Kit\\notspy.exe",
          "D:\\Program Files\\Spy Kit\\spy.exe", "spy.exe", ""})
        EXPECT_FALSE(CommandNames(command, spy, Expand)) << command;
}

TEST(CommandNames, DllsInRundllCommandsListsVariablesAndServicePaths) {
    const std::vector<std::string> hook = {"C:\\Users\\ann\\AppData\\Roaming\\kl\\hook.dll"};
    for (const char* command : {"rundll32.exe %APPDATA%\\kl\\hook.dll,Start",
                                "C:\\a.dll, C:\\Users\\ann\\AppData\\Roaming\\kl\\hook.dll",
                                "C:\\a.dll;%APPDATA%\\KL\\hook.dll"})
        EXPECT_TRUE(CommandNames(command, hook, Expand)) << command;
    EXPECT_FALSE(CommandNames("%APPDATA%\\kl\\hook.dll2", hook, Expand));

    const std::vector<std::string> driver = {"C:\\Windows\\system32\\drivers\\kbspy.sys"};
    EXPECT_TRUE(CommandNames("\\SystemRoot\\system32\\drivers\\kbspy.sys", driver, Expand));
    EXPECT_TRUE(CommandNames("\\??\\C:\\Windows\\system32\\drivers\\kbspy.sys", driver, Expand));
    EXPECT_TRUE(
        CommandNames("system32\\drivers\\kbspy.sys", {"system32\\drivers\\kbspy.sys"}, Expand));
}

TEST(Origin, TheModulesFolderCountsMostThenHavingNoWindowAndTiesChooseNone) {
    const std::string module = "C:\\Spy\\hook.dll";
    const ProcessInfo editor{10, "editor.exe", "C:\\Apps\\editor.exe", true};
    const ProcessInfo hidden{20, "svc.exe", "C:\\Tools\\svc.exe", false};
    const ProcessInfo installer{30, "spy.exe", "c:\\spy\\spy.exe", true};
    const ProcessInfo quiet{40, "agent.exe", "C:\\Other\\agent.exe", false};

    EXPECT_EQ(inspect::ChooseOrigin({editor, hidden}, module)->pid, 20u);
    EXPECT_EQ(inspect::ChooseOrigin({editor, hidden, installer}, module)->pid, 30u);
    EXPECT_FALSE(inspect::ChooseOrigin({editor}, module));
    EXPECT_FALSE(inspect::ChooseOrigin({editor, hidden, quiet}, module));
    EXPECT_FALSE(inspect::ChooseOrigin({}, module));
}

TEST(Report, LineByLineWithTheEmptyCases) {
    inspect::Provenance provenance;
    provenance.path = "C:\\Spy\\hook.dll";
    EXPECT_EQ(inspect::ReportText(provenance), "C:\\Spy\\hook.dll\n\n"
                                               "Caricato anche in:\n"
                                               "  (nessun altro processo)\n"
                                               "Avvio automatico:\n"
                                               "  (nessuno)");
    provenance.holders = {{7, "notepad.exe", "C:\\Windows\\notepad.exe", true},
                          {9, "spy.exe", "C:\\Spy\\spy.exe", false}};
    provenance.origin = provenance.holders[1];
    provenance.autostart = {{"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Spy",
                             "\"C:\\Spy\\spy.exe\" /quiet"}};
    EXPECT_EQ(inspect::ReportText(provenance),
              "C:\\Spy\\hook.dll\n\n"
              "Caricato anche in:\n"
              "  notepad.exe (pid 7)\n"
              "  spy.exe (pid 9)\n"
              "Probabile origine: spy.exe (pid 9) C:\\Spy\\spy.exe\n"
              "Avvio automatico:\n"
              "  HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run: Spy = "
              "\"C:\\Spy\\spy.exe\" /quiet");
}

TEST(Report, ANamedFindingsProgramHasNoOriginLine) {
    inspect::Provenance provenance;
    provenance.path = "C:\\Strumenti\\spia.exe [hook di tastiera a basso livello]";
    provenance.holders = {{12, "spia.exe", "C:\\Strumenti\\spia.exe", false}};
    provenance.autostart = {{"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Spia",
                             "C:\\Strumenti\\spia.exe"}};
    EXPECT_EQ(inspect::ReportText(provenance),
              "C:\\Strumenti\\spia.exe [hook di tastiera a basso livello]\n\n"
              "Caricato anche in:\n"
              "  spia.exe (pid 12)\n"
              "Avvio automatico:\n"
              "  HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run: Spia = "
              "C:\\Strumenti\\spia.exe");
}

TEST(Report, AFindingWithoutAFileListsTheProgramsThatReacted) {
    EXPECT_EQ(inspect::FilelessReportText("[hook di tastiera a basso livello]", {}),
              "[hook di tastiera a basso livello]\n\n"
              "Nessun file da esaminare.\n"
              "Programmi che hanno reagito ai tasti di prova:\n"
              "  (nessuno)");
    EXPECT_EQ(inspect::FilelessReportText("[lettura continua dello stato dei tasti]",
                                          {{12, "spia.exe", "C:\\Strumenti\\spia.exe", false},
                                           {40, "gioco.exe", "", true}}),
              "[lettura continua dello stato dei tasti]\n\n"
              "Nessun file da esaminare.\n"
              "Programmi che hanno reagito ai tasti di prova:\n"
              "  C:\\Strumenti\\spia.exe (pid 12)\n"
              "  gioco.exe (pid 40)");
}

} // namespace
