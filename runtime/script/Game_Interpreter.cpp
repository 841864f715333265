#include "runtime/script/Game_Interpreter.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>
#include <utility>
#include <vector>

#include "runtime/data/BasicData.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_Database.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/DebugWindow.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/TextConversion.h"

Game_Interpreter* RunningInterpreter = nullptr;
std::int32_t CurrentMapEventId = -1;
std::int32_t CurrentCommonEventId = -1;
std::int32_t CurrentScriptLine = 0;
std::int32_t CommandStepCounter = 0;
std::int32_t MainInterpreterResetRequest = 0;
std::uint8_t StringInputActive = 0;
std::int32_t LineInputInUse = 0;

namespace {

// ---- The code table ----

struct TableEntry {
    CommandResultKind kind = CommandResultKind::Unknown;
    CommandHandler handler = nullptr;
};

// Codes -1..kDirectCodes-2 sit in an array, and so do the compiled codes (thousands 100..499,
// remainders 0..127), which run in tight loops; the few others in a map.
constexpr std::int32_t kDirectCodes = 1004;
constexpr std::int32_t kCompiledFirst = 100000;
constexpr std::int32_t kCompiledEnd = 500000;
constexpr std::int32_t kCompiledRemainders = 128;

struct CodeTable {
    std::array<TableEntry, kDirectCodes> direct{};
    std::vector<TableEntry> compiled = std::vector<TableEntry>(
        static_cast<std::size_t>((kCompiledEnd - kCompiledFirst) / 1000 * kCompiledRemainders));
    std::unordered_map<std::int32_t, TableEntry> others;

    TableEntry* Find(std::int32_t code) {
        if (code >= -1 && code < kDirectCodes - 1)
            return &direct[static_cast<std::size_t>(code + 1)];
        if (TableEntry* entry = CompiledSlot(code)) return entry;
        const auto it = others.find(code);
        return it == others.end() ? nullptr : &it->second;
    }
    void List(std::int32_t code, CommandResultKind kind) {
        if (code >= -1 && code < kDirectCodes - 1) {
            direct[static_cast<std::size_t>(code + 1)].kind = kind;
        } else if (TableEntry* entry = CompiledSlot(code)) {
            entry->kind = kind;
        } else {
            others[code].kind = kind;
        }
    }

  private:
    TableEntry* CompiledSlot(std::int32_t code) {
        if (code < kCompiledFirst || code >= kCompiledEnd || code % 1000 >= kCompiledRemainders)
            return nullptr;
        const std::int32_t slot =
            (code / 1000 - kCompiledFirst / 1000) * kCompiledRemainders + code % 1000;
        return &compiled[static_cast<std::size_t>(slot)];
    }
};

CodeTable MakeCodeTable() {
    CodeTable table;
    using K = CommandResultKind;
    table.List(-1, K::EndOfList);
    table.List(1002, K::ResetMain);
    for (std::int32_t code : {101, 102, 104, 105, 122, 123, 130, 151, 160, 161, 162,  172, 173,
                              174, 175, 177, 178, 180, 201, 202, 210, 211, 220, 221,  222, 230,
                              231, 240, 241, 242, 260, 270, 280, 281, 290, 300, 10001}) {
        table.List(code, K::Result);
    }
    for (std::int32_t code : {106, 107, 111, 112, 121, 124, 125, 126, 140, 141, 150, 170,  171, 176,
                              179, 213, 250, 251, 252, 401, 402, 420, 421, 498, 499, 1000, 1001}) {
        table.List(code, K::Next);
    }
    // The compiled codes.
    for (std::int32_t code :
         {103000, 171000, 176000, 179000, 250100, 250101, 420000, 498000, 498001}) {
        table.List(code, K::Next);
    }
    for (std::int32_t code = 111000; code <= 111006; ++code) table.List(code, K::Next);
    for (std::int32_t code = 210000; code <= 210041; ++code) table.List(code, K::Next);
    return table;
}

CodeTable& Table() {
    static CodeTable table = MakeCodeTable();
    return table;
}

// ---- Links ----

std::int64_t LibraryMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

InterpreterLinks DefaultLinks() {
    InterpreterLinks links{};
    links.microsecondClock = LibraryMicroseconds;
    return links;
}

InterpreterLinks& Links() {
    static InterpreterLinks links = DefaultLinks();
    return links;
}

std::int32_t LiveMapId() {
    return Links().mapId ? Links().mapId() : -1;
}

// ---- Texts ----

// Replaces the %d and %s of a message format in order with the given texts.
std::string FormatMessage(std::string format, std::initializer_list<std::string> values) {
    std::size_t from = 0;
    for (const std::string& value : values) {
        std::size_t at = from;
        while ((at = format.find('%', at)) != std::string::npos && at + 1 < format.size() &&
               format[at + 1] != 'd' && format[at + 1] != 's') {
            ++at;
        }
        if (at == std::string::npos || at + 1 >= format.size()) break;
        format.replace(at, 2, value);
        from = at + value.size();
    }
    return format;
}

std::string Number(std::int32_t n) {
    return std::to_string(n);
}

bool TransitionRunning() {
    const Game_System& s = TheGameSystem;
    return s.transitionActive && (s.bytes2[0] || s.bytes2[1]);
}

// Destroys a chain of children from the deepest upwards, without recursion that grows with the
// depth of the chain.
void DestroyChildren(std::vector<Game_Interpreter>& children) {
    std::vector<std::vector<Game_Interpreter>> levels;
    levels.push_back(std::move(children));
    children.clear();
    for (std::size_t i = 0; i < levels.size(); ++i) {
        std::vector<std::vector<Game_Interpreter>> below;
        for (Game_Interpreter& child : levels[i]) {
            if (!child.children.empty()) below.push_back(std::move(child.children));
            child.children.clear();
        }
        for (auto& level : below) levels.push_back(std::move(level));
    }
    while (!levels.empty()) levels.pop_back();
}

// The id an interpreter-relative id stands for; `numberRange` says whether the range of "this
// event"'s self variables counts (it names no text).
std::int32_t RewriteId(std::int32_t id, std::int32_t mapEventId, std::int32_t commonEventId,
                       bool numberRange) {
    if (numberRange && id >= 1100000 && id <= 1199999) {
        return 1000000 + mapEventId * 10 + id % 10;
    }
    if (id >= 1600000 && id <= 1699999) return 15000000 + commonEventId * 100 + id % 100;
    if (id >= 9190000 && id <= 9199999) return 9100000 + mapEventId * 10 + id % 10;
    return id;
}

}  // namespace

InterpreterLinks& GetInterpreterLinks() {
    return Links();
}

void ResetInterpreterLinks() {
    Links() = DefaultLinks();
}

CommandResultKind CommandKindOf(std::int32_t code) {
    const TableEntry* entry = Table().Find(code);
    return entry ? entry->kind : CommandResultKind::Unknown;
}

CommandHandler SetCommandHandler(std::int32_t code, CommandHandler handler) {
    TableEntry* entry = Table().Find(code);
    if (!entry) return nullptr;
    return std::exchange(entry->handler, handler);
}

CommandHandler GetCommandHandler(std::int32_t code) {
    const TableEntry* entry = Table().Find(code);
    return entry ? entry->handler : nullptr;
}

// ---- Construction ----

Game_Interpreter::Game_Interpreter(const Game_Interpreter& other) : Game_InterpreterRecord(other) {
    lineInputHandle = 0;
    RelinkChildren();
}

Game_Interpreter::Game_Interpreter(Game_Interpreter&& other) noexcept
    : Game_InterpreterRecord(std::move(other)) {
    other.lineInputHandle = 0;
    if (RunningInterpreter == &other) RunningInterpreter = this;
    RelinkChildren();
}

Game_Interpreter& Game_Interpreter::operator=(const Game_Interpreter& other) {
    if (this != &other) {
        if (lineInputHandle != 0) CancelLineInput();
        DestroyChildren(children);
        Game_InterpreterRecord::operator=(other);
        lineInputHandle = 0;
        RelinkChildren();
    }
    return *this;
}

Game_Interpreter& Game_Interpreter::operator=(Game_Interpreter&& other) noexcept {
    if (this != &other) {
        if (lineInputHandle != 0) CancelLineInput();
        DestroyChildren(children);
        Game_InterpreterRecord::operator=(std::move(other));
        other.lineInputHandle = 0;
        RelinkChildren();
    }
    return *this;
}

Game_Interpreter::~Game_Interpreter() {
    if (lineInputHandle != 0) CancelLineInput();
    DestroyChildren(children);
    // Reports made after this interpreter is gone must not read it.
    if (RunningInterpreter == this) RunningInterpreter = nullptr;
}

Game_Interpreter& Game_Interpreter::AddChild() {
    children.emplace_back();
    RelinkChildren();
    return children.back();
}

// A child's parent pointer names the object that holds it, which changes when the child list is
// copied or moves in memory.
void Game_Interpreter::RelinkChildren() {
    for (Game_Interpreter& child : children) child.parent = this;
}

void Game_Interpreter::Setup(bool main) {
    lineInputHandle = 0;
    callDepth = 0;
    mainFlag = main ? 1 : 0;
    if (main) {
        autoRunCommonEvents.clear();
        for (const Game_CommonEvent& event : TheCommonEvents.events) {
            if (event.TriggerKind() == kCommonTriggerAutomatic)
                autoRunCommonEvents.push_back(event);
        }
    }
    Clear();
}

void Game_Interpreter::Clear() {
    mapId = 0;
    mapEventId = -1;
    commonEventId = -1;
    waitingForWindow = 0;
    waitingForAllRoutes = 0;
    waitingForInput = 0;
    waitFrames = 0;
    list.reset();
    currentCommand = nullptr;
    DestroyChildren(children);
    branchStates.fill(0);
    loopIndents.clear();
    loopCounts.clear();
    keySnapshot = 0;
    padSnapshot = 0;
    returnTarget = 0;
    returnSource = 0;
}

void Game_Interpreter::Start(std::shared_ptr<const Game_CommandList> commands, std::int32_t eventId,
                             std::int32_t commonId) {
    Clear();
    mapId = LiveMapId();
    mapEventId = eventId;
    commonEventId = commonId;
    list = std::move(commands);
    line = 0;
    branchStates.fill(0);
}

void Game_Interpreter::StartCopy(const Game_CommandList& commands, std::int32_t eventId,
                                 std::int32_t commonId) {
    Start(std::make_shared<const Game_CommandList>(commands), eventId, commonId);
}

// ---- Running ----

void Game_Interpreter::Update() {
    // The chain of interpreters whose Update is in progress: a parent updates its first child
    // before going on itself, which is kept here instead of on the call stack.
    std::vector<Game_Interpreter*> callers;
    Game_Interpreter* it = this;
    enum class Stage { Enter, LoopTop, AfterChild } stage = Stage::Enter;
    for (;;) {
        bool leave = false;
        if (stage == Stage::Enter) {
            if (SaveJustLoaded) {
                leave = true;
            } else {
                CurrentMapEventId = it->mapEventId;
                CurrentCommonEventId = it->commonEventId;
                CurrentScriptLine = it->line;
                stage = Stage::LoopTop;
            }
        }
        if (!leave && stage == Stage::LoopTop) {
            it->StepGuard();
            if (MainInterpreterResetRequest == 1 && it->mainFlag) it->ResetMain();
            if (!it->children.empty()) {
                callers.push_back(it);
                it = &it->children.front();
                stage = Stage::Enter;
                continue;
            }
            if (it->RunAfterChildren()) continue;
            leave = true;
        } else if (!leave && stage == Stage::AfterChild) {
            if (SaveJustLoaded || TheGameSystem.gameState != GameState::Run) {
                leave = true;
            } else {
                Game_Interpreter& child = it->children.front();
                if (!child.IsRunning()) {
                    if (it->returnTarget != 0) {
                        const std::int32_t slot = it->returnSource % 100;
                        if (slot >= 5 && slot <= 9) {
                            it->WriteString(it->returnTarget, it->ResolveString(it->returnSource));
                        } else {
                            it->WriteNumber(it->returnTarget, it->ResolveNumber(it->returnSource));
                        }
                        it->returnTarget = 0;
                        it->returnSource = 0;
                    }
                    std::vector<Game_Interpreter> done;
                    done.push_back(std::move(it->children.front()));
                    it->children.erase(it->children.begin());
                    it->RelinkChildren();
                    DestroyChildren(done);
                }
                if (!it->children.empty()) {
                    leave = true;
                } else if (it->RunAfterChildren()) {
                    stage = Stage::LoopTop;
                    continue;
                } else {
                    leave = true;
                }
            }
        }
        // This interpreter's Update ends; its parent goes on after its child.
        if (callers.empty()) return;
        it = callers.back();
        callers.pop_back();
        stage = Stage::AfterChild;
    }
}

void Game_Interpreter::StepGuard() {
    if (++CommandStepCounter <= kCommandStepLimit) return;
    const std::int64_t now = Links().microsecondClock ? Links().microsecondClock() : 0;
    const std::int64_t ms = (now - TheGameSystem.frameStartHistory[0]) / 1000;
    std::string detail;
    if (ms >= 17 * FrameMultiplier) {
        detail = FormatMessage(
            TranslateMessageUtf8(u"1フレームの処理時間が %d msになっています、1フレームの処理はなる"
                                 u"べく%dms以下にしてください"),
            {std::to_string(ms), Number(16 * FrameMultiplier)});
    }
    ReportRuntimeError(
        true,
        TranslateMessageUtf8(
            u"1フレームあたりの処理が500万回を越えました！ 無限ループに入った疑いがあります"),
        detail, GetScriptLocationText());
    waitFrames = kRunawayPauseFrames;
    CommandStepCounter = 0;
}

bool Game_Interpreter::RunAfterChildren() {
    InterpreterLinks& links = Links();
    // 4 to 14: the waits, by priority.
    if (lineInputHandle != 0 && !CompleteStringInput()) return false;
    if (waitingForDownload) return false;
    if (waitingForWindow) return false;
    if (TransitionRunning()) return false;
    if (routeWaitTarget != -1000) {
        const bool hasArgument = currentCommand && currentCommand->arguments.size() > 1;
        Game_Character* character =
            hasArgument ? FindCharacter(currentCommand->arguments[1]) : nullptr;
        if (character && links.routeRunning && links.routeRunning(character)) return false;
        routeWaitTarget = -1000;
    }
    if (waitingForAllRoutes) {
        if (links.anyRouteRunning && links.anyRouteRunning()) return false;
        waitingForAllRoutes = 0;
    }
    if (waitingForScroll) {
        if (links.isScrolling && links.isScrolling()) return false;
        waitingForScroll = 0;
    }
    if (waitingForInput) {
        if (links.evaluateInput) links.evaluateInput(*this);
        return false;
    }
    if (waitFrames > 0) {
        waitFrames -= FrameMultiplier;
        return false;
    }
    if (TheGameSystem.transferPending && TheGameSystem.transferMap != LiveMapId()) return false;
    if (TheGameSystem.gameState == GameState::Restart) return false;
    // 15: a main interpreter picks its next list itself.
    if (!list) {
        if (mainFlag && callDepth == 0) StartNext();
        if (!list) return false;
    }
    // 16: run commands.
    CurrentMapEventId = mapEventId;
    CurrentCommonEventId = commonEventId;
    CurrentScriptLine = line;
    if (links.requestRefresh) links.requestRefresh();
    RunningInterpreter = this;
    if (!RunCommands()) return false;
    // 17.
    if (TheGameSystem.gameState != GameState::Run) return false;
    if (DatabaseAccessFailed >= 1) {
        ReportRuntimeError(
            true,
            FormatMessage(TranslateMessageUtf8(
                              u"Ev%d Common%d Line%d DBの存在しない部分を読みに行こうとしました"),
                          {Number(mapEventId), Number(commonEventId), Number(line)}),
            "", "");
        DatabaseAccessFailed = 0;
    }
    // 18.
    if (SaveJustLoaded) return false;
    ++line;
    return true;
}

bool Game_Interpreter::RunCommands() {
    --line;
    if (CommandStepCounter >= kCommandStepLimit) return true;
    CodeTable& table = Table();
    for (;;) {
        if (TheGameSystem.sceneReloadRequested) return true;
        ++line;
        CurrentScriptLine = line;
        // A line outside the list (a damaged jump) ends the list as its end would.
        if (!list || line < 0 || static_cast<std::size_t>(line) >= list->size()) {
            FinishList();
            return true;
        }
        currentCommand = &(*list)[static_cast<std::size_t>(line)];
        const std::int32_t code = currentCommand->Code();
        Game_EventCommand::DispatchNote& note = currentCommand->dispatch;
        const TableEntry* entry;
        if (note.entry && note.code == code) {
            entry = static_cast<const TableEntry*>(note.entry);
        } else {
            entry = table.Find(code);
            note.code = code;
            note.entry = entry;
        }
        if (entry) {
            switch (entry->kind) {
                case CommandResultKind::Result:
                    if (entry->handler) return entry->handler(*this);
                    break;
                case CommandResultKind::EndOfList:
                    FinishList();
                    return true;
                case CommandResultKind::ResetMain:
                    if (mainFlag) MainInterpreterResetRequest = 1;
                    return true;
                case CommandResultKind::Next:
                    if (entry->handler) entry->handler(*this);
                    break;
                case CommandResultKind::Unknown:
                    break;
            }
        }
        if (++CommandStepCounter >= kCommandStepLimit) return true;
    }
}

void Game_Interpreter::FinishList() {
    list.reset();
    currentCommand = nullptr;
    line = -1;
    loopIndents.clear();
    loopCounts.clear();
    if (TheGameSystem.sceneReloadRequested) return;
    InterpreterLinks& links = Links();
    if (mainFlag && callDepth == 0 && mapEventId >= 0 && links.event && links.event(mapEventId)) {
        if (links.unlockFacing) links.unlockFacing(mapEventId);
        mapEventId = -1;
    }
}

void Game_Interpreter::SkipToSameIndent() {
    if (!list || !currentCommand) return;
    const std::uint8_t indent = currentCommand->indent;
    const auto size = static_cast<std::int32_t>(list->size());
    std::int32_t next = line + 1;
    while (next < size && (*list)[static_cast<std::size_t>(next)].indent != indent) ++next;
    line = next - 1;
}

void Game_Interpreter::DrawStringInput() {
    if (Links().drawStringInput) Links().drawStringInput(*this);
}

void Game_Interpreter::StartNext() {
    InterpreterLinks& links = Links();
    if (links.refreshRequested && links.refreshRequested() && links.refreshEvents) {
        links.refreshEvents();
    }
    const std::int32_t requested = TheGameSystem.requestedCommonEvent;
    if (requested >= 0) {
        TheGameSystem.requestedCommonEvent = -1;
        if (const Game_CommonEvent* event = TheCommonEvents.Find(requested)) {
            StartCopy(event->commands.List(), mapEventId, event->number);
            return;
        }
    }
    const std::int32_t eventId = links.firstStartingEvent ? links.firstStartingEvent() : -1;
    if (eventId >= 0) {
        if (!links.eventTrigger || links.eventTrigger(eventId) != 1) {
            if (links.clearStartFlag) links.clearStartFlag(eventId);
            if (links.lockFacingForEvent) links.lockFacingForEvent(eventId);
        }
        const Game_CommandList* commands =
            links.eventCommands ? links.eventCommands(eventId) : nullptr;
        StartCopy(commands ? *commands : Game_CommandList(1), eventId, -1);
        return;
    }
    for (const Game_CommonEvent& event : autoRunCommonEvents) {
        if (event.CheckCondition()) {
            StartCopy(event.commands.List(), -1, event.number);
            return;
        }
    }
}

void Game_Interpreter::ResetMain() {
    InterpreterLinks& links = Links();
    MainInterpreterResetRequest = 0;
    DestroyChildren(children);
    if (lineInputHandle != 0) CancelLineInput();
    waitingForDownload = 0;
    if (waitingForWindow) {
        if (links.closeMessageWindow) links.closeMessageWindow();
        if (links.closeChoiceWindow) links.closeChoiceWindow();
        const int indent = currentCommand ? currentCommand->indent : 0;
        for (int level = 0; level < indent && level < 50; ++level) {
            branchStates[static_cast<std::size_t>(level)] = -100;
        }
        // The windows are closed, so nothing is left to wait for.
        waitingForWindow = 0;
    }
    if (TransitionRunning()) TheGameSystem.EndTransition();
    routeWaitTarget = -1000;
    if (waitingForAllRoutes) {
        if (links.stopAllRoutes) links.stopAllRoutes();
        waitingForAllRoutes = 0;
    }
    waitingForScroll = 0;
    waitingForInput = 0;
    waitFrames = 0;
    FinishList();
}

void Game_Interpreter::CancelLineInput() {
    StringInputActive = 0;
    if (Links().deleteLineInputHandle) Links().deleteLineInputHandle(lineInputHandle);
    LineInputInUse = -1;
    lineInputHandle = 0;
    cancelNotAllowed = 0;
    WriteString(inputTarget, inputPrefix);
}

bool Game_Interpreter::CompleteStringInput() {
    InterpreterLinks& links = Links();
    const bool finishSignal = TheInput.forcedEnterCopy != 0;
    const bool escape = TheInput.escapePressed != 0;
    // Without a line-input module an open input cannot go on being edited.
    const auto state = [&] {
        return links.checkLineInputState ? links.checkLineInputState(lineInputHandle) : 2;
    };
    std::int32_t current = -1;
    if (!finishSignal &&
        (!escape || (TheBasicData.GameDataVersion() > 202 && cancelNotAllowed != 0))) {
        current = state();
        if (current == 0) return false;
    }
    StringInputActive = 0;
    if (current < 0 && !escape) current = state();
    if (escape || current == 2) {
        CancelLineInput();
        return true;
    }
    LineInputInUse = 0;
    std::string text = links.getLineInputText ? links.getLineInputText(lineInputHandle) : "";
    if (links.deleteLineInputHandle) links.deleteLineInputHandle(lineInputHandle);
    std::string clean;
    for (char c : text) {
        if (c == '\x01') continue;
        if (c == '\\') {
            clean += kLiteralBackslashCode;
        } else {
            clean += c;
        }
    }
    inputPrefix += clean;
    WriteString(inputTarget, inputPrefix);
    lineInputHandle = 0;
    return true;
}

// ---- Arguments and variables ----

std::int32_t Game_Interpreter::ResolveNumber(std::int32_t value) {
    if (value < 1000000) return value;
    const std::int32_t id = RewriteId(value, mapEventId, commonEventId, true);
    TheVariables.mapOverride = mapId;
    return TheVariables.GetValue(id);
}

std::string Game_Interpreter::ResolveString(std::int32_t value) {
    const std::int32_t id = RewriteId(value, mapEventId, commonEventId, false);
    TheVariables.mapOverride = mapId;
    return TheVariables.GetString(id);
}

void Game_Interpreter::WriteNumber(std::int32_t value, std::int32_t number) {
    if (value >= 1100000 && value <= 1199999 && mapEventId == -1) {
        ReportRuntimeError(true,
                           FormatMessage(TranslateMessageUtf8(
                                             u"マップEvのセルフ変数に格納しようとしましたが、呼出元"
                                             u"マップEvがありませんでした => %d"),
                                         {Number(value)}),
                           GetScriptLocationText(), "");
        return;
    }
    const std::int32_t id = RewriteId(value, mapEventId, commonEventId, true);
    WatchVariable(id, Number(number));
    TheVariables.mapOverride = mapId;
    TheVariables.SetValue(id, number);
}

void Game_Interpreter::WriteString(std::int32_t value, const std::string& text) {
    const std::int32_t id = RewriteId(value, mapEventId, commonEventId, false);
    WatchVariable(id, text);
    TheVariables.mapOverride = mapId;
    TheVariables.SetString(id, nullptr, text);
}

void Game_Interpreter::WatchVariable(std::int32_t id, const std::string& value) {
    if (DebugWindowOpen < 1 || DebugWatchedVariables.count(id) == 0) return;
    std::string text =
        FormatMessage(TranslateMessageUtf8(u"# ValWatch=>  %d = %s"), {Number(id), value});
    text += "\r\n    ";
    text += " -->[";
    if (CurrentMapEventId != -1) text += "MapEv" + Number(CurrentMapEventId) + "/";
    if (CurrentCommonEventId != -1) {
        text += FormatMessage(TranslateMessageUtf8(u"ｺﾓﾝ%d/"), {Number(CurrentCommonEventId)});
    }
    text += FormatMessage(TranslateMessageUtf8(u"%d行]"), {Number(CurrentScriptLine)});
    DebugWindowText += ConvertUtf8ToCodePage(GameCodePageLocale(), text.c_str());
    DebugWindowText += "\r\n";
    DebugWindowDirty = 1;
}

Game_Character* Game_Interpreter::FindCharacter(std::int32_t value) {
    InterpreterLinks& links = Links();
    const std::int32_t who = ResolveNumber(value);
    if (who <= -3) return links.follower ? links.follower(-3 - who) : nullptr;
    if (who == -2) return links.player ? links.player() : nullptr;
    if (who == -1) {
        return mapEventId != -1 && links.event ? links.event(mapEventId) : nullptr;
    }
    return links.event ? links.event(who) : nullptr;
}

Game_MoveRoute Game_Interpreter::ResolveRouteVariables(const Game_MoveRoute& route) {
    const std::int32_t saved = mapEventId;
    const bool hasArgument = currentCommand && currentCommand->arguments.size() > 1;
    Game_Character* character = hasArgument ? FindCharacter(currentCommand->arguments[1]) : nullptr;
    mapEventId = character && Links().characterId ? Links().characterId(character) : -1;
    Game_MoveRoute resolved = route;
    for (Game_MoveCommand& command : resolved.commands) {
        for (std::size_t i = 0; i < command.arguments.size(); ++i) {
            // The target variable of the two route commands that store a value stays an id.
            if (i == 0 && (command.code == 28 || command.code == 55)) continue;
            command.arguments[i] = ResolveNumber(command.arguments[i]);
        }
    }
    mapEventId = saved;
    return resolved;
}
