// The input state that the SDL event pump feeds and that DirectInput, XInput, the system joystick
// functions and GetKeyboardState read: keys by DirectInput code and by virtual key, the mouse, and
// the joysticks and game controllers SDL knows.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Com.h"
#include "platform/Input.h"

namespace platform::input {

// Every SDL event the pump reads passes through here first.
void ObserveEvent(const SDL_Event& e);

// Kinds of change a device's notification event is set for.
enum class Source { Keyboard, Mouse, Joystick };
void AddNotification(Source source, HANDLE event);
void RemoveNotification(HANDLE event);

// Keyboard: 256 bytes by DirectInput code, bit 7 = down; and by virtual key for GetKeyboardState
// (bit 7 = down, bit 0 = toggled).
void CopyDirectInputKeys(std::uint8_t out[256]);
void CopyVirtualKeys(std::uint8_t out[256]);

// Mouse: motion and wheel totals since the program started (the wheel in units of 120 per notch),
// and the buttons left, right, middle, X1, X2 (bit 7 = down).
struct MouseTotals {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t wheel = 0;
    std::uint8_t buttons[8] = {};
};
MouseTotals ReadMouseTotals();

// Joysticks. Each attached SDL joystick is a pad; the first four game controllers hold XInput
// user indices 0..3, each keeping its index while it stays attached.
struct PadInfo {
    GUID instance;  // stable for the pad's attachment
    GUID product;   // vendor and product ids as DirectInput gives them
    std::u16string name;
    int xinputSlot = -1;
    bool controller = false;  // an SDL game controller (read through its standard layout)
    int axes = 0;
    int buttons = 0;
    int hats = 0;
};

// Raw values: axes -32768..32767 in the order X, Y, Z, Rx, Ry, Rz, slider 0, slider 1 (centred
// when absent); hats in SDL_HAT_* bits; buttons 0/1.
struct PadReading {
    std::int32_t axes[8] = {};
    std::uint8_t hats[4] = {};
    std::uint8_t buttons[32] = {};
};

// Brings the pad list up to date with SDL (attach and removal) and lists every attached pad.
std::vector<PadInfo> ListPads();
bool FindPad(const GUID& instance, PadInfo* info);
// False when the pad is no longer attached.
bool ReadPad(const GUID& instance, PadReading* reading);

// XInput's view of the pad at a user index: false when none is there.
struct ControllerReading {
    std::uint16_t buttons = 0;  // XInput button word
    std::uint8_t leftTrigger = 0;
    std::uint8_t rightTrigger = 0;
    std::int16_t thumbs[4] = {};  // LX, LY, RX, RY; Y up
};
bool ReadControllerSlot(int slot, ControllerReading* reading);
bool RumbleControllerSlot(int slot, std::uint16_t low, std::uint16_t high);

// SDL hat bits as a point-of-view value: hundredths of a degree clockwise from up, or 0xFFFFFFFF
// when centred.
DWORD PovOfHat(std::uint8_t hat);

std::u16string Utf16Of(const char* utf8);

}  // namespace platform::input
