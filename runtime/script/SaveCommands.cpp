#include "runtime/script/SaveCommands.h"

#include "runtime/data/Game_SaveManager.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/StringUtil.h"

namespace {

// The screen-transition command that a successful load runs.
constexpr std::int32_t kTransitionCommandCode = 162;

std::int32_t Argument(const Game_EventCommand& command, std::size_t n) {
    return n < command.arguments.size() ? command.arguments[n] : 0;
}

// The slot and the name (or the default prefix) a command names; false (reported) when the name
// would leave the game folder.
bool ResolveSlot(Game_Interpreter& interpreter, bool byString, std::int32_t& slot,
                 std::string& name) {
    const Game_EventCommand& command = *interpreter.currentCommand;
    const std::int32_t argument = Argument(command, 2);
    slot = 0;
    name = kDefaultSavePrefix;
    std::string given;
    bool named = false;
    if (byString) {
        given = interpreter.ResolveString(argument);
        named = given != kVariableErrorText;
        if (!named) slot = interpreter.ResolveNumber(argument);
    } else if (IsIntegerVariableId(argument)) {
        slot = interpreter.ResolveNumber(argument);
    } else {
        given = interpreter.ResolveString(argument);
        named = true;
    }
    if (!named) return true;
    name = UnescapeSaveName(given);
    if (!IsSafeRelativePath(name, 1)) {
        ReportRuntimeError(
            true,
            TranslateMessageUtf8(u"エラー：ゲームフォルダ外部にはファイル出力/読込はで"
                                 u"きません([./]も使えません)"),
            name, GetScriptLocationText());
        return false;
    }
    return true;
}

// The variable id a 221 or 222 reads or writes in the save.
std::int32_t SaveVariableId(Game_Interpreter& interpreter) {
    const Game_EventCommand& command = *interpreter.currentCommand;
    const std::int32_t id = Argument(command, 3);
    const bool indirect = command.arguments.size() >= 5 && (Argument(command, 4) & 1) != 0;
    return indirect ? interpreter.ResolveNumber(id) : id;
}

}  // namespace

std::string UnescapeSaveName(const std::string& name) {
    return ReplaceAllText(ReplaceAllText(name, kLiteralBackslashCode, "\\"), "\\\\", "\\");
}

bool CommandSaveLoad(Game_Interpreter& interpreter) {
    if (interpreter.currentCommand == nullptr) return true;
    FlushDirtySaves();
    std::int32_t slot = 0;
    std::string name;
    if (!ResolveSlot(interpreter, true, slot, name)) return true;
    switch (Argument(*interpreter.currentCommand, 1)) {
        case 0:
            TheSaveManager.Save(slot, 0, name);
            break;
        case 1:
            if (interpreter.parallelFlag) {
                ReportRuntimeError(
                    true,
                    TranslateMessageUtf8(u"【エラー】クラッシュの危険があるため、並列"
                                         u"実行イベント内でのロードはできません！"),
                    GetScriptLocationText(), "");
                break;
            }
            if (TheSaveManager.Load(slot, true, false, name)) {
                if (CommandHandler transition = GetCommandHandler(kTransitionCommandCode))
                    transition(interpreter);
                SaveJustLoaded = 1;
                TheSystemState.mainInterpreter.FinishList();
            }
            break;
        case 2:
            if (TheSaveManager.Load(slot, false, true, name)) SaveJustLoaded = 1;
            break;
        default:
            break;
    }
    return true;
}

bool CommandReadSaveData(Game_Interpreter& interpreter) {
    if (interpreter.currentCommand == nullptr) return true;
    std::int32_t slot = 0;
    std::string name;
    if (!ResolveSlot(interpreter, false, slot, name)) return true;
    const std::int32_t id = SaveVariableId(interpreter);
    const std::int32_t target = Argument(*interpreter.currentCommand, 1);
    if (IsIntegerVariableId(target)) {
        interpreter.WriteNumber(target, TheSaveManager.ReadSavedNumber(slot, id, name));
    } else {
        interpreter.WriteString(target, TheSaveManager.ReadSavedString(slot, id, name));
    }
    return true;
}

bool CommandWriteSaveData(Game_Interpreter& interpreter) {
    if (interpreter.currentCommand == nullptr) return true;
    std::int32_t slot = 0;
    std::string name;
    if (!ResolveSlot(interpreter, false, slot, name)) return true;
    const std::int32_t id = SaveVariableId(interpreter);
    const std::int32_t source = Argument(*interpreter.currentCommand, 1);
    if (IsIntegerVariableId(source)) {
        TheSaveManager.WriteSavedNumber(slot, id, interpreter.ResolveNumber(source), name);
    } else {
        TheSaveManager.WriteSavedString(slot, id, interpreter.ResolveString(source), name);
    }
    return true;
}

void InstallSaveCommands() {
    SetCommandHandler(kSaveLoadCommandCode, &CommandSaveLoad);
    SetCommandHandler(kReadSaveDataCommandCode, &CommandReadSaveData);
    SetCommandHandler(kWriteSaveDataCommandCode, &CommandWriteSaveData);
    // Values written by 222 wait in the cache: a report that asks for it writes them first.
    InstallSaveFlushing();
}
