#include "runtime/shell/ShellMessages.h"

#include <atomic>

#include "platform/User32.h"

namespace {
std::atomic<ShellMessageBoxHandler> messageBoxHandler{nullptr};
}  // namespace

void ShowShellMessageBox(const std::u16string& text, const std::u16string& caption) {
    if (ShellMessageBoxHandler handler = messageBoxHandler.load()) {
        handler(text, caption);
        return;
    }
    // Without a display the platform writes the box to standard error and answers at once.
    platform::user32::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

ShellMessageBoxHandler SetShellMessageBoxHandler(ShellMessageBoxHandler handler) {
    return messageBoxHandler.exchange(handler);
}
