#include "app/SnoopsweepApp.h"

#include "app/SnoopsweepDlg.h"

// The one application object, alive from static initialisation on.
CSnoopsweepApp theApp;

BOOL CSnoopsweepApp::InitInstance() {
    Enable3dControls();

    CSnoopsweepDlg dialog;
    mainWindow = &dialog;
    dialog.DoModal();
    mainWindow = nullptr;

    // No message loop of our own: closing the dialog ends the program.
    return FALSE;
}
