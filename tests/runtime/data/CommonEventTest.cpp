#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "runtime/data/CommonEvent.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/ShellGlobals.h"
#include "tools/gamedata/GameDataWriter.h"

using gamedata::DataFileForm;
using gamedata::DataFileOptions;

namespace {

const char kVersionMessage[] =
    "読み込み失敗|コモンイベントファイルの読み込みに失敗しました。\r\nデータのバージョンが違う可能"
    "性があります、最新ツールでロードしてください。";

Game_CommandList Commands(std::initializer_list<std::int32_t> codes) {
    Game_CommandList list;
    for (std::int32_t code : codes) {
        Game_EventCommand command;
        command.arguments = {code, 7};
        command.strings = {"s" + std::to_string(code)};
        list.push_back(command);
    }
    list.back().arguments = {kEndOfListCode};
    return list;
}

// A common event with every section filled, so that a record that stops early shows it.
Game_CommonEvent SampleEvent(std::int32_t seed) {
    Game_CommonEvent e;
    e.name = "コモン" + std::to_string(seed);
    e.startByte = static_cast<std::uint8_t>(0x10 | (seed % 4));
    e.conditionVariable = 2000000 + seed;
    e.conditionValue = seed * 3;
    e.settingBytes[0] = 1;
    e.settingBytes[1] = static_cast<std::uint8_t>(seed);
    e.commands.Replace(Commands({121, 106, 121}));
    e.byteList = {1, 2, static_cast<std::uint8_t>(seed)};
    e.byteListText = "bytes";
    e.argumentTexts[0] = "arg";
    e.argumentTexts.push_back("twelfth");
    e.argumentBytes[9] = 9;
    e.argumentTextLists[1] = {"a", "b"};
    e.argumentNumberLists[2] = {5, -6};
    e.argumentNumbers[4] = seed;
    e.extraNumber = 77;
    e.extraTexts[99] = "last";
    e.noteText = "note";
    e.noteText2 = "note2";
    e.returnVariable = 3;
    return e;
}

// What a record of `sections` sections reads back as over a fresh entry.
Game_CommonEvent AfterSections(Game_CommonEvent e, int sections) {
    const Game_CommonEvent fresh;
    if (sections < 2) {
        e.argumentTexts = fresh.argumentTexts;
        e.argumentBytes = fresh.argumentBytes;
        e.argumentTextLists = fresh.argumentTextLists;
        e.argumentNumberLists = fresh.argumentNumberLists;
        e.argumentNumbers = fresh.argumentNumbers;
    }
    if (sections < 3) {
        e.extraNumber = fresh.extraNumber;
        e.extraTexts = fresh.extraTexts;
    }
    if (sections < 4) e.noteText = fresh.noteText;
    if (sections < 5) {
        e.noteText2 = fresh.noteText2;
        e.returnVariable = fresh.returnVariable;
    }
    return e;
}

Game_CommonEventList ListOf(std::vector<Game_CommonEvent> events) {
    Game_CommonEventList list;
    list.events = std::move(events);
    for (std::size_t i = 0; i < list.events.size(); ++i) {
        list.events[i].number = static_cast<std::int32_t>(i);
    }
    return list;
}

class CommonEventTest : public DataFileTest {
  protected:
    void SetUp() override {
        DataFileTest::SetUp();
        savedDataPath_ = DataPath;
        DataPath = dir.string() + "/";
        TheCommonEvents = Game_CommonEventList();
    }
    void TearDown() override {
        DataPath = savedDataPath_;
        TheCommonEvents = Game_CommonEventList();
        DataFileTest::TearDown();
    }

    bool Load(const std::vector<std::uint8_t>& bytes) {
        std::filesystem::create_directories(dir / "BasicData");
        EXPECT_TRUE(gamedata::SaveBytes(PathOf("BasicData/CommonEvent.dat"), bytes));
        return LoadCommonEvents("BasicData/CommonEvent.dat");
    }
    std::string SaveCommon(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        EXPECT_TRUE(gamedata::SaveBytes(PathOf(name), bytes));
        return PathOf(name);
    }
    std::string DamagedMessage() const {
        return "Error|コモンイベントファイル \"" + PathOf("BasicData/CommonEvent.dat") +
               "\"が破損しています。";
    }

  private:
    std::string savedDataPath_;
};

}  // namespace

TEST_F(CommonEventTest, EveryFormVersionAndSectionCountReadsBack) {
    std::vector<Game_CommonEvent> events;
    std::vector<int> sections;
    for (int s = 1; s <= 5; ++s) {
        events.push_back(SampleEvent(s));
        sections.push_back(s);
    }
    const Game_CommonEventList written = ListOf(events);
    DataFileOptions plain, protectedForm, scrambled, codePage;
    plain.seeds = {0, 4, 0};
    protectedForm.form = DataFileForm::Protected;
    protectedForm.seeds = {11, 12, 13};
    protectedForm.protectionBlock = {1, 2, 3};
    scrambled.form = DataFileForm::Scrambled;
    scrambled.seeds = {250, 0, 1};
    codePage.utf8 = false;
    for (std::uint8_t version : {0x8F, 0x90, 0xC9}) {
        for (DataFileOptions options : {plain, protectedForm, scrambled, codePage}) {
            StartCase();
            options.versionByte = version;
            ASSERT_TRUE(Load(gamedata::WriteCommonEventFile(written, sections, options)))
                << int(version);
            ASSERT_EQ(TheCommonEvents.Count(), 5u);
            for (int s = 1; s <= 5; ++s) {
                EXPECT_EQ(TheCommonEvents.events[s - 1], AfterSections(written.events[s - 1], s))
                    << "sections " << s;
            }
            EXPECT_TRUE(DataRecorder::messageBoxes.empty());
        }
    }
}

TEST_F(CommonEventTest, VersionAndClosingBytes) {
    struct Case {
        std::uint8_t version, closing;
        bool loads;
    };
    for (const Case& c :
         {Case{0xC9, 0x8F, true}, Case{0xC9, 0x90, true}, Case{0x8F, 0x8F, true},
          Case{0xC9, 0xC9, false}, Case{0x91, 0x90, false}, Case{0x90, 0x00, false}}) {
        StartCase();
        TheCommonEvents = ListOf({SampleEvent(1), SampleEvent(2)});
        DataFileOptions options;
        options.versionByte = c.version;
        options.closingByte = c.closing;
        EXPECT_EQ(Load(gamedata::WriteCommonEventFile(ListOf({SampleEvent(9)}), {}, options)),
                  c.loads)
            << int(c.version) << " " << int(c.closing);
        if (c.loads) {
            EXPECT_TRUE(DataRecorder::messageBoxes.empty());
        } else {
            // Refused with the damaged-file message, not silently.
            EXPECT_EQ(DataRecorder::messageBoxes, std::vector<std::string>{DamagedMessage()});
        }
    }
}

TEST_F(CommonEventTest, MissingFileAndDamagedRecordsAreReported) {
    EXPECT_FALSE(LoadCommonEvents("BasicData/CommonEvent.dat"));
    EXPECT_EQ(
        DataRecorder::messageBoxes,
        std::vector<std::string>{"読み込みエラー|コモンイベントデータの読み込みに失敗しました"});

    const auto good = gamedata::WriteCommonEventFile(ListOf({SampleEvent(1)}), {}, {});
    // A count the file cannot hold is refused before the list is sized.
    StartCase();
    auto huge = good;
    huge[11] = 0xFF;
    huge[12] = 0xFF;
    huge[13] = 0xFF;
    huge[14] = 0x7F;
    EXPECT_FALSE(Load(huge));
    EXPECT_EQ(DataRecorder::messageBoxes, std::vector<std::string>{DamagedMessage()});
    EXPECT_EQ(TheCommonEvents.Count(), 1u);
    // A start byte of 0, and every cut of the file.
    StartCase();
    auto zero = good;
    zero[15] = 0;
    EXPECT_FALSE(Load(zero));
    EXPECT_EQ(DataRecorder::messageBoxes, std::vector<std::string>{DamagedMessage()});
    for (std::size_t cut = 10; cut < good.size(); cut += 7) {
        StartCase();
        EXPECT_FALSE(Load(std::vector<std::uint8_t>(good.begin(), good.begin() + cut))) << cut;
        EXPECT_EQ(DataRecorder::messageBoxes.size(), 1u) << cut;
    }
}

TEST_F(CommonEventTest, SectionBytes) {
    gamedata::StoredForm stored;
    // Section byte A 0x95: the version message, then section 2 is read.
    stored.sectionBytes[0] = {0x95, 0x8F};
    DataFileOptions options;
    options.stored = stored;
    ASSERT_TRUE(Load(gamedata::WriteCommonEventFile(ListOf({SampleEvent(4)}), {2}, options)));
    EXPECT_EQ(DataRecorder::messageBoxes, std::vector<std::string>{kVersionMessage});
    EXPECT_EQ(TheCommonEvents.events[0], AfterSections(SampleEvent(4), 2));

    // A record ending with 0x8E keeps every later section at its default.
    StartCase();
    ASSERT_TRUE(Load(gamedata::WriteCommonEventFile(ListOf({SampleEvent(4)}), {1}, {})));
    EXPECT_EQ(TheCommonEvents.events[0].returnVariable, -1);
    EXPECT_EQ(TheCommonEvents.events[0].argumentTexts, std::vector<std::string>(11));
    EXPECT_EQ(TheCommonEvents.events[0].extraTexts, std::vector<std::string>(100));

    // Byte B other than 0x8F/0x90 ends the record after the message; 0 fails it.
    StartCase();
    options.stored.sectionBytes[0] = {0x90, 0x33};
    ASSERT_TRUE(Load(gamedata::WriteCommonEventFile(ListOf({SampleEvent(4)}), {2}, options)));
    EXPECT_EQ(DataRecorder::messageBoxes, std::vector<std::string>{kVersionMessage});
    StartCase();
    auto bytes = gamedata::WriteCommonEventFile(ListOf({SampleEvent(4)}), {2}, {});
    bytes[bytes.size() - 2] = 0;  // byte B, before the closing byte
    EXPECT_FALSE(Load(bytes));
}

TEST_F(CommonEventTest, CommonFileGrowsRenumbersAndKeepsWhatRecordsDoNotCarry) {
    TheCommonEvents =
        ListOf({SampleEvent(0), SampleEvent(1), SampleEvent(2), SampleEvent(3), SampleEvent(4)});
    DataFileOptions options;
    const auto path =
        SaveCommon("three.common",
                   gamedata::WriteCommonFile(
                       ListOf({SampleEvent(20), SampleEvent(21), SampleEvent(22)}), {}, options));
    EXPECT_EQ(ReadCommonFile(path, 10), 3);
    ASSERT_EQ(TheCommonEvents.Count(), 13u);
    for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(TheCommonEvents.events[i].number, int(i));
    for (std::size_t i = 5; i < 10; ++i) {
        Game_CommonEvent fresh;
        fresh.number = static_cast<std::int32_t>(i);
        EXPECT_EQ(TheCommonEvents.events[i], fresh);
    }
    Game_CommonEvent expected = SampleEvent(21);
    expected.number = 11;
    EXPECT_EQ(TheCommonEvents.events[11], expected);

    // A record over an existing entry: the record's sections replace, the others stay.
    Game_CommonEvent small = SampleEvent(30);
    small.byteList = {};
    const auto overPath =
        SaveCommon("over.common", gamedata::WriteCommonFile(ListOf({small}), {1}, options));
    Game_CommonEvent& old = TheCommonEvents.events[2];
    old.byteList = {9, 9, 9, 9};
    old.byteListText = "kept";
    EXPECT_EQ(ReadCommonFile(overPath, 2), 1);
    const Game_CommonEvent& now = TheCommonEvents.events[2];
    EXPECT_EQ(now.number, 2);
    EXPECT_EQ(now.name, small.name);
    EXPECT_EQ(now.startByte, small.startByte);
    EXPECT_EQ(now.commands, small.commands);
    EXPECT_EQ(now.argumentTexts, std::vector<std::string>(11));
    EXPECT_EQ(now.returnVariable, SampleEvent(2).returnVariable);
    EXPECT_EQ(now.noteText2, SampleEvent(2).noteText2);
    EXPECT_EQ(now.byteList, (std::vector<std::uint8_t>{9, 9, 9, 9}));
    EXPECT_EQ(now.byteListText, "kept");

    // Code-page text, a wrong magic, a missing file.
    options.utf8 = false;
    const auto codePage =
        SaveCommon("cp.common", gamedata::WriteCommonFile(ListOf({SampleEvent(40)}), {}, options));
    EXPECT_EQ(ReadCommonFile(codePage, 0), 1);
    EXPECT_EQ(TheCommonEvents.events[0].name, SampleEvent(40).name);
    auto wrong = gamedata::WriteCommonFile(ListOf({SampleEvent(40)}), {}, {});
    wrong[3] ^= 0x10;
    EXPECT_EQ(ReadCommonFile(SaveCommon("wrong.common", wrong), 0), -1);
    EXPECT_EQ(ReadCommonFile(PathOf("missing.common"), 0), -1);
}

TEST_F(CommonEventTest, CommonFileStopsAtTheFirstFailedRecord) {
    TheCommonEvents = ListOf({SampleEvent(0), SampleEvent(1)});
    auto bytes = gamedata::WriteCommonFile(
        ListOf({SampleEvent(10), SampleEvent(11), SampleEvent(12)}), {}, {});
    // Cut inside the second record.
    const auto one = gamedata::WriteCommonFile(ListOf({SampleEvent(10)}), {}, {});
    bytes.resize(one.size() + 20);
    EXPECT_EQ(ReadCommonFile(SaveCommon("cut.common", bytes), 0), 1);
    ASSERT_EQ(TheCommonEvents.Count(), 3u);
    EXPECT_EQ(TheCommonEvents.events[0].name, SampleEvent(10).name);
    // The failed record left its entry as it was.
    Game_CommonEvent kept = SampleEvent(1);
    kept.number = 1;
    EXPECT_EQ(TheCommonEvents.events[1], kept);
    EXPECT_EQ(TheCommonEvents.events[2], [] {
        Game_CommonEvent fresh;
        fresh.number = 2;
        return fresh;
    }());
    // A count that cannot fit reads nothing and grows nothing.
    auto huge = one;
    huge[4] = 0xFF;
    huge[5] = 0xFF;
    huge[6] = 0xFF;
    huge[7] = 0x7F;
    EXPECT_EQ(ReadCommonFile(SaveCommon("huge.common", huge), 0), 0);
    EXPECT_EQ(TheCommonEvents.Count(), 3u);
}

TEST_F(CommonEventTest, ListResizeAndNeverEmpty) {
    Game_CommonEventList list;
    EXPECT_EQ(list.Count(), 1u);
    list.Resize(4);
    list.events[3].name = "x";
    list.Resize(2);
    EXPECT_EQ(list.Count(), 2u);
    list.Resize(0);
    EXPECT_EQ(list.Count(), 0u);
    list.EnsureNotEmpty();
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.events[0], Game_CommonEvent{});
    EXPECT_EQ(list.Find(1), nullptr);
    EXPECT_EQ(list.Find(-1), nullptr);
}

TEST_F(CommonEventTest, ConditionReadsTheCommonEventsOwnSelfVariable) {
    TheCommonEvents.Resize(10);
    TheVariables = Game_Variables();
    Game_CommonEvent& e = TheCommonEvents.events[7];
    // 1,600,0nn names slot nn of this common event: 15,000,700 + nn (slots 5 to 9 hold texts, so
    // the numbers are shown on slot 12).
    e.conditionVariable = 1600012;
    e.startByte = 0x22;  // operator ==
    e.conditionValue = 41;
    TheVariables.SetValue(15000712, 41);
    EXPECT_TRUE(e.CheckCondition());
    TheVariables.SetValue(15000712, 40);
    EXPECT_FALSE(e.CheckCondition());
    TheVariables.SetValue(15000612, 41);  // common 6's slot is not read
    EXPECT_FALSE(e.CheckCondition());
    // The value is a plain number, never a variable.
    e.conditionVariable = 15000712;
    e.conditionValue = 2000000;
    TheVariables.SetValue(15000712, 2000000);
    EXPECT_TRUE(e.CheckCondition());
    for (int op = 7; op < 16; ++op) {
        e.startByte = static_cast<std::uint8_t>(op << 4);
        EXPECT_FALSE(e.CheckCondition()) << op;
    }
    TheVariables = Game_Variables(Game_Variables::QuietConstruction{});
}
