// MMDevAPI over SDL2 audio: one render endpoint, SDL's default output device, in shared mode.
// The audio client opens the SDL device in queue mode with exactly the mix format (no changes
// allowed); what the render client releases is queued, the padding is what SDL still holds, and
// the clock counts the frames SDL has taken. The device period is long enough that a renderer
// sleeping half of it always leaves SDL more than one of its own blocks to take.
#include "platform/Mmdevapi.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Modules.h"

namespace platform::audio {

namespace {

constexpr DWORD kRate = 44100;
constexpr REFERENCE_TIME kDefaultPeriod = 400000;  // 40 ms
constexpr REFERENCE_TIME kMinimumPeriod = 100000;  // 10 ms
const char16_t kDeviceId[] = u"{0.0.0.00000000}.{velk-sdl-default-output}";

struct Hooks {
    std::mutex mutex;
    MixFormatKind kind = MixFormatKind::Float32Extensible;
    bool pull = false;
    UINT notAlignedFrames = 0;
};

Hooks& TheHooks() {
    static Hooks hooks;
    return hooks;
}

WAVEFORMATEXTENSIBLE MixFormat(MixFormatKind kind) {
    WAVEFORMATEXTENSIBLE f{};
    const bool isFloat = kind != MixFormatKind::Int16Extensible;
    f.Format.nChannels = 2;
    f.Format.nSamplesPerSec = kRate;
    f.Format.wBitsPerSample = isFloat ? 32 : 16;
    f.Format.nBlockAlign = static_cast<WORD>(f.Format.nChannels * f.Format.wBitsPerSample / 8);
    f.Format.nAvgBytesPerSec = f.Format.nBlockAlign * kRate;
    if (kind == MixFormatKind::Float32Plain) {
        f.Format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
        f.Format.cbSize = 0;
        return f;
    }
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.cbSize = 22;
    f.Samples.wValidBitsPerSample = f.Format.wBitsPerSample;
    f.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    f.SubFormat = isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
    return f;
}

// Whether a format asks for float samples, read the way Windows reads it.
bool IsFloatFormat(const WAVEFORMATEX* f) {
    if (f->wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return true;
    if (f->wFormatTag != WAVE_FORMAT_EXTENSIBLE || f->cbSize < 22) return false;
    return reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(f)->SubFormat ==
           KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
}

// ---- Endpoint notification ------------------------------------------------------------------

struct Notifications {
    std::mutex mutex;
    std::vector<IMMNotificationClient*> clients;
};

Notifications& TheNotifications() {
    static Notifications n;
    return n;
}

// Tells every registered client that the default render device went away and another took its
// place (on this platform: the same default device, opened anew).
void NotifyDeviceRemoved() {
    Notifications& n = TheNotifications();
    std::lock_guard lock(n.mutex);
    for (IMMNotificationClient* c : n.clients) {
        c->OnDeviceStateChanged(kDeviceId, DEVICE_STATE_UNPLUGGED);
        c->OnDeviceRemoved(kDeviceId);
        for (ERole role : {eConsole, eMultimedia, eCommunications}) {
            c->OnDefaultDeviceChanged(eRender, role, kDeviceId);
        }
    }
}

// ---- The stream of one initialised audio client -----------------------------------------------

// SDL's audio subsystem, held for as long as an endpoint or stream needs it.
struct AudioSubsystem {
    bool ok = false;
    AudioSubsystem() { ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0; }
    ~AudioSubsystem() {
        if (ok) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    AudioSubsystem(const AudioSubsystem&) = delete;
    AudioSubsystem& operator=(const AudioSubsystem&) = delete;
};

struct Stream {
    std::mutex mutex;
    std::unique_ptr<AudioSubsystem> subsystem;
    SDL_AudioDeviceID device = 0;
    bool pull = false;
    std::deque<BYTE> pulled;  // the pull device's queue
    WAVEFORMATEXTENSIBLE format{};
    UINT blockAlign = 0;
    UINT bufferFrames = 0;
    std::vector<BYTE> staging;
    bool bufferOut = false;  // GetBuffer handed out a buffer not yet released
    UINT pendingFrames = 0;
    ULONGLONG released = 0;  // frames released since the start
    ULONGLONG drained = 0;   // frames the pull device gave away
    std::atomic<bool> lost{false};

    ~Stream() {
        if (device) SDL_CloseAudioDevice(device);
    }

    UINT QueuedFramesLocked() const {
        if (pull) return static_cast<UINT>(pulled.size() / blockAlign);
        return SDL_GetQueuedAudioSize(device) / blockAlign;
    }
};

struct StreamRegistry {
    std::mutex mutex;
    std::weak_ptr<Stream> newestPull;
    std::weak_ptr<Stream> newestOpen;
};

StreamRegistry& TheStreams() {
    static StreamRegistry r;
    return r;
}

// ---- COM objects ----------------------------------------------------------------------------

template <typename Interface>
class ComObject : public Interface {
  public:
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

  protected:
    virtual ~ComObject() = default;
    HRESULT QueryFor(REFIID iid, const IID& own, void** object) {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == own) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

  private:
    std::atomic<ULONG> references_{1};
};

class RenderClient final : public ComObject<IAudioRenderClient> {
  public:
    explicit RenderClient(std::shared_ptr<Stream> stream) : stream_(std::move(stream)) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return QueryFor(iid, IID_IAudioRenderClient, object);
    }
    HRESULT GetBuffer(UINT frames, BYTE** data) override {
        if (data == nullptr) return E_POINTER;
        *data = nullptr;
        Stream& s = *stream_;
        std::lock_guard lock(s.mutex);
        if (s.lost) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (s.bufferOut) return AUDCLNT_E_OUT_OF_ORDER;
        if (frames > s.bufferFrames - std::min(s.bufferFrames, s.QueuedFramesLocked())) {
            return AUDCLNT_E_BUFFER_TOO_LARGE;
        }
        s.pendingFrames = frames;
        s.bufferOut = true;
        *data = s.staging.data();
        return S_OK;
    }
    HRESULT ReleaseBuffer(UINT frames, DWORD flags) override {
        Stream& s = *stream_;
        std::lock_guard lock(s.mutex);
        if (!s.bufferOut) return AUDCLNT_E_OUT_OF_ORDER;
        if (frames > s.pendingFrames) return AUDCLNT_E_INVALID_SIZE;
        s.pendingFrames = 0;
        s.bufferOut = false;
        const std::size_t bytes = static_cast<std::size_t>(frames) * s.blockAlign;
        if (flags & AUDCLNT_BUFFERFLAGS_SILENT) std::memset(s.staging.data(), 0, bytes);
        if (s.lost) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (s.pull) {
            s.pulled.insert(s.pulled.end(), s.staging.begin(), s.staging.begin() + bytes);
        } else if (bytes > 0 &&
                   SDL_QueueAudio(s.device, s.staging.data(), static_cast<Uint32>(bytes)) != 0) {
            return E_FAIL;
        }
        s.released += frames;
        return S_OK;
    }

  private:
    std::shared_ptr<Stream> stream_;
};

class Clock final : public ComObject<IAudioClock> {
  public:
    explicit Clock(std::shared_ptr<Stream> stream) : stream_(std::move(stream)) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return QueryFor(iid, IID_IAudioClock, object);
    }
    // Frames a second: the position counts frames.
    HRESULT GetFrequency(ULONGLONG* frequency) override {
        if (frequency == nullptr) return E_POINTER;
        *frequency = stream_->format.Format.nSamplesPerSec;
        return S_OK;
    }
    HRESULT GetPosition(ULONGLONG* position, ULONGLONG* counterPosition) override {
        if (position == nullptr) return E_POINTER;
        Stream& s = *stream_;
        std::lock_guard lock(s.mutex);
        if (s.pull) {
            *position = s.drained;
        } else {
            const ULONGLONG queued = s.QueuedFramesLocked();
            *position = s.released > queued ? s.released - queued : 0;
        }
        if (counterPosition) *counterPosition = SDL_GetTicks64() * 10000;
        return S_OK;
    }
    HRESULT GetCharacteristics(DWORD* characteristics) override {
        if (characteristics == nullptr) return E_POINTER;
        *characteristics = 0;
        return S_OK;
    }

  private:
    std::shared_ptr<Stream> stream_;
};

class AudioClient final : public ComObject<IAudioClient> {
  public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return QueryFor(iid, IID_IAudioClient, object);
    }

    HRESULT Initialize(AUDCLNT_SHAREMODE mode, DWORD, REFERENCE_TIME bufferDuration, REFERENCE_TIME,
                       const WAVEFORMATEX* format, const GUID*) override {
        if (stream_) return AUDCLNT_E_ALREADY_INITIALIZED;
        if (format == nullptr) return E_POINTER;
        if (mode != AUDCLNT_SHAREMODE_SHARED) return AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED;
        MixFormatKind kind;
        bool pull;
        {
            Hooks& h = TheHooks();
            std::lock_guard lock(h.mutex);
            kind = h.kind;
            pull = h.pull;
            if (h.notAlignedFrames != 0) {
                alignedFrames_ = h.notAlignedFrames;
                h.notAlignedFrames = 0;
                return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
            }
        }
        const WAVEFORMATEXTENSIBLE mix = MixFormat(kind);
        if (format->nChannels != mix.Format.nChannels ||
            format->nSamplesPerSec != mix.Format.nSamplesPerSec ||
            format->wBitsPerSample != mix.Format.wBitsPerSample ||
            IsFloatFormat(format) != IsFloatFormat(&mix.Format)) {
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        }
        if (bufferDuration <= 0) bufferDuration = kDefaultPeriod;
        auto stream = std::make_shared<Stream>();
        stream->pull = pull;
        stream->format = mix;
        stream->blockAlign = mix.Format.nBlockAlign;
        const ULONGLONG frames =
            static_cast<ULONGLONG>(bufferDuration) * mix.Format.nSamplesPerSec / 10000000;
        stream->bufferFrames = static_cast<UINT>(std::clamp<ULONGLONG>(frames, 64, 1u << 20));
        stream->staging.assign(static_cast<std::size_t>(stream->bufferFrames) * stream->blockAlign,
                               0);
        if (!pull) {
            stream->subsystem = std::make_unique<AudioSubsystem>();
            if (!stream->subsystem->ok) return AUDCLNT_E_DEVICE_INVALIDATED;
            SDL_AudioSpec want{};
            SDL_AudioSpec have{};
            want.freq = static_cast<int>(mix.Format.nSamplesPerSec);
            want.format = IsFloatFormat(&mix.Format) ? AUDIO_F32SYS : AUDIO_S16SYS;
            want.channels = static_cast<Uint8>(mix.Format.nChannels);
            // SDL's own block: at most a quarter of the buffer, so that half a buffer still queued
            // always covers the next block SDL takes.
            Uint16 samples = 64;
            while (samples * 2u <= stream->bufferFrames / 4 && samples < 4096) samples *= 2;
            want.samples = samples;
            want.callback = nullptr;
            stream->device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
            if (stream->device == 0) return AUDCLNT_E_DEVICE_INVALIDATED;
        }
        {
            StreamRegistry& r = TheStreams();
            std::lock_guard lock(r.mutex);
            (pull ? r.newestPull : r.newestOpen) = stream;
        }
        stream_ = std::move(stream);
        return S_OK;
    }

    HRESULT GetBufferSize(UINT* frames) override {
        if (frames == nullptr) return E_POINTER;
        if (!stream_) {
            if (alignedFrames_ == 0) return AUDCLNT_E_NOT_INITIALIZED;
            *frames = alignedFrames_;
            return S_OK;
        }
        *frames = stream_->bufferFrames;
        return S_OK;
    }
    HRESULT GetStreamLatency(REFERENCE_TIME* latency) override {
        if (latency == nullptr) return E_POINTER;
        if (!stream_) return AUDCLNT_E_NOT_INITIALIZED;
        *latency = kMinimumPeriod;
        return S_OK;
    }
    HRESULT GetCurrentPadding(UINT* frames) override {
        if (frames == nullptr) return E_POINTER;
        if (!stream_) return AUDCLNT_E_NOT_INITIALIZED;
        Stream& s = *stream_;
        bool justLost = false;
        {
            std::lock_guard lock(s.mutex);
            if (!s.pull && !s.lost && SDL_GetAudioDeviceStatus(s.device) == SDL_AUDIO_STOPPED) {
                s.lost = true;
                justLost = true;
            }
            *frames = s.lost ? 0 : s.QueuedFramesLocked();
        }
        if (justLost) NotifyDeviceRemoved();
        return s.lost ? AUDCLNT_E_DEVICE_INVALIDATED : S_OK;
    }
    HRESULT IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format,
                              WAVEFORMATEX** closest) override {
        if (closest) *closest = nullptr;
        if (format == nullptr) return E_POINTER;
        if (mode != AUDCLNT_SHAREMODE_SHARED) return AUDCLNT_E_UNSUPPORTED_FORMAT;
        const WAVEFORMATEXTENSIBLE mix = MixFormat(CurrentKind());
        return format->nChannels == mix.Format.nChannels &&
                       format->nSamplesPerSec == mix.Format.nSamplesPerSec &&
                       format->wBitsPerSample == mix.Format.wBitsPerSample &&
                       IsFloatFormat(format) == IsFloatFormat(&mix.Format)
                   ? S_OK
                   : AUDCLNT_E_UNSUPPORTED_FORMAT;
    }
    HRESULT GetMixFormat(WAVEFORMATEX** format) override {
        if (format == nullptr) return E_POINTER;
        const WAVEFORMATEXTENSIBLE mix = MixFormat(CurrentKind());
        const std::size_t bytes = sizeof(WAVEFORMATEX) + mix.Format.cbSize;
        void* block = ole32::CoTaskMemAlloc(bytes);
        if (block == nullptr) return E_OUTOFMEMORY;
        std::memcpy(block, &mix, bytes);
        *format = static_cast<WAVEFORMATEX*>(block);
        return S_OK;
    }
    HRESULT GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod) override {
        if (defaultPeriod) *defaultPeriod = kDefaultPeriod;
        if (minimumPeriod) *minimumPeriod = kMinimumPeriod;
        return S_OK;
    }
    HRESULT Start() override {
        if (!stream_) return AUDCLNT_E_NOT_INITIALIZED;
        if (stream_->device) SDL_PauseAudioDevice(stream_->device, 0);
        return S_OK;
    }
    HRESULT Stop() override {
        if (!stream_) return AUDCLNT_E_NOT_INITIALIZED;
        if (stream_->device) SDL_PauseAudioDevice(stream_->device, 1);
        return S_OK;
    }
    HRESULT Reset() override {
        if (!stream_) return AUDCLNT_E_NOT_INITIALIZED;
        std::lock_guard lock(stream_->mutex);
        if (stream_->device) SDL_ClearQueuedAudio(stream_->device);
        stream_->pulled.clear();
        return S_OK;
    }
    HRESULT SetEventHandle(HANDLE) override { return E_NOTIMPL; }
    HRESULT GetService(REFIID iid, void** service) override {
        if (service == nullptr) return E_POINTER;
        *service = nullptr;
        if (!stream_) return AUDCLNT_E_NOT_INITIALIZED;
        if (iid == IID_IAudioRenderClient) {
            *service = static_cast<IAudioRenderClient*>(new RenderClient(stream_));
            return S_OK;
        }
        if (iid == IID_IAudioClock) {
            *service = static_cast<IAudioClock*>(new Clock(stream_));
            return S_OK;
        }
        return E_NOINTERFACE;
    }

  private:
    static MixFormatKind CurrentKind() {
        Hooks& h = TheHooks();
        std::lock_guard lock(h.mutex);
        return h.kind;
    }
    std::shared_ptr<Stream> stream_;
    UINT alignedFrames_ = 0;
};

LPWSTR CopyToTaskMemory(const std::u16string& text) {
    auto* out = static_cast<LPWSTR>(ole32::CoTaskMemAlloc((text.size() + 1) * sizeof(char16_t)));
    if (out == nullptr) return nullptr;
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    return out;
}

class PropertyStore final : public ComObject<IPropertyStore> {
  public:
    explicit PropertyStore(std::u16string name) : name_(std::move(name)) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object) *object = nullptr;
        if (iid == IID_IUnknown) return QueryFor(iid, IID_IUnknown, object);
        return E_NOINTERFACE;
    }
    HRESULT GetCount(DWORD* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT GetAt(DWORD index, PROPERTYKEY* key) override {
        if (key == nullptr) return E_POINTER;
        if (index != 0) return E_INVALIDARG;
        *key = PKEY_Device_FriendlyName;
        return S_OK;
    }
    HRESULT GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
        if (value == nullptr) return E_POINTER;
        std::memset(value, 0, sizeof(*value));
        if (!(key.fmtid == PKEY_Device_FriendlyName.fmtid) ||
            key.pid != PKEY_Device_FriendlyName.pid)
            return S_OK;  // an unknown key reads as VT_EMPTY
        value->pwszVal = CopyToTaskMemory(name_);
        if (value->pwszVal == nullptr) return E_OUTOFMEMORY;
        value->vt = VT_LPWSTR;
        return S_OK;
    }
    HRESULT SetValue(REFPROPERTYKEY, const PROPVARIANT&) override { return E_ACCESSDENIED; }
    HRESULT Commit() override { return E_ACCESSDENIED; }

  private:
    std::u16string name_;
};

std::u16string FromAscii(const char* text) {
    std::u16string out;
    for (; text && *text; ++text) {
        const unsigned char c = static_cast<unsigned char>(*text);
        out.push_back(c < 0x80 ? c : u'?');
    }
    return out;
}

class Device final : public ComObject<IMMDevice> {
  public:
    Device(std::unique_ptr<AudioSubsystem> subsystem, std::u16string name)
        : subsystem_(std::move(subsystem)), name_(std::move(name)) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return QueryFor(iid, IID_IMMDevice, object);
    }
    HRESULT Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!(iid == IID_IAudioClient)) return E_NOINTERFACE;
        *object = static_cast<IAudioClient*>(new AudioClient());
        return S_OK;
    }
    HRESULT OpenPropertyStore(DWORD, IPropertyStore** store) override {
        if (store == nullptr) return E_POINTER;
        *store = new PropertyStore(name_);
        return S_OK;
    }
    HRESULT GetId(LPWSTR* id) override {
        if (id == nullptr) return E_POINTER;
        *id = CopyToTaskMemory(kDeviceId);
        return *id ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT GetState(DWORD* state) override {
        if (state == nullptr) return E_POINTER;
        *state = DEVICE_STATE_ACTIVE;
        return S_OK;
    }

  private:
    std::unique_ptr<AudioSubsystem> subsystem_;
    std::u16string name_;
};

class DeviceEnumerator final : public ComObject<IMMDeviceEnumerator> {
  public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return QueryFor(iid, IID_IMMDeviceEnumerator, object);
    }
    HRESULT EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection** devices) override {
        if (devices) *devices = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** device) override {
        if (device == nullptr) return E_POINTER;
        *device = nullptr;
        if (flow != eRender) return E_NOTFOUND;
        bool pull;
        {
            Hooks& h = TheHooks();
            std::lock_guard lock(h.mutex);
            pull = h.pull;
        }
        if (pull) {
            *device = new Device(nullptr, u"Pull device");
            return S_OK;
        }
        auto subsystem = std::make_unique<AudioSubsystem>();
        if (!subsystem->ok) return E_NOTFOUND;
        // An output exists when SDL can open one.
        SDL_AudioSpec want{};
        want.freq = static_cast<int>(kRate);
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = 1024;
        const SDL_AudioDeviceID probe =
            SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, SDL_AUDIO_ALLOW_ANY_CHANGE);
        if (probe == 0) return E_NOTFOUND;
        SDL_CloseAudioDevice(probe);
        const char* driver = SDL_GetCurrentAudioDriver();
        *device = new Device(std::move(subsystem),
                             u"Default output (" + FromAscii(driver ? driver : "SDL") + u")");
        return S_OK;
    }
    HRESULT GetDevice(LPCWSTR, IMMDevice** device) override {
        if (device) *device = nullptr;
        return E_NOTFOUND;
    }
    HRESULT RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        if (client == nullptr) return E_POINTER;
        Notifications& n = TheNotifications();
        std::lock_guard lock(n.mutex);
        n.clients.push_back(client);
        return S_OK;
    }
    HRESULT UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        if (client == nullptr) return E_POINTER;
        Notifications& n = TheNotifications();
        std::lock_guard lock(n.mutex);
        auto it = std::find(n.clients.begin(), n.clients.end(), client);
        if (it == n.clients.end()) return E_NOTFOUND;
        n.clients.erase(it);
        return S_OK;
    }
};

HRESULT CreateEnumerator(REFIID iid, void** object) {
    auto* e = new DeviceEnumerator();
    const HRESULT hr = e->QueryInterface(iid, object);
    e->Release();
    return hr;
}

const ComClassExport kEnumeratorClass("MMDevAPI.dll", CLSID_MMDeviceEnumerator, &CreateEnumerator);
// The module itself offers no entry points the library looks up; it exists so that the class can.
const ModuleExports kModule("MMDevAPI.dll", {});

}  // namespace

void SetMixFormatKind(MixFormatKind kind) {
    Hooks& h = TheHooks();
    std::lock_guard lock(h.mutex);
    h.kind = kind;
}

void UsePullDevice(bool on) {
    Hooks& h = TheHooks();
    std::lock_guard lock(h.mutex);
    h.pull = on;
}

std::size_t PullFrames(void* out, std::size_t frames) {
    std::shared_ptr<Stream> stream;
    {
        StreamRegistry& r = TheStreams();
        std::lock_guard lock(r.mutex);
        stream = r.newestPull.lock();
    }
    if (!stream) return 0;
    std::lock_guard lock(stream->mutex);
    const std::size_t available = stream->pulled.size() / stream->blockAlign;
    const std::size_t n = std::min(frames, available);
    const std::size_t bytes = n * stream->blockAlign;
    std::copy(stream->pulled.begin(), stream->pulled.begin() + static_cast<std::ptrdiff_t>(bytes),
              static_cast<BYTE*>(out));
    stream->pulled.erase(stream->pulled.begin(),
                         stream->pulled.begin() + static_cast<std::ptrdiff_t>(bytes));
    stream->drained += n;
    return n;
}

void FailNextInitializeNotAligned(UINT frames) {
    Hooks& h = TheHooks();
    std::lock_guard lock(h.mutex);
    h.notAlignedFrames = frames;
}

void SimulateDeviceRemoval() {
    std::shared_ptr<Stream> open;
    {
        StreamRegistry& r = TheStreams();
        std::lock_guard lock(r.mutex);
        open = r.newestOpen.lock();
        if (!open) open = r.newestPull.lock();
    }
    if (open) {
        std::lock_guard lock(open->mutex);
        open->lost = true;
        if (open->device) SDL_PauseAudioDevice(open->device, 1);
    }
    NotifyDeviceRemoved();
}

void ResetAudioHooks() {
    Hooks& h = TheHooks();
    std::lock_guard lock(h.mutex);
    h.kind = MixFormatKind::Float32Extensible;
    h.pull = false;
    h.notAlignedFrames = 0;
}

}  // namespace platform::audio
