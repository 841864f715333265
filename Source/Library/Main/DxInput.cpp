#include "Main/DxInput.h"

#include <algorithm>
#include <cstring>

#include "Main/DxLog.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxInputWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindowQueries.h"

namespace ZiDaz {

InputSystemState InputSystem;

namespace {

// Set while the keyboard table is refreshed: the refresh can pump messages, and the window
// procedure can call back into this module.
bool gKeyboardRefreshing = false;

// The inactive wait of the queries, skipped while the activation handler runs.
void WaitForWindow() {
    if (!IsWindowActivationInProgress()) WaitWhileWindowInactive();
}

// The start-on-demand rule: when the module is not up, the query returns this instead of its own
// result (0 while the window is quitting, without starting).
bool NeedsStart(int* result) {
    if (InputSystem.initialised) return false;
    *result = IsWindowQuitRequested() ? 0 : InitInputDevices();
    return true;
}

int RefreshKeyboardGuarded(bool pump) {
    if (gKeyboardRefreshing) return 0;
    gKeyboardRefreshing = true;
    int result = UpdateKeyboardState(pump);
    gKeyboardRefreshing = false;
    return result;
}

bool ValidPadNumber(int pad) {
    int i = (pad & ~kJoypadKeyboardFlag) - 1;
    return i >= 0 && i < InputSystem.padCount;
}

int PadIndex(int pad) {
    return (pad & ~kJoypadKeyboardFlag) - 1;
}

}  // namespace

bool IsJoypadMotorAvailable(const JoypadRecord& pad, int motor) {
    if (pad.xinputIndex >= 0) return true;
    return pad.device != nullptr && pad.motor[motor].effect != nullptr;
}

int IsKeyDown(int keyCode) {
    WaitForWindow();
    int result;
    if (NeedsStart(&result)) return result;
    PollKeyboardTable(true);
    if (keyCode < 0 || keyCode > 255) return 0;
    return (InputSystem.keyStates[keyCode] & 0x80) ? 1 : 0;
}

int IsXInputPad(int pad) {
    WaitForWindow();
    int result;
    if (NeedsStart(&result)) return result;
    if (!ValidPadNumber(pad)) return -1;
    return InputSystem.pads[PadIndex(pad)].xinputIndex >= 0 ? 1 : 0;
}

int CopyAllKeyStates(std::uint8_t* keys) {
    WaitForWindow();
    int result;
    if (NeedsStart(&result)) return result;
    PollKeyboardTable(true);
    for (int k = 0; k < 256; ++k) keys[k] = (InputSystem.keyStates[k] & 0x80) ? 1 : 0;
    return 0;
}

int CopyJoypadDInputRecord(int pad, JoypadDInputState* out) {
    WaitForWindow();
    int result;
    if (NeedsStart(&result)) return result;
    int i = PadIndex(pad);
    if (i < 0 || i >= InputSystem.padCount) {
        if (out) {
            std::memset(out, 0, sizeof(*out));
            for (std::int32_t& pov : out->pov) pov = -1;
        }
        return -1;
    }
    UpdateJoypadState(i);
    // The pad can be gone after the read (the read pumps messages).
    if (out && i < InputSystem.padCount) *out = InputSystem.pads[i].state;
    return 0;
}

int GetJoypadButtonMask(int pad) {
    WaitForWindow();
    int result;
    if (NeedsStart(&result)) return result;
    const int n = InputSystem.padCount;
    const bool withKeys = (pad & kJoypadKeyboardFlag) != 0;
    const int part = pad & ~kJoypadKeyboardFlag;
    const int i = part - 1;
    if (n != 0 && !withKeys && (i < -1 || i >= n)) return 0;
    int c = 0;
    if (part != 0 && n != 0 && i < n) {
        if (i >= 0 && i < kMaxJoypads) UpdateJoypadState(i);
        if (InputSystem.padCount != 0 && !withKeys && (i < -1 || i >= InputSystem.padCount)) {
            return 0;
        }
        if (i >= 0 && i < InputSystem.padCount) {
            const JoypadDInputState& s = InputSystem.pads[i].state;
            if (s.x < 0) c |= 2;
            if (s.x > 0) c |= 4;
            if (s.y < 0) c |= 8;
            if (s.y > 0) c |= 1;
            switch (s.pov[0]) {
                case 0:
                    c |= 8;
                    break;
                case 4500:
                    c |= 8 | 4;
                    break;
                case 9000:
                    c |= 4;
                    break;
                case 13500:
                    c |= 4 | 1;
                    break;
                case 18000:
                    c |= 1;
                    break;
                case 22500:
                    c |= 1 | 2;
                    break;
                case 27000:
                    c |= 2;
                    break;
                case 31500:
                    c |= 2 | 8;
                    break;
                default:
                    break;
            }
            for (int k = 0; k < 24; ++k) {
                if (s.buttons[k] & 0x80) c |= 1 << (4 + k);
            }
        }
    }
    if (!withKeys) return c;
    RefreshKeyboardGuarded(true);
    const int keysOf = std::clamp(i, 0, kMaxJoypads - 1);
    for (int bit = 0; bit < 32; ++bit) {
        for (std::int32_t key : InputSystem.keyAssignment[keysOf][bit]) {
            if (key > 0 && key < 256 && (InputSystem.keyStates[key] & 0x80)) {
                c |= static_cast<int>(1u << bit);
                break;
            }
        }
    }
    return c;
}

int CopyJoypadXInputRecord(int pad, JoypadXInputState* out) {
    WaitForWindow();
    int result;
    if (NeedsStart(&result)) return result;
    int i = PadIndex(pad);
    if (i >= 0 && i < InputSystem.padCount && InputSystem.pads[i].xinputIndex >= 0) {
        UpdateJoypadState(i);
        if (out && i < InputSystem.padCount) *out = InputSystem.pads[i].xstate;
        return 0;
    }
    if (out) std::memset(out, 0, sizeof(*out));
    return -1;
}

int GetMouseButtonState() {
    return ReadMouseButtons();
}

int GetMouseClientPosition(int* x, int* y) {
    EnsureSystemApiTable();
    POINT p{0, 0};
    if (SystemApi.GetCursorPos) SystemApi.GetCursorPos(&p);
    ScreenPointToImagePoint(p.x, p.y, x, y);
    return 0;
}

int GetMouseWheelNotches(bool take) {
    return ReadMouseWheelNotches(take);
}

int SetMouseClientPosition(int x, int y) {
    EnsureSystemApiTable();
    if (SystemApi.SetCursorPos == nullptr) return 0;
    if (IsWindowedMode()) {
        int width = 0;
        int height = 0;
        GetScreenSize(&width, &height);
        double fx = 1.0;
        double fy = 1.0;
        GetWindowScaleFactors(&fx, &fy);
        int w = static_cast<int>(width * fx);
        int h = static_cast<int>(height * fy);
        int px = std::clamp(static_cast<int>(x * fx), 0, std::max(w, 0));
        int py = std::clamp(static_cast<int>(y * fy), 0, std::max(h, 0));
        RECT client{};
        GetMainWindowClientRect(&client);
        px += client.left;
        py += client.top;
        if (IsImageCentredInClient()) {
            px += (client.right - client.left - w) / 2;
            py += (client.bottom - client.top - h) / 2;
        }
        SystemApi.SetCursorPos(px, py);
        return 0;
    }
    int dx = x;
    int dy = y;
    if (ScreenPointToWindowPoint(x, y, &dx, &dy) == 0) {
        SystemApi.SetCursorPos(dx, dy);
    } else {
        SystemApi.SetCursorPos(x, y);
    }
    return 0;
}

int GetTouchPointCount() {
    return InputSystem.touch.count;
}

int GetTouchPoint(int index, int* x, int* y, int* id, int* device, int* time) {
    if (index < 0 || index >= InputSystem.touch.count || index >= 16) return -1;
    const TouchPoint& p = InputSystem.touch.points[index];
    if (x) *x = p.x;
    if (y) *y = p.y;
    if (id) *id = p.id;
    if (device) *device = p.device;
    if (time) *time = p.time;
    return 0;
}

int AddTouchInputData(const TouchFrame* frame) {
    if (frame == nullptr) return 0;
    InputSystem.touch = *frame;
    // A frame never holds more than its 16 points.
    InputSystem.touch.count = std::clamp(InputSystem.touch.count, 0, 16);
    return 0;
}

int InitInputDevices() {
    if (InputSystem.initialised) return 0;
    InputSystem.initialised = 1;
    if (!InputSystem.defaultDeadZoneSet) {
        InputSystem.defaultDeadZoneSet = 1;
        InputSystem.defaultDeadZone = 22937;
        InputSystem.defaultDeadZoneValue = 0.35;
    }
    if (InitPlatformInput() != 0) {
        InputSystem.initialised = 0;
        return -1;
    }
    for (JoypadRecord& pad : InputSystem.pads) {
        for (std::int32_t& pov : pad.state.pov) pov = -1;
    }
    return 0;
}

int TerminateInputDevices() {
    if (!InputSystem.initialised) return 0;
    int result = EndPlatformInput() == 0 ? 0 : -1;
    InputSystem.initialised = 0;
    return result;
}

int ReinitJoypads() {
    if (!InputSystem.initialised) return -1;
    if (SetUpJoypads() != 0) return -1;
    WriteLogTextUtf16(u"ジョイパッドの初期化は正常に終了しました\n");
    return 0;
}

int ReleaseJoypads() {
    if (!InputSystem.initialised) return -1;
    return ReleaseAllJoypads() == 0 ? 0 : -1;
}

int PollKeyboardTable(bool pump) {
    return RefreshKeyboardGuarded(pump);
}

int SetJoypadAxisDeadZone(int pad, double zone) {
    zone = std::clamp(zone, 0.0, 1.0);
    WaitForWindow();
    int result;
    if (NeedsStart(&result)) return result;
    int i = PadIndex(pad);
    if (i < 0 || i >= InputSystem.padCount) return 0;
    JoypadRecord& record = InputSystem.pads[i];
    record.deadZoneValue = zone;
    auto v = static_cast<std::int32_t>(zone * 65536);
    if (v != record.deadZone) {
        record.deadZone = v;
        record.deadZoneChanged = 1;
        ApplyJoypadDeadZone(&record);
    }
    return 0;
}

int StopJoypadVibration(int pad, int motor) {
    WaitForWindow();
    int result;
    if (NeedsStart(&result)) return result;
    int i = PadIndex(pad);
    if (i < 0 || i >= InputSystem.padCount) return 0;
    JoypadRecord& record = InputSystem.pads[i];
    for (int m = 0; m < 2; ++m) {
        if (motor >= 0 && motor != m) continue;
        if (!IsJoypadMotorAvailable(record, m) || !record.motor[m].playing) continue;
        record.motor[m].playing = 0;
        record.motor[m].power = 10000;
        ApplyJoypadVibration();
    }
    return 0;
}

int ApplyJoypadVibration() {
    if (InputSystem.initialised) SendJoypadVibration();
    return 0;
}

int UpdateJoypadVibration() {
    if (!InputSystem.initialised) return 0;
    int t = ReadMillisecondClock();
    for (int i = 0; i < InputSystem.padCount; ++i) {
        JoypadRecord& record = InputSystem.pads[i];
        for (int m = 0; m < 2; ++m) {
            JoypadMotor& motor = record.motor[m];
            if (!IsJoypadMotorAvailable(record, m) || !motor.playing || motor.playTime < 0) {
                continue;
            }
            if (t != motor.lastTick) {
                // Elapsed across the clock's wrap; a last tick after t counts nothing.
                int step = MillisecondsElapsed(t, motor.lastTick);
                if (step >= 0x40000000) step = 0;
                motor.elapsed += step;
                motor.lastTick = t;
            }
            if (motor.elapsed >= motor.playTime) StopJoypadVibration(i + 1, m);
        }
    }
    SendJoypadVibration();
    return 0;
}

}  // namespace ZiDaz
