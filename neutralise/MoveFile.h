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
};

// Moves `source` to `target`; a null target deletes the source. Tries in turn:
//   1. the move at once (replacing a file under the target's name);
//   2. the move at the next restart, recorded by the system;
//   3. a line in the [Rename] section of WinInit.Ini in the Windows directory (see
//      WinInitEdit.h), for systems that offer neither. Both paths are written short, so the
//      target is created empty first if it does not exist.
// Returns the nonzero result of the system's call for 1 and 2, 1 when the line was written
// (or a pending opposite line taken out instead), and 0 when nothing was achieved: the
// source does not exist, a short path or the Windows directory cannot be had, or WinInit.Ini
// is read-only, cannot be opened or mapped, or is too large. On 0 no empty file made for the target
// is left. Throws ui::FileError when the source or the target exists but cannot be opened, or the
// target cannot be created; WinInit.Ini is then untouched.
BOOL MoveFileWithFallback(const char* source, const char* target);
BOOL MoveFileWithFallback(const char* source, const char* target, const RenameSystemCalls& calls);
