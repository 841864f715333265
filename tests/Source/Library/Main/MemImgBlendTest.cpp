// Worked examples of the blending rules, the plain transfer's placement and clipping, and the
// stretched transfer's stepping and limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "Main/DxMemImg.h"
#include "Source/Library/Main/MemImgTestSupport.h"

using namespace ZiDaz;
using memimg_test::ReadRaw;
using memimg_test::WriteRaw;

namespace {

enum Kind { kPlain, kPalette, kAlpha };

class MemImgBlendTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { InitMemImgModule(); }
    void SetUp() override {
        SetMemImgBlendMode(DX_BLEND_NONE, 255);
        SetMemImgDrawBright(0xFFFFFF);
        BuildMemImgBlendImageTable(128, 255);  // identity: blend byte v weighs v
    }
    void TearDown() override {
        for (auto& m : images_) ReleaseMemImg(m.get());
    }
    MEMIMG* Image(int w, int h, int colorType, int palette = 0, int alpha = 0) {
        auto* m = new MEMIMG{};
        SetupMemImg(m, w, h, -1, 0, colorType, palette, alpha, 0, nullptr);
        images_.emplace_back(m);
        return m;
    }
    // One source pixel drawn onto one destination pixel by the plain transfer.
    std::uint32_t Blend1(int colorType, Kind kind, std::uint32_t src, std::uint32_t dst,
                         int trans = 0, int blendByte = -1) {
        MEMIMG* s = Image(1, 1, colorType, kind == kPalette, kind == kAlpha);
        MEMIMG* d = Image(1, 1, colorType);
        MEMIMG* b = Image(1, 1, 2);
        WriteRaw(*s, 0, 0, src);
        WriteRaw(*d, 0, 0, dst);
        WriteRaw(*b, 0, 0, static_cast<std::uint32_t>(blendByte < 0 ? 0 : blendByte));
        const RECT area{0, 0, 1, 1};
        SetMemImgDrawArea(&area);
        DrawMemImg(d, s, 0, 0, trans, blendByte < 0 ? nullptr : b);
        return ReadRaw(*d, 0, 0);
    }
    std::vector<std::unique_ptr<MEMIMG>> images_;
};

TEST_F(MemImgBlendTest, WorkedExamplesOfTheBlendingRules) {
    SetMemImgBlendMode(DX_BLEND_ALPHA, 128);
    EXPECT_EQ(Blend1(1, kPlain, 0xFFFFFF, 0), 0x7F7F7Fu);
    EXPECT_EQ(Blend1(0, kPlain, 31u << 11, 0) >> 11, 15u);
    EXPECT_EQ(Blend1(0, kPlain, 0, 31u << 11) >> 11, 16u);  // truncation toward the destination

    SetMemImgBlendMode(DX_BLEND_ALPHA, 200);
    EXPECT_EQ(Blend1(1, kAlpha, 0xFF0000FF, 0, 1) & 0xFF, 199u);  // alpha 255 dropped
    EXPECT_EQ(Blend1(1, kAlpha, 0xFF0000FF, 0, 0) & 0xFF, 198u);  // weighs 255 / 256

    SetMemImgBlendMode(DX_BLEND_ADD, 255);
    EXPECT_EQ(Blend1(1, kPlain, 0x80, 0xA0), 0x1FFu);  // blue saturates, its carry sets green
    EXPECT_EQ(Blend1(0, kPlain, 0x0821, 0x0821), 0x0822u);

    SetMemImgBlendMode(DX_BLEND_SUBTRACT, 255);
    EXPECT_EQ(Blend1(1, kPlain, 0, 0xFF123456), 0x00133556u);
    EXPECT_EQ(Blend1(0, kPlain, 0, 0xFFFF), 0xFFDFu);

    SetMemImgBlendMode(DX_BLEND_MULTIPLY, 0);
    EXPECT_EQ(Blend1(1, kPlain, 0xFFFFFF, 0xFFFFFF), 0xFEFEFEu);
    EXPECT_EQ(Blend1(0, kPlain, 0xFFFF, 0xFFFF), 0xF7DEu);
    EXPECT_EQ(Blend1(1, kPlain, 0xFFFFFF, 0xFFFFFF, 0, 0), 0u);  // blend weight 0: black

    SetMemImgBlendMode(DX_BLEND_INVERT_SOURCE, 255);
    EXPECT_EQ(Blend1(1, kPlain, 0, 0), 0xFEFEFEu);
    SetMemImgBlendMode(DX_BLEND_INVERT_SOURCE, 0);
    EXPECT_EQ(Blend1(1, kPlain, 0, 0x123456), 0x123456u);

    SetMemImgBlendMode(DX_BLEND_MULTIPLY_ALPHA, 255);
    EXPECT_EQ(Blend1(1, kPlain, 0x80, 0x80), 0x40u);

    SetMemImgBlendMode(DX_BLEND_NONE, 0);
    SetMemImgDrawBright(0x808080);
    EXPECT_EQ(Blend1(1, kPlain, 0x11FFFFFF, 0xAA000000), 0xAA808080u);
    SetMemImgDrawBright(0xFFFFFF);
    EXPECT_EQ(Blend1(1, kPlain, 0x11FFFFFF, 0xAA000000), 0x11FFFFFFu);

    // Blend weights never pass the source through unchanged.
    EXPECT_EQ(Blend1(1, kPlain, 0xFF, 0, 0, 128), 127u);
    EXPECT_EQ(Blend1(1, kPlain, 0xFF, 0, 0, 255), 254u);

    // Alpha sources under DX_BLEND_NONE: copied whole without transparency, mixed with it.
    EXPECT_EQ(Blend1(1, kAlpha, 0x80FF0000, 0x00000000, 0), 0x80FF0000u);
    EXPECT_EQ(Blend1(1, kAlpha, 0x80FF0000, 0x00000000, 1), 0x007F0000u);
    SetMemImgBlendMode(DX_BLEND_MULTIPLY, 0);
    EXPECT_EQ(Blend1(1, kAlpha, 0x00FFFFFF, 0x00808080, 1), 0x00808080u);
    EXPECT_EQ(Blend1(1, kAlpha, 0x00FFFFFF, 0x00808080, 0), 0u);

    // E1: alpha before the tint on 16-bit add.
    SetMemImgBlendMode(DX_BLEND_ADD, 255);
    SetMemImgDrawBright(0xFFFF80);
    EXPECT_EQ(Blend1(0, kAlpha, (200u << 16) | 3, 0, 1) & 0x1F, 1u);
    // E2: finer green on 16-bit multiply-alpha.
    SetMemImgBlendMode(DX_BLEND_MULTIPLY_ALPHA, 255);
    SetMemImgDrawBright(0xFFFFFF);
    EXPECT_EQ((Blend1(0, kAlpha, (200u << 16) | (7u << 5), 10u << 5, 1) >> 5) & 0x3F, 3u);
}

TEST_F(MemImgBlendTest, TransparentColourComparesTheRawValue) {
    // 32-bit plain: all 32 bits must match; a source that does not use its key draws it.
    for (const auto& [src, useKey, drawn] :
         {std::tuple{0x00123456u, 1u, false}, std::tuple{0xFF123456u, 1u, true},
          std::tuple{0x00123456u, 0u, true}}) {
        MEMIMG* s = Image(1, 1, 1);
        MEMIMG* d = Image(1, 1, 1);
        s->Shared->TransColor = 0x00123456;
        s->Shared->UseTransColor = useKey;
        WriteRaw(*s, 0, 0, src);
        WriteRaw(*d, 0, 0, 7);
        const RECT area{0, 0, 1, 1};
        SetMemImgDrawArea(&area);
        DrawMemImg(d, s, 0, 0, 1, nullptr);
        EXPECT_EQ(ReadRaw(*d, 0, 0), drawn ? src : 7u) << std::hex << src;
    }
}

TEST_F(MemImgBlendTest, PlainTransferPlacesAndClips) {
    // Source pixel (i, j) holds 100 + 10 j + i; the destination starts at 0.
    MEMIMG* src = Image(4, 3, 1);
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 4; ++i) WriteRaw(*src, i, j, 100 + 10 * j + i);
    }
    struct Row {
        RECT area;
        int x, y;
        std::vector<std::tuple<int, int, std::uint32_t>> changed;
    };
    const Row rows[] = {
        {{0, 0, 8, 6}, 1, 1, {}},  // filled in below: the whole source at (1, 1)
        {{0, 0, 8, 6}, -2, -1, {{0, 0, 112}, {1, 0, 113}, {0, 1, 122}, {1, 1, 123}}},
        {{2, 2, 5, 4},
         1,
         1,
         {{2, 2, 111}, {3, 2, 112}, {4, 2, 113}, {2, 3, 121}, {3, 3, 122}, {4, 3, 123}}},
        {{0, 0, 8, 6}, 8, 0, {}},
    };
    for (int r = 0; r < 4; ++r) {
        MEMIMG* dst = Image(8, 6, 1);
        FillMemImgRect(dst, nullptr, 0);
        SetMemImgDrawArea(&rows[r].area);
        DrawMemImg(dst, src, rows[r].x, rows[r].y, 0, nullptr);
        std::vector<std::uint32_t> expected(48, 0);
        if (r == 0) {
            for (int j = 0; j < 3; ++j) {
                for (int i = 0; i < 4; ++i) expected[(j + 1) * 8 + i + 1] = 100 + 10 * j + i;
            }
        }
        for (const auto& [x, y, v] : rows[r].changed) expected[y * 8 + x] = v;
        EXPECT_EQ(memimg_test::Snapshot(*dst), expected) << "row " << r;
    }
}

// Source columns that a one-row stretch shows, left to right, for a source w wide drawn into
// [left, right) (reversed for a mirror), with the draw area from areaLeft to areaRight.
std::vector<int> StretchColumns(int w, int left, int right, int areaLeft = 0,
                                int areaRight = 4096) {
    MEMIMG src{}, dst{};
    SetupMemImg(&src, w, 1, -1, 0, 1, 0, 0, 0, nullptr);
    const int dstW = std::max(left, right) + 1;
    SetupMemImg(&dst, dstW, 1, -1, 0, 1, 0, 0, 0, nullptr);
    for (int i = 0; i < w; ++i) WriteRaw(src, i, 0, static_cast<std::uint32_t>(i));
    FillMemImgRect(&dst, nullptr, 0xFFFFFFFF);
    const RECT area{areaLeft, 0, std::min(areaRight, dstW), 1};
    SetMemImgDrawArea(&area);
    const RECT r{left, 0, right, 1};
    DrawMemImgStretched(&dst, &src, &r, 0, nullptr);
    std::vector<int> out;
    for (int x = 0; x < dstW; ++x) {
        const std::uint32_t v = ReadRaw(dst, x, 0);
        if (v != 0xFFFFFFFF) out.push_back(static_cast<int>(v));
    }
    ReleaseMemImg(&src);
    ReleaseMemImg(&dst);
    return out;
}

TEST_F(MemImgBlendTest, StretchSteppingExamples) {
    EXPECT_EQ(StretchColumns(3, 0, 7), (std::vector<int>{0, 0, 0, 1, 1, 2, 2}));
    EXPECT_EQ(StretchColumns(3, 7, 0), (std::vector<int>{2, 2, 2, 1, 1, 0, 0}));
    EXPECT_EQ(StretchColumns(5, 0, 2), (std::vector<int>{0, 2}));
    EXPECT_EQ(StretchColumns(4, 0, 8), (std::vector<int>{0, 0, 1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(StretchColumns(4, 4, 0), (std::vector<int>{3, 2, 1, 0}));  // mirror, own size
    EXPECT_EQ(StretchColumns(1, 0, 5), (std::vector<int>(5, 0)));
    EXPECT_EQ(StretchColumns(6, 0, 1), (std::vector<int>{0}));
    EXPECT_EQ(StretchColumns(6, 1, 0), (std::vector<int>{5}));
    EXPECT_TRUE(StretchColumns(6, 3, 3).empty());
    EXPECT_TRUE(StretchColumns(3, 0, 7, 7, 9).empty());  // wholly outside the draw area
}

TEST_F(MemImgBlendTest, StretchMatchesTheClosedFormUnderClipping) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 300; ++trial) {
        const int w = 1 + static_cast<int>(rng() % 40);
        const int size = 1 + static_cast<int>(rng() % 90);
        const bool mirror = rng() % 2 != 0;
        const int areaLeft = static_cast<int>(rng() % (size + 1));
        const int areaRight = areaLeft + static_cast<int>(rng() % (size + 1 - areaLeft + 1));
        const auto cols =
            StretchColumns(w, mirror ? size : 0, mirror ? 0 : size, areaLeft, areaRight);
        const std::uint32_t scale = static_cast<std::uint32_t>(size) * 65536 / w;
        std::vector<int> expected;
        for (int x = areaLeft; x < std::min(areaRight, size + 1) && x < size; ++x) {
            const int c = static_cast<int>(std::int64_t{x} * 65536 / scale);
            expected.push_back(mirror ? w - 1 - c : c);
        }
        if (size == w && !mirror) continue;  // handed to the plain transfer
        ASSERT_EQ(cols, expected) << "w " << w << " size " << size << " mirror " << mirror
                                  << " area " << areaLeft << ".." << areaRight;
    }
}

TEST_F(MemImgBlendTest, StretchTurnsAndMirrorsTwoDimensionalImages) {
    MEMIMG* src = Image(3, 2, 1);
    for (int j = 0; j < 2; ++j) {
        for (int i = 0; i < 3; ++i) WriteRaw(*src, i, j, 10 * j + i);
    }
    MEMIMG* dst = Image(3, 2, 1);
    const RECT area{0, 0, 3, 2};
    SetMemImgDrawArea(&area);
    const RECT turned{3, 2, 0, 0};
    DrawMemImgStretched(dst, src, &turned, 0, nullptr);
    EXPECT_EQ(memimg_test::Snapshot(*dst), (std::vector<std::uint32_t>{12, 11, 10, 2, 1, 0}));
}

TEST_F(MemImgBlendTest, StretchRefusesRectanglesBeyondTheFixedPointRange) {
    MEMIMG* src = Image(1, 1, 1);
    WriteRaw(*src, 0, 0, 5);
    MEMIMG* dst = Image(4, 4, 1);
    const RECT area{0, 0, 4, 4};
    SetMemImgDrawArea(&area);
    for (const RECT& r : {RECT{0, 0, 32768, 4}, RECT{0, 0, 4, 32768}, RECT{-40000, 0, 4, 4},
                          RECT{INT32_MIN, 0, INT32_MAX, 4}}) {
        FillMemImgRect(dst, nullptr, 0);
        DrawMemImgStretched(dst, src, &r, 0, nullptr);
        EXPECT_EQ(memimg_test::Snapshot(*dst), std::vector<std::uint32_t>(16, 0))
            << r.left << " " << r.top << " " << r.right << " " << r.bottom;
    }
    // A draw area far from the rectangle clips it away before any stepping is computed.
    const RECT farArea{50000, 0, 50004, 4};
    SetMemImgDrawArea(&farArea);
    const RECT near{0, 0, 4, 3};
    DrawMemImgStretched(dst, src, &near, 0, nullptr);
    EXPECT_EQ(memimg_test::Snapshot(*dst), std::vector<std::uint32_t>(16, 0));
    SetMemImgDrawArea(&area);
    // The largest allowed rectangle still draws.
    const RECT largest{-32763, 0, 4, 4};
    DrawMemImgStretched(dst, src, &largest, 0, nullptr);
    EXPECT_EQ(memimg_test::Snapshot(*dst), std::vector<std::uint32_t>(16, 5));
    // A source of no pixels is refused.
    MEMIMG* empty = Image(0, 1, 1);
    FillMemImgRect(dst, nullptr, 0);
    const RECT r{0, 0, 4, 4};
    DrawMemImgStretched(dst, empty, &r, 0, nullptr);
    EXPECT_EQ(memimg_test::Snapshot(*dst), std::vector<std::uint32_t>(16, 0));
}

}  // namespace

#if defined(__SSE2__) && defined(__x86_64__)
#include "Main/DxMemImgBlend.h"
#include "Main/DxMemImgRows.h"

namespace {

// The wide alpha rows (baseline and the widest the processor has) equal the kernel pixel by pixel
// for every length and mixture of alpha 0, 255 and between.
TEST(MemImgRowsTest, WideAlphaRowsEqualTheKernel) {
    using K = memimg::KernelAt<memimg::VariantIndex(1, memimg::Kind::kAlpha, memimg::Op::kNone,
                                                    false, true, true),
                               memimg::kPlainTransferRules>;
    std::mt19937 rng(5);
    memimg::PixelContext context{};
    for (int length = 0; length < 40; ++length) {
        std::vector<std::uint32_t> src(length), dst(length);
        for (int i = 0; i < length; ++i) {
            const int pick = static_cast<int>(rng() % 3);
            const std::uint32_t a = pick == 0 ? 0u : pick == 1 ? 255u : rng() & 0xFF;
            src[i] = (rng() & 0xFFFFFF) | a << 24;
            dst[i] = rng();
        }
        std::vector<std::uint32_t> expected = dst, sse2 = dst, wide = dst;
        for (int i = 0; i < length; ++i) {
            K::Pixel(context, reinterpret_cast<const std::uint8_t*>(&src[i]), nullptr,
                     &expected[i]);
        }
        const auto* s = reinterpret_cast<const std::uint8_t*>(src.data());
        memimg::AlphaOverRow32Sse2(sse2.data(), s, length);
        memimg::AlphaOverRow32(wide.data(), s, length);
        EXPECT_EQ(sse2, expected) << length;
        EXPECT_EQ(wide, expected) << length;
    }
}

}  // namespace
#endif
