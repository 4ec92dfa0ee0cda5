// Thin wrappers over child windows of a dialog: a base with the handle, a button and a
// list-view control, and an image list for it. The controls' wrappers own nothing: the dialog's
// window owns its controls.
#pragma once

#include "ui/Handles.h"

#include <windows.h>

#include <commctrl.h>

#include <string>

namespace ui {

class Window {
public:
    HWND Hwnd() const noexcept { return hwnd_; }
    void Attach(HWND hwnd) noexcept { hwnd_ = hwnd; }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageA(hwnd_, message, wParam, lParam);
    }
    RECT WindowRect() const;

protected:
    HWND hwnd_ = nullptr;
};

class Button : public Window {
public:
    int GetCheck() const { return static_cast<int>(Send(BM_GETCHECK)); }
    void SetCheck(int state) const { Send(BM_SETCHECK, static_cast<WPARAM>(state)); }
};

class ListCtrl : public Window {
public:
    int InsertColumn(int column, const char* heading, int format, int width) const;
    DWORD SetExtendedStyle(DWORD mask, DWORD style) const;
    HIMAGELIST SetImageList(HIMAGELIST list, int kind) const;

    // Inserts a row with its column-0 text, icon and item data, asking for index `item`;
    // returns the index it has after sorting, or -1.
    int InsertItem(int item, const std::string& text, int image, LPARAM data) const;
    // Rewrites a row's column-0 text, icon and item data.
    BOOL SetItem(int item, const std::string& text, int image, LPARAM data) const;
    // Rewrites the text of one cell.
    BOOL SetItemText(int item, int subItem, const std::string& text) const;
    // The text of one cell read into a buffer of `capacity` bytes (at most capacity - 1 used).
    std::string GetItemText(int item, int subItem, int capacity = MAX_PATH) const;
    LPARAM GetItemData(int item) const;
    int GetItemCount() const { return static_cast<int>(Send(LVM_GETITEMCOUNT)); }
    int GetSelectionMark() const { return static_cast<int>(Send(LVM_GETSELECTIONMARK)); }
    // The first row, searching from the top, whose column-0 text equals `text`; -1 for none.
    int FindItem(const std::string& text) const;
    BOOL DeleteAllItems() const { return static_cast<BOOL>(Send(LVM_DELETEALLITEMS)); }
    BOOL DeleteItem(int item) const {
        return static_cast<BOOL>(Send(LVM_DELETEITEM, static_cast<WPARAM>(item)));
    }
};

// An image list, destroyed with this object unless released to a control that takes it over.
class ImageList {
public:
    bool Create(int cx, int cy, UINT flags, int initial, int grow);
    // Appends an icon, shrunk to the list's image size; returns its index or -1.
    int Add(HICON icon) const;
    // For a list view without LVS_SHAREIMAGELISTS, which destroys its image lists itself.
    HIMAGELIST Release() noexcept { return list_.release(); }

private:
    ImageListHandle list_;
};

} // namespace ui
