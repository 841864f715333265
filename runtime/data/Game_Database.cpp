#include "runtime/data/Game_Database.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "runtime/data/DataFileIo.h"
#include "runtime/data/DatabaseReports.h"
#include "runtime/data/SaveStream.h"
#include "runtime/dictionary/MessageDictionary.h"

Game_Database TheUserDatabase{Game_Database::QuietConstruction{}};
Game_Database TheVariableDatabase{Game_Database::QuietConstruction{}};
Game_Database TheSystemDatabase{Game_Database::QuietConstruction{}};

std::array<DatabaseNameSlot, 3> DatabaseNameIndex;
std::int32_t DatabaseAccessFailed = 0;
std::int32_t DatabaseFileVersion = 0xC1;

std::string FormatDatabaseText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (length > 0) {
        out.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<std::size_t>(length));
    }
    va_end(args);
    return out;
}

void ReportDatabaseError(const std::string& line1, const std::string& line2,
                         const std::string& line3) {
    GetDataFileServices().reportRuntimeError(line1, line2, line3);
}

std::string DatabaseScriptLocation() {
    return GetDataFileServices().scriptLocation();
}

namespace {

std::int32_t FieldClass(std::int32_t kind) {
    return kind / 1000;
}

std::string NoData() {
    return TranslateMessageUtf8(u"×NoData");
}

template <typename List>
bool InRange(std::int32_t index, const List& list) {
    return index >= 0 && static_cast<std::size_t>(index) < list.size();
}

}  // namespace

std::int32_t Game_DatabaseType::NumberFieldCount() const {
    std::int32_t n = 0;
    for (std::int32_t k : fieldKinds) n += FieldClass(k) == kFieldClassNumber;
    return n;
}

std::int32_t Game_DatabaseType::StringFieldCount() const {
    std::int32_t n = 0;
    for (std::int32_t k : fieldKinds) n += FieldClass(k) == kFieldClassString;
    return n;
}

std::int32_t Game_DatabaseTypeInfo::InitialValue(std::int32_t field) const {
    return InRange(field, initialValues) ? initialValues[static_cast<std::size_t>(field)] : 0;
}

Game_Database::Game_Database() {
    DatabaseFileVersion = 0xC1;
    TheSaveStream.readFromSave = false;
}

std::int32_t Game_Database::DataCount(std::int32_t type) const {
    if (!InRange(type, types)) return -1;
    const auto& entries = types[static_cast<std::size_t>(type)].entries;
    return entries.empty() ? -1 : static_cast<std::int32_t>(entries.size());
}

std::int32_t Game_Database::FieldCount(std::int32_t type) const {
    if (!InRange(type, types)) return 0;
    return static_cast<std::int32_t>(types[static_cast<std::size_t>(type)].fieldKinds.size());
}

std::int32_t Game_Database::FieldKind(std::int32_t type, std::int32_t field) const {
    if (!InRange(type, types)) return -1;
    const auto& kinds = types[static_cast<std::size_t>(type)].fieldKinds;
    if (!InRange(field, kinds)) return -1;
    return FieldClass(kinds[static_cast<std::size_t>(field)]);
}

const Game_DatabaseTypeInfo* Game_Database::Info(std::int32_t type) const {
    return InRange(type, typeInfos) ? &typeInfos[static_cast<std::size_t>(type)] : nullptr;
}

namespace {

// The slot of a number or string field's value in its entry, or -1 when the kind is of the other
// class or names a slot the entry does not have.
std::int32_t ValueSlot(const Game_DatabaseType& t, const Game_DatabaseEntry& e, std::int32_t field,
                       std::int32_t wantedClass) {
    const std::int32_t kind = t.fieldKinds[static_cast<std::size_t>(field)];
    if (FieldClass(kind) != wantedClass) return -1;
    const std::int32_t slot = kind - wantedClass * 1000;
    const std::size_t size = wantedClass == kFieldClassNumber ? e.numbers.size() : e.strings.size();
    return static_cast<std::size_t>(slot) < size ? slot : -1;
}

}  // namespace

std::int32_t* Game_Database::FindNumberCell(std::int32_t type, std::int32_t data,
                                            std::int32_t field) {
    if (!InRange(type, types)) return nullptr;
    auto& t = types[static_cast<std::size_t>(type)];
    if (!InRange(data, t.entries) || !InRange(field, t.fieldKinds)) return nullptr;
    auto& e = t.entries[static_cast<std::size_t>(data)];
    const std::int32_t slot = ValueSlot(t, e, field, kFieldClassNumber);
    return slot < 0 ? nullptr : &e.numbers[static_cast<std::size_t>(slot)];
}

std::string Game_Database::KindName() const {
    switch (kind) {
        case kUserDatabase:
            return TranslateMessageUtf8(u"ユーザDB");
        case kVariableDatabase:
            return TranslateMessageUtf8(u"可変DB");
        case kSystemDatabase:
            return TranslateMessageUtf8(u"システムDB");
        default:
            return "Error DB";
    }
}

bool Game_Database::ReportMissingVariableDatabase() const {
    if (kind != kVariableDatabase || !types.empty()) return false;
    ReportDatabaseError(
        TranslateMessageUtf8(u"【DBアクセスエラー】 対象のセーブデータ内に可変DBが存在しません！"),
        TranslateMessageUtf8(u"※Tips:"
                             u"「セーブデータへの書き込み」機能で無から作成したセーブデータには可変"
                             u"DBが保存されません"),
        DatabaseScriptLocation());
    DatabaseAccessFailed = 1;
    return true;
}

namespace {

// The checks every cell read makes, in their order. Returns true when the cell exists; otherwise
// the fault has been reported and `missingEntry` tells whether only the entry was missing.
bool CheckCellRead(const Game_Database& db, std::int32_t type, std::int32_t data,
                   std::int32_t field, bool& missingEntry) {
    missingEntry = false;
    if (!InRange(type, db.types)) {
        ReportDatabaseError(
            FormatDatabaseText(
                TranslateMessageUtf8(u"【%s】エラー：存在しないタイプ番号 %d を読みに行っています"),
                db.KindName().c_str(), type),
            DatabaseScriptLocation(), "");
        DatabaseAccessFailed = 1;
        return false;
    }
    const auto& t = db.types[static_cast<std::size_t>(type)];
    if (!InRange(data, t.entries)) {
        ReportDatabaseError(
            FormatDatabaseText(
                TranslateMessageUtf8(
                    u"【%s】エラー：タイプ %d に存在しないデータ番号 %d を読みに行っています"),
                db.KindName().c_str(), type, data),
            DatabaseScriptLocation(), "");
        DatabaseAccessFailed = 1;
        missingEntry = true;
        return false;
    }
    if (!InRange(field, t.fieldKinds)) {
        ReportDatabaseError(
            TranslateMessageUtf8(u"エラー：存在しない内容番号を読みに行っています"),
            FormatDatabaseText(
                TranslateMessageUtf8(u"【%s】タイプ %d データ番号%d 項目%d(Max%d種)"),
                db.KindName().c_str(), type, data, field, static_cast<int>(t.fieldKinds.size())),
            DatabaseScriptLocation());
        DatabaseAccessFailed = 1;
        return false;
    }
    return true;
}

}  // namespace

std::int32_t Game_Database::ReadNumber(std::int32_t type, std::int32_t data,
                                       std::int32_t field) const {
    if (ReportMissingVariableDatabase()) return 0;
    bool missingEntry = false;
    if (!CheckCellRead(*this, type, data, field, missingEntry)) {
        const Game_DatabaseTypeInfo* info = missingEntry ? Info(type) : nullptr;
        return info ? info->InitialValue(field) : 0;
    }
    const auto& t = types[static_cast<std::size_t>(type)];
    const auto& e = t.entries[static_cast<std::size_t>(data)];
    const std::int32_t slot = ValueSlot(t, e, field, kFieldClassNumber);
    return slot < 0 ? 0 : e.numbers[static_cast<std::size_t>(slot)];
}

std::string Game_Database::ReadString(std::int32_t type, std::int32_t data, std::int32_t field,
                                      std::string* alsoInto) const {
    std::string result = kDatabaseErrorText;
    bool missingEntry = false;
    if (!ReportMissingVariableDatabase() && CheckCellRead(*this, type, data, field, missingEntry)) {
        const auto& t = types[static_cast<std::size_t>(type)];
        const auto& e = t.entries[static_cast<std::size_t>(data)];
        const std::int32_t slot = ValueSlot(t, e, field, kFieldClassString);
        if (slot >= 0) result = e.strings[static_cast<std::size_t>(slot)];
    }
    if (alsoInto) *alsoInto = result;
    return result;
}

bool Game_Database::WriteNumber(std::int32_t type, std::int32_t data, std::int32_t field,
                                std::int32_t value) {
    if (ReportMissingVariableDatabase()) return true;
    std::int32_t* cell = FindNumberCell(type, data, field);
    if (!cell) return false;
    *cell = value;
    return true;
}

bool Game_Database::WriteString(std::int32_t type, std::int32_t data, std::int32_t field,
                                const std::string& text) {
    if (ReportMissingVariableDatabase()) return true;
    if (!InRange(type, types)) return false;
    auto& t = types[static_cast<std::size_t>(type)];
    if (!InRange(data, t.entries) || !InRange(field, t.fieldKinds)) return false;
    auto& e = t.entries[static_cast<std::size_t>(data)];
    const std::int32_t slot = ValueSlot(t, e, field, kFieldClassString);
    if (slot < 0) return false;
    e.strings[static_cast<std::size_t>(slot)] = text;
    return true;
}

std::string Game_Database::TypeName(std::int32_t type) const {
    const Game_DatabaseTypeInfo* info = Info(type);
    return info ? info->typeName : NoData();
}

std::string Game_Database::FieldName(std::int32_t type, std::int32_t field) const {
    const Game_DatabaseTypeInfo* info = Info(type);
    if (!info || !InRange(field, info->fieldNames)) return NoData();
    return info->fieldNames[static_cast<std::size_t>(field)];
}

std::string Game_Database::DataName(std::int32_t type, std::int32_t data,
                                    std::int32_t depth) const {
    if (depth > 50) return TranslateMessageUtf8(u"×LoopError");
    const Game_DatabaseTypeInfo* info = Info(type);
    if (!info || !InRange(data, info->dataNames)) return NoData();
    // The values list may hold fewer types or entries than the definitions.
    if (!InRange(type, types)) return NoData();
    const auto& t = types[static_cast<std::size_t>(type)];
    const std::int32_t mode = t.nameMode;
    if (mode == 0) return info->dataNames[static_cast<std::size_t>(data)];
    if (mode == 1) {
        if (!InRange(data, t.entries)) return NoData();
        const auto& e = t.entries[static_cast<std::size_t>(data)];
        return e.strings.empty() ? std::string() : e.strings[0];
    }
    if (mode == 2) {
        std::int32_t earlier = type - 1;
        while (earlier >= 0 && types[static_cast<std::size_t>(earlier)].nameMode == 2) --earlier;
        const Game_DatabaseTypeInfo* earlierInfo = Info(earlier);
        if (!earlierInfo || !InRange(data, earlierInfo->dataNames)) return NoData();
        return DataName(earlier, data, depth + 1);
    }
    const Game_Database* linked = nullptr;
    if (mode >= 10000 && mode <= 19999 && systemDatabase) {
        linked = systemDatabase;
    } else if (mode >= 20000 && mode <= 29999 && userDatabase) {
        linked = userDatabase;
    } else if (mode >= 30000 && mode <= 39999 && variableDatabase) {
        linked = variableDatabase;
    }
    if (!linked) return {};
    const std::int32_t target = mode % 10000;
    const Game_DatabaseTypeInfo* targetInfo = linked->Info(target);
    if (!targetInfo || !InRange(data, targetInfo->dataNames) || !InRange(target, linked->types) ||
        linked->types[static_cast<std::size_t>(target)].nameMode == mode) {
        return NoData();
    }
    return linked->DataName(target, data, depth + 1);
}

void Game_Database::ResizeType(std::int32_t type, std::int32_t count) {
    if (!InRange(type, types)) {
        ReportDatabaseError(
            FormatDatabaseText(
                TranslateMessageUtf8(
                    u"このDBにタイプ%dは存在しません、対象DBを間違えていないかご確認下さい"),
                type),
            DatabaseScriptLocation(), "");
        return;
    }
    if (count < 0) count = 0;
    auto& t = types[static_cast<std::size_t>(type)];
    Game_DatabaseTypeInfo* info =
        InRange(type, typeInfos) ? &typeInfos[static_cast<std::size_t>(type)] : nullptr;
    const std::int32_t old = static_cast<std::int32_t>(t.entries.size());
    const auto size = static_cast<std::size_t>(count);
    t.entries.resize(size);
    if (info) {
        if (old < count) {
            info->dataNames.resize(info->dataNames.size() + static_cast<std::size_t>(count - old));
        } else if (info->dataNames.size() > size) {
            info->dataNames.resize(size);
        }
    }
    const std::int32_t n = t.NumberFieldCount();
    const std::int32_t s = t.StringFieldCount();
    for (auto& e : t.entries) {
        e.numbers.resize(static_cast<std::size_t>(n));
        e.strings.resize(static_cast<std::size_t>(s));
    }
    const std::int32_t fields = std::min<std::int32_t>(n + s, FieldCount(type));
    for (std::int32_t k = old; k < count; ++k) {
        for (std::int32_t i = 0; i < fields; ++i) {
            if (FieldClass(t.fieldKinds[static_cast<std::size_t>(i)]) != kFieldClassNumber) {
                continue;
            }
            WriteNumber(type, k, i, info ? info->InitialValue(i) : 0);
        }
    }
}

void Game_Database::SetTypeCount(std::int32_t count) {
    if (count < 0) count = 0;
    const auto size = static_cast<std::size_t>(count);
    if (types.size() < size) {
        while (types.size() < size) {
            types.emplace_back();
            if (typeInfos.size() < types.size()) typeInfos.emplace_back();
            ResizeType(TypeCount() - 1, 1);
        }
    } else {
        types.resize(size);
        if (typeInfos.size() > size) typeInfos.resize(size);
    }
}

void Game_Database::MigrateTypeFields(std::int32_t type, const std::vector<std::int32_t>& classes,
                                      std::int32_t fieldCount,
                                      const std::vector<std::int32_t>& initialValues) {
    if (!InRange(type, types) || fieldCount < 0) return;
    auto& t = types[static_cast<std::size_t>(type)];
    const auto count = static_cast<std::size_t>(fieldCount);
    const std::size_t old = t.fieldKinds.size();
    t.fieldKinds.resize(count, 0);
    if (InRange(type, typeInfos)) {
        auto& info = typeInfos[static_cast<std::size_t>(type)];
        info.fieldNames.resize(count);
        info.fieldStringLists.resize(count);
        info.fieldNumberLists.resize(count);
        info.fieldTexts.resize(count);
        info.initialValues.resize(count);
    }
    auto classOf = [&](std::size_t i) { return i < classes.size() ? classes[i] : 0; };
    std::int32_t nextNumber = kNumberFieldBase, nextString = kStringFieldBase;
    for (std::size_t i = 0; i < count; ++i) {
        if (classOf(i) == kFieldClassNumber) t.fieldKinds[i] = nextNumber++;
        if (classOf(i) == kFieldClassString) t.fieldKinds[i] = nextString++;
    }
    for (auto& e : t.entries) {
        for (std::size_t i = old; i < count; ++i) {
            if (classOf(i) == kFieldClassNumber) {
                e.numbers.push_back(i < initialValues.size() ? initialValues[i] : 0);
            } else if (classOf(i) == kFieldClassString) {
                e.strings.emplace_back();
            }
        }
    }
}

namespace {

Game_Database& DatabaseOfSlot(int slot) {
    switch (slot) {
        case kNameIndexVariable:
            return TheVariableDatabase;
        case kNameIndexSystem:
            return TheSystemDatabase;
        default:
            return TheUserDatabase;
    }
}

}  // namespace

void BuildDatabaseNameIndex() {
    for (Game_Database* db : {&TheSystemDatabase, &TheUserDatabase, &TheVariableDatabase}) {
        db->systemDatabase = &TheSystemDatabase;
        db->userDatabase = &TheUserDatabase;
        db->variableDatabase = &TheVariableDatabase;
    }
    for (int slot = 0; slot < 3; ++slot) {
        const Game_Database& db = DatabaseOfSlot(slot);
        DatabaseNameSlot& index = DatabaseNameIndex[static_cast<std::size_t>(slot)];
        const std::int32_t typeCount = db.TypeCount();
        index.typeNames.clear();
        index.dataNames.assign(static_cast<std::size_t>(typeCount), {});
        index.fieldNames.assign(static_cast<std::size_t>(typeCount), {});
        for (std::int32_t t = typeCount - 1; t >= 0; --t) {
            index.typeNames[db.TypeName(t)] = t;
            auto& dataNames = index.dataNames[static_cast<std::size_t>(t)];
            for (std::int32_t d = db.DataCount(t) - 1; d >= 0; --d)
                dataNames[db.DataName(t, d)] = d;
            auto& fieldNames = index.fieldNames[static_cast<std::size_t>(t)];
            for (std::int32_t f = db.FieldCount(t) - 1; f >= 0; --f) {
                fieldNames[db.FieldName(t, f)] = f;
            }
        }
    }
}

void ShiftDatabaseNameIndex(int index, std::int32_t type, std::int32_t position,
                            std::int32_t count) {
    if (index < 0 || index > 2 || count == 0) return;
    auto& maps = DatabaseNameIndex[static_cast<std::size_t>(index)].dataNames;
    if (!InRange(type, maps)) return;
    const std::int64_t end = static_cast<std::int64_t>(position) - count;  // count < 0 only
    for (auto& [name, number] : maps[static_cast<std::size_t>(type)]) {
        if (number < position) continue;
        if (count > 0) {
            number += count;
        } else if (number < end) {
            number = -1;
        } else {
            number += count;
        }
    }
}
