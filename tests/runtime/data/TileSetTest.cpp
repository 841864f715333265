#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "runtime/data/TileSet.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

using gamedata::DataFileForm;
using gamedata::DataFileOptions;

namespace {

class TileSetTest : public DataFileTest {
  protected:
    bool Load(const std::vector<std::uint8_t>& bytes, Game_TileSetList& list) {
        std::filesystem::create_directories(dir / "BasicData");
        EXPECT_TRUE(gamedata::SaveBytes(PathOf("BasicData/TileSetData.dat"), bytes));
        return LoadTileSetData(list, dir.string() + "/");
    }
};

}  // namespace

TEST_F(TileSetTest, EveryGenerationAndFormReadsBackWidened) {
    Game_TileSetList written;
    written.tileSets = {gamedata::MakeSampleTileSet(40, 1), gamedata::MakeSampleTileSet(0, 2),
                        gamedata::MakeSampleTileSet(300, 3)};
    DataFileOptions plain, protectedForm, scrambled;
    plain.seeds = {0, 4, 0};
    protectedForm.form = DataFileForm::Protected;
    protectedForm.seeds = {11, 12, 13};
    protectedForm.protectionBlock = {1, 2, 3};
    scrambled.form = DataFileForm::Scrambled;
    scrambled.seeds = {250, 0, 1};
    scrambled.utf8 = false;
    for (int generation = 1; generation <= 4; ++generation) {
        for (const auto& options : {plain, protectedForm, scrambled}) {
            Game_TileSetList read;
            ASSERT_TRUE(Load(gamedata::WriteTileSetData(written, generation, options), read))
                << generation;
            ASSERT_EQ(read.Count(), 3u);
            for (std::size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(read.tileSets[i],
                          gamedata::ExpectedTileSetAfterGeneration(written.tileSets[i], generation))
                    << "generation " << generation << " tileset " << i;
            }
        }
    }
    EXPECT_TRUE(DataRecorder::messageBoxes.empty());
    EXPECT_TRUE(DataRecorder::reports.empty());
}

TEST_F(TileSetTest, GenerationOneWideningByHand) {
    // 40 chip tags and 40 byte flags (8 autotiles and 32 base chips), written by hand.
    gamedata::ByteWriter out;
    out.bytes = {0, 'V', 0, 0, 'E', 'L', 0, 'K', 'M', 0};
    out.U8(0xCF);
    out.I32(1);
    for (int i = 0; i < 9; ++i) out.String(i == 0 ? "old" : "img" + std::to_string(i));
    out.U8(0xFF);
    out.I32(40);
    for (int i = 0; i < 40; ++i) out.U8(9);
    out.U8(0);
    out.I32(40);
    for (int i = 0; i < 40; ++i) out.U8(i == 0 || i == 39 ? 0x10 : 0x01);
    out.U8(0xCF);
    Game_TileSetList read;
    ASSERT_TRUE(Load(out.bytes, read));
    const Game_TileSet& t = read.tileSets[0];
    ASSERT_EQ(t.chipTags.size(), 64u);
    ASSERT_EQ(t.chipFlags.size(), 64u);
    for (int i = 8; i < 32; ++i) {
        EXPECT_EQ(t.chipTags[i], 0) << i;
        EXPECT_EQ(t.chipFlags[i], 0) << i;
    }
    EXPECT_EQ(t.chipFlags[0], 0x210);
    EXPECT_EQ(t.chipFlags[63], 0x210);
    EXPECT_EQ(t.chipFlags[32], 0x01);
    EXPECT_EQ(t.chipTags[32], 9);
    EXPECT_EQ(t.imageFiles[7], "img8");
    EXPECT_EQ(t.imageFiles[8], "");
}

TEST_F(TileSetTest, RefusedFiles) {
    Game_TileSetList written;
    written.tileSets = {gamedata::MakeSampleTileSet(8, 4)};
    DataFileOptions badVersion, badClosing;
    badVersion.versionByte = 0xD3;
    badClosing.closingByte = 0xD2;
    Game_TileSetList read;
    EXPECT_FALSE(Load(gamedata::WriteTileSetData(written, 4, badVersion), read));
    EXPECT_TRUE(DataRecorder::messageBoxes.empty());
    EXPECT_FALSE(Load(gamedata::WriteTileSetData(written, 4, badClosing), read));
    EXPECT_EQ(DataRecorder::messageBoxes,
              std::vector<std::string>{
                  "ファイル読み込みエラー|タイルセットデータの読み込みに失敗しました"});
    EXPECT_TRUE(DataRecorder::exitCodes.empty());
    std::filesystem::remove_all(dir / "BasicData");
    EXPECT_FALSE(LoadTileSetData(read, dir.string() + "/"));
}

TEST_F(TileSetTest, WrongSeparatorShowsAMessageAndReadingGoesOn) {
    Game_TileSetList written;
    written.tileSets = {gamedata::MakeSampleTileSet(8, 5)};
    auto bytes = gamedata::WriteTileSetData(written, 4, {});
    // The separator follows the version, count, name and 32 image names.
    std::size_t at = 10 + 1 + 4 + 4 + written.tileSets[0].name.size() + 1;
    for (const auto& file : written.tileSets[0].imageFiles) at += 4 + file.size() + 1;
    ASSERT_EQ(bytes[at], 0xFF);
    bytes[at] = 0x00;
    Game_TileSetList read;
    ASSERT_TRUE(Load(bytes, read));
    EXPECT_EQ(read.tileSets[0], written.tileSets[0]);
    EXPECT_EQ(DataRecorder::messageBoxes,
              std::vector<std::string>{
                  "|タイルセットのロードに失敗しました、ファイル破損の可能性があります"});
}

TEST_F(TileSetTest, ShortChipListsAndHostileCountsAreDamage) {
    Game_TileSet tooShort;
    tooShort.chipTags.assign(12, 0);  // generation 3 needs 16
    tooShort.chipFlags.assign(12, 0);
    Game_TileSetList shortList;
    shortList.tileSets = {tooShort};
    Game_TileSetList oneSet;
    oneSet.tileSets = {gamedata::MakeSampleTileSet(1, 6)};
    auto hugeCount = gamedata::WriteTileSetData(oneSet, 4, {});
    hugeCount[11] = hugeCount[12] = hugeCount[13] = 0xFF, hugeCount[14] = 0x7F;
    auto negativeCount = hugeCount;
    negativeCount[14] = 0xFF;
    auto cut = gamedata::WriteTileSetData(oneSet, 4, {});
    cut.resize(cut.size() - 9);
    for (const auto& bytes :
         {gamedata::WriteTileSetData(shortList, 3, {}), hugeCount, negativeCount, cut}) {
        StartCase();
        Game_TileSetList read;
        EXPECT_FALSE(Load(bytes, read));
        EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1});
        EXPECT_TRUE(std::filesystem::exists(PathOf("BasicData/TileSetData.dat.broken")));
    }
}

TEST_F(TileSetTest, ChipNumbersAndTilesetLookup) {
    const std::pair<std::int32_t, std::int32_t> valid[] = {
        {0, 0}, {7, 7}, {8, 32}, {100, 124}, {-11, 8}, {-18, 15}, {-19, 16}, {-34, 31}};
    for (auto [n, expected] : valid) EXPECT_EQ(ConvertChipNumber(n), expected) << n;
    EXPECT_TRUE(DataRecorder::reports.empty());
    for (std::int32_t n : {-5, -1, -10, -35, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(ConvertChipNumber(n), 0) << n;
    }
    ASSERT_EQ(DataRecorder::reports.size(), 6u);
    EXPECT_EQ(DataRecorder::reports[0],
              "チップ番号変換に失敗しました、開発者に連絡してください|"
              "変換しようとしたチップ番号 [-5]|LOCATION");
    Game_TileSetList list;
    EXPECT_NE(list.Find(0), nullptr);
    EXPECT_EQ(list.Find(1), nullptr);
    EXPECT_EQ(list.Find(-1), nullptr);
    const Game_TileSet fresh;
    EXPECT_EQ(fresh.chipTags[31], 31);
    EXPECT_EQ(fresh.chipFlags.size(), 32u);
}
