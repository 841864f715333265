// libFuzzer entry of the live map's and the characters' save parts.
#include <cstddef>
#include <cstdint>

#include "fuzz/WorldSaveFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunWorldSaveFuzzInput(data, size);
}
