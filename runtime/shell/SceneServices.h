// What the restart point, the main loop and the frame work call of the rest of the runtime and of
// the game library. Each entry is one step the frame or the restart point takes; the defaults
// call the modules that exist, and an entry left null is a step whose module has not arrived yet
// (text windows, pictures, the player class, downloads, saves, the start-up screen): it does
// nothing. Tests replace entries to watch the order of the steps.
#pragma once

#include <cstdint>
#include <string>

class Game_Scene;

struct SceneServices {
    // ---- The scene's map parts ----
    // Makes the drawables match the live game state (player, followers, events, renderer,
    // panorama, fog).
    void (*rebuildMapParts)(Game_Scene& scene);
    // Every event sprite reloads its graphic.
    void (*reloadEventGraphics)(Game_Scene& scene);
    // The map renderer's display origin in pixels.
    void (*setDisplayOrigin)(Game_Scene& scene, std::int32_t x, std::int32_t y);
    // The renderer's set-up, with the tileset images as well when asked.
    void (*setupMapRenderer)(Game_Scene& scene, bool loadTilesetImages);
    void (*updatePanoramaAndFog)(Game_Scene& scene);
    // Panorama, map, characters and fog.
    void (*drawMap)(Game_Scene& scene);

    // ---- Game state updated every frame ----
    void (*updateMap)();
    void (*runMainInterpreter)();
    void (*runCommonEvents)();
    void (*updateSounds)();
    void (*updateTimers)();
    void (*updateEffects)();
    // Map events and the main interpreter draw their open string inputs.
    void (*drawStringInputs)();

    // ---- The player ----
    // move: the movement part, input: the input part (old game data runs both in one call).
    void (*playerUpdateInput)(bool move, bool input);
    // Half tiles.
    void (*playerTransferTo)(std::int32_t x, std::int32_t y);
    void (*gatherFollowers)();
    // A new player replaces the live one (restart point).
    void (*resetPlayer)();

    // ---- Text windows ----
    void (*closeMessageWindow)();
    void (*closeChoiceWindow)();
    void (*updateMessageWindow)();
    void (*updateChoiceWindow)();
    void (*drawMessageWindow)();
    void (*drawChoiceWindow)();
    void (*reloadWindowSkins)();

    // ---- Pictures and the graphics caches ----
    void (*updatePictures)();
    // Layer 0: pictures below 100000; layer 1: from 100000.
    void (*drawPictureLayer)(std::int32_t layer);
    void (*dropCachedPictureImage)(const std::string& name);
    // Pictures and their image caches emptied, and a new picture list (restart point).
    void (*resetPictures)();
    void (*clearGraphicCache)();
    void (*resetMaskScreen)();
    void (*selectDefaultFonts)();
    void (*loadTextIcons)();

    // ---- Shell ----
    void (*pollDownload)();
    // Writes the save files changed since they were last written.
    void (*flushDirtySaves)();
    // A new save manager replaces the live one (restart point).
    void (*resetSaveManager)();
    void (*stopMidi)();
    void (*handleSystemKeys)(std::int32_t mode);
    void (*updateWindowTitleInfo)(float frameSkipFactor);
    void (*buildWindowTitle)(std::int32_t stage);
    void (*refreshDebugWindow)();
    // The start-up progress screen: a percentage, or -999 (release) / -1000 (load) and the
    // fade values.
    void (*showStartupProgress)(std::int32_t value);
    // Ends the process (the common events could not be read).
    void (*shutDownGame)();

    // ---- Game library ----
    int (*flipScreen)();
    int (*clearDrawTarget)();
    int (*setDrawTarget)(std::int32_t target);
    int (*selectTextureFilter)(std::int32_t filter);
    int (*setBlendMode)(std::int32_t mode, std::int32_t parameter);
    int (*paintRectangle)(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                          std::uint32_t colour, bool fill);
    int (*setBrightness)(std::int32_t red, std::int32_t green, std::int32_t blue);
    int (*deleteAllGraphs)();
    int (*deleteAllSoftImages)();
    int (*createMaskLayer)();
    int (*setMaskLayerActive)(int flag);
    int (*setKeepRunningInactive)(int flag);
    int (*setMouseCursorVisible)(int flag);
};

SceneServices& GetSceneServices();
// Every entry back to its default.
void ResetSceneServices();
// Every entry null (tests install only what they watch).
void ClearSceneServices();
