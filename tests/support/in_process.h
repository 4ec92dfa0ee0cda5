// Runs a dialog of this process modally while another thread of the test drives it, as a
// user would from outside.
#pragma once

#include "ui/Dialog.h"
#include "ui/WinApp.h"

#include <functional>
#include <string>

namespace testing_support {

// The application object of a test program: started once, on first use, so that dialogs
// find their resources and message boxes their caption (the test program's name).
ui::WinApp& TestApp();

// Runs `dialog` on this thread. A second thread waits for the dialog's window (a #32770
// window of this process with `caption`), calls `drive` with it, and closes the dialog with
// IDCANCEL if `drive` left it open. Returns DoModal's result.
INT_PTR RunDriven(ui::Dialog& dialog, const std::string& caption,
                  const std::function<void(HWND)>& drive);

} // namespace testing_support
