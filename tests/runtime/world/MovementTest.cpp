#include <gtest/gtest.h>

#include "runtime/world/Game_Character.h"
#include "runtime/world/Game_Player.h"
#include "runtime/world/WorldTestSupport.h"

using world_test::kWall;
using world_test::WorldTest;

namespace {

class MovementTest : public WorldTest {
  protected:
    void SetUp() override {
        WorldTest::SetUp();
        player.id = -2;
        player.isPlayer = 1;
        player.PlaceAt(10, 10, 1);
        MapPlayer = &player;
    }
    Game_Player player;

    static Game_Event MakeEvent(std::int32_t id, std::int32_t x, std::int32_t y,
                                const char* graphic) {
        Game_Event e;
        e.id = id;
        e.PlaceAt(x, y, 1);
        e.SetGraphic(graphic);
        return e;
    }
};

TEST_F(MovementTest, PassThroughStillCannotLeaveANonLoopingMap) {
    Game_Character c;
    c.id = 0;
    c.passThrough = 1;
    c.PlaceAt(0, 0, 1);
    EXPECT_FALSE(c.CanMove(0, 0, 4));
    EXPECT_FALSE(c.CanMove(0, 0, 8));
    world_test::WorldTest::Paint(0, 1, kWall, 0xF);
    EXPECT_TRUE(c.CanMove(0, 0, 2));  // walls do not stop it
    TheMapState.loopX = 1;
    EXPECT_TRUE(c.CanMove(0, 0, 4));
}

TEST_F(MovementTest, GraphiclessEventsLetThePartyThroughButBlockEachOther) {
    TheMapState.events = {MakeEvent(0, 12, 10, ""), MakeEvent(1, 14, 10, "")};
    EXPECT_TRUE(player.CanMove(10, 10, 6));  // the player walks through the hidden event
    Game_Character& hidden = TheMapState.events[0];
    EXPECT_TRUE(hidden.CanMove(12, 10, 4));   // and it walks through the player
    EXPECT_FALSE(hidden.CanMove(12, 10, 6));  // but not through the other hidden event
    TheMapState.events[1].SetGraphic("Guard.png");
    TheMapState.events[0].SetGraphic("Guard.png");
    EXPECT_FALSE(player.CanMove(10, 10, 6));
    EXPECT_FALSE(TheMapState.events[0].CanMove(12, 10, 4));
}

TEST_F(MovementTest, StraightStepsMoveTurnAndStopAtWalls) {
    EXPECT_EQ(player.MoveRight(true), 1);
    EXPECT_EQ(player.x, 11);
    EXPECT_EQ(player.direction, 6);
    world_test::WorldTest::Paint(5, 6, kWall, 0xF);  // below the foot row's cells
    EXPECT_EQ(player.MoveDown(true), 0);
    EXPECT_EQ(player.y, 10);
    EXPECT_EQ(player.direction, 2);  // a blocked step still turns
    EXPECT_EQ(player.MoveUp(false), 1);
    EXPECT_EQ(player.direction, 8);
}

TEST_F(MovementTest, BlockedDiagonalsTurnOrSlide) {
    world_test::WorldTest::Paint(5, 6, kWall, 0xF);
    world_test::WorldTest::Paint(4, 6, kWall, 0xF);
    TheBasicData.settingBytes[1] = 8;  // diagonal graphics
    player.ApplyGameSettings();
    player.PlaceAt(10, 10, 1);
    player.slide1 = 0;
    EXPECT_EQ(player.MoveDownLeft(true), 0);
    EXPECT_EQ(player.x, 10);
    EXPECT_EQ(player.y, 10);
    EXPECT_EQ(player.direction, 1);
    player.slide1 = 1;
    player.direction = 2;
    EXPECT_EQ(player.MoveDownLeft(true), 1);
    EXPECT_EQ(player.x, 9);
    EXPECT_EQ(player.y, 10);
    EXPECT_EQ(player.direction, 1);
    EXPECT_EQ(player.lastStepDirection, 4);
}

TEST_F(MovementTest, JumpsCheckTheirTargetAndLastByTheSpeed) {
    player.moveSpeed = 3;
    player.Jump(0, 0);
    EXPECT_EQ(player.jumpFrames, 2 * ((15 - 3) / 2));
    EXPECT_EQ(player.direction, 2);
    player.jumpFrames = 0;
    player.Jump(3, 0);
    EXPECT_EQ(player.x, 13);
    EXPECT_EQ(player.direction, 6);
    EXPECT_EQ(player.halfJump, (3 - 3 + 15) / 2);
    world_test::WorldTest::Paint(8, 5, kWall, 0xF);
    player.Jump(3, 0);  // lands on the wall's foot cells: refused, but turned
    EXPECT_EQ(player.x, 13);
    for (int i = 0; i < 40; ++i) player.Update();
    EXPECT_FALSE(player.IsJumping());
    EXPECT_EQ(player.fineX, 13 * 32);
}

TEST_F(MovementTest, AFixedDirectionIgnoresEveryTurn) {
    player.direction = 4;
    player.fixedDirection = 1;
    player.TurnClockwise();
    player.TurnCounterClockwise();
    player.TurnDown();
    player.TurnUpRight();
    player.TurnRandom();
    player.TurnTowardAngle(1, 1);
    EXPECT_EQ(player.MoveRight(true), 1);
    EXPECT_EQ(player.direction, 4);
}

TEST_F(MovementTest, TurnsRotateWithAndWithoutDiagonalGraphics) {
    Game_Character c;
    c.diagonalGraphics = 0;
    c.direction = 2;
    c.TurnClockwise();
    EXPECT_EQ(c.direction, 4);
    c.TurnCounterClockwise();
    EXPECT_EQ(c.direction, 2);
    c.diagonalGraphics = 1;
    c.TurnClockwise();
    EXPECT_EQ(c.direction, 1);
    c.TurnTowardAngle(1, -1);
    EXPECT_EQ(c.direction, 9);
    c.TurnTowardAngle(0, 1);
    EXPECT_EQ(c.direction, 2);
}

TEST_F(MovementTest, TurningTowardThePlayerPicksDiagonalsInsideTheCone) {
    Game_Character c;
    c.diagonalGraphics = 1;
    c.PlaceAt(14, 10, 1);
    c.TurnTowardPlayer();
    EXPECT_EQ(c.direction, 4);
    c.PlaceAt(14, 14, 1);
    c.TurnTowardPlayer();
    EXPECT_EQ(c.direction, 7);
    c.PlaceAt(10, 20, 1);
    c.TurnAwayFromPlayer();
    EXPECT_EQ(c.direction, 2);
}

TEST_F(MovementTest, MovingTowardNothingStaysPut) {
    Game_Event c;
    c.id = 0;
    c.PlaceAt(4, 4, 1);
    TheMapState.events = {c};
    Game_Character& e = TheMapState.events[0];
    e.MoveToward(true, -1, 0);
    e.MoveToward(true, 57, 0);
    MapPlayer = nullptr;
    e.MoveToward(true, -5, 0);  // no player, no followers
    EXPECT_EQ(e.x, 4);
    EXPECT_EQ(e.y, 4);
    TheBasicData.settingBytes[2] = 4;
    MapPlayer = &player;
    e.MoveToward(true, -2, 0);  // the player at (10, 10)
    EXPECT_TRUE(e.x == 5 || e.y == 5);
}

TEST_F(MovementTest, PixelMovesCrossHalfTilesAndStopAtWalls) {
    player.MoveByPixels(3, 0);
    EXPECT_EQ(player.pixelOffsetX, 3);
    EXPECT_EQ(player.x, 10);
    EXPECT_EQ(player.fineX, 10 * 32 + 12);
    player.MoveByPixels(12, 0);  // 3 + 12 crosses the 8-pixel half tile once
    EXPECT_EQ(player.x, 11);
    EXPECT_EQ(player.pixelOffsetX, 7);
    EXPECT_EQ(player.fineX, 11 * 32 + 28);
    player.MoveByPixels(-9, 0);
    EXPECT_EQ(player.x, 10);
    EXPECT_EQ(player.pixelOffsetX, 6);
    world_test::WorldTest::Paint(6, 5, kWall, 0xF);  // cells 12 and 13 of the foot row
    player.MoveByPixels(40, 0);
    EXPECT_EQ(player.x, 10);  // (11, 10) would step onto the wall
    EXPECT_EQ(player.pixelOffsetX, 0);
    EXPECT_EQ(player.fineX, 10 * 32);
}

TEST_F(MovementTest, TheDisplayFollowsThePlayersPixelMoves) {
    world_test::WorldTest::MakeMap(100, 100);
    player.PlaceAt(40, 20, 1);
    TheMapState.displayX = 0;
    player.MoveByPixels(4, 0);
    EXPECT_EQ(TheMapState.displayX, 16);
    TheSystemState.cameraLock = 1;
    player.MoveByPixels(2, 0);
    EXPECT_EQ(TheMapState.displayX, 16);
}

}  // namespace
