// DirectInput 8 over SDL: the system keyboard (DirectInput key codes), the system mouse (relative
// motion, wheel in units of 120 per notch, eight buttons) and every SDL joystick as a game
// controller read in the 80-byte joystick form, with DirectInput's range, dead-zone and saturation
// properties per axis. The first four SDL game controllers, which XInput serves, are listed with
// the name Windows gives XInput controllers, so that a caller that filters them by name does.
// Force feedback is absent: CreateEffect fails with DIERR_UNSUPPORTED. Buffered data is absent.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

#include "InputDevices.h"
#include "platform/DInput.h"
#include "platform/Modules.h"
#include "platform/User32.h"

namespace platform::dinput8 {

namespace {

constexpr char16_t kXInputControllerName[] = u"Controller (XBOX 360 For Windows)";
constexpr int kAxisCount = 8;  // X, Y, Z, Rx, Ry, Rz and two sliders, 4 bytes apart

enum class Kind { Keyboard, Mouse, Pad };

void CopyName(WCHAR* out, const std::u16string& name) {
    std::size_t n = std::min<std::size_t>(name.size(), MAX_PATH - 1);
    std::copy_n(name.begin(), n, out);
    out[n] = 0;
}

void FillInstance(DIDEVICEINSTANCEW* out, const input::PadInfo& pad) {
    std::memset(out, 0, sizeof(*out));
    out->dwSize = sizeof(DIDEVICEINSTANCEW);
    out->guidInstance = pad.instance;
    out->guidProduct = pad.product;
    out->dwDevType = pad.controller ? DI8DEVTYPE_GAMEPAD | 0x100 : DI8DEVTYPE_JOYSTICK | 0x100;
    const std::u16string name = pad.xinputSlot >= 0 ? kXInputControllerName : pad.name;
    CopyName(out->tszInstanceName, name);
    CopyName(out->tszProductName, name);
    out->wUsagePage = 1;
    out->wUsage = pad.controller ? 5 : 4;
}

struct AxisSettings {
    LONG min = 0;
    LONG max = 65535;
    DWORD deadZone = 0;
    DWORD saturation = 10000;
};

class Device final : public IDirectInputDevice8W {
  public:
    Device(Kind kind, const GUID& instance) : kind_(kind), instance_(instance) {
        if (kind == Kind::Mouse) mouseSeen_ = input::ReadMouseTotals();
    }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDirectInputDevice8W) {
            AddRef();
            *object = static_cast<IDirectInputDevice8W*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            if (event_) input::RemoveNotification(event_);
            delete this;
        }
        return left;
    }

    HRESULT GetCapabilities(DIDEVCAPS* caps) override {
        if (caps == nullptr || caps->dwSize != sizeof(DIDEVCAPS)) return DIERR_INVALIDPARAM;
        std::memset(caps, 0, sizeof(*caps));
        caps->dwSize = sizeof(DIDEVCAPS);
        caps->dwFlags = DIDC_ATTACHED;
        switch (kind_) {
            case Kind::Keyboard:
                caps->dwDevType = DI8DEVTYPE_KEYBOARD;
                caps->dwButtons = 128;
                return DI_OK;
            case Kind::Mouse:
                caps->dwDevType = DI8DEVTYPE_MOUSE;
                caps->dwAxes = 3;
                caps->dwButtons = 5;
                return DI_OK;
            case Kind::Pad: {
                input::PadInfo pad;
                if (!input::FindPad(instance_, &pad)) return DIERR_UNPLUGGED;
                caps->dwDevType = pad.controller ? DI8DEVTYPE_GAMEPAD : DI8DEVTYPE_JOYSTICK;
                caps->dwAxes = static_cast<DWORD>(pad.axes);
                caps->dwButtons = static_cast<DWORD>(pad.buttons);
                caps->dwPOVs = static_cast<DWORD>(pad.hats);
                return DI_OK;
            }
        }
        return DI_OK;
    }

    HRESULT EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKW, LPVOID, DWORD) override {
        return DIERR_UNSUPPORTED;
    }

    HRESULT GetProperty(REFGUIDPROP property, DIPROPHEADER* header) override {
        if (header == nullptr || header->dwHeaderSize != sizeof(DIPROPHEADER)) {
            return DIERR_INVALIDPARAM;
        }
        if (property == DIPROP_BUFFERSIZE && header->dwSize == sizeof(DIPROPDWORD)) {
            reinterpret_cast<DIPROPDWORD*>(header)->dwData = bufferSize_;
            return DI_OK;
        }
        int axis = AxisOf(*header);
        if (axis < 0) return DIERR_NOTFOUND;
        const AxisSettings& a = axes_[axis];
        if (property == DIPROP_RANGE && header->dwSize == sizeof(DIPROPRANGE)) {
            auto* range = reinterpret_cast<DIPROPRANGE*>(header);
            range->lMin = a.min;
            range->lMax = a.max;
            return DI_OK;
        }
        if (header->dwSize != sizeof(DIPROPDWORD)) return DIERR_INVALIDPARAM;
        if (property == DIPROP_DEADZONE) {
            reinterpret_cast<DIPROPDWORD*>(header)->dwData = a.deadZone;
            return DI_OK;
        }
        if (property == DIPROP_SATURATION) {
            reinterpret_cast<DIPROPDWORD*>(header)->dwData = a.saturation;
            return DI_OK;
        }
        return DIERR_UNSUPPORTED;
    }

    HRESULT SetProperty(REFGUIDPROP property, const DIPROPHEADER* header) override {
        if (header == nullptr || header->dwHeaderSize != sizeof(DIPROPHEADER)) {
            return DIERR_INVALIDPARAM;
        }
        if (property == DIPROP_BUFFERSIZE) {
            if (header->dwSize != sizeof(DIPROPDWORD) || header->dwHow != DIPH_DEVICE) {
                return DIERR_INVALIDPARAM;
            }
            if (acquired_) return DIERR_ACQUIRED;
            bufferSize_ = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
            return DI_OK;
        }
        if (property != DIPROP_RANGE && property != DIPROP_DEADZONE &&
            property != DIPROP_SATURATION) {
            return DIERR_UNSUPPORTED;
        }
        if (header->dwSize !=
            (property == DIPROP_RANGE ? sizeof(DIPROPRANGE) : sizeof(DIPROPDWORD))) {
            return DIERR_INVALIDPARAM;
        }
        int first = 0;
        int last = AxesPresent() - 1;
        if (header->dwHow != DIPH_DEVICE) {
            first = last = AxisOf(*header);
            if (first < 0) return DIERR_NOTFOUND;
        } else if (header->dwObj != 0) {
            return DIERR_INVALIDPARAM;
        }
        if (property == DIPROP_RANGE) {
            const auto* range = reinterpret_cast<const DIPROPRANGE*>(header);
            if (range->lMin >= range->lMax) return DIERR_INVALIDPARAM;
            for (int i = first; i <= last; ++i) {
                axes_[i].min = range->lMin;
                axes_[i].max = range->lMax;
            }
            return DI_OK;
        }
        DWORD value = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
        if (value > 10000) return DIERR_INVALIDPARAM;
        for (int i = first; i <= last; ++i) {
            (property == DIPROP_DEADZONE ? axes_[i].deadZone : axes_[i].saturation) = value;
        }
        return DI_OK;
    }

    HRESULT Acquire() override {
        if (formatSize_ == 0) return DIERR_INVALIDPARAM;
        if (kind_ == Kind::Pad && !input::FindPad(instance_, nullptr)) return DIERR_UNPLUGGED;
        if ((cooperation_ & DISCL_FOREGROUND) && !IsForeground()) return DIERR_OTHERAPPHASPRIO;
        if (acquired_) return DI_NOEFFECT;
        acquired_ = true;
        if (kind_ == Kind::Mouse) mouseSeen_ = input::ReadMouseTotals();
        return DI_OK;
    }

    HRESULT Unacquire() override {
        if (!acquired_) return DI_NOEFFECT;
        acquired_ = false;
        return DI_OK;
    }

    HRESULT GetDeviceState(DWORD size, LPVOID data) override {
        if (data == nullptr || formatSize_ == 0 || size != formatSize_) return DIERR_INVALIDPARAM;
        if (!acquired_) return DIERR_NOTACQUIRED;
        if ((cooperation_ & DISCL_FOREGROUND) && !IsForeground()) {
            acquired_ = false;
            return DIERR_INPUTLOST;
        }
        switch (kind_) {
            case Kind::Keyboard:
                input::CopyDirectInputKeys(static_cast<std::uint8_t*>(data));
                return DI_OK;
            case Kind::Mouse: {
                input::MouseTotals now = input::ReadMouseTotals();
                DIMOUSESTATE2 state{};
                state.lX = static_cast<LONG>(now.x - mouseSeen_.x);
                state.lY = static_cast<LONG>(now.y - mouseSeen_.y);
                state.lZ = static_cast<LONG>(now.wheel - mouseSeen_.wheel);
                std::copy(std::begin(now.buttons), std::end(now.buttons), state.rgbButtons);
                mouseSeen_ = now;
                std::memcpy(data, &state, size);
                return DI_OK;
            }
            case Kind::Pad: {
                input::PadReading r;
                if (!input::ReadPad(instance_, &r)) {
                    acquired_ = false;
                    return DIERR_INPUTLOST;
                }
                DIJOYSTATE state{};
                LONG* axes = &state.lX;
                for (int i = 0; i < kAxisCount; ++i) axes[i] = Scale(r.axes[i], axes_[i]);
                for (int i = 0; i < 4; ++i) state.rgdwPOV[i] = input::PovOfHat(r.hats[i]);
                for (int i = 0; i < 32; ++i) state.rgbButtons[i] = r.buttons[i] ? 0x80 : 0;
                std::memcpy(data, &state, size);
                return DI_OK;
            }
        }
        return DI_OK;
    }

    HRESULT GetDeviceData(DWORD, void*, DWORD*, DWORD) override { return DIERR_UNSUPPORTED; }

    HRESULT SetDataFormat(const DIDATAFORMAT* format) override {
        if (format == nullptr || format->dwSize != sizeof(DIDATAFORMAT) ||
            format->dwObjSize != sizeof(DIOBJECTDATAFORMAT)) {
            return DIERR_INVALIDPARAM;
        }
        if (acquired_) return DIERR_ACQUIRED;
        // The state is written in the standard layout of the device's kind; the format picks
        // which one by its size.
        DWORD wanted = 0;
        switch (kind_) {
            case Kind::Keyboard:
                wanted = 256;
                break;
            case Kind::Mouse:
                if (format->dwDataSize == 16 || format->dwDataSize == 20) {
                    wanted = format->dwDataSize;
                }
                break;
            case Kind::Pad:
                wanted = sizeof(DIJOYSTATE);
                break;
        }
        if (format->dwDataSize != wanted) return DIERR_INVALIDPARAM;
        formatSize_ = wanted;
        return DI_OK;
    }

    HRESULT SetEventNotification(HANDLE event) override {
        if (acquired_) return DIERR_ACQUIRED;
        if (event_) input::RemoveNotification(event_);
        event_ = event;
        if (event_) {
            input::AddNotification(kind_ == Kind::Keyboard ? input::Source::Keyboard
                                   : kind_ == Kind::Mouse  ? input::Source::Mouse
                                                           : input::Source::Joystick,
                                   event_);
        }
        return DI_OK;
    }

    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override {
        bool exclusive = flags & DISCL_EXCLUSIVE;
        bool shared = flags & DISCL_NONEXCLUSIVE;
        bool foreground = flags & DISCL_FOREGROUND;
        bool background = flags & DISCL_BACKGROUND;
        if (exclusive == shared || foreground == background) return DIERR_INVALIDPARAM;
        if (acquired_) return DIERR_ACQUIRED;
        window_ = window;
        cooperation_ = flags;
        return DI_OK;
    }

    HRESULT GetObjectInfo(void*, DWORD, DWORD) override { return DIERR_UNSUPPORTED; }

    HRESULT GetDeviceInfo(DIDEVICEINSTANCEW* instance) override {
        if (instance == nullptr || instance->dwSize != sizeof(DIDEVICEINSTANCEW)) {
            return DIERR_INVALIDPARAM;
        }
        if (kind_ != Kind::Pad) {
            std::memset(instance, 0, sizeof(*instance));
            instance->dwSize = sizeof(DIDEVICEINSTANCEW);
            instance->guidInstance = instance_;
            instance->guidProduct = instance_;
            bool keyboard = kind_ == Kind::Keyboard;
            instance->dwDevType = keyboard ? DI8DEVTYPE_KEYBOARD : DI8DEVTYPE_MOUSE;
            CopyName(instance->tszInstanceName, keyboard ? u"Keyboard" : u"Mouse");
            CopyName(instance->tszProductName, keyboard ? u"Keyboard" : u"Mouse");
            return DI_OK;
        }
        input::PadInfo pad;
        if (!input::FindPad(instance_, &pad)) return DIERR_UNPLUGGED;
        FillInstance(instance, pad);
        return DI_OK;
    }

    HRESULT RunControlPanel(HWND, DWORD) override { return DIERR_UNSUPPORTED; }
    HRESULT Initialize(HINSTANCE, DWORD, REFGUID) override { return DI_NOEFFECT; }
    HRESULT CreateEffect(REFGUID, const DIEFFECT*, IDirectInputEffect** out, LPUNKNOWN) override {
        if (out) *out = nullptr;
        return DIERR_UNSUPPORTED;
    }
    HRESULT EnumEffects(LPDIENUMEFFECTSCALLBACKW, LPVOID, DWORD) override { return DI_OK; }
    HRESULT GetEffectInfo(void*, REFGUID) override { return DIERR_UNSUPPORTED; }
    HRESULT GetForceFeedbackState(DWORD*) override { return DIERR_UNSUPPORTED; }
    HRESULT SendForceFeedbackCommand(DWORD) override { return DIERR_UNSUPPORTED; }
    HRESULT EnumCreatedEffectObjects(LPDIENUMCREATEDEFFECTOBJECTSCALLBACK, LPVOID, DWORD) override {
        return DI_OK;
    }
    HRESULT Escape(void*) override { return DIERR_UNSUPPORTED; }

    HRESULT Poll() override {
        if (!acquired_) return DIERR_NOTACQUIRED;
        if (kind_ == Kind::Pad && !input::FindPad(instance_, nullptr)) {
            acquired_ = false;
            return DIERR_INPUTLOST;
        }
        return DI_NOEFFECT;  // the devices report by events: nothing to poll
    }

    HRESULT SendDeviceData(DWORD, const void*, DWORD*, DWORD) override { return DIERR_UNSUPPORTED; }
    HRESULT EnumEffectsInFile(LPCWSTR, LPDIENUMEFFECTSINFILECALLBACK, LPVOID, DWORD) override {
        return DIERR_UNSUPPORTED;
    }
    HRESULT WriteEffectToFile(LPCWSTR, DWORD, void*, DWORD) override { return DIERR_UNSUPPORTED; }
    HRESULT BuildActionMap(void*, LPCWSTR, DWORD) override { return DIERR_UNSUPPORTED; }
    HRESULT SetActionMap(void*, LPCWSTR, DWORD) override { return DIERR_UNSUPPORTED; }
    HRESULT GetImageInfo(void*) override { return DIERR_UNSUPPORTED; }

  private:
    ~Device() = default;

    int AxesPresent() const {
        if (kind_ == Kind::Mouse) return 3;
        if (kind_ != Kind::Pad) return 0;
        input::PadInfo pad;
        if (!input::FindPad(instance_, &pad)) return 0;
        return pad.axes;
    }

    // The axis a property header names (by offset in the joystick state, or by object id).
    int AxisOf(const DIPROPHEADER& header) const {
        int axis = -1;
        if (header.dwHow == DIPH_BYOFFSET) {
            if (header.dwObj % 4 == 0 && header.dwObj < kAxisCount * 4) {
                axis = static_cast<int>(header.dwObj / 4);
            }
        } else if (header.dwHow == DIPH_BYID) {
            if (header.dwObj & DIDFT_AXIS) axis = static_cast<int>((header.dwObj >> 8) & 0xFFFF);
        }
        return axis >= 0 && axis < AxesPresent() ? axis : -1;
    }

    static LONG Scale(std::int32_t raw, const AxisSettings& a) {
        double n = (static_cast<double>(raw) + 32768.0) / 65535.0 * 2.0 - 1.0;
        double dead = a.deadZone / 10000.0;
        double saturation = std::max(a.saturation / 10000.0, dead);
        double size = std::fabs(n);
        double m;
        if (size <= dead) {
            m = 0.0;
        } else if (size >= saturation) {
            m = 1.0;
        } else {
            m = (size - dead) / (saturation - dead);
        }
        if (n < 0) m = -m;
        double half = (static_cast<double>(a.max) - a.min) / 2.0;
        return static_cast<LONG>(std::lround(a.min + half + m * half));
    }

    bool IsForeground() const {
        HWND foreground = user32::GetForegroundWindow();
        return foreground != nullptr && foreground == window_;
    }

    std::atomic<ULONG> refs_{1};
    Kind kind_;
    GUID instance_;
    DWORD formatSize_ = 0;
    bool acquired_ = false;
    DWORD cooperation_ = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
    HWND window_ = nullptr;
    HANDLE event_ = nullptr;
    DWORD bufferSize_ = 0;
    AxisSettings axes_[kAxisCount];
    input::MouseTotals mouseSeen_;
};

class DirectInput final : public IDirectInput8W {
  public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDirectInput8W) {
            AddRef();
            *object = static_cast<IDirectInput8W*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT CreateDevice(REFGUID guid, IDirectInputDevice8W** device, LPUNKNOWN outer) override {
        if (device == nullptr) return E_POINTER;
        *device = nullptr;
        if (!initialized_) return DIERR_NOTINITIALIZED;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        Kind kind;
        if (guid == GUID_SysKeyboard) {
            kind = Kind::Keyboard;
        } else if (guid == GUID_SysMouse) {
            kind = Kind::Mouse;
        } else if (input::FindPad(guid, nullptr)) {
            kind = Kind::Pad;
        } else {
            return DIERR_DEVICENOTREG;
        }
        *device = new (std::nothrow) Device(kind, guid);
        return *device ? DI_OK : E_OUTOFMEMORY;
    }

    HRESULT EnumDevices(DWORD devType, LPDIENUMDEVICESCALLBACKW callback, LPVOID ref,
                        DWORD) override {
        if (callback == nullptr) return DIERR_INVALIDPARAM;
        if (!initialized_) return DIERR_NOTINITIALIZED;
        if (devType != DI8DEVCLASS_ALL && devType != DI8DEVCLASS_GAMECTRL) return DI_OK;
        for (const input::PadInfo& pad : input::ListPads()) {
            DIDEVICEINSTANCEW instance;
            FillInstance(&instance, pad);
            if (callback(&instance, ref) == DIENUM_STOP) break;
        }
        return DI_OK;
    }

    HRESULT GetDeviceStatus(REFGUID instance) override {
        if (instance == GUID_SysKeyboard || instance == GUID_SysMouse) return DI_OK;
        return input::FindPad(instance, nullptr) ? DI_OK : DI_NOEFFECT;
    }
    HRESULT RunControlPanel(HWND, DWORD) override { return DIERR_UNSUPPORTED; }
    HRESULT Initialize(HINSTANCE, DWORD version) override {
        if (version < 0x0800) return DIERR_INVALIDPARAM;
        initialized_ = true;
        return DI_OK;
    }
    HRESULT FindDevice(REFGUID, LPCWSTR, GUID*) override { return DIERR_NOTFOUND; }
    HRESULT EnumDevicesBySemantics(LPCWSTR, void*, LPDIENUMDEVICESBYSEMANTICSCBW, LPVOID,
                                   DWORD) override {
        return DIERR_UNSUPPORTED;
    }
    HRESULT ConfigureDevices(LPDICONFIGUREDEVICESCALLBACK, void*, DWORD, LPVOID) override {
        return DIERR_UNSUPPORTED;
    }

  private:
    ~DirectInput() = default;
    std::atomic<ULONG> refs_{1};
    bool initialized_ = false;
};

HRESULT CreateDirectInput(REFIID iid, void** object) {
    auto* created = new (std::nothrow) DirectInput;
    if (created == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
}

HRESULT DirectInput8Create(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* object,
                           LPUNKNOWN outer) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    HRESULT hr = CreateDirectInput(iid, object);
    if (FAILED(hr)) return hr;
    hr = static_cast<IDirectInput8W*>(*object)->Initialize(instance, version);
    if (FAILED(hr)) {
        static_cast<IDirectInput8W*>(*object)->Release();
        *object = nullptr;
    }
    return hr;
}

const ComClassExport kClass("dinput8.dll", CLSID_DirectInput8, &CreateDirectInput);
const ModuleExports kExports("dinput8.dll", {{"DirectInput8Create", Export(&DirectInput8Create)}});

}  // namespace

}  // namespace platform::dinput8
