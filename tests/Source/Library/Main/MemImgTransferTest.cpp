// Plain and stretched transfers against the reference pixel function, over every blend mode,
// colour depth, kind of source, blend image, bright colour, transparency setting and the blend
// parameters that matter, on seeded random images.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Main/DxMemImg.h"
#include "Source/Library/Main/MemImgCases.h"
#include "Source/Library/Main/MemImgReference.h"
#include "Source/Library/Main/MemImgTestSupport.h"

using namespace ZiDaz;
using namespace memimg_cases;

namespace {

class MemImgTransferTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        InitMemImgModule();
        BuildMemImgBlendImageTable(kBorderPosition, kBorderRange);
    }
    void TearDown() override {
        SetMemImgBlendMode(DX_BLEND_NONE, 255);
        SetMemImgDrawBright(0xFFFFFF);
    }
    static constexpr RECT kArea{1, 1, kDstW - 1, kDstH - 1};
};

TEST_F(MemImgTransferTest, PlainTransferEqualsReferenceInEveryVariant) {
    const struct { int x, y; } positions[] = {{3, 2}, {-2, -1}, {kDstW - kSrcW + 1, 7}, {0, 0}};
    std::uint32_t seed = 1;
    for (const Case& c : AllCases()) {
        Scene scene(c, seed++);
        UseDrawState(c, kArea);
        const memimg_ref::Draw draw = DrawOf(c, scene, true);
        for (const auto& pos : positions) {
            scene.ResetDest();
            DrawMemImg(&scene.dest, &scene.source, pos.x, pos.y, c.trans != kTransOff ? 1 : 0,
                       c.blend ? &scene.blend : nullptr);
            ASSERT_TRUE(MatchesReference(scene, draw, kArea,
                                         [&](int x, int y, int* sx, int* sy) {
                                             *sx = x - pos.x;
                                             *sy = y - pos.y;
                                             return *sx >= 0 && *sx < kSrcW && *sy >= 0 &&
                                                    *sy < kSrcH;
                                         }))
                << c.Describe() << " at (" << pos.x << ", " << pos.y << ")";
        }
    }
}

TEST_F(MemImgTransferTest, StretchedTransferEqualsReferenceInEveryVariant) {
    // Magnified, mirrored both ways and clipped, shrunk, the source's own size (handed to the
    // plain transfer) and the source's own size mirrored.
    const RECT rects[] = {{1, 2, kDstW - 1, 9},
                          {kDstW + 1, kDstH - 1, -1, 0},
                          {0, 0, kSrcW / 2, 3},
                          {3, 2, 3 + kSrcW, 2 + kSrcH},
                          {3 + kSrcW, 2, 3, 2 + kSrcH}};
    std::uint32_t seed = 100000;
    for (const Case& c : AllCases()) {
        Scene scene(c, seed++);
        UseDrawState(c, kArea);
        for (const RECT& r : rects) {
            scene.ResetDest();
            DrawMemImgStretched(&scene.dest, &scene.source, &r, c.trans != kTransOff ? 1 : 0,
                                c.blend ? &scene.blend : nullptr);
            const bool xMirror = r.left > r.right;
            const bool yMirror = r.top > r.bottom;
            const int x0 = xMirror ? r.right : r.left;
            const int y0 = yMirror ? r.bottom : r.top;
            const int w = xMirror ? r.left - r.right : r.right - r.left;
            const int h = yMirror ? r.top - r.bottom : r.bottom - r.top;
            const bool handOff = w == kSrcW && h == kSrcH && !xMirror && !yMirror;
            const std::uint32_t xScale = static_cast<std::uint32_t>(w) * 65536 / kSrcW;
            const std::uint32_t yScale = static_cast<std::uint32_t>(h) * 65536 / kSrcH;
            ASSERT_TRUE(MatchesReference(
                scene, DrawOf(c, scene, handOff), kArea,
                [&](int x, int y, int* sx, int* sy) {
                    if (x < x0 || x >= x0 + w || y < y0 || y >= y0 + h) return false;
                    const int col = static_cast<int>(std::int64_t{x - x0} * 65536 / xScale);
                    const int row = static_cast<int>(std::int64_t{y - y0} * 65536 / yScale);
                    *sx = xMirror ? kSrcW - 1 - col : col;
                    *sy = yMirror ? kSrcH - 1 - row : row;
                    return true;
                }))
                << c.Describe() << " into (" << r.left << ", " << r.top << ", " << r.right << ", "
                << r.bottom << ")";
        }
    }
}

TEST_F(MemImgTransferTest, ModesWithoutRulesAndRefusedImagesDrawNothing) {
    std::mt19937 rng(7);
    MEMIMG src32{}, src16{}, dst32{}, dstPal{}, dstAlpha{}, gray{}, gray2{};
    memimg_test::MakeRandomImage(src32, 4, 3, 1, 0, 0, rng);
    memimg_test::MakeRandomImage(src16, 4, 3, 0, 0, 0, rng);
    memimg_test::MakeRandomImage(dst32, 8, 8, 1, 0, 0, rng);
    memimg_test::MakeRandomImage(dstPal, 8, 8, 1, 1, 0, rng);
    memimg_test::MakeRandomImage(dstAlpha, 8, 8, 1, 0, 1, rng);
    memimg_test::MakeRandomImage(gray, 4, 3, 2, 0, 0, rng);
    memimg_test::MakeRandomImage(gray2, 8, 8, 2, 0, 0, rng);
    const RECT area{0, 0, 8, 8};
    SetMemImgDrawArea(&area);
    const RECT stretch{0, 0, 8, 7};
    auto unchanged = [&](MEMIMG& dst, const MEMIMG& src) {
        const auto before = memimg_test::Snapshot(dst);
        DrawMemImg(&dst, &src, 1, 1, 0, nullptr);
        DrawMemImgStretched(&dst, &src, &stretch, 0, nullptr);
        return memimg_test::Snapshot(dst) == before;
    };
    for (int mode : {5, 9, 12, -1}) {
        SetMemImgBlendMode(mode, 128);
        EXPECT_TRUE(unchanged(dst32, src32)) << "mode " << mode;
    }
    for (int mode : {1, 2, 3}) {
        SetMemImgBlendMode(mode, 0);
        EXPECT_TRUE(unchanged(dst32, src32)) << "mode " << mode << " at 0";
    }
    SetMemImgBlendMode(DX_BLEND_NONE, 255);
    EXPECT_TRUE(unchanged(dst32, src16));
    EXPECT_TRUE(unchanged(dstPal, src32));
    EXPECT_TRUE(unchanged(dstAlpha, src32));
    EXPECT_TRUE(unchanged(gray2, gray));
    // A blend image smaller than the source would be read past its end: refused.
    MEMIMG smallBlend{};
    memimg_test::MakeRandomImage(smallBlend, 3, 3, 2, 0, 0, rng);
    const auto before = memimg_test::Snapshot(dst32);
    DrawMemImg(&dst32, &src32, 0, 0, 0, &smallBlend);
    DrawMemImgStretched(&dst32, &src32, &stretch, 0, &smallBlend);
    EXPECT_EQ(memimg_test::Snapshot(dst32), before);
    for (MEMIMG* m : {&src32, &src16, &dst32, &dstPal, &dstAlpha, &gray, &gray2, &smallBlend}) {
        ReleaseMemImg(m);
    }
}

}  // namespace
