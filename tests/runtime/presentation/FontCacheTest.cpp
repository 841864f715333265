#include <gtest/gtest.h>

#include "PresentationTestSupport.h"
#include "runtime/shell/ReportCapture.h"

namespace {

using namespace presentation_test;

class FontCacheTest : public PresentationTest {};

TEST_F(FontCacheTest, DefaultFaceFollowsTheCharacterSetAndWhatIsInstalled) {
    struct Case {
        int code;
        std::set<std::string> installed;
        const char* face;
    };
    const Case cases[] = {
        {1, {"Meiryo"}, "Meiryo"},
        {1, {}, "MS UI Gothic"},
        {0, {"Meiryo"}, "Meiryo"},
        {104, {"SimHei", "SimSun"}, "SimHei"},
        {4, {}, "Microsoft YaHei"},
        {2, {"Gulim"}, "Gulim"},
        {5, {"Times New Roman"}, "Times New Roman"},
        {7, {}, "Arial"},
    };
    for (const Case& c : cases) {
        TheBasicData.settingBytes[17] = static_cast<std::uint8_t>(c.code);
        fake_.installedFaces = c.installed;
        SelectDefaultFonts();
        EXPECT_EQ(TheFontCache.defaultFace, c.face) << c.code;
        EXPECT_EQ(TheSystemState.fontSelectionName, c.face);
    }
    // A code with no row keeps the face chosen before.
    TheBasicData.settingBytes[17] = 50;
    SelectDefaultFonts();
    EXPECT_EQ(TheFontCache.defaultFace, "Arial");
}

TEST_F(FontCacheTest, EmptyGameFontNamesGiveTheDefaultFaceInEverySlot) {
    fake_.installedFaces = {"Meiryo"};
    TheBasicData.settingTexts[4] = "Own Face";
    SelectDefaultFonts();
    EXPECT_EQ(TheFontCache.slotFaces[0], "Meiryo");
    EXPECT_EQ(TheFontCache.slotFaces[1], "Own Face");
    EXPECT_EQ(TheFontCache.slotFaces[2], "Meiryo");
    EXPECT_EQ(TheFontCache.slotFaces[3], "Meiryo");
    EXPECT_EQ(TheFontCache.textCodePage, 65001);
    for (int set : TheFontCache.slotCharSets) EXPECT_EQ(set, 7);
}

TEST_F(FontCacheTest, GlyphSmoothingChoosesTypesAndTheDoubledTextMode) {
    TheBasicData.settingBytes[14] = 1;
    SelectDefaultFonts();
    EXPECT_EQ(TheFontCache.antiAliasFlag, 0);
    EXPECT_EQ(TheFontCache.textScale, 100);
    TheBasicData.settingBytes[14] = 2;
    SelectDefaultFonts();
    EXPECT_EQ(TheFontCache.textScale, 200);
    EXPECT_EQ(TheFontCache.antiAliasFlag, 0);
    TheBasicData.settingBytes[14] = 0;
    SelectDefaultFonts();
    EXPECT_EQ(TheFontCache.antiAliasFlag, 1);
    EXPECT_EQ(TheFontCache.textScale, 100);
}

TEST_F(FontCacheTest, SetFontSlotRecordsItsStatusAndFallsBack) {
    fake_.installedFaces = {"Meiryo", "Fancy"};
    SelectDefaultFonts();
    TheBasicData.settingTexts[5] = "Game Face";
    struct Case {
        int slot;
        const char* face;
        int status;
        const char* slotFace;
    };
    const Case cases[] = {
        {0, "Fancy", 1, "Fancy"},        {0, "", 0, "Meiryo"},
        {0, "Missing", -1, "Meiryo"},    {2, "", 0, "Game Face"},
        {2, "Missing", -1, "Game Face"},
    };
    for (const Case& c : cases) {
        const int resets = fake_.resets;
        EXPECT_TRUE(SetFontSlot(c.slot, c.face));
        EXPECT_EQ(TheSystemState.fontSelection[c.slot], c.status) << c.face;
        EXPECT_EQ(TheSystemState.fontNames[c.slot], c.face);
        EXPECT_EQ(TheFontCache.slotFaces[c.slot], c.slotFace) << c.face;
        EXPECT_EQ(fake_.resets, resets + 1);
    }
    EXPECT_TRUE(SetFontSlot(4, "Fancy"));
    EXPECT_EQ(TheSystemState.fontSelectionName, "Fancy");
    EXPECT_TRUE(SetFontSlot(4, "Missing"));
    EXPECT_EQ(TheSystemState.fontSelectionName, "Meiryo");
    EXPECT_EQ(TheSystemState.fontSelection[4], -1);
}

TEST_F(FontCacheTest, HandleListsGrowAndResetAfterTooManyCreations) {
    TheFontCache.EnsureFont(0, 250, 5, 0, 1);
    const int list = FontCache::ListIndex(0, 0, 1);
    EXPECT_EQ(TheFontCache.handleLists[list].size(), 251u);
    const int handle = TheFontCache.Handle(0, 250, 0, 1);
    EXPECT_GT(handle, 0);
    // An existing font is not made again.
    TheFontCache.EnsureFont(0, 250, 5, 0, 1);
    EXPECT_EQ(TheFontCache.Handle(0, 250, 0, 1), handle);
    EXPECT_EQ(TheFontCache.createdCount, 1);
    ResetFontCache();
    EXPECT_EQ(TheFontCache.handleLists[list].size(), 200u);
    EXPECT_EQ(TheFontCache.Handle(0, 250, 0, 1), 0);

    for (int size = 1; size <= 101; ++size) TheFontCache.EnsureFont(1, size, 5, 2, 0);
    EXPECT_EQ(TheFontCache.createdCount, 101);
    const int resets = fake_.resets;
    TheFontCache.EnsureFont(1, 1, 5, 2, 0);
    EXPECT_EQ(fake_.resets, resets + 1);
    EXPECT_EQ(TheFontCache.createdCount, 1);
    EXPECT_EQ(TheFontCache.Handle(1, 2, 2, 0), 0);
}

TEST_F(FontCacheTest, AFontThatCannotBeMadeFallsBackToTheDefaultFaceWithOneReport) {
    shell_test::ReportCapture capture;
    fake_.installedFaces = {"Meiryo"};
    SelectDefaultFonts();
    TheFontCache.slotFaces[2] = "Broken";
    fake_.failFonts = 2;
    fake_.createdFaces.clear();
    TheFontCache.EnsureFont(2, 24, 5, 0, 0);
    EXPECT_EQ(fake_.createdFaces, (std::vector<std::string>{"Broken", "Broken", "Meiryo"}));
    EXPECT_GT(TheFontCache.Handle(2, 24, 0, 0), 0);
    EXPECT_EQ(TheFontCache.slotFaces[2], "Meiryo");
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.reports()[0].first, "Broken");
    EXPECT_EQ(capture.reports()[0].second, "This font was not generable.");
}

TEST_F(FontCacheTest, IconsComeFromTheListFileOrTheFolderScan) {
    fake_.hasListFile = true;
    fake_.listFile = std::string("icon0003.png\r\nicon0012.png\r\nab\r\nicon0012.png");
    LoadTextIcons();
    EXPECT_EQ(fake_.loadedIcons,
              (std::vector<std::string>{"BasicData\\icon0003.png", "BasicData\\icon0012.png",
                                        "BasicData\\icon0012.png"}));
    ASSERT_EQ(TheFontCache.IconCount(), 13);
    for (int i = 0; i < 13; ++i) EXPECT_EQ(TheFontCache.iconGraphs[i] > 0, i == 3 || i == 12) << i;
    EXPECT_EQ(TheFontCache.iconWidths[3], 16);
    // The replaced graph of icon 12 is not leaked.
    EXPECT_EQ(fake_.destroyed.size(), 1u);

    // Loading again drops the old graphs first.
    fake_.hasListFile = false;
    fake_.destroyed.clear();
    fake_.loadedIcons.clear();
    fake_.folder = {"icon005.png", "ICON1234.PNG", "icon0007.png", "icon12.png", "other.png"};
    LoadTextIcons();
    EXPECT_EQ(fake_.destroyed.size(), 2u);
    EXPECT_EQ(fake_.loadedIcons,
              (std::vector<std::string>{"BasicData\\icon005.png", "BasicData\\ICON1234.PNG"}));
    ASSERT_EQ(TheFontCache.IconCount(), 1235);
    EXPECT_GT(TheFontCache.iconGraphs[5], 0);
    EXPECT_GT(TheFontCache.iconGraphs[1234], 0);
    EXPECT_EQ(TheFontCache.iconGraphs[7], 0);
    EXPECT_EQ(TheFontCache.iconWidths.size(), 10000u);
}

}  // namespace
