// The Windows font back end over the platform's gdi32 and usp10: font creation with its retries
// and leading adjustment, the metrics it derives, kerning pairs, the glyphs handed to the glyph
// cache (through a recording stand-in), text-output mode and face checks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FontFixtures.h"
#include "Main/DxChar.h"
#include "Main/Windows/DxFontWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Source/Library/Main/LogCapture.h"
#include "platform/Gdi32Font.h"
#include "platform/Modules.h"

namespace {

using namespace ZiDaz;
using velk::test::FontFixtureFolder;
using velk::test::MakeTestFont;

// 1,000 units per em; at a 20-pixel cell one pixel is 50 units. Glyph order puts Z before A, so
// that kerning pairs come in an order that is not the characters'.
const char* kSquareJson = R"({"family": "VelkBackEnd", "upm": 1000, "winAscent": 800,
  "winDescent": 200, "ascender": 800, "descender": -200,
  "glyphs": [
    {"char": 90, "name": "Z", "advance": 500, "boxes": [[0, 0, 500, 500]]},
    {"char": 65, "name": "A", "advance": 600, "boxes": [[50, 0, 550, 500]]},
    {"char": 66, "name": "B", "advance": 600, "boxes": [[0, 0, 50, 750]]},
    {"char": 8364, "name": "Bvariant", "advance": 300, "boxes": [[0, 0, 150, 150]]},
    {"char": 128512, "name": "smile", "advance": 500, "boxes": [[0, 0, 200, 100]]}],
  "kern": [["Z", "A", 300], ["A", "Z", -300], ["A", "B", -100]],
  "variants": [[66, 65024, "Bvariant"]]})";

// Windows ascent and descent 1,000 + 333 over a 1,000-unit em: at 16 pixels a quarter is leading.
const char* kLeadingJson = R"({"family": "VelkQuarter", "upm": 1000, "winAscent": 1000,
  "winDescent": 333, "ascender": 1000, "descender": -333,
  "glyphs": [{"char": 65, "name": "A", "advance": 500, "boxes": [[0, 0, 500, 500]]}]})";

struct Written {
    std::uint32_t code, selector;
    int blank, kind, width, height, pitch, originX, top, advance, upload;
    std::vector<std::uint8_t> bits;
    std::vector<std::uint8_t> above;  // the row before the bitmap
};
std::vector<Written> written;

int RecordGlyph(FontHandleData*, FontGlyphEntry*, std::uint32_t code, std::uint32_t selector,
                int blank, int kind, const void* bitmap, int width, int height, int pitch,
                int originX, int top, int advance, int upload) {
    Written w{code,    selector, blank,   kind,   width, height, pitch,
              originX, top,      advance, upload, {},    {}};
    if (bitmap != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(bitmap);
        w.bits.assign(bytes, bytes + static_cast<std::size_t>(pitch) * height);
        if (kind != 5) w.above.assign(bytes - pitch, bytes);
    }
    written.push_back(w);
    return 0;
}

struct FreeFont {
    void operator()(FontHandleData* f) const { std::free(f); }
};
using FontPtr = std::unique_ptr<FontHandleData, FreeFont>;

class DxFontWinTest : public LogCaptureTest {
  protected:
    static void SetUpTestSuite() {
        std::string square = FontFixtureFolder() + "/backend.ttf";
        std::string leading = FontFixtureFolder() + "/quarter.ttf";
        ASSERT_TRUE(MakeTestFont(square, kSquareJson));
        ASSERT_TRUE(MakeTestFont(leading, kLeadingJson));
        for (const std::string& path : {square, leading}) {
            std::u16string wide(path.begin(), path.end());
            ASSERT_EQ(platform::gdi32::AddFontResourceExW(wide.c_str(), FR_PRIVATE, nullptr), 1);
        }
    }
    // The faces go again, so that a repeated run can add them afresh.
    static void TearDownTestSuite() {
        for (const char* name : {"/backend.ttf", "/quarter.ttf"}) {
            std::string path = FontFixtureFolder() + name;
            std::u16string wide(path.begin(), path.end());
            platform::gdi32::RemoveFontResourceExW(wide.c_str(), FR_PRIVATE, nullptr);
        }
    }
    void SetUp() override {
        LogCaptureTest::SetUp();
        ReleaseSystemApiTable();
        EnsureSystemApiTable();
        written.clear();
        WriteGlyphToCache = &RecordGlyph;
    }
    void TearDown() override {
        for (auto& f : fonts_) ReleaseFontGdiSide(f.get());
        platform::gdi::FailNextFontCreations(0);
        platform::ResetHiddenModules();
        ReleaseSystemApiTable();
        WriteGlyphToCache = nullptr;
        LogCaptureTest::TearDown();
    }
    FontHandleData* NewFont(const char16_t* face, int size, int fontType = 0, int charSet = 1,
                            int italic = 0) {
        fonts_.emplace_back(static_cast<FontHandleData*>(std::calloc(1, sizeof(FontHandleData))));
        FontHandleData* f = fonts_.back().get();
        std::u16string name(face);
        std::copy(name.begin(), name.end(), f->faceNameWide);
        f->metrics.size = static_cast<std::uint16_t>(size);
        f->metrics.thickness = 4;
        f->metrics.charSet = static_cast<std::uint16_t>(charSet);
        f->metrics.italic = static_cast<std::uint8_t>(italic);
        f->fontType = fontType;
        return f;
    }
    static LOGFONTW GdiFontOf(FontHandleData* f) {
        LOGFONTW lf{};
        platform::gdi32::GetObjectW(f->platformArea.gdiFont, sizeof(lf), &lf);
        return lf;
    }
    static TEXTMETRICW GdiMetricsOf(FontHandleData* f) {
        HDC dc = platform::gdi32::CreateCompatibleDC(nullptr);
        platform::gdi32::SelectObject(dc, f->platformArea.gdiFont);
        TEXTMETRICW tm{};
        platform::gdi32::GetTextMetricsW(dc, &tm);
        platform::gdi32::DeleteDC(dc);
        return tm;
    }
    // Whether a message is in the log (its line ends are the log's own).
    bool LogHas(std::string text) const {
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return LogBytes().find(text) != std::string::npos;
    }
    FontCreateParams params_{};
    std::vector<FontPtr> fonts_;
};

TEST_F(DxFontWinTest, AQuarterOfLeadingMakesTheFontAgainTaller) {
    FontHandleData* f = NewFont(u"VelkQuarter", 16);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    EXPECT_EQ(GdiFontOf(f).lfHeight, 21);  // 16 / 0.75, truncated
    EXPECT_EQ(f->metrics.leadingAdjustment, 5);
    EXPECT_EQ(f->metrics.height, 22);
    // Without the adjustment the font keeps the height asked for.
    FontHandleData* plain = NewFont(u"VelkQuarter", 16);
    params_.noLeadingAdjustment = 1;
    ASSERT_EQ(CreateFontGdiSide(&params_, plain, 0), 0);
    EXPECT_EQ(GdiFontOf(plain).lfHeight, 16);
    EXPECT_EQ(plain->metrics.leadingAdjustment, 0);
    EXPECT_EQ(plain->metrics.height, 17);
}

TEST_F(DxFontWinTest, MetricsAreDividedByTheSupersamplingFactor) {
    struct Case {
        int size, fontType, italic, f;
    } cases[] = {{20, 0, 0, 1}, {5, 18, 0, 4}, {6, 18, 0, 4},
                 {7, 34, 1, 8}, {20, 0, 1, 1}, {3, 50, 0, 16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " " << c.fontType << " " << c.italic);
        FontHandleData* f = NewFont(u"VelkBackEnd", c.size, c.fontType, 1, c.italic);
        ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
        EXPECT_EQ(GdiFontOf(f).lfHeight, c.f * c.size);
        TEXTMETRICW tm = GdiMetricsOf(f);
        int cell =
            c.italic ? (tm.tmMaxCharWidth * 135 / c.f + 540) / 100 : tm.tmMaxCharWidth / c.f + 4;
        EXPECT_EQ(f->metrics.cellSize, cell);
        EXPECT_EQ(f->metrics.height, tm.tmHeight / c.f + 1);
        // Rounded to output pixels: a whole number of them stays as it is.
        EXPECT_EQ(f->metrics.ascent,
                  tm.tmAscent / c.f + (c.f > 1 && tm.tmAscent % c.f >= c.f / 2 ? 1 : 0));
        EXPECT_EQ(std::u16string(f->faceNameWide), u"VelkBackEnd");
        EXPECT_STREQ(f->faceName, "VelkBackEnd");
        EXPECT_EQ(f->platformArea.textOutputMode, 0);
    }
    // The examples: cell 20 gives 16 ascent pixels; at 6 x 4 the ascent 19.2 -> 19 rounds up.
    FontHandleData* f = NewFont(u"VelkBackEnd", 6, 18);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    EXPECT_EQ(GdiMetricsOf(f).tmAscent, 19);
    EXPECT_EQ(f->metrics.ascent, 5);
    EXPECT_EQ(f->metrics.cellSize, 14 / 4 + 4);
}

TEST_F(DxFontWinTest, KerningPairsAreSortedAndScaled) {
    // At 20 pixels the pairs are 6, -6 and -2 pixels; a 4 x 4 font divides them by 4 after adding
    // a quarter of the factor.
    FontHandleData* f = NewFont(u"VelkBackEnd", 5, 18);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    ASSERT_EQ(f->metrics.kerningCount, 3);
    std::vector<std::vector<int>> pairs;
    for (int i = 0; i < 3; ++i) {
        const FontKerningPair& p = f->kerning[i];
        pairs.push_back({int(p.first), int(p.second), p.amount, p.unused});
    }
    EXPECT_EQ(pairs, (std::vector<std::vector<int>>{
                         {'A', 'B', 0, 0}, {'A', 'Z', -1, 0}, {'Z', 'A', 1, 0}}));
    FontHandleData* whole = NewFont(u"VelkBackEnd", 20, 0);
    ASSERT_EQ(CreateFontGdiSide(&params_, whole, 0), 0);
    ASSERT_EQ(whole->metrics.kerningCount, 3);
    EXPECT_EQ(whole->kerning[0].amount, -2);
    EXPECT_EQ(whole->kerning[1].amount, -6);
    EXPECT_EQ(whole->kerning[2].amount, 6);
    // Without the entry the font has no pairs.
    platform::HideEntry("gdi32.dll", "GetKerningPairsW", true);
    ReleaseSystemApiTable();
    EnsureSystemApiTable();
    FontHandleData* none = NewFont(u"VelkBackEnd", 20, 0);
    ASSERT_EQ(CreateFontGdiSide(&params_, none, 0), 0);
    EXPECT_EQ(none->metrics.kerningCount, 0);
    EXPECT_EQ(none->kerning, nullptr);
}

TEST_F(DxFontWinTest, CreationRetriesOtherCharacterSetsThenFails) {
    // The face's character set fails; DEFAULT_CHARSET is tried next.
    platform::gdi::FailNextFontCreations(1);
    FontHandleData* f = NewFont(u"VelkBackEnd", 20, 0, 1);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    EXPECT_EQ(GdiFontOf(f).lfCharSet, DEFAULT_CHARSET);
    platform::gdi::FailNextFontCreations(2);
    f = NewFont(u"VelkBackEnd", 20, 0, 5);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    EXPECT_EQ(GdiFontOf(f).lfCharSet, SHIFTJIS_CHARSET);
    platform::gdi::FailNextFontCreations(3);
    f = NewFont(u"VelkBackEnd", 20, 0, 1);
    EXPECT_EQ(CreateFontGdiSide(&params_, f, 0), -1);
    EXPECT_TRUE(LogHas("指定のフォントの作成に失敗しました\n"));
    EXPECT_EQ(f->platformArea.gdiFont, nullptr);
}

TEST_F(DxFontWinTest, AnEmptyFaceGivesTheGothicFaceThenAnyFace) {
    params_.noLeadingAdjustment = 1;  // one creation pass each
    FontHandleData* f = NewFont(u"", 16, 0, 1, 1);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    EXPECT_EQ(std::u16string(f->faceNameWide), u"ＭＳ ゴシック");
    EXPECT_EQ(GdiFontOf(f).lfItalic, 1);
    platform::gdi::FailNextFontCreations(1);
    f = NewFont(u"", 16, 0, 1, 1);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    LOGFONTW lf = GdiFontOf(f);
    EXPECT_EQ(lf.lfItalic, 0);
    EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
    EXPECT_EQ(std::u16string(lf.lfFaceName), u"ＭＳ ゴシック");
    platform::gdi::FailNextFontCreations(2);
    f = NewFont(u"", 16, 0, 1, 1);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    EXPECT_EQ(std::u16string(f->faceNameWide), u"");
    platform::gdi::FailNextFontCreations(3);
    f = NewFont(u"", 16, 0, 1, 1);
    EXPECT_EQ(CreateFontGdiSide(&params_, f, 0), -1);
    EXPECT_TRUE(LogHas("フォントの作成に失敗しました\n"));
}

TEST_F(DxFontWinTest, TheFaceCheckDropsACharacterSetWithoutTheFace) {
    FontHandleData* unknown = NewFont(u"No Such Face", 16, 0, 1);
    ASSERT_EQ(CreateFontGdiSide(&params_, unknown, 1), 0);
    EXPECT_EQ(unknown->metrics.charSet, 0);
    FontHandleData* known = NewFont(u"IPAGothic", 16, 0, 1);
    ASSERT_EQ(CreateFontGdiSide(&params_, known, 1), 0);
    EXPECT_EQ(known->metrics.charSet, 1);
    FontHandleData* vertical = NewFont(u"@IPAGothic", 16, 0, 1);
    ASSERT_EQ(CreateFontGdiSide(&params_, vertical, 1), 0);
    EXPECT_EQ(vertical->metrics.charSet, 1);
    FontHandleData* latin = NewFont(u"Liberation Sans", 16, 0, 1);
    ASSERT_EQ(CreateFontGdiSide(&params_, latin, 1), 0);
    EXPECT_EQ(latin->metrics.charSet, 0);
}

TEST_F(DxFontWinTest, InstalledFacesAndWindowsNames) {
    EXPECT_EQ(IsFontFaceInstalled("Meiryo", 1), 1);
    EXPECT_EQ(IsFontFaceInstalled("ＭＳ ゴシック", 1), 1);
    EXPECT_EQ(IsFontFaceInstalled("IPAゴシック", 1), 1);
    EXPECT_EQ(IsFontFaceInstalled("Arial", 5), 1);
    EXPECT_EQ(IsFontFaceInstalled("Arial", 1), 0);  // no Japanese in it
    EXPECT_EQ(IsFontFaceInstalled("No Such Face", 1), 0);
    EXPECT_EQ(IsFontFaceInstalled("@IPAGothic", 1), 0);  // vertical faces do not count
    std::vector<char16_t> names(64 * 4);
    int count = EnumFontFacesOfCharSet(names.data(), 2, nullptr, 1);
    EXPECT_EQ(count, 2);
    for (int i = 0; i < count; ++i) EXPECT_NE(names[i * 64], u'@');
    EXPECT_EQ(EnumFontFacesOfCharSet(names.data(), 0, u"IPAGothic", 1), 1);
    EXPECT_EQ(std::u16string(names.data()), u"IPAGothic");
}

TEST_F(DxFontWinTest, GlyphsReachTheCacheWithTheirBoxes) {
    // The GDI font's cell c is size x factor; the square 'A' fills c / 2 pixels, one pixel in from
    // the origin per 20 pixels of cell.
    struct Case {
        int size, fontType, onTexture, kind, pitch;
        std::uint8_t first;  // the first byte of a full row
    } cases[] = {{20, 0, 0, 0, 4, 0xFF},
                 {5, 18, 0, 1, 4, 0xFF},
                 {5, 34, 0, 2, 4, 0xFF},
                 {20, 2, 0, 6, 12, 16},
                 {20, 3, 1, 7, 12, 64}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fontType);
        FontHandleData* f = NewFont(u"VelkBackEnd", c.size, c.fontType);
        f->cache.onTexture = c.onTexture;
        f->cache.textureColorDepth = 32;
        ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
        ASSERT_EQ(CreateFontCacheDib(&params_, f, 0), 0);
        ASSERT_EQ(BeginGlyphRendering(f), 0);
        written.clear();
        int m = c.size * FontSupersampling(c.fontType) / 20;
        ASSERT_EQ(RenderGlyphWithGdi(f, &f->glyphs[0], 'A', 0, 1), 0);
        EXPECT_EQ(EndGlyphRendering(f), 0);
        ASSERT_EQ(written.size(), 1u);
        const Written& w = written[0];
        EXPECT_EQ(w.kind, c.kind);
        EXPECT_EQ(w.blank, 0);
        EXPECT_EQ(w.width, 10 * m);
        EXPECT_EQ(w.height, 10 * m);
        EXPECT_EQ(w.pitch, c.pitch);
        EXPECT_EQ(w.originX, m);
        EXPECT_EQ(w.top, 6 * m);
        EXPECT_EQ(w.advance, 12 * m);
        EXPECT_EQ(w.upload, 1);
        ASSERT_EQ(w.bits.size(), static_cast<std::size_t>(c.pitch * 10 * m));
        EXPECT_EQ(w.bits[0], c.first);
        EXPECT_EQ(w.above, std::vector<std::uint8_t>(c.pitch, 0));  // blank rows above
    }
}

TEST_F(DxFontWinTest, SpacesAreBlankAndOnlyAdvance) {
    FontHandleData* f = NewFont(u"VelkBackEnd", 20);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    ASSERT_EQ(BeginGlyphRendering(f), 0);
    ASSERT_EQ(RenderGlyphWithGdi(f, &f->glyphs[0], u' ', 0, 0), 0);
    ASSERT_EQ(RenderGlyphWithGdi(f, &f->glyphs[1], 0x3000, 0, 0), 0);
    EndGlyphRendering(f);
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].blank, 1);
    EXPECT_EQ(written[0].advance, 10);
    EXPECT_TRUE(written[0].bits.empty());
    EXPECT_EQ(written[1].blank, 2);
    EXPECT_TRUE(written[1].bits.empty());
}

TEST_F(DxFontWinTest, GlyphIndicesForSelectorsAndCharactersAboveTheBasicPlane) {
    FontHandleData* f = NewFont(u"VelkBackEnd", 20);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    ASSERT_EQ(BeginGlyphRendering(f), 0);
    ASSERT_EQ(RenderGlyphWithGdi(f, &f->glyphs[0], 'B', 0xFE00, 0), 0);
    ASSERT_EQ(RenderGlyphWithGdi(f, &f->glyphs[1], 0x1F600, 0, 0), 0);
    EndGlyphRendering(f);
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].selector, 0xFE00u);
    EXPECT_EQ(written[0].width, 3);  // the variant glyph, 150 units
    EXPECT_EQ(written[0].height, 3);
    EXPECT_EQ(written[1].width, 4);  // 200 x 100 units
    EXPECT_EQ(written[1].height, 2);
    EXPECT_EQ(written[1].advance, 10);
}

TEST_F(DxFontWinTest, MissingUniscribeAndPlacementAreLoggedAndNothingIsCached) {
    platform::HideModule("usp10.dll", true);
    platform::HideEntry("gdi32.dll", "GetCharacterPlacementW", true);
    ReleaseSystemApiTable();
    EnsureSystemApiTable();
    FontHandleData* f = NewFont(u"VelkBackEnd", 20);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    ASSERT_EQ(BeginGlyphRendering(f), 0);
    EXPECT_EQ(RenderGlyphWithGdi(f, &f->glyphs[0], 'B', 0xFE00, 0), -1);
    EXPECT_EQ(RenderGlyphWithGdi(f, &f->glyphs[0], 0x1F600, 0, 0), -1);
    EXPECT_EQ(RenderGlyphWithGdi(f, &f->glyphs[0], 'A', 0, 0), 0);
    EndGlyphRendering(f);
    EXPECT_EQ(written.size(), 1u);
    EXPECT_TRUE(LogHas("Win32API ScriptShape 又は Win32 ScriptItemize が使用できませんでした\n"));
    EXPECT_TRUE(LogHas("Win32API GetCharacterPlacement が失敗しました\n"));
}

TEST_F(DxFontWinTest, TextOutputModeDrawsIntoACellSizedDib) {
    // Without GetGlyphOutlineW the space probe fails: a 4 x 4 font is made again at its own size
    // and draws with TextOutW.
    platform::HideEntry("gdi32.dll", "GetGlyphOutlineW", true);
    ReleaseSystemApiTable();
    EnsureSystemApiTable();
    FontHandleData* f = NewFont(u"VelkBackEnd", 20, 18);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    EXPECT_EQ(f->platformArea.textOutputMode, 1);
    EXPECT_EQ(GdiFontOf(f).lfHeight, 20);
    EXPECT_EQ(f->metrics.height, 21);
    EXPECT_EQ(f->metrics.cellSize, 11 + 4);
    EXPECT_EQ(f->metrics.kerningCount, 3);
    EXPECT_EQ(f->kerning[0].amount, -2);  // not divided by 4 any more
    ASSERT_EQ(CreateFontCacheDib(&params_, f, 0), 0);
    EXPECT_EQ(f->fontType, DX_FONTTYPE_NORMAL);
    ASSERT_NE(f->platformArea.cacheDib, nullptr);
    EXPECT_EQ(f->platformArea.dibPitch, 16);
    ASSERT_EQ(BeginGlyphRendering(f), 0);
    ASSERT_EQ(RenderGlyphWithGdi(f, &f->glyphs[0], 'A', 0, 0), 0);
    EndGlyphRendering(f);
    ASSERT_EQ(written.size(), 1u);
    const Written& w = written[0];
    EXPECT_EQ(w.kind, 5);
    EXPECT_EQ(w.width, 12);
    EXPECT_EQ(w.height, 15);  // the 20-pixel extent cut to the cell
    EXPECT_EQ(w.pitch, 16);
    EXPECT_EQ(w.advance, 12);
    EXPECT_EQ(w.top, 0);
    // White ink on black: the square fills rows 6 to 14 (cut) and columns 1 to 10.
    for (int y = 0; y < 15; ++y) {
        for (int x = 0; x < 12; ++x) {
            bool ink = y >= 6 && x >= 1 && x <= 10;
            EXPECT_EQ(w.bits[y * 16 + x], ink ? 255 : 0) << x << "," << y;
        }
    }
}

TEST_F(DxFontWinTest, FailuresReleaseWhatWasMade) {
    // No DIB sections: text-output mode cannot be set up.
    platform::HideEntry("gdi32.dll", "GetGlyphOutlineW", true);
    platform::HideEntry("gdi32.dll", "CreateDIBSection", true);
    ReleaseSystemApiTable();
    EnsureSystemApiTable();
    FontHandleData* f = NewFont(u"VelkBackEnd", 20);
    ASSERT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    EXPECT_EQ(CreateFontCacheDib(&params_, f, 0), -1);
    EXPECT_TRUE(LogHas("フォントキャッシュ用の DIB の作成に失敗しました in CFont"));
    EXPECT_EQ(f->platformArea.gdiFont, nullptr);
    EXPECT_EQ(f->kerning, nullptr);
    // No memory contexts.
    platform::HideEntry("gdi32.dll", "CreateCompatibleDC", true);
    ReleaseSystemApiTable();
    EnsureSystemApiTable();
    f = NewFont(u"VelkBackEnd", 20);
    EXPECT_EQ(CreateFontGdiSide(&params_, f, 0), -1);
    EXPECT_TRUE(LogHas("デバイスコンテキストの取得に失敗しました\n"));
    EXPECT_EQ(f->platformArea.gdiFont, nullptr);
    // A font made from a data image has no GDI side.
    f = NewFont(u"VelkBackEnd", 20);
    f->fromData = 1;
    EXPECT_EQ(CreateFontGdiSide(&params_, f, 0), 0);
    EXPECT_EQ(f->platformArea.gdiFont, nullptr);
}

}  // namespace

namespace {

using namespace ZiDaz;

// Without working wide calls the wrappers go through the narrow entries the system has.
TEST_F(DxFontWinTest, NarrowEntriesStandInWhenWideCallsDoNotWork) {
    int wide = SystemApi.wideCalls;
    SystemApi.wideCalls = 0;
    HFONT font =
        WinCreateFontW(20, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 3, 1, u"VelkBackEnd");
    ASSERT_NE(font, nullptr);
    LOGFONTW lf{};
    platform::gdi32::GetObjectW(font, sizeof(lf), &lf);
    EXPECT_EQ(std::u16string(lf.lfFaceName), u"VelkBackEnd");
    HDC dc = platform::gdi32::CreateCompatibleDC(nullptr);
    platform::gdi32::SelectObject(dc, font);
    TEXTMETRICW narrow{}, direct{};
    EXPECT_TRUE(WinGetTextMetricsW(dc, &narrow));
    SystemApi.wideCalls = 1;
    EXPECT_TRUE(WinGetTextMetricsW(dc, &direct));
    EXPECT_EQ(narrow.tmHeight, direct.tmHeight);
    EXPECT_EQ(narrow.tmAscent, direct.tmAscent);
    EXPECT_EQ(narrow.tmMaxCharWidth, direct.tmMaxCharWidth);
    // The layer offers no narrow glyph, extent or output calls: they fail instead.
    SystemApi.wideCalls = 0;
    GLYPHMETRICS gm{};
    const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    EXPECT_EQ(WinGetGlyphOutlineW(dc, 'A', GGO_BITMAP, &gm, 0, nullptr, &identity), -1);
    SIZE size{};
    EXPECT_FALSE(WinGetTextExtentPoint32W(dc, u"A", 1, &size));
    EXPECT_FALSE(WinTextOutW(dc, 0, 0, u"A", 1));
    SystemApi.wideCalls = wide;
    platform::gdi32::DeleteDC(dc);
    platform::gdi32::DeleteObject(font);
}

}  // namespace
