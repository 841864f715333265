// One fuzz input through the start-up's probe of an archive header, shared by the libFuzzer
// target and the test that replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The input is the start of an archive file, copied into a buffer of exactly its size so that a
// read past it is caught. Aborts when the generation is not one the probe may give or does not
// agree with the header's magic and version.
int RunArchiveProbeFuzzInput(const std::uint8_t* data, std::size_t size);
