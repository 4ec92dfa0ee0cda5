#include "detect/ListFiles.h"

#include "base/FileError.h"
#include "ui/Handles.h"

#include <windows.h>

#include <algorithm>
#include <optional>

namespace detect {

namespace {

// A list file's new content, written beside it; removed unless committed.
class PendingFile {
public:
    PendingFile(const std::string& path, const std::string& bytes)
        : path_(path), temporary_(path + ".new") {
        ui::FileHandle file(::CreateFileA(temporary_.c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            throw base::FileError(path_, ::GetLastError());
        created_ = true;
        size_t done = 0;
        while (done < bytes.size()) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
            DWORD written = 0;
            if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) ||
                written == 0)
                throw base::FileError(path_, written == 0 && ::GetLastError() == ERROR_SUCCESS
                                                 ? ERROR_DISK_FULL
                                                 : ::GetLastError());
            done += written;
        }
        if (!::FlushFileBuffers(file.get()))
            throw base::FileError(path_, ::GetLastError());
    }
    ~PendingFile() {
        if (created_)
            ::DeleteFileA(temporary_.c_str());
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Puts the new content in place of the old file.
    void Commit() {
        // The old file must be one the program could open for writing itself: a read-only
        // file, or one another program holds open, keeps its content. (A read-only file is
        // tested by its attribute too: where the user may write anyway, as root under Wine,
        // opening it would not fail.)
        const DWORD attributes = ::GetFileAttributesA(path_.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            throw base::FileError(path_, ERROR_ACCESS_DENIED);
        ui::FileHandle old(::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!old) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_FILE_NOT_FOUND)
                throw base::FileError(path_, error);
        }
        old.reset();
        if (!::MoveFileExA(temporary_.c_str(), path_.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            throw base::FileError(path_, ::GetLastError());
        created_ = false;
    }

private:
    std::string path_;
    std::string temporary_;
    bool created_ = false;
};

} // namespace

ListFileRead ReadListFile(const std::string& path) {
    ui::FileHandle file(::CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return {};
        return {ListFileRead::Unreadable, std::string()};
    }
    ListFileRead read{ListFileRead::Read, std::string()};
    char buffer[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr))
            return {ListFileRead::Unreadable, std::string()};
        if (got == 0)
            break;
        read.text.append(buffer, got);
    }
    return read;
}

LoadedLists LoadTrustMap(TrustMap& map, const std::string& executablePath) {
    AddTrustedNames(map, executablePath);
    LoadedLists loaded;
    loaded.paths = ListFilePathsFor(executablePath);
    const ListFileRead blocked = ReadListFile(loaded.paths.blocked);
    if (blocked.state == ListFileRead::Read)
        LoadListText(map, blocked.text, kBlocked);
    loaded.blockedUnreadable = blocked.state == ListFileRead::Unreadable;
    const ListFileRead allowed = ReadListFile(loaded.paths.allowed);
    if (allowed.state == ListFileRead::Read)
        LoadListText(map, allowed.text, kAllowed);
    loaded.allowedUnreadable = allowed.state == ListFileRead::Unreadable;
    return loaded;
}

void SaveListFiles(const TrustMap& map, const ListFilePaths& paths, ListFileChoice which) {
    const ListTexts texts = FormatListTexts(map);
    std::optional<PendingFile> blocked, allowed;
    if (which.blocked)
        blocked.emplace(paths.blocked, texts.blocked);
    if (which.allowed)
        allowed.emplace(paths.allowed, texts.allowed);
    if (blocked)
        blocked->Commit();
    if (allowed)
        allowed->Commit();
}

std::string UnreadableListText(const std::string& path) {
    return "Impossibile leggere il file " + path +
           " all'avvio: non viene sovrascritto. Chiudi il programma che lo tiene aperto e "
           "riavvia Snoopsweep.   ";
}

} // namespace detect
