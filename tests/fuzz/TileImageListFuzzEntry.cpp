#include "fuzz/TileImageListFuzzEntry.h"

#include <cstdlib>
#include <string>

#include "runtime/data/Game_SystemState.h"
#include "runtime/script/SystemCommands.h"

int RunTileImageListFuzzInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<TileImageEntry>& list = TheSystemState.tileImageList;
    list.clear();
    const TileImageListResult result = ApplyTileImageListText(text);
    if (result != TileImageListResult::Applied && !list.empty()) std::abort();
    if (list.size() > static_cast<std::size_t>(kMaxTileImageChip) + 2) std::abort();
    for (std::size_t i = 0; i < list.size(); ++i) {
        const TileImageEntry& e = list[i];
        if (e.fileName.empty() && e.frameCount == 0) continue;
        // Entries 0 and 1 (no chip, chip 0) are never set.
        if (i < 2 || e.frameCount < 1 || e.frameWait < 1) std::abort();
    }
    list.clear();
    return 0;
}
