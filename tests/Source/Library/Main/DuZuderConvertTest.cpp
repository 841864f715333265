// The sound converter's front end and its WAVE reader, over files made by our WAVE writer.
#include "Main/DuZuderConvert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "SoundConvertSupport.h"

namespace ZiDaz {
namespace {

using velk::sound::Bytes;
using velk::sound::WaveSpec;

Bytes Counting(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    return b;
}

struct PcmCase {
    const char* name;
    bool rf64;
    std::uint16_t channels;
    std::uint16_t bits;
    std::uint32_t rate;
    std::uint32_t formatChunkSize;
    std::size_t frames;
};

class WavePcmTest : public ::testing::TestWithParam<PcmCase> {};

TEST_P(WavePcmTest, HandsOutTheDataUnchangedWholeAndInPieces) {
    const PcmCase& c = GetParam();
    WaveSpec spec;
    spec.rf64 = c.rf64;
    spec.channels = c.channels;
    spec.bitsPerSample = c.bits;
    spec.sampleRate = c.rate;
    spec.formatChunkSize = c.formatChunkSize;
    const std::size_t blockAlign = c.channels * c.bits / 8;
    const Bytes data = Counting(c.frames * blockAlign);
    MemoryConversion conv(velk::sound::WriteWave(spec, data));
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(conv.state()->kind, SoundConvertWave);
    const SoundFormat f = conv.Format();
    EXPECT_EQ(f.formatTag, 1);
    EXPECT_EQ(f.channels, c.channels);
    EXPECT_EQ(f.samplesPerSec, c.rate);
    EXPECT_EQ(f.bitsPerSample, c.bits);
    EXPECT_EQ(f.blockAlign, blockAlign);
    EXPECT_EQ(f.avgBytesPerSec, blockAlign * c.rate);
    EXPECT_EQ(GetConvertedSoundSize(conv.state()), static_cast<std::int64_t>(data.size()));
    // Pieces that straddle the one-second blocks.
    EXPECT_EQ(conv.ReadAll(777), data);
    EXPECT_EQ(IsSoundConversionAtEnd(conv.state()), 1);
    EXPECT_EQ(conv.Whole(), data);
}

INSTANTIATE_TEST_SUITE_P(Formats, WavePcmTest,
                         ::testing::Values(PcmCase{"u8mono", false, 1, 8, 8000, 16, 20000},
                                           PcmCase{"s16stereo", false, 2, 16, 8000, 16, 17001},
                                           PcmCase{"s24stereo", false, 2, 24, 11025, 18, 30000},
                                           PcmCase{"s32mono", false, 1, 32, 8000, 16, 9000},
                                           PcmCase{"s16stereoRf64", true, 2, 16, 8000, 16, 12345},
                                           PcmCase{"s24monoRf64", true, 1, 24, 8000, 18, 8001},
                                           PcmCase{"s16sixChannels", false, 6, 16, 8000, 16, 5000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WaveFormatTest, SixteenByteChunkDerivesBitsFromTheBlockAlign) {
    WaveSpec spec;
    spec.channels = 2;
    spec.blockAlign = 4;
    spec.bitsPerSample = 8;  // wrong on purpose
    MemoryConversion conv(velk::sound::WriteWave(spec, Counting(400)));
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(conv.Format().bitsPerSample, 16);
    EXPECT_EQ(conv.Format().extraSize, 0);
}

TEST(WaveFormatTest, EighteenByteChunkKeepsItsExtraSize) {
    WaveSpec spec;
    spec.formatChunkSize = 18;
    spec.extraSize = 2;
    MemoryConversion conv(velk::sound::WriteWave(spec, Counting(400)));
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(conv.Format().extraSize, 2);
}

TEST(WaveFormatTest, ByteRateOfTheFileIsReplacedByBlockAlignTimesRate) {
    // A zero byte rate would make every fill empty; the output states the real one.
    WaveSpec spec;
    spec.avgBytesPerSec = 0;
    const Bytes data = Counting(4000);
    MemoryConversion conv(velk::sound::WriteWave(spec, data));
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(conv.Format().avgBytesPerSec, 4u * 44100);
    EXPECT_EQ(conv.ReadAll(1000), data);
}

TEST(WaveFormatTest, ImpossibleFormatsAreRefused) {
    struct Case {
        const char* name;
        WaveSpec spec;
    };
    std::vector<Case> cases;
    WaveSpec s;
    s.sampleRate = 0;
    cases.push_back({"zero rate", s});
    s = {};
    s.blockAlign = 0;
    cases.push_back({"zero block align", s});
    s = {};
    s.channels = 0;
    s.blockAlign = 4;
    cases.push_back({"no channels", s});
    s = {};
    s.formatTag = 3;
    s.bitsPerSample = 24;
    cases.push_back({"24-bit float", s});
    s = {};
    s.formatTag = 3;
    s.bitsPerSample = 32;
    s.blockAlign = 4;  // two channels need 8
    cases.push_back({"float frame too short", s});
    s = {};
    s.formatTag = 0xFFFE;
    s.formatChunkSize = 40;
    cases.push_back({"extensible", s});
    s = {};
    s.sampleRate = 0x7FFFFFFF;
    s.blockAlign = 64;
    cases.push_back({"byte rate beyond 32 bits", s});
    s = {};
    s.formatChunkSize = 12;
    cases.push_back({"format chunk too short", s});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryConversion conv(velk::sound::WriteWave(c.spec, Counting(400)));
        // Only the WAVE converter may take it; the platform converters are not started.
        EXPECT_EQ(conv.Begin(kSkipVorbis | kSkipOpus | kSkipAcmWave | kSkipAcmMp3 |
                             kSkipDirectShowMp3 | kSkipMediaFoundation),
                  -1);
        EXPECT_EQ(conv.state()->open, 0);
    }
}

TEST(WaveFormatTest, NotAWaveFileIsRefused) {
    for (const char* text : {"", "RIFF", "RIFF\x10\0\0\0AVI LIST", "RIFX\x10\0\0\0WAVEfmt "}) {
        Bytes bytes(text, text + std::strlen(text) + (std::strlen(text) > 4 ? 8 : 0));
        MemoryConversion conv(bytes);
        EXPECT_EQ(conv.Begin(~kSkipWave & 0x7F), -1) << text;
    }
}

TEST(WaveFloatTest, FloatsBecomeSixteenBitPcm) {
    const float kNaN = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> in = {1.0f, -1.0f, 0.5f,  -0.25f, 0.99999f,
                                   kNaN, 2.0f,  -3.0f, 1e-9f,  -1e-9f};
    const std::vector<std::int16_t> expected = {32767, -32768, 16384,  -8192, 32767,
                                                0,     32767,  -32768, 0,     0};
    WaveSpec spec;
    spec.formatTag = 3;
    spec.bitsPerSample = 32;
    MemoryConversion conv(velk::sound::WriteWave(spec, velk::sound::FloatBytes(in)));
    ASSERT_EQ(conv.Begin(), 0);
    const SoundFormat f = conv.Format();
    EXPECT_EQ(f.formatTag, 1);
    EXPECT_EQ(f.bitsPerSample, 16);
    EXPECT_EQ(f.blockAlign, 4);
    EXPECT_EQ(f.avgBytesPerSec, 4u * 44100);
    EXPECT_EQ(GetConvertedSoundSize(conv.state()), static_cast<std::int64_t>(in.size() * 2));
    EXPECT_EQ(AsSamples(conv.ReadAll(6)), expected);
    EXPECT_EQ(AsSamples(conv.Whole()), expected);
}

TEST(WaveFloatTest, LongFloatSoundCrossesBlocks) {
    std::vector<float> in(8000 * 3 + 17);
    std::vector<std::int16_t> expected(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<float>(static_cast<int>(i % 65536) - 32768) / 32768.0f;
        expected[i] = static_cast<std::int16_t>(static_cast<int>(i % 65536) - 32768);
    }
    WaveSpec spec;
    spec.formatTag = 3;
    spec.bitsPerSample = 32;
    spec.channels = 1;
    spec.sampleRate = 8000;
    MemoryConversion conv(velk::sound::WriteWave(spec, velk::sound::FloatBytes(in)));
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(AsSamples(conv.ReadAll(5001)), expected);
    ASSERT_EQ(SeekSoundConversion(conv.state(), 12000), 0);
    EXPECT_EQ(AsSamples(conv.Read(4))[0], expected[12000]);
}

TEST(WaveChunkTest, OddChunksAreSkippedWithTheirPadAndTheDataIsWholeFrames) {
    WaveSpec spec;
    spec.beforeFormat.push_back({"junk", Bytes(5, 0xAA)});
    spec.beforeData.push_back({"LIST", Bytes(3, 0xBB)});
    spec.afterData.push_back({"id3 ", Bytes(7, 0xCC)});
    const Bytes data = Counting(1001);
    MemoryConversion conv(velk::sound::WriteWave(spec, data));
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(conv.state()->dataSize, 1000);
    const Bytes whole = conv.Whole();
    EXPECT_EQ(whole, Bytes(data.begin(), data.begin() + 1000));
}

struct LoopCase {
    const char* name;
    std::vector<velk::sound::WaveChunk> before;
    std::vector<velk::sound::WaveChunk> after;
    bool rf64;
    int result;
    std::int64_t start;
    std::int64_t end;
};

TEST(WaveLoopTest, SampleChunkGivesTheLoopArea) {
    using velk::sound::SampleLoopChunk;
    const std::vector<LoopCase> cases = {
        {"after data", {}, {SampleLoopChunk(100, 900)}, false, 0, 100, 900},
        {"before data", {SampleLoopChunk(5, 50)}, {}, false, 0, 5, 50},
        {"after wins", {SampleLoopChunk(1, 2)}, {SampleLoopChunk(30, 40)}, false, 0, 30, 40},
        {"short chunk", {}, {SampleLoopChunk(30, 40, 59)}, false, -1, -1, -1},
        {"none", {}, {}, false, -1, -1, -1},
        {"rf64 after data", {}, {{"LIST", Bytes(9, 1)}, SampleLoopChunk(7, 70)}, true, 0, 7, 70},
        {"first smpl decides",
         {},
         {SampleLoopChunk(3, 4, 20), SampleLoopChunk(8, 9)},
         false,
         -1,
         -1,
         -1},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.name);
        WaveSpec spec;
        spec.rf64 = c.rf64;
        spec.beforeData = c.before;
        spec.afterData = c.after;
        MemoryConversion conv(velk::sound::WriteWave(spec, Counting(4000)));
        ASSERT_EQ(conv.Begin(), 0);
        std::int64_t start = 0, end = 0;
        EXPECT_EQ(GetSoundConversionLoopArea(conv.state(), &start, &end), c.result);
        EXPECT_EQ(start, c.start);
        EXPECT_EQ(end, c.end);
        EXPECT_EQ(GetSoundConversionLoopArea(conv.state(), nullptr, nullptr), c.result);
        // The loop search leaves the stream at the data.
        EXPECT_EQ(conv.ReadAll(), Counting(4000));
    }
}

TEST(WaveRf64Test, SizesComeFromTheDs64ChunkWhateverItsTable) {
    for (std::uint32_t table : {0u, 12u, 36u}) {
        SCOPED_TRACE(table);
        WaveSpec spec;
        spec.rf64 = true;
        spec.ds64TableBytes = table;
        spec.afterData.push_back(velk::sound::SampleLoopChunk(11, 22));
        const Bytes data = Counting(4002);
        MemoryConversion conv(velk::sound::WriteWave(spec, data));
        ASSERT_EQ(conv.Begin(), 0);
        EXPECT_EQ(GetConvertedSoundSize(conv.state()), 4000);
        EXPECT_EQ(conv.Whole(), Bytes(data.begin(), data.begin() + 4000));
        std::int64_t start, end;
        EXPECT_EQ(GetSoundConversionLoopArea(conv.state(), &start, &end), 0);
        EXPECT_EQ(end, 22);
    }
}

TEST(WaveCutTest, CutFileHandsOutOnlyTheWholeFramesItHolds) {
    for (bool rf64 : {false, true}) {
        SCOPED_TRACE(rf64);
        WaveSpec spec;
        spec.rf64 = rf64;
        spec.statedDataSize = 1000000;  // far more than the file holds
        const Bytes data = Counting(1002);
        MemoryConversion whole(velk::sound::WriteWave(spec, data));
        ASSERT_EQ(whole.Begin(), 0);
        EXPECT_EQ(GetConvertedSoundSize(whole.state()), 1000);
        EXPECT_EQ(whole.Whole(), Bytes(data.begin(), data.begin() + 1000));
        MemoryConversion pieces(velk::sound::WriteWave(spec, data));
        ASSERT_EQ(pieces.Begin(), 0);
        EXPECT_EQ(pieces.ReadAll(300), Bytes(data.begin(), data.begin() + 1000));
    }
}

TEST(WaveCutTest, ChunksLargerThanTheStreamAreNotTrusted) {
    // A format chunk claiming 2 GB is refused; a "smpl" chunk claiming 2 GB gives no loop.
    Bytes file = velk::sound::WriteWave(WaveSpec{}, Counting(400));
    Bytes bigFormat = file;
    bigFormat[16] = 0xFF;
    bigFormat[17] = 0xFF;
    bigFormat[18] = 0xFF;
    bigFormat[19] = 0x7F;
    MemoryConversion refused(bigFormat);
    EXPECT_EQ(refused.Begin(kSkipVorbis | kSkipOpus | kSkipAcmWave | kSkipAcmMp3 |
                            kSkipDirectShowMp3 | kSkipMediaFoundation),
              -1);
    WaveSpec spec;
    spec.afterData.push_back(velk::sound::SampleLoopChunk(1, 2));
    Bytes bigSmpl = velk::sound::WriteWave(spec, Counting(400));
    const std::size_t at = bigSmpl.size() - 68;
    ASSERT_EQ(std::memcmp(bigSmpl.data() + at, "smpl", 4), 0);
    bigSmpl[at + 4] = 0xF0;
    bigSmpl[at + 7] = 0x7F;
    MemoryConversion noLoop(bigSmpl);
    ASSERT_EQ(noLoop.Begin(), 0);
    EXPECT_EQ(GetSoundConversionLoopArea(noLoop.state(), nullptr, nullptr), -1);
}

TEST(SoundConvertFrontTest, SeekIsDroppedWithinSixteenBytes) {
    WaveSpec spec;
    spec.channels = 1;
    spec.sampleRate = 8000;
    const Bytes data = Counting(40000);
    MemoryConversion conv(velk::sound::WriteWave(spec, data));
    ASSERT_EQ(conv.Begin(), 0);
    conv.Read(100);
    // 6 samples = 12 bytes back: nothing changes, the next byte is byte 100.
    EXPECT_EQ(SeekSoundConversion(conv.state(), 44), 0);
    EXPECT_EQ(conv.Read(2), Bytes(data.begin() + 100, data.begin() + 102));
    // 8 samples = 16 bytes back from 102 (sample 51 -> 43): carried out.
    EXPECT_EQ(SeekSoundConversion(conv.state(), 43), 0);
    EXPECT_EQ(conv.state()->outputPosition, 86);
    EXPECT_EQ(conv.Read(2), Bytes(data.begin() + 86, data.begin() + 88));
    // Far ahead, then back to the start.
    EXPECT_EQ(SeekSoundConversion(conv.state(), 15000), 0);
    EXPECT_EQ(conv.Read(4), Bytes(data.begin() + 30000, data.begin() + 30004));
    EXPECT_EQ(SeekSoundConversion(conv.state(), 0), 0);
    EXPECT_EQ(conv.ReadAll(4096), data);
}

TEST(SoundConvertFrontTest, AfterTheEndNothingComesUntilASeek) {
    const Bytes data = Counting(400);
    MemoryConversion conv(velk::sound::WriteWave(WaveSpec{}, data));
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(conv.Read(1000).size(), 400u);
    EXPECT_EQ(IsSoundConversionAtEnd(conv.state()), 1);
    EXPECT_EQ(conv.Read(10).size(), 0u);
    // Within 16 bytes of the position: not carried out, still at the end.
    EXPECT_EQ(SeekSoundConversion(conv.state(), 98), 0);
    EXPECT_EQ(IsSoundConversionAtEnd(conv.state()), 1);
    EXPECT_EQ(SeekSoundConversion(conv.state(), 10), 0);
    EXPECT_EQ(IsSoundConversionAtEnd(conv.state()), 0);
    EXPECT_EQ(conv.ReadAll(), Bytes(data.begin() + 40, data.end()));
}

TEST(SoundConvertFrontTest, SeeksOutsideTheSoundEndOrRestartIt) {
    const Bytes data = Counting(400);
    MemoryConversion conv(velk::sound::WriteWave(WaveSpec{}, data));
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(SeekSoundConversion(conv.state(), 1000000), 0);
    EXPECT_EQ(conv.Read(10).size(), 0u);
    EXPECT_EQ(SeekSoundConversion(conv.state(), std::numeric_limits<std::int64_t>::max()), 0);
    EXPECT_EQ(conv.Read(10).size(), 0u);
    EXPECT_EQ(SeekSoundConversion(conv.state(), -5), 0);
    EXPECT_EQ(conv.ReadAll(), data);
}

TEST(SoundConvertFrontTest, WholeConversionStartsAtTheStartAfterReading) {
    const Bytes data = Counting(4000);
    MemoryConversion conv(velk::sound::WriteWave(WaveSpec{}, data));
    ASSERT_EQ(conv.Begin(), 0);
    conv.Read(8);  // a seek back to 0 from here would be dropped
    EXPECT_EQ(conv.Whole(), data);
}

TEST(SoundConvertFrontTest, EndTwiceAndClosedStates) {
    MemoryConversion conv(velk::sound::WriteWave(WaveSpec{}, Counting(40)));
    EXPECT_EQ(conv.Read(4).size(), 0u);  // not open
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(EndSoundConversion(conv.state()), 0);
    EXPECT_EQ(EndSoundConversion(conv.state()), -1);
    EXPECT_EQ(conv.Read(4).size(), 0u);
    // A closed state opens again.
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(conv.ReadAll(), Counting(40));
}

TEST(SoundConvertFrontTest, LoopPointIsStoredInBytes) {
    MemoryConversion conv(velk::sound::WriteWave(WaveSpec{}, Counting(40)));
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(SetSoundConversionLoopPoint(conv.state(), 1000), 0);
    EXPECT_EQ(conv.state()->loopPoint, 4000);
}

TEST(PlatformSoundDecodersTest, StartAndEndOnce) {
    if (ArePlatformSoundDecodersStarted()) EndPlatformSoundDecoders();
    EXPECT_EQ(EndPlatformSoundDecoders(), -1);
    EXPECT_EQ(StartPlatformSoundDecoders(), 0);
    EXPECT_EQ(StartPlatformSoundDecoders(), -1);
    EXPECT_EQ(EndPlatformSoundDecoders(), 0);
    EXPECT_EQ(EndPlatformSoundDecoders(), -1);
}

}  // namespace
}  // namespace ZiDaz
