// One fuzz input through both common-event readers ("CommonEvent.dat" and ".common" files) and
// through velk-gamedata's decode and encode of them. Shared by the libFuzzer target and the test
// that replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// Bit 0 of the first byte picks the reader (0 "CommonEvent.dat", 1 a ".common" file), bits 1 to
// 3 the index a ".common" file is read at over a list of three entries; the rest is the file.
// Damaged files are only refused. Aborts when a reader that succeeded left a list that breaks
// its invariants, or when an accepted file does not decode and encode back to its own bytes.
int RunCommonEventFuzzInput(const std::uint8_t* data, std::size_t size);
