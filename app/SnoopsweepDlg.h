// The main dialog: the threat list, its commands and the start-with-Windows switch.
#pragma once

#include "ui/Dialog.h"
#include "ui/Window.h"

#include <cstdint>
#include <string>

class CSnoopsweepDlg : public ui::Dialog {
public:
    CSnoopsweepDlg();

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    bool RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // Window messages.
    bool OnSysCommand(WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool OnPaint(WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool OnQueryDragIcon(WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool OnTimer(WPARAM wParam, LPARAM lParam, LRESULT& result);

    // Commands.
    void OnDisable();
    void OnAnalyse();
    void OnAllow();
    void OnAbout();
    void OnStartWithWindows();

    // Threat list: columns, extended styles and state icons.
    void InitThreatList();
    // Trust map and list files; sets the scan's flags on the way.
    void LoadTrustMap();
    // One scan pass, on every timer tick.
    void ScanOwnModules(UINT timerId);

    static const ui::MessageEntry<CSnoopsweepDlg> kMessageMap[];

    ui::ListCtrl m_list;
    std::string m_allowedListPath;
    std::string m_blockedListPath;
    ui::ImageList m_imageList;
    ui::Button m_startWithWindows;
    int32_t m_tickCount;
    int32_t m_busy;
    int32_t m_firstTick;
    FILETIME m_user32Time;
    FILETIME m_kernel32Time;
    FILETIME m_gdi32Time;
    HICON m_hIcon;
};
