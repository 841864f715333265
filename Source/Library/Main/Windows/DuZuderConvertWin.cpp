#include "Main/Windows/DuZuderConvertWin.h"

#include <cstring>

#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxWinAPI.h"
#include "platform/Modules.h"

namespace ZiDaz {

AcmEntryPoints AcmApi = {};

namespace {

// Each ACM step takes at most this much compressed data.
constexpr std::uint32_t kAcmStepSourceBytes = 2048;
// The look-ahead stops this many output bytes before the loop point.
constexpr std::int64_t kLookAheadMargin = 10240;
// The format block handed to ACM for MP3 when ACM cannot say its largest format.
constexpr DWORD kDefaultMaxFormatBytes = 32;

// DirectShow classes and interfaces the MP3 decode creates.
// {C1F400A4-3F08-11D3-9F0B-006008039E37}
constexpr CLSID kClsidNullRenderer = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
// {E436EBB3-524F-11CE-9F53-0020AF0BA770}
constexpr CLSID kClsidFilterGraph = {
    0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
// {56A86895-0AD4-11CE-B03A-0020AF0BA770}
constexpr IID kIidBaseFilter = {
    0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
// {56A868A9-0AD4-11CE-B03A-0020AF0BA770}
constexpr IID kIidGraphBuilder = {
    0x56A868A9, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr DWORD kClsctxInproc = 0x3;  // in-process server or handler

std::uint32_t ReadU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool AcmBound() {
    return AcmApi.module != nullptr && AcmApi.acmStreamConvert != nullptr;
}

bool ReadChunkHeader(const StreamReaderBinding& b, unsigned char id[4], std::uint32_t* size) {
    unsigned char bytes[8];
    if (BindingReadBytes(b, bytes, 8) != 8) return false;
    std::memcpy(id, bytes, 4);
    *size = ReadU32(bytes + 4);
    return true;
}

void CloseStream(HACMSTREAM* stream) {
    if (*stream != nullptr && AcmApi.acmStreamClose) AcmApi.acmStreamClose(*stream, 0);
    *stream = nullptr;
}

void ReleaseAcm(AcmConvertData* acm) {
    DX_FREE(acm->sourceFormat);
    DX_FREE(acm->scratchBuffer);
    CloseStream(&acm->mainStream);
    CloseStream(&acm->lookAheadStream);
    DX_FREE(acm->compressedData);
    acm->sourceFormat = nullptr;
    acm->scratchBuffer = nullptr;
    acm->compressedData = nullptr;
}

MMRESULT OpenStream(SoundConvertState* state, HACMSTREAM* stream) {
    AcmConvertData* acm = ConverterArea<AcmConvertData>(state);
    SoundFormat out = state->outputFormat;
    return AcmApi.acmStreamOpen(stream, nullptr, reinterpret_cast<WAVEFORMATEX*>(acm->sourceFormat),
                                reinterpret_cast<WAVEFORMATEX*>(&out), nullptr, 0, 0,
                                ACM_STREAMOPENF_NONREALTIME);
}

// The steps the compressed WAVE and MP3 opens share once the source format is known: the PCM
// format ACM suggests, the data in memory, both streams, the scratch buffer.
int FinishAcmOpen(SoundConvertState* state, std::uint64_t blockNumerator,
                  std::uint64_t blockDenominator) {
    AcmConvertData* acm = ConverterArea<AcmConvertData>(state);
    const StreamReaderBinding& b = state->binding;
    // Suggest.
    std::memset(&state->outputFormat, 0, sizeof(state->outputFormat));
    state->outputFormat.formatTag = kSoundFormatPcm;
    SoundFormat suggested = state->outputFormat;
    if (AcmApi.acmFormatSuggest(nullptr, reinterpret_cast<WAVEFORMATEX*>(acm->sourceFormat),
                                reinterpret_cast<WAVEFORMATEX*>(&suggested), sizeof(suggested),
                                ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR)
        return -1;
    state->outputFormat = suggested;
    if (suggested.blockAlign == 0 || suggested.avgBytesPerSec == 0) return -1;
    // The compressed data, bounded by what the stream holds.
    const std::int64_t length = BindingLength(b);
    if (state->dataSize > length - state->dataStart) state->dataSize = length - state->dataStart;
    if (state->dataSize <= 0 || state->dataSize > 0xFFFFFFFF) return -1;
    acm->compressedData = static_cast<unsigned char*>(DX_ALLOC(state->dataSize));
    if (acm->compressedData == nullptr) return -1;
    BindingSeek(b, state->dataStart, 0);
    acm->compressedSize = static_cast<std::uint32_t>(
        BindingReadBytes(b, acm->compressedData, static_cast<std::size_t>(state->dataSize)));
    BindingSeek(b, state->dataStart, 0);
    acm->mainConsumed = 0;
    // Streams.
    if (OpenStream(state, &acm->mainStream) != MMSYSERR_NOERROR) return -1;
    if (OpenStream(state, &acm->lookAheadStream) != MMSYSERR_NOERROR) return -1;
    // Block and scratch.
    state->blockSize =
        static_cast<std::int64_t>(suggested.avgBytesPerSec * blockNumerator / blockDenominator);
    state->blockSize -= state->blockSize % suggested.blockAlign;
    if (state->blockSize <= 0) return -1;
    acm->scratchBuffer = static_cast<unsigned char*>(DX_ALLOC(state->blockSize));
    if (acm->scratchBuffer == nullptr) return -1;
    state->kind = SoundConvertAcm;
    return 0;
}

// One conversion step on a stream: -1 when ACM refuses the header.
int AcmStep(SoundConvertState* state, HACMSTREAM stream, std::int64_t* consumed,
            unsigned char* destination, std::int64_t destinationBytes, std::int64_t* produced) {
    AcmConvertData* acm = ConverterArea<AcmConvertData>(state);
    *produced = 0;
    if (stream == nullptr) return -1;
    ACMSTREAMHEADER header;
    std::memset(&header, 0, sizeof(header));
    header.cbStruct = sizeof(header);
    std::int64_t left = static_cast<std::int64_t>(acm->compressedSize) - *consumed;
    if (left < 0) left = 0;
    header.pbSrc = acm->compressedData + *consumed;
    header.cbSrcLength =
        static_cast<DWORD>(left < kAcmStepSourceBytes ? left : kAcmStepSourceBytes);
    header.pbDst = destination;
    header.cbDstLength = static_cast<DWORD>(destinationBytes);
    if (AcmApi.acmStreamPrepareHeader(stream, &header, 0) != MMSYSERR_NOERROR) return -1;
    AcmApi.acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN);
    *consumed += header.cbSrcLengthUsed;
    *produced = header.cbDstLengthUsed;
    AcmApi.acmStreamUnprepareHeader(stream, &header, 0);
    return 0;
}

void ReopenStream(SoundConvertState* state, HACMSTREAM* stream) {
    CloseStream(stream);
    if (OpenStream(state, stream) != MMSYSERR_NOERROR) *stream = nullptr;
}

// Bit rates in kbit/s: MPEG-1 Layer I, II, III; MPEG-2 and 2.5 Layer I; Layers II and III.
constexpr std::uint16_t kBitRates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};
constexpr std::uint32_t kSampleRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

}  // namespace

// ============================================================================================
// Binding
// ============================================================================================

int LoadAcmEntryPoints() {
    if (AcmApi.module != nullptr) return 0;
    HMODULE module = LoadLibraryA("msacm32.dll");
    if (module == nullptr) return -1;
    AcmApi.module = module;
    struct Slot {
        const char* name;
        FARPROC* slot;
    };
    const Slot slots[] = {
        {"acmFormatSuggest", reinterpret_cast<FARPROC*>(&AcmApi.acmFormatSuggest)},
        {"acmStreamOpen", reinterpret_cast<FARPROC*>(&AcmApi.acmStreamOpen)},
        {"acmStreamClose", reinterpret_cast<FARPROC*>(&AcmApi.acmStreamClose)},
        {"acmMetrics", reinterpret_cast<FARPROC*>(&AcmApi.acmMetrics)},
        {"acmStreamPrepareHeader", reinterpret_cast<FARPROC*>(&AcmApi.acmStreamPrepareHeader)},
        {"acmStreamConvert", reinterpret_cast<FARPROC*>(&AcmApi.acmStreamConvert)},
        {"acmStreamUnprepareHeader", reinterpret_cast<FARPROC*>(&AcmApi.acmStreamUnprepareHeader)},
        {"acmStreamSize", reinterpret_cast<FARPROC*>(&AcmApi.acmStreamSize)},
    };
    for (const Slot& s : slots) {
        *s.slot = GetProcAddress(module, s.name);
        if (*s.slot == nullptr) {
            // The module stays loaded; the converters see the missing entry and stay out.
            AcmApi.acmStreamConvert = nullptr;
            return -1;
        }
    }
    return 0;
}

int UnloadAcmEntryPoints() {
    if (AcmApi.module != nullptr) FreeLibrary(AcmApi.module);
    AcmApi = {};
    return 0;
}

// ============================================================================================
// Dispatch
// ============================================================================================

int OpenPlatformConversion(SoundConvertState* state, const StreamReaderBinding* binding,
                           int skipMask) {
    const StreamReaderBinding& b = *binding;
    // 1.
    if (!(skipMask & kSkipAcmWave)) {
        if (OpenAcmWaveConversion(state) == 0) return 0;
        BindingSeek(b, 0, 0);
    }
    // 2.
    if (!(skipMask & kSkipAcmMp3) && OpenMp3AcmConversion(state) == 0) return 0;
    // 3.
    if (!(skipMask & kSkipDirectShowMp3) && DecodeMp3ThroughDirectShow(state) == 0) return 0;
    // 4.
    if (skipMask & kSkipMediaFoundation) return -1;
    // 5.
    if (OpenMediaFoundationConversion(state) == 0) return 0;
    BindingSeek(b, 0, 0);
    return -1;
}

int FillPlatformBlock(SoundConvertState* state) {
    switch (state->kind) {
        case SoundConvertAcm:
            return FillAcmBlock(state);
        case SoundConvertDirectShowMp3:
            return FillDirectShowMp3Block(state);
        case SoundConvertMediaFoundation:
            return FillMediaFoundationBlock(state);
        default:
            return -1;
    }
}

int SeekPlatformConversion(SoundConvertState* state, std::int64_t sample) {
    switch (state->kind) {
        case SoundConvertAcm:
            return SeekAcmConversion(state, sample);
        case SoundConvertDirectShowMp3:
            return SeekDirectShowMp3(state, sample);
        case SoundConvertMediaFoundation:
            return SeekMediaFoundationConversion(state, sample);
        default:
            return -1;
    }
}

std::int64_t GetPlatformConvertedSize(SoundConvertState* state) {
    switch (state->kind) {
        case SoundConvertAcm:
            return GetAcmConvertedSize(state);
        case SoundConvertDirectShowMp3:
            return ConverterArea<DirectShowMp3ConvertData>(state)->pcmSize;
        case SoundConvertMediaFoundation:
            return GetMediaFoundationConvertedSize(state);
        default:
            return 0;
    }
}

void ClosePlatformConversion(SoundConvertState* state) {
    switch (state->kind) {
        case SoundConvertAcm:
            CloseAcmConversion(state);
            break;
        case SoundConvertDirectShowMp3: {
            DirectShowMp3ConvertData* ds = ConverterArea<DirectShowMp3ConvertData>(state);
            DX_FREE(ds->pcmBuffer);
            ds->pcmBuffer = nullptr;
            break;
        }
        case SoundConvertMediaFoundation:
            CloseMediaFoundationConversion(state);
            break;
        default:
            break;
    }
}

// ============================================================================================
// ACM: compressed WAVE
// ============================================================================================

int OpenAcmWaveConversion(SoundConvertState* state) {
    AcmConvertData* acm = ConverterArea<AcmConvertData>(state);
    const StreamReaderBinding& b = state->binding;
    // 1.
    std::memset(state->converterArea, 0, sizeof(state->converterArea));
    acm->totalSamples = -1;
    if (!AcmBound()) return -1;
    // 2.
    unsigned char head[12];
    if (BindingReadBytes(b, head, 12) != 12) return -1;
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return -1;
    // 3.
    unsigned char id[4];
    std::uint32_t size;
    if (!ReadChunkHeader(b, id, &size)) return -1;
    if (std::memcmp(id, "bext", 4) == 0) {
        BindingSeek(b, size, 1);
        if (!ReadChunkHeader(b, id, &size)) return -1;
    }
    if (std::memcmp(id, "fmt ", 4) != 0) return -1;
    // 4. The chunk must fit in the stream; the copy has room for the fields the codec reads.
    const std::int64_t length = BindingLength(b);
    if (size > length - BindingTell(b)) return -1;
    const std::size_t formatBytes = size > 64 ? size : 64;
    acm->sourceFormat = static_cast<unsigned char*>(DX_ALLOC_ZEROED(formatBytes));
    if (acm->sourceFormat == nullptr) return -1;
    if (BindingReadBytes(b, acm->sourceFormat, size) != size) {
        ReleaseAcm(acm);
        return -1;
    }
    if (size & 1) BindingSeek(b, 1, 1);
    WAVEFORMATEX format;
    std::memcpy(&format, acm->sourceFormat, sizeof(format));
    if (format.wFormatTag == WAVE_FORMAT_PCM && size == 16 && format.nChannels != 0) {
        format.wBitsPerSample = static_cast<WORD>(format.nBlockAlign / format.nChannels * 8);
        format.cbSize = 0;
    }
    // Extra bytes the chunk does not hold are not claimed.
    const std::uint32_t held = size > 18 ? size - 18 : 0;
    if (format.cbSize > held) format.cbSize = static_cast<WORD>(held);
    std::memcpy(acm->sourceFormat, &format, sizeof(format));
    // 5.
    for (;;) {
        if (!ReadChunkHeader(b, id, &size)) {
            ReleaseAcm(acm);
            return -1;
        }
        if (std::memcmp(id, "data", 4) == 0) break;
        BindingSeek(b, static_cast<std::int64_t>(size) + (size & 1), 1);
    }
    state->dataStart = BindingTell(b);
    state->dataSize = size;
    // 6.-10.
    if (FinishAcmOpen(state, 1, 1) != 0) {
        ReleaseAcm(acm);
        return -1;
    }
    return 0;
}

// ============================================================================================
// ACM: MP3
// ============================================================================================

int ParseMp3FrameHeader(const unsigned char* header, Mp3FrameInfo* info) {
    if (header[0] != 0xFF || (header[1] & 0xE0) != 0xE0) return -2;
    const int versionBits = (header[1] >> 3) & 3;
    const int layerBits = (header[1] >> 1) & 3;
    const int bitRateIndex = header[2] >> 4;
    const int sampleRateIndex = (header[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitRateIndex == 15 || sampleRateIndex == 3) return -1;
    info->version = static_cast<std::uint8_t>(versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2);
    info->layer = static_cast<std::uint8_t>(3 - layerBits);
    info->bitRateIndex = static_cast<std::uint8_t>(bitRateIndex);
    info->sampleRateIndex = static_cast<std::uint8_t>(sampleRateIndex);
    info->padding = static_cast<std::uint8_t>((header[2] >> 1) & 1);
    info->channels = static_cast<std::uint8_t>((header[3] >> 6) == 3 ? 1 : 2);
    info->sampleRate = kSampleRates[info->version][sampleRateIndex];
    const int row = info->version == 0 ? info->layer : info->layer == 0 ? 3 : 4;
    info->bitRate = kBitRates[row][bitRateIndex];
    if (info->layer == 0) {
        info->frameLength = (12000 * info->bitRate / info->sampleRate + info->padding) * 4;
        info->samplesPerFrame = 384;
    } else if (info->layer == 1 || info->version == 0) {
        info->frameLength = 144000 * info->bitRate / info->sampleRate + info->padding;
        info->samplesPerFrame = 1152;
    } else {
        info->frameLength = 72000 * info->bitRate / info->sampleRate + info->padding;
        info->samplesPerFrame = 576;
    }
    return 0;
}

int OpenMp3AcmConversion(SoundConvertState* state) {
    AcmConvertData* acm = ConverterArea<AcmConvertData>(state);
    const StreamReaderBinding& b = state->binding;
    // 1.
    std::memset(state->converterArea, 0, sizeof(state->converterArea));
    if (!AcmBound()) return -1;
    // 2.
    BindingSeek(b, 0, 2);
    const std::uint32_t fileSize = static_cast<std::uint32_t>(BindingTell(b));
    BindingSeek(b, 0, 0);
    // 3. ID3v2.
    std::int64_t audioStart = 0;
    unsigned char bytes[7];
    if (BindingReadBytes(b, bytes, 3) == 3 && std::memcmp(bytes, "ID3", 3) == 0 &&
        BindingReadBytes(b, bytes, 7) == 7) {
        const std::uint32_t tagSize = ((bytes[3] & 0x7Fu) << 21) | ((bytes[4] & 0x7Fu) << 14) |
                                      ((bytes[5] & 0x7Fu) << 7) | (bytes[6] & 0x7Fu);
        audioStart = static_cast<std::int64_t>(tagSize) + 10;
        if (bytes[0] == 4 && (bytes[2] & 0x10)) audioStart += 10;
    }
    // 4. ID3v1.
    std::uint32_t tagBytes = 0;
    if (fileSize > 128) {
        BindingSeek(b, static_cast<std::int64_t>(fileSize) - 128, 0);
        if (BindingReadBytes(b, bytes, 3) == 3 && std::memcmp(bytes, "TAG", 3) == 0) tagBytes = 128;
    }
    const std::int64_t limit = static_cast<std::int64_t>(fileSize) - tagBytes;
    // 5. The frame walk.
    std::uint32_t highestRate = 0;
    std::uint32_t highestChannels = 0;
    bool firstSet = false;
    std::int64_t firstPosition = 0;
    Mp3FrameInfo first{};
    std::int64_t dataEnd = 0;
    std::int64_t total = 0;
    for (int pass = 0; pass < 2; ++pass) {
        BindingSeek(b, audioStart, 0);
        total = 0;
        firstSet = false;
        bool streamEnded = false;
        for (;;) {
            unsigned char header[4];
            if (BindingReadBytes(b, header, 1) != 1) {
                streamEnded = true;
                break;
            }
            if (header[0] != 0xFF) continue;
            if (BindingReadBytes(b, header + 1, 1) != 1) {
                streamEnded = true;
                break;
            }
            if ((header[1] & 0xE0) != 0xE0) continue;
            if (BindingReadBytes(b, header + 2, 2) != 2) {
                streamEnded = true;
                break;
            }
            Mp3FrameInfo info;
            if (ParseMp3FrameHeader(header, &info) != 0 || info.frameLength == 0) return -1;
            const std::int64_t here = BindingTell(b);
            if (!firstSet && (pass == 0 || info.sampleRate == highestRate)) {
                firstSet = true;
                firstPosition = here - 4;
                first = info;
            }
            if (pass == 0) {
                if (info.sampleRate > highestRate) highestRate = info.sampleRate;
                if (info.channels > highestChannels) highestChannels = info.channels;
            } else if (firstSet &&
                       (info.channels != first.channels || info.sampleRate != first.sampleRate)) {
                return -1;
            }
            total += info.samplesPerFrame;
            const std::int64_t next = here + info.frameLength - 4;
            dataEnd = next;
            if (next < limit) {
                BindingSeek(b, next, 0);
                continue;
            }
            dataEnd = next < limit ? next : limit;
            break;
        }
        if (streamEnded) break;
    }
    // 6.
    if (!firstSet) return -1;
    BindingSeek(b, firstPosition, 0);
    unsigned char header[4];
    if (BindingReadBytes(b, header, 4) != 4 || ParseMp3FrameHeader(header, &first) != 0) return -1;
    // 7. The MPEG layer-3 wave format.
    DWORD formatBytes = 0;
    if (AcmApi.acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &formatBytes) != MMSYSERR_NOERROR)
        formatBytes = kDefaultMaxFormatBytes;
    if (formatBytes < sizeof(MPEGLAYER3WAVEFORMAT)) formatBytes = kDefaultMaxFormatBytes;
    acm->sourceFormat = static_cast<unsigned char*>(DX_ALLOC_ZEROED(formatBytes));
    if (acm->sourceFormat == nullptr) return -1;
    MPEGLAYER3WAVEFORMAT mp3{};
    mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    mp3.wfx.nChannels = first.channels;
    mp3.wfx.nSamplesPerSec = first.sampleRate;
    mp3.wfx.nAvgBytesPerSec = first.bitRate * 1000 / 8;
    mp3.wfx.nBlockAlign = 1;
    mp3.wfx.wBitsPerSample = 0;
    mp3.wfx.cbSize = 12;
    mp3.wID = MPEGLAYER3_ID_MPEG;
    mp3.fdwFlags = first.padding;
    mp3.nBlockSize = static_cast<WORD>(first.frameLength);
    mp3.nFramesPerBlock = 1;
    mp3.nCodecDelay = 700;
    std::memcpy(acm->sourceFormat, &mp3, sizeof(mp3));
    // 8.
    state->dataStart = firstPosition;
    state->dataSize = dataEnd - firstPosition;
    acm->totalSamples = total;
    // 9.-11.
    if (FinishAcmOpen(state, 4, 3) != 0) {
        ReleaseAcm(acm);
        return -1;
    }
    acm->totalSamples = total;
    return 0;
}

// ============================================================================================
// ACM: fill, seek, size, close
// ============================================================================================

int FillAcmBlock(SoundConvertState* state) {
    AcmConvertData* acm = ConverterArea<AcmConvertData>(state);
    // 1. The look-ahead follows the loop point.
    if (state->loopPoint != acm->lookAheadProduced) {
        if (acm->lookAheadProduced > state->loopPoint) {
            ReopenStream(state, &acm->lookAheadStream);
            acm->lookAheadConsumed = 0;
            acm->lookAheadProduced = 0;
        } else if (acm->lookAheadProduced < state->loopPoint - kLookAheadMargin &&
                   acm->lookAheadStream != nullptr) {
            std::int64_t room = state->loopPoint - acm->lookAheadProduced;
            if (room > state->blockSize) room = state->blockSize;
            std::int64_t produced = 0;
            if (AcmStep(state, acm->lookAheadStream, &acm->lookAheadConsumed, acm->scratchBuffer,
                        room, &produced) != 0)
                return -1;
            acm->lookAheadProduced += produced;
        }
    }
    // 2.
    if (acm->mainConsumed >= acm->compressedSize) return -1;
    // 3.
    std::int64_t produced = 0;
    if (AcmStep(state, acm->mainStream, &acm->mainConsumed, state->blockBuffer, state->blockSize,
                &produced) != 0)
        return -1;
    state->blockBytesLeft = produced;
    // 4.
    if (produced == 0) {
        state->blockBytesLeft = 0;
        acm->mainConsumed = acm->compressedSize;
        return -1;
    }
    return 0;
}

int SeekAcmConversion(SoundConvertState* state, std::int64_t sample) {
    AcmConvertData* acm = ConverterArea<AcmConvertData>(state);
    const std::int64_t target = static_cast<std::int64_t>(state->outputFormat.blockAlign) * sample;
    // 1, 2.
    if (target >= state->outputPosition) {
        if (target <= state->outputPosition + state->blockBytesLeft) {
            const std::int64_t d = target - state->outputPosition;
            state->blockReadOffset += d;
            state->blockBytesLeft -= d;
            state->outputPosition = target;
            return 0;
        }
    } else if (target >= acm->lookAheadProduced) {
        // The look-ahead stream stands between the start and the target: it takes over.
        HACMSTREAM swap = acm->mainStream;
        acm->mainStream = acm->lookAheadStream;
        acm->lookAheadStream = swap;
        acm->mainConsumed = acm->lookAheadConsumed;
        state->outputPosition = acm->lookAheadProduced;
        state->blockBytesLeft = 0;
        state->blockReadOffset = 0;
        ReopenStream(state, &acm->lookAheadStream);
        acm->lookAheadConsumed = 0;
        acm->lookAheadProduced = 0;
    } else {
        ReopenStream(state, &acm->mainStream);
        BindingSeek(state->binding, state->dataStart, 0);
        acm->mainConsumed = 0;
        state->outputPosition = 0;
        state->blockBytesLeft = 0;
        state->blockReadOffset = 0;
    }
    // 3.
    while (state->outputPosition + state->blockBytesLeft < target) {
        state->outputPosition += state->blockBytesLeft;
        state->blockBytesLeft = 0;
        state->blockReadOffset = 0;
        if (FillAcmBlock(state) == -1) {
            state->endReached = 1;
            state->blockBytesLeft = 0;
            return 0;
        }
    }
    // 4.
    const std::int64_t d = target - state->outputPosition;
    state->blockBytesLeft -= d;
    state->blockReadOffset += d;
    state->outputPosition = target;
    return 0;
}

std::int64_t GetAcmConvertedSize(SoundConvertState* state) {
    AcmConvertData* acm = ConverterArea<AcmConvertData>(state);
    if (acm->totalSamples != -1)
        return static_cast<std::int64_t>(state->outputFormat.blockAlign) * acm->totalSamples;
    DWORD bytes = 0;
    if (acm->mainStream == nullptr ||
        AcmApi.acmStreamSize(acm->mainStream, acm->compressedSize, &bytes,
                             ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
        return 0;
    return bytes;
}

void CloseAcmConversion(SoundConvertState* state) {
    ReleaseAcm(ConverterArea<AcmConvertData>(state));
}

// ============================================================================================
// Media Foundation
// ============================================================================================

std::int64_t MediaFoundationBlockSize(std::uint32_t blockAlign) {
    if (blockAlign == 0) return 4096;
    return (4096 + blockAlign - 1) / blockAlign * blockAlign;
}

int OpenMediaFoundationConversion(SoundConvertState* state) {
    // 1. The entry points this converter calls, the source reader's maker among them.
    EnsureSystemApiTable();
    const SystemApiTable& api = SystemApi;
    if (api.mfplatModule == nullptr || api.mfreadwriteModule == nullptr ||
        api.MFStartup == nullptr || api.MFCreateSourceReaderFromByteStream == nullptr ||
        api.MFCreateMediaType == nullptr || api.MFCreateAttributes == nullptr ||
        api.MFCreateAsyncResult == nullptr || api.MFInvokeCallback == nullptr ||
        api.MFCreateWaveFormatExFromMFMediaType == nullptr)
        return -1;
    // 2, 3.
    BindingLength(state->binding);
    std::memset(state->converterArea, 0, sizeof(state->converterArea));
    // The library's byte stream and the source reader over it are not built on this platform,
    // which has no Media Foundation: the conversion cannot go further.
    return -1;
}

int FillMediaFoundationBlock(SoundConvertState*) {
    return -1;  // never opened on this platform
}

int SeekMediaFoundationConversion(SoundConvertState* state, std::int64_t sample) {
    MediaFoundationConvertData* mf = ConverterArea<MediaFoundationConvertData>(state);
    mf->copyReadOffset = 0;
    mf->copyFill = 0;
    state->blockBytesLeft = 0;
    state->blockReadOffset = 0;
    state->outputPosition = static_cast<std::int64_t>(state->outputFormat.blockAlign) * sample;
    return 0;
}

std::int64_t GetMediaFoundationConvertedSize(SoundConvertState* state) {
    const MediaFoundationConvertData* mf = ConverterArea<MediaFoundationConvertData>(state);
    return static_cast<std::int64_t>(state->outputFormat.avgBytesPerSec) * mf->duration / 10000000;
}

void CloseMediaFoundationConversion(SoundConvertState* state) {
    MediaFoundationConvertData* mf = ConverterArea<MediaFoundationConvertData>(state);
    DX_FREE(mf->copyBuffer);
    mf->copyBuffer = nullptr;
}

// ============================================================================================
// MP3 through DirectShow
// ============================================================================================

int DecodeMp3ThroughDirectShow(SoundConvertState* state) {
    // 1.
    EnsureSystemApiTable();
    // 2.
    std::memset(state->converterArea, 0, sizeof(state->converterArea));
    const StreamReaderBinding& b = state->binding;
    BindingSeek(b, 0, 2);
    const std::int64_t size = BindingTell(b);
    BindingSeek(b, 0, 0);
    if (size < 0 || size > 0xFFFFFFFF) return -1;
    auto* copy = static_cast<unsigned char*>(DX_ALLOC(static_cast<std::size_t>(size)));
    if (copy == nullptr) return -1;
    BindingReadBytes(b, copy, static_cast<std::size_t>(size));
    // 4. The null renderer, once more after setting up COM on this thread.
    IUnknown* nullRenderer = nullptr;
    IUnknown* graph = nullptr;
    const char16_t* failure = nullptr;
    auto create = [](const CLSID& clsid, DWORD context, const IID& iid, IUnknown** out) {
        if (SystemApi.CoCreateInstance == nullptr) return false;
        // Called with the entry point's own type (its outer object is an IUnknown).
        using CreateFunction = HRESULT (*)(REFCLSID, IUnknown*, DWORD, REFIID, void**);
        auto function = reinterpret_cast<CreateFunction>(SystemApi.CoCreateInstance);
        return SUCCEEDED(function(clsid, nullptr, context, iid, reinterpret_cast<void**>(out))) &&
               *out != nullptr;
    };
    if (!create(kClsidNullRenderer, CLSCTX_INPROC_SERVER, kIidBaseFilter, &nullRenderer)) {
        if (SystemApi.CoInitializeEx) SystemApi.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        nullRenderer = nullptr;
        if (!create(kClsidNullRenderer, CLSCTX_INPROC_SERVER, kIidBaseFilter, &nullRenderer))
            failure = u"MP3変換用 NullRender の作成に失敗しました\n";
    }
    // 5.
    if (failure == nullptr && !create(kClsidFilterGraph, kClsctxInproc, kIidGraphBuilder, &graph))
        failure = u"MP3変換用 IGraphBuilder の作成に失敗しました\n";
    // 3. The memory source filter over the copy is not built on this platform, where DirectShow
    // is absent; with the system's parts present it is the step that fails.
    if (failure == nullptr) failure = u"MP3変換用 D_CMemStream の作成に失敗しました\n";
    // 19.
    if (graph) graph->Release();
    if (nullRenderer) nullRenderer->Release();
    DX_FREE(copy);
    WriteLogTextUtf16(failure);
    return -1;
}

int FillDirectShowMp3Block(SoundConvertState* state) {
    DirectShowMp3ConvertData* ds = ConverterArea<DirectShowMp3ConvertData>(state);
    if (ds->readOffset >= ds->pcmSize) return -1;
    std::uint32_t n = ds->pcmSize - ds->readOffset;
    if (n > state->blockSize) n = static_cast<std::uint32_t>(state->blockSize);
    std::memcpy(state->blockBuffer, ds->pcmBuffer + ds->readOffset, n);
    state->blockBytesLeft = n;
    ds->readOffset += n;
    return 0;
}

int SeekDirectShowMp3(SoundConvertState* state, std::int64_t sample) {
    DirectShowMp3ConvertData* ds = ConverterArea<DirectShowMp3ConvertData>(state);
    const std::int64_t target = static_cast<std::int64_t>(state->outputFormat.blockAlign) * sample;
    state->outputPosition = target;
    state->blockBytesLeft = 0;
    state->blockReadOffset = 0;
    ds->readOffset = target < ds->pcmSize ? static_cast<std::uint32_t>(target) : ds->pcmSize;
    return 0;
}

}  // namespace ZiDaz
