// JSON descriptions of the game's data files, for the velk-gamedata tool: a document names the
// kind of file, its header form and seeds, and holds the records.
//
//   {"kind": "basic" | "map" | "tileset" | "archivekey" | "database" | "commonevent" | "common",
//    "form": "plain" | "protected" | "scrambled", "seeds": [s1, s2, s3], "utf8": true,
//    "locale": "jpn_jpn.932",              code page of code-page text (utf8 false)
//    "generation": 4,                      tileset files only (1..4)
//    "formatLetter": "f", "storeLayers": true,   map files only
//    "protectionBlock": [bytes],           protected form only (a database's ".project" seed first)
//    "version": 194,                       database files only: 192 (0xC0), 193 or 194;
//                                          "CommonEvent.dat": 143 (0x8F), 144 or 201 (0xC9)
//    "closingByte": 144,                   a closing byte other than the writer's
//
// "commonevent" is "CommonEvent.dat", "common" a ".common" file (its "utf8" picks the magic; it
// has no header). Their "data" is a list of records {"name", "startByte", "conditionVariable",
// "conditionValue", "settingBytes", "commands", "byteList", "byteListText", "argumentTexts",
// "argumentBytes", "argumentTextLists", "argumentNumberLists", "argumentNumbers", "extraNumber",
// "extraTexts", "noteText", "noteText2", "returnVariable", "sections"}, each optional.
//
// A database's "data" is {"databaseKind": 0, "types": [...]}, each type {"name", "note",
// "leadValue", "nameMode", "fieldKinds", "fieldNames", "fieldFlags", "fieldTexts",
// "fieldStringLists", "fieldNumberLists", "initialValues", "dataNames",
// "entries": [{"numbers", "strings"}]}; encoding writes both files of the database.
//    "data": {...},                        the records; a text that is not UTF-8 is written
//                                          {"textBytes": "hex digits"}
//    "stored": {...}, "projectStored": {...}}   what the file holds beyond its records, when it
//                                          is not what the writer puts there (StoredForm):
//                                          decoding a file written by another program keeps it,
//                                          so that the file encodes back to the same bytes
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/gamedata/GameDataWriter.h"

namespace gamedata {

using Json = nlohmann::ordered_json;

Json ToJson(const Game_MoveRoute& route);
Json ToJson(const Game_EventCommand& command);
Json ToJson(const Game_EventPage& page);
Json ToJson(const Game_EventData& event);
Json ToJson(const Game_MapData& map);
Json ToJson(const Game_BasicData& data);
Json ToJson(const Game_TileSetList& list);
Json ToJson(const Game_Database& database);
// Common events: one object per record, with "sections" (1 to 5) when the record stops early.
Json ToJson(const Game_CommonEventList& list, const std::vector<int>& sections);

void FromJson(const Json& j, Game_MoveRoute& route);
void FromJson(const Json& j, Game_EventCommand& command);
void FromJson(const Json& j, Game_EventPage& page);
void FromJson(const Json& j, Game_EventData& event);
void FromJson(const Json& j, Game_MapData& map);
void FromJson(const Json& j, Game_BasicData& data);
void FromJson(const Json& j, Game_TileSetList& list);
void FromJson(const Json& j, Game_Database& database);
void FromJson(const Json& j, Game_CommonEventList& list, std::vector<int>& sections);
// What a file holds beyond its records ("stored" in a document; only what differs from what the
// writer would put there).
Json ToJson(const StoredForm& stored);
void FromJson(const Json& j, StoredForm& stored);

// A text that is not UTF-8 (a move text is stored as it is, and a file may hold any bytes) cannot
// be a JSON string: the decoder writes it as {"textBytes": "hex digits"}, which the encoder reads
// back as those bytes. Both walk the whole document.
void EscapeBinaryTexts(Json& j);
void UnescapeBinaryTexts(Json& j);

// Writes the file a document describes. Throws std::exception (with a message) on a document it
// cannot use.
std::vector<std::uint8_t> EncodeDocument(const Json& document);

// The files a document describes, by path: `output` itself, or for a database its two files
// (`output` with ".dat" or ".project" or neither taken as the base path).
std::vector<std::pair<std::string, std::vector<std::uint8_t>>> EncodeDocumentFiles(
    const Json& document, const std::string& output);
// A database file's path without its ".dat" or ".project" extension.
std::string DatabaseBasePath(const std::string& path);
// Reads the database whose ".dat" or ".project" file is at `path` (both files must exist) and
// describes it. Refusals throw as DecodeFile does; neither file is ever moved or changed.
Json DecodeDatabase(const std::string& path);

// Guesses the kind of a data file from its name and bytes: "basic", "tileset", "database",
// "archivekey", "commonevent", "common" or "map".
std::string GuessKind(const std::string& fileName, const std::vector<std::uint8_t>& bytes);

// Reads a file through the runtime's own readers and describes it. A file the readers refuse
// throws std::runtime_error whose message begins with `name`; no file is ever moved or changed.
Json DecodeFile(const std::vector<std::uint8_t>& bytes, const std::string& kind,
                const std::string& name = "the file");

}  // namespace gamedata
