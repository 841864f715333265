// The graphics system inside a running library over SDL's dummy video driver: the software start
// with its screen images and first frames, the software presentation read back through the
// platform's present hook (1:1, scaled windows, the 320 x 240 emulation, full screen with its
// black fills), screen-mode changes and their fallbacks, the front-screen timer, leaving the front
// screen, clearing and the draw area.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxChar.h"
#include "Main/DxGraphics.h"
#include "Main/DxHandle.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"
#include "Source/Library/Main/RecordingGraphicsBackend.h"
#include "platform/Gdi32.h"
#include "platform/User32.h"

using namespace ZiDaz;
namespace gdi32test = platform::gdi32test;
using ZiDaz::testing::RecordingBackend;

namespace {

const int kGraphicsTypes[] = {1, 12, 15, 16, 18, 19};

class GraphicsSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MainWindow = MainWindowState{};
        LibrarySystem.initialised = 0;
        LibrarySystem.endRequested = 0;
        GraphicsSystemState = GraphicsSystemStateData{};
        GraphicsBackendKind = 0;
        Direct3D11Forbidden = 0;
        SetDefaultMemImgColorType(0);
        SetNarrowCharCode(CharEncoding::Utf8);
        EnableLogOutput(0);
        StoreWindowModeFlag(1);
        gdi32test::CapturePresentedImages(true);
    }
    void TearDown() override {
        EndLibrary();
        // Ending the library destroyed the window and ended the image module: later tests in this
        // process start from a window never made and find the module as it was before this test.
        MainWindow = MainWindowState{};
        if (baseImageModuleStarted_ && BaseImageModuleState.Initialised == 0) {
            InitBaseImageModule();
        }
        gdi32test::CapturePresentedImages(false);
        RecordingBackend::Instance().Remove();
        for (int type : kGraphicsTypes) EXPECT_EQ(HandleTypeTable[type].registered, 0);
        EXPECT_EQ(GraphicsSystemState.ScreenModeSettings.Displays, nullptr);
        // The screen mode and back end set here must not reach the windows of later tests.
        GraphicsSystemState = GraphicsSystemStateData{};
        GraphicsBackendKind = 0;
        Direct3D11Forbidden = 0;
        SetDefaultMemImgColorType(0);
    }

    static HWND Window() { return MainWindow.mainWindow; }

    // Whether the image module ran before this test (a test may end and start the library again).
    const bool baseImageModuleStarted_ = BaseImageModuleState.Initialised != 0;

    // The last presented client image.
    struct Frame {
        std::vector<std::uint32_t> pixels;
        int width = 0, height = 0;
        std::uint32_t At(int x, int y) const {
            return pixels[static_cast<std::size_t>(y) * width + x] & 0xFFFFFF;
        }
    };
    static Frame LastFrame() {
        Frame f;
        EXPECT_TRUE(gdi32test::LastPresentedImage(Window(), &f.pixels, &f.width, &f.height));
        return f;
    }

    // Fills the software screen image with seeded random pixels.
    static void FillScreenRandomly(unsigned seed) {
        MEMIMG& s = GraphicsSystemState.ScreenImage;
        std::mt19937 random(seed);
        int bytes = s.Shared->Format->BytesPerPixel;
        for (int y = 0; y < s.Height; ++y) {
            std::uint8_t* row = s.Pixels + static_cast<std::ptrdiff_t>(y) * s.Shared->Pitch;
            for (int x = 0; x < s.Width * bytes; ++x) row[x] = static_cast<std::uint8_t>(random());
        }
    }

    // A screen pixel as the window shows it (0x00RRGGBB): each channel scaled to 0..255.
    static std::uint32_t ScreenPixel(int x, int y) {
        const MEMIMG& s = GraphicsSystemState.ScreenImage;
        const std::uint8_t* row = s.Pixels + static_cast<std::ptrdiff_t>(y) * s.Shared->Pitch;
        if (s.Shared->Format->BitsPerPixel == 16) {
            std::uint32_t p = row[x * 2] | row[x * 2 + 1] << 8;
            std::uint32_t r = (p >> 11) * 255 / 31, g = (p >> 5 & 63) * 255 / 63,
                          b = (p & 31) * 255 / 31;
            return r << 16 | g << 8 | b;
        }
        std::uint32_t p;
        std::memcpy(&p, row + x * 4, 4);
        return p & 0xFFFFFF;
    }

    // Checks that the frame shows the screen stretched to the nearest pixel into (left, top,
    // width, height); nothing else is looked at.
    static void ExpectNearestStretch(const Frame& f, int left, int top, int width, int height) {
        int w, h;
        GetScreenSize(&w, &h);
        int mismatches = 0;
        for (int dy = 0; dy < height && mismatches < 5; ++dy) {
            for (int dx = 0; dx < width && mismatches < 5; ++dx) {
                std::uint32_t want = ScreenPixel(dx * w / width, dy * h / height);
                std::uint32_t got = f.At(left + dx, top + dy);
                if (want != got) {
                    ++mismatches;
                    ADD_FAILURE() << "pixel (" << left + dx << ", " << top + dy << "): " << std::hex
                                  << got << " instead of " << want;
                }
            }
        }
    }
};

TEST_F(GraphicsSystemTest, HeadlessSoftwareStartPresentsBackgroundFramesAndEndsClean) {
    int before = GetTrackedMemoryCount();
    SetBackgroundColor(10, 20, 30, 0);
    ASSERT_EQ(SetScreenMode(640, 480, 32, 0), 0);
    ASSERT_EQ(StartLibrary(), 0);
    const GraphicsSystemStateData& g = GraphicsSystemState;
    EXPECT_EQ(GraphicsBackendKind, DX_GRAPHICS_BACKEND_SOFTWARE);
    EXPECT_EQ(g.DevicePresent, 0);
    EXPECT_EQ(g.Initialised, 1);
    EXPECT_EQ(IsHardwareDrawing(), 0);
    for (const MEMIMG* image :
         {&g.ScreenImage, &g.PresentImage, &g.FontWorkImage, &g.FontWorkAlphaImage}) {
        ASSERT_TRUE(IsMemImgValid(image));
        EXPECT_EQ(image->Width, 640);
        EXPECT_EQ(image->Height, 480);
        EXPECT_EQ(image->Shared->ColorType, 1u);
    }
    EXPECT_EQ(g.FontWorkAlphaImage.Shared->UseAlpha, 1u);
    EXPECT_EQ(g.SoftwareDrawDestination, &g.ScreenImage);
    for (int type : kGraphicsTypes) EXPECT_EQ(HandleTypeTable[type].registered, 1) << type;
    EXPECT_EQ(HandleTypeTable[1].max, 0x40000);
    EXPECT_EQ(std::u16string(HandleTypeTable[19].name), u"ShaderConstantBuffer");
    // The start cleared and presented six frames (the library start's own draw-target steps
    // may add one).
    EXPECT_GE(gdi32test::PresentCount(Window()), 6);
    Frame f = LastFrame();
    ASSERT_EQ(f.width, 640);
    ASSERT_EQ(f.height, 480);
    for (int y = 0; y < 480; y += 7)
        for (int x = 0; x < 640; x += 5) ASSERT_EQ(f.At(x, y), 0x0A141Eu) << x << "," << y;
    EXPECT_EQ(GetDrawTarget(), DX_TARGET_FRONT_SCREEN);
    RECT area;
    GetDrawClipRect(&area);
    EXPECT_EQ(area.right, 640);
    EXPECT_EQ(area.bottom, 480);
    EXPECT_EQ(HasGraphicsRestoreCallback(), 1);  // the built-in restore counts

    ASSERT_EQ(EndLibrary(), 0);
    for (int type : kGraphicsTypes) EXPECT_EQ(HandleTypeTable[type].registered, 0) << type;
    EXPECT_EQ(g.Initialised, 0);
    EXPECT_FALSE(IsMemImgValid(&g.ScreenImage));
    EXPECT_LE(GetTrackedMemoryCount(), before);  // nothing of the graphics system is left
    // A second end, and an end of a system never started, do nothing.
    EXPECT_EQ(EndGraphicsSystem(), 0);
}

TEST_F(GraphicsSystemTest, FlipScreenShowsTheNearestStretchOfTheScreen) {
    struct Case {
        const char* what;
        int bits;
        double scale;
        bool emulate;
        int clientW, clientH;
    };
    const Case cases[] = {
        {"1:1, 32 bits", 32, 1.0, false, 640, 480},
        {"1:1, 16 bits", 16, 1.0, false, 640, 480},
        {"scale 2, 32 bits", 32, 2.0, false, 1280, 960},
        {"scale 2, 16 bits", 16, 2.0, false, 1280, 960},
        {"320 x 240 emulation", 32, 1.0, true, 640, 480},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.emulate) SetScreen320x240Emulation(1);
        ASSERT_EQ(SetScreenMode(640, 480, c.bits, 0), 0);
        if (c.scale != 1.0) SetWindowScaleFactors(c.scale, c.scale);
        ASSERT_EQ(StartLibrary(), 0);
        int w, h;
        GetScreenSize(&w, &h);
        EXPECT_EQ(w, c.emulate ? 320 : 640);
        FillScreenRandomly(seed++);
        ASSERT_EQ(FlipScreen(), 0);
        Frame f = LastFrame();
        ASSERT_EQ(f.width, c.clientW);
        ASSERT_EQ(f.height, c.clientH);
        ExpectNearestStretch(f, 0, 0, c.clientW, c.clientH);
        EndLibrary();
    }
}

TEST_F(GraphicsSystemTest, FullScreenStretchesIntoThePresentationRectangleAfterBlackFills) {
    StoreWindowModeFlag(0);
    ASSERT_EQ(SetScreenMode(640, 400, 32, 0), 0);
    ASSERT_EQ(StartLibrary(), 0);
    ASSERT_EQ(GetFullScreenResolutionModeInEffect(), 0);
    // Paint the whole client area white, then present after a display switch.
    HDC dc = SystemApi.GetDC(Window());
    RECT all{0, 0, 1024, 768};
    SystemApi.FillRect(dc, &all, static_cast<HBRUSH>(SystemApi.GetStockObject(WHITE_BRUSH)));
    SystemApi.ReleaseDC(Window(), dc);
    GraphicsSystemState.ScreenModeSettings.BlackFillCountdown = 10;
    GraphicsSystemState.ScreenModeSettings.FullScreenMode = DisplayMode{1024, 768, 32, 60};
    FillScreenRandomly(7);
    ASSERT_EQ(FlipScreen(), 0);
    EXPECT_EQ(GraphicsSystemState.ScreenModeSettings.BlackFillCountdown, 9);
    Frame f = LastFrame();
    ASSERT_EQ(f.width, 1024);
    ASSERT_EQ(f.height, 768);
    const RECT& r = GraphicsSystemState.ScreenModeSettings.PresentRect;
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 64);
    EXPECT_EQ(r.right, 1024);
    EXPECT_EQ(r.bottom, 704);
    for (int x = 0; x < 1024; x += 3) {
        EXPECT_EQ(f.At(x, 0), 0u);
        EXPECT_EQ(f.At(x, 63), 0u);
        EXPECT_EQ(f.At(x, 704), 0u);
        EXPECT_EQ(f.At(x, 767), 0u);
    }
    ExpectNearestStretch(f, 0, 64, 1024, 640);
}

TEST_F(GraphicsSystemTest, ScaledFullScreenSwitchesToTheDesktopModeAndMapsPoints) {
    StoreWindowModeFlag(0);
    ASSERT_EQ(SetScreenMode(640, 400, 32, 0), 0);
    SelectFullScreenResolutionMode(1);
    ASSERT_EQ(StartLibrary(), 0);
    const ScreenModeSettingsData& s = GraphicsSystemState.ScreenModeSettings;
    EXPECT_EQ(IsScaledFullScreen(), 1);
    EXPECT_EQ(s.FullScreenMode.Width, 1024);  // the desktop is large enough
    EXPECT_EQ(s.FullScreenMode.Height, 768);
    FillScreenRandomly(9);
    ASSERT_EQ(FlipScreen(), 0);
    Frame f = LastFrame();
    ASSERT_EQ(f.width, 1024);
    ExpectNearestStretch(f, 0, 64, 1024, 640);
    // Points map through the presentation rectangle both ways.
    int x = -1, y = -1;
    ScreenPointToWindowPoint(320, 200, &x, &y);
    EXPECT_EQ(x, 512);
    EXPECT_EQ(y, 384);
    WindowPointToScreenPoint(512, 384, &x, &y);
    EXPECT_EQ(x, 320);
    EXPECT_EQ(y, 200);
}

TEST_F(GraphicsSystemTest, ScreenModeChangesFallBackInTheirOrder) {
    RecordingBackend& b = RecordingBackend::Instance();
    b.Install();
    b.startSucceeds[2] = true;
    ASSERT_EQ(SetScreenMode(800, 600, 32, 0), 0);
    ASSERT_EQ(StartLibrary(), 0);
    ASSERT_EQ(GraphicsBackendKind, 2);
    int w, h;
    // Asked mode refused, previous mode back: -1 and the previous mode stays.
    b.refuseMode = [](int width, int, int) { return width == 1024; };
    EXPECT_EQ(SetScreenMode(1024, 768, 32, 0), -1);
    GetScreenSize(&w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(GetScreenColorBits(), 32);
    // Neither the asked nor the previous mode: 640 x 480 with 16 bits, -2.
    b.refuseMode = [](int width, int, int) { return width == 1024 || width == 800; };
    EXPECT_EQ(SetScreenMode(1024, 768, 32, 0), -2);
    GetScreenSize(&w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(GetScreenColorBits(), 16);
    // A mode that starts: 0.
    b.refuseMode = nullptr;
    EXPECT_EQ(SetScreenMode(1024, 768, 32, 0), 0);
    GetScreenSize(&w, &h);
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(GraphicsSystemState.ScreenModeSettings.PreviousWidth, 640);
    // Nothing to change and no force: nothing happens.
    b.calls.clear();
    EXPECT_EQ(RunScreenModeChange(-1, -1, -1, 0, -1, 0), 0);
    EXPECT_TRUE(b.Named("TerminateBackEnd").empty());
    EXPECT_TRUE(b.Named("Start").empty());
    // Bad depths and sizes are refused before anything changes.
    EXPECT_EQ(SetScreenMode(1024, 768, 24, 0), -1);
    EXPECT_EQ(SetScreenMode(0, 768, 32, 0), -1);
    EXPECT_EQ(b.Named("Start").size(), 0u);
}

TEST_F(GraphicsSystemTest, ScreenModeChangeInSoftwareRemakesTheScreenImages) {
    ASSERT_EQ(SetScreenMode(640, 480, 16, 0), 0);
    ASSERT_EQ(StartLibrary(), 0);
    EXPECT_EQ(GraphicsSystemState.ScreenImage.Shared->ColorType, 0u);
    EXPECT_EQ(SetScreenMode(800, 600, 32, 0), 0);
    EXPECT_EQ(GraphicsSystemState.ScreenImage.Width, 800);
    EXPECT_EQ(GraphicsSystemState.ScreenImage.Shared->ColorType, 1u);
    RECT client{};
    platform::user32::GetClientRect(Window(), &client);
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 600);
    // The window-mode switch restarts the graphics system too.
    int presents = gdi32test::PresentCount(Window());
    EXPECT_EQ(ChangeWindowMode(0), 0);
    EXPECT_GE(gdi32test::PresentCount(Window()), presents + 6);
    EXPECT_EQ(ChangeWindowMode(1), 0);
}

TEST_F(GraphicsSystemTest, TheFrontScreenTimerRepaintsWhileActiveAndOnlyRearmsWhileInactive) {
    ASSERT_EQ(StartLibrary(), 0);
    ASSERT_EQ(GetDrawTarget(), DX_TARGET_FRONT_SCREEN);
    auto pumpFor = [](int ms) {
        Uint32 end = SDL_GetTicks() + static_cast<Uint32>(ms);
        while (SDL_GetTicks() < end) {
            PumpMessages();
            SDL_Delay(2);
        }
    };
    // Pumps until the window was shown `count` more times, for at most three seconds.
    auto pumpForPresents = [&](int count) {
        int target = gdi32test::PresentCount(Window()) + count;
        Uint32 end = SDL_GetTicks() + 3000;
        while (gdi32test::PresentCount(Window()) < target && SDL_GetTicks() < end) {
            PumpMessages();
            SDL_Delay(2);
        }
        return gdi32test::PresentCount(Window()) >= target;
    };
    EXPECT_TRUE(pumpForPresents(2));
    int active = gdi32test::PresentCount(Window());
    SetKeepRunningWhenInactive(1);
    MainWindow.active = 0;
    pumpFor(150);
    EXPECT_EQ(gdi32test::PresentCount(Window()), active);
    MainWindow.active = 1;
    EXPECT_TRUE(pumpForPresents(2));  // the timer stayed armed
    // Leaving the front screen presents it once; the timer then stops.
    int count = gdi32test::PresentCount(Window());
    ASSERT_EQ(SetDrawTarget(DX_TARGET_BACK_SCREEN), 0);
    EXPECT_EQ(gdi32test::PresentCount(Window()), count + 1);
    pumpFor(120);
    EXPECT_EQ(gdi32test::PresentCount(Window()), count + 1);
    // Back screen to front screen presents nothing.
    ASSERT_EQ(SetDrawTarget(DX_TARGET_FRONT_SCREEN), 0);
    EXPECT_EQ(gdi32test::PresentCount(Window()), count + 1);
    // Values that are no draw target are refused.
    EXPECT_EQ(SetDrawTarget(5), -1);
    EXPECT_EQ(SetDrawTarget(-1), -1);
    EXPECT_EQ(GetDrawTarget(), DX_TARGET_FRONT_SCREEN);
}

TEST_F(GraphicsSystemTest, ClearingAndTheDrawArea) {
    SetBackgroundColor(255, 0, 0, 0);
    ASSERT_EQ(SetScreenMode(64, 48, 32, 0), 0);
    ASSERT_EQ(StartLibrary(), 0);
    MEMIMG& s = GraphicsSystemState.ScreenImage;
    auto pixel = [&](int x, int y) {
        std::uint32_t p;
        std::memcpy(&p, s.Pixels + y * s.Shared->Pitch + x * 4, 4);
        return p & 0xFFFFFF;
    };
    auto fillZero = [&] {
        for (int y = 0; y < 48; ++y) std::memset(s.Pixels + y * s.Shared->Pitch, 0, 64 * 4);
    };
    fillZero();
    RECT part{10, 10, 20, 20};
    ClearDrawTarget(&part);
    EXPECT_EQ(pixel(10, 10), 0xFF0000u);
    EXPECT_EQ(pixel(19, 19), 0xFF0000u);
    EXPECT_EQ(pixel(20, 20), 0u);
    EXPECT_EQ(pixel(0, 0), 0u);
    // A left of -1 clears the whole target.
    RECT minus{-1, 0, 5, 5};
    ClearDrawTarget(&minus);
    EXPECT_EQ(pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(pixel(63, 47), 0xFF0000u);

    // The draw area: corners swapped, clamped to the target, an empty one suppresses drawing.
    struct Case {
        RECT in, out;
        int suppressed;
    };
    const Case cases[] = {
        {{30, 40, 10, 5}, {10, 5, 30, 40}, 0},
        {{-10, -10, 100, 100}, {0, 0, 64, 48}, 0},
        {{10, 10, 10, 40}, {10, 10, 10, 40}, 1},
        {{70, 10, 80, 20}, {64, 10, 64, 20}, 1},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(SetDrawClipRect(c.in), 0);
        RECT got;
        GetDrawClipRect(&got);
        EXPECT_EQ(got.left, c.out.left);
        EXPECT_EQ(got.top, c.out.top);
        EXPECT_EQ(got.right, c.out.right);
        EXPECT_EQ(got.bottom, c.out.bottom);
        EXPECT_EQ(GraphicsSystemState.DrawSettings.DrawingSuppressed, c.suppressed);
        EXPECT_EQ(MemImgDrawState.DrawArea.right, c.out.right);
    }
    // A new draw target makes the whole target the area again.
    ASSERT_EQ(SetDrawTarget(DX_TARGET_BACK_SCREEN), 0);
    RECT got;
    GetDrawClipRect(&got);
    EXPECT_EQ(got.right, 64);
    EXPECT_EQ(got.bottom, 48);
}

TEST_F(GraphicsSystemTest, TheDrawStateSnapshotPutsEverythingBack) {
    ASSERT_EQ(StartLibrary(), 0);
    SetDrawTarget(DX_TARGET_BACK_SCREEN);
    SetDrawClipRect(RECT{10, 20, 300, 200});
    SetBackgroundColor(1, 2, 3, 4);
    DrawStateSnapshot saved;
    SaveDrawState(&saved);
    EXPECT_EQ(saved.DeviceInUse, 0);
    EXPECT_EQ(saved.DrawTarget, DX_TARGET_BACK_SCREEN);
    EXPECT_EQ(saved.WaitVSync, 1);

    SetDrawTarget(DX_TARGET_FRONT_SCREEN);
    SetBackgroundColor(9, 9, 9, 9);
    GraphicsSystemState.DrawSettings.BlendMode = DX_BLEND_ADD;
    GraphicsSystemState.DrawSettings.TextureAddressU[3] = 1;
    Matrix4D world;
    SetIdentityMatrixDouble(&world);
    world.m[3][0] = 50;
    ApplyWorldMatrix(&world);

    RestoreDrawState(&saved);
    DrawStateSnapshot again;
    SaveDrawState(&again);
    EXPECT_EQ(std::memcmp(&saved, &again, sizeof(saved)), 0);
    EXPECT_EQ(GetDrawTarget(), DX_TARGET_BACK_SCREEN);
    EXPECT_EQ(GraphicsSystemState.BackgroundBlue, 3);
}

}  // namespace
