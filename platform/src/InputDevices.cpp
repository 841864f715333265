#include "InputDevices.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "User32Internal.h"
#include "platform/Kernel32.h"

namespace platform::input {

namespace {

struct KeyCode {
    SDL_Scancode scancode;
    std::uint8_t dik;
};

// The one table: every SDL scan code DirectInput has a code for, by key position.
constexpr KeyCode kKeyTable[] = {
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
    {SDL_SCANCODE_INTERNATIONAL2, 0x70},  // kana
    {SDL_SCANCODE_INTERNATIONAL1, 0x73},  // the Japanese "ro" key
    {SDL_SCANCODE_INTERNATIONAL4, 0x79},  // convert
    {SDL_SCANCODE_INTERNATIONAL5, 0x7B},  // no convert
    {SDL_SCANCODE_INTERNATIONAL3, 0x7D},  // yen
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

constexpr std::array<std::uint8_t, SDL_NUM_SCANCODES> BuildKeyIndex() {
    std::array<std::uint8_t, SDL_NUM_SCANCODES> index{};
    for (const KeyCode& k : kKeyTable) index[k.scancode] = k.dik;
    return index;
}
constexpr std::array<std::uint8_t, SDL_NUM_SCANCODES> kKeyIndex = BuildKeyIndex();

// The sided virtual keys GetKeyboardState reports beside the shared ones.
UINT SidedVirtualKey(SDL_Scancode sc) {
    switch (sc) {
        case SDL_SCANCODE_LSHIFT:
            return VK_LSHIFT;
        case SDL_SCANCODE_RSHIFT:
            return VK_RSHIFT;
        case SDL_SCANCODE_LCTRL:
            return VK_LCONTROL;
        case SDL_SCANCODE_RCTRL:
            return VK_RCONTROL;
        case SDL_SCANCODE_LALT:
            return VK_LMENU;
        case SDL_SCANCODE_RALT:
            return VK_RMENU;
        default:
            return 0;
    }
}

constexpr UINT kVkLButton = 0x01;
constexpr UINT kVkRButton = 0x02;
constexpr UINT kVkMButton = 0x04;
constexpr UINT kVkXButton1 = 0x05;
constexpr UINT kVkXButton2 = 0x06;

struct Pad {
    PadInfo info;
    SDL_JoystickID id = -1;
    SDL_Joystick* joystick = nullptr;
    SDL_GameController* controller = nullptr;
};

struct State {
    std::mutex mutex;
    std::uint8_t dik[256] = {};
    std::uint8_t vk[256] = {};
    // Key counts per virtual key, so that a shared key (Shift) stays down while either side is.
    std::uint8_t vkHeld[256] = {};
    MouseTotals mouse;
    std::vector<std::pair<Source, HANDLE>> notifications;
    bool padsStarted = false;
    std::vector<Pad> pads;
};

State& Shared() {
    static State state;
    return state;
}

void Notify(State& s, Source source) {
    for (auto& [kind, event] : s.notifications) {
        if (kind == source) kernel32::SetEvent(event);
    }
}

void SetVirtualKey(State& s, UINT vk, bool down) {
    if (vk == 0 || vk > 255) return;
    if (down) {
        if (s.vkHeld[vk] == 0) s.vk[vk] ^= 1;  // the toggle bit flips on each new press
        if (s.vkHeld[vk] < 255) ++s.vkHeld[vk];
    } else if (s.vkHeld[vk] > 0) {
        --s.vkHeld[vk];
    }
    s.vk[vk] = static_cast<std::uint8_t>((s.vk[vk] & 1) | (s.vkHeld[vk] ? 0x80 : 0));
}

int MouseButtonIndex(std::uint8_t sdlButton) {
    switch (sdlButton) {
        case SDL_BUTTON_LEFT:
            return 0;
        case SDL_BUTTON_RIGHT:
            return 1;
        case SDL_BUTTON_MIDDLE:
            return 2;
        case SDL_BUTTON_X1:
            return 3;
        case SDL_BUTTON_X2:
            return 4;
        default:
            return -1;
    }
}

UINT MouseVirtualKey(int index) {
    constexpr UINT keys[] = {kVkLButton, kVkRButton, kVkMButton, kVkXButton1, kVkXButton2};
    return index >= 0 && index < 5 ? keys[index] : 0;
}

GUID InstanceGuid(SDL_JoystickID id) {
    return GUID{static_cast<DWORD>(id), 0x5344, 0x4C32, {'V', 'E', 'L', 'K', 'P', 'A', 'D', 0}};
}

GUID ProductGuid(SDL_Joystick* joystick) {
    DWORD vendor = SDL_JoystickGetVendor(joystick);
    DWORD product = SDL_JoystickGetProduct(joystick);
    return GUID{(product << 16) | vendor, 0, 0, {0, 0, 'P', 'I', 'D', 'V', 'I', 'D'}};
}

void StartPadsLocked(State& s) {
    if (s.padsStarted) return;
    s.padsStarted = true;
    // DirectInput's background devices and XInput read pads whether or not a window has focus.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);
}

void ClosePad(Pad& pad) {
    if (pad.controller) {
        SDL_GameControllerClose(pad.controller);
    } else if (pad.joystick) {
        SDL_JoystickClose(pad.joystick);
    }
    pad.controller = nullptr;
    pad.joystick = nullptr;
}

// Brings the pad list up to date: removed pads are closed, new ones opened in SDL's order, and
// free XInput user indices go to the game controllers that have none, oldest first.
void RefreshPadsLocked(State& s) {
    StartPadsLocked(s);
    if (!SDL_WasInit(SDL_INIT_JOYSTICK)) return;
    SDL_JoystickUpdate();
    for (auto it = s.pads.begin(); it != s.pads.end();) {
        if (!SDL_JoystickGetAttached(it->joystick)) {
            ClosePad(*it);
            it = s.pads.erase(it);
        } else {
            ++it;
        }
    }
    int count = SDL_NumJoysticks();
    for (int i = 0; i < count; ++i) {
        SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(i);
        if (id < 0) continue;
        bool known =
            std::any_of(s.pads.begin(), s.pads.end(), [id](const Pad& p) { return p.id == id; });
        if (known) continue;
        Pad pad;
        pad.id = id;
        if (SDL_IsGameController(i)) {
            pad.controller = SDL_GameControllerOpen(i);
            if (pad.controller) pad.joystick = SDL_GameControllerGetJoystick(pad.controller);
        }
        if (!pad.joystick) {
            pad.controller = nullptr;
            pad.joystick = SDL_JoystickOpen(i);
        }
        if (!pad.joystick) continue;
        pad.info.instance = InstanceGuid(id);
        pad.info.product = ProductGuid(pad.joystick);
        const char* name = SDL_JoystickName(pad.joystick);
        pad.info.name = Utf16Of(name ? name : "Joystick");
        pad.info.controller = pad.controller != nullptr;
        if (pad.controller) {
            pad.info.axes = 5;
            pad.info.buttons = 11;
            pad.info.hats = 1;
        } else {
            pad.info.axes = std::min(SDL_JoystickNumAxes(pad.joystick), 8);
            pad.info.buttons = std::min(SDL_JoystickNumButtons(pad.joystick), 32);
            pad.info.hats = std::min(SDL_JoystickNumHats(pad.joystick), 4);
        }
        s.pads.push_back(pad);
    }
    for (Pad& pad : s.pads) {
        if (!pad.controller || pad.info.xinputSlot >= 0) continue;
        for (int slot = 0; slot < 4; ++slot) {
            bool used = std::any_of(s.pads.begin(), s.pads.end(),
                                    [slot](const Pad& p) { return p.info.xinputSlot == slot; });
            if (!used) {
                pad.info.xinputSlot = slot;
                break;
            }
        }
    }
}

Pad* FindPadLocked(State& s, const GUID& instance) {
    for (Pad& p : s.pads) {
        if (p.info.instance == instance) return &p;
    }
    return nullptr;
}

std::uint8_t HatOfDpad(SDL_GameController* c) {
    std::uint8_t hat = 0;
    if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_UP)) hat |= SDL_HAT_UP;
    if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_RIGHT)) hat |= SDL_HAT_RIGHT;
    if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_DOWN)) hat |= SDL_HAT_DOWN;
    if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_LEFT)) hat |= SDL_HAT_LEFT;
    return hat;
}

}  // namespace

std::uint8_t DirectInputKeyOf(int sdlScancode) {
    if (sdlScancode < 0 || sdlScancode >= SDL_NUM_SCANCODES) return 0;
    return kKeyIndex[static_cast<std::size_t>(sdlScancode)];
}

DWORD PovOfHat(std::uint8_t hat) {
    switch (hat) {
        case SDL_HAT_UP:
            return 0;
        case SDL_HAT_RIGHTUP:
            return 4500;
        case SDL_HAT_RIGHT:
            return 9000;
        case SDL_HAT_RIGHTDOWN:
            return 13500;
        case SDL_HAT_DOWN:
            return 18000;
        case SDL_HAT_LEFTDOWN:
            return 22500;
        case SDL_HAT_LEFT:
            return 27000;
        case SDL_HAT_LEFTUP:
            return 31500;
        default:
            return 0xFFFFFFFF;
    }
}

std::u16string Utf16Of(const char* utf8) {
    return user32::detail::FromUtf8(utf8);
}

void ObserveEvent(const SDL_Event& e) {
    State& s = Shared();
    switch (e.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            if (e.key.repeat) return;
            bool down = e.type == SDL_KEYDOWN;
            SDL_Scancode sc = e.key.keysym.scancode;
            std::lock_guard lock(s.mutex);
            if (std::uint8_t dik = DirectInputKeyOf(sc)) s.dik[dik] = down ? 0x80 : 0;
            SetVirtualKey(s, user32::detail::VirtualKeyOfScancode(sc), down);
            SetVirtualKey(s, SidedVirtualKey(sc), down);
            Notify(s, Source::Keyboard);
            return;
        }
        case SDL_MOUSEMOTION: {
            std::lock_guard lock(s.mutex);
            s.mouse.x += e.motion.xrel;
            s.mouse.y += e.motion.yrel;
            Notify(s, Source::Mouse);
            return;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            int index = MouseButtonIndex(e.button.button);
            if (index < 0) return;
            bool down = e.type == SDL_MOUSEBUTTONDOWN;
            std::lock_guard lock(s.mutex);
            s.mouse.buttons[index] = down ? 0x80 : 0;
            SetVirtualKey(s, MouseVirtualKey(index), down);
            Notify(s, Source::Mouse);
            return;
        }
        case SDL_MOUSEWHEEL: {
            int flip = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
            std::lock_guard lock(s.mutex);
            s.mouse.wheel += static_cast<std::int64_t>(e.wheel.y) * flip * 120;
            Notify(s, Source::Mouse);
            return;
        }
        case SDL_JOYAXISMOTION:
        case SDL_JOYBALLMOTION:
        case SDL_JOYHATMOTION:
        case SDL_JOYBUTTONDOWN:
        case SDL_JOYBUTTONUP:
        case SDL_JOYDEVICEADDED:
        case SDL_JOYDEVICEREMOVED: {
            std::lock_guard lock(s.mutex);
            Notify(s, Source::Joystick);
            return;
        }
        default:
            return;
    }
}

void AddNotification(Source source, HANDLE event) {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    s.notifications.emplace_back(source, event);
}

void RemoveNotification(HANDLE event) {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    std::erase_if(s.notifications, [event](const auto& n) { return n.second == event; });
}

void CopyDirectInputKeys(std::uint8_t out[256]) {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    std::copy(std::begin(s.dik), std::end(s.dik), out);
}

void CopyVirtualKeys(std::uint8_t out[256]) {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    std::copy(std::begin(s.vk), std::end(s.vk), out);
}

MouseTotals ReadMouseTotals() {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    return s.mouse;
}

std::vector<PadInfo> ListPads() {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    RefreshPadsLocked(s);
    std::vector<PadInfo> list;
    for (const Pad& p : s.pads) list.push_back(p.info);
    return list;
}

bool FindPad(const GUID& instance, PadInfo* info) {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    RefreshPadsLocked(s);
    Pad* pad = FindPadLocked(s, instance);
    if (pad && info) *info = pad->info;
    return pad != nullptr;
}

bool ReadPad(const GUID& instance, PadReading* reading) {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    RefreshPadsLocked(s);
    Pad* pad = FindPadLocked(s, instance);
    *reading = PadReading{};
    if (!pad) return false;
    if (SDL_GameController* c = pad->controller) {
        auto axis = [c](SDL_GameControllerAxis a) { return SDL_GameControllerGetAxis(c, a); };
        reading->axes[0] = axis(SDL_CONTROLLER_AXIS_LEFTX);
        reading->axes[1] = axis(SDL_CONTROLLER_AXIS_LEFTY);
        // One Z axis for both triggers: the left pushes it one way, the right the other.
        reading->axes[2] = std::clamp(
            axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT) - axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT), -32768,
            32767);
        reading->axes[3] = axis(SDL_CONTROLLER_AXIS_RIGHTX);
        reading->axes[4] = axis(SDL_CONTROLLER_AXIS_RIGHTY);
        constexpr SDL_GameControllerButton order[] = {SDL_CONTROLLER_BUTTON_A,
                                                      SDL_CONTROLLER_BUTTON_B,
                                                      SDL_CONTROLLER_BUTTON_X,
                                                      SDL_CONTROLLER_BUTTON_Y,
                                                      SDL_CONTROLLER_BUTTON_LEFTSHOULDER,
                                                      SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
                                                      SDL_CONTROLLER_BUTTON_BACK,
                                                      SDL_CONTROLLER_BUTTON_START,
                                                      SDL_CONTROLLER_BUTTON_LEFTSTICK,
                                                      SDL_CONTROLLER_BUTTON_RIGHTSTICK,
                                                      SDL_CONTROLLER_BUTTON_GUIDE};
        for (std::size_t i = 0; i < std::size(order); ++i) {
            reading->buttons[i] = SDL_GameControllerGetButton(c, order[i]) ? 1 : 0;
        }
        reading->hats[0] = HatOfDpad(c);
        return true;
    }
    for (int i = 0; i < pad->info.axes; ++i) {
        reading->axes[i] = SDL_JoystickGetAxis(pad->joystick, i);
    }
    for (int i = 0; i < pad->info.hats; ++i) {
        reading->hats[i] = SDL_JoystickGetHat(pad->joystick, i);
    }
    for (int i = 0; i < pad->info.buttons; ++i) {
        reading->buttons[i] = SDL_JoystickGetButton(pad->joystick, i) ? 1 : 0;
    }
    return true;
}

bool ReadControllerSlot(int slot, ControllerReading* reading) {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    RefreshPadsLocked(s);
    *reading = ControllerReading{};
    for (Pad& p : s.pads) {
        if (p.info.xinputSlot != slot || !p.controller) continue;
        SDL_GameController* c = p.controller;
        struct ButtonBit {
            SDL_GameControllerButton button;
            std::uint16_t bit;
        };
        constexpr ButtonBit bits[] = {
            {SDL_CONTROLLER_BUTTON_DPAD_UP, 0x0001},
            {SDL_CONTROLLER_BUTTON_DPAD_DOWN, 0x0002},
            {SDL_CONTROLLER_BUTTON_DPAD_LEFT, 0x0004},
            {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 0x0008},
            {SDL_CONTROLLER_BUTTON_START, 0x0010},
            {SDL_CONTROLLER_BUTTON_BACK, 0x0020},
            {SDL_CONTROLLER_BUTTON_LEFTSTICK, 0x0040},
            {SDL_CONTROLLER_BUTTON_RIGHTSTICK, 0x0080},
            {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 0x0100},
            {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 0x0200},
            {SDL_CONTROLLER_BUTTON_A, 0x1000},
            {SDL_CONTROLLER_BUTTON_B, 0x2000},
            {SDL_CONTROLLER_BUTTON_X, 0x4000},
            {SDL_CONTROLLER_BUTTON_Y, 0x8000},
        };
        for (const ButtonBit& b : bits) {
            if (SDL_GameControllerGetButton(c, b.button)) reading->buttons |= b.bit;
        }
        auto trigger = [c](SDL_GameControllerAxis a) {
            int v = std::max<int>(SDL_GameControllerGetAxis(c, a), 0);
            return static_cast<std::uint8_t>(v * 255 / 32767);
        };
        reading->leftTrigger = trigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT);
        reading->rightTrigger = trigger(SDL_CONTROLLER_AXIS_TRIGGERRIGHT);
        // SDL's Y axes point down and XInput's up: the one's complement maps -32768..32767 onto
        // 32767..-32768 exactly.
        reading->thumbs[0] = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTX);
        reading->thumbs[1] =
            static_cast<std::int16_t>(~SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTY));
        reading->thumbs[2] = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_RIGHTX);
        reading->thumbs[3] =
            static_cast<std::int16_t>(~SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_RIGHTY));
        return true;
    }
    return false;
}

bool RumbleControllerSlot(int slot, std::uint16_t low, std::uint16_t high) {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    RefreshPadsLocked(s);
    for (Pad& p : s.pads) {
        if (p.info.xinputSlot == slot && p.controller) {
            SDL_GameControllerRumble(p.controller, low, high, 0xFFFF);
            return true;
        }
    }
    return false;
}

}  // namespace platform::input

namespace platform::inputtest {

void ResetKeyboardAndMouse() {
    auto& s = input::Shared();
    std::lock_guard lock(s.mutex);
    std::fill(std::begin(s.dik), std::end(s.dik), 0);
    std::fill(std::begin(s.vk), std::end(s.vk), 0);
    std::fill(std::begin(s.vkHeld), std::end(s.vkHeld), 0);
    s.mouse = input::MouseTotals{};
}

}  // namespace platform::inputtest
