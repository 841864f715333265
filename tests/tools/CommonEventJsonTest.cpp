#include <gtest/gtest.h>

#include <fstream>

#include "runtime/data/CommonEvent.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "tools/gamedata/GameDataJson.h"

using gamedata::DataFileForm;
using gamedata::DataFileOptions;
using gamedata::Json;

namespace {

Json Example(const std::string& name) {
    std::ifstream in(std::string(VELK_SOURCE_DIR) + "/tools/gamedata/examples/" + name);
    return Json::parse(in);
}

Game_CommonEvent Sample(int seed) {
    Game_CommonEvent e;
    e.name = "イベント" + std::to_string(seed);
    e.startByte = static_cast<std::uint8_t>(seed);
    Game_CommandList commands(3);
    commands[0].arguments = {121, 1600001, seed};
    commands[1].arguments = {101};
    commands[1].strings = {"文"};
    commands[2].arguments = {kEndOfListCode};
    e.commands.Replace(commands);
    e.byteList = {4, 5};
    e.byteListText = "b";
    e.argumentTexts[2] = "t";
    e.argumentTextLists[0] = {"x"};
    e.argumentNumberLists[9] = {1, 2, 3};
    e.extraTexts[5] = "e";
    e.noteText = "n";
    e.noteText2 = "m";
    e.returnVariable = seed;
    return e;
}

Game_CommonEventList ListOf(std::vector<Game_CommonEvent> events) {
    Game_CommonEventList list;
    list.events = std::move(events);
    for (std::size_t i = 0; i < list.events.size(); ++i) list.events[i].number = int(i);
    return list;
}

// Reads a file with the runtime's reader; the messages it shows are collected.
std::vector<std::string> Messages;

Game_CommonEventList ReadBack(const std::vector<std::uint8_t>& bytes, bool common) {
    DataFileServices saved = GetDataFileServices();
    GetDataFileServices().showMessageBox = [](const std::string& text, const std::string&) {
        Messages.push_back(text);
    };
    Game_CommonEventList list;
    TheDataFileBuffer.Load(bytes);
    if (common) {
        list.events.clear();
        EXPECT_GE(ParseCommonFile(list, 0), 0);
    } else {
        EXPECT_TRUE(ParseCommonEventFile(list, ""));
    }
    TheDataFileBuffer.Release();
    GetDataFileServices() = saved;
    return list;
}

}  // namespace

TEST(CommonEventJsonTest, ExamplesRoundTripThroughTheReaders) {
    for (const char* name : {"CommonEvent.json", "Menu.common.json"}) {
        const auto bytes = gamedata::EncodeDocument(Example(name));
        const Json decoded = gamedata::DecodeFile(bytes, Example(name).at("kind"));
        EXPECT_EQ(gamedata::EncodeDocument(Json::parse(decoded.dump())), bytes) << name;
        EXPECT_EQ(decoded.at("data"),
                  gamedata::DecodeFile(gamedata::EncodeDocument(decoded), Example(name).at("kind"))
                      .at("data"));
    }
    EXPECT_EQ(gamedata::GuessKind("BasicData/CommonEvent.dat", {}), "commonevent");
    EXPECT_EQ(gamedata::GuessKind("Extra/menu.common", {}), "common");
}

// Files another program could have written (odd section bytes, numbers, short and negative
// counts, every form, version and closing byte, code-page text, trailing bytes) read back equal
// to what was written and decode to descriptions that encode to the same bytes.
TEST(CommonEventJsonTest, EveryStoredFormReadsBackAndEncodesToItsBytes) {
    const Game_CommonEventList list = ListOf({Sample(1), Sample(2), Sample(3)});
    std::vector<DataFileOptions> cases(8);
    cases[1].form = DataFileForm::Protected;
    cases[1].seeds = {1, 2, 3};
    cases[1].protectionBlock = {9, 8};
    cases[2].form = DataFileForm::Scrambled;
    cases[2].seeds = {0, 0, 200};
    cases[2].versionByte = 0xC9;
    cases[2].closingByte = 0x8F;
    cases[3].utf8 = false;
    cases[3].versionByte = 0x8F;
    cases[4].stored.sectionBytes[0] = {0x95, 0x33};
    cases[4].stored.sectionBytes[2] = {0x8F, 0x90, 0x91, 0x92, 0x00};
    cases[5].stored.recordNumbers[1] = 77;
    cases[5].stored.recordCounts[{0, 0}] = 0;
    cases[5].stored.recordCounts[{1, 1}] = 3;
    cases[5].stored.recordCounts[{2, 5}] = -4;
    cases[6].trailingBytes = {1, 2, 3};
    cases[6].seeds = {0, 5, 0};
    cases[7].stored.sectionBytes[1] = {0x90, 0x7A};
    for (bool common : {false, true}) {
        for (std::size_t c = 0; c < cases.size(); ++c) {
            if (common && (cases[c].form != DataFileForm::Plain || cases[c].seeds[1] != 0)) {
                continue;
            }
            const std::vector<int> sections{5, 2, 5};
            const auto bytes = common ? gamedata::WriteCommonFile(list, sections, cases[c])
                                      : gamedata::WriteCommonEventFile(list, sections, cases[c]);
            Messages.clear();
            const Game_CommonEventList read = ReadBack(bytes, common);
            ASSERT_EQ(read.Count(), 3u) << c;
            // Record 1 stops after its second section.
            Game_CommonEvent second = list.events[1];
            second.extraTexts = Game_CommonEvent{}.extraTexts;
            second.noteText.clear();
            second.noteText2.clear();
            second.returnVariable = -1;
            EXPECT_EQ(read.events[0], list.events[0]) << c;
            EXPECT_EQ(read.events[1], second) << c;
            EXPECT_EQ(read.events[2], list.events[2]) << c;
            // Unknown section bytes show the version message; the records still read.
            EXPECT_EQ(Messages.size(), c == 4 ? 2u : c == 7 ? 1u : 0u) << c;
            const Json decoded = gamedata::DecodeFile(bytes, common ? "common" : "commonevent");
            EXPECT_EQ(gamedata::EncodeDocument(Json::parse(decoded.dump())), bytes)
                << c << " " << common << "\n"
                << decoded.dump(1).substr(0, 400);
        }
    }
}

TEST(CommonEventJsonTest, DamagedFilesAreRefused) {
    const auto good = gamedata::WriteCommonEventFile(ListOf({Sample(1)}), {}, {});
    for (std::size_t cut : {std::size_t{5}, std::size_t{12}, good.size() / 2, good.size() - 1}) {
        EXPECT_THROW(
            gamedata::DecodeFile(std::vector<std::uint8_t>(good.begin(), good.begin() + cut),
                                 "commonevent"),
            std::runtime_error)
            << cut;
    }
    auto common = gamedata::WriteCommonFile(ListOf({Sample(1)}), {}, {});
    common[2] = 0;
    EXPECT_THROW(gamedata::DecodeFile(common, "common"), std::runtime_error);
    Json bad = Example("Menu.common.json");
    bad["data"][0]["sections"] = 6;
    EXPECT_THROW(gamedata::EncodeDocument(bad), std::exception);
}
