#include "tools/gamedata/GameDataJson.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "runtime/data/ArchiveKey.h"
#include "runtime/data/CommonEvent.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/TextConversion.h"

namespace gamedata {

namespace {

template <typename T>
struct IsList : std::false_type {};
template <typename U>
struct IsList<std::vector<U>> : std::true_type {};

// `j` as a T. A value of another type, or a number that T cannot hold exactly (out of its range,
// or with a fraction), is refused with a message naming `field`: nothing is ever narrowed.
template <typename T>
T Get(const Json& j, const std::string& field) {
    if constexpr (std::is_same_v<T, bool>) {
        if (!j.is_boolean()) throw std::runtime_error(field + ": " + j.dump() + " is not a flag");
        return j.get<bool>();
    } else if constexpr (std::is_arithmetic_v<T>) {
        constexpr auto low = std::numeric_limits<T>::min();
        constexpr auto high = std::numeric_limits<T>::max();
        const auto refuse = [&] {
            return std::runtime_error(field + ": " + j.dump() + " is not a whole number from " +
                                      std::to_string(+low) + " to " + std::to_string(+high));
        };
        if (j.is_number_unsigned()) {
            const auto v = j.get<std::uint64_t>();
            if (v > static_cast<std::uint64_t>(high)) throw refuse();
            return static_cast<T>(v);
        }
        if (j.is_number_integer()) {
            const auto v = j.get<std::int64_t>();
            if constexpr (std::is_unsigned_v<T>) {
                if (v < 0 || static_cast<std::uint64_t>(v) > high) throw refuse();
            } else {
                if (v < static_cast<std::int64_t>(low) || v > static_cast<std::int64_t>(high)) {
                    throw refuse();
                }
            }
            return static_cast<T>(v);
        }
        if (j.is_number_float()) {
            const double v = j.get<double>();
            if (!(v >= static_cast<double>(low) && v <= static_cast<double>(high)) ||
                v != std::trunc(v)) {
                throw refuse();
            }
            return static_cast<T>(v);
        }
        throw refuse();
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!j.is_string()) throw std::runtime_error(field + ": " + j.dump() + " is not a text");
        return j.get<std::string>();
    } else {
        static_assert(IsList<T>::value);
        if (!j.is_array()) throw std::runtime_error(field + ": " + j.dump() + " is not a list");
        T out;
        out.reserve(j.size());
        for (std::size_t i = 0; i < j.size(); ++i) {
            out.push_back(Get<typename T::value_type>(j[i], field + "[" + std::to_string(i) + "]"));
        }
        return out;
    }
}

template <typename T>
std::vector<T> ListOf(const Json& j, const char* key) {
    return j.contains(key) ? Get<std::vector<T>>(j.at(key), key) : std::vector<T>{};
}

template <typename T>
T Value(const Json& j, const char* key, T fallback) {
    return j.contains(key) ? Get<T>(j.at(key), key) : fallback;
}

Json MoveCommandToJson(const Game_MoveCommand& c) {
    Json j{{"code", c.code}, {"arguments", c.arguments}};
    if (!c.text.empty()) j["text"] = c.text;
    return j;
}

constexpr const char* kTextBytesKey = "textBytes";

bool IsUtf8Text(const Json& text) {
    try {
        (void)text.dump();
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

}  // namespace

void EscapeBinaryTexts(Json& j) {
    if (j.is_string()) {
        if (IsUtf8Text(j)) return;
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string hex;
        for (unsigned char c : j.get_ref<const std::string&>()) {
            hex += kDigits[c >> 4];
            hex += kDigits[c & 15];
        }
        j = Json{{kTextBytesKey, hex}};
    } else if (j.is_structured()) {
        for (auto& item : j) EscapeBinaryTexts(item);
    }
}

void UnescapeBinaryTexts(Json& j) {
    if (j.is_object() && j.size() == 1 && j.contains(kTextBytesKey)) {
        const std::string hex = Get<std::string>(j.at(kTextBytesKey), kTextBytesKey);
        auto digit = [&](char c) {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            throw std::runtime_error(std::string(kTextBytesKey) + ": \"" + hex +
                                     "\" is not pairs of hexadecimal digits");
        };
        if (hex.size() % 2 != 0) digit('x');
        std::string bytes;
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            bytes += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
        }
        j = bytes;
    } else if (j.is_structured()) {
        for (auto& item : j) UnescapeBinaryTexts(item);
    }
}

Json ToJson(const Game_MoveRoute& r) {
    Json commands = Json::array();
    for (const auto& c : r.commands) commands.push_back(MoveCommandToJson(c));
    return Json{{"settings", {r.setting0, r.setting1, r.setting2, r.setting3}},
                {"options", r.options},
                {"routeOptions", r.routeOptions},
                {"commands", commands}};
}

void FromJson(const Json& j, Game_MoveRoute& r) {
    r = Game_MoveRoute{};
    if (j.contains("settings")) {
        const auto s = Get<std::vector<std::uint8_t>>(j.at("settings"), "settings");
        if (s.size() != 4) throw std::runtime_error("a route's \"settings\" holds four bytes");
        r.setting0 = s[0], r.setting1 = s[1], r.setting2 = s[2], r.setting3 = s[3];
    }
    r.options = Value<std::uint8_t>(j, "options", r.options);
    r.routeOptions = Value<std::uint8_t>(j, "routeOptions", r.routeOptions);
    if (j.contains("commands")) {
        for (const auto& c : j.at("commands")) {
            Game_MoveCommand command;
            command.code = Get<std::uint8_t>(c.at("code"), "code");
            command.arguments = ListOf<std::int32_t>(c, "arguments");
            command.text = Value<std::string>(c, "text", "");
            r.commands.push_back(std::move(command));
        }
    }
}

Json ToJson(const Game_EventCommand& c) {
    Json j{{"arguments", c.arguments}};
    if (c.indent) j["indent"] = c.indent;
    if (!c.strings.empty()) j["strings"] = c.strings;
    if (c.moveRoute) j["route"] = ToJson(*c.moveRoute);
    return j;
}

void FromJson(const Json& j, Game_EventCommand& c) {
    c = Game_EventCommand{};
    c.arguments = ListOf<std::int32_t>(j, "arguments");
    if (c.arguments.empty()) c.arguments.push_back(0);
    c.indent = Value<std::uint8_t>(j, "indent", 0);
    c.strings = ListOf<std::string>(j, "strings");
    if (j.contains("route")) {
        c.moveRoute.emplace();
        FromJson(j.at("route"), *c.moveRoute);
    }
}

Json ToJson(const Game_EventPage& p) {
    Json commands = Json::array();
    for (const auto& c : p.commands) commands.push_back(ToJson(c));
    const auto& k = p.condition;
    return Json{{"graphicTile", p.graphicTile},
                {"graphicFile", p.graphicFile},
                {"direction", p.direction},
                {"pattern", p.pattern},
                {"opacity", p.opacity},
                {"blendMode", p.blendMode},
                {"condition",
                 {{"trigger", k.trigger},
                  {"conditions", k.conditions},
                  {"variableIds", k.variableIds},
                  {"values", k.values}}},
                {"movement", ToJson(p.movement)},
                {"commands", commands},
                {"contactBytes", p.contactBytes}};
}

void FromJson(const Json& j, Game_EventPage& p) {
    p = Game_EventPage{};
    p.graphicTile = Value<std::int32_t>(j, "graphicTile", p.graphicTile);
    p.graphicFile = Value<std::string>(j, "graphicFile", "");
    p.direction = Value<std::uint8_t>(j, "direction", p.direction);
    p.pattern = Value<std::uint8_t>(j, "pattern", p.pattern);
    p.opacity = Value<std::uint8_t>(j, "opacity", p.opacity);
    p.blendMode = Value<std::uint8_t>(j, "blendMode", p.blendMode);
    if (j.contains("condition")) {
        const Json& k = j.at("condition");
        p.condition.trigger = Value<std::uint8_t>(k, "trigger", 0);
        auto four = [&](const char* key, auto& out) {
            if (!k.contains(key)) return;
            using T = std::remove_reference_t<decltype(out[0])>;
            const auto v = Get<std::vector<T>>(k.at(key), key);
            if (v.size() != 4) throw std::runtime_error("page conditions hold four entries");
            for (int i = 0; i < 4; ++i) out[i] = v[i];
        };
        four("conditions", p.condition.conditions);
        four("variableIds", p.condition.variableIds);
        four("values", p.condition.values);
    }
    if (j.contains("movement")) FromJson(j.at("movement"), p.movement);
    if (j.contains("commands")) {
        p.commands.clear();
        for (const auto& c : j.at("commands")) {
            p.commands.emplace_back();
            FromJson(c, p.commands.back());
        }
    }
    if (p.commands.empty()) p.commands.emplace_back();
    // A stored list always ends with the end-of-list command.
    p.commands.back().arguments[0] = kEndOfListCode;
    p.commandCount = static_cast<std::int32_t>(p.commands.size());
    if (j.contains("contactBytes")) {
        p.contactBytes = ListOf<std::uint8_t>(j, "contactBytes");
        if (p.contactBytes.size() < 3) p.contactBytes.resize(3);
    }
}

Json ToJson(const Game_EventData& e) {
    Json pages = Json::array();
    for (const auto& p : e.pages) pages.push_back(ToJson(p));
    Json j{{"id", e.id}, {"name", e.name}, {"x", e.x}, {"y", e.y}};
    if (!e.extraBytes.empty()) j["extraBytes"] = e.extraBytes;
    j["pages"] = pages;
    return j;
}

void FromJson(const Json& j, Game_EventData& e) {
    e = Game_EventData{};
    e.id = Get<std::int32_t>(j.at("id"), "id");
    e.name = Value<std::string>(j, "name", "");
    e.x = Value<std::int32_t>(j, "x", 0);
    e.y = Value<std::int32_t>(j, "y", 0);
    e.extraBytes = ListOf<std::uint8_t>(j, "extraBytes");
    if (j.contains("pages")) {
        e.pages.clear();
        for (const auto& p : j.at("pages")) {
            e.pages.emplace_back();
            FromJson(p, e.pages.back());
        }
    }
    if (e.pages.empty()) e.pages.emplace_back();
    e.pageCount = static_cast<std::int32_t>(e.pages.size());
}

Json ToJson(const Game_MapData& m) {
    Json layers = Json::array();
    for (const auto& layer : m.layers) layers.push_back(layer);
    Json events = Json::array();
    for (const auto& e : m.events) events.push_back(ToJson(e));
    return Json{{"name", m.header.name},   {"tileSet", m.header.tileSetNumber},
                {"width", m.header.width}, {"height", m.header.height},
                {"layers", layers},        {"events", events}};
}

void FromJson(const Json& j, Game_MapData& m) {
    m = Game_MapData{};
    m.header.name = Value<std::string>(j, "name", m.header.name);
    m.header.tileSetNumber = Value<std::int32_t>(j, "tileSet", 0);
    m.header.width = Value<std::int32_t>(j, "width", 20);
    m.header.height = Value<std::int32_t>(j, "height", 15);
    if (m.header.width < 0 || m.header.height < 0 ||
        static_cast<std::int64_t>(m.header.width) * m.header.height > kMaxMapCells) {
        throw std::runtime_error("map size out of range");
    }
    m.ResetLayers();
    if (j.contains("layers")) {
        const Json& layers = j.at("layers");
        if (layers.size() != 3) throw std::runtime_error("a map has three layers");
        for (int l = 0; l < 3; ++l) {
            auto cells =
                Get<std::vector<std::int32_t>>(layers[static_cast<std::size_t>(l)], "layers");
            if (cells.size() != m.layers[l].size()) {
                throw std::runtime_error("each layer holds width x height tile ids (x outer)");
            }
            m.layers[l] = std::move(cells);
        }
    }
    if (j.contains("events")) {
        for (const auto& e : j.at("events")) {
            m.events.emplace_back();
            FromJson(e, m.events.back());
        }
    }
    m.header.eventCount = static_cast<std::int32_t>(m.events.size());
}

Json ToJson(const Game_BasicData& d) {
    return Json{{"settingBytes", d.settingBytes},
                {"settingTexts", d.settingTexts},
                {"settingNumbers", d.settingNumbers}};
}

void FromJson(const Json& j, Game_BasicData& d) {
    d = Game_BasicData{};
    // A list given is the list the file stores (a reader keeps its defaults beyond it).
    auto overlay = [&](const char* key, auto& list) {
        if (!j.contains(key)) return;
        using T = typename std::remove_reference_t<decltype(list)>::value_type;
        list = Get<std::vector<T>>(j.at(key), key);
    };
    overlay("settingBytes", d.settingBytes);
    overlay("settingTexts", d.settingTexts);
    overlay("settingNumbers", d.settingNumbers);
}

Json ToJson(const Game_TileSetList& list) {
    Json sets = Json::array();
    for (const auto& t : list.tileSets) {
        sets.push_back(Json{{"name", t.name},
                            {"imageFiles", t.imageFiles},
                            {"chipTags", t.chipTags},
                            {"chipFlags", t.chipFlags}});
    }
    return sets;
}

void FromJson(const Json& j, Game_TileSetList& list) {
    list.tileSets.clear();
    for (const auto& t : j) {
        Game_TileSet set;
        set.name = Value<std::string>(t, "name", "");
        if (t.contains("imageFiles")) {
            auto files = Get<std::vector<std::string>>(t.at("imageFiles"), "imageFiles");
            if (files.size() > kTileSetImageSlots) throw std::runtime_error("32 image slots");
            files.resize(kTileSetImageSlots);
            set.imageFiles = std::move(files);
        }
        if (t.contains("chipTags")) set.chipTags = ListOf<std::uint8_t>(t, "chipTags");
        if (t.contains("chipFlags")) set.chipFlags = ListOf<std::int32_t>(t, "chipFlags");
        list.tileSets.push_back(std::move(set));
    }
}

Json ToJson(const Game_CommonEventList& list, const std::vector<int>& sections) {
    Json records = Json::array();
    for (std::size_t i = 0; i < list.events.size(); ++i) {
        const Game_CommonEvent& e = list.events[i];
        Json commands = Json::array();
        for (const auto& c : e.commands.List()) commands.push_back(ToJson(c));
        Json r{{"name", e.name},
               {"startByte", e.startByte},
               {"conditionVariable", e.conditionVariable},
               {"conditionValue", e.conditionValue},
               {"settingBytes", {e.settingBytes[0], e.settingBytes[1]}},
               {"commands", commands},
               {"byteList", e.byteList},
               {"byteListText", e.byteListText},
               {"argumentTexts", e.argumentTexts},
               {"argumentBytes", e.argumentBytes},
               {"argumentTextLists", e.argumentTextLists},
               {"argumentNumberLists", e.argumentNumberLists},
               {"argumentNumbers", e.argumentNumbers},
               {"extraNumber", e.extraNumber},
               {"extraTexts", e.extraTexts},
               {"noteText", e.noteText},
               {"noteText2", e.noteText2},
               {"returnVariable", e.returnVariable}};
        if (i < sections.size() && sections[i] != 5) r["sections"] = sections[i];
        records.push_back(std::move(r));
    }
    return records;
}

void FromJson(const Json& j, Game_CommonEventList& list, std::vector<int>& sections) {
    if (!j.is_array()) throw std::runtime_error("common events: a list of records");
    list.events.clear();
    sections.clear();
    for (const auto& r : j) {
        Game_CommonEvent e;
        e.number = static_cast<std::int32_t>(list.events.size());
        e.name = Value<std::string>(r, "name", "");
        e.startByte = Value<std::uint8_t>(r, "startByte", e.startByte);
        e.conditionVariable = Value<std::int32_t>(r, "conditionVariable", e.conditionVariable);
        e.conditionValue = Value<std::int32_t>(r, "conditionValue", e.conditionValue);
        if (r.contains("settingBytes")) {
            const auto b = ListOf<std::uint8_t>(r, "settingBytes");
            if (b.size() != 2) throw std::runtime_error("settingBytes holds two bytes");
            e.settingBytes[0] = b[0];
            e.settingBytes[1] = b[1];
        }
        Game_CommandList commands;
        if (r.contains("commands")) {
            for (const auto& c : r.at("commands")) {
                commands.emplace_back();
                FromJson(c, commands.back());
            }
        }
        if (commands.empty()) commands.emplace_back();
        commands.back().arguments[0] = kEndOfListCode;
        e.commands.Replace(std::move(commands));
        if (r.contains("byteList")) e.byteList = ListOf<std::uint8_t>(r, "byteList");
        e.byteListText = Value<std::string>(r, "byteListText", "");
        if (r.contains("argumentTexts")) e.argumentTexts = ListOf<std::string>(r, "argumentTexts");
        if (r.contains("argumentBytes")) e.argumentBytes = ListOf<std::uint8_t>(r, "argumentBytes");
        if (r.contains("argumentTextLists")) {
            e.argumentTextLists = ListOf<std::vector<std::string>>(r, "argumentTextLists");
        }
        if (r.contains("argumentNumberLists")) {
            e.argumentNumberLists = ListOf<std::vector<std::int32_t>>(r, "argumentNumberLists");
        }
        if (r.contains("argumentNumbers")) {
            e.argumentNumbers = ListOf<std::int32_t>(r, "argumentNumbers");
        }
        e.extraNumber = Value<std::int32_t>(r, "extraNumber", 0);
        if (r.contains("extraTexts")) {
            e.extraTexts = ListOf<std::string>(r, "extraTexts");
            if (e.extraTexts.size() > kCommonEventExtraTextCount) {
                throw std::runtime_error("extraTexts: at most 100");
            }
            e.extraTexts.resize(kCommonEventExtraTextCount);
        }
        e.noteText = Value<std::string>(r, "noteText", "");
        e.noteText2 = Value<std::string>(r, "noteText2", "");
        e.returnVariable = Value<std::int32_t>(r, "returnVariable", -1);
        sections.push_back(Value<int>(r, "sections", 5));
        list.events.push_back(std::move(e));
    }
}

Json ToJson(const Game_Database& db) {
    Json types = Json::array();
    const std::size_t count = std::max(db.types.size(), db.typeInfos.size());
    for (std::size_t t = 0; t < count; ++t) {
        const Game_DatabaseType type = t < db.types.size() ? db.types[t] : Game_DatabaseType{};
        const Game_DatabaseTypeInfo info =
            t < db.typeInfos.size() ? db.typeInfos[t] : Game_DatabaseTypeInfo{};
        Json entries = Json::array();
        for (const auto& e : type.entries) {
            entries.push_back(Json{{"numbers", e.numbers}, {"strings", e.strings}});
        }
        const std::size_t flags = std::min(info.fieldNames.size(), info.fieldFlags.size());
        types.push_back(Json{
            {"name", info.typeName},
            {"note", info.typeNote},
            {"leadValue", type.leadValue},
            {"nameMode", type.nameMode},
            {"fieldKinds", type.fieldKinds},
            {"fieldNames", info.fieldNames},
            {"fieldFlags",
             std::vector<std::uint8_t>(info.fieldFlags.begin(), info.fieldFlags.begin() + flags)},
            {"fieldTexts", info.fieldTexts},
            {"fieldStringLists", info.fieldStringLists},
            {"fieldNumberLists", info.fieldNumberLists},
            {"initialValues", info.initialValues},
            {"dataNames", info.dataNames},
            {"entries", entries}});
    }
    return Json{{"databaseKind", db.kind}, {"types", types}};
}

void FromJson(const Json& j, Game_Database& db) {
    db = Game_Database();
    db.kind = Value<std::int32_t>(j, "databaseKind", kUserDatabase);
    for (const auto& t : j.at("types")) {
        Game_DatabaseType type;
        Game_DatabaseTypeInfo info;
        info.typeName = Value<std::string>(t, "name", "");
        info.typeNote = Value<std::string>(t, "note", "");
        type.leadValue = Value<std::int32_t>(t, "leadValue", -2);
        type.nameMode = Value<std::int32_t>(t, "nameMode", 0);
        type.fieldKinds = ListOf<std::int32_t>(t, "fieldKinds");
        info.fieldNames = ListOf<std::string>(t, "fieldNames");
        const auto flags = ListOf<std::uint8_t>(t, "fieldFlags");
        if (flags.size() > info.fieldFlags.size()) throw std::runtime_error("100 field flags");
        std::copy(flags.begin(), flags.end(), info.fieldFlags.begin());
        // The per-field lists have one slot per field name.
        const std::size_t fields = info.fieldNames.size();
        info.fieldTexts = ListOf<std::string>(t, "fieldTexts");
        info.fieldStringLists = ListOf<std::vector<std::string>>(t, "fieldStringLists");
        info.fieldNumberLists = ListOf<std::vector<std::int32_t>>(t, "fieldNumberLists");
        info.initialValues = ListOf<std::int32_t>(t, "initialValues");
        info.fieldTexts.resize(fields);
        info.fieldStringLists.resize(fields);
        info.fieldNumberLists.resize(fields);
        info.initialValues.resize(fields);
        info.dataNames = ListOf<std::string>(t, "dataNames");
        type.entries.clear();
        if (t.contains("entries")) {
            for (const auto& e : t.at("entries")) {
                Game_DatabaseEntry entry;
                entry.numbers = ListOf<std::int32_t>(e, "numbers");
                entry.strings = ListOf<std::string>(e, "strings");
                entry.numbers.resize(static_cast<std::size_t>(type.NumberFieldCount()));
                entry.strings.resize(static_cast<std::size_t>(type.StringFieldCount()));
                type.entries.push_back(std::move(entry));
            }
        }
        db.types.push_back(std::move(type));
        db.typeInfos.push_back(std::move(info));
    }
}

namespace {

DataFileForm FormFromText(const std::string& text) {
    if (text == "plain") return DataFileForm::Plain;
    if (text == "protected") return DataFileForm::Protected;
    if (text == "scrambled") return DataFileForm::Scrambled;
    throw std::runtime_error("form must be plain, protected or scrambled");
}

const char* FormText(ScrambledHeaderForm form) {
    switch (form) {
        case ScrambledHeaderForm::Plain:
            return "plain";
        case ScrambledHeaderForm::Protected:
            return "protected";
        default:
            return "scrambled";
    }
}

std::string Hex(const std::uint8_t* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 15];
    }
    return hex;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    return Hex(bytes.data(), bytes.size());
}

std::string Hex(const std::string& bytes) {
    return Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::vector<std::uint8_t> Unhex(const Json& j, const std::string& field) {
    const std::string hex = Get<std::string>(j, field);
    auto digit = [&](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::runtime_error(field + ": \"" + hex + "\" is not pairs of hexadecimal digits");
    };
    if (hex.size() % 2 != 0) digit('x');
    std::vector<std::uint8_t> bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(digit(hex[i]) * 16 + digit(hex[i + 1])));
    }
    return bytes;
}

template <typename K, typename V>
Json PairsJson(const std::map<K, V>& map) {
    Json j = Json::array();
    for (const auto& [key, value] : map) j.push_back(Json::array({key, value}));
    return j;
}

template <typename K, typename V>
std::map<K, V> PairsFrom(const Json& j, const char* key) {
    std::map<K, V> map;
    if (!j.contains(key)) return map;
    for (const auto& pair : Get<std::vector<std::vector<std::int64_t>>>(j.at(key), key)) {
        if (pair.size() != 2) throw std::runtime_error(std::string(key) + " holds pairs");
        map[Get<K>(Json(pair[0]), key)] = Get<V>(Json(pair[1]), key);
    }
    return map;
}

}  // namespace

Json ToJson(const StoredForm& f) {
    Json j = Json::object();
    if (!f.header.empty()) j["header"] = Hex(f.header);
    if (!f.skipped.empty()) j["skipped"] = Hex(f.skipped);
    if (!f.texts.empty()) {
        Json texts = Json::array();
        for (const auto& [n, bytes] : f.texts) texts.push_back(Json::array({n, Hex(bytes)}));
        j["texts"] = texts;
    }
    if (!f.noArguments.empty()) j["noArguments"] = f.noArguments;
    if (!f.routeFlags.empty()) j["routeFlags"] = PairsJson(f.routeFlags);
    if (!f.lastCodes.empty()) j["lastCodes"] = PairsJson(f.lastCodes);
    if (!f.pageCounts.empty()) j["pageCounts"] = PairsJson(f.pageCounts);
    if (!f.eventByteCounts.empty()) j["eventByteCounts"] = PairsJson(f.eventByteCounts);
    if (!f.contactCounts.empty()) j["contactCounts"] = PairsJson(f.contactCounts);
    if (!f.eventOrder.empty()) j["eventOrder"] = f.eventOrder;
    if (f.unmarkedEmptyLayers) j["unmarkedEmptyLayers"] = true;
    if (!f.chipFlagsWithoutBit200.empty()) {
        Json flags = Json::array();
        for (const auto& [set, index] : f.chipFlagsWithoutBit200) {
            flags.push_back(Json::array({set, index}));
        }
        j["chipFlagsWithoutBit200"] = flags;
    }
    if (!f.bareFieldCounts.empty()) j["bareFieldCounts"] = f.bareFieldCounts;
    if (!f.fieldBlockCounts.empty()) {
        Json counts = Json::array();
        for (const auto& [at, count] : f.fieldBlockCounts) {
            counts.push_back(Json::array({at.first, at.second, count}));
        }
        j["fieldBlockCounts"] = counts;
    }
    if (!f.listCounts.empty()) j["listCounts"] = PairsJson(f.listCounts);
    if (f.versionAt) j["versionAt"] = *f.versionAt;
    if (!f.tail.empty() || f.versionAt) j["tail"] = Hex(f.tail);
    if (f.recordCount) j["recordCount"] = *f.recordCount;
    if (!f.keyFile.empty()) j["keyFile"] = Hex(f.keyFile);
    if (!f.trailing.empty()) j["trailing"] = Hex(f.trailing);
    if (!f.sectionBytes.empty()) {
        Json bytes = Json::array();
        for (const auto& [record, stored] : f.sectionBytes) {
            bytes.push_back(Json::array({record, Hex(stored)}));
        }
        j["sectionBytes"] = bytes;
    }
    if (!f.recordNumbers.empty()) j["recordNumbers"] = PairsJson(f.recordNumbers);
    if (!f.recordStartBytes.empty()) j["recordStartBytes"] = PairsJson(f.recordStartBytes);
    if (!f.recordCounts.empty()) {
        Json counts = Json::array();
        for (const auto& [at, count] : f.recordCounts) {
            counts.push_back(Json::array({at.first, at.second, count}));
        }
        j["recordCounts"] = counts;
    }
    return j;
}

void FromJson(const Json& j, StoredForm& f) {
    f = StoredForm{};
    if (!j.is_object()) throw std::runtime_error("\"stored\" is an object");
    const auto bytes = [&](const char* key) {
        return j.contains(key) ? Unhex(j.at(key), key) : std::vector<std::uint8_t>{};
    };
    f.header = bytes("header");
    f.skipped = bytes("skipped");
    if (j.contains("texts")) {
        for (const auto& text : j.at("texts")) {
            if (!text.is_array() || text.size() != 2) {
                throw std::runtime_error("texts holds [number, \"hex\"] pairs");
            }
            const auto stored = Unhex(text[1], "texts");
            f.texts[Get<std::size_t>(text[0], "texts")] = std::string(stored.begin(), stored.end());
        }
    }
    f.noArguments = ListOf<std::size_t>(j, "noArguments");
    f.routeFlags = PairsFrom<std::size_t, std::int8_t>(j, "routeFlags");
    f.lastCodes = PairsFrom<std::size_t, std::int32_t>(j, "lastCodes");
    f.pageCounts = PairsFrom<std::size_t, std::int32_t>(j, "pageCounts");
    f.eventByteCounts = PairsFrom<std::size_t, std::int32_t>(j, "eventByteCounts");
    f.contactCounts = PairsFrom<std::size_t, std::int32_t>(j, "contactCounts");
    f.eventOrder = ListOf<std::int32_t>(j, "eventOrder");
    f.unmarkedEmptyLayers = Value<bool>(j, "unmarkedEmptyLayers", false);
    for (const auto& pair : ListOf<std::vector<std::size_t>>(j, "chipFlagsWithoutBit200")) {
        if (pair.size() != 2) throw std::runtime_error("chipFlagsWithoutBit200 holds pairs");
        f.chipFlagsWithoutBit200.emplace_back(pair[0], pair[1]);
    }
    f.bareFieldCounts = ListOf<std::size_t>(j, "bareFieldCounts");
    for (const auto& entry : ListOf<std::vector<std::int32_t>>(j, "fieldBlockCounts")) {
        if (entry.size() != 3 || entry[0] < 0) {
            throw std::runtime_error("fieldBlockCounts holds [definition, block, count]");
        }
        f.fieldBlockCounts[{static_cast<std::size_t>(entry[0]), entry[1]}] = entry[2];
    }
    f.listCounts = PairsFrom<int, std::int32_t>(j, "listCounts");
    if (j.contains("versionAt")) f.versionAt = Get<std::int32_t>(j.at("versionAt"), "versionAt");
    f.tail = bytes("tail");
    if (j.contains("recordCount")) {
        f.recordCount = Get<std::int32_t>(j.at("recordCount"), "recordCount");
    }
    f.keyFile = bytes("keyFile");
    f.trailing = bytes("trailing");
    if (j.contains("sectionBytes")) {
        for (const auto& entry : j.at("sectionBytes")) {
            if (!entry.is_array() || entry.size() != 2) {
                throw std::runtime_error("sectionBytes holds [record, \"hex\"] pairs");
            }
            f.sectionBytes[Get<std::size_t>(entry[0], "sectionBytes")] =
                Unhex(entry[1], "sectionBytes");
        }
    }
    f.recordNumbers = PairsFrom<std::size_t, std::int32_t>(j, "recordNumbers");
    f.recordStartBytes = PairsFrom<std::size_t, std::uint8_t>(j, "recordStartBytes");
    for (const auto& entry : ListOf<std::vector<std::int32_t>>(j, "recordCounts")) {
        if (entry.size() != 3 || entry[0] < 0) {
            throw std::runtime_error("recordCounts holds [record, list, count]");
        }
        f.recordCounts[{static_cast<std::size_t>(entry[0]), entry[1]}] = entry[2];
    }
}

namespace {

DataFileOptions OptionsFrom(const Json& doc) {
    DataFileOptions o;
    o.form = FormFromText(Value<std::string>(doc, "form", "plain"));
    if (doc.contains("seeds")) {
        const auto seeds = Get<std::vector<std::uint8_t>>(doc.at("seeds"), "seeds");
        if (seeds.size() != 3) throw std::runtime_error("\"seeds\" holds three bytes");
        std::copy(seeds.begin(), seeds.end(), o.seeds.begin());
    }
    o.utf8 = Value<bool>(doc, "utf8", true);
    o.locale = Value<std::string>(doc, "locale", o.locale);
    o.protectionBlock = ListOf<std::uint8_t>(doc, "protectionBlock");
    if (doc.contains("version")) o.versionByte = Get<std::uint8_t>(doc.at("version"), "version");
    if (doc.contains("closingByte")) {
        o.closingByte = Get<std::uint8_t>(doc.at("closingByte"), "closingByte");
    }
    if (doc.contains("stored")) FromJson(doc.at("stored"), o.stored);
    if (doc.contains("projectStored")) FromJson(doc.at("projectStored"), o.projectStored);
    // The main file's trailing bytes go where the writers take them.
    o.trailingBytes = std::move(o.stored.trailing);
    o.stored.trailing.clear();
    return o;
}

}  // namespace

std::vector<std::uint8_t> EncodeDocument(const Json& document) {
    Json doc = document;
    UnescapeBinaryTexts(doc);
    const std::string kind = doc.at("kind").get<std::string>();
    const Json& data = doc.at("data");
    if (kind == "basic") {
        Game_BasicData d;
        FromJson(data, d);
        return WriteBasicData(d, OptionsFrom(doc));
    }
    if (kind == "tileset") {
        Game_TileSetList list;
        FromJson(data, list);
        const int generation = Value<int>(doc, "generation", 4);
        if (generation < 1 || generation > 4) throw std::runtime_error("generation is 1 to 4");
        return WriteTileSetData(list, generation, OptionsFrom(doc));
    }
    if (kind == "map") {
        Game_MapData map;
        FromJson(data, map);
        const DataFileOptions o = OptionsFrom(doc);
        if (o.form == DataFileForm::Protected) {
            throw std::runtime_error("map files have no protected form");
        }
        MapFileOptions m;
        m.scrambled = o.form == DataFileForm::Scrambled;
        m.seeds = o.seeds;
        m.utf8 = o.utf8;
        m.locale = o.locale;
        const std::string letter = Value<std::string>(doc, "formatLetter", "f");
        if (letter.size() != 1) throw std::runtime_error("formatLetter is one letter");
        m.formatLetter = static_cast<std::uint8_t>(letter[0]);
        m.storeLayers = Value<bool>(doc, "storeLayers", true);
        m.stored = o.stored;
        m.trailingBytes = o.trailingBytes;
        return WriteMapFile(map, m);
    }
    if (kind == "archivekey") {
        const std::string key = Get<std::string>(data.at("key"), "key");
        const std::string extension = Value<std::string>(data, "extension", "velk");
        int index = -1;
        for (int i = 0; i < 8; ++i) {
            if (extension == kArchiveExtensions[i] + 1) index = i;
        }
        if (index < 0) throw std::runtime_error("unknown archive extension " + extension);
        if (key.empty() || key.size() > kArchiveKeyMaxLength) {
            throw std::runtime_error("an archive key has 1 to 127 characters");
        }
        return WriteArchiveKeyFile(key, index, Value<std::uint8_t>(doc, "seed", 1),
                                   OptionsFrom(doc).stored.keyFile);
    }
    if (kind == "commonevent" || kind == "common") {
        Game_CommonEventList list;
        std::vector<int> sections;
        FromJson(data, list, sections);
        const DataFileOptions o = OptionsFrom(doc);
        return kind == "common" ? WriteCommonFile(list, sections, o)
                                : WriteCommonEventFile(list, sections, o);
    }
    if (kind == "database") throw std::runtime_error("a database is written as two files");
    throw std::runtime_error("unknown kind " + kind);
}

std::vector<std::pair<std::string, std::vector<std::uint8_t>>> EncodeDocumentFiles(
    const Json& document, const std::string& output) {
    Json doc = document;
    UnescapeBinaryTexts(doc);
    if (doc.at("kind").get<std::string>() != "database") return {{output, EncodeDocument(doc)}};
    Game_Database db;
    FromJson(doc.at("data"), db);
    const DataFileOptions options = OptionsFrom(doc);
    const std::string base = DatabaseBasePath(output);
    return {{base + ".dat", WriteDatabaseDataFile(db, options)},
            {base + ".project", WriteDatabaseProjectFile(db, options)}};
}

std::string DatabaseBasePath(const std::string& path) {
    for (const char* extension : {".dat", ".project"}) {
        const std::string ext = extension;
        if (path.size() > ext.size() &&
            path.compare(path.size() - ext.size(), ext.size(), ext) == 0) {
            return path.substr(0, path.size() - ext.size());
        }
    }
    return path;
}

std::string GuessKind(const std::string& fileName, const std::vector<std::uint8_t>& bytes) {
    const std::size_t slash = fileName.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    if (base == "Game.dat") return "basic";
    if (base == "TileSetData.dat") return "tileset";
    if (base == "CommonEvent.dat") return "commonevent";
    if (base.size() > 7 && base.compare(base.size() - 7, 7, ".common") == 0) return "common";
    const bool project = base.size() > 8 && base.compare(base.size() - 8, 8, ".project") == 0;
    if (base == "DataBase.dat" || base == "CDataBase.dat" || base == "SysDataBase.dat" || project) {
        return "database";
    }
    if (bytes.size() == kArchiveKeyFileSize) return "archivekey";
    return "map";
}

namespace {

// While a file is decoded nothing is moved, shown or ended: every refusal becomes an exception
// whose message names the file, and a damaged file is left exactly as it is (the ".broken" rename
// is the player's). What a "Game.dat" sets, its character set and UI language, is undone after.
class QuietServices {
  public:
    explicit QuietServices(const std::string& name) {
        FileName() = name;
        DataFileServices& s = GetDataFileServices();
        s.showMessageBox = [](const std::string& text, const std::string&) {
            throw std::runtime_error(FileName() + ": " + text);
        };
        s.reportRuntimeError = [](const std::string& line1, const std::string&,
                                  const std::string&) {
            throw std::runtime_error(FileName() + ": " + line1);
        };
        s.exitProgram = [](int) { throw std::runtime_error(FileName() + " cannot be used"); };
        s.damagedFile = [](const std::string& path) {
            throw std::runtime_error((path.empty() ? FileName() : path) +
                                     " is damaged (a check failed, or a count or text does not "
                                     "fit); the file was left unchanged");
        };
    }
    ~QuietServices() {
        GetDataFileServices() = saved_;
        UiLanguage = savedLanguage_;
        GameCharSetIndex = savedCharSet_;
    }
    QuietServices(const QuietServices&) = delete;
    QuietServices& operator=(const QuietServices&) = delete;

  private:
    static std::string& FileName() {
        static std::string name;
        return name;
    }
    DataFileServices saved_ = GetDataFileServices();
    std::int32_t savedLanguage_ = UiLanguage;
    std::int32_t savedCharSet_ = GameCharSetIndex;
};

// The three seeds of a 10-byte header; one whose byte marks the form is 0.
Json SeedsJson(const std::vector<std::uint8_t>& bytes, const ScrambledHeaderLayout& layout) {
    const ScrambledHeaderForm form = ClassifyShortHeader(bytes.data(), layout.kindLetter);
    const DataFileForm dataForm = form == ScrambledHeaderForm::Plain ? DataFileForm::Plain
                                  : form == ScrambledHeaderForm::Protected
                                      ? DataFileForm::Protected
                                      : DataFileForm::Scrambled;
    Json seeds = Json::array();
    for (int k = 0; k < 3; ++k) {
        seeds.push_back(SeedHasPlace(layout, dataForm, k) ? bytes[layout.seedOffsets[k]] : 0);
    }
    return seeds;
}

// Walks a file the runtime's reader has accepted (its body already unscrambled), the way that
// reader walks it, and keeps in a StoredForm what the records do not carry: skipped bytes, texts
// not stored as the writer stores them, and stored values that reading replaces.
class StoredScan {
  public:
    StoredScan(const std::vector<std::uint8_t>& bytes, std::size_t at, bool utf8,
               std::string locale, StoredForm& out)
        : bytes_(bytes), at_(at), utf8_(utf8), locale_(std::move(locale)), out_(out) {}

    std::size_t At() const { return at_; }

    std::uint8_t U8() {
        Need(1);
        return bytes_[at_++];
    }
    std::int32_t I32() {
        Need(4);
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(bytes_[at_ + i]) << (8 * i);
        at_ += 4;
        return static_cast<std::int32_t>(v);
    }
    std::int16_t I16() {
        Need(2);
        const auto v = static_cast<std::int16_t>(bytes_[at_] | (bytes_[at_ + 1] << 8));
        at_ += 2;
        return v;
    }
    void Pass(std::size_t count) {
        Need(count);
        at_ += count;
    }
    // A place the reader skips.
    void Skip(std::size_t count) {
        Need(count);
        out_.skipped.insert(out_.skipped.end(), bytes_.begin() + at_, bytes_.begin() + at_ + count);
        at_ += count;
    }
    // A count that a reader takes as 0 when it is negative.
    std::size_t Items(std::int32_t count) {
        return count > 0 ? static_cast<std::size_t>(count) : 0;
    }

    // A text: int32 length, then the bytes.
    void Text() {
        const std::int32_t length = I32();
        Need(Items(length));
        Keep(std::string(bytes_.begin() + at_, bytes_.begin() + at_ + Items(length)), !utf8_);
        at_ += Items(length);
    }
    // A move command's text: a length byte, then the bytes (never converted).
    void MoveText() {
        const std::uint8_t length = U8();
        Need(length);
        Keep(std::string(bytes_.begin() + at_, bytes_.begin() + at_ + length), false);
        at_ += length;
    }

    // The rest of the file.
    std::vector<std::uint8_t> Rest() {
        std::vector<std::uint8_t> rest(bytes_.begin() + std::min(at_, bytes_.size()), bytes_.end());
        at_ = bytes_.size();
        return rest;
    }

    // The records of map files and of their events.
    void Route() {
        Pass(6);
        const std::int32_t count = I32();
        for (std::size_t i = 0; i < Items(count); ++i) {
            U8();
            Pass(4u * U8());
            MoveText();
        }
    }

    void CommandList() {
        const std::size_t list = listNumber_++;
        const std::int32_t count = I32();
        for (std::size_t i = 0; i < Items(count); ++i) {
            const std::size_t command = commandNumber_++;
            const auto arguments = static_cast<std::int8_t>(U8());
            if (arguments == 0) out_.noArguments.push_back(command);
            std::int32_t code = kEndOfListCode;
            if (arguments > 0) code = I32();
            if (arguments > 1) Pass(4u * static_cast<std::size_t>(arguments - 1));
            U8();  // indent
            const auto strings = static_cast<std::int8_t>(U8());
            for (int s = 0; s < strings; ++s) Text();
            const auto flag = static_cast<std::int8_t>(U8());
            if (flag != 0 && flag != 1) out_.routeFlags[command] = flag;
            if (flag >= 1) Route();
            if (i + 1 == Items(count) && code != kEndOfListCode) out_.lastCodes[list] = code;
        }
    }

    void Page() {
        const std::size_t page = pageNumber_++;
        Skip(1);
        Pass(4);
        Text();
        Pass(4 + 37);
        Route();
        CommandList();
        const std::int32_t contacts = I32();
        if (contacts < 3) out_.contactCounts[page] = contacts;
        Pass(Items(contacts));
        Skip(1);
    }

    // Returns the event's id.
    std::int32_t Event() {
        const std::size_t event = eventNumber_++;
        Skip(1);
        Skip(4);
        const std::int32_t id = I32();
        Text();
        Pass(8);
        const std::int32_t pages = I32();
        const std::int32_t kept = I32();
        if (kept < 0) out_.eventByteCounts[event] = kept;
        Pass(Items(kept));
        if (pages <= 0) out_.pageCounts[event] = pages;
        for (std::size_t p = 0; p < Items(pages); ++p) Page();
        Skip(1);
        return id;
    }

    // One common-event record; returns the number of sections it carries.
    int CommonRecord(std::size_t record) {
        const std::uint8_t start = U8();
        if (start != 1) out_.recordStartBytes[record] = start;
        const std::int32_t number = I32();
        if (number != static_cast<std::int32_t>(record)) out_.recordNumbers[record] = number;
        Pass(1 + 4 + 4 + 2);
        Text();
        CommandList();
        const auto count = [&](int list, std::size_t defaults) {
            const std::int32_t n = I32();
            if (n < 0 || static_cast<std::size_t>(n) < defaults)
                out_.recordCounts[{record, list}] = n;
            return Items(n);
        };
        const std::size_t byteCount = count(0, 1);
        Pass(byteCount);
        if (byteCount >= 1) Text();
        std::vector<std::uint8_t> bytes;
        static constexpr std::uint8_t kContinues[5] = {0x90, 0x90, 0x91, 0x92, 0x92};
        static constexpr std::uint8_t kEnds[5] = {0x8E, 0x8F, 0x90, 0x91, 0x92};
        int sections = 1;
        bool odd = false;
        const auto sectionByte = [&](int section) {
            const std::uint8_t byte = U8();
            bytes.push_back(byte);
            const bool continues =
                section == 0 ? byte != 0x8E : section < 4 && byte == kContinues[section];
            if (byte != (continues ? kContinues[section] : kEnds[section])) odd = true;
            return continues;
        };
        if (sectionByte(0)) {
            sections = 2;
            for (std::size_t i = count(1, kArgumentTextCount); i > 0; --i) Text();
            Pass(count(2, kArgumentByteCount));
            // The inner lists read exactly as long as stored; only a negative count is kept.
            const auto inner = [&](int list) {
                const std::int32_t n = I32();
                if (n < 0) out_.recordCounts[{record, list}] = n;
                return Items(n);
            };
            const std::size_t textLists = count(3, kArgumentTextListCount);
            for (std::size_t i = 0; i < textLists; ++i) {
                for (std::size_t k = inner(kInnerTextListBase + static_cast<int>(i)); k > 0; --k) {
                    Text();
                }
            }
            const std::size_t numberLists = count(4, kArgumentNumberListCount);
            for (std::size_t i = 0; i < numberLists; ++i) {
                Pass(4 * inner(kInnerNumberListBase + static_cast<int>(i)));
            }
            Pass(4 * count(5, kArgumentNumberCount));
            if (sectionByte(1)) {
                sections = 3;
                Pass(4);
                for (std::size_t i = 0; i < kCommonEventExtraTextCount; ++i) Text();
                if (sectionByte(2)) {
                    sections = 4;
                    Text();
                    if (sectionByte(3)) {
                        sections = 5;
                        Text();
                        Pass(4);
                        sectionByte(4);
                    }
                }
            }
        }
        ++eventNumber_;
        if (odd) out_.sectionBytes[record] = bytes;
        return sections;
    }

    // Drops skipped bytes that are all 0 at the end (the writer puts 0 there).
    void Finish() {
        while (!out_.skipped.empty() && out_.skipped.back() == 0) out_.skipped.pop_back();
    }

  private:
    void Need(std::size_t count) const {
        if (at_ > bytes_.size() || bytes_.size() - at_ < count) {
            throw std::runtime_error("the file ends inside a field");
        }
    }

    // Keeps a text whose stored bytes are not what the writer makes of what they read as.
    void Keep(const std::string& stored, bool converted) {
        const std::size_t number = textNumber_++;
        std::string read(stored.c_str(), strnlen(stored.c_str(), stored.size()));
        std::string written = read;
        if (converted && !read.empty()) {
            written = ConvertUtf8ToGameText(ConvertCodePageToUtf8(locale_.c_str(), read.c_str()),
                                            locale_);
        }
        if (written + '\0' != stored) out_.texts[number] = stored;
    }

    const std::vector<std::uint8_t>& bytes_;
    std::size_t at_;
    bool utf8_;
    std::string locale_;
    StoredForm& out_;
    std::size_t textNumber_ = 0;
    std::size_t commandNumber_ = 0;
    std::size_t listNumber_ = 0;
    std::size_t pageNumber_ = 0;
    std::size_t eventNumber_ = 0;
};

DataFileForm DataForm(const std::string& form) {
    return FormFromText(form);
}

std::uint8_t SumOf(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) {
    std::uint32_t sum = 0;
    for (std::size_t i = from; i < to && i < bytes.size(); ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(sum);
}

// The header facts of a 10-byte header, and the protection block the scan passes.
Json HeaderJson(const std::vector<std::uint8_t>& bytes, const ScrambledHeaderLayout& layout) {
    Json j;
    const ScrambledHeaderForm form = ClassifyShortHeader(bytes.data(), layout.kindLetter);
    j["form"] = FormText(form);
    j["seeds"] = SeedsJson(bytes, layout);
    j["utf8"] = bytes[layout.utf8Offset] == 'U';
    return j;
}

// Passes the protection block of a protected body at the scan's position (10) and describes it.
void ScanProtectionBlock(StoredScan& scan, const std::vector<std::uint8_t>& body, Json& doc) {
    if (doc.at("form") != "protected") return;
    scan.Skip(5);
    const std::int32_t n = scan.I32();
    const std::size_t at = scan.At();
    scan.Pass(scan.Items(n));
    doc["protectionBlock"] = std::vector<std::uint8_t>(body.begin() + at, body.begin() + scan.At());
}

// Keeps the header when it is not the one the writer makes for the description.
void KeepShortHeader(const std::vector<std::uint8_t>& file, const ScrambledHeaderLayout& layout,
                     const Json& doc, std::uint8_t check, StoredForm& stored) {
    DataFileOptions options;
    options.form = DataForm(doc.at("form"));
    const auto seeds = doc.at("seeds").get<std::vector<std::uint8_t>>();
    std::copy(seeds.begin(), seeds.end(), options.seeds.begin());
    options.utf8 = doc.at("utf8").get<bool>();
    const std::vector<std::uint8_t> header(file.begin(), file.begin() + kShortHeaderSize);
    if (MakeShortHeader(layout, options, check) != header) stored.header = header;
}

void PutStored(Json& doc, const char* key, StoredForm& stored) {
    if (!stored.Empty()) doc[key] = ToJson(stored);
}

}  // namespace

Json DecodeDatabase(const std::string& path) {
    QuietServices quiet(path);
    const std::string base = DatabaseBasePath(path);
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> project;
    if (!ReadWholeDataFile(base + ".dat", bytes) || bytes.size() < kShortHeaderSize) {
        throw std::runtime_error("cannot read " + base + ".dat");
    }
    if (!ReadWholeDataFile(base + ".project", project)) {
        throw std::runtime_error("cannot read " + base + ".project");
    }
    Game_Database db;
    db.kind = kUserDatabase;
    if (!LoadDatabaseFiles(db, "", base)) throw std::runtime_error("not a readable database");
    Json doc{{"kind", "database"}};
    doc.update(HeaderJson(bytes, kDatabaseHeader));
    const bool utf8 = doc["utf8"].get<bool>();
    const std::uint8_t version = static_cast<std::uint8_t>(DatabaseFileVersion);
    doc["version"] = version;

    // The body as the reader saw it.
    std::vector<std::uint8_t> body = bytes;
    const std::uint8_t seeds[3] = {bytes[0], bytes[3], bytes[9]};
    if (doc["form"] != "plain") {
        std::uint8_t unused = 0;
        UnscrambleDataFile(body.data(), kShortHeaderSize, body.size(), 3, seeds, kNoCheck, unused,
                           {});
    }
    StoredForm stored;
    const std::string locale = GameCodePageLocale();
    StoredScan scan(body, kShortHeaderSize, utf8, locale, stored);
    ScanProtectionBlock(scan, body, doc);
    scan.U8();
    const std::int32_t types = scan.I32();
    for (std::size_t t = 0; t < scan.Items(types); ++t) {
        Game_DatabaseType type;
        type.fieldKinds.clear();
        const std::int32_t lead = scan.I32();
        std::int32_t fields = lead;
        if (lead >= 0) {
            stored.bareFieldCounts.push_back(t);
        } else {
            if (lead <= -2) scan.I32();
            fields = scan.I32();
        }
        for (std::size_t f = 0; f < scan.Items(fields); ++f) type.fieldKinds.push_back(scan.I32());
        const std::int32_t entries = scan.I32();
        for (std::size_t e = 0; e < scan.Items(entries); ++e) {
            scan.Pass(4u * static_cast<std::size_t>(type.NumberFieldCount()));
            for (std::int32_t s = 0; s < type.StringFieldCount(); ++s) scan.Text();
        }
    }
    const std::uint8_t closing = scan.U8();
    if (closing != version) doc["closingByte"] = closing;
    const std::size_t checkedEnd = scan.At();
    stored.trailing = scan.Rest();
    scan.Finish();
    KeepShortHeader(bytes, kDatabaseHeader, doc, SumOf(body, kShortHeaderSize, checkedEnd), stored);

    // The ".project" file, unscrambled with the protection block's first byte.
    if (doc["form"] == "protected") {
        const auto& block = doc["protectionBlock"];
        ScrambleGenerator generator(block.empty() ? 0 : block[0].get<std::uint8_t>());
        for (auto& byte : project) byte ^= static_cast<std::uint8_t>(generator.Next());
    }
    StoredForm projectStored;
    StoredScan projectScan(project, 0, utf8, locale, projectStored);
    const std::int32_t definitions = projectScan.I32();
    for (std::size_t d = 0; d < projectScan.Items(definitions); ++d) {
        projectScan.Text();
        const std::int32_t fields = projectScan.I32();
        for (std::size_t i = 0; i < projectScan.Items(fields); ++i) projectScan.Text();
        const std::int32_t names = projectScan.I32();
        for (std::size_t i = 0; i < projectScan.Items(names); ++i) projectScan.Text();
        projectScan.Text();
        if (version == 0xC0) continue;
        const auto block = [&](int number, std::size_t written) {
            const std::int32_t count = projectScan.I32();
            if (projectScan.Items(count) != written)
                projectStored.fieldBlockCounts[{d, number}] = count;
            return projectScan.Items(count);
        };
        const std::size_t f = projectScan.Items(fields);
        projectScan.Pass(block(0, std::min(f, kDatabaseFieldFlagCount)));
        for (std::size_t i = block(1, f); i > 0; --i) projectScan.Text();
        for (std::size_t i = block(2, f); i > 0; --i) {
            for (std::size_t k = projectScan.Items(projectScan.I32()); k > 0; --k)
                projectScan.Text();
        }
        for (std::size_t i = block(3, f); i > 0; --i) {
            projectScan.Pass(4 * projectScan.Items(projectScan.I32()));
        }
        projectScan.Pass(4 * block(4, f));
    }
    projectStored.trailing = projectScan.Rest();
    projectScan.Finish();
    // The description has one type per record of the longer file.
    if (db.types.size() < db.typeInfos.size()) {
        stored.recordCount = static_cast<std::int32_t>(db.types.size());
    } else if (db.typeInfos.size() < db.types.size()) {
        projectStored.recordCount = static_cast<std::int32_t>(db.typeInfos.size());
    }

    doc["data"] = ToJson(db);
    EscapeBinaryTexts(doc["data"]);
    PutStored(doc, "stored", stored);
    PutStored(doc, "projectStored", projectStored);
    return doc;
}

Json DecodeFile(const std::vector<std::uint8_t>& bytes, const std::string& kind,
                const std::string& name) {
    QuietServices quiet(name);
    Json doc{{"kind", kind}};
    DataFileBuffer& b = TheDataFileBuffer;
    b.Load(bytes);
    struct Release {
        ~Release() { TheDataFileBuffer.Release(); }
    } release;
    StoredForm stored;
    if (kind == "basic") {
        Game_BasicData d;
        if (!ParseBasicData(d, "", false)) throw std::runtime_error("not a readable Game.dat");
        doc.update(HeaderJson(bytes, kBasicDataHeader));
        const bool utf8 = doc["utf8"].get<bool>();
        // The texts were read in the code page of the file's own character set.
        const std::string locale = GameCodePageLocale();
        if (!utf8 && locale != DataFileOptions{}.locale) doc["locale"] = locale;
        // The lists as stored: a reader keeps its defaults beyond them and corrects some numbers.
        StoredScan scan(b.bytes, kShortHeaderSize, utf8, locale, stored);
        ScanProtectionBlock(scan, b.bytes, doc);
        const std::int32_t byteCount = scan.I32();
        std::vector<std::uint8_t> settingBytes;
        for (std::size_t i = 0; i < scan.Items(byteCount); ++i) settingBytes.push_back(scan.U8());
        const std::int32_t textCount = scan.I32();
        for (std::size_t i = 0; i < scan.Items(textCount); ++i) scan.Text();
        const std::int32_t versionOffset = scan.I32();
        scan.Skip(4);
        const std::int32_t numberCount = scan.I32();
        std::vector<std::int16_t> numbers;
        for (std::size_t i = 0; i < scan.Items(numberCount); ++i) numbers.push_back(scan.I16());
        scan.Skip(8);
        const std::size_t end = scan.At();
        for (const auto& [list, count] :
             {std::pair{0, byteCount}, {1, textCount}, {2, numberCount}}) {
            if (count < 0) stored.listCounts[list] = count;
        }
        if (static_cast<std::size_t>(versionOffset) == end) {
            const std::uint8_t version = scan.U8();
            if (version != 0xC3) doc["version"] = version;
            stored.trailing = scan.Rest();
        } else {
            stored.versionAt =
                static_cast<std::int32_t>(versionOffset - static_cast<std::int64_t>(end));
            stored.tail = scan.Rest();
        }
        scan.Finish();
        d.settingTexts.resize(scan.Items(textCount));
        doc["data"] = Json{{"settingBytes", settingBytes},
                           {"settingTexts", d.settingTexts},
                           {"settingNumbers", numbers}};
        KeepShortHeader(bytes, kBasicDataHeader, doc, 0, stored);
    } else if (kind == "tileset") {
        Game_TileSetList list;
        if (!ParseTileSetData(list, "")) throw std::runtime_error("not a readable tileset file");
        doc.update(HeaderJson(bytes, kTileSetHeader));
        StoredScan scan(b.bytes, kShortHeaderSize, doc["utf8"].get<bool>(), GameCodePageLocale(),
                        stored);
        ScanProtectionBlock(scan, b.bytes, doc);
        const int generation = scan.U8() - kTileSetFirstVersion + 1;
        doc["generation"] = generation;
        const std::int32_t count = scan.I32();
        const int slots = generation >= 4 ? 32 : generation == 3 ? 16 : 8;
        for (std::size_t t = 0; t < scan.Items(count); ++t) {
            for (int i = 0; i <= slots; ++i) scan.Text();
            scan.U8();
            scan.Pass(scan.Items(scan.I32()));
            scan.Skip(1);
            const std::int32_t flags = scan.I32();
            for (std::size_t i = 0; i < scan.Items(flags); ++i) {
                if (generation == 1) {
                    scan.U8();
                    continue;
                }
                const std::int32_t flag = scan.I32();
                if (generation == 2 && (flag & (0x10 | 0x100)) && !(flag & 0x200)) {
                    stored.chipFlagsWithoutBit200.emplace_back(t, i);
                }
            }
        }
        scan.U8();
        const std::size_t checkedEnd = scan.At();
        stored.trailing = scan.Rest();
        scan.Finish();
        doc["data"] = ToJson(list);
        KeepShortHeader(bytes, kTileSetHeader, doc, SumOf(b.bytes, kShortHeaderSize, checkedEnd),
                        stored);
    } else if (kind == "map") {
        Game_MapData map;
        if (ParseMapFile(map, "", "") != MapReadResult::Ok) {
            throw std::runtime_error("not a readable map file");
        }
        doc["form"] =
            std::equal(bytes.begin() + 10, bytes.begin() + 15, "VELKM") ? "plain" : "scrambled";
        doc["seeds"] = {bytes[0], bytes[3], bytes[9]};
        doc["utf8"] = bytes[16] == 'U';
        doc["formatLetter"] = std::string(1, static_cast<char>(b.bytes[24]));
        StoredScan scan(b.bytes, kMapHeaderSize, doc["utf8"].get<bool>(), GameCodePageLocale(),
                        stored);
        scan.Skip(4);
        scan.U8();
        scan.Text();
        scan.Pass(4);
        const std::int32_t width = scan.I32();
        const std::int32_t height = scan.I32();
        const std::int32_t events = scan.I32();
        const std::size_t cells = scan.Items(width) * scan.Items(height);
        // A map that stores no layers (the int32 -1 after its header) is described without them:
        // its cells are all empty, however large it says it is.
        const std::size_t layersAt = scan.At();
        const bool marked = b.bytes.size() - layersAt >= 4 &&
                            std::all_of(b.bytes.begin() + layersAt, b.bytes.begin() + layersAt + 4,
                                        [](std::uint8_t c) { return c == 0xFF; });
        if (marked) {
            scan.Pass(4);
        } else {
            if (cells == 0) stored.unmarkedEmptyLayers = true;
            scan.Pass(12 * cells);
        }
        std::vector<std::int32_t> ids;
        for (std::size_t e = 0; e < scan.Items(events); ++e) ids.push_back(scan.Event());
        scan.Skip(1);
        const std::size_t checkedEnd = scan.At();
        stored.trailing = scan.Rest();
        scan.Finish();
        // The events in file order, as positions in the id-sorted list a reader makes.
        std::vector<std::int32_t> sorted(ids.size());
        for (std::size_t i = 0; i < ids.size(); ++i) sorted[i] = static_cast<std::int32_t>(i);
        std::stable_sort(sorted.begin(), sorted.end(),
                         [&](std::int32_t x, std::int32_t y) { return ids[x] < ids[y]; });
        std::vector<std::int32_t> order(ids.size());
        bool inOrder = true;
        for (std::size_t p = 0; p < sorted.size(); ++p) {
            order[static_cast<std::size_t>(sorted[p])] = static_cast<std::int32_t>(p);
            inOrder = inOrder && sorted[p] == static_cast<std::int32_t>(p);
        }
        if (!inOrder) stored.eventOrder = order;
        if (marked && cells > 0) {
            for (auto& layer : map.layers) layer = {};
        }
        doc["data"] = ToJson(map);
        if (marked && cells > 0) {
            doc["storeLayers"] = false;
            doc["data"].erase("layers");
        }
        MapFileOptions options;
        options.scrambled = doc["form"] == "scrambled";
        options.seeds = {bytes[0], bytes[3], bytes[9]};
        options.utf8 = doc["utf8"].get<bool>();
        const std::vector<std::uint8_t> header(bytes.begin(), bytes.begin() + kMapHeaderSize);
        if (MakeMapHeader(options, SumOf(b.bytes, kMapHeaderSize, checkedEnd)) != header) {
            stored.header = header;
        }
    } else if (kind == "commonevent" || kind == "common") {
        // The version message of an unknown section byte is not a refusal: the record still
        // reads.
        GetDataFileServices().showMessageBox = [](const std::string&, const std::string&) {};
        Game_CommonEventList list;
        std::size_t at = 0;
        std::uint8_t version = 0;
        if (kind == "commonevent") {
            if (bytes.size() < kShortHeaderSize || !ParseCommonEventFile(list, "")) {
                throw std::runtime_error(name + ": not a readable CommonEvent.dat");
            }
            doc.update(HeaderJson(bytes, kCommonEventHeader));
            at = kShortHeaderSize;
        } else {
            list.events.clear();
            const std::int32_t count = ParseCommonFile(list, 0);
            if (count < 0 || b.damaged || static_cast<std::size_t>(count) != list.Count()) {
                throw std::runtime_error(name + ": not a readable .common file");
            }
            doc["utf8"] = b.utf8;
        }
        const bool utf8 = doc["utf8"].get<bool>();
        if (!utf8 && GameCodePageLocale() != DataFileOptions{}.locale) {
            doc["locale"] = GameCodePageLocale();
        }
        StoredScan scan(b.bytes, at, utf8, GameCodePageLocale(), stored);
        if (kind == "commonevent") {
            ScanProtectionBlock(scan, b.bytes, doc);
            version = scan.U8();
            if (version != kCommonEventVersion) doc["version"] = version;
        } else {
            scan.Pass(4);
        }
        const std::int32_t count = scan.I32();
        std::vector<int> sections;
        for (std::size_t r = 0; r < scan.Items(count); ++r)
            sections.push_back(scan.CommonRecord(r));
        std::size_t checkedEnd = scan.At();
        if (kind == "commonevent") {
            const std::uint8_t closing = scan.U8();
            const std::uint8_t written =
                version == kCommonEventVersionOld ? kCommonEventVersionOld : kCommonEventVersion;
            if (closing != written) doc["closingByte"] = closing;
            checkedEnd = scan.At();
        }
        stored.trailing = scan.Rest();
        scan.Finish();
        // A file of no records reads as the one default common event; it is described as none.
        if (count <= 0) list.events.clear();
        // A ".common" file may store a negative count, which reads as none.
        if (count < 0) stored.recordCount = count;
        doc["data"] = ToJson(list, sections);
        if (kind == "commonevent") {
            KeepShortHeader(bytes, kCommonEventHeader, doc,
                            SumOf(b.bytes, kShortHeaderSize, checkedEnd), stored);
        }
    } else if (kind == "archivekey") {
        std::string extension;
        const std::string key = ParseArchiveKeyFile(bytes, extension);
        if (key.empty()) throw std::runtime_error("not a valid archive key file");
        doc["seed"] = bytes[0];
        doc["data"] = Json{{"key", key}, {"extension", extension}};
        int index = 0;
        for (int i = 0; i < 8; ++i) {
            if (extension == kArchiveExtensions[i] + 1) index = i;
        }
        if (WriteArchiveKeyFile(key, index, bytes[0]) != bytes) {
            // The filler as it is before the block is scrambled.
            stored.keyFile = bytes;
            std::uint8_t unused = 0;
            UnscrambleDataFile(stored.keyFile.data(), kArchiveKeyBlockOffset,
                               kArchiveKeyBlockOffset + kArchiveKeyBlockSize, 1, &bytes[0],
                               kNoCheck, unused, {});
        }
    } else {
        throw std::runtime_error("unknown kind " + kind);
    }
    EscapeBinaryTexts(doc["data"]);
    PutStored(doc, "stored", stored);
    return doc;
}

}  // namespace gamedata
