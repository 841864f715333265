// Writes the game's data files from plain records: "Game.dat", map files, "TileSetData.dat",
// event records and command lists, and the archive key file, in the plain, protected and
// scrambled forms. Tests build their fixtures with it and the command-line tool (velk-gamedata)
// turns JSON descriptions into files with it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/data/BasicData.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/EventData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/MapData.h"
#include "runtime/data/TileSet.h"

namespace gamedata {

// Little-endian field writer in the data files' encoding.
class ByteWriter {
  public:
    std::vector<std::uint8_t> bytes;
    // Text stored in the game's code page instead of UTF-8 (converted from the UTF-8 records).
    bool codePageText = false;
    // Locale string naming the code page of code-page text.
    std::string locale = "jpn_jpn.932";

    void U8(std::uint8_t v) { bytes.push_back(v); }
    void I16(std::int16_t v);
    void I32(std::int32_t v);
    void Raw(const std::vector<std::uint8_t>& data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    // int32 length counting the zero, the text, the zero. `field` names the text when it is
    // refused; `limit` is the size of the reader's field including the zero (0: no limit).
    void String(const std::string& utf8Text, const char* field = "text", std::size_t limit = 0);
    std::size_t Size() const { return bytes.size(); }
};

// Converts UTF-8 text to the code page named by `locale` (the number after its '.').
std::string ConvertUtf8ToGameText(const std::string& utf8Text, const std::string& locale);

enum class DataFileForm { Plain, Protected, Scrambled };

// The bytes (offset, letter) that mark a form in a 10-byte header of the given kind letter.
std::vector<std::pair<std::size_t, std::uint8_t>> HeaderFormMarks(DataFileForm form,
                                                                  std::uint8_t kindLetter);
// Whether seed 0..2 of a 10-byte header has a byte of its own in that form: the plain "Game.dat"
// header keeps its second seed where the kind letter stands, so that seed is always 0 there.
bool SeedHasPlace(const ScrambledHeaderLayout& layout, DataFileForm form, int seed);

struct DataFileOptions {
    DataFileForm form = DataFileForm::Plain;
    std::array<std::uint8_t, 3> seeds{0, 0, 0};
    bool utf8 = true;
    std::string locale = "jpn_jpn.932";
    // The n bytes of the protection block of the protected form.
    std::vector<std::uint8_t> protectionBlock;
    // Overrides of the version and closing bytes (to write files a reader must refuse).
    std::optional<std::uint8_t> versionByte;
    std::optional<std::uint8_t> closingByte;
    // Bytes after the closing byte (not covered by the check).
    std::vector<std::uint8_t> trailingBytes;
};

struct MapFileOptions {
    bool scrambled = false;
    std::array<std::uint8_t, 3> seeds{0, 0, 0};
    bool utf8 = true;
    std::string locale = "jpn_jpn.932";
    std::uint8_t formatLetter = 'f';
    // False writes the int32 -1 in place of the layers.
    bool storeLayers = true;
    std::vector<std::uint8_t> trailingBytes;
};

// The writers refuse, with std::invalid_argument naming the field, a record the format cannot
// hold: more than 127 arguments or strings in a command, more than 255 arguments or a text of more
// than 254 bytes in a move command, more than 65,536 move commands, a text longer than its
// reader's field or with a zero byte in it, code-page text the code page cannot hold, stored
// layers whose first tile is -1, and a seed the header form has no place for.
void WriteMoveCommand(ByteWriter& out, const Game_MoveCommand& command);
void WriteMoveRoute(ByteWriter& out, const Game_MoveRoute& route);
void WriteEventCommand(ByteWriter& out, const Game_EventCommand& command);
// int32 count, then the commands.
void WriteCommandList(ByteWriter& out, const Game_CommandList& list);
void WritePageCondition(ByteWriter& out, const Game_PageCondition& condition);
void WriteEventPage(ByteWriter& out, const Game_EventPage& page);
void WriteEventData(ByteWriter& out, const Game_EventData& event);

std::vector<std::uint8_t> WriteBasicData(const Game_BasicData& data,
                                         const DataFileOptions& options);
std::vector<std::uint8_t> WriteMapFile(const Game_MapData& map, const MapFileOptions& options);
// Generation 1..4; older generations drop the autotile entries they do not carry (8..31 for
// generations 1 and 2, 16..31 for generation 3) and generation 1 stores flags as bytes.
std::vector<std::uint8_t> WriteTileSetData(const Game_TileSetList& list, int generation,
                                           const DataFileOptions& options);
std::vector<std::uint8_t> WriteArchiveKeyFile(const std::string& key, int extensionIndex,
                                              std::uint8_t seed);

// A database's ".dat" file (version byte 0xC2 unless overridden). A type whose lead value is -2 or
// lower is written with its lead value and name mode, one with lead value -1 with that value
// alone (its name mode reads back as 0), and one with a lead value of 0 or more with the bare
// field count (it reads back with lead value -2 and name mode 0). In the protected form the first
// byte of the protection block is the seed of the ".project" file.
std::vector<std::uint8_t> WriteDatabaseDataFile(const Game_Database& database,
                                                const DataFileOptions& options);
// The ".project" file that goes with a ".dat" file written with the same options: the per-field
// settings are left out for version 0xC0, and the protected form scrambles every byte with the
// protection block's first byte as seed.
std::vector<std::uint8_t> WriteDatabaseProjectFile(const Game_Database& database,
                                                   const DataFileOptions& options);
// Writes both files as base + ".dat" and base + ".project".
bool SaveDatabaseFiles(const std::string& base, const Game_Database& database,
                       const DataFileOptions& options);

// The record a generation-g file of `tileSet` reads back as (old generations lose what they
// cannot store and gain what widening adds).
Game_TileSet ExpectedTileSetAfterGeneration(const Game_TileSet& tileSet, int generation);

bool SaveBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace gamedata
