#include "runtime/script/MessageCommands.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Source/Library/Main/DuRadudAvuvur.h"
#include "Source/Library/Main/DxBaseImage.h"
#include "Source/Library/Main/DxFont.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_Database.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/script/InterpreterOperations.h"
#include "runtime/script/VariableCommands.h"
#include "runtime/shell/DebugWindow.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/ShellMessages.h"
#include "runtime/shell/StringUtil.h"
#include "runtime/shell/TextConversion.h"

namespace {

constexpr std::int32_t kChoicesCode = 102;

int LibrarySetDefaultFontType(int fontType) {
    return ZiDaz::SetDefaultFontType(fontType);
}

std::uint32_t LibraryComposeScreenColor(int red, int green, int blue) {
    return ZiDaz::ComposeScreenColor(red, green, blue);
}

int LibrarySetLineInputColors(const std::int64_t colours[17]) {
    return ZiDaz::SetLineInputColors(colours);
}

int LibraryDrawLineInput(int x, int y, int handle, int displayFlag) {
    return ZiDaz::DrawLineInput(x, y, handle, displayFlag);
}

int LibraryGetLineInputText(int handle, char* buffer, std::size_t size) {
    return ZiDaz::GetLineInputText(buffer, size, handle);
}

std::int32_t LibraryCheckLineInputState(std::int32_t handle) {
    return ZiDaz::CheckLineInputState(handle);
}

void LibraryDeleteLineInputHandle(std::int32_t handle) {
    ZiDaz::DeleteLineInputHandle(handle);
}

LineInputServices DefaultServices() {
    LineInputServices s{};
    s.setLineInputColors = &LibrarySetLineInputColors;
    s.drawLineInput = &LibraryDrawLineInput;
    s.getLineInputText = &LibraryGetLineInputText;
    s.setDefaultFontType = &LibrarySetDefaultFontType;
    s.composeScreenColor = &LibraryComposeScreenColor;
    return s;
}

LineInputServices gServices = DefaultServices();

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string Expand(Game_Interpreter& interpreter, const std::string& text) {
    return ExpandTextCodes(text, interpreter.mapEventId, interpreter.commonEventId,
                           interpreter.mapId, false, false, nullptr, nullptr, false);
}

std::int32_t SystemVariable(std::int32_t n) {
    return TheVariables.GetValue(9000000 + n);
}

bool WindowBusy() {
    return !TheGameSystem.messageText.empty() || !TheGameSystem.choiceText.empty();
}

// Appends a UTF-8 line in the game's code page to the debug window's text.
void AppendDebugText(const std::string& text) {
    DebugWindowText += ConvertUtf8ToCodePage(GameCodePageLocale(), text.c_str());
}

// A watch command's rest: "ON=" and a number start a watch, "OFF=" and a number (or a number
// alone) stop one. The number text is expanded first.
struct WatchRequest {
    bool start = false;
    std::int32_t id = 0;
};

WatchRequest ReadWatch(Game_Interpreter& interpreter, const std::string& rest) {
    WatchRequest request;
    std::string number = rest;
    if (StartsWith(rest, "ON=")) {
        request.start = true;
        number = rest.substr(3);
    } else if (StartsWith(rest, "OFF=")) {
        number = rest.substr(4);
    }
    request.id = LeadingNumber(Expand(interpreter, number));
    return request;
}

void WatchPicture(Game_Interpreter& interpreter, const std::string& rest) {
    const WatchRequest request = ReadWatch(interpreter, rest);
    std::string line;
    if (request.start) {
        DebugWatchedPictures.insert(request.id);
        line = FormatNumberMessage(TranslateMessageUtf8(u"# 開始 ﾋﾟｸﾁｬ番号監視 %d"), request.id);
    } else {
        DebugWatchedPictures.erase(request.id);
        line = FormatNumberMessage(TranslateMessageUtf8(u"# 終了 ﾋﾟｸﾁｬ番号監視 %d"), request.id);
    }
    if (DebugWindowOpen == 1) {
        AppendDebugText(line);
        DebugWindowText += "\r\n";
    }
    DebugWindowDirty = 1;
}

void WatchVariableId(Game_Interpreter& interpreter, const std::string& rest) {
    const WatchRequest request = ReadWatch(interpreter, rest);
    std::int32_t id = request.id;
    // Ids relative to the running script are watched as the absolute ids they stand for.
    if (id >= 1600000 && id <= 1699999) {
        id = 15000000 + 100 * interpreter.commonEventId + id % 100;
    } else if (id >= 1100000 && id <= 1199999) {
        if (interpreter.mapEventId == -1) {
            ReportRuntimeError(
                true,
                FormatNumberMessage(
                    TranslateMessageUtf8(u"マップEvのセルフ変数に格納しようとしましたが、"
                                         u"呼出元マップEvがありませんでした => %d"),
                    request.id),
                GetScriptLocationText(), "");
            return;
        }
        id = 1000000 + 10 * interpreter.mapEventId + id % 10;
    } else if (id >= 9190000 && id <= 9199999) {
        id = 9100000 + 10 * interpreter.mapEventId + id % 10;
    }
    std::string line;
    if (request.start) {
        DebugWatchedVariables.insert(id);
        line = FormatNumberMessage(TranslateMessageUtf8(u"# 開始 変数監視=> %d"), id);
    } else {
        DebugWatchedVariables.erase(id);
        line = FormatNumberMessage(TranslateMessageUtf8(u"# 停止 変数監視=> %d"), id);
    }
    if (DebugWindowOpen == 1) {
        AppendDebugText(line);
        DebugWindowText += "\r\n";
    }
    DebugWindowDirty = 1;
}

// One of seven button slots: the three buttons, then up, down, left and right.
std::uint8_t* Slot(std::uint8_t* buttons, std::uint8_t& up, std::uint8_t& down, std::uint8_t& left,
                   std::uint8_t& right, std::int32_t slot) {
    std::uint8_t* const slots[7] = {&buttons[0], &buttons[1], &buttons[2], &up,
                                    &down,       &left,       &right};
    return slots[slot];
}

// The game input's virtual press flags.
std::uint8_t* PressSlot(std::int32_t slot) {
    Game_Input& in = TheInput;
    return Slot(in.forceButton, in.forceUp, in.forceDown, in.forceLeft, in.forceRight, slot);
}

// The accept flags (read by the input update) and the movement-accept flags (read by the player).
std::uint8_t* AcceptSlot(std::int32_t slot) {
    Game_Input& in = TheInput;
    return Slot(in.buttonEnabled, in.upEnabled, in.downEnabled, in.leftEnabled, in.rightEnabled,
                slot);
}

std::uint8_t* MovementAcceptSlot(std::int32_t slot) {
    Game_Input& in = TheInput;
    return Slot(in.playerButtonEnabled, in.playerUpEnabled, in.playerDownEnabled,
                in.playerLeftEnabled, in.playerRightEnabled, slot);
}

// Bit of the command's settings for each button slot (bit 3 is not used).
constexpr std::int32_t kSlotBits[7] = {0x1, 0x2, 0x4, 0x80, 0x10, 0x20, 0x40};

std::size_t KeySlot(std::int32_t code) {
    return static_cast<std::size_t>(std::clamp<std::int64_t>(std::int64_t{code} - 100, 0, 255));
}

}  // namespace

LineInputServices& GetLineInputServices() {
    return gServices;
}

void ResetLineInputServices() {
    gServices = DefaultServices();
}

bool CommandMessage(Game_Interpreter& interpreter) {
    if (WindowBusy()) return false;
    Game_System& s = TheGameSystem;
    const Game_EventCommand& command = *interpreter.currentCommand;
    const std::string text = command.strings.empty() ? std::string() : command.strings[0];
    // The affixes are system strings 26 and 27; a store without system strings adds none.
    const std::string prefix = TheVariables.GetString(9900026);
    const std::string suffix = TheVariables.GetString(9900027);
    std::string shown =
        ExpandTextCodes(text, interpreter.mapEventId, interpreter.commonEventId, interpreter.mapId,
                        false, true, prefix == kVariableErrorText ? nullptr : &prefix,
                        suffix == kVariableErrorText ? nullptr : &suffix, true);
    // An empty message still opens the window.
    if (shown.empty()) shown = " ";
    StartMessage(interpreter, shown);
    s.lastMessageText = shown;
    s.secondMessageText.clear();
    s.messageOpeningDelay = SystemVariable(10);
    if (GameIniSettings.MainTextToClipboard >= 1 && GameIniSettings.ClipboardEnabled >= 1) {
        CopyTextToClipboard(StripTextCodes(shown));
    }
    s.closeMessageRequest = 0;
    // A choice right after the message is shown with it.
    const std::size_t next = static_cast<std::size_t>(interpreter.line) + 1;
    if (interpreter.list && interpreter.line >= 0 && next < interpreter.list->size() &&
        (*interpreter.list)[next].Code() == kChoicesCode) {
        interpreter.line = static_cast<std::int32_t>(next);
        interpreter.currentCommand = &(*interpreter.list)[next];
        s.choicePendingResult = 0;
        s.messageWithChoices = 1;
        s.closeMessageAfterChoice = 0;
        const Game_EventCommand choices = *interpreter.currentCommand;
        if (!StartChoices(interpreter, choices)) {
            s.messageWithChoices = 0;
            s.closeMessageAfterChoice = 0;
        }
    }
    return true;
}

bool CommandChoices(Game_Interpreter& interpreter) {
    if (WindowBusy()) return false;
    Game_System& s = TheGameSystem;
    s.choicePendingResult = 0;
    s.messageWithChoices = 0;
    s.closeMessageAfterChoice = 0;
    const Game_EventCommand choices = *interpreter.currentCommand;
    StartChoices(interpreter, choices);
    return true;
}

bool CommandDebugText(Game_Interpreter& interpreter) {
    const Game_EventCommand& command = *interpreter.currentCommand;
    const std::string text = command.strings.empty() ? std::string() : command.strings[0];
    if (StartsWith(text, "MessageBox:")) {
        const std::string shown = Expand(interpreter, text.substr(11));
        ShowShellMessageBox(ConvertUtf8ToWide(shown.c_str()), u"Message");
    } else if (StartsWith(text, "PictureWatch:")) {
        WatchPicture(interpreter, text.substr(13));
        return true;
    } else if (StartsWith(text, "ValWatch:")) {
        WatchVariableId(interpreter, text.substr(9));
        return true;
    }
    if (DebugWindowOpen != 1) return true;
    const std::string expanded = ReplaceAllText(Expand(interpreter, text), "\n", "\r\n");
    AppendDebugText(StripTextCodes(expanded));
    std::string location = " -->[";
    if (interpreter.mapEventId != -1) {
        location += "MapEv" + std::to_string(interpreter.mapEventId) + "/";
    }
    if (interpreter.commonEventId != -1) {
        location += FormatNumberMessage(TranslateMessageUtf8(u"ｺﾓﾝ%d/"), interpreter.commonEventId);
    }
    location += FormatNumberMessage(TranslateMessageUtf8(u"%d行]"), interpreter.line);
    AppendDebugText(location);
    DebugWindowText += "\r\n";
    DebugWindowDirty = 1;
    return true;
}

bool CommandAutoInput(Game_Interpreter& interpreter) {
    const Game_EventCommand& command = *interpreter.currentCommand;
    const std::int32_t settings = CommandArgument(command, 1);
    Game_Input& in = TheInput;
    in.virtualInputGiven = 1;
    switch (static_cast<std::uint32_t>(settings) >> 28) {
        case 0:
            for (std::int32_t slot = 0; slot < 7; ++slot) {
                if (settings & kSlotBits[slot]) *PressSlot(slot) = 1;
            }
            break;
        case 1:
            in.forceKeys[KeySlot(interpreter.ResolveNumber(CommandArgument(command, 2)))] = 1;
            break;
        case 2:
            // The virtual mouse flags are kept as left, middle, right.
            if (settings & 0x1) in.forceMouse[0] = 1;
            if (settings & 0x2) in.forceMouse[2] = 1;
            if (settings & 0x4) in.forceMouse[1] = 1;
            if (settings & 0x8) {
                in.forceMouseX = interpreter.ResolveNumber(CommandArgument(command, 2));
                in.forceMouseY = interpreter.ResolveNumber(CommandArgument(command, 3));
            }
            if (settings & 0x10) {
                in.forceWheel = 1;
                in.forceWheelValue = interpreter.ResolveNumber(CommandArgument(command, 2));
            }
            break;
        default:
            break;
    }
    return true;
}

bool CommandInputEnable(Game_Interpreter& interpreter) {
    const Game_EventCommand& command = *interpreter.currentCommand;
    const std::int32_t settings = CommandArgument(command, 1);
    Game_Input& in = TheInput;
    switch (static_cast<std::uint32_t>(settings) >> 28) {
        case 0:
            for (std::int32_t slot = 0; slot < 7; ++slot) {
                if ((settings & kSlotBits[slot]) == 0) continue;
                *AcceptSlot(slot) = (settings & 0x200) == 0;
                *MovementAcceptSlot(slot) = (settings & 0x300) == 0;
            }
            break;
        case 1: {
            const std::uint8_t value = (settings & 0x100) == 0;
            const auto allKeys = [&] {
                std::fill(std::begin(in.keyEnabled), std::end(in.keyEnabled), value);
            };
            switch (settings & 0xF) {
                case 0:
                    // -1 as stored means every key; a variable holding -1 names one key.
                    if (CommandArgument(command, 2) == -1) {
                        allKeys();
                    } else {
                        in.keyEnabled[KeySlot(
                            interpreter.ResolveNumber(CommandArgument(command, 2)))] = value;
                    }
                    break;
                case 1:
                    in.mouseEnabled = value;
                    break;
                case 2:
                    in.padEnabled = value;
                    break;
                case 3:
                    allKeys();
                    in.mouseEnabled = value;
                    in.padEnabled = value;
                    break;
                default:
                    break;
            }
            break;
        }
        default:
            break;
    }
    return true;
}

void DrawStringInputBox(Game_Interpreter& interpreter) {
    const Game_Interpreter* deepest = &interpreter;
    while (!deepest->children.empty()) deepest = &deepest->children.front();
    if (deepest->lineInputHandle == 0) return;
    LineInputServices& services = gServices;
    std::int64_t colours[17];
    // Reading the colours is no command of the script: a missing entry must not be reported
    // against the command that happens to run next.
    const std::int32_t accessFailed = DatabaseAccessFailed;
    constexpr std::int32_t kColourEntries[7] = {10, 10, 11, 10, 12, 10, 12};
    for (std::size_t i = 0; i < 7; ++i) {
        std::int32_t rgb[3];
        for (std::int32_t field = 0; field < 3; ++field) {
            rgb[field] = std::max(0, TheSystemDatabase.ReadNumber(12, kColourEntries[i], field));
        }
        colours[i] =
            services.composeScreenColor ? services.composeScreenColor(rgb[0], rgb[1], rgb[2]) : 0;
    }
    DatabaseAccessFailed = accessFailed;
    for (std::size_t i = 7; i < 10; ++i) colours[i] = 0;
    for (std::size_t i = 10; i < 17; ++i) colours[i] = -1;
    if (services.setLineInputColors) services.setLineInputColors(colours);
    if (services.setDefaultFontType) {
        switch (SystemVariable(42)) {
            case 0:
                services.setDefaultFontType(ZiDaz::DX_FONTTYPE_NORMAL);
                break;
            case 1:
                services.setDefaultFontType(ZiDaz::DX_FONTTYPE_ANTIALIASING_8X8);
                break;
            case 2:
                services.setDefaultFontType(ZiDaz::DX_FONTTYPE_EDGE);
                break;
            case 3:
                services.setDefaultFontType(ZiDaz::DX_FONTTYPE_ANTIALIASING_EDGE_8X8);
                break;
            default:
                break;
        }
    }
    if (services.drawLineInput) {
        const std::int32_t scale = std::max<std::int32_t>(1, WindowScale);
        services.drawLineInput(SystemVariable(40) * scale, SystemVariable(41) * scale,
                               deepest->lineInputHandle, 1);
    }
}

std::string ReadLineInputText(std::int32_t handle) {
    if (!gServices.getLineInputText) return {};
    std::vector<char> buffer(kStringInputBufferSize, '\0');
    if (gServices.getLineInputText(handle, buffer.data(), buffer.size()) != 0) return {};
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

void InstallMessageCommands() {
    SetCommandHandler(101, &CommandMessage);
    SetCommandHandler(102, &CommandChoices);
    SetCommandHandler(106, &CommandDebugText);
    SetCommandHandler(125, &CommandAutoInput);
    SetCommandHandler(126, &CommandInputEnable);
    InterpreterLinks& links = GetInterpreterLinks();
    links.drawStringInput = &DrawStringInputBox;
    links.getLineInputText = &ReadLineInputText;
    links.checkLineInputState = &LibraryCheckLineInputState;
    links.deleteLineInputHandle = &LibraryDeleteLineInputHandle;
}
