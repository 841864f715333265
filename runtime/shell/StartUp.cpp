#include "runtime/shell/StartUp.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "Source/Library/Main/DuZuder.h"
#include "Source/Library/Main/DxArchive_.h"
#include "Source/Library/Main/DxChar.h"
#include "Source/Library/Main/DxGraphics.h"
#include "Source/Library/Main/DxLog.h"
#include "Source/Library/Main/Windows/DxClock.h"
#include "Source/Library/Main/Windows/DxInputWin.h"
#include "Source/Library/Main/Windows/DxSystemWin.h"
#include "Source/Library/Main/Windows/DxWindow.h"
#include "platform/Gdi32Font.h"
#include "platform/User32.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/script/CommandModules.h"
#include "runtime/script/FlowCommands.h"
#include "runtime/shell/ArchiveCheck.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/Game_Scene.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellMessages.h"
#include "runtime/shell/ShutDown.h"
#include "runtime/shell/StringUtil.h"
#include "runtime/shell/TextConversion.h"
#include "runtime/shell/TitleScreen.h"
#include "runtime/world/Game_MapState.h"

std::string CommandLineText;
std::vector<std::string> StartupArguments;
std::int32_t TestPlayOptions = 0;
std::string ArchiveExtension = ".velk";
std::int32_t DesktopColorDepth = 32;
std::array<std::int32_t, 4> StartMonitorRect{};
void* MainWindowHandle = nullptr;
std::vector<std::u16string> PrivateFontFiles;
std::string StartupClipboardText;
std::int32_t WindowMaximized = 0;

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxTokens = 50;
constexpr std::size_t kScannedTokens = 40;
constexpr std::size_t kMaxTokenBytes = 255;

// The command line's tokens: at most 50, each at most 255 bytes; absent ones are empty.
std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> tokens(kMaxTokens);
    std::size_t count = 0;
    std::size_t at = 0;
    while (count < kMaxTokens) {
        while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at]))) ++at;
        if (at >= line.size()) break;
        const std::size_t from = at;
        while (at < line.size() && !std::isspace(static_cast<unsigned char>(line[at]))) ++at;
        tokens[count++] = line.substr(from, std::min(at - from, kMaxTokenBytes));
    }
    return tokens;
}

// The language name the system gives: this platform reads it from LANG.
std::string DefaultSystemLanguageName() {
    const char* lang = std::getenv("LANG");
    const std::string code = lang ? std::string(lang).substr(0, 2) : std::string();
    if (code == "ja") return "Japanese";
    if (code == "de") return "German";
    if (code == "zh") return "Chinese";
    if (code == "fr") return "French";
    return "English";
}

// The desktop of this platform always has 32-bit colour.
std::int32_t DefaultDesktopColorDepth() {
    return 32;
}

StartUpEnvironment& Environment() {
    static StartUpEnvironment environment{DefaultSystemLanguageName, DefaultDesktopColorDepth,
                                          GetExeFolderUtf8, RunFromRestartPoint};
    return environment;
}

void LogInTestPlay(const char* text) {
    if (TestPlay) ZiDaz::LogTextAndFail(text);
}

LRESULT TrackWindowMaximize(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_SYSCOMMAND) {
        if (wParam == SC_RESTORE) WindowMaximized = 0;
        if (wParam == SC_MAXIMIZE) WindowMaximized = 1;
    }
    return 0;
}

// Collects up to 32 monitor rectangles.
struct MonitorList {
    RECT rects[32];
    int count = 0;
};

BOOL CollectMonitorRect(HMONITOR, HDC, RECT* rect, LPARAM data) {
    auto* list = reinterpret_cast<MonitorList*>(data);
    if (list->count < 32 && rect) list->rects[list->count++] = *rect;
    return 1;
}

void TakeStartMonitorRect() {
    MonitorList list;
    platform::user32::EnumDisplayMonitors(nullptr, nullptr, CollectMonitorRect,
                                          reinterpret_cast<LPARAM>(&list));
    POINT cursor{};
    platform::user32::GetCursorPos(&cursor);
    HMONITOR monitor = platform::user32::MonitorFromPoint(cursor, 2);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (!monitor || !platform::user32::GetMonitorInfoA(monitor, &info)) return;
    for (int i = 0; i < list.count; ++i) {
        const RECT& r = list.rects[i];
        if (r.left == info.rcMonitor.left && r.top == info.rcMonitor.top &&
            r.right == info.rcMonitor.right && r.bottom == info.rcMonitor.bottom) {
            StartMonitorRect = {static_cast<std::int32_t>(r.left), static_cast<std::int32_t>(r.top),
                                static_cast<std::int32_t>(r.right),
                                static_cast<std::int32_t>(r.bottom)};
            return;
        }
    }
}

// Adds every "*.ttf" and then every "*.ttc" of `folder` as a private font; `prefix` goes before
// each name in PrivateFontFiles so that every entry is relative to the executable's folder.
void AddPrivateFonts(const std::string& folder, const std::string& prefix) {
    std::error_code error;
    fs::current_path(fs::path(folder), error);
    if (error) return;
    for (const char* extension : {".ttf", ".ttc"}) {
        std::vector<std::string> names;
        for (fs::directory_iterator it(fs::path("."), error), end; !error && it != end;
             it.increment(error)) {
            std::error_code kindError;
            if (!it->is_regular_file(kindError)) continue;
            std::string name = it->path().filename().string();
            std::string lower = name;
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, extension) == 0) {
                names.push_back(std::move(name));
            }
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::u16string wide = ConvertUtf8ToWide(name.c_str());
            platform::gdi32::AddFontResourceExW(wide.c_str(), 0x10, nullptr);
            PrivateFontFiles.push_back(ConvertUtf8ToWide((prefix + name).c_str()));
        }
    }
}

void ShowMessage(const char16_t* key, const char16_t* captionKey) {
    ShowShellMessageBox(TranslateMessageWide(key), TranslateMessageWide(captionKey));
}

// The connections of the runtime's parts that nothing else makes: the command handlers, the
// live map's links, the error reports of the data readers, and the ends of the game.
void WireRuntime() {
    InstallCommandModules();
    InstallMapLinks();
    InstallRuntimeErrorReporting();
    ShutDownGameHook = [] { ShutDownGame(0); };
    // A damaged or missing data file that ends the game ends it through the shut-down.
    GetDataFileServices().exitProgram = [](int code) { ShutDownGame(code); };
}

}  // namespace

CommandLineOptions ParseCommandLine(const std::string& commandLine) {
    CommandLineOptions options;
    if (commandLine.empty()) return options;
    const std::vector<std::string> tokens = SplitCommandLine(commandLine);
    for (std::size_t i = 0; i < kScannedTokens && !tokens[i].empty(); ++i) {
        if (tokens[i] == "Test_Of_Main") options.testPlay = true;
        if (tokens[i] == "-f") {
            options.dataFolderGiven = true;
            options.dataFolder = tokens[i + 1] + "/";
            ++i;
        }
    }
    // The debug-window scan looks at every token, the folder's too.
    for (std::size_t i = 0; i < kScannedTokens && !tokens[i].empty(); ++i) {
        if (tokens[i] == "Use_Debug_Window") options.debugWindow = true;
    }
    return options;
}

ScreenGeometry ComputeScreenGeometry(const Game_BasicData& data, std::int32_t desktopDepth,
                                     std::int32_t currentTileSize) {
    ScreenGeometry g;
    g.colorDepth = desktopDepth == 16 ? 16 : 32;
    const std::int32_t tile = data.settingBytes[0];
    g.tileSize = tile == 48 || tile == 40 || tile == 32 || tile == 16 ? tile : currentTileSize;
    const std::int32_t width = data.ScreenWidth();
    const std::int32_t height = data.ScreenHeight();
    g.windowScale = static_cast<std::int8_t>(data.settingBytes[32]);
    if (data.settingBytes[21] == 1 && width == 320 && height == 240) g.windowScale = 2;
    // Positions are multiplied and divided by the scale everywhere: never below 1.
    if (g.windowScale < 1) g.windowScale = 1;
    g.width = width * g.windowScale;
    g.height = height * g.windowScale;
    const std::int32_t rate = data.FrameRate();
    // A rate above 60 would make frames of 0 sixtieths, which stops every timer: at least 1.
    g.frameMultiplier = std::max(1, 60 / std::max(1, rate));
    return g;
}

std::int32_t UiLanguageFromSystemName(const std::string& englishLanguageName) {
    return englishLanguageName == "Japanese" ? 0 : 1;
}

StartUpEnvironment& GetStartUpEnvironment() {
    return Environment();
}

void ResetStartUpEnvironment() {
    Environment() = StartUpEnvironment{DefaultSystemLanguageName, DefaultDesktopColorDepth,
                                       GetExeFolderUtf8, RunFromRestartPoint};
}

int RunGame(const std::vector<std::string>& arguments) {
    StartUpEnvironment& env = Environment();
    WireRuntime();
    // 1-2: the command line.
    StartupArguments = arguments;
    CommandLineText.clear();
    for (const std::string& argument : arguments) {
        if (!CommandLineText.empty()) CommandLineText += ' ';
        CommandLineText += argument;
    }
    TestPlay = false;
    const CommandLineOptions options = ParseCommandLine(CommandLineText);
    TestPlay = options.testPlay;
    if (options.dataFolderGiven) DataFolder = options.dataFolder;
    // 3-9.
    ZiDaz::EnableLogOutput(TestPlay ? 1 : 0);
    ZiDaz::SetNarrowCharCode(65001);
    // The sound output is the library's own choice here: no output switch is asked for.
    UiLanguage = 1;
    const std::string languageName = env.systemLanguageName();
    if (!languageName.empty()) UiLanguage = UiLanguageFromSystemName(languageName);
    DesktopColorDepth = env.desktopColorDepth();
    LogInTestPlay("Main 初期化開始\n");
    ZiDaz::EnableDirectInputDevices(1);
    ZiDaz::SetWindowIconResource(100);
    ZiDaz::SetUseHardwareDrawing(1);
    // 10-12: the folders. The Windows player starts in its own folder and every relative path of
    // the game is read from there, so the current folder becomes the executable's.
    ExeFolder = env.exeFolder();
    for (std::size_t i = 4; i < ExeFolder.size(); ++i) {
        if (ExeFolder[i] == '\\') ExeFolder[i] = '/';
    }
    DataPath = ExeFolder + DataFolder;
    std::error_code error;
    if (!ExeFolder.empty()) fs::current_path(fs::path(ExeFolder), error);
    if (TestPlay && fs::exists(fs::path(ExeFolder + "Game_PosErrorStop.txt"), error)) {
        TestPlayOptions |= 1;
    }
    // 13-15: archives. A pending download folder arrives with the download module.
    ZiDaz::EnableArchiveLookup(1);
    if (!RunArchiveCheck()) return -1;
    // 16-18: "Game.dat", first reading.
    ReadBasicData(ExeFolder + DataFolder + "BasicData/" + "Game.dat", true);
    ZiDaz::SetSoundVolumeCurve(TheBasicData.GameDataVersion() <= 210 ? 1 : 0);
    ZiDaz::SetKeepRunningWhenInactive(1);
    MidiAvailable = 1;
    for (std::size_t i : {15u, 16u}) {
        if (TheBasicData.settingBytes[i] < 4) TheBasicData.settingBytes[i] = 4;
    }
    LogInTestPlay("ゲーム基本情報ファイル読み込み完了\n");
    // 19-22: the screen.
    const ScreenGeometry geometry =
        ComputeScreenGeometry(TheBasicData, DesktopColorDepth, TileSize);
    TileSize = geometry.tileSize;
    WindowScale = geometry.windowScale;
    ScreenWidth = geometry.width;
    ScreenHeight = geometry.height;
    ZiDaz::SetScreenMode(ScreenWidth, ScreenHeight, geometry.colorDepth, 60);
    ZiDaz::SetWindowResizable(1, 1);
    ZiDaz::SetFullScreenScalingFilter(TheBasicData.settingBytes[18] == 1 ? 0 : 1, 0);
    FrameMultiplier = geometry.frameMultiplier;
    TheSystemState.ResetForScreen();
    // 23-29: "Game.ini", display and window mode.
    GameIniValues& ini = GameIniSettings;
    std::int32_t start = 0;
    ReadGameIni(start, ini.SoftModeFlag, ini.WindowModeFlag, ini.SEandBGM, ini.FrameSkip);
    if (DesktopColorDepth == 24 && ini.WindowModeFlag == 1) {
        ini.WindowModeFlag = 0;
        ShowMessage(
            u"24ビットカラーの画面モードでは、\r\nウィンドウモードでの起動ができません。\r\n強"
            u"制的に全画面で起動します。",
            u"画面モード調整");
    }
    ZiDaz::GetDisplayCount();
    if (ini.Display_Number >= 1) {
        ZiDaz::SelectDisplay(ini.Display_Number - 1);
    } else {
        ZiDaz::SelectDisplay(-1);
        TakeStartMonitorRect();
    }
    ZiDaz::ChangeWindowMode(ini.WindowModeFlag == 1 ? 1 : 0);
    // "Old_DirectX_Use=" picks the older device; without device back ends there is none to pick.
    if (start == 1) {
        ini.WindowModeFlag = 1;
        ZiDaz::ChangeWindowMode(1);
        ShowMessage(
            u"前回の起動失敗を検知しました。\r\nこのあと起動に失敗した場合は、【ゲームを閉じた"
            u"後】、以下のどちらかをお試しください。\r\n\r\n-「Config」を起動し「グラフィッ"
            u"ク表示モード」を「ソフトウェアモード」にする。\r\n\r\n- または「Game.ini」を開"
            u"き「SoftModeFlag」の行を「SoftModeFlag=1」に書き替える。",
            u"起動中です、初期化処理を行っています");
    }
    if (ini.SoftModeFlag == 1) {
        ZiDaz::SetUseHardwareDrawing(0);
        ZiDaz::SetAllowDirect3D11(0);
    } else {
        WriteGameIni(1, 0);
    }
    // 30-31: the library.
    ZiDaz::SelectWindowStyle(7);
    BuildWindowTitle(-1);
    ZiDaz::SetWindowScaleFactors(1.0, -1.0);
    if (ZiDaz::StartLibrary() == -1) {
        ShowMessage(
            u"起動に失敗しました。\r\nすでにGame.exeが実行されている可能性があります。\r\n\r"
            u"\n※タスクバー上にもGameを確認できない場合は、\r\n　Ctrl+Alt+Delの「タスクマネー"
            u"ジャ」からGameプロセスを切ってください。",
            u"エラー");
        WriteGameIni(0, 0);
        return -1;
    }
    // 32: the progress screen fades in.
    BuildWindowTitle(0);
    ShowStartupProgress(-1000);
    for (std::int32_t v = -100; v <= 0; v += 10) {
        ShowStartupProgress(v);
        ZiDaz::WaitPumpingMessages(16);
    }
    // 33-34: private fonts and the preload.
    PrivateFontFiles.clear();
    AddPrivateFonts(ExeFolder, "");
    AddPrivateFonts(DataPath, DataFolder);
    fs::current_path(fs::path(ExeFolder), error);
    PreloadArchives(ExeFolder, DataFolder);
    ShowStartupProgress(7);
    // 35.
    MainWindowHandle = ZiDaz::QueryMainWindow();
    ZiDaz::SetWindowMessageHook(TrackWindowMaximize);
    DeleteErrorLog();
    ZiDaz::SetHookMessageHandled(0);
    BuildWindowTitle(1);
    // 36: the debug window arrives with its own module. 37: the outside MIDI player is absent on
    // this platform, so a game that asks for MIDI runs without it.
    if (TheBasicData.settingBytes[3] == 1) {
        ShowMessage(
            u"実行ファイルの場所に「 GuruGuruSMF4.dll 」が見つかりませんでした。\r\nMIDI再生なし"
            u"で起動します。",
            u"初期化失敗");
        MidiAvailable = 0;
    }
    // 38-40.
    WriteGameIni(0, 0);
    StartupClipboardText = ConvertWideToUtf8(ReadClipboardText().c_str());
    ShowStartupProgress(12);
    LoadDatabases(DataPath, false);
    BuildDatabaseNameIndex();
    RecordSoundListCounts(TheGameSystem);
    RestartPassState pass;
    pass.databasesLoaded = true;
    // 41-42: the scene, then the restart point and the main loop.
    Game_Scene scene;
    ShowStartupProgress(17);
    LogInTestPlay("タイトル処理開始\n");
    pass.firstPass = true;
    return env.runFromRestartPoint(scene, pass);
}
