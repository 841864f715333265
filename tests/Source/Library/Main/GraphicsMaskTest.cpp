// The mask layer and Mask handles: filling, drawing mask images in their three modes, the bracket
// around software draws with its nesting and deferred close, growth with the draw target, the
// rebuild after a device loss, and the device path through the recording back end.
#include <functional>

#include "GraphTestSupport.h"
#include "Main/DxMask.h"

using namespace velk_graph_test;
using ZiDaz::testing::RecordingBackend;

namespace {

class MaskTest : public GraphFixture {
  protected:
    // Writes an image whose blue channel is blue(x, y), with noise in red and green so that a
    // reader taking the wrong channel shows.
    HandleValue MakeMask(const std::string& name, int w, int h,
                         const std::function<int(int, int)>& blue) {
        BASEIMAGE image{};
        EXPECT_EQ(NewBaseImageXrgb8(w, h, &image), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::uint32_t p = static_cast<std::uint32_t>((x * 37 + y) & 0xFF) << 16 |
                                  static_cast<std::uint32_t>((y * 11 + 5) & 0xFF) << 8 |
                                  static_cast<std::uint32_t>(blue(x, y) & 0xFF);
                std::memcpy(static_cast<std::uint8_t*>(image.Pixels) + y * image.Pitch + x * 4, &p,
                            4);
            }
        std::u16string path = Wide(Path(name));
        EXPECT_EQ(WriteBaseImagePngFile(path.c_str(), &image, 1), 0);
        DisposeBaseImage(&image);
        return LoadMaskWide(path.c_str(), 0);
    }

    static std::vector<std::uint8_t> Snapshot() {
        const MEMIMG& s = GraphicsSystemState.ScreenImage;
        const std::uint8_t* p = s.Shared->Pixels;
        return {p, p + static_cast<std::size_t>(s.Shared->Pitch) * s.Height};
    }
    static void Restore(const std::vector<std::uint8_t>& bytes) {
        std::memcpy(GraphicsSystemState.ScreenImage.Shared->Pixels, bytes.data(), bytes.size());
    }
    static std::uint8_t LayerByte(int x, int y) {
        return MaskLayerState.Bytes[y * MaskLayerState.Pitch + x];
    }

    // Draws a box the way every primitive draws: bracketed while masking is on.
    static void Box(RECT r, int red, int green, int blue) {
        MEMIMG* dest = GraphicsSystemState.SoftwareDrawDestination;
        if (MaskLayerInUse()) BeginMaskedDraw(r);
        FillMemImgBox(dest, &r, ComposeFormatColor(dest->Shared->Format, red, green, blue, 255));
        if (MaskLayerInUse()) EndMaskedDraw(r);
    }

    // Runs draw() unmasked and then masked from the same screen; the masked result must equal
    // the unmasked one exactly where the layer's byte is 0 and the old screen elsewhere.
    // Returns the number of pixels the masked draw changed.
    int ExpectMaskedEqualsCombined(const std::function<void()>& draw) {
        const std::vector<std::uint8_t> before = Snapshot();
        EXPECT_EQ(SetMaskLayerActive(0), 0);
        draw();
        const std::vector<std::uint8_t> plain = Snapshot();
        Restore(before);
        EXPECT_EQ(SetMaskLayerActive(1), 0);
        EXPECT_TRUE(MaskLayerInUse());
        draw();
        const std::vector<std::uint8_t> masked = Snapshot();
        const MEMIMG& s = GraphicsSystemState.ScreenImage;
        const int bpp = s.Shared->Format->BitsPerPixel / 8;
        int wrong = 0, changed = 0;
        for (int y = 0; y < s.Height; ++y)
            for (int x = 0; x < s.Width; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * s.Shared->Pitch + x * bpp;
                const auto& want = LayerByte(x, y) == 0 ? plain : before;
                if (std::memcmp(&masked[i], &want[i], bpp) != 0 && ++wrong <= 3)
                    ADD_FAILURE() << "pixel " << x << "," << y;
                if (std::memcmp(&masked[i], &before[i], bpp) != 0) ++changed;
            }
        EXPECT_EQ(wrong, 0);
        return changed;
    }
};

class MaskDepthTest : public MaskTest, public ::testing::WithParamInterface<int> {};

TEST_P(MaskDepthTest, AFilledLayerBlocksEverythingAndAnEmptyOneNothing) {
    StartSoftware(GetParam());
    ASSERT_EQ(CreateMaskLayer(), 0);
    EXPECT_TRUE(MaskLayerInUse());
    EXPECT_EQ(GraphicsSystemState.SoftwareDrawDestination, &MaskLayerState.WorkImage);
    ASSERT_EQ(FillMaskLayer(1), 0);
    EXPECT_EQ(ExpectMaskedEqualsCombined([] { Box(RECT{0, 0, 640, 480}, 200, 40, 90); }), 0);
    ASSERT_EQ(FillMaskLayer(0), 0);
    EXPECT_EQ(ExpectMaskedEqualsCombined([] {
                  Box(RECT{0, 0, 640, 480}, 10, 240, 30);
              }),
              640 * 480);
}

TEST_P(MaskDepthTest, OrOfAHalfOpaqueMaskBlocksExactlyThatHalf) {
    StartSoftware(GetParam());
    ASSERT_EQ(CreateMaskLayer(), 0);
    HandleValue mask = MakeMask("half.png", 64, 32, [](int x, int) { return x < 32 ? 0xFF : 0; });
    ASSERT_GE(mask, 0);
    int w = 0, h = 0;
    EXPECT_EQ(GetMaskSize(&w, &h, mask), 0);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 32);
    ASSERT_EQ(FillMaskLayer(0), 0);
    ASSERT_EQ(DrawMask(100, 50, mask, DX_MASKDRAW_OR), 0);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            bool blocked = x >= 100 && x < 132 && y >= 50 && y < 82;
            ASSERT_EQ(LayerByte(x, y), blocked ? 0xFF : 0) << x << "," << y;
        }
    EXPECT_EQ(ExpectMaskedEqualsCombined([] {
                  Box(RECT{0, 0, 640, 480}, 90, 90, 250);
              }),
              640 * 480 - 32 * 32);
}

// Every drawing primitive of the front end goes through the bracket: under a striped layer each
// one reaches the screen exactly where the stripes let it through.
TEST_P(MaskDepthTest, EveryPrimitiveIsMaskedPixelForPixel) {
    StartSoftware(GetParam());
    ASSERT_EQ(CreateMaskLayer(), 0);
    ASSERT_EQ(FillMaskLayer(0), 0);
    HandleValue stripes =
        MakeMask("stripes.png", 640, 480, [](int x, int y) { return (x + y) % 5 < 2 ? 0xFF : 0; });
    ASSERT_GE(stripes, 0);
    ASSERT_EQ(DrawMask(0, 0, stripes, DX_MASKDRAW_COPY), 0);
    HandleValue graph = CreateDrawableGraph(64, 48, 0);
    ASSERT_GE(graph, 0);
    ASSERT_EQ(FillGraphRect(graph, 0, 0, 64, 48, 40, 200, 120, 255), 0);
    ASSERT_EQ(FillGraphRect(graph, 8, 8, 20, 20, 250, 30, 60, 255), 0);
    const std::uint32_t colour = 0x00C08040;
    const std::vector<std::pair<const char*, std::function<void()>>> primitives = {
        {"PutGraph", [&] { PutGraph(30, 40, graph, 0); }},
        {"PutGraphStretched", [&] { PutGraphStretched(100, 50, 260, 170, graph, 0); }},
        {"PutGraphReversed", [&] { PutGraphReversed(300, 60, graph, 0, 1, 0); }},
        {"PutGraphSubRect", [&] { PutGraphSubRect(400, 30, 4, 4, 40, 30, graph, 0, 0, 0); }},
        {"PutGraphRotatedF", [&] { PutGraphRotatedF(200, 300, 1.5, 0.7, graph, 0, 0, 0); }},
        {"PutGraphRotated3",
         [&] { PutGraphRotated3(450, 300, 32, 24, 2.0, 1.0, 1.1, graph, 0, 0, 0); }},
        {"PutGraphOnQuadF",
         [&] { PutGraphOnQuadF(500, 100, 620, 120, 480, 220, 630, 260, graph, 0); }},
        {"PutGraphTiled", [&] { PutGraphTiled(0, 380, 640, 480, 3, 5, 1.0, 0.2, graph, 0); }},
        {"PaintFilledBox", [&] { PaintFilledBox(10, 200, 90, 260, colour); }},
        {"PaintBoxOutline", [&] { PaintBoxOutline(12, 270, 92, 330, colour); }},
        {"PaintLine", [&] { PaintLine(5, 5, 630, 470, colour, 1); }},
        {"PaintThickLine", [&] { PaintThickLine(600, 10, 20, 460, colour, 7); }},
        {"PaintCircle", [&] { PaintCircle(320, 240, 60, colour, 1, 1); }},
        {"PaintThickCircle", [&] { PaintCircle(320, 240, 90, colour, 0, 6); }},
        {"PaintOval", [&] { PaintOval(150, 400, 70, 30, colour, 0, 4); }},
        {"PaintTriangle", [&] { PaintTriangle(500, 300, 620, 470, 380, 440, colour, 1); }},
    };
    for (const auto& [name, draw] : primitives) {
        SCOPED_TRACE(name);
        EXPECT_GT(ExpectMaskedEqualsCombined(draw), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, MaskDepthTest, ::testing::Values(16, 32));

TEST_F(MaskTest, AndWithAZeroMaskClearsTheLayerUnderItAndCopyTakesTheClippedOffset) {
    StartSoftware(32);
    ASSERT_EQ(CreateMaskLayer(), 0);
    HandleValue zero = MakeMask("zero.png", 20, 10, [](int, int) { return 0; });
    HandleValue ramp = MakeMask("ramp.png", 40, 30, [](int x, int y) { return 1 + x + y * 40; });
    ASSERT_GE(zero, 0);
    ASSERT_GE(ramp, 0);
    ASSERT_EQ(FillMaskLayer(1), 0);
    ASSERT_EQ(DrawMask(5, 7, zero, DX_MASKDRAW_AND), 0);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            bool under = x >= 5 && x < 25 && y >= 7 && y < 17;
            ASSERT_EQ(LayerByte(x, y), under ? 0 : 0xFF);
        }
    // A mask cut by the draw area is taken from the matching offset inside it.
    ASSERT_EQ(SetDrawClipRect(RECT{100, 100, 200, 200}), 0);
    ASSERT_EQ(FillMaskLayer(0), 0);
    ASSERT_EQ(DrawMask(90, 95, ramp, DX_MASKDRAW_COPY), 0);
    EXPECT_EQ(LayerByte(100, 100), (1 + 10 + 5 * 40) & 0xFF);
    EXPECT_EQ(LayerByte(129, 124), (1 + 39 + 29 * 40) & 0xFF);
    EXPECT_EQ(LayerByte(99, 100), 0);
    EXPECT_EQ(LayerByte(100, 99), 0);
    // An unknown mode changes nothing; a bad handle is refused.
    ASSERT_EQ(DrawMask(100, 100, zero, 7), 0);
    EXPECT_EQ(LayerByte(100, 100), (1 + 10 + 5 * 40) & 0xFF);
    EXPECT_EQ(DrawMask(0, 0, zero + 1, DX_MASKDRAW_OR), -1);
    EXPECT_EQ(DeleteLibraryHandle(zero), 0);
    EXPECT_EQ(DrawMask(0, 0, zero, DX_MASKDRAW_OR), -1);
    EXPECT_EQ(GetMaskSize(nullptr, nullptr, zero), -1);
}

TEST_F(MaskTest, TheLayerOnlyGrowsAndKeepsItsContent) {
    StartSoftware(32);
    ASSERT_EQ(CreateMaskLayer(), 0);
    std::uint8_t* bytes = MaskLayerState.Bytes;
    MaskLayerState.Bytes[3 * MaskLayerState.Pitch + 4] = 0x77;
    ASSERT_EQ(CreateMaskLayer(), 0);
    EXPECT_EQ(MaskLayerState.Bytes, bytes);
    EXPECT_EQ(LayerByte(4, 3), 0x77);
    // A larger draw target grows the layer: the old content top-left, zeros beyond.
    HandleValue big = CreateDrawableGraph(800, 600, 0);
    ASSERT_GE(big, 0);
    MaskLayerState.Bytes[479 * MaskLayerState.Pitch + 639] = 0x55;
    ASSERT_EQ(SetDrawTarget(big), 0);
    EXPECT_EQ(MaskLayerState.Width, 800);
    EXPECT_EQ(MaskLayerState.Height, 600);
    EXPECT_EQ(MaskLayerState.Pitch, 800);
    EXPECT_EQ(LayerByte(4, 3), 0x77);
    EXPECT_EQ(LayerByte(639, 479), 0x55);
    EXPECT_EQ(LayerByte(640, 479), 0);
    EXPECT_EQ(LayerByte(639, 480), 0);
    EXPECT_EQ(LayerByte(799, 599), 0);
    EXPECT_TRUE(MaskLayerInUse());
    EXPECT_EQ(GraphicsSystemState.SoftwareDrawDestination, &MaskLayerState.WorkImage);
    EXPECT_EQ(MaskLayerState.WorkImage.Width, 800);
    // Back to the smaller screen keeps the larger layer.
    ASSERT_EQ(SetDrawTarget(DX_TARGET_BACK_SCREEN), 0);
    EXPECT_EQ(MaskLayerState.Width, 800);
    EXPECT_EQ(MaskLayerState.Height, 600);
}

TEST_F(MaskTest, DrawingIntoAGraphIsMaskedToo) {
    StartSoftware(16);
    HandleValue target = CreateDrawableGraph(100, 80, 0);
    ASSERT_GE(target, 0);
    ASSERT_EQ(CreateMaskLayer(), 0);
    ASSERT_EQ(SetDrawTarget(target), 0);
    ASSERT_EQ(FillMaskLayer(0), 0);
    HandleValue stripes =
        MakeMask("stripes.png", 100, 80, [](int x, int) { return x % 3 ? 0 : 9; });
    ASSERT_EQ(DrawMask(0, 0, stripes, DX_MASKDRAW_COPY), 0);
    MEMIMG* view = GetGraphMemImg(target);
    ASSERT_NE(view, nullptr);
    FillMemImgRect(view, nullptr, 0);
    Box(RECT{-10, -10, 200, 200}, 255, 255, 255);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(MemImgPixel(*view, x, y), x % 3 ? 0xF8FCF8u : 0u) << x << "," << y;
}

TEST_F(MaskTest, NestedBracketsComposeOnceAndAnEmptyRectangleClosesItsLevel) {
    StartSoftware(32);
    ASSERT_EQ(CreateMaskLayer(), 0);
    ASSERT_EQ(FillMaskLayer(0), 0);
    const RECT r{10, 10, 50, 50};
    MEMIMG* work = &MaskLayerState.WorkImage;
    BeginMaskedDraw(r);
    BeginMaskedDraw(r);
    EXPECT_EQ(MaskLayerState.Nesting, 2);
    FillMemImgBox(work, &r, ComposeFormatColor(work->Shared->Format, 255, 0, 0, 255));
    EndMaskedDraw(r);
    EXPECT_EQ(MemImgPixel(GraphicsSystemState.ScreenImage, 20, 20), 0u);
    EndMaskedDraw(r);
    EXPECT_EQ(MaskLayerState.Nesting, 0);
    EXPECT_EQ(MemImgPixel(GraphicsSystemState.ScreenImage, 20, 20), 0xFF0000u);
    // An empty rectangle changes nothing but still closes the level.
    BeginMaskedDraw(r);
    FillMemImgBox(work, &r, ComposeFormatColor(work->Shared->Format, 0, 255, 0, 255));
    EndMaskedDraw(RECT{30, 30, 30, 60});
    EXPECT_EQ(MaskLayerState.Nesting, 0);
    EXPECT_EQ(MemImgPixel(GraphicsSystemState.ScreenImage, 20, 20), 0xFF0000u);
    // An extra close does not drive the count below zero.
    EndMaskedDraw(r);
    EXPECT_EQ(MaskLayerState.Nesting, 0);
}

TEST_F(MaskTest, ADeferredCloseComposesAtTheNextClipChange) {
    StartSoftware(32);
    ASSERT_EQ(CreateMaskLayer(), 0);
    ASSERT_EQ(FillMaskLayer(0), 0);
    BeginMaskedDraw(GraphicsSystemState.DrawSettings.DrawArea);
    GraphicsSystemState.DrawSettings.MaskedDrawPending = 1;
    MEMIMG* work = &MaskLayerState.WorkImage;
    FillMemImgBox(work, nullptr, ComposeFormatColor(work->Shared->Format, 0, 0, 255, 255));
    EXPECT_EQ(MemImgPixel(GraphicsSystemState.ScreenImage, 5, 5), 0u);
    ASSERT_EQ(SetDrawClipRect(RECT{0, 0, 320, 240}), 0);
    EXPECT_EQ(GraphicsSystemState.DrawSettings.MaskedDrawPending, 0);
    EXPECT_EQ(MaskLayerState.Nesting, 0);
    EXPECT_EQ(MemImgPixel(GraphicsSystemState.ScreenImage, 600, 400), 0x0000FFu);
}

TEST_F(MaskTest, TheLayerComesBackZeroedAfterADeviceRebuild) {
    StartSoftware(32);
    ASSERT_EQ(CreateMaskLayer(), 0);
    ASSERT_EQ(FillMaskLayer(1), 0);
    ASSERT_EQ(ReleaseMaskLayerBuffers(), 0);
    EXPECT_EQ(MaskLayerState.Bytes, nullptr);
    EXPECT_FALSE(MaskLayerInUse());
    EXPECT_EQ(GraphicsSystemState.SoftwareDrawDestination, &GraphicsSystemState.ScreenImage);
    EXPECT_EQ(SetMaskLayerActive(1), -1);
    EXPECT_EQ(FillMaskLayer(1), -1);
    ASSERT_EQ(RecreateMaskLayer(), 0);
    ASSERT_NE(MaskLayerState.Bytes, nullptr);
    EXPECT_EQ(MaskLayerState.Width, 640);
    EXPECT_EQ(MaskLayerState.Height, 480);
    for (int i = 0; i < MaskLayerState.Pitch * MaskLayerState.Height; ++i)
        ASSERT_EQ(MaskLayerState.Bytes[i], 0);
    EXPECT_TRUE(MaskLayerInUse());
    // With use switched off before the rebuild it stays off.
    ASSERT_EQ(SetMaskLayerActive(0), 0);
    ReleaseMaskLayerBuffers();
    RecreateMaskLayer();
    EXPECT_FALSE(MaskLayerInUse());
    EXPECT_EQ(GetMaskLayerActive(), 0);
}

TEST_F(MaskTest, CreateReportsAFailedAllocationAndDeleteSwitchesMaskingOff) {
    StartSoftware(32);
    // A screen beyond what one allocation may take leaves no layer: that is not a success.
    ScreenModeSettingsData saved = GraphicsSystemState.ScreenModeSettings;
    GraphicsSystemState.ScreenModeSettings.Width = 60000;
    GraphicsSystemState.ScreenModeSettings.Height = 60000;
    EXPECT_EQ(CreateMaskLayer(), -1);
    GraphicsSystemState.ScreenModeSettings = saved;
    EXPECT_EQ(MaskLayerState.Bytes, nullptr);
    EXPECT_FALSE(MaskLayerInUse());
    ASSERT_EQ(CreateMaskLayer(), 0);
    ASSERT_EQ(DeleteMaskLayer(), 0);
    EXPECT_FALSE(MaskLayerInUse());
    EXPECT_EQ(MaskLayerState.Bytes, nullptr);
    EXPECT_EQ(GraphicsSystemState.SoftwareDrawDestination, &GraphicsSystemState.ScreenImage);
    // Drawing a mask without a layer changes nothing and succeeds.
    HandleValue mask = MakeMask("m.png", 4, 4, [](int, int) { return 1; });
    EXPECT_EQ(DrawMask(0, 0, mask, DX_MASKDRAW_OR), 0);
}

TEST_F(MaskTest, DamagedOrMissingMaskFilesLeaveNoHandle) {
    StartSoftware(32);
    const int before = HandleTypeTable[DX_HANDLETYPE_GMASK].count;
    EXPECT_EQ(LoadMask("missing.png"), -1);
    velk_test::WriteBytes(Path("junk.png"), {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0});
    EXPECT_EQ(LoadMask("junk.png"), -1);
    EnableASyncLoad(1);
    HandleValue pending = LoadMask("junk.png");
    if (pending >= 0) EXPECT_EQ(GetMaskSize(nullptr, nullptr, pending), -1);
    EnableASyncLoad(0);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_GMASK].count, before);
}

TEST_F(MaskTest, AnAsynchronousLoadIsFinishedByTheFirstUse) {
    StartSoftware(32);
    BASEIMAGE image{};
    ASSERT_EQ(NewBaseImageXrgb8(30, 20, &image), 0);
    FillBaseImage(&image, 1, 2, 0xAB, 255);
    std::u16string path = Wide(Path("async.png"));
    ASSERT_EQ(WriteBaseImagePngFile(path.c_str(), &image, 1), 0);
    DisposeBaseImage(&image);
    EnableASyncLoad(1);
    HandleValue mask = LoadMask("async.png");
    EnableASyncLoad(0);
    ASSERT_GE(mask, 0);
    int w = 0, h = 0;
    EXPECT_EQ(GetMaskSize(&w, &h, mask), 0);
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 20);
    auto* r = LookUpMaskRecord(mask, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Bytes[19 * r->Pitch + 29], 0xAB);
    EXPECT_EQ(DeleteAllMasks(), 0);
    EXPECT_EQ(GetMaskSize(&w, &h, mask), -1);
}

TEST_F(MaskTest, EveryOperationRefusesBeforeTheModuleStarts) {
    EXPECT_EQ(CreateMaskLayer(), -1);
    EXPECT_EQ(FillMaskLayer(0), -1);
    EXPECT_EQ(SetMaskLayerActive(1), -1);
    EXPECT_EQ(LoadMaskWide(u"x.png", 0), -1);
    EXPECT_EQ(DrawMask(0, 0, 0, 0), -1);
    EXPECT_FALSE(MaskLayerInUse());
}

TEST_F(MaskTest, TheDevicePathGoesThroughTheMaskDispatchers) {
    StartDevice(4096, false);
    RecordingBackend& b = RecordingBackend::Instance();
    b.calls.clear();
    ASSERT_EQ(CreateMaskLayer(), 0);
    ASSERT_EQ(b.Named("Mask_CreateTextures").size(), 1u);
    EXPECT_EQ(b.Named("Mask_CreateTextures")[0].args, (std::vector<std::string>{"640", "480"}));
    EXPECT_FALSE(b.Named("Mask_ApplyUse").empty());
    EXPECT_TRUE(MaskLayerInUse());
    ASSERT_EQ(FillMaskLayer(1), 0);
    ASSERT_EQ(b.Named("Mask_Fill").size(), 1u);
    EXPECT_EQ(b.Named("Mask_Fill")[0].args[0], "1");
    HandleValue mask = MakeMask("d.png", 50, 50, [](int, int) { return 3; });
    ASSERT_EQ(DrawMask(620, -10, mask, DX_MASKDRAW_OR), 0);
    ASSERT_EQ(b.Named("Mask_UploadMaskBytes").size(), 1u);
    EXPECT_EQ(b.Named("Mask_UploadMaskBytes")[0].args[0], "r620,0,640,40");
    BeginMaskedDraw(RECT{-5, 10, 20, 700});
    EndMaskedDraw(RECT{-5, 10, 20, 700});
    ASSERT_EQ(b.Named("Mask_BeginMaskedDraw").size(), 1u);
    EXPECT_EQ(b.Named("Mask_BeginMaskedDraw")[0].args[0], "r0,10,20,480");
    ASSERT_EQ(b.Named("Mask_EndMaskedDraw").size(), 1u);
    EXPECT_EQ(b.Named("Mask_EndMaskedDraw")[0].args[0], "r0,10,20,480");
    // A larger target sets the device objects aside, makes them anew and copies the old ones.
    HandleValue big = CreateDrawableGraph(1000, 500, 0);
    ASSERT_GE(big, 0);
    b.calls.clear();
    ASSERT_EQ(SetDrawTarget(big), 0);
    EXPECT_EQ(b.Named("Mask_DetachTextures").size(), 1u);
    ASSERT_EQ(b.Named("Mask_FinishCreate").size(), 1u);
    EXPECT_EQ(b.Named("Mask_FinishCreate")[0].args, (std::vector<std::string>{"640", "480"}));
    ASSERT_EQ(DeleteMaskLayer(), 0);
    EXPECT_FALSE(b.Named("Mask_ReleaseTextures").empty());
}

}  // namespace
