// XAudio2 as the sound module uses it: the engine of version 2.8 (from "XAudio2_8.dll") and of
// version 2.7 (a COM class), source and mastering voices and the voice callback. The interfaces
// list every method in their documented order. This platform offers no XAudio2: the declarations
// serve the library's output and the recording engines of the tests.
#pragma once

#include "platform/Com.h"
#include "platform/Mmdevapi.h"

// {5A508685-A254-4FBA-9B82-9A24B00306AF}
inline constexpr CLSID CLSID_XAudio2_7 = {
    0x5A508685, 0xA254, 0x4FBA, {0x9B, 0x82, 0x9A, 0x24, 0xB0, 0x03, 0x06, 0xAF}};
// {8BCF1F58-9FE7-4583-8AC6-E2ADC465C8BB}
inline constexpr IID IID_IXAudio2_7 = {
    0x8BCF1F58, 0x9FE7, 0x4583, {0x8A, 0xC6, 0xE2, 0xAD, 0xC4, 0x65, 0xC8, 0xBB}};

using UINT32 = std::uint32_t;
using XAUDIO2_PROCESSOR = UINT32;
inline constexpr XAUDIO2_PROCESSOR XAUDIO2_ANY_PROCESSOR = 0xFFFFFFFF;
inline constexpr UINT32 XAUDIO2_COMMIT_NOW = 0;
inline constexpr UINT32 XAUDIO2_DEFAULT_CHANNELS = 0;
inline constexpr int AudioCategory_GameEffects = 6;

struct XAUDIO2_BUFFER {
    UINT32 Flags;
    UINT32 AudioBytes;
    const BYTE* pAudioData;
    UINT32 PlayBegin;
    UINT32 PlayLength;
    UINT32 LoopBegin;
    UINT32 LoopLength;
    UINT32 LoopCount;
    void* pContext;
};

struct XAUDIO2_DEVICE_DETAILS {
    WCHAR DeviceID[256];
    WCHAR DisplayName[256];
    int Role;
    WAVEFORMATEXTENSIBLE OutputFormat;
};

struct XAUDIO2_VOICE_SENDS;
struct XAUDIO2_EFFECT_CHAIN;
struct XAUDIO2_VOICE_DETAILS;
struct XAUDIO2_FILTER_PARAMETERS;
struct XAUDIO2_VOICE_STATE;
struct XAUDIO2_BUFFER_WMA;
struct XAUDIO2_PERFORMANCE_DATA;
struct XAUDIO2_DEBUG_CONFIGURATION;
struct IXAudio2EngineCallback;
struct IXAudio2SubmixVoice;

// The voice callback (no IUnknown base).
struct D_IXAudio2VoiceCallback {
    virtual void OnVoiceProcessingPassStart(UINT32 bytesRequired) = 0;
    virtual void OnVoiceProcessingPassEnd() = 0;
    virtual void OnStreamEnd() = 0;
    virtual void OnBufferStart(void* context) = 0;
    virtual void OnBufferEnd(void* context) = 0;
    virtual void OnLoopEnd(void* context) = 0;
    virtual void OnVoiceError(void* context, HRESULT error) = 0;

  protected:
    ~D_IXAudio2VoiceCallback() = default;
};

struct IXAudio2Voice {
    virtual void GetVoiceDetails(XAUDIO2_VOICE_DETAILS* details) = 0;
    virtual HRESULT SetOutputVoices(const XAUDIO2_VOICE_SENDS* sends) = 0;
    virtual HRESULT SetEffectChain(const XAUDIO2_EFFECT_CHAIN* chain) = 0;
    virtual HRESULT EnableEffect(UINT32 index, UINT32 operationSet) = 0;
    virtual HRESULT DisableEffect(UINT32 index, UINT32 operationSet) = 0;
    virtual void GetEffectState(UINT32 index, BOOL* enabled) = 0;
    virtual HRESULT SetEffectParameters(UINT32 index, const void* parameters, UINT32 bytes,
                                        UINT32 operationSet) = 0;
    virtual HRESULT GetEffectParameters(UINT32 index, void* parameters, UINT32 bytes) = 0;
    virtual HRESULT SetFilterParameters(const XAUDIO2_FILTER_PARAMETERS* parameters,
                                        UINT32 operationSet) = 0;
    virtual void GetFilterParameters(XAUDIO2_FILTER_PARAMETERS* parameters) = 0;
    virtual HRESULT SetOutputFilterParameters(IXAudio2Voice* destination,
                                              const XAUDIO2_FILTER_PARAMETERS* parameters,
                                              UINT32 operationSet) = 0;
    virtual void GetOutputFilterParameters(IXAudio2Voice* destination,
                                           XAUDIO2_FILTER_PARAMETERS* parameters) = 0;
    virtual HRESULT SetVolume(float volume, UINT32 operationSet) = 0;
    virtual void GetVolume(float* volume) = 0;
    virtual HRESULT SetChannelVolumes(UINT32 channels, const float* volumes,
                                      UINT32 operationSet) = 0;
    virtual void GetChannelVolumes(UINT32 channels, float* volumes) = 0;
    virtual HRESULT SetOutputMatrix(IXAudio2Voice* destination, UINT32 sourceChannels,
                                    UINT32 destinationChannels, const float* matrix,
                                    UINT32 operationSet) = 0;
    virtual void GetOutputMatrix(IXAudio2Voice* destination, UINT32 sourceChannels,
                                 UINT32 destinationChannels, float* matrix) = 0;
    virtual void DestroyVoice() = 0;

  protected:
    ~IXAudio2Voice() = default;
};

struct IXAudio2SourceVoice : IXAudio2Voice {
    virtual HRESULT Start(UINT32 flags, UINT32 operationSet) = 0;
    virtual HRESULT Stop(UINT32 flags, UINT32 operationSet) = 0;
    virtual HRESULT SubmitSourceBuffer(const XAUDIO2_BUFFER* buffer,
                                       const XAUDIO2_BUFFER_WMA* wma) = 0;
    virtual HRESULT FlushSourceBuffers() = 0;
    virtual HRESULT Discontinuity() = 0;
    virtual HRESULT ExitLoop(UINT32 operationSet) = 0;
    virtual void GetState(XAUDIO2_VOICE_STATE* state, UINT32 flags) = 0;
    virtual HRESULT SetFrequencyRatio(float ratio, UINT32 operationSet) = 0;
    virtual void GetFrequencyRatio(float* ratio) = 0;
    virtual HRESULT SetSourceSampleRate(UINT32 rate) = 0;

  protected:
    ~IXAudio2SourceVoice() = default;
};

struct IXAudio2MasteringVoice : IXAudio2Voice {
  protected:
    ~IXAudio2MasteringVoice() = default;
};

// Version 2.8.
struct IXAudio2 : IUnknown {
    virtual HRESULT RegisterForCallbacks(IXAudio2EngineCallback* callback) = 0;
    virtual void UnregisterForCallbacks(IXAudio2EngineCallback* callback) = 0;
    virtual HRESULT CreateSourceVoice(IXAudio2SourceVoice** voice, const WAVEFORMATEX* format,
                                      UINT32 flags, float maxFrequencyRatio,
                                      D_IXAudio2VoiceCallback* callback,
                                      const XAUDIO2_VOICE_SENDS* sends,
                                      const XAUDIO2_EFFECT_CHAIN* effects) = 0;
    virtual HRESULT CreateSubmixVoice(IXAudio2SubmixVoice** voice, UINT32 channels, UINT32 rate,
                                      UINT32 flags, UINT32 stage, const XAUDIO2_VOICE_SENDS* sends,
                                      const XAUDIO2_EFFECT_CHAIN* effects) = 0;
    virtual HRESULT CreateMasteringVoice(IXAudio2MasteringVoice** voice, UINT32 channels,
                                         UINT32 rate, UINT32 flags, LPCWSTR deviceId,
                                         const XAUDIO2_EFFECT_CHAIN* effects,
                                         int streamCategory) = 0;
    virtual HRESULT StartEngine() = 0;
    virtual void StopEngine() = 0;
    virtual HRESULT CommitChanges(UINT32 operationSet) = 0;
    virtual void GetPerformanceData(XAUDIO2_PERFORMANCE_DATA* data) = 0;
    virtual void SetDebugConfiguration(const XAUDIO2_DEBUG_CONFIGURATION* configuration,
                                       void* reserved) = 0;

  protected:
    ~IXAudio2() = default;
};

// Version 2.7: device queries and Initialize come first, CreateSourceVoice stands later.
struct IXAudio2_7 : IUnknown {
    virtual HRESULT GetDeviceCount(UINT32* count) = 0;
    virtual HRESULT GetDeviceDetails(UINT32 index, XAUDIO2_DEVICE_DETAILS* details) = 0;
    virtual HRESULT Initialize(UINT32 flags, XAUDIO2_PROCESSOR processor) = 0;
    virtual HRESULT RegisterForCallbacks(IXAudio2EngineCallback* callback) = 0;
    virtual void UnregisterForCallbacks(IXAudio2EngineCallback* callback) = 0;
    virtual HRESULT CreateSourceVoice(IXAudio2SourceVoice** voice, const WAVEFORMATEX* format,
                                      UINT32 flags, float maxFrequencyRatio,
                                      D_IXAudio2VoiceCallback* callback,
                                      const XAUDIO2_VOICE_SENDS* sends,
                                      const XAUDIO2_EFFECT_CHAIN* effects) = 0;
    virtual HRESULT CreateSubmixVoice(IXAudio2SubmixVoice** voice, UINT32 channels, UINT32 rate,
                                      UINT32 flags, UINT32 stage, const XAUDIO2_VOICE_SENDS* sends,
                                      const XAUDIO2_EFFECT_CHAIN* effects) = 0;
    virtual HRESULT CreateMasteringVoice(IXAudio2MasteringVoice** voice, UINT32 channels,
                                         UINT32 rate, UINT32 flags, UINT32 deviceIndex,
                                         const XAUDIO2_EFFECT_CHAIN* effects) = 0;
    virtual HRESULT StartEngine() = 0;
    virtual void StopEngine() = 0;
    virtual HRESULT CommitChanges(UINT32 operationSet) = 0;
    virtual void GetPerformanceData(XAUDIO2_PERFORMANCE_DATA* data) = 0;
    virtual void SetDebugConfiguration(const XAUDIO2_DEBUG_CONFIGURATION* configuration,
                                       void* reserved) = 0;

  protected:
    ~IXAudio2_7() = default;
};

using XAudio2CreateProc = HRESULT (*)(IXAudio2** engine, UINT32 flags, XAUDIO2_PROCESSOR processor);
