// The transition through the running library (software screen over SDL's dummy video driver):
// the screen captured when it starts is drawn back over the new frame, fading out.
#include <gtest/gtest.h>

#include <cstring>

#include "Source/Library/Main/DxGraphics.h"
#include "Source/Library/Main/DxGraphicsDraw.h"
#include "Source/Library/Main/DxLog.h"
#include "Source/Library/Main/Windows/DxSystemWin.h"
#include "Source/Library/Main/Windows/DxWindow.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ShellGlobals.h"

namespace {

using namespace ZiDaz;

class GameSystemLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        StoreWindowModeFlag(1);
        SetUseHardwareDrawing(0);
        ASSERT_EQ(SetScreenMode(640, 480, 32, 0), 0);
        ASSERT_EQ(StartLibrary(), 0);
        ScreenWidth = 640;
        ScreenHeight = 480;
        WindowScale = 1;
    }
    void TearDown() override {
        EndLibrary();
        // Later tests in this process see a library that was never started.
        MainWindow = MainWindowState{};
        GraphicsSystemState = GraphicsSystemStateData{};
    }

    static std::uint32_t ScreenPixel(int x, int y) {
        const MEMIMG& s = GraphicsSystemState.ScreenImage;
        std::uint32_t v;
        std::memcpy(&v, s.Pixels + y * s.Shared->Pitch + x * 4, 4);
        return v & 0xFFFFFF;
    }
    static void Paint(int r, int g, int b) {
        ASSERT_EQ(PaintRectangle(0, 0, 640, 480, ComposeScreenColor(r, g, b), 1), 0);
    }
};

TEST_F(GameSystemLibraryTest, ACrossFadeDrawsTheCapturedScreenBackAndFadesIt) {
    Game_System s;
    s.CreateScreenGraphs();
    ASSERT_GE(s.captureGraph, 0);
    Paint(200, 0, 0);
    s.transitionActive = 1;
    s.transitionPrepared = 1;
    s.transitionTotal = 4;
    s.transitionKind = 1;
    s.DrawTransition();
    // The next frame is blue; at the start of the fade the old red screen covers it all.
    Paint(0, 0, 200);
    s.DrawTransition();
    EXPECT_EQ(ScreenPixel(320, 240), 0xC80000u);
    // Two updates later one frame of four is left to show: the old screen at alpha 63.
    s.UpdateTimers();
    s.UpdateTimers();
    Paint(0, 0, 200);
    s.DrawTransition();
    const std::uint32_t mixed = ScreenPixel(10, 10);
    EXPECT_NEAR(static_cast<int>(mixed >> 16), 200 * 63 / 255, 1);
    EXPECT_NEAR(static_cast<int>(mixed & 0xFF), 200 * (255 - 63) / 255, 1);
    for (int i = 0; i < 3; ++i) s.UpdateTimers();
    s.DrawTransition();
    EXPECT_EQ(s.transitionActive, 0);
}

}  // namespace
