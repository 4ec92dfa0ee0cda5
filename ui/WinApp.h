// The application object: one per process, started by WinMain.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

class Dialog;

class WinApp {
public:
    WinApp();
    virtual ~WinApp();
    WinApp(const WinApp&) = delete;
    WinApp& operator=(const WinApp&) = delete;

    // The program's work; returning FALSE ends the process without a message loop.
    virtual BOOL InitInstance() = 0;

    // Entry from WinMain: records the instance and the title, then runs InitInstance.
    int Main(HINSTANCE instance);

    static WinApp* Current() noexcept { return current_; }

    HINSTANCE Instance() const noexcept { return instance_; }
    // The executable's file name without its extension: the caption of message boxes.
    const std::string& Title() const noexcept { return title_; }
    // An icon of the program's resources at the system's standard size.
    HICON LoadIcon(UINT id) const;

    // The program's main window (m_pMainWnd): the dialog that InitInstance runs.
    Dialog* mainWindow = nullptr;

protected:
    // Makes the common controls, the list view among them, available to dialogs.
    static void Enable3dControls();

private:
    static WinApp* current_;
    HINSTANCE instance_ = nullptr;
    std::string title_;
};

// The full path of a module's file (the program itself for null); empty when it cannot be
// had whole in MAX_PATH characters.
std::string ModuleFileName(HMODULE module = nullptr);

// The system's description of an error code, without the trailing line break.
std::string SystemMessage(DWORD error);

} // namespace ui
