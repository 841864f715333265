// A live map loaded from a map file that the game-data writer made, with map events built from
// their records, a live player, 20 normal variables and the variable command, so that events can
// select pages, start and run their commands through the main interpreter frame by frame.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runtime/data/BasicData.h"
#include "runtime/data/CommonEvent.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/script/VariableCommands.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ReportCapture.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_Event.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"
#include "runtime/world/WorldTestSupport.h"
#include "tools/gamedata/GameDataWriter.h"

namespace world_test {

inline constexpr std::int32_t kCounterChip = 2;
inline constexpr std::int32_t kWallChip = 1;

inline std::int32_t NormalVariable(std::int32_t n) {
    return 2000000 + n;
}

inline Game_EventCommand MakeCommand(std::vector<std::int32_t> arguments) {
    Game_EventCommand c;
    c.arguments = std::move(arguments);
    return c;
}

// Normal variable n += v.
inline Game_EventCommand AddToVariable(std::int32_t n, std::int32_t v) {
    return MakeCommand({121, NormalVariable(n), v, 0, 0xC | 1 << 8});
}

// A page that always holds, with the trigger, look and commands given.
inline Game_EventPage MakePage(std::int32_t trigger, const std::string& graphic,
                               std::vector<Game_EventCommand> commands = {}) {
    Game_EventPage page;
    page.graphicFile = graphic;
    page.condition.trigger = static_cast<std::uint8_t>(trigger);
    commands.push_back(MakeCommand({kEndOfListCode}));
    page.commands = std::move(commands);
    page.commandCount = static_cast<std::int32_t>(page.commands.size());
    return page;
}

inline Game_EventData MakeEventData(std::int32_t id, std::int32_t tx, std::int32_t ty,
                                    std::vector<Game_EventPage> pages) {
    Game_EventData e;
    e.id = id;
    e.name = "Ev" + std::to_string(id);
    e.x = tx;
    e.y = ty;
    e.pages = std::move(pages);
    e.pageCount = static_cast<std::int32_t>(e.pages.size());
    return e;
}

class WriterMapTest : public WorldTest {
  protected:
    void SetUp() override {
        WorldTest::SetUp();
        savedDatabase_ = TheSystemDatabase;
        savedDataPath_ = DataPath;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() /
               ("velk_world_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
                std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        DataPath = dir_.string() + "/";
        TheSystemDatabase = Game_Database();
        TheSystemDatabase.kind = kSystemDatabase;
        TheSystemDatabase.SetTypeCount(24);
        Game_DatabaseType settings;
        settings.fieldKinds = {kStringFieldBase, kNumberFieldBase, kNumberFieldBase + 1,
                               kNumberFieldBase + 2, kNumberFieldBase + 3};
        Game_DatabaseEntry entry;
        entry.strings = {"m.mps"};
        entry.numbers = {-2, -2, 0, -1};
        settings.entries = {entry, entry};
        TheSystemDatabase.types[0] = settings;
        Game_DatabaseType normal;
        normal.fieldKinds = {kNumberFieldBase};
        normal.entries.assign(20, Game_DatabaseEntry{{0}, {}});
        TheSystemDatabase.types[14] = normal;
        TheCommonEvents = Game_CommonEventList();
        TheVariables = Game_Variables();
        TheGameSystem = Game_System(Game_System::QuietConstruction{});
        TheGameSystem.gameState = GameState::Run;
        TheInput = Game_Input();
        savedHandler_ = GetCommandHandler(121);
        InstallVariableCommands();
        InstallMapLinks();
        TheSystemState.mainInterpreter.Setup(true);
        SaveJustLoaded = 0;
        CommandStepCounter = 0;
        RunningInterpreter = nullptr;
    }
    void TearDown() override {
        SetCommandHandler(121, savedHandler_);
        ResetInterpreterLinks();
        ResetVariableStoreLinks();
        TheSystemState = Game_SystemState{};
        TheSystemDatabase = savedDatabase_;
        DataPath = savedDataPath_;
        TheCommonEvents = Game_CommonEventList();
        TheVariables = Game_Variables(Game_Variables::QuietConstruction{});
        TheGameSystem = Game_System(Game_System::QuietConstruction{});
        TheInput = Game_Input();
        RunningInterpreter = nullptr;
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        WorldTest::TearDown();
    }

    // A 20 x 15 map of open ground (chip 0); chip 1 is a wall, chip 2 a blocking counter.
    static Game_MapData GroundMap(std::int32_t w = 20, std::int32_t h = 15) {
        Game_MapData map;
        map.header.name = "Test";
        map.header.tileSetNumber = 0;
        map.header.width = w;
        map.header.height = h;
        map.ResetLayers();
        for (std::int32_t& v : map.layers[0]) v = kGround;
        return map;
    }

    // Writes the map with the game-data writer, loads it as map 1 and puts the player at half
    // tile (px, py).
    void Load(Game_MapData map, std::int32_t px = 10, std::int32_t py = 10) {
        map.header.eventCount = static_cast<std::int32_t>(map.events.size());
        ASSERT_TRUE(
            gamedata::SaveBytes((dir_ / "m.mps").string(), gamedata::WriteMapFile(map, {})));
        Game_TileSet tiles;
        tiles.chipFlags.assign(64, 0);
        tiles.chipTags.assign(64, 0);
        tiles.chipFlags[32 + kWallChip] = 0xF;
        tiles.chipFlags[32 + kCounterChip] = 0xF | TileFlag::Counter;
        TheMapState.tileSetList.tileSets = {tiles};
        Game_Player& player = RebuildPlayer();
        ASSERT_TRUE(TheMapState.LoadMap(1));
        player.TransferTo(px, py);
        player.GatherFollowers();
    }

    Game_Player& Player() { return *MapPlayer; }
    Game_Event& Event(std::int32_t id) { return *TheMapState.FindEvent(id); }
    std::int32_t Variable(std::int32_t n) { return TheVariables.GetValue(NormalVariable(n)); }

    // One frame in the scene's order: the map, the player's update phase, the main interpreter,
    // the player's input phase.
    void Frame() {
        TheMapState.Update();
        Player().UpdateInput(false, true);
        TheSystemState.mainInterpreter.Update();
        Player().UpdateInput(true, false);
        TheInput.gameButtonPressed[Decide] = 0;
    }
    void Frames(int n) {
        for (int i = 0; i < n; ++i) Frame();
    }
    // Holds a direction (0 none) for the next frames.
    static void Hold(int dir) {
        TheInput.dir8 = dir;
        TheInput.dir4 = dir;
    }
    static void PressDecide() { TheInput.gameButtonPressed[Decide] = 1; }

    shell_test::ReportCapture capture_;

  private:
    std::filesystem::path dir_;
    Game_Database savedDatabase_;
    std::string savedDataPath_;
    CommandHandler savedHandler_ = nullptr;
};

}  // namespace world_test
