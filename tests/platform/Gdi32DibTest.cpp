// gdi32's DIB sections and DIB output: every DIB variant GDI draws, drawn into a 24-bit section,
// equals Pillow's decode of the same DIB written as a BMP file; stretching takes the nearest
// source pixel and negative sizes mirror; DIBs GDI cannot draw copy no line.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Gdi32.h"

using namespace platform::gdi32;
namespace gdi = platform::gdi;

namespace {

// A packed DIB made at test time: header, colour table or masks, and pixel bytes.
struct TestDib {
    std::vector<BYTE> info;  // BITMAPINFOHEADER and what follows it
    std::vector<BYTE> bits;
    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(info.data()); }
    BITMAPINFOHEADER Header() const {
        BITMAPINFOHEADER h;
        std::memcpy(&h, info.data(), sizeof(h));
        return h;
    }
};

std::uint32_t Lcg(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

TestDib MakeDib(int width, int height, int bitCount, DWORD compression,
                std::vector<DWORD> masks = {}, std::uint32_t seed = 1) {
    TestDib d;
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = compression;
    d.info.resize(40);
    if (bitCount <= 8) {
        int entries = 1 << bitCount;
        for (int i = 0; i < entries; ++i) {
            // Entry 0 is black, so that pixels run-length data skips look the same everywhere.
            BYTE e[4] = {BYTE(i * 37 + 11), BYTE(i * 91 + 5), BYTE(i * 53 + 200), 0};
            if (i == 0) e[0] = e[1] = e[2] = 0;
            d.info.insert(d.info.end(), e, e + 4);
        }
    }
    for (DWORD m : masks) {
        BYTE b[4];
        std::memcpy(b, &m, 4);
        d.info.insert(d.info.end(), b, b + 4);
    }
    int rows = height < 0 ? -height : height;
    size_t stride = (size_t(width) * bitCount + 31) / 32 * 4;
    if (compression == BI_RGB || compression == BI_BITFIELDS) {
        d.bits.resize(stride * rows);
        for (auto& b : d.bits) b = static_cast<BYTE>(Lcg(seed));
    }
    h.biSizeImage = static_cast<DWORD>(d.bits.size());
    std::memcpy(d.info.data(), &h, sizeof(h));
    return d;
}

// Run-length data, rows bottom first: runs, a literal run, rows ended early and a full last row
// (Pillow needs every row). (Pillow misreads delta codes and odd
// RLE4 literals, so those are checked without it.)
TestDib MakeRleDib(bool four, std::vector<BYTE> data = {}) {
    TestDib d = MakeDib(10, 4, four ? 4 : 8, four ? BI_RLE4 : BI_RLE8);
    if (data.empty()) {
        data = four ? std::vector<BYTE>{3, 0x12, 1, 0x34, 0, 6,    0x56, 0x78, 0x9A, 0,    0, 0,
                                        2, 0xAB, 0, 0,    4, 0xEF, 0,    0,    10,   0xCD, 0, 1}
                    : std::vector<BYTE>{3, 1, 2, 7, 0, 5, 3, 4, 5, 6,  8,  0, 0,
                                        0, 2, 9, 0, 0, 4, 5, 0, 0, 10, 11, 0, 1};
    }
    d.bits = data;
    BITMAPINFOHEADER h = d.Header();
    h.biSizeImage = static_cast<DWORD>(data.size());
    std::memcpy(d.info.data(), &h, sizeof(h));
    return d;
}

// Writes each DIB as a ".bmp" file and returns Pillow's RGB decodes of them, rows top first (an
// empty vector where Pillow failed), from one run of Python.
std::vector<std::vector<BYTE>> PillowDecode(const std::vector<const TestDib*>& dibs) {
    auto dir = std::filesystem::temp_directory_path() / ("gdi32dib_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string files;
    for (size_t i = 0; i < dibs.size(); ++i) {
        const TestDib& d = *dibs[i];
        auto path = dir / (std::to_string(i) + ".bmp");
        BITMAPFILEHEADER f{};
        f.bfType = 0x4D42;
        f.bfOffBits = static_cast<DWORD>(14 + d.info.size());
        f.bfSize = static_cast<DWORD>(f.bfOffBits + d.bits.size());
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(&f), sizeof(f));
        out.write(reinterpret_cast<const char*>(d.info.data()), std::streamsize(d.info.size()));
        out.write(reinterpret_cast<const char*>(d.bits.data()), std::streamsize(d.bits.size()));
        files += " " + path.string();
    }
    std::string command =
        "/usr/bin/python3 -c \"import sys; from PIL import Image\n"
        "for p in sys.argv[1:]:\n"
        "  try: b = Image.open(p).convert('RGB').tobytes()\n"
        "  except Exception: b = b''\n"
        "  sys.stdout.buffer.write(b'%d\\n' % len(b) + b)\" " +
        files;
    std::vector<std::vector<BYTE>> result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe != nullptr) {
        size_t size = 0;
        while (std::fscanf(pipe, "%zu", &size) == 1) {
            std::fgetc(pipe);
            std::vector<BYTE> pixels(size);
            pixels.resize(std::fread(pixels.data(), 1, size, pipe));
            result.push_back(std::move(pixels));
        }
        pclose(pipe);
    }
    std::filesystem::remove_all(dir);
    result.resize(dibs.size());
    return result;
}

// A DIB section selected into a memory context.
struct Target {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    BYTE* bits = nullptr;
    int width = 0, height = 0;
    size_t stride = 0;

    Target(int w, int h, int bitCount, std::vector<DWORD> masks = {}) : width(w), height(h) {
        std::vector<BYTE> info(40 + 12, 0);
        BITMAPINFOHEADER hd{};
        hd.biSize = 40;
        hd.biWidth = w;
        hd.biHeight = -h;
        hd.biPlanes = 1;
        hd.biBitCount = static_cast<WORD>(bitCount);
        hd.biCompression = masks.empty() ? BI_RGB : BI_BITFIELDS;
        std::memcpy(info.data(), &hd, sizeof(hd));
        for (size_t i = 0; i < masks.size(); ++i) std::memcpy(&info[40 + i * 4], &masks[i], 4);
        dc = CreateCompatibleDC(nullptr);
        void* p = nullptr;
        bitmap = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS,
                                  &p, nullptr, 0);
        bits = static_cast<BYTE*>(p);
        previous = SelectObject(dc, bitmap);
        stride = (size_t(w) * bitCount + 31) / 32 * 4;
    }
    ~Target() {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    // The 24-bit section's pixels as RGB, rows top first.
    std::vector<BYTE> Rgb() const {
        std::vector<BYTE> out;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const BYTE* p = bits + y * stride + x * 3;
                out.insert(out.end(), {p[2], p[1], p[0]});
            }
        }
        return out;
    }
};

TEST(Gdi32DibTest, EveryVariantDrawsAsPillowDecodesIt) {
    struct Case {
        const char* name;
        TestDib dib;
    };
    const std::vector<Case> cases = {
        {"1-bit bottom-up", MakeDib(13, 5, 1, BI_RGB)},
        {"1-bit top-down", MakeDib(13, -5, 1, BI_RGB)},
        {"4-bit bottom-up", MakeDib(7, 3, 4, BI_RGB)},
        {"4-bit top-down", MakeDib(7, -3, 4, BI_RGB)},
        {"8-bit bottom-up", MakeDib(5, 4, 8, BI_RGB)},
        {"8-bit top-down", MakeDib(5, -4, 8, BI_RGB)},
        {"16-bit 5-5-5 bottom-up", MakeDib(5, 3, 16, BI_RGB)},
        {"16-bit 5-5-5 top-down", MakeDib(5, -3, 16, BI_RGB)},
        {"24-bit bottom-up", MakeDib(5, 3, 24, BI_RGB)},
        {"24-bit top-down", MakeDib(5, -3, 24, BI_RGB)},
        {"32-bit bottom-up", MakeDib(4, 3, 32, BI_RGB)},
        {"32-bit top-down", MakeDib(4, -3, 32, BI_RGB)},
        {"RLE8", MakeRleDib(false)},
        {"RLE4", MakeRleDib(true)},
        {"bit fields 5-6-5", MakeDib(5, 3, 16, BI_BITFIELDS, {0xF800, 0x7E0, 0x1F})},
        {"bit fields 5-5-5 top-down", MakeDib(5, -3, 16, BI_BITFIELDS, {0x7C00, 0x3E0, 0x1F})},
        {"bit fields 8-8-8", MakeDib(4, 3, 32, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF})},
        {"bit fields 8-8-8 high", MakeDib(4, -3, 32, BI_BITFIELDS, {0xFF000000, 0xFF0000, 0xFF00})},
    };
    std::vector<const TestDib*> dibs;
    for (const Case& c : cases) dibs.push_back(&c.dib);
    std::vector<std::vector<BYTE>> decoded = PillowDecode(dibs);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        BITMAPINFOHEADER h = c.dib.Header();
        int rows = h.biHeight < 0 ? -h.biHeight : h.biHeight;
        Target target(h.biWidth, rows, 24);
        ASSERT_NE(target.bits, nullptr);
        EXPECT_EQ(SetDIBitsToDevice(target.dc, 0, 0, h.biWidth, rows, 0, 0, 0, rows,
                                    c.dib.bits.data(), c.dib.Info(), DIB_RGB_COLORS),
                  rows);
        ASSERT_EQ(decoded[i].size(), size_t(h.biWidth) * rows * 3);
        EXPECT_EQ(target.Rgb(), decoded[i]);
    }
}

TEST(Gdi32DibTest, RunLengthDeltasAndOddLiteralsSkipPixelsAndKeepTheirColour) {
    struct Case {
        const char* name;
        bool four;
        std::vector<BYTE> data;
        std::vector<int> indices;  // 10 x 4, rows top first; -1: kept
    };
    const std::vector<Case> cases = {
        {"RLE8 delta",
         false,
         {2, 5, 0, 2, 3, 1, 1, 6, 0, 0, 0, 3, 7, 8, 9, 0, 0, 1},
         {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // row 3: untouched
          7,  8,  9,  -1, -1, -1, -1, -1, -1, -1,  // row 2: literal of 3, padded
          -1, -1, -1, -1, -1, 6,  -1, -1, -1, -1,  // row 1: 3 right of where row 0 stopped
          5,  5,  -1, -1, -1, -1, -1, -1, -1, -1}},
        {"RLE4 odd literal",
         true,
         {0, 3, 0x12, 0x30, 0, 1},
         {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
          -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1,  2,  3,  -1, -1, -1, -1, -1, -1, -1}},
        {"cut short", false, {4, 9, 0}, {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                         -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                         -1, -1, 9,  9,  9,  9,  -1, -1, -1, -1, -1, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDib dib = MakeRleDib(c.four, c.data);
        Target target(10, 4, 24);
        std::memset(target.bits, 0x77, target.stride * 4);
        ASSERT_EQ(SetDIBitsToDevice(target.dc, 0, 0, 10, 4, 0, 0, 0, 4, dib.bits.data(), dib.Info(),
                                    DIB_RGB_COLORS),
                  4);
        std::vector<BYTE> expected;
        for (int index : c.indices) {
            if (index < 0) {
                expected.insert(expected.end(), {0x77, 0x77, 0x77});
            } else {
                const BYTE* e = &dib.info[40 + index * 4];
                expected.insert(expected.end(), {e[2], e[1], e[0]});
            }
        }
        EXPECT_EQ(target.Rgb(), expected);
    }
}

// Bit fields Pillow refuses, against a slow reader of the masks.
TEST(Gdi32DibTest, OddBitFieldsScaleEachChannelToFullRange) {
    const std::vector<DWORD> masks = {0xF00, 0xF0, 0xF};
    TestDib dib = MakeDib(6, -2, 16, BI_BITFIELDS, masks);
    Target target(6, 2, 24);
    ASSERT_EQ(SetDIBitsToDevice(target.dc, 0, 0, 6, 2, 0, 0, 0, 2, dib.bits.data(), dib.Info(),
                                DIB_RGB_COLORS),
              2);
    auto channel = [](DWORD pixel, DWORD mask) {
        int shift = 0;
        while (!(mask >> shift & 1)) ++shift;
        return BYTE(((pixel & mask) >> shift) * 255 / (mask >> shift));
    };
    std::vector<BYTE> expected;
    for (int i = 0; i < 12; ++i) {
        DWORD p = dib.bits[i * 2] | dib.bits[i * 2 + 1] << 8;
        expected.insert(expected.end(),
                        {channel(p, masks[0]), channel(p, masks[1]), channel(p, masks[2])});
    }
    EXPECT_EQ(target.Rgb(), expected);
}

TEST(Gdi32DibTest, StretchTakesTheNearestPixelAndNegativeWidthMirrors) {
    // A 4 x 1 row of 32-bit pixels 0, 1, 2, 3 (blue channel) stretched to 10 x 2.
    TestDib dib = MakeDib(4, 1, 32, BI_RGB);
    for (int i = 0; i < 4; ++i) {
        DWORD p = DWORD(i);
        std::memcpy(&dib.bits[i * 4], &p, 4);
    }
    Target target(10, 2, 32);
    EXPECT_EQ(StretchDIBits(target.dc, 0, 0, 10, 2, 0, 0, 4, 1, dib.bits.data(), dib.Info(),
                            DIB_RGB_COLORS, SRCCOPY),
              1);
    const DWORD* px = reinterpret_cast<const DWORD*>(target.bits);
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(px[x], DWORD(x * 4 / 10)) << x;
        EXPECT_EQ(px[10 + x], DWORD(x * 4 / 10)) << x;
    }
    // Mirrored one to one: from source x 3 with width -4.
    EXPECT_EQ(StretchDIBits(target.dc, 0, 0, 4, 1, 3, 0, -4, 1, dib.bits.data(), dib.Info(),
                            DIB_RGB_COLORS, SRCCOPY),
              1);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(px[x], DWORD(3 - x)) << x;
    // Shrunk: 4 to 2 takes columns 0 and 2; clipped on the left.
    EXPECT_EQ(StretchDIBits(target.dc, -1, 1, 2, 1, 0, 0, 4, 1, dib.bits.data(), dib.Info(),
                            DIB_RGB_COLORS, SRCCOPY),
              1);
    EXPECT_EQ(px[10], 2u);
    EXPECT_EQ(px[11], DWORD(1 * 4 / 10));
    // Only SRCCOPY is offered.
    EXPECT_EQ(StretchDIBits(target.dc, 0, 0, 4, 1, 0, 0, 4, 1, dib.bits.data(), dib.Info(),
                            DIB_RGB_COLORS, 0x00EE0086),
              0);
}

TEST(Gdi32DibTest, SourceRowsCountFromTheOriginAndBandsDrawOnlyTheirRows) {
    // A bottom-up 8-bit DIB of 1 x 4: stored rows 0..3 hold indices 1..4, so the picture's top
    // row is index 4.
    TestDib dib = MakeDib(1, 4, 8, BI_RGB);
    for (int r = 0; r < 4; ++r) dib.bits[r * 4] = BYTE(r + 1);
    auto colour = [&](int index) {
        const BYTE* e = &dib.info[40 + index * 4];
        return std::vector<BYTE>{e[2], e[1], e[0]};
    };
    Target target(1, 2, 24);
    // Source y 1, height 2: rows 1 and 2 from the bottom, the upper one drawn on top.
    EXPECT_EQ(SetDIBitsToDevice(target.dc, 0, 0, 1, 2, 0, 1, 0, 4, dib.bits.data(), dib.Info(),
                                DIB_RGB_COLORS),
              4);
    std::vector<BYTE> expected = colour(3);
    auto lower = colour(2);
    expected.insert(expected.end(), lower.begin(), lower.end());
    EXPECT_EQ(target.Rgb(), expected);

    // A band of stored rows 2 and 3 only: of rows 1 and 2, only row 2 is drawn.
    Target band(1, 2, 24);
    EXPECT_EQ(SetDIBitsToDevice(band.dc, 0, 0, 1, 2, 0, 1, 2, 2, dib.bits.data() + 8, dib.Info(),
                                DIB_RGB_COLORS),
              2);
    expected = colour(3);
    expected.insert(expected.end(), {0, 0, 0});
    EXPECT_EQ(band.Rgb(), expected);
}

TEST(Gdi32DibTest, DibsGdiCannotDrawCopyNoLine) {
    Target target(4, 2, 24);
    std::memset(target.bits, 0x5A, target.stride * 2);
    TestDib twoBit = MakeDib(4, 2, 2, BI_RGB);
    twoBit.bits.assign(8, 0xFF);
    TestDib jpeg = MakeDib(4, 2, 24, BI_RGB);
    BITMAPINFOHEADER h = jpeg.Header();
    h.biCompression = BI_JPEG;
    std::memcpy(jpeg.info.data(), &h, sizeof(h));
    TestDib png = jpeg;
    h.biCompression = BI_PNG;
    std::memcpy(png.info.data(), &h, sizeof(h));
    TestDib topDownRle = MakeRleDib(false);
    h = topDownRle.Header();
    h.biHeight = -h.biHeight;
    std::memcpy(topDownRle.info.data(), &h, sizeof(h));
    TestDib bitfields24 = MakeDib(4, 2, 24, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF});
    for (const TestDib* d : {&twoBit, &jpeg, &png, &topDownRle, &bitfields24}) {
        EXPECT_EQ(SetDIBitsToDevice(target.dc, 0, 0, 4, 2, 0, 0, 0, 2, d->bits.data(), d->Info(),
                                    DIB_RGB_COLORS),
                  0);
        EXPECT_EQ(StretchDIBits(target.dc, 0, 0, 4, 2, 0, 0, 4, 2, d->bits.data(), d->Info(),
                                DIB_RGB_COLORS, SRCCOPY),
                  0);
    }
    for (size_t i = 0; i < target.stride * 2; ++i) ASSERT_EQ(target.bits[i], 0x5A) << i;
    // A memory context without a section has no surface.
    HDC empty = CreateCompatibleDC(nullptr);
    TestDib ok = MakeDib(4, 2, 24, BI_RGB);
    EXPECT_EQ(
        SetDIBitsToDevice(empty, 0, 0, 4, 2, 0, 0, 0, 2, ok.bits.data(), ok.Info(), DIB_RGB_COLORS),
        0);
    DeleteDC(empty);
}

TEST(Gdi32DibTest, SectionsDescribeThemselvesAndRefuseWhatTheyCannotHold) {
    TestDib proto = MakeDib(5, 3, 16, BI_BITFIELDS, {0xF800, 0x7E0, 0x1F});
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, proto.Info(), DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(section, nullptr);
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(static_cast<BYTE*>(bits)[0], 0);
    EXPECT_EQ(GetObjectType(section), OBJ_BITMAP);
    BITMAP bm{};
    EXPECT_EQ(GetObjectA(section, sizeof(bm), &bm), int(sizeof(BITMAP)));
    EXPECT_EQ(bm.bmWidth, 5);
    EXPECT_EQ(bm.bmHeight, 3);
    EXPECT_EQ(bm.bmWidthBytes, 12);
    EXPECT_EQ(bm.bmBitsPixel, 16);
    EXPECT_EQ(bm.bmPlanes, 1);
    EXPECT_EQ(bm.bmBits, bits);
    DIBSECTION ds{};
    EXPECT_EQ(GetObjectW(section, sizeof(ds), &ds), int(sizeof(DIBSECTION)));
    EXPECT_EQ(ds.dsBmih.biHeight, 3);
    EXPECT_EQ(ds.dsBmih.biCompression, BI_BITFIELDS);
    EXPECT_EQ(ds.dsBmih.biSizeImage, 36u);
    EXPECT_EQ(ds.dsBitfields[0], 0xF800u);
    EXPECT_EQ(ds.dsBitfields[2], 0x1Fu);
    EXPECT_EQ(GetObjectA(section, 4, &bm), 0);
    EXPECT_TRUE(DeleteObject(section));

    struct Bad {
        const char* name;
        LONG width, height;
        WORD bitCount;
        DWORD compression;
    };
    for (const Bad& b : {Bad{"zero width", 0, 4, 24, BI_RGB}, Bad{"zero height", 4, 0, 24, BI_RGB},
                         Bad{"2 bits", 4, 4, 2, BI_RGB}, Bad{"RLE8", 4, 4, 8, BI_RLE8},
                         Bad{"24-bit fields", 4, 4, 24, BI_BITFIELDS},
                         Bad{"too large", 0x10000, 0x10000, 32, BI_RGB}}) {
        SCOPED_TRACE(b.name);
        TestDib d = MakeDib(1, 1, 24, BI_RGB);
        d.info.resize(40 + 12);
        BITMAPINFOHEADER h = d.Header();
        h.biWidth = b.width;
        h.biHeight = b.height;
        h.biBitCount = b.bitCount;
        h.biCompression = b.compression;
        std::memcpy(d.info.data(), &h, sizeof(h));
        bits = reinterpret_cast<void*>(1);
        EXPECT_EQ(CreateDIBSection(nullptr, d.Info(), DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
        EXPECT_EQ(bits, nullptr);
    }
}

TEST(Gdi32DibTest, DrawsIntoBitFieldAndPaletteSectionsAndWindowSurfaces) {
    TestDib dib = MakeDib(2, -1, 24, BI_RGB);
    const BYTE colour[6] = {0xFF, 0x80, 0x00, 0x00, 0x00, 0xFF};  // blue-ish, then red
    std::memcpy(dib.bits.data(), colour, 6);
    Target rgb565(2, 1, 16, {0xF800, 0x7E0, 0x1F});
    ASSERT_EQ(SetDIBitsToDevice(rgb565.dc, 0, 0, 2, 1, 0, 0, 0, 1, dib.bits.data(), dib.Info(),
                                DIB_RGB_COLORS),
              1);
    const auto* p16 = reinterpret_cast<const std::uint16_t*>(rgb565.bits);
    EXPECT_EQ(p16[0], (0x80 >> 2) << 5 | 0x1F);
    EXPECT_EQ(p16[1], 0xF800);

    static std::vector<std::uint32_t> client(3 * 2, 0xFFFFFFFF);
    gdi::SetWindowHooks(
        [](HWND, gdi::Surface* out) {
            out->bits = reinterpret_cast<BYTE*>(client.data());
            out->width = 3;
            out->height = 2;
            out->pitch = 12;
            out->bitCount = 32;
            out->redMask = 0xFF;  // a surface in red-green-blue byte order
            out->greenMask = 0xFF00;
            out->blueMask = 0xFF0000;
            return true;
        },
        nullptr);
    gdi::DeviceContext window;
    window.window = reinterpret_cast<HWND>(0x1234);
    HDC dc = gdi::AddDc(window);
    EXPECT_EQ(StretchDIBits(dc, 1, 0, 2, 2, 0, 0, 2, 1, dib.bits.data(), dib.Info(), DIB_RGB_COLORS,
                            SRCCOPY),
              1);
    EXPECT_EQ(client[0], 0xFFFFFFFFu);
    EXPECT_EQ(client[1], 0x00FF8000u);
    EXPECT_EQ(client[2], 0x000000FFu);
    EXPECT_EQ(client[4], 0x00FF8000u);
    gdi::RemoveDc(dc);
    gdi::SetWindowHooks(nullptr, nullptr);
}

}  // namespace
