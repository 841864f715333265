// Settings of the running player that the start-up sequence decides once and the whole runtime
// reads: where the executable lies, the screen's size and scale, the tile size and how many
// sixtieths of a second one frame stands for.
#pragma once

#include <cstdint>
#include <string>

// The executable's folder as a UTF-8 path ending in its separator; error reports cut it from
// their texts. Empty until the start-up sets it.
extern std::string ExeFolder;
// The screen in window pixels (the game's size times WindowScale).
extern std::int32_t ScreenWidth;
extern std::int32_t ScreenHeight;
// The enlargement of the game screen in the window: 1 or 2 (never below 1).
extern std::int32_t WindowScale;
// The map's tile size in pixels: 16, 32, 40 or 48.
extern std::int32_t TileSize;
// Sixtieths of a second one frame stands for (60 / the game's frame rate, at least 1).
extern std::int32_t FrameMultiplier;
// The game runs from the editor's test play: extra reports, viewers and keys.
extern bool TestPlay;
// The data folder's full path ending in its separator (files named by the game data are found
// below it). Empty until the start-up sets it.
extern std::string DataPath;
// Set when a save was loaded into the running game during this frame; the frame update clears it
// at the start of every frame. While it is set the interpreters and the map's event updates stop.
extern std::uint8_t SaveJustLoaded;
