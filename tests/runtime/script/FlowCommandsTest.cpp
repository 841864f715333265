// Flow control on plain (uncompiled) lists: conditions and branch cases, both loop forms with
// break, continue and loop end, label jumps across loops, waits, erasing and the ends of a script.
#include "runtime/script/FlowCommands.h"

#include "CommandTestSupport.h"
#include "runtime/data/Game_SystemState.h"

namespace script_test {
namespace {

// A spare *next* code whose handler notes argument 1, so that a test sees which lines ran.
constexpr std::int32_t kMarkCode = 140;
std::vector<std::int32_t> gMarks;

bool NoteMark(Game_Interpreter& i) {
    gMarks.push_back(CommandArgument(*i.currentCommand, 1));
    return true;
}

Game_EventCommand At(std::uint8_t indent, std::vector<std::int32_t> arguments,
                     std::vector<std::string> strings = {}) {
    Game_EventCommand c = Command(std::move(arguments), std::move(strings));
    c.indent = indent;
    return c;
}

Game_EventCommand Mark(std::uint8_t indent, std::int32_t n) {
    return At(indent, {kMarkCode, n});
}

constexpr std::int32_t kAllCodes[] = {104, 105, 107, 177, 178, 202, 230, 231, 111,
                                      112, 170, 171, 172, 173, 174, 175, 176, 179,
                                      180, 213, 401, 402, 420, 421, 498, 499, kMarkCode};

class FlowTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        for (std::int32_t code : kAllCodes) saved_[code] = GetCommandHandler(code);
        InstallFlowCommands();
        SetCommandHandler(kMarkCode, &NoteMark);
        gMarks.clear();
    }
    // Runs the list to its end within one frame and gives the marks in order.
    std::vector<std::int32_t> Run(std::vector<Game_EventCommand> commands,
                                  std::int32_t eventId = -1, std::int32_t commonId = -1) {
        Load(std::move(commands), eventId, commonId);
        Frame();
        return gMarks;
    }
};

using Marks = std::vector<std::int32_t>;

// Condition with two numeric comparisons, case 1, case 2 and else, then a line after the branch.
std::vector<Game_EventCommand> TwoConditions() {
    return {At(0, {111, 2, Normal(0), 1, 0x12, Normal(1), 7, 0x12}),
            At(0, {401, 1}),
            Mark(1, 1),
            At(0, {401, 2}),
            Mark(1, 2),
            At(0, {420, 0}),
            Mark(1, 0),
            At(0, {499}),
            Mark(0, 9)};
}

TEST_F(FlowTest, NumberConditionEntersTheFirstHoldingCaseOnly) {
    struct Case {
        std::int32_t a, b;
        Marks expected;
    };
    for (const Case& c : {Case{0, 7, {2, 9}}, Case{1, 7, {1, 9}}, Case{0, 0, {0, 9}}}) {
        gMarks.clear();
        TheVariables.SetValue(Normal(0), c.a);
        TheVariables.SetValue(Normal(1), c.b);
        EXPECT_EQ(Run(TwoConditions()), c.expected) << c.a << "," << c.b;
    }
}

TEST_F(FlowTest, JumpLinesTakeThePlaceOfTheSearches) {
    // The same branch with the targets a compiled list carries: operands as cells or literals,
    // case lines, and case commands that skip straight to the branch end.
    std::vector<Game_EventCommand> list = TwoConditions();
    list[0].jumpLines = {1, 2, 2, 2, 0, 0, 1, 3, 0, 0, 5, 0};
    list[0].resolvedVariables = {ResolveVariableCell(TheVariables, Normal(0), -1),
                                 {},
                                 ResolveVariableCell(TheVariables, Normal(1), -1),
                                 {}};
    list[1].jumpLines = {2, 7};
    list[3].jumpLines = {2, 7};
    struct Case {
        std::int32_t a, b;
        Marks expected;
    };
    for (const Case& c : {Case{0, 7, {2, 9}}, Case{1, 7, {1, 9}}, Case{0, 0, {0, 9}}}) {
        gMarks.clear();
        TheVariables.SetValue(Normal(0), c.a);
        TheVariables.SetValue(Normal(1), c.b);
        EXPECT_EQ(Run(list), c.expected) << c.a << "," << c.b;
    }
    // A label jump with its target and one loop pushed on the way.
    gMarks.clear();
    Game_EventCommand jump = At(0, {213}, {"in"});
    jump.jumpLines = {1, 3, 1, 0, 0};
    EXPECT_EQ(Run({Mark(0, 1), jump, Mark(0, 99), At(0, {212}, {"in"}), Mark(1, 3), At(0, {498}),
                   Mark(0, 9)}),
              (Marks{1, 3, 9}));
}

TEST_F(FlowTest, RightSideIsAVariableUnlessMarkedLiteral) {
    TheVariables.SetValue(Normal(0), 4);
    TheVariables.SetValue(Normal(1), 4);
    // Operator 2 (equal) against Normal(1) read as a variable.
    EXPECT_EQ(Run({At(0, {111, 1, Normal(0), Normal(1), 2}), At(0, {401, 1}), Mark(1, 1),
                   At(0, {420, 0}), Mark(1, 0), At(0, {499})}),
              Marks{1});
}

TEST_F(FlowTest, TextConditionOperators) {
    TheVariables.SetString(Text(0), nullptr, "abc");
    struct Case {
        std::uint32_t op;
        std::string right;
        bool holds;
    };
    const Case cases[] = {{0, "abc", true},   {0, "ab", false}, {1, "ab", true},  {2, "bc", true},
                          {2, "abcd", false}, {3, "ab", true},  {3, "bc", false}, {3, "", true},
                          {2, "", true},      {7, "abc", false}};
    for (const Case& c : cases) {
        gMarks.clear();
        const auto settings = static_cast<std::int32_t>((c.op << 28) | Text(0));
        Marks got = Run({At(0, {112, 1, static_cast<std::int32_t>(settings)}, {c.right}),
                         At(0, {401, 1}), Mark(1, 1), At(0, {420, 0}), Mark(1, 0), At(0, {499})});
        EXPECT_EQ(got, Marks{c.holds ? 1 : 0}) << c.op << " '" << c.right << "'";
    }
    // Starts-with an empty text holds for an empty left text too.
    gMarks.clear();
    EXPECT_EQ(Run({At(0, {112, 1, static_cast<std::int32_t>((3u << 28) | Text(1))}, {""}),
                   At(0, {401, 1}), Mark(1, 1), At(0, {499})}),
              Marks{1});
}

std::vector<Game_EventCommand> CountedLoop(std::int32_t count) {
    return {At(0, {179, count}), Mark(1, 1), At(0, {498}), Mark(0, 9)};
}

TEST_F(FlowTest, CountedLoopRunsItsBodyCountTimes) {
    struct Case {
        std::int32_t count;
        std::size_t bodies;
    };
    for (const Case& c : {Case{3, 3}, Case{0, 0}, Case{-2, 0}, Case{1, 1}}) {
        gMarks.clear();
        Marks expected(c.bodies, 1);
        expected.push_back(9);
        EXPECT_EQ(Run(CountedLoop(c.count)), expected) << c.count;
        EXPECT_TRUE(interpreter_->loopIndents.empty());
        EXPECT_TRUE(interpreter_->loopCounts.empty());
    }
}

TEST_F(FlowTest, CountFromAVariable) {
    TheVariables.SetValue(Normal(3), 2);
    EXPECT_EQ(Run(CountedLoop(Normal(3))), (Marks{1, 1, 9}));
}

// Normal(0) += 1.
Game_EventCommand Increment(std::uint8_t indent) {
    return At(indent, {121, Normal(0), 1, 0, 0xC | 1 << 8});
}

TEST_F(FlowTest, BreakAndContinueActOnTheInnermostLoop) {
    // Two outer passes; the inner endless loop continues on odd counts and breaks on even ones.
    // Break leaves only the inner loop, continue goes back to the inner loop's first line.
    const std::vector<Game_EventCommand> list = {At(0, {179, 2}),
                                                 At(1, {170}),
                                                 Mark(2, 1),
                                                 Increment(2),
                                                 At(2, {111, 1, Normal(0), 1, 0x16}),
                                                 At(2, {401, 1}),
                                                 Mark(3, 2),
                                                 At(3, {176}),
                                                 Mark(3, 99),
                                                 At(2, {499}),
                                                 At(2, {171}),
                                                 Mark(2, 98),
                                                 At(1, {498}),
                                                 Mark(1, 5),
                                                 At(0, {498}),
                                                 Mark(0, 9)};
    EXPECT_EQ(Run(list), (Marks{1, 2, 1, 5, 1, 2, 1, 5, 9}));
    EXPECT_EQ(Value(Normal(0)), 4);
    EXPECT_TRUE(interpreter_->loopIndents.empty());
}

TEST_F(FlowTest, ContinueOnTheLastCountLeavesTheLoop) {
    EXPECT_EQ(
        Run({At(0, {179, 2}), Mark(1, 1), At(1, {176}), Mark(1, 99), At(0, {498}), Mark(0, 9)}),
        (Marks{1, 1, 9}));
    EXPECT_TRUE(interpreter_->loopCounts.empty());
}

TEST_F(FlowTest, ContinueInAnEndlessLoopGoesBackToTheFirstBodyLine) {
    EXPECT_EQ(Run({At(0, {170}), Mark(1, 1), Increment(1), At(1, {111, 1, Normal(0), 3, 0x14}),
                   At(1, {401, 1}), At(2, {176}), Mark(2, 99), At(1, {499}), At(1, {171}),
                   At(0, {498}), Mark(0, 9)}),
              (Marks{1, 1, 1, 9}));
}

TEST_F(FlowTest, JumpOutOfAnEndlessLoopDropsIt) {
    EXPECT_EQ(Run({Mark(0, 1), At(0, {212}, {"top"}), Mark(0, 2), At(0, {170}), Mark(1, 3),
                   At(1, {213}, {"out"}), At(0, {498}), At(0, {212}, {"out"}), Mark(0, 9)}),
              (Marks{1, 2, 3, 9}));
    EXPECT_TRUE(interpreter_->loopIndents.empty());
}

TEST_F(FlowTest, JumpBackToALabelBeforeTheLoopDropsIt) {
    // Twice round through an endless loop inside a branch; the loop stack must not grow.
    Load({At(0, {212}, {"top"}), Mark(0, 1), Increment(0), At(0, {111, 1, Normal(0), 3, 0x14}),
          At(0, {401, 1}), At(1, {170}), Mark(2, 2), At(2, {213}, {"top"}), At(1, {498}),
          At(0, {499}), At(0, {180, 1}), Mark(0, 9)});
    Frame();
    EXPECT_EQ(gMarks, (Marks{1, 2, 1, 2, 1}));
    EXPECT_TRUE(interpreter_->loopIndents.empty());
    EXPECT_TRUE(interpreter_->loopCounts.empty());
}

TEST_F(FlowTest, JumpIntoACountedLoopRunsItsBodyOnce) {
    EXPECT_EQ(Run({Mark(0, 1), At(0, {213}, {"in"}), At(0, {179, 5}), Mark(1, 2),
                   At(1, {212}, {"in"}), Mark(1, 3), At(0, {498}), Mark(0, 9)}),
              (Marks{1, 3, 9}));
    EXPECT_TRUE(interpreter_->loopIndents.empty());
}

TEST_F(FlowTest, JumpToAMissingLabelGoesOn) {
    EXPECT_EQ(Run({At(0, {213}, {"nowhere"}), Mark(0, 1)}), Marks{1});
}

TEST_F(FlowTest, LabelSearchOperationsAcrossNestedLoops) {
    // From inside two loops forward to a label inside a third, after both ended.
    const Game_CommandList list = {At(0, {170}),        At(1, {179, 3}), At(2, {213}, {"x"}),
                                   At(1, {498}),        At(0, {498}),    At(0, {179, 2}),
                                   At(1, {212}, {"x"}), At(0, {498}),    At(0, {kEndOfListCode})};
    const LabelSearchResult r = SearchLabel(list, 2, "x");
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.line, 6);
    EXPECT_EQ(r.operations, (std::vector<std::int32_t>{-1, -1, 0}));
    // Backward from inside the third loop to a label inside the first.
    const Game_CommandList back = {At(0, {170}),    At(1, {212}, {"y"}), At(0, {498}),
                                   At(0, {179, 2}), At(1, {213}, {"y"}), At(0, {498})};
    const LabelSearchResult b = SearchLabel(back, 4, "y");
    ASSERT_TRUE(b.found);
    EXPECT_EQ(b.line, 1);
    EXPECT_EQ(b.operations, (std::vector<std::int32_t>{-1, 1}));
}

TEST_F(FlowTest, MalformedLoopsLeaveTheLoop) {
    // A LoopEnd with no open loop goes on after it.
    EXPECT_EQ(Run({Mark(0, 1), At(0, {498}), Mark(0, 2)}), (Marks{1, 2}));
    // A LoopEnd whose start is missing (no earlier command at its indent) leaves the loop
    // instead of searching forever.
    gMarks.clear();
    Game_Interpreter& i = Load({Mark(1, 1), At(0, {498}), Mark(0, 2)});
    i.loopIndents = {0};
    i.loopCounts = {5};
    Frame();
    EXPECT_EQ(gMarks, (Marks{1, 2}));
    EXPECT_TRUE(interpreter_->loopCounts.empty());
    // A LoopCount 0 without LoopEnd: nothing to skip to, the body runs and the list ends.
    gMarks.clear();
    EXPECT_EQ(Run({At(0, {179, 0}), Mark(1, 1)}), Marks{1});
}

TEST_F(FlowTest, WaitFramesNeverNegative) {
    struct Case {
        std::int32_t frames, expected;
    };
    for (const Case& c : {Case{0, 0}, Case{-5, 0}, Case{7, 7}}) {
        EXPECT_TRUE(Execute(Command({180, c.frames})));
        EXPECT_EQ(interpreter_->waitFrames, c.expected);
    }
    // A wait of 0 costs no frame.
    EXPECT_EQ(Run({Mark(0, 1), At(0, {180, 0}), Mark(0, 2)}), (Marks{1, 2}));
    gMarks.clear();
    EXPECT_EQ(Run({Mark(0, 1), At(0, {180, 2}), Mark(0, 2)}), Marks{1});
}

TEST_F(FlowTest, ExitEventEndsTheList) {
    EXPECT_EQ(Run({Mark(0, 1), At(0, {172}), Mark(0, 2)}), Marks{1});
    EXPECT_FALSE(interpreter_->IsRunning());
}

TEST_F(FlowTest, ReturnToTitleRestartsTheGame) {
    EXPECT_TRUE(Execute(Command({174})));
    EXPECT_EQ(TheGameSystem.gameState, GameState::Restart);
    EXPECT_FALSE(interpreter_->IsRunning());
}

struct EraseLog {
    static inline std::vector<std::pair<std::int32_t, std::int32_t>> calls;
    static void Erase(std::int32_t id, std::int32_t frames) { calls.emplace_back(id, frames); }
};

TEST_F(FlowTest, EraseAnotherEventGoesOnNextFrame) {
    EraseLog::calls.clear();
    static Game_Character* const kSome = reinterpret_cast<Game_Character*>(0x10);
    GetInterpreterLinks().event = [](std::int32_t id) { return id == 4 ? kSome : nullptr; };
    GetInterpreterLinks().startTimedErase = &EraseLog::Erase;
    Load({At(0, {173, 4, -3}), At(0, {173, 5, 10}), Mark(0, 1)}, 2);
    Frame();
    EXPECT_TRUE(gMarks.empty());
    EXPECT_EQ(EraseLog::calls, (std::vector<std::pair<std::int32_t, std::int32_t>>{{4, 0}}));
    Frame();
    Frame();
    EXPECT_EQ(gMarks, Marks{1});
}

TEST_F(FlowTest, EraseThisEventEndsItsScript) {
    EraseLog::calls.clear();
    GetInterpreterLinks().startTimedErase = &EraseLog::Erase;
    GetInterpreterLinks().mapId = [] { return 3; };
    Game_Interpreter& i = Load({At(0, {173, -1, 6}), Mark(0, 1)}, 2);
    Frame();
    EXPECT_FALSE(i.IsRunning());
    EXPECT_TRUE(gMarks.empty());
    EXPECT_EQ(EraseLog::calls, (std::vector<std::pair<std::int32_t, std::int32_t>>{{2, 6}}));
}

TEST_F(FlowTest, EraseThisEventFromACommonEventReportsOnceAndGoesOn) {
    Load({At(0, {173, -1, 0}), Mark(0, 1)}, -1, 2);
    for (int f = 0; f < 4; ++f) Frame();
    EXPECT_EQ(Reports().size(), 1u);
    EXPECT_EQ(gMarks, Marks{1});
}

struct CopyLog {
    static inline std::vector<std::int32_t> calls;
    static std::int32_t Copy(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b,
                             std::int32_t graph) {
        calls = {l, t, r, b, graph};
        return 0;
    }
};

TEST_F(FlowTest, SmallSwitches) {
    const Game_SystemState savedState = TheSystemState;
    const GameSystemGraphics savedGraphics = GetGameSystemGraphics();
    GetGameSystemGraphics().copyDrawTargetToGraph = &CopyLog::Copy;
    ScreenWidth = 640;
    ScreenHeight = 480;
    TheGameSystem.captureGraph = 12;
    EXPECT_TRUE(Execute(Command({177})));
    EXPECT_EQ(TheSystemState.liveDrawing, 0);
    EXPECT_EQ(CopyLog::calls, (std::vector<std::int32_t>{0, 0, 640, 480, 12}));
    EXPECT_TRUE(Execute(Command({178})));
    EXPECT_EQ(TheSystemState.liveDrawing, 1);
    EXPECT_TRUE(Execute(Command({230})));
    EXPECT_EQ(TheSystemState.moveDuringEvents, 1);
    EXPECT_TRUE(Execute(Command({231})));
    EXPECT_EQ(TheSystemState.moveDuringEvents, 0);
    EXPECT_TRUE(Execute(Command({104})));
    EXPECT_TRUE(Execute(Command({105})));
    EXPECT_EQ(TheGameSystem.closeChoiceRequest, 1);
    EXPECT_EQ(TheGameSystem.closeMessageRequest, 1);
    EXPECT_TRUE(Execute(Command({202})));
    EXPECT_EQ(interpreter_->waitingForAllRoutes, 1);
    // The debug text is cleared only while the window is open.
    DebugWindowText = "kept";
    DebugWindowOpen = 0;
    Execute(Command({107}));
    EXPECT_EQ(DebugWindowText, "kept");
    DebugWindowOpen = 1;
    Execute(Command({107}));
    EXPECT_EQ(DebugWindowText, "");
    EXPECT_EQ(DebugWindowDirty, 1);
    GetGameSystemGraphics() = savedGraphics;
    TheSystemState = savedState;
}

}  // namespace
}  // namespace script_test
