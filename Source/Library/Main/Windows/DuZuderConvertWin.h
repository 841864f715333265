// The sound converters that use the platform's codecs: their dispatch, the audio compression
// manager (compressed WAVE data, and MP3 files whose frames this module walks itself), and the
// boundaries of the Media Foundation and DirectShow converters.
#pragma once

#include <cstdint>

#include "Main/DuZuderConvert.h"
#include "platform/Msacm32.h"

namespace ZiDaz {

// The ACM converter's record.
struct AcmConvertData {
    unsigned char* sourceFormat;  // the compressed format handed to ACM
    HACMSTREAM mainStream;
    HACMSTREAM lookAheadStream;  // runs toward the loop point; its output is thrown away
    unsigned char* compressedData;
    std::uint32_t compressedSize;
    std::int64_t mainConsumed;
    std::int64_t totalSamples;  // frames of the whole sound when known (MP3), else -1
    std::int64_t lookAheadConsumed;
    std::int64_t lookAheadProduced;
    unsigned char* scratchBuffer;  // destination of the look-ahead steps, block size bytes
};

// The Media Foundation converter's record; the interface pointers are the system's objects.
struct MediaFoundationConvertData {
    void* sourceReader;
    void* currentMediaType;
    void* requestedMediaType;
    void* byteStream;
    std::int64_t duration;  // 100-nanosecond units
    std::uint32_t copyBufferCapacity;
    unsigned char* copyBuffer;
    std::uint32_t copyReadOffset;
    std::uint32_t copyFill;
};

// The DirectShow MP3 converter's record: the whole decoded sound.
struct DirectShowMp3ConvertData {
    unsigned char* pcmBuffer;
    std::uint32_t capacity;
    std::uint32_t pcmSize;
    std::uint32_t readOffset;
};

// One MPEG audio frame header as parsed.
struct Mp3FrameInfo {
    std::uint8_t layer;    // 0 Layer I, 1 Layer II, 2 Layer III
    std::uint8_t version;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    std::uint8_t bitRateIndex;
    std::uint8_t sampleRateIndex;
    std::uint8_t padding;
    std::uint8_t channels;
    std::uint32_t sampleRate;   // Hz
    std::uint32_t bitRate;      // kbit/s
    std::uint32_t frameLength;  // bytes, header included
    std::uint32_t samplesPerFrame;
};

// The ACM entry points bound from "msacm32.dll".
struct AcmEntryPoints {
    HMODULE module;
    MMRESULT (*acmFormatSuggest)(HACMDRIVER, WAVEFORMATEX*, WAVEFORMATEX*, DWORD, DWORD);
    MMRESULT(*acmStreamOpen)
    (HACMSTREAM*, HACMDRIVER, WAVEFORMATEX*, WAVEFORMATEX*, WAVEFILTER*, DWORD_PTR, DWORD_PTR,
     DWORD);
    MMRESULT (*acmStreamClose)(HACMSTREAM, DWORD);
    MMRESULT (*acmMetrics)(HACMOBJ, UINT, LPVOID);
    MMRESULT (*acmStreamPrepareHeader)(HACMSTREAM, ACMSTREAMHEADER*, DWORD);
    MMRESULT (*acmStreamConvert)(HACMSTREAM, ACMSTREAMHEADER*, DWORD);
    MMRESULT (*acmStreamUnprepareHeader)(HACMSTREAM, ACMSTREAMHEADER*, DWORD);
    MMRESULT (*acmStreamSize)(HACMSTREAM, DWORD, LPDWORD, DWORD);
};

extern AcmEntryPoints AcmApi;

int LoadAcmEntryPoints();
int UnloadAcmEntryPoints();

// Dispatch over the platform converters: ACM on a compressed WAVE, MP3 through ACM, MP3 through
// DirectShow, Media Foundation, in this order.
int OpenPlatformConversion(SoundConvertState* state, const StreamReaderBinding* binding,
                           int skipMask);
int FillPlatformBlock(SoundConvertState* state);
int SeekPlatformConversion(SoundConvertState* state, std::int64_t sample);
std::int64_t GetPlatformConvertedSize(SoundConvertState* state);
void ClosePlatformConversion(SoundConvertState* state);

// ACM.
int OpenAcmWaveConversion(SoundConvertState* state);
int OpenMp3AcmConversion(SoundConvertState* state);
// 0; -2 without frame sync; -1 for a refused version, layer, bit-rate or sample-rate index.
int ParseMp3FrameHeader(const unsigned char* header, Mp3FrameInfo* info);
int FillAcmBlock(SoundConvertState* state);
int SeekAcmConversion(SoundConvertState* state, std::int64_t sample);
std::int64_t GetAcmConvertedSize(SoundConvertState* state);
void CloseAcmConversion(SoundConvertState* state);

// Media Foundation.
int OpenMediaFoundationConversion(SoundConvertState* state);
int FillMediaFoundationBlock(SoundConvertState* state);
int SeekMediaFoundationConversion(SoundConvertState* state, std::int64_t sample);
std::int64_t GetMediaFoundationConvertedSize(SoundConvertState* state);
void CloseMediaFoundationConversion(SoundConvertState* state);
// The smallest multiple of the block align that is at least 4,096 bytes.
std::int64_t MediaFoundationBlockSize(std::uint32_t blockAlign);

// MP3 through DirectShow.
int DecodeMp3ThroughDirectShow(SoundConvertState* state);
int FillDirectShowMp3Block(SoundConvertState* state);
int SeekDirectShowMp3(SoundConvertState* state, std::int64_t sample);

}  // namespace ZiDaz
