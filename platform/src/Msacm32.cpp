// msacm32 over libmpg123: the audio compression manager with one codec, MPEG layer 3 to 16-bit PCM.
#include "platform/Msacm32.h"

#include <mpg123.h>

#include <cstring>
#include <mutex>

#include "platform/Modules.h"

namespace platform::msacm32 {

namespace {

struct AcmStream {
    mpg123_handle* decoder;
    bool wrongFormat;  // the data is not what the format said: nothing more comes out
    WAVEFORMATEX source;
    WAVEFORMATEX destination;
    DWORD frameBytes;  // the source's frame length when its format says, else 0
};

bool IsMpegRate(DWORD rate) {
    static const DWORD kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    for (DWORD r : kRates)
        if (r == rate) return true;
    return false;
}

// A source this codec takes: MPEG layer 3, mono or stereo, at an MPEG sample rate.
bool IsMpegSource(const WAVEFORMATEX* source) {
    return source != nullptr && source->wFormatTag == WAVE_FORMAT_MPEGLAYER3 &&
           (source->nChannels == 1 || source->nChannels == 2) && IsMpegRate(source->nSamplesPerSec);
}

void FillPcmFor(const WAVEFORMATEX& source, WAVEFORMATEX* pcm, bool withExtraSize) {
    pcm->wFormatTag = WAVE_FORMAT_PCM;
    pcm->nChannels = source.nChannels;
    pcm->nSamplesPerSec = source.nSamplesPerSec;
    pcm->wBitsPerSample = 16;
    pcm->nBlockAlign = static_cast<WORD>(source.nChannels * 2);
    pcm->nAvgBytesPerSec = pcm->nBlockAlign * source.nSamplesPerSec;
    if (withExtraSize) pcm->cbSize = 0;
}

DWORD SamplesPerFrame(DWORD rate) {
    return rate >= 32000 ? 1152 : 576;
}

void InitDecoderLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

}  // namespace

MMRESULT acmFormatSuggest(HACMDRIVER, WAVEFORMATEX* source, WAVEFORMATEX* destination,
                          DWORD destinationBytes, DWORD flags) {
    if (source == nullptr || destination == nullptr || destinationBytes < 16)
        return MMSYSERR_INVALPARAM;
    if (!IsMpegSource(source)) return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && destination->wFormatTag != WAVE_FORMAT_PCM)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_NCHANNELS) && destination->nChannels != source->nChannels)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) &&
        destination->nSamplesPerSec != source->nSamplesPerSec)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && destination->wBitsPerSample != 16)
        return ACMERR_NOTPOSSIBLE;
    FillPcmFor(*source, destination, destinationBytes >= sizeof(WAVEFORMATEX));
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER, WAVEFORMATEX* source,
                       WAVEFORMATEX* destination, WAVEFILTER* filter, DWORD_PTR, DWORD_PTR,
                       DWORD flags) {
    if (source == nullptr || destination == nullptr) return MMSYSERR_INVALPARAM;
    if (!(flags & ACM_STREAMOPENF_QUERY) && stream == nullptr) return MMSYSERR_INVALPARAM;
    if (stream) *stream = nullptr;
    if (filter != nullptr || !IsMpegSource(source)) return ACMERR_NOTPOSSIBLE;
    WAVEFORMATEX expected{};
    FillPcmFor(*source, &expected, false);
    if (destination->wFormatTag != WAVE_FORMAT_PCM || destination->wBitsPerSample != 16 ||
        destination->nChannels != expected.nChannels ||
        destination->nSamplesPerSec != expected.nSamplesPerSec ||
        destination->nBlockAlign != expected.nBlockAlign)
        return ACMERR_NOTPOSSIBLE;
    if (flags & ACM_STREAMOPENF_QUERY) return MMSYSERR_NOERROR;

    InitDecoderLibrary();
    int error = MPG123_OK;
    mpg123_handle* decoder = mpg123_new(nullptr, &error);
    if (decoder == nullptr) return MMSYSERR_NOMEM;
    // Every frame yields its own samples: no gapless trimming, the info frame decoded as audio,
    // and the output always in the suggested layout.
    long decoderFlags = MPG123_QUIET | MPG123_IGNORE_INFOFRAME |
                        (source->nChannels == 1 ? MPG123_MONO_MIX : MPG123_FORCE_STEREO);
    // Every rate is allowed here and checked when the decoder meets the data: a rate the decoder
    // could not output would make it complain on the standard error.
    bool ready = mpg123_param(decoder, MPG123_FLAGS, decoderFlags, 0) == MPG123_OK &&
                 mpg123_format_none(decoder) == MPG123_OK;
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; ready && i < rateCount; ++i) {
        ready =
            mpg123_format(decoder, rates[i], source->nChannels == 1 ? MPG123_MONO : MPG123_STEREO,
                          MPG123_ENC_SIGNED_16) == MPG123_OK;
    }
    if (!ready || mpg123_open_feed(decoder) != MPG123_OK) {
        mpg123_delete(decoder);
        return MMSYSERR_NOMEM;
    }
    auto* s = new AcmStream{};
    s->decoder = decoder;
    s->source = *source;
    s->destination = expected;
    if (source->cbSize >= 12) {
        MPEGLAYER3WAVEFORMAT mp3;
        std::memcpy(&mp3, source, sizeof(mp3));
        s->frameBytes = mp3.nBlockSize;
    }
    *stream = reinterpret_cast<HACMSTREAM>(s);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM stream, DWORD) {
    if (stream == nullptr) return MMSYSERR_INVALHANDLE;
    auto* s = reinterpret_cast<AcmStream*>(stream);
    mpg123_delete(s->decoder);
    delete s;
    return MMSYSERR_NOERROR;
}

MMRESULT acmMetrics(HACMOBJ, UINT metric, LPVOID value) {
    if (value == nullptr) return MMSYSERR_INVALPARAM;
    if (metric != ACM_METRIC_MAX_SIZE_FORMAT) return MMSYSERR_NOTSUPPORTED;
    *static_cast<DWORD*>(value) = 32;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags) {
    if (stream == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || header->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
    if (flags != 0) return MMSYSERR_INVALFLAG;
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags) {
    if (stream == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || header->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
    if (flags != 0) return MMSYSERR_INVALFLAG;
    if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD) {
    if (stream == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || header->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
    if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    auto* s = reinterpret_cast<AcmStream*>(stream);
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    header->cbSrcLengthUsed = 0;
    header->cbDstLengthUsed = 0;
    if (header->cbSrcLength > 0) {
        if (header->pbSrc == nullptr) return MMSYSERR_INVALPARAM;
        if (mpg123_feed(s->decoder, header->pbSrc, header->cbSrcLength) != MPG123_OK)
            return MMSYSERR_NOMEM;
    }
    header->cbSrcLengthUsed = header->cbSrcLength;
    // Whole sample frames only; what is decoded but does not fit stays in the decoder.
    std::size_t room = header->cbDstLength - header->cbDstLength % s->destination.nBlockAlign;
    std::size_t produced = 0;
    int idle = 0;
    while (!s->wrongFormat && produced < room && header->pbDst != nullptr) {
        std::size_t done = 0;
        int result = mpg123_read(s->decoder, header->pbDst + produced, room - produced, &done);
        produced += done;
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(s->decoder, &rate, &channels, &encoding);
            s->wrongFormat = rate != static_cast<long>(s->destination.nSamplesPerSec) ||
                             channels != s->destination.nChannels ||
                             encoding != MPG123_ENC_SIGNED_16;
            continue;
        }
        if (result != MPG123_OK) break;  // needs more data, or a frame it cannot decode
        if (done == 0 && ++idle > 2) break;
    }
    header->cbDstLengthUsed = static_cast<DWORD>(produced);
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input, LPDWORD output, DWORD flags) {
    if (stream == nullptr) return MMSYSERR_INVALHANDLE;
    if (output == nullptr) return MMSYSERR_INVALPARAM;
    auto* s = reinterpret_cast<AcmStream*>(stream);
    const std::uint64_t rate = s->source.nSamplesPerSec;
    const std::uint64_t frameSamples = SamplesPerFrame(s->source.nSamplesPerSec);
    // The frame length the format names, else the one its byte rate gives.
    std::uint64_t frameBytes = s->frameBytes;
    if (frameBytes == 0) frameBytes = s->source.nAvgBytesPerSec * frameSamples / rate;
    if (frameBytes < 24) frameBytes = 24;  // the shortest MPEG layer-3 frame
    const std::uint64_t frameOutput = frameSamples * s->destination.nBlockAlign;
    std::uint64_t result;
    if ((flags & ACM_STREAMSIZEF_DESTINATION) == 0) {
        // At most one frame begins in every frame length of source, plus one cut by the start.
        result = (input / frameBytes + 1) * frameOutput;
    } else {
        result = (input + frameOutput - 1) / frameOutput * frameBytes;
    }
    if (result > 0xFFFFFFFFu) return ACMERR_NOTPOSSIBLE;
    *output = static_cast<DWORD>(result);
    return MMSYSERR_NOERROR;
}

namespace {
const ModuleExports kExports("msacm32.dll",
                             {{"acmFormatSuggest", Export(&acmFormatSuggest)},
                              {"acmStreamOpen", Export(&acmStreamOpen)},
                              {"acmStreamClose", Export(&acmStreamClose)},
                              {"acmMetrics", Export(&acmMetrics)},
                              {"acmStreamPrepareHeader", Export(&acmStreamPrepareHeader)},
                              {"acmStreamConvert", Export(&acmStreamConvert)},
                              {"acmStreamUnprepareHeader", Export(&acmStreamUnprepareHeader)},
                              {"acmStreamSize", Export(&acmStreamSize)}});
}  // namespace

}  // namespace platform::msacm32
