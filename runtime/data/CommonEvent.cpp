#include "runtime/data/CommonEvent.h"

#include <string>
#include <utility>

#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/ShellGlobals.h"

Game_CommonEventList TheCommonEvents;

HeldCommandList::HeldCommandList() : block_(std::make_shared<Game_CommandList>(1)) {}

HeldCommandList::HeldCommandList(const HeldCommandList& other)
    : block_(std::make_shared<Game_CommandList>(other.List())) {}

HeldCommandList& HeldCommandList::operator=(const HeldCommandList& other) {
    if (this != &other) block_ = std::make_shared<Game_CommandList>(other.List());
    return *this;
}

void HeldCommandList::Replace(Game_CommandList commands) {
    block_ = std::make_shared<Game_CommandList>(std::move(commands));
}

namespace {

// The smallest record: start byte, number, start condition, two setting bytes, an empty name,
// a command count with one command, the byte count and section byte A.
constexpr std::size_t kMinRecordBytes = 1 + 4 + 1 + 4 + 4 + 2 + 4 + 4 + 4 + 4 + 1;

void ShowVersionMessage() {
    GetDataFileServices().showMessageBox(
        TranslateMessageUtf8(
            u"コモンイベントファイルの読み込みに失敗しました。\r\nデータのバージョン"
            u"が違う可能性があります、最新ツールでロードしてください。"),
        TranslateMessageUtf8(u"読み込み失敗"));
}

void ShowDamagedMessage(const std::string& path) {
    std::string text = TranslateMessageUtf8(u"コモンイベントファイル \"%s\"が破損しています。");
    const std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, path);
    GetDataFileServices().showMessageBox(text, "Error");
}

// Grows a list to `count` entries when it holds fewer.
template <typename T>
void GrowTo(std::vector<T>& list, std::int32_t count) {
    if (count > 0 && list.size() < static_cast<std::size_t>(count)) {
        list.resize(static_cast<std::size_t>(count));
    }
}

}  // namespace

bool Game_CommonEvent::Read() {
    DataFileBuffer& b = TheDataFileBuffer;
    // The argument definitions start from their defaults, so that entries beyond the file's
    // counts are empty or 0.
    argumentTexts.assign(kArgumentTextCount, std::string());
    argumentBytes.assign(kArgumentByteCount, 0);
    argumentTextLists.assign(kArgumentTextListCount, {});
    argumentNumberLists.assign(kArgumentNumberListCount, {});
    argumentNumbers.assign(kArgumentNumberCount, 0);

    if (b.ReadByte() == 0 || b.damaged) return false;
    number = b.ReadInt32();
    startByte = b.ReadByte();
    conditionVariable = b.ReadInt32();
    conditionValue = b.ReadInt32();
    settingBytes[0] = b.ReadByte();
    settingBytes[1] = b.ReadByte();
    name = b.ReadString(kCommonEventNameLimit);
    if (b.damaged) return false;
    Game_CommandList list;
    if (!ReadCommandList(list)) return false;
    commands.Replace(std::move(list));
    const std::int32_t byteCount = b.ReadCount(1);
    GrowTo(byteList, byteCount);
    for (std::int32_t i = 0; i < byteCount; ++i)
        byteList[static_cast<std::size_t>(i)] = b.ReadByte();
    if (byteCount >= 1) byteListText = b.ReadString(kCommonEventByteTextLimit);

    // Section byte A.
    std::uint8_t section = b.ReadByte();
    if (b.damaged || section == 0) return false;
    if (section == 0x8E) return true;
    if (section != 0x8F && section != 0x90) ShowVersionMessage();

    // Section 2: the argument definitions.
    const std::int32_t textCount = b.ReadCount(4);
    GrowTo(argumentTexts, textCount);
    for (std::int32_t i = 0; i < textCount && !b.damaged; ++i) {
        argumentTexts[static_cast<std::size_t>(i)] = b.ReadString(0);
    }
    const std::int32_t bytesCount = b.ReadCount(1);
    GrowTo(argumentBytes, bytesCount);
    for (std::int32_t i = 0; i < bytesCount; ++i) {
        argumentBytes[static_cast<std::size_t>(i)] = b.ReadByte();
    }
    const std::int32_t textListCount = b.ReadCount(4);
    GrowTo(argumentTextLists, textListCount);
    for (std::int32_t i = 0; i < textListCount && !b.damaged; ++i) {
        auto& texts = argumentTextLists[static_cast<std::size_t>(i)];
        const std::int32_t m = b.ReadCount(4);
        GrowTo(texts, m);
        for (std::int32_t k = 0; k < m && !b.damaged; ++k) {
            texts[static_cast<std::size_t>(k)] = b.ReadString(0);
        }
    }
    const std::int32_t numberListCount = b.ReadCount(4);
    GrowTo(argumentNumberLists, numberListCount);
    for (std::int32_t i = 0; i < numberListCount && !b.damaged; ++i) {
        auto& numbers = argumentNumberLists[static_cast<std::size_t>(i)];
        const std::int32_t m = b.ReadCount(4);
        GrowTo(numbers, m);
        for (std::int32_t k = 0; k < m; ++k) numbers[static_cast<std::size_t>(k)] = b.ReadInt32();
    }
    const std::int32_t numberCount = b.ReadCount(4);
    GrowTo(argumentNumbers, numberCount);
    for (std::int32_t i = 0; i < numberCount; ++i) {
        argumentNumbers[static_cast<std::size_t>(i)] = b.ReadInt32();
    }
    // Section byte B.
    section = b.ReadByte();
    if (b.damaged || section == 0) return false;
    if (section == 0x8F) return true;
    if (section != 0x90) {
        ShowVersionMessage();
        return true;
    }

    // Section 3: a number and exactly 100 texts.
    extraNumber = b.ReadInt32();
    extraTexts.resize(kCommonEventExtraTextCount);
    for (std::size_t i = 0; i < kCommonEventExtraTextCount && !b.damaged; ++i) {
        extraTexts[i] = b.ReadString(kCommonEventExtraTextLimit);
    }
    section = b.ReadByte();
    if (b.damaged || section == 0) return false;
    if (section == 0x90) return true;
    if (section != 0x91) {
        ShowVersionMessage();
        return true;
    }

    // Section 4: a note.
    noteText = b.ReadString(kCommonEventNoteLimit);
    section = b.ReadByte();
    if (b.damaged || section == 0) return false;
    if (section == 0x91) return true;
    if (section != 0x92) {
        ShowVersionMessage();
        return true;
    }

    // Section 5: a second note and the return variable.
    noteText2 = b.ReadString(kCommonEventNoteLimit);
    returnVariable = b.ReadInt32();
    section = b.ReadByte();
    if (b.damaged) return false;
    if (section != 0x92) ShowVersionMessage();
    return true;
}

bool Game_CommonEvent::CheckCondition() const {
    std::int32_t id = conditionVariable;
    // A self variable of the running common event means this common event's own.
    if (id >= 1600000 && id <= 1699999) id = 15000000 + 100 * number + id % 100;
    const std::int32_t left = TheVariables.GetValue(id);
    return EvaluateConditionOperator(ConditionOperator(), left, conditionValue);
}

Game_CommonEvent* Game_CommonEventList::Find(std::int32_t n) {
    if (n < 0 || static_cast<std::size_t>(n) >= events.size()) return nullptr;
    return &events[static_cast<std::size_t>(n)];
}

const Game_CommonEvent* Game_CommonEventList::Find(std::int32_t n) const {
    if (n < 0 || static_cast<std::size_t>(n) >= events.size()) return nullptr;
    return &events[static_cast<std::size_t>(n)];
}

void Game_CommonEventList::Resize(std::int32_t count) {
    events.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    for (std::size_t i = 0; i < events.size(); ++i) events[i].number = static_cast<std::int32_t>(i);
}

void Game_CommonEventList::EnsureNotEmpty() {
    if (events.empty()) events.emplace_back();
}

bool LoadCommonEvents(const std::string& fileName) {
    const std::string path = DataPath + fileName;
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeDataFile(path, bytes)) {
        GetDataFileServices().showMessageBox(
            TranslateMessageUtf8(u"コモンイベントデータの読み込みに失敗しました"),
            TranslateMessageUtf8(u"読み込みエラー"));
        return false;
    }
    TheDataFileBuffer.Load(std::move(bytes));
    const bool ok = ParseCommonEventFile(TheCommonEvents, path);
    TheDataFileBuffer.Release();
    return ok;
}

bool ParseCommonEventFile(Game_CommonEventList& list, const std::string& path) {
    DataFileBuffer& b = TheDataFileBuffer;
    ScrambledHeader header;
    if (!ReadShortHeader(b, kCommonEventHeader, header)) {
        HandleDamagedDataFile(path);
        return false;
    }
    b.utf8 = header.utf8;
    // A wrong version or closing byte, or a count the file cannot hold, is a damaged file like a
    // failed record: the start-up quits after this, so the player must be told why.
    const std::uint8_t version = b.ReadByte();
    if (b.damaged || (version != kCommonEventVersionOld && version != kCommonEventVersion &&
                      version != kCommonEventVersionNew)) {
        ShowDamagedMessage(path);
        return false;
    }
    const std::int32_t count = b.ReadCount(kMinRecordBytes, true);
    if (b.damaged) {
        ShowDamagedMessage(path);
        return false;
    }
    list.Resize(count);
    for (std::int32_t i = 0; i < count; ++i) {
        Game_CommonEvent& event = list.events[static_cast<std::size_t>(i)];
        const bool read = event.Read();
        event.number = i;
        if (!read) {
            ShowDamagedMessage(path);
            return false;
        }
    }
    list.EnsureNotEmpty();
    const std::uint8_t closing = b.ReadByte();
    if (b.damaged || (closing != kCommonEventVersionOld && closing != kCommonEventVersion)) {
        ShowDamagedMessage(path);
        return false;
    }
    return FinalDataFileCheck(b, kShortHeaderSize, header, path);
}

std::int32_t ReadCommonFile(const std::string& path, std::int32_t first) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeDataFile(path, bytes)) return -1;
    TheDataFileBuffer.Load(std::move(bytes));
    const std::int32_t read = ParseCommonFile(TheCommonEvents, first);
    TheDataFileBuffer.Release();
    return read;
}

std::int32_t ParseCommonFile(Game_CommonEventList& list, std::int32_t first) {
    DataFileBuffer& b = TheDataFileBuffer;
    const std::int32_t magic = b.ReadInt32();
    if (b.damaged) return -1;
    if (magic == kCommonFileMagicCodePage) {
        b.utf8 = false;
    } else if (magic == kCommonFileMagicUtf8) {
        b.utf8 = true;
    } else {
        return -1;
    }
    // A count the file cannot hold reads nothing; so does an index the list cannot reach.
    const std::int32_t count = b.ReadCount(kMinRecordBytes);
    if (b.damaged || first < 0 || count > INT32_MAX - first) return 0;
    if (list.Count() < static_cast<std::size_t>(first + count)) list.Resize(first + count);
    for (std::int32_t i = 0; i < count; ++i) {
        // A record that fails leaves its entry as it was.
        Game_CommonEvent& event = list.events[static_cast<std::size_t>(first + i)];
        Game_CommonEvent read = event;
        if (!read.Read()) return i;
        event = std::move(read);
        event.number = first + i;
    }
    return count;
}

Game_CommonEventRunner::Game_CommonEventRunner(std::int32_t number) : commonEventNumber(number) {
    Refresh();
}

Game_CommonEventRunner::~Game_CommonEventRunner() = default;
Game_CommonEventRunner::Game_CommonEventRunner(const Game_CommonEventRunner&) = default;
Game_CommonEventRunner& Game_CommonEventRunner::operator=(const Game_CommonEventRunner&) = default;
Game_CommonEventRunner::Game_CommonEventRunner(Game_CommonEventRunner&&) noexcept = default;
Game_CommonEventRunner& Game_CommonEventRunner::operator=(Game_CommonEventRunner&&) noexcept =
    default;

void Game_CommonEventRunner::Refresh() {
    const Game_CommonEvent* event = TheCommonEvents.Find(commonEventNumber);
    const int kind = event ? event->TriggerKind() : -1;
    if (kind == kCommonTriggerParallelAlways ||
        (kind == kCommonTriggerParallelWhile && event->CheckCondition())) {
        if (interpreters.empty()) {
            Game_Interpreter& interpreter = interpreters.emplace_back();
            interpreter.Setup(false);
            interpreter.parallelFlag = 1;
        }
    } else {
        interpreters.clear();
    }
}

void Game_CommonEventRunner::RunFrame() {
    if (interpreters.empty()) return;
    Game_Interpreter& interpreter = interpreters.front();
    if (!interpreter.IsRunning()) {
        // The list may have gone with a reload; the runner then waits for its next refresh.
        const Game_CommonEvent* event = TheCommonEvents.Find(commonEventNumber);
        if (!event) return;
        interpreter.Start(event->commands.Shared(), -1, commonEventNumber);
    }
    interpreter.Update();
}

void Game_CommonEventRunner::DrawStringInput() {
    if (!interpreters.empty()) interpreters.front().DrawStringInput();
}
