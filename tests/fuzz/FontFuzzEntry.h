// One fuzz input through gdi32's fonts, shared by the libFuzzer target and the test that replays
// the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The input is a font file. It is registered with AddFontMemResourceEx (a damaged file must be
// refused); when accepted, a font of its family is made at a few sizes and its metrics, kerning
// pairs and glyphs (by index and by character, monochrome and grey) are read, then the font is
// removed again. Aborts when a glyph's size disagrees with its box and row padding.
int RunFontFuzzInput(const std::uint8_t* data, std::size_t size);
