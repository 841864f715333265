#include "runtime/world/WriterMapSupport.h"

using namespace world_test;

namespace {

class EventTest : public WriterMapTest {
  protected:
    void SetUp() override {
        WriterMapTest::SetUp();
        TheBasicData.settingBytes[2] = 4;  // four movement directions
    }
};

TEST_F(EventTest, AnEventWhosePagesAllFailShowsNothingPassesAndNeverStarts) {
    Game_EventPage page = MakePage(TriggerKind::DecisionKey, "Guard.png", {AddToVariable(1, 1)});
    page.condition.conditions[0] = 1 | 2 << 4;  // variable 1 == 5
    page.condition.variableIds[0] = NormalVariable(1);
    page.condition.values[0] = 5;
    Game_MapData map = GroundMap();
    map.events = {MakeEventData(0, 6, 4, {page})};
    Load(map, 12, 10);
    Game_Event& e = Event(0);
    EXPECT_EQ(e.pageIndex, -1);
    EXPECT_FALSE(e.IsVisible());
    EXPECT_TRUE(e.passThrough);
    EXPECT_EQ(e.RequestStart(), 0);
    Player().direction = 8;
    PressDecide();
    Frames(3);
    EXPECT_EQ(e.startFlag, 0);
    EXPECT_EQ(Variable(1), 0);
    // Once the condition holds the page is taken at the next refresh.
    TheVariables.SetValue(NormalVariable(1), 5);
    TheMapState.RefreshEvents();
    EXPECT_EQ(e.pageIndex, 0);
    EXPECT_TRUE(e.IsVisible());
    EXPECT_FALSE(e.passThrough);
}

TEST_F(EventTest, TouchEventsStartOnArrivalWhenInvisibleAndOnABumpWhenSolid) {
    Game_MapData map = GroundMap();
    map.events = {
        MakeEventData(0, 7, 5, {MakePage(TriggerKind::PlayerTouch, "", {AddToVariable(1, 1)})}),
        MakeEventData(1, 7, 3,
                      {MakePage(TriggerKind::PlayerTouch, "Guard.png", {AddToVariable(2, 1)})})};
    Load(map, 10, 10);
    Game_Event& hidden = Event(0);  // at half tile (14, 10)
    Game_Event& solid = Event(1);   // at (14, 6)
    ASSERT_TRUE(hidden.IsWalkable());
    ASSERT_FALSE(solid.IsWalkable());
    Hold(6);
    int frames = 0;
    while (Player().x < 14 && frames < 200) {
        // Walking toward the hidden event does not start it.
        EXPECT_EQ(hidden.startFlag, 0) << "x " << Player().x;
        Frame();
        ++frames;
    }
    Hold(0);
    EXPECT_EQ(hidden.startFlag, 0);  // the step onto it did not start it; the arrival will
    EXPECT_EQ(Variable(1), 0);
    Frames(20);
    ASSERT_EQ(Player().x, 14);
    EXPECT_EQ(Variable(1), 1);  // started once the player stopped on it, and run
    EXPECT_EQ(hidden.startFlag, 0);

    // Below the solid one, a step up bumps into it.
    Player().TransferTo(14, 7);
    Hold(8);
    Player().UpdateInput(true, false);
    EXPECT_EQ(Player().y, 7);  // blocked
    EXPECT_EQ(solid.startFlag, 1);
    Hold(0);
    Frames(3);
    EXPECT_EQ(Variable(2), 1);
}

TEST_F(EventTest, ADecisionKeyEventBehindACounterStartsWhenThePlayerFacesTheCounter) {
    TheBasicData.settingBytes[8] = 1;  // whole-tile steps
    struct Case {
        std::int32_t chip;
        bool starts;
    };
    for (const Case c : {Case{kCounterChip, true}, Case{kWallChip, false}}) {
        Game_MapData map = GroundMap();
        map.Tile(0, 5, 4) = c.chip;
        map.events = {MakeEventData(0, 5, 3, {MakePage(TriggerKind::DecisionKey, "Clerk.png")})};
        Load(map, 10, 10);
        Player().ApplyGameSettings();
        Player().direction = 8;
        EXPECT_EQ(Player().StartEventsAhead(TriggerMask(TriggerKind::DecisionKey)), c.starts)
            << c.chip;
        EXPECT_EQ(Event(0).startFlag, c.starts ? 1 : 0);
    }
}

TEST_F(EventTest, TimedEraseFadesThenLeavesNoPageAndBlocksStarts) {
    Game_MapData map = GroundMap();
    map.events = {MakeEventData(0, 5, 4, {MakePage(TriggerKind::DecisionKey, "Guard.png", {})})};
    Load(map, 10, 9);  // facing the event's foot row
    Game_Event& e = Event(0);
    Player().direction = 8;
    ASSERT_TRUE(Player().StartEventsAhead(TriggerMask(TriggerKind::DecisionKey)));
    ASSERT_EQ(e.startFlag, 1);
    e.ClearStartFlag();
    e.StartTimedErase(30);
    for (int frame = 1; frame <= 30; ++frame) {
        e.Update();
        EXPECT_EQ(e.opacity, 255 * (30 - frame) / 30) << frame;
        EXPECT_EQ(e.pageIndex, 0);
        Player().StartEventsAhead(TriggerMask(TriggerKind::DecisionKey));
        EXPECT_EQ(e.startFlag, 0) << frame;
    }
    e.Update();
    EXPECT_EQ(e.pageIndex, -1);
    EXPECT_TRUE(e.erased);
    EXPECT_EQ(e.opacity, 0);
    EXPECT_FALSE(e.IsVisible());
    EXPECT_EQ(e.RequestStart(), 0);
    TheMapState.RefreshEvents();
    EXPECT_EQ(e.pageIndex, -1);  // an erased event keeps no page
}

TEST_F(EventTest, AnAutomaticEventIsFlaggedEveryFrameWhileItsPageHolds) {
    Game_EventPage page = MakePage(TriggerKind::Automatic, "");
    page.condition.conditions[0] = 1 | 2 << 4;  // variable 2 == 0
    page.condition.variableIds[0] = NormalVariable(2);
    page.condition.values[0] = 0;
    Game_MapData map = GroundMap();
    map.events = {MakeEventData(0, 2, 2, {page})};
    Load(map, 10, 10);
    Game_Event& e = Event(0);
    for (int frame = 0; frame < 3; ++frame) {
        e.ClearStartFlag();
        e.Update();
        EXPECT_EQ(e.startFlag, 1) << frame;
    }
    TheVariables.SetValue(NormalVariable(2), 1);
    TheMapState.RefreshEvents();
    EXPECT_EQ(e.pageIndex, -1);
    e.Update();
    EXPECT_EQ(e.startFlag, 0);
}

TEST_F(EventTest, OnlyTheFirstPageDecidesAHalfTileStart) {
    Game_EventPage plain = MakePage(TriggerKind::DecisionKey, "A.png");
    Game_EventPage shifted = MakePage(TriggerKind::DecisionKey, "B.png");
    shifted.movement.options |= 0x40 | 0x80;
    Game_MapData map = GroundMap();
    map.events = {MakeEventData(0, 4, 3, {plain, shifted}),
                  MakeEventData(1, 6, 5, {shifted, plain})};
    Load(map, 10, 10);
    Game_Event& wholeTiles = Event(0);
    EXPECT_EQ(wholeTiles.pageIndex, 1);  // the last page that holds
    EXPECT_EQ(wholeTiles.graphicName, "B.png");
    EXPECT_EQ(wholeTiles.x, 8);
    EXPECT_EQ(wholeTiles.y, 6);
    EXPECT_EQ(wholeTiles.fineY, 6 * 2 * TileSize);
    Game_Event& halfTiles = Event(1);
    EXPECT_EQ(halfTiles.x, 11);
    EXPECT_EQ(halfTiles.y, 9);
    EXPECT_EQ(halfTiles.fineX, 11 * 2 * TileSize);
}

TEST_F(EventTest, ThePostLoadUpdateKeepsTheRestoredLookAndMovement) {
    Game_EventPage first = MakePage(TriggerKind::DecisionKey, "A.png");
    Game_EventPage second = MakePage(TriggerKind::Parallel, "B.png");
    second.condition.conditions[0] = 1 | 2 << 4;  // variable 5 == 1
    second.condition.variableIds[0] = NormalVariable(5);
    second.condition.values[0] = 1;
    second.movement.setting2 = 6;
    second.graphicTile = 7;
    Game_MapData map = GroundMap();
    map.events = {MakeEventData(0, 4, 3, {first, second})};
    Load(map, 10, 10);
    Game_Event& e = Event(0);
    e.SetGraphic("Restored.png");
    e.moveSpeed = 2;
    TheVariables.SetValue(NormalVariable(5), 1);
    PostLoadUpdate = 1;
    TheMapState.RefreshEvents();
    PostLoadUpdate = 0;
    EXPECT_EQ(e.pageIndex, 1);
    EXPECT_EQ(e.graphicName, "Restored.png");
    EXPECT_EQ(e.moveSpeed, 2);
    EXPECT_EQ(e.tileGraphic, 7);  // the rest of the page is taken
    EXPECT_EQ(e.triggerKind, TriggerKind::Parallel);
    EXPECT_NE(e.ParallelInterpreter(), nullptr);
}

TEST_F(EventTest, APageChangeWhileAnAssignedRouteRunsOnlyReplacesTheParkedRoute) {
    Game_EventPage first = MakePage(TriggerKind::DecisionKey, "A.png");
    first.movement.commands = {Game_MoveCommand{1, {}, ""}};
    Game_EventPage second = first;
    second.condition.conditions[0] = 1 | 2 << 4;  // variable 3 == 1
    second.condition.variableIds[0] = NormalVariable(3);
    second.condition.values[0] = 1;
    second.movement.commands = {Game_MoveCommand{2, {}, ""}, Game_MoveCommand{3, {}, ""}};
    Game_MapData map = GroundMap();
    map.events = {MakeEventData(0, 4, 3, {first, second})};
    Load(map, 10, 10);
    Game_Event& e = Event(0);
    Game_MoveRoute assigned;
    assigned.commands = {Game_MoveCommand{0, {}, ""}};
    e.AssignMoveRoute(assigned);
    TheVariables.SetValue(NormalVariable(3), 1);
    TheMapState.RefreshEvents();
    EXPECT_EQ(e.pageIndex, 1);
    EXPECT_TRUE(e.routeRunning);
    EXPECT_EQ(e.currentRoute.commands, assigned.commands);
    EXPECT_EQ(e.savedRoute.commands, second.movement.commands);
}

TEST_F(EventTest, AParallelPageRunsInItsOwnInterpreterEveryFrame) {
    Game_MapData map = GroundMap();
    map.events = {
        MakeEventData(0, 2, 2, {MakePage(TriggerKind::Parallel, "", {AddToVariable(4, 1)})})};
    Load(map, 10, 10);
    ASSERT_NE(Event(0).ParallelInterpreter(), nullptr);
    Frames(5);
    EXPECT_EQ(Variable(4), 5);
    EXPECT_FALSE(TheSystemState.mainInterpreter.IsRunning());
}

TEST_F(EventTest, AScriptedWalkRunsTheTouchedAndTalkedToEventsFrameByFrame) {
    Game_MapData map = GroundMap();
    map.events = {
        MakeEventData(0, 4, 5, {MakePage(TriggerKind::PlayerTouch, "", {AddToVariable(1, 1)})}),
        MakeEventData(1, 4, 3,
                      {MakePage(TriggerKind::DecisionKey, "Clerk.png", {AddToVariable(2, 10)})}),
        MakeEventData(2, 0, 0, {MakePage(TriggerKind::Parallel, "", {AddToVariable(3, 1)})})};
    Load(map, 4, 10);
    int frames = 0;
    auto run = [&](int dir, auto until) {
        Hold(dir);
        for (int i = 0; i < 300 && !until(); ++i, ++frames) Frame();
        Hold(0);
        for (int i = 0; i < 20; ++i, ++frames) Frame();
    };
    run(6, [&] { return Player().x == 8; });  // onto the hidden event
    EXPECT_EQ(Player().x, 8);
    EXPECT_EQ(Variable(1), 1);
    run(8, [&] { return Player().y == 7; });  // up to the clerk, who blocks the way
    EXPECT_EQ(Player().y, 7);
    EXPECT_EQ(Variable(2), 0);
    PressDecide();
    run(0, [] { return true; });
    EXPECT_EQ(Variable(1), 1);  // walking off did not start it again
    EXPECT_EQ(Variable(2), 10);
    EXPECT_EQ(Variable(3), frames);  // the parallel page ran every frame
}

}  // namespace
