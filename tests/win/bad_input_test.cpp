// List files that anyone may have edited: each case with what loading must give, and a save
// afterwards that writes back exactly what the map holds.
#include "detect/ListFiles.h"
#include "tests/support/process.h"
#include "base/FileError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

using namespace testing_support;
using Keys = std::vector<std::string>;

struct ListCase {
    const char* name;
    std::string bytes;
    Keys keys; // what the blocked list file must give, in file order
};

std::vector<ListCase> Cases() {
    std::vector<ListCase> cases = {
        {"binary bytes",
         "\x01\x02\xFF\xFE\x80"
         "abc\n\x7F",
         {"\x01\x02\xFF\xFE\x80"
          "abc",
          "\x7F"}},
        {"NUL bytes",
         std::string("a\0b\r\n\0\n", 7),
         {std::string("a\0b", 3), std::string(1, '\0')}},
        {"Ctrl-Z in the middle",
         "C:\\a.dll\r\nC:\\b\x1A.dll\r\nC:\\c.dll\r\n",
         {"C:\\a.dll", "C:\\b"}},
        {"CR-only line ends", "C:\\a.dll\rC:\\b.dll\r", {"C:\\a.dll\rC:\\b.dll\r"}},
        {"a trailing blank", "C:\\a.dll \r\n", {"C:\\a.dll "}},
        {"an empty file", "", {}},
        {"empty lines", "\r\n\n", {""}},
        {"a 1 MB line", std::string(1 << 20, 'x') + "\r\n", {std::string(1 << 20, 'x')}},
    };
    ListCase many{"100000 lines", "", {}};
    char line[32];
    for (int i = 0; i < 100000; ++i) {
        std::snprintf(line, sizeof(line), "C:\\dir\\f%06d.dll", i);
        many.keys.push_back(line);
        many.bytes += std::string(line) + "\r\n";
    }
    cases.push_back(many);
    return cases;
}

std::string SavedText(const Keys& keys) {
    std::string text;
    for (const auto& key : keys)
        text += key + "\r\n";
    return text;
}

TEST(BadListFiles, LoadAsTheReadingRulesSayAndSaveBackWhatTheMapHolds) {
    ScratchFolder folder("snoopsweep-bad-lists");
    const std::string exe = folder.Path() + "Snoopsweep.exe";
    const detect::ListFilePaths paths = detect::ListFilePathsFor(exe);
    for (const ListCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteFileBytes(paths.blocked, c.bytes));
        ::DeleteFileA(paths.allowed.c_str());
        detect::TrustMap map;
        detect::LoadTrustMap(map, exe);
        Keys unique = c.keys;
        std::sort(unique.begin(), unique.end());
        unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
        EXPECT_EQ(map.size(), 28 + unique.size());
        for (const auto& key : unique) {
            std::string value;
            EXPECT_TRUE(map.Lookup(key, value) && value == "1") << key.substr(0, 40);
        }
        detect::SaveListFiles(map, paths);
        // The map's order is the keys' sorted order.
        EXPECT_TRUE(ReadFileBytes(paths.blocked) == SavedText(unique));
        EXPECT_EQ(ReadFileBytes(paths.allowed), "");
    }
}

TEST(BadListFiles, UnreadableFilesAreSkippedAndKeptWhole) {
    ScratchFolder folder("snoopsweep-bad-lists");
    const std::string exe = folder.Path() + "Snoopsweep.exe";
    const detect::ListFilePaths paths = detect::ListFilePathsFor(exe);
    detect::TrustMap verdicts;
    verdicts.Set("C:\\new.dll", detect::kBlocked);

    // Held open without sharing by another program.
    ASSERT_TRUE(WriteFileBytes(paths.blocked, "C:\\held.dll\r\n"));
    {
        ui::FileHandle held(::CreateFileA(paths.blocked.c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        detect::TrustMap map;
        EXPECT_TRUE(detect::LoadTrustMap(map, exe).blockedUnreadable);
        EXPECT_EQ(map.size(), 28u);
        EXPECT_THROW(detect::SaveListFiles(verdicts, paths), base::FileError);
    }
    EXPECT_EQ(ReadFileBytes(paths.blocked), "C:\\held.dll\r\n");

    // A folder with the file's name.
    ASSERT_TRUE(::DeleteFileA(paths.blocked.c_str()));
    ASSERT_TRUE(::CreateDirectoryA(paths.blocked.c_str(), nullptr));
    detect::TrustMap map;
    EXPECT_TRUE(detect::LoadTrustMap(map, exe).blockedUnreadable);
    EXPECT_EQ(map.size(), 28u);
    EXPECT_THROW(detect::SaveListFiles(verdicts, paths), base::FileError);
    EXPECT_FALSE(FileExists(paths.blocked + ".new"));
    ::RemoveDirectoryA(paths.blocked.c_str());
}

} // namespace
