// The load-time compile pass over the common events and the handlers of the codes it writes.
//
// The pass rewrites each common event's command list so that the commands that run most often
// need no argument decoding: a run of comments becomes one jump, loops learn their end and start
// lines, conditions and variable operations on fixed variables get references to their cells and
// a code the dispatcher runs inline, branch cases learn where the next case starts and label
// jumps their target. A compiled list behaves as its source list does.
//
// References name cells by list and index (VariableCellRef) and are found again on every use, so
// a variable-database type that a command resizes or a common-event table that grows never leaves
// a compiled command pointing at freed storage.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/data/EventData.h"

// Compiles every common event of the live list in list order. Lists are compiled into new blocks
// (a running script keeps the block it started with). In test play a "ValWatch:" debug text
// leaves every common event in its source form instead.
void CompileCommonEvents();

// Compiles one list (already ending in its end code) of the common event at list index
// `commonEventIndex`. Compiling a compiled list gives the same list again.
void CompileCommandList(Game_CommandList& list, std::int32_t commonEventIndex);

// Turns every compiled code of the list back into its source code and drops all compiled data.
// Debug texts that became comments stay comments.
void DecompileCommandList(Game_CommandList& list);

// Plugs the handlers of the compiled codes into the dispatcher and makes a ".common" insert
// compile the common events again.
void InstallCompiledCommands();

// Shows the caption of the "ValWatch:" abort (UTF-8). The default sets the window caption.
extern void (*CompilePassCaptionHook)(const std::string& text);
