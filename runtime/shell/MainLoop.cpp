// The main loop over the game states: Run runs frames, Restart goes back to the restart point,
// Quit ends the loop.
#include "runtime/shell/MainLoop.h"

#include "runtime/shell/Game_Scene.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RestartPoint.h"
#include "runtime/shell/SceneServices.h"

MainLoopEnd RunMainLoop(Game_Scene& scene, RestartPassState& pass) {
    if (!RunRestartPoint(scene, pass)) return MainLoopEnd::RestartFailed;
    for (;;) {
        if (GetFrameClock().pumpMessages() != 0) return MainLoopEnd::MessagePumpEnded;
        scene.RunState();
        if (TheGameSystem.gameState == GameState::Restart) {
            if (!RunRestartPoint(scene, pass)) return MainLoopEnd::RestartFailed;
            continue;
        }
        if (TheGameSystem.gameState == GameState::Quit) return MainLoopEnd::Quit;
    }
}

void FinishMainLoop() {
    if (auto flush = GetSceneServices().flushDirtySaves) flush();
}

int RunFromRestartPoint(Game_Scene& scene, RestartPassState& pass) {
    const MainLoopEnd end = RunMainLoop(scene, pass);
    FinishMainLoop();
    // Common events that cannot be read end the game with a failure code; a quit and a closed
    // window end it normally. The caller shuts down either way.
    return end == MainLoopEnd::RestartFailed ? -1 : 0;
}
