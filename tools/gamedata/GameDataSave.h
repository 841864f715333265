// The save-file side of velk-gamedata: describes a ".sav" read through the player's own save
// readers, without moving or changing the file.
#pragma once

#include <string>

#include "tools/gamedata/GameDataJson.h"

namespace gamedata {

// The game folder a save belongs to when none is given: the folder above the save's own folder
// (saves lie in GAME/Save/).
std::string GuessGameFolder(const std::string& savePath);

// Reads the save at `path` as a save of the game in `gameFolder` (whose "BasicData" databases the
// save's variable database part needs) and describes its header and its seven parts. A save the
// readers refuse throws std::runtime_error whose message begins with the path.
Json DecodeSave(const std::string& path, const std::string& gameFolder);

}  // namespace gamedata
