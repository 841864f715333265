// Generated sample records for tests, benchmarks and fuzz seeds: every field set to a value that
// differs from its default, so that a field lost on the way shows.
#pragma once

#include <cstdint>

#include "runtime/data/Game_Database.h"
#include "tools/gamedata/GameDataWriter.h"

namespace gamedata {

// A command list of `count` commands (the last one the end-of-list command) with arguments,
// strings, indents and a move route on every third command.
Game_CommandList MakeSampleCommands(int count, std::uint32_t seed);
// An event with `pageCount` pages.
Game_EventData MakeSampleEvent(std::int32_t id, int pageCount, std::uint32_t seed);
// A map of the given size with tiles everywhere and `eventCount` events in shuffled id order
// (sorted as a reader sorts them).
Game_MapData MakeSampleMap(std::int32_t width, std::int32_t height, int eventCount,
                           std::uint32_t seed);
// A tileset whose chip lists hold 32 autotile entries and `baseChips` base chips.
Game_TileSet MakeSampleTileSet(int baseChips, std::uint32_t seed);

// A database of `typeCount` types with Japanese type, data and field names, number and string
// fields in mixed order (some kinds out of order), per-field settings, initial values, and a mix
// of lead values and name modes (0, 1 and 2). Every list is as long as its file form keeps it, so
// that the database reads back equal.
Game_Database MakeSampleDatabase(std::int32_t kind, int typeCount, std::uint32_t seed);

}  // namespace gamedata
