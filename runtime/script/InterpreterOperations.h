// Operations of the interpreter that several command groups share: handing a text to the message
// window and filling the choice window, reading the input a KeyInput command asks for, the clamps
// of the variable calculations, and the tile-number conversions of the map commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/data/EventData.h"

class Game_Interpreter;

// Numeric argument n of a command (argument 0 is the code); 0 when the command has fewer.
std::int32_t CommandArgument(const Game_EventCommand& command, std::size_t n);
// A message format with its first "%d" replaced by the value.
std::string FormatNumberMessage(const char* format, std::int32_t value);

// Makes the interpreter wait for the message window and hands the window its text.
void StartMessage(Game_Interpreter& interpreter, const std::string& text);

// Fills the choice window from a choice command and makes the interpreter wait for the choice.
// When every choice text expands to nothing no window opens: the cancel case is delivered at once
// and the result is false; otherwise true.
bool StartChoices(Game_Interpreter& interpreter, const Game_EventCommand& command);

// Reads the input the KeyInput command asks for (the current command, or while waiting for input
// the one on the line before) into its target variable. Not waiting, the value is written even
// when it is 0; waiting, a 0 keeps the interpreter waiting and any other value is written and ends
// the wait. Nothing happens while a save was just loaded or a line input is in use.
void EvaluateInput(Game_Interpreter& interpreter);

// The input kinds of KeyInput's settings (bits 8..11).
enum class KeyInputKind : std::int32_t {
    Buttons = 0,
    Keyboard = 1,
    Pad = 2,
    Mouse = 3,
    Sticks = 4,
    Hat = 5,
    Touch = 6,
};

// The touch points of the current frame. Defaults: the library's input module.
struct TouchInput {
    int (*count)();
    int (*point)(int index, int* x, int* y, int* id, int* device, int* time);
};
TouchInput& GetTouchInput();
void ResetTouchInput();

// The calculation result limited to -2,000,000,000..2,000,000,000.
std::int32_t ClampCalculation(std::int64_t value);
// When on, the value limited to -999,999..999,999; else the value.
std::int32_t ClampSixDigits(bool on, std::int32_t value);

// Converts a tile number between the map file's numbering and that of older game data: direction
// 1 to the old numbering, -1 back (-1 for numbers the old data cannot hold). Current data (UTF-8,
// version 230 or later) keeps the number.
std::int32_t ConvertTileNumber(std::int32_t number, std::int32_t direction);

// The four-digit autotile part code of a cell from its 3 x 3 neighbourhood in reading order (index
// 4 is the cell itself), each non-zero when that neighbour joins the cell.
std::int32_t ComputeAutotilePartCode(const std::uint8_t neighbours[9]);
