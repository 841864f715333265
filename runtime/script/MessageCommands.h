// The commands that talk to the player and to the tester: Message (101) and Choices (102) hand
// their texts to the windows, DebugText (106) writes to the debug window, shows a message box or
// starts and stops watches, AutoInput (125) presses buttons, keys and mouse buttons for the next
// input update, and InputEnable (126) switches inputs on and off. The string-input box that the
// string operation command opens is drawn here too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Game_Interpreter;

bool CommandMessage(Game_Interpreter& interpreter);
bool CommandChoices(Game_Interpreter& interpreter);
bool CommandDebugText(Game_Interpreter& interpreter);
bool CommandAutoInput(Game_Interpreter& interpreter);
bool CommandInputEnable(Game_Interpreter& interpreter);

// Draws the string-input box of the deepest first child of the interpreter when that one has an
// open line input (called once per drawn frame for every interpreter that can hold one).
void DrawStringInputBox(Game_Interpreter& interpreter);

// The typed text of a finished line input, read into a buffer of kStringInputBufferSize bytes
// whose size the line input is told, so that a longer text is cut, never written past it.
std::string ReadLineInputText(std::int32_t handle);
// Room for the longest string input (5,000 characters of up to four bytes) and its terminator.
inline constexpr std::size_t kStringInputBufferSize = 5000 * 4 + 1;

// The line-input and font services the string-input box uses: by default the library's own; a
// test may put its doubles in their place.
struct LineInputServices {
    // 17 colours; -1 leaves a colour unchanged.
    int (*setLineInputColors)(const std::int64_t colours[17]);
    int (*drawLineInput)(int x, int y, int handle, int displayFlag);
    // Copies the text into the buffer, at most size bytes with its terminator; 0, or -1 for a
    // bad handle.
    int (*getLineInputText)(int handle, char* buffer, std::size_t size);
    int (*setDefaultFontType)(int fontType);
    std::uint32_t (*composeScreenColor)(int red, int green, int blue);
};
LineInputServices& GetLineInputServices();
void ResetLineInputServices();

// Registers the five handlers, the string-input box and the line-input text reader.
void InstallMessageCommands();
