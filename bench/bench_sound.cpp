// Whole decodes of 60 seconds of stereo music-like sound through the sound converter (begin,
// whole conversion, end, over a memory stream) against the decoding library alone on the same
// file, in the same run: Ogg Vorbis against vorbisfile, Ogg Opus against opusfile, MP3 (through
// our msacm32 over libmpg123, with the library's own frame walk) against libmpg123. Compare the
// times of each pair. The "Whole" forms use the converter's whole conversion, whose output
// buffer comes fresh from the library's allocator every time (it gives large regions back to the
// system, so their pages are touched anew); the others read into a buffer kept across
// iterations, as the libraries alone do.
#include <benchmark/benchmark.h>
#include <mpg123.h>
#include <opusfile.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "Main/DuZuderConvert.h"
#include "Main/DxFile.h"
#include "Main/DxMemory.h"
#include "tools/sound/SoundWriter.h"

namespace {

using velk::sound::Bytes;

constexpr int kSeconds = 60;

// A chord with a slow tremolo: something for the encoders to work on.
std::vector<std::int16_t> Music(int rate) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(rate) * kSeconds * 2);
    for (std::size_t i = 0; i < out.size() / 2; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double level = 0.6 + 0.4 * std::sin(2 * M_PI * 0.5 * t);
        const double l = std::sin(2 * M_PI * 220 * t) + 0.5 * std::sin(2 * M_PI * 277.2 * t) +
                         0.3 * std::sin(2 * M_PI * 329.6 * t);
        const double r = std::sin(2 * M_PI * 220.5 * t) + 0.5 * std::sin(2 * M_PI * 440 * t);
        out[i * 2] = static_cast<std::int16_t>(6000 * level * l);
        out[i * 2 + 1] = static_cast<std::int16_t>(6000 * level * r);
    }
    return out;
}

const Bytes& VorbisFile() {
    static const Bytes file = velk::sound::EncodeVorbis(Music(44100), 2, 44100, {}, 0.4f);
    return file;
}
const Bytes& OpusFile() {
    static const Bytes file = velk::sound::EncodeOpus(Music(48000), 2, 48000, 128000);
    return file;
}
const Bytes& Mp3File() {
    static const Bytes file = velk::sound::EncodeMp3(Music(44100), 2, 44100, {});
    return file;
}

// The converter's whole conversion: a buffer from the library's allocator each time.
void WholeThroughConverter(benchmark::State& state, const Bytes& file) {
    ZiDaz::StartPlatformSoundDecoders();
    std::int64_t bytes = 0;
    for (auto _ : state) {
        ZiDaz::MemoryStream* stream = ZiDaz::CreateMemoryStream(file.data(), file.size());
        ZiDaz::StreamReaderBinding binding{*ZiDaz::GetMemoryStreamAccess(), stream};
        ZiDaz::SoundConvertState conv;
        std::memset(&conv, 0, sizeof(conv));
        if (ZiDaz::BeginSoundConversion(&conv, &binding, 0, 2, 0) != 0) {
            state.SkipWithError("the converter refused the file");
            return;
        }
        ZiDaz::SoundFormat format;
        void* buffer = nullptr;
        std::uint32_t count = 0;
        ZiDaz::ConvertWholeSound(&conv, &format, &buffer, &count);
        benchmark::DoNotOptimize(buffer);
        bytes += count;
        ZiDaz::FreeTrackedMemory(buffer);
        ZiDaz::EndSoundConversion(&conv);
        ZiDaz::FreeMemoryStream(stream);
    }
    state.SetBytesProcessed(bytes);
}

// The converter read to the end into the caller's buffer, as the library alone is below: the
// same work without the cost of fresh pages for the output.
void ReadThroughConverter(benchmark::State& state, const Bytes& file) {
    ZiDaz::StartPlatformSoundDecoders();
    std::vector<unsigned char> out(48000u * 4 * (kSeconds + 1));
    std::int64_t bytes = 0;
    for (auto _ : state) {
        ZiDaz::MemoryStream* stream = ZiDaz::CreateMemoryStream(file.data(), file.size());
        ZiDaz::StreamReaderBinding binding{*ZiDaz::GetMemoryStreamAccess(), stream};
        ZiDaz::SoundConvertState conv;
        std::memset(&conv, 0, sizeof(conv));
        if (ZiDaz::BeginSoundConversion(&conv, &binding, 0, 2, 0) != 0) {
            state.SkipWithError("the converter refused the file");
            return;
        }
        const std::size_t got = ZiDaz::ReadConvertedSound(&conv, out.data(), out.size());
        benchmark::DoNotOptimize(out.data());
        bytes += static_cast<std::int64_t>(got);
        ZiDaz::EndSoundConversion(&conv);
        ZiDaz::FreeMemoryStream(stream);
    }
    state.SetBytesProcessed(bytes);
}

void BM_VorbisConverter(benchmark::State& state) {
    ReadThroughConverter(state, VorbisFile());
}
void BM_VorbisConverterWhole(benchmark::State& state) {
    WholeThroughConverter(state, VorbisFile());
}
void BM_OpusConverter(benchmark::State& state) {
    ReadThroughConverter(state, OpusFile());
}
void BM_OpusConverterWhole(benchmark::State& state) {
    WholeThroughConverter(state, OpusFile());
}
void BM_Mp3Converter(benchmark::State& state) {
    ReadThroughConverter(state, Mp3File());
}
void BM_Mp3ConverterWhole(benchmark::State& state) {
    WholeThroughConverter(state, Mp3File());
}

// vorbisfile alone: the whole file into one buffer.
void BM_VorbisfileAlone(benchmark::State& state) {
    const Bytes& file = VorbisFile();
    struct Reader {
        const Bytes* file;
        std::size_t at;
    };
    const ov_callbacks callbacks = {
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
    std::int64_t bytes = 0;
    std::vector<char> out(48000u * 4 * (kSeconds + 1));
    for (auto _ : state) {
        Reader reader{&file, 0};
        OggVorbis_File vf;
        ov_open_callbacks(&reader, &vf, nullptr, 0, callbacks);
        std::size_t at = 0;
        int section;
        long got;
        while (at < out.size() &&
               (got = ov_read(&vf, out.data() + at,
                              static_cast<int>(std::min<std::size_t>(4096, out.size() - at)), 0, 2,
                              1, &section)) > 0)
            at += static_cast<std::size_t>(got);
        benchmark::DoNotOptimize(out.data());
        bytes += static_cast<std::int64_t>(at);
        ov_clear(&vf);
    }
    state.SetBytesProcessed(bytes);
}

// opusfile alone.
void BM_OpusfileAlone(benchmark::State& state) {
    const Bytes& file = OpusFile();
    std::int64_t bytes = 0;
    std::vector<opus_int16> out(48000u * 2 * (kSeconds + 1));
    for (auto _ : state) {
        int error = 0;
        OggOpusFile* of = op_open_memory(file.data(), file.size(), &error);
        std::size_t at = 0;
        int n;
        while (at < out.size() &&
               (n = op_read(of, out.data() + at, static_cast<int>(out.size() - at), nullptr)) > 0)
            at += static_cast<std::size_t>(n) * 2;
        benchmark::DoNotOptimize(out.data());
        bytes += static_cast<std::int64_t>(at * 2);
        op_free(of);
    }
    state.SetBytesProcessed(bytes);
}

// libmpg123 alone: fed the whole file, read into one buffer.
void BM_Mpg123Alone(benchmark::State& state) {
    const Bytes& file = Mp3File();
    mpg123_init();
    std::int64_t bytes = 0;
    std::vector<unsigned char> out(44100u * 4 * (kSeconds + 1));
    for (auto _ : state) {
        mpg123_handle* mh = mpg123_new(nullptr, nullptr);
        mpg123_param(mh, MPG123_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME, 0);
        mpg123_format_none(mh);
        mpg123_format(mh, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
        mpg123_open_feed(mh);
        mpg123_feed(mh, file.data(), file.size());
        std::size_t at = 0;
        for (;;) {
            std::size_t done = 0;
            int r = mpg123_read(mh, out.data() + at, out.size() - at, &done);
            at += done;
            if (r == MPG123_NEW_FORMAT) continue;
            if (r != MPG123_OK || at == out.size()) break;
        }
        benchmark::DoNotOptimize(out.data());
        bytes += static_cast<std::int64_t>(at);
        mpg123_delete(mh);
    }
    state.SetBytesProcessed(bytes);
}

// Opening alone (the MP3 frame walk and the compressed data read into memory).
void BM_Mp3ConverterOpenOnly(benchmark::State& state) {
    const Bytes& file = Mp3File();
    ZiDaz::StartPlatformSoundDecoders();
    for (auto _ : state) {
        ZiDaz::MemoryStream* stream = ZiDaz::CreateMemoryStream(file.data(), file.size());
        ZiDaz::StreamReaderBinding binding{*ZiDaz::GetMemoryStreamAccess(), stream};
        ZiDaz::SoundConvertState conv;
        std::memset(&conv, 0, sizeof(conv));
        ZiDaz::BeginSoundConversion(&conv, &binding, 0, 2, 0);
        ZiDaz::EndSoundConversion(&conv);
        ZiDaz::FreeMemoryStream(stream);
    }
}
BENCHMARK(BM_Mp3ConverterOpenOnly)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_VorbisConverter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VorbisConverterWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VorbisfileAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpusConverter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpusConverterWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpusfileAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mp3Converter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mp3ConverterWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mpg123Alone)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
