// libFuzzer entry of the sound converter.
#include <cstddef>
#include <cstdint>

#include "fuzz/SoundFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunSoundFuzzInput(data, size);
}
