// One fuzz input through the save readers of the live map, of a character and of the player, shared
// by the libFuzzer target and the test that replays the seed corpus and every input that once
// failed.
#pragma once

#include <cstddef>
#include <cstdint>

// Byte 0 picks the part (by its remainder of 3: 0 the map, 1 one character, 2 the player), byte 1
// the save format number from a table of the formats whose layout differs, byte 2 bit 0 UTF-8 text;
// the rest is the part. Aborts when a reader claims success after running past the bytes.
int RunWorldSaveFuzzInput(const std::uint8_t* data, std::size_t size);
