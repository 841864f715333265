// A map event brought to life: the character built from one event record of the map file. It
// selects the last page whose start conditions hold, takes that page's look, movement settings
// and commands, moves on its own by the page's movement type and is flagged for the main
// interpreter when its trigger fires (decision key, automatic, or a touch between it and the
// player). A parallel page runs in the event's own interpreter.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/data/EventData.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/world/Game_Character.h"

// Trigger kinds of a page; other values never start the event.
namespace TriggerKind {
inline constexpr std::int32_t DecisionKey = 0;
inline constexpr std::int32_t Automatic = 1;
inline constexpr std::int32_t Parallel = 2;
inline constexpr std::int32_t PlayerTouch = 3;
inline constexpr std::int32_t EventTouch = 4;
}  // namespace TriggerKind

// A set of trigger kinds for the player's start checks.
inline constexpr std::uint32_t TriggerMask(std::int32_t kind) {
    return kind >= 0 && kind <= 4 ? 1u << kind : 0u;
}
inline bool TriggerEnabled(std::uint32_t mask, std::int32_t kind) {
    return (mask & TriggerMask(kind)) != 0;
}

class Game_Event : public Game_Character {
  public:
    // The map the event was built for.
    std::int32_t mapId = -1;
    // At most one: present while the selected page is parallel.
    std::vector<Game_Interpreter> interpreters;
    // -1 = no page.
    std::int32_t pageIndex = -1;
    Game_EventPage page;
    std::int32_t triggerKind = 0;
    // The event wants the main interpreter to run its commands.
    std::uint8_t startFlag = 0;
    Game_EventData data;
    // The selected page's commands (shared with the interpreters that run them); never null.
    std::shared_ptr<const Game_CommandList> commands;
    // Timed erase: frames left, duration (-1 = no erase running) and the opacity it fades from.
    std::int32_t eraseRemaining = -1, eraseDuration = -1, eraseOpacity = 0;

    // An event without a record (no pages); for saves of events a map no longer has and tests.
    Game_Event();
    Game_Event(std::int32_t mapId, const Game_EventData& data);

    // Selects the page.
    void Refresh() override;
    // Once per frame, from the map's update.
    void Update();
    // Sets the start flag when there are commands and no timed erase runs; the command count.
    std::int32_t RequestStart();
    void ClearStartFlag() { startFlag = 0; }
    void StartTimedErase(std::int32_t frames);
    bool IsErasing() const { return eraseDuration != -1; }
    // The page's contact range in half tiles: rows when vertical, else columns.
    std::int32_t GetContactRange(bool vertical) const;
    // Shows nothing or passes through, and its own cell is passable: the player stands on it.
    bool IsWalkable() const;
    // An event-touch start when this event is about to enter (x, y) next to the player.
    void CheckTouchPlayer(std::int32_t x, std::int32_t y);
    // Automatic starts and the event-touch start of a walkable event the player stands on.
    void CheckAutoStart();
    void DrawStringInput();
    // The parallel page's interpreter; null when the page is not parallel.
    Game_Interpreter* ParallelInterpreter() {
        return interpreters.empty() ? nullptr : &interpreters.front();
    }

    // The steps of the event's own movement and page route: a blocked step or an event with a
    // contact range first checks whether it touches the player.
    std::int32_t StepDown(bool turnFirst);
    std::int32_t StepLeft(bool turnFirst);
    std::int32_t StepRight(bool turnFirst);
    std::int32_t StepUp(bool turnFirst);
    std::int32_t StepDownLeft(bool turnFirst);
    std::int32_t StepDownRight(bool turnFirst);
    std::int32_t StepUpLeft(bool turnFirst);
    std::int32_t StepUpRight(bool turnFirst);
    std::int32_t StepInDirection(int dir, bool turnFirst);
    void MoveRandomStep();
    void MoveTowardPlayerStep();
    void MoveForwardStep();

    std::int32_t PageRouteStep(int dir, bool turnFirst) override {
        return StepInDirection(dir, turnFirst);
    }
    void PageRouteMoveRandom() override { MoveRandomStep(); }
    void PageRouteMoveTowardPlayer() override { MoveTowardPlayerStep(); }
    void PageRouteMoveForward() override { MoveForwardStep(); }

  private:
    void SelectPage(std::int32_t index);
    void MoveOnItsOwn();
    void WrapOnLoopingMap();
    bool InMapEventList() const;
};

// Set by the scene for the one map update that follows loading a save: page selection then keeps
// the look and movement settings the save restored.
extern std::int32_t PostLoadUpdate;
