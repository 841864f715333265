#include "runtime/script/FlowCommands.h"

#include <algorithm>
#include <climits>

#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/script/InterpreterOperations.h"
#include "runtime/shell/DebugWindow.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/StringUtil.h"

void (*ShutDownGameHook)() = nullptr;

namespace {

constexpr std::int32_t kLoopStartCode = 170;
constexpr std::int32_t kLoopCountCode = 179;
constexpr std::int32_t kCompiledLoopCountCode = 179000;
constexpr std::int32_t kLoopEndCode = 498;
constexpr std::int32_t kLabelCode = 212;
constexpr std::int32_t kBranchDone = -100;
// System variable 120 tells the game why it restarted; 2 is the return-to-title command.
constexpr std::int32_t kResetHistoryVariable = 9000120;

const Game_EventCommand& Current(Game_Interpreter& i) {
    return *i.currentCommand;
}

std::int32_t Arg(Game_Interpreter& i, std::size_t n) {
    return CommandArgument(Current(i), n);
}

std::int32_t& BranchState(Game_Interpreter& i) {
    return i.branchStates[std::min<std::size_t>(Current(i).indent, i.branchStates.size() - 1)];
}

std::int32_t ListSize(const Game_Interpreter& i) {
    return i.list ? static_cast<std::int32_t>(i.list->size()) : 0;
}

const Game_EventCommand& At(const Game_Interpreter& i, std::int32_t line) {
    return (*i.list)[static_cast<std::size_t>(line)];
}

bool IsLoopEnd(std::int32_t code) {
    return code == kLoopEndCode || (code >= 498000 && code <= 498999);
}

bool IsLabelLoopEnd(std::int32_t code) {
    return code == kLoopEndCode || code == 498000 || code == 498001;
}

void DropLoop(Game_Interpreter& i) {
    if (!i.loopIndents.empty()) i.loopIndents.pop_back();
    if (!i.loopCounts.empty()) i.loopCounts.pop_back();
}

void PushLoop(Game_Interpreter& i, std::int32_t indent, std::int32_t count) {
    i.loopIndents.push_back(indent);
    i.loopCounts.push_back(count);
}

// Moves the line back to the nearest earlier command with this indent; false when there is none
// (a list that is not well formed), leaving the line as it was.
bool BackToIndent(Game_Interpreter& i, std::int32_t indent) {
    if (!i.list) return false;
    for (std::int32_t line = std::min(i.line, ListSize(i)) - 1; line >= 0; --line) {
        if (At(i, line).indent == indent) {
            i.line = line;
            return true;
        }
    }
    return false;
}

std::string Expand(Game_Interpreter& i, const std::string& text) {
    return ExpandTextCodes(text, i.mapEventId, i.commonEventId, i.mapId, false, false, nullptr,
                           nullptr, false);
}

std::string ExpandForLabel(const std::string& text, void* context) {
    return Expand(*static_cast<Game_Interpreter*>(context), text);
}

void Report(const char16_t* message) {
    ReportRuntimeError(true, TranslateMessageUtf8(message), GetScriptLocationText(), "");
}

// ---- Conditions and branches ----

bool CommandConditionNumber(Game_Interpreter& i) {
    const Game_EventCommand& c = Current(i);
    const std::vector<std::int32_t>& j = c.jumpLines;
    if (j.size() >= 11 && j[0] != 0 && c.resolvedVariables.size() >= 2 * std::size_t(j[1])) {
        // Compiled: the operands are cells (or the argument itself for a literal) and the case
        // lines are known.
        BranchState(i) = kBranchDone;
        const std::int32_t n = std::clamp(j[1], 0, 4);
        for (std::int32_t k = 0; k < n; ++k) {
            const auto operand = [&](std::size_t r, std::size_t argument) {
                const ResolvedVariableCell& cell = c.resolvedVariables[r];
                return cell ? cell.Read() : CommandArgument(c, argument);
            };
            const std::int32_t left = operand(2 * k, 3 * k + 2);
            const std::int32_t right = operand(2 * k + 1, 3 * k + 3);
            if (EvaluateConditionOperator(j[2 + k], left, right)) {
                i.line = j[6 + k];
                return true;
            }
        }
        i.line = j[10];
        return true;
    }
    const std::int32_t n = Arg(i, 1) & 0xF;
    std::int32_t result = 0;
    for (std::int32_t k = 0; k < n; ++k) {
        const std::int32_t left = i.ResolveNumber(Arg(i, 3 * k + 2));
        const std::int32_t settings = Arg(i, 3 * k + 4);
        const std::int32_t stored = Arg(i, 3 * k + 3);
        const std::int32_t right = (settings & 0x10) ? stored : i.ResolveNumber(stored);
        if (EvaluateConditionOperator(settings & 0xF, left, right)) {
            result = k + 1;
            break;
        }
    }
    BranchState(i) = result;
    return true;
}

bool StringConditionHolds(std::int32_t op, const std::string& left, const std::string& right) {
    switch (op) {
        case 0:
            return left == right;
        case 1:
            return left != right;
        // Every text contains and starts with the empty text.
        case 2:
            return right.empty() || FindInCodedText(left, right, 0) >= 0;
        case 3:
            return right.empty() || FindInCodedText(left, right, 0) == 0;
        default:
            return false;
    }
}

bool CommandConditionString(Game_Interpreter& i) {
    const Game_EventCommand& c = Current(i);
    const std::int32_t n = Arg(i, 1) & 0xF;
    std::int32_t result = 0;
    for (std::int32_t k = 0; k < n; ++k) {
        const auto settings = static_cast<std::uint32_t>(Arg(i, 2 + k));
        const std::string left = i.ResolveString(static_cast<std::int32_t>(settings & 0xFFFFFF));
        std::string right;
        if ((settings >> 24) & 0xF) {
            right = Expand(i, i.ResolveString(Arg(i, 2 + n + k)));
        } else if (static_cast<std::size_t>(k) < c.strings.size()) {
            right = Expand(i, c.strings[static_cast<std::size_t>(k)]);
        } else {
            right = Expand(i, "");
        }
        if (StringConditionHolds(static_cast<std::int32_t>(settings >> 28), left, right)) {
            result = k + 1;
            break;
        }
    }
    BranchState(i) = result;
    return true;
}

bool CommandBranchCase(Game_Interpreter& i) {
    const std::vector<std::int32_t>& j = Current(i).jumpLines;
    if (j.size() >= 2 && j[0] == 2) {
        i.line = j[1] - 1;
        return true;
    }
    std::int32_t& state = BranchState(i);
    if (state == Arg(i, 1)) {
        state = kBranchDone;
    } else if (j.size() >= 2 && j[0] == 1) {
        i.line = j[1] - 1;
    } else {
        i.SkipToSameIndent();
    }
    return true;
}

bool CommandBranchElse(Game_Interpreter& i) {
    std::int32_t& state = BranchState(i);
    if (state == Arg(i, 1)) {
        state = kBranchDone;
    } else {
        i.SkipToSameIndent();
    }
    return true;
}

bool CommandBranchEnd(Game_Interpreter& i) {
    BranchState(i) = kBranchDone;
    return true;
}

// ---- Loops ----

bool CommandLoopStart(Game_Interpreter& i) {
    PushLoop(i, Current(i).indent, kEndlessLoopCount);
    return true;
}

bool CommandLoopCount(Game_Interpreter& i) {
    const std::int32_t n = i.ResolveNumber(Arg(i, 1));
    PushLoop(i, Current(i).indent, n == INT_MIN ? INT_MIN : n - 1);
    if (n <= 0) LeaveLoop(i);
    return true;
}

bool CommandLoopEnd(Game_Interpreter& i) {
    // Without an open loop (a list that is not well formed) there is nothing to repeat: the line
    // after the loop end runs next.
    if (i.loopCounts.empty()) return true;
    std::int32_t& count = i.loopCounts.back();
    if (count <= 0) {
        DropLoop(i);
        return true;
    }
    --count;
    if (!BackToIndent(i, Current(i).indent)) DropLoop(i);
    return true;
}

bool CommandBreak(Game_Interpreter& i) {
    LeaveLoop(i);
    return true;
}

bool CommandContinue(Game_Interpreter& i) {
    if (!i.loopCounts.empty() && i.loopCounts.back() <= 0) {
        LeaveLoop(i);
    } else {
        LoopBack(i);
    }
    return true;
}

// ---- Jumps ----

bool CommandJumpToLabel(Game_Interpreter& i) {
    const std::vector<std::int32_t>& j = Current(i).jumpLines;
    if (j.size() >= 3 && j[0] != 0) {
        const std::size_t pairs = static_cast<std::size_t>(std::max(j[2], 0));
        for (std::size_t k = 0; k < pairs && 4 + 2 * k < j.size(); ++k) {
            const std::int32_t indent = j[3 + 2 * k];
            const std::int32_t count = j[4 + 2 * k];
            if (indent == -1 && count == -1) {
                DropLoop(i);
            } else {
                PushLoop(i, indent, count);
            }
        }
        i.line = j[1];
        return true;
    }
    if (!i.list) return true;
    const std::vector<std::string>& strings = Current(i).strings;
    const std::string name = Expand(i, strings.empty() ? std::string() : strings[0]);
    const LabelSearchResult found = SearchLabel(*i.list, i.line, name, &ExpandForLabel, &i);
    if (!found.found) return true;
    ApplyLabelOperations(i, found.operations);
    i.line = found.line;
    return true;
}

// ---- Waits and the ends of a script ----

bool CommandWait(Game_Interpreter& i) {
    i.waitFrames = std::max(i.ResolveNumber(Arg(i, 1)), 0);
    return true;
}

bool CommandExitEvent(Game_Interpreter& i) {
    i.FinishList();
    return true;
}

bool CommandEraseEvent(Game_Interpreter& i) {
    InterpreterLinks& links = GetInterpreterLinks();
    const std::int32_t frames = std::max(i.ResolveNumber(Arg(i, 2)), 0);
    if (Arg(i, 1) < 0) {
        if (i.mapEventId == -1) {
            // Nothing to erase: a common event has no map event of its own. Reported, and the
            // script goes on in the next frame instead of trying again every frame.
            if (i.commonEventId >= 0) {
                Report(
                    u"【エラー】イベントの一時消去：コモンイベントを一時消去することはできません"
                    u"。");
            }
            ++i.line;
            return false;
        }
        const std::int32_t liveMap = links.mapId ? links.mapId() : -1;
        if (i.mapId != liveMap) {
            i.FinishList();
            return false;
        }
        const std::int32_t eventId = i.mapEventId;
        if (links.startTimedErase) links.startTimedErase(eventId, frames);
        i.FinishList();
        if (i.mainFlag && i.callDepth == 0) i.StartNext();
        return false;
    }
    const std::int32_t eventId = i.ResolveNumber(Arg(i, 1));
    if (links.event && links.event(eventId) && links.startTimedErase) {
        links.startTimedErase(eventId, frames);
    }
    ++i.line;
    return false;
}

bool CommandReturnToTitle(Game_Interpreter& i) {
    TheGameSystem.gameState = GameState::Restart;
    TheVariables.SetValue(kResetHistoryVariable, 2);
    i.FinishList();
    return true;
}

bool CommandEndGame(Game_Interpreter& i) {
    TheGameSystem.gameState = GameState::Quit;
    i.FinishList();
    if (ShutDownGameHook) ShutDownGameHook();
    return true;
}

// ---- Small switches ----

bool CommandCloseChoiceWindow(Game_Interpreter&) {
    TheGameSystem.closeChoiceRequest = 1;
    return true;
}

bool CommandCloseMessageWindow(Game_Interpreter&) {
    TheGameSystem.closeMessageRequest = 1;
    return true;
}

bool CommandClearDebugText(Game_Interpreter&) {
    if (DebugWindowOpen == 1) {
        DebugWindowText.clear();
        DebugWindowDirty = 1;
    }
    return true;
}

bool CommandFreezeScreen(Game_Interpreter&) {
    TheSystemState.liveDrawing = 0;
    GameSystemGraphics& graphics = GetGameSystemGraphics();
    if (graphics.copyDrawTargetToGraph) {
        graphics.copyDrawTargetToGraph(0, 0, ScreenWidth, ScreenHeight, TheGameSystem.captureGraph);
    }
    return true;
}

bool CommandUnfreezeScreen(Game_Interpreter&) {
    TheSystemState.liveDrawing = 1;
    return true;
}

bool CommandWaitAllMoveRoutes(Game_Interpreter& i) {
    i.waitingForAllRoutes = 1;
    return true;
}

bool CommandAutoMoveOn(Game_Interpreter&) {
    TheSystemState.moveDuringEvents = 1;
    return true;
}

bool CommandAutoMoveOff(Game_Interpreter&) {
    TheSystemState.moveDuringEvents = 0;
    return true;
}

}  // namespace

void LoopBack(Game_Interpreter& interpreter) {
    if (interpreter.loopIndents.empty()) return;
    if (!interpreter.loopCounts.empty()) --interpreter.loopCounts.back();
    if (!BackToIndent(interpreter, interpreter.loopIndents.back())) LeaveLoop(interpreter);
}

void LeaveLoop(Game_Interpreter& interpreter) {
    if (interpreter.loopIndents.empty() || !interpreter.list) return;
    const std::int32_t indent = interpreter.loopIndents.back();
    const std::int32_t last = ListSize(interpreter) - 2;
    for (std::int32_t line = std::max(interpreter.line + 1, 0); line <= last; ++line) {
        const Game_EventCommand& c = At(interpreter, line);
        if (IsLoopEnd(c.Code()) && c.indent == indent) {
            interpreter.line = line;
            DropLoop(interpreter);
            return;
        }
    }
}

LabelSearchResult SearchLabel(const Game_CommandList& list, std::int32_t current,
                              const std::string& name,
                              std::string (*expand)(const std::string&, void*), void* context) {
    enum class State { Before, After, LabelFirst, Done } state = State::Before;
    LabelSearchResult result;
    std::vector<std::int32_t> open;  // tags of the loops open at the line
    const auto isLabel = [&](const Game_EventCommand& c) {
        if (c.Code() != kLabelCode) return false;
        const std::string stored = c.strings.empty() ? std::string() : c.strings[0];
        return (expand ? expand(stored, context) : stored) == name;
    };
    const auto tagOf = [](const Game_EventCommand& c) -> std::int32_t {
        const std::int32_t code = c.Code();
        if (code == kLoopStartCode) return c.indent * 10 + 1;
        if (code == kLoopCountCode || code == kCompiledLoopCountCode) return c.indent * 10;
        return -1;
    };
    std::vector<std::int32_t>& ops = result.operations;
    for (std::int32_t line = 0;
         line < static_cast<std::int32_t>(list.size()) && state != State::Done; ++line) {
        const Game_EventCommand& c = list[static_cast<std::size_t>(line)];
        const std::int32_t tag = tagOf(c);
        const bool loopEnd = IsLabelLoopEnd(c.Code());
        switch (state) {
            case State::Before:
                if (line == current) {
                    state = State::After;
                } else if (isLabel(c)) {
                    result.line = line;
                    state = State::LabelFirst;
                } else if (tag >= 0) {
                    open.push_back(tag);
                } else if (loopEnd && !open.empty()) {
                    open.pop_back();
                }
                break;
            case State::After:
                if (isLabel(c)) {
                    result.line = line;
                    state = State::Done;
                } else if (tag >= 0) {
                    open.push_back(tag);
                    ops.push_back(tag);
                } else if (loopEnd) {
                    if (!open.empty()) open.pop_back();
                    ops.push_back(-1);
                }
                break;
            case State::LabelFirst:
                if (line == current) {
                    state = State::Done;
                } else if (tag >= 0) {
                    open.push_back(tag);
                    ops.insert(ops.begin(), -1);
                } else if (loopEnd && !open.empty()) {
                    ops.insert(ops.begin(), open.back());
                    open.pop_back();
                }
                break;
            case State::Done:
                break;
        }
    }
    // A label before the current line is found even when the current line lies past the end.
    result.found = state == State::Done || state == State::LabelFirst;
    if (!result.found) result.operations.clear();
    return result;
}

void ApplyLabelOperations(Game_Interpreter& interpreter,
                          const std::vector<std::int32_t>& operations) {
    for (std::int32_t op : operations) {
        if (op == -1) {
            DropLoop(interpreter);
        } else {
            PushLoop(interpreter, op / 10, op % 10 == 1 ? kEndlessLoopCount : 0);
        }
    }
}

void InstallFlowCommands() {
    SetCommandHandler(104, &CommandCloseChoiceWindow);
    SetCommandHandler(105, &CommandCloseMessageWindow);
    SetCommandHandler(107, &CommandClearDebugText);
    SetCommandHandler(111, &CommandConditionNumber);
    SetCommandHandler(112, &CommandConditionString);
    SetCommandHandler(170, &CommandLoopStart);
    SetCommandHandler(171, &CommandBreak);
    SetCommandHandler(172, &CommandExitEvent);
    SetCommandHandler(173, &CommandEraseEvent);
    SetCommandHandler(174, &CommandReturnToTitle);
    SetCommandHandler(175, &CommandEndGame);
    SetCommandHandler(176, &CommandContinue);
    SetCommandHandler(177, &CommandFreezeScreen);
    SetCommandHandler(178, &CommandUnfreezeScreen);
    SetCommandHandler(179, &CommandLoopCount);
    SetCommandHandler(180, &CommandWait);
    SetCommandHandler(202, &CommandWaitAllMoveRoutes);
    SetCommandHandler(213, &CommandJumpToLabel);
    SetCommandHandler(230, &CommandAutoMoveOn);
    SetCommandHandler(231, &CommandAutoMoveOff);
    SetCommandHandler(401, &CommandBranchCase);
    SetCommandHandler(420, &CommandBranchCase);
    SetCommandHandler(402, &CommandBranchElse);
    SetCommandHandler(421, &CommandBranchElse);
    SetCommandHandler(498, &CommandLoopEnd);
    SetCommandHandler(499, &CommandBranchEnd);
}
