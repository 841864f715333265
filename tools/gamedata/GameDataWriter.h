// Writes the game's data files from plain records: "Game.dat", map files, "TileSetData.dat",
// event records and command lists, and the archive key file, in the plain, protected and
// scrambled forms. Tests build their fixtures with it and the command-line tool (velk-gamedata)
// turns JSON descriptions into files with it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/data/BasicData.h"
#include "runtime/data/CommonEvent.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/EventData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/MapData.h"
#include "runtime/data/TileSet.h"

namespace gamedata {

// What a file holds beyond its records: the bytes its readers pass over, and stored values that
// reading replaces. Decoding a file that another program wrote keeps them here, so that the file
// encodes back to its own bytes; an empty member means what the writer puts there itself. The
// numbered entries count in file order (the n-th text, command, command list, page or event of the
// file, from 0); each is used only while the record still reads as it did, so that a record
// edited since simply gets the writer's own form.
struct StoredForm {
    // The whole header (10 or 20 bytes): its filler, a check byte that nothing checks (no seed),
    // a UTF-8 flag byte other than 'U' and 'J'. Form letters, seeds and flag come from the options.
    std::vector<std::uint8_t> header;
    // The bytes of every place the readers skip, in file order (missing ones are 0).
    std::vector<std::uint8_t> skipped;
    // Texts not stored as the writer stores them (length counting one zero, the text, the zero,
    // in the file's encoding): the stored bytes, without their length.
    std::map<std::size_t, std::string> texts;
    // Commands stored with no numeric arguments (they read as the one argument 0).
    std::vector<std::size_t> noArguments;
    // Route flag bytes other than 0 and 1, by command.
    std::map<std::size_t, std::int8_t> routeFlags;
    // The stored code of a command list's last command (reading makes it the end-of-list code).
    std::map<std::size_t, std::int32_t> lastCodes;
    // Events stored with a page count of 0 or less (they read with one default page).
    std::map<std::size_t, std::int32_t> pageCounts;
    // Events stored with a negative count of kept bytes (they read with none).
    std::map<std::size_t, std::int32_t> eventByteCounts;
    // Pages stored with fewer than three contact bytes.
    std::map<std::size_t, std::int32_t> contactCounts;
    // The events in file order, as indices into the id-sorted list (empty: sorted).
    std::vector<std::int32_t> eventOrder;
    // A map of no cells stored without the -1 that marks a map without layers.
    bool unmarkedEmptyLayers = false;
    // Generation-2 tilesets: chip flags (tileset, stored index) that reading gave bit 0x200.
    std::vector<std::pair<std::size_t, std::size_t>> chipFlagsWithoutBit200;
    // Database types stored with the bare field count (they read with lead value -2, name mode 0).
    std::vector<std::size_t> bareFieldCounts;
    // ".project" per-field blocks stored with fewer entries than fields: (definition, block 0..4
    // for flags, texts, string lists, number lists, initial values) -> count.
    std::map<std::pair<std::size_t, int>, std::int32_t> fieldBlockCounts;
    // "Game.dat" whose version offset does not point right after the two unused offsets: where it
    // points (from that place), and every byte from that place to the end.
    std::optional<std::int32_t> versionAt;
    std::vector<std::uint8_t> tail;
    // "Game.dat" lists (0 setting bytes, 1 texts, 2 numbers) stored with a negative count.
    std::map<int, std::int32_t> listCounts;
    // An archive key file's bytes with the block unscrambled (its filler).
    std::vector<std::uint8_t> keyFile;
    // A database file holding fewer records than the description has types (the description
    // has one type per record of the longer of its two files; the others are empty); for a
    // ".common" file without records, the negative count it stores.
    std::optional<std::int32_t> recordCount;
    // Bytes after the last one read, for the ".project" file (the other files keep theirs in
    // their options' trailingBytes).
    std::vector<std::uint8_t> trailing;
    // Common-event records, by record: the section bytes as stored when they are not the ones the
    // writer stores; the stored number (reading numbers the record by its place); counts stored
    // lower than the lists read back ((record, 0) the byte list, 1 to 5 the five argument lists,
    // kInnerTextListBase + i and kInnerNumberListBase + i the negative count of inner list i).
    std::map<std::size_t, std::vector<std::uint8_t>> sectionBytes;
    std::map<std::size_t, std::int32_t> recordNumbers;
    // Record start bytes other than 1 (any byte but 0 starts a record).
    std::map<std::size_t, std::uint8_t> recordStartBytes;
    std::map<std::pair<std::size_t, int>, std::int32_t> recordCounts;

    bool Empty() const;
};

inline constexpr int kInnerTextListBase = 1000;
inline constexpr int kInnerNumberListBase = 2000;

// Little-endian field writer in the data files' encoding.
class ByteWriter {
  public:
    std::vector<std::uint8_t> bytes;
    // Text stored in the game's code page instead of UTF-8 (converted from the UTF-8 records).
    bool codePageText = false;
    // Locale string naming the code page of code-page text.
    std::string locale = "jpn_jpn.932";
    // What the file held beyond its records (null: the writer's own forms), and where in its
    // numbered entries the writing is.
    const StoredForm* stored = nullptr;
    std::size_t textNumber = 0;
    std::size_t skippedAt = 0;
    std::size_t commandNumber = 0;
    std::size_t listNumber = 0;
    std::size_t pageNumber = 0;
    std::size_t eventNumber = 0;

    void U8(std::uint8_t v) { bytes.push_back(v); }
    void I16(std::int16_t v);
    void I32(std::int32_t v);
    void Raw(const std::vector<std::uint8_t>& data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    // int32 length counting the zero, the text, the zero. `field` names the text when it is
    // refused; `limit` is the size of the reader's field including the zero (0: no limit).
    void String(const std::string& utf8Text, const char* field = "text", std::size_t limit = 0);
    // A place the readers skip: `count` bytes, as stored or 0.
    void Skipped(std::size_t count);
    // The stored bytes of the next text when they read as `text` (`converted`: read through the
    // code page when the file's text is not UTF-8), else nothing. Counts the text.
    const std::string* StoredText(const std::string& text, bool converted);
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
    // What the file held beyond its records; for a database, `projectStored` is its ".project"
    // file's.
    StoredForm stored;
    StoredForm projectStored;
};

// The 10-byte header a file of that layout gets: the form's letters, the seeds, the UTF-8 flag,
// and `check` in the check byte (kept from the stored header instead when no seed is set, as
// nothing checks it then).
std::vector<std::uint8_t> MakeShortHeader(const ScrambledHeaderLayout& layout,
                                          const DataFileOptions& options, std::uint8_t check);

struct MapFileOptions {
    bool scrambled = false;
    std::array<std::uint8_t, 3> seeds{0, 0, 0};
    bool utf8 = true;
    std::string locale = "jpn_jpn.932";
    std::uint8_t formatLetter = 'f';
    // False writes the int32 -1 in place of the layers.
    bool storeLayers = true;
    std::vector<std::uint8_t> trailingBytes;
    StoredForm stored;
};

// The 20-byte header of a map file (check byte as for MakeShortHeader).
std::vector<std::uint8_t> MakeMapHeader(const MapFileOptions& options, std::uint8_t check);

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
// `stored`: the file's other bytes (StoredForm::keyFile), else the writer's own filler.
std::vector<std::uint8_t> WriteArchiveKeyFile(const std::string& key, int extensionIndex,
                                              std::uint8_t seed,
                                              const std::vector<std::uint8_t>& stored = {});

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

// A common-event record carrying its first `sections` sections (1 to 5); the section bytes
// continue up to the last one, which ends the record.
void WriteCommonEventRecord(ByteWriter& out, const Game_CommonEvent& event, int sections);
// "CommonEvent.dat" (version byte 0x90 and closing byte 0x90 unless overridden; a file of
// version 0x8F closes with 0x8F) and a ".common" file (magic by the options' UTF-8 flag; no
// header, form or seeds). `sections[i]` is the section count of record i (5 when missing).
std::vector<std::uint8_t> WriteCommonEventFile(const Game_CommonEventList& list,
                                               const std::vector<int>& sections,
                                               const DataFileOptions& options);
std::vector<std::uint8_t> WriteCommonFile(const Game_CommonEventList& list,
                                          const std::vector<int>& sections,
                                          const DataFileOptions& options);

// The record a generation-g file of `tileSet` reads back as (old generations lose what they
// cannot store and gain what widening adds).
Game_TileSet ExpectedTileSetAfterGeneration(const Game_TileSet& tileSet, int generation);

bool SaveBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace gamedata
