// The compiled forms of the database command: a read or write of one number field whose database,
// type and field are fixed, made at load time by the compile pass.
#pragma once

#include <cstdint>

#include "runtime/data/EventData.h"

inline constexpr std::int32_t kCompiledDatabaseWrite = 250100;
inline constexpr std::int32_t kCompiledDatabaseRead = 250101;

// Turns the names of a database command into numbers and, when it reads or writes one number
// field of a fixed type, gives it its compiled form (cells of the common event at list index
// `commonEventIndex`).
void CompileDatabaseCommand(Game_EventCommand& command, std::int32_t commonEventIndex);

// Plugs the handlers of the compiled database forms into the dispatcher.
void InstallCompiledDatabaseCommands();
