// The few user-visible texts of the shell services and the message box that shows them.
#pragma once

#include <string>

// The text of a Japanese message literal in the language of UiLanguage, as UTF-8; a text that is
// not known gives "<ERROR STRING>", as the message dictionary does.
std::string TranslateShellMessage(const char16_t* japanese);

// Shows a message box with an OK button and no owner. Until the window layer exists the message
// goes to the standard error stream; a handler installed here receives it instead (for tests).
using ShellMessageBoxHandler = void (*)(const std::u16string& text, const std::u16string& caption);
void ShowShellMessageBox(const std::u16string& text, const std::u16string& caption);
ShellMessageBoxHandler SetShellMessageBoxHandler(ShellMessageBoxHandler handler);
