#include <gtest/gtest.h>

#include "runtime/data/DataTestSupport.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/data/SaveStream.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ReportCapture.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

namespace {

// Map settings of system database type 0: the file name, BGM, BGS, looping and panorama.
Game_DatabaseType MapSettings(const std::string& file, std::int32_t looping) {
    Game_DatabaseType type;
    type.fieldKinds = {kStringFieldBase, kNumberFieldBase, kNumberFieldBase + 1,
                       kNumberFieldBase + 2, kNumberFieldBase + 3};
    Game_DatabaseEntry entry;
    entry.strings = {file};
    entry.numbers = {-2, -2, looping, 4};
    type.entries = {entry, entry};
    return type;
}

// A 100 x 100 map (sample events lie anywhere on it) with tileset 0.
Game_MapData SampleMap(int events) {
    Game_MapData map = gamedata::MakeSampleMap(100, 100, events, 2);
    map.header.tileSetNumber = 0;
    return map;
}

class MapLoadTest : public DataFileTest {
  protected:
    void SetUp() override {
        DataFileTest::SetUp();
        savedDatabase_ = TheSystemDatabase;
        savedDataPath_ = DataPath;
        DataPath = dir.string() + "/";
        TheSystemDatabase.SetTypeCount(1);
        TheMapState = Game_MapState{};
    }
    void TearDown() override {
        TheSystemDatabase = savedDatabase_;
        DataPath = savedDataPath_;
        TheMapState = Game_MapState{};
        ResetInterpreterLinks();
        ResetVariableStoreLinks();
        DataFileTest::TearDown();
    }

  private:
    Game_Database savedDatabase_;
    std::string savedDataPath_;
};

TEST_F(MapLoadTest, AMapLoadsItsEventsSettingsAndTileset) {
    Game_MapData map = gamedata::MakeSampleMap(100, 100, 3, 7);
    map.header.tileSetNumber = 1;
    map.events[1].name = "Door";
    map.events[1].pages.resize(1);
    map.events[1].pageCount = 1;
    map.events[1].pages[0].condition = Game_PageCondition{};  // always holds
    map.events[1].pages[0].movement.options &= 0x3F;          // on whole tiles
    map.events[1].pages[0].graphicFile = "DoorT.png";
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("a.mps"), gamedata::WriteMapFile(map, {})));
    TheSystemDatabase.types[0] = MapSettings("a.mps", 3);
    TheMapState.tileSetList.tileSets.resize(2);
    TheMapState.tileSetList.tileSets[1] = gamedata::MakeSampleTileSet(10, 3);
    TheMapState.displayX = 99;
    ASSERT_TRUE(TheMapState.LoadMap(1));
    EXPECT_EQ(TheMapState.mapId, 1);
    EXPECT_EQ(TheMapState.GetWidth(), 100);
    EXPECT_EQ(TheMapState.displayX, 0);
    EXPECT_EQ(TheMapState.tileFlags, TheMapState.tileSetList.tileSets[1].chipFlags);
    EXPECT_EQ(TheMapState.loadedTileFlags, TheMapState.tileFlags);
    EXPECT_EQ(TheMapState.imageNames[0], TheMapState.tileSetList.tileSets[1].imageFiles[0]);
    EXPECT_TRUE(TheMapState.loopX);
    EXPECT_TRUE(TheMapState.loopY);
    EXPECT_EQ(TheSystemState.panoramaNumber, 4);
    ASSERT_EQ(TheMapState.events.size(), 3u);
    EXPECT_EQ(TheMapState.events[1].id, map.events[1].id);
    EXPECT_EQ(TheMapState.events[1].x, 2 * map.events[1].x);  // tiles to half tiles
    EXPECT_EQ(TheMapState.events[1].layout, 1);
    EXPECT_EQ(TheMapState.eventNameIndex.at("Door"), map.events[1].id);
}

TEST_F(MapLoadTest, ParallelCommonEventsGetRunnersOnceUntilAReset) {
    const Game_CommonEventList saved = TheCommonEvents;
    TheCommonEvents.Resize(4);
    TheCommonEvents.events[1].startByte = 2;
    TheCommonEvents.events[2].startByte = 0x13;  // operator bits above a parallel kind
    TheCommonEvents.events[3].startByte = 1;
    ASSERT_TRUE(gamedata::SaveBytes(
        PathOf("a.mps"), gamedata::WriteMapFile(gamedata::MakeSampleMap(2, 2, 0, 1), {})));
    TheSystemDatabase.types[0] = MapSettings("a.mps", 0);
    ASSERT_TRUE(TheMapState.LoadMap(1));
    ASSERT_EQ(TheMapState.runners.size(), 2u);
    EXPECT_EQ(TheMapState.runners[0].commonEventNumber, 1);
    EXPECT_EQ(TheMapState.runners[1].commonEventNumber, 2);
    TheCommonEvents.events[3].startByte = 2;
    ASSERT_TRUE(TheMapState.LoadMap(1));
    EXPECT_EQ(TheMapState.runners.size(), 2u);
    TheMapState.Reset();
    ASSERT_TRUE(TheMapState.LoadMap(1));
    EXPECT_EQ(TheMapState.runners.size(), 3u);
    TheMapState = Game_MapState{};
    TheCommonEvents = saved;
}

TEST_F(MapLoadTest, ATilesetTheListLacksIsReportedAndLeftEmpty) {
    Game_MapData map = gamedata::MakeSampleMap(4, 4, 0, 1);
    map.header.tileSetNumber = 12;
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("a.mps"), gamedata::WriteMapFile(map, {})));
    TheSystemDatabase.types[0] = MapSettings("a.mps", 0);
    shell_test::ReportCapture capture;
    ASSERT_TRUE(TheMapState.LoadMap(1));
    EXPECT_EQ(capture.reports().size(), 1u);
    EXPECT_TRUE(TheMapState.tileFlags.empty());
    // Tile questions on it answer "blocked" without reading past the empty lists.
    EXPECT_FALSE(TheMapState.CanPassTiles(0, 0, 2, 1));
    EXPECT_EQ(TheMapState.GetTileTag(0, 0), 0);
    EXPECT_FALSE(TheMapState.IsHalfHiddenAt(0, 0));
}

TEST_F(MapLoadTest, AMissingMapFileQuitsAfterTheReadersMessage) {
    TheSystemDatabase.types[0] = MapSettings("none.mps", 0);
    const GameState before = TheGameSystem.gameState;
    EXPECT_FALSE(TheMapState.LoadMap(1));
    EXPECT_EQ(TheGameSystem.gameState, GameState::Quit);
    EXPECT_EQ(DataRecorder::messageBoxes.size(), 1u);
    TheGameSystem.gameState = before;
}

TEST_F(MapLoadTest, LayersReloadFromTheFileAfterASaveWithoutThem) {
    Game_MapData map = gamedata::MakeSampleMap(4, 3, 0, 5);
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("a.mps"), gamedata::WriteMapFile(map, {})));
    TheSystemDatabase.types[0] = MapSettings("a.mps", 0);
    ASSERT_TRUE(TheMapState.LoadMap(1));
    for (auto& layer : TheMapState.mapData.layers) std::fill(layer.begin(), layer.end(), 0);
    ASSERT_TRUE(TheMapState.ReloadLayers(1));
    for (int l = 0; l < 3; ++l) EXPECT_EQ(TheMapState.mapData.layers[l], map.layers[l]);
}

TEST_F(MapLoadTest, ASaveWithMoreEventsThanTheMapWarnsAndKeepsThem) {
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("a.mps"), gamedata::WriteMapFile(SampleMap(3), {})));
    TheSystemDatabase.types[0] = MapSettings("a.mps", 0);
    ASSERT_TRUE(TheMapState.LoadMap(1));
    TheMapState.events[2].direction = 8;
    TheSaveStream.BeginWrite(true);
    TheMapState.WriteSave();
    TheSaveStream.BeginWrite(false, static_cast<std::size_t>(TheSaveStream.position));
    TheMapState.WriteSave();
    const std::vector<std::uint8_t> bytes(TheSaveStream.buffer.begin(),
                                          TheSaveStream.buffer.begin() + TheSaveStream.position);
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("a.mps"), gamedata::WriteMapFile(SampleMap(1), {})));
    TheMapState = Game_MapState{};
    shell_test::ReportCapture capture;
    TheSaveStream.BeginRead(bytes, true, SaveStream::kCurrentFormat);
    ASSERT_TRUE(TheMapState.ReadSave(true));
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(
        capture.reports()[0].second,
        "安全のため、この後、マップを再移動するなどして、マップの再読み込みを行ってください。");
    ASSERT_EQ(TheMapState.events.size(), 3u);
    EXPECT_EQ(TheMapState.events[2].direction, 8);
}

TEST_F(MapLoadTest, CharacterPropertiesReachTheMapsCharacters) {
    InstallMapLinks();
    Game_Event event;
    event.id = 2;
    event.PlaceAt(3, 4, 0);
    TheMapState.mapData.header.width = 20;
    TheMapState.mapData.header.height = 15;
    TheMapState.mapId = 1;
    TheMapState.tileFlags.assign(64, 0);
    TheMapState.events = {event};
    Game_Player player;
    player.PlaceAt(1, 1, 0);
    MapPlayer = &player;
    EXPECT_EQ(TheVariables.GetValue(9100000 + 20 + 0), 3);
    EXPECT_EQ(TheVariables.GetValue(9100000 + 20 + 3), 8);
    TheVariables.SetValue(9100000 + 20 + 2, 11);
    EXPECT_EQ(TheMapState.events[0].x, 11);
    TheVariables.SetValue(9100000 + 20 + 7, 5);
    EXPECT_EQ(TheMapState.events[0].pixelOffsetX, 5);
    EXPECT_EQ(TheVariables.GetValue(9180000 + 1), 1);       // the player's tile y
    EXPECT_EQ(TheVariables.GetValue(9180000 + 10 + 1), 0);  // the first follower's tile y
    EXPECT_EQ(GetInterpreterLinks().mapId(), 1);
    EXPECT_EQ(GetInterpreterLinks().event(2), &TheMapState.events[0]);
    MapPlayer = nullptr;
}

}  // namespace

namespace {

TEST_F(MapLoadTest, APanoramaGivenInTextFillsTheSettingsAndMusicTakesItsVolumeAtOnce) {
    ASSERT_TRUE(gamedata::SaveBytes(
        PathOf("a.mps"), gamedata::WriteMapFile(gamedata::MakeSampleMap(2, 2, 0, 1), {})));
    const struct {
        const char* text;
        const char* name;
        std::int32_t speedX, speedY, divisor;
        std::uint8_t fromFile;
        std::int32_t number;
    } cases[] = {
        {"Far.png\r\n8\r\n-3\r\n2", "Far.png", 8, -3, 2, 1, 6},
        {"Near.png\n5", "Near.png", 5, 0, 0, 1, 6},
        {"\r", "", 0, 0, 0, 0, -1},
    };
    for (const auto& c : cases) {
        Game_DatabaseType type = MapSettings("a.mps", 0);
        type.fieldKinds.insert(type.fieldKinds.end(),
                               {kStringFieldBase + 1, kStringFieldBase + 2, kStringFieldBase + 3});
        for (Game_DatabaseEntry& entry : type.entries) {
            entry.numbers[3] = -3;
            entry.strings = {"a.mps", "", "", c.text};
        }
        TheSystemDatabase.types[0] = type;
        TheSystemState = Game_SystemState{};
        TheSystemState.panoramaNumber = 6;
        TheSystemState.panoramaSpeedX = 99;
        ASSERT_TRUE(TheMapState.LoadMap(1));
        EXPECT_EQ(TheSystemState.panoramaSettings, c.name);
        EXPECT_EQ(TheSystemState.panoramaSpeedX, c.speedX);
        EXPECT_EQ(TheSystemState.panoramaSpeedY, c.speedY);
        EXPECT_EQ(TheSystemState.panoramaParallax, c.divisor);
        EXPECT_EQ(TheSystemState.panoramaFromFile, c.fromFile);
        EXPECT_EQ(TheSystemState.panoramaNumber, c.number);
    }

    // The map's music (none here) is set to the master volume times its own volume at once.
    const std::int32_t savedVolume = TheSoundManager.bgmVolume,
                       savedOwn = TheGameSystem.bgmDatabaseVolume;
    TheGameSystem.bgmDatabaseVolume = 50;
    TheSystemState.bgmVolumeCorrection = 80;
    TheMapState.StartMapMusic();
    EXPECT_EQ(TheSoundManager.bgmVolume, 40);
    TheSoundManager.bgmVolume = savedVolume;
    TheGameSystem.bgmDatabaseVolume = savedOwn;
    TheSystemState = Game_SystemState{};
}

}  // namespace
