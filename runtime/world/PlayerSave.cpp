// The player's part of a save: the player, its five followers and the trails they replay.
#include <algorithm>

#include "runtime/data/SaveStream.h"
#include "runtime/world/Game_Player.h"

void Game_Player::WriteSave() const {
    SaveStream& s = TheSaveStream;
    Game_Character::WriteSave();
    s.WriteInt32(kFollowerCount);
    for (const Game_Character& follower : followers) follower.WriteSave();
    s.WriteByte(trailFrozen);
    s.WriteByte(stepped);
    s.WriteInt32(static_cast<std::int32_t>(footsteps.size()));
    for (std::int32_t d : footsteps) s.WriteInt32(d);
    const std::size_t pixels = std::min(pixelTrailX.size(), pixelTrailY.size());
    s.WriteInt32(static_cast<std::int32_t>(pixels));
    for (std::size_t i = 0; i < pixels; ++i) {
        s.WriteInt32(pixelTrailX[i]);
        s.WriteInt32(pixelTrailY[i]);
    }
}

bool Game_Player::ReadSave() {
    SaveStream& s = TheSaveStream;
    if (!Game_Character::ReadSave()) return false;
    std::int32_t count = 0;
    if (!s.ReadInt32(count)) return false;
    // The scene, the draw order and the ids -3 to -7 all count on five followers: any other
    // number means the save is damaged.
    if (count != kFollowerCount) {
        s.overrun = true;
        return false;
    }
    followers.resize(kFollowerCount);
    for (Game_Character& follower : followers)
        if (!follower.ReadSave()) return false;
    if (!s.ReadByte(trailFrozen) || !s.ReadByte(stepped)) return false;
    if (!ReadSaveIntList(footsteps)) return false;
    if (s.formatNumber < 138) return true;
    std::int32_t pixels = 0;
    if (!s.ReadInt32(pixels)) return false;
    if (pixels < 0 || pixels > s.Remaining() / 8) {
        s.overrun = true;
        return false;
    }
    std::vector<std::int32_t> xs(static_cast<std::size_t>(pixels)),
        ys(static_cast<std::size_t>(pixels));
    for (std::int32_t i = 0; i < pixels; ++i)
        if (!s.ReadInt32(xs[static_cast<std::size_t>(i)]) ||
            !s.ReadInt32(ys[static_cast<std::size_t>(i)]))
            return false;
    pixelTrailX = std::move(xs);
    pixelTrailY = std::move(ys);
    return true;
}
