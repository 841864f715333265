#include "runtime/script/CallCommands.h"

#include <algorithm>

#include "runtime/data/CommonEvent.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/script/InterpreterOperations.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"

std::unordered_map<std::string, std::int32_t> CommonEventNameMap;
std::unordered_map<std::string, std::int32_t> InsertedCommonFiles;
void (*CompileCommonEventsHook)() = nullptr;

namespace {

constexpr std::int32_t kCommonTargetBase = 500000;
constexpr std::int32_t kRelativeTargetBase = 600000;
constexpr std::int32_t kRelativeTargetZero = 600100;
constexpr std::int32_t kCommonSelfBase = 15000000;
constexpr std::int32_t kCommonSelfIntegers = 100;
constexpr std::int32_t kCommonSelfStrings = 5;
constexpr char16_t kTestPlayError[] = u"【テストプレイ専用エラー】";

std::int32_t Arg(const Game_Interpreter& i, std::size_t n) {
    return CommandArgument(*i.currentCommand, n);
}

std::string StringArg(const Game_Interpreter& i, std::size_t n) {
    const std::vector<std::string>& s = i.currentCommand->strings;
    return n < s.size() ? s[n] : std::string();
}

std::int32_t CommonCount() {
    return static_cast<std::int32_t>(TheCommonEvents.Count());
}

// A relative target (600,100 + d: d places after the running common event) as an absolute one.
std::int32_t AbsoluteTarget(const Game_Interpreter& i, std::int32_t target) {
    if (target < kRelativeTargetBase) return target;
    const std::int64_t number =
        static_cast<std::int64_t>(i.commonEventId) + target - kRelativeTargetZero;
    return kCommonTargetBase +
           static_cast<std::int32_t>(std::clamp<std::int64_t>(number, 0, CommonCount() - 1));
}

const char* Translate(const char16_t* text) {
    return TranslateMessageUtf8(text);
}

void ReportCallTooDeep(std::int32_t c) {
    std::string second = FormatNumberMessage(Translate(u"コモンイベント %d [%s]"), c);
    const std::size_t s = second.find("%s");
    if (s != std::string::npos) second.replace(s, 2, TheCommonEvents.events[std::size_t(c)].name);
    ReportRuntimeError(
        true,
        Translate(u"【エラー】コモンイベント呼び出しが500階層を超えたため、以下のイベントは呼"
                  u"び出されませんでした。"),
        second, GetScriptLocationText());
}

// The interpreter-relative ids rewritten as the variable writes rewrite them.
std::int32_t RewriteTarget(const Game_Interpreter& i, std::int32_t id) {
    if (id >= 1100000 && id <= 1199999) return 1000000 + i.mapEventId * 10 + id % 10;
    if (id >= 1600000 && id <= 1699999) return kCommonSelfBase + i.commonEventId * 100 + id % 100;
    if (id >= 9190000 && id <= 9199999) return 9100000 + i.mapEventId * 10 + id % 10;
    return id;
}

// Calls common event c (which exists) in a child; `byName` for the call by name or file, which
// goes deeper than the plain call.
void CallCommon(Game_Interpreter& i, std::int32_t c, bool byName) {
    if (i.callDepth > kCallDepthLimit) {
        if (!byName || i.callDepth > kInsertDepthLimit) {
            ReportCallTooDeep(c);
            return;
        }
        ReportRuntimeError(
            true,
            Translate(u"コモン挿入：500階層以上呼び出そうとしています！処理を見直してください。"),
            GetScriptLocationText(), "");
    }
    const std::int32_t settings = Arg(i, 2);
    const std::int32_t k = settings & 0xF;
    const std::int32_t m = (settings >> 4) & 0xF;
    const std::int32_t base = kCommonSelfBase + c * 100;
    for (std::int32_t n = 0; n < k; ++n) {
        TheVariables.SetValue(base + n, i.ResolveNumber(Arg(i, std::size_t(3 + n))));
    }
    for (std::int32_t j = 0; j < m; ++j) {
        std::string text;
        if (settings & (1 << (12 + j))) {
            text = ExpandTextCodes(StringArg(i, std::size_t(j + 1)), i.mapEventId, i.commonEventId,
                                   i.mapId, false, false, nullptr, nullptr, false);
        } else {
            text = i.ResolveString(Arg(i, std::size_t(3 + k + j)));
        }
        TheVariables.SetString(base + 5 + j, nullptr, text);
    }
    const Game_CommonEvent& event = TheCommonEvents.events[static_cast<std::size_t>(c)];
    Game_Interpreter& child = i.AddChild();
    child.Start(event.commands.Shared(), i.mapEventId, c);
    child.callDepth = i.callDepth + 1;
    child.mainFlag = i.mainFlag;
    child.parallelFlag = i.parallelFlag;
    i.returnTarget = 0;
    if ((settings & (1 << 24)) && event.returnVariable != -1) {
        const std::int32_t stored = Arg(i, std::size_t(3 + k + m));
        if (stored >= 1100000 && stored <= 1199999 && i.mapEventId == -1) {
            ReportRuntimeError(
                true,
                FormatNumberMessage(Translate(u"マップEvのセルフ変数に格納しようとしましたが、"
                                              u"呼出元マップEvがありませんでした => %d"),
                                    stored),
                GetScriptLocationText(), "");
            return;
        }
        i.returnSource = base + event.returnVariable;
        i.returnTarget = RewriteTarget(i, stored);
    }
}

void ReportTestPlay(const std::string& second) {
    if (TestPlay) ReportRuntimeError(true, Translate(kTestPlayError), second, "");
}

bool CommandCallCommonEvent(Game_Interpreter& i) {
    const std::int32_t target = AbsoluteTarget(i, i.ResolveNumber(Arg(i, 1)));
    if (target >= kCommonTargetBase) {
        const std::int32_t c = target % kCommonTargetBase;
        if (c >= CommonCount()) {
            ReportTestPlay(
                FormatNumberMessage(Translate(u"存在しないコモンEv%dを呼び出そうとしました"), c));
        } else {
            CallCommon(i, c, false);
        }
        return true;
    }
    InterpreterLinks& links = GetInterpreterLinks();
    const std::int32_t eventId = target == -1 ? i.mapEventId : target;
    const std::int32_t page = i.ResolveNumber(Arg(i, 2));
    const std::int32_t pages = links.eventPageCount ? links.eventPageCount(eventId) : 0;
    if (pages <= 0 || page >= pages) {
        std::string second = FormatNumberMessage(
            Translate(u"存在しないマップEv%d,ページ%dを呼び出そうとしました"), target);
        const std::size_t d = second.find("%d");
        if (d != std::string::npos) second.replace(d, 2, std::to_string(page + 1));
        ReportTestPlay(second);
        return true;
    }
    const Game_CommandList* commands = nullptr;
    if (page < 0) {
        commands = links.eventCommands ? links.eventCommands(eventId) : nullptr;
    } else {
        commands = links.eventPageCommands ? links.eventPageCommands(eventId, page) : nullptr;
    }
    // An empty list runs as a list holding only its end.
    Game_CommandList copy = commands && !commands->empty()
                                ? *commands
                                : Game_CommandList{Game_EventCommand{{kEndOfListCode}}};
    const std::int32_t parallel = i.parallelFlag;
    Game_Interpreter& child = i.AddChild();
    child.StartCopy(copy, eventId, -1);
    child.parallelFlag = parallel;
    return true;
}

bool CommandReserveEvent(Game_Interpreter& i) {
    const std::int32_t target = AbsoluteTarget(i, i.ResolveNumber(Arg(i, 1)));
    if (target >= kCommonTargetBase) {
        TheGameSystem.requestedCommonEvent = target % kCommonTargetBase;
        return true;
    }
    InterpreterLinks& links = GetInterpreterLinks();
    const std::int32_t page = i.ResolveNumber(Arg(i, 2));
    const std::int32_t pages = links.eventPageCount ? links.eventPageCount(target) : 0;
    if (pages > 0 && page < pages && links.requestEventStart) links.requestEventStart(target);
    return true;
}

// Reads a ".common" file into the live list once per run; the number of its first common event,
// or -1 when it cannot be read.
std::int32_t InsertCommonFile(Game_Interpreter& i, const std::string& name) {
    const auto known = InsertedCommonFiles.find(name);
    if (known != InsertedCommonFiles.end()) {
        // A restart reads the common events afresh and drops the inserted ones: then the file
        // is read again.
        if (known->second < CommonCount()) return known->second;
        InsertedCommonFiles.erase(known);
    }
    const std::int32_t first = CommonCount();
    const std::int32_t read = ReadCommonFile(name, first);
    if (read < 0) return -1;
    const auto count = TheCommonEvents.Count();
    if (TheVariables.commonSelfIntegers.size() < count) {
        TheVariables.commonSelfIntegers.resize(count,
                                               std::vector<std::int32_t>(kCommonSelfIntegers));
    }
    if (TheVariables.commonSelfStrings.size() < count) {
        TheVariables.commonSelfStrings.resize(count, std::vector<std::string>(kCommonSelfStrings));
    }
    InsertedCommonFiles[name] = first;
    for (std::int32_t n = first; n < first + read && n < CommonCount(); ++n) {
        const std::string& eventName = TheCommonEvents.events[static_cast<std::size_t>(n)].name;
        if (!eventName.empty()) CommonEventNameMap[eventName] = n;
    }
    // The running list is held by its block, which the growth of the list keeps; take it from
    // the grown list all the same, so the interpreter runs what the list now holds.
    if (i.commonEventId >= 0 && i.commonEventId < CommonCount() && i.list) {
        auto renewed =
            TheCommonEvents.events[static_cast<std::size_t>(i.commonEventId)].commands.Shared();
        if (renewed != i.list && i.line >= 0 &&
            static_cast<std::size_t>(i.line) < renewed->size()) {
            i.list = renewed;
            i.currentCommand = &(*i.list)[static_cast<std::size_t>(i.line)];
        }
    }
    if (CompileCommonEventsHook) CompileCommonEventsHook();
    return first;
}

bool CommandInsertCommonFile(Game_Interpreter& i) {
    std::string name = StringArg(i, 0);
    if (Arg(i, 2) & 0x100) {
        InterpreterLinks& links = GetInterpreterLinks();
        const std::int32_t liveMap = links.mapId ? links.mapId() : -1;
        name = ExpandTextCodes(name, i.mapEventId, i.commonEventId, liveMap, true, false, nullptr,
                               nullptr, false);
    }
    std::int32_t c = -1;
    if (name.find(".common") != std::string::npos) {
        if (!i.mainFlag) {
            ReportRuntimeError(
                true,
                Translate(u"【エラー】並列イベント中では.commonファイルの読み込みはできません。"),
                GetScriptLocationText(), "");
            return true;
        }
        if (TestPlay) {
            ReportRuntimeError(
                true,
                Translate(u"【テストプレイ専用メッセージ】.commonファイル読み込み機能は"
                          u"2.00でサポート対象外になりました。"),
                Translate(u"正常動作は保証できませんのでご了承ください"), GetScriptLocationText());
        }
        c = InsertCommonFile(i, name);
    } else {
        const auto found = CommonEventNameMap.find(name);
        if (found != CommonEventNameMap.end()) c = found->second;
    }
    // A file that held no common event, or a name map that outlived its list, calls nothing.
    if (c < 0 || c >= CommonCount()) return true;
    CallCommon(i, c, true);
    return true;
}

}  // namespace

void BuildCommonEventNameMap() {
    CommonEventNameMap.clear();
    for (const Game_CommonEvent& event : TheCommonEvents.events) {
        if (!event.name.empty()) CommonEventNameMap[event.name] = event.number;
    }
}

void InstallCallCommands() {
    SetCommandHandler(210, &CommandCallCommonEvent);
    SetCommandHandler(211, &CommandReserveEvent);
    SetCommandHandler(300, &CommandInsertCommonFile);
}
