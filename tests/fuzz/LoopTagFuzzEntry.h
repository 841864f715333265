// One fuzz input through the loop-tag scan of a music file image ("LOOPSTART=" and "LOOPLENGTH="
// comments), shared by the libFuzzer target and the test that replays the seed corpus and every
// input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The input is the whole file image, copied into a buffer of exactly its size so that a read past
// it is caught. Aborts on a negative value.
int RunLoopTagFuzzInput(const std::uint8_t* data, std::size_t size);
