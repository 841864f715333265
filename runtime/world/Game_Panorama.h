// The far view behind the map's tile layers (system variables 66 to 68, system string 30).
#pragma once

#include <cstdint>

#include "runtime/world/MapBackdrop.h"

class Game_Panorama : public Game_MapBackdrop {
  public:
    Game_Panorama() : Game_MapBackdrop(Kind::Panorama) {}
};

// Set when the panorama's settings text was written or a map was loaded; the next Draw loads
// the image the text describes and clears it.
extern std::uint8_t PanoramaReloadRequest;
