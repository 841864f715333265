// Memory images (set-up, views, release, fill, run tables) and the drawing state's tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Main/DxMemImg.h"
#include "Source/Library/Main/MemImgReference.h"
#include "Source/Library/Main/MemImgTestSupport.h"

using namespace ZiDaz;
using memimg_test::ReadRaw;
using memimg_test::WriteRaw;

namespace {

TEST(MemImgTablesTest, ScaleTablesHoldExactQuotients) {
    InitMemImgModule();
    const auto& st = MemImgDrawState;
    EXPECT_EQ(st.MemImgSignedScaleTable[255][256 - 255], -255);
    EXPECT_EQ(st.MemImgSignedScaleTable[255][256 + 1], 1);
    EXPECT_EQ(st.MemImgSignedScaleTable[1][256 + 254], 0);
    EXPECT_EQ(st.MemImgSignedScaleTable[1][256 - 255], -1);
    EXPECT_EQ(st.MemImgSignedScaleTable[128][256 - 1], 0);
    EXPECT_EQ(st.MemImgScaleTable[128][255], 128);
    EXPECT_EQ(st.MemImgScaleTable[128][1], 0);
    for (int p = 0; p < 256; ++p) {
        EXPECT_EQ(st.MemImgSignedScaleTable[p][0], 0);
        for (int v = 0; v < 256; ++v) {
            ASSERT_EQ(st.MemImgScaleTable[p][v], static_cast<int>(memimg_ref::Scale(p, v)));
            ASSERT_EQ(st.MemImgScaleTable[255][v], v);
        }
        for (int d = -255; d <= 255; ++d) {
            ASSERT_EQ(st.MemImgSignedScaleTable[p][256 + d], memimg_ref::SignedScale(p, d));
        }
    }
}

TEST(MemImgTablesTest, BlendImageTableFollowsTheBorderParameters) {
    auto table = [](int position, int range) {
        BuildMemImgBlendImageTable(position, range);
        return std::vector<int>(MemImgDrawState.BlendImageTable,
                                MemImgDrawState.BlendImageTable + 256);
    };
    for (int range : {0, 17, 255}) EXPECT_EQ(table(0, range), std::vector<int>(256, 255));
    std::vector<int> expected(256);
    for (int v = 0; v < 256; ++v) expected[v] = v;
    EXPECT_EQ(table(128, 255), expected);
    expected.assign(256, 0);
    expected[255] = 1;
    EXPECT_EQ(table(255, 255), expected);
    for (int v = 0; v < 256; ++v) expected[v] = v < 128 ? 0 : v == 128 ? 128 : 255;
    EXPECT_EQ(table(128, 0), expected);
    for (int v = 0; v < 256; ++v) expected[v] = std::min(64 + 2 * v, 255);
    EXPECT_EQ(table(64, 127), expected);
    for (int position : {0, 1, 100, 200, 255}) {
        for (int range : {0, 3, 64, 200, 255}) {
            const auto t = table(position, range);
            for (int v = 0; v < 256; ++v) {
                ASSERT_EQ(t[v], memimg_ref::BlendWeight(position, range, v));
            }
        }
    }
}

TEST(MemImgTest, SetupComputesPitchAndPixelSize) {
    struct Row {
        int width, colorType, palette, alpha;
        int pitch, bytes;
        std::uint32_t usePalette, useAlpha;
    };
    const Row rows[] = {
        {100, 0, 0, 0, 208, 2, 0, 0}, {128, 0, 0, 0, 256, 2, 0, 0}, {4, 0, 0, 0, 16, 2, 0, 0},
        {3, 1, 0, 0, 16, 4, 0, 0},    {5, 1, 1, 0, 16, 1, 1, 0},    {5, 0, 0, 1, 32, 4, 0, 1},
        {5, 0, 1, 1, 16, 1, 1, 0},    {5, 2, 1, 1, 16, 1, 0, 0},    {9, 3, 0, 1, 32, 2, 0, 0},
    };
    for (const Row& r : rows) {
        MEMIMG m{};
        ASSERT_EQ(SetupMemImg(&m, r.width, 10, -1, 0, r.colorType, r.palette, r.alpha, 0, nullptr),
                  0);
        EXPECT_EQ(m.Shared->Pitch, r.pitch) << r.width << " type " << r.colorType;
        EXPECT_EQ(MemImgBytesPerPixel(m.Shared), r.bytes);
        EXPECT_EQ(m.Shared->UsePalette, r.usePalette);
        EXPECT_EQ(m.Shared->UseAlpha, r.useAlpha);
        EXPECT_EQ(m.Shared->PaletteTable != nullptr, r.usePalette != 0);
        EXPECT_EQ(m.Shared->Format->BytesPerPixel, r.bytes);
        EXPECT_EQ(m.Shared->UseTransColor, 1u);
        EXPECT_EQ(IsMemImgValid(&m), 1);
        EXPECT_EQ(SetupMemImg(&m, 1, 1, -1, 0, 1, 0, 0, 0, nullptr), -1);  // already set up
        ReleaseMemImg(&m);
        EXPECT_EQ(IsMemImgValid(&m), 0);
    }
}

TEST(MemImgTest, ColorFormatsAndDefaultColorType) {
    const COLORFORMAT* f = SelectMemImgColorFormat(0, 1, 0);
    EXPECT_EQ(f->BitsPerPixel, 32);
    EXPECT_EQ(f->AlphaMask, 0xFF0000u);
    EXPECT_EQ(f->GreenWidth, 6);
    EXPECT_EQ(f->GreenPosition, 5);
    EXPECT_EQ(SelectMemImgColorFormat(0, 1, 0), f);  // built once and shared
    EXPECT_EQ(SelectMemImgColorFormat(1, 0, 1)->BitsPerPixel, 8);
    EXPECT_EQ(SelectMemImgColorFormat(1, 1, 0)->AlphaMask, 0xFF000000u);
    EXPECT_EQ(SelectMemImgColorFormat(3, 0, 0)->RedMask, 0xFFFFu);
    EXPECT_EQ(SelectMemImgColorFormat(2, 1, 1)->BytesPerPixel, 1);
    EXPECT_EQ(SelectMemImgColorFormat(4, 0, 0), nullptr);

    SetDefaultMemImgColorType(1);
    MEMIMG m{};
    ASSERT_EQ(SetupMemImgDefault(&m, 3, 2, -1), 0);
    EXPECT_EQ(m.Shared->ColorType, 1u);
    EXPECT_EQ(MemImgBytesPerPixel(m.Shared), 4);
    ReleaseMemImg(&m);
    SetDefaultMemImgColorType(0);
}

TEST(MemImgTest, ViewsShareTheStoreUntilTheLastRelease) {
    MEMIMG image{}, view{}, outside{};
    ASSERT_EQ(SetupMemImgDefault(&image, 10, 6, 1), 0);
    MakeMemImgView(&view, &image, 6, 2, 4, 3);  // reaches the right edge exactly
    ASSERT_EQ(IsMemImgValid(&view), 1);
    EXPECT_EQ(view.Pixels, image.Pixels + 6 * 4 + 2 * image.Shared->Pitch);
    EXPECT_EQ(image.Shared->RefCount, 2);
    MakeMemImgView(&outside, &image, 7, 2, 4, 3);  // one more: nothing happens
    EXPECT_EQ(IsMemImgValid(&outside), 0);
    MakeMemImgView(&outside, &image, -1, 0, 1, 1);
    EXPECT_EQ(IsMemImgValid(&outside), 0);

    ReleaseMemImg(&image);  // the view keeps the store alive
    EXPECT_EQ(IsMemImgValid(&image), 0);
    WriteRaw(view, 3, 2, 0x12345678);
    EXPECT_EQ(ReadRaw(view, 3, 2), 0x12345678u);
    ReleaseMemImg(&view);
    ReleaseMemImg(&view);  // no longer valid: nothing
}

TEST(MemImgTest, FillWritesOnlyTheClippedRectangle) {
    for (int colorType : {0, 1, 2}) {
        MEMIMG m{};
        ASSERT_EQ(SetupMemImgDefault(&m, 5, 4, colorType), 0);
        FillMemImgRect(&m, nullptr, 0);
        const RECT partly{3, -2, 9, 2};
        FillMemImgRect(&m, &partly, 0xABCDEF12);
        const RECT reversed{4, 3, 1, 4};
        FillMemImgRect(&m, &reversed, 0x77);
        const std::uint32_t v = colorType == 0 ? 0xEF12u : colorType == 1 ? 0xABCDEF12u : 0x12u;
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 5; ++x) {
                EXPECT_EQ(ReadRaw(m, x, y), x >= 3 && y < 2 ? v : 0u)
                    << "type " << colorType << " at " << x << ", " << y;
            }
        }
        ReleaseMemImg(&m);
    }
}

TEST(MemImgTest, FillOfRowsLongerThanOneBlockWritesEveryPixelAndNothingBeyond) {
    // Rows are filled in 64-byte blocks and a shorter tail: widths around the block sizes of
    // 2- and 4-byte pixels, starting at an odd column, in an image one column wider on each side.
    for (int colorType : {0, 1}) {
        for (int width : {1, 16, 31, 32, 33, 47, 100}) {
            MEMIMG m{};
            ASSERT_EQ(SetupMemImgDefault(&m, width + 4, 3, colorType), 0);
            FillMemImgRect(&m, nullptr, 0);
            const RECT inner{3, 1, 3 + width, 2};
            FillMemImgRect(&m, &inner, 0x89ABCDEF);
            const std::uint32_t v = colorType == 0 ? 0xCDEFu : 0x89ABCDEFu;
            for (int y = 0; y < 3; ++y) {
                for (int x = 0; x < width + 4; ++x) {
                    const bool inside = y == 1 && x >= 3 && x < 3 + width;
                    ASSERT_EQ(ReadRaw(m, x, y), inside ? v : 0u)
                        << "type " << colorType << " width " << width << " at " << x << ", " << y;
                }
            }
            ReleaseMemImg(&m);
        }
    }
}

TEST(MemImgTest, RunTableEncodesRowsInRunsOfAtMost64) {
    MEMIMG m{};
    ASSERT_EQ(SetupMemImg(&m, 65, 2, -1, 0x1234, 0, 0, 0, 1, nullptr), 0);
    for (int x = 0; x < 65; ++x) {
        WriteRaw(m, x, 0, 0x1234);
        WriteRaw(m, x, 1, x < 2 ? 0x1234u : 0x5u);
    }
    RebuildMemImgRunTable(&m);
    EXPECT_EQ(m.Shared->RunTableValid, 1u);
    const std::vector<std::uint8_t> expected{0x3F, 0x00, 0xC0, 0x01, 0x40 | 62, 0xC0};
    EXPECT_EQ(std::vector<std::uint8_t>(m.Shared->RunTable, m.Shared->RunTable + 6), expected);
    ReleaseMemImg(&m);

    MEMIMG a{};
    ASSERT_EQ(SetupMemImg(&a, 4, 1, -1, 0, 1, 0, 1, 1, nullptr), 0);
    const std::uint32_t px[] = {0x00FFFFFF, 0xFF000000, 0x80000000, 0x81000000};
    for (int x = 0; x < 4; ++x) WriteRaw(a, x, 0, px[x]);
    RebuildMemImgRunTable(&a);
    EXPECT_EQ(std::vector<std::uint8_t>(a.Shared->RunTable, a.Shared->RunTable + 4),
              (std::vector<std::uint8_t>{0x00, 0x40, 0x81, 0xC0}));
    ReleaseMemImg(&a);
}

TEST(MemImgTest, UserPixelsAreNeverFreed) {
    std::vector<std::uint32_t> pixels(8 * 2, 0);
    MEMIMG m{};
    ASSERT_EQ(SetupMemImg(&m, 8, 2, 32, 0, 1, 0, 0, 0, pixels.data()), 0);
    EXPECT_EQ(m.Shared->UserPixels, 1u);
    FillMemImgRect(&m, nullptr, 9);
    ReleaseMemImg(&m);
    EXPECT_EQ(pixels, std::vector<std::uint32_t>(16, 9));
    EXPECT_EQ(SetupMemImg(&m, -1, 2, -1, 0, 1, 0, 0, 0, nullptr), -1);
}

}  // namespace
