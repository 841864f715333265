// GetGlyphOutlineW's grey glyphs against FreeType loading and rendering the same glyphs itself:
// 2,000 kanji of IPAGothic at a 16-pixel em.
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <vector>

#include "platform/Gdi32Font.h"

namespace {

constexpr const char* kIpaGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
const MAT2 kIdentity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};

struct Kanji {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    std::vector<char32_t> codes;
    Kanji() {
        FT_Init_FreeType(&library);
        if (FT_New_Face(library, kIpaGothic, 0, &face) != 0) return;
        FT_Set_Pixel_Sizes(face, 0, 16);
        for (char32_t c = 0x4E00; c < 0x9FA0 && codes.size() < 2000; ++c) {
            if (FT_Get_Char_Index(face, c) != 0) codes.push_back(c);
        }
    }
};

Kanji& Glyphs() {
    static Kanji kanji;
    return kanji;
}

// The platform's call as the font back end makes it: the size first, then the bitmap.
void BM_GetGlyphOutlineGray8(benchmark::State& state) {
    using namespace platform::gdi32;
    Kanji& k = Glyphs();
    if (k.codes.empty()) {
        state.SkipWithError("IPAGothic is not installed");
        return;
    }
    HFONT font =
        CreateFontW(-16, 0, 0, 0, 400, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 3, 1, u"IPAGothic");
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, font);
    std::vector<BYTE> buffer(64 * 1024);
    for (auto _ : state) {
        for (char32_t c : k.codes) {
            GLYPHMETRICS gm;
            DWORD size = GetGlyphOutlineW(dc, c, GGO_GRAY8_BITMAP, &gm, 0, nullptr, &kIdentity);
            GetGlyphOutlineW(dc, c, GGO_GRAY8_BITMAP, &gm, size, buffer.data(), &kIdentity);
            benchmark::DoNotOptimize(buffer.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(k.codes.size()));
    DeleteDC(dc);
    DeleteObject(font);
}
BENCHMARK(BM_GetGlyphOutlineGray8)->Unit(benchmark::kMillisecond);

void BM_FreeTypeRenderGray(benchmark::State& state) {
    Kanji& k = Glyphs();
    if (k.codes.empty()) {
        state.SkipWithError("IPAGothic is not installed");
        return;
    }
    for (auto _ : state) {
        for (char32_t c : k.codes) {
            FT_Load_Glyph(k.face, FT_Get_Char_Index(k.face, c),
                          FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL);
            FT_Render_Glyph(k.face->glyph, FT_RENDER_MODE_NORMAL);
            benchmark::DoNotOptimize(k.face->glyph->bitmap.buffer);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(k.codes.size()));
}
BENCHMARK(BM_FreeTypeRenderGray)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
