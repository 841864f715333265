// The library's input module: the one record of keyboard, joypad, mouse and touch state, and the
// queries the game calls. The devices behind it are driven by the input platform layer
// (Main/Windows/DxInputWin.h), which fills the record.
#pragma once

#include <cstdint>

#include "platform/DInput.h"
#include "platform/XInput.h"

namespace ZiDaz {

// A pad's state in DirectInput form, whatever the device (DIJOYSTATE's layout): axes -1000..1000,
// POV in hundredths of a degree clockwise from up (-1 centred), button bytes with bit 7 = down.
struct JoypadDInputState {
    std::int32_t x, y, z, rx, ry, rz;
    std::int32_t slider[2];
    std::int32_t pov[4];
    std::uint8_t buttons[32];
};
static_assert(sizeof(JoypadDInputState) == 80);

// An XInput pad's state: one byte (0/1) per bit of the button word, triggers 0..255, raw thumbs.
struct JoypadXInputState {
    std::uint8_t buttons[16];
    std::uint8_t leftTrigger;
    std::uint8_t rightTrigger;
    std::int16_t thumbLX, thumbLY, thumbRX, thumbRY;
};
static_assert(sizeof(JoypadXInputState) == 26);

struct JoypadMotor {
    std::int32_t playing;
    std::int32_t power;     // 0..10000
    std::int32_t playTime;  // ms; negative = until stopped
    std::int32_t elapsed;
    std::int32_t lastTick;
    std::int32_t lastSentTick;
    std::int32_t lastPlaying;
    std::int32_t lastPower;
    IDirectInputEffect* effect;  // DirectInput pads; null if none
};

struct JoypadRecord {
    std::int32_t lastUpdateTime;
    JoypadMotor motor[2];
    std::int32_t deadZoneChanged;
    std::int32_t deadZone;  // x 65536
    double deadZoneValue;
    std::int32_t buttonCount;
    JoypadDInputState state;
    JoypadXInputState xstate;
    std::int32_t xinputIndex;  // 0..3, or -1 for another device
    IDirectInputDevice8W* device;
    HANDLE event;
    std::int32_t hasZAndR;
    std::int32_t caps;
    char16_t instanceName[260];
    char16_t productName[260];
    GUID instanceGuid;
    GUID productGuid;
};

struct TouchPoint {
    std::int32_t device;
    std::int32_t id;
    std::int32_t x;
    std::int32_t y;
    std::int32_t time;
    std::uint8_t reserved[12];
};

struct TouchFrame {
    std::int64_t time;
    std::int32_t reserved;
    std::int32_t count;
    TouchPoint points[16];
};
static_assert(sizeof(TouchFrame) == 528);

using XInputGetStateProc = DWORD (*)(DWORD, XINPUT_STATE*);
using XInputSetStateProc = DWORD (*)(DWORD, XINPUT_VIBRATION*);

inline constexpr int kMaxJoypads = 16;
inline constexpr int kJoypadKeyboardFlag = 0x1000;

struct InputSystemState {
    std::int32_t initialised;
    std::int32_t nonExclusiveJoypads;  // switch
    std::int32_t keyboardUpdateTime;
    std::uint8_t keyStates[256];  // the KeyStateTable, by DirectInput key code
    std::int32_t keyAssignment[kMaxJoypads][32][4];
    std::int32_t keyAssignmentSet;
    std::int32_t mouseButtonsValid;  // message-path mouse buttons
    std::uint8_t mouseButtons[5];    // left, right, middle, X1, X2
    std::int32_t wheelAccumulator;   // DirectInput wheel, 120 per notch
    std::int32_t padCount;
    JoypadRecord pads[kMaxJoypads];
    std::int32_t defaultDeadZoneSet;
    std::int32_t defaultDeadZone;  // x 65536
    double defaultDeadZoneValue;
    TouchFrame touch;
    // The platform layer's part.
    HMODULE xinputModule;
    XInputGetStateProc xinputGetState;
    XInputSetStateProc xinputSetState;
    std::int32_t noXInput;  // switch
    std::int32_t directInputOff;
    std::int32_t directInputDevices;  // set by EnableDirectInputDevices
    std::int32_t directInput8;
    std::int32_t noXInputFiltering;  // switch
    std::int32_t backgroundMouse;    // switch
    IDirectInput8W* directInput;     // null, a live object, or kDirectInputAbsent
    std::int32_t xinputPadCount;
    IDirectInputDevice8W* mouseDevice;
    IDirectInputDevice8W* keyboardDevice;
    HANDLE keyboardEvent;
    std::int32_t exclusiveKeyboard;      // switch
    std::int32_t noDirectInputKeyboard;  // switch
};

// The one record; zero at program load.
extern InputSystemState InputSystem;

// The DirectInput object's value when the module started without DirectInput.
inline IDirectInput8W* const kDirectInputAbsent =
    reinterpret_cast<IDirectInput8W*>(static_cast<std::intptr_t>(-1));

// Queries. Pad numbers start at 1.
int IsKeyDown(int keyCode);
int IsXInputPad(int pad);
int CopyAllKeyStates(std::uint8_t* keys);
int CopyJoypadDInputRecord(int pad, JoypadDInputState* out);
int GetJoypadButtonMask(int pad);
int CopyJoypadXInputRecord(int pad, JoypadXInputState* out);
int GetMouseButtonState();
int GetMouseClientPosition(int* x, int* y);
int GetMouseWheelNotches(bool take);
int SetMouseClientPosition(int x, int y);
int GetTouchPointCount();
int GetTouchPoint(int index, int* x, int* y, int* id, int* device, int* time);
int AddTouchInputData(const TouchFrame* frame);

// Life and the per-frame services.
int InitInputDevices();
int TerminateInputDevices();
int ReinitJoypads();
int ReleaseJoypads();
int PollKeyboardTable(bool pump);
int SetJoypadAxisDeadZone(int pad, double zone);
int StopJoypadVibration(int pad, int motor);
int ApplyJoypadVibration();
int UpdateJoypadVibration();

// Whether a motor of a pad record can vibrate.
bool IsJoypadMotorAvailable(const JoypadRecord& pad, int motor);

}  // namespace ZiDaz
