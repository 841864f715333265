#include "runtime/script/CompiledDatabase.h"

#include <algorithm>
#include <climits>

#include "runtime/data/DatabaseReports.h"
#include "runtime/data/Game_Database.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/DatabaseCommands.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/RuntimeError.h"

namespace {

using namespace database_command;

constexpr std::int32_t kLiteralLimit = 1000000;
constexpr std::int32_t kNameWanted = -3;

// Jump lines of a compiled database command.
enum : std::size_t { kCompiledFlag, kNumberIndex, kOperator, kMode, kEntryKnown, kJumpCount };

std::int32_t Arg(const Game_EventCommand& c, std::size_t n) {
    return n < c.arguments.size() ? c.arguments[n] : 0;
}

std::int32_t Selector(const Game_EventCommand& c) {
    return (Arg(c, 4) >> kDatabaseShift) & 0xF;
}

Game_Database* DatabaseOfSelector(std::int32_t selector) {
    switch (selector) {
        case kNameIndexVariable:
            return &TheVariableDatabase;
        case kNameIndexSystem:
            return &TheSystemDatabase;
        case kNameIndexUser:
            return &TheUserDatabase;
        default:
            return nullptr;
    }
}

const std::string* StringArgument(const Game_EventCommand& c, std::size_t n) {
    return n < c.strings.size() ? &c.strings[n] : nullptr;
}

// Names become numbers once, at load time; a name that is not found keeps its flag, so the
// general form still reports it.
void LookUpNames(Game_EventCommand& c) {
    if (c.arguments.size() < 5) return;
    std::int32_t& flags = c.arguments[4];
    if ((flags & kAnyNameFlag) == 0 || c.strings.size() < 2) return;
    const std::int32_t selector = Selector(c);
    if (selector > 2) return;
    const DatabaseNameSlot& names = DatabaseNameIndex[static_cast<std::size_t>(selector)];
    const bool nameRead = Arg(c, 2) == kNameWanted || Arg(c, 3) == kNameWanted;
    if (flags & kTypeByName) {
        const auto found = names.typeNames.find(c.strings[1]);
        if (found != names.typeNames.end()) {
            c.arguments[1] = found->second;
            if (!nameRead) flags &= ~kTypeByName;
        }
    }
    const std::int32_t type = Arg(c, 1);
    if (type < 0 || type >= kLiteralLimit) return;
    const auto t = static_cast<std::size_t>(type);
    if ((flags & kDataByName) && selector != 0 && t < names.dataNames.size()) {
        if (const std::string* name = StringArgument(c, 2)) {
            const auto found = names.dataNames[t].find(*name);
            if (found != names.dataNames[t].end()) {
                c.arguments[2] = found->second;
                if (Arg(c, 3) != kNameWanted) flags &= ~kDataByName;
            }
        }
    }
    if ((flags & kFieldByName) && t < names.fieldNames.size()) {
        if (const std::string* name = StringArgument(c, 3)) {
            const auto found = names.fieldNames[t].find(*name);
            if (found != names.fieldNames[t].end()) {
                c.arguments[3] = found->second;
                if (Arg(c, 2) != kNameWanted) flags &= ~kFieldByName;
            }
        }
    }
}

// cur op value, as the general form computes it, except that a divisor 0 leaves the target as
// it is and a remainder by 0 gives 1. Nothing for an operator that does not exist.
bool ApplyOperator(std::int32_t op, std::int32_t& target, std::int32_t value) {
    const auto ut = static_cast<std::uint32_t>(target);
    const auto uv = static_cast<std::uint32_t>(value);
    switch (op) {
        case 0:
            target = value;
            return true;
        case 1:
            target = static_cast<std::int32_t>(ut + uv);
            return true;
        case 2:
            target = static_cast<std::int32_t>(ut - uv);
            return true;
        case 3:
            target = static_cast<std::int32_t>(ut * uv);
            return true;
        case 4:
            if (value == 0 || (target == INT_MIN && value == -1)) return true;
            target /= value;
            return true;
        case 5:
            if (value == 0) {
                target = 1;
            } else if (value == -1) {
                target = 0;
            } else {
                target %= value;
            }
            return true;
        case 6:
            target = std::max(target, value);
            return true;
        case 7:
            target = std::min(target, value);
            return true;
        default:
            return false;
    }
}

struct CompiledOperands {
    Game_Database* database;
    std::int32_t type;
    std::int32_t data;
    std::int32_t field;
    bool entryKnown;
    std::int32_t op;
};

// The operands of a compiled command; false (after the report of a negative data number) when
// the command ends.
bool Operands(const Game_EventCommand& c, CompiledOperands& out) {
    const std::vector<std::int32_t>& j = c.jumpLines;
    out.database = DatabaseOfSelector(Selector(c));
    if (!out.database || j.size() < kJumpCount) return false;
    const ResolvedVariableCell* dataCell =
        c.resolvedVariables.size() > 1 ? &c.resolvedVariables[1] : nullptr;
    out.type = Arg(c, 1);
    out.data = dataCell && *dataCell ? dataCell->Read() : Arg(c, 2);
    out.field = Arg(c, 3);
    out.entryKnown = j[kEntryKnown] != 0;
    out.op = j[kOperator];
    if (out.data < 0) {
        ReportRuntimeError(
            true,
            FormatDatabaseText(
                TranslateMessageUtf8(u"DB操作：データ番号がマイナスです！ => データ %d"), out.data),
            GetScriptLocationText(), "");
        return false;
    }
    return true;
}

std::int32_t VariableSide(const Game_EventCommand& c) {
    if (c.resolvedVariables.size() > 2 && c.resolvedVariables[2]) {
        return c.resolvedVariables[2].Read();
    }
    return Arg(c, 5);
}

bool RunCompiledWrite(Game_Interpreter& interpreter) {
    const Game_EventCommand& c = *interpreter.currentCommand;
    CompiledOperands o{};
    if (!Operands(c, o)) return true;
    Game_Database& db = *o.database;
    if (!o.entryKnown && o.type < db.TypeCount()) {
        const auto have =
            static_cast<std::int32_t>(db.types[static_cast<std::size_t>(o.type)].entries.size());
        // A type never grows past the variable database's limit, whatever the data number.
        if (have <= o.data && o.data < kMaxDatabaseEntries) db.ResizeType(o.type, o.data + 1);
    }
    std::int32_t* cell = db.FindNumberCell(o.type, o.data, o.field);
    if (!cell) return true;
    std::int32_t value = *cell;
    if (ApplyOperator(o.op, value, VariableSide(c))) *cell = value;
    return true;
}

bool RunCompiledRead(Game_Interpreter& interpreter) {
    const Game_EventCommand& c = *interpreter.currentCommand;
    CompiledOperands o{};
    if (!Operands(c, o)) return true;
    Game_Database& db = *o.database;
    const std::int32_t* cell = db.FindNumberCell(o.type, o.data, o.field);
    std::int32_t value = 0;
    if (cell) {
        value = *cell;
    } else if (o.type >= 0 && static_cast<std::size_t>(o.type) < db.typeInfos.size()) {
        value = db.typeInfos[static_cast<std::size_t>(o.type)].InitialValue(o.field);
    }
    if (c.resolvedVariables.size() < 3 || !c.resolvedVariables[2]) return true;
    std::int32_t* target = c.resolvedVariables[2].Get();
    if (!target) return true;
    std::int32_t result = *target;
    if (ApplyOperator(o.op, result, value)) *target = result;
    return true;
}

// A general-form command that carries compiled data runs the compiled behaviour.
bool RunDatabase(Game_Interpreter& interpreter) {
    const Game_EventCommand& c = *interpreter.currentCommand;
    if (c.jumpLines.size() >= kJumpCount && c.jumpLines[kCompiledFlag] == 1) {
        return c.jumpLines[kMode] == 1 ? RunCompiledRead(interpreter)
                                       : RunCompiledWrite(interpreter);
    }
    return CommandDatabase(interpreter);
}

}  // namespace

void CompileDatabaseCommand(Game_EventCommand& c, std::int32_t commonEventIndex) {
    LookUpNames(c);
    const std::int32_t settings = Arg(c, 4);
    const std::int32_t selector = Selector(c);
    const std::int32_t mode = (settings >> kModeShift) & 0xF;
    Game_Database* db = DatabaseOfSelector(selector);
    if (!db || c.arguments.size() < 6 || (mode != 0 && mode != 1)) return;
    const std::int32_t type = Arg(c, 1);
    const std::int32_t data = Arg(c, 2);
    const std::int32_t field = Arg(c, 3);
    const std::int32_t variable = Arg(c, 5);
    if (!IsIntegerVariableId(variable) || type >= kLiteralLimit || field >= kLiteralLimit) return;
    if ((settings & kSourceMask) != 0 || type < 0 || data < 0 || field < 0) return;
    if (variable >= 1000000000 || (settings & kDataByName)) return;
    // A name still waiting for its lookup would be reported by the general form.
    if ((settings & (kTypeByName | kFieldByName)) && c.strings.size() >= 4) return;
    if (type >= db->TypeCount() || field >= db->FieldCount(type)) return;
    const std::int32_t kind =
        db->types[static_cast<std::size_t>(type)].fieldKinds[static_cast<std::size_t>(field)];
    if (kind < 1000 || kind > 1999) return;
    std::vector<ResolvedVariableCell> refs(3);
    if (data >= kLiteralLimit) {
        refs[1] = ResolveVariableCell(TheVariables, data, commonEventIndex);
        if (!refs[1]) return;
    }
    if (variable >= kLiteralLimit) {
        refs[2] = ResolveVariableCell(TheVariables, variable, commonEventIndex);
        if (!refs[2]) return;
    }
    const auto entries =
        static_cast<std::int32_t>(db->types[static_cast<std::size_t>(type)].entries.size());
    c.jumpLines = {1, kind - 1000, (settings >> kOperatorShift) & 0xF, mode,
                   data < entries && selector != 0 ? 1 : 0};
    c.resolvedVariables = std::move(refs);
    c.arguments[0] = kCompiledDatabaseWrite + mode;
}

void InstallCompiledDatabaseCommands() {
    SetCommandHandler(kCompiledDatabaseWrite, &RunCompiledWrite);
    SetCommandHandler(kCompiledDatabaseRead, &RunCompiledRead);
    SetCommandHandler(kDatabaseCommandCode, &RunDatabase);
}
