// libFuzzer entry of the map renderer.
#include <cstddef>
#include <cstdint>

#include "fuzz/MapDrawFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunMapDrawFuzzInput(data, size);
}
