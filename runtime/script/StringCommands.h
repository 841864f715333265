// The string operation command: takes a text from a literal, a variable or a string-input box,
// applies one of its operations (set, append, cut lines and characters, search, remove and
// replace, read and write text files, list a folder, answer a query token) and stores the result
// in a variable. It is the only way a script reads or writes text files, and every file it names
// stays inside the game folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Game_Interpreter;

inline constexpr std::int32_t kStringOperationCode = 122;

bool CommandStringOperation(Game_Interpreter& interpreter);

// What the command reaches of the library: files through the file layer (so that archives count),
// sound lengths and the string-input box. By default the library's own; tests may put doubles in.
struct StringOperationServices {
    // The whole file; false when it cannot be opened.
    bool (*readFile)(const std::string& path, std::vector<std::uint8_t>& bytes);
    // Whether a search on the pattern finds an entry.
    bool (*fileExists)(const std::string& pattern);
    // The length in milliseconds of the sound file, or -1 when it cannot be loaded.
    std::int64_t (*soundLengthMs)(const std::string& path);
    // The string-input box: its font, a new line input (0 or less when none could be made), its
    // first text, and the IME.
    void (*setInputFont)(int size, const std::string& face, int thickness, int fontType);
    std::int32_t (*createLineInput)(int maximumLength, int cancelAllowed);
    void (*activateLineInput)(std::int32_t handle);
    void (*setLineInputText)(std::int32_t handle, const std::string& text);
    void (*enableIme)(int flag);
};
StringOperationServices& GetStringOperationServices();
void ResetStringOperationServices();

// Plugs the handler into the dispatcher's table.
void InstallStringCommands();
