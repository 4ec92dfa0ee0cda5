// The modules (the executable and every DLL) loaded into a process, listed through whichever
// interface the running system offers: the tool-help functions of the kernel or the
// process-status library. Both are bound at run time, so the program starts on systems that
// lack either.
#pragma once

#include "ui/Handles.h"

#include <windows.h>

#include <tlhelp32.h>

#include <memory>

// Mode bits: the values of GetAvailableModes and of the mode in force.
constexpr int MODE_PSAPI = 1;    // the process-status library with all three entry points
constexpr int MODE_TOOLHELP = 2; // the kernel's five tool-help entry points
constexpr int MODE_VDM = 4;      // the 16-bit task library, with one of the walks above

class CModuleEnumerator;

// What a walk reports for one module. The caller owns it and passes the same entry to every
// step of a walk; each step that succeeds overwrites both the path and the base address.
class ModuleEntry {
public:
    ModuleEntry();
    virtual ~ModuleEntry();
    ModuleEntry(const ModuleEntry&) = delete;
    ModuleEntry& operator=(const ModuleEntry&) = delete;

    // The module's full path, NUL-terminated, at most MAX_PATH characters with the NUL;
    // "N/A (error)" when the system could not give it. Empty before the first step.
    const char* Path() const noexcept { return m_path.get(); }
    // Where the module is loaded in its process, which is also its module handle.
    HMODULE BaseAddress() const noexcept { return m_baseAddress; }

private:
    friend class CModuleEnumerator;

    std::unique_ptr<char[]> m_path;
    HMODULE m_baseAddress;
};

class CModuleEnumerator {
public:
    // How the enumerator loads its libraries and finds their entry points. The program always
    // uses SystemLoader(); tests hand in their own to take a library or an entry point away.
    struct Loader {
        HMODULE(WINAPI* loadLibrary)(LPCSTR name);
        FARPROC(WINAPI* getProcAddress)(HMODULE library, LPCSTR name);
    };
    static Loader SystemLoader() noexcept;

    // Loads "PSAPI", "Kernel32" and "VDMDBG", looks up their entry points and chooses the
    // mode: the tool-help walk where it exists, else PSAPI, plus MODE_VDM when available.
    CModuleEnumerator();
    explicit CModuleEnumerator(const Loader& loader);
    virtual ~CModuleEnumerator();
    CModuleEnumerator(const CModuleEnumerator&) = delete;
    CModuleEnumerator& operator=(const CModuleEnumerator&) = delete;

    // The bits whose libraries loaded with every entry point found, worked out at each call.
    int GetAvailableModes() const;
    int GetMode() const noexcept { return m_mode; }
    // Puts `mode` in force when every bit of it is available and it is not MODE_VDM alone;
    // otherwise the mode stays. 0 switches the walks off. Returns the mode in force.
    int SetMode(int mode);

    // Starts a new walk of the process's modules, abandoning any walk under way; TRUE when
    // `entry` now holds the first module. A mode with MODE_TOOLHELP walks with the tool-help
    // functions, any other non-zero mode with PSAPI.
    BOOL GetFirstModule(DWORD processId, ModuleEntry& entry);
    // TRUE when `entry` now holds the next module; FALSE at the end of the walk, and before
    // any GetFirstModule. A step that returns FALSE leaves the entry as it was.
    BOOL GetNextModule(DWORD processId, ModuleEntry& entry);
    // Fills `entry` with the path and base of one module of the process (PSAPI). A path that
    // cannot be read gives "N/A (error)" and still TRUE; FALSE only when the process cannot
    // be opened or PSAPI is not there, with the entry left as it was.
    BOOL FillEntryFromHandle(DWORD processId, HMODULE module, ModuleEntry& entry);

private:
    using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
    using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
    using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
    using Module32Fn = BOOL(WINAPI*)(HANDLE, MODULEENTRY32*);

    BOOL GetFirstPsapiModule(DWORD processId, ModuleEntry& entry);
    void FillEntryFromRecord(ModuleEntry& entry) const;

    int m_mode;

    // PSAPI walk.
    ui::Library m_psapi;
    int m_handleCapacity;
    int m_handlesLeft;
    std::unique_ptr<HMODULE[]> m_handles;
    HMODULE* m_cursor;
    FARPROC m_enumProcesses; // required for MODE_PSAPI, never called
    EnumProcessModulesFn m_enumProcessModules;
    GetModuleFileNameExAFn m_getModuleFileNameExA;

    // Tool-help walk.
    ui::FileHandle m_snapshot;
    ui::Library m_kernel32;
    MODULEENTRY32 m_record;
    CreateToolhelp32SnapshotFn m_createToolhelp32Snapshot;
    FARPROC m_process32First; // required for MODE_TOOLHELP, never called
    FARPROC m_process32Next;  // required for MODE_TOOLHELP, never called
    Module32Fn m_module32First;
    Module32Fn m_module32Next;

    // 16-bit tasks: only a mode bit.
    ui::Library m_vdmdbg;
    FARPROC m_vdmEnumTaskWOWEx; // required for MODE_VDM, never called
};
