// A PNG byte builder for the PNG reader tests, the fuzz seeds and the benchmark: the chunks are
// made field by field, the rows filtered with a chosen filter type per row and deflated by zlib.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace velk_test {

struct PngSpec {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    int depth = 8;
    int colorType = 2;
    // Unfiltered rows, each (width x bits per pixel + 7) / 8 bytes, top row first.
    std::vector<std::uint8_t> rows;
    // Filter type of row y: filters[y % size]; types above 4 are written as they are (the row's
    // bytes then stay unfiltered).
    std::vector<std::uint8_t> filters = {0};
    std::vector<std::uint8_t> palette;  // PLTE data (red, green, blue entries); none when empty
    std::vector<std::uint8_t> trns;     // tRNS data; none when empty
    bool hasTrns = false;               // writes tRNS even when empty
    int interlace = 0;
    bool badCrc = false;
    int idatChunks = 1;  // the deflated data is split into this many IDATs
    int level = 6;
};

inline int PngChannels(int colorType) {
    switch (colorType) {
        case 2:
            return 3;
        case 4:
            return 2;
        case 6:
            return 4;
        default:
            return 1;
    }
}

inline std::size_t PngRowBytes(const PngSpec& s) {
    return (std::size_t(s.width) * s.depth * PngChannels(s.colorType) + 7) / 8;
}

inline void PutBe32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void PutPngChunk(std::vector<std::uint8_t>& out, const char* type,
                        const std::vector<std::uint8_t>& data, bool badCrc) {
    PutBe32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
    if (badCrc) crc ^= 0x5A5A5A5A;
    PutBe32(out, static_cast<std::uint32_t>(crc));
}

inline std::uint8_t PngPaeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// The filtered image data: each row's filter byte and its filtered bytes.
inline std::vector<std::uint8_t> FilterPngRows(const PngSpec& s) {
    const std::size_t rowBytes = PngRowBytes(s);
    const int bpp = std::max(1, s.depth * PngChannels(s.colorType) / 8);
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> zero(rowBytes, 0);
    for (std::uint32_t y = 0; y < s.height; ++y) {
        const std::uint8_t* cur = s.rows.data() + y * rowBytes;
        const std::uint8_t* up = y ? cur - rowBytes : zero.data();
        const std::uint8_t type = s.filters[y % s.filters.size()];
        out.push_back(type);
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= std::size_t(bpp) ? cur[i - bpp] : 0;
            const int b = up[i];
            const int c = i >= std::size_t(bpp) ? up[i - bpp] : 0;
            int predicted = 0;
            switch (type) {
                case 1:
                    predicted = a;
                    break;
                case 2:
                    predicted = b;
                    break;
                case 3:
                    predicted = (a + b) / 2;
                    break;
                case 4:
                    predicted = PngPaeth(a, b, c);
                    break;
                default:
                    break;
            }
            out.push_back(static_cast<std::uint8_t>(cur[i] - predicted));
        }
    }
    return out;
}

inline std::vector<std::uint8_t> MakePng(const PngSpec& s) {
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<std::uint8_t> ihdr;
    PutBe32(ihdr, s.width);
    PutBe32(ihdr, s.height);
    ihdr.push_back(static_cast<std::uint8_t>(s.depth));
    ihdr.push_back(static_cast<std::uint8_t>(s.colorType));
    ihdr.push_back(0);
    ihdr.push_back(0);
    ihdr.push_back(static_cast<std::uint8_t>(s.interlace));
    PutPngChunk(out, "IHDR", ihdr, s.badCrc);
    if (!s.palette.empty()) PutPngChunk(out, "PLTE", s.palette, s.badCrc);
    if (!s.trns.empty() || s.hasTrns) PutPngChunk(out, "tRNS", s.trns, s.badCrc);
    const std::vector<std::uint8_t> raw = FilterPngRows(s);
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(size);
    compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), s.level);
    packed.resize(size);
    const std::size_t parts = static_cast<std::size_t>(std::max(1, s.idatChunks));
    for (std::size_t i = 0; i < parts; ++i) {
        const std::size_t from = packed.size() * i / parts;
        const std::size_t to = packed.size() * (i + 1) / parts;
        PutPngChunk(out, "IDAT",
                    std::vector<std::uint8_t>(packed.begin() + std::ptrdiff_t(from),
                                              packed.begin() + std::ptrdiff_t(to)),
                    s.badCrc);
    }
    PutPngChunk(out, "IEND", {}, s.badCrc);
    return out;
}

}  // namespace velk_test
