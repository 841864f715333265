// The event commands of sound: play, preload, release and free BGM, BGS and sound effects named by
// database id, by a variable or by a file name; and the speech command, which is no longer
// available and only says so.
#pragma once

#include <cstdint>

class Game_Interpreter;

inline constexpr std::int32_t kSoundCommandCode = 140;
inline constexpr std::int32_t kSpeechSynthesisCommandCode = 141;

bool CommandSound(Game_Interpreter& interpreter);
bool CommandSpeechSynthesis(Game_Interpreter& interpreter);

// Plugs both handlers into the dispatcher's table.
void InstallSoundCommands();
