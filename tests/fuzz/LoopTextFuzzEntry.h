// One fuzz input through the reader of a sound's loop text file, shared by the libFuzzer target and
// the test that replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The input is the whole file. Aborts when an accepted file gives a loop point that is not below
// its loop start, or a negative value.
int RunLoopTextFuzzInput(const std::uint8_t* data, std::size_t size);
