// The scene: the one object that owns what is drawn for the map (player, follower and event
// sprites, the map renderer, panorama, fog and the draw order), the message and choice windows,
// and the frame loop with its pacing. Built once when the game starts, destroyed when the main
// loop ends.
//
// Each part of the scene keeps its members in its own section below, so the map drawing, the
// text windows and the frame loop can grow side by side.
#pragma once

#include <cstdint>

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

    // --- Text windows ---------------------------------------------------------------------------

    // --- Frame loop and pacing ------------------------------------------------------------------
};

// The scene while the main loop runs; null before and after.
extern Game_Scene* ActiveScene;
