#include "runtime/script/VariableCommands.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>

#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/script/InterpreterOperations.h"
#include "runtime/shell/GameRandom.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/StringUtil.h"

namespace {

using namespace set_variable;

constexpr double kPi = 3.1415926535;

// 32-bit arithmetic that wraps instead of overflowing.
std::int32_t Wrap(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

// Division and remainder; a zero divisor is taken by the caller. INT_MIN / -1 does not fit (and
// traps on the processor): it gives INT_MIN, and its remainder 0.
std::int32_t Divide(std::int32_t a, std::int32_t b) {
    if (b == -1) return Wrap(-static_cast<std::int64_t>(a));
    return a / b;
}
std::int32_t Remainder(std::int32_t a, std::int32_t b) {
    if (b == -1) return 0;
    return a % b;
}

std::int32_t Absolute(std::int32_t v) {
    return v == INT32_MIN ? INT32_MAX : std::abs(v);
}

// A double cut toward zero to a 64-bit integer, held to that range.
std::int64_t Truncate(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.2e18) return INT64_MAX;
    if (v <= -9.2e18) return INT64_MIN;
    return static_cast<std::int64_t>(v);
}

std::int32_t Sine(double v) {
    return static_cast<std::int32_t>(Truncate(std::sin(v * kPi / 1800.0) * 1000.0));
}
std::int32_t Cosine(double v) {
    return static_cast<std::int32_t>(Truncate(std::cos(v * kPi / 1800.0) * 1000.0));
}

// The direction of (l, r) in tenths of a degree, the truncation before adding the full turn.
std::int32_t Direction(std::int32_t l, std::int32_t r) {
    const auto t = static_cast<std::int32_t>(Truncate(std::atan2(r, l) / kPi * 1800.0));
    return (3600 + t) % 3600;
}
// The prepared form adds the full turn before truncating.
std::int32_t PreparedDirection(std::int32_t l, std::int32_t r) {
    return static_cast<std::int32_t>(Truncate(std::atan2(r, l) / kPi * 1800.0 + 3600.0)) % 3600;
}

// The random number between l and r inclusive.
std::int32_t RandomBetween(std::int32_t l, std::int32_t r) {
    const auto difference =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(l) - static_cast<std::uint32_t>(r));
    const std::uint32_t magnitude = difference < 0 ? 0u - static_cast<std::uint32_t>(difference)
                                                   : static_cast<std::uint32_t>(difference);
    const std::uint32_t span = magnitude + 1u;
    const std::uint32_t draw = GameRandom(0, 0);
    // The span of the whole 32-bit range wraps to 0: every draw lies in it.
    const std::uint32_t offset = span == 0 ? draw : draw % span;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(std::min(l, r)) + offset);
}

// An operand: the value of an integer id (literals included), or the number a text starts with.
std::int32_t ReadOperand(Game_Interpreter& interpreter, std::int32_t id) {
    if (IsIntegerVariableId(id)) return interpreter.ResolveNumber(id);
    return LeadingNumber(interpreter.ResolveString(id));
}

std::int32_t Calculate(std::int32_t op, std::int32_t l, std::int32_t r) {
    switch (op) {
        case 0:
            return ClampCalculation(static_cast<std::int64_t>(l) + r);
        case 1:
            return ClampCalculation(static_cast<std::int64_t>(l) - r);
        case 2:
            return ClampCalculation(static_cast<std::int64_t>(l) * r);
        case 3:
            return Divide(l, r == 0 ? 1 : r);
        case 4:
            return Remainder(l, r == 0 ? 1 : r);
        case 5:
            return l & r;
        case 6:
            return RandomBetween(l, r);
        default:
            return 0;
    }
}

std::int32_t Assign(std::int32_t op, std::int32_t d, std::int32_t v, std::int32_t l,
                    std::int32_t r) {
    switch (op) {
        case 0:
            return v;
        case 1:
            return ClampCalculation(static_cast<std::int64_t>(d) + v);
        case 2:
            return ClampCalculation(static_cast<std::int64_t>(d) - v);
        case 3:
            return ClampCalculation(static_cast<std::int64_t>(d) * v);
        case 4:
            return Divide(d, v == 0 ? 1 : v);
        case 5:
            return Remainder(d, v == 0 ? 1 : v);
        case 6:
            return std::max(d, v);
        case 7:
            return std::min(d, v);
        case 8:
            return Absolute(v);
        case 9:
            return Direction(l, r);
        case 10:
            return Sine(v);
        default:
            return Cosine(v);
    }
}

double CalculateReal(std::int32_t op, std::int32_t l, std::int32_t r) {
    switch (op) {
        case 0:
            return static_cast<double>(l) + r;
        case 1:
            return static_cast<double>(l) - r;
        case 2:
            return ClampCalculation(static_cast<std::int64_t>(l) * r);
        case 3:
            return static_cast<double>(l) / (r == 0 ? 1 : r);
        case 4:
            return Remainder(l, r == 0 ? 1 : r);
        case 5:
            return l & r;
        default:
            return 0.0;
    }
}

std::int32_t AssignReal(std::int32_t op, std::int32_t d, double v, std::int32_t l, std::int32_t r) {
    double result = 0.0;
    switch (op) {
        case 0:
            result = v;
            break;
        case 1:
            result = d + v;
            break;
        case 2:
            result = d - v;
            break;
        case 3:
            result = d * v;
            break;
        case 4:
            result = d / (v == 0.0 ? 1.0 : v);
            break;
        case 5: {
            const auto divisor = static_cast<std::int32_t>(
                std::clamp<std::int64_t>(Truncate(v), INT32_MIN, INT32_MAX));
            result = Remainder(d, divisor == 0 ? 1 : divisor);
            break;
        }
        case 6:
            result = std::max<double>(d, v);
            break;
        case 7:
            result = std::min<double>(d, v);
            break;
        case 8:
            result = std::fabs(v);
            break;
        case 9:
            return Direction(l, r);
        case 10:
            result = std::sin(v * kPi / 1800.0) * 1000.0;
            break;
        default:
            result = std::cos(v * kPi / 1800.0) * 1000.0;
            break;
    }
    return ClampCalculation(Truncate(result));
}

void ReportText(const char16_t* first, const char16_t* second) {
    ReportRuntimeError(true, TranslateMessageUtf8(first), TranslateMessageUtf8(second),
                       GetScriptLocationText());
}

void ReportValue(const char16_t* format, std::int32_t value) {
    ReportRuntimeError(true, FormatNumberMessage(TranslateMessageUtf8(format), value),
                       GetScriptLocationText(), "");
}

// The text form: the destination names a text.
void AssignText(Game_Interpreter& interpreter, const Game_EventCommand& command,
                std::int32_t destination) {
    const std::int32_t settings = CommandArgument(command, 4);
    const std::int32_t assignment = (settings >> kAssignmentShift) & 0xF;
    const std::int32_t calculation = (settings >> kCalculationShift) & 0xF;
    const std::string prefix = assignment == 1 ? interpreter.ResolveString(destination) : "";
    std::int32_t a = CommandArgument(command, 2);
    std::int32_t b = CommandArgument(command, 3);
    if (settings & kIndirectLeft) a = interpreter.ResolveNumber(a);
    if (settings & kIndirectRight) b = interpreter.ResolveNumber(b);
    std::string body;
    if (a != 0) {
        if (IsIntegerVariableId(a) || (settings & kLeftLiteral)) {
            ReportText(u"エラー：[変数操作] 格納先の内容が文字列なのに数値を格納しようとしました",
                       u"格納したい場合は、「右辺の左」にだけ、数値を格納して下さい");
            return;
        }
        body = interpreter.ResolveString(a);
        if (body == kVariableErrorText) body.clear();
    }
    if (calculation == 0 && b != 0) {
        const std::string right = interpreter.ResolveString(b);
        if (right != kVariableErrorText) body += right;
    }
    body = ExpandTextCodes(body, interpreter.mapEventId, interpreter.commonEventId,
                           interpreter.mapId, false, false, nullptr, nullptr, false);
    interpreter.WriteString(destination, prefix + body);
}

// One iteration of the integer form; false when an error ends the command.
bool AssignNumber(Game_Interpreter& interpreter, const Game_EventCommand& command, std::int32_t d0,
                  std::int32_t d) {
    const std::int32_t settings = CommandArgument(command, 4);
    std::int32_t current = interpreter.ResolveNumber(d0);
    std::int32_t l = CommandArgument(command, 2);
    std::int32_t r = CommandArgument(command, 3);
    if (!(settings & kLeftLiteral)) l = ReadOperand(interpreter, l);
    if (!(settings & kRightLiteral)) r = ReadOperand(interpreter, r);
    if (settings & kIndirectLeft) {
        if (l < 1000000) {
            ReportValue(u"変数操作エラー：右辺１に999999以下の場所を読み込もうとしました > %d", l);
            return false;
        }
        l = ReadOperand(interpreter, l);
    }
    if (settings & kIndirectRight) {
        if (r < 1000000) {
            ReportValue(u"変数操作エラー：右辺２に999999以下の場所を読み込もうとしました > %d", r);
            return false;
        }
        r = ReadOperand(interpreter, r);
    }
    std::int32_t target = d0;
    if (settings & kIndirectDestination) {
        if (d < 1000000) {
            ReportValue(u"変数操作エラーD：999999以下の場所に格納しようとしました > %d", d);
            return false;
        }
        target = d;
        current = interpreter.ResolveNumber(d);
    }
    if (GetInterpreterLinks().requestRefresh) GetInterpreterLinks().requestRefresh();
    const std::int32_t assignment = (settings >> kAssignmentShift) & 0xF;
    const std::int32_t calculation = (settings >> kCalculationShift) & 0xF;
    if (assignment >= 12) return true;
    std::int32_t result = 0;
    if (settings & kRealNumber) {
        result = AssignReal(assignment, current, CalculateReal(calculation, l, r), l, r);
    } else {
        result = Assign(assignment, current, Calculate(calculation, l, r), l, r);
    }
    if (assignment != 9) result = ClampSixDigits((settings & kSixDigits) != 0, result);
    interpreter.WriteNumber(target, result);
    return true;
}

// The prepared form: the compile pass resolved the cells; an empty reference is a literal operand.
void RunPrepared(const Game_EventCommand& command) {
    const auto cell = [&](std::size_t k) {
        return command.resolvedVariables.size() > k ? command.resolvedVariables[k]
                                                    : VariableCellRef{};
    };
    const VariableCellRef destination = cell(0);
    if (!destination) return;
    const auto operand = [&](std::size_t k) {
        const VariableCellRef ref = cell(k);
        return ref ? ref.Read() : CommandArgument(command, k + 1);
    };
    const std::int32_t form = command.jumpLines[0];
    const std::int32_t assignment = command.jumpLines.size() > 1 ? command.jumpLines[1] : 0;
    const std::int32_t calculation = command.jumpLines.size() > 2 ? command.jumpLines[2] : 0;
    const std::int32_t l = operand(1);
    const std::int32_t d = destination.Read();
    std::int32_t v = l;
    std::int32_t r = 0;
    if (form == 1) {
        r = operand(2);
        switch (calculation) {
            case 0:
                v = Wrap(static_cast<std::int64_t>(l) + r);
                break;
            case 1:
                v = Wrap(static_cast<std::int64_t>(l) - r);
                break;
            case 2:
                v = Wrap(static_cast<std::int64_t>(l) * r);
                break;
            case 3:
                v = r == 0 ? l : Divide(l, r);
                break;
            case 4:
                v = r == 0 ? 0 : Remainder(l, r);
                break;
            case 5:
                v = l & r;
                break;
            case 6:
                v = RandomBetween(l, r);
                break;
            default:
                v = 0;
                break;
        }
    }
    std::int32_t result = 0;
    switch (assignment) {
        case 0:
            result = v;
            break;
        case 1:
            result = Wrap(static_cast<std::int64_t>(d) + v);
            break;
        case 2:
            result = Wrap(static_cast<std::int64_t>(d) - v);
            break;
        case 3:
            result = Wrap(static_cast<std::int64_t>(d) * v);
            break;
        case 4:
            if (v == 0) return;
            result = Divide(d, v);
            break;
        case 5:
            result = v == 0 ? 0 : Remainder(d, v);
            break;
        case 6:
            result = std::max(d, v);
            break;
        case 7:
            result = std::min(d, v);
            break;
        case 8:
            result = Wrap(std::abs(static_cast<std::int64_t>(v)));
            break;
        case 9:
            if (form == 1) {
                result = PreparedDirection(l, r);
            } else {
                result = v >= 0 ? 0 : 1800;
            }
            break;
        case 10:
            result = Sine(v);
            break;
        case 11:
            result = Cosine(v);
            break;
        default:
            return;
    }
    destination.Write(result);
}

}  // namespace

std::int32_t LeadingNumber(const std::string& text) {
    return ReadLeadingInt32(text);
}

bool CommandSetVariable(Game_Interpreter& interpreter) {
    const Game_EventCommand& command = *interpreter.currentCommand;
    if (!command.jumpLines.empty() && (command.jumpLines[0] == 1 || command.jumpLines[0] == 2)) {
        RunPrepared(command);
        return true;
    }
    const std::int32_t settings = CommandArgument(command, 4);
    const std::int32_t first = CommandArgument(command, 1);
    std::int64_t last = 0;
    if ((settings & kRange) && CommandArgument(command, 5) >= 0) last = CommandArgument(command, 5);
    for (std::int64_t i = 0; i <= last; ++i) {
        std::int32_t d0 = Wrap(first + i);
        if (first == kVariableDatabaseDestination) {
            d0 = Wrap(static_cast<std::int64_t>(kVariableDatabaseDestination) +
                      1000000LL * interpreter.ResolveNumber(CommandArgument(command, 5)) +
                      100LL * interpreter.ResolveNumber(CommandArgument(command, 6)) +
                      interpreter.ResolveNumber(CommandArgument(command, 7)));
        }
        const std::int32_t d =
            (settings & kIndirectDestination) ? interpreter.ResolveNumber(d0) : d0;
        if (!IsIntegerVariableId(d)) {
            // Text destinations take no range: inside one they are skipped.
            if (last != 0) continue;
            AssignText(interpreter, command, d);
            return true;
        }
        if (!AssignNumber(interpreter, command, d0, d)) return true;
    }
    return true;
}

bool CommandKeyInput(Game_Interpreter& interpreter) {
    const Game_EventCommand& command = *interpreter.currentCommand;
    const std::int32_t settings = CommandArgument(command, 2);
    interpreter.inputCode = 0;
    if ((settings & 0x1000) && command.arguments.size() > 3) {
        interpreter.inputCode = interpreter.ResolveNumber(command.arguments[3]);
    }
    if (settings & 0x80) {
        interpreter.waitingForInput = 1;
        // Brings the snapshot to the state the readers' reset form leaves; the value is read
        // while the interpreter waits.
        switch (static_cast<KeyInputKind>((settings >> 8) & 0xF)) {
            case KeyInputKind::Keyboard:
                GetPressedKeyCode(true, false, &interpreter.keySnapshot, -1);
                break;
            case KeyInputKind::Pad:
                GetPressedPadCode(true, false, &interpreter.padSnapshot, -1);
                break;
            default:
                break;
        }
        return true;
    }
    EvaluateInput(interpreter);
    return true;
}

void InstallVariableCommands() {
    SetCommandHandler(121, &CommandSetVariable);
    SetCommandHandler(123, &CommandKeyInput);
    GetInterpreterLinks().evaluateInput = &EvaluateInput;
}
