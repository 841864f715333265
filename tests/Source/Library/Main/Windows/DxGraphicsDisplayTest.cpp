// The display table over the platform's displays, the choice of the full-screen display mode over
// display tables made for the test, the presentation rectangle and the point mappings, and the
// rebuild after a device loss.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"
#include "Source/Library/Main/RecordingGraphicsBackend.h"

using namespace ZiDaz;
using ZiDaz::testing::RecordingBackend;

namespace {

class GraphicsDisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EnableLogOutput(0);
        LibrarySystem.initialised = 0;
        GraphicsSystemState = GraphicsSystemStateData{};
        GraphicsBackendKind = 0;
        MainWindow = MainWindowState{};
        EnsureSystemApiTable();
    }
    void TearDown() override {
        FreeDisplayTable();
        RecordingBackend::Instance().Remove();
        GraphicsBackendKind = 0;
        // The screen mode set here must not size the windows of later tests.
        GraphicsSystemState = GraphicsSystemStateData{};
        MainWindow = MainWindowState{};
    }

    static ScreenModeSettingsData& S() { return GraphicsSystemState.ScreenModeSettings; }

    // One display of the given current size and modes, as the table would hold it.
    static void UseDisplay(int width, int height, std::initializer_list<DisplayMode> modes) {
        FreeDisplayTable();
        HANDLE heap = SystemApi.GetProcessHeap();
        auto* table = static_cast<DisplayInfo*>(
            SystemApi.HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(DisplayInfo)));
        table->Primary = 1;
        table->Width = table->DesktopWidth = width;
        table->Height = table->DesktopHeight = height;
        table->ColorBits = 32;
        table->RefreshRate = 60;
        table->DesktopRect = RECT{0, 0, width, height};
        table->ModeCount = static_cast<int>(modes.size());
        table->Modes = static_cast<DisplayMode*>(
            SystemApi.HeapAlloc(heap, 0, sizeof(DisplayMode) * (modes.size() + 1)));
        int i = 0;
        for (const DisplayMode& m : modes) table->Modes[i++] = m;
        S().Displays = table;
        S().DisplayCount = 1;
    }
    static void Screen(int width, int height, int bits) {
        StoreScreenSize(width, height);
        S().ColorBitDepth = bits;
    }
};

TEST_F(GraphicsDisplayTest, TheTableOfThePlatformsDisplays) {
    ASSERT_EQ(GetDisplayCount(), 1);
    const DisplayInfo& d = S().Displays[0];
    EXPECT_EQ(d.Primary, 1);
    EXPECT_EQ(d.Width, 1024);
    EXPECT_EQ(d.Height, 768);
    EXPECT_EQ(d.DesktopWidth, 1024);
    EXPECT_EQ(d.ColorBits, 32);  // never SDL's 24
    EXPECT_EQ(d.DpiX, 96);
    EXPECT_EQ(d.DesktopRect.right, 1024);
    EXPECT_EQ(std::u16string(d.DeviceName), u"\\\\.\\DISPLAY1");
    ASSERT_GE(GetDisplayModeCount(0), 1);
    for (int i = 0; i < d.ModeCount; ++i) {
        EXPECT_GE(d.Modes[i].ColorBits, 16);
        for (int k = 0; k < i; ++k) {
            const DisplayMode &a = d.Modes[i], &b = d.Modes[k];
            EXPECT_FALSE(a.Width == b.Width && a.Height == b.Height && a.ColorBits == b.ColorBits &&
                         a.RefreshRate == b.RefreshRate);
        }
    }
    DisplayMode m{};
    GetDisplayModeEntry(&m, 0, 0);
    EXPECT_EQ(m.Width, d.Modes[0].Width);
    GetDisplayModeEntry(&m, d.ModeCount, 0);
    EXPECT_EQ(m.Width, -1);
    EXPECT_EQ(m.RefreshRate, -1);
    GetDisplayModeEntry(&m, 0, 1);
    EXPECT_EQ(m.Height, -1);
    EXPECT_EQ(GetDisplayModeCount(1), -1);
    EXPECT_EQ(GetDisplayModeCount(-1), -1);
}

TEST_F(GraphicsDisplayTest, SelectingADisplay) {
    ASSERT_EQ(SelectDisplay(0), 0);
    EXPECT_EQ(S().DisplayChosen, 1);
    EXPECT_EQ(SelectDisplay(GetDisplayCount()), -1);
    EXPECT_EQ(S().ChosenDisplay, 0);
    // Under the cursor.
    UseDisplay(1024, 768, {});
    S().DisplayChosen = 0;
    POINT p{};
    SystemApi.GetCursorPos(&p);
    EXPECT_EQ(SelectDisplay(-1), p.x >= 0 && p.x < 1024 && p.y >= 0 && p.y < 768 ? 0 : -1);
    S().Displays[0].DesktopRect = RECT{5000, 5000, 5001, 5001};
    S().DisplayChosen = 0;
    EXPECT_EQ(SelectDisplay(-1), -1);
    EXPECT_EQ(S().DisplayChosen, 0);
}

TEST_F(GraphicsDisplayTest, FullScreenModeChoice) {
    struct Case {
        const char* what;
        int requested;
        int desktopW, desktopH;
        std::vector<DisplayMode> modes;
        int screenW, screenH, bits, rate;
        DisplayMode chosen;
        int effective;
    };
    const std::vector<Case> cases = {
        {"mode 2, a double-size mode",
         2,
         1920,
         1080,
         {{800, 600, 32, 60}, {1280, 960, 32, 60}, {1920, 1440, 32, 60}},
         640,
         480,
         32,
         0,
         {1280, 960, 32, 60},
         3},
        {"mode 2, the screen size itself",
         2,
         1920,
         1080,
         {{1280, 960, 32, 60}, {640, 480, 32, 75}, {640, 480, 32, 60}},
         640,
         480,
         32,
         60,
         {640, 480, 32, 60},
         2},
        {"mode 2, a multiple only at another depth",
         2,
         1920,
         1080,
         {{1280, 960, 16, 60}, {1920, 1440, 32, 60}},
         640,
         480,
         32,
         0,
         {1920, 1440, 32, 60},
         3},
        {"mode 2 without multiples on a large desktop",
         2,
         1024,
         768,
         {{1024, 768, 32, 60}, {800, 600, 32, 60}},
         640,
         480,
         32,
         0,
         {1024, 768, 32, 60},
         1},
        {"mode 2 without multiples on a small desktop",
         2,
         600,
         400,
         {{600, 400, 32, 60}, {800, 500, 32, 60}},
         640,
         480,
         32,
         0,
         {800, 500, 32, 60},
         3},
        {"mode 1 on a small desktop",
         1,
         600,
         400,
         {{600, 400, 32, 60}, {1280, 720, 32, 60}},
         640,
         480,
         32,
         0,
         {1280, 720, 32, 60},
         3},
        {"mode 3, the largest only at another depth",
         3,
         1920,
         1080,
         {{1280, 720, 32, 60}, {1920, 1080, 16, 60}},
         640,
         480,
         32,
         0,
         {1920, 1080, 16, 60},
         3},
        {"mode 3, no modes", 3, 1920, 1080, {}, 640, 480, 32, 0, {-1, -1, -1, -1}, 3},
        {"mode 0, the desktop",
         0,
         1920,
         1080,
         {{1280, 720, 32, 60}},
         640,
         480,
         32,
         0,
         {1920, 1080, 32, 60},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UseDisplay(c.desktopW, c.desktopH, {});
        HANDLE heap = SystemApi.GetProcessHeap();
        SystemApi.HeapFree(heap, 0, S().Displays[0].Modes);
        S().Displays[0].Modes = static_cast<DisplayMode*>(
            SystemApi.HeapAlloc(heap, 0, sizeof(DisplayMode) * (c.modes.size() + 1)));
        S().Displays[0].ModeCount = static_cast<int>(c.modes.size());
        for (std::size_t i = 0; i < c.modes.size(); ++i) S().Displays[0].Modes[i] = c.modes[i];
        Screen(c.screenW, c.screenH, c.bits);
        S().RefreshRate = c.rate;
        S().RequestedFullScreenResolutionMode = c.requested;
        ASSERT_EQ(SelectFullScreenDisplayMode(), 0);
        EXPECT_EQ(S().FullScreenMode.Width, c.chosen.Width);
        EXPECT_EQ(S().FullScreenMode.Height, c.chosen.Height);
        EXPECT_EQ(S().FullScreenMode.ColorBits, c.chosen.ColorBits);
        EXPECT_EQ(S().FullScreenResolutionMode, c.effective);
    }
}

TEST_F(GraphicsDisplayTest, SwitchingTheDisplayFollowsThePlatformsRule) {
    // The platform only keeps the desktop's own mode.
    S().RequestedFullScreenResolutionMode = 3;
    UseDisplay(1024, 768, {{1024, 768, 32, 60}});
    Screen(640, 480, 32);
    EXPECT_EQ(ChangeDisplayResolution(), 0);
    EXPECT_EQ(S().BlackFillCountdown, 10);
    UseDisplay(1024, 768, {{1280, 1024, 32, 60}});
    EXPECT_EQ(ChangeDisplayResolution(), -1);
    // No mode at all: the depth is refused.
    UseDisplay(1024, 768, {});
    S().BlackFillCountdown = 0;
    EXPECT_EQ(ChangeDisplayResolution(), -1);
    EXPECT_EQ(LibrarySystem.lastErrorCode, kErrorScreenColorMode);
    EXPECT_EQ(S().BlackFillCountdown, 0);
}

TEST_F(GraphicsDisplayTest, PresentationRectangleAndPointMappings) {
    struct Case {
        int mode, displayW, displayH, screenW, screenH;
        RECT rect;
    };
    const Case cases[] = {
        {3, 1920, 1080, 800, 600, {240, 0, 1680, 1080}},
        {0, 1920, 1080, 800, 600, {240, 0, 1680, 1080}},
        {1, 1024, 768, 640, 400, {0, 64, 1024, 704}},
        {0, 1280, 1024, 640, 480, {0, 32, 1280, 992}},
    };
    for (const Case& c : cases) {
        UseDisplay(c.displayW, c.displayH, {});
        Screen(c.screenW, c.screenH, 32);
        S().FullScreenResolutionMode = c.mode;
        S().FullScreenMode = DisplayMode{c.displayW, c.displayH, 32, 60};
        ComputeFullScreenPresentRect();
        EXPECT_EQ(S().PresentRect.left, c.rect.left);
        EXPECT_EQ(S().PresentRect.top, c.rect.top);
        EXPECT_EQ(S().PresentRect.right, c.rect.right);
        EXPECT_EQ(S().PresentRect.bottom, c.rect.bottom);
    }
    // 800 x 600 in 1920 x 1080: the screen's corners and centre.
    UseDisplay(1920, 1080, {});
    Screen(800, 600, 32);
    S().FullScreenResolutionMode = 0;
    S().DisplayRect = RECT{100, 50, 2020, 1130};
    int x = 0, y = 0;
    ScreenPointToWindowPoint(0, 0, &x, &y);
    EXPECT_EQ(x, 240);
    EXPECT_EQ(y, 0);
    ScreenPointToWindowPoint(400, 300, &x, &y);
    EXPECT_EQ(x, 960);
    EXPECT_EQ(y, 540);
    WindowPointToScreenPoint(100 + 960, 50 + 540, &x, &y);  // desktop coordinates
    EXPECT_EQ(x, 400);
    EXPECT_EQ(y, 300);
    // Mode 2 shows the screen 1:1 at the display's corner.
    S().FullScreenResolutionMode = 2;
    ScreenPointToWindowPoint(12, 34, &x, &y);
    EXPECT_EQ(x, 12);
    EXPECT_EQ(y, 34);
    WindowPointToScreenPoint(112, 84, &x, &y);
    EXPECT_EQ(x, 12);
    EXPECT_EQ(y, 34);
    // Beyond mode 3 nothing is mapped.
    S().FullScreenResolutionMode = 5;
    x = y = 77;
    EXPECT_EQ(ScreenPointToWindowPoint(1, 2, &x, &y), 0);
    EXPECT_EQ(WindowPointToScreenPoint(1, 2, &x, &y), 0);
    EXPECT_EQ(x, 77);
    EXPECT_EQ(y, 77);
    EXPECT_EQ(SelectFullScreenResolutionMode(5), 0);
    EXPECT_EQ(SelectFullScreenResolutionMode(5), 0);  // unchanged: nothing to do
}

TEST_F(GraphicsDisplayTest, ScreenModeSettingsBeforeStart) {
    EXPECT_EQ(SetScreenMode(800, 600, 0, 0), 0);
    EXPECT_EQ(S().ColorBitDepth, 16);
    EXPECT_EQ(SetScreenMode(800, 600, 24, 0), -1);
    EXPECT_EQ(SetScreenMode(800, -1, 32, 0), -1);
    EXPECT_EQ(S().Width, 800);
    EXPECT_EQ(GetScreenColorBits(), 16);
    StoreScreenSize(0, 0);
    int w, h;
    GetScreenSize(&w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(S().RequestedWidth, 0);
    // With the emulation on, every size stores 320 x 240.
    ASSERT_EQ(SetScreen320x240Emulation(1), 0);
    EXPECT_EQ(S().ScalingFilter, 1);
    EXPECT_EQ(SetScreenMode(1024, 768, 32, 0), 0);
    GetScreenSize(&w, &h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    EXPECT_EQ(FlipScreen(), -1);  // the library has not started
    const COLORFORMAT* f = GetFixedColorFormat(2);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->RedMask, 0x7C00u);
    EXPECT_EQ(GetFixedColorFormat(5), nullptr);
}

TEST_F(GraphicsDisplayTest, ASoftwareStartAndEndLeaveNothingBehind) {
    SetUseHardwareDrawing(0);
    SetScreenMode(320, 200, 16, 0);
    int blocks = GetTrackedMemoryCount();
    ASSERT_EQ(StartGraphicsSystem(), 0);
    EXPECT_EQ(StartGraphicsSystem(), 0);  // already started: nothing changes
    EXPECT_EQ(GraphicsBackendKind, 0);
    EXPECT_TRUE(IsMemImgValid(&GraphicsSystemState.ScreenImage));
    EXPECT_EQ(GraphicsSystemState.ScreenImage.Shared->ColorType, 0u);
    EXPECT_GE(GraphicsSystemState.Lights.DefaultLight, 0);
    ASSERT_EQ(EnsureGraphicsWorkBuffer(1, 4096), 0);
    ASSERT_EQ(EndGraphicsSystem(), 0);
    EXPECT_EQ(GetTrackedMemoryCount(), blocks);
    EXPECT_EQ(GraphicsSystemState.WorkBuffers[1], nullptr);
    EXPECT_EQ(GraphicsSystemState.Lights.DefaultLight, -1);
    SetUseHardwareDrawing(1);
}

TEST_F(GraphicsDisplayTest, ADirect3D9LossRebuildRunsTheRestoreCallback) {
    static int restores = 0;
    static int asyncDuringRestore = -1;
    restores = 0;
    RecordingBackend& rec = RecordingBackend::Instance();
    rec.Install();
    rec.startSucceeds[1] = true;
    Direct3D11Forbidden = 1;
    EnableASyncLoad(1);
    int blocks = GetTrackedMemoryCount();
    ASSERT_EQ(StartGraphicsSystem(), 0);
    ASSERT_EQ(GraphicsBackendKind, 1);
    EXPECT_EQ(rec.Named("SetDefaultStates").size(), 1u);
    EXPECT_EQ(rec.Named("PresentBackBuffer").size(), 6u);
    EXPECT_EQ(rec.Named("ClearDrawTarget").size(), 6u);
    EXPECT_FALSE(IsMemImgValid(&GraphicsSystemState.ScreenImage));  // a device needs none
    SetGraphicsRestoreCallback(+[] {
        ++restores;
        asyncDuringRestore = IsASyncLoadEnabled();
    });
    ASSERT_EQ(RebuildAfterDeviceLoss(), 0);
    auto rebuilds = rec.Named("RebuildDevice");
    ASSERT_EQ(rebuilds.size(), 1u);
    EXPECT_EQ(rebuilds[0].args, (std::vector<std::string>{"0", "-1", "-1", "-1", "-1"}));
    EXPECT_EQ(restores, 1);
    EXPECT_EQ(asyncDuringRestore, 0);
    EXPECT_EQ(IsASyncLoadEnabled(), 1);
    ASSERT_EQ(EndGraphicsSystem(), 0);
    EXPECT_EQ(GetTrackedMemoryCount(), blocks);
    EXPECT_EQ(rec.Named("TerminateBackEnd").size(), 1u);
    EXPECT_EQ(GraphicsSystemState.DevicePresent, 0);
    EnableASyncLoad(0);
    Direct3D11Forbidden = 0;
    SetGraphicsRestoreCallback(nullptr);
    // Without a device the rebuild needs a vertical-blank waiter, which this platform lacks.
    GraphicsBackendKind = 0;
    EXPECT_EQ(RebuildGraphicsSystem(0, -1, -1, -1, -1), -1);
    EXPECT_EQ(GetVBlankWaiterObject(), nullptr);
}

}  // namespace
