// The event commands of the databases: reading a cell, a name, a number or a count of any database
// into a variable and writing into a cell of the variable database (250); exporting and importing
// a range of entries as a CSV file (251); inserting, removing and copying entries of the variable
// database (252).
#pragma once

#include <cstdint>
#include <string>

class Game_Interpreter;

inline constexpr std::int32_t kDatabaseCommandCode = 250;
inline constexpr std::int32_t kDatabaseCsvCommandCode = 251;
inline constexpr std::int32_t kDatabaseInsertRemoveCommandCode = 252;

// The cell ids of the three databases: base + type x 1,000,000 + data x 100 + field.
inline constexpr std::int64_t kUserDatabaseCellBase = 1000000000;
inline constexpr std::int64_t kVariableDatabaseCellBase = 1100000000;
inline constexpr std::int64_t kSystemDatabaseCellBase = 1300000000;

// The fields of a database command's settings word (numeric argument 4).
namespace database_command {
inline constexpr std::int32_t kSourceMask = 0xF;
inline constexpr int kOperatorShift = 4;
inline constexpr int kDatabaseShift = 8;
inline constexpr int kModeShift = 12;
inline constexpr std::int32_t kTypeByName = 1 << 16;
inline constexpr std::int32_t kDataByName = 1 << 17;
inline constexpr std::int32_t kFieldByName = 1 << 18;
inline constexpr std::int32_t kAnyNameFlag = 0xF << 16;
}  // namespace database_command

// A field name with every "\d[n]" replaced by the decimal text of n + offset; a "\d[" that is
// never closed is removed.
std::string ExpandFieldNumberCodes(std::string name, std::int32_t offset);

bool CommandDatabase(Game_Interpreter& interpreter);
bool CommandDatabaseCsv(Game_Interpreter& interpreter);
bool CommandDatabaseInsertRemove(Game_Interpreter& interpreter);

// Plugs the three handlers into the dispatcher's table.
void InstallDatabaseCommands();
