// The message box of the shell services.
#pragma once

#include <string>

// Shows a message box with an OK button and no owner. Until the window layer exists the message
// goes to the standard error stream; a handler installed here receives it instead (for tests).
using ShellMessageBoxHandler = void (*)(const std::u16string& text, const std::u16string& caption);
void ShowShellMessageBox(const std::u16string& text, const std::u16string& caption);
ShellMessageBoxHandler SetShellMessageBoxHandler(ShellMessageBoxHandler handler);
