// One fuzz input through the text engine: an expanded text laid out and drawn frame by frame,
// shared by the libFuzzer target and the test that replays the seed corpus and every input that
// once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The first byte chooses the setting (bit 0 screen scale 2, bit 1 choice mode, bit 2 the doubled
// text mode, bit 3 an angle, bit 4 scaled drawing, bit 5 data before version 203, bit 6 no colour
// table, bit 7 the instant flag); the rest is the text as an expansion leaves it, run bytes and
// all. The library is a stand-in that aborts on positions that are not finite or sizes out of
// range.
int RunTextDrawFuzzInput(const std::uint8_t* data, std::size_t size);
