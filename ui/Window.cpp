#include "ui/Window.h"

#include <vector>

namespace ui {

RECT Window::WindowRect() const {
    RECT rect = {};
    ::GetWindowRect(hwnd_, &rect);
    return rect;
}

int ListCtrl::InsertColumn(int column, const char* heading, int format, int width) const {
    LVCOLUMNA info = {};
    info.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    info.fmt = format;
    info.cx = width;
    info.pszText = const_cast<char*>(heading);
    return static_cast<int>(
        Send(LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info)));
}

DWORD ListCtrl::SetExtendedStyle(DWORD mask, DWORD style) const {
    return static_cast<DWORD>(Send(LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style));
}

HIMAGELIST ListCtrl::SetImageList(HIMAGELIST list, int kind) const {
    return reinterpret_cast<HIMAGELIST>(
        Send(LVM_SETIMAGELIST, static_cast<WPARAM>(kind), reinterpret_cast<LPARAM>(list)));
}

namespace {

// The call behind every write of a row: LVM_INSERTITEMA or LVM_SETITEMA with one LVITEMA,
// state and state mask 0.
int SendItem(const ListCtrl& list, UINT message, UINT mask, int item, int subItem,
             const std::string& text, int image, LPARAM data) {
    LVITEMA info = {};
    info.mask = mask;
    info.iItem = item;
    info.iSubItem = subItem;
    info.pszText = const_cast<char*>(text.c_str());
    info.iImage = image;
    info.lParam = data;
    return static_cast<int>(list.Send(message, 0, reinterpret_cast<LPARAM>(&info)));
}

constexpr UINT kTextImageData = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;

} // namespace

int ListCtrl::InsertItem(int item, const std::string& text, int image, LPARAM data) const {
    return SendItem(*this, LVM_INSERTITEMA, kTextImageData, item, 0, text, image, data);
}

BOOL ListCtrl::SetItem(int item, const std::string& text, int image, LPARAM data) const {
    return SendItem(*this, LVM_SETITEMA, kTextImageData, item, 0, text, image, data);
}

BOOL ListCtrl::SetItemText(int item, int subItem, const std::string& text) const {
    return SendItem(*this, LVM_SETITEMA, LVIF_TEXT, item, subItem, text, 0, 0);
}

std::string ListCtrl::GetItemText(int item, int subItem, int capacity) const {
    if (capacity <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(capacity), '\0');
    LVITEMA info = {};
    info.iSubItem = subItem;
    info.pszText = buffer.data();
    info.cchTextMax = capacity;
    const auto length = static_cast<int>(
        Send(LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&info)));
    buffer.back() = '\0';
    // The control may hand back its own pointer instead of filling the buffer.
    const char* text = info.pszText ? info.pszText : buffer.data();
    std::string result(text);
    if (length >= 0 && static_cast<size_t>(length) < result.size())
        result.resize(static_cast<size_t>(length));
    if (result.size() >= static_cast<size_t>(capacity))
        result.resize(static_cast<size_t>(capacity) - 1);
    return result;
}

LPARAM ListCtrl::GetItemData(int item) const {
    LVITEMA info = {};
    info.mask = LVIF_PARAM;
    info.iItem = item;
    if (!Send(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&info)))
        return 0;
    return info.lParam;
}

int ListCtrl::FindItem(const std::string& text) const {
    LVFINDINFOA find = {};
    find.flags = LVFI_STRING;
    find.psz = text.c_str();
    return static_cast<int>(
        Send(LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

bool ImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
    list_.reset(::ImageList_Create(cx, cy, flags, initial, grow));
    return static_cast<bool>(list_);
}

int ImageList::Add(HICON icon) const {
    return list_ ? ::ImageList_ReplaceIcon(list_.get(), -1, icon) : -1;
}

} // namespace ui
