#include "app/SnoopsweepDlg.h"

#include "app/AboutDlg.h"
#include "app/StartWithWindows.h"
#include "detect/ListFiles.h"
#include "detect/ThreatRows.h"
#include "inspect/Provenance.h"
#include "inspect/Win32Provenance.h"
#include "neutralise/MoveFile.h"
#include "neutralise/Restart.h"
#include "res/resource.h"
#include "ui/WinApp.h"

#include <algorithm>
#include <exception>
#include <optional>

namespace {

// Posted by the provenance thread once the box's text is ready; wParam is the search's number.
constexpr UINT kProvenanceReady = WM_APP + 10;

// The scan's tick, and the edges of the rounds' windows.
constexpr UINT_PTR kScanTimer = 1;
constexpr UINT_PTR kRoundTimer = 2;

// How long the dialog waits at most, when it goes, for a pause test to end.
constexpr DWORD kPauseTestEndMs = 3000;

} // namespace

const ui::MessageEntry<CSnoopsweepDlg> CSnoopsweepDlg::kMessageMap[] = {
    ui::OnMessage(WM_SYSCOMMAND, &CSnoopsweepDlg::OnSysCommand),
    ui::OnMessage(WM_PAINT, &CSnoopsweepDlg::OnPaint),
    ui::OnMessage(WM_QUERYDRAGICON, &CSnoopsweepDlg::OnQueryDragIcon),
    ui::OnMessage(WM_TIMER, &CSnoopsweepDlg::OnTimer),
    ui::OnMessage(WM_NOTIFY, &CSnoopsweepDlg::OnNotify),
    ui::OnMessage(kProvenanceReady, &CSnoopsweepDlg::OnProvenanceReady),
    ui::OnMessage(WM_DESTROY, &CSnoopsweepDlg::OnDestroy),
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

    if (!::SetTimer(Hwnd(), kScanTimer, 1000, nullptr)) {
        MessageBox("Error: Set Timer Failed", MB_OK);
        return FALSE;
    }
    // The rounds' windows; without them the findings stay unnamed, as they are without a
    // counter to read.
    if (::SetTimer(Hwnd(), kRoundTimer, static_cast<UINT>(detect::kWindowMs), nullptr))
        m_roundStepMs = static_cast<UINT>(detect::kWindowMs);
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
    if (wParam == kRoundTimer) {
        // Like the scan, the rounds report nothing: one that fails is simply over.
        try {
#ifdef _WIN64
            m_rounds.SetSkipped({m_helper32.ProcessId()});
#endif
            m_scan.Step();
        } catch (const std::exception&) {
        }
        // A pause test whose box never came (its message was lost) holds the rounds no longer.
        if (m_pauseFound && !m_provenance.Running())
            m_rounds.Hold(false);
        // Steps come faster during a round: one key per step.
        const UINT stepMs = static_cast<UINT>(m_rounds.StepMs());
        if (stepMs != m_roundStepMs && ::SetTimer(Hwnd(), kRoundTimer, stepMs, nullptr))
            m_roundStepMs = stepMs;
    } else {
        ScanOwnModules(static_cast<UINT>(wParam));
    }
    result = 0;
    return true;
}

bool CSnoopsweepDlg::OnNotify(WPARAM, LPARAM lParam, LRESULT& result) {
    // The list's notices come from this thread; one sent from another thread or program
    // carries a pointer of its own making, which is not read.
    if (::InSendMessage())
        return false;
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom != IDC_THREAT_LIST || header->code != NM_DBLCLK)
        return false;
    ShowProvenance(reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem);
    result = 0;
    return true;
}

bool CSnoopsweepDlg::OnProvenanceReady(WPARAM wParam, LPARAM, LRESULT& result) {
    // Only the answer of the search under way is shown; the message's other values, and the
    // same message from anyone else, are ignored.
    if (const std::optional<std::string> text = m_provenance.Take(wParam)) {
        if (const auto found = std::move(m_pauseFound)) {
            m_rounds.Hold(false);
            if (*found) {
                // The poller's row becomes the row of its program, unless that is trusted.
                m_rounds.AddHolder(detect::kKeyStatePollerKey, **found);
                const auto trusted = m_scan.TrustedHolders(detect::kKeyStatePollerKey);
                const bool named =
                    std::none_of(trusted.begin(), trusted.end(), [&](const detect::Holder& holder) {
                        return holder.process == (*found)->process;
                    });
                const int row = m_threats.Find(detect::kKeyStatePollerKey);
                if (named && row >= 0)
                    m_threats.Remove(row);
            }
        }
        MessageBox(*text, MB_OK | MB_ICONINFORMATION);
    }
    result = 0;
    return true;
}

bool CSnoopsweepDlg::OnDestroy(WPARAM, LPARAM, LRESULT&) {
    // A pause test under way hurries to its end and resumes every program it suspended before
    // the program goes.
    ::SetEvent(m_pauseCancel.get());
    m_provenance.Wait(kPauseTestEndMs);
#ifdef _WIN64
    m_helper32.End();
#endif
    return false;
}

void CSnoopsweepDlg::OnAbout() {
    CAboutDlg about;
    about.DoModal();
}

void CSnoopsweepDlg::OnStartWithWindows() {
    app::ApplyStartWithWindows(m_startWithWindows.GetCheck() != BST_UNCHECKED);
}

// ---- The threat list and the scan ----

void CSnoopsweepDlg::InitThreatList() {
    const RECT rect = m_list.WindowRect();
    const auto widths = detect::ColumnWidths(rect.right - rect.left);
    for (int column = 0; column < 4; ++column)
        m_list.InsertColumn(column, detect::kColumnHeadings[column], LVCFMT_CENTER, widths[column]);

    m_list.SetExtendedStyle(0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);

    // Image-list order: detected, blocked, allowed, detected and blocked, detected and allowed.
    static const UINT kIcons[] = {IDI_DETECTED, IDI_BLOCKED, IDI_ALLOWED, IDI_DETECTED_BLOCKED,
                                  IDI_DETECTED_ALLOWED};
    if (m_imageList.Create(16, 16, 0, 8, 8)) {
        for (UINT icon : kIcons)
            m_imageList.Add(ui::WinApp::Current()->LoadIcon(icon));
        // The list view destroys it with itself.
        m_list.SetImageList(m_imageList.Release(), LVSIL_SMALL);
    }
}

void CSnoopsweepDlg::LoadTrustMap() {
    m_scan.ResetFlags();
    const detect::LoadedLists loaded = detect::LoadTrustMap(m_trustMap, ui::ModuleFileName());
    m_blockedListPath = loaded.paths.blocked;
    m_allowedListPath = loaded.paths.allowed;
    m_blockedUnreadable = loaded.blockedUnreadable;
    m_allowedUnreadable = loaded.allowedUnreadable;
}

void CSnoopsweepDlg::SaveLists() {
    // A file that was there but could not be read at start would lose every verdict it holds:
    // this run leaves it as it is, and says so at the first save.
    if (!m_unreadableTold) {
        m_unreadableTold = true;
        if (m_blockedUnreadable)
            MessageBox(detect::UnreadableListText(m_blockedListPath), MB_OK | MB_ICONWARNING);
        if (m_allowedUnreadable)
            MessageBox(detect::UnreadableListText(m_allowedListPath), MB_OK | MB_ICONWARNING);
    }
    detect::SaveListFiles(m_trustMap, {m_blockedListPath, m_allowedListPath},
                          {!m_blockedUnreadable, !m_allowedUnreadable});
}

void CSnoopsweepDlg::ScanOwnModules(UINT) {
    // The scan reports nothing: a pass that fails (out of memory) simply ends, and the next
    // tick scans again.
    try {
        m_scan.Tick();
    } catch (const std::exception&) {
    }
}

void CSnoopsweepDlg::OnAnalyse() {
    try {
        m_scan.Analyse();
    } catch (const std::exception&) {
    }
}

// ---- Who is behind a row ----

void CSnoopsweepDlg::ShowProvenance(int row) {
    if (row < 0)
        return;
    // A named finding's key is its program's path and its kind: longer than a path may be.
    const std::string key = m_list.GetItemText(row, 0, 2 * MAX_PATH);
    if (key == detect::kKeyStatePollerKey) {
        RunPauseTest(key);
        return;
    }
    if (detect::IsFileless(key)) {
        MessageBox(inspect::FilelessReportText(key, TrustedReactors(key)),
                   MB_OK | MB_ICONINFORMATION);
        return;
    }
    // One search at a time: a double-click while the last one still runs is dropped.
    if (const std::optional<detect::NamedFinding> named = detect::ParseNamedKey(key)) {
        // The program's file is examined; the box names the row by its whole key.
        m_provenance.Start(Hwnd(), kProvenanceReady, [key, image = named->image] {
            inspect::Provenance provenance = inspect::GatherProgramProvenance(image);
            provenance.path = key;
            return inspect::ReportText(provenance);
        });
        return;
    }
    m_provenance.Start(Hwnd(), kProvenanceReady,
                       [key] { return inspect::ReportText(inspect::GatherProvenance(key)); });
}

// ---- "Disabilita" and "Consenti" ----

void CSnoopsweepDlg::OnDisable() {
    RunCommand(neutralise::Command::Disable);
}

void CSnoopsweepDlg::OnAllow() {
    RunCommand(neutralise::Command::Allow);
}

void CSnoopsweepDlg::RunCommand(neutralise::Command command) {
    // The dialog and the system as the command sees them.
    class Host : public neutralise::CommandHost {
    public:
        explicit Host(CSnoopsweepDlg& dialog) : dialog_(dialog) {}

        int SelectionMark() override { return dialog_.m_list.GetSelectionMark(); }
        long ItemData(int row) override {
            return static_cast<long>(dialog_.m_list.GetItemData(row));
        }
        // A named finding's key is its program's path and its kind: longer than a path may be.
        std::string RowPath(int row) override {
            return dialog_.m_list.GetItemText(row, 0, 2 * MAX_PATH);
        }
        detect::ThreatList& Rows() override { return dialog_.m_threats; }
        detect::VendorNames Vendor(const std::string& path) override {
            return dialog_.m_platform.Vendor(path);
        }
        bool Rename(const std::string& source, const std::string& target) override {
            return MoveFileWithFallback(source.c_str(), target.c_str()) != 0;
        }
        void ShowRefusal(const std::string& text) override { dialog_.MessageBox(text, MB_OK); }
        bool AskRestart() override {
            return ::MessageBoxA(nullptr, neutralise::kRestartQuestion, neutralise::kAlertCaption,
                                 MB_YESNO | MB_ICONWARNING) == IDYES;
        }
        void ShowRenameFailure() override {
            ::MessageBoxA(nullptr, neutralise::kRenameFailed, neutralise::kAlertCaption, MB_OK);
        }
        void RestartWindows() override { neutralise::RestartWindows(); }
        void SaveLists() override { dialog_.SaveLists(); }

    private:
        CSnoopsweepDlg& dialog_;
    };

    Host host(*this);
    neutralise::Run(command, m_trustMap, host);
}

void CSnoopsweepDlg::RunPauseTest(const std::string& key) {
    // One search or test at a time: a double-click meanwhile is dropped.
    if (m_provenance.Running())
        return;
    if (MessageBox(detect::kPauseTestQuestion, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        MessageBox(inspect::FilelessReportText(key, TrustedReactors(key)),
                   MB_OK | MB_ICONINFORMATION);
        return;
    }
    detect::PauseTestInputs inputs;
#ifdef _WIN64
    inputs.helper = m_helper32.ProcessId();
#endif
    inputs.owners = HookAndSinkOwners();
    inputs.trusted = m_scan.TrustRulesForAnotherThread();
    inputs.cancel = m_pauseCancel.get();
    const std::string head = inspect::FilelessReportText(key, TrustedReactors(key));
    auto found = std::make_shared<std::optional<detect::Holder>>();
    detect::WakeCounterSource* counters = m_counters.get();
    // Nobody else presses keys meanwhile, or the probe key's bit would tell nothing.
    m_rounds.Hold(true);
    const bool started = m_provenance.Start(Hwnd(), kProvenanceReady, [=] {
        const detect::PauseTestResult result = detect::RunPauseTest(*counters, inputs);
        *found = result.poller;
        return head + "\n" + detect::PauseTestLine(result.poller);
    });
    if (started)
        m_pauseFound = found;
    else
        m_rounds.Hold(false);
}

std::vector<uint32_t> CSnoopsweepDlg::HookAndSinkOwners() {
    std::vector<uint32_t> owners;
    for (const char* kind : {detect::kLowLevelHookKey, detect::kRawInputSinkKind}) {
        for (const detect::Holder& holder : m_rounds.Holders(kind))
            owners.push_back(holder.process);
    }
    return owners;
}

std::vector<inspect::ProcessInfo> CSnoopsweepDlg::TrustedReactors(const std::string& kind) {
    std::vector<inspect::ProcessInfo> reactors;
    try {
        for (const detect::Holder& holder : m_scan.TrustedHolders(kind)) {
            inspect::ProcessInfo process;
            process.pid = holder.process;
            process.imagePath = holder.image;
            reactors.push_back(process);
        }
    } catch (const std::exception&) {
    }
    return reactors;
}
