// The restart point: everything a running game changed is replaced by what the data files say, in
// the order in which the parts depend on each other, while the start-up progress screen shows how
// far it got.
#include "runtime/shell/RestartPoint.h"

#include <utility>

#include "runtime/data/BasicData.h"
#include "runtime/data/CommonEvent.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/data/TileSet.h"
#include "runtime/script/CallCommands.h"
#include "runtime/script/CompilePass.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/FrameCounters.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/GameRandom.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_InputReplay.h"
#include "runtime/shell/Game_Scene.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/SceneServices.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_Character.h"
#include "runtime/world/Game_MapState.h"

std::uint8_t SmoothScaling = 0;
std::uint8_t KeepRunningInactive = 0;

namespace {

// Values of the start-up progress screen's calls.
constexpr std::int32_t kReleaseProgressPicture = -999;
constexpr std::int32_t kLoadProgressPicture = -1000;
constexpr std::int32_t kProgressFadeWaitMs = 16;
// Setting bytes of "Game.dat".
constexpr std::size_t kSmoothScalingByte = 18;
constexpr std::size_t kKeepRunningByte = 19;
// System variables the restart point sets to -1 (the window positions).
constexpr std::int32_t kSystemVariableBase = 9000000;
// The start position: system database type 7, entry 0, fields map, x, y (tiles).
constexpr std::int32_t kStartPositionType = 7;

void Progress(std::int32_t value) {
    if (auto f = GetSceneServices().showStartupProgress) f(value);
}
void Title(std::int32_t stage) {
    if (auto f = GetSceneServices().buildWindowTitle) f(stage);
}
// Runs a service that is there; a missing one does nothing.
template <typename F, typename... Args>
void Call(F f, Args&&... args) {
    if (f) f(std::forward<Args>(args)...);
}

void FadeProgress(std::initializer_list<std::int32_t> values) {
    for (std::int32_t v : values) {
        Progress(v);
        GetFrameClock().waitPumpingMessages(kProgressFadeWaitMs);
    }
}

std::uint8_t SettingByte(std::size_t index) {
    return index < TheBasicData.settingBytes.size() ? TheBasicData.settingBytes[index] : 0;
}

void LinkDatabases() {
    for (Game_Database* db : {&TheUserDatabase, &TheVariableDatabase, &TheSystemDatabase}) {
        db->systemDatabase = &TheSystemDatabase;
        db->userDatabase = &TheUserDatabase;
        db->variableDatabase = &TheVariableDatabase;
    }
}

}  // namespace

bool RunRestartPoint(Game_Scene& scene, RestartPointPass& pass) {
    SceneServices& s = GetSceneServices();
    const bool firstPass = pass.firstPass;

    // Graphs, pictures and masks of the game that ran.
    Call(s.setDrawTarget, kBackScreen);
    Progress(kReleaseProgressPicture);
    Call(s.clearGraphicCache);
    Call(s.deleteAllGraphs);
    Call(s.deleteAllSoftImages);
    Call(s.resetMaskScreen);
    Progress(kLoadProgressPicture);
    if (!firstPass) FadeProgress({-100, -67, -34, -1});
    pass.firstPass = false;
    Progress(20);
    TheGameSystem.CreateScreenGraphs();
    Call(s.resetPictures);
    scene.ReloadWindowSkins();

    // "Game.dat" again: the data folder's copy, else (with its problems reported) the one beside
    // the executable.
    if (ReadBasicData(DataPath + "BasicData/Game.dat", false) == 0) {
        ReadBasicData(ExeFolder + "Game.dat", true);
    }
    SmoothScaling = SettingByte(kSmoothScalingByte);
    Progress(30);
    KeepRunningInactive = SettingByte(kKeepRunningByte);
    Call(s.setKeepRunningInactive, static_cast<int>(KeepRunningInactive));
    Call(s.setMouseCursorVisible, static_cast<int>(TheSystemState.cursorVisible));

    // Common events.
    InsertedCommonFiles.clear();
    CommonEventNameMap.clear();
    TheCommonEvents = Game_CommonEventList();
    Progress(33);
    if (!LoadCommonEvents("BasicData/CommonEvent.dat")) {
        Call(s.shutDownGame);
        return false;
    }
    Progress(37);
    BuildCommonEventNameMap();
    Progress(40);
    Title(2);

    // Sound: everything stopped and released, and a new manager.
    Progress(45);
    RestartSoundManager();
    Progress(50);

    SaveJustLoaded = 0;
    if (!ReplayPlaying) {
        TheInputReplay = Game_InputReplay();
    } else if (!TheInputReplay.values.empty()) {
        GameRandom(2, static_cast<std::uint32_t>(TheInputReplay.values.front()));
    }

    // Databases: the first pass outside test play uses those the start-up loaded.
    if (!firstPass || TestPlay) LoadDatabases(DataPath, false);
    Progress(55);
    Call(s.selectDefaultFonts);
    Progress(63);
    Call(s.loadTextIcons);
    TheGameSystem.CreateScreenGraphs();
    Progress(67);

    // The live game state, built anew.
    TheGameSystem = Game_System();
    RecordSoundListCounts(TheGameSystem);
    Progress(71);
    TheVariableDatabase = Game_Database();
    LoadDatabaseFiles(TheVariableDatabase, DataPath, "BasicData/CDataBase");
    TheVariables = Game_Variables();
    TheSystemState = Game_SystemState();
    Call(s.resetPlayer);
    TheMapState = Game_MapState();
    if (MapPlayer) MapPlayer->SetGraphic(TheBasicData.PlayerGraphic());
    TheInput = Game_Input();
    TheVariables.systemState = &TheSystemState;
    Progress(77);
    for (std::int32_t n = 1; n <= 4; ++n) TheVariables.SetValue(kSystemVariableBase + n, -1);
    if (MapPlayer) MapPlayer->ApplyGameSettings();
    SetFrameSkipLevel(GameIniSettings.FrameSkip);
    Progress(80);
    Call(s.resetSaveManager);

    // Running, with the start map's transfer pending for the first frame.
    TheGameSystem.gameState = GameState::Run;
    TheMapState.mapId = -1;
    TheGameSystem.transferPending = 0;
    TheGameSystem.transferMap = TheSystemDatabase.ReadNumber(kStartPositionType, 0, 0);
    TheGameSystem.transferX = 2 * TheSystemDatabase.ReadNumber(kStartPositionType, 0, 1);
    TheGameSystem.transferY = 2 * TheSystemDatabase.ReadNumber(kStartPositionType, 0, 2);
    TheGameSystem.CreateScreenGraphs();
    LoadTileSetData(TheMapState.tileSetList, DataPath);
    Progress(85);
    if (TestPlay) {
        BuildDatabaseNameIndex();
        TheGameSystem.titleInfoMode = 1;
    } else {
        TheGameSystem.titleInfoMode = -10;
    }
    Title(3);
    Progress(90);
    CompileCommonEvents();
    Progress(100);
    Title(4);
    TheSystemState.mainInterpreter.Setup(true);
    LinkDatabases();

    FadeProgress({100, 130, 160, 190});
    Progress(kReleaseProgressPicture);
    return true;
}
