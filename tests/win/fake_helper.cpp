// A helper that misbehaves, for the tests of how the program runs its 32-bit helper. Takes
// the helper's arguments (DIALOG PIPE TAKEN PARENT) and does what SNOOPSWEEP_FAKE_HELPER says:
//   garbage  writes a line that is no record, then waits
//   hang     makes its child window, says so, then stops answering
//   silent   says nothing at all
//   exit     ends at once
#include "detect/HelperReport.h"

#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5)
        return 1;
    const char* mode = std::getenv("SNOOPSWEEP_FAKE_HELPER");
    const std::string what = mode ? mode : "";
    const auto handle = [&](int index) {
        return reinterpret_cast<HANDLE>(
            static_cast<ULONG_PTR>(detect::ParseHexNumber(argv[index]).value_or(0)));
    };
    const HANDLE pipe = handle(2);
    const auto write = [&](const std::string& text) {
        DWORD written = 0;
        ::WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    };
    if (what == "garbage") {
        write("not a record\n");
    } else if (what == "hang") {
        const HWND dialog = reinterpret_cast<HWND>(
            static_cast<ULONG_PTR>(detect::ParseHexNumber(argv[1]).value_or(0)));
        const HWND window = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                              dialog, nullptr, nullptr, nullptr);
        write(detect::WindowRecord(reinterpret_cast<ULONG_PTR>(window)));
    } else if (what != "silent") {
        return 0;
    }
    ::Sleep(INFINITE);
    return 0;
}
