#include "runtime/script/CharacterCommands.h"

#include <algorithm>
#include <array>
#include <string>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/data/TileSet.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/InterpreterOperations.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/StringUtil.h"
#include "runtime/world/Game_Character.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"

std::uint8_t TileSetReloadRequest = 0;
// The map renderer owns this request; the weak definition lets the commands stand without it.
__attribute__((weak)) std::uint8_t ImageListSkipTableRequest = 0;

namespace {

constexpr std::int32_t kLocationTarget = -10001;
constexpr std::int32_t kLocationType = 7;
constexpr std::int32_t kRestoreAllFlags = -1000000;
constexpr std::int32_t kFirstVariableId = 1000000;
constexpr int kPartySize = 6;

PartyLinks LivePlayerLinks() {
    PartyLinks links{};
    links.gatherFollowers = [] {
        if (MapPlayer) MapPlayer->GatherFollowers();
    };
    links.setFollowerStepMode = [](std::int32_t mode) {
        if (MapPlayer == nullptr) return;
        MapPlayer->trailFrozen = static_cast<std::uint8_t>(mode);
        MapPlayer->lastStepWhileFrozen = 0;
    };
    return links;
}

PartyLinks gPartyLinks = LivePlayerLinks();

std::int32_t Arg(const Game_Interpreter& i, std::size_t n) {
    return CommandArgument(*i.currentCommand, n);
}

bool HasOptions(const Game_Interpreter& i) {
    return i.currentCommand->arguments.size() >= 6;
}

bool ImageListMode() {
    return TheSystemState.mapDrawingMode == 1;
}

std::int32_t CurrentMapId() {
    const InterpreterLinks& links = GetInterpreterLinks();
    return links.mapId ? links.mapId() : -1;
}

Game_Character* Player() {
    const InterpreterLinks& links = GetInterpreterLinks();
    return links.player ? links.player() : nullptr;
}

// Party member 1 is the player, 2 to 6 the followers.
Game_Character* Member(std::int32_t m) {
    if (m == 1) return Player();
    const InterpreterLinks& links = GetInterpreterLinks();
    return links.follower ? links.follower(m - 2) : nullptr;
}

std::string MemberGraphic(std::int32_t m) {
    const Game_Character* c = Member(m);
    return c ? c->graphicName : std::string();
}

void SetMemberGraphic(std::int32_t m, const std::string& name) {
    if (Game_Character* c = Member(m)) c->SetGraphic(name);
}

// A character the command names after its target was resolved: -1 this event, -3 to -7 the
// followers, 0 and above map events.
Game_Character* ResolvedCharacter(const Game_Interpreter& i, std::int32_t who) {
    const InterpreterLinks& links = GetInterpreterLinks();
    if (who <= -3) return links.follower ? links.follower(-3 - who) : nullptr;
    if (who == -1) return i.mapEventId != -1 && links.event ? links.event(i.mapEventId) : nullptr;
    if (who < 0) return nullptr;
    return links.event ? links.event(who) : nullptr;
}

void StartTransferTransition(const Game_Interpreter& i) {
    if (!HasOptions(i)) return;
    const std::int32_t t = (Arg(i, 5) >> 4) & 15;
    Game_System& system = TheGameSystem;
    if (t == 2) system.drawingSuspended = 1;
    if ((t == 1 || t == 2) && system.IsTransitionFree()) system.StartTransitionNow();
}

bool CommandMoveCharacter(Game_Interpreter& i) {
    const std::int32_t target = Arg(i, 1);
    bool transferPlayer = false, location = false, fromVariable = false;
    Game_Character* character = nullptr;
    if (target == kLocationTarget) {
        location = true;
    } else if (target == -1) {
        transferPlayer = true;
    } else if (target == -2) {
        character = ResolvedCharacter(i, -1);
        if (character == nullptr) return true;
    } else {
        const std::int32_t who = i.ResolveNumber(target);
        if (who <= -1000) return true;
        if (who == -2) {
            transferPlayer = fromVariable = true;
        } else {
            character = ResolvedCharacter(i, who);
            if (character == nullptr) return true;
        }
    }
    const bool halfTiles = HasOptions(i) && (Arg(i, 5) & 1);
    if (character != nullptr) {
        character->PlaceAt(i.ResolveNumber(Arg(i, 2)), i.ResolveNumber(Arg(i, 3)),
                           halfTiles ? 1 : 0);
        return true;
    }
    Game_System& system = TheGameSystem;
    if (system.transferPending || system.transitionActive) return false;
    std::int32_t map = 0, x = 0, y = 0;
    if (transferPlayer) {
        map = Arg(i, 4) == -1 || fromVariable ? CurrentMapId() : i.ResolveNumber(Arg(i, 4));
        const std::int32_t unit = halfTiles ? 1 : 2;
        x = i.ResolveNumber(Arg(i, 2)) * unit;
        y = i.ResolveNumber(Arg(i, 3)) * unit;
    } else if (location) {
        const std::int32_t row = i.ResolveNumber(Arg(i, 2));
        const Game_Database& db = TheSystemDatabase;
        map = i.ResolveNumber(db.ReadNumber(kLocationType, row, 0));
        x = i.ResolveNumber(db.ReadNumber(kLocationType, row, 1)) * 2;
        y = i.ResolveNumber(db.ReadNumber(kLocationType, row, 2)) * 2;
    }
    system.transferPending = 1;
    system.transferMap = map;
    system.transferX = x;
    system.transferY = y;
    const Game_Character* player = Player();
    system.transferDirection = player ? player->direction : 2;
    i.waitFrames = 1;
    StartTransferTransition(i);
    return true;
}

bool CommandMoveRoute(Game_Interpreter& i) {
    const std::int32_t who = Arg(i, 1);
    Game_Character* character = i.FindCharacter(who);
    if (character == nullptr) return true;
    character->Refresh();
    const Game_MoveRoute route =
        i.currentCommand->moveRoute ? *i.currentCommand->moveRoute : Game_MoveRoute{};
    if (route.routeOptions & 0x04) i.routeWaitTarget = who;
    const Game_MoveRoute copy =
        TheBasicData.GameDataVersion() >= 230 ? i.ResolveRouteVariables(route) : route;
    character->AssignMoveRoute(copy);
    if (TheSystemState.runMoveRoutesAtOnce != 0) character->RunMoveRoute();
    return true;
}

// A chip argument: a literal names a chip of the tileset list, a variable's value a tile number.
std::int32_t ChipOf(Game_Interpreter& i, std::int32_t argument) {
    const std::int32_t n = i.ResolveNumber(argument);
    return argument < kFirstVariableId ? ConvertChipNumber(n) : ConvertTileNumber(n, 1);
}

bool CommandChangeChipFlags(Game_Interpreter& i) {
    Game_MapState& map = TheMapState;
    if (Arg(i, 1) == kRestoreAllFlags) {
        map.tileFlags = map.loadedTileFlags;
        TileSetReloadRequest = 1;
        return true;
    }
    std::int32_t n = ChipOf(i, Arg(i, 1));
    if (ImageListMode()) ++n;
    if (n >= 0 && n < static_cast<std::int32_t>(map.tileFlags.size()))
        map.tileFlags[static_cast<std::size_t>(n)] = Arg(i, 2);
    TileSetReloadRequest = 1;
    return true;
}

bool CommandChangeTileSet(Game_Interpreter& i) {
    Game_MapState& map = TheMapState;
    const std::int32_t n = i.ResolveNumber(Arg(i, 1));
    if (n < 0 || n >= static_cast<std::int32_t>(map.tileSetList.Count())) return true;
    map.tileSet = map.tileSetList.tileSets[static_cast<std::size_t>(n)];
    const std::size_t names = std::min(map.imageNames.size(), map.tileSet.imageFiles.size());
    for (std::size_t k = 0; k < names && k < static_cast<std::size_t>(kTileSetImageSlots); ++k)
        map.imageNames[k] = map.tileSet.imageFiles[k];
    map.tileFlags = map.tileSet.chipFlags;
    map.loadedTileFlags = map.tileFlags;
    map.tileTags = map.tileSet.chipTags;
    TheGameSystem.characterGraphicsChanged = 1;
    TileSetReloadRequest = 1;
    if (ImageListMode()) ImageListSkipTableRequest = 1;
    return true;
}

bool CommandFillMapTiles(Game_Interpreter& i) {
    Game_MapState& map = TheMapState;
    const std::int32_t layer = i.ResolveNumber(Arg(i, 1));
    const std::int32_t x0 = i.ResolveNumber(Arg(i, 2));
    const std::int32_t y0 = i.ResolveNumber(Arg(i, 3));
    std::int32_t w = i.ResolveNumber(Arg(i, 4));
    std::int32_t h = i.ResolveNumber(Arg(i, 5));
    const std::int32_t n = ChipOf(i, Arg(i, 6));
    const std::int32_t mw = map.GetWidth(), mh = map.GetHeight();
    if (layer < 1 || layer > 3 || n < 0 || n >= static_cast<std::int32_t>(map.tileFlags.size()) ||
        x0 < 0 || x0 >= mw || y0 < 0 || y0 >= mh)
        return true;
    w = std::min(w, mw - x0);
    h = std::min(h, mh - y0);
    std::vector<std::int32_t>& cells = map.mapData.layers[static_cast<std::size_t>(layer - 1)];
    if (cells.size() < static_cast<std::size_t>(mw) * static_cast<std::size_t>(mh)) return true;
    auto cell = [&](std::int32_t cx, std::int32_t cy) -> std::int32_t& {
        return cells[static_cast<std::size_t>(cx) * static_cast<std::size_t>(mh) +
                     static_cast<std::size_t>(cy)];
    };
    const std::int32_t stored = n < 32 ? n * 100000 + 104444 : n - 32;
    for (std::int32_t cx = x0; cx < x0 + w; ++cx)
        for (std::int32_t cy = y0; cy < y0 + h; ++cy) cell(cx, cy) = stored;
    // The filled cells and their neighbours join the autotiles around them again; a cell beyond
    // the map's edge counts as the same autotile.
    for (std::int32_t cx = std::max(0, x0 - 1); cx <= std::min(mw - 1, x0 + w); ++cx) {
        for (std::int32_t cy = std::max(0, y0 - 1); cy <= std::min(mh - 1, y0 + h); ++cy) {
            const bool inside = cx > x0 && cx < x0 + w - 1 && cy > y0 && cy < y0 + h - 1;
            if (inside) continue;
            const std::int32_t k = cell(cx, cy) / 100000;
            if (k < 2) continue;
            std::uint8_t joined[9];
            for (int d = 0; d < 9; ++d) {
                const std::int32_t nx = cx + d % 3 - 1, ny = cy + d / 3 - 1;
                if (nx < 0 || ny < 0 || nx >= mw || ny >= mh) {
                    joined[d] = 1;
                } else {
                    const std::int32_t v = cell(nx, ny);
                    joined[d] = v >= k * 100000 && v <= k * 100000 + 99999;
                }
            }
            cell(cx, cy) = k * 100000 + ComputeAutotilePartCode(joined);
        }
    }
    if (ImageListMode()) ImageListSkipTableRequest = 1;
    return true;
}

void ReportMemberNumber(const char16_t* first, const char16_t* second) {
    ReportRuntimeError(true, TranslateMessageUtf8(first), TranslateMessageUtf8(second),
                       GetScriptLocationText());
}

std::string PartyName(Game_Interpreter& i) {
    const std::int32_t bits = Arg(i, 1);
    std::string name;
    if (bits & 0x100) {
        name = i.ResolveString(Arg(i, 3));
        if (name == "<<ERROR>>") name = i.ResolveString(i.ResolveNumber(Arg(i, 3)));
    } else {
        const std::vector<std::string>& strings = i.currentCommand->strings;
        name = strings.empty() ? std::string() : strings[0];
    }
    name = ReplaceAllText(name, kLiteralBackslashCode, "\\");
    return ReplaceAllText(name, "\\\\", "\\");
}

void PartyWideOperation(std::int32_t sub) {
    Game_SystemState& state = TheSystemState;
    switch (sub) {
        case 0x00: {
            std::vector<std::string> kept;
            for (std::int32_t m = 1; m <= kPartySize; ++m) {
                std::string g = MemberGraphic(m);
                if (!g.empty()) kept.push_back(std::move(g));
            }
            for (std::int32_t m = 1; m <= kPartySize; ++m) {
                const auto k = static_cast<std::size_t>(m - 1);
                SetMemberGraphic(m, k < kept.size() ? kept[k] : std::string());
            }
            break;
        }
        case 0x10:
            for (std::int32_t m = 1; m <= kPartySize; ++m) SetMemberGraphic(m, "");
            break;
        case 0x20:
            if (gPartyLinks.gatherFollowers) gPartyLinks.gatherFollowers();
            break;
        case 0x30:
        case 0x40:
            if (gPartyLinks.setFollowerStepMode) gPartyLinks.setFollowerStepMode(sub == 0x30);
            break;
        case 0x50:
        case 0x60:
            for (std::int32_t m = 1; m <= kPartySize; ++m) {
                if (Game_Character* c = Member(m)) c->opacity = sub == 0x50 ? 0 : 255;
            }
            break;
        case 0x70:
            state.partyGraphics.clear();
            for (std::int32_t m = 1; m <= kPartySize; ++m)
                state.partyGraphics.push_back(MemberGraphic(m));
            break;
        case 0x80:
            for (std::int32_t m = 1; m <= kPartySize; ++m) {
                const auto k = static_cast<std::size_t>(m - 1);
                SetMemberGraphic(
                    m, k < state.partyGraphics.size() ? state.partyGraphics[k] : std::string());
            }
            break;
        case 0x90:
            state.partyFollowing = 1;
            break;
        case 0xA0:
            state.partyFollowing = 0;
            break;
        default:
            break;
    }
}

bool CommandPartyMember(Game_Interpreter& i) {
    // The followers take the party's shadow and load it anew.
    for (std::int32_t m = 2; m <= kPartySize; ++m) {
        if (Game_Character* c = Member(m)) {
            if (c->settingBytes.empty()) c->settingBytes.resize(1);
            c->settingBytes[0] = static_cast<std::uint8_t>(TheSystemState.playerShadow);
            c->appliedExtraGraphic = -1;
        }
    }
    const std::int32_t bits = Arg(i, 1);
    const std::int32_t operation = bits & 15;
    std::int32_t m = 0;
    if (operation <= 2) {
        m = i.ResolveNumber(Arg(i, 2));
        if (m < 1) {
            ReportMemberNumber(u"キャラ操作エラー：「0」人目以下の値が指定されました",
                               u"この指定は「1」人目以上でなければなりません");
            return true;
        }
        if (m > kPartySize) {
            ReportMemberNumber(u"キャラ操作エラー：「7」人目以上の値が指定されました",
                               u"この指定は「6」人目以下でなければなりません");
            return true;
        }
    }
    std::string name;
    if (operation >= 1 && operation <= 3) name = PartyName(i);
    switch (operation) {
        case 0:
            SetMemberGraphic(m, "");
            break;
        case 1:
            for (std::int32_t k = kPartySize; k >= m + 1; --k)
                SetMemberGraphic(k, MemberGraphic(k - 1));
            SetMemberGraphic(m, name);
            break;
        case 2:
            SetMemberGraphic(m, name);
            break;
        case 3:
            for (std::int32_t k = 1; k <= kPartySize; ++k) {
                if (MemberGraphic(k) == name) SetMemberGraphic(k, "");
            }
            break;
        case 4:
            PartyWideOperation(bits & 0xF0);
            break;
        default:
            break;
    }
    return true;
}

}  // namespace

PartyLinks& GetPartyLinks() {
    return gPartyLinks;
}

void ResetPartyLinks() {
    gPartyLinks = LivePlayerLinks();
}

void InstallCharacterCommands() {
    SetCommandHandler(130, &CommandMoveCharacter);
    SetCommandHandler(201, &CommandMoveRoute);
    SetCommandHandler(240, &CommandChangeChipFlags);
    SetCommandHandler(241, &CommandChangeTileSet);
    SetCommandHandler(242, &CommandFillMapTiles);
    SetCommandHandler(270, &CommandPartyMember);
}
