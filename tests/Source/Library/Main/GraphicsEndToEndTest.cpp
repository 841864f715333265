// A whole software frame, headless: images written at test time are loaded as graphs and drawn in
// every software blend mode with shapes, masked and unmasked, into the back buffer and into a
// drawable graph put back on it; the presented frame must equal the same scene composed by
// calling the renderer directly, and the screenshots in the four file types must decode to it.
#include <gtest/gtest.h>

#include <functional>

#include "DrawTestSupport.h"
#include "Main/DxGraphicsSoftImage.h"
#include "Main/DxMask.h"
#include "Main/Windows/DxWinAPI.h"

using namespace ZiDaz;
using namespace velk_graph_test;
using namespace velk_draw_test;

namespace {

// The pixels of the last present, taken where the window would receive them.
std::vector<std::uint32_t> presented;
int presentedWidth = 0, presentedHeight = 0;

int CapturePresent(HDC, int, int, DWORD w, DWORD h, int, int, UINT, UINT, const void* bits,
                   const BITMAPINFO* info, UINT) {
    const int rowPixels = info->bmiHeader.biWidth;
    presentedWidth = static_cast<int>(w);
    presentedHeight = static_cast<int>(h);
    presented.clear();
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    for (int y = 0; y < presentedHeight; ++y)
        for (int x = 0; x < presentedWidth; ++x)
            presented.push_back(pixels[static_cast<std::size_t>(y) * rowPixels + x] & 0xFFFFFF);
    return static_cast<int>(h);
}

// The mask layer's bytes: blocking diagonal bands.
int MaskByte(int x, int y) {
    return (x / 3 + y / 2) % 3 == 0 ? 0xFF : 0;
}

class EndToEndTest : public GraphFixture {
  protected:
    void TearDown() override {
        if (savedPresent_ != nullptr) SystemApi.SetDIBitsToDevice = savedPresent_;
        GraphFixture::TearDown();
    }
    FARPROC savedPresent_ = nullptr;
};

constexpr std::uint32_t kColor = 0x00C08040;
const int kModes[] = {0, 1, 2, 3, 4, 10, 11};

TEST_F(EndToEndTest, APresentedFrameEqualsTheDirectSceneAndItsScreenshotsDecodeToIt) {
    StartSoftware(32);
    GraphicsSystemState.FlipWaitVSyncOff = 1;
    EnsureSystemApiTable();
    savedPresent_ = SystemApi.SetDIBitsToDevice;
    SystemApi.SetDIBitsToDevice = reinterpret_cast<FARPROC>(&CapturePresent);

    // The three image files, and the mask.
    ASSERT_TRUE(WritePatternImages({{Path("a.png"), 40, 30, "PNG", false, "RGBA", 1},
                                    {Path("b.jpg"), 40, 30, "JPEG", false, "RGB", 2},
                                    {Path("c.bmp"), 40, 30, "BMP", false, "RGB", 3}}));
    BASEIMAGE maskImage{};
    ASSERT_EQ(NewBaseImageXrgb8(640, 480, &maskImage), 0);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            const std::uint32_t p = 0x123400u | static_cast<std::uint32_t>(MaskByte(x, y));
            std::memcpy(static_cast<std::uint8_t*>(maskImage.Pixels) + y * maskImage.Pitch + x * 4,
                        &p, 4);
        }
    const std::u16string maskPath = Wide(Path("mask.png"));
    ASSERT_EQ(WriteBaseImagePngFile(maskPath.c_str(), &maskImage, 1), 0);
    DisposeBaseImage(&maskImage);
    std::vector<HandleValue> graphs;
    for (const char* name : {"a.png", "b.jpg", "c.bmp"}) {
        graphs.push_back(LoadGraphFromImageFile(Path(name).string().c_str(), 0));
        ASSERT_GE(graphs.back(), 0) << name;
    }
    ASSERT_EQ(CreateMaskLayer(), 0);
    ASSERT_EQ(FillMaskLayer(0), 0);
    const HandleValue mask = LoadMaskWide(maskPath.c_str(), 0);
    ASSERT_GE(mask, 0);
    ASSERT_EQ(DrawMask(0, 0, mask, DX_MASKDRAW_COPY), 0);
    const HandleValue canvas = CreateDrawableGraph(300, 140, 0);
    ASSERT_GE(canvas, 0);
    ASSERT_EQ(FillGraphRect(canvas, 0, 0, 300, 140, 30, 60, 90, 255), 0);

    // Every draw goes through the library and, on a copy of its target, straight to the renderer
    // with the same arguments; a masked draw is kept only where the layer's byte is 0.
    TargetCopy screen(GraphicsSystemState.ScreenImage);
    TargetCopy canvasCopy(*GetGraphMemImg(canvas));
    MEMIMG* expected = &screen.image;
    auto both = [&](bool masked, const std::function<int()>& front,
                    const std::function<void(MEMIMG*)>& direct) {
        ASSERT_EQ(SetMaskLayerActive(masked ? 1 : 0), 0);
        ASSERT_EQ(front(), 0);
        if (!masked) {
            direct(expected);
            return;
        }
        TargetCopy drawn(*expected);
        direct(&drawn.image);
        for (int y = 0; y < expected->Height; ++y)
            for (int x = 0; x < expected->Width; ++x)
                if (MaskByte(x, y) == 0)
                    memimg_test::WriteRaw(*expected, x, y, memimg_test::ReadRaw(drawn.image, x, y));
    };
    auto scene = [&](int left, int top, bool masked) {
        for (int m = 0; m < 7; ++m) {
            ASSERT_EQ(SelectBlendMode(kModes[m], 160), 0);
            const int x = left + m * 40, y = top;
            for (int i = 0; i < 3; ++i) {
                const MEMIMG* source = GetGraphMemImg(graphs[i]);
                both(
                    masked, [&] { return PutGraph(x + i * 6, y + i * 20, graphs[i], 1); },
                    [&](MEMIMG* d) { DrawMemImg(d, source, x + i * 6, y + i * 20, 1, nullptr); });
            }
            both(
                masked, [&] { return PaintRectangle(x + 2, y + 70, x + 30, y + 90, kColor, 1); },
                [&](MEMIMG* d) {
                    const RECT r{x + 2, y + 70, x + 30, y + 90};
                    FillMemImgBox(d, &r, kColor);
                });
            both(
                masked, [&] { return PaintCircle(x + 20, y + 100, 15, kColor, 1, 1); },
                [&](MEMIMG* d) { DrawMemImgCircle(d, x + 20, y + 100, 15, kColor, 1, 0, 0); });
            both(
                masked, [&] { return PaintLine(x, y + 130, x + 38, y + 60, kColor, 1); },
                [&](MEMIMG* d) { DrawMemImgLine(d, x, y + 130, x + 38, y + 60, kColor); });
        }
    };
    ASSERT_EQ(SetDrawTarget(DX_TARGET_BACK_SCREEN), 0);
    scene(10, 5, false);
    scene(330, 5, true);
    ASSERT_EQ(SetDrawTarget(canvas), 0);
    expected = &canvasCopy.image;
    scene(5, 0, false);
    ASSERT_EQ(SetDrawTarget(DX_TARGET_BACK_SCREEN), 0);
    expected = &screen.image;
    ASSERT_EQ(SetMaskLayerActive(0), 0);
    ASSERT_EQ(SelectBlendMode(0, 255), 0);
    const MEMIMG* drawnCanvas = &canvasCopy.image;
    both(
        false, [&] { return PutGraph(20, 300, canvas, 0); },
        [&](MEMIMG* d) { DrawMemImg(d, drawnCanvas, 20, 300, 0, nullptr); });
    ASSERT_EQ(SetDrawTarget(canvas), 0);
    expected = &canvasCopy.image;
    scene(5, 0, true);
    ASSERT_EQ(SetDrawTarget(DX_TARGET_BACK_SCREEN), 0);
    expected = &screen.image;
    ASSERT_EQ(SetMaskLayerActive(0), 0);
    ASSERT_EQ(SelectBlendMode(0, 255), 0);
    both(
        false, [&] { return PutGraph(330, 300, canvas, 0); },
        [&](MEMIMG* d) { DrawMemImg(d, drawnCanvas, 330, 300, 0, nullptr); });

    ASSERT_EQ(FlipScreen(), 0);
    ASSERT_EQ(presentedWidth, 640);
    ASSERT_EQ(presentedHeight, 480);
    std::vector<std::uint8_t> frame;
    int wrong = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            const std::uint32_t want = memimg_test::ReadRaw(screen.image, x, y) & 0xFFFFFF;
            if (presented[static_cast<std::size_t>(y) * 640 + x] != want && ++wrong <= 3)
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex
                              << presented[static_cast<std::size_t>(y) * 640 + x] << " instead of "
                              << want;
            frame.push_back(static_cast<std::uint8_t>(want >> 16));
            frame.push_back(static_cast<std::uint8_t>(want >> 8));
            frame.push_back(static_cast<std::uint8_t>(want));
        }
    ASSERT_EQ(wrong, 0);

    const char* names[] = {"shot.bmp", "shot.jpg", "shot.png", "shot.dds"};
    for (int type = 0; type < 4; ++type)
        ASSERT_EQ(SaveDrawTargetRectToFile(0, 0, 640, 480, Path(names[type]).string().c_str(), type,
                                           90, 1, 6),
                  0)
            << type;
    auto decoded = velk_test::PillowDecode({Path("shot.bmp"), Path("shot.png"), Path("shot.jpg")});
    EXPECT_EQ(decoded[0], frame);
    EXPECT_EQ(decoded[1], frame);
    EXPECT_EQ(ImageMagickRgb(Path("shot.dds")), frame);
    ExpectLikePillowJpeg(decoded[2], frame, 640, 480, 90, Path("pillow"));
    EXPECT_EQ(SaveDrawTargetRectToFile(0, 0, 640, 480, Path("missing/shot.png").string().c_str(),
                                       DX_IMAGESAVE_PNG, 90, 1, 6),
              -1);
}

}  // namespace
