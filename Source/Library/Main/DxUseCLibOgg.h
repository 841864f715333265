// The Ogg converters of the sound converter: Ogg Vorbis through vorbisfile (with the loop comments
// "LOOPSTART=" and "LOOPLENGTH=") and Ogg Opus through opusfile, both reading the converter's
// stream through the decoders' callback interfaces.
#pragma once

#include <cstdint>

#include "Main/DuZuderConvert.h"

namespace ZiDaz {

// Bytes per output sample the Vorbis converter writes when asked for 2 (signed 16-bit LE); 1
// gives unsigned 8-bit samples.
inline constexpr int kVorbisBlockBytes = 4096;
inline constexpr int kOpusBlockBytes = 4096;
inline constexpr std::uint32_t kOpusOutputRate = 48000;

int OpenVorbisConversion(SoundConvertState* state);
int FillVorbisBlock(SoundConvertState* state);
int SeekVorbisConversion(SoundConvertState* state, std::int64_t sample);
std::int64_t GetVorbisConvertedSize(SoundConvertState* state);
int CloseVorbisConversion(SoundConvertState* state);
int GetVorbisLoopArea(SoundConvertState* state, std::int64_t* start, std::int64_t* end);

int OpenOpusConversion(SoundConvertState* state);
int FillOpusBlock(SoundConvertState* state);
int SeekOpusConversion(SoundConvertState* state, std::int64_t sample);
std::int64_t GetOpusConvertedSize(SoundConvertState* state);
int CloseOpusConversion(SoundConvertState* state);

}  // namespace ZiDaz
