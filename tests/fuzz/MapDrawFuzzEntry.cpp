#include "fuzz/MapDrawFuzzEntry.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "Main/DxBaseImage.h"
#include "Main/DxGraphics.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapRenderer.h"
#include "runtime/world/Game_MapState.h"

namespace {

void WriteImage(const std::filesystem::path& path, int w, int h) {
    ZiDaz::BASEIMAGE image{};
    if (ZiDaz::NewBaseImageRgb24(w, h, &image) != 0) return;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ZiDaz::WriteBaseImagePixelRgba(&image, x, y, x * 5, y * 3, (x ^ y) & 0xFF, 255);
    const std::string s = path.string();
    const std::u16string wide(s.begin(), s.end());
    ZiDaz::WriteBaseImageBmpFile(wide.c_str(), &image);
    ZiDaz::DisposeBaseImage(&image);
}

const std::string& ImageFolder() {
    static const std::string folder = [] {
        const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                          ("velk_mapdraw_fuzz_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        // Sizes that fit 16-pixel tiles, and some that fit no tile size.
        WriteImage(dir / "base.bmp", 128, 64);
        WriteImage(dir / "odd.bmp", 50, 37);
        WriteImage(dir / "auto.bmp", 48, 80);
        WriteImage(dir / "auto1.bmp", 16, 200);
        return dir.string() + "/";
    }();
    return folder;
}

void Ignore(const std::string&, const std::string&, const std::string&) {}

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::int16_t Short() { return static_cast<std::int16_t>(Byte() | Byte() << 8); }
    std::int32_t Int() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        return static_cast<std::int32_t>(v);
    }
};

}  // namespace

// Bytes: width - 1 (mod 16), height - 1 (mod 16), switches (bit 0 loop x, 1 loop y, 2 image-list
// mode, 3 smooth drawing, 4-5 zoom-aware setting - 1, 6 display scale 2), tile size index, then
// int16 zoom percent, zoom centre x and y, shake x and y, display x and y, frame counter, eight
// chip flags (int32) for chip numbers picked by the next eight bytes, the image names byte, the
// image-list length, four bytes per list entry, and int32 tile ids for the three layers.
int RunMapDrawFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    if (!ZiDaz::GraphicsSystemState.Initialised) {
        ZiDaz::StoreWindowModeFlag(1);
        ZiDaz::SetUseHardwareDrawing(0);
        ZiDaz::SetScreenMode(320, 240, 32, 0);
        if (ZiDaz::StartLibrary() != 0) return 0;
    }
    const std::string savedDataPath = DataPath;
    const std::int32_t savedTile = TileSize, savedScale = WindowScale, savedW = ScreenWidth,
                       savedH = ScreenHeight;
    const RuntimeErrorCaptureHook savedHook = SetRuntimeErrorCaptureHook(&Ignore);
    DataPath = ImageFolder();

    Reader in{data, size};
    static constexpr std::int32_t kTiles[4] = {16, 32, 40, 48};
    const std::int32_t w = in.Byte() % 16 + 1;
    const std::int32_t h = in.Byte() % 16 + 1;
    const std::uint8_t switches = in.Byte();
    TileSize = kTiles[in.Byte() % 4];
    WindowScale = (switches & 0x40) ? 2 : 1;
    ScreenWidth = 320;
    ScreenHeight = 240;

    auto map = std::make_unique<Game_MapState>();
    Game_SystemState& system = TheSystemState;
    const Game_SystemState savedSystem = system;
    map->mapId = 1;
    map->mapData.header.width = w;
    map->mapData.header.height = h;
    map->mapData.ResetLayers();
    map->loopX = switches & 1;
    map->loopY = (switches >> 1) & 1;
    system.mapDrawingMode = (switches >> 2) & 1;
    system.smoothMapZoom = (switches >> 3) & 1;
    system.showMoreWhenZoomedOut = ((switches >> 4) & 3) - 1;
    map->zoom.currentPercent = in.Short();
    map->zoom.currentX = in.Short();
    map->zoom.currentY = in.Short();
    map->shakeOffsetX = in.Short();
    map->shakeOffsetY = in.Short();
    map->displayX = in.Short();
    map->displayY = in.Short();
    map->frameCounter = static_cast<std::uint16_t>(in.Short());
    map->tileFlags.assign(64, 0);
    std::int32_t flags[8];
    for (std::int32_t& f : flags) f = in.Int();
    for (const std::int32_t f : flags) map->tileFlags[in.Byte() % 64] = f;
    const std::uint8_t names = in.Byte();
    static const char* const kNames[4] = {"", "base.bmp", "odd.bmp", "auto.bmp"};
    map->imageNames[0] = kNames[names & 3];
    map->imageNames[1] = kNames[(names >> 2) & 3];
    map->imageNames[2] = (names & 0x10) ? "auto1.bmp" : "none.bmp";
    system.tileImageList.assign(in.Byte() % 48, {});
    for (TileImageEntry& e : system.tileImageList) {
        const std::uint8_t pick = in.Byte();
        e.fileName = kNames[pick & 3];
        e.frameCount = static_cast<std::int8_t>(in.Byte());
        e.frameWait = static_cast<std::int8_t>(in.Byte());
        e.offsetX = static_cast<std::int8_t>(in.Byte());
        e.offsetY = static_cast<std::int8_t>(pick);
    }
    for (auto& layer : map->mapData.layers) {
        for (std::int32_t& id : layer) {
            if (in.at >= size) break;
            // A negative stored id ends the program by design; every other id is fair game.
            id = in.Int() & 0x7FFFFFFF;
        }
    }

    {
        Game_MapRenderer renderer(*map);
        for (int frame = 0; frame < 2; ++frame) {
            renderer.pixelX = map->displayX / 4;
            renderer.pixelY = map->displayY / 4;
            renderer.InvalidateVisibleRange();
            renderer.DrawLayers(MapDrawPass::Base, -1);
            const std::int32_t top = renderer.pixelY / TileSize;
            for (std::int32_t row = top - 3; row < top + 20; ++row)
                renderer.DrawLayers(MapDrawPass::Row, row);
            renderer.DrawLayers(MapDrawPass::Top, -1);
            map->frameCounter += 37;
            ImageListSkipTableRequest = 1;
        }
        for (std::int32_t kind = -1; kind <= 6; ++kind)
            for (std::int32_t y = -1; y <= 2 * h; y += 3)
                for (std::int32_t x = -1; x <= 2 * w; x += 3)
                    renderer.GetTileChipInfo(kind, 0, x, y, (x + y) & 3, (x & 1) != 0);
    }
    ClearGraphicCache();
    system = savedSystem;
    SetRuntimeErrorCaptureHook(savedHook);
    DataPath = savedDataPath;
    TileSize = savedTile;
    WindowScale = savedScale;
    ScreenWidth = savedW;
    ScreenHeight = savedH;
    return 0;
}
