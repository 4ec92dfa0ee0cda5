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

    const std::string path = host.RowPath(row);
    if (detect::IsFileless(path)) {
        if (disable) {
            host.ShowRefusal(kNoFileToDisable);
            return;
        }
        map.Set(path, detect::kAllowed);
        host.Rows().Update(row, detect::MakeRow(detect::RowState::Allowed, path, "", ""));
        host.SaveLists();
        return;
    }
    const std::optional<std::string> disabled = DisabledName(path);
    bool renamed = false;
    if (disabled)
        renamed = disable ? host.Rename(path, *disabled) : host.Rename(*disabled, path);

    if (renamed) {
        map.Set(path, disable ? detect::kBlocked : detect::kAllowed);
        // The names are read at the path as it is now: empty after a Disable that took effect.
        const detect::VendorNames names = host.Vendor(path);
        host.Rows().Update(
            row, detect::MakeRow(disable ? detect::RowState::Blocked : detect::RowState::Allowed,
                                 path, names.company, names.product));
        if (host.AskRestart())
            host.RestartWindows();
    } else {
        host.ShowRenameFailure();
    }
    host.SaveLists();
}

} // namespace neutralise
