// The library calls through which the panorama, the fog and the character sprites draw. They go
// to the library's flat API; tests put recorders in their place to see what would be drawn,
// including what is culled before it reaches the screen.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct MapDrawCalls {
    int (*selectBlendMode)(int mode, int param);
    int (*setBrightness)(int red, int green, int blue);
    int (*putGraph)(int x, int y, std::int32_t graph, int transparent);
    int (*putGraphStretched)(int x1, int y1, int x2, int y2, std::int32_t graph, int transparent);
    int (*putGraphSubRect)(int x, int y, int sourceX, int sourceY, int width, int height,
                           std::int32_t graph, int transparent);
    std::int32_t (*deriveGraph)(int x, int y, int width, int height, std::int32_t source);
    int (*destroyGraph)(std::int32_t graph);
    int (*getGraphSize)(std::int32_t graph, int* width, int* height);
    // Switches the mask screen's use for the following drawing (1 on, 0 or -1 off). Nothing
    // until the mask screen exists in the runtime.
    void (*useMaskScreen)(std::int32_t setting);
    // The drawing branch of "SoftModeFlag=": -1 follows "Game.ini" and the library (software
    // drawing whenever no graphics device draws), 0 or 1 force a branch.
    std::int32_t softMode;
};

MapDrawCalls& GetMapDrawCalls();
// Back to the library's calls.
void ResetMapDrawCalls();
// 1 when the map is drawn in software mode: "SoftModeFlag=" is 1, or no graphics device draws.
std::int32_t MapSoftMode();

// The library's blend modes used by the map drawing.
namespace MapBlend {
inline constexpr int None = 0;
inline constexpr int Alpha = 1;
inline constexpr int Add = 2;
inline constexpr int Subtract = 3;
inline constexpr int Multiply = 4;
inline constexpr int MultiplyAlpha = 11;
}  // namespace MapBlend

// A report line of the map drawing: a translated format filled with numbers and texts.
template <typename... Args>
std::string FormatDrawReport(const std::string& format, Args... args) {
    const int length = std::snprintf(nullptr, 0, format.c_str(), args...);
    if (length <= 0) return format;
    std::string out(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(out.data(), out.size(), format.c_str(), args...);
    out.resize(static_cast<std::size_t>(length));
    return out;
}
