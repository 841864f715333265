// The platform sound converters: MP3 through the audio compression manager (our msacm32 over
// libmpg123) with the library's own frame walk, the compressed-WAVE path, and the Media
// Foundation and DirectShow converters failing at their platform boundary.
#include "Main/Windows/DuZuderConvertWin.h"

#include <gtest/gtest.h>
#include <mpg123.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "Source/Library/Main/LogCapture.h"
#include "Source/Library/Main/SoundConvertSupport.h"
#include "platform/Modules.h"

namespace ZiDaz {
namespace {

using velk::sound::Bytes;
using velk::sound::Mp3Options;

// ---- Frame headers --------------------------------------------------------------------------

struct HeaderCase {
    const char* name;
    std::uint8_t bytes[4];
    int result;
    int layer, version, channels;
    std::uint32_t rate, bitRate, length, samples;
};

TEST(Mp3FrameHeaderTest, FieldsLengthsAndRefusals) {
    const HeaderCase cases[] = {
        {"mpeg1 l3 128k", {0xFF, 0xFB, 0x90, 0x00}, 0, 2, 0, 2, 44100, 128, 417, 1152},
        {"padded", {0xFF, 0xFB, 0x92, 0x00}, 0, 2, 0, 2, 44100, 128, 418, 1152},
        {"mpeg2 l3 64k mono", {0xFF, 0xF3, 0x80, 0xC0}, 0, 2, 1, 1, 22050, 64, 208, 576},
        {"mpeg2.5 l3 32k", {0xFF, 0xE3, 0x80, 0x40}, 0, 2, 2, 2, 11025, 64, 417, 576},
        {"mpeg1 l2 192k 48k", {0xFF, 0xFD, 0xA4, 0x00}, 0, 1, 0, 2, 48000, 192, 576, 1152},
        {"mpeg1 l1 288k", {0xFF, 0xFF, 0x90, 0x00}, 0, 0, 0, 2, 44100, 288, 312, 384},
        {"mpeg2 l1 32k", {0xFF, 0xF7, 0x14, 0x00}, 0, 0, 1, 2, 24000, 32, 64, 384},
        {"free format", {0xFF, 0xFB, 0x00, 0x00}, 0, 2, 0, 2, 44100, 0, 0, 1152},
        {"version 01", {0xFF, 0xEB, 0x90, 0x00}, -1, 0, 0, 0, 0, 0, 0, 0},
        {"layer 00", {0xFF, 0xF9, 0x90, 0x00}, -1, 0, 0, 0, 0, 0, 0, 0},
        {"bit rate 15", {0xFF, 0xFB, 0xF0, 0x00}, -1, 0, 0, 0, 0, 0, 0, 0},
        {"rate 3", {0xFF, 0xFB, 0x9C, 0x00}, -1, 0, 0, 0, 0, 0, 0, 0},
        {"no sync", {0xFF, 0x7B, 0x90, 0x00}, -2, 0, 0, 0, 0, 0, 0, 0},
        {"no sync byte", {0x00, 0xFB, 0x90, 0x00}, -2, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        Mp3FrameInfo info{};
        ASSERT_EQ(ParseMp3FrameHeader(c.bytes, &info), c.result);
        if (c.result != 0) continue;
        EXPECT_EQ(info.layer, c.layer);
        EXPECT_EQ(info.version, c.version);
        EXPECT_EQ(info.channels, c.channels);
        EXPECT_EQ(info.sampleRate, c.rate);
        EXPECT_EQ(info.bitRate, c.bitRate);
        EXPECT_EQ(info.frameLength, c.length);
        EXPECT_EQ(info.samplesPerFrame, c.samples);
    }
}

// ---- MP3 through ACM ------------------------------------------------------------------------

// What libmpg123 decodes from the whole file at once, every frame's samples kept.
Bytes Mpg123Decode(const Bytes& file, int channels, long rate) {
    mpg123_init();
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME, 0);
    mpg123_format_none(mh);
    mpg123_format(mh, rate, channels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(mh);
    mpg123_feed(mh, file.data(), file.size());
    Bytes out;
    unsigned char buffer[16384];
    for (;;) {
        std::size_t done = 0;
        int r = mpg123_read(mh, buffer, sizeof(buffer), &done);
        out.insert(out.end(), buffer, buffer + done);
        if (r == MPG123_NEW_FORMAT) continue;
        if (r != MPG123_OK) break;
    }
    mpg123_delete(mh);
    return out;
}

class Mp3ConvertTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (ArePlatformSoundDecodersStarted()) EndPlatformSoundDecoders();
        ASSERT_EQ(StartPlatformSoundDecoders(), 0);
    }
    void TearDown() override {
        EndPlatformSoundDecoders();
        platform::ResetHiddenModules();
    }
};

struct Mp3Case {
    const char* name;
    int channels;
    int rate;
    Mp3Options options;
    std::int64_t dataStart;  // -1: not checked
};

Mp3Options Options(int bitRate, bool vbr = false) {
    Mp3Options o;
    o.bitRate = bitRate;
    o.vbr = vbr;
    return o;
}

Mp3Options Tagged(std::uint32_t id3v2, int version, bool footer, bool id3v1) {
    Mp3Options o;
    o.id3v2Size = id3v2;
    o.id3v2Version = version;
    o.id3v2Footer = footer;
    o.id3v1 = id3v1;
    return o;
}

TEST_F(Mp3ConvertTest, DecodesEveryFrameAsLibmpg123Does) {
    Mp3Options info = Options(128);
    info.infoFrame = true;
    const Mp3Case cases[] = {
        {"cbr stereo", 2, 44100, Options(128), 0},
        {"vbr stereo", 2, 44100, Options(128, true), 0},
        {"cbr mono", 1, 44100, Options(64), 0},
        {"mpeg2 22050", 2, 22050, Options(64), 0},
        {"mpeg2.5 11025", 1, 11025, Options(32), 0},
        {"info frame", 2, 48000, info, 0},
        {"id3v2 of 1000", 2, 44100, Tagged(1000, 3, false, false), 1010},
        {"id3v2.4 with footer", 2, 44100, Tagged(1000, 4, true, false), 1020},
        {"id3v2.4 without footer", 2, 44100, Tagged(1000, 4, false, true), 1010},
        {"final TAG", 2, 44100, Tagged(0, 3, false, true), 0},
    };
    for (const Mp3Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto tone = velk::sound::SineWave(c.channels, c.rate, 440.0, 10000.0, c.rate);
        const Bytes file = velk::sound::EncodeMp3(tone, c.channels, c.rate, c.options);
        MemoryConversion conv(file);
        ASSERT_EQ(conv.Begin(), 0);
        EXPECT_EQ(conv.state()->kind, SoundConvertAcm);
        const SoundFormat f = conv.Format();
        EXPECT_EQ(f.formatTag, 1);
        EXPECT_EQ(f.channels, c.channels);
        EXPECT_EQ(f.samplesPerSec, static_cast<std::uint32_t>(c.rate));
        EXPECT_EQ(f.bitsPerSample, 16);
        EXPECT_EQ(f.blockAlign, c.channels * 2);
        if (c.dataStart >= 0) {
            EXPECT_EQ(conv.state()->dataStart, c.dataStart);
        }
        const std::size_t tagBytes = c.options.id3v1 ? 128 : 0;
        EXPECT_EQ(conv.state()->dataStart + conv.state()->dataSize,
                  static_cast<std::int64_t>(file.size() - tagBytes));
        const auto* acm = ConverterArea<AcmConvertData>(conv.state());
        const std::int64_t spf = c.rate >= 32000 ? 1152 : 576;
        EXPECT_EQ(acm->totalSamples % spf, 0);
        EXPECT_EQ(conv.state()->blockSize, f.avgBytesPerSec * 4 / 3 / f.blockAlign * f.blockAlign);
        const Bytes oracle =
            Mpg123Decode(Bytes(file.begin() + conv.state()->dataStart, file.end() - tagBytes),
                         c.channels, c.rate);
        EXPECT_EQ(GetConvertedSoundSize(conv.state()), static_cast<std::int64_t>(oracle.size()));
        EXPECT_TRUE(conv.ReadAll(7777) == oracle);
        const Bytes whole = conv.Whole();
        EXPECT_EQ(whole.size(), oracle.size());
        EXPECT_TRUE(whole == oracle);
    }
}

// Zero crossings of one channel give its frequency.
double Frequency(const std::vector<std::int16_t>& s, int channels, int rate, std::size_t fromFrame,
                 std::size_t toFrame) {
    int crossings = 0;
    std::size_t first = 0, last = 0;
    for (std::size_t i = (fromFrame + 1) * channels; i < s.size() && i < toFrame * channels;
         i += channels) {
        if (s[i - channels] < 0 && s[i] >= 0) {
            if (crossings == 0) first = i / channels;
            last = i / channels;
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * static_cast<double>(rate) / (last - first) : 0.0;
}

double Peak(const std::vector<std::int16_t>& s, std::size_t from, std::size_t to) {
    int peak = 0;
    for (std::size_t i = from; i < to && i < s.size(); ++i) peak = std::max(peak, std::abs(s[i]));
    return peak;
}

Bytes FfmpegDecode(const Bytes& file) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("velk-mp3-" + std::to_string(::getpid()) + ".mp3");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    const std::string command =
        "ffmpeg -v quiet -i '" + path.string() + "' -f s16le -acodec pcm_s16le -";
    Bytes out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        unsigned char buffer[65536];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
            out.insert(out.end(), buffer, buffer + n);
        pclose(pipe);
    }
    std::filesystem::remove(path);
    return out;
}

TEST_F(Mp3ConvertTest, ToneKeepsItsPitchAndLevelAndMatchesFfmpeg) {
    const auto tone = velk::sound::SineWave(2, 44100, 440.0, 10000.0, 44100 * 2);
    const Bytes file = velk::sound::EncodeMp3(tone, 2, 44100, Options(192));
    MemoryConversion conv(file);
    ASSERT_EQ(conv.Begin(), 0);
    const auto ours = AsSamples(conv.Whole());
    EXPECT_NEAR(Frequency(ours, 2, 44100, 10000, 80000), 440.0, 0.5);
    EXPECT_NEAR(Peak(ours, 44100, 88200 * 2 - 44100), 10000.0, 400.0);

    const auto theirs = AsSamples(FfmpegDecode(file));
    if (theirs.empty()) GTEST_SKIP() << "ffmpeg is not installed";
    // Align by the offset (in frames) that best matches a stretch in the middle.
    const std::ptrdiff_t middle = 44100;  // frame
    long best = -1;
    std::ptrdiff_t bestOffset = 0;
    for (std::ptrdiff_t offset = -3000; offset <= 3000; ++offset) {
        long diff = 0;
        for (std::ptrdiff_t i = 0; i < 2000; ++i) {
            std::ptrdiff_t a = (middle + i) * 2, b = (middle + i + offset) * 2;
            if (b < 0 || b >= static_cast<std::ptrdiff_t>(theirs.size())) {
                diff = 1 << 30;
                break;
            }
            diff += std::abs(ours[a] - theirs[b]);
        }
        if (best < 0 || diff < best) {
            best = diff;
            bestOffset = offset;
        }
    }
    int worst = 0;
    std::size_t compared = 0;
    for (std::ptrdiff_t i = 0; i * 2 < static_cast<std::ptrdiff_t>(ours.size()); ++i) {
        std::ptrdiff_t j = i + bestOffset;
        if (j < 0 || j * 2 + 1 >= static_cast<std::ptrdiff_t>(theirs.size())) continue;
        for (int c = 0; c < 2; ++c)
            worst = std::max(worst, std::abs(ours[i * 2 + c] - theirs[j * 2 + c]));
        ++compared;
    }
    EXPECT_GT(compared, 80000u);
    EXPECT_LE(worst, 2) << "offset " << bestOffset;
}

TEST_F(Mp3ConvertTest, StereoToMonoChangeIsRefused) {
    Bytes file =
        velk::sound::EncodeMp3(velk::sound::SineWave(2, 44100, 440, 8000, 20000), 2, 44100);
    const Bytes mono = velk::sound::EncodeMp3(velk::sound::SineWave(1, 44100, 440, 8000, 20000), 1,
                                              44100, Options(64));
    file.insert(file.end(), mono.begin(), mono.end());
    MemoryConversion conv(file);
    conv.Bind();
    EXPECT_EQ(OpenMp3AcmConversion(conv.state()), -1);
}

TEST_F(Mp3ConvertTest, RefusedFieldsAndFreeFormatFailTheWalk) {
    const Bytes good =
        velk::sound::EncodeMp3(velk::sound::SineWave(2, 44100, 440, 8000, 20000), 2, 44100);
    // Frame 3 of a 417/418-byte CBR stream starts within a few bytes of 3 x 417.
    std::size_t third = 0;
    for (std::size_t i = 3 * 417 - 4; i < good.size(); ++i) {
        if (good[i] == 0xFF && (good[i + 1] & 0xE0) == 0xE0) {
            third = i;
            break;
        }
    }
    ASSERT_GT(third, 0u);
    for (std::uint8_t byte2 : {std::uint8_t{0xF0}, std::uint8_t{0x9C}, std::uint8_t{0x00}}) {
        SCOPED_TRACE(static_cast<int>(byte2));
        Bytes bad = good;
        bad[third + 2] = byte2;  // bit rate 15, rate 3, free format without padding
        MemoryConversion conv(bad);
        conv.Bind();
        EXPECT_EQ(OpenMp3AcmConversion(conv.state()), -1);
    }
}

// Counts the compressed bytes ACM is handed.
std::int64_t gConvertedSource = 0;
MMRESULT (*gRealConvert)(HACMSTREAM, ACMSTREAMHEADER*, DWORD) = nullptr;
MMRESULT CountingConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags) {
    gConvertedSource += header->cbSrcLength;
    return gRealConvert(stream, header, flags);
}

TEST_F(Mp3ConvertTest, SeekBackToTheLoopPointConvertsOnlyFromTheLookAhead) {
    const int rate = 44100;
    const auto tone = velk::sound::SineWave(2, rate, 440.0, 10000.0, rate * 8);
    const Bytes file = velk::sound::EncodeMp3(tone, 2, rate, Options(128));
    const Bytes oracle = Mpg123Decode(file, 2, rate);
    MemoryConversion conv(file);
    ASSERT_EQ(conv.Begin(), 0);
    const std::int64_t loop = rate * 3;
    SetSoundConversionLoopPoint(conv.state(), loop);
    conv.Read(rate * 4 * 6);  // six seconds, past the loop point
    const auto* acm = ConverterArea<AcmConvertData>(conv.state());
    EXPECT_GE(acm->lookAheadProduced, loop * 4 - 10240 - conv.state()->blockSize);
    EXPECT_LE(acm->lookAheadProduced, loop * 4);

    gRealConvert = AcmApi.acmStreamConvert;
    AcmApi.acmStreamConvert = &CountingConvert;
    gConvertedSource = 0;
    ASSERT_EQ(SeekSoundConversion(conv.state(), loop), 0);
    const std::int64_t spent = gConvertedSource;
    AcmApi.acmStreamConvert = gRealConvert;
    // At most the margin and one block of output: a few thousand compressed bytes, not three
    // seconds' worth (about 48,000).
    EXPECT_LT(spent, 16000);
    EXPECT_TRUE(conv.ReadAll() == Bytes(oracle.begin() + loop * 4, oracle.end()));
}

TEST_F(Mp3ConvertTest, SeeksMatchTheStraightDecode) {
    const int rate = 22050;
    const Bytes file = velk::sound::EncodeMp3(velk::sound::SineWave(1, rate, 300, 9000, rate * 3),
                                              1, rate, Options(48));
    const Bytes oracle = Mpg123Decode(file, 1, rate);
    MemoryConversion conv(file);
    ASSERT_EQ(conv.Begin(), 0);
    conv.Read(200);
    // Forward within the block: only the read offset moves.
    const std::int64_t offsetBefore = conv.state()->blockReadOffset;
    ASSERT_EQ(SeekSoundConversion(conv.state(), 1000), 0);
    EXPECT_EQ(conv.state()->blockReadOffset, offsetBefore + 2000 - 200);
    EXPECT_TRUE(conv.Read(100) == Bytes(oracle.begin() + 2000, oracle.begin() + 2100));
    for (std::int64_t sample : {40000, 5000, 60000, 0, 20000}) {
        SCOPED_TRACE(sample);
        ASSERT_EQ(SeekSoundConversion(conv.state(), sample), 0);
        EXPECT_TRUE(conv.Read(3000) ==
                    Bytes(oracle.begin() + sample * 2, oracle.begin() + sample * 2 + 3000));
    }
    ASSERT_EQ(SeekSoundConversion(conv.state(), 10000000), 0);
    EXPECT_EQ(conv.Read(10).size(), 0u);
}

TEST_F(Mp3ConvertTest, CompressedWaveGoesThroughAcm) {
    const Bytes mp3 =
        velk::sound::EncodeMp3(velk::sound::SineWave(2, 44100, 440, 8000, 30000), 2, 44100);
    velk::sound::WaveSpec spec;
    spec.formatTag = 0x55;
    spec.bitsPerSample = 0;
    spec.blockAlign = 1;
    spec.avgBytesPerSec = 16000;
    spec.formatChunkSize = 30;
    spec.beforeFormat.push_back(velk::sound::BroadcastChunk(10));
    MemoryConversion conv(velk::sound::WriteWave(spec, mp3));
    ASSERT_EQ(conv.Begin(), 0);
    EXPECT_EQ(conv.state()->kind, SoundConvertAcm);
    EXPECT_EQ(ConverterArea<AcmConvertData>(conv.state())->totalSamples, -1);
    EXPECT_EQ(conv.Format().avgBytesPerSec, 176400u);
    const Bytes oracle = Mpg123Decode(mp3, 2, 44100);
    EXPECT_GE(GetConvertedSoundSize(conv.state()), static_cast<std::int64_t>(oracle.size()));
    EXPECT_TRUE(conv.Whole() == oracle);

    // A format that names another rate than the frames carry: the codec gives nothing.
    spec.sampleRate = 22050;
    spec.beforeFormat.clear();
    MemoryConversion mismatch(velk::sound::WriteWave(spec, mp3));
    ASSERT_EQ(mismatch.Begin(), 0);
    EXPECT_EQ(mismatch.ReadAll().size(), 0u);
    EXPECT_EQ(IsSoundConversionAtEnd(mismatch.state()), 1);

    // Another chunk first: this converter does not look further.
    spec.beforeFormat = {{"junk", Bytes(4, 0)}};
    MemoryConversion other(velk::sound::WriteWave(spec, mp3));
    other.Bind();
    EXPECT_EQ(OpenAcmWaveConversion(other.state()), -1);
}

// ---- Failing at the platform boundary ------------------------------------------------------

class PlatformBoundaryTest : public LogCaptureTest {
  protected:
    void SetUp() override {
        LogCaptureTest::SetUp();
        if (ArePlatformSoundDecodersStarted()) EndPlatformSoundDecoders();
    }
    void TearDown() override {
        EndPlatformSoundDecoders();
        platform::ResetHiddenModules();
        LogCaptureTest::TearDown();
    }
    static bool Contains(const std::string& log, const char* text) {
        return log.find(text) != std::string::npos;
    }
};

TEST_F(PlatformBoundaryTest, FilesNoConverterTakesEndAtDirectShowAndMediaFoundation) {
    ASSERT_EQ(StartPlatformSoundDecoders(), 0);
    velk::sound::WaveSpec adpcm;
    adpcm.formatTag = 0x11;  // IMA ADPCM: no codec on this platform
    adpcm.bitsPerSample = 4;
    adpcm.blockAlign = 1024;
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"unknown tag", velk::sound::WriteWave(adpcm, Bytes(4096, 0x11))},
        {"text", Bytes(300, 'a')},
        {"refused mp3 header", Bytes{0xFF, 0xFB, 0xF0, 0x00, 1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryConversion conv(c.bytes);
        EXPECT_EQ(conv.Begin(), -1);
        EXPECT_EQ(conv.state()->open, 0);
        EXPECT_EQ(MemoryStreamTell(conv.stream()), 0);  // rewound by the last converter
    }
    const std::string log = LogBytes();
    EXPECT_TRUE(Contains(log, "MP3変換用 NullRender の作成に失敗しました")) << log;
}

TEST_F(PlatformBoundaryTest, HiddenAcmEntryLeavesMp3ToTheLaterConverters) {
    platform::HideEntry("msacm32.dll", "acmStreamSize", true);
    EXPECT_EQ(StartPlatformSoundDecoders(), -1);
    const Bytes mp3 =
        velk::sound::EncodeMp3(velk::sound::SineWave(2, 44100, 440, 8000, 8000), 2, 44100);
    MemoryConversion conv(mp3);
    EXPECT_EQ(conv.Begin(), -1);
    EXPECT_TRUE(Contains(LogBytes(), "MP3変換用 NullRender の作成に失敗しました"));
    platform::ResetHiddenModules();
    UnloadAcmEntryPoints();
}

TEST_F(PlatformBoundaryTest, DirectShowAloneFailsWithItsMessageAndMediaFoundationSilently) {
    const Bytes mp3 = velk::sound::EncodeMp3(velk::sound::SineWave(1, 44100, 440, 8000, 8000), 1,
                                             44100, Options(64));
    MemoryConversion ds(mp3);
    EXPECT_EQ(ds.Begin((0x7F & ~kSkipDirectShowMp3) | kSkipMediaFoundation), -1);
    EXPECT_TRUE(Contains(LogBytes(), "MP3変換用 NullRender の作成に失敗しました"));
    MemoryConversion mf(mp3);
    mf.Bind();
    EXPECT_EQ(OpenMediaFoundationConversion(mf.state()), -1);
}

TEST(MediaFoundationConvertTest, BlockSizeIsWholeFramesOfAtLeast4096Bytes) {
    EXPECT_EQ(MediaFoundationBlockSize(4), 4096);
    EXPECT_EQ(MediaFoundationBlockSize(12), 4104);
    EXPECT_EQ(MediaFoundationBlockSize(1), 4096);
    EXPECT_EQ(MediaFoundationBlockSize(6), 4098);
}

TEST(DirectShowMp3ConvertTest, HandsOutTheDecodedBufferAndEndsPastIt) {
    SoundConvertState state{};
    state.kind = SoundConvertDirectShowMp3;
    state.outputFormat.blockAlign = 4;
    state.blockSize = 1000;
    unsigned char block[1000];
    state.blockBuffer = block;
    auto* ds = ConverterArea<DirectShowMp3ConvertData>(&state);
    unsigned char pcm[2500];
    for (int i = 0; i < 2500; ++i) pcm[i] = static_cast<unsigned char>(i);
    ds->pcmBuffer = pcm;
    ds->pcmSize = 2500;
    EXPECT_EQ(GetPlatformConvertedSize(&state), 2500);
    EXPECT_EQ(FillDirectShowMp3Block(&state), 0);
    EXPECT_EQ(state.blockBytesLeft, 1000);
    EXPECT_EQ(SeekDirectShowMp3(&state, 600), 0);
    EXPECT_EQ(FillDirectShowMp3Block(&state), 0);
    EXPECT_EQ(state.blockBytesLeft, 100);
    EXPECT_EQ(block[0], static_cast<unsigned char>(2400));
    EXPECT_EQ(FillDirectShowMp3Block(&state), -1);
    EXPECT_EQ(SeekDirectShowMp3(&state, 5000), 0);
    EXPECT_EQ(ds->readOffset, 2500u);
    EXPECT_EQ(FillDirectShowMp3Block(&state), -1);
}

}  // namespace
}  // namespace ZiDaz
