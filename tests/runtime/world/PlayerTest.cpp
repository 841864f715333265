#include <filesystem>
#include <fstream>

#include "runtime/data/SaveStream.h"
#include "runtime/world/WriterMapSupport.h"

using namespace world_test;

namespace {

class PlayerTest : public WriterMapTest {
  protected:
    void SetUp() override {
        WriterMapTest::SetUp();
        TheBasicData.settingBytes[2] = 8;  // eight movement directions
        Load(GroundMap(), 10, 10);
    }

    // Runs update phases until the player stands still again.
    void Settle() {
        for (int i = 0; i < 100 && Player().CheckBetweenTiles(); ++i)
            Player().UpdateInput(false, true);
    }

    static std::vector<std::uint8_t> Written(const Game_Player& p) {
        TheSaveStream.BeginWrite(true);
        p.WriteSave();
        TheSaveStream.BeginWrite(false, static_cast<std::size_t>(TheSaveStream.position));
        p.WriteSave();
        return {TheSaveStream.buffer.begin(),
                TheSaveStream.buffer.begin() + TheSaveStream.position};
    }

    // The player part of a seed of the world-save fuzz corpus (three selector bytes first).
    static std::vector<std::uint8_t> Seed(const std::string& name) {
        std::ifstream in(std::filesystem::path(VELK_WORLDSAVE_FUZZ_DIR) / "corpus" / name,
                         std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
        return {bytes.begin() + 3, bytes.end()};
    }
};

TEST_F(PlayerTest, EightWayInputTakesTheAcceptedPartOfADiagonal) {
    struct Case {
        int dir;
        bool down, left, right, up;
        std::int32_t dx, dy;
    };
    const Case cases[] = {
        {1, true, false, true, true, 0, 1},   // down-left, only down accepted: down
        {1, true, true, true, true, -1, 1},   // both accepted: the diagonal
        {1, false, true, true, true, -1, 0},  // only left
        {9, false, false, true, false, 1, 0},
        {2, false, true, true, true, 0, 0},  // a refused straight direction
        {6, true, true, true, true, 1, 0},
    };
    for (const Case& c : cases) {
        Player().TransferTo(10, 10);
        TheInput.playerDownEnabled = c.down;
        TheInput.playerLeftEnabled = c.left;
        TheInput.playerRightEnabled = c.right;
        TheInput.playerUpEnabled = c.up;
        TheInput.dir8 = c.dir;
        Player().UpdateInput(true, false);
        EXPECT_EQ(Player().x - 10, c.dx) << c.dir << " " << c.down << c.left;
        EXPECT_EQ(Player().y - 10, c.dy) << c.dir << " " << c.down << c.left;
        EXPECT_EQ(Player().movedThisFrame, c.dx != 0 || c.dy != 0);
        Player().movedThisFrame = 0;
    }
}

TEST_F(PlayerTest, FollowersRepeatTheStepsOfTheirPlaceInTheTrail) {
    const std::vector<std::int32_t> trail = {2, 4, 6, 8, 1, 3, 7, 9, 2, 4,
                                             6, 8, 1, 3, 7, 9, 2, 4, 6, 8};
    auto dx = [](int d) { return (d == 3 || d == 6 || d == 9) - (d == 1 || d == 4 || d == 7); };
    auto dy = [](int d) { return (d == 1 || d == 2 || d == 3) - (d == 7 || d == 8 || d == 9); };
    struct Case {
        std::int16_t spacing;
        std::vector<std::size_t> entries;  // trail entry each follower takes
    };
    for (const Case& c : {Case{0, {1, 2, 3, 4, 5}}, Case{3, {3, 6, 9, 12, 15}}}) {
        TheSystemState.partyDistance = c.spacing;
        Game_Player& p = Player();
        p.GatherFollowers();
        p.footsteps = trail;
        p.stepped = 1;
        p.UpdateFollowers();
        for (std::size_t i = 0; i < 5; ++i) {
            const int d = trail[c.entries[i]];
            EXPECT_EQ(p.followers[i].x - p.x, dx(d)) << c.spacing << " follower " << i;
            EXPECT_EQ(p.followers[i].y - p.y, dy(d)) << c.spacing << " follower " << i;
        }
        EXPECT_EQ(p.footsteps.size(), trail.size() - 1);  // the oldest entry dropped
        EXPECT_EQ(p.stepped, 0);
    }
}

TEST_F(PlayerTest, AfterGatheringTheFirstStepsMoveNoFollower) {
    Game_Player& p = Player();
    p.GatherFollowers();
    ASSERT_EQ(p.footsteps.size(), 100u);
    for (int dir : {6, 2}) {
        TheInput.dir8 = dir;
        p.UpdateInput(true, false);
        Settle();
    }
    EXPECT_EQ(p.x, 11);
    EXPECT_EQ(p.y, 11);
    for (const Game_Character& f : p.followers) {
        EXPECT_EQ(f.x, 10);
        EXPECT_EQ(f.y, 10);
    }
    EXPECT_EQ(p.footsteps.size(), 100u);
    EXPECT_EQ(p.footsteps[0], 2);
    EXPECT_EQ(p.footsteps[1], 6);
}

TEST_F(PlayerTest, WalkingOffALoopingMapsRightEdgeKeepsThePlayersPlaceOnScreen) {
    TheMapState.loopX = 1;
    Game_Player& p = Player();
    p.TransferTo(38, 10);
    const std::int32_t onScreen = p.fineX - TheMapState.displayX;
    for (int step = 0; step < 2; ++step) {
        TheInput.dir8 = 6;
        p.UpdateInput(true, false);
        Settle();
    }
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.fineX, 0);
    EXPECT_EQ(p.fineX - TheMapState.displayX, onScreen);
}

TEST_F(PlayerTest, TheCameraLockStopsTheDisplayFollowing) {
    ScreenWidth = 160;  // narrower than the map, so the display can follow
    for (const bool locked : {false, true}) {
        TheSystemState.cameraLock = locked;
        Player().TransferTo(20, 14);
        const std::int32_t before = TheMapState.displayX;
        TheInput.dir8 = 6;
        Player().UpdateInput(true, false);
        Settle();
        EXPECT_EQ(Player().x, 21);
        EXPECT_EQ(TheMapState.displayX - before, locked ? 0 : 2 * TileSize) << locked;
    }
}

TEST_F(PlayerTest, TheSavePartRoundTripsAndOlderFormatsKeepThePixelTrail) {
    Game_Player& p = Player();
    p.footsteps = {6, 2};
    p.pixelTrailX = {3, -1};
    p.pixelTrailY = {0, 2};
    p.trailFrozen = 1;
    p.followers[2].x = 7;
    const std::vector<std::uint8_t> bytes = Written(p);
    Game_Player read;
    TheSaveStream.BeginRead(bytes, true, SaveStream::kCurrentFormat);
    ASSERT_TRUE(read.ReadSave());
    EXPECT_EQ(TheSaveStream.position, static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(read.footsteps, p.footsteps);
    EXPECT_EQ(read.pixelTrailX, p.pixelTrailX);
    EXPECT_EQ(read.pixelTrailY, p.pixelTrailY);
    EXPECT_EQ(read.trailFrozen, 1);
    EXPECT_EQ(read.followers[2].x, 7);
    EXPECT_EQ(read.followers[4].id, -7);

    // Format 137 has no pixel trail: the one in memory stays.
    Game_Player old;
    old.pixelTrailX = {9};
    old.pixelTrailY = {8};
    TheSaveStream.BeginRead(Seed("player-137"), true, 137);
    ASSERT_TRUE(old.ReadSave());
    EXPECT_EQ(old.footsteps, (std::vector<std::int32_t>{2, 2, 6, 0, 0}));
    EXPECT_EQ(old.pixelTrailX, std::vector<std::int32_t>{9});
    EXPECT_EQ(old.pixelTrailY, std::vector<std::int32_t>{8});
    TheSaveStream.BeginRead(Seed("player-138"), true, 138);
    ASSERT_TRUE(old.ReadSave());
    EXPECT_EQ(old.pixelTrailX, (std::vector<std::int32_t>{3, 0}));
}

TEST_F(PlayerTest, AFollowerCountOtherThanFiveFailsThePart) {
    Game_Player& p = Player();
    TheSaveStream.BeginWrite(true);
    p.Game_Character::WriteSave();
    const std::size_t countAt = static_cast<std::size_t>(TheSaveStream.position);
    const std::vector<std::uint8_t> bytes = Written(p);
    for (const std::int32_t count : {0, 4, 6, -1}) {
        std::vector<std::uint8_t> changed = bytes;
        for (int b = 0; b < 4; ++b)
            changed[countAt + static_cast<std::size_t>(b)] =
                static_cast<std::uint8_t>(static_cast<std::uint32_t>(count) >> (8 * b));
        Game_Player read;
        TheSaveStream.BeginRead(changed, true, SaveStream::kCurrentFormat);
        EXPECT_FALSE(read.ReadSave()) << count;
        EXPECT_TRUE(TheSaveStream.overrun) << count;
        EXPECT_EQ(read.followers.size(), 5u);
    }
}

}  // namespace
