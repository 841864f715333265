#include "runtime/shell/DebugWindow.h"

std::int32_t DebugWindowOpen = 0;
std::int32_t DebugWindowDirty = 0;
std::set<std::int32_t> DebugWatchedVariables;
std::set<std::int32_t> DebugWatchedPictures;
