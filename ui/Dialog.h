// A modal dialog built on a dialog template, with message routing to On... handlers.
//
// A derived dialog lists its handlers in a message map (ui::MessageMap below) and routes
// to it from RouteMessage. A FileError, or any other exception, that escapes a handler is
// caught here: it is reported in a message box with the stop icon, captioned with the
// application's title, the command that raised it ends at that point, and the dialog
// carries on.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

class Window;

class Dialog {
public:
    explicit Dialog(UINT templateId, HWND parent = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog modally; returns what EndDialog was given, or -1 if it could not run.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);

    HWND Hwnd() const noexcept { return hwnd_; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(hwnd_, id); }

    // A message box owned by this dialog, captioned with the application's title.
    int MessageBox(const std::string& text, UINT type = MB_OK) const;

protected:
    // Base behaviour: binds the controls (DoDataExchange); returns TRUE to let the system
    // set the focus.
    virtual BOOL OnInitDialog();
    // Binds controls to members with BindControl, in the order the dialog wants them.
    virtual void DoDataExchange() {}
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    // Routes one message to its handler. Returns true when handled (with the result set);
    // false asks for the system's default processing. The base routes IDOK and IDCANCEL.
    virtual bool RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    void BindControl(int id, Window& control) const;

    // Reports an error that escaped a handler, as described at the top of this file.
    void ReportError(const std::exception& error) const;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND parent_;
    HWND hwnd_ = nullptr;
};

// One line of a message map: a window message with its handler, or a control notification
// (WM_COMMAND with a code and a control id) with a handler that takes nothing.
template <class T> struct MessageEntry {
    UINT message;
    UINT code;
    int id;
    bool (T::*onMessage)(WPARAM, LPARAM, LRESULT&);
    void (T::*onCommand)();
};

template <class T>
constexpr MessageEntry<T> OnMessage(UINT message, bool (T::*handler)(WPARAM, LPARAM, LRESULT&)) {
    return {message, 0, 0, handler, nullptr};
}

template <class T> constexpr MessageEntry<T> OnCommand(UINT code, int id, void (T::*handler)()) {
    return {WM_COMMAND, code, id, nullptr, handler};
}

// Calls the first handler of `map` that matches the message; false when none does or the
// handler asks for default processing.
template <class T, size_t N>
bool RouteThrough(T& target, const MessageEntry<T> (&map)[N], UINT message, WPARAM wParam,
                  LPARAM lParam, LRESULT& result) {
    for (const MessageEntry<T>& entry : map) {
        if (entry.message != message)
            continue;
        if (entry.onCommand) {
            if (HIWORD(wParam) == entry.code && static_cast<int>(LOWORD(wParam)) == entry.id) {
                (target.*entry.onCommand)();
                result = 0;
                return true;
            }
            continue;
        }
        return (target.*entry.onMessage)(wParam, lParam, result);
    }
    return false;
}

} // namespace ui
