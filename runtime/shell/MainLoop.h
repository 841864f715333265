// The main loop: after the restart point, the scene runs the operation of the current game state
// until the game quits; returning to the title goes back to the restart point without ending the
// process.
#pragma once

class Game_Scene;
struct RestartPointPass;

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
MainLoopEnd RunMainLoop(Game_Scene& scene, RestartPointPass& pass);

// After the scene was destroyed: writes the pending saves. Returns true when the window asked to
// close, so that the caller shuts down at once rather than returning to the entry point.
bool FinishMainLoop();
