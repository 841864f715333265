// libFuzzer entry of the common-event readers.
#include <cstddef>
#include <cstdint>

#include "fuzz/CommonEventFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunCommonEventFuzzInput(data, size);
}
