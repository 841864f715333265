// The game snapshot a save file holds: one of each savable part of the game state, in the order
// the parts follow one another in a save body. The live game uses the same part classes as its
// globals; a snapshot is a second set of them.
//
// The parts run through a small table (SavePartTable): each entry copies its part from the live
// game, writes it, reads it into a snapshot or into the live game, and resets the live part. A
// module that brings a part of its own replaces its entry's functions there.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/Game_InputReplay.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"

// The player and its five followers as a save holds them, until the player has its own class:
// the player's character part, the followers' parts, the trail-frozen byte, and the trails that
// the player's character carries (stepped flag, footsteps, pixel trail).
class Game_PlayerPart {
  public:
    // The player with its five followers and their trails.
    Game_Player player;

    // The live player (MapPlayer), where it exists.
    void CopyFromLive();
    void CopyToLive() const;

    void WriteSave() const { player.WriteSave(); }
    // False (with the stream's overrun flag) on a short or damaged part.
    bool ReadSave() { return player.ReadSave(); }
};

// The picture list's place in a save until the pictures have their module: an int16 count, which
// this program writes as 0. A save holding pictures cannot be read yet and counts as damaged, so
// that it is never half read.
class Game_PictureListPart {
  public:
    std::int16_t count = 0;

    bool operator==(const Game_PictureListPart&) const = default;
    void WriteSave() const;
    // A negative count fails without the overrun flag; a short buffer or pictures set it.
    bool ReadSave();
};

class Game_SaveData {
  public:
    Game_MapState mapState;
    Game_SystemState systemState;
    Game_Variables variables;
    Game_PlayerPart playerPart;
    Game_PictureListPart pictures;
    Game_Database variableDatabase;
    Game_InputReplay inputReplay;

    // Fresh parts; the variables linked to this snapshot's system state; saved flag 0.
    Game_SaveData();
    Game_SaveData(const Game_SaveData& other);
    Game_SaveData& operator=(const Game_SaveData& other);

    // Points the variables at this snapshot's system state.
    void Relink() { variables.systemState = &systemState; }

    // Appends the parts to TheSaveStream (both passes); sets the saved flag. Always true.
    bool WriteSave();
    // Reads the parts in file order from TheSaveStream: into this snapshot, or (toLive) into the
    // live game with the live load's steps around them. Returns false when a part reader failed
    // (damage); the caller also judges the stream's overrun flag and the bytes left.
    bool ReadSave(bool toLive);
};

// One part of a save body.
struct SavePart {
    const char* name;
    // Copies the live part into the snapshot (a save of the live game).
    void (*copyFromLive)(Game_SaveData& data);
    void (*write)(Game_SaveData& data);
    // Reads the part into the snapshot; false on damage.
    bool (*read)(Game_SaveData& data);
    // Replaces the live part by a fresh one (the live load's step before the read).
    void (*resetLive)();
    // Reads the part into the live game; false on damage.
    bool (*readLive)();
};

inline constexpr std::size_t kSavePartCount = 7;
// The seven parts in file order: map state, system state, variables, player, pictures, variable
// database, key-input replay.
std::array<SavePart, kSavePartCount>& SavePartTable();
// Puts back the default entries.
void ResetSavePartTable();

// What a load into the live game calls around the parts. The defaults use what the runtime has;
// an entry no module provides yet stays null and its step is left out.
struct SnapshotLiveServices {
    void (*stopMusic)();
    void (*clearGraphicCache)();
    void (*deleteAllGraphs)();
    void (*createScreenGraphs)();
    void (*selectDefaultFonts)();
    void (*resetFontCache)();
    void (*loadTextIcons)();
    void (*emptyLivePictures)();
    // Test play: the common events read and compiled again.
    void (*reloadCommonEvents)();
    void (*setFrameSkipLevel)(int level);
    void (*clearScheduledSounds)();
    // The system, user and variable databases read again, then the name index rebuilt.
    void (*reloadDatabases)();
    void (*setTransition)(std::int32_t image, std::int32_t time, std::int32_t mode);
    void (*setFontSlot)(std::int32_t slot, const std::string& face);
};
SnapshotLiveServices& GetSnapshotLiveServices();
void ResetSnapshotLiveServices();
