#include "inspect/VersionQuery.h"

#include <gtest/gtest.h>

namespace {

TEST(VersionQuery, NamesTheTableInEightLowerCaseHexDigits) {
    EXPECT_EQ(inspect::StringValueQuery(0x040904B0, "CompanyName"),
              "\\StringFileInfo\\040904b0\\CompanyName");
    EXPECT_EQ(inspect::StringValueQuery(0x041004E4, "ProductName"),
              "\\StringFileInfo\\041004e4\\ProductName");
    // Leading zeros are kept and the whole 32 bits are printed.
    EXPECT_EQ(inspect::StringValueQuery(0x000004E4, "X"), "\\StringFileInfo\\000004e4\\X");
    EXPECT_EQ(inspect::StringValueQuery(0xFFFFFFFF, "X"), "\\StringFileInfo\\ffffffff\\X");
}

TEST(VersionQuery, TranslationKeyPutsTheLanguageInTheHighHalf) {
    // The entry as the resource stores it: language 0x0409, then code page 0x04B0.
    const unsigned char usUnicode[] = {0x09, 0x04, 0xB0, 0x04};
    std::uint32_t key = 0;
    ASSERT_TRUE(inspect::TranslationKeyFromValue(usUnicode, sizeof(usUnicode), &key));
    EXPECT_EQ(key, 0x040904B0u);

    // Only the first of several entries counts.
    const unsigned char two[] = {0x10, 0x04, 0xE4, 0x04, 0x09, 0x04, 0xB0, 0x04};
    ASSERT_TRUE(inspect::TranslationKeyFromValue(two, sizeof(two), &key));
    EXPECT_EQ(key, 0x041004E4u);
}

TEST(VersionQuery, ValueShorterThanOneEntryGivesNoKey) {
    const unsigned char half[] = {0x09, 0x04, 0xB0};
    std::uint32_t key = 0x12345678;
    EXPECT_FALSE(inspect::TranslationKeyFromValue(half, 3, &key));
    EXPECT_FALSE(inspect::TranslationKeyFromValue(half, 2, &key));
    EXPECT_FALSE(inspect::TranslationKeyFromValue(half, 0, &key));
    EXPECT_FALSE(inspect::TranslationKeyFromValue(nullptr, 4, &key));
    EXPECT_EQ(key, 0x12345678u);
}

} // namespace
