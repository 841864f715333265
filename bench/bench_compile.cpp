// One frame's command budget (5,000,000 steps) spent in a loop of variable and condition
// commands, run in source form and as the compile pass leaves it. The compiled form should be at
// least three times as fast and finish the budget within 100 ms.
#include <benchmark/benchmark.h>

#include <memory>

#include "runtime/data/CommonEvent.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_Database.h"
#include "runtime/script/CommandModules.h"
#include "runtime/script/CompilePass.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/Game_System.h"

namespace {

std::int32_t Normal(std::int32_t n) {
    return 2000000 + n;
}

Game_EventCommand At(std::int32_t indent, std::vector<std::int32_t> arguments) {
    Game_EventCommand c;
    c.arguments = std::move(arguments);
    c.indent = static_cast<std::uint8_t>(indent);
    return c;
}

void SetUpGame() {
    static bool done = false;
    if (done) return;
    done = true;
    GetDataFileServices().reportRuntimeError = [](const std::string&, const std::string&,
                                                  const std::string&) {};
    TheSystemDatabase = Game_Database();
    TheSystemDatabase.kind = kSystemDatabase;
    TheSystemDatabase.SetTypeCount(24);
    Game_DatabaseType normal;
    normal.fieldKinds = {kNumberFieldBase};
    normal.entries.assign(20, Game_DatabaseEntry{{0}, {}});
    TheSystemDatabase.types[14] = normal;
    TheCommonEvents = Game_CommonEventList();
    TheCommonEvents.Resize(2);
    TheVariables = Game_Variables();
    TheGameSystem = Game_System(Game_System::QuietConstruction{});
    TheGameSystem.gameState = GameState::Run;
    InstallCommandModules();
}

// An endless loop that counts, compares and branches; the frame's step budget ends it.
Game_CommandList LoopList() {
    return {
        At(0, {170}),
        At(1, {121, Normal(0), 1, 0, 1 << 8}),  // N0 += 1
        At(1, {111, 1, Normal(0), 1000, 2}),    // N0 == N1000? (literal 1000)
        At(1, {401, 1}),
        At(2, {121, Normal(0), 0, 0, 0}),  // N0 := 0
        At(1, {499}),
        At(1, {121, Normal(1), Normal(0), 3, 1 << 12}),  // N1 := N0 - 3
        At(1, {111, 2, Normal(1), 5, 0x10 | 0, Normal(0), Normal(2), 4}),
        At(1, {401, 1}),
        At(2, {121, Normal(2), Normal(1), 2, (1 << 8)}),  // N2 += N1 + 2
        At(1, {401, 2}),
        At(2, {121, Normal(2), 1, 0, 2 << 8}),  // N2 -= 1
        At(1, {420, 0}),
        At(1, {499}),
        At(0, {498}),
        At(0, {kEndOfListCode}),
    };
}

void RunBudget(benchmark::State& state, bool compiled) {
    SetUpGame();
    Game_CommandList list = LoopList();
    if (compiled) CompileCommandList(list, 0);
    const auto shared = std::make_shared<const Game_CommandList>(std::move(list));
    std::int64_t steps = 0;
    for (auto _ : state) {
        Game_Interpreter interpreter;
        interpreter.Setup(false);
        interpreter.Start(shared, -1, 0);
        CommandStepCounter = 0;
        // The dispatcher alone: it stops when the budget is spent (the frame's update would go
        // on to report a runaway script).
        interpreter.RunCommands();
        steps += CommandStepCounter;
        benchmark::DoNotOptimize(TheVariables.numberLists[0][2]);
    }
    state.counters["steps"] =
        benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate);
}

void BM_LoopSource(benchmark::State& state) {
    RunBudget(state, false);
}
void BM_LoopCompiled(benchmark::State& state) {
    RunBudget(state, true);
}

BENCHMARK(BM_LoopSource)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoopCompiled)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
