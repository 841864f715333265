// The rotated transfer: its geometry on worked examples, its equality with the plain transfer when
// neither turned nor scaled, every variant against the reference pixel function at other angles
// and scales, the rules in which it differs from the plain transfer, and the draws it refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "Main/DxMemImg.h"
#include "Main/DxMemImgRotate.h"
#include "Source/Library/Main/MemImgCases.h"
#include "Source/Library/Main/MemImgReference.h"
#include "Source/Library/Main/MemImgTestSupport.h"

using namespace ZiDaz;
using namespace memimg_cases;
using memimg::kRotateOne;

namespace {

constexpr float kQuarterTurn = std::numbers::pi_v<float> / 2;

class MemImgRotateTest : public memimg_test::DrawingTest {
  protected:
    static void SetUpTestSuite() {
        InitMemImgModule();
        BuildMemImgBlendImageTable(kBorderPosition, kBorderRange);
    }
    // A 32-bit source whose pixel (c, r) holds 0x10000 * (r + 1) + c + 1, and a zeroed
    // destination.
    MEMIMG* NumberedSource(int w, int h) {
        MEMIMG* s = Image(w, h, 1);
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) memimg_test::WriteRaw(*s, c, r, Numbered(c, r));
        }
        return s;
    }
    static std::uint32_t Numbered(int c, int r) {
        return static_cast<std::uint32_t>(0x10000 * (r + 1) + c + 1);
    }
    MEMIMG* ZeroImage(int w, int h, int colorType = 1) { return Image(w, h, colorType); }
    // One source pixel rotated by nothing onto one destination pixel.
    std::uint32_t Rotate1(int colorType, int kind, std::uint32_t src, std::uint32_t dst, int trans,
                          std::uint32_t transColor = 0) {
        MEMIMG* s =
            Image(1, 1, colorType, kind == memimg_ref::kPalette, kind == memimg_ref::kAlpha);
        MEMIMG* d = Image(1, 1, colorType);
        memimg_test::WriteRaw(*s, 0, 0, src);
        memimg_test::WriteRaw(*d, 0, 0, dst);
        s->Shared->TransColor = transColor;
        const RECT area{0, 0, 1, 1};
        SetMemImgDrawArea(&area);
        DrawMemImgRotated(d, s, 0, 0, 0.0f, 1.0f, 1.0f, trans, 0, 0, nullptr);
        return memimg_test::ReadRaw(*d, 0, 0);
    }
};

// The variants in which the rotated transfer's rules differ from the plain transfer's.
bool RulesDiffer(const Case& c) {
    const bool asNone = c.mode == 0 || (c.mode == 1 && c.param == 255);
    const bool white = (c.bright & 0xFFFFFF) == 0xFFFFFF;
    const bool alphaMixed = asNone && white && !c.blend && c.trans != kTransOn;
    const bool clearMultiplied = c.mode == 4 && c.trans == kTransOn;
    return c.kind == memimg_ref::kAlpha && (alphaMixed || clearMultiplied);
}

// The source pixel the walk samples for destination pixel (x, y), following the walk's own
// definition: running positions that wrap in 32 bits and an unsigned bounds test.
struct WalkMap {
    RECT rect;
    memimg::RotatedSteps steps;
    std::uint32_t w, h;

    WalkMap(std::uint32_t width, std::uint32_t height, int cx, int cy, float angle, float xs,
            float ys, const RECT& area)
        : w(width), h(height) {
        const memimg::RotatedFrame f =
            memimg::ComputeRotatedFrame(width, height, cx, cy, angle, xs, ys);
        rect = memimg::RotatedWalkBox(f);
        ClipRectangle(&rect, &area);
        steps = rect.left == rect.right || rect.top == rect.bottom
                    ? memimg::RotatedSteps{}
                    : memimg::ComputeRotatedSteps(f, rect, width, height, cx, cy, xs, ys);
    }
    bool operator()(int x, int y, int* sx, int* sy) const {
        if (x < rect.left || x >= rect.right || y < rect.top || y >= rect.bottom) return false;
        const std::uint32_t i = static_cast<std::uint32_t>(x - rect.left);
        const std::uint32_t r = static_cast<std::uint32_t>(y - rect.top);
        const std::uint32_t u = static_cast<std::uint32_t>(steps.uTop) +
                                r * static_cast<std::uint32_t>(steps.duRow) +
                                i * static_cast<std::uint32_t>(steps.duX);
        const std::uint32_t v = static_cast<std::uint32_t>(steps.vTop) +
                                r * static_cast<std::uint32_t>(steps.dvRow) +
                                i * static_cast<std::uint32_t>(steps.dvX);
        if (u >= (std::uint64_t{w} << 18) || v >= (std::uint64_t{h} << 18)) return false;
        *sx = static_cast<int>(u >> 18);
        *sy = static_cast<int>(v >> 18);
        return true;
    }
};

TEST_F(MemImgRotateTest, GeometryOfTheWorkedExamples) {
    // A 4 x 4 source at (10, 10), neither turned nor scaled.
    const memimg::RotatedFrame f = memimg::ComputeRotatedFrame(4, 4, 10, 10, 0.0f, 1.0f, 1.0f);
    EXPECT_EQ(f.x[memimg::kTopLeft], 8 * kRotateOne);
    EXPECT_EQ(f.y[memimg::kTopLeft], 8 * kRotateOne);
    EXPECT_EQ(f.x[memimg::kBottomRight], 12 * kRotateOne);
    EXPECT_EQ(f.y[memimg::kBottomRight], 12 * kRotateOne);
    const RECT box = memimg::RotatedWalkBox(f);
    EXPECT_EQ(box.left, 6);
    EXPECT_EQ(box.top, 6);
    EXPECT_EQ(box.right, 16);
    EXPECT_EQ(box.bottom, 16);
    const memimg::RotatedSteps st = memimg::ComputeRotatedSteps(f, box, 4, 4, 10, 10, 1.0f, 1.0f);
    EXPECT_EQ(st.duX, kRotateOne);
    EXPECT_EQ(st.dvX, 0);
    EXPECT_EQ(st.duRow, 0);
    EXPECT_EQ(st.dvRow, kRotateOne);

    // A quarter turn steps down the source's columns; scale 2 halves the step.
    const memimg::RotatedFrame q =
        memimg::ComputeRotatedFrame(4, 4, 10, 10, kQuarterTurn, 1.0f, 1.0f);
    const memimg::RotatedSteps qs =
        memimg::ComputeRotatedSteps(q, memimg::RotatedWalkBox(q), 4, 4, 10, 10, 1.0f, 1.0f);
    EXPECT_EQ(qs.duX, 0);
    EXPECT_EQ(qs.dvX, -kRotateOne);
    const memimg::RotatedFrame s2 = memimg::ComputeRotatedFrame(4, 4, 10, 10, 0.0f, 2.0f, 2.0f);
    const memimg::RotatedSteps s2s =
        memimg::ComputeRotatedSteps(s2, memimg::RotatedWalkBox(s2), 4, 4, 10, 10, 2.0f, 2.0f);
    EXPECT_EQ(s2s.duX, 131072);
    EXPECT_EQ(s2s.dvRow, 131072);
    EXPECT_EQ(memimg::RotatedWalkBox(s2).left, 4);
}

TEST_F(MemImgRotateTest, TurnedDrawsHandTheCornersOverInMirroredOrder) {
    // Corners of the 4 x 4 source at (10, 10): TL (8, 8), TR (12, 8), BL (8, 12), BR (12, 12).
    const memimg::RotatedFrame f = memimg::ComputeRotatedFrame(4, 4, 10, 10, 0.0f, 1.0f, 1.0f);
    const struct {
        bool turnX, turnY;
        MemImgPoint points[4];
    } cases[] = {
        {true, true, {{12, 12}, {8, 12}, {12, 8}, {8, 8}}},   // BR, BL, TR, TL
        {true, false, {{12, 8}, {8, 8}, {12, 12}, {8, 12}}},  // TR, TL, BR, BL
        {false, true, {{8, 12}, {12, 12}, {8, 8}, {12, 8}}},  // BL, BR, TL, TR
    };
    for (const auto& c : cases) {
        MemImgPoint points[4];
        memimg::RotatedTurnedPoints(f, c.turnX, c.turnY, points);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(points[i].x, c.points[i].x) << c.turnX << c.turnY << " point " << i;
            EXPECT_EQ(points[i].y, c.points[i].y) << c.turnX << c.turnY << " point " << i;
        }
    }
    // Snapped toward zero: the corners of a 1 x 1 source at the origin lie half a pixel out.
    const memimg::RotatedFrame one = memimg::ComputeRotatedFrame(1, 1, 0, 0, 0.0f, 1.0f, 1.0f);
    EXPECT_EQ(one.x[memimg::kTopLeft], -kRotateOne / 2);
    MemImgPoint points[4];
    memimg::RotatedTurnedPoints(one, true, true, points);
    for (const MemImgPoint& p : points) {
        EXPECT_EQ(p.x, 0);
        EXPECT_EQ(p.y, 0);
    }
}

TEST_F(MemImgRotateTest, TurnedDrawEqualsTheFourCornerTransfer) {
    // The corner images of each geometry, in the order TL, TR, BL, BR, snapped toward zero, and
    // the order in which each pair of turn flags hands them over.
    const struct {
        bool turnX, turnY;
        int order[4];
    } turns[] = {
        {true, true, {3, 2, 1, 0}}, {true, false, {1, 0, 3, 2}}, {false, true, {2, 3, 0, 1}}};
    const struct {
        int cx, cy;
        float angle, xs, ys;
    } geometries[] = {
        {14, 9, 0.0f, 1.0f, 1.0f}, {12, 10, 0.6f, 1.3f, 0.9f}, {3, 4, -2.0f, 2.0f, 2.0f}};
    const RECT area{1, 1, kDstW - 1, kDstH - 1};
    std::uint32_t seed = 400000;
    const std::vector<Case> cases = AllCases();
    for (std::size_t n = 0; n < cases.size(); n += 5) {
        const Case& c = cases[n];
        Scene scene(c, seed++);
        Scene corners(c, seed - 1);
        UseDrawState(c, area);
        const int trans = c.trans != kTransOff ? 1 : 0;
        const MEMIMG* blend = c.blend ? &scene.blend : nullptr;
        for (const auto& g : geometries) {
            const memimg::RotatedFrame f =
                memimg::ComputeRotatedFrame(kSrcW, kSrcH, g.cx, g.cy, g.angle, g.xs, g.ys);
            for (const auto& t : turns) {
                scene.ResetDest();
                corners.ResetDest();
                DrawMemImgRotated(&scene.dest, &scene.source, g.cx, g.cy, g.angle, g.xs, g.ys,
                                  trans, t.turnX, t.turnY, blend);
                MemImgPoint points[4];
                for (int i = 0; i < 4; ++i) {
                    points[i] =
                        MemImgPoint{f.x[t.order[i]] / kRotateOne, f.y[t.order[i]] / kRotateOne};
                }
                DrawMemImgToCorners(&corners.dest, &corners.source, points, trans,
                                    c.blend ? &corners.blend : nullptr);
                ASSERT_EQ(memimg_test::Snapshot(scene.dest), memimg_test::Snapshot(corners.dest))
                    << c.Describe() << " turns " << t.turnX << t.turnY << " angle " << g.angle;
            }
        }
    }
    // Mirrored left to right, a row of the source reads backwards (where the columns land is the
    // triangle transfer's business).
    const RECT big{0, 0, 16, 16};
    SetMemImgDrawArea(&big);
    SetMemImgBlendMode(DX_BLEND_NONE, 255);
    SetMemImgDrawBright(0xFFFFFF);
    MEMIMG* s = NumberedSource(4, 4);
    MEMIMG* d = ZeroImage(16, 16);
    DrawMemImgRotated(d, s, 10, 10, 0.0f, 1.0f, 1.0f, 0, 1, 0, nullptr);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(memimg_test::ReadRaw(*d, 9 + c, 9), Numbered(3 - c, 1));
}

TEST_F(MemImgRotateTest, PlacementOfWorkedExamples) {
    const RECT area{0, 0, 16, 16};
    SetMemImgDrawArea(&area);
    // 4 x 4 at (10, 10): source (c, r) on (8 + c, 8 + r), the margin untouched.
    {
        MEMIMG* s = NumberedSource(4, 4);
        MEMIMG* d = ZeroImage(16, 16);
        DrawMemImgRotated(d, s, 10, 10, 0.0f, 1.0f, 1.0f, 0, 0, 0, nullptr);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const bool inside = x >= 8 && x < 12 && y >= 8 && y < 12;
                EXPECT_EQ(memimg_test::ReadRaw(*d, x, y), inside ? Numbered(x - 8, y - 8) : 0u)
                    << x << ", " << y;
            }
        }
    }
    // 5 wide: column 2 on the centre column, columns 0 to 4 on 8 to 12.
    {
        MEMIMG* s = NumberedSource(5, 5);
        MEMIMG* d = ZeroImage(16, 16);
        DrawMemImgRotated(d, s, 10, 10, 0.0f, 1.0f, 1.0f, 0, 0, 0, nullptr);
        for (int c = 0; c < 5; ++c) EXPECT_EQ(memimg_test::ReadRaw(*d, 8 + c, 10), Numbered(c, 2));
        EXPECT_EQ(memimg_test::ReadRaw(*d, 7, 10), 0u);
        EXPECT_EQ(memimg_test::ReadRaw(*d, 13, 10), 0u);
        // A quarter turn clockwise: the pixel right of the centre lands below it, the one below
        // lands left of it.
        MEMIMG* t = ZeroImage(16, 16);
        DrawMemImgRotated(t, s, 10, 10, kQuarterTurn, 1.0f, 1.0f, 0, 0, 0, nullptr);
        EXPECT_EQ(memimg_test::ReadRaw(*t, 10, 10), Numbered(2, 2));
        EXPECT_EQ(memimg_test::ReadRaw(*t, 10, 11), Numbered(3, 2));
        EXPECT_EQ(memimg_test::ReadRaw(*t, 9, 10), Numbered(2, 3));
        EXPECT_EQ(memimg_test::ReadRaw(*t, 12, 8), Numbered(0, 0));
    }
    // Scale 2: every source pixel covers two columns and two rows.
    {
        MEMIMG* s = NumberedSource(4, 4);
        MEMIMG* d = ZeroImage(16, 16);
        DrawMemImgRotated(d, s, 8, 8, 0.0f, 2.0f, 2.0f, 0, 0, 0, nullptr);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const bool in = x >= 4 && x < 12 && y >= 4 && y < 12;
                EXPECT_EQ(memimg_test::ReadRaw(*d, x, y),
                          in ? Numbered((x - 4) / 2, (y - 4) / 2) : 0u)
                    << x << ", " << y;
            }
        }
    }
}

TEST_F(MemImgRotateTest, UnturnedEqualsThePlainTransferInEveryVariant) {
    // Centres that place the source inside, across the top-left and across the bottom-right of
    // the draw area.
    const struct { int x, y; } centres[] = {{12, 4}, {7, 1}, {kDstW - 3, 8}};
    const RECT area{1, 1, kDstW - 1, kDstH - 1};
    std::uint32_t seed = 200000;
    for (const Case& c : AllCases()) {
        Scene scene(c, seed++);
        Scene plain(c, seed - 1);
        UseDrawState(c, area);
        const int trans = c.trans != kTransOff ? 1 : 0;
        for (const auto& centre : centres) {
            scene.ResetDest();
            plain.ResetDest();
            DrawMemImgRotated(&scene.dest, &scene.source, centre.x, centre.y, 0.0f, 1.0f, 1.0f,
                              trans, 0, 0, c.blend ? &scene.blend : nullptr);
            const int x0 = centre.x - kSrcW / 2;
            const int y0 = centre.y - kSrcH / 2;
            ASSERT_TRUE(MatchesReference(scene, DrawOf(c, scene, false, true), area,
                                         [&](int x, int y, int* sx, int* sy) {
                                             *sx = x - x0;
                                             *sy = y - y0;
                                             return *sx >= 0 && *sx < kSrcW && *sy >= 0 &&
                                                    *sy < kSrcH;
                                         }))
                << c.Describe() << " at (" << centre.x << ", " << centre.y << ")";
            if (RulesDiffer(c)) continue;
            DrawMemImg(&plain.dest, &plain.source, x0, y0, trans, c.blend ? &plain.blend : nullptr);
            ASSERT_EQ(memimg_test::Snapshot(scene.dest), memimg_test::Snapshot(plain.dest))
                << c.Describe() << " at (" << centre.x << ", " << centre.y << ")";
        }
    }
}

TEST_F(MemImgRotateTest, TurnedAndScaledEqualsReferenceInEveryVariant) {
    constexpr int kW = 30, kH = 26;
    const struct {
        int cx, cy;
        float angle, xs, ys;
    } geometries[] = {
        {15, 13, 0.7f, 1.0f, 1.0f},          // turned, inside
        {4, 20, -2.3f, 1.7f, 0.6f},          // turned the other way, scaled apart, clipped
        {16, 12, 3.9f, -0.8f, 1.25f},        // a negative scale mirrors through the walk
        {14, 12, kQuarterTurn, 1.5f, 2.0f},  // source edges fall exactly on pixel steps
        {10, 11, 2 * kQuarterTurn, 0.5f, 1.0f},
        {12, 9, 0.0f, 0.5f, 1.5f},
    };
    const RECT area{1, 2, kW - 1, kH - 1};
    std::uint32_t seed = 300000;
    for (const Case& c : AllCases()) {
        Scene scene(c, seed++, kW, kH);
        UseDrawState(c, area);
        for (const auto& g : geometries) {
            scene.ResetDest();
            DrawMemImgRotated(&scene.dest, &scene.source, g.cx, g.cy, g.angle, g.xs, g.ys,
                              c.trans != kTransOff ? 1 : 0, 0, 0, c.blend ? &scene.blend : nullptr);
            const WalkMap map(kSrcW, kSrcH, g.cx, g.cy, g.angle, g.xs, g.ys, area);
            ASSERT_TRUE(MatchesReference(scene, DrawOf(c, scene, false, true), area, map))
                << c.Describe() << " at angle " << g.angle;
        }
    }
}

TEST_F(MemImgRotateTest, WalkFollowsTheExactTurnAndScale) {
    // The fixed-point walk stays within a hundredth of a pixel of the exact inverse mapping.
    const RECT area{-50, -50, 50, 50};
    for (float angle : {0.3f, 1.0f, 2.5f, -1.2f, 4.0f}) {
        for (float scale : {0.5f, 1.0f, 1.9f}) {
            const float xs = scale, ys = scale * 0.75f;
            const memimg::RotatedFrame f =
                memimg::ComputeRotatedFrame(40, 30, 3, -2, angle, xs, ys);
            RECT rect = memimg::RotatedWalkBox(f);
            ClipRectangle(&rect, &area);
            const memimg::RotatedSteps st =
                memimg::ComputeRotatedSteps(f, rect, 40, 30, 3, -2, xs, ys);
            for (int r = 0; r < rect.bottom - rect.top; r += 3) {
                for (int i = 0; i < rect.right - rect.left; i += 3) {
                    const double dx = rect.left + i - 3, dy = rect.top + r + 2;
                    const double ue = (dx * std::cos(angle) + dy * std::sin(angle)) / xs + 20;
                    const double ve = (dy * std::cos(angle) - dx * std::sin(angle)) / ys + 15;
                    const double u = (st.uTop + static_cast<double>(st.duRow) * r +
                                      static_cast<double>(st.duX) * i) /
                                     kRotateOne;
                    const double v = (st.vTop + static_cast<double>(st.dvRow) * r +
                                      static_cast<double>(st.dvX) * i) /
                                     kRotateOne;
                    ASSERT_NEAR(u, ue, 0.01) << angle << " " << scale << " " << i << " " << r;
                    ASSERT_NEAR(v, ve, 0.01) << angle << " " << scale << " " << i << " " << r;
                }
            }
            // The corners are the images of the source's corners.
            const double hw = 20 * xs, hh = 15 * ys, ca = std::cos(angle), sa = std::sin(angle);
            EXPECT_NEAR(f.x[memimg::kTopRight] / double{kRotateOne}, 3 + ca * hw + sa * hh, 0.01);
            EXPECT_NEAR(f.y[memimg::kTopRight] / double{kRotateOne}, -2 + sa * hw - ca * hh, 0.01);
        }
    }
}

TEST(MemImgRotateSpanTest, RowRunEqualsThePixelsThatPassTheBoundsTest) {
    for (std::int64_t start = -40; start <= 40; ++start) {
        for (std::int64_t step = -7; step <= 7; ++step) {
            for (std::int64_t limit = 1; limit <= 20; ++limit) {
                std::int64_t lo = 0, hi = 15;
                memimg::ClampRotatedSpan(start, step, limit, &lo, &hi);
                for (std::int64_t i = 0; i <= 15; ++i) {
                    const std::int64_t u = start + i * step;
                    ASSERT_EQ(i >= lo && i <= hi, u >= 0 && u < limit)
                        << "start " << start << " step " << step << " limit " << limit << " i "
                        << i;
                }
            }
        }
    }
}

TEST_F(MemImgRotateTest, RandomGeometriesSampleWhereTheWalkPoints) {
    // Many turns, scales (negative ones too) and centres, drawn as plain copies of a numbered
    // source: every pixel takes the texel of the walk's definition, and only those pixels change.
    constexpr int kW = 31, kH = 27;
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> angles(-7.0f, 7.0f), scales(-2.5f, 2.5f);
    MEMIMG* s = NumberedSource(7, 5);
    MEMIMG* d = Image(kW, kH, 1);
    const RECT area{2, 1, kW - 1, kH - 3};
    SetMemImgDrawArea(&area);
    for (int n = 0; n < 1500; ++n) {
        const int cx = static_cast<int>(rng() % 41) - 5, cy = static_cast<int>(rng() % 37) - 5;
        const float angle = n % 8 == 0 ? (n / 8 % 4) * kQuarterTurn : angles(rng);
        float xs = scales(rng), ys = n % 3 == 0 ? xs : scales(rng);
        if (xs == 0.0f || ys == 0.0f) continue;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) memimg_test::WriteRaw(*d, x, y, 0);
        }
        DrawMemImgRotated(d, s, cx, cy, angle, xs, ys, 0, 0, 0, nullptr);
        const WalkMap map(7, 5, cx, cy, angle, xs, ys, area);
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                int sx, sy;
                const std::uint32_t expected = map(x, y, &sx, &sy) ? Numbered(sx, sy) : 0u;
                ASSERT_EQ(memimg_test::ReadRaw(*d, x, y), expected)
                    << "pixel " << x << ", " << y << " centre " << cx << ", " << cy << " angle "
                    << angle << " scales " << xs << ", " << ys;
            }
        }
    }
}

TEST_F(MemImgRotateTest, RulesOfTheRotatedFamily) {
    // DX_BLEND_NONE, alpha source, white bright: under transparency alpha 255 copies the whole
    // pixel; without it every pixel is mixed by its alpha and the fourth byte stays.
    EXPECT_EQ(Rotate1(1, memimg_ref::kAlpha, 0xFFFFFFFF, 0xAB000000, 1), 0xFFFFFFFFu);
    EXPECT_EQ(Rotate1(1, memimg_ref::kAlpha, 0xFFFFFFFF, 0xAB000000, 0), 0xABFEFEFEu);
    EXPECT_EQ(Rotate1(0, memimg_ref::kAlpha, 0x00FFFFFF, 0, 0), 0xF7DEu);
    // Alpha 0 under transparency is skipped, but not in DX_BLEND_MULTIPLY, which blackens.
    EXPECT_EQ(Rotate1(1, memimg_ref::kAlpha, 0x00FFFFFF, 0xAB123456, 1), 0xAB123456u);
    SetMemImgBlendMode(DX_BLEND_MULTIPLY, 77);
    EXPECT_EQ(Rotate1(1, memimg_ref::kAlpha, 0x00FFFFFF, 0xAB123456, 1), 0xAB000000u);
    EXPECT_EQ(Rotate1(0, memimg_ref::kAlpha, 0x0000FFFF, 0xFFFF, 1), 0u);
    // Alpha 255: under transparency alpha drops out of the product (254), without it weighs in.
    EXPECT_EQ(Rotate1(1, memimg_ref::kAlpha, 0xFFFFFFFF, 0xFF, 1), 0xFEu);
    EXPECT_EQ(Rotate1(1, memimg_ref::kAlpha, 0xFFFFFFFF, 0xFF, 0), 0xFDu);
    // Weighted multiply keeps a finer green on 16-bit alpha sources with white bright.
    SetMemImgBlendMode(DX_BLEND_MULTIPLY_ALPHA, 255);
    const std::uint32_t green1 = (200u << 16) | (1u << 5);
    EXPECT_EQ(Rotate1(0, memimg_ref::kAlpha, green1, 9u << 5, 0), 2u << 5);
    SetMemImgDrawBright(0xFFFFFE);
    EXPECT_EQ(Rotate1(0, memimg_ref::kAlpha, green1, 9u << 5, 0), 1u << 5);
    SetMemImgDrawBright(0xFFFFFF);
    // Inverted source at full parameter: black over black.
    SetMemImgBlendMode(DX_BLEND_INVERT_SOURCE, 255);
    EXPECT_EQ(Rotate1(1, memimg_ref::kPlain, 0, 0xAB000000, 0), 0xABFEFEFEu);
    EXPECT_EQ(Rotate1(0, memimg_ref::kPlain, 0, 0, 0), 0xFFFFu);
    // The colour key: the source's own flag decides, and an alpha source is never compared.
    SetMemImgBlendMode(DX_BLEND_NONE, 255);
    EXPECT_EQ(Rotate1(1, memimg_ref::kPlain, 0x123456, 7, 1, 0x123456), 7u);
    EXPECT_EQ(Rotate1(1, memimg_ref::kAlpha, 0xFF123456, 7, 1, 0xFF123456), 0xFF123456u);
}

TEST_F(MemImgRotateTest, RefusedDrawsLeaveTheDestinationUnchanged) {
    std::mt19937 rng(11);
    MEMIMG* src32 = Image(6, 5, 1);
    MEMIMG* src16 = Image(6, 5, 0);
    MEMIMG* pal32 = Image(6, 5, 1, 1);
    MEMIMG* gray = Image(6, 5, 2);
    MEMIMG* dst32 = Image(16, 16, 1);
    MEMIMG* dstPal = Image(16, 16, 1, 1);
    MEMIMG* dstAlpha = Image(16, 16, 1, 0, 1);
    MEMIMG* dstGray = Image(16, 16, 2);
    MEMIMG* tall = Image(2, memimg::kRotateRowTableSize + 1, 1);
    MEMIMG* smallBlend = Image(6, 4, 2);
    for (MEMIMG* m : {src32, src16, pal32, gray, dst32, dstPal, dstAlpha, dstGray, tall}) {
        for (int y = 0; y < m->Height; ++y) {
            for (int x = 0; x < m->Width; ++x) memimg_test::WriteRaw(*m, x, y, rng());
        }
    }
    const RECT area{0, 0, 16, 16};
    SetMemImgDrawArea(&area);
    auto unchanged = [&](MEMIMG* dst, const MEMIMG* src, float xs = 1.0f, float ys = 1.0f,
                         const MEMIMG* blend = nullptr, int cx = 8, int cy = 8) {
        const auto before = memimg_test::Snapshot(*dst);
        for (int turn = 0; turn < 2; ++turn) {
            DrawMemImgRotated(dst, src, cx, cy, 0.4f, xs, ys, 0, turn, 0, blend);
        }
        return memimg_test::Snapshot(*dst) == before;
    };
    for (int mode : {5, 9, 12, -1}) {
        SetMemImgBlendMode(mode, 128);
        EXPECT_TRUE(unchanged(dst32, src32)) << "mode " << mode;
    }
    for (int mode : {1, 2, 3}) {
        SetMemImgBlendMode(mode, 0);
        EXPECT_TRUE(unchanged(dst32, src32)) << "mode " << mode << " at 0";
    }
    // Subtracting nothing from a palette source must not touch the destination either.
    SetMemImgBlendMode(DX_BLEND_SUBTRACT, 0);
    EXPECT_TRUE(unchanged(dst32, pal32));
    SetMemImgBlendMode(DX_BLEND_NONE, 255);
    EXPECT_TRUE(unchanged(dst32, src16));
    EXPECT_TRUE(unchanged(dstPal, src32));
    EXPECT_TRUE(unchanged(dstAlpha, src32));
    EXPECT_TRUE(unchanged(dstGray, gray));
    EXPECT_TRUE(unchanged(dst32, tall));
    EXPECT_TRUE(unchanged(dst32, src32, 0.0f, 1.0f));
    EXPECT_TRUE(unchanged(dst32, src32, 1.0f, 0.0f));
    EXPECT_TRUE(unchanged(dst32, src32, std::numeric_limits<float>::quiet_NaN(), 1.0f));
    EXPECT_TRUE(unchanged(dst32, src32, 1.0f, std::numeric_limits<float>::infinity()));
    EXPECT_TRUE(unchanged(dst32, src32, 1.0f, 1.0f, smallBlend));
    // Outside the draw area, or with an empty one.
    EXPECT_TRUE(unchanged(dst32, src32, 1.0f, 1.0f, nullptr, -12, 8));
    EXPECT_TRUE(unchanged(dst32, src32, 1.0f, 1.0f, nullptr, 8, 30));
    const RECT empty{4, 4, 4, 12};
    SetMemImgDrawArea(&empty);
    EXPECT_TRUE(unchanged(dst32, src32));
    // A source of 4096 rows is drawn.
    SetMemImgDrawArea(&area);
    MEMIMG* tallest = Image(2, memimg::kRotateRowTableSize, 1);
    memimg_test::WriteRaw(*tallest, 0, memimg::kRotateRowTableSize / 2, 0x123456);
    MEMIMG* d = ZeroImage(16, 16);
    DrawMemImgRotated(d, tallest, 8, 8, 0.0f, 1.0f, 1.0f, 0, 0, 0, nullptr);
    EXPECT_EQ(memimg_test::ReadRaw(*d, 7, 8), 0x123456u);
}

TEST_F(MemImgRotateTest, ExtremePositionsAndScalesStayInsideTheImages) {
    // Far-off centres and tiny or huge scales wrap the fixed point; nothing may be read or
    // written outside the images (checked under the sanitizers), and the area bounds the writes.
    std::mt19937 rng(5);
    MEMIMG src{}, dst{};
    memimg_test::MakeRandomImage(src, 9, 7, 1, 0, 1, rng);
    memimg_test::MakeRandomImage(dst, 20, 20, 1, 0, 0, rng);
    const RECT area{2, 2, 18, 18};
    SetMemImgDrawArea(&area);
    SetMemImgBlendMode(DX_BLEND_ALPHA, 100);
    const auto before = memimg_test::Snapshot(dst);
    for (int cx : {10, 9000, -9000, INT32_MAX, INT32_MIN}) {
        for (float s : {1e-30f, 1e-4f, 3.0f, 5000.0f, 1e30f}) {
            for (float angle : {0.0f, 0.8f, 1e20f, std::numeric_limits<float>::infinity()}) {
                DrawMemImgRotated(&dst, &src, cx, 10, angle, s, s, 1, 0, 0, nullptr);
            }
        }
    }
    const auto after = memimg_test::Snapshot(dst);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            if (x < 2 || x >= 18 || y < 2 || y >= 18) {
                EXPECT_EQ(after[y * 20 + x], before[y * 20 + x]) << x << ", " << y;
            }
        }
    }
    ReleaseMemImg(&src);
    ReleaseMemImg(&dst);
}

}  // namespace
