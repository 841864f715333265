// The graphics front end's state, as far as the image module reads it.
#pragma once

#include <cstdint>

namespace ZiDaz {

// The screen mode the program asked for.
struct ScreenModeSettingsData {
    std::int32_t ColorBitDepth;  // 0 while unset, read as 16
};

struct GraphicsSystemStateData {
    std::int32_t DevicePresent;  // 1 while the active back end has a device
    ScreenModeSettingsData ScreenModeSettings;
};

// Zeroed until the graphics system starts: no device, colour depth unset.
extern GraphicsSystemStateData GraphicsSystemState;

}  // namespace ZiDaz
