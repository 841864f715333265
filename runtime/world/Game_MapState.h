// The map the player is on: the map data, the tileset in use with its tile flags, the display
// position, the map events and the map-wide effects (scroll, shake, zoom, looping).
//
// Map positions are in half tiles (a map of W x H tiles has 2W x 2H cells); the display position
// is in quarter pixels. A character at (x, y) covers the cells x and x + 1 and its foot row is
// y + 1; passability questions are asked about the foot row.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "runtime/data/CommonEvent.h"
#include "runtime/data/MapData.h"
#include "runtime/data/TileSet.h"
#include "runtime/world/Game_Character.h"
#include "runtime/world/Game_Event.h"

namespace TileFlag {
inline constexpr std::int32_t EdgeDown = 0x1;
inline constexpr std::int32_t EdgeLeft = 0x2;
inline constexpr std::int32_t EdgeRight = 0x4;
inline constexpr std::int32_t EdgeUp = 0x8;
inline constexpr std::int32_t Overhead = 0x10;
inline constexpr std::int32_t QuarterBlocks = 0x20;
inline constexpr std::int32_t HalfHide = 0x40;
inline constexpr std::int32_t Counter = 0x80;
inline constexpr std::int32_t DrawMiddle = 0x100;
inline constexpr std::int32_t PassToBelow = 0x200;
}  // namespace TileFlag

// One axis of the map shake.
struct MapShakeAxis {
    std::int32_t strength2 = 0;  // squared strength
    std::int32_t speed2 = 0;     // squared speed
    std::int32_t frames = 0;     // remaining; 100000 and more shake without end
    std::int32_t accumulator = 0;
    std::int32_t direction = 0;  // +1 or -1
    bool operator==(const MapShakeAxis&) const = default;
};

// The zoom state in its saved order.
struct MapZoom {
    std::int32_t targetX = 0, startX = 0, targetY = 0, startY = 0;
    std::int32_t targetPercent = 100, startPercent = 100;
    std::int32_t duration = 0, remaining = 0;
    std::int32_t currentX = 0, currentY = 0, currentPercent = 100;
    bool operator==(const MapZoom&) const = default;
};

class Game_MapState {
  public:
    Game_TileSet tileSet;
    Game_MapData mapData;
    std::int32_t mapId = -1;
    std::int32_t displayX = 0, displayY = 0;
    // Scroll request: directions 4/6 and 8/2, remaining distances and steps (quarter pixels).
    std::int32_t scrollDirX = 0, scrollDirY = 0;
    std::int32_t scrollRemainX = 0, scrollRemainY = 0;
    std::int32_t scrollStepX = 4, scrollStepY = 4;
    // Slot 0 the base image, 1..31 the autotiles; slot 32 is never filled.
    std::vector<std::string> imageNames = std::vector<std::string>(33);
    std::uint8_t refreshRequest = 0;
    std::vector<std::uint8_t> tileTags;
    std::vector<std::int32_t> tileFlags;
    std::vector<std::int32_t> loadedTileFlags;
    // The map events in the map file's order (sorted by id).
    std::vector<Game_Event> events;
    // The parallel common events; they survive map changes and are rebuilt after a reset.
    std::vector<Game_CommonEventRunner> runners;
    std::int32_t frameCounter = 0;
    std::uint8_t loopX = 0, loopY = 0;
    std::int32_t shakeOffsetX = 0, shakeOffsetY = 0;
    MapShakeAxis shakeX, shakeY;
    std::vector<std::int32_t> intList;
    Game_TileSetList tileSetList;
    MapZoom zoom;
    std::map<std::string, std::int32_t> eventNameIndex;

    Game_MapState();
    void Reset();
    // False (and GameState::Quit) when the map file cannot be read.
    bool LoadMap(std::int32_t id);
    bool ReloadLayers(std::int32_t id);

    std::int32_t GetWidth() const { return mapData.header.width; }
    std::int32_t GetHeight() const { return mapData.header.height; }
    // The tile index (flags and tags) of a stored tile value.
    static std::int32_t TileIndexOf(std::int32_t stored);
    std::int32_t GetTileId(std::int32_t x, std::int32_t y, int layer) const;
    bool IsFootprintInside(std::int32_t x, std::int32_t row) const;
    bool CanPassTiles(std::int32_t x, std::int32_t y, int dir, int stepLength) const;
    bool IsTilePassable(std::int32_t x, std::int32_t y) const;
    std::int32_t GetTileTag(std::int32_t x, std::int32_t y) const;
    bool IsHalfHiddenAt(std::int32_t x, std::int32_t y) const;
    bool IsCounterAt(std::int32_t x, std::int32_t y) const;

    void RefreshEvents();
    void StartScroll(std::int32_t dx, std::int32_t dy, std::int32_t speed);
    bool IsScrolling() const { return scrollRemainX > 0 || scrollRemainY > 0; }
    void ScrollLeft(std::int32_t d);
    void ScrollRight(std::int32_t d);
    void ScrollUp(std::int32_t d);
    void ScrollDown(std::int32_t d);
    void StartShake(std::int32_t strength, std::int32_t speed, std::int32_t axis,
                    std::int32_t frames);
    void StopShake();
    void StartZoom(std::int32_t x, std::int32_t y, std::int32_t percent, std::int32_t frames);
    void StartMapMusic();
    void Update();

    // The map's save part over TheSaveStream.
    void WriteSave() const;
    bool ReadSave(bool reloadMap);

    // A map event by id (null when the map has none).
    Game_Event* FindEvent(std::int32_t id);

  private:
    bool CopyTileSet(std::int32_t number);
    void UpdateShakeAxis(MapShakeAxis& axis) const;
};

extern Game_MapState TheMapState;
// Set when a loaded save left the layers out; the scene then reloads them from the map file.
extern std::uint8_t MapLayersMissing;

// Fills the interpreter's and the variable store's links that the live map answers.
void InstallMapLinks();
