#include "RecordingSoundDevices.h"

#include <algorithm>
#include <cstring>

#include "platform/Modules.h"

namespace velk::sound_devices {

namespace {

Recorder gRecorder;

void Record(const std::string& line) {
    gRecorder.calls.push_back(line);
}

HRESULT Answer(const std::string& step) {
    Record(step);
    return gRecorder.fails(step) ? E_FAIL : S_OK;
}

// ---- XAudio2 ----------------------------------------------------------------------------------

template <typename Base>
class Voice : public Base {
  public:
    void GetVoiceDetails(XAUDIO2_VOICE_DETAILS*) override {}
    HRESULT SetOutputVoices(const XAUDIO2_VOICE_SENDS*) override { return S_OK; }
    HRESULT SetEffectChain(const XAUDIO2_EFFECT_CHAIN*) override { return S_OK; }
    HRESULT EnableEffect(UINT32, UINT32) override { return S_OK; }
    HRESULT DisableEffect(UINT32, UINT32) override { return S_OK; }
    void GetEffectState(UINT32, BOOL*) override {}
    HRESULT SetEffectParameters(UINT32, const void*, UINT32, UINT32) override { return S_OK; }
    HRESULT GetEffectParameters(UINT32, void*, UINT32) override { return S_OK; }
    HRESULT SetFilterParameters(const XAUDIO2_FILTER_PARAMETERS*, UINT32) override { return S_OK; }
    void GetFilterParameters(XAUDIO2_FILTER_PARAMETERS*) override {}
    HRESULT SetOutputFilterParameters(IXAudio2Voice*, const XAUDIO2_FILTER_PARAMETERS*,
                                      UINT32) override {
        return S_OK;
    }
    void GetOutputFilterParameters(IXAudio2Voice*, XAUDIO2_FILTER_PARAMETERS*) override {}
    HRESULT SetVolume(float, UINT32) override { return S_OK; }
    void GetVolume(float*) override {}
    HRESULT SetChannelVolumes(UINT32 channels, const float* volumes, UINT32) override {
        gRecorder.channelVolumes.assign(volumes, volumes + channels);
        return S_OK;
    }
    void GetChannelVolumes(UINT32, float*) override {}
    HRESULT SetOutputMatrix(IXAudio2Voice*, UINT32, UINT32, const float*, UINT32) override {
        return S_OK;
    }
    void GetOutputMatrix(IXAudio2Voice*, UINT32, UINT32, float*) override {}
    void DestroyVoice() override {
        Record("DestroyVoice");
        delete this;
    }

  protected:
    virtual ~Voice() = default;
};

class MasteringVoice final : public Voice<IXAudio2MasteringVoice> {};

class SourceVoice final : public Voice<IXAudio2SourceVoice> {
  public:
    HRESULT Start(UINT32, UINT32) override { return Answer("Start"); }
    HRESULT Stop(UINT32, UINT32) override { return Answer("Stop"); }
    HRESULT SubmitSourceBuffer(const XAUDIO2_BUFFER* buffer, const XAUDIO2_BUFFER_WMA*) override {
        gRecorder.submissions.push_back({buffer->AudioBytes, buffer->pAudioData, buffer->pContext});
        return S_OK;
    }
    HRESULT FlushSourceBuffers() override { return Answer("FlushSourceBuffers"); }
    HRESULT Discontinuity() override { return S_OK; }
    HRESULT ExitLoop(UINT32) override { return S_OK; }
    void GetState(XAUDIO2_VOICE_STATE*, UINT32) override {}
    HRESULT SetFrequencyRatio(float ratio, UINT32) override {
        gRecorder.frequencyRatio = ratio;
        return S_OK;
    }
    void GetFrequencyRatio(float*) override {}
    HRESULT SetSourceSampleRate(UINT32) override { return S_OK; }
};

HRESULT MakeSourceVoice(IXAudio2SourceVoice** voice, const WAVEFORMATEX* format, float maxRatio) {
    *voice = nullptr;
    if (Answer("CreateSourceVoice") != S_OK) return E_FAIL;
    gRecorder.voiceFormat = *format;
    gRecorder.maxRatio = maxRatio;
    gRecorder.submissions.clear();
    *voice = new SourceVoice();
    return S_OK;
}

template <typename Base>
class EngineBase : public Base {
  public:
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            Record("ReleaseEngine");
            delete this;
        }
        return left;
    }
    HRESULT RegisterForCallbacks(IXAudio2EngineCallback*) override { return S_OK; }
    void UnregisterForCallbacks(IXAudio2EngineCallback*) override {}
    HRESULT CreateSourceVoice(IXAudio2SourceVoice** voice, const WAVEFORMATEX* format, UINT32,
                              float maxRatio, D_IXAudio2VoiceCallback*, const XAUDIO2_VOICE_SENDS*,
                              const XAUDIO2_EFFECT_CHAIN*) override {
        return MakeSourceVoice(voice, format, maxRatio);
    }
    HRESULT CreateSubmixVoice(IXAudio2SubmixVoice**, UINT32, UINT32, UINT32, UINT32,
                              const XAUDIO2_VOICE_SENDS*, const XAUDIO2_EFFECT_CHAIN*) override {
        return E_NOTIMPL;
    }
    HRESULT StartEngine() override { return S_OK; }
    void StopEngine() override {}
    HRESULT CommitChanges(UINT32) override { return S_OK; }
    void GetPerformanceData(XAUDIO2_PERFORMANCE_DATA*) override {}
    void SetDebugConfiguration(const XAUDIO2_DEBUG_CONFIGURATION*, void*) override {}

  protected:
    virtual ~EngineBase() = default;

  private:
    ULONG references_ = 1;
};

class Engine28 final : public EngineBase<IXAudio2> {
  public:
    HRESULT CreateMasteringVoice(IXAudio2MasteringVoice** voice, UINT32, UINT32 rate, UINT32,
                                 LPCWSTR, const XAUDIO2_EFFECT_CHAIN*, int category) override {
        *voice = nullptr;
        Record("CreateMasteringVoice " + std::to_string(rate) + " " + std::to_string(category));
        if (gRecorder.fails("CreateMasteringVoice")) return E_FAIL;
        *voice = new MasteringVoice();
        return S_OK;
    }
};

class Engine27 final : public EngineBase<IXAudio2_7> {
  public:
    HRESULT GetDeviceCount(UINT32* count) override {
        *count = 1;
        return S_OK;
    }
    HRESULT GetDeviceDetails(UINT32, XAUDIO2_DEVICE_DETAILS* details) override {
        std::memset(details, 0, sizeof *details);
        const char16_t name[] = u"Recording speakers";
        std::memcpy(details->DisplayName, name, sizeof name);
        details->OutputFormat.Format.nChannels = 2;
        details->OutputFormat.Format.wBitsPerSample = 24;
        details->OutputFormat.Format.nSamplesPerSec = 48000;
        return S_OK;
    }
    HRESULT Initialize(UINT32, XAUDIO2_PROCESSOR) override { return Answer("Initialize"); }
    HRESULT CreateMasteringVoice(IXAudio2MasteringVoice** voice, UINT32, UINT32 rate, UINT32,
                                 UINT32, const XAUDIO2_EFFECT_CHAIN*) override {
        *voice = nullptr;
        Record("CreateMasteringVoice " + std::to_string(rate));
        if (gRecorder.fails("CreateMasteringVoice")) return E_FAIL;
        *voice = new MasteringVoice();
        return S_OK;
    }
};

HRESULT XAudio2Create(IXAudio2** engine, UINT32, XAUDIO2_PROCESSOR) {
    *engine = nullptr;
    if (Answer("XAudio2Create") != S_OK) return static_cast<HRESULT>(0x88960001u);
    *engine = new Engine28();
    return S_OK;
}

HRESULT Create27(REFIID iid, void** object) {
    *object = nullptr;
    if (!(iid == IID_IXAudio2_7)) return E_NOINTERFACE;
    if (Answer("CoCreate XAudio2") != S_OK) return E_FAIL;
    *object = static_cast<IXAudio2_7*>(new Engine27());
    return S_OK;
}

// ---- DirectSound ------------------------------------------------------------------------------

class DsBuffer final : public IDirectSoundBuffer {
  public:
    explicit DsBuffer(DWORD bytes) : data_(bytes ? bytes : 1, 0x55) {}
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            Record("ReleaseBuffer");
            delete this;
        }
        return left;
    }
    HRESULT GetCaps(DSBCAPS*) override { return S_OK; }
    HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override {
        *play = 100;
        *write = 200;
        return S_OK;
    }
    HRESULT GetFormat(WAVEFORMATEX*, DWORD, DWORD*) override { return S_OK; }
    HRESULT GetVolume(LONG*) override { return S_OK; }
    HRESULT GetPan(LONG*) override { return S_OK; }
    HRESULT GetFrequency(DWORD* frequency) override {
        *frequency = gRecorder.frequency;
        return S_OK;
    }
    HRESULT GetStatus(DWORD* status) override {
        *status = playing_ ? DSBSTATUS_PLAYING : 0;
        return S_OK;
    }
    HRESULT Initialize(void*, const DSBUFFERDESC*) override { return S_OK; }
    HRESULT Lock(DWORD offset, DWORD bytes, void** first, DWORD* firstBytes, void** second,
                 DWORD* secondBytes, DWORD) override {
        if (Answer("Lock") != S_OK) return E_FAIL;
        *first = data_.data() + offset;
        *firstBytes = std::min<DWORD>(bytes, static_cast<DWORD>(data_.size()) - offset);
        *second = nullptr;
        *secondBytes = 0;
        return S_OK;
    }
    HRESULT Play(DWORD, DWORD, DWORD flags) override {
        playing_ = true;
        Record(std::string("Play ") + ((flags & DSBPLAY_LOOPING) ? "looping" : "once"));
        return S_OK;
    }
    HRESULT SetCurrentPosition(DWORD position) override {
        Record("SetCurrentPosition " + std::to_string(position));
        return S_OK;
    }
    HRESULT SetFormat(const WAVEFORMATEX* format) override {
        gRecorder.primaryFormat = *format;
        return Answer("SetFormat");
    }
    HRESULT SetVolume(LONG volume) override {
        gRecorder.volume = volume;
        Record("SetVolume " + std::to_string(volume));
        return S_OK;
    }
    HRESULT SetPan(LONG pan) override {
        gRecorder.pan = pan;
        Record("SetPan " + std::to_string(pan));
        return S_OK;
    }
    HRESULT SetFrequency(DWORD frequency) override {
        gRecorder.frequency = frequency;
        return S_OK;
    }
    HRESULT Stop() override {
        playing_ = false;
        Record("Stop");
        return S_OK;
    }
    HRESULT Unlock(void*, DWORD, void*, DWORD) override { return S_OK; }
    HRESULT Restore() override { return S_OK; }
    bool Silent() const {
        return std::all_of(data_.begin(), data_.end(), [](unsigned char c) { return c == 0; });
    }

  private:
    ULONG references_ = 1;
    bool playing_ = false;
    std::vector<unsigned char> data_;
};

class DirectSound final : public IDirectSound {
  public:
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            Record("ReleaseDirectSound");
            delete this;
        }
        return left;
    }
    HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer,
                              IUnknown*) override {
        *buffer = nullptr;
        if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) {
            if (Answer("CreatePrimary") != S_OK) return E_FAIL;
            *buffer = new DsBuffer(0);
            return S_OK;
        }
        Record("CreateSoundBuffer " + std::to_string(desc->dwFlags) + " " +
               std::to_string(desc->dwBufferBytes));
        if (desc->dwBufferBytes == 18000 && gRecorder.fails("CreateSilent")) return E_FAIL;
        if (desc->dwFlags == 0x180E2 && gRecorder.fails("CreateSoundBufferFull")) return E_FAIL;
        gRecorder.bufferFlags = desc->dwFlags;
        *buffer = new DsBuffer(desc->dwBufferBytes);
        return S_OK;
    }
    HRESULT GetCaps(DSCAPS* caps) override {
        std::memset(caps, 0, sizeof *caps);
        caps->dwSize = sizeof *caps;
        caps->dwFlags = gRecorder.capsFlags;
        caps->dwMaxSecondarySampleRate = gRecorder.maxSecondaryRate;
        caps->dwMinSecondarySampleRate = 100;
        caps->dwTotalHwMemBytes = 2048;
        caps->dwFreeHwMemBytes = 1024;
        return S_OK;
    }
    HRESULT DuplicateSoundBuffer(IDirectSoundBuffer*, IDirectSoundBuffer**) override {
        return E_NOTIMPL;
    }
    HRESULT SetCooperativeLevel(HWND, DWORD level) override {
        Record("SetCooperativeLevel " + std::to_string(level));
        return gRecorder.fails("SetCooperativeLevel") ? E_FAIL : S_OK;
    }
    HRESULT Compact() override { return S_OK; }
    HRESULT GetSpeakerConfig(DWORD*) override { return S_OK; }
    HRESULT SetSpeakerConfig(DWORD) override { return S_OK; }
    HRESULT Initialize(const GUID* device) override {
        Record(device == nullptr ? "Initialize default" : "Initialize other");
        return gRecorder.fails("DS Initialize") ? static_cast<HRESULT>(0x88780078u) : S_OK;
    }

  private:
    ULONG references_ = 1;
};

HRESULT CreateDirectSound(REFIID iid, void** object) {
    *object = nullptr;
    if (!(iid == IID_IDirectSound)) return E_NOINTERFACE;
    if (Answer("CoCreate DirectSound") != S_OK) return E_FAIL;
    *object = static_cast<IDirectSound*>(new DirectSound());
    return S_OK;
}

HRESULT DirectSoundEnumerateW(LPDSENUMCALLBACKW callback, LPVOID context) {
    callback(nullptr, u"Primary Sound Driver", u"", context);
    callback(nullptr, u"Recording speakers", u"rec.dll", context);
    return S_OK;
}

const platform::ModuleExports kXAudio28("XAudio2_8.dll",
                                        {{"XAudio2Create", platform::Export(&XAudio2Create)}});
const platform::ModuleExports kXAudio27("XAudio2_7.dll", {});
const platform::ComClassExport kXAudio27Class("XAudio2_7.dll", CLSID_XAudio2_7, &Create27);
const platform::ModuleExports kX3DAudio("X3DAudio1_7.dll", {});
const platform::ModuleExports kDSound("DSound.DLL", {{"DirectSoundEnumerateW",
                                                      platform::Export(&DirectSoundEnumerateW)}});
const platform::ComClassExport kDSoundClass("DSound.DLL", CLSID_DirectSound, &CreateDirectSound);
const bool kHiddenAtStart = (HideAll(), true);

}  // namespace

bool Recorder::fails(const std::string& step) const {
    return std::find(failures.begin(), failures.end(), step) != failures.end();
}

Recorder& TheRecorder() {
    return gRecorder;
}

void ResetRecorder() {
    gRecorder = Recorder{};
}

void ShowXAudio2_8(bool shown) {
    platform::HideModule("XAudio2_8.dll", !shown);
}

void ShowXAudio2_7(bool shown, bool withX3DAudio) {
    platform::HideModule("XAudio2_7.dll", !shown);
    platform::HideModule("X3DAudio1_7.dll", !(shown && withX3DAudio));
}

void ShowDirectSound(bool shown) {
    platform::HideModule("DSound.DLL", !shown);
}

void HideAll() {
    ShowXAudio2_8(false);
    ShowXAudio2_7(false, false);
    ShowDirectSound(false);
}

}  // namespace velk::sound_devices
