#include <gtest/gtest.h>

#include <fstream>
#include <functional>

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

// Every header form of every kind keeps its seeds through decoding and encodes to the same bytes;
// the plain "Game.dat" header has no byte for its second seed, so that seed must be 0.
TEST(GameDataJsonTest, HeaderFormsAndSeedsRoundTrip) {
    struct Case {
        const char* example;
        const char* form;
        std::vector<int> seeds;
    };
    const Case cases[] = {
        {"Game.json", "plain", {0, 0, 0}},
        {"Game.json", "plain", {5, 0, 9}},
        {"Game.json", "protected", {5, 6, 7}},
        {"Game.json", "scrambled", {5, 6, 7}},
        {"TileSetData.json", "plain", {5, 6, 7}},
        {"TileSetData.json", "protected", {5, 6, 7}},
        {"TileSetData.json", "scrambled", {0, 0, 9}},
        {"Map001.json", "plain", {5, 6, 7}},
        {"Map001.json", "scrambled", {5, 0, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.example) + " " + c.form);
        Json doc = Example(c.example);
        doc["form"] = c.form;
        doc["seeds"] = c.seeds;
        const auto bytes = gamedata::EncodeDocument(doc);
        const Json decoded = gamedata::DecodeFile(bytes, doc.at("kind"));
        EXPECT_EQ(decoded.at("form"), c.form);
        EXPECT_EQ(decoded.at("seeds"), Json(c.seeds));
        EXPECT_EQ(
            decoded.at("data"),
            gamedata::DecodeFile(gamedata::EncodeDocument(decoded), doc.at("kind")).at("data"));
        EXPECT_EQ(gamedata::EncodeDocument(decoded), bytes);
    }
    Json noPlace = Example("Game.json");
    noPlace["form"] = "plain";
    noPlace["seeds"] = {0, 1, 0};
    EXPECT_THROW(gamedata::EncodeDocument(noPlace), std::invalid_argument);
}

// Text that is not UTF-8 (a move text is stored as it is; a UTF-8 file may hold any bytes) is
// printed as its bytes and encoded back to them.
TEST(GameDataJsonTest, TextsThatAreNotUtf8DecodeLosslessly) {
    Game_MapData map = gamedata::MakeSampleMap(2, 2, 1, 5);
    Game_MoveCommand move;
    move.code = 1;
    move.text = "\x82\xA0";  // code page 932
    map.events[0].pages[0].movement.commands = {move};
    gamedata::MapFileOptions codePage;
    codePage.utf8 = false;
    Game_MapData utf8Map = gamedata::MakeSampleMap(2, 2, 1, 6);
    utf8Map.events[0].name = "a\xFF";
    for (const auto& bytes :
         {gamedata::WriteMapFile(map, codePage), gamedata::WriteMapFile(utf8Map, {})}) {
        const Json decoded = gamedata::DecodeFile(bytes, "map");
        std::string printed;
        ASSERT_NO_THROW(printed = decoded.dump(2));
        EXPECT_NE(printed.find("\"textBytes\""), std::string::npos);
        EXPECT_EQ(gamedata::EncodeDocument(Json::parse(printed)), bytes);
    }
}

// What the format cannot hold is refused with a message naming the field, never written.
TEST(GameDataJsonTest, EncodeRefusesWhatTheFormatCannotHold) {
    const Json base = Example("Map001.json");
    auto page = [](Json& doc) -> Json& { return doc["data"]["events"][0]["pages"][0]; };
    struct Case {
        const char* field;
        std::function<void(Json&)> change;
    };
    const Case cases[] = {
        {"command arguments",
         [&](Json& d) { page(d)["commands"][0]["arguments"] = std::vector<int>(128, 1); }},
        {"command strings",
         [&](Json& d) { page(d)["commands"][0]["strings"] = std::vector<std::string>(128, "s"); }},
        {"move command text",
         [&](Json& d) { page(d)["movement"]["commands"][0]["text"] = std::string(255, 'm'); }},
        {"move command arguments",
         [&](Json& d) { page(d)["movement"]["commands"][0]["arguments"] = std::vector<int>(256); }},
        {"map name", [](Json& d) { d["data"]["name"] = std::string(512, 'n'); }},
        {"event name", [](Json& d) { d["data"]["events"][0]["name"] = std::string(600, 'n'); }},
        {"layers", [](Json& d) { d["data"]["layers"][0][0] = -1; }},
        {"tileSet", [](Json& d) { d["data"]["tileSet"] = 1e300; }},
        {"width", [](Json& d) { d["data"]["width"] = 2.5; }},
        {"direction", [&](Json& d) { page(d)["direction"] = 300; }},
        {"variableIds", [&](Json& d) { page(d)["condition"]["variableIds"][0] = 1LL << 40; }},
        {"seeds",
         [](Json& d) {
             d["seeds"] = {-1, 0, 0};
         }},
    };
    ASSERT_NO_THROW(gamedata::EncodeDocument(base));
    for (const Case& c : cases) {
        Json doc = base;
        c.change(doc);
        try {
            gamedata::EncodeDocument(doc);
            ADD_FAILURE() << c.field << " was written";
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.field), std::string::npos)
                << c.field << ": " << e.what();
        }
    }
}

// A map that stores no layers is described without them, however large it says it is.
TEST(GameDataJsonTest, MapsWithoutStoredLayersDecodeWithoutThem) {
    Game_MapData map = gamedata::MakeSampleMap(300, 200, 1, 3);
    gamedata::MapFileOptions options;
    options.storeLayers = false;
    const auto bytes = gamedata::WriteMapFile(map, options);
    const Json decoded = gamedata::DecodeFile(bytes, "map");
    EXPECT_EQ(decoded.at("storeLayers"), false);
    EXPECT_FALSE(decoded.at("data").contains("layers"));
    EXPECT_EQ(gamedata::EncodeDocument(decoded), bytes);
}
