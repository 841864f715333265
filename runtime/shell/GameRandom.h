// The game logic's one random generator: random-number commands and variable ranges of the event
// script, random movement of map characters and the replay's seed entries all draw from it, and
// saves store and restore its state so that a loaded game continues the same sequence.
//
// A Park-Miller minimal standard generator (multiplier 16807, modulus 2^31 - 1) whose results
// above 2,000,000,000 are stepped again. Only the main thread steps it.
#pragma once

#include <cstdint>

// One plain Park-Miller step: (state x 16807) mod (2^31 - 1).
std::uint32_t ParkMillerStep(std::uint32_t state);

// One step of the game's sequence: Park-Miller steps until the value is at most 2,000,000,000.
std::uint32_t GameRandomStep(std::uint32_t state);

// Mode 0 advances the state and returns it, mode 2 sets it to value and returns it, any other
// mode only reads it. A result of 0 is never handed out: the state is reseeded from the tick
// count, which is returned instead. The state starts from the tick count on first use.
std::uint32_t GameRandom(int mode, std::uint32_t value);
