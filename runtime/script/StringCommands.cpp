#include "runtime/script/StringCommands.h"

#include <unistd.h>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "Source/Library/Main/DuRadudAvuvur.h"
#include "Source/Library/Main/DuZuder.h"
#include "Source/Library/Main/DxChar.h"
#include "Source/Library/Main/DxFile.h"
#include "Source/Library/Main/DxFont.h"
#include "Source/Library/Main/DxMask.h"
#include "Source/Library/Main/Windows/DxFileWin.h"
#include "platform/HostPath.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/CallCommands.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/script/InterpreterOperations.h"
#include "runtime/shell/LibraryFile.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/StringUtil.h"
#include "runtime/shell/TextConversion.h"
#include "runtime/world/Game_MapState.h"

namespace {

constexpr char kNotFound[] = "<<NotFound>>";
constexpr char kNoFile[] = "<NoFile>";
constexpr char kErrorText[] = "<<ERROR>>";
// The internal code of a backslash typed as text.
constexpr std::string_view kInternalBackslash("\x01\x02\x01", 3);
constexpr std::string_view kUtf8Bom("\xEF\xBB\xBF", 3);

enum Operation : std::int32_t {
    kSet = 0x000,
    kAppend = 0x100,
    kFirstLine = 0x200,
    kTakeFirstLine = 0x300,
    kTakeFirstCharacter = 0x400,
    kReadFile = 0x500,
    kWriteFile = 0x600,
    kListFolder = 0x700,
    kRemove = 0x800,
    kReplace = 0x900,
    kPartBefore = 0xA00,
    kPartAfter = 0xB00,
    kReadBase64 = 0xE00,
    kAppendToo = 0xF00,
    kPlainText = 0x40000,
    kTakeLastCharacter = 0x40100,
};

const char* Translate(std::u16string key) {
    return TranslateMessageUtf8(std::move(key));
}

std::string Location() {
    return GetScriptLocationText();
}

// ---- Library services ----

bool LibraryReadFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    return ReadLibraryFile(path, bytes);
}

bool LibraryFileExists(const std::string& pattern) {
    ZiDaz::NarrowFindFileRecord record{};
    const ZiDaz::FileSearchValue search = ZiDaz::BeginFileSearch(pattern.c_str(), &record);
    if (search == -1) return false;
    ZiDaz::EndFileSearch(search);
    return true;
}

std::int64_t LibrarySoundLengthMs(const std::string& path) {
    const ZiDaz::HandleValue handle = ZiDaz::LoadBackgroundMusicFile(path.c_str());
    if (handle == -1) return -1;
    const std::int64_t length = ZiDaz::GetSoundLengthMs(handle);
    ZiDaz::DeleteLibraryHandle(handle);
    return length;
}

void LibrarySetInputFont(int size, const std::string& face, int thickness, int fontType) {
    ZiDaz::SetDefaultFontSize(size);
    if (!face.empty()) ZiDaz::SetDefaultFontFace(face.c_str(), -1);
    ZiDaz::SetDefaultFontThickness(thickness);
    ZiDaz::SetDefaultFontType(fontType);
}

std::int32_t LibraryCreateLineInput(int maximumLength, int cancelAllowed) {
    return ZiDaz::CreateLineInputHandle(maximumLength, cancelAllowed, 0, 0, 0, 0);
}

void LibraryActivateLineInput(std::int32_t handle) {
    ZiDaz::ActivateLineInput(handle);
}

void LibrarySetLineInputText(std::int32_t handle, const std::string& text) {
    ZiDaz::SetLineInputText(text.c_str(), handle);
}

void LibraryEnableIme(int flag) {
    ZiDaz::EnableImeInput(flag);
}

StringOperationServices DefaultServices() {
    return {&LibraryReadFile,         &LibraryFileExists,      &LibrarySoundLengthMs,
            &LibrarySetInputFont,     &LibraryCreateLineInput, &LibraryActivateLineInput,
            &LibrarySetLineInputText, &LibraryEnableIme};
}

StringOperationServices gServices = DefaultServices();

// ---- Text helpers ----

void RemoveAll(std::string& text, std::string_view what) {
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
        text.erase(at, what.size());
    }
}

std::string ReplaceAll(std::string text, std::string_view what, std::string_view with) {
    return ReplaceAllText(text, what, with);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string UpperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

bool GameIsUtf8() {
    return TheBasicData.IsUtf8() == 1;
}

// Bytes of the character at `position`: a code run counts whole, others by their UTF-8 length.
// Negative when the byte starts no character.
int CharacterLength(const std::string& text, std::size_t position) {
    if (static_cast<unsigned char>(text[position]) == 0x01) {
        if (position + 1 >= text.size()) return 1;
        return static_cast<unsigned char>(text[position + 1]) + 1;
    }
    return ZiDaz::SizeOfCharAt(65001, text.c_str() + position);
}

// The length to take at `position`: capped at the text left, at least one byte.
std::size_t StepLength(const std::string& text, std::size_t position, bool report) {
    int length = CharacterLength(text, position);
    if (length < 0 && report) {
        ReportRuntimeError(true,
                           Translate(u"【文字列操作】処理に失敗しました。ファイル読み込み時の文字コ"
                                     u"ードが違う可能性があります(内部処理はUTF-8)"),
                           text, Location());
    }
    std::size_t taken = length < 1 ? 1 : static_cast<std::size_t>(length);
    return std::min(taken, text.size() - position);
}

// Where a host-side path of the game folder lies (backslashes and any letter case resolved).
std::string HostPath(const std::string& path) {
    return platform::ResolveHostPath(path);
}

std::string GameFolder() {
    std::error_code error;
    std::string folder = std::filesystem::current_path(error).string();
    if (error) return {};
    return folder;
}

// ---- The interpreter's part ----

class StringOperation {
  public:
    explicit StringOperation(Game_Interpreter& interpreter)
        : i_(interpreter), command_(*interpreter.currentCommand) {}

    bool Run();

  private:
    std::int32_t Arg(std::size_t n) const { return CommandArgument(command_, n); }
    std::size_t NumericCount() const { return command_.arguments.size(); }
    std::string StringArg(std::size_t n) const {
        return n < command_.strings.size() ? command_.strings[n] : std::string();
    }
    std::string Expand(std::string text) const {
        return ExpandTextCodes(std::move(text), i_.mapEventId, i_.commonEventId, i_.mapId, false,
                               false, nullptr, nullptr, false);
    }
    std::int32_t TargetId() {
        const std::int32_t id = Arg(1);
        return (Arg(2) & 0x10) ? i_.ResolveNumber(id) : id;
    }
    // The rest of a take operation goes back to the source variable.
    void WriteBack(const std::string& rest, bool errorSelectsIndirect);
    bool StartStringInput();
    // Each returns false when the command ends without writing its target.
    bool ReadFile();
    bool ReadBase64();
    bool WriteFile();
    bool ListFolder();
    bool NameRefusedForRead(const std::string& name);
    std::string AnswerQuery(std::string_view token, const std::string& parameter);
    bool Query();

    Game_Interpreter& i_;
    const Game_EventCommand& command_;
    std::string s_, p_;
};

void StringOperation::WriteBack(const std::string& rest, bool errorSelectsIndirect) {
    const std::int32_t kind = Arg(2) & 0xF;
    const std::int32_t source = Arg(3);
    if (kind == 1) {
        i_.WriteString(source, rest);
    } else if (kind == 2) {
        const bool indirect = errorSelectsIndirect ? i_.ResolveString(source) == kErrorText
                                                   : IsIntegerVariableId(source);
        i_.WriteString(indirect ? i_.ResolveNumber(source) : source, rest);
    }
}

bool StringOperation::StartStringInput() {
    if (StringInputActive) return false;
    StringInputActive = 1;
    LineInputInUse = 1;
    const std::int32_t settings = Arg(2);
    const Game_SystemState& state = TheSystemState;
    std::string face = state.fontSelectionName;
    if (face.empty() && !state.fontNames.empty()) face = state.fontNames[0];
    const bool plainFont = TheBasicData.settingBytes.size() > 14 && TheBasicData.settingBytes[14];
    if (gServices.setInputFont) {
        gServices.setInputFont(
            state.baseFontSize * std::max<std::int32_t>(1, WindowScale), face, state.fontThickness,
            plainFont ? ZiDaz::DX_FONTTYPE_NORMAL : ZiDaz::DX_FONTTYPE_ANTIALIASING);
    }
    if (gServices.enableIme) gServices.enableIme(1);
    std::int32_t maximum = i_.ResolveNumber(Arg(3));
    if (TheBasicData.GameDataVersion() < 230 || !GameIsUtf8()) {
        maximum = static_cast<std::int32_t>(static_cast<double>(maximum) * 1.5);
    }
    maximum = std::clamp<std::int32_t>(maximum, 4, 5000);
    const int cancelAllowed = (settings & 0x1000) ? 1 : 0;
    const std::int32_t handle =
        gServices.createLineInput ? gServices.createLineInput(maximum, cancelAllowed) : 0;
    i_.lineInputHandle = handle > 0 ? handle : 0;
    i_.cancelNotAllowed = cancelAllowed ? 0 : 1;
    if (i_.lineInputHandle && gServices.activateLineInput) {
        gServices.activateLineInput(i_.lineInputHandle);
    }
    const std::int32_t target = TargetId();
    if ((settings & 0x2000) && i_.lineInputHandle && gServices.setLineInputText) {
        gServices.setLineInputText(i_.lineInputHandle,
                                   ReplaceAll(i_.ResolveString(target), kInternalBackslash, "\\"));
    }
    i_.inputTarget = target;
    const std::int32_t operation = settings & 0x40F00;
    i_.inputPrefix = (operation == kAppend) ? p_ : std::string();
    return true;
}

bool StringOperation::NameRefusedForRead(const std::string& name) {
    // Reads stay inside the game folder exactly as writes do.
    if (name.find(':') == std::string::npos && name.find("..") == std::string::npos &&
        IsSafeRelativePath(name, 1)) {
        return false;
    }
    if (TestPlay) {
        ReportRuntimeError(true,
                           Translate(u"[文字列操作] ﾃｽﾄ専用ｴﾗｰ:絶対ｱﾄﾞﾚｽ指定か上位ﾌｫﾙﾀﾞ指定(..)"
                                     u"が行われています。"),
                           Translate(u"エラー：ゲームフォルダ外部にはファイル出力/読込はできませ"
                                     u"ん([./]も使えません)"),
                           Location());
    }
    return true;
}

bool StringOperation::ReadFile() {
    if (NameRefusedForRead(s_)) return false;
    std::vector<std::uint8_t> bytes;
    if (!gServices.readFile || !gServices.readFile(s_, bytes)) {
        s_ = kNoFile;
        return true;
    }
    std::string text(bytes.begin(), bytes.end());
    text.resize(strnlen(text.c_str(), text.size()));
    const bool hasBom = StartsWith(text, kUtf8Bom);
    bool convert;
    if (!GameIsUtf8()) {
        convert = true;
    } else if (hasBom) {
        convert = false;
    } else {
        const std::int32_t encoding = NumericCount() >= 5 ? Arg(4) : 0;
        convert = encoding == 2 || (encoding == 0 && !IsValidUtf8(text.c_str()));
    }
    if (convert) text = ConvertCodePageToUtf8(GameCodePageLocale(), text.c_str());
    if (StartsWith(text, kUtf8Bom)) text.erase(0, kUtf8Bom.size());
    s_ = std::move(text);
    return true;
}

bool StringOperation::ReadBase64() {
    s_ = RestoreEscapeCodes(s_);
    if (NameRefusedForRead(s_)) return false;
    std::vector<std::uint8_t> bytes;
    if (!gServices.readFile || !gServices.readFile(s_, bytes)) {
        s_ = kNoFile;
    } else {
        s_ = EncodeBase64(bytes.data(), bytes.size());
    }
    return true;
}

bool StringOperation::WriteFile() {
    const char* outside =
        Translate(u"エラー：ゲームフォルダ外部にはファイル出力/読込はできません([./]も使えません)");
    if (TestPlay && s_.empty()) {
        ReportRuntimeError(true,
                           Translate(u"[文字列操作] テスト専用エラー:書き込み先が空欄です。ファイ"
                                     u"ル出力しませんでした。"),
                           Location(), "");
        return false;
    }
    if (s_.find(':') != std::string::npos || s_.find("..") != std::string::npos) {
        if (TestPlay) {
            ReportRuntimeError(true,
                               Translate(u"[文字列操作] ﾃｽﾄ専用ｴﾗｰ:絶対ｱﾄﾞﾚｽ指定か上位ﾌｫﾙﾀﾞ指"
                                         u"定(..)が行われています。"),
                               outside, Location());
        }
        return false;
    }
    const std::string name = RestoreEscapeCodes(s_);
    if (!IsSafeRelativePath(name, 1)) {
        ReportRuntimeError(true, outside, s_, Location());
        return false;
    }
    const std::string folder = GameFolder();
    CreateFolderChain(name, folder.empty() ? std::string() : folder + "/");
    const std::string upper = UpperCase(name);
    if ((upper.find("BASICDATA\\") != std::string::npos ||
         upper.find("BASICDATA/") != std::string::npos) &&
        (upper.find(".DAT") != std::string::npos || upper.find(".PROJECT") != std::string::npos)) {
        ReportRuntimeError(true,
                           Translate(u"【文字列操作】Basicdataと名の付くフォルダ内に.datや."
                                     u"projectファイルを出力することはできません。"),
                           name, Location());
        return false;
    }
    std::string text = RestoreEscapeCodes(p_);
    if (!GameIsUtf8()) text = ConvertUtf8ToCodePage(GameCodePageLocale(), text.c_str());
    if (NumericCount() >= 5 && Arg(4) == 1 && !StartsWith(text, kUtf8Bom)) {
        text.insert(0, kUtf8Bom);
    }
    if (!WriteTextModeFile(HostPath(name).c_str(), text)) {
        ReportRuntimeError(true, Translate(u"【テキスト出力】 ファイルを出力できませんでした。"),
                           Translate(u"フォルダが存在しないか、アクセス制限されている可能性があ"
                                     u"ります"),
                           name);
    }
    return false;
}

bool StringOperation::ListFolder() {
    s_ = RestoreEscapeCodes(s_);
    if (!s_.empty() && !IsSafeRelativePath(s_, 1)) {
        if (TestPlay) {
            ReportRuntimeError(true,
                               Translate(u"[文字列操作] ﾃｽﾄ専用ｴﾗｰ:絶対ｱﾄﾞﾚｽ指定か上位ﾌｫﾙﾀﾞ指"
                                         u"定(..)が行われています。"),
                               s_, Location());
        }
        return false;
    }
    std::error_code error;
    const std::string host = s_.empty() ? std::string(".") : HostPath(s_);
    if (!s_.empty() && !std::filesystem::exists(host, error)) {
        ReportRuntimeError(true, Translate(u"【文字列操作】指定されたフォルダが存在しません。"), s_,
                           Location());
        return false;
    }
    // The game folder is the current folder; the listed folder is named from it, so the current
    // folder never has to change.
    if (!std::filesystem::is_directory(host, error)) {
        s_ = kErrorText;
        return true;
    }
    std::string names;
    bool first = true;
    for (std::filesystem::directory_iterator it(host, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name == "." || name == "..") continue;
        if (!first) names += '\n';
        names += name;
        first = false;
    }
    s_ = std::move(names);
    return true;
}

std::string StringOperation::AnswerQuery(std::string_view token, const std::string& parameter) {
    if (token == "<<GET_SOUNDTIME>>") {
        const std::int64_t length =
            gServices.soundLengthMs ? gServices.soundLengthMs(parameter) : -1;
        return std::to_string(length < 0 ? -1 : length);
    }
    if (token == "<<GET_FILE_EXIST>>") {
        return gServices.fileExists && gServices.fileExists(parameter) ? "1" : "0";
    }
    if (token == "<<GET_MAPEVENT_ID_FROM_NAME>>") {
        const auto it = TheMapState.eventNameIndex.find(parameter);
        return it == TheMapState.eventNameIndex.end() ? "-1" : std::to_string(it->second);
    }
    if (token == "<<GET_MAPEVENT_NAME_FROM_ID>>") {
        const std::int32_t id = ReadLeadingInt32(parameter);
        std::string result = kNotFound;
        for (const Game_EventData& event : TheMapState.mapData.events) {
            if (event.id == id) result = event.name;
        }
        return result;
    }
    if (token == "<<GET_COMMONEVENT_ID_FROM_NAME>>") {
        const auto it = CommonEventNameMap.find(parameter);
        return it == CommonEventNameMap.end() ? "-1" : std::to_string(it->second);
    }
    if (token == "<<GET_FILENAME_FROM_PICTURE>>") {
        return PictureSourceTextHook ? PictureSourceTextHook(ReadLeadingInt32(parameter))
                                     : std::string(kNotFound);
    }
    if (token == "<<GET_TILE_FILENAME>>") {
        const std::int32_t slot = ReadLeadingInt32(parameter);
        if (slot < 0 || slot > 31 ||
            static_cast<std::size_t>(slot) >= TheMapState.imageNames.size())
            return kNotFound;
        return TheMapState.imageNames[static_cast<std::size_t>(slot)];
    }
    if (token == "<<GET_MAPEV_FILENAME>>") {
        const std::int32_t id = ReadLeadingInt32(parameter);
        for (const auto& event : TheMapState.events) {
            if (event.id != id) continue;
            if (event.tileGraphic >= 0) return "<TILE>" + std::to_string(event.tileGraphic + 32);
            std::string result = event.graphicName;
            for (const std::string& overlay : event.overlays) result += "\n" + overlay;
            return result;
        }
        return kNotFound;
    }
    // "<<GET_STRING_WIDTH_COUNT>>"
    std::string text = ReplaceAll(parameter, kInternalBackslash, "X");
    text = ReplaceAll(std::move(text), "\\", "X");
    text = StripTextCodes(Expand(std::move(text)));
    RemoveAll(text, "\r\n");
    RemoveAll(text, "\n");
    return std::to_string(CountTextColumns(text));
}

bool StringOperation::Query() {
    static constexpr std::string_view kTokens[] = {
        "<<GET_SOUNDTIME>>",
        "<<GET_FILE_EXIST>>",
        "<<GET_MAPEVENT_ID_FROM_NAME>>",
        "<<GET_MAPEVENT_NAME_FROM_ID>>",
        "<<GET_COMMONEVENT_ID_FROM_NAME>>",
        "<<GET_FILENAME_FROM_PICTURE>>",
        "<<GET_TILE_FILENAME>>",
        "<<GET_MAPEV_FILENAME>>",
        "<<GET_STRING_WIDTH_COUNT>>",
    };
    if (!StartsWith(s_, "<<")) return false;
    for (std::string_view token : kTokens) {
        if (StartsWith(s_, token)) {
            s_ = AnswerQuery(token, s_.substr(token.size()));
            return true;
        }
    }
    return false;
}

bool StringOperation::Run() {
    const std::int32_t settings = Arg(2);
    const std::int32_t operation = settings & 0x40F00;
    const std::int32_t kind = settings & 0xF;
    switch (operation) {
        case kAppend:
        case kWriteFile:
        case kRemove:
        case kReplace:
        case kPartBefore:
        case kPartAfter:
        case kAppendToo:
            p_ = i_.ResolveString(TargetId());
            break;
        default:
            break;
    }
    switch (kind) {
        case 0:
            s_ = Expand(StringArg(0));
            break;
        case 1:
            s_ = i_.ResolveString(Arg(3));
            break;
        case 2:
            s_ = IsIntegerVariableId(Arg(3)) ? i_.ResolveString(i_.ResolveNumber(Arg(3)))
                                             : i_.ResolveString(Arg(3));
            break;
        case 3:
            if (!StartStringInput()) return false;
            s_.clear();
            p_.clear();
            break;
        default:
            break;
    }
    switch (operation) {
        case kAppend:
        case kAppendToo:
            break;
        case kFirstLine:
        case kTakeFirstLine: {
            RemoveAll(s_, "\r");
            const int at = FindInCodedText(s_, "\n", 0);
            std::string rest;
            if (at >= 0) {
                rest = s_.substr(static_cast<std::size_t>(at) + 1);
                s_.resize(static_cast<std::size_t>(at));
            }
            if (operation == kTakeFirstLine) WriteBack(rest, false);
            break;
        }
        case kTakeFirstCharacter: {
            std::string rest;
            if (!s_.empty()) {
                const std::size_t length = StepLength(s_, 0, true);
                rest = s_.substr(length);
                s_.resize(length);
            }
            WriteBack(rest, true);
            break;
        }
        case kTakeLastCharacter: {
            std::string rest;
            if (!s_.empty()) {
                std::size_t last = 0;
                for (std::size_t at = 0; at < s_.size(); at += StepLength(s_, at, false)) last = at;
                rest = s_.substr(0, last);
                s_.erase(0, last);
            }
            WriteBack(rest, true);
            break;
        }
        case kReadFile:
            s_ = RestoreEscapeCodes(s_);
            if (!Query() && !ReadFile()) return true;
            break;
        case kReadBase64:
            if (!ReadBase64()) return true;
            break;
        case kWriteFile:
            WriteFile();
            return true;
        case kListFolder:
            if (!ListFolder()) return true;
            break;
        case kRemove:
            if (!s_.empty()) {
                for (int at = FindInCodedText(p_, s_, 0); at >= 0;
                     at = FindInCodedText(p_, s_, 0)) {
                    p_.erase(static_cast<std::size_t>(at), s_.size());
                }
            }
            s_.clear();
            break;
        case kReplace: {
            const std::string replacement = Expand(StringArg(1));
            if (!s_.empty()) {
                for (int at = FindInCodedText(p_, s_, 0); at >= 0;
                     at = FindInCodedText(p_, s_, at + static_cast<int>(replacement.size()))) {
                    p_.replace(static_cast<std::size_t>(at), s_.size(), replacement);
                }
            }
            s_.clear();
            break;
        }
        case kPartBefore:
        case kPartAfter: {
            RemoveAll(s_, "\r");
            const int at = s_.empty() ? -1 : FindInCodedText(p_, s_, 0);
            if (at < 0) {
                p_ = kNotFound;
            } else if (operation == kPartBefore) {
                p_.resize(static_cast<std::size_t>(at));
            } else {
                p_.erase(0, static_cast<std::size_t>(at) + s_.size());
            }
            s_.clear();
            break;
        }
        case kPlainText:
            p_.clear();
            s_ = StripTextCodes(s_);
            break;
        default:  // Set, and the values without an operation of their own
            break;
    }
    s_ = Expand(std::move(s_));
    const std::string result = p_ + s_;
    const std::int32_t target = TargetId();
    if (IsIntegerVariableId(target)) {
        i_.WriteNumber(target, ReadLeadingInt32(result));
    } else {
        i_.WriteString(target, result);
    }
    return true;
}

}  // namespace

bool CommandStringOperation(Game_Interpreter& interpreter) {
    if (!interpreter.currentCommand) return true;
    return StringOperation(interpreter).Run();
}

StringOperationServices& GetStringOperationServices() {
    return gServices;
}

void ResetStringOperationServices() {
    gServices = DefaultServices();
}

void InstallStringCommands() {
    SetCommandHandler(kStringOperationCode, &CommandStringOperation);
}
