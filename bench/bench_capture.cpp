// The mask layer and screenshots in a running library (software screen of 640 x 480 at 32 bits
// over SDL's dummy video driver): a frame of 200 64 x 64 sprites drawn with masking on (each
// sprite bracketed as the drawing frame does) against the same frame unmasked, and a 640 x 480
// screenshot saved as PNG at level 6 against libpng writing the same pixels directly. Compare the
// times of each pair.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

namespace {

using namespace ZiDaz;

std::filesystem::path gFolder;
HandleValue gSprite = -1;
HandleValue gMask = -1;
std::vector<POINT> gPositions;

// Gradients with noisy patches, as RGB rows.
std::vector<std::uint8_t> Picture(int w, int h) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
            p[0] = static_cast<std::uint8_t>(x * 255 / w);
            p[1] = static_cast<std::uint8_t>(y * 255 / h);
            p[2] = static_cast<std::uint8_t>((x + y) / 3);
            if ((x / 64 + y / 48) % 4 == 0) p[2] = static_cast<std::uint8_t>(random());
        }
    return rgb;
}

void PaintScreen(const std::vector<std::uint8_t>& rgb) {
    MEMIMG& s = GraphicsSystemState.ScreenImage;
    for (int y = 0; y < s.Height; ++y)
        for (int x = 0; x < s.Width; ++x) {
            const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * s.Width + x) * 3];
            std::uint32_t v = 0xFF000000u | p[0] << 16 | p[1] << 8 | p[2];
            std::memcpy(s.Pixels + y * s.Shared->Pitch + x * 4, &v, 4);
        }
}

void DrawFrame() {
    GraphHandleRecord* sprite = LookUpGraphRecord(gSprite, 1);
    const bool masked = MaskLayerInUse();
    for (const POINT& p : gPositions) {
        const RECT r{p.x, p.y, p.x + 64, p.y + 64};
        if (masked) BeginMaskedDraw(r);
        DrawMemImg(GraphicsSystemState.SoftwareDrawDestination, &sprite->View, p.x, p.y, 1,
                   nullptr);
        if (masked) EndMaskedDraw(r);
    }
}

void BM_SpritesUnmasked(benchmark::State& state) {
    SetMaskLayerActive(0);
    for (auto _ : state) DrawFrame();
}
void BM_SpritesMasked(benchmark::State& state) {
    SetMaskLayerActive(1);
    if (!MaskLayerInUse()) state.SkipWithError("no mask layer");
    for (auto _ : state) DrawFrame();
    SetMaskLayerActive(0);
}
BENCHMARK(BM_SpritesUnmasked)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpritesMasked)->Unit(benchmark::kMicrosecond);

void BM_ScreenshotPng(benchmark::State& state) {
    PaintScreen(Picture(640, 480));
    const std::string path = (gFolder / "ours.png").string();
    for (auto _ : state) {
        if (SaveDrawTargetRectToFile(0, 0, 640, 480, path.c_str(), DX_IMAGESAVE_PNG, 80, 1, 6) != 0)
            state.SkipWithError("failed");
    }
}
void BM_LibpngSamePixels(benchmark::State& state) {
    std::vector<std::uint8_t> rgb = Picture(640, 480);
    const std::string path = (gFolder / "libpng.png").string();
    std::vector<png_bytep> rows(480);
    for (int y = 0; y < 480; ++y) rows[y] = &rgb[static_cast<std::size_t>(y) * 640 * 3];
    for (auto _ : state) {
        FILE* file = std::fopen(path.c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            state.SkipWithError("failed");
            break;
        }
        png_init_io(png, file);
        png_set_compression_level(png, 6);
        png_set_IHDR(png, info, 640, 480, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_write_image(png, rows.data());
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
    }
}
BENCHMARK(BM_ScreenshotPng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibpngSamePixels)->Unit(benchmark::kMillisecond);

bool SetUpScene() {
    BASEIMAGE sprite{};
    if (NewBaseImageArgb8(64, 64, &sprite) != 0) return false;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            WriteBaseImagePixelRgba(&sprite, x, y, x * 4, y * 4, 128, (x + y) % 9 ? 255 : 0);
    gSprite = CreateGraphFromBaseImage(&sprite);
    DisposeBaseImage(&sprite);
    if (gSprite < 0) return false;
    // A mask with a stripe of blocked and open regions.
    BASEIMAGE mask{};
    if (NewBaseImageXrgb8(640, 480, &mask) != 0) return false;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            WriteBaseImagePixelRgba(&mask, x, y, 0, 0, ((x / 40 + y / 30) % 3) ? 0 : 255, 255);
    const std::u16string name = u"mask.png";
    std::filesystem::current_path(gFolder);
    const bool written = WriteBaseImagePngFile(name.c_str(), &mask, 1) == 0;
    DisposeBaseImage(&mask);
    if (!written) return false;
    gMask = LoadMaskWide(name.c_str(), 0);
    if (gMask < 0 || CreateMaskLayer() != 0 || FillMaskLayer(0) != 0 ||
        DrawMask(0, 0, gMask, DX_MASKDRAW_COPY) != 0)
        return false;
    SetMaskLayerActive(0);
    std::mt19937 random(11);
    for (int i = 0; i < 200; ++i)
        gPositions.push_back(
            POINT{static_cast<LONG>(random() % 600) - 20, static_cast<LONG>(random() % 440) - 20});
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    gFolder =
        std::filesystem::temp_directory_path() / ("velk_bench_capture_" + std::to_string(getpid()));
    std::filesystem::create_directories(gFolder);
    EnableLogOutput(0);
    StoreWindowModeFlag(1);
    SetUseHardwareDrawing(0);
    SetScreenMode(640, 480, 32, 0);
    if (StartLibrary() != 0) {
        std::fprintf(stderr, "the library did not start\n");
        return 1;
    }
    if (!SetUpScene()) {
        std::fprintf(stderr, "the scene could not be set up\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    EndLibrary();
    std::filesystem::current_path(gFolder.parent_path());
    std::filesystem::remove_all(gFolder);
    return 0;
}
