#include "tools/icongen/icon_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

namespace icongen {

// ---------------------------------------------------------------------------------------------
// Palettes

const std::vector<Rgba>& VgaPalette() {
    static const std::vector<Rgba> palette = {
        {0x00, 0x00, 0x00, 0xff}, {0x80, 0x00, 0x00, 0xff}, {0x00, 0x80, 0x00, 0xff},
        {0x80, 0x80, 0x00, 0xff}, {0x00, 0x00, 0x80, 0xff}, {0x80, 0x00, 0x80, 0xff},
        {0x00, 0x80, 0x80, 0xff}, {0xc0, 0xc0, 0xc0, 0xff}, {0x80, 0x80, 0x80, 0xff},
        {0xff, 0x00, 0x00, 0xff}, {0x00, 0xff, 0x00, 0xff}, {0xff, 0xff, 0x00, 0xff},
        {0x00, 0x00, 0xff, 0xff}, {0xff, 0x00, 0xff, 0xff}, {0x00, 0xff, 0xff, 0xff},
        {0xff, 0xff, 0xff, 0xff},
    };
    return palette;
}

const std::vector<Rgba>& CubePalette() {
    static const std::vector<Rgba> palette = [] {
        std::vector<Rgba> p;
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    p.push_back({uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51), 0xff});
        // Greys between the cube's own grey levels, evenly spread over 0..255.
        for (int i = 1; i <= 40; ++i) {
            auto v = uint8_t((i * 255 + 20) / 41);
            p.push_back({v, v, v, 0xff});
        }
        return p;
    }();
    return palette;
}

uint8_t NearestIndex(const std::vector<Rgba>& palette, Rgba c) {
    int best = 0;
    long bestDistance = -1;
    for (size_t i = 0; i < palette.size(); ++i) {
        long dr = long(palette[i].r) - c.r;
        long dg = long(palette[i].g) - c.g;
        long db = long(palette[i].b) - c.b;
        // Weighted roughly by how much each channel contributes to perceived brightness.
        long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = int(i);
        }
    }
    return uint8_t(best);
}

// ---------------------------------------------------------------------------------------------
// Encoding

namespace {

void PutU16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(uint8_t(v & 0xff));
    out.push_back(uint8_t((v >> 8) & 0xff));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t((v >> (8 * i)) & 0xff));
}

size_t RowBytes(int width, int bitCount) {
    return size_t((width * bitCount + 31) / 32) * 4;
}

void Validate(const IconImage& image) {
    if (image.width < 1 || image.width > 256 || image.height < 1 || image.height > 256)
        throw std::invalid_argument("icon image size must be 1..256");
    const size_t count = size_t(image.width) * size_t(image.height);
    if (image.transparent.size() != count)
        throw std::invalid_argument("transparency mask does not match the image size");
    if (image.bitCount == 32) {
        if (image.pixels.size() != count || !image.palette.empty() || !image.indices.empty())
            throw std::invalid_argument("32-bit image needs pixels only");
        return;
    }
    if (image.bitCount != 4 && image.bitCount != 8)
        throw std::invalid_argument("bit count must be 4, 8 or 32");
    if (image.palette.size() != (size_t(1) << image.bitCount))
        throw std::invalid_argument("palette must hold exactly 2^bitCount colours");
    if (image.indices.size() != count || !image.pixels.empty())
        throw std::invalid_argument("palette image needs indices only");
    for (uint8_t index : image.indices)
        if (index >= image.palette.size())
            throw std::invalid_argument("palette index out of range");
}

} // namespace

std::vector<uint8_t> EncodeIconImage(const IconImage& image) {
    Validate(image);
    const int w = image.width;
    const int h = image.height;
    const size_t xorRow = RowBytes(w, image.bitCount);
    const size_t andRow = RowBytes(w, 1);
    const size_t paletteBytes = image.palette.size() * 4;

    std::vector<uint8_t> out;
    out.reserve(40 + paletteBytes + (xorRow + andRow) * size_t(h));

    // BITMAPINFOHEADER; the height covers both the XOR bitmap and the AND mask.
    PutU32(out, 40);
    PutU32(out, uint32_t(w));
    PutU32(out, uint32_t(2 * h));
    PutU16(out, 1);
    PutU16(out, unsigned(image.bitCount));
    PutU32(out, 0); // BI_RGB
    PutU32(out, uint32_t((xorRow + andRow) * size_t(h)));
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, 0); // full palette
    PutU32(out, 0);

    for (const Rgba& c : image.palette) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }

    for (int y = h - 1; y >= 0; --y) {
        std::vector<uint8_t> row(xorRow, 0);
        const size_t base = size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) {
            const size_t i = base + size_t(x);
            if (image.bitCount == 32) {
                const Rgba& c = image.pixels[i];
                row[size_t(x) * 4 + 0] = c.b;
                row[size_t(x) * 4 + 1] = c.g;
                row[size_t(x) * 4 + 2] = c.r;
                row[size_t(x) * 4 + 3] = c.a;
            } else if (image.bitCount == 8) {
                row[size_t(x)] = image.indices[i];
            } else {
                // Two pixels per byte, the left one in the high nibble.
                row[size_t(x) / 2] |= uint8_t(image.indices[i] << ((x % 2 == 0) ? 4 : 0));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }

    for (int y = h - 1; y >= 0; --y) {
        std::vector<uint8_t> row(andRow, 0);
        const size_t base = size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x)
            if (image.transparent[base + size_t(x)])
                row[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<uint8_t> BuildIcon(const std::vector<IconImage>& images) {
    if (images.empty() || images.size() > 0xffff)
        throw std::invalid_argument("an icon needs 1..65535 images");

    std::vector<std::vector<uint8_t>> encoded;
    for (const IconImage& image : images)
        encoded.push_back(EncodeIconImage(image));

    std::vector<uint8_t> out;
    PutU16(out, 0); // reserved
    PutU16(out, 1); // icon (2 would be a cursor)
    PutU16(out, unsigned(images.size()));

    size_t offset = 6 + 16 * images.size();
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        // A dimension of 256 does not fit in a byte and is stored as 0.
        out.push_back(uint8_t(image.width & 0xff));
        out.push_back(uint8_t(image.height & 0xff));
        out.push_back(image.bitCount == 4 ? 16 : 0); // colour count; 0 means 256 or more
        out.push_back(0);
        PutU16(out, 1);
        PutU16(out, unsigned(image.bitCount));
        PutU32(out, uint32_t(encoded[i].size()));
        PutU32(out, uint32_t(offset));
        offset += encoded[i].size();
    }
    for (const auto& data : encoded)
        out.insert(out.end(), data.begin(), data.end());
    return out;
}

// ---------------------------------------------------------------------------------------------
// Geometry shared by the artwork

namespace {

struct Vec {
    double x;
    double y;
};

double Length(double x, double y) {
    return std::sqrt(x * x + y * y);
}

// Distance from p to the segment ab.
double SegmentDistance(Vec p, Vec a, Vec b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy);
    t = std::clamp(t, 0.0, 1.0);
    return Length(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

// Distance from p to the infinite line through a and b.
double LineDistance(Vec p, Vec a, Vec b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    return std::fabs((p.x - a.x) * dy - (p.y - a.y) * dx) / Length(dx, dy);
}

bool InRoundedRect(Vec p, double x0, double y0, double x1, double y1, double radius) {
    if (p.x < x0 || p.x >= x1 || p.y < y0 || p.y >= y1)
        return false;
    const double cx = std::clamp(p.x, x0 + radius, x1 - radius);
    const double cy = std::clamp(p.y, y0 + radius, y1 - radius);
    return Length(p.x - cx, p.y - cy) <= radius;
}

bool InCircle(Vec p, Vec c, double radius) {
    return Length(p.x - c.x, p.y - c.y) <= radius;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Program icon: a key cap with a magnifying glass over its lower right.
//
// The picture is laid out on a 16-unit grid, so the key's edges land on whole pixels at 16x16
// and at every size that is a multiple of 16.

namespace {

enum Ink : int { kNone, kRim, kFace, kShine, kRing, kLens, kGlint, kHandle, kInkCount };

// Which ink covers point p (in units). Later layers win.
Ink InkAt(Vec p, double pixelsPerUnit) {
    // The ring and the handle keep a minimum width in pixels so that they stay solid at the
    // smallest sizes.
    auto atLeast = [&](double units, double pixels) {
        return std::max(units, pixels / pixelsPerUnit);
    };

    Ink ink = kNone;
    if (InRoundedRect(p, 1, 1, 14, 14, 2.5))
        ink = kRim;
    if (InRoundedRect(p, 2, 2, 13, 11.5, 1.6))
        ink = kFace;
    // A soft band along the top of the face hints at the key's curvature.
    if (pixelsPerUnit >= 2 && InRoundedRect(p, 2.6, 2.5, 12.4, 3.4, 0.45))
        ink = kShine;

    const Vec centre{9.5, 9.5};
    const double outer = 4.5;
    const double inner = outer - atLeast(1.35, 1.8);
    const double handleHalf = atLeast(1.15, 1.1);
    if (SegmentDistance(p, {12.3, 12.3}, {14.8, 14.8}) <= handleHalf)
        ink = kHandle;
    if (InCircle(p, centre, outer))
        ink = kRing;
    if (InCircle(p, centre, inner)) {
        ink = kLens;
        // A small reflection in the upper left of the lens, where there is room for it.
        if (pixelsPerUnit >= 2) {
            const double d = Length(p.x - centre.x, p.y - centre.y);
            const double angle = std::atan2(p.y - centre.y, p.x - centre.x);
            if (d >= inner * 0.55 && d <= inner * 0.78 && angle > -2.6 && angle < -1.5)
                ink = kGlint;
        }
    }
    return ink;
}

// True colour of an ink at point p; gentle vertical gradients give the 32-bit images depth.
Rgba InkColour(Ink ink, Vec p) {
    auto mix = [](Rgba a, Rgba b, double t) {
        t = std::clamp(t, 0.0, 1.0);
        auto lerp = [t](uint8_t u, uint8_t v) { return uint8_t(std::lround(u + (v - u) * t)); };
        return Rgba{lerp(a.r, b.r), lerp(a.g, b.g), lerp(a.b, b.b), 0xff};
    };
    switch (ink) {
    case kRim:
        return mix({0x8e, 0x94, 0x9c, 0xff}, {0x5c, 0x62, 0x6a, 0xff}, (p.y - 1) / 13);
    case kFace:
        return mix({0xf2, 0xf3, 0xf5, 0xff}, {0xcf, 0xd2, 0xd6, 0xff}, (p.y - 2) / 9.5);
    case kShine:
        return {0xfc, 0xfc, 0xfd, 0xff};
    case kRing:
        return {0x22, 0x30, 0x40, 0xff};
    case kLens:
        return mix({0xc4, 0xe8, 0xfa, 0xff}, {0x86, 0xc6, 0xea, 0xff}, (p.y - 6.5) / 7);
    case kGlint:
        return {0xff, 0xff, 0xff, 0xff};
    case kHandle:
        return {0x1a, 0x1e, 0x24, 0xff};
    default:
        return {};
    }
}

// Colours for the 256-colour version. They are flat, as gradients would only band.
Rgba FlatInkColour(Ink ink) {
    switch (ink) {
    case kRim:
        return {0x78, 0x7e, 0x86, 0xff};
    case kFace:
        return {0xe0, 0xe2, 0xe6, 0xff};
    case kLens:
        return {0x99, 0xcc, 0xff, 0xff};
    default:
        return InkColour(ink, {});
    }
}

// Hand-picked colours for the 16-colour version; nearest-colour matching would turn the lens
// the same grey as the key.
uint8_t InkVgaIndex(Ink ink) {
    switch (ink) {
    case kRim:
        return kVgaGrey;
    case kFace:
        return kVgaSilver;
    case kShine:
        return kVgaWhite;
    case kLens:
        return kVgaCyan;
    case kGlint:
        return kVgaWhite;
    default:
        return kVgaBlack;
    }
}

} // namespace

IconImage DrawAppIcon(int size, int bitCount) {
    if (size < 1 || size > 256 || (bitCount != 4 && bitCount != 8 && bitCount != 32))
        throw std::invalid_argument("unsupported app icon size or depth");

    // Samples per pixel along each axis; large images need fewer for the same smoothness.
    const int samples = size > 64 ? 4 : 8;
    const double pixelsPerUnit = size / 16.0;
    const size_t count = size_t(size) * size_t(size);

    IconImage image;
    image.width = size;
    image.height = size;
    image.bitCount = bitCount;
    image.transparent.assign(count, 0);
    if (bitCount == 32) {
        image.pixels.assign(count, Rgba{});
    } else {
        image.palette = bitCount == 4 ? VgaPalette() : CubePalette();
        image.indices.assign(count, 0);
    }

    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            std::array<int, kInkCount> inkCount{};
            int covered = 0;
            long sumR = 0, sumG = 0, sumB = 0;
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    const Vec p{(x + (sx + 0.5) / samples) / pixelsPerUnit,
                                (y + (sy + 0.5) / samples) / pixelsPerUnit};
                    const Ink ink = InkAt(p, pixelsPerUnit);
                    if (ink == kNone)
                        continue;
                    ++covered;
                    ++inkCount[ink];
                    const Rgba c = InkColour(ink, p);
                    sumR += c.r;
                    sumG += c.g;
                    sumB += c.b;
                }
            }

            const size_t i = size_t(y) * size_t(size) + size_t(x);
            const int total = samples * samples;
            if (bitCount == 32) {
                if (covered == 0) {
                    image.transparent[i] = 1;
                    continue;
                }
                auto avg = [covered](long sum) { return uint8_t((sum + covered / 2) / covered); };
                const auto alpha = uint8_t((covered * 255 + total / 2) / total);
                image.pixels[i] = {avg(sumR), avg(sumG), avg(sumB), alpha};
                image.transparent[i] = alpha < 128;
                continue;
            }

            // Palette images have no partial transparency: a pixel is shown when at least half
            // of it is covered.
            if (2 * covered < total) {
                image.transparent[i] = 1;
                continue;
            }
            // Blended edge colours land on odd hues in a small palette, so each pixel takes the
            // ink that covers most of it (the lower layer on ties, which keeps circles round).
            int best = kNone + 1;
            for (int ink = kNone + 1; ink < kInkCount; ++ink)
                if (inkCount[size_t(ink)] > inkCount[size_t(best)])
                    best = ink;
            if (bitCount == 8) {
                image.indices[i] = NearestIndex(image.palette, FlatInkColour(Ink(best)));
            } else {
                image.indices[i] = InkVgaIndex(Ink(best));
            }
        }
    }
    return image;
}

const std::vector<int>& AppIconSizes() {
    static const std::vector<int> sizes = {16, 24, 32, 48, 64, 128, 256};
    return sizes;
}

const std::vector<int>& AppIconDepths() {
    static const std::vector<int> depths = {32, 8, 4};
    return depths;
}

std::vector<IconImage> AppIconImages() {
    std::vector<IconImage> images;
    for (int depth : AppIconDepths())
        for (int size : AppIconSizes())
            images.push_back(DrawAppIcon(size, depth));
    return images;
}

// ---------------------------------------------------------------------------------------------
// State icons: pixel-exact marks in pure VGA colours on a transparent 32x32 image.

namespace {

constexpr int kStateSize = 32;

// Marks are tested at pixel centres, in pixel coordinates, without anti-aliasing.
struct Canvas {
    std::vector<uint8_t> index = std::vector<uint8_t>(kStateSize * kStateSize, 0);
    std::vector<uint8_t> set = std::vector<uint8_t>(kStateSize * kStateSize, 0);

    template <typename Inside> void Fill(uint8_t colour, Inside inside) {
        for (int y = 0; y < kStateSize; ++y)
            for (int x = 0; x < kStateSize; ++x)
                if (inside(Vec{x + 0.5, y + 0.5})) {
                    index[size_t(y * kStateSize + x)] = colour;
                    set[size_t(y * kStateSize + x)] = 1;
                }
    }
};

// A block capital R in the box [x0, x0+w) x [y0, y0+h) with strokes `t` pixels thick.
auto LetterR(double x0, double y0, double w, double h, double t) {
    return [=](Vec p) {
        if (p.x < x0 || p.x >= x0 + w || p.y < y0 || p.y >= y0 + h)
            return false;
        if (p.x < x0 + t) // stem
            return true;
        // The bowl: a D shape whose left side merges into the stem. Extending the rounded
        // rectangles to the left of the stem keeps their left corners square.
        const double bowlBottom = y0 + std::round(h * 0.56);
        const double radius = t * 1.25;
        const double holeRadius = std::max(radius - t, 1.0);
        const bool inBowl = InRoundedRect(p, x0 - radius, y0, x0 + w, bowlBottom, radius);
        const bool inHole =
            InRoundedRect(p, x0 + t - holeRadius, y0 + t, x0 + w - t, bowlBottom - t, holeRadius);
        if (inBowl && !inHole)
            return true;
        // The leg runs from the bowl's lower middle to the bottom right corner, cut flat at
        // both ends.
        if (p.y < bowlBottom - t * 0.5)
            return false;
        const Vec legTop{x0 + w * 0.5, bowlBottom - t * 0.5};
        const Vec legFoot{x0 + w - t * 0.55, y0 + h};
        return LineDistance(p, legTop, legFoot) <= t * 0.55;
    };
}

// A diagonal cross filling the square [x0, x0+s)^2 with strokes `t` pixels thick.
auto Cross(double x0, double y0, double s, double t) {
    return [=](Vec p) {
        const double inset = t * 0.5;
        const Vec a{x0 + inset, y0 + inset};
        const Vec b{x0 + s - inset, y0 + s - inset};
        const Vec c{x0 + s - inset, y0 + inset};
        const Vec d{x0 + inset, y0 + s - inset};
        return SegmentDistance(p, a, b) <= t * 0.5 || SegmentDistance(p, c, d) <= t * 0.5;
    };
}

// A check mark in the box [x0, x0+w) x [y0, y0+h) with strokes `t` pixels thick.
auto Check(double x0, double y0, double w, double h, double t) {
    return [=](Vec p) {
        const double r = t * 0.5;
        const Vec start{x0 + r, y0 + h * 0.55};
        const Vec bottom{x0 + w * 0.38, y0 + h - r};
        const Vec end{x0 + w - r, y0 + r};
        return SegmentDistance(p, start, bottom) <= r || SegmentDistance(p, bottom, end) <= r;
    };
}

// Keeps only the parts of each colour that are at least 3x3 pixels thick. Any 3x3 square
// contains a pixel of every 2x2 sampling grid, so nothing vanishes when the icon is shrunk to
// 16x16 by dropping every other pixel, and stray corners or slivers disappear.
void OpenEachColour(Canvas& canvas) {
    auto colourAt = [&](int x, int y) -> int {
        if (x < 0 || y < 0 || x >= kStateSize || y >= kStateSize)
            return -1;
        const size_t i = size_t(y * kStateSize + x);
        return canvas.set[i] ? canvas.index[i] : -1;
    };
    std::vector<uint8_t> keep(canvas.set.size(), 0);
    for (int y = 0; y < kStateSize; ++y) {
        for (int x = 0; x < kStateSize; ++x) {
            const int colour = colourAt(x, y);
            if (colour < 0)
                continue;
            // Is the 3x3 square centred on (x, y) solid?
            bool solid = true;
            for (int dy = -1; dy <= 1 && solid; ++dy)
                for (int dx = -1; dx <= 1 && solid; ++dx)
                    solid = colourAt(x + dx, y + dy) == colour;
            if (!solid)
                continue;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    keep[size_t((y + dy) * kStateSize + x + dx)] = 1;
        }
    }
    for (size_t i = 0; i < keep.size(); ++i) {
        if (!keep[i]) {
            canvas.set[i] = 0;
            canvas.index[i] = 0;
        }
    }
}

} // namespace

IconImage DrawStateIcon(StateIcon icon) {
    Canvas canvas;
    switch (icon) {
    case StateIcon::Detected:
        canvas.Fill(kVgaYellow, LetterR(5, 2, 23, 28, 6));
        break;
    case StateIcon::Blocked:
        canvas.Fill(kVgaRed, Cross(3, 3, 26, 5));
        break;
    case StateIcon::Allowed:
        canvas.Fill(kVgaGreen, Check(2, 4, 28, 23, 6));
        break;
    case StateIcon::DetectedBlocked:
        canvas.Fill(kVgaYellow, LetterR(1, 1, 18, 22, 5));
        canvas.Fill(kVgaRed, Cross(13, 13, 19, 4.5));
        break;
    case StateIcon::DetectedAllowed:
        canvas.Fill(kVgaYellow, LetterR(1, 1, 18, 22, 5));
        canvas.Fill(kVgaGreen, Check(10, 10, 22, 20, 5));
        break;
    }
    OpenEachColour(canvas);

    IconImage image;
    image.width = kStateSize;
    image.height = kStateSize;
    image.bitCount = 4;
    image.palette = VgaPalette();
    image.indices = canvas.index;
    image.transparent.resize(canvas.set.size());
    for (size_t i = 0; i < canvas.set.size(); ++i)
        image.transparent[i] = !canvas.set[i];
    return image;
}

std::vector<IconFile> BuildAllIcons() {
    return {
        {"snoopsweep.ico", BuildIcon(AppIconImages())},
        {"detected.ico", BuildIcon({DrawStateIcon(StateIcon::Detected)})},
        {"blocked.ico", BuildIcon({DrawStateIcon(StateIcon::Blocked)})},
        {"allowed.ico", BuildIcon({DrawStateIcon(StateIcon::Allowed)})},
        {"detected_blocked.ico", BuildIcon({DrawStateIcon(StateIcon::DetectedBlocked)})},
        {"detected_allowed.ico", BuildIcon({DrawStateIcon(StateIcon::DetectedAllowed)})},
    };
}

} // namespace icongen
