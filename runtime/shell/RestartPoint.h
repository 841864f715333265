// The restart point: builds the game state anew from the data files, as for a fresh game. It runs
// once after the start-up and again every time the game returns to the title; the scene object
// survives it (its drawables are rebuilt when the frame loop starts).
#pragma once

#include <cstdint>

#include "runtime/shell/StartUp.h"

class Game_Scene;

// The game's settings the restart point takes from "Game.dat": smooth scaling of the screen (the
// texture filter of the final drawing) and running on while the window is inactive.
extern std::uint8_t SmoothScaling;
extern std::uint8_t KeepRunningInactive;

// Clears the graphs, re-reads "Game.dat" and the common events, rebuilds sounds, databases,
// variables, system state, player, map and pictures, compiles the common events, sets up the
// main interpreter and sets the game state to Run with the start map's transfer pending.
// The first pass does not fade the progress screen in again (the start-up did) and, outside test
// play, keeps the databases the start-up loaded. Returns false when the common events could not
// be read (the reader has said so): the game must end.
bool RunRestartPoint(Game_Scene& scene, RestartPassState& pass);
