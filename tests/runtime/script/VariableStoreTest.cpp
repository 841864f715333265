#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/data/SaveStream.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/GameRandom.h"
#include "runtime/shell/ReportCapture.h"

using shell_test::CapturedReport;
using shell_test::ReportCapture;

namespace {

std::int32_t LiveMap = -1;
std::int32_t CommonEvents = 0;

// A type with one number field and one string field and `entries` entries.
Game_DatabaseType MixedType(std::int32_t entries) {
    Game_DatabaseType t;
    t.fieldKinds = {kNumberFieldBase, kStringFieldBase};
    t.entries.assign(static_cast<std::size_t>(entries), Game_DatabaseEntry{{0}, {""}});
    return t;
}

class VariableStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LiveMap = 3;
        CommonEvents = 5;
        VariableStoreLinks& links = GetVariableStoreLinks();
        links.liveMapId = [] { return LiveMap; };
        links.commonEventCount = [] { return CommonEvents; };
        // The databases report their own faults through the data-file services.
        GetDataFileServices().reportRuntimeError = [](const std::string&, const std::string&,
                                                      const std::string&) {};
        // The system database sizes the normal list (type 14) at 5 and spare list k (type 14 + k)
        // at 4 + k, except spare set 3, which has no entries.
        TheSystemDatabase = Game_Database();
        TheSystemDatabase.kind = kSystemDatabase;
        TheSystemDatabase.SetTypeCount(24);
        for (std::int32_t k = 0; k < 10; ++k) {
            TheSystemDatabase.types[14 + k] = MixedType(k == 0 ? 5 : 4 + k);
        }
        TheSystemDatabase.types[17].entries.clear();
        TheUserDatabase = Game_Database();
        TheUserDatabase.kind = kUserDatabase;
        TheUserDatabase.SetTypeCount(3);
        TheUserDatabase.types[2] = MixedType(4);
        TheVariableDatabase = Game_Database();
        TheVariableDatabase.kind = kVariableDatabase;
        TheVariableDatabase.SetTypeCount(5);
        TheVariableDatabase.types[4] = MixedType(10);
        TheVariableDatabase.typeInfos[4].initialValues = {77, 0};
        store = Game_Variables();
    }
    void TearDown() override {
        ResetVariableStoreLinks();
        ResetDataFileServices();
        for (Game_Database* db : {&TheUserDatabase, &TheVariableDatabase, &TheSystemDatabase}) {
            *db = Game_Database();
        }
        TheSaveStream.Release();
    }

    std::vector<CapturedReport>& Reports() { return ReportCapture::reports(); }

    ReportCapture capture;
    Game_Variables store;
};

std::string Location() {
    return GetScriptLocationText();
}

}  // namespace

TEST_F(VariableStoreTest, ResetSizesTheListsFromTheSystemDatabaseAndTheCommonEvents) {
    ASSERT_EQ(store.numberLists.size(), 10u);
    EXPECT_EQ(store.numberLists[0].size(), 5u);
    EXPECT_EQ(store.numberLists[1].size(), 5u);
    EXPECT_EQ(store.numberLists[3].size(), 0u);
    EXPECT_EQ(store.numberLists[9].size(), 13u);
    EXPECT_EQ(store.commonSelfIntegers,
              std::vector<std::vector<std::int32_t>>(5, std::vector<std::int32_t>(100)));
    EXPECT_EQ(store.commonSelfStrings.size(), 5u);
    EXPECT_EQ(store.commonSelfStrings[4].size(), 5u);
    // Fifteen types or fewer leave all ten lists empty.
    TheSystemDatabase.SetTypeCount(15);
    store.Reset();
    ASSERT_EQ(store.numberLists.size(), 10u);
    for (const auto& list : store.numberLists) EXPECT_TRUE(list.empty());
}

// The store's cases, one row each: what is done, what is read back, and the reports made.
TEST_F(VariableStoreTest, IdSpaceCasesReadWriteAndReportAsTheStoreDefines) {
    const std::string loc = Location();
    struct Case {
        const char* name;
        std::function<std::string(Game_Variables&)> run;
        std::string expected;
        std::vector<CapturedReport> reports;
    };
    const std::vector<Case> cases = {
        {"negative literal reads itself",
         [](Game_Variables& v) { return std::to_string(v.GetValue(-42)); },
         "-42",
         {}},
        {"literal write is ignored",
         [](Game_Variables& v) {
             v.SetValue(123, 9);
             return std::to_string(v.GetValue(123));
         },
         "123",
         {}},
        {"literal as a text", [](Game_Variables& v) { return v.GetString(5); }, "<<ERROR>>", {}},
        {"old common self read as a number",
         [](Game_Variables& v) { return std::to_string(v.GetValue(1550000)); },
         "0",
         {{"読込先IDが1500000～1600000[旧ｺﾓﾝｲﾍﾞﾝﾄｾﾙﾌ変数]です、読み込めません", loc, ""}}},
        {"old common self read as a text",
         [](Game_Variables& v) { return v.GetString(1550000); },
         "<<ERROR>>",
         {{"読込先IDが1500000～1600000[旧ｺﾓﾝｲﾍﾞﾝﾄｾﾙﾌ変数]です、読み込めません", loc, ""}}},
        {"old common self written as a number",
         [](Game_Variables& v) {
             v.SetValue(1550000, 4);
             return std::string();
         },
         "",
         {}},
        {"old common self written as a text",
         [](Game_Variables& v) {
             v.SetString(1550000, nullptr, "x");
             return std::string();
         },
         "",
         {{"格納先IDが1500000～1600000[旧ｺﾓﾝｲﾍﾞﾝﾄｾﾙﾌ変数指定]です､格納できません", loc, ""}}},
        {"unrewritten this-common-event id reads 0",
         [](Game_Variables& v) { return std::to_string(v.GetValue(1600003)); },
         "0",
         {}},
        {"map self on an unseen map creates its lists",
         [](Game_Variables& v) {
             v.mapOverride = 7;
             v.SetValue(1000123, 55);
             v.mapOverride = 7;
             const std::int32_t other = v.GetValue(1000124);
             v.mapOverride = 7;
             return std::to_string(v.mapEventSelf.size()) + "," +
                    std::to_string(v.mapEventSelf[7].size()) + "," +
                    std::to_string(v.mapEventSelf[7][12].size()) + "," +
                    std::to_string(v.GetValue(1000123)) + "," + std::to_string(other);
         },
         "8,13,4,55,0",
         {}},
        {"the override serves one call",
         [](Game_Variables& v) {
             v.mapOverride = 7;
             v.SetValue(1000010, 1);  // map 7
             v.SetValue(1000010, 2);  // the live map 3
             v.mapOverride = 7;
             v.GetValue(9000001);  // a system variable call consumes it too
             const std::int32_t live = v.GetValue(1000010);
             v.mapOverride = 7;
             const std::int32_t overridden = v.GetValue(1000010);
             return std::to_string(live) + "," + std::to_string(overridden) + "," +
                    std::to_string(v.mapOverride);
         },
         "2,1,-1",
         {}},
        {"normal variable beyond its list",
         [](Game_Variables& v) {
             v.SetValue(2000005, 9);
             return std::to_string(v.GetValue(2000005));
         },
         "0",
         {{loc,
           "エラー：以下の変数の保存領域が確保されていません、通常変数のサイズを6個に増やしてくだ"
           "さい",
           "2000005"}}},
        {"normal variable inside its list",
         [](Game_Variables& v) {
             v.SetValue(2000004, 9);
             return std::to_string(v.GetValue(2000004));
         },
         "9",
         {}},
        {"spare variable of an empty set",
         [](Game_Variables& v) {
             v.SetValue(2300000, 1);
             return std::to_string(v.GetValue(2300000));
         },
         "0",
         {{loc,
           "エラー：以下の変数の保存領域が確保されていません、予備変数3のサイズを1個に増やしてく"
           "ださい",
           "2300000"}}},
        {"string variable read as a number",
         [](Game_Variables& v) { return std::to_string(v.GetValue(3000002)); },
         "-1",
         {{"「変数」呼び出し時の呼び出しIDが不適切です => ID 3000002", loc, ""}}},
        {"string variable grows on write, not on read",
         [](Game_Variables& v) {
             const std::string before = v.GetString(3000004);
             const std::size_t sizeBefore = v.strings.size();
             v.SetString(3000004, nullptr, "日本語");
             return before + std::to_string(sizeBefore) + "," + std::to_string(v.strings.size()) +
                    "," + v.GetString(3000004);
         },
         "0,5,日本語",
         {}},
        {"common self text slot written as a number",
         [](Game_Variables& v) {
             v.SetValue(15000305, 1);
             return std::to_string(v.GetValue(15000305));
         },
         "0",
         {{"整数をコモンセルフの文字列域に代入しようとしました", loc, "15000305"}}},
        {"common self text slot written as a text",
         [](Game_Variables& v) {
             v.SetString(15000305, nullptr, "abc");
             return v.commonSelfStrings[3][0] + "," + v.GetString(15000305);
         },
         "abc,abc",
         {}},
        {"common self integer slot written as a text",
         [](Game_Variables& v) {
             v.SetString(15000310, nullptr, "abc");
             return std::string();
         },
         "",
         {{"文字列をコモンセルフの整数域に代入しようとしました", loc, "格納先 15000310"}}},
        {"common self text on a common event beyond the list grows it",
         [](Game_Variables& v) {
             v.SetString(15000906, nullptr, "z");
             return std::to_string(v.commonSelfStrings.size()) + "," +
                    std::to_string(v.commonSelfStrings[9].size()) + "," +
                    std::to_string(v.commonSelfStrings[7].size()) + "," + v.GetString(15000906);
         },
         "10,2,0,z",
         {}},
        {"common self integer outside the list is ignored",
         [](Game_Variables& v) {
             v.SetValue(15000912, 3);
             v.SetValue(15000412, 8);
             return std::to_string(v.GetValue(15000912)) + "," +
                    std::to_string(v.GetValue(15000412));
         },
         "0,8",
         {}},
        {"text into a place for numbers",
         [](Game_Variables& v) {
             v.SetString(2000001, nullptr, "t");
             return std::string();
         },
         "",
         {{"格納先 2000001 代入値「t」  文字列操作：「文字列」を格納すべき場所に「変数」を代入しよ"
           "うとしました",
           loc, ""}}},
        {"system variables answer as unlisted ids until they have an owner",
         [](Game_Variables& v) {
             v.SetValue(9000010, 4);
             v.SetString(9900001, nullptr, "s");
             return std::to_string(v.GetValue(9000010)) + v.GetString(9900001);
         },
         "0<<ERROR>>",
         {{"格納先 9900001 代入値「s」  文字列操作：「文字列」を格納すべき場所に「変数」を代入しよ"
           "うとしました",
           loc, ""}}},
        {"id beyond the databases is not assignable",
         [](Game_Variables& v) {
             v.SetValue(1250000000, 6);
             return std::to_string(v.GetValue(1250000000)) + v.GetString(1450000001);
         },
         "0<<ERROR>>",
         {{"格納先 1250000000 代入値 6  変数処理:エラー、代入できません", loc, ""}}},
        {"user database number cell grows its type",
         [](Game_Variables& v) {
             v.SetValue(1002000600, 31);  // type 2, data 6, field 0
             return std::to_string(TheUserDatabase.DataCount(2)) + "," +
                    std::to_string(v.GetValue(1002000600));
         },
         "7,31",
         {}},
        {"string into a user database number field",
         [](Game_Variables& v) {
             v.SetString(1002000100, nullptr, "q");
             return std::string();
         },
         "",
         {{"ユーザDBの「変数」を格納すべき場所に「文字列」を代入しようとしました", loc,
           "格納先 1002000100"}}},
        {"number into a system database string field",
         [](Game_Variables& v) {
             v.SetValue(1314000101, 3);
             return std::string();
         },
         "",
         {{"システムDBの「変数」を格納すべき場所に「文字列変数」を代入しようとしました", loc,
           "格納先 1314000101"}}},
        {"variable database cell read grows the live type",
         [](Game_Variables& v) {
             const std::int32_t value = v.GetValue(1104005000);  // type 4, data 50, field 0
             return std::to_string(value) + "," + std::to_string(TheVariableDatabase.DataCount(4));
         },
         "77,51",
         {}},
        {"a snapshot's variable database does not grow on read",
         [](Game_Variables& v) {
             Game_Database snapshot = TheVariableDatabase;
             v.GetValue(1104005000, &snapshot);
             return std::to_string(snapshot.DataCount(4)) + "," +
                    std::to_string(TheVariableDatabase.DataCount(4));
         },
         "10,10",
         {}},
        {"variable database text cell through the argument",
         [](Game_Variables& v) {
             Game_Database snapshot = TheVariableDatabase;
             v.SetString(1104000201, &snapshot, "in snapshot");
             return v.GetString(1104000201, &snapshot) + "|" + v.GetString(1104000201);
         },
         "in snapshot|",
         {}},
        {"character properties without a map",
         [](Game_Variables& v) {
             v.SetValue(9100012, 5);
             return std::to_string(v.GetValue(9100012)) + "," +
                    std::to_string(v.GetValue(9180030)) + "," + v.GetString(9100019);
         },
         "0,-1,<<ERROR>>",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        Reports().clear();
        EXPECT_EQ(c.run(store), c.expected);
        // The database's own reports go through the data-file services; these are the store's.
        EXPECT_EQ(Reports(), c.reports);
    }
}

TEST_F(VariableStoreTest, RandomIdsStayInsideTheirRangeAndStepTheGenerator) {
    std::set<std::int32_t> seen;
    for (int i = 0; i < 400; ++i) {
        const std::int32_t value = store.GetValue(8000009);
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 9);
        seen.insert(value);
    }
    EXPECT_EQ(seen.size(), 10u);
    const std::uint32_t before = GameRandom(1, 0);
    EXPECT_EQ(store.GetValue(8000000), 0);
    EXPECT_NE(GameRandom(1, 0), before);
}

TEST_F(VariableStoreTest, CellReferencesFollowTheirListsAndNeverOutliveThem) {
    store.commonSelfIntegers[3][12] = 312;
    store.commonSelfIntegers[2][12] = 212;
    EXPECT_EQ(ResolveVariableCell(store, 15000312, -1).Read(), 0);  // negative index: none
    EXPECT_EQ(ResolveVariableCell(store, 15000312, 0).Read(), 312);
    EXPECT_FALSE(ResolveVariableCell(store, 15000307, 0));
    EXPECT_EQ(ResolveVariableCell(store, 1600012, 2).Read(), 212);
    EXPECT_FALSE(ResolveVariableCell(store, 1600012, -1));
    EXPECT_FALSE(ResolveVariableCell(store, 1600006, 2));
    EXPECT_FALSE(ResolveVariableCell(store, 15000912, 0));  // common event 9 does not exist
    EXPECT_FALSE(ResolveVariableCell(store, 2000005, 0));   // beyond the normal list
    EXPECT_FALSE(ResolveVariableCell(store, 3000001, 0));
    EXPECT_FALSE(ResolveVariableCell(store, 1104000201, 0));  // a string field

    VariableCellRef normal = ResolveVariableCell(store, 2000004, -1);
    VariableCellRef spare = ResolveVariableCell(store, 2900012, -1);
    VariableCellRef common = ResolveVariableCell(store, 15000450, 0);
    VariableCellRef cell = ResolveVariableCell(store, 1104000900, -1);
    ASSERT_TRUE(normal && spare && common && cell);
    EXPECT_TRUE(normal.Write(44));
    EXPECT_EQ(store.GetValue(2000004), 44);
    EXPECT_TRUE(cell.Write(19));
    EXPECT_EQ(TheVariableDatabase.ReadNumber(4, 9, 0), 19);

    // The lists are replaced and shrunk: the references find nothing and touch nothing.
    store.numberLists.resize(1);
    store.numberLists[0].assign(2, 0);
    store.commonSelfIntegers.clear();
    store.commonSelfIntegers.shrink_to_fit();
    TheVariableDatabase.ResizeType(4, 3);
    for (const VariableCellRef* ref : {&normal, &spare, &common, &cell}) {
        EXPECT_EQ(ref->Get(), nullptr);
        EXPECT_EQ(ref->Read(), 0);
        EXPECT_FALSE(ref->Write(1));
    }
    // Grown again, they reach the new storage.
    store.numberLists[0].assign(8, 5);
    EXPECT_EQ(normal.Read(), 5);
    // A store replaced by assignment (the restart point) keeps its address.
    store = Game_Variables();
    EXPECT_EQ(normal.Read(), 0);
    EXPECT_TRUE(normal.Write(3));
    EXPECT_EQ(store.GetValue(2000004), 3);
}

TEST_F(VariableStoreTest, IntegerAndTextIdsAreToldApart) {
    const std::vector<std::pair<std::int32_t, bool>> cases = {
        {-5, true},         {0, true},           {1000123, true},     {1600004, true},
        {1600005, false},   {1600009, false},    {1600010, true},     {2999999, true},
        {3000000, false},   {3999999, false},    {4000000, true},     {9000001, true},
        {9100009, false},   {9189999, false},    {9190009, false},    {9100008, true},
        {9900000, false},   {15000305, false},   {15000310, true},    {15000304, true},
        {1104000200, true}, {1104000201, false}, {1104009999, false}, {1250000000, true},
    };
    for (const auto& [id, integer] : cases) EXPECT_EQ(IsIntegerVariableId(id), integer) << id;
}

TEST_F(VariableStoreTest, PropertyWriteRulesForDirectionsAndShadows) {
    struct Case {
        std::int32_t value;
        bool party, diagonal;
        std::int32_t expected;
    };
    for (const Case& c : std::vector<Case>{{7, true, false, 8},
                                           {9, true, false, 8},
                                           {1, true, false, 2},
                                           {3, true, false, 2},
                                           {5, true, false, 2},
                                           {7, false, false, 2},
                                           {5, false, true, 2},
                                           {5, true, true, 2},
                                           {7, true, true, 7},
                                           {4, false, false, 4},
                                           {-3, false, true, 1},
                                           {12, true, true, 9}}) {
        EXPECT_EQ(NormalizeWrittenDirection(c.value, c.party, c.diagonal), c.expected)
            << c.value << " " << c.party << " " << c.diagonal;
    }
    Game_SystemState state{Game_SystemState::QuietConstruction{}};
    RecordPartyShadow(0, 0x12345, state);
    RecordPartyShadow(2, 77, state);
    RecordPartyShadow(6, 99, state);
    EXPECT_EQ(state.playerShadow, 0x2345);
    EXPECT_EQ(state.followerShadows, (std::vector<std::int32_t>{-1, 77, -1, -1, -1}));
}

// ---- The save part ----

namespace {

std::vector<std::uint8_t> SaveBytes(Game_Variables& v) {
    TheSaveStream.BeginWrite(true);
    v.Save();
    const std::int32_t measured = TheSaveStream.position;
    TheSaveStream.BeginWrite(false, static_cast<std::size_t>(measured));
    v.Save();
    EXPECT_EQ(TheSaveStream.position, measured);
    std::vector<std::uint8_t> bytes = TheSaveStream.buffer;
    bytes.resize(static_cast<std::size_t>(TheSaveStream.position));
    return bytes;
}

bool LoadBytes(Game_Variables& v, std::vector<std::uint8_t> bytes, std::int16_t format = 140,
               bool restoreRandom = false) {
    TheSaveStream.BeginRead(std::move(bytes), true, format);
    return v.Load(restoreRandom);
}

// A body written item by item.
struct Body {
    SaveStream s;
    Body() { s.BeginWrite(false); }
    Body& I32(std::int32_t v) {
        s.WriteInt32(v);
        return *this;
    }
    Body& U8(std::uint8_t v) {
        s.WriteByte(v);
        return *this;
    }
    Body& Text(const std::string& t) {
        s.WriteLongString(t);
        return *this;
    }
    std::vector<std::uint8_t> bytes() const {
        return {s.buffer.begin(), s.buffer.begin() + s.position};
    }
};

}  // namespace

TEST_F(VariableStoreTest, AVariedStoreRoundTrips) {
    for (std::int32_t map : {0, 2, 40}) {
        for (std::int32_t e = 0; e < 30; e += 7) {
            store.mapOverride = map;
            store.SetValue(1000000 + 10 * e + e % 10, map * 1000 + e);
        }
    }
    for (std::int32_t k = 0; k < 10; ++k) {
        for (std::size_t n = 0; n < store.numberLists[k].size(); ++n) {
            store.numberLists[k][n] = static_cast<std::int32_t>(k * 100 + n) - 50;
        }
    }
    store.SetString(3000000, nullptr, "ゲームの文字列です");
    store.SetString(3000003, nullptr, std::string(70000, 'x') + "終");
    store.SetString(15000209, nullptr, "コモン");
    store.commonSelfIntegers[4][99] = INT32_MIN;
    GameRandom(2, 123456);
    const std::vector<std::uint8_t> bytes = SaveBytes(store);

    Game_Variables loaded;
    GameRandom(2, 99);
    ASSERT_TRUE(LoadBytes(loaded, bytes, 140, true));
    EXPECT_FALSE(TheSaveStream.overrun);
    EXPECT_EQ(TheSaveStream.position, TheSaveStream.size);
    EXPECT_EQ(GameRandom(1, 0), 123456u);
    EXPECT_EQ(loaded.mapEventSelf, store.mapEventSelf);
    EXPECT_EQ(loaded.numberLists, store.numberLists);
    EXPECT_EQ(loaded.strings, store.strings);
    EXPECT_EQ(loaded.commonSelfIntegers, store.commonSelfIntegers);
    EXPECT_EQ(loaded.commonSelfStrings, store.commonSelfStrings);
    // A snapshot read leaves the generator alone.
    ASSERT_TRUE(LoadBytes(loaded, bytes, 140, false));
    EXPECT_EQ(GameRandom(1, 0), 123456u);
}

TEST_F(VariableStoreTest, LoadGrowsButNeverShrinksTheNormalAndStringLists) {
    store.strings.assign(10, "old");
    store.numberLists[0] = {1, 2, 3, 4, 5, 6, 7, 8};
    Body body;
    body.I32(5).I32(0);                           // random, no maps
    body.I32(10).I32(3).I32(11).I32(12).I32(13);  // list 0 shorter
    for (int k = 1; k < 10; ++k) body.I32(0);
    body.I32(0);         // no strings
    body.I32(0).I32(0);  // no common events
    ASSERT_TRUE(LoadBytes(store, body.bytes()));
    EXPECT_EQ(store.numberLists[0], (std::vector<std::int32_t>{11, 12, 13, 0, 0, 0, 0, 0}));
    EXPECT_EQ(store.strings, std::vector<std::string>(10));
    // Fewer saved common events than the game has: the rest start from zero.
    EXPECT_EQ(store.commonSelfIntegers,
              std::vector<std::vector<std::int32_t>>(5, std::vector<std::int32_t>(100)));
    EXPECT_EQ(store.commonSelfStrings,
              std::vector<std::vector<std::string>>(5, std::vector<std::string>(5)));
}

TEST_F(VariableStoreTest, DamagedCountsEndTheLoad) {
    struct Case {
        const char* name;
        Body body;
        bool overrun;
    };
    auto prefix = [] { return Body().I32(1).I32(0); };
    std::vector<Case> cases;
    cases.push_back({"list count 10000", prefix().I32(10000), false});
    cases.push_back({"negative list count", prefix().I32(-1), false});
    cases.push_back({"negative map count", Body().I32(1).I32(-4), false});
    cases.push_back({"common count 10001", prefix().I32(0).I32(0).I32(10001), false});
    cases.push_back({"second common count 10001", prefix().I32(0).I32(0).I32(0).I32(10001), false});
    cases.push_back({"a cut inside a text",
                     [&] {
                         Body b = prefix();
                         b.I32(0).I32(1).I32(20);
                         b.s.WriteBlock("only nine", 9);
                         return b;
                     }(),
                     true});
    cases.push_back({"a map count the data cannot hold", Body().I32(1).I32(100000000), true});
    cases.push_back({"a list length the data cannot hold", prefix().I32(1).I32(2000000000), true});
    cases.push_back({"a string count the data cannot hold", prefix().I32(0).I32(900000000), true});
    cases.push_back({"a slot count beyond the data", Body().I32(1).I32(1).I32(1).U8(200), true});
    cases.push_back({"cut before the random state", Body(), true});
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        Game_Variables v;
        EXPECT_FALSE(LoadBytes(v, c.body.bytes()));
        EXPECT_EQ(TheSaveStream.overrun, c.overrun);
    }
}

TEST_F(VariableStoreTest, OldSavesHoldShortCountedTexts) {
    // Below format 111 a text has a 16-bit count.
    SaveStream s;
    s.BeginWrite(false);
    s.WriteInt32(1);
    s.WriteInt32(0);
    s.WriteInt32(0);
    s.WriteInt32(2);
    s.WriteShortString("abc");
    s.WriteShortString("");
    s.WriteInt32(0);
    s.WriteInt32(0);
    std::vector<std::uint8_t> bytes(s.buffer.begin(), s.buffer.begin() + s.position);
    ASSERT_TRUE(LoadBytes(store, bytes, 110));
    EXPECT_EQ(store.strings, (std::vector<std::string>{"abc", ""}));
    EXPECT_FALSE(LoadBytes(store, bytes, 111));
}

TEST_F(VariableStoreTest, CharacterPropertiesAreHandedToTheirOwners) {
    static std::vector<std::string> calls;
    calls.clear();
    VariableStoreLinks& links = GetVariableStoreLinks();
    // Map event 12 and the player with two followers exist.
    links.readCharacterProperty = [](VariableCharacter who, std::int32_t property,
                                     std::int32_t& value) {
        if (who.partyMember ? who.number > 2 : who.number != 12) return false;
        value = 100 * who.number + property;
        return true;
    };
    links.writeCharacterProperty = [](VariableCharacter who, std::int32_t property,
                                      std::int32_t value) {
        calls.push_back((who.partyMember ? "party " : "event ") + std::to_string(who.number) + " " +
                        std::to_string(property) + "=" + std::to_string(value));
    };
    links.readCharacterGraphic = [](VariableCharacter who, std::string& name) {
        if (who.partyMember || who.number != 12) return false;
        name = "chip.png";
        return true;
    };
    links.writeCharacterGraphic = [](VariableCharacter who, const std::string& name) {
        calls.push_back("graphic " + std::to_string(who.number) + " " + name);
        return !who.partyMember && who.number == 12;
    };
    TheGameSystem.characterGraphicsChanged = 0;
    EXPECT_EQ(store.GetValue(9100126), 1206);
    EXPECT_EQ(store.GetValue(9100129), 0);  // the graphic is no number
    EXPECT_EQ(store.GetValue(9100136), 0);  // event 13 does not exist
    EXPECT_EQ(store.GetValue(9180024), 204);
    EXPECT_EQ(store.GetValue(9180034), -1);  // member 3 of a party of three
    EXPECT_EQ(store.GetValue(9190004), 0);   // "this event" reaching the store unrewritten
    store.SetValue(9100127, 3);
    store.SetValue(9180016, 7);
    store.SetValue(9100129, 1);  // ignored
    EXPECT_EQ(store.GetString(9100129), "chip.png");
    EXPECT_EQ(store.GetString(9180009), "<<ERROR>>");
    EXPECT_EQ(store.GetString(9100128), "<<ERROR>>");
    store.SetString(9180009, nullptr, "none.png");
    EXPECT_EQ(TheGameSystem.characterGraphicsChanged, 0);
    store.SetString(9100128, nullptr, "not a graphic");  // other properties do nothing
    store.SetString(9100129, nullptr, "new.png");
    EXPECT_EQ(TheGameSystem.characterGraphicsChanged, 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"event 12 7=3", "party 1 6=7", "graphic 0 none.png",
                                               "graphic 12 new.png"}));
    EXPECT_TRUE(Reports().empty());
    // A map id beyond any map keeps no self variables.
    store.mapOverride = 5000000;
    store.SetValue(1000001, 1);
    EXPECT_TRUE(store.mapEventSelf.empty());
    TheGameSystem.characterGraphicsChanged = 0;
}
