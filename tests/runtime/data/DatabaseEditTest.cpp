#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/SaveStream.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

namespace {

class DatabaseEditTest : public DataFileTest {
  protected:
    void SetUp() override {
        DataFileTest::SetUp();
        DatabaseAccessFailed = 0;
    }
    void TearDown() override {
        TheVariableDatabase = Game_Database();
        TheSaveStream = SaveStream();
        DatabaseBaseline.clear();
        VariableDatabaseProjectSource = {};
        DataFileTest::TearDown();
    }
};

// One type with a number field (initial value 5), a string field and another number field
// (initial value -3), `entries` entries named E0, E1, ... holding 100 + e, "s<e>", 200 + e.
Game_Database Database(int entries) {
    Game_Database db;
    Game_DatabaseType type;
    type.fieldKinds = {1000, 2000, 1001};
    type.entries.assign(static_cast<std::size_t>(entries), Game_DatabaseEntry{});
    Game_DatabaseTypeInfo info;
    info.fieldNames = {"数", "文字", "数2"};
    info.initialValues = {5, 0, -3};
    info.dataNames.clear();
    for (int e = 0; e < entries; ++e) {
        type.entries[e].numbers = {100 + e, 200 + e};
        type.entries[e].strings = {"s" + std::to_string(e)};
        info.dataNames.push_back("E" + std::to_string(e));
    }
    db.types = {type};
    db.typeInfos = {info};
    return db;
}

const Game_DatabaseEntry kInitialEntry{{5, -3}, {""}};

}  // namespace

TEST_F(DatabaseEditTest, InsertRemoveCopyAndReset) {
    Game_Database db = Database(9998);
    EXPECT_FALSE(InsertDatabaseEntries(0, 0, 3, db));
    EXPECT_TRUE(InsertDatabaseEntries(0, 0, 2, db));
    EXPECT_EQ(db.DataCount(0), 10000);
    // A position far past the end may not grow the type past the limit either.
    Game_Database small = Database(5);
    EXPECT_FALSE(InsertDatabaseEntries(0, 9999, 2, small));
    EXPECT_FALSE(InsertDatabaseEntries(0, 0x7FFFFFF0, 100, small));
    EXPECT_FALSE(InsertDatabaseEntries(1, 0, 1, small));
    EXPECT_FALSE(InsertDatabaseEntries(0, -1, 1, small));
    EXPECT_EQ(small.DataCount(0), 5);

    // Inserting 2 at 7 into 5 entries grows the type to 7 first.
    ASSERT_TRUE(InsertDatabaseEntries(0, 7, 2, small));
    ASSERT_EQ(small.DataCount(0), 9);
    for (int e = 5; e < 9; ++e) EXPECT_EQ(small.types[0].entries[e], kInitialEntry) << e;
    EXPECT_EQ(small.typeInfos[0].dataNames.size(), 9u);
    // Inserting in the middle keeps the later entries and names behind the new ones.
    ASSERT_TRUE(InsertDatabaseEntries(0, 1, 1, small));
    EXPECT_EQ(small.types[0].entries[1], kInitialEntry);
    EXPECT_EQ(small.types[0].entries[2].numbers[0], 101);
    EXPECT_EQ(small.typeInfos[0].dataNames[1], "");
    EXPECT_EQ(small.typeInfos[0].dataNames[2], "E1");

    Game_Database four = Database(4);
    EXPECT_FALSE(RemoveDatabaseEntries(0, 4, 1, four));
    EXPECT_FALSE(RemoveDatabaseEntries(0, 0, -1, four));
    ASSERT_TRUE(RemoveDatabaseEntries(0, 1, 2, four));
    EXPECT_EQ(four.typeInfos[0].dataNames, (std::vector<std::string>{"E0", "E3"}));
    EXPECT_EQ(four.types[0].entries[1].strings[0], "s3");
    // A count past the end removes up to the end.
    ASSERT_TRUE(RemoveDatabaseEntries(0, 1, 50, four));
    EXPECT_EQ(four.DataCount(0), 1);

    Game_Database five = Database(5);
    EXPECT_FALSE(CopyDatabaseEntry(0, 10000, 0, five));
    EXPECT_FALSE(CopyDatabaseEntry(0, 1, 5, five));
    EXPECT_FALSE(CopyDatabaseEntry(1, 1, 0, five));
    ASSERT_TRUE(CopyDatabaseEntry(0, 12, 2, five));
    ASSERT_EQ(five.DataCount(0), 13);
    EXPECT_EQ(five.types[0].entries[12], Database(5).types[0].entries[2]);
    for (int e = 5; e < 12; ++e) EXPECT_EQ(five.types[0].entries[e], kInitialEntry);
    EXPECT_EQ(five.typeInfos[0].dataNames[12], "");

    ResetDatabaseEntry(0, 12, five);
    EXPECT_EQ(five.types[0].entries[12], kInitialEntry);
    EXPECT_TRUE(DataRecorder::reports.empty());
    ResetDatabaseEntry(0, 13, five);  // past the end: nothing, no report
    EXPECT_TRUE(DataRecorder::reports.empty());
    ResetDatabaseEntry(1, -2, five);
    EXPECT_EQ(DataRecorder::reports,
              (std::vector<std::string>{
                  "DB初期化:初期化しようとしたタイプ番号1がありません|LOCATION|",
                  "DB初期化:初期化しようとしたデータ番号 -2 はマイナスです|LOCATION|"}));
    // A definition without initial values resets numbers to 0.
    five.typeInfos[0].initialValues.clear();
    ResetDatabaseEntry(0, 0, five);
    EXPECT_EQ(five.types[0].entries[0], (Game_DatabaseEntry{{0, 0}, {""}}));
}

TEST_F(DatabaseEditTest, ExportWritesTheExactBytes) {
    Game_Database db;
    Game_DatabaseType type;
    type.fieldKinds = {1000, 2000, 3000};  // the third field has no value
    type.entries.assign(3, Game_DatabaseEntry{{5}, {"a"}});
    Game_DatabaseTypeInfo info;
    info.fieldNames = {"数値", "名前"};  // no name for the third field
    db.types = {type};
    db.typeInfos = {info};
    const std::string expected =
        "\xEF\xBB\xBF\"数値\",\"名前\",\"\",\r\n"
        "5,\"a\",\r\n"
        "5,\"a\",\r\n";
    EXPECT_EQ(FormatDatabaseCsv(db, 0, 1, 2), expected);
    ASSERT_TRUE(ExportDatabaseCsv(db, PathOf("out.csv"), 0, 1, 2));
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(ReadWholeDataFile(PathOf("out.csv"), bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
    EXPECT_FALSE(ExportDatabaseCsv(db, PathOf("no/such/folder/out.csv"), 0, 0, 1));
    EXPECT_TRUE(DataRecorder::reports.empty());
    // A double quote inside a text is doubled, so that the file reads back the same.
    db.types[0].entries[0].strings[0] = "say \"hi\"";
    EXPECT_EQ(FormatDatabaseCsv(db, 0, 0, 1),
              "\xEF\xBB\xBF\"数値\",\"名前\",\"\",\r\n5,\"say \"\"hi\"\"\",\r\n");
}

TEST_F(DatabaseEditTest, ImportCases) {
    struct Case {
        const char* name;
        std::string text;
        std::int32_t count;                       // rows asked for
        std::int32_t rows;                        // rows taken
        std::vector<Game_DatabaseEntry> entries;  // entries 0.. after storing
    };
    const std::string head = "\"a\",\"b\",\"c\",\r\n";
    const Game_DatabaseEntry untouched0{{100, 200}, {"s0"}}, untouched1{{101, 201}, {"s1"}};
    const std::vector<Case> cases = {
        {"trailing commas",
         head + "1,\"x\",2,\r\n3,\"y\",4,\r\n",
         9,
         2,
         {{{1, 2}, {"x"}}, {{3, 4}, {"y"}}}},
        {"quoted comma, no final line feed",
         head + "7,\"p,q\"",
         9,
         1,
         {{{7, 200}, {"p,q"}}, untouched1}},
        {"numbers, no final line feed", head + "7,\"t\",8", 9, 1, {{{7, 8}, {"t"}}, untouched1}},
        {"one field, no final line feed",
         head + "1,\"x\",2\r\n9",
         9,
         2,
         {{{1, 2}, {"x"}}, {{9, 201}, {"s1"}}}},
        {"doubled quotes",
         head + "1,\"say \"\"hi\"\"\",2,\r\n",
         9,
         1,
         {{{1, 2}, {"say \"hi\""}}, untouched1}},
        {"line feed in quotes",
         head + "1,\"two\nlines\r\n!\",2,\n",
         9,
         1,
         {{{1, 2}, {"two\r\nlines\r\n!"}}, untouched1}},
        {"no signature, blanks and signs",
         "x\n  -12,\"\",+7,\n",
         9,
         1,
         {{{-12, 7}, {""}}, untouched1}},
        {"signature", "\xEF\xBB\xBFx\r\n4,\"é\",5,\r\n", 9, 1, {{{4, 5}, {"é"}}, untouched1}},
        {"row limit", head + "1,\"x\",2,\r\n3,\"y\",4,\r\n", 1, 1, {{{1, 2}, {"x"}}, untouched1}},
        {"no rows", "\"a\",\"b\",", 9, 0, {untouched0, untouched1}},
        {"no count", head + "1,\"x\",2,\r\n", 0, 0, {untouched0, untouched1}},
        {"unquoted text and stray quotes",
         head + "12ab,x\"y,\"q\"z,\r\n",
         9,
         1,
         {{{12, 0}, {"xy"}}, untouched1}},
        {"code run holding separators",
         head + "1,\"\x01\x03,\"\",2,\r\n",
         9,
         1,
         {{{1, 2}, {"\x01\x03,\""}}, untouched1}},
        {"code run cut off",
         head + "1,\"x\",2,\r\n3,\x01\x09",
         9,
         2,
         {{{1, 2}, {"x"}}, {{3, 201}, {"s1"}}}},
        {"code run as the last byte",
         head + "1,\"x\",2,\r\n3,\x01",
         9,
         2,
         {{{1, 2}, {"x"}}, {{3, 201}, {"\x01"}}}},
        {"empty fields", head + ",,,\r\n", 9, 1, {{{0, 0}, {""}}, untouched1}},
        {"more rows than entries",
         head + "1,\"x\",2,\r\n3,\"y\",4,\r\n5,\"z\",6,\r\n",
         9,
         3,
         {{{1, 2}, {"x"}}, {{3, 4}, {"y"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Game_Database db = Database(2);
        const Game_Database before = db;
        // The counting pass and the storing pass agree on the rows.
        EXPECT_EQ(ParseDatabaseCsv(db, c.text, 0, 0, c.count, false), c.rows);
        EXPECT_EQ(db, before);
        EXPECT_EQ(ParseDatabaseCsv(db, c.text, 0, 0, c.count, true), c.rows);
        EXPECT_EQ(db.types[0].entries, c.entries);
        EXPECT_EQ(db.DataCount(0), 2);
    }
    EXPECT_TRUE(DataRecorder::reports.empty());
}

TEST_F(DatabaseEditTest, ImportFromFilesAndCodePages) {
    Game_Database db = Database(2);
    EXPECT_EQ(ImportDatabaseCsv(db, PathOf("missing.csv"), 0, 0, 5, false), 0);
    EXPECT_EQ(DataRecorder::reports,
              std::vector<std::string>{"読み込みエラー|データファイル " + PathOf("missing.csv") +
                                       " がありません|LOCATION"});
    // Without a signature, text that is not UTF-8 is in the game's code page (Shift-JIS here).
    GameCharSetIndex = 1;
    const std::string sjis = "\x93\xfa\x96\x7b";  // 日本
    ASSERT_TRUE(gamedata::SaveBytes(
        PathOf("sjis.csv"), std::vector<std::uint8_t>({'h', '\n', '3', ',', '"', 0x93, 0xfa, 0x96,
                                                       0x7b, '"', ',', '4', ',', '\r', '\n'})));
    EXPECT_EQ(ImportDatabaseCsv(db, PathOf("sjis.csv"), 0, 1, 5, true), 1);
    EXPECT_EQ(db.types[0].entries[1], (Game_DatabaseEntry{{3, 4}, {"日本"}}));
}

TEST_F(DatabaseEditTest, ExportThenImportIsTheIdentity) {
    Game_Database source = gamedata::MakeSampleDatabase(kUserDatabase, 10, 21);
    for (std::int32_t t = 0; t < source.TypeCount(); ++t) {
        const std::int32_t count = std::max(source.DataCount(t), 0);
        ASSERT_TRUE(ExportDatabaseCsv(source, PathOf("t.csv"), t, 0, count));
        Game_Database target = gamedata::MakeSampleDatabase(kUserDatabase, 10, 21);
        for (auto& entry : target.types[static_cast<std::size_t>(t)].entries) {
            std::fill(entry.numbers.begin(), entry.numbers.end(), 0);
            for (auto& s : entry.strings) s = "old";
        }
        EXPECT_EQ(ImportDatabaseCsv(target, PathOf("t.csv"), t, 0, 10000, false), count);
        EXPECT_EQ(ImportDatabaseCsv(target, PathOf("t.csv"), t, 0, 10000, true), count);
        EXPECT_EQ(target.types[static_cast<std::size_t>(t)],
                  source.types[static_cast<std::size_t>(t)])
            << "type " << t;
    }
    EXPECT_TRUE(DataRecorder::reports.empty());
}

namespace {

class DatabaseSaveTest : public DatabaseEditTest {
  protected:
    void SetUp() override {
        DatabaseEditTest::SetUp();
        std::filesystem::create_directories(dir / "BasicData");
    }

    // Writes the game's variable database files and loads them as the running game does.
    void LoadGame(const Game_Database& game, const gamedata::DataFileOptions& options = {}) {
        for (const char* base : {"SysDataBase", "DataBase", "CDataBase"}) {
            ASSERT_TRUE(gamedata::SaveDatabaseFiles(PathOf(std::string("BasicData/") + base), game,
                                                    options));
        }
        LoadDatabases(dir.string() + "/", false);
    }

    std::vector<std::uint8_t> Save(Game_Database& db) {
        TheSaveStream.BeginWrite(true);
        db.WriteSave();
        const auto size = static_cast<std::size_t>(TheSaveStream.position);
        TheSaveStream.BeginWrite(false, size);
        db.WriteSave();
        EXPECT_EQ(static_cast<std::size_t>(TheSaveStream.position), size);
        EXPECT_FALSE(TheSaveStream.readFromSave);
        return TheSaveStream.buffer;
    }
};

}  // namespace

TEST_F(DatabaseSaveTest, SavePartRoundTrips) {
    gamedata::DataFileOptions options;
    options.form = gamedata::DataFileForm::Protected;
    options.seeds = {4, 5, 6};
    options.protectionBlock = {0xA7};
    LoadGame(gamedata::MakeSampleDatabase(kVariableDatabase, 8, 31), options);
    Game_Database live = TheVariableDatabase;
    std::int32_t filled = 0;  // a type with entries and number fields
    while (filled < live.TypeCount() &&
           (live.DataCount(filled) < 1 || live.types[filled].NumberFieldCount() == 0)) {
        ++filled;
    }
    ASSERT_LT(filled, live.TypeCount());
    live.types[filled].entries[0].numbers.clear();  // filled up to the type's counts when saved
    live.types[filled].leadValue = -7;
    const auto bytes = Save(live);
    EXPECT_EQ(bytes[0], 111);
    for (const auto& type : live.types) EXPECT_EQ(type.leadValue, -2);

    TheSaveStream.BeginRead(bytes, true, SaveStream::kCurrentFormat);
    Game_Database read;
    ASSERT_TRUE(read.ReadSave());
    EXPECT_FALSE(TheSaveStream.overrun);
    EXPECT_FALSE(TheSaveStream.readFromSave);
    EXPECT_EQ(TheSaveStream.position, static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(read.types, live.types);
    EXPECT_EQ(read.typeInfos, TheVariableDatabase.typeInfos);
    EXPECT_TRUE(DataRecorder::reports.empty());
}

TEST_F(DatabaseSaveTest, OlderSaveGainsTypesAndFields) {
    // The saved game had 2 types, the first with 3 fields; the game now has 3 types and the first
    // has 5 fields.
    Game_Database game = Database(2);
    game.types[0].fieldKinds = {1000, 2000, 1001, 2001, 1002};
    game.typeInfos[0].fieldNames = {"a", "b", "c", "d", "e"};
    game.typeInfos[0].initialValues = {5, 0, -3, 0, 42};
    game.typeInfos[0].fieldTexts.resize(5);
    game.typeInfos[0].fieldStringLists.resize(5);
    game.typeInfos[0].fieldNumberLists.resize(5);
    for (auto& e : game.types[0].entries) {
        e.numbers.push_back(1);
        e.strings.push_back("x");
    }
    game.types.push_back(game.types[0]);
    game.typeInfos.push_back(game.typeInfos[0]);
    game.types.push_back(Database(4).types[0]);
    game.typeInfos.push_back(Database(4).typeInfos[0]);
    LoadGame(game);

    Game_Database old = Database(2);
    old.types.push_back(game.types[1]);
    const auto bytes = Save(old);
    TheSaveStream.BeginRead(bytes, true, SaveStream::kCurrentFormat);
    Game_Database read;
    ASSERT_TRUE(read.ReadSave());
    ASSERT_EQ(read.TypeCount(), 3);
    EXPECT_EQ(read.types[0].fieldKinds, game.types[0].fieldKinds);
    EXPECT_EQ(read.types[0].entries[1], (Game_DatabaseEntry{{101, 201, 42}, {"s1", ""}}));
    EXPECT_EQ(read.types[1], game.types[1]);
    EXPECT_EQ(read.DataCount(2), 1);
    EXPECT_EQ(read.types[2].entries[0], (Game_DatabaseEntry{{5, -3}, {""}}));
}

TEST_F(DatabaseSaveTest, OldSaveTextIsConverted) {
    LoadGame(Database(2));
    Game_Database db = Database(2);
    db.types[0].entries[1].strings[0] = "\x93\xfa\x96\x7b";  // Shift-JIS, as an old save holds it
    GameCharSetIndex = 1;
    const auto bytes = Save(db);
    TheSaveStream.BeginRead(bytes, false, 110);
    Game_Database read;
    ASSERT_TRUE(read.ReadSave());
    EXPECT_EQ(read.types[0].entries[1].strings[0], "日本");
}

TEST_F(DatabaseSaveTest, DamagedSavePartsAreRefused) {
    LoadGame(gamedata::MakeSampleDatabase(kVariableDatabase, 4, 41));
    Game_Database live = TheVariableDatabase;
    const auto bytes = Save(live);
    // Every cut: refused before the type count, else flagged as an overrun; never a crash.
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        TheSaveStream.BeginRead(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut), true,
                                SaveStream::kCurrentFormat);
        Game_Database read;
        const bool ok = read.ReadSave();
        EXPECT_TRUE(TheSaveStream.overrun) << cut;
        if (cut < 5) {
            EXPECT_FALSE(ok) << cut;
        }
        EXPECT_FALSE(TheSaveStream.readFromSave);
    }
    // Counts that the bytes left cannot hold are refused before anything is allocated.
    auto patched = [&](std::size_t at, std::int32_t value) {
        auto copy = bytes;
        for (std::size_t i = 0; i < 4 && at + i < copy.size(); ++i) {
            copy[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i));
        }
        return copy;
    };
    const std::size_t fieldCountAt = 1 + 4 + 8;
    const std::size_t fields = live.types[0].fieldKinds.size();
    const std::size_t entryCountAt = fieldCountAt + 4 + 4 * fields;
    for (const auto& damaged :
         {patched(1, 0x7FFFFFFF), patched(1, -1), patched(fieldCountAt, 0x40000000),
          patched(fieldCountAt, -7), patched(entryCountAt, 0x7FFFFFFF)}) {
        TheSaveStream.BeginRead(damaged, true, SaveStream::kCurrentFormat);
        Game_Database read;
        read.ReadSave();
        EXPECT_TRUE(TheSaveStream.overrun);
    }
    // Random damage anywhere is survived.
    ScrambleGenerator random(7);
    for (int round = 0; round < 300; ++round) {
        auto damaged = bytes;
        for (int flips = 1 + static_cast<int>(random.Next() % 3); flips > 0; --flips) {
            damaged[random.Next() % damaged.size()] = static_cast<std::uint8_t>(random.Next());
        }
        TheSaveStream.BeginRead(damaged, true, SaveStream::kCurrentFormat);
        Game_Database read;
        read.ReadSave();
        EXPECT_FALSE(TheSaveStream.readFromSave);
    }
    // A part without types (a save made without a variable database) stays empty.
    TheSaveStream.BeginRead({111, 0, 0, 0, 0}, true, SaveStream::kCurrentFormat);
    Game_Database read;
    ASSERT_TRUE(read.ReadSave());
    EXPECT_EQ(read.TypeCount(), 0);
    EXPECT_FALSE(TheSaveStream.overrun);
}

TEST_F(DatabaseSaveTest, TypeRecordsInTheDatFileFormsAreRead) {
    LoadGame(Database(1));
    // Two types written as the ".dat" file writes them: one with the bare field and entry counts,
    // one with the lead value -1 in front.
    std::vector<std::uint8_t> bytes = {111};
    for (std::int32_t v : {2, 0, 0, -1, 0, 0}) {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
        }
    }
    TheSaveStream.BeginRead(bytes, true, SaveStream::kCurrentFormat);
    Game_Database read;
    ASSERT_TRUE(read.ReadSave());
    EXPECT_FALSE(TheSaveStream.overrun);
    ASSERT_EQ(read.TypeCount(), 2);
    EXPECT_EQ(read.types[0].leadValue, -2);
    EXPECT_EQ(read.types[0].fieldKinds, (std::vector<std::int32_t>{1000, 2000, 1001}));
    EXPECT_EQ(read.types[1].leadValue, -1);
    EXPECT_EQ(read.DataCount(1), -1);
}

TEST_F(DatabaseSaveTest, MissingProjectEndsTheProgram) {
    LoadGame(Database(1));
    std::filesystem::remove(PathOf("BasicData/CDataBase.project"));
    Game_Database db = Database(1);
    const auto bytes = Save(db);
    TheSaveStream.BeginRead(bytes, true, SaveStream::kCurrentFormat);
    EXPECT_FALSE(db.ReadSave());
    EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1});
    ASSERT_EQ(DataRecorder::messageBoxes.size(), 1u);
    EXPECT_NE(DataRecorder::messageBoxes[0].find("CDataBase.project"), std::string::npos);
}
