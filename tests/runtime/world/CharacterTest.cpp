#include <gtest/gtest.h>

#include "runtime/data/SaveStream.h"
#include "runtime/shell/ReportCapture.h"
#include "runtime/world/Game_Character.h"
#include "runtime/world/WorldTestSupport.h"

using world_test::WorldTest;

namespace {

class CharacterTest : public WorldTest {};

TEST_F(CharacterTest, PlacingBeyondTheMapReportsAndClamps) {
    shell_test::ReportCapture capture;
    Game_Character c;
    c.id = 4;
    c.PlaceAt(20, 3, 0);
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.reports()[0].first,
              "エラー：キャラクター4をマップ外[X20 Y3](Map1)に場所移動させようとしました");
    EXPECT_EQ(capture.reports()[0].second,
              "強制的にマップ内におさめます、このマップ最大位置は[19,14]です");
    EXPECT_EQ(c.x, 38);
    EXPECT_EQ(c.y, 6);
    EXPECT_EQ(c.fineX, 38 * 32);
    // Negative positions are reported the same way and clamp to 0.
    c.PlaceAt(-3, 2, 0);
    ASSERT_EQ(capture.reports().size(), 2u);
    EXPECT_EQ(c.x, 0);
    EXPECT_EQ(c.y, 4);
    // Half tiles beyond the map clamp to the last cell a figure can stand on.
    c.PlaceAt(45, 31, 1);
    EXPECT_EQ(capture.reports().size(), 3u);
    EXPECT_EQ(c.x, 38);
    EXPECT_EQ(c.y, 29);
    c.PlaceAt(7, 9, 1);
    EXPECT_EQ(capture.reports().size(), 3u);
    EXPECT_EQ(c.x, 7);
    EXPECT_EQ(c.y, 9);
}

TEST_F(CharacterTest, ChipLayoutsComeFromTheFileName) {
    const struct {
        const char* name;
        std::int16_t layout;
    } cases[] = {{"Hero.png", 0},  {"DoorT.png", 1}, {"DOORT.PNG", 1}, {"BigTX.png", 2},
                 {"BIGTX.PNG", 2}, {"One$.png", -1}, {"ONE$.PNG", -1}, {"", 0}};
    Game_Character c;
    for (const auto& t : cases) {
        c.SetGraphic(t.name);
        EXPECT_EQ(c.layout, t.layout) << t.name;
    }
}

TEST_F(CharacterTest, OverlayLayersClampAndTrailingEmptiesGo) {
    Game_Character c;
    c.SetOverlayGraphic("Hat.png", 9);
    ASSERT_EQ(c.overlays.size(), 5u);
    EXPECT_EQ(c.overlays[4], "Hat.png");
    c.SetOverlayGraphic("", 5);
    EXPECT_TRUE(c.overlays.empty());
    c.SetOverlayGraphic("Cape.png", 0);
    EXPECT_EQ(c.overlays, std::vector<std::string>{"Cape.png"});
}

TEST_F(CharacterTest, ShakesSwingForeverOrTheirCount) {
    Game_Character endless;
    endless.StartShake(4, 0, 100000, 2);
    for (int i = 0; i < 1000; ++i) endless.Update();
    EXPECT_GE(endless.shakeCount, 100000);
    Game_Character counted;
    counted.StartShake(4, 0, 3, 2);
    int frames = 0;
    std::vector<int> signs;
    while (counted.shakeCount > 0 && frames < 100) {
        counted.Update();
        ++frames;
        if (counted.shakeOffsetX != 0) {
            const int sign = counted.shakeOffsetX > 0 ? 1 : -1;
            if (signs.empty() || signs.back() != sign) signs.push_back(sign);
        }
    }
    EXPECT_EQ(frames, 3 * 4);
    EXPECT_EQ(signs, (std::vector<int>{1, -1, 1}));
    counted.Update();
    EXPECT_EQ(counted.shakeOffsetX, 0);
}

TEST_F(CharacterTest, AThreePatternWalkCyclesAroundTheBase) {
    Game_Character c;
    c.animationSpeed = 0;
    c.PlaceAt(2, 2, 0);
    std::vector<int> shown;
    for (int i = 0; i < 5; ++i) {
        c.x += 2;  // keep it between tiles
        c.Update();
        shown.push_back(c.pattern);
    }
    EXPECT_EQ(shown, (std::vector<int>{2, 1, 0, 1, 2}));
}

TEST_F(CharacterTest, WaitsAdvanceByTheFrameStep) {
    FrameMultiplier = 2;
    Game_Character c;
    c.waitFrames = 10;
    int updates = 0;
    while (c.waitFrames > 0) {
        c.Update();
        ++updates;
    }
    EXPECT_EQ(updates, 5);
}

TEST_F(CharacterTest, FivePatternChipsShortenTheWaitTableOnce) {
    TheBasicData.settingBytes[7] = 5;
    Game_Character c;
    c.Update();
    c.Update();
    const std::vector<int> expected{0, 3, 5, 8, 12, 40, 63};
    for (int s = 0; s < 7; ++s) EXPECT_EQ(AnimationWait(s), expected[static_cast<std::size_t>(s)]);
    EXPECT_EQ(AnimationWait(99), 63);  // an unchecked route value reads the last entry
    EXPECT_EQ(AnimationWait(-4), 0);
}

TEST_F(CharacterTest, DrawPositionsFollowTheDisplayAndTheJumpArc) {
    Game_Character c;
    c.PlaceAt(3, 2, 0);
    TheMapState.displayX = 2;
    EXPECT_EQ(c.GetDrawX(true), 3 * 16 + 8);  // (192 - 2) / 4 rounded up, plus the centre
    EXPECT_EQ(c.GetDrawY(true), 2 * 16 + 16);
    c.drawYOffset = 5;
    EXPECT_EQ(c.GetDrawY(true), 2 * 16 + 16 - 5);
    EXPECT_EQ(c.GetDrawBaseY(true), 2 * 16 + 16);
    c.halfJump = 4;
    c.jumpFrames = 4;  // the top of the arc
    EXPECT_EQ(c.GetDrawY(true), 2 * 16 + 16 - 5 - 16 * 3 / 10);
    EXPECT_EQ(c.GetDrawPriority(), 0);
    c.topPriority = 1;
    EXPECT_EQ(c.GetDrawPriority(), 999);
}

TEST_F(CharacterTest, ASavedCharacterReadsBackAndOldFormatsKeepNewerFields) {
    Game_Character c;
    c.id = 7;
    c.PlaceAt(5, 6, 0);
    c.SetGraphic("Hero.png");
    c.direction = 4;
    c.moveSpeed = 5;
    c.intList = {9};
    c.StartBlink(0x123456, 1, 8);
    c.SetOverlayGraphic(std::string(400, 'a') + ".png", 1);  // longer than any fixed buffer
    c.pixelOffsetX = 2;
    c.steppingMode = 1;
    c.standingPattern = 2;
    c.currentRoute.commands.resize(2);
    TheSaveStream.BeginWrite(true);
    c.WriteSave();
    TheSaveStream.BeginWrite(false, static_cast<std::size_t>(TheSaveStream.position));
    c.WriteSave();
    const std::vector<std::uint8_t> bytes(TheSaveStream.buffer.begin(),
                                          TheSaveStream.buffer.begin() + TheSaveStream.position);
    Game_Character read;
    TheSaveStream.BeginRead(bytes, true, SaveStream::kCurrentFormat);
    ASSERT_TRUE(read.ReadSave());
    EXPECT_EQ(read.id, 7);
    EXPECT_EQ(read.x, 10);
    EXPECT_EQ(read.fineX, 10 * 32 + 8);
    EXPECT_EQ(read.graphicName, "Hero.png");
    EXPECT_EQ(read.direction, 4);
    EXPECT_EQ(read.moveSpeed, 5);
    EXPECT_EQ(read.intList, c.intList);
    EXPECT_EQ(read.blinkColour, 0x123456);
    EXPECT_EQ(read.overlays, c.overlays);
    EXPECT_EQ(read.currentRoute, c.currentRoute);
    EXPECT_EQ(read.steppingMode, 1);
    EXPECT_EQ(read.standingPattern, 2);
    EXPECT_EQ(TheSaveStream.position, static_cast<std::int32_t>(bytes.size()));
    for (std::size_t cut = 0; cut < bytes.size(); cut += 13) {
        Game_Character partial;
        TheSaveStream.BeginRead(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut), true,
                                SaveStream::kCurrentFormat);
        EXPECT_FALSE(partial.ReadSave()) << cut;
    }
}

}  // namespace
