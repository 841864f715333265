// Byte builders of image files for the reader tests, the fuzz seeds and the benchmark: BMP, TGA
// and DDS files made field by field, and a pixel readout of base images by their format.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxFile.h"

namespace velk_test {

using Bytes = std::vector<std::uint8_t>;

inline void Put(Bytes& b, std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline std::uint32_t NextRandom(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

inline Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(NextRandom(seed));
    return b;
}

// Palette entry i (blue, green, red, 0); entry 0 is black.
inline void PaletteEntry(int i, std::uint8_t out[4]) {
    out[0] = i ? static_cast<std::uint8_t>(i * 37 + 11) : 0;
    out[1] = i ? static_cast<std::uint8_t>(i * 91 + 5) : 0;
    out[2] = i ? static_cast<std::uint8_t>(i * 53 + 200) : 0;
    out[3] = 0;
}

struct BmpSpec {
    int width = 1;
    int height = 1;  // negative: rows top first
    int bitCount = 24;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> masks;  // bit fields
    std::uint32_t headerSize = 40;
    std::uint32_t colorsUsed = 0;
    Bytes data;  // pixel data as stored
};

inline Bytes MakeBmp(const BmpSpec& s) {
    Bytes info;
    Put(info, s.headerSize, 4);
    Put(info, static_cast<std::uint32_t>(s.width), 4);
    Put(info, static_cast<std::uint32_t>(s.height), 4);
    Put(info, 1, 2);
    Put(info, static_cast<std::uint32_t>(s.bitCount), 2);
    Put(info, s.compression, 4);
    Put(info, static_cast<std::uint32_t>(s.data.size()), 4);
    Put(info, 2835, 4);
    Put(info, 2835, 4);
    Put(info, s.colorsUsed, 4);
    Put(info, 0, 4);
    for (std::uint32_t m : s.masks) Put(info, m, 4);  // inside a longer header, or behind it
    info.resize(std::max<std::size_t>(info.size(), s.headerSize), 0);
    if (s.bitCount <= 8) {
        int entries = s.colorsUsed ? static_cast<int>(s.colorsUsed) : 1 << s.bitCount;
        for (int i = 0; i < entries; ++i) {
            std::uint8_t e[4];
            PaletteEntry(i, e);
            info.insert(info.end(), e, e + 4);
        }
    }
    Bytes file = {'B', 'M'};
    Put(file, static_cast<std::uint32_t>(14 + info.size() + s.data.size()), 4);
    Put(file, 0, 4);
    Put(file, static_cast<std::uint32_t>(14 + info.size()), 4);
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), s.data.begin(), s.data.end());
    return file;
}

inline std::size_t BmpStride(int width, int bitCount) {
    return (static_cast<std::size_t>(width) * bitCount + 31) / 32 * 4;
}

// TGA run-length packets over stored pixels of `unit` bytes.
inline Bytes TgaRle(const Bytes& pixels, int unit) {
    Bytes out;
    const std::size_t n = pixels.size() / unit;
    std::size_t i = 0;
    auto same = [&](std::size_t a, std::size_t b) {
        return std::memcmp(&pixels[a * unit], &pixels[b * unit], unit) == 0;
    };
    while (i < n) {
        std::size_t run = 1;
        while (i + run < n && run < 128 && same(i, i + run)) ++run;
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
            out.insert(out.end(), &pixels[i * unit], &pixels[i * unit] + unit);
            i += run;
            continue;
        }
        std::size_t raw = 1;
        while (i + raw < n && raw < 128 && !(i + raw + 1 < n && same(i + raw, i + raw + 1))) ++raw;
        out.push_back(static_cast<std::uint8_t>(raw - 1));
        out.insert(out.end(), &pixels[i * unit], &pixels[(i + raw) * unit]);
        i += raw;
    }
    return out;
}

struct TgaSpec {
    int type = 2;
    int depth = 24;  // pixel depth, or the colour-map entry size of types 1 and 9
    int width = 1;
    int height = 1;
    int descriptor = 0x20;
    Bytes pixels;  // stored pixels (indices for types 1 and 9)
    int mapLength = 0;
    bool footer = false;
};

inline Bytes MakeTga(const TgaSpec& s) {
    const bool mapped = s.type == 1 || s.type == 9;
    Bytes f = {3, static_cast<std::uint8_t>(mapped ? 1 : 0), static_cast<std::uint8_t>(s.type)};
    Put(f, 0, 2);
    Put(f, mapped ? static_cast<std::uint32_t>(s.mapLength) : 0, 2);
    f.push_back(mapped ? static_cast<std::uint8_t>(s.depth) : 0);
    Put(f, 0, 2);
    Put(f, 0, 2);
    Put(f, static_cast<std::uint32_t>(s.width), 2);
    Put(f, static_cast<std::uint32_t>(s.height), 2);
    f.push_back(mapped ? 8 : static_cast<std::uint8_t>(s.depth));
    f.push_back(static_cast<std::uint8_t>(s.descriptor | (s.depth == 32 ? 8 : 0)));
    f.insert(f.end(), {'i', 'd', '!'});
    if (mapped) {
        Bytes map = RandomBytes(static_cast<std::size_t>(s.mapLength) * s.depth / 8, 77);
        f.insert(f.end(), map.begin(), map.end());
    }
    const int unit = mapped ? 1 : s.depth / 8;
    Bytes data = s.type >= 9 ? TgaRle(s.pixels, unit) : s.pixels;
    f.insert(f.end(), data.begin(), data.end());
    if (s.footer) {
        Put(f, 0, 4);
        Put(f, 0, 4);
        const char sig[] = "TRUEVISION-XFILE.";
        f.insert(f.end(), sig, sig + 18);
    }
    return f;
}

struct DdsSpec {
    int width = 1;
    int height = 1;
    std::uint32_t flags = 0x100F;
    std::uint32_t pitch = 0;
    std::uint32_t mipCount = 0;
    std::uint32_t pfFlags = 0x40;
    std::uint32_t fourCc = 0;
    std::uint32_t bitCount = 32;
    std::uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0};
    std::uint32_t caps = 0x1000;
    std::uint32_t caps2 = 0;
    Bytes data;
};

inline std::uint32_t FourCcOf(const char* s) {
    return std::uint32_t(std::uint8_t(s[0])) | std::uint32_t(std::uint8_t(s[1])) << 8 |
           std::uint32_t(std::uint8_t(s[2])) << 16 | std::uint32_t(std::uint8_t(s[3])) << 24;
}

inline Bytes MakeDds(const DdsSpec& s) {
    Bytes f = {'D', 'D', 'S', ' '};
    Put(f, 124, 4);
    Put(f, s.flags, 4);
    Put(f, static_cast<std::uint32_t>(s.height), 4);
    Put(f, static_cast<std::uint32_t>(s.width), 4);
    Put(f, s.pitch ? s.pitch : static_cast<std::uint32_t>(s.width) * s.bitCount / 8, 4);
    Put(f, 0, 4);
    Put(f, s.mipCount, 4);
    for (int i = 0; i < 11; ++i) Put(f, 0, 4);
    Put(f, 32, 4);
    Put(f, s.pfFlags, 4);
    Put(f, s.fourCc, 4);
    Put(f, s.bitCount, 4);
    for (std::uint32_t m : s.masks) Put(f, m, 4);
    Put(f, s.caps, 4);
    Put(f, s.caps2, 4);
    Put(f, 0, 4);
    Put(f, 0, 4);
    Put(f, 0, 4);
    f.insert(f.end(), s.data.begin(), s.data.end());
    return f;
}

// The image's pixels as RGB (or RGBA) bytes, rows top first, read by the format: palette entries
// for 1-byte palette pixels, each channel scaled to 0..255 otherwise.
inline Bytes ImagePixels(const ZiDaz::BASEIMAGE& image, bool alpha = false) {
    Bytes out;
    const ZiDaz::COLORFORMAT& f = image.Format;
    for (int y = 0; y < image.Height; ++y) {
        const auto* row = static_cast<const std::uint8_t*>(image.Pixels) +
                          static_cast<std::ptrdiff_t>(y) * image.Pitch;
        for (int x = 0; x < image.Width; ++x) {
            const std::uint8_t* p = row + x * f.BytesPerPixel;
            int r, g, b, a = 255;
            if (f.BytesPerPixel == 1 && f.ChannelCount == 0) {
                b = f.Palette[*p][0], g = f.Palette[*p][1], r = f.Palette[*p][2];
            } else {
                std::uint32_t v = 0;
                for (int i = 0; i < f.BytesPerPixel; ++i) v |= std::uint32_t(p[i]) << (8 * i);
                ZiDaz::DecomposeFormatColor(&f, v, &r, &g, &b, &a);
                if (f.AlphaWidth == 0) a = 255;
            }
            out.push_back(static_cast<std::uint8_t>(r));
            out.push_back(static_cast<std::uint8_t>(g));
            out.push_back(static_cast<std::uint8_t>(b));
            if (alpha) out.push_back(static_cast<std::uint8_t>(a));
        }
    }
    return out;
}

// Runs one reader on a file image held in memory.
inline int RunReader(ZiDaz::ImageReader reader, const Bytes& file, ZiDaz::BASEIMAGE* image,
                     int headerOnly = 0) {
    std::memset(image, 0, sizeof(*image));
    ZiDaz::MemoryStream* stream = ZiDaz::CreateMemoryStream(file.data(), file.size());
    ZiDaz::ImageReaderAccess access{ZiDaz::GetMemoryStreamAccess(), stream};
    const int r = reader(&access, image, headerOnly);
    ZiDaz::GetMemoryStreamAccess()->Close(stream);
    return r;
}

}  // namespace velk_test
