// Stepped devices for the input record's tests: a key table, a pad, a mouse and the window's
// active flag that the test sets before each update.
#pragma once

#include <cstring>

#include "runtime/shell/Game_Input.h"

namespace shell_test {

struct FakeDevices {
    bool active = true;
    std::uint8_t keys[256] = {};
    bool padPresent = false;
    bool xinput = false;
    ZiDaz::JoypadDInputState pad{};
    ZiDaz::JoypadXInputState padX{};
    int padMask = 0;
    int mouseX = 0, mouseY = 0, mouseButtons = 0, wheel = 0;
    int cursorShown = 1;
    int cursorCalls = 0;

    static FakeDevices& Get() {
        static FakeDevices d;
        return d;
    }
};

class FakeDeviceScope {
  public:
    FakeDeviceScope() {
        FakeDevices::Get() = FakeDevices{};
        for (std::int32_t& p : FakeDevices::Get().pad.pov) p = -1;
        GameInputDevices& d = GetGameInputDevices();
        d.isMainWindowActive = [] { return FakeDevices::Get().active ? 1 : 0; };
        d.getJoypadButtonMask = [](int) { return FakeDevices::Get().padMask; };
        d.copyJoypadDInput = [](int, ZiDaz::JoypadDInputState* out) {
            if (!FakeDevices::Get().padPresent) return -1;
            *out = FakeDevices::Get().pad;
            return 0;
        };
        d.copyJoypadXInput = [](int, ZiDaz::JoypadXInputState* out) {
            if (!FakeDevices::Get().padPresent || !FakeDevices::Get().xinput) return -1;
            *out = FakeDevices::Get().padX;
            return 0;
        };
        d.copyAllKeyStates = [](std::uint8_t* keys) {
            std::memcpy(keys, FakeDevices::Get().keys, 256);
            return 0;
        };
        d.getMouseButtonState = [] { return FakeDevices::Get().mouseButtons; };
        d.getMouseClientPosition = [](int* x, int* y) {
            *x = FakeDevices::Get().mouseX;
            *y = FakeDevices::Get().mouseY;
            return 0;
        };
        d.getMouseWheelNotches = [](bool) {
            int w = FakeDevices::Get().wheel;
            FakeDevices::Get().wheel = 0;
            return w;
        };
        d.setMouseCursorVisible = [](int flag) {
            FakeDevices::Get().cursorShown = flag;
            ++FakeDevices::Get().cursorCalls;
            return 0;
        };
        d.getMouseCursorVisibleSetting = [] { return FakeDevices::Get().cursorShown; };
        d.pumpMessages = [] { return 0; };
    }
    ~FakeDeviceScope() { ResetGameInputDevices(); }
    FakeDeviceScope(const FakeDeviceScope&) = delete;
    FakeDeviceScope& operator=(const FakeDeviceScope&) = delete;

    FakeDevices& devices() { return FakeDevices::Get(); }
};

}  // namespace shell_test
