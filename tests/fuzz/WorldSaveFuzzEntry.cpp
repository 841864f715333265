#include "fuzz/WorldSaveFuzzEntry.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "runtime/data/SaveStream.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"

int RunWorldSaveFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    static const std::int16_t kFormats[] = {99,  104, 105, 112, 114, 115,
                                            120, 133, 137, 138, 139, 140};
    const std::int16_t format = kFormats[data[1] % (sizeof kFormats / sizeof kFormats[0])];
    TheSaveStream.BeginRead(std::vector<std::uint8_t>(data + 3, data + size), (data[2] & 1) != 0,
                            format);
    bool ok = false;
    if (data[0] % 3 == 0) {
        auto map = std::make_unique<Game_MapState>();
        ok = map->ReadSave(false);
        // Whatever was read must answer tile questions without reading outside its lists.
        map->mapId = 0;
        for (int y = -1; y < 3; ++y)
            for (int x = -1; x < 3; ++x) {
                map->CanPassTiles(x, y, 2, 1);
                map->IsTilePassable(x, y);
                map->GetTileTag(x, y);
                map->IsHalfHiddenAt(x, y);
                map->IsCounterAt(x, y);
            }
    } else if (data[0] % 3 == 1) {
        Game_Character character;
        ok = character.ReadSave();
    } else {
        auto player = std::make_unique<Game_Player>();
        ok = player->ReadSave();
        // A player read whole always has its five followers.
        if (ok && player->followers.size() != Game_Player::kFollowerCount) std::abort();
    }
    if (ok && (TheSaveStream.overrun || TheSaveStream.position > TheSaveStream.size)) std::abort();
    MapLayersMissing = 0;
    TheSaveStream.Release();
    return 0;
}
