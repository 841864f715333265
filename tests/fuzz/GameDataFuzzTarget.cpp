// libFuzzer entry of velk-gamedata's decode and encode.
#include <cstddef>
#include <cstdint>

#include "fuzz/GameDataFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunGameDataFuzzInput(data, size);
}
