#include "tests/support/in_process.h"

#include "tests/support/process.h"
#include "tests/support/remote_ui.h"
#include "ui/Handles.h"

namespace testing_support {

namespace {

class App : public ui::WinApp {
public:
    BOOL InitInstance() override { return FALSE; }
};

struct Driver {
    std::string caption;
    const std::function<void(HWND)>* drive;
};

DWORD WINAPI DriveThread(void* context) {
    const auto* driver = static_cast<Driver*>(context);
    const HWND dialog = WaitForWindow(::GetCurrentProcessId(), "#32770", driver->caption);
    if (dialog)
        (*driver->drive)(dialog);
    // Whatever happened, the dialog must end so that the test goes on.
    if (dialog && ::IsWindow(dialog))
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

} // namespace

ui::WinApp& TestApp() {
    static App app;
    static const bool started = (app.Main(::GetModuleHandleA(nullptr)), true);
    (void)started;
    return app;
}

INT_PTR RunDriven(ui::Dialog& dialog, const std::string& caption,
                  const std::function<void(HWND)>& drive) {
    Driver driver{caption, &drive};
    ui::Handle thread(::CreateThread(nullptr, 0, DriveThread, &driver, 0, nullptr));
    if (!thread)
        return -1;
    const INT_PTR result = dialog.DoModal();
    ::WaitForSingleObject(thread.get(), INFINITE);
    return result;
}

} // namespace testing_support
