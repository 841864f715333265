// The panorama and the fog: images named by number or settings text, scrolling with their speed
// and a parallax share of the display, the frame-rate rule of each, and their blends.
#include <gtest/gtest.h>

#include "../shell/ReportCapture.h"
#include "MapDrawRecorder.h"
#include "WorldTestSupport.h"
#include "runtime/data/Game_Database.h"
#include "runtime/world/Game_Fog.h"
#include "runtime/world/Game_Panorama.h"

namespace {

using world_test::MapDrawRecorder;

class MapBackdropTest : public world_test::WorldTest {
  protected:
    void SetUp() override {
        WorldTest::SetUp();
        savedDatabase_ = TheSystemDatabase;
        TheSystemDatabase = Game_Database{};
        TheSystemDatabase.kind = kSystemDatabase;
        TheSystemDatabase.SetTypeCount(kBackdropDatabaseType + 1);
        auto& type = TheSystemDatabase.types[kBackdropDatabaseType];
        type.fieldKinds = {kStringFieldBase, kNumberFieldBase, kNumberFieldBase + 1,
                           kNumberFieldBase + 2};
        type.entries.resize(4);
        for (auto& e : type.entries) e.numbers.assign(3, 0);
        PanoramaReloadRequest = FogReloadRequest = 0;
    }
    void TearDown() override {
        TheSystemDatabase = savedDatabase_;
        PanoramaReloadRequest = FogReloadRequest = 0;
        WorldTest::TearDown();
    }
    static void SetRow(int row, const std::string& file, int sx, int sy, int divisor) {
        auto& e = TheSystemDatabase.types[kBackdropDatabaseType].entries[row];
        e.strings = {file};
        e.numbers = {sx, sy, divisor};
    }
    // The x of the first piece the last Draw put down: where the image's left edge lies.
    static int DrawnLeftEdge() {
        const auto subs = MapDrawRecorder::Only("sub");
        return subs.empty() ? -9999 : subs.front().args[0];
    }

    MapDrawRecorder recorder_;
    Game_Database savedDatabase_;
};

TEST_F(MapBackdropTest, AFourLineTextScrollsOnePixelAFrameAndFollowsTheMapAtHalfSpeed) {
    MapDrawRecorder::AddImage("far.png", 640, 480);
    TheSystemState.panoramaSettings = "far.png\r\n8\r\n0\r\n2";
    PanoramaReloadRequest = 1;
    Game_Panorama panorama;
    panorama.Draw();
    EXPECT_EQ(TheSystemState.panoramaSettings, "far.png");
    EXPECT_EQ(TheSystemState.panoramaNumber, -2);
    EXPECT_EQ(panorama.shownNumber, -2);
    EXPECT_EQ(TheSystemState.panoramaParallax, 2);
    EXPECT_EQ(PanoramaReloadRequest, 0);
    for (int frame = 1; frame <= 3; ++frame) {
        panorama.Update();
        MapDrawRecorder::Calls().clear();
        panorama.Draw();
        EXPECT_EQ(DrawnLeftEdge(), frame) << frame;
    }
    // The display moves 20 pixels right: the image moves 10 pixels left against it.
    TheMapState.displayX += 20 * 4;
    panorama.Update();
    MapDrawRecorder::Calls().clear();
    panorama.Draw();
    EXPECT_EQ(DrawnLeftEdge(), 4 - 10 + 640);
    // The four pieces tile the screen without transparency.
    for (const auto& c : MapDrawRecorder::Only("sub")) EXPECT_EQ(c.args[7], 0);
}

TEST_F(MapBackdropTest, TheDivisorLineIsHeldWithinNineHundredNinetyNine) {
    for (const auto& [line, expected] :
         std::vector<std::pair<std::string, int>>{{"-5000", -999}, {"5000", 999}, {"-7", -7}}) {
        MapDrawRecorder::AddImage("fog.png", 640, 480);
        TheSystemState.fogSettings = "fog.png\n1\n2\n" + line;
        Game_Fog fog;
        fog.LoadFromText();
        EXPECT_EQ(TheSystemState.fogParallax, expected) << line;
        EXPECT_EQ(TheSystemState.fogSpeedX, 1);
        EXPECT_EQ(TheSystemState.fogSpeedY, 2);
    }
}

TEST_F(MapBackdropTest, AtThirtyFramesThePanoramaKeepsItsSpeedAndTheFogFallsToAQuarter) {
    MapDrawRecorder::AddImage("far.png", 640, 480);
    MapDrawRecorder::AddImage("fog.png", 640, 480);
    FrameMultiplier = 2;
    TheSystemState.panoramaSettings = "far.png\n8\n0";
    TheSystemState.fogSettings = "fog.png\n8\n0";
    Game_Panorama panorama;
    Game_Fog fog;
    panorama.LoadFromText();
    fog.LoadFromText();
    panorama.Update();
    fog.Update();
    EXPECT_EQ(panorama.offsetX, 16);  // 2 pixels a frame, 60 a second as at 60 frames
    EXPECT_EQ(fog.offsetX, 4);        // half a pixel a frame, 15 a second instead of 60
}

TEST_F(MapBackdropTest, NumbersNamingNoImageShowNothingAndReportNothing) {
    shell_test::ReportCapture reports;
    MapDrawRecorder::AddImage("far.png", 640, 480);
    SetRow(1, "far.png", 3, 4, 7);
    SetRow(3, "", 5, 5, 5);
    Game_Panorama panorama;
    // A row with an image sets the speeds and the divisor from the row.
    TheSystemState.panoramaNumber = 1;
    panorama.Draw();
    EXPECT_GE(panorama.graphic, 0);
    EXPECT_EQ(TheSystemState.panoramaSpeedX, 3);
    EXPECT_EQ(TheSystemState.panoramaSpeedY, 4);
    EXPECT_EQ(TheSystemState.panoramaParallax, 7);
    EXPECT_EQ(TheSystemState.panoramaSettings, "far.png");
    EXPECT_EQ(MapDrawRecorder::Only("sub").size(), 1u);
    for (int number : {3, -3, -50, 99}) {
        MapDrawRecorder::Calls().clear();
        TheSystemState.panoramaNumber = number;
        panorama.Draw();
        EXPECT_EQ(panorama.graphic, -1) << number;
        EXPECT_EQ(panorama.shownNumber, number);
        EXPECT_TRUE(MapDrawRecorder::Only("sub").empty()) << number;
    }
    EXPECT_TRUE(reports.reports().empty());
}

TEST_F(MapBackdropTest, BlendsFollowTheSoftwareModeSetting) {
    MapDrawRecorder::AddImage("img.png", 640, 480);
    struct Case {
        bool fog;
        int softMode, fogBlend, fogOpacity;
        world_test::DrawCall blend;
    };
    const Case cases[] = {
        {false, 0, 0, 0, {"blend", {0, 255}}},  {false, 1, 0, 0, {"blend", {1, 254}}},
        {true, 1, 0, 255, {"blend", {1, 254}}}, {true, 0, 0, 255, {"blend", {1, 255}}},
        {true, 1, 1, 100, {"blend", {2, 100}}}, {true, 1, 2, 300, {"blend", {3, 254}}},
        {true, 0, 7, -5, {"blend", {4, 0}}},
    };
    for (const Case& c : cases) {
        GetMapDrawCalls().softMode = c.softMode;
        TheSystemState.fogBlend = c.fogBlend;
        TheSystemState.fogOpacity = c.fogOpacity;
        TheSystemState.fogSettings = TheSystemState.panoramaSettings = "img.png";
        Game_Panorama panorama;
        Game_Fog fog;
        Game_MapBackdrop& b = c.fog ? static_cast<Game_MapBackdrop&>(fog) : panorama;
        b.LoadFromText();
        MapDrawRecorder::Calls().clear();
        b.Draw();
        ASSERT_FALSE(MapDrawRecorder::Calls().empty());
        EXPECT_EQ(MapDrawRecorder::Calls().front(), c.blend) << c.fog << " " << c.softMode;
        // The fog is drawn with transparency, the panorama without.
        EXPECT_EQ(MapDrawRecorder::Only("sub").front().args[7], c.fog ? 1 : 0);
    }
}

TEST_F(MapBackdropTest, OnlyAZoomedScreenCutsTemporaryGraphs) {
    MapDrawRecorder::AddImage("far.png", 640, 480);
    TheSystemState.panoramaSettings = "far.png\n16\n16";
    Game_Panorama panorama;
    panorama.LoadFromText();
    panorama.Update();
    // Scale 2 and zoom 50 make 100: the plain four pieces.
    WindowScale = 2;
    TheMapState.zoom.currentPercent = 50;
    MapDrawRecorder::Calls().clear();
    panorama.Draw();
    EXPECT_EQ(MapDrawRecorder::Only("sub").size(), 4u);
    EXPECT_TRUE(MapDrawRecorder::Only("derive").empty());
    // Zoom 150 at scale 1: four derived pieces, stretched and deleted again.
    WindowScale = 1;
    TheMapState.zoom.currentPercent = 150;
    MapDrawRecorder::Calls().clear();
    panorama.Draw();
    EXPECT_TRUE(MapDrawRecorder::Only("sub").empty());
    EXPECT_EQ(MapDrawRecorder::Only("derive").size(), 4u);
    EXPECT_EQ(MapDrawRecorder::Only("stretch").size(), 4u);
    EXPECT_EQ(MapDrawRecorder::Only("destroy").size(), 4u);
    // The first piece (the image's top-left part) starts at the zoomed offset.
    const auto first = MapDrawRecorder::Only("stretch").front();
    EXPECT_EQ(first.args[0], (2 * 50) / 100 + 2);
    EXPECT_EQ(first.args[2], (640 * 50) / 100 + 640);
}

TEST_F(MapBackdropTest, ASmallImageFromTheTextIsReportedAndDrawnAnyway) {
    shell_test::ReportCapture reports;
    MapDrawRecorder::AddImage("small.png", 320, 200);
    TheSystemState.fogSettings = "small.png";
    FogReloadRequest = 1;
    Game_Fog fog;
    fog.Draw();
    ASSERT_EQ(reports.reports().size(), 1u);
    EXPECT_NE(reports.reports()[0].first.find("横320 縦200 (必須 640x480以上)"), std::string::npos);
    EXPECT_EQ(reports.reports()[0].second, "small.png");
    EXPECT_FALSE(MapDrawRecorder::Only("sub").empty());
}

}  // namespace
