#include "ui/WinApp.h"

#include "ui/Handles.h"
#include "base/Text.h"

#include <commctrl.h>

namespace ui {

WinApp* WinApp::current_ = nullptr;

WinApp::WinApp() {
    current_ = this;
}

WinApp::~WinApp() {
    if (current_ == this)
        current_ = nullptr;
}

int WinApp::Main(HINSTANCE instance) {
    instance_ = instance;
    title_ = base::TitleFromModulePath(ModuleFileName());
    InitInstance();
    return 0;
}

HICON WinApp::LoadIcon(UINT id) const {
    return ::LoadIconA(instance_, MAKEINTRESOURCEA(id));
}

void WinApp::Enable3dControls() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
}

std::string ModuleFileName(HMODULE module) {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
    // A path that fills the buffer was cut short: no use for it.
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return std::string(path, length);
}

std::string SystemMessage(DWORD error) {
    char* buffer = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    LocalMemory owner(buffer);
    std::string text = length ? std::string(buffer, length) : std::string();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace ui
