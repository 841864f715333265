// One map as read from its map file: header, three layers of tile ids and the map's events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/data/EventData.h"

// A layer cell without a tile.
inline constexpr std::int32_t kNoTile = 100000;
inline constexpr std::size_t kMapNameLimit = 512;
// The most cells a map may have (width x height). Stored layers are bounded by the file's size;
// this bounds maps whose layers are not stored and are built empty from the header's size.
inline constexpr std::int64_t kMaxMapCells = 4 * 1024 * 1024;

struct Game_MapHeader {
    std::string name;  // default: "なし" in the UI language
    std::int32_t tileSetNumber = 0;
    std::int32_t width = 20;
    std::int32_t height = 15;
    std::int32_t eventCount = 0;

    Game_MapHeader();
    bool operator==(const Game_MapHeader&) const = default;
};

struct Game_MapData {
    Game_MapHeader header;
    // layers[layer][x * height + y]
    std::vector<std::int32_t> layers[3];
    // Sorted by id ascending; events with equal ids keep their file order.
    std::vector<Game_EventData> events;

    // Default header and three 20 x 15 layers without tiles.
    Game_MapData();

    // Empty layers of the header's size, every cell kNoTile.
    void ResetLayers();
    std::int32_t Tile(int layer, std::int32_t x, std::int32_t y) const {
        return layers[layer][static_cast<std::size_t>(x) * header.height + y];
    }
    std::int32_t& Tile(int layer, std::int32_t x, std::int32_t y) {
        return layers[layer][static_cast<std::size_t>(x) * header.height + y];
    }
    // Index of the first event with this id, or -1.
    std::int32_t FindEventIndex(std::int32_t eventId) const;

    bool operator==(const Game_MapData&) const = default;
};

// What became of a map-file read.
enum class MapReadResult { Ok, Missing, NotAMap, Damaged };

// Reads the map file `fileName` (relative to the data folder, `dataFolder` being that folder's
// full path with its trailing separator). Missing, unnamed and non-map files show their message
// box; a damaged file is moved aside, reported and ends the program.
bool ReadMapFile(Game_MapData& map, const std::string& fileName, const std::string& dataFolder);

// Parses the map file already loaded into TheDataFileBuffer; `path` names it in reports and is
// the file moved aside when it is damaged (empty: nothing to move).
MapReadResult ParseMapFile(Game_MapData& map, const std::string& path, const std::string& fileName);
