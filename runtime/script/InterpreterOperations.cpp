#include "runtime/script/InterpreterOperations.h"

#include <algorithm>
#include <cmath>

#include "Source/Library/Main/DxInput.h"
#include "runtime/data/BasicData.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ShellGlobals.h"

namespace {

int LibraryTouchCount() {
    return ZiDaz::GetTouchPointCount();
}

int LibraryTouchPoint(int index, int* x, int* y, int* id, int* device, int* time) {
    return ZiDaz::GetTouchPoint(index, x, y, id, device, time);
}

TouchInput gTouch{&LibraryTouchCount, &LibraryTouchPoint};

constexpr double kPi = 3.1415926535;

// Tenths of a degree clockwise from the right (0 right, 900 down); 0 for a centred stick.
std::int32_t StickDirection(std::int32_t x, std::int32_t y) {
    if (x == 0 && y == 0) return 0;
    const auto t = static_cast<std::int32_t>(
        std::atan2(static_cast<double>(x), -static_cast<double>(y)) * 1800.0 / -kPi);
    return ((2700 - t) % 3600 + 3600) % 3600;
}

std::int32_t StickLength(std::int32_t x, std::int32_t y) {
    const double dx = x;
    const double dy = y;
    return static_cast<std::int32_t>(std::sqrt(dx * dx + dy * dy));
}

std::int32_t TriggerValue(std::int32_t value) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(value) * 1000 / 255);
}

// The hat's reading for a sub-kind; 0 when centred.
std::int32_t HatValue(std::int32_t subKind) {
    const std::int32_t a = TheInput.povRaw;
    if (a < 0 || a >= 36000) return 0;
    const bool upward = a <= 4500 || a >= 31500;
    const bool downward = a >= 13500 && a <= 22500;
    const bool leftward = a >= 22500 && a <= 31500;
    const bool rightward = a >= 4500 && a <= 13500;
    switch (subKind) {
        case 1:
            switch (TheInput.povDirection) {
                case 0:
                    return 8;
                case 9000:
                    return 6;
                case 18000:
                    return 2;
                case 27000:
                    return 4;
                default:
                    return 0;
            }
        case 2:
            switch (a) {
                case 0:
                    return 8;
                case 4500:
                    return 9;
                case 9000:
                    return 6;
                case 13500:
                    return 3;
                case 18000:
                    return 2;
                case 22500:
                    return 1;
                case 27000:
                    return 4;
                case 31500:
                    return 7;
                default:
                    return 0;
            }
        case 3:
            return upward ? 8 : 0;
        case 4:
            return downward ? 2 : 0;
        case 5:
            return leftward ? 4 : 0;
        case 6:
            return rightward ? 6 : 0;
        case 7:
            return downward ? 2 : upward ? 8 : 0;
        case 8:
            return leftward ? 4 : rightward ? 6 : 0;
        default:
            return 0;
    }
}

std::int32_t ButtonValue(std::int32_t settings, bool waiting) {
    const Game_Input& in = TheInput;
    // A held direction counts while waiting only when the direction repeat fires this frame: the
    // repeat forms then carry the held direction although it did not change.
    const bool repeatFired = in.dir8Changed == 0 && in.dir8Repeat != 0;
    for (std::int32_t b = 0; b < 3; ++b) {
        if ((settings & (0x10 << b)) == 0) continue;
        bool on = in.gameButton[b] != 0;
        if (waiting) {
            on = in.gameButtonPressed[b] != 0 || (b < 2 && in.buttonRepeat[b] == 1);
        }
        if (on) return 10 + b;
    }
    const auto direction = [&](std::uint8_t held, std::uint8_t pressed, std::int32_t value) {
        if (waiting) return pressed || (held && repeatFired) ? value : 0;
        return held ? value : 0;
    };
    switch (settings & 0xF) {
        case 1:
            return waiting ? in.dir4Repeat : in.dir4;
        case 2:
            return waiting ? in.dir8Repeat : in.dir8;
        case 3:
            return direction(in.up, in.upPressed, 8);
        case 4:
            return direction(in.down, in.downPressed, 2);
        case 5:
            return direction(in.left, in.leftPressed, 4);
        case 6:
            return direction(in.right, in.rightPressed, 6);
        case 7:
            return waiting ? in.verticalRepeat : in.vertical;
        case 8:
            return waiting ? in.horizontalRepeat : in.horizontal;
        default:
            return 0;
    }
}

std::int32_t MouseValue(std::int32_t settings, bool waiting) {
    const Game_Input& in = TheInput;
    switch (settings & 0xF) {
        case 0:
            // Bits 4, 5, 6 select left, right, middle; the records keep them in that order.
            for (std::int32_t b = 0; b < 3; ++b) {
                if ((settings & (0x10 << b)) == 0) continue;
                if ((waiting ? in.mousePressed[b] : in.mouseButton[b]) != 0) return 20 + b;
            }
            return 0;
        case 1:
            return in.mouseX;
        case 2:
            return in.mouseY;
        case 3:
            return in.wheel;
        default:
            return 0;
    }
}

std::int32_t StickValue(std::int32_t subKind) {
    const Game_Input& in = TheInput;
    switch (subKind) {
        case 1:
            return in.stickY;
        case 2:
            return in.stickX;
        case 3:
            return StickDirection(in.stickX, in.stickY);
        case 4:
            return StickLength(in.stickX, in.stickY);
        case 5:
            return in.stickRY;
        case 6:
            return in.stickRX;
        case 7:
            return StickDirection(in.stickRX, in.stickRY);
        case 8:
            return StickLength(in.stickRX, in.stickRY);
        case 9:
            return TriggerValue(in.leftTrigger);
        case 10:
            return TriggerValue(in.rightTrigger);
        case 11:
            return in.stickZ;
        default:
            return 0;
    }
}

std::int32_t TouchValue(Game_Interpreter& interpreter, const Game_EventCommand& command,
                        std::int32_t subKind) {
    const std::int32_t index = interpreter.ResolveNumber(CommandArgument(command, 3));
    const int count = gTouch.count ? gTouch.count() : 0;
    if (index < 0 || index >= count || !gTouch.point) return -1;
    int x = 0, y = 0, id = 0;
    if (gTouch.point(index, &x, &y, &id, nullptr, nullptr) == -1) return -1;
    const std::int32_t scale = std::max<std::int32_t>(1, WindowScale);
    switch (subKind) {
        case 1:
            return std::clamp(x / scale, 0, ScreenWidth / scale);
        case 2:
            return std::clamp(y / scale, 0, ScreenHeight / scale);
        case 3:
            return id < 0 ? (id == INT32_MIN ? INT32_MAX : -id) : id;
        default:
            return 0;
    }
}

}  // namespace

std::int32_t CommandArgument(const Game_EventCommand& command, std::size_t n) {
    return command.arguments.size() > n ? command.arguments[n] : 0;
}

std::string FormatNumberMessage(const char* format, std::int32_t value) {
    std::string text = format;
    const std::size_t at = text.find("%d");
    if (at != std::string::npos) text.replace(at, 2, std::to_string(value));
    return text;
}

TouchInput& GetTouchInput() {
    return gTouch;
}

void ResetTouchInput() {
    gTouch = TouchInput{&LibraryTouchCount, &LibraryTouchPoint};
}

void StartMessage(Game_Interpreter& interpreter, const std::string& text) {
    interpreter.waitingForWindow = 1;
    TheGameSystem.SetMessageWaiter(1, &interpreter);
    TheGameSystem.messageText = text;
}

bool StartChoices(Game_Interpreter& interpreter, const Game_EventCommand& command) {
    Game_System& s = TheGameSystem;
    const std::int32_t settings = CommandArgument(command, 1);
    s.closeChoiceRequest = 0;
    s.choiceCount = settings & 0xF;
    for (std::string& slot : s.choiceSlotTexts) slot.clear();
    s.choiceText.clear();
    bool allEmpty = true;
    for (std::size_t i = 0; i < command.strings.size(); ++i) {
        std::string text =
            ExpandTextCodes(command.strings[i], interpreter.mapEventId, interpreter.commonEventId,
                            interpreter.mapId, false, false, nullptr, nullptr, false);
        if (!text.empty()) allEmpty = false;
        s.choiceText += text;
        s.choiceText += '\n';
        if (i < s.choiceSlotTexts.size()) s.choiceSlotTexts[i] = std::move(text);
    }
    interpreter.waitingForWindow = 1;
    s.choiceCancelCase = ((settings >> 4) & 0xF) - 2;
    s.choiceFlags = (settings >> 8) & 0xF;
    s.SetChoiceWaiter(command.indent, &interpreter);
    if (allEmpty) {
        // Nothing to choose from: the choice is settled as cancelled without a window.
        s.closeChoiceRequest = 1;
        s.closeMessageRequest = 0;
        s.choiceText.clear();
        s.DeliverChoice(s.choiceCancelCase + 2);
        return false;
    }
    return true;
}

void EvaluateInput(Game_Interpreter& interpreter) {
    if (SaveJustLoaded || LineInputInUse == 1) return;
    const bool waiting = interpreter.waitingForInput != 0;
    const Game_EventCommand* command = interpreter.currentCommand;
    if (waiting && interpreter.list && interpreter.line >= 1 &&
        static_cast<std::size_t>(interpreter.line) <= interpreter.list->size()) {
        command = &(*interpreter.list)[static_cast<std::size_t>(interpreter.line - 1)];
    }
    if (!command) return;
    const std::int32_t settings = CommandArgument(*command, 2);
    const std::int32_t subKind = settings & 0xF;
    std::int32_t value = 0;
    switch (static_cast<KeyInputKind>((settings >> 8) & 0xF)) {
        case KeyInputKind::Buttons:
            value = ButtonValue(settings, waiting);
            break;
        case KeyInputKind::Keyboard:
            value =
                GetPressedKeyCode(false, waiting, &interpreter.keySnapshot, interpreter.inputCode);
            break;
        case KeyInputKind::Pad:
            value =
                GetPressedPadCode(false, waiting, &interpreter.padSnapshot, interpreter.inputCode);
            break;
        case KeyInputKind::Mouse:
            value = MouseValue(settings, waiting);
            break;
        case KeyInputKind::Sticks:
            value = StickValue(subKind);
            break;
        case KeyInputKind::Hat:
            value = HatValue(subKind);
            break;
        case KeyInputKind::Touch:
            value = TouchValue(interpreter, *command, subKind);
            break;
        default:
            break;
    }
    if (waiting) {
        if (value == 0) return;
        interpreter.waitingForInput = 0;
    }
    interpreter.WriteNumber(CommandArgument(*command, 1), value);
}

std::int32_t ClampCalculation(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, -2000000000, 2000000000));
}

std::int32_t ClampSixDigits(bool on, std::int32_t value) {
    return on ? std::clamp(value, -999999, 999999) : value;
}

std::int32_t ConvertTileNumber(std::int32_t number, std::int32_t direction) {
    if (TheBasicData.GameDataVersion() >= 230 && TheBasicData.IsUtf8() == 1) return number;
    // Wraps like the stored 32-bit numbers instead of overflowing.
    if (direction == 1) {
        return number >= 16 ? static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + 16u)
                            : number;
    }
    if (direction == -1) {
        if (number >= 16 && number <= 31) return -1;
        return number >= 32 ? number - 16 : number;
    }
    return number;
}

std::int32_t ComputeAutotilePartCode(const std::uint8_t c[9]) {
    const auto f = [](bool vertical, bool horizontal, bool diagonal) {
        if (vertical && horizontal) return diagonal ? 4 : 3;
        if (vertical) return 1;
        if (horizontal) return 2;
        return 0;
    };
    return f(c[1], c[3], c[0]) * 1000 + f(c[1], c[5], c[2]) * 100 + f(c[7], c[3], c[6]) * 10 +
           f(c[7], c[5], c[8]);
}
