#include "detect/TrustMap.h"

#include <gtest/gtest.h>

namespace {

using detect::ParseListText;
using Keys = std::vector<std::string>;

TEST(TrustMap, StartsWithTheBuiltInNamesAndTheProgramsOwnName) {
    detect::TrustMap map;
    detect::AddTrustedNames(map, "C:\\Programmi\\Snoop\\SNOOPSWEEP.EXE");
    EXPECT_EQ(map.size(), 28u);
    std::string value = "x";
    EXPECT_TRUE(map.Lookup("snoopsweep.exe", value));
    EXPECT_EQ(value, "");
    for (const char* name : {"uxtheme.dll", "kernel32.dll", "ipsp.dll", "psapi.dll", "vdmdbg.dll"})
        EXPECT_TRUE(map.Contains(name)) << name;
    // Keys compare exactly.
    EXPECT_FALSE(map.Contains("KERNEL32.DLL"));
    EXPECT_FALSE(map.Contains("SNOOPSWEEP.EXE"));

    // A program run from a path without a backslash is its own name.
    detect::TrustMap bare;
    detect::AddTrustedNames(bare, "X.EXE");
    EXPECT_TRUE(bare.Contains("x.exe"));
}

TEST(TrustMap, ListFilesSitNextToTheExecutable) {
    const auto paths = detect::ListFilePathsFor("C:\\Program Files\\Snoop\\Snoopsweep.exe");
    EXPECT_EQ(paths.blocked, "C:\\Program Files\\Snoop\\bloccati.txt");
    EXPECT_EQ(paths.allowed, "C:\\Program Files\\Snoop\\leciti.txt");
}

TEST(ListText, ReadsLinesAsTextModeDoes) {
    EXPECT_EQ(ParseListText(""), Keys{});
    EXPECT_EQ(ParseListText("C:\\a.dll\r\nC:\\b.dll\r\n"), (Keys{"C:\\a.dll", "C:\\b.dll"}));
    // LF alone, and a last line without a line end.
    EXPECT_EQ(ParseListText("C:\\a.dll\nC:\\b.dll"), (Keys{"C:\\a.dll", "C:\\b.dll"}));
    // Blanks belong to the key; empty lines are keys.
    EXPECT_EQ(ParseListText(" C:\\a.dll \r\n\r\n\n"), (Keys{" C:\\a.dll ", "", ""}));
    // Only a CR right before LF goes with the line end.
    EXPECT_EQ(ParseListText("a\rb\r\r\nc\r"), (Keys{"a\rb\r", "c\r"}));
    // Ctrl-Z ends the text.
    EXPECT_EQ(ParseListText("a\r\nb\x1A\r\nc\r\n"), (Keys{"a", "b"}));
    EXPECT_EQ(ParseListText("\x1A"
                            "a\r\n"),
              Keys{});
    // Other bytes, NUL included, are kept as they are; lines have no length limit.
    const std::string nul("x\0y", 3);
    EXPECT_EQ(ParseListText(nul + "\n"), Keys{nul});
    const std::string longLine(1 << 20, 'p');
    EXPECT_EQ(ParseListText(longLine + "\r\n"), Keys{longLine});
}

TEST(ListText, BothFilesLoadAndSaveBack) {
    detect::TrustMap map;
    detect::AddTrustedNames(map, "C:\\s\\Snoopsweep.exe");
    // The blocked file first, then the allowed one: a key in both ends allowed.
    detect::LoadListText(map, "C:\\spy\\hook.dll\r\nC:\\both.dll\r\nC:\\spy\\hook.dll\r\n",
                         detect::kBlocked);
    detect::LoadListText(map, "C:\\both.dll\nkernel32.dll", detect::kAllowed);
    std::string value;
    ASSERT_TRUE(map.Lookup("C:\\both.dll", value));
    EXPECT_EQ(value, "2");
    ASSERT_TRUE(map.Lookup("kernel32.dll", value));
    EXPECT_EQ(value, "2");
    EXPECT_EQ(map.size(), 30u);

    const auto texts = detect::FormatListTexts(map);
    EXPECT_EQ(texts.blocked, "C:\\spy\\hook.dll\r\n");
    EXPECT_EQ(ParseListText(texts.allowed), (Keys{"C:\\both.dll", "kernel32.dll"}));

    // Whatever the map holds round-trips through the files, blanks and empty keys included.
    detect::TrustMap odd;
    for (const std::string key : {"", " lead", "trail ", "C:\\x\\y.dll", "cr\r"})
        odd.Set(key, detect::kBlocked);
    odd.Set("trusted.dll", detect::kTrusted);
    odd.Set("other", "3");
    const auto oddTexts = detect::FormatListTexts(odd);
    EXPECT_EQ(oddTexts.allowed, "");
    detect::TrustMap back;
    detect::LoadListText(back, oddTexts.blocked, detect::kBlocked);
    EXPECT_EQ(back.size(), 5u);
    EXPECT_EQ(detect::FormatListTexts(back).blocked, oddTexts.blocked);
}

TEST(ListText, AMapWithoutVerdictsWritesTwoEmptyFiles) {
    detect::TrustMap map;
    detect::AddTrustedNames(map, "C:\\s\\Snoopsweep.exe");
    const auto texts = detect::FormatListTexts(map);
    EXPECT_EQ(texts.blocked, "");
    EXPECT_EQ(texts.allowed, "");
}

} // namespace
