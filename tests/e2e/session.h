// A whole-program test session: the real Snoopsweep.exe copied to a folder of its own,
// test keyloggers planted in another folder, and what the user sees of the list.
#pragma once

#include "tests/e2e/keylogger.h"
#include "tests/e2e/program.h"
#include "tests/support/remote_ui.h"

#include "res/resource.h"
#include "base/Text.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

inline constexpr ULONGLONG kTicksPerSecond = 10000000;

inline ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Sets the time that the program reads as the file's creation time (under Wine, the
// last-write time stands for it).
inline bool SetFileTimeTo(const std::string& path, ULONGLONG ticks) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    ui::FileHandle file(::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    return file && ::SetFileTime(file.get(), &time, &time, &time);
}

// The creation time of the kernel32.dll that processes of this bitness load.
inline ULONGLONG Kernel32Time() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(::GetModuleHandleA("kernel32.dll"), path, MAX_PATH);
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA(path, &data));
    return find ? Ticks(data.ftCreationTime) : 0;
}

// A file's length and last-write time, read from its folder without opening the file.
struct FileStamp {
    ULONGLONG size = 0;
    ULONGLONG written = 0;
};
inline FileStamp Stamp(const std::string& path) {
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA(path.c_str(), &data));
    if (!find)
        return {};
    return {(static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
            Ticks(data.ftLastWriteTime)};
}

inline bool SamePath(const std::string& a, const std::string& b) {
    return base::ToLowerAscii(a) == base::ToLowerAscii(b);
}

// A test's name for a mode of key_spy.exe: "low-level-hook" gives "lowlevelhook".
inline std::string TestNameOfMode(const char* mode) {
    std::string name;
    for (const char* c = mode; *c; ++c) {
        if (*c != '-')
            name += *c;
    }
    return name;
}

class KeyloggerSession : public ::testing::Test {
protected:
    // Plants a keylogger: a copy of a fixture DLL under `name`, `ageDays` old, hooked in by
    // its own installer process.
    std::string PlantHook(const std::string& fixture, const std::string& name, int ageDays) {
        const std::string path = spies.Path() + name;
        EXPECT_TRUE(::CopyFileA(FixtureDll(fixture).c_str(), path.c_str(), FALSE)) << path;
        EXPECT_TRUE(AgeFile(path, ageDays)) << path;
        Hook(path);
        return path;
    }
    void Hook(const std::string& path) {
        keyloggers.push_back(std::make_unique<TestKeylogger>());
        EXPECT_TRUE(keyloggers.back()->Install(path)) << path;
    }

    // Starts a program that reads keys without a DLL: `fixture` (key_spy.exe) in `mode`, copied
    // to <spies>\<folder>\spia.exe and dated at `ticks` (40 days back when 0), started by the
    // test or, `fromShell`, as a user types it in a Linux shell. Returns the copy's path.
    std::string StartSpyAt(const std::string& mode, const std::string& folder, ULONGLONG ticks = 0,
                           const std::string& fixtures = OwnDirectory(),
                           const std::string& fixture = "key_spy.exe", bool fromShell = false) {
        const std::string directory = spies.Path() + folder;
        ::CreateDirectoryA(directory.c_str(), nullptr);
        keyloggers.push_back(std::make_unique<TestKeylogger>(fixtures));
        const std::string path = keyloggers.back()->CopySpy(directory + "\\spia.exe", fixture);
        EXPECT_FALSE(path.empty()) << directory;
        EXPECT_TRUE(ticks ? SetFileTimeTo(path, ticks) : AgeFile(path, 40)) << path;
        EXPECT_TRUE(fromShell ? keyloggers.back()->StartSpyFromShell(mode, path)
                              : keyloggers.back()->StartSpy(mode, path))
            << mode;
        return path;
    }

    HWND List() const { return program->Control(IDC_THREAT_LIST); }
    std::vector<RemoteRow> Rows() const { return ReadRows(List()); }
    int CountRows(const std::string& path) const {
        int count = 0;
        for (const auto& row : Rows())
            count += SamePath(row.texts[0], path);
        return count;
    }
    // Waits until a row for `path` shows `status` (and `image`, unless it is -1); returns
    // that row. The columns of a row are read one by one while the program may rewrite it,
    // so what a test checks together is waited for together.
    bool WaitForRow(const std::string& path, const std::string& status, RemoteRow* found,
                    int image = -1) {
        return WaitFor([&] {
            for (const auto& row : Rows()) {
                if (SamePath(row.texts[0], path) && row.texts[1] == status &&
                    (image < 0 || row.image == image)) {
                    if (found)
                        *found = row;
                    return true;
                }
            }
            return false;
        });
    }
    void Launch(bool withHelper = true) {
        program = std::make_unique<Program>(folder.Path(), withHelper);
        ASSERT_TRUE(program->Launch());
    }
    void Quit() {
        PostClick(program->Control(IDOK));
        EXPECT_TRUE(program->Process().WaitForExit());
    }
    // Selects the row of `path` with the mouse; true once the list's selection mark is on it.
    bool Select(const std::string& path) {
        const auto rows = Rows();
        for (size_t i = 0; i < rows.size(); ++i) {
            if (!SamePath(rows[i].texts[0], path))
                continue;
            const int index = static_cast<int>(i);
            return ClickRow(List(), index) && WaitFor([&] {
                       return ::SendMessageA(List(), LVM_GETSELECTIONMARK, 0, 0) == index;
                   });
        }
        return false;
    }
    // Double-clicks the row of `path` and returns the text of the box that comes.
    std::string AskWhoIsBehind(const std::string& path, HWND* shown = nullptr) {
        const auto rows = Rows();
        for (size_t i = 0; i < rows.size(); ++i) {
            if (!SamePath(rows[i].texts[0], path))
                continue;
            EXPECT_TRUE(ClickRow(List(), static_cast<int>(i), true));
            HWND box = WaitForBox("Snoopsweep");
            if (!box)
                return "(no box)";
            const std::string text = MessageBoxText(box);
            EXPECT_EQ(::GetWindow(box, GW_OWNER), program->Dialog());
            EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr);
            if (shown)
                *shown = box;
            else
                EXPECT_TRUE(Answer(box, IDOK));
            return text;
        }
        return "(no row)";
    }
    // A message box of the program with `caption` (not its main dialog); null when none
    // came within the limit.
    HWND WaitForBox(const std::string& caption) const {
        HWND box = nullptr;
        WaitFor([&] {
            for (HWND window : TopLevelWindows(program->Process().Pid(), "#32770", caption)) {
                if (window != program->Dialog())
                    box = window;
            }
            return box != nullptr;
        });
        return box;
    }
    // Answers a box with the button `id` and waits until it has gone.
    static bool Answer(HWND box, int id) {
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        return WaitFor([&] { return !::IsWindow(box); });
    }
    std::string ListFile(const char* name) const { return ReadFileBytes(folder.Path() + name); }
    // Waits until list file `name` holds `text`. It is read only once its length is right:
    // while the test reads it, the program's save would find it held open and refuse.
    bool WaitForListFile(const char* name, const std::string& text, DWORD limitMs = 60000) const {
        const std::string path = folder.Path() + name;
        return WaitFor([&] { return Stamp(path).size == text.size(); }, limitMs) &&
               ReadFileBytes(path) == text;
    }
    bool ListFileExists(const char* name) const { return FileExists(folder.Path() + name); }
    void WriteLists(const std::string& blocked, const std::string& allowed) {
        ASSERT_TRUE(WriteFileBytes(folder.Path() + "bloccati.txt", blocked));
        ASSERT_TRUE(WriteFileBytes(folder.Path() + "leciti.txt", allowed));
    }

    // Destroyed in reverse: the program ends first, then the hooks, then the folders.
    ScratchFolder folder{"snoopsweep-detect"};
    ScratchFolder spies{"spy files"};
    std::vector<std::unique_ptr<TestKeylogger>> keyloggers;
    std::unique_ptr<Program> program;
};

} // namespace testing_support
