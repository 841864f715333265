#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_SaveManager.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataSave.h"

namespace {

class SaveDecodeTest : public ::testing::Test {
  protected:
    std::filesystem::path game =
        std::filesystem::temp_directory_path() / ("velk_savedecode_" + std::to_string(::getpid()));

    void SetUp() override {
        std::filesystem::create_directories(game / "BasicData");
        std::filesystem::create_directories(game / "Save");
        const char* bases[] = {"CDataBase", "DataBase", "SysDataBase"};
        const std::int32_t kinds[] = {kVariableDatabase, 0, kSystemDatabase};
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(
                gamedata::SaveDatabaseFiles((game / "BasicData" / bases[i]).string(),
                                            gamedata::MakeSampleDatabase(kinds[i], 4, 20 + i), {}));
        LoadDatabases(game.string() + "/", false);
        TheBasicData.settingTexts[0] = "Decoded";
    }
    void TearDown() override {
        TheBasicData = Game_BasicData();
        TheVariableDatabase = Game_Database();
        TheUserDatabase = Game_Database();
        TheSystemDatabase = Game_Database();
        VariableDatabaseProjectSource = {};
        DatabaseBaseline.clear();
        std::filesystem::remove_all(game);
    }

    std::string WriteSave(std::vector<std::uint8_t> bytes) {
        const std::string path = (game / "Save" / "SaveData01.sav").string();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path;
    }
};

TEST_F(SaveDecodeTest, ASaveDecodesThroughThePlayersReaders) {
    auto data = std::make_unique<Game_SaveData>();
    data->variableDatabase = TheVariableDatabase;
    data->mapState.mapId = 4;
    data->playerPart.player.x = 21;
    data->variables.strings = {"hello"};
    const std::string path = WriteSave(EncodeSaveFile(*data, {5, 6, 7}));
    EXPECT_EQ(gamedata::GuessGameFolder(path), game.string());
    const gamedata::Json doc = gamedata::DecodeSave(path, gamedata::GuessGameFolder(path));
    EXPECT_EQ(doc["title"], "Decoded");
    EXPECT_EQ(doc["format"], 140);
    EXPECT_EQ(doc["seeds"], gamedata::Json::array({5, 6, 7}));
    EXPECT_EQ(doc["map"]["id"], 4);
    EXPECT_EQ(doc["player"]["player"]["x"], 21);
    EXPECT_EQ(doc["variables"]["strings"][0], "hello");
    EXPECT_EQ(doc["player"]["followers"].size(), 5u);
    EXPECT_EQ(doc["variableDatabase"], gamedata::ToJson(data->variableDatabase));
}

TEST_F(SaveDecodeTest, ADamagedSaveIsRefusedAndLeftAsItIs) {
    auto data = std::make_unique<Game_SaveData>();
    data->variableDatabase = TheVariableDatabase;
    auto bytes = EncodeSaveFile(*data, {5, 6, 7});
    bytes.resize(bytes.size() - 30);
    const std::string path = WriteSave(bytes);
    EXPECT_THROW(gamedata::DecodeSave(path, game.string()), std::runtime_error);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}), bytes);
    EXPECT_FALSE(std::filesystem::exists(path + ".broken"));
    // Without the game's databases the save cannot be read either.
    EXPECT_THROW(gamedata::DecodeSave(path, (game / "nowhere").string()), std::runtime_error);
}

}  // namespace
