#include "runtime/script/Game_Variables.h"

#include "runtime/data/CommonEvent.h"

#include <algorithm>

#include "runtime/data/DatabaseReports.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/data/SaveStream.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/GameRandom.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"

Game_Variables TheVariables{Game_Variables::QuietConstruction{}};

namespace {

constexpr std::int32_t kSelfSlots = 10;
constexpr std::int32_t kCommonIntegerSlots = 100;
constexpr std::int32_t kCommonTextSlots = 5;
constexpr std::int32_t kFirstCommonTextSlot = 5;
constexpr std::int32_t kNumberListCount = 10;
constexpr std::int32_t kMaxSavedNumberLists = 9999;
constexpr std::int32_t kMaxSavedCommonEvents = 10000;
// A map id beyond this names no map the store keeps self variables for: a damaged id must not
// make it allocate a list for every number below it.
constexpr std::int32_t kMaxSelfVariableMap = 1000000;
constexpr std::int32_t kFirstSoundDatabaseType = 14;

std::int32_t NoMap() {
    return -1;
}

std::int32_t LiveCommonEventCount() {
    return static_cast<std::int32_t>(TheCommonEvents.Count());
}

VariableStoreLinks DefaultLinks() {
    VariableStoreLinks links{};
    links.liveMapId = NoMap;
    links.commonEventCount = LiveCommonEventCount;
    return links;
}

VariableStoreLinks& Links() {
    static VariableStoreLinks links = DefaultLinks();
    return links;
}

template <typename List>
bool InRange(std::int32_t index, const List& list) {
    return index >= 0 && static_cast<std::size_t>(index) < list.size();
}

template <typename List>
auto& At(List& list, std::int32_t index) {
    return list[static_cast<std::size_t>(index)];
}

std::string Location() {
    return GetScriptLocationText();
}

void Report(const std::string& a, const std::string& b, const std::string& c) {
    ReportRuntimeError(true, a, b, c);
}

std::string Decimal(std::int32_t value) {
    return std::to_string(value);
}

// The number list and index of a normal or spare variable id.
void NumberListPlace(std::int32_t id, std::int32_t& list, std::int32_t& n) {
    list = (id - 2000000) / 100000;
    n = id % 100000;
}

// Database cell ids: type, data and field.
struct CellId {
    std::int32_t type, data, field;
};

CellId DecodeCell(std::int32_t id) {
    return {(id % 1000000000 % 100000000) / 1000000, (id % 1000000) / 100, id % 100};
}

Game_Database* DatabaseOf(VariableIdKind kind, Game_Database* variableDatabase) {
    switch (kind) {
        case VariableIdKind::UserDatabaseCell:
            return &TheUserDatabase;
        case VariableIdKind::VariableDatabaseCell:
            return variableDatabase ? variableDatabase : &TheVariableDatabase;
        case VariableIdKind::SystemDatabaseCell:
            return &TheSystemDatabase;
        default:
            return nullptr;
    }
}

// Writes grow a type to hold the data index; reads grow only the live variable database.
void GrowForCell(Game_Database& db, const CellId& cell) {
    if (db.DataCount(cell.type) <= cell.data) db.ResizeType(cell.type, cell.data + 1);
}

VariableCharacter CharacterOf(std::int32_t id, VariableIdKind kind) {
    if (kind == VariableIdKind::MapEventProperty) return {false, (id - 9100000) / 10};
    return {true, (id - 9180000) / 10};
}

const char16_t* NotNumericMessage(VariableIdKind kind) {
    switch (kind) {
        case VariableIdKind::UserDatabaseCell:
            return u"ユーザDBの「変数」を格納すべき場所に「文字列変数」を代入しようとしました";
        case VariableIdKind::SystemDatabaseCell:
            return u"システムDBの「変数」を格納すべき場所に「文字列変数」を代入しようとしました";
        default:
            return u"可変DBの「変数」を格納すべき場所に「文字列変数」を代入しようとしました";
    }
}

const char16_t* NotTextMessage(VariableIdKind kind) {
    switch (kind) {
        case VariableIdKind::UserDatabaseCell:
            return u"ユーザDBの「変数」を格納すべき場所に「文字列」を代入しようとしました";
        case VariableIdKind::SystemDatabaseCell:
            return u"システムDBの「変数」を格納すべき場所に「文字列」を代入しようとしました";
        default:
            return u"可変DBの「変数」を格納すべき場所に「文字列」を代入しようとしました";
    }
}

void ReportOldCommonRead() {
    Report(
        TranslateMessageUtf8(u"読込先IDが1500000～1600000[旧ｺﾓﾝｲﾍﾞﾝﾄｾﾙﾌ変数]です、読み込めません"),
        Location(), "");
}

void ReportTextToNumberPlace(std::int32_t id, const std::string& text) {
    Report(FormatDatabaseText(TranslateMessageUtf8(
                                  u"格納先 %d 代入値「%s」  文字列操作：「文字列」を格納すべき場所"
                                  u"に「変数」を代入しようとしました"),
                              id, text.c_str()),
           Location(), "");
}

}  // namespace

VariableStoreLinks& GetVariableStoreLinks() {
    return Links();
}

void ResetVariableStoreLinks() {
    Links() = DefaultLinks();
}

VariableIdKind ClassifyVariableId(std::int32_t id) {
    if (id < 1000000) return VariableIdKind::Literal;
    if (id < 1500000) return VariableIdKind::MapEventSelf;
    if (id < 1600000) return VariableIdKind::OldCommonSelf;
    if (id < 1700000) return VariableIdKind::ThisCommonSelf;
    if (id < 2000000) return VariableIdKind::Nothing;
    if (id < 2100000) return VariableIdKind::NormalVariable;
    if (id < 3000000) return VariableIdKind::SpareVariable;
    if (id < 4000000) return VariableIdKind::StringVariable;
    if (id < 8000000) return VariableIdKind::Nothing;
    if (id < 9000000) return VariableIdKind::RandomNumber;
    if (id < 9100000) return VariableIdKind::SystemVariable;
    if (id < 9180000) return VariableIdKind::MapEventProperty;
    if (id < 9190000) return VariableIdKind::PartyProperty;
    if (id < 9200000) return VariableIdKind::ThisEventProperty;
    if (id < 9900000) return VariableIdKind::Nothing;
    if (id < 10000000) return VariableIdKind::SystemString;
    if (id < 15000000) return VariableIdKind::Nothing;
    if (id < 16000000) return VariableIdKind::CommonSelf;
    if (id < 1000000000) return VariableIdKind::Nothing;
    if (id < 1100000000) return VariableIdKind::UserDatabaseCell;
    if (id < 1200000000) return VariableIdKind::VariableDatabaseCell;
    if (id < 1300000000) return VariableIdKind::Nothing;
    if (id < 1400000000) return VariableIdKind::SystemDatabaseCell;
    return VariableIdKind::Nothing;
}

std::int32_t NormalizeWrittenDirection(std::int32_t value, bool partyMember,
                                       bool hasDiagonalGraphics) {
    std::int32_t d = std::clamp(value, 1, 9);
    if (!hasDiagonalGraphics && d % 2 == 1) {
        if (!partyMember) return 2;
        return d >= 7 ? 8 : 2;
    }
    return d == 5 ? 2 : d;
}

void RecordPartyShadow(std::int32_t member, std::int32_t value, Game_SystemState& state) {
    if (member == 0) {
        state.playerShadow = static_cast<std::int16_t>(value);
    } else if (member >= 1 && member <= 5) {
        if (state.followerShadows.size() < static_cast<std::size_t>(member)) {
            state.followerShadows.resize(static_cast<std::size_t>(member), -1);
        }
        At(state.followerShadows, member - 1) = value;
    }
}

// ---- Cell references ----

std::int32_t* VariableCellRef::GetOther() const {
    switch (area_) {
        case Area::NumberList:
            return Get();
        case Area::CommonSelf: {
            if (!InRange(a_, store_->commonSelfIntegers)) return nullptr;
            auto& list = At(store_->commonSelfIntegers, a_);
            return InRange(b_, list) ? &At(list, b_) : nullptr;
        }
        case Area::Database:
            return database_->FindNumberCell(a_, b_, c_);
        case Area::None:
            break;
    }
    return nullptr;
}

VariableCellRef ResolveVariableCell(Game_Variables& store, std::int32_t id,
                                    std::int32_t commonEventIndex) {
    VariableCellRef ref;
    ref.store_ = &store;
    const VariableIdKind kind = ClassifyVariableId(id);
    if (id > 16000000) {
        Game_Database* db = DatabaseOf(kind, nullptr);
        if (!db) return {};
        const CellId cell = DecodeCell(id);
        ref.area_ = VariableCellRef::Area::Database;
        ref.database_ = db;
        ref.a_ = cell.type;
        ref.b_ = cell.data;
        ref.c_ = cell.field;
    } else if (kind == VariableIdKind::NormalVariable || kind == VariableIdKind::SpareVariable) {
        ref.area_ = VariableCellRef::Area::NumberList;
        NumberListPlace(id, ref.a_, ref.b_);
    } else if (commonEventIndex < 0) {
        return {};
    } else if (id >= 1600000 && id <= 1600099) {
        if (id >= 1600005 && id <= 1600009) return {};
        ref.area_ = VariableCellRef::Area::CommonSelf;
        ref.a_ = commonEventIndex;
        ref.b_ = id % 100;
    } else if (kind == VariableIdKind::CommonSelf) {
        const std::int32_t slot = id % 100;
        if (slot >= 5 && slot <= 9) return {};
        ref.area_ = VariableCellRef::Area::CommonSelf;
        ref.a_ = (id % 1000000) / 100;
        ref.b_ = slot;
    } else {
        return {};
    }
    return ref.Get() ? ref : VariableCellRef{};
}

bool IsIntegerVariableId(std::int32_t id) {
    if (id > 16000000) {
        const VariableIdKind kind = ClassifyVariableId(id);
        Game_Database* db = DatabaseOf(kind, nullptr);
        if (!db) return true;
        const CellId cell = DecodeCell(id);
        return db->FieldKind(cell.type, cell.field) == kFieldClassNumber;
    }
    if (id >= 1600005 && id <= 1600009) return false;
    if (id < 3000000) return true;
    if (id >= 15000000 && id <= 15999999) {
        const std::int32_t slot = id % 100;
        return slot < 5 || slot > 9;
    }
    if (id <= 3999999) return false;
    if (id >= 9100000 && id <= 9199999) return id % 10 != 9;
    if (id >= 9900000 && id <= 9999999) return false;
    return true;
}

// ---- The store ----

Game_Variables::Game_Variables() : systemState(&TheSystemState) {
    Reset();
}

Game_Variables::Game_Variables(QuietConstruction) : systemState(&TheSystemState) {}

void Game_Variables::Reset() {
    mapOverride = -1;
    mapEventSelf.clear();
    numberLists.clear();
    strings.clear();
    commonSelfIntegers.clear();
    commonSelfStrings.clear();
    const std::int32_t commons = std::max(Links().commonEventCount(), 0);
    commonSelfIntegers.assign(static_cast<std::size_t>(commons),
                              std::vector<std::int32_t>(kCommonIntegerSlots));
    commonSelfStrings.assign(static_cast<std::size_t>(commons),
                             std::vector<std::string>(kCommonTextSlots));
    numberLists.assign(kNumberListCount, {});
    if (TheSystemDatabase.TypeCount() >= 16) {
        for (std::int32_t k = 0; k < kNumberListCount; ++k) {
            const std::int32_t count = TheSystemDatabase.DataCount(kFirstSoundDatabaseType + k);
            At(numberLists, k).assign(static_cast<std::size_t>(std::max(count, 0)), 0);
        }
    }
}

std::int32_t Game_Variables::TakeMap() {
    const std::int32_t map = mapOverride >= 0 ? mapOverride : Links().liveMapId();
    mapOverride = -1;
    return map;
}

void Game_Variables::SetValue(std::int32_t id, std::int32_t value,
                              Game_Database* variableDatabase) {
    const VariableIdKind kind = ClassifyVariableId(id);
    if (id >= 1000000000) {
        Game_Database* db = DatabaseOf(kind, variableDatabase);
        if (!db) {
            Report(FormatDatabaseText(TranslateMessageUtf8(
                                          u"格納先 %d 代入値 %d  変数処理:エラー、代入できません"),
                                      id, value),
                   Location(), "");
            return;
        }
        const CellId cell = DecodeCell(id);
        GrowForCell(*db, cell);
        if (!db->WriteNumber(cell.type, cell.data, cell.field, value)) {
            Report(TranslateMessageUtf8(NotNumericMessage(kind)), Location(),
                   FormatDatabaseText(TranslateMessageUtf8(u"格納先 %d"), id));
        }
        return;
    }
    const std::int32_t map = TakeMap();
    switch (kind) {
        case VariableIdKind::MapEventSelf: {
            if (map < 0 || map > kMaxSelfVariableMap) return;
            const std::int32_t event = (id % 100000) / 10;
            const std::int32_t slot = id % 10;
            if (!InRange(map, mapEventSelf)) mapEventSelf.resize(static_cast<std::size_t>(map) + 1);
            auto& events = At(mapEventSelf, map);
            if (!InRange(event, events)) events.resize(static_cast<std::size_t>(event) + 1);
            auto& slots = At(events, event);
            if (!InRange(slot, slots)) slots.resize(static_cast<std::size_t>(slot) + 1);
            At(slots, slot) = value;
            return;
        }
        case VariableIdKind::CommonSelf: {
            const std::int32_t common = (id % 1000000) / 100;
            const std::int32_t slot = id % 100;
            if (slot >= kFirstCommonTextSlot && slot < kFirstCommonTextSlot + kCommonTextSlots) {
                Report(TranslateMessageUtf8(u"整数をコモンセルフの文字列域に代入しようとしました"),
                       Location(), Decimal(id));
                return;
            }
            if (InRange(common, commonSelfIntegers) &&
                InRange(slot, At(commonSelfIntegers, common))) {
                At(At(commonSelfIntegers, common), slot) = value;
            }
            return;
        }
        case VariableIdKind::NormalVariable:
        case VariableIdKind::SpareVariable: {
            std::int32_t list = 0, n = 0;
            NumberListPlace(id, list, n);
            if (InRange(list, numberLists) && InRange(n, At(numberLists, list))) {
                At(At(numberLists, list), n) = value;
                return;
            }
            const std::string message =
                list == 0
                    ? FormatDatabaseText(
                          TranslateMessageUtf8(u"エラー：以下の変数の保存領域が確保されていま"
                                               u"せん、通常変数のサイズを%d個に増やしてください"),
                          n + 1)
                    : FormatDatabaseText(
                          TranslateMessageUtf8(u"エラー：以下の変数の保存領域が確保されていま"
                                               u"せん、予備変数%dのサイズを%d個に増やしてくだ"
                                               u"さい"),
                          list, n + 1);
            Report(Location(), message, Decimal(id));
            return;
        }
        case VariableIdKind::SystemVariable:
            if (Links().setSystemVariable) Links().setSystemVariable(*this, id - 9000000, value);
            return;
        case VariableIdKind::MapEventProperty:
        case VariableIdKind::PartyProperty: {
            const std::int32_t property = id % 10;
            if (property != 9 && Links().writeCharacterProperty) {
                Links().writeCharacterProperty(CharacterOf(id, kind), property, value);
            }
            return;
        }
        default:
            return;
    }
}

std::int32_t Game_Variables::GetValue(std::int32_t id, Game_Database* variableDatabase) {
    const VariableIdKind kind = ClassifyVariableId(id);
    if (id >= 1000000000) {
        Game_Database* db = DatabaseOf(kind, variableDatabase);
        if (!db) return 0;
        const CellId cell = DecodeCell(id);
        if (db == &TheVariableDatabase) GrowForCell(*db, cell);
        return db->ReadNumber(cell.type, cell.data, cell.field);
    }
    const std::int32_t map = TakeMap();
    switch (kind) {
        case VariableIdKind::OldCommonSelf:
            ReportOldCommonRead();
            return 0;
        case VariableIdKind::Literal:
            return id;
        case VariableIdKind::MapEventSelf: {
            const std::int32_t event = (id % 100000) / 10;
            const std::int32_t slot = id % 10;
            if (!InRange(map, mapEventSelf)) return 0;
            const auto& events = At(mapEventSelf, map);
            if (!InRange(event, events)) return 0;
            const auto& slots = At(events, event);
            return InRange(slot, slots) ? At(slots, slot) : 0;
        }
        case VariableIdKind::CommonSelf: {
            const std::int32_t common = (id % 1000000) / 100;
            const std::int32_t slot = id % 100;
            if (slot >= kFirstCommonTextSlot && slot < kFirstCommonTextSlot + kCommonTextSlots) {
                return 0;
            }
            if (!InRange(common, commonSelfIntegers)) return 0;
            const auto& list = At(commonSelfIntegers, common);
            return InRange(slot, list) ? At(list, slot) : 0;
        }
        case VariableIdKind::NormalVariable:
        case VariableIdKind::SpareVariable: {
            std::int32_t list = 0, n = 0;
            NumberListPlace(id, list, n);
            if (!InRange(list, numberLists)) return 0;
            const auto& values = At(numberLists, list);
            return InRange(n, values) ? At(values, n) : 0;
        }
        case VariableIdKind::StringVariable:
            Report(FormatDatabaseText(
                       TranslateMessageUtf8(u"「変数」呼び出し時の呼び出しIDが不適切です => ID %d"),
                       id),
                   Location(), "");
            return -1;
        case VariableIdKind::RandomNumber: {
            const std::uint32_t range = static_cast<std::uint32_t>(id - 8000000) + 1;
            return static_cast<std::int32_t>(GameRandom(0, 0) % range);
        }
        case VariableIdKind::SystemVariable:
            return Links().getSystemVariable ? Links().getSystemVariable(*this, id - 9000000) : 0;
        case VariableIdKind::MapEventProperty:
        case VariableIdKind::PartyProperty: {
            const std::int32_t property = id % 10;
            std::int32_t value = 0;
            const bool found =
                Links().readCharacterProperty &&
                Links().readCharacterProperty(CharacterOf(id, kind), property, value);
            if (!found) return kind == VariableIdKind::PartyProperty ? -1 : 0;
            return property == 9 ? 0 : value;
        }
        default:
            return 0;
    }
}

void Game_Variables::SetString(std::int32_t id, Game_Database* variableDatabase,
                               const std::string& text) {
    TakeMap();
    const VariableIdKind kind = ClassifyVariableId(id);
    switch (kind) {
        case VariableIdKind::OldCommonSelf:
            Report(TranslateMessageUtf8(u"格納先IDが1500000～1600000[旧ｺﾓﾝｲﾍﾞﾝﾄｾﾙﾌ変数指定]です､"
                                        u"格納できません"),
                   Location(), "");
            return;
        case VariableIdKind::CommonSelf: {
            const std::int32_t common = (id % 1000000) / 100;
            const std::int32_t slot = id % 100;
            if (slot < kFirstCommonTextSlot || slot >= kFirstCommonTextSlot + kCommonTextSlots) {
                Report(TranslateMessageUtf8(u"文字列をコモンセルフの整数域に代入しようとしました"),
                       Location(), FormatDatabaseText(TranslateMessageUtf8(u"格納先 %d"), id));
                return;
            }
            if (!InRange(common, commonSelfStrings)) {
                commonSelfStrings.resize(static_cast<std::size_t>(common) + 1);
            }
            auto& texts = At(commonSelfStrings, common);
            const std::int32_t position = slot - kFirstCommonTextSlot;
            if (!InRange(position, texts)) texts.resize(static_cast<std::size_t>(position) + 1);
            At(texts, position) = text;
            return;
        }
        case VariableIdKind::StringVariable: {
            const std::int32_t n = id - 3000000;
            if (!InRange(n, strings)) strings.resize(static_cast<std::size_t>(n) + 1);
            At(strings, n) = text;
            return;
        }
        case VariableIdKind::SystemString:
            if (Links().setSystemString) {
                Links().setSystemString(*this, id - 9900000, text);
                return;
            }
            break;
        case VariableIdKind::UserDatabaseCell:
        case VariableIdKind::VariableDatabaseCell:
        case VariableIdKind::SystemDatabaseCell: {
            Game_Database* db = DatabaseOf(kind, variableDatabase);
            const CellId cell = DecodeCell(id);
            GrowForCell(*db, cell);
            if (!db->WriteString(cell.type, cell.data, cell.field, text)) {
                Report(TranslateMessageUtf8(NotTextMessage(kind)), Location(),
                       FormatDatabaseText(TranslateMessageUtf8(u"格納先 %d"), id));
            }
            return;
        }
        case VariableIdKind::MapEventProperty:
        case VariableIdKind::PartyProperty:
            if (id % 10 == 9 && Links().writeCharacterGraphic &&
                Links().writeCharacterGraphic(CharacterOf(id, kind), text)) {
                TheGameSystem.characterGraphicsChanged = 1;
            }
            return;
        default:
            break;
    }
    ReportTextToNumberPlace(id, text);
}

std::string Game_Variables::GetString(std::int32_t id, Game_Database* variableDatabase) {
    const VariableIdKind kind = ClassifyVariableId(id);
    switch (kind) {
        case VariableIdKind::OldCommonSelf:
            ReportOldCommonRead();
            return kVariableErrorText;
        case VariableIdKind::CommonSelf: {
            const std::int32_t common = (id % 1000000) / 100;
            const std::int32_t position = id % 100 - kFirstCommonTextSlot;
            if (position < 0 || position >= kCommonTextSlots) return kVariableErrorText;
            if (!InRange(common, commonSelfStrings)) return {};
            const auto& texts = At(commonSelfStrings, common);
            return InRange(position, texts) ? At(texts, position) : std::string();
        }
        case VariableIdKind::StringVariable: {
            const std::int32_t n = id - 3000000;
            return InRange(n, strings) ? At(strings, n) : std::string();
        }
        case VariableIdKind::SystemString:
            return Links().getSystemString ? Links().getSystemString(*this, id - 9900000)
                                           : std::string(kVariableErrorText);
        case VariableIdKind::UserDatabaseCell:
        case VariableIdKind::VariableDatabaseCell:
        case VariableIdKind::SystemDatabaseCell: {
            Game_Database* db = DatabaseOf(kind, variableDatabase);
            const CellId cell = DecodeCell(id);
            if (db == &TheVariableDatabase) GrowForCell(*db, cell);
            return db->ReadString(cell.type, cell.data, cell.field);
        }
        case VariableIdKind::MapEventProperty:
        case VariableIdKind::PartyProperty: {
            std::string name;
            if (id % 10 == 9 && Links().readCharacterGraphic &&
                Links().readCharacterGraphic(CharacterOf(id, kind), name)) {
                return name;
            }
            return kVariableErrorText;
        }
        default:
            return kVariableErrorText;
    }
}

// ---- The save part ----

namespace {

// Texts are int32-counted from format 111 on, int16-counted before; saves below format 125 carry
// the old internal codes.
bool ReadSavedText(SaveStream& s, std::string& text) {
    const bool ok = s.formatNumber >= 111 ? s.ReadLongString(text) : s.ReadShortString(text);
    if (ok && s.formatNumber < 125 && UpgradeOldTextCodesHook) text = UpgradeOldTextCodesHook(text);
    return ok;
}

std::size_t SmallestSavedText(const SaveStream& s) {
    return s.formatNumber >= 111 ? 4 : 2;
}

// A list count read from a save: false for a negative count or one above `maximum`, and false
// with the overrun flag set when `count` items of at least `itemBytes` each cannot fit in what is
// left, so that nothing is ever allocated for data that is not there.
bool ReadCount(SaveStream& s, std::int32_t& count, std::int32_t maximum, std::size_t itemBytes) {
    if (!s.ReadInt32(count)) return false;
    if (count < 0 || count > maximum) return false;
    if (static_cast<std::uint64_t>(count) * itemBytes > static_cast<std::uint64_t>(s.Remaining())) {
        s.overrun = true;
        return false;
    }
    return true;
}

bool ReadSmallCount(SaveStream& s, std::uint8_t& count, std::size_t itemBytes) {
    if (!s.ReadByte(count)) return false;
    if (count * itemBytes > static_cast<std::size_t>(s.Remaining())) {
        s.overrun = true;
        return false;
    }
    return true;
}

}  // namespace

bool Game_Variables::Save() {
    SaveStream& s = TheSaveStream;
    s.WriteInt32(static_cast<std::int32_t>(GameRandom(1, 0)));
    s.WriteInt32(static_cast<std::int32_t>(mapEventSelf.size()));
    for (const auto& events : mapEventSelf) {
        s.WriteInt32(static_cast<std::int32_t>(events.size()));
        for (const auto& slots : events) {
            // A list grows only to the slot written, so it never holds more than ten.
            const std::size_t count = std::min<std::size_t>(slots.size(), 255);
            s.WriteByte(static_cast<std::uint8_t>(count));
            for (std::size_t i = 0; i < count; ++i) s.WriteInt32(slots[i]);
        }
    }
    s.WriteInt32(static_cast<std::int32_t>(numberLists.size()));
    for (const auto& list : numberLists) {
        s.WriteInt32(static_cast<std::int32_t>(list.size()));
        for (std::int32_t v : list) s.WriteInt32(v);
    }
    s.WriteInt32(static_cast<std::int32_t>(strings.size()));
    for (const std::string& text : strings) s.WriteLongString(text);
    s.WriteInt32(static_cast<std::int32_t>(commonSelfIntegers.size()));
    for (const auto& list : commonSelfIntegers) {
        const std::size_t count = std::min<std::size_t>(list.size(), 255);
        s.WriteByte(static_cast<std::uint8_t>(count));
        for (std::size_t i = 0; i < count; ++i) s.WriteInt32(list[i]);
    }
    s.WriteInt32(static_cast<std::int32_t>(commonSelfStrings.size()));
    for (const auto& texts : commonSelfStrings) {
        const std::size_t count = std::min<std::size_t>(texts.size(), 255);
        s.WriteByte(static_cast<std::uint8_t>(count));
        for (std::size_t i = 0; i < count; ++i) s.WriteLongString(texts[i]);
    }
    return true;
}

bool Game_Variables::Load(bool restoreRandom) {
    SaveStream& s = TheSaveStream;
    std::int32_t random = 0;
    if (!s.ReadInt32(random)) return false;
    if (restoreRandom) GameRandom(2, static_cast<std::uint32_t>(random));

    std::int32_t maps = 0;
    if (!ReadCount(s, maps, INT32_MAX, 4)) return false;
    mapEventSelf.resize(static_cast<std::size_t>(maps));
    for (auto& events : mapEventSelf) {
        std::int32_t eventCount = 0;
        if (!ReadCount(s, eventCount, INT32_MAX, 1)) return false;
        events.resize(static_cast<std::size_t>(eventCount));
        for (auto& slots : events) {
            std::uint8_t slotCount = 0;
            if (!ReadSmallCount(s, slotCount, 4)) return false;
            slots.resize(slotCount);
            for (std::int32_t& v : slots) {
                if (!s.ReadInt32(v)) return false;
            }
        }
    }

    std::int32_t listCount = 0;
    if (!ReadCount(s, listCount, kMaxSavedNumberLists, 4)) return false;
    numberLists.resize(static_cast<std::size_t>(listCount));
    for (auto& list : numberLists) {
        std::int32_t length = 0;
        if (!ReadCount(s, length, INT32_MAX, 4)) return false;
        if (list.size() < static_cast<std::size_t>(length)) list.resize(length);
        for (std::int32_t i = 0; i < length; ++i) {
            if (!s.ReadInt32(At(list, i))) return false;
        }
        std::fill(list.begin() + length, list.end(), 0);
    }

    std::int32_t textCount = 0;
    if (!ReadCount(s, textCount, INT32_MAX, SmallestSavedText(s))) return false;
    if (strings.size() < static_cast<std::size_t>(textCount)) strings.resize(textCount);
    for (std::int32_t i = 0; i < textCount; ++i) {
        if (!ReadSavedText(s, At(strings, i))) return false;
    }
    for (std::size_t i = static_cast<std::size_t>(textCount); i < strings.size(); ++i) {
        strings[i].clear();
    }

    const auto liveCommons = static_cast<std::size_t>(std::max(Links().commonEventCount(), 0));
    std::int32_t commons = 0;
    if (!ReadCount(s, commons, kMaxSavedCommonEvents, 1)) return false;
    if (static_cast<std::size_t>(commons) < liveCommons) {
        commonSelfIntegers.resize(liveCommons);
        for (std::size_t i = static_cast<std::size_t>(commons); i < liveCommons; ++i) {
            commonSelfIntegers[i].assign(kCommonIntegerSlots, 0);
        }
    } else {
        commonSelfIntegers.resize(static_cast<std::size_t>(commons));
    }
    for (std::int32_t i = 0; i < commons; ++i) {
        std::uint8_t count = 0;
        if (!ReadSmallCount(s, count, 4)) return false;
        auto& list = At(commonSelfIntegers, i);
        list.resize(count);
        for (std::int32_t& v : list) {
            if (!s.ReadInt32(v)) return false;
        }
    }

    if (!ReadCount(s, commons, kMaxSavedCommonEvents, 1)) return false;
    if (static_cast<std::size_t>(commons) < liveCommons) {
        commonSelfStrings.resize(liveCommons);
        for (std::size_t i = static_cast<std::size_t>(commons); i < liveCommons; ++i) {
            commonSelfStrings[i].assign(kCommonTextSlots, std::string());
        }
    } else {
        commonSelfStrings.resize(static_cast<std::size_t>(commons));
    }
    for (std::int32_t i = 0; i < commons; ++i) {
        std::uint8_t count = 0;
        if (!ReadSmallCount(s, count, SmallestSavedText(s))) return false;
        auto& texts = At(commonSelfStrings, i);
        texts.resize(count);
        for (std::string& text : texts) {
            if (!ReadSavedText(s, text)) return false;
        }
    }
    return true;
}
