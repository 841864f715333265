// A live map built in memory for the map and character tests: every cell plain ground unless a
// test paints it, tile size 16, a 640 x 480 screen, one frame per sixtieth of a second.
#pragma once

#include <gtest/gtest.h>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"

namespace world_test {

// Chip numbers of the test tileset's base chips (stored tile c gives flag index c + 32).
inline constexpr std::int32_t kGround = 0;
inline constexpr std::int32_t kWall = 1;

class WorldTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedTileSize_ = TileSize;
        savedWidth_ = ScreenWidth;
        savedHeight_ = ScreenHeight;
        savedScale_ = WindowScale;
        savedStep_ = FrameMultiplier;
        TileSize = 16;
        ScreenWidth = 640;
        ScreenHeight = 480;
        WindowScale = 1;
        FrameMultiplier = 1;
        TheBasicData.SetDefaults();
        TheSystemState = Game_SystemState{};
        ResetAnimationWaitTable();
        MapPlayer = nullptr;
        MakeMap(20, 15);
    }
    void TearDown() override {
        TileSize = savedTileSize_;
        ScreenWidth = savedWidth_;
        ScreenHeight = savedHeight_;
        WindowScale = savedScale_;
        FrameMultiplier = savedStep_;
        MapPlayer = nullptr;
        TheMapState = Game_MapState{};
        TheBasicData.SetDefaults();
        ResetAnimationWaitTable();
    }

    // A w x h map of ground on every layer's layer 0 (upper layers empty), map id 1.
    static void MakeMap(std::int32_t w, std::int32_t h) {
        Game_MapState& map = TheMapState;
        map = Game_MapState{};
        map.mapId = 1;
        map.mapData.header.width = w;
        map.mapData.header.height = h;
        map.mapData.ResetLayers();
        for (std::int32_t& v : map.mapData.layers[0]) v = kGround;
        map.tileFlags.assign(64, 0);
        map.tileTags.assign(64, 0);
    }
    // Paints tile (tx, ty) of a layer with base chip `chip` whose flags are `flags`.
    static void Paint(std::int32_t tx, std::int32_t ty, std::int32_t chip, std::int32_t flags,
                      int layer = 0) {
        TheMapState.mapData.Tile(layer, tx, ty) = chip;
        TheMapState.tileFlags[static_cast<std::size_t>(chip + 32)] = flags;
    }

  private:
    std::int32_t savedTileSize_ = 16, savedWidth_ = 640, savedHeight_ = 480, savedScale_ = 1,
                 savedStep_ = 1;
};

}  // namespace world_test
