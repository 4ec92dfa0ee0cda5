#include "detect/ListViewThreatList.h"

namespace detect {

int ListViewThreatList::Insert(const Row& row) {
    const int index = list_.InsertItem(0, row.path, row.image, row.code);
    if (index >= 0)
        WriteTexts(index, row);
    return index;
}

void ListViewThreatList::Update(int index, const Row& row) {
    list_.SetItem(index, row.path, row.image, row.code);
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
    list_.SetItemText(index, 1, row.status);
    list_.SetItemText(index, 2, row.company);
    list_.SetItemText(index, 3, row.product);
}

} // namespace detect
