// The version reader against test DLLs with their own version resources, files without a
// usable one, and the system's libraries.
#include "inspect/FileVersionInfo.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace testing_support;

std::string TestDll(const char* name) {
    return OwnDirectory() + name + ".dll";
}

void ExpectEmpty(const CFileVersionInfo& info) {
    EXPECT_EQ(info.GetCompanyName(), "");
    EXPECT_EQ(info.GetProductName(), "");
    EXPECT_EQ(info.GetValue("CompanyName", 0x040904B0), "");
    EXPECT_EQ(info.GetTranslation(), 0u);
}

// Memory of `size` bytes, filled and freed, so that a block of that size the reader gets next
// is likely to hold leftovers rather than zeros by chance.
void DirtyFreeMemory(size_t size) {
    std::vector<std::unique_ptr<BYTE[]>> blocks;
    for (int i = 0; i < 16; ++i) {
        blocks.emplace_back(new BYTE[size]);
        std::memset(blocks.back().get(), 'x', size);
    }
}

TEST(VersionInfo, ReadsTheTableOfTheFirstTranslationAsStored) {
    CFileVersionInfo info;
    ASSERT_TRUE(info.Open(TestDll("version_acme").c_str()));
    EXPECT_EQ(info.GetTranslation(), 0x040904B0u);
    EXPECT_EQ(info.GetCompanyName(), "ACME Input Labs"); // capitals and all
    EXPECT_EQ(info.GetProductName(), "TypeWatch Pro");
    EXPECT_EQ(info.GetValue("FileDescription"), "Key checker");

    ASSERT_TRUE(info.Open(TestDll("version_no_product").c_str()));
    EXPECT_EQ(info.GetTranslation(), 0x041004E4u);
    EXPECT_EQ(info.GetCompanyName(), "Tastiere Riunite S.p.A.");
    EXPECT_EQ(info.GetProductName(), "");

    // The English table comes first in the file, the Italian translation in the table.
    ASSERT_TRUE(info.Open(TestDll("version_two_tables").c_str()));
    EXPECT_EQ(info.GetCompanyName(), "Prima Tabella SRL");
    EXPECT_EQ(info.GetValue("ProductName", 0x040904B0), "English Product");
    EXPECT_EQ(info.GetValue("CompanyName", 0x040704B0), ""); // no German table
    EXPECT_EQ(info.GetTranslation(), 0x041004E4u);
    EXPECT_EQ(info.GetProductName(), "Prodotto Italiano");

    info.Close();
    ExpectEmpty(info);
}

TEST(VersionInfo, FilesWithoutAUsableResourceLeaveTheReaderEmpty) {
    ScratchFolder folder("inspect-version");
    const std::string text = folder.Path() + "notes.dll";
    ASSERT_TRUE(WriteFileBytes(text, "not a program"));
    // A copy whose translation value is cut to one 16-bit word, half an entry (the resource
    // compiler writes whole entries only). The value's length is the second word of its
    // header, which ends right before its name.
    std::string bytes = ReadFileBytes(TestDll("version_acme"));
    const size_t name = bytes.find(std::string("T\0r\0a\0n\0s\0l\0a\0t\0i\0o\0n\0\0\0", 24));
    ASSERT_TRUE(name != std::string::npos && name >= 6 && bytes[name - 4] == 4);
    bytes[name - 4] = 2;
    const std::string halfEntry = folder.Path() + "half.dll";
    ASSERT_TRUE(WriteFileBytes(halfEntry, bytes));

    for (const std::string& file : {TestDll("inspect_plain"), TestDll("version_no_translation"),
                                    halfEntry, text, folder.Path() + "missing.dll"}) {
        SCOPED_TRACE(file);
        CFileVersionInfo info;
        EXPECT_FALSE(info.Open(file.c_str()));
        ExpectEmpty(info);
        // Not even a reader that held another file's names keeps them.
        ASSERT_TRUE(info.Open(TestDll("version_acme").c_str()));
        EXPECT_FALSE(info.Open(file.c_str()));
        ExpectEmpty(info);
    }
}

// Raw version blocks cut short or lying about their lengths, one DLL each from
// tests/win/dlls/version_truncated_*.rc. A block with a part running past its end is refused
// whole (a header claiming more than the resource holds used to crash the process); values
// that only lack their terminating zero read as stored, with nothing after them.
TEST(VersionInfo, TruncatedBlocksAreNeverReadPastTheirEnd) {
    struct Case {
        const char* dll;
        BOOL opens;
        const char* company;
        const char* product;
    };
    const Case cases[] = {
        {"version_truncated_header", FALSE, "", ""},      // claims 65535 bytes, holds 284
        {"version_truncated_string", FALSE, "", ""},      // the last value runs past the end
        {"version_truncated_name", FALSE, "", ""},        // ends inside a name
        {"version_truncated_translation", FALSE, "", ""}, // half an entry said to be whole
        {"version_truncated_tiny", FALSE, "", ""},        // 4 bytes, less than a header
        {"version_truncated_terminator", TRUE, "No Terminator Ltd", "Unterminated"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dll);
        const std::string path = TestDll(c.dll);
        DWORD handle = 0;
        const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &handle);
        ASSERT_NE(size, 0u);
        DirtyFreeMemory(size);
        CFileVersionInfo info;
        EXPECT_EQ(info.Open(path.c_str()), c.opens);
        EXPECT_EQ(info.GetCompanyName(), c.company);
        EXPECT_EQ(info.GetProductName(), c.product);
        if (!c.opens) {
            EXPECT_EQ(info.GetTranslation(), 0u);
        }
    }
}

TEST(VersionInfo, SystemLibrariesNameMicrosoft) {
    char directory[MAX_PATH] = {};
    ASSERT_NE(::GetSystemDirectoryA(directory, MAX_PATH), 0u);
    const bool wine =
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    for (const char* name : {"kernel32.dll", "user32.dll", "gdi32.dll"}) {
        SCOPED_TRACE(name);
        CFileVersionInfo info;
        ASSERT_TRUE(info.Open((std::string(directory) + "\\" + name).c_str()));
        EXPECT_EQ(info.GetCompanyName(), "Microsoft Corporation");
        EXPECT_EQ(info.GetProductName(), wine ? "Wine" : info.GetProductName());
        EXPECT_NE(info.GetProductName(), "");
    }
}

} // namespace
