#include "runtime/script/CompilePass.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "Source/Library/Main/Windows/DxWindow.h"
#include "runtime/data/CommonEvent.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/CallCommands.h"
#include "runtime/script/CompiledDatabase.h"
#include "runtime/script/FlowCommands.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/script/InterpreterOperations.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"

namespace {

void SetCaption(const std::string& text) {
    ZiDaz::SetWindowCaption(text.c_str());
}

}  // namespace

void (*CompilePassCaptionHook)(const std::string& text) = &SetCaption;

namespace {

// Source codes.
constexpr std::int32_t kComment = 103;
constexpr std::int32_t kDebugText = 106;
constexpr std::int32_t kClearDebugText = 107;
constexpr std::int32_t kConditionNumber = 111;
constexpr std::int32_t kSetVariable = 121;
constexpr std::int32_t kLoopStart = 170;
constexpr std::int32_t kBreak = 171;
constexpr std::int32_t kContinue = 176;
constexpr std::int32_t kLoopCount = 179;
constexpr std::int32_t kJumpToLabel = 213;
constexpr std::int32_t kDatabase = 250;
constexpr std::int32_t kBranchCase = 401;
constexpr std::int32_t kBranchCaseAlt = 420;
constexpr std::int32_t kLoopEnd = 498;
constexpr std::int32_t kBranchEnd = 499;

// Compiled codes.
constexpr std::int32_t kCommentRun = 103000;
constexpr std::int32_t kCompare = 111000;
constexpr std::int32_t kCompiledBreak = 171000;
constexpr std::int32_t kCompiledContinue = 176000;
constexpr std::int32_t kCompiledLoopCount = 179000;
constexpr std::int32_t kCalc3 = 210000;
constexpr std::int32_t kCompiledBranchCase = 420000;
constexpr std::int32_t kEndlessLoopEnd = 498000;
constexpr std::int32_t kCountedLoopEnd = 498001;

constexpr std::int32_t kBranchDone = -100;
// Ids from here on name cells of the variable or system database, which may be resized.
constexpr std::int32_t kDatabaseIdStart = 1100000000;
constexpr std::int32_t kLiteralLimit = 1000000;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string FirstString(const Game_EventCommand& c) {
    return c.strings.empty() ? std::string() : c.strings[0];
}

std::int32_t Arg(const Game_EventCommand& c, std::size_t n) {
    return n < c.arguments.size() ? c.arguments[n] : 0;
}

void SetCode(Game_EventCommand& c, std::int32_t code) {
    if (c.arguments.empty()) c.arguments.push_back(code);
    c.arguments[0] = code;
}

bool IsLoopEndCode(std::int32_t code) {
    return code == kLoopEnd || code == kEndlessLoopEnd || code == kCountedLoopEnd;
}

std::int32_t SourceCode(std::int32_t code) {
    if (code == kCommentRun) return kComment;
    if (code >= kCompare && code <= kCompare + 6) return kConditionNumber;
    if (code == kCompiledBreak) return kBreak;
    if (code == kCompiledContinue) return kContinue;
    if (code == kCompiledLoopCount) return kLoopCount;
    if (code >= kCalc3 && code <= kCalc3 + 41) return kSetVariable;
    if (code == kCompiledDatabaseWrite || code == kCompiledDatabaseRead) return kDatabase;
    if (code == kCompiledBranchCase) return kBranchCaseAlt;
    if (code == kEndlessLoopEnd || code == kCountedLoopEnd) return kLoopEnd;
    return code;
}

// The first line after `line` whose indent is `indent` (the list size when none), as the source
// handlers' skip finds it.
std::int32_t NextAtIndent(const Game_CommandList& list, std::int32_t line, std::uint8_t indent) {
    const auto size = static_cast<std::int32_t>(list.size());
    std::int32_t next = line + 1;
    while (next < size && list[static_cast<std::size_t>(next)].indent != indent) ++next;
    return next;
}

// ---- Pass A: comment runs ----

bool IsCommentLine(const Game_EventCommand& c) {
    const std::int32_t code = c.Code();
    if (code == kComment || code == kCommentRun) return true;
    if (TestPlay) return false;
    if (code == kClearDebugText) return true;
    return code == kDebugText && !StartsWith(FirstString(c), "MessageBox:");
}

void CompileCommentRuns(Game_CommandList& list) {
    const auto size = static_cast<std::int32_t>(list.size());
    for (std::int32_t line = 0; line < size;) {
        std::int32_t end = line;
        while (end < size && IsCommentLine(list[static_cast<std::size_t>(end)])) ++end;
        // A run needs two comments and a line after it.
        if (end - line >= 2 && end < size) {
            Game_EventCommand& first = list[static_cast<std::size_t>(line)];
            SetCode(first, kCommentRun);
            first.jumpLines = {end - 1};
        }
        line = std::max(end, line + 1);
    }
}

// ---- Passes B and C: loops ----

void CompileContinues(Game_CommandList& list) {
    std::vector<std::int32_t> starts{-1};
    for (std::int32_t line = 0; line < static_cast<std::int32_t>(list.size()); ++line) {
        Game_EventCommand& c = list[static_cast<std::size_t>(line)];
        const std::int32_t code = c.Code();
        if (code == kLoopStart || code == kLoopCount || code == kCompiledLoopCount) {
            starts.push_back(line);
        } else if (IsLoopEndCode(code)) {
            if (starts.size() > 1) starts.pop_back();
        } else if (code == kContinue && starts.back() != -1) {
            c.jumpLines = {starts.back(), 0};
            SetCode(c, kCompiledContinue);
        }
    }
}

void CompileLoopEnds(Game_CommandList& list) {
    std::vector<std::int32_t> ends{-1};
    const auto pop = [&] {
        const std::int32_t top = ends.back();
        if (ends.size() > 1) ends.pop_back();
        return top;
    };
    for (std::int32_t line = static_cast<std::int32_t>(list.size()) - 1; line >= 0; --line) {
        Game_EventCommand& c = list[static_cast<std::size_t>(line)];
        const std::int32_t code = c.Code();
        if (IsLoopEndCode(code)) {
            ends.push_back(line);
        } else if (code == kLoopStart) {
            const std::int32_t end = pop();
            if (end != -1) {
                Game_EventCommand& loopEnd = list[static_cast<std::size_t>(end)];
                loopEnd.jumpLines = {line};
                SetCode(loopEnd, kEndlessLoopEnd);
            }
        } else if (code == kLoopCount || code == kCompiledLoopCount) {
            // A literal count 0 skips the loop; without a loop end there is nothing to skip to,
            // and the command keeps its source form.
            if (Arg(c, 1) == 0 && ends.back() != -1) {
                c.jumpLines = {ends.back()};
                SetCode(c, kCompiledLoopCount);
            } else {
                c.jumpLines.clear();
                SetCode(c, kLoopCount);
            }
            const std::int32_t end = pop();
            if (end != -1) {
                Game_EventCommand& loopEnd = list[static_cast<std::size_t>(end)];
                loopEnd.jumpLines = {line};
                SetCode(loopEnd, kCountedLoopEnd);
            }
        } else if (code == kBreak && ends.back() != -1) {
            c.jumpLines = {ends.back()};
            SetCode(c, kCompiledBreak);
        } else if (code == kCompiledContinue) {
            if (ends.back() != -1 && c.jumpLines.size() == 2) {
                c.jumpLines[1] = ends.back();
            } else {
                c.jumpLines.clear();
                SetCode(c, kContinue);
            }
        }
    }
}

// ---- Pass D ----

void CompileCondition(Game_CommandList& list, std::int32_t line, std::int32_t commonEventIndex) {
    Game_EventCommand& c = list[static_cast<std::size_t>(line)];
    const std::int32_t n = Arg(c, 1) & 0xF;
    if (n > 4) return;
    std::vector<std::int32_t> j(12, 0);
    std::vector<ResolvedVariableCell> refs;
    j[1] = n;
    for (std::int32_t k = 0; k < n; ++k) {
        const std::int32_t left = Arg(c, 3 * k + 2);
        if (left >= kDatabaseIdStart) return;
        const VariableCellRef leftCell = ResolveVariableCell(TheVariables, left, commonEventIndex);
        if (!leftCell) return;
        refs.push_back(leftCell);
        const std::int32_t right = Arg(c, 3 * k + 3);
        const std::int32_t settings = Arg(c, 3 * k + 4);
        if ((settings & 0x10) || right < kLiteralLimit) {
            refs.emplace_back();
        } else {
            const VariableCellRef rightCell =
                ResolveVariableCell(TheVariables, right, commonEventIndex);
            if (!rightCell) return;
            refs.push_back(rightCell);
        }
        j[2 + k] = settings & 0xF;
    }
    // The cases of this branch, up to its end.
    const auto size = static_cast<std::int32_t>(list.size());
    std::vector<std::int32_t> cases;
    std::int32_t end = -1;
    std::int32_t elseOrEnd = -1;
    for (std::int32_t k = line + 1; k < size; ++k) {
        const Game_EventCommand& other = list[static_cast<std::size_t>(k)];
        if (other.indent < c.indent) break;  // not well formed: no end of the branch
        if (other.indent != c.indent) continue;
        const std::int32_t code = other.Code();
        if (code == kBranchCase || code == kBranchCaseAlt || code == kCompiledBranchCase) {
            cases.push_back(k);
            // Each case goes where its own condition's number says, so that a condition
            // without a case of its own never runs the body of another.
            const std::int32_t value = Arg(other, 1);
            if (code == kBranchCase && value >= 1 && value <= 4 && j[5 + value] == 0) {
                j[5 + value] = k;
            }
            if (code != kBranchCase && elseOrEnd < 0) elseOrEnd = k;
        } else if (code == kBranchEnd) {
            end = k;
            break;
        }
    }
    if (end < 0 || cases.size() >= 6) return;
    // A condition without a case of its own finds nothing to enter, as in the source form: the
    // branch is done and the line after its end runs next.
    for (std::int32_t k = 6; k < 10; ++k) {
        if (j[k] == 0) j[k] = end;
    }
    j[10] = elseOrEnd >= 0 ? elseOrEnd : end;
    j[0] = 1;
    for (std::int32_t caseLine : cases) {
        Game_EventCommand& caseCommand = list[static_cast<std::size_t>(caseLine)];
        caseCommand.jumpLines = {2, end};
        SetCode(caseCommand, SourceCode(caseCommand.Code()));
    }
    c.jumpLines = std::move(j);
    c.resolvedVariables = std::move(refs);
    if (n == 1) SetCode(c, kCompare + c.jumpLines[2]);
}

std::int32_t WrapAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::int32_t WrapSub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

void CompileSetVariable(Game_EventCommand& c, std::int32_t commonEventIndex) {
    const std::int32_t target = Arg(c, 1);
    const std::int32_t left = Arg(c, 2);
    const std::int32_t right = Arg(c, 3);
    const std::int32_t settings = Arg(c, 4);
    if (target == kDatabaseIdStart || (settings & 0xFF) || (settings & 0x10000)) return;
    if (!IsIntegerVariableId(left) || !IsIntegerVariableId(right)) return;
    if (left >= 1000000000 || right >= 1000000000) return;
    const VariableCellRef targetCell = ResolveVariableCell(TheVariables, target, commonEventIndex);
    if (!targetCell) return;
    std::vector<ResolvedVariableCell> refs{targetCell};
    for (std::int32_t operand : {left, right}) {
        if (operand < kLiteralLimit) {
            refs.emplace_back();
            continue;
        }
        const VariableCellRef cell = ResolveVariableCell(TheVariables, operand, commonEventIndex);
        if (!cell) return;
        refs.push_back(cell);
    }
    std::vector<std::int32_t> j(8, 0);
    j[1] = (settings >> 8) & 0xF;
    j[2] = (settings >> 12) & 0xF;
    j[0] = (j[2] == 0 || j[2] == 1) && right == 0 ? 2 : 1;
    const bool literals = left < kLiteralLimit && right < kLiteralLimit;
    if (j[1] < 4 && j[2] < 3) {
        SetCode(c, kCalc3 + 10 * j[1] + j[2]);
    } else if (j[1] == 4 && literals && j[2] == 0 && WrapAdd(left, right) != 0) {
        SetCode(c, kCalc3 + 40);
    } else if (j[1] == 4 && literals && j[2] == 1 && WrapSub(left, right) != 0) {
        SetCode(c, kCalc3 + 41);
    }
    c.jumpLines = std::move(j);
    c.resolvedVariables = std::move(refs);
}

void CompileJumpToLabel(Game_CommandList& list, std::int32_t line) {
    Game_EventCommand& c = list[static_cast<std::size_t>(line)];
    const std::string name = FirstString(c);
    // A label text with text codes is only known at run time.
    if (name.find('\\') != std::string::npos) return;
    const LabelSearchResult found = SearchLabel(list, line, name);
    if (!found.found) return;
    std::vector<std::int32_t> j{1, found.line, static_cast<std::int32_t>(found.operations.size())};
    for (std::int32_t op : found.operations) {
        if (op == -1) {
            j.insert(j.end(), {-1, -1});
        } else {
            j.insert(j.end(), {op / 10, op % 10 == 1 ? kEndlessLoopCount : 0});
        }
    }
    c.jumpLines = std::move(j);
}

void CompileCommands(Game_CommandList& list, std::int32_t commonEventIndex) {
    for (std::int32_t line = 0; line < static_cast<std::int32_t>(list.size()); ++line) {
        Game_EventCommand& c = list[static_cast<std::size_t>(line)];
        switch (c.Code()) {
            case kDebugText:
                if (!TestPlay && !StartsWith(FirstString(c), "MessageBox:")) SetCode(c, kComment);
                break;
            case kConditionNumber:
                CompileCondition(list, line, commonEventIndex);
                break;
            case kSetVariable:
                CompileSetVariable(c, commonEventIndex);
                break;
            case kJumpToLabel:
                CompileJumpToLabel(list, line);
                break;
            case kDatabase:
                CompileDatabaseCommand(c, commonEventIndex);
                break;
            case kBranchCase:
                if (c.jumpLines.empty()) c.jumpLines = {1, NextAtIndent(list, line, c.indent)};
                break;
            case kBranchCaseAlt:
                if (c.jumpLines.empty()) {
                    c.jumpLines = {1, NextAtIndent(list, line, c.indent)};
                    SetCode(c, kCompiledBranchCase);
                }
                break;
            default:
                break;
        }
    }
}

bool UsesValueWatch(const Game_CommonEventList& events) {
    for (const Game_CommonEvent& event : events.events) {
        for (const Game_EventCommand& c : event.commands.List()) {
            if (c.Code() == kDebugText && StartsWith(FirstString(c), "ValWatch:")) return true;
        }
    }
    return false;
}

// ---- Handlers of the compiled codes ----

const Game_EventCommand& Current(Game_Interpreter& i) {
    return *i.currentCommand;
}

std::int32_t& BranchState(Game_Interpreter& i) {
    return i.branchStates[std::min<std::size_t>(Current(i).indent, i.branchStates.size() - 1)];
}

// Jump line k, or -1 (which ends the list) when a damaged command has none.
std::int32_t Jump(const Game_EventCommand& c, std::size_t k) {
    return k < c.jumpLines.size() ? c.jumpLines[k] : -2;
}

void DropLoop(Game_Interpreter& i) {
    if (!i.loopIndents.empty()) i.loopIndents.pop_back();
    if (!i.loopCounts.empty()) i.loopCounts.pop_back();
}

bool RunCommentRun(Game_Interpreter& i) {
    i.line = Jump(Current(i), 0);
    return true;
}

template <int Op>
bool Holds(std::int32_t left, std::int32_t right) {
    if constexpr (Op == 0) return left > right;
    if constexpr (Op == 1) return left >= right;
    if constexpr (Op == 2) return left == right;
    if constexpr (Op == 3) return left <= right;
    if constexpr (Op == 4) return left < right;
    if constexpr (Op == 5) return left != right;
    if constexpr (Op == 6) return (left & right) == right;
    return false;
}

template <int Op>
bool RunCompare(Game_Interpreter& i) {
    const Game_EventCommand& c = Current(i);
    BranchState(i) = kBranchDone;
    if (c.resolvedVariables.size() < 2 || c.jumpLines.size() < 11) {
        i.line = -2;
        return true;
    }
    const std::int32_t left = c.resolvedVariables[0].Read();
    const ResolvedVariableCell& rightCell = c.resolvedVariables[1];
    const std::int32_t right = rightCell ? rightCell.Read() : Arg(c, 3);
    i.line = Holds<Op>(left, right) ? c.jumpLines[6] : c.jumpLines[10];
    return true;
}

bool RunBreak(Game_Interpreter& i) {
    i.line = Jump(Current(i), 0);
    DropLoop(i);
    return true;
}

bool RunContinue(Game_Interpreter& i) {
    // Without an open loop there is nothing to repeat or leave.
    if (i.loopCounts.empty()) return true;
    std::int32_t& count = i.loopCounts.back();
    if (count > 0) {
        --count;
        i.line = Jump(Current(i), 0);
    } else {
        i.line = Jump(Current(i), 1);
        DropLoop(i);
    }
    return true;
}

bool RunSkippedLoop(Game_Interpreter& i) {
    i.line = Jump(Current(i), 0);
    return true;
}

bool RunBranchCase(Game_Interpreter& i) {
    std::int32_t& state = BranchState(i);
    if (state == Arg(Current(i), 1)) {
        state = kBranchDone;
    } else {
        i.line = Jump(Current(i), 1) - 1;
    }
    return true;
}

bool RunEndlessLoopEnd(Game_Interpreter& i) {
    i.line = Jump(Current(i), 0);
    return true;
}

bool RunCountedLoopEnd(Game_Interpreter& i) {
    // Without an open loop the line after the loop end runs next.
    if (i.loopCounts.empty()) return true;
    std::int32_t& count = i.loopCounts.back();
    if (count > 0) {
        --count;
        i.line = Jump(Current(i), 0);
    } else {
        DropLoop(i);
    }
    return true;
}

template <int Calculation>
std::int32_t Calculate(std::int32_t l, std::int32_t r) {
    const auto ul = static_cast<std::uint32_t>(l);
    const auto ur = static_cast<std::uint32_t>(r);
    if constexpr (Calculation == 0) return static_cast<std::int32_t>(ul + ur);
    if constexpr (Calculation == 1) return static_cast<std::int32_t>(ul - ur);
    return static_cast<std::int32_t>(ul * ur);
}

template <int Assignment, int Calculation>
bool RunCalc3(Game_Interpreter& i) {
    const Game_EventCommand& c = Current(i);
    if (c.resolvedVariables.size() < 3) return true;
    std::int32_t* target = c.resolvedVariables[0].Get();
    if (!target) return true;
    const auto operand = [&](std::size_t k) {
        const ResolvedVariableCell& ref = c.resolvedVariables[k];
        return ref ? ref.Read() : Arg(c, k + 1);
    };
    const std::int32_t v = Calculate<Calculation>(operand(1), operand(2));
    const auto ut = static_cast<std::uint32_t>(*target);
    const auto uv = static_cast<std::uint32_t>(v);
    if constexpr (Assignment == 0) {
        *target = v;
    } else if constexpr (Assignment == 1) {
        *target = static_cast<std::int32_t>(ut + uv);
    } else if constexpr (Assignment == 2) {
        *target = static_cast<std::int32_t>(ut - uv);
    } else if constexpr (Assignment == 3) {
        *target = static_cast<std::int32_t>(ut * uv);
    } else {
        // The compile pass only writes this code for a divisor that is not 0; INT_MIN / -1
        // wraps to INT_MIN.
        if (v == 0) return true;
        *target = v == -1 ? static_cast<std::int32_t>(0u - ut) : *target / v;
    }
    return true;
}

template <int Assignment>
void InstallCalc3() {
    SetCommandHandler(kCalc3 + 10 * Assignment + 0, &RunCalc3<Assignment, 0>);
    SetCommandHandler(kCalc3 + 10 * Assignment + 1, &RunCalc3<Assignment, 1>);
    if constexpr (Assignment < 4) {
        SetCommandHandler(kCalc3 + 10 * Assignment + 2, &RunCalc3<Assignment, 2>);
    }
}

}  // namespace

void DecompileCommandList(Game_CommandList& list) {
    for (Game_EventCommand& c : list) {
        SetCode(c, SourceCode(c.Code()));
        c.jumpLines.clear();
        c.resolvedVariables.clear();
    }
}

void CompileCommandList(Game_CommandList& list, std::int32_t commonEventIndex) {
    DecompileCommandList(list);
    CompileCommentRuns(list);
    CompileContinues(list);
    CompileLoopEnds(list);
    CompileCommands(list, commonEventIndex);
}

void CompileCommonEvents() {
    RuntimeErrorServices& services = GetRuntimeErrorServices();
    if (TestPlay && UsesValueWatch(TheCommonEvents)) {
        // The variable watch reads variables through the general handlers only.
        for (Game_CommonEvent& event : TheCommonEvents.events) {
            Game_CommandList source = event.commands.List();
            DecompileCommandList(source);
            event.commands.Replace(std::move(source));
        }
        if (CompilePassCaptionHook) {
            CompilePassCaptionHook(TranslateMessageUtf8(
                u"* ValWatch機能が使われているためコモンイベント高速化「オフ」で起動します。"));
        }
        if (services.pumpMessages) services.pumpMessages();
        if (services.waitPumpingMessages) services.waitPumpingMessages(400);
        return;
    }
    for (std::size_t n = 0; n < TheCommonEvents.events.size(); ++n) {
        if (n % 40 == 0 && services.pumpMessages) services.pumpMessages();
        Game_CommonEvent& event = TheCommonEvents.events[n];
        Game_CommandList compiled = event.commands.List();
        CompileCommandList(compiled, static_cast<std::int32_t>(n));
        event.commands.Replace(std::move(compiled));
    }
}

void InstallCompiledCommands() {
    SetCommandHandler(kCommentRun, &RunCommentRun);
    SetCommandHandler(kCompare + 0, &RunCompare<0>);
    SetCommandHandler(kCompare + 1, &RunCompare<1>);
    SetCommandHandler(kCompare + 2, &RunCompare<2>);
    SetCommandHandler(kCompare + 3, &RunCompare<3>);
    SetCommandHandler(kCompare + 4, &RunCompare<4>);
    SetCommandHandler(kCompare + 5, &RunCompare<5>);
    SetCommandHandler(kCompare + 6, &RunCompare<6>);
    SetCommandHandler(kCompiledBreak, &RunBreak);
    SetCommandHandler(kCompiledContinue, &RunContinue);
    SetCommandHandler(kCompiledLoopCount, &RunSkippedLoop);
    SetCommandHandler(kCompiledBranchCase, &RunBranchCase);
    SetCommandHandler(kEndlessLoopEnd, &RunEndlessLoopEnd);
    SetCommandHandler(kCountedLoopEnd, &RunCountedLoopEnd);
    InstallCalc3<0>();
    InstallCalc3<1>();
    InstallCalc3<2>();
    InstallCalc3<3>();
    InstallCalc3<4>();
    InstallCompiledDatabaseCommands();
    CompileCommonEventsHook = &CompileCommonEvents;
}
