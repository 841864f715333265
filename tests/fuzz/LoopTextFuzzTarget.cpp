// libFuzzer entry of the loop text file reader.
#include <cstddef>
#include <cstdint>

#include "fuzz/LoopTextFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunLoopTextFuzzInput(data, size);
}
