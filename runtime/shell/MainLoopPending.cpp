// Stands in for the restart point and the main loop until their module defines
// RunFromRestartPoint (that module replaces this file): the game ends where they would begin.
#include "runtime/shell/StartUp.h"

int RunFromRestartPoint(Game_Scene&, RestartPassState&) {
    return 0;
}
