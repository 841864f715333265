// libFuzzer entry of the loop-tag scan of music file images.
#include <cstddef>
#include <cstdint>

#include "fuzz/LoopTagFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunLoopTagFuzzInput(data, size);
}
