// libFuzzer entry of the text engine.
#include <cstddef>
#include <cstdint>

#include "fuzz/TextDrawFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunTextDrawFuzzInput(data, size);
}
