// Reading back the draw target: the lock and its rectangle rules, copies into graphs and soft
// images, single pixels, the texture format table, and screenshots in the four file types checked
// with Pillow.
#include "GraphTestSupport.h"

using namespace velk_graph_test;
using ZiDaz::testing::RecordingBackend;

namespace {

class CaptureTest : public GraphFixture {
  protected:
    // Paints a pattern straight into the software screen; returns it as RGB rows, as the screen
    // holds it (16-bit screens keep the top bits of each channel).
    std::vector<std::uint8_t> PaintScreen() {
        MEMIMG& s = GraphicsSystemState.ScreenImage;
        std::vector<std::uint8_t> rgb;
        for (int y = 0; y < s.Height; ++y)
            for (int x = 0; x < s.Width; ++x) {
                int r = (x * 3 + y) & 0xFF, g = (y * 5 + x / 7) & 0xFF, b = (x ^ y) & 0xFF;
                std::uint32_t v = ComposeFormatColor(s.Shared->Format, r, g, b, 255);
                std::uint8_t* p = s.Pixels + y * s.Shared->Pitch;
                if (s.Shared->Format->BitsPerPixel == 16) {
                    std::memcpy(p + x * 2, &v, 2);
                } else {
                    std::memcpy(p + x * 4, &v, 4);
                }
                std::uint32_t held = MemImgPixel(s, x, y);
                rgb.push_back(static_cast<std::uint8_t>(held >> 16));
                rgb.push_back(static_cast<std::uint8_t>(held >> 8));
                rgb.push_back(static_cast<std::uint8_t>(held));
            }
        return rgb;
    }
};

TEST_F(CaptureTest, RectanglesMustLieInsideTheDrawTarget) {
    StartSoftware(32);
    PaintScreen();
    BASEIMAGE view{};
    BASEIMAGE dest{};
    ASSERT_EQ(NewBaseImageXrgb8(64, 64, &dest), 0);
    HandleValue graph = CreateDrawableGraph(40, 10, 0);
    ASSERT_GE(graph, 0);
    // x1 = x2 is refused by every rectangle operation.
    EXPECT_EQ(LockDrawTargetRect(5, 0, 5, 10, &view, -1, -1, -1, 1, 0), -1);
    EXPECT_EQ(GetDrawTargetBaseImage(5, 0, 5, 10, &dest), -1);
    EXPECT_EQ(CopyGraphRectToGraph(-2, 0, 0, 5, 0, 5, 10, 0, 0, graph), -1);
    EXPECT_EQ(SaveDrawTargetRectToFile(5, 0, 5, 10, "a.png", DX_IMAGESAVE_PNG, 80, 1, 6), -1);
    EXPECT_EQ(SaveGraphRectToFile(graph, 5, 0, 5, 10, "b.png", DX_IMAGESAVE_PNG, 80, 1, 6), -1);
    EXPECT_FALSE(std::filesystem::exists(Path("a.png")));
    EXPECT_FALSE(std::filesystem::exists(Path("b.png")));
    // Up to exactly the right and bottom edges is accepted, one pixel more is not.
    ASSERT_EQ(LockDrawTargetRect(600, 470, 640, 480, &view, -1, -1, -1, 1, 0), 0);
    EXPECT_EQ(GraphicsSystemState.DrawTargetLocked, 1);
    EXPECT_EQ(view.Width, 40);
    EXPECT_EQ(view.Height, 10);
    EXPECT_EQ(view.Pitch, GraphicsSystemState.ScreenImage.Shared->Pitch);
    std::uint32_t first;
    std::memcpy(&first, view.Pixels, 4);
    EXPECT_EQ(first & 0xFFFFFF, MemImgPixel(GraphicsSystemState.ScreenImage, 600, 470));
    EXPECT_EQ(UnlockDrawTarget(), 0);
    EXPECT_EQ(GraphicsSystemState.DrawTargetLocked, 0);
    EXPECT_EQ(LockDrawTargetRect(600, 470, 641, 480, &view, -1, -1, -1, 1, 0), -1);
    EXPECT_EQ(LockDrawTargetRect(600, 470, 640, 481, &view, -1, -1, -1, 1, 0), -1);
    EXPECT_EQ(GetDrawTargetBaseImage(600, 0, 641, 10, &dest), -1);
    EXPECT_EQ(GetDrawTargetBaseImage(576, 0, 640, 64, &dest), 0);
    // The destination must hold the rectangle at its offset.
    EXPECT_EQ(GetDrawTargetBaseImageAt(576, 0, 640, 64, &dest, 1, 0), -1);
    DisposeBaseImage(&dest);
}

TEST_F(CaptureTest, CopiesIntoGraphsNeedTheExactSizeAndTakeTheScreenForNonGraphs) {
    StartSoftware(32);
    PaintScreen();
    HandleValue wide = CreateDrawableGraph(41, 10, 0);
    HandleValue exact = CreateDrawableGraph(40, 10, 0);
    ASSERT_GE(wide, 0);
    ASSERT_GE(exact, 0);
    WipeGraphImage(wide);
    const std::uint32_t wiped = MemImgPixel(*GetGraphMemImg(wide), 0, 0);
    EXPECT_EQ(CopyDrawTargetToGraph(100, 200, 140, 210, wide), -1);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(wide), 0, 0), wiped);
    ASSERT_EQ(CopyDrawTargetToGraph(100, 200, 140, 210, exact), 0);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(MemImgPixel(*GetGraphMemImg(exact), x, y),
                      MemImgPixel(GraphicsSystemState.ScreenImage, 100 + x, 200 + y));
    // Any source value that is not a graph is the screen.
    ASSERT_EQ(CopyGraphRectToGraph(12345, 0, 0, 10, 20, 30, 25, 1, 2, wide), 0);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(wide), 1, 2),
              MemImgPixel(GraphicsSystemState.ScreenImage, 10, 20));
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(wide), 20, 6),
              MemImgPixel(GraphicsSystemState.ScreenImage, 29, 24));
    // Graph to graph.
    ASSERT_EQ(CopyGraphRectToGraph(exact, 0, 0, 0, 0, 40, 10, 1, 0, wide), 0);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(wide), 40, 9),
              MemImgPixel(*GetGraphMemImg(exact), 39, 9));
    EXPECT_EQ(CopyGraphRectToGraph(exact, 0, 0, 0, 0, 40, 10, 2, 0, wide), -1);
    EXPECT_EQ(CopyGraphRectToGraph(exact, 0, 0, 0, 0, 40, 10, 0, 0, -2), -1);
}

TEST_F(CaptureTest, PixelsAreReadAsStoredInsideTheTargetOnly) {
    for (int bits : {16, 32}) {
        StartSoftware(bits);
        PaintScreen();
        const MEMIMG& s = GraphicsSystemState.ScreenImage;
        std::uint32_t stored = 0;
        std::memcpy(&stored, s.Pixels + 7 * s.Shared->Pitch + 5 * (bits / 8), bits / 8);
        EXPECT_EQ(static_cast<std::uint32_t>(GetDrawTargetPixel(5, 7)), stored);
        EXPECT_EQ(GetDrawTargetPixel(640, 0), -1);
        EXPECT_EQ(GetDrawTargetPixel(0, 480), -1);
        EXPECT_EQ(GetDrawTargetPixel(-1, 0), -1);
        EndLibrary();
    }
}

TEST_F(CaptureTest, TheTextureFormatTable) {
    EXPECT_EQ(GetTextureColorFormatByIndex(49), nullptr);
    EXPECT_EQ(GetTextureColorFormatByIndex(-1), nullptr);
    const COLORFORMAT* zero = GetTextureColorFormatByIndex(0);
    ASSERT_NE(zero, nullptr);
    COLORFORMAT empty{};
    EXPECT_EQ(std::memcmp(zero, &empty, sizeof(empty)), 0);
    const COLORFORMAT* argb = GetTextureColorFormatByIndex(9);
    EXPECT_EQ(argb->BitsPerPixel, 32);
    EXPECT_EQ(argb->AlphaMask, 0xFF000000u);
    const COLORFORMAT* a1 = GetTextureColorFormatByIndex(10);
    EXPECT_EQ(a1->AlphaMask, 0x8000u);
    EXPECT_EQ(a1->RedMask, 0x7C00u);
    EXPECT_EQ(GetTextureColorFormatByIndex(12)->FormatKind, 1);
    EXPECT_EQ(GetTextureColorFormatByIndex(12)->BitsPerPixel, 4);
    EXPECT_EQ(GetTextureColorFormatByIndex(22)->FormatKind, 11);
    EXPECT_EQ(GetTextureColorFormatByIndex(22)->BitsPerPixel, 8);
    EXPECT_EQ(GetTextureColorFormatByIndex(30)->ChannelCount, 1);
    EXPECT_EQ(GetTextureColorFormatByIndex(30)->FloatFlag, 1);
    EXPECT_EQ(GetTextureColorFormatByIndex(48)->ChannelCount, 2);
    EXPECT_EQ(GetTextureColorFormatByIndex(48)->BitsPerChannel, 32);
    const COLORFORMAT* plain = GetTextureColorFormat(0, 0, 1, 0);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->BitsPerPixel, 32);
    EXPECT_EQ(plain->AlphaMask, 0u);
    const COLORFORMAT* alpha16 = GetTextureColorFormat(1, 0, 0, 0);
    ASSERT_NE(alpha16, nullptr);
    EXPECT_EQ(alpha16->BitsPerPixel, 16);
    EXPECT_NE(alpha16->AlphaMask, 0u);
}

TEST_F(CaptureTest, ScreenshotsInTheFourTypesDecodeToTheFrame) {
    StartSoftware(32);
    const std::vector<std::uint8_t> frame = PaintScreen();
    const char* names[] = {"shot.bmp", "shot.jpg", "shot.png", "shot.dds"};
    for (int type = 0; type < 4; ++type)
        ASSERT_EQ(SaveDrawTargetRectToFile(0, 0, 640, 480, Path(names[type]).string().c_str(), type,
                                           90, 1, 6),
                  0)
            << type;
    auto decoded = velk_test::PillowDecode({Path("shot.bmp"), Path("shot.png"), Path("shot.jpg")});
    EXPECT_EQ(decoded[0], frame);
    EXPECT_EQ(decoded[1], frame);
    // This Pillow reads every uncompressed RGB DDS as 24 bits per pixel; ImageMagick decodes it.
    EXPECT_EQ(ImageMagickRgb(Path("shot.dds")), frame);
    // The JPEG file decodes to what Pillow's own JPEG of the frame at the same quality does.
    ExpectLikePillowJpeg(decoded[2], frame, 640, 480, 90, Path("pillow"));
}

TEST_F(CaptureTest, ASixteenBitScreenAndAGraphRectangleSaveAsPng) {
    StartSoftware(16);
    const std::vector<std::uint8_t> frame = PaintScreen();
    ASSERT_EQ(SaveDrawTargetRectToFile(0, 0, 640, 480, Path("s16.png").string().c_str(),
                                       DX_IMAGESAVE_PNG, 80, 1, 6),
              0);
    HandleValue graph = CreateDrawableGraph(30, 20, 0);
    ASSERT_GE(graph, 0);
    ASSERT_EQ(CopyDrawTargetToGraph(50, 60, 80, 80, graph), 0);
    ASSERT_EQ(SaveGraphRectAsPng(graph, 10, 5, 30, 20, Path("g.png").string().c_str(), 6), 0);
    auto decoded = velk_test::PillowDecode({Path("s16.png"), Path("g.png")});
    ASSERT_EQ(decoded[0].size(), frame.size());
    int bad = 0;
    for (std::size_t i = 0; i < frame.size(); ++i)
        if (decoded[0][i] < frame[i] || decoded[0][i] - frame[i] > 7) ++bad;
    EXPECT_EQ(bad, 0);
    ASSERT_EQ(decoded[1].size(), 20u * 15 * 3);
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 20; ++x)
            for (int c = 0; c < 3; ++c) {
                std::size_t i = (static_cast<std::size_t>(y + 65) * 640 + x + 60) * 3 + c;
                ASSERT_EQ(decoded[1][(y * 20 + x) * 3 + c], decoded[0][i]);
            }
}

TEST_F(CaptureTest, AFailedWriteOrAnUnknownTypeIsNoSavedScreenshot) {
    StartSoftware(32);
    PaintScreen();
    const std::string missing = Path("no/such/folder/shot.png").string();
    for (int type = 0; type < 4; ++type)
        EXPECT_EQ(SaveDrawTargetRectToFile(0, 0, 64, 64, missing.c_str(), type, 80, 1, 6), -1);
    EXPECT_EQ(SaveDrawTargetRectAsJpeg(0, 0, 64, 64, missing.c_str(), 80, 1), -1);
    HandleValue graph = CreateDrawableGraph(8, 8, 0);
    EXPECT_EQ(SaveGraphRectAsPng(graph, 0, 0, 8, 8, missing.c_str(), 6), -1);
    EXPECT_EQ(SaveDrawTargetRectToFile(0, 0, 64, 64, Path("odd.png").string().c_str(), 4, 80, 1, 6),
              -1);
    EXPECT_FALSE(std::filesystem::exists(Path("odd.png")));
    EXPECT_EQ(GraphicsSystemState.DrawTargetLocked, 0);
}

TEST_F(CaptureTest, SoftImagesTakePicturesOfTheScreen) {
    StartSoftware(32);
    PaintScreen();
    HandleValue soft = MakeXrgb8SoftImage(100, 50);
    ASSERT_GE(soft, 0);
    EXPECT_EQ(GetDrawScreenSoftImage(10, 20, 110, 70, soft), 0);
    SoftImageRecord* r = LookUpSoftImageRecord(soft);
    ASSERT_NE(r, nullptr);
    for (int y = 0; y < 50; y += 7)
        for (int x = 0; x < 100; x += 9) {
            std::uint32_t p;
            std::memcpy(
                &p, static_cast<std::uint8_t*>(r->Image.Pixels) + y * r->Image.Pitch + x * 4, 4);
            ASSERT_EQ(p & 0xFFFFFF, MemImgPixel(GraphicsSystemState.ScreenImage, 10 + x, 20 + y));
        }
    // Too large for the soft image, or a handle that is none.
    EXPECT_EQ(GetDrawScreenSoftImage(0, 0, 101, 50, soft), -1);
    EXPECT_EQ(GetDrawScreenSoftImage(0, 0, 10, 10, soft + 1), -1);
    HandleValue graph = CreateGraphFromSoftImage(soft);
    ASSERT_GE(graph, 0);
    int w = 0, h = 0;
    GetGraphSize(graph, &w, &h);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 50);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(graph), 3, 4),
              MemImgPixel(GraphicsSystemState.ScreenImage, 13, 24));
    EXPECT_EQ(DeleteSoftImage(soft), 0);
    EXPECT_EQ(DeleteSoftImage(soft), -1);
    EXPECT_EQ(CreateGraphFromSoftImage(soft), -1);
    HandleValue a = MakeXrgb8SoftImage(4, 4), b = MakeXrgb8SoftImage(4, 4);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(DeleteAllSoftImages(), 0);
    EXPECT_EQ(LookUpSoftImageRecord(a), nullptr);
    EXPECT_EQ(MakeXrgb8SoftImage(-1, 4), -1);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_SOFTIMAGE].count, 0);
}

TEST_F(CaptureTest, TheDevicePathLocksCopiesAndReadsThroughTheBackEnd) {
    StartDevice(4096, false);
    RecordingBackend& b = RecordingBackend::Instance();
    HandleValue source = CreateDrawableGraph(64, 64, 0);
    HandleValue dest = CreateDrawableGraph(64, 64, 0);
    ASSERT_GE(source, 0);
    ASSERT_GE(dest, 0);
    b.calls.clear();
    ASSERT_EQ(CopyGraphRectToGraph(source, 0, 0, 0, 0, 32, 32, 8, 8, dest), 0);
    ASSERT_EQ(b.Named("CopyGraphRect").size(), 1u);
    EXPECT_EQ(b.Named("CopyGraphRect")[0].args[5], "64");
    GetDrawTargetPixel(3, 4);
    ASSERT_EQ(b.Named("ReadPixelColor").size(), 1u);
    EXPECT_EQ(GetDrawTargetPixel(640, 0), -1);
    EXPECT_EQ(b.Named("ReadPixelColor").size(), 1u);
    BASEIMAGE view{};
    ASSERT_EQ(LockDrawTargetRect(0, 0, 16, 16, &view, dest, -1, -1, 1, 0), 0);
    EXPECT_EQ(b.Named("LockDrawTarget").size(), 1u);
    UnlockDrawTarget();
    UnlockDrawTarget();
    EXPECT_EQ(b.Named("UnlockDrawTarget").size(), 1u);
    b.results = -1;
    EXPECT_EQ(LockDrawTargetRect(0, 0, 16, 16, &view, dest, -1, -1, 1, 0), -1);
    EXPECT_EQ(GraphicsSystemState.DrawTargetLocked, 0);
    b.results = 0;
}

TEST_F(CaptureTest, TheTransparentColourReadsBackAsSet) {
    StartSoftware(32);
    ASSERT_EQ(SetTransparentColor(0x112, 0x34, 0x56), 0);
    int r = 0, g = 0, bl = 0;
    EXPECT_EQ(GetTransparentColor(&r, &g, &bl), 0);
    EXPECT_EQ(r, 0x12);
    EXPECT_EQ(g, 0x34);
    EXPECT_EQ(bl, 0x56);
}

}  // namespace
