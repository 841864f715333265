// libFuzzer entry of the tile image list text of the special system command.
#include <cstddef>
#include <cstdint>

#include "fuzz/TileImageListFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunTileImageListFuzzInput(data, size);
}
