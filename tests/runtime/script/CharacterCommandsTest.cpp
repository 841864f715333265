#include <gtest/gtest.h>

#include <array>

#include "CommandTestSupport.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/script/CharacterCommands.h"
#include "runtime/world/Game_Character.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"

using script_test::Command;
using script_test::CommandTest;
using script_test::Normal;

namespace {

std::array<Game_Character, 6>* gParty = nullptr;

class CharacterCommandsTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        for (std::int32_t code : {130, 201, 240, 241, 242, 270})
            saved_[code] = GetCommandHandler(code);
        InstallCharacterCommands();
        TheMapState = Game_MapState{};
        Game_MapState& map = TheMapState;
        map.mapId = 4;
        map.mapData.header.width = 3;
        map.mapData.header.height = 3;
        map.mapData.ResetLayers();
        for (auto& layer : map.mapData.layers) layer.assign(9, 0);
        map.tileFlags.assign(40, 0);
        map.loadedTileFlags = map.tileFlags;
        TheSystemState = Game_SystemState{};
        for (std::size_t k = 0; k < party.size(); ++k)
            party[k].id = -2 - static_cast<std::int32_t>(k);
        party[0].direction = 6;
        gParty = &party;
        InterpreterLinks& links = GetInterpreterLinks();
        links.mapId = [] { return TheMapState.mapId; };
        links.player = [] { return &(*gParty)[0]; };
        links.follower = [](std::int32_t i) -> Game_Character* {
            return i >= 0 && i < 5 ? &(*gParty)[static_cast<std::size_t>(i + 1)] : nullptr;
        };
        links.event = [](std::int32_t id) -> Game_Character* { return TheMapState.FindEvent(id); };
    }
    void TearDown() override {
        gParty = nullptr;
        ResetPartyLinks();
        TileSetReloadRequest = 0;
        TheMapState = Game_MapState{};
        TheSystemState = Game_SystemState{};
        CommandTest::TearDown();
    }
    std::vector<std::string> Graphics() const {
        std::vector<std::string> names;
        for (const Game_Character& c : party) names.push_back(c.graphicName);
        return names;
    }
    void SetGraphics(std::vector<std::string> names) {
        for (std::size_t k = 0; k < party.size(); ++k) party[k].SetGraphic(names[k]);
    }
    std::int32_t& Cell(std::int32_t x, std::int32_t y) { return TheMapState.mapData.Tile(0, x, y); }

    std::array<Game_Character, 6> party;
};

TEST_F(CharacterCommandsTest, TransferWaitsForAPendingOneAndFillsTheRequest) {
    TheGameSystem.transferPending = 1;
    Game_Interpreter& i = Load({Command({130, -1, 3, 5, 9, 0})});
    i.line = 0;
    i.currentCommand = &(*i.list)[0];
    EXPECT_FALSE(GetCommandHandler(130)(i));  // runs again next frame
    TheGameSystem.transferPending = 0;
    EXPECT_TRUE(GetCommandHandler(130)(i));
    EXPECT_EQ(TheGameSystem.transferPending, 1);
    EXPECT_EQ(TheGameSystem.transferMap, 9);
    EXPECT_EQ(TheGameSystem.transferX, 6);
    EXPECT_EQ(TheGameSystem.transferY, 10);
    EXPECT_EQ(TheGameSystem.transferDirection, 6);
    EXPECT_EQ(i.waitFrames, 1);

    // Half-tile coordinates with the option bit.
    TheGameSystem.transferPending = 0;
    EXPECT_TRUE(Execute(Command({130, -1, 3, 5, -1, 1})));
    EXPECT_EQ(TheGameSystem.transferMap, 4);
    EXPECT_EQ(TheGameSystem.transferX, 3);
}

TEST_F(CharacterCommandsTest, AVariableHoldingMinusTwoTransfersWithinTheCurrentMap) {
    TheVariables.SetValue(Normal(1), -2);
    EXPECT_TRUE(Execute(Command({130, Normal(1), 1, 2, 77})));
    EXPECT_EQ(TheGameSystem.transferMap, 4);
    EXPECT_EQ(TheGameSystem.transferX, 2);
    EXPECT_EQ(TheGameSystem.transferY, 4);

    // A resolved value of -1000 or less does nothing; a follower is placed, not transferred.
    TheGameSystem.transferPending = 0;
    TheVariables.SetValue(Normal(1), -1000);
    EXPECT_TRUE(Execute(Command({130, Normal(1), 1, 2, 77})));
    EXPECT_EQ(TheGameSystem.transferPending, 0);
    EXPECT_TRUE(Execute(Command({130, -4, 2, 1, 0})));
    EXPECT_EQ(party[2].x, 4);
    EXPECT_EQ(party[2].y, 2);
    EXPECT_EQ(TheGameSystem.transferPending, 0);
}

TEST_F(CharacterCommandsTest, FillingACellBesideTheSameAutotileJoinsBothAndTheMapEdge) {
    Cell(1, 1) = 300000;  // autotile 3 standing alone
    // Literal chip 2 is autotile 3.
    EXPECT_TRUE(Execute(Command({242, 1, 2, 1, 1, 1, 2})));
    // Joined left (the autotile) and right (beyond the edge) only.
    EXPECT_EQ(Cell(2, 1), 302222);
    // The neighbour now joins to the right.
    EXPECT_EQ(Cell(1, 1), 300202);
    EXPECT_EQ(Cell(0, 1), 0);

    // Out of range layers, positions and chips change nothing.
    EXPECT_TRUE(Execute(Command({242, 4, 0, 0, 1, 1, 2})));
    EXPECT_TRUE(Execute(Command({242, 1, 3, 0, 1, 1, 2})));
    EXPECT_EQ(Cell(0, 0), 0);
    // A base chip is stored as its tile number; width and height are cut to the map.
    EXPECT_TRUE(Execute(Command({242, 1, 0, 0, 9, 1, 8})));
    EXPECT_EQ(Cell(0, 0), 0);
    EXPECT_EQ(Cell(2, 0), 0);
    EXPECT_TRUE(Execute(Command({242, 1, 0, 2, 9, 9, 9})));
    EXPECT_EQ(Cell(0, 2), 1);
    EXPECT_EQ(Cell(2, 2), 1);
}

TEST_F(CharacterCommandsTest, ChipFlagChangesAreUndoneAndTheTilesetSwitchReloads) {
    Game_MapState& map = TheMapState;
    EXPECT_TRUE(Execute(Command({240, 2, 0xF})));
    EXPECT_TRUE(Execute(Command({240, 8, 0x80})));  // base chip 0: chip number 32
    EXPECT_EQ(map.tileFlags[2], 0xF);
    EXPECT_EQ(map.tileFlags[32], 0x80);
    EXPECT_EQ(TileSetReloadRequest, 1);
    EXPECT_TRUE(Execute(Command({240, -1000000, 0})));
    EXPECT_EQ(map.tileFlags, map.loadedTileFlags);

    Game_TileSet other;
    other.imageFiles[0] = "Other.png";
    other.chipFlags.assign(40, 0x4);
    other.chipTags.assign(40, 7);
    map.tileSetList.tileSets.push_back(other);
    TileSetReloadRequest = 0;
    EXPECT_TRUE(Execute(Command({241, 5})));  // no such tileset
    EXPECT_EQ(TileSetReloadRequest, 0);
    EXPECT_TRUE(Execute(Command({241, 1})));
    EXPECT_EQ(map.imageNames[0], "Other.png");
    EXPECT_EQ(map.tileFlags[3], 0x4);
    EXPECT_EQ(map.loadedTileFlags[3], 0x4);
    EXPECT_EQ(map.tileTags[3], 7);
    EXPECT_EQ(TileSetReloadRequest, 1);
    EXPECT_EQ(TheGameSystem.characterGraphicsChanged, 1);
}

TEST_F(CharacterCommandsTest, PartyOperations) {
    SetGraphics({"A.png", "", "B.png", "", "", ""});
    EXPECT_TRUE(Execute(Command({270, 4})));  // close the gaps
    EXPECT_EQ(Graphics(), (std::vector<std::string>{"A.png", "B.png", "", "", "", ""}));

    EXPECT_TRUE(Execute(Command({270, 1, 1}, {"C.png"})));  // insert at the front
    EXPECT_EQ(Graphics(), (std::vector<std::string>{"C.png", "A.png", "B.png", "", "", ""}));
    SetGraphics({"1", "2", "3", "4", "5", "6"});
    EXPECT_TRUE(Execute(Command({270, 1, 6}, {"X"})));  // at member 6 only member 6 changes
    EXPECT_EQ(Graphics(), (std::vector<std::string>{"1", "2", "3", "4", "5", "X"}));

    EXPECT_TRUE(Execute(Command({270, 0x70 | 4})));  // remember, clear, bring back
    EXPECT_TRUE(Execute(Command({270, 0x10 | 4})));
    EXPECT_EQ(Graphics(), std::vector<std::string>(6));
    EXPECT_TRUE(Execute(Command({270, 0x80 | 4})));
    EXPECT_EQ(Graphics(), (std::vector<std::string>{"1", "2", "3", "4", "5", "X"}));

    // The name from a string variable, with its backslashes made single.
    TheVariables.SetString(script_test::Text(0), nullptr,
                           std::string("a\\\\b") + kLiteralBackslashCode);
    EXPECT_TRUE(Execute(Command({270, 0x100 | 2, 2, script_test::Text(0)})));
    EXPECT_EQ(party[1].graphicName, "a\\b\\");
    EXPECT_TRUE(Execute(Command({270, 3}, {"X"})));
    EXPECT_EQ(party[5].graphicName, "");
}

TEST_F(CharacterCommandsTest, MemberNumbersOutsideTheParty) {
    SetGraphics({"1", "2", "3", "4", "5", "6"});
    const struct {
        std::int32_t member;
        const char* first;
        const char* second;
    } cases[] = {
        {0, "キャラ操作エラー：「0」人目以下の値が指定されました",
         "この指定は「1」人目以上でなければなりません"},
        {7, "キャラ操作エラー：「7」人目以上の値が指定されました",
         "この指定は「6」人目以下でなければなりません"},
    };
    for (const auto& c : cases) {
        Reports().clear();
        EXPECT_TRUE(Execute(Command({270, 2, c.member}, {"Z"})));
        ASSERT_EQ(Reports().size(), 1u);
        EXPECT_EQ(Reports()[0].first, c.first);
        EXPECT_EQ(Reports()[0].second, c.second);
    }
    EXPECT_EQ(Graphics(), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
}

TEST_F(CharacterCommandsTest, MoveRouteAssignsTheRouteAndMayMakeTheScriptWait) {
    Game_EventCommand command = Command({201, -2});
    Game_MoveRoute route;
    route.routeOptions = 4;
    route.commands.resize(1);
    route.commands[0].code = 45;
    route.commands[0].arguments = {Normal(2)};
    command.moveRoute = route;
    TheVariables.SetValue(Normal(2), 40);
    TheBasicData.settingNumbers.assign(40, 0);
    TheBasicData.settingNumbers[15] = 230;
    EXPECT_TRUE(Execute(command));
    EXPECT_EQ(party[0].opacity, 40);
    EXPECT_EQ(interpreter_->routeWaitTarget, -2);
}

TEST_F(CharacterCommandsTest, FollowerStepModesReachTheLivePlayer) {
    Game_Player live;
    Game_Player* saved = MapPlayer;
    MapPlayer = &live;
    live.lastStepWhileFrozen = 6;
    EXPECT_TRUE(Execute(Command({270, 0x30 | 4})));
    EXPECT_EQ(live.trailFrozen, 1);
    EXPECT_EQ(live.lastStepWhileFrozen, 0);
    EXPECT_TRUE(Execute(Command({270, 0x40 | 4})));
    EXPECT_EQ(live.trailFrozen, 0);
    EXPECT_TRUE(Execute(Command({270, 0x90 | 4})));
    EXPECT_EQ(TheSystemState.partyFollowing, 1);
    EXPECT_TRUE(Execute(Command({270, 0xA0 | 4})));
    EXPECT_EQ(TheSystemState.partyFollowing, 0);
    MapPlayer = saved;
}

}  // namespace
