#include "detect/SystemScan.h"

#include "inspect/FileVersionInfo.h"
#include "inspect/ModuleEnumerator.h"
#include "ui/Handles.h"

namespace detect {

bool SystemScan::IsActive() {
    return window_.Hwnd() != nullptr && ::GetActiveWindow() == window_.Hwnd();
}

void SystemScan::InjectF11() {
    ::keybd_event(VK_F11, 0, 0, 0);
    ::keybd_event(VK_F11, 0, KEYEVENTF_KEYUP, 0);
}

void SystemScan::ForEachModule(const std::function<void(const std::string&)>& visit) {
    CModuleEnumerator enumerator;
    enumerator.SetMode(enumerator.GetMode());
    ModuleEntry entry;
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = enumerator.GetFirstModule(self, entry); more;
         more = enumerator.GetNextModule(self, entry))
        visit(entry.Path());
}

std::optional<int64_t> SystemScan::CreationTime(const std::string& path) {
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA(path.c_str(), &data));
    if (!find)
        return std::nullopt;
    const uint64_t ticks = (static_cast<uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) |
                           data.ftCreationTime.dwLowDateTime;
    return FileTimeSeconds(ticks);
}

VendorNames SystemScan::Vendor(const std::string& path) {
    CFileVersionInfo info;
    info.Open(path.c_str());
    VendorNames names{info.GetCompanyName(), info.GetProductName()};
    info.Close();
    return names;
}

int ListViewThreatList::Insert(const Row& row) {
    const int index = list_.InsertItem(LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM, 0, row.path, 0, 0,
                                       row.image, row.code);
    if (index >= 0)
        WriteTexts(index, row);
    return index;
}

void ListViewThreatList::Update(int index, const Row& row) {
    list_.SetItem(index, 0, LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM, row.path, row.image, 0, 0,
                  row.code);
    WriteTexts(index, row);
}

void ListViewThreatList::BeginUpdate() {
    list_.Send(WM_SETREDRAW, FALSE);
}

void ListViewThreatList::EndUpdate() {
    list_.Send(WM_SETREDRAW, TRUE);
    ::InvalidateRect(list_.Hwnd(), nullptr, TRUE);
}

void ListViewThreatList::WriteTexts(int index, const Row& row) const {
    list_.SetItem(index, 1, LVIF_TEXT, row.status, 0, 0, 0, 0);
    list_.SetItem(index, 2, LVIF_TEXT, row.company, 0, 0, 0, 0);
    list_.SetItem(index, 3, LVIF_TEXT, row.product, 0, 0, 0, 0);
}

} // namespace detect
