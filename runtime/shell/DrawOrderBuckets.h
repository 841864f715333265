// The order in which the scene draws the characters between the map's upper tile rows. Every
// character goes into a bucket by the screen row of its base, in one of three lists (below the
// others, at the player's level, above the others); the walk returns the characters row by row
// and, at each tile boundary of the middle list, the upper tile row that must cover the
// characters above it.
//
// Draw items: 0 and up the index of a map event in the live map's event list; -10 the player;
// -11 - n follower n (0..4); -1000 - r the upper tile layer of tile row r (r = -2: no row); -1
// the end of the walk.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

struct VisibleCellRange;
class Game_Character;

namespace DrawItem {
inline constexpr std::int32_t End = -1;
inline constexpr std::int32_t Player = -10;
inline constexpr std::int32_t FirstFollower = -11;
inline constexpr std::int32_t LastFollower = -19;
inline constexpr std::int32_t TileRowBase = -1000;
}  // namespace DrawItem

class DrawOrderBuckets {
  public:
    // List 0 below, 1 at the player's level, 2 above; each indexed by draw row.
    std::array<std::vector<std::vector<std::int32_t>>, 3> lists;
    std::int32_t walkRow = 0;
    std::int32_t walkIndex = 0;
    std::int32_t visibleRows = 0;
    std::int32_t walkList = 0;
    // Pixels of one draw row: 8 rows a tile, 12 for 48-pixel tiles.
    std::int32_t rowPixels = 4;
    // Draw rows in front of row 0 when the map is zoomed out or loops vertically.
    std::int32_t rowOffset = 0;

    // Once, when the scene is built.
    void Init();
    // Every drawn frame, after the base pass computed the visible cell range (whose first row
    // may be pulled up to -1 here).
    void Build(VisibleCellRange& range);
    // The next item of the walk; `displayY` is the display's y in pixels, wrapped into the map.
    std::int32_t Next(std::int32_t displayY);

  private:
    std::int32_t RowsPerTile() const;
    void Place(std::int32_t list, std::int32_t row, std::int32_t item);
    std::int32_t totalRows_ = 0;
    std::int32_t screenTiles_ = 0;
    std::int32_t zoom_ = 100;
    bool zoomAware_ = false;
};

// The two draw-layer flags of a character: drawn below the others, or above them.
bool DrawsBelowOthers(const Game_Character& character);
bool DrawsAboveOthers(const Game_Character& character);
