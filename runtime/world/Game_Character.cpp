#include "runtime/world/Game_Character.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/data/SaveStream.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"

Game_Character* MapPlayer = nullptr;
std::vector<Game_Character*> MapFollowers;

namespace {

std::int32_t AnimationWaits[7] = {0, 6, 10, 16, 24, 60, 84};
bool AnimationWaitsAdjusted = false;

std::int32_t Step() {
    return std::max(1, FrameMultiplier);
}

// Divides a quarter-pixel difference by 4, rounding up for positive and toward zero for negative
// differences.
std::int32_t QuarterToPixels(std::int32_t d) {
    return d >= 0 ? (d + 3) / 4 : d / 4;
}

std::string FormatText(const char* format, std::int32_t a, std::int32_t b = 0, std::int32_t c = 0,
                       std::int32_t d = 0) {
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, format, a, b, c, d);
    return buffer;
}

}  // namespace

std::int32_t AnimationWait(std::int32_t speed) {
    return AnimationWaits[std::clamp(speed, 0, 6)];
}

void ResetAnimationWaitTable() {
    const std::int32_t table[7] = {0, 6, 10, 16, 24, 60, 84};
    std::copy(table, table + 7, AnimationWaits);
    AnimationWaitsAdjusted = false;
}

Game_Character::Game_Character() {
    pattern = TheBasicData.CharacterPatternCount() == 5 ? 2 : 1;
    SetGraphic("");
    ApplyGameSettings();
}

void Game_Character::ApplyGameSettings() {
    extendedHitBox = TheBasicData.UsesExtendedHitBox() ? 1 : 0;
    stepLength = TheBasicData.StepLengthSetting() == 1 ? 2 : 1;
    diagonalGraphics = TheBasicData.CharacterDirections() == 8 ? 1 : 0;
    const std::int16_t base = TheBasicData.CharacterPatternCount() == 5 ? 2 : 1;
    animationBase = standingPattern = base;
}

void Game_Character::SetGraphic(const std::string& name) {
    graphicName = name;
    layout = 0;
    auto has = [&](const char* a, const char* b) {
        return name.find(a) != std::string::npos || name.find(b) != std::string::npos;
    };
    if (has("T.png", "T.PNG")) layout = 1;
    if (has("TX.png", "TX.PNG")) layout = 2;
    if (has("$.png", "$.PNG")) layout = -1;
}

void Game_Character::SetOverlayGraphic(const std::string& name, std::int32_t layer) {
    layer = std::clamp(layer, 1, 5);
    if (static_cast<std::int32_t>(overlays.size()) < layer) overlays.resize(layer);
    overlays[static_cast<std::size_t>(layer - 1)] = name;
    overlaysChanged = 1;
    while (!overlays.empty() && overlays.back().empty()) overlays.pop_back();
}

bool Game_Character::CheckBetweenTiles() {
    betweenTiles = !(fineX == RestPosition(x, pixelOffsetX, TileSize) &&
                     fineY == RestPosition(y, pixelOffsetY, TileSize));
    return betweenTiles;
}

void Game_Character::ResetAnimation() {
    if (animateWhileMoving || animateWhileStopped) pattern = standingPattern;
    rememberedDirection = 0;
    animationTimer = 0;
}

void Game_Character::MoveStep() {
    const std::int32_t k = Step();
    const std::int32_t s =
        TheBasicData.MoveStep(std::clamp<std::int32_t>(moveSpeed, 0, 6), isPlayer || isFollower) *
        k;
    const std::int32_t tx = RestPosition(x, pixelOffsetX, TileSize);
    const std::int32_t ty = RestPosition(y, pixelOffsetY, TileSize);
    const std::int32_t p = TheSystemState.diagonalSpeedY, q = TheSystemState.diagonalSpeedX;
    auto diagonal = [](std::int32_t step, std::int32_t percent) {
        return std::max(1,
                        static_cast<std::int32_t>(static_cast<std::int64_t>(step) * percent / 100));
    };
    if (fineY < ty) {
        fineY = fineX == tx ? std::min(fineY + s, ty) : std::min(fineY + diagonal(s, p), ty);
    }
    if (fineX > tx) {
        fineX = fineY == ty ? std::max(fineX - s, tx) : std::max(fineX - diagonal(s, q), tx);
    } else if (fineX < tx) {
        fineX = fineY == ty ? std::min(fineX + s, tx) : std::min(fineX + diagonal(s, q), tx);
    }
    if (fineY > ty) {
        fineY = fineX == tx ? std::max(fineY - s, ty) : std::max(fineY - diagonal(s, p), ty);
    }
    if (fineX > tx && fineY == ty) slide2 = 0;
    if (fineX == tx && fineY == ty) standingFrames += k;
    if (animateWhileMoving)
        animationTimer += k;
    else if (animateWhileStopped)
        animationTimer += 0.75 * k;
}

void Game_Character::Update() {
    const std::int32_t k = Step();
    if (!AnimationWaitsAdjusted) {
        AnimationWaitsAdjusted = true;
        if (TheBasicData.CharacterPatternCount() == 5) {
            for (int i = 1; i <= 4; ++i) AnimationWaits[i] /= 2;
            AnimationWaits[5] = AnimationWaits[5] * 2 / 3;
            AnimationWaits[6] = AnimationWaits[6] * 3 / 4;
        }
    }
    if (IsJumping()) {
        const std::int32_t n = std::max(0, jumpFrames - k);
        jumpFrames = n;
        fineX = static_cast<std::int32_t>(
            (static_cast<std::int64_t>(fineX) * n + RestPosition(x, pixelOffsetX, TileSize)) /
            (n + 1));
        fineY = static_cast<std::int32_t>(
            (static_cast<std::int64_t>(fineY) * n + RestPosition(y, pixelOffsetY, TileSize)) /
            (n + 1));
    } else if (CheckBetweenTiles() || movingByPixels) {
        MoveStep();
    } else {
        if (steppingMode == 1 && animateWhileMoving)
            animationTimer += k;
        else if (animateWhileStopped)
            animationTimer += 0.75 * k;
        else if (pattern != standingPattern)
            animationTimer += k;
        standingFrames += k;
    }
    if (flashRemaining > 0) --flashRemaining;
    if (blinkPeriod > 0) {
        if (blinkMode == 0) blinkPhase = (blinkPhase + 1) % (2 * blinkPeriod);
        if (blinkMode == 1) blinkPhase = (blinkPhase + 1) % blinkPeriod;
    }
    if (shakeCount > 0) {
        const std::int32_t sign = (shakeCount & 1) ? 1 : -1;
        const std::int32_t p = std::max(1, shakePeriod), t = shakeTimer;
        auto offset = [&](std::int32_t a) {
            return sign * (t >= p ? a - a * (t - p) / p : a * t / p);
        };
        shakeOffsetX = offset(shakeAmpX);
        shakeOffsetY = offset(shakeAmpY);
        if (--shakeTimer <= 0) {
            if (shakeCount >= 100000 && (shakeCount & 1) == 0) shakeCount += 2;
            --shakeCount;
            shakeTimer = 2 * p;
        }
    } else {
        shakeOffsetX = shakeOffsetY = 0;
    }
    if (opacityRemaining > 0) --opacityRemaining;
    if (animationTimer > AnimationWait(animationSpeed)) {
        const int patterns = TheBasicData.CharacterPatternCount() == 5 ? 5 : 3;
        if (!animateWhileStopped && standingFrames > k && steppingMode == 0) {
            pattern = standingPattern;
            animationStep = 0;
        } else if (TheBasicData.AnimationCycleSetting() == 0) {
            if (patterns == 3) {
                animationStep = (animationStep + 1) % 4;
                pattern = animationStep < 2 ? animationBase + animationStep
                                            : animationBase - animationStep + 2;
            } else {
                animationStep = (animationStep + 1) % 8;
                pattern = animationStep <= 4 ? animationBase - std::abs(2 - animationStep) + 2
                                             : animationBase + std::abs(6 - animationStep) - 2;
            }
        } else {
            animationStep = (animationStep + 1) % patterns;
            pattern = (animationBase + animationStep) % patterns;
        }
        animationTimer = 0;
    }
    if (waitFrames > 0)
        waitFrames -= k;
    else if (!isPlayer && routeRunning)
        RunMoveRoute();
    betweenTiles2 = betweenTiles1;
    betweenTiles1 = betweenTiles;
    fineMoveX2 = fineMoveX1;
    fineMoveY2 = fineMoveY1;
    fineMoveX1 = fineMoveX;
    fineMoveY1 = fineMoveY;
}

void Game_Character::RunMoveRoute() {}

void Game_Character::PlaceAt(std::int32_t px, std::int32_t py, std::int32_t unit) {
    const Game_MapState& map = TheMapState;
    const std::int32_t w = map.GetWidth(), h = map.GetHeight();
    const std::int32_t u = unit + 1;
    if (px / u >= w || py / u >= h || px < 0 || py < 0) {
        ReportRuntimeError(
            true,
            FormatText(TranslateMessageUtf8(u"エラー：キャラクター%dをマップ外[X%d "
                                            u"Y%d](Map%d)に場所移動させようとしました"),
                       id, px, py, map.mapId),
            FormatText(TranslateMessageUtf8(
                           u"強制的にマップ内におさめます、このマップ最大位置は[%d,%d]です"),
                       w - 1, h - 1),
            GetScriptLocationText());
        // Negative positions clamp to the map's edge like those beyond it; half tiles clamp to the
        // last cell a two-cell-wide figure can stand on.
        px = std::max(0, px);
        py = std::max(0, py);
        if (unit == 0) {
            px = std::min(px, w - 1);
            py = std::min(py, h - 1);
        } else {
            px = std::min(px, std::max(0, 2 * w - 2));
            py = std::min(py, std::max(0, 2 * h - 1));
        }
    }
    const std::int32_t w2 = std::max(1, 2 * w), h2 = std::max(1, 2 * h);
    x = (px % w2) * (2 - unit);
    y = (py % h2) * (2 - unit);
    pixelOffsetX = pixelOffsetY = 0;
    rememberedDirection = 0;
    fineX = x * 2 * TileSize;
    fineY = y * 2 * TileSize;
}

void Game_Character::AssignMoveRoute(const Game_MoveRoute& route) {
    if (savedRoute.commands.empty()) {
        savedRoute = currentRoute;
        savedCommandIndex = commandIndex;
    }
    currentRoute = route;
    routeRunning = 1;
    commandIndex = 0;
    rememberedDirection = 0;
    waitFrames = 0;
    RunMoveRoute();
}

void Game_Character::LockFacingForEvent() {
    if (facingLocked) return;
    rememberedDirection = direction;
    TurnTowardPlayer();
    facingLocked = 1;
}

void Game_Character::UnlockFacing() {
    if (!facingLocked) return;
    facingLocked = 0;
    if (!fixedDirection && rememberedDirection != 0)
        direction = static_cast<std::int16_t>(rememberedDirection);
}

void Game_Character::StartFlash(std::int32_t colour, std::int32_t frames) {
    flashColour = colour;
    flashDuration = flashRemaining = frames;
}

void Game_Character::StartShake(std::int32_t ax, std::int32_t ay, std::int32_t count,
                                std::int32_t period) {
    shakeAmpX = ax;
    shakeAmpY = ay;
    shakeCount = count;
    shakePeriod = std::max(1, period);
    shakeTimer = 2 * shakePeriod;
}

void Game_Character::StartBlink(std::int32_t colour, std::int32_t mode, std::int32_t period) {
    blinkColour = colour;
    blinkPeriod = period;
    blinkPhase = 0;
    blinkMode = mode;
}

std::int32_t Game_Character::OpacityOffset() const {
    return opacityTarget -
           static_cast<std::int32_t>(static_cast<std::int64_t>(opacityTarget - opacityStart) *
                                     opacityRemaining / std::max(1, opacityDuration));
}

void Game_Character::StartOpacityChange(std::int32_t target, std::int32_t frames) {
    opacityStart = OpacityOffset();
    opacityTarget = target;
    opacityRemaining = opacityDuration = frames;
}

std::int32_t Game_Character::GetTileTag() const {
    return TheMapState.GetTileTag(x, y);
}

std::int32_t Game_Character::GetDrawX(bool wrap) const {
    const Game_MapState& map = TheMapState;
    std::int32_t sx = QuarterToPixels(fineX - map.displayX) + TileSize / 2;
    if (map.loopX) {
        const std::int32_t span = map.GetWidth() * TileSize;
        const std::int32_t screen = ScreenWidth / std::max(1, WindowScale);
        if (wrap && span > 0)
            while (sx < 0) sx += span;
        if (sx > screen + std::max(0, (span - screen) / 2)) sx -= span;
    }
    return sx + map.shakeOffsetX;
}

namespace {

// Wraps a screen y on a vertically looping map against the top bound.
std::int32_t WrapDrawY(std::int32_t sy, bool wrap) {
    const Game_MapState& map = TheMapState;
    if (map.loopY) {
        const std::int32_t span = map.GetHeight() * TileSize;
        const std::int32_t top = 0;
        if (wrap && span > 0)
            while (sy < top) sy += span;
        if (sy > span) {
            sy -= span;
            if (sy <= top) sy += span;
        }
    }
    return sy + map.shakeOffsetY;
}

}  // namespace

std::int32_t Game_Character::GetDrawBaseY(bool wrap) const {
    return WrapDrawY(QuarterToPixels(fineY - TheMapState.displayY) + TileSize, wrap);
}

std::int32_t Game_Character::GetDrawY(bool wrap) const {
    const std::int32_t j = std::abs(jumpFrames - halfJump);
    const std::int32_t arc =
        (j * j - halfJump * halfJump) * 3 / std::max(1, 160 / std::max(1, TileSize));
    return WrapDrawY(arc + QuarterToPixels(fineY - TheMapState.displayY) + TileSize - drawYOffset,
                     wrap);
}

void Game_Character::RunPageRoute() {}
