#include "tests/support/remote_ui.h"

#include "tests/support/process.h"
#include "ui/Handles.h"

#include <commctrl.h>

namespace testing_support {

namespace {

struct Search {
    DWORD pid;
    std::string className;
    std::string caption;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid == search->pid && ::IsWindowVisible(hwnd) && ClassName(hwnd) == search->className &&
        (search->caption.empty() || WindowText(hwnd) == search->caption))
        search->found.push_back(hwnd);
    return TRUE;
}

// A block of memory inside another process, freed when it goes.
class RemoteBlock {
public:
    RemoteBlock(HWND window, size_t size) : size_(size) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        process_.reset(
            ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
        if (process_)
            address_ = static_cast<char*>(::VirtualAllocEx(
                process_.get(), nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~RemoteBlock() {
        if (address_)
            ::VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE);
    }
    bool Valid() const { return address_ != nullptr; }
    char* Address() const { return address_; }
    bool Write(size_t offset, const void* data, size_t size) const {
        SIZE_T done = 0;
        return offset + size <= size_ &&
               ::WriteProcessMemory(process_.get(), address_ + offset, data, size, &done) &&
               done == size;
    }
    bool Read(size_t offset, void* data, size_t size) const {
        SIZE_T done = 0;
        return offset + size <= size_ &&
               ::ReadProcessMemory(process_.get(), address_ + offset, data, size, &done) &&
               done == size;
    }

private:
    ui::Handle process_;
    char* address_ = nullptr;
    size_t size_;
};

constexpr size_t kTextRoom = 1024;

} // namespace

std::vector<HWND> TopLevelWindows(DWORD pid, const std::string& className,
                                  const std::string& caption) {
    Search search{pid, className, caption, {}};
    ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(DWORD pid, const std::string& className, const std::string& caption) {
    HWND found = nullptr;
    WaitFor([&] {
        const auto windows = TopLevelWindows(pid, className, caption);
        found = windows.empty() ? nullptr : windows.front();
        return found != nullptr;
    });
    return found;
}

std::string WindowText(HWND hwnd) {
    char text[1024] = {};
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                               SMTO_ABORTIFHUNG, 5000, &length))
        return std::string();
    return std::string(text, length < sizeof(text) ? length : sizeof(text) - 1);
}

std::string ClassName(HWND hwnd) {
    char name[256] = {};
    const int length = ::GetClassNameA(hwnd, name, sizeof(name));
    return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

void PostClick(HWND button) {
    ::PostMessageA(button, BM_CLICK, 0, 0);
}

std::vector<RemoteColumn> ReadColumns(HWND list) {
    std::vector<RemoteColumn> columns;
    RemoteBlock block(list, sizeof(LVCOLUMNA) + kTextRoom);
    if (!block.Valid())
        return columns;
    for (int index = 0;; ++index) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.pszText = block.Address() + sizeof(LVCOLUMNA);
        column.cchTextMax = kTextRoom;
        const char zero[kTextRoom] = {};
        block.Write(0, &column, sizeof(column));
        block.Write(sizeof(column), zero, sizeof(zero));
        if (!::SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(index),
                            reinterpret_cast<LPARAM>(block.Address())))
            break;
        char text[kTextRoom] = {};
        block.Read(0, &column, sizeof(column));
        block.Read(sizeof(column), text, sizeof(text) - 1);
        columns.push_back({text, column.cx, column.fmt});
    }
    return columns;
}

std::vector<RemoteRow> ReadRows(HWND list, int columns, int first, int count) {
    std::vector<RemoteRow> rows;
    RemoteBlock block(list, sizeof(LVITEMA) + kTextRoom);
    if (!block.Valid())
        return rows;
    int end = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    if (count >= 0 && count < end - first)
        end = first + count;
    for (int index = first; index < end; ++index) {
        RemoteRow row;
        for (int column = 0; column < columns; ++column) {
            LVITEMA item = {};
            item.mask = LVIF_TEXT | (column == 0 ? LVIF_IMAGE | LVIF_PARAM : 0);
            item.iItem = index;
            item.iSubItem = column;
            item.pszText = block.Address() + sizeof(LVITEMA);
            item.cchTextMax = kTextRoom;
            const char zero[kTextRoom] = {};
            block.Write(0, &item, sizeof(item));
            block.Write(sizeof(item), zero, sizeof(zero));
            ::SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(block.Address()));
            char text[kTextRoom] = {};
            block.Read(0, &item, sizeof(item));
            block.Read(sizeof(item), text, sizeof(text) - 1);
            row.texts.push_back(text);
            if (column == 0) {
                row.image = item.iImage;
                row.data = item.lParam;
            }
        }
        rows.push_back(row);
    }
    return rows;
}

bool ClickRow(HWND list, int index, bool twice) {
    RemoteBlock block(list, sizeof(RECT));
    RECT rect = {};
    rect.left = LVIR_LABEL;
    if (!block.Valid() || !block.Write(0, &rect, sizeof(rect)) ||
        !::SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(block.Address())) ||
        !block.Read(0, &rect, sizeof(rect)))
        return false;
    const LPARAM point = MAKELPARAM(rect.left + 4, (rect.top + rect.bottom) / 2);
    ::PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, point);
    ::PostMessageA(list, WM_LBUTTONUP, 0, point);
    if (twice) {
        ::PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
        ::PostMessageA(list, WM_LBUTTONUP, 0, point);
    }
    return true;
}

std::string MessageBoxText(HWND box) {
    HWND text = ::GetDlgItem(box, 0xFFFF);
    return text ? WindowText(text) : std::string();
}

bool SaveWindowBitmap(HWND hwnd, const std::string& path) {
    RECT rect;
    if (!::GetWindowRect(hwnd, &rect))
        return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ::SelectObject(memory, old);

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::string pixels(static_cast<size_t>(stride) * height, '\0');
    ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
    bytes.append(reinterpret_cast<const char*>(&header), sizeof(header));
    bytes += pixels;
    return WriteFileBytes(path, bytes);
}

} // namespace testing_support
