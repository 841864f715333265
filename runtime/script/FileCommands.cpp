#include "runtime/script/FileCommands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "Source/Library/Main/DxGraphicsGraph.h"
#include "Source/Library/Main/DxGraphicsSoftImage.h"
#include "platform/HostPath.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/InterpreterOperations.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/StringUtil.h"
#include "runtime/shell/TextConversion.h"

void (*DropCachedPictureImageHook)(const std::string& name) = nullptr;

namespace {

const char* Translate(std::u16string key) {
    return TranslateMessageUtf8(std::move(key));
}

const char* OutsideMessage() {
    return Translate(
        u"エラー：ゲームフォルダ外部にはファイル出力/読込はできません([./]も使えません)");
}

bool LibrarySaveJpeg(const std::string& name) {
    return ZiDaz::SaveDrawTargetRectAsJpeg(0, 0, ScreenWidth, ScreenHeight, name.c_str(), 85, 1) ==
           0;
}

bool LibrarySavePng(const std::string& name) {
    const ZiDaz::HandleValue graph = ZiDaz::CreateDrawableGraph(ScreenWidth, ScreenHeight, 0);
    if (graph == -1) return false;
    bool saved = ZiDaz::CopyDrawTargetToGraph(0, 0, ScreenWidth, ScreenHeight, graph) == 0;
    saved = saved &&
            ZiDaz::SaveGraphRectAsPng(graph, 0, 0, ScreenWidth, ScreenHeight, name.c_str(), 6) == 0;
    ZiDaz::DestroyGraph(graph);
    return saved;
}

FileCommandServices DefaultServices() {
    // The platform offers no browser to open: the address is dropped.
    return {&StartDownload, nullptr, &LibrarySaveJpeg, &LibrarySavePng};
}

FileCommandServices gServices = DefaultServices();

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string LowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool GameIsUtf8() {
    return TheBasicData.IsUtf8() == 1;
}

std::string StringArg(const Game_EventCommand& command, std::size_t n) {
    return n < command.strings.size() ? command.strings[n] : std::string();
}

// Copies through a temporary file renamed over the destination, so a failed copy never leaves
// the destination half written or gone.
bool CopyFileSafely(const std::string& source, const std::string& destination) {
    std::ifstream in(source, std::ios::binary);
    if (!in) return false;
    const std::string temporary = destination + ".copying";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << in.rdbuf();
        out.flush();
        if (!out || in.bad()) {
            out.close();
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), destination.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

class FileCommand {
  public:
    explicit FileCommand(Game_Interpreter& interpreter)
        : i_(interpreter), command_(*interpreter.currentCommand) {}

    void Download();
    void Operate();

  private:
    std::int32_t Arg(std::size_t n) const { return CommandArgument(command_, n); }
    std::string ExpandPlain(std::string text) const {
        return ExpandTextCodes(std::move(text), i_.mapEventId, i_.commonEventId, i_.mapId, true,
                               false, nullptr, nullptr, false);
    }
    bool CheckSafe(const std::string& name) const {
        if (IsSafeRelativePath(name, 1)) return true;
        ReportRuntimeError(true, OutsideMessage(), name, GetScriptLocationText());
        return false;
    }
    void Screenshot(bool png);
    void DropFromPictureCache(const std::string& name) const;

    Game_Interpreter& i_;
    const Game_EventCommand& command_;
};

void FileCommand::Download() {
    DownloadRequest request;
    std::string url = ExpandPlain(StringArg(command_, 0));
    request.path = RestoreEscapeCodes(ExpandPlain(StringArg(command_, 1)));
    request.flag = Arg(1) & 1;
    std::int32_t* waitFlag = (Arg(1) & 2) ? &i_.waitingForDownload : nullptr;
    std::int32_t result = Arg(2);
    if (result >= 1600000 && result <= 1699999) {
        // The text arrives later, when "this common event" may mean another one.
        result = 15000000 + 100 * i_.commonEventId + result % 100;
    }
    request.resultVariable = result;
    const std::int32_t options = command_.arguments.size() >= 4 ? Arg(3) : 0;
    const bool utf8 = GameIsUtf8();
    if (!((options & 0x2) && utf8)) url = ConvertUtf8ToCodePage(GameCodePageLocale(), url.c_str());
    request.codePageText = !((options & 0x100) && utf8);
    if (options & 0x4) {
        const std::size_t question = url.find('?');
        if (question != std::string::npos) {
            url = url.substr(0, question + 1) + EncodeUrlForm(url.substr(question + 1));
        }
    }
    if ((options & 0x10) && command_.strings.size() >= 3) {
        request.post = true;
        std::string body = RestoreEscapeCodes(ExpandPlain(StringArg(command_, 2)));
        if (!((options & 0x20) && utf8))
            body = ConvertUtf8ToCodePage(GameCodePageLocale(), body.c_str());
        if (options & 0x40) body = EncodeUrlForm(body);
        request.body = std::move(body);
    }
    request.url = url;
    if (Arg(2) == -4) {
        if (StartsWith(url, "http://") || StartsWith(url, "https://")) {
            if (gServices.openUrl) gServices.openUrl(url);
        } else {
            ReportRuntimeError(true,
                               Translate(u"【ダウンロード】「http://」または「https://」から始まる"
                                         u"URL以外を開くことはできません。"),
                               url, GetScriptLocationText());
        }
        return;
    }
    if (!IsSafeRelativePath(request.path, 1)) {
        ReportRuntimeError(true, OutsideMessage(), request.path, GetScriptLocationText());
        return;
    }
    if (!gServices.startDownload || !gServices.startDownload(request, waitFlag)) {
        ReportRuntimeError(
            true, Translate(u"前のインターネット接続が未終了です、以下のURLに接続できませんでした"),
            StringArg(command_, 0), "");
    }
}

void FileCommand::DropFromPictureCache(const std::string& name) const {
    if (!DropCachedPictureImageHook) return;
    std::string key = name;
    std::replace(key.begin(), key.end(), '\\', '/');
    std::string dataFolder = DataFolder;
    std::replace(dataFolder.begin(), dataFolder.end(), '\\', '/');
    if (!StartsWith(key, dataFolder)) key = "../" + name;
    DropCachedPictureImageHook(key);
}

void FileCommand::Screenshot(bool png) {
    const std::string name = ExpandPlain(StringArg(command_, 0));
    if (!CheckSafe(name)) return;
    auto save = png ? gServices.saveScreenPng : gServices.saveScreenJpeg;
    if (!save || !save(name)) {
        ReportRuntimeError(true, Translate(u"スクリーンショットの保存に失敗しました."), name,
                           GetScriptLocationText());
        return;
    }
    DropFromPictureCache(name);
}

void FileCommand::Operate() {
    switch (Arg(1)) {
        case 0:
            Screenshot(false);
            break;
        case 1: {
            const std::string name = ExpandPlain(StringArg(command_, 0));
            if (!CheckSafe(name)) break;
            if (name.find("../") != std::string::npos) {
                ReportRuntimeError(true,
                                   Translate(u"上位フォルダ(../)のファイルは操作できません。"),
                                   name, GetScriptLocationText());
                break;
            }
            // An existing folder or a missing parent is no error worth a report.
            mkdir(platform::ResolveHostPath(name).c_str(), 0777);
            break;
        }
        case 2: {
            const std::string source = ExpandPlain(StringArg(command_, 0));
            const std::string destination = ExpandPlain(StringArg(command_, 1));
            if (!CheckSafe(source) || !CheckSafe(destination)) break;
            if (!CopyFileSafely(platform::ResolveHostPath(source),
                                platform::ResolveHostPath(destination))) {
                ReportRuntimeError(true, Translate(u"ファイルのコピーに失敗しました。"),
                                   source + " => " + destination, GetScriptLocationText());
            }
            break;
        }
        case 3: {
            const std::string name = ExpandPlain(StringArg(command_, 0));
            if (!CheckSafe(name)) break;
            std::string folded = LowerCase(name);
            std::replace(folded.begin(), folded.end(), '\\', '/');
            std::string dataFolder = LowerCase(DataFolder);
            std::replace(dataFolder.begin(), dataFolder.end(), '\\', '/');
            if (StartsWith(folded, dataFolder) || name.find("../") != std::string::npos ||
                name.find("./") != std::string::npos) {
                ReportRuntimeError(true,
                                   Translate(u"Dataフォルダ内の操作、または上位フォルダ(../)や(./"
                                             u")の指定はできません。"),
                                   name, GetScriptLocationText());
                break;
            }
            std::remove(platform::ResolveHostPath(name).c_str());
            break;
        }
        case 4:
            Screenshot(true);
            break;
        case 5: {
            const std::int64_t wait = static_cast<std::int64_t>(TheGameSystem.ExtraWaitMs) + Arg(2);
            TheGameSystem.ExtraWaitMs =
                static_cast<std::int32_t>(std::clamp<std::int64_t>(wait, 0, INT32_MAX));
            break;
        }
        default:
            break;
    }
}

}  // namespace

bool CommandDownload(Game_Interpreter& interpreter) {
    if (interpreter.currentCommand) FileCommand(interpreter).Download();
    return true;
}

bool CommandFileOperation(Game_Interpreter& interpreter) {
    if (interpreter.currentCommand) FileCommand(interpreter).Operate();
    return true;
}

FileCommandServices& GetFileCommandServices() {
    return gServices;
}

void ResetFileCommandServices() {
    gServices = DefaultServices();
}

void InstallFileCommands() {
    SetCommandHandler(kDownloadCode, &CommandDownload);
    SetCommandHandler(kFileOperationCode, &CommandFileOperation);
}
