// The main dialog in this process, with the program's own resources: what another process
// cannot see of it under Wine (icon handles, the system menu).
#include "app/SnoopsweepDlg.h"
#include "detect/Win32KeyInput.h"
#include "detect/Win32ProbePlatform.h"
#include "detect/Win32ScanPlatform.h"
#include "res/resource.h"
#include "tests/e2e/keylogger.h"
#include "tests/support/in_process.h"
#include "tests/support/process.h"
#include "tests/support/remote_ui.h"
#include "tests/support/run_key.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

struct MenuItem {
    UINT id = 0;
    UINT type = 0;
    std::string text;
};

std::vector<MenuItem> ReadMenu(HMENU menu) {
    std::vector<MenuItem> items;
    const int count = ::GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof(text) - 1;
        ::GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info);
        items.push_back({info.wID, info.fType, text});
    }
    return items;
}

TEST(MainDialog, IconsAndSystemMenuEntry) {
    TestApp();
    DeleteRunValue();
    CSnoopsweepDlg dialog;
    TestApp().mainWindow = &dialog;
    LRESULT big = 0, small = 0, dragIcon = 0;
    std::vector<MenuItem> menu;
    bool aboutFromMenu = false;
    const INT_PTR result = RunDriven(dialog, "Snoopsweep", [&](HWND hwnd) {
        big = ::SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0);
        small = ::SendMessageA(hwnd, WM_GETICON, ICON_SMALL, 0);
        dragIcon = ::SendMessageA(hwnd, WM_QUERYDRAGICON, 0, 0);
        menu = ReadMenu(::GetSystemMenu(hwnd, FALSE));

        ::PostMessageA(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        HWND about = WaitForWindow(::GetCurrentProcessId(), "#32770", "Informazioni Snoopsweep");
        aboutFromMenu = about != nullptr && ::GetWindow(about, GW_OWNER) == hwnd;
        if (about)
            ::PostMessageA(about, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return !::IsWindow(about); });

        // Minimised, the dialog paints its icon itself; restored, it paints as usual.
        ::ShowWindow(hwnd, SW_MINIMIZE);
        ::UpdateWindow(hwnd);
        ::ShowWindow(hwnd, SW_RESTORE);

        PostClick(::GetDlgItem(hwnd, IDOK));
    });

    TestApp().mainWindow = nullptr;
    EXPECT_EQ(result, IDOK);
    const LRESULT programIcon = reinterpret_cast<LRESULT>(
        ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME)));
    EXPECT_NE(programIcon, 0);
    EXPECT_EQ(big, programIcon);
    EXPECT_EQ(small, programIcon);
    EXPECT_EQ(dragIcon, programIcon);

    ASSERT_GE(menu.size(), 2u);
    const MenuItem& last = menu.back();
    const MenuItem& separator = menu[menu.size() - 2];
    EXPECT_EQ(last.id, static_cast<UINT>(IDM_ABOUTBOX));
    EXPECT_EQ(last.text, "&About Snoopsweep...");
    EXPECT_TRUE(separator.type & MFT_SEPARATOR);
    EXPECT_TRUE(aboutFromMenu);
}

// A tick's F11 has the system load the keyboard hooks' DLLs before the tick's pass, and still
// leaves the key for the dialog to read.
TEST(ScanPlatform, F11BringsTheHookDllsInAtOnceAndStaysQueued) {
    ScratchFolder folder("scan f11"); // the DLL stays loaded here: the folder may outlive this
    const std::string hook = folder.Path() + "spy hook.dll";
    ASSERT_TRUE(::CopyFileA(FixtureDll("kbhook_plain.dll").c_str(), hook.c_str(), FALSE));
    const HWND window = ::CreateWindowExA(0, "STATIC", "F11", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                          0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ::SetForegroundWindow(window);
    ASSERT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == window; }));
    MSG stale; // keys that earlier tests left in this thread's queue
    while (::PeekMessageA(&stale, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
    TestKeylogger keylogger;
    ASSERT_TRUE(keylogger.Install(hook));
    ASSERT_EQ(::GetModuleHandleA(hook.c_str()), nullptr);

    const ui::Dialog notShown(IDD_SNOOPSWEEP_DIALOG);
    detect::Win32ScanPlatform(notShown).InjectF11();
    EXPECT_NE(::GetModuleHandleA(hook.c_str()), nullptr);
    for (const UINT message : {WM_KEYDOWN, WM_KEYUP}) {
        MSG key = {};
        EXPECT_TRUE(WaitFor([&] {
            return ::PeekMessageA(&key, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE) != FALSE;
        }));
        EXPECT_EQ(key.message, message);
        EXPECT_EQ(key.wParam, static_cast<WPARAM>(VK_F11));
    }
    ::DestroyWindow(window);
}

// The poller probe's keys arrive in the dialog's thread and are dropped there: a letter that
// would move the list's selection leaves it where it was.
TEST(ProbePlatform, ProbeKeysArriveAndReachNoControl) {
    detect::Win32ProbePlatform platform; // on the dialog's thread, as in the program
    ui::Dialog dialog(IDD_SNOOPSWEEP_DIALOG);
    bool arrived = false;
    LRESULT afterProbeKey = -1, afterPlainKey = -1;
    RunDriven(dialog, "Snoopsweep", [&](HWND hwnd) {
        const HWND list = ::GetDlgItem(hwnd, IDC_THREAT_LIST);
        LVCOLUMNA column = {};
        column.mask = LVCF_WIDTH;
        column.cx = 200;
        ::SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
        for (const char* text : {"alpha", "bravo"}) {
            LVITEMA item = {};
            item.mask = LVIF_TEXT;
            item.iItem = 9;
            item.pszText = const_cast<char*>(text);
            ::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        }
        ::SetForegroundWindow(hwnd);
        ::SendMessageA(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list), TRUE);
        ASSERT_TRUE(ClickRow(list, 0));
        const auto selected = [&] {
            return ::SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
        };
        ASSERT_TRUE(WaitFor([&] { return selected() == 0; }));

        platform.InjectProbeKey('B');
        arrived = WaitFor([&] { return platform.ProbeKeyArrived(); });
        afterProbeKey = selected();
        // The same key without the mark is the list's: it selects "bravo".
        ::keybd_event('B', 0, 0, 0);
        ::keybd_event('B', 0, KEYEVENTF_KEYUP, 0);
        WaitFor([&] { return selected() == 1; });
        afterPlainKey = selected();
    });
    EXPECT_TRUE(arrived);
    EXPECT_EQ(afterProbeKey, 0);
    EXPECT_EQ(afterPlainKey, 1);
}

// No key goes in while any modifier is down, or while another program's window is in front.
TEST(KeyInput, NoKeyWhileAModifierIsDownOrAnotherWindowIsInFront) {
    const HWND window = ::CreateWindowExA(0, "STATIC", "keys", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                          0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ::SetForegroundWindow(window);
    ASSERT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == window; }));
    ASSERT_TRUE(WaitFor([] { return detect::KeysMayBeInjected(); }));
    for (const BYTE modifier :
         {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU, VK_LWIN, VK_RWIN}) {
        ::keybd_event(modifier, 0, 0, 0);
        EXPECT_TRUE(WaitFor([] { return !detect::KeysMayBeInjected(); })) << int{modifier};
        EXPECT_FALSE(detect::PressAndRelease('Q', 0));
        ::keybd_event(modifier, 0, KEYEVENTF_KEYUP, 0);
        EXPECT_TRUE(WaitFor([] { return detect::KeysMayBeInjected(); })) << int{modifier};
    }
    // A window of another program in front.
    ChildProcess reader;
    ASSERT_TRUE(reader.Start(OwnDirectory() + "key_reader.exe"));
    EXPECT_TRUE(WaitFor([] { return !detect::KeysMayBeInjected(); }));
    EXPECT_FALSE(detect::PressAndRelease('Q', 0));
    reader.Terminate();
    ::DestroyWindow(window);
    MSG stale; // whatever keys reached this thread
    while (::PeekMessageA(&stale, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
}

} // namespace
