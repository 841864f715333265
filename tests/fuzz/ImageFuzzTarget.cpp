// libFuzzer entry of the image readers.
#include <cstddef>
#include <cstdint>

#include "fuzz/ImageFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunImageFuzzInput(data, size);
}
