// Keyloggers loaded from paths of unusual shapes: the longest paths a module loads from, files
// without an extension or with a short one, a '.' in a folder name, and characters of the ANSI
// code page beyond ASCII. The real program lists each path whole, and "Disabilita" gives the
// file its disabled name, schedules that for the restart, or says plainly that it cannot.
#include "tests/e2e/session.h"

#include "neutralise/Commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

namespace {

using namespace testing_support;

enum class Outcome {
    Renamed,   // moved at once; the restart question follows
    Scheduled, // the disabled name's folder does not exist: the move is only recorded for restart
    Refused,   // no disabled name can be formed: the rename-failure box
};

// How the path reaches the program.
enum class Source {
    Hook, // the keylogger's hook loads the module: an " Attivo" row
    // A file without an extension: the installer loads it as "hook." and knows it as "hook",
    // but a hook never loads it into another process (there ".dll" is added to its name and no
    // such file exists). Its path comes from leciti.txt: a " Lecito" row.
    AllowedList,
};

struct PathCase {
    const char* name;
    // The file's folder below the test's root; empty for one padded to make the path
    // `length` characters long.
    const char* folder;
    const char* file;
    size_t length;
    Source source;
    // The place of the '_' in the disabled name, counted from the path's start, or from its
    // end when negative (-1: the last character).
    int underscore;
    Outcome outcome;
};

void PrintTo(const PathCase& test, std::ostream* out) {
    *out << test.name;
}

const PathCase kCases[] = {
    {"Length255", "", "hook.dll", 255, Source::Hook, -1, Outcome::Renamed},
    {"Length256", "", "hook.dll", 256, Source::Hook, -1, Outcome::Renamed},
    {"Length257", "", "hook.dll", 257, Source::Hook, -1, Outcome::Renamed},
    {"Length258", "", "hook.dll", 258, Source::Hook, -1, Outcome::Renamed},
    {"Length259", "", "hook.dll", 259, Source::Hook, -1, Outcome::Renamed},
    // No '.' anywhere: the third character, the '\' after "C:", so the name is "C:_...",
    // which the program, working in C:\, takes as C:\_... .
    {"NoDotAnywhere", "plain", "hook", 0, Source::AllowedList, 2, Outcome::Scheduled},
    // The last '.' is the folder's: spy.dir\hook becomes spy.di_\hook.
    {"DotInTheFolderOnly", "spy.dir", "hook", 0, Source::AllowedList, -6, Outcome::Scheduled},
    {"OneLetterExtension", "short", "hook.d", 0, Source::Hook, 0, Outcome::Refused},
    {"TwoLetterExtension", "short", "hook.dl", 0, Source::Hook, 0, Outcome::Refused},
    // Bytes 0xEC, 0xE8, 0xE9 and 0xF9: i, e, e and u with accents in code page 1252, other
    // letters in other single-byte pages.
    {"AnsiCodePage", "sp\354a", "hook\350\351\371.dll", 0, Source::Hook, -1, Outcome::Renamed},
};

// Whether `text` is characters of the ANSI code page that convert back to the same bytes.
bool InAnsiCodePage(const std::string& text) {
    wchar_t wide[MAX_PATH];
    const int count = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                                            static_cast<int>(text.size()), wide, MAX_PATH);
    if (count <= 0)
        return false;
    char back[2 * MAX_PATH];
    BOOL defaulted = FALSE;
    const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, count, back,
                                             sizeof(back), nullptr, &defaulted);
    return !defaulted && std::string(back, static_cast<size_t>(std::max(length, 0))) == text;
}

bool PendingRename(const std::string& source, const std::string& target) {
    const std::vector<std::string> names = PendingRenames();
    for (size_t i = 0; i + 1 < names.size(); i += 2) {
        if (SamePath(names[i], "\\??\\" + source) && SamePath(names[i + 1], "\\??\\" + target))
            return true;
    }
    return false;
}

// Takes out the pending renames of files under `folder`, leaving any others as they were.
void ForgetPendingRenames(const std::string& folder) {
    const std::vector<std::string> names = PendingRenames();
    const std::string ours = base::ToLowerAscii("\\??\\" + folder);
    std::string kept;
    bool changed = false;
    for (size_t i = 0; i + 1 < names.size(); i += 2) {
        if (base::ToLowerAscii(names[i]).compare(0, ours.size(), ours) == 0) {
            changed = true;
            continue;
        }
        kept.append(names[i]).append(1, '\0').append(names[i + 1]).append(1, '\0');
    }
    if (!changed)
        return;
    if (kept.empty()) {
        ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames);
    } else {
        kept.append(1, '\0');
        ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, REG_MULTI_SZ,
                          kept.data(), static_cast<DWORD>(kept.size()));
    }
}

class Paths : public KeyloggerSession, public ::testing::WithParamInterface<PathCase> {
protected:
    // A root of the test's own on drive C, with no '.' in its path.
    Paths() : root_("C:\\snoopsweep-paths-" + std::to_string(::GetCurrentProcessId()) + "\\") {}

    void SetUp() override {
        RemoveTree(root_);
        ASSERT_TRUE(::CreateDirectoryA(root_.c_str(), nullptr)) << root_;
    }
    void TearDown() override {
        // The program and the installers hold the module: they go before its folder.
        program.reset();
        keyloggers.clear();
        ForgetPendingRenames(root_);
        RemoveTree(root_);
    }

    const std::string root_;
};

TEST_P(Paths, TheModuleIsListedWholeAndDisabledByItsRule) {
    const PathCase& test = GetParam();
    std::string folder = test.folder;
    if (folder.empty())
        folder.assign(test.length - root_.size() - 1 - std::string(test.file).size(), 'p');
    if (!InAnsiCodePage(folder + test.file)) {
        GTEST_SKIP() << "code page " << ::GetACP() << " lacks the name's characters";
    }
    const std::string directory = root_ + folder + "\\";
    ASSERT_TRUE(::CreateDirectoryA(directory.c_str(), nullptr)) << directory;
    const std::string path = directory + test.file;
    if (test.length > 0) {
        ASSERT_EQ(path.size(), test.length);
    }
    const std::string fixture = ReadFileBytes(FixtureDll("kbhook_plain.dll"));
    const auto plant = [&](const std::string& file) {
        EXPECT_TRUE(::CopyFileA(FixtureDll("kbhook_plain.dll").c_str(), file.c_str(), FALSE))
            << file;
        EXPECT_TRUE(AgeFile(file, 40)) << file;
    };
    plant(path);
    const bool hooked = test.source == Source::Hook;
    // A trailing '.' keeps LoadLibraryA from adding ".dll" to a name without an extension.
    Hook(hooked ? path : path + ".");
    // The installer's own module walk names it as it is on disk, without that '.'.
    ASSERT_TRUE(ProcessHasModule(keyloggers.back()->Installer().Pid(), path));
    std::string sentinel;
    if (!hooked) {
        WriteLists("", path + "\r\n");
        // Hooked at the same time: once it is listed, the key that would have brought the
        // other module in has been read.
        ASSERT_TRUE(::CreateDirectoryA((root_ + "sentinel").c_str(), nullptr));
        sentinel = root_ + "sentinel\\hook.dll";
        plant(sentinel);
        Hook(sentinel);
    }

    Launch();
    RemoteRow row;
    if (!hooked) {
        ASSERT_TRUE(WaitForRow(sentinel, " Attivo", nullptr));
        EXPECT_FALSE(ProcessHasModule(program->Process().Pid(), path));
    }
    ASSERT_TRUE(WaitForRow(path, hooked ? " Attivo" : " Lecito", &row)) << path;
    EXPECT_EQ(row.texts[0], path); // whole, byte for byte
    ASSERT_TRUE(Select(path));
    PostClick(program->Control(IDC_DISABLE));
    HWND box = WaitForBox(neutralise::kAlertCaption);
    ASSERT_NE(box, nullptr);

    std::string disabled = path;
    if (test.underscore != 0) {
        const int place =
            test.underscore > 0 ? test.underscore : static_cast<int>(path.size()) + test.underscore;
        disabled[static_cast<size_t>(place)] = '_';
    }
    if (test.outcome == Outcome::Refused) {
        EXPECT_EQ(MessageBoxText(box), neutralise::kRenameFailed);
        EXPECT_EQ(::GetDlgItem(box, IDNO), nullptr);
        ASSERT_TRUE(Answer(box, IDOK));
        EXPECT_TRUE(WaitFor([&] { return ListFileExists("leciti.txt"); }));
        EXPECT_EQ(ListFile("bloccati.txt"), "");
        EXPECT_EQ(FolderListing(directory), std::vector<std::string>{test.file});
        EXPECT_TRUE(ReadFileBytes(path) == fixture) << path;
        EXPECT_EQ(Rows().at(0).texts[1], " Attivo");
    } else {
        EXPECT_EQ(MessageBoxText(box), neutralise::kRestartQuestion);
        ASSERT_TRUE(Answer(box, IDNO));
        EXPECT_TRUE(WaitForListFile("bloccati.txt", path + "\r\n"));
        EXPECT_EQ(ListFile("leciti.txt"), "");
        if (test.outcome == Outcome::Renamed) {
            EXPECT_EQ(disabled.size(), path.size());
            EXPECT_EQ(FolderListing(directory),
                      std::vector<std::string>{base::FileNameOf(disabled)});
            EXPECT_TRUE(ReadFileBytes(disabled) == fixture) << disabled;
        } else {
            EXPECT_TRUE(ReadFileBytes(path) == fixture) << path;
            EXPECT_FALSE(FileExists(disabled));
            // Recorded for the restart all the same: the system does not look for the target's
            // folder. The program works in C:\, where "C:_x" means C:\_x.
            std::string target = disabled;
            if (target[2] != '\\')
                target.insert(2, 1, '\\');
            EXPECT_TRUE(PendingRename(path, target)) << target;
        }
        ASSERT_TRUE(WaitForRow(path, hooked ? " Attivo & Bloccato  " : "Bloccato  ", nullptr,
                               hooked ? 3 : 1));
    }
    EXPECT_TRUE(program->Process().Running());
    Quit();
    DWORD code = 1;
    EXPECT_TRUE(program->Process().WaitForExit(kWaitLimitMs, &code));
    EXPECT_EQ(code, 0u);
}

INSTANTIATE_TEST_SUITE_P(Paths, Paths, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PathCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
