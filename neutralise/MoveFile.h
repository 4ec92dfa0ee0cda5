// Renaming a file that may be in use (a module the system has loaded): now, at the next
// restart through the system, or through the [Rename] section of WinInit.Ini.
#pragma once

#include <windows.h>

// The system calls the rename goes through: the system's own unless a test replaces some.
struct RenameSystemCalls {
    BOOL(WINAPI* moveFileEx)(LPCSTR, LPCSTR, DWORD) = ::MoveFileExA;
    UINT(WINAPI* getWindowsDirectory)(LPSTR, UINT) = ::GetWindowsDirectoryA;
    DWORD(WINAPI* getShortPathName)(LPCSTR, LPSTR, DWORD) = ::GetShortPathNameA;
    HANDLE(WINAPI* createFileMapping)
    (HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCSTR) = ::CreateFileMappingA;
    LPVOID(WINAPI* mapViewOfFile)(HANDLE, DWORD, DWORD, DWORD, SIZE_T) = ::MapViewOfFile;
    // Tells the system's family: WinInit.Ini is written only where the system reads it.
    BOOL(WINAPI* getVersionEx)(LPOSVERSIONINFOA) = ::GetVersionExA;
    // Read and write the system's list of renames for its next start, which holds other
    // programs' names too: in UTF-16, as it is stored.
    LONG(WINAPI* regQueryValueEx)
    (HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) = ::RegQueryValueExW;
    LONG(WINAPI* regSetValueEx)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD) = ::RegSetValueExW;
};

// Moves `source` to `target`; a null target deletes the source. First, when an earlier call's
// move of `target` onto `source` still waits for the restart (recorded by the system, or a
// line in WinInit.Ini), that move is taken back instead, and the empty file the fallback made
// for it goes: the file is then under `target` already and stays there. Every copy of that
// move leaves the system's list, and every other program's rename there stays exactly as it
// was; when the list cannot be rewritten so (it keeps changing, or cannot be written), the
// call fails rather than add a move on top. Otherwise tries in turn:
//   1. the move at once (replacing a file under the target's name);
//   2. the move at the next restart, recorded by the system;
//   3. on the Windows 9x family only, which reads it when it starts, a line in the [Rename]
//      section of WinInit.Ini in the Windows directory (see WinInitEdit.h). Both paths are
//      written short, so the target is created empty first if it does not exist.
// An empty source never replaces a target with contents: that is refused with 0.
// Returns the nonzero result of the system's call for 1 and 2, 1 when a pending move was taken
// back or the line was written (or a pending opposite line taken out instead), and 0 when
// nothing was achieved: a pending move could not be taken back, the system is of the NT
// family, the source does not exist, a short path or the Windows directory cannot be had, or
// WinInit.Ini is read-only, cannot be opened or mapped, or is too large. On 0 no empty file
// made for the target is left. Throws base::FileError when the source or the target exists
// but cannot be opened, or the target cannot be created; WinInit.Ini is then untouched.
BOOL MoveFileWithFallback(const char* source, const char* target);
BOOL MoveFileWithFallback(const char* source, const char* target, const RenameSystemCalls& calls);
