// Our writer of font data images ("FNTF"): the inverse of the font module's reader. It writes
// both header versions, glyph bitmaps of 1, 4 or 8 bits per pixel, each stored as it is or
// LZ-coded, and kerning pairs. Tests make their fixtures with it; the build makes the built-in
// fallback font's data image with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velk::fntf {

using Bytes = std::vector<std::uint8_t>;

// The metrics block the font handle copies whole.
struct Metrics {
    std::uint16_t thickness = 6;
    std::uint16_t size = 16;
    std::uint16_t height = 17;
    std::uint16_t leadingAdjustment = 0;
    std::uint8_t italic = 0;
    std::uint16_t cellSize = 20;
    std::uint16_t charSet = 0;
    std::uint16_t encoding = 0xFFFF;
    std::uint16_t ascent = 14;
};

struct Glyph {
    std::uint32_t code = 0;
    std::int16_t originX = 0;
    std::int16_t top = 0;
    std::int16_t advance = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    // One value per pixel, row by row: 0 or 1 for 1-bit images, 0..15 for 4-bit, 0..255 for
    // 8-bit.
    std::vector<int> pixels;
    bool compressed = false;
    // Extra bytes at the end of each row (the rows are at least as long as the pixels need).
    int rowPadding = 0;
};

struct KerningPair {
    std::uint32_t first, second;
    std::int32_t amount;
};

struct Font {
    int version = 1;  // 0 or 1
    std::u16string face = u"VelkData";
    Metrics metrics;
    int depthKind = 0;  // 0: 1 bit, 1: 4 bits, 2: 8 bits
    std::vector<Glyph> glyphs;
    std::vector<KerningPair> kerning;  // version 1 only
};

// The image. Throws std::runtime_error for a font the format cannot hold.
Bytes WriteFontData(const Font& font);

// The header as the reader rebuilds it (the image's first 24 bytes, then the decoded body, in the
// version 1 layout), for tests that look at single fields.
Bytes FontDataHeader(const Font& font);

}  // namespace velk::fntf
