#include "runtime/data/MapData.h"

#include <algorithm>
#include <cstring>

#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"

namespace {

std::string FormatOne(const std::string& format, const std::string& value) {
    const std::size_t at = format.find("%s");
    if (at == std::string::npos) return format;
    return format.substr(0, at) + value + format.substr(at + 2);
}

// A map event takes at least its fixed fields and one page.
constexpr std::size_t kMinEventBytes = 1 + 4 + 4 + 4 + 4 + 4 + 4 + 4 + 1;

}  // namespace

Game_MapHeader::Game_MapHeader() : name(TranslateMessageUtf8(u"なし")) {}

Game_MapData::Game_MapData() {
    ResetLayers();
}

void Game_MapData::ResetLayers() {
    const std::size_t cells = static_cast<std::size_t>(std::max(header.width, 0)) *
                              static_cast<std::size_t>(std::max(header.height, 0));
    for (auto& layer : layers) layer.assign(cells, kNoTile);
}

std::int32_t Game_MapData::FindEventIndex(std::int32_t eventId) const {
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].id == eventId) return static_cast<std::int32_t>(i);
    }
    return -1;
}

bool ReadMapFile(Game_MapData& map, const std::string& fileName, const std::string& dataFolder) {
    const std::string path = dataFolder + fileName;
    std::vector<std::uint8_t> bytes;
    if (fileName.empty() || !ReadWholeDataFile(path, bytes)) {
        const std::string text =
            fileName.empty()
                ? std::string(TranslateMessageUtf8(
                      u"マップファイル名が設定されていないマップに移動しようとしました。"))
                : FormatOne(TranslateMessageUtf8(u"マップファイル %s がありません"), path);
        GetDataFileServices().showMessageBox(text, TranslateMessageUtf8(u"読み込みエラー"));
        return false;
    }
    TheDataFileBuffer.Load(std::move(bytes));
    const MapReadResult result = ParseMapFile(map, path, fileName);
    TheDataFileBuffer.Release();
    return result == MapReadResult::Ok;
}

MapReadResult ParseMapFile(Game_MapData& map, const std::string& path,
                           const std::string& fileName) {
    DataFileBuffer& b = TheDataFileBuffer;
    map.header = Game_MapHeader{};
    for (auto& layer : map.layers) layer.clear();
    map.events.clear();

    auto damaged = [&] {
        HandleDamagedDataFile(path);
        return MapReadResult::Damaged;
    };

    if (b.Size() < kMapHeaderSize + 5) return damaged();
    const std::uint8_t* raw = b.bytes.data();
    ScrambledHeader header;
    header.seeds = {raw[0], raw[3], raw[9]};
    header.check = raw[2];
    header.form = std::memcmp(raw + 10, "VELKM", 5) == 0 ? ScrambledHeaderForm::Plain
                                                         : ScrambledHeaderForm::Scrambled;
    if (header.form == ScrambledHeaderForm::Scrambled) {
        std::uint8_t unused = 0;
        UnscrambleDataFile(b.bytes.data(), kMapHeaderSize, b.Size(), 3, header.seeds.data(),
                           kNoCheck, unused, {});
    }
    b.utf8 = raw[16] == 'U';
    b.position = static_cast<std::int32_t>(kMapHeaderSize);
    b.Skip(4);
    const std::uint8_t format = b.ReadByte();
    if (format != 'e' && format != 'f') {
        GetDataFileServices().showMessageBox(
            FormatOne(
                TranslateMessageUtf8(u"エラー：マップデータ %s "
                                     u"が破損しているか、\r\nマップファイル形式ではありません。"),
                fileName),
            TranslateMessageUtf8(u"マップ移動エラー"));
        return MapReadResult::NotAMap;
    }

    Game_MapHeader& h = map.header;
    h.name = b.ReadString(kMapNameLimit);
    h.tileSetNumber = b.ReadInt32();
    h.width = b.ReadInt32();
    h.height = b.ReadInt32();
    h.eventCount = b.ReadInt32();
    if (b.damaged || h.width < 0 || h.height < 0 ||
        static_cast<std::int64_t>(h.width) * h.height > kMaxMapCells || h.eventCount < 0) {
        return damaged();
    }
    // The layer data, or the int32 -1 when the map stores none. Stored layers must lie in the
    // file before they are made: a few bytes must not be able to ask for a huge map.
    const bool layersStored =
        !(b.Has(4) && std::memcmp(b.bytes.data() + b.position, "\xFF\xFF\xFF\xFF", 4) == 0);
    const std::size_t cells =
        static_cast<std::size_t>(h.width) * static_cast<std::size_t>(h.height);
    if (layersStored && !b.Has(cells * 3 * 4)) return damaged();
    map.ResetLayers();
    if (!layersStored) {
        b.Skip(4);
    } else {
        for (auto& layer : map.layers) {
            const std::uint8_t* p = b.bytes.data() + b.position;
            for (std::size_t i = 0; i < cells; ++i, p += 4) {
                layer[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) |
                                                     (static_cast<std::uint32_t>(p[1]) << 8) |
                                                     (static_cast<std::uint32_t>(p[2]) << 16) |
                                                     (static_cast<std::uint32_t>(p[3]) << 24));
            }
            b.Skip(cells * 4);
        }
    }

    if (static_cast<std::size_t>(h.eventCount) > b.Remaining() / kMinEventBytes) return damaged();
    map.events.reserve(static_cast<std::size_t>(h.eventCount));
    for (std::int32_t i = 0; i < h.eventCount; ++i) {
        map.events.emplace_back();
        if (!map.events.back().Read()) return damaged();
    }
    // Each event moves in front of every earlier event with a larger id; equal ids keep their
    // file order.
    std::stable_sort(map.events.begin(), map.events.end(),
                     [](const Game_EventData& a, const Game_EventData& c) { return a.id < c.id; });
    b.Skip(1);
    if (b.damaged) return damaged();
    if (!FinalDataFileCheck(b, kMapHeaderSize, header, path)) return MapReadResult::Damaged;
    return MapReadResult::Ok;
}
