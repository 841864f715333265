// The variable operation command (SetVariable, 121) and the key-input command (KeyInput, 123).
//
// SetVariable computes a value from two operands by a calculation operator and combines it with
// the destination by an assignment operator, in integer or real-number mode, with indirect
// operands and destinations and a range of destinations; a destination that names a text joins
// texts instead. A command the compile pass prepared (jump line 0 is 1 or 2) runs on the cells it
// resolved, in plain 32-bit arithmetic.
//
// Everywhere a division or remainder meets INT_MIN and -1 it gives INT_MIN and 0 instead of
// trapping, and calculation operators 7 to 15 give 0.
#pragma once

#include <cstdint>
#include <string>

class Game_Interpreter;

bool CommandSetVariable(Game_Interpreter& interpreter);
bool CommandKeyInput(Game_Interpreter& interpreter);

// Registers the two handlers and the input evaluation of a waiting KeyInput.
void InstallVariableCommands();

// Settings bits of SetVariable (argument 4).
namespace set_variable {
inline constexpr std::int32_t kSixDigits = 0x1;
inline constexpr std::int32_t kRealNumber = 0x2;
inline constexpr std::int32_t kLeftLiteral = 0x4;
inline constexpr std::int32_t kRightLiteral = 0x8;
inline constexpr std::int32_t kIndirectDestination = 0x10;
inline constexpr std::int32_t kIndirectLeft = 0x20;
inline constexpr std::int32_t kIndirectRight = 0x40;
inline constexpr std::int32_t kRange = 0x10000;
inline constexpr std::int32_t kAssignmentShift = 8;
inline constexpr std::int32_t kCalculationShift = 12;
// The destination id that names a variable-database cell given by arguments 5, 6 and 7.
inline constexpr std::int32_t kVariableDatabaseDestination = 1100000000;
}  // namespace set_variable

// The leading decimal number of a text as the C library's atoi reads it (blanks, a sign, digits),
// held to the 32-bit range; 0 when the text does not start with a number.
std::int32_t LeadingNumber(const std::string& text);
