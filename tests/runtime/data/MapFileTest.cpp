#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "DataTestSupport.h"
#include "runtime/data/MapData.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

using gamedata::MapFileOptions;

namespace {

std::vector<std::uint8_t> FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class MapFileTest : public DataFileTest {
  protected:
    // Writes `map` as "map.mps" and reads it back.
    bool RoundTrip(const Game_MapData& map, const MapFileOptions& options, Game_MapData& read) {
        EXPECT_TRUE(gamedata::SaveBytes(PathOf("map.mps"), gamedata::WriteMapFile(map, options)));
        return ReadMapFile(read, "map.mps", dir.string() + "/");
    }
};

}  // namespace

TEST_F(MapFileTest, EveryFormReadsBackEqual) {
    const Game_MapData map = gamedata::MakeSampleMap(13, 9, 12, 5);
    GameCharSetIndex = 1;
    struct Case {
        const char* what;
        MapFileOptions options;
    };
    MapFileOptions plain, plainChecked, scrambled, codePage;
    plainChecked.seeds = {0, 7, 0};
    scrambled.scrambled = true;
    scrambled.seeds = {3, 250, 91};
    scrambled.formatLetter = 'e';
    codePage.utf8 = false;
    codePage.scrambled = true;
    codePage.seeds = {1, 2, 3};
    for (const Case& c : {Case{"plain", plain}, Case{"plain with a check", plainChecked},
                          Case{"scrambled", scrambled}, Case{"code page", codePage}}) {
        Game_MapData read;
        ASSERT_TRUE(RoundTrip(map, c.options, read)) << c.what;
        EXPECT_EQ(read, map) << c.what;
    }
    EXPECT_TRUE(DataRecorder::reports.empty());
    EXPECT_TRUE(DataRecorder::messageBoxes.empty());
}

TEST_F(MapFileTest, LayersMarkedAbsentReadEmptyAndEventsFollow) {
    Game_MapData map = gamedata::MakeSampleMap(4, 3, 2, 9);
    MapFileOptions options;
    options.storeLayers = false;
    Game_MapData read;
    ASSERT_TRUE(RoundTrip(map, options, read));
    map.ResetLayers();
    EXPECT_EQ(read, map);
    for (const auto& layer : read.layers) EXPECT_EQ(layer.size(), 12u);
}

TEST_F(MapFileTest, OneByOneMapStoresThreeTiles) {
    Game_MapData map = gamedata::MakeSampleMap(1, 1, 0, 2);
    map.layers[0][0] = 5, map.layers[1][0] = 100000, map.layers[2][0] = 301234;
    const auto bytes = gamedata::WriteMapFile(map, {});
    // Header, name, four int32s, then three tile ids and the closing byte.
    const std::size_t nameBytes = 4 + map.header.name.size() + 1;
    EXPECT_EQ(bytes.size(), 25 + nameBytes + 16 + 12 + 1);
    Game_MapData read;
    ASSERT_TRUE(RoundTrip(map, {}, read));
    EXPECT_EQ(read.Tile(2, 0, 0), 301234);
}

TEST_F(MapFileTest, EventsAreSortedByIdKeepingFileOrderForEqualIds) {
    Game_MapData map;
    map.header.width = map.header.height = 2;
    map.ResetLayers();
    const std::int32_t ids[] = {5, 2, 9, 2};
    for (int i = 0; i < 4; ++i) {
        map.events.push_back(gamedata::MakeSampleEvent(ids[i], 1, 100 + i));
        map.events.back().name = "file order " + std::to_string(i);
    }
    Game_MapData read;
    ASSERT_TRUE(RoundTrip(map, {}, read));
    ASSERT_EQ(read.events.size(), 4u);
    EXPECT_EQ(read.events[0].name, "file order 1");
    EXPECT_EQ(read.events[1].name, "file order 3");
    EXPECT_EQ(read.events[2].id, 5);
    EXPECT_EQ(read.events[3].id, 9);
    EXPECT_EQ(read.FindEventIndex(2), 0);
    EXPECT_EQ(read.FindEventIndex(9), 3);
    EXPECT_EQ(read.FindEventIndex(4), -1);
}

TEST_F(MapFileTest, MissingUnnamedAndForeignFilesShowTheirMessages) {
    Game_MapData read;
    EXPECT_FALSE(ReadMapFile(read, "", dir.string() + "/"));
    EXPECT_FALSE(ReadMapFile(read, "none.mps", dir.string() + "/"));
    MapFileOptions letterG;
    letterG.formatLetter = 'g';
    EXPECT_FALSE(RoundTrip(gamedata::MakeSampleMap(2, 2, 1, 1), letterG, read));
    ASSERT_EQ(DataRecorder::messageBoxes.size(), 3u);
    EXPECT_EQ(DataRecorder::messageBoxes[0],
              "読み込みエラー|マップファイル名が設定されていないマップに移動しようとしました。");
    EXPECT_EQ(DataRecorder::messageBoxes[1],
              "読み込みエラー|マップファイル " + PathOf("none.mps") + " がありません");
    EXPECT_EQ(DataRecorder::messageBoxes[2],
              "マップ移動エラー|エラー：マップデータ map.mps が破損しているか、\r\n"
              "マップファイル形式ではありません。");
    EXPECT_TRUE(DataRecorder::exitCodes.empty());
    EXPECT_TRUE(std::filesystem::exists(PathOf("map.mps")));
}

TEST_F(MapFileTest, DamagedFilesAreMovedAsideReportedAndEndTheProgram) {
    const Game_MapData map = gamedata::MakeSampleMap(6, 5, 4, 3);
    MapFileOptions options;
    options.scrambled = true;
    options.seeds = {9, 8, 7};
    const auto good = gamedata::WriteMapFile(map, options);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    auto flipped = good;
    flipped[200] ^= 0x40;
    auto lastChecked = good;
    lastChecked.back() ^= 0x01;  // the closing byte is inside the checked range
    const Case cases[] = {
        {"flipped byte", flipped},
        {"closing byte changed", lastChecked},
        {"cut short", std::vector<std::uint8_t>(good.begin(), good.begin() + good.size() / 2)},
        {"cut inside the header", std::vector<std::uint8_t>(good.begin(), good.begin() + 12)},
    };
    for (const Case& c : cases) {
        StartCase();
        ASSERT_TRUE(gamedata::SaveBytes(PathOf("map.mps"), c.bytes));
        Game_MapData read;
        EXPECT_FALSE(ReadMapFile(read, "map.mps", dir.string() + "/")) << c.what;
        EXPECT_FALSE(std::filesystem::exists(PathOf("map.mps"))) << c.what;
        EXPECT_EQ(FileBytes(PathOf("map.mps.broken")), c.bytes) << c.what;
        ASSERT_EQ(DataRecorder::reports.size(), 1u) << c.what;
        EXPECT_EQ(
            DataRecorder::reports[0],
            "ファイル " + PathOf("map.mps") +
                " が改竄されたか、破損している可能性があります。\nファイル名を変更しました。||");
        EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1}) << c.what;
    }
}

TEST_F(MapFileTest, AnExistingBrokenFileIsKept) {
    MapFileOptions options;
    options.seeds = {1, 0, 0};
    auto bytes = gamedata::WriteMapFile(gamedata::MakeSampleMap(3, 3, 1, 4), options);
    bytes[40] ^= 1;
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("map.mps"), bytes));
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("map.mps.broken"), {'o', 'l', 'd'}));
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("map.mps.brokenx"), {'o', 'l', 'd', '2'}));
    Game_MapData read;
    EXPECT_FALSE(ReadMapFile(read, "map.mps", dir.string() + "/"));
    EXPECT_EQ(FileBytes(PathOf("map.mps.broken")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(FileBytes(PathOf("map.mps.brokenx")),
              (std::vector<std::uint8_t>{'o', 'l', 'd', '2'}));
    EXPECT_EQ(FileBytes(PathOf("map.mps.brokenxx")), bytes);
    EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1});
}

TEST_F(MapFileTest, ZeroSeedsAreNeverCheckedAndTrailingBytesAreNotCovered) {
    const Game_MapData map = gamedata::MakeSampleMap(3, 2, 2, 8);
    auto unchecked = gamedata::WriteMapFile(map, {});
    unchecked[2] ^= 0xFF;  // the check byte of a file without seeds means nothing
    MapFileOptions trailing;
    trailing.scrambled = true;
    trailing.seeds = {4, 5, 6};
    trailing.trailingBytes = {1, 2, 3, 4, 5};
    for (const auto& bytes : {unchecked, gamedata::WriteMapFile(map, trailing)}) {
        ASSERT_TRUE(gamedata::SaveBytes(PathOf("map.mps"), bytes));
        Game_MapData read;
        EXPECT_TRUE(ReadMapFile(read, "map.mps", dir.string() + "/"));
        EXPECT_EQ(read, map);
    }
    EXPECT_TRUE(DataRecorder::reports.empty());
}

TEST_F(MapFileTest, HostileCountsAreRefusedAsDamage) {
    // A plain map without seeds, then the fields the reader must not trust.
    Game_MapData map;
    map.header.width = map.header.height = 2;
    map.ResetLayers();
    map.events.push_back(gamedata::MakeSampleEvent(1, 1, 1));
    const auto good = gamedata::WriteMapFile(map, {});
    const std::size_t headerInts = 25 + 4 + map.header.name.size() + 1;  // tileset number
    auto patch = [&](std::size_t at, std::int32_t value) {
        auto bytes = good;
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        return bytes;
    };
    const std::size_t eventStart = headerInts + 16 + 3 * 4 * 4;
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"huge width", patch(headerInts + 4, 0x7FFFFFFF)},
        {"negative height", patch(headerInts + 8, -3)},
        {"huge event count", patch(headerInts + 12, 0x40000000)},
        {"negative event count", patch(headerInts + 12, -1)},
        {"name length beyond the file", patch(25, 0x10000000)},
        {"name longer than its field", patch(25, 600)},
        {"huge page count",
         patch(eventStart + 1 + 4 + 4 + 4 + map.events[0].name.size() + 1 + 8, 0x7FFFFFFF)},
    };
    for (const Case& c : cases) {
        StartCase();
        ASSERT_TRUE(gamedata::SaveBytes(PathOf("map.mps"), c.bytes));
        Game_MapData read;
        EXPECT_FALSE(ReadMapFile(read, "map.mps", dir.string() + "/")) << c.what;
        EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1}) << c.what;
        EXPECT_TRUE(std::filesystem::exists(PathOf("map.mps.broken"))) << c.what;
    }
}

TEST_F(MapFileTest, LayersAndNamesMustFitWhatTheFileHolds) {
    Game_MapData map;
    map.header.name = std::string(511, 'a');
    map.header.width = map.header.height = 1;
    map.ResetLayers();
    const auto good = gamedata::WriteMapFile(map, {});
    const std::size_t nameAt = 25 + 4;
    const std::size_t sizeAt = nameAt + 512 + 4;  // width, then height
    // A 512-byte name without its terminating zero needs a field of 513 bytes.
    auto unterminated = good;
    unterminated[nameAt + 511] = 'a';
    // 2,048 x 2,048 cells whose layers the few bytes left cannot hold.
    auto huge = good;
    for (std::size_t at : {sizeAt, sizeAt + 4}) {
        huge[at] = 0, huge[at + 1] = 8, huge[at + 2] = 0, huge[at + 3] = 0;
    }
    for (const auto& bytes : {unterminated, huge}) {
        StartCase();
        ASSERT_TRUE(gamedata::SaveBytes(PathOf("map.mps"), bytes));
        Game_MapData read;
        EXPECT_FALSE(ReadMapFile(read, "map.mps", dir.string() + "/"));
        EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1});
        // Refused before any layer was made.
        for (const auto& layer : read.layers) EXPECT_TRUE(layer.empty());
    }
    StartCase();
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("map.mps"), good));
    Game_MapData read;
    EXPECT_TRUE(ReadMapFile(read, "map.mps", dir.string() + "/"));
    EXPECT_EQ(read.header.name, map.header.name);
}

TEST_F(DataFileTest, MapDataDefaultsAndMoveRefusalBound) {
    const Game_MapData map;
    EXPECT_EQ(map.header.name, "なし");
    EXPECT_EQ(map.header.width, 20);
    EXPECT_EQ(map.header.height, 15);
    EXPECT_EQ(map.layers[1].size(), 300u);
    EXPECT_EQ(map.Tile(1, 19, 14), kNoTile);
    EXPECT_TRUE(map.events.empty());
    // A file that cannot be moved (its folder is gone) is given up after a bounded number of
    // names.
    EXPECT_EQ(MoveDamagedFile("/nonexistent-velk-folder/map.mps"), "");
    EXPECT_EQ(MoveDamagedFile(""), "");
}
