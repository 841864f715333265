// The edges of the data-file readers: reading a whole file, moving a damaged file aside, turning
// stored code-page text into UTF-8, and the few services (message boxes, runtime-error reports,
// ending the program) that the readers call when something is wrong. Each edge is one small
// function, so that the readers themselves only ever see bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reads the whole file at `path` into `bytes` (replacing what it held). False when the file cannot
// be opened or read; `bytes` is then empty.
bool ReadWholeDataFile(const std::string& path, std::vector<std::uint8_t>& bytes);

// Moves `from` to `to` only when nothing exists at `to`; never replaces an existing file. False
// when the move did not happen (the target exists, the source is missing, the medium is
// read-only...).
bool RenameWithoutReplacing(const std::string& from, const std::string& to);

// How many names a damaged file is offered: path + ".broken", then one more "x" for each retry.
inline constexpr int kDamagedFileRenameAttempts = 32;

// Moves a damaged file to `path` + ".broken" (+ "x" while that name is taken, at most
// kDamagedFileRenameAttempts names). Returns the name it now has, or empty when it could not be
// moved (an empty `path` names no file and is never moved).
std::string MoveDamagedFile(const std::string& path);

// The locale strings of the game's character sets; the number after '.' is the code page.
inline constexpr int kGameCharSetCount = 7;
extern const char* const GameCodePageLocales[kGameCharSetCount];
// The game's character-set index (0..6) into GameCodePageLocales; set when "Game.dat" is read.
extern std::int32_t GameCharSetIndex;

// The locale string of the game's character set (an index outside the table counts as 1).
const char* GameCodePageLocale();
// Converts `text`, stored in the game's code page, to UTF-8.
std::string ConvertGameTextToUtf8(std::string_view text);

// What the readers need from the rest of the program. The default message box is the shell's; the
// default report prints to the standard error stream, and the default exit ends the program. The
// shell installs the real error report, and tests install recorders.
struct DataFileServices {
    // A message box with no owner whose answer is not used. Texts are UTF-8.
    void (*showMessageBox)(const std::string& text, const std::string& caption);
    // A runtime-error report of three UTF-8 lines, pending saves written first.
    void (*reportRuntimeError)(const std::string& line1, const std::string& line2,
                               const std::string& line3);
    // The location of the running script, for reports.
    std::string (*scriptLocation)();
    // Ends the program after a damaged file was reported. When it returns (tests, the fuzzer), the
    // reader gives up on the file and returns failure.
    void (*exitProgram)(int code);
    // A data file failed its check or could not be parsed. The player's default moves it to its
    // ".broken" name, reports that and ends the program (MoveAsideAndReportDamagedFile); a tool
    // that must never change its input puts its own here. When it returns, the reader gives up on
    // the file and returns failure.
    void (*damagedFile)(const std::string& path);
};

DataFileServices& GetDataFileServices();
// Puts back the defaults.
void ResetDataFileServices();
