// The event-script interpreter's record, as far as the error reports and the system state use it:
// where it stands (map event, common event, line) and the chain of interpreters that called each
// other. The running engine adds its own state and operations to this record.
#pragma once

#include <cstdint>
#include <vector>

class Game_Interpreter {
  public:
    // Index of the current command in the list; -1 after the list ended.
    std::int32_t line = 0;
    // The map event whose list runs (or whose self variables "this event" means); -1 none.
    std::int32_t mapEventId = -1;
    // The common event whose list runs; -1 none.
    std::int32_t commonEventId = -1;
    // The interpreter it called (a parent runs no command while it has one, so there is at most
    // one); the first one is the one that runs.
    std::vector<Game_Interpreter> children;
    // The caller of a child; null for a top-level interpreter.
    Game_Interpreter* parent = nullptr;

    Game_Interpreter() = default;
    // Copies keep their own children linked to themselves.
    Game_Interpreter(const Game_Interpreter& other);
    Game_Interpreter(Game_Interpreter&& other) noexcept;
    Game_Interpreter& operator=(const Game_Interpreter& other);
    Game_Interpreter& operator=(Game_Interpreter&& other) noexcept;

    // Adds a child that this interpreter called and returns it.
    Game_Interpreter& AddChild();

  private:
    void RelinkChildren();
};

// The interpreter whose commands are being run; null when none (cleared when a save is loaded).
extern Game_Interpreter* RunningInterpreter;
// The map event id, common event id (-1 none) and line of the command being run.
extern std::int32_t CurrentMapEventId;
extern std::int32_t CurrentCommonEventId;
extern std::int32_t CurrentScriptLine;
// Commands run in the current frame by all interpreters together; they stop running commands
// once it reaches kCommandStepLimit.
extern std::int32_t CommandStepCounter;
inline constexpr std::int32_t kCommandStepLimit = 5000000;
