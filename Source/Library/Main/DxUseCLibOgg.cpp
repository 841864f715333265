#include "Main/DxUseCLibOgg.h"

#include <opusfile.h>
#include <vorbis/vorbisfile.h>

#include <cstring>
#include <limits>

#include "Main/DxChar.h"

namespace ZiDaz {

namespace {

struct VorbisConvertData {
    std::int32_t open;
    OggVorbis_File file;
    std::int32_t sampleWidth;
    std::int64_t loopStart;
    std::int64_t loopEnd;
};

struct OpusConvertData {
    std::int32_t open;
    OggOpusFile* file;
    std::int32_t bytesPerFrame;
};

// A converted size that stays meaningful when a damaged file claims an absurd sample count.
std::int64_t BytesOfSamples(std::int64_t samples, std::int64_t bytesPerSample) {
    if (samples <= 0 || bytesPerSample <= 0) return 0;
    const std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 2;
    if (samples > limit / bytesPerSample) return limit;
    return samples * bytesPerSample;
}

StreamReaderBinding* AsBinding(void* source) {
    return static_cast<StreamReaderBinding*>(source);
}

// ---- vorbisfile callbacks --------------------------------------------------------------------

std::size_t VorbisReadCallback(void* buffer, std::size_t size, std::size_t count, void* source) {
    StreamReaderBinding* b = AsBinding(source);
    if (b == nullptr) return static_cast<std::size_t>(-1);
    return b->ops.Read(buffer, size, count, b->stream);
}

int StreamSeekCallback(void* source, ogg_int64_t offset, int origin) {
    StreamReaderBinding* b = AsBinding(source);
    if (b == nullptr) return -1;
    return b->ops.Seek(b->stream, offset, origin);
}

long VorbisTellCallback(void* source) {
    StreamReaderBinding* b = AsBinding(source);
    if (b == nullptr) return -1;
    return static_cast<long>(b->ops.Tell(b->stream));
}

int CloseCallback(void*) {
    return 0;  // the stream belongs to the converter's caller
}

// ---- opusfile callbacks ---------------------------------------------------------------------

int OpusReadCallback(void* source, unsigned char* buffer, int bytes) {
    StreamReaderBinding* b = AsBinding(source);
    if (b == nullptr) return -1;
    if (bytes <= 0) return 0;
    return static_cast<int>(b->ops.Read(buffer, 1, static_cast<std::size_t>(bytes), b->stream));
}

int OpusSeekCallback(void* source, opus_int64 offset, int origin) {
    return StreamSeekCallback(source, offset, origin);
}

opus_int64 OpusTellCallback(void* source) {
    StreamReaderBinding* b = AsBinding(source);
    if (b == nullptr) return -1;
    return b->ops.Tell(b->stream);
}

bool CommentNamed(const char* comment, const char* name, int length) {
    return CompareCodeStringsN(CharEncoding::Ascii, comment, name, length) == 0;
}

}  // namespace

// ============================================================================================
// Vorbis
// ============================================================================================

int OpenVorbisConversion(SoundConvertState* state) {
    VorbisConvertData* v = ConverterArea<VorbisConvertData>(state);
    std::memset(state->converterArea, 0, sizeof(state->converterArea));
    // 1.
    v->open = 0;
    const ov_callbacks callbacks = {VorbisReadCallback, StreamSeekCallback, CloseCallback,
                                    VorbisTellCallback};
    if (ov_open_callbacks(&state->binding, &v->file, nullptr, 0, callbacks) != 0) return -1;
    // 2.
    v->open = 1;
    vorbis_info* info = ov_info(&v->file, -1);
    vorbis_comment* comments = ov_comment(&v->file, -1);
    const int width = state->vorbisSampleWidth == 1 ? 1 : 2;
    const std::uint64_t blockAlign = info ? static_cast<std::uint64_t>(info->channels) * width : 0;
    if (info == nullptr || info->channels <= 0 || info->rate <= 0 || blockAlign > 0xFFFF ||
        blockAlign * static_cast<std::uint64_t>(info->rate) > 0xFFFFFFFFu) {
        CloseVorbisConversion(state);
        return -1;
    }
    // vorbisfile leaves a file with another stream multiplexed in (the sound track of a movie)
    // at its end once it has been opened; going back to the first page starts every file at its
    // first sample.
    if (ov_seekable(&v->file)) ov_raw_seek(&v->file, 0);
    // 3. Loop comments; a later one of the same name wins.
    std::int64_t loopStart = -1;
    std::int64_t loopLength = -1;
    for (int i = 0; comments != nullptr && i < comments->comments; ++i) {
        const char* text = comments->user_comments[i];
        if (text == nullptr) continue;
        if (CommentNamed(text, "LOOPSTART=", 10)) {
            loopStart = ParseCodeStringInt64(CharEncoding::Ascii, text + 10);
        } else if (CommentNamed(text, "LOOPLENGTH=", 11)) {
            loopLength = ParseCodeStringInt64(CharEncoding::Ascii, text + 11);
        }
    }
    // 4.
    v->loopStart = -1;
    v->loopEnd = -1;
    const bool lengthGiven = loopLength > 0;
    if (loopStart < 0) {
        if (lengthGiven) {
            v->loopStart = 0;
            v->loopEnd = loopLength;
        }
    } else if (!lengthGiven) {
        v->loopStart = loopStart;
        v->loopEnd = ov_pcm_total(&v->file, -1);
    } else {
        v->loopStart = loopStart;
        v->loopEnd = loopLength > std::numeric_limits<std::int64_t>::max() - loopStart
                         ? std::numeric_limits<std::int64_t>::max()
                         : loopStart + loopLength;
    }
    // 5.
    SoundFormat& out = state->outputFormat;
    out.formatTag = kSoundFormatPcm;
    out.channels = static_cast<std::uint16_t>(info->channels);
    out.samplesPerSec = static_cast<std::uint32_t>(info->rate);
    out.bitsPerSample = static_cast<std::uint16_t>(8 * width);
    out.blockAlign = static_cast<std::uint16_t>(blockAlign);
    out.avgBytesPerSec = static_cast<std::uint32_t>(blockAlign * info->rate);
    out.extraSize = 0;
    v->sampleWidth = width;
    state->blockSize = kVorbisBlockBytes;
    // 6.
    state->kind = SoundConvertVorbis;
    state->dataSize = GetVorbisConvertedSize(state);
    return 0;
}

int FillVorbisBlock(SoundConvertState* state) {
    VorbisConvertData* v = ConverterArea<VorbisConvertData>(state);
    const int width = v->sampleWidth;
    int bitstream = 0;
    long got;
    // A hole in the data is passed over; any other error ends the sound.
    do {
        got = ov_read(&v->file, reinterpret_cast<char*>(state->blockBuffer),
                      static_cast<int>(state->blockSize), 0, width, width != 1 ? 1 : 0, &bitstream);
    } while (got == OV_HOLE);
    if (got <= 0) return -1;
    state->blockBytesLeft = got;
    return 0;
}

int SeekVorbisConversion(SoundConvertState* state, std::int64_t sample) {
    VorbisConvertData* v = ConverterArea<VorbisConvertData>(state);
    state->blockBytesLeft = 0;
    state->blockReadOffset = 0;
    state->outputPosition = static_cast<std::int64_t>(state->outputFormat.blockAlign) * sample;
    if (ov_pcm_seek(&v->file, sample) == 0) return 0;
    // vorbisfile's page search refuses a file with another stream multiplexed in (the sound
    // track of a movie): start again from the top and decode up to the sample, keeping the rest
    // of the last block for the next read.
    if (ov_raw_seek(&v->file, 0) != 0) return 0;
    std::int64_t skip = static_cast<std::int64_t>(state->outputFormat.blockAlign) * sample;
    while (skip > 0) {
        if (FillVorbisBlock(state) != 0) {
            state->blockBytesLeft = 0;
            break;
        }
        if (state->blockBytesLeft > skip) {
            state->blockReadOffset = skip;
            state->blockBytesLeft -= skip;
            break;
        }
        skip -= state->blockBytesLeft;
        state->blockBytesLeft = 0;
    }
    return 0;
}

std::int64_t GetVorbisConvertedSize(SoundConvertState* state) {
    VorbisConvertData* v = ConverterArea<VorbisConvertData>(state);
    return BytesOfSamples(ov_pcm_total(&v->file, -1),
                          static_cast<std::int64_t>(v->sampleWidth) * state->outputFormat.channels);
}

int CloseVorbisConversion(SoundConvertState* state) {
    VorbisConvertData* v = ConverterArea<VorbisConvertData>(state);
    if (v->open) {
        ov_clear(&v->file);
        v->open = 0;
    }
    return 0;
}

int GetVorbisLoopArea(SoundConvertState* state, std::int64_t* start, std::int64_t* end) {
    const VorbisConvertData* v = ConverterArea<VorbisConvertData>(state);
    if (v->loopStart < 0 || v->loopEnd < 0) return -1;
    if (start) *start = v->loopStart;
    if (end) *end = v->loopEnd;
    return 0;
}

// ============================================================================================
// Opus
// ============================================================================================

int OpenOpusConversion(SoundConvertState* state) {
    OpusConvertData* o = ConverterArea<OpusConvertData>(state);
    std::memset(state->converterArea, 0, sizeof(state->converterArea));
    // 1.
    o->open = 0;
    const OpusFileCallbacks callbacks = {OpusReadCallback, OpusSeekCallback, OpusTellCallback,
                                         CloseCallback};
    int error = 0;
    o->file = op_open_callbacks(&state->binding, &callbacks, nullptr, 0, &error);
    if (o->file == nullptr) return -1;
    // 2.
    o->open = 1;
    const OpusHead* head = op_head(o->file, -1);
    if (head == nullptr || head->channel_count <= 0) {
        CloseOpusConversion(state);
        return -1;
    }
    // 3.
    SoundFormat& out = state->outputFormat;
    out.formatTag = kSoundFormatPcm;
    out.channels = static_cast<std::uint16_t>(head->channel_count);
    out.samplesPerSec = kOpusOutputRate;
    out.bitsPerSample = 16;
    out.blockAlign = static_cast<std::uint16_t>(head->channel_count * 2);
    out.avgBytesPerSec = out.blockAlign * kOpusOutputRate;
    out.extraSize = 0;
    o->bytesPerFrame = out.blockAlign;
    state->blockSize = kOpusBlockBytes;
    // 4.
    state->kind = SoundConvertOpus;
    state->dataSize = GetOpusConvertedSize(state);
    return 0;
}

int FillOpusBlock(SoundConvertState* state) {
    OpusConvertData* o = ConverterArea<OpusConvertData>(state);
    const int values = static_cast<int>(state->blockSize / o->bytesPerFrame);
    const int frames =
        op_read(o->file, reinterpret_cast<opus_int16*>(state->blockBuffer), values, nullptr);
    if (frames <= 0) return -1;  // the end, or a decoding error
    state->blockBytesLeft = static_cast<std::int64_t>(frames) * o->bytesPerFrame;
    return 0;
}

int SeekOpusConversion(SoundConvertState* state, std::int64_t sample) {
    OpusConvertData* o = ConverterArea<OpusConvertData>(state);
    op_pcm_seek(o->file, sample);
    state->blockBytesLeft = 0;
    state->blockReadOffset = 0;
    state->outputPosition = static_cast<std::int64_t>(state->outputFormat.blockAlign) * sample;
    return 0;
}

std::int64_t GetOpusConvertedSize(SoundConvertState* state) {
    OpusConvertData* o = ConverterArea<OpusConvertData>(state);
    return BytesOfSamples(op_pcm_total(o->file, -1), o->bytesPerFrame);
}

int CloseOpusConversion(SoundConvertState* state) {
    OpusConvertData* o = ConverterArea<OpusConvertData>(state);
    if (o->open) {
        op_free(o->file);
        o->file = nullptr;
        o->open = 0;
    }
    return 0;
}

}  // namespace ZiDaz
