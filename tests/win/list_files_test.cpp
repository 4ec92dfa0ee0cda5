// The list files on a real file system: loading, saving, and saves that fail.
#include "detect/ListFiles.h"
#include "tests/support/process.h"
#include "base/FileError.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

class ListFiles : public ::testing::Test {
protected:
    ScratchFolder folder{"snoopsweep-lists"};
    std::string exe = folder.Path() + "Snoopsweep.exe";
    detect::ListFilePaths paths = detect::ListFilePathsFor(exe);
};

TEST_F(ListFiles, LoadReadsBothFilesNextToTheProgram) {
    detect::TrustMap fresh;
    detect::LoadTrustMap(fresh, exe);
    EXPECT_EQ(fresh.size(), 28u); // nothing but the trusted names without files

    ASSERT_TRUE(WriteFileBytes(paths.blocked, "C:\\spy\\hook.dll\r\nC:\\both.dll\n"));
    ASSERT_TRUE(WriteFileBytes(paths.allowed, "C:\\both.dll"));
    detect::TrustMap map;
    const auto loaded = detect::LoadTrustMap(map, exe);
    EXPECT_EQ(loaded.paths.blocked, paths.blocked);
    EXPECT_FALSE(loaded.blockedUnreadable || loaded.allowedUnreadable);
    std::string value;
    ASSERT_TRUE(map.Lookup("C:\\spy\\hook.dll", value));
    EXPECT_EQ(value, "1");
    ASSERT_TRUE(map.Lookup("C:\\both.dll", value));
    EXPECT_EQ(value, "2");
    EXPECT_TRUE(map.Contains("snoopsweep.exe"));
}

TEST_F(ListFiles, SaveRewritesBothFilesWithCrLf) {
    detect::TrustMap map;
    detect::LoadTrustMap(map, exe);
    detect::SaveListFiles(map, paths);
    // No verdicts: both files exist and are empty.
    EXPECT_TRUE(FileExists(paths.blocked));
    EXPECT_EQ(ReadFileBytes(paths.blocked), "");
    EXPECT_EQ(ReadFileBytes(paths.allowed), "");

    map.Set("C:\\spy\\hook.dll", detect::kBlocked);
    map.Set(" C:\\spy\\keys.dll", detect::kAllowed);
    detect::SaveListFiles(map, paths);
    EXPECT_EQ(ReadFileBytes(paths.blocked), "C:\\spy\\hook.dll\r\n");
    EXPECT_EQ(ReadFileBytes(paths.allowed), " C:\\spy\\keys.dll\r\n");
    EXPECT_FALSE(FileExists(paths.blocked + ".new"));
    EXPECT_FALSE(FileExists(paths.allowed + ".new"));
}

TEST_F(ListFiles, AFailedSaveNamesTheFileAndKeepsItsOldContent) {
    const std::string oldBlocked = "C:\\old\\one.dll\r\nC:\\old\\two.dll\r\n";
    const std::string oldAllowed = "C:\\old\\three.dll\r\n";
    ASSERT_TRUE(WriteFileBytes(paths.blocked, oldBlocked));
    ASSERT_TRUE(WriteFileBytes(paths.allowed, oldAllowed));
    detect::TrustMap map;
    map.Set("C:\\new\\hook.dll", detect::kBlocked);

    // Read-only.
    ASSERT_TRUE(::SetFileAttributesA(paths.blocked.c_str(), FILE_ATTRIBUTE_READONLY));
    try {
        detect::SaveListFiles(map, paths);
        ADD_FAILURE() << "a read-only list file was replaced";
    } catch (const base::FileError& error) {
        EXPECT_EQ(error.FileName(), paths.blocked);
        EXPECT_NE(error.SystemError(), 0u);
    }
    ::SetFileAttributesA(paths.blocked.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFileBytes(paths.blocked), oldBlocked);
    EXPECT_EQ(ReadFileBytes(paths.allowed), oldAllowed);
    EXPECT_FALSE(FileExists(paths.blocked + ".new"));
    EXPECT_FALSE(FileExists(paths.allowed + ".new"));

    // Held open by another program without sharing.
    {
        ui::FileHandle held(::CreateFileA(paths.allowed.c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_THROW(detect::SaveListFiles(map, paths), base::FileError);
    }
    EXPECT_EQ(ReadFileBytes(paths.allowed), oldAllowed);

    // A folder in the place of the file.
    ASSERT_TRUE(::DeleteFileA(paths.allowed.c_str()));
    ASSERT_TRUE(::CreateDirectoryA(paths.allowed.c_str(), nullptr));
    EXPECT_EQ(detect::ReadListFile(paths.allowed).state, detect::ListFileRead::Unreadable);
    EXPECT_THROW(detect::SaveListFiles(map, paths), base::FileError);
    ::RemoveDirectoryA(paths.allowed.c_str());

    // The next save that can write succeeds in full.
    detect::SaveListFiles(map, paths);
    EXPECT_EQ(ReadFileBytes(paths.blocked), "C:\\new\\hook.dll\r\n");
    EXPECT_EQ(ReadFileBytes(paths.allowed), "");
}

TEST_F(ListFiles, AFileHeldWithSharingIsReadAndOneHeldAloneIsNeverWritten) {
    const std::string blocked = "C:\\spy\\hook.dll\r\nC:\\spy\\keys.dll\r\n";
    ASSERT_TRUE(WriteFileBytes(paths.blocked, blocked));
    ASSERT_TRUE(WriteFileBytes(paths.allowed, "C:\\tool.dll\r\n"));
    {
        // As a virus scanner or an indexer holds it.
        ui::FileHandle scanned(::CreateFileA(paths.blocked.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(scanned);
        detect::TrustMap map;
        const auto loaded = detect::LoadTrustMap(map, exe);
        EXPECT_TRUE(map.Contains("C:\\spy\\keys.dll"));
        EXPECT_FALSE(loaded.blockedUnreadable);
    }

    detect::TrustMap map;
    detect::LoadedLists loaded;
    {
        ui::FileHandle held(::CreateFileA(paths.blocked.c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        loaded = detect::LoadTrustMap(map, exe);
    }
    EXPECT_FALSE(map.Contains("C:\\spy\\hook.dll"));
    EXPECT_TRUE(loaded.blockedUnreadable);
    EXPECT_FALSE(loaded.allowedUnreadable);
    // Released since: a save that leaves it out keeps every line, and writes the other file.
    map.Set("C:\\new.dll", detect::kAllowed);
    detect::SaveListFiles(map, loaded.paths,
                          {!loaded.blockedUnreadable, !loaded.allowedUnreadable});
    EXPECT_EQ(ReadFileBytes(paths.blocked), blocked);
    EXPECT_EQ(ReadFileBytes(paths.allowed), "C:\\new.dll\r\nC:\\tool.dll\r\n");
    EXPECT_FALSE(FileExists(paths.blocked + ".new"));

    // A missing file is no failure.
    ASSERT_TRUE(::DeleteFileA(paths.allowed.c_str()));
    EXPECT_EQ(detect::ReadListFile(paths.allowed).state, detect::ListFileRead::Missing);
    EXPECT_EQ(detect::ReadListFile(folder.Path() + "no folder\\leciti.txt").state,
              detect::ListFileRead::Missing);
}

} // namespace
