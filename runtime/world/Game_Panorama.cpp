#include "runtime/world/Game_Panorama.h"

std::uint8_t PanoramaReloadRequest = 0;
