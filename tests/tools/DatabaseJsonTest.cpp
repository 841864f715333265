#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "runtime/data/DataFileIo.h"
#include "tools/gamedata/GameDataJson.h"
#include "tools/gamedata/GameDataSamples.h"

using gamedata::Json;

namespace {

class DatabaseJsonTest : public ::testing::Test {
  protected:
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("velk_dbjson_" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void WriteFiles(const Json& doc, const std::string& output) {
        for (const auto& [path, bytes] : gamedata::EncodeDocumentFiles(doc, output)) {
            ASSERT_TRUE(gamedata::SaveBytes(path, bytes));
        }
    }
};

}  // namespace

TEST_F(DatabaseJsonTest, DatabasesSurviveJsonAndTheirFiles) {
    const Game_Database db = gamedata::MakeSampleDatabase(kVariableDatabase, 6, 77);
    Game_Database back;
    gamedata::FromJson(gamedata::ToJson(db), back);
    EXPECT_EQ(back, db);

    for (const char* form : {"plain", "protected", "scrambled"}) {
        Json doc{{"kind", "database"}, {"form", form},
                 {"seeds", {9, 8, 7}}, {"utf8", std::string(form) != "scrambled"},
                 {"version", 0xC2},    {"data", gamedata::ToJson(db)}};
        if (std::string(form) == "protected") doc["protectionBlock"] = {0x31, 2};
        const std::string base = (dir / "CDataBase").string();
        WriteFiles(doc, base + ".dat");
        EXPECT_TRUE(std::filesystem::exists(base + ".project"));
        EXPECT_EQ(gamedata::GuessKind(base + ".project", {}), "database");
        const Json decoded = gamedata::DecodeDatabase(base + ".project");
        EXPECT_EQ(decoded.at("form"), form);
        EXPECT_EQ(decoded.at("version"), 0xC2);
        Game_Database read;
        gamedata::FromJson(decoded.at("data"), read);
        read.kind = db.kind;
        EXPECT_EQ(read, db) << form;
        // Decoding and encoding again gives the same files.
        WriteFiles(decoded, (dir / "again").string());
        for (const char* ext : {".dat", ".project"}) {
            std::vector<std::uint8_t> a, b;
            ASSERT_TRUE(ReadWholeDataFile(base + ext, a));
            ASSERT_TRUE(ReadWholeDataFile((dir / "again").string() + ext, b));
            EXPECT_EQ(a, b) << form << ext;
        }
    }
    EXPECT_EQ(gamedata::GuessKind("x/BasicData/SysDataBase.dat", {}), "database");
    EXPECT_THROW(gamedata::DecodeDatabase((dir / "missing.dat").string()), std::runtime_error);
}

TEST_F(DatabaseJsonTest, ExampleEncodes) {
    std::ifstream in(std::string(VELK_SOURCE_DIR) + "/tools/gamedata/examples/DataBase.json");
    const Json doc = Json::parse(in);
    WriteFiles(doc, (dir / "DataBase").string());
    const Json decoded = gamedata::DecodeDatabase((dir / "DataBase.dat").string());
    EXPECT_EQ(decoded.at("data"), doc.at("data"));
}
