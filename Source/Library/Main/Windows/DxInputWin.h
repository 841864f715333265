// The input platform layer: DirectInput 8 for keyboard, mouse and game controllers, XInput for
// XInput controllers, the system joystick functions when DirectInput is not in use, and the
// window's own keyboard and wheel state as the fallback; it fills the input module's record.
#pragma once

#include "Main/DxInput.h"

namespace ZiDaz {

int InitPlatformInput();
int EndPlatformInput();
// 0: no DirectInput at all; 1: DirectInput also for keyboard and mouse on every system version.
int EnableDirectInputDevices(int flag);
int SetUpJoypads();
// The DirectInput enumeration callback: 1 to go on, 0 once the 16th pad is registered.
BOOL EnumJoypadDevice(const DIDEVICEINSTANCEW* instance, void* context);
int IsXInputDeviceByWmi(DWORD productId);
int UpdateJoypadState(int index);
int UpdateKeyboardState(bool pump);
int ReadMouseButtons();
int ReadMouseWheelNotches(bool take);
int SendJoypadVibration();
int ApplyJoypadDeadZone(JoypadRecord* record);
int ReacquireInputDevices();
int ReleaseAllJoypads();

// The message-path keyboard's table: (virtual key, DirectInput key code) pairs.
struct VirtualKeyPair {
    std::uint8_t virtualKey;
    std::uint8_t keyCode;
};
extern const VirtualKeyPair kVirtualKeyTable[110];

}  // namespace ZiDaz
