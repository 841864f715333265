// DirectInput 8 as the library uses it: the DirectInput object, devices (keyboard, mouse and game
// controllers) and effect objects, with the structures, GUIDs and values they take. The interfaces
// list every method in its documented order; only the methods the library calls do real work.
#pragma once

#include "platform/Com.h"

// Classes and interfaces.
// {25E609E4-B259-11CF-BFC7-444553540000}
inline constexpr CLSID CLSID_DirectInput8 = {
    0x25E609E4, 0xB259, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {BF798031-483A-4DA2-AA99-5D64ED369700}
inline constexpr IID IID_IDirectInput8W = {
    0xBF798031, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
// {54D41081-DC15-4833-A41B-748F73A38179}
inline constexpr IID IID_IDirectInputDevice8W = {
    0x54D41081, 0xDC15, 0x4833, {0xA4, 0x1B, 0x74, 0x8F, 0x73, 0xA3, 0x81, 0x79}};
// {E7E1F7C0-88D2-11D0-9AD0-00A0C9A06E35}
inline constexpr IID IID_IDirectInputEffect = {
    0xE7E1F7C0, 0x88D2, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};

// The system devices.
inline constexpr GUID GUID_SysMouse = {
    0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_SysKeyboard = {
    0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// Object types of a data format.
inline constexpr GUID GUID_XAxis = {
    0xA36D02E0, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_YAxis = {
    0xA36D02E1, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_ZAxis = {
    0xA36D02E2, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_RxAxis = {
    0xA36D02F4, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_RyAxis = {
    0xA36D02F5, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_RzAxis = {
    0xA36D02E3, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_Slider = {
    0xA36D02E4, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_Button = {
    0xA36D02F0, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_Key = {
    0x55728220, 0xD33C, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_POV = {
    0xA36D02F2, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// Effect types.
inline constexpr GUID GUID_ConstantForce = {
    0x13541C20, 0x8E33, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};
inline constexpr GUID GUID_Sine = {
    0x13541C23, 0x8E33, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};

// Results.
inline constexpr HRESULT DI_OK = S_OK;
inline constexpr HRESULT DI_NOEFFECT = S_FALSE;
inline constexpr HRESULT DI_POLLEDDEVICE = 2;
inline constexpr HRESULT DIERR_INVALIDPARAM = E_INVALIDARG;
inline constexpr HRESULT DIERR_NOINTERFACE = E_NOINTERFACE;
inline constexpr HRESULT DIERR_UNSUPPORTED = E_NOTIMPL;
inline constexpr HRESULT DIERR_GENERIC = E_FAIL;
inline constexpr HRESULT DIERR_OTHERAPPHASPRIO = E_ACCESSDENIED;
inline constexpr HRESULT DIERR_NOTFOUND = static_cast<HRESULT>(0x80070002);
inline constexpr HRESULT DIERR_NOTACQUIRED = static_cast<HRESULT>(0x8007000C);
inline constexpr HRESULT DIERR_NOTINITIALIZED = static_cast<HRESULT>(0x80070015);
inline constexpr HRESULT DIERR_INPUTLOST = static_cast<HRESULT>(0x8007001E);
inline constexpr HRESULT DIERR_ACQUIRED = static_cast<HRESULT>(0x800700AA);
inline constexpr HRESULT DIERR_DEVICENOTREG = REGDB_E_CLASSNOTREG;
inline constexpr HRESULT DIERR_UNPLUGGED = static_cast<HRESULT>(0x80040209);

// Enumeration.
inline constexpr DWORD DI8DEVCLASS_ALL = 0;
inline constexpr DWORD DI8DEVCLASS_GAMECTRL = 4;
inline constexpr DWORD DIEDFL_ATTACHEDONLY = 0x1;
inline constexpr BOOL DIENUM_STOP = 0;
inline constexpr BOOL DIENUM_CONTINUE = 1;
inline constexpr DWORD DI8DEVTYPE_MOUSE = 0x12;
inline constexpr DWORD DI8DEVTYPE_KEYBOARD = 0x13;
inline constexpr DWORD DI8DEVTYPE_JOYSTICK = 0x14;
inline constexpr DWORD DI8DEVTYPE_GAMEPAD = 0x15;

// Cooperative levels.
inline constexpr DWORD DISCL_EXCLUSIVE = 0x1;
inline constexpr DWORD DISCL_NONEXCLUSIVE = 0x2;
inline constexpr DWORD DISCL_FOREGROUND = 0x4;
inline constexpr DWORD DISCL_BACKGROUND = 0x8;

// Data formats.
inline constexpr DWORD DIDF_ABSAXIS = 0x1;
inline constexpr DWORD DIDF_RELAXIS = 0x2;
inline constexpr DWORD DIDFT_ANYINSTANCE = 0x00FFFF00;
inline constexpr DWORD DIDFT_RELAXIS = 0x1;
inline constexpr DWORD DIDFT_ABSAXIS = 0x2;
inline constexpr DWORD DIDFT_AXIS = 0x3;
inline constexpr DWORD DIDFT_PSHBUTTON = 0x4;
inline constexpr DWORD DIDFT_TGLBUTTON = 0x8;
inline constexpr DWORD DIDFT_BUTTON = 0xC;
inline constexpr DWORD DIDFT_POV = 0x10;
inline constexpr DWORD DIDFT_OPTIONAL = 0x80000000;
constexpr DWORD DIDFT_MAKEINSTANCE(DWORD n) {
    return n << 8;
}

struct DIOBJECTDATAFORMAT {
    const GUID* pguid;
    DWORD dwOfs;
    DWORD dwType;
    DWORD dwFlags;
};

struct DIDATAFORMAT {
    DWORD dwSize;
    DWORD dwObjSize;
    DWORD dwFlags;
    DWORD dwDataSize;
    DWORD dwNumObjs;
    DIOBJECTDATAFORMAT* rgodf;
};

// Device states.
struct DIMOUSESTATE2 {
    LONG lX;
    LONG lY;
    LONG lZ;
    BYTE rgbButtons[8];
};
static_assert(sizeof(DIMOUSESTATE2) == 20);

struct DIJOYSTATE {
    LONG lX;
    LONG lY;
    LONG lZ;
    LONG lRx;
    LONG lRy;
    LONG lRz;
    LONG rglSlider[2];
    DWORD rgdwPOV[4];
    BYTE rgbButtons[32];
};
static_assert(sizeof(DIJOYSTATE) == 80);

// Device information and capabilities.
struct DIDEVICEINSTANCEW {
    DWORD dwSize;
    GUID guidInstance;
    GUID guidProduct;
    DWORD dwDevType;
    WCHAR tszInstanceName[MAX_PATH];
    WCHAR tszProductName[MAX_PATH];
    GUID guidFFDriver;
    WORD wUsagePage;
    WORD wUsage;
};
static_assert(sizeof(DIDEVICEINSTANCEW) == 1100);

inline constexpr DWORD DIDC_ATTACHED = 0x1;
inline constexpr DWORD DIDC_POLLEDDEVICE = 0x2;
inline constexpr DWORD DIDC_FORCEFEEDBACK = 0x100;

struct DIDEVCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwDevType;
    DWORD dwAxes;
    DWORD dwButtons;
    DWORD dwPOVs;
    DWORD dwFFSamplePeriod;
    DWORD dwFFMinTimeResolution;
    DWORD dwFirmwareRevision;
    DWORD dwHardwareRevision;
    DWORD dwFFDriverVersion;
};
static_assert(sizeof(DIDEVCAPS) == 44);

// Properties: the property "GUIDs" are small numbers passed as pointers.
using REFGUIDPROP = const GUID*;
inline const GUID* const DIPROP_BUFFERSIZE = reinterpret_cast<const GUID*>(1);
inline const GUID* const DIPROP_RANGE = reinterpret_cast<const GUID*>(4);
inline const GUID* const DIPROP_DEADZONE = reinterpret_cast<const GUID*>(5);
inline const GUID* const DIPROP_SATURATION = reinterpret_cast<const GUID*>(6);

inline constexpr DWORD DIPH_DEVICE = 0;
inline constexpr DWORD DIPH_BYOFFSET = 1;
inline constexpr DWORD DIPH_BYID = 2;

struct DIPROPHEADER {
    DWORD dwSize;
    DWORD dwHeaderSize;
    DWORD dwObj;
    DWORD dwHow;
};

struct DIPROPDWORD {
    DIPROPHEADER diph;
    DWORD dwData;
};

struct DIPROPRANGE {
    DIPROPHEADER diph;
    LONG lMin;
    LONG lMax;
};

// Effects.
inline constexpr DWORD DI_FFNOMINALMAX = 10000;
inline constexpr DWORD DI_SECONDS = 1000000;
inline constexpr DWORD DIEB_NOTRIGGER = 0xFFFFFFFF;
inline constexpr DWORD DIEFF_OBJECTOFFSETS = 0x2;
inline constexpr DWORD DIEFF_CARTESIAN = 0x10;
inline constexpr DWORD DIEFF_POLAR = 0x20;
inline constexpr DWORD DIEP_TYPESPECIFICPARAMS = 0x100;
inline constexpr DWORD DIEP_START = 0x20000000;
inline constexpr DWORD DIEP_NORESTART = 0x40000000;
inline constexpr DWORD DIES_SOLO = 0x1;
inline constexpr DWORD DIJOFS_X = 0;
inline constexpr DWORD DIJOFS_Y = 4;

struct DIENVELOPE {
    DWORD dwSize;
    DWORD dwAttackLevel;
    DWORD dwAttackTime;
    DWORD dwFadeLevel;
    DWORD dwFadeTime;
};

struct DIPERIODIC {
    DWORD dwMagnitude;
    LONG lOffset;
    DWORD dwPhase;
    DWORD dwPeriod;
};

struct DICONSTANTFORCE {
    LONG lMagnitude;
};

struct DIEFFECT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwDuration;
    DWORD dwSamplePeriod;
    DWORD dwGain;
    DWORD dwTriggerButton;
    DWORD dwTriggerRepeatInterval;
    DWORD cAxes;
    DWORD* rgdwAxes;
    LONG* rglDirection;
    DIENVELOPE* lpEnvelope;
    DWORD cbTypeSpecificParams;
    LPVOID lpvTypeSpecificParams;
    DWORD dwStartDelay;
};

using LPDIENUMDEVICESCALLBACKW = BOOL (*)(const DIDEVICEINSTANCEW* instance, LPVOID ref);
// Callbacks and records of methods the library never calls are left opaque.
using LPDIENUMDEVICEOBJECTSCALLBACKW = BOOL (*)(const void* object, LPVOID ref);
using LPDIENUMEFFECTSCALLBACKW = BOOL (*)(const void* effect, LPVOID ref);
using LPDIENUMCREATEDEFFECTOBJECTSCALLBACK = BOOL (*)(void* effect, LPVOID ref);
using LPDIENUMEFFECTSINFILECALLBACK = BOOL (*)(const void* effect, LPVOID ref);
using LPDIENUMDEVICESBYSEMANTICSCBW = BOOL (*)(const DIDEVICEINSTANCEW*, void*, DWORD, DWORD,
                                               LPVOID);
using LPDICONFIGUREDEVICESCALLBACK = BOOL (*)(IUnknown*, LPVOID);

struct IDirectInputEffect : IUnknown {
    virtual HRESULT Initialize(HINSTANCE instance, DWORD version, REFGUID guid) = 0;
    virtual HRESULT GetEffectGuid(GUID* guid) = 0;
    virtual HRESULT GetParameters(DIEFFECT* effect, DWORD flags) = 0;
    virtual HRESULT SetParameters(const DIEFFECT* effect, DWORD flags) = 0;
    virtual HRESULT Start(DWORD iterations, DWORD flags) = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetEffectStatus(DWORD* status) = 0;
    virtual HRESULT Download() = 0;
    virtual HRESULT Unload() = 0;
    virtual HRESULT Escape(void* escape) = 0;

  protected:
    ~IDirectInputEffect() = default;
};

struct IDirectInputDevice8W : IUnknown {
    virtual HRESULT GetCapabilities(DIDEVCAPS* caps) = 0;
    virtual HRESULT EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKW callback, LPVOID ref,
                                DWORD flags) = 0;
    virtual HRESULT GetProperty(REFGUIDPROP property, DIPROPHEADER* header) = 0;
    virtual HRESULT SetProperty(REFGUIDPROP property, const DIPROPHEADER* header) = 0;
    virtual HRESULT Acquire() = 0;
    virtual HRESULT Unacquire() = 0;
    virtual HRESULT GetDeviceState(DWORD size, LPVOID data) = 0;
    virtual HRESULT GetDeviceData(DWORD objectSize, void* data, DWORD* inOut, DWORD flags) = 0;
    virtual HRESULT SetDataFormat(const DIDATAFORMAT* format) = 0;
    virtual HRESULT SetEventNotification(HANDLE event) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
    virtual HRESULT GetObjectInfo(void* object, DWORD obj, DWORD how) = 0;
    virtual HRESULT GetDeviceInfo(DIDEVICEINSTANCEW* instance) = 0;
    virtual HRESULT RunControlPanel(HWND owner, DWORD flags) = 0;
    virtual HRESULT Initialize(HINSTANCE instance, DWORD version, REFGUID guid) = 0;
    virtual HRESULT CreateEffect(REFGUID guid, const DIEFFECT* effect, IDirectInputEffect** out,
                                 LPUNKNOWN outer) = 0;
    virtual HRESULT EnumEffects(LPDIENUMEFFECTSCALLBACKW callback, LPVOID ref, DWORD type) = 0;
    virtual HRESULT GetEffectInfo(void* info, REFGUID guid) = 0;
    virtual HRESULT GetForceFeedbackState(DWORD* state) = 0;
    virtual HRESULT SendForceFeedbackCommand(DWORD flags) = 0;
    virtual HRESULT EnumCreatedEffectObjects(LPDIENUMCREATEDEFFECTOBJECTSCALLBACK callback,
                                             LPVOID ref, DWORD flags) = 0;
    virtual HRESULT Escape(void* escape) = 0;
    virtual HRESULT Poll() = 0;
    virtual HRESULT SendDeviceData(DWORD objectSize, const void* data, DWORD* inOut,
                                   DWORD flags) = 0;
    virtual HRESULT EnumEffectsInFile(LPCWSTR file, LPDIENUMEFFECTSINFILECALLBACK callback,
                                      LPVOID ref, DWORD flags) = 0;
    virtual HRESULT WriteEffectToFile(LPCWSTR file, DWORD count, void* effects, DWORD flags) = 0;
    virtual HRESULT BuildActionMap(void* format, LPCWSTR user, DWORD flags) = 0;
    virtual HRESULT SetActionMap(void* format, LPCWSTR user, DWORD flags) = 0;
    virtual HRESULT GetImageInfo(void* header) = 0;

  protected:
    ~IDirectInputDevice8W() = default;
};

struct IDirectInput8W : IUnknown {
    virtual HRESULT CreateDevice(REFGUID guid, IDirectInputDevice8W** device, LPUNKNOWN outer) = 0;
    virtual HRESULT EnumDevices(DWORD devType, LPDIENUMDEVICESCALLBACKW callback, LPVOID ref,
                                DWORD flags) = 0;
    virtual HRESULT GetDeviceStatus(REFGUID instance) = 0;
    virtual HRESULT RunControlPanel(HWND owner, DWORD flags) = 0;
    virtual HRESULT Initialize(HINSTANCE instance, DWORD version) = 0;
    virtual HRESULT FindDevice(REFGUID guidClass, LPCWSTR name, GUID* instance) = 0;
    virtual HRESULT EnumDevicesBySemantics(LPCWSTR user, void* format,
                                           LPDIENUMDEVICESBYSEMANTICSCBW callback, LPVOID ref,
                                           DWORD flags) = 0;
    virtual HRESULT ConfigureDevices(LPDICONFIGUREDEVICESCALLBACK callback, void* params,
                                     DWORD flags, LPVOID ref) = 0;

  protected:
    ~IDirectInput8W() = default;
};

// DirectInput key codes the library names (PC set-1 scan codes; 0x80 added for extended keys).
inline constexpr BYTE DIK_ESCAPE = 0x01;
inline constexpr BYTE DIK_RETURN = 0x1C;
inline constexpr BYTE DIK_LCONTROL = 0x1D;
inline constexpr BYTE DIK_LSHIFT = 0x2A;
inline constexpr BYTE DIK_RSHIFT = 0x36;
inline constexpr BYTE DIK_SPACE = 0x39;
inline constexpr BYTE DIK_RCONTROL = 0x9D;
inline constexpr BYTE DIK_SYSRQ = 0xB7;
inline constexpr BYTE DIK_UP = 0xC8;
inline constexpr BYTE DIK_LEFT = 0xCB;
inline constexpr BYTE DIK_RIGHT = 0xCD;
inline constexpr BYTE DIK_DOWN = 0xD0;
