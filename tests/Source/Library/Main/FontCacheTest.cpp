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

// ---- The reference ----

struct Written {
    FontGlyphEntry* entry;
    std::uint32_t code;
    int blank, kind;
    std::vector<std::uint8_t> bits;
    int width, height, pitch, originX, top, advance;
};

int FloorDivide(int a, int b) {
    return static_cast<int>(std::floor(static_cast<double>(a) / b));
}

int Bit(const Written& g, int x, int y) {
    if (y < 0 || y >= g.height || x < 0 || x >= g.pitch * 8) return 0;
    return (g.bits[static_cast<std::size_t>(y) * g.pitch + x / 8] >> (7 - x % 8)) & 1;
}

int Byte(const Written& g, int x, int y) {
    if (y < 0 || y >= g.height || x < 0 || x >= g.pitch) return 0;
    return g.bits[static_cast<std::size_t>(y) * g.pitch + x];
}

struct Expected {
    int scale;  // 1, 16, 64, 255
    int ox, oy, ow, oh, advance;
    std::vector<int> levels;  // ow x oh
};

Expected ReferenceLevels(const FontHandleData* f, const Written& g) {
    const bool texture = f->cache.onTexture;
    const bool tex32 = texture && f->cache.textureColorDepth == 32;
    const int w = g.kind == 1 ? 4 : g.kind == 2 ? 8 : g.kind == 3 ? 16 : 1;
    Expected e{};
    e.ox = FloorDivide(g.originX + w / 4, w);
    e.advance = FloorDivide(g.advance + w / 4, w);
    e.oy = FloorDivide(g.top, w);
    const int r = g.top - e.oy * w;
    e.ow = (g.width + w - 1) / w;
    e.oh = (g.height + r + w - 1) / w;
    e.levels.assign(static_cast<std::size_t>(e.ow) * e.oh, 0);
    for (int y = 0; y < e.oh; ++y) {
        for (int x = 0; x < e.ow; ++x) {
            int v = 0;
            switch (g.kind) {
                case 0:
                    v = x < g.width ? Bit(g, x, y) : 0;
                    e.scale = 1;
                    break;
                case 5:
                    v = x < g.width && Byte(g, x, y) != 0;
                    e.scale = 1;
                    break;
                case 1:
                case 2:
                case 3: {
                    int count = 0;
                    for (int dy = 0; dy < w; ++dy)
                        for (int dx = 0; dx < w; ++dx) count += Bit(g, x * w + dx, y * w - r + dy);
                    if (tex32) {
                        v = w == 4 ? count * 4 : w == 8 ? count : std::min(count, 255);
                        e.scale = w == 16 ? 255 : 64;
                    } else {
                        v = w == 4 ? count : w == 8 ? count / 4 : 16 * std::min(count, 255) / 255;
                        e.scale = 16;
                    }
                    break;
                }
                case 4: {
                    int n = x < g.width ? (Byte(g, x / 2, y) >> (x % 2 ? 0 : 4)) & 15 : 0;
                    v = texture ? 64 * n / 15 : (n == 0 ? 0 : n + 1);
                    e.scale = texture ? 64 : 16;
                    break;
                }
                case 6:
                    v = x < g.width ? Byte(g, x, y) : 0;
                    e.scale = 16;
                    break;
                case 7:
                    v = x < g.width ? Byte(g, x, y) : 0;
                    if (!texture) v /= 4;
                    e.scale = texture ? 64 : 16;
                    break;
                case 8:
                    v = x < g.width ? Byte(g, x, y) : 0;
                    if (!texture) v = 16 * v / 255;
                    e.scale = texture ? 255 : 16;
                    break;
            }
            e.levels[static_cast<std::size_t>(y) * e.ow + x] = v;
        }
    }
    if (e.ow == 0 || e.oh == 0) {
        e.scale = g.kind == 0 || g.kind == 5 ? 1 : 16;
    }
    return e;
}

std::vector<std::pair<int, int>> ReferenceStamp(int edge, bool memory) {
    std::vector<std::pair<int, int>> out;
    std::vector<std::string> rows;
    if (edge == 1) {
        rows = memory ? std::vector<std::string>{".X.", "X.X", ".X."}
                      : std::vector<std::string>{"XXX", "XXX", "XXX"};
    } else if (edge == 2) {
        rows = {".XXX.", "XXXXX", "XXXXX", "XXXXX", ".XXX."};
    } else if (edge == 3) {
        rows = {"...X...", ".XXXXX.", ".XXXXX.", "XXXXXXX", ".XXXXX.", ".XXXXX.", "...X..."};
    } else if (edge == 4) {
        rows = {"..XXXXX..", ".XXXXXXX.", "XXXXXXXXX", "XXXXXXXXX", "XXXXXXXXX",
                "XXXXXXXXX", "XXXXXXXXX", ".XXXXXXX.", "..XXXXX.."};
    } else {
        for (int y = -edge; y <= edge; ++y) {
            std::string row;
            for (int x = -edge; x <= edge; ++x) row += x * x + y * y <= edge * edge ? 'X' : '.';
            rows.push_back(row);
        }
    }
    for (int y = 0; y < static_cast<int>(rows.size()); ++y)
        for (int x = 0; x < static_cast<int>(rows[y].size()); ++x)
            if (rows[y][x] == 'X') out.push_back({x - edge, y - edge});
    return out;
}

// The pixels the cell must hold: texture (body and edge half, pixel values) or memory strip rows.
struct Cell {
    std::vector<std::uint32_t> body, edge;
    std::vector<std::uint8_t> rows;
};

Cell ReferenceCell(const FontHandleData* f, const Written& g) {
    const bool texture = f->cache.onTexture;
    const int cell = f->metrics.cellSize;
    const bool edged = (f->fontType & 1) && f->edgeSize > 0;
    const int e = edged ? f->edgeSize : 0;
    const COLORFORMAT& fmt = f->cache.image.Format;
    const int ab = fmt.AlphaWidth;
    const std::uint32_t white = fmt.RedMask | fmt.GreenMask | fmt.BlueMask;
    auto pixel = [&](int alpha) {
        return white | (static_cast<std::uint32_t>(alpha) << fmt.AlphaPosition);
    };
    Cell out;
    const int pitch = f->memImagePitch;
    if (texture) {
        out.body.assign(static_cast<std::size_t>(cell) * cell, edged ? 0 : pixel(0));
        out.edge.assign(static_cast<std::size_t>(cell) * cell, 0);
    } else {
        out.rows.assign(static_cast<std::size_t>(pitch) * cell, 0);
    }
    if (g.blank || g.bits.empty() || g.width <= 0 || g.height <= 0) return out;
    Expected x = ReferenceLevels(f, g);
    const int inset = texture ? 1 : 0;
    const int cw = x.ow + 2 * e, ch = x.oh + 2 * e;
    std::vector<int> body(static_cast<std::size_t>(cw) * ch, 0), edgeLevel(body.size(), 0);
    for (int y = 0; y < x.oh; ++y)
        for (int xx = 0; xx < x.ow; ++xx)
            body[static_cast<std::size_t>(y + e) * cw + xx + e] =
                x.levels[static_cast<std::size_t>(y) * x.ow + xx];
    if (edged) {
        auto stamp = ReferenceStamp(e, !texture);
        const int L = x.scale == 255 ? 255 : x.scale, D = x.scale == 255 ? 256 : x.scale;
        for (int y = 0; y < x.oh; ++y) {
            for (int xx = 0; xx < x.ow; ++xx) {
                int a = x.levels[static_cast<std::size_t>(y) * x.ow + xx];
                if (a <= 0) continue;
                for (auto [dx, dy] : stamp) {
                    int& t = edgeLevel[static_cast<std::size_t>(y + e + dy) * cw + xx + e + dx];
                    if (x.scale == 1)
                        t = 1;
                    else if (!texture)
                        t = std::max(t, a);
                    else
                        t = t + (L - t) * a / D;
                }
            }
        }
    }
    const int full = (1 << ab) - 1;
    for (int y = 0; y < ch; ++y) {
        for (int xx = 0; xx < cw; ++xx) {
            const int cx = inset + xx, cy = inset + y;
            if (cx >= cell || cy >= cell) continue;
            const int b = body[static_cast<std::size_t>(y) * cw + xx];
            const int t = edgeLevel[static_cast<std::size_t>(y) * cw + xx];
            const std::size_t at = static_cast<std::size_t>(cy) * cell + cx;
            if (texture) {
                if (!edged) {
                    if (xx >= x.ow || y >= x.oh) continue;
                    int a = x.scale == 1    ? (b ? full : 0)
                            : x.scale == 16 ? (b ? b * (1 << (ab - 4)) - 1 : 0)
                            : x.scale == 64 ? (b ? (b - 1) * (1 << (ab - 6)) : 0)
                                            : b >> (8 - ab);
                    out.body[at] = pixel(a);
                } else {
                    int ba, ea;
                    if (x.scale == 1) {
                        ba = b ? full : 0;
                        ea = t ? full : 0;
                    } else if (x.scale == 255) {
                        ba = b;
                        ea = t;
                    } else if (b == x.scale) {
                        ba = full;
                        ea = 0;
                    } else if (x.scale == 16) {
                        ba = b ? b * 16 - 1 : 0;
                        ea = t ? t * 16 - 1 : 0;
                    } else {
                        ba = b ? 4 * b - 1 : 0;
                        ea = t ? 4 * t - 1 : 0;
                    }
                    out.body[at] = pixel(ba);
                    out.edge[at] = pixel(ea);
                }
            } else {
                std::uint8_t* row = &out.rows[static_cast<std::size_t>(cy) * pitch];
                if (f->memImageBitsPerPixel == 1) {
                    if (b) row[cx / 8] |= static_cast<std::uint8_t>(0x80 >> (cx % 8));
                } else if (!edged) {
                    row[cx] = static_cast<std::uint8_t>(b ? b - 1 : 0);
                } else if (x.scale == 1) {
                    row[cx] = static_cast<std::uint8_t>(b ? 1 : t ? 2 : 0);
                } else {
                    row[cx] = static_cast<std::uint8_t>((t ? t - 1 : 0) << 4 | (b ? b - 1 : 0));
                }
            }
        }
    }
    return out;
}

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
