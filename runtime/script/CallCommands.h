// The commands that start other scripts: calling a common event or a map event's page in a child
// interpreter (handing over numbers and texts and taking back a return value), calling a common
// event by its name or from a ".common" file, and reserving an event for the main interpreter.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

// Plugs the call handlers into the dispatcher.
void InstallCallCommands();

// Common-event name → number; of several common events with one name the last one counts.
extern std::unordered_map<std::string, std::int32_t> CommonEventNameMap;
// ".common" file name → number of its first common event, for the files inserted this run.
extern std::unordered_map<std::string, std::int32_t> InsertedCommonFiles;
// Rebuilds CommonEventNameMap from the live common events (at every start and restart, after the
// test-play reload and after a save is loaded into the live game in test play).
void BuildCommonEventNameMap();

// Compiles the live common events again after a ".common" file added some. Null: the lists stay
// as read.
extern void (*CompileCommonEventsHook)();

// Common-event calls deeper than this are refused.
inline constexpr std::int32_t kCallDepthLimit = 500;
// Calls by name or file go on past kCallDepthLimit with a report, up to this depth.
inline constexpr std::int32_t kInsertDepthLimit = 10000;
