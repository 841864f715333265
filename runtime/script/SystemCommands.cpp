#include "runtime/script/SystemCommands.h"

#include <spawn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "Source/Library/Main/DuZuder.h"
#include "Source/Library/Main/DxFont.h"
#include "Source/Library/Main/DxGraphicsGraph.h"
#include "Source/Library/Main/DxGraphicsSoftImage.h"
#include "Source/Library/Main/Windows/DxSystemWin.h"
#include "platform/HostPath.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/shell/DebugWindow.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/StringUtil.h"

extern char** environ;

namespace {

constexpr std::int32_t kScreenJpegQuality = 95;
constexpr char kTileImageListReset[] = "RESET";

int DeleteLibraryGraphs() {
    return ZiDaz::DeleteAllGraphs();
}
int DeleteLibrarySounds() {
    return ZiDaz::DeleteAllSounds();
}
int ResetLibraryFonts() {
    return ZiDaz::ResetFontHandles();
}
int EndGameLibrary() {
    return ZiDaz::EndLibrary();
}
int SaveLibraryScreenJpeg(std::int32_t width, std::int32_t height, const std::string& path,
                          std::int32_t quality) {
    return ZiDaz::SaveDrawTargetRectAsJpeg(0, 0, width, height, path.c_str(), quality, 0);
}
std::string ExecutableFolder() {
    return ExeFolder;
}
// The player's own executable, started again with the arguments it was given.
void SpawnOwnExecutable(const std::vector<std::string>& arguments) {
    std::error_code error;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    if (error || self.empty()) return;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(self.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ);
}
void ExitProcess(int code) {
    std::exit(code);
}

SystemCommandServices DefaultServices() {
    SystemCommandServices s{};
    s.deleteAllGraphs = DeleteLibraryGraphs;
    s.deleteAllSounds = DeleteLibrarySounds;
    s.resetFontHandles = ResetLibraryFonts;
    s.writeGameIni = WriteGameIni;
    s.baseFolder = ExecutableFolder;
    s.endLibrary = EndGameLibrary;
    s.startProcess = SpawnOwnExecutable;
    s.exitProcess = ExitProcess;
    s.saveScreenJpeg = SaveLibraryScreenJpeg;
    return s;
}

SystemCommandServices& Services() {
    static SystemCommandServices services = DefaultServices();
    return services;
}

// Runs a service that is there; a missing one does nothing.
template <typename F, typename... Args>
void Call(F f, Args&&... args) {
    if (f) f(std::forward<Args>(args)...);
}

// Everything a restart does after the saves: the library's objects released, "Game.ini"
// written, the library ended, and the program started again in the base folder.
void RestartProcess(bool iniBeforeLibraryEnd) {
    SystemCommandServices& s = Services();
    if (DebugWindowOpen) Call(s.destroyDebugWindow);
    Call(s.deleteAllGraphs);
    Call(s.deleteAllSounds);
    Call(s.resetFontHandles);
    if (iniBeforeLibraryEnd) {
        Call(s.writeGameIni, 0, GameIniSettings.FrameSkip);
    } else {
        Call(s.endLibrary);
        Call(s.writeGameIni, 0, GameIniSettings.FrameSkip);
    }
    if (s.baseFolder) {
        const std::string folder = s.baseFolder();
        if (!folder.empty()) (void)chdir(platform::ResolveHostPath(folder).c_str());
    }
    Call(s.removePrivateFonts);
    if (iniBeforeLibraryEnd) Call(s.endLibrary);
    if (s.startProcess) {
        s.startProcess(s.startupArguments ? s.startupArguments() : std::vector<std::string>{});
    }
    Call(s.exitProcess, 0);
}

std::string ExpandedText(Game_Interpreter& interpreter, const std::string& text) {
    const InterpreterLinks& links = GetInterpreterLinks();
    const std::int32_t mapId = links.mapId ? links.mapId() : -1;
    return RestoreEscapeCodes(ExpandTextCodes(text, interpreter.mapEventId,
                                              interpreter.commonEventId, mapId, true, false,
                                              nullptr, nullptr, false));
}

// Paths named by the game stay inside its folder, as for every command that writes files.
bool CheckGamePath(const std::string& path) {
    if (IsSafeRelativePath(path, 1)) return true;
    ReportRuntimeError(false,
                       TranslateMessageUtf8(u"エラー：ゲームフォルダ外部にはファイル出力/読込は"
                                            u"できません([./]も使えません)"),
                       path, GetScriptLocationText());
    return false;
}

std::filesystem::path HostPath(const std::string& path) {
    return std::filesystem::path(platform::ResolveHostPath(path));
}

// The field up to the next separator (or the rest), and the position after it.
std::string TakeField(const std::string& text, std::size_t& from, char separator) {
    if (from > text.size()) return std::string();
    const std::size_t end = text.find(separator, from);
    const std::size_t stop = end == std::string::npos ? text.size() : end;
    std::string field = text.substr(from, stop - from);
    from = end == std::string::npos ? text.size() + 1 : end + 1;
    return field;
}

}  // namespace

SystemCommandServices& GetSystemCommandServices() {
    return Services();
}

void ResetSystemCommandServices() {
    Services() = DefaultServices();
}

bool ApplyTileImageListText(const std::string& text) {
    std::vector<TileImageEntry>& list = TheSystemState.tileImageList;
    if (text == kTileImageListReset) {
        list.clear();
        return true;
    }
    const std::size_t arrow = text.find("=>");
    if (arrow == std::string::npos) return false;
    const std::string file = text.substr(0, arrow);
    std::size_t from = arrow + 2;
    const std::int32_t chip = ReadLeadingInt32(TakeField(text, from, ','));
    const std::int32_t x = ReadLeadingInt32(TakeField(text, from, ','));
    const std::int32_t y = ReadLeadingInt32(TakeField(text, from, '/'));
    const std::int32_t frames = ReadLeadingInt32(TakeField(text, from, ','));
    const std::int32_t wait = ReadLeadingInt32(TakeField(text, from, '\0'));
    // Chip 0 is the empty autotile; negative chips name nothing.
    if (chip < 1) return true;
    const std::size_t index = static_cast<std::size_t>(chip) + 1;
    if (index >= list.size()) list.resize(index + 1);
    TileImageEntry& entry = list[index];
    entry.fileName = file;
    entry.offsetX = x;
    entry.offsetY = y;
    entry.frameCount = frames < 1 ? 1 : frames;
    entry.frameWait = wait < 1 ? 1 : wait;
    TheGameSystem.mapRendererSetupRequested = 1;
    return true;
}

bool CopyFileByText(const std::string& text) {
    const std::size_t mark = text.find(">>");
    if (mark == std::string::npos) return false;
    const std::string source = text.substr(0, mark);
    const std::string destination = text.substr(mark + 2);
    if (!CheckGamePath(source) || !CheckGamePath(destination)) return true;
    const std::filesystem::path from = HostPath(source);
    const std::filesystem::path to = HostPath(destination);
    std::filesystem::path temporary = to;
    temporary += ".copying";
    std::error_code error;
    std::filesystem::remove(temporary, error);
    // A failed copy is not reported; the old destination stays whole.
    if (!std::filesystem::copy_file(from, temporary, error)) {
        std::filesystem::remove(temporary, error);
        return true;
    }
    std::filesystem::rename(temporary, to, error);
    if (error) std::filesystem::remove(temporary, error);
    return true;
}

bool CommandRestartProgram(Game_Interpreter& interpreter) {
    (void)interpreter;
    Call(Services().flushDirtySaves);
    RestartProcess(true);
    return true;
}

bool CommandSpecialSystem(Game_Interpreter& interpreter) {
    if (interpreter.currentCommand == nullptr) return true;
    const Game_EventCommand& command = *interpreter.currentCommand;
    const std::int32_t operation = command.arguments.size() > 1 ? command.arguments[1] : 0;
    const std::string text = command.strings.empty() ? std::string() : command.strings[0];
    switch (operation) {
        case kSpecialRestart:
            // Pending saves are written first, as for the other restart.
            Call(Services().flushDirtySaves);
            RestartProcess(false);
            break;
        case kSpecialMakeFolder:
            if (CheckGamePath(text)) {
                std::error_code error;
                std::filesystem::create_directory(HostPath(text), error);
            }
            break;
        case kSpecialSaveScreenJpeg: {
            const std::string path = ExpandedText(interpreter, text);
            if (CheckGamePath(path) && Services().saveScreenJpeg) {
                Services().saveScreenJpeg(ScreenWidth, ScreenHeight,
                                          platform::ResolveHostPath(path), kScreenJpegQuality);
            }
            break;
        }
        case kSpecialCopyFile:
            if (!CopyFileByText(ExpandedText(interpreter, text))) {
                ReportRuntimeError(false, "[Copy Error] Not found \">>\"", GetScriptLocationText(),
                                   "");
            }
            break;
        case kSpecialTileImageList:
            if (!ApplyTileImageListText(ExpandedText(interpreter, text))) {
                ReportRuntimeError(false, "[MapSetting Error] Not found \"=>\"",
                                   GetScriptLocationText(), "");
            }
            break;
        default:
            break;
    }
    return true;
}

void InstallSystemCommands() {
    SetCommandHandler(kRestartProgramCode, CommandRestartProgram);
    SetCommandHandler(kSpecialSystemCode, CommandSpecialSystem);
}
