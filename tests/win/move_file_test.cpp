// The rename with its fallbacks, on real files. The fallback's tests make both system moves
// fail, as on a system that offers neither, and show it a Windows directory of their own; the
// restart tests use the prefix's own and run only from tests/win/reboot_test.sh.
#include "neutralise/MoveFile.h"
#include "tests/unit/other_renames.h"
#include "tests/support/process.h"
#include "base/FileError.h"
#include "ui/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;
using namespace testing_support;

const std::string kHeader = "[Rename]\r\n";

// ---- Stand-ins for the system's calls ----

std::vector<std::pair<bool, DWORD>> g_moves; // target given, flags: one per move asked for
std::string g_windowsDirectory;

BOOL WINAPI FailingMove(LPCSTR, LPCSTR target, DWORD flags) {
    g_moves.emplace_back(target != nullptr, flags);
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
UINT WINAPI TestWindowsDirectory(LPSTR buffer, UINT size) {
    ::lstrcpynA(buffer, g_windowsDirectory.c_str(), static_cast<int>(size));
    return static_cast<UINT>(g_windowsDirectory.size());
}
UINT WINAPI NoWindowsDirectory(LPSTR, UINT) {
    return 0;
}
// None for the target, which the fallback has then made already.
DWORD WINAPI NoShortPathForTarget(LPCSTR path, LPSTR buffer, DWORD size) {
    const std::string name = path;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dl_") == 0)
        return 0;
    return ::GetShortPathNameA(path, buffer, size);
}
HANDLE WINAPI NoMapping(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCSTR) {
    return nullptr;
}
LPVOID WINAPI NoView(HANDLE, DWORD, DWORD, DWORD, SIZE_T) {
    return nullptr;
}
// Only the move at the next restart works, as for a file in use.
BOOL WINAPI OnlyAtRestart(LPCSTR source, LPCSTR target, DWORD flags) {
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT)
        return ::MoveFileExA(source, target, flags);
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
}
// A system of the Windows 9x family, which reads WinInit.Ini when it starts.
BOOL WINAPI Windows9x(LPOSVERSIONINFOA version) {
    version->dwMajorVersion = 4;
    version->dwMinorVersion = 10;
    version->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    return TRUE;
}

// ---- Names, files and processes ----

std::string Short(const std::string& path) {
    char buffer[MAX_PATH] = {};
    const DWORD length = ::GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
    EXPECT_GT(length, 0u) << path;
    return buffer;
}

// The line that moves `source` onto `target`, both named short.
std::string Line(const std::string& target, const std::string& source) {
    return Short(target) + "=" + Short(source) + "\r\n";
}

std::string SystemWinInit() {
    char buffer[MAX_PATH] = {};
    ::GetWindowsDirectoryA(buffer, MAX_PATH);
    return std::string(buffer) + "\\WinInit.Ini";
}

// A file held open without sharing by another process while the object lives.
class HeldFile {
public:
    explicit HeldFile(const std::string& path) {
        EXPECT_TRUE(holder_.Start(OwnDirectory() + "hold_file.exe", "\"" + path + "\""));
        EXPECT_TRUE(WaitFor([&] {
            ui::FileHandle probe(::CreateFileA(path.c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
            return !probe && ::GetLastError() == ERROR_SHARING_VIOLATION;
        })) << path;
    }
    ~HeldFile() { holder_.Terminate(); }

private:
    ChildProcess holder_;
};

class RenameFile : public ::testing::Test {
protected:
    void SetUp() override {
        g_moves.clear();
        g_windowsDirectory = windows_.Path().substr(0, windows_.Path().size() - 1);
        fallback_.moveFileEx = FailingMove;
        fallback_.getWindowsDirectory = TestWindowsDirectory;
        fallback_.getVersionEx = Windows9x;
    }

    std::string Path(const std::string& name) const { return folder_.Path() + name; }
    std::string Make(const std::string& name, const std::string& bytes) const {
        EXPECT_TRUE(WriteFileBytes(Path(name), bytes));
        return Path(name);
    }
    std::vector<std::string> Files() const { return FolderListing(folder_.Path()); }
    BOOL Fallback(const std::string& source, const std::string& target) const {
        return MoveFileWithFallback(source.c_str(), target.c_str(), fallback_);
    }

    ScratchFolder folder_{"snoopsweep rename"}; // long names: short paths differ
    ScratchFolder windows_{"snoopsweep windows"};
    const std::string winInit_ = windows_.Path() + "WinInit.Ini";
    RenameSystemCalls fallback_;
};

TEST_F(RenameFile, AtOnceTouchesNothingElse) {
    const std::string source = Make("spy hook.dll", "module");
    const std::string target = Make("spy hook.dl_", "older");
    const bool hadWinInit = FileExists(SystemWinInit());
    const std::string winInit = ReadFileBytes(SystemWinInit());

    EXPECT_NE(MoveFileWithFallback(source.c_str(), target.c_str()), 0);
    EXPECT_EQ(Files(), std::vector<std::string>{"spy hook.dl_"});
    EXPECT_EQ(ReadFileBytes(target), "module");
    EXPECT_EQ(FileExists(SystemWinInit()), hadWinInit);
    EXPECT_EQ(ReadFileBytes(SystemWinInit()), winInit);
}

TEST_F(RenameFile, FallbackWritesShortLinesNewestFirst) {
    const std::string source = Make("spy hook.dll", "module");
    const std::string target = Path("spy hook.dl_");
    ASSERT_EQ(Fallback(source, target), 1);
    const std::vector<std::pair<bool, DWORD>> moves = {{true, MOVEFILE_REPLACE_EXISTING},
                                                       {true, MOVEFILE_DELAY_UNTIL_REBOOT}};
    EXPECT_EQ(g_moves, moves);
    // The target is made empty so that it has a short name.
    const std::string disable = Line(target, source);
    EXPECT_EQ(disable.find(' '), std::string::npos) << disable;
    EXPECT_EQ(ReadFileBytes(winInit_), kHeader + disable);
    EXPECT_EQ(ReadFileBytes(source), "module");
    EXPECT_EQ(ReadFileBytes(target), "");

    // A deletion: no target for the system, "NUL" for the line, which goes first.
    const std::string gone = Make("gone file.tmp", "x");
    g_moves.clear();
    ASSERT_EQ(MoveFileWithFallback(gone.c_str(), nullptr, fallback_), 1);
    const std::vector<std::pair<bool, DWORD>> deletes = {{false, MOVEFILE_REPLACE_EXISTING},
                                                         {false, MOVEFILE_DELAY_UNTIL_REBOOT}};
    EXPECT_EQ(g_moves, deletes);
    EXPECT_EQ(ReadFileBytes(winInit_), kHeader + "NUL=" + Short(gone) + "\r\n" + disable);
}

TEST_F(RenameFile, DisableThenAllowLeavesTheModuleUnderItsName) {
    const std::string old = "[boot]\r\nshell=x\r\n" + kHeader + "C:\\A.NEW=C:\\A.OLD\r\n";
    ASSERT_TRUE(WriteFileBytes(winInit_, old));
    const std::string module = Make("spy hook.dll", "module");
    const std::string disabled = Path("spy hook.dl_");
    ASSERT_EQ(Fallback(module, disabled), 1);
    ASSERT_EQ(ReadFileBytes(winInit_), "[boot]\r\nshell=x\r\n" + kHeader + Line(disabled, module) +
                                           "C:\\A.NEW=C:\\A.OLD\r\n");
    // The Allow takes the Disable's line out, and the empty file made for it.
    EXPECT_EQ(Fallback(disabled, module), 1);
    EXPECT_EQ(ReadFileBytes(winInit_), old);
    EXPECT_EQ(Files(), std::vector<std::string>{"spy hook.dll"});
    EXPECT_EQ(ReadFileBytes(module), "module");
}

TEST_F(RenameFile, AMoveBackTakesThePendingMoveBackRatherThanMovingTheEmptyFile) {
    // Disable through WinInit.Ini, then Allow once the module is free to move at once.
    const std::string module = Make("spy hook.dll", "module");
    const std::string disabled = Path("spy hook.dl_");
    ASSERT_EQ(Fallback(module, disabled), 1);
    RenameSystemCalls now = fallback_;
    now.moveFileEx = ::MoveFileExA;
    EXPECT_EQ(MoveFileWithFallback(disabled.c_str(), module.c_str(), now), 1);
    EXPECT_EQ(ReadFileBytes(winInit_), kHeader);
    EXPECT_EQ(Files(), std::vector<std::string>{"spy hook.dll"});
    EXPECT_EQ(ReadFileBytes(module), "module");

    // With no pending move to take back, an empty file still never goes over the module.
    Make("spy hook.dl_", "");
    EXPECT_EQ(MoveFileWithFallback(disabled.c_str(), module.c_str(), now), 0);
    EXPECT_EQ(ReadFileBytes(module), "module");
    EXPECT_EQ(ReadFileBytes(winInit_), kHeader);
}

TEST_F(RenameFile, TheNtFamilyNeverWritesWinInit) {
    // It never reads WinInit.Ini: a line there would be a rename that never happens.
    const std::string source = Make("spy hook.dll", "module");
    RenameSystemCalls nt = fallback_;
    nt.getVersionEx = ::GetVersionExA;
    EXPECT_EQ(MoveFileWithFallback(source.c_str(), Path("spy hook.dl_").c_str(), nt), 0);
    EXPECT_EQ(g_moves.size(), 2u);
    EXPECT_FALSE(FileExists(winInit_));
    EXPECT_EQ(Files(), std::vector<std::string>{"spy hook.dll"});
}

TEST_F(RenameFile, NoSourceShortPathOrWindowsDirectoryWritesNothing) {
    EXPECT_EQ(Fallback(Path("absent.dll"), Path("absent.dl_")), 0);
    EXPECT_EQ(Files(), std::vector<std::string>{});

    const std::string source = Make("spy hook.dll", "module");
    RenameSystemCalls noShortPath = fallback_;
    noShortPath.getShortPathName = NoShortPathForTarget;
    EXPECT_EQ(MoveFileWithFallback(source.c_str(), Path("spy hook.dl_").c_str(), noShortPath), 0);
    RenameSystemCalls noDirectory = fallback_;
    noDirectory.getWindowsDirectory = NoWindowsDirectory;
    EXPECT_EQ(MoveFileWithFallback(source.c_str(), Path("spy hook.dl_").c_str(), noDirectory), 0);

    // No empty file is left under the target's name, and WinInit.Ini was never made.
    EXPECT_EQ(Files(), std::vector<std::string>{"spy hook.dll"});
    EXPECT_FALSE(FileExists(winInit_));
}

TEST_F(RenameFile, FilesHeldByAnotherProcess) {
    const std::string source = Make("spy hook.dll", "module");
    const std::string target = Make("spy hook.dl_", "");
    for (const std::string& held : {source, target}) {
        HeldFile holder(held);
        try {
            Fallback(source, target);
            ADD_FAILURE() << "no file error for " << held;
        } catch (const base::FileError& error) {
            EXPECT_EQ(error.FileName(), held);
            EXPECT_EQ(error.SystemError(), static_cast<unsigned long>(ERROR_SHARING_VIOLATION));
        }
    }
    EXPECT_FALSE(FileExists(winInit_));
    // WinInit.Ini held: see BadWinInitFiles.
}

TEST_F(RenameFile, NoMappingOrViewLeavesWinInitAsItWas) {
    const std::string old = "[boot]\r\nshell=x\r\n" + kHeader + "C:\\A.NEW=C:\\A.OLD\r\n";
    ASSERT_TRUE(WriteFileBytes(winInit_, old));
    const std::string source = Make("spy hook.dll", "module");
    RenameSystemCalls noMapping = fallback_;
    noMapping.createFileMapping = NoMapping;
    // Here the mapping is made, and grows the file, but no view of it.
    RenameSystemCalls noView = fallback_;
    noView.mapViewOfFile = NoView;
    for (const RenameSystemCalls* calls : {&noMapping, &noView}) {
        EXPECT_EQ(MoveFileWithFallback(source.c_str(), Path("spy hook.dl_").c_str(), *calls), 0);
        EXPECT_EQ(ReadFileBytes(winInit_), old);
        EXPECT_EQ(Files(), std::vector<std::string>{"spy hook.dll"});
    }
}

// ---- The system's list of renames, which holds other programs' names too ----

const wchar_t kPendingRenamesW[] = L"PendingFileRenameOperations";

std::u16string Utf16(const std::string& path) {
    const std::wstring wide = ui::Widen(path);
    return std::u16string(wide.begin(), wide.end());
}

std::string Bytes(const std::u16string& units) {
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
}

// The move of `source` onto `target` as the system's list holds it.
std::u16string ListedMove(const std::string& source, const std::string& target) {
    return u"\\??\\" + Utf16(source) + u"\0"s + u"\\??\\" + Utf16(target) + u"\0"s;
}

ui::RegKey SessionManager() {
    HKEY key = nullptr;
    ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    return ui::RegKey(key);
}

// The list's bytes as stored; none when there is no list.
std::optional<std::string> ListBytes() {
    const ui::RegKey key = SessionManager();
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), kPendingRenamesW, nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::string bytes(size, '\0');
    if (::RegQueryValueExW(key.get(), kPendingRenamesW, nullptr, nullptr,
                           reinterpret_cast<BYTE*>(&bytes[0]), &size) != ERROR_SUCCESS)
        return std::nullopt;
    bytes.resize(size);
    return bytes;
}

// Stores `bytes` as the list, as another program would; none deletes it.
void SetList(const std::optional<std::string>& bytes) {
    const ui::RegKey key = SessionManager();
    if (!bytes) {
        ::RegDeleteValueW(key.get(), kPendingRenamesW);
        return;
    }
    EXPECT_EQ(::RegSetValueExW(key.get(), kPendingRenamesW, 0, REG_MULTI_SZ,
                               reinterpret_cast<const BYTE*>(bytes->data()),
                               static_cast<DWORD>(bytes->size())),
              ERROR_SUCCESS);
}

// Lists that another program stores, one as each of the list's sizes is asked from the second
// on: it keeps changing the list while the rename edits it.
std::vector<std::string> g_listChanges;
size_t g_sizeQueries = 0;
LONG WINAPI ChangedListQuery(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
    if (!data && ++g_sizeQueries >= 2 && g_sizeQueries - 2 < g_listChanges.size())
        SetList(g_listChanges[g_sizeQueries - 2]);
    return ::RegQueryValueExW(key, name, reserved, type, data, size);
}
LONG WINAPI FailingListWrite(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD) {
    return ERROR_ACCESS_DENIED;
}

// The tests write the shared prefix's list: it is put back as it was.
class SystemList : public RenameFile {
protected:
    void SetUp() override {
        RenameFile::SetUp();
        g_listChanges.clear();
        g_sizeQueries = 0;
    }
    void TearDown() override { SetList(saved_); }

    const std::optional<std::string> saved_ = ListBytes();
    const std::string module_ = Make("spy hook.dll", "module");
    const std::string disabled_ = Path("spy hook.dl_");
    const std::u16string own_ = ListedMove(module_, disabled_);
};

TEST_F(SystemList, DisableThenAllowLeavesOtherProgramsRenamesByteForByte) {
    // An older Disable of the module is still in the list too.
    const std::string names = Bytes(kPolish + own_ + kCyrillicDeletion + kChinese);
    SetList(names + Bytes(kEnd));
    {
        // The module is in use: its Disable waits for the restart.
        HeldFile holder(module_);
        ASSERT_NE(MoveFileWithFallback(module_.c_str(), disabled_.c_str()), 0);
        const std::string disabling = ListBytes().value_or("");
        EXPECT_EQ(disabling.compare(0, names.size(), names), 0);
        EXPECT_GT(disabling.size(), names.size() + Bytes(kEnd).size());
        EXPECT_NE(MoveFileWithFallback(disabled_.c_str(), module_.c_str()), 0);
    }
    EXPECT_EQ(ListBytes(), Bytes(kPolish + kCyrillicDeletion + kChinese + kEnd));
    EXPECT_EQ(Files(), std::vector<std::string>{"spy hook.dll"});
    EXPECT_EQ(ReadFileBytes(module_), "module");
}

TEST_F(SystemList, AllowKeepsBytesItDoesNotUnderstandAndDeletesAnEmptyList) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        // No final NUL, and an odd byte after the last whole unit.
        {Bytes(kChinese + own_ + kPolish + u"\\??\\Z:\\a"s) + "\x07",
         Bytes(kChinese + kPolish + u"\\??\\Z:\\a"s) + "\x07"},
        {Bytes(own_ + own_ + kEnd), std::nullopt},
    };
    for (const auto& [before, after] : cases) {
        SetList(before);
        EXPECT_EQ(MoveFileWithFallback(disabled_.c_str(), module_.c_str()), 1);
        EXPECT_EQ(ListBytes(), after);
    }
}

TEST_F(SystemList, AMoveThatCannotBeTakenBackFailsTheRename) {
    const std::string before = Bytes(kPolish + own_ + kEnd);
    RenameSystemCalls calls;
    calls.moveFileEx = FailingMove;

    // Another program adds a rename between the list's reading and its writing.
    SetList(before);
    g_listChanges = {Bytes(kPolish + own_ + kCyrillicDeletion + kEnd)};
    calls.regQueryValueEx = ChangedListQuery;
    EXPECT_EQ(MoveFileWithFallback(disabled_.c_str(), module_.c_str(), calls), 1);
    EXPECT_EQ(ListBytes(), Bytes(kPolish + kCyrillicDeletion + kEnd));

    // It never stops changing it.
    SetList(before);
    g_sizeQueries = 0;
    g_listChanges.assign(10, Bytes(kChinese + own_ + kEnd));
    for (size_t i = 1; i < g_listChanges.size(); i += 2)
        g_listChanges[i] = before;
    EXPECT_EQ(MoveFileWithFallback(disabled_.c_str(), module_.c_str(), calls), 0);
    EXPECT_NE(ListBytes().value_or("").find(Bytes(own_)), std::string::npos);

    // The list cannot be written.
    SetList(before);
    calls = RenameSystemCalls();
    calls.moveFileEx = FailingMove;
    calls.regSetValueEx = FailingListWrite;
    EXPECT_EQ(MoveFileWithFallback(disabled_.c_str(), module_.c_str(), calls), 0);
    EXPECT_EQ(ListBytes(), before);

    // No move the other way was tried on top of the pending one.
    EXPECT_TRUE(g_moves.empty());
    EXPECT_EQ(ReadFileBytes(module_), "module");
}

// ---- WinInit.Ini as anyone may have left it ----

enum class Condition { None, ReadOnly, HeldOpen, AFolder };
enum class Outcome { Untouched, Inserted, Appended };

struct WinInitCase {
    const char* name;
    std::string head; // the file before is head + tail
    std::string tail; // Inserted: the new line goes between head and tail
    Outcome outcome;
    Condition condition = Condition::None;
};

// About 50 MB of numbered lines: no two alike, so that bytes moved to the wrong place show.
std::string LargeText() {
    std::string text;
    text.reserve(50u << 20);
    char line[64];
    for (int i = 0; text.size() < (50u << 20); ++i) {
        const int length = std::snprintf(line, sizeof(line), "[Section%07d]\r\nkey=%07d\r\n", i, i);
        text.append(line, static_cast<size_t>(length));
    }
    return text;
}

std::vector<WinInitCase> WinInitCases() {
    const std::string entry = "C:\\A.NEW=C:\\A.OLD\r\n";
    const std::string large = LargeText();
    return {
        {"NUL bytes before the header", std::string("[boot]\r\n\0\r\n", 11) + kHeader + entry, "",
         Outcome::Appended},
        {"NUL bytes after the header", kHeader,
         entry + std::string("\0\0junk\r\n", 8) + kHeader + std::string(1, '\0'),
         Outcome::Inserted},
        {"50 MB, the header near the end", large + kHeader, entry, Outcome::Inserted},
        {"50 MB, no header", large, "", Outcome::Appended},
        {"read-only", "[boot]\r\n" + kHeader + entry, "", Outcome::Untouched, Condition::ReadOnly},
        {"held open by another process", kHeader, "", Outcome::Untouched, Condition::HeldOpen},
        {"a folder in its place", "", "", Outcome::Untouched, Condition::AFolder},
        {"no line break at the end", "[boot]\r\nshell=x", "", Outcome::Appended},
        {"no line break after the header's last line", kHeader, "C:\\A.NEW=C:\\A.OLD",
         Outcome::Inserted},
        {"a lower-case header", "[rename]\r\n" + entry, "", Outcome::Appended},
        {"a header ended by LF alone", "[Rename]\nC:\\A.NEW=C:\\A.OLD\n", "", Outcome::Appended},
        {"x[Rename] at the end of a line", "[boot]\r\nshell=x" + kHeader, entry, Outcome::Inserted},
        {"empty", "", "", Outcome::Appended},
    };
}

// Compares `bytes` with `parts` laid end to end, region by region.
::testing::AssertionResult Consists(const std::string& bytes,
                                    const std::vector<const std::string*>& parts) {
    size_t at = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = *parts[i];
        if (bytes.compare(at, part.size(), part) != 0) {
            const size_t end = std::min(bytes.size(), at + part.size());
            const size_t first =
                std::mismatch(bytes.begin() + at, bytes.begin() + end, part.begin()).first -
                bytes.begin();
            return ::testing::AssertionFailure()
                   << "part " << i << " (" << part.size() << " bytes from offset " << at
                   << ") differs at offset " << first;
        }
        at += part.size();
    }
    if (bytes.size() != at)
        return ::testing::AssertionFailure() << bytes.size() << " bytes, expected " << at;
    return ::testing::AssertionSuccess();
}

TEST_F(RenameFile, BadWinInitFiles) {
    const std::string source = Make("spy hook.dll", "module");
    const std::string target = Path("spy hook.dl_");
    for (const WinInitCase& c : WinInitCases()) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.condition == Condition::AFolder
                        ? ::CreateDirectoryA(winInit_.c_str(), nullptr) != FALSE
                        : WriteFileBytes(winInit_, c.head + c.tail));
        if (c.condition == Condition::ReadOnly) {
            ASSERT_TRUE(::SetFileAttributesA(winInit_.c_str(), FILE_ATTRIBUTE_READONLY));
        }

        BOOL result;
        if (c.condition == Condition::HeldOpen) {
            HeldFile holder(winInit_);
            result = Fallback(source, target);
        } else {
            result = Fallback(source, target);
        }

        const DWORD attributes = ::GetFileAttributesA(winInit_.c_str());
        const std::string after = ReadFileBytes(winInit_);
        if (c.outcome == Outcome::Untouched) {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(Consists(after, {&c.head, &c.tail}));
            // No empty file is left under the target's name.
            EXPECT_EQ(Files(), std::vector<std::string>{"spy hook.dll"});
        } else {
            EXPECT_EQ(result, 1);
            const std::string line = Line(target, source);
            EXPECT_TRUE(c.outcome == Outcome::Inserted
                            ? Consists(after, {&c.head, &line, &c.tail})
                            : Consists(after, {&c.head, &c.tail, &kHeader, &line}));
            EXPECT_EQ(ReadFileBytes(target), "");
        }
        EXPECT_EQ(ReadFileBytes(source), "module");
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY,
                  c.condition == Condition::ReadOnly ? FILE_ATTRIBUTE_READONLY : 0u);
        EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY,
                  c.condition == Condition::AFolder ? FILE_ATTRIBUTE_DIRECTORY : 0u);

        ::SetFileAttributesA(winInit_.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(winInit_.c_str());
        ::RemoveDirectoryA(winInit_.c_str());
        ::DeleteFileA(target.c_str());
    }
}

TEST_F(RenameFile, AWinInitOfFourGigabytesIsLeftAlone) {
    // Its length does not fit the 32 bits the edit works in. (Sparse: it takes no disk space.)
    LARGE_INTEGER length;
    length.QuadPart = 1LL << 32;
    {
        ui::FileHandle file(
            ::CreateFileA(winInit_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(::SetFilePointerEx(file.get(), length, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(file.get()));
    }
    const std::string source = Make("spy hook.dll", "module");
    EXPECT_EQ(Fallback(source, Path("spy hook.dl_")), 0);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(::GetFileAttributesExA(winInit_.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeHigh, 1u);
    EXPECT_EQ(data.nFileSizeLow, 0u);
    EXPECT_EQ(Files(), std::vector<std::string>{"spy hook.dll"});
}

// ---- Across a restart: run by tests/win/reboot_test.sh in a Wine prefix of its own, the
// first suite before `wineboot -r` and the second after it. Elsewhere they are skipped: they
// write the prefix's WinInit.Ini and pending renames, which any restart would carry out. ----

// The folder the script made for the files, with its trailing backslash; empty elsewhere.
std::string RestartFiles() {
    char buffer[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA("SNOOPSWEEP_RESTART_FILES", buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? buffer : "";
}

// The system's pending renames, lower-cased, one name a line.
std::string PendingRenameText() {
    std::string text;
    for (const std::string& name : PendingRenames())
        text += name + "\n";
    for (char& c : text)
        c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
    return text;
}

class RestartTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (files_.empty())
            GTEST_SKIP() << "run by tests/win/reboot_test.sh only";
    }
    const std::string files_ = RestartFiles();
};

class BeforeRestart : public RestartTest {
protected:
    static void SetUpTestSuite() {
        if (RestartFiles().empty())
            return;
        // Nothing left over from an earlier run that stopped short of its restart.
        ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames);
        ::DeleteFileA(SystemWinInit().c_str());
    }
};

using AfterRestart = RestartTest;

TEST_F(BeforeRestart, TheSystemSchedulesTheMoveOfAHeldFile) {
    const std::string source = files_ + "held module.dll";
    const std::string target = files_ + "held module.dl_";
    ASSERT_TRUE(WriteFileBytes(source, "held"));
    {
        HeldFile holder(source);
        EXPECT_NE(MoveFileWithFallback(source.c_str(), target.c_str()), 0);
        EXPECT_FALSE(FileExists(target));
    }
    EXPECT_NE(PendingRenameText().find(Lower(source)), std::string::npos) << PendingRenameText();
    EXPECT_EQ(ReadFileBytes(source), "held");
    EXPECT_FALSE(FileExists(SystemWinInit()));
}

TEST_F(BeforeRestart, TheFallbackWritesTheSystemsWinInit) {
    const std::string winInit = SystemWinInit();
    const std::string old = "[Other]\r\nkey=value\r\n";
    ASSERT_TRUE(WriteFileBytes(winInit, old));
    RenameSystemCalls fallback;
    fallback.moveFileEx = FailingMove;
    fallback.getVersionEx = Windows9x;
    const auto move = [&](const std::string& source, const std::string& target) {
        return MoveFileWithFallback(source.c_str(), target.empty() ? nullptr : target.c_str(),
                                    fallback);
    };

    const std::string spy = files_ + "spy module.dll", spyDisabled = files_ + "spy module.dl_";
    ASSERT_TRUE(WriteFileBytes(spy, "spy"));
    ASSERT_EQ(move(spy, spyDisabled), 1);
    const std::string disable = Line(spyDisabled, spy);
    EXPECT_EQ(ReadFileBytes(winInit), old + kHeader + disable);

    const std::string gone = files_ + "gone file.tmp";
    ASSERT_TRUE(WriteFileBytes(gone, "gone"));
    ASSERT_EQ(move(gone, ""), 1);
    const std::string remove = "NUL=" + Short(gone) + "\r\n";
    EXPECT_EQ(ReadFileBytes(winInit), old + kHeader + remove + disable);

    // Disable, then Allow before the restart.
    const std::string kept = files_ + "kept module.dll", keptDisabled = files_ + "kept module.dl_";
    ASSERT_TRUE(WriteFileBytes(kept, "kept"));
    ASSERT_EQ(move(kept, keptDisabled), 1);
    EXPECT_EQ(ReadFileBytes(winInit), old + kHeader + Line(keptDisabled, kept) + remove + disable);
    ASSERT_EQ(move(keptDisabled, kept), 1);
    EXPECT_EQ(ReadFileBytes(winInit), old + kHeader + remove + disable);
}

// Disable and Allow of one module, each through the way it is given, in every order in which
// a way that only records the move could lose the module or undo the user's last choice.
enum class Way { Now, AtRestart, WinInit };
struct Step {
    bool disable;
    Way way;
};
struct Order {
    const char* name;
    bool windows9x; // the system's family, for every step
    std::vector<Step> steps;
};

std::vector<Order> Orders() {
    const bool D = true, A = false;
    return {
        {"disable-winini-allow-now", true, {{D, Way::WinInit}, {A, Way::Now}}},
        {"disable-now-allow-winini-disable-now",
         true,
         {{D, Way::Now}, {A, Way::WinInit}, {D, Way::Now}}},
        {"disable-winini-allow-now-disable-winini",
         true,
         {{D, Way::WinInit}, {A, Way::Now}, {D, Way::WinInit}}},
        {"disable-restart-allow-now", false, {{D, Way::AtRestart}, {A, Way::Now}}},
        {"disable-restart-allow-now-disable-now",
         false,
         {{D, Way::AtRestart}, {A, Way::Now}, {D, Way::Now}}},
        {"disable-now-allow-restart-disable-now",
         false,
         {{D, Way::Now}, {A, Way::AtRestart}, {D, Way::Now}}},
    };
}

std::string OrderFolder(const std::string& files, const Order& order) {
    return files + order.name + "\\";
}

TEST_F(BeforeRestart, DisableAndAllowInEveryOrder) {
    for (const Order& order : Orders()) {
        SCOPED_TRACE(order.name);
        const std::string folder = OrderFolder(files_, order);
        ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
        const std::string module = folder + "spy module.dll";
        const std::string disabled = folder + "spy module.dl_";
        ASSERT_TRUE(WriteFileBytes(module, order.name));
        for (const Step& step : order.steps) {
            RenameSystemCalls calls;
            if (order.windows9x)
                calls.getVersionEx = Windows9x;
            if (step.way == Way::AtRestart)
                calls.moveFileEx = OnlyAtRestart;
            else if (step.way == Way::WinInit)
                calls.moveFileEx = FailingMove;
            const std::string& source = step.disable ? module : disabled;
            const std::string& target = step.disable ? disabled : module;
            EXPECT_NE(MoveFileWithFallback(source.c_str(), target.c_str(), calls), 0);
        }
    }
}

// Another program's rename in a folder named outside the ANSI code page, pending across the
// program's Disable and Allow of a module in use.
const std::string kOtherProgram = "other program";
const wchar_t kPolishFolder[] = L"\\\u0141ukasz\\";

std::string ReadWideNamedFile(const std::wstring& path) {
    ui::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    char buffer[64];
    DWORD got = 0;
    if (!file || !::ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr))
        return "";
    return std::string(buffer, got);
}

TEST_F(BeforeRestart, AnotherProgramsRenameOutsideTheCodePageOutlivesDisableAndAllow) {
    const std::string folder = files_ + kOtherProgram + "\\";
    const std::wstring other = ui::Widen(files_ + kOtherProgram) + kPolishFolder;
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(other.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + "app.tmp", "new app"));
    ASSERT_TRUE(
        ::MoveFileW(ui::Widen(folder + "app.tmp").c_str(), (other + L"app.dll.new").c_str()));
    ASSERT_TRUE(::MoveFileExW((other + L"app.dll.new").c_str(), (other + L"app.dll").c_str(),
                              MOVEFILE_DELAY_UNTIL_REBOOT));
    const std::optional<std::string> before = ListBytes();

    const std::string module = folder + "spy module.dll", disabled = folder + "spy module.dl_";
    ASSERT_TRUE(WriteFileBytes(module, "own"));
    {
        HeldFile holder(module);
        EXPECT_NE(MoveFileWithFallback(module.c_str(), disabled.c_str()), 0);
        EXPECT_NE(ListBytes(), before);
        EXPECT_NE(MoveFileWithFallback(disabled.c_str(), module.c_str()), 0);
    }
    EXPECT_EQ(ListBytes(), before);
}

TEST_F(AfterRestart, AnotherProgramsRenameWasCarriedOutAndTheModuleKeptItsName) {
    const std::string folder = files_ + kOtherProgram + "\\";
    const std::wstring other = ui::Widen(files_ + kOtherProgram) + kPolishFolder;
    EXPECT_EQ(ReadWideNamedFile(other + L"app.dll"), "new app");
    EXPECT_EQ(::GetFileAttributesW((other + L"app.dll.new").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadFileBytes(folder + "spy module.dll"), "own");
    EXPECT_FALSE(FileExists(folder + "spy module.dl_"));
}

TEST_F(AfterRestart, EveryMoveWasCarriedOut) {
    EXPECT_EQ(ReadFileBytes(files_ + "held module.dl_"), "held");
    EXPECT_EQ(ReadFileBytes(files_ + "spy module.dl_"), "spy");
    EXPECT_EQ(ReadFileBytes(files_ + "kept module.dll"), "kept");
    std::vector<std::string> left = {"held module.dl_", "kept module.dll", "spy module.dl_",
                                     kOtherProgram};
    for (const Order& order : Orders()) {
        SCOPED_TRACE(order.name);
        left.push_back(order.name);
        // The module whole, under the name the last step chose, and nothing else.
        const std::string name = order.steps.back().disable ? "spy module.dl_" : "spy module.dll";
        EXPECT_EQ(FolderListing(OrderFolder(files_, order)), std::vector<std::string>{name});
        EXPECT_EQ(ReadFileBytes(OrderFolder(files_, order) + name), order.name);
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(FolderListing(files_), left);
    EXPECT_FALSE(FileExists(SystemWinInit()));
    EXPECT_EQ(PendingRenameText(), "");
}

} // namespace
