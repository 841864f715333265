// Base-image records: the set-ups and their size limits, views, data sizes, pixel access, the
// screen colour, alpha file names and the module's tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxGraphics.h"
#include "Main/DxMemory.h"

using namespace ZiDaz;

namespace {

// The module's tables are built once for every test of this program.
class BaseImageModuleEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { InitBaseImageModule(); }
};
const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new BaseImageModuleEnvironment);

TEST(ColorFormatBuildTest, DefaultPaletteTakesBlueFromBitsFiveAndSix) {
    COLORFORMAT f{};
    InitDefaultPaletteFormat(&f, 0);
    EXPECT_EQ(f.BytesPerPixel, 1);
    EXPECT_EQ(f.HighestPaletteIndex, 255);
    EXPECT_EQ(f.UnusedMask, 0xFF000000u);
    EXPECT_EQ(ComposeFormatColor(&f, 255, 0, 0, 0), 7u);
    EXPECT_EQ(ComposeFormatColor(&f, 0, 0, 255, 0), 64u);  // the entry (0, 0, 170)
    EXPECT_EQ(ComposeFormatColor(&f, 255, 255, 255, 0), 127u);
    const std::uint8_t greens[8] = {0, 36, 72, 109, 145, 182, 218, 255};
    for (int i = 0; i < 256; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f.Palette[i][2], greens[i & 7]);
        EXPECT_EQ(f.Palette[i][1], greens[(i >> 3) & 7]);
        EXPECT_EQ(f.Palette[i][0], ((i >> 5) & 3) * 85);
        EXPECT_EQ(f.Palette[i][3], 0);
        EXPECT_EQ(std::memcmp(f.Palette[i], f.Palette[i & 127], 4), 0);
    }
    COLORFORMAT a{};
    InitDefaultPaletteFormat(&a, 1);
    EXPECT_EQ(a.AlphaMask, 0xFF000000u);
    EXPECT_EQ(a.AlphaWidth, 8);
    EXPECT_EQ(a.UnusedMask, 0u);
    EXPECT_EQ(a.Palette[200][3], 255);
}

TEST(ColorFormatBuildTest, RecomputedUnusedMask) {
    struct Case {
        int bits;
        std::uint32_t r, g, b, a, unused;
    };
    const Case cases[] = {
        {16, 0x7C00, 0x3E0, 0x1F, 0, 0x8000},         {32, 0xFF0000, 0xFF00, 0xFF, 0, 0xFF000000u},
        {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0}, {16, 0xF800, 0x7E0, 0x1F, 0, 0},
        {24, 0xFF0000, 0xFF00, 0xFF, 0, 0},
    };
    for (const Case& c : cases) {
        COLORFORMAT f;
        InitColorFormatFromMasks(&f, c.bits, c.r, c.g, c.b, c.a, 0, 0, 0);
        f.UnusedMask = 0x12345678;
        RecomputeColorFormatUnusedMask(&f);
        EXPECT_EQ(f.UnusedMask, c.unused) << std::hex << c.r;
    }
}

TEST(BaseImageSetupTest, FormatsAndPitches) {
    struct Case {
        const char* name;
        int (*make)(int, int, BASEIMAGE*);
        int width, pitch, bytes;
    };
    const Case cases[] = {
        {"argb8", NewBaseImageArgb8, 5, 20, 4},
        {"xrgb8", NewBaseImageXrgb8, 5, 20, 4},
        {"rgb24", NewBaseImageRgb24, 5, 16, 3},
        {"float", NewBaseImageRgbaFloat32, 3, 48, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BASEIMAGE image{};
        image.MipCount = 7;
        ASSERT_EQ(c.make(c.width, 3, &image), 0);
        EXPECT_NE(image.Pixels, nullptr);
        EXPECT_EQ(image.Pitch, c.pitch);
        EXPECT_EQ(image.Format.BytesPerPixel, c.bytes);
        EXPECT_EQ(image.MipCount, 0);
        std::memset(image.Pixels, 0xAB, static_cast<std::size_t>(image.Pitch) * 3);
        DisposeBaseImage(&image);
        const BASEIMAGE zero{};
        EXPECT_EQ(std::memcmp(&image, &zero, sizeof(zero)), 0);
    }
    BASEIMAGE pal{};
    ASSERT_EQ(NewBaseImagePal8(5, 2, &pal, 1), 0);
    EXPECT_EQ(pal.Pitch, 8);
    EXPECT_EQ(pal.Format.Palette[7][3], 255);
    DisposeBaseImage(&pal);
    COLORFORMAT r5{};
    InitColorFormatR5G6B5(&r5);
    BASEIMAGE in{};
    ASSERT_EQ(NewBaseImageInFormat(3, 2, &r5, &in), 0);
    EXPECT_EQ(in.Pitch, 8);
    EXPECT_EQ(in.Format.GreenMask, 0x7E0u);
    DisposeBaseImage(&in);
    // Disposing a cleared record is fine.
    EXPECT_EQ(DisposeBaseImage(&in), 0);
}

TEST(BaseImageSetupTest, SizesFromDamagedHeadersAreRefusedWithNothingAllocated) {
    struct Case {
        int width, height;
    };
    const Case cases[] = {
        {-1, 10},       {10, -1},       {0x40000000, 1}, {0x7FFFFFFF, 0x7FFFFFFF},
        {65536, 65536}, {32768, 32768}, {0x20000001, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const int before = GetTrackedMemoryCount();
        BASEIMAGE image{};
        image.Pixels = &image;  // must be cleared
        EXPECT_EQ(NewBaseImageArgb8(c.width, c.height, &image), -1);
        EXPECT_EQ(image.Pixels, nullptr);
        EXPECT_EQ(NewBaseImageRgbaFloat32(c.width, c.height, &image), -1);
        if (std::int64_t{c.width} * c.height > kMaxBaseImageBytes || c.width < 0 || c.height < 0) {
            EXPECT_EQ(NewBaseImagePal8(c.width, c.height, &image, 0), -1);
        }
        EXPECT_EQ(image.Pixels, nullptr);
        EXPECT_EQ(GetTrackedMemoryCount(), before);
        DisposeBaseImage(&image);
    }
}

TEST(BaseImageViewTest, RectanglesInsideAndOutside) {
    BASEIMAGE image{};
    ASSERT_EQ(NewBaseImageXrgb8(8, 6, &image), 0);
    BASEIMAGE view{};
    ASSERT_EQ(MakeBaseImageView(&image, 2, 1, 8, 6, &view), 0);
    EXPECT_EQ(view.Width, 6);
    EXPECT_EQ(view.Height, 5);
    EXPECT_EQ(view.Pitch, image.Pitch);
    EXPECT_EQ(static_cast<std::uint8_t*>(view.Pixels) - static_cast<std::uint8_t*>(image.Pixels),
              image.Pitch + 8);
    struct Rect {
        int l, t, r, b;
    };
    const Rect bad[] = {{-1, 0, 4, 4}, {0, -1, 4, 4}, {0, 0, 9, 4}, {0, 0, 4, 7},
                        {3, 0, 3, 4},  {0, 2, 4, 2},  {5, 0, 4, 4}, {0, 5, 4, 4}};
    for (const Rect& r : bad) {
        EXPECT_EQ(MakeBaseImageView(&image, r.l, r.t, r.r, r.b, &view), -1)
            << r.l << "," << r.t << "," << r.r << "," << r.b;
    }
    BASEIMAGE mips = image;
    mips.MipCount = 2;
    EXPECT_EQ(MakeBaseImageView(&mips, 0, 0, 1, 1, &view), -1);
    BASEIMAGE block = image;
    block.Format.FormatKind = 1;
    EXPECT_EQ(MakeBaseImageView(&block, 0, 0, 1, 1, &view), -1);
    DisposeBaseImage(&image);
}

TEST(BaseImageQueryTest, DataSizeAndHighestIndex) {
    struct Case {
        int kind, width, height, pitch, mips, size;
    };
    const Case cases[] = {
        {1, 256, 256, 512, 9, 43704},  // 32768 + 8192 + ... + 8 + 8 + 8
        {1, 256, 256, 512, 0, 32768}, {5, 256, 256, 1024, 1, 65536}, {3, 6, 6, 32, 0, 16},
        {1, 3, 3, 8, 0, 0},           {0, 5, 4, 20, 0, 80},          {8, 4, 4, 16, 0, -1},
    };
    for (const Case& c : cases) {
        BASEIMAGE image{};
        image.Format.FormatKind = static_cast<std::uint8_t>(c.kind);
        image.Width = c.width;
        image.Height = c.height;
        image.Pitch = c.pitch;
        image.MipCount = c.mips;
        EXPECT_EQ(BaseImageDataSize(&image), c.size) << c.kind << " " << c.width;
    }

    BASEIMAGE rgb{};
    ASSERT_EQ(NewBaseImageRgb24(2, 2, &rgb), 0);
    EXPECT_EQ(MaxUsedPaletteIndex(&rgb), -1);
    DisposeBaseImage(&rgb);
    BASEIMAGE pal{};
    ASSERT_EQ(NewBaseImagePal8(5, 3, &pal, 0), 0);
    std::memset(pal.Pixels, 0, 8 * 3);
    EXPECT_EQ(MaxUsedPaletteIndex(&pal), 0);
    // Bytes of the row padding do not count.
    static_cast<std::uint8_t*>(pal.Pixels)[6] = 250;
    static_cast<std::uint8_t*>(pal.Pixels)[8 * 2 + 4] = 201;
    EXPECT_EQ(MaxUsedPaletteIndex(&pal), 201);
    DisposeBaseImage(&pal);
}

TEST(BaseImagePixelTest, ReadAndWriteEveryKindOfFormat) {
    // R5G6B5: read as fields in the top bits, and as scaled channels.
    COLORFORMAT r5{};
    InitColorFormatR5G6B5(&r5);
    BASEIMAGE image{};
    ASSERT_EQ(NewBaseImageInFormat(2, 2, &r5, &image), 0);
    ASSERT_EQ(WriteBaseImagePixelRgba(&image, 1, 1, 255, 0, 255, 0), 0);
    EXPECT_EQ(ReadBaseImagePixelArgb(&image, 1, 1), 0x00F800F8u);
    int r = -1, g = -1, b = -1, a = -1;
    EXPECT_EQ(ReadBaseImagePixelRgba(&image, 1, 1, &r, &g, &b, &a), 0);
    EXPECT_EQ((std::vector<int>{r, g, b, a}), (std::vector<int>{255, 0, 255, 0}));
    EXPECT_EQ(ReadBaseImagePixelRgba(&image, -1, 0, &r, &g, &b, &a), -1);
    EXPECT_EQ(ReadBaseImagePixelRgba(&image, 0, 2, &r, &g, &b, &a), -1);
    EXPECT_EQ(WriteBaseImagePixelRgba(&image, 2, 0, 1, 2, 3, 4), -1);
    DisposeBaseImage(&image);

    // ARGB8 and RGB24.
    BASEIMAGE argb{};
    ASSERT_EQ(NewBaseImageArgb8(1, 1, &argb), 0);
    WriteBaseImagePixelRgba(&argb, 0, 0, 1, 2, 3, 4);
    EXPECT_EQ(ReadBaseImagePixelArgb(&argb, 0, 0), 0x04010203u);
    DisposeBaseImage(&argb);
    BASEIMAGE rgb{};
    ASSERT_EQ(NewBaseImageRgb24(1, 1, &rgb), 0);
    WriteBaseImagePixelRgba(&rgb, 0, 0, 0x11, 0x22, 0x33, 0x44);
    const auto* p = static_cast<std::uint8_t*>(rgb.Pixels);
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2]}), (std::vector<int>{0x33, 0x22, 0x11}));
    EXPECT_EQ(ReadBaseImagePixelArgb(&rgb, 0, 0), 0x00112233u);
    DisposeBaseImage(&rgb);

    // A palette image reads its entry, fourth byte included.
    BASEIMAGE pal{};
    ASSERT_EQ(NewBaseImagePal8(1, 1, &pal, 1), 0);
    WriteBaseImagePixelRgba(&pal, 0, 0, 255, 0, 0, 0);
    EXPECT_EQ(*static_cast<std::uint8_t*>(pal.Pixels), 7);
    ReadBaseImagePixelRgba(&pal, 0, 0, &r, &g, &b, &a);
    EXPECT_EQ((std::vector<int>{r, g, b, a}), (std::vector<int>{255, 0, 0, 255}));
    DisposeBaseImage(&pal);

    // Floats: times 255, truncated and not clamped; halves likewise.
    BASEIMAGE f4{};
    ASSERT_EQ(NewBaseImageRgbaFloat32(1, 1, &f4), 0);
    const float values[4] = {0.5f, 2.0f, -0.1f, 1.0f};
    std::memcpy(f4.Pixels, values, 16);
    ReadBaseImagePixelRgba(&f4, 0, 0, &r, &g, &b, &a);
    EXPECT_EQ((std::vector<int>{r, g, b, a}), (std::vector<int>{127, 510, -25, 255}));
    WriteBaseImagePixelRgba(&f4, 0, 0, 51, 0, 255, 102);
    float back[4];
    std::memcpy(back, f4.Pixels, 16);
    EXPECT_EQ(back[0], 51.0f / 255.0f);
    EXPECT_EQ(back[2], 1.0f);
    DisposeBaseImage(&f4);
    COLORFORMAT h2{};
    InitColorFormatFromMasks(&h2, 0, 0, 0, 0, 0, 2, 16, 1);
    BASEIMAGE half{};
    ASSERT_EQ(NewBaseImageInFormat(1, 1, &h2, &half), 0);
    WriteBaseImagePixelRgba(&half, 0, 0, 255, 0, 9, 9);
    std::uint16_t hv[2];
    std::memcpy(hv, half.Pixels, 4);
    EXPECT_EQ(hv[0], 0x3C00);
    EXPECT_EQ(hv[1], 0);
    r = g = b = a = -7;
    ReadBaseImagePixelRgba(&half, 0, 0, &r, &g, &b, &a);
    EXPECT_EQ((std::vector<int>{r, g, b, a}), (std::vector<int>{255, 0, -7, -7}));
    DisposeBaseImage(&half);

    // Integer channels: 8-bit ones channel by channel, wider ones refused.
    COLORFORMAT c2{};
    InitColorFormatFromMasks(&c2, 0, 0, 0, 0, 0, 2, 8, 0);
    BASEIMAGE two{};
    ASSERT_EQ(NewBaseImageInFormat(1, 1, &c2, &two), 0);
    EXPECT_EQ(WriteBaseImagePixelRgba(&two, 0, 0, 0x12, 0x34, 0x56, 0x78), 0);
    r = g = b = a = -7;
    EXPECT_EQ(ReadBaseImagePixelRgba(&two, 0, 0, &r, &g, &b, &a), 0);
    EXPECT_EQ((std::vector<int>{r, g, b, a}), (std::vector<int>{0x12, 0x34, -7, -7}));
    DisposeBaseImage(&two);
    COLORFORMAT u16{};
    InitColorFormatFromMasks(&u16, 0, 0, 0, 0, 0, 4, 16, 0);
    BASEIMAGE wide{};
    ASSERT_EQ(NewBaseImageInFormat(1, 1, &u16, &wide), 0);
    EXPECT_EQ(ReadBaseImagePixelRgba(&wide, 0, 0, &r, &g, &b, &a), -1);
    EXPECT_EQ(WriteBaseImagePixelRgba(&wide, 0, 0, 1, 2, 3, 4), -1);
    DisposeBaseImage(&wide);

    BASEIMAGE none{};
    EXPECT_EQ(ReadBaseImagePixelArgb(&none, 0, 0), 0u);
}

TEST(BaseImagePixelTest, PackedColoursAndFloatRecords) {
    EXPECT_EQ(PackArgbColor(0x112, 0x34, 0x56, 0x178), 0x78123456u);
    Float4 f{};
    EXPECT_EQ(SetFloat4(&f, 1, 2, 3, 4), &f);
    EXPECT_EQ((std::vector<float>{f.x, f.y, f.z, f.w}), (std::vector<float>{1, 2, 3, 4}));
}

TEST(ScreenColorTest, DeviceAndSoftwareScreens) {
    const GraphicsSystemStateData saved = GraphicsSystemState;
    struct Case {
        int device, depth;
        int r, g, b;
        std::uint32_t color;
        int dr, dg, db;
    };
    const Case cases[] = {
        {1, 32, 0x12, 0x34, 0x56, 0xFF123456u, 0x12, 0x34, 0x56},
        {1, 16, 0x112, 0x34, 0x56, 0xFF123456u, 0x12, 0x34, 0x56},
        {0, 0, 255, 0, 0, 0xF800u, 255, 0, 0},  // unset depth reads as 16
        {0, 16, 0x10, 0x20, 0x30, 0x1106u, 16, 32, 49},
        {0, 32, 0x10, 0x20, 0x30, 0xFF102030u, 0x10, 0x20, 0x30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device * 100 + c.depth);
        GraphicsSystemState.DevicePresent = c.device;
        GraphicsSystemState.ScreenModeSettings.ColorBitDepth = c.depth;
        EXPECT_EQ(ComposeScreenColor(c.r, c.g, c.b), c.color);
        int r = -1, g = -1, b = -1;
        EXPECT_EQ(DecomposeScreenColor(c.color, &r, &g, &b), 0);
        EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{c.dr, c.dg, c.db}));
    }
    GraphicsSystemState = saved;
}

TEST(AlphaFileNameTest, UnderscoreABeforeTheLastDot) {
    struct Case {
        std::u16string name, expected;
    };
    const Case cases[] = {
        {u"picture.png", u"picture_a.png"},
        {u"a.b.bmp", u"a.b_a.bmp"},
        {u"noext", u"noext_a"},
        {u"data.dir/picture", u"data_a.dir/picture"},
        {u"画像.png", u"画像_a.png"},
        {u"\U0001F600.jpg", u"\U0001F600_a.jpg"},
        {u"", u"_a"},
    };
    for (const Case& c : cases) {
        char16_t out[64];
        std::fill(std::begin(out), std::end(out), u'#');
        EXPECT_EQ(MakeAlphaImageFileName(c.name.c_str(), out, sizeof(out)), 0);
        EXPECT_EQ(std::u16string(out), c.expected);
    }
    // A short buffer cuts the name and keeps it terminated.
    char16_t small[5];
    std::fill(std::begin(small), std::end(small), u'#');
    MakeAlphaImageFileName(u"picture.png", small, sizeof(small));
    EXPECT_EQ(std::u16string(small), u"pict");
}

struct TestLoadParams {
    void (*UserReaders[10])();
    std::int32_t UserReaderCount;
    std::int32_t HeaderOnly;
};

TEST(BaseImageModuleTest, TablesMatchTheirFormulasAndStartOnce) {
    const BaseImageModuleStateData& s = BaseImageModuleState;
    ASSERT_EQ(s.Initialised, 1);
    EXPECT_EQ(InitBaseImageModule(), -1);
    for (int k = 0; k < 1280; ++k) {
        const int expected = k < 512 ? 0 : k > 767 ? 255 : k - 512;
        ASSERT_EQ(s.ByteClampTable[k], expected) << k;
    }
    const int coefficients[4] = {26148, -6406, -13320, 33062};
    for (int i = 0; i < 256; ++i) {
        for (int t = 0; t < 4; ++t)
            ASSERT_EQ(s.YuvCoefficientTables[t][i], (i - 128) * coefficients[t]);
        ASSERT_EQ(s.YuvCoefficientTables[kYuvLuma][i], (i - 16) * 19070);
    }
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            ASSERT_EQ(s.Multiply255Table[a][b], a * b / 255) << a << " " << b;
            const int d = b == 0 ? 0 : std::min(a * 255 / b, 255);
            ASSERT_EQ(s.Divide255Table[a][b], d) << a << " " << b;
        }
    }
    TestLoadParams params{};
    params.UserReaderCount = 5;
    EXPECT_EQ(CopyUserImageReaders(&params, 1), 0);
    EXPECT_EQ(params.UserReaderCount, 0);
    EXPECT_EQ(params.HeaderOnly, 1);

    // End and start again; a second end is refused.
    EXPECT_EQ(EndBaseImageModule(), 0);
    EXPECT_EQ(EndBaseImageModule(), -1);
    EXPECT_EQ(InitBaseImageModule(), 0);
}

}  // namespace
