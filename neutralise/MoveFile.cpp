#include "neutralise/MoveFile.h"

#include "base/FileError.h"
#include "base/ScopeExit.h"
#include "neutralise/PendingMoves.h"
#include "neutralise/WinInitEdit.h"
#include "ui/Handles.h"
#include "ui/WideText.h"

#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace {

constexpr char kWinInitName[] = "\\WinInit.Ini";
// Where the NT family keeps the renames for its next start.
constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";
// How many times the list is read afresh while other programs keep changing it.
constexpr int kListTries = 5;

enum class Presence { Missing, Existing, Created };

struct Opened {
    Presence presence;
    bool empty;
};

// Opens a file for a moment, reading and sharing nothing: `disposition` OPEN_EXISTING
// reports a missing file, OPEN_ALWAYS creates it empty. Any other failure is a file error.
Opened OpenForAMoment(const char* path, DWORD disposition) {
    const HANDLE handle =
        ::CreateFileA(path, GENERIC_READ, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = ::GetLastError();
    ui::FileHandle file(handle);
    if (!file) {
        if (disposition == OPEN_EXISTING &&
            (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
            return {Presence::Missing, false};
        throw base::FileError(path, error);
    }
    if (disposition == OPEN_ALWAYS && error != ERROR_ALREADY_EXISTS)
        return {Presence::Created, true};
    LARGE_INTEGER size = {};
    const bool empty = ::GetFileSizeEx(file.get(), &size) && size.QuadPart == 0;
    return {Presence::Existing, empty};
}

// The short form of an existing file's path; empty when the system gives none that fits.
std::string ShortPath(const RenameSystemCalls& calls, const char* path) {
    char buffer[MAX_PATH];
    const DWORD length = calls.getShortPathName(path, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return std::string(buffer, length);
}

// WinInit.Ini in the Windows directory; empty when the directory cannot be had.
std::string WinInitPath(const RenameSystemCalls& calls) {
    char buffer[MAX_PATH];
    const UINT length = calls.getWindowsDirectory(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return std::string(buffer, length) + kWinInitName;
}

// The size of the file under `path`; none when there is no file there.
std::optional<ULONGLONG> FileSize(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// True on the systems that carry out WinInit.Ini's [Rename] section when they start: those of
// the Windows 9x family. The NT family never reads it.
bool ReadsWinInit(const RenameSystemCalls& calls) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return calls.getVersionEx(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// An edit of WinInit.Ini's contents, `size` bytes at `text` followed by the room asked for:
// the contents' new length, or none to leave the file as it was.
using ContentsEdit = std::function<std::optional<size_t>(char* text, size_t size)>;

// Edits WinInit.Ini in place through one mapping, `room` bytes larger than the file.
// `disposition` OPEN_ALWAYS creates a missing file; OPEN_EXISTING leaves it missing. Returns 1
// with the edit made, or 0 with the file as it was.
BOOL EditWinInit(const RenameSystemCalls& calls, const std::string& path, DWORD disposition,
                 size_t room, const ContentsEdit& edit) {
    ui::FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      disposition,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return FALSE;
    // A read-only file is left alone. Its attribute is tested too: where the user may write
    // anyway, as root under Wine, opening it for writing does not fail.
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!::GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        return FALSE;
    DWORD high = 0;
    const DWORD oldSize = ::GetFileSize(file.get(), &high);
    // A file whose edited length would not fit in 32 bits is left alone (as is one whose
    // length cannot be had: INVALID_FILE_SIZE is too large).
    if (high != 0 || oldSize > MAXDWORD - room)
        return FALSE;

    DWORD size = oldSize;
    BOOL result = FALSE;
    {
        // Growing the mapping grows the file; the cut below gives back what was not used.
        ui::Handle mapping(calls.createFileMapping(file.get(), nullptr, PAGE_READWRITE, 0,
                                                   oldSize + static_cast<DWORD>(room), nullptr));
        if (mapping) {
            ui::MappedView view(calls.mapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
            if (view) {
                if (const std::optional<size_t> edited =
                        edit(static_cast<char*>(view.get()), oldSize)) {
                    size = static_cast<DWORD>(*edited);
                    result = TRUE;
                }
            }
        }
    }
    // The view and the mapping are gone, so the file may shrink.
    LONG sizeHigh = 0;
    ::SetFilePointer(file.get(), static_cast<LONG>(size), &sizeHigh, FILE_BEGIN);
    ::SetEndOfFile(file.get());
    return result;
}

// Reading the system's list of renames.
enum class ListRead {
    Read,    // its bytes as stored
    Missing, // no such list: no value, or one of another type
    Failed,
};

// Reads the system's list of renames, every byte as stored, into `bytes`.
ListRead ReadSystemList(const RenameSystemCalls& calls, HKEY key, std::string& bytes) {
    // Another program may lengthen it between asking its size and reading it.
    for (int attempt = 0; attempt < kListTries; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LONG status = calls.regQueryValueEx(key, kPendingRenames, nullptr, &type, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && type != REG_MULTI_SZ))
            return ListRead::Missing;
        if (status != ERROR_SUCCESS)
            return ListRead::Failed;
        bytes.assign(size, '\0');
        status = calls.regQueryValueEx(key, kPendingRenames, nullptr, &type,
                                       reinterpret_cast<BYTE*>(&bytes[0]), &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && type != REG_MULTI_SZ))
            return ListRead::Missing;
        if (status != ERROR_SUCCESS)
            return ListRead::Failed;
        bytes.resize(size);
        return ListRead::Read;
    }
    return ListRead::Failed;
}

// A path of the program's own (in the ANSI code page) as the system's list names it.
std::u16string ListPath(const char* path) {
    const std::wstring wide = ui::Widen(path);
    return std::u16string(wide.begin(), wide.end());
}

// Rewrites the system's list as `units` followed by `rest`, the bytes after the last whole
// unit; deletes it when it names nothing any more. True when that was done.
bool WriteSystemList(const RenameSystemCalls& calls, HKEY key, const std::u16string& units,
                     const std::string& rest) {
    if (rest.empty() && neutralise::HoldsNoNames(units))
        return ::RegDeleteValueW(key, kPendingRenames) == ERROR_SUCCESS;
    std::string bytes(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(char16_t));
    bytes += rest;
    return calls.regSetValueEx(key, kPendingRenames, 0, REG_MULTI_SZ,
                               reinterpret_cast<const BYTE*>(bytes.data()),
                               static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

// What became of a pending move that was to be taken back.
enum class TakeBack {
    Absent, // there was none
    Done,   // it was there and is no more
    Failed, // it is there still
};

// Takes every copy of the system's pending move of `source` onto `target` out of the list it
// keeps for its next start, leaving every other name in it as it was.
TakeBack TakeOutSystemMove(const RenameSystemCalls& calls, const char* source, const char* target) {
    HKEY opened = nullptr;
    const bool writable =
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        &opened) == ERROR_SUCCESS;
    // A list that may be read but not written still tells whether the move is there: then
    // the rename fails rather than add one on top.
    if (!writable && ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE,
                                     &opened) != ERROR_SUCCESS)
        return TakeBack::Absent;
    const ui::RegKey key(opened);
    const std::u16string from = ListPath(source);
    const std::u16string onto = ListPath(target);

    std::string bytes;
    ListRead read = ReadSystemList(calls, key.get(), bytes);
    for (int attempt = 0; attempt < kListTries; ++attempt) {
        if (read == ListRead::Missing)
            return TakeBack::Absent;
        // A list that cannot be read at first is taken for one without the move; once the
        // move was seen there, it is there still.
        if (read == ListRead::Failed)
            return attempt == 0 ? TakeBack::Absent : TakeBack::Failed;
        // The list in whole UTF-16 units; a last odd byte is kept as it is.
        const size_t whole = bytes.size() / sizeof(char16_t);
        std::u16string units(whole, u'\0');
        std::memcpy(&units[0], bytes.data(), whole * sizeof(char16_t));
        if (neutralise::TakeOutPendingMoves(units, from, onto) == 0)
            return TakeBack::Absent;
        if (!writable)
            return TakeBack::Failed;
        // Another program (an installer) may have added a rename since: then the edit starts
        // over from the list as it is now.
        std::string again;
        read = ReadSystemList(calls, key.get(), again);
        if (read == ListRead::Read && again == bytes) {
            return WriteSystemList(calls, key.get(), units, bytes.substr(whole * sizeof(char16_t)))
                       ? TakeBack::Done
                       : TakeBack::Failed;
        }
        bytes.swap(again);
    }
    return TakeBack::Failed;
}

// An earlier call's move of `target` onto `source` may still wait for the restart: the file is
// then still under `target`, the name that this call wants it to have. That move is taken back
// instead of adding this one, which would otherwise move the empty file that the fallback made
// under `source` over the file now, or, carried out after the older move at the restart, take
// the file away from the name the user chose last. The empty file goes too.
TakeBack TakeBackOppositeMove(const RenameSystemCalls& calls, bool readsWinInit, const char* source,
                              const char* target) {
    if (!FileSize(target))
        return TakeBack::Absent;
    if (!readsWinInit)
        return TakeOutSystemMove(calls, target, source);

    const std::string winInit = WinInitPath(calls);
    const std::string sourceShort = ShortPath(calls, source);
    const std::string targetShort = ShortPath(calls, target);
    if (winInit.empty() || sourceShort.empty() || targetShort.empty())
        return TakeBack::Absent;
    if (!EditWinInit(calls, winInit, OPEN_EXISTING, 0, [&](char* text, size_t size) {
            return neutralise::TakeOutRename(text, size, sourceShort, targetShort);
        }))
        return TakeBack::Absent;
    if (FileSize(source) == ULONGLONG{0})
        ::DeleteFileA(source);
    return TakeBack::Done;
}

} // namespace

BOOL MoveFileWithFallback(const char* source, const char* target) {
    return MoveFileWithFallback(source, target, RenameSystemCalls());
}

BOOL MoveFileWithFallback(const char* source, const char* target, const RenameSystemCalls& calls) {
    const bool readsWinInit = ReadsWinInit(calls);
    if (target) {
        switch (TakeBackOppositeMove(calls, readsWinInit, source, target)) {
        case TakeBack::Done:
            return TRUE;
        case TakeBack::Failed:
            // A move this way on top of the pending one would be carried out after it at the
            // restart and move the file back again, or move an empty file over it now.
            return FALSE;
        case TakeBack::Absent:
            break;
        }
        // An empty file never replaces one with contents: it can only be what the fallback
        // made for a move still pending, and the module would be lost.
        if (FileSize(source) == ULONGLONG{0} && FileSize(target).value_or(0) > 0)
            return FALSE;
    }
    if (const BOOL moved = calls.moveFileEx(source, target, MOVEFILE_REPLACE_EXISTING))
        return moved;
    if (const BOOL scheduled = calls.moveFileEx(source, target, MOVEFILE_DELAY_UNTIL_REBOOT))
        return scheduled;

    // The last resort: a line in WinInit.Ini, where the system reads it.
    if (!readsWinInit)
        return FALSE;
    const std::string winInit = WinInitPath(calls);
    if (winInit.empty())
        return FALSE;
    // A missing source is not made up: the line would move an empty file onto the target.
    const Opened opened = OpenForAMoment(source, OPEN_EXISTING);
    if (opened.presence == Presence::Missing)
        return FALSE;
    const std::string sourceShort = ShortPath(calls, source);
    if (sourceShort.empty())
        return FALSE;
    // An empty file made under the target's name so that it has a short path. It goes again
    // unless a line that moves the source onto it was written: left alone it could be taken
    // for the module by a later move in the other direction.
    std::string placeholder;
    auto removePlaceholder = base::ScopeExit([&] {
        if (!placeholder.empty())
            ::DeleteFileA(placeholder.c_str());
    });
    std::string targetShort = neutralise::kDeleteTarget;
    if (target) {
        if (OpenForAMoment(target, OPEN_ALWAYS).presence == Presence::Created)
            placeholder = target;
        targetShort = ShortPath(calls, target);
        if (targetShort.empty())
            return FALSE;
    }

    neutralise::RenameEdit edit = neutralise::RenameEdit::Inserted;
    const BOOL written =
        EditWinInit(calls, winInit, OPEN_ALWAYS, neutralise::RenameRoom(targetShort, sourceShort),
                    [&](char* text, size_t size) -> std::optional<size_t> {
                        const neutralise::RenameEditResult done =
                            neutralise::AddRename(text, size, targetShort, sourceShort);
                        edit = done.edit;
                        return done.size;
                    });
    if (!written)
        return FALSE;
    if (edit == neutralise::RenameEdit::Cancelled) {
        // The source is what an earlier move in the other direction made empty under its
        // target's name; with that move taken back it is no longer wanted.
        if (opened.empty)
            ::DeleteFileA(source);
    } else {
        removePlaceholder.Release();
    }
    return TRUE;
}
