// The release archive of this bitness as a Windows user gets it. The test command unpacks it
// into an empty folder that SNOOPSWEEP_PACKAGE names (a Windows path with its trailing
// backslash); without that the test is skipped.
#include "tests/e2e/program.h"
#include "tests/support/remote_ui.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace testing_support;

std::string Unpacked() {
    const char* folder = std::getenv("SNOOPSWEEP_PACKAGE");
    return folder ? folder : "";
}

// "1.5.0.0": the file version in the program's version resource.
std::string FileVersion(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<char> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !::GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
        !::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) ||
        length < sizeof(*info))
        return "";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionLS));
}

// Text as Notepad wants it: every line, the last one too, ends with CR LF.
bool IsWindowsText(const std::string& text) {
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool crWithoutLf = text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n');
        const bool lfWithoutCr = text[i] == '\n' && (i == 0 || text[i - 1] != '\r');
        if (crWithoutLf || lfWithoutCr)
            return false;
    }
    return true;
}

TEST(Package, HoldsTheProgramItsReadmeAndLicenceAndTheProgramStarts) {
    if (Unpacked().empty())
        GTEST_SKIP() << "needs an unpacked release archive";
    // One folder, named after the program's version and this bitness.
    const std::string version = FileVersion(BuiltProgram());
    ASSERT_FALSE(version.empty());
    const std::string name = "Snoopsweep-" + version + (sizeof(void*) == 8 ? "-x64" : "-x86");
    ASSERT_EQ(FolderListing(Unpacked()), std::vector<std::string>{name});
    const std::string folder = Unpacked() + name + "\\";
    // The x64 program keeps its helper of 32 bits beside it.
    std::vector<std::string> files = {"LEGGIMI.txt", "LICENSE.txt", "Snoopsweep.exe"};
    if (sizeof(void*) == 8)
        files.push_back("SnoopsweepHelper32.exe");
    EXPECT_EQ(FolderListing(folder), files);
    const std::string program = folder + "Snoopsweep.exe";
    // Compared whole but not printed: a megabyte of bytes tells nothing.
    EXPECT_TRUE(ReadFileBytes(program) == ReadFileBytes(BuiltProgram()))
        << "not this build's program";
    if (sizeof(void*) == 8) {
        EXPECT_TRUE(ReadFileBytes(folder + "SnoopsweepHelper32.exe") ==
                    ReadFileBytes(BuiltHelper()))
            << "not this build's helper";
    }

    // The readme has accents: UTF-8, marked so for Notepad.
    const std::string readme = ReadFileBytes(folder + "LEGGIMI.txt");
    EXPECT_EQ(readme.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_TRUE(IsWindowsText(readme));
    const std::string licence = ReadFileBytes(folder + "LICENSE.txt");
    EXPECT_TRUE(IsWindowsText(licence));
    EXPECT_EQ(licence.rfind("MIT License\r\n\r\nCopyright (c) 2026 Snoopsweep\r\n", 0), 0u);

    // Started from there, it shows its main dialog.
    ChildProcess started;
    ASSERT_TRUE(started.Start(program, std::string(), "C:\\"));
    EXPECT_NE(WaitForWindow(started.Pid(), "#32770", "Snoopsweep"), nullptr);
    started.Terminate();
    EXPECT_TRUE(started.WaitForExit());
}

} // namespace
