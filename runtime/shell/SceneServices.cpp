#include "runtime/shell/SceneServices.h"

#include "Source/Library/Main/DxGraphics.h"
#include "Source/Library/Main/DxGraphicsDraw.h"
#include "Source/Library/Main/DxGraphicsGraph.h"
#include "Source/Library/Main/DxGraphicsSoftImage.h"
#include "Source/Library/Main/DxMask.h"
#include "Source/Library/Main/Windows/DxWindow.h"
#include "runtime/data/Game_SaveManager.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/presentation/FontCache.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/shell/Game_Scene.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/TitleScreen.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"

namespace {

void DrawSceneMap(Game_Scene& scene) {
    scene.Draw();
}
void UpdateLiveMap() {
    TheMapState.Update();
}
void RunMainInterpreter() {
    TheSystemState.mainInterpreter.Update();
}
void RunCommonEventRunners() {
    // By index: a runner's script may change the list it stands in.
    for (std::size_t i = 0; i < TheMapState.runners.size(); ++i) TheMapState.runners[i].RunFrame();
}
void UpdateSoundManager() {
    TheSoundManager.Update();
}
void UpdateSystemTimers() {
    TheGameSystem.UpdateTimers();
}
void UpdateSystemEffects() {
    TheSystemState.UpdateEffects();
}
void DrawStringInputs() {
    TheSystemState.mainInterpreter.DrawStringInput();
    for (std::size_t i = 0; i < TheMapState.runners.size(); ++i) {
        TheMapState.runners[i].DrawStringInput();
    }
}
void TransferMapPlayer(std::int32_t x, std::int32_t y) {
    if (MapPlayer == nullptr) return;
    MapPlayer->TransferTo(x, y);
    MapPlayer->ResetAnimation();
}
void UpdateMapPlayer(bool inputPhase, bool updatePhase) {
    if (MapPlayer) MapPlayer->UpdateInput(inputPhase, updatePhase);
}
void GatherMapFollowers() {
    if (MapPlayer) MapPlayer->GatherFollowers();
}
void ResetMapPlayer() {
    RebuildPlayer();
}
void RebuildSceneMapParts(Game_Scene& scene) {
    scene.RebuildMapParts();
}
void ReloadSceneEventGraphics(Game_Scene& scene) {
    scene.ReloadEventGraphics();
}
void SetSceneDisplayOrigin(Game_Scene& scene, std::int32_t x, std::int32_t y) {
    scene.SetDisplayOrigin(x, y);
}
void SetupSceneMapRenderer(Game_Scene& scene, bool loadTilesetImages) {
    scene.SetupMapRenderer(loadTilesetImages);
}
void UpdateScenePanoramaAndFog(Game_Scene& scene) {
    scene.UpdatePanoramaAndFog();
}
void ClearCachedGraphics() {
    ClearGraphicCache();
}
void FlushSaves() {
    FlushDirtySaves();
}
void ResetSaves() {
    TheSaveManager = Game_SaveManager();
}
void StopMidiPlayback() {
    if (GetMidiPlayerCalls().stop) GetMidiPlayerCalls().stop();
}
int FlipLibraryScreen() {
    return ZiDaz::FlipScreen();
}
int ClearLibraryDrawTarget() {
    return ZiDaz::ClearDrawTarget(nullptr);
}
int SetLibraryDrawTarget(std::int32_t target) {
    return ZiDaz::SetDrawTarget(target);
}
int SelectLibraryTextureFilter(std::int32_t filter) {
    return ZiDaz::SelectTextureFilter(filter);
}
int SelectLibraryBlendMode(std::int32_t mode, std::int32_t parameter) {
    return ZiDaz::SelectBlendMode(mode, parameter);
}
int PaintLibraryRectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                          std::uint32_t colour, bool fill) {
    auto paint = GetSystemStateDrawing().paintRectangle;
    return paint ? paint(x1, y1, x2, y2, colour, fill) : 0;
}
int SetLibraryBrightness(std::int32_t red, std::int32_t green, std::int32_t blue) {
    return ZiDaz::SetBrightnessColor(red, green, blue);
}
int DeleteLibraryGraphs() {
    return ZiDaz::DeleteAllGraphs();
}
int DeleteLibrarySoftImages() {
    return ZiDaz::DeleteAllSoftImages();
}
int CreateLibraryMaskLayer() {
    return ZiDaz::CreateMaskLayer();
}
int SetLibraryMaskLayerActive(int flag) {
    return ZiDaz::SetMaskLayerActive(flag);
}
int SetLibraryKeepRunning(int flag) {
    return ZiDaz::SetKeepRunningWhenInactive(flag);
}
int SetLibraryMouseCursorVisible(int flag) {
    return ZiDaz::SetMouseCursorVisible(flag);
}

SceneServices DefaultServices() {
    SceneServices s{};
    s.drawMap = DrawSceneMap;
    s.updateMap = UpdateLiveMap;
    s.runMainInterpreter = RunMainInterpreter;
    s.runCommonEvents = RunCommonEventRunners;
    s.updateSounds = UpdateSoundManager;
    s.updateTimers = UpdateSystemTimers;
    s.updateEffects = UpdateSystemEffects;
    s.drawStringInputs = DrawStringInputs;
    s.playerTransferTo = TransferMapPlayer;
    s.playerUpdateInput = UpdateMapPlayer;
    s.gatherFollowers = GatherMapFollowers;
    s.resetPlayer = ResetMapPlayer;
    s.flushDirtySaves = FlushSaves;
    s.clearGraphicCache = ClearCachedGraphics;
    s.selectDefaultFonts = SelectDefaultFonts;
    s.loadTextIcons = LoadTextIcons;
    s.rebuildMapParts = RebuildSceneMapParts;
    s.reloadEventGraphics = ReloadSceneEventGraphics;
    s.setDisplayOrigin = SetSceneDisplayOrigin;
    s.setupMapRenderer = SetupSceneMapRenderer;
    s.updatePanoramaAndFog = UpdateScenePanoramaAndFog;
    s.resetSaveManager = ResetSaves;
    s.stopMidi = StopMidiPlayback;
    s.showStartupProgress = ShowStartupProgress;
    s.buildWindowTitle = BuildWindowTitle;
    s.flipScreen = FlipLibraryScreen;
    s.clearDrawTarget = ClearLibraryDrawTarget;
    s.setDrawTarget = SetLibraryDrawTarget;
    s.selectTextureFilter = SelectLibraryTextureFilter;
    s.setBlendMode = SelectLibraryBlendMode;
    s.paintRectangle = PaintLibraryRectangle;
    s.setBrightness = SetLibraryBrightness;
    s.deleteAllGraphs = DeleteLibraryGraphs;
    s.deleteAllSoftImages = DeleteLibrarySoftImages;
    s.createMaskLayer = CreateLibraryMaskLayer;
    s.setMaskLayerActive = SetLibraryMaskLayerActive;
    s.setKeepRunningInactive = SetLibraryKeepRunning;
    s.setMouseCursorVisible = SetLibraryMouseCursorVisible;
    return s;
}

SceneServices& Services() {
    static SceneServices services = DefaultServices();
    return services;
}

}  // namespace

SceneServices& GetSceneServices() {
    return Services();
}

void ResetSceneServices() {
    Services() = DefaultServices();
}

void ClearSceneServices() {
    Services() = SceneServices{};
}
