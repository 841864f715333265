// Loading and playback control of Sound handles, the deactivation pause and the service steps,
// with the mixer driven by the test.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>

#include "Main/DxMemory.h"
#include "Main/Windows/DxSystemWin.h"
#include "SoundPlaySupport.h"

namespace ZiDaz {
namespace {

using velk::sound::Bytes;

class SoundPlaybackTest : public SoundPlayTest {};

TEST(SoundLevelTest, LevelsBecomeHundredthsOfADecibel) {
    struct Case {
        int level;
        std::int32_t normal;
        std::int32_t curve;
    };
    const Case cases[] = {{128, -1496, -299},  {64, -3001, -600},   {1, -10000, -2406},
                          {250, -43, -8},      {255, 0, 0},         {300, 352, 70},
                          {0, -10000, -10000}, {-5, -10000, -10000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        EXPECT_EQ(SoundLevelToVolume(c.level, 0), c.normal);
        EXPECT_EQ(SoundLevelToVolume(c.level, 1), c.curve);
    }
}

TEST(SoundLoadSettingsTest, LoadModesAreStoredOrRefused) {
    const int saved = GetSoundLoadMode();
    struct Case {
        int mode;
        int result;
        int stored;
    };
    const Case cases[] = {{2, 0, 2}, {1, 0, 0}, {3, 0, 3}, {4, -1, 3}, {-1, -1, 3}, {0, 0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(SetSoundLoadMode(c.mode), c.result) << c.mode;
        EXPECT_EQ(GetSoundLoadMode(), c.stored) << c.mode;
    }
    SetSoundLoadMode(saved);
}

TEST(SoundWaveImageTest, TemporaryWaveHoldsFormatAndData) {
    const SoundFormat f = Pcm16Format();
    std::vector<std::uint8_t> pcm(1000, 7);
    void* image = nullptr;
    std::uint32_t size = 0;
    ASSERT_EQ(BuildWaveFileImage(&image, &size, &f, 18, pcm.data(), 1000), 0);
    EXPECT_EQ(size, 1046u);
    const auto* b = static_cast<const std::uint8_t*>(image);
    std::uint32_t riff = 0;
    std::memcpy(&riff, b + 4, 4);
    EXPECT_EQ(riff, 1038u);
    EXPECT_EQ(std::memcmp(b + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(b[16], 18);
    EXPECT_EQ(std::memcmp(b + 38, "data", 4), 0);
    EXPECT_EQ(b[1045], 7);
    FreeTrackedMemory(image);
}

TEST(LoopTextTest, FileNameAndContents) {
    struct NameCase {
        const char16_t* path;
        const char16_t* name;
    };
    const NameCase names[] = {{u"a.b/c", u"a.b/c_loop.txt"},
                              {u"bgm/theme.ogg", u"bgm/theme_loop.txt"},
                              {u"x", u"x_loop.txt"}};
    for (const NameCase& c : names) {
        char16_t out[64];
        MakeLoopTextFileName(c.path, out, sizeof out);
        EXPECT_EQ(std::u16string(out), std::u16string(c.name));
    }
    auto utf16 = [](const std::u16string& t, bool big) {
        std::string out = big ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t u : t) {
            const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
            out += big ? std::string{hi, lo} : std::string{lo, hi};
        }
        return out;
    };
    struct Case {
        const char* name;
        std::string text;
        int result;
        std::int32_t point;
        std::int32_t start;
    };
    const Case cases[] = {
        {"length", "LOOPSTART=44100\nLOOPLENGTH=441000", 0, 44100, 485100},
        {"end", "LOOPSTART=1000\r\nLOOPEND=50000\r\n", 0, 1000, 50000},
        {"utf-8 mark", "\xEF\xBB\xBFLOOPSTART=1000 LOOPEND=50000", 0, 1000, 50000},
        {"utf-16le", utf16(u"LOOPSTART=1000\nLOOPEND=50000", false), 0, 1000, 50000},
        {"utf-16be", utf16(u"LOOPSTART=1000\nLOOPEND=50000", true), 0, 1000, 50000},
        {"cp932 before the key", "\x83\x8B\x81\x5B\x83\x76\nLOOPSTART=10\nLOOPEND=20", 0, 10, 20},
        {"a word Loop first", "Loop info\nLOOPSTART=1000\nLOOPEND=50000", -1, 0, 0},
        {"end not above start", "LOOPSTART=1000\nLOOPEND=1000", -1, 0, 0},
        {"nothing between", "LOOPSTART=1000LOOPEND=50000", -1, 0, 0},
        {"a blank between", "LOOPSTART=1000 LOOPEND=50000", 0, 1000, 50000},
        {"ends after the number", "LOOPSTART=1000", -1, 0, 0},
        {"minus skipped", "LOOPSTART=-5\nLOOPEND=9", 0, 5, 9},
        {"under 3 bytes", "LO", -1, 0, 0},
        {"lower case", "loopstart=1\nloopend=2", -1, 0, 0},
        {"saturates", "LOOPSTART=1\nLOOPEND=99999999999", 0, 1, 2147483647},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t point = 0;
        std::int32_t start = 0;
        EXPECT_EQ(ParseLoopText(c.text.data(), c.text.size(), &point, &start), c.result);
        EXPECT_EQ(point, c.point);
        EXPECT_EQ(start, c.start);
    }
}

TEST_F(SoundPlaybackTest, VolumePanAndFrequencyReachTheBuffers) {
    const Bytes wave = RampWaveFile(1000);
    const HandleValue h = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    ASSERT_GE(h, 0);
    EXPECT_EQ(Data(h)->bufferCount, 3);
    ASSERT_EQ(SetSoundVolumeLevel(128, h), 0);
    for (const SoundBuffer& b : Data(h)->buffers) {
        if (b.setUp) {
            EXPECT_EQ(b.volume[0], -1496);
        }
    }
    EXPECT_EQ(GetSoundVolume(0, h), 10000 - 1496);
    SetSoundVolumeCurve(1);
    ASSERT_EQ(SetSoundVolumeLevel(128, h), 0);
    EXPECT_EQ(GetSoundVolume(7, h), 10000 - 299);
    SetSoundVolumeCurve(0);
    ASSERT_EQ(SetSoundVolume(0, h), 0);
    EXPECT_EQ(GetSoundVolume(0, h), 0);
    ASSERT_EQ(SetSoundVolume(10000, h), 0);
    EXPECT_EQ(GetSoundVolume(0, h), 10000);
    ASSERT_EQ(SetSoundPan(20000, h), 0);
    EXPECT_EQ(GetSoundPan(h), 10000);
    EXPECT_EQ(Data(h)->pan, 10000);
    ASSERT_EQ(SetSoundFrequency(22050, h), 0);
    EXPECT_EQ(GetSoundFrequency(h), 22050);
    ASSERT_EQ(SetSoundFrequency(-1, h), 0);
    EXPECT_EQ(GetSoundFrequency(h), 44100);
    EXPECT_EQ(SetSoundVolume(0, h + 1), -1);
    EXPECT_EQ(IsSoundPlaying(-1), -1);
}

TEST_F(SoundPlaybackTest, StartsWithoutRestartGoRoundTheBuffersFromThePreviousPosition) {
    const Bytes wave = RampWaveFile(44100 * 3);
    const HandleValue h = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    ASSERT_GE(h, 0);
    SoundHandleData* d = Data(h);
    ASSERT_EQ(d->isStream, 0);
    ASSERT_EQ(SetSoundPositionMs(2000, h), 0);
    std::int32_t play = 0;
    GetSoundBufferPosition(&d->buffers[0], &play, nullptr);
    EXPECT_EQ(play, 352800);
    ASSERT_EQ(SetSoundPositionMs(0, h), 0);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 0), 0);
    EXPECT_EQ(d->currentBuffer, 1);
    Mix(100);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 0), 0);
    EXPECT_EQ(d->currentBuffer, 2);
    EXPECT_EQ(d->buffers[2].position, 100);
    Mix(50);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 0), 0);
    EXPECT_EQ(d->currentBuffer, 0);
    EXPECT_EQ(d->buffers[0].position, 150);  // where buffer 2 stood
    EXPECT_EQ(d->buffers[1].position, 150);
    // The fourth finds buffer 1 playing and changes nothing.
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 0), 0);
    EXPECT_EQ(d->buffers[1].position, 150);
    EXPECT_EQ(IsSoundBufferPlaying(&d->buffers[1]), 1);
    // Stopped, a start without restart continues; with restart it begins at 0.
    ASSERT_EQ(StopSoundPlayback(h, 0), 0);
    EXPECT_EQ(IsSoundPlaying(h), 0);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 1), 0);
    EXPECT_EQ(d->buffers[d->currentBuffer].position, 0);
}

TEST_F(SoundPlaybackTest, OverlappingStartsSoundTogether) {
    velk::sound::WaveSpec spec;
    std::vector<std::int16_t> ones(2 * 1000, 100);
    const Bytes wave = velk::sound::WriteWave(spec, velk::sound::PcmBytes16(ones));
    const HandleValue h = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 1), 0);
    Mix(200);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 1), 0);
    Mix(200);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 1), 0);
    const std::vector<MixedFrame> got = Mix(1000);
    EXPECT_EQ(got[0].left, 300);  // three at once
    EXPECT_EQ(got[599].left, 300);
    EXPECT_EQ(got[600].left, 200);  // the first has ended
    EXPECT_EQ(got[800].left, 100);
    EXPECT_EQ(got[999].left, 100);
    EXPECT_EQ(Mix(10)[0].left, 0);
}

TEST_F(SoundPlaybackTest, FinishedSoundLeavesThePlayingListAtTheNextRound) {
    const Bytes wave = RampWaveFile(500);
    const HandleValue h = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 1), 0);
    EXPECT_EQ(Data(h)->inPlayingList, 1);
    std::vector<MixedFrame> out(600);
    MixSoundBuffers(&out[0].left, &out[0].right, 4, 600);
    EXPECT_EQ(Data(h)->inPlayingList, 1);
    EXPECT_EQ(PruneStoppedSounds(), 0);
    EXPECT_EQ(Data(h)->inPlayingList, 0);
}

TEST_F(SoundPlaybackTest, DeactivationPausesExactlyThePlayingBuffersAndResumesThem) {
    const Bytes wave = RampWaveFile(20000);
    const HandleValue looped = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    const HandleValue once = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    const HandleValue stopped = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    ASSERT_EQ(StartSoundPlayback(looped, DX_PLAYTYPE_LOOP, 1), 0);
    ASSERT_EQ(StartSoundPlayback(once, DX_PLAYTYPE_BACK, 1), 0);
    ASSERT_EQ(StartSoundPlayback(stopped, DX_PLAYTYPE_BACK, 1), 0);
    Mix(300);
    ASSERT_EQ(StopSoundPlayback(stopped, 0), 0);
    ASSERT_EQ(PauseSounds(1), 0);
    SoundHandleData* l = Data(looped);
    SoundHandleData* o = Data(once);
    SoundHandleData* s = Data(stopped);
    EXPECT_EQ(l->buffers[1].playing, 0);
    EXPECT_EQ(l->pausedByDeactivation[1], 1);
    EXPECT_EQ(l->wasPlaying[1], 1);
    EXPECT_EQ(l->pausedByDeactivation[0], 1);
    EXPECT_EQ(l->wasPlaying[0], 0);
    EXPECT_EQ(s->wasPlaying[1], 0);
    EXPECT_EQ(IsSoundPlaying(looped), 1);  // still playing as far as the game can tell
    EXPECT_EQ(IsSoundPlaying(stopped), 0);
    // Nothing moves while paused, and a second pause changes nothing.
    Mix(300);
    EXPECT_EQ(l->buffers[1].position, 300);
    ASSERT_EQ(PauseSounds(1), 0);
    EXPECT_EQ(l->wasPlaying[1], 1);
    PruneStoppedSounds();
    EXPECT_EQ(l->inPlayingList, 1);
    ASSERT_EQ(PauseSounds(0), 0);
    EXPECT_EQ(l->buffers[1].playing, 1);
    EXPECT_EQ(l->buffers[1].loop, 1);
    EXPECT_EQ(o->buffers[1].playing, 1);
    EXPECT_EQ(o->buffers[1].loop, 0);
    EXPECT_EQ(s->buffers[1].playing, 0);
    EXPECT_EQ(l->pausedByDeactivation[1], 0);
    const std::vector<std::int64_t> got = Indices(Mix(1));
    EXPECT_EQ(got[0], 2 * 300);  // both sounds from frame 300 on
}

TEST_F(SoundPlaybackTest, StartStampBelowZeroStillEstimatesThePosition) {
    // A buffer started further on than the output has mixed: its position 0 lies before the
    // output's first frame, and the estimate must still count from there.
    SoundBuffer b{};
    const SoundFormat f = Pcm16Format();
    ASSERT_EQ(SetUpSoundBuffer(&b, 4 * 44100, &f, nullptr, 0), 0);
    const std::int64_t ahead = static_cast<std::int64_t>(g_SoundSystem.totalMixedFrames) + 5000;
    ASSERT_EQ(SetSoundBufferPosition(&b, static_cast<std::int32_t>(4 * ahead)), 0);
    ASSERT_EQ(PlaySoundBuffer(&b, 0), 0);
    ASSERT_LT(b.startStamp, 0);
    std::uint64_t clock = 0;
    std::uint64_t frequency = 0;
    ASSERT_EQ(ReadOutputClock(&clock, &frequency), 0);
    std::int32_t play = -1;
    ASSERT_EQ(GetSoundBufferPosition(&b, &play, nullptr), 0);
    const std::int64_t t = static_cast<std::int64_t>(44100.0 * static_cast<double>(clock) /
                                                     static_cast<double>(frequency));
    EXPECT_EQ(play, 4 * (t - b.startStamp));
    EXPECT_GT(play, 0);
    ReleaseSoundBuffer(&b);
}

TEST_F(SoundPlaybackTest, DeviceRemovalRestartsTheOutputAtTheNextPump) {
    const Bytes wave = RampWaveFile(1000);
    const HandleValue h = LoadSoundFromMemoryImage(wave.data(), wave.size(), 1, -1);
    ASSERT_GE(h, 0);
    platform::audio::SimulateDeviceRemoval();
    EXPECT_EQ(g_SoundOutput.deviceChanged, 1);
    PumpMessagesUnlocked();
    EXPECT_EQ(g_SoundOutput.deviceChanged, 0);
    EXPECT_EQ(IsSoundOutputUp(), 1);
    EXPECT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 1), 0);
}

TEST_F(SoundPlaybackTest, LoadsDecideBetweenPcmAndStream) {
    const Bytes wave = RampWaveFile(1000);
    EXPECT_EQ(LoadSoundFromMemoryImage(wave.data(), wave.size(), 11, -1), -1);
    const auto path = WriteFile("se.wav", wave);
    SoundLoadParams params;
    InitSoundLoadParams(&params);
    const HandleValue ten = LoadSoundFromFileWithParams(&params, U16(path).c_str(), 11, -1, 0, 0);
    ASSERT_GE(ten, 0);
    EXPECT_EQ(Data(ten)->bufferCount, 10);

    // Whole seconds of PCM decide: 181 s streams, 180.9 s stays PCM.
    velk::sound::WaveSpec low;
    low.channels = 1;
    low.bitsPerSample = 8;
    low.sampleRate = 8000;
    const Bytes longer = velk::sound::WriteWave(low, Bytes(8000 * 181, 128));
    const Bytes shorter = velk::sound::WriteWave(low, Bytes(8000 * 1809 / 10, 128));
    const HandleValue a = LoadSoundFromMemoryImage(longer.data(), longer.size(), 3, -1);
    const HandleValue b = LoadSoundFromMemoryImage(shorter.data(), shorter.size(), 3, -1);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(Data(a)->isStream, 1);
    EXPECT_EQ(Data(a)->bufferCount, 1);
    EXPECT_EQ(Data(b)->isStream, 0);
    EXPECT_EQ(Data(b)->bufferCount, 3);

    // Mode 1 is stored as 0: a PCM sound.
    ASSERT_EQ(SetSoundLoadMode(1), 0);
    const HandleValue c = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    EXPECT_EQ(Data(c)->isStream, 0);

    // The loop area of a mode-0 load makes a stream, unless loop information is ignored.
    const Bytes looped = RampWaveFile(60000, {velk::sound::SampleLoopChunk(1000, 50000)});
    SetSoundLoadIgnoreLoopInfo(1);
    const HandleValue d = LoadSoundFromMemoryImage(looped.data(), looped.size(), 3, -1);
    EXPECT_EQ(Data(d)->isStream, 0);
    SetSoundLoadIgnoreLoopInfo(0);
    EXPECT_EQ(GetSoundLengthSamples(d), 60000);
    EXPECT_EQ(GetSoundLengthMs(d), 60000 * 1000 / 44100);

    // A damaged image is refused with the converter's message.
    const Bytes junk(100, 0x55);
    EXPECT_EQ(LoadSoundFromMemoryImage(junk.data(), junk.size(), 3, -1), -1);
    EXPECT_EQ(Count("音声ファイルのＰＣＭへの変換に失敗しました"), 1);
}

TEST_F(SoundPlaybackTest, BackgroundMusicFilesStreamByTheirEnding) {
    const Bytes wave = RampWaveFile(30000);
    const auto wav = WriteFile("bgm.WAV", wave);
    const auto ogg = WriteFile(
        "bgm.ogg",
        velk::sound::EncodeVorbis(velk::sound::SineWave(2, 44100, 440, 8000, 30000), 2, 44100));
    ASSERT_EQ(SetSoundLoadMode(0), 0);
    const HandleValue a = LoadBackgroundMusicFile(wav.string().c_str());
    ASSERT_GE(a, 0);
    EXPECT_EQ(Data(a)->isStream, 1);
    EXPECT_EQ(Data(a)->entries[0].sourceKind, 3);
    EXPECT_EQ(Data(a)->fileStream, 1);
    EXPECT_EQ(GetSoundLoadMode(), 0);
    EXPECT_EQ(GetSoundLengthMs(a), 30000 * 1000 / 44100);
    ASSERT_EQ(SetSoundLoadMode(3), 0);
    const HandleValue b = LoadBackgroundMusicFile(ogg.string().c_str());
    ASSERT_GE(b, 0);
    EXPECT_EQ(Data(b)->entries[0].sourceKind, 2);
    EXPECT_EQ(Data(b)->fileStream, 0);
    EXPECT_EQ(GetSoundLoadMode(), 3);
    EXPECT_EQ(LoadBackgroundMusicFile("missing.ogg"), -1);
    EXPECT_EQ(Count("Sound File Open Error"), 1);
    SetSoundLoadMode(0);
}

TEST_F(SoundPlaybackTest, LoopPointOnAPcmSoundMakesAStreamUnderTheSameHandle) {
    const Bytes wave = RampWaveFile(60000);
    const HandleValue h = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    ASSERT_GE(h, 0);
    ASSERT_EQ(SetSoundVolume(9000, h), 0);
    ASSERT_EQ(SetSoundFrequency(22050, h), 0);
    ASSERT_EQ(SetSoundPan(-3000, h), 0);
    ASSERT_EQ(SetSoundPositionBytes(4 * 500, h), 0);
    EXPECT_EQ(SetSoundLoopStart(60000, h), -1);  // at the length: refused, still PCM
    EXPECT_EQ(Data(h)->isStream, 0);

    // A conversion that cannot make its stream leaves the sound as it was.
    HandleTypeRecord& type = HandleTypeTable[DX_HANDLETYPE_SOUND];
    const int max = type.max;
    type.max = type.count;
    EXPECT_EQ(SetSoundLoopPoint(1000, h), -1);
    type.max = max;
    EXPECT_EQ(Count("ストリームサウンドハンドルの作成に失敗しました"), 1);
    ASSERT_NE(Data(h), nullptr);
    EXPECT_EQ(Data(h)->isStream, 0);
    EXPECT_EQ(Data(h)->bufferCount, 3);

    ASSERT_EQ(SetSoundLoopPoint(1000, h), 0);
    SoundHandleData* d = Data(h);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->isStream, 1);
    EXPECT_EQ(d->bufferCount, 1);
    EXPECT_EQ(GetSoundVolume(0, h), 9000);
    EXPECT_EQ(GetSoundFrequency(h), 22050);
    EXPECT_EQ(GetSoundPan(h), -3000);
    EXPECT_EQ(GetSoundPositionBytes(h), 4 * 500);
    EXPECT_EQ(SetSoundLoopStart(59999, h), 0);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_SOUND].count, 1);
    ASSERT_EQ(SetSoundFrequency(-1, h), 0);
    ASSERT_EQ(SetSoundVolume(10000, h), 0);
    ASSERT_EQ(SetSoundPan(0, h), 0);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_LOOP, 0), 0);
    const std::vector<std::int64_t> got = Indices(Mix(60000));
    EXPECT_EQ(got[0], 500);
    EXPECT_EQ(got[59498], 59998);  // the loop is taken at sample 59,999
    EXPECT_EQ(got[59499], 1000);
}

TEST_F(SoundPlaybackTest, ClonesShareThePcmAndOutliveTheirSource) {
    const Bytes wave = RampWaveFile(1000);
    const HandleValue h = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    const HandleValue clone = CloneSoundHandle(h, 2);
    ASSERT_GE(clone, 0);
    EXPECT_EQ(Data(clone)->pcmData, Data(h)->pcmData);
    EXPECT_EQ(*Data(h)->pcmReferenceCount, 2);
    EXPECT_EQ(DeleteHandle(h), 0);
    ASSERT_EQ(StartSoundPlayback(clone, DX_PLAYTYPE_BACK, 1), 0);
    EXPECT_EQ(Indices(Mix(10))[9], 9);
    ASSERT_EQ(SetSoundLoadMode(2), 0);
    const HandleValue stream = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    EXPECT_EQ(CloneSoundHandle(stream, 2), -1);
    SetSoundLoadMode(0);
}

// A minute of the game's calls while the sound thread refills sixteen streams; the normal suite
// runs a few seconds of it (VELK_SOUND_STRESS_SECONDS sets another length).
class SoundThreadStressTest : public SoundPlayTest {
  protected:
    int processors() const override { return 4; }
};

TEST_F(SoundThreadStressTest, MainThreadCallsWhileTheServiceThreadRefills) {
    ASSERT_NE(g_SoundOutput.serviceThread, nullptr);
    const Bytes wave = RampWaveFile(44100);
    const Bytes looped = RampWaveFile(44100, {velk::sound::SampleLoopChunk(1000, 40000)});
    int seconds = 3;
    if (const char* env = std::getenv("VELK_SOUND_STRESS_SECONDS")) seconds = std::atoi(env);
    std::atomic<bool> draining{true};
    // The device is drained as a real one would be, so the mixer and the refills keep moving.
    std::thread drain([&] {
        std::vector<std::int16_t> block(2 * 441);
        while (draining) {
            platform::audio::PullFrames(block.data(), 441);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::mt19937 random(35);
    std::vector<HandleValue> streams;
    auto load = [&]() {
        SetSoundLoadMode(random() % 2 ? 2 : 0);
        const Bytes& image = random() % 2 ? wave : looped;
        const HandleValue h = LoadSoundFromMemoryImage(image.data(), image.size(), 3, -1);
        SetSoundLoadMode(0);
        return h;
    };
    for (int i = 0; i < 16; ++i) streams.push_back(load());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    long calls = 0;
    while (std::chrono::steady_clock::now() < end) {
        HandleValue& h = streams[random() % streams.size()];
        switch (random() % 8) {
            case 0:
            case 1:
                StartSoundPlayback(h, random() % 2 ? DX_PLAYTYPE_LOOP : DX_PLAYTYPE_BACK,
                                   static_cast<int>(random() % 2));
                break;
            case 2:
                StopSoundPlayback(h, static_cast<int>(random() % 2));
                break;
            case 3:
                SetSoundPositionMs(static_cast<std::int64_t>(random() % 900), h);
                break;
            case 4:
                GetSoundPositionMs(h);
                IsSoundPlaying(h);
                break;
            case 5:
                SetSoundLoopPoint(static_cast<std::int64_t>(random() % 20000), h);
                break;
            case 6:
                DeleteHandle(h);
                h = load();
                break;
            default:
                SetSoundVolumeLevel(static_cast<int>(random() % 256), h);
                RunPumpSoundService();
                break;
        }
        ++calls;
        if (calls % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    draining = false;
    drain.join();
    EXPECT_GT(calls, 100);
    EXPECT_EQ(DeleteAllSounds(), 0);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_SOUND].count, 0);
}

}  // namespace
}  // namespace ZiDaz
