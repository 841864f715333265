#include <climits>
#include <set>

#include "runtime/script/CommandTestSupport.h"
#include "runtime/shell/GameRandom.h"

using namespace script_test;

namespace {

constexpr std::int32_t kDest = 2000001;

std::int32_t Settings(std::int32_t assignment, std::int32_t calculation, std::int32_t flags = 0) {
    return flags | assignment << 8 | calculation << 12;
}

// SetVariable with literal operands (bits 2 and 3) into normal variable 1.
Game_EventCommand Literal(std::int32_t l, std::int32_t r, std::int32_t assignment,
                          std::int32_t calculation, std::int32_t flags = 0) {
    return Command({121, kDest, l, r, Settings(assignment, calculation, flags | 0xC)});
}

// The prepared form of the same: destination cell resolved, both operands literals.
Game_EventCommand Prepared(std::int32_t form, std::int32_t l, std::int32_t r,
                           std::int32_t assignment, std::int32_t calculation) {
    Game_EventCommand c = Command({121, kDest, l, r, Settings(assignment, calculation)});
    c.jumpLines = {form, assignment, calculation};
    c.resolvedVariables = {ResolveVariableCell(TheVariables, kDest, -1), {}, {}};
    return c;
}

class VariableCommandsTest : public CommandTest {
  protected:
    std::int32_t Run(Game_EventCommand c, std::int32_t before = 0) {
        TheVariables.SetValue(kDest, before);
        Execute(std::move(c));
        return Value(kDest);
    }
};

TEST_F(VariableCommandsTest, IntegerCalculationsClampAndTheirPreparedFormWraps) {
    struct Case {
        std::int32_t l, r, assignment, calculation, flags, before, general, prepared;
    };
    const Case cases[] = {
        {5, 7, 0, 0, 0, 0, 12, 12},
        {100000, 100000, 0, 2, 0, 0, 2000000000, 1410065408},
        {100000, 100000, 0, 2, 0x1, 0, 999999, 1410065408},
        {2000000000, 2000000000, 0, 0, 0, 0, 2000000000, -294967296},
        // Division and remainder by 0.
        {9, 0, 0, 3, 0, 0, 9, 9},
        {9, 0, 0, 4, 0, 0, 0, 0},
        {0, 0, 4, 0, 0, 17, 17, 17},
        {0, 0, 5, 0, 0, 17, 0, 0},
        {-7, 2, 0, 4, 0, 0, -1, -1},
        // INT_MIN by -1 gives INT_MIN and remainder 0 in every form.
        {INT_MIN, -1, 0, 3, 0, 0, INT_MIN, INT_MIN},
        {INT_MIN, -1, 0, 4, 0, 0, 0, 0},
        {-1, 0, 4, 0, 0, INT_MIN, INT_MIN, INT_MIN},
        {-1, 0, 5, 0, 0, INT_MIN, 0, 0},
        // Calculation operators without a meaning give 0.
        {5, 7, 0, 7, 0, 3, 0, 0},
        {5, 7, 0, 15, 0, 3, 0, 0},
        // Assignment operators.
        {6, 0, 1, 0, 0, 10, 16, 16},
        {6, 0, 2, 0, 0, 10, 4, 4},
        {6, 0, 3, 0, 0, 10, 60, 60},
        {6, 0, 6, 0, 0, 10, 10, 10},
        {6, 0, 7, 0, 0, 10, 6, 6},
        {-6, 0, 8, 0, 0, 10, 6, 6},
        {6, 0, 12, 0, 0, 10, 10, 10},
        {5, 3, 0, 5, 0, 0, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(Literal(c.l, c.r, c.assignment, c.calculation, c.flags), c.before), c.general)
            << c.l << " " << c.r << " " << c.assignment << " " << c.calculation;
        if (c.flags == 0) {
            EXPECT_EQ(Run(Prepared(1, c.l, c.r, c.assignment, c.calculation), c.before), c.prepared)
                << c.l << " " << c.r << " " << c.assignment << " " << c.calculation;
        }
    }
}

TEST_F(VariableCommandsTest, PreparedCopyFormTakesTheLeftOperandAlone) {
    struct Case {
        std::int32_t s, assignment, before, expected;
    };
    for (const Case& c : {Case{7, 0, 3, 7}, Case{7, 1, 3, 10}, Case{0, 4, 3, 3}, Case{0, 5, 3, 0},
                          Case{-1, 4, INT_MIN, INT_MIN}, Case{-1, 5, INT_MIN, 0}, Case{5, 9, 3, 0},
                          Case{-5, 9, 3, 1800}, Case{900, 10, 0, 1000}, Case{-4, 8, 0, 4}}) {
        EXPECT_EQ(Run(Prepared(2, c.s, 0, c.assignment, 0), c.before), c.expected)
            << c.s << " " << c.assignment;
    }
}

TEST_F(VariableCommandsTest, PreparedFormReadsResolvedOperandCells) {
    TheVariables.SetValue(Normal(2), 40);
    Game_EventCommand c = Command({121, kDest, Normal(2), 2, 0});
    c.jumpLines = {1, 1, 0};
    c.resolvedVariables = {ResolveVariableCell(TheVariables, kDest, -1),
                           ResolveVariableCell(TheVariables, Normal(2), -1),
                           {}};
    EXPECT_EQ(Run(c, 100), 142);
}

TEST_F(VariableCommandsTest, RandomCalculationStaysBetweenTheOperands) {
    GameRandom(2, 12345);
    std::set<std::int32_t> seen;
    for (int n = 0; n < 400; ++n) {
        const std::int32_t v = Run(Literal(10, 1, 0, 6));
        ASSERT_GE(v, 1);
        ASSERT_LE(v, 10);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_EQ(Run(Literal(-4, -4, 0, 6)), -4);
    // The whole 32-bit span does not divide by zero.
    Run(Literal(INT_MIN, INT_MAX, 0, 6));
}

TEST_F(VariableCommandsTest, DirectionSineAndCosineTruncate) {
    struct Case {
        std::int32_t l, r, general, prepared;
    };
    for (const Case& c :
         {Case{1, 0, 0, 0}, Case{0, 1, 900, 900}, Case{-1, 0, 1800, 1800}, Case{0, -1, 2700, 2699},
          Case{1, 1, 450, 450}, Case{1, -1, 3150, 3149}, Case{100000, -1, 0, 3599}}) {
        EXPECT_EQ(Run(Literal(c.l, c.r, 9, 0), 77), c.general) << c.l << "," << c.r;
        EXPECT_EQ(Run(Prepared(1, c.l, c.r, 9, 0), 77), c.prepared) << c.l << "," << c.r;
    }
    struct Angle {
        std::int32_t v, sine, cosine;
    };
    for (const Angle& a : {Angle{300, 499, 866}, Angle{900, 1000, 0}, Angle{1800, 0, -1000}}) {
        EXPECT_EQ(Run(Literal(a.v, 0, 10, 0)), a.sine) << a.v;
        EXPECT_EQ(Run(Literal(a.v, 0, 11, 0)), a.cosine) << a.v;
        EXPECT_EQ(Run(Literal(a.v, 0, 10, 0, 0x2)), a.sine) << a.v;
        EXPECT_EQ(Run(Prepared(1, a.v, 0, 11, 0)), a.cosine) << a.v;
    }
}

TEST_F(VariableCommandsTest, RealNumberModeKeepsFractionsUntilTheEnd) {
    EXPECT_EQ(Run(Literal(7, 2, 3, 3, 0x2), 10), 35);
    EXPECT_EQ(Run(Literal(7, 2, 3, 3), 10), 30);
    EXPECT_EQ(Run(Literal(1, 3, 0, 3, 0x2), 0), 0);
    EXPECT_EQ(Run(Literal(INT_MIN, -1, 0, 4, 0x2)), 0);
    EXPECT_EQ(Run(Literal(-1, 0, 5, 0, 0x2), INT_MIN), 0);
    EXPECT_EQ(Run(Literal(5, 7, 0, 9, 0x2), 3), 0);
    EXPECT_EQ(Run(Literal(0, 0, 4, 0, 0x2), 9), 9);
}

TEST_F(VariableCommandsTest, TextOperandsReadTheirLeadingNumber) {
    TheVariables.SetString(Text(1), nullptr, "42abc");
    TheVariables.SetString(Text(2), nullptr, "abc");
    EXPECT_EQ(Run(Command({121, kDest, Text(1), 0, 0})), 42);
    EXPECT_EQ(Run(Command({121, kDest, Text(2), 0, 0}), 5), 0);
    EXPECT_EQ(LeadingNumber("  -17x"), -17);
    EXPECT_EQ(LeadingNumber("99999999999"), INT_MAX);
}

TEST_F(VariableCommandsTest, RangeReadsItsOperandsAfreshEachTime) {
    TheVariables.SetValue(Normal(10), 5);
    // v[10 + i] = v[10] + 1 for i = 0, 1, 2.
    Execute(Command({121, Normal(10), Normal(10), 1, 0x10000 | 0x8, 2}));
    EXPECT_EQ(Value(Normal(10)), 6);
    EXPECT_EQ(Value(Normal(11)), 7);
    EXPECT_EQ(Value(Normal(12)), 7);
    EXPECT_EQ(Value(Normal(13)), 0);
    Execute(Command({121, Normal(15), 3, 0, 0x10000 | 0xC, -4}));
    EXPECT_EQ(Value(Normal(15)), 3);
    EXPECT_EQ(Value(Normal(16)), 0);
}

TEST_F(VariableCommandsTest, IndirectOperandsAndDestination) {
    TheVariables.SetValue(Normal(3), Normal(4));
    TheVariables.SetValue(Normal(4), 11);
    // Destination named by variable 3, left operand the value of the id variable 3 holds.
    Execute(Command({121, Normal(3), Normal(3), 1, 0x10 | 0x20 | 0x8}));
    EXPECT_EQ(Value(Normal(4)), 12);
    EXPECT_TRUE(Reports().empty());

    TheVariables.SetValue(Normal(5), 7);
    Execute(Command({121, kDest, 5, 0, 0x20 | 0xC}));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].first,
              "変数操作エラー：右辺１に999999以下の場所を読み込もうとしました > 5");
    Execute(Command({121, Normal(5), 1, 1, 0x10 | 0xC}));
    ASSERT_EQ(Reports().size(), 2u);
    EXPECT_EQ(Reports()[1].first, "変数操作エラーD：999999以下の場所に格納しようとしました > 7");
    EXPECT_EQ(Value(Normal(5)), 7);
}

TEST_F(VariableCommandsTest, TextDestinationsJoinTexts) {
    TheVariables.SetString(Text(1), nullptr, "A");
    TheVariables.SetString(Text(2), nullptr, "B");
    Execute(Command({121, Text(0), Text(1), Text(2), Settings(0, 0)}));
    EXPECT_EQ(String(Text(0)), "AB");
    Execute(Command({121, Text(0), Text(1), Text(2), Settings(0, 1)}));
    EXPECT_EQ(String(Text(0)), "A");
    Execute(Command({121, Text(0), Text(1), Text(2), Settings(1, 0)}));
    EXPECT_EQ(String(Text(0)), "AAB");
    // A right operand naming an integer adds nothing; a left operand of 0 is no error.
    Execute(Command({121, Text(3), 0, Normal(1), Settings(0, 0)}));
    EXPECT_EQ(String(Text(3)), "");
    EXPECT_TRUE(Reports().empty());
}

TEST_F(VariableCommandsTest, NumberIntoTextDestinationReportsAndWritesNothing) {
    TheVariables.SetString(Text(0), nullptr, "old");
    TheVariables.SetString(Text(1), nullptr, "A");
    Execute(Command({121, Text(0), 5, 0, 0}));
    Execute(Command({121, Text(0), Text(1), 0, 0x4}));
    ASSERT_EQ(Reports().size(), 2u);
    EXPECT_EQ(Reports()[0].first,
              "エラー：[変数操作] 格納先の内容が文字列なのに数値を格納しようとしました");
    EXPECT_EQ(Reports()[0].second, "格納したい場合は、「右辺の左」にだけ、数値を格納して下さい");
    EXPECT_EQ(String(Text(0)), "old");
}

TEST_F(VariableCommandsTest, KeyInputWaitsOrReadsAtOnce) {
    Game_Interpreter& i = Load({Command({123, kDest, 0x80 | 0x100})});
    TheVariables.SetValue(kDest, 9);
    i.line = 0;
    i.currentCommand = &(*i.list)[0];
    EXPECT_TRUE(CommandKeyInput(i));
    EXPECT_EQ(i.waitingForInput, 1);
    EXPECT_EQ(Value(kDest), 9);

    TheVariables.SetValue(kDest, 9);
    Execute(Command({123, kDest, 0x100}));
    EXPECT_EQ(Value(kDest), 0);
}

}  // namespace
