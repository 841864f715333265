#include "tools/fntf/FntfWriter.h"

#include <stdexcept>

#include "tools/archive/ArchiveWriter.h"

namespace velk::fntf {

namespace {

void SetLe(Bytes& out, std::size_t at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

int BitsOf(int depthKind) {
    return depthKind == 0 ? 1 : depthKind == 1 ? 4 : 8;
}

// The rows of a glyph's bitmap and their length.
Bytes PackRows(const Glyph& g, int bits, std::uint32_t* bytesPerRow) {
    if (g.pixels.size() != static_cast<std::size_t>(g.width) * g.height) {
        throw std::runtime_error("glyph pixels do not match its size");
    }
    std::uint32_t row = (static_cast<std::uint32_t>(g.width) * bits + 7) / 8 +
                        static_cast<std::uint32_t>(g.rowPadding);
    *bytesPerRow = row;
    Bytes out(static_cast<std::size_t>(row) * g.height, 0);
    for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x) {
            int v = g.pixels[static_cast<std::size_t>(y) * g.width + x];
            std::uint8_t* p = &out[static_cast<std::size_t>(y) * row];
            if (bits == 1) {
                if (v) p[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            } else if (bits == 4) {
                p[x / 2] |= static_cast<std::uint8_t>((v & 15) << ((x % 2) ? 0 : 4));
            } else {
                p[x] = static_cast<std::uint8_t>(v);
            }
        }
    }
    return out;
}

struct Built {
    Bytes header;  // version 1 layout, the first 24 bytes included
    Bytes bitmaps;
    std::uint32_t decodeSize = 0;
    std::uint32_t above = 0;
};

Built Build(const Font& font) {
    if (font.version != 0 && font.version != 1) throw std::runtime_error("version 0 or 1");
    if (font.version == 0 && !font.kerning.empty()) {
        throw std::runtime_error("a version 0 image has no kerning");
    }
    if (font.depthKind < 0 || font.depthKind > 2) throw std::runtime_error("bad depth kind");
    const int bits = BitsOf(font.depthKind);
    Built b;
    const std::size_t glyphs = font.glyphs.size();
    b.header.assign(412 + 32 * glyphs + 16 * font.kerning.size(), 0);
    Bytes& h = b.header;
    for (std::size_t i = 0; i < font.face.size() && i < 127; ++i)
        SetLe(h, 24 + 2 * i, font.face[i], 2);
    const Metrics& m = font.metrics;
    SetLe(h, 280, m.thickness, 2);
    SetLe(h, 282, m.size, 2);
    SetLe(h, 284, m.height, 2);
    SetLe(h, 286, m.leadingAdjustment, 2);
    h[288] = m.italic;
    SetLe(h, 290, m.cellSize, 2);
    SetLe(h, 292, m.charSet, 2);
    SetLe(h, 294, m.encoding, 2);
    SetLe(h, 296, m.ascent, 2);
    SetLe(h, 300, font.kerning.size(), 4);
    h[344] = static_cast<std::uint8_t>(font.depthKind);
    for (std::size_t i = 0; i < glyphs; ++i) {
        const Glyph& g = font.glyphs[i];
        std::size_t at = 412 + 32 * i;
        std::uint32_t bytesPerRow = 0;
        Bytes rows = PackRows(g, bits, &bytesPerRow);
        if (rows.size() > b.decodeSize) b.decodeSize = static_cast<std::uint32_t>(rows.size());
        Bytes stored = g.compressed ? velk::archive::EncodeLz(rows.data(), rows.size()) : rows;
        SetLe(h, at, g.code, 4);
        h[at + 4] = g.compressed ? 1 : 0;
        SetLe(h, at + 6, static_cast<std::uint16_t>(g.originX), 2);
        SetLe(h, at + 8, static_cast<std::uint16_t>(g.top), 2);
        SetLe(h, at + 10, static_cast<std::uint16_t>(g.advance), 2);
        SetLe(h, at + 12, g.width, 2);
        SetLe(h, at + 14, g.height, 2);
        SetLe(h, at + 16, b.bitmaps.size(), 4);
        SetLe(h, at + 20, bytesPerRow, 4);
        b.bitmaps.insert(b.bitmaps.end(), stored.begin(), stored.end());
        if (g.code > 0xFFFF) ++b.above;
    }
    for (std::size_t i = 0; i < font.kerning.size(); ++i) {
        std::size_t at = 412 + 32 * glyphs + 16 * i;
        SetLe(h, at, font.kerning[i].first, 4);
        SetLe(h, at + 4, font.kerning[i].second, 4);
        SetLe(h, at + 8, static_cast<std::uint32_t>(font.kerning[i].amount), 4);
    }
    return b;
}

}  // namespace

Bytes FontDataHeader(const Font& font) {
    Built b = Build(font);
    Bytes image = WriteFontData(font);
    for (int i = 0; i < 24; ++i) b.header[i] = image[i];
    return b.header;
}

Bytes WriteFontData(const Font& font) {
    Built b = Build(font);
    Bytes body(b.header.begin() + 24, b.header.end());
    // A version 0 header lacks the 44 bytes at header offset 300.
    if (font.version == 0) body.erase(body.begin() + (300 - 24), body.begin() + (344 - 24));
    Bytes lz = velk::archive::EncodeLz(body.data(), body.size());
    Bytes image(24, 0);
    image[0] = 'F';
    image[1] = 'N';
    image[2] = 'T';
    image[3] = 'F';
    image[4] = static_cast<std::uint8_t>(font.version);
    SetLe(image, 8, 24 + lz.size(), 4);
    SetLe(image, 12, b.decodeSize, 4);
    SetLe(image, 16, font.glyphs.size(), 4);
    SetLe(image, 20, b.above, 4);
    image.insert(image.end(), lz.begin(), lz.end());
    image.insert(image.end(), b.bitmaps.begin(), b.bitmaps.end());
    return image;
}

}  // namespace velk::fntf
