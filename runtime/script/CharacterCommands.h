// The event commands that place characters and transfer the player, give a character a move
// route, change chip flags, the map's tileset and its tiles, and change the party.
#pragma once

#include <cstdint>

// Plugs the handlers of codes 130, 201, 240, 241, 242 and 270 into the dispatcher.
void InstallCharacterCommands();

// The tile commands ask the drawing to set the map renderer up again (the scene reads and clears
// it once per frame).
extern std::uint8_t TileSetReloadRequest;

// What the party command needs of the player beyond its characters; the defaults reach the live
// player. A null entry does nothing.
struct PartyLinks {
    // Puts every follower on the player and resets the trails.
    void (*gatherFollowers)();
    // 1: the followers repeat the player's last step; 0: they walk its trail. The stored last
    // step becomes 0 either way.
    void (*setFollowerStepMode)(std::int32_t mode);
};
PartyLinks& GetPartyLinks();
// Puts back the defaults.
void ResetPartyLinks();
