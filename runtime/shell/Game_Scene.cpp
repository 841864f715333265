// Building and tearing down the scene. The map parts are built first and destroyed last, the
// text windows in between, so a window never outlives the sprites it is drawn over.
#include "runtime/shell/Game_Scene.h"

Game_Scene* ActiveScene = nullptr;

Game_Scene::Game_Scene() = default;

Game_Scene::~Game_Scene() = default;
