// One figure on the map: a map event, the player or a follower. It keeps its position in half
// tiles and in quarter pixels, its facing, graphic, walk pattern, movement settings, move routes
// and visual effects; its per-frame update slides the fine position toward the half-tile position.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/data/EventData.h"

// How a chip sheet is laid out, from its file name.
enum CharaChipLayout : std::int16_t { kChipLayoutSingle = -1, kChipLayoutNormal = 0 };

class Game_Character {
  public:
    std::string graphicName;
    std::int32_t id = -2;
    std::int32_t x = 0, y = 0;
    std::int32_t fineX = 0, fineY = 0;
    std::int32_t tileGraphic = -1;
    std::int16_t opacity = 255, blendMode = 0;
    std::int16_t direction = 2;
    std::int16_t pattern = 1;
    std::int16_t standingPattern = 1;
    std::int16_t pageDirection = 2;
    std::int16_t layout = 0;
    std::uint8_t routeRunning = 0;
    std::uint8_t passThrough = 0;
    std::uint8_t isPlayer = 0;
    std::uint8_t diagonalGraphics = 0;
    std::int16_t moveType = 0, moveSpeed = 3, animationSpeed = 2, moveFrequency = 6;
    std::int16_t animationStep = 0, animationBase = 1;
    std::int32_t standingFrames = 0;
    std::int32_t jumpFrames = 0, halfJump = 0;
    std::int32_t waitFrames = 0;
    std::int32_t rememberedDirection = 0;
    Game_MoveRoute currentRoute, savedRoute;
    std::int16_t commandIndex = 0, savedCommandIndex = 0;
    std::uint8_t animateWhileMoving = 1, animateWhileStopped = 0;
    std::uint8_t fixedDirection = 0, topPriority = 0;
    std::uint8_t facingLocked = 0;
    std::int32_t stepLength = 1;
    std::uint8_t extendedHitBox = 0;
    std::uint8_t slide1 = 0, slide2 = 0;
    std::int16_t appliedExtraGraphic = -1;
    std::uint8_t erased = 0;
    std::uint8_t isFollower = 0;
    std::uint8_t stepped = 0;
    std::uint8_t betweenTiles = 0, betweenTiles1 = 0, betweenTiles2 = 0;
    std::int32_t drawYOffset = 0;
    std::vector<std::int32_t> intList;
    std::int32_t spriteValue1 = 0, spriteValue2 = 0;
    std::int32_t flashColour = 0, flashDuration = 1, flashRemaining = 0;
    std::int32_t shakeAmpX = 0, shakeAmpY = 0, shakeCount = 0, shakePeriod = 1, shakeTimer = 0;
    std::int32_t shakeOffsetX = 0, shakeOffsetY = 0;
    std::int32_t blinkColour = 0, blinkPeriod = 0, blinkPhase = 0, blinkMode = 0;
    std::int32_t lastStepDirection = 0;
    std::vector<std::uint8_t> settingBytes = std::vector<std::uint8_t>(1, 255);
    std::vector<std::int32_t> footsteps;
    std::int32_t opacityTarget = 0, opacityStart = 0, opacityRemaining = 0, opacityDuration = 0;
    std::vector<std::string> overlays;
    std::int32_t cellOverride = 0, steppingMode = 0;
    std::int32_t overlaysChanged = 0;
    std::uint8_t masked = 0;
    void* spriteLink = nullptr;
    std::int32_t pixelOffsetX = 0, pixelOffsetY = 0;
    std::int32_t movingByPixels = 0, crossedHalfTile = 0;
    std::int32_t pixelTotalX = 0, pixelTotalY = 0;
    std::int32_t fineMoveX = 0, fineMoveY = 0;
    std::int32_t fineMoveX1 = 0, fineMoveY1 = 0, fineMoveX2 = 0, fineMoveY2 = 0;
    std::vector<std::int32_t> pixelTrailX, pixelTrailY;
    std::uint8_t pixelMoved = 0;
    double animationTimer = 0;

    Game_Character();
    virtual ~Game_Character() = default;
    Game_Character(const Game_Character&) = default;
    Game_Character& operator=(const Game_Character&) = default;
    Game_Character(Game_Character&&) = default;
    Game_Character& operator=(Game_Character&&) = default;
    virtual void Refresh() {}
    // Every successful step of a character; the player records it in its footstep trail.
    virtual void RecordFootstep(int /*dir*/) {}
    // The steps of a page route and of an event's own movement: map events check first whether
    // the step touches the player; every other character takes the plain step.
    virtual std::int32_t PageRouteStep(int dir, bool turnFirst) {
        return MoveInDirection(dir, turnFirst);
    }
    virtual void PageRouteMoveRandom() { MoveRandom(); }
    virtual void PageRouteMoveTowardPlayer() { MoveTowardPlayer(); }
    virtual void PageRouteMoveForward() { MoveForward(); }

    void ApplyGameSettings();
    void Update();
    // unit 0 tiles, 1 half tiles.
    void PlaceAt(std::int32_t px, std::int32_t py, std::int32_t unit);
    void AssignMoveRoute(const Game_MoveRoute& route);
    // Runs the current route; the route commands come with the move-route module.
    void RunMoveRoute();
    // A map event's own movement by its route (move type 1): like RunMoveRoute, with the steps of
    // the PageRoute hooks.
    void RunPageRoute();
    void LockFacingForEvent();
    void UnlockFacing();
    void ResetAnimation();
    bool CheckBetweenTiles();
    bool IsMoving() const { return betweenTiles || betweenTiles1 || betweenTiles2; }
    bool IsJumping() const { return jumpFrames > 0; }
    std::int32_t GetDrawX(bool wrap) const;
    std::int32_t GetDrawY(bool wrap) const;
    std::int32_t GetDrawBaseY(bool wrap) const;
    std::int32_t GetDrawPriority() const { return topPriority ? 999 : 0; }
    std::int32_t GetTileTag() const;
    void StartFlash(std::int32_t colour, std::int32_t frames);
    void StartShake(std::int32_t ax, std::int32_t ay, std::int32_t count, std::int32_t period);
    void StartBlink(std::int32_t colour, std::int32_t mode, std::int32_t period);
    void StartOpacityChange(std::int32_t target, std::int32_t frames);
    std::int32_t OpacityOffset() const;
    void SetGraphic(const std::string& name);
    void SetOverlayGraphic(const std::string& name, std::int32_t layer);
    bool IsVisible() const { return !graphicName.empty() || tileGraphic != -1; }

    void WriteSave() const;
    bool ReadSave();

    // ---- Movement ----
    bool CanMove(std::int32_t fromX, std::int32_t fromY, int dir) const;
    std::int32_t MoveDown(bool turnFirst);
    std::int32_t MoveLeft(bool turnFirst);
    std::int32_t MoveRight(bool turnFirst);
    std::int32_t MoveUp(bool turnFirst);
    std::int32_t MoveDownLeft(bool turnFirst);
    std::int32_t MoveDownRight(bool turnFirst);
    std::int32_t MoveUpLeft(bool turnFirst);
    std::int32_t MoveUpRight(bool turnFirst);
    std::int32_t MoveInDirection(int dir, bool turnFirst);
    void MoveRandom();
    void MoveTowardPlayer();
    void MoveAwayFromPlayer();
    void MoveToward(bool toCharacter, std::int32_t idOrX, std::int32_t ty);
    void MoveForward();
    void MoveBackward();
    void TurnDown();
    void TurnLeft();
    void TurnRight();
    void TurnUp();
    void TurnDownLeft();
    void TurnUpLeft();
    void TurnUpRight();
    void TurnDownRight();
    void TurnClockwise();
    void TurnCounterClockwise();
    void TurnRandomSide();
    void TurnRandom();
    void TurnTowardPlayer();
    void TurnAwayFromPlayer();
    void TurnTowardAngle(std::int32_t dx, std::int32_t dy);
    void Jump(std::int32_t dx, std::int32_t dy);
    void MoveByPixels(std::int32_t dx, std::int32_t dy);

  private:
    void TurnTo(int dir);
    void TurnDiagonal(int dir);
    std::int32_t StraightStep(int dir, bool turnFirst);
    std::int32_t DiagonalStep(int dir, bool turnFirst);
    void MoveTowardCell(std::int32_t tx, std::int32_t ty);
    void MoveStep();
};

// The animation wait of an animation speed (index clamped to the table).
std::int32_t AnimationWait(std::int32_t speed);
// Resets the once-per-run adjustment of the wait table (for a new game data set).
void ResetAnimationWaitTable();
// The player and followers of the live map until the player has its own class: null when none.
extern Game_Character* MapPlayer;
extern std::vector<Game_Character*> MapFollowers;
// The fine position (quarter pixels) of a half-tile cell plus a pixel offset. Positions from a
// damaged save may be far outside any map: the sum wraps instead of overflowing.
inline std::int32_t RestPosition(std::int32_t cell, std::int32_t pixelOffset,
                                 std::int32_t tileSize) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(static_cast<std::int64_t>(cell) * 2 * tileSize +
                                   4 * static_cast<std::int64_t>(pixelOffset)));
}
// An int32 count and the values from TheSaveStream; a count the bytes left cannot hold fails.
bool ReadSaveIntList(std::vector<std::int32_t>& list);
// No visible, non-passing map event stands on the half-tile cell (x, y).
bool IsPositionFreeOfEvents(std::int32_t x, std::int32_t y);
