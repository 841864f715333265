// The glyph cache: every glyph written into a cell is compared with a slow reference that applies
// the pixel rules again (levels per source kind, alpha formulas, edge stamps, both memory-strip
// layouts), for every named font type in both caches; the sizing of both caches, eviction, the
// large-code list, variation selectors and the clipping of glyphs to their cells.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "FontFixtures.h"
#include "GlyphCacheReference.h"
#include "GraphTestSupport.h"
#include "Main/DxFont.h"
#include "platform/Gdi32Font.h"

namespace {

using namespace ZiDaz;
using velk::test::FontFixtureFolder;
using velk::test::MakeTestFont;
using velk_graph_test::GraphFixture;

// Squares, bars and a ring at 1,000 units per em; the variant of 'B' is a small square.
const char* kSquareJson = R"({"family": "VelkCacheSquares", "upm": 1000, "winAscent": 800,
  "winDescent": 200, "ascender": 800, "descender": -200,
  "glyphs": [
    {"char": 65, "name": "A", "advance": 600, "boxes": [[50, 0, 550, 500]]},
    {"char": 66, "name": "B", "advance": 600, "boxes": [[0, 0, 60, 760], [300, -180, 530, 90]]},
    {"char": 67, "name": "C", "advance": 700, "boxes": [[0, 0, 640, 90], [0, 0, 90, 640],
        [550, 0, 640, 640], [0, 550, 640, 640]]},
    {"char": 68, "name": "D", "advance": 300, "boxes": [[-40, 300, 170, 330]]},
    {"char": 8364, "name": "Bvariant", "advance": 300, "boxes": [[0, 0, 150, 150]]}],
  "variants": [[66, 917760, "Bvariant"]]})";

using namespace glyph_ref;

Cell ActualCell(const FontHandleData* f, const FontGlyphEntry* entry) {
    Cell out;
    const int cell = f->metrics.cellSize;
    if (f->cache.onTexture) {
        const BASEIMAGE& img = f->cache.image;
        const int x0 = entry->slotRow * cell, y0 = entry->slotColumn * cell;
        auto read = [&](int x, int y) {
            const auto* row = static_cast<const std::uint8_t*>(img.Pixels) +
                              static_cast<std::ptrdiff_t>(y) * img.Pitch;
            std::uint32_t v = 0;
            std::memcpy(&v, row + x * img.Format.BytesPerPixel, img.Format.BytesPerPixel);
            return v;
        };
        for (int y = 0; y < cell; ++y) {
            for (int x = 0; x < cell; ++x) {
                out.body.push_back(read(x0 + x, y0 + y));
                out.edge.push_back((f->fontType & 1) ? read(x0 + f->cache.imageWidth + x, y0 + y)
                                                     : 0);
            }
        }
    } else {
        const auto* strip = static_cast<const std::uint8_t*>(f->memImagePixels);
        const std::size_t bytes = static_cast<std::size_t>(f->memImagePitch) * cell;
        out.rows.assign(strip + bytes * entry->cacheIndex, strip + bytes * (entry->cacheIndex + 1));
    }
    return out;
}

// Every glyph the cache is handed is written and compared with the reference at once.
struct Recorder {
    static Recorder& Get() {
        static Recorder r;
        return r;
    }
    int glyphs = 0, inked = 0;
    std::vector<std::string> mismatches;
    static int Write(FontHandleData* font, FontGlyphEntry* entry, std::uint32_t code,
                     std::uint32_t selector, int blank, int kind, const void* bitmap, int width,
                     int height, int pitch, int originX, int top, int advance, int upload) {
        int result = CacheRenderedGlyph(font, entry, code, selector, blank, kind, bitmap, width,
                                        height, pitch, originX, top, advance, upload);
        if (result != 0) return result;
        Written g{entry, code, blank, kind, {}, width, height, pitch, originX, top, advance};
        if (bitmap != nullptr && pitch > 0 && height > 0) {
            const auto* b = static_cast<const std::uint8_t*>(bitmap);
            g.bits.assign(b, b + static_cast<std::size_t>(pitch) * height);
        }
        Recorder& r = Get();
        ++r.glyphs;
        // A blank glyph only advances: its cell is left as it was.
        if (blank || bitmap == nullptr) {
            const int e = (font->fontType & 1) ? font->edgeSize : 0;
            const int w = kind == 1 ? 4 : kind == 2 ? 8 : kind == 3 ? 16 : 1;
            if (entry->advance != FloorDivide(advance + w / 4, w) + 2 * e || entry->width != 0) {
                r.mismatches.push_back("blank " + std::to_string(code));
            }
            return 0;
        }
        Cell want = ReferenceCell(font, g), got = ActualCell(font, entry);
        bool ink = false;
        const std::uint32_t alphaMask = font->cache.image.Format.AlphaMask;
        for (std::uint32_t v : want.body) ink |= (v & alphaMask) != 0;
        for (std::uint8_t v : want.rows) ink |= v != 0;
        r.inked += ink;
        if (want.body != got.body || want.edge != got.edge || want.rows != got.rows) {
            r.mismatches.push_back("type " + std::to_string(font->fontType) + " edge " +
                                   std::to_string(font->edgeSize) + " code " +
                                   std::to_string(code) + " kind " + std::to_string(kind));
        }
        if (!blank && bitmap != nullptr && width > 0) {
            Expected x = ReferenceLevels(font, g);
            const int e = (font->fontType & 1) ? font->edgeSize : 0;
            if (entry->drawX != x.ox || entry->drawY != x.oy ||
                entry->advance != x.advance + 2 * e) {
                r.mismatches.push_back("metrics of code " + std::to_string(code));
            }
        }
        return 0;
    }
};

class FontCacheTest : public GraphFixture {
  protected:
    static void SetUpTestSuite() {
        std::string square = FontFixtureFolder() + "/cache-squares.ttf";
        ASSERT_TRUE(MakeTestFont(square, kSquareJson));
        std::u16string wide(square.begin(), square.end());
        ASSERT_EQ(platform::gdi32::AddFontResourceExW(wide.c_str(), FR_PRIVATE, nullptr), 1);
    }
    static void TearDownTestSuite() {
        std::string square = FontFixtureFolder() + "/cache-squares.ttf";
        std::u16string wide(square.begin(), square.end());
        platform::gdi32::RemoveFontResourceExW(wide.c_str(), FR_PRIVATE, nullptr);
    }
    void SetUp() override {
        GraphFixture::SetUp();
        std::memset(&FontSystemState, 0, sizeof(FontSystemState));
        Recorder::Get() = Recorder{};
    }
    void TearDown() override {
        GraphFixture::TearDown();
        std::memset(&FontSystemState, 0, sizeof(FontSystemState));
        WriteGlyphToCache = nullptr;
    }
    // Every named type (the edged ones with edges 1 to 5) of both faces, each glyph checked.
    void CheckEveryType() {
        struct Face {
            const char* name;
            const char16_t* text;
        } faces[] = {{"VelkCacheSquares", u"ABCD A"}, {"IPAGothic", u"Ag漢字あ@W"}};
        const int plain[] = {0, 2, 18, 34, 50};
        const int edgedTypes[] = {1, 3, 19, 35, 51};
        for (const Face& face : faces) {
            std::vector<std::pair<int, int>> settings;
            for (int t : plain) settings.push_back({t, 0});
            for (int t : edgedTypes)
                for (int e = 1; e <= 5; ++e) settings.push_back({t, e});
            for (auto [type, edge] : settings) {
                SCOPED_TRACE(std::string(face.name) + " type " + std::to_string(type) + " edge " +
                             std::to_string(edge));
                HandleValue h = CreateFontToHandle(face.name, 16, 6, type, 1, edge, 0, -1);
                ASSERT_GE(h, 0);
                FontHandleData* f = ResolveFontHandle(h);
                WriteGlyphToCache = &Recorder::Write;
                int count = 0;
                ASSERT_EQ(PrepareTextGlyphs(f, face.text, -1, nullptr, nullptr, &count), 0);
                DeleteHandle(h);
            }
        }
        EXPECT_EQ(Recorder::Get().mismatches, std::vector<std::string>{});
        EXPECT_GT(Recorder::Get().inked, 200);
    }
};

TEST_F(FontCacheTest, EveryTypeInTheMemoryStripEqualsTheReference) {
    StartSoftware(32);
    CheckEveryType();
}

TEST_F(FontCacheTest, EveryTypeInTheTextureEqualsTheReference) {
    StartDevice(4096, false);
    CheckEveryType();
    // An edged anti-aliased glyph: where the body is full the edge half is transparent.
    HandleValue h = CreateFontToHandle("VelkCacheSquares", 16, 6, DX_FONTTYPE_ANTIALIASING_EDGE_8X8,
                                       1, 2, 0, -1);
    FontHandleData* f = ResolveFontHandle(h);
    ASSERT_EQ(f->cache.onTexture, 1);
    FontGlyphEntry* e = FindGlyph(f, 'A', 0, nullptr, nullptr, nullptr, 0, 1);
    ASSERT_NE(e, nullptr);
    Cell c = ActualCell(f, e);
    int full = 0;
    for (std::size_t i = 0; i < c.body.size(); ++i) {
        if ((c.body[i] >> 24) == 255) {
            ++full;
            EXPECT_EQ(c.edge[i] >> 24, 0u);
        }
    }
    EXPECT_GT(full, 10);
    // The written cells went to the cache graph: the body and the edge half.
    const auto& transfers = ZiDaz::testing::RecordingBackend::Instance().transfers;
    ASSERT_GE(transfers.size(), 2u);
    EXPECT_EQ(transfers.back().graph, f->cache.graph);
    EXPECT_EQ(transfers[transfers.size() - 2].graph, f->cache.graph);
}

// A glyph written by hand through the cache's writer.
struct HandGlyph {
    int kind, width, height, pitch, originX, top, advance;
    std::vector<std::uint8_t> bits;
};

TEST_F(FontCacheTest, SupersampledOriginsRoundDownAndBigGlyphsStayInTheirCells) {
    StartSoftware(32);
    HandleValue h =
        CreateFontToHandle("VelkCacheSquares", 16, 6, DX_FONTTYPE_ANTIALIASING_4X4, 1, 0, 0, -1);
    FontHandleData* f = ResolveFontHandle(h);
    ASSERT_NE(f, nullptr);
    const int cell = f->metrics.cellSize;
    // Origin -2 at 4 x 4 is -1 pixel; a top of -3 is -1 with three rows of the block above.
    std::vector<std::uint8_t> ink(4 * 8, 0xFF);
    ASSERT_EQ(
        CacheRenderedGlyph(f, &f->glyphs[0], 'x', 0, 0, 1, ink.data(), 32, 8, 4, -2, -3, 30, 0), 0);
    EXPECT_EQ(f->glyphs[0].drawX, -1);
    EXPECT_EQ(f->glyphs[0].drawY, -1);
    EXPECT_EQ(f->glyphs[0].advance, 7);  // (30 + 1) / 4
    EXPECT_EQ(f->glyphs[0].height, 3);   // (8 + 1 + 3) / 4
    // A glyph far larger than the cell fills only its own cell.
    std::vector<std::uint8_t> huge(static_cast<std::size_t>(64) * 512, 0xFF);
    std::memset(f->memImagePixels, 0x5A,
                static_cast<std::size_t>(f->memImagePitch) * cell * f->capacity);
    ASSERT_EQ(
        CacheRenderedGlyph(f, &f->glyphs[1], 'y', 0, 0, 1, huge.data(), 512, 512, 64, 0, 0, 40, 0),
        0);
    const auto* strip = static_cast<const std::uint8_t*>(f->memImagePixels);
    const std::size_t cellBytes = static_cast<std::size_t>(f->memImagePitch) * cell;
    for (std::size_t i = 0; i < cellBytes; ++i) {
        EXPECT_EQ(strip[i], 0x5A);                  // the cell before
        EXPECT_EQ(strip[cellBytes + i], 15);        // full coverage: level 16 - 1
        EXPECT_EQ(strip[2 * cellBytes + i], 0x5A);  // the cell after
    }
    EXPECT_LE(f->glyphs[1].width, cell);
    EXPECT_LE(f->glyphs[1].height, cell);
    // The memory strip of an anti-aliased font takes levels only.
    EXPECT_EQ(CacheRenderedGlyph(f, &f->glyphs[2], 'z', 0, 0, 0, ink.data(), 8, 8, 4, 0, 0, 8, 0),
              -1);
    EXPECT_EQ(CacheRenderedGlyph(f, &f->glyphs[2], 'z', 0, 0, 99, ink.data(), 8, 8, 4, 0, 0, 8, 0),
              -1);
}

TEST_F(FontCacheTest, MemoryStripCapacityFollowsTheCellSize) {
    StartSoftware(32);
    struct Case {
        int size, cell, want;
    };
    HandleValue h = CreateFontToHandle("VelkCacheSquares", 16, 6, 0, 1, 0, 0, -1);
    FontHandleData* f = ResolveFontHandle(h);
    int cell = f->metrics.cellSize;
    EXPECT_EQ(f->capacity, std::min(std::max(0x50000 / (cell * cell), 20), 2024));
    EXPECT_EQ(f->cache.onTexture, 0);
    EXPECT_EQ(f->memImageBitsPerPixel, 1);
    HandleValue big = CreateFontToHandle("VelkCacheSquares", 190, 6, 0, 1, 0, 0, -1);
    FontHandleData* b = ResolveFontHandle(big);
    EXPECT_LT(0x50000 / (b->metrics.cellSize * b->metrics.cellSize), 20);
    EXPECT_EQ(b->capacity, 20);
    SetGlyphCacheCapacity(33);
    HandleValue set = CreateFontToHandle("VelkCacheSquares", 16, 6, 2, 1, 0, 0, -1);
    EXPECT_EQ(ResolveFontHandle(set)->capacity, 33);
    EXPECT_EQ(ResolveFontHandle(set)->memImageBitsPerPixel, 8);
}

TEST_F(FontCacheTest, TextureGrowsUntilTheCapacityFits) {
    StartDevice(4096, false);
    SetGlyphCacheCapacity(170);
    HandleValue h = CreateFontToHandle("VelkCacheSquares", 16, 6, 0, 1, 0, 0, -1);
    FontHandleData* f = ResolveFontHandle(h);
    ASSERT_EQ(f->cache.onTexture, 1);
    const int cell = f->metrics.cellSize, w = f->cache.imageWidth, hh = f->cache.imageHeight;
    EXPECT_GE(f->capacity, 170);
    EXPECT_EQ(f->capacity, (w / cell) * (hh / cell));
    // One step smaller would not hold them: the last doubling was needed.
    const int smaller = hh < w ? (w / 2 / cell) * (hh / cell) : (w / cell) * (hh / 2 / cell);
    EXPECT_LT(smaller, 170);
    EXPECT_EQ(f->cache.columns, hh / cell);
    EXPECT_EQ(f->glyphs[f->capacity].cacheIndex, -1);
    // Automatic: 85% of the 640 x 480 screen and at least 10 cells.
    SetGlyphCacheCapacity(0);
    for (int size : {16, 120}) {
        HandleValue a = CreateFontToHandle("VelkCacheSquares", size, 6, 0, 1, 0, 0, -1);
        FontHandleData* g = ResolveFontHandle(a);
        const long long area = static_cast<long long>(g->cache.imageWidth) * g->cache.imageHeight;
        if (g->capacity < 2024) {
            EXPECT_GE(area, 640 * 480 * 85 / 100);
            EXPECT_GE(g->capacity, 10);
        }
        DeleteHandle(a);
    }
}

TEST_F(FontCacheTest, AFullCacheReplacesItsOldestGlyph) {
    StartSoftware(32);
    SetGlyphCacheCapacity(20);
    HandleValue h = CreateFontToHandle("VelkCacheSquares", 16, 6, 0, 1, 0, 0, -1);
    FontHandleData* f = ResolveFontHandle(h);
    ASSERT_EQ(f->capacity, 20);
    std::u16string text;
    for (int i = 0; i < 21; ++i) text += static_cast<char16_t>(u'a' + i);
    int count = 0;
    ASSERT_EQ(PrepareTextGlyphs(f, text.c_str(), 20, nullptr, nullptr, &count), 0);
    EXPECT_EQ(count, 20);
    EXPECT_EQ(f->cacheIndex[u'a'].present, 1);
    ASSERT_EQ(PrepareTextGlyphs(f, text.c_str() + 20, 1, nullptr, nullptr, &count), 0);
    EXPECT_EQ(f->cacheIndex[u'a'].present, 0);
    EXPECT_EQ(f->glyphs[0].code, static_cast<std::uint32_t>(u'a' + 20));
    EXPECT_EQ(f->cacheIndex[u'b'].present, 1);
    EXPECT_EQ(f->nextSlot, 1);
}

TEST_F(FontCacheTest, AVariationSelectorMakesAGlyphOfItsOwn) {
    StartSoftware(32);
    HandleValue h = CreateFontToHandle("VelkCacheSquares", 16, 6, 0, 1, 0, 0, -1);
    FontHandleData* f = ResolveFontHandle(h);
    // B, B with selector U+E0100 (a surrogate pair), B.
    const char16_t text[] = {u'B', 0xDB40, 0xDD00, u'B', 0};
    int count = 0;
    std::uint32_t codes[8], selectors[8];
    ASSERT_EQ(PrepareTextGlyphs(f, text, -1, codes, selectors, &count), 0);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(selectors[0], 0xE0100u);
    EXPECT_EQ(selectors[1], 0u);
    EXPECT_EQ(f->cacheIndex[u'B'].present, 1);
    FontGlyphEntry* plain = FindGlyph(f, 'B', 0, nullptr, nullptr, nullptr, 0, 0);
    FontGlyphEntry* variant = FindGlyph(f, 'B', 0xE0100, nullptr, nullptr, nullptr, 0, 0);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(variant, nullptr);
    EXPECT_NE(plain, variant);
    EXPECT_EQ(f->extendedCount, 1);
    EXPECT_EQ(variant->indexEntry, nullptr);
    EXPECT_NE(variant->advance, plain->advance);  // the variant is a glyph of its own
    // A text that ends inside a surrogate pair stops there.
    const char16_t cut[] = {u'A', 0xD840, 0};
    ASSERT_EQ(PrepareTextGlyphs(f, cut, 2, nullptr, nullptr, &count), 0);
    EXPECT_EQ(count, 1);
}

}  // namespace
