// The sound module's start and end over the platform's outputs: WASAPI over SDL2 audio (drained
// by the tests through the pull device, or written by SDL's disk driver), the fall-back to the
// absent DirectSound, the handle types, and the service thread.
#include "Main/Windows/DuZuderWin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "Main/DxMemory.h"
#include "Main/Windows/DxWindow.h"
#include "RecordingSoundDevices.h"
#include "Source/Library/Main/LogCapture.h"
#include "platform/Modules.h"

namespace ZiDaz {
namespace {

namespace devices = velk::sound_devices;

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

SoundFormat Pcm16(int channels, int rate) {
    SoundFormat f{};
    f.formatTag = kSoundFormatPcm;
    f.channels = static_cast<std::uint16_t>(channels);
    f.samplesPerSec = static_cast<std::uint32_t>(rate);
    f.bitsPerSample = 16;
    f.blockAlign = static_cast<std::uint16_t>(channels * 2);
    f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
    return f;
}

// A stereo ramp that is never silent: L = 100 + i, R = -(100 + i).
std::vector<std::int16_t> Ramp(int frames) {
    std::vector<std::int16_t> s(2 * frames);
    for (int i = 0; i < frames; ++i) {
        s[2 * i] = static_cast<std::int16_t>(100 + i);
        s[2 * i + 1] = static_cast<std::int16_t>(-(100 + i));
    }
    return s;
}

class SoundSystemTest : public LogCaptureTest {
  protected:
    void SetUp() override {
        LogCaptureTest::SetUp();
        platform::audio::ResetAudioHooks();
        platform::audio::UsePullDevice(true);
        devices::ResetRecorder();
        devices::HideAll();
        g_SoundOutput.useXAudio2 = 0;
        g_SoundOutput.wasapiOff = 0;
        processors_ = SystemReport.logicalProcessorCount;
        SystemReport.logicalProcessorCount = 1;
    }
    void TearDown() override {
        for (SoundBuffer& b : buffers_) ReleaseSoundBuffer(&b);
        if (g_SoundSystem.initialised) ShutdownSoundSystem();
        g_SoundOutput.useXAudio2 = 0;
        g_SoundOutput.wasapiOff = 0;
        SystemReport.logicalProcessorCount = processors_;
        devices::HideAll();
        platform::audio::ResetAudioHooks();
        LogCaptureTest::TearDown();
    }
    SoundBuffer* Play(const std::vector<std::int16_t>& samples, int loop = 0) {
        SoundBuffer* b = &buffers_[used_++];
        const SoundFormat f = Pcm16(2, 44100);
        const int bytes = static_cast<int>(samples.size() * 2);
        EXPECT_EQ(SetUpSoundBuffer(b, bytes, &f, nullptr, 0), 0);
        void* first = nullptr;
        void* second = nullptr;
        std::int32_t a = 0;
        std::int32_t c = 0;
        EXPECT_EQ(LockSoundBuffer(b, 0, bytes, &first, &a, &second, &c), 0);
        std::memcpy(first, samples.data(), static_cast<std::size_t>(a));
        EXPECT_EQ(UnlockSoundBuffer(b, first, a, second, c), 0);
        EXPECT_EQ(PlaySoundBuffer(b, loop), 0);
        return b;
    }
    // Drains the pull device until `frames` frames after the first sounding one are in hand.
    template <typename Sample>
    std::vector<Sample> PullSound(std::size_t frames) {
        std::vector<Sample> got;
        std::vector<Sample> block(2 * 256);
        bool sounding = false;
        for (int round = 0; round < 400 && got.size() < 2 * frames; ++round) {
            const std::size_t n = platform::audio::PullFrames(block.data(), 256);
            if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            for (std::size_t i = 0; i < 2 * n; ++i) {
                if (block[i] != 0) sounding = true;
                if (sounding) got.push_back(block[i]);
            }
        }
        if (got.size() > 2 * frames) got.resize(2 * frames);
        return got;
    }
    int Count(const std::string& text) const {
        const std::string log = LogBytes();
        int n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }
    bool Logged(const std::string& text) const { return Count(text) > 0; }
    SoundBuffer buffers_[4] = {};
    int used_ = 0;
    int processors_ = 0;
};

TEST_F(SoundSystemTest, StartsOnWasapiAndEndsSoThatItCanStartAgain) {
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_EQ(IsSoundOutputUp(), 1);
    EXPECT_EQ(g_SoundSystem.softwareMixing, 1);
    EXPECT_EQ(g_SoundSystem.mixFloatSamples, 1);
    EXPECT_EQ(g_SoundSystem.mixValidBits, 32);
    EXPECT_EQ(g_SoundSystem.overloadRecoveryLength, 22050);
    EXPECT_EQ(g_SoundOutput.bufferFrames, 1764u);  // the 40 ms default period
    EXPECT_EQ(g_SoundOutput.serviceThread, nullptr);
    for (const ToneBuffer& t : g_SoundSystem.tones) EXPECT_EQ(t.buffer.setUp, 1);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_SOUND].registered, 1);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_SOUND].max, 32768);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_SOFTSOUND].max, 8192);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_MUSIC].max, 256);
    EXPECT_TRUE(Logged("WASAPI の初期化を行います"));
    EXPECT_TRUE(Logged("デバイス名 : Pull device"));
    EXPECT_TRUE(Logged("データ形式         : 浮動小数点型"));
    EXPECT_TRUE(Logged("WASAPI の初期化は正常に終了しました"));

    EXPECT_EQ(StartSoundSystem(), -1);
    EXPECT_EQ(UseXAudio2Output(1), -1);
    EXPECT_EQ(g_SoundOutput.useXAudio2, 0);
    EXPECT_EQ(g_SoundOutput.wasapiOff, 0);

    EXPECT_EQ(ShutdownSoundSystem(), 0);
    EXPECT_TRUE(Logged("サウンド関連の終了処理... 完了"));
    EXPECT_EQ(IsSoundOutputUp(), 0);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_SOUND].registered, 0);
    EXPECT_EQ(g_SoundSystem.mixBuffer, nullptr);
    for (const ToneBuffer& t : g_SoundSystem.tones) EXPECT_EQ(t.buffer.setUp, 0);
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_EQ(Count("WASAPI の初期化は正常に終了しました"), 2);
}

TEST_F(SoundSystemTest, PlayedBufferReachesTheDeviceExactlyAndTheClockAdvances) {
    ASSERT_EQ(StartSoundSystem(), 0);
    std::uint64_t before = 0;
    std::uint64_t frequency = 0;
    ASSERT_EQ(ReadOutputClock(&before, &frequency), 0);
    EXPECT_EQ(frequency, 44100u);
    const std::vector<std::int16_t> samples = Ramp(3000);
    SoundBuffer* b = Play(samples);
    const std::vector<float> got = PullSound<float>(3000);
    ASSERT_EQ(got.size(), 6000u);
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], static_cast<float>(samples[i]) / 32768.0f) << i;
    }
    std::uint64_t after = 0;
    ASSERT_EQ(ReadOutputClock(&after, &frequency), 0);
    EXPECT_GE(after, before + 3000);
    for (int i = 0; i < 200 && IsSoundBufferPlaying(b) == 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(IsSoundBufferPlaying(b), 0);
    std::int32_t play = 0;
    std::int32_t write = 0;
    EXPECT_EQ(GetSoundBufferPosition(b, &play, &write), 0);
    EXPECT_EQ(write, 3000 * 4);
}

TEST_F(SoundSystemTest, SixteenBitDeviceGetsTheSamplesAsTheyAre) {
    platform::audio::SetMixFormatKind(platform::audio::MixFormatKind::Int16Extensible);
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_EQ(g_SoundSystem.mixFloatSamples, 0);
    EXPECT_EQ(g_SoundSystem.mixValidBits, 16);
    EXPECT_TRUE(Logged("データ形式         : 整数型"));
    const std::vector<std::int16_t> samples = Ramp(1000);
    Play(samples);
    EXPECT_EQ(PullSound<std::int16_t>(1000), samples);
}

TEST_F(SoundSystemTest, PlainFloatFormatCountsAsFloat) {
    platform::audio::SetMixFormatKind(platform::audio::MixFormatKind::Float32Plain);
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_EQ(g_SoundOutput.deviceFormat.Format.wFormatTag, 3);
    EXPECT_EQ(g_SoundOutput.deviceFormat.Format.cbSize, 0);
    EXPECT_EQ(g_SoundOutput.deviceFormat.dwChannelMask, 0u);  // nothing read past the format
    EXPECT_EQ(g_SoundSystem.mixFloatSamples, 1);
    EXPECT_EQ(g_SoundSystem.mixValidBits, 32);
    const std::vector<std::int16_t> samples = Ramp(500);
    Play(samples);
    const std::vector<float> got = PullSound<float>(500);
    ASSERT_EQ(got.size(), 1000u);
    EXPECT_EQ(got[1], -100.0f / 32768.0f);
}

TEST_F(SoundSystemTest, UnalignedBufferIsRetriedWithTheDurationOfItsFrames) {
    platform::audio::FailNextInitializeNotAligned(441);
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_EQ(g_SoundOutput.bufferDuration, 100000);
    EXPECT_EQ(g_SoundOutput.bufferFrames, 441u);
    EXPECT_TRUE(Logged("AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED"));
    EXPECT_TRUE(Logged("オーディオクライアントのバッファサンプル数 : 441 sample"));
    EXPECT_TRUE(Logged("調整後の遅延時間   : 10000.0 μs ( 10.000 ms )"));
    const std::vector<std::int16_t> samples = Ramp(800);
    Play(samples);
    EXPECT_EQ(PullSound<float>(800).size(), 1600u);
}

TEST_F(SoundSystemTest, DeviceRemovalRestartsTheOutputAndPlayingGoesOn) {
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_EQ(ReinitAudioAfterDeviceChange(), 0);
    EXPECT_EQ(Count("WASAPI の初期化を行います"), 1);
    platform::audio::SimulateDeviceRemoval();
    EXPECT_EQ(g_SoundOutput.deviceChanged, 1);
    EXPECT_EQ(ReinitAudioAfterDeviceChange(), 0);
    EXPECT_EQ(g_SoundOutput.deviceChanged, 0);
    EXPECT_EQ(Count("WASAPI の初期化を行います"), 2);
    EXPECT_EQ(IsSoundOutputUp(), 1);
    const std::vector<std::int16_t> samples = Ramp(1000);
    Play(samples);
    const std::vector<float> got = PullSound<float>(1000);
    ASSERT_EQ(got.size(), 2000u);
    EXPECT_EQ(got[0], 100.0f / 32768.0f);
}

TEST_F(SoundSystemTest, NotificationsOfOtherFlowsAndRolesChangeNothing) {
    ASSERT_EQ(StartSoundSystem(), 0);
    D_CMMNotificationClient* client = g_SoundOutput.notificationClient;
    ASSERT_NE(client, nullptr);
    client->OnDefaultDeviceChanged(eCapture, eConsole, u"x");
    client->OnDefaultDeviceChanged(eRender, eMultimedia, u"x");
    client->OnDefaultDeviceChanged(eRender, eCommunications, u"x");
    EXPECT_EQ(g_SoundOutput.deviceChanged, 0);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(client->QueryInterface(IID_IAudioClient, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(client->QueryInterface(IID_IMMNotificationClient, &object), S_OK);
    EXPECT_EQ(object, static_cast<IMMNotificationClient*>(client));
    EXPECT_EQ(client->Release(), 1u);
    client->OnDefaultDeviceChanged(eRender, eConsole, u"x");
    EXPECT_EQ(g_SoundOutput.deviceChanged, 1);
    g_SoundOutput.deviceChanged = 0;
}

TEST_F(SoundSystemTest, WithoutAnyDeviceTheStartFallsToTheAbsentDirectSound) {
    platform::audio::UsePullDevice(false);
    ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    EXPECT_EQ(StartSoundSystem(), -1);
    const std::string log = LogBytes();
    const std::size_t wasapi = log.find("IMMDevice の取得に失敗しました");
    const std::size_t ds = log.find("DirectSoundインターフェースの取得に失敗しました");
    ASSERT_NE(wasapi, std::string::npos);
    ASSERT_NE(ds, std::string::npos);
    EXPECT_LT(wasapi, ds);
    EXPECT_EQ(g_SoundOutput.wasapiOff, 1);
    EXPECT_EQ(g_SoundSystem.softwareMixing, 0);
    EXPECT_EQ(g_SoundSystem.initialised, 0);
    EXPECT_EQ(IsSoundOutputUp(), 0);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_SOUND].registered, 0);
    // Every sound call answers -1 and nothing breaks.
    EXPECT_EQ(DeleteAllSounds(), -1);
    EXPECT_EQ(DeleteSoftSound(0x10000000), -1);
    EXPECT_EQ(IsMusicPlaying(0x14000000), -1);
    EXPECT_EQ(StopMusic(0x14000000), -1);
    EXPECT_EQ(RefreshStreamSounds(), -1);
    EXPECT_EQ(DeleteFinishedSounds(), -1);
    EXPECT_EQ(AddSoundHandle(0, 0, 0), -1);
    SoundBuffer b{};
    const SoundFormat f = Pcm16(2, 44100);
    EXPECT_EQ(SetUpSoundBuffer(&b, 400, &f, nullptr, 0), -1);
    EXPECT_EQ(MixSoundBuffers(nullptr, nullptr, 4, 10), -1);
    std::uint64_t p = 0;
    std::uint64_t q = 0;
    EXPECT_EQ(ReadOutputClock(&p, &q), -1);
    EXPECT_EQ(ShutdownSoundSystem(), 0);
}

TEST_F(SoundSystemTest, DeleteAllSoundsKeepsKeptSoundsAndTheEndDeletesThemToo) {
    ASSERT_EQ(StartSoundSystem(), 0);
    const HandleValue kept = AddSoundHandle(0, 1, 0);
    const HandleValue plain = AddSoundHandle(0, 0, 0);
    const HandleValue spatial = AddSoundHandle(1, 0, 0);
    ASSERT_GE(kept, 0);
    ASSERT_GE(plain, 0);
    ASSERT_GE(spatial, 0);
    EXPECT_EQ(g_SoundSystem.sound3DListHead.next->value, spatial);
    SoundHandleData* d = GetSoundHandleData(kept);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->radius3D, 14.0f);
    EXPECT_EQ(d->channelLevels[7], 255);
    // The kept sound plays a buffer whose data the test also holds.
    const SoundFormat f = Pcm16(2, 44100);
    ASSERT_EQ(SetUpSoundBuffer(&d->buffers[0], 4000, &f, nullptr, 0), 0);
    d->bufferCount = 1;
    SoundBufferData* data = RetainSoundBufferData(d->buffers[0].waveData);
    ASSERT_EQ(PlaySoundBuffer(&d->buffers[0], 1), 0);

    EXPECT_EQ(DeleteAllSounds(), 0);
    EXPECT_NE(GetSoundHandleData(kept), nullptr);
    EXPECT_EQ(GetSoundHandleData(plain), nullptr);
    EXPECT_EQ(GetSoundHandleData(spatial), nullptr);
    EXPECT_EQ(g_SoundSystem.sound3DListHead.next, &g_SoundSystem.sound3DListTail);
    EXPECT_EQ(data->referenceCount, 2);

    ASSERT_EQ(ShutdownSoundSystem(), 0);
    EXPECT_EQ(data->referenceCount, 1);  // the kept sound went with the module
    EXPECT_EQ(g_SoundSystem.mixerListHead.next, &g_SoundSystem.mixerListTail);
    ReleaseSoundBufferData(data);
}

TEST_F(SoundSystemTest, ClonesShareThePcmBlockUntilTheLastGoes) {
    ASSERT_EQ(StartSoundSystem(), 0);
    const HandleValue first = AddSoundHandle(0, 0, 0);
    const HandleValue clone = AddSoundHandle(0, 0, 0);
    SoundHandleData* a = GetSoundHandleData(first);
    SoundHandleData* b = GetSoundHandleData(clone);
    a->pcmSize = 400;
    a->pcmData = DX_ALLOC(400);
    a->pcmReferenceCount = static_cast<std::int32_t*>(DX_ALLOC(sizeof(std::int32_t)));
    *a->pcmReferenceCount = 2;
    b->pcmSize = a->pcmSize;
    b->pcmData = a->pcmData;
    b->pcmReferenceCount = a->pcmReferenceCount;
    std::int32_t* count = a->pcmReferenceCount;
    ASSERT_EQ(DeleteHandle(first), 0);
    EXPECT_EQ(*count, 1);
    EXPECT_EQ(DeleteHandle(clone), 0);  // frees the block (a sanitizer build sees it go once)
}

TEST_F(SoundSystemTest, DumpNamesTheKindOfSound) {
    ASSERT_EQ(StartSoundSystem(), 0);
    const HandleValue h = AddSoundHandle(0, 0, 0);
    SoundHandleData* d = GetSoundHandleData(h);
    d->format = Pcm16(2, 22050);
    d->pcmSize = 4000;
    DumpSoundHandle(&d->header);
    char expected[128];
    std::snprintf(expected, sizeof expected,
                  "Handle:0x%08x Type:Normal SamplePerSec:22050 BitsPerSample:16 Channels:2 "
                  "Samples:1000",
                  static_cast<unsigned>(h));
    EXPECT_TRUE(Logged(expected));
}

TEST_F(SoundSystemTest, SoftSoundDeletionTellsPlayersFromWaveData) {
    ASSERT_EQ(StartSoundSystem(), 0);
    const HandleValue wave = AllocateHandle(DX_HANDLETYPE_SOFTSOUND, 0, -1);
    const HandleValue player = AllocateHandle(DX_HANDLETYPE_SOFTSOUND, 0, -1);
    ASSERT_GE(wave, 0);
    ASSERT_GE(player, 0);
    auto* w = reinterpret_cast<SoftSoundHandleData*>(LookupHandleRecord(wave));
    w->wave.samples = static_cast<unsigned char*>(DX_ALLOC(64));
    auto* p = reinterpret_cast<SoftSoundHandleData*>(LookupHandleRecord(player));
    p->isPlayer = 1;
    InitRingBuffer(&p->queue);
    InsertHandleListNodeAfter(&g_SoundSystem.softSoundPlayerListHead, &p->playerListNode, player,
                              p);
    const SoundFormat f = Pcm16(2, 44100);
    ASSERT_EQ(SetUpSoundBuffer(&p->playerBuffer, 4000, &f, nullptr, 0), 0);

    EXPECT_EQ(DeleteSoftSound(player), -1);
    EXPECT_EQ(DeleteSoftSound(0x7FFFFFFF), -1);
    EXPECT_EQ(DeleteSoftSound(wave), 0);
    EXPECT_EQ(LookupHandleRecord(wave), nullptr);
    EXPECT_EQ(DeleteSoftSound(wave), -1);
    ASSERT_EQ(ShutdownSoundSystem(), 0);
    EXPECT_EQ(g_SoundSystem.softSoundPlayerListHead.next, &g_SoundSystem.softSoundPlayerListTail);
}

TEST_F(SoundSystemTest, ServiceThreadRunsOnlyWithMoreThanOneProcessorAndIsJoinedAtTheEnd) {
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_EQ(g_SoundOutput.serviceThread, nullptr);
    ASSERT_EQ(ShutdownSoundSystem(), 0);

    SystemReport.logicalProcessorCount = 4;
    ASSERT_EQ(StartSoundSystem(), 0);
    ASSERT_NE(g_SoundOutput.serviceThread, nullptr);
    const HandleValue h = AddSoundHandle(0, 0, 0);
    ASSERT_GE(h, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(ShutdownSoundSystem(), 0);
    EXPECT_EQ(g_SoundOutput.serviceThread, nullptr);
    EXPECT_EQ(g_SoundOutput.serviceStop, 2);
}

TEST_F(SoundSystemTest, PlaysThroughSdlsDiskDriver) {
    platform::audio::UsePullDevice(false);
    const std::filesystem::path file = folder_ / "disk-audio.raw";
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv path("SDL_DISKAUDIOFILE", file.c_str());
    ASSERT_EQ(StartSoundSystem(), 0);
    const std::vector<std::int16_t> samples = Ramp(2000);
    SoundBuffer* b = Play(samples);
    std::uint64_t position = 0;
    std::uint64_t frequency = 0;
    for (int i = 0; i < 300 && IsSoundBufferPlaying(b) == 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Long enough for what was mixed to pass through the device.
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(ReadOutputClock(&position, &frequency), 0);
        if (position > 4 * 1764 + 2000) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GT(position, static_cast<std::uint64_t>(4 * 1764 + 2000));
    ReleaseSoundBuffer(b);
    ASSERT_EQ(ShutdownSoundSystem(), 0);
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string expected(samples.size() * 4, '\0');
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float v = static_cast<float>(samples[i]) / 32768.0f;
        std::memcpy(&expected[4 * i], &v, 4);
    }
    EXPECT_NE(bytes.find(expected), std::string::npos);
}

}  // namespace
}  // namespace ZiDaz
