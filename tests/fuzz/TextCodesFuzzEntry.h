// One fuzz input through the message control codes (the scanner, the expansion) and the four
// conversions, shared by the libFuzzer target and the test that replays the seed corpus and every
// input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The first byte holds the expansion's options (bit 0 values only, bit 1 header allowed, bit 2
// affixes), the rest is the text. The variables and the user database hold texts with codes, so
// that a second pass runs. Aborts when the scanner gives positions out of order or outside the
// text, or when a text without run bytes expands into anything but well-formed runs.
int RunTextCodesFuzzInput(const std::uint8_t* data, std::size_t size);
