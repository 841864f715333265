// Drawing a cached 40-character Japanese line (DX_FONTTYPE_ANTIALIASING_EDGE_8X8, 16 pixels,
// alpha blending) into the 640 x 480 software screen, against FreeType loading, rendering and
// alpha-blending the same glyphs into the same image.
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Main/DxFont.h"
#include "Main/DxFontDraw.h"
#include "Main/DxGraphics.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

namespace {

constexpr const char* kIpaGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
const char16_t kLine[] =
    u"吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじ";
static_assert(sizeof(kLine) / sizeof(kLine[0]) == 41);

bool StartSoftwareLibrary() {
    using namespace ZiDaz;
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    SetUseHardwareDrawing(0);
    StoreWindowModeFlag(1);
    SetScreenMode(640, 480, 32, 0);
    // The dummy video driver's window is never active: drawing must not wait for it.
    SetKeepRunningWhenInactive(1);
    return StartLibrary() == 0;
}

void BM_DrawCachedJapaneseLine(benchmark::State& state) {
    using namespace ZiDaz;
    if (!StartSoftwareLibrary()) {
        state.SkipWithError("the library did not start");
        return;
    }
    HandleValue h =
        CreateFontToHandle("IPAGothic", 16, 6, DX_FONTTYPE_ANTIALIASING_EDGE_8X8, 1, 1, 0, -1);
    if (h < 0) {
        state.SkipWithError("the font was not made");
        EndLibrary();
        return;
    }
    SelectBlendMode(DX_BLEND_ALPHA, 128);
    const std::uint32_t white = ComposeScreenColor(255, 255, 255);
    const std::uint32_t black = ComposeScreenColor(0, 0, 0);
    DrawTextWithFontWide(10, 200, kLine, -1, white, h, black, 0);  // fills the cache
    for (auto _ : state) {
        DrawTextWithFontWide(10, 200, kLine, -1, white, h, black, 0);
        benchmark::DoNotOptimize(GraphicsSystemState.ScreenImage.Pixels);
    }
    state.SetItemsProcessed(state.iterations() * 40);
    DeleteHandle(h);
    EndLibrary();
}
BENCHMARK(BM_DrawCachedJapaneseLine)->Unit(benchmark::kMicrosecond);

void BM_FreeTypeRenderAndBlendLine(benchmark::State& state) {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    FT_Init_FreeType(&library);
    if (FT_New_Face(library, kIpaGothic, 0, &face) != 0) {
        state.SkipWithError("IPAGothic is not installed");
        FT_Done_FreeType(library);
        return;
    }
    FT_Set_Pixel_Sizes(face, 0, 16);
    std::vector<std::uint32_t> screen(640 * 480, 0x00336699);
    const int alpha = 128;
    for (auto _ : state) {
        int pen = 10;
        for (int i = 0; i < 40; ++i) {
            if (FT_Load_Char(face, kLine[i], FT_LOAD_RENDER) != 0) continue;
            const FT_GlyphSlot g = face->glyph;
            const FT_Bitmap& b = g->bitmap;
            const int left = pen + g->bitmap_left, top = 200 + 14 - g->bitmap_top;
            for (unsigned y = 0; y < b.rows; ++y) {
                const int sy = top + static_cast<int>(y);
                if (sy < 0 || sy >= 480) continue;
                for (unsigned x = 0; x < b.width; ++x) {
                    const int sx = left + static_cast<int>(x);
                    if (sx < 0 || sx >= 640) continue;
                    const int a = b.buffer[y * b.pitch + x] * alpha / 255;
                    std::uint32_t& d = screen[static_cast<std::size_t>(sy) * 640 + sx];
                    std::uint32_t out = 0;
                    for (int shift = 0; shift < 24; shift += 8) {
                        const int dc = static_cast<int>(d >> shift & 255);
                        out |= static_cast<std::uint32_t>(dc + (255 - dc) * a / 255) << shift;
                    }
                    d = out;
                }
            }
            pen += static_cast<int>(g->advance.x >> 6);
        }
        benchmark::DoNotOptimize(screen.data());
    }
    state.SetItemsProcessed(state.iterations() * 40);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
}
BENCHMARK(BM_FreeTypeRenderAndBlendLine)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
