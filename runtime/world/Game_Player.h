// The character the user steers, with the five followers that walk behind it in its footsteps.
// The scene calls UpdateInput twice a frame: the update phase early (move the player and the
// followers, let the display follow, start the events the player arrived at) and the input phase
// after the interpreters (read the direction keys and the decision key). The player keeps the
// footstep trail and the pixel trail the followers replay, and has its own save part.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/world/Game_Character.h"

class Game_Player : public Game_Character {
  public:
    static constexpr std::int32_t kFollowerCount = 5;

    // The half-tile position changed during the input phase.
    std::uint8_t movedThisFrame = 0;
    // While set, steps are not added to the trail; the followers repeat the last step instead.
    std::uint8_t trailFrozen = 0;
    std::int32_t lastStepWhileFrozen = 0;
    // Ids -3 to -7.
    std::vector<Game_Character> followers;

    Game_Player();
    void Refresh() override;

    // The scene calls (false, true) early in the frame and (true, false) after the interpreters.
    void UpdateInput(bool inputPhase, bool updatePhase);
    // Places the player at half-tile (x, y) and centres the display on it.
    void TransferTo(std::int32_t x, std::int32_t y);
    void CentreDisplayOn(std::int32_t x, std::int32_t y);
    // Puts every follower on the player and resets the trails.
    void GatherFollowers();
    void RecordFootstep(int dir) override;
    void RecordPixelMove(std::int32_t dx, std::int32_t dy);
    void UpdateFollowers();
    // The follower at position 0..4; null beyond.
    Game_Character* Follower(std::int32_t index);

    // The player's save part over TheSaveStream. A follower count other than five fails.
    void WriteSave() const;
    bool ReadSave();

    // The input steps: each first starts the touch events of the cell it is about to enter.
    std::int32_t StepDown(bool turnFirst);
    std::int32_t StepLeft(bool turnFirst);
    std::int32_t StepRight(bool turnFirst);
    std::int32_t StepUp(bool turnFirst);
    std::int32_t StepDownLeft(bool turnFirst);
    std::int32_t StepDownRight(bool turnFirst);
    std::int32_t StepUpLeft(bool turnFirst);
    std::int32_t StepUpRight(bool turnFirst);
    std::int32_t StepInDirection(int dir, bool turnFirst);

    // The start checks; a mask of TriggerMask bits enables trigger kinds. True when an event was
    // started.
    bool StartEventsHere(std::uint32_t mask);
    bool StartEventsAhead(std::uint32_t mask);
    void StartEventsAtStep(std::int32_t x, std::int32_t y, int dir);

  private:
    void ReadMovementInput();
    void FollowWithDisplay(std::int32_t movedX, std::int32_t movedY);
    void WrapOnLoopingMap();
};

// The live player comes next: `extern Game_Player* MapPlayer;` (null until RebuildPlayer made
// it; tests may point it at their own), replacing the plain character pointer.
// Makes a fresh live player (start-up and every restart) and points MapPlayer at it.
Game_Player& RebuildPlayer();
// The main interpreter is running a list: no event starts, no input moves the player.
bool MainInterpreterRunning();
