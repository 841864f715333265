// The triangle transfer: scan conversion against the worked examples, every textured variant and
// the flat fill against the reference pixel function, the packed saturating arithmetic, the
// four-corner mapping and the draws that are refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Main/DxMemImg.h"
#include "Source/Library/Main/MemImgCases.h"
#include "Source/Library/Main/MemImgReference.h"
#include "Source/Library/Main/MemImgTestSupport.h"

using namespace ZiDaz;
using memimg_test::ReadRaw;
using memimg_test::WriteRaw;

namespace {

using memimg_cases::kBorderPosition;
using memimg_cases::kBorderRange;
using memimg_cases::kBrights;
using memimg_cases::kModes;
using memimg_cases::kParams;
using memimg_cases::kTransOff;
using memimg_cases::kTransOn;
using memimg_cases::kTransUnused;

class MemImgTriangleTest : public memimg_test::DrawingTest {
  protected:
    static void SetUpTestSuite() {
        InitMemImgModule();
        BuildMemImgBlendImageTable(kBorderPosition, kBorderRange);
    }

    // How many times each pixel of a w x h area is written by the flat fills of the triangles:
    // each write adds 1 to the blue byte of a black 32-bit image.
    std::vector<int> Counts(int w, int h, const RECT& area,
                            const std::vector<std::vector<MemImgTriangleVertex>>& triangles) {
        MEMIMG* d = Image(w, h, 1);
        SetMemImgDrawArea(&area);
        SetMemImgBlendMode(DX_BLEND_ADD, 255);
        SetMemImgDrawBright(0xFFFFFF);
        for (const auto& t : triangles) DrawMemImgTriangle(d, nullptr, t.data(), 0, nullptr, 1);
        std::vector<int> out;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) out.push_back(static_cast<int>(ReadRaw(*d, x, y) & 0xFF));
        }
        SetMemImgBlendMode(DX_BLEND_NONE, 255);
        return out;
    }
};

// Rows of a coverage map as "first..last" column ranges (empty rows omitted), for readable
// failures.
std::string Rows(const std::vector<int>& counts, int w) {
    std::ostringstream s;
    for (std::size_t y = 0; y * w < counts.size(); ++y) {
        int first = -1, last = -1;
        for (int x = 0; x < w; ++x) {
            if (counts[y * w + x] != 0) {
                if (first < 0) first = x;
                last = x;
            }
        }
        if (first >= 0) s << y << ":" << first << ".." << last << " ";
    }
    return s.str();
}

int Total(const std::vector<int>& counts) {
    int n = 0;
    for (int c : counts) n += c;
    return n;
}

TEST_F(MemImgTriangleTest, PackedSaturatingArithmetic) {
    // Addition: F first; subtraction: D first.
    EXPECT_EQ(MemImgAddSaturate32(0xFFFFFF, 0xFFFFFF), 0x01FFFFFFu);
    EXPECT_EQ(MemImgAddSaturate32(0x800000, 0x800000), 0x01FF0000u);
    EXPECT_EQ(MemImgAddSaturate32(0x000001, 0x0000FF), 0x000001FFu);
    EXPECT_EQ(MemImgAddSaturate32(0x010101, 0x010101), 0x00010102u);
    EXPECT_EQ(MemImgAddSaturate32(0, 0xAB123456), 0x00123456u);
    EXPECT_EQ(MemImgAddSaturate16(0, 0x1234), 0x1234u);
    EXPECT_EQ(MemImgAddSaturate16(63u << 5, 63u << 5), (1u << 11) | (63u << 5));
    EXPECT_EQ(MemImgAddSaturate16(2u << 5, 62u << 5), (1u << 11) | (62u << 5));
    EXPECT_EQ(MemImgAddSaturate16(31, 1), (1u << 5) | 31u);
    EXPECT_EQ(MemImgAddSaturate16(1u << 5, 1u << 5), 1u << 5);
    EXPECT_EQ(MemImgAddSaturate16((32u << 5) | 16, (32u << 5) | 16), (1u << 11) | (63u << 5) | 31);
    EXPECT_EQ(MemImgAddSaturate16(0xFFFF, 0xFFFF), 0xFFFFu);
    EXPECT_EQ(MemImgSubSaturate32(0xAB123456, 0), 0x00133556u);
    EXPECT_EQ(MemImgSubSaturate32(0xFFFFFF, 0xFFFFFF), 0x00010100u);
    EXPECT_EQ(MemImgSubSaturate32(0, 0x80), 0x00010000u);
    EXPECT_EQ(MemImgSubSaturate32(0x0200, 0x0100), 0x00010300u);
    EXPECT_EQ(MemImgSubSaturate32(0x80808080, 0x404040), 0x00414140u);
    for (std::uint32_t d : {0u, 0x1234u, 0xFFFFu, 0x8421u}) {
        EXPECT_EQ(MemImgSubSaturate16(d, 0), (d & 0xFFDFu) | 0x0800u) << d;
        EXPECT_EQ(MemImgSubSaturate16(d, d), 0x0800u) << d;
    }
    EXPECT_EQ(MemImgSubSaturate16(0, 0xFFFF), 0u);
    EXPECT_EQ(MemImgSubSaturate16(63u << 5, 1u << 5), (1u << 11) | (62u << 5));
    EXPECT_EQ(MemImgSubSaturate16(31, 1), (1u << 11) | 30u);
    EXPECT_EQ(MemImgSubSaturate16(31u << 11, 1u << 11), 31u << 11);
}

TEST_F(MemImgTriangleTest, ScanConversionOfTheWorkedExamples) {
    const RECT area{0, 0, 20, 12};
    // The vertex pixel (10, 0) is included.
    auto c = Counts(20, 12, area, {{{0, 0, 0, 0}, {10, 0, 0, 0}, {0, 1, 0, 0}}});
    EXPECT_EQ(Rows(c, 20), "0:0..10 ");
    EXPECT_EQ(Total(c), 11);
    // Rows 0..3 with 1, 2, 3 and 4 pixels; row 4 is not drawn.
    c = Counts(20, 12, area, {{{0, 0, 0, 0}, {0, 4, 0, 0}, {4, 4, 0, 0}}});
    EXPECT_EQ(Rows(c, 20), "0:0..0 1:0..1 2:0..2 3:0..3 ");
    EXPECT_EQ(Total(c), 10);
    // Collinear, coincident and single-row vertices draw nothing.
    for (const auto& t : std::vector<std::vector<MemImgTriangleVertex>>{
             {{0, 0, 0, 0}, {2, 2, 0, 0}, {4, 4, 0, 0}},
             {{1, 1, 0, 0}, {1, 1, 0, 0}, {5, 3, 0, 0}},
             {{0, 2, 0, 0}, {5, 2, 0, 0}, {9, 2, 0, 0}}}) {
        EXPECT_EQ(Total(Counts(20, 12, area, {t})), 0);
    }
    // Middle vertex on the right: its second edge piece starts one unit right of it.
    const RECT big{0, 0, 96, 80};
    c = Counts(96, 80, big, {{{-9, 4, 0, 0}, {16, 18, 0, 0}, {43, 54, 0, 0}}});
    EXPECT_EQ(Total(c), 283);
    EXPECT_NE(Rows(c, 96).find(" 20:8..17 "), std::string::npos) << Rows(c, 96);
    // A top vertex at row -1 starts on row 0, so the shape lands where the same shape one row
    // lower does.
    EXPECT_EQ(Counts(20, 12, area, {{{2, -1, 0, 0}, {2, 3, 0, 0}, {6, 3, 0, 0}}}),
              Counts(20, 12, area, {{{2, 0, 0, 0}, {2, 4, 0, 0}, {6, 4, 0, 0}}}));
}

TEST_F(MemImgTriangleTest, NegativeCoordinatesTruncateTowardZero) {
    const RECT area{0, 0, 20, 12};
    // Middle vertex on the left, top vertex above row 0: the rows above the middle vertex land one
    // row lower, and the switch to the second left piece goes back to the middle vertex's row,
    // which is drawn twice.
    const auto c = Counts(20, 12, area, {{{5, -3, 0, 0}, {0, 2, 0, 0}, {8, 6, 0, 0}}});
    int twice = 0, lastRow = -1;
    for (int i = 0; i < 20 * 12; ++i) {
        twice += c[i] == 2;
        if (c[i] != 0) lastRow = i / 20;
        if (c[i] == 2) {
            EXPECT_EQ(i / 20, 2) << Rows(c, 20);
        }
    }
    EXPECT_GT(twice, 0) << Rows(c, 20);
    EXPECT_EQ(lastRow, 5);  // the bottom vertex's row is not drawn
    // A reference vertex left of column 0 is taken one column to the right of its own, so every
    // texel comes one step early.
    MEMIMG* src = Image(8, 4, 1);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) WriteRaw(*src, x, y, static_cast<std::uint32_t>(y * 8 + x + 1));
    }
    MEMIMG* dest = Image(20, 12, 1);
    SetMemImgDrawArea(&area);
    const MemImgTriangleVertex t[3] = {{-2, 0, 0, 0}, {6, 0, 8, 0}, {-2, 4, 0, 4}};
    DrawMemImgTriangle(dest, src, t, 0, nullptr, 0);
    EXPECT_EQ(ReadRaw(*dest, 0, 1), ReadRaw(*src, 1, 1));
    EXPECT_EQ(ReadRaw(*dest, 3, 0), ReadRaw(*src, 4, 0));
}

TEST_F(MemImgTriangleTest, SharedEdgesOfTwoTriangles) {
    const RECT area{0, 0, 12, 12};
    // A quadrangle as two triangles: on the shared diagonal one pixel of every row is drawn by
    // both.
    auto c = Counts(
        12, 12, area,
        {{{0, 0, 0, 0}, {8, 0, 0, 0}, {0, 8, 0, 0}}, {{8, 0, 0, 0}, {0, 8, 0, 0}, {8, 8, 0, 0}}});
    for (int y = 0; y < 8; ++y) {
        int twice = 0;
        for (int x = 0; x < 12; ++x) twice += c[y * 12 + x] == 2;
        EXPECT_EQ(twice, 1) << "row " << y << ": " << Rows(c, 12);
    }
    // A horizontal shared edge belongs to the triangle below it only.
    c = Counts(
        12, 12, area,
        {{{4, 0, 0, 0}, {0, 4, 0, 0}, {8, 4, 0, 0}}, {{0, 4, 0, 0}, {8, 4, 0, 0}, {4, 8, 0, 0}}});
    for (int v : c) EXPECT_LE(v, 1);
    EXPECT_EQ(Rows(c, 12).find(" 4:0..8 ") != std::string::npos, true) << Rows(c, 12);
}

// Source at (kOx, kOy) of the destination mapped one texel per pixel onto a quadrangle of its
// own size, the two triangles clipped on the left, top and right.
constexpr int kSrcW = 19, kSrcH = 13, kDstW = 29, kDstH = 21, kOx = 3, kOy = 2;
constexpr RECT kQuadArea{5, 4, 20, kDstH};

std::vector<std::vector<MemImgTriangleVertex>> QuadTriangles() {
    const MemImgTriangleVertex tl{kOx, kOy, 0, 0}, tr{kOx + kSrcW, kOy, kSrcW, 0},
        bl{kOx, kOy + kSrcH, 0, kSrcH}, br{kOx + kSrcW, kOy + kSrcH, kSrcW, kSrcH};
    return {{tl, tr, bl}, {tr, bl, br}};
}

TEST_F(MemImgTriangleTest, TexturedTrianglesEqualReferenceInEveryVariant) {
    const std::vector<int> counts = Counts(kDstW, kDstH, kQuadArea, QuadTriangles());
    ASSERT_GT(Total(counts), 150);
    const MemImgPoint corners[4] = {
        {kOx, kOy}, {kOx + kSrcW, kOy}, {kOx, kOy + kSrcH}, {kOx + kSrcW, kOy + kSrcH}};
    std::uint32_t seed = 5000;
    for (int ct = 0; ct < 2; ++ct) {
        for (int kind = 0; kind < 3; ++kind) {
            std::mt19937 rng(seed++);
            MEMIMG source{}, dest{}, blend{};
            memimg_test::MakeRandomImage(source, kSrcW, kSrcH, ct, kind == 1, kind == 2, rng);
            memimg_test::MakeRandomImage(dest, kDstW, kDstH, ct, 0, 0, rng);
            memimg_test::MakeRandomImage(blend, kSrcW, kSrcH, 2, 0, 0, rng);
            const std::uint32_t key = ReadRaw(source, 1, 1);
            source.Shared->TransColor = key;
            for (int y = 0; y < kSrcH; ++y) {
                for (int x = 0; x < kSrcW; ++x) {
                    if (rng() % 4 == 0) WriteRaw(source, x, y, key);
                }
            }
            const auto start = memimg_test::Snapshot(dest);
            const auto palette = memimg_test::PaletteOf(source);
            for (int mode : kModes) {
                for (int param : kParams) {
                    for (std::uint32_t bright : kBrights) {
                        for (int hasBlend = 0; hasBlend < 2; ++hasBlend) {
                            for (int trans : {kTransOff, kTransOn, kTransUnused}) {
                                for (int y = 0; y < kDstH; ++y) {
                                    for (int x = 0; x < kDstW; ++x) {
                                        WriteRaw(dest, x, y, start[y * kDstW + x]);
                                    }
                                }
                                source.Shared->UseTransColor = trans == kTransUnused ? 0 : 1;
                                SetMemImgDrawArea(&kQuadArea);
                                SetMemImgBlendMode(mode, param);
                                SetMemImgDrawBright(bright);
                                DrawMemImgToCorners(&dest, &source, corners, trans != kTransOff,
                                                    hasBlend != 0 ? &blend : nullptr);
                                const memimg_ref::Draw draw{ct,
                                                            kind,
                                                            mode,
                                                            param,
                                                            bright,
                                                            hasBlend != 0,
                                                            trans == kTransOn,
                                                            key,
                                                            false,
                                                            true};
                                for (int y = 0; y < kDstH; ++y) {
                                    for (int x = 0; x < kDstW; ++x) {
                                        std::uint32_t expected = start[y * kDstW + x];
                                        const int sx = x - kOx, sy = y - kOy;
                                        if (sx >= 0 && sx < kSrcW && sy >= 0 && sy < kSrcH) {
                                            const std::uint32_t q = memimg_ref::BlendWeight(
                                                kBorderPosition, kBorderRange,
                                                static_cast<int>(ReadRaw(blend, sx, sy)));
                                            for (int n = 0; n < counts[y * kDstW + x]; ++n) {
                                                expected = memimg_ref::BlendPixel(
                                                    draw, ReadRaw(source, sx, sy), palette.data(),
                                                    q, expected);
                                            }
                                        }
                                        ASSERT_EQ(ReadRaw(dest, x, y), expected)
                                            << "pixel (" << x << ", " << y << ") type " << ct
                                            << " kind " << kind << " mode " << mode << " param "
                                            << param << " bright " << std::hex << bright << std::dec
                                            << " blend " << hasBlend << " trans " << trans;
                                    }
                                }
                            }
                        }
                    }
                }
            }
            ReleaseMemImg(&source);
            ReleaseMemImg(&dest);
            ReleaseMemImg(&blend);
        }
    }
}

TEST_F(MemImgTriangleTest, FlatFillEqualsReferenceInEveryMode) {
    const auto triangles = QuadTriangles();
    const std::vector<int> counts = Counts(kDstW, kDstH, kQuadArea, triangles);
    std::mt19937 rng(77);
    for (int ct = 0; ct < 2; ++ct) {
        MEMIMG* dest = Image(kDstW, kDstH, ct);
        for (int mode : kModes) {
            for (int param : kParams) {
                for (std::uint32_t bright : kBrights) {
                    for (int y = 0; y < kDstH; ++y) {
                        for (int x = 0; x < kDstW; ++x) WriteRaw(*dest, x, y, rng());
                    }
                    const auto start = memimg_test::Snapshot(*dest);
                    const std::uint32_t fill = ct == 0 ? rng() & 0xFFFF : rng();
                    SetMemImgDrawArea(&kQuadArea);
                    SetMemImgBlendMode(mode, param);
                    SetMemImgDrawBright(bright);
                    // A 16-bit colour's upper bits are not part of it.
                    const std::uint32_t given = ct == 0 ? fill | 0xABCD0000u : fill;
                    for (const auto& t : triangles) {
                        DrawMemImgTriangle(dest, nullptr, t.data(), 1, dest, given);
                    }
                    // The colour under the bright colour, by 255ths; byte 3 carried.
                    const std::uint32_t br = (bright >> 16) & 0xFF, bg = (bright >> 8) & 0xFF,
                                        bb = bright & 0xFF;
                    const std::uint32_t c =
                        ct == 0 ? (memimg_ref::Scale(br, fill >> 11) << 11) |
                                      (memimg_ref::Scale(bg, (fill >> 5) & 63) << 5) |
                                      memimg_ref::Scale(bb, fill & 31)
                                : (fill & 0xFF000000u) |
                                      (memimg_ref::Scale(br, (fill >> 16) & 0xFF) << 16) |
                                      (memimg_ref::Scale(bg, (fill >> 8) & 0xFF) << 8) |
                                      memimg_ref::Scale(bb, fill & 0xFF);
                    const memimg_ref::Draw draw{
                        ct,  memimg_ref::kPlain, mode, param, 0xFFFFFF, false, false, 0, false,
                        true};
                    for (int i = 0; i < kDstW * kDstH; ++i) {
                        std::uint32_t expected = start[i];
                        for (int n = 0; n < counts[i]; ++n) {
                            expected = memimg_ref::BlendPixel(draw, c, nullptr, 0, expected);
                        }
                        ASSERT_EQ(ReadRaw(*dest, i % kDstW, i / kDstW), expected)
                            << "pixel " << i << " type " << ct << " mode " << mode << " param "
                            << param << " bright " << std::hex << bright;
                    }
                }
            }
        }
    }
}

// One texel onto one pixel.
std::uint32_t Draw1(MEMIMG* source, MEMIMG* dest, int trans) {
    const RECT area{0, 0, 1, 1};
    SetMemImgDrawArea(&area);
    const MemImgTriangleVertex t[3] = {{0, 0, 0, 0}, {1, 0, 1, 0}, {0, 1, 0, 1}};
    DrawMemImgTriangle(dest, source, t, trans, nullptr, 0);
    return ReadRaw(*dest, 0, 0);
}

TEST_F(MemImgTriangleTest, WhereTrianglesDifferFromThePlainTransfer) {
    // Multiply with transparency: an alpha-0 texel is drawn, blackening the colour channels.
    MEMIMG* alphaSrc = Image(1, 1, 1, 0, 1);
    MEMIMG* dest = Image(1, 1, 1);
    WriteRaw(*alphaSrc, 0, 0, 0x00FFFFFF);
    WriteRaw(*dest, 0, 0, 0xAB808080);
    SetMemImgBlendMode(DX_BLEND_MULTIPLY, 0);
    EXPECT_EQ(Draw1(alphaSrc, dest, 1), 0xAB000000u);
    // Mode 0 without transparency mixes an alpha texel by its alpha instead of copying it.
    WriteRaw(*alphaSrc, 0, 0, 0xFFFFFFFF);
    WriteRaw(*dest, 0, 0, 0xAB000000);
    SetMemImgBlendMode(DX_BLEND_NONE, 0);
    EXPECT_EQ(Draw1(alphaSrc, dest, 0), 0xABFEFEFEu);
    EXPECT_EQ(Draw1(alphaSrc, dest, 1), 0xFFFFFFFFu);
    // Subtract at parameter 0 draws nothing, palette sources included.
    MEMIMG* palSrc = Image(1, 1, 1, 1);
    WriteRaw(*dest, 0, 0, 0xAB123456);
    SetMemImgBlendMode(DX_BLEND_SUBTRACT, 0);
    EXPECT_EQ(Draw1(palSrc, dest, 0), 0xAB123456u);
}

TEST_F(MemImgTriangleTest, RefusedDrawsLeaveTheDestination) {
    std::mt19937 rng(3);
    MEMIMG src32{}, src16{}, pal32{}, gray{}, gray2{}, dst32{}, dstPal{}, dstAlpha{}, small{},
        wide{};
    memimg_test::MakeRandomImage(src32, 6, 6, 1, 0, 0, rng);
    memimg_test::MakeRandomImage(src16, 6, 6, 0, 0, 0, rng);
    memimg_test::MakeRandomImage(pal32, 6, 6, 1, 1, 0, rng);
    memimg_test::MakeRandomImage(gray, 6, 6, 2, 0, 0, rng);
    memimg_test::MakeRandomImage(gray2, 8, 8, 2, 0, 0, rng);
    memimg_test::MakeRandomImage(dst32, 8, 8, 1, 0, 0, rng);
    memimg_test::MakeRandomImage(dstPal, 8, 8, 1, 1, 0, rng);
    memimg_test::MakeRandomImage(dstAlpha, 8, 8, 1, 0, 1, rng);
    memimg_test::MakeRandomImage(small, 5, 6, 2, 0, 0, rng);
    memimg_test::MakeRandomImage(wide, 8193, 1, 1, 0, 0, rng);
    const RECT area{0, 0, 8, 8};
    SetMemImgDrawArea(&area);
    const MemImgTriangleVertex t[3] = {{0, 0, 0, 0}, {7, 1, 6, 0}, {2, 7, 0, 6}};
    auto unchanged = [&](MEMIMG& dst, const MEMIMG* src, const MEMIMG* blend = nullptr) {
        const auto before = memimg_test::Snapshot(dst);
        DrawMemImgTriangle(&dst, src, t, 0, blend, 0x1234);
        return memimg_test::Snapshot(dst) == before;
    };
    for (int mode : {5, 9, 12, -1}) {
        SetMemImgBlendMode(mode, 128);
        EXPECT_TRUE(unchanged(dst32, &src32)) << "mode " << mode;
        EXPECT_TRUE(unchanged(dst32, nullptr)) << "fill, mode " << mode;
    }
    for (int mode : {1, 2, 3}) {
        SetMemImgBlendMode(mode, 0);
        EXPECT_TRUE(unchanged(dst32, &src32)) << "mode " << mode << " at 0";
        EXPECT_TRUE(unchanged(dst32, &pal32)) << "palette, mode " << mode << " at 0";
        EXPECT_TRUE(unchanged(dst32, nullptr)) << "fill, mode " << mode << " at 0";
    }
    SetMemImgBlendMode(DX_BLEND_NONE, 255);
    EXPECT_TRUE(unchanged(dst32, &src16));
    EXPECT_TRUE(unchanged(dstPal, &src32));
    EXPECT_TRUE(unchanged(dstPal, nullptr));
    EXPECT_TRUE(unchanged(dstAlpha, &src32));
    EXPECT_TRUE(unchanged(gray2, &gray));
    EXPECT_TRUE(unchanged(gray2, nullptr));
    // A blend image narrower than the source, and a source too wide for the texel limits.
    EXPECT_TRUE(unchanged(dst32, &src32, &small));
    EXPECT_TRUE(unchanged(dst32, &wide));
    EXPECT_FALSE(unchanged(dst32, &src32, &gray));
    for (MEMIMG* m :
         {&src32, &src16, &pal32, &gray, &gray2, &dst32, &dstPal, &dstAlpha, &small, &wide}) {
        ReleaseMemImg(m);
    }
}

TEST_F(MemImgTriangleTest, CornersDecideTheMapping) {
    MEMIMG* src = Image(4, 4, 1);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x)
            WriteRaw(*src, x, y, 0x100u * static_cast<std::uint32_t>(y * 4 + x + 1));
    }
    MEMIMG* dest = Image(12, 12, 1);
    const RECT area{0, 0, 12, 12};
    SetMemImgDrawArea(&area);
    // Turned by 180 degrees: corner 0 (the source's top-left) goes to the bottom right.
    const MemImgPoint turned[4] = {{7, 7}, {3, 7}, {7, 3}, {3, 3}};
    DrawMemImgToCorners(dest, src, turned, 0, nullptr);
    for (int y = 4; y <= 6; ++y) {
        for (int x = 4; x <= 7; ++x) {
            EXPECT_EQ(ReadRaw(*dest, x, y), ReadRaw(*src, 7 - x, 7 - y)) << x << ", " << y;
        }
    }
    // A quadrangle whose widened box misses the draw area is not drawn.
    FillMemImgRect(dest, nullptr, 0);
    const RECT inner{4, 4, 12, 12};
    SetMemImgDrawArea(&inner);
    const MemImgPoint outside[4] = {{-9, 0}, {-3, 0}, {-9, 12}, {-3, 12}};
    DrawMemImgToCorners(dest, src, outside, 0, nullptr);
    EXPECT_EQ(memimg_test::Snapshot(*dest), std::vector<std::uint32_t>(144, 0));
}

}  // namespace
