// One fuzz input through the archive reader, shared by the libFuzzer target and the test that
// replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The first byte picks how the archive is opened (bits 0-1: the key string, bit 2: from a file
// instead of memory, bit 3: the caller's image left unchanged); the rest is the archive. A
// damaged archive must be refused or read within its bounds; the walk reads every folder and
// file it lists. Aborts when a file reads back more bytes than its size. Switches the library's
// log off.
int RunArchiveFuzzInput(const std::uint8_t* data, std::size_t size);
