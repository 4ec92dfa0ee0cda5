#include "app/AboutDlg.h"

#include "res/resource.h"

CAboutDlg::CAboutDlg() : ui::Dialog(IDD_ABOUTBOX) {}
