// Icon artwork and .ico encoding for Snoopsweep.
//
// Everything here is pure: images are drawn from geometry and encoded to bytes in memory, so
// the output is identical on every run. The icongen tool only writes the results to disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace icongen {

struct Rgba {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 0;
};

inline bool operator==(const Rgba& x, const Rgba& y) {
    return x.r == y.r && x.g == y.g && x.b == y.b && x.a == y.a;
}
inline bool operator!=(const Rgba& x, const Rgba& y) {
    return !(x == y);
}

// One image of an icon, stored top-down, row-major.
//
// For 4- and 8-bit images `palette` holds exactly 16 or 256 colours (alpha ignored) and
// `indices` one palette index per pixel. For 32-bit images `palette` and `indices` stay empty
// and `pixels` holds straight (not premultiplied) colours with alpha. `transparent` is one
// entry per pixel, non-zero where the AND mask bit is set.
struct IconImage {
    int width = 0;
    int height = 0;
    int bitCount = 32; // 4, 8 or 32
    std::vector<Rgba> palette;
    std::vector<uint8_t> indices;
    std::vector<Rgba> pixels;
    std::vector<uint8_t> transparent;
};

// The standard 16-colour Windows VGA palette, in its usual order (0 black ... 15 white).
const std::vector<Rgba>& VgaPalette();

// Well-known indices into VgaPalette().
enum VgaIndex : uint8_t {
    kVgaBlack = 0,
    kVgaSilver = 7,
    kVgaGrey = 8,
    kVgaRed = 9,
    kVgaGreen = 10,
    kVgaYellow = 11,
    kVgaCyan = 14,
    kVgaWhite = 15,
};

// A 256-colour palette: a 6x6x6 colour cube (index r*36 + g*6 + b) followed by 40 greys.
// Index 0 is black.
const std::vector<Rgba>& CubePalette();

// Index of the palette entry closest to `c` (alpha ignored; the first wins on ties).
uint8_t NearestIndex(const std::vector<Rgba>& palette, Rgba c);

// Encodes one image as a classic icon DIB: BITMAPINFOHEADER with doubled height, palette,
// bottom-up XOR bitmap, then the 1-bit AND mask, every row padded to 4 bytes.
// Throws std::invalid_argument if the image is inconsistent.
std::vector<uint8_t> EncodeIconImage(const IconImage& image);

// Encodes a complete .ico file (ICONDIR, one ICONDIRENTRY per image, then the image data in
// the same order). Throws std::invalid_argument on an empty list or an invalid image.
std::vector<uint8_t> BuildIcon(const std::vector<IconImage>& images);

// The program icon at `size` pixels square in the given depth (4, 8 or 32).
IconImage DrawAppIcon(int size, int bitCount);

// Sizes and depths stored in snoopsweep.ico.
const std::vector<int>& AppIconSizes();
const std::vector<int>& AppIconDepths();

// Every image of snoopsweep.ico, grouped by depth (32, 8, 4), each group by ascending size.
std::vector<IconImage> AppIconImages();

enum class StateIcon { Detected, Blocked, Allowed, DetectedBlocked, DetectedAllowed };

// A single 32x32 4-bit state icon; marks use only VGA red, green and yellow.
IconImage DrawStateIcon(StateIcon icon);

struct IconFile {
    std::string fileName;
    std::vector<uint8_t> data;
};

// All icon files the tool writes: snoopsweep.ico followed by the five state icons.
std::vector<IconFile> BuildAllIcons();

} // namespace icongen
