// Pixel formats, colour composition and the pixel-rectangle converter.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "Main/DxBaseImage.h"

using namespace ZiDaz;

namespace {

COLORFORMAT Format(int (*init)(COLORFORMAT*)) {
    COLORFORMAT f;
    std::memset(&f, 0, sizeof(f));
    init(&f);
    return f;
}

COLORFORMAT Masks(int bits, std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
    COLORFORMAT f;
    InitColorFormatFromMasks(&f, bits, r, g, b, a, 0, 0, 0);
    return f;
}

COLORFORMAT Channels(int count, int bits, int isFloat) {
    COLORFORMAT f;
    InitColorFormatFromMasks(&f, 0, 0, 0, 0, 0, count, bits, isFloat);
    return f;
}

// One row of pixels of any size, converted as a whole into a row of the destination format.
std::vector<std::uint8_t> ConvertRow(const COLORFORMAT& dest, const COLORFORMAT& source,
                                     const std::vector<std::uint8_t>& pixels, int width,
                                     int key = 0, std::uint32_t keyColor = 0, int toZero = 0,
                                     int fromRed = 0, int* result = nullptr) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * dest.BytesPerPixel + 8, 0xEE);
    const RECT rect{0, 0, width, 1};
    const int r =
        ConvertPixelRect(out.data(), 256, &dest, pixels.data(), 256, &source, nullptr, 0, nullptr,
                         0, 0, &rect, 0, key, keyColor, 0, toZero, fromRed, 0, 0);
    if (result != nullptr) *result = r;
    out.resize(static_cast<std::size_t>(width) * dest.BytesPerPixel);
    return out;
}

std::vector<std::uint8_t> Bytes32(std::initializer_list<std::uint32_t> values) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t v : values) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    return out;
}

std::vector<std::uint8_t> Bytes16(std::initializer_list<std::uint32_t> values) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return out;
}

TEST(ColorFormatTest, MaskFormatsDescribeTheirChannelsAndUnusedBits) {
    const COLORFORMAT x1 = Masks(16, 0x7C00, 0x3E0, 0x1F, 0);
    EXPECT_EQ(x1.RedWidth, 5);
    EXPECT_EQ(x1.RedPosition, 10);
    EXPECT_EQ(x1.GreenPosition, 5);
    EXPECT_EQ(x1.AlphaWidth, 0);
    EXPECT_EQ(x1.UnusedMask, 0x8000u);
    EXPECT_EQ(x1.UnusedPosition, 15);
    EXPECT_EQ(x1.UnusedWidth, 1);
    EXPECT_EQ(Masks(32, 0xFF0000, 0xFF00, 0xFF, 0).UnusedMask, 0xFF000000u);
    const COLORFORMAT half4 = Channels(4, 16, 1);
    EXPECT_EQ(half4.BytesPerPixel, 8);
    EXPECT_EQ(half4.BitsPerPixel, 0);
    EXPECT_EQ(half4.RedMask, 0u);
}

TEST(ColorFormatTest, ComposeAndDecompose) {
    const COLORFORMAT xrgb = Format(InitColorFormatXrgb8);
    EXPECT_EQ(ComposeFormatColor(&xrgb, 1, 2, 3, 77), 0xFF010203u);
    const COLORFORMAT r5g6b5 = Format(InitColorFormatR5G6B5);
    EXPECT_EQ(ComposeFormatColor(&r5g6b5, 255, 255, 255, 0), 0xFFFFu);
    const COLORFORMAT x1 = Format(InitColorFormatX1R5G5B5);
    EXPECT_EQ(ComposeFormatColor(&x1, 0, 0, 0, 0), 0x8000u);
    const COLORFORMAT argb = Format(InitColorFormatArgb8);
    EXPECT_EQ(ComposeFormatColor(&argb, 1, 2, 3, 4), 0x04010203u);

    // Palette formats pick the nearest entry, the first of equal ones.
    COLORFORMAT pal = Format(InitColorFormatPal8);
    std::memset(pal.Palette, 0, sizeof(pal.Palette));
    pal.Palette[3][2] = 200;  // red 200
    pal.Palette[4][2] = 200;
    pal.Palette[9][0] = 250;  // blue 250
    EXPECT_EQ(ComposeFormatColor(&pal, 255, 0, 0, 0), 3u);
    EXPECT_EQ(ComposeFormatColor(&pal, 0, 0, 255, 0), 9u);
    EXPECT_EQ(ComposeFormatColor(&pal, 10, 10, 10, 0), 0u);

    int r = -1, g = -1, b = -1, a = -1;
    DecomposeFormatColor(&r5g6b5, 0xF800, &r, &g, &b, &a);
    EXPECT_EQ((std::vector<int>{r, g, b, a}), (std::vector<int>{255, 0, 0, 0}));
    DecomposeFormatColor(&r5g6b5, 0x8410, &r, &g, &b, nullptr);  // 16, 32, 16
    EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{131, 129, 131}));
    DecomposeFormatColor(&xrgb, 0xFF102030, &r, &g, &b, &a);
    EXPECT_EQ((std::vector<int>{r, g, b, a}), (std::vector<int>{0x10, 0x20, 0x30, 0}));
}

TEST(ColorFormatTest, HalfFloats) {
    EXPECT_EQ(HalfToFloat(0x3C00), 1.0f);
    EXPECT_EQ(HalfToFloat(0), 0.0f);
    EXPECT_EQ(HalfToFloat(0x8000), -1.0f / 32768.0f);
    EXPECT_EQ(FloatToHalf(1.0f), 0x3C00);
    EXPECT_EQ(FloatToHalf(65536.0f) >> 10 & 0x1F, 31);
    EXPECT_EQ(FloatToHalf(1e-10f), 0);
}

TEST(ConvertPixelRectTest, EmptyRectangleIsRefusedAndWritesNothing) {
    const COLORFORMAT argb = Format(InitColorFormatArgb8);
    std::vector<std::uint8_t> src(16, 0x11), dst(16, 0x22);
    const RECT empty{2, 0, 2, 1};
    EXPECT_EQ(ConvertPixelRect(dst.data(), 16, &argb, src.data(), 16, &argb, nullptr, 0, nullptr, 0,
                               0, &empty, 0, 0, 0, 0, 0, 0, 0, 0),
              -1);
    EXPECT_EQ(dst, std::vector<std::uint8_t>(16, 0x22));
}

// The dedicated loops widen by shifting; the general pipeline scales so the top value stays top.
TEST(ConvertPixelRectTest, DedicatedLoopsAndGeneralPipelineWidenDifferently) {
    const COLORFORMAT r5g6b5 = Format(InitColorFormatR5G6B5);
    const COLORFORMAT x1 = Format(InitColorFormatX1R5G5B5);
    const COLORFORMAT a1 = Masks(16, 0x7C00, 0x3E0, 0x1F, 0x8000);
    const COLORFORMAT r5g5b5x1 = Masks(16, 0xF800, 0x7C0, 0x3E, 0);
    const COLORFORMAT argb = Format(InitColorFormatArgb8);
    const COLORFORMAT abgr = Format(InitColorFormatAbgr8);
    const COLORFORMAT xrgb = Format(InitColorFormatXrgb8);
    const COLORFORMAT rgb24 = Format(InitColorFormatRgb24);

    EXPECT_EQ(ConvertRow(argb, r5g6b5, Bytes16({0xF800}), 1), Bytes32({0xFFFF0000}));
    EXPECT_EQ(ConvertRow(xrgb, r5g6b5, Bytes16({0xF800}), 1), Bytes32({0x00F80000}));
    EXPECT_EQ(ConvertRow(abgr, r5g6b5, Bytes16({0xF800}), 1), Bytes32({0xFF0000F8}));
    EXPECT_EQ(ConvertRow(rgb24, r5g6b5, Bytes16({0xF800}), 1),
              (std::vector<std::uint8_t>{0x00, 0x00, 0xF8}));
    // Green 31, 16 and 17 of X1R5G5B5 into six bits repeat the lowest bit.
    EXPECT_EQ(ConvertRow(r5g6b5, x1, Bytes16({31 << 5, 16 << 5, 0x8000 | 17 << 5}), 3),
              Bytes16({63 << 5, 32 << 5, 35 << 5}));
    EXPECT_EQ(ConvertRow(r5g6b5, r5g5b5x1, Bytes16({31 << 6}), 1), Bytes16({62 << 5}));
    // A1R5G5B5 into ARGB8 has no dedicated loop: 31 -> 255, 16 -> 131, the alpha bit -> 0 or 255.
    EXPECT_EQ(ConvertRow(argb, a1, Bytes16({0x8000 | 16 << 10 | 31, 31 << 5}), 2),
              Bytes32({0xFF8300FF, 0x0000FF00}));
    // X1R5G5B5 into XRGB8 (general) sets the unused byte; into ARGB8 (dedicated) shifts.
    EXPECT_EQ(ConvertRow(xrgb, x1, Bytes16({16 << 10 | 17 << 5 | 1}), 1), Bytes32({0xFF838B08}));
    EXPECT_EQ(ConvertRow(argb, x1, Bytes16({16 << 10 | 17 << 5 | 1}), 1), Bytes32({0xFF808808}));
    // X1R5G5B5's top bit is set only from BGR24 and R5G5B5A1 sources.
    EXPECT_EQ(ConvertRow(x1, r5g6b5, Bytes16({0xFFFF}), 1), Bytes16({0x7FFF}));
    EXPECT_EQ(ConvertRow(x1, r5g5b5x1, Bytes16({0xFFFE}), 1), Bytes16({0xFFFF}));
    // ARGB8 into XRGB8 keeps the alpha byte; XRGB8 into ABGR8 exchanges red and blue.
    EXPECT_EQ(ConvertRow(xrgb, argb, Bytes32({0x12345678}), 1), Bytes32({0x12345678}));
    EXPECT_EQ(ConvertRow(abgr, xrgb, Bytes32({0x00123456}), 1), Bytes32({0xFF563412}));
}

TEST(ConvertPixelRectTest, PaletteAndChannelFormats) {
    COLORFORMAT pal = Format(InitColorFormatPal8);
    std::memset(pal.Palette, 0, sizeof(pal.Palette));
    pal.Palette[1][0] = 0x30;  // blue
    pal.Palette[1][1] = 0x20;  // green
    pal.Palette[1][2] = 0x10;  // red
    pal.Palette[1][3] = 0x99;  // not alpha: the format's entries carry none
    const COLORFORMAT xrgb = Format(InitColorFormatXrgb8);
    const COLORFORMAT argb = Format(InitColorFormatArgb8);
    EXPECT_EQ(ConvertRow(xrgb, pal, {1, 0}, 2), Bytes32({0xFF102030, 0xFF000000}));
    EXPECT_EQ(ConvertRow(argb, pal, {1}, 1), Bytes32({0xFF102030}));
    COLORFORMAT palAlpha = pal;
    palAlpha.AlphaMask = 0xFF000000u;
    palAlpha.AlphaWidth = 8;
    palAlpha.AlphaPosition = 24;
    EXPECT_EQ(ConvertRow(argb, palAlpha, {1}, 1), Bytes32({0x99102030}));

    // The plain 8-bit copy returns the highest index.
    int result = 0;
    EXPECT_EQ(ConvertRow(pal, pal, {3, 200, 7}, 3, 0, 0, 0, 0, &result),
              (std::vector<std::uint8_t>{3, 200, 7}));
    EXPECT_EQ(result, 200);

    // A 24-bit source into a palette from a rectangle starting at x 5 reads from byte 15.
    const COLORFORMAT rgb24 = Format(InitColorFormatRgb24);
    std::vector<std::uint8_t> row(24, 0);
    row[15] = 0x30;
    row[16] = 0x20;
    row[17] = 0x10;
    std::uint8_t out[2] = {0xEE, 0xEE};
    const RECT rect{5, 0, 6, 1};
    EXPECT_EQ(ConvertPixelRect(out, 2, &pal, row.data(), 24, &rgb24, nullptr, 0, nullptr, 1, 0,
                               &rect, 0, 0, 0, 0, 0, 0, 0, 0),
              0);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(out[1], 1);

    // One 8-bit channel: repeated into two channels, into all four bytes of ARGB8.
    const COLORFORMAT one = Channels(1, 8, 0);
    const COLORFORMAT two = Channels(2, 8, 0);
    std::vector<std::uint8_t> grey = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    std::vector<std::uint8_t> pairs;
    for (std::uint8_t v : grey) pairs.insert(pairs.end(), {v, v});
    EXPECT_EQ(ConvertRow(two, one, grey, 9), pairs);
    EXPECT_EQ(ConvertRow(argb, one, {0x90}, 1), Bytes32({0x90909090}));
    EXPECT_EQ(ConvertRow(argb, two, {0x90, 0x12}, 1), Bytes32({0x12901290}));
}

TEST(ConvertPixelRectTest, KeyAndAlphaImage) {
    const COLORFORMAT rgb24 = Format(InitColorFormatRgb24);
    const COLORFORMAT argb = Format(InitColorFormatArgb8);
    const COLORFORMAT xrgb = Format(InitColorFormatXrgb8);
    const std::vector<std::uint8_t> src = {0xFF, 0x00, 0xFF, 0x01, 0x02, 0x03};  // magenta, other
    EXPECT_EQ(ConvertRow(argb, rgb24, src, 2, 1, 0xFF00FF), Bytes32({0x00FF00FF, 0xFF030201}));
    // Without alpha in the destination the key has no effect.
    EXPECT_EQ(ConvertRow(xrgb, rgb24, src, 2, 1, 0xFF00FF), Bytes32({0xFFFF00FF, 0xFF030201}));
    // Same colour layout: the key clears or sets the alpha bits of the pixel as it is.
    EXPECT_EQ(ConvertRow(argb, xrgb, Bytes32({0x00FF00FF, 0x12030201}), 2, 1, 0xFF00FF),
              Bytes32({0x00FF00FF, 0xFF030201}));
    // The general pipeline (R5G6B5 into a 32-bit R5G6B5 with alpha) compares the key's top bits.
    const COLORFORMAT r5g6b5 = Format(InitColorFormatR5G6B5);
    const COLORFORMAT r5a = Masks(32, 0xF800, 0x7E0, 0x1F, 0xFF0000);
    EXPECT_EQ(ConvertRow(r5a, r5g6b5, Bytes16({0xF81F, 0xF81E}), 2, 1, 0xFC03FF),
              Bytes32({0xFF00F81F, 0xFFFFF81E}));

    // An alpha image of grey palette entries gives each pixel the entry's red byte.
    COLORFORMAT grey = Format(InitColorFormatPal8);
    for (int i = 0; i < 256; ++i) {
        grey.Palette[i][0] = grey.Palette[i][1] = grey.Palette[i][2] = static_cast<std::uint8_t>(i);
        grey.Palette[i][3] = 0;
    }
    const std::uint8_t alpha[4] = {9, 0x40, 0x80, 0xC0};
    std::vector<std::uint8_t> out(8, 0);
    const RECT rect{1, 0, 3, 1};
    ConvertPixelRect(out.data(), 8, &argb, src.data() - 3, 9, &rgb24, alpha, 4, &grey, 0, 0, &rect,
                     0, 1, 0xFF00FF, 0, 0, 0, 0, 0);
    EXPECT_EQ(out, Bytes32({0x40FF00FF, 0x80030201}));
}

TEST(ConvertPixelRectTest, SingleChannelTargetsTakeTheRedChannel) {
    COLORFORMAT single{};
    single.BitsPerPixel = 8;
    single.BytesPerPixel = 1;
    single.RedMask = single.GreenMask = single.BlueMask = single.AlphaMask = 0xFF;
    single.RedWidth = single.GreenWidth = single.BlueWidth = single.AlphaWidth = 8;
    const COLORFORMAT argb = Format(InitColorFormatArgb8);
    const COLORFORMAT r5g6b5 = Format(InitColorFormatR5G6B5);
    EXPECT_EQ(ConvertRow(single, argb, Bytes32({0x80C04020}), 1, 0, 0, 1, 1),
              (std::vector<std::uint8_t>{0xC0}));
    // The red field as read, not widened.
    EXPECT_EQ(ConvertRow(single, r5g6b5, Bytes16({0x8401}), 1, 0, 0, 1, 1),
              (std::vector<std::uint8_t>{16}));
}

TEST(ConvertPixelRectTest, FloatAndSixteenBitChannels) {
    const COLORFORMAT argb = Format(InitColorFormatArgb8);
    const COLORFORMAT f4 = Channels(4, 32, 1);
    const COLORFORMAT f2 = Channels(2, 32, 1);
    std::vector<std::uint8_t> src(16);
    const float v[4] = {1.5f, 0.5f, -1.0f, 0.25f};
    std::memcpy(src.data(), v, 16);
    EXPECT_EQ(ConvertRow(argb, f4, src, 1), Bytes32({0x3FFF7F00}));
    // Missing channels read as 1.0.
    EXPECT_EQ(ConvertRow(argb, f2, std::vector<std::uint8_t>(src.begin(), src.begin() + 8), 1),
              Bytes32({0xFFFF7FFF}));
    // 16-bit channels keep their top byte.
    const COLORFORMAT u16x4 = Channels(4, 16, 0);
    EXPECT_EQ(ConvertRow(argb, u16x4, Bytes16({0x1234, 0xABCD, 0x00FF, 0xFFFF}), 1),
              Bytes32({0xFF12AB00}));
    // An ARGB8 pixel into floats.
    const auto floats = ConvertRow(f4, argb, Bytes32({0x00FF3300}), 1);
    float out[4];
    std::memcpy(out, floats.data(), 16);
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[1], 51.0f / 255.0f);
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_EQ(out[3], 0.0f);
    // Identical half formats of odd width are copied whole.
    const COLORFORMAT h1 = Channels(1, 16, 1);
    const auto halves = Bytes16({0x3C00, 0x1234, 0xFFFF});
    EXPECT_EQ(ConvertRow(h1, h1, halves, 3), halves);
}

}  // namespace
