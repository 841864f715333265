// Editing the variable database on behalf of the event commands, the CSV files of any database,
// and the variable database's part of a save.
#include <algorithm>
#include <cctype>
#include <climits>
#include <fstream>

#include "runtime/data/DataFileIo.h"
#include "runtime/data/DatabaseReports.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/SaveStream.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/StringUtil.h"
#include "runtime/shell/TextConversion.h"

namespace {

constexpr std::uint8_t kDatabaseSaveTag = 111;

bool TypeExists(const Game_Database& db, std::int32_t type) {
    return type >= 0 && type < db.TypeCount();
}

Game_DatabaseTypeInfo* InfoOf(Game_Database& db, std::int32_t type) {
    return type >= 0 && static_cast<std::size_t>(type) < db.typeInfos.size()
               ? &db.typeInfos[static_cast<std::size_t>(type)]
               : nullptr;
}

// Gives every number field of entry `data` its initial value (0 without a definition).
void ApplyInitialValues(Game_Database& db, std::int32_t type, std::int32_t data,
                        std::int32_t fieldLimit) {
    const auto& t = db.types[static_cast<std::size_t>(type)];
    const Game_DatabaseTypeInfo* info = InfoOf(db, type);
    const std::int32_t fields = std::min(fieldLimit, db.FieldCount(type));
    for (std::int32_t i = 0; i < fields; ++i) {
        if (t.fieldKinds[static_cast<std::size_t>(i)] / 1000 != kFieldClassNumber) continue;
        db.WriteNumber(type, data, i, info ? info->InitialValue(i) : 0);
    }
}

}  // namespace

void ResetDatabaseEntry(std::int32_t type, std::int32_t data, Game_Database& db) {
    if (TypeExists(db, type) && data >= 0 &&
        data < static_cast<std::int32_t>(db.types[static_cast<std::size_t>(type)].entries.size())) {
        auto& entry =
            db.types[static_cast<std::size_t>(type)].entries[static_cast<std::size_t>(data)];
        std::fill(entry.numbers.begin(), entry.numbers.end(), 0);
        for (auto& s : entry.strings) s.clear();
        const auto fields = static_cast<std::int32_t>(entry.numbers.size() + entry.strings.size());
        const Game_DatabaseTypeInfo* info = InfoOf(db, type);
        const std::int32_t withInitial =
            info ? static_cast<std::int32_t>(info->initialValues.size()) : 0;
        ApplyInitialValues(db, type, data, std::min(fields, withInitial));
        return;
    }
    if (type >= db.TypeCount()) {
        ReportDatabaseError(
            FormatDatabaseText(
                TranslateMessageUtf8(u"DB初期化:初期化しようとしたタイプ番号%dがありません"), type),
            DatabaseScriptLocation(), "");
    }
    if (data < 0) {
        ReportDatabaseError(
            FormatDatabaseText(
                TranslateMessageUtf8(u"DB初期化:初期化しようとしたデータ番号 %d はマイナスです"),
                data),
            DatabaseScriptLocation(), "");
    }
}

bool InsertDatabaseEntries(std::int32_t type, std::int32_t position, std::int32_t count,
                           Game_Database& db) {
    if (type < 0 || position < 0 || count < 0 || !TypeExists(db, type)) return false;
    auto& t = db.types[static_cast<std::size_t>(type)];
    // The type stays within the limit even when the insertion first grows it up to `position`.
    const std::int64_t before = std::max<std::int64_t>(t.entries.size(), position);
    if (before + count > kMaxDatabaseEntries) return false;
    if (db.DataCount(type) <= position) db.ResizeType(type, position);
    const auto at = static_cast<std::size_t>(position);
    t.entries.insert(t.entries.begin() + static_cast<std::ptrdiff_t>(at),
                     static_cast<std::size_t>(count), Game_DatabaseEntry{});
    if (Game_DatabaseTypeInfo* info = InfoOf(db, type)) {
        const std::size_t nameAt = std::min(at, info->dataNames.size());
        info->dataNames.insert(info->dataNames.begin() + static_cast<std::ptrdiff_t>(nameAt),
                               static_cast<std::size_t>(count), std::string());
    }
    const std::int32_t numbers = t.NumberFieldCount();
    const std::int32_t strings = t.StringFieldCount();
    for (std::int32_t k = position; k < position + count; ++k) {
        auto& entry = t.entries[static_cast<std::size_t>(k)];
        entry.numbers.assign(static_cast<std::size_t>(numbers), 0);
        entry.strings.assign(static_cast<std::size_t>(strings), std::string());
        ApplyInitialValues(db, type, k, numbers + strings);
    }
    return true;
}

bool RemoveDatabaseEntries(std::int32_t type, std::int32_t position, std::int32_t count,
                           Game_Database& db) {
    if (type < 0 || position < 0 || count < 0 || !TypeExists(db, type)) return false;
    if (position >= db.DataCount(type)) return false;
    auto& entries = db.types[static_cast<std::size_t>(type)].entries;
    const auto from = static_cast<std::size_t>(position);
    const std::size_t to = std::min(entries.size(), from + static_cast<std::size_t>(count));
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(from),
                  entries.begin() + static_cast<std::ptrdiff_t>(to));
    if (Game_DatabaseTypeInfo* info = InfoOf(db, type)) {
        auto& names = info->dataNames;
        const std::size_t nameFrom = std::min(from, names.size());
        const std::size_t nameTo = std::min(to, names.size());
        names.erase(names.begin() + static_cast<std::ptrdiff_t>(nameFrom),
                    names.begin() + static_cast<std::ptrdiff_t>(nameTo));
    }
    return true;
}

bool CopyDatabaseEntry(std::int32_t type, std::int32_t destination, std::int32_t source,
                       Game_Database& db) {
    if (!TypeExists(db, type)) return false;
    if (destination < 0 || destination >= kMaxDatabaseEntries) return false;
    auto& entries = db.types[static_cast<std::size_t>(type)].entries;
    if (source < 0 || source >= static_cast<std::int32_t>(entries.size())) return false;
    if (db.DataCount(type) <= destination) db.ResizeType(type, destination + 1);
    if (destination != source) {
        entries[static_cast<std::size_t>(destination)] = entries[static_cast<std::size_t>(source)];
    }
    return true;
}

// ---- CSV ----

std::string FormatDatabaseCsv(const Game_Database& db, std::int32_t type, std::int32_t first,
                              std::int32_t count) {
    std::string out = "\xEF\xBB\xBF";
    if (!TypeExists(db, type)) return out + "\r\n";
    const auto& kinds = db.types[static_cast<std::size_t>(type)].fieldKinds;
    const Game_DatabaseTypeInfo* info = static_cast<std::size_t>(type) < db.typeInfos.size()
                                            ? &db.typeInfos[static_cast<std::size_t>(type)]
                                            : nullptr;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        // A definition with fewer field names than fields gets empty names.
        const bool named = info && i < info->fieldNames.size();
        out += '"';
        if (named) out += info->fieldNames[i];
        out += "\",";
    }
    out += "\r\n";
    for (std::int32_t d = first; d < first + count; ++d) {
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            const auto field = static_cast<std::int32_t>(i);
            switch (kinds[i] / 1000) {
                case kFieldClassNumber:
                    out += IntToTempString(db.ReadNumber(type, d, field));
                    out += ',';
                    break;
                case kFieldClassString:
                    // Quotes inside a text are doubled, so that the file reads back the same.
                    out += '"';
                    out += ReplaceAllText(db.ReadString(type, d, field), "\"", "\"\"");
                    out += "\",";
                    break;
                default:
                    break;
            }
        }
        out += "\r\n";
    }
    return out;
}

bool ExportDatabaseCsv(const Game_Database& db, const std::string& path, std::int32_t type,
                       std::int32_t first, std::int32_t count) {
    const std::string text = FormatDatabaseCsv(db, type, first, count);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(file);
}

namespace {

// The C library's atoi, kept within int32.
std::int32_t ParseCsvNumber(const std::string& text) {
    return ReadLeadingInt32(text);
}

}  // namespace

std::int32_t ParseDatabaseCsv(Game_Database& db, const std::string& text, std::int32_t type,
                              std::int32_t first, std::int32_t count, bool writeValues) {
    if (count <= 0) return 0;
    std::vector<std::int32_t> classes;
    if (TypeExists(db, type)) {
        for (std::int32_t kind : db.types[static_cast<std::size_t>(type)].fieldKinds) {
            classes.push_back(kind / 1000);
        }
    }
    std::size_t i = 0;
    bool utf8 = true;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        i = 3;
    } else {
        utf8 = IsValidUtf8(text.c_str());
    }
    // The first line names the fields.
    const std::size_t firstLineEnd = text.find('\n', i);
    if (firstLineEnd == std::string::npos) return 0;
    i = firstLineEnd + 1;

    enum State { kFieldStart, kQuoted, kUnquoted, kAfterQuote };
    State state = kFieldStart;
    std::int32_t field = 0, entry = first, rows = 0;
    std::string buffer;
    // Rows past the entries the type has are counted but never stored.
    auto store = [&] {
        if (!writeValues || !TypeExists(db, type) || field < 0 ||
            static_cast<std::size_t>(field) >= classes.size() || entry < 0 ||
            entry >= static_cast<std::int32_t>(
                         db.types[static_cast<std::size_t>(type)].entries.size())) {
            return;
        }
        const std::int32_t cls = classes[static_cast<std::size_t>(field)];
        if (cls == kFieldClassNumber) {
            db.WriteNumber(type, entry, field, ParseCsvNumber(buffer));
        } else if (cls == kFieldClassString) {
            db.WriteString(type, entry, field, utf8 ? buffer : ConvertGameTextToUtf8(buffer));
        }
    };
    // Ends a row; true when the rows asked for are all taken.
    auto endRow = [&] {
        ++entry;
        ++rows;
        buffer.clear();
        field = 0;
        state = kFieldStart;
        return rows >= count;
    };
    // Both passes walk the text alike; only the storing differs, so that they agree on the rows.
    while (i < text.size()) {
        const auto byte = static_cast<std::uint8_t>(text[i]);
        if (byte == 0) break;
        if (byte == 0x01) {
            // An internal code run is taken whole; a run that is too long or cut off ends the walk.
            // The text's end stands for its terminating zero: a last 0x01 is a one-byte run.
            const std::size_t length =
                i + 1 < text.size() ? static_cast<std::uint8_t>(text[i + 1]) : 0;
            if (length > 127 || i + length + 1 > text.size()) break;
            if (state == kFieldStart) state = kUnquoted;
            if (state != kAfterQuote) buffer.append(text, i, length + 1);
            i += length + 1;
            continue;
        }
        ++i;
        switch (byte) {
            case '"':
                if (state == kFieldStart) {
                    state = kQuoted;
                } else if (state == kQuoted) {
                    if (i < text.size() && text[i] == '"') {
                        buffer += '"';
                        ++i;
                    } else {
                        store();
                        buffer.clear();
                        state = kAfterQuote;
                    }
                }
                break;
            case ',':
                if (state == kQuoted) {
                    buffer += ',';
                    break;
                }
                if (state != kAfterQuote) store();
                buffer.clear();
                ++field;
                state = kFieldStart;
                break;
            case '\n':
                if (state == kQuoted) {
                    buffer += "\r\n";
                    break;
                }
                if (state == kUnquoted) store();
                if (endRow()) return entry - first;
                break;
            case '\r':
                break;
            default:
                if (state == kFieldStart) state = kUnquoted;
                if (state != kAfterQuote) buffer += static_cast<char>(byte);
                break;
        }
    }
    if (state == kUnquoted) store();
    return entry - first + (state == kFieldStart && field == 0 ? 0 : 1);
}

std::int32_t ImportDatabaseCsv(Game_Database& db, const std::string& path, std::int32_t type,
                               std::int32_t first, std::int32_t count, bool writeValues) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeDataFile(path, bytes)) {
        ReportDatabaseError(
            TranslateMessageUtf8(u"読み込みエラー"),
            FormatDatabaseText(TranslateMessageUtf8(u"データファイル %s がありません"),
                               path.c_str()),
            DatabaseScriptLocation());
        return 0;
    }
    // The text is parsed with the one extra zero byte that ends it.
    std::string text(bytes.begin(), bytes.end());
    text += '\0';
    return ParseDatabaseCsv(db, text, type, first, count, writeValues);
}

// ---- Save part ----

void Game_Database::WriteSave() {
    SaveStream& out = TheSaveStream;
    out.readFromSave = true;
    out.WriteByte(kDatabaseSaveTag);
    out.WriteInt32(TypeCount());
    for (auto& type : types) WriteDatabaseType(type);
    out.readFromSave = false;
}

bool Game_Database::ReadSave() {
    SaveStream& in = TheSaveStream;
    in.readFromSave = true;
    ResetDatabaseEntryBudget();
    std::uint8_t tag = 0;
    std::int32_t typeCount = 0;
    // Every type record takes at least 8 bytes: the records are read as in the ".dat" file, whose
    // shortest form is the field count and the entry count alone.
    if (!in.ReadByte(tag) || !in.ReadInt32(typeCount) || typeCount < 0 ||
        typeCount > in.Remaining() / 8) {
        in.overrun = true;
        in.readFromSave = false;
        return false;
    }
    types.assign(static_cast<std::size_t>(typeCount), Game_DatabaseType{});
    for (auto& type : types) {
        if (!ReadDatabaseType(type)) break;
    }
    in.readFromSave = false;

    if (!ReadDatabaseProjectAgain(*this)) return false;
    const auto definitions = static_cast<std::int32_t>(typeInfos.size());
    if (!types.empty()) {
        if (typeCount < definitions) {
            SetTypeCount(definitions);
            // A type the save does not hold takes the game's layout whole: it starts without
            // fields, and the upgrade below adds every field with its initial value.
            for (std::int32_t k = typeCount; k < TypeCount(); ++k) {
                if (static_cast<std::size_t>(k) >= DatabaseBaseline.size()) break;
                auto& type = types[static_cast<std::size_t>(k)];
                type.fieldKinds.clear();
                for (auto& entry : type.entries) {
                    entry.numbers.clear();
                    entry.strings.clear();
                }
            }
        }
        for (std::int32_t k = 0; k < definitions && k < TypeCount(); ++k) {
            if (static_cast<std::size_t>(k) >= DatabaseBaseline.size()) break;
            const DatabaseBaselineType& baseline = DatabaseBaseline[static_cast<std::size_t>(k)];
            const auto fields = static_cast<std::int32_t>(baseline.fieldClasses.size());
            if (FieldCount(k) < fields) {
                MigrateTypeFields(k, baseline.fieldClasses, fields, baseline.initialValues);
            }
        }
    }
    return true;
}
