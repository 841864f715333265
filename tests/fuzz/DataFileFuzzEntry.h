// One fuzz input through the data-file readers, shared by the libFuzzer target and the test that
// replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// The first byte picks the reader (modulo the reader count), the rest is the file. Damaged files
// are only refused: nothing is moved, reported or ended. Aborts when a reader that succeeded left
// a record that breaks its invariants.
int RunDataFileFuzzInput(const std::uint8_t* data, std::size_t size);

// Reader numbers of the first byte.
enum DataFileFuzzReader : std::uint8_t {
    kFuzzBasicData = 0,
    kFuzzMapFile = 1,
    kFuzzTileSetData = 2,
    kFuzzArchiveKey = 3,
    kFuzzSaveMoveRoute = 4,
    kFuzzEventRecord = 5,
    // The save parts of the system state and the variable store: bytes 1 and 2 pick the save
    // format (90..140), bit 0 of byte 3 says whether its texts are UTF-8, the rest is the part.
    kFuzzSystemStatePart = 6,
    kFuzzVariablesPart = 7,
    // The key-input replay's save part (the rest of the input after the first byte).
    kFuzzReplayPart = 8,
    kFuzzReaderCount = 9,
};
