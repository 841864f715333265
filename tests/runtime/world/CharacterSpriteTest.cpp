// Character sprites: which chip of the sheet is drawn, how it is blended, what is culled, and
// shadows and overlays.
#include <gtest/gtest.h>

#include "../shell/ReportCapture.h"
#include "MapDrawRecorder.h"
#include "WorldTestSupport.h"
#include "runtime/data/Game_Database.h"
#include "runtime/world/Game_CharacterSprite.h"

namespace {

using world_test::MapDrawRecorder;

class CharacterSpriteTest : public world_test::WorldTest {
  protected:
    void SetUp() override {
        WorldTest::SetUp();
        savedDatabase_ = TheSystemDatabase;
        TheSystemDatabase = Game_Database{};
        TheSystemDatabase.kind = kSystemDatabase;
        hero_.PlaceAt(10, 10, 0);
        hero_.diagonalGraphics = 0;
    }
    void TearDown() override {
        TheSystemDatabase = savedDatabase_;
        WorldTest::TearDown();
    }
    // Draws once with a fresh recording and returns the graphs put down.
    static std::vector<int> PutGraphs(Game_CharacterSprite& sprite) {
        MapDrawRecorder::Calls().clear();
        sprite.Draw();
        std::vector<int> graphs;
        for (const auto& c : MapDrawRecorder::Only("put")) graphs.push_back(c.args[2]);
        return graphs;
    }

    MapDrawRecorder recorder_;
    Game_Database savedDatabase_;
    Game_Character hero_;
};

TEST_F(CharacterSpriteTest, ALayoutOneSheetStandsOnColumnZeroAndWalksOnTheOthers) {
    // Three patterns: four columns, the standing chip first.
    const int whole = MapDrawRecorder::AddImage("heroT.png", 4 * 16, 4 * 32, 4, 4);
    hero_.SetGraphic("heroT.png");
    hero_.direction = 4;
    hero_.pattern = 1;
    Game_CharacterSprite sprite(&hero_);
    EXPECT_EQ(sprite.columns, 4);
    EXPECT_EQ(PutGraphs(sprite), std::vector<int>{whole + 4 + 1});  // row 1, column 0
    hero_.betweenTiles = 1;
    EXPECT_EQ(PutGraphs(sprite), std::vector<int>{whole + 4 + 3});  // row 1, column p + 1
    // The chip is placed centred on the character, foot on its base.
    const auto put = MapDrawRecorder::Only("put").front();
    EXPECT_EQ(put.args[0], hero_.GetDrawX(true) - 8);
    EXPECT_EQ(put.args[1], hero_.GetDrawY(true) - 32);
    EXPECT_EQ(hero_.spriteValue1, 16);
    EXPECT_EQ(hero_.spriteValue2, 32);
}

TEST_F(CharacterSpriteTest, EightDirectionSheetsDrawDiagonalsFromTheRightHalf) {
    // Eight directions, three patterns: six columns, the diagonals in columns 3 to 5.
    const int whole = MapDrawRecorder::AddImage("hero8.png", 6 * 16, 4 * 16, 6, 4);
    hero_.diagonalGraphics = 1;
    hero_.SetGraphic("hero8.png");
    hero_.pattern = 1;
    Game_CharacterSprite sprite(&hero_);
    struct Case {
        int direction, row, column;
    };
    for (const Case& c :
         {Case{7, 2, 4}, Case{1, 0, 4}, Case{9, 3, 4}, Case{8, 3, 1}, Case{2, 0, 1}}) {
        hero_.direction = static_cast<std::int16_t>(c.direction);
        EXPECT_EQ(PutGraphs(sprite), std::vector<int>{whole + 1 + c.row * 6 + c.column})
            << c.direction;
    }
    // A fixed chip number within the sheet replaces the computed one; one beyond it does not.
    hero_.cellOverride = 24;
    EXPECT_EQ(PutGraphs(sprite), std::vector<int>{whole + 24});
    hero_.cellOverride = 25;
    EXPECT_EQ(PutGraphs(sprite), std::vector<int>{whole + 2});  // facing down again
    EXPECT_EQ(sprite.GetChipInfo(0), 6);
    EXPECT_EQ(sprite.GetChipInfo(1), 4);
    EXPECT_EQ(sprite.GetChipInfo(2), 2);
    EXPECT_EQ(sprite.GetChipInfo(9), 7);
}

TEST_F(CharacterSpriteTest, OpacityAndBlendKindPickTheBlendMode) {
    MapDrawRecorder::AddImage("hero.png", 3 * 16, 4 * 16, 3, 4);
    hero_.SetGraphic("hero.png");
    struct Case {
        int opacity, blend, softMode;
        std::vector<int> expected;  // empty: nothing drawn
    };
    const Case cases[] = {
        {200, 0, 0, {1, 200}}, {255, 0, 0, {0, 255}}, {255, 0, 1, {1, 254}}, {255, 1, 1, {2, 254}},
        {90, 2, 0, {3, 90}},   {90, 3, 0, {11, 90}},  {0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        GetMapDrawCalls().softMode = c.softMode;
        hero_.opacity = static_cast<std::int16_t>(c.opacity);
        hero_.blendMode = static_cast<std::int16_t>(c.blend);
        Game_CharacterSprite sprite(&hero_);
        MapDrawRecorder::Calls().clear();
        sprite.Draw();
        const auto blends = MapDrawRecorder::Only("blend");
        if (c.expected.empty()) {
            EXPECT_TRUE(MapDrawRecorder::Calls().empty());
            continue;
        }
        ASSERT_EQ(blends.size(), 1u) << c.opacity;
        EXPECT_EQ(blends[0].args, c.expected) << c.opacity << " " << c.blend;
        EXPECT_EQ(MapDrawRecorder::Only("put").size(), 1u);
    }
}

TEST_F(CharacterSpriteTest, ACharacterThreeTilesAboveTheScreenIsDrawnFiveTilesAboveIsCulled) {
    MapDrawRecorder::AddImage("hero.png", 3 * 16, 4 * 32, 3, 4);
    hero_.SetGraphic("hero.png");
    Game_CharacterSprite sprite(&hero_);
    for (const auto& [tiles, drawn] : std::vector<std::pair<int, bool>>{{3, true}, {5, false}}) {
        // Base y = -tiles tiles: the fine y is (base - TileSize) quarter pixels times 4.
        hero_.fineY = (-tiles * 16 - 16) * 4;
        EXPECT_EQ(hero_.GetDrawBaseY(true), -tiles * 16);
        EXPECT_EQ(PutGraphs(sprite).size(), drawn ? 1u : 0u) << tiles;
    }
}

TEST_F(CharacterSpriteTest, AnOverlayOfAnotherSizeIsReportedOnceAndDropped) {
    shell_test::ReportCapture reports;
    const int hero = MapDrawRecorder::AddImage("hero.png", 3 * 16, 4 * 16, 3, 4);
    const int hat = MapDrawRecorder::AddImage("hat.png", 3 * 16, 4 * 16, 3, 4);
    MapDrawRecorder::AddImage("big.png", 3 * 32, 4 * 32, 3, 4);
    hero_.SetGraphic("hero.png");
    hero_.SetOverlayGraphic("hat.png", 1);
    hero_.SetOverlayGraphic("big.png", 2);
    Game_CharacterSprite sprite(&hero_);
    ASSERT_EQ(reports.reports().size(), 1u);
    EXPECT_EQ(reports.reports()[0].first,
              "重ねキャラチップのサイズがベースと異なります！ > 横96 縦128 (ベース 48 x 64)");
    EXPECT_EQ(reports.reports()[0].second, "big.png");
    EXPECT_EQ(hero_.overlays, (std::vector<std::string>{"hat.png", ""}));
    // The sheet and the fitting overlay are drawn, frame after frame, without a new report.
    for (int frame = 0; frame < 2; ++frame) {
        const auto graphs = PutGraphs(sprite);
        ASSERT_EQ(graphs.size(), 2u);
        EXPECT_EQ(graphs[0] - hero, graphs[1] - hat);
    }
    EXPECT_EQ(reports.reports().size(), 1u);
}

TEST_F(CharacterSpriteTest, ShadowsShrinkWithTheJumpHeight) {
    TheSystemDatabase.SetTypeCount(10);
    TheSystemDatabase.types[9].entries[0].strings = {"shadow.png"};
    const int shadow = MapDrawRecorder::AddImage("shadow.png", 3 * 16, 4 * 8, 3, 4);
    MapDrawRecorder::AddImage("hero.png", 3 * 16, 4 * 16, 3, 4);
    hero_.settingBytes = {0};
    hero_.SetGraphic("hero.png");
    hero_.pattern = 1;
    Game_CharacterSprite sprite(&hero_);
    MapDrawRecorder::Calls().clear();
    sprite.Draw();
    const int x = hero_.GetDrawX(true), base = hero_.GetDrawBaseY(true);
    auto stretches = MapDrawRecorder::Only("stretch");
    ASSERT_EQ(stretches.size(), 1u);
    EXPECT_EQ(stretches[0].args, (std::vector<int>{x - 8, base - 8, x + 8, base, shadow + 2, 1}));
    // Sixteen pixels up: the shadow narrows by 4 on each side and rises by 2.
    hero_.drawYOffset = 16;
    MapDrawRecorder::Calls().clear();
    sprite.Draw();
    stretches = MapDrawRecorder::Only("stretch");
    ASSERT_EQ(stretches.size(), 1u);
    EXPECT_EQ(stretches[0].args,
              (std::vector<int>{x - 8 + 4, base - 8 + 2, x + 8 - 4, base - 2, shadow + 2, 1}));
}

TEST_F(CharacterSpriteTest, AFlashDarkensBeforeAndAddsAfterTheChip) {
    MapDrawRecorder::AddImage("hero.png", 3 * 16, 4 * 16, 3, 4);
    hero_.SetGraphic("hero.png");
    Game_CharacterSprite sprite(&hero_);
    // Red +100, green -100, blue 0, half way through.
    hero_.StartFlash((200 << 16) | (0 << 8) | 100, 10);
    hero_.flashRemaining = 5;
    MapDrawRecorder::Calls().clear();
    sprite.Draw();
    const auto bright = MapDrawRecorder::Only("bright");
    ASSERT_GE(bright.size(), 2u);
    EXPECT_EQ(bright[0].args, (std::vector<int>{255, 255 - 127, 255}));
    EXPECT_EQ(bright[1].args, (std::vector<int>{127, -127, 0}));
    EXPECT_EQ(MapDrawRecorder::Only("put").size(), 2u);
    EXPECT_EQ(MapDrawRecorder::Only("blend").back().args, (std::vector<int>{2, 255}));
}

TEST_F(CharacterSpriteTest, AMissingSheetHidesTheSpriteForGood) {
    shell_test::ReportCapture reports;
    hero_.SetGraphic("nowhere/missing.png");
    Game_CharacterSprite sprite(&hero_);
    EXPECT_TRUE(sprite.hidden);
    MapDrawRecorder::AddImage("hero.png", 3 * 16, 4 * 16, 3, 4);
    hero_.SetGraphic("hero.png");
    EXPECT_TRUE(PutGraphs(sprite).empty());
}

}  // namespace
