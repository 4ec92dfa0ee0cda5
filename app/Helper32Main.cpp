// SnoopsweepHelper32.exe: the 32-bit side of the 64-bit program. A global hook DLL of 32 bits
// is loaded only into 32-bit processes, so the program starts this helper, which keeps a small
// child window of the program's dialog. On each active tick the program lends that window the
// keyboard focus for one bait key: the system then loads every 32-bit keyboard hook DLL into
// the helper, which lists its own modules back to the program.
//   SnoopsweepHelper32.exe DIALOG PIPE TAKEN PARENT
// all four hexadecimal: the dialog's window, and handles that the program lets it inherit: the
// write end of the pipe it reports on, an event it sets once the bait key is taken, and the
// program's process, with which it ends. It takes nothing from anyone else.
#include "detect/HelperReport.h"
#include "detect/Win32ProbePlatform.h"
#include "inspect/ModuleEnumerator.h"
#include "ui/Handles.h"

#include <windows.h>

#include <optional>
#include <string>

namespace {

const char kClassName[] = "SnoopsweepHelper32";

struct Helper {
    HANDLE pipe = nullptr;
    HANDLE taken = nullptr;
    std::string ownPath;
    bool broken = false;
};
Helper g_helper;

void Write(const std::string& record) {
    DWORD written = 0;
    if (g_helper.broken ||
        !::WriteFile(g_helper.pipe, record.data(), static_cast<DWORD>(record.size()), &written,
                     nullptr) ||
        written != record.size())
        g_helper.broken = true;
}

// Every module of this process but its own program file, as the program's scan sees its own.
void ReportModules() {
    CModuleEnumerator enumerator;
    ModuleEntry entry;
    const DWORD self = ::GetCurrentProcessId();
    std::string report;
    for (BOOL more = enumerator.GetFirstModule(self, entry); more;
         more = enumerator.GetNextModule(self, entry)) {
        if (::lstrcmpiA(entry.Path(), g_helper.ownPath.c_str()) != 0)
            report += detect::ModuleRecord(entry.Path());
    }
    Write(report + detect::EndRecord());
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        if (wParam == VK_F11 &&
            static_cast<ULONG_PTR>(::GetMessageExtraInfo()) == detect::kHelperKeyMark) {
            if (message == WM_KEYUP) {
                ::SetEvent(g_helper.taken);
                ReportModules();
            }
        } else if (::GetFocus() == window) {
            // The user's, typed while the focus was lent here: the program hands it on. A key
            // posted from outside while the focus is not here is nobody's.
            Write(detect::KeyRecord(message, static_cast<uint64_t>(wParam),
                                    static_cast<uint64_t>(static_cast<ULONG_PTR>(lParam))));
        }
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS;
    default:
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

template <class T> T As(uint64_t number) {
    return reinterpret_cast<T>(static_cast<ULONG_PTR>(number));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5)
        return 1;
    uint64_t numbers[4];
    for (int i = 0; i < 4; ++i) {
        const std::optional<uint64_t> number = detect::ParseHexNumber(argv[i + 1]);
        if (!number)
            return 1;
        numbers[i] = *number;
    }
    const HWND dialog = As<HWND>(numbers[0]);
    const ui::Handle pipe(As<HANDLE>(numbers[1]));
    const ui::Handle taken(As<HANDLE>(numbers[2]));
    const ui::Handle parent(As<HANDLE>(numbers[3]));
    g_helper.pipe = pipe.get();
    g_helper.taken = taken.get();
    char own[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, own, MAX_PATH);
    g_helper.ownPath = own;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    if (!::RegisterClassA(&windowClass))
        return 2;
    // No size: it shows nothing, and only takes the focus it is lent.
    const HWND window = ::CreateWindowExA(0, kClassName, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                          dialog, nullptr, windowClass.hInstance, nullptr);
    if (!window)
        return 3;
    Write(detect::WindowRecord(reinterpret_cast<ULONG_PTR>(window)));

    // Until the program ends, or stops reading.
    HANDLE waits[] = {parent.get()};
    while (!g_helper.broken) {
        const DWORD woken = ::MsgWaitForMultipleObjects(1, waits, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1)
            break;
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return 0;
            ::DispatchMessageA(&msg);
        }
    }
    ::DestroyWindow(window);
    return 0;
}
