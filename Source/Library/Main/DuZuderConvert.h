// The sound converter: opened over a readable stream, it recognises a sound file's format, states
// the PCM format it produces and hands out PCM bytes on demand; it also seeks to a sample, tells
// the size of the whole converted sound and the loop area the file carries, and converts a whole
// sound into one buffer. The WAVE converter (RIFF and RF64, PCM or 32-bit float) lives here; the
// Ogg converters in DxUseCLibOgg, the platform's codecs in Windows/DuZuderConvertWin.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Main/DxFile.h"

namespace ZiDaz {

#pragma pack(push, 1)
// The 18-byte wave format record passed around the whole sound module (the WAVEFORMATEX layout,
// and the layout of a WAVE file's format chunk).
struct SoundFormat {
    std::uint16_t formatTag;  // 1 PCM, 3 IEEE float; every converter's output carries 1
    std::uint16_t channels;
    std::uint32_t samplesPerSec;
    std::uint32_t avgBytesPerSec;
    std::uint16_t blockAlign;  // bytes per frame, all channels together
    std::uint16_t bitsPerSample;
    std::uint16_t extraSize;
};
#pragma pack(pop)
static_assert(sizeof(SoundFormat) == 18);

inline constexpr std::uint16_t kSoundFormatPcm = 1;
inline constexpr std::uint16_t kSoundFormatFloat = 3;

// The reader operations over a stream the caller owns; the converter never closes it.
struct StreamReaderBinding {
    StreamReaderOps ops;
    void* stream;
};

enum SoundConvertKind : std::int32_t {
    SoundConvertWave = 0,
    SoundConvertVorbis = 1,
    SoundConvertOpus = 2,
    SoundConvertAcm = 3,
    SoundConvertDirectShowMp3 = 4,
    SoundConvertMediaFoundation = 5,
};

// Bits of the skip mask: the converters left out of the attempt.
inline constexpr int kSkipWave = 1 << 0;
inline constexpr int kSkipVorbis = 1 << 1;
inline constexpr int kSkipOpus = 1 << 2;
inline constexpr int kSkipAcmWave = 1 << 3;
inline constexpr int kSkipAcmMp3 = 1 << 4;
inline constexpr int kSkipDirectShowMp3 = 1 << 5;
inline constexpr int kSkipMediaFoundation = 1 << 6;

inline constexpr std::size_t kConverterAreaBytes = 1024;

// One running conversion, owned by its caller.
struct SoundConvertState {
    std::int32_t open;
    std::int32_t endReached;  // a fill ran dry; cleared by Begin and every seek carried out
    std::int32_t kind;        // SoundConvertKind
    StreamReaderBinding binding;
    std::int64_t dataStart;
    std::int64_t dataSize;
    SoundFormat outputFormat;
    alignas(16) unsigned char converterArea[kConverterAreaBytes];
    unsigned char* blockBuffer;
    std::int64_t blockSize;
    std::int64_t blockBytesLeft;
    std::int64_t blockReadOffset;
    std::int64_t outputPosition;  // output bytes up to the next byte handed out
    std::int64_t loopPoint;       // output byte position (the ACM converter's look-ahead target)
    std::int32_t vorbisSampleWidth;
    std::int32_t movieFlag;
};

// The converter area as one kind's record.
template <typename T>
T* ConverterArea(SoundConvertState* state) {
    static_assert(sizeof(T) <= kConverterAreaBytes, "a converter record outgrew the area");
    static_assert(alignof(T) <= 16);
    return reinterpret_cast<T*>(state->converterArea);
}

// The WAVE converter's record.
struct WaveConvertData {
    unsigned char* floatBuffer;    // read buffer of IEEE-float data; null for PCM
    std::int64_t floatBufferSize;  // one second of source data, whole frames
    std::int64_t loopStart;        // first "smpl" loop's start in samples, -1 when none
    std::int64_t loopEnd;          // its end, -1 when none
    SoundFormat fileFormat;        // the first bytes (at most 18) of the format chunk
};

// ---- Front end ------------------------------------------------------------------------------

// Opens a conversion on a closed state (zero-filled or ended): 0 or -1.
int BeginSoundConversion(SoundConvertState* state, const StreamReaderBinding* binding, int skipMask,
                         int vorbisSampleWidth, int movieFlag);
// The bytes handed out; fewer than asked only at the end of the sound.
std::size_t ReadConvertedSound(SoundConvertState* state, void* destination, std::size_t count);
// Moves to a sample; a target within 16 bytes of the output position changes nothing.
int SeekSoundConversion(SoundConvertState* state, std::int64_t sample);
int SetSoundConversionLoopPoint(SoundConvertState* state, std::int64_t sample);
// Size in bytes of the whole converted sound, found without decoding.
std::int64_t GetConvertedSoundSize(SoundConvertState* state);
int GetSoundConversionFormat(SoundConvertState* state, SoundFormat* format);
int IsSoundConversionAtEnd(SoundConvertState* state);
// The loop area the file carries (start: where playback resumes; end: where it jumps back);
// 0, or -1 with both outputs -1.
int GetSoundConversionLoopArea(SoundConvertState* state, std::int64_t* start, std::int64_t* end);
// The whole sound from its start into one new buffer for the caller (FreeTrackedMemory).
int ConvertWholeSound(SoundConvertState* state, SoundFormat* format, void** buffer,
                      std::uint32_t* count);
int EndSoundConversion(SoundConvertState* state);

// The library's start and end: bind and release the platform's codecs.
int StartPlatformSoundDecoders();
int EndPlatformSoundDecoders();
int ArePlatformSoundDecodersStarted();

// ---- The WAVE converter -------------------------------------------------------------------

int OpenWaveConversion(SoundConvertState* state);
int FillWaveBlock(SoundConvertState* state);
int SeekWaveConversion(SoundConvertState* state, std::int64_t sample);
std::int64_t GetWaveConvertedSize(SoundConvertState* state);

// ---- Stream helpers shared by the converters ----------------------------------------------

std::int64_t BindingTell(const StreamReaderBinding& binding);
int BindingSeek(const StreamReaderBinding& binding, std::int64_t offset, int origin);
// Bytes read (not items), so that a cut stream still tells how much it gave.
std::size_t BindingReadBytes(const StreamReaderBinding& binding, void* buffer, std::size_t bytes);
// The stream's length, its position kept.
std::int64_t BindingLength(const StreamReaderBinding& binding);

}  // namespace ZiDaz
