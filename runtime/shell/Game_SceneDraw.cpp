// The scene's map parts: building them for the live game state, and drawing the map part of a
// frame (panorama, lower layers, characters interleaved with the upper layer row by row, the top
// layer and the fog).
#include <algorithm>
#include <cmath>

#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/Game_Scene.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RestartPoint.h"
#include "runtime/shell/SceneServices.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"
#include "runtime/world/MapDrawCalls.h"

namespace {

void SelectTextureFilter(std::int32_t filter) {
    SceneServices& s = GetSceneServices();
    if (s.selectTextureFilter) s.selectTextureFilter(filter);
}

// A new sprite for a character; the character's overlays load with it.
std::unique_ptr<Game_CharacterSprite> MakeSprite(Game_Character* character) {
    if (character) character->overlaysChanged = 1;
    return std::make_unique<Game_CharacterSprite>(character);
}

// The display's y in pixels as the draw order walks it: inside the map, or on a vertically
// looping map no further down than its last screenful.
std::int32_t WalkDisplayY() {
    const Game_MapState& map = TheMapState;
    const std::int32_t span = map.GetHeight() * TileSize;
    if (span <= 0) return 0;
    std::int32_t y = (map.displayY / 4) % span;
    if (!map.loopY) {
        while (y < 0) y += span;
        while (y >= span) y -= span;
    } else {
        const double screenRows = static_cast<double>(ScreenHeight) / std::max(1, TileSize);
        while (y > (map.GetHeight() - screenRows) * TileSize) y -= span;
    }
    return y;
}

}  // namespace

void Game_Scene::BuildMapParts() {
    drawOrder.Init();
    RebuildMapParts();
}

void Game_Scene::RebuildMapParts() {
    playerSprite = MakeSprite(MapPlayer);
    followerSprites.resize(5);
    for (std::size_t i = 0; i < followerSprites.size(); ++i)
        followerSprites[i] =
            MakeSprite(MapPlayer ? MapPlayer->Follower(static_cast<std::int32_t>(i)) : nullptr);
    eventSprites.clear();
    for (Game_Character& event : TheMapState.events) eventSprites.push_back(MakeSprite(&event));
    mapRenderer = std::make_unique<Game_MapRenderer>(TheMapState);
    panorama = std::make_unique<Game_Panorama>();
    fog = std::make_unique<Game_Fog>();
    TheGameSystem.activePanorama = panorama.get();
    TheGameSystem.activeFog = fog.get();
}

void Game_Scene::DestroyMapParts() {
    for (auto& list : drawOrder.lists) list.clear();
    eventSprites.clear();
    mapRenderer.reset();
    followerSprites.clear();
    playerSprite.reset();
    if (TheGameSystem.activePanorama == panorama.get()) TheGameSystem.activePanorama = nullptr;
    if (TheGameSystem.activeFog == fog.get()) TheGameSystem.activeFog = nullptr;
    panorama.reset();
    fog.reset();
}

void Game_Scene::ReloadEventGraphics() {
    for (auto& sprite : eventSprites) sprite->LoadGraphic();
}

void Game_Scene::SetDisplayOrigin(std::int32_t x, std::int32_t y) {
    if (!mapRenderer) return;
    mapRenderer->pixelX = x;
    mapRenderer->pixelY = y;
}

void Game_Scene::SetupMapRenderer(bool loadTilesetImages) {
    if (!mapRenderer) return;
    mapRenderer->Setup();
    if (loadTilesetImages) mapRenderer->LoadTilesetImages();
}

void Game_Scene::UpdatePanoramaAndFog() {
    if (panorama) panorama->Update();
    if (fog) fog->Update();
}

void Game_Scene::DrawPictureLayer(std::int32_t) {
    // The pictures below the map come with the picture module.
}

void Game_Scene::Draw() {
    if (!mapRenderer || !panorama || !fog) return;
    Game_SystemState& state = TheSystemState;
    MapDrawCalls& calls = GetMapDrawCalls();
    const bool smooth = state.smoothMapZoom == 1;

    state.ApplyTone(false, false);
    panorama->Draw();
    DrawPictureLayer(-2);
    state.ApplyTone(false, false);

    if (smooth) SelectTextureFilter(2);
    mapRenderer->InvalidateVisibleRange();
    mapRenderer->DrawLayers(MapDrawPass::Base, -1);
    SelectTextureFilter(SmoothScaling);
    DrawPictureLayer(-1);
    SelectTextureFilter(smooth ? 1 : 0);

    state.ApplyTone(false, false);
    drawOrder.Build(mapRenderer->visibleRange);
    characterColour = {255, 255, 255};
    state.ApplyTone(false, false, &characterColour);

    const std::int32_t y = WalkDisplayY();
    for (;;) {
        calls.setBrightness(characterColour[0], characterColour[1], characterColour[2]);
        const std::int32_t item = drawOrder.Next(y);
        if (item == DrawItem::End) break;
        if (item >= 0) {
            if (item < static_cast<std::int32_t>(eventSprites.size()))
                eventSprites[static_cast<std::size_t>(item)]->Draw();
        } else if (item == DrawItem::Player) {
            if (playerSprite) playerSprite->Draw();
        } else if (item <= DrawItem::FirstFollower && item >= DrawItem::LastFollower) {
            const std::size_t n = static_cast<std::size_t>(DrawItem::FirstFollower - item);
            if (n < followerSprites.size()) followerSprites[n]->Draw();
        } else if (item <= -20) {
            mapRenderer->DrawLayers(MapDrawPass::Row, DrawItem::TileRowBase - item);
        }
    }
    mapRenderer->DrawLayers(MapDrawPass::Top, -1);
    fog->Draw();
}
