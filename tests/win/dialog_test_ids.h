#pragma once
#define IDD_TEST_DIALOG 500
#define IDC_THROW 1101
#define IDC_COUNT 1102
