// One fuzz input through the map renderer: a small live map whose size, tile ids, chip flags,
// looping, shake, zoom, scale and tile image list all come from the input, drawn in its three
// passes and asked the tile queries. Shared by the libFuzzer target and the replay test.
#pragma once

#include <cstddef>
#include <cstdint>

// Starts the game library in software mode when it is not running yet, and writes its tileset
// images into a folder of its own once per process. Byte layout: see the entry's source.
int RunMapDrawFuzzInput(const std::uint8_t* data, std::size_t size);
