#include "neutralise/Commands.h"

namespace neutralise {

std::optional<std::string> DisabledName(const std::string& path) {
    const auto dot = path.find_last_of('.');
    const size_t position = dot == std::string::npos ? 2 : dot + 3;
    // A path that already bears its disabled name has none of its own: renaming it onto
    // itself would report a Disable or an Allow that changed nothing.
    if (position >= path.size() || path[position] == '_')
        return std::nullopt;
    std::string name = path;
    name[position] = '_';
    return name;
}

void Run(Command command, detect::TrustMap& map, CommandHost& host) {
    const bool disable = command == Command::Disable;
    const int row = host.SelectionMark();
    if (row == -1)
        return;
    if (host.ItemData(row) == (disable ? detect::kCodeBlocked : detect::kCodeAllowed)) {
        host.ShowRefusal(disable ? kRefusedDisable : kRefusedAllow);
        return;
    }

    const std::string key = host.RowPath(row);
    if (detect::IsFileless(key)) {
        if (disable) {
            host.ShowRefusal(kNoFileToDisable);
            return;
        }
        map.Set(key, detect::kAllowed);
        host.Rows().Update(row, detect::MakeRow(detect::RowState::Allowed, key, "", ""));
        host.SaveLists();
        return;
    }
    // The file renamed: the module itself, or the program a named finding names. The verdict
    // and the row stay under the whole key.
    const std::string file = detect::FileOfKey(key);
    const std::optional<std::string> disabled = DisabledName(file);
    bool renamed = false;
    if (disabled)
        renamed = disable ? host.Rename(file, *disabled) : host.Rename(*disabled, file);

    if (renamed) {
        map.Set(key, disable ? detect::kBlocked : detect::kAllowed);
        // The names are read at the path as it is now: empty after a Disable that took effect.
        const detect::VendorNames names = host.Vendor(file);
        host.Rows().Update(
            row, detect::MakeRow(disable ? detect::RowState::Blocked : detect::RowState::Allowed,
                                 key, names.company, names.product));
        if (host.AskRestart())
            host.RestartWindows();
    } else {
        host.ShowRenameFailure();
    }
    host.SaveLists();
}

} // namespace neutralise
