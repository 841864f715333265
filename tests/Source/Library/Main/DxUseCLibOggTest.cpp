// The Ogg Vorbis and Opus converters, over files encoded at test time, against the decoders' own
// output.
#include "Main/DxUseCLibOgg.h"

#include <gtest/gtest.h>
#include <opusfile.h>
#include <vorbis/vorbisfile.h>

#include <cstring>
#include <map>

#include "SoundConvertSupport.h"

namespace ZiDaz {
namespace {

using velk::sound::Bytes;

// The bytes vorbisfile itself decodes from a file image, from a sample on.
Bytes VorbisOracle(const Bytes& file, int width, std::int64_t from = 0) {
    OggVorbis_File vf;
    struct Reader {
        const Bytes* file;
        std::size_t at;
    } reader{&file, 0};
    ov_callbacks callbacks = {
        [](void* out, std::size_t size, std::size_t count, void* source) -> std::size_t {
            auto* r = static_cast<Reader*>(source);
            std::size_t n = std::min(size * count, r->file->size() - r->at);
            std::memcpy(out, r->file->data() + r->at, n);
            r->at += n;
            return n / size;
        },
        [](void* source, ogg_int64_t offset, int origin) -> int {
            auto* r = static_cast<Reader*>(source);
            std::int64_t base = origin == 0 ? 0 : origin == 1 ? r->at : r->file->size();
            r->at = static_cast<std::size_t>(base + offset);
            return 0;
        },
        nullptr,
        [](void* source) -> long { return static_cast<long>(static_cast<Reader*>(source)->at); }};
    Bytes out;
    EXPECT_EQ(ov_open_callbacks(&reader, &vf, nullptr, 0, callbacks), 0);
    if (from) ov_pcm_seek(&vf, from);
    char buffer[4096];
    int section;
    long got;
    while ((got = ov_read(&vf, buffer, sizeof(buffer), 0, width, width != 1, &section)) > 0)
        out.insert(out.end(), buffer, buffer + got);
    ov_clear(&vf);
    return out;
}

Bytes OpusOracle(const Bytes& file, std::int64_t from = 0) {
    int error = 0;
    OggOpusFile* of = op_open_memory(file.data(), file.size(), &error);
    EXPECT_NE(of, nullptr);
    if (from) op_pcm_seek(of, from);
    const int channels = op_channel_count(of, -1);
    Bytes out;
    opus_int16 pcm[5760 * 2];
    int n;
    while ((n = op_read(of, pcm, 5760 * 2, nullptr)) > 0) {
        auto* b = reinterpret_cast<std::uint8_t*>(pcm);
        out.insert(out.end(), b, b + n * channels * 2);
    }
    op_free(of);
    return out;
}

const std::vector<std::int16_t>& Tone(int channels, std::size_t frames) {
    static std::map<std::pair<int, std::size_t>, std::vector<std::int16_t>> cache;
    auto& t = cache[{channels, frames}];
    if (t.empty()) t = velk::sound::SineWave(channels, 44100, 440.0, 12000.0, frames);
    return t;
}

struct LoopCase {
    const char* name;
    std::vector<std::string> comments;
    int result;
    std::int64_t start;
    std::int64_t end;
};

TEST(VorbisConvertTest, LoopCommentsGiveTheLoopArea) {
    const std::vector<LoopCase> cases = {
        {"start and length", {"LOOPSTART=44100", "LOOPLENGTH=88200"}, 0, 44100, 132300},
        {"length only", {"LOOPLENGTH=1000"}, 0, 0, 1000},
        {"start only", {"TITLE=x", "LOOPSTART=500"}, 0, 500, 10000},
        {"zero length", {"LOOPSTART=500", "LOOPLENGTH=0"}, 0, 500, 10000},
        {"lower case", {"loopstart=500", "looplength=100"}, -1, -1, -1},
        {"later wins", {"LOOPSTART=10", "LOOPLENGTH=20", "LOOPSTART=30"}, 0, 30, 50},
        {"none", {"ARTIST=velk"}, -1, -1, -1},
        {"blank before", {" LOOPSTART=500"}, -1, -1, -1},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryConversion conv(velk::sound::EncodeVorbis(Tone(2, 10000), 2, 44100, c.comments));
        ASSERT_EQ(conv.Begin(), 0);
        EXPECT_EQ(conv.state()->kind, SoundConvertVorbis);
        std::int64_t start = 0, end = 0;
        EXPECT_EQ(GetSoundConversionLoopArea(conv.state(), &start, &end), c.result);
        EXPECT_EQ(start, c.start);
        EXPECT_EQ(end, c.end);
    }
}

TEST(VorbisConvertTest, DecodesWhatVorbisfileDecodes) {
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        const Bytes file = velk::sound::EncodeVorbis(Tone(channels, 30000), channels, 44100);
        const Bytes oracle = VorbisOracle(file, 2);
        MemoryConversion conv(file);
        ASSERT_EQ(conv.Begin(), 0);
        const SoundFormat f = conv.Format();
        EXPECT_EQ(f.formatTag, 1);
        EXPECT_EQ(f.channels, channels);
        EXPECT_EQ(f.samplesPerSec, 44100u);
        EXPECT_EQ(f.bitsPerSample, 16);
        EXPECT_EQ(f.blockAlign, channels * 2);
        EXPECT_EQ(f.avgBytesPerSec, channels * 2u * 44100);
        EXPECT_EQ(f.extraSize, 0);
        EXPECT_EQ(GetConvertedSoundSize(conv.state()), 30000 * channels * 2);
        EXPECT_EQ(conv.ReadAll(3001), oracle);
        EXPECT_EQ(conv.Whole(), oracle);
        // A seek lands where vorbisfile's own seek lands.
        ASSERT_EQ(SeekSoundConversion(conv.state(), 12345), 0);
        EXPECT_EQ(conv.ReadAll(), VorbisOracle(file, 2, 12345));
    }
}

TEST(VorbisConvertTest, SampleWidthOneGivesUnsignedBytes) {
    const Bytes file = velk::sound::EncodeVorbis(Tone(2, 5000), 2, 44100);
    MemoryConversion conv(file);
    ASSERT_EQ(conv.Begin(0, 1), 0);
    EXPECT_EQ(conv.Format().bitsPerSample, 8);
    EXPECT_EQ(conv.Format().blockAlign, 2);
    EXPECT_EQ(conv.Format().avgBytesPerSec, 2u * 44100);
    EXPECT_EQ(GetConvertedSoundSize(conv.state()), 10000);
    EXPECT_EQ(conv.Whole(), VorbisOracle(file, 1));
}

TEST(VorbisConvertTest, MovieFlagDecodesAlike) {
    const Bytes file = velk::sound::EncodeVorbis(Tone(2, 5000), 2, 44100);
    MemoryConversion conv(file);
    StreamReaderBinding binding{*GetMemoryStreamAccess(), conv.stream()};
    ASSERT_EQ(BeginSoundConversion(conv.state(), &binding, 0x7F & ~kSkipVorbis, 2, 1), 0);
    EXPECT_EQ(conv.Whole(), VorbisOracle(file, 2));
}

TEST(OpusConvertTest, OutputIsFortyEightKilohertzWhateverTheInputRate) {
    struct Case {
        int inputRate;
        std::size_t inputFrames;
    };
    for (Case c : {Case{48000, 48000}, Case{44100, 44100}}) {
        SCOPED_TRACE(c.inputRate);
        const auto tone = velk::sound::SineWave(2, c.inputRate, 440.0, 12000.0, c.inputFrames);
        const Bytes file = velk::sound::EncodeOpus(tone, 2, c.inputRate);
        MemoryConversion conv(file);
        ASSERT_EQ(conv.Begin(), 0);
        EXPECT_EQ(conv.state()->kind, SoundConvertOpus);
        const SoundFormat f = conv.Format();
        EXPECT_EQ(f.samplesPerSec, 48000u);
        EXPECT_EQ(f.channels, 2);
        EXPECT_EQ(f.bitsPerSample, 16);
        EXPECT_EQ(f.blockAlign, 4);
        EXPECT_EQ(f.avgBytesPerSec, 192000u);
        EXPECT_EQ(GetConvertedSoundSize(conv.state()), 192000);
        const Bytes oracle = OpusOracle(file);
        EXPECT_EQ(oracle.size(), 192000u);
        EXPECT_EQ(conv.Whole(), oracle);
        EXPECT_EQ(GetSoundConversionLoopArea(conv.state(), nullptr, nullptr), -1);
    }
}

TEST(OpusConvertTest, DecodesAndSeeksAsOpusfileDoes) {
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        const auto tone = velk::sound::SineWave(channels, 48000, 1000.0, 9000.0, 40000);
        const Bytes file = velk::sound::EncodeOpus(tone, channels, 48000);
        MemoryConversion conv(file);
        ASSERT_EQ(conv.Begin(), 0);
        EXPECT_EQ(conv.ReadAll(1234), OpusOracle(file));
        // The decoder's state after a seek depends on where it came from: compare fresh opens.
        MemoryConversion seeking(file);
        ASSERT_EQ(seeking.Begin(), 0);
        ASSERT_EQ(SeekSoundConversion(seeking.state(), 20000), 0);
        EXPECT_EQ(seeking.ReadAll(), OpusOracle(file, 20000));
    }
}

TEST(OggConvertTest, EachConverterTakesOnlyItsOwnCodec) {
    const Bytes vorbis = velk::sound::EncodeVorbis(Tone(1, 2000), 1, 44100);
    const Bytes opus = velk::sound::EncodeOpus(Tone(1, 2000), 1, 48000);
    const int onlyVorbis = 0x7F & ~kSkipVorbis;
    const int onlyOpus = 0x7F & ~kSkipOpus;
    MemoryConversion a(opus), b(vorbis), c(vorbis), d(opus);
    EXPECT_EQ(a.Begin(onlyVorbis), -1);
    EXPECT_EQ(b.Begin(onlyOpus), -1);
    EXPECT_EQ(c.Begin(onlyVorbis), 0);
    EXPECT_EQ(d.Begin(onlyOpus), 0);
}

TEST(OggConvertTest, CutAndDamagedFilesEndWithoutHarm) {
    const Bytes file = velk::sound::EncodeVorbis(Tone(2, 20000), 2, 44100);
    for (std::size_t keep : {file.size() / 2, file.size() - 100}) {
        Bytes cut(file.begin(), file.begin() + keep);
        MemoryConversion conv(cut);
        if (conv.Begin() != 0) continue;
        const Bytes got = conv.Whole();
        EXPECT_LE(got.size(), 80000u);
        EXPECT_EQ(got.size() % 4, 0u);
    }
    Bytes damaged = file;
    for (std::size_t i = file.size() / 3; i < file.size() / 3 + 200; ++i) damaged[i] ^= 0x5A;
    MemoryConversion conv(damaged);
    if (conv.Begin() == 0) {
        EXPECT_LE(conv.ReadAll().size(), 80000u);
    }
}

}  // namespace
}  // namespace ZiDaz
