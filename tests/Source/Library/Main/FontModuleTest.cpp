// The font module on a running library (software mode): the default font and its settings made
// before and after the start, font handles with their creation rules, the re-creation after a
// device reset, glyph images, the lost flag, the dump line and the level tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "GraphTestSupport.h"
#include "Main/DxFont.h"
#include "platform/Gdi32Font.h"

namespace {

using namespace ZiDaz;
using velk_graph_test::GraphFixture;

class FontModuleTest : public GraphFixture {
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
    static int FontCount() { return HandleTypeTable[DX_HANDLETYPE_FONT].count; }
};

TEST_F(FontModuleTest, SettersBeforeTheStartSurviveItAndTheRestTakeTheirStartValues) {
    ASSERT_EQ(SetDefaultFontSize(20), 0);
    ASSERT_EQ(SetDefaultFontType(DX_FONTTYPE_EDGE), 0);
    StartSoftware(32);
    int size = 0, thickness = 0, type = -1, charSet = -1, edge = -1, italic = -1;
    ASSERT_EQ(QueryFontState(nullptr, &size, &thickness, -2, &type, &charSet, &edge, &italic), 0);
    EXPECT_EQ(size, 20);
    EXPECT_EQ(type, DX_FONTTYPE_EDGE);
    EXPECT_EQ(thickness, 6);
    EXPECT_EQ(edge, 1);
    EXPECT_EQ(italic, 0);
    EXPECT_EQ(charSet, GetCharSetId());
    EXPECT_EQ(QueryFontCharSpacing(-2), 0);
    EXPECT_EQ(FontCount(), 1);
}

TEST_F(FontModuleTest, TheDefaultFontIsMadeOnUseAndAgainOnlyWhenItsSettingsChange) {
    StartSoftware(32);
    HandleValue first = ObtainDefaultFont();
    ASSERT_GE(first, 0);
    // Deleting it clears the default handle; -2 then makes a new one.
    ASSERT_EQ(DeleteHandle(first), 0);
    EXPECT_EQ(FontSystemState.defaultFont, -1);
    EXPECT_EQ(QueryFontSize(-2), 16);
    HandleValue made = FontSystemState.defaultFont;
    ASSERT_GE(made, 0);
    EXPECT_EQ(EnsureDefaultFont(), 0);
    EXPECT_EQ(ObtainDefaultFont(), made);
    // The same character set keeps it; another one alone makes it again.
    SetDefaultFontFaceWide(u"", GetCharSetId());
    EXPECT_EQ(ObtainDefaultFont(), made);
    SetDefaultFontFaceWide(u"", GetCharSetId() == 1 ? 2 : 1);
    EXPECT_NE(ObtainDefaultFont(), made);
    // A changed setting after the start takes effect at once.
    SetDefaultFontSize(24);
    EXPECT_EQ(QueryFontSize(FontSystemState.defaultFont), 24);
    SetDefaultCharSpacing(3);
    EXPECT_EQ(QueryFontCharSpacing(-2), 3);
    EXPECT_EQ(FontCount(), 1);
}

TEST_F(FontModuleTest, CreationRulesForTypeEdgeAndCharacterSet) {
    StartSoftware(32);
    struct Case {
        int fontType, charSet, edge;
        int wantType, wantEdge;
    } cases[] = {
        {-1, 1, 3, DX_FONTTYPE_NORMAL, 0},
        {DX_FONTTYPE_NORMAL, 1, 3, DX_FONTTYPE_NORMAL, 0},
        {DX_FONTTYPE_EDGE, 1, -5, DX_FONTTYPE_EDGE, 1},
        {DX_FONTTYPE_EDGE, 1, 3, DX_FONTTYPE_EDGE, 3},
        {DX_FONTTYPE_ANTIALIASING_EDGE_8X8, 1, 6, DX_FONTTYPE_ANTIALIASING_EDGE_8X8, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fontType);
        HandleValue h = CreateFontToHandle(nullptr, 16, 6, c.fontType, c.charSet, c.edge, 0, -1);
        ASSERT_GE(h, 0);
        int type = -2, edge = -2;
        ASSERT_EQ(QueryFontState(nullptr, nullptr, nullptr, h, &type, nullptr, &edge, nullptr), 0);
        EXPECT_EQ(type, c.wantType);
        EXPECT_EQ(edge, c.wantEdge);
        FontHandleData* f = ResolveFontHandle(h);
        EXPECT_EQ(f->edgePattern.Pixels != nullptr, c.wantEdge > 4);
        DeleteHandle(h);
    }
    // Character sets outside 0..7 take the library's.
    for (int charSet : {8, -1}) {
        HandleValue h = CreateFontToHandle(nullptr, 16, 6, 0, charSet, 0, 0, -1);
        ASSERT_GE(h, 0);
        int got = -2;
        QueryFontState(nullptr, nullptr, nullptr, h, nullptr, &got, nullptr, nullptr);
        EXPECT_EQ(got, GetCharSetId());
        EXPECT_EQ(GetFontStringEncoding(h), NarrowEncoding);
        DeleteHandle(h);
    }
    // 1..7 fix the encoding of narrow strings; the override wins.
    HandleValue sjis = CreateFontToHandle(nullptr, 16, 6, 0, 1, 0, 0, -1);
    EXPECT_EQ(GetFontStringEncoding(sjis), 932);
    SetFontStringEncoding(65001, sjis);
    EXPECT_EQ(GetFontStringEncoding(sjis), 65001);
    EXPECT_EQ(GetFontStringEncoding(12345), -1);
    EXPECT_EQ(IsFontHandleUsable(12345), 0);
}

TEST_F(FontModuleTest, RecreationKeepsEveryFontAndResetsNeverFillTheTable) {
    StartSoftware(32);
    HandleValue a = CreateFontToHandle(nullptr, 18, 6, DX_FONTTYPE_ANTIALIASING_8X8, 1, 0, 0, -1);
    ASSERT_GE(a, 0);
    SetFontCharSpacing(4, a);
    SetFontLineSpacing(30, a);
    SetFontStringEncoding(1252, a);
    HandleValue def = ObtainDefaultFont();
    for (int i = 0; i < 2; ++i) ASSERT_EQ(RecreateAllFonts(), 0);
    EXPECT_EQ(FontCount(), 2);
    FontHandleData* f = ResolveFontHandle(a);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->metrics.size, 18);
    EXPECT_EQ(f->spacing, 4);
    EXPECT_EQ(f->lineSpacingSet, 1);
    EXPECT_EQ(f->lineSpacing, 30);
    EXPECT_EQ(GetFontStringEncoding(a), 1252);
    EXPECT_EQ(f->fontType, DX_FONTTYPE_ANTIALIASING_8X8);
    // The default font keeps its handle, so that many resets leave the table as it was.
    DeleteHandle(a);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(RecreateAllFonts(), 0);
    EXPECT_EQ(FontCount(), 1);
    EXPECT_EQ(FontSystemState.defaultFont, def);
    EXPECT_EQ(ObtainDefaultFont(), def);
}

TEST_F(FontModuleTest, GlyphImagesAreLimitedAndReplaced) {
    StartSoftware(32);
    HandleValue graph = CreateEmptyGraph(12, 14, 0);
    ASSERT_GE(graph, 0);
    HandleValue h = CreateFontToHandle(nullptr, 16, 6, 0, 1, 0, 0, -1);
    char16_t text[2] = {0, 0};
    for (int i = 0; i < 256; ++i) {
        text[0] = static_cast<char16_t>(0x4E00 + i);
        ASSERT_EQ(AddFontGlyphImageWide(h, text, graph, 1, 2, 3), 0);
    }
    text[0] = 0x4E00 + 256;
    EXPECT_EQ(AddFontGlyphImageWide(h, text, graph, 1, 2, 3), -1);
    text[0] = 0x4E00 + 5;
    EXPECT_EQ(AddFontGlyphImageWide(h, text, graph, 7, 8, 9), 0);
    FontHandleData* f = ResolveFontHandle(h);
    EXPECT_EQ(f->imageCount, 256);
    FontGlyphEntry* e = FindGlyph(f, 0x4E05, 0, nullptr, nullptr, nullptr, 1, 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->isImage, 1);
    EXPECT_EQ(e->drawX, 7);
    EXPECT_EQ(e->advance, 9);
    EXPECT_EQ(e->width, 12);
    EXPECT_EQ(e->height, 14);
    EXPECT_EQ(e->graph, graph);
    // A narrow string in the font's encoding names the character too: U+4E00 in UTF-8 is another
    // character in the font's own Shift-JIS, for which there is no room.
    EXPECT_EQ(AddFontGlyphImage(h, "\xe4\xb8\x80", graph, 0, 0, 5), -1);
    SetFontStringEncoding(65001, h);
    EXPECT_EQ(AddFontGlyphImage(h, "\xe4\xb8\x80", graph, 0, 0, 5), 0);
    EXPECT_EQ(f->imageCount, 256);
    EXPECT_EQ(FindGlyph(f, 0x4E00, 0, nullptr, nullptr, nullptr, 1, 0)->advance, 5);
}

TEST_F(FontModuleTest, TheLostFlagReadsZeroThenOne) {
    StartSoftware(32);
    HandleValue h = CreateFontToHandle(nullptr, 16, 6, 0, 1, 0, 0, -1);
    int lost = 7;
    ASSERT_EQ(SetFontLostFlagPointer(h, &lost), 0);
    EXPECT_EQ(lost, 0);
    DeleteHandle(h);
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(SetFontLostFlagPointer(h, &lost), -1);
}

TEST_F(FontModuleTest, DumpLinesNameTheTypeOrNull) {
    StartSoftware(32);
    HandleValue h =
        CreateFontToHandle(nullptr, 16, 6, DX_FONTTYPE_ANTIALIASING_EDGE_4X4, 1, 2, 0, -1);
    FontHandleData* f = ResolveFontHandle(h);
    ASSERT_NE(f, nullptr);
    DumpFontHandle(&f->header);
    f->fontType = 77;
    DumpFontHandle(&f->header);
    f->fontType = DX_FONTTYPE_ANTIALIASING_EDGE_4X4;
    char face[256];
    std::snprintf(face, sizeof(face), "%s", f->faceName);
    char line[512];
    std::snprintf(line, sizeof(line),
                  "Handle:0x%08x IsFontFile:false FontName:%s FontType:"
                  "DX_FONTTYPE_ANTIALIASING_EDGE_4X4 Size:16 Thickness:6 Height:%d",
                  static_cast<unsigned>(h), face, f->metrics.height);
    std::string log = Log();
    EXPECT_NE(log.find(line), std::string::npos) << log;
    std::snprintf(line, sizeof(line), "Handle:0x%08x IsFontFile:false FontName:%s FontType:Null ",
                  static_cast<unsigned>(h), face);
    EXPECT_NE(log.find(line), std::string::npos);
    const char* names[] = {"DX_FONTTYPE_NORMAL",
                           "DX_FONTTYPE_EDGE",
                           "DX_FONTTYPE_ANTIALIASING",
                           "DX_FONTTYPE_ANTIALIASING_EDGE",
                           "DX_FONTTYPE_ANTIALIASING_4X4",
                           "DX_FONTTYPE_ANTIALIASING_EDGE_4X4",
                           "DX_FONTTYPE_ANTIALIASING_8X8",
                           "DX_FONTTYPE_ANTIALIASING_EDGE_8X8",
                           "DX_FONTTYPE_ANTIALIASING_16X16",
                           "DX_FONTTYPE_ANTIALIASING_EDGE_16X16"};
    int values[] = {0, 1, 2, 3, 18, 19, 34, 35, 50, 51};
    for (int i = 0; i < 10; ++i) {
        std::u16string name(FontTypeName(values[i]));
        EXPECT_EQ(std::string(name.begin(), name.end()), names[i]);
    }
    EXPECT_EQ(std::u16string(FontTypeName(-1)), u"Null");
    EXPECT_EQ(std::u16string(FontTypeName(4)), u"Null");
}

TEST_F(FontModuleTest, LevelTablesHold) {
    StartSoftware(32);
    const FontSystemStateData& s = FontSystemState;
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(s.popCount[i], __builtin_popcount(i));
        EXPECT_EQ(s.level8To16[i], 16 * i / 255);
        EXPECT_EQ(s.level8To64[i], 64 * i / 255);
    }
    EXPECT_EQ(s.level4To16[0], 0);
    for (int i = 1; i < 16; ++i) EXPECT_EQ(s.level4To16[i], i + 1);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(s.level4To64[i], 64 * i / 15);
    EXPECT_EQ(s.ideographicSpace, u'\u3000');
}

TEST_F(FontModuleTest, TheModuleStartsAndEndsWithTheGraphics) {
    StartSoftware(32);
    EXPECT_EQ(FontSystemState.initialised, 1);
    EXPECT_EQ(StartFontSystem(), -1);
    EXPECT_TRUE(HandleTypeTable[DX_HANDLETYPE_FONT].registered);
    const int blocks = GetTrackedMemoryCount();
    HandleValue h = CreateFontToHandle(nullptr, 16, 6, DX_FONTTYPE_ANTIALIASING_EDGE, 1, 7, 0, -1);
    ASSERT_GE(h, 0);
    DeleteHandle(h);
    EXPECT_EQ(GetTrackedMemoryCount(), blocks);
    EndLibrary();
    EXPECT_EQ(FontSystemState.initialised, 0);
    EXPECT_FALSE(HandleTypeTable[DX_HANDLETYPE_FONT].registered);
    EXPECT_EQ(ShutdownFontSystem(), -1);
    EXPECT_EQ(RecreateAllFonts(), -1);
}

TEST_F(FontModuleTest, AFontMadeOnALoadThreadIsWaitedForAtItsFirstUse) {
    StartSoftware(32);
    EnableASyncLoad(1);
    HandleValue h = CreateFontToHandle(nullptr, 20, 6, DX_FONTTYPE_EDGE, 1, 2, 0, -1);
    ASSERT_GE(h, 0);
    EXPECT_EQ(QueryFontSize(h), 20);
    FontHandleData* f = ResolveFontHandle(h);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->header.asyncPending, 0);
    EXPECT_EQ(f->edgeSize, 2);
    EXPECT_NE(FindGlyph(f, 'A', 0, nullptr, nullptr, nullptr, 0, 0), nullptr);
    EnableASyncLoad(0);
}

TEST_F(FontModuleTest, TheRestoreStepAndAScreenModeChangeKeepTheFonts) {
    StartSoftware(32);
    SetDefaultFontSize(20);
    SetDefaultCharSpacing(2);
    HandleValue h = CreateFontToHandle(nullptr, 18, 6, 0, 1, 0, 0, -1);
    SetFontCharSpacing(4, h);
    ASSERT_EQ(RunGraphicsRestore(), 0);
    EXPECT_EQ(QueryFontSize(h), 18);
    EXPECT_EQ(QueryFontCharSpacing(h), 4);
    // A screen-mode change restarts the graphics: only the default font's settings carry over.
    ASSERT_EQ(SetScreenMode(800, 600, 32, 0), 0);
    EXPECT_EQ(IsFontHandleUsable(h), 0);
    EXPECT_EQ(QueryFontSize(-2), 20);
    EXPECT_EQ(QueryFontCharSpacing(-2), 2);
    EXPECT_EQ(FontCount(), 1);
}

}  // namespace
