// The Windows core-audio pieces the sound module uses: the device enumerator with its endpoint
// notification, the default render endpoint and its property store, and the shared-mode audio
// client with its render client and clock. The interfaces list every method in its documented
// order. On this platform one endpoint stands for SDL's default output device; the audio client
// queues what the render client releases into SDL's audio queue.
#pragma once

#include "platform/Com.h"
#include "platform/Msacm32.h"

using REFERENCE_TIME = LONGLONG;  // 100-nanosecond units
using VARTYPE = WORD;

// {BCDE0395-E52F-467C-8E3D-C4579291692E}
inline constexpr CLSID CLSID_MMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
// {A95664D2-9614-4F35-A746-DE8DB63617E6}
inline constexpr IID IID_IMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
// {7991EEC9-7E89-4D85-8390-6C703CEC60C0}
inline constexpr IID IID_IMMNotificationClient = {
    0x7991EEC9, 0x7E89, 0x4D85, {0x83, 0x90, 0x6C, 0x70, 0x3C, 0xEC, 0x60, 0xC0}};
// {D666063F-1587-4E43-81F1-B948E807363F}
inline constexpr IID IID_IMMDevice = {
    0xD666063F, 0x1587, 0x4E43, {0x81, 0xF1, 0xB9, 0x48, 0xE8, 0x07, 0x36, 0x3F}};
// {1CB9AD4C-DBFA-4C32-B178-C2F568A703B2}
inline constexpr IID IID_IAudioClient = {
    0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
// {F294ACFC-3146-4483-A7BF-ADDCA7C260E2}
inline constexpr IID IID_IAudioRenderClient = {
    0xF294ACFC, 0x3146, 0x4483, {0xA7, 0xBF, 0xAD, 0xDC, 0xA7, 0xC2, 0x60, 0xE2}};
// {CD63314F-3FBA-4A1B-812C-EF96358728E7}
inline constexpr IID IID_IAudioClock = {
    0xCD63314F, 0x3FBA, 0x4A1B, {0x81, 0x2C, 0xEF, 0x96, 0x35, 0x87, 0x28, 0xE7}};

// Sub-formats of WAVEFORMATEXTENSIBLE.
// {00000001-0000-0010-8000-00AA00389B71}
inline constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {00000003-0000-0010-8000-00AA00389B71}
inline constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

#pragma pack(push, 1)
// The 40-byte extensible wave format.
struct WAVEFORMATEXTENSIBLE {
    WAVEFORMATEX Format;
    union {
        WORD wValidBitsPerSample;
        WORD wSamplesPerBlock;
        WORD wReserved;
    } Samples;
    DWORD dwChannelMask;
    GUID SubFormat;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);

inline constexpr DWORD SPEAKER_FRONT_LEFT = 0x1;
inline constexpr DWORD SPEAKER_FRONT_RIGHT = 0x2;

struct PROPERTYKEY {
    GUID fmtid;
    DWORD pid;
};
using REFPROPERTYKEY = const PROPERTYKEY&;

// {A45C254E-DF1C-4EFD-8020-67D146A850E0}, 14
inline constexpr PROPERTYKEY PKEY_Device_FriendlyName = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_LPWSTR = 31;

struct PROPVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LPWSTR pwszVal;
        ULONGLONG uhVal;
        struct {
            ULONG cbSize;
            BYTE* pBlobData;
        } blob;
    };
};

enum EDataFlow : int { eRender = 0, eCapture = 1, eAll = 2 };
enum ERole : int { eConsole = 0, eMultimedia = 1, eCommunications = 2 };
enum AUDCLNT_SHAREMODE : int { AUDCLNT_SHAREMODE_SHARED = 0, AUDCLNT_SHAREMODE_EXCLUSIVE = 1 };

inline constexpr DWORD CLSCTX_ALL = 0x17;
inline constexpr DWORD STGM_READ = 0x0;
inline constexpr DWORD DEVICE_STATE_ACTIVE = 0x1;
inline constexpr DWORD DEVICE_STATE_UNPLUGGED = 0x8;
inline constexpr DWORD AUDCLNT_BUFFERFLAGS_SILENT = 0x2;

// Results.
inline constexpr HRESULT E_NOTFOUND = static_cast<HRESULT>(0x80070490u);
inline constexpr HRESULT AUDCLNT_E_NOT_INITIALIZED = static_cast<HRESULT>(0x88890001u);
inline constexpr HRESULT AUDCLNT_E_ALREADY_INITIALIZED = static_cast<HRESULT>(0x88890002u);
inline constexpr HRESULT AUDCLNT_E_DEVICE_INVALIDATED = static_cast<HRESULT>(0x88890004u);
inline constexpr HRESULT AUDCLNT_E_BUFFER_TOO_LARGE = static_cast<HRESULT>(0x88890006u);
inline constexpr HRESULT AUDCLNT_E_OUT_OF_ORDER = static_cast<HRESULT>(0x88890007u);
inline constexpr HRESULT AUDCLNT_E_UNSUPPORTED_FORMAT = static_cast<HRESULT>(0x88890008u);
inline constexpr HRESULT AUDCLNT_E_INVALID_SIZE = static_cast<HRESULT>(0x88890009u);
inline constexpr HRESULT AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED = static_cast<HRESULT>(0x8889000Eu);
inline constexpr HRESULT AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED = static_cast<HRESULT>(0x88890019u);

struct IMMDevice;
struct IMMDeviceCollection;
struct IPropertyStore;

struct IMMNotificationClient : IUnknown {
    virtual HRESULT OnDeviceStateChanged(LPCWSTR deviceId, DWORD newState) = 0;
    virtual HRESULT OnDeviceAdded(LPCWSTR deviceId) = 0;
    virtual HRESULT OnDeviceRemoved(LPCWSTR deviceId) = 0;
    virtual HRESULT OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR deviceId) = 0;
    virtual HRESULT OnPropertyValueChanged(LPCWSTR deviceId, PROPERTYKEY key) = 0;

  protected:
    ~IMMNotificationClient() = default;
};

struct IMMDeviceEnumerator : IUnknown {
    virtual HRESULT EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                       IMMDeviceCollection** devices) = 0;
    virtual HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** device) = 0;
    virtual HRESULT GetDevice(LPCWSTR id, IMMDevice** device) = 0;
    virtual HRESULT RegisterEndpointNotificationCallback(IMMNotificationClient* client) = 0;
    virtual HRESULT UnregisterEndpointNotificationCallback(IMMNotificationClient* client) = 0;

  protected:
    ~IMMDeviceEnumerator() = default;
};

struct IMMDevice : IUnknown {
    virtual HRESULT Activate(REFIID iid, DWORD context, PROPVARIANT* parameters, void** object) = 0;
    virtual HRESULT OpenPropertyStore(DWORD access, IPropertyStore** store) = 0;
    virtual HRESULT GetId(LPWSTR* id) = 0;
    virtual HRESULT GetState(DWORD* state) = 0;

  protected:
    ~IMMDevice() = default;
};

struct IPropertyStore : IUnknown {
    virtual HRESULT GetCount(DWORD* count) = 0;
    virtual HRESULT GetAt(DWORD index, PROPERTYKEY* key) = 0;
    virtual HRESULT GetValue(REFPROPERTYKEY key, PROPVARIANT* value) = 0;
    virtual HRESULT SetValue(REFPROPERTYKEY key, const PROPVARIANT& value) = 0;
    virtual HRESULT Commit() = 0;

  protected:
    ~IPropertyStore() = default;
};

struct IAudioClient : IUnknown {
    virtual HRESULT Initialize(AUDCLNT_SHAREMODE mode, DWORD streamFlags,
                               REFERENCE_TIME bufferDuration, REFERENCE_TIME periodicity,
                               const WAVEFORMATEX* format, const GUID* sessionGuid) = 0;
    virtual HRESULT GetBufferSize(UINT* frames) = 0;
    virtual HRESULT GetStreamLatency(REFERENCE_TIME* latency) = 0;
    virtual HRESULT GetCurrentPadding(UINT* frames) = 0;
    virtual HRESULT IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format,
                                      WAVEFORMATEX** closest) = 0;
    virtual HRESULT GetMixFormat(WAVEFORMATEX** format) = 0;
    virtual HRESULT GetDevicePeriod(REFERENCE_TIME* defaultPeriod,
                                    REFERENCE_TIME* minimumPeriod) = 0;
    virtual HRESULT Start() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT SetEventHandle(HANDLE event) = 0;
    virtual HRESULT GetService(REFIID iid, void** service) = 0;

  protected:
    ~IAudioClient() = default;
};

struct IAudioRenderClient : IUnknown {
    virtual HRESULT GetBuffer(UINT frames, BYTE** data) = 0;
    virtual HRESULT ReleaseBuffer(UINT frames, DWORD flags) = 0;

  protected:
    ~IAudioRenderClient() = default;
};

struct IAudioClock : IUnknown {
    virtual HRESULT GetFrequency(ULONGLONG* frequency) = 0;
    virtual HRESULT GetPosition(ULONGLONG* position, ULONGLONG* counterPosition) = 0;
    virtual HRESULT GetCharacteristics(DWORD* characteristics) = 0;

  protected:
    ~IAudioClock() = default;
};

namespace platform::ole32 {

LPVOID CoTaskMemAlloc(SIZE_T bytes);
void CoTaskMemFree(LPVOID block);
HRESULT PropVariantClear(PROPVARIANT* value);

}  // namespace platform::ole32

// Test hooks of the audio endpoint.
namespace platform::audio {

// The shared-mode mix format the endpoint offers.
enum class MixFormatKind {
    Float32Extensible,  // the default: 40-byte extensible, 32-bit float stereo at 44,100 Hz
    Int16Extensible,    // 40-byte extensible, 16-bit integer stereo at 44,100 Hz
    Float32Plain,       // an 18-byte format with tag 3 (float) and no extension
};
void SetMixFormatKind(MixFormatKind kind);

// With the pull device on, audio clients open no SDL device: what a render client releases waits
// in memory until a test drains it with PullFrames, and the clock counts the frames drained.
void UsePullDevice(bool on);
// Drains up to `frames` frames of the newest pull-device stream into `out`; returns the frames.
std::size_t PullFrames(void* out, std::size_t frames);

// The next audio client Initialize fails with AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED, and
// GetBufferSize then reports `frames` as the aligned size.
void FailNextInitializeNotAligned(UINT frames);

// The open output device disappears: the stream stops taking data, and every registered
// notification client hears of the removal and of the new default render device.
void SimulateDeviceRemoval();

// Puts every hook back to its default.
void ResetAudioHooks();

}  // namespace platform::audio
