// libFuzzer entry of the start-up's archive header probe.
#include <cstddef>
#include <cstdint>

#include "fuzz/ArchiveProbeFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunArchiveProbeFuzzInput(data, size);
}
