// The main dialog: the threat list, its commands and the start-with-Windows switch.
#pragma once

#include "detect/ScanCycle.h"
#include "detect/ListViewThreatList.h"
#include "detect/TrustMap.h"
#include "detect/Win32KeyRounds.h"
#include "detect/Win32PauseTest.h"
#include "detect/Win32ProbePlatform.h"
#include "detect/Win32ScanPlatform.h"
#include "detect/Win32WakeCounters.h"
#include "inspect/Provenance.h"
#include "neutralise/Commands.h"
#include "ui/BackgroundText.h"
#include "ui/Dialog.h"
#include "ui/Handles.h"
#include "ui/Window.h"

#include <memory>
#include <string>
#include <vector>

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
    bool OnNotify(WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool OnProvenanceReady(WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool OnDestroy(WPARAM wParam, LPARAM lParam, LRESULT& result);

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
    // Rewrites both list files from the trust map.
    void SaveLists();
    // One scan pass, on every timer tick.
    void ScanOwnModules(UINT timerId);
    // "Disabilita" or "Consenti" on the selected row.
    void RunCommand(neutralise::Command command);
    // The box that tells who is behind the row: at once for a finding without a file, else
    // once a thread of its own has gathered it, so that the dialog goes on meanwhile.
    void ShowProvenance(int row);
    // The poller's row: with the user's consent, the pause test names its program.
    void RunPauseTest(const std::string& key);
    // The named owners of low-level hooks and raw-input sinks: never paused.
    std::vector<uint32_t> HookAndSinkOwners();
    // The programs that reacted to the probes' keys for the finding of `kind`, as the box of
    // a finding without a file lists them.
    std::vector<inspect::ProcessInfo> TrustedReactors(const std::string& kind);

    static const ui::MessageEntry<CSnoopsweepDlg> kMessageMap[];

    ui::ListCtrl m_list;
    std::string m_allowedListPath;
    std::string m_blockedListPath;
    // List files that were there but could not be read at start: never written by this run.
    bool m_blockedUnreadable = false;
    bool m_allowedUnreadable = false;
    bool m_unreadableTold = false;
    ui::ImageList m_imageList;
    ui::Button m_startWithWindows;
    HICON m_hIcon;
    detect::TrustMap m_trustMap;
    // The scan: its tick counter, flags and reference times, and what it works on; the
    // keyboard probes, with their votes.
    detect::ListViewThreatList m_threats{m_list};
#ifdef _WIN64
    // The 32-bit programs' hooks, seen through a helper of that bitness.
    detect::Helper32 m_helper32{detect::Helper32::BesideProgram()};
    detect::Win32ScanPlatform m_platform{*this, &m_helper32};
#else
    detect::Win32ScanPlatform m_platform{*this};
#endif
    detect::Win32ProbePlatform m_probePlatform;
    detect::KeyboardProbes m_probes{m_probePlatform};
    // The rounds of keys that name the programs behind the probes' findings.
    std::unique_ptr<detect::WakeCounterSource> m_counters{detect::MakeWakeCounterSource()};
    detect::Win32RoundPlatform m_roundPlatform{m_probePlatform};
    detect::KeyRounds m_rounds{m_roundPlatform, *m_counters};
    // The pause test that names a poller, run by m_provenance's thread: what it found, for the
    // dialog once its box is ready; and the event that cuts it short when the dialog goes.
    std::shared_ptr<std::optional<detect::Holder>> m_pauseFound;
    ui::Handle m_pauseCancel{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UINT m_roundStepMs = 0; // the rounds' timer period now
    detect::ScanCycle m_scan{m_trustMap, m_threats, m_platform, &m_probes, &m_rounds};
    // Who is behind a row, gathered on a thread of its own.
    ui::BackgroundText m_provenance;
};
