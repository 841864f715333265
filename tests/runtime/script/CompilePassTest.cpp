// The compile pass: what it makes of single commands, that compiling again changes nothing, and
// that compiled lists leave the same variables as their source lists (seeded random lists of
// loops, branches and variable commands run both ways).
#include "runtime/script/CompilePass.h"

#include <random>

#include "runtime/script/CallCommands.h"
#include "runtime/script/CommandTestSupport.h"
#include "runtime/script/FlowCommands.h"

namespace {

using namespace script_test;

// Condition settings: operator, bit 4 for a literal right side.
constexpr std::int32_t kLiteralRight = 0x10;

Game_EventCommand At(std::int32_t indent, std::vector<std::int32_t> arguments,
                     std::vector<std::string> strings = {}) {
    Game_EventCommand c = Command(std::move(arguments), std::move(strings));
    c.indent = static_cast<std::uint8_t>(indent);
    return c;
}

// SetVariable settings: assignment a, calculation c.
std::int32_t Calc(std::int32_t a, std::int32_t c) {
    return (a << 8) | (c << 12);
}

std::string CaptionSeen;

class CompilePassTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        for (std::int32_t code :
             {103000, 111000, 111002, 111003, 121,    170,    171,    171000, 176,
              176000, 179,    179000, 210000, 210001, 210010, 210011, 210020, 210021,
              210040, 401,    420,    420000, 498,    498000, 498001, 499,    111}) {
            saved_[code] = GetCommandHandler(code);
        }
        InstallFlowCommands();
        InstallCompiledCommands();
        testPlay_ = TestPlay;
        TestPlay = false;
        caption_ = CompilePassCaptionHook;
        CompilePassCaptionHook = [](const std::string& text) { CaptionSeen = text; };
        CaptionSeen.clear();
        services_ = GetRuntimeErrorServices();
        GetRuntimeErrorServices().pumpMessages = nullptr;
        GetRuntimeErrorServices().waitPumpingMessages = nullptr;
    }
    void TearDown() override {
        TestPlay = testPlay_;
        CompilePassCaptionHook = caption_;
        GetRuntimeErrorServices() = services_;
        CompileCommonEventsHook = nullptr;
        CommandTest::TearDown();
    }

    static Game_CommandList Compiled(Game_CommandList list, std::int32_t commonEvent = 0) {
        list.push_back(Command({kEndOfListCode}));
        CompileCommandList(list, commonEvent);
        return list;
    }

    // Runs the list as common event 0 until it ends.
    void Run(const Game_CommandList& list) {
        interpreter_ = std::make_unique<Game_Interpreter>();
        interpreter_->Setup(false);
        interpreter_->Start(std::make_shared<const Game_CommandList>(list), -1, 0);
        for (int frame = 0; frame < 50 && interpreter_->IsRunning(); ++frame) Frame();
        EXPECT_FALSE(interpreter_->IsRunning());
    }

    bool testPlay_ = false;
    void (*caption_)(const std::string&) = nullptr;
    RuntimeErrorServices services_{};
};

TEST_F(CompilePassTest, CommentRunsAndDebugTexts) {
    Game_CommandList list = Compiled({Command({103}), Command({103}), Command({121})});
    EXPECT_EQ(list[0].Code(), 103000);
    EXPECT_EQ(list[0].jumpLines, std::vector<std::int32_t>{1});
    EXPECT_EQ(list[1].Code(), 103);

    list = Compiled({Command({121}), Command({103}), Command({121})});
    EXPECT_EQ(list[1].Code(), 103);
    EXPECT_TRUE(list[1].jumpLines.empty());

    // Outside test play a debug text is a comment, unless it shows a message box.
    list = Compiled({Command({103}), Command({106}, {"MessageBox:hello"}), Command({121})});
    EXPECT_EQ(list[0].Code(), 103);
    EXPECT_EQ(list[1].Code(), 106);
    list = Compiled({Command({103}), Command({106}, {"trace"}), Command({121})});
    EXPECT_EQ(list[0].Code(), 103000);
    EXPECT_EQ(list[1].Code(), 103);
    // In test play it stays an executed command.
    TestPlay = true;
    list = Compiled({Command({103}), Command({106}, {"trace"}), Command({121})});
    EXPECT_EQ(list[0].Code(), 103);
    EXPECT_EQ(list[1].Code(), 106);
}

TEST_F(CompilePassTest, ARunOfCommentsIsSkippedInOneStep) {
    Run(Compiled(
        {Command({103}), Command({103}), Command({103}), Command({121, Normal(1), 4, 0, 0})}));
    EXPECT_EQ(Value(Normal(1)), 4);
}

TEST_F(CompilePassTest, ConditionForms) {
    const Game_CommandList branch = {
        At(0, {111, 1, Normal(0), 5, 2 | kLiteralRight}),
        At(0, {401, 1}),
        At(1, {121, Normal(1), 1, 0, 0}),
        At(0, {420, 0}),
        At(1, {121, Normal(1), 2, 0, 0}),
        At(0, {499}),
    };
    Game_CommandList list = Compiled(branch);
    EXPECT_EQ(list[0].Code(), 111002);
    EXPECT_EQ(list[1].jumpLines, (std::vector<std::int32_t>{2, 5}));
    EXPECT_EQ(list[3].jumpLines, (std::vector<std::int32_t>{2, 5}));
    for (std::int32_t value : {5, 4}) {
        TheVariables.SetValue(Normal(0), value);
        Run(list);
        EXPECT_EQ(Value(Normal(1)), value == 5 ? 1 : 2);
    }

    // Five conditions stay in source form, and so do their cases.
    Game_EventCommand five = At(0, {111, 5});
    for (int k = 0; k < 5; ++k) {
        five.arguments.insert(five.arguments.end(), {Normal(k), 1, 2 | kLiteralRight});
    }
    list = Compiled({five, At(0, {401, 1}), At(0, {499})});
    EXPECT_EQ(list[0].Code(), 111);
    EXPECT_TRUE(list[0].jumpLines.empty());
    EXPECT_EQ(list[1].jumpLines, (std::vector<std::int32_t>{1, 2}));

    // A left side that names no fixed cell (a system variable) keeps the source form.
    list =
        Compiled({At(0, {111, 1, 9000001, 5, 2 | kLiteralRight}), At(0, {401, 1}), At(0, {499})});
    EXPECT_EQ(list[0].Code(), 111);
    EXPECT_TRUE(list[0].jumpLines.empty());

    // Two conditions: compiled data on the source code; only the second holds.
    list = Compiled({At(0, {111, 2, Normal(0), 1, 2 | kLiteralRight, Normal(0), Normal(2), 2}),
                     At(0, {401, 1}), At(1, {121, Normal(1), 10, 0, 0}), At(0, {401, 2}),
                     At(1, {121, Normal(1), 20, 0, 0}), At(0, {420, 0}),
                     At(1, {121, Normal(1), 30, 0, 0}), At(0, {499})});
    EXPECT_EQ(list[0].Code(), 111);
    ASSERT_EQ(list[0].jumpLines.size(), 12u);
    EXPECT_EQ(list[0].jumpLines[0], 1);
    EXPECT_EQ(list[0].jumpLines[1], 2);
    TheVariables.SetValue(Normal(0), 7);
    TheVariables.SetValue(Normal(2), 7);
    Run(list);
    EXPECT_EQ(Value(Normal(1)), 20);
}

TEST_F(CompilePassTest, SetVariableForms) {
    struct Case {
        std::vector<std::int32_t> arguments;
        std::int32_t code;
        std::int32_t form;  // J[0]; 0 none
    };
    const Case cases[] = {
        {{121, Normal(0), 3, 4, Calc(0, 0)}, 210000, 1},
        {{121, Normal(0), Normal(1), 0, Calc(1, 1)}, 210011, 2},
        {{121, Normal(0), 3, 4, Calc(3, 2)}, 210032, 1},
        // ÷= by 3 + -3 would divide by 0: prepared form only.
        {{121, Normal(0), 3, -3, Calc(4, 0)}, 121, 1},
        {{121, Normal(0), 3, 2, Calc(4, 0)}, 210040, 1},
        {{121, Normal(0), 3, 2, Calc(4, 1)}, 210041, 1},
        // Remainder: prepared form.
        {{121, Normal(0), 3, 0, Calc(5, 0)}, 121, 2},
        // Clamping, a range, a text operand and the variable-database destination stay source.
        {{121, Normal(0), 3, 4, 1}, 121, 0},
        {{121, Normal(0), 3, 4, 0x10000, 2}, 121, 0},
        {{121, Normal(0), Text(0), 4, 0}, 121, 0},
        {{121, 1100000000, 3, 4, 0}, 121, 0},
        {{121, 9000001, 3, 4, 0}, 121, 0},
    };
    for (const Case& c : cases) {
        const Game_CommandList list = Compiled({Command(c.arguments)});
        EXPECT_EQ(list[0].Code(), c.code) << c.arguments[4];
        EXPECT_EQ(list[0].jumpLines.empty() ? 0 : list[0].jumpLines[0], c.form) << c.code;
    }
    // The arithmetic wraps and ÷= truncates.
    TheVariables.SetValue(Normal(0), -7);
    TheVariables.SetValue(Normal(1), 2);
    Run(Compiled({Command({121, Normal(0), 3, 0, Calc(4, 1)}),
                  Command({121, Normal(2), Normal(1), 5, Calc(0, 2)}),
                  Command({121, Normal(2), Normal(1), 1, Calc(2, 1)})}));
    EXPECT_EQ(Value(Normal(0)), -2);
    EXPECT_EQ(Value(Normal(2)), 9);
}

TEST_F(CompilePassTest, LoopsAndLabels) {
    const Game_CommandList loops = {
        At(0, {179, 0}),                                   // 0: skipped loop
        At(1, {121, Normal(0), 100, 0, Calc(1, 0)}),       // 1
        At(0, {498}),                                      // 2
        At(0, {179, 3}),                                   // 3
        At(1, {121, Normal(1), 1, 0, Calc(1, 0)}),         // 4
        At(1, {176}),                                      // 5
        At(1, {121, Normal(1), 100, 0, Calc(1, 0)}),       // 6
        At(0, {498}),                                      // 7
        At(0, {170}),                                      // 8
        At(1, {121, Normal(2), 1, 0, Calc(1, 0)}),         // 9
        At(1, {111, 1, Normal(2), 4, 1 | kLiteralRight}),  // 10
        At(1, {401, 1}),                                   // 11
        At(2, {171}),                                      // 12
        At(1, {499}),                                      // 13
        At(0, {498}),                                      // 14
        At(0, {213}, {"there"}),                           // 15
        At(0, {121, Normal(3), 1, 0, 0}),                  // 16
        At(0, {212}, {"there"}),                           // 17
    };
    const Game_CommandList list = Compiled(loops);
    EXPECT_EQ(list[0].Code(), 179000);
    EXPECT_EQ(list[0].jumpLines, std::vector<std::int32_t>{2});
    EXPECT_EQ(list[2].Code(), 498001);
    EXPECT_EQ(list[5].Code(), 176000);
    EXPECT_EQ(list[5].jumpLines, (std::vector<std::int32_t>{3, 7}));
    EXPECT_EQ(list[7].Code(), 498001);
    EXPECT_EQ(list[7].jumpLines, std::vector<std::int32_t>{3});
    EXPECT_EQ(list[12].Code(), 171000);
    EXPECT_EQ(list[12].jumpLines, std::vector<std::int32_t>{14});
    EXPECT_EQ(list[14].Code(), 498000);
    EXPECT_EQ(list[14].jumpLines, std::vector<std::int32_t>{8});
    EXPECT_EQ(list[15].jumpLines, (std::vector<std::int32_t>{1, 17, 0}));
    Run(list);
    EXPECT_EQ(Value(Normal(0)), 0);
    EXPECT_EQ(Value(Normal(1)), 3);
    EXPECT_EQ(Value(Normal(2)), 4);
    EXPECT_EQ(Value(Normal(3)), 0);

    // A count 0 without a loop end and a label text with text codes stay source.
    const Game_CommandList open = Compiled({At(0, {179, 0}), At(0, {213}, {"\\v[1]"})});
    EXPECT_EQ(open[0].Code(), 179);
    EXPECT_TRUE(open[1].jumpLines.empty());
}

TEST_F(CompilePassTest, CompilingTwiceEqualsCompilingOnce) {
    const Game_CommandList source = {
        At(0, {103}),
        At(0, {103}),
        At(0, {179, 0}),
        At(1, {176}),
        At(1, {111, 1, Normal(0), 5, 2 | kLiteralRight}),
        At(1, {401, 1}),
        At(2, {171}),
        At(1, {420, 0}),
        At(2, {121, Normal(0), 3, 4, Calc(2, 1)}),
        At(1, {499}),
        At(0, {498}),
        At(0, {112, 0}),
        At(0, {401, 1}),
        At(0, {420, 0}),
        At(0, {499}),
        At(0, {213}, {"x"}),
        At(0, {212}, {"x"}),
    };
    const Game_CommandList once = Compiled(source);
    Game_CommandList twice = once;
    CompileCommandList(twice, 0);
    EXPECT_EQ(twice, once);
    Game_CommandList back = once;
    DecompileCommandList(back);
    for (std::size_t k = 0; k + 1 < back.size(); ++k) {
        EXPECT_EQ(back[k].Code(), source[k].Code()) << k;
        EXPECT_TRUE(back[k].jumpLines.empty());
    }
}

TEST_F(CompilePassTest, ValueWatchInTestPlayLeavesEveryCommonEventInSourceForm) {
    TheCommonEvents.events[1].commands.Replace({At(0, {111, 1, Normal(0), 5, 2 | kLiteralRight}),
                                                At(0, {401, 1}), At(0, {499}),
                                                Command({kEndOfListCode})});
    TheCommonEvents.events[3].commands.Replace(
        {Command({106}, {"ValWatch:1"}), Command({kEndOfListCode})});
    TestPlay = true;
    CompileCommonEvents();
    EXPECT_EQ(TheCommonEvents.events[1].commands.List()[0].Code(), 111);
    EXPECT_TRUE(TheCommonEvents.events[1].commands.List()[0].jumpLines.empty());
    EXPECT_NE(CaptionSeen.find("ValWatch"), std::string::npos);

    TestPlay = false;
    CompileCommonEvents();
    EXPECT_EQ(TheCommonEvents.events[1].commands.List()[0].Code(), 111002);
    // A ".common" insert compiles through the hook once the module is installed.
    EXPECT_EQ(CompileCommonEventsHook, &CompileCommonEvents);
}

// ---- Compiled and source lists leave the same variables ----

class RandomList {
  public:
    explicit RandomList(std::uint32_t seed) : random_(seed) {}

    Game_CommandList Make() {
        Block(0, 8);
        return std::move(list_);
    }

  private:
    std::int32_t Pick(std::int32_t low, std::int32_t high) {
        return std::uniform_int_distribution<std::int32_t>(low, high)(random_);
    }
    std::int32_t Variable() { return Pick(0, 3) == 0 ? 1600000 + Pick(0, 4) : Normal(Pick(0, 9)); }
    void Add(std::int32_t indent, std::vector<std::int32_t> arguments,
             std::vector<std::string> strings = {}) {
        list_.push_back(At(indent, std::move(arguments), std::move(strings)));
    }
    // Values stay far from the clamping limits of the source form: operands that read variables
    // are only ever added to literals.
    void SetVariable(std::int32_t indent) {
        const std::int32_t target = Variable();
        switch (Pick(0, 4)) {
            case 0:
                Add(indent, {121, target, Variable(), Pick(-9, 9), Calc(0, Pick(0, 1))});
                break;
            case 1:
                Add(indent, {121, target, Pick(-9, 9), 0, Calc(Pick(1, 2), 0)});
                break;
            case 2:
                Add(indent, {121, target, Pick(-9, 9), Pick(-9, 9), Calc(0, 2)});
                break;
            case 3:
                Add(indent, {121, target, Pick(1, 4) * (Pick(0, 1) ? 1 : -1), 0, Calc(4, 0)});
                break;
            default:
                Add(indent, {121, target, Pick(1, 9), 0, Calc(5, 0)});
                break;
        }
    }
    void Condition(std::int32_t indent, std::int32_t budget) {
        const std::int32_t n = Pick(1, 3);
        std::vector<std::int32_t> arguments{111, n};
        for (std::int32_t k = 0; k < n; ++k) {
            const bool literal = Pick(0, 1) == 0;
            arguments.insert(arguments.end(), {Variable(), literal ? Pick(-5, 5) : Variable(),
                                               Pick(0, 6) | (literal ? kLiteralRight : 0)});
        }
        list_.push_back(At(indent, arguments));
        for (std::int32_t k = 1; k <= n; ++k) {
            if (Pick(0, 3) == 0) continue;  // a condition without its case
            Add(indent, {401, k});
            Block(indent + 1, budget / 2);
        }
        if (Pick(0, 1)) {
            Add(indent, {420, 0});
            Block(indent + 1, budget / 2);
        }
        Add(indent, {499});
    }
    void Block(std::int32_t indent, std::int32_t budget) {
        const std::int32_t count = Pick(1, 4);
        for (std::int32_t k = 0; k < count; ++k) {
            const std::int32_t kind = budget > 1 && indent < 6 ? Pick(0, 7) : Pick(0, 1);
            switch (kind) {
                case 0:
                case 1:
                    SetVariable(indent);
                    break;
                case 2:
                    Add(indent, {103});
                    if (Pick(0, 1)) Add(indent, {103});
                    break;
                case 3:
                case 4:
                    Condition(indent, budget - 1);
                    break;
                case 5:
                    Add(indent, {179, Pick(0, 3)});
                    ++loops_;
                    Block(indent + 1, budget / 2);
                    --loops_;
                    Add(indent, {498});
                    break;
                case 6: {
                    // An endless loop left after a few passes by its own counter.
                    const std::int32_t counter = Normal(10 + indent);
                    Add(indent, {121, counter, 0, 0, 0});
                    Add(indent, {170});
                    Add(indent + 1, {121, counter, 1, 0, Calc(1, 0)});
                    Add(indent + 1, {111, 1, counter, Pick(1, 3), 1 | kLiteralRight});
                    Add(indent + 1, {401, 1});
                    Add(indent + 2, {171});
                    Add(indent + 1, {499});
                    ++loops_;
                    Block(indent + 1, budget / 2);
                    --loops_;
                    Add(indent, {498});
                    break;
                }
                default:
                    if (loops_ > 0) Add(indent, {Pick(0, 1) ? 171 : 176});
                    break;
            }
        }
    }

    std::mt19937 random_;
    Game_CommandList list_;
    std::int32_t loops_ = 0;
};

TEST_F(CompilePassTest, CompiledListsLeaveTheSameVariables) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        Game_CommandList source = RandomList(seed).Make();
        source.push_back(Command({kEndOfListCode}));
        Game_CommandList compiled = source;
        CompileCommandList(compiled, 0);

        std::mt19937 start(seed);
        std::vector<std::vector<std::int32_t>> results;
        for (const Game_CommandList* list : {&source, &compiled}) {
            TheVariables = Game_Variables();
            std::mt19937 values = start;
            for (std::int32_t k = 0; k < 10; ++k) {
                TheVariables.SetValue(Normal(k), static_cast<std::int32_t>(values() % 11) - 5);
            }
            for (std::int32_t k = 0; k < 5; ++k) {
                TheVariables.SetValue(15000000 + k, static_cast<std::int32_t>(values() % 11) - 5);
            }
            CommandStepCounter = 0;
            Run(*list);
            std::vector<std::int32_t> cells = TheVariables.numberLists[0];
            const auto& self = TheVariables.commonSelfIntegers[0];
            cells.insert(cells.end(), self.begin(), self.begin() + 5);
            results.push_back(cells);
        }
        EXPECT_EQ(results[0], results[1]) << "seed " << seed;
        if (results[0] != results[1]) break;
    }
}

}  // namespace
