// One fuzz input through velk-gamedata: a data file the runtime's readers accept must decode to a
// description that encodes back to the same bytes. Shared by the libFuzzer target and the test
// that replays the data-file seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The first byte picks the kind as for the data-file fuzz target (Game.dat, map, tileset, archive
// key; the other readers are not files of their own and are passed over), the rest is the file.
// Aborts when an accepted file does not encode back to its bytes.
int RunGameDataFuzzInput(const std::uint8_t* data, std::size_t size);
