// Fonts made from font data images: the layout as our writer makes it and the reader takes it,
// glyph loading of every bit depth stored and LZ-coded, damaged images refused, the memory-strip
// sizes and the list of large codes, and the built-in fallback font.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "GraphTestSupport.h"
#include "Main/DxFont.h"
#include "platform/Gdi32Font.h"
#include "tools/archive/ArchiveWriter.h"
#include "tools/fntf/FntfWriter.h"

namespace {

using namespace ZiDaz;
using velk::fntf::Bytes;
using velk_graph_test::GraphFixture;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// A glyph of w x h pixels whose pixel (x, y) is f(x, y).
template <typename F>
velk::fntf::Glyph MakeGlyph(std::uint32_t code, int w, int h, F f, bool compressed = false) {
    velk::fntf::Glyph g;
    g.code = code;
    g.width = static_cast<std::uint16_t>(w);
    g.height = static_cast<std::uint16_t>(h);
    g.originX = 1;
    g.top = 2;
    g.advance = static_cast<std::int16_t>(w + 2);
    g.compressed = compressed;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) g.pixels.push_back(f(x, y));
    return g;
}

velk::fntf::Font SampleFont(int depthKind, int version = 1) {
    velk::fntf::Font font;
    font.version = version;
    font.depthKind = depthKind;
    font.face = u"VelkSample";
    const int top = depthKind == 0 ? 1 : depthKind == 1 ? 15 : 255;
    font.glyphs.push_back(
        MakeGlyph('A', 6, 5, [&](int x, int y) { return (x + y) % 2 ? top : 0; }));
    font.glyphs.push_back(MakeGlyph(
        'B', 7, 4, [&](int x, int y) { return (x * 3 + y) % (top + 1); }, true));
    font.glyphs.push_back(MakeGlyph(' ', 0, 0, [](int, int) { return 0; }));
    font.glyphs.push_back(MakeGlyph(
        0x20001, 3, 3, [&](int, int) { return top; }, true));
    if (version == 1) font.kerning = {{'A', 'B', -2}, {'A', 'C', 1}, {'B', 'A', 3}};
    return font;
}

class FontDataTest : public GraphFixture {
  protected:
    void SetUp() override {
        GraphFixture::SetUp();
        std::memset(&FontSystemState, 0, sizeof(FontSystemState));
    }
    void TearDown() override {
        platform::gdi::FailNextFontCreations(0);
        GraphFixture::TearDown();
        std::memset(&FontSystemState, 0, sizeof(FontSystemState));
    }
    HandleValue Make(const Bytes& image, int edge = 0) {
        FontCreateParams params;
        InitFontCreateParams(&params);
        return CreateFontFromData(&params, image.data(), static_cast<int>(image.size()), edge, -1,
                                  0);
    }
};

TEST_F(FontDataTest, TheLayoutRoundTripsThroughOurWriter) {
    StartSoftware(32);
    velk::fntf::Font font = SampleFont(0);
    Bytes image = velk::fntf::WriteFontData(font);
    ASSERT_EQ(std::string(image.begin(), image.begin() + 4), "FNTF");
    EXPECT_EQ(image[4], 1);
    EXPECT_EQ(Le32(image, 16), 4u);  // glyphs
    EXPECT_EQ(Le32(image, 20), 1u);  // codes above 0xFFFF
    EXPECT_LT(Le32(image, 8), image.size());
    Bytes header = velk::fntf::FontDataHeader(font);
    EXPECT_EQ(Le32(header, 412), static_cast<std::uint32_t>('A'));
    EXPECT_EQ(Le32(header, 412 + 32 * 3), 0x20001u);
    EXPECT_EQ(Le32(header, 300), 3u);  // kerning pairs
    HandleValue h = Make(image);
    ASSERT_GE(h, 0);
    FontHandleData* f = ResolveFontHandle(h);
    EXPECT_EQ(f->fromData, 1);
    EXPECT_EQ(f->fontType, DX_FONTTYPE_NORMAL);
    EXPECT_EQ(std::u16string(f->faceNameWide), u"VelkSample");
    EXPECT_STREQ(f->faceName, "VelkSample");
    EXPECT_EQ(f->metrics.kerningCount, 3);
    EXPECT_EQ(f->metrics.size, 16);
    EXPECT_EQ(f->kerning[2].amount, 3);
    // 4 bits with an edge of 2 make type 19; 8 bits with an edge, 35; 1 bit with one, EDGE.
    struct Case {
        int depth, edge, type;
    } cases[] = {{1, 2, 19}, {1, 0, 18}, {2, 1, 35}, {2, -3, 34}, {0, 3, 1}};
    for (const Case& c : cases) {
        HandleValue d = Make(velk::fntf::WriteFontData(SampleFont(c.depth)), c.edge);
        ASSERT_GE(d, 0);
        EXPECT_EQ(ResolveFontHandle(d)->fontType, c.type);
        EXPECT_EQ(ResolveFontHandle(d)->edgeSize, c.edge < 0 ? 0 : c.edge);
        DeleteHandle(d);
    }
    // Version 0 has no 44 bytes at 300: it reads with no kerning and the rest unchanged.
    HandleValue v0 = Make(velk::fntf::WriteFontData(SampleFont(1, 0)));
    ASSERT_GE(v0, 0);
    FontHandleData* old = ResolveFontHandle(v0);
    EXPECT_EQ(old->metrics.kerningCount, 0);
    EXPECT_EQ(old->kerning, nullptr);
    EXPECT_EQ(old->fontType, DX_FONTTYPE_ANTIALIASING_4X4);
    EXPECT_EQ(static_cast<const std::uint8_t*>(old->dataHeader)[344], 1);
    EXPECT_EQ(Le32(Bytes(static_cast<const std::uint8_t*>(old->dataHeader),
                         static_cast<const std::uint8_t*>(old->dataHeader) + 420),
                   412),
              static_cast<std::uint32_t>('A'));
    // The dump line names it a font file.
    DumpFontHandle(&f->header);
    char line[256];
    std::snprintf(line, sizeof(line),
                  "Handle:0x%08x IsFontFile:true  FontName:VelkSample FontType:DX_FONTTYPE_NORMAL "
                  "Size:16 Thickness:6 Height:",
                  static_cast<unsigned>(h));
    EXPECT_NE(Log().find(line), std::string::npos);
}

TEST_F(FontDataTest, GlyphsOfEveryDepthLoadStoredAndCompressed) {
    StartSoftware(32);
    for (int depth = 0; depth < 3; ++depth) {
        SCOPED_TRACE(depth);
        velk::fntf::Font font = SampleFont(depth);
        HandleValue h = Make(velk::fntf::WriteFontData(font));
        ASSERT_GE(h, 0);
        FontHandleData* f = ResolveFontHandle(h);
        for (const velk::fntf::Glyph& g : font.glyphs) {
            FontGlyphEntry* e = FindGlyph(f, g.code, 0, nullptr, nullptr, nullptr, 0, 0);
            ASSERT_NE(e, nullptr) << g.code;
            EXPECT_EQ(e->advance, g.advance);
            if (g.width == 0) continue;
            EXPECT_EQ(e->drawX, g.originX);
            EXPECT_EQ(e->drawY, g.top);
            EXPECT_EQ(e->width, g.width);
            EXPECT_EQ(e->height, g.height);
            const int cell = f->metrics.cellSize;
            const auto* strip = static_cast<const std::uint8_t*>(f->memImagePixels) +
                                static_cast<std::size_t>(f->memImagePitch) * cell * e->cacheIndex;
            for (int y = 0; y < g.height; ++y) {
                for (int x = 0; x < g.width; ++x) {
                    const int v = g.pixels[static_cast<std::size_t>(y) * g.width + x];
                    const std::uint8_t* row =
                        strip + static_cast<std::size_t>(y) * f->memImagePitch;
                    if (depth == 0) {
                        EXPECT_EQ((row[x / 8] >> (7 - x % 8)) & 1, v);
                    } else if (depth == 1) {
                        EXPECT_EQ(row[x], v == 0 ? 0 : v);  // level v + 1, stored as v
                    } else {
                        const int level = 16 * v / 255;
                        EXPECT_EQ(row[x], level ? level - 1 : 0);
                    }
                }
            }
        }
        // Kerning: the pairs whose first character is the glyph's.
        FontGlyphEntry* a = FindGlyph(f, 'A', 0, nullptr, nullptr, nullptr, 0, 0);
        EXPECT_EQ(a->kerningCount, 2);
        ASSERT_NE(a->kerning, nullptr);
        EXPECT_EQ(a->kerning->second, static_cast<std::uint32_t>('B'));
        // Not held, or asked with a variation selector: not found.
        EXPECT_EQ(FindGlyph(f, 'Z', 0, nullptr, nullptr, nullptr, 0, 0), nullptr);
        EXPECT_EQ(FindGlyph(f, 'A', 0xE0100, nullptr, nullptr, nullptr, 0, 0), nullptr);
        DeleteHandle(h);
    }
}

TEST_F(FontDataTest, DamagedImagesAreRefusedAndLeaveNothingBehind) {
    StartSoftware(32);
    const Bytes good = velk::fntf::WriteFontData(SampleFont(1));
    const Bytes header = velk::fntf::FontDataHeader(SampleFont(1));
    const int fonts = HandleTypeTable[DX_HANDLETYPE_FONT].count;
    const int blocks = GetTrackedMemoryCount();
    auto refused = [&](const Bytes& image) {
        HandleValue h = Make(image);
        if (h >= 0) DeleteHandle(h);
        return h < 0;
    };
    auto patched = [&](std::size_t at, std::uint32_t value, int bytes = 4) {
        Bytes b = good;
        for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        return b;
    };
    // Every cut of the image short of the whole.
    for (std::size_t n = 0; n < good.size(); ++n) {
        EXPECT_TRUE(refused(Bytes(good.begin(), good.begin() + n))) << n;
    }
    EXPECT_TRUE(refused(patched(0, 'G', 1)));
    EXPECT_TRUE(refused(patched(4, 2, 1)));  // version 2
    EXPECT_TRUE(refused(patched(8, static_cast<std::uint32_t>(good.size() + 1))));
    EXPECT_TRUE(refused(patched(12, 1)));           // decode buffer too small
    EXPECT_TRUE(refused(patched(12, 0x7FFFFFFF)));  // absurd decode buffer
    EXPECT_TRUE(refused(patched(16, 1000)));        // more glyphs than records
    EXPECT_TRUE(refused(patched(16, 0xFFFFFFFF)));
    EXPECT_TRUE(refused(patched(20, 0)));          // a code above with no room
    EXPECT_TRUE(refused(patched(20, 5)));          // more above than glyphs
    EXPECT_TRUE(refused(patched(24, 0x7FFFFFF)));  // body size lies
    EXPECT_TRUE(refused(patched(28, 0xFFFFFF)));   // encoded size past the end
    // Damage inside the header body: written again through the writer's own coder.
    auto withHeader = [&](std::size_t at, std::uint32_t value, int bytes) {
        velk::fntf::Font font = SampleFont(1);
        Bytes image = velk::fntf::WriteFontData(font);
        Bytes h = header;
        for (int i = 0; i < bytes; ++i) h[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        Bytes body(h.begin() + 24, h.end());
        Bytes lz = velk::archive::EncodeLz(body.data(), body.size());
        const std::uint32_t oldBitmaps = Le32(image, 8);
        Bytes out(image.begin(), image.begin() + 24);
        out.insert(out.end(), lz.begin(), lz.end());
        const std::uint32_t newBitmaps = static_cast<std::uint32_t>(out.size());
        out.insert(out.end(), image.begin() + oldBitmaps, image.end());
        for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<std::uint8_t>(newBitmaps >> (8 * i));
        return out;
    };
    EXPECT_FALSE(refused(withHeader(0, 'F', 1)));               // the rebuild itself is sound
    EXPECT_TRUE(refused(withHeader(300, 1000, 4)));             // kerning past the header
    EXPECT_TRUE(refused(withHeader(300, 0x80000000u, 4)));      // negative kerning count
    EXPECT_TRUE(refused(withHeader(344, 3, 1)));                // no such depth
    EXPECT_TRUE(refused(withHeader(290, 0, 2)));                // cell size 0
    EXPECT_TRUE(refused(withHeader(290, 60000, 2)));            // absurd cell
    EXPECT_TRUE(refused(withHeader(412 + 16, 0xFFFFFF, 4)));    // bitmap offset past the end
    EXPECT_TRUE(refused(withHeader(412 + 20, 1, 4)));           // rows shorter than the width
    EXPECT_TRUE(refused(withHeader(412 + 14, 60000, 2)));       // more rows than stored
    EXPECT_TRUE(refused(withHeader(412 + 32 + 14, 60000, 2)));  // more than the LZ block holds
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_FONT].count, fonts);
    EXPECT_EQ(GetTrackedMemoryCount(), blocks);
}

TEST_F(FontDataTest, TheStripHoldsItsCapacityAndTheLargeCodeListItsOldest) {
    StartSoftware(32);
    for (auto [cell, want] : {std::pair{32, 320}, std::pair{200, 20}}) {
        velk::fntf::Font font = SampleFont(0);
        font.metrics.cellSize = static_cast<std::uint16_t>(cell);
        font.metrics.height = 8;
        HandleValue h = Make(velk::fntf::WriteFontData(font));
        ASSERT_GE(h, 0);
        EXPECT_EQ(ResolveFontHandle(h)->metrics.cellSize, cell);
        EXPECT_EQ(ResolveFontHandle(h)->capacity, want);
        DeleteHandle(h);
    }
    // 1,025 characters above 0xFFFF: the first leaves the list when the last comes.
    velk::fntf::Font font;
    font.metrics.cellSize = 8;
    font.metrics.height = 8;
    for (std::uint32_t i = 0; i < 1025; ++i) {
        font.glyphs.push_back(MakeGlyph(0x20000 + i, 2, 2, [](int, int) { return 1; }));
    }
    SetGlyphCacheCapacity(2024);
    HandleValue h = Make(velk::fntf::WriteFontData(font));
    ASSERT_GE(h, 0);
    FontHandleData* f = ResolveFontHandle(h);
    ASSERT_EQ(f->capacity, 2024);
    std::u16string text;
    for (std::uint32_t i = 0; i < 1025; ++i) {
        std::uint32_t c = 0x20000 + i - 0x10000;
        text += static_cast<char16_t>(0xD800 + (c >> 10));
        text += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
    int count = 0;
    ASSERT_EQ(PrepareTextGlyphs(f, text.c_str(), 2048, nullptr, nullptr, &count), 0);
    EXPECT_EQ(count, 1024);
    EXPECT_EQ(f->extendedCount, 1024);
    EXPECT_EQ(f->extended[0]->code, 0x20000u);
    ASSERT_EQ(PrepareTextGlyphs(f, text.c_str() + 2048, 2, nullptr, nullptr, &count), 0);
    EXPECT_EQ(f->extendedCount, 1024);
    EXPECT_EQ(f->extended[0]->code, 0x20001u);
    EXPECT_EQ(f->extended[1023]->code, 0x20400u);
    EXPECT_EQ(f->glyphs[0].valid, 0);  // the evicted glyph's slot
}

TEST_F(FontDataTest, FontsFromDataAreMadeAgainAfterADeviceReset) {
    StartSoftware(32);
    HandleValue h = Make(velk::fntf::WriteFontData(SampleFont(2)), 2);
    ASSERT_GE(h, 0);
    SetFontCharSpacing(5, h);
    ASSERT_EQ(RecreateAllFonts(), 0);
    FontHandleData* f = ResolveFontHandle(h);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->fromData, 1);
    EXPECT_EQ(f->edgeSize, 2);
    EXPECT_EQ(f->spacing, 5);
    EXPECT_NE(FindGlyph(f, 'B', 0, nullptr, nullptr, nullptr, 0, 0), nullptr);
}

TEST_F(FontDataTest, TheFallbackFontStandsInWhenNoFontCanBeMade) {
    StartSoftware(32);
    HandleValue before = ObtainDefaultFont();
    ASSERT_GE(before, 0);
    // No system font can be made from now on: the default font falls back to the built-in one.
    platform::gdi::FailNextFontCreations(1000000);
    SetDefaultFontSize(30);
    HandleValue fallback = FontSystemState.defaultFont;
    ASSERT_GE(fallback, 0);
    EXPECT_EQ(FontSystemState.builtinInUse, 1);
    FontHandleData* f = ResolveFontHandle(-2);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->fromData, 1);
    EXPECT_EQ(f->imageCount, 128);
    for (std::uint32_t code = 32; code < 127; ++code) {
        FontGlyphEntry* e = FindGlyph(f, code, 0, nullptr, nullptr, nullptr, 1, 0);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->isImage, 1);
        EXPECT_EQ(e->advance, 8);
        EXPECT_EQ(e->width, 8);
        EXPECT_EQ(e->height, 8);
        EXPECT_TRUE(IsGraphHandleValid(e->graph));
    }
    // Nothing above 127.
    EXPECT_EQ(FindGlyph(f, 200, 0, nullptr, nullptr, nullptr, 1, 0), nullptr);
    EXPECT_EQ(FindGlyph(f, 0x3042, 0, nullptr, nullptr, nullptr, 1, 0), nullptr);
    // 'A' is drawn in white on the transparent magenta ground of its cell.
    MEMIMG* a = GetGraphMemImg(FontSystemState.builtinGlyphs['A']);
    ASSERT_NE(a, nullptr);
    // Its top row is .XXX. one pixel in: x 2 to 4 ink, x 1 and 5 ground.
    auto pixel = [&](int x, int y) {
        const int bytes = a->Shared->Format->BitsPerPixel / 8;
        std::uint32_t v = 0;
        std::memcpy(&v, a->Pixels + static_cast<std::ptrdiff_t>(y) * a->Shared->Pitch + x * bytes,
                    static_cast<std::size_t>(bytes));
        return v;
    };
    const std::uint32_t ink = pixel(2, 0);
    EXPECT_EQ(pixel(4, 0), ink);
    EXPECT_NE(pixel(1, 0), ink);
    EXPECT_NE(pixel(5, 0), ink);
    EXPECT_EQ(pixel(1, 0), pixel(0, 7));
    // The fallback stays while its graphs live, also through a delete-all of graphs.
    EXPECT_EQ(EnsureDefaultFont(), 0);
    EXPECT_EQ(FontSystemState.defaultFont, fallback);
    DeleteAllGraphs();
    EXPECT_TRUE(IsGraphHandleValid(FontSystemState.builtinGlyphs['A']));
    EXPECT_EQ(EnsureDefaultFont(), 0);
    EXPECT_EQ(FontSystemState.defaultFont, fallback);
    // A reset keeps it the default with its glyphs.
    ASSERT_EQ(RecreateAllFonts(), 0);
    EXPECT_EQ(FontSystemState.defaultFont, fallback);
    EXPECT_EQ(ResolveFontHandle(-2)->imageCount, 128);
    // Fonts can be made again: the built-in one stays until its graphs go.
    platform::gdi::FailNextFontCreations(0);
    EXPECT_EQ(ObtainDefaultFont(), fallback);
}

// Writes the fuzz target's seeds (only when asked: VELK_WRITE_FONTDATA_SEEDS=folder).
TEST(FontDataSeeds, WriteWhenAsked) {
    const char* folder = std::getenv("VELK_WRITE_FONTDATA_SEEDS");
    if (folder == nullptr) GTEST_SKIP();
    std::filesystem::create_directories(folder);
    int n = 0;
    auto put = [&](const Bytes& image, int edge) {
        std::ofstream out(std::string(folder) + "/seed-" + std::to_string(n++), std::ios::binary);
        out.put(static_cast<char>(edge + 1));
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size()));
    };
    for (int depth = 0; depth < 3; ++depth) {
        put(velk::fntf::WriteFontData(SampleFont(depth)), 0);
        put(velk::fntf::WriteFontData(SampleFont(depth)), 2);
        put(velk::fntf::WriteFontData(SampleFont(depth, 0)), 5);
    }
    velk::fntf::Font empty;
    put(velk::fntf::WriteFontData(empty), -1);
}

}  // namespace
