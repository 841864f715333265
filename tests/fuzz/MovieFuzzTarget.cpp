// libFuzzer entry of the Theora movie decoder.
#include <cstddef>
#include <cstdint>

#include "fuzz/MovieFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunMovieFuzzInput(data, size);
}
