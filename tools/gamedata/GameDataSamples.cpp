#include "tools/gamedata/GameDataSamples.h"

#include <algorithm>
#include <string>

#include "runtime/data/DataFileBuffer.h"

namespace gamedata {

Game_CommandList MakeSampleCommands(int count, std::uint32_t seed) {
    ScrambleGenerator g(seed);
    Game_CommandList list(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        Game_EventCommand& c = list[static_cast<std::size_t>(i)];
        c.arguments = {101 + static_cast<std::int32_t>(g.Next() % 400)};
        for (std::uint32_t a = g.Next() % 6; a > 0; --a) {
            c.arguments.push_back(static_cast<std::int32_t>(g.Next()) - 16000);
        }
        c.indent = static_cast<std::uint8_t>(g.Next() % 5);
        for (std::uint32_t s = g.Next() % 3; s > 0; --s) {
            c.strings.push_back("text " + std::to_string(g.Next()) + " テキスト");
        }
        if (i % 3 == 2) {
            Game_MoveRoute route;
            route.setting0 = 1, route.setting1 = 2, route.setting2 = 4, route.setting3 = 5;
            route.options = static_cast<std::uint8_t>(g.Next());
            route.routeOptions = 5;
            for (std::uint32_t m = g.Next() % 4; m > 0; --m) {
                Game_MoveCommand move;
                move.code = static_cast<std::uint8_t>(g.Next());
                move.arguments = {static_cast<std::int32_t>(g.Next()), -1};
                if (m % 2) move.text = "route text";
                route.commands.push_back(move);
            }
            c.moveRoute = route;
        }
    }
    if (!list.empty()) list.back().arguments[0] = kEndOfListCode;
    return list;
}

Game_EventData MakeSampleEvent(std::int32_t id, int pageCount, std::uint32_t seed) {
    ScrambleGenerator g(seed);
    Game_EventData e;
    e.id = id;
    e.name = "Event " + std::to_string(id) + " イベント";
    e.x = static_cast<std::int32_t>(g.Next() % 100);
    e.y = static_cast<std::int32_t>(g.Next() % 100);
    e.extraBytes = {1, 2, static_cast<std::uint8_t>(id)};
    e.pages.clear();
    for (int p = 0; p < pageCount; ++p) {
        Game_EventPage page;
        page.graphicTile = p == 0 ? -1 : static_cast<std::int32_t>(g.Next() % 200);
        page.graphicFile = "CharaChip/person" + std::to_string(g.Next() % 50) + ".png";
        page.direction = 8, page.pattern = 2, page.opacity = 200, page.blendMode = 1;
        page.condition.trigger = static_cast<std::uint8_t>(g.Next() % 5);
        for (int i = 0; i < 4; ++i) {
            page.condition.conditions[i] = static_cast<std::uint8_t>(g.Next());
            page.condition.variableIds[i] = 2000000 + static_cast<std::int32_t>(g.Next());
            page.condition.values[i] = static_cast<std::int32_t>(g.Next());
        }
        page.movement.setting2 = 5;
        page.movement.commands.push_back(Game_MoveCommand{7, {1, 2, 3}, ""});
        page.commands = MakeSampleCommands(2 + static_cast<int>(g.Next() % 8), g.Next());
        page.commandCount = static_cast<std::int32_t>(page.commands.size());
        page.contactBytes = {255, 1, 2, 3};
        e.pages.push_back(std::move(page));
    }
    e.pageCount = pageCount;
    return e;
}

Game_MapData MakeSampleMap(std::int32_t width, std::int32_t height, int eventCount,
                           std::uint32_t seed) {
    ScrambleGenerator g(seed);
    Game_MapData map;
    map.header.name = "Map " + std::to_string(seed) + " マップ";
    map.header.tileSetNumber = static_cast<std::int32_t>(seed % 4);
    map.header.width = width;
    map.header.height = height;
    map.header.eventCount = eventCount;
    map.ResetLayers();
    for (int l = 0; l < 3; ++l) {
        for (auto& tile : map.layers[l]) {
            const std::uint32_t r = g.Next();
            tile = l == 0 ? static_cast<std::int32_t>(r % 2000)
                          : (r % 4 ? kNoTile : 200000 + static_cast<std::int32_t>(r % 5000));
        }
    }
    for (int i = 0; i < eventCount; ++i) {
        // Ids out of order, some twice.
        const std::int32_t id = static_cast<std::int32_t>((i * 7919) % (eventCount + 3));
        map.events.push_back(MakeSampleEvent(id, 1 + (i % 3), g.Next()));
    }
    std::stable_sort(map.events.begin(), map.events.end(),
                     [](const Game_EventData& a, const Game_EventData& b) { return a.id < b.id; });
    return map;
}

Game_TileSet MakeSampleTileSet(int baseChips, std::uint32_t seed) {
    ScrambleGenerator g(seed);
    Game_TileSet t;
    t.name = "TileSet " + std::to_string(seed);
    for (int i = 0; i < kTileSetImageSlots; ++i) {
        t.imageFiles[i] = "MapChip/tile" + std::to_string(seed) + "_" + std::to_string(i) + ".png";
    }
    const std::size_t count = static_cast<std::size_t>(kAutotileChipEntries + baseChips);
    t.chipTags.resize(count);
    t.chipFlags.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        t.chipTags[i] = static_cast<std::uint8_t>(g.Next());
        // Flags with 0x10 or 0x100 carry 0x200, as every file read from an old generation does.
        std::int32_t flag = static_cast<std::int32_t>(g.Next() * 31u);
        if (flag & 0x110) flag |= 0x200;
        t.chipFlags[i] = flag;
    }
    return t;
}

Game_Database MakeSampleDatabase(std::int32_t kind, int typeCount, std::uint32_t seed) {
    ScrambleGenerator g(seed);
    Game_Database db;
    db.kind = kind;
    static const char* const kTypeWords[] = {"主人公", "敵キャラ", "アイテム", "魔法", "状態"};
    for (int t = 0; t < typeCount; ++t) {
        Game_DatabaseType type;
        Game_DatabaseTypeInfo info;
        const int fields = 1 + static_cast<int>(g.Next() % 8);
        const int entries = static_cast<int>(g.Next() % 12);
        // Fields in mixed order: the kinds count up per class.
        type.fieldKinds.clear();
        int numbers = 0, strings = 0;
        for (int f = 0; f < fields; ++f) {
            const bool number = g.Next() % 3 != 0;
            type.fieldKinds.push_back(number ? kNumberFieldBase + numbers++
                                             : kStringFieldBase + strings++);
        }
        // Swap two kinds of the same class now and then, so that field order and slot order
        // differ.
        if (numbers >= 2 && t % 3 == 1) {
            auto first = std::find(type.fieldKinds.begin(), type.fieldKinds.end(), 1000);
            auto second = std::find(type.fieldKinds.begin(), type.fieldKinds.end(), 1001);
            std::iter_swap(first, second);
        }
        switch (t % 4) {
            case 0:
                type.leadValue = -2, type.nameMode = 0;
                break;
            case 1:
                type.leadValue = -3, type.nameMode = 1;
                break;
            case 2:
                type.leadValue = -1, type.nameMode = 0;
                break;
            default:
                type.leadValue = -2, type.nameMode = t > 0 ? 2 : 0;
                break;
        }
        info.typeName = std::string(kTypeWords[t % 5]) + std::to_string(t);
        info.typeNote = "メモ " + std::to_string(g.Next());
        info.fieldNames.clear();
        info.fieldTexts.clear();
        info.fieldStringLists.clear();
        info.fieldNumberLists.clear();
        info.initialValues.clear();
        for (int f = 0; f < fields; ++f) {
            info.fieldNames.push_back("項目" + std::to_string(f) + (f % 2 ? "HP" : "名前"));
            info.fieldFlags[static_cast<std::size_t>(f)] = static_cast<std::uint8_t>(g.Next());
            info.fieldTexts.push_back(f % 3 ? "説明" + std::to_string(f) : std::string());
            std::vector<std::string> choices;
            for (std::uint32_t k = g.Next() % 3; k > 0; --k)
                choices.push_back("選択" + std::to_string(k));
            info.fieldStringLists.push_back(choices);
            std::vector<std::int32_t> values;
            for (std::uint32_t k = g.Next() % 3; k > 0; --k) {
                values.push_back(static_cast<std::int32_t>(g.Next()) - 9000);
            }
            info.fieldNumberLists.push_back(values);
            info.initialValues.push_back(static_cast<std::int32_t>(g.Next() % 50) - 10);
        }
        type.entries.assign(static_cast<std::size_t>(entries), Game_DatabaseEntry{});
        info.dataNames.clear();
        for (int e = 0; e < entries; ++e) {
            auto& entry = type.entries[static_cast<std::size_t>(e)];
            entry.numbers.clear();
            entry.strings.clear();
            for (int n = 0; n < numbers; ++n) {
                entry.numbers.push_back(static_cast<std::int32_t>(g.Next() * 65537u) - 1000000000);
            }
            for (int s = 0; s < strings; ++s) {
                entry.strings.push_back(s % 2 ? "文字列 " + std::to_string(g.Next()) + ", \"引用\""
                                              : "値\r\n二行目");
            }
            info.dataNames.push_back(e % 4 == 3 ? std::string() : "データ" + std::to_string(e));
        }
        db.types.push_back(std::move(type));
        db.typeInfos.push_back(std::move(info));
    }
    return db;
}

}  // namespace gamedata
