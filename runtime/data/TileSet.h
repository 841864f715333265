// The tilesets of "BasicData/TileSetData.dat".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::size_t kTileSetTextLimit = 1024;
inline constexpr int kTileSetImageSlots = 32;
// Chip-list entries of the autotiles; base chip c sits at entry 32 + c.
inline constexpr int kAutotileChipEntries = 32;

struct Game_TileSet {
    std::string name;
    // Slot 0 the base image, slots 1..31 the autotile images.
    std::vector<std::string> imageFiles = std::vector<std::string>(kTileSetImageSlots);
    std::vector<std::uint8_t> chipTags;
    std::vector<std::int32_t> chipFlags;

    Game_TileSet();
    // Reads one record of file generation `generation` (1..4) from TheDataFileBuffer and widens
    // old generations into the one layout. False when the record is damaged.
    bool Read(int generation);

    bool operator==(const Game_TileSet&) const = default;
};

class Game_TileSetList {
  public:
    std::vector<Game_TileSet> tileSets{Game_TileSet{}};

    std::size_t Count() const { return tileSets.size(); }
    // The tileset with this number, or null when the list has none (maps name their tileset by
    // number, and the number is checked here before use).
    const Game_TileSet* Find(std::int32_t number) const;

    bool operator==(const Game_TileSetList&) const = default;
};

// Version bytes 0xCF..0xD2 are generations 1..4.
inline constexpr std::uint8_t kTileSetFirstVersion = 0xCF;
inline constexpr std::uint8_t kTileSetClosingByte = 0xCF;

// Reads `dataFolder` + "BasicData/TileSetData.dat" into `list`; true on success.
bool LoadTileSetData(Game_TileSetList& list, const std::string& dataFolder);
// Parses the file already in TheDataFileBuffer (path for reports and the damaged-file move).
bool ParseTileSetData(Game_TileSetList& list, const std::string& path);

// The chip-list position of a chip number given to a tile command; 0 (and a report) for a
// number that names no chip.
std::int32_t ConvertChipNumber(std::int32_t chipNumber);
