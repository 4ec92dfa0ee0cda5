// "Disabilita" and "Consenti": rename the selected row's file (a module, or the program of a
// named finding) out of the way or back, record the verdict, update the row, rewrite the list
// files and offer a restart.
// Portable: the dialog, the rename and the system are reached through CommandHost.
#pragma once

#include "detect/ScanCycle.h"
#include "detect/ThreatRows.h"
#include "detect/TrustMap.h"

#include <optional>
#include <string>

namespace neutralise {

// The name a file bears while disabled: the path with the character three places after its
// last '.' (in the whole path, not only the file name) replaced by '_'; with no '.' at all, its
// third character. C:\spy\hook.dll gives C:\spy\hook.dl_. None when that place lies
// at or past the end of the path (C:\spy\hook.dl, a path ending in '.'): no name is formed
// by writing past the end. None either when that character is '_' already (C:\spy\hook.dl_):
// the path is its own disabled name, and a rename onto itself would change nothing.
std::optional<std::string> DisabledName(const std::string& path);

enum class Command { Disable, Allow };

// The texts of the commands' boxes, blanks included.
constexpr const char kRefusedDisable[] = "Il componente risulta essere gia' disabilitato!   ";
constexpr const char kRefusedAllow[] = "Il componente risulta essere gia' lecito!   ";
constexpr const char kRestartQuestion[] =
    "Per rendere effettive le modifiche devi riavviare il computer. Vuoi riavviarlo adesso?   ";
constexpr const char kRenameFailed[] = "Non posso rinominare: accesso negato  ";
constexpr const char kAlertCaption[] = "Allerta";
// "Disabilita" on a finding that has no file, such as a low-level hook.
constexpr const char kNoFileToDisable[] =
    "Questo rilevamento non ha un file da disabilitare: chiudi il programma che legge la "
    "tastiera.   ";

// What a command needs from the dialog and the system.
class CommandHost {
public:
    virtual ~CommandHost() = default;
    // The list's selection mark: a row index, or -1 for none.
    virtual int SelectionMark() = 0;
    virtual long ItemData(int row) = 0;
    // Column 0 of the row, whole: a module's path or a finding's key, which for a named
    // finding is longer than its program's path.
    virtual std::string RowPath(int row) = 0;
    virtual detect::ThreatList& Rows() = 0;
    virtual detect::VendorNames Vendor(const std::string& path) = 0;
    // Renames now, at the next restart, or through WinInit.Ini; false when none worked. May
    // raise a base::FileError, which ends the command there.
    virtual bool Rename(const std::string& source, const std::string& target) = 0;
    // A box owned by the dialog, captioned with the program's title, OK only: the refusals,
    // and the notice that a finding has no file to disable.
    virtual void ShowRefusal(const std::string& text) = 0;
    // The ownerless "Allerta" boxes.
    virtual bool AskRestart() = 0;
    virtual void ShowRenameFailure() = 0;
    virtual void RestartWindows() = 0;
    // Rewrites both list files; may raise a base::FileError.
    virtual void SaveLists() = 0;
};

// Runs one command on the selected row. A named finding (detect::ParseNamedKey) is renamed as
// a module is, through its program's file: the disabled name, the vendor's names and the
// rename are its image's, the verdict and the row's column 0 its whole key. A finding without
// a file (detect::IsFileless) has nothing to rename: "Consenti" only records and shows the
// verdict and saves the lists, "Disabilita" says that the program behind it must be closed and
// changes nothing.
void Run(Command command, detect::TrustMap& map, CommandHost& host);

} // namespace neutralise
