// One fuzz input through the sound converter, shared by the libFuzzer target and the test that
// replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The first byte picks the Vorbis sample width (bit 0: 1 byte instead of 2), converters left out
// (bits 1-3: Vorbis, Opus, the ACM paths) and the seek pattern (bits 4-5); the rest is the file,
// read from memory. An accepted file is converted whole, its loop area asked for, and read again
// around seeks (to a loop point, half way, past the end, back to the start). Aborts when a read
// hands out more than asked, a whole conversion more than the size it stated, or a position goes
// wrong.
int RunSoundFuzzInput(const std::uint8_t* data, std::size_t size);
