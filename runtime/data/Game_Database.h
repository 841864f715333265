// The three databases of a game (user, variable and system) as tables of types, data entries and
// fields; their files; the name index that turns type, data and field names into numbers; and the
// variable database's editing operations, CSV files and save part.
//
// Every cell access is checked: a failed read reports the fault (through the data-file services'
// runtime-error report), sets DatabaseAccessFailed and gives a neutral value, and play goes on.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// The kind stored in a database, used in messages and checks. The name index and the event
// commands number the databases differently: see DatabaseNameIndex.
enum DatabaseKind : std::int32_t {
    kUserDatabase = 0,
    kVariableDatabase = 1,
    kSystemDatabase = 2,
};

// A field kind: 1000 + i is number i of an entry, 2000 + i its string i.
inline constexpr std::int32_t kNumberFieldBase = 1000;
inline constexpr std::int32_t kStringFieldBase = 2000;
inline constexpr std::int32_t kFieldClassNumber = 1;
inline constexpr std::int32_t kFieldClassString = 2;
// The flag table of a type definition holds one byte per possible field.
inline constexpr std::size_t kDatabaseFieldFlagCount = 100;
// A type of the variable database holds at most this many entries.
inline constexpr std::int32_t kMaxDatabaseEntries = 10000;
// The result of a failed string read.
inline constexpr char kDatabaseErrorText[] = "<<ERROR>>";

// One data entry: its numbers and strings, as many as its type has number and string fields.
struct Game_DatabaseEntry {
    std::vector<std::int32_t> numbers;
    std::vector<std::string> strings = std::vector<std::string>(1);

    bool operator==(const Game_DatabaseEntry&) const = default;
};

// One type's values.
struct Game_DatabaseType {
    // One kind per field; the length is the type's field count.
    std::vector<std::int32_t> fieldKinds{kStringFieldBase};
    std::vector<Game_DatabaseEntry> entries = std::vector<Game_DatabaseEntry>(1);
    // The first int32 of the type's record when it was negative; -2 otherwise. Kept, not used.
    std::int32_t leadValue = -2;
    // How DataName names the entries (see Game_Database::DataName).
    std::int32_t nameMode = 0;

    // Fields of each class among the kinds.
    std::int32_t NumberFieldCount() const;
    std::int32_t StringFieldCount() const;

    bool operator==(const Game_DatabaseType&) const = default;
};

// One type's definition: names and the per-field settings of the game's editor.
struct Game_DatabaseTypeInfo {
    std::string typeName;
    std::string typeNote;
    std::vector<std::string> dataNames = std::vector<std::string>(1);
    std::vector<std::string> fieldNames = std::vector<std::string>(1);
    std::array<std::uint8_t, kDatabaseFieldFlagCount> fieldFlags{};
    std::vector<std::string> fieldTexts = std::vector<std::string>(1);
    std::vector<std::vector<std::string>> fieldStringLists =
        std::vector<std::vector<std::string>>(1);
    std::vector<std::vector<std::int32_t>> fieldNumberLists =
        std::vector<std::vector<std::int32_t>>(1);
    // The value a number field takes in a new entry, one per field.
    std::vector<std::int32_t> initialValues = std::vector<std::int32_t>(1);

    // The initial value of field `field`, or 0 when the definition has none for it.
    std::int32_t InitialValue(std::int32_t field) const;

    bool operator==(const Game_DatabaseTypeInfo&) const = default;
};

class Game_Database {
  public:
    std::int32_t kind = kVariableDatabase;
    // Set for the three globals by BuildDatabaseNameIndex; not owned.
    Game_Database* systemDatabase = nullptr;
    Game_Database* userDatabase = nullptr;
    Game_Database* variableDatabase = nullptr;
    // The values (".dat" file or save) and the definitions (".project" file), parallel by type
    // number but not forced to the same length.
    std::vector<Game_DatabaseType> types;
    std::vector<Game_DatabaseTypeInfo> typeInfos;
    // The seed of a protected ".project" file; 0 otherwise.
    std::uint8_t protectionSeed = 0;

    // A new database also puts the database-file version back to 0xC1 and switches the save
    // stream's database readers back to the data file.
    Game_Database();
    // For the long-lived globals, built before anything else runs: touches no other global.
    struct QuietConstruction {};
    explicit Game_Database(QuietConstruction) {}
    Game_Database(const Game_Database&) = default;
    Game_Database& operator=(const Game_Database&) = default;

    std::int32_t TypeCount() const { return static_cast<std::int32_t>(types.size()); }
    // -1 for a missing type and for a type without entries.
    std::int32_t DataCount(std::int32_t type) const;
    // 0 for a missing type.
    std::int32_t FieldCount(std::int32_t type) const;
    // 1 number, 2 string, -1 when the type or field does not exist.
    std::int32_t FieldKind(std::int32_t type, std::int32_t field) const;
    // The number cell, or null when any number is out of range or the field holds no number.
    std::int32_t* FindNumberCell(std::int32_t type, std::int32_t data, std::int32_t field);

    std::int32_t ReadNumber(std::int32_t type, std::int32_t data, std::int32_t field) const;
    // With `alsoInto`, the result is also assigned to that string.
    std::string ReadString(std::int32_t type, std::int32_t data, std::int32_t field,
                           std::string* alsoInto = nullptr) const;
    // False when the field's class does not match or the cell does not exist.
    bool WriteNumber(std::int32_t type, std::int32_t data, std::int32_t field, std::int32_t value);
    bool WriteString(std::int32_t type, std::int32_t data, std::int32_t field,
                     const std::string& text);

    // "×NoData" (in the UI language) for names out of range.
    std::string TypeName(std::int32_t type) const;
    std::string DataName(std::int32_t type, std::int32_t data, std::int32_t depth = 0) const;
    std::string FieldName(std::int32_t type, std::int32_t field) const;

    // Sets a type's entry count; new entries take the definition's initial values.
    void ResizeType(std::int32_t type, std::int32_t count);
    // Sets the number of types (and grows the definitions with them); each added type has one
    // entry.
    void SetTypeCount(std::int32_t count);

    // The variable database's part of a save, through TheSaveStream.
    void WriteSave();
    // False when the stream ended before the type count or the count cannot be right (the
    // stream's overrun flag is then set); an overrun inside the types only sets the flag.
    bool ReadSave();
    // Gives a type the field layout of the current game: F fields of the given classes, the
    // added fields filled with their initial values or empty texts.
    void MigrateTypeFields(std::int32_t type, const std::vector<std::int32_t>& classes,
                           std::int32_t fieldCount, const std::vector<std::int32_t>& initialValues);

    bool operator==(const Game_Database& other) const {
        return kind == other.kind && types == other.types && typeInfos == other.typeInfos &&
               protectionSeed == other.protectionSeed;
    }

    // The database's name in messages ("ユーザDB", "可変DB", "システムDB" or "Error DB").
    std::string KindName() const;

  private:
    // Reports a read of a variable database that holds no types (a save made without one).
    bool ReportMissingVariableDatabase() const;
    const Game_DatabaseTypeInfo* Info(std::int32_t type) const;
};

// The three global databases.
extern Game_Database TheUserDatabase;
extern Game_Database TheVariableDatabase;
extern Game_Database TheSystemDatabase;

// Slot numbers of the name index (and of the event commands' database selector).
inline constexpr int kNameIndexVariable = 0;
inline constexpr int kNameIndexSystem = 1;
inline constexpr int kNameIndexUser = 2;

struct DatabaseNameSlot {
    std::unordered_map<std::string, std::int32_t> typeNames;
    // One map per type.
    std::vector<std::unordered_map<std::string, std::int32_t>> dataNames;
    std::vector<std::unordered_map<std::string, std::int32_t>> fieldNames;
};

// Names to numbers for the three databases: slot 0 variable, 1 system, 2 user. A name shared by
// several types, entries or fields maps to the lowest number.
extern std::array<DatabaseNameSlot, 3> DatabaseNameIndex;
// Set to 1 by every failed cell access; the interpreter reports and clears it.
extern std::int32_t DatabaseAccessFailed;

// Links the three globals to each other and rebuilds DatabaseNameIndex.
void BuildDatabaseNameIndex();
// Corrects one type's data-name map after `count` entries were inserted (> 0) or removed (< 0)
// at `position`; names of removed entries map to -1.
void ShiftDatabaseNameIndex(int index, std::int32_t type, std::int32_t position,
                            std::int32_t count);

// ---- Database files ----

// The version byte of the last ".dat" file read (0xC0..0xC2); 0xC1 after any database was built.
extern std::int32_t DatabaseFileVersion;

// The sound lists (system types 1 to 3) get this many spare entries after loading.
inline constexpr std::int32_t kSpareSoundEntries = 10;

// Per type of the variable database as it was loaded: what a save of an older game version is
// upgraded to.
struct DatabaseBaselineType {
    std::int32_t dataCount = -1;
    // Field classes, one per field kind (kind / 1000).
    std::vector<std::int32_t> fieldClasses;
    std::vector<std::int32_t> initialValues;
};
extern std::vector<DatabaseBaselineType> DatabaseBaseline;

// How the variable database's ".project" file was read, so that a save load reads it again the
// same way: its path, the version and text encoding of its ".dat" file, and its protection.
struct DatabaseProjectSource {
    std::string path;
    std::int32_t version = 0xC1;
    bool utf8 = true;
    bool protectedForm = false;
    std::uint8_t seed = 0;
};
extern DatabaseProjectSource VariableDatabaseProjectSource;
// Reads the variable database's definitions again from VariableDatabaseProjectSource (for a save
// load). A missing file shows a message box and ends the program; a damaged one is moved aside.
bool ReadDatabaseProjectAgain(Game_Database& database);

// Reads `database` from dataFolder + base + ".dat" and ".project". False on a bad version or
// closing byte, or a damaged file (moved aside and reported). A missing file shows a message box
// and ends the program.
bool LoadDatabaseFiles(Game_Database& database, const std::string& dataFolder,
                       const std::string& base);
// Resets and reads the system and user databases and gives the sound lists their spare entries;
// unless `systemOnly`, also the variable database and DatabaseBaseline.
void LoadDatabases(const std::string& dataFolder, bool systemOnly);
// The base count of sound kind 0, 1 or 2 (BGM, BGS, SE): the entries of system type 1, 2 or 3
// before the spare entries were added (never negative).
std::int32_t SoundListBaseCount(std::int32_t soundKind,
                                const Game_Database& system = TheSystemDatabase);

// The record readers and writers shared by the ".dat" file and the save part: they use
// TheSaveStream while its read-from-save switch is on, else TheDataFileBuffer. The readers return
// false once the source ran out or held an impossible count.
bool ReadDatabaseType(Game_DatabaseType& type);
bool ReadDatabaseEntry(Game_DatabaseEntry& entry, std::int32_t numberCount,
                       std::int32_t stringCount);
// Entries of a type without value fields take no bytes; one file or save part may hold at most a
// million of them. Starts that allowance (the file and save-part readers call it).
void ResetDatabaseEntryBudget();
// Reads one definition of a ".project" file from TheDataFileBuffer.
bool ReadDatabaseTypeInfo(Game_DatabaseTypeInfo& info);
void WriteDatabaseType(Game_DatabaseType& type);
void WriteDatabaseEntry(Game_DatabaseEntry& entry, std::int32_t numberCount,
                        std::int32_t stringCount);

// Rewrites the old internal codes of texts read from saves below format 125: UpgradeOldTextCodes
// of the text subsystem by default; set to null, the texts are kept as read.
using OldTextCodeUpgrader = std::string (*)(const std::string& text);
extern OldTextCodeUpgrader UpgradeOldTextCodesHook;

// ---- Editing the variable database ----

void ResetDatabaseEntry(std::int32_t type, std::int32_t data,
                        Game_Database& database = TheVariableDatabase);
bool InsertDatabaseEntries(std::int32_t type, std::int32_t position, std::int32_t count,
                           Game_Database& database = TheVariableDatabase);
bool RemoveDatabaseEntries(std::int32_t type, std::int32_t position, std::int32_t count,
                           Game_Database& database = TheVariableDatabase);
bool CopyDatabaseEntry(std::int32_t type, std::int32_t destination, std::int32_t source,
                       Game_Database& database = TheVariableDatabase);

// ---- CSV files ----

// The CSV text of entries first .. first + count - 1 of `type`: UTF-8 signature, a row of quoted
// field names, one row per entry, every field followed by a comma, rows ended by CR LF.
std::string FormatDatabaseCsv(const Game_Database& database, std::int32_t type, std::int32_t first,
                              std::int32_t count);
// Writes that text to `path`; false when the file cannot be written (no report).
bool ExportDatabaseCsv(const Game_Database& database, const std::string& path, std::int32_t type,
                       std::int32_t first, std::int32_t count);
// Counts (writeValues false) or stores the rows of a CSV text into entries first, first + 1, ...
// of `type`, at most `count` rows. Both passes see the same rows, and nothing is stored into an
// entry the type does not have. Returns the number of rows.
std::int32_t ParseDatabaseCsv(Game_Database& database, const std::string& text, std::int32_t type,
                              std::int32_t first, std::int32_t count, bool writeValues);
// Reads the file at `path` and parses it; a missing file is reported and gives 0.
std::int32_t ImportDatabaseCsv(Game_Database& database, const std::string& path, std::int32_t type,
                               std::int32_t first, std::int32_t count, bool writeValues);
