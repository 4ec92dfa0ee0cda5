#include "inspect/ModuleEnumerator.h"

#include <cstring>
#include <new>

namespace {

// The handle array starts with room for this many modules and grows by as many again.
constexpr int kHandleStep = 256;
// Enough to list a process's modules and read their names.
constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
const char kUnreadablePath[] = "N/A (error)";

// An entry point as the function type it has.
template <class Function>
Function EntryPoint(const CModuleEnumerator::Loader& loader, HMODULE library, const char* name) {
    // Through a plain function pointer: the compiler accepts that between function types.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(loader.getProcAddress(library, name)));
}

// Copies a path of at most MAX_PATH characters with its NUL, cutting nothing that fits.
void CopyPath(char* target, const char* source) {
    std::size_t length = 0;
    while (length < MAX_PATH - 1 && source[length] != '\0')
        ++length;
    std::memcpy(target, source, length);
    target[length] = '\0';
}

} // namespace

ModuleEntry::ModuleEntry() : m_path(new char[MAX_PATH]), m_baseAddress(nullptr) {
    m_path[0] = '\0';
}

ModuleEntry::~ModuleEntry() = default;

CModuleEnumerator::Loader CModuleEnumerator::SystemLoader() noexcept {
    return Loader{&::LoadLibraryA, &::GetProcAddress};
}

CModuleEnumerator::CModuleEnumerator() : CModuleEnumerator(SystemLoader()) {}

CModuleEnumerator::CModuleEnumerator(const Loader& loader)
    : m_mode(0), m_handleCapacity(kHandleStep), m_handlesLeft(0), m_cursor(nullptr),
      m_enumProcesses(nullptr), m_enumProcessModules(nullptr), m_getModuleFileNameExA(nullptr),
      m_record(), m_createToolhelp32Snapshot(nullptr), m_process32First(nullptr),
      m_process32Next(nullptr), m_module32First(nullptr), m_module32Next(nullptr),
      m_vdmEnumTaskWOWEx(nullptr) {
    m_record.dwSize = sizeof(m_record);

    m_psapi.reset(loader.loadLibrary("PSAPI"));
    if (m_psapi) {
        const HMODULE psapi = m_psapi.get();
        m_enumProcesses = loader.getProcAddress(psapi, "EnumProcesses");
        m_enumProcessModules =
            EntryPoint<EnumProcessModulesFn>(loader, psapi, "EnumProcessModules");
        m_getModuleFileNameExA =
            EntryPoint<GetModuleFileNameExAFn>(loader, psapi, "GetModuleFileNameExA");
    }

    m_kernel32.reset(loader.loadLibrary("Kernel32"));
    if (m_kernel32) {
        const HMODULE kernel32 = m_kernel32.get();
        m_createToolhelp32Snapshot =
            EntryPoint<CreateToolhelp32SnapshotFn>(loader, kernel32, "CreateToolhelp32Snapshot");
        m_process32First = loader.getProcAddress(kernel32, "Process32First");
        m_process32Next = loader.getProcAddress(kernel32, "Process32Next");
        m_module32First = EntryPoint<Module32Fn>(loader, kernel32, "Module32First");
        m_module32Next = EntryPoint<Module32Fn>(loader, kernel32, "Module32Next");
    }

    m_vdmdbg.reset(loader.loadLibrary("VDMDBG"));
    if (m_vdmdbg)
        m_vdmEnumTaskWOWEx = loader.getProcAddress(m_vdmdbg.get(), "VDMEnumTaskWOWEx");

    const int available = GetAvailableModes();
    if (available & MODE_PSAPI)
        m_mode = MODE_PSAPI;
    if (available & MODE_TOOLHELP)
        m_mode = MODE_TOOLHELP;
    if (available & MODE_VDM)
        m_mode |= MODE_VDM;
}

CModuleEnumerator::~CModuleEnumerator() {
    // Each library loaded by the constructor is freed once, in this order.
    m_handles.reset();
    m_psapi.reset();
    m_kernel32.reset();
    m_snapshot.reset();
    m_vdmdbg.reset();
}

int CModuleEnumerator::GetAvailableModes() const {
    int available = 0;
    if (m_psapi && m_enumProcesses && m_enumProcessModules && m_getModuleFileNameExA)
        available |= MODE_PSAPI;
    if (m_kernel32 && m_createToolhelp32Snapshot && m_process32First && m_process32Next &&
        m_module32First && m_module32Next)
        available |= MODE_TOOLHELP;
    if (m_vdmdbg && m_vdmEnumTaskWOWEx && (available & (MODE_PSAPI | MODE_TOOLHELP)))
        available |= MODE_VDM;
    return available;
}

int CModuleEnumerator::SetMode(int mode) {
    const int available = GetAvailableModes();
    if (mode != MODE_VDM && (mode | available) == available)
        m_mode = mode;
    return m_mode;
}

BOOL CModuleEnumerator::GetFirstModule(DWORD processId, ModuleEntry& entry) {
    if (m_mode == 0)
        return FALSE;
    if (!(m_mode & MODE_TOOLHELP))
        return GetFirstPsapiModule(processId, entry);

    m_snapshot.reset();
    // A snapshot that cannot be taken is kept as INVALID_HANDLE_VALUE: Module32First fails.
    m_snapshot.reset(m_createToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
    if (!m_module32First(m_snapshot.get(), &m_record))
        return FALSE;
    FillEntryFromRecord(entry);
    return TRUE;
}

BOOL CModuleEnumerator::GetNextModule(DWORD processId, ModuleEntry& entry) {
    if (m_mode == 0)
        return FALSE;
    if (m_mode & MODE_TOOLHELP) {
        if (!m_module32Next(m_snapshot.get(), &m_record))
            return FALSE;
        FillEntryFromRecord(entry);
        return TRUE;
    }

    // The count goes on falling after the end, so every later call is FALSE too.
    if (--m_handlesLeft <= 0)
        return FALSE;
    ++m_cursor;
    return FillEntryFromHandle(processId, *m_cursor, entry);
}

BOOL CModuleEnumerator::GetFirstPsapiModule(DWORD processId, ModuleEntry& entry) {
    for (;;) {
        // A fresh, zeroed array, and nothing left of an earlier walk until this one has listed.
        m_handlesLeft = 0;
        m_handles.reset(new (std::nothrow) HMODULE[m_handleCapacity]());
        m_cursor = m_handles.get();
        if (!m_handles)
            return FALSE;

        const DWORD arrayBytes = static_cast<DWORD>(m_handleCapacity * sizeof(HMODULE));
        DWORD neededBytes = 0;
        BOOL listed = FALSE;
        {
            ui::Handle process(::OpenProcess(kProcessAccess, FALSE, processId));
            if (!process)
                return FALSE;
            listed = m_enumProcessModules(process.get(), m_handles.get(), arrayBytes, &neededBytes);
        }
        // An array that came back exactly full may have been too small: list again with more
        // room. This is decided before the result is looked at.
        if (neededBytes >= arrayBytes) {
            m_handleCapacity += kHandleStep;
            continue;
        }
        if (!listed)
            return FALSE;
        m_handlesLeft = static_cast<int>(neededBytes / sizeof(HMODULE));
        if (m_handlesLeft <= 0)
            return FALSE;
        return FillEntryFromHandle(processId, *m_cursor, entry);
    }
}

BOOL CModuleEnumerator::FillEntryFromHandle(DWORD processId, HMODULE module, ModuleEntry& entry) {
    if (!m_getModuleFileNameExA)
        return FALSE;
    ui::Handle process(::OpenProcess(kProcessAccess, FALSE, processId));
    if (!process)
        return FALSE;
    char* path = entry.m_path.get();
    if (m_getModuleFileNameExA(process.get(), module, path, MAX_PATH) == 0)
        CopyPath(path, kUnreadablePath);
    // A name that filled the buffer is not terminated on every system.
    path[MAX_PATH - 1] = '\0';
    entry.m_baseAddress = module;
    return TRUE;
}

void CModuleEnumerator::FillEntryFromRecord(ModuleEntry& entry) const {
    CopyPath(entry.m_path.get(), m_record.szExePath);
    entry.m_baseAddress = reinterpret_cast<HMODULE>(m_record.modBaseAddr);
}
