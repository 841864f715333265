#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"
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

// Decoding a damaged file refuses it with a message that names it and leaves it exactly as it
// was: the ".broken" rename is the player's, and the message is the tool's own, whatever language
// a "Game.dat" read before asked for.
TEST_F(DatabaseJsonTest, DamagedFilesAreRefusedAndLeftAlone) {
    Json doc{{"kind", "database"},
             {"form", "scrambled"},
             {"seeds", {9, 8, 7}},
             {"data", gamedata::ToJson(gamedata::MakeSampleDatabase(kUserDatabase, 3, 5))}};
    const std::string base = (dir / "DataBase").string();
    WriteFiles(doc, base);
    std::vector<std::uint8_t> dat;
    ASSERT_TRUE(ReadWholeDataFile(base + ".dat", dat));
    dat[40] ^= 0x20;
    ASSERT_TRUE(gamedata::SaveBytes(base + ".dat", dat));
    UiLanguage = 0;
    std::string message;
    try {
        gamedata::DecodeDatabase(base + ".dat");
    } catch (const std::runtime_error& e) {
        message = e.what();
    }
    UiLanguage = 1;
    EXPECT_NE(message.find(base + ".dat"), std::string::npos) << message;
    EXPECT_NE(message.find("damaged"), std::string::npos) << message;
    EXPECT_NE(message.find("left unchanged"), std::string::npos) << message;
    std::vector<std::uint8_t> after;
    ASSERT_TRUE(ReadWholeDataFile(base + ".dat", after));
    EXPECT_EQ(after, dat);
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        EXPECT_EQ(entry.path().string().find(".broken"), std::string::npos) << entry.path();
    }

    // A file cut short through DecodeFile is named by the name given.
    auto game = gamedata::EncodeDocument(Json{{"kind", "basic"}, {"data", Json::object()}});
    game.resize(14);
    try {
        gamedata::DecodeFile(game, "basic", "Data/BasicData/Game.dat");
        ADD_FAILURE() << "a cut Game.dat was read";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Data/BasicData/Game.dat", 0), 0u) << e.what();
    }
}
