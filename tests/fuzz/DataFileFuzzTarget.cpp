// libFuzzer entry of the data-file readers.
#include <cstddef>
#include <cstdint>

#include "fuzz/DataFileFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunDataFileFuzzInput(data, size);
}
