#include <gtest/gtest.h>

#include <cstring>

#include "runtime/data/SaveStream.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/WorldTestSupport.h"

using world_test::kGround;
using world_test::kWall;
using world_test::WorldTest;

namespace {

class MapStateTest : public WorldTest {};

TEST_F(MapStateTest, TileIdsWrapIntoTheMapAndIndexAutotilesAndChips) {
    EXPECT_EQ(Game_MapState::TileIndexOf(100000), 0);
    EXPECT_EQ(Game_MapState::TileIndexOf(199999), 0);
    EXPECT_EQ(Game_MapState::TileIndexOf(300000), 2);
    EXPECT_EQ(Game_MapState::TileIndexOf(5), 37);
    TheMapState.mapData.Tile(0, 19, 0) = 7;
    EXPECT_EQ(TheMapState.GetTileId(-1, 0, 0), 39);  // half-tile column 39 is tile column 19
    EXPECT_EQ(TheMapState.GetTileId(39, 0, 0), 39);
    EXPECT_EQ(TheMapState.GetTileId(0, 0, 0), 32);
}

TEST_F(MapStateTest, ScrollRequestsMoveTheDisplayAlongTheLine) {
    Game_MapState& map = TheMapState;
    world_test::WorldTest::MakeMap(100, 100);
    map.StartScroll(0, 0, 4);
    EXPECT_EQ(map.scrollRemainX, 0);
    EXPECT_EQ(map.scrollStepX, 1);
    EXPECT_EQ(map.scrollStepY, 1);
    EXPECT_FALSE(map.IsScrolling());
    map.StartScroll(96, 0, 8);
    EXPECT_TRUE(map.IsScrolling());
    map.Update();
    EXPECT_EQ(map.displayX, 96);
    EXPECT_FALSE(map.IsScrolling());
    map.StartScroll(-40, 0, 0);  // 2 quarter pixels a frame
    map.Update();
    EXPECT_EQ(map.displayX, 94);
}

TEST_F(MapStateTest, ADisplaySmallerThanTheScreenStaysAtZeroAndLoopingWraps) {
    Game_MapState& map = TheMapState;
    map.ScrollRight(100);
    EXPECT_EQ(map.displayX, 0);  // 20 x 16 pixels is narrower than 640
    world_test::WorldTest::MakeMap(100, 100);
    map.ScrollRight(100000);
    EXPECT_EQ(map.displayX, (100 * 16 - 640) * 4);
    map.ScrollLeft(10);
    EXPECT_EQ(map.displayX, (100 * 16 - 640) * 4 - 10);
    map.displayX = 0;
    map.loopX = 1;
    map.ScrollLeft(4);
    EXPECT_EQ(map.displayX, 100 * 16 * 4 - 4);
}

TEST_F(MapStateTest, AnEndlessShakeRunsUntilStoppedThenComesToRest) {
    Game_MapState& map = TheMapState;
    map.StartShake(3, 2, 1, 100000);
    bool crossed = false;
    for (int i = 0; i < 500; ++i) {
        map.Update();
        crossed = crossed || map.shakeX.accumulator < 0;
    }
    EXPECT_TRUE(crossed);
    EXPECT_EQ(map.shakeX.frames, 100001);
    EXPECT_EQ(map.shakeY.frames, 0);
    map.StopShake();
    int frames = 0;
    while (map.shakeX.accumulator != 0 && frames < 1000) {
        map.Update();
        ++frames;
    }
    EXPECT_LT(frames, 1000);
    for (int i = 0; i < 10; ++i) map.Update();
    EXPECT_EQ(map.shakeX.accumulator, 0);
    EXPECT_EQ(map.shakeOffsetX, 0);
}

TEST_F(MapStateTest, AZoomStartedDuringAZoomStartsFromWhatIsShown) {
    Game_MapState& map = TheMapState;
    map.StartZoom(100, 50, 200, 10);
    for (int i = 0; i < 5; ++i) map.Update();
    EXPECT_EQ(map.zoom.currentPercent, 150);
    map.StartZoom(300, 100, 100, 4);
    EXPECT_EQ(map.zoom.startPercent, 150);
    EXPECT_EQ(map.zoom.startX, 100);
    map.Update();
    EXPECT_EQ(map.zoom.currentPercent, 100 - (100 - 150) * 3 / 4);
    for (int i = 0; i < 3; ++i) map.Update();
    EXPECT_EQ(map.zoom.currentPercent, 100);
    EXPECT_EQ(map.zoom.currentX, 300);
}

struct TileCase {
    const char* what;
    std::int32_t flags;
    int x, y, dir, step;
    bool passes;
};

// The tile at tile (5, 5) carries the flags; a character at (x, y) stands on foot row y + 1.
TEST_F(MapStateTest, CanPassTilesFollowsEdgesQuartersAndLayers) {
    const TileCase cases[] = {
        {"plain ground", 0, 10, 9, 2, 1, true},
        {"all edges block", 0xF, 10, 9, 2, 1, false},
        {"bottom edge, half step from the upper half", 0x1, 10, 10, 2, 1, false},
        {"bottom edge, half step from the lower half... even row", 0x1, 10, 9, 2, 1, true},
        {"bottom edge, whole step", 0x1, 10, 9, 2, 2, false},
        {"right edge leaving right from an even column", 0x4, 10, 9, 6, 1, false},
        {"right edge at an odd column", 0x4, 9, 9, 6, 1, true},
        {"left edge entering from an odd column", 0x2, 9, 9, 4, 1, false},
        {"left edge at an even column", 0x2, 10, 9, 4, 1, false},
        {"quarter lower-right on the right cell", 0x20 | 0x1, 10, 10, 2, 1, false},
        {"quarter lower-right, left cell only", 0x20 | 0x1, 9, 10, 2, 1, true},
        {"quarter upper-left, lower row", 0x20 | 0x8, 10, 10, 2, 1, true},
        {"quarter blocks a whole step", 0x20 | 0x8, 10, 10, 2, 2, false},
    };
    for (const TileCase& c : cases) {
        world_test::WorldTest::MakeMap(20, 15);
        world_test::WorldTest::Paint(5, 5, kWall, c.flags);
        EXPECT_EQ(TheMapState.CanPassTiles(c.x, c.y, c.dir, c.step), c.passes) << c.what;
    }
}

TEST_F(MapStateTest, UpperLayersDecideUnlessTheyPassToBelow) {
    world_test::WorldTest::Paint(5, 5, kWall, 0xF, 0);
    world_test::WorldTest::Paint(5, 5, 2, 0, 1);
    EXPECT_TRUE(TheMapState.CanPassTiles(10, 9, 2, 1));
    EXPECT_TRUE(TheMapState.IsTilePassable(10, 10));
    TheMapState.tileFlags[34] = TileFlag::PassToBelow;
    EXPECT_FALSE(TheMapState.CanPassTiles(10, 9, 2, 1));
    EXPECT_FALSE(TheMapState.IsTilePassable(10, 10));
    // An overhead tile leaves standing to the layer below.
    TheMapState.tileFlags[34] = TileFlag::Overhead;
    EXPECT_FALSE(TheMapState.IsTilePassable(10, 10));
    TheMapState.tileFlags[33] = 0;
    EXPECT_TRUE(TheMapState.IsTilePassable(10, 10));
}

TEST_F(MapStateTest, OutsideCellsAreRefusedUnlessTheMapLoops) {
    Game_MapState& map = TheMapState;
    EXPECT_FALSE(map.CanPassTiles(39, 0, 6, 1));  // the footprint's right cell is off the map
    EXPECT_TRUE(map.CanPassTiles(38, 0, 6, 1));
    EXPECT_FALSE(map.CanPassTiles(0, 29, 2, 1));
    EXPECT_FALSE(map.IsTilePassable(-1, 0));
    EXPECT_FALSE(map.IsTilePassable(0, 30));
    map.loopX = 1;
    EXPECT_TRUE(map.CanPassTiles(39, 0, 6, 1));
    EXPECT_TRUE(map.IsTilePassable(-1, 0));
    EXPECT_FALSE(map.IsTilePassable(0, 30));
}

TEST_F(MapStateTest, CountersAndHalfHidingOnBothStepLengths) {
    Game_MapState& map = TheMapState;
    world_test::WorldTest::Paint(5, 5, kWall, TileFlag::Counter | TileFlag::HalfHide);
    EXPECT_TRUE(map.IsHalfHiddenAt(10, 9));   // both foot cells on the tile
    EXPECT_FALSE(map.IsHalfHiddenAt(11, 9));  // one foot cell beside it
    TheBasicData.settingBytes[8] = 1;         // whole-tile steps
    EXPECT_TRUE(map.IsCounterAt(10, 10));
    EXPECT_FALSE(map.IsCounterAt(12, 10));
    TheBasicData.settingBytes[8] = 0;  // half-tile steps look at six cells around
    EXPECT_TRUE(map.IsCounterAt(12, 10));
    EXPECT_FALSE(map.IsCounterAt(13, 10));
    map.mapId = -1;
    EXPECT_FALSE(map.IsCounterAt(10, 10));
    EXPECT_FALSE(map.IsHalfHiddenAt(10, 9));
}

std::vector<std::uint8_t> SaveMap() {
    TheSaveStream.BeginWrite(true);
    TheMapState.WriteSave();
    const std::int32_t size = TheSaveStream.position;
    TheSaveStream.BeginWrite(false, static_cast<std::size_t>(size));
    TheMapState.WriteSave();
    return std::vector<std::uint8_t>(TheSaveStream.buffer.begin(),
                                     TheSaveStream.buffer.begin() + TheSaveStream.position);
}

TEST_F(MapStateTest, ASavedMapLoadsBackEveryField) {
    Game_MapState& map = TheMapState;
    map.displayX = 40;
    map.displayY = 8;
    map.mapData.Tile(1, 3, 4) = 123456;
    map.imageNames[0] = "Base.png";
    map.imageNames[31] = "Last.png";
    map.tileFlags[40] = 0x2F;
    map.intList = {1, -2};
    Game_Event event;
    event.id = 3;
    event.PlaceAt(4, 5, 0);
    event.SetGraphic("Hero.png");
    event.SetOverlayGraphic("Hat.png", 2);
    event.direction = 6;
    event.pixelOffsetX = 3;
    map.events = {event, Game_Event{}};
    map.StartZoom(10, 20, 150, 8);
    map.Update();
    const Game_MapState before = map;
    const auto bytes = SaveMap();
    map = Game_MapState{};
    TheSaveStream.BeginRead(bytes, true, SaveStream::kCurrentFormat);
    ASSERT_TRUE(map.ReadSave(false));
    EXPECT_EQ(map.mapId, before.mapId);
    EXPECT_EQ(map.displayX, 40);
    EXPECT_EQ(map.displayY, 8);
    EXPECT_EQ(map.mapData.layers[1], before.mapData.layers[1]);
    EXPECT_EQ(map.imageNames, before.imageNames);
    EXPECT_EQ(map.tileFlags, before.tileFlags);
    EXPECT_EQ(map.intList, before.intList);
    EXPECT_EQ(map.zoom, before.zoom);
    ASSERT_EQ(map.events.size(), 2u);
    EXPECT_EQ(map.events[0].id, 3);
    EXPECT_EQ(map.events[0].x, 8);
    EXPECT_EQ(map.events[0].graphicName, "Hero.png");
    EXPECT_EQ(map.events[0].overlays, before.events[0].overlays);
    EXPECT_EQ(map.events[0].direction, 6);
    EXPECT_EQ(map.events[0].fineX, 8 * 32 + 12);
    EXPECT_EQ(MapLayersMissing, 0);
    EXPECT_EQ(TheSaveStream.position, static_cast<std::int32_t>(bytes.size()));
}

TEST_F(MapStateTest, ASaveWithoutLayersStoresMinusOneAndAsksForTheFile) {
    TheSystemState.mapTilesOmitted = 1;
    const auto withoutLayers = SaveMap();
    TheSystemState.mapTilesOmitted = 0;
    const auto withLayers = SaveMap();
    EXPECT_EQ(withLayers.size() - withoutLayers.size(), 3u * 20 * 15 * 4 - 4);
    TheSaveStream.BeginRead(withoutLayers, true, SaveStream::kCurrentFormat);
    ASSERT_TRUE(TheMapState.ReadSave(false));
    EXPECT_EQ(MapLayersMissing, 1);
    MapLayersMissing = 0;
}

TEST_F(MapStateTest, OldSavesGainTheMissingAutotileFlags) {
    TheMapState.tileFlags.assign(48, 0);
    for (int i = 0; i < 48; ++i) TheMapState.tileFlags[static_cast<std::size_t>(i)] = i + 1;
    auto bytes = SaveMap();
    // Format 137 keeps 15 autotile names: drop the last 16 names (each an empty 4 + 1 bytes).
    const std::size_t namesStart = 4 * 5 + 3 * 20 * 15 * 4;
    std::size_t at = namesStart;
    for (int slot = 0; slot <= 15; ++slot) {
        std::int32_t len = 0;
        std::memcpy(&len, &bytes[at], 4);
        at += 4 + static_cast<std::size_t>(len);
    }
    std::size_t end = at;
    for (int slot = 16; slot < 32; ++slot) {
        std::int32_t len = 0;
        std::memcpy(&len, &bytes[end], 4);
        end += 4 + static_cast<std::size_t>(len);
    }
    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                bytes.begin() + static_cast<std::ptrdiff_t>(end));
    TheSaveStream.BeginRead(bytes, true, 137);
    TheMapState.events.clear();
    ASSERT_TRUE(TheMapState.ReadSave(false));
    ASSERT_EQ(TheMapState.tileFlags.size(), 64u);
    EXPECT_EQ(TheMapState.tileFlags[15], 16);
    EXPECT_EQ(TheMapState.tileFlags[16], 0);
    EXPECT_EQ(TheMapState.tileFlags[31], 0);
    EXPECT_EQ(TheMapState.tileFlags[32], 17);
    EXPECT_EQ(TheMapState.tileFlags[63], 48);
}

TEST_F(MapStateTest, CountsThatCannotFitFailThePartBeforeAllocating) {
    const auto good = SaveMap();
    // Width and height sit at bytes 12 and 16; the first flag count follows the names.
    auto huge = good;
    const std::int32_t big = 0x7FFF0000;
    std::memcpy(&huge[12], &big, 4);
    TheSaveStream.BeginRead(huge, true, SaveStream::kCurrentFormat);
    EXPECT_FALSE(TheMapState.ReadSave(false));
    EXPECT_TRUE(TheSaveStream.overrun);
    for (std::size_t cut = 0; cut < good.size(); cut += 97) {
        TheSaveStream.BeginRead(std::vector<std::uint8_t>(good.begin(), good.begin() + cut), true,
                                SaveStream::kCurrentFormat);
        EXPECT_FALSE(TheMapState.ReadSave(false)) << cut;
    }
}

}  // namespace
