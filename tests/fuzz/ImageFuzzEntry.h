// One fuzz input through the image readers, shared by the libFuzzer target and the test that
// replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The first byte picks the path: bit 0 reads the rest as a packed DIB with ReadBitmapInfoImage
// (header and colour table, then bits of the size the header implies), otherwise the rest is a
// file image read by the reader driver with every built-in reader (bit 1: mirrored, bit 2: header
// only). Every pixel row of an accepted image is read, so that a record that claims more than its
// pixels hold is caught; tracked memory must come back to where it was.
int RunImageFuzzInput(const std::uint8_t* data, std::size_t size);
