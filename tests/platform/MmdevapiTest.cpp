// The core-audio endpoint over SDL2: the enumerator and its default render endpoint, the mix
// format, the audio client's buffer arithmetic, the pull device the library's tests drain, the
// notification of a lost device, and real output through SDL's disk driver.
#include "platform/Mmdevapi.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ScopedEnv.h"
#include "platform/Modules.h"

namespace {

using platform::ole32::CoCreateInstance;

using velk_test::ScopedEnv;

class RecordingClient final : public IMMNotificationClient {
  public:
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    HRESULT OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT OnDeviceRemoved(LPCWSTR) override {
        ++removed;
        return S_OK;
    }
    HRESULT OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
        if (flow == eRender && role == eConsole) ++renderConsoleChanges;
        return S_OK;
    }
    HRESULT OnPropertyValueChanged(LPCWSTR, PROPERTYKEY) override { return S_OK; }
    int removed = 0;
    int renderConsoleChanges = 0;
};

class MmdevapiTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::audio::ResetAudioHooks(); }
    void TearDown() override {
        if (client_) client_->Release();
        if (device_) device_->Release();
        if (enumerator_) enumerator_->Release();
        platform::audio::ResetAudioHooks();
    }
    HRESULT OpenEndpoint() {
        HRESULT hr =
            CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator,
                             reinterpret_cast<void**>(&enumerator_));
        if (FAILED(hr)) return hr;
        return enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, &device_);
    }
    void Activate() {
        ASSERT_EQ(OpenEndpoint(), S_OK);
        ASSERT_EQ(device_->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr,
                                    reinterpret_cast<void**>(&client_)),
                  S_OK);
    }
    WAVEFORMATEX* MixFormat() {
        WAVEFORMATEX* f = nullptr;
        EXPECT_EQ(client_->GetMixFormat(&f), S_OK);
        return f;
    }
    IMMDeviceEnumerator* enumerator_ = nullptr;
    IMMDevice* device_ = nullptr;
    IAudioClient* client_ = nullptr;
};

TEST_F(MmdevapiTest, OffersTheDefaultRenderEndpointWithAFriendlyName) {
    ASSERT_EQ(OpenEndpoint(), S_OK);
    IMMDevice* capture = nullptr;
    EXPECT_EQ(enumerator_->GetDefaultAudioEndpoint(eCapture, eConsole, &capture), E_NOTFOUND);
    EXPECT_EQ(capture, nullptr);
    IPropertyStore* store = nullptr;
    ASSERT_EQ(device_->OpenPropertyStore(STGM_READ, &store), S_OK);
    PROPVARIANT name{};
    ASSERT_EQ(store->GetValue(PKEY_Device_FriendlyName, &name), S_OK);
    EXPECT_EQ(name.vt, VT_LPWSTR);
    EXPECT_EQ(std::u16string(name.pwszVal).rfind(u"Default output (", 0), 0u);
    EXPECT_EQ(platform::ole32::PropVariantClear(&name), S_OK);
    EXPECT_EQ(name.vt, VT_EMPTY);
    store->Release();
    void* other = nullptr;
    EXPECT_EQ(device_->Activate(IID_IAudioClock, CLSCTX_ALL, nullptr, &other), E_NOINTERFACE);
}

TEST_F(MmdevapiTest, WithoutAnyOutputTheEndpointIsNotFound) {
    ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    EXPECT_EQ(OpenEndpoint(), E_NOTFOUND);
    EXPECT_EQ(device_, nullptr);
}

TEST_F(MmdevapiTest, MixFormatsAreExtensibleFloatOrSixteenBitOrPlainFloat) {
    Activate();
    WAVEFORMATEX* f = MixFormat();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(f->cbSize, 22);
    auto* x = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(f);
    EXPECT_EQ(x->SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
    EXPECT_EQ(f->nChannels, 2);
    EXPECT_EQ(f->nSamplesPerSec, 44100u);
    EXPECT_EQ(f->wBitsPerSample, 32);
    EXPECT_EQ(x->Samples.wValidBitsPerSample, 32);
    EXPECT_EQ(f->nBlockAlign, 8);
    platform::ole32::CoTaskMemFree(f);

    platform::audio::SetMixFormatKind(platform::audio::MixFormatKind::Int16Extensible);
    f = MixFormat();
    x = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(f);
    EXPECT_EQ(x->SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
    EXPECT_EQ(f->wBitsPerSample, 16);
    EXPECT_EQ(f->nBlockAlign, 4);
    platform::ole32::CoTaskMemFree(f);

    platform::audio::SetMixFormatKind(platform::audio::MixFormatKind::Float32Plain);
    f = MixFormat();
    EXPECT_EQ(f->wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_EQ(f->cbSize, 0);
    platform::ole32::CoTaskMemFree(f);
}

TEST_F(MmdevapiTest, ClientRefusesWhatSharedModeCannotDo) {
    platform::audio::UsePullDevice(true);
    Activate();
    UINT frames = 0;
    EXPECT_EQ(client_->GetBufferSize(&frames), AUDCLNT_E_NOT_INITIALIZED);
    void* service = nullptr;
    EXPECT_EQ(client_->GetService(IID_IAudioRenderClient, &service), AUDCLNT_E_NOT_INITIALIZED);
    WAVEFORMATEX* mix = MixFormat();
    EXPECT_EQ(client_->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, 0, 400000, 0, mix, nullptr),
              AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED);
    WAVEFORMATEX other = *mix;
    other.nSamplesPerSec = 22050;
    EXPECT_EQ(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 400000, 0, &other, nullptr),
              AUDCLNT_E_UNSUPPORTED_FORMAT);
    EXPECT_EQ(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 400000, 0, mix, nullptr), S_OK);
    EXPECT_EQ(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 400000, 0, mix, nullptr),
              AUDCLNT_E_ALREADY_INITIALIZED);
    platform::ole32::CoTaskMemFree(mix);
}

TEST_F(MmdevapiTest, NotAlignedAnswerReportsTheAlignedSize) {
    platform::audio::UsePullDevice(true);
    platform::audio::FailNextInitializeNotAligned(441);
    Activate();
    WAVEFORMATEX* mix = MixFormat();
    EXPECT_EQ(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 400000, 0, mix, nullptr),
              AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED);
    UINT frames = 0;
    EXPECT_EQ(client_->GetBufferSize(&frames), S_OK);
    EXPECT_EQ(frames, 441u);
    platform::ole32::CoTaskMemFree(mix);
}

TEST_F(MmdevapiTest, PullDeviceQueuesReleasedFramesAndClocksWhatIsDrained) {
    platform::audio::UsePullDevice(true);
    Activate();
    WAVEFORMATEX* mix = MixFormat();
    ASSERT_EQ(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 100000, 0, mix, nullptr), S_OK);
    platform::ole32::CoTaskMemFree(mix);
    UINT frames = 0;
    ASSERT_EQ(client_->GetBufferSize(&frames), S_OK);
    EXPECT_EQ(frames, 441u);  // 10 ms at 44,100 Hz
    IAudioRenderClient* render = nullptr;
    IAudioClock* clock = nullptr;
    ASSERT_EQ(client_->GetService(IID_IAudioRenderClient, reinterpret_cast<void**>(&render)), S_OK);
    ASSERT_EQ(client_->GetService(IID_IAudioClock, reinterpret_cast<void**>(&clock)), S_OK);

    BYTE* data = nullptr;
    EXPECT_EQ(render->GetBuffer(442, &data), AUDCLNT_E_BUFFER_TOO_LARGE);
    ASSERT_EQ(render->GetBuffer(100, &data), S_OK);
    for (int i = 0; i < 200; ++i) reinterpret_cast<float*>(data)[i] = static_cast<float>(i);
    EXPECT_EQ(render->ReleaseBuffer(101, 0), AUDCLNT_E_INVALID_SIZE);
    ASSERT_EQ(render->ReleaseBuffer(100, 0), S_OK);
    UINT padding = 0;
    EXPECT_EQ(client_->GetCurrentPadding(&padding), S_OK);
    EXPECT_EQ(padding, 100u);
    ASSERT_EQ(render->GetBuffer(341, &data), S_OK);
    EXPECT_EQ(render->GetBuffer(1, &data), AUDCLNT_E_OUT_OF_ORDER);
    ASSERT_EQ(render->ReleaseBuffer(341, AUDCLNT_BUFFERFLAGS_SILENT), S_OK);
    EXPECT_EQ(render->ReleaseBuffer(0, 0), AUDCLNT_E_OUT_OF_ORDER);
    EXPECT_EQ(render->GetBuffer(1, &data), AUDCLNT_E_BUFFER_TOO_LARGE);

    std::vector<float> out(2 * 60);
    EXPECT_EQ(platform::audio::PullFrames(out.data(), 60), 60u);
    for (int i = 0; i < 120; ++i) ASSERT_EQ(out[i], static_cast<float>(i));
    ULONGLONG frequency = 0;
    ULONGLONG position = 0;
    EXPECT_EQ(clock->GetFrequency(&frequency), S_OK);
    EXPECT_EQ(frequency, 44100u);
    EXPECT_EQ(clock->GetPosition(&position, nullptr), S_OK);
    EXPECT_EQ(position, 60u);
    EXPECT_EQ(client_->GetCurrentPadding(&padding), S_OK);
    EXPECT_EQ(padding, 381u);
    std::vector<float> rest(2 * 500, 1.0f);
    EXPECT_EQ(platform::audio::PullFrames(rest.data(), 500), 381u);
    EXPECT_EQ(rest[0], 120.0f);
    EXPECT_EQ(rest[2 * 39 + 1], 199.0f);
    EXPECT_EQ(rest[2 * 40], 0.0f);  // the silent release
    render->Release();
    clock->Release();
}

TEST_F(MmdevapiTest, LostDeviceReachesTheClientsAsADefaultDeviceChange) {
    platform::audio::UsePullDevice(true);
    Activate();
    RecordingClient watcher;
    ASSERT_EQ(enumerator_->RegisterEndpointNotificationCallback(&watcher), S_OK);
    WAVEFORMATEX* mix = MixFormat();
    ASSERT_EQ(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 0, 0, mix, nullptr), S_OK);
    platform::ole32::CoTaskMemFree(mix);
    platform::audio::SimulateDeviceRemoval();
    EXPECT_EQ(watcher.removed, 1);
    EXPECT_EQ(watcher.renderConsoleChanges, 1);
    UINT padding = 0;
    EXPECT_EQ(client_->GetCurrentPadding(&padding), AUDCLNT_E_DEVICE_INVALIDATED);
    ASSERT_EQ(enumerator_->UnregisterEndpointNotificationCallback(&watcher), S_OK);
    EXPECT_EQ(enumerator_->UnregisterEndpointNotificationCallback(&watcher), E_NOTFOUND);
    platform::audio::SimulateDeviceRemoval();
    EXPECT_EQ(watcher.removed, 1);
}

TEST_F(MmdevapiTest, DiskDriverWritesWhatIsQueuedExactly) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("velk-disk-audio-" + std::to_string(::getpid()) + ".raw");
    std::filesystem::remove(file);
    {
        ScopedEnv driver("SDL_AUDIODRIVER", "disk");
        ScopedEnv path("SDL_DISKAUDIOFILE", file.c_str());
        Activate();
        WAVEFORMATEX* mix = MixFormat();
        ASSERT_EQ(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 0, 0, mix, nullptr), S_OK);
        platform::ole32::CoTaskMemFree(mix);
        IAudioRenderClient* render = nullptr;
        IAudioClock* clock = nullptr;
        ASSERT_EQ(client_->GetService(IID_IAudioRenderClient, reinterpret_cast<void**>(&render)),
                  S_OK);
        ASSERT_EQ(client_->GetService(IID_IAudioClock, reinterpret_cast<void**>(&clock)), S_OK);
        BYTE* data = nullptr;
        ASSERT_EQ(render->GetBuffer(1000, &data), S_OK);
        for (int i = 0; i < 2000; ++i) {
            reinterpret_cast<float*>(data)[i] = static_cast<float>(i + 1) / 4096.0f;
        }
        ASSERT_EQ(render->ReleaseBuffer(1000, 0), S_OK);
        ASSERT_EQ(client_->Start(), S_OK);
        ULONGLONG position = 0;
        for (int i = 0; i < 200 && position < 1000; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            clock->GetPosition(&position, nullptr);
        }
        EXPECT_GE(position, 1000u);
        render->Release();
        clock->Release();
        client_->Release();
        client_ = nullptr;
    }
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(file);
    std::string expected(8000, '\0');
    for (int i = 0; i < 2000; ++i) {
        const float v = static_cast<float>(i + 1) / 4096.0f;
        std::memcpy(&expected[4 * i], &v, 4);
    }
    EXPECT_NE(bytes.find(expected), std::string::npos);
}

}  // namespace
