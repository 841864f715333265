// The sound module's platform side: the choice of the output (WASAPI with the library's own mixer,
// XAudio2 or DirectSound), its start and end, the sound service thread, the WASAPI render thread,
// and the per-buffer operations on platform voices.
#pragma once

#include <atomic>
#include <cstdint>

#include "Main/DuZuder.h"
#include "platform/DSound.h"
#include "platform/Mmdevapi.h"
#include "platform/XAudio2.h"

namespace ZiDaz {

// The library's endpoint watcher: it only raises the device-changed flag when the default render
// device of the console role changes.
class D_CMMNotificationClient final : public IMMNotificationClient {
  public:
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT OnDeviceStateChanged(LPCWSTR deviceId, DWORD newState) override;
    HRESULT OnDeviceAdded(LPCWSTR deviceId) override;
    HRESULT OnDeviceRemoved(LPCWSTR deviceId) override;
    HRESULT OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR deviceId) override;
    HRESULT OnPropertyValueChanged(LPCWSTR deviceId, PROPERTYKEY key) override;

  private:
    ~D_CMMNotificationClient() = default;
    ULONG references_ = 1;
};

struct SoundOutputState {
    std::int32_t useXAudio2;  // the XAudio2 switch
    std::int32_t wasapiOff;
    void* output;  // the engine, the DirectSound object, or the value 1 for WASAPI; null when down
    IDirectSoundBuffer* primaryBuffer;
    IDirectSoundBuffer* silentBuffer;
    // XAudio2.
    HMODULE xaudio2Module;  // "XAudio2_8.dll": present means version 2.8
    XAudio2CreateProc xaudio2Create;
    HMODULE x3dAudioModule;
    IXAudio2MasteringVoice* masteringVoice27;
    IXAudio2MasteringVoice* masteringVoice28;
    // WASAPI.
    IMMDeviceEnumerator* enumerator;
    D_CMMNotificationClient* notificationClient;
    IMMDevice* device;
    IAudioClient* audioClient;
    IAudioClock* audioClock;
    IAudioRenderClient* renderClient;
    std::int64_t defaultPeriod;
    std::int64_t minimumPeriod;
    std::int64_t bufferDuration;
    std::uint32_t bufferFrames;
    WAVEFORMATEXTENSIBLE deviceFormat;
    HANDLE renderThread;
    std::atomic<std::int32_t> renderRun;
    // The sound service thread.
    HANDLE serviceThread;
    DWORD serviceThreadId;
    std::atomic<std::int32_t> serviceStop;  // 0 running, 1 stop asked, 2 ended
    std::atomic<std::int32_t> deviceChanged;
};

extern SoundOutputState g_SoundOutput;

int UseXAudio2Output(int on);
int StartSoundOutput();
int CompleteSoundOutputStart();
int StopSoundServiceThread();
int EndSoundOutput();
BOOL LogDirectSoundDevice(GUID* guid, LPCWSTR description, LPCWSTR module, LPVOID context);

int StartWasapiOutput();
int EndWasapiOutput();
// When the default device changed: ends the WASAPI output and starts it again. 0.
int ReinitAudioAfterDeviceChange();

DWORD RunSoundServiceThread(LPVOID argument);
DWORD RunWasapiRenderThread(LPVOID argument);

// 1 while an output runs.
int IsSoundOutputUp();
int HasPlatformVoice(const SoundBuffer* buffer);
// The WASAPI output's clock: frames played so far and frames a second; -1 without a clock.
int ReadOutputClock(std::uint64_t* position, std::uint64_t* frequency);

// Buffer operations on the platform's voices: 0, -1, or 2 where the buffer layer answers itself.
int CreatePlatformBuffer(SoundBuffer* buffer, int size, const SoundFormat* format,
                         const SoundBuffer* source, int is3D);
int ReleasePlatformBuffer(SoundBuffer* buffer);
int IsPlatformBufferPlaying(SoundBuffer* buffer);
int GetPlatformBufferPosition(SoundBuffer* buffer, std::uint32_t* play, std::uint32_t* write);
int SetPlatformBufferPosition(SoundBuffer* buffer, std::uint32_t bytes);
int GetPlatformBufferFrequency(SoundBuffer* buffer, std::int32_t* hz);
int SetPlatformBufferFrequency(SoundBuffer* buffer, std::int32_t hz);
int ApplyPlatformBufferVolume(SoundBuffer* buffer);
int LockPlatformBuffer(SoundBuffer* buffer, std::uint32_t offset, std::uint32_t bytes, void** first,
                       std::uint32_t* firstLength, void** second, std::uint32_t* secondLength);
int UnlockPlatformBuffer(SoundBuffer* buffer, void* first, std::uint32_t firstLength, void* second,
                         std::uint32_t secondLength);
int PlayPlatformBuffer(SoundBuffer* buffer, int loop);
int StopPlatformBuffer(SoundBuffer* buffer, int flag);
int StepPlatformBufferCycle(SoundBuffer* buffer);
// The 3D side of a platform buffer; no buffer of the player has 3D processing.
int SetUpPlatformBuffer3D(SoundBuffer* buffer);
int SetPlatformBuffer3DPosition(SoundBuffer* buffer, const float* position);
int SetPlatformBuffer3DVelocity(SoundBuffer* buffer, const float* velocity);
int SetPlatformBuffer3DRadius(SoundBuffer* buffer, float radius);
int ApplyPlatformBuffer3D(SoundBuffer* buffer);

// The voice callback of an XAudio2 source voice: streams the buffer's data piece by piece.
struct SOUNDBUFFER_CALLBACK final : D_IXAudio2VoiceCallback {
    SoundBuffer* buffer;
    explicit SOUNDBUFFER_CALLBACK(SoundBuffer* owner) : buffer(owner) {}
    void OnVoiceProcessingPassStart(UINT32 bytesRequired) override;
    void OnVoiceProcessingPassEnd() override;
    void OnStreamEnd() override;
    void OnBufferStart(void* context) override;
    void OnBufferEnd(void* context) override;
    void OnLoopEnd(void* context) override;
    void OnVoiceError(void* context, HRESULT error) override;
};

// The platform side of Music handles: there is no music device of the library's own.
int IsPlatformMusicPlaying(MusicHandleData* music);
int UpdatePlatformMusicState(MusicHandleData* music);
int StopPlatformMusic(MusicHandleData* music);
int ReleasePlatformMusic(MusicHandleData* music);
int HandleMusicDeviceNotify();

}  // namespace ZiDaz
