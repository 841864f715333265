#include "tools/gamedata/GameDataJson.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "runtime/data/ArchiveKey.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"

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
            if (v < static_cast<std::int64_t>(low) || v > static_cast<std::int64_t>(high)) {
                throw refuse();
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
    auto overlay = [&](const char* key, auto& list) {
        if (!j.contains(key)) return;
        using T = typename std::remove_reference_t<decltype(list)>::value_type;
        const auto values = Get<std::vector<T>>(j.at(key), key);
        if (list.size() < values.size()) list.resize(values.size());
        std::copy(values.begin(), values.end(), list.begin());
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
        return WriteArchiveKeyFile(key, index, Value<std::uint8_t>(doc, "seed", 1));
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

Json HeaderJson(const std::vector<std::uint8_t>& bytes, const ScrambledHeaderLayout& layout) {
    Json j;
    const ScrambledHeaderForm form = ClassifyShortHeader(bytes.data(), layout.kindLetter);
    j["form"] = FormText(form);
    j["seeds"] = SeedsJson(bytes, layout);
    j["utf8"] = bytes[layout.utf8Offset] == 'U';
    if (form == ScrambledHeaderForm::Protected) {
        // The block, unscrambled by the reader, is still in the buffer.
        DataFileBuffer& b = TheDataFileBuffer;
        std::int32_t n = 0;
        for (int i = 0; i < 4; ++i) n |= b.bytes[15 + i] << (8 * i);
        j["protectionBlock"] =
            std::vector<std::uint8_t>(b.bytes.begin() + 19, b.bytes.begin() + 19 + n);
    }
    return j;
}

}  // namespace

Json DecodeDatabase(const std::string& path) {
    QuietServices quiet(path);
    const std::string base = DatabaseBasePath(path);
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeDataFile(base + ".dat", bytes) || bytes.size() < kShortHeaderSize) {
        throw std::runtime_error("cannot read " + base + ".dat");
    }
    Game_Database db;
    db.kind = kUserDatabase;
    if (!LoadDatabaseFiles(db, "", base)) throw std::runtime_error("not a readable database");
    Json doc{{"kind", "database"}};
    const ScrambledHeaderForm form = ClassifyShortHeader(bytes.data(), kDatabaseHeader.kindLetter);
    doc["form"] = FormText(form);
    doc["seeds"] = SeedsJson(bytes, kDatabaseHeader);
    doc["utf8"] = bytes[6] == 'U';
    doc["version"] = DatabaseFileVersion;
    if (form == ScrambledHeaderForm::Protected && bytes.size() >= 19) {
        std::uint8_t unused = 0;
        const std::uint8_t seeds[3] = {bytes[0], bytes[3], bytes[9]};
        UnscrambleDataFile(bytes.data(), kShortHeaderSize, bytes.size(), 3, seeds, kNoCheck, unused,
                           {});
        std::int32_t n = 0;
        for (int i = 0; i < 4; ++i) n |= bytes[15 + i] << (8 * i);
        if (n >= 0 && static_cast<std::size_t>(n) <= bytes.size() - 19) {
            doc["protectionBlock"] =
                std::vector<std::uint8_t>(bytes.begin() + 19, bytes.begin() + 19 + n);
        }
    }
    doc["data"] = ToJson(db);
    EscapeBinaryTexts(doc["data"]);
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
    if (kind == "basic") {
        Game_BasicData d;
        if (!ParseBasicData(d, "", false)) throw std::runtime_error("not a readable Game.dat");
        doc.update(HeaderJson(bytes, kBasicDataHeader));
        doc["data"] = ToJson(d);
    } else if (kind == "tileset") {
        Game_TileSetList list;
        if (!ParseTileSetData(list, "")) throw std::runtime_error("not a readable tileset file");
        doc.update(HeaderJson(bytes, kTileSetHeader));
        const std::uint8_t version =
            b.bytes[doc.contains("protectionBlock") ? 19 + doc["protectionBlock"].size()
                                                    : kShortHeaderSize];
        doc["generation"] = version - kTileSetFirstVersion + 1;
        doc["data"] = ToJson(list);
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
        // A map that stores no layers (the int32 -1 after its header) is described without them:
        // its cells are all empty, however large it says it is.
        auto int32At = [&](std::size_t at) {
            std::uint32_t v = 0;
            for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(b.bytes[at + i]) << (8 * i);
            return static_cast<std::int32_t>(v);
        };
        const std::size_t layersAt = 25 + 4 + static_cast<std::uint32_t>(int32At(25)) + 16;
        const bool layersStored = int32At(layersAt) != -1 || map.layers[0].empty();
        if (!layersStored) {
            for (auto& layer : map.layers) layer = {};
        }
        doc["data"] = ToJson(map);
        if (!layersStored) {
            doc["storeLayers"] = false;
            doc["data"].erase("layers");
        }
    } else if (kind == "archivekey") {
        std::string extension;
        const std::string key = ParseArchiveKeyFile(bytes, extension);
        if (key.empty()) throw std::runtime_error("not a valid archive key file");
        doc["seed"] = bytes[0];
        doc["data"] = Json{{"key", key}, {"extension", extension}};
    } else {
        throw std::runtime_error("unknown kind " + kind);
    }
    EscapeBinaryTexts(doc["data"]);
    return doc;
}

}  // namespace gamedata
