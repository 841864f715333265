#include "runtime/world/Game_Event.h"

#include <algorithm>
#include <cstdlib>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/GameRandom.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"

std::int32_t PostLoadUpdate = 0;

namespace {

int DirDx(int d) {
    return (d == 3 || d == 6 || d == 9) ? 1 : (d == 1 || d == 4 || d == 7) ? -1 : 0;
}
int DirDy(int d) {
    return (d == 1 || d == 2 || d == 3) ? 1 : (d == 7 || d == 8 || d == 9) ? -1 : 0;
}

std::int32_t ReadVariable(std::int32_t id) {
    return TheVariables.GetValue(id);
}

std::shared_ptr<const Game_CommandList> NoCommands() {
    static const auto empty = std::make_shared<const Game_CommandList>();
    return empty;
}

// The shortest difference on a looping axis.
std::int32_t ShortestDelta(std::int32_t d, std::int32_t size, bool loops) {
    if (!loops || size <= 0) return d;
    std::int32_t best = d;
    for (std::int32_t c : {d - size, d + size})
        if (std::abs(c) < std::abs(best)) best = c;
    return best;
}

// Moves a position that left a looping axis back by whole map sizes once its slide has ended.
void WrapAxis(std::int32_t& cell, std::int32_t& fine, std::int32_t rest, std::int32_t cells,
              std::int32_t span) {
    if (cells <= 0 || span <= 0) return;
    if (cell < 0 && fine >= rest) {
        const std::int32_t times = (-cell + cells - 1) / cells;
        cell += times * cells;
        fine += times * span;
    } else if (cell >= cells && fine <= rest) {
        const std::int32_t times = cell / cells;
        cell -= times * cells;
        fine -= times * span;
    }
}

}  // namespace

Game_Event::Game_Event() : commands(NoCommands()) {
    id = 0;
}

Game_Event::Game_Event(std::int32_t map, const Game_EventData& record)
    : mapId(map), data(record), commands(NoCommands()) {
    id = data.id;
    erased = 0;
    startFlag = 0;
    passThrough = 1;
    PlaceAt(data.x, data.y, 0);
    // Only the first page decides a half-tile start, whatever page is selected afterwards.
    if (!data.pages.empty()) {
        const Game_MoveRoute& first = data.pages.front().movement;
        if (first.IsShiftedHalfUp()) {
            y = 2 * data.y - 1;
            fineY = y * 2 * TileSize;
        }
        if (first.IsShiftedHalfLeft()) {
            x = 2 * data.x - 1;
            fineX = x * 2 * TileSize;
        }
    }
    Refresh();
}

void Game_Event::Refresh() {
    std::int32_t selected = -1;
    if (!erased) {
        for (std::int32_t i = static_cast<std::int32_t>(data.pages.size()) - 1; i >= 0; --i) {
            if (data.pages[static_cast<std::size_t>(i)].condition.Check(id, &ReadVariable)) {
                selected = i;
                break;
            }
        }
    }
    if (selected == pageIndex) return;
    SelectPage(selected);
}

void Game_Event::SelectPage(std::int32_t index) {
    if (index >= 0) page = data.pages[static_cast<std::size_t>(index)];
    pageIndex = index;
    startFlag = 0;
    if (index < 0) {
        tileGraphic = -1;
        SetGraphic("");
        SetOverlayGraphic("", 1);
        passThrough = 1;
        moveType = 0;
        triggerKind = 0;
        commands = NoCommands();
        settingBytes.assign(1, 255);
        interpreters.clear();
        return;
    }
    tileGraphic = page.graphicTile;
    const Game_MoveRoute& move = page.movement;
    // After loading a save the restored look and movement settings stay.
    if (!PostLoadUpdate) {
        SetGraphic(page.graphicFile);
        animateWhileMoving = move.AnimatesWhenMoving() ? 1 : 0;
        animateWhileStopped = move.AnimatesWhenStopped() ? 1 : 0;
        opacity = page.opacity;
        blendMode = page.blendMode;
        moveType = move.setting0;
        animationSpeed = move.setting1;
        moveSpeed = move.setting2;
        moveFrequency = move.setting3;
    }
    if (page.direction != direction) {
        direction = pageDirection = page.direction;
        rememberedDirection = 0;
    }
    if (page.pattern != pattern) pattern = standingPattern = page.pattern;
    if (routeRunning) {
        // A route assigned by a command goes on; the page route waits behind it.
        savedRoute = move;
        savedCommandIndex = 0;
    } else {
        currentRoute = move;
        commandIndex = 0;
        routeRunning = 0;
    }
    eraseRemaining = eraseDuration = -1;
    extendedHitBox = move.HasExtendedContact() ? 1 : 0;
    fixedDirection = move.HasFixedDirection() ? 1 : 0;
    passThrough = move.PassesThrough() ? 1 : 0;
    topPriority = move.HasTopPriority() ? 1 : 0;
    triggerKind = page.condition.trigger;
    commands = std::make_shared<const Game_CommandList>(page.commands);
    settingBytes = page.contactBytes;
    if (settingBytes.empty()) settingBytes.assign(1, 255);
    stepLength = TheBasicData.StepLengthSetting() == 1 ? 2 : 1;
    interpreters.clear();
    if (triggerKind == TriggerKind::Parallel) {
        interpreters.emplace_back();
        interpreters.back().Setup(false);
        interpreters.back().parallelFlag = 1;
    }
    CheckAutoStart();
}

std::int32_t Game_Event::GetContactRange(bool vertical) const {
    if (pageIndex < 0 || settingBytes.size() < 3) return 0;
    return vertical ? settingBytes[2] : settingBytes[1];
}

bool Game_Event::IsWalkable() const {
    if (IsVisible() && !passThrough) return false;
    return TheMapState.CanPassTiles(x, y, 0, TheBasicData.StepLengthSetting() == 1 ? 2 : 1);
}

std::int32_t Game_Event::RequestStart() {
    const std::int32_t count = static_cast<std::int32_t>(commands->size());
    if (count > 0 && !IsErasing()) startFlag = 1;
    return count;
}

void Game_Event::StartTimedErase(std::int32_t frames) {
    eraseOpacity = opacity;
    eraseRemaining = eraseDuration = frames;
    opacity = frames == 0 ? 0 : static_cast<std::int16_t>(opacity * frames / frames);
}

bool Game_Event::InMapEventList() const {
    for (const Game_EventData& record : TheMapState.mapData.events)
        if (record.id == id) return true;
    return false;
}

void Game_Event::CheckTouchPlayer(std::int32_t tx, std::int32_t ty) {
    const Game_Player* p = MapPlayer;
    if (p == nullptr || triggerKind != TriggerKind::EventTouch || MainInterpreterRunning() ||
        IsJumping() || !InMapEventList())
        return;
    const std::int32_t t = p->extendedHitBox ? 1 : 0;
    const std::int32_t cx = GetContactRange(false), cy = GetContactRange(true);
    if (ty - t - cy <= p->y && p->y <= ty + cy + t && tx - cx - 1 <= p->x && p->x <= tx + cx + 1 &&
        !IsWalkable())
        RequestStart();
}

void Game_Event::CheckAutoStart() {
    if (MainInterpreterRunning() || IsJumping()) return;
    if (triggerKind == TriggerKind::Automatic) {
        RequestStart();
        return;
    }
    const Game_Player* p = MapPlayer;
    if (triggerKind != TriggerKind::EventTouch || p == nullptr) return;
    const std::int32_t t = p->extendedHitBox ? 1 : 0;
    const std::int32_t cx = GetContactRange(false), cy = GetContactRange(true);
    if (y - t - cy <= p->y && p->y - (extendedHitBox ? 0 : t) <= y + cy && x - cx - 1 <= p->x &&
        p->x <= x + cx + 1 && IsWalkable())
        RequestStart();
}

void Game_Event::DrawStringInput() {
    if (Game_Interpreter* interpreter = ParallelInterpreter()) interpreter->DrawStringInput();
}

std::int32_t Game_Event::StepInDirection(int dir, bool turnFirst) {
    if (DirDx(dir) == 0 && DirDy(dir) == 0) return 0;
    if (!CanMove(x, y, dir) || GetContactRange(false) != 0 || GetContactRange(true) != 0)
        CheckTouchPlayer(x + DirDx(dir) * stepLength, y + DirDy(dir) * stepLength);
    return MoveInDirection(dir, turnFirst);
}

std::int32_t Game_Event::StepDown(bool turnFirst) {
    return StepInDirection(2, turnFirst);
}
std::int32_t Game_Event::StepLeft(bool turnFirst) {
    return StepInDirection(4, turnFirst);
}
std::int32_t Game_Event::StepRight(bool turnFirst) {
    return StepInDirection(6, turnFirst);
}
std::int32_t Game_Event::StepUp(bool turnFirst) {
    return StepInDirection(8, turnFirst);
}
std::int32_t Game_Event::StepDownLeft(bool turnFirst) {
    return StepInDirection(1, turnFirst);
}
std::int32_t Game_Event::StepDownRight(bool turnFirst) {
    return StepInDirection(3, turnFirst);
}
std::int32_t Game_Event::StepUpLeft(bool turnFirst) {
    return StepInDirection(7, turnFirst);
}
std::int32_t Game_Event::StepUpRight(bool turnFirst) {
    return StepInDirection(9, turnFirst);
}

void Game_Event::MoveRandomStep() {
    RandomStep(true);
}

void Game_Event::MoveTowardPlayerStep() {
    if (MapPlayer != nullptr) StepTowardCell(MapPlayer->x, MapPlayer->y, true);
}

void Game_Event::MoveForwardStep() {
    StepInDirection(direction, false);
}

void Game_Event::MoveOnItsOwn() {
    if (!TheSystemState.moveDuringEvents && MainInterpreterRunning()) return;
    const std::int64_t f = moveFrequency;
    if (standingFrames <= 20 * f * f) return;
    switch (moveType) {
        case 1:
            RunPageRoute();
            break;
        case 2: {
            const std::uint32_t r = GameRandom(0, 0) % 6;
            if (r <= 3)
                MoveRandomStep();
            else if (r == 4)
                MoveForwardStep();
            else
                standingFrames = 0;
            break;
        }
        case 3: {
            const Game_MapState& map = TheMapState;
            std::int64_t distance = 20;
            if (MapPlayer != nullptr) {
                const std::int32_t dx =
                    ShortestDelta(x - MapPlayer->x, 2 * map.GetWidth(), map.loopX);
                const std::int32_t dy =
                    ShortestDelta(y - MapPlayer->y, 2 * map.GetHeight(), map.loopY);
                distance = std::abs(static_cast<std::int64_t>(dx)) +
                           std::abs(static_cast<std::int64_t>(dy));
            }
            if (distance >= 20) {
                MoveRandomStep();
                break;
            }
            const std::uint32_t r = GameRandom(0, 0) % 6;
            if (r <= 3)
                MoveTowardPlayerStep();
            else if (r == 4)
                MoveRandomStep();
            else
                MoveForwardStep();
            break;
        }
        default:
            break;
    }
}

void Game_Event::WrapOnLoopingMap() {
    const Game_MapState& map = TheMapState;
    const std::int32_t w = map.GetWidth(), h = map.GetHeight();
    if (map.loopX)
        WrapAxis(x, fineX, RestPosition(x, pixelOffsetX, TileSize), 2 * w, 4 * w * TileSize);
    if (map.loopY)
        WrapAxis(y, fineY, RestPosition(y, pixelOffsetY, TileSize), 2 * h, 4 * h * TileSize);
}

void Game_Event::Update() {
    const std::int32_t k = std::max(1, FrameMultiplier);
    if (IsErasing() && !erased) {
        if (eraseRemaining <= 0) {
            erased = 1;
            Refresh();
        }
        eraseRemaining -= k;
        const std::int64_t d = std::max(1, eraseDuration);
        // The count goes below zero on the frame the erase ends; the opacity stays at 0.
        opacity = static_cast<std::int16_t>(std::clamp<std::int64_t>(
            eraseOpacity * static_cast<std::int64_t>(eraseRemaining) / d, 0, 255));
    }
    Game_Character::Update();
    MoveOnItsOwn();
    if (pixelTotalX != 0 && pixelTotalY != 0) {
        const std::int32_t tx = pixelTotalX >= 1 ? x + 1 : x - 1 + (pixelOffsetX >= 1 ? 1 : 0);
        const std::int32_t ty = pixelTotalY >= 1 ? y + 1 : y - 1 + (pixelOffsetY >= 1 ? 1 : 0);
        CheckTouchPlayer(tx, ty);
    }
    WrapOnLoopingMap();
    CheckAutoStart();
    if (Game_Interpreter* interpreter = ParallelInterpreter(); interpreter && !IsErasing()) {
        if (!interpreter->IsRunning()) interpreter->Start(commands, id, -1);
        interpreter->Update();
    }
    movingByPixels = crossedHalfTile = 0;
    pixelTotalX = pixelTotalY = 0;
    fineMoveX = fineMoveY = 0;
}
