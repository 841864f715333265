// The map part of a frame: a 100 x 100 map of 32-pixel tiles with all three layers (base chips,
// animated autotiles on a third of the cells, upper chips drawn with their rows and on top) drawn
// by the map renderer's base pass, one row pass per visible row and the top pass, into the
// library's software screen of 640 x 480 over SDL's dummy video driver.
//
// Goal: at most half of the 16.7 ms frame budget (8.35 ms) for the whole map part of a frame,
// which also holds the character sprites drawn between the rows.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "Main/DxBaseImage.h"
#include "Main/DxGraphics.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/shell/Game_Scene.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapRenderer.h"
#include "runtime/world/Game_Event.h"
#include "runtime/world/Game_MapState.h"

namespace {

void WriteImage(const std::filesystem::path& path, int w, int h, bool holes) {
    ZiDaz::BASEIMAGE image{};
    ZiDaz::NewBaseImageRgb24(w, h, &image);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Black is the transparent colour: upper tiles leave a quarter of their pixels open.
            const bool open = holes && ((x / 4 + y / 4) % 4 == 0);
            ZiDaz::WriteBaseImagePixelRgba(&image, x, y, open ? 0 : 40 + x % 200,
                                           open ? 0 : 30 + y % 200, open ? 0 : 90, 255);
        }
    }
    const std::string s = path.string();
    const std::u16string wide(s.begin(), s.end());
    ZiDaz::WriteBaseImageBmpFile(wide.c_str(), &image);
    ZiDaz::DisposeBaseImage(&image);
}

struct Scene {
    std::filesystem::path dir;
    Scene() {
        ZiDaz::StoreWindowModeFlag(1);
        ZiDaz::SetUseHardwareDrawing(0);
        ZiDaz::SetScreenMode(640, 480, 32, 0);
        if (ZiDaz::StartLibrary() != 0) std::abort();
        ScreenWidth = 640;
        ScreenHeight = 480;
        WindowScale = 1;
        TileSize = 32;
        dir = std::filesystem::temp_directory_path() /
              ("velk_bench_map_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        DataPath = dir.string() + "/";
        WriteImage(dir / "base.bmp", 256, 512, true);
        WriteImage(dir / "auto.bmp", 96, 160, false);
        Game_MapState& map = TheMapState;
        map.mapId = 1;
        map.mapData.header.width = 100;
        map.mapData.header.height = 100;
        map.mapData.ResetLayers();
        map.imageNames[0] = "base.bmp";
        map.imageNames[1] = "auto.bmp";
        map.tileFlags.assign(32 + 128, 0);
        for (int c = 0; c < 128; ++c) {
            if (c % 5 == 1) map.tileFlags[32 + c] = TileFlag::DrawMiddle;
            if (c % 5 == 2) map.tileFlags[32 + c] = TileFlag::Overhead;
        }
        for (int x = 0; x < 100; ++x) {
            for (int y = 0; y < 100; ++y) {
                map.mapData.Tile(0, x, y) = (x * 7 + y * 3) % 8;
                if ((x + y) % 3 == 0)
                    map.mapData.Tile(1, x, y) = 200000 + ((x * 1234 + y) % 5) * 1111;
                if ((x * y) % 4 == 1) map.mapData.Tile(2, x, y) = 8 + (x + 2 * y) % 120;
            }
        }
        map.displayX = 30 * 32 * 4;
        map.displayY = 40 * 32 * 4;
    }
    ~Scene() {
        ClearGraphicCache();
        ZiDaz::EndLibrary();
        std::filesystem::remove_all(dir);
    }
};

void DrawMapPart(Game_MapRenderer& renderer) {
    const Game_MapState& map = TheMapState;
    renderer.pixelX = map.displayX / 4;
    renderer.pixelY = map.displayY / 4;
    renderer.InvalidateVisibleRange();
    renderer.DrawLayers(MapDrawPass::Base, -1);
    const std::int32_t top = renderer.pixelY / TileSize;
    for (std::int32_t row = top + renderer.visibleRange.firstRow;
         row < top + renderer.visibleRange.endRow; ++row) {
        renderer.DrawLayers(MapDrawPass::Row, row);
    }
    renderer.DrawLayers(MapDrawPass::Top, -1);
}

void BM_MapPartOfAFrame(benchmark::State& state) {
    Scene scene;
    TheMapState.zoom.currentPercent = static_cast<std::int32_t>(state.range(0));
    TheMapState.zoom.currentX = 320;
    TheMapState.zoom.currentY = 240;
    Game_MapRenderer renderer(TheMapState);
    if (renderer.BaseChipCount() != 128 || renderer.AutotileFrameCount(0) != 3) {
        state.SkipWithError("the tileset images did not load");
        return;
    }
    for (auto _ : state) {
        DrawMapPart(renderer);
        TheMapState.frameCounter += 1;
    }
}
// Zoom 100 is the common case; zoom 50 visits four times the cells through stretched drawing.
BENCHMARK(BM_MapPartOfAFrame)->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond);

// The whole map part as the scene draws it: panorama-less map, 200 event sprites of an
// eight-direction sheet (32 x 48 chips, a third of them with a shadow-free overlay-free sheet
// walking) all inside the 20 x 15 visible tiles, sorted into the draw order and drawn between
// the row passes, at 640 x 480 in software mode.
void BM_MapPartWithEventSprites(benchmark::State& state) {
    Scene scene;
    WriteImage(scene.dir / "chara.bmp", 6 * 32, 4 * 48, true);
    TheMapState.zoom.currentPercent = static_cast<std::int32_t>(state.range(0));
    TheMapState.zoom.currentX = 320;
    TheMapState.zoom.currentY = 240;
    TheMapState.events.assign(200, Game_Event{});
    for (int i = 0; i < 200; ++i) {
        Game_Character& e = TheMapState.events[static_cast<std::size_t>(i)];
        e.id = i;
        e.SetGraphic("chara.bmp");
        e.PlaceAt(30 + (i * 7) % 20, 40 + (i * 11) % 15, 0);
        e.direction = static_cast<std::int16_t>(1 + (i % 9 == 4 ? 0 : i % 9));
        e.pattern = static_cast<std::int16_t>(i % 3);
        if (i % 3 == 0) e.betweenTiles = 1;
    }
    std::int64_t drawn = 0;
    {
        Game_Scene game;
        for (auto _ : state) {
            game.SetDisplayOrigin(TheMapState.displayX / 4, TheMapState.displayY / 4);
            game.Draw();
            TheMapState.frameCounter += 1;
        }
        for (const auto& sprite : game.eventSprites) drawn += sprite->graphic >= 0 ? 1 : 0;
    }
    state.counters["sprites"] = static_cast<double>(drawn);
    TheMapState.events.clear();
}
BENCHMARK(BM_MapPartWithEventSprites)->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
