// The work of one frame: the pending map transfer, the scene reload after a loaded save, the update
// of every part of the game in a fixed order (older game data keeps its older order), pending
// saves, and on frames chosen for drawing the whole screen into the back screen.
#include <algorithm>
#include <utility>

#include "runtime/data/BasicData.h"
#include "runtime/data/CommonEvent.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/script/CompilePass.h"
#include "runtime/shell/DebugWindow.h"
#include "runtime/shell/Game_Scene.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RestartPoint.h"
#include "runtime/shell/SceneServices.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"

// Set while the scene reload runs its one map update (the map events read it).
std::uint8_t ReloadMapUpdate = 0;

namespace {

// Game data above this version moves the player right after the map events.
constexpr std::int32_t kOldUpdateOrderVersion = 230;
// The picture image that shows the map capture.
constexpr char kMapScreenshotImage[] = "<MAP_SCREENSHOT>";

// Runs a service that is there; a missing one does nothing.
template <typename F, typename... Args>
void Call(F f, Args&&... args) {
    if (f) f(std::forward<Args>(args)...);
}

// A BGM or BGS of a loaded save that was played by file name, or whose id lies past the
// database's list, comes back through the first spare entry of its list.
std::int32_t RestoreLoadedSound(SoundKind kind, std::int32_t id, const std::string& fileName,
                                const std::array<std::int32_t, 3>& values) {
    const auto k = static_cast<std::size_t>(kind);
    const std::int32_t count = TheGameSystem.soundListCounts[k];
    if (id != kSoundPlayedByFileName && id < count) return id;
    if (fileName.empty()) return -1;
    id = count;
    const std::int32_t type = static_cast<std::int32_t>(k) + 1;
    TheSystemDatabase.WriteString(type, id, 0, fileName);
    for (std::int32_t field = 1; field <= 3; ++field) {
        TheSystemDatabase.WriteNumber(type, id, field, values[static_cast<std::size_t>(field - 1)]);
    }
    TheSoundManager.LoadSoundFile(kind, id, fileName);
    const auto found = Game_SoundManager::musicFileSounds.find(DataFolder + fileName);
    if (found != Game_SoundManager::musicFileSounds.end()) {
        TheSoundManager.soundsById[k][id] = found->second;
    }
    ++TheGameSystem.addedSoundEntries[k];
    return id;
}

void ReloadScene(Game_Scene& scene) {
    SceneServices& s = GetSceneServices();
    Call(s.closeChoiceWindow);
    Call(s.clearGraphicCache);
    Call(s.rebuildMapParts, scene);
    Call(s.reloadWindowSkins);
    Call(s.closeMessageWindow);

    TheGameSystem.sceneReloadRequested = 0;
    SaveJustLoaded = 0;
    std::int32_t bgm = TheSystemState.currentBgm;
    std::int32_t bgs = TheSystemState.currentBgs;
    TheSystemState.currentBgm = -100;
    TheSystemState.currentBgs = -100;
    bgm = RestoreLoadedSound(SoundKind::Bgm, bgm, TheSystemState.bgmFileName,
                             TheSystemState.bgmValues);
    bgs = RestoreLoadedSound(SoundKind::Bgs, bgs, TheSystemState.bgsFileName,
                             TheSystemState.bgsValues);
    TheSoundManager.Play(SoundKind::Bgm, bgm, 20, 0, -1);
    TheSoundManager.Play(SoundKind::Bgs, bgs, 20, 0, -1);

    TheVariableDatabase.systemDatabase = &TheSystemDatabase;
    TheVariableDatabase.userDatabase = &TheUserDatabase;
    TheVariableDatabase.variableDatabase = &TheVariableDatabase;
    TheCommonEvents.EnsureNotEmpty();
    // Its own messages report a problem; the list read before stays usable.
    LoadCommonEvents("BasicData/CommonEvent.dat");
    CompileCommonEvents();

    if (TheGameSystem.reloadMapLayers || MapLayersMissing) {
        TheMapState.ReloadLayers(TheMapState.mapId);
        MapLayersMissing = 0;
    }
    TheSystemState.mainInterpreter.Setup(true);
    ReloadMapUpdate = 1;
    Call(s.updateMap);
    ReloadMapUpdate = 0;
    if (TheGameSystem.flipAfterReload) {
        Call(s.clearDrawTarget);
        Call(s.flipScreen);
        TheGameSystem.flipAfterReload = 0;
    }
}

// Nothing more runs this frame after a loaded save, a reload request or the end of the game.
bool FrameCutShort() {
    return SaveJustLoaded || TheGameSystem.sceneReloadRequested ||
           TheGameSystem.gameState == GameState::Quit;
}

// What every order runs once the player has read its input: the transfer, the windows, the
// pictures, the sounds, the timers and the screen effects.
void UpdateAfterInput(SceneServices& s) {
    if (TheGameSystem.transferPending) ApplyPendingTransfer();
    Call(s.updateChoiceWindow);
    Call(s.updateMessageWindow);
    Call(s.updatePictures);
    Call(s.updateSounds);
    Call(s.updateTimers);
    Call(s.updateEffects);
}

// The update of current game data. False when the frame ends early.
bool UpdateCurrentOrder(Game_Scene& scene) {
    SceneServices& s = GetSceneServices();
    Call(s.updateMap);
    Call(s.playerUpdateInput, false, true);
    Call(s.updatePanoramaAndFog, scene);
    Call(s.pollDownload);
    Call(s.runMainInterpreter);
    Call(s.runCommonEvents);
    if (FrameCutShort()) return false;
    Call(s.playerUpdateInput, true, false);
    UpdateAfterInput(s);
    return true;
}

// The update of game data of version 230 or less.
bool UpdateOldOrder(Game_Scene& scene) {
    SceneServices& s = GetSceneServices();
    Call(s.updateMap);
    Call(s.runMainInterpreter);
    Call(s.runCommonEvents);
    if (FrameCutShort()) return false;
    Call(s.playerUpdateInput, true, true);
    UpdateAfterInput(s);
    Call(s.updatePanoramaAndFog, scene);
    Call(s.pollDownload);
    return true;
}

}  // namespace

void Game_Scene::UpdateFrame() {
    SceneServices& s = GetSceneServices();
    if (TheMapState.mapId == -1) ApplyPendingTransfer();
    if (TheGameSystem.gameState == GameState::Quit) return;
    if (TheGameSystem.sceneReloadRequested) ReloadScene(*this);

    TheSystemState.frameCount = (TheSystemState.frameCount + 1) % 10000000;
    if (TheGameSystem.mapRendererSetupRequested) {
        TheGameSystem.mapRendererSetupRequested = 0;
        Call(s.setupMapRenderer, *this, TheSystemState.mapDrawingMode == 1);
    }

    const bool currentOrder = TheBasicData.GameDataVersion() > kOldUpdateOrderVersion;
    if (!(currentOrder ? UpdateCurrentOrder(*this) : UpdateOldOrder(*this))) return;

    Call(s.flushDirtySaves);
    const FrameClock& clock = GetFrameClock();
    TheGameSystem.frameStartHistory[0] =
        clock.readMicroseconds() - TheGameSystem.frameStartHistory[0];
    Call(s.setDisplayOrigin, *this, TheMapState.displayX / 4, TheMapState.displayY / 4);
    if (TheGameSystem.characterGraphicsChanged) Call(s.reloadEventGraphics, *this);

    flipPending = 0;
    if (!drawThisFrame || TheGameSystem.drawingSuspended) return;
    flipPending = 1;
    const std::int64_t drawStart = clock.readMicroseconds();

    TheSystemState.ProcessScreenEffect(0);
    Call(s.clearDrawTarget);
    pacer.drawAccumulator = 0.0f;
    Call(s.selectTextureFilter, 0);
    if (!TheGameSystem.transitionPrepared) {
        TheSystemState.ApplyTone(false, false);
        if (TheSystemState.liveDrawing) {
            Call(s.drawMap, *this);
        } else {
            TheGameSystem.DrawStoredScreen();
        }
        TheSystemState.ApplyTone(true, false);
        TheSystemState.ApplyTone(false, true);
        Call(s.selectTextureFilter, static_cast<std::int32_t>(SmoothScaling));
        // A one-pixel additive box of colour 0: it changes no pixel, but hands the map's drawing
        // to the screen before the effects read it.
        Call(s.setBlendMode, 2, 255);
        Call(s.paintRectangle, 0, 0, 1, 1, 0u, true);
        Call(s.setBlendMode, 0, 255);
        TheSystemState.ProcessScreenEffect(1);
        if (TheSystemState.CaptureScreen(1) == 1) {
            Call(s.dropCachedPictureImage, std::string(kMapScreenshotImage));
        }
        Call(s.drawPictureLayer, 0);
        Call(s.setBrightness, 255, 255, 255);
        Call(s.drawMessageWindow);
        Call(s.drawChoiceWindow);
        Call(s.drawPictureLayer, 1);
        Call(s.selectTextureFilter, 0);
        TheSystemState.DrawFlash();
        TheGameSystem.DrawTransition();
        Call(s.drawStringInputs);
    } else {
        TheGameSystem.DrawTransition();
    }
    Call(s.updateWindowTitleInfo, TheSystemState.GetFrameSkipFactor());
    TheSystemState.ProcessScreenEffect(2);
    if (DebugWindowDirty) Call(s.refreshDebugWindow);
    TheGameSystem.characterGraphicsChanged = 0;
    TheGameSystem.drawTimeHistory[0] = clock.readMicroseconds() - drawStart;
}

void ApplyPendingTransfer() {
    SceneServices& s = GetSceneServices();
    TheGameSystem.transferPending = 0;
    bool mapChanged = false;
    if (TheMapState.mapId != TheGameSystem.transferMap) {
        // The playing BGM and BGS and the scheduled effects stay.
        TheSoundManager.FreeSounds(false);
        TheMapState.LoadMap(TheGameSystem.transferMap);
        if (TheGameSystem.gameState == GameState::Quit) return;
        TheMapState.StartMapMusic();
        mapChanged = true;
    }
    Call(s.playerTransferTo, TheGameSystem.transferX, TheGameSystem.transferY);
    TheMapState.refreshRequest = 1;
    Call(s.updateMap);
    if (mapChanged) {
        Call(s.clearGraphicCache);
        if (ActiveScene) Call(s.rebuildMapParts, *ActiveScene);
    }
    Call(s.gatherFollowers);
}
