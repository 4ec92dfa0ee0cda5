#include "base/FileError.h"
#include "base/Text.h"

#include <gtest/gtest.h>

namespace {

TEST(Title, IsTheExecutableNameWithoutItsExtension) {
    EXPECT_EQ(base::TitleFromModulePath("C:\\Programmi\\Snoopsweep\\Snoopsweep.exe"), "Snoopsweep");
    EXPECT_EQ(base::TitleFromModulePath("C:\\x\\SNOOP.EXE"), "SNOOP");
    // Only the last extension goes, and a dot in a folder name is not one.
    EXPECT_EQ(base::TitleFromModulePath("C:\\tools.new\\snoop.v2.exe"), "snoop.v2");
    EXPECT_EQ(base::TitleFromModulePath("C:\\tools.new\\snoop"), "snoop");
    EXPECT_EQ(base::TitleFromModulePath("Snoopsweep.exe"), "Snoopsweep");
    EXPECT_EQ(base::TitleFromModulePath(""), "");
}

TEST(Paths, SplitAtTheLastBackslash) {
    EXPECT_EQ(base::FileNameOf("C:\\a b\\c\\hook.dll"), "hook.dll");
    EXPECT_EQ(base::DirectoryOf("C:\\a b\\c\\hook.dll"), "C:\\a b\\c\\");
    EXPECT_EQ(base::FileNameOf("hook.dll"), "hook.dll");
    EXPECT_EQ(base::DirectoryOf("hook.dll"), "");
    EXPECT_EQ(base::FileNameOf("C:\\dir\\"), "");
    EXPECT_EQ(base::DirectoryOf("C:\\dir\\"), "C:\\dir\\");
}

TEST(Lower, ChangesAsciiLettersOnly) {
    EXPECT_EQ(base::ToLowerAscii("MICROSOFT Corporation"), "microsoft corporation");
    // Bytes of the ANSI code page above 0x7F stay as they are.
    EXPECT_EQ(base::ToLowerAscii("\xC0\xC8Z"), "\xC0\xC8z");
}

TEST(FileErrorReport, NamesTheFileAndGivesTheSystemText) {
    const base::FileError error("C:\\x\\bloccati.txt", 5);
    EXPECT_EQ(error.FileName(), "C:\\x\\bloccati.txt");
    EXPECT_EQ(error.SystemError(), 5u);

    const std::string text = base::DescribeFileError("C:\\x\\bloccati.txt", 5, "Accesso negato.");
    EXPECT_NE(text.find("C:\\x\\bloccati.txt"), std::string::npos);
    EXPECT_NE(text.find("Accesso negato."), std::string::npos);
    // Without a system text the code itself is given.
    EXPECT_NE(base::DescribeFileError("f", 112, "").find("112"), std::string::npos);
}

} // namespace
