// gdi32's fonts over FreeType and fontconfig: metrics, glyph bitmaps, kerning, glyph indices,
// faces and their Windows names, private fonts.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FontFixtures.h"
#include "platform/Gdi32Font.h"
#include "platform/Usp10.h"

namespace {

using namespace platform::gdi32;
using velk::test::FontFixtureFolder;
using velk::test::MakeTestFont;

const MAT2 kIdentity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};

// 1,000 units per em; at 20 pixels one pixel is 50 units, so these boxes fill whole pixels.
const char* kSquareJson = R"({"family": "VelkSquare", "upm": 1000, "winAscent": 800,
  "winDescent": 200, "ascender": 800, "descender": -200,
  "glyphs": [
    {"char": 65, "name": "A", "advance": 600, "boxes": [[50, 0, 550, 500]]},
    {"char": 66, "name": "B", "advance": 600, "boxes": [[0, 0, 50, 750]]},
    {"char": 67, "name": "C", "advance": 400, "boxes": [[0, 0, 100, 100], [200, 200, 300, 300]]},
    {"char": 8364, "name": "Bvariant", "advance": 300, "boxes": [[0, 0, 150, 150]]},
    {"char": 128512, "name": "smile", "advance": 500, "boxes": [[0, 0, 200, 100]]}],
  "kern": [["A", "B", -100], ["B", "A", 150]],
  "variants": [[66, 65024, "Bvariant"]]})";

// Windows ascent and descent 1,000 + 250 over a 1,000-unit em: a quarter of every height is
// internal leading; hhea adds a line gap of 300 units, 250 more than the Windows box adds.
const char* kLeadingJson = R"({"family": "VelkLeading", "upm": 1000, "winAscent": 1000,
  "winDescent": 250, "ascender": 800, "descender": -200, "lineGap": 500,
  "glyphs": [{"char": 65, "name": "A", "advance": 500, "boxes": [[0, 0, 900, 500]]}]})";

class Gdi32FontTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        square_ = FontFixtureFolder() + "/square.ttf";
        leading_ = FontFixtureFolder() + "/leading.ttf";
        ASSERT_TRUE(MakeTestFont(square_, kSquareJson));
        ASSERT_TRUE(MakeTestFont(leading_, kLeadingJson));
        std::u16string a(square_.begin(), square_.end()), b(leading_.begin(), leading_.end());
        ASSERT_EQ(AddFontResourceExW(a.c_str(), FR_PRIVATE, nullptr), 1);
        ASSERT_EQ(AddFontResourceExW(b.c_str(), FR_PRIVATE, nullptr), 1);
    }
    static void TearDownTestSuite() {
        std::u16string a(square_.begin(), square_.end()), b(leading_.begin(), leading_.end());
        RemoveFontResourceExW(a.c_str(), FR_PRIVATE, nullptr);
        RemoveFontResourceExW(b.c_str(), FR_PRIVATE, nullptr);
    }
    void TearDown() override {
        for (HGDIOBJ f : fonts_) DeleteObject(f);
        for (HDC dc : dcs_) DeleteDC(dc);
    }
    // A memory context with a new font selected.
    HDC Select(int height, const char16_t* face, int weight = 400, int italic = 0,
               int charSet = DEFAULT_CHARSET) {
        HFONT font = CreateFontW(height, 0, 0, 0, weight, italic, 0, 0, charSet, 0, 0,
                                 NONANTIALIASED_QUALITY, FIXED_PITCH, face);
        EXPECT_NE(font, nullptr);
        fonts_.push_back(font);
        HDC dc = CreateCompatibleDC(nullptr);
        dcs_.push_back(dc);
        SelectObject(dc, font);
        return dc;
    }
    std::string FileOf(HDC dc) {
        platform::gdi::DeviceContext c;
        platform::gdi::FindDc(dc, &c);
        std::string path;
        platform::gdi::FontFileOf(c.font, &path, nullptr);
        // Debian names the default Japanese faces through links.
        std::error_code error;
        auto real = std::filesystem::canonical(path, error);
        return error ? path : real.string();
    }
    static std::string square_, leading_;
    std::vector<HGDIOBJ> fonts_;
    std::vector<HDC> dcs_;
};
std::string Gdi32FontTest::square_, Gdi32FontTest::leading_;

TEST_F(Gdi32FontTest, HeightsMapTheWindowsBoxOntoTheCellOrTheEm) {
    struct Case {
        const char16_t* face;
        int height;
        int tmHeight, ascent, internal, external;
    } cases[] = {
        {u"VelkSquare", 20, 20, 16, 0, 0},   {u"VelkSquare", -20, 20, 16, 0, 0},
        {u"VelkLeading", 20, 20, 16, 4, 4},   // em 16; gap 250 units at 16 / 1,000
        {u"VelkLeading", -16, 20, 16, 4, 4},  // the same font asked by its em
        {u"VelkLeading", 40, 40, 32, 8, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        HDC dc = Select(c.height, c.face);
        TEXTMETRICW tm{};
        ASSERT_TRUE(GetTextMetricsW(dc, &tm));
        EXPECT_EQ(tm.tmHeight, c.tmHeight);
        EXPECT_EQ(tm.tmAscent, c.ascent);
        EXPECT_EQ(tm.tmDescent, c.tmHeight - c.ascent);
        EXPECT_EQ(tm.tmInternalLeading, c.internal);
        EXPECT_EQ(tm.tmExternalLeading, c.external);
    }
    // The widest glyph box fits in tmMaxCharWidth: 900 units at 16 / 1,000 is 14.4 pixels.
    TEXTMETRICW tm{};
    GetTextMetricsW(Select(20, u"VelkLeading"), &tm);
    EXPECT_GE(tm.tmMaxCharWidth, 15);
}

TEST_F(Gdi32FontTest, GetObjectGivesTheFontAsCreated) {
    HFONT font = CreateFontW(-13, 0, 0, 0, 700, 1, 0, 0, SHIFTJIS_CHARSET, 0, 0, 3, FIXED_PITCH,
                             u"No Such Face Anywhere");
    ASSERT_NE(font, nullptr);
    fonts_.push_back(font);
    EXPECT_EQ(GetObjectW(font, 0, nullptr), 92);
    LOGFONTW lf{};
    ASSERT_EQ(GetObjectW(font, sizeof(lf), &lf), 92);
    EXPECT_EQ(lf.lfHeight, -13);
    EXPECT_EQ(lf.lfWeight, 700);
    EXPECT_EQ(lf.lfItalic, 1);
    EXPECT_EQ(lf.lfCharSet, SHIFTJIS_CHARSET);
    EXPECT_EQ(std::u16string(lf.lfFaceName), u"No Such Face Anywhere");
    EXPECT_EQ(GetObjectType(font), OBJ_FONT);
    LOGFONTA narrow{};
    EXPECT_EQ(GetObjectA(font, sizeof(narrow), &narrow), 60);
    EXPECT_STREQ(narrow.lfFaceName, "No Such Face Anywhere");
}

TEST_F(Gdi32FontTest, SquareGlyphsGiveExactBitmapsAndLevels) {
    HDC dc = Select(20, u"VelkSquare");
    GLYPHMETRICS gm{};
    // 10 x 10 pixels one pixel right of the origin, on the baseline 16 pixels down.
    DWORD size = GetGlyphOutlineW(dc, 'A', GGO_BITMAP, &gm, 0, nullptr, &kIdentity);
    ASSERT_EQ(size, 40u);  // rows of 4 bytes
    EXPECT_EQ(gm.gmBlackBoxX, 10u);
    EXPECT_EQ(gm.gmBlackBoxY, 10u);
    EXPECT_EQ(gm.gmptGlyphOrigin.x, 1);
    EXPECT_EQ(gm.gmptGlyphOrigin.y, 10);
    EXPECT_EQ(gm.gmCellIncX, 12);
    std::vector<BYTE> bits(size);
    ASSERT_EQ(GetGlyphOutlineW(dc, 'A', GGO_BITMAP, &gm, size, bits.data(), &kIdentity), size);
    for (int row = 0; row < 10; ++row) {
        EXPECT_EQ(bits[row * 4], 0xFF);
        EXPECT_EQ(bits[row * 4 + 1], 0xC0);
        EXPECT_EQ(bits[row * 4 + 2], 0);
    }
    struct Gray {
        UINT format;
        BYTE full;
    } grays[] = {{GGO_GRAY2_BITMAP, 4}, {GGO_GRAY4_BITMAP, 16}, {GGO_GRAY8_BITMAP, 64}};
    for (const Gray& g : grays) {
        size = GetGlyphOutlineW(dc, 'A', g.format, &gm, 0, nullptr, &kIdentity);
        ASSERT_EQ(size, 120u);  // 10 bytes padded to 12
        bits.assign(size, 0xEE);
        GetGlyphOutlineW(dc, 'A', g.format, &gm, size, bits.data(), &kIdentity);
        for (int row = 0; row < 10; ++row) {
            for (int x = 0; x < 12; ++x) EXPECT_EQ(bits[row * 12 + x], x < 10 ? g.full : 0);
        }
    }
    // Two separate squares: the box spans both, the gap stays empty.
    size = GetGlyphOutlineW(dc, 'C', GGO_GRAY8_BITMAP, &gm, 0, nullptr, &kIdentity);
    ASSERT_EQ(gm.gmBlackBoxX, 6u);
    ASSERT_EQ(gm.gmBlackBoxY, 6u);
    bits.assign(size, 0);
    GetGlyphOutlineW(dc, 'C', GGO_GRAY8_BITMAP, &gm, size, bits.data(), &kIdentity);
    EXPECT_EQ(bits[0 * 8 + 4], 64);  // top right square
    EXPECT_EQ(bits[0 * 8 + 0], 0);
    EXPECT_EQ(bits[5 * 8 + 0], 64);  // bottom left square
    EXPECT_EQ(bits[5 * 8 + 5], 0);
    // The space has no ink: no bytes and a 1 x 1 box, but its advance.
    EXPECT_EQ(GetGlyphOutlineW(dc, ' ', GGO_BITMAP, &gm, 0, nullptr, &kIdentity), 0u);
    EXPECT_EQ(gm.gmBlackBoxX, 1u);
    EXPECT_EQ(gm.gmCellIncX, 10);
}

TEST_F(Gdi32FontTest, GlyphOutlineRefusesWhatItDoesNotOffer) {
    HDC dc = Select(20, u"VelkSquare");
    GLYPHMETRICS gm{};
    BYTE small[8];
    const MAT2 doubled = {{0, 2}, {0, 0}, {0, 0}, {0, 2}};
    EXPECT_EQ(GetGlyphOutlineW(dc, 'A', GGO_BITMAP, &gm, 0, nullptr, nullptr), GDI_ERROR);
    EXPECT_EQ(GetGlyphOutlineW(dc, 'A', GGO_BITMAP, &gm, 0, nullptr, &doubled), GDI_ERROR);
    EXPECT_EQ(GetGlyphOutlineW(dc, 'A', GGO_NATIVE, &gm, 0, nullptr, &kIdentity), GDI_ERROR);
    EXPECT_EQ(GetGlyphOutlineW(dc, 'A', GGO_BITMAP, &gm, sizeof(small), small, &kIdentity),
              GDI_ERROR);
    EXPECT_EQ(GetGlyphOutlineW(dc, 9999, GGO_BITMAP | GGO_GLYPH_INDEX, &gm, 0, nullptr, &kIdentity),
              GDI_ERROR);
    EXPECT_EQ(GetGlyphOutlineW(reinterpret_cast<HDC>(0x1234), 'A', GGO_BITMAP, &gm, 0, nullptr,
                               &kIdentity),
              GDI_ERROR);
}

TEST_F(Gdi32FontTest, KerningPairsComeFromTheKernTableInPixels) {
    HDC dc = Select(20, u"VelkSquare");
    ASSERT_EQ(GetKerningPairsW(dc, 0, nullptr), 2u);
    KERNINGPAIR pairs[2] = {};
    ASSERT_EQ(GetKerningPairsW(dc, 2, pairs), 2u);
    std::vector<std::tuple<int, int, int>> got;
    for (const auto& p : pairs) got.emplace_back(p.wFirst, p.wSecond, p.iKernAmount);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::tuple<int, int, int>>{{'A', 'B', -2}, {'B', 'A', 3}}));
    // A font without the table has none.
    EXPECT_EQ(GetKerningPairsW(Select(20, u"VelkLeading"), 0, nullptr), 0u);
}

TEST_F(Gdi32FontTest, GlyphIndicesAboveTheBasicPlaneAndOfVariationSelectors) {
    HDC dc = Select(20, u"VelkSquare");
    // U+1F600 through the UCS-4 map; glyph order: .notdef, space, A, B, C, Bvariant, smile.
    WCHAR glyphs[2] = {};
    GCP_RESULTSW results{};
    results.lStructSize = sizeof(results);
    results.lpGlyphs = glyphs;
    results.nGlyphs = 2;
    const char16_t smile[] = u"\U0001F600";
    DWORD extent = GetCharacterPlacementW(dc, smile, 2, 0, &results, GCP_GLYPHSHAPE);
    EXPECT_NE(extent, 0u);
    EXPECT_EQ(results.nGlyphs, 1u);
    EXPECT_EQ(glyphs[0], 6);
    EXPECT_EQ(extent & 0xFFFF, 10u);  // 500 units
    // B with VS1 is the variant glyph; shaping makes one glyph of the pair.
    const char16_t text[] = u"B\uFE00";
    SCRIPT_ITEM items[3] = {};
    int itemCount = 0;
    ASSERT_EQ(platform::usp10::ScriptItemize(text, 2, 2, nullptr, nullptr, items, &itemCount),
              S_OK);
    EXPECT_EQ(itemCount, 1);
    EXPECT_EQ(items[1].iCharPos, 2);
    WORD shaped[22] = {}, clusters[2] = {};
    SCRIPT_VISATTR attributes[22] = {};
    SCRIPT_CACHE cache = nullptr;
    int count = 0;
    ASSERT_EQ(platform::usp10::ScriptShape(dc, &cache, text, 2, 22, &items[0].a, shaped, clusters,
                                           attributes, &count),
              S_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(shaped[0], 5);
    EXPECT_EQ(clusters[1], 0);
    // Without a variant for the pair the plain glyph comes back.
    const char16_t plain[] = u"A\uFE00";
    platform::usp10::ScriptShape(dc, &cache, plain, 2, 22, &items[0].a, shaped, clusters,
                                 attributes, &count);
    EXPECT_EQ(shaped[0], 2);
    EXPECT_EQ(platform::usp10::ScriptShape(dc, &cache, text, 2, 0, &items[0].a, shaped, clusters,
                                           attributes, &count),
              E_INVALIDARG);
    EXPECT_EQ(platform::usp10::ScriptItemize(text, 2, 1, nullptr, nullptr, items, &itemCount),
              E_INVALIDARG);
    // Text extents skip the selector.
    SIZE size{};
    ASSERT_TRUE(GetTextExtentPoint32W(dc, text, 2, &size));
    EXPECT_EQ(size.cx, 6);
    EXPECT_EQ(size.cy, 20);
}

// Every glyph equals FreeType's own hinted rendering at the same size.
TEST_F(Gdi32FontTest, InstalledFontsRenderAsFreeTypeDoes) {
    FT_Library library;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    struct Font {
        const char* file;
        const char16_t* face;
        const char16_t* text;
    } fonts[] = {
        {velk::test::kIpaGothicFile, u"IPAGothic", u"あ漢字ゴシックAgW@輝鬱"},
        {velk::test::kLiberationSansFile, u"Liberation Sans", u"AgW@&Qjy%fi"},
    };
    for (const Font& font : fonts) {
        FT_Face face;
        ASSERT_EQ(FT_New_Face(library, font.file, 0, &face), 0) << font.file;
        for (int height = 12; height <= 48; ++height) {
            HDC dc = Select(height, font.face);
            ASSERT_NE(FileOf(dc).find(std::filesystem::path(font.file).filename().string()),
                      std::string::npos);
            TEXTMETRICW tm{};
            GetTextMetricsW(dc, &tm);
            FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(tm.tmHeight - tm.tmInternalLeading));
            for (const char16_t* c = font.text; *c; ++c) {
                SCOPED_TRACE(testing::Message() << height << " " << int(*c));
                FT_UInt index = FT_Get_Char_Index(face, *c);
                for (bool mono : {true, false}) {
                    ASSERT_EQ(FT_Load_Glyph(face, index,
                                            FT_LOAD_NO_BITMAP | (mono ? FT_LOAD_TARGET_MONO
                                                                      : FT_LOAD_TARGET_NORMAL)),
                              0);
                    ASSERT_EQ(FT_Render_Glyph(face->glyph,
                                              mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL),
                              0);
                    const FT_Bitmap& b = face->glyph->bitmap;
                    GLYPHMETRICS gm{};
                    UINT format = mono ? GGO_BITMAP : GGO_GRAY8_BITMAP;
                    DWORD size = GetGlyphOutlineW(dc, *c, format, &gm, 0, nullptr, &kIdentity);
                    std::vector<BYTE> bits(size);
                    ASSERT_EQ(GetGlyphOutlineW(dc, *c, format, &gm, size, bits.data(), &kIdentity),
                              size);
                    ASSERT_EQ(gm.gmBlackBoxX, b.width);
                    ASSERT_EQ(gm.gmBlackBoxY, b.rows);
                    EXPECT_EQ(gm.gmptGlyphOrigin.x, face->glyph->bitmap_left);
                    EXPECT_EQ(gm.gmptGlyphOrigin.y, face->glyph->bitmap_top);
                    EXPECT_EQ(gm.gmCellIncX, (face->glyph->advance.x + 32) >> 6);
                    unsigned pitch = mono ? (b.width + 31) / 32 * 4 : (b.width + 3) & ~3u;
                    ASSERT_EQ(size, pitch * b.rows);
                    for (unsigned y = 0; y < b.rows; ++y) {
                        const BYTE* src = b.buffer + y * b.pitch;
                        for (unsigned x = 0; x < (mono ? (b.width + 7) / 8 : b.width); ++x) {
                            int want = mono ? src[x] : (src[x] * 64 + 127) / 255;
                            if (mono && x == (b.width + 7) / 8 - 1 && (b.width & 7)) {
                                want &= 0xFF00 >> (b.width & 7);
                            }
                            ASSERT_EQ(bits[y * pitch + x], want) << x << "," << y;
                        }
                    }
                }
            }
        }
        FT_Done_Face(face);
    }
    FT_Done_FreeType(library);
}

TEST_F(Gdi32FontTest, WindowsNamesAndSubstitutesChooseInstalledFaces) {
    struct Case {
        const char16_t* face;
        int charSet;
        int weight;
        const char* file;
    } cases[] = {
        {u"ＭＳ ゴシック", SHIFTJIS_CHARSET, 400, "ipag.ttf"},
        {u"MS UI Gothic", DEFAULT_CHARSET, 400, "ipag.ttf"},
        {u"ＭＳ Ｐゴシック", SHIFTJIS_CHARSET, 400, "ipagp.ttf"},
        {u"Meiryo", SHIFTJIS_CHARSET, 400, "ipagp.ttf"},
        {u"ＭＳ 明朝", SHIFTJIS_CHARSET, 400, "ipam.ttf"},
        {u"Arial", ANSI_CHARSET, 400, "LiberationSans-Regular.ttf"},
        {u"Arial", ANSI_CHARSET, 700, "LiberationSans-Bold.ttf"},
        {u"Times New Roman", ANSI_CHARSET, 400, "LiberationSerif-Regular.ttf"},
        {u"IPAゴシック", SHIFTJIS_CHARSET, 400, "ipag.ttf"},
        {u"VelkSquare", ANSI_CHARSET, 400, "square.ttf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file));
        HDC dc = Select(16, c.face, c.weight, 0, c.charSet);
        std::string file = FileOf(dc);
        EXPECT_EQ(std::filesystem::path(file).filename().string(), c.file);
    }
    // An unknown face is substituted by a face of the character set's language.
    std::string file = FileOf(Select(16, u"No Such Face", 400, 0, SHIFTJIS_CHARSET));
    EXPECT_NE(file.find("ipa"), std::string::npos) << file;
    // The next creations fail when a test asks so.
    platform::gdi::FailNextFontCreations(2);
    EXPECT_EQ(CreateFontW(16, 0, 0, 0, 400, 0, 0, 0, 1, 0, 0, 3, 1, u"Arial"), nullptr);
    EXPECT_EQ(CreateFontA(16, 0, 0, 0, 400, 0, 0, 0, 1, 0, 0, 3, 1, "Arial"), nullptr);
    HFONT font = CreateFontA(16, 0, 0, 0, 400, 0, 0, 0, 1, 0, 0, 3, 1, "Arial");
    EXPECT_NE(font, nullptr);
    DeleteObject(font);
}

TEST_F(Gdi32FontTest, BoldAndItalicAreMadeUpForFacesWithoutThem) {
    TEXTMETRICW normal{}, bold{}, italic{};
    HDC n = Select(20, u"VelkSquare");
    HDC b = Select(20, u"VelkSquare", 700);
    HDC i = Select(20, u"VelkSquare", 400, 1);
    GetTextMetricsW(n, &normal);
    GetTextMetricsW(b, &bold);
    GetTextMetricsW(i, &italic);
    EXPECT_EQ(bold.tmMaxCharWidth, normal.tmMaxCharWidth + 1);
    EXPECT_GT(italic.tmMaxCharWidth, normal.tmMaxCharWidth);
    GLYPHMETRICS gn{}, gb{}, gi{};
    GetGlyphOutlineW(n, 'A', GGO_BITMAP, &gn, 0, nullptr, &kIdentity);
    GetGlyphOutlineW(b, 'A', GGO_BITMAP, &gb, 0, nullptr, &kIdentity);
    GetGlyphOutlineW(i, 'A', GGO_BITMAP, &gi, 0, nullptr, &kIdentity);
    EXPECT_EQ(gb.gmCellIncX, gn.gmCellIncX + 1);
    EXPECT_GT(gb.gmBlackBoxX, gn.gmBlackBoxX);
    EXPECT_GT(gi.gmBlackBoxX, gn.gmBlackBoxX);  // sheared
    EXPECT_EQ(gi.gmBlackBoxY, gn.gmBlackBoxY);
}

struct Enumerated {
    std::vector<std::u16string> names;
    std::vector<int> charSets;
};

int Collect(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM data) {
    auto* out = reinterpret_cast<Enumerated*>(data);
    const auto* info = reinterpret_cast<const ENUMLOGFONTEXW*>(font);
    out->names.emplace_back(info->elfFullName);
    out->charSets.push_back(font->lfCharSet);
    EXPECT_EQ(type, TRUETYPE_FONTTYPE);
    return 1;
}

Enumerated Enumerate(const char16_t* face, int charSet) {
    LOGFONTW query{};
    query.lfCharSet = static_cast<BYTE>(charSet);
    std::u16string name(face);
    std::copy(name.begin(), name.end(), query.lfFaceName);
    Enumerated out;
    EnumFontFamiliesExW(nullptr, &query, &Collect, reinterpret_cast<LPARAM>(&out), 0);
    return out;
}

TEST_F(Gdi32FontTest, EnumerationByFamilyNameInAnyLanguage) {
    using Names = std::vector<std::u16string>;
    EXPECT_EQ(Enumerate(u"IPAGothic", SHIFTJIS_CHARSET).names, Names{u"IPAGothic"});
    EXPECT_EQ(Enumerate(u"ipagothic", SHIFTJIS_CHARSET).names, Names{u"IPAGothic"});
    EXPECT_EQ(Enumerate(u"IPAゴシック", SHIFTJIS_CHARSET).names, Names{u"IPAゴシック"});
    EXPECT_EQ(Enumerate(u"@IPAGothic", SHIFTJIS_CHARSET).names, Names{u"@IPAGothic"});
    EXPECT_EQ(Enumerate(u"IPAGothic", SHIFTJIS_CHARSET).charSets, std::vector<int>{128});
    // Windows names of installed faces enumerate under their own name.
    EXPECT_EQ(Enumerate(u"ＭＳ ゴシック", SHIFTJIS_CHARSET).names, Names{u"ＭＳ ゴシック"});
    EXPECT_EQ(Enumerate(u"Meiryo", SHIFTJIS_CHARSET).names, Names{u"Meiryo"});
    EXPECT_EQ(Enumerate(u"Arial", ANSI_CHARSET).names, Names{u"Arial"});
    // A Latin face offers no Japanese; an unknown face nothing.
    EXPECT_TRUE(Enumerate(u"Liberation Sans", SHIFTJIS_CHARSET).names.empty());
    EXPECT_TRUE(Enumerate(u"Arial", SHIFTJIS_CHARSET).names.empty());
    EXPECT_TRUE(Enumerate(u"No Such Face", DEFAULT_CHARSET).names.empty());
    // Every face: the Japanese faces with their vertical forms, named in Japanese.
    Names all = Enumerate(u"", SHIFTJIS_CHARSET).names;
    auto has = [&](const char16_t* n) { return std::find(all.begin(), all.end(), n) != all.end(); };
    EXPECT_TRUE(has(u"IPAゴシック"));
    EXPECT_TRUE(has(u"@IPAゴシック"));
    EXPECT_TRUE(has(u"ＭＳ ゴシック"));
    EXPECT_FALSE(has(u"Liberation Sans"));
    // A callback that answers 0 stops the enumeration.
    LOGFONTW query{};
    query.lfCharSet = SHIFTJIS_CHARSET;
    int calls = 0;
    EnumFontFamiliesExW(
        nullptr, &query,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM data) {
            ++*reinterpret_cast<int*>(data);
            return 0;
        },
        reinterpret_cast<LPARAM>(&calls), 0);
    EXPECT_EQ(calls, 1);
}

std::vector<char> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(Gdi32FontTest, PrivateFontsComeAndGo) {
    std::string path = FontFixtureFolder() + "/Private Game Font.ttf";
    ASSERT_TRUE(MakeTestFont(path, R"({"family": "VelkPrivate", "glyphs": [
        {"char": 65, "name": "A", "advance": 500, "boxes": [[0, 0, 500, 500]]}]})"));
    std::vector<char> bytes = ReadBytes(path);
    EXPECT_TRUE(Enumerate(u"VelkPrivate", DEFAULT_CHARSET).names.empty());
    // From memory.
    DWORD count = 0;
    HANDLE memory =
        AddFontMemResourceEx(bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &count);
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(Enumerate(u"VelkPrivate", DEFAULT_CHARSET).names.size(), 1u);
    EXPECT_TRUE(RemoveFontMemResourceEx(memory));
    EXPECT_FALSE(RemoveFontMemResourceEx(memory));
    EXPECT_TRUE(Enumerate(u"VelkPrivate", DEFAULT_CHARSET).names.empty());
    // From a game folder, spelt the Windows way.
    std::u16string windowsPath;
    for (char c : path) windowsPath.push_back(c == '/' ? u'\\' : static_cast<char16_t>(c));
    ASSERT_EQ(AddFontResourceExW(windowsPath.c_str(), FR_PRIVATE, nullptr), 1);
    EXPECT_EQ(Enumerate(u"VelkPrivate", DEFAULT_CHARSET).names.size(), 1u);
    HDC dc = Select(20, u"VelkPrivate");
    EXPECT_EQ(FileOf(dc), std::filesystem::canonical(path).string());
    GLYPHMETRICS gm{};
    EXPECT_EQ(GetGlyphOutlineW(dc, 'A', GGO_BITMAP, &gm, 0, nullptr, &kIdentity), 40u);
    EXPECT_TRUE(RemoveFontResourceExW(windowsPath.c_str(), FR_PRIVATE, nullptr));
    EXPECT_FALSE(RemoveFontResourceExW(windowsPath.c_str(), FR_PRIVATE, nullptr));
    EXPECT_TRUE(Enumerate(u"VelkPrivate", DEFAULT_CHARSET).names.empty());
    EXPECT_NE(FileOf(Select(20, u"VelkPrivate")), path);
    // The font made while it was there keeps drawing.
    EXPECT_EQ(GetGlyphOutlineW(dc, 'A', GGO_GRAY8_BITMAP, &gm, 0, nullptr, &kIdentity), 120u);
}

TEST_F(Gdi32FontTest, DamagedFontsAreRefusedAndChangeNothing) {
    std::vector<char> bytes = ReadBytes(square_);
    std::vector<std::vector<char>> damaged = {
        std::vector<char>(bytes.begin(), bytes.begin() + 12),  // the table directory cut off
        std::vector<char>(100, 'x'),
        std::vector<char>(bytes.size(), 0),
    };
    for (auto& d : damaged) {
        DWORD count = 77;
        EXPECT_EQ(AddFontMemResourceEx(d.data(), static_cast<DWORD>(d.size()), nullptr, &count),
                  nullptr);
        EXPECT_EQ(count, 77u);
    }
    DWORD count = 0;
    EXPECT_EQ(AddFontMemResourceEx(nullptr, 10, nullptr, &count), nullptr);
    EXPECT_EQ(
        AddFontMemResourceEx(bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, nullptr),
        nullptr);
    std::string path = FontFixtureFolder() + "/damaged.ttf";
    std::ofstream(path, std::ios::binary).write(bytes.data(), 40);
    std::u16string wide(path.begin(), path.end());
    EXPECT_EQ(AddFontResourceExW(wide.c_str(), FR_PRIVATE, nullptr), 0);
    EXPECT_EQ(AddFontResourceExW(u"/no/such/font.ttf", FR_PRIVATE, nullptr), 0);
    EXPECT_FALSE(RemoveFontResourceExW(wide.c_str(), FR_PRIVATE, nullptr));
    // What was registered is still there.
    EXPECT_EQ(Enumerate(u"VelkSquare", DEFAULT_CHARSET).names.size(), 1u);
}

}  // namespace
