// The runtime's per-frame input record. Keyboard, mouse and the first joypad are read once per
// frame through the library's input module and turned into the game's four directions and four
// buttons (with their newly-pressed and auto-repeat forms), mouse position and buttons, and the
// raw key table. Everything in the runtime reads this record instead of the devices.
//
// Event commands steer it with two sets of switches: virtual input, which presses keys for one
// update, and enable flags, which shut inputs off until changed. In normal play every frame's eight
// game inputs are recorded by the key-input replay; while a replay plays they come from it.
//
// Key codes of the game: 100 + DirectInput key code for keyboard keys (100..355), 300 + button
// number for pad buttons (301..315 for the pad-mask bits 0x10 .. 0x40000).
#pragma once

#include <cstdint>
#include <string>

#include "Source/Library/Main/DxInput.h"

class Game_SystemState;

enum GameButton : std::int32_t {
    Decide = 0,
    Cancel = 1,
    Sub = 2,
    Extra = 3,
};

// DirectInput key codes the runtime tests by name.
namespace dik {
inline constexpr int Escape = 0x01;
inline constexpr int Backspace = 0x0E;
inline constexpr int Enter = 0x1C;
inline constexpr int LeftCtrl = 0x1D;
inline constexpr int LeftShift = 0x2A;
inline constexpr int RightShift = 0x36;
inline constexpr int LeftAlt = 0x38;
inline constexpr int Space = 0x39;
inline constexpr int CapsLock = 0x3A;
inline constexpr int F2 = 0x3C;
inline constexpr int F10 = 0x44;
inline constexpr int ScrollLock = 0x46;
inline constexpr int Numpad8 = 0x48;
inline constexpr int Numpad4 = 0x4B;
inline constexpr int Numpad6 = 0x4D;
inline constexpr int Numpad2 = 0x50;
inline constexpr int Numpad0 = 0x52;
inline constexpr int F11 = 0x57;
inline constexpr int F12 = 0x58;
inline constexpr int Kana = 0x70;
inline constexpr int Kanji = 0x94;
inline constexpr int NumpadEnter = 0x9C;
inline constexpr int RightCtrl = 0x9D;
inline constexpr int PrintScreen = 0xB7;
inline constexpr int RightAlt = 0xB8;
inline constexpr int Pause = 0xC5;
inline constexpr int Up = 0xC8;
inline constexpr int Left = 0xCB;
inline constexpr int Right = 0xCD;
inline constexpr int Down = 0xD0;
inline constexpr int Insert = 0xD2;
inline constexpr int LeftWindows = 0xDB;
inline constexpr int RightWindows = 0xDC;
}  // namespace dik

// The device reads of one update. The defaults call the library's input and window modules; a
// test may point entries at its own devices. A null entry reads as "nothing there".
struct GameInputDevices {
    int (*isMainWindowActive)();
    int (*getJoypadButtonMask)(int pad);
    int (*copyJoypadDInput)(int pad, ZiDaz::JoypadDInputState* out);
    int (*copyJoypadXInput)(int pad, ZiDaz::JoypadXInputState* out);  // 0 = an XInput pad
    int (*copyAllKeyStates)(std::uint8_t* keys);
    int (*getMouseButtonState)();
    int (*getMouseClientPosition)(int* x, int* y);
    int (*getMouseWheelNotches)(bool take);
    int (*setMouseCursorVisible)(int flag);
    int (*getMouseCursorVisibleSetting)();
    int (*pumpMessages)();
};

GameInputDevices& GetGameInputDevices();
// Puts every entry back to the library's.
void ResetGameInputDevices();

// Function keys in the order of the held/pressed pairs: F2..F7, F9, F8, then F11, F12; F10 apart.
enum FunctionKeyIndex : int {
    kF2 = 0,
    kF3,
    kF4,
    kF5,
    kF6,
    kF7,
    kF9,
    kF8,
    kF11,
    kF12,
    kFunctionKeyCount
};

struct Game_Input {
    std::uint8_t mouseHeld[3];
    std::uint8_t up, down, left, right;
    std::uint8_t ctrlHeld, shiftHeld;
    std::uint8_t ctrlPressed, shiftPressed;
    std::uint8_t altHeld;
    std::uint8_t upPressed, downPressed, leftPressed, rightPressed;
    std::uint8_t upActive, downActive, leftActive, rightActive;
    std::uint8_t dir4Up, dir4Down, dir4Left, dir4Right;
    std::uint8_t mouseButton[3];
    std::uint8_t mousePressed[3];
    std::int32_t mouseX, mouseY;
    std::int32_t dir8;
    std::int32_t dir4;
    std::int32_t dirPressed;
    std::int32_t dir4Repeat;
    std::int32_t dir8Changed;
    std::int32_t dir8Repeat;
    std::int32_t wheel;
    std::int32_t mouseDX, mouseDY;
    std::int32_t vertical, verticalPressed, verticalRepeat;
    std::int32_t horizontal, horizontalPressed, horizontalRepeat;
    std::uint8_t buttonHeld[4];
    std::uint8_t buttonPressed[4];
    std::uint8_t gameButton[4];
    std::uint8_t gameButtonPressed[4];
    // Function keys by FunctionKeyIndex; F10 has its own three flags.
    std::uint8_t functionKeyHeld[kFunctionKeyCount];
    std::uint8_t functionKeyPressed[kFunctionKeyCount];
    std::uint8_t f10Held, f10Pressed, f10Released;
    std::uint8_t printKeyHeld, printKeyPressed;
    std::int32_t prevMouseX, prevMouseY;
    std::int32_t rawMouseX, rawMouseY;
    std::uint8_t keys[256];
    std::uint8_t rawKeys[256];
    std::uint8_t prevKeys[256];
    std::int32_t buttonRepeat[2];
    std::int32_t buttonHoldFrames[2];
    std::uint8_t enterHeld, enterPressed;
    std::uint32_t padMask;
    // Virtual input (one update).
    std::uint8_t forceButton[3];
    std::uint8_t forceUp, forceDown, forceLeft, forceRight;
    std::uint8_t forceKeys[256];
    std::uint8_t forceMouse[3];  // left, middle, right
    std::uint8_t forceWheel;
    std::int32_t forceMouseX, forceMouseY;  // -1000 = none
    std::int32_t forceWheelValue;
    std::uint8_t virtualInputGiven;
    // Enable flags (until changed).
    std::uint8_t keyEnabled[256];
    std::uint8_t buttonEnabled[3];
    std::uint8_t upEnabled, downEnabled, leftEnabled, rightEnabled;
    std::uint8_t playerButtonEnabled[3];
    std::uint8_t playerUpEnabled, playerDownEnabled, playerLeftEnabled, playerRightEnabled;
    std::uint8_t mouseEnabled;
    std::uint8_t padEnabled;
    std::uint8_t escapeHeld, escapePressed;
    std::uint8_t povTrusted;
    std::uint8_t windowsKeyHeld, windowsKeyPressed;
    ZiDaz::JoypadDInputState padState;
    ZiDaz::JoypadXInputState padXState;
    std::uint8_t forcedEnterCopy;
    std::int32_t povRaw;
    std::int32_t povLastCardinal;
    std::int32_t povDirection;
    std::int32_t stickX, stickY, stickRX, stickRY;
    std::int32_t leftTrigger, rightTrigger;
    std::int32_t stickZ;

    // The update's own previous-frame values.
    struct Previous {
        std::uint8_t buttonHeld[4];
        std::uint8_t escapeHeld;
        std::uint8_t gameButton[4];
        std::uint8_t up, down, left, right;
        std::int32_t dir8;
        std::int32_t dirHoldFrames;
        std::uint8_t ctrl, shift, printKey, enter, windowsKey;
        std::uint8_t functionKey[kFunctionKeyCount];
        std::uint8_t f10;
        std::uint8_t activeLast, activeBeforeLast;
    } previous;

    Game_Input();
    // Runs once before the frame loop: a pad whose POV is not centred now cannot give POV
    // directions until it has once read centred.
    void CheckPovAtStart();
    void Update();
    void ClearVirtualInput();
};

// The one input record (main thread only).
extern Game_Input TheInput;

// ---- Key configuration and key queries ----

// The keyboard code (100..355) pressed now: `code` itself when it is such a code and down, else
// the first pressed key of 2..146 (text-entry keys skipped); with a flag set, only a key other
// than *lastCode that was not down last frame.
int GetPressedKeyCode(bool remember, bool newOnly, int* lastCode, int code);
// The pad code (301..315) pressed now, by the same rules over the pad-mask bits.
int GetPressedPadCode(bool remember, bool newOnly, int* lastCode, int code);
// Gives button 0..2 the keyboard code (100..355) or pad code (301..320); a code another button
// holds swaps the two. Out-of-range codes change nothing (reported in test play). Null state =
// the live system state.
void SetKeyConfig(int code, int button, bool keyboard, Game_SystemState* state);
int GetConfiguredKeyCode(int button, bool keyboard, Game_SystemState* state);
std::string GetConfiguredKeyName(int button, bool keyboard);
std::string KeyCodeToName(int keyCode);
