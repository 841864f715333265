// Writers of sound files for fixtures and benchmarks: WAVE files (RIFF and RF64; PCM of 8, 16, 24
// and 32 bits, 32-bit float, the extensible format; odd-sized chunks, "smpl" and "bext" chunks),
// and Ogg Vorbis, Ogg Opus and MP3 files encoded with libvorbisenc, libopusenc and LAME, with
// the ID3 tags an MP3 may carry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velk::sound {

using Bytes = std::vector<std::uint8_t>;

struct WaveChunk {
    std::string id;  // four characters
    Bytes data;      // an odd size is followed by a pad byte
};

struct WaveSpec {
    bool rf64 = false;
    std::uint16_t formatTag = 1;  // 1 PCM, 3 IEEE float, 0xFFFE extensible
    std::uint16_t channels = 2;
    std::uint32_t sampleRate = 44100;
    std::uint16_t bitsPerSample = 16;
    // 16, 18, or 40 (the extensible layout); other sizes are padded with zeros or cut.
    std::uint32_t formatChunkSize = 16;
    // Fields written as given instead of derived from the others.
    std::optional<std::uint16_t> blockAlign;
    std::optional<std::uint32_t> avgBytesPerSec;
    std::optional<std::uint16_t> extraSize;
    // Chunks placed before the format chunk, between it and "data", and after "data".
    std::vector<WaveChunk> beforeFormat;
    std::vector<WaveChunk> beforeData;
    std::vector<WaveChunk> afterData;
    // The data size the file states (RIFF: the chunk's field; RF64: the ds64 field), when it
    // should differ from the real one.
    std::optional<std::uint64_t> statedDataSize;
    // RF64: bytes of chunk-size table after the ds64 chunk's fixed 28 bytes.
    std::uint32_t ds64TableBytes = 0;
};

// A whole WAVE file around the data bytes.
Bytes WriteWave(const WaveSpec& spec, const Bytes& data);

// Interleaved integer samples as little-endian PCM of 8 (unsigned), 16, 24 or 32 bits.
Bytes PcmBytes(const std::vector<std::int32_t>& samples, int bits);
Bytes PcmBytes16(const std::vector<std::int16_t>& samples);
Bytes FloatBytes(const std::vector<float>& samples);

// A "smpl" chunk with one loop record (60 bytes), or only its first bytes when cut short.
WaveChunk SampleLoopChunk(std::uint32_t loopStart, std::uint32_t loopEnd,
                          std::uint32_t keepBytes = 60);
// A "bext" chunk of the given size (a broadcast-extension description padded with zeros).
WaveChunk BroadcastChunk(std::uint32_t size);

// Interleaved 16-bit test signals.
std::vector<std::int16_t> SineWave(int channels, int rate, double frequency, double amplitude,
                                   std::size_t frames);
// Left: i & 0x7FFF, right: i >> 15 (a position marker that survives lossless paths).
std::vector<std::int16_t> RampWave(int channels, std::size_t frames);

// Ogg Vorbis from interleaved 16-bit samples, with "NAME=value" comments.
Bytes EncodeVorbis(const std::vector<std::int16_t>& samples, int channels, int rate,
                   const std::vector<std::string>& comments = {}, float quality = 0.3f);
// Ogg Opus; the input rate is recorded in the header and the audio resampled to 48 kHz.
Bytes EncodeOpus(const std::vector<std::int16_t>& samples, int channels, int inputRate,
                 int bitRate = 96000);

struct Mp3Options {
    int bitRate = 128;  // kbit/s (CBR), or the mean for ABR
    bool vbr = false;
    bool infoFrame = false;  // the LAME/Xing info frame at the start
    bool id3v1 = false;      // a 128-byte "TAG" block at the end
    // An ID3v2 tag at the start: its size field (0 for none), version 3 or 4, a footer (v4).
    std::uint32_t id3v2Size = 0;
    int id3v2Version = 3;
    bool id3v2Footer = false;
};
Bytes EncodeMp3(const std::vector<std::int16_t>& samples, int channels, int rate,
                const Mp3Options& options = {});

Bytes Id3v2Tag(std::uint32_t size, int version, bool footer);
Bytes Id3v1Tag();

}  // namespace velk::sound
