#include "Main/Windows/DuZuderWin.h"

#include <cmath>
#include <cstring>
#include <new>

#include "Main/DxHandle.h"
#include "Main/DxLog.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"
#include "platform/Modules.h"

namespace ZiDaz {

SoundOutputState g_SoundOutput;

namespace {

// The output object while WASAPI runs: a mark, not an object.
void* const kWasapiOutput = reinterpret_cast<void*>(static_cast<std::uintptr_t>(1));
constexpr HRESULT kProcNotFound = static_cast<HRESULT>(0x8007007Fu);

template <typename T>
void ReleaseCom(T*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

HRESULT CreateComObject(REFCLSID clsid, REFIID iid, void** object) {
    *object = nullptr;
    if (SystemApi.CoCreateInstance == nullptr) return REGDB_E_CLASSNOTREG;
    return SystemApi.CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, object);
}

void FreeTaskMemory(void* block) {
    if (block != nullptr && SystemApi.CoTaskMemFree != nullptr) {
        reinterpret_cast<void (*)(LPVOID)>(SystemApi.CoTaskMemFree)(block);
    }
}

void ClearPropVariant(PROPVARIANT* value) {
    if (SystemApi.PropVariantClear != nullptr) {
        reinterpret_cast<HRESULT (*)(PROPVARIANT*)>(SystemApi.PropVariantClear)(value);
    }
}

void SleepMs(DWORD ms) {
    if (SystemApi.Sleep != nullptr) {
        SystemApi.Sleep(ms);
    } else {
        SleepMilliseconds(static_cast<int>(ms));
    }
}

bool WasapiChosen() {
    return g_SoundOutput.wasapiOff == 0;
}

// Platform buffers go to XAudio2 while its switch is on, else to DirectSound; neither exists while
// the output object is the WASAPI mark (a WASAPI restart that failed leaves it so).
bool PlatformOutputUsable() {
    return g_SoundOutput.output != nullptr && g_SoundOutput.output != kWasapiOutput;
}

bool UsesXAudio2() {
    return g_SoundOutput.useXAudio2 == 1;
}

IXAudio2* Engine28() {
    return static_cast<IXAudio2*>(g_SoundOutput.output);
}

IXAudio2_7* Engine27() {
    return static_cast<IXAudio2_7*>(g_SoundOutput.output);
}

IDirectSound* DirectSoundObject() {
    return static_cast<IDirectSound*>(g_SoundOutput.output);
}

IXAudio2SourceVoice* SourceVoice(const SoundBuffer* buffer) {
    return static_cast<IXAudio2SourceVoice*>(buffer->platformVoice);
}

IDirectSoundBuffer* DirectSoundBuffer(const SoundBuffer* buffer) {
    return static_cast<IDirectSoundBuffer*>(buffer->platformVoice);
}

WAVEFORMATEX ToWaveFormat(const SoundFormat& format) {
    WAVEFORMATEX w;
    std::memcpy(&w, &format, sizeof w);
    return w;
}

// ---- WASAPI ---------------------------------------------------------------------------------

// What a failing WASAPI start releases: the render client, the audio client (and its clock), the
// device, then the notification client's registration, the enumerator and the notification
// client.
void ReleaseWasapiObjects() {
    SoundOutputState& o = g_SoundOutput;
    ReleaseCom(o.renderClient);
    ReleaseCom(o.audioClock);
    ReleaseCom(o.audioClient);
    ReleaseCom(o.device);
    if (o.enumerator != nullptr && o.notificationClient != nullptr) {
        o.enumerator->UnregisterEndpointNotificationCallback(o.notificationClient);
    }
    ReleaseCom(o.enumerator);
    if (o.notificationClient != nullptr) {
        o.notificationClient->Release();
        o.notificationClient = nullptr;
    }
}

int FailWasapi(const char16_t* message) {
    DecreaseLogIndent();
    WriteLogTextUtf16(message);
    g_SoundOutput.wasapiOff = 1;
    g_SoundSystem.softwareMixing = 0;
    return -1;
}

// ---- XAudio2 --------------------------------------------------------------------------------

// Releases the XAudio2 object and unloads its DLL.
void ReleaseXAudio2(SoundOutputState& o) {
    if (o.output != nullptr) {
        static_cast<IUnknown*>(static_cast<IXAudio2*>(o.output))->Release();
        o.output = nullptr;
    }
    if (o.xaudio2Module != nullptr) {
        FreeLibrary(o.xaudio2Module);
        o.xaudio2Module = nullptr;
        o.xaudio2Create = nullptr;
    }
}

int FailXAudio2() {
    SoundOutputState& o = g_SoundOutput;
    ReleaseXAudio2(o);
    o.useXAudio2 = 0;
    return -1;
}

int StartXAudio2Output() {
    SoundOutputState& o = g_SoundOutput;
    WriteLogTextUtf16(u"XAudio2 の初期化を行います\n");
    IncreaseLogIndent();
    o.xaudio2Module = LoadLibraryW(u"XAudio2_8.dll");
    if (o.xaudio2Module != nullptr) {
        WriteLogTextUtf16(u"XAudio2_8.dll を使用します\n");
        o.xaudio2Create =
            reinterpret_cast<XAudio2CreateProc>(GetProcAddress(o.xaudio2Module, "XAudio2Create"));
        WriteLogTextUtf16(u"XAudio2 インターフェースの取得と初期化を行います....  ");
        IXAudio2* engine = nullptr;
        // A module without the entry point fails like a failed call.
        const HRESULT hr = o.xaudio2Create != nullptr
                               ? o.xaudio2Create(&engine, 0, XAUDIO2_ANY_PROCESSOR)
                               : kProcNotFound;
        o.output = engine;
        if (FAILED(hr) || engine == nullptr) {
            WriteLogTextUtf16(u"初期化に失敗しました\n");
            WriteLogFormatUtf16(u"エラーコード %x", static_cast<unsigned>(hr));
            return FailXAudio2();
        }
        WriteLogTextUtf16(u"成功 Ver2.8\n");
        if (FAILED(engine->CreateMasteringVoice(&o.masteringVoice28, XAUDIO2_DEFAULT_CHANNELS,
                                                static_cast<UINT32>(g_SoundSystem.outputFrequency),
                                                0, nullptr, nullptr, AudioCategory_GameEffects))) {
            o.masteringVoice28 = nullptr;
            WriteLogTextUtf16(u"XAudio2MasteringVoiceの作成に失敗しました\n");
            return FailXAudio2();
        }
    } else {
        WriteLogTextUtf16(u"XAudio2 インターフェースの取得を行います....  ");
        void* object = nullptr;
        if (FAILED(CreateComObject(CLSID_XAudio2_7, IID_IXAudio2_7, &object)) ||
            object == nullptr) {
            WriteLogTextUtf16(u"XAudio2インターフェースの取得に失敗しました\n");
            o.output = nullptr;
            return FailXAudio2();
        }
        IXAudio2_7* engine = static_cast<IXAudio2_7*>(object);
        o.output = engine;
        WriteLogFormatUtf16(u"成功 Ver2.%d", 7);
        WriteLogTextUtf16(u"引き続きインターフェースの初期化処理...  ");
        const HRESULT hr = engine->Initialize(0, XAUDIO2_ANY_PROCESSOR);
        if (FAILED(hr)) {
            WriteLogTextUtf16(u"初期化に失敗しました\n");
            WriteLogFormatUtf16(u"エラーコード %x", static_cast<unsigned>(hr));
            return FailXAudio2();
        }
        WriteLogTextUtf16(u"成功\n");
        WriteLogTextUtf16(u"X3DAudio.DLL の読み込み中... ");
        o.x3dAudioModule = LoadLibraryW(u"X3DAudio1_7.dll");
        if (o.x3dAudioModule == nullptr) {
            WriteLogTextUtf16(u"失敗、X3DAudio、XAudio2は使用しません\n");
            return FailXAudio2();
        }
        WriteLogTextUtf16(u"成功\n");
        if (FAILED(engine->CreateMasteringVoice(&o.masteringVoice27, XAUDIO2_DEFAULT_CHANNELS,
                                                static_cast<UINT32>(g_SoundSystem.outputFrequency),
                                                0, 0, nullptr))) {
            o.masteringVoice27 = nullptr;
            WriteLogTextUtf16(u"XAudio2MasteringVoiceの作成に失敗しました\n");
            FreeLibrary(o.x3dAudioModule);
            o.x3dAudioModule = nullptr;
            return FailXAudio2();
        }
    }
    g_SoundSystem.xaudio2Runs = 1;
    return 0;
}

void ReportXAudio2Device() {
    XAUDIO2_DEVICE_DETAILS details{};
    if (FAILED(Engine27()->GetDeviceDetails(0, &details))) return;
    IncreaseLogIndent();
    WriteLogFormatUtf16(u"Device Name : %s", details.DisplayName);
    WriteLogFormatUtf16(u"チャンネル数:%d", details.OutputFormat.Format.nChannels);
    WriteLogFormatUtf16(u"ビット精度:%dbit", details.OutputFormat.Format.wBitsPerSample);
    WriteLogFormatUtf16(u"サンプリングレート:%dHz", details.OutputFormat.Format.nSamplesPerSec);
    DecreaseLogIndent();
}

void EndXAudio2Output() {
    SoundOutputState& o = g_SoundOutput;
    if (o.masteringVoice27 != nullptr) {
        o.masteringVoice27->DestroyVoice();
        o.masteringVoice27 = nullptr;
    }
    if (o.masteringVoice28 != nullptr) {
        o.masteringVoice28->DestroyVoice();
        o.masteringVoice28 = nullptr;
    }
    ReleaseXAudio2(o);
    if (o.x3dAudioModule != nullptr) {
        FreeLibrary(o.x3dAudioModule);
        o.x3dAudioModule = nullptr;
    }
}

// ---- DirectSound ----------------------------------------------------------------------------

int FailDirectSound(const char16_t* message) {
    WriteLogTextUtf16(message);
    ReleaseCom(g_SoundOutput.primaryBuffer);
    if (g_SoundOutput.output != nullptr) {
        DirectSoundObject()->Release();
        g_SoundOutput.output = nullptr;
    }
    return -1;
}

int StartDirectSoundOutput() {
    SoundOutputState& o = g_SoundOutput;
    WriteLogTextUtf16(u"DirectSound の初期化を行います\n");
    WriteLogTextUtf16(u"DirectSound インターフェースの取得を行います....  ");
    void* object = nullptr;
    if (FAILED(CreateComObject(CLSID_DirectSound, IID_IDirectSound, &object)) ||
        object == nullptr) {
        WriteLogTextUtf16(u"DirectSoundインターフェースの取得に失敗しました\n");
        o.output = nullptr;
        return -1;
    }
    o.output = static_cast<IDirectSound*>(object);
    IDirectSound* ds = DirectSoundObject();
    WriteLogTextUtf16(u"成功\n");
    WriteLogTextUtf16(u"引き続きインターフェースの初期化処理...  ");
    const HRESULT hr = ds->Initialize(nullptr);
    if (FAILED(hr)) {
        WriteLogTextUtf16(u"初期化に失敗しました\n");
        WriteLogFormatUtf16(u"エラーコード %x", static_cast<unsigned>(hr));
        return FailDirectSound(u"");
    }
    WriteLogTextUtf16(u"成功\n");
    HWND desktop = SystemApi.GetDesktopWindow != nullptr
                       ? reinterpret_cast<HWND (*)()>(SystemApi.GetDesktopWindow)()
                       : nullptr;
    if (FAILED(ds->SetCooperativeLevel(desktop, DSSCL_PRIORITY))) {
        return FailDirectSound(u"DirectSoundの協調レベルの設定に失敗しました\n");
    }
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
    if (FAILED(ds->CreateSoundBuffer(&desc, &o.primaryBuffer, nullptr))) {
        o.primaryBuffer = nullptr;
        return FailDirectSound(u"DirectSoundのプライマリサウンドバッファの作成に失敗しました\n");
    }
    DSCAPS caps{};
    caps.dwSize = sizeof caps;
    ds->GetCaps(&caps);
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = (caps.dwFlags & DSCAPS_PRIMARYSTEREO) ? 2 : 1;
    format.wBitsPerSample = (caps.dwFlags & DSCAPS_PRIMARY16BIT) ? 16 : 8;
    format.nSamplesPerSec = 44100;
    if (caps.dwMaxSecondarySampleRate < format.nSamplesPerSec) {
        format.nSamplesPerSec = caps.dwMaxSecondarySampleRate;
    }
    format.nBlockAlign = static_cast<WORD>(format.wBitsPerSample / 8 * format.nChannels);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    if (FAILED(o.primaryBuffer->SetFormat(&format))) {
        WriteLogTextUtf16(
            u"DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました\n");
    }
    return 0;
}

void CreateSilentBuffer() {
    SoundOutputState& o = g_SoundOutput;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 22050;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = 44100;
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_STATIC | DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME |
                   DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
    desc.dwBufferBytes = format.nBlockAlign * 9000;
    desc.lpwfxFormat = &format;
    IDirectSound* ds = DirectSoundObject();
    if (FAILED(ds->CreateSoundBuffer(&desc, &o.silentBuffer, nullptr))) {
        o.silentBuffer = nullptr;
        desc.dwFlags = DSBCAPS_STATIC | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;
        if (FAILED(ds->CreateSoundBuffer(&desc, &o.silentBuffer, nullptr))) {
            o.silentBuffer = nullptr;
            WriteLogTextUtf16(u"無音バッファの作成に失敗しました");
            return;
        }
    }
    void* first = nullptr;
    void* second = nullptr;
    DWORD firstBytes = 0;
    DWORD secondBytes = 0;
    if (FAILED(o.silentBuffer->Lock(0, desc.dwBufferBytes, &first, &firstBytes, &second,
                                    &secondBytes, 0))) {
        WriteLogTextUtf16(u"無音バッファのロックに失敗しました");
        ReleaseCom(o.silentBuffer);
        return;
    }
    if (first != nullptr) std::memset(first, 0, firstBytes);
    if (second != nullptr) std::memset(second, 0, secondBytes);
    o.silentBuffer->Unlock(first, firstBytes, second, secondBytes);
    o.silentBuffer->Play(0, 0, DSBPLAY_LOOPING);
}

const char16_t* OkOrNo(DWORD flags, DWORD bit) {
    return (flags & bit) ? u"OK" : u"NO";
}

void ReportDirectSoundDevice() {
    IncreaseLogIndent();
    DSCAPS caps{};
    caps.dwSize = sizeof caps;
    DirectSoundObject()->GetCaps(&caps);
    WriteLogTextUtf16(u"DirectSound デバイスを列挙します\n");
    IncreaseLogIndent();
    HMODULE module = LoadLibraryA("DSound.DLL");
    if (module == nullptr) {
        WriteLogTextUtf16(u"DSOUND.DLL のロードに失敗しました\n");
        DecreaseLogIndent();
        DecreaseLogIndent();
        return;
    }
    auto enumerate = reinterpret_cast<DirectSoundEnumerateWProc>(
        GetProcAddress(module, "DirectSoundEnumerateW"));
    if (enumerate == nullptr) {
        FreeLibrary(module);
        WriteLogTextUtf16(u"DirectSound デバイスの列挙用関数のポインタ取得に失敗しました\n");
        DecreaseLogIndent();
        DecreaseLogIndent();
        return;
    }
    enumerate(&LogDirectSoundDevice, nullptr);
    DecreaseLogIndent();
    WriteLogFormatUtf16(u"最大サンプリングレート:%.2fKHz 最小サンプリングレート:%.2fKHz ",
                        caps.dwMaxSecondarySampleRate / 1000.0,
                        caps.dwMinSecondarySampleRate / 1000.0);
    WriteLogFormatUtf16(u"総サウンドメモリ領域:%.2fKB 空きサウンドメモリ領域:%.2fKB \n",
                        caps.dwTotalHwMemBytes / 1024.0, caps.dwFreeHwMemBytes / 1024.0);
    WriteLogTextUtf16(u"利用可能サンプリング精度\n");
    WriteLogFormatUtf16(u"  Primary    16bit = %s  8bit = %s ",
                        OkOrNo(caps.dwFlags, DSCAPS_PRIMARY16BIT),
                        OkOrNo(caps.dwFlags, DSCAPS_PRIMARY8BIT));
    WriteLogFormatUtf16(u"  Secondary  16bit = %s  8bit = %s \n",
                        OkOrNo(caps.dwFlags, DSCAPS_SECONDARY16BIT),
                        OkOrNo(caps.dwFlags, DSCAPS_SECONDARY8BIT));
    WriteLogTextUtf16(u"利用可能チャンネル\n");
    WriteLogFormatUtf16(u"  Primary    MONO = %s   STEREO = %s ",
                        OkOrNo(caps.dwFlags, DSCAPS_PRIMARYMONO),
                        OkOrNo(caps.dwFlags, DSCAPS_PRIMARYSTEREO));
    WriteLogFormatUtf16(u"  Secondary  MONO = %s   STEREO = %s \n",
                        OkOrNo(caps.dwFlags, DSCAPS_SECONDARYMONO),
                        OkOrNo(caps.dwFlags, DSCAPS_SECONDARYSTEREO));
    DecreaseLogIndent();
    FreeLibrary(module);
}

void EndDirectSoundOutput() {
    SoundOutputState& o = g_SoundOutput;
    if (o.primaryBuffer != nullptr) {
        o.primaryBuffer->Stop();
        ReleaseCom(o.primaryBuffer);
    }
    if (o.silentBuffer != nullptr) {
        o.silentBuffer->Stop();
        ReleaseCom(o.silentBuffer);
    }
    if (PlatformOutputUsable()) DirectSoundObject()->Release();
    o.output = nullptr;
    WriteLogTextUtf16(u"DirectSound の終了処理は正常に終了しました\n");
}

}  // namespace

// ---- The endpoint watcher ---------------------------------------------------------------------

HRESULT D_CMMNotificationClient::QueryInterface(REFIID iid, void** object) {
    if (iid == IID_IUnknown || iid == IID_IMMNotificationClient) {
        AddRef();
        *object = static_cast<IMMNotificationClient*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG D_CMMNotificationClient::AddRef() {
    return ++references_;
}

ULONG D_CMMNotificationClient::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

HRESULT D_CMMNotificationClient::OnDeviceStateChanged(LPCWSTR, DWORD) {
    return S_OK;
}

HRESULT D_CMMNotificationClient::OnDeviceAdded(LPCWSTR) {
    return S_OK;
}

HRESULT D_CMMNotificationClient::OnDeviceRemoved(LPCWSTR) {
    return S_OK;
}

HRESULT D_CMMNotificationClient::OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) {
    if (flow == eRender && role == eConsole) g_SoundOutput.deviceChanged = 1;
    return S_OK;
}

HRESULT D_CMMNotificationClient::OnPropertyValueChanged(LPCWSTR, PROPERTYKEY) {
    return S_OK;
}

// ---- Output choice, start and end ---------------------------------------------------------------

int UseXAudio2Output(int on) {
    if (g_SoundSystem.initialised) return -1;
    if (on) {
        g_SoundOutput.useXAudio2 = 1;
        g_SoundOutput.wasapiOff = 1;
    } else {
        g_SoundOutput.useXAudio2 = 0;
    }
    return 0;
}

int StartSoundOutput() {
    EnsureSystemApiTable();
    SoundOutputState& o = g_SoundOutput;
    if (o.output != nullptr) return -1;
    for (;;) {
        if (o.wasapiOff == 0) {
            if (StartWasapiOutput() == 0) {
                o.output = kWasapiOutput;
                break;
            }
            continue;
        }
        if (o.useXAudio2 == 1) {
            if (StartXAudio2Output() == 0) break;
            continue;
        }
        if (StartDirectSoundOutput() != 0) return -1;
        break;
    }
    g_SoundSystem.musicDeviceMode = 0;
    if (o.wasapiOff == 0) return 0;
    if (o.useXAudio2 == 1) {
        if (o.xaudio2Module == nullptr) ReportXAudio2Device();
        return 0;
    }
    CreateSilentBuffer();
    ReportDirectSoundDevice();
    return 0;
}

int CompleteSoundOutputStart() {
    EnsureSystemApiTable();
    SoundOutputState& o = g_SoundOutput;
    if (SystemReport.logicalProcessorCount > 1 && SystemApi.CreateThread != nullptr) {
        o.serviceStop = 0;
        o.serviceThread = SystemApi.CreateThread(nullptr, 0, &RunSoundServiceThread, nullptr,
                                                 CREATE_SUSPENDED, &o.serviceThreadId);
        if (o.serviceThread != nullptr) {
            if (SystemApi.SetThreadPriority) {
                SystemApi.SetThreadPriority(o.serviceThread, THREAD_PRIORITY_TIME_CRITICAL);
            }
            SystemApi.ResumeThread(o.serviceThread);
        }
    }
    if (WasapiChosen()) return 0;
    if (o.useXAudio2 == 1) {
        DecreaseLogIndent();
        WriteLogTextUtf16(u"XAudio2 の初期化は正常に終了しました\n");
    } else {
        WriteLogTextUtf16(u"DirectSound の初期化は正常に終了しました\n");
    }
    return 0;
}

int StopSoundServiceThread() {
    EnsureSystemApiTable();
    SoundOutputState& o = g_SoundOutput;
    if (o.serviceThread == nullptr) return 0;
    o.serviceStop = 1;
    while (o.serviceStop == 1) {
        if (PumpMessagesUnlocked() != 0) break;
        SleepMs(2);
    }
    // The pump reports the quit as soon as the library ends, which may be while the thread is
    // still inside a step: wait for the thread itself before its handles and locks go.
    if (SystemApi.WaitForSingleObject != nullptr) {
        SystemApi.WaitForSingleObject(o.serviceThread, INFINITE);
    }
    if (SystemApi.CloseHandle != nullptr) SystemApi.CloseHandle(o.serviceThread);
    o.serviceThread = nullptr;
    o.serviceThreadId = 0;
    return 0;
}

int EndSoundOutput() {
    EnsureSystemApiTable();
    SoundOutputState& o = g_SoundOutput;
    if (o.output == kWasapiOutput || WasapiChosen()) {
        EndWasapiOutput();
        // The output is down now: a later start of the sound system chooses again.
        o.output = nullptr;
        return 0;
    }
    if (o.useXAudio2 == 1) {
        EndXAudio2Output();
        g_SoundSystem.xaudio2Runs = 0;
        return 0;
    }
    if (o.output != nullptr) EndDirectSoundOutput();
    return 0;
}

BOOL LogDirectSoundDevice(GUID*, LPCWSTR description, LPCWSTR module, LPVOID) {
    WriteLogFormatUtf16(u"Module Name : %15s   Description : %s ", module ? module : u"",
                        description ? description : u"");
    return TRUE;
}

// ---- WASAPI ---------------------------------------------------------------------------------

int StartWasapiOutput() {
    EnsureSystemApiTable();
    SoundOutputState& o = g_SoundOutput;
    SoundSystemState& s = g_SoundSystem;
    s.softwareMixing = 1;
    WriteLogTextUtf16(u"WASAPI の初期化を行います\n");
    IncreaseLogIndent();

    void* object = nullptr;
    if (FAILED(CreateComObject(CLSID_MMDeviceEnumerator, IID_IMMDeviceEnumerator, &object)) ||
        object == nullptr) {
        return FailWasapi(u"IMMDeviceEnumerator の取得に失敗しました\n");
    }
    o.enumerator = static_cast<IMMDeviceEnumerator*>(object);

    o.notificationClient = new (std::nothrow) D_CMMNotificationClient();
    if (o.notificationClient != nullptr) {
        o.enumerator->RegisterEndpointNotificationCallback(o.notificationClient);
    }

    if (FAILED(o.enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &o.device)) ||
        o.device == nullptr) {
        o.device = nullptr;
        ReleaseWasapiObjects();
        return FailWasapi(u"IMMDevice の取得に失敗しました\n");
    }

    IPropertyStore* store = nullptr;
    if (SUCCEEDED(o.device->OpenPropertyStore(STGM_READ, &store)) && store != nullptr) {
        PROPVARIANT name{};
        if (SUCCEEDED(store->GetValue(PKEY_Device_FriendlyName, &name))) {
            WriteLogFormatUtf16(u"デバイス名 : %s",
                                name.vt == VT_LPWSTR && name.pwszVal ? name.pwszVal : u"");
            ClearPropVariant(&name);
        }
        store->Release();
    }

    object = nullptr;
    if (FAILED(o.device->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, &object)) ||
        object == nullptr) {
        ReleaseWasapiObjects();
        return FailWasapi(u"オーディオクライアントの取得に失敗しました\n");
    }
    o.audioClient = static_cast<IAudioClient*>(object);

    o.audioClient->GetDevicePeriod(&o.defaultPeriod, &o.minimumPeriod);
    WriteLogFormatUtf16(u"デフォルト遅延時間 : %.3f ms", o.defaultPeriod / 10000.0);
    WriteLogFormatUtf16(u"最小遅延時間       : %.3f ms", o.minimumPeriod / 10000.0);
    o.bufferDuration = o.defaultPeriod;
    WriteLogFormatUtf16(u"遅延時間           : %.3f ms", o.bufferDuration / 10000.0);

    WAVEFORMATEX* mix = nullptr;
    if (FAILED(o.audioClient->GetMixFormat(&mix)) || mix == nullptr) {
        ReleaseWasapiObjects();
        return FailWasapi(u"WASAPI の共有モードのサウンドフォーマットの取得に失敗しました\n");
    }
    // What the format holds: the 18 bytes of the plain form and its extension, at most 40.
    std::memset(&o.deviceFormat, 0, sizeof o.deviceFormat);
    std::size_t formatBytes = sizeof(WAVEFORMATEX) + mix->cbSize;
    if (formatBytes > sizeof o.deviceFormat) formatBytes = sizeof o.deviceFormat;
    std::memcpy(&o.deviceFormat, mix, formatBytes);
    const WAVEFORMATEX& f = o.deviceFormat.Format;
    const bool extensible = f.wFormatTag == WAVE_FORMAT_EXTENSIBLE && formatBytes >= 40;

    std::memcpy(&s.mixFormat, &f, 16);
    s.mixFormat.extraSize = f.cbSize;
    s.mixValidBits = extensible ? o.deviceFormat.Samples.wValidBitsPerSample : f.wBitsPerSample;
    if (s.mixValidBits == 0) s.mixValidBits = f.wBitsPerSample;
    s.mixFloatSamples =
        (extensible && o.deviceFormat.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) ||
                f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT
            ? 1
            : 0;
    s.mixChannelMask = extensible ? static_cast<std::int32_t>(o.deviceFormat.dwChannelMask) : 0;
    WriteLogFormatUtf16(u"チャンネル数  　   : %d ch", f.nChannels);
    WriteLogFormatUtf16(u"量子化ビット深度   : %d bit", f.wBitsPerSample);
    WriteLogFormatUtf16(u"有効ビット深度　   : %d bit", s.mixValidBits);
    WriteLogFormatUtf16(u"サンプリングレート : %d Hz", f.nSamplesPerSec);
    WriteLogTextUtf16(s.mixFloatSamples ? u"データ形式         : 浮動小数点型\n"
                                        : u"データ形式         : 整数型\n");

    HRESULT hr = o.audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, o.bufferDuration, 0,
                                           &o.deviceFormat.Format, nullptr);
    if (hr == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) {
        WriteLogTextUtf16(
            u"オーディオクライアントの初期化が AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED "
            u"エラーで失敗しました、遅延時間を調整します\n");
        UINT frames = 0;
        o.audioClient->GetBufferSize(&frames);
        WriteLogFormatUtf16(u"オーディオクライアントのバッファサンプル数 : %d sample", frames);
        const unsigned __int128 product = static_cast<unsigned __int128>(10000000) * frames;
        o.bufferDuration =
            f.nSamplesPerSec ? static_cast<std::int64_t>(product / f.nSamplesPerSec) : 0;
        WriteLogFormatUtf16(u"調整後の遅延時間   : %.1f μs ( %.3f ms )", o.bufferDuration / 10.0,
                            o.bufferDuration / 10000.0);
        ReleaseCom(o.audioClient);
        object = nullptr;
        if (FAILED(o.device->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, &object)) ||
            object == nullptr) {
            ReleaseWasapiObjects();
            FreeTaskMemory(mix);
            return FailWasapi(u"オーディオクライアントの再取得に失敗しました\n");
        }
        o.audioClient = static_cast<IAudioClient*>(object);
        hr = o.audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, o.bufferDuration, 0,
                                       &o.deviceFormat.Format, nullptr);
    }
    if (FAILED(hr)) {
        ReleaseWasapiObjects();
        FreeTaskMemory(mix);
        DecreaseLogIndent();
        WriteLogFormatUtf16(u"オーディオクライアントの初期化に失敗しました　エラーコード：%08x",
                            static_cast<unsigned>(hr));
        o.wasapiOff = 1;
        s.softwareMixing = 0;
        return -1;
    }

    object = nullptr;
    if (FAILED(o.audioClient->GetService(IID_IAudioClock, &object)) || object == nullptr) {
        ReleaseWasapiObjects();
        FreeTaskMemory(mix);
        return FailWasapi(u"オーディオクロックの取得に失敗しました\n");
    }
    o.audioClock = static_cast<IAudioClock*>(object);
    object = nullptr;
    if (FAILED(o.audioClient->GetService(IID_IAudioRenderClient, &object)) || object == nullptr) {
        ReleaseWasapiObjects();
        FreeTaskMemory(mix);
        return FailWasapi(u"オーディオレンダラーの取得に失敗しました\n");
    }
    o.renderClient = static_cast<IAudioRenderClient*>(object);

    UINT frames = 0;
    o.audioClient->GetBufferSize(&frames);
    o.bufferFrames = frames;
    BYTE* data = nullptr;
    if (SUCCEEDED(o.renderClient->GetBuffer(frames, &data)) && data != nullptr) {
        std::memset(data, 0, static_cast<std::size_t>(frames) * f.nBlockAlign);
        o.renderClient->ReleaseBuffer(frames, 0);
    }

    if (AllocateMixBuffer(s.mixFloatSamples, static_cast<int>(frames)) != 0) {
        ReleaseWasapiObjects();
        FreeTaskMemory(mix);
        return FailWasapi(u"自前ミキシング作業用バッファの確保に失敗しました\n");
    }

    o.renderRun = 1;
    o.renderThread =
        SystemApi.CreateThread != nullptr
            ? SystemApi.CreateThread(nullptr, 0, &RunWasapiRenderThread, nullptr, 0, nullptr)
            : nullptr;
    if (o.renderThread == nullptr) {
        o.renderRun = 0;
        ReleaseWasapiObjects();
        FreeTaskMemory(mix);
        return FailWasapi(u"オーディオ再生用スレッドの作成に失敗しました\n");
    }
    if (SystemApi.SetThreadPriority) {
        SystemApi.SetThreadPriority(o.renderThread, THREAD_PRIORITY_TIME_CRITICAL);
    }

    FreeTaskMemory(mix);
    o.audioClient->Start();
    WriteLogTextUtf16(u"動作モード         : 共有モード\n");
    DecreaseLogIndent();
    WriteLogTextUtf16(u"WASAPI の初期化は正常に終了しました\n");
    return 0;
}

int EndWasapiOutput() {
    EnsureSystemApiTable();
    SoundOutputState& o = g_SoundOutput;
    if (o.renderThread != nullptr) {
        o.renderRun = 0;
        if (SystemApi.WaitForSingleObject) SystemApi.WaitForSingleObject(o.renderThread, INFINITE);
        if (SystemApi.CloseHandle) SystemApi.CloseHandle(o.renderThread);
        o.renderThread = nullptr;
    }
    ReleaseCom(o.renderClient);
    ReleaseCom(o.audioClock);
    ReleaseCom(o.audioClient);
    ReleaseCom(o.device);
    if (o.enumerator != nullptr) {
        if (o.notificationClient != nullptr) {
            o.enumerator->UnregisterEndpointNotificationCallback(o.notificationClient);
        }
        ReleaseCom(o.enumerator);
    }
    if (o.notificationClient != nullptr) {
        o.notificationClient->Release();
        o.notificationClient = nullptr;
    }
    return 0;
}

int ReinitAudioAfterDeviceChange() {
    SoundOutputState& o = g_SoundOutput;
    if (o.deviceChanged == 0) return 0;
    o.deviceChanged = 0;
    if (o.output != kWasapiOutput) return 0;
    // The service thread reads the clock inside its steps, which run under the Sound type's lock.
    HandleTypeRecord& sounds = HandleTypeTable[DX_HANDLETYPE_SOUND];
    const bool locked = sounds.registered != 0;
    if (locked) DX_LOCK(&sounds.lock);
    EndWasapiOutput();
    StartWasapiOutput();
    if (locked) DX_UNLOCK(&sounds.lock);
    return 0;
}

DWORD RunWasapiRenderThread(LPVOID) {
    SoundOutputState& o = g_SoundOutput;
    std::int64_t sleep = o.bufferDuration / 20000;
    if (sleep == 0) sleep = 1;
    const int bytesPerSample = o.deviceFormat.Format.wBitsPerSample / 8;
    const int blockAlign = o.deviceFormat.Format.nBlockAlign;
    while (o.renderRun == 1) {
        SleepMs(static_cast<DWORD>(sleep));
        UINT queued = o.bufferFrames;
        // A failed query leaves nothing to fill.
        if (FAILED(o.audioClient->GetCurrentPadding(&queued))) queued = o.bufferFrames;
        const UINT n = queued < o.bufferFrames ? o.bufferFrames - queued : 0;
        if (n == 0) continue;
        BYTE* data = nullptr;
        if (FAILED(o.renderClient->GetBuffer(n, &data)) || data == nullptr) continue;
        if (MixSoundBuffers(data, data + bytesPerSample, blockAlign, n) != 0) {
            std::memset(data, 0, static_cast<std::size_t>(n) * blockAlign);
        }
        o.renderClient->ReleaseBuffer(n, 0);
    }
    return 0;
}

DWORD RunSoundServiceThread(LPVOID) {
    EnsureSystemApiTable();
    SoundOutputState& o = g_SoundOutput;
    HandleTypeRecord& sounds = HandleTypeTable[DX_HANDLETYPE_SOUND];
    HandleTypeRecord& softSounds = HandleTypeTable[DX_HANDLETYPE_SOFTSOUND];
    while (o.serviceStop != 1 && g_SoundSystem.initialised) {
        DX_LOCK(&sounds.lock);
        RefreshStreamSounds();
        ServiceSoundBufferCycles();
        PruneStoppedSounds();
        DX_UNLOCK(&sounds.lock);
        DX_LOCK(&softSounds.lock);
        FeedSoftSoundPlayers();
        DX_UNLOCK(&softSounds.lock);
        SleepMs(10);
    }
    o.serviceStop = 2;
    return 0;
}

// ---- Queries ----------------------------------------------------------------------------------

int IsSoundOutputUp() {
    const SoundOutputState& o = g_SoundOutput;
    if (o.output == nullptr) return 0;
    // A WASAPI restart that failed leaves the mark without an output behind it.
    if (o.output == kWasapiOutput && g_SoundSystem.softwareMixing == 0) return 0;
    return 1;
}

int HasPlatformVoice(const SoundBuffer* buffer) {
    return buffer->platformVoice != nullptr ? 1 : 0;
}

int ReadOutputClock(std::uint64_t* position, std::uint64_t* frequency) {
    SoundOutputState& o = g_SoundOutput;
    if (o.audioClock == nullptr) return -1;
    ULONGLONG f = 0;
    ULONGLONG p = 0;
    o.audioClock->GetFrequency(&f);
    o.audioClock->GetPosition(&p, nullptr);
    *frequency = f;
    *position = p;
    return 0;
}

// ---- Platform buffers -------------------------------------------------------------------------

int CreatePlatformBuffer(SoundBuffer* buffer, int size, const SoundFormat* format,
                         const SoundBuffer* source, int) {
    buffer->platformVoice = nullptr;
    buffer->voiceCallback = nullptr;
    SoundFormat f;
    if (source != nullptr) {
        size = source->format.blockAlign * source->length;
        f = source->format;
    } else {
        if (format == nullptr) return -1;
        f = *format;
    }
    if (!PlatformOutputUsable()) return -1;
    if (UsesXAudio2()) {
        SoundFormat voiceFormat = f;
        bool stereoCopy = false;
        if (voiceFormat.channels == 1) {
            voiceFormat.channels = 2;
            voiceFormat.blockAlign = static_cast<std::uint16_t>(voiceFormat.bitsPerSample * 2 / 8);
            voiceFormat.avgBytesPerSec = voiceFormat.blockAlign * voiceFormat.samplesPerSec;
            stereoCopy = true;
        }
        buffer->voiceChannels = voiceFormat.channels;
        buffer->waveData = source != nullptr ? RetainSoundBufferData(source->waveData)
                                             : AllocateSoundBufferData(size, stereoCopy ? 1 : 0);
        if (buffer->waveData == nullptr) return -1;
        auto* callback = new (std::nothrow) SOUNDBUFFER_CALLBACK(buffer);
        if (callback == nullptr) return -1;
        buffer->voiceCallback = callback;
        const WAVEFORMATEX w = ToWaveFormat(voiceFormat);
        IXAudio2SourceVoice* voice = nullptr;
        const HRESULT hr =
            g_SoundOutput.xaudio2Module != nullptr
                ? Engine28()->CreateSourceVoice(&voice, &w, 0, 2.0f, callback, nullptr, nullptr)
                : Engine27()->CreateSourceVoice(&voice, &w, 0, 2.0f, callback, nullptr, nullptr);
        if (FAILED(hr) || voice == nullptr) {
            if (voice != nullptr) voice->DestroyVoice();
            delete callback;
            buffer->voiceCallback = nullptr;
            return -1;
        }
        buffer->platformVoice = voice;
        return 0;
    }
    WAVEFORMATEX w = ToWaveFormat(f);
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_STATIC | DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME |
                   DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
    desc.dwBufferBytes = static_cast<DWORD>(size);
    desc.lpwfxFormat = &w;
    IDirectSoundBuffer* dsBuffer = nullptr;
    if (SUCCEEDED(DirectSoundObject()->CreateSoundBuffer(&desc, &dsBuffer, nullptr)) &&
        dsBuffer != nullptr) {
        buffer->platformVoice = dsBuffer;
        return 0;
    }
    dsBuffer = nullptr;
    desc.dwFlags = DSBCAPS_STATIC | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;
    if (SUCCEEDED(DirectSoundObject()->CreateSoundBuffer(&desc, &dsBuffer, nullptr)) &&
        dsBuffer != nullptr) {
        buffer->platformVoice = dsBuffer;
        return 0;
    }
    return -1;
}

int ReleasePlatformBuffer(SoundBuffer* buffer) {
    if (buffer->platformVoice == nullptr) {
        delete static_cast<SOUNDBUFFER_CALLBACK*>(buffer->voiceCallback);
        buffer->voiceCallback = nullptr;
        return 0;
    }
    if (buffer->voiceCallback != nullptr) {
        SourceVoice(buffer)->DestroyVoice();
        delete static_cast<SOUNDBUFFER_CALLBACK*>(buffer->voiceCallback);
        buffer->voiceCallback = nullptr;
    } else {
        DirectSoundBuffer(buffer)->Release();
    }
    buffer->platformVoice = nullptr;
    return 0;
}

int IsPlatformBufferPlaying(SoundBuffer* buffer) {
    if (UsesXAudio2()) return buffer->playing ? 1 : 0;
    if (buffer->platformVoice == nullptr) return -1;
    DWORD status = 0;
    if (FAILED(DirectSoundBuffer(buffer)->GetStatus(&status))) return -1;
    return (status & DSBSTATUS_PLAYING) ? 1 : 0;
}

int GetPlatformBufferPosition(SoundBuffer* buffer, std::uint32_t* play, std::uint32_t* write) {
    if (UsesXAudio2()) return 2;
    if (buffer->platformVoice == nullptr) return -1;
    DWORD p = 0;
    DWORD w = 0;
    DirectSoundBuffer(buffer)->GetCurrentPosition(&p, &w);
    if (play) *play = p;
    if (write) *write = w;
    return 0;
}

int SetPlatformBufferPosition(SoundBuffer* buffer, std::uint32_t bytes) {
    if (UsesXAudio2()) {
        if (buffer->platformVoice == nullptr) return -1;
        const std::uint32_t align = buffer->format.blockAlign ? buffer->format.blockAlign : 1;
        const std::uint32_t frames = bytes / align;
        buffer->position = buffer->mixPosition = static_cast<std::int32_t>(frames);
        SourceVoice(buffer)->FlushSourceBuffers();
        return 0;
    }
    if (buffer->platformVoice == nullptr) return -1;
    DirectSoundBuffer(buffer)->SetCurrentPosition(bytes);
    return 0;
}

int GetPlatformBufferFrequency(SoundBuffer* buffer, std::int32_t* hz) {
    if (UsesXAudio2()) return 2;
    if (buffer->platformVoice == nullptr) return -1;
    DWORD f = 0;
    if (FAILED(DirectSoundBuffer(buffer)->GetFrequency(&f))) return -1;
    *hz = static_cast<std::int32_t>(f);
    return 0;
}

int SetPlatformBufferFrequency(SoundBuffer* buffer, std::int32_t hz) {
    if (buffer->platformVoice == nullptr) return -1;
    if (UsesXAudio2()) {
        const float ratio = hz == 0 ? 1.0f
                                    : static_cast<float>(static_cast<std::uint32_t>(hz)) /
                                          static_cast<float>(buffer->format.samplesPerSec);
        SourceVoice(buffer)->SetFrequencyRatio(ratio, XAUDIO2_COMMIT_NOW);
        return 0;
    }
    DirectSoundBuffer(buffer)->SetFrequency(static_cast<DWORD>(hz));
    return 0;
}

int ApplyPlatformBufferVolume(SoundBuffer* buffer) {
    if (buffer->platformVoice == nullptr) return -1;
    int channels = buffer->format.channels;
    if (channels > 8) channels = 8;
    const std::int32_t pan = buffer->pan;
    if (UsesXAudio2()) {
        float gains[8];
        for (int i = 0; i < 8; ++i) {
            const float exponent = static_cast<float>(buffer->volume[i]) / 100.0f / 20.0f;
            gains[i] = static_cast<float>(std::pow(10.0, static_cast<double>(exponent)));
        }
        if (channels <= 2) {
            if (channels == 1) gains[1] = gains[0];
            if (pan < 0) {
                gains[1] *= static_cast<float>(
                    std::pow(10.0, static_cast<double>(static_cast<float>(pan) / 100.0f / 20.0f)));
            } else if (pan > 0) {
                gains[0] *= static_cast<float>(
                    std::pow(10.0, static_cast<double>(static_cast<float>(-pan) / 100.0f / 20.0f)));
            }
        }
        SourceVoice(buffer)->SetChannelVolumes(buffer->voiceChannels, gains, XAUDIO2_COMMIT_NOW);
        return 0;
    }
    IDirectSoundBuffer* ds = DirectSoundBuffer(buffer);
    std::int32_t volume = buffer->volume[0];
    if (volume < -10000) volume = -10000;
    if (volume > 0) volume = 0;
    if (channels > 2) {
        ds->SetVolume(volume);
        ds->SetPan(pan);
        return 0;
    }
    // DirectSound has one volume and one pan: combine both into channel levels and back.
    const std::int32_t v = volume + 10000;
    std::int32_t leftFactor = 10000;
    std::int32_t rightFactor = 10000;
    if (pan < 0) {
        rightFactor = 10000 + pan;
    } else {
        leftFactor = 10000 - pan;
    }
    const std::int32_t l = v * leftFactor / 10000;
    const std::int32_t r = v * rightFactor / 10000;
    std::int32_t outPan;
    std::int32_t outVolume;
    if (l > r) {
        outPan = -10000 - static_cast<std::int32_t>(-10000.0f / static_cast<float>(l) *
                                                    static_cast<float>(r));
        outVolume = l - 10000;
    } else if (l < r) {
        outPan = 10000 - static_cast<std::int32_t>(10000.0f / static_cast<float>(r) *
                                                   static_cast<float>(l));
        outVolume = r - 10000;
    } else {
        outPan = 0;
        outVolume = l - 10000;
    }
    ds->SetPan(outPan);
    ds->SetVolume(outVolume);
    return 0;
}

int LockPlatformBuffer(SoundBuffer* buffer, std::uint32_t offset, std::uint32_t bytes, void** first,
                       std::uint32_t* firstLength, void** second, std::uint32_t* secondLength) {
    if (UsesXAudio2()) return 2;
    if (buffer->platformVoice == nullptr) return -1;
    DWORD a = 0;
    DWORD b = 0;
    if (FAILED(DirectSoundBuffer(buffer)->Lock(offset, bytes, first, &a, second, &b, 0))) {
        return -1;
    }
    *firstLength = a;
    *secondLength = b;
    return 0;
}

int UnlockPlatformBuffer(SoundBuffer* buffer, void* first, std::uint32_t firstLength, void* second,
                         std::uint32_t secondLength) {
    if (UsesXAudio2()) {
        SoundBufferData* data = buffer->waveData;
        if (data == nullptr || data->secondData == nullptr) return 0;
        const struct {
            void* at;
            std::uint32_t length;
        } regions[2] = {{first, firstLength}, {second, secondLength}};
        for (const auto& region : regions) {
            if (region.at == nullptr) continue;
            const std::size_t o =
                static_cast<std::size_t>(static_cast<unsigned char*>(region.at) - data->data);
            if (buffer->format.bitsPerSample == 8) {
                const unsigned char* in = data->data + o;
                unsigned char* out = data->secondData + 2 * o;
                for (std::uint32_t i = 0; i < region.length; ++i) {
                    out[2 * i] = in[i];
                    out[2 * i + 1] = in[i];
                }
            } else if (buffer->format.bitsPerSample == 16) {
                const unsigned char* in = data->data + o;
                unsigned char* out = data->secondData + 2 * o;
                for (std::uint32_t i = 0; i < region.length / 2; ++i) {
                    std::memcpy(out + 4 * i, in + 2 * i, 2);
                    std::memcpy(out + 4 * i + 2, in + 2 * i, 2);
                }
            }
        }
        return 0;
    }
    if (buffer->platformVoice == nullptr) return -1;
    return SUCCEEDED(DirectSoundBuffer(buffer)->Unlock(first, firstLength, second, secondLength))
               ? 0
               : -1;
}

int PlayPlatformBuffer(SoundBuffer* buffer, int loop) {
    if (buffer->platformVoice == nullptr) return -1;
    if (UsesXAudio2()) {
        buffer->playing = 1;
        SourceVoice(buffer)->Start(0, XAUDIO2_COMMIT_NOW);
        return 0;
    }
    return SUCCEEDED(DirectSoundBuffer(buffer)->Play(0, 0, loop ? DSBPLAY_LOOPING : 0)) ? 0 : -1;
}

int StopPlatformBuffer(SoundBuffer* buffer, int) {
    if (buffer->platformVoice == nullptr) return -1;
    if (UsesXAudio2()) {
        SourceVoice(buffer)->Stop(0, XAUDIO2_COMMIT_NOW);
        buffer->playing = 0;
        return 0;
    }
    DirectSoundBuffer(buffer)->Stop();
    return 0;
}

int StepPlatformBufferCycle(SoundBuffer*) {
    return -1;
}

// No buffer of the player is set up with 3D processing, so the platform keeps no 3D voice: the
// 3D side only accepts the values.
int SetUpPlatformBuffer3D(SoundBuffer*) {
    return 0;
}

int SetPlatformBuffer3DPosition(SoundBuffer*, const float*) {
    return 0;
}

int SetPlatformBuffer3DVelocity(SoundBuffer*, const float*) {
    return 0;
}

int SetPlatformBuffer3DRadius(SoundBuffer*, float) {
    return 0;
}

int ApplyPlatformBuffer3D(SoundBuffer* buffer) {
    buffer->gain3D = 1.0f;
    buffer->pan3D = 0.0f;
    return 0;
}

// ---- The XAudio2 voice callback -----------------------------------------------------------------

void SOUNDBUFFER_CALLBACK::OnVoiceProcessingPassStart(UINT32 bytesRequired) {
    SoundBuffer* b = buffer;
    std::int32_t p = b->mixPosition;
    const std::int32_t piece = static_cast<std::int32_t>(b->format.samplesPerSec / 60);
    const std::uint32_t frameBytes = b->format.bitsPerSample * b->voiceChannels / 8;
    SoundBufferData* waveData = b->waveData;
    if (waveData == nullptr || frameBytes == 0 || piece <= 0) return;
    const unsigned char* data = waveData->secondData ? waveData->secondData : waveData->data;
    std::uint32_t submitted = 0;
    IXAudio2SourceVoice* voice = SourceVoice(b);
    while (bytesRequired != 0 && submitted < bytesRequired) {
        if (p >= b->length) {
            if (b->loop == 0) {
                b->mixPosition = p;
                StopSoundBuffer(b, 0);
                return;
            }
            p = 0;
        }
        std::int32_t n = piece < b->length - p ? piece : b->length - p;
        std::uint32_t bytes = static_cast<std::uint32_t>(n) * frameBytes;
        if (bytes > bytesRequired) {
            n = static_cast<std::int32_t>(bytesRequired / frameBytes);
            bytes = static_cast<std::uint32_t>(n) * frameBytes;
        }
        if (n == 0) break;  // less than one frame asked: nothing whole to give
        XAUDIO2_BUFFER submission{};
        submission.AudioBytes = bytes;
        submission.pAudioData = data + static_cast<std::size_t>(frameBytes) * p;
        submission.pContext = b;
        voice->SubmitSourceBuffer(&submission, nullptr);
        p += n;
        submitted += bytes;
    }
    b->mixPosition = p;
}

void SOUNDBUFFER_CALLBACK::OnVoiceProcessingPassEnd() {}

void SOUNDBUFFER_CALLBACK::OnStreamEnd() {}

void SOUNDBUFFER_CALLBACK::OnBufferStart(void*) {}

void SOUNDBUFFER_CALLBACK::OnBufferEnd(void* context) {
    auto* b = static_cast<SoundBuffer*>(context);
    b->position = b->mixPosition;
}

void SOUNDBUFFER_CALLBACK::OnLoopEnd(void*) {}

void SOUNDBUFFER_CALLBACK::OnVoiceError(void*, HRESULT) {}

// ---- Music ------------------------------------------------------------------------------------

int IsPlatformMusicPlaying(MusicHandleData*) {
    return 0;
}

int UpdatePlatformMusicState(MusicHandleData*) {
    return 0;
}

int StopPlatformMusic(MusicHandleData*) {
    for (int i = 0; i < 5; ++i) PumpMessagesUnlocked();
    return 0;
}

int ReleasePlatformMusic(MusicHandleData*) {
    return 0;
}

int HandleMusicDeviceNotify() {
    return 0;
}

}  // namespace ZiDaz
