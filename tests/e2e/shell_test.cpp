// The program's shell, as a user sees it: its dialog, the About box, the start-with-Windows
// switch and the ways to close it. Each test runs the real Snoopsweep.exe from a folder with
// a blank in its name and drives it from this process.
#include "tests/e2e/program.h"
#include "tests/support/dialog_template.h"
#include "tests/support/remote_ui.h"
#include "tests/support/run_key.h"

#include "res/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

using namespace testing_support;

const char kAboutCaption[] = "Informazioni Snoopsweep";

class Shell : public ::testing::Test {
protected:
    void SetUp() override { DeleteRunValue(); }
    void TearDown() override {
        program.Process().Terminate();
        DeleteRunValue();
    }

    // Waits for the program to end by itself; true with exit code 0.
    bool EndsCleanly() {
        DWORD code = 1;
        return program.Process().WaitForExit(kWaitLimitMs, &code) && code == 0;
    }
    bool NoListFiles() const {
        return !FileExists(folder.Path() + "bloccati.txt") &&
               !FileExists(folder.Path() + "leciti.txt");
    }
    std::vector<HWND> AboutBoxes() const {
        return TopLevelWindows(program.Process().Pid(), "#32770", kAboutCaption);
    }

    ScratchFolder folder{"Snoop sweep shell"};
    Program program{folder.Path()};
};

struct ExpectedControl {
    int id;
    const char* className;
    const char* text;
    LONG typeBits; // low style bits: the button's kind
};

TEST_F(Shell, MainDialogShowsItsControlsAndColumns) {
    ASSERT_TRUE(program.Launch());
    const HWND dialog = program.Dialog();
    EXPECT_EQ(WindowText(dialog), "Snoopsweep");
    const LONG style = ::GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(::GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    const ExpectedControl controls[] = {
        {IDC_ANALYSE, "Button", "Analizza", BS_DEFPUSHBUTTON},
        {IDC_DISABLE, "Button", "Disabilita", BS_PUSHBUTTON},
        {IDC_ALLOW, "Button", "Consenti", BS_PUSHBUTTON},
        {IDOK, "Button", "Esci", BS_PUSHBUTTON},
        {IDC_ABOUT, "Button", "Info su...", BS_PUSHBUTTON},
        {IDC_START_WITH_WINDOWS, "Button", "Avvia con Windows", BS_AUTOCHECKBOX},
    };
    for (const auto& expected : controls) {
        const HWND control = program.Control(expected.id);
        ASSERT_NE(control, nullptr) << expected.id;
        EXPECT_EQ(ClassName(control), expected.className) << expected.id;
        EXPECT_EQ(WindowText(control), expected.text) << expected.id;
        EXPECT_EQ(::GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK, expected.typeBits)
            << expected.id;
    }
    EXPECT_EQ(::SendMessageA(program.Control(IDC_START_WITH_WINDOWS), BM_GETCHECK, 0, 0),
              BST_UNCHECKED);

    bool heading = false;
    for (HWND child : Children(dialog))
        heading |= ClassName(child) == "Static" &&
                   WindowText(child) == "Possibili Keylogger e Componenti di Spionaggio Rilevati";
    EXPECT_TRUE(heading);

    const HWND list = program.Control(IDC_THREAT_LIST);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(ClassName(list), "SysListView32");
    const LONG listStyle = ::GetWindowLongA(list, GWL_STYLE);
    EXPECT_EQ(listStyle & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(listStyle & LVS_SINGLESEL);
    EXPECT_TRUE(listStyle & LVS_SORTASCENDING);
    EXPECT_TRUE(listStyle & WS_TABSTOP);
    EXPECT_EQ(::SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & 0x21, 0x21);
    EXPECT_EQ(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);

    RECT rect;
    ::GetWindowRect(list, &rect);
    const int width = rect.right - rect.left;
    const auto columns = ReadColumns(list);
    ASSERT_EQ(columns.size(), 4u);
    const char* headings[] = {"Minacce", "Stato ", "Company", "Product"};
    const int widths[] = {width * 15 / 32, width * 5 / 32, width * 6 / 32, width * 6 / 32};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(columns[i].heading, headings[i]) << i;
        EXPECT_EQ(columns[i].width, widths[i]) << i;
    }
    for (size_t i = 1; i < 4; ++i)
        EXPECT_EQ(columns[i].format & LVCFMT_JUSTIFYMASK, LVCFMT_CENTER) << i;

    if (!ScreenshotFolder().empty()) {
        EXPECT_TRUE(SaveWindowBitmap(dialog, ScreenshotFolder() + "main-dialog.bmp"));
    }
}

TEST_F(Shell, AboutBoxOpensFromTheButtonAndTheSystemMenuEntryOnly) {
    ASSERT_TRUE(program.Launch());
    const DWORD pid = program.Process().Pid();

    PostClick(program.Control(IDC_ABOUT));
    HWND about = WaitForWindow(pid, "#32770", kAboutCaption);
    ASSERT_NE(about, nullptr);
    bool version = false, description = false;
    for (HWND child : Children(about)) {
        version |= WindowText(child) == "Snoopsweep Versione 1.5";
        description |= WindowText(child) == "Un programma per proteggerti dai keyloggers, dai "
                                            "software di spionaggio e monitoraggio.";
    }
    EXPECT_TRUE(version);
    EXPECT_TRUE(description);
    EXPECT_EQ(WindowText(::GetDlgItem(about, IDOK)), "OK");
    EXPECT_FALSE(::IsWindowEnabled(program.Dialog())); // modal
    if (!ScreenshotFolder().empty()) {
        EXPECT_TRUE(SaveWindowBitmap(about, ScreenshotFolder() + "about-box.bmp"));
    }
    PostClick(::GetDlgItem(about, IDOK));
    EXPECT_TRUE(WaitFor([&] { return AboutBoxes().empty(); }));

    ::PostMessageA(program.Dialog(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    about = WaitForWindow(pid, "#32770", kAboutCaption);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(AboutBoxes().size(), 1u);
    ::PostMessageA(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return AboutBoxes().empty(); }));

    // Another system command goes to the system: it returns without a modal box.
    DWORD_PTR result = 0;
    EXPECT_TRUE(::SendMessageTimeoutA(program.Dialog(), WM_SYSCOMMAND, 0x20, 0, SMTO_NORMAL, 10000,
                                      &result));
    EXPECT_TRUE(AboutBoxes().empty());
    for (HWND box : AboutBoxes())
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);

    PostClick(program.Control(IDOK));
    EXPECT_TRUE(EndsCleanly());
}

TEST_F(Shell, StartWithWindowsFollowsTheRegistry) {
    // A value written by anyone, pointing anywhere, ticks the box.
    ASSERT_TRUE(WriteRunValue("D:\\elsewhere\\other.exe"));
    ASSERT_TRUE(program.Launch());
    const HWND check = program.Control(IDC_START_WITH_WINDOWS);
    EXPECT_EQ(::SendMessageA(check, BM_GETCHECK, 0, 0), BST_CHECKED);

    // Unticking deletes the value.
    ::SendMessageA(check, BM_CLICK, 0, 0);
    EXPECT_EQ(::SendMessageA(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(WaitFor([] { return !ReadRunValue(); }));

    // Ticking writes this copy's path, quoted because its folder has a blank.
    ::SendMessageA(check, BM_CLICK, 0, 0);
    EXPECT_EQ(::SendMessageA(check, BM_GETCHECK, 0, 0), BST_CHECKED);
    std::string data;
    unsigned long type = 0;
    EXPECT_TRUE(WaitFor([&] { return ReadRunValue(&data, &type); }));
    EXPECT_EQ(data, "\"" + program.Path() + "\"");
    EXPECT_EQ(type, static_cast<unsigned long>(REG_SZ));

    PostClick(program.Control(IDOK));
    EXPECT_TRUE(EndsCleanly());
    // Nothing else was written: no list file appeared next to the program.
    EXPECT_TRUE(NoListFiles());

    // Started again, the program finds its own value.
    Program again{folder.Path()};
    ASSERT_TRUE(again.Launch());
    EXPECT_EQ(::SendMessageA(again.Control(IDC_START_WITH_WINDOWS), BM_GETCHECK, 0, 0),
              BST_CHECKED);
    PostClick(again.Control(IDOK));
    EXPECT_TRUE(again.Process().WaitForExit());
}

TEST_F(Shell, StartWithWindowsWritesAPathWithoutBlanksUnquoted) {
    ScratchFolder plain{"snoopsweep-plain"};
    Program unquoted{plain.Path()};
    ASSERT_EQ(unquoted.Path().find(' '), std::string::npos) << "temporary folder has a blank";
    ASSERT_TRUE(unquoted.Launch());
    const HWND check = unquoted.Control(IDC_START_WITH_WINDOWS);
    EXPECT_EQ(::SendMessageA(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    ::SendMessageA(check, BM_CLICK, 0, 0);
    std::string data;
    EXPECT_TRUE(WaitFor([&] { return ReadRunValue(&data); }));
    EXPECT_EQ(data, unquoted.Path());
    PostClick(unquoted.Control(IDOK));
    EXPECT_TRUE(unquoted.Process().WaitForExit());
}

TEST_F(Shell, EsciTheCloseBoxAndEscapeEachEndTheProgram) {
    ASSERT_TRUE(program.Launch());
    PostClick(program.Control(IDOK));
    EXPECT_TRUE(EndsCleanly()) << "Esci";

    ASSERT_TRUE(program.Launch());
    ::PostMessageA(program.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(EndsCleanly()) << "close box";

    ASSERT_TRUE(program.Launch());
    ::PostMessageA(program.Control(IDC_ANALYSE), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(EndsCleanly()) << "Escape";

    EXPECT_TRUE(NoListFiles());
}

TEST(Resources, DialogsAreLaidOutAsDesigned) {
    const std::string exe = BuiltProgram();
    DialogTemplate main;
    ASSERT_TRUE(LoadDialogTemplate(exe, IDD_SNOOPSWEEP_DIALOG, main));
    EXPECT_EQ(main.caption, "Snoopsweep");
    EXPECT_EQ(main.cx, 405);
    EXPECT_EQ(main.cy, 204);
    EXPECT_EQ(main.pointSize, 8);
    EXPECT_EQ(main.typeface, "MS Sans Serif");
    const DWORD mainStyle =
        WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME;
    EXPECT_EQ(main.style & mainStyle, mainStyle);
    EXPECT_TRUE(main.exStyle & WS_EX_APPWINDOW);

    struct Item {
        int id;
        const char* className;
        const char* text;
        int x, y, cx, cy;
        DWORD style; // bits that must be set
    };
    const Item items[] = {
        {IDC_ANALYSE, "Button", "Analizza", 121, 183, 36, 14, BS_DEFPUSHBUTTON},
        {IDC_DISABLE, "Button", "Disabilita", 163, 183, 36, 14, 0},
        {IDC_ALLOW, "Button", "Consenti", 206, 183, 36, 14, 0},
        {IDOK, "Button", "Esci", 249, 183, 36, 14, 0},
        {IDC_ABOUT, "Button", "Info su...", 362, 7, 36, 14, 0},
        {IDC_START_WITH_WINDOWS, "Button", "Avvia con Windows", 19, 187, 93, 10, BS_AUTOCHECKBOX},
        {0xFFFF, "Static", "Possibili Keylogger e Componenti di Spionaggio Rilevati", 107, 13, 176,
         8, 0},
        {IDC_THREAT_LIST, "SysListView32", "", 7, 26, 391, 154,
         LVS_REPORT | LVS_SINGLESEL | LVS_SORTASCENDING | WS_BORDER | WS_TABSTOP},
    };
    ASSERT_EQ(main.items.size(), std::size(items));
    for (size_t i = 0; i < std::size(items); ++i) {
        const TemplateItem& got = main.items[i];
        const Item& want = items[i];
        EXPECT_EQ(got.id & 0xFFFF, static_cast<uint32_t>(want.id)) << i;
        EXPECT_STRCASEEQ(got.className.c_str(), want.className) << i;
        EXPECT_EQ(got.text, want.text) << i;
        EXPECT_EQ(got.x, want.x) << i;
        EXPECT_EQ(got.y, want.y) << i;
        EXPECT_EQ(got.cx, want.cx) << i;
        EXPECT_EQ(got.cy, want.cy) << i;
        EXPECT_EQ(got.style & want.style, want.style) << i;
    }
    EXPECT_EQ(main.items[0].style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(main.items[5].style & BS_TYPEMASK, static_cast<DWORD>(BS_AUTOCHECKBOX));

    DialogTemplate about;
    ASSERT_TRUE(LoadDialogTemplate(exe, IDD_ABOUTBOX, about));
    EXPECT_EQ(about.caption, "Informazioni Snoopsweep");
    EXPECT_EQ(about.cx, 215);
    EXPECT_EQ(about.cy, 99);
    EXPECT_EQ(about.typeface, "MS Sans Serif");
    EXPECT_EQ(about.pointSize, 8);
    EXPECT_EQ(about.style & (DS_MODALFRAME | WS_CAPTION | WS_SYSMENU),
              static_cast<DWORD>(DS_MODALFRAME | WS_CAPTION | WS_SYSMENU));
    ASSERT_EQ(about.items.size(), 4u);
    EXPECT_EQ(about.items[0].text, "#128");
    EXPECT_EQ(about.items[0].x, 11);
    EXPECT_EQ(about.items[0].y, 17);
    EXPECT_EQ(about.items[1].text, "Snoopsweep Versione 1.5");
    EXPECT_EQ(about.items[1].x, 53);
    EXPECT_EQ(about.items[1].y, 13);
    EXPECT_EQ(about.items[2].text, "Un programma per proteggerti dai keyloggers, dai software di "
                                   "spionaggio e monitoraggio.");
    EXPECT_EQ(about.items[2].style & SS_TYPEMASK, static_cast<DWORD>(SS_CENTER));
    EXPECT_TRUE(about.items[2].style & SS_SUNKEN);
    EXPECT_EQ(about.items[2].x, 35);
    EXPECT_EQ(about.items[2].y, 31);
    EXPECT_EQ(about.items[2].cx, 156);
    EXPECT_EQ(about.items[2].cy, 20);
    EXPECT_EQ(about.items[3].id, static_cast<uint32_t>(IDOK));
    EXPECT_EQ(about.items[3].text, "OK");
    EXPECT_EQ(about.items[3].style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(about.items[3].x, 173);
    EXPECT_EQ(about.items[3].y, 7);
    EXPECT_EQ(about.items[3].cx, 35);
    EXPECT_EQ(about.items[3].cy, 14);

    EXPECT_EQ(LoadStringResource(exe, IDS_ABOUTBOX), "&About Snoopsweep...");
}

} // namespace
