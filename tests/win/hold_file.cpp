// Another process that holds a file open, for tests of what cannot be opened or renamed:
//   hold_file.exe <file>
// Opens the existing file for reading and writing without sharing, then waits until it is
// ended; after two minutes it lets go and exits by itself, so that it never outlives a test
// that failed to end it. Exits 2 when the file cannot be opened.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const HANDLE file = ::CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    ::Sleep(120000);
    ::CloseHandle(file);
    return 0;
}
