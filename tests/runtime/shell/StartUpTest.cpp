// The start-up's decisions from plain values: the command line, the UI language, the screen and
// the window title.
#include <gtest/gtest.h>

#include <string>

#include "runtime/data/BasicData.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/StartUp.h"
#include "runtime/shell/TitleScreen.h"

namespace {

TEST(StartUpTest, CommandLineTokens) {
    std::string fortyTokens;
    for (int i = 0; i < 40; ++i) fortyTokens += "x ";
    std::string thirtyNineTokens;
    for (int i = 0; i < 39; ++i) thirtyNineTokens += "x ";
    struct Case {
        std::string line;
        bool testPlay, debugWindow, folderGiven;
        std::string folder;
    };
    for (const Case& c : {
             Case{"", false, false, false, ""},
             Case{"Test_Of_Main", true, false, false, ""},
             Case{"test_of_main Use_Debug_Window", false, true, false, ""},
             Case{"-f", false, false, true, "/"},  // "-f" last takes the empty token
             Case{"-f Games/Data2", false, false, true, "Games/Data2/"},
             // The folder token is skipped, not read as an option.
             Case{"-f Test_Of_Main", false, false, true, "Test_Of_Main/"},
             Case{"  Test_Of_Main\t-f   D  ", true, false, true, "D/"},
             Case{fortyTokens + "Test_Of_Main", false, false, false, ""},
             Case{thirtyNineTokens + "Test_Of_Main", true, false, false, ""},
         }) {
        SCOPED_TRACE(c.line);
        const CommandLineOptions o = ParseCommandLine(c.line);
        EXPECT_EQ(o.testPlay, c.testPlay);
        EXPECT_EQ(o.debugWindow, c.debugWindow);
        EXPECT_EQ(o.dataFolderGiven, c.folderGiven);
        EXPECT_EQ(o.dataFolder, c.folder);
    }
}

TEST(StartUpTest, OnlyTheExactNameJapaneseGivesJapanese) {
    EXPECT_EQ(UiLanguageFromSystemName("Japanese"), 0);
    for (const char* name : {"English", "German", "Chinese", "japanese", "Japanese ", ""}) {
        EXPECT_EQ(UiLanguageFromSystemName(name), 1) << name;
    }
}

TEST(StartUpTest, ScreenGeometryFromGameData) {
    struct Case {
        int tileByte, rate, scaleByte, doubleSmall, width, height, desktop;
        ScreenGeometry expected;
    };
    for (const Case& c : {
             Case{16, 60, 1, 0, 640, 480, 32, {32, 16, 1, 640, 480, 1}},
             Case{24, 30, 1, 0, 800, 600, 16, {16, 32, 1, 800, 600, 2}},  // 24 keeps 32
             Case{48, 0, 1, 0, 640, 480, 24, {32, 48, 1, 640, 480, 60}},  // rate 0 counts as 1
             Case{40, 45, 1, 0, 640, 480, 32, {32, 40, 1, 640, 480, 1}},
             Case{32, 120, 1, 0, 640, 480, 32, {32, 32, 1, 640, 480, 1}},  // never 0
             Case{32, 20, 1, 1, 320, 240, 32, {32, 32, 2, 640, 480, 3}},
             Case{32, 60, 3, 1, 320, 200, 32, {32, 32, 3, 960, 600, 1}},
             Case{32, 60, 0, 0, 640, 480, 32, {32, 32, 1, 640, 480, 1}},     // never below 1
             Case{32, 60, 0xFE, 0, 640, 480, 32, {32, 32, 1, 640, 480, 1}},  // -2
         }) {
        Game_BasicData data;
        data.settingBytes[0] = static_cast<std::uint8_t>(c.tileByte);
        data.settingBytes[4] = static_cast<std::uint8_t>(c.rate);
        data.settingBytes[32] = static_cast<std::uint8_t>(c.scaleByte);
        data.settingBytes[21] = static_cast<std::uint8_t>(c.doubleSmall);
        data.settingNumbers[16] = static_cast<std::int16_t>(c.width);
        data.settingNumbers[17] = static_cast<std::int16_t>(c.height);
        const ScreenGeometry g = ComputeScreenGeometry(data, c.desktop, 32);
        SCOPED_TRACE(c.tileByte * 1000 + c.rate);
        EXPECT_EQ(g.colorDepth, c.expected.colorDepth);
        EXPECT_EQ(g.tileSize, c.expected.tileSize);
        EXPECT_EQ(g.windowScale, c.expected.windowScale);
        EXPECT_EQ(g.width, c.expected.width);
        EXPECT_EQ(g.height, c.expected.height);
        EXPECT_EQ(g.frameMultiplier, c.expected.frameMultiplier);
    }
}

class StartUpTitleTest : public testing::Test {
  protected:
    void SetUp() override {
        language_ = UiLanguage;
        saved_ = TheBasicData;
        UiLanguage = 0;
        TitleGaugeShown = 0;
        TheBasicData = Game_BasicData();
        TheBasicData.settingTexts[0] = "勇者";
        TheBasicData.settingTexts[8] = " Ver1";
    }
    void TearDown() override {
        UiLanguage = language_;
        TheBasicData = saved_;
        TitleGaugeShown = 0;
    }
    std::int32_t language_ = 1;
    Game_BasicData saved_;
};

TEST_F(StartUpTitleTest, BuiltInTitlesAndGauge) {
    EXPECT_EQ(FormatWindowTitle(-1, 1), "勇者 Ver1　 　 F4:画面変更 / F8:情報変更");
    EXPECT_EQ(FormatWindowTitle(3, 0), "起動中です、初期化処理を行っています ■ ■ ■ □   ");
    EXPECT_EQ(FormatWindowTitle(0, 1),
              "起動中です、初期化処理を行っています □ □ □ □   【ソフトウェアモード】");
    EXPECT_EQ(FormatWindowTitle(4, 0), "起動中です、初期化処理を行っています ■ ■ ■ ■   ");
}

TEST_F(StartUpTitleTest, TemplatesOfUtf8GameData) {
    TheBasicData.utf8 = 1;
    TheBasicData.settingTexts[11] = "<TITLE>読込<GUAGE><SOFT>";
    TheBasicData.settingTexts[12] = "<TITLE><TITLE_PLUS><SOFT>!";
    EXPECT_EQ(FormatWindowTitle(-1, 1), "勇者 Ver1!");
    EXPECT_EQ(FormatWindowTitle(2, 1), "勇者読込■ ■ □ □ 【ソフトウェアモード】");
    // A template without the gauge shows none.
    TitleGaugeShown = 0;
    TheBasicData.settingTexts[11] = "<TITLE>...";
    EXPECT_EQ(FormatWindowTitle(2, 0), "勇者...");
    // Code-page game data never uses its templates.
    TheBasicData.utf8 = 0;
    EXPECT_EQ(FormatWindowTitle(1, 0), "起動中です、初期化処理を行っています ■ □ □ □   ");
}

}  // namespace
