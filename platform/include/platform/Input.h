// What the input layer (DirectInput 8, XInput, the system joystick functions, GetKeyboardState)
// shares over SDL2: the one table from SDL scan codes to DirectInput key codes, and test hooks.
#pragma once

#include <cstdint>

namespace platform::input {

// The DirectInput key code (PC set-1 scan code, 0x80 added for the extended keys) of the key at an
// SDL scan code's position; 0 for a key DirectInput has no code for.
std::uint8_t DirectInputKeyOf(int sdlScancode);

}  // namespace platform::input

namespace platform::inputtest {

// Forgets every key and mouse button held and all mouse motion (between tests).
void ResetKeyboardAndMouse();

}  // namespace platform::inputtest
