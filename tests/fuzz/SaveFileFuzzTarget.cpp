// libFuzzer entry of the save file reader.
#include <cstddef>
#include <cstdint>

#include "fuzz/SaveFileFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunSaveFileFuzzInput(data, size);
}
