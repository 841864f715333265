// One fuzz input through the reader of font data images ("FNTF"), shared by the libFuzzer target
// and the test that replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The first byte picks the edge size (its low three bits, minus one: -1..6); the rest is the
// image. An accepted image has every glyph it names rendered into its cache, then the font is
// deleted; tracked memory must come back to where it was. Starts the font module when it is not
// running.
int RunFontDataFuzzInput(const std::uint8_t* data, std::size_t size);
