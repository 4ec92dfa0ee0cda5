// The whole code of the test DLLs: an entry point that accepts every load. They are linked
// without the C runtime, so hundreds of copies load quickly and each stays a few kilobytes.
#include <windows.h>

extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
