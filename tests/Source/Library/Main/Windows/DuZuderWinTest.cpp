// The sound module's start and end over the platform's outputs: WASAPI over SDL2 audio (drained
// by the tests through the pull device, or written by SDL's disk driver), the fall-back to the
// absent DirectSound, the handle types, and the service thread.
#include "Main/Windows/DuZuderWin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Main/DxMemory.h"
#include "Main/Windows/DxWindow.h"
#include "RecordingSoundDevices.h"
#include "ScopedEnv.h"
#include "Source/Library/Main/LogCapture.h"
#include "platform/Modules.h"

namespace ZiDaz {
namespace {

namespace devices = velk::sound_devices;

using velk_test::ScopedEnv;

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

TEST_F(SoundSystemTest, PlayPositionFollowsTheDevicesClock) {
    ASSERT_EQ(StartSoundSystem(), 0);
    // Nothing is mixed before the device takes frames: the play starts at output frame 0.
    SoundBuffer* b = Play(Ramp(10000));
    EXPECT_EQ(b->startStamp, 0);
    std::vector<float> frames(2 * 500);
    ASSERT_EQ(platform::audio::PullFrames(frames.data(), 500), 500u);
    std::int32_t play = -1;
    std::int32_t write = -1;
    ASSERT_EQ(GetSoundBufferPosition(b, &play, &write), 0);
    EXPECT_EQ(play, 500 * 4);
    // A frequency of its own makes the mixer's position the answer.
    ASSERT_EQ(SetSoundBufferFrequency(b, 44100), 0);
    ASSERT_EQ(GetSoundBufferPosition(b, &play, &write), 0);
    EXPECT_EQ(play, write);
}

TEST_F(SoundSystemTest, ThreeDParametersOnlyForThreeDBuffers) {
    ASSERT_EQ(StartSoundSystem(), 0);
    const SoundFormat f = Pcm16(2, 44100);
    SoundBuffer* flat = &buffers_[used_++];
    SoundBuffer* spatial = &buffers_[used_++];
    ASSERT_EQ(SetUpSoundBuffer(flat, 400, &f, nullptr, 0), 0);
    ASSERT_EQ(SetUpSoundBuffer(spatial, 400, &f, nullptr, 1), 0);
    EXPECT_EQ(SetSoundBuffer3DPosition(flat, 1, 2, 3), -1);
    EXPECT_EQ(SetSoundBuffer3DRadius(flat, 5), -1);
    EXPECT_EQ(ApplySoundBuffer3DParams(flat, 1), -1);
    EXPECT_EQ(spatial->frontDirection[2], 1.0f);
    EXPECT_EQ(spatial->topDirection[1], 1.0f);
    EXPECT_EQ(spatial->changed3D, 1);
    EXPECT_EQ(ApplySoundBuffer3DParams(spatial, 0), 0);
    EXPECT_EQ(spatial->changed3D, 0);
    EXPECT_EQ(SetSoundBuffer3DPosition(spatial, 0.0005f, 0, 0), 0);
    EXPECT_EQ(spatial->position3D[0], 0.0f);  // within 0.001: nothing changes
    EXPECT_EQ(spatial->changed3D, 0);
    EXPECT_EQ(SetSoundBuffer3DPosition(spatial, 1, 2, 3), 0);
    EXPECT_EQ(spatial->position3D[2], 3.0f);
    EXPECT_EQ(spatial->changed3D, 1);  // applied only while it plays
    ASSERT_EQ(PlaySoundBuffer(spatial, 1), 0);
    EXPECT_EQ(SetSoundBuffer3DVelocity(spatial, 0, 0, 4), 0);
    EXPECT_EQ(spatial->changed3D, 0);
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
    EXPECT_EQ(IsSoundBufferPlaying(&d->buffers[0]), 1);  // still playable
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

// ---- The outputs with platform buffers, on the recording devices ------------------------------

class PlatformOutputTest : public SoundSystemTest {
  protected:
    void SetUp() override {
        SoundSystemTest::SetUp();
        // No WASAPI device unless a test asks for one.
        platform::audio::UsePullDevice(false);
        driver_ = std::make_unique<ScopedEnv>("SDL_AUDIODRIVER", "no-such-driver");
    }
    void TearDown() override {
        SoundSystemTest::TearDown();
        platform::ResetHiddenModules();
        devices::HideAll();
        driver_.reset();
    }
    devices::Recorder& R() { return devices::TheRecorder(); }
    bool Recorded(const std::string& call) const {
        const auto& calls = devices::TheRecorder().calls;
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }
    // Logged in this order.
    bool InOrder(std::initializer_list<const char*> texts) const {
        const std::string log = LogBytes();
        std::size_t at = 0;
        for (const char* t : texts) {
            at = log.find(t, at);
            if (at == std::string::npos) {
                ADD_FAILURE() << "not found in order: " << t;
                return false;
            }
        }
        return true;
    }
    SoundBuffer* Make(int channels, int bits, int frames) {
        SoundBuffer* b = &buffers_[used_++];
        SoundFormat f = Pcm16(channels, 44100);
        f.bitsPerSample = static_cast<std::uint16_t>(bits);
        f.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
        f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
        EXPECT_EQ(SetUpSoundBuffer(b, frames * f.blockAlign, &f, nullptr, 0), 0);
        return b;
    }
    SOUNDBUFFER_CALLBACK* Callback(SoundBuffer* b) {
        return static_cast<SOUNDBUFFER_CALLBACK*>(b->voiceCallback);
    }
    std::vector<unsigned> SubmittedBytes() const {
        std::vector<unsigned> out;
        for (const auto& s : devices::TheRecorder().submissions) out.push_back(s.bytes);
        return out;
    }
    std::unique_ptr<ScopedEnv> driver_;
};

TEST_F(PlatformOutputTest, WithoutSwitchesAFailingWasapiFallsToDirectSound) {
    devices::ShowDirectSound(true);
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_EQ(g_SoundSystem.softwareMixing, 0);
    EXPECT_TRUE(InOrder(
        {"WASAPI の初期化を行います", "IMMDevice の取得に失敗しました",
         "DirectSound の初期化を行います", "成功", "成功", "DirectSound デバイスを列挙します",
         "Module Name :         rec.dll   Description : Recording speakers",
         "最大サンプリングレート:100.00KHz 最小サンプリングレート:0.10KHz",
         "総サウンドメモリ領域:2.00KB 空きサウンドメモリ領域:1.00KB",
         "  Primary    16bit = OK  8bit = NO", "  Secondary  MONO = NO   STEREO = OK",
         "DirectSound の初期化は正常に終了しました"}));
    EXPECT_TRUE(Recorded("Initialize default"));
    EXPECT_TRUE(Recorded("SetCooperativeLevel 2"));
    // The silent buffer: 9,000 frames of 16-bit mono, filled with zeros and looping.
    EXPECT_TRUE(Recorded("CreateSoundBuffer 98530 18000"));
    EXPECT_TRUE(Recorded("Play looping"));
    EXPECT_EQ(R().primaryFormat.nChannels, 2);
    EXPECT_EQ(R().primaryFormat.wBitsPerSample, 16);
    EXPECT_EQ(R().primaryFormat.nSamplesPerSec, 44100u);
    EXPECT_EQ(R().primaryFormat.nAvgBytesPerSec, 176400u);
    ASSERT_EQ(ShutdownSoundSystem(), 0);
    EXPECT_TRUE(Logged("DirectSound の終了処理は正常に終了しました"));
    EXPECT_TRUE(Recorded("ReleaseDirectSound"));
    EXPECT_EQ(IsSoundOutputUp(), 0);
}

TEST_F(PlatformOutputTest, XAudio2SwitchedOnRunsVersion28WithoutTryingWasapi) {
    devices::ShowXAudio2_8(true);
    devices::ShowDirectSound(true);
    ASSERT_EQ(UseXAudio2Output(1), 0);
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_FALSE(Logged("WASAPI"));
    EXPECT_TRUE(InOrder({"XAudio2 の初期化を行います", "XAudio2_8.dll を使用します", "成功 Ver2.8",
                         "XAudio2 の初期化は正常に終了しました"}));
    EXPECT_TRUE(Recorded("CreateMasteringVoice 44100 6"));
    EXPECT_EQ(g_SoundSystem.xaudio2Runs, 1);
    EXPECT_FALSE(Recorded("CoCreate DirectSound"));
    ASSERT_EQ(ShutdownSoundSystem(), 0);
    EXPECT_TRUE(Recorded("DestroyVoice"));
    EXPECT_TRUE(Recorded("ReleaseEngine"));
    EXPECT_EQ(platform::ModuleLoadCount("XAudio2_8.dll"), 0);
}

TEST_F(PlatformOutputTest, XAudio2OnThenOffLeavesDirectSound) {
    devices::ShowXAudio2_8(true);
    devices::ShowDirectSound(true);
    ASSERT_EQ(UseXAudio2Output(1), 0);
    ASSERT_EQ(UseXAudio2Output(0), 0);
    EXPECT_EQ(g_SoundOutput.wasapiOff, 1);
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_FALSE(Logged("WASAPI"));
    EXPECT_FALSE(Logged("XAudio2"));
    EXPECT_TRUE(Logged("DirectSound の初期化は正常に終了しました"));
}

TEST_F(PlatformOutputTest, XAudio2Version27ReportsItsDevice) {
    devices::ShowXAudio2_7(true, true);
    ASSERT_EQ(UseXAudio2Output(1), 0);
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_TRUE(InOrder({"XAudio2 インターフェースの取得を行います", "成功 Ver2.7",
                         "引き続きインターフェースの初期化処理", "成功",
                         "X3DAudio.DLL の読み込み中... 成功", "Device Name : Recording speakers",
                         "チャンネル数:2", "ビット精度:24bit", "サンプリングレート:48000Hz",
                         "XAudio2 の初期化は正常に終了しました"}));
    EXPECT_TRUE(Recorded("CreateMasteringVoice 44100"));
    ASSERT_EQ(ShutdownSoundSystem(), 0);
    EXPECT_EQ(platform::ModuleLoadCount("X3DAudio1_7.dll"), 0);
}

TEST_F(PlatformOutputTest, EachXAudio2FailureFallsToDirectSoundWithItsLogLines) {
    struct Case {
        const char* name;
        bool version28;
        bool x3d;
        const char* failure;  // recorder step, or "entry" for a missing XAudio2Create
        const char* line;
    };
    const Case cases[] = {
        {"create", true, true, "XAudio2Create", "エラーコード 88960001"},
        {"no entry", true, true, "entry", "エラーコード 8007007f"},
        {"mastering 2.8", true, true, "CreateMasteringVoice",
         "XAudio2MasteringVoiceの作成に失敗しました"},
        {"class", false, true, "CoCreate XAudio2", "XAudio2インターフェースの取得に失敗しました"},
        {"initialize", false, true, "Initialize", "初期化に失敗しました"},
        {"no x3daudio", false, false, "", "失敗、X3DAudio、XAudio2は使用しません"},
        {"mastering 2.7", false, true, "CreateMasteringVoice",
         "XAudio2MasteringVoiceの作成に失敗しました"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        devices::ResetRecorder();
        CloseLogFile();
        std::filesystem::remove(folder_ / "Log.txt");
        devices::HideAll();
        platform::ResetHiddenModules();
        devices::HideAll();
        if (c.version28) {
            devices::ShowXAudio2_8(true);
        } else {
            devices::ShowXAudio2_7(true, c.x3d);
        }
        devices::ShowDirectSound(true);
        if (std::string(c.failure) == "entry") {
            platform::HideEntry("XAudio2_8.dll", "XAudio2Create", true);
        } else if (*c.failure) {
            R().failures.push_back(c.failure);
        }
        ASSERT_EQ(UseXAudio2Output(1), 0);
        ASSERT_EQ(StartSoundSystem(), 0);
        EXPECT_TRUE(InOrder({"XAudio2 の初期化を行います", c.line, "DirectSound の初期化を行います",
                             "DirectSound の初期化は正常に終了しました"}));
        EXPECT_EQ(g_SoundOutput.useXAudio2, 0);
        EXPECT_EQ(g_SoundSystem.xaudio2Runs, 0);
        ASSERT_EQ(ShutdownSoundSystem(), 0);
        EXPECT_EQ(platform::ModuleLoadCount("XAudio2_8.dll"), 0);
        EXPECT_EQ(platform::ModuleLoadCount("X3DAudio1_7.dll"), 0);
        g_SoundOutput.wasapiOff = 0;
    }
}

TEST_F(PlatformOutputTest, DirectSoundFailuresEndTheStartOrOnlyTheLog) {
    struct Case {
        const char* name;
        const char* failure;
        int result;
        const char* line;
    };
    const Case cases[] = {
        {"class", "CoCreate DirectSound", -1, "DirectSoundインターフェースの取得に失敗しました"},
        {"initialize", "DS Initialize", -1, "エラーコード 88780078"},
        {"cooperative level", "SetCooperativeLevel", -1,
         "DirectSoundの協調レベルの設定に失敗しました"},
        {"primary", "CreatePrimary", -1,
         "DirectSoundのプライマリサウンドバッファの作成に失敗しました"},
        {"format", "SetFormat", 0,
         "DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました"},
        {"silent buffer", "CreateSilent", 0, "無音バッファの作成に失敗しました"},
        {"silent lock", "Lock", 0, "無音バッファのロックに失敗しました"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        devices::ResetRecorder();
        CloseLogFile();
        std::filesystem::remove(folder_ / "Log.txt");
        devices::ShowDirectSound(true);
        R().failures.push_back(c.failure);
        g_SoundOutput.wasapiOff = 1;
        ASSERT_EQ(StartSoundSystem(), c.result);
        EXPECT_TRUE(Logged(c.line));
        EXPECT_EQ(IsSoundOutputUp(), c.result == 0 ? 1 : 0);
        if (c.result != 0) {
            EXPECT_EQ(g_SoundOutput.output, nullptr);
        }
        if (g_SoundSystem.initialised) {
            ASSERT_EQ(ShutdownSoundSystem(), 0);
        }
    }
}

TEST_F(PlatformOutputTest, DirectSoundTakesTheDevicesRatesAndFallsBackInItsBuffers) {
    devices::ShowDirectSound(true);
    R().maxSecondaryRate = 22050;
    R().capsFlags = DSCAPS_PRIMARYMONO;
    R().failures.push_back("CreateSoundBufferFull");
    platform::HideEntry("DSound.DLL", "DirectSoundEnumerateW", true);
    g_SoundOutput.wasapiOff = 1;
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_EQ(R().primaryFormat.nSamplesPerSec, 22050u);
    EXPECT_EQ(R().primaryFormat.nChannels, 1);
    EXPECT_EQ(R().primaryFormat.wBitsPerSample, 8);
    EXPECT_EQ(R().primaryFormat.nBlockAlign, 1);
    EXPECT_TRUE(Recorded("CreateSoundBuffer 98530 18000"));
    EXPECT_TRUE(Recorded("CreateSoundBuffer 194 18000"));
    EXPECT_TRUE(Logged("DirectSound デバイスの列挙用関数のポインタ取得に失敗しました"));
    EXPECT_EQ(R().bufferFlags, 0xC2u);
}

TEST_F(PlatformOutputTest, DirectSoundBuffersCombineVolumeAndPan) {
    devices::ShowDirectSound(true);
    g_SoundOutput.wasapiOff = 1;
    ASSERT_EQ(StartSoundSystem(), 0);
    SoundBuffer* b = Make(2, 16, 1000);
    EXPECT_EQ(R().bufferFlags, 0x180E2u);
    EXPECT_EQ(HasPlatformVoice(b), 1);
    const struct {
        std::int32_t volume, pan, expectPan, expectVolume;
    } cases[] = {{0, 5000, 5000, 0},
                 {-2000, 5000, 5000, -2000},
                 {-1000, -2500, -2500, -1000},
                 {-10000, 3000, 0, -10000},
                 {-20000, -7000, 0, -10000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.volume);
        ASSERT_EQ(SetSoundBufferVolume(b, 0, c.volume), 0);
        R().calls.clear();
        ASSERT_EQ(SetSoundBufferPan(b, c.pan), 0);
        EXPECT_EQ(R().pan, c.expectPan);
        EXPECT_EQ(R().volume, c.expectVolume);
        ASSERT_EQ(R().calls.size(), 2u);
        EXPECT_EQ(R().calls[0].rfind("SetPan", 0), 0u);  // pan first, then volume
    }
    EXPECT_EQ(PlaySoundBuffer(b, 1), 0);
    EXPECT_TRUE(Recorded("Play looping"));
    EXPECT_EQ(IsSoundBufferPlaying(b), 1);
    std::int32_t play = 0;
    std::int32_t write = 0;
    EXPECT_EQ(GetSoundBufferPosition(b, &play, &write), 0);
    EXPECT_EQ(play, 100);
    EXPECT_EQ(write, 200);
    EXPECT_EQ(SetSoundBufferPosition(b, 400), 0);
    EXPECT_TRUE(Recorded("SetCurrentPosition 400"));
    EXPECT_EQ(SetSoundBufferPosition(b, 4000), -1);
    EXPECT_EQ(SetSoundBufferFrequency(b, 22050), 0);
    std::int32_t hz = 0;
    EXPECT_EQ(GetSoundBufferFrequency(b, &hz), 0);
    EXPECT_EQ(hz, 22050);
    EXPECT_EQ(StopSoundBuffer(b, 0), 0);
    EXPECT_EQ(IsSoundBufferPlaying(b), 0);
    EXPECT_EQ(ReleaseSoundBuffer(b), 0);
    EXPECT_TRUE(Recorded("ReleaseBuffer"));
}

class XAudio2BufferTest : public PlatformOutputTest {
  protected:
    void SetUp() override {
        PlatformOutputTest::SetUp();
        devices::ShowXAudio2_8(true);
        ASSERT_EQ(UseXAudio2Output(1), 0);
        ASSERT_EQ(StartSoundSystem(), 0);
    }
};

TEST_F(XAudio2BufferTest, PiecesOfASixtiethOfASecondUntilTheEnd) {
    SoundBuffer* b = Make(2, 16, 1000);
    EXPECT_EQ(R().maxRatio, 2.0f);
    ASSERT_EQ(PlaySoundBuffer(b, 0), 0);
    EXPECT_EQ(IsSoundBufferPlaying(b), 1);
    Callback(b)->OnVoiceProcessingPassStart(400);  // the voice asks for 100 frames
    Callback(b)->OnVoiceProcessingPassStart(100000);
    EXPECT_EQ(SubmittedBytes(), (std::vector<unsigned>{400, 2940, 660}));
    EXPECT_EQ(R().submissions[1].data, b->waveData->data + 400);
    EXPECT_EQ(R().submissions[1].context, b);
    EXPECT_EQ(b->mixPosition, 1000);
    EXPECT_EQ(IsSoundBufferPlaying(b), 0);  // the data ran out with the request still open
    std::int32_t play = 0;
    EXPECT_EQ(GetSoundBufferPosition(b, &play, nullptr), 0);
    EXPECT_EQ(play, 0);
    Callback(b)->OnBufferEnd(b);
    EXPECT_EQ(GetSoundBufferPosition(b, &play, nullptr), 0);
    EXPECT_EQ(play, 4000);
    Callback(b)->OnVoiceProcessingPassStart(1000);
    EXPECT_EQ(R().submissions.size(), 3u);
    EXPECT_EQ(b->mixPosition, 1000);
}

TEST_F(XAudio2BufferTest, LoopingBufferWrapsWithinOnePass) {
    SoundBuffer* b = Make(2, 16, 100);
    ASSERT_EQ(PlaySoundBuffer(b, 1), 0);
    Callback(b)->OnVoiceProcessingPassStart(441 * 4);
    // Whole pieces until the request is covered: the cut is against the whole request.
    EXPECT_EQ(SubmittedBytes(), (std::vector<unsigned>{400, 400, 400, 400, 400}));
    EXPECT_EQ(b->mixPosition, 100);
    EXPECT_EQ(IsSoundBufferPlaying(b), 1);
    EXPECT_EQ(SetSoundBufferPosition(b, 80), 0);
    EXPECT_EQ(b->mixPosition, 20);
    EXPECT_TRUE(Recorded("FlushSourceBuffers"));
}

TEST_F(XAudio2BufferTest, MonoDataPlaysFromAStereoCopy) {
    SoundBuffer* mono16 = Make(1, 16, 4);
    EXPECT_EQ(R().voiceFormat.nChannels, 2);
    EXPECT_EQ(R().voiceFormat.nBlockAlign, 4);
    EXPECT_EQ(R().voiceFormat.nAvgBytesPerSec, 176400u);
    ASSERT_NE(mono16->waveData->secondData, nullptr);
    void* first = nullptr;
    void* second = nullptr;
    std::int32_t a = 0;
    std::int32_t c = 0;
    ASSERT_EQ(LockSoundBuffer(mono16, 2, 4, &first, &a, &second, &c), 0);
    const std::int16_t ab[2] = {1234, -5};
    std::memcpy(first, ab, 4);
    ASSERT_EQ(UnlockSoundBuffer(mono16, first, a, second, c), 0);
    std::int16_t copy[8];
    std::memcpy(copy, mono16->waveData->secondData, sizeof copy);
    EXPECT_EQ(copy[2], 1234);
    EXPECT_EQ(copy[3], 1234);
    EXPECT_EQ(copy[4], -5);
    EXPECT_EQ(copy[5], -5);

    SoundBuffer* mono8 = Make(1, 8, 4);
    ASSERT_EQ(LockSoundBuffer(mono8, 0, 4, &first, &a, &second, &c), 0);
    static_cast<unsigned char*>(first)[3] = 200;
    ASSERT_EQ(UnlockSoundBuffer(mono8, first, a, second, c), 0);
    EXPECT_EQ(mono8->waveData->secondData[6], 200);
    EXPECT_EQ(mono8->waveData->secondData[7], 200);

    // The callback streams the copy, in frames of the stereo voice.
    ASSERT_EQ(PlaySoundBuffer(mono16, 1), 0);
    Callback(mono16)->OnVoiceProcessingPassStart(8);
    ASSERT_EQ(R().submissions.size(), 1u);
    EXPECT_EQ(R().submissions[0].bytes, 8u);  // two frames of the stereo voice
    EXPECT_EQ(R().submissions[0].data, mono16->waveData->secondData);
}

TEST_F(XAudio2BufferTest, FrequencyRatioAndChannelGains) {
    SoundBuffer* b = Make(1, 16, 100);
    ASSERT_EQ(SetSoundBufferFrequency(b, 0), 0);
    EXPECT_EQ(R().frequencyRatio, 1.0f);
    ASSERT_EQ(SetSoundBufferFrequency(b, 88200), 0);
    EXPECT_EQ(R().frequencyRatio, 2.0f);
    std::int32_t hz = 0;
    EXPECT_EQ(GetSoundBufferFrequency(b, &hz), 0);
    EXPECT_EQ(hz, 88200);
    ASSERT_EQ(SetSoundBufferPan(b, 2000), 0);
    ASSERT_EQ(R().channelVolumes.size(), 2u);
    EXPECT_NEAR(R().channelVolumes[0], 0.1f, 1e-6);
    EXPECT_EQ(R().channelVolumes[1], 1.0f);
    ASSERT_EQ(SetSoundBufferPan(b, -2000), 0);
    EXPECT_EQ(R().channelVolumes[0], 1.0f);
    EXPECT_NEAR(R().channelVolumes[1], 0.1f, 1e-6);
    EXPECT_EQ(ReleaseSoundBuffer(b), 0);
    EXPECT_TRUE(Recorded("DestroyVoice"));
}

}  // namespace
}  // namespace ZiDaz
