// One fuzz input through the Theora movie decoder, shared by the libFuzzer target and the test
// that replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The first byte picks the slot count (bits 0-1: 20, 1, 2 or 5 slots), the no-Y/UV-graphs option
// (bit 2) and the pattern of moves (bits 3-5); the rest is the movie file, read from memory. An
// accepted movie is advanced, sought by frame and by time and converted to RGB after each move,
// then closed; the library's tracked memory must come back to where it was. Inputs whose frame
// would exceed 512 x 512 are passed over, so that each input stays within the time limit.
int RunMovieFuzzInput(const std::uint8_t* data, std::size_t size);
