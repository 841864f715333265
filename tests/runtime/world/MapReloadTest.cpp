#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/data/CommonEvent.h"
#include "runtime/data/DataTestSupport.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/MapReload.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

namespace {

class MapReloadTest : public DataFileTest {
  protected:
    void SetUp() override {
        DataFileTest::SetUp();
        savedDataPath_ = DataPath;
        DataPath = dir.string() + "/";
        std::filesystem::create_directories(dir / "BasicData");
    }
    void TearDown() override {
        DataPath = savedDataPath_;
        TheMapState = Game_MapState{};
        TheSystemState = Game_SystemState{};
        TheCommonEvents = Game_CommonEventList();
        TheSystemDatabase = Game_Database();
        TheUserDatabase = Game_Database();
        TheVariableDatabase = Game_Database();
        DataFileTest::TearDown();
    }

  private:
    std::string savedDataPath_;
};

TEST_F(MapReloadTest, EditedDataIsReadAgainAndTheViewStays) {
    // The system database: map 1 is "a.mps"; the other two databases are samples.
    Game_Database system = gamedata::MakeSampleDatabase(kSystemDatabase, 4, 3);
    Game_DatabaseType& settings = system.types[0];
    settings.fieldKinds = {kStringFieldBase, kNumberFieldBase, kNumberFieldBase + 1,
                           kNumberFieldBase + 2};
    Game_DatabaseEntry entry;
    entry.strings = {"a.mps"};
    entry.numbers = {-2, -2, 0};
    settings.entries = {entry, entry};
    system.typeInfos[0].dataNames.assign(2, "");
    system.typeInfos[0].fieldNames.assign(4, "");
    ASSERT_TRUE(gamedata::SaveDatabaseFiles(PathOf("BasicData/SysDataBase"), system, {}));
    for (const char* base : {"DataBase", "CDataBase"}) {
        ASSERT_TRUE(gamedata::SaveDatabaseFiles(PathOf(std::string("BasicData/") + base),
                                                gamedata::MakeSampleDatabase(kUserDatabase, 3, 5),
                                                {}));
    }
    Game_CommonEventList commons;
    commons.Resize(3);
    commons.events[1].startByte = 2;  // parallel
    commons.events[2].name = "Named";
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("BasicData/CommonEvent.dat"),
                                    gamedata::WriteCommonEventFile(commons, {}, {})));
    Game_TileSetList tiles;
    tiles.tileSets = {gamedata::MakeSampleTileSet(8, 2)};
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("BasicData/TileSetData.dat"),
                                    gamedata::WriteTileSetData(tiles, 4, {})));
    Game_MapData map = gamedata::MakeSampleMap(40, 30, 0, 1);
    map.header.tileSetNumber = 0;
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("a.mps"), gamedata::WriteMapFile(map, {})));

    TheMapState.mapId = 1;
    TheMapState.displayX = 96;
    TheMapState.displayY = 40;
    TheSystemState.panoramaNumber = 3;
    ReloadEditedGameData();
    EXPECT_EQ(TheMapState.mapId, 1);
    EXPECT_EQ(TheMapState.GetWidth(), 40);
    EXPECT_EQ(TheMapState.displayX, 96);
    EXPECT_EQ(TheMapState.displayY, 40);
    EXPECT_EQ(TheSystemState.panoramaNumber, -1);
    EXPECT_EQ(TheMapState.tileFlags, tiles.tileSets[0].chipFlags);
    ASSERT_EQ(TheMapState.runners.size(), 1u);
    EXPECT_EQ(TheMapState.runners[0].commonEventNumber, 1);
    EXPECT_EQ(TheCommonEvents.Count(), 3u);
    EXPECT_TRUE(DataRecorder::messageBoxes.empty());
}

}  // namespace
