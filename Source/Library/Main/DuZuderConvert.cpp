#include "Main/DuZuderConvert.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "Main/DxMemory.h"
#include "Main/DxUseCLibOgg.h"
#include "Main/Windows/DuZuderConvertWin.h"

namespace ZiDaz {

namespace {

// Set by the library's start once the platform's codecs are bound.
int gPlatformDecodersStarted = 0;

// A whole conversion of a decoded kind takes the size the file claims at once when the file could
// hold that much sound (no codec packs more than this many output bytes into one byte of file),
// else starts smaller and grows its buffer as the bytes come: a damaged file claiming a huge
// length then costs nothing.
constexpr std::int64_t kMostOutputPerFileByte = 256;
constexpr std::int64_t kWholeConversionFirstBytes = 1 << 20;

// A fill that keeps producing nothing is taken for the end after this many calls.
constexpr int kEmptyFillLimit = 64;

std::uint32_t ReadU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t ReadU64(const unsigned char* p) {
    return ReadU32(p) | (static_cast<std::uint64_t>(ReadU32(p + 4)) << 32);
}

bool IdIs(const unsigned char* id, const char* text) {
    return std::memcmp(id, text, 4) == 0;
}

struct ChunkHeader {
    unsigned char id[4];
    std::uint32_t size;
};

bool ReadChunkHeader(const StreamReaderBinding& b, ChunkHeader* header) {
    unsigned char bytes[8];
    if (BindingReadBytes(b, bytes, 8) != 8) return false;
    std::memcpy(header->id, bytes, 4);
    header->size = ReadU32(bytes + 4);
    return true;
}

// Skips a chunk's data and its pad byte; the header has been read.
void SkipChunkData(const StreamReaderBinding& b, std::uint64_t size) {
    constexpr std::uint64_t kFar = std::uint64_t{1} << 62;  // beyond any stream; no overflow
    if (size > kFar) size = kFar;
    BindingSeek(b, static_cast<std::int64_t>(size + (size & 1)), 1);
}

// Skips chunks until one with the id; false when the stream ends first.
bool FindChunk(const StreamReaderBinding& b, const char* id, ChunkHeader* header) {
    while (ReadChunkHeader(b, header)) {
        if (IdIs(header->id, id)) return true;
        SkipChunkData(b, header->size);
    }
    return false;
}

// The loop of the first "smpl" chunk's first loop record; false when the chunk has no record.
bool ReadSampleLoop(const StreamReaderBinding& b, std::uint32_t size, std::int64_t streamLength,
                    std::int64_t* start, std::int64_t* end) {
    // A chunk the stream does not hold whole is not read.
    if (size < 60 || size > streamLength - BindingTell(b)) return false;
    unsigned char bytes[60];
    if (BindingReadBytes(b, bytes, 60) != 60) return false;
    *start = ReadU32(bytes + 44);
    *end = ReadU32(bytes + 48);
    return true;
}

std::int16_t FloatToSample(float value) {
    if (std::isnan(value)) return 0;
    double scaled = static_cast<double>(value) * 32768.0;
    if (scaled >= 32767.0) return 32767;
    if (scaled <= -32768.0) return -32768;
    return static_cast<std::int16_t>(scaled);  // truncation toward zero
}

int FillKind(SoundConvertState* state) {
    switch (state->kind) {
        case SoundConvertWave:
            return FillWaveBlock(state);
        case SoundConvertVorbis:
            return FillVorbisBlock(state);
        case SoundConvertOpus:
            return FillOpusBlock(state);
        default:
            return FillPlatformBlock(state);
    }
}

int SeekKind(SoundConvertState* state, std::int64_t sample) {
    switch (state->kind) {
        case SoundConvertWave:
            return SeekWaveConversion(state, sample);
        case SoundConvertVorbis:
            return SeekVorbisConversion(state, sample);
        case SoundConvertOpus:
            return SeekOpusConversion(state, sample);
        default:
            return SeekPlatformConversion(state, sample);
    }
}

void CloseKind(SoundConvertState* state) {
    switch (state->kind) {
        case SoundConvertWave: {
            WaveConvertData* wave = ConverterArea<WaveConvertData>(state);
            DX_FREE(wave->floatBuffer);
            wave->floatBuffer = nullptr;
            break;
        }
        case SoundConvertVorbis:
            CloseVorbisConversion(state);
            break;
        case SoundConvertOpus:
            CloseOpusConversion(state);
            break;
        default:
            ClosePlatformConversion(state);
            break;
    }
}

// Sample positions come from callers and from damaged files: keep them where byte offsets of
// any block align stay representable.
std::int64_t SaneSample(std::int64_t sample) {
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 65536 / 2;
    if (sample < 0) return 0;
    return sample > kLimit ? kLimit : sample;
}

}  // namespace

// ============================================================================================
// Stream helpers
// ============================================================================================

std::int64_t BindingTell(const StreamReaderBinding& binding) {
    return binding.ops.Tell(binding.stream);
}

int BindingSeek(const StreamReaderBinding& binding, std::int64_t offset, int origin) {
    return binding.ops.Seek(binding.stream, offset, origin);
}

std::size_t BindingReadBytes(const StreamReaderBinding& binding, void* buffer, std::size_t bytes) {
    if (bytes == 0) return 0;
    return binding.ops.Read(buffer, 1, bytes, binding.stream);
}

std::int64_t BindingLength(const StreamReaderBinding& binding) {
    std::int64_t here = BindingTell(binding);
    BindingSeek(binding, 0, 2);
    std::int64_t length = BindingTell(binding);
    BindingSeek(binding, here, 0);
    return length;
}

// ============================================================================================
// Front end
// ============================================================================================

int BeginSoundConversion(SoundConvertState* state, const StreamReaderBinding* binding, int skipMask,
                         int vorbisSampleWidth, int movieFlag) {
    if (state == nullptr || binding == nullptr || state->open) return -1;
    // 1.
    state->vorbisSampleWidth = vorbisSampleWidth;
    state->movieFlag = movieFlag;
    state->binding = *binding;
    state->loopPoint = 0;
    state->blockBuffer = nullptr;
    // 2.-6.
    const StreamReaderBinding& b = state->binding;
    BindingSeek(b, 0, 0);
    bool opened = false;
    if (!(skipMask & kSkipWave)) {
        opened = OpenWaveConversion(state) == 0;
        if (!opened) BindingSeek(b, 0, 0);
    }
    if (!opened && !(skipMask & kSkipVorbis)) {
        opened = OpenVorbisConversion(state) == 0;
        if (!opened) BindingSeek(b, 0, 0);
    }
    if (!opened && !(skipMask & kSkipOpus)) {
        opened = OpenOpusConversion(state) == 0;
        if (!opened) BindingSeek(b, 0, 0);
    }
    if (!opened && OpenPlatformConversion(state, &state->binding, skipMask) != 0) return -1;
    // 7.
    state->open = 0;
    state->endReached = 0;
    if (state->blockSize > 0)
        state->blockBuffer = static_cast<unsigned char*>(DX_ALLOC(state->blockSize));
    if (state->blockBuffer == nullptr) {
        CloseKind(state);
        return -1;
    }
    // 8.
    state->blockBytesLeft = 0;
    state->blockReadOffset = 0;
    state->outputPosition = 0;
    state->open = 1;
    return 0;
}

std::size_t ReadConvertedSound(SoundConvertState* state, void* destination, std::size_t count) {
    if (state == nullptr || !state->open || state->endReached || count == 0) return 0;
    auto* out = static_cast<unsigned char*>(destination);
    std::size_t handedOut = 0;
    int emptyFills = 0;
    while (count > 0) {
        if (state->blockBytesLeft <= 0) {
            state->blockBytesLeft = 0;
            state->blockReadOffset = 0;
            if (FillKind(state) == -1 || ++emptyFills > kEmptyFillLimit) {
                state->endReached = 1;
                return handedOut;
            }
            if (state->blockBytesLeft > 0) emptyFills = 0;
            continue;
        }
        std::size_t n = static_cast<std::size_t>(state->blockBytesLeft);
        if (n > count) n = count;
        std::memcpy(out + handedOut, state->blockBuffer + state->blockReadOffset, n);
        state->blockBytesLeft -= static_cast<std::int64_t>(n);
        state->blockReadOffset += static_cast<std::int64_t>(n);
        state->outputPosition += static_cast<std::int64_t>(n);
        handedOut += n;
        count -= n;
    }
    return handedOut;
}

int SeekSoundConversion(SoundConvertState* state, std::int64_t sample) {
    if (state == nullptr || !state->open) return -1;
    sample = SaneSample(sample);
    std::int64_t target = static_cast<std::int64_t>(state->outputFormat.blockAlign) * sample;
    std::int64_t distance = target - state->outputPosition;
    if (distance > -16 && distance < 16) return 0;
    int result = SeekKind(state, sample);
    state->endReached = 0;
    return result;
}

int SetSoundConversionLoopPoint(SoundConvertState* state, std::int64_t sample) {
    state->loopPoint =
        static_cast<std::int64_t>(state->outputFormat.blockAlign) * SaneSample(sample);
    return 0;
}

std::int64_t GetConvertedSoundSize(SoundConvertState* state) {
    switch (state->kind) {
        case SoundConvertWave:
            return GetWaveConvertedSize(state);
        case SoundConvertVorbis:
            return GetVorbisConvertedSize(state);
        case SoundConvertOpus:
            return GetOpusConvertedSize(state);
        case SoundConvertAcm:
        case SoundConvertDirectShowMp3:
        case SoundConvertMediaFoundation:
            return GetPlatformConvertedSize(state);
        default:
            return 0;
    }
}

int GetSoundConversionFormat(SoundConvertState* state, SoundFormat* format) {
    *format = state->outputFormat;
    return 0;
}

int IsSoundConversionAtEnd(SoundConvertState* state) {
    return state->endReached;
}

int GetSoundConversionLoopArea(SoundConvertState* state, std::int64_t* start, std::int64_t* end) {
    if (start) *start = -1;
    if (end) *end = -1;
    if (state->kind == SoundConvertWave) {
        const WaveConvertData* wave = ConverterArea<WaveConvertData>(state);
        if (wave->loopStart < 0 || wave->loopEnd < 0) return -1;
        if (start) *start = wave->loopStart;
        if (end) *end = wave->loopEnd;
        return 0;
    }
    if (state->kind == SoundConvertVorbis) return GetVorbisLoopArea(state, start, end);
    return -1;
}

int ConvertWholeSound(SoundConvertState* state, SoundFormat* format, void** buffer,
                      std::uint32_t* count) {
    if (state == nullptr || !state->open) return -1;
    // 1.
    std::int64_t size = GetConvertedSoundSize(state);
    if (size < 0 || size > 0xFFFFFFFF) return -1;
    // 2. Always carried out: a seek dropped for being near would leave the first bytes out.
    SeekKind(state, 0);
    state->endReached = 0;
    const WaveConvertData* wave = ConverterArea<WaveConvertData>(state);
    unsigned char* out = nullptr;
    std::size_t got = 0;
    if (state->kind == SoundConvertWave && wave->fileFormat.formatTag == kSoundFormatPcm) {
        // 3. PCM straight from the stream; a cut stream gives the whole frames it holds.
        out = static_cast<unsigned char*>(DX_ALLOC(static_cast<std::size_t>(size)));
        if (out == nullptr) return -1;
        got = BindingReadBytes(state->binding, out, static_cast<std::size_t>(size));
        got -= got % state->outputFormat.blockAlign;
    } else {
        std::int64_t plausible = BindingLength(state->binding) * kMostOutputPerFileByte;
        if (plausible < kWholeConversionFirstBytes) plausible = kWholeConversionFirstBytes;
        std::size_t capacity = static_cast<std::size_t>(size < plausible ? size : plausible);
        out = static_cast<unsigned char*>(DX_ALLOC(capacity));
        if (out == nullptr) return -1;
        for (;;) {
            got += ReadConvertedSound(state, out + got, capacity - got);
            if (got < capacity || capacity == static_cast<std::size_t>(size)) break;
            std::size_t grown = capacity * 2;
            if (grown > static_cast<std::size_t>(size)) grown = static_cast<std::size_t>(size);
            auto* bigger = static_cast<unsigned char*>(DX_REALLOC(out, grown));
            if (bigger == nullptr) {
                DX_FREE(out);
                return -1;
            }
            out = bigger;
            capacity = grown;
        }
    }
    // 4.
    if (format) *format = state->outputFormat;
    *buffer = out;
    *count = static_cast<std::uint32_t>(got);
    return 0;
}

int EndSoundConversion(SoundConvertState* state) {
    if (state == nullptr || !state->open) return -1;
    DX_FREE(state->blockBuffer);
    state->blockBuffer = nullptr;
    CloseKind(state);
    state->open = 0;
    return 0;
}

int StartPlatformSoundDecoders() {
    if (gPlatformDecodersStarted) return -1;
    if (LoadAcmEntryPoints() != 0) return -1;
    gPlatformDecodersStarted = 1;
    return 0;
}

int EndPlatformSoundDecoders() {
    if (!gPlatformDecodersStarted) return -1;
    UnloadAcmEntryPoints();
    gPlatformDecodersStarted = 0;
    return 0;
}

int ArePlatformSoundDecodersStarted() {
    return gPlatformDecodersStarted;
}

// ============================================================================================
// WAVE
// ============================================================================================

int OpenWaveConversion(SoundConvertState* state) {
    const StreamReaderBinding& b = state->binding;
    WaveConvertData* wave = ConverterArea<WaveConvertData>(state);
    // 1.
    std::memset(state->converterArea, 0, sizeof(state->converterArea));
    wave->loopStart = -1;
    wave->loopEnd = -1;
    const std::int64_t streamLength = BindingLength(b);
    // 2, 3.
    unsigned char head[12];
    if (BindingReadBytes(b, head, 12) != 12) return -1;
    bool rf64;
    if (IdIs(head, "RIFF")) {
        rf64 = false;
    } else if (IdIs(head, "RF64")) {
        rf64 = true;
    } else {
        return -1;
    }
    if (!IdIs(head + 8, "WAVE")) return -1;
    const std::int64_t firstChunk = BindingTell(b);
    // 4. The ds64 chunk is skipped by its own size: a table may follow its fixed fields.
    ChunkHeader chunk;
    std::uint64_t ds64DataSize = 0;
    if (rf64) {
        if (!FindChunk(b, "ds64", &chunk) || chunk.size < 16) return -1;
        unsigned char fields[16];
        if (BindingReadBytes(b, fields, 16) != 16) return -1;
        ds64DataSize = ReadU64(fields + 8);
        BindingSeek(b, static_cast<std::int64_t>(chunk.size - 16ull + (chunk.size & 1)), 1);
    }
    // 5.
    if (!FindChunk(b, "fmt ", &chunk)) return -1;
    // 6. A format chunk must hold the 16 bytes of its fields, and fit in the stream.
    if (chunk.size < 16 || chunk.size > streamLength - BindingTell(b)) return -1;
    unsigned char formatBytes[18] = {};
    const std::uint32_t kept = chunk.size < 18 ? chunk.size : 18;
    if (BindingReadBytes(b, formatBytes, kept) != kept) return -1;
    BindingSeek(b, static_cast<std::int64_t>(chunk.size - kept + (chunk.size & 1)), 1);
    std::memset(&state->outputFormat, 0, sizeof(state->outputFormat));
    SoundFormat file{};
    std::memcpy(&file, formatBytes, kept);
    // 7. Refused: no channels, no frame, no rate, or a byte rate beyond the format's field.
    const std::uint64_t byteRate = static_cast<std::uint64_t>(file.blockAlign) * file.samplesPerSec;
    if (file.channels == 0 || file.blockAlign == 0 || file.samplesPerSec == 0 ||
        byteRate > 0xFFFFFFFFu)
        return -1;
    SoundFormat& out = state->outputFormat;
    if (file.formatTag == kSoundFormatPcm) {
        out = file;
        if (chunk.size == 16) {
            out.bitsPerSample = static_cast<std::uint16_t>(file.blockAlign / file.channels * 8);
            out.extraSize = 0;
        }
        out.avgBytesPerSec = static_cast<std::uint32_t>(byteRate);
    } else if (file.formatTag == kSoundFormatFloat) {
        // Only 32-bit floats are decoded, one per channel in every frame.
        if (file.bitsPerSample != 32 || file.blockAlign < file.channels * 4u) return -1;
        out.formatTag = kSoundFormatPcm;
        out.channels = file.channels;
        out.samplesPerSec = file.samplesPerSec;
        out.bitsPerSample = 16;
        out.blockAlign = static_cast<std::uint16_t>(file.channels * 2);
        out.avgBytesPerSec = static_cast<std::uint32_t>(out.blockAlign) * file.samplesPerSec;
        out.extraSize = 0;
    } else {
        return -1;
    }
    // 8.
    wave->fileFormat = file;
    // 9.
    if (!FindChunk(b, "data", &chunk)) return -1;
    state->dataStart = BindingTell(b);
    // 10. Whole frames of what the chunk claims and the stream really holds.
    const std::uint64_t claimed = rf64 ? ds64DataSize : chunk.size;
    std::uint64_t held = streamLength > state->dataStart
                             ? static_cast<std::uint64_t>(streamLength - state->dataStart)
                             : 0;
    std::uint64_t dataSize = claimed < held ? claimed : held;
    dataSize -= dataSize % file.blockAlign;
    state->dataSize = static_cast<std::int64_t>(dataSize);
    // 11. One second, but never more than the data and never less than a frame.
    if (file.formatTag == kSoundFormatPcm) {
        std::uint64_t block = out.avgBytesPerSec;
        if (block > dataSize) block = dataSize;
        block -= block % out.blockAlign;
        if (block < out.blockAlign) block = out.blockAlign;
        state->blockSize = static_cast<std::int64_t>(block);
    } else {
        std::uint64_t frames = file.samplesPerSec;
        if (frames > dataSize / file.blockAlign) frames = dataSize / file.blockAlign;
        if (frames == 0) frames = 1;
        wave->floatBufferSize = static_cast<std::int64_t>(frames * file.blockAlign);
        wave->floatBuffer = static_cast<unsigned char*>(DX_ALLOC(wave->floatBufferSize));
        if (wave->floatBuffer == nullptr) return -1;
        state->blockSize = static_cast<std::int64_t>(frames * out.blockAlign);
    }
    // 12. The loop: a "smpl" chunk after the data first, then one before it.
    SkipChunkData(b, claimed);
    bool found = false;
    while (!found && ReadChunkHeader(b, &chunk)) {
        if (IdIs(chunk.id, "smpl")) {
            found = true;
        } else if (rf64 && IdIs(chunk.id, "data")) {
            SkipChunkData(b, ds64DataSize);
        } else {
            SkipChunkData(b, chunk.size);
        }
    }
    if (!found) {
        BindingSeek(b, firstChunk, 0);
        while (BindingTell(b) < state->dataStart && ReadChunkHeader(b, &chunk)) {
            if (IdIs(chunk.id, "smpl")) {
                found = true;
                break;
            }
            SkipChunkData(b, chunk.size);
        }
    }
    if (found) ReadSampleLoop(b, chunk.size, streamLength, &wave->loopStart, &wave->loopEnd);
    // 13.
    BindingSeek(b, state->dataStart, 0);
    state->kind = SoundConvertWave;
    return 0;
}

int FillWaveBlock(SoundConvertState* state) {
    WaveConvertData* wave = ConverterArea<WaveConvertData>(state);
    const StreamReaderBinding& b = state->binding;
    const std::int64_t at = BindingTell(b) - state->dataStart;
    const std::int64_t left = state->dataSize - at;
    if (left <= 0 || at < 0) return -1;
    const std::uint32_t frameBytes = wave->fileFormat.blockAlign;
    const bool isFloat = wave->floatBuffer != nullptr;
    std::int64_t n = isFloat ? wave->floatBufferSize : state->blockSize;
    if (n > left) n = left;
    unsigned char* into = isFloat ? wave->floatBuffer : state->blockBuffer;
    const std::size_t got = BindingReadBytes(b, into, static_cast<std::size_t>(n));
    const std::size_t whole = got - got % frameBytes;
    // A stream that gives less than its data claims ends after the last whole frame it gave.
    if (got < static_cast<std::size_t>(n)) state->dataSize = at + static_cast<std::int64_t>(whole);
    if (whole == 0) return -1;
    if (!isFloat) {
        state->blockBytesLeft = static_cast<std::int64_t>(whole);
        return 0;
    }
    const std::size_t frames = whole / frameBytes;
    const int channels = wave->fileFormat.channels;
    auto* samples = reinterpret_cast<std::int16_t*>(state->blockBuffer);
    for (std::size_t f = 0; f < frames; ++f) {
        const unsigned char* frame = wave->floatBuffer + f * frameBytes;
        for (int c = 0; c < channels; ++c) {
            std::uint32_t bits = ReadU32(frame + c * 4);
            float value;
            std::memcpy(&value, &bits, 4);
            std::int16_t sample = FloatToSample(value);
            std::memcpy(samples + f * channels + c, &sample, 2);
        }
    }
    state->blockBytesLeft = static_cast<std::int64_t>(frames * state->outputFormat.blockAlign);
    return 0;
}

int SeekWaveConversion(SoundConvertState* state, std::int64_t sample) {
    const WaveConvertData* wave = ConverterArea<WaveConvertData>(state);
    sample = SaneSample(sample);
    // The stream never goes outside the data, whatever sample is asked for.
    const std::int64_t frames = state->dataSize / wave->fileFormat.blockAlign;
    const std::int64_t within = sample < frames ? sample : frames;
    BindingSeek(state->binding, state->dataStart + wave->fileFormat.blockAlign * within, 0);
    state->outputPosition = static_cast<std::int64_t>(state->outputFormat.blockAlign) * sample;
    state->blockBytesLeft = 0;
    state->blockReadOffset = 0;
    return 0;
}

std::int64_t GetWaveConvertedSize(SoundConvertState* state) {
    const WaveConvertData* wave = ConverterArea<WaveConvertData>(state);
    if (wave->fileFormat.formatTag == kSoundFormatPcm) return state->dataSize;
    if (wave->fileFormat.formatTag == kSoundFormatFloat)
        return state->dataSize / wave->fileFormat.blockAlign * state->outputFormat.blockAlign;
    return -1;
}

}  // namespace ZiDaz
