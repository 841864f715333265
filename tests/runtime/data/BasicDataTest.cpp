#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "runtime/data/BasicData.h"
#include "tools/gamedata/GameDataWriter.h"

using gamedata::DataFileForm;
using gamedata::DataFileOptions;

namespace {

class BasicDataTest : public DataFileTest {
  protected:
    int Read(const Game_BasicData& written, const DataFileOptions& options, Game_BasicData& read,
             bool messages = false) {
        EXPECT_TRUE(
            gamedata::SaveBytes(PathOf("Game.dat"), gamedata::WriteBasicData(written, options)));
        return ReadBasicData(PathOf("Game.dat"), messages, read);
    }

    // A record whose values survive the reader's corrections unchanged.
    static Game_BasicData Sample() {
        Game_BasicData d;
        for (std::size_t i = 0; i < d.settingBytes.size(); ++i) {
            d.settingBytes[i] = static_cast<std::uint8_t>(i * 3 + 1);
        }
        d.settingBytes[17] = 1;  // Japanese
        d.settingBytes[20] = 0;
        d.settingBytes[21] = 1;  // the screen size comes from the numbers
        for (std::size_t i = 0; i < d.settingNumbers.size(); ++i) {
            d.settingNumbers[i] = static_cast<std::int16_t>(i + 2);
        }
        d.settingNumbers[15] = 250;
        d.settingNumbers[16] = 800;
        d.settingNumbers[17] = 600;
        d.settingNumbers[18] = 300;
        d.settingBytes.push_back(77);  // a file may carry more settings than the defaults
        d.settingNumbers.push_back(-9);
        for (std::size_t i = 0; i < d.settingTexts.size(); ++i) {
            d.settingTexts[i] = "text " + std::to_string(i) + " 日本語";
        }
        return d;
    }
};

}  // namespace

TEST_F(BasicDataTest, EveryHeaderFormReadsBackEqual) {
    Game_BasicData written = Sample();
    DataFileOptions plain, seededPlain, protectedForm, scrambled, codePage;
    // The plain form stores the first and third seeds; its second has no byte of its own.
    seededPlain.seeds = {5, 0, 9};
    protectedForm.form = DataFileForm::Protected;
    protectedForm.seeds = {5, 6, 7};
    protectedForm.protectionBlock = {9, 8, 7, 6, 5, 4};
    scrambled.form = DataFileForm::Scrambled;
    scrambled.seeds = {31, 0, 200};
    codePage.form = DataFileForm::Scrambled;
    codePage.seeds = {1, 2, 3};
    codePage.utf8 = false;
    for (const auto& options : {plain, seededPlain, protectedForm, scrambled, codePage}) {
        Game_BasicData read;
        ASSERT_EQ(Read(written, options, read), 1);
        Game_BasicData expected = written;
        expected.utf8 = options.utf8 ? 1 : 0;
        EXPECT_EQ(read, expected);
    }
    EXPECT_TRUE(DataRecorder::messageBoxes.empty());
    EXPECT_TRUE(DataRecorder::reports.empty());
    DataFileOptions noPlace;
    noPlace.seeds = {0, 1, 0};
    EXPECT_THROW(gamedata::WriteBasicData(written, noPlace), std::invalid_argument);
}

TEST_F(BasicDataTest, ShortFileLeavesTheRestAtDefaults) {
    Game_BasicData written;
    written.settingBytes.resize(20);
    written.settingBytes[17] = 1;
    written.settingBytes[21] = 1;
    written.settingNumbers.resize(5);
    written.settingTexts.resize(1);
    written.settingTexts[0] = "Title";
    Game_BasicData read;
    UiLanguage = 1;
    ASSERT_EQ(Read(written, {}, read), 1);
    EXPECT_EQ(read.settingBytes.size(), 35u);
    EXPECT_EQ(read.settingBytes[22], 1);
    EXPECT_EQ(read.settingBytes[32], 1);
    EXPECT_EQ(UiLanguage, 0);  // from the default byte 20
    EXPECT_EQ(read.Title(), "Title");
    EXPECT_EQ(read.ScreenWidth(), 640);
    EXPECT_EQ(read.GameDataVersion(), 10000);  // a UTF-8 file keeps it
}

TEST_F(BasicDataTest, CharacterSetAndLanguage) {
    // Every character-set byte: 0 reads as set 1 and keeps the language byte; 1 keeps it too;
    // 2 and above force English, those outside the locale table reading their text as set 1.
    for (int charSet = 0; charSet < 256; ++charSet) {
        // Sets 0 and 1 meet both language bytes, the others the Japanese one they override.
        for (const std::uint8_t languageByte : {0, 1}) {
            if (charSet >= 2 && languageByte == 1) continue;
            Game_BasicData written;
            written.settingBytes[17] = static_cast<std::uint8_t>(charSet);
            written.settingBytes[20] = languageByte;
            Game_BasicData read;
            ASSERT_EQ(Read(written, {}, read), 1);
            const std::int32_t index = charSet >= 1 && charSet < kGameCharSetCount ? charSet : 1;
            EXPECT_EQ(GameCharSetIndex, index) << charSet;
            EXPECT_EQ(UiLanguage, charSet >= 2 ? 1 : languageByte) << charSet;
        }
    }
}

TEST_F(BasicDataTest, ScreenAndVersionCorrections) {
    struct Case {
        std::int16_t width, height;
        std::uint8_t sizeSwitch, tileSize;
        bool utf8;
        std::int16_t version;
        std::int16_t expectWidth, expectHeight, expectVersion;
    };
    const Case cases[] = {
        {2000, 50, 1, 32, true, 10000, 1920, 100, 10000},
        {99, 1441, 1, 32, true, 500, 100, 1440, 500},
        {800, 600, 0, 16, true, 10000, 320, 240, 10000},
        {800, 600, 1, 16, false, 10000, 800, 600, 229},
        {800, 600, 1, 16, false, 9999, 800, 600, 9999},
    };
    for (const Case& c : cases) {
        Game_BasicData written;
        written.settingNumbers[16] = c.width;
        written.settingNumbers[17] = c.height;
        written.settingBytes[21] = c.sizeSwitch;
        written.settingBytes[0] = c.tileSize;
        written.settingNumbers[15] = c.version;
        written.settingNumbers[3] = 0;
        DataFileOptions options;
        options.utf8 = c.utf8;
        Game_BasicData read;
        ASSERT_EQ(Read(written, options, read), 1);
        EXPECT_EQ(read.ScreenWidth(), c.expectWidth);
        EXPECT_EQ(read.ScreenHeight(), c.expectHeight);
        EXPECT_EQ(read.GameDataVersion(), c.expectVersion);
        EXPECT_EQ(read.settingNumbers[3], 1);  // step sizes are at least 1
    }
}

TEST_F(BasicDataTest, NewerDataWarnsAndStillReads) {
    Game_BasicData written;
    written.settingNumbers[18] = 315;
    Game_BasicData read;
    ASSERT_EQ(Read(written, {}, read, true), 1);
    ASSERT_EQ(DataRecorder::messageBoxes.size(), 1u);
    EXPECT_NE(DataRecorder::messageBoxes[0].find("ゲームデータのバージョン:3.15\r\n"
                                                 "Game.exeのバージョン:3.14"),
              std::string::npos);
    EXPECT_EQ(DataRecorder::messageBoxes[0].rfind("エラー|", 0), 0u);
    EXPECT_EQ(ReadBasicData(PathOf("Game.dat"), false, read), 1);
    EXPECT_EQ(DataRecorder::messageBoxes.size(), 1u);
}

TEST_F(BasicDataTest, WrongVersionByteFailsAfterTheSettingsWereTaken) {
    Game_BasicData written;
    written.settingBytes[4] = 30;
    DataFileOptions options;
    options.versionByte = 0xC4;
    Game_BasicData read;
    EXPECT_EQ(Read(written, options, read), 0);
    EXPECT_EQ(read.FrameRate(), 30);
    ASSERT_EQ(DataRecorder::reports.size(), 1u);
    EXPECT_EQ(DataRecorder::reports[0],
              "基本情報データ Game.dat が破損しているか、この実行ファイルが古くて読み込めません||");
    EXPECT_TRUE(DataRecorder::exitCodes.empty());
    options.versionByte = 0xC2;
    EXPECT_EQ(Read(written, options, read), 1);
}

TEST_F(BasicDataTest, MissingAndDamagedFiles) {
    Game_BasicData read;
    EXPECT_EQ(ReadBasicData(PathOf("Game.dat"), false, read), 0);
    EXPECT_TRUE(DataRecorder::messageBoxes.empty());
    EXPECT_EQ(ReadBasicData(PathOf("Game.dat"), true, read), 0);
    ASSERT_EQ(DataRecorder::messageBoxes.size(), 1u);
    EXPECT_EQ(DataRecorder::messageBoxes[0].rfind(
                  "読み込みエラー|基本情報データ " + PathOf("Game.dat") + " が見つかりません。", 0),
              0u);
    // Cut inside its texts: moved aside and reported like a failed check.
    auto bytes = gamedata::WriteBasicData(Game_BasicData{}, {});
    bytes.resize(60);
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("Game.dat"), bytes));
    EXPECT_EQ(ReadBasicData(PathOf("Game.dat"), true, read), 0);
    EXPECT_TRUE(std::filesystem::exists(PathOf("Game.dat.broken")));
    EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1});
}
