// The main loop over the game states: Run runs frames, Restart goes back to the restart point,
// Quit ends the loop.
#include "runtime/shell/MainLoop.h"

#include "Source/Library/Main/Windows/DxWindow.h"
#include "runtime/shell/Game_Scene.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RestartPoint.h"
#include "runtime/shell/SceneServices.h"

MainLoopEnd RunMainLoop(Game_Scene& scene, RestartPointPass& pass) {
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

bool FinishMainLoop() {
    if (auto flush = GetSceneServices().flushDirtySaves) flush();
    return ZiDaz::CheckWindowCloseRequest(0) != 0;
}
