// The message box of the shell services.
#pragma once

#include <string>

// Shows a message box with an OK button and no owner (MessageBoxW; without a display its text goes
// to standard error at once). A handler installed here receives it instead (for tests).
using ShellMessageBoxHandler = void (*)(const std::u16string& text, const std::u16string& caption);
void ShowShellMessageBox(const std::u16string& text, const std::u16string& caption);
ShellMessageBoxHandler SetShellMessageBoxHandler(ShellMessageBoxHandler handler);
