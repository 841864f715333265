// Shape drawing through the common frame: every shape in software against the renderer calls it
// stands for, the span tables of thick circles and ovals, the degenerate shapes, and on the device
// the one dispatcher call each shape makes.
#include <gtest/gtest.h>

#include <functional>

#include "DrawTestSupport.h"

using namespace ZiDaz;
using namespace velk_graph_test;
using namespace velk_draw_test;
using ZiDaz::testing::ArgTexts;
using ZiDaz::testing::RecordingBackend;

namespace {

class ShapeTest : public GraphFixture {};

constexpr std::uint32_t kColor = 0x00C08040;

struct ShapeOp {
    const char* name;
    std::function<int()> front;
    std::function<void(MEMIMG* dest)> direct;
};

MemImgLineRecord Line(int x1, int y1, int x2, int y2) {
    return MemImgLineRecord{x1, y1, x2, y2, kColor, 0};
}

void Triangle(MEMIMG* d, int x1, int y1, int x2, int y2, int x3, int y3) {
    const MemImgTriangleVertex v[3] = {{x1, y1, 0, 0}, {x2, y2, 0, 0}, {x3, y3, 0, 0}};
    DrawMemImgTriangle(d, nullptr, v, 0, nullptr, kColor);
}

std::vector<ShapeOp> ShapeOps() {
    return {
        {"filled box", [] { return PaintRectangle(5, 50, 40, 8, kColor, 1); },
         [](MEMIMG* d) {
             const RECT r{5, 50, 40, 8};
             FillMemImgBox(d, &r, kColor);
         }},
        {"box outline", [] { return PaintRectangle(5, 8, 40, 50, kColor, 0); },
         [](MEMIMG* d) {
             const MemImgLineRecord l[4] = {Line(5, 8, 39, 8), Line(39, 8, 39, 49),
                                            Line(39, 49, 5, 49), Line(5, 49, 5, 8)};
             DrawMemImgLines(d, l, 4);
         }},
        {"line", [] { return PaintLine(3, 60, 90, 2, kColor, 1); },
         [](MEMIMG* d) { DrawMemImgLine(d, 3, 60, 90, 2, kColor); }},
        {"odd vertical thick line", [] { return PaintLine(10, 10, 10, 50, kColor, 3); },
         [](MEMIMG* d) {
             const RECT r{9, 10, 12, 50};
             FillMemImgBox(d, &r, kColor);
         }},
        {"even thick line", [] { return PaintLine(10, 10, 40, 10, kColor, 4); },
         [](MEMIMG* d) {
             // Normal (0, -2): corners (10, 8), (40, 8), (40, 12), (10, 12).
             Triangle(d, 10, 8, 40, 8, 10, 12);
             Triangle(d, 40, 12, 40, 8, 10, 12);
         }},
        {"circle", [] { return PaintCircle(40, 30, 20, kColor, 0, 1); },
         [](MEMIMG* d) { DrawMemImgCircle(d, 40, 30, 20, kColor, 0, 0, 0); }},
        {"disc", [] { return PaintCircle(40, 30, 20, kColor, 1, 1); },
         [](MEMIMG* d) { DrawMemImgCircle(d, 40, 30, 20, kColor, 1, 0, 0); }},
        {"oval", [] { return PaintOval(40, 30, 30, 12, kColor, 1, 1); },
         [](MEMIMG* d) { DrawMemImgOval(d, 40, 30, 30, 12, kColor, 1, 0, 0); }},
        {"filled triangle", [] { return PaintTriangle(5, 5, 80, 20, 30, 60, kColor, 1); },
         [](MEMIMG* d) { Triangle(d, 5, 5, 80, 20, 30, 60); }},
        {"triangle outline", [] { return PaintTriangle(5, 5, 80, 20, 30, 60, kColor, 0); },
         [](MEMIMG* d) {
             const MemImgLineRecord l[3] = {Line(5, 5, 80, 20), Line(80, 20, 30, 60),
                                            Line(30, 60, 5, 5)};
             DrawMemImgLines(d, l, 3);
         }},
    };
}

TEST_F(ShapeTest, SoftwareShapesEqualTheRendererCallsTheyStandFor) {
    StartSoftware(32);
    const HandleValue target = CreateDrawableGraph(96, 64, 0);
    ASSERT_EQ(SetDrawTarget(target), 0);
    MEMIMG& dest = *GetGraphMemImg(target);
    unsigned seed = 1;
    for (int mode : {0, 1, 2, 3, 4, 10, 11, 5}) {
        for (std::uint32_t bright : {0xFFFFFFu, 0x80C040u, 0x000000u}) {
            ASSERT_EQ(SelectBlendMode(mode, 140), 0);
            SetBrightnessColor(static_cast<int>(bright >> 16), static_cast<int>(bright >> 8 & 0xFF),
                               static_cast<int>(bright & 0xFF));
            for (const ShapeOp& op : ShapeOps()) {
                Scramble(dest, seed++);
                TargetCopy expected(dest);
                const std::vector<std::uint32_t> before = memimg_test::Snapshot(dest);
                ASSERT_EQ(op.front(), 0) << op.name;
                op.direct(&expected.image);
                ASSERT_TRUE(SamePixels(dest, expected.image))
                    << op.name << " mode " << mode << " bright " << std::hex << bright;
                if (mode == 5) {
                    ASSERT_EQ(CountChanged(dest, before), 0) << op.name;
                } else if (mode == 0) {
                    ASSERT_GT(CountChanged(dest, before), 0) << op.name;
                }
            }
        }
    }
}

std::vector<ThickSpanRow> Spans(int cx, int cy, int r, int t) {
    std::vector<ThickSpanRow> table(480);
    EXPECT_EQ(ComputeThickCircleSpans(cx, cy, r, t, table.data()), 0);
    return table;
}

TEST_F(ShapeTest, ThickCircleSpansAreTheRingOfTheThickness) {
    StartSoftware(32);
    auto t4 = Spans(50, 50, 10, 4);
    EXPECT_EQ(t4[50].OuterLeft, 38);
    EXPECT_EQ(t4[50].OuterRight, 62);
    EXPECT_EQ(t4[50].InnerLeft, 41);
    EXPECT_EQ(t4[50].InnerRight, 59);
    EXPECT_EQ(t4[50].Flags, 15);
    auto t3 = Spans(50, 50, 10, 3);
    EXPECT_EQ(t3[50].OuterLeft, 39);
    EXPECT_EQ(t3[50].OuterRight, 61);
    EXPECT_EQ(t3[50].InnerLeft, 41);
    EXPECT_EQ(t3[50].InnerRight, 59);
    auto t1 = Spans(50, 50, 10, 1);
    EXPECT_EQ(t1[40].OuterLeft, 47);
    EXPECT_EQ(t1[40].OuterRight, 53);
    EXPECT_FALSE(t1[40].InnerLeft < t1[40].InnerRight);
    EXPECT_EQ(t1[39].Flags, 0);

    // Rows outside the draw area are never written.
    ASSERT_EQ(SetDrawClipRect(RECT{0, 45, 640, 55}), 0);
    auto cut = Spans(50, 50, 10, 4);
    EXPECT_EQ(cut[44].Flags, 0);
    EXPECT_NE(cut[45].Flags, 0);
    EXPECT_NE(cut[54].Flags, 0);
    EXPECT_EQ(cut[55].Flags, 0);
    EXPECT_EQ(cut[61].Flags, 0);

    // Drawn: the centre row holds two four-pixel segments.
    SetDrawClipRect(RECT{0, 0, 640, 480});
    MEMIMG& screen = GraphicsSystemState.ScreenImage;
    FillMemImgRect(&screen, nullptr, 0);
    ASSERT_EQ(PaintCircle(50, 50, 10, kColor, 1, 4), 0);
    std::string row, want;
    for (int x = 36; x < 65; ++x) {
        row += memimg_test::ReadRaw(screen, x, 50) ? '#' : '.';
        want += (x >= 38 && x <= 41) || (x >= 59 && x <= 62) ? '#' : '.';
    }
    EXPECT_EQ(row, want);
    // A thickness of 2 with the fill flag is still a ring.
    FillMemImgRect(&screen, nullptr, 0);
    ASSERT_EQ(PaintCircle(50, 50, 10, kColor, 1, 2), 0);
    EXPECT_EQ(memimg_test::ReadRaw(screen, 50, 50), 0u);
    EXPECT_NE(memimg_test::ReadRaw(screen, 39, 50), 0u);
    EXPECT_NE(memimg_test::ReadRaw(screen, 50, 61), 0u);
}

TEST_F(ShapeTest, ThickOvalSpansAreSymmetricRingsAndDegenerateOnesAreRefused) {
    StartSoftware(32);
    for (auto [rx, ry, t] : {std::tuple{30, 12, 4}, std::tuple{12, 30, 3}, std::tuple{20, 20, 2},
                             std::tuple{40, 3, 5}, std::tuple{3, 40, 2}}) {
        std::vector<ThickSpanRow> table(480);
        ASSERT_EQ(ComputeThickOvalSpans(100, 100, rx, ry, t, table.data()), 0);
        const int outerY = ry + t / 2;
        int rows = 0;
        for (int dy = 0; dy <= outerY + 1; ++dy) {
            const ThickSpanRow& a = table[100 - dy];
            const ThickSpanRow& b = table[100 + dy];
            EXPECT_EQ(a.Flags, b.Flags) << rx << "," << ry << " row " << dy;
            EXPECT_EQ(a.OuterLeft, b.OuterLeft);
            EXPECT_EQ(a.OuterRight, b.OuterRight);
            if (!(a.Flags & kSpanOuterLeft)) continue;
            ++rows;
            // Centred, never wider than the outer radius, and the inner side inside it.
            EXPECT_EQ(a.OuterLeft + a.OuterRight, 200);
            EXPECT_GE(a.OuterLeft, 100 - (rx + t / 2));
            if (a.Flags & kSpanInnerLeft) EXPECT_GE(a.InnerLeft, a.OuterLeft);
        }
        EXPECT_EQ(table[100].OuterLeft, 100 - (rx + t / 2));
        EXPECT_GE(rows, outerY) << rx << "," << ry;
        EXPECT_EQ(table[100 - outerY - 2].Flags, 0);
    }
    std::vector<ThickSpanRow> table(480);
    EXPECT_EQ(ComputeThickOvalSpans(100, 100, 1, 20, 4, table.data()), -1);
    for (const ThickSpanRow& r : table) EXPECT_EQ(r.Flags, 0);
    // Drawn, and nothing for a zero radius.
    MEMIMG& screen = GraphicsSystemState.ScreenImage;
    FillMemImgRect(&screen, nullptr, 0);
    EXPECT_EQ(PaintOval(100, 100, 1, 20, kColor, 0, 4), -1);
    EXPECT_EQ(PaintOval(100, 100, 30, 0, kColor, 1, 1), 0);
    EXPECT_EQ(PaintCircle(100, 100, -1, kColor, 1, 1), 0);
    EXPECT_EQ(PaintLine(100, 100, 100, 100, kColor, 4), 0);
    EXPECT_EQ(CountChanged(screen, std::vector<std::uint32_t>(640 * 480, 0)), 0);
    ASSERT_EQ(PaintOval(100, 100, 30, 12, kColor, 0, 4), 0);
    EXPECT_NE(memimg_test::ReadRaw(screen, 70, 100), 0u);
    EXPECT_EQ(memimg_test::ReadRaw(screen, 100, 100), 0u);
    // Caller vertices have no software path.
    VERTEX2D v[3]{};
    EXPECT_EQ(PaintUserVertices2D(v, 3, 4, kUntexturedVertices, 0), 0);
    EXPECT_EQ(PaintUserVertices2D(v, 3, 4, 12345, 0), -1);
}

TEST_F(ShapeTest, DeviceShapesMakeOneDispatcherCallWithThePartArguments) {
    StartDevice(4096, false);
    RecordingBackend& b = RecordingBackend::Instance();
    const std::uint32_t c = 0xFF123456u;
    VERTEX2D v[3]{};
    for (VERTEX2D& x : v) x.r = x.g = x.b = x.a = 200;
    const void* none = nullptr;
    struct Case {
        const char* what;
        std::function<int()> call;
        const char* name;
        std::vector<std::string> args;
    } cases[] = {
        {"filled box", [&] { return PaintRectangle(1, 2, 3, 4, c, 1); }, "FillRectangle",
         ArgTexts(1, 2, 3, 4, c)},
        {"outline", [&] { return PaintRectangle(1, 2, 3, 4, c, 0); }, "OutlineRectangle",
         ArgTexts(1, 2, 3, 4, c)},
        {"line", [&] { return PaintLine(1, 2, 30, 40, c, 1); }, "DrawLineSegment",
         ArgTexts(1, 2, 30, 40, c)},
        {"odd thick line", [&] { return PaintLine(10, 10, 10, 50, c, 3); }, "FillRectangle",
         ArgTexts(9, 10, 12, 50, c)},
        {"odd thick row", [&] { return PaintLine(10, 20, 50, 20, c, 5); }, "FillRectangle",
         ArgTexts(10, 18, 50, 23, c)},
        {"even thick line", [&] { return PaintLine(10, 10, 40, 10, c, 4); }, "DrawQuadShape",
         ArgTexts(10.0f, 8.0f, 40.0f, 8.0f, 40.0f, 12.0f, 10.0f, 12.0f, c, 1)},
        {"circle", [&] { return PaintCircle(50, 50, 10, c, 1, 1); }, "DrawCircleShape",
         ArgTexts(50, 50, 10, c, 1, 0, 0)},
        {"thick circle", [&] { return PaintCircle(50, 50, 10, c, 1, 3); }, "DrawThickCircle",
         ArgTexts(50, 50, 10, c, 3)},
        {"oval", [&] { return PaintOval(50, 40, 10, 5, c, 0, 1); }, "DrawEllipse",
         ArgTexts(50, 40, 10, 5, c, 0, 0, 0)},
        {"thick oval", [&] { return PaintOval(50, 40, 10, 5, c, 0, 2); }, "DrawThickEllipse",
         ArgTexts(50, 40, 10, 5, c, 2)},
        {"triangle", [&] { return PaintTriangle(1, 2, 3, 4, 5, 6, c, 1); }, "DrawTriangleShape",
         ArgTexts(1, 2, 3, 4, 5, 6, c, 1)},
        {"vertices", [&] { return PaintUserVertices2D(v, 3, 4, kUntexturedVertices, 1); },
         "DrawUserVertices2D", ArgTexts(static_cast<const void*>(v), 3, 4, none, 0, 1, 0, 0, 0)},
    };
    for (const Case& k : cases) {
        b.calls.clear();
        EXPECT_EQ(k.call(), 0) << k.what;
        const auto calls = b.Named(k.name);
        ASSERT_EQ(calls.size(), 1u) << k.what;
        EXPECT_EQ(calls[0].args, k.args) << k.what;
    }
    // Tinted or faded vertices go as a tinted copy.
    SetBrightnessColor(255, 128, 0);
    SelectBlendMode(DX_BLEND_ALPHA, 128);
    b.calls.clear();
    ASSERT_EQ(PaintUserVertices2D(v, 3, 4, kUntexturedVertices, 1), 0);
    const auto calls = b.Named("DrawUserVertices2D");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].args[0], ZiDaz::testing::ArgText(static_cast<const void*>(v)));
    EXPECT_EQ(v[0].g, 200);
}

}  // namespace
