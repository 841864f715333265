// The input record over the library's real input module: keyboard events injected as SDL events
// through the platform layer reach the game's directions and buttons.
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "Source/Library/Main/DxInput.h"
#include "Source/Library/Main/Windows/DxInputWin.h"
#include "Source/Library/Main/Windows/DxWindow.h"
#include "platform/Input.h"
#include "platform/Kernel32.h"
#include "platform/Modules.h"
#include "platform/User32.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_InputReplay.h"

using namespace ZiDaz;
namespace user32 = platform::user32;

namespace {

void Pump() {
    MSG msg;
    while (user32::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        user32::TranslateMessage(&msg);
        user32::DispatchMessageW(&msg);
    }
}

void Key(SDL_Scancode scancode, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = scancode;
    platform::user32test::InjectEvent(e);
    Pump();
    // The keyboard is read at most once per millisecond clock value.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

LRESULT TestProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return user32::DefWindowProcW(window, message, wParam, lParam);
}

class GameInputDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::ResetHiddenModules();
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &TestProc;
        wc.lpszClassName = u"GameInputTestWindow";
        user32::RegisterClassExW(&wc);
        window_ = user32::CreateWindowExW(0, u"GameInputTestWindow", u"input", WS_OVERLAPPEDWINDOW,
                                          0, 0, 320, 240, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        Pump();
        platform::inputtest::ResetKeyboardAndMouse();
        std::memset(&InputSystem, 0, sizeof(InputSystem));
        MainWindow.active = 1;
        MainWindow.mainThreadId = platform::kernel32::GetCurrentThreadId();
        SystemReport.windowsVersionCode = WINDOWS_VERSION_10;
        EnableDirectInputDevices(1);
        ASSERT_EQ(InitInputDevices(), 0);
        ResetGameInputDevices();
        TheInput = Game_Input();
        ReplayPlaying = 0;
    }
    void TearDown() override {
        TerminateInputDevices();
        Pump();
        user32::DestroyWindow(window_);
        user32::UnregisterClassW(u"GameInputTestWindow", nullptr);
        platform::ResetHiddenModules();
        MainWindow.active = 0;
        TheInput = Game_Input();
    }
    HWND window_ = nullptr;
};

TEST_F(GameInputDeviceTest, InjectedKeysBecomeDirectionsAndButtons) {
    Key(SDL_SCANCODE_UP, true);
    TheInput.Update();
    EXPECT_EQ(TheInput.rawKeys[dik::Up], 1);
    EXPECT_EQ(TheInput.dir8, 8);
    Key(SDL_SCANCODE_DOWN, true);
    TheInput.Update();
    EXPECT_EQ(TheInput.dir8, 2);
    Key(SDL_SCANCODE_DOWN, false);
    TheInput.Update();
    EXPECT_EQ(TheInput.dir8, 8);
    Key(SDL_SCANCODE_UP, false);
    Key(SDL_SCANCODE_Z, true);
    TheInput.Update();
    EXPECT_EQ(TheInput.dir8, 0);
    EXPECT_EQ(TheInput.gameButton[Decide], 1);
    EXPECT_EQ(TheInput.gameButtonPressed[Decide], 1);
    Key(SDL_SCANCODE_Z, false);
    // An inactive window reads no keys.
    Key(SDL_SCANCODE_X, true);
    MainWindow.active = 0;
    TheInput.Update();
    EXPECT_EQ(TheInput.gameButton[Cancel], 0);
    MainWindow.active = 1;
    TheInput.Update();
    EXPECT_EQ(TheInput.gameButton[Cancel], 1);
    Key(SDL_SCANCODE_X, false);
}

}  // namespace
