#include "runtime/script/DatabaseCommands.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <string>

#include "runtime/data/DatabaseReports.h"
#include "runtime/data/Game_Database.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/script/InterpreterOperations.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/StringUtil.h"

namespace {

using namespace database_command;

enum Mode250 : std::int32_t { kWrite = 0, kRead = 1 };
enum Mode251 : std::int32_t { kImport = 0, kExport = 1 };
enum Mode252 : std::int32_t { kInsert = 0, kRemove = 1, kCopy = 2 };

// Stored arguments 2 and 3 of command 250 that ask for something other than a cell.
constexpr std::int32_t kCountWanted = -1;
constexpr std::int32_t kResetWanted = -2;
constexpr std::int32_t kNameWanted = -3;

void Report(const std::string& first, const std::string& second, const std::string& third) {
    ReportRuntimeError(true, first, second, third);
}

std::string Location() {
    return GetScriptLocationText();
}

std::string Decimal(std::int64_t value) {
    return std::to_string(value);
}

const std::string& StringArgument(const Game_EventCommand& command, std::size_t n) {
    static const std::string empty;
    return n < command.strings.size() ? command.strings[n] : empty;
}

// A command's settings word, split into its fields.
struct Settings {
    std::int32_t source;
    std::int32_t op;
    std::int32_t database;
    std::int32_t mode;
    std::int32_t flags;
    // The name flags are honoured only with a name flag set and all four strings present.
    bool namesHonoured;

    Settings(const Game_EventCommand& command)
        : source(CommandArgument(command, 4) & kSourceMask),
          op((CommandArgument(command, 4) >> kOperatorShift) & 0xF),
          database((CommandArgument(command, 4) >> kDatabaseShift) & 0xF),
          mode((CommandArgument(command, 4) >> kModeShift) & 0xF),
          flags(CommandArgument(command, 4)),
          namesHonoured((flags & kAnyNameFlag) != 0 && command.strings.size() >= 4) {}
};

Game_Database& DatabaseOfSlot(std::int32_t slot) {
    switch (slot) {
        case kNameIndexSystem:
            return TheSystemDatabase;
        case kNameIndexUser:
            return TheUserDatabase;
        default:
            return TheVariableDatabase;
    }
}

std::int64_t CellBaseOfSlot(std::int32_t slot) {
    switch (slot) {
        case kNameIndexSystem:
            return kSystemDatabaseCellBase;
        case kNameIndexUser:
            return kUserDatabaseCellBase;
        default:
            return kVariableDatabaseCellBase;
    }
}

// The id of a cell. Numbers beyond a cell's range fall into the ids of other cells, as they
// always have; the id wraps at 32 bits.
std::int32_t CellId(std::int64_t base, std::int32_t type, std::int32_t data, std::int32_t field) {
    const std::int64_t id = base + static_cast<std::int64_t>(type) * 1000000 +
                            static_cast<std::int64_t>(data) * 100 + field;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(id)));
}

std::int32_t Wrap(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

// cur op value for numbers; nothing for an operator that does not exist. A zero divisor counts
// as 1, and the one quotient that does not fit (the smallest number by -1) keeps the target.
std::optional<std::int32_t> ApplyNumberOperator(std::int32_t op, std::int32_t cur,
                                                std::int32_t value) {
    switch (op) {
        case 0:
            return value;
        case 1:
            return Wrap(static_cast<std::int64_t>(cur) + value);
        case 2:
            return Wrap(static_cast<std::int64_t>(cur) - value);
        case 3:
            return Wrap(static_cast<std::int64_t>(cur) * value);
        case 4:
        case 5: {
            const std::int32_t divisor = value == 0 ? 1 : value;
            if (cur == INT32_MIN && divisor == -1) return cur;
            return op == 4 ? cur / divisor : cur % divisor;
        }
        case 6:
            return std::max(cur, value);
        case 7:
            return std::min(cur, value);
        default:
            return std::nullopt;
    }
}

class DatabaseCommandRun {
  public:
    DatabaseCommandRun(Game_Interpreter& interpreter)
        : interpreter_(interpreter), command_(*interpreter.currentCommand), settings_(command_) {}

    std::int32_t Resolve(std::int32_t value) { return interpreter_.ResolveNumber(value); }
    std::int32_t Stored(std::size_t n) const { return CommandArgument(command_, n); }

    std::string Expand(const std::string& text, bool plain) {
        return ExpandTextCodes(text, interpreter_.mapEventId, interpreter_.commonEventId,
                               interpreter_.mapId, plain, false, nullptr, nullptr, false);
    }

    // The name lookup of type, data and (withField) field in the slot's maps. False after a
    // report: the command ends.
    bool LookUpNames(std::int32_t slot, bool withField, std::int32_t& type, std::int32_t& data,
                     std::int32_t* field) {
        if (!settings_.namesHonoured || slot < 0 || slot > 2) return true;
        const DatabaseNameSlot& names = DatabaseNameIndex[static_cast<std::size_t>(slot)];
        if (settings_.flags & kTypeByName) {
            const std::string& name = StringArgument(command_, 1);
            const auto found = names.typeNames.find(name);
            if (found == names.typeNames.end()) {
                Report(TranslateMessageUtf8(u"【DB操作】 以下のタイプ名は存在しません"), name,
                       Location());
                return false;
            }
            type = found->second;
        }
        if (settings_.flags & kDataByName) {
            const std::string& name = StringArgument(command_, 2);
            const bool known = type >= 0 && static_cast<std::size_t>(type) < names.dataNames.size();
            const auto* map = known ? &names.dataNames[static_cast<std::size_t>(type)] : nullptr;
            const auto found = map ? map->find(name) : decltype(map->find(name)){};
            if (!map || found == map->end()) {
                Report(FormatDatabaseText(
                           TranslateMessageUtf8(
                               u"【DB操作】 タイプ%d  には以下のデータ名は存在しません"),
                           type),
                       name, Location());
                return false;
            }
            data = found->second;
        }
        if (withField && field && (settings_.flags & kFieldByName)) {
            const std::string& name = StringArgument(command_, 3);
            const bool known =
                type >= 0 && static_cast<std::size_t>(type) < names.fieldNames.size();
            const auto* map = known ? &names.fieldNames[static_cast<std::size_t>(type)] : nullptr;
            const auto found = map ? map->find(name) : decltype(map->find(name)){};
            if (!map || found == map->end()) {
                Report(FormatDatabaseText(
                           TranslateMessageUtf8(
                               u"【DB操作】 タイプ%d データ%d には以下の項目名は存在しません"),
                           type, data),
                       name, Location());
                return false;
            }
            *field = found->second;
        }
        return true;
    }

    // Sets or appends a text to a text variable; other operators do nothing.
    void PutText(std::int32_t id, const std::string& text, const std::string* current = nullptr) {
        if (settings_.op == 0) {
            interpreter_.WriteString(id, text);
        } else if (settings_.op == 1) {
            interpreter_.WriteString(id,
                                     (current ? *current : interpreter_.ResolveString(id)) + text);
        }
    }

    void PutNumber(std::int32_t id, std::int32_t cur, std::int32_t value) {
        if (const auto result = ApplyNumberOperator(settings_.op, cur, value)) {
            interpreter_.WriteNumber(id, *result);
        }
    }

    void RunDatabase() {
        if (settings_.database > 2) {
            ReportUnsupportedDatabase();
            return;
        }
        std::int32_t type = Resolve(Stored(1));
        std::int32_t data = Resolve(Stored(2));
        std::int32_t field = Resolve(Stored(3));
        if (!LookUpNames(settings_.database, true, type, data, &field)) return;
        if (settings_.mode == kWrite) {
            Write(type, data, field);
        } else if (settings_.mode == kRead) {
            Read(type, data, field);
        }
    }

    void ReportUnsupportedDatabase() {
        Report(TranslateMessageUtf8(u"DB操作：CSV読み書き　データベース指定がおかしいです"),
               Location(), "");
    }

    void ReportNegativeData(std::int32_t data) {
        Report(FormatDatabaseText(
                   TranslateMessageUtf8(u"DB操作：データ番号がマイナスです！ => データ %d"), data),
               Location(), "");
    }

    void ResetType(std::int32_t type) {
        // A type the loaded database did not record, or recorded without entries, is emptied.
        std::int32_t count = 0;
        if (type >= 0 && static_cast<std::size_t>(type) < DatabaseBaseline.size()) {
            count = std::max(0, DatabaseBaseline[static_cast<std::size_t>(type)].dataCount);
        }
        TheVariableDatabase.ResizeType(type, count);
        if (type < 0 || type >= TheVariableDatabase.TypeCount()) return;
        for (std::int32_t d = 0; d < count; ++d) ResetDatabaseEntry(type, d);
    }

    // The general form writes the variable database whatever the settings' database says.
    void Write(std::int32_t type, std::int32_t data, std::int32_t field) {
        if (Stored(2) == kResetWanted || Stored(3) == kResetWanted) {
            if (data == kResetWanted) {
                ResetType(type);
            } else if (field == kResetWanted) {
                ResetDatabaseEntry(type, data);
            }
            return;
        }
        if (type < 0) {
            Report(TranslateMessageUtf8(u"DB操作：タイプ番号がマイナスです！"), Decimal(type),
                   Location());
            return;
        }
        if (data < 0) {
            ReportNegativeData(data);
            return;
        }
        if (field < 0) {
            Report(TranslateMessageUtf8(u"DB操作：内容番号がマイナスです！"), Decimal(field),
                   Location());
            return;
        }
        const std::int32_t cell = CellId(kVariableDatabaseCellBase, type, data, field);
        const bool numberCell = IsIntegerVariableId(cell);
        std::int32_t cur = 0;
        std::string currentText;
        if (numberCell) {
            cur = Resolve(cell);
        } else {
            currentText = interpreter_.ResolveString(cell);
        }
        const std::int32_t argument = Stored(5);
        switch (settings_.source) {
            case 0:
                if (numberCell) {
                    if (!IsIntegerVariableId(argument)) {
                        Report(TranslateMessageUtf8(u"DB書込 ERROR1：変数を格納すべき場所に文字列を"
                                                    u"代入しようとしました"),
                               Location(), "");
                        return;
                    }
                    PutNumber(cell, cur, Resolve(argument));
                } else {
                    if (IsIntegerVariableId(argument)) {
                        Report(TranslateMessageUtf8(u"DB書込 ERROR2：文字列を格納すべき場所に変数を"
                                                    u"代入しようとしました"),
                               Location(), Decimal(cell));
                        return;
                    }
                    PutText(cell, interpreter_.ResolveString(argument), &currentText);
                }
                break;
            case 1: {
                const std::int32_t source = Resolve(argument);
                if (numberCell) {
                    if (!IsIntegerVariableId(source)) {
                        Report(TranslateMessageUtf8(u"DB書込 ERROR3.5：変数を格納すべき場所に文字列"
                                                    u"を代入しようとしました"),
                               FormatDatabaseText(TranslateMessageUtf8(u"代入先 %d"), cell),
                               Location());
                        return;
                    }
                    PutNumber(cell, cur, Resolve(source));
                } else {
                    if (IsIntegerVariableId(source)) {
                        Report(TranslateMessageUtf8(u"DB書込 ERROR4：文字列を格納すべき場所に変数を"
                                                    u"代入しようとしました"),
                               Location(), "");
                        return;
                    }
                    PutText(cell, interpreter_.ResolveString(source), &currentText);
                }
                break;
            }
            case 2:
                if (numberCell) {
                    Report(TranslateMessageUtf8(u"DB書込 ERROR5：変数を格納すべき場所に文字列を"
                                                u"代入しようとしました"),
                           Location(), "");
                    return;
                }
                PutText(cell, Expand(StringArgument(command_, 0), false), &currentText);
                break;
            default:
                break;
        }
    }

    // A number (with the flag) or a name (without it) into the destination.
    void ReadNumberOrName(std::int32_t destination, bool numberWanted, std::int32_t number,
                          const std::string& name, const char16_t* nameError) {
        if (numberWanted) {
            if (!IsIntegerVariableId(destination)) {
                Report(TranslateMessageUtf8(
                           u"DB書込 ERROR3.5：変数を格納すべき場所に文字列を代入しようとしました"),
                       Location(), "");
                return;
            }
            PutNumber(destination, Resolve(destination), number);
            return;
        }
        if (IsIntegerVariableId(destination)) {
            Report(FormatDatabaseText(TranslateMessageUtf8(nameError), destination), Location(),
                   "");
            return;
        }
        PutText(destination, Expand(name, false));
    }

    void Read(std::int32_t type, std::int32_t data, std::int32_t field) {
        const std::int32_t slot = settings_.database;
        Game_Database& db = DatabaseOfSlot(slot);
        const std::int32_t destination = settings_.source == 1 ? Resolve(Stored(5)) : Stored(5);
        const std::int32_t storedData = Stored(2);
        const std::int32_t storedField = Stored(3);
        if (storedData == kNameWanted && storedField == kNameWanted) {
            ReadNumberOrName(destination, settings_.flags & kTypeByName, type, db.TypeName(type),
                             u"DB読込 ERROR7：変数を格納すべき場所に文字列を代入しようとしました "
                             u"(タイプ名を%dに)");
            return;
        }
        if (storedField == kNameWanted) {
            ReadNumberOrName(destination, settings_.flags & kDataByName, data,
                             db.DataName(type, data, 0),
                             u"DB読込 ERROR7：変数を格納すべき場所に文字列を代入しようとしました "
                             u"(データ名を%dに)");
            return;
        }
        if (storedData == kNameWanted) {
            ReadNumberOrName(destination, settings_.flags & kFieldByName, field,
                             ExpandFieldNumberCodes(db.FieldName(type, field), field),
                             u"DB読込 ERROR7：変数を格納すべき場所に文字列を代入しようとしました "
                             u"(項目名を%dに)");
            return;
        }
        if (storedData == kCountWanted || storedField == kCountWanted) {
            ReadCount(db, slot, type, destination, storedField == kCountWanted);
            return;
        }
        if (type < 0) {
            Report(TranslateMessageUtf8(u"DB操作：タイプ番号がマイナスです！"), Location(), "");
            return;
        }
        if (data < 0) {
            ReportNegativeData(data);
            return;
        }
        if (field < 0) {
            Report(TranslateMessageUtf8(u"DB操作：内容番号がマイナスです！"), Location(), "");
            return;
        }
        const std::int32_t cell = CellId(CellBaseOfSlot(slot), type, data, field);
        if (!IsIntegerVariableId(cell)) {
            if (IsIntegerVariableId(destination)) {
                Report(FormatDatabaseText(
                           TranslateMessageUtf8(u"DB読込 ERROR7：変数を格納すべき場所に文字列を代入"
                                                u"しようとしました (%dを%dに)"),
                           cell, destination),
                       Location(), "");
                return;
            }
            PutText(destination, Expand(interpreter_.ResolveString(cell), false));
            return;
        }
        if (!IsIntegerVariableId(destination)) {
            Report(
                TranslateMessageUtf8(
                    u"DB読込 ERROR6：文字列を格納すべき場所に変数を代入しようとしました"),
                FormatDatabaseText(TranslateMessageUtf8(u"代入先 %d 代入元 %d"), destination, cell),
                Location());
            return;
        }
        const std::int32_t cur = Resolve(destination);
        PutNumber(destination, cur, Resolve(cell));
    }

    void ReadCount(const Game_Database& db, std::int32_t slot, std::int32_t type,
                   std::int32_t destination, bool fields) {
        // A type is checked before its entries or fields are counted.
        std::int32_t count = -1;
        if (type >= 0 && type < db.TypeCount()) {
            if (fields) {
                count = db.FieldCount(type);
            } else {
                count = db.DataCount(type);
                // The sound lists carry spare entries that are not the game's own.
                if (slot == kNameIndexSystem && type >= 1 && type <= 3 && count >= 0) {
                    count = std::max(0, count - kSpareSoundEntries);
                }
            }
        }
        if (count == -1) {
            const char16_t* which = slot == kNameIndexSystem ? u"ｼｽﾃﾑDB タイプ%d"
                                    : slot == kNameIndexUser ? u"ユーザDB タイプ%d"
                                                             : u"可変DB タイプ%d";
            Report(TranslateMessageUtf8(u"DB読込 ERROR：読み込もうとしたタイプ番号が存在しません "),
                   FormatDatabaseText(TranslateMessageUtf8(which), type), Location());
            return;
        }
        PutNumber(destination, Resolve(destination), count);
    }

    void RunCsv() {
        std::int32_t type = Resolve(Stored(1));
        std::int32_t first = Resolve(Stored(2));
        if (settings_.database > 2) {
            ReportUnsupportedDatabase();
            return;
        }
        if (!LookUpNames(settings_.database, false, type, first, nullptr)) return;
        if (type < 0) {
            Report(TranslateMessageUtf8(u"DB操作：タイプ番号がマイナスです！"), Location(), "");
            return;
        }
        if (first < 0) {
            ReportNegativeData(first);
            return;
        }
        std::int32_t count = Resolve(Stored(5));
        if (count < 1) return;
        const std::string name = RestoreEscapeCodes(Expand(StringArgument(command_, 0), true));
        if (!IsSafeRelativePath(name, 1)) {
            Report(TranslateMessageUtf8(u"エラー：ゲームフォルダ外部にはファイル出力/読込は"
                                        u"できません([./]も使えません)"),
                   name, Location());
            return;
        }
        Game_Database& db = DatabaseOfSlot(settings_.database);
        if (settings_.mode == kImport) {
            if (static_cast<std::int64_t>(first) + count >= db.DataCount(type)) {
                const std::int32_t rows = ImportDatabaseCsv(db, name, type, first, count, false);
                std::int64_t wanted = static_cast<std::int64_t>(rows) + first;
                // The variable database never holds more entries than its limit.
                if (&db == &TheVariableDatabase) {
                    wanted = std::min<std::int64_t>(wanted, kMaxDatabaseEntries);
                }
                // A file that gave no rows (or was missing) leaves the type as it was.
                if (rows > 0 && wanted >= db.DataCount(type)) {
                    db.ResizeType(type, static_cast<std::int32_t>(wanted));
                }
            }
            ImportDatabaseCsv(db, name, type, first, count, true);
        } else if (settings_.mode == kExport) {
            const std::int64_t available = static_cast<std::int64_t>(db.DataCount(type)) - first;
            if (count >= available)
                count = static_cast<std::int32_t>(std::max<std::int64_t>(0, available));
            char* folder = getcwd(nullptr, 0);
            // The folders are made below the game folder, the current folder.
            const std::string base = std::string(folder ? folder : ".") + "/";
            std::free(folder);
            CreateFolderChain(name, base);
            // A range past the last entry still writes the file, with its row of field names.
            ExportDatabaseCsv(db, name, type, first, count);
        }
    }

    void RunInsertRemove() {
        std::int32_t type = Resolve(Stored(1));
        std::int32_t data = Resolve(Stored(2));
        if (settings_.database != 0) {
            Report(TranslateMessageUtf8(u"DB操作：データの挿入/抜き取り　CDB以外のデータベース"
                                        u"操作はできません"),
                   Location(), "");
            return;
        }
        if (!LookUpNames(kNameIndexVariable, false, type, data, nullptr)) return;
        // Reported, but the operations below refuse the negative numbers themselves.
        if (type < 0) {
            Report(TranslateMessageUtf8(u"DB操作：タイプ番号がマイナスです！"), Location(), "");
        }
        if (data < 0) ReportNegativeData(data);
        std::int32_t n = Resolve(Stored(5));
        Game_Database& db = TheVariableDatabase;
        const std::int64_t entries = type < 0 ? -1 : db.DataCount(type);
        switch (settings_.mode) {
            case kInsert: {
                if (n < 1) return;
                const std::int64_t room = kMaxDatabaseEntries - entries;
                if (n >= room) n = static_cast<std::int32_t>(std::max<std::int64_t>(0, room));
                if (InsertDatabaseEntries(type, data, n)) {
                    ShiftDatabaseNameIndex(kNameIndexVariable, type, data, n);
                }
                break;
            }
            case kRemove: {
                if (n < 1) return;
                const std::int64_t left = entries - data;
                if (n >= left) n = static_cast<std::int32_t>(std::max<std::int64_t>(0, left));
                if (RemoveDatabaseEntries(type, data, n)) {
                    ShiftDatabaseNameIndex(kNameIndexVariable, type, data, -n);
                }
                break;
            }
            case kCopy:
                if (n < 0) n = 0;
                if (!CopyDatabaseEntry(type, data, n)) {
                    Report(FormatDatabaseText(
                               TranslateMessageUtf8(u"DB操作：データのコピーに失敗しました "
                                                    u"(タイプ%d データ%d → データ%d)"),
                               type, n, data),
                           Location(), "");
                }
                break;
            default:
                break;
        }
    }

  private:
    Game_Interpreter& interpreter_;
    const Game_EventCommand& command_;
    Settings settings_;
};

}  // namespace

std::string ExpandFieldNumberCodes(std::string name, std::int32_t offset) {
    // Every replacement uses up one backslash and puts none back, so the loop ends.
    static const std::string code = "\\d[";
    for (std::size_t at = name.find(code); at != std::string::npos; at = name.find(code)) {
        const std::size_t close = name.find(']', at + code.size());
        if (close == std::string::npos) {
            name.erase(at, code.size());
            continue;
        }
        const std::string digits = name.substr(at + code.size(), close - at - code.size());
        std::int64_t n = 0;
        bool negative = false;
        std::size_t i = 0;
        if (i < digits.size() && (digits[i] == '-' || digits[i] == '+')) {
            negative = digits[i] == '-';
            ++i;
        }
        for (; i < digits.size() && digits[i] >= '0' && digits[i] <= '9'; ++i) {
            n = std::min<std::int64_t>(n * 10 + (digits[i] - '0'), INT32_MAX);
        }
        if (negative) n = -n;
        name.replace(at, close + 1 - at, Decimal(Wrap(n + offset)));
    }
    return name;
}

bool CommandDatabase(Game_Interpreter& interpreter) {
    if (interpreter.currentCommand == nullptr) return true;
    DatabaseCommandRun(interpreter).RunDatabase();
    return true;
}

bool CommandDatabaseCsv(Game_Interpreter& interpreter) {
    if (interpreter.currentCommand == nullptr) return true;
    DatabaseCommandRun(interpreter).RunCsv();
    return true;
}

bool CommandDatabaseInsertRemove(Game_Interpreter& interpreter) {
    if (interpreter.currentCommand == nullptr) return true;
    DatabaseCommandRun(interpreter).RunInsertRemove();
    return true;
}

void InstallDatabaseCommands() {
    SetCommandHandler(kDatabaseCommandCode, &CommandDatabase);
    SetCommandHandler(kDatabaseCsvCommandCode, &CommandDatabaseCsv);
    SetCommandHandler(kDatabaseInsertRemoveCommandCode, &CommandDatabaseInsertRemove);
}
