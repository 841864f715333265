// The fog over the map, above the top tile pass and every character (system variables 61 to
// 65, system string 31): drawn with transparency, its own blend kind and opacity.
#pragma once

#include <cstdint>

#include "runtime/world/MapBackdrop.h"

class Game_Fog : public Game_MapBackdrop {
  public:
    Game_Fog() : Game_MapBackdrop(Kind::Fog) {}
};

// Set when the fog's settings text was written; the next Draw loads the image the text
// describes and clears it.
extern std::uint8_t FogReloadRequest;
