#include "tools/icongen/icon_writer.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <utility>

using namespace icongen;

namespace {

uint32_t U16(const std::vector<uint8_t>& d, size_t at) {
    return d.at(at) | d.at(at + 1) << 8;
}
uint32_t U32(const std::vector<uint8_t>& d, size_t at) {
    return U16(d, at) | uint32_t(U16(d, at + 2)) << 16;
}

// An image read back from an .ico file, checked against the format's layout rules on the way.
struct Decoded {
    int width = 0;
    int height = 0;
    int bitCount = 0;
    std::vector<Rgba> palette;
    std::vector<int> xorValue;     // palette index, or packed BGRA for 32-bit; top-down
    std::vector<bool> transparent; // AND mask; top-down
};

std::vector<Decoded> ReadIco(const std::vector<uint8_t>& file) {
    EXPECT_GE(file.size(), 6u);
    EXPECT_EQ(U16(file, 0), 0u);
    EXPECT_EQ(U16(file, 2), 1u);
    const size_t count = U16(file, 4);
    size_t expectedOffset = 6 + 16 * count;
    std::vector<Decoded> images;
    for (size_t n = 0; n < count; ++n) {
        const size_t entry = 6 + 16 * n;
        const size_t bytes = U32(file, entry + 8);
        const size_t offset = U32(file, entry + 12);
        // Images follow the directory back to back, in directory order.
        EXPECT_EQ(offset, expectedOffset) << "entry " << n;
        expectedOffset = offset + bytes;

        Decoded img;
        img.width = file[entry] == 0 ? 256 : file[entry];
        img.height = file[entry + 1] == 0 ? 256 : file[entry + 1];
        img.bitCount = int(U16(file, entry + 6));
        EXPECT_EQ(file[entry + 2], img.bitCount == 4 ? 16 : 0) << "colour count";
        EXPECT_EQ(file[entry + 3], 0);
        EXPECT_EQ(U16(file, entry + 4), 1u) << "planes";

        // BITMAPINFOHEADER must agree with the directory entry.
        EXPECT_EQ(U32(file, offset), 40u);
        EXPECT_EQ(int(U32(file, offset + 4)), img.width);
        EXPECT_EQ(int(U32(file, offset + 8)), 2 * img.height);
        EXPECT_EQ(U16(file, offset + 12), 1u);
        EXPECT_EQ(int(U16(file, offset + 14)), img.bitCount);
        EXPECT_EQ(U32(file, offset + 16), 0u) << "compression";
        EXPECT_EQ(U32(file, offset + 32), 0u) << "colours used";

        const size_t colours = img.bitCount <= 8 ? size_t(1) << img.bitCount : 0;
        const size_t xorRow = size_t((img.width * img.bitCount + 31) / 32 * 4);
        const size_t andRow = size_t((img.width + 31) / 32 * 4);
        const size_t xorStart = offset + 40 + 4 * colours;
        const size_t andStart = xorStart + xorRow * size_t(img.height);
        EXPECT_EQ(bytes, 40 + 4 * colours + (xorRow + andRow) * size_t(img.height));
        EXPECT_EQ(U32(file, offset + 20), (xorRow + andRow) * size_t(img.height));
        if (offset + bytes > file.size()) {
            ADD_FAILURE() << "image " << n << " runs past the end of the file";
            return images;
        }

        for (size_t c = 0; c < colours; ++c) {
            const size_t at = offset + 40 + 4 * c;
            img.palette.push_back({file[at + 2], file[at + 1], file[at], 0xff});
        }
        for (int y = 0; y < img.height; ++y) {
            const size_t row = size_t(img.height - 1 - y); // stored bottom-up
            for (int x = 0; x < img.width; ++x) {
                const size_t px = xorStart + row * xorRow;
                if (img.bitCount == 4)
                    img.xorValue.push_back(file[px + size_t(x) / 2] >> (x % 2 ? 0 : 4) & 0xf);
                else if (img.bitCount == 8)
                    img.xorValue.push_back(file[px + size_t(x)]);
                else
                    img.xorValue.push_back(int(U32(file, px + 4 * size_t(x))));
                const uint8_t mask = file[andStart + row * andRow + size_t(x) / 8];
                img.transparent.push_back(mask & (0x80 >> (x % 8)));
            }
        }
        images.push_back(img);
    }
    EXPECT_EQ(expectedOffset, file.size()) << "trailing or missing bytes";
    return images;
}

std::vector<uint8_t> FileNamed(const std::string& name) {
    static const std::vector<IconFile> files = BuildAllIcons();
    for (const IconFile& f : files)
        if (f.fileName == name)
            return f.data;
    ADD_FAILURE() << "no file " << name;
    return {};
}

} // namespace

TEST(IconEncoding, PacksPixelsBottomUpWithPaddedRowsAndMask) {
    IconImage img;
    img.width = 3;
    img.height = 2;
    img.bitCount = 4;
    img.palette = VgaPalette();
    img.indices = {1, 2, 3, 4, 5, 6};
    img.transparent = {0, 1, 0, 1, 0, 0};
    const std::vector<uint8_t> data = EncodeIconImage(img);

    ASSERT_EQ(data.size(), 40u + 64 + 2 * 4 + 2 * 4);
    // Palette entries are stored as B, G, R, 0: VGA index 1 is dark red.
    EXPECT_EQ(data[40 + 4 * 1 + 2], 0x80);
    EXPECT_EQ(data[40 + 4 * 1 + 0], 0x00);
    const size_t xorAt = 40 + 64;
    // Bottom row first, left pixel in the high nibble, padded to 4 bytes.
    EXPECT_EQ(std::vector<uint8_t>(data.begin() + xorAt, data.begin() + xorAt + 8),
              (std::vector<uint8_t>{0x45, 0x60, 0, 0, 0x12, 0x30, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(data.begin() + xorAt + 8, data.end()),
              (std::vector<uint8_t>{0x80, 0, 0, 0, 0x40, 0, 0, 0}));

    img.bitCount = 32;
    img.palette.clear();
    img.indices.clear();
    img.pixels.assign(6, Rgba{0x11, 0x22, 0x33, 0x44});
    const std::vector<uint8_t> rgba = EncodeIconImage(img);
    ASSERT_EQ(rgba.size(), 40u + 2 * 12 + 2 * 4);
    EXPECT_EQ(std::vector<uint8_t>(rgba.begin() + 40, rgba.begin() + 44),
              (std::vector<uint8_t>{0x33, 0x22, 0x11, 0x44}));
}

TEST(IconEncoding, RejectsInconsistentImages) {
    EXPECT_THROW(BuildIcon({}), std::invalid_argument);

    IconImage good;
    good.width = good.height = 2;
    good.bitCount = 8;
    good.palette = CubePalette();
    good.indices.assign(4, 0);
    good.transparent.assign(4, 0);
    EXPECT_NO_THROW(BuildIcon({good}));

    IconImage bad = good;
    bad.bitCount = 24;
    EXPECT_THROW(BuildIcon({bad}), std::invalid_argument);
    bad = good;
    bad.palette = VgaPalette();
    EXPECT_THROW(BuildIcon({bad}), std::invalid_argument);
    bad = good;
    bad.indices.pop_back();
    EXPECT_THROW(BuildIcon({bad}), std::invalid_argument);
    bad = good;
    bad.bitCount = 4;
    bad.palette = VgaPalette();
    bad.indices[0] = 16;
    EXPECT_THROW(BuildIcon({bad}), std::invalid_argument);
}

TEST(AppIcon, HoldsEverySizeInEveryDepth) {
    const std::vector<Decoded> images = ReadIco(FileNamed("snoopsweep.ico"));
    std::set<std::pair<int, int>> seen;
    for (const Decoded& img : images) {
        EXPECT_EQ(img.width, img.height);
        EXPECT_TRUE(seen.insert({img.width, img.bitCount}).second) << "duplicate entry";
    }
    std::set<std::pair<int, int>> expected;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        for (int depth : {4, 8, 32})
            expected.insert({size, depth});
    EXPECT_EQ(seen, expected);
}

TEST(AppIcon, AllDepthsShareTheHalfCoverageSilhouette) {
    for (int size : AppIconSizes()) {
        SCOPED_TRACE(size);
        const IconImage full = DrawAppIcon(size, 32);
        EXPECT_EQ(full.pixels[0].a, 0) << "top left corner should be clear";
        EXPECT_EQ(full.pixels[size_t(size - 1)].a, 0) << "top right corner should be clear";
        EXPECT_EQ(full.pixels[size_t(size) * size_t(size / 2) + size_t(size / 4)].a, 255);
        for (size_t i = 0; i < full.pixels.size(); ++i) {
            if (full.pixels[i].a == 0) {
                ASSERT_EQ(full.pixels[i], Rgba{}) << "hidden colour at " << i;
            }
        }
        for (int depth : {4, 8}) {
            const IconImage pal = DrawAppIcon(size, depth);
            for (size_t i = 0; i < pal.transparent.size(); ++i) {
                // Every depth shows the same silhouette: the pixels at least half covered.
                ASSERT_EQ(bool(pal.transparent[i]), full.pixels[i].a < 128) << depth << "@" << i;
                ASSERT_EQ(pal.transparent[i], full.transparent[i]) << depth << "@" << i;
                if (pal.transparent[i]) {
                    ASSERT_EQ(pal.indices[i], 0) << "transparent pixels must XOR black";
                }
            }
        }
    }
}

TEST(StateIcons, AreSingle32PixelImagesInPureMarkColours) {
    const uint32_t yellow = 0xffff00, red = 0xff0000, green = 0x00ff00;
    const std::map<std::string, std::set<uint32_t>> expected = {
        {"detected.ico", {yellow}},
        {"blocked.ico", {red}},
        {"allowed.ico", {green}},
        {"detected_blocked.ico", {yellow, red}},
        {"detected_allowed.ico", {yellow, green}},
    };
    const std::vector<uint32_t> vga = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                       0x008080, 0xc0c0c0, 0x808080, 0xff0000, 0x00ff00, 0xffff00,
                                       0x0000ff, 0xff00ff, 0x00ffff, 0xffffff};
    for (const auto& [name, colours] : expected) {
        SCOPED_TRACE(name);
        const std::vector<Decoded> images = ReadIco(FileNamed(name));
        ASSERT_EQ(images.size(), 1u);
        const Decoded& img = images[0];
        EXPECT_EQ(img.width, 32);
        EXPECT_EQ(img.height, 32);
        ASSERT_EQ(img.bitCount, 4);
        std::vector<uint32_t> palette;
        for (const Rgba& c : img.palette)
            palette.push_back(uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b);
        ASSERT_EQ(palette, vga);

        std::set<uint32_t> used;
        int opaque = 0;
        for (size_t i = 0; i < img.xorValue.size(); ++i) {
            if (img.transparent[i]) {
                EXPECT_EQ(img.xorValue[i], 0) << "pixel " << i;
                continue;
            }
            used.insert(palette[size_t(img.xorValue[i])]);
            ++opaque;
        }
        EXPECT_EQ(used, colours);
        // The mark should be bold, not a scribble lost in a mostly empty image.
        EXPECT_GT(opaque, 32 * 32 / 5);
    }
}

// Shrinking to 16x16 drops every other pixel; a part of a mark thinner than 3 pixels could
// vanish, depending on which pixels survive. Every marked pixel must lie in a solid 3x3
// square of its own colour.
TEST(StateIcons, StrokesSurviveShrinkingToHalfSize) {
    for (StateIcon icon : {StateIcon::Detected, StateIcon::Blocked, StateIcon::Allowed,
                           StateIcon::DetectedBlocked, StateIcon::DetectedAllowed}) {
        const IconImage img = DrawStateIcon(icon);
        auto colour = [&](int x, int y) {
            if (x < 0 || y < 0 || x >= 32 || y >= 32 || img.transparent[size_t(y * 32 + x)])
                return -1;
            return int(img.indices[size_t(y * 32 + x)]);
        };
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const int c = colour(x, y);
                if (c < 0)
                    continue;
                bool inSolidSquare = false;
                for (int oy = -2; oy <= 0 && !inSolidSquare; ++oy) {
                    for (int ox = -2; ox <= 0 && !inSolidSquare; ++ox) {
                        bool solid = true;
                        for (int dy = 0; dy < 3; ++dy)
                            for (int dx = 0; dx < 3; ++dx)
                                solid = solid && colour(x + ox + dx, y + oy + dy) == c;
                        inSolidSquare = solid;
                    }
                }
                EXPECT_TRUE(inSolidSquare)
                    << "icon " << int(icon) << " thin at (" << x << ", " << y << ")";
            }
        }
    }
}

TEST(AllIcons, AreTheSixFilesAndIdenticalOnEveryBuild) {
    const std::vector<IconFile> first = BuildAllIcons();
    const std::vector<IconFile> second = BuildAllIcons();
    std::vector<std::string> names;
    for (const IconFile& f : first)
        names.push_back(f.fileName);
    EXPECT_EQ(names, (std::vector<std::string>{"snoopsweep.ico", "detected.ico", "blocked.ico",
                                               "allowed.ico", "detected_blocked.ico",
                                               "detected_allowed.ico"}));
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i)
        EXPECT_TRUE(first[i].data == second[i].data) << first[i].fileName;
}
