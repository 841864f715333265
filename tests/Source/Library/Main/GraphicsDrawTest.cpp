// Graph drawing through the common frame: the draw settings and their clamps, every graph
// operation in software against the renderer routine it stands for (and, for plain and stretched
// draws, against the renderer's reference pixel rules), and on the device against the one
// dispatcher call it makes, emulated subtraction included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>

#include "DrawTestSupport.h"
#include "Main/DxBaseFunc.h"
#include "MemImgReference.h"

using namespace ZiDaz;
using namespace velk_graph_test;
using namespace velk_draw_test;
using ZiDaz::testing::ArgTexts;
using ZiDaz::testing::RecordingBackend;

namespace {

class DrawTest : public GraphFixture {};

constexpr int kGraphW = 24, kGraphH = 20;

// One graph operation made through the front end and, on a copy of the target, by calling the
// renderer directly with the arguments the operation stands for.
struct SoftOp {
    const char* name;
    std::function<int(HandleValue graph, int transparent)> front;
    std::function<void(MEMIMG* dest, const MEMIMG* source, int transparent, const MEMIMG* blend)>
        direct;
};

void Corners(MEMIMG* dest, const MEMIMG* src, const int c[8], int t, const MEMIMG* blend) {
    const int w = src->Width, h = src->Height;
    const MemImgTriangleVertex a[3] = {{c[0], c[1], 0, 0}, {c[2], c[3], w, 0}, {c[4], c[5], 0, h}};
    const MemImgTriangleVertex b[3] = {{c[2], c[3], w, 0}, {c[4], c[5], 0, h}, {c[6], c[7], w, h}};
    DrawMemImgTriangle(dest, src, a, t, blend, 0);
    DrawMemImgTriangle(dest, src, b, t, blend, 0);
}

// Runs the renderer with a narrowed draw area, as the sub-rectangle forms do.
template <class F>
void InArea(RECT area, F draw) {
    const RECT saved = MemImgDrawState.DrawArea;
    ClipRectangle(&area, &saved);
    SetMemImgDrawArea(&area);
    draw();
    SetMemImgDrawArea(&saved);
}

std::vector<SoftOp> SoftOps() {
    return {
        {"PutGraph", [](HandleValue g, int t) { return PutGraph(7, 5, g, t); },
         [](MEMIMG* d, const MEMIMG* s, int t, const MEMIMG* b) { DrawMemImg(d, s, 7, 5, t, b); }},
        {"PutGraphF", [](HandleValue g, int t) { return PutGraphF(10.7f, -3.2f, g, t); },
         [](MEMIMG* d, const MEMIMG* s, int t, const MEMIMG* b) {
             DrawMemImg(d, s, 10, -3, t, b);
         }},
        {"PutGraphStretched",
         [](HandleValue g, int t) { return PutGraphStretched(5, 4, 60, 50, g, t); },
         [](MEMIMG* d, const MEMIMG* s, int t, const MEMIMG* b) {
             const RECT r{5, 4, 60, 50};
             DrawMemImgStretched(d, s, &r, t, b);
         }},
        {"PutGraphStretchedF",
         [](HandleValue g, int t) { return PutGraphStretchedF(60.9f, 50.5f, -5.2f, 4.9f, g, t); },
         [](MEMIMG* d, const MEMIMG* s, int t, const MEMIMG* b) {
             const RECT r{60, 50, -5, 4};
             DrawMemImgStretched(d, s, &r, t, b);
         }},
        {"PutGraphRotatedF",
         [](HandleValue g, int t) { return PutGraphRotatedF(40.5f, 30.5f, 1.5, 0.7, g, t, 0, 0); },
         [](MEMIMG* d, const MEMIMG* s, int t, const MEMIMG* b) {
             DrawMemImgRotated(d, s, 40, 30, 0.7f, 1.5f, 1.5f, t, 0, 0, b);
         }},
        {"PutGraphOnQuadF",
         [](HandleValue g, int t) {
             return PutGraphOnQuadF(10.5f, 5.2f, 70.1f, 8.9f, 65.7f, 55.3f, 3.3f, 50.8f, g, t);
         },
         [](MEMIMG* d, const MEMIMG* s, int t, const MEMIMG* b) {
             const int c[8] = {10, 5, 70, 8, 3, 50, 65, 55};
             Corners(d, s, c, t, b);
         }},
        {"PutGraphSubRect",
         [](HandleValue g, int t) { return PutGraphSubRect(20, 10, 4, 6, 12, 9, g, t, 0, 0); },
         [](MEMIMG* d, const MEMIMG* s, int t, const MEMIMG* b) {
             InArea(RECT{20, 10, 32, 19}, [&] { DrawMemImg(d, s, 16, 4, t, b); });
         }},
        {"PutGraphSubRect reversed",
         [](HandleValue g, int t) { return PutGraphSubRect(20, 10, 4, 6, 12, 9, g, t, 1, 1); },
         [](MEMIMG* d, const MEMIMG* s, int t, const MEMIMG* b) {
             // x + sx + w - W = 12 and y + sy + h - H = 5: the whole graph mirrored both ways.
             const RECT r{36, 25, 12, 5};
             InArea(RECT{20, 10, 32, 19}, [&] { DrawMemImgStretched(d, s, &r, t, b); });
         }},
        {"PutGraphSubRectStretched",
         [](HandleValue g, int t) {
             return PutGraphSubRectStretched(50, 10, 14, 40, 4, 6, 12, 9, g, t);
         },
         [](MEMIMG* d, const MEMIMG* s, int t, const MEMIMG* b) {
             // u = 36 / 12 = 3, v = 30 / 9; mirrored in x.
             const double v = 30.0 / 9.0;
             const RECT r{50 + 12, 10 - static_cast<int>(6 * v), 50 - 60,
                          10 + static_cast<int>(14 * v)};
             InArea(RECT{14, 10, 50, 40}, [&] { DrawMemImgStretched(d, s, &r, t, b); });
         }},
        {"PutGraphRotated3 unturned",
         [](HandleValue g, int t) {
             return PutGraphRotated3(30, 25, 5, 6, 1.0, 1.0, 0.0, g, t, 0, 0);
         },
         [](MEMIMG* d, const MEMIMG* s, int t, const MEMIMG* b) {
             DrawMemImg(d, s, 25, 19, t, b);
         }},
        {"PutGraphReversed x",
         [](HandleValue g, int t) { return PutGraphReversed(30, 25, g, t, 1, 0); },
         [](MEMIMG* d, const MEMIMG* s, int t, const MEMIMG* b) {
             const RECT r{54, 25, 30, 45};
             DrawMemImgStretched(d, s, &r, t, b);
         }},
    };
}

// The settings every software operation is drawn under.
struct Setting {
    int mode;
    std::uint32_t bright;
    bool blend;
};

std::vector<Setting> Settings() {
    std::vector<Setting> out;
    for (int mode : {0, 1, 2, 3, 4, 10, 11, 5})
        for (std::uint32_t bright : {0xFFFFFFu, 0x80C040u, 0x000000u})
            for (bool blend : {false, true}) out.push_back({mode, bright, blend});
    return out;
}

void Apply(const Setting& s, HandleValue blendGraph) {
    ASSERT_EQ(SelectBlendMode(s.mode, 160), 0);
    ASSERT_EQ(
        SetBrightnessColor(static_cast<int>(s.bright >> 16), static_cast<int>(s.bright >> 8 & 0xFF),
                           static_cast<int>(s.bright & 0xFF)),
        0);
    ASSERT_EQ(SetBlendGraph(s.blend ? blendGraph : -1, 1, 128, 64), 0);
}

TEST_F(DrawTest, SoftwareGraphDrawsEqualTheRendererRoutineTheyStandFor) {
    StartSoftware(32);
    const HandleValue graphs[2] = {MakePatternGraph(kGraphW, kGraphH, false, 1),
                                   MakePatternGraph(kGraphW, kGraphH, true, 2)};
    const HandleValue blendGraph = MakeBlendGraph(kGraphW, kGraphH);
    const HandleValue target = CreateDrawableGraph(96, 64, 0);
    ASSERT_GE(graphs[0], 0);
    ASSERT_GE(graphs[1], 0);
    ASSERT_GE(blendGraph, 0);
    ASSERT_GE(target, 0);
    ASSERT_EQ(SetDrawTarget(target), 0);
    MEMIMG& dest = *GetGraphMemImg(target);
    const MEMIMG* blendImage = &LookUpGraphRecord(blendGraph, 0)->Image->Image;
    unsigned seed = 1;
    for (const Setting& s : Settings()) {
        Apply(s, blendGraph);
        for (HandleValue g : graphs) {
            for (int t : {0, 1}) {
                for (const SoftOp& op : SoftOps()) {
                    Scramble(dest, seed++);
                    TargetCopy expected(dest);
                    const std::vector<std::uint32_t> before = memimg_test::Snapshot(dest);
                    ASSERT_EQ(op.front(g, t), 0) << op.name;
                    op.direct(&expected.image, GetGraphMemImg(g), t,
                              s.blend ? blendImage : nullptr);
                    ASSERT_TRUE(SamePixels(dest, expected.image))
                        << op.name << " mode " << s.mode << " bright " << std::hex << s.bright
                        << " blend " << s.blend << " alpha " << (g == graphs[1]) << " t " << t;
                    // Outside the modes the renderer draws nothing changes.
                    if (s.mode == 5) {
                        ASSERT_EQ(CountChanged(dest, before), 0) << op.name;
                    }
                }
            }
        }
    }
}

// Plain and same-size stretched draws of a plain graph, pixel by pixel against the reference
// rules of the renderer, into the back buffer.
TEST_F(DrawTest, PlainAndStretchedDrawsFollowTheReferencePixelRules) {
    StartSoftware(32);
    const HandleValue g = MakePatternGraph(kGraphW, kGraphH, false, 3);
    const HandleValue blendGraph = MakeBlendGraph(kGraphW, kGraphH);
    ASSERT_GE(g, 0);
    ASSERT_EQ(SetDrawTarget(DX_TARGET_BACK_SCREEN), 0);
    MEMIMG& screen = GraphicsSystemState.ScreenImage;
    const MEMIMG& src = *GetGraphMemImg(g);
    const MEMIMG& blendImage = LookUpGraphRecord(blendGraph, 0)->Image->Image;
    unsigned seed = 100;
    for (const Setting& s : Settings()) {
        Apply(s, blendGraph);
        for (int t : {0, 1}) {
            for (bool stretched : {false, true}) {
                // Only the rows the draw can reach are compared.
                Scramble(screen, seed++);
                std::vector<std::uint32_t> before;
                for (int y = 0; y < 40; ++y)
                    for (int x = 0; x < 40; ++x)
                        before.push_back(memimg_test::ReadRaw(screen, x, y));
                if (stretched)
                    ASSERT_EQ(PutGraphStretched(7, 5, 7 + kGraphW, 5 + kGraphH, g, t), 0);
                else
                    ASSERT_EQ(PutGraph(7, 5, g, t), 0);
                const memimg_ref::Draw draw{1,
                                            memimg_ref::kPlain,
                                            s.mode,
                                            160,
                                            s.bright,
                                            s.blend,
                                            t != 0 && src.Shared->UseTransColor != 0,
                                            src.Shared->TransColor,
                                            !stretched};
                for (int y = 0; y < 40; ++y) {
                    for (int x = 0; x < 40; ++x) {
                        std::uint32_t want = before[y * 40 + x];
                        const int sx = x - 7, sy = y - 5;
                        if (sx >= 0 && sy >= 0 && sx < kGraphW && sy < kGraphH) {
                            const std::uint32_t q =
                                s.blend ? memimg_ref::BlendWeight(
                                              128, 64,
                                              blendImage.Pixels[sy * blendImage.Shared->Pitch + sx])
                                        : 0;
                            want = memimg_ref::BlendPixel(draw, memimg_test::ReadRaw(src, sx, sy),
                                                          nullptr, q, want);
                        }
                        ASSERT_EQ(memimg_test::ReadRaw(screen, x, y), want)
                            << x << "," << y << " mode " << s.mode << " bright " << std::hex
                            << s.bright << " blend " << s.blend << " t " << t << " stretched "
                            << stretched;
                    }
                }
            }
        }
    }
}

TEST_F(DrawTest, SettersClampStoreAndRefuse) {
    StartSoftware(32);
    const DrawSettingsData& d = GraphicsSystemState.DrawSettings;
    EXPECT_EQ(SelectBlendMode(1, 300), 0);
    EXPECT_EQ(d.BlendMode, 1);
    EXPECT_EQ(d.BlendParam, 255);
    EXPECT_EQ(MemImgDrawState.BlendParam, 255);
    // Modes beyond the blend tables' last row are refused and change nothing.
    EXPECT_EQ(SelectBlendMode(33, 10), -1);
    EXPECT_EQ(SelectBlendMode(-1, 10), -1);
    EXPECT_EQ(d.BlendMode, 1);
    EXPECT_EQ(d.BlendParam, 255);
    EXPECT_EQ(SelectBlendMode(DX_BLEND_CUSTOM, -4), 0);
    EXPECT_EQ(d.BlendParam, 0);

    EXPECT_EQ(SetBrightnessColor(-5, 128, 999), 0);
    int r, g, b;
    GetBrightnessColor(&r, &g, &b);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(g, 128);
    EXPECT_EQ(b, 255);
    EXPECT_EQ(MemImgDrawState.DrawBright & 0xFFFFFF, 0x0080FFu);

    const HandleValue graph = MakePatternGraph(8, 8, false, 0);
    const HandleValue blend = MakeBlendGraph(4, 4);
    EXPECT_EQ(SetBlendGraph(blend, 3, 0, 0), -1);
    EXPECT_EQ(d.BlendGraph, -1);
    EXPECT_EQ(SetBlendGraph(blend, 1, 300, -3), 0);
    EXPECT_EQ(d.BlendGraph, blend);
    EXPECT_EQ(d.BlendBorderParam, 255);
    EXPECT_EQ(d.BlendBorderRange, 0);
    // A blend graph smaller than the drawn graph cannot weigh its pixels.
    SelectBlendMode(DX_BLEND_ALPHA, 128);
    EXPECT_EQ(PutGraph(0, 0, graph, 0), -1);
    EXPECT_EQ(SetBlendGraph(0, 0, 0, 0), 0);
    EXPECT_EQ(d.BlendGraph, -1);
    EXPECT_EQ(GraphicsSystemState.SoftwareBlendImage, nullptr);
    EXPECT_EQ(PutGraph(0, 0, graph, 0), 0);
    // A deleted blend graph is not read.
    EXPECT_EQ(SetBlendGraph(blend, 2, 0, 0), 0);
    DestroyGraph(blend);
    EXPECT_EQ(PutGraph(0, 0, graph, 0), -1);
    EXPECT_EQ(PaintTriangle(0, 0, 5, 0, 0, 5, 0x123456, 1), 0);
    // Bad handles.
    EXPECT_EQ(PutGraph(0, 0, graph + 1, 0), -1);
    EXPECT_EQ(PutGraphRotatedF(0, 0, 1.0, 1.0, -7, 0, 0, 0), -1);
    EXPECT_EQ(BindStageTexture(16, graph), -1);
    EXPECT_EQ(BindStageTexture(2, graph + 1), -1);
    EXPECT_EQ(BindStageTexture(2, graph), 0);
    EXPECT_EQ(d.StageTextures[2], graph);
    EXPECT_EQ(BindStageTexture(2, -1), 0);
    EXPECT_EQ(d.StageTextures[2], 0);
    EXPECT_EQ(SetTextureAddressModes(1, 2, -1), 0);
    EXPECT_EQ(d.TextureAddressU[15], 1);
    EXPECT_EQ(d.TextureAddressV[0], 2);
    EXPECT_EQ(SetTextureAddressModes(4, 4, 16), 0);
    EXPECT_EQ(d.TextureAddressU[0], 1);
}

TEST_F(DrawTest, DrawsUnderAnEmptyAreaOrBeforeStartDoNothing) {
    EXPECT_EQ(PutGraph(0, 0, 0x08000000, 0), -1);
    StartSoftware(32);
    const HandleValue g = MakePatternGraph(8, 8, false, 5);
    MEMIMG& screen = GraphicsSystemState.ScreenImage;
    Scramble(screen, 9);
    const std::vector<std::uint32_t> before = memimg_test::Snapshot(screen);
    ASSERT_EQ(SetDrawClipRect(RECT{10, 10, 10, 50}), 0);
    EXPECT_EQ(PutGraph(10, 10, g, 0), 0);
    EXPECT_EQ(PaintFilledBox(0, 0, 100, 100, 0xFFFFFF), 0);
    EXPECT_EQ(CountChanged(screen, before), 0);
}

TEST_F(DrawTest, TheExamplesOfTheGraphOperationsHold) {
    StartSoftware(32);
    const HandleValue g = MakePatternGraph(kGraphW, kGraphH, false, 7);
    const MEMIMG& src = *GetGraphMemImg(g);
    MEMIMG& screen = GraphicsSystemState.ScreenImage;

    // Stretched to reversed corners: half a turn.
    Scramble(screen, 1);
    ASSERT_EQ(PutGraphStretched(kGraphW, kGraphH, 0, 0, g, 0), 0);
    for (int y = 0; y < kGraphH; ++y)
        for (int x = 0; x < kGraphW; ++x)
            ASSERT_EQ(memimg_test::ReadRaw(screen, x, y),
                      memimg_test::ReadRaw(src, kGraphW - 1 - x, kGraphH - 1 - y));

    // A sub-rectangle of width 0 is refused; mirrored, it shows its own pixels mirrored in place.
    EXPECT_EQ(PutGraphSubRect(0, 0, 0, 0, 0, 5, g, 0, 0, 0), -1);
    EXPECT_EQ(PutGraphSubRectStretched(0, 0, 9, 9, 0, 0, 5, 0, g, 0), -1);
    Scramble(screen, 2);
    const std::vector<std::uint32_t> before = memimg_test::Snapshot(screen);
    ASSERT_EQ(PutGraphSubRect(100, 50, 4, 6, 12, 9, g, 0, 1, 0), 0);
    for (int y = 45; y < 65; ++y) {
        for (int x = 95; x < 120; ++x) {
            const bool inside = x >= 100 && x < 112 && y >= 50 && y < 59;
            const std::uint32_t want =
                inside ? memimg_test::ReadRaw(src, 4 + 11 - (x - 100), 6 + y - 50)
                       : before[y * 640 + x];
            ASSERT_EQ(memimg_test::ReadRaw(screen, x, y), want) << x << "," << y;
        }
    }
    // The draw area is back as it was.
    RECT area;
    GetDrawClipRect(&area);
    EXPECT_EQ(area.right, 640);
    EXPECT_EQ(MemImgDrawState.DrawArea.right, 640);
    EXPECT_EQ(MemImgDrawState.DrawArea.left, 0);

    // The derived-graph forms draw the same rectangle.
    Scramble(screen, 3);
    ASSERT_EQ(PutGraphSubRectF(200.0f, 100.0f, 4.0f, 6.0f, 12.0f, 9.0f, g, 0, 0, 0), 0);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(memimg_test::ReadRaw(screen, 200 + x, 100 + y),
                      memimg_test::ReadRaw(src, 4 + x, 6 + y));
    const int graphs = GetGraphHandleCount();
    ASSERT_EQ(PutGraphSubRectStretchedF(300.0f, 100.0f, 324.0f, 118.0f, 4, 6, 12, 9, g, 0), 0);
    EXPECT_EQ(GetGraphHandleCount(), graphs);
    EXPECT_EQ(memimg_test::ReadRaw(screen, 301, 101), memimg_test::ReadRaw(src, 4, 6));

    // Fills of graph rectangles: inside the graph only, whatever the screen's settings are.
    EXPECT_EQ(FillGraphRect(g, 20, 0, 5, 4, 1, 2, 3, 255), -1);
    EXPECT_EQ(FillGraphRect(g, -1, 0, 5, 4, 1, 2, 3, 255), -1);
    SetDrawClipRect(RECT{0, 0, 1, 1});
    SelectBlendMode(DX_BLEND_ALPHA, 10);
    const std::uint32_t corner = memimg_test::ReadRaw(src, 0, 0);
    ASSERT_EQ(FillGraphRect(g, 2, 3, 5, 4, 300, 20, 30, 255), 0);
    const std::uint32_t fill = ComposeScreenColor(255, 20, 30);
    EXPECT_EQ(memimg_test::ReadRaw(src, 2, 3), fill);
    EXPECT_EQ(memimg_test::ReadRaw(src, 6, 6), fill);
    EXPECT_NE(memimg_test::ReadRaw(src, 7, 3), fill);
    EXPECT_NE(memimg_test::ReadRaw(src, 2, 7), fill);
    EXPECT_EQ(memimg_test::ReadRaw(src, 0, 0), corner);
    EXPECT_EQ(MemImgDrawState.BlendMode, DX_BLEND_ALPHA);
    EXPECT_EQ(MemImgDrawState.DrawArea.right, 1);
}

TEST_F(DrawTest, SineLookUpUsesTheTableWithinTenRadians) {
    StartSoftware(32);
    float s, c;
    LookUpSinCos(1.5707964f, &s, &c);
    EXPECT_EQ(s, SineTable[16384]);
    EXPECT_EQ(c, SineTable[32768]);
    EXPECT_EQ(s, 1.0f);
    LookUpSinCos(10.0f, &s, &c);
    const int index = static_cast<int>(std::lrint(10.0f * 10430.378f)) & 0xFFFF;
    EXPECT_EQ(s, SineTable[index]);
    EXPECT_EQ(c, SineTable[(index + 16384) & 0xFFFF]);
    LookUpSinCos(-10.0f, &s, &c);
    EXPECT_EQ(s, SineTable[(-static_cast<int>(std::lrint(10.0f * 10430.378f))) & 0xFFFF]);
    float es, ec;
    LookUpSinCos(10.0001f, &s, &c);
    SinCosFloat(10.0001f, &es, &ec);
    EXPECT_EQ(s, es);
    EXPECT_EQ(c, ec);
}

// ---- Device path ----

float ArgFloat(const std::string& text) {
    return std::strtof(text.c_str() + 1, nullptr);
}

TEST_F(DrawTest, DeviceGraphDrawsMakeOneDispatcherCallWithThePartArguments) {
    StartDevice(4096, false);
    RecordingBackend& b = RecordingBackend::Instance();
    const HandleValue g = MakePatternGraph(kGraphW, kGraphH, false, 1);
    ASSERT_GE(g, 0);
    GraphHandleRecord* r = LookUpGraphRecord(g, 0);
    ASSERT_EQ(r->Image->Format.DeviceImage, 1);
    const void* rec = r;
    const void* none = nullptr;
    GraphQuad quad{};
    GraphQuadList list{1, &quad, g, 1};
    struct Case {
        const char* what;
        std::function<int()> call;
        const char* name;
        std::vector<std::string> args;
    } cases[] = {
        {"PutGraph", [&] { return PutGraph(3, 4, g, 1); }, "DrawGraphAtPoint",
         ArgTexts(3, 4, 3.0f, 4.0f, rec, none, 1, 1)},
        {"PutGraphF", [&] { return PutGraphF(3.5f, -4.5f, g, 0); }, "DrawGraphAtPoint",
         ArgTexts(3, -4, 3.5f, -4.5f, rec, none, 0, 0)},
        {"PutGraphStretched", [&] { return PutGraphStretched(1, 2, 30, 40, g, 1); },
         "DrawGraphStretched", ArgTexts(1, 2, 30, 40, 1.0f, 2.0f, 30.0f, 40.0f, rec, none, 1, 1)},
        {"PutGraphStretchedF", [&] { return PutGraphStretchedF(1.5f, 2.5f, -30.5f, 40.5f, g, 1); },
         "DrawGraphStretched", ArgTexts(1, 2, -30, 40, 1.5f, 2.5f, -30.5f, 40.5f, rec, none, 1, 0)},
        {"PutGraphReversed", [&] { return PutGraphReversed(1, 2, g, 1, 1, 1); },
         "DrawGraphStretched", ArgTexts(25, 22, 1, 2, 25.0f, 22.0f, 1.0f, 2.0f, rec, none, 1, 1)},
        {"PutGraphRotatedF", [&] { return PutGraphRotatedF(10.5f, 20.5f, 1.5, 0.25, g, 1, 1, 0); },
         "DrawGraphRotated", ArgTexts(10, 20, 10.5f, 20.5f, 1.5, 0.25, rec, none, 1, 1, 0)},
        {"PutGraphRotatedFastF",
         [&] { return PutGraphRotatedFastF(10.5f, 20.5f, 1.5f, 0.25f, g, 0, 0, 1); },
         "DrawGraphRotatedFast", ArgTexts(10, 20, 10.5f, 20.5f, 1.5f, 0.25f, rec, none, 0, 0, 1)},
        {"PutGraphOnQuadF", [&] { return PutGraphOnQuadF(1, 2, 3, 4, 5, 6, 7, 8, g, 1); },
         "DrawGraphOnQuad",
         ArgTexts(1.0f, 2.0f, 3.0f, 4.0f, 7.0f, 8.0f, 5.0f, 6.0f, rec, none, 1, 0)},
        {"PutGraphRotated3 turned only",
         [&] { return PutGraphRotated3(30, 25, 12, 10, 1.0, 1.0, 0.5, g, 1, 0, 0); },
         "DrawGraphRotated", ArgTexts(30, 25, 30.0f, 25.0f, 1.0, 0.5, rec, none, 1, 0, 0)},
        {"PutGraphRotated3 scaled only",
         [&] { return PutGraphRotated3(30, 25, 4, 5, 2.0, 0.5, 0.0, g, 1, 1, 0); },
         "DrawGraphStretched",
         ArgTexts(70, 22, 22, 32, 70.0f, 22.5f, 22.0f, 32.5f, rec, none, 1, 0)},
        {"PutGraphList", [&] { return PutGraphList(&list); }, "DrawGraphList",
         ArgTexts(static_cast<const void*>(&list), rec, none)},
    };
    for (const Case& c : cases) {
        b.calls.clear();
        EXPECT_EQ(c.call(), 0) << c.what;
        const auto calls = b.Named(c.name);
        ASSERT_EQ(calls.size(), 1u) << c.what;
        EXPECT_EQ(calls[0].args, c.args) << c.what;
    }

    // A float sub-rectangle of a one-piece graph is one quad of a list.
    b.calls.clear();
    ASSERT_EQ(PutGraphSubRectF(5.0f, 6.0f, 2.0f, 3.0f, 10.0f, 8.0f, g, 1, 1, 0), 0);
    EXPECT_EQ(b.Named("DrawGraphList").size(), 1u);

    // Turned and scaled about a pivot: four corners in the device's order, moved by half a pixel
    // onto the pixel centres of a device without exact ones.
    b.calls.clear();
    ASSERT_EQ(PutGraphRotated3(30, 25, 5, 6, 2.0, 1.5, 0.4, g, 1, 0, 0), 0);
    auto quads = b.Named("DrawGraphOnQuad");
    ASSERT_EQ(quads.size(), 1u);
    float sine, cosine;
    SinCosFloat(0.4f, &sine, &cosine);
    const float left = -10.0f, right = 38.0f, top = -9.0f, bottom = 21.0f;
    const float want[8][2] = {{left, top}, {right, top}, {left, bottom}, {right, bottom}};
    for (int i = 0; i < 4; ++i) {
        const float x = cosine * want[i][0] - sine * want[i][1] + 30 - 0.5f;
        const float y = cosine * want[i][1] + sine * want[i][0] + 25 - 0.5f;
        EXPECT_NEAR(ArgFloat(quads[0].args[2 * i]), x, 1e-3) << i;
        EXPECT_NEAR(ArgFloat(quads[0].args[2 * i + 1]), y, 1e-3) << i;
    }
    EXPECT_EQ(quads[0].args[11], "1");

    // Tiles: an odd count per side, and none for a scale of 0; a tiny scale stays bounded.
    b.calls.clear();
    ASSERT_EQ(PutGraphTiled(0, 0, 100, 60, 3, -4, 1.0, 0.3, g, 1), 0);
    const std::size_t tiles = b.Named("DrawGraphOnQuad").size();
    const int side = static_cast<int>(std::lround(std::sqrt(static_cast<double>(tiles))));
    EXPECT_EQ(static_cast<std::size_t>(side * side), tiles);
    EXPECT_EQ(side, 7);
    b.calls.clear();
    EXPECT_EQ(PutGraphTiled(0, 0, 100, 60, 0, 0, 0.0, 0.0, g, 1), 0);
    EXPECT_EQ(PutGraphTiled(0, 0, 0, 60, 0, 0, 1.0, 0.0, g, 1), 0);
    EXPECT_TRUE(b.Named("DrawGraphOnQuad").empty());
    EXPECT_EQ(PutGraphTiled(0, 0, 10, 10, 0, 0, 1e-9, 0.0, g, 1), 0);
    const std::size_t tiny = b.Named("DrawGraphOnQuad").size();
    EXPECT_LE(tiny, 17u * 17u);
    EXPECT_EQ(tiny % 2, 1u);
    RECT area;
    GetDrawClipRect(&area);
    EXPECT_EQ(area.right, 640);
    EXPECT_EQ(area.bottom, 480);
}

TEST_F(DrawTest, SubtractionOnADeviceWithoutReverseSubtractIsInvertAddInvert) {
    StartDevice(4096, false);
    RecordingBackend& b = RecordingBackend::Instance();
    const HandleValue g = MakePatternGraph(kGraphW, kGraphH, false, 1);
    ASSERT_EQ(SelectBlendMode(DX_BLEND_SUBTRACT, 100), 0);
    ASSERT_EQ(SetBrightnessColor(10, 20, 30), 0);
    const std::uint32_t white = ComposeScreenColor(255, 255, 255);
    for (int shape = 0; shape < 2; ++shape) {
        b.calls.clear();
        if (shape)
            ASSERT_EQ(PaintFilledBox(-5, 10, 20, 700, 0xFF102030u), 0);
        else
            ASSERT_EQ(PutGraph(3, 4, g, 1), 0);
        std::vector<std::string> draws;
        for (const auto& c : b.calls)
            if (c.name == "FillRectangle" || c.name == "DrawGraphAtPoint")
                draws.push_back(c.name + " " + c.args.back());
        const std::string fill = "FillRectangle " + ZiDaz::testing::ArgText(white);
        const std::string drawn =
            shape ? "FillRectangle " + ZiDaz::testing::ArgText(0xFF102030u) : "DrawGraphAtPoint 1";
        EXPECT_EQ(draws, (std::vector<std::string>{fill, drawn, fill}));
        // The inversions cover the bounding rectangle clamped into the draw area.
        const auto fills = b.Named("FillRectangle");
        EXPECT_EQ(fills.front().args,
                  shape ? ArgTexts(0, 10, 20, 480, white) : ArgTexts(3, 4, 27, 24, white));
        const DrawSettingsData& d = GraphicsSystemState.DrawSettings;
        EXPECT_EQ(d.BlendMode, DX_BLEND_SUBTRACT);
        EXPECT_EQ(d.BlendParam, 100);
        EXPECT_EQ(d.BrightRed, 10);
    }
    // A device with the operation draws once.
    GraphicsSystemState.ReverseSubtractCapable = 1;
    b.calls.clear();
    ASSERT_EQ(PutGraph(3, 4, g, 1), 0);
    EXPECT_TRUE(b.Named("FillRectangle").empty());
    EXPECT_EQ(b.Named("DrawGraphAtPoint").size(), 1u);
}

}  // namespace
