// The map renderer: draws the three tile layers of the live map (base tileset chips and animated
// autotiles) over the visible part of the map, with scrolling, looping, shake, the display scale
// and the map zoom. The scene calls it on every drawn frame in three passes so that characters
// can be drawn between map rows: a base pass before any character, one row pass per map row in
// depth order, and a top pass after every character. In the tile image-list mode every tile is a
// free-sized animated image from the list the special system command fills.
//
// Stored tile ids: 0..99,999 base chip c (8 chips a row); k * 100,000 + a four-digit part code
// autotile k (1 the empty tile, 2..32 the tileset's 31 autotile images), each digit naming the
// image row that supplies one quarter (thousands top left ... units bottom right). Chip numbers
// (the index of the per-chip flags): autotile k is k - 1, base chip c is c + 32.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class Game_MapState;

enum class MapDrawPass : std::uint8_t { Base = 0, Row = 1, Top = 2 };

// The cells the passes visit, shared by both drawing modes and the scene's depth sort: offsets
// from the top-left map cell under the display (end exclusive), and the biases that turn an offset
// into a table index (table row = rowBias + row offset, table column = columnBias + column
// offset). The scene invalidates it once per drawn frame; the next pass recomputes it.
struct VisibleCellRange {
    static constexpr std::int32_t kStale = -99999;
    std::int32_t firstColumn = kStale;
    std::int32_t firstRow = 0;
    std::int32_t endColumn = 0;
    std::int32_t endRow = 0;
    std::int32_t columnBias = 1;
    std::int32_t rowBias = 2;
};

class Game_MapRenderer {
  public:
    static constexpr int kAutotileSlots = 31;
    static constexpr int kTableSize = 200;

    // Binds the live map and loads the current tileset's images.
    explicit Game_MapRenderer(Game_MapState& map);
    Game_MapRenderer(const Game_MapRenderer&) = delete;
    Game_MapRenderer& operator=(const Game_MapRenderer&) = delete;
    ~Game_MapRenderer();

    // Loads the images and sets every chip's draw-layer byte from its flag word. Run at
    // construction, when the live map's base image name changes, and by the scene when a tile
    // command asked for it.
    void Setup();
    // Loads the images of the current mode (tile images, or the image list's entries).
    void LoadTilesetImages();
    // Draws one pass; `row` (Row pass only) is the map row in tiles, in the same unwrapped
    // coordinate as the display position; the scene passes -1 for the other passes.
    void DrawLayers(MapDrawPass pass, std::int32_t row);
    // The same for the image-list mode; DrawLayers forwards to it while the mode is on.
    void DrawImageListLayers(MapDrawPass pass, std::int32_t row);
    // Refreshes the image-list skip table for the cells given (offsets as in VisibleCellRange).
    void BuildSkipTable(std::int32_t firstColumn, std::int32_t columnCount, std::int32_t firstRow,
                        std::int32_t rowCount);
    // Answers a query on the autotile at (x, y) in half tiles on layer 0..2: kind 0 the part code
    // (each digit + 1; with `quarter` only the quarter's digit + 1), 1 the animation frame + 1,
    // 2 the frame count, 3 the cut piece the quarter draws now (-1 without `quarter` or without
    // frames), 4 the frames of one animation cycle, 5 `value`, any other kind itself.
    std::int32_t GetTileChipInfo(std::int32_t kind, std::int32_t value, std::int32_t x,
                                 std::int32_t y, std::int32_t layer, bool quarter) const;

    void InvalidateVisibleRange() { visibleRange.firstColumn = VisibleCellRange::kStale; }

    // The display position in game pixels: the scene sets it every frame to the live map's
    // display position / 4, before the base pass, which wraps y into the map and subtracts the
    // shake; the later passes of the frame go on from there.
    std::int32_t pixelX = 0;
    std::int32_t pixelY = 0;
    VisibleCellRange visibleRange;

    // The draw-layer byte of a chip number: 2 top pass (flag 0x10), 1 with its map row (0x100),
    // else 0 base pass.
    std::vector<std::uint8_t> drawLayers;

    // What was loaded (read by tests and the tile queries).
    std::int32_t baseGraphic = -1;  // cache entry index, -1 for none
    std::int32_t BaseChipCount() const;
    std::int32_t AutotileFrameCount(int slot) const { return autotileFrames[slot]; }
    bool AutotileLoaded(int slot) const { return autotileLoaded[slot] != 0; }

  private:
    void RecomputeVisibleRange(bool imageList);
    // Draws the pending layers of one cell (`tableIndex` into the tile-mode table, `cellX` the
    // wrapped map column) at offsets (r, c).
    void DrawCellLayers(std::int32_t tableIndex, std::int32_t cellX, std::int32_t r, std::int32_t c,
                        MapDrawPass pass);
    void DrawImageListCell(std::int32_t tableRow, std::int32_t tableColumn, std::int32_t r,
                           std::int32_t c, std::int32_t mapX, std::int32_t mapY, MapDrawPass pass);
    void PutPiece(std::int32_t graph, std::int32_t x, std::int32_t y, std::int32_t width,
                  std::int32_t height) const;

    Game_MapState& map_;
    std::string baseImageName_;
    std::array<std::string, kAutotileSlots> autotileNames_{};
    std::array<std::int32_t, kAutotileSlots> autotileGraphics{};
    std::array<std::int32_t, kAutotileSlots> autotileFrames{};
    std::array<std::uint8_t, kAutotileSlots> autotileLoaded{};
    std::int32_t animationStep_ = 0;
    // Per screen cell (kTableSize x kTableSize): the last layer drawn in tile mode, the same for
    // the image-list mode, and the image-list skip table.
    std::vector<std::int32_t> drawnTable_;
    std::vector<std::int32_t> listDrawnTable_;
    std::vector<std::int32_t> skipTable_;
    // The map cell under the first visible column and row at the last skip-table build.
    std::int32_t skipOriginX_ = -1;
    std::int32_t skipOriginY_ = -1;
    // Image-list mode: per entry its cache entry (-1 none) and its frame graphs.
    std::vector<std::int32_t> listGraphics_;
    std::vector<std::vector<std::int32_t>> listFrames_;
    // Per-frame drawing values taken at the start of a pass.
    std::int32_t scale_ = 1;
    std::int32_t zoom_ = 100;
    double zoomCentreX_ = 0;
    double zoomCentreY_ = 0;
    bool smooth_ = false;
};

// The scene's renderer for the tile queries: set by every tile-mode DrawLayers pass, null before
// the first drawn frame.
extern Game_MapRenderer* ActiveMapRenderer;
// Set by the tile commands in image-list mode; the next base pass rebuilds the skip table and
// clears it.
extern std::uint8_t ImageListSkipTableRequest;
