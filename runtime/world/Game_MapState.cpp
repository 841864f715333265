#include "runtime/world/Game_MapState.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/data/SaveStream.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"

Game_MapState TheMapState;
std::uint8_t MapLayersMissing = 0;

namespace {

constexpr int kMapSettingsType = 0;

std::int32_t WrapInto(std::int32_t v, std::int32_t size) {
    if (size <= 0) return 0;
    return ((v % size) + size) % size;
}

// The game screen in game pixels.
std::int32_t GameScreenWidth() {
    return ScreenWidth / std::max(1, WindowScale);
}
std::int32_t GameScreenHeight() {
    return ScreenHeight / std::max(1, WindowScale);
}

// A panorama given in text: the file name, then the two speeds and the parallax divisor.
void ApplyFilePanorama(std::string text) {
    Game_SystemState& state = TheSystemState;
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    std::int32_t values[3] = {0, 0, 0};
    std::string name;
    if (!text.empty()) {
        std::size_t at = text.find('\n');
        name = text.substr(0, at);
        for (std::int32_t& value : values) {
            if (at == std::string::npos) break;
            const std::size_t from = at + 1;
            at = text.find('\n', from);
            value = std::atoi(text.substr(from, at == std::string::npos ? at : at - from).c_str());
        }
    }
    state.panoramaSettings = name;
    state.panoramaSpeedX = values[0];
    state.panoramaSpeedY = values[1];
    state.panoramaParallax = values[2];
    state.panoramaFromFile = 1;
    if (name.empty()) {
        state.panoramaFromFile = 0;
        state.panoramaNumber = -1;
    }
}

}  // namespace

Game_MapState::Game_MapState() {
    Reset();
}

void Game_MapState::Reset() {
    mapId = -1;
    displayX = displayY = 0;
    zoom = MapZoom{};
    refreshRequest = 0;
    frameCounter = 0;
    shakeX = shakeY = MapShakeAxis{};
    shakeOffsetX = shakeOffsetY = 0;
    events.clear();
    runners.clear();
    intList.clear();
}

bool Game_MapState::CopyTileSet(std::int32_t number) {
    const Game_TileSet* found = tileSetList.Find(number);
    if (found == nullptr) {
        // A map naming a tileset the list lacks gets an empty one rather than reading past it.
        ReportRuntimeError(true,
                           TranslateMessageUtf8(u"エラー：マップのタイルセット番号が存在しません"),
                           std::to_string(number), GetScriptLocationText());
        tileSet = Game_TileSet{};
        tileSet.chipFlags.clear();
        tileSet.chipTags.clear();
    } else {
        tileSet = *found;
    }
    for (int i = 0; i < kTileSetImageSlots && i < static_cast<int>(tileSet.imageFiles.size()); ++i)
        imageNames[i] = tileSet.imageFiles[i];
    tileFlags = tileSet.chipFlags;
    loadedTileFlags = tileFlags;
    tileTags = tileSet.chipTags;
    return found != nullptr;
}

bool Game_MapState::LoadMap(std::int32_t id) {
    mapId = id;
    const std::string fileName = TheSystemDatabase.ReadString(kMapSettingsType, id, 0);
    if (!ReadMapFile(mapData, fileName, DataPath)) {
        TheGameSystem.gameState = GameState::Quit;
        return false;
    }
    CopyTileSet(mapData.header.tileSetNumber);
    displayX = displayY = 0;
    refreshRequest = 0;
    events.clear();
    events.reserve(mapData.events.size());
    for (const Game_EventData& data : mapData.events) events.emplace_back(id, data);
    if (runners.empty()) {
        for (const Game_CommonEvent& common : TheCommonEvents.events) {
            const int trigger = common.TriggerKind();
            if (trigger == 2 || trigger == 3) runners.emplace_back(common.number);
        }
    }
    scrollDirX = scrollDirY = 0;
    scrollRemainX = scrollRemainY = 0;
    scrollStepX = scrollStepY = 4;
    const std::int32_t fields = TheSystemDatabase.FieldCount(kMapSettingsType);
    if (fields >= 5) {
        const std::int32_t v = TheSystemDatabase.ReadNumber(kMapSettingsType, id, 4);
        if (v >= -1) {
            TheSystemState.panoramaNumber = v;
        } else if (v == -3 && fields >= 8) {
            ApplyFilePanorama(TheSystemDatabase.ReadString(kMapSettingsType, id, 7));
        }
    }
    loopX = loopY = 0;
    const std::int32_t looping =
        fields >= 4 ? TheSystemDatabase.ReadNumber(kMapSettingsType, id, 3) : 0;
    if (looping == 1 || looping == 3) loopX = 1;
    if (looping == 2 || looping == 3) loopY = 1;
    eventNameIndex.clear();
    for (const Game_EventData& data : mapData.events) eventNameIndex[data.name] = data.id;
    return true;
}

bool Game_MapState::ReloadLayers(std::int32_t id) {
    mapId = id;
    Game_MapData fresh;
    if (!ReadMapFile(fresh, TheSystemDatabase.ReadString(kMapSettingsType, id, 0), DataPath)) {
        TheGameSystem.gameState = GameState::Quit;
        return false;
    }
    // The state keeps its size: a file of another size is cut or padded to it.
    const std::int32_t w = GetWidth(), h = GetHeight();
    for (int layer = 0; layer < 3; ++layer) {
        std::vector<std::int32_t> cells(static_cast<std::size_t>(w) * h, kNoTile);
        for (std::int32_t cx = 0; cx < std::min(w, fresh.header.width); ++cx)
            for (std::int32_t cy = 0; cy < std::min(h, fresh.header.height); ++cy)
                cells[static_cast<std::size_t>(cx) * h + cy] = fresh.Tile(layer, cx, cy);
        mapData.layers[layer] = std::move(cells);
    }
    return true;
}

std::int32_t Game_MapState::TileIndexOf(std::int32_t stored) {
    return stored >= 100000 ? stored / 100000 - 1 : stored + 32;
}

std::int32_t Game_MapState::GetTileId(std::int32_t x, std::int32_t y, int layer) const {
    const std::int32_t w = GetWidth(), h = GetHeight();
    if (w <= 0 || h <= 0 || layer < 0 || layer > 2) return -1;
    const std::int32_t cx = WrapInto(x, 2 * w) / 2, cy = WrapInto(y, 2 * h) / 2;
    const auto& cells = mapData.layers[layer];
    const std::size_t at = static_cast<std::size_t>(cx) * h + cy;
    if (at >= cells.size()) return -1;
    return TileIndexOf(cells[at]);
}

bool Game_MapState::IsFootprintInside(std::int32_t x, std::int32_t row) const {
    return (loopX || (x >= 0 && x < 2 * GetWidth() - 1)) &&
           (loopY || (row >= 0 && row < 2 * GetHeight()));
}

bool Game_MapState::CanPassTiles(std::int32_t x, std::int32_t y, int dir, int stepLength) const {
    const std::int32_t r = y + 1;
    if (!IsFootprintInside(x, r)) return false;
    static const int kEdge[10] = {0, 0, 0x1, 0, 0x2, 0, 0x4, 0, 0x8, 0};
    const int edge = (dir >= 0 && dir <= 9) ? kEdge[dir] : 0;
    for (std::int32_t c : {x, x + 1}) {
        int layer = 2;
        bool passes = false;
        while (!passes) {
            std::int32_t index = GetTileId(c, r, layer);
            while (index == 0 && layer > 0) index = GetTileId(c, r, --layer);
            if (index < 0 || index >= static_cast<std::int32_t>(tileFlags.size())) return false;
            const std::int32_t f = tileFlags[index];
            if (f & TileFlag::QuarterBlocks) {
                if (stepLength == 2 && (f & 0xF)) return false;
                const bool negativeOdd = (c < 0 && (c & 1)) || (r < 0 && (r & 1));
                if (!negativeOdd) {
                    const bool right = (c & 1) != 0, lower = (r & 1) != 0;
                    const int bit = right ? (lower ? 0x1 : 0x4) : (lower ? 0x2 : 0x8);
                    if (f & bit) return false;
                }
            } else {
                const bool xOdd = (x & 1) != 0;
                if (dir == 6 && c == x && (f & 0x4) && xOdd) return false;
                if (dir == 4 && c == x + 1 && (f & 0x2) && xOdd) return false;
                if (edge && (f & edge) && stepLength == 1) {
                    if ((dir == 6 && c == x && !xOdd) || (dir == 4 && c == x && !xOdd) ||
                        (dir == 2 && (y & 1) == 0) || (dir == 8 && (y & 1) != 0))
                        return false;
                } else if (stepLength == 2 && edge && (f & edge)) {
                    return false;
                }
                if ((f & 0xF) == 0xF) return false;
            }
            if ((f & TileFlag::PassToBelow) && layer > 0) {
                --layer;
                continue;
            }
            passes = true;
        }
    }
    return true;
}

bool Game_MapState::IsTilePassable(std::int32_t x, std::int32_t y) const {
    if (!loopX && (x < 0 || x >= 2 * GetWidth())) return false;
    if (!loopY && (y < 0 || y >= 2 * GetHeight())) return false;
    for (int layer = 2; layer >= 0; --layer) {
        const std::int32_t index = GetTileId(x, y, layer);
        if (index == 0 && layer > 0) continue;
        if (index < 0 || index >= static_cast<std::int32_t>(tileFlags.size())) return false;
        const std::int32_t f = tileFlags[index];
        if ((f & 0xF) == 0xF) return false;
        if (f & TileFlag::PassToBelow) continue;
        if (f & TileFlag::QuarterBlocks) {
            const bool right = (x & 1) != 0, lower = (y & 1) != 0;
            const int bit = right ? (lower ? 0x1 : 0x4) : (lower ? 0x2 : 0x8);
            return (f & bit) == 0;
        }
        if (f & TileFlag::Overhead) continue;
        return true;
    }
    return true;
}

std::int32_t Game_MapState::GetTileTag(std::int32_t x, std::int32_t y) const {
    if (mapId < 0) return 0;
    for (int layer = 2; layer >= 0; --layer) {
        std::int32_t best = 0;
        for (std::int32_t c : {x, x + 1}) {
            const std::int32_t index = GetTileId(c, y + 1, layer);
            if (index >= 0 && index < static_cast<std::int32_t>(tileTags.size()))
                best = std::max<std::int32_t>(best, tileTags[index]);
        }
        if (best > 0) return best;
    }
    return 0;
}

bool Game_MapState::IsHalfHiddenAt(std::int32_t x, std::int32_t y) const {
    if (mapId < 0 || tileFlags.empty()) return false;
    const std::int32_t last = static_cast<std::int32_t>(tileFlags.size()) - 1;
    for (int layer = 2; layer >= 0; --layer) {
        bool both = true;
        for (std::int32_t c : {x, x + 1}) {
            std::int32_t index = GetTileId(c, y + 1, layer);
            if (index < 0 || index > last) index = last;
            both = both && (tileFlags[index] & TileFlag::HalfHide);
        }
        if (both) return true;
    }
    return false;
}

bool Game_MapState::IsCounterAt(std::int32_t x, std::int32_t y) const {
    if (mapId < 0) return false;
    auto isCounter = [&](std::int32_t cx, std::int32_t cy, int layer) {
        const std::int32_t index = GetTileId(cx, cy, layer);
        return index >= 0 && index < static_cast<std::int32_t>(tileFlags.size()) &&
               (tileFlags[index] & TileFlag::Counter);
    };
    for (int layer = 0; layer < 3; ++layer) {
        if (TheBasicData.StepLengthSetting() == 1) {
            if (isCounter(x, y, layer)) return true;
            continue;
        }
        static const int kCells[6][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, 1}, {-1, 1}, {1, 1}};
        bool anyMissing = false, any = false;
        for (const auto& d : kCells) {
            if (GetTileId(x + d[0], y + d[1], layer) < 0) anyMissing = true;
            if (isCounter(x + d[0], y + d[1], layer)) any = true;
        }
        if (!anyMissing && any) return true;
    }
    return false;
}

void Game_MapState::RefreshEvents() {
    if (mapId >= 0) {
        for (Game_Event& event : events) event.Refresh();
        for (Game_CommonEventRunner& runner : runners) runner.Refresh();
    }
    refreshRequest = 0;
}

void Game_MapState::StartScroll(std::int32_t dx, std::int32_t dy, std::int32_t speed) {
    scrollDirX = dx > 0 ? 6 : 4;
    scrollDirY = dy > 0 ? 2 : 8;
    scrollRemainX = std::abs(dx);
    scrollRemainY = std::abs(dy);
    const double len = std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
    auto base = [&](std::int32_t d) -> double {
        if (speed == 8) {
            const std::int64_t limit = 2000000000LL / (2 * std::max(1, TileSize));
            return 2.0 * TileSize * std::min<std::int64_t>(std::abs(d), limit);
        }
        return std::pow(2.0, speed <= 8 ? speed + 1 : speed);
    };
    auto step = [&](std::int32_t d) {
        if (len <= 0) return 1;
        const double s = std::trunc(std::trunc(base(d)) * std::abs(d) / len);
        return std::max(1, static_cast<std::int32_t>(std::min(s, 2.0e9)));
    };
    scrollStepX = step(dx);
    scrollStepY = step(dy);
}

void Game_MapState::ScrollRight(std::int32_t d) {
    if (loopX) {
        displayX += d;
        return;
    }
    const std::int32_t limit = (GetWidth() * TileSize - GameScreenWidth()) * 4;
    displayX = std::min(displayX + d, limit);
    if (displayX < 0) displayX = 0;
}

void Game_MapState::ScrollLeft(std::int32_t d) {
    if (loopX) {
        const std::int32_t span = std::max(1, GetWidth() * TileSize * 4);
        displayX = ((displayX + span - d) % span + span) % span;
        return;
    }
    displayX = std::max(0, displayX - d);
}

void Game_MapState::ScrollDown(std::int32_t d) {
    if (loopY) {
        displayY += d;
        return;
    }
    const std::int32_t limit = (GetHeight() * TileSize - GameScreenHeight()) * 4;
    displayY = std::min(displayY + d, limit);
    if (displayY < 0) displayY = 0;
}

void Game_MapState::ScrollUp(std::int32_t d) {
    if (loopY) {
        const std::int32_t span = std::max(1, GetHeight() * TileSize * 4);
        displayY = ((displayY + span - d) % span + span) % span;
        return;
    }
    displayY = std::max(0, displayY - d);
}

void Game_MapState::StartShake(std::int32_t strength, std::int32_t speed, std::int32_t axis,
                               std::int32_t frames) {
    MapShakeAxis* target = axis == 0 ? &shakeY : axis == 1 ? &shakeX : nullptr;
    if (target == nullptr) return;
    target->strength2 = static_cast<std::int32_t>(std::pow(static_cast<double>(strength), 2.0));
    target->speed2 = static_cast<std::int32_t>(std::pow(static_cast<double>(speed), 2.0));
    target->frames = frames + 1;
    target->direction = 1;
}

void Game_MapState::StopShake() {
    shakeX.frames = shakeY.frames = 0;
}

void Game_MapState::UpdateShakeAxis(MapShakeAxis& a) const {
    if (a.frames <= 0 && a.accumulator == 0) return;
    const std::int64_t k = std::max(1, FrameMultiplier);
    const std::int64_t step =
        (static_cast<std::int64_t>(a.speed2) * a.strength2 * a.direction * 64 / k) / 10;
    if (a.frames > 1 || static_cast<std::int64_t>(a.accumulator) * (a.accumulator + step) > 0)
        a.accumulator = static_cast<std::int32_t>(a.accumulator + step);
    else
        a.accumulator = 0;
    const std::int64_t bound = static_cast<std::int64_t>(a.strength2) * 128;
    if (a.accumulator > bound) a.direction = -1;
    if (a.accumulator < -bound) a.direction = 1;
    if (a.frames >= 1 && a.frames <= 99999) --a.frames;
}

void Game_MapState::StartZoom(std::int32_t zx, std::int32_t zy, std::int32_t percent,
                              std::int32_t frames) {
    const std::int64_t d = std::max(1, zoom.duration), k = zoom.remaining;
    zoom.startPercent = static_cast<std::int32_t>(zoom.targetPercent -
                                                  k * (zoom.targetPercent - zoom.startPercent) / d);
    if (zoom.startPercent == 100) {
        zoom.startX = zx;
        zoom.startY = zy;
    } else {
        zoom.startX =
            static_cast<std::int32_t>(zoom.targetX - k * (zoom.targetX - zoom.startX) / d);
        zoom.startY =
            static_cast<std::int32_t>(zoom.targetY - k * (zoom.targetY - zoom.startY) / d);
    }
    zoom.targetX = zx;
    zoom.targetY = zy;
    zoom.targetPercent = percent;
    zoom.remaining = zoom.duration = frames;
}

void Game_MapState::StartMapMusic() {
    if (mapId < 0) return;
    const std::int32_t fields = TheSystemDatabase.FieldCount(kMapSettingsType);
    for (int kindIndex = 0; kindIndex < 2; ++kindIndex) {
        const SoundKind kind = kindIndex == 0 ? SoundKind::Bgm : SoundKind::Bgs;
        const std::int32_t v = TheSystemDatabase.ReadNumber(kMapSettingsType, mapId, 1 + kindIndex);
        std::int32_t& own =
            kindIndex == 0 ? TheGameSystem.bgmDatabaseVolume : TheGameSystem.bgsDatabaseVolume;
        if (v == -3 && fields >= 6 + kindIndex) {
            const std::string file =
                TheSystemDatabase.ReadString(kMapSettingsType, mapId, 5 + kindIndex);
            const std::int32_t h = TheSoundManager.PlayFile(kind, 5, 0, 100, 100, 0, file);
            const bool skip = h == -10 && (kindIndex == 0 || TheSystemState.currentBgs == -3);
            if (!skip) TheSoundManager.Play(kind, h, 5, 0, -1);
            own = TheGameSystem.playFileVolume;
        } else if (v >= -1) {
            TheSoundManager.Play(kind, v, 5, 0, -1);
        }
        const std::int32_t master = kindIndex == 0 ? TheSystemState.bgmVolumeCorrection
                                                   : TheSystemState.bgsVolumeCorrection;
        TheSoundManager.SetMusicVolumeNow(kind, master * own / 100);
    }
}

void Game_MapState::Update() {
    CommandStepCounter = 0;
    if (refreshRequest) RefreshEvents();
    if (scrollRemainX > 0) {
        const std::int32_t r = scrollRemainX;
        const std::int32_t s = std::clamp(scrollStepX, -r, r);
        if (scrollDirX == 4) ScrollLeft(s);
        if (scrollDirX == 6) ScrollRight(s);
        scrollRemainX = std::max(0, r - scrollStepX);
    }
    if (scrollRemainY > 0) {
        const std::int32_t r = scrollRemainY;
        const std::int32_t s = std::clamp(scrollStepY, -r, r);
        if (scrollDirY == 2) ScrollDown(s);
        if (scrollDirY == 8) ScrollUp(s);
        scrollRemainY = std::max(0, r - scrollStepY);
    }
    UpdateShakeAxis(shakeX);
    UpdateShakeAxis(shakeY);
    shakeOffsetX =
        static_cast<std::int32_t>(static_cast<std::int64_t>(TileSize) * shakeX.accumulator / 2048);
    shakeOffsetY =
        static_cast<std::int32_t>(static_cast<std::int64_t>(TileSize) * shakeY.accumulator / 2048);
    if (zoom.remaining > 0) {
        const std::int64_t k = --zoom.remaining;
        if (k <= 0) zoom.startPercent = zoom.targetPercent;
        const std::int64_t d = std::max(1, zoom.duration);
        zoom.currentX =
            static_cast<std::int32_t>(zoom.targetX - (zoom.targetX - zoom.startX) * k / d);
        zoom.currentY =
            static_cast<std::int32_t>(zoom.targetY - (zoom.targetY - zoom.startY) * k / d);
        zoom.currentPercent = static_cast<std::int32_t>(
            zoom.targetPercent - (zoom.targetPercent - zoom.startPercent) * k / d);
    } else {
        zoom.currentX = zoom.targetX;
        zoom.currentY = zoom.targetY;
        zoom.currentPercent = zoom.targetPercent;
    }
    for (std::size_t i = 0; i < events.size(); ++i) {
        events[i].Update();
        if (SaveJustLoaded) return;
    }
    frameCounter = (frameCounter + 1) % 2400000;
}

Game_Event* Game_MapState::FindEvent(std::int32_t id) {
    for (Game_Event& event : events)
        if (event.id == id) return &event;
    return nullptr;
}
