#include "runtime/world/Game_Fog.h"

std::uint8_t FogReloadRequest = 0;
