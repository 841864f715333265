// The image filter front end on the software renderer: request checks and clipping, the Gaussian
// blur, the down-scaling and the YUV conversion against slow references of their formulas, with
// graphs and the screen as destinations.
#include <gtest/gtest.h>

#include <cstdarg>

#include "FilterTestSupport.h"

using namespace velk_filter_test;
using velk_graph_test::GraphFixture;

namespace {

constexpr int kGauss = static_cast<int>(ImageFilterMode::Gauss);
constexpr int kDownScale = static_cast<int>(ImageFilterMode::DownScale);

class FilterTest : public GraphFixture {
  protected:
    void SetUp() override {
        GraphFixture::SetUp();
        StartSoftware(32);
    }
    // Expects the graph to hold `want` exactly; reports the first differing pixel.
    static void ExpectPixels(HandleValue graph, const Pixels& want) {
        const Pixels got = ReadGraph(graph);
        ASSERT_EQ(got.w, want.w);
        ASSERT_EQ(got.h, want.h);
        for (int y = 0; y < want.h; ++y)
            for (int x = 0; x < want.w; ++x)
                ASSERT_EQ(got.at(x, y), want.at(x, y)) << "pixel " << x << "," << y;
    }
    // The RGB of the software screen at (x, y).
    static std::uint32_t ScreenRgb(int x, int y) {
        return velk_graph_test::MemImgPixel(GraphicsSystemState.ScreenImage, x, y);
    }
};

TEST_F(FilterTest, GraphsHoldTheirArgbPixelsExactly) {
    const Pixels px = RandomPixels(13, 7, 1);
    const HandleValue g = MakeGraph(px);
    ASSERT_GE(g, 0);
    ExpectPixels(g, px);
}

TEST_F(FilterTest, RefusedRequestsReturnMinusOneAndTouchNothing) {
    const Pixels px = RandomPixels(16, 16, 2);
    const HandleValue g = MakeGraph(px), uv = MakeGraph(RandomPixels(5, 16, 3));
    EXPECT_EQ(RunImageFilter(g, 29), -1);
    EXPECT_EQ(RunImageFilter(g, -1), -1);
    EXPECT_EQ(RunImageFilter(-1, kGauss, 8, 100), -1);
    EXPECT_EQ(RunImageFilterToGraph(g, 12345, kGauss, 8, 100), -1);
    EXPECT_EQ(RunImageFilterOnRect(g, g, 5, 0, 5, 8, 0, 0, kGauss, 8, 100), -1);
    EXPECT_EQ(RunImageFilterOnRect(g, g, 0, 8, 8, 2, 0, 0, kGauss, 8, 100), -1);
    // A UV graph a third as wide as the luma graph fits no layout.
    EXPECT_EQ(RunImageFilter(g, static_cast<int>(ImageFilterMode::YuvToRgbUv), uv), -1);
    // Without a UV graph the software conversion cannot run: a body that fails fails the request.
    EXPECT_EQ(RunImageFilter(g, static_cast<int>(ImageFilterMode::YuvToRgb)), -1);
    ExpectPixels(g, px);
}

TEST_F(FilterTest, ShaderOnlyModesDoNothingInSoftware) {
    const Pixels px = RandomPixels(16, 16, 4);
    const HandleValue g = MakeGraph(px);
    EXPECT_EQ(RunImageFilter(g, static_cast<int>(ImageFilterMode::Bicubic), 32, 32), 0);
    EXPECT_EQ(RunImageFilter(g, static_cast<int>(ImageFilterMode::Lanczos3), 8, 8), 0);
    EXPECT_EQ(RunImageFilter(g, static_cast<int>(ImageFilterMode::FloatColorScale), 1.0, 1.0, 1.0,
                             1.0, 0.0, 0.0, 0.0, 0.0),
              0);
    ExpectPixels(g, px);
}

TEST_F(FilterTest, NegativeAndOverhangingPositionsAreClipped) {
    const Pixels src = RandomPixels(40, 20, 5);
    const Pixels before = RandomPixels(40, 20, 6);
    const HandleValue s = MakeGraph(src);
    struct Case {
        const char* what;
        int x1, y1, x2, y2, dx, dy;
        int result;
        // The source rectangle that lands and where (an empty one changes nothing).
        int sx1, sy1, sx2, sy2, at_x, at_y;
    };
    const Case cases[] = {
        {"x1 = -10 writes at x 10", -10, 0, 15, 6, 0, 0, 0, 0, 0, 15, 6, 10, 0},
        {"y1 = -3 writes at y 3", 2, -3, 9, 5, 1, 0, 0, 2, 0, 9, 5, 1, 3},
        {"negative destination drops the left part", 0, 0, 12, 4, -5, 2, 0, 5, 0, 12, 4, 0, 2},
        {"past the right edge", 0, 0, 10, 10, 40, 0, 0, 0, 0, 0, 0, 0, 0},
        {"part-way past the right edge", 0, 0, 20, 5, 30, 3, 0, 0, 0, 10, 5, 30, 3},
        {"part-way past the bottom", 4, 0, 10, 20, 0, 15, 0, 4, 0, 10, 5, 0, 15},
        {"rectangle beyond the source", 0, 0, 100, 100, 0, 0, 0, 0, 0, 40, 20, 0, 0},
        {"rectangle left of the origin", -30, 0, -5, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HandleValue d = MakeGraph(before);
        // Strength 0 copies, so the result shows exactly which pixels were written where.
        EXPECT_EQ(RunImageFilterOnRect(s, d, c.x1, c.y1, c.x2, c.y2, c.dx, c.dy, kGauss, 8, 0),
                  c.result);
        Pixels want = before;
        if (c.sx2 > c.sx1) Paste(want, SubRect(src, c.sx1, c.sy1, c.sx2, c.sy2), c.at_x, c.at_y);
        ExpectPixels(d, want);
        DestroyGraph(d);
    }
}

TEST_F(FilterTest, GaussEqualsTheReferenceOnGraphsAndTheScreen) {
    std::mt19937 random(7);
    const int widths[] = {5, 8, 12, 16, 32, 100};
    const int sizes[][2] = {{1, 23}, {23, 1}, {37, 29}, {64, 11}};
    int round = 0;
    for (const auto& size : sizes) {
        for (int width : widths) {
            const int strength = static_cast<int>(random() % 4000) + (round % 3 == 0 ? 0 : 50);
            SCOPED_TRACE(::testing::Message() << size[0] << "x" << size[1] << " width " << width
                                              << " strength " << strength);
            const Pixels src = RandomPixels(size[0], size[1], 100 + round);
            const HandleValue s = MakeGraph(src);
            // A random rectangle written at a random place of a larger graph.
            const int x1 = static_cast<int>(random() % size[0]);
            const int y1 = static_cast<int>(random() % size[1]);
            const int x2 = x1 + 1 + static_cast<int>(random() % (size[0] - x1));
            const int y2 = y1 + 1 + static_cast<int>(random() % (size[1] - y1));
            const int dx = static_cast<int>(random() % 8), dy = static_cast<int>(random() % 8);
            const Pixels before = RandomPixels(size[0] + 8, size[1] + 8, 500 + round);
            const HandleValue d = MakeGraph(before);
            ASSERT_EQ(RunImageFilterOnRect(s, d, x1, y1, x2, y2, dx, dy, kGauss, width, strength),
                      0);
            Pixels want = before;
            Paste(want, ReferenceGauss(SubRect(src, x1, y1, x2, y2), width, strength), dx, dy);
            ExpectPixels(d, want);
            // In place on the whole graph.
            ASSERT_EQ(RunImageFilter(s, kGauss, width, strength), 0);
            ExpectPixels(s, ReferenceGauss(src, width, strength));
            DestroyGraph(s);
            DestroyGraph(d);
            ++round;
        }
    }
    // Into the screen (the back buffer), at a position.
    const Pixels src = RandomPixels(50, 30, 9);
    const HandleValue s = MakeGraph(src);
    ASSERT_EQ(
        RunImageFilterOnRect(s, DX_TARGET_BACK_SCREEN, 0, 0, 50, 30, 100, 200, kGauss, 16, 700), 0);
    const Pixels want = ReferenceGauss(src, 16, 700);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 50; ++x)
            ASSERT_EQ(ScreenRgb(100 + x, 200 + y), want.at(x, y) & 0xFFFFFF) << x << "," << y;
}

TEST_F(FilterTest, GaussWidthsRoundUpAndStrengthZeroCopies) {
    const Pixels src = RandomPixels(40, 40, 11);
    auto blurred = [&](int width, int strength) {
        const HandleValue g = MakeGraph(src);
        EXPECT_EQ(RunImageFilter(g, kGauss, width, strength), 0);
        Pixels out = ReadGraph(g);
        DestroyGraph(g);
        return out.p;
    };
    EXPECT_EQ(blurred(5, 900), blurred(8, 900));
    EXPECT_EQ(blurred(12, 900), blurred(16, 900));
    EXPECT_EQ(blurred(100, 900), blurred(32, 900));
    EXPECT_NE(blurred(8, 900), blurred(32, 900));
    EXPECT_EQ(blurred(16, 0), src.p);
    // One colour stays that colour or one unit below it per pass.
    const Pixels flat = Filled(20, 20, 0x80C04020);
    const HandleValue g = MakeGraph(flat);
    ASSERT_EQ(RunImageFilter(g, kGauss, 32, 2500), 0);
    for (std::uint32_t v : ReadGraph(g).p)
        for (int c = 0; c < 4; ++c) {
            EXPECT_LE(Byte(v, c), Byte(0x80C04020, c));
            EXPECT_GE(Byte(v, c), Byte(0x80C04020, c) - 2);
        }
}

TEST_F(FilterTest, AOnePixelWideImageMixesOnlyVertically) {
    Pixels column = RandomPixels(1, 40, 12);
    const HandleValue g = MakeGraph(column);
    ASSERT_EQ(RunImageFilter(g, kGauss, 16, 1200), 0);
    // The horizontal pass reads the same pixel for every tap: with all weights summing to at most
    // 1.0 it may only lose a unit; the vertical pass then does the rest.
    ExpectPixels(g, ReferenceGauss(column, 16, 1200));
    Pixels row = Filled(1, 40, 0);
    for (int y = 0; y < 40; ++y) row.at(0, y) = y < 20 ? 0xFFFFFFFF : 0;
    const HandleValue h = MakeGraph(row);
    ASSERT_EQ(RunImageFilter(h, kGauss, 8, 400), 0);
    const Pixels got = ReadGraph(h);
    EXPECT_GT(Byte(got.at(0, 20), 0), 0);  // mixed across the edge vertically
    EXPECT_LT(Byte(got.at(0, 19), 0), 255);
}

TEST_F(FilterTest, DownScaleRoundsItsDivisorAndAverages) {
    const Pixels src = RandomPixels(64, 48, 13);
    struct Case {
        int given, used;
    };
    for (const Case c :
         {Case{3, 4}, Case{1, 2}, Case{0, 2}, Case{100, 8}, Case{2, 2}, Case{8, 8}}) {
        SCOPED_TRACE(c.given);
        const HandleValue s = MakeGraph(src);
        const Pixels before = RandomPixels(64, 48, 14);
        const HandleValue d = MakeGraph(before);
        ASSERT_EQ(RunImageFilterOnRect(s, d, 0, 0, 64, 48, 3, 5, kDownScale, c.given), 0);
        Pixels want = before;
        Paste(want, ReferenceDownScale(src, c.used), 3, 5);
        ExpectPixels(d, want);
        DestroyGraph(s);
        DestroyGraph(d);
    }
    // 30 x 30 by 4: 7 x 7 from the top-left 28 x 28.
    const Pixels odd = RandomPixels(30, 30, 15);
    const Pixels before = RandomPixels(30, 30, 16);
    const HandleValue s = MakeGraph(odd), d = MakeGraph(before);
    ASSERT_EQ(RunImageFilterToGraph(s, d, kDownScale, 4), 0);
    Pixels want = before;
    const Pixels reduced = ReferenceDownScale(SubRect(odd, 0, 0, 28, 28), 4);
    ASSERT_EQ(reduced.w, 7);
    Paste(want, reduced, 0, 0);
    ExpectPixels(d, want);
    // (0, 0, 0, 0) and three of 255 give 191 in every byte.
    Pixels block = Filled(2, 2, 0xFFFFFFFF);
    block.at(0, 0) = 0;
    const HandleValue b = MakeGraph(block), one = MakeGraph(Filled(1, 1, 0x12345678));
    ASSERT_EQ(RunImageFilterToGraph(b, one, kDownScale, 2), 0);
    EXPECT_EQ(ReadGraph(one).p[0], 0xBFBFBFBFu);
    // The result of a divisor past the destination is cut to the whole blocks that fit.
    const HandleValue small = MakeGraph(Filled(5, 5, 0x01020304));
    ASSERT_EQ(RunImageFilterOnRect(s, small, 0, 0, 30, 30, 2, 2, kDownScale, 4), 0);
    Pixels smallWant = Filled(5, 5, 0x01020304);
    Paste(smallWant, ReferenceDownScale(SubRect(odd, 0, 0, 12, 12), 4), 2, 2);
    ExpectPixels(small, smallWant);
}

TEST_F(FilterTest, InPlaceDownScaleLeavesTransparentBlackAroundTheResult) {
    const Pixels src = RandomPixels(64, 64, 17);
    const HandleValue g = MakeGraph(src);
    ASSERT_EQ(RunImageFilter(g, kDownScale, 2), 0);
    Pixels want = Filled(64, 64, 0);
    Paste(want, ReferenceDownScale(src, 2), 0, 0);
    ExpectPixels(g, want);
    // A rectangle of a larger graph: only that rectangle is cleared.
    const Pixels big = RandomPixels(40, 40, 18);
    const HandleValue h = MakeGraph(big);
    ASSERT_EQ(RunImageFilterOnRect(h, h, 8, 8, 24, 24, 8, 8, kDownScale, 4), 0);
    Pixels bigWant = big;
    Paste(bigWant, Filled(16, 16, 0), 8, 8);
    Paste(bigWant, ReferenceDownScale(SubRect(big, 8, 8, 24, 24), 4), 8, 8);
    ExpectPixels(h, bigWant);
}

TEST_F(FilterTest, YuvToRgbGivesTheQ15Colours) {
    struct Case {
        int y, u, v;
        std::uint32_t want;
    };
    const Case cases[] = {
        {128, 128, 128, 0xFF808080},
        {255, 255, 128, YuvPixel(255, 255, 128)},
        {0, 128, 0, YuvPixel(0, 128, 0)},
    };
    for (const Case& c : cases) {
        const HandleValue y = MakeGraph(Filled(4, 4, static_cast<std::uint32_t>(c.y)));
        const HandleValue uv = MakeGraph(Filled(2, 2, static_cast<std::uint32_t>(c.v << 8 | c.u)));
        ASSERT_EQ(RunImageFilter(y, static_cast<int>(ImageFilterMode::YuvToRgbUv), uv), 0);
        for (std::uint32_t p : ReadGraph(y).p) EXPECT_EQ(p, c.want);
    }
    EXPECT_EQ(Byte(YuvPixel(255, 255, 128), 0), 255);     // blue clamped
    EXPECT_EQ(YuvPixel(0, 128, 0) & 0xFFFFFF, 91u << 8);  // red 0, green 91
}

TEST_F(FilterTest, YuvToRgbEqualsTheReferenceOverEveryLayout) {
    const int W = 24, H = 12;
    struct Layout {
        int uw, uh, sx, sy;
    };
    const Layout layouts[] = {
        {W, H, 1, 1}, {W / 2, H / 2, 2, 2}, {W / 2, H, 2, 1}, {W, H / 2, 1, 2}, {W / 4, H, 4, 1}};
    int seed = 20;
    for (const Layout& l : layouts) {
        SCOPED_TRACE(::testing::Message() << l.uw << "x" << l.uh);
        const Pixels luma = RandomPixels(W, H, ++seed), chroma = RandomPixels(l.uw, l.uh, ++seed);
        const HandleValue y = MakeGraph(luma), uv = MakeGraph(chroma);
        const Pixels before = RandomPixels(W, H, ++seed);
        const HandleValue d = MakeGraph(before);
        // A rectangle at an even offset, written elsewhere.
        const int x1 = 4, y1 = 2, x2 = 20, y2 = 10, dx = 1, dy = 3;
        ASSERT_EQ(RunImageFilterOnRect(y, d, x1, y1, x2, y2, dx, dy,
                                       static_cast<int>(ImageFilterMode::YuvToRgbUv), uv),
                  0);
        Pixels want = before;
        for (int yy = 0; yy < y2 - y1; ++yy)
            for (int xx = 0; xx < x2 - x1; ++xx) {
                const std::uint32_t c = chroma.at(xx / l.sx, yy / l.sy);
                want.at(dx + xx, dy + yy) =
                    YuvPixel(Byte(luma.at(x1 + xx, y1 + yy), 0), Byte(c, 0), Byte(c, 1));
            }
        ExpectPixels(d, want);
    }
    // A layout the dispatcher takes but the conversion does not: the destination stays.
    const Pixels luma = RandomPixels(W, H, 40);
    const HandleValue y = MakeGraph(luma), uv = MakeGraph(RandomPixels(W, H / 4, 41));
    EXPECT_EQ(RunImageFilter(y, static_cast<int>(ImageFilterMode::YuvToRgbUv), uv), 0);
    ExpectPixels(y, luma);
}

TEST_F(FilterTest, YuvAlphaFormTakesAlphaFromTheRightHalf) {
    const Pixels luma = RandomPixels(640, 240, 50), chroma = RandomPixels(320, 120, 51);
    const HandleValue y = MakeGraph(luma), uv = MakeGraph(chroma);
    const HandleValue d = MakeGraph(Filled(320, 240, 0));
    const int form = static_cast<int>(ImageFilterMode::YuvToRgbUvAlpha);
    // Only the left half may be asked for (the whole graph is refused, nothing is written).
    const Pixels wide = RandomPixels(640, 240, 52);
    const HandleValue w = MakeGraph(wide);
    EXPECT_EQ(RunImageFilter(w, form, uv), -1);
    ExpectPixels(w, wide);
    ASSERT_EQ(RunImageFilterOnRect(y, d, 0, 0, 320, 240, 0, 0, form, uv), 0);
    const Pixels got = ReadGraph(d);
    for (int yy = 0; yy < 240; ++yy)
        for (int xx = 0; xx < 320; ++xx) {
            const std::uint32_t c = chroma.at(xx / 2, yy / 2);
            const std::uint32_t a = chroma.at(xx / 2 + 160, yy / 2);
            std::uint32_t want = YuvPixel(Byte(luma.at(xx, yy), 0), Byte(c, 0), Byte(c, 1));
            const int alpha = ClampQ15(std::int64_t{Byte(luma.at(xx + 320, yy), 0)} * 32768 +
                                       45940 * (Byte(a, 1) - 128));
            want = (want & 0xFFFFFF) | static_cast<std::uint32_t>(alpha) << 24;
            ASSERT_EQ(got.at(xx, yy), want) << xx << "," << yy;
        }
}

TEST_F(FilterTest, DownScaleAndYuvIntoTheScreenLandInTheBackBuffer) {
    const Pixels src = RandomPixels(64, 40, 80);
    const HandleValue s = MakeGraph(src);
    ASSERT_EQ(RunImageFilterOnRect(s, DX_TARGET_BACK_SCREEN, 0, 0, 64, 40, 600, 10, kDownScale, 4),
              0);
    const Pixels reduced = ReferenceDownScale(src, 4);
    for (int y = 0; y < reduced.h; ++y)
        for (int x = 0; x < reduced.w; ++x)
            ASSERT_EQ(ScreenRgb(600 + x, 10 + y), reduced.at(x, y) & 0xFFFFFF) << x << "," << y;
    // Past the screen's right edge only the part that fits is written.
    const Pixels chroma = RandomPixels(32, 20, 81);
    const HandleValue uv = MakeGraph(chroma);
    const std::uint32_t outside = ScreenRgb(10, 470);
    ASSERT_EQ(RunImageFilterOnRect(s, DX_TARGET_BACK_SCREEN, 0, 0, 64, 40, 620, 460,
                                   static_cast<int>(ImageFilterMode::YuvToRgbUv), uv),
              0);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const std::uint32_t c = chroma.at(x / 2, y / 2);
            ASSERT_EQ(ScreenRgb(620 + x, 460 + y),
                      YuvPixel(Byte(src.at(x, y), 0), Byte(c, 0), Byte(c, 1)) & 0xFFFFFF);
        }
    EXPECT_EQ(ScreenRgb(10, 470), outside);
}

}  // namespace
