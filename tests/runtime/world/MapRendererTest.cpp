// The map renderer drawing into the library's software screen. Frames of maps written by our map
// writer are compared with expected frames kept under frames/ (made once by this renderer and
// looked at); run with VELK_WRITE_MAP_FRAMES=1 to write them anew.
#include <gtest/gtest.h>

#include <cstdlib>

#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/presentation/GraphicsTestSupport.h"
#include "runtime/shell/ReportCapture.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapRenderer.h"
#include "runtime/world/Game_MapState.h"
#include "tools/gamedata/GameDataWriter.h"

namespace {

using graphics_test::kClear;
using graphics_test::WriteBmp;
using shell_test::ReportCapture;

constexpr std::uint32_t kBackground = 0x202020;

// Base chip c: a colour of its own with a light marker in its top-left corner; chip 3 is
// transparent in its right half.
std::uint32_t ChipColour(int c) {
    static constexpr std::uint32_t kColours[8] = {0x3A7A3A, 0x806040, 0x4060A0, 0xC0C040,
                                                  0xA03030, 0x30A0A0, 0x909090, 0x603080};
    return kColours[c % 8] + static_cast<std::uint32_t>(c / 8) * 0x080808;
}
std::uint32_t BasePixel(int x, int y) {
    const int c = (y / 16) * 8 + x / 16;
    const int u = x % 16, v = y % 16;
    if (c == 3 && u >= 8) return kClear;
    if (u < 4 && v < 4) return 0xF0F0F0;
    return ChipColour(c);
}
// Autotile images: frame f (one tile wide), row d and quarter q each change one channel.
std::uint32_t AutotilePixel(int x, int y, int seed) {
    const int f = x / 16, d = y / 16;
    const int q = (x % 16) / 8 + 2 * ((y % 16) / 8);
    return static_cast<std::uint32_t>(f * 70 + 40 + seed) << 16 |
           static_cast<std::uint32_t>(d * 45 + 20) << 8 | static_cast<std::uint32_t>(q * 60 + 30);
}

Game_DatabaseType MapSettings(const std::string& file, std::int32_t looping) {
    Game_DatabaseType type;
    type.fieldKinds = {kStringFieldBase, kNumberFieldBase, kNumberFieldBase + 1,
                       kNumberFieldBase + 2, kNumberFieldBase + 3};
    Game_DatabaseEntry entry;
    entry.strings = {file};
    entry.numbers = {-2, -2, looping, 0};
    type.entries = {entry, entry};
    return type;
}

class MapRendererTest : public graphics_test::LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        savedTileSize_ = TileSize;
        savedScale_ = WindowScale;
        savedDatabase_ = TheSystemDatabase;
        TileSize = 16;
        WindowScale = screenScale_;
        TheSystemState = Game_SystemState{};
        TheMapState = Game_MapState{};
        ASSERT_TRUE(WriteBmp(dir / "base.bmp", 128, 64, BasePixel));
        ASSERT_TRUE(WriteBmp(dir / "auto3.bmp", 48, 80,
                             [](int x, int y) { return AutotilePixel(x, y, 0); }));
        ASSERT_TRUE(WriteBmp(dir / "auto1.bmp", 16, 80,
                             [](int x, int y) { return AutotilePixel(x, y, 100); }));
    }
    void TearDown() override {
        renderer_.reset();
        TheMapState = Game_MapState{};
        TheSystemState = Game_SystemState{};
        TheSystemDatabase = savedDatabase_;
        TileSize = savedTileSize_;
        WindowScale = savedScale_;
        LibraryTest::TearDown();
    }

    // A map in memory: every cell of layer 0 base chip 0, the upper layers empty.
    void MakeMap(std::int32_t w, std::int32_t h) {
        Game_MapState& map = TheMapState;
        map.mapId = 1;
        map.mapData.header.width = w;
        map.mapData.header.height = h;
        map.mapData.ResetLayers();
        for (std::int32_t& v : map.mapData.layers[0]) v = 0;
        map.imageNames[0] = "base.bmp";
        map.imageNames[1] = "auto3.bmp";
        map.imageNames[2] = "auto1.bmp";
        map.tileFlags.assign(64, 0);
    }

    // The writer's map of 12 x 10 tiles with three layers, loaded as the game loads it.
    void LoadWrittenMap(bool looping) {
        Game_MapData data;
        data.header.width = 12;
        data.header.height = 10;
        data.header.tileSetNumber = 0;
        data.ResetLayers();
        for (int x = 0; x < 12; ++x) {
            for (int y = 0; y < 10; ++y) {
                data.Tile(0, x, y) = (x + 2 * y) % 6;
                if (x >= 2 && x <= 6 && y >= 2 && y <= 4) {
                    static constexpr std::int32_t kCodes[5] = {0, 1234, 4321, 3030, 2200};
                    data.Tile(1, x, y) = 200000 + kCodes[(x + y) % 5];
                }
                if (x == 8 && y >= 5) data.Tile(1, x, y) = 300000 + 1111 * (y - 5);
                if ((x + y) % 4 == 1 && y >= 6) data.Tile(2, x, y) = 3;
                if (x == 10 && y == 1) data.Tile(2, x, y) = 12;
            }
        }
        ASSERT_TRUE(
            gamedata::SaveBytes((dir / "m.mps").string(), gamedata::WriteMapFile(data, {})));
        TheSystemDatabase.SetTypeCount(1);
        TheSystemDatabase.types[0] = MapSettings("m.mps", looping ? 3 : 0);
        Game_TileSet tileSet;
        tileSet.imageFiles[0] = "base.bmp";
        tileSet.imageFiles[1] = "auto3.bmp";
        tileSet.imageFiles[2] = "auto1.bmp";
        tileSet.chipFlags.assign(64, 0);
        tileSet.chipTags.assign(64, 0);
        tileSet.chipFlags[32 + 12] = TileFlag::Overhead;
        TheMapState.tileSetList.tileSets = {tileSet};
        ASSERT_TRUE(TheMapState.LoadMap(1));
    }

    Game_MapRenderer& Renderer() {
        if (!renderer_) renderer_ = std::make_unique<Game_MapRenderer>(TheMapState);
        return *renderer_;
    }

    // Draws the map part of one frame: base pass, one row pass per visible row, top pass.
    void DrawFrame() {
        Game_MapRenderer& r = Renderer();
        ClearScreen(kBackground);
        r.pixelX = TheMapState.displayX / 4;
        r.pixelY = TheMapState.displayY / 4;
        r.InvalidateVisibleRange();
        r.DrawLayers(MapDrawPass::Base, -1);
        const std::int32_t top = r.pixelY / TileSize;
        for (std::int32_t row = top + r.visibleRange.firstRow; row < top + r.visibleRange.endRow;
             ++row) {
            r.DrawLayers(MapDrawPass::Row, row);
        }
        r.DrawLayers(MapDrawPass::Top, -1);
    }

    void ExpectFrame(const std::string& name) {
        const std::filesystem::path path =
            std::filesystem::path(VELK_MAP_FRAMES_DIR) / (name + ".png");
        if (const char* w = std::getenv("VELK_WRITE_MAP_FRAMES"); w != nullptr && *w == '1') {
            ASSERT_TRUE(SaveScreenPng(path));
            return;
        }
        EXPECT_EQ(DifferingPixels(path), 0) << name;
    }

    int screenScale_ = 1;
    std::unique_ptr<Game_MapRenderer> renderer_;

  private:
    std::int32_t savedTileSize_ = 16, savedScale_ = 1;
    Game_Database savedDatabase_;
};

TEST_F(MapRendererTest, FramesOfAWrittenMapMatchTheExpectedFrames) {
    ReportCapture capture;
    LoadWrittenMap(false);
    struct Case {
        const char* name;
        std::int32_t frameCounter;
    };
    // Three layers with both autotiles at animation steps 0, 1, 2 and 3 (the 3-frame autotile
    // wraps; the one-frame autotile never changes).
    for (const Case& c : {Case{"layers_step0", 0}, Case{"layers_step1", 20},
                          Case{"layers_step2", 59}, Case{"layers_step3", 60}}) {
        TheMapState.frameCounter = c.frameCounter;
        DrawFrame();
        ExpectFrame(c.name);
    }
    TheMapState.frameCounter = 0;
    TheMapState.displayX = 20 * 4;
    TheMapState.displayY = 24 * 4;
    TheMapState.shakeOffsetX = 5;
    TheMapState.shakeOffsetY = -3;
    DrawFrame();
    ExpectFrame("shake");
    TheMapState.shakeOffsetX = TheMapState.shakeOffsetY = 0;
    TheMapState.displayX = TheMapState.displayY = 0;
    TheSystemState.showMoreWhenZoomedOut = 1;
    for (const std::int32_t zoom : {50, 150}) {
        TheMapState.zoom.currentPercent = zoom;
        TheMapState.zoom.currentX = 60;
        TheMapState.zoom.currentY = 50;
        DrawFrame();
        ExpectFrame("zoom" + std::to_string(zoom));
    }
    EXPECT_TRUE(capture.reports().empty());
}

TEST_F(MapRendererTest, ALoopingMapShowsTheOppositeSideBeyondItsEdgesAndAPlainMapNothing) {
    // The shake moves the map's top-left corner into the screen.
    for (const bool looping : {true, false}) {
        LoadWrittenMap(looping);
        renderer_.reset();
        TheMapState.shakeOffsetX = 12;
        TheMapState.shakeOffsetY = 10;
        DrawFrame();
        ExpectFrame(looping ? "loop" : "noloop");
        EXPECT_EQ(ScreenPixel(4, 4) == kBackground, !looping);
        EXPECT_EQ(ScreenPixel(4, 60) == kBackground, !looping);
        EXPECT_EQ(ScreenPixel(12 + 6, 10 + 6), ChipColour(0));
    }
}

class MapRendererScale2Test : public MapRendererTest {
  protected:
    MapRendererScale2Test() {
        screenWidth = 320;
        screenHeight = 240;
        screenScale_ = 2;
    }
};

TEST_F(MapRendererScale2Test, AScaleTwoFrameMatchesTheExpectedFrame) {
    LoadWrittenMap(false);
    TheMapState.frameCounter = 20;
    DrawFrame();
    ExpectFrame("scale2");
    // Each game pixel covers two by two screen pixels.
    EXPECT_EQ(ScreenPixel(0, 0), ScreenPixel(1, 1));
    EXPECT_EQ(ScreenPixel(0, 0), 0xF0F0F0u);
}

TEST_F(MapRendererTest, AnOverheadChipOnLayerZeroHoldsItsCellBackUntilTheTopPass) {
    MakeMap(12, 10);
    TheMapState.mapData.Tile(0, 1, 1) = 5;
    TheMapState.tileFlags[32 + 5] = TileFlag::Overhead;
    TheMapState.mapData.Tile(1, 1, 1) = 3;  // half transparent, draw-layer byte 0
    TheMapState.mapData.Tile(2, 1, 1) = 200000;
    Game_MapRenderer& r = Renderer();
    ClearScreen(kBackground);
    r.pixelX = r.pixelY = 0;
    r.InvalidateVisibleRange();
    r.DrawLayers(MapDrawPass::Base, -1);
    EXPECT_EQ(ScreenPixel(16 + 6, 16 + 6), kBackground);
    EXPECT_EQ(ScreenPixel(6, 6), ChipColour(0));
    r.DrawLayers(MapDrawPass::Row, 1);
    EXPECT_EQ(ScreenPixel(16 + 6, 16 + 6), kBackground);
    r.DrawLayers(MapDrawPass::Top, -1);
    // Layer 0's chip, then layer 1's half over it, then the autotile of layer 2 over both.
    EXPECT_EQ(ScreenPixel(16 + 4, 16 + 4), AutotilePixel(0, 0, 0));
    TheMapState.mapData.Tile(2, 1, 1) = 100000;
    ClearScreen(kBackground);
    r.InvalidateVisibleRange();
    r.DrawLayers(MapDrawPass::Base, -1);
    r.DrawLayers(MapDrawPass::Top, -1);
    EXPECT_EQ(ScreenPixel(16 + 6, 16 + 6), ChipColour(3));
    EXPECT_EQ(ScreenPixel(16 + 12, 16 + 6), ChipColour(5));
}

TEST_F(MapRendererTest, TheVisibleRangeFollowsTileSizeScreenAndZoom) {
    MakeMap(20, 20);
    ScreenWidth = 320;
    ScreenHeight = 240;
    TheSystemState.showMoreWhenZoomedOut = 0;
    struct Fixed {
        std::int32_t tile, endColumn, endRow;
    };
    // Only 16-pixel tiles gain a column and a row from the 32-pixel margin.
    for (const Fixed& f : {Fixed{16, 22, 17}, Fixed{32, 11, 9}, Fixed{40, 9, 7}, Fixed{48, 8, 6}}) {
        TileSize = f.tile;
        Game_MapRenderer& r = Renderer();
        r.InvalidateVisibleRange();
        r.DrawLayers(MapDrawPass::Base, -1);
        EXPECT_EQ(r.visibleRange.firstColumn, -1);
        EXPECT_EQ(r.visibleRange.endColumn, f.endColumn) << f.tile;
        EXPECT_EQ(r.visibleRange.endRow, f.endRow) << f.tile;
    }

    // Zoom-aware: zoom 50 on a 640 x 480 screen around its centre widens the range (a = 2,
    // b = 6); a tiny zoom never spans more than 150 cells.
    ScreenWidth = 640;
    ScreenHeight = 480;
    TileSize = 32;
    TheSystemState.showMoreWhenZoomedOut = 1;
    TheMapState.zoom.currentX = 320;
    TheMapState.zoom.currentY = 240;
    TheMapState.zoom.currentPercent = 50;
    Game_MapRenderer& r = Renderer();
    r.InvalidateVisibleRange();
    r.DrawLayers(MapDrawPass::Base, -1);
    const VisibleCellRange& v = r.visibleRange;
    EXPECT_EQ(v.firstColumn, -12);
    EXPECT_EQ(v.endColumn, 39);
    EXPECT_EQ(v.columnBias, 12);
    EXPECT_EQ(v.firstRow, -9);
    EXPECT_EQ(v.endRow, 31);
    EXPECT_EQ(v.rowBias, 9);
    TheMapState.zoom.currentPercent = 1;
    r.InvalidateVisibleRange();
    r.DrawLayers(MapDrawPass::Base, -1);
    EXPECT_LE(v.endColumn - v.firstColumn, 150);
    EXPECT_LE(v.endRow - v.firstRow, 150);

    // A negative setting keeps the fixed range.
    TheSystemState.showMoreWhenZoomedOut = -1;
    r.InvalidateVisibleRange();
    r.DrawLayers(MapDrawPass::Base, -1);
    EXPECT_EQ(v.endColumn, 21);
    EXPECT_EQ(v.endRow, 16);
}

TEST_F(MapRendererTest, TileQueriesAnswerForTheAutotileUnderAHalfTile) {
    MakeMap(4, 4);
    TheMapState.mapData.Tile(1, 1, 1) = 201234;
    TheMapState.mapData.Tile(1, 2, 1) = 301234;
    TheMapState.mapData.Tile(1, 3, 1) = 401234;  // slot without an image
    TheMapState.mapData.Tile(1, 0, 0) = 7;
    TheMapState.frameCounter = 45;  // animation step 2
    Game_MapRenderer& r = Renderer();
    r.DrawLayers(MapDrawPass::Base, -1);
    struct Case {
        std::int32_t kind, x, y;
        bool quarter;
        std::int32_t want;
    };
    for (const Case& c : {
             Case{0, 2, 2, false, 2345}, Case{0, 3, 3, true, 5},  // bottom-right quarter: digit 4
             Case{1, 2, 2, false, 3},                             // step 2 of 3 frames
             Case{1, 4, 2, false, 1},                             // one frame
             Case{2, 2, 2, false, 3}, Case{3, 2, 2, false, -1},
             Case{3, 3, 2, true, 2 * (2 + 2 * 3 * 2) + 2},  // top-right, digit 2
             Case{3, 6, 2, true, -1},                       // no frames
             Case{4, 2, 2, false, 60}, Case{4, 6, 2, false, 0}, Case{5, 2, 2, false, 77},
             Case{9, 2, 2, false, 9}, Case{0, 0, 0, false, -1},  // a base chip
             Case{2, 99, 0, false, -1},                          // outside the map
         }) {
        EXPECT_EQ(r.GetTileChipInfo(c.kind, 77, c.x, c.y, 1, c.quarter), c.want)
            << c.kind << " at " << c.x << "," << c.y;
    }
}

TEST_F(MapRendererTest, ImagesOfTheWrongSizeAreReportedOnceAndStillDrawn) {
    ASSERT_TRUE(WriteBmp(dir / "base7.bmp", 112, 32, BasePixel));
    ASSERT_TRUE(WriteBmp(dir / "small.bmp", 16, 32, [](int, int) { return 0x123456u; }));
    MakeMap(4, 4);
    TheMapState.imageNames[0] = "base7.bmp";
    TheMapState.imageNames[1] = "small.bmp";
    TheMapState.mapData.Tile(0, 1, 0) = 1;
    // Part-code digits beyond the image's rows leave their quarters empty.
    TheMapState.mapData.Tile(1, 2, 0) = 200000 + 1055;
    ReportCapture capture;
    DrawFrame();
    ASSERT_EQ(capture.reports().size(), 2u);
    EXPECT_EQ(capture.reports()[0].first,
              "基本タイルセットの横サイズが128ピクセルになっていません！ => 横112ピクセル");
    EXPECT_NE(capture.reports()[1].first.find("small.bmp"), std::string::npos);
    EXPECT_EQ(Renderer().BaseChipCount(), 14);
    EXPECT_EQ(ScreenPixel(16 + 8, 8), ChipColour(1));
    EXPECT_EQ(ScreenPixel(32 + 4, 4), 0x123456u);       // digit 1: the second of two rows
    EXPECT_EQ(ScreenPixel(32 + 12, 4), 0x123456u);      // digit 0: the first row
    EXPECT_EQ(ScreenPixel(32 + 4, 12), ChipColour(0));  // digit 5: nothing drawn over chip 0
    DrawFrame();
    EXPECT_EQ(capture.reports().size(), 2u);
    EXPECT_EQ(TheMapState.tileFlags.size(), 64u);
}

TEST_F(MapRendererTest, ANegativeStoredTileIsReportedAndEndsTheProgram) {
    MakeMap(4, 4);
    TheMapState.mapData.Tile(1, 2, 3) = -5;
    EXPECT_EXIT(
        {
            ReportCapture capture;
            DrawFrame();
        },
        ::testing::ExitedWithCode(1), "");
}

TEST_F(MapRendererTest, ImageListEntriesFollowTheirOwnFlagAndWrapOnALoopingMap) {
    ASSERT_TRUE(WriteBmp(dir / "tall.bmp", 16, 48,
                         [](int, int y) { return y < 24 ? 0xE04040u : 0x40E040u; }));
    MakeMap(8, 8);
    TheMapState.loopX = TheMapState.loopY = 1;
    TheSystemState.mapDrawingMode = 1;
    // Chip number 32 + 0 (base chip 0) has entry 33; autotile 2 (chip number 1) entry 2.
    TheSystemState.tileImageList.resize(40);
    TheSystemState.tileImageList[33] = {"tall.bmp", 0, -8, 2, 30, 0};
    TheSystemState.tileImageList[2] = {"auto1.bmp", 0, 0, 1, 1, 0};
    for (std::int32_t& v : TheMapState.mapData.layers[0]) v = 100000;
    TheMapState.mapData.Tile(0, 0, 0) = 0;
    TheMapState.mapData.Tile(1, 0, 0) = 200000;
    // The chip-flag command writes index chip + 1 in this mode: entry 2's byte is at index 2.
    TheMapState.tileFlags[2] = TileFlag::Overhead;
    Game_MapRenderer& r = Renderer();
    EXPECT_EQ(TheSystemState.tileImageList[33].frameSize, 16 * 10000 + 24);
    // The map is 128 pixels wide: the display at x = 64 shows map column 0 again at 64.
    TheMapState.displayX = 64 * 4;
    ClearScreen(kBackground);
    r.pixelX = 64;
    r.pixelY = 0;
    r.InvalidateVisibleRange();
    r.DrawLayers(MapDrawPass::Base, -1);
    EXPECT_EQ(ScreenPixel(64 + 4, 2), 0xE04040u);  // frame 0, raised by 8
    EXPECT_EQ(ScreenPixel(64 + 4, 14), 0xE04040u);
    EXPECT_EQ(ScreenPixel(64 + 4, 18), kBackground);
    r.DrawLayers(MapDrawPass::Top, -1);
    EXPECT_EQ(ScreenPixel(64 + 4, 4), AutotilePixel(0, 0, 100));
}

}  // namespace
