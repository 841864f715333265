// XInput: up to four game controllers by user index, read as a button word, two triggers and two
// thumb sticks, and their two motors.
#pragma once

#include "platform/WinTypes.h"

inline constexpr DWORD XUSER_MAX_COUNT = 4;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr DWORD ERROR_BAD_ARGUMENTS = 160;

inline constexpr WORD XINPUT_GAMEPAD_DPAD_UP = 0x0001;
inline constexpr WORD XINPUT_GAMEPAD_DPAD_DOWN = 0x0002;
inline constexpr WORD XINPUT_GAMEPAD_DPAD_LEFT = 0x0004;
inline constexpr WORD XINPUT_GAMEPAD_DPAD_RIGHT = 0x0008;
inline constexpr WORD XINPUT_GAMEPAD_START = 0x0010;
inline constexpr WORD XINPUT_GAMEPAD_BACK = 0x0020;
inline constexpr WORD XINPUT_GAMEPAD_LEFT_THUMB = 0x0040;
inline constexpr WORD XINPUT_GAMEPAD_RIGHT_THUMB = 0x0080;
inline constexpr WORD XINPUT_GAMEPAD_LEFT_SHOULDER = 0x0100;
inline constexpr WORD XINPUT_GAMEPAD_RIGHT_SHOULDER = 0x0200;
inline constexpr WORD XINPUT_GAMEPAD_A = 0x1000;
inline constexpr WORD XINPUT_GAMEPAD_B = 0x2000;
inline constexpr WORD XINPUT_GAMEPAD_X = 0x4000;
inline constexpr WORD XINPUT_GAMEPAD_Y = 0x8000;

struct XINPUT_GAMEPAD {
    WORD wButtons;
    BYTE bLeftTrigger;
    BYTE bRightTrigger;
    SHORT sThumbLX;
    SHORT sThumbLY;
    SHORT sThumbRX;
    SHORT sThumbRY;
};

struct XINPUT_STATE {
    DWORD dwPacketNumber;
    XINPUT_GAMEPAD Gamepad;
};
static_assert(sizeof(XINPUT_STATE) == 16);

struct XINPUT_VIBRATION {
    WORD wLeftMotorSpeed;
    WORD wRightMotorSpeed;
};

namespace platform::xinput {

// The first four SDL game controllers, each keeping its user index while it stays connected.
// Thumb Y axes point up, as XInput's do.
DWORD XInputGetState(DWORD userIndex, XINPUT_STATE* state);
// Rumble through SDL where the controller has it; ERROR_SUCCESS for any connected controller.
DWORD XInputSetState(DWORD userIndex, XINPUT_VIBRATION* vibration);

}  // namespace platform::xinput
