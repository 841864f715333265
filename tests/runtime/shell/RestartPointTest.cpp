// The restart point over a game written by our own data writer, with the progress screen, the
// window title and the shut-down recorded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../data/DataTestSupport.h"
#include "FrameLoopTestSupport.h"
#include "SoundTestSupport.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/CommonEvent.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/script/CallCommands.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/GameRandom.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_InputReplay.h"
#include "runtime/shell/Game_Scene.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/MainLoop.h"
#include "runtime/shell/RestartPoint.h"
#include "runtime/shell/SceneServices.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

namespace {

std::vector<std::int32_t>& Progress() {
    static std::vector<std::int32_t> values;
    return values;
}
int& ShutDowns() {
    static int n = 0;
    return n;
}

class RestartPointTest : public DataFileTest {
  protected:
    void SetUp() override {
        DataFileTest::SetUp();
        saved_.Take();
        DataPath = dir.string() + "/";
        DataFolder = DataPath;
        ClearSceneServices();
        GetSceneServices().showStartupProgress = [](std::int32_t v) { Progress().push_back(v); };
        GetSceneServices().shutDownGame = [] { ++ShutDowns(); };
        Progress().clear();
        ShutDowns() = 0;
        sound_test::FakeLibrary::Install();
        GetGameInputDevices() = GameInputDevices{};
        GetSystemStateDrawing() = SystemStateDrawing{};
        GetGameSystemGraphics() = GameSystemGraphics{};
    }
    void TearDown() override {
        scene_.reset();
        ResetSceneServices();
        ResetSoundLibraryCalls();
        ResetGameInputDevices();
        GetSystemStateDrawing() = savedDrawing_;
        GetGameSystemGraphics() = savedGraphics_;
        ReplayPlaying = 0;
        saved_.Restore();
        DataFileTest::TearDown();
    }

    // A small game: common events (two named alike), the three databases and the tilesets.
    void WriteGame() {
        std::filesystem::create_directories(dir / "BasicData");
        Game_CommonEventList events;
        events.Resize(3);
        events.events[0].name = "Twin";
        events.events[2].name = "Twin";
        gamedata::DataFileOptions options;
        ASSERT_TRUE(gamedata::SaveBytes(PathOf("BasicData/CommonEvent.dat"),
                                        gamedata::WriteCommonEventFile(events, {}, options)));
        system_ = gamedata::MakeSampleDatabase(kSystemDatabase, 12, 3);
        ASSERT_TRUE(gamedata::SaveDatabaseFiles(PathOf("BasicData/SysDataBase"), system_, options));
        ASSERT_TRUE(gamedata::SaveDatabaseFiles(PathOf("BasicData/DataBase"),
                                                gamedata::MakeSampleDatabase(kUserDatabase, 4, 4),
                                                options));
        ASSERT_TRUE(gamedata::SaveDatabaseFiles(
            PathOf("BasicData/CDataBase"), gamedata::MakeSampleDatabase(kVariableDatabase, 3, 5),
            options));
        Game_TileSetList tiles;
        tiles.tileSets = {gamedata::MakeSampleTileSet(8, 1)};
        ASSERT_TRUE(gamedata::SaveBytes(PathOf("BasicData/TileSetData.dat"),
                                        gamedata::WriteTileSetData(tiles, 4, options)));
    }

    frame_test::VirtualClockScope clock_;
    std::unique_ptr<Game_Scene> scene_ = std::make_unique<Game_Scene>();
    Game_Database system_;

  private:
    struct Saved {
        Game_BasicData basic;
        Game_CommonEventList events;
        Game_System system{Game_System::QuietConstruction{}};
        Game_SystemState state{Game_SystemState::QuietConstruction{}};
        Game_Variables variables{Game_Variables::QuietConstruction{}};
        Game_Database user, variable, systemDb;
        GameIniValues ini;
        std::string dataPath, dataFolder;
        void Take() {
            basic = TheBasicData;
            events = TheCommonEvents;
            system = TheGameSystem;
            state = TheSystemState;
            variables = TheVariables;
            user = TheUserDatabase;
            variable = TheVariableDatabase;
            systemDb = TheSystemDatabase;
            ini = GameIniSettings;
            dataPath = DataPath;
            dataFolder = DataFolder;
        }
        void Restore() {
            TheBasicData = basic;
            TheCommonEvents = events;
            TheGameSystem = system;
            TheSystemState = state;
            TheVariables = variables;
            TheUserDatabase = user;
            TheVariableDatabase = variable;
            TheSystemDatabase = systemDb;
            GameIniSettings = ini;
            DataPath = dataPath;
            DataFolder = dataFolder;
            TheMapState = Game_MapState();
            TheSoundManager = Game_SoundManager();
            CommonEventNameMap.clear();
        }
    } saved_;
    SystemStateDrawing savedDrawing_ = GetSystemStateDrawing();
    GameSystemGraphics savedGraphics_ = GetGameSystemGraphics();
};

TEST_F(RestartPointTest, OnlyLaterPassesFadeTheProgressScreenIn) {
    // Without common events the pass stops at their reading, after the fade-in.
    RestartPointPass pass;
    EXPECT_FALSE(RunRestartPoint(*scene_, pass));
    EXPECT_FALSE(pass.firstPass);
    EXPECT_EQ(Progress(), (std::vector<std::int32_t>{-999, -1000, 20, 30, 33}));
    EXPECT_EQ(ShutDowns(), 1);

    Progress().clear();
    EXPECT_FALSE(RunRestartPoint(*scene_, pass));
    EXPECT_EQ(Progress(), (std::vector<std::int32_t>{-999, -1000, -100, -67, -34, -1, 20, 30, 33}));
    EXPECT_EQ(ShutDowns(), 2);
    // The fade waits 16 ms per step.
    EXPECT_EQ(frame_test::Clock().waits, (std::vector<std::int32_t>{16, 16, 16, 16}));

    // The main loop gives up with it.
    EXPECT_EQ(RunMainLoop(*scene_, pass), MainLoopEnd::RestartFailed);
}

TEST_F(RestartPointTest, BuildsTheGameAnewAndLeavesTheStartTransferPending) {
    WriteGame();
    GameIniSettings.FrameSkip = 5;
    TheGameSystem.gameState = GameState::Restart;
    TheGameSystem.ExtraWaitMs = 77;
    TheMapState.mapId = 12;
    RestartPointPass pass;
    pass.firstPass = false;
    ASSERT_TRUE(RunRestartPoint(*scene_, pass));
    EXPECT_EQ(ShutDowns(), 0);

    EXPECT_EQ(TheGameSystem.gameState, GameState::Run);
    EXPECT_EQ(TheGameSystem.ExtraWaitMs, 0);
    EXPECT_EQ(TheMapState.mapId, -1);
    EXPECT_EQ(TheGameSystem.transferPending, 0);
    EXPECT_EQ(TheGameSystem.transferMap, TheSystemDatabase.ReadNumber(7, 0, 0));
    EXPECT_EQ(TheGameSystem.transferX, 2 * TheSystemDatabase.ReadNumber(7, 0, 1));
    EXPECT_EQ(TheGameSystem.transferY, 2 * TheSystemDatabase.ReadNumber(7, 0, 2));
    // "FrameSkip=5" is applied as level 2.
    EXPECT_EQ(TheSystemState.frameSkipLevel, 2);
    EXPECT_FLOAT_EQ(TheSystemState.GetFrameSkipFactor(), 0.25f);
    // Of two common events named alike the later one is found.
    ASSERT_EQ(CommonEventNameMap.count("Twin"), 1u);
    EXPECT_EQ(CommonEventNameMap["Twin"], 2);
    EXPECT_EQ(TheCommonEvents.Count(), 3u);
    EXPECT_EQ(TheVariableDatabase.systemDatabase, &TheSystemDatabase);
    EXPECT_EQ(TheUserDatabase.variableDatabase, &TheVariableDatabase);
    EXPECT_EQ(TheVariables.systemState, &TheSystemState);
    EXPECT_EQ(Progress().back(), -999);
    EXPECT_EQ(Progress()[Progress().size() - 5], 100);
}

TEST_F(RestartPointTest, ReplayKeepsPlayingAndReseedsTheGenerator) {
    WriteGame();
    RestartPointPass pass;
    pass.firstPass = false;

    // Without a replay a new recording starts.
    TheInputReplay.counts = {7, 7};
    TheInputReplay.values = {1, 2};
    ASSERT_TRUE(RunRestartPoint(*scene_, pass));
    EXPECT_EQ(TheInputReplay.counts, (std::vector<std::uint8_t>{Game_InputReplay::kSeedTag}));

    // A playing replay stays and its first seed seeds the generator.
    ReplayPlaying = 1;
    TheInputReplay.counts = {Game_InputReplay::kSeedTag, 3};
    TheInputReplay.values = {12345, 0};
    ASSERT_TRUE(RunRestartPoint(*scene_, pass));
    EXPECT_EQ(TheInputReplay.values.front(), 12345);
    EXPECT_EQ(GameRandom(1, 0), 12345u);
}

}  // namespace
