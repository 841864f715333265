#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/SaveStream.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

using gamedata::DataFileForm;
using gamedata::DataFileOptions;

namespace {

class DatabaseTest : public DataFileTest {
  protected:
    void SetUp() override {
        DataFileTest::SetUp();
        std::filesystem::create_directories(dir / "BasicData");
        DatabaseAccessFailed = 0;
    }
    void TearDown() override {
        for (Game_Database* db : {&TheUserDatabase, &TheVariableDatabase, &TheSystemDatabase}) {
            *db = Game_Database();
        }
        DatabaseBaseline.clear();
        VariableDatabaseProjectSource = {};
        DataFileTest::TearDown();
    }

    std::string Folder() const { return dir.string() + "/"; }

    void Write(const std::string& base, const Game_Database& db, const DataFileOptions& options) {
        ASSERT_TRUE(gamedata::SaveDatabaseFiles(PathOf("BasicData/" + base), db, options));
    }

    // The sample trio: system, user and variable databases.
    void WriteSamples(const DataFileOptions& options) {
        system_ = gamedata::MakeSampleDatabase(kSystemDatabase, 12, 3);
        user_ = gamedata::MakeSampleDatabase(kUserDatabase, 9, 4);
        variable_ = gamedata::MakeSampleDatabase(kVariableDatabase, 7, 5);
        Write("SysDataBase", system_, options);
        Write("DataBase", user_, options);
        Write("CDataBase", variable_, options);
    }

    Game_Database system_, user_, variable_;
};

// The sound lists gain their spare entries on loading.
Game_Database WithSpareSounds(Game_Database db) {
    for (std::int32_t t = 1; t <= 3; ++t) {
        db.ResizeType(t, db.DataCount(t) + kSpareSoundEntries);
    }
    return db;
}

// Compares without the links and the protection seed.
void ExpectSameContents(const Game_Database& read, const Game_Database& written) {
    EXPECT_EQ(read.kind, written.kind);
    ASSERT_EQ(read.types.size(), written.types.size());
    ASSERT_EQ(read.typeInfos.size(), written.typeInfos.size());
    for (std::size_t t = 0; t < read.types.size(); ++t) {
        EXPECT_EQ(read.types[t], written.types[t]) << "type " << t;
        EXPECT_EQ(read.typeInfos[t], written.typeInfos[t]) << "definition " << t;
    }
}

}  // namespace

TEST_F(DatabaseTest, ThreeDatabasesLoadBackEqualInEveryForm) {
    DataFileOptions plain, protectedForm, scrambled, codePage;
    plain.seeds = {0, 9, 0};
    protectedForm.form = DataFileForm::Protected;
    protectedForm.seeds = {21, 0, 200};
    protectedForm.protectionBlock = {0x5A, 1, 2, 3};
    scrambled.form = DataFileForm::Scrambled;
    scrambled.seeds = {1, 2, 3};
    codePage = protectedForm;
    codePage.utf8 = false;
    codePage.protectionBlock = {7};
    int round = 0;
    for (const auto& options : {plain, protectedForm, scrambled, codePage}) {
        SCOPED_TRACE(round++);
        WriteSamples(options);
        LoadDatabases(Folder(), false);
        ExpectSameContents(TheSystemDatabase, WithSpareSounds(system_));
        ExpectSameContents(TheUserDatabase, user_);
        ExpectSameContents(TheVariableDatabase, variable_);
        const std::uint8_t seed =
            options.form == DataFileForm::Protected ? options.protectionBlock[0] : 0;
        EXPECT_EQ(TheUserDatabase.protectionSeed, seed);
        EXPECT_EQ(DatabaseFileVersion, 0xC2);
        // The baseline describes the variable database as loaded.
        ASSERT_EQ(DatabaseBaseline.size(), variable_.types.size());
        for (std::size_t t = 0; t < variable_.types.size(); ++t) {
            EXPECT_EQ(DatabaseBaseline[t].dataCount, variable_.DataCount(static_cast<int>(t)));
            EXPECT_EQ(DatabaseBaseline[t].fieldClasses.size(),
                      variable_.types[t].fieldKinds.size());
            EXPECT_EQ(DatabaseBaseline[t].initialValues, variable_.typeInfos[t].initialValues);
        }
    }
    EXPECT_TRUE(DataRecorder::messageBoxes.empty());
    EXPECT_TRUE(DataRecorder::reports.empty());
}

TEST_F(DatabaseTest, TypeRecordLeadValues) {
    Game_Database db = gamedata::MakeSampleDatabase(kUserDatabase, 3, 8);
    db.types[0].leadValue = -1;
    db.types[0].nameMode = 0;
    db.types[1].leadValue = -5;
    db.types[1].nameMode = 20001;
    db.types[2].leadValue = 0;  // written as the bare field count
    db.types[2].nameMode = 0;
    Write("DataBase", db, {});
    Game_Database read;
    read.kind = kUserDatabase;
    ASSERT_TRUE(LoadDatabaseFiles(read, Folder(), "BasicData/DataBase"));
    EXPECT_EQ(read.types[0].leadValue, -1);
    EXPECT_EQ(read.types[1].leadValue, -5);
    EXPECT_EQ(read.types[1].nameMode, 20001);
    EXPECT_EQ(read.types[2].leadValue, -2);
    EXPECT_EQ(read.types[2].nameMode, 0);
    EXPECT_EQ(read.types[2].entries, db.types[2].entries);
}

TEST_F(DatabaseTest, VersionAndClosingBytes) {
    const Game_Database db = gamedata::MakeSampleDatabase(kUserDatabase, 4, 9);
    struct Case {
        std::uint8_t version, closing;
        bool ok;
        bool messageBox;
    };
    for (const Case& c : {Case{0xC1, 0xC0, true, false}, Case{0xC2, 0xC2, true, false},
                          Case{0xBF, 0xC2, false, false}, Case{0xC3, 0xC2, false, false},
                          Case{0xC2, 0x00, false, true}}) {
        StartCase();
        std::filesystem::create_directories(dir / "BasicData");
        DataFileOptions options;
        options.versionByte = c.version;
        options.closingByte = c.closing;
        Write("DataBase", db, options);
        Game_Database read;
        read.kind = kUserDatabase;
        EXPECT_EQ(LoadDatabaseFiles(read, Folder(), "BasicData/DataBase"), c.ok) << +c.version;
        if (c.messageBox) {
            ASSERT_EQ(DataRecorder::messageBoxes.size(), 1u);
            EXPECT_EQ(DataRecorder::messageBoxes[0],
                      "MsgBox|データベースファイル\nBasicData/DataBaseが\n破損しているか、"
                      "バージョンが古い可能性があります。");
        } else {
            EXPECT_TRUE(DataRecorder::messageBoxes.empty());
        }
        if (c.ok) ExpectSameContents(read, db);
    }
}

TEST_F(DatabaseTest, OldVersionProjectEndsAfterTheNote) {
    Game_Database db = gamedata::MakeSampleDatabase(kUserDatabase, 3, 10);
    DataFileOptions options;
    options.versionByte = 0xC0;
    Write("DataBase", db, options);
    Game_Database read;
    read.kind = kUserDatabase;
    ASSERT_TRUE(LoadDatabaseFiles(read, Folder(), "BasicData/DataBase"));
    for (std::size_t t = 0; t < 3; ++t) {
        const auto& info = read.typeInfos[t];
        const std::size_t fields = db.typeInfos[t].fieldNames.size();
        EXPECT_EQ(info.fieldNames, db.typeInfos[t].fieldNames);
        EXPECT_EQ(info.dataNames, db.typeInfos[t].dataNames);
        EXPECT_EQ(info.typeNote, db.typeInfos[t].typeNote);
        EXPECT_EQ(info.initialValues, std::vector<std::int32_t>(fields, 0));
        EXPECT_EQ(info.fieldTexts, std::vector<std::string>(fields));
        EXPECT_EQ(info.fieldFlags, (std::array<std::uint8_t, 100>{}));
    }
}

TEST_F(DatabaseTest, MissingAndDamagedFiles) {
    // A missing ".dat", then a missing ".project": the message box names the file, then the
    // program ends.
    Game_Database db;
    EXPECT_FALSE(LoadDatabaseFiles(db, Folder(), "BasicData/DataBase"));
    const std::string datPath = Folder() + "BasicData/DataBase.dat";
    ASSERT_EQ(DataRecorder::messageBoxes.size(), 1u);
    EXPECT_EQ(DataRecorder::messageBoxes[0],
              "読み込みエラー|データベースファイル読み込みに失敗、強制終了します。\n\r\n\r" +
                  datPath + "\r\nのファイルがあるか確認してください");
    EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1});

    const Game_Database sample = gamedata::MakeSampleDatabase(kUserDatabase, 2, 11);
    DataFileOptions options;
    options.seeds = {3, 4, 5};
    const auto dat = gamedata::WriteDatabaseDataFile(sample, options);
    StartCase();
    std::filesystem::create_directories(dir / "BasicData");
    ASSERT_TRUE(gamedata::SaveBytes(datPath, dat));
    EXPECT_FALSE(LoadDatabaseFiles(db, Folder(), "BasicData/DataBase"));
    ASSERT_EQ(DataRecorder::messageBoxes.size(), 1u);
    EXPECT_NE(DataRecorder::messageBoxes[0].find("DataBase.project"), std::string::npos);

    // Every cut of the ".dat" file and a flipped body byte are refused without a crash; a cut
    // or damaged file is moved aside.
    const auto project = gamedata::WriteDatabaseProjectFile(sample, options);
    // Every byte of the front, then a spread over the rest.
    auto next = [](std::size_t cut) { return cut < 24 ? cut + 1 : cut + 13; };
    for (std::size_t cut = 0; cut < dat.size(); cut = next(cut)) {
        StartCase();
        std::filesystem::create_directories(dir / "BasicData");
        ASSERT_TRUE(gamedata::SaveBytes(datPath,
                                        std::vector<std::uint8_t>(dat.begin(), dat.begin() + cut)));
        ASSERT_TRUE(gamedata::SaveBytes(PathOf("BasicData/DataBase.project"), project));
        Game_Database cutDb;
        EXPECT_FALSE(LoadDatabaseFiles(cutDb, Folder(), "BasicData/DataBase")) << cut;
    }
    for (std::size_t cut = 0; cut < project.size(); cut = next(cut)) {
        StartCase();
        std::filesystem::create_directories(dir / "BasicData");
        ASSERT_TRUE(gamedata::SaveBytes(datPath, dat));
        ASSERT_TRUE(
            gamedata::SaveBytes(PathOf("BasicData/DataBase.project"),
                                std::vector<std::uint8_t>(project.begin(), project.begin() + cut)));
        Game_Database cutDb;
        EXPECT_FALSE(LoadDatabaseFiles(cutDb, Folder(), "BasicData/DataBase")) << cut;
        EXPECT_TRUE(std::filesystem::exists(PathOf("BasicData/DataBase.project.broken"))) << cut;
    }
    StartCase();
    std::filesystem::create_directories(dir / "BasicData");
    auto flipped = dat;
    flipped[20] ^= 0x40;
    ASSERT_TRUE(gamedata::SaveBytes(datPath, flipped));
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("BasicData/DataBase.project"), project));
    EXPECT_FALSE(LoadDatabaseFiles(db, Folder(), "BasicData/DataBase"));
    EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1});
    EXPECT_TRUE(std::filesystem::exists(datPath + ".broken"));
}

TEST_F(DatabaseTest, HugeCountsAreRefusedBeforeAllocating) {
    gamedata::ByteWriter out;
    out.bytes = {0, 'V', 0, 0, 'E', 'L', 'U', 'K', 'M', 0};
    out.U8(0xC2);
    out.I32(1);
    out.I32(-2);
    out.I32(0);
    out.I32(0);           // no fields: entries take no bytes
    out.I32(0x7FFFFFFF);  // entries
    out.U8(0xC2);
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("BasicData/DataBase.dat"), out.bytes));
    Game_Database db;
    EXPECT_FALSE(LoadDatabaseFiles(db, Folder(), "BasicData/DataBase"));
    EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1});

    // Many small types of many entries without values: the file's allowance runs out.
    StartCase();
    std::filesystem::create_directories(dir / "BasicData");
    out.bytes.resize(10);
    out.U8(0xC2);
    out.I32(200);
    for (int t = 0; t < 200; ++t) {
        out.I32(0);      // no fields
        out.I32(10000);  // entries
    }
    out.U8(0xC2);
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("BasicData/DataBase.dat"), out.bytes));
    EXPECT_FALSE(LoadDatabaseFiles(db, Folder(), "BasicData/DataBase"));
    EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1});
}

TEST_F(DatabaseTest, MutatedFilesNeverCrash) {
    const Game_Database sample = gamedata::MakeSampleDatabase(kUserDatabase, 4, 61);
    DataFileOptions options;
    options.form = DataFileForm::Protected;
    options.protectionBlock = {0x44};
    const auto dat = gamedata::WriteDatabaseDataFile(sample, options);
    const auto project = gamedata::WriteDatabaseProjectFile(sample, options);
    ScrambleGenerator random(99);
    for (int round = 0; round < 120; ++round) {
        auto d = dat;
        auto p = project;
        auto& target = round % 2 ? d : p;
        for (int flips = 1 + static_cast<int>(random.Next() % 3); flips > 0; --flips) {
            target[random.Next() % target.size()] = static_cast<std::uint8_t>(random.Next());
        }
        ASSERT_TRUE(gamedata::SaveBytes(PathOf("BasicData/DataBase.dat"), d));
        ASSERT_TRUE(gamedata::SaveBytes(PathOf("BasicData/DataBase.project"), p));
        Game_Database db;
        LoadDatabaseFiles(db, Folder(), "BasicData/DataBase");
    }
}

TEST_F(DatabaseTest, SoundListsGainSpareEntries) {
    Game_Database system = gamedata::MakeSampleDatabase(kSystemDatabase, 5, 12);
    system.ResizeType(1, 12);
    system.types[2].entries.clear();  // an empty sound list
    system.typeInfos[2].dataNames.clear();
    system.ResizeType(3, 1);
    Write("SysDataBase", system, {});
    Write("DataBase", gamedata::MakeSampleDatabase(kUserDatabase, 2, 13), {});
    const Game_Database variableBefore = gamedata::MakeSampleDatabase(kVariableDatabase, 2, 14);
    TheVariableDatabase = variableBefore;
    DatabaseBaseline = {DatabaseBaselineType{4, {1}, {9}}};
    LoadDatabases(Folder(), true);
    EXPECT_EQ(TheSystemDatabase.DataCount(1), 22);
    EXPECT_EQ(TheSystemDatabase.DataCount(2), 9);  // no entries count -1
    EXPECT_TRUE(DataRecorder::reports.empty());
    EXPECT_EQ(TheSystemDatabase.DataCount(3), 11);
    EXPECT_EQ(SoundListBaseCount(0), 12);
    EXPECT_EQ(SoundListBaseCount(1), 0);
    EXPECT_EQ(SoundListBaseCount(2), 1);
    // The system-only load leaves the variable database and its baseline alone.
    EXPECT_EQ(TheVariableDatabase, variableBefore);
    ASSERT_EQ(DatabaseBaseline.size(), 1u);
    EXPECT_EQ(DatabaseBaseline[0].dataCount, 4);

    // A system database without sound types 2 and 3 reports each of them.
    system.SetTypeCount(2);
    Write("SysDataBase", system, {});
    DataRecorder::reports.clear();
    LoadDatabases(Folder(), true);
    EXPECT_EQ(TheSystemDatabase.DataCount(1), 22);
    EXPECT_EQ(
        DataRecorder::reports,
        (std::vector<std::string>{
            "このDBにタイプ2は存在しません、対象DBを間違えていないかご確認下さい|LOCATION|",
            "このDBにタイプ3は存在しません、対象DBを間違えていないかご確認下さい|LOCATION|"}));
    EXPECT_EQ(SoundListBaseCount(2), 0);
}

// ---- the model ----

namespace {

// One type with fields: number (kind 1000), string (2000), number (1001); three entries.
Game_Database SmallDatabase(std::int32_t kind) {
    Game_Database db;
    db.kind = kind;
    Game_DatabaseType type;
    type.fieldKinds = {1000, 2000, 1001};
    type.entries.assign(3, Game_DatabaseEntry{});
    for (int e = 0; e < 3; ++e) {
        type.entries[e].numbers = {10 * e, 10 * e + 1};
        type.entries[e].strings = {"名前" + std::to_string(e)};
    }
    Game_DatabaseTypeInfo info;
    info.typeName = "タイプ";
    info.fieldNames = {"攻撃", "名前", "防御"};
    info.dataNames = {"A", "B", "C"};
    info.initialValues = {7, 0, 8};
    db.types.push_back(type);
    db.typeInfos.push_back(info);
    return db;
}

}  // namespace

TEST_F(DatabaseTest, EveryFailedAccessReportsItsText) {
    struct Case {
        std::int32_t kind, type, data, field;
        std::string report;   // empty: no report
        std::int32_t number;  // ReadNumber's result
    };
    const std::string loc = "LOCATION";
    const std::vector<Case> cases = {
        {kUserDatabase, 0, 1, 2, "", 11},
        {kUserDatabase, 1, 0, 0,
         "【ユーザDB】エラー：存在しないタイプ番号 1 を読みに行っています|" + loc + "|", 0},
        {kSystemDatabase, -1, 0, 0,
         "【システムDB】エラー：存在しないタイプ番号 -1 を読みに行っています|" + loc + "|", 0},
        {kVariableDatabase, 0, 3, 2,
         "【可変DB】エラー：タイプ 0 に存在しないデータ番号 3 を読みに行っています|" + loc + "|",
         8},
        {kVariableDatabase, 0, -1, 0,
         "【可変DB】エラー：タイプ 0 に存在しないデータ番号 -1 を読みに行っています|" + loc + "|",
         7},
        {7, 0, 0, 3,
         "エラー：存在しない内容番号を読みに行っています|【Error DB】タイプ 0 データ番号0 "
         "項目3(Max3種)|" +
             loc,
         0},
        {kUserDatabase, 0, 2, -1,
         "エラー：存在しない内容番号を読みに行っています|【ユーザDB】タイプ 0 データ番号2 "
         "項目-1(Max3種)|" +
             loc,
         0},
        {kUserDatabase, 0, 2, 1, "", 0},  // a string field read as a number
    };
    for (const Case& c : cases) {
        StartCase();
        DatabaseAccessFailed = 0;
        const Game_Database db = SmallDatabase(c.kind);
        EXPECT_EQ(db.ReadNumber(c.type, c.data, c.field), c.number);
        const std::vector<std::string> expected =
            c.report.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.report};
        EXPECT_EQ(DataRecorder::reports, expected);
        EXPECT_EQ(DatabaseAccessFailed, c.report.empty() ? 0 : 1);
        DataRecorder::reports.clear();
        std::string copy = "x";
        const std::string text = db.ReadString(c.type, c.data, c.field, &copy);
        EXPECT_EQ(copy, text);
        if (c.report.empty()) {
            // Number fields read as strings are a class mismatch: no report.
            EXPECT_EQ(text, c.field == 1 ? "名前2" : "<<ERROR>>");
        } else {
            EXPECT_EQ(text, "<<ERROR>>");
        }
        EXPECT_EQ(DataRecorder::reports, expected);
    }

    // A variable database without types: reads and writes report it; writes count as done.
    StartCase();
    Game_Database empty;
    empty.types.clear();
    const std::string missing =
        "【DBアクセスエラー】 対象のセーブデータ内に可変DBが存在しません！|"
        "※Tips:"
        "「セーブデータへの書き込み」機能で無から作成したセーブデータには可変DBが保存されません|" +
        loc;
    EXPECT_EQ(empty.ReadNumber(0, 0, 0), 0);
    EXPECT_EQ(empty.ReadString(0, 0, 0), "<<ERROR>>");
    EXPECT_TRUE(empty.WriteNumber(0, 0, 0, 5));
    EXPECT_TRUE(empty.WriteString(0, 0, 0, "x"));
    EXPECT_EQ(DataRecorder::reports, std::vector<std::string>(4, missing));

    // Writes: a class mismatch or a missing cell is false without a report.
    StartCase();
    Game_Database db = SmallDatabase(kUserDatabase);
    EXPECT_TRUE(db.WriteNumber(0, 1, 2, 99));
    EXPECT_EQ(db.ReadNumber(0, 1, 2), 99);
    EXPECT_FALSE(db.WriteNumber(0, 1, 1, 99));
    EXPECT_FALSE(db.WriteString(0, 1, 0, "x"));
    EXPECT_FALSE(db.WriteNumber(0, 5, 0, 1));
    EXPECT_TRUE(db.WriteString(0, 1, 1, "新"));
    EXPECT_EQ(db.ReadString(0, 1, 1), "新");
    EXPECT_EQ(*db.FindNumberCell(0, 2, 2), 21);
    EXPECT_EQ(db.FindNumberCell(0, 2, 1), nullptr);
    EXPECT_EQ(db.FindNumberCell(0, 3, 0), nullptr);
    EXPECT_EQ(db.FieldKind(0, 1), 2);
    EXPECT_EQ(db.FieldKind(0, 3), -1);
    EXPECT_EQ(db.FieldKind(1, 0), -1);
    EXPECT_TRUE(DataRecorder::reports.empty());

    // Names out of range, and the English texts.
    EXPECT_EQ(db.TypeName(1), "×NoData");
    EXPECT_EQ(db.FieldName(0, 3), "×NoData");
    EXPECT_EQ(db.DataName(0, 3), "×NoData");
    UiLanguage = 1;
    EXPECT_EQ(db.ReadNumber(0, 0, 9), 0);
    EXPECT_EQ(DataRecorder::reports.back(),
              "Error: reading a content number that does not exist.|[User DB] Type 0 Data 0 Item 9 "
              "(Max 3)|" +
                  loc);

    // Resizing a missing type.
    UiLanguage = 0;
    StartCase();
    db.ResizeType(4, 2);
    EXPECT_EQ(
        DataRecorder::reports,
        std::vector<std::string>{
            "このDBにタイプ4は存在しません、対象DBを間違えていないかご確認下さい|" + loc + "|"});
}

TEST_F(DatabaseTest, ResizeTypeAndSetTypeCount) {
    Game_Database db = SmallDatabase(kVariableDatabase);
    db.ResizeType(0, 5);
    ASSERT_EQ(db.DataCount(0), 5);
    for (int e = 3; e < 5; ++e) {
        EXPECT_EQ(db.types[0].entries[e].numbers, (std::vector<std::int32_t>{7, 8}));
        EXPECT_EQ(db.types[0].entries[e].strings, std::vector<std::string>{""});
    }
    EXPECT_EQ(db.typeInfos[0].dataNames, (std::vector<std::string>{"A", "B", "C", "", ""}));
    db.ResizeType(0, 3);
    EXPECT_EQ(db.types[0], SmallDatabase(kVariableDatabase).types[0]);
    EXPECT_EQ(db.typeInfos[0].dataNames.size(), 3u);
    db.ResizeType(0, 0);
    EXPECT_EQ(db.DataCount(0), -1);
    EXPECT_EQ(db.DataCount(3), -1);

    db.SetTypeCount(3);
    ASSERT_EQ(db.TypeCount(), 3);
    EXPECT_EQ(db.typeInfos.size(), 3u);
    EXPECT_EQ(db.DataCount(2), 1);
    EXPECT_EQ(db.ReadString(2, 0, 0), "");
    db.SetTypeCount(1);
    EXPECT_EQ(db.TypeCount(), 1);
    EXPECT_EQ(db.typeInfos.size(), 1u);
}

TEST_F(DatabaseTest, DataNamesByMode) {
    Game_Database a = SmallDatabase(kSystemDatabase), b = SmallDatabase(kUserDatabase);
    a.systemDatabase = b.systemDatabase = &a;
    a.userDatabase = b.userDatabase = &b;
    // a: type 0 mode 0, type 1 mode 1, type 2 mode 2 (names of type 1), type 3 mode 20000 (user
    // type 0), type 4 mode 20001 (user type 1, which names system type 4: a loop).
    for (int t = 1; t < 5; ++t) {
        a.types.push_back(a.types[0]);
        a.typeInfos.push_back(a.typeInfos[0]);
    }
    a.types[1].nameMode = 1;
    a.types[1].entries[1].strings.clear();
    a.types[2].nameMode = 2;
    a.types[3].nameMode = 20000;
    a.types[4].nameMode = 20001;
    b.types.push_back(b.types[0]);
    b.typeInfos.push_back(b.typeInfos[0]);
    b.types[0].nameMode = 0;
    b.typeInfos[0].dataNames = {"ゆ0", "ゆ1", "ゆ2"};
    b.types[1].nameMode = 10004;
    EXPECT_EQ(a.DataName(0, 1), "B");
    EXPECT_EQ(a.DataName(1, 0), "名前0");  // mode 1: string 0
    EXPECT_EQ(a.DataName(1, 1), "");       // mode 1 without strings
    EXPECT_EQ(a.DataName(2, 2), "名前2");  // mode 2: type 1's names
    EXPECT_EQ(a.DataName(3, 1), "ゆ1");    // through the user database
    EXPECT_EQ(a.DataName(4, 1), "×LoopError");
    EXPECT_EQ(a.DataName(1, 5), "×NoData");
    // A linked type with the same mode gives ×NoData at once.
    b.types[1].nameMode = 20001;
    EXPECT_EQ(a.DataName(4, 1), "×NoData");
    // Mode 2 with only mode-2 types before it.
    a.types[0].nameMode = 2;
    a.types[1].nameMode = 2;
    EXPECT_EQ(a.DataName(2, 0), "×NoData");
    // Other modes and unlinked modes give the empty text.
    a.types[0].nameMode = 5;
    EXPECT_EQ(a.DataName(0, 0), "");
    a.types[0].nameMode = 30000;
    EXPECT_EQ(a.DataName(0, 0), "");
    // The values list may be shorter than the definitions.
    a.types.resize(2);
    EXPECT_EQ(a.DataName(3, 0), "×NoData");
}

TEST_F(DatabaseTest, NameIndexAndItsShifts) {
    TheVariableDatabase = SmallDatabase(kVariableDatabase);
    TheSystemDatabase = SmallDatabase(kSystemDatabase);
    TheUserDatabase = SmallDatabase(kUserDatabase);
    TheUserDatabase.typeInfos[0].dataNames = {"同じ", "別", "同じ"};
    TheUserDatabase.typeInfos[0].fieldNames = {"x", "x", "y"};
    BuildDatabaseNameIndex();
    EXPECT_EQ(TheUserDatabase.variableDatabase, &TheVariableDatabase);
    EXPECT_EQ(TheVariableDatabase.systemDatabase, &TheSystemDatabase);
    const auto& user = DatabaseNameIndex[kNameIndexUser];
    EXPECT_EQ(user.typeNames.at("タイプ"), 0);
    EXPECT_EQ(user.dataNames[0].at("同じ"), 0);
    EXPECT_EQ(user.dataNames[0].at("別"), 1);
    EXPECT_EQ(user.fieldNames[0].at("x"), 0);
    EXPECT_EQ(user.fieldNames[0].at("y"), 2);

    auto& names = DatabaseNameIndex[kNameIndexVariable].dataNames[0];
    EXPECT_EQ(names, (std::unordered_map<std::string, std::int32_t>{{"A", 0}, {"B", 1}, {"C", 2}}));
    ShiftDatabaseNameIndex(kNameIndexVariable, 0, 1, 2);
    EXPECT_EQ(names, (std::unordered_map<std::string, std::int32_t>{{"A", 0}, {"B", 3}, {"C", 4}}));
    ShiftDatabaseNameIndex(kNameIndexVariable, 0, 0, -1);
    EXPECT_EQ(names,
              (std::unordered_map<std::string, std::int32_t>{{"A", -1}, {"B", 2}, {"C", 3}}));
    // A name of a removed entry resolves to -1, and reading through it reports the data number.
    EXPECT_EQ(TheVariableDatabase.ReadNumber(0, names.at("A"), 0), 7);
    EXPECT_EQ(
        DataRecorder::reports,
        std::vector<std::string>{
            "【可変DB】エラー：タイプ 0 に存在しないデータ番号 -1 を読みに行っています|LOCATION|"});
    // Names resolved in one database and used in another with fewer fields report the field.
    const auto& fields = DatabaseNameIndex[kNameIndexUser].fieldNames[0];
    TheSystemDatabase.types[0].fieldKinds.resize(2);
    EXPECT_EQ(TheSystemDatabase.ReadString(0, 0, fields.at("y")), "<<ERROR>>");
    EXPECT_EQ(DataRecorder::reports.back(),
              "エラー：存在しない内容番号を読みに行っています|【システムDB】タイプ 0 データ番号0 "
              "項目2(Max2種)|LOCATION");
    ShiftDatabaseNameIndex(kNameIndexVariable, 7, 0, -1);  // no such type: nothing
    ShiftDatabaseNameIndex(3, 0, 0, -1);
}
