// The ".dat" and ".project" files of the three databases, and the type and entry records they
// share with the variable database's save part.
#include <algorithm>

#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/DatabaseReports.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/SaveStream.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/TextCodes.h"

std::vector<DatabaseBaselineType> DatabaseBaseline;
DatabaseProjectSource VariableDatabaseProjectSource;
// Old saves' texts get the current internal codes unless a test installs another upgrader.
OldTextCodeUpgrader UpgradeOldTextCodesHook = &UpgradeOldTextCodes;

namespace {

// Entries of a type whose fields store nothing take no bytes, so their count cannot be checked
// against the bytes left; one file or save part may hold this many of them in all.
constexpr std::int32_t kZeroWidthEntryBudget = 1000000;
std::int32_t zeroWidthEntriesLeft = kZeroWidthEntryBudget;

// The source of the shared record readers: the save stream while its read-from-save switch is
// on, else the data-file buffer. Every read is checked against the bytes left; the first one that
// does not fit fails the source, and everything read after that is zero or empty.
class ItemSource {
  public:
    ItemSource() : save_(TheSaveStream.readFromSave) {}

    bool Failed() const { return failed_; }

    void Fail() {
        failed_ = true;
        if (save_) {
            TheSaveStream.overrun = true;
        } else {
            TheDataFileBuffer.MarkDamaged();
        }
    }

    std::int32_t Int32() {
        if (failed_) return 0;
        if (save_) {
            std::int32_t v = 0;
            if (!TheSaveStream.ReadInt32(v)) Fail();
            return v;
        }
        const std::int32_t v = TheDataFileBuffer.ReadInt32();
        if (TheDataFileBuffer.damaged) Fail();
        return v;
    }

    std::string String() {
        if (failed_) return {};
        if (save_) {
            std::string text;
            if (!TheSaveStream.ReadLongString(text)) {
                Fail();
                return {};
            }
            if (TheSaveStream.formatNumber < 125 && UpgradeOldTextCodesHook) {
                text = UpgradeOldTextCodesHook(text);
            }
            return text;
        }
        std::string text = TheDataFileBuffer.ReadString(0);
        if (TheDataFileBuffer.damaged) Fail();
        return text;
    }

    // A count of items of at least `minItemBytes` each: a negative count, or one whose items
    // cannot fit into the bytes left, fails the source and gives 0.
    std::int32_t Count(std::size_t minItemBytes) { return CheckCount(Int32(), minItemBytes); }

    std::int32_t CheckCount(std::int32_t count, std::size_t minItemBytes) {
        if (failed_) return 0;
        const std::size_t left = save_ ? static_cast<std::size_t>(TheSaveStream.Remaining())
                                       : TheDataFileBuffer.Remaining();
        const bool fits = minItemBytes == 0
                              ? count <= zeroWidthEntriesLeft
                              : static_cast<std::size_t>(count) <= left / minItemBytes;
        if (count < 0 || !fits) {
            Fail();
            return 0;
        }
        if (minItemBytes == 0) zeroWidthEntriesLeft -= count;
        return count;
    }

  private:
    bool save_;
    bool failed_ = false;
};

bool ReadEntry(ItemSource& in, Game_DatabaseEntry& entry, std::int32_t numberCount,
               std::int32_t stringCount) {
    entry.numbers.resize(static_cast<std::size_t>(std::max(numberCount, 0)));
    for (auto& n : entry.numbers) n = in.Int32();
    entry.strings.resize(static_cast<std::size_t>(std::max(stringCount, 0)));
    for (auto& s : entry.strings) s = in.String();
    return !in.Failed();
}

bool ReadType(ItemSource& in, Game_DatabaseType& type) {
    const std::int32_t lead = in.Int32();
    type.leadValue = -2;
    type.nameMode = 0;
    if (in.Failed()) return false;
    std::int32_t fieldCount = 0;
    if (lead >= 0) {
        fieldCount = in.CheckCount(lead, 4);
    } else {
        type.leadValue = lead;
        if (lead <= -2) type.nameMode = in.Int32();
        fieldCount = in.Count(4);
    }
    if (in.Failed()) return false;
    type.fieldKinds.resize(static_cast<std::size_t>(fieldCount));
    for (auto& kind : type.fieldKinds) kind = in.Int32();
    const std::int32_t numbers = type.NumberFieldCount();
    const std::int32_t strings = type.StringFieldCount();
    const std::int32_t entryCount = in.Count(4u * static_cast<std::size_t>(numbers + strings));
    if (in.Failed()) return false;
    type.entries.resize(static_cast<std::size_t>(entryCount));
    for (auto& entry : type.entries) {
        if (!ReadEntry(in, entry, numbers, strings)) return false;
    }
    return true;
}

void WriteEntry(Game_DatabaseEntry& entry, std::int32_t numberCount, std::int32_t stringCount) {
    SaveStream& out = TheSaveStream;
    if (entry.numbers.size() < static_cast<std::size_t>(numberCount)) {
        entry.numbers.resize(static_cast<std::size_t>(numberCount));
    }
    if (entry.strings.size() < static_cast<std::size_t>(stringCount)) {
        entry.strings.resize(static_cast<std::size_t>(stringCount));
    }
    for (std::int32_t i = 0; i < numberCount; ++i) {
        out.WriteInt32(entry.numbers[static_cast<std::size_t>(i)]);
    }
    for (std::int32_t i = 0; i < stringCount; ++i) {
        out.WriteLongString(entry.strings[static_cast<std::size_t>(i)]);
    }
}

}  // namespace

void ResetDatabaseEntryBudget() {
    zeroWidthEntriesLeft = kZeroWidthEntryBudget;
}

bool ReadDatabaseEntry(Game_DatabaseEntry& entry, std::int32_t numberCount,
                       std::int32_t stringCount) {
    ItemSource in;
    return ReadEntry(in, entry, numberCount, stringCount);
}

bool ReadDatabaseType(Game_DatabaseType& type) {
    ItemSource in;
    return ReadType(in, type);
}

void WriteDatabaseEntry(Game_DatabaseEntry& entry, std::int32_t numberCount,
                        std::int32_t stringCount) {
    WriteEntry(entry, numberCount, stringCount);
}

void WriteDatabaseType(Game_DatabaseType& type) {
    SaveStream& out = TheSaveStream;
    type.leadValue = -2;
    out.WriteInt32(-2);
    out.WriteInt32(type.nameMode);
    out.WriteInt32(static_cast<std::int32_t>(type.fieldKinds.size()));
    for (std::int32_t kind : type.fieldKinds) out.WriteInt32(kind);
    out.WriteInt32(static_cast<std::int32_t>(type.entries.size()));
    const std::int32_t numbers = type.NumberFieldCount();
    const std::int32_t strings = type.StringFieldCount();
    for (auto& entry : type.entries) WriteEntry(entry, numbers, strings);
}

bool ReadDatabaseTypeInfo(Game_DatabaseTypeInfo& info) {
    DataFileBuffer& b = TheDataFileBuffer;
    info.typeName = b.ReadString(0);
    const std::int32_t fieldCount = b.ReadCount(4, true);
    info.fieldNames.resize(static_cast<std::size_t>(fieldCount));
    for (auto& name : info.fieldNames) name = b.ReadString(0);
    const std::int32_t dataCount = b.ReadCount(4, true);
    info.dataNames.resize(static_cast<std::size_t>(dataCount));
    for (auto& name : info.dataNames) name = b.ReadString(0);
    info.typeNote = b.ReadString(0);
    if (b.damaged) return false;
    const auto fields = static_cast<std::size_t>(fieldCount);
    info.fieldTexts.resize(fields);
    info.fieldStringLists.resize(fields);
    info.fieldNumberLists.resize(fields);
    info.initialValues.resize(fields);
    if (DatabaseFileVersion == 0xC0) return true;

    // Each per-field block overwrites its first c slots; c never exceeds the fields (nor the
    // flag table).
    auto blockCount = [&](std::size_t minItemBytes, std::size_t limit) {
        const std::int32_t c = b.ReadCount(minItemBytes, true);
        if (static_cast<std::size_t>(c) > limit) b.MarkDamaged();
        return b.damaged ? std::size_t{0} : static_cast<std::size_t>(c);
    };
    const std::size_t flags = blockCount(1, std::min(fields, kDatabaseFieldFlagCount));
    for (std::size_t i = 0; i < flags; ++i) info.fieldFlags[i] = b.ReadByte();
    const std::size_t texts = blockCount(4, fields);
    for (std::size_t i = 0; i < texts; ++i) info.fieldTexts[i] = b.ReadString(0);
    const std::size_t stringLists = blockCount(4, fields);
    for (std::size_t i = 0; i < stringLists && !b.damaged; ++i) {
        auto& list = info.fieldStringLists[i];
        list.resize(static_cast<std::size_t>(b.ReadCount(4, true)));
        for (auto& s : list) s = b.ReadString(0);
    }
    const std::size_t numberLists = blockCount(4, fields);
    for (std::size_t i = 0; i < numberLists && !b.damaged; ++i) {
        auto& list = info.fieldNumberLists[i];
        list.resize(static_cast<std::size_t>(b.ReadCount(4, true)));
        for (auto& n : list) n = b.ReadInt32();
    }
    const std::size_t initials = blockCount(4, fields);
    for (std::size_t i = 0; i < initials; ++i) info.initialValues[i] = b.ReadInt32();
    return !b.damaged;
}

namespace {

bool IsDatabaseVersion(std::uint8_t v) {
    return v >= 0xC0 && v <= 0xC2;
}

// A missing database file: a message box naming it, then the program ends.
void MissingDatabaseFile(const std::string& path) {
    DataFileServices& services = GetDataFileServices();
    services.showMessageBox(
        FormatDatabaseText(
            TranslateMessageUtf8(u"データベースファイル読み込みに失敗、強制終了します。\n\r\n\r%"
                                 u"s\r\nのファイルがあるか確認してください"),
            path.c_str()),
        TranslateMessageUtf8(u"読み込みエラー"));
    services.exitProgram(1);
}

// XORs a protected ".project" file, every byte, with the low byte of the generator's values.
void UnprotectProjectFile(std::vector<std::uint8_t>& bytes, std::uint8_t seed) {
    ScrambleGenerator generator(seed);
    for (auto& byte : bytes) byte ^= static_cast<std::uint8_t>(generator.Next());
}

// Reads the definitions of the ".project" file at `path` (already known to exist) into `database`.
bool ReadProjectFile(Game_Database& database, const std::string& path,
                     std::vector<std::uint8_t> bytes, bool protectedForm, std::uint8_t seed) {
    if (protectedForm) UnprotectProjectFile(bytes, seed);
    DataFileBuffer& b = TheDataFileBuffer;
    const bool utf8 = b.utf8;
    b.Load(std::move(bytes));
    b.utf8 = utf8;
    // Name, field count, data count and note take at least 16 bytes.
    const std::int32_t count = b.ReadCount(16, true);
    if (!b.damaged) database.typeInfos.resize(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count && !b.damaged; ++i) {
        ReadDatabaseTypeInfo(database.typeInfos[static_cast<std::size_t>(i)]);
    }
    const bool damaged = b.damaged;
    b.Release();
    if (damaged) {
        HandleDamagedDataFile(path);
        return false;
    }
    return true;
}

}  // namespace

bool LoadDatabaseFiles(Game_Database& database, const std::string& dataFolder,
                       const std::string& base) {
    const std::string datPath = dataFolder + base + ".dat";
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeDataFile(datPath, bytes)) {
        MissingDatabaseFile(datPath);
        return false;
    }
    DataFileBuffer& b = TheDataFileBuffer;
    b.Load(std::move(bytes));
    auto damaged = [&] {
        b.Release();
        HandleDamagedDataFile(datPath);
        return false;
    };
    ScrambledHeader header;
    DatabaseFileVersion = 0xC0;
    ResetDatabaseEntryBudget();
    if (!ReadShortHeader(b, kDatabaseHeader, header)) return damaged();
    const bool protectedForm = header.form == ScrambledHeaderForm::Protected;
    const std::uint8_t version = b.ReadByte();
    if (b.damaged) return damaged();
    if (!IsDatabaseVersion(version)) {
        b.Release();
        return false;
    }
    DatabaseFileVersion = version;

    // Type value, field count and entry count take at least 8 bytes.
    const std::int32_t typeCount = b.ReadCount(8, true);
    if (b.damaged) return damaged();
    database.types.resize(static_cast<std::size_t>(typeCount));
    for (auto& type : database.types) {
        if (!ReadDatabaseType(type)) return damaged();
    }
    const std::uint8_t closing = b.ReadByte();
    if (b.damaged) return damaged();
    if (!IsDatabaseVersion(closing)) {
        b.Release();
        GetDataFileServices().showMessageBox(
            FormatDatabaseText(
                TranslateMessageUtf8(u"データベースファイル\n%"
                                     u"sが\n破損しているか、バージョンが古い可能性があります。"),
                base.c_str()),
            "MsgBox");
        return false;
    }
    if (!FinalDataFileCheck(b, kShortHeaderSize, header, datPath)) {
        b.Release();
        return false;
    }
    b.Release();

    const std::string projectPath = dataFolder + base + ".project";
    if (!ReadWholeDataFile(projectPath, bytes)) {
        MissingDatabaseFile(projectPath);
        return false;
    }
    if (!ReadProjectFile(database, projectPath, std::move(bytes), protectedForm,
                         header.protectionSeed)) {
        return false;
    }
    if (protectedForm) database.protectionSeed = header.protectionSeed;
    if (database.kind == kVariableDatabase) {
        VariableDatabaseProjectSource = {projectPath, DatabaseFileVersion, header.utf8,
                                         protectedForm, header.protectionSeed};
    }
    return true;
}

void LoadDatabases(const std::string& dataFolder, bool systemOnly) {
    TheSystemDatabase = Game_Database();
    TheSystemDatabase.kind = kSystemDatabase;
    TheUserDatabase = Game_Database();
    TheUserDatabase.kind = kUserDatabase;
    LoadDatabaseFiles(TheSystemDatabase, dataFolder, "BasicData/SysDataBase");
    LoadDatabaseFiles(TheUserDatabase, dataFolder, "BasicData/DataBase");
    // The sound lists get their spare entries. A list without entries counts -1 and so ends with
    // nine (SoundListBaseCount still counts it as empty); a missing type is reported.
    for (std::int32_t type = 1; type <= 3; ++type) {
        TheSystemDatabase.ResizeType(type, TheSystemDatabase.DataCount(type) + kSpareSoundEntries);
    }
    if (systemOnly) return;

    TheVariableDatabase = Game_Database();
    TheVariableDatabase.kind = kVariableDatabase;
    LoadDatabaseFiles(TheVariableDatabase, dataFolder, "BasicData/CDataBase");
    DatabaseBaseline.clear();
    const Game_Database& db = TheVariableDatabase;
    for (std::int32_t t = 0; t < db.TypeCount(); ++t) {
        const auto& type = db.types[static_cast<std::size_t>(t)];
        DatabaseBaselineType baseline;
        baseline.dataCount = db.DataCount(t);
        for (std::int32_t kind : type.fieldKinds) baseline.fieldClasses.push_back(kind / 1000);
        const Game_DatabaseTypeInfo* info = t < static_cast<std::int32_t>(db.typeInfos.size())
                                                ? &db.typeInfos[static_cast<std::size_t>(t)]
                                                : nullptr;
        for (std::size_t j = 0; j < type.fieldKinds.size(); ++j) {
            baseline.initialValues.push_back(info ? info->InitialValue(static_cast<std::int32_t>(j))
                                                  : 0);
        }
        DatabaseBaseline.push_back(std::move(baseline));
    }
}

std::int32_t SoundListBaseCount(std::int32_t soundKind, const Game_Database& system) {
    if (soundKind < 0 || soundKind > 2) return 0;
    return std::max(system.DataCount(soundKind + 1) - kSpareSoundEntries, 0);
}

// Reads the variable database's definitions again for a save load, the same way they were read
// when the game's files were loaded.
bool ReadDatabaseProjectAgain(Game_Database& database) {
    const DatabaseProjectSource& source = VariableDatabaseProjectSource;
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeDataFile(source.path, bytes)) {
        MissingDatabaseFile(source.path);
        return false;
    }
    const std::int32_t savedVersion = DatabaseFileVersion;
    const bool savedUtf8 = TheDataFileBuffer.utf8;
    DatabaseFileVersion = source.version;
    TheDataFileBuffer.utf8 = source.utf8;
    const bool ok =
        ReadProjectFile(database, source.path, std::move(bytes), source.protectedForm, source.seed);
    DatabaseFileVersion = savedVersion;
    TheDataFileBuffer.utf8 = savedUtf8;
    return ok;
}
