#include "app/SnoopsweepDlg.h"

#include "app/AboutDlg.h"
#include "app/StartWithWindows.h"
#include "res/resource.h"
#include "ui/WinApp.h"

const ui::MessageEntry<CSnoopsweepDlg> CSnoopsweepDlg::kMessageMap[] = {
    ui::OnMessage(WM_SYSCOMMAND, &CSnoopsweepDlg::OnSysCommand),
    ui::OnMessage(WM_PAINT, &CSnoopsweepDlg::OnPaint),
    ui::OnMessage(WM_QUERYDRAGICON, &CSnoopsweepDlg::OnQueryDragIcon),
    ui::OnMessage(WM_TIMER, &CSnoopsweepDlg::OnTimer),
    ui::OnCommand(BN_CLICKED, IDC_DISABLE, &CSnoopsweepDlg::OnDisable),
    ui::OnCommand(BN_CLICKED, IDC_ANALYSE, &CSnoopsweepDlg::OnAnalyse),
    ui::OnCommand(BN_CLICKED, IDC_ALLOW, &CSnoopsweepDlg::OnAllow),
    ui::OnCommand(BN_CLICKED, IDC_ABOUT, &CSnoopsweepDlg::OnAbout),
    ui::OnCommand(BN_CLICKED, IDC_START_WITH_WINDOWS, &CSnoopsweepDlg::OnStartWithWindows),
};

CSnoopsweepDlg::CSnoopsweepDlg()
    : ui::Dialog(IDD_SNOOPSWEEP_DIALOG), m_hIcon(ui::WinApp::Current()->LoadIcon(IDR_MAINFRAME)) {}

void CSnoopsweepDlg::DoDataExchange() {
    BindControl(IDC_THREAT_LIST, m_list);
    BindControl(IDC_START_WITH_WINDOWS, m_startWithWindows);
}

bool CSnoopsweepDlg::RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return ui::RouteThrough(*this, kMessageMap, message, wParam, lParam, result) ||
           ui::Dialog::RouteMessage(message, wParam, lParam, result);
}

BOOL CSnoopsweepDlg::OnInitDialog() {
    ui::Dialog::OnInitDialog();

    // The About entry at the end of the system menu.
    if (HMENU systemMenu = ::GetSystemMenu(Hwnd(), FALSE)) {
        char text[256] = {};
        if (::LoadStringA(ui::WinApp::Current()->Instance(), IDS_ABOUTBOX, text, sizeof(text)) >
            0) {
            ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, text);
        }
    }

    ::SendMessageA(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageA(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    if (app::IsStartWithWindowsSet())
        m_startWithWindows.SetCheck(BST_CHECKED);

    InitThreatList();
    LoadTrustMap();
    m_scan.ResetTickCounter();

    if (!::SetTimer(Hwnd(), 1, 1000, nullptr)) {
        MessageBox("Error: Set Timer Failed", MB_OK);
        return FALSE;
    }
    return TRUE;
}

bool CSnoopsweepDlg::OnSysCommand(WPARAM wParam, LPARAM, LRESULT& result) {
    if ((wParam & 0xFFF0) != IDM_ABOUTBOX)
        return false;
    CAboutDlg about;
    about.DoModal();
    result = 0;
    return true;
}

bool CSnoopsweepDlg::OnPaint(WPARAM, LPARAM, LRESULT& result) {
    if (!::IsIconic(Hwnd()))
        return false;
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(Hwnd(), &paint);
    ::SendMessageA(Hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(Hwnd(), &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(Hwnd(), &paint);
    result = 0;
    return true;
}

bool CSnoopsweepDlg::OnQueryDragIcon(WPARAM, LPARAM, LRESULT& result) {
    result = reinterpret_cast<LRESULT>(m_hIcon);
    return true;
}

bool CSnoopsweepDlg::OnTimer(WPARAM wParam, LPARAM, LRESULT& result) {
    ScanOwnModules(static_cast<UINT>(wParam));
    result = 0;
    return true;
}

void CSnoopsweepDlg::OnAbout() {
    CAboutDlg about;
    about.DoModal();
}

void CSnoopsweepDlg::OnStartWithWindows() {
    app::ApplyStartWithWindows(m_startWithWindows.GetCheck() != BST_UNCHECKED);
}
