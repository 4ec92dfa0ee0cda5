// The About box: icon, name and version, and a line on what the program is for.
#pragma once

#include "ui/Dialog.h"

class CAboutDlg : public ui::Dialog {
public:
    CAboutDlg();
};
