// The runtime's one system object: the game state that the main loop and the frame loop switch on,
// and the flags that event commands set for the frame loop.
//
// Only the members that the error report and the variable store use are declared so far; the
// object grows with the frame loop's own services.
#pragma once

#include <cstdint>

// What the main loop does next. Construction gives Restart; the restart point sets Run.
enum class GameState : std::int32_t {
    Quit = -1,
    Restart = 0,
    Run = 1,
};

struct Game_System {
    GameState gameState = GameState::Restart;
    // The next frame reloads the scene (a save was loaded into the live game). While it is set
    // runtime-error reports are dropped.
    std::uint8_t sceneReloadRequested = 0;
    // Event sprites reload their graphics until the next drawn frame.
    std::uint8_t characterGraphicsChanged = 0;
};

// The one system object (main thread only).
extern Game_System TheGameSystem;
