// The records of map events and of event scripts: commands, move routes, page conditions, pages
// and events, as stored in map files (and, for commands and routes, in common-event files and
// saves). Each record reads itself from TheDataFileBuffer at its current position.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/script/Game_Variables.h"

// The code every command list read from a file ends with.
inline constexpr std::int32_t kEndOfListCode = -1;

// The most commands a move route may hold.
inline constexpr std::int32_t kMaxMoveRouteCommands = 65536;

// One step of a move route.
struct Game_MoveCommand {
    std::uint8_t code = 0;
    std::vector<std::int32_t> arguments;
    // At most 254 bytes; stored without code-page conversion.
    std::string text;

    // Reads one move command from the data file, or from TheSaveStream when `fromSave` is set.
    // False when the record does not fit (in the save form the stream's overrun flag is set).
    bool Read(bool fromSave);
    // Writes the save form into TheSaveStream.
    void WriteSave() const;

    bool operator==(const Game_MoveCommand&) const = default;
};

// The movement settings of a page or a character.
struct Game_MoveRoute {
    std::uint8_t setting0 = 0;
    std::uint8_t setting1 = 3;
    std::uint8_t setting2 = 3;  // the move speed, 0..6
    std::uint8_t setting3 = 3;
    std::uint8_t options = 3;       // PageOptionFlags
    std::uint8_t routeOptions = 2;  // bit 0 repeat, bit 1 skip blocked steps, bit 2 wait
    std::vector<Game_MoveCommand> commands;

    bool AnimatesWhenStopped() const { return options & 0x01; }
    bool AnimatesWhenMoving() const { return options & 0x02; }
    bool HasFixedDirection() const { return options & 0x04; }
    bool PassesThrough() const { return options & 0x08; }
    bool HasTopPriority() const { return options & 0x10; }
    bool HasExtendedContact() const { return options & 0x20; }
    bool IsShiftedHalfUp() const { return options & 0x40; }
    bool IsShiftedHalfLeft() const { return options & 0x80; }

    // Reads a move-route record from the data file or (fromSave) from TheSaveStream. The command
    // list becomes exactly as long as the stored count. False when the count is negative or above
    // kMaxMoveRouteCommands (nothing more is read) or a field does not fit.
    bool Read(bool fromSave);
    // Writes the record into TheSaveStream (in its measuring pass only the position moves).
    void WriteSave() const;

    bool operator==(const Game_MoveRoute&) const = default;
};

// A variable cell resolved by the compile pass; the variable store owns the cells. An empty
// reference stands for an operand that is a literal (the command's argument itself).
using ResolvedVariableCell = VariableCellRef;

// One event command.
struct Game_EventCommand {
    // Argument 0 is the command code.
    std::vector<std::int32_t> arguments{0};
    std::uint8_t indent = 0;
    std::vector<std::string> strings;
    std::optional<Game_MoveRoute> moveRoute;
    // Filled by the compile pass; empty on load.
    std::vector<std::int32_t> jumpLines;
    std::vector<ResolvedVariableCell> resolvedVariables;

    // Where the interpreter found the handler of `code` the last time it ran this command, so a
    // command run again in a loop skips the lookup. Not part of the command's value.
    struct DispatchNote {
        std::int32_t code = 0;
        const void* entry = nullptr;
    };
    mutable DispatchNote dispatch;

    std::int32_t Code() const { return arguments.empty() ? 0 : arguments[0]; }
    bool Read();

    bool operator==(const Game_EventCommand& other) const {
        return arguments == other.arguments && indent == other.indent && strings == other.strings &&
               moveRoute == other.moveRoute && jumpLines == other.jumpLines &&
               resolvedVariables == other.resolvedVariables;
    }
};

using Game_CommandList = std::vector<Game_EventCommand>;

// Reads an int32 count c and c commands into `list` (emptied first) and makes the last code
// kEndOfListCode. A count of 0 or less marks the file damaged.
bool ReadCommandList(Game_CommandList& list);

// Compares by a ConditionOperator (the high four bits of a condition byte, shifted down):
// 0 >, 1 >=, 2 ==, 3 <=, 4 <, 5 !=, 6 all bits of right set in left; 7 to 15 never hold.
bool EvaluateConditionOperator(int op, std::int32_t left, std::int32_t right);

// What a page condition reads variables through (the variable store's GetValue).
using VariableValueReader = std::int32_t (*)(std::int32_t id);

// The start conditions of a page.
struct Game_PageCondition {
    std::uint8_t trigger = 0;
    std::uint8_t conditions[4] = {32, 32, 32, 32};
    std::int32_t variableIds[4] = {0, 0, 0, 0};
    std::int32_t values[4] = {0, 0, 0, 0};

    bool Read();
    // True when the page's conditions hold for the map event `eventId`; variables are read
    // through `getValue`.
    bool Check(std::int32_t eventId, VariableValueReader getValue) const;

    bool operator==(const Game_PageCondition&) const = default;
};

struct Game_EventPage {
    std::int32_t graphicTile = -1;
    std::string graphicFile;
    std::uint8_t direction = 2;
    std::uint8_t pattern = 1;
    std::uint8_t opacity = 255;
    std::uint8_t blendMode = 0;
    Game_PageCondition condition;
    Game_MoveRoute movement;
    std::int32_t commandCount = 0;
    Game_CommandList commands{Game_EventCommand{}};
    std::vector<std::uint8_t> contactBytes{0, 0, 0};

    bool Read();

    bool operator==(const Game_EventPage&) const = default;
};

// One map event as stored.
struct Game_EventData {
    std::int32_t id = -1;
    std::string name;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t pageCount = 1;
    std::vector<std::uint8_t> extraBytes;
    std::vector<Game_EventPage> pages{Game_EventPage{}};

    bool Read();

    bool operator==(const Game_EventData&) const = default;
};

// Field limits in bytes, terminating zero included.
inline constexpr std::size_t kEventNameLimit = 512;
inline constexpr std::size_t kGraphicFileLimit = 512;
