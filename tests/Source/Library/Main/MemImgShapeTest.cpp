// Boxes, lines, circles and ellipses: the pixel sets of the worked examples, how often each pixel
// is written, clipping, and the pixel rules of every blend mode against the reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Main/DxMemImg.h"
#include "Source/Library/Main/MemImgReference.h"
#include "Source/Library/Main/MemImgTestSupport.h"

using namespace ZiDaz;
using memimg_test::ReadRaw;
using memimg_test::WriteRaw;

namespace {

using Pixels = std::set<std::pair<int, int>>;  // (x, y)

class MemImgShapeTest : public memimg_test::DrawingTest {
  protected:
    static constexpr int kW = 40, kH = 40;

    static void SetUpTestSuite() { InitMemImgModule(); }
    void SetUp() override {
        DrawingTest::SetUp();
        dest_ = Image(kW, kH, 1);
        const RECT all{0, 0, kW, kH};
        SetMemImgDrawArea(&all);
    }

    // Runs draw on a black 32-bit image in add mode with colour 1: the blue byte of each pixel
    // then counts how often the pixel was written.
    std::vector<int> Counts(const std::function<void(MEMIMG*)>& draw) {
        FillMemImgRect(dest_, nullptr, 0);
        SetMemImgBlendMode(DX_BLEND_ADD, 255);
        draw(dest_);
        SetMemImgBlendMode(DX_BLEND_NONE, 255);
        std::vector<int> out;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) out.push_back(static_cast<int>(ReadRaw(*dest_, x, y)));
        }
        return out;
    }
    Pixels Written(const std::function<void(MEMIMG*)>& draw) {
        const auto c = Counts(draw);
        Pixels out;
        for (int i = 0; i < kW * kH; ++i) {
            if (c[i] != 0) out.insert({i % kW, i / kW});
        }
        return out;
    }
    // Each written row as "y:first..last" (the row's extent, gaps not shown).
    static std::string Rows(const Pixels& p) {
        std::map<int, std::pair<int, int>> rows;
        for (const auto& [x, y] : p) {
            auto [it, fresh] = rows.try_emplace(y, x, x);
            it->second.first = std::min(it->second.first, x);
            it->second.second = std::max(it->second.second, x);
        }
        std::ostringstream s;
        for (const auto& [y, span] : rows)
            s << y << ":" << span.first << ".." << span.second << " ";
        return s.str();
    }

    MEMIMG* dest_ = nullptr;
};

// Pixels relative to a centre (cx, cy).
Pixels Around(int cx, int cy, std::initializer_list<std::pair<int, int>> offsets) {
    Pixels p;
    for (const auto& [dx, dy] : offsets) p.insert({cx + dx, cy + dy});
    return p;
}

// The colour tinted as the primitives do: each channel times its bright channel over 256.
std::uint32_t Tint(int ct, std::uint32_t c, std::uint32_t b) {
    if ((b & 0xFFFFFF) == 0xFFFFFF) return c;
    const std::uint32_t br = (b >> 16) & 0xFF, bg = (b >> 8) & 0xFF, bb = b & 0xFF;
    if (ct == 1) {
        return (c & 0xFF000000u) | ((((c >> 16) & 0xFF) * br >> 8) << 16) |
               ((((c >> 8) & 0xFF) * bg >> 8) << 8) | ((c & 0xFF) * bb >> 8);
    }
    return ((((c >> 11) & 31) * br >> 8) << 11) | ((((c >> 5) & 63) * bg >> 8) << 5) |
           ((c & 31) * bb >> 8);
}

TEST_F(MemImgShapeTest, BoxesInEveryModeEqualReference) {
    std::mt19937 rng(11);
    const RECT area{2, 3, 17, 12};
    const RECT box{15, 20, 5, 1};  // corners in reverse order, partly outside the area
    for (int ct = 0; ct < 2; ++ct) {
        MEMIMG* d = Image(20, 15, ct);
        for (int mode : {0, 1, 2, 3, 4, 10, 11, 5, 12, -1}) {
            for (int param : {0, 1, 128, 254, 255}) {
                for (std::uint32_t bright : {0xFFFFFFu, 0x12FFFFFFu, 0x80FE40u, 0u}) {
                    for (int y = 0; y < 15; ++y) {
                        for (int x = 0; x < 20; ++x) WriteRaw(*d, x, y, rng());
                    }
                    const auto start = memimg_test::Snapshot(*d);
                    const std::uint32_t color = ct == 0 ? rng() & 0xFFFF : rng();
                    SetMemImgDrawArea(&area);
                    SetMemImgBlendMode(mode, param);
                    SetMemImgDrawBright(bright);
                    FillMemImgBox(d, &box, color);
                    const memimg_ref::Draw draw{
                        ct, memimg_ref::kPlain, mode, param, 0xFFFFFF, false, false, 0, false};
                    const std::uint32_t tinted = Tint(ct, color, bright);
                    for (int y = 0; y < 15; ++y) {
                        for (int x = 0; x < 20; ++x) {
                            const bool inside = x >= 5 && x < 15 && y >= 3 && y < 12;
                            const std::uint32_t before = start[y * 20 + x];
                            const std::uint32_t expected =
                                inside ? memimg_ref::BlendPixel(draw, tinted, nullptr, 0, before)
                                       : before;
                            ASSERT_EQ(ReadRaw(*d, x, y), expected)
                                << "(" << x << ", " << y << ") type " << ct << " mode " << mode
                                << " param " << param << " bright " << std::hex << bright;
                        }
                    }
                }
            }
        }
    }
}

TEST_F(MemImgShapeTest, WorkedExamplesOfTheColourRules) {
    MEMIMG* d = Image(1, 1, 1);
    const RECT one{0, 0, 1, 1};
    SetMemImgDrawArea(&one);
    // Tinted by 128: 255 becomes 127, the top byte is written as given.
    SetMemImgDrawBright(0x808080);
    FillMemImgBox(d, nullptr, 0x12FFFFFF);
    EXPECT_EQ(ReadRaw(*d, 0, 0), 0x127F7F7Fu);
    // Inverted source: the tint comes first, 127 inverts to 128, and 128 x 255 / 256 over 0.
    WriteRaw(*d, 0, 0, 0);
    SetMemImgBlendMode(DX_BLEND_INVERT_SOURCE, 255);
    FillMemImgBox(d, nullptr, 0xFFFFFF);
    EXPECT_EQ(ReadRaw(*d, 0, 0), 0x007F7F7Fu);
    // Add with saturation and the red carry in the top byte.
    SetMemImgDrawBright(0xFFFFFF);
    WriteRaw(*d, 0, 0, 0xF0F0F0);
    SetMemImgBlendMode(DX_BLEND_ADD, 255);
    FillMemImgBox(d, nullptr, 0x202020);
    EXPECT_EQ(ReadRaw(*d, 0, 0), 0x01FFFFFFu);
}

TEST_F(MemImgShapeTest, BoxCornersAndEmptyBoxes) {
    const RECT ordered{3, 4, 9, 7}, reversed{9, 7, 3, 4}, flat{5, 2, 5, 9};
    const Pixels a = Written([&](MEMIMG* d) { FillMemImgBox(d, &ordered, 1); });
    EXPECT_EQ(a.size(), 18u);
    EXPECT_EQ(Written([&](MEMIMG* d) { FillMemImgBox(d, &reversed, 1); }), a);
    EXPECT_TRUE(Written([&](MEMIMG* d) { FillMemImgBox(d, &flat, 1); }).empty());
    EXPECT_EQ(Written([&](MEMIMG* d) { FillMemImgBox(d, nullptr, 1); }).size(),
              static_cast<std::size_t>(kW * kH));
}

TEST_F(MemImgShapeTest, LineStepping) {
    EXPECT_EQ(Rows(Written([](MEMIMG* d) { DrawMemImgLine(d, 0, 0, 10, 0, 1); })), "0:0..9 ");
    EXPECT_TRUE(Written([](MEMIMG* d) { DrawMemImgLine(d, 5, 5, 5, 5, 1); }).empty());
    const Pixels steep = Written([](MEMIMG* d) { DrawMemImgLine(d, 0, 0, 3, 10, 1); });
    EXPECT_EQ(
        steep,
        (Pixels{{0, 0}, {0, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 5}, {2, 6}, {2, 7}, {2, 8}, {3, 9}}));
    // Drawn backwards: from the other end, that end included and the start excluded.
    const Pixels back = Written([](MEMIMG* d) { DrawMemImgLine(d, 3, 10, 0, 0, 1); });
    EXPECT_EQ(back.size(), 10u);
    EXPECT_TRUE(back.count({3, 10}) == 1 && back.count({0, 0}) == 0);
    // Every pixel once.
    for (int v : Counts([](MEMIMG* d) { DrawMemImgLine(d, 1, 30, 37, 2, 1); })) EXPECT_LE(v, 1);
}

TEST_F(MemImgShapeTest, LineClipping) {
    MEMIMG* screen = Image(640, 480, 1);
    const RECT area{0, 0, 640, 480};
    SetMemImgDrawArea(&area);
    auto written = [&](int x1, int y1, int x2, int y2) {
        FillMemImgRect(screen, nullptr, 0);
        DrawMemImgLine(screen, x1, y1, x2, y2, 1);
        Pixels p;
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                if (ReadRaw(*screen, x, y) != 0) p.insert({x, y});
            }
        }
        return p;
    };
    Pixels p = written(-10, 5, 700, 5);
    EXPECT_EQ(p.size(), 640u);
    EXPECT_TRUE(p.count({0, 5}) == 1 && p.count({639, 5}) == 1);
    // Cut at the bottom at (320, 480); the stepping reaches row 480 before that and is skipped.
    p = written(0, 470, 640, 490);
    EXPECT_EQ(p.size(), 304u);
    EXPECT_EQ(p.begin()->first, 0);
    EXPECT_EQ(p.rbegin()->first, 303);
    EXPECT_TRUE(p.count({0, 470}) == 1 && p.count({303, 479}) == 1);
    // Lines wholly outside, and lines of extreme slope, draw nothing or stay in the area.
    EXPECT_TRUE(written(-5, -5, -1, 400).empty());
    EXPECT_TRUE(written(700, 0, 800, 10).empty());
    p = written(0, -2000000000, 1, 2000000000);
    for (const auto& [x, y] : p) EXPECT_TRUE(x >= 0 && x < 640 && y >= 0 && y < 480);
}

TEST_F(MemImgShapeTest, LineLists) {
    const MemImgLineRecord lines[2] = {{0, 5, 10, 5, 0x111111, 255}, {5, 0, 5, 10, 0x222222, 0}};
    DrawMemImgLines(dest_, lines, 0);
    DrawMemImgLines(dest_, lines, -1);
    EXPECT_EQ(ReadRaw(*dest_, 0, 5), 0u);
    DrawMemImgLines(dest_, lines, 2);
    EXPECT_EQ(ReadRaw(*dest_, 0, 5), 0x111111u);
    EXPECT_EQ(ReadRaw(*dest_, 5, 5), 0x222222u);  // the second line, drawn after the first
    EXPECT_EQ(ReadRaw(*dest_, 5, 0), 0x222222u);
}

TEST_F(MemImgShapeTest, CirclePixelSets) {
    const int x = 20, y = 20;
    auto circle = [&](int r, int fill, int ew = 0, int eh = 0) {
        return Counts([=](MEMIMG* d) { DrawMemImgCircle(d, x, y, r, 1, fill, ew, eh); });
    };
    auto at = [&](const std::vector<int>& c, int dx, int dy) { return c[(y + dy) * kW + x + dx]; };
    auto set = [&](const std::vector<int>& c) {
        Pixels p;
        for (int i = 0; i < kW * kH; ++i) {
            if (c[i] != 0) p.insert({i % kW, i / kW});
        }
        return p;
    };
    EXPECT_EQ(set(circle(0, 1)), Around(x, y, {{0, 0}}));
    EXPECT_EQ(at(circle(0, 1), 0, 0), 1);
    EXPECT_EQ(set(circle(0, 0)), Around(x, y, {{0, 0}}));
    EXPECT_EQ(at(circle(0, 0), 0, 0), 4);
    EXPECT_EQ(set(circle(1, 1)), Around(x, y, {{-1, 0}, {0, 0}, {1, 0}, {0, -1}, {0, 1}}));
    EXPECT_EQ(set(circle(1, 0)), Around(x, y, {{-1, 0}, {1, 0}, {0, -1}, {0, 1}}));
    auto c2 = circle(2, 0);
    EXPECT_EQ(set(c2), Around(x, y,
                              {{-2, 0},
                               {2, 0},
                               {0, -2},
                               {0, 2},
                               {-2, -1},
                               {-2, 1},
                               {2, -1},
                               {2, 1},
                               {-1, -2},
                               {1, -2},
                               {-1, 2},
                               {1, 2}}));
    for (int v : c2) EXPECT_LE(v, 1);
    auto c3 = circle(3, 0);
    EXPECT_EQ(set(c3).size(), 16u);
    for (int dx : {-2, 2}) {
        for (int dy : {-2, 2}) EXPECT_EQ(at(c3, dx, dy), 2);
    }
    EXPECT_EQ(Rows(set(circle(5, 1))),
              "15:18..22 16:17..23 17:16..24 18:15..25 19:15..25 20:15..25 21:15..25 22:15..25 "
              "23:16..24 24:17..23 25:18..22 ");
    EXPECT_EQ(Rows(set(circle(2, 1, 1, 0))), "18:19..20 19:18..21 20:18..21 21:18..21 22:19..20 ");
    EXPECT_EQ(Rows(set(circle(2, 1, 0, 1))), "18:19..21 19:18..22 20:18..22 21:19..21 ");
}

TEST_F(MemImgShapeTest, CircleClipping) {
    const RECT area{2, 1, 10, 9};
    SetMemImgDrawArea(&area);
    const Pixels outline = Written([](MEMIMG* d) { DrawMemImgCircle(d, 5, 5, 4, 1, 0, 0, 0); });
    const Pixels disc = Written([](MEMIMG* d) { DrawMemImgCircle(d, 5, 5, 4, 1, 1, 0, 0); });
    bool col9 = false, row8 = false;
    for (const auto& [x, y] : outline) {
        EXPECT_TRUE(x >= 2 && x <= 9 && y >= 1 && y <= 8) << x << ", " << y;
        col9 |= x == 9;
        row8 |= y == 8;
    }
    EXPECT_TRUE(col9 && row8);
    EXPECT_EQ(Rows(disc), "1:4..6 2:2..8 3:2..8 4:2..9 5:2..9 6:2..9 7:2..8 8:2..8 ");
    const std::string edge = "3:9..9 4:9..9 5:9..9 ";
    EXPECT_EQ(Rows(Written([](MEMIMG* d) { DrawMemImgCircle(d, 12, 4, 3, 1, 0, 0, 0); })), edge);
    EXPECT_EQ(Rows(Written([](MEMIMG* d) { DrawMemImgCircle(d, 12, 4, 3, 1, 1, 0, 0); })), edge);
    EXPECT_TRUE(Written([](MEMIMG* d) { DrawMemImgCircle(d, 30, 30, 5, 1, 1, 0, 0); }).empty());
    EXPECT_EQ(Written([](MEMIMG* d) { DrawMemImgCircle(d, 5, 5, 30, 1, 1, 0, 0); }).size(), 64u);
}

TEST_F(MemImgShapeTest, RefusedShapesDrawNothing) {
    std::mt19937 rng(5);
    MEMIMG pal{}, alpha{}, gray{}, d{};
    memimg_test::MakeRandomImage(pal, 12, 12, 1, 1, 0, rng);
    memimg_test::MakeRandomImage(alpha, 12, 12, 0, 0, 1, rng);
    memimg_test::MakeRandomImage(gray, 12, 12, 2, 0, 0, rng);
    memimg_test::MakeRandomImage(d, 12, 12, 1, 0, 0, rng);
    const RECT area{0, 0, 12, 12};
    SetMemImgDrawArea(&area);
    auto unchanged = [](MEMIMG& m) {
        const auto before = memimg_test::Snapshot(m);
        const RECT box{1, 1, 11, 11};
        FillMemImgBox(&m, &box, 0x12345);
        DrawMemImgLine(&m, 0, 0, 11, 7, 0x12345);
        DrawMemImgCircle(&m, 6, 6, 4, 0x12345, 0, 0, 0);
        DrawMemImgCircle(&m, 6, 6, 4, 0x12345, 1, 0, 0);
        DrawMemImgOval(&m, 6, 6, 5, 3, 0x12345, 0, 0, 0);
        DrawMemImgOval(&m, 6, 6, 5, 3, 0x12345, 1, 0, 0);
        return memimg_test::Snapshot(m) == before;
    };
    // Palette and alpha images have pixels of another size than their colour type.
    EXPECT_TRUE(unchanged(pal));
    EXPECT_TRUE(unchanged(alpha));
    EXPECT_TRUE(unchanged(gray));
    for (auto [mode, param] : {std::pair{1, 0}, {2, 0}, {3, 0}, {6, 128}, {12, 128}, {-1, 128}}) {
        SetMemImgBlendMode(mode, param);
        EXPECT_TRUE(unchanged(d)) << mode << " " << param;
    }
    SetMemImgBlendMode(DX_BLEND_NONE, 255);
    const auto before = memimg_test::Snapshot(d);
    DrawMemImgCircle(&d, 6, 6, -1, 0x12345, 1, 0, 0);
    DrawMemImgOval(&d, 6, 6, 0, 5, 0x12345, 1, 0, 0);
    DrawMemImgOval(&d, 6, 6, 5, 0, 0x12345, 0, 0, 0);
    EXPECT_EQ(memimg_test::Snapshot(d), before);
    for (MEMIMG* m : {&pal, &alpha, &gray, &d}) ReleaseMemImg(m);
}

TEST_F(MemImgShapeTest, EllipsePixelSets) {
    const int x = 20, y = 20;
    auto oval = [&](int a, int b, int fill) {
        return Counts([=](MEMIMG* d) { DrawMemImgOval(d, x, y, a, b, 1, fill, 0, 0); });
    };
    // Each written pixel with the number of writes, relative to the centre, row by row.
    auto list = [&](const std::vector<int>& c) {
        std::ostringstream s;
        for (int i = 0; i < kW * kH; ++i) {
            if (c[i] != 0) s << "(" << i % kW - x << "," << i / kW - y << ")x" << c[i] << " ";
        }
        return s.str();
    };
    auto rows = [&](const std::vector<int>& c) {
        Pixels p;
        for (int i = 0; i < kW * kH; ++i) {
            if (c[i] != 0) p.insert({i % kW - x, i / kW - y});
        }
        return Rows(p);
    };
    EXPECT_EQ(list(oval(1, 1, 1)), "(0,-1)x1 (-1,0)x1 (0,0)x1 (1,0)x1 (0,1)x1 ");
    EXPECT_EQ(list(oval(1, 1, 0)), "(0,-1)x1 (-1,0)x1 (1,0)x1 (0,1)x1 ");
    EXPECT_EQ(oval(-6, 3, 1), oval(6, 3, 1));
    EXPECT_EQ(oval(6, -3, 0), oval(6, 3, 0));
    EXPECT_EQ(rows(oval(6, 3, 1)), "-3:-1..1 -2:-4..4 -1:-6..6 0:-6..6 1:-6..6 2:-4..4 3:-1..1 ");
    EXPECT_EQ(list(oval(6, 3, 0)),
              "(-1,-3)x1 (0,-3)x1 (1,-3)x1 (-4,-2)x1 (-3,-2)x1 (-2,-2)x1 (2,-2)x1 (3,-2)x1 "
              "(4,-2)x1 (-6,-1)x1 (-5,-1)x1 (5,-1)x1 (6,-1)x1 (-6,0)x1 (6,0)x1 (-6,1)x1 "
              "(-5,1)x1 (5,1)x1 (6,1)x1 (-4,2)x1 (-3,2)x1 (-2,2)x1 (2,2)x1 (3,2)x1 (4,2)x1 "
              "(-1,3)x1 (0,3)x1 (1,3)x1 ");
    EXPECT_EQ(rows(oval(3, 6, 1)),
              "-6:-1..1 -5:-1..1 -4:-2..2 -3:-2..2 -2:-2..2 -1:-3..3 0:-3..3 1:-3..3 2:-2..2 "
              "3:-2..2 4:-2..2 5:-1..1 6:-1..1 ");
    EXPECT_EQ(list(oval(8, 2, 0)),
              "(-1,-2)x1 (0,-2)x1 (1,-2)x1 (-7,-1)x1 (-6,-1)x1 (-5,-1)x1 (-4,-1)x1 (-3,-1)x1 "
              "(-2,-1)x1 (2,-1)x1 (3,-1)x1 (4,-1)x1 (5,-1)x1 (6,-1)x1 (7,-1)x1 (-8,0)x1 "
              "(-7,0)x2 (7,0)x2 (8,0)x1 (-7,1)x1 (-6,1)x1 (-5,1)x1 (-4,1)x1 (-3,1)x1 (-2,1)x1 "
              "(2,1)x1 (3,1)x1 (4,1)x1 (5,1)x1 (6,1)x1 (7,1)x1 (-1,2)x1 (0,2)x1 (1,2)x1 ");
    EXPECT_EQ(list(oval(2, 1, 0)), "(0,-1)x1 (-2,0)x1 (-1,0)x2 (1,0)x2 (2,0)x1 (0,1)x1 ");
    EXPECT_EQ(list(oval(1, 2, 0)), "(0,-2)x1 (0,-1)x2 (-1,0)x1 (1,0)x1 (0,1)x2 (0,2)x1 ");
}

TEST_F(MemImgShapeTest, EqualRadiiDrawTheCircleAndLargeRadiiStayExact) {
    // The same pixels; the circle outline writes its diagonal points twice, the ellipse its
    // points on the centre row.
    for (int r = 1; r <= 19; ++r) {
        for (int fill = 0; fill < 2; ++fill) {
            EXPECT_EQ(Written([=](MEMIMG* d) { DrawMemImgOval(d, 20, 20, r, r, 1, fill, 0, 0); }),
                      Written([=](MEMIMG* d) { DrawMemImgCircle(d, 20, 20, r, 1, fill, 0, 0); }))
                << "radius " << r << " fill " << fill;
        }
    }
    // Radii from 46341 up: the walk's threshold (the squared radius) needs 64 bits.
    for (int fill = 0; fill < 2; ++fill) {
        const int r = 60000;
        const Pixels oval =
            Written([=](MEMIMG* d) { DrawMemImgOval(d, r + 5, 20, r, r, 1, fill, 0, 0); });
        EXPECT_FALSE(oval.empty());
        EXPECT_EQ(oval,
                  Written([=](MEMIMG* d) { DrawMemImgCircle(d, r + 5, 20, r, 1, fill, 0, 0); }));
    }
    // A wide and a tall ellipse of such radii reach exactly their minor radius.
    std::string rows;
    for (int y = 5; y < kH; ++y) rows += std::to_string(y) + ":0..39 ";
    EXPECT_EQ(
        Rows(Written([](MEMIMG* d) { DrawMemImgOval(d, 20, 30005, 60000, 30000, 1, 1, 0, 0); })),
        rows);
    const Pixels tall =
        Written([](MEMIMG* d) { DrawMemImgOval(d, 30005, 20, 30000, 60000, 1, 1, 0, 0); });
    EXPECT_EQ(tall.size(), 35u * kH);
    EXPECT_EQ(tall.begin()->first, 5);
}

TEST_F(MemImgShapeTest, FilledShapesWriteEachRowOnceAcrossTheOutline) {
    // Every row of a filled shape is written once, from the outline's leftmost to its rightmost
    // pixel in that row.
    auto check = [&](const std::function<void(MEMIMG*, int)>& draw, const std::string& what) {
        const auto fill = Counts([&](MEMIMG* d) { draw(d, 1); });
        const auto line = Counts([&](MEMIMG* d) { draw(d, 0); });
        for (int y = 0; y < kH; ++y) {
            int lf = kW, ll = -1, ff = kW, fl = -1, filled = 0;
            for (int x = 0; x < kW; ++x) {
                ASSERT_LE(fill[y * kW + x], 1) << what;
                if (line[y * kW + x] != 0) {
                    lf = std::min(lf, x);
                    ll = std::max(ll, x);
                }
                if (fill[y * kW + x] != 0) {
                    ff = std::min(ff, x);
                    fl = std::max(fl, x);
                    ++filled;
                }
            }
            ASSERT_EQ(ff, lf) << what << " row " << y;
            ASSERT_EQ(fl, ll) << what << " row " << y;
            if (fl >= 0) {
                ASSERT_EQ(filled, fl - ff + 1) << what << " row " << y;
            }
        }
    };
    for (int r = 0; r <= 19; ++r) {
        check([=](MEMIMG* d, int f) { DrawMemImgCircle(d, 20, 20, r, 1, f, 0, 0); },
              "circle " + std::to_string(r));
    }
    for (int a = 1; a <= 19; ++a) {
        for (int b = 1; b <= 19; ++b) {
            check([=](MEMIMG* d, int f) { DrawMemImgOval(d, 20, 20, a, b, 1, f, 0, 0); },
                  "ellipse " + std::to_string(a) + "x" + std::to_string(b));
        }
    }
}

}  // namespace
