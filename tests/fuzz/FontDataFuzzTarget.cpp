// libFuzzer entry of the reader of font data images.
#include <cstddef>
#include <cstdint>

#include "fuzz/FontDataFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunFontDataFuzzInput(data, size);
}
