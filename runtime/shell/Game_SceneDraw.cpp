// Drawing the map part of a frame.
#include "runtime/shell/Game_Scene.h"

void Game_Scene::Draw() {}
