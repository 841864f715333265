// Text drawing and measuring. Every drawn screen is compared pixel for pixel with a reference
// composed here from the back end's FreeType rendering of each glyph (caught on its way into the
// cache), turned into cells by the cache's level rules (GlyphCacheReference.h), placed by the
// placement rules (advance, spacing, kerning, line feeds, the leading shift, vertical turning),
// written by the four pixel rules and blended by the renderer's per-pixel rules
// (MemImgReference.h).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "GlyphCacheReference.h"
#include "GraphTestSupport.h"
#include "Main/DxFont.h"
#include "Main/DxFontDraw.h"
#include "MemImgReference.h"

namespace {

using namespace ZiDaz;
using velk_graph_test::GraphFixture;

constexpr int kW = 640, kH = 480;

// Every glyph the back end renders, as it was handed to the cache: the last one of each code.
struct GlyphLog {
    static std::map<std::uint32_t, glyph_ref::Written>& Get() {
        static std::map<std::uint32_t, glyph_ref::Written> log;
        return log;
    }
    static int Write(FontHandleData* font, FontGlyphEntry* entry, std::uint32_t code,
                     std::uint32_t selector, int blank, int kind, const void* bitmap, int width,
                     int height, int pitch, int originX, int top, int advance, int upload) {
        const int result = CacheRenderedGlyph(font, entry, code, selector, blank, kind, bitmap,
                                              width, height, pitch, originX, top, advance, upload);
        if (result != 0) return result;
        glyph_ref::Written g{entry,  code,  blank,   kind, {},     width,
                             height, pitch, originX, top,  advance};
        if (bitmap != nullptr && pitch > 0 && height > 0) {
            const auto* b = static_cast<const std::uint8_t*>(bitmap);
            g.bits.assign(b, b + static_cast<std::size_t>(pitch) * height);
        }
        Get()[code] = std::move(g);
        return 0;
    }
};

// One glyph as the reference sees it: placement and the cell rows of the memory strip.
struct RefGlyph {
    bool found = false, blank = true;
    int drawX = 0, drawY = 0, advance = 0, width = 0, height = 0;
    std::vector<std::uint8_t> rows;
};

RefGlyph ReferenceGlyph(const FontHandleData* f, std::uint32_t code) {
    RefGlyph out;
    auto it = GlyphLog::Get().find(code);
    if (it == GlyphLog::Get().end()) return out;
    const glyph_ref::Written& g = it->second;
    out.found = true;
    const int e = (f->fontType & 1) && f->edgeSize > 0 ? f->edgeSize : 0;
    const int cell = f->metrics.cellSize;
    if (g.blank || g.bits.empty() || g.width <= 0 || g.height <= 0) {
        const int w = g.kind == 1 ? 4 : g.kind == 2 ? 8 : g.kind == 3 ? 16 : 1;
        out.advance = glyph_ref::FloorDivide(g.advance + w / 4, w) + 2 * e;
        return out;
    }
    const glyph_ref::Expected x = glyph_ref::ReferenceLevels(f, g);
    out.blank = false;
    out.drawX = x.ox;
    out.drawY = x.oy;
    out.advance = x.advance + 2 * e;
    out.width = std::min(x.ow + 2 * e, cell);
    out.height = std::min(x.oh + 2 * e, cell);
    out.rows = glyph_ref::ReferenceCell(f, g).rows;
    return out;
}

struct Face {
    const char* name;
};
const Face kFaces[] = {{"IPAGothic"}, {"IPAMincho"}, {"Liberation Sans"}};

const char16_t kText[] = u"日本語のテキスト ABC xyz";

// The screen's pixels, raw.
std::vector<std::uint32_t> ReadScreen(const MEMIMG& s) {
    std::vector<std::uint32_t> out(static_cast<std::size_t>(s.Width) * s.Height);
    const int bytes = s.Shared->Format->BitsPerPixel / 8;
    for (int y = 0; y < s.Height; ++y) {
        const std::uint8_t* row = s.Pixels + static_cast<std::ptrdiff_t>(y) * s.Shared->Pitch;
        for (int x = 0; x < s.Width; ++x) {
            std::uint32_t v = 0;
            std::memcpy(&v, row + x * bytes, static_cast<std::size_t>(bytes));
            out[static_cast<std::size_t>(y) * s.Width + x] = v;
        }
    }
    return out;
}

void WriteScreen(MEMIMG& s, const std::vector<std::uint32_t>& px) {
    const int bytes = s.Shared->Format->BitsPerPixel / 8;
    for (int y = 0; y < s.Height; ++y) {
        std::uint8_t* row = s.Pixels + static_cast<std::ptrdiff_t>(y) * s.Shared->Pitch;
        for (int x = 0; x < s.Width; ++x)
            std::memcpy(row + x * bytes, &px[static_cast<std::size_t>(y) * s.Width + x],
                        static_cast<std::size_t>(bytes));
    }
}

// A background that every blend mode changes visibly.
std::vector<std::uint32_t> Background(int bits) {
    std::vector<std::uint32_t> px(static_cast<std::size_t>(kW) * kH);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            int r = (x * 3 + y) & 255, g = (y * 2) & 255, b = (x + y * 5) & 255;
            px[static_cast<std::size_t>(y) * kW + x] =
                bits == 32 ? static_cast<std::uint32_t>(r << 16 | g << 8 | b)
                           : static_cast<std::uint32_t>((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
        }
    }
    return px;
}

struct Rgb {
    int r, g, b;
};

// The number of pixels that differ in their colour bits; the first few are reported.
int Differences(const std::vector<std::uint32_t>& got, const std::vector<std::uint32_t>& want,
                std::uint32_t mask = 0xFFFFFF) {
    int bad = 0;
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
        if ((got[i] & mask) != (want[i] & mask) && ++bad <= 3) {
            ADD_FAILURE() << "pixel " << i % kW << "," << i / kW << ": " << std::hex
                          << (got[i] & mask) << " instead of " << (want[i] & mask);
        }
    }
    return bad + (got.size() != want.size() ? 1 : 0);
}

// What a colour argument (made by the screen's colour composer) becomes in 8-bit channels.
Rgb ChannelsOf(Rgb c, int bits) {
    if (bits == 32) return c;
    return {(c.r >> 3) * 255 / 31, (c.g >> 2) * 255 / 63, (c.b >> 3) * 255 / 31};
}

std::uint32_t Compose(Rgb c, int alpha, int bits, bool alphaImage) {
    if (bits == 32)
        return static_cast<std::uint32_t>((alphaImage ? alpha : 0) << 24 | c.r << 16 | c.g << 8 |
                                          c.b);
    std::uint32_t v = static_cast<std::uint32_t>((c.r >> 3) << 11 | (c.g >> 2) << 5 | (c.b >> 3));
    return alphaImage ? v | static_cast<std::uint32_t>(alpha) << 16 : v;
}

// The font's kerning amount of the pair, 0 without one.
int Kerning(const FontHandleData* f, std::uint32_t first, std::uint32_t second) {
    for (int i = 0; f->kerning != nullptr && i < f->metrics.kerningCount; ++i)
        if (f->kerning[i].first == first && f->kerning[i].second == second)
            return f->kerning[i].amount;
    return 0;
}

struct Look {
    Rgb text{250, 200, 40}, edge{20, 60, 230};
    int bright = 255;  // grey brightness
    int mode = DX_BLEND_NONE, param = 255;
};

// The reference of one text drawn at (x, y) onto before.
std::vector<std::uint32_t> Reference(FontHandleData* f, const std::u16string& text, int x, int y,
                                     const Look& look, int bits, bool vertical,
                                     const std::vector<std::uint32_t>& before) {
    const bool aa = (f->fontType & 2) != 0;
    const bool edged = (f->fontType & 1) && f->edgeSize > 0;
    auto bright = [&](Rgb c) {
        c = ChannelsOf(c, bits);
        return Rgb{c.r * look.bright / 255, c.g * look.bright / 255, c.b * look.bright / 255};
    };
    const Rgb tc = bright(look.text), ec = bright(look.edge);
    std::vector<std::int64_t> layer(before.size(), -1);
    const int cell = f->metrics.cellSize, d = f->metrics.leadingAdjustment;
    const int H = f->metrics.height;
    int pen = 0, lineOffset = 0, widest = 0, lines = 1;
    const int step = f->lineSpacingSet ? f->lineSpacing : H - d;
    auto put = [&](int px, int py, std::uint32_t v) {
        if (px < 0 || py < 0 || px >= kW || py >= kH) return;
        layer[static_cast<std::size_t>(py) * kW + px] = v;
    };
    std::vector<std::uint32_t> codes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        }
        codes.push_back(c);
    }
    const int ox = vertical ? x - d / 2 : x, oy = vertical ? y : y - d / 2;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::uint32_t c = codes[i];
        if (c == 10) {
            ++lines;
            pen = 0;
            lineOffset += step;
            continue;
        }
        const RefGlyph g = ReferenceGlyph(f, c);
        if (!g.found) {
            ADD_FAILURE() << "no glyph for " << c;
            continue;
        }
        if (c != 32 && c != 0x3000 && !g.blank) {
            for (int v = 0; v < g.height; ++v) {
                const std::uint8_t* row = &g.rows[static_cast<std::size_t>(v) * f->memImagePitch];
                for (int u = 0; u < g.width; ++u) {
                    std::int64_t value = -1;
                    if (f->memImageBitsPerPixel == 1) {
                        if ((row[u / 8] >> (7 - u % 8)) & 1) value = Compose(tc, 255, bits, aa);
                    } else if (!aa) {
                        if (row[u] == 1) value = Compose(tc, 255, bits, false);
                        if (row[u] == 2) value = Compose(ec, 255, bits, false);
                    } else if (!edged) {
                        int b = row[u] & 15;
                        if (b) value = Compose(tc, 16 * b, bits, true);
                    } else {
                        int b = row[u] & 15, e = row[u] >> 4;
                        if (b == 15) {
                            value = Compose(tc, 255, bits, true);
                        } else if (b > 0) {
                            int A = 16 * b + e * (15 - b), w = 4096 * b / A;
                            Rgb m{ec.r + (tc.r - ec.r) * w / 256, ec.g + (tc.g - ec.g) * w / 256,
                                  ec.b + (tc.b - ec.b) * w / 256};
                            value = Compose(m, A, bits, true);
                        } else if (e > 0) {
                            value = Compose(ec, 16 * e, bits, true);
                        }
                    }
                    if (value < 0) continue;
                    if (vertical)
                        put(ox - lineOffset + (H - g.drawY) - 1 - v, oy + pen + g.drawX + u,
                            static_cast<std::uint32_t>(value));
                    else
                        put(ox + pen + g.drawX + u, oy + lineOffset + g.drawY + v,
                            static_cast<std::uint32_t>(value));
                }
            }
        }
        pen += g.advance + f->spacing;
        if (i + 1 < codes.size()) pen += Kerning(f, c, codes[i + 1]);
        widest = std::max(widest, pen);
    }
    // Through the scratch image only its measured rectangle reaches the screen.
    const bool straight =
        !aa && (look.mode == DX_BLEND_NONE || (look.mode == DX_BLEND_ALPHA && look.param == 255));
    const int across = (H - d) + lineOffset;
    memimg_ref::Draw draw{bits == 32 ? 1 : 0,
                          aa ? memimg_ref::kAlpha : memimg_ref::kPlain,
                          look.mode,
                          look.param,
                          0xFFFFFF,
                          false,
                          aa,  // the cleared alpha-0 pixels are skipped
                          0,
                          true};
    std::vector<std::uint32_t> out = before;
    const std::uint32_t mask = bits == 32 ? 0xFFFFFF : 0xFFFF;
    for (int py = 0; py < kH; ++py) {
        for (int px = 0; px < kW; ++px) {
            const std::size_t i = static_cast<std::size_t>(py) * kW + px;
            if (layer[i] < 0) continue;
            if (!straight) {
                const int sx = vertical ? px - (x - lineOffset) : px - x, sy = py - y;
                const int rw = vertical ? across + d : widest, rh = vertical ? widest : across;
                if (sx < 0 || sy < 0 || sx >= rw || sy >= rh) continue;
            }
            out[i] = memimg_ref::BlendPixel(draw, static_cast<std::uint32_t>(layer[i]), nullptr, 0,
                                            before[i]) &
                     mask;
        }
    }
    return out;
}

class FontDrawTest : public GraphFixture {
  protected:
    void SetUp() override {
        GraphFixture::SetUp();
        std::memset(&FontSystemState, 0, sizeof(FontSystemState));
        GlyphLog::Get().clear();
    }
    void TearDown() override {
        GraphFixture::TearDown();
        std::memset(&FontSystemState, 0, sizeof(FontSystemState));
        WriteGlyphToCache = nullptr;
        GlyphLog::Get().clear();
    }

    // The library without a device; the glyphs its fonts render are logged from then on.
    void Start(int bits) {
        StartSoftware(bits);
        WriteGlyphToCache = &GlyphLog::Write;
    }
    MEMIMG& Screen() { return GraphicsSystemState.ScreenImage; }
    int Bits() { return Screen().Shared->Format->BitsPerPixel; }

    void Apply(const Look& look) {
        SelectBlendMode(look.mode, look.param);
        SetBrightnessColor(look.bright, look.bright, look.bright);
    }
    std::uint32_t Colour(Rgb c) { return ComposeScreenColor(c.r, c.g, c.b); }

    // Draws the text and compares the whole screen; the number of differing pixels.
    int DrawAndCompare(HandleValue h, const std::u16string& text, int x, int y, const Look& look,
                       bool vertical = false) {
        const int bits = Bits();
        const std::uint32_t mask = bits == 32 ? 0xFFFFFF : 0xFFFF;
        std::vector<std::uint32_t> before = Background(bits);
        WriteScreen(Screen(), before);
        Apply(look);
        FontHandleData* f = ResolveFontHandle(h);
        EXPECT_EQ(DrawTextWithFontWide(x, y, text.c_str(), static_cast<int>(text.size()),
                                       Colour(look.text), h, Colour(look.edge), vertical ? 1 : 0),
                  0);
        Apply(Look{});
        std::vector<std::uint32_t> want = Reference(f, text, x, y, look, bits, vertical, before);
        std::vector<std::uint32_t> got = ReadScreen(Screen());
        int bad = 0;
        for (std::size_t i = 0; i < got.size(); ++i) {
            if ((got[i] & mask) != (want[i] & mask) && ++bad <= 3) {
                ADD_FAILURE() << "pixel " << i % kW << "," << i / kW << ": " << std::hex
                              << (got[i] & mask) << " instead of " << (want[i] & mask);
            }
        }
        // Something was drawn at all.
        int changed = 0;
        for (std::size_t i = 0; i < got.size(); ++i) changed += (got[i] & mask) != before[i];
        EXPECT_GT(changed, 20);
        return bad;
    }
};

const Look kLooks[] = {
    {{250, 200, 40}, {20, 60, 230}, 255, DX_BLEND_NONE, 255},
    {{250, 200, 40}, {20, 60, 230}, 255, DX_BLEND_ALPHA, 128},
    {{250, 200, 40}, {20, 60, 230}, 255, DX_BLEND_ALPHA, 255},
    {{250, 200, 40}, {20, 60, 230}, 255, DX_BLEND_ADD, 200},
    {{250, 200, 40}, {20, 60, 230}, 255, DX_BLEND_SUBTRACT, 255},
    {{250, 200, 40}, {20, 60, 230}, 128, DX_BLEND_NONE, 255},
    {{250, 200, 40}, {20, 60, 230}, 128, DX_BLEND_ALPHA, 128},
};

struct TypeCase {
    int type, edge;
};

std::vector<TypeCase> TypeCases(bool allEdges) {
    std::vector<TypeCase> out;
    for (int t : {DX_FONTTYPE_NORMAL, DX_FONTTYPE_ANTIALIASING, DX_FONTTYPE_ANTIALIASING_4X4,
                  DX_FONTTYPE_ANTIALIASING_8X8, DX_FONTTYPE_ANTIALIASING_16X16})
        out.push_back({t, 0});
    for (int t :
         {DX_FONTTYPE_EDGE, DX_FONTTYPE_ANTIALIASING_EDGE, DX_FONTTYPE_ANTIALIASING_EDGE_4X4,
          DX_FONTTYPE_ANTIALIASING_EDGE_8X8, DX_FONTTYPE_ANTIALIASING_EDGE_16X16}) {
        if (allEdges) {
            for (int e = 1; e <= 5; ++e) out.push_back({t, e});
        } else {
            out.push_back({t, 2});
        }
    }
    return out;
}

TEST_F(FontDrawTest, EveryTypeFaceBlendAndBrightnessEqualsTheReference) {
    Start(32);
    for (const Face& face : kFaces) {
        const bool all = std::string(face.name) == "IPAGothic";
        for (TypeCase c : TypeCases(all)) {
            SCOPED_TRACE(std::string(face.name) + " type " + std::to_string(c.type) + " edge " +
                         std::to_string(c.edge));
            HandleValue h = CreateFontToHandle(face.name, 16, 6, c.type, 1, c.edge, 0, -1);
            ASSERT_GE(h, 0);
            ASSERT_EQ(IsFontCacheOnTexture(h), 0);
            for (const Look& look : kLooks) {
                SCOPED_TRACE("mode " + std::to_string(look.mode) + " param " +
                             std::to_string(look.param) + " bright " + std::to_string(look.bright));
                ASSERT_EQ(DrawAndCompare(h, kText, 13, 21, look), 0);
                if (!all) continue;
                ASSERT_EQ(DrawAndCompare(h, u"字", 600, 440, look), 0);
                ASSERT_EQ(DrawAndCompare(h, u"g", 3, 1, look), 0);
            }
            DeleteHandle(h);
        }
    }
}

TEST_F(FontDrawTest, ASixteenBitScreenEqualsTheReference) {
    Start(16);
    ASSERT_EQ(Bits(), 16);
    for (TypeCase c : {TypeCase{DX_FONTTYPE_NORMAL, 0}, TypeCase{DX_FONTTYPE_EDGE, 1},
                       TypeCase{DX_FONTTYPE_ANTIALIASING_8X8, 0},
                       TypeCase{DX_FONTTYPE_ANTIALIASING_EDGE_8X8, 3}}) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        HandleValue h = CreateFontToHandle("IPAGothic", 16, 6, c.type, 1, c.edge, 0, -1);
        ASSERT_GE(h, 0);
        for (const Look& look : kLooks) ASSERT_EQ(DrawAndCompare(h, kText, 40, 100, look), 0);
        DeleteHandle(h);
    }
}

TEST_F(FontDrawTest, VerticalTextTurnsEachGlyphAndLinesGoLeft) {
    Start(32);
    for (int type : {DX_FONTTYPE_NORMAL, DX_FONTTYPE_ANTIALIASING_EDGE_8X8}) {
        HandleValue h = CreateFontToHandle("IPAGothic", 16, 6, type, 1, 2, 0, -1);
        ASSERT_GE(h, 0);
        for (const Look& look : {kLooks[0], kLooks[1]}) {
            ASSERT_EQ(DrawAndCompare(h, u"日本語 Ab", 300, 50, look, true), 0);
            ASSERT_EQ(DrawAndCompare(h, u"縦書き\nAB", 300, 50, look, true), 0);
        }
        // The reported size is swapped.
        int w = 0, hgt = 0;
        FontHandleData* f = ResolveFontHandle(h);
        int along = LayOutText(0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, u"日本", 0, nullptr, nullptr,
                               f, 0, -1, 1, &w, &hgt, nullptr, nullptr);
        EXPECT_EQ(hgt, along);
        EXPECT_EQ(w, f->metrics.height - f->metrics.leadingAdjustment);
        DeleteHandle(h);
    }
}

TEST_F(FontDrawTest, LineFeedsSpacingAndTheLeadingShift) {
    Start(32);
    HandleValue h = CreateFontToHandle("Liberation Sans", 20, 6, DX_FONTTYPE_EDGE, 1, 1, 0, -1);
    ASSERT_GE(h, 0);
    FontHandleData* f = ResolveFontHandle(h);
    // "A\nB" is as wide as the wider line and one line step taller.
    int wA = MeasureTextWidthWide(u"A", 0, -1, h, 0), wB = MeasureTextWidthWide(u"W", 0, -1, h, 0);
    int w = 0, hgt = 0, lines = 0, chars = 0;
    int r = LayOutText(0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, u"A\nW", 0, nullptr, nullptr, f, 0,
                       -1, 0, &w, &hgt, &lines, &chars);
    EXPECT_EQ(r, std::max(wA, wB));
    const int step = f->metrics.height - f->metrics.leadingAdjustment;
    EXPECT_EQ(hgt, 2 * step);
    EXPECT_EQ(lines, 2);
    EXPECT_EQ(chars, 3);
    for (const Look& look : {kLooks[0], kLooks[1]})
        ASSERT_EQ(DrawAndCompare(h, u"A\nW\ty\r", 30, 30, look), 0);
    // A set line spacing is the step.
    SetFontLineSpacing(40, h);
    LayOutText(0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, u"A\nW", 0, nullptr, nullptr, f, 0, -1, 0, &w,
               &hgt, nullptr, nullptr);
    EXPECT_EQ(hgt, step + 40);
    ASSERT_EQ(DrawAndCompare(h, u"A\nW", 30, 30, kLooks[0]), 0);
    SetFontLineSpacing(step, h);
    f->lineSpacingSet = 0;
    // Spacing 2 widens two characters by 4.
    const int plain = MeasureTextWidthWide(u"AB", 0, -1, h, 0);
    SetFontCharSpacing(2, h);
    EXPECT_EQ(MeasureTextWidthWide(u"AB", 0, -1, h, 0), plain + 4);
    ASSERT_EQ(DrawAndCompare(h, u"AB", 30, 30, kLooks[1]), 0);
    SetFontCharSpacing(0, h);
    // Tab and carriage return are looked up like any character; space and U+3000 only advance.
    EXPECT_GT(MeasureTextWidthWide(u"\t\r", 0, -1, h, 0), 0);
    std::vector<std::uint32_t> before = Background(32);
    WriteScreen(Screen(), before);
    ASSERT_EQ(DrawTextWithFontWide(100, 100, u" \u3000 ", -1, Colour({255, 255, 255}), h, 0, 0), 0);
    EXPECT_EQ(Differences(ReadScreen(Screen()), before), 0);
    EXPECT_EQ(MeasureTextWidthWide(u" \u3000", 0, -1, h, 0),
              ReferenceGlyph(f, 32).advance + ReferenceGlyph(f, 0x3000).advance);
    // A leading adjustment lifts the text by half of it.
    WriteScreen(Screen(), before);
    DrawTextWithFontWide(100, 100, u"Ag", -1, Colour({255, 255, 255}), h, 0, 0);
    std::vector<std::uint32_t> unshifted = ReadScreen(Screen());
    const int d0 = f->metrics.leadingAdjustment;
    const int lift = (d0 + 6) / 2 - d0 / 2;
    f->metrics.leadingAdjustment = static_cast<std::uint16_t>(d0 + 6);
    f->metrics.height = static_cast<std::uint16_t>(f->metrics.height + 6);
    WriteScreen(Screen(), before);
    DrawTextWithFontWide(100, 100 + lift, u"Ag", -1, Colour({255, 255, 255}), h, 0, 0);
    EXPECT_EQ(Differences(ReadScreen(Screen()), unshifted), 0);
    ASSERT_EQ(DrawAndCompare(h, u"Ag", 100, 103, kLooks[1]), 0);
    f->metrics.height = static_cast<std::uint16_t>(f->metrics.height - 6);
    f->metrics.leadingAdjustment = static_cast<std::uint16_t>(d0);
    DeleteHandle(h);
}

TEST_F(FontDrawTest, KerningCountsOnlyBetweenAdjacentCharacters) {
    Start(32);
    HandleValue h = CreateFontToHandle("Liberation Sans", 20, 6, DX_FONTTYPE_NORMAL, 1, 0, 0, -1);
    FontHandleData* f = ResolveFontHandle(h);
    FontKerningPair* saved = f->kerning;
    const int savedCount = f->metrics.kerningCount;
    f->kerning = nullptr;
    f->metrics.kerningCount = 0;
    ResetGlyphCache(f);
    const int av = MeasureTextWidthWide(u"AV", 0, -1, h, 0);
    const int aXv = MeasureTextWidthWide(u"AxV", 0, -1, h, 0);
    const int x = MeasureTextWidthWide(u"x", 0, -1, h, 0);
    // A pair of our own: (A, V) by -5.
    static FontKerningPair pairs[] = {{'A', 'V', -5, 0}};
    f->kerning = pairs;
    f->metrics.kerningCount = 1;
    ResetGlyphCache(f);
    EXPECT_EQ(MeasureTextWidthWide(u"AV", 0, -1, h, 0), av - 5);
    EXPECT_EQ(MeasureTextWidthWide(u"AxV", 0, -1, h, 0), aXv);
    EXPECT_EQ(MeasureTextWidthWide(u"VA", 0, -1, h, 0), av);
    EXPECT_EQ(MeasureTextWidthWide(u"AVx", 0, -1, h, 0), av - 5 + x);
    f->kerning = saved;
    f->metrics.kerningCount = savedCount;
    ResetGlyphCache(f);
    DeleteHandle(h);
}

TEST_F(FontDrawTest, EdgeCasesOfTheDrawFront) {
    Start(32);
    HandleValue h = CreateFontToHandle("IPAGothic", 16, 6, DX_FONTTYPE_EDGE, 1, 2, 0, -1);
    std::vector<std::uint32_t> before = Background(32);
    WriteScreen(Screen(), before);
    const std::uint32_t white = Colour({255, 255, 255});
    EXPECT_EQ(DrawTextWithFontWide(10, 10, u"", -1, white, h, 0, 0), 0);
    EXPECT_EQ(DrawTextWithFontWide(10, 10, u"ABC", 0, white, h, 0, 0), 0);
    EXPECT_EQ(DrawTextWithFontWide(10, 10, nullptr, 3, white, h, 0, 0), 0);
    EXPECT_EQ(DrawTextWithFont(10, 10, "", white, h, 0, 0), 0);
    EXPECT_EQ(MeasureTextWidthWide(u"", 0, -1, h, 0), 0);
    // At or beyond the draw area's right edge nothing is drawn.
    EXPECT_EQ(DrawTextWithFontWide(640, 10, u"ABC", -1, white, h, 0, 0), 0);
    SetDrawClipRect(RECT{0, 0, 300, 480});
    EXPECT_EQ(DrawTextWithFontWide(300, 10, u"ABC", -1, white, h, 0, 0), 0);
    EXPECT_EQ(Differences(ReadScreen(Screen()), before), 0);
    // Clipped to the draw area: nothing right of it changes.
    EXPECT_EQ(DrawTextWithFontWide(290, 10, u"ABC", -1, white, h, 0, 0), 0);
    std::vector<std::uint32_t> got = ReadScreen(Screen());
    int left = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * kW + x;
            if (x >= 300) {
                EXPECT_EQ(got[i] & 0xFFFFFF, before[i]);
            }
            left += x < 300 && (got[i] & 0xFFFFFF) != before[i];
        }
    EXPECT_GT(left, 0);
    SetDrawClipRect(RECT{0, 0, 640, 480});
    // Bad handles.
    const std::string logBefore = Log();
    EXPECT_EQ(DrawTextWithFontWide(10, 10, u"A", -1, white, 12345, 0, 0), -1);
    EXPECT_EQ(DrawTextWithFont(10, 10, "A", white, 12345, 0, 0), -1);
    EXPECT_EQ(MeasureTextWidthWide(u"A", 0, -1, 12345, 0), -1);
    EXPECT_EQ(MeasureTextWidthWithFont("A", -1, 12345, 0), -1);
    EXPECT_EQ(DrawTextRotatedWithFontWide(10, 10, 1, 1, 0, 0, 0.5, white, 12345, 0, 0, u"A", -1),
              -1);
    const std::string log = Log().substr(logBefore.size());
    EXPECT_NE(log.find("フォントハンドル値が異常です"), std::string::npos) << log;
    // The edge lies under the body: where both cover a pixel the body colour shows.
    FontHandleData* f = ResolveFontHandle(h);
    Look look;
    look.text = {255, 255, 255};
    look.edge = {255, 0, 0};
    ASSERT_EQ(DrawAndCompare(h, u"田", 50, 50, look), 0);
    int body = 0;
    got = ReadScreen(Screen());
    for (std::uint32_t p : got) body += (p & 0xFFFFFF) == 0xFFFFFF;
    EXPECT_GT(body, 20);
    (void)f;
    // An empty draw area suppresses drawing.
    WriteScreen(Screen(), before);
    SetDrawClipRect(RECT{20, 20, 20, 40});
    EXPECT_EQ(DrawTextWithFontWide(10, 10, u"ABC", -1, white, h, 0, 0), 0);
    SetDrawClipRect(RECT{0, 0, 640, 480});
    EXPECT_EQ(Differences(ReadScreen(Screen()), before), 0);
    // The mask layer brackets the draw: a closed layer lets nothing through, an open one all.
    for (int blend : {DX_BLEND_NONE, DX_BLEND_ALPHA}) {
        SelectBlendMode(blend, 128);
        ASSERT_EQ(CreateMaskLayer(), 0);
        ASSERT_EQ(FillMaskLayer(1), 0);
        WriteScreen(Screen(), before);
        EXPECT_EQ(DrawTextWithFontWide(10, 10, u"ABC", -1, white, h, 0, 0), 0);
        EXPECT_EQ(Differences(ReadScreen(Screen()), before), 0);
        ASSERT_EQ(FillMaskLayer(0), 0);
        EXPECT_EQ(DrawTextWithFontWide(10, 10, u"ABC", -1, white, h, 0, 0), 0);
        std::vector<std::uint32_t> open = ReadScreen(Screen());
        ASSERT_EQ(DeleteMaskLayer(), 0);
        WriteScreen(Screen(), before);
        EXPECT_EQ(DrawTextWithFontWide(10, 10, u"ABC", -1, white, h, 0, 0), 0);
        EXPECT_EQ(Differences(ReadScreen(Screen()), open), 0);
    }
    SelectBlendMode(DX_BLEND_NONE, 255);
    DeleteHandle(h);
    // The formatted form draws its text in the default font.
    WriteScreen(Screen(), before);
    EXPECT_EQ(DrawFormattedText(30, 40, white, "%d-%s", 12, "ab"), 0);
    std::vector<std::uint32_t> formatted = ReadScreen(Screen());
    WriteScreen(Screen(), before);
    EXPECT_EQ(DrawTextDefaultFont(30, 40, "12-ab", white, 0), 0);
    EXPECT_EQ(Differences(ReadScreen(Screen()), formatted), 0);
    EXPECT_EQ(MeasureDefaultFontText("12-ab", 5), MeasureTextWidthWide(u"12-ab", 0, -1, -2, 0));
    EXPECT_GT(MeasureDefaultFontText("12-ab", 2), 0);
}

TEST_F(FontDrawTest, MeasuredWidthsAreTheBackEndsAdvancesPlusSpacing) {
    Start(32);
    for (const Face& face : kFaces) {
        for (int type : {DX_FONTTYPE_NORMAL, DX_FONTTYPE_ANTIALIASING_4X4,
                         DX_FONTTYPE_ANTIALIASING_EDGE_8X8}) {
            SCOPED_TRACE(std::string(face.name) + " " + std::to_string(type));
            HandleValue h = CreateFontToHandle(face.name, 18, 6, type, 1, 1, 0, -1);
            FontHandleData* f = ResolveFontHandle(h);
            for (const char16_t* line : {u"日本語のテキスト", u"Hello, World xyz"}) {
                SetFontCharSpacing(3, h);
                const int measured = MeasureTextWidthWide(line, 0, -1, h, 0);
                const int capped = MeasureTextWidthWide(line, 0, 2, h, 0);
                int sum = 0;
                for (const char16_t* p = line; *p; ++p) {
                    sum += ReferenceGlyph(f, *p).advance + 3;
                    if (p[1] != 0) sum += Kerning(f, p[0], p[1]);
                }
                EXPECT_EQ(measured, sum);
                EXPECT_EQ(capped, ReferenceGlyph(f, line[0]).advance +
                                      ReferenceGlyph(f, line[1]).advance + 6 +
                                      Kerning(f, line[0], line[1]));
                SetFontCharSpacing(0, h);
                EXPECT_EQ(MeasureTextWidthScaledWide(2.0, line, 0, -1, h, 0),
                          2 * MeasureTextWidthWide(line, 0, -1, h, 0));
            }
            DeleteHandle(h);
        }
    }
}

TEST_F(FontDrawTest, NarrowTextInBothCodePagesAndLongTextDrawLikeTheWideForms) {
    Start(32);
    HandleValue h = CreateFontToHandle("IPAGothic", 16, 6, DX_FONTTYPE_ANTIALIASING, 1, 0, 0, -1);
    const std::uint32_t white = Colour({255, 255, 255});
    std::vector<std::uint32_t> before = Background(32);
    auto wideDraw = [&](const std::u16string& text) {
        WriteScreen(Screen(), before);
        EXPECT_EQ(DrawTextWithFontWide(5, 5, text.c_str(), -1, white, h, 0, 0), 0);
        return ReadScreen(Screen());
    };
    auto narrowDraw = [&](const std::string& text) {
        WriteScreen(Screen(), before);
        EXPECT_EQ(DrawTextWithFont(5, 5, text.c_str(), white, h, 0, 0), 0);
        return ReadScreen(Screen());
    };
    const std::u16string wide = u"日本語のテキスト ABC xyz";
    const std::string utf8 = "日本語のテキスト ABC xyz";
    ASSERT_EQ(SetFontStringEncoding(65001, h), 0);
    EXPECT_EQ(Differences(narrowDraw(utf8), wideDraw(wide)), 0);
    EXPECT_EQ(MeasureTextWidthWithFont(utf8.c_str(), -1, h, 0),
              MeasureTextWidthWide(wide.c_str(), 0, -1, h, 0));
    // The first 9 bytes are the first three characters.
    EXPECT_EQ(MeasureTextWidthWithFont(utf8.c_str(), 9, h, 0),
              MeasureTextWidthWide(wide.c_str(), 3, -1, h, 0));
    ASSERT_EQ(SetFontStringEncoding(932, h), 0);
    const std::string sjis =
        "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67 ABC xyz";
    EXPECT_EQ(Differences(narrowDraw(sjis), wideDraw(wide)), 0);
    EXPECT_EQ(MeasureTextWidthWithFont(sjis.c_str(), 6, h, 0),
              MeasureTextWidthWide(wide.c_str(), 3, -1, h, 0));
    // Long texts (allocated buffers) measure and draw like their wide forms.
    ASSERT_EQ(SetFontStringEncoding(65001, h), 0);
    std::string longNarrow;
    std::u16string longWide;
    for (int i = 0; i < 700; ++i) {
        longNarrow += static_cast<char>('a' + i % 26);
        longWide += static_cast<char16_t>(u'a' + i % 26);
    }
    longNarrow += "\n";
    longWide += u"\n";
    for (int i = 0; i < 200; ++i) {
        longNarrow += "字";
        longWide += u"字";
    }
    EXPECT_EQ(Differences(narrowDraw(longNarrow), wideDraw(longWide)), 0);
    EXPECT_EQ(MeasureTextWidthWithFont(longNarrow.c_str(), 600, h, 0),
              MeasureTextWidthWide(longWide.c_str(), 600, -1, h, 0));
    EXPECT_EQ(MeasureTextWidthWithFont(longNarrow.c_str(), -1, h, 0),
              MeasureTextWidthWide(longWide.c_str(), 0, -1, h, 0));
    // The scaled and rotated narrow forms draw like their wide forms.
    SelectBlendMode(DX_BLEND_ALPHA, 200);
    WriteScreen(Screen(), before);
    EXPECT_EQ(DrawTextScaledWithFont(5.5f, 7.25f, 1.5, 2.0, utf8.c_str(), white, h, 0, 0), 0);
    std::vector<std::uint32_t> narrowScaled = ReadScreen(Screen());
    WriteScreen(Screen(), before);
    EXPECT_EQ(DrawTextScaledWithFontWide(5.5f, 7.25f, 1.5, 2.0, wide.c_str(), -1, white, h, 0, 0),
              0);
    EXPECT_EQ(Differences(ReadScreen(Screen()), narrowScaled), 0);
    WriteScreen(Screen(), before);
    EXPECT_EQ(DrawTextRotatedWithFont(300, 200, 1.2, 0.8, 40, 8, 0.3, white, h, 0, 0, utf8.c_str()),
              0);
    std::vector<std::uint32_t> narrowRotated = ReadScreen(Screen());
    WriteScreen(Screen(), before);
    EXPECT_EQ(DrawTextRotatedWithFontWide(300, 200, 1.2, 0.8, 40, 8, 0.3, white, h, 0, 0,
                                          wide.c_str(), -1),
              0);
    EXPECT_EQ(Differences(ReadScreen(Screen()), narrowRotated), 0);
    SelectBlendMode(DX_BLEND_NONE, 255);
    // A count beyond the text stops at its end.
    EXPECT_EQ(MeasureTextWidthWithFont("ab", 50, h, 0), MeasureTextWidthWide(u"ab", 0, -1, h, 0));
    DeleteHandle(h);
}

// The scratch image after a draw holds the laid-out text; the scaled and rotated forms must
// transfer it with the Part's rectangles.
TEST_F(FontDrawTest, ScaledAndRotatedFormsTransferTheScratchImage) {
    Start(32);
    HandleValue h = CreateFontToHandle("IPAGothic", 16, 6, DX_FONTTYPE_EDGE, 1, 1, 0, -1);
    FontHandleData* f = ResolveFontHandle(h);
    const std::uint32_t white = Colour({255, 255, 255}), red = Colour({255, 0, 0});
    std::vector<std::uint32_t> before = Background(32);
    int w = 0, hgt = 0;
    LayOutText(0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, u"文字Ag", 0, nullptr, nullptr, f, 0, -1, 0,
               &w, &hgt, nullptr, nullptr);
    MEMIMG& scratch = GraphicsSystemState.FontWorkImage;
    struct Case {
        int form;  // 0 scaled, 1 rotated with angle, 2 rotated scaled, 3 rotated plain
        double sx, sy, cx, cy, angle;
    } cases[] = {{0, 2.0, 1.5, 0, 0, 0},
                 {1, 1.0, 1.0, 10, 8, 0.7},
                 {1, 2.0, 0.5, 3, 4, -1.2},
                 {2, 1.5, 2.5, 10, 5, 0},
                 {3, 1.0, 1.0, 12, 7, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE("form " + std::to_string(c.form));
        WriteScreen(Screen(), before);
        SelectBlendMode(DX_BLEND_ALPHA, 160);
        int r = c.form == 0
                    ? DrawTextScaledAtIntWide(200, 150, c.sx, c.sy, u"文字Ag", -1, white, h, red, 0)
                    : DrawTextRotatedWithFontWide(200, 150, c.sx, c.sy, c.cx, c.cy, c.angle, white,
                                                  h, red, 0, u"文字Ag", -1);
        ASSERT_EQ(r, 0);
        std::vector<std::uint32_t> got = ReadScreen(Screen());
        // The same transfer by hand from the scratch image it left.
        WriteScreen(Screen(), before);
        MEMIMG view;
        MakeMemImgView(&view, &scratch, 0, 0, w, hgt);
        if (c.form == 0) {
            RECT box{200, 150, static_cast<LONG>(200 + w * c.sx + 3),
                     static_cast<LONG>(150 + hgt * c.sy + 3)};
            SetMemImgDrawArea(&box);
            RECT to{200, 150, static_cast<LONG>(200 + 640 * c.sx + 3),
                    static_cast<LONG>(150 + 480 * c.sy + 3)};
            DrawMemImgStretched(&Screen(), &scratch, &to, 1, nullptr);
        } else if (c.form == 1) {
            double ox = (w / 2.0 - c.cx) * c.sx, oy = (hgt / 2.0 - c.cy) * c.sy;
            DrawMemImgRotated(
                &Screen(), &view,
                static_cast<int>(200 + ox * std::cos(c.angle) - oy * std::sin(c.angle)),
                static_cast<int>(150 + ox * std::sin(c.angle) + oy * std::cos(c.angle)),
                static_cast<float>(c.angle), static_cast<float>(c.sx), static_cast<float>(c.sy), 1,
                0, 0, nullptr);
        } else if (c.form == 2) {
            int l = static_cast<int>(200 - c.sx * c.cx), t = static_cast<int>(150 - c.sy * c.cy);
            RECT to{l, t, static_cast<LONG>(l + w * c.sx), static_cast<LONG>(t + hgt * c.sy)};
            DrawMemImgStretched(&Screen(), &view, &to, 1, nullptr);
        } else {
            DrawMemImg(&Screen(), &view, 200 - 12, 150 - 7, 1, nullptr);
        }
        RECT whole{0, 0, 640, 480};
        SetMemImgDrawArea(&whole);
        SelectBlendMode(DX_BLEND_NONE, 255);
        std::vector<std::uint32_t> want = ReadScreen(Screen());
        EXPECT_EQ(Differences(got, want), 0);
        int changed = 0;
        for (std::size_t i = 0; i < got.size(); ++i) changed += got[i] != before[i];
        EXPECT_GT(changed, 30);
    }
    // Rotation 0 at scale 1 puts the centre on (x, y): the same as a plain draw moved by it.
    SelectBlendMode(DX_BLEND_ALPHA, 160);
    WriteScreen(Screen(), before);
    DrawTextWithFontWide(188, 143, u"文字Ag", -1, white, h, red, 0);
    std::vector<std::uint32_t> plain = ReadScreen(Screen());
    WriteScreen(Screen(), before);
    DrawTextRotatedWithFontWide(200, 150, 1, 1, 12, 7, 0, white, h, red, 0, u"文字Ag", -1);
    EXPECT_EQ(Differences(ReadScreen(Screen()), plain), 0);
    SelectBlendMode(DX_BLEND_NONE, 255);
    // A destination image refuses scaling and rotation.
    RECT clip{0, 0, 640, 480};
    EXPECT_EQ(LayOutText(1, 0, 0, 0, 0, 1, 1, 2, 2, 0, 0, 0, 0, u"A", white, &scratch, &clip, f, 0,
                         -1, 0, nullptr, nullptr, nullptr, nullptr),
              -1);
    EXPECT_EQ(LayOutText(1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0.5, u"A", white, &scratch, &clip, f,
                         0, -1, 0, nullptr, nullptr, nullptr, nullptr),
              -1);
    DeleteHandle(h);
}

// The texture path on the recording back end: per glyph the edge graph first, then the cache
// graph; the unscaled integer form draws the glyph's own pixels (cell + (1, 1)) at the pen plus
// its offsets, the scaled form the cell with its margin stretched and shifted by half a pixel,
// the rotated form one quad list per half.
TEST_F(FontDrawTest, TheTexturePathDrawsSubRectanglesStretchedCellsAndQuadLists) {
    StartDevice(4096, false);
    using ZiDaz::testing::ArgText;
    using ZiDaz::testing::RecordingBackend;
    RecordingBackend& b = RecordingBackend::Instance();
    HandleValue h =
        CreateFontToHandle("IPAGothic", 16, 6, DX_FONTTYPE_ANTIALIASING_EDGE_8X8, 1, 2, 0, -1);
    ASSERT_GE(h, 0);
    ASSERT_EQ(IsFontCacheOnTexture(h), 1);
    FontHandleData* f = ResolveFontHandle(h);
    const std::u16string text = u"文A";
    // Loads the glyphs first, so that only the draws are recorded below.
    ASSERT_GE(MeasureTextWidthWide(text.c_str(), 0, -1, h, 0), 0);
    std::vector<const FontGlyphEntry*> glyphs;
    for (char16_t c : text) glyphs.push_back(FindGlyph(f, c, 0, nullptr, nullptr, nullptr, 0, 0));
    const std::string edgeGraph = ArgText(LookUpGraphRecord(f->cache.edgeHalf, 1));
    const std::string cacheGraph = ArgText(LookUpGraphRecord(f->cache.graph, 1));
    const int cell = f->metrics.cellSize;
    const int lift = f->metrics.leadingAdjustment / 2;
    const float shift = GraphicsSystemState.NoHalfPixelOffset ? 0.0f : 0.5f;

    b.calls.clear();
    ASSERT_EQ(DrawTextWithFontWide(10, 20, text.c_str(), -1, 0xFFFFFFFF, h, 0xFF0000FF, 0), 0);
    auto points = b.Named("DrawGraphAtPoint");
    ASSERT_EQ(points.size(), 4u);
    int pen = 0;
    for (int i = 0; i < 2; ++i) {
        const FontGlyphEntry* g = glyphs[static_cast<std::size_t>(i)];
        const int x = 10 + pen + g->drawX - (g->slotRow * cell + 1);
        const int y = 20 - lift + g->drawY - (g->slotColumn * cell + 1);
        for (int half = 0; half < 2; ++half) {
            const auto& call = points[static_cast<std::size_t>(2 * i + half)];
            SCOPED_TRACE("glyph " + std::to_string(i) + " half " + std::to_string(half));
            EXPECT_EQ(call.args[0], ArgText(x));
            EXPECT_EQ(call.args[1], ArgText(y));
            EXPECT_EQ(call.args[4], half == 0 ? edgeGraph : cacheGraph);
        }
        pen += g->advance + f->spacing;
    }
    // The brightness is back where it was.
    int r = 0, g = 0, bl = 0;
    GetBrightnessColor(&r, &g, &bl);
    EXPECT_EQ(r + g + bl, 3 * 255);

    b.calls.clear();
    ASSERT_EQ(DrawTextScaledWithFontWide(10.25f, 20.5f, 2.0, 3.0, text.c_str(), -1, 0xFFFFFFFF, h,
                                         0xFF0000FF, 0),
              0);
    auto stretched = b.Named("DrawGraphStretched");
    ASSERT_EQ(stretched.size(), 4u);
    {
        const FontGlyphEntry* g0 = glyphs[0];
        const float x1 = static_cast<float>(10.25 + (g0->drawX - 1) * 2.0) - shift;
        const float y1 = static_cast<float>(20.5 - lift * 3.0 + (g0->drawY - 1) * 3.0) - shift;
        EXPECT_EQ(stretched[0].args[4], ArgText(x1));
        EXPECT_EQ(stretched[0].args[5], ArgText(y1));
        EXPECT_EQ(stretched[0].args[6], ArgText(static_cast<float>(x1 + (g0->width + 2) * 2.0)));
        EXPECT_EQ(stretched[0].args[7], ArgText(static_cast<float>(y1 + (g0->height + 2) * 3.0)));
        // The body goes onto the same rectangle as the edge.
        for (int k = 0; k < 8; ++k) EXPECT_EQ(stretched[1].args[k], stretched[0].args[k]);
    }

    b.calls.clear();
    ASSERT_EQ(DrawTextRotatedWithFontWide(100, 100, 1.0, 1.0, 8, 8, 0.5, 0xFFFFFFFF, h, 0xFF0000FF,
                                          0, text.c_str(), -1),
              0);
    auto lists = b.Named("DrawGraphList");
    ASSERT_EQ(lists.size(), 4u);
    for (const auto& call : lists) EXPECT_EQ(call.args[1], cacheGraph);

    // Vertical text: each cell with its margin goes onto a quad turned a quarter clockwise, its
    // top on the right at the pen's x plus the font height minus the offset.
    b.calls.clear();
    ASSERT_EQ(DrawTextWithFontWide(100, 20, text.c_str(), -1, 0xFFFFFFFF, h, 0xFF0000FF, 1), 0);
    auto quads = b.Named("DrawGraphOnQuad");
    ASSERT_EQ(quads.size(), 4u);
    {
        const FontGlyphEntry* g0 = glyphs[0];
        const float right =
            static_cast<float>(100 - lift + (f->metrics.height - (g0->drawY - 1))) - shift;
        const float top = static_cast<float>(20 + (g0->drawX - 1)) - shift;
        // Top-left, top-right, bottom-left, bottom-right of the cell.
        EXPECT_EQ(quads[0].args[0], ArgText(right));
        EXPECT_EQ(quads[0].args[1], ArgText(top));
        EXPECT_EQ(quads[0].args[2], ArgText(right));
        EXPECT_EQ(quads[0].args[3], ArgText(top + g0->width + 2));
        EXPECT_EQ(quads[0].args[4], ArgText(right - (g0->height + 2)));
        EXPECT_EQ(quads[0].args[5], ArgText(top));
    }

    // A blend graph is switched off around each glyph and set again after it.
    const HandleValue blend = CreateDrawableGraph(64, 48, 0);
    ASSERT_GE(blend, 0);
    ASSERT_EQ(SetBlendGraph(blend, 1, 100, 50), 0);
    b.calls.clear();
    ASSERT_EQ(DrawTextWithFontWide(10, 20, text.c_str(), -1, 0xFFFFFFFF, h, 0xFF0000FF, 0), 0);
    std::vector<std::string> order;
    for (const auto& call : b.calls) {
        if (call.name == "ApplyBlendGraph")
            order.push_back(call.args[0] == ArgText(nullptr) ? "off" : "on");
        if (call.name == "DrawGraphAtPoint") order.push_back("draw");
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{"off", "draw", "draw", "on", "off", "draw", "draw", "on"}));
    EXPECT_EQ(GraphicsSystemState.DrawSettings.BlendGraph, blend);
    SetBlendGraph(-1, 0, 0, 0);

    // Without a ready device nothing is drawn and the draw fails.
    b.graphOperations = false;
    b.results = 0;
    b.calls.clear();
    EXPECT_EQ(DrawTextWithFontWide(10, 20, text.c_str(), -1, 0xFFFFFFFF, h, 0, 0), -1);
    EXPECT_TRUE(b.Named("DrawGraphAtPoint").empty());
    b.graphOperations = true;
    DeleteHandle(h);
}

}  // namespace
