// The event commands of the save system: save the live game to a slot or a named file, load one
// into the live game or restart to play back its key-input replay (220); read one variable out of
// a save file (221); write one value into a save file without touching the running game (222).
// All file work is the save manager's.
#pragma once

#include <cstdint>
#include <string>

class Game_Interpreter;

inline constexpr std::int32_t kSaveLoadCommandCode = 220;
inline constexpr std::int32_t kReadSaveDataCommandCode = 221;
inline constexpr std::int32_t kWriteSaveDataCommandCode = 222;

bool CommandSaveLoad(Game_Interpreter& interpreter);
bool CommandReadSaveData(Game_Interpreter& interpreter);
bool CommandWriteSaveData(Game_Interpreter& interpreter);

// A save name as the file layer takes it: each internal backslash code (0x01 0x02 0x01) becomes a
// backslash, then each pair of backslashes one backslash.
std::string UnescapeSaveName(const std::string& name);

// Plugs the three handlers into the dispatcher's table, and makes reports that flush write the
// pending saves.
void InstallSaveCommands();
