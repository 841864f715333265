// The draw order: characters bucketed by the screen row of their base, walked row by row with
// the upper tile rows in between.
#include <gtest/gtest.h>

#include "../world/WorldTestSupport.h"
#include "runtime/shell/DrawOrderBuckets.h"
#include "runtime/world/Game_MapRenderer.h"
#include "runtime/world/Game_Player.h"

namespace {

class DrawOrderTest : public world_test::WorldTest {
  protected:
    // A character whose base lies `baseY` pixels below the top of the screen.
    static void SetBase(Game_Character& c, int baseY) { c.fineY = (baseY - TileSize) * 4; }
    // Every item of one walk.
    std::vector<std::int32_t> Walk(std::int32_t displayY = 0) {
        VisibleCellRange range;
        range.firstRow = -1;
        order_.Init();
        order_.Build(range);
        std::vector<std::int32_t> items;
        for (int guard = 0; guard < 100000; ++guard) {
            const std::int32_t item = order_.Next(displayY);
            if (item == DrawItem::End) break;
            items.push_back(item);
        }
        return items;
    }
    static std::vector<std::int32_t> CharactersOnly(const std::vector<std::int32_t>& items) {
        std::vector<std::int32_t> out;
        for (std::int32_t i : items)
            if (i > DrawItem::TileRowBase + 2) out.push_back(i);
        return out;
    }
    DrawOrderBuckets order_;
};

TEST_F(DrawOrderTest, DrawRowsAreAnEighthOfATileOrATwelfthForLargeTiles) {
    for (const auto& [tile, pixels] :
         std::vector<std::pair<int, int>>{{16, 2}, {32, 4}, {40, 5}, {48, 4}}) {
        TileSize = tile;
        DrawOrderBuckets order;
        order.Init();
        EXPECT_EQ(order.rowPixels, pixels) << tile;
    }
}

TEST_F(DrawOrderTest, InOneRowEventsComeFirstThenFollowersThenThePlayer) {
    Game_Player player;
    player.followers.resize(2);
    Game_Character& follower0 = player.followers[0];
    Game_Character& follower1 = player.followers[1];
    MapPlayer = &player;
    TheMapState.events.resize(2);
    for (Game_Character* c : std::initializer_list<Game_Character*>{
             &player, &follower0, &follower1, &TheMapState.events[0], &TheMapState.events[1]})
        SetBase(*c, 100);
    // An event with top priority goes last of all.
    TheMapState.events[0].topPriority = 1;
    EXPECT_EQ(CharactersOnly(Walk()), (std::vector<std::int32_t>{1, -12, -11, -10, 0}));
}

TEST_F(DrawOrderTest, CharactersComeInRowOrderWithTheTileRowsBetween) {
    TheMapState.events.resize(3);
    SetBase(TheMapState.events[0], 5 * 16 + 2);  // tile row 4, lower half
    SetBase(TheMapState.events[1], 2 * 16);      // on the boundary of tile rows 1 and 2
    SetBase(TheMapState.events[2], 9 * 16 + 8);
    const auto items = Walk();
    const auto pos = [&](std::int32_t item) {
        return std::find(items.begin(), items.end(), item) - items.begin();
    };
    ASSERT_LT(pos(2), static_cast<long>(items.size()));
    EXPECT_LT(pos(1), pos(0));
    EXPECT_LT(pos(0), pos(2));
    // Each upper tile row comes once, in order, and the row below a character's base covers it.
    std::vector<std::int32_t> rows;
    for (std::int32_t i : items)
        if (i <= DrawItem::TileRowBase) rows.push_back(DrawItem::TileRowBase - i);
    ASSERT_FALSE(rows.empty());
    for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i], rows[i - 1] + 1);
    EXPECT_EQ(rows.front(), 0);
    EXPECT_LT(pos(0), pos(DrawItem::TileRowBase - 5));
    EXPECT_GT(pos(0), pos(DrawItem::TileRowBase - 4));
}

TEST_F(DrawOrderTest, AMapNoTallerThanTheScreenGetsTwoMoreTilesOfRows) {
    // The 640 x 480 screen holds 30 rows of 16-pixel tiles; 8 draw rows a tile.
    for (const auto& [height, buckets] : std::vector<std::pair<int, std::size_t>>{
             {15, (15 + 1 + 2) * 8 + 1}, {30, (30 + 1 + 2) * 8 + 1}, {31, (31 + 1) * 8 + 1}}) {
        MakeMap(20, height);
        Walk();
        EXPECT_EQ(order_.rowOffset, 8);  // the zoom-aware range starts a tile above the screen
        for (const auto& list : order_.lists) EXPECT_EQ(list.size(), buckets + 8) << height;
    }
}

TEST_F(DrawOrderTest, AboveTheTopEventsAreLeftOutButThePlayerAndFollowersUseRowZero) {
    Game_Player player;
    player.followers.resize(1);
    Game_Character& follower = player.followers[0];
    MapPlayer = &player;
    TheMapState.events.resize(1);
    for (Game_Character* c :
         std::initializer_list<Game_Character*>{&player, &follower, &TheMapState.events[0]})
        SetBase(*c, -40);
    EXPECT_EQ(CharactersOnly(Walk()), (std::vector<std::int32_t>{-11, -10}));
    // Far below the screen only the player gets a bucket (the walk stops well before it).
    MakeMap(20, 200);
    TheMapState.events.resize(1);
    for (Game_Character* c :
         std::initializer_list<Game_Character*>{&player, &follower, &TheMapState.events[0]})
        SetBase(*c, 3000);
    EXPECT_TRUE(CharactersOnly(Walk()).empty());
    std::vector<std::int32_t> placed;
    for (const auto& list : order_.lists)
        for (const auto& bucket : list) placed.insert(placed.end(), bucket.begin(), bucket.end());
    EXPECT_EQ(placed, std::vector<std::int32_t>{DrawItem::Player});
}

}  // namespace
