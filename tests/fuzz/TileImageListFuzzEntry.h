// One fuzz input through the tile image list text of the special system command (file "=>" chip
// "," x "," y "/" frames "," wait, or "RESET"), shared by the libFuzzer target and the test that
// replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The input is the whole text. Aborts when the list grows past its limit or holds an entry with
// fewer than one frame or a wait below one.
int RunTileImageListFuzzInput(const std::uint8_t* data, std::size_t size);
