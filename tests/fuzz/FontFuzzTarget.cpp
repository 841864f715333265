// libFuzzer entry of gdi32's fonts.
#include <cstddef>
#include <cstdint>

#include "fuzz/FontFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunFontFuzzInput(data, size);
}
