// The main dialog's detection: the trust map and its files, the scan on every tick, and
// "Analizza".
#include "app/SnoopsweepDlg.h"

#include "detect/ListFiles.h"
#include "ui/WinApp.h"

#include <exception>

void CSnoopsweepDlg::LoadTrustMap() {
    m_scan.ResetFlags();
    const detect::ListFilePaths paths = detect::LoadTrustMap(m_trustMap, ui::ModuleFileName());
    m_blockedListPath = paths.blocked;
    m_allowedListPath = paths.allowed;
}

void CSnoopsweepDlg::SaveLists() {
    detect::SaveListFiles(m_trustMap, {m_blockedListPath, m_allowedListPath});
}

void CSnoopsweepDlg::ShowListedEntries() {
    m_scan.ShowListedEntries();
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
