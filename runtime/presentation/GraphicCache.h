// The graphic cache: the runtime's general graphics (tilesets and autotiles, character chips,
// panorama and fog images, images cut out by message texts) are loaded once per file name and
// kept, whole and divided into cells, until the game clears the cache (map transfer, restart, new
// game). Beside it stand the uncached loader of the window skins and text icons and the test that
// tells a movie file by its name.
//
// File names are UTF-8 byte strings relative to the data folder (DataPath).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// One cached file.
struct GraphicCacheEntry {
    // Position 0 the whole graph; position 1 + y * divisionX + x the cell (x, y), row by row.
    // Cells are views of the whole graph, not copies.
    std::vector<std::int32_t> handles;
    // Cells across and down (0 or less: no cells).
    std::int32_t divisionX = 0;
    std::int32_t divisionY = 0;
};

struct GraphicCacheData {
    // File name to entry index. An index stays valid until the cache is cleared.
    std::map<std::string, std::int32_t> nameMap;
    // In the order of loading.
    std::vector<GraphicCacheEntry> entries;

    // The entry of a file, or null when it is not cached.
    const GraphicCacheEntry* Find(const std::string& name) const;
};

extern GraphicCacheData GraphicCache;

// How LoadGraphicCached reads its two sizes.
enum class GraphicSizeKind : std::int32_t {
    ByCount = 0,    // division across and down
    ByCellSize = 1  // cell width and height in pixels (both positive)
};

// True when the file is cached afterwards (a name already cached is never loaded again, whatever
// the sizes: the first load fixes the division) or the name is empty; false after a reported
// failure, with no entry made.
bool LoadGraphicCached(std::int32_t first, std::int32_t second, GraphicSizeKind kind,
                       const std::string& name);

// Loads every cached file again, in ascending name order: mode 0 after the graphics device was
// restored (the handles stay and get their images back), mode 1 after the screen mode or window
// was reset (new graphs with the same division). A file that cannot be read or decoded is
// reported and the reload goes on with the others; false when anything was reported.
bool ReloadCachedGraphics(std::int32_t mode);

// Deletes every cached graph and empties the cache; true.
bool ClearGraphicCache();

// Loads a graph the caller owns; returns the whole graph or -1. With `cells` given and a division
// above 1 x 1 the list is replaced by the whole graph followed by its cells. `quiet` keeps a
// missing file unreported (a file that does not decode is always reported).
std::int32_t LoadGraphicUncached(std::int32_t divisionX, std::int32_t divisionY,
                                 std::vector<std::int32_t>* cells, bool quiet,
                                 const std::string& name);

// True when the name is longer than three bytes and ends in ".AVI", ".MP4", ".MPG" or ".OGV",
// letters in either case.
bool IsMovieFileName(std::string_view name);
