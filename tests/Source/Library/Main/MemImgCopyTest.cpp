// Copies into memory images: from base images of several pixel formats into every colour type and
// alpha kind, and rectangle copies between memory images with clipping and overlap.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxMemImg.h"
#include "Source/Library/Main/MemImgTestSupport.h"

using namespace ZiDaz;
using memimg_test::ReadRaw;
using memimg_test::Snapshot;
using memimg_test::WriteRaw;

namespace {

// A base image over its own storage; two pixels per source format: an ordinary colour and magenta.
struct TestBaseImage {
    BASEIMAGE image{};
    std::vector<std::uint8_t> storage;

    TestBaseImage(int (*init)(COLORFORMAT*), int width, int height) {
        std::memset(&image.Format, 0, sizeof(image.Format));
        init(&image.Format);
        Allocate(width, height);
    }
    TestBaseImage(const COLORFORMAT& format, int width, int height) {
        image.Format = format;
        Allocate(width, height);
    }
    void Allocate(int width, int height) {
        image.Width = width;
        image.Height = height;
        image.Pitch = (width * image.Format.BytesPerPixel + 3) / 4 * 4 + 4;  // padded rows
        storage.assign(static_cast<std::size_t>(image.Pitch) * height, 0xCD);
        image.Pixels = storage.data();
    }
    void Set(int x, int y, std::uint32_t v) {
        const int b = image.Format.BytesPerPixel;
        std::memcpy(storage.data() + y * image.Pitch + x * b, &v, b);
    }
};

enum Dest { kT0, kT0A, kT0P, kT1, kT1A, kT1P, kT2, kT3, kDestCount };

struct DestKind {
    int colorType, palette, alpha;
    std::uint32_t transColor;  // magenta as a raw pixel of the image
};
constexpr DestKind kDests[kDestCount] = {
    {0, 0, 0, 0xF81F},   {0, 0, 1, 0xF81F}, {0, 1, 0, 0}, {1, 0, 0, 0xFF00FF},
    {1, 0, 1, 0xFF00FF}, {1, 1, 0, 0},      {2, 0, 0, 0}, {3, 0, 0, 0},
};

struct SourceCase {
    const char* name;
    TestBaseImage (*make)();
    // Expected raw pixels (colour, magenta) for each destination without and with transparency;
    // kSkip where the source is not meant for the destination.
    std::uint32_t plain[kDestCount][2];
    std::uint32_t keyed[kDestCount][2];
};
constexpr std::uint32_t kSkip = 0xDEADBEEF;

// A 2 x 1 image of a fixed format holding the two pixels.
TestBaseImage Two(int (*init)(COLORFORMAT*), std::uint32_t first, std::uint32_t second) {
    TestBaseImage b(init, 2, 1);
    b.Set(0, 0, first);
    b.Set(1, 0, second);
    return b;
}
TestBaseImage MakeArgb8() {
    return Two(InitColorFormatArgb8, 0x80C04020, 0x00FF00FF);
}
TestBaseImage MakeXrgb8() {
    return Two(InitColorFormatXrgb8, 0x12C04021, 0x00FF00FF);
}
TestBaseImage MakeRgb24() {
    return Two(InitColorFormatRgb24, 0xC04122, 0xFF00FF);
}
TestBaseImage MakeR5G6B5() {
    return Two(InitColorFormatR5G6B5, 0x8401, 0xF81F);
}  // 16, 32, 1
TestBaseImage MakeX1R5G5B5() {
    return Two(InitColorFormatX1R5G5B5, 16 << 10 | 17 << 5 | 1, 0x7C1F);
}
TestBaseImage MakePal8() {
    TestBaseImage b(InitColorFormatPal8, 2, 1);
    std::memset(b.image.Format.Palette, 0, sizeof(b.image.Format.Palette));
    const std::uint8_t e0[4] = {0x22, 0x41, 0xC0, 0}, e1[4] = {0xFF, 0x00, 0xFF, 0};
    std::memcpy(b.image.Format.Palette[0], e0, 4);
    std::memcpy(b.image.Format.Palette[1], e1, 4);
    b.Set(0, 0, 0);
    b.Set(1, 0, 1);
    return b;
}
TestBaseImage MakeGrey8() {
    COLORFORMAT f;
    InitColorFormatFromMasks(&f, 0, 0, 0, 0, 0, 1, 8, 0);
    TestBaseImage b(f, 2, 1);
    b.Set(0, 0, 0x90);
    b.Set(1, 0, 0xFF);
    return b;
}

// Worked out by hand from the conversion rules: dedicated loops widen by shifting, the general
// pipeline scales (5-bit 16 -> 131, 6-bit 32 -> 129, 5-bit 1 -> 8, 5-bit 17 -> 139). A grey
// source has a dedicated loop into ARGB8 (the value in all four bytes) but not into XRGB8 or with
// the key, where the general pipeline reads its one channel as red, green and blue; the key
// (magenta) composed in the grey format is its red, 255.
const SourceCase kSources[] = {
    {"ARGB8",
     MakeArgb8,
     {{0xC204, 0xF81F},
      {0xFF80C204, 0xFF00F81F},
      {kSkip, kSkip},
      {0x80C04020, 0x00FF00FF},
      {0x80C04020, 0x00FF00FF},
      {kSkip, kSkip},
      {0xC0, 0xFF},
      {0xC0, 0xFF}},
     {{0xC204, 0xF81F},
      {0xFF80C204, 0xFF00F81F},
      {kSkip, kSkip},
      {0x80C04020, 0x00FF00FF},
      {0x80C04020, 0x00FF00FF},
      {kSkip, kSkip},
      {0xC0, 0xFF},
      {0xC0, 0xFF}}},
    {"XRGB8",
     MakeXrgb8,
     {{0xC204, 0xF81F},
      {0xFFFFC204, 0xFFFFF81F},
      {kSkip, kSkip},
      {0x12C04021, 0x00FF00FF},
      {0xFFC04021, 0xFFFF00FF},
      {kSkip, kSkip},
      {0xC0, 0xFF},
      {0xC0, 0xFF}},
     {{0xC204, 0xF81F},
      {0xFFFFC204, 0xFF00F81F},
      {kSkip, kSkip},
      {0x12C04021, 0x00FF00FF},
      {0xFFC04021, 0x00FF00FF},
      {kSkip, kSkip},
      {0xC0, 0xFF},
      {0xC0, 0xFF}}},
    {"RGB24",
     MakeRgb24,
     {{0xC204, 0xF81F},
      {0xFFFFC204, 0xFFFFF81F},
      {kSkip, kSkip},
      {0xFFC04122, 0xFFFF00FF},
      {0xFFC04122, 0xFFFF00FF},
      {kSkip, kSkip},
      {0xC0, 0xFF},
      {0xC0, 0xFF}},
     {{0xC204, 0xF81F},
      {0xFFFFC204, 0xFF00F81F},
      {kSkip, kSkip},
      {0xFFC04122, 0xFFFF00FF},
      {0xFFC04122, 0x00FF00FF},
      {kSkip, kSkip},
      {0xC0, 0xFF},
      {0xC0, 0xFF}}},
    {"R5G6B5",
     MakeR5G6B5,
     {{0x8401, 0xF81F},
      {0xFFFF8401, 0xFFFFF81F},
      {kSkip, kSkip},
      {0x00808008, 0x00F800F8},
      {0xFF838108, 0xFFFF00FF},
      {kSkip, kSkip},
      {16, 31},
      {16, 31}},
     {{0x8401, 0xF81F},
      {0xFFFF8401, 0xFF00F81F},
      {kSkip, kSkip},
      {0x00808008, 0x00F800F8},
      {0xFF808008, 0x00F800F8},
      {kSkip, kSkip},
      {16, 31},
      {16, 31}}},
    {"X1R5G5B5",
     MakeX1R5G5B5,
     {{0x8461, 0xF81F},
      {0xFFFF8441, 0xFFFFF81F},
      {kSkip, kSkip},
      {0xFF838B08, 0xFFFF00FF},
      {0xFF808808, 0xFFF800F8},
      {kSkip, kSkip},
      {16, 31},
      {16, 31}},
     {{0x8461, 0xF81F},
      {0xFFFF8441, 0xFF00F81F},
      {kSkip, kSkip},
      {0xFF838B08, 0xFFFF00FF},
      {0xFF808808, 0x00F800F8},
      {kSkip, kSkip},
      {16, 31},
      {16, 31}}},
    {"Pal8",
     MakePal8,
     {{0xC204, 0xF81F},
      {0xFFFFC204, 0xFFFFF81F},
      {0, 1},
      {0xFFC04122, 0xFFFF00FF},
      {0xFFC04122, 0xFFFF00FF},
      {0, 1},
      {0xC0, 0xFF},
      {0xC0, 0xFF}},
     {{0xC204, 0xF81F},
      {0xFFFFC204, 0xFF00F81F},
      {0, 1},
      {0xFFC04122, 0xFFFF00FF},
      {0xFFC04122, 0x00FF00FF},
      {0, 1},
      {0xC0, 0xFF},
      {0xC0, 0xFF}}},
    {"Grey8",
     MakeGrey8,
     {{kSkip, kSkip},
      {kSkip, kSkip},
      {kSkip, kSkip},
      {0xFF909090, 0xFFFFFFFF},
      {0x90909090, 0xFFFFFFFF},
      {kSkip, kSkip},
      {0x90, 0xFF},
      {0x90, 0xFF}},
     {{kSkip, kSkip},
      {kSkip, kSkip},
      {kSkip, kSkip},
      {0xFF909090, 0xFFFFFFFF},
      {0xFF909090, 0x00FFFFFF},
      {kSkip, kSkip},
      {0x90, 0xFF},
      {0x90, 0xFF}}},
};

class MemImgCopyTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (MEMIMG& m : images_) ReleaseMemImg(&m);
    }
    MEMIMG& Make(int width, int height, int colorType, int palette, int alpha,
                 std::uint32_t trans = 0, int aids = 0) {
        images_.emplace_back();
        MEMIMG& m = images_.back();
        std::memset(&m, 0, sizeof(m));
        EXPECT_EQ(
            SetupMemImg(&m, width, height, -1, trans, colorType, palette, alpha, aids, nullptr), 0);
        FillMemImgRect(&m, nullptr, 0x5A5A5A5A);
        return m;
    }
    std::deque<MEMIMG> images_;
};

TEST_F(MemImgCopyTest, BaseImagesOfEveryFormatIntoEveryKindOfImage) {
    for (const SourceCase& sc : kSources) {
        for (int d = 0; d < kDestCount; ++d) {
            for (int keyed = 0; keyed < 2; ++keyed) {
                const std::uint32_t* want = keyed != 0 ? sc.keyed[d] : sc.plain[d];
                if (want[0] == kSkip) continue;
                SCOPED_TRACE(::testing::Message()
                             << sc.name << " into kind " << d << (keyed != 0 ? " keyed" : ""));
                TestBaseImage src = sc.make();
                const DestKind& k = kDests[d];
                MEMIMG& m = Make(4, 2, k.colorType, k.palette, k.alpha, k.transColor);
                const auto before = Snapshot(m);
                EXPECT_EQ(CopyBaseImageIntoMemImg(&src.image, nullptr, &m, 0, 0, 2, 1, 1, 1, keyed),
                          0);
                const auto after = Snapshot(m);
                for (int i = 0; i < 8; ++i) {
                    const int x = i % 4, y = i / 4;
                    if (y == 1 && (x == 1 || x == 2)) {
                        EXPECT_EQ(after[i], want[x - 1]) << "pixel " << x;
                    } else {
                        EXPECT_EQ(after[i], before[i]) << "outside pixel " << x << "," << y;
                    }
                }
                if (k.colorType <= 1 && k.alpha == 0) {
                    EXPECT_EQ(m.Shared->UseTransColor, static_cast<std::uint32_t>(keyed));
                }
            }
        }
    }
}

TEST_F(MemImgCopyTest, PaletteImagesTakeTheSourcePalette) {
    TestBaseImage src = MakePal8();
    src.Set(0, 0, 7);
    src.image.Format.Palette[7][0] = 0x22;
    src.image.Format.Palette[7][1] = 0x41;
    src.image.Format.Palette[7][2] = 0xC0;
    MEMIMG& p16 = Make(2, 1, 0, 1, 0);
    MEMIMG& p32 = Make(2, 1, 1, 1, 0);
    EXPECT_EQ(CopyBaseImageIntoMemImg(&src.image, nullptr, &p16, 0, 0, 2, 1, 0, 0, 0), 0);
    EXPECT_EQ(CopyBaseImageIntoMemImg(&src.image, nullptr, &p32, 0, 0, 2, 1, 0, 0, 0), 0);
    for (MEMIMG* m : {&p16, &p32}) {
        EXPECT_EQ(ReadRaw(*m, 0, 0), 7u);
        EXPECT_EQ(ReadRaw(*m, 1, 0), 1u);
        EXPECT_EQ(m->Shared->PaletteColorCount, 8u);  // highest index copied + 1
    }
    const auto* t16 = static_cast<const std::uint16_t*>(p16.Shared->PaletteTable);
    const auto* t32 = static_cast<const std::uint32_t*>(p32.Shared->PaletteTable);
    EXPECT_EQ(t16[7], 0xC204);
    EXPECT_EQ(t16[1], 0xF81F);
    EXPECT_EQ(t16[0], 0xC204);
    EXPECT_EQ(t32[7], 0xC04122u);
    EXPECT_EQ(t32[2], 0u);

    // A colour source picks the nearest entry of the image's own palette (channels brought to
    // eight bits first), and the palette stays.
    MEMIMG& p = Make(3, 1, 0, 1, 0);
    auto* table = static_cast<std::uint16_t*>(p.Shared->PaletteTable);
    table[0] = 0x0000;
    table[1] = 0x8410;  // 131, 129, 131
    table[2] = 0xFFFF;
    for (int i = 3; i < 256; ++i) table[i] = 0xF800;
    TestBaseImage colour(InitColorFormatR5G6B5, 3, 1);
    colour.Set(0, 0, 0x8410);
    colour.Set(1, 0, 0x0841);
    colour.Set(2, 0, 0xF7BE);
    EXPECT_EQ(CopyBaseImageIntoMemImg(&colour.image, nullptr, &p, 0, 0, 3, 1, 0, 0, 0), 0);
    EXPECT_EQ(memimg_test::Snapshot(p), (std::vector<std::uint32_t>{1, 0, 2}));
    EXPECT_EQ(table[1], 0x8410);
    EXPECT_EQ(table[3], 0xF800);
}

TEST_F(MemImgCopyTest, AlphaSourceClippingAndRunTable) {
    // The alpha source's red channel becomes the alpha.
    TestBaseImage src = MakeRgb24();
    COLORFORMAT greyFormat;
    InitColorFormatFromMasks(&greyFormat, 8, 0xFF0000, 0xFF00, 0xFF, 0, 0, 0, 0);
    TestBaseImage alpha(greyFormat, 2, 1);
    for (int i = 0; i < 256; ++i) {
        std::uint8_t* e = alpha.image.Format.Palette[i];
        e[0] = e[1] = e[2] = static_cast<std::uint8_t>(i);
    }
    alpha.Set(0, 0, 0x40);
    alpha.Set(1, 0, 0xFF);
    MEMIMG& a32 = Make(2, 1, 1, 0, 1, 0, 1);
    EXPECT_EQ(CopyBaseImageIntoMemImg(&src.image, &alpha.image, &a32, 0, 0, 2, 1, 0, 0, 1), 0);
    EXPECT_EQ(Snapshot(a32), (std::vector<std::uint32_t>{0x40C04122, 0xFFFF00FF}));
    // A whole-image copy rebuilt the run table: one translucent pixel, one solid.
    EXPECT_EQ(a32.Shared->RunTableValid, 1u);
    EXPECT_EQ(a32.Shared->RunTable[0], MEMIMG_RUN_BLEND);
    EXPECT_EQ(a32.Shared->RunTable[1], MEMIMG_RUN_SOLID);
    EXPECT_EQ(a32.Shared->RunTable[2], MEMIMG_RUN_END);
    // A smaller copy only marks it stale.
    EXPECT_EQ(CopyBaseImageIntoMemImg(&src.image, &alpha.image, &a32, 0, 0, 1, 1, 1, 0, 1), 0);
    EXPECT_EQ(a32.Shared->RunTableValid, 0u);

    // Rectangles reaching out of either image are clipped; nothing left is refused.
    TestBaseImage big(InitColorFormatXrgb8, 4, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) big.Set(x, y, static_cast<std::uint32_t>(0x100 * y + x));
    }
    MEMIMG& m = Make(3, 3, 1, 0, 0);
    const auto before = Snapshot(m);
    EXPECT_EQ(CopyBaseImageIntoMemImg(&big.image, nullptr, &m, -1, 2, 10, 10, 1, -1, 0), 0);
    // Source x -1 moves the destination to x 2; destination y -1 moves the source to y 3.
    auto expected = before;
    expected[2] = 0x300;  // (2, 0) <- (0, 3)
    EXPECT_EQ(Snapshot(m), expected);
    EXPECT_EQ(CopyBaseImageIntoMemImg(&big.image, nullptr, &m, 0, 0, 2, 2, 3, 0, 0), -1);
    EXPECT_EQ(CopyBaseImageIntoMemImg(&big.image, nullptr, &m, 4, 0, 2, 2, 0, 0, 0), -1);
    EXPECT_EQ(Snapshot(m), expected);
}

TEST_F(MemImgCopyTest, RectangleCopiesClipConvertAndSurviveOverlap) {
    std::mt19937 rng(12);
    MEMIMG src;
    memimg_test::MakeRandomImage(src, 6, 4, 1, 0, 0, rng);
    images_.push_back(src);
    MEMIMG& dst = Make(5, 5, 1, 0, 0);
    const auto s = Snapshot(src);
    auto expected = Snapshot(dst);
    // (-1, -1)-(4, 3) to (2, 3): starts at destination (3, 4) with 2 x 1 pixels left.
    const RECT r{-1, -1, 4, 3};
    EXPECT_EQ(CopyMemImgRect(&dst, &src, &r, 2, 3), 0);
    expected[4 * 5 + 3] = s[0];
    expected[4 * 5 + 4] = s[1];
    EXPECT_EQ(Snapshot(dst), expected);
    EXPECT_EQ(CopyMemImgRect(&dst, &src, &r, 5, 0), -1);

    // Onto itself, both directions, and between overlapping views of one image.
    for (int dx : {-1, 1}) {
        for (int dy : {-1, 1}) {
            MEMIMG img;
            memimg_test::MakeRandomImage(img, 7, 6, 0, 0, 0, rng);
            images_.push_back(img);
            const auto before = Snapshot(img);
            const RECT inner{1, 1, 6, 5};
            EXPECT_EQ(CopyMemImgRect(&img, &img, &inner, 1 + dx, 1 + dy), 0);
            auto want = before;
            for (int y = 1; y < 5; ++y) {
                for (int x = 1; x < 6; ++x) want[(y + dy) * 7 + x + dx] = before[y * 7 + x];
            }
            EXPECT_EQ(Snapshot(img), want) << dx << "," << dy;
        }
    }
    MEMIMG whole;
    memimg_test::MakeRandomImage(whole, 8, 3, 1, 0, 0, rng);
    images_.push_back(whole);
    const auto before = Snapshot(whole);
    MEMIMG left{}, right{};
    MakeMemImgView(&left, &whole, 0, 0, 6, 3);
    MakeMemImgView(&right, &whole, 2, 0, 6, 3);
    EXPECT_EQ(CopyMemImgRect(&right, &left, nullptr, 0, 0), 0);
    auto want = before;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 6; ++x) want[y * 8 + x + 2] = before[y * 8 + x];
    }
    EXPECT_EQ(Snapshot(whole), want);
    ReleaseMemImg(&left);
    ReleaseMemImg(&right);

    // Between colour types the pixels are converted; 8-bit copies return the highest value.
    MEMIMG& c32 = Make(2, 1, 1, 0, 0);
    MEMIMG& c16 = Make(2, 1, 0, 0, 0);
    WriteRaw(c32, 0, 0, 0x00C04020);
    WriteRaw(c32, 1, 0, 0x00FFFFFF);
    EXPECT_EQ(CopyMemImgRect(&c16, &c32, nullptr, 0, 0), 0);
    EXPECT_EQ(Snapshot(c16), (std::vector<std::uint32_t>{0xC204, 0xFFFF}));
    EXPECT_EQ(CopyMemImgRect(&c32, &c16, nullptr, 0, 0), 0);
    EXPECT_EQ(Snapshot(c32), (std::vector<std::uint32_t>{0x00C04020, 0x00F8FCF8}));
    MEMIMG& g1 = Make(3, 1, 2, 0, 0);
    MEMIMG& g2 = Make(3, 1, 2, 0, 0);
    WriteRaw(g1, 0, 0, 9);
    WriteRaw(g1, 1, 0, 200);
    WriteRaw(g1, 2, 0, 3);
    EXPECT_EQ(CopyMemImgRect(&g2, &g1, nullptr, 0, 0), 200);
    EXPECT_EQ(Snapshot(g2), (std::vector<std::uint32_t>{9, 200, 3}));
    // A single-channel image takes the red channel of a colour image; a colour image takes grey
    // from a single-channel one.
    EXPECT_EQ(CopyMemImgRect(&g2, &c32, nullptr, 1, 0), 0);
    EXPECT_EQ(Snapshot(g2), (std::vector<std::uint32_t>{9, 0xC0, 0xF8}));
    EXPECT_EQ(CopyMemImgRect(&c32, &g1, nullptr, 0, 0), 0);
    EXPECT_EQ(Snapshot(c32), (std::vector<std::uint32_t>{0xFF090909, 0xFFC8C8C8}));
    // A palette image reads through its own palette.
    MEMIMG& pal = Make(1, 1, 0, 1, 0);
    static_cast<std::uint16_t*>(pal.Shared->PaletteTable)[4] = 0xF800;
    WriteRaw(pal, 0, 0, 4);
    EXPECT_EQ(CopyMemImgRect(&c32, &pal, nullptr, 1, 0), 0);
    EXPECT_EQ(ReadRaw(c32, 1, 0), 0xFFFF0000u);
}

}  // namespace
