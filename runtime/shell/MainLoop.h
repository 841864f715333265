// The main loop: after the restart point, the scene runs the operation of the current game state
// until the game quits; returning to the title goes back to the restart point without ending the
// process.
#pragma once

#include "runtime/shell/StartUp.h"

class Game_Scene;

// Why the main loop ended.
enum class MainLoopEnd {
    // The game state became Quit.
    Quit,
    // The message pump reported the end (the window was closed).
    MessagePumpEnded,
    // The common events could not be read at a restart point.
    RestartFailed,
};

// Runs the restart point, then the loop; goes back to the restart point on Restart.
MainLoopEnd RunMainLoop(Game_Scene& scene, RestartPassState& pass);

// Writes the save files still pending when the loop has ended.
void FinishMainLoop();
