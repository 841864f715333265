#include "runtime/shell/DrawOrderBuckets.h"

#include "runtime/world/Game_Player.h"

#include <algorithm>

#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_Character.h"
#include "runtime/world/Game_MapRenderer.h"
#include "runtime/world/Game_MapState.h"

bool DrawsBelowOthers(const Game_Character&) {
    // No character setting asks for it yet.
    return false;
}

bool DrawsAboveOthers(const Game_Character& character) {
    return character.topPriority != 0;
}

void DrawOrderBuckets::Init() {
    for (auto& list : lists) list.clear();
    // Other tile sizes keep the row height they had.
    if (TileSize == 16 || TileSize == 32 || TileSize == 40) rowPixels = TileSize / 8;
    if (TileSize == 48) rowPixels = TileSize / 12;
    rowPixels = std::max(1, rowPixels);
    rowOffset = 0;
}

std::int32_t DrawOrderBuckets::RowsPerTile() const {
    return std::max(1, TileSize / std::max(1, rowPixels));
}

void DrawOrderBuckets::Place(std::int32_t list, std::int32_t row, std::int32_t item) {
    auto& buckets = lists[static_cast<std::size_t>(list)];
    const std::int32_t index = row + rowOffset;
    if (index < 0 || index >= static_cast<std::int32_t>(buckets.size())) return;
    buckets[static_cast<std::size_t>(index)].push_back(item);
}

void DrawOrderBuckets::Build(VisibleCellRange& range) {
    walkRow = walkIndex = walkList = rowOffset = 0;
    const std::int32_t tile = std::max(1, TileSize);
    const std::int32_t rowsPerTile = RowsPerTile();
    const std::int32_t screenHeight = ScreenHeight / std::max(1, WindowScale);
    const Game_MapState& map = TheMapState;
    screenTiles_ = screenHeight / tile;
    std::int32_t v = screenTiles_ + 2;
    std::int32_t total = (map.GetHeight() + 1) * rowsPerTile;
    zoom_ = std::max(1, map.zoom.currentPercent);
    zoomAware_ = TheSystemState.showMoreWhenZoomedOut == 1;
    const std::int32_t zoomedRows = screenHeight * 100 / zoom_ / tile + 200 / zoom_;
    if (zoomAware_) {
        range.firstRow = std::min(range.firstRow, -1);
        rowOffset = std::max(0, -(range.firstRow * tile / rowPixels));
        v = std::max(v, zoomedRows);
    }
    if (map.loopY) {
        range.firstRow = std::min(range.firstRow, -1);
        rowOffset = -(range.firstRow * tile / rowPixels);
        v = zoomedRows;
    }
    if (map.GetHeight() <= screenTiles_) total += 2 * rowsPerTile;
    totalRows_ = std::max(1, total);
    for (auto& list : lists) {
        list.resize(static_cast<std::size_t>(totalRows_ + rowOffset + 1));
        for (auto& bucket : list) bucket.clear();
    }
    visibleRows = v + 1;

    auto rowOf = [&](const Game_Character& c, bool atLeastZero) {
        std::int32_t r = c.GetDrawBaseY(true) / rowPixels;
        if (atLeastZero) r = std::max(0, r);
        return r % totalRows_;
    };
    auto visible = [&](const Game_Character& c, std::int32_t r) {
        return r + rowOffset >= 0 && r <= (c.spriteValue2 / tile + v) * rowsPerTile;
    };
    const auto& events = map.events;
    auto placeEvents = [&](std::int32_t list, bool below, bool above) {
        for (std::size_t i = 0; i < events.size(); ++i) {
            const Game_Character& e = events[i];
            if (DrawsBelowOthers(e) != below || DrawsAboveOthers(e) != above) continue;
            const std::int32_t r = rowOf(e, false);
            if (visible(e, r)) Place(list, r, static_cast<std::int32_t>(i));
        }
    };
    placeEvents(0, true, false);
    placeEvents(1, false, false);
    auto levelOf = [](const Game_Character& c) {
        return DrawsAboveOthers(c) ? 2 : DrawsBelowOthers(c) ? 0 : 1;
    };
    const std::int32_t playerList = MapPlayer ? levelOf(*MapPlayer) : 1;
    for (std::int32_t n = 4; n >= 0; --n) {
        const Game_Character* f = MapPlayer ? MapPlayer->Follower(n) : nullptr;
        if (!f) continue;
        const std::int32_t r = rowOf(*f, true);
        if (visible(*f, r)) Place(playerList, r, DrawItem::FirstFollower - n);
    }
    if (MapPlayer) Place(playerList, rowOf(*MapPlayer, true), DrawItem::Player);
    // Events above the others: both flags set count as above.
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Game_Character& e = events[i];
        if (!DrawsAboveOthers(e)) continue;
        const std::int32_t r = rowOf(e, false);
        if (visible(e, r)) Place(2, r, static_cast<std::int32_t>(i));
    }
}

std::int32_t DrawOrderBuckets::Next(std::int32_t y) {
    const std::int32_t tile = std::max(1, TileSize);
    const std::int32_t rowsPerTile = RowsPerTile();
    std::int32_t tiles = screenTiles_ + 30;
    if (zoomAware_) {
        const std::int32_t screenHeight = ScreenHeight / std::max(1, WindowScale);
        tiles = std::max(tiles, screenHeight * 100 / zoom_ / tile + 3000 / zoom_);
    }
    const std::int32_t limit = tiles * tile / rowPixels;
    const std::int32_t phase = (rowsPerTile - (y / rowPixels) % rowsPerTile) % rowsPerTile;
    const std::int32_t mapHeight = TheMapState.GetHeight();
    for (;;) {
        const auto& list = lists[static_cast<std::size_t>(walkList)];
        const std::int32_t rows = std::min(static_cast<std::int32_t>(list.size()), limit);
        if (walkRow >= rows) {
            if (walkList == 2) return DrawItem::End;
            ++walkList;
            walkRow = walkIndex = 0;
            continue;
        }
        const auto& bucket = list[static_cast<std::size_t>(walkRow)];
        if (walkIndex < static_cast<std::int32_t>(bucket.size()))
            return bucket[static_cast<std::size_t>(walkIndex++)];
        const std::int32_t row = walkRow++;
        walkIndex = 0;
        if (walkList != 1 || row % rowsPerTile != phase || walkRow >= rows) continue;
        const std::int32_t s = (row - rowOffset) / rowsPerTile;
        std::int32_t t;
        if (y >= 0 && y < rowPixels)
            t = s + (y - rowPixels) / tile - 1;
        else if (row < rowOffset)
            t = s + y / tile - 1;
        else
            t = s + (y - rowPixels) / tile;
        if (TheMapState.loopY && mapHeight > 0)
            while (t < 0) t += mapHeight;
        if (t <= -1) t = -2;
        return DrawItem::TileRowBase - t;
    }
}
