// The database commands run through their handlers on a small variable, user and system database:
// writes, reads, names and counts (250), CSV files (251), and insert, remove and copy (252).
#include "runtime/script/DatabaseCommands.h"

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/script/CommandTestSupport.h"

namespace {

using namespace script_test;

constexpr std::int32_t kUserSlot = 2 << 8;
constexpr std::int32_t kSystemSlot = 1 << 8;
constexpr std::int32_t kReadMode = 1 << 12;

// Operator bits.
constexpr std::int32_t Op(std::int32_t op) {
    return op << 4;
}

// A type of `entries` entries with two number fields and one text field.
Game_DatabaseType MakeType(std::int32_t entries) {
    Game_DatabaseType t;
    t.fieldKinds = {kNumberFieldBase, kNumberFieldBase + 1, kStringFieldBase};
    t.entries.assign(static_cast<std::size_t>(entries), Game_DatabaseEntry{{0, 0}, {""}});
    return t;
}

void FillDatabase(Game_Database& db, std::int32_t kind, std::int32_t types, std::int32_t entries) {
    db = Game_Database();
    db.kind = kind;
    db.SetTypeCount(types);
    for (std::int32_t k = 0; k < types; ++k) {
        db.types[static_cast<std::size_t>(k)] = MakeType(entries);
        auto& info = db.typeInfos[static_cast<std::size_t>(k)];
        info.typeName = "Type" + std::to_string(k);
        info.fieldNames = {"Attack", "Slot\\d[1]", "Name"};
        info.dataNames.assign(static_cast<std::size_t>(entries), "");
        info.initialValues = {7, 0, 0};
    }
}

class DatabaseCommandTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        for (std::int32_t code : {250, 251, 252}) saved_[code] = GetCommandHandler(code);
        InstallDatabaseCommands();
        FillDatabase(TheVariableDatabase, kVariableDatabase, 4, 10);
        FillDatabase(TheUserDatabase, kUserDatabase, 2, 3);
        TheSystemDatabase.types[2] = MakeType(25);
        BuildDatabaseNameIndex();
        DatabaseBaseline.assign(2, DatabaseBaselineType{});
        DatabaseBaseline[0].dataCount = 3;
        DatabaseBaseline[1].dataCount = -1;
        oldFolder_ = std::filesystem::current_path();
        folder_ = std::filesystem::temp_directory_path() /
                  ("velk-dbcmd-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "game");
        std::filesystem::current_path(folder_ / "game");
    }
    void TearDown() override {
        std::filesystem::current_path(oldFolder_);
        std::filesystem::remove_all(folder_);
        TheVariableDatabase = Game_Database(Game_Database::QuietConstruction{});
        TheUserDatabase = Game_Database(Game_Database::QuietConstruction{});
        DatabaseBaseline.clear();
        CommandTest::TearDown();
        BuildDatabaseNameIndex();
    }

    std::int32_t Cell(std::int32_t type, std::int32_t data, std::int32_t field) {
        return TheVariableDatabase.ReadNumber(type, data, field);
    }
    void SetCell(std::int32_t type, std::int32_t data, std::int32_t field, std::int32_t value) {
        ASSERT_TRUE(TheVariableDatabase.WriteNumber(type, data, field, value));
    }
    std::string FirstReport() { return Reports().empty() ? "" : Reports()[0].first; }

    std::filesystem::path oldFolder_;
    std::filesystem::path folder_;
};

TEST_F(DatabaseCommandTest, GeneralWriteAlwaysWritesTheVariableDatabase) {
    Execute(Command({250, 1, 2, 0, kUserSlot, 42}));
    EXPECT_EQ(Cell(1, 2, 0), 42);
    EXPECT_EQ(TheUserDatabase.ReadNumber(1, 2, 0), 0);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(DatabaseCommandTest, ADispatchedListRunsEveryCommandInOneFrame) {
    Load({Command({250, 0, 0, 0, 0, 5}), Command({252, 0, 10, 0, 2 << 12, 0}),
          Command({250, 0, -1, 0, kReadMode, Normal(0)})});
    Frame();
    EXPECT_FALSE(interpreter_->IsRunning());
    EXPECT_EQ(Cell(0, 10, 0), 5);
    EXPECT_EQ(Value(Normal(0)), 11);
}

TEST_F(DatabaseCommandTest, WriteOperatorsOnANumberCell) {
    struct Case {
        std::int32_t op, cur, value, expected;
    };
    const Case cases[] = {
        {0, 5, 9, 9},
        {1, INT_MAX, 1, INT_MIN},  // wraps
        {2, 5, 9, -4},
        {3, 5, -3, -15},
        {4, -7, 2, -3},  // truncates toward zero
        {4, 5, 0, 5},    // a zero divisor counts as 1
        {5, 5, 7, 5},
        {5, 5, 0, 0},
        {5, -7, 2, -1},
        {4, INT_MIN, -1, INT_MIN},  // the quotient that does not fit keeps the target
        {5, INT_MIN, -1, INT_MIN},
        {6, 5, 9, 9},
        {7, 5, 9, 5},
        {8, 5, 9, 5},  // no such operator: nothing
    };
    for (const Case& c : cases) {
        SetCell(0, 1, 1, c.cur);
        TheVariables.SetValue(Normal(0), c.value);
        Execute(Command({250, 0, 1, 1, Op(c.op), Normal(0)}));
        EXPECT_EQ(Cell(0, 1, 1), c.expected) << c.op << " " << c.cur << " " << c.value;
    }
    EXPECT_TRUE(Reports().empty());
}

TEST_F(DatabaseCommandTest, WriteSourcesAndTextCells) {
    // Source 1: argument 5 holds the id of the source variable.
    TheVariables.SetValue(Normal(1), Normal(2));
    TheVariables.SetValue(Normal(2), 77);
    Execute(Command({250, 0, 0, 0, 1, Normal(1)}));
    EXPECT_EQ(Cell(0, 0, 0), 77);
    // Source 2 sets and appends the expanded text to a text cell.
    Execute(Command({250, 0, 3, 2, 2, 0}, {"ab"}));
    Execute(Command({250, 0, 3, 2, 2 | Op(1), 0}, {"cd"}));
    EXPECT_EQ(TheVariableDatabase.ReadString(0, 3, 2), "abcd");
    // A text variable into a text cell.
    TheVariables.SetString(Text(0), nullptr, "xy");
    Execute(Command({250, 0, 4, 2, Op(1), Text(0)}));
    EXPECT_EQ(TheVariableDatabase.ReadString(0, 4, 2), "xy");
    EXPECT_TRUE(Reports().empty());
    // Mismatches are reported and change nothing.
    Execute(Command({250, 0, 0, 0, 0, Text(0)}));
    Execute(Command({250, 0, 3, 2, 0, 5}));
    Execute(Command({250, 0, 0, 0, 2, 0}, {"zz"}));
    ASSERT_EQ(Reports().size(), 3u);
    EXPECT_EQ(Reports()[0].first.rfind("DB書込 ERROR1", 0), 0u);
    EXPECT_EQ(Reports()[1].first.rfind("DB書込 ERROR2", 0), 0u);
    EXPECT_EQ(Reports()[1].third, "1100000302");
    EXPECT_EQ(Reports()[2].first.rfind("DB書込 ERROR5", 0), 0u);
    EXPECT_EQ(Cell(0, 0, 0), 77);
    EXPECT_EQ(TheVariableDatabase.ReadString(0, 3, 2), "abcd");
}

TEST_F(DatabaseCommandTest, WriteBeyondTheEntriesGrowsTheType) {
    Execute(Command({250, 2, 14, 0, 0, 3}));
    EXPECT_EQ(TheVariableDatabase.DataCount(2), 15);
    EXPECT_EQ(Cell(2, 14, 0), 3);
}

TEST_F(DatabaseCommandTest, NegativeNumbersAreReportedAndEndTheWrite) {
    Execute(Command({250, Normal(0), 0, 0, 0, 1}));  // fine: normal 0 holds 0
    TheVariables.SetValue(Normal(0), -4);
    Execute(Command({250, Normal(0), 0, 0, 0, 1}));
    Execute(Command({250, 0, Normal(0), 0, 0, 1}));
    Execute(Command({250, 0, 0, Normal(0), 0, 1}));
    ASSERT_EQ(Reports().size(), 3u);
    EXPECT_EQ(Reports()[0].first, "DB操作：タイプ番号がマイナスです！");
    EXPECT_EQ(Reports()[0].second, "-4");
    EXPECT_EQ(Reports()[1].first, "DB操作：データ番号がマイナスです！ => データ -4");
    EXPECT_EQ(Reports()[2].first, "DB操作：内容番号がマイナスです！");
}

TEST_F(DatabaseCommandTest, ResetsOfAnEntryAndOfAType) {
    SetCell(0, 2, 0, 99);
    Execute(Command({250, 0, 2, -2, 0, 0}));
    EXPECT_EQ(Cell(0, 2, 0), 7);
    // The whole type goes back to its recorded count with initial values.
    SetCell(0, 1, 0, 99);
    Execute(Command({250, 0, -2, 0, 0, 0}));
    EXPECT_EQ(TheVariableDatabase.DataCount(0), 3);
    EXPECT_EQ(Cell(0, 1, 0), 7);
    // Recorded as -1, or not recorded at all: the type is emptied.
    Execute(Command({250, 1, -2, 0, 0, 0}));
    Execute(Command({250, 2, -2, 0, 0, 0}));
    EXPECT_EQ(TheVariableDatabase.types[1].entries.size(), 0u);
    EXPECT_EQ(TheVariableDatabase.types[2].entries.size(), 0u);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(DatabaseCommandTest, ReadCellsOfEachDatabase) {
    SetCell(1, 2, 0, 12);
    TheUserDatabase.WriteNumber(1, 2, 0, 34);
    TheSystemDatabase.WriteNumber(2, 20, 1, 56);
    TheUserDatabase.WriteString(0, 1, 2, "Hero");
    Execute(Command({250, 1, 2, 0, kReadMode, Normal(0)}));
    EXPECT_EQ(Value(Normal(0)), 12);
    Execute(Command({250, 1, 2, 0, kReadMode | kUserSlot | Op(1), Normal(0)}));
    EXPECT_EQ(Value(Normal(0)), 46);
    // Source 1: argument 5 holds the destination's id.
    TheVariables.SetValue(Normal(3), Normal(4));
    Execute(Command({250, 2, 20, 1, kReadMode | kSystemSlot | 1, Normal(3)}));
    EXPECT_EQ(Value(Normal(4)), 56);
    Execute(Command({250, 0, 1, 2, kReadMode | kUserSlot, Text(0)}));
    EXPECT_EQ(String(Text(0)), "Hero");
    EXPECT_TRUE(Reports().empty());
    // A text cell into a number variable, a number cell into a text variable.
    Execute(Command({250, 0, 1, 2, kReadMode | kUserSlot, Normal(5)}));
    Execute(Command({250, 0, 1, 0, kReadMode | kUserSlot, Text(1)}));
    ASSERT_EQ(Reports().size(), 2u);
    EXPECT_EQ(Reports()[0].first,
              "DB読込 ERROR7：変数を格納すべき場所に文字列を代入しようとしました "
              "(1000000102を2000005に)");
    EXPECT_EQ(Reports()[1].second, "代入先 3000001 代入元 1000000100");
}

TEST_F(DatabaseCommandTest, ReadCounts) {
    // System type 2 holds 15 sounds of the game and 10 spare ones.
    Execute(Command({250, 2, -1, 0, kReadMode | kSystemSlot, Normal(0)}));
    EXPECT_EQ(Value(Normal(0)), 15);
    Execute(Command({250, 3, -1, 0, kReadMode, Normal(1)}));
    EXPECT_EQ(Value(Normal(1)), 10);
    Execute(Command({250, 3, -1, -1, kReadMode, Normal(2)}));
    EXPECT_EQ(Value(Normal(2)), 3);
    EXPECT_TRUE(Reports().empty());
    Execute(Command({250, 9, 0, -1, kReadMode | kUserSlot, Normal(2)}));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].first, "DB読込 ERROR：読み込もうとしたタイプ番号が存在しません ");
    EXPECT_EQ(Reports()[0].second, "ユーザDB タイプ9");
    EXPECT_EQ(Value(Normal(2)), 3);
}

TEST_F(DatabaseCommandTest, ReadNamesAndNumbers) {
    TheVariableDatabase.typeInfos[1].dataNames[4] = "Potion";
    // Type name into a text variable, type number (by the name flag) into a number variable.
    Execute(Command({250, 1, -3, -3, kReadMode, Text(0)}));
    EXPECT_EQ(String(Text(0)), "Type1");
    Execute(Command({250, 1, 4, -3, kReadMode, Text(1)}));
    EXPECT_EQ(String(Text(1)), "Potion");
    // The field's "\d[1]" counts from the field number.
    Execute(Command({250, 1, -3, 1, kReadMode, Text(2)}));
    EXPECT_EQ(String(Text(2)), "Slot2");
    Execute(Command({250, 1, -3, -3, kReadMode | (1 << 16), Normal(0)}));
    EXPECT_EQ(Value(Normal(0)), 1);
    EXPECT_TRUE(Reports().empty());
    // A name into a number variable is reported with the variable's id and changes nothing.
    TheVariables.SetValue(Normal(1), 8);
    Execute(Command({250, 1, -3, -3, kReadMode, Normal(1)}));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].first,
              "DB読込 ERROR7：変数を格納すべき場所に文字列を代入しようとしました "
              "(タイプ名を2000001に)");
    EXPECT_EQ(Value(Normal(1)), 8);
}

TEST(FieldNumberCodes, ReplacedFromTheStart) {
    EXPECT_EQ(ExpandFieldNumberCodes("Slot\\d[1]", 4), "Slot5");
    EXPECT_EQ(ExpandFieldNumberCodes("\\d[0]-\\d[10]", 2), "2-12");
    // An unclosed code is removed, and one formed by that removal is handled in turn.
    EXPECT_EQ(ExpandFieldNumberCodes("Slot\\d[1", 4), "Slot1");
    EXPECT_EQ(ExpandFieldNumberCodes("a\\d\\d[[", 0), "a");
    EXPECT_EQ(ExpandFieldNumberCodes("\\d[x]", 3), "3");
    EXPECT_EQ(ExpandFieldNumberCodes("\\d[2147483647]", 1), std::to_string(INT_MIN));
}

TEST_F(DatabaseCommandTest, NamesAreLookedUp) {
    TheVariableDatabase.typeInfos[2].dataNames[6] = "Sword";
    BuildDatabaseNameIndex();
    const std::int32_t byName = (1 << 16) | (1 << 17) | (1 << 18);
    Execute(Command({250, 0, 0, 0, byName, 31}, {"", "Type2", "Sword", "Attack"}));
    EXPECT_EQ(Cell(2, 6, 0), 31);
    // Fewer than four strings: the flags are not honoured.
    Execute(Command({250, 1, 0, 0, byName, 32}, {"", "Type2", "Sword"}));
    EXPECT_EQ(Cell(1, 0, 0), 32);
    EXPECT_TRUE(Reports().empty());
    Execute(Command({250, 0, 0, 0, byName, 1}, {"", "Nope", "Sword", "Attack"}));
    Execute(Command({250, 0, 0, 0, byName, 1}, {"", "Type2", "Nope", "Attack"}));
    Execute(Command({250, 0, 0, 0, byName, 1}, {"", "Type2", "Sword", "Nope"}));
    ASSERT_EQ(Reports().size(), 3u);
    EXPECT_EQ(Reports()[0].first, "【DB操作】 以下のタイプ名は存在しません");
    EXPECT_EQ(Reports()[0].second, "Nope");
    EXPECT_EQ(Reports()[1].first, "【DB操作】 タイプ2  には以下のデータ名は存在しません");
    EXPECT_EQ(Reports()[2].first, "【DB操作】 タイプ2 データ6 には以下の項目名は存在しません");
}

TEST_F(DatabaseCommandTest, UnsupportedDatabaseIsReported) {
    Execute(Command({250, 0, 0, 0, 3 << 8, 5}));
    Execute(Command({250, 0, 0, 0, kReadMode | (15 << 8), Normal(0)}));
    Execute(Command({251, 0, 0, 0, (4 << 8) | (1 << 12), 1}, {"a.csv"}));
    ASSERT_EQ(Reports().size(), 3u);
    for (const auto& r : Reports()) {
        EXPECT_EQ(r.first, "DB操作：CSV読み書き　データベース指定がおかしいです");
    }
    EXPECT_EQ(Cell(0, 0, 0), 0);
    EXPECT_FALSE(std::filesystem::exists("a.csv"));
}

// ---- 252 ----

TEST_F(DatabaseCommandTest, InsertAndRemoveAreClamped) {
    TheVariableDatabase.ResizeType(0, 9990);
    Execute(Command({252, 0, 0, 0, 0, 50}));
    EXPECT_EQ(TheVariableDatabase.DataCount(0), 10000);
    TheVariableDatabase.ResizeType(1, 12);
    SetCell(1, 7, 0, 70);
    Execute(Command({252, 1, 8, 0, 1 << 12, 10}));
    EXPECT_EQ(TheVariableDatabase.DataCount(1), 8);
    EXPECT_EQ(Cell(1, 7, 0), 70);
    // Inserting moves the entries after the position, and their names.
    TheVariableDatabase.typeInfos[2].dataNames[3] = "Shield";
    BuildDatabaseNameIndex();
    SetCell(2, 3, 0, 30);
    Execute(Command({252, 2, 1, 0, 0, 2}));
    EXPECT_EQ(Cell(2, 5, 0), 30);
    EXPECT_EQ(Cell(2, 1, 0), 7);
    EXPECT_EQ(DatabaseNameIndex[0].dataNames[2].at("Shield"), 5);
    // Nothing for counts below 1.
    Execute(Command({252, 2, 1, 0, 0, 0}));
    Execute(Command({252, 2, 1, 0, 1 << 12, -3}));
    EXPECT_EQ(TheVariableDatabase.DataCount(2), 12);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(DatabaseCommandTest, CopyAndItsFailure) {
    SetCell(3, 4, 1, 44);
    Execute(Command({252, 3, 8, 0, 2 << 12, 4}));
    EXPECT_EQ(Cell(3, 8, 1), 44);
    EXPECT_TRUE(Reports().empty());
    Execute(Command({252, 3, 1, 0, 2 << 12, 50}));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].first,
              "DB操作：データのコピーに失敗しました (タイプ3 データ50 → データ1)");
    EXPECT_EQ(Reports()[0].second, GetScriptLocationText());
}

TEST_F(DatabaseCommandTest, InsertRemoveRefusesOtherDatabasesAndNegatives) {
    Execute(Command({252, 0, 0, 0, kUserSlot, 5}));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].first,
              "DB操作：データの挿入/抜き取り　CDB以外のデータベース操作はできません");
    EXPECT_EQ(TheUserDatabase.DataCount(0), 3);
    Reports().clear();
    TheVariables.SetValue(Normal(0), -1);
    Execute(Command({252, Normal(0), Normal(0), 0, 0, 5}));
    ASSERT_EQ(Reports().size(), 2u);
    EXPECT_EQ(TheVariableDatabase.DataCount(0), 10);
}

// ---- 251 ----

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::int32_t CountRows(const std::string& csv) {
    std::int32_t rows = 0;
    for (std::size_t at = csv.find("\r\n"); at != std::string::npos;
         at = csv.find("\r\n", at + 2)) {
        ++rows;
    }
    return rows - 1;  // the row of field names
}

TEST_F(DatabaseCommandTest, ExportIsCutAtTheLastEntry) {
    for (std::int32_t d = 0; d < 10; ++d) SetCell(1, d, 0, 100 + d);
    Execute(Command({251, 1, 3, 0, 1 << 12, 100}, {"out/t.csv"}));
    const std::string csv = ReadFile("out/t.csv");
    EXPECT_EQ(CountRows(csv), 7);
    EXPECT_EQ(csv, FormatDatabaseCsv(TheVariableDatabase, 1, 3, 7));
    // From the user database.
    Execute(Command({251, 0, 0, 0, (1 << 12) | kUserSlot, 2}, {"u.csv"}));
    EXPECT_EQ(CountRows(ReadFile("u.csv")), 2);
    // Past the last entry: only the row of field names.
    Execute(Command({251, 1, 12, 0, 1 << 12, 5}, {"past.csv"}));
    EXPECT_EQ(ReadFile("past.csv"), FormatDatabaseCsv(TheVariableDatabase, 1, 12, 0));
    EXPECT_TRUE(Reports().empty());
}

TEST_F(DatabaseCommandTest, ImportGrowsTheTypeToTheRows) {
    std::string csv = "a,b,c\n";
    for (int r = 0; r < 12; ++r) csv += std::to_string(r) + "," + std::to_string(r * 2) + ",t\n";
    std::ofstream("in.csv", std::ios::binary) << csv;
    Execute(Command({251, 1, 5, 0, 0, 100}, {"in.csv"}));
    EXPECT_EQ(TheVariableDatabase.DataCount(1), 17);
    for (std::int32_t d = 5; d < 17; ++d) EXPECT_EQ(Cell(1, d, 1), (d - 5) * 2) << d;
    EXPECT_EQ(TheVariableDatabase.ReadString(1, 16, 2), "t");
    // Fewer rows wanted than the file has, inside the type: nothing grows.
    Execute(Command({251, 2, 0, 0, 0, 3}, {"in.csv"}));
    EXPECT_EQ(TheVariableDatabase.DataCount(2), 10);
    EXPECT_EQ(Cell(2, 2, 1), 4);
    EXPECT_EQ(Cell(2, 3, 1), 0);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(DatabaseCommandTest, ImportOfAMissingFileChangesNothing) {
    Execute(Command({251, 1, 20, 0, 0, 5}, {"none.csv"}));
    EXPECT_EQ(TheVariableDatabase.DataCount(1), 10);
}

TEST_F(DatabaseCommandTest, FileNamesOutsideTheGameFolderTouchNothing) {
    std::ofstream("../in.csv", std::ios::binary) << "a\n5,\n";
    for (const char* name : {"../in.csv", "../out.csv", "/tmp/x.csv", "a/../../b.csv"}) {
        Execute(Command({251, 1, 0, 0, 0, 5}, {name}));
        Execute(Command({251, 1, 0, 0, 1 << 12, 5}, {name}));
    }
    ASSERT_EQ(Reports().size(), 8u);
    EXPECT_EQ(Reports()[0].first,
              "エラー：ゲームフォルダ外部にはファイル出力/読込はできません([./]も使えません)");
    EXPECT_EQ(Reports()[0].second, "../in.csv");
    EXPECT_FALSE(std::filesystem::exists("../out.csv"));
    EXPECT_FALSE(std::filesystem::exists("a"));
    EXPECT_EQ(Cell(1, 0, 0), 0);  // the file's 5 never arrived
}

TEST_F(DatabaseCommandTest, CsvReportsNegativeNumbersAndSkipsEmptyCounts) {
    Execute(Command({251, -1, 0, 0, 1 << 12, 5}, {"n.csv"}));
    Execute(Command({251, 0, -2, 0, 1 << 12, 5}, {"n.csv"}));
    Execute(Command({251, 0, 0, 0, 1 << 12, 0}, {"n.csv"}));
    ASSERT_EQ(Reports().size(), 2u);
    EXPECT_EQ(Reports()[0].first, "DB操作：タイプ番号がマイナスです！");
    EXPECT_EQ(Reports()[1].first, "DB操作：データ番号がマイナスです！ => データ -2");
    EXPECT_FALSE(std::filesystem::exists("n.csv"));
}

}  // namespace
