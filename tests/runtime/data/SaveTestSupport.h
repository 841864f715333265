// A small running game for the save tests: databases written with our own writer and read back
// as the player reads them, a system database with 20 normal variables, the base folder in a
// folder of the test's own, reports captured, and a live player with five followers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "DataTestSupport.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/CommonEvent.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SaveManager.h"
#include "runtime/data/SaveStream.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/Game_InputReplay.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ReportCapture.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

namespace save_test {

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class SaveTest : public DataFileTest {
  protected:
    void SetUp() override {
        DataFileTest::SetUp();
        savedCwd_ = std::filesystem::current_path();
        std::filesystem::create_directories(dir / "BasicData");
        ExeFolder = dir.string() + "/";
        DataPath = ExeFolder;
        TheBasicData = Game_BasicData();
        TheBasicData.settingTexts[0] = "Test Game";
        Game_Database variable = gamedata::MakeSampleDatabase(kVariableDatabase, 4, 7);
        Game_Database user = gamedata::MakeSampleDatabase(0, 3, 8);
        Game_Database system = gamedata::MakeSampleDatabase(kSystemDatabase, 4, 9);
        ASSERT_TRUE(gamedata::SaveDatabaseFiles(PathOf("BasicData/CDataBase"), variable, {}));
        ASSERT_TRUE(gamedata::SaveDatabaseFiles(PathOf("BasicData/DataBase"), user, {}));
        ASSERT_TRUE(gamedata::SaveDatabaseFiles(PathOf("BasicData/SysDataBase"), system, {}));
        GetSnapshotLiveServices().reloadDatabases = [] {
            LoadDatabases(DataPath, false);
            GiveNormalVariables();
        };
        GetSnapshotLiveServices().reloadDatabases();
        // The live map is read from the save itself: no map file is needed.
        SavePartTable()[0].readLive = [] { return TheMapState.ReadSave(false); };
        TheCommonEvents = Game_CommonEventList();
        TheSystemState = Game_SystemState();
        TheVariables = Game_Variables();
        TheMapState = Game_MapState();
        TheInputReplay = Game_InputReplay();
        TheSaveManager = Game_SaveManager();
        TheSaveStream = SaveStream();
        ReplayPlaying = 0;
        TestPlay = false;
        SaveJustLoaded = 0;
        // System variable 24 (the saved flag) as the store's owner of system variables answers
        // it: from the system state the store is linked to.
        GetVariableStoreLinks().getSystemVariable = [](Game_Variables& store, std::int32_t n) {
            return n == 24 && store.systemState ? store.systemState->savedFlag : 0;
        };
        player_ = std::make_unique<Game_Player>();
        MapPlayer = player_.get();
    }

    void TearDown() override {
        std::filesystem::current_path(savedCwd_);
        MapPlayer = nullptr;
        ResetSavePartTable();
        ResetVariableStoreLinks();
        ResetSnapshotLiveServices();
        ResetSaveFileServices();
        TheSaveManager = Game_SaveManager();
        TheSaveStream = SaveStream();
        TheVariables = Game_Variables(Game_Variables::QuietConstruction{});
        TheSystemState = Game_SystemState(Game_SystemState::QuietConstruction{});
        TheMapState = Game_MapState();
        TheVariableDatabase = Game_Database();
        TheSystemDatabase = Game_Database();
        TheUserDatabase = Game_Database();
        DatabaseBaseline.clear();
        VariableDatabaseProjectSource = {};
        TheBasicData = Game_BasicData();
        TheGameSystem = Game_System(Game_System::QuietConstruction{});
        ReplayPlaying = 0;
        TestPlay = false;
        SaveJustLoaded = 0;
        ExeFolder.clear();
        DataPath.clear();
        DataFileTest::TearDown();
    }

    // System type 14 gives 20 normal variables.
    static void GiveNormalVariables() {
        if (TheSystemDatabase.TypeCount() < 24) TheSystemDatabase.SetTypeCount(24);
        Game_DatabaseType normal;
        normal.fieldKinds = {kNumberFieldBase};
        normal.entries.assign(20, Game_DatabaseEntry{{0}, {}});
        TheSystemDatabase.types[14] = normal;
    }

    // A live game whose parts all differ from their defaults.
    void FillLiveGame() {
        TheVariables.SetValue(2000003, 77);
        TheVariables.SetString(3000001, nullptr, "abc");
        TheSystemState.messageSpeed = 55;
        TheSystemState.SetScreenEffect(1, 10, 20, 30, 40);
        TheSystemState.fontNames[2] = "Font";
        TheMapState.mapId = 3;
        TheMapState.mapData.header.width = 2;
        TheMapState.mapData.header.height = 2;
        for (auto& layer : TheMapState.mapData.layers) layer.assign(4, 7);
        TheMapState.events.resize(2);
        TheMapState.events[1].id = 1;
        TheMapState.events[1].x = 9;
        TheMapState.intList = {1, 2, 3};
        player_->x = 12;
        player_->footsteps = {2, 4, 6};
        player_->pixelTrailX = {1};
        player_->pixelTrailY = {-1};
        player_->followers[4].y = 33;
        ASSERT_GT(TheVariableDatabase.DataCount(0), 0);
        ASSERT_FALSE(TheVariableDatabase.types[0].entries[0].strings.empty());
        TheVariableDatabase.types[0].entries[0].strings[0] = "changed";
    }

    std::string SlotFile(int slot) const {
        return Game_SaveManager::SlotPath(slot, kDefaultSavePrefix);
    }

    // The report lines' first texts, in order.
    static std::vector<std::string> ReportFirsts() {
        std::vector<std::string> out;
        for (const auto& r : shell_test::ReportCapture::reports()) out.push_back(r.first);
        return out;
    }

    shell_test::ReportCapture capture_;
    std::unique_ptr<Game_Player> player_;
    std::filesystem::path savedCwd_;
};

}  // namespace save_test
