// The application object: runs the main dialog and ends when it closes.
#pragma once

#include "ui/WinApp.h"

class CSnoopsweepApp : public ui::WinApp {
public:
    BOOL InitInstance() override;
};
