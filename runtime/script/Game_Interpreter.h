// The event-script interpreter: runs one command list a slice per frame. The main interpreter runs
// the map events the player starts and the automatic common events one after another; parallel
// map event pages and parallel common events own their own; a call runs in a child hung below the
// caller. The dispatcher executes commands by their code through a table of handlers that the
// command modules fill; a code without a handler does nothing and the script goes on.
//
// Command lists are shared blocks: an interpreter keeps the block it runs alive, so that growing,
// overwriting or reloading the common events never frees a list under a running script.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/data/CommonEvent.h"
#include "runtime/data/EventData.h"

class Game_Character;
class Game_Interpreter;

// What an interpreter keeps; the interpreter class adds the operations. Copies copy every field
// and list (the command list block is shared, it is never changed through an interpreter).
struct Game_InterpreterRecord {
    // True for the main interpreter and the common-event children it calls.
    std::uint8_t mainFlag = 0;
    // 0 for a top-level interpreter; a common-event call's child gets its parent's depth + 1.
    std::int32_t callDepth = 0;
    // Index of the current command in the list; -1 after the list ended.
    std::int32_t line = 0;
    std::uint8_t waitingForWindow = 0;
    std::uint8_t waitingForAllRoutes = 0;
    std::uint8_t waitingForInput = 0;
    // The live map's id when the list was started.
    std::int32_t mapId = 0;
    // The map event whose list runs (or whose self variables "this event" means); -1 none.
    std::int32_t mapEventId = -1;
    // The common event whose list runs; -1 none.
    std::int32_t commonEventId = -1;
    // Sixtieths of a second still to wait.
    std::int32_t waitFrames = 0;
    // The interpreter it called (a parent runs no command while it has one, so there is at most
    // one); the first one is the one that runs.
    std::vector<Game_Interpreter> children;
    // The caller of a child; null for a top-level interpreter.
    Game_Interpreter* parent = nullptr;
    // Per indent level: the branch case to enter, 0 for else, -100 when the branch is done.
    std::array<std::int32_t, 50> branchStates{};
    // The list being run; null when idle.
    std::shared_ptr<const Game_CommandList> list;
    // Main interpreter only: copies of every automatic common event.
    std::vector<Game_CommonEvent> autoRunCommonEvents;
    // The open loops: indent of each loop's start command and its remaining repeats.
    std::vector<std::int32_t> loopIndents;
    std::vector<std::int32_t> loopCounts;
    std::int32_t keySnapshot = 0;
    std::int32_t padSnapshot = 0;
    // The open line input of a string input (0 none), where its text goes, and the text before it.
    std::int32_t lineInputHandle = 0;
    std::int32_t inputTarget = 0;
    std::string inputPrefix;
    std::int32_t cancelNotAllowed = 0;
    std::int32_t inputCode = 0;
    std::int32_t waitingForDownload = 0;
    // The character whose move route this interpreter waits for; -1000 none.
    std::int32_t routeWaitTarget = -1000;
    // 1 for the interpreters of parallel pages and parallel common events and their children.
    std::int32_t parallelFlag = 0;
    const Game_EventCommand* currentCommand = nullptr;
    // The caller's variable that receives a called common event's return value (0 none), and the
    // called common event's self variable it comes from.
    std::int32_t returnTarget = 0;
    std::int32_t returnSource = 0;
    std::uint8_t waitingForScroll = 0;
};

class Game_Interpreter : public Game_InterpreterRecord {
  public:
    Game_Interpreter() = default;
    // Copies keep their own children linked to themselves. A copy does not take over an open line
    // input: only the interpreter that opened it ends it.
    Game_Interpreter(const Game_Interpreter& other);
    Game_Interpreter(Game_Interpreter&& other) noexcept;
    Game_Interpreter& operator=(const Game_Interpreter& other);
    Game_Interpreter& operator=(Game_Interpreter&& other) noexcept;
    // Ends an open line input as a cancel.
    ~Game_Interpreter();

    // Resets as the main interpreter (main) or another top-level one; the main one rebuilds its
    // list of automatic common events from the live list.
    void Setup(bool main);
    void Clear();
    // Starts running `commands` (shared, not copied).
    void Start(std::shared_ptr<const Game_CommandList> commands, std::int32_t mapEventId,
               std::int32_t commonEventId);
    // Starts running a private copy of `commands`.
    void StartCopy(const Game_CommandList& commands, std::int32_t mapEventId,
                   std::int32_t commonEventId);
    bool IsRunning() const { return list != nullptr; }

    // Runs this interpreter (and through it its children) for one frame.
    void Update();
    // Gives an idle main interpreter its next list.
    void StartNext();
    // The dispatcher: runs commands until one stops the run; see Update.
    bool RunCommands();
    // Drops the list (the end of the list, and the commands that end a script).
    void FinishList();
    // Leaves the line just before the first following command at the current command's indent.
    void SkipToSameIndent();
    void DrawStringInput();

    // Arguments that may name a variable, and variable writes, with the interpreter-relative ids
    // rewritten first.
    std::int32_t ResolveNumber(std::int32_t value);
    std::string ResolveString(std::int32_t id);
    void WriteNumber(std::int32_t id, std::int32_t value);
    void WriteString(std::int32_t id, const std::string& text);
    Game_Character* FindCharacter(std::int32_t value);
    Game_MoveRoute ResolveRouteVariables(const Game_MoveRoute& route);

    // Adds a child that this interpreter called and returns it.
    Game_Interpreter& AddChild();

  private:
    void RelinkChildren();
    // Steps 4 to 18 of a frame (everything after the children); true to go round again.
    bool RunAfterChildren();
    void StepGuard();
    void ResetMain();
    // False while the line input is still being edited.
    bool CompleteStringInput();
    void CancelLineInput();
    void WatchVariable(std::int32_t id, const std::string& value);
};

// ---- The dispatcher's code table ----

// How the dispatcher treats a handler's result: Result ends the step loop with it, Next ignores it
// and goes on in the same step loop.
enum class CommandResultKind : std::uint8_t { Unknown, Result, Next, EndOfList, ResetMain };
using CommandHandler = bool (*)(Game_Interpreter& interpreter);

// The kind of a code in the table (Unknown for codes the dispatcher does not know).
CommandResultKind CommandKindOf(std::int32_t code);
// Plugs a command module's handler into the table; a listed code without a handler behaves as an
// unknown one. Returns the handler it replaces.
CommandHandler SetCommandHandler(std::int32_t code, CommandHandler handler);
CommandHandler GetCommandHandler(std::int32_t code);

// ---- What the interpreter reads of the rest of the runtime ----

// The live map, its characters, windows, line input and input evaluation. An entry left null
// answers as if there were nothing: no map (id -1), no events, no characters, no running move
// route or scroll, no window to close.
struct InterpreterLinks {
    std::int32_t (*mapId)();
    void (*requestRefresh)();
    bool (*refreshRequested)();
    void (*refreshEvents)();
    // The first map event whose start flag is set and which is not being erased; -1 none.
    std::int32_t (*firstStartingEvent)();
    std::int32_t (*eventTrigger)(std::int32_t eventId);
    void (*clearStartFlag)(std::int32_t eventId);
    void (*lockFacingForEvent)(std::int32_t eventId);
    void (*unlockFacing)(std::int32_t eventId);
    // The command list of the event's current page (null when none).
    const Game_CommandList* (*eventCommands)(std::int32_t eventId);
    // Characters: a map event by id, the player, the follower at a position (0..4).
    Game_Character* (*event)(std::int32_t eventId);
    Game_Character* (*player)();
    Game_Character* (*follower)(std::int32_t index);
    std::int32_t (*characterId)(Game_Character* character);
    bool (*routeRunning)(Game_Character* character);
    bool (*anyRouteRunning)();
    void (*stopAllRoutes)();
    bool (*isScrolling)();
    void (*closeMessageWindow)();
    void (*closeChoiceWindow)();
    // The line input of a string input: 0 editing, 1 finished, 2 cancelled.
    std::int32_t (*checkLineInputState)(std::int32_t handle);
    std::string (*getLineInputText)(std::int32_t handle);
    void (*deleteLineInputHandle)(std::int32_t handle);
    void (*drawStringInput)(Game_Interpreter& interpreter);
    // The KeyInput command's wait for a press.
    void (*evaluateInput)(Game_Interpreter& interpreter);
    // The microsecond clock the frame start is taken with.
    std::int64_t (*microsecondClock)();
    // Erasing and calling map events: the timed erase of an event, an event's page count (0 when
    // the live map has no such event), the command list of one of its pages (null when none), and
    // the start flag that leaves an event to the main interpreter.
    void (*startTimedErase)(std::int32_t eventId, std::int32_t frames);
    std::int32_t (*eventPageCount)(std::int32_t eventId);
    const Game_CommandList* (*eventPageCommands)(std::int32_t eventId, std::int32_t page);
    void (*requestEventStart)(std::int32_t eventId);
};

InterpreterLinks& GetInterpreterLinks();
// Puts back the defaults.
void ResetInterpreterLinks();

// ---- Engine state outside the interpreters ----

// The interpreter whose commands are being run; null when none (cleared when a save is loaded).
extern Game_Interpreter* RunningInterpreter;
// The map event id, common event id (-1 none) and line of the interpreter last updated.
extern std::int32_t CurrentMapEventId;
extern std::int32_t CurrentCommonEventId;
extern std::int32_t CurrentScriptLine;
// Commands run in the current frame by all interpreters together; they stop running commands
// once it reaches kCommandStepLimit. The map update resets it every frame.
extern std::int32_t CommandStepCounter;
inline constexpr std::int32_t kCommandStepLimit = 5000000;
// Frames a runaway loop's interpreter pauses after its report.
inline constexpr std::int32_t kRunawayPauseFrames = 3;
// Set by the main-interpreter reset command, consumed by the main interpreter's next Update.
extern std::int32_t MainInterpreterResetRequest;
// The string-input state that the string input command opens: a string input is shown, and the
// line input is in use (1), finished (0) or cancelled (-1).
extern std::uint8_t StringInputActive;
extern std::int32_t LineInputInUse;
// The text engine's code for a literal backslash.
inline constexpr char kLiteralBackslashCode[] = "\x01\x02\x01";
