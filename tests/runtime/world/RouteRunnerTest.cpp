#include <gtest/gtest.h>

#include "runtime/data/Game_Database.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/ReportCapture.h"
#include "runtime/world/Game_Character.h"
#include "runtime/world/Game_Player.h"
#include "runtime/world/WorldTestSupport.h"
#include "runtime/world/WriterMapSupport.h"

using world_test::WorldTest;

namespace {

Game_MoveCommand Cmd(std::uint8_t code, std::vector<std::int32_t> arguments = {}) {
    Game_MoveCommand c;
    c.code = code;
    c.arguments = std::move(arguments);
    return c;
}

Game_MoveRoute Route(std::vector<Game_MoveCommand> commands, std::uint8_t options = 0) {
    Game_MoveRoute r;
    r.routeOptions = options;
    r.commands = std::move(commands);
    return r;
}

class RouteRunnerTest : public WorldTest {
  protected:
    void SetUp() override {
        WorldTest::SetUp();
        TheSystemDatabase = Game_Database();
        TheSystemDatabase.kind = kSystemDatabase;
        TheSystemDatabase.SetTypeCount(24);
        Game_DatabaseType normal;
        normal.fieldKinds = {kNumberFieldBase};
        normal.entries.assign(20, Game_DatabaseEntry{{0}, {}});
        TheSystemDatabase.types[14] = normal;
        GetVariableStoreLinks().liveMapId = [] { return 1; };
        TheVariables = Game_Variables();
        player.id = -2;
        player.isPlayer = 1;
        player.PlaceAt(2, 2, 1);
        MapPlayer = &player;
        event.id = 12;
        event.PlaceAt(10, 10, 1);
    }
    void TearDown() override {
        ResetVariableStoreLinks();
        TheVariables = Game_Variables(Game_Variables::QuietConstruction{});
        TheSystemDatabase = Game_Database();
        WorldTest::TearDown();
    }
    // Lets a started step finish.
    static void Settle(Game_Character& c) {
        for (int i = 0; i < 64 && c.CheckBetweenTiles(); ++i) c.Update();
    }

    shell_test::ReportCapture capture;
    Game_Player player;
    Game_Character event;
};

TEST_F(RouteRunnerTest, AnEmptyAssignedRouteEndsAtOnceAndBringsBackTheOwnRoute) {
    event.currentRoute = Route({Cmd(8), Cmd(9)}, 1);
    event.commandIndex = 1;
    event.standingFrames = 40;
    event.AssignMoveRoute(Route({}));
    EXPECT_EQ(event.routeRunning, 0);
    EXPECT_EQ(event.currentRoute.commands.size(), 2u);
    EXPECT_EQ(event.commandIndex, 1);
    EXPECT_TRUE(event.savedRoute.commands.empty());
    EXPECT_EQ(event.standingFrames, 0);

    // Assigned while moving, the route ends at the first call after the character came to rest.
    ASSERT_EQ(event.MoveRight(true), 1);
    event.AssignMoveRoute(Route({}));
    EXPECT_EQ(event.routeRunning, 1);
    Settle(event);
    event.RunMoveRoute();
    EXPECT_EQ(event.routeRunning, 0);
}

TEST_F(RouteRunnerTest, ARepeatingRouteOfSettingsRunsEachCommandOncePerCall) {
    const std::int32_t v = 2000001;
    event.AssignMoveRoute(Route({Cmd(55, {v, 1}), Cmd(55, {v, 10})}, 1));
    EXPECT_EQ(TheVariables.GetValue(v), 11);
    EXPECT_EQ(event.commandIndex, 0);
    EXPECT_EQ(event.routeRunning, 1);  // a repeating route never ends by itself
    event.RunMoveRoute();
    EXPECT_EQ(TheVariables.GetValue(v), 22);
    EXPECT_EQ(TheMapState.refreshRequest, 1);
}

TEST_F(RouteRunnerTest, SettingCommandsTakeTheirValues) {
    struct Case {
        std::vector<Game_MoveCommand> commands;
        std::int16_t opacity;
        std::int32_t wait;
    };
    const Case cases[] = {
        {{Cmd(45, {300})}, 255, 0},
        {{Cmd(45, {-5})}, 0, 0},
        // A wait of 0 does not stop the call: the next command runs at once.
        {{Cmd(47, {0}), Cmd(45, {7})}, 7, 0},
        {{Cmd(47, {-3}), Cmd(45, {8})}, 8, -3},
        {{Cmd(47, {5}), Cmd(45, {9})}, 255, 5},
    };
    for (const Case& c : cases) {
        Game_Character e;
        e.id = 3;
        e.PlaceAt(4, 4, 1);
        e.AssignMoveRoute(Route(c.commands));
        EXPECT_EQ(e.opacity, c.opacity);
        EXPECT_EQ(e.waitFrames, c.wait);
    }
}

TEST_F(RouteRunnerTest, ThisEventSelfVariablesNameTheCharacterAndAreRefusedForThePlayer) {
    event.AssignMoveRoute(Route({Cmd(28, {1100003, 77})}));
    EXPECT_EQ(TheVariables.GetValue(1000123), 77);
    EXPECT_TRUE(capture.reports().empty());

    player.AssignMoveRoute(Route({Cmd(28, {1100003, 5}), Cmd(45, {1600001})}));
    ASSERT_EQ(capture.reports().size(), 2u);
    EXPECT_EQ(capture.reports()[0].first,
              "[動作指定]主人公あるいは仲間に対してはセルフ変数を利用できません。");
    EXPECT_EQ(capture.reports()[1].first, "[動作指定]ではコモンセルフ変数を利用できません。");
    EXPECT_EQ(capture.reports()[1].third, "");
    EXPECT_EQ(TheVariables.GetValue(1000023), 0);
    EXPECT_EQ(player.opacity, 0);  // the refused argument runs as 0
    EXPECT_EQ(player.routeRunning, 0);
}

TEST_F(RouteRunnerTest, BlockedStepsWaitUnlessSkippedAndJumpsCountAtOnce) {
    // A step toward the tile already stood on moves nothing and stays on that command.
    event.AssignMoveRoute(Route({Cmd(54, {5, 5}), Cmd(45, {1})}));
    EXPECT_EQ(event.commandIndex, 0);
    EXPECT_EQ(event.opacity, 255);
    event.RunMoveRoute();
    EXPECT_EQ(event.commandIndex, 0);

    Game_Character other;
    other.id = 4;
    other.PlaceAt(4, 4, 1);
    other.AssignMoveRoute(Route({Cmd(54, {2, 2}), Cmd(45, {1})}, 2));
    EXPECT_EQ(other.commandIndex, 1);  // skip bit: passed over

    Game_Character jumper;
    jumper.id = 5;
    jumper.PlaceAt(6, 6, 1);
    jumper.AssignMoveRoute(Route({Cmd(21, {0, 0}), Cmd(45, {1})}));
    EXPECT_EQ(jumper.commandIndex, 1);
    EXPECT_TRUE(jumper.IsJumping());
}

TEST_F(RouteRunnerTest, StepsAndTurnsEndTheCall) {
    event.AssignMoveRoute(Route({Cmd(2), Cmd(9), Cmd(45, {3})}));
    EXPECT_EQ(event.x, 11);
    EXPECT_EQ(event.commandIndex, 1);
    event.RunMoveRoute();  // still between tiles: nothing
    EXPECT_EQ(event.commandIndex, 1);
    // The frame update runs the route once the step is done: the turn ends that call.
    while (event.commandIndex == 1) event.Update();
    EXPECT_EQ(event.direction, 4);
    EXPECT_EQ(event.commandIndex, 2);
    EXPECT_EQ(event.opacity, 255);
    event.Update();
    EXPECT_EQ(event.opacity, 3);
    EXPECT_EQ(event.routeRunning, 0);
}

TEST_F(RouteRunnerTest, RunAtOnceStartsARouteWhileSliding) {
    ASSERT_EQ(event.MoveRight(true), 1);
    TheSystemState.runMoveRoutesAtOnce = 1;
    event.AssignMoveRoute(Route({Cmd(2)}));
    EXPECT_EQ(event.x, 12);  // from the cell the step under way leads to
    TheSystemState.runMoveRoutesAtOnce = 0;
    Game_Character slow;
    slow.id = 6;
    slow.PlaceAt(4, 4, 1);
    ASSERT_EQ(slow.MoveRight(true), 1);
    slow.AssignMoveRoute(Route({Cmd(2)}));
    EXPECT_EQ(slow.x, 5);
}

TEST_F(RouteRunnerTest, StandingPatternsSetThePatternFromDataVersion306) {
    for (std::int16_t version : {305, 306}) {
        TheBasicData.settingNumbers[15] = version;
        Game_Character c;
        c.id = 7;
        c.PlaceAt(4, 4, 1);
        c.pattern = 1;
        c.AssignMoveRoute(Route({Cmd(52)}));
        EXPECT_EQ(c.standingPattern, 2);
        EXPECT_EQ(c.pattern, version >= 306 ? 2 : 1) << version;
    }
}

// The same step bumps into the player: from the event's own route it starts the event, from an
// assigned route it does not.
class RouteTouchTest : public world_test::WriterMapTest {};

TEST_F(RouteTouchTest, OnlyThePageRouteStartsAnEventByTouch) {
    Game_MapData map = GroundMap();
    map.events.push_back(
        world_test::MakeEventData(1, 6, 5,
                                  {world_test::MakePage(TriggerKind::EventTouch, "Guard.png",
                                                        {world_test::AddToVariable(1, 1)})}));
    Load(map, 10, 10);
    Game_Event& event = Event(1);
    event.AssignMoveRoute(Route({Cmd(1)}));
    EXPECT_EQ(event.startFlag, 0);
    EXPECT_EQ(event.x, 12);  // blocked by the player

    event.routeRunning = 0;
    event.currentRoute = Route({Cmd(1)});
    event.commandIndex = 0;
    event.RunPageRoute();
    EXPECT_EQ(event.startFlag, 1);
}

}  // namespace
