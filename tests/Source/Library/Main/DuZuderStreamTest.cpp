// Stream sounds pulled through the mixer frame for frame: the ring sizes, the loop from a "smpl"
// chunk, a loop text file or the setters, the position jump, the end of a pass, the silence after
// the data, and the refusals of a stream made of several files.
#include <gtest/gtest.h>

#include <cstring>

#include "SoundPlaySupport.h"

namespace ZiDaz {
namespace {

using velk::sound::Bytes;

constexpr std::int64_t kLoopPoint = 1000;
constexpr std::int64_t kLoopStart = 50000;

// What a loop of 1,000 .. 49,999 after the first 50,000 frames plays at frame k.
std::int64_t Expected(std::size_t k) {
    if (static_cast<std::int64_t>(k) < kLoopStart) return static_cast<std::int64_t>(k);
    return kLoopPoint + (static_cast<std::int64_t>(k) - kLoopStart) % (kLoopStart - kLoopPoint);
}

class StreamSoundTest : public SoundPlayTest {};

TEST_F(StreamSoundTest, RingSizesFollowTheKindOfStream) {
    const StreamSizes file = ComputeStreamSizes(Pcm16Format(), 1);
    EXPECT_EQ(file.ring, 2293200);
    EXPECT_EQ(file.window, 2249100);
    const StreamSizes memory = ComputeStreamSizes(Pcm16Format(), 0);
    EXPECT_EQ(memory.ring, 176400);
    EXPECT_EQ(memory.window, 132300);

    // Thirteen seconds: the first fill of a file stream has data enough.
    const auto path = WriteFile("long.wav", RampWaveFile(44100 * 13));
    ASSERT_EQ(SetSoundLoadMode(3), 0);
    SoundLoadParams params;
    InitSoundLoadParams(&params);
    const HandleValue fileStream =
        LoadSoundFromFileWithParams(&params, U16(path).c_str(), 1, -1, 0, 0);
    ASSERT_GE(fileStream, 0);
    EXPECT_EQ(Data(fileStream)->ringSize, 2293200);
    EXPECT_EQ(Data(fileStream)->writeOffset, 2249100);
    ASSERT_EQ(SetSoundLoadMode(2), 0);
    InitSoundLoadParams(&params);
    const HandleValue memoryStream =
        LoadSoundFromFileWithParams(&params, U16(path).c_str(), 1, -1, 0, 0);
    ASSERT_GE(memoryStream, 0);
    EXPECT_EQ(Data(memoryStream)->ringSize, 176400);
    EXPECT_EQ(Data(memoryStream)->writeOffset, 132300);
    EXPECT_EQ(Data(memoryStream)->entries[0].sourceKind, 2);
    EXPECT_EQ(Data(fileStream)->entries[0].sourceKind, 3);
}

enum class LoopFrom { SampleChunk, TextFile, Setters };

struct LoopCase {
    const char* name;
    LoopFrom from;
    int mode;  // 0: the runtime's memory-image load, 2 or 3: a path load in that mode
};

HandleValue LoadLoopedRamp(SoundPlayTest* test, const LoopCase& c,
                           const std::filesystem::path& folder) {
    std::vector<velk::sound::WaveChunk> chunks;
    if (c.from == LoopFrom::SampleChunk) {
        chunks.push_back(velk::sound::SampleLoopChunk(kLoopPoint, kLoopStart));
    }
    const Bytes wave = RampWaveFile(60000, chunks);
    HandleValue h = -1;
    static Bytes image;
    if (c.mode == 0) {
        image = wave;
        h = LoadSoundFromMemoryImage(image.data(), image.size(), 3, -1);
    } else {
        const std::filesystem::path path = folder / "ramp.wav";
        {
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(wave.data()),
                      static_cast<std::streamsize>(wave.size()));
        }
        if (c.from == LoopFrom::TextFile) {
            std::ofstream text(folder / "ramp_loop.txt", std::ios::binary);
            text << "LOOPSTART=1000\r\nLOOPEND=50000\r\n";
        }
        EXPECT_EQ(SetSoundLoadMode(c.mode), 0);
        SoundLoadParams params;
        InitSoundLoadParams(&params);
        const std::string s = path.string();
        const std::u16string wide(s.begin(), s.end());
        h = LoadSoundFromFileWithParams(&params, wide.c_str(), 3, -1, 0, 0);
    }
    if (h >= 0 && c.from == LoopFrom::Setters) {
        EXPECT_EQ(SetSoundLoopPoint(kLoopPoint, h), 0);
        EXPECT_EQ(SetSoundLoopStart(kLoopStart, h), 0);
    }
    (void)test;
    return h;
}

TEST_F(StreamSoundTest, LoopPlaysTheIntroThenTheLoopForEverWhereverTheLoopComesFrom) {
    const LoopCase cases[] = {
        {"smpl chunk, memory image", LoopFrom::SampleChunk, 0},
        {"smpl chunk, file stream", LoopFrom::SampleChunk, 3},
        {"loop text, memory stream", LoopFrom::TextFile, 2},
        {"loop text, file stream", LoopFrom::TextFile, 3},
        {"setters, memory image", LoopFrom::Setters, 0},
        {"setters, file stream", LoopFrom::Setters, 3},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.name);
        const HandleValue h = LoadLoopedRamp(this, c, folder_);
        ASSERT_GE(h, 0);
        ASSERT_EQ(Data(h)->isStream, 1);
        EXPECT_EQ(Data(h)->bufferCount, 1);
        EXPECT_EQ(Data(h)->entries[0].loopCount, 255);
        ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_LOOP, 1), 0);
        const std::vector<std::int64_t> got = Indices(Mix(160000));
        std::size_t bad = got.size();
        for (std::size_t k = 0; k < got.size(); ++k) {
            if (got[k] != Expected(k)) {
                bad = k;
                break;
            }
        }
        EXPECT_EQ(bad, got.size())
            << "frame " << bad << " is " << got[bad] << ", not " << Expected(bad);
        EXPECT_EQ(IsSoundPlaying(h), 1);
        EXPECT_EQ(DeleteHandle(h), 0);
        SetSoundLoadMode(0);
    }
}

TEST_F(StreamSoundTest, PositionJumpsBackWhenTheCursorCrossesTheJump) {
    const Bytes wave = RampWaveFile(60000, {velk::sound::SampleLoopChunk(1000, 50000)});
    const HandleValue h = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    ASSERT_GE(h, 0);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_LOOP, 1), 0);
    Mix(49000);
    // The jump is already written into the ring; the position has not taken it yet.
    EXPECT_EQ(Data(h)->loopPending, 1);
    EXPECT_EQ(GetSoundPositionBytes(h), 49000 * 4);
    EXPECT_EQ(GetSoundPositionMs(h), 49000 * 1000 / 44100);
    Mix(2000);
    EXPECT_EQ(GetSoundPositionBytes(h), (1000 + 1000) * 4);
    EXPECT_EQ(GetSoundPositionMs(h), 2000 * 1000 / 44100);
}

TEST_F(StreamSoundTest, StopWithModeOneEndsThePassThenSilenceThenTheStop) {
    const Bytes wave = RampWaveFile(60000, {velk::sound::SampleLoopChunk(1000, 50000)});
    const HandleValue h = LoadSoundFromMemoryImage(wave.data(), wave.size(), 3, -1);
    ASSERT_GE(h, 0);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_LOOP, 1), 0);
    Mix(60000);  // into the second pass: frame 11,000 next
    ASSERT_EQ(StopSoundPlayback(h, 1), 0);
    const std::vector<MixedFrame> rest = Mix(60000);
    std::size_t k = 0;
    for (; k < rest.size() && RampIndex(rest[k]) != 0; ++k) {
        ASSERT_EQ(RampIndex(rest[k]), 11000 + static_cast<std::int64_t>(k)) << k;
    }
    EXPECT_EQ(k, 39000u);  // 11,000 .. 49,999
    for (; k < rest.size(); ++k) ASSERT_EQ(RampIndex(rest[k]), 0) << k;
    EXPECT_EQ(IsSoundPlaying(h), 0);
    EXPECT_EQ(Data(h)->inPlayingList, 0);
    // The stream went back to its start: a new start without restart plays from the top.
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 0), 0);
    const std::vector<std::int64_t> again = Indices(Mix(1000));
    EXPECT_EQ(again[0], 0);
    EXPECT_EQ(again[999], 999);
}

TEST_F(StreamSoundTest, EightBitStreamsArePaddedWith127) {
    velk::sound::WaveSpec spec;
    spec.channels = 1;
    spec.bitsPerSample = 8;
    spec.sampleRate = 8000;
    const Bytes wave = velk::sound::WriteWave(spec, Bytes(4000, 200));
    ASSERT_EQ(SetSoundLoadMode(2), 0);
    const HandleValue h = LoadSoundFromMemoryImage(wave.data(), wave.size(), 1, -1);
    ASSERT_GE(h, 0);
    SoundHandleData* d = Data(h);
    ASSERT_EQ(d->isStream, 1);
    // The whole sound fits the first fill: it ends there, with an eighth of a second of silence.
    EXPECT_EQ(d->endReached, 1);
    EXPECT_EQ(d->endOffset, 4000u);
    const unsigned char* ring = d->buffers[0].waveData->data;
    EXPECT_EQ(ring[3999], 200);
    for (int i = 4000; i < 5000; ++i) ASSERT_EQ(ring[i], 127) << i;
}

TEST_F(StreamSoundTest, FilesJoinOnlyOfOneFormatUpToThreeAndNotWhilePlaying) {
    const Bytes a = RampWaveFile(20000);
    ASSERT_EQ(SetSoundLoadMode(2), 0);
    const HandleValue h = LoadSoundFromMemoryImage(a.data(), a.size(), 1, -1);
    ASSERT_GE(h, 0);
    SoundLoadParams params;
    InitSoundLoadParams(&params);
    EXPECT_EQ(AddStreamSoundFromMemoryImage(&params, a.data(), a.size(), 0, h, 2, -1, 0), 0);
    EXPECT_EQ(AddStreamSoundFromMemoryImage(&params, a.data(), a.size(), 0, h, 2, -1, 0), 0);
    EXPECT_EQ(AddStreamSoundFromMemoryImage(&params, a.data(), a.size(), 0, h, 2, -1, 0), -1);
    EXPECT_EQ(Count("ストリーム風サウンドの制御データ領域がいっぱいです"), 1);
    EXPECT_EQ(GetSoundLengthSamples(h), 60000);

    const HandleValue g = LoadSoundFromMemoryImage(a.data(), a.size(), 1, -1);
    velk::sound::WaveSpec other;
    other.sampleRate = 22050;
    const Bytes b =
        velk::sound::WriteWave(other, velk::sound::PcmBytes16(velk::sound::RampWave(2, 1000)));
    EXPECT_EQ(AddStreamSoundFromMemoryImage(&params, b.data(), b.size(), 0, g, 2, -1, 0), -1);
    EXPECT_EQ(Count("フォーマットの違う音声データは同時に使うことは出来ません"), 1);
    ASSERT_EQ(StartSoundPlayback(g, DX_PLAYTYPE_LOOP, 1), 0);
    EXPECT_EQ(AddStreamSoundFromMemoryImage(&params, a.data(), a.size(), 0, g, 2, -1, 0), -1);
    EXPECT_EQ(Count("既に再生中のストリームサウンドデータにデータを追加しようとしました"), 1);
    EXPECT_EQ(Data(g)->entryCount, 1);
}

TEST_F(StreamSoundTest, TwoFileStreamRefusesAPositionAndPlaysOnFromWhereItWas) {
    const Bytes a = RampWaveFile(20000);
    ASSERT_EQ(SetSoundLoadMode(2), 0);
    const HandleValue h = LoadSoundFromMemoryImage(a.data(), a.size(), 1, -1);
    ASSERT_GE(h, 0);
    SoundLoadParams params;
    InitSoundLoadParams(&params);
    ASSERT_EQ(AddStreamSoundFromMemoryImage(&params, a.data(), a.size(), 0, h, 2, -1, 0), 0);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 1), 0);
    const std::vector<std::int64_t> first = Indices(Mix(30000));
    EXPECT_EQ(first[19999], 19999);
    EXPECT_EQ(first[20000], 0);  // the second file
    EXPECT_EQ(first[29999], 9999);
    EXPECT_EQ(SetSoundPositionMs(100, h), -1);
    EXPECT_EQ(IsSoundPlaying(h), 1);
    const std::vector<std::int64_t> next = Indices(Mix(100));
    EXPECT_EQ(next[0], 10000);
    EXPECT_EQ(next[99], 10099);
    // A one-file stream moves; the position lands on whole frames.
    ASSERT_EQ(StopSoundPlayback(h, 0), 0);
    const HandleValue g = LoadSoundFromMemoryImage(a.data(), a.size(), 1, -1);
    ASSERT_EQ(SetSoundPositionBytes(4 * 1234 + 3, g), 0);
    EXPECT_EQ(Data(g)->decodedBytes, 4 * 1234);
    ASSERT_EQ(StartSoundPlayback(g, DX_PLAYTYPE_BACK, 0), 0);
    EXPECT_EQ(Indices(Mix(1))[0], 1234);
}

TEST_F(StreamSoundTest, PlainStreamEndsAndStartsAgainFromTheTop) {
    const Bytes a = RampWaveFile(20000);
    ASSERT_EQ(SetSoundLoadMode(2), 0);
    const HandleValue h = LoadSoundFromMemoryImage(a.data(), a.size(), 1, -1);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 1), 0);
    const std::vector<std::int64_t> got = Indices(Mix(30000));
    EXPECT_EQ(got[19999], 19999);
    EXPECT_EQ(got[20000], 0);
    EXPECT_EQ(got[29999], 0);
    EXPECT_EQ(IsSoundPlaying(h), 0);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_LOOP, 0), 0);
    const std::vector<std::int64_t> looped = Indices(Mix(41000));
    EXPECT_EQ(looped[0], 0);
    EXPECT_EQ(looped[20000], 0);  // play type 3 goes round the whole stream
    EXPECT_EQ(looped[40999], 999);
    // Starting a playing stream without restart is refused, and it plays on.
    EXPECT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_LOOP, 0), -1);
    EXPECT_EQ(Indices(Mix(1))[0], 1000);
}

}  // namespace
}  // namespace ZiDaz
