// The live map's part of a save.
#include <cstdint>

#include "runtime/data/Game_SystemState.h"
#include "runtime/data/SaveStream.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/world/Game_MapState.h"

namespace {

void WriteIntList(const std::vector<std::int32_t>& list) {
    TheSaveStream.WriteInt32(static_cast<std::int32_t>(list.size()));
    for (std::int32_t v : list) TheSaveStream.WriteInt32(v);
}

// A count read from a save must fit the bytes left, at `itemSize` bytes an item; a count that
// cannot is a damaged save and fails the part before anything is allocated for it.
bool CountFits(std::int64_t count, std::int64_t itemSize) {
    if (count < 0 || count * itemSize > TheSaveStream.Remaining()) {
        TheSaveStream.overrun = true;
        return false;
    }
    return true;
}

bool ReadString(std::string& text) {
    if (!TheSaveStream.ReadLongString(text)) return false;
    if (!TheSaveStream.utf8) text = ConvertOldSaveString(text);
    return true;
}

}  // namespace

bool ReadSaveIntList(std::vector<std::int32_t>& list) {
    std::int32_t count = 0;
    if (!TheSaveStream.ReadInt32(count) || !CountFits(count, 4)) return false;
    list.assign(static_cast<std::size_t>(count), 0);
    for (std::int32_t& v : list)
        if (!TheSaveStream.ReadInt32(v)) return false;
    return true;
}

void Game_MapState::WriteSave() const {
    SaveStream& s = TheSaveStream;
    s.WriteInt32(mapId);
    s.WriteInt32(displayX);
    s.WriteInt32(displayY);
    s.WriteInt32(GetWidth());
    s.WriteInt32(GetHeight());
    if (TheSystemState.mapTilesOmitted != 0) {
        s.WriteInt32(-1);
    } else {
        const std::size_t cells = static_cast<std::size_t>(GetWidth()) * GetHeight();
        for (int layer = 0; layer < 3; ++layer)
            for (std::size_t i = 0; i < cells; ++i)
                s.WriteInt32(i < mapData.layers[layer].size() ? mapData.layers[layer][i] : kNoTile);
    }
    for (int slot = 0; slot < 32; ++slot) s.WriteLongString(imageNames[slot]);
    WriteIntList(tileFlags);
    s.WriteInt32(static_cast<std::int32_t>(events.size()));
    for (const Game_Character& event : events) event.WriteSave();
    for (std::int32_t v : {zoom.targetX, zoom.startX, zoom.targetY, zoom.startY, zoom.targetPercent,
                           zoom.startPercent, zoom.duration, zoom.remaining, zoom.currentX,
                           zoom.currentY, zoom.currentPercent})
        s.WriteInt32(v);
    WriteIntList(intList);
}

bool Game_MapState::ReadSave(bool reloadMap) {
    SaveStream& s = TheSaveStream;
    const std::int32_t format = s.formatNumber;
    std::int32_t id = 0;
    if (!s.ReadInt32(id)) return false;
    if (reloadMap) {
        LoadMap(id);
    }
    mapId = id;
    if (!s.ReadInt32(displayX) || !s.ReadInt32(displayY)) return false;
    if (format >= 105) {
        std::int32_t w = 0, h = 0;
        if (!s.ReadInt32(w) || !s.ReadInt32(h)) return false;
        if (w < 0 || h < 0 || w > kMaxMapCells || h > kMaxMapCells ||
            static_cast<std::int64_t>(w) * h > kMaxMapCells) {
            s.overrun = true;
            return false;
        }
        std::int32_t first = 0;
        const std::int32_t at = s.position;
        if (!s.ReadInt32(first)) return false;
        mapData.header.width = w;
        mapData.header.height = h;
        const std::size_t cells = static_cast<std::size_t>(w) * h;
        if (first == -1) {
            MapLayersMissing = 1;
            for (auto& layer : mapData.layers) layer.assign(cells, kNoTile);
        } else {
            MapLayersMissing = 0;
            s.position = at;
            if (!CountFits(static_cast<std::int64_t>(cells) * 3, 4)) return false;
            for (auto& layer : mapData.layers) {
                layer.assign(cells, kNoTile);
                for (std::int32_t& v : layer)
                    if (!s.ReadInt32(v)) return false;
            }
        }
    }
    const int autotiles = format < 115 ? 7 : format < 138 ? 15 : 31;
    for (int slot = 0; slot <= autotiles; ++slot)
        if (!ReadString(imageNames[slot])) return false;
    std::int32_t flagCount = 0;
    if (!s.ReadInt32(flagCount) || !CountFits(flagCount, format <= 99 ? 1 : 4)) return false;
    tileFlags.assign(static_cast<std::size_t>(flagCount), 0);
    for (std::int32_t& f : tileFlags) {
        if (format <= 99) {
            std::uint8_t b = 0;
            if (!s.ReadByte(b)) return false;
            f = b;
        } else if (!s.ReadInt32(f)) {
            return false;
        }
    }
    // Old saves had 15 autotile slots: their base chips start 16 entries early.
    if (flagCount > 16 && format < 138) tileFlags.insert(tileFlags.begin() + 16, 16, 0);
    std::int32_t eventCount = 0;
    // The smallest character part is well above 16 bytes; a count beyond that cannot fit.
    if (!s.ReadInt32(eventCount) || !CountFits(eventCount, 16)) return false;
    if (static_cast<std::int32_t>(events.size()) < eventCount) {
        events.resize(static_cast<std::size_t>(eventCount));
        if (reloadMap)
            ReportRuntimeError(
                true,
                TranslateMessageUtf8(u"【警告】エディットにより、これから表示しようとしているマップ"
                                     u"のイベント数が、セーブ時より少なくなっています！"),
                TranslateMessageUtf8(u"安全のため、この後、マップを再移動するなどして、マップの再読"
                                     u"み込みを行ってください。"),
                TranslateMessageUtf8(u"このままイベントを起動させると、IDズレや強制終了エラーが発生"
                                     u"する可能性があります"));
    }
    for (std::int32_t i = 0; i < eventCount; ++i)
        if (!events[static_cast<std::size_t>(i)].ReadSave()) return false;
    if (format >= 114) {
        for (std::int32_t* v :
             {&zoom.targetX, &zoom.startX, &zoom.targetY, &zoom.startY, &zoom.targetPercent,
              &zoom.startPercent, &zoom.duration, &zoom.remaining, &zoom.currentX, &zoom.currentY,
              &zoom.currentPercent})
            if (!s.ReadInt32(*v)) return false;
    }
    if (!ReadSaveIntList(intList)) return false;
    if (format < 115) {
        if (const Game_TileSet* set = tileSetList.Find(mapData.header.tileSetNumber)) {
            tileSet = *set;
            tileFlags = set->chipFlags;
        }
    }
    return true;
}
