// What the interpreter and the variable store ask of the live map and its characters.
#include "runtime/data/Game_SystemState.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"

namespace {

Game_Character* FindCharacter(VariableCharacter who) {
    if (!who.partyMember) return TheMapState.FindEvent(who.number);
    if (MapPlayer == nullptr) return nullptr;
    if (who.number == 0) return MapPlayer;
    return MapPlayer->Follower(who.number - 1);
}

bool ReadProperty(VariableCharacter who, std::int32_t property, std::int32_t& value) {
    Game_Character* c = FindCharacter(who);
    if (c == nullptr) return false;
    switch (property) {
        case 0:
            value = c->x / 2;
            break;
        case 1:
            value = c->y / 2;
            break;
        case 2:
            value = c->x;
            break;
        case 3:
            value = c->y;
            break;
        case 4:
            value = c->drawYOffset;
            break;
        case 5:
            value = c->settingBytes.empty() ? 0 : c->settingBytes[0];
            break;
        case 6:
            value = c->direction;
            break;
        case 7:
            value = c->pixelOffsetX;
            break;
        case 8:
            value = c->pixelOffsetY;
            break;
        default:
            value = 0;
            break;
    }
    return true;
}

void WriteProperty(VariableCharacter who, std::int32_t property, std::int32_t value) {
    Game_Character* c = FindCharacter(who);
    if (c == nullptr) return;
    switch (property) {
        case 0:
            c->x = value * 2;
            break;
        case 1:
            c->y = value * 2;
            break;
        case 2:
            c->x = value;
            break;
        case 3:
            c->y = value;
            break;
        case 4:
            c->drawYOffset = value;
            break;
        case 5:
            c->Refresh();
            if (!c->settingBytes.empty())
                c->settingBytes[0] = static_cast<std::uint8_t>(value & 0xFF);
            if (who.partyMember) RecordPartyShadow(who.number, value, TheSystemState);
            break;
        case 6:
            c->Refresh();
            c->direction = static_cast<std::int16_t>(
                NormalizeWrittenDirection(value, who.partyMember, c->diagonalGraphics != 0));
            break;
        case 7:
            c->MoveByPixels(value - c->pixelOffsetX, 0);
            break;
        case 8:
            c->MoveByPixels(0, value - c->pixelOffsetY);
            break;
        default:
            break;
    }
}

bool ReadGraphic(VariableCharacter who, std::string& fileName) {
    Game_Character* c = FindCharacter(who);
    if (c == nullptr) return false;
    fileName = c->graphicName;
    return true;
}

bool WriteGraphic(VariableCharacter who, const std::string& fileName) {
    Game_Character* c = FindCharacter(who);
    if (c == nullptr) return false;
    c->SetGraphic(fileName);
    return true;
}

}  // namespace

void InstallMapLinks() {
    InterpreterLinks& links = GetInterpreterLinks();
    links.mapId = [] { return TheMapState.mapId; };
    links.requestRefresh = [] { TheMapState.refreshRequest = 1; };
    links.refreshRequested = [] { return TheMapState.refreshRequest != 0; };
    links.refreshEvents = [] { TheMapState.RefreshEvents(); };
    links.event = [](std::int32_t id) -> Game_Character* { return TheMapState.FindEvent(id); };
    links.firstStartingEvent = []() -> std::int32_t {
        for (const Game_Event& e : TheMapState.events)
            if (e.startFlag && !e.IsErasing()) return e.id;
        return -1;
    };
    links.eventTrigger = [](std::int32_t id) -> std::int32_t {
        const Game_Event* e = TheMapState.FindEvent(id);
        return e ? e->triggerKind : -1;
    };
    links.clearStartFlag = [](std::int32_t id) {
        if (Game_Event* e = TheMapState.FindEvent(id)) e->ClearStartFlag();
    };
    links.eventCommands = [](std::int32_t id) -> const Game_CommandList* {
        const Game_Event* e = TheMapState.FindEvent(id);
        return e && e->pageIndex >= 0 ? e->commands.get() : nullptr;
    };
    links.startTimedErase = [](std::int32_t id, std::int32_t frames) {
        if (Game_Event* e = TheMapState.FindEvent(id)) e->StartTimedErase(frames);
    };
    links.eventPageCount = [](std::int32_t id) -> std::int32_t {
        const Game_Event* e = TheMapState.FindEvent(id);
        return e ? static_cast<std::int32_t>(e->data.pages.size()) : 0;
    };
    links.eventPageCommands = [](std::int32_t id, std::int32_t page) -> const Game_CommandList* {
        const Game_Event* e = TheMapState.FindEvent(id);
        if (e == nullptr || page < 0 || page >= static_cast<std::int32_t>(e->data.pages.size()))
            return nullptr;
        return &e->data.pages[static_cast<std::size_t>(page)].commands;
    };
    links.requestEventStart = [](std::int32_t id) {
        if (Game_Event* e = TheMapState.FindEvent(id)) e->RequestStart();
    };
    links.routeRunning = [](Game_Character* c) { return c != nullptr && c->routeRunning != 0; };
    links.anyRouteRunning = []() {
        if (MapPlayer != nullptr) {
            if (MapPlayer->routeRunning) return true;
            for (const Game_Character& f : MapPlayer->followers)
                if (f.routeRunning) return true;
        }
        for (const Game_Event& e : TheMapState.events)
            if (e.routeRunning) return true;
        return false;
    };
    links.stopAllRoutes = []() {
        if (MapPlayer != nullptr) {
            MapPlayer->routeRunning = 0;
            for (Game_Character& f : MapPlayer->followers) f.routeRunning = 0;
        }
        for (Game_Event& e : TheMapState.events) e.routeRunning = 0;
    };
    links.player = []() -> Game_Character* { return MapPlayer; };
    links.follower = [](std::int32_t index) -> Game_Character* {
        return MapPlayer ? MapPlayer->Follower(index) : nullptr;
    };
    links.characterId = [](Game_Character* c) { return c ? c->id : -1; };
    links.isScrolling = [] { return TheMapState.IsScrolling(); };
    links.lockFacingForEvent = [](std::int32_t id) {
        if (Game_Character* c = TheMapState.FindEvent(id)) c->LockFacingForEvent();
    };
    links.unlockFacing = [](std::int32_t id) {
        if (Game_Character* c = TheMapState.FindEvent(id)) c->UnlockFacing();
    };
    VariableStoreLinks& store = GetVariableStoreLinks();
    store.liveMapId = [] { return TheMapState.mapId; };
    store.readCharacterProperty = &ReadProperty;
    store.writeCharacterProperty = &WriteProperty;
    store.readCharacterGraphic = &ReadGraphic;
    store.writeCharacterGraphic = &WriteGraphic;
}
