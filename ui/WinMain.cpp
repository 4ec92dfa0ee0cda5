// The process's entry point: hands over to the one application object.
#include "ui/WinApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ui::WinApp* app = ui::WinApp::Current();
    return app ? app->Main(instance) : 0;
}
