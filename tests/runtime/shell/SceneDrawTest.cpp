// The map part of a frame as the scene draws it into the library's software screen: panorama,
// tile layers, characters (shadows, overlays, flashes, half-submerged) between the upper tile
// rows, and the fog. Frames are compared with expected frames kept under the map frames folder
// (made once by this scene and looked at); run with VELK_WRITE_MAP_FRAMES=1 to write them anew.
#include <gtest/gtest.h>

#include <cstdlib>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/presentation/GraphicsTestSupport.h"
#include "runtime/shell/Game_Scene.h"
#include "runtime/shell/ReportCapture.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"

namespace {

using graphics_test::kClear;
using graphics_test::WriteBmp;

// Chip sheet cell (column c, row r) of 16 x 24: a body colour of its own with a pale head.
std::uint32_t HeroPixel(int x, int y) {
    const int c = x / 16, r = y / 24, u = x % 16, v = y % 24;
    if (u < 3 || u > 12) return kClear;
    if (v < 8) return 0xF0D0B0;
    return static_cast<std::uint32_t>(0x30 + c * 0x25) << 16 |
           static_cast<std::uint32_t>(0x40 + r * 0x30) << 8 | 0x60;
}

class SceneDrawTest : public graphics_test::LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        savedTileSize_ = TileSize;
        savedScale_ = WindowScale;
        savedDatabase_ = TheSystemDatabase;
        TileSize = 16;
        WindowScale = 1;
        TheBasicData.SetDefaults();
        TheSystemState = Game_SystemState{};
        TheMapState = Game_MapState{};
        ASSERT_TRUE(WriteBmp(dir / "base.bmp", 128, 16, [](int x, int y) -> std::uint32_t {
            const int c = x / 16;
            if (c == 2) return (y < 6 || (x + y) % 5 == 0) ? 0x208020 : kClear;         // a hedge
            if (c == 3) return 0x3070C0 + static_cast<std::uint32_t>((x + y) % 4) * 8;  // water
            return c == 1 ? 0x806040 : 0x5A9A4A + static_cast<std::uint32_t>((x ^ y) & 7);
        }));
        ASSERT_TRUE(WriteBmp(dir / "hero.bmp", 6 * 16, 4 * 24, HeroPixel));
        ASSERT_TRUE(WriteBmp(dir / "hat.bmp", 6 * 16, 4 * 24, [](int x, int y) -> std::uint32_t {
            return y % 24 < 3 && x % 16 >= 4 && x % 16 < 12 ? 0xE02020 : kClear;
        }));
        ASSERT_TRUE(WriteBmp(dir / "shadow.bmp", 6 * 16, 4 * 8, [](int x, int y) -> std::uint32_t {
            const int u = x % 16 - 8, v = y % 8 - 4;
            return u * u + 4 * v * v < 56 ? 0x101010 : kClear;
        }));
        ASSERT_TRUE(WriteBmp(dir / "far.bmp", 160, 120, [](int x, int y) -> std::uint32_t {
            return static_cast<std::uint32_t>(40 + y) << 16 | static_cast<std::uint32_t>(x) << 8 |
                   0x90;
        }));
        ASSERT_TRUE(WriteBmp(dir / "fog.bmp", 160, 120, [](int x, int y) -> std::uint32_t {
            return (x / 8 + y / 8) % 3 == 0 ? 0xC0C0D0 : kClear;
        }));

        TheSystemDatabase.SetTypeCount(10);
        TheSystemDatabase.types[9].entries[0].strings = {"shadow.bmp"};
        Game_MapState& map = TheMapState;
        map.mapId = 1;
        map.mapData.header.width = 12;
        map.mapData.header.height = 9;
        map.mapData.ResetLayers();
        for (int x = 0; x < 12; ++x) {
            for (int y = 0; y < 9; ++y) {
                map.mapData.Tile(0, x, y) = (x == 0 || y == 8) ? 1 : 0;
                if (x >= 6 && x <= 8 && y >= 2 && y <= 4) map.mapData.Tile(0, x, y) = 3;
                if (y == 5 && x >= 1 && x <= 5) map.mapData.Tile(1, x, y) = 2;
            }
        }
        // Empty autotile 1 marks "no tile" on the upper layers.
        for (int layer = 1; layer <= 2; ++layer)
            for (std::int32_t& v : map.mapData.layers[layer])
                if (v == 0) v = 100000;
        map.imageNames[0] = "base.bmp";
        map.tileFlags.assign(64, 0);
        map.tileFlags[32 + 2] = TileFlag::DrawMiddle;
        map.tileFlags[32 + 3] = TileFlag::HalfHide;

        // The player hides behind the hedge (standing on the row above it); the others show
        // a shadow with a jump, an overlay, a flash, a half-submerged figure in the water.
        map.events.resize(4);
        player_.SetGraphic("hero.bmp");
        player_.PlaceAt(3, 5, 0);
        player_.direction = 8;
        player_.followers.clear();  // no followers in these frames
        MapPlayer = &player_;
        Game_Character& jumper = map.events[0];
        jumper.SetGraphic("hero.bmp");
        jumper.settingBytes = {0};
        jumper.PlaceAt(2, 2, 0);
        jumper.drawYOffset = 10;
        Game_Character& hatted = map.events[1];
        hatted.SetGraphic("hero.bmp");
        hatted.SetOverlayGraphic("hat.bmp", 1);
        hatted.PlaceAt(4, 2, 0);
        hatted.direction = 7;
        Game_Character& flashing = map.events[2];
        flashing.SetGraphic("hero.bmp");
        flashing.PlaceAt(8, 6, 0);
        flashing.direction = 6;
        flashing.StartFlash((200 << 16) | (100 << 8) | 100, 10);
        flashing.flashRemaining = 5;
        Game_Character& wading = map.events[3];
        wading.SetGraphic("hero.bmp");
        wading.PlaceAt(7, 3, 0);
        wading.opacity = 200;

        TheSystemState.panoramaSettings = "far.bmp\n8\n0\n2";
        TheSystemState.fogSettings = "fog.bmp\n0\n8";
        TheSystemState.fogOpacity = 100;
        PanoramaReloadRequest = FogReloadRequest = 1;
    }
    void TearDown() override {
        MapPlayer = nullptr;
        TheMapState = Game_MapState{};
        TheSystemState = Game_SystemState{};
        TheSystemDatabase = savedDatabase_;
        TheBasicData.SetDefaults();
        TileSize = savedTileSize_;
        WindowScale = savedScale_;
        PanoramaReloadRequest = FogReloadRequest = 0;
        LibraryTest::TearDown();
    }

    void DrawFrame(Game_Scene& scene) {
        ClearScreen(0x202020);
        scene.SetDisplayOrigin(TheMapState.displayX / 4, TheMapState.displayY / 4);
        scene.Draw();
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

    Game_Player player_;

  private:
    std::int32_t savedTileSize_ = 16, savedScale_ = 1;
    Game_Database savedDatabase_;
};

TEST_F(SceneDrawTest, FramesOfTheMapWithItsCharactersMatchTheExpectedFrames) {
    shell_test::ReportCapture capture;
    Game_Scene scene;
    ASSERT_EQ(scene.eventSprites.size(), 4u);
    DrawFrame(scene);
    ExpectFrame("scene_plain");
    // The hedge's row, drawn after the player standing in it, covers the player's legs; the
    // head above the hedge stays visible. (The fog's squares lighten both.)
    const int px = player_.GetDrawX(true), base = player_.GetDrawBaseY(true);
    EXPECT_EQ(ScreenPixel(px + 1, base - 14), 0x208020u);
    EXPECT_GT(ScreenPixel(px + 1, base - 20) >> 16, 0xE0u);  // the pale head

    // A frame later with the display moved (panorama and fog scrolled), then zoomed in.
    scene.UpdatePanoramaAndFog();
    TheMapState.displayX = 8 * 4;
    DrawFrame(scene);
    ExpectFrame("scene_scrolled");
    TheMapState.zoom.currentPercent = 150;
    TheMapState.zoom.currentX = 80;
    TheMapState.zoom.currentY = 60;
    DrawFrame(scene);
    ExpectFrame("scene_zoom150");
    EXPECT_TRUE(capture.reports().empty());
}

}  // namespace
