// The glyph cache loading 2,000 distinct kanji of IPAGothic into a 16-pixel
// DX_FONTTYPE_ANTIALIASING_8X8 font (rendered at 8 x 8 supersampling through the platform's
// GetGlyphOutlineW, reduced to levels and written into the memory strip), against FreeType alone
// rendering the same glyphs monochrome at 128 pixels.
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdlib>
#include <string>
#include <vector>

#include "Main/DxFont.h"
#include "Main/DxGraphics.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

namespace {

constexpr const char* kIpaGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

std::vector<char32_t> KanjiCodes(FT_Face face) {
    std::vector<char32_t> codes;
    for (char32_t c = 0x4E00; c < 0x9FA0 && codes.size() < 2000; ++c) {
        if (FT_Get_Char_Index(face, c) != 0) codes.push_back(c);
    }
    return codes;
}

struct FreeTypeFace {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    FreeTypeFace() {
        FT_Init_FreeType(&library);
        if (FT_New_Face(library, kIpaGothic, 0, &face) != 0) face = nullptr;
    }
    ~FreeTypeFace() {
        if (face) FT_Done_Face(face);
        FT_Done_FreeType(library);
    }
};

void BM_GlyphCacheLoadKanji(benchmark::State& state) {
    using namespace ZiDaz;
    FreeTypeFace ft;
    if (ft.face == nullptr) {
        state.SkipWithError("IPAGothic is not installed");
        return;
    }
    std::vector<char32_t> codes = KanjiCodes(ft.face);
    std::u16string text(codes.begin(), codes.end());  // all below U+FFFF
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    SetUseHardwareDrawing(0);
    StoreWindowModeFlag(1);
    SetScreenMode(640, 480, 32, 0);
    if (StartLibrary() != 0) {
        state.SkipWithError("the library did not start");
        return;
    }
    SetGlyphCacheCapacity(2024);
    HandleValue h =
        CreateFontToHandle("IPAGothic", 16, 6, DX_FONTTYPE_ANTIALIASING_8X8, 1, 0, 0, -1);
    FontHandleData* font = ResolveFontHandle(h);
    if (font == nullptr || font->capacity < static_cast<int>(codes.size())) {
        state.SkipWithError("the font was not made");
        EndLibrary();
        return;
    }
    for (auto _ : state) {
        ResetGlyphCache(font);
        int count = 0;
        PrepareTextGlyphs(font, text.c_str(), static_cast<int>(text.size()), nullptr, nullptr,
                          &count);
        benchmark::DoNotOptimize(font->memImagePixels);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(codes.size()));
    DeleteHandle(h);
    EndLibrary();
}
BENCHMARK(BM_GlyphCacheLoadKanji)->Unit(benchmark::kMillisecond);

void BM_FreeTypeMono128(benchmark::State& state) {
    FreeTypeFace ft;
    if (ft.face == nullptr) {
        state.SkipWithError("IPAGothic is not installed");
        return;
    }
    std::vector<char32_t> codes = KanjiCodes(ft.face);
    FT_Set_Pixel_Sizes(ft.face, 0, 128);
    for (auto _ : state) {
        for (char32_t c : codes) {
            FT_Load_Char(ft.face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO);
            benchmark::DoNotOptimize(ft.face->glyph->bitmap.buffer);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(codes.size()));
}
BENCHMARK(BM_FreeTypeMono128)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
