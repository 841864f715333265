// The input module end to end: SDL events and SDL virtual joysticks go in through the platform
// layer (DirectInput 8, XInput, the system joystick functions or the window's keyboard state) and
// come out of the module's queries.
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "Main/DxInput.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxInputWin.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"
#include "platform/Input.h"
#include "platform/Kernel32.h"
#include "platform/Modules.h"
#include "platform/User32.h"

using namespace ZiDaz;
namespace user32 = platform::user32;

namespace {

std::vector<WPARAM> gDeviceChanges;

LRESULT TestProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE) gDeviceChanges.push_back(wParam);
    return user32::DefWindowProcW(window, message, wParam, lParam);
}

void Pump() {
    MSG msg;
    while (user32::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        user32::TranslateMessage(&msg);
        user32::DispatchMessageW(&msg);
    }
}

// The devices are read at most once per millisecond clock value.
void NextTick() {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void Key(SDL_Scancode scancode, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = scancode;
    platform::user32test::InjectEvent(e);
    Pump();
}

class InputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::ResetHiddenModules();
        SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &TestProc;
        wc.lpszClassName = u"InputTestWindow";
        user32::RegisterClassExW(&wc);
        // The window starts SDL video on this thread, so the pump reads SDL's events here.
        window_ = user32::CreateWindowExW(0, u"InputTestWindow", u"input", WS_OVERLAPPEDWINDOW, 0,
                                          0, 320, 240, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        Pump();
        platform::inputtest::ResetKeyboardAndMouse();
        gDeviceChanges.clear();
        std::memset(&InputSystem, 0, sizeof(InputSystem));
        // The library's window stands for this one: active, run by this thread, on Windows 10.
        // A library started and ended by an earlier test left its end request behind, and the
        // pump that reads the keyboard then stops at once.
        MainWindow = MainWindowState{};
        LibrarySystem.endRequested = 0;
        MainWindow.active = 1;
        MainWindow.mainThreadId = platform::kernel32::GetCurrentThreadId();
        SystemReport.windowsVersionCode = WINDOWS_VERSION_10;
    }

    void TearDown() override {
        TerminateInputDevices();
        for (SDL_Joystick* j : opened_) SDL_JoystickClose(j);
        while (SDL_NumJoysticks() > 0 && SDL_JoystickIsVirtual(0)) SDL_JoystickDetachVirtual(0);
        Pump();
        user32::DestroyWindow(window_);
        user32::UnregisterClassW(u"InputTestWindow", nullptr);
        platform::ResetHiddenModules();
    }

    // An SDL virtual pad, opened so that the test can move its controls.
    SDL_Joystick* AttachPad(SDL_JoystickType type, int axes, int buttons, int hats) {
        int index = SDL_JoystickAttachVirtual(type, axes, buttons, hats);
        EXPECT_GE(index, 0) << SDL_GetError();
        SDL_Joystick* j = SDL_JoystickOpen(index);
        EXPECT_NE(j, nullptr);
        opened_.push_back(j);
        SDL_JoystickUpdate();
        return j;
    }

    SDL_Joystick* AttachController() {
        return AttachPad(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                         SDL_CONTROLLER_BUTTON_MAX, 0);
    }

    void Start() {
        EnableDirectInputDevices(1);
        ASSERT_EQ(InitInputDevices(), 0);
    }

    HWND window_ = nullptr;
    std::vector<SDL_Joystick*> opened_;
};

struct KeyCase {
    SDL_Scancode scancode;
    int code;
};

// Every key DirectInput has a code for, by position (the codes are PC set-1 scan codes).
const KeyCase kKeys[] = {
    {SDL_SCANCODE_ESCAPE, 0x01},
    {SDL_SCANCODE_1, 0x02},
    {SDL_SCANCODE_2, 0x03},
    {SDL_SCANCODE_3, 0x04},
    {SDL_SCANCODE_4, 0x05},
    {SDL_SCANCODE_5, 0x06},
    {SDL_SCANCODE_6, 0x07},
    {SDL_SCANCODE_7, 0x08},
    {SDL_SCANCODE_8, 0x09},
    {SDL_SCANCODE_9, 0x0A},
    {SDL_SCANCODE_0, 0x0B},
    {SDL_SCANCODE_MINUS, 0x0C},
    {SDL_SCANCODE_EQUALS, 0x0D},
    {SDL_SCANCODE_BACKSPACE, 0x0E},
    {SDL_SCANCODE_TAB, 0x0F},
    {SDL_SCANCODE_Q, 0x10},
    {SDL_SCANCODE_W, 0x11},
    {SDL_SCANCODE_E, 0x12},
    {SDL_SCANCODE_R, 0x13},
    {SDL_SCANCODE_T, 0x14},
    {SDL_SCANCODE_Y, 0x15},
    {SDL_SCANCODE_U, 0x16},
    {SDL_SCANCODE_I, 0x17},
    {SDL_SCANCODE_O, 0x18},
    {SDL_SCANCODE_P, 0x19},
    {SDL_SCANCODE_LEFTBRACKET, 0x1A},
    {SDL_SCANCODE_RIGHTBRACKET, 0x1B},
    {SDL_SCANCODE_RETURN, 0x1C},
    {SDL_SCANCODE_LCTRL, 0x1D},
    {SDL_SCANCODE_A, 0x1E},
    {SDL_SCANCODE_S, 0x1F},
    {SDL_SCANCODE_D, 0x20},
    {SDL_SCANCODE_F, 0x21},
    {SDL_SCANCODE_G, 0x22},
    {SDL_SCANCODE_H, 0x23},
    {SDL_SCANCODE_J, 0x24},
    {SDL_SCANCODE_K, 0x25},
    {SDL_SCANCODE_L, 0x26},
    {SDL_SCANCODE_SEMICOLON, 0x27},
    {SDL_SCANCODE_APOSTROPHE, 0x28},
    {SDL_SCANCODE_GRAVE, 0x29},
    {SDL_SCANCODE_LSHIFT, 0x2A},
    {SDL_SCANCODE_BACKSLASH, 0x2B},
    {SDL_SCANCODE_NONUSHASH, 0x2B},
    {SDL_SCANCODE_Z, 0x2C},
    {SDL_SCANCODE_X, 0x2D},
    {SDL_SCANCODE_C, 0x2E},
    {SDL_SCANCODE_V, 0x2F},
    {SDL_SCANCODE_B, 0x30},
    {SDL_SCANCODE_N, 0x31},
    {SDL_SCANCODE_M, 0x32},
    {SDL_SCANCODE_COMMA, 0x33},
    {SDL_SCANCODE_PERIOD, 0x34},
    {SDL_SCANCODE_SLASH, 0x35},
    {SDL_SCANCODE_RSHIFT, 0x36},
    {SDL_SCANCODE_KP_MULTIPLY, 0x37},
    {SDL_SCANCODE_LALT, 0x38},
    {SDL_SCANCODE_SPACE, 0x39},
    {SDL_SCANCODE_CAPSLOCK, 0x3A},
    {SDL_SCANCODE_F1, 0x3B},
    {SDL_SCANCODE_F2, 0x3C},
    {SDL_SCANCODE_F3, 0x3D},
    {SDL_SCANCODE_F4, 0x3E},
    {SDL_SCANCODE_F5, 0x3F},
    {SDL_SCANCODE_F6, 0x40},
    {SDL_SCANCODE_F7, 0x41},
    {SDL_SCANCODE_F8, 0x42},
    {SDL_SCANCODE_F9, 0x43},
    {SDL_SCANCODE_F10, 0x44},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x45},
    {SDL_SCANCODE_SCROLLLOCK, 0x46},
    {SDL_SCANCODE_KP_7, 0x47},
    {SDL_SCANCODE_KP_8, 0x48},
    {SDL_SCANCODE_KP_9, 0x49},
    {SDL_SCANCODE_KP_MINUS, 0x4A},
    {SDL_SCANCODE_KP_4, 0x4B},
    {SDL_SCANCODE_KP_5, 0x4C},
    {SDL_SCANCODE_KP_6, 0x4D},
    {SDL_SCANCODE_KP_PLUS, 0x4E},
    {SDL_SCANCODE_KP_1, 0x4F},
    {SDL_SCANCODE_KP_2, 0x50},
    {SDL_SCANCODE_KP_3, 0x51},
    {SDL_SCANCODE_KP_0, 0x52},
    {SDL_SCANCODE_KP_PERIOD, 0x53},
    {SDL_SCANCODE_NONUSBACKSLASH, 0x56},
    {SDL_SCANCODE_F11, 0x57},
    {SDL_SCANCODE_F12, 0x58},
    {SDL_SCANCODE_F13, 0x64},
    {SDL_SCANCODE_F14, 0x65},
    {SDL_SCANCODE_F15, 0x66},
    {SDL_SCANCODE_INTERNATIONAL2, 0x70},
    {SDL_SCANCODE_INTERNATIONAL1, 0x73},
    {SDL_SCANCODE_INTERNATIONAL4, 0x79},
    {SDL_SCANCODE_INTERNATIONAL5, 0x7B},
    {SDL_SCANCODE_INTERNATIONAL3, 0x7D},
    {SDL_SCANCODE_KP_EQUALS, 0x8D},
    {SDL_SCANCODE_AUDIOPREV, 0x90},
    {SDL_SCANCODE_AUDIONEXT, 0x99},
    {SDL_SCANCODE_KP_ENTER, 0x9C},
    {SDL_SCANCODE_RCTRL, 0x9D},
    {SDL_SCANCODE_MUTE, 0xA0},
    {SDL_SCANCODE_CALCULATOR, 0xA1},
    {SDL_SCANCODE_AUDIOPLAY, 0xA2},
    {SDL_SCANCODE_AUDIOSTOP, 0xA4},
    {SDL_SCANCODE_VOLUMEDOWN, 0xAE},
    {SDL_SCANCODE_VOLUMEUP, 0xB0},
    {SDL_SCANCODE_AC_HOME, 0xB2},
    {SDL_SCANCODE_KP_COMMA, 0xB3},
    {SDL_SCANCODE_KP_DIVIDE, 0xB5},
    {SDL_SCANCODE_PRINTSCREEN, 0xB7},
    {SDL_SCANCODE_RALT, 0xB8},
    {SDL_SCANCODE_PAUSE, 0xC5},
    {SDL_SCANCODE_HOME, 0xC7},
    {SDL_SCANCODE_UP, 0xC8},
    {SDL_SCANCODE_PAGEUP, 0xC9},
    {SDL_SCANCODE_LEFT, 0xCB},
    {SDL_SCANCODE_RIGHT, 0xCD},
    {SDL_SCANCODE_END, 0xCF},
    {SDL_SCANCODE_DOWN, 0xD0},
    {SDL_SCANCODE_PAGEDOWN, 0xD1},
    {SDL_SCANCODE_INSERT, 0xD2},
    {SDL_SCANCODE_DELETE, 0xD3},
    {SDL_SCANCODE_LGUI, 0xDB},
    {SDL_SCANCODE_RGUI, 0xDC},
    {SDL_SCANCODE_APPLICATION, 0xDD},
    {SDL_SCANCODE_POWER, 0xDE},
    {SDL_SCANCODE_SLEEP, 0xDF},
    {SDL_SCANCODE_AC_SEARCH, 0xE5},
    {SDL_SCANCODE_AC_BOOKMARKS, 0xE6},
    {SDL_SCANCODE_AC_REFRESH, 0xE7},
    {SDL_SCANCODE_AC_STOP, 0xE8},
    {SDL_SCANCODE_AC_FORWARD, 0xE9},
    {SDL_SCANCODE_AC_BACK, 0xEA},
    {SDL_SCANCODE_COMPUTER, 0xEB},
    {SDL_SCANCODE_MAIL, 0xEC},
    {SDL_SCANCODE_MEDIASELECT, 0xED},
};

TEST_F(InputTest, EveryKeyComesThroughDirectInputUnderItsScanCode) {
    Start();
    ASSERT_NE(InputSystem.keyboardDevice, nullptr);
    std::vector<bool> mapped(SDL_NUM_SCANCODES, false);
    for (const KeyCase& k : kKeys) {
        SCOPED_TRACE(SDL_GetScancodeName(k.scancode));
        mapped[k.scancode] = true;
        Key(k.scancode, true);
        EXPECT_EQ(IsKeyDown(k.code), 1);
        std::uint8_t all[256];
        CopyAllKeyStates(all);
        for (int c = 0; c < 256; ++c) EXPECT_EQ(all[c], c == k.code ? 1 : 0) << c;
        Key(k.scancode, false);
        EXPECT_EQ(IsKeyDown(k.code), 0);
    }
    // Any other SDL scan code is a key DirectInput has no code for.
    for (int sc = 0; sc < SDL_NUM_SCANCODES; ++sc) {
        if (!mapped[sc]) {
            EXPECT_EQ(platform::input::DirectInputKeyOf(sc), 0) << sc;
        }
    }
    EXPECT_EQ(IsKeyDown(-1), 0);
    EXPECT_EQ(IsKeyDown(256), 0);
}

TEST_F(InputTest, WithoutDirectInputTheWindowKeyboardStateServesTheKeys) {
    platform::HideModule("dinput8.dll", true);
    ASSERT_EQ(InitInputDevices(), 0);
    EXPECT_EQ(InputSystem.directInput, kDirectInputAbsent);
    const KeyCase keys[] = {{SDL_SCANCODE_Z, 0x2C},      {SDL_SCANCODE_RETURN, 0x1C},
                            {SDL_SCANCODE_RSHIFT, 0x36}, {SDL_SCANCODE_LEFT, 0xCB},
                            {SDL_SCANCODE_F5, 0x3F},     {SDL_SCANCODE_PRINTSCREEN, 0xB7}};
    for (const KeyCase& k : keys) {
        SCOPED_TRACE(k.code);
        Key(k.scancode, true);
        NextTick();
        EXPECT_EQ(IsKeyDown(k.code), 1);
        Key(k.scancode, false);
        NextTick();
        EXPECT_EQ(IsKeyDown(k.code), 0);
    }
    // Enter's virtual key feeds both Enter and keypad Enter.
    Key(SDL_SCANCODE_RETURN, true);
    NextTick();
    EXPECT_EQ(IsKeyDown(0x9C), 1);
}

TEST_F(InputTest, KeysAssignedToPadOneMakeItsMaskWithoutAnyPad) {
    Start();
    EXPECT_EQ(InputSystem.padCount, 0);
    Key(SDL_SCANCODE_Z, true);
    EXPECT_EQ(GetJoypadButtonMask(kJoypadKeyboardFlag), 0x10);
    Key(SDL_SCANCODE_UP, true);
    EXPECT_EQ(GetJoypadButtonMask(kJoypadKeyboardFlag | 1), 0x18);
    EXPECT_EQ(GetJoypadButtonMask(1), 0);
}

TEST_F(InputTest, ControllerIsAnXInputPadWithDeadZoneButtonsAndPov) {
    SDL_Joystick* pad = AttachController();
    Start();
    ASSERT_EQ(InputSystem.padCount, 1);  // DirectInput lists it too, but it is registered once
    EXPECT_EQ(IsXInputPad(1), 1);
    EXPECT_EQ(IsXInputPad(2), -1);

    struct AxisCase {
        int raw;
        int x;
    };
    const AxisCase cases[] = {{11468, 0},    {-11468, 0},     {20000, 400},
                              {32767, 1000}, {-32768, -1000}, {-20000, -400}};
    for (const AxisCase& c : cases) {
        SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, static_cast<Sint16>(c.raw));
        NextTick();
        JoypadDInputState s;
        ASSERT_EQ(CopyJoypadDInputRecord(1, &s), 0);
        EXPECT_EQ(s.x, c.x) << c.raw;
    }
    // SDL's stick points down where XInput's points up; the DirectInput form points down again.
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 0);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTY, 32767);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 1);
    NextTick();
    JoypadXInputState x;
    ASSERT_EQ(CopyJoypadXInputRecord(1, &x), 0);
    EXPECT_EQ(x.thumbLY, -32768);
    EXPECT_EQ(x.leftTrigger, 255);
    EXPECT_EQ(x.buttons[12], 1);  // A is bit 12 of the button word
    JoypadDInputState s;
    CopyJoypadDInputRecord(1, &s);
    EXPECT_EQ(s.y, 1000);
    EXPECT_EQ(s.z, 1000);
    EXPECT_EQ(s.buttons[0], 0x80);
    EXPECT_EQ(GetJoypadButtonMask(1), 0x10 | 1);

    // The D-pad up and left: the first POV at 31500, which alone gives left and up.
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTY, 0);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 0);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_UP, 1);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 1);
    NextTick();
    CopyJoypadDInputRecord(1, &s);
    EXPECT_EQ(s.pov[0], 31500);
    EXPECT_EQ(s.x, 0);
    EXPECT_EQ(s.y, 0);
    EXPECT_EQ(GetJoypadButtonMask(1), 0xA);
}

TEST_F(InputTest, UnpluggedControllerReadsAsReleased) {
    SDL_Joystick* pad = AttachController();
    Start();
    ASSERT_EQ(InputSystem.padCount, 1);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_B, 1);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 32767);
    NextTick();
    EXPECT_EQ(GetJoypadButtonMask(1), 0x20 | 4);
    SDL_JoystickClose(pad);
    opened_.clear();
    SDL_JoystickDetachVirtual(0);
    NextTick();
    EXPECT_EQ(GetJoypadButtonMask(1), 0);
    JoypadDInputState s;
    EXPECT_EQ(CopyJoypadDInputRecord(1, &s), 0);
    EXPECT_EQ(s.x, 0);
    EXPECT_EQ(s.pov[0], -1);
    // The window hears that the devices changed, and setting the pads up again drops it.
    Pump();
    EXPECT_FALSE(gDeviceChanges.empty());
    EXPECT_EQ(ReinitJoypads(), 0);
    EXPECT_EQ(InputSystem.padCount, 0);
    EXPECT_EQ(GetJoypadButtonMask(1), 0);
}

TEST_F(InputTest, WithoutXInputTheControllerIsADirectInputPad) {
    platform::HideModule("xinput1_4.dll", true);
    SDL_Joystick* pad = AttachController();
    Start();
    ASSERT_EQ(InputSystem.padCount, 1);
    EXPECT_EQ(IsXInputPad(1), 0);
    ASSERT_NE(InputSystem.pads[0].device, nullptr);
    DIPROPDWORD zone{};
    zone.diph = {sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), 0, DIPH_BYOFFSET};
    ASSERT_EQ(InputSystem.pads[0].device->GetProperty(DIPROP_DEADZONE, &zone.diph), DI_OK);
    EXPECT_EQ(zone.dwData, 3499u);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, -32768);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_X, 1);
    NextTick();
    JoypadDInputState s;
    CopyJoypadDInputRecord(1, &s);
    EXPECT_EQ(s.x, -1000);
    EXPECT_EQ(s.buttons[2], 0x80);
    EXPECT_EQ(GetJoypadButtonMask(1), 2 | 0x40);
    // Unplugged while held: released, and no crash on the failed reads.
    SDL_JoystickClose(pad);
    opened_.clear();
    SDL_JoystickDetachVirtual(0);
    NextTick();
    EXPECT_EQ(GetJoypadButtonMask(1), 0);
}

TEST_F(InputTest, JoystickHatAndAxesThroughDirectInputAndTheSystemFunctions) {
    for (bool directInput : {true, false}) {
        SCOPED_TRACE(directInput);
        if (!directInput) platform::HideModule("dinput8.dll", true);
        SDL_Joystick* stick = AttachPad(SDL_JOYSTICK_TYPE_FLIGHT_STICK, 3, 4, 1);
        std::memset(&InputSystem, 0, sizeof(InputSystem));
        Start();
        ASSERT_EQ(InputSystem.padCount, 1);
        SDL_JoystickSetVirtualHat(stick, 0, SDL_HAT_LEFTUP);
        SDL_JoystickSetVirtualAxis(stick, 0, -1);  // the system functions' 32767: centre
        NextTick();
        JoypadDInputState s;
        CopyJoypadDInputRecord(1, &s);
        EXPECT_EQ(s.pov[0], 31500);
        EXPECT_EQ(s.x, 0);
        EXPECT_EQ(GetJoypadButtonMask(1), 0xA);
        SDL_JoystickSetVirtualHat(stick, 0, SDL_HAT_CENTERED);
        SDL_JoystickSetVirtualAxis(stick, 1, 32767);
        SDL_JoystickSetVirtualButton(stick, 3, 1);
        NextTick();
        CopyJoypadDInputRecord(1, &s);
        EXPECT_EQ(s.pov[0], -1);
        EXPECT_EQ(s.y, 1000);
        EXPECT_EQ(GetJoypadButtonMask(1), 1 | (1 << 7));
        TerminateInputDevices();
        for (SDL_Joystick* j : opened_) SDL_JoystickClose(j);
        opened_.clear();
        SDL_JoystickDetachVirtual(0);
    }
}

TEST_F(InputTest, BadPadNumbersAndDeadZoneLimits) {
    SDL_Joystick* pad = AttachController();
    (void)pad;
    Start();
    JoypadDInputState s;
    std::memset(&s, 0x55, sizeof(s));
    EXPECT_EQ(CopyJoypadDInputRecord(17, &s), -1);
    EXPECT_EQ(s.x, 0);
    EXPECT_EQ(s.buttons[31], 0);
    for (int pov : s.pov) EXPECT_EQ(pov, -1);
    JoypadXInputState x;
    std::memset(&x, 0x55, sizeof(x));
    EXPECT_EQ(CopyJoypadXInputRecord(2, &x), -1);
    EXPECT_EQ(x.thumbRY, 0);
    EXPECT_EQ(GetJoypadButtonMask(5), 0);
    EXPECT_EQ(SetJoypadAxisDeadZone(1, 1.5), 0);
    EXPECT_EQ(InputSystem.pads[0].deadZoneValue, 1.0);
    EXPECT_EQ(InputSystem.pads[0].deadZone, 65536);
    EXPECT_EQ(SetJoypadAxisDeadZone(9, 0.5), 0);
    EXPECT_EQ(StopJoypadVibration(9, -1), 0);
    EXPECT_EQ(UpdateJoypadVibration(), 0);
}

TEST_F(InputTest, VibrationTimesCountAcrossTheClocksWrap) {
    AttachController();
    Start();
    ASSERT_EQ(InputSystem.padCount, 1);
    ASSERT_GE(InputSystem.pads[0].xinputIndex, 0);
    // The millisecond clock starts again near 0; the motor's times were taken just before its
    // wrap at 2^31.
    ResetMillisecondClockOrigin();
    ReadMillisecondClock();
    JoypadMotor* motors = InputSystem.pads[0].motor;
    motors[0].playing = 1;
    motors[0].playTime = 50;
    motors[0].lastTick = 0x7FFFFFFF - 99;  // 100 ms before the wrap
    for (int m = 0; m < 2; ++m) motors[m].lastSentTick = 0x7FFFFFFF - 1999;
    MainWindow.active = 0;  // an inactive window re-sends silence only once a second passed
    UpdateJoypadVibration();
    MainWindow.active = 1;
    EXPECT_EQ(motors[0].playing, 0);  // more than its 50 ms have passed
    EXPECT_GE(motors[0].elapsed, 100);
    EXPECT_LT(motors[0].lastSentTick, 1000);  // sent again: two seconds since the last send
    EXPECT_LT(motors[1].lastSentTick, 1000);
}

TEST_F(InputTest, WheelNotchesAndMouseButtons) {
    Start();
    ASSERT_NE(InputSystem.mouseDevice, nullptr);
    InputSystem.wheelAccumulator = 250;
    EXPECT_EQ(GetMouseWheelNotches(false), 2);
    EXPECT_EQ(InputSystem.wheelAccumulator, 250);
    EXPECT_EQ(GetMouseWheelNotches(true), 2);
    EXPECT_EQ(InputSystem.wheelAccumulator, 10);

    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = -3;
    platform::user32test::InjectEvent(e);
    e = SDL_Event{};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.button = SDL_BUTTON_RIGHT;
    e.button.state = SDL_PRESSED;
    platform::user32test::InjectEvent(e);
    Pump();
    EXPECT_EQ(GetMouseButtonState(), 2);
    // 10 kept, then three notches toward the player: -350 is two whole notches, -110 stays.
    EXPECT_EQ(GetMouseWheelNotches(true), -2);
    EXPECT_EQ(InputSystem.wheelAccumulator, -110);
}

TEST_F(InputTest, TouchPoints) {
    TouchFrame frame{};
    frame.count = 2;
    frame.points[1] = {0, 7, 30, 40, 0, {}};
    AddTouchInputData(&frame);
    EXPECT_EQ(GetTouchPointCount(), 2);
    int x = 0, y = 0, id = 0;
    EXPECT_EQ(GetTouchPoint(1, &x, &y, &id, nullptr, nullptr), 0);
    EXPECT_EQ(x, 30);
    EXPECT_EQ(y, 40);
    EXPECT_EQ(id, 7);
    EXPECT_EQ(GetTouchPoint(2, &x, &y, &id, nullptr, nullptr), -1);
    EXPECT_EQ(GetTouchPoint(-1, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
}

}  // namespace
