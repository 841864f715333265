#include "runtime/world/Game_Player.h"

#include <algorithm>
#include <memory>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_Event.h"
#include "runtime/world/Game_MapState.h"

Game_Player* MapPlayer = nullptr;

namespace {

std::unique_ptr<Game_Player> LivePlayer;

int DirDx(int d) {
    return (d == 3 || d == 6 || d == 9) ? 1 : (d == 1 || d == 4 || d == 7) ? -1 : 0;
}
int DirDy(int d) {
    return (d == 1 || d == 2 || d == 3) ? 1 : (d == 7 || d == 8 || d == 9) ? -1 : 0;
}

// The numeric-keypad direction of a pixel move.
int DirectionOf(std::int32_t dx, std::int32_t dy) {
    const int sx = dx > 0 ? 1 : dx < 0 ? -1 : 0;
    const int sy = dy > 0 ? 1 : dy < 0 ? -1 : 0;
    return 5 + sx - 3 * sy;
}

std::int32_t GameScreenWidth() {
    return ScreenWidth / std::max(1, WindowScale);
}
std::int32_t GameScreenHeight() {
    return ScreenHeight / std::max(1, WindowScale);
}

// A message or choice window is shown.
bool WindowOpen() {
    return !TheGameSystem.messageText.empty() || !TheGameSystem.choiceText.empty();
}

bool TransitionRuns() {
    const Game_System& s = TheGameSystem;
    return s.transitionActive && (s.bytes2[0] || s.bytes2[1]);
}

// A shadow number of the per-follower list: -1 the player's, -2 and less none.
std::uint8_t FollowerShadow(std::int32_t value) {
    if (value == -1) return static_cast<std::uint8_t>(TheSystemState.playerShadow & 0xFF);
    if (value <= -2) return 255;
    return static_cast<std::uint8_t>(value & 0xFF);
}

void SetShadow(Game_Character& c, std::uint8_t value) {
    if (c.settingBytes.empty()) c.settingBytes.push_back(255);
    c.settingBytes[0] = value;
}

}  // namespace

bool MainInterpreterRunning() {
    return TheSystemState.mainInterpreter.IsRunning();
}

Game_Player& RebuildPlayer() {
    LivePlayer = std::make_unique<Game_Player>();
    MapPlayer = LivePlayer.get();
    return *LivePlayer;
}

Game_Player::Game_Player() {
    id = -2;
    isPlayer = 1;
    slide1 = 1;
    appliedExtraGraphic = -1;
    SetGraphic("");
    currentRoute.commands.clear();
    followers.resize(kFollowerCount);
    for (std::int32_t i = 0; i < kFollowerCount; ++i) {
        Game_Character& f = followers[static_cast<std::size_t>(i)];
        f.id = -3 - i;
        f.passThrough = 1;
        f.isFollower = 1;
    }
}

void Game_Player::Refresh() {
    opacity = 255;
    blendMode = 0;
}

Game_Character* Game_Player::Follower(std::int32_t index) {
    return index >= 0 && index < static_cast<std::int32_t>(followers.size())
               ? &followers[static_cast<std::size_t>(index)]
               : nullptr;
}

// ---- Input phase ----

std::int32_t Game_Player::StepInDirection(int dir, bool turnFirst) {
    if (DirDx(dir) == 0 && DirDy(dir) == 0) return 0;
    StartEventsAtStep(x + DirDx(dir) * stepLength, y + DirDy(dir) * stepLength, dir);
    return MoveInDirection(dir, turnFirst);
}

std::int32_t Game_Player::StepDown(bool turnFirst) {
    return StepInDirection(2, turnFirst);
}
std::int32_t Game_Player::StepLeft(bool turnFirst) {
    return StepInDirection(4, turnFirst);
}
std::int32_t Game_Player::StepRight(bool turnFirst) {
    return StepInDirection(6, turnFirst);
}
std::int32_t Game_Player::StepUp(bool turnFirst) {
    return StepInDirection(8, turnFirst);
}
std::int32_t Game_Player::StepDownLeft(bool turnFirst) {
    return StepInDirection(1, turnFirst);
}
std::int32_t Game_Player::StepDownRight(bool turnFirst) {
    return StepInDirection(3, turnFirst);
}
std::int32_t Game_Player::StepUpLeft(bool turnFirst) {
    return StepInDirection(7, turnFirst);
}
std::int32_t Game_Player::StepUpRight(bool turnFirst) {
    return StepInDirection(9, turnFirst);
}

namespace {

bool CanTakeInput(Game_Player& p) {
    return !p.CheckBetweenTiles() && !MainInterpreterRunning() && !p.routeRunning &&
           !WindowOpen() && !TransitionRuns();
}

}  // namespace

void Game_Player::ReadMovementInput() {
    const Game_Input& in = TheInput;
    const bool down = in.playerDownEnabled, left = in.playerLeftEnabled;
    const bool right = in.playerRightEnabled, up = in.playerUpEnabled;
    const bool turn = !fixedDirection;
    // A diagonal needs both of its parts accepted; with one part only, that part is taken.
    auto diagonal = [&](int d, bool vertical, bool horizontal, int v, int h) {
        if (vertical && horizontal)
            StepInDirection(d, turn);
        else if (vertical)
            StepInDirection(v, turn);
        else if (horizontal)
            StepInDirection(h, turn);
    };
    const int setting = TheBasicData.MovementDirections();
    if (setting == 8) {
        switch (in.dir8) {
            case 1:
                diagonal(1, down, left, 2, 4);
                break;
            case 3:
                diagonal(3, down, right, 2, 6);
                break;
            case 7:
                diagonal(7, up, left, 8, 4);
                break;
            case 9:
                diagonal(9, up, right, 8, 6);
                break;
            case 2:
                if (down) StepInDirection(2, turn);
                break;
            case 4:
                if (left) StepInDirection(4, turn);
                break;
            case 6:
                if (right) StepInDirection(6, turn);
                break;
            case 8:
                if (up) StepInDirection(8, turn);
                break;
            default:
                break;
        }
    } else if (setting == 4) {
        const bool accepted[10] = {false, false, down, false, left, false, right, false, up, false};
        const int d = in.dir4;
        if (d >= 0 && d <= 9 && accepted[d]) StepInDirection(d, turn);
    }
}

void Game_Player::UpdateInput(bool inputPhase, bool updatePhase) {
    if (inputPhase) {
        const std::int32_t startX = x, startY = y;
        if (CanTakeInput(*this)) ReadMovementInput();
        if (x != startX || y != startY) movedThisFrame = 1;
        if (CanTakeInput(*this) && TheInput.playerButtonEnabled[Decide] &&
            TheInput.gameButtonPressed[Decide]) {
            StartEventsHere(TriggerMask(TriggerKind::DecisionKey));
            StartEventsAhead(TriggerMask(TriggerKind::DecisionKey));
        }
    }
    if (!updatePhase) return;
    if (TheSystemState.playerShadow != appliedExtraGraphic)
        SetShadow(*this, static_cast<std::uint8_t>(TheSystemState.playerShadow & 0xFF));
    const std::int32_t startFineX = fineX, startFineY = fineY;
    const bool wasBetween = CheckBetweenTiles();
    Game_Character::Update();
    RecordPixelMove(fineMoveX, fineMoveY);
    UpdateFollowers();
    if (!TheSystemState.cameraLock) FollowWithDisplay(fineX - startFineX, fineY - startFineY);
    WrapOnLoopingMap();
    const std::int64_t f = moveFrequency;
    if ((TheSystemState.moveDuringEvents || !MainInterpreterRunning()) &&
        standingFrames > 20 * f * f && moveType == 1)
        RunMoveRoute();
    if (routeRunning) RunMoveRoute();
    if (pixelTotalX != 0 || pixelTotalY != 0) {
        const std::int32_t dx = pixelTotalX, dy = pixelTotalY;
        const std::int32_t cx = dx >= 1    ? x + 1
                                : dx <= -1 ? x + (pixelOffsetX >= 1 ? 1 : 0) - 1
                                           : x;
        const std::int32_t cy = dy >= 1    ? y + 1
                                : dy <= -1 ? y + (pixelOffsetY >= 1 ? 1 : 0) - 1
                                           : y;
        StartEventsAtStep(cx, cy, DirectionOf(dx, dy));
        TurnTowardAngle(dx, dy);
    }
    const bool crossed = crossedHalfTile != 0;
    if (!CheckBetweenTiles() || crossed) {
        if (wasBetween || movedThisFrame || crossed) {
            movedThisFrame = 0;
            StartEventsHere(TriggerMask(TriggerKind::PlayerTouch) |
                            TriggerMask(TriggerKind::EventTouch));
        } else {
            StartEventsHere(TriggerMask(TriggerKind::EventTouch));
        }
    }
    movingByPixels = crossedHalfTile = 0;
    pixelTotalX = pixelTotalY = 0;
    fineMoveX = fineMoveY = 0;
}

void Game_Player::FollowWithDisplay(std::int32_t movedX, std::int32_t movedY) {
    Game_MapState& map = TheMapState;
    const std::int32_t sw = GameScreenWidth(), sh = GameScreenHeight();
    std::int32_t g = fineX / 4 - map.displayX / 4, v = fineY / 4 - map.displayY / 4;
    if (map.loopX && map.GetWidth() > 0)
        while (g < 0) g += map.GetWidth() * TileSize;
    if (map.loopY && map.GetHeight() > 0)
        while (v < 0) v += map.GetHeight() * TileSize;
    const std::int32_t cx = TheSystemState.playerCentreX, cy = TheSystemState.playerCentreY;
    if (movedY > 0 && 4 * v > 2 * (sh + 2 * cy - TileSize)) map.ScrollDown(movedY);
    if (movedX < 0 && 4 * g < 2 * (sw + 2 * cx - TileSize)) map.ScrollLeft(-movedX);
    if (movedX > 0 && 4 * g > 2 * (sw + 2 * cx - TileSize)) map.ScrollRight(movedX);
    if (movedY < 0 && 4 * v < 2 * (sh + 2 * cy - TileSize)) map.ScrollUp(-movedY);
}

void Game_Player::WrapOnLoopingMap() {
    Game_MapState& map = TheMapState;
    const bool keepView = !TheSystemState.cameraLock;
    auto wrap = [&](std::int32_t& cell, std::int32_t& fine, std::int32_t& display,
                    std::int32_t tiles) {
        const std::int32_t cells = 2 * tiles;
        if (cells <= 0 || (cell >= 0 && cell < cells)) return;
        if (fine != RestPosition(cell, 0, TileSize)) return;
        if (keepView) {
            // The player and the view move together, so the screen does not jump.
            const std::int32_t span = tiles * TileSize * 4;
            while (cell < 0) {
                cell += cells;
                fine += span;
                display += span;
            }
            while (cell >= cells) {
                cell -= cells;
                fine -= span;
                display -= span;
            }
        } else {
            cell = ((cell + 2 * cells) % cells + cells) % cells;
            fine = RestPosition(cell, 0, TileSize);
        }
    };
    if (map.loopX) wrap(x, fineX, map.displayX, map.GetWidth());
    if (map.loopY) wrap(y, fineY, map.displayY, map.GetHeight());
}

// ---- Trails and followers ----

void Game_Player::RecordFootstep(int dir) {
    if (!trailFrozen)
        footsteps.insert(footsteps.begin(), dir);
    else
        lastStepWhileFrozen = dir;
    stepped = 1;
}

void Game_Player::RecordPixelMove(std::int32_t dx, std::int32_t dy) {
    pixelMoved = 0;
    if (dx == 0 && dy == 0) return;
    pixelTrailX.insert(pixelTrailX.begin(), dx);
    pixelTrailY.insert(pixelTrailY.begin(), dy);
    pixelMoved = 1;
}

void Game_Player::UpdateFollowers() {
    const Game_SystemState& s = TheSystemState;
    const bool shown = s.partyFollowing != 0;
    const std::int32_t spacing = s.partyDistance;
    const Game_MapState& map = TheMapState;
    for (std::size_t i = 0; i < followers.size(); ++i) {
        Game_Character& f = followers[i];
        if (shown) f.moveSpeed = moveSpeed;
        const std::int32_t shadow = i < s.followerShadows.size() ? s.followerShadows[i] : -1;
        SetShadow(f, FollowerShadow(shadow));
        if (shown) {
            if (stepped) {
                const std::size_t n = static_cast<std::size_t>(std::max(1, spacing));
                const std::size_t at = (i + 1) * n;
                int dir = at < footsteps.size() ? footsteps[at] : 0;
                if (trailFrozen) dir = lastStepWhileFrozen;
                if (dir >= 1 && dir <= 9 && dir != 5) f.MoveInDirection(dir, true);
            }
            if (pixelMoved) {
                std::int32_t dx = 0, dy = 0;
                const std::size_t count = std::min(pixelTrailX.size(), pixelTrailY.size());
                if (!trailFrozen) {
                    const std::size_t m = static_cast<std::size_t>(std::max(1, 3 * spacing));
                    const std::size_t at = (i + 1) * m;
                    if (at < count) {
                        dx = pixelTrailX[at];
                        dy = pixelTrailY[at];
                    }
                } else if (count > 1) {
                    dx = pixelTrailX[0];
                    dy = pixelTrailY[0];
                }
                f.MoveByPixels(dx, dy);
                f.TurnTowardAngle(dx, dy);
            }
        }
        f.Update();
        const std::int32_t w2 = 2 * map.GetWidth(), h2 = 2 * map.GetHeight();
        if (map.loopX && w2 > 0 && (f.x < 0 || f.x >= w2) &&
            f.fineX == RestPosition(f.x, f.pixelOffsetX, TileSize)) {
            f.x = ((f.x % w2) + w2) % w2;
            f.fineX = RestPosition(f.x, f.pixelOffsetX, TileSize);
        }
        if (map.loopY && h2 > 0 && (f.y < 0 || f.y >= h2) &&
            f.fineY == RestPosition(f.y, f.pixelOffsetY, TileSize)) {
            f.y = ((f.y % h2) + h2) % h2;
            f.fineY = RestPosition(f.y, f.pixelOffsetY, TileSize);
        }
    }
    if (stepped && !trailFrozen && !footsteps.empty()) footsteps.pop_back();
    if (pixelMoved && !trailFrozen) {
        const std::size_t keep = static_cast<std::size_t>(std::max(0, 18 * spacing));
        while (pixelTrailX.size() > keep) pixelTrailX.pop_back();
        while (pixelTrailY.size() > keep) pixelTrailY.pop_back();
    }
    pixelMoved = 0;
    stepped = 0;
}

void Game_Player::GatherFollowers() {
    for (Game_Character& f : followers) {
        f.x = x;
        f.y = y;
        f.fineX = fineX;
        f.fineY = fineY;
        f.pixelOffsetX = pixelOffsetX;
        f.pixelOffsetY = pixelOffsetY;
    }
    footsteps.assign(100, 0);
    pixelTrailX.clear();
    pixelTrailY.clear();
}

// ---- Placement ----

void Game_Player::TransferTo(std::int32_t tx, std::int32_t ty) {
    PlaceAt(tx, ty, 1);
    CentreDisplayOn(x, y);
}

void Game_Player::CentreDisplayOn(std::int32_t cx, std::int32_t cy) {
    Game_MapState& map = TheMapState;
    const std::int32_t sw = GameScreenWidth(), sh = GameScreenHeight();
    const Game_SystemState& s = TheSystemState;
    std::int32_t dx = (2 * cx + 2) * TileSize - 2 * sw - 4 * s.playerCentreX;
    std::int32_t dy = (2 * cy + 2) * TileSize - 2 * sh - 4 * s.playerCentreY;
    if (!map.loopX) dx = std::max(0, std::min(dx, (map.GetWidth() * TileSize - sw) * 4));
    if (!map.loopY) dy = std::max(0, std::min(dy, (map.GetHeight() * TileSize - sh) * 4));
    map.displayX = dx;
    map.displayY = dy;
}

// ---- Start checks ----

bool Game_Player::StartEventsHere(std::uint32_t mask) {
    if (MainInterpreterRunning()) return false;
    const std::int32_t t = extendedHitBox ? 1 : 0;
    bool started = false;
    for (Game_Event& e : TheMapState.events) {
        if (!TriggerEnabled(mask, e.triggerKind) || e.IsJumping()) continue;
        const std::int32_t cx = e.GetContactRange(false), cy = e.GetContactRange(true);
        const std::int32_t wide = e.triggerKind == TriggerKind::EventTouch ? 1 : 0;
        if (y - cy - t <= e.y && e.y <= y + cy + (e.extendedHitBox ? 1 : 0) &&
            x - cx - wide <= e.x && e.x <= x + cx + wide) {
            e.RequestStart();
            started = true;
        }
    }
    return started;
}

bool Game_Player::StartEventsAhead(std::uint32_t mask) {
    if (MainInterpreterRunning()) return false;
    const Game_MapState& map = TheMapState;
    const int d = direction;
    const std::int32_t s = stepLength;
    const bool facesLeftSide = d == 1 || d == 4 || d == 7;
    const bool facesUp = d == 7 || d == 8 || d == 9;
    std::int32_t fx = x + DirDx(d) * s;
    std::int32_t fy = DirDy(d) > 0 ? y + s : facesUp ? y - (extendedHitBox ? 2 : s) : y;
    if (facesLeftSide && pixelOffsetX >= 1) fx += 1;
    if (facesUp && pixelOffsetY >= 1) fy += 1;
    const std::int32_t w2 = 2 * map.GetWidth(), h2 = 2 * map.GetHeight();
    if (map.loopX) {
        if (fx >= w2 - 1) fx = fx + 1 - w2;
        if (fx <= -1) fx += w2;
    }
    if (map.loopY) {
        if (fy >= h2 - 1) fy = fy + 1 - h2;
        if (fy <= -1) fy += h2;
    }
    const bool sideways = d == 4 || d == 6;
    const std::int32_t t = sideways && extendedHitBox ? 1 : 0;
    const std::int32_t ry = sideways && pixelOffsetY >= 1 ? 1 : 0;
    const std::int32_t rx = (d == 2 || d == 8) && pixelOffsetX >= 1 ? 1 : 0;
    auto search = [&](std::int32_t cellX, std::int32_t cellY, std::int32_t tUp, std::int32_t rDown,
                      std::int32_t rRight) {
        for (Game_Event& e : TheMapState.events) {
            if (!TriggerEnabled(mask, e.triggerKind)) continue;
            const std::int32_t cx = e.GetContactRange(false), cy = e.GetContactRange(true);
            if (cellY - cy - tUp <= e.y && e.y <= cellY + cy + rDown + (e.extendedHitBox ? 1 : 0) &&
                cellX - cx - 1 <= e.x && e.x <= cellX + cx + rRight + 1 && !e.IsJumping() &&
                !e.IsWalkable()) {
                e.RequestStart();
                return true;
            }
        }
        return false;
    };
    if (search(fx, fy, t, ry, rx)) return true;
    // Over a counter the event two half tiles further on answers.
    if (map.IsCounterAt(fx, fy)) return search(fx + 2 * DirDx(d), fy + 2 * DirDy(d), 0, 0, 0);
    return false;
}

void Game_Player::StartEventsAtStep(std::int32_t tx, std::int32_t ty, int dir) {
    if (MainInterpreterRunning()) return;
    const std::int32_t t = extendedHitBox ? 1 : 0;
    const bool sideways = dir == 4 || dir == 6;
    const std::int32_t ry = sideways && pixelOffsetY >= 1 ? 1 : 0;
    const std::int32_t rx = (dir == 2 || dir == 8) && pixelOffsetX >= 1 ? 1 : 0;
    for (Game_Event& e : TheMapState.events) {
        if (e.triggerKind != TriggerKind::PlayerTouch && e.triggerKind != TriggerKind::EventTouch)
            continue;
        const std::int32_t cx = e.GetContactRange(false), cy = e.GetContactRange(true);
        if (ty - cy - t <= e.y && e.y <= ty + cy + ry + (e.extendedHitBox ? 1 : 0) &&
            tx - cx - 1 <= e.x && e.x <= tx + cx + rx + 1 && !e.IsJumping() && !e.IsWalkable())
            e.RequestStart();
    }
}
