// The commands that steer an interpreter through its list: number and text conditions with their
// branch cases, the two loop forms with break, continue and loop end, jumps to labels, waits,
// ending or erasing the running event, returning to the title and ending the game.
//
// The handlers work on plain lists as read from the files. Where a command carries jump lines
// (a compiled list), the handlers that read them take their targets from there; without, they
// search the list for the matching loop end, loop start or label.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/data/EventData.h"

class Game_Interpreter;

// Plugs the flow-control handlers into the dispatcher.
void InstallFlowCommands();

// The count an endless loop starts with.
inline constexpr std::int32_t kEndlessLoopCount = 2000000000;

// Back to the innermost loop's start (its first body line runs next); one pass is counted. When
// no earlier command has the loop's indent, the loop is left instead.
void LoopBack(Game_Interpreter& interpreter);
// Past the innermost loop's end (the command after it runs next) and drops the loop. Nothing
// changes when there is no open loop or its end is not found.
void LeaveLoop(Game_Interpreter& interpreter);

// Where a jump to the label `name` from line `current` lands and how the loop stacks change on the
// way: operations in order, -1 drops the innermost loop, a tag m pushes a loop of indent m / 10,
// endless when m mod 10 is 1 and counted (count 0) when it is 0. `expand` turns a label's stored
// text into the text compared with `name` (null compares the stored texts).
struct LabelSearchResult {
    bool found = false;
    std::int32_t line = -1;
    std::vector<std::int32_t> operations;
};
LabelSearchResult SearchLabel(const Game_CommandList& list, std::int32_t current,
                              const std::string& name,
                              std::string (*expand)(const std::string&, void*) = nullptr,
                              void* context = nullptr);
// Applies the loop-stack operations of a label search.
void ApplyLabelOperations(Game_Interpreter& interpreter,
                          const std::vector<std::int32_t>& operations);

// Ends the process after the end-game command (the shell's shut-down). Null: the command only
// sets the game state to quit, which ends the main loop.
extern void (*ShutDownGameHook)();
