#include "Main/Windows/DxInputWin.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "Main/DxLog.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindowQueries.h"
#include "platform/Modules.h"

namespace ZiDaz {

const VirtualKeyPair kVirtualKeyTable[110] = {
    {0x41, 0x1E}, {0x42, 0x30}, {0x43, 0x2E}, {0x44, 0x20}, {0x45, 0x12}, {0x46, 0x21},
    {0x47, 0x22}, {0x48, 0x23}, {0x49, 0x17}, {0x4A, 0x24}, {0x4B, 0x25}, {0x4C, 0x26},
    {0x4D, 0x32}, {0x4E, 0x31}, {0x4F, 0x18}, {0x50, 0x19}, {0x51, 0x10}, {0x52, 0x13},
    {0x53, 0x1F}, {0x54, 0x14}, {0x55, 0x16}, {0x56, 0x2F}, {0x57, 0x11}, {0x58, 0x2D},
    {0x59, 0x15}, {0x5A, 0x2C}, {0x30, 0x0B}, {0x31, 0x02}, {0x32, 0x03}, {0x33, 0x04},
    {0x34, 0x05}, {0x35, 0x06}, {0x36, 0x07}, {0x37, 0x08}, {0x38, 0x09}, {0x39, 0x0A},
    {0x25, 0xCB}, {0x26, 0xC8}, {0x27, 0xCD}, {0x28, 0xD0}, {0xBB, 0x27}, {0xBA, 0x92},
    {0xDB, 0x1A}, {0xDD, 0x1B}, {0xC0, 0x91}, {0xE2, 0x2B}, {0xBC, 0x33}, {0xDE, 0x90},
    {0xDF, 0x29}, {0xBD, 0x0C}, {0xDC, 0x7D}, {0xBE, 0x34}, {0xBF, 0x35}, {0x2E, 0xD3},
    {0x1B, 0x01}, {0x20, 0x39}, {0x08, 0x0E}, {0x09, 0x0F}, {0x0D, 0x1C}, {0x90, 0x45},
    {0x60, 0x52}, {0x61, 0x4F}, {0x62, 0x50}, {0x63, 0x51}, {0x64, 0x4B}, {0x65, 0x4C},
    {0x66, 0x4D}, {0x67, 0x47}, {0x68, 0x48}, {0x69, 0x49}, {0x6A, 0x37}, {0x6B, 0x4E},
    {0x6D, 0x4A}, {0x6E, 0x53}, {0x6F, 0xB5}, {0x0D, 0x9C}, {0xA0, 0x2A}, {0xA1, 0x36},
    {0xA2, 0x1D}, {0xA3, 0x9D}, {0x21, 0xC9}, {0x22, 0xD1}, {0x23, 0xCF}, {0x24, 0xC7},
    {0x2D, 0xD2}, {0xA4, 0x38}, {0xA5, 0xB8}, {0x91, 0x46}, {0x5D, 0xDD}, {0x14, 0x3A},
    {0x2C, 0xB7}, {0x13, 0xC5}, {0x5B, 0xDB}, {0x5C, 0xDC}, {0xF4, 0x94}, {0x1C, 0x79},
    {0x1D, 0x7B}, {0xF2, 0x70}, {0x70, 0x3B}, {0x71, 0x3C}, {0x72, 0x3D}, {0x73, 0x3E},
    {0x74, 0x3F}, {0x75, 0x40}, {0x76, 0x41}, {0x77, 0x42}, {0x78, 0x43}, {0x79, 0x44},
    {0x7A, 0x57}, {0x7B, 0x58},
};

namespace {

constexpr int kVersionVista = 264;
constexpr char16_t kXInputControllerName[] = u"Controller (XBOX 360 For Windows)";
constexpr int kVkLButton = 0x01;
constexpr int kVkRButton = 0x02;
constexpr int kVkMButton = 0x04;
constexpr int kVkXButton1 = 0x05;
constexpr int kVkXButton2 = 0x06;
constexpr int kVkRShift = 0xA1;
constexpr int kDikRShift = 0x36;

// Set while InitPlatformInput runs.
bool gStarting = false;

// The data formats: the system keyboard (256 key bytes), the mouse (three relative axes and eight
// buttons, 20 bytes) and the joystick (six absolute axes, two sliders, four POVs and 32 buttons,
// 80 bytes).
struct Formats {
    DIOBJECTDATAFORMAT keyboardObjects[256];
    DIOBJECTDATAFORMAT mouseObjects[11];
    DIOBJECTDATAFORMAT joystickObjects[44];
    DIDATAFORMAT keyboard;
    DIDATAFORMAT mouse;
    DIDATAFORMAT joystick;

    Formats() {
        for (DWORD k = 0; k < 256; ++k) {
            keyboardObjects[k] = {&GUID_Key, k,
                                  DIDFT_BUTTON | DIDFT_OPTIONAL | DIDFT_MAKEINSTANCE(k), 0};
        }
        const GUID* axes[] = {&GUID_XAxis, &GUID_YAxis, &GUID_ZAxis};
        for (DWORD i = 0; i < 3; ++i) {
            mouseObjects[i] = {axes[i], i * 4,
                               DIDFT_AXIS | DIDFT_ANYINSTANCE | (i == 2 ? DIDFT_OPTIONAL : 0), 0};
        }
        for (DWORD i = 0; i < 8; ++i) {
            mouseObjects[3 + i] = {nullptr, 12 + i,
                                   DIDFT_BUTTON | DIDFT_ANYINSTANCE | (i >= 2 ? DIDFT_OPTIONAL : 0),
                                   0};
        }
        const GUID* joyAxes[] = {&GUID_XAxis,  &GUID_YAxis,  &GUID_ZAxis,  &GUID_RxAxis,
                                 &GUID_RyAxis, &GUID_RzAxis, &GUID_Slider, &GUID_Slider};
        int n = 0;
        for (DWORD i = 0; i < 8; ++i) {
            joystickObjects[n++] = {joyAxes[i], i * 4,
                                    DIDFT_AXIS | DIDFT_ANYINSTANCE | DIDFT_OPTIONAL, 0x100};
        }
        for (DWORD i = 0; i < 4; ++i) {
            joystickObjects[n++] = {&GUID_POV, 32 + i * 4,
                                    DIDFT_POV | DIDFT_ANYINSTANCE | DIDFT_OPTIONAL, 0};
        }
        for (DWORD i = 0; i < 32; ++i) {
            joystickObjects[n++] = {nullptr, 48 + i,
                                    DIDFT_BUTTON | DIDFT_ANYINSTANCE | DIDFT_OPTIONAL, 0};
        }
        keyboard = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 256, 256,
                    keyboardObjects};
        mouse = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 20, 11,
                 mouseObjects};
        joystick = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_ABSAXIS, 80, 44,
                    joystickObjects};
    }
};

const Formats& DataFormats() {
    static const Formats formats;
    return formats;
}

DWORD Now() {
    EnsureSystemApiTable();
    return SystemApi.timeGetTime ? SystemApi.timeGetTime() : 0;
}

bool DirectInputOn() {
    return InputSystem.directInputOff == 0;
}

bool DirectInputLive() {
    return InputSystem.directInput != nullptr && InputSystem.directInput != kDirectInputAbsent;
}

// Keyboard and mouse go through DirectInput when it is asked for, or on systems before Vista.
bool DirectInputForKeyboardAndMouse() {
    return InputSystem.directInputDevices != 0 || GetWindowsVersionCode() < kVersionVista;
}

bool DirectInputKeyboardInUse() {
    return DirectInputOn() && InputSystem.keyboardDevice != nullptr &&
           !InputSystem.noDirectInputKeyboard && DirectInputForKeyboardAndMouse();
}

bool DirectInputMouseInUse() {
    return DirectInputOn() && InputSystem.mouseDevice != nullptr &&
           DirectInputForKeyboardAndMouse();
}

bool EventSignalled(HANDLE event) {
    return event != nullptr && SystemApi.WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

void ClearDInputState(JoypadDInputState* state) {
    std::memset(state, 0, sizeof(*state));
    for (std::int32_t& pov : state->pov) pov = -1;
}

void SetDeviceProperty(IDirectInputDevice8W* device, const GUID* property, DWORD offset,
                       DWORD value) {
    DIPROPDWORD p{};
    p.diph = {sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), offset, DIPH_BYOFFSET};
    p.dwData = value;
    device->SetProperty(property, &p.diph);
}

constexpr const char16_t* kAxisNames[6] = {u"X軸", u"Y軸", u"Z軸", u"Rx軸", u"Ry軸", u"Rz軸"};

int DefaultDeadZone() {
    if (!InputSystem.defaultDeadZoneSet) {
        InputSystem.defaultDeadZoneSet = 1;
        InputSystem.defaultDeadZone = 22937;
        InputSystem.defaultDeadZoneValue = 0.35;
    }
    return InputSystem.defaultDeadZone;
}

void LogGuid(const char16_t* format, const GUID& g) {
    WriteLogFormatUtf16(format, g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                        g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

void FillDefaultKeyAssignment() {
    for (auto& pad : InputSystem.keyAssignment) {
        for (auto& bit : pad) std::fill(std::begin(bit), std::end(bit), -1);
    }
    const std::int32_t keys[14][2] = {
        {0x50, 0xD0}, {0x4B, 0xCB}, {0x4D, 0xCD}, {0x48, 0xC8}, {0x2C, -1}, {0x2D, -1}, {0x2E, -1},
        {0x1E, -1},   {0x1F, -1},   {0x20, -1},   {0x10, -1},   {0x11, -1}, {0x01, -1}, {0x39, -1}};
    for (int bit = 0; bit < 14; ++bit) {
        InputSystem.keyAssignment[0][bit][0] = keys[bit][0];
        InputSystem.keyAssignment[0][bit][1] = keys[bit][1];
    }
    InputSystem.keyAssignmentSet = 1;
}

void AbortDevice(IDirectInputDevice8W* device) {
    WriteLogTextUtf16(u"検出した DirectInput 対応入力装置の初期化を中断します\n");
    if (device) device->Release();
}

// A thumb or stick value of XInput (-32768..32767) as -1000..1000 after the dead zone.
std::int32_t XInputAxis(int v, int deadZone, bool negate) {
    const auto h = static_cast<std::int16_t>((deadZone * 32767) / 65536);
    std::int32_t r;
    if (v == -32768) {
        r = -1000;
    } else if (v == 32767) {
        r = 1000;
    } else if (v < -h) {
        r = (v + h) * 1000 / (32767 - h);
    } else if (v > h) {
        r = (v - h) * 1000 / (32767 - h);
    } else {
        r = 0;
    }
    return negate ? -r : r;
}

// A system-joystick axis (0..65535) as -1000..1000 after the dead zone.
std::int32_t JoystickAxis(DWORD f, int deadZone) {
    if (f == 0) return -1000;
    if (f == 32767) return 0;
    if (f == 65535) return 1000;
    const std::int64_t h = static_cast<std::int64_t>(deadZone) * 32768 / 65536;
    const std::int64_t g = 32768 - h;
    if (g <= 0) return 0;
    const auto v = static_cast<std::int64_t>(f);
    if (v < g) return static_cast<std::int32_t>(-((g - v) * 1000 / g));
    if (v > 32768 + h) return static_cast<std::int32_t>((v - 32768 - h) * 1000 / g);
    return 0;
}

int UpdateXInputPad(JoypadRecord& pad) {
    DWORD now = Now();
    if (static_cast<std::int32_t>(now) == pad.lastUpdateTime) return 0;
    pad.lastUpdateTime = static_cast<std::int32_t>(now);
    XINPUT_STATE x{};
    if (InputSystem.xinputGetState == nullptr ||
        InputSystem.xinputGetState(static_cast<DWORD>(pad.xinputIndex), &x) != ERROR_SUCCESS) {
        // A controller that is gone reads as released: sticks centred, nothing pressed.
        std::memset(&pad.xstate, 0, sizeof(pad.xstate));
        ClearDInputState(&pad.state);
        return 0;
    }
    const XINPUT_GAMEPAD& g = x.Gamepad;
    for (int b = 0; b < 16; ++b) pad.xstate.buttons[b] = (g.wButtons >> b) & 1;
    pad.xstate.leftTrigger = g.bLeftTrigger;
    pad.xstate.rightTrigger = g.bRightTrigger;
    pad.xstate.thumbLX = g.sThumbLX;
    pad.xstate.thumbLY = g.sThumbLY;
    pad.xstate.thumbRX = g.sThumbRX;
    pad.xstate.thumbRY = g.sThumbRY;
    JoypadDInputState& s = pad.state;
    s.x = XInputAxis(g.sThumbLX, pad.deadZone, false);
    s.rx = XInputAxis(g.sThumbRX, pad.deadZone, false);
    s.y = XInputAxis(g.sThumbLY, pad.deadZone, true);
    s.ry = XInputAxis(g.sThumbRY, pad.deadZone, true);
    s.z = 0;
    const int w = (pad.deadZone * 255) / 65536;
    if (w < 255) {
        if (g.bLeftTrigger > w) s.z += (g.bLeftTrigger - w) * 1000 / (255 - w);
        if (g.bRightTrigger > w) s.z += (w - g.bRightTrigger) * 1000 / (255 - w);
    }
    constexpr WORD masks[10] = {0x1000, 0x2000, 0x4000, 0x8000, 0x100,
                                0x200,  0x20,   0x10,   0x40,   0x80};
    for (int b = 0; b < 10; ++b) s.buttons[b] = (g.wButtons & masks[b]) ? 0x80 : 0;
    const bool up = g.wButtons & 1;
    const bool down = g.wButtons & 2;
    const bool left = g.wButtons & 4;
    const bool right = g.wButtons & 8;
    std::int32_t pov = -1;
    if (up && !left && !right) {
        pov = 0;
    } else if (up && right) {
        pov = 4500;
    } else if (right && !up && !down) {
        pov = 9000;
    } else if (down && right) {
        pov = 13500;
    } else if (down && !left && !right) {
        pov = 18000;
    } else if (down && left) {
        pov = 22500;
    } else if (left && !up && !down) {
        pov = 27000;
    } else if (up && left) {
        pov = 31500;
    }
    s.pov[0] = pov;
    s.pov[1] = s.pov[2] = s.pov[3] = -1;
    return 0;
}

bool ReacquirePad(JoypadRecord& pad) {
    if (SUCCEEDED(pad.device->Acquire())) return true;
    pad.device->SetCooperativeLevel(QueryMainWindow(), DISCL_BACKGROUND | DISCL_NONEXCLUSIVE);
    return SUCCEEDED(pad.device->Acquire());
}

int UpdateDirectInputPad(int index) {
    JoypadRecord& pad = InputSystem.pads[index];
    DWORD now = Now();
    const bool signalled = EventSignalled(pad.event);
    if (static_cast<std::int32_t>(now) == pad.lastUpdateTime && !signalled) return 0;
    pad.lastUpdateTime = static_cast<std::int32_t>(now);
    DIJOYSTATE state{};
    pad.device->Poll();
    HRESULT hr = pad.device->GetDeviceState(sizeof(state), &state);
    if (FAILED(hr)) {
        if (PumpMessagesUnlocked() != 0 || index >= InputSystem.padCount) return -1;
        if (!ReacquirePad(pad)) {
            // The device is gone (unplugged): it reads as released until the pads are set up
            // again, rather than keeping the buttons held at the moment it went.
            ClearDInputState(&pad.state);
            if (signalled) SystemApi.ResetEvent(pad.event);
            return 0;
        }
        if (PumpMessagesUnlocked() != 0 || index >= InputSystem.padCount) return -1;
        hr = pad.device->GetDeviceState(sizeof(state), &state);
    }
    if (SUCCEEDED(hr)) std::memcpy(&pad.state, &state, sizeof(state));
    if (signalled) SystemApi.ResetEvent(pad.event);
    return 0;
}

int UpdateSystemJoystick(int index) {
    JoypadRecord& pad = InputSystem.pads[index];
    DWORD now = Now();
    if (static_cast<std::int32_t>(now) == pad.lastUpdateTime) return 0;
    pad.lastUpdateTime = static_cast<std::int32_t>(now);
    JOYINFOEX info{};
    info.dwSize = sizeof(info);
    info.dwFlags = JOY_RETURNALL;
    const UINT id = static_cast<UINT>(index - InputSystem.xinputPadCount);
    if (SystemApi.joyGetPosEx == nullptr || SystemApi.joyGetPosEx(id, &info) != JOYERR_NOERROR) {
        ClearDInputState(&pad.state);
        return 0;
    }
    JoypadDInputState& s = pad.state;
    const int dz = pad.deadZone;
    const auto caps = static_cast<UINT>(pad.caps);
    s.x = JoystickAxis(info.dwXpos, dz);
    s.y = JoystickAxis(info.dwYpos, dz);
    s.z = (caps & JOYCAPS_HASZ) ? JoystickAxis(info.dwZpos, dz) : 0;
    s.rz = (caps & JOYCAPS_HASR) ? JoystickAxis(info.dwRpos, dz) : 0;
    s.rx = (caps & JOYCAPS_HASU) ? JoystickAxis(info.dwUpos, dz) : 0;
    s.ry = (caps & JOYCAPS_HASV) ? JoystickAxis(info.dwVpos, dz) : 0;
    for (int b = 0; b < 24; ++b) s.buttons[b] = (info.dwButtons >> b) & 1 ? 0x80 : 0;
    s.pov[0] = -1;
    if (caps & JOYCAPS_HASPOV) {
        s.pov[0] = info.dwPOV == JOY_POVCENTERED ? -1 : static_cast<std::int32_t>(info.dwPOV);
    }
    s.pov[1] = s.pov[2] = s.pov[3] = -1;
    return 0;
}

void CreateEffects(JoypadRecord& pad) {
    DWORD axes[2] = {DIJOFS_X, DIJOFS_Y};
    LONG direction[2] = {0, 0};
    DIENVELOPE envelope{sizeof(DIENVELOPE), 0, 500000, 0, 1000000};
    DIPERIODIC periodic{10000, 0, 0, 1500000};
    DIEFFECT effect{};
    effect.dwSize = sizeof(DIEFFECT);
    effect.dwFlags = DIEFF_POLAR | DIEFF_OBJECTOFFSETS;
    effect.dwDuration = INFINITE;
    effect.dwGain = 10000;
    effect.dwTriggerButton = DIEB_NOTRIGGER;
    effect.cAxes = 2;
    effect.rgdwAxes = axes;
    effect.rglDirection = direction;
    effect.lpEnvelope = &envelope;
    effect.cbTypeSpecificParams = sizeof(periodic);
    effect.lpvTypeSpecificParams = &periodic;
    // Creates one effect, logging the attempt; null when the device refuses it.
    auto create = [&](const GUID& kind, const char16_t* attempt) -> IDirectInputEffect* {
        WriteLogTextUtf16(attempt);
        IDirectInputEffect* created = nullptr;
        if (FAILED(pad.device->CreateEffect(kind, &effect, &created, nullptr))) {
            WriteLogTextUtf16(u"失敗\n");
            return nullptr;
        }
        WriteLogTextUtf16(u"成功\n");
        return created;
    };
    pad.motor[1].effect =
        create(GUID_Sine, u"DirectInputDevice の DirectInputEffect No.0 を作成... ");
    DICONSTANTFORCE constant{10000};
    effect.dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS;
    effect.lpEnvelope = nullptr;
    effect.cbTypeSpecificParams = sizeof(constant);
    effect.lpvTypeSpecificParams = &constant;
    pad.motor[0].effect =
        create(GUID_ConstantForce, u"DirectInputDevice の DirectInputEffect No.1 を作成... ");
}

void ReleaseEffect(IDirectInputEffect*& effect) {
    if (effect == nullptr) return;
    effect->Stop();
    effect->Unload();
    effect->Release();
    effect = nullptr;
}

void SetEffectMagnitude(IDirectInputEffect* effect, int motor, int power, DWORD flags) {
    DIEFFECT e{};
    e.dwSize = sizeof(DIEFFECT);
    DIPERIODIC periodic{static_cast<DWORD>(power), 0, 0, 1500000};
    DICONSTANTFORCE constant{power};
    if (motor == 1) {
        e.cbTypeSpecificParams = sizeof(periodic);
        e.lpvTypeSpecificParams = &periodic;
    } else {
        e.cbTypeSpecificParams = sizeof(constant);
        e.lpvTypeSpecificParams = &constant;
    }
    effect->SetParameters(&e, DIEP_TYPESPECIFICPARAMS | flags);
}

}  // namespace

int EnableDirectInputDevices(int flag) {
    InputSystem.directInputDevices = flag;
    InputSystem.directInputOff = flag == 0 ? 1 : 0;
    return 0;
}

int InitPlatformInput() {
    if (InputSystem.directInput != nullptr || gStarting) return 0;
    gStarting = true;
    EnsureSystemApiTable();

    // The settings survive the reset of the record.
    InputSystemState kept;
    std::memcpy(&kept, &InputSystem, sizeof(kept));
    std::memset(&InputSystem, 0, sizeof(InputSystem));
    InputSystem.initialised = kept.initialised;
    InputSystem.defaultDeadZoneSet = kept.defaultDeadZoneSet;
    InputSystem.defaultDeadZone = kept.defaultDeadZone;
    InputSystem.defaultDeadZoneValue = kept.defaultDeadZoneValue;
    InputSystem.nonExclusiveJoypads = kept.nonExclusiveJoypads;
    InputSystem.noXInput = kept.noXInput;
    InputSystem.noXInputFiltering = kept.noXInputFiltering;
    InputSystem.backgroundMouse = kept.backgroundMouse;
    InputSystem.exclusiveKeyboard = kept.exclusiveKeyboard;
    InputSystem.noDirectInputKeyboard = kept.noDirectInputKeyboard;
    InputSystem.directInputOff = kept.directInputOff;
    InputSystem.directInputDevices = kept.directInputDevices;
    std::memcpy(InputSystem.keyAssignment, kept.keyAssignment, sizeof(kept.keyAssignment));
    InputSystem.keyAssignmentSet = kept.keyAssignmentSet;
    InputSystem.directInput8 = 1;

    if (!InputSystem.noXInput) {
        WriteLogTextUtf16(u"XInput DLL の読み込み中... ");
        for (const char16_t* name : {u"xinput1_4.dll", u"xinput1_3.dll", u"xinput9_1_0.dll"}) {
            InputSystem.xinputModule = LoadLibraryW(name);
            if (InputSystem.xinputModule != nullptr) break;
        }
        if (InputSystem.xinputModule != nullptr) {
            WriteLogTextUtf16(u"成功\n");
            InputSystem.xinputGetState = reinterpret_cast<XInputGetStateProc>(
                GetProcAddress(InputSystem.xinputModule, "XInputGetState"));
            InputSystem.xinputSetState = reinterpret_cast<XInputSetStateProc>(
                GetProcAddress(InputSystem.xinputModule, "XInputSetState"));
        } else {
            WriteLogTextUtf16(u"失敗、XInputは使用しません\n");
        }
    }

    bool started = false;
    if (DirectInputOn()) {
        WriteLogTextUtf16(u"DirectInput関係初期化処理\n");
        WriteLogTextUtf16(u"DirectInput8 の取得を試みます...");
        void* object = nullptr;
        HRESULT hr =
            SystemApi.CoCreateInstance
                ? SystemApi.CoCreateInstance(CLSID_DirectInput8, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IDirectInput8W, &object)
                : REGDB_E_CLASSNOTREG;
        if (FAILED(hr) || object == nullptr) {
            WriteLogTextUtf16(u"取得に失敗。");
        } else {
            WriteLogTextUtf16(u"成功\n");
            WriteLogTextUtf16(u"引き続き初期化処理... ");
            auto* directInput = static_cast<IDirectInput8W*>(object);
            HINSTANCE instance =
                SystemApi.GetModuleHandleW ? SystemApi.GetModuleHandleW(nullptr) : nullptr;
            if (FAILED(directInput->Initialize(instance, 0x0800))) {
                WriteLogTextUtf16(u"初期化に失敗。");
                directInput->Release();
            } else {
                WriteLogTextUtf16(u"初期化成功\n");
                InputSystem.directInput = directInput;
                started = true;
            }
        }
        if (!started) {
            WriteLogTextUtf16(u"DirectInput を使用しません。\n");
            InputSystem.directInputOff = 1;
        }
    }

    if (!started) {
        PumpMessagesUnlocked();
        ReinitJoypads();
        for (UINT id = 0; id < 16 && InputSystem.padCount < kMaxJoypads; ++id) {
            JOYCAPSW caps{};
            if (SystemApi.joyGetDevCapsW == nullptr ||
                SystemApi.joyGetDevCapsW(id, &caps, sizeof(caps)) != JOYERR_NOERROR) {
                break;
            }
            JoypadRecord& pad = InputSystem.pads[InputSystem.padCount];
            std::memset(&pad, 0, sizeof(pad));
            pad.xinputIndex = -1;
            pad.hasZAndR = (caps.wCaps & JOYCAPS_HASZ) && (caps.wCaps & JOYCAPS_HASR) ? 1 : 0;
            pad.caps = static_cast<std::int32_t>(caps.wCaps);
            pad.deadZone = DefaultDeadZone();
            pad.deadZoneValue = InputSystem.defaultDeadZoneValue;
            pad.buttonCount = static_cast<std::int32_t>(caps.wNumButtons);
            ClearDInputState(&pad.state);
            ++InputSystem.padCount;
        }
        WriteLogFormatUtf16(u"パッドの数は %d 個です\n", InputSystem.padCount);
        InputSystem.directInput = kDirectInputAbsent;
        WriteLogTextUtf16(u"入力関連の初期化をしました\n");
    } else {
        PumpMessagesUnlocked();
        ReinitJoypads();
        const Formats& formats = DataFormats();
        HWND window = QueryMainWindow();
        WriteLogTextUtf16(u"マウスデバイスの初期化... ");
        IDirectInputDevice8W* mouse = nullptr;
        if (FAILED(InputSystem.directInput->CreateDevice(GUID_SysMouse, &mouse, nullptr)) ||
            FAILED(mouse->SetDataFormat(&formats.mouse)) ||
            FAILED(mouse->SetCooperativeLevel(window, DISCL_BACKGROUND | DISCL_NONEXCLUSIVE))) {
            if (mouse) mouse->Release();
            WriteLogTextUtf16(u"マウスデバイスの取得に失敗しました\n");
        } else {
            InputSystem.mouseDevice = mouse;
            WriteLogTextUtf16(u"初期化成功\n");
        }

        InputSystem.keyboardUpdateTime = static_cast<std::int32_t>(Now());
        if (!InputSystem.noDirectInputKeyboard) {
            WriteLogTextUtf16(u"キーボードデバイスの初期化... ");
            IDirectInputDevice8W* keyboard = nullptr;
            HANDLE event = nullptr;
            bool ok = SUCCEEDED(InputSystem.directInput->CreateDevice(GUID_SysKeyboard, &keyboard,
                                                                      nullptr)) &&
                      SUCCEEDED(keyboard->SetDataFormat(&formats.keyboard));
            if (ok) {
                HRESULT level = E_FAIL;
                if (InputSystem.exclusiveKeyboard) {
                    level =
                        keyboard->SetCooperativeLevel(window, DISCL_FOREGROUND | DISCL_EXCLUSIVE);
                }
                if (FAILED(level)) {
                    level = keyboard->SetCooperativeLevel(window,
                                                          DISCL_BACKGROUND | DISCL_NONEXCLUSIVE);
                }
                ok = SUCCEEDED(level);
            }
            if (ok) {
                DIPROPDWORD buffer{};
                buffer.diph = {sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), 0, DIPH_DEVICE};
                buffer.dwData = 100;
                if (FAILED(keyboard->SetProperty(DIPROP_BUFFERSIZE, &buffer.diph))) {
                    WriteLogTextUtf16(u"キーボードのプロパティ設定に失敗しました\n");
                }
                event = SystemApi.CreateEventA(nullptr, TRUE, FALSE, nullptr);
                HRESULT set = event ? keyboard->SetEventNotification(event) : E_FAIL;
                if (set != DI_OK && set != DI_POLLEDDEVICE) {
                    WriteLogTextUtf16(u"キーボードイベントのセットアップが失敗しました\n");
                    ok = false;
                }
            }
            if (ok && FAILED(keyboard->Acquire()) && FAILED(keyboard->Acquire())) ok = false;
            if (!ok) {
                if (keyboard) {
                    keyboard->SetEventNotification(nullptr);
                    keyboard->Release();
                }
                if (event) SystemApi.CloseHandle(event);
                WriteLogTextUtf16(u"キーボードデバイスの取得に失敗しました\n");
            } else {
                InputSystem.keyboardDevice = keyboard;
                InputSystem.keyboardEvent = event;
                WriteLogTextUtf16(u"初期化成功\n");
            }
        }
        InputSystem.keyboardUpdateTime = static_cast<std::int32_t>(Now());
        WriteLogTextUtf16(u"DirectInput 関連の初期化は正常に終了しました\n");
    }

    if (!InputSystem.keyAssignmentSet) FillDefaultKeyAssignment();
    gStarting = false;
    return 0;
}

int EndPlatformInput() {
    if (InputSystem.directInput == nullptr) return 0;
    if (InputSystem.directInput == kDirectInputAbsent) {
        WriteLogTextUtf16(u"入力関連の終了処理... 完了\n");
        InputSystem.directInput = nullptr;
        InputSystem.padCount = 0;
        InputSystem.xinputPadCount = 0;
    } else {
        WriteLogTextUtf16(u"DirectInput 関連の終了処理... 完了\n");
        ReleaseJoypads();
        if (IDirectInputDevice8W* keyboard = InputSystem.keyboardDevice) {
            keyboard->SetEventNotification(nullptr);
            keyboard->Unacquire();
            keyboard->Release();
            InputSystem.keyboardDevice = nullptr;
        }
        if (InputSystem.keyboardEvent) {
            SystemApi.CloseHandle(InputSystem.keyboardEvent);
            InputSystem.keyboardEvent = nullptr;
        }
        if (IDirectInputDevice8W* mouse = InputSystem.mouseDevice) {
            mouse->Unacquire();
            mouse->Release();
            InputSystem.mouseDevice = nullptr;
        }
        InputSystem.directInput->Release();
        InputSystem.directInput = nullptr;
    }
    if (InputSystem.xinputModule) {
        FreeLibrary(InputSystem.xinputModule);
        InputSystem.xinputModule = nullptr;
    }
    InputSystem.xinputGetState = nullptr;
    InputSystem.xinputSetState = nullptr;
    return 0;
}

int SetUpJoypads() {
    if (DirectInputOn() && !DirectInputLive()) return -1;
    ReleaseJoypads();
    WriteLogTextUtf16(u"ジョイパッドの初期化... \n");
    IncreaseLogIndent();
    InputSystem.padCount = 0;
    InputSystem.xinputPadCount = 0;
    WriteLogTextUtf16(u"XInput 対応コントローラーのチェックを開始します\n");
    if (InputSystem.xinputGetState) {
        for (DWORD index = 0; index < 4 && InputSystem.padCount < kMaxJoypads; ++index) {
            WriteLogFormatUtf16(u"XInput 対応コントローラー No.%d をチェック", index);
            XINPUT_STATE state{};
            if (InputSystem.xinputGetState(index, &state) != ERROR_SUCCESS) {
                WriteLogFormatUtf16(u"XInput 対応コントローラー No.%d の接続は確認できませんでした",
                                    index);
                continue;
            }
            WriteLogFormatUtf16(u"XInput 対応コントローラー No.%d の接続を確認しました", index);
            JoypadRecord& pad = InputSystem.pads[InputSystem.padCount];
            pad.xinputIndex = static_cast<std::int32_t>(index);
            pad.deadZone = DefaultDeadZone();
            pad.deadZoneValue = InputSystem.defaultDeadZoneValue;
            pad.buttonCount = 16;
            for (JoypadMotor& motor : pad.motor) {
                motor.playing = 0;
                motor.power = 0;
                motor.lastPlaying = 0;
                motor.lastPower = 0;
                motor.effect = nullptr;
            }
            ClearDInputState(&pad.state);
            std::memset(&pad.xstate, 0, sizeof(pad.xstate));
            std::copy(std::begin(kXInputControllerName), std::end(kXInputControllerName),
                      pad.instanceName);
            std::copy(std::begin(kXInputControllerName), std::end(kXInputControllerName),
                      pad.productName);
            WriteLogFormatUtf16(u"XInput 対応コントローラー No.%d を入力ナンバー %d で登録します",
                                index, InputSystem.padCount);
            ++InputSystem.padCount;
        }
    }
    InputSystem.xinputPadCount = InputSystem.padCount;
    WriteLogTextUtf16(u"XInput 対応コントローラーのチェック完了\n");
    if (DirectInputOn() && InputSystem.padCount < kMaxJoypads) {
        WriteLogTextUtf16(u"DirectInput 対応ジョイパッドの列挙を開始します\n");
        InputSystem.directInput->EnumDevices(DI8DEVCLASS_GAMECTRL, &EnumJoypadDevice, nullptr,
                                             DIEDFL_ATTACHEDONLY);
        WriteLogTextUtf16(u"DirectInput 対応ジョイパッドの列挙終了\n");
    }
    DecreaseLogIndent();
    return 0;
}

BOOL EnumJoypadDevice(const DIDEVICEINSTANCEW* instance, void*) {
    if (InputSystem.padCount >= kMaxJoypads) return DIENUM_STOP;
    WriteLogTextUtf16(u"DirectInput 対応入力装置を検出しました\n");
    LogGuid(u"Device Product GUID  : %08x,%04x,%04x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x\n",
            instance->guidProduct);
    LogGuid(u"Device Instance GUID : %08x,%04x,%04x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x\n",
            instance->guidInstance);
    JoypadRecord& pad = InputSystem.pads[InputSystem.padCount];
    std::memset(&pad, 0, sizeof(pad));
    pad.xinputIndex = -1;

    WriteLogTextUtf16(u"DirectInputDevice8 の作成... ");
    IDirectInputDevice8W* device = nullptr;
    HRESULT hr = InputSystem.directInput->CreateDevice(instance->guidInstance, &device, nullptr);
    if (FAILED(hr)) {
        WriteLogFormatUtf16(u"失敗 Error Code :0x%08x\n", static_cast<DWORD>(hr));
        AbortDevice(nullptr);
        return DIENUM_CONTINUE;
    }
    WriteLogTextUtf16(u"成功\n");
    pad.instanceGuid = instance->guidInstance;
    pad.productGuid = instance->guidProduct;

    WriteLogTextUtf16(u"DirectInputDevice の情報を取得します... ");
    DIDEVICEINSTANCEW info{};
    info.dwSize = sizeof(info);
    hr = device->GetDeviceInfo(&info);
    if (FAILED(hr)) {
        WriteLogFormatUtf16(u"失敗 ErrorCode :%08x\n", static_cast<DWORD>(hr));
        AbortDevice(device);
        return DIENUM_CONTINUE;
    }
    WriteLogTextUtf16(u"成功\n");
    std::copy(std::begin(info.tszInstanceName), std::end(info.tszInstanceName), pad.instanceName);
    std::copy(std::begin(info.tszProductName), std::end(info.tszProductName), pad.productName);
    pad.instanceName[259] = 0;
    pad.productName[259] = 0;
    WriteLogFormatUtf16(u"Device Product Name  : %s\n", pad.productName);
    WriteLogFormatUtf16(u"Device Instance Name : %s\n", pad.instanceName);

    if (!InputSystem.noXInputFiltering) {
        char16_t upper[260];
        std::copy(std::begin(pad.instanceName), std::end(pad.instanceName), upper);
        for (char16_t& c : upper) {
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        }
        auto contains = [&upper](std::u16string_view what) {
            return std::u16string_view(upper).find(what) != std::u16string_view::npos;
        };
        bool xinput = false;
        WriteLogTextUtf16(u"検出した DirectInput 対応入力装置が Xbox360コントローラーか確認... ");
        xinput = contains(u"XBOX 360 FOR WINDOWS");
        WriteLogTextUtf16(xinput ? u"一致\n" : u"不一致\n");
        if (!xinput) {
            WriteLogTextUtf16(
                u"検出した DirectInput 対応入力装置が XboxOneコントローラーか確認... ");
            xinput = contains(u"XBOX ONE FOR WINDOWS");
            WriteLogTextUtf16(xinput ? u"一致\n" : u"不一致\n");
        }
        if (!xinput && GetWindowsVersionCode() > 267) {
            WriteLogTextUtf16(
                u"検出した DirectInput 対応入力装置が XInput 対応コントローラーか確認... ");
            xinput = IsXInputDeviceByWmi(instance->guidProduct.Data1) != 0;
            WriteLogTextUtf16(xinput ? u"一致\n" : u"不一致\n");
        }
        if (xinput) {
            for (int i = 0; i < InputSystem.padCount; ++i) {
                if (InputSystem.pads[i].xinputIndex >= 0) {
                    AbortDevice(device);
                    return DIENUM_CONTINUE;
                }
            }
        }
    }

    WriteLogTextUtf16(u"DirectInputDevice のデータ形式に JOYSTICK 形式を設定... ");
    hr = device->SetDataFormat(&DataFormats().joystick);
    if (FAILED(hr)) {
        WriteLogFormatUtf16(u"失敗 Error Code :0x%08x\n", static_cast<DWORD>(hr));
        AbortDevice(device);
        return DIENUM_CONTINUE;
    }
    WriteLogTextUtf16(u"成功\n");

    HWND window = QueryMainWindow();
    hr = E_FAIL;
    if (!InputSystem.nonExclusiveJoypads) {
        WriteLogTextUtf16(
            u"DirectInputDevice の協調レベルに DISCL_FOREGROUND | DISCL_EXCLUSIVE を設定... ");
        hr = device->SetCooperativeLevel(window, DISCL_FOREGROUND | DISCL_EXCLUSIVE);
        WriteLogTextUtf16(SUCCEEDED(hr) ? u"成功\n" : u"失敗\n");
    }
    if (FAILED(hr)) {
        WriteLogTextUtf16(
            u"DirectInputDevice の協調レベルに DISCL_BACKGROUND | DISCL_NONEXCLUSIVE を設定... ");
        hr = device->SetCooperativeLevel(window, DISCL_BACKGROUND | DISCL_NONEXCLUSIVE);
        WriteLogTextUtf16(SUCCEEDED(hr) ? u"成功\n" : u"失敗\n");
    }

    for (DWORD axis = 0; axis < 6; ++axis) {
        WriteLogFormatUtf16(u"DirectInputDevice から取得する %s の値の範囲を設定... ",
                            kAxisNames[axis]);
        DIPROPRANGE range{};
        range.diph = {sizeof(DIPROPRANGE), sizeof(DIPROPHEADER), axis * 4, DIPH_BYOFFSET};
        range.lMin = -1000;
        range.lMax = 1000;
        WriteLogTextUtf16(SUCCEEDED(device->SetProperty(DIPROP_RANGE, &range.diph)) ? u"成功\n"
                                                                                    : u"失敗\n");
    }

    pad.deadZone = DefaultDeadZone();
    pad.deadZoneValue = InputSystem.defaultDeadZoneValue;
    WriteLogTextUtf16(u"DirectInputDevice のボタンの数を取得... ");
    DIDEVCAPS caps{};
    caps.dwSize = sizeof(caps);
    hr = device->GetCapabilities(&caps);
    if (FAILED(hr)) {
        WriteLogFormatUtf16(u"失敗 Error Code :0x%08x\n", static_cast<DWORD>(hr));
        AbortDevice(device);
        return DIENUM_CONTINUE;
    }
    pad.buttonCount = static_cast<std::int32_t>(caps.dwButtons);
    WriteLogFormatUtf16(u"成功　ボタンの数は %d 個です\n", pad.buttonCount);
    const DWORD deadZone = static_cast<DWORD>(pad.deadZone) * 10000 / 65536;
    for (DWORD axis = 0; axis < 6; ++axis) {
        WriteLogFormatUtf16(u"DirectInputDevice の %s のデッドゾーンを設定... ", kAxisNames[axis]);
        DIPROPDWORD zone{};
        zone.diph = {sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), axis * 4, DIPH_BYOFFSET};
        zone.dwData = deadZone;
        WriteLogTextUtf16(SUCCEEDED(device->SetProperty(DIPROP_DEADZONE, &zone.diph)) ? u"成功\n"
                                                                                      : u"失敗\n");
    }

    pad.device = device;
    if (!InputSystem.nonExclusiveJoypads) CreateEffects(pad);
    for (JoypadMotor& motor : pad.motor) {
        motor.playing = 0;
        motor.power = 10000;
        motor.lastPlaying = 0;
        motor.lastPower = 0;
    }

    WriteLogTextUtf16(u"DirectInputDevice の通知処理用の Event を作成... ");
    HANDLE event = SystemApi.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        WriteLogTextUtf16(u"失敗\n");
        ReleaseEffect(pad.motor[0].effect);
        ReleaseEffect(pad.motor[1].effect);
        pad.device = nullptr;
        AbortDevice(device);
        return DIENUM_CONTINUE;
    }
    WriteLogTextUtf16(u"成功\n");
    WriteLogTextUtf16(u"DirectInputDevice の通知処理用の Event を DirectInputDevice に設定... ");
    hr = device->SetEventNotification(event);
    WriteLogTextUtf16(hr == DI_OK || hr == DI_POLLEDDEVICE ? u"成功\n" : u"失敗\n");
    WriteLogTextUtf16(u"DirectInputDevice のアクセス権を取得... ");
    hr = device->Acquire();
    if (FAILED(hr)) {
        WriteLogTextUtf16(u"失敗\n");
        WriteLogTextUtf16(
            u"DirectInputDevice の協調レベルを DISCL_BACKGROUND | DISCL_NONEXCLUSIVE に変更... ");
        device->SetCooperativeLevel(window, DISCL_BACKGROUND | DISCL_NONEXCLUSIVE);
        hr = device->Acquire();
    }
    if (FAILED(hr)) {
        WriteLogFormatUtf16(u"失敗 Error Code :0x%08x\n", static_cast<DWORD>(hr));
        device->SetEventNotification(nullptr);
        SystemApi.CloseHandle(event);
        ReleaseEffect(pad.motor[0].effect);
        ReleaseEffect(pad.motor[1].effect);
        pad.device = nullptr;
        AbortDevice(device);
        return DIENUM_CONTINUE;
    }
    WriteLogTextUtf16(u"成功\n");

    pad.event = event;
    ClearDInputState(&pad.state);
    WriteLogFormatUtf16(u"検出した DirectInput 対応入力装置を入力ナンバー %d で登録します\n",
                        InputSystem.padCount);
    ++InputSystem.padCount;
    WriteLogTextUtf16(u"検出した DirectInput 対応入力装置の初期化は正常に終了しました\n");
    return InputSystem.padCount >= kMaxJoypads ? DIENUM_STOP : DIENUM_CONTINUE;
}

int IsXInputDeviceByWmi(DWORD) {
    // The WMI device list is not part of this platform: the locator cannot be created, and the
    // name test alone decides.
    EnsureSystemApiTable();
    if (SystemApi.CoCreateInstance == nullptr) return 0;
    // {4590F811-1D3A-11D0-891F-00AA004B2E24}, {DC12A687-737F-11CF-884D-00AA004B2E24}
    constexpr CLSID kWbemLocator = {
        0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
    constexpr IID kIWbemLocator = {
        0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
    void* locator = nullptr;
    HRESULT hr = SystemApi.CoCreateInstance(kWbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                            kIWbemLocator, &locator);
    if (SUCCEEDED(hr) && locator) static_cast<IUnknown*>(locator)->Release();
    return 0;
}

int UpdateJoypadState(int index) {
    if (index < 0 || index >= InputSystem.padCount) return 0;
    EnsureSystemApiTable();
    JoypadRecord& pad = InputSystem.pads[index];
    if (pad.xinputIndex >= 0) return UpdateXInputPad(pad);
    if (pad.device != nullptr) return UpdateDirectInputPad(index);
    if (!DirectInputOn()) return UpdateSystemJoystick(index);
    return 0;
}

int UpdateKeyboardState(bool pump) {
    EnsureSystemApiTable();
    if (DirectInputKeyboardInUse()) {
        const auto now = static_cast<std::int32_t>(Now());
        const bool signalled = EventSignalled(InputSystem.keyboardEvent);
        if (now == InputSystem.keyboardUpdateTime && !signalled) return 0;
        if (pump && PumpMessagesUnlocked() != 0) return 0;
        if (!DirectInputLive() || InputSystem.keyboardDevice == nullptr) return 0;
        IDirectInputDevice8W* keyboard = InputSystem.keyboardDevice;
        if (FAILED(keyboard->GetDeviceState(256, InputSystem.keyStates))) {
            if (FAILED(keyboard->Acquire())) return 0;
            if (FAILED(keyboard->GetDeviceState(256, InputSystem.keyStates))) return 0;
        }
        InputSystem.keyboardUpdateTime = now;
        if (signalled) SystemApi.ResetEvent(InputSystem.keyboardEvent);
        BYTE virtualKeys[256] = {};
        if (SystemApi.GetKeyboardState && SystemApi.GetKeyboardState(virtualKeys)) {
            InputSystem.keyStates[kDikRShift] = virtualKeys[kVkRShift];
        }
        return 1;
    }
    if (SystemApi.GetCurrentThreadId() != GetMainWindowThreadId()) return 0;
    const auto now = static_cast<std::int32_t>(Now());
    if (now == InputSystem.keyboardUpdateTime) return 0;
    if (pump && PumpMessagesUnlocked() != 0) return 0;
    BYTE virtualKeys[256] = {};
    if (SystemApi.GetKeyboardState == nullptr || !SystemApi.GetKeyboardState(virtualKeys)) {
        return 0;
    }
    InputSystem.keyboardUpdateTime = now;
    std::memset(InputSystem.keyStates, 0, sizeof(InputSystem.keyStates));
    for (const VirtualKeyPair& pair : kVirtualKeyTable) {
        InputSystem.keyStates[pair.keyCode] = virtualKeys[pair.virtualKey];
    }
    InputSystem.mouseButtons[0] = virtualKeys[kVkLButton];
    InputSystem.mouseButtons[1] = virtualKeys[kVkRButton];
    InputSystem.mouseButtons[2] = virtualKeys[kVkMButton];
    if (GetWindowsVersionCode() >= kVersionVista) {
        InputSystem.mouseButtons[3] = virtualKeys[kVkXButton1];
        InputSystem.mouseButtons[4] = virtualKeys[kVkXButton2];
    }
    InputSystem.mouseButtonsValid = 1;
    return 1;
}

int ReadMouseButtons() {
    EnsureSystemApiTable();
    const bool inactive = !IsMainWindowActive() && !InputSystem.backgroundMouse;
    if (DirectInputMouseInUse() && !inactive) {
        IDirectInputDevice8W* mouse = InputSystem.mouseDevice;
        DIMOUSESTATE2 state{};
        if (FAILED(mouse->GetDeviceState(sizeof(state), &state))) {
            if (FAILED(mouse->Acquire())) return 0;
            if (FAILED(mouse->GetDeviceState(sizeof(state), &state))) return 0;
        }
        InputSystem.wheelAccumulator += state.lZ;
        int bits = 0;
        for (int k = 0; k < 8; ++k) {
            if (state.rgbButtons[k] & 0x80) bits |= 1 << k;
        }
        return bits;
    }
    const bool vista = GetWindowsVersionCode() >= kVersionVista;
    PollKeyboardTable(true);
    auto down = [](std::uint8_t b) { return (b & 0x80) ? 1 : 0; };
    if (InputSystem.mouseButtonsValid) {
        const std::uint8_t* b = InputSystem.mouseButtons;
        int bits = down(b[0]) | down(b[1]) << 1 | down(b[2]) << 2;
        if (vista) bits |= down(b[3]) << 3 | down(b[4]) << 4;
        return bits;
    }
    BYTE virtualKeys[256] = {};
    if (SystemApi.GetKeyboardState == nullptr || !SystemApi.GetKeyboardState(virtualKeys)) {
        return 0;
    }
    int bits = down(virtualKeys[kVkLButton]) | down(virtualKeys[kVkRButton]) << 1 |
               down(virtualKeys[kVkMButton]) << 2;
    if (vista) bits |= down(virtualKeys[kVkXButton1]) << 3 | down(virtualKeys[kVkXButton2]) << 4;
    return bits;
}

int ReadMouseWheelNotches(bool take) {
    std::int32_t* accumulator = MainWindowWheelAccumulator();
    if (DirectInputMouseInUse()) {
        ReadMouseButtons();
        accumulator = &InputSystem.wheelAccumulator;
    }
    const std::int32_t notches = *accumulator / 120;
    if (take) *accumulator %= 120;
    return notches;
}

int SendJoypadVibration() {
    if (DirectInputOn() && !DirectInputLive()) return 0;
    const int t = ReadMillisecondClock();
    const bool active = IsMainWindowActive() != 0;
    const bool keepRunning = GetKeepRunningWhenInactive() != 0;
    for (int i = 0; i < InputSystem.padCount; ++i) {
        JoypadRecord& pad = InputSystem.pads[i];
        if (pad.xinputIndex >= 0) {
            if (InputSystem.xinputSetState == nullptr) continue;
            JoypadMotor& last = pad.motor[0];
            XINPUT_VIBRATION vibration{};
            bool due = false;
            if (active || keepRunning) {
                WORD speeds[2];
                for (int m = 0; m < 2; ++m) {
                    JoypadMotor& motor = pad.motor[m];
                    const int p = motor.playing ? motor.power : 0;
                    speeds[m] = static_cast<WORD>(p * 65535 / 10000);
                    if (p != motor.lastPower || MillisecondsElapsed(t, motor.lastSentTick) > 1000)
                        due = true;
                    motor.lastPower = p;
                    motor.lastPlaying = motor.playing;
                }
                vibration = {speeds[0], speeds[1]};
                if (keepRunning) due = true;
            } else {
                due = pad.motor[0].lastPower != 0 || pad.motor[1].lastPower != 0 ||
                      MillisecondsElapsed(t, last.lastSentTick) > 1000;
                for (JoypadMotor& motor : pad.motor) {
                    motor.lastPower = 0;
                    motor.lastPlaying = 0;
                }
            }
            if (due) {
                InputSystem.xinputSetState(static_cast<DWORD>(pad.xinputIndex), &vibration);
                pad.motor[0].lastSentTick = pad.motor[1].lastSentTick = t;
            }
            continue;
        }
        if (pad.device == nullptr) continue;
        for (int m = 0; m < 2; ++m) {
            JoypadMotor& motor = pad.motor[m];
            if (motor.effect == nullptr) continue;
            const bool timeUp = MillisecondsElapsed(t, motor.lastSentTick) > 1000;
            if (!active) {
                if (motor.lastPlaying || timeUp) {
                    motor.effect->Stop();
                    SetEffectMagnitude(motor.effect, m, 0, 0);
                    motor.lastPlaying = 0;
                    motor.lastPower = 0;
                    motor.lastSentTick = t;
                }
                continue;
            }
            const int p = motor.playing ? motor.power : 0;
            if (p == motor.lastPower && motor.playing == motor.lastPlaying && !timeUp) continue;
            if (p <= 0) {
                if (motor.lastPlaying || timeUp) motor.effect->Stop();
                if (p != motor.lastPower || timeUp) SetEffectMagnitude(motor.effect, m, p, 0);
            } else if (motor.lastPlaying) {
                SetEffectMagnitude(motor.effect, m, p, DIEP_NORESTART);
            } else {
                SetEffectMagnitude(motor.effect, m, p, 0);
                motor.effect->Start(INFINITE, 0);
            }
            motor.lastPower = p;
            motor.lastPlaying = motor.playing;
            motor.lastSentTick = t;
        }
    }
    return 0;
}

int ApplyJoypadDeadZone(JoypadRecord* record) {
    if (record == nullptr || record->device == nullptr) return 0;
    const DWORD value = static_cast<DWORD>(record->deadZone) * 10000 / 65536;
    for (DWORD axis = 0; axis < 6; ++axis) {
        SetDeviceProperty(record->device, DIPROP_DEADZONE, axis * 4, value);
    }
    return 0;
}

int ReacquireInputDevices() {
    if (!DirectInputLive()) return 0;
    HWND window = QueryMainWindow();
    for (int i = 0; i < InputSystem.padCount; ++i) {
        IDirectInputDevice8W* device = InputSystem.pads[i].device;
        if (device == nullptr) continue;
        device->Unacquire();
        HRESULT hr = E_FAIL;
        if (!InputSystem.nonExclusiveJoypads && IsMainWindowActive()) {
            hr = device->SetCooperativeLevel(window, DISCL_FOREGROUND | DISCL_EXCLUSIVE);
        }
        if (FAILED(hr)) device->SetCooperativeLevel(window, DISCL_BACKGROUND | DISCL_NONEXCLUSIVE);
        if (FAILED(device->Acquire())) {
            device->SetCooperativeLevel(window, DISCL_BACKGROUND | DISCL_NONEXCLUSIVE);
            device->Acquire();
        }
    }
    if (InputSystem.keyboardDevice) {
        InputSystem.keyboardDevice->Unacquire();
        InputSystem.keyboardDevice->Acquire();
    }
    return 0;
}

int ReleaseAllJoypads() {
    for (int i = 0; i < InputSystem.padCount; ++i) {
        JoypadRecord& pad = InputSystem.pads[i];
        if (pad.device != nullptr) {
            pad.device->Unacquire();
            pad.device->SetEventNotification(nullptr);
            ReleaseEffect(pad.motor[0].effect);
            ReleaseEffect(pad.motor[1].effect);
            pad.device->Release();
            if (pad.event) SystemApi.CloseHandle(pad.event);
        }
        std::memset(&pad, 0, sizeof(pad));
        ClearDInputState(&pad.state);
    }
    InputSystem.padCount = 0;
    return 0;
}

}  // namespace ZiDaz
