#include "ui/Dialog.h"

#include "base/FileError.h"
#include "ui/WinApp.h"
#include "ui/Window.h"

namespace ui {

namespace {

std::string Title() {
    const WinApp* app = WinApp::Current();
    return app ? app->Title() : std::string();
}

HINSTANCE Instance() {
    const WinApp* app = WinApp::Current();
    return app && app->Instance() ? app->Instance() : ::GetModuleHandleA(nullptr);
}

// Messages whose result a dialog procedure returns itself instead of through
// DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

} // namespace

Dialog::Dialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() = default;

INT_PTR Dialog::DoModal() {
    // Without a parent of its own, a dialog is owned by the program's main window (when that
    // is another dialog that is open), which stays disabled while it runs.
    HWND owner = parent_;
    const WinApp* app = WinApp::Current();
    if (!owner && app && app->mainWindow && app->mainWindow != this)
        owner = app->mainWindow->Hwnd();
    return ::DialogBoxParamA(Instance(), MAKEINTRESOURCEA(templateId_), owner, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

void Dialog::EndDialog(INT_PTR result) {
    ::EndDialog(hwnd_, result);
}

int Dialog::MessageBox(const std::string& text, UINT type) const {
    return ::MessageBoxA(hwnd_, text.c_str(), Title().c_str(), type);
}

BOOL Dialog::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

bool Dialog::RouteMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            result = 0;
            return true;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            result = 0;
            return true;
        }
    }
    return false;
}

void Dialog::BindControl(int id, Window& control) const {
    control.Attach(GetDlgItem(id));
}

void Dialog::ReportError(const std::exception& error) const {
    std::string text;
    if (const auto* fileError = dynamic_cast<const base::FileError*>(&error)) {
        text = base::DescribeFileError(fileError->FileName(), fileError->SystemError(),
                                       SystemMessage(fileError->SystemError()));
    } else if (dynamic_cast<const std::bad_alloc*>(&error)) {
        text = "Memoria insufficiente.";
    } else {
        text = std::string("Errore imprevisto: ") + error.what();
    }
    MessageBox(text, MB_OK | MB_ICONSTOP);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->hwnd_ = hwnd;
    } else {
        self = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (!self)
        return FALSE;
    const INT_PTR handled = self->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY)
        self->hwnd_ = nullptr;
    return handled;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    // Nothing may unwind through the system's frames: every error ends here.
    try {
        if (message == WM_INITDIALOG)
            return OnInitDialog();
        LRESULT result = 0;
        if (!RouteMessage(message, wParam, lParam, result))
            return FALSE;
        if (ReturnsDirectly(message))
            return static_cast<INT_PTR>(result);
        ::SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
    } catch (const std::exception& error) {
        ReportError(error);
    } catch (...) {
        ReportError(std::runtime_error("?"));
    }
    return TRUE;
}

} // namespace ui
