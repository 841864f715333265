// The scene: the one object that owns what is drawn for the map (player, follower and event
// sprites, the map renderer, panorama, fog and the draw order), the message and choice windows,
// and the frame loop with its pacing. Built once when the game starts, destroyed when the main
// loop ends.
//
// Each part of the scene keeps its members in its own section below, so the map drawing, the
// text windows and the frame loop can grow side by side.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/shell/DrawOrderBuckets.h"
#include "runtime/world/Game_CharacterSprite.h"
#include "runtime/world/Game_Fog.h"
#include "runtime/world/Game_MapRenderer.h"
#include "runtime/world/Game_Panorama.h"

// --- Frame loop and pacing: the clock seam ----------------------------------------------------
// The two clocks the frame loop reads, its wait and its message pump. The defaults are the
// library's; tests and the replay runner put a virtual clock in their place, so that pacing can
// be checked to the millisecond and a replayed run needs no real time.
struct FrameClock {
    std::int32_t (*readMilliseconds)();
    std::int64_t (*readMicroseconds)();
    // Waits, keeping the window's messages served.
    void (*waitPumpingMessages)(std::int32_t milliseconds);
    // Serves the window's messages once; nonzero when the program is to end.
    int (*pumpMessages)();
};
FrameClock& GetFrameClock();
void ResetFrameClock();

// The pacing of the frame loop: how long each frame lasts and which frames are drawn. While the
// machine keeps up (the measured rate at least kHighRateThreshold) frames are held 16.651 ms
// apart on the microsecond clock; below that the millisecond clock paces frames of the game's
// frame length, drops the drawing of late frames (but draws at least every second one) and
// makes every three frames together last threeFrameLengthMs, so a long frame is made up by
// shorter ones.
class FramePacer {
  public:
    static constexpr std::int32_t kHighRateThreshold = 54;
    static constexpr std::int64_t kHighRatePeriodUs = 16650;

    // Adds the drawing frame-skip factor every frame; a frame is drawn once it reaches 1.0.
    float drawAccumulator = 1.0f;
    std::int32_t lastFrameMs = 0;
    std::int32_t frameLengthMs = 16;
    std::int32_t baseFrameLengthMs = 16;
    std::int32_t threeFrameLengthMs = 49;
    // The last three frames' lengths, newest first.
    std::array<std::int32_t, 3> recentFrameMs{16, 16, 16};
    std::int64_t lastFrameUs = 0;
    std::int32_t skipCount = 0;
    // Milliseconds behind on the millisecond path.
    std::int32_t late = 0;

    // Entry of the frame loop: frame lengths for `multiplier` sixtieths of a second per frame
    // (held to at least 1) and the clock's start.
    void Start(std::int32_t multiplier);
    // Waits for the frame's turn. Returns whether the frame is drawn. `extraWaitMs` is the
    // event script's extra wait, paid out here (it may stay negative after a three-frame wait).
    bool Pace(float frameSkipFactor, std::int32_t measuredRate, bool flipPending,
              std::int32_t& extraWaitMs);
    // Notes the clocks at the end of the pacing step.
    void EndPacing();
    // The frame length of the next frame: while a replay plays with Decide held, 5 ms, or 1 ms
    // with Sub held too (fast replay); otherwise the game's.
    void ChooseFrameLength(bool replayPlaying, bool decideHeld, bool subHeld);
};

class Game_Scene {
  public:
    Game_Scene();
    ~Game_Scene();
    Game_Scene(const Game_Scene&) = delete;
    Game_Scene& operator=(const Game_Scene&) = delete;

    // --- Map parts (map drawing) -------------------------------------------------------------
    // Draws panorama, lower layers, characters interleaved with the upper layer row by row, the
    // top layer and the fog.
    void Draw();
    // The draw order initialised, then RebuildMapParts (the constructor).
    void BuildMapParts();
    // Makes the drawables match the live game state: sprites of the player, the five followers
    // and every map event, a new renderer, panorama and fog (published in the system object).
    void RebuildMapParts();
    // In the destructor: draw order, event sprites, renderer, follower and player sprites.
    void DestroyMapParts();
    // Frame work on the map parts, called by the frame update.
    void ReloadEventGraphics();
    void SetDisplayOrigin(std::int32_t x, std::int32_t y);
    void SetupMapRenderer(bool loadTilesetImages);
    void UpdatePanoramaAndFog();
    // The pictures of one layer drawn between the map passes (-2 below -99999, -1 from -99999
    // to -1). Nothing until the pictures exist.
    void DrawPictureLayer(std::int32_t layer);

    std::unique_ptr<Game_CharacterSprite> playerSprite;
    std::vector<std::unique_ptr<Game_CharacterSprite>> followerSprites;
    std::unique_ptr<Game_MapRenderer> mapRenderer;
    std::unique_ptr<Game_Panorama> panorama;
    std::unique_ptr<Game_Fog> fog;
    std::vector<std::unique_ptr<Game_CharacterSprite>> eventSprites;
    DrawOrderBuckets drawOrder;
    // The brightness the tone leaves for the characters, taken on every drawn frame.
    std::array<std::int32_t, 3> characterColour{255, 255, 255};

    // --- Text windows ---------------------------------------------------------------------------

    // --- Frame loop and pacing ------------------------------------------------------------------
    // Runs the operation of the current game state: the frame loop while it is Run, nothing
    // otherwise.
    void RunState();
    // The frame loop: returns when the message pump asks to end or the game state leaves Run.
    void RunFrames();
    // The work of one frame: the pending transfer, a requested scene reload, the update of every
    // part of the game in the order of the game data's version, pending saves, and on frames
    // chosen for drawing the whole screen into the back screen.
    void UpdateFrame();
    // Reloads the text windows' skins and makes the mask layer (masking off).
    void ReloadWindowSkins();

    FramePacer pacer;
    // The current frame is drawn.
    std::uint8_t drawThisFrame = 0;
    // The previous frame drew into the back screen; it is shown at the start of the next frame.
    std::uint8_t flipPending = 0;
};

// Carries out the map transfer that the system object holds.
void ApplyPendingTransfer();

// The scene while the main loop runs; null before and after.
extern Game_Scene* ActiveScene;
