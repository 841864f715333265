#include <gtest/gtest.h>

#include <fstream>

#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "tools/gamedata/GameDataJson.h"
#include "tools/gamedata/GameDataSamples.h"

using gamedata::Json;

namespace {

Json Example(const std::string& name) {
    std::ifstream in(std::string(VELK_SOURCE_DIR) + "/tools/gamedata/examples/" + name);
    return Json::parse(in);
}

}  // namespace

// Every example decodes through the runtime's readers to a document that encodes to the same
// bytes again.
TEST(GameDataJsonTest, ExamplesRoundTripThroughTheReaders) {
    for (const char* name : {"Game.json", "Map001.json", "TileSetData.json", "ArchiveKey.json"}) {
        const auto bytes = gamedata::EncodeDocument(Example(name));
        const Json decoded = gamedata::DecodeFile(bytes, Example(name).at("kind"));
        EXPECT_EQ(gamedata::EncodeDocument(decoded), bytes) << name;
    }
}

TEST(GameDataJsonTest, RecordsSurviveJson) {
    const Game_MapData map = gamedata::MakeSampleMap(7, 4, 9, 3);
    Game_MapData back;
    gamedata::FromJson(gamedata::ToJson(map), back);
    EXPECT_EQ(back, map);
    Game_TileSetList list;
    list.tileSets = {gamedata::MakeSampleTileSet(10, 1)};
    Game_TileSetList listBack;
    gamedata::FromJson(gamedata::ToJson(list), listBack);
    EXPECT_EQ(listBack, list);
}

TEST(GameDataJsonTest, DamagedFilesAreRefusedWithoutTouchingAnything) {
    auto bytes = gamedata::EncodeDocument(Example("Map001.json"));
    bytes[40] ^= 0x10;
    EXPECT_THROW(gamedata::DecodeFile(bytes, "map"), std::runtime_error);
    bytes.resize(30);
    EXPECT_THROW(gamedata::DecodeFile(bytes, "map"), std::runtime_error);
    Json bad = Example("Map001.json");
    bad["form"] = "protected";
    EXPECT_THROW(gamedata::EncodeDocument(bad), std::exception);
    EXPECT_EQ(gamedata::GuessKind("x/BasicData/Game.dat", {}), "basic");
    EXPECT_EQ(gamedata::GuessKind("TileSetData.dat", {}), "tileset");
}
