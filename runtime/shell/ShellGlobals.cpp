#include "runtime/shell/ShellGlobals.h"

std::string ExeFolder;
std::int32_t ScreenWidth = 640;
std::int32_t ScreenHeight = 480;
std::int32_t WindowScale = 1;
std::int32_t TileSize = 16;
std::int32_t FrameMultiplier = 1;
bool TestPlay = false;
std::string DataPath;
std::uint8_t SaveJustLoaded = 0;
