#include <gtest/gtest.h>

#include <map>

#include "DataTestSupport.h"
#include "runtime/data/EventData.h"
#include "runtime/data/SaveStream.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

namespace {

std::map<std::int32_t, std::int32_t> g_variables;
std::int32_t ReadVariable(std::int32_t id) {
    if (id < 1000000) return id;
    auto it = g_variables.find(id);
    return it == g_variables.end() ? 0 : it->second;
}

void LoadBytes(const std::vector<std::uint8_t>& bytes) {
    TheDataFileBuffer.Load(bytes);
    TheDataFileBuffer.utf8 = true;
}

}  // namespace

TEST(ConditionOperatorTest, Table) {
    struct Case {
        int op;
        std::int32_t left, right;
        bool holds;
    };
    const Case cases[] = {
        {0, 5, 4, true},   {0, 4, 4, false}, {1, 4, 4, true},   {2, 4, 4, true}, {2, 4, 5, false},
        {3, 4, 4, true},   {4, 3, 4, true},  {4, 4, 4, false},  {5, 3, 4, true}, {6, 13, 5, true},
        {6, 13, 6, false}, {7, 1, 1, false}, {15, 0, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EvaluateConditionOperator(c.op, c.left, c.right), c.holds) << c.op;
    }
}

TEST(PageConditionTest, CheckStopsAtTheFirstUnusedConditionAndRemapsThisEvent) {
    g_variables = {{1000123, 7}, {2000005, 3}, {9100124, 50}};
    Game_PageCondition c;
    // Condition 0 unused: passes although condition 1 would fail.
    c.conditions[0] = 0x20;
    c.conditions[1] = 0x21;
    c.variableIds[1] = 2000005;
    c.values[1] = 99;
    EXPECT_TRUE(c.Check(12, ReadVariable));
    // Self variable 3 of this event, tested for event 12, is variable 1,000,123.
    c.conditions[0] = 0x21;  // ==
    c.variableIds[0] = 1100003;
    c.values[0] = 7;
    c.conditions[1] = 0x00;
    EXPECT_TRUE(c.Check(12, ReadVariable));
    EXPECT_FALSE(c.Check(13, ReadVariable));
    // The right side may name a variable too; property 4 of this event.
    c.values[0] = 9190004;
    g_variables[1000123] = 50;
    EXPECT_TRUE(c.Check(12, ReadVariable));
    // Operator nibble 7 makes a used condition fail.
    c.conditions[0] = 0x71;
    EXPECT_FALSE(c.Check(12, ReadVariable));
}

TEST(MoveRouteTest, OptionsAndDefaults) {
    Game_MoveRoute r;
    EXPECT_TRUE(r.AnimatesWhenStopped());
    EXPECT_TRUE(r.AnimatesWhenMoving());
    EXPECT_FALSE(r.HasFixedDirection() || r.PassesThrough() || r.HasTopPriority() ||
                 r.HasExtendedContact() || r.IsShiftedHalfUp() || r.IsShiftedHalfLeft());
    r.options = 0xFC;
    EXPECT_TRUE(r.HasFixedDirection() && r.PassesThrough() && r.HasTopPriority() &&
                r.HasExtendedContact() && r.IsShiftedHalfUp() && r.IsShiftedHalfLeft());
    EXPECT_EQ(r.routeOptions, 2);
    EXPECT_EQ(r.setting2, 3);
}

TEST(EventRecordTest, EventRoundTripAndLastCodeForcedToEnd) {
    Game_EventData event = gamedata::MakeSampleEvent(4, 3, 77);
    event.pages[1].commands.back().arguments[0] = 0;  // stored without the end code
    gamedata::ByteWriter out;
    gamedata::WriteEventData(out, event);
    LoadBytes(out.bytes);
    Game_EventData read;
    ASSERT_TRUE(read.Read());
    EXPECT_EQ(TheDataFileBuffer.Remaining(), 0u);
    event.pages[1].commands.back().arguments[0] = kEndOfListCode;
    EXPECT_EQ(read, event);
    TheDataFileBuffer.Release();
}

TEST(EventRecordTest, GrowOnlyListsKeepTheirDefaults) {
    // A page storing one contact byte keeps three; a command with no arguments keeps its code
    // slot.
    Game_EventData event = gamedata::MakeSampleEvent(1, 1, 5);
    event.pages[0].contactBytes = {9};
    event.pages[0].commands[0].arguments.clear();
    gamedata::ByteWriter out;
    gamedata::WriteEventData(out, event);
    LoadBytes(out.bytes);
    Game_EventData read;
    ASSERT_TRUE(read.Read());
    EXPECT_EQ(read.pages[0].contactBytes, (std::vector<std::uint8_t>{9, 0, 0}));
    EXPECT_EQ(read.pages[0].commands[0].arguments, std::vector<std::int32_t>{0});
    // No pages stored: the default first page stays.
    event.pages.clear();
    out = {};
    gamedata::WriteEventData(out, event);
    LoadBytes(out.bytes);
    Game_EventData noPages;
    ASSERT_TRUE(noPages.Read());
    EXPECT_EQ(noPages.pages.size(), 1u);
    EXPECT_EQ(noPages.pages[0], Game_EventPage{});
    TheDataFileBuffer.Release();
}

TEST(EventRecordTest, CountsOutsideTheirRangesAreDamage) {
    auto commandBytes = [](std::int8_t argumentCount, std::int8_t stringCount) {
        gamedata::ByteWriter out;
        out.U8(static_cast<std::uint8_t>(argumentCount));
        for (int i = 0; i < (argumentCount > 0 ? argumentCount : 0); ++i) out.I32(i);
        out.U8(0);
        out.U8(static_cast<std::uint8_t>(stringCount));
        out.U8(0);
        return out.bytes;
    };
    LoadBytes(commandBytes(2, 0));
    Game_EventCommand good;
    EXPECT_TRUE(good.Read());
    for (const auto& bytes : {commandBytes(-1, 0), commandBytes(1, -128)}) {
        LoadBytes(bytes);
        Game_EventCommand c;
        EXPECT_FALSE(c.Read());
        EXPECT_TRUE(TheDataFileBuffer.damaged);
    }
    // A command list of 0 commands and a route of 65,537 commands.
    gamedata::ByteWriter empty;
    empty.I32(0);
    LoadBytes(empty.bytes);
    Game_CommandList list;
    EXPECT_FALSE(ReadCommandList(list));
    gamedata::ByteWriter route;
    for (int i = 0; i < 6; ++i) route.U8(1);
    route.I32(65537);
    route.bytes.resize(route.bytes.size() + 65537 * 3, 0);
    LoadBytes(route.bytes);
    Game_MoveRoute r;
    EXPECT_FALSE(r.Read(false));
    TheDataFileBuffer.Release();
}

TEST(MoveRouteSaveTest, SaveFormRoundTripsAndCutsWhatItCannotCarry) {
    Game_MoveRoute route;
    route.setting0 = 9, route.options = 0x85, route.routeOptions = 4;
    route.commands.push_back(Game_MoveCommand{3, {1, -2}, std::string(254, 'a')});
    route.commands.push_back(Game_MoveCommand{4, {}, ""});
    SaveStream& s = TheSaveStream;
    s.BeginWrite(true);
    route.WriteSave();
    const std::int32_t measured = s.position;
    s.BeginWrite(false, static_cast<std::size_t>(measured));
    route.WriteSave();
    ASSERT_EQ(s.position, measured);
    // The 254-byte text is stored with the length byte 255; an empty text as 1 and one zero.
    const std::size_t textLengthAt = 6 + 4 + 2 + 8;
    EXPECT_EQ(s.buffer[textLengthAt], 255);
    EXPECT_EQ(s.buffer[measured - 2], 1);
    EXPECT_EQ(s.buffer[measured - 1], 0);
    s.BeginRead(s.buffer, true, SaveStream::kCurrentFormat);
    Game_MoveRoute read;
    read.commands.resize(9);  // a route read from a save replaces the whole list
    ASSERT_TRUE(read.Read(true));
    EXPECT_EQ(read, route);
    // Every cut of the record is an overrun, never a read past the end.
    const auto full = s.buffer;
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        s.BeginRead(std::vector<std::uint8_t>(full.begin(), full.begin() + cut), true, 140);
        Game_MoveRoute partial;
        EXPECT_FALSE(partial.Read(true)) << cut;
        EXPECT_TRUE(s.overrun) << cut;
    }
    // Too many arguments or text for the record: cut so that the record stays readable.
    Game_MoveRoute big;
    big.commands.push_back(
        Game_MoveCommand{1, std::vector<std::int32_t>(300, 7), std::string(400, 'b')});
    s.BeginWrite(false, 0);
    big.WriteSave();
    s.BeginRead(s.buffer, true, 140);
    ASSERT_TRUE(read.Read(true));
    EXPECT_EQ(read.commands[0].arguments.size(), 255u);
    EXPECT_EQ(read.commands[0].text, std::string(254, 'b'));
    s.Release();
}
