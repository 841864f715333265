#include "fuzz/DatabaseCsvFuzzEntry.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_Database.h"

namespace {

void Check(bool holds) {
    if (!holds) std::abort();
}

constexpr std::int32_t kEntries = 6;

// One type: two numbers and two texts, in mixed order.
Game_Database MakeDatabase() {
    Game_Database db(Game_Database::QuietConstruction{});
    db.kind = kVariableDatabase;
    db.types.resize(1);
    db.typeInfos.resize(1);
    Game_DatabaseType& t = db.types[0];
    t.fieldKinds = {kNumberFieldBase, kStringFieldBase, kNumberFieldBase + 1, kStringFieldBase + 1};
    t.entries.assign(kEntries, Game_DatabaseEntry{{0, 0}, {"", ""}});
    db.typeInfos[0].fieldNames = {"a", "b", "c", "d"};
    db.typeInfos[0].dataNames.assign(kEntries, "");
    return db;
}

bool LayoutHolds(const Game_Database& db) {
    for (const Game_DatabaseEntry& e : db.types[0].entries) {
        if (e.numbers.size() != 2 || e.strings.size() != 2) return false;
    }
    return true;
}

struct QuietServices {
    DataFileServices saved = GetDataFileServices();
    QuietServices() {
        DataFileServices& s = GetDataFileServices();
        s.showMessageBox = [](const std::string&, const std::string&) {};
        s.reportRuntimeError = [](const std::string&, const std::string&, const std::string&) {};
        s.scriptLocation = []() { return std::string(); };
        s.exitProgram = [](int) {};
        s.damagedFile = [](const std::string&) {};
    }
    ~QuietServices() { GetDataFileServices() = saved; }
};

}  // namespace

int RunDatabaseCsvFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    QuietServices quiet;
    const std::int32_t first = data[0] & 15;
    const std::int32_t count = data[1] == 0 ? 1000 : data[1];
    // The reader sees the file with the zero byte that ends it, as the import hands it over.
    std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    text += '\0';

    Game_Database db = MakeDatabase();
    const std::int32_t rows = ParseDatabaseCsv(db, text, 0, first, count, false);
    Check(rows >= 0 && rows <= count);
    Check(db.types[0].entries.size() == kEntries);
    if (rows > 0 && rows + first >= db.DataCount(0)) db.ResizeType(0, rows + first);
    const std::int32_t entries = db.DataCount(0);
    Check(ParseDatabaseCsv(db, text, 0, first, count, true) == rows);
    Check(db.DataCount(0) == entries);
    Check(LayoutHolds(db));

    // What was read comes back through an export and a second import.
    const std::string exported = FormatDatabaseCsv(db, 0, 0, entries);
    Game_Database again = MakeDatabase();
    again.ResizeType(0, entries);
    const bool plainTexts = std::none_of(
        db.types[0].entries.begin(), db.types[0].entries.end(), [](const Game_DatabaseEntry& e) {
            return std::any_of(e.strings.begin(), e.strings.end(), [](const std::string& s) {
                return s.find('\x01') != std::string::npos || s.find('\0') != std::string::npos;
            });
        });
    if (plainTexts) {
        Check(ParseDatabaseCsv(again, exported + '\0', 0, 0, entries, true) == entries);
        for (std::int32_t d = 0; d < entries; ++d) {
            Check(again.types[0].entries[static_cast<std::size_t>(d)].numbers ==
                  db.types[0].entries[static_cast<std::size_t>(d)].numbers);
        }
    }
    return 0;
}
