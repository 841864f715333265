// The audio compression manager ("msacm32.dll"): the eight entry points the sound converter binds,
// with the structures and constants they take. This platform offers one codec, MPEG layer 3
// (format tag 0x55) decoded to 16-bit PCM over libmpg123; every other format tag is
// ACMERR_NOTPOSSIBLE, as on a system without that codec.
#pragma once

#include "platform/WinTypes.h"

#pragma pack(push, 1)
// The wave format header (18 bytes, little-endian, packed).
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
// The MPEG layer-3 wave format (30 bytes).
struct MPEGLAYER3WAVEFORMAT {
    WAVEFORMATEX wfx;
    WORD wID;
    DWORD fdwFlags;
    WORD nBlockSize;
    WORD nFramesPerBlock;
    WORD nCodecDelay;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(MPEGLAYER3WAVEFORMAT) == 30);

inline constexpr WORD WAVE_FORMAT_PCM = 1;
inline constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 3;
inline constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x55;
inline constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
inline constexpr WORD MPEGLAYER3_ID_MPEG = 1;
inline constexpr DWORD MPEGLAYER3_FLAG_PADDING_ISO = 0;
inline constexpr DWORD MPEGLAYER3_FLAG_PADDING_ON = 1;

struct HACMDRIVER__;
using HACMDRIVER = HACMDRIVER__*;
struct HACMSTREAM__;
using HACMSTREAM = HACMSTREAM__*;
using HACMOBJ = void*;
struct WAVEFILTER;

// One conversion step's buffers (the 64-bit layout: pointer-sized user words, 15 reserved words).
struct ACMSTREAMHEADER {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    BYTE* pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    BYTE* pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[15];
};

inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
inline constexpr MMRESULT ACMERR_BUSY = 513;
inline constexpr MMRESULT ACMERR_UNPREPARED = 514;

inline constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
inline constexpr DWORD ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
inline constexpr DWORD ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
inline constexpr DWORD ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;
inline constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001;
inline constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;
inline constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
inline constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;
inline constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;
inline constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;
inline constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001;
inline constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
inline constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
inline constexpr UINT ACM_METRIC_MAX_SIZE_FORMAT = 50;

namespace platform::msacm32 {

// Proposes the PCM format a source converts to: for tag 0x55, 16-bit PCM of the source's
// channels and rate (the destination's tag, when the flags ask for it, must be PCM).
MMRESULT acmFormatSuggest(HACMDRIVER driver, WAVEFORMATEX* source, WAVEFORMATEX* destination,
                          DWORD destinationBytes, DWORD flags);
// A stream is one mpg123 decoder in feed mode with its output forced to the destination format,
// gapless trimming off and the info frame decoded as audio.
MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver, WAVEFORMATEX* source,
                       WAVEFORMATEX* destination, WAVEFILTER* filter, DWORD_PTR callback,
                       DWORD_PTR instance, DWORD flags);
MMRESULT acmStreamClose(HACMSTREAM stream, DWORD flags);
// ACM_METRIC_MAX_SIZE_FORMAT only: 32 bytes (the MPEG layer-3 format with room to spare).
MMRESULT acmMetrics(HACMOBJ object, UINT metric, LPVOID value);
MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);
// Takes every source byte and hands out as much decoded PCM as fits (whole frames); what does not
// fit waits for the next step.
MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);
// An upper bound of the output for a source size (whole MPEG frames), or the source needed for an
// output size.
MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input, LPDWORD output, DWORD flags);

}  // namespace platform::msacm32
