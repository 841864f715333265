// libFuzzer entry of the message control codes and their conversions.
#include <cstddef>
#include <cstdint>

#include "fuzz/TextCodesFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunTextCodesFuzzInput(data, size);
}
