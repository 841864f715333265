// The restart point: builds the game state anew from the data files, as for a fresh game. It runs
// once after the start-up and again every time the game returns to the title; the scene object
// survives it (its drawables are rebuilt when the frame loop starts).
#pragma once

#include <cstdint>

class Game_Scene;

// The game's settings the restart point takes from "Game.dat": smooth scaling of the screen (the
// texture filter of the final drawing) and running on while the window is inactive.
extern std::uint8_t SmoothScaling;
extern std::uint8_t KeepRunningInactive;

// What the start-up hands over to the first pass.
struct RestartPointPass {
    // Set by the start-up; cleared by the first pass. The first pass does not fade the progress
    // screen in again (the start-up did).
    bool firstPass = true;
};

// Clears the graphs, re-reads "Game.dat" and the common events, rebuilds sounds, databases,
// variables, system state, player, map and pictures, compiles the common events, sets up the
// main interpreter and sets the game state to Run with the start map's transfer pending.
// Returns false when the common events could not be read: the shut-down has then been called
// (its service ends the process; without one the caller must end).
bool RunRestartPoint(Game_Scene& scene, RestartPointPass& pass);
