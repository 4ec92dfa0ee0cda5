// Resource and control identifiers of Snoopsweep.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_SNOOPSWEEP_DIALOG 102
#define IDR_MAINFRAME 128
#define IDI_BLOCKED 129
#define IDI_ALLOWED 130
#define IDI_DETECTED 131
#define IDI_DETECTED_BLOCKED 132
#define IDI_DETECTED_ALLOWED 133

#define IDC_DISABLE 1001
#define IDC_ABOUT 1003
#define IDC_THREAT_LIST 1004
#define IDC_ANALYSE 1005
#define IDC_ALLOW 1007
#define IDC_START_WITH_WINDOWS 1017

// The About entry of the system menu.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
