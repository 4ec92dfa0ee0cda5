// The dialog layer in process: message routing, results, and the report of a file error
// that escapes a command handler.
#include "dialog_test_ids.h"

#include "tests/support/in_process.h"
#include "tests/support/process.h"
#include "tests/support/remote_ui.h"
#include "ui/Dialog.h"
#include "base/FileError.h"
#include "ui/WinApp.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

constexpr UINT kProbe = WM_APP + 1;

class TestDialog : public ui::Dialog {
public:
    TestDialog() : ui::Dialog(IDD_TEST_DIALOG) {}

    int initCalls = 0;
    int countClicks = 0;
    bool ranPastThrow = false;

protected:
    BOOL OnInitDialog() override {
        ++initCalls;
        return ui::Dialog::OnInitDialog();
    }
    bool RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void OnThrow() {
        throw base::FileError("C:\\nowhere\\bloccati.txt", ERROR_ACCESS_DENIED);
        ranPastThrow = true;
    }
    void OnCount() { ++countClicks; }
    bool OnQueryDragIcon(WPARAM, LPARAM, LRESULT& result) {
        result = 0x1234;
        return true;
    }
    // Handles a probe with a non-zero wParam; asks for default processing otherwise.
    bool OnProbe(WPARAM wParam, LPARAM, LRESULT& result) {
        if (wParam == 0)
            return false;
        result = static_cast<LRESULT>(wParam) * 2;
        return true;
    }

    static const ui::MessageEntry<TestDialog> kMap[];
};

const ui::MessageEntry<TestDialog> TestDialog::kMap[] = {
    ui::OnMessage(WM_QUERYDRAGICON, &TestDialog::OnQueryDragIcon),
    ui::OnMessage(kProbe, &TestDialog::OnProbe),
    ui::OnCommand(BN_CLICKED, IDC_THROW, &TestDialog::OnThrow),
    ui::OnCommand(BN_CLICKED, IDC_COUNT, &TestDialog::OnCount),
};

bool TestDialog::RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return ui::RouteThrough(*this, kMap, message, wParam, lParam, result) ||
           ui::Dialog::RouteMessage(message, wParam, lParam, result);
}

// What the driving thread saw, checked on the main thread afterwards.
struct Seen {
    HWND dialog = nullptr;
    LRESULT dragIcon = 0;
    LRESULT probeHandled = 0;
    LRESULT probeDefault = -1;
    HWND box = nullptr;
    HWND boxOwner = nullptr;
    std::string boxText;
    HICON boxIcon = nullptr;
    bool boxClosed = false;
};

// Finds the icon of a message box: its static control with the SS_ICON style.
HICON MessageBoxIcon(HWND box) {
    for (HWND child : Children(box)) {
        if (ClassName(child) == "Static" &&
            (::GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            ::IsWindowVisible(child))
            return reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0));
    }
    return nullptr;
}

DWORD WINAPI Drive(void* context) {
    auto* seen = static_cast<Seen*>(context);
    const DWORD pid = ::GetCurrentProcessId();
    seen->dialog = WaitForWindow(pid, "#32770", "Dialog layer test");
    if (!seen->dialog)
        return 1;
    seen->dragIcon = ::SendMessageA(seen->dialog, WM_QUERYDRAGICON, 0, 0);
    seen->probeHandled = ::SendMessageA(seen->dialog, kProbe, 21, 0);
    seen->probeDefault = ::SendMessageA(seen->dialog, kProbe, 0, 0);

    PostClick(::GetDlgItem(seen->dialog, IDC_THROW));
    seen->box = WaitForWindow(pid, "#32770", TestApp().Title());
    if (seen->box) {
        seen->boxOwner = ::GetWindow(seen->box, GW_OWNER);
        seen->boxText = MessageBoxText(seen->box);
        seen->boxIcon = MessageBoxIcon(seen->box);
        ::PostMessageA(seen->box, WM_COMMAND, IDOK, 0);
        seen->boxClosed = WaitFor([&] { return !::IsWindow(seen->box); });
    }
    // The dialog carries on: a later command still runs.
    ::SendMessageA(::GetDlgItem(seen->dialog, IDC_COUNT), BM_CLICK, 0, 0);
    PostClick(::GetDlgItem(seen->dialog, IDOK));
    return 0;
}

TEST(DialogLayer, RoutesMessagesAndReportsAnEscapedFileError) {
    TestApp();
    TestDialog dialog;
    Seen seen;
    ui::Handle thread(::CreateThread(nullptr, 0, Drive, &seen, 0, nullptr));
    ASSERT_TRUE(thread);
    const INT_PTR result = dialog.DoModal();
    ::WaitForSingleObject(thread.get(), kWaitLimitMs);

    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.initCalls, 1);
    ASSERT_NE(seen.dialog, nullptr);
    EXPECT_EQ(seen.dragIcon, 0x1234); // a result the dialog procedure returns itself
    EXPECT_EQ(seen.probeHandled, 42); // a result passed through DWLP_MSGRESULT
    EXPECT_EQ(seen.probeDefault, 0);  // default processing

    ASSERT_NE(seen.box, nullptr) << "no message box captioned with the application's title";
    EXPECT_EQ(seen.boxOwner, seen.dialog);
    EXPECT_NE(seen.boxText.find("C:\\nowhere\\bloccati.txt"), std::string::npos) << seen.boxText;
    EXPECT_NE(seen.boxText.find(ui::SystemMessage(ERROR_ACCESS_DENIED)), std::string::npos)
        << seen.boxText;
    EXPECT_EQ(seen.boxIcon, ::LoadIconA(nullptr, IDI_HAND));
    EXPECT_TRUE(seen.boxClosed);
    EXPECT_FALSE(dialog.ranPastThrow);
    EXPECT_EQ(dialog.countClicks, 1);
}

TEST(DialogLayer, TitleIsTheProgramNameWithoutExtension) {
    EXPECT_EQ(TestApp().Title(), "win_tests");
}

TEST(DialogLayer, SystemMessageHasNoTrailingLineBreak) {
    const std::string text = ui::SystemMessage(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
}

} // namespace
