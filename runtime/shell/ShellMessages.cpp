#include "runtime/shell/ShellMessages.h"

#include <atomic>
#include <cstdio>

#include "runtime/shell/TextConversion.h"

namespace {
std::atomic<ShellMessageBoxHandler> messageBoxHandler{nullptr};
}  // namespace

void ShowShellMessageBox(const std::u16string& text, const std::u16string& caption) {
    if (ShellMessageBoxHandler handler = messageBoxHandler.load()) {
        handler(text, caption);
        return;
    }
    std::string captionUtf8 = ConvertWideToUtf8(caption.c_str());
    std::string textUtf8 = ConvertWideToUtf8(text.c_str());
    std::fprintf(stderr, "[%s] %s\n", captionUtf8.c_str(), textUtf8.c_str());
}

ShellMessageBoxHandler SetShellMessageBoxHandler(ShellMessageBoxHandler handler) {
    return messageBoxHandler.exchange(handler);
}
