// The main dialog's "Disabilita" and "Consenti" buttons.
#include "app/SnoopsweepDlg.h"

#include "neutralise/Commands.h"
#include "neutralise/MoveFile.h"
#include "neutralise/Restart.h"

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
        std::string RowPath(int row) override { return dialog_.m_list.GetItemText(row, 0); }
        detect::ThreatList& Rows() override { return dialog_.m_threats; }
        detect::VendorNames Vendor(const std::string& path) override {
            return dialog_.m_system.Vendor(path);
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
