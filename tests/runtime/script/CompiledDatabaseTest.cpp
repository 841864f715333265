// The compiled database commands: what the compile pass makes of a database command, the
// differences the compiled form keeps on purpose (it writes the database its bits select, a
// remainder by 0 gives 1, a missing entry reads its initial value), and that compiled reads and
// writes reach the right cells after entries were inserted and removed.
#include "runtime/script/CompiledDatabase.h"

#include <random>

#include "runtime/script/CallCommands.h"
#include "runtime/script/CommandTestSupport.h"
#include "runtime/script/CompilePass.h"
#include "runtime/script/DatabaseCommands.h"
#include "runtime/script/FlowCommands.h"

namespace {

using namespace script_test;

constexpr std::int32_t kUserSlot = 2 << 8;
constexpr std::int32_t kReadMode = 1 << 12;
constexpr std::int32_t Op(std::int32_t op) {
    return op << 4;
}

void Fill(Game_Database& db, std::int32_t kind, std::int32_t types, std::int32_t entries) {
    db = Game_Database();
    db.kind = kind;
    db.SetTypeCount(types);
    for (std::int32_t k = 0; k < types; ++k) {
        Game_DatabaseType t;
        t.fieldKinds = {kNumberFieldBase, kNumberFieldBase + 1, kStringFieldBase};
        t.entries.assign(static_cast<std::size_t>(entries), Game_DatabaseEntry{{0, 0}, {""}});
        db.types[static_cast<std::size_t>(k)] = t;
        auto& info = db.typeInfos[static_cast<std::size_t>(k)];
        info.typeName = "Type" + std::to_string(k);
        info.fieldNames = {"Attack", "Guard", "Name"};
        info.dataNames.assign(static_cast<std::size_t>(entries), "");
        info.initialValues = {7, 0, 0};
    }
}

class CompiledDatabaseTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        for (std::int32_t code :
             {111, 121, 170, 171, 176, 179, 250, 251, 252, 401, 420, 498, 499, 250100, 250101}) {
            saved_[code] = GetCommandHandler(code);
        }
        InstallFlowCommands();
        InstallDatabaseCommands();
        InstallCompiledCommands();
        Fill(TheVariableDatabase, kVariableDatabase, 2, 10);
        Fill(TheUserDatabase, kUserDatabase, 2, 3);
        BuildDatabaseNameIndex();
        DatabaseBaseline.assign(2, DatabaseBaselineType{});
    }
    void TearDown() override {
        TheVariableDatabase = Game_Database(Game_Database::QuietConstruction{});
        TheUserDatabase = Game_Database(Game_Database::QuietConstruction{});
        DatabaseBaseline.clear();
        CompileCommonEventsHook = nullptr;
        CommandTest::TearDown();
        BuildDatabaseNameIndex();
    }

    static Game_CommandList Compiled(Game_CommandList list) {
        list.push_back(Command({kEndOfListCode}));
        CompileCommandList(list, 0);
        return list;
    }
    void Run(const Game_CommandList& list) {
        interpreter_ = std::make_unique<Game_Interpreter>();
        interpreter_->Setup(false);
        interpreter_->Start(std::make_shared<const Game_CommandList>(list), -1, 0);
        for (int frame = 0; frame < 50 && interpreter_->IsRunning(); ++frame) Frame();
        EXPECT_FALSE(interpreter_->IsRunning());
    }
    std::int32_t Cell(std::int32_t type, std::int32_t data, std::int32_t field) {
        return TheVariableDatabase.ReadNumber(type, data, field);
    }
};

TEST_F(CompiledDatabaseTest, WhatGetsCompiled) {
    struct Case {
        Game_EventCommand command;
        std::int32_t code;
    };
    const Case cases[] = {
        {Command({250, 1, 2, 0, kUserSlot, 42}), 250100},
        {Command({250, 1, Normal(0), 1, kReadMode, Normal(1)}), 250101},
        {Command({250, 0, 0, 0, 0, 1600003}), 250100},
        // A text field, a count, a name read, a text source and a database past the user one.
        {Command({250, 0, 0, 2, 0, 5}), 250},
        {Command({250, 0, -1, 0, kReadMode, Normal(1)}), 250},
        {Command({250, 0, 0, -3, kReadMode, Text(0)}), 250},
        {Command({250, 0, 0, 0, 2, 5}), 250},
        {Command({250, 0, 0, 0, 3 << 8, 5}), 250},
        {Command({250, 5, 0, 0, 0, 5}), 250},
        // A type name becomes its number once; one that is not found stays for the report.
        {Command({250, 0, 0, 0, 1 << 16, 5}, {"", "Type1", "", ""}), 250100},
        {Command({250, 0, 0, 0, 1 << 16, 5}, {"", "Nothing", "", ""}), 250},
    };
    for (const Case& c : cases) {
        const Game_CommandList list = Compiled({c.command});
        EXPECT_EQ(list[0].Code(), c.code)
            << c.command.arguments[1] << " " << c.command.arguments[4];
    }
    const Game_CommandList named =
        Compiled({Command({250, 0, 0, 0, 1 << 16, 5}, {"", "Type1", "", ""})});
    EXPECT_EQ(named[0].arguments[1], 1);
    EXPECT_EQ(named[0].arguments[4], 0);
    // The entry of a user type is known to exist; a variable-database entry may go away.
    EXPECT_EQ(Compiled({cases[0].command})[0].jumpLines,
              (std::vector<std::int32_t>{1, 0, 0, 0, 1}));
    EXPECT_EQ(Compiled({cases[2].command})[0].jumpLines.back(), 0);
}

TEST_F(CompiledDatabaseTest, TheStatedDifferencesFromTheGeneralForm) {
    // The compiled write honours the database bits.
    Run(Compiled({Command({250, 1, 2, 0, kUserSlot, 42})}));
    EXPECT_EQ(TheUserDatabase.ReadNumber(1, 2, 0), 42);
    EXPECT_EQ(Cell(1, 2, 0), 0);
    // Remainder by 7 and by 0.
    TheVariableDatabase.WriteNumber(0, 1, 0, 5);
    Run(Compiled({Command({250, 0, 1, 0, Op(5), 7})}));
    EXPECT_EQ(Cell(0, 1, 0), 5);
    Run(Compiled({Command({250, 0, 1, 0, Op(5), 0})}));
    EXPECT_EQ(Cell(0, 1, 0), 1);
    TheVariableDatabase.WriteNumber(0, 1, 0, 5);
    Run({Command({250, 0, 1, 0, Op(5), 0}), Command({kEndOfListCode})});
    EXPECT_EQ(Cell(0, 1, 0), 0);
    // Divide by 0 leaves the cell.
    Run(Compiled({Command({250, 0, 1, 0, Op(4), 0})}));
    EXPECT_EQ(Cell(0, 1, 0), 0);
    // A missing entry reads its initial value and the type does not grow; a write grows it.
    Run(Compiled({Command({250, 0, 20, 0, kReadMode, Normal(1)})}));
    EXPECT_EQ(Value(Normal(1)), 7);
    EXPECT_EQ(TheVariableDatabase.DataCount(0), 10);
    Run(Compiled({Command({250, 0, 14, 1, Op(1), 3})}));
    EXPECT_EQ(TheVariableDatabase.DataCount(0), 15);
    EXPECT_EQ(Cell(0, 14, 1), 3);
    EXPECT_TRUE(Reports().empty());
    // A negative data number from a variable is reported.
    TheVariables.SetValue(Normal(0), -4);
    Run(Compiled({Command({250, 0, Normal(0), 0, 0, 3})}));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].first, "DB操作：データ番号がマイナスです！ => データ -4");
}

TEST_F(CompiledDatabaseTest, CompiledCommandsFollowInsertsAndRemoves) {
    for (std::int32_t d = 0; d < 10; ++d) TheVariableDatabase.WriteNumber(1, d, 1, 100 + d);
    TheVariables.SetValue(Normal(0), 6);
    const Game_CommandList list = Compiled({
        Command({252, 1, 2, 0, 0, 3}),                          // insert 3 at 2
        Command({250, 1, Normal(0), 1, kReadMode, Normal(1)}),  // reads entry 6 = old 3
        Command({252, 1, 0, 0, 1 << 12, 5}),                    // remove 5 at 0
        Command({250, 1, 4, 1, kReadMode, Normal(2)}),          // entry 4 = old 6
        Command({252, 1, 0, 0, 1 << 12, 100}),                  // remove everything
        Command({250, 1, 8, 1, Op(1), 9}),                      // grows again
        Command({250, 1, 8, 1, kReadMode, Normal(3)}),
        Command({250, 0, 8, 0, kReadMode, Normal(4)}),
    });
    EXPECT_EQ(list[1].Code(), 250101);
    EXPECT_EQ(list[5].Code(), 250100);
    Run(list);
    EXPECT_EQ(Value(Normal(1)), 103);
    EXPECT_EQ(Value(Normal(2)), 106);
    EXPECT_EQ(Value(Normal(3)), 9);
    EXPECT_EQ(Value(Normal(4)), 0);
    EXPECT_EQ(TheVariableDatabase.DataCount(1), 9);
}

// Seeded random lists of variable and database commands in loops and branches leave the same
// variables and cells compiled as in source form.
TEST_F(CompiledDatabaseTest, CompiledListsLeaveTheSameCells) {
    for (std::uint32_t seed = 1; seed <= 200; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](std::int32_t low, std::int32_t high) {
            return std::uniform_int_distribution<std::int32_t>(low, high)(random);
        };
        Game_CommandList source;
        const auto add = [&](std::int32_t indent, std::vector<std::int32_t> arguments) {
            Game_EventCommand c = Command(std::move(arguments));
            c.indent = static_cast<std::uint8_t>(indent);
            source.push_back(c);
        };
        const std::int32_t outer = pick(0, 2);
        add(0, {179, outer});
        for (std::int32_t k = pick(3, 10); k > 0; --k) {
            const std::int32_t type = pick(0, 1);
            const std::int32_t field = pick(0, 1);
            const std::int32_t data = pick(0, 1) ? pick(0, 11) : Normal(pick(0, 3));
            switch (pick(0, 4)) {
                case 0:
                    add(1, {250, type, data, field, Op(pick(0, 3)),
                            pick(0, 1) ? pick(-9, 9) : Normal(pick(4, 6))});
                    break;
                case 1:
                    add(1, {250, type, data, field, Op(pick(4, 5)), pick(1, 9)});
                    break;
                case 2:
                    // Entries 0 to 2 are never removed: a compiled read of a missing entry
                    // gives the initial value where the general form grows the type.
                    add(1, {250, type, pick(0, 2), field, kReadMode | Op(pick(0, 2)),
                            Normal(pick(0, 6))});
                    break;
                case 3:
                    if (pick(0, 1)) {
                        add(1, {252, type, pick(0, 9), 0, 0, pick(1, 3)});
                    } else {
                        add(1, {252, type, pick(3, 9), 0, 1 << 12, pick(1, 3)});
                    }
                    break;
                default:
                    add(1, {121, Normal(pick(0, 6)), pick(-3, 12), 0, 0});
                    break;
            }
        }
        add(0, {498});
        source.push_back(Command({kEndOfListCode}));
        Game_CommandList compiled = source;
        CompileCommandList(compiled, 0);

        std::vector<std::vector<std::int32_t>> results;
        for (const Game_CommandList* list : {&source, &compiled}) {
            Fill(TheVariableDatabase, kVariableDatabase, 2, 10);
            TheVariables = Game_Variables();
            std::mt19937 values(seed);
            for (std::int32_t k = 0; k < 7; ++k) {
                TheVariables.SetValue(Normal(k), static_cast<std::int32_t>(values() % 12));
            }
            for (std::int32_t d = 0; d < 10; ++d) {
                TheVariableDatabase.WriteNumber(0, d, 0, static_cast<std::int32_t>(values() % 9));
                TheVariableDatabase.WriteNumber(1, d, 1, static_cast<std::int32_t>(values() % 9));
            }
            Run(*list);
            std::vector<std::int32_t> cells = TheVariables.numberLists[0];
            for (const auto& type : TheVariableDatabase.types) {
                cells.push_back(static_cast<std::int32_t>(type.entries.size()));
                for (const auto& entry : type.entries) {
                    cells.insert(cells.end(), entry.numbers.begin(), entry.numbers.end());
                }
            }
            results.push_back(cells);
        }
        EXPECT_EQ(results[0], results[1]) << "seed " << seed;
        if (results[0] != results[1]) break;
    }
}

}  // namespace
