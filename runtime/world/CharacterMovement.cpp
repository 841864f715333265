// Steps, turns, jumps and pixel moves of characters, with passability and collision.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/GameRandom.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_Character.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"

namespace {

int DirDx(int d) {
    return (d == 3 || d == 6 || d == 9) ? 1 : (d == 1 || d == 4 || d == 7) ? -1 : 0;
}
int DirDy(int d) {
    return (d == 1 || d == 2 || d == 3) ? 1 : (d == 7 || d == 8 || d == 9) ? -1 : 0;
}

std::int32_t Wrap(std::int32_t v, std::int32_t size) {
    return size > 0 ? ((v % size) + size) % size : v;
}

// The shortest difference on a looping axis.
std::int32_t ShortestDelta(std::int32_t d, std::int32_t size, bool loops) {
    if (!loops || size <= 0) return d;
    std::int32_t best = d;
    for (std::int32_t c : {d - size, d + size})
        if (std::abs(c) < std::abs(best)) best = c;
    return best;
}

std::uint32_t Random() {
    return GameRandom(0, 0);
}

}  // namespace

bool Game_Character::CanMove(std::int32_t fromX, std::int32_t fromY, int dir) const {
    const Game_MapState& map = TheMapState;
    const std::int32_t w2 = 2 * map.GetWidth(), h2 = 2 * map.GetHeight();
    const std::int32_t s = stepLength;
    const bool tall = s == 1 && extendedHitBox;
    for (int pass = 0; pass < (tall ? 2 : 1); ++pass) {
        const std::int32_t cy = fromY - pass;
        std::int32_t nx = fromX + DirDx(dir) * s, ny = cy + DirDy(dir) * s;
        const std::int32_t e = tall ? s : 0;
        if (!map.IsFootprintInside(nx, ny + e)) return false;
        if (map.loopX) nx = Wrap(nx, w2);
        if (map.loopY) ny = Wrap(ny, h2);
        if (passThrough) return true;
        if (!map.CanPassTiles(fromX, cy, dir, s) || !map.CanPassTiles(nx, ny, 10 - dir, s))
            return false;
        auto columnNear = [&](std::int32_t cx) {
            const std::int32_t c = Wrap(cx, w2);
            return c == Wrap(nx - 1, w2) || c == Wrap(nx, w2) || c == Wrap(nx + 1, w2);
        };
        auto rowHits = [&](const Game_Character& other) {
            const std::int32_t r = Wrap(other.y, h2);
            return r == Wrap(ny, h2) || (other.extendedHitBox && r == Wrap(ny + 1, h2));
        };
        const bool partyMember = isPlayer || isFollower;
        for (const Game_Character& event : map.events) {
            if (event.id == id || event.passThrough) continue;
            if (!columnNear(event.x) || !rowHits(event)) continue;
            if (!partyMember || event.IsVisible()) return false;
        }
        if (!isPlayer && MapPlayer != nullptr && MapPlayer != this && !MapPlayer->passThrough &&
            columnNear(MapPlayer->x) && rowHits(*MapPlayer) && IsVisible())
            return false;
    }
    return true;
}

bool IsPositionFreeOfEvents(std::int32_t px, std::int32_t py) {
    const Game_MapState& map = TheMapState;
    const std::int32_t w2 = 2 * map.GetWidth(), h2 = 2 * map.GetHeight();
    const std::int32_t playerId = MapPlayer ? MapPlayer->id : -2;
    const bool playerFlagged = MapPlayer && MapPlayer->isPlayer;
    for (const Game_Character& event : map.events) {
        if (event.passThrough || event.id == playerId) continue;
        const std::int32_t c = Wrap(event.x, w2), r = Wrap(event.y, h2);
        const bool column = c == Wrap(px - 1, w2) || c == Wrap(px, w2);
        const bool row = r == Wrap(py, h2) || (event.extendedHitBox && r == Wrap(py - 1, h2));
        if (column && row && (!playerFlagged || event.IsVisible())) return false;
    }
    return true;
}

void Game_Character::TurnTo(int dir) {
    if (fixedDirection) return;
    direction = static_cast<std::int16_t>(dir);
    standingFrames = 0;
}

std::int32_t Game_Character::StraightStep(int d, bool turnFirst) {
    if (turnFirst) TurnTo(d);
    if (!CanMove(x, y, d)) {
        if (d == 4) pixelOffsetX = 0;
        if (d == 8) pixelOffsetY = 0;
        return 0;
    }
    TurnTo(d);
    x += DirDx(d) * stepLength;
    y += DirDy(d) * stepLength;
    standingFrames = 0;
    RecordFootstep(d);
    lastStepDirection = d;
    if (d == 2 && pixelOffsetY >= 1 && !CanMove(x, y, 2)) pixelOffsetY = 0;
    if (d == 6 && pixelOffsetX > 0 && !CanMove(x, y, 6)) pixelOffsetX = 0;
    return stepLength;
}

std::int32_t Game_Character::DiagonalStep(int d, bool turnFirst) {
    const int v = DirDy(d) > 0 ? 2 : 8, h = DirDx(d) > 0 ? 6 : 4;
    if (turnFirst) TurnDiagonal(d);
    const std::int32_t s = stepLength;
    const bool vOk = CanMove(x, y, v), hOk = CanMove(x, y, h);
    int taken = 0;
    if (vOk && hOk && CanMove(x, y + DirDy(d) * s, h) && CanMove(x + DirDx(d) * s, y, v)) {
        lastStepDirection = d;
        TurnDiagonal(d);
        x += DirDx(d) * s;
        y += DirDy(d) * s;
        standingFrames = 0;
        RecordFootstep(d);
        taken = d;
    } else if (slide1 || slide2) {
        int part = 0;
        if (lastStepDirection != v && vOk)
            part = v;
        else if (hOk)
            part = h;
        else if (vOk)
            part = v;
        if (part == 0) return 0;
        lastStepDirection = part;
        TurnDiagonal(d);
        if (part == v) {
            y += DirDy(d) * s;
            pixelOffsetX = 0;
        } else {
            x += DirDx(d) * s;
            pixelOffsetY = 0;
        }
        standingFrames = 0;
        RecordFootstep(part);
        taken = part;
    } else {
        return 0;
    }
    if (DirDy(taken) > 0 && pixelOffsetY > 0 && !CanMove(x, y, 2)) pixelOffsetY = 0;
    if (DirDx(taken) > 0 && pixelOffsetX > 0 && !CanMove(x, y, 6)) pixelOffsetX = 0;
    return s;
}

std::int32_t Game_Character::MoveDown(bool turnFirst) {
    return StraightStep(2, turnFirst);
}
std::int32_t Game_Character::MoveLeft(bool turnFirst) {
    return StraightStep(4, turnFirst);
}
std::int32_t Game_Character::MoveRight(bool turnFirst) {
    return StraightStep(6, turnFirst);
}
std::int32_t Game_Character::MoveUp(bool turnFirst) {
    return StraightStep(8, turnFirst);
}
std::int32_t Game_Character::MoveDownLeft(bool turnFirst) {
    return DiagonalStep(1, turnFirst);
}
std::int32_t Game_Character::MoveDownRight(bool turnFirst) {
    return DiagonalStep(3, turnFirst);
}
std::int32_t Game_Character::MoveUpLeft(bool turnFirst) {
    return DiagonalStep(7, turnFirst);
}
std::int32_t Game_Character::MoveUpRight(bool turnFirst) {
    return DiagonalStep(9, turnFirst);
}

std::int32_t Game_Character::MoveInDirection(int dir, bool turnFirst) {
    switch (dir) {
        case 2:
        case 4:
        case 6:
        case 8:
            return StraightStep(dir, turnFirst);
        case 1:
        case 3:
        case 7:
        case 9:
            return DiagonalStep(dir, turnFirst);
        default:
            return 0;
    }
}

void Game_Character::TurnDown() {
    TurnTo(2);
}
void Game_Character::TurnLeft() {
    TurnTo(4);
}
void Game_Character::TurnRight() {
    TurnTo(6);
}
void Game_Character::TurnUp() {
    TurnTo(8);
}

void Game_Character::TurnDiagonal(int d) {
    if (fixedDirection) return;
    if (diagonalGraphics) {
        TurnTo(d);
        return;
    }
    if (d == 1 || d == 7)
        TurnTo(direction == 6 ? 4 : (d == 1 ? 2 : 8));
    else
        TurnTo(direction == 4 ? 6 : (d == 3 ? 2 : 8));
}

void Game_Character::TurnDownLeft() {
    TurnDiagonal(1);
}
void Game_Character::TurnUpLeft() {
    TurnDiagonal(7);
}
void Game_Character::TurnUpRight() {
    TurnDiagonal(9);
}
void Game_Character::TurnDownRight() {
    TurnDiagonal(3);
}

void Game_Character::TurnClockwise() {
    if (fixedDirection) return;
    static const int k8[10] = {0, 4, 1, 2, 7, 0, 3, 8, 9, 6};
    static const int k4[10] = {0, 0, 4, 0, 8, 0, 2, 0, 6, 0};
    const int d = direction >= 0 && direction <= 9 ? direction : 0;
    const int next = diagonalGraphics ? k8[d] : k4[d];
    if (next != 0) TurnTo(next);
}

void Game_Character::TurnCounterClockwise() {
    if (fixedDirection) return;
    static const int k8[10] = {0, 2, 3, 6, 1, 0, 9, 4, 7, 8};
    static const int k4[10] = {0, 0, 6, 0, 2, 0, 8, 0, 4, 0};
    const int d = direction >= 0 && direction <= 9 ? direction : 0;
    const int next = diagonalGraphics ? k8[d] : k4[d];
    if (next != 0) TurnTo(next);
}

void Game_Character::TurnRandomSide() {
    if (Random() & 1)
        TurnCounterClockwise();
    else
        TurnClockwise();
}

void Game_Character::TurnRandom() {
    const int setting = TheBasicData.MovementDirections();
    if (setting == 8) {
        static const int kDirs[8] = {8, 6, 4, 2, 1, 3, 7, 9};
        const int d = kDirs[Random() % 8];
        if (d == 2 || d == 4 || d == 6 || d == 8)
            TurnTo(d);
        else
            TurnDiagonal(d);
    } else if (setting == 4) {
        static const int kDirs[4] = {8, 6, 4, 2};
        TurnTo(kDirs[Random() % 4]);
    }
}

namespace {

// The half-tile difference from a target character, the target's pixel offset rounding it up.
void DeltaTo(const Game_Character& self, const Game_Character& target, std::int32_t& dx,
             std::int32_t& dy) {
    const Game_MapState& map = TheMapState;
    const std::int32_t quarter = TileSize / 4;
    const std::int32_t tx = target.x + (target.pixelOffsetX >= quarter ? 1 : 0);
    const std::int32_t ty = target.y + (target.pixelOffsetY >= quarter ? 1 : 0);
    dx = ShortestDelta(self.x - tx, 2 * map.GetWidth(), map.loopX);
    dy = ShortestDelta(self.y - ty, 2 * map.GetHeight(), map.loopY);
}

bool WithinCone(std::int32_t dx, std::int32_t dy) {
    const std::int64_t ax = std::abs(dx), ay = std::abs(dy);
    return dx != 0 && dy != 0 && ax <= 3 * ay && ay <= 3 * ax;
}

}  // namespace

void Game_Character::TurnTowardPlayer() {
    if (MapPlayer == nullptr || fixedDirection) return;
    std::int32_t dx = 0, dy = 0;
    DeltaTo(*this, *MapPlayer, dx, dy);
    if (dx == 0 && dy == 0) return;
    if (WithinCone(dx, dy)) {
        if (dx <= 0)
            TurnDiagonal(dy <= 0 ? 3 : 9);
        else
            TurnDiagonal(dy <= 0 ? 1 : 7);
    } else if (std::abs(dy) < std::abs(dx)) {
        TurnTo(dx <= 0 ? 6 : 4);
    } else {
        TurnTo(dy <= 0 ? 2 : 8);
    }
}

void Game_Character::TurnAwayFromPlayer() {
    if (MapPlayer == nullptr || fixedDirection) return;
    std::int32_t dx = 0, dy = 0;
    DeltaTo(*this, *MapPlayer, dx, dy);
    if (dx == 0 && dy == 0) return;
    if (TheBasicData.MovementDirections() == 8 && TheBasicData.GameDataVersion() >= 220 &&
        WithinCone(dx, dy)) {
        if (dx <= 0)
            TurnDiagonal(dy <= 0 ? 7 : 1);
        else
            TurnDiagonal(dy <= 0 ? 9 : 3);
    } else if (std::abs(dy) < std::abs(dx)) {
        TurnTo(dx <= 0 ? 4 : 6);
    } else {
        TurnTo(dy <= 0 ? 8 : 2);
    }
}

void Game_Character::TurnTowardAngle(std::int32_t dx, std::int32_t dy) {
    if (!diagonalGraphics || fixedDirection) return;
    const double theta = std::atan2(static_cast<double>(dx), static_cast<double>(-dy));
    const std::int64_t a =
        (static_cast<std::int64_t>(std::trunc(theta / 3.1415926535 * 1800 + 3600)) % 3600) + 225;
    static const int kSector[9] = {8, 9, 6, 3, 2, 1, 4, 7, 8};
    const int d = kSector[std::clamp<std::int64_t>(a / 450, 0, 8)];
    if (d == 2 || d == 4 || d == 6 || d == 8)
        TurnTo(d);
    else
        TurnDiagonal(d);
}

void Game_Character::MoveRandom() {
    RandomStep(false);
}

void Game_Character::RandomStep(bool pageSteps) {
    const int setting = TheBasicData.MovementDirections();
    static const int kDirs[8] = {2, 4, 6, 8, 1, 3, 7, 9};
    if (setting == 8)
        TakeStep(kDirs[Random() % 8], false, pageSteps);
    else if (setting == 4)
        TakeStep(kDirs[Random() % 4], false, pageSteps);
}

void Game_Character::StepTowardCell(std::int32_t tx, std::int32_t ty, bool pageSteps) {
    const Game_MapState& map = TheMapState;
    const std::int32_t dx = ShortestDelta(x - tx, 2 * map.GetWidth(), map.loopX);
    const std::int32_t dy = ShortestDelta(y - ty, 2 * map.GetHeight(), map.loopY);
    if (dx == 0 && dy == 0) return;
    const int setting = TheBasicData.MovementDirections();
    if (setting == 8) {
        slide2 = 1;
        if (dx == 0)
            TakeStep(dy < 1 ? 2 : 8, true, pageSteps);
        else if (dy == 0)
            TakeStep(dx < 1 ? 6 : 4, true, pageSteps);
        else if (dx < 1)
            TakeStep(dy < 1 ? 3 : 9, true, pageSteps);
        else
            TakeStep(dy < 1 ? 1 : 7, true, pageSteps);
    } else if (setting == 4) {
        std::int32_t ax = std::abs(dx), ay = std::abs(dy);
        if (ax == ay) (Random() & 1) ? ++ay : ++ax;
        const int hd = dx < 1 ? 6 : 4, vd = dy < 1 ? 2 : 8;
        if (ax > ay) {
            TakeStep(hd, true, pageSteps);
            if (!CheckBetweenTiles() && dy != 0) TakeStep(vd, true, pageSteps);
        } else {
            TakeStep(vd, true, pageSteps);
            if (!CheckBetweenTiles() && dx != 0) TakeStep(hd, true, pageSteps);
        }
    }
}

void Game_Character::MoveTowardPlayer() {
    if (MapPlayer != nullptr) StepTowardCell(MapPlayer->x, MapPlayer->y, false);
}

void Game_Character::MoveAwayFromPlayer() {
    if (MapPlayer == nullptr) return;
    const Game_MapState& map = TheMapState;
    const std::int32_t dx = ShortestDelta(x - MapPlayer->x, 2 * map.GetWidth(), map.loopX);
    const std::int32_t dy = ShortestDelta(y - MapPlayer->y, 2 * map.GetHeight(), map.loopY);
    if (dx == 0 && dy == 0) return;
    const int setting = TheBasicData.MovementDirections();
    if (setting == 8 && TheBasicData.GameDataVersion() >= 220) {
        slide2 = 1;
        if (WithinCone(dx, dy)) {
            if (dx <= 0)
                MoveInDirection(dy <= 0 ? 7 : 1, true);
            else
                MoveInDirection(dy <= 0 ? 9 : 3, true);
        } else if (std::abs(dy) >= std::abs(dx)) {
            MoveInDirection(dy <= 0 ? 8 : 2, true);
        } else {
            MoveInDirection(dx <= 0 ? 4 : 6, true);
        }
        return;
    }
    if (setting != 8 && setting != 4) return;
    std::int32_t ax = std::abs(dx), ay = std::abs(dy);
    if (ax == ay) (Random() & 1) ? ++ay : ++ax;
    const int hd = dx < 1 ? 4 : 6, vd = dy < 1 ? 8 : 2;
    if (ax > ay) {
        MoveInDirection(hd, true);
        if (!CheckBetweenTiles() && dy != 0) MoveInDirection(vd, true);
    } else {
        MoveInDirection(vd, true);
        if (!CheckBetweenTiles() && dx != 0) MoveInDirection(hd, true);
    }
}

void Game_Character::MoveToward(bool toCharacter, std::int32_t idOrX, std::int32_t ty) {
    if (!toCharacter) {
        StepTowardCell(2 * idOrX, 2 * ty, false);
        return;
    }
    Game_MapState& map = TheMapState;
    if (map.events.empty()) return;
    const Game_Character* target = nullptr;
    if (idOrX >= 0)
        target = map.FindEvent(idOrX);
    else if (idOrX == -2)
        target = MapPlayer;
    else if (idOrX <= -3 && idOrX >= -7) {
        if (MapPlayer != nullptr) target = MapPlayer->Follower(-idOrX - 3);
    }
    // An id naming no character of the map leaves the mover where it is.
    if (target == nullptr) return;
    const std::int32_t quarter = TileSize / 4;
    StepTowardCell(target->x + (target->pixelOffsetX >= quarter ? 1 : 0),
                   target->y + (target->pixelOffsetY >= quarter ? 1 : 0), false);
}

void Game_Character::MoveForward() {
    MoveInDirection(direction, false);
}

void Game_Character::MoveBackward() {
    const std::uint8_t fixed = fixedDirection;
    fixedDirection = 1;
    MoveInDirection(10 - direction, false);
    fixedDirection = fixed;
}

void Game_Character::Jump(std::int32_t dx, std::int32_t dy) {
    const std::int32_t ddx = dx * stepLength, ddy = dy * stepLength;
    if (ddx != 0 || ddy != 0) {
        if (std::abs(ddx) > std::abs(ddy))
            TurnTo(ddx < 0 ? 4 : 6);
        else
            TurnTo(ddy < 0 ? 8 : 2);
        if (!CanMove(x + ddx, y + ddy, 0)) return;
    }
    ResetAnimation();
    x += ddx;
    y += ddy;
    standingFrames = 0;
    const std::int32_t distance = static_cast<std::int32_t>(
        std::trunc(std::sqrt(static_cast<double>(ddx) * ddx + static_cast<double>(ddy) * ddy)));
    halfJump = (distance - moveSpeed + 15) / 2;
    jumpFrames = 2 * halfJump;
}

void Game_Character::MoveByPixels(std::int32_t dx, std::int32_t dy) {
    const std::int32_t oldFineX = fineX, oldFineY = fineY;
    pixelTotalX += dx;
    pixelTotalY += dy;
    const std::int32_t savedStep = stepLength;
    stepLength = 1;
    const std::int32_t h = std::max(1, TileSize / 2);
    if (dx != 0) {
        movingByPixels = 1;
        if (dx > 0) {
            for (;;) {
                if (!CanMove(x, y, 6) || (pixelOffsetY > 0 && !CanMove(x + 1, y, 2))) {
                    fineX -= 4 * pixelOffsetX;
                    pixelOffsetX = 0;
                    break;
                }
                if (dx + pixelOffsetX < h) {
                    pixelOffsetX += dx;
                    fineX += 4 * dx;
                    break;
                }
                x += 1;
                crossedHalfTile = 1;
                fineX += 4 * h;
                if (dx == h) break;
                dx -= h;
            }
        } else {
            while (dx != 0) {
                if (!CanMove(x, y, 4) || (pixelOffsetY > 0 && !CanMove(x - 1, y, 2))) {
                    const std::int32_t m = std::max(dx, -pixelOffsetX);
                    fineX += 4 * m;
                    pixelOffsetX += m;
                    break;
                }
                if (dx + pixelOffsetX >= 0) {
                    pixelOffsetX += dx;
                    fineX += 4 * dx;
                    break;
                }
                x -= 1;
                crossedHalfTile = 1;
                fineX -= 4 * h;
                dx += h;
            }
        }
    }
    if (dy != 0) {
        movingByPixels = 1;
        if (dy > 0) {
            for (;;) {
                if (!CanMove(x, y, 2) || (pixelOffsetX > 0 && !CanMove(x, y + 1, 6))) {
                    fineY -= 4 * pixelOffsetY;
                    pixelOffsetY = 0;
                    break;
                }
                if (dy + pixelOffsetY < h) {
                    pixelOffsetY += dy;
                    fineY += 4 * dy;
                    break;
                }
                y += 1;
                crossedHalfTile = 1;
                fineY += 4 * h;
                if (dy == h) break;
                dy -= h;
            }
        } else {
            while (dy != 0) {
                const bool upBlocked = !CanMove(x, y, 8);
                if (upBlocked || (pixelOffsetX > 0 && !CanMove(x, y - 1, 6))) {
                    const std::int32_t m =
                        upBlocked ? std::max(dy, -pixelOffsetY) : -std::min(pixelOffsetY, -dy);
                    fineY += 4 * m;
                    pixelOffsetY += m;
                    break;
                }
                if (dy + pixelOffsetY >= 0) {
                    pixelOffsetY += dy;
                    fineY += 4 * dy;
                    break;
                }
                y -= 1;
                crossedHalfTile = 1;
                fineY -= 4 * h;
                dy += h;
            }
        }
    }
    const std::int32_t movedX = fineX - oldFineX, movedY = fineY - oldFineY;
    fineMoveX += movedX / 4;
    fineMoveY += movedY / 4;
    stepLength = savedStep;
    Game_MapState& map = TheMapState;
    if (!isPlayer || TheSystemState.cameraLock) return;
    const std::int32_t sw = ScreenWidth / std::max(1, WindowScale);
    const std::int32_t sh = ScreenHeight / std::max(1, WindowScale);
    std::int32_t g = fineX / 4 - map.displayX / 4, v = fineY / 4 - map.displayY / 4;
    if (map.loopX)
        while (g < 0 && map.GetWidth() > 0) g += map.GetWidth() * TileSize;
    if (map.loopY)
        while (v < 0 && map.GetHeight() > 0) v += map.GetHeight() * TileSize;
    const std::int32_t cx = TheSystemState.playerCentreX, cy = TheSystemState.playerCentreY;
    if (movedY > 0 && 4 * v > 2 * (sh + 2 * cy - TileSize)) map.ScrollDown(movedY);
    if (movedX < 0 && 4 * g < 2 * (sw + 2 * cx - TileSize)) map.ScrollLeft(-movedX);
    if (movedX > 0 && 4 * g > 2 * (sw + 2 * cx - TileSize)) map.ScrollRight(movedX);
    if (movedY < 0 && 4 * v < 2 * (sh + 2 * cy - TileSize)) map.ScrollUp(-movedY);
}
