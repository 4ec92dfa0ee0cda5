#include "inspect/VersionQuery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

namespace {

// A version block as the system hands it over: the resource's bytes, then room for the ANSI
// copies (twice the resource plus 4 bytes in all).
class BlockBuilder {
public:
    // Starts a node; its length is filled in by End.
    BlockBuilder& Begin(const char* name, const std::string& text = "") {
        Align();
        open_.push_back(bytes_.size());
        Word(0);
        Word(static_cast<unsigned>(text.empty() ? 0 : text.size() + 1));
        Word(1);
        Text(name);
        Align();
        if (!text.empty())
            Text(text.c_str());
        return *this;
    }
    BlockBuilder& End() {
        const size_t node = open_.back();
        open_.pop_back();
        const size_t length = bytes_.size() - node;
        bytes_[node] = static_cast<unsigned char>(length);
        bytes_[node + 1] = static_cast<unsigned char>(length >> 8);
        return *this;
    }
    std::vector<unsigned char> Block() const {
        std::vector<unsigned char> block(bytes_);
        block.resize(2 * bytes_.size() + 4);
        return block;
    }
    std::vector<unsigned char>& Bytes() { return bytes_; }

private:
    void Word(unsigned w) {
        bytes_.push_back(static_cast<unsigned char>(w));
        bytes_.push_back(static_cast<unsigned char>(w >> 8));
    }
    void Text(const char* text) {
        for (const char* c = text;; ++c) {
            Word(static_cast<unsigned char>(*c));
            if (*c == 0)
                break;
        }
    }
    void Align() {
        while (bytes_.size() % 4 != 0)
            bytes_.push_back(0);
    }
    std::vector<unsigned char> bytes_;
    std::vector<size_t> open_;
};

BlockBuilder SoundBuilder() {
    BlockBuilder b;
    b.Begin("VS_VERSION_INFO").Begin("StringFileInfo").Begin("040904B0");
    b.Begin("CompanyName", "Acme").End().Begin("ProductName", "Spy").End();
    b.End().End().End();
    return b;
}

TEST(VersionQuery, ABlockIsSoundOnlyWhenEveryLengthStaysInside) {
    const std::vector<unsigned char> sound = SoundBuilder().Block();
    EXPECT_TRUE(inspect::VersionBlockIsSound(sound.data(), sound.size()));
    // Too little room after it for the copies of its texts.
    EXPECT_FALSE(inspect::VersionBlockIsSound(sound.data(), sound.size() - 1));
    EXPECT_FALSE(inspect::VersionBlockIsSound(sound.data(), 4));
    EXPECT_FALSE(inspect::VersionBlockIsSound(nullptr, 0));

    struct Damage {
        const char* what;
        size_t at;
        unsigned char byte;
    };
    const size_t company = 40 + 36 + 24; // VS_VERSION_INFO, StringFileInfo, 040904B0
    for (const Damage& d : {
             Damage{"the root claims more than it holds", 1, 0xFF},
             Damage{"a child claims more than its parent", 40 + 1, 0x10},
             Damage{"a value runs past the block", company + 2, 0x7F},
             Damage{"a name running past its node", company, 8},
             Damage{"a 16-bit block", 4, 'V'},
         }) {
        SCOPED_TRACE(d.what);
        BlockBuilder b = SoundBuilder();
        b.Bytes()[d.at] = d.byte;
        if (d.at == 1) // the root's length word as a whole
            b.Bytes()[0] = 0xFF;
        const std::vector<unsigned char> block = b.Block();
        EXPECT_FALSE(inspect::VersionBlockIsSound(block.data(), block.size()));
    }
}

} // namespace
