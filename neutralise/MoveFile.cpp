#include "neutralise/MoveFile.h"

#include "neutralise/WinInitEdit.h"
#include "ui/FileError.h"
#include "ui/Handles.h"

#include <string>

namespace {

constexpr char kWinInitName[] = "\\WinInit.Ini";

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
        throw ui::FileError(path, error);
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

// An empty file made under the target's name so that it has a short path. It is removed
// again unless a line that moves the source onto it was written: left alone it could be
// taken for the module by a later move in the other direction.
class Placeholder {
public:
    Placeholder() = default;
    ~Placeholder() {
        if (!path_.empty())
            ::DeleteFileA(path_.c_str());
    }
    Placeholder(const Placeholder&) = delete;
    Placeholder& operator=(const Placeholder&) = delete;

    void Made(const char* path) { path_ = path; }
    void Keep() { path_.clear(); }

private:
    std::string path_;
};

// Edits WinInit.Ini in place through one mapping, sized for the largest result. Returns 1
// with the edit made, or 0 with the file as it was.
BOOL EditWinInit(const RenameSystemCalls& calls, const std::string& path, const std::string& target,
                 const std::string& source, neutralise::RenameEdit& edit) {
    ui::FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_ALWAYS,
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
    const DWORD room = static_cast<DWORD>(neutralise::RenameRoom(target, source));
    // A file whose edited length would not fit in 32 bits is left alone (as is one whose
    // length cannot be had: INVALID_FILE_SIZE is too large).
    if (high != 0 || oldSize > MAXDWORD - room)
        return FALSE;

    DWORD size = oldSize;
    BOOL result = FALSE;
    {
        // Growing the mapping grows the file; the cut below gives back what was not used.
        ui::Handle mapping(calls.createFileMapping(file.get(), nullptr, PAGE_READWRITE, 0,
                                                   oldSize + room, nullptr));
        if (mapping) {
            ui::MappedView view(calls.mapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
            if (view) {
                const neutralise::RenameEditResult done =
                    neutralise::AddRename(static_cast<char*>(view.get()), oldSize, target, source);
                edit = done.edit;
                size = static_cast<DWORD>(done.size);
                result = TRUE;
            }
        }
    }
    // The view and the mapping are gone, so the file may shrink.
    LONG sizeHigh = 0;
    ::SetFilePointer(file.get(), static_cast<LONG>(size), &sizeHigh, FILE_BEGIN);
    ::SetEndOfFile(file.get());
    return result;
}

} // namespace

BOOL MoveFileWithFallback(const char* source, const char* target) {
    return MoveFileWithFallback(source, target, RenameSystemCalls());
}

BOOL MoveFileWithFallback(const char* source, const char* target, const RenameSystemCalls& calls) {
    if (const BOOL moved = calls.moveFileEx(source, target, MOVEFILE_REPLACE_EXISTING))
        return moved;
    if (const BOOL scheduled = calls.moveFileEx(source, target, MOVEFILE_DELAY_UNTIL_REBOOT))
        return scheduled;

    // The last resort: a line in WinInit.Ini.
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
    Placeholder placeholder;
    std::string targetShort = neutralise::kDeleteTarget;
    if (target) {
        if (OpenForAMoment(target, OPEN_ALWAYS).presence == Presence::Created)
            placeholder.Made(target);
        targetShort = ShortPath(calls, target);
        if (targetShort.empty())
            return FALSE;
    }

    neutralise::RenameEdit edit = neutralise::RenameEdit::Inserted;
    if (!EditWinInit(calls, winInit, targetShort, sourceShort, edit))
        return FALSE;
    if (edit == neutralise::RenameEdit::Cancelled) {
        // The source is what an earlier move in the other direction made empty under its
        // target's name; with that move taken back it is no longer wanted.
        if (opened.empty)
            ::DeleteFileA(source);
    } else {
        placeholder.Keep();
    }
    return TRUE;
}
