// libFuzzer entry of the archive reader.
#include <cstddef>
#include <cstdint>

#include "fuzz/ArchiveFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunArchiveFuzzInput(data, size);
}
