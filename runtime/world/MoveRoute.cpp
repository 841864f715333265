// The two route runners: a route given by the move-route command (and the player's own route) and
// a map event's own route. Each call runs commands until one steps, turns or waits, so a character
// takes at most one step or turn per call; setting commands run in between without a frame each.
#include <algorithm>
#include <string>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/world/Game_Character.h"
#include "runtime/world/Game_MapState.h"

namespace {

constexpr std::uint8_t kRepeat = 0x01;
constexpr std::uint8_t kSkipBlocked = 0x02;
constexpr std::int32_t kGraphicListType = 8;

// A route argument that may name a variable; numbers below the variable ids are themselves.
std::int32_t Value(std::int32_t a) {
    return a < 1000000 ? a : TheVariables.GetValue(a);
}

void ReportRouteError(const char16_t* message) {
    ReportRuntimeError(true, TranslateMessageUtf8(message), GetScriptLocationText(), "");
}

// The ids relative to "this event" become the character's own; the player and the followers have
// no self variables, and a route belongs to no common event.
void RewriteArguments(Game_MoveCommand& command, std::int32_t id, bool refuseSelf) {
    for (std::int32_t& a : command.arguments) {
        if (a >= 1100000 && a <= 1199999) {
            if (refuseSelf) {
                ReportRouteError(
                    u"[動作指定]主人公あるいは仲間に対してはセルフ変数を利用できません。");
                a = 0;
                continue;
            }
            a = 1000000 + 10 * id + a % 10;
        } else if (a >= 9190000 && a <= 9199999) {
            a = 9100000 + 10 * id + a % 10;
        } else if (a >= 1600000 && a <= 1699999) {
            ReportRouteError(u"[動作指定]ではコモンセルフ変数を利用できません。");
            a = 0;
        }
    }
}

std::int32_t Arg(const Game_MoveCommand& command, std::size_t n) {
    return n < command.arguments.size() ? command.arguments[n] : 0;
}

enum class RouteKind { Step, Turn, Setting };

RouteKind KindOf(std::uint8_t code) {
    if (code <= 7 || (code >= 16 && code <= 21) || code == 53 || code == 54) return RouteKind::Step;
    if ((code >= 8 && code <= 15) || (code >= 22 && code <= 27)) return RouteKind::Turn;
    return RouteKind::Setting;
}

void SetStandingPattern(Game_Character& c, std::int16_t n) {
    c.standingPattern = n;
    if (TheBasicData.GameDataVersion() >= 306) c.pattern = n;
}

}  // namespace

// The shared runner; `pageRoute` selects the event's own movement (its steps check touches, and
// it never starts while the event is on the way).
static void RunRoute(Game_Character& c, bool pageRoute) {
    if ((pageRoute || TheSystemState.runMoveRoutesAtOnce == 0) &&
        (c.IsJumping() || c.CheckBetweenTiles()))
        return;
    if (c.commandIndex > static_cast<std::int32_t>(c.currentRoute.commands.size())) return;
    // A repeating route of setting commands stops at its end, so a call never loops endlessly.
    for (;;) {
        if (c.waitFrames > 0) return;
        // A variable write may refresh the character and give it another route: read it anew.
        const Game_MoveRoute& route = c.currentRoute;
        const auto count = static_cast<std::int32_t>(route.commands.size());
        if (c.commandIndex == count) {
            if (route.routeOptions & kRepeat) {
                c.commandIndex = 0;
                return;
            }
            if (c.routeRunning) {
                c.routeRunning = 0;
                c.currentRoute = c.savedRoute;
                c.commandIndex = c.savedCommandIndex;
                c.savedRoute.commands.clear();
            }
            c.standingFrames = 0;
            return;
        }
        Game_MoveCommand command = route.commands[static_cast<std::size_t>(c.commandIndex)];
        RewriteArguments(command, c.id, !pageRoute && (c.isPlayer || c.isFollower));
        const std::int32_t a0 = Arg(command, 0), a1 = Arg(command, 1);
        const std::uint8_t code = command.code;
        switch (KindOf(code)) {
            case RouteKind::Step: {
                static const int kDirections[8] = {2, 4, 6, 8, 1, 3, 7, 9};
                if (code <= 7) {
                    const int dir = kDirections[code];
                    if (pageRoute)
                        c.PageRouteStep(dir, true);
                    else
                        c.MoveInDirection(dir, true);
                } else if (code == 16) {
                    if (pageRoute)
                        c.PageRouteMoveRandom();
                    else
                        c.MoveRandom();
                } else if (code == 17) {
                    if (pageRoute)
                        c.PageRouteMoveTowardPlayer();
                    else
                        c.MoveTowardPlayer();
                } else if (code == 18) {
                    c.MoveAwayFromPlayer();
                } else if (code == 19) {
                    if (pageRoute)
                        c.PageRouteMoveForward();
                    else
                        c.MoveForward();
                } else if (code == 20) {
                    c.MoveBackward();
                } else if (code == 21) {
                    c.Jump(Value(a0), Value(a1));
                } else if (code == 53) {
                    c.MoveToward(true, Value(a0), 0);
                } else {
                    c.MoveToward(false, Value(a0), Value(a1));
                }
                if ((c.currentRoute.routeOptions & kSkipBlocked) || c.CheckBetweenTiles() ||
                    c.IsJumping())
                    ++c.commandIndex;
                return;
            }
            case RouteKind::Turn:
                switch (code) {
                    case 8:
                        c.TurnDown();
                        break;
                    case 9:
                        c.TurnLeft();
                        break;
                    case 10:
                        c.TurnRight();
                        break;
                    case 11:
                        c.TurnUp();
                        break;
                    case 12:
                        c.TurnDownLeft();
                        break;
                    case 13:
                        c.TurnDownRight();
                        break;
                    case 14:
                        c.TurnUpLeft();
                        break;
                    case 15:
                        c.TurnUpRight();
                        break;
                    case 22:
                        c.TurnClockwise();
                        break;
                    case 23:
                        c.TurnCounterClockwise();
                        break;
                    case 24:
                        c.TurnRandomSide();
                        break;
                    case 25:
                        c.TurnRandom();
                        break;
                    case 26:
                        c.TurnTowardPlayer();
                        break;
                    default:
                        c.TurnAwayFromPlayer();
                        break;
                }
                ++c.commandIndex;
                return;
            case RouteKind::Setting:
                break;
        }
        switch (code) {
            case 28:
                TheVariables.SetValue(a0, Value(a1));
                TheMapState.refreshRequest = 1;
                break;
            case 29:
                c.moveSpeed = static_cast<std::int16_t>(a0);
                break;
            case 30:
                c.moveFrequency = static_cast<std::int16_t>(a0);
                break;
            case 31:
                c.animationSpeed = static_cast<std::int16_t>(a0);
                break;
            case 32:
                c.animateWhileStopped = 1;
                break;
            case 33:
                c.animateWhileStopped = 0;
                break;
            case 34:
                c.animateWhileMoving = 1;
                break;
            case 35:
                c.animateWhileMoving = 0;
                break;
            case 36:
                c.fixedDirection = 1;
                break;
            case 37:
                c.fixedDirection = 0;
                break;
            case 38:
                c.passThrough = 1;
                break;
            case 39:
                c.passThrough = 0;
                break;
            case 40:
                c.topPriority = 1;
                break;
            case 41:
                c.topPriority = 0;
                break;
            case 44:
                c.SetGraphic(TheSystemDatabase.ReadString(kGraphicListType, Value(a0), 0));
                break;
            case 45:
                c.opacity = static_cast<std::int16_t>(std::clamp(Value(a0), 0, 255));
                break;
            case 46:
                TheSoundManager.Play(SoundKind::Se, Value(a0), 1, 0, -1);
                break;
            case 47:
                c.waitFrames = Value(a0);
                break;
            case 48:
                c.stepLength = 1;
                break;
            case 49:
                c.stepLength = 2;
                break;
            case 50:
                SetStandingPattern(c, 0);
                break;
            case 51:
                SetStandingPattern(c, 1);
                break;
            case 52:
                SetStandingPattern(c, 2);
                break;
            case 55: {
                const std::int64_t sum = static_cast<std::int64_t>(Value(a0)) + Value(a1);
                TheVariables.SetValue(a0,
                                      static_cast<std::int32_t>(static_cast<std::uint32_t>(sum)));
                TheMapState.refreshRequest = 1;
                break;
            }
            case 56:
                SetStandingPattern(c, 3);
                break;
            case 57:
                SetStandingPattern(c, 4);
                break;
            case 58:
                c.drawYOffset = Value(a0);
                break;
            default:
                break;
        }
        ++c.commandIndex;
        if (c.commandIndex > static_cast<std::int32_t>(c.currentRoute.commands.size())) return;
    }
}

void Game_Character::RunMoveRoute() {
    RunRoute(*this, false);
}

void Game_Character::RunPageRoute() {
    RunRoute(*this, true);
}
