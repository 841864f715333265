#include "runtime/shell/ShellMessages.h"

#include <atomic>
#include <cstdio>
#include <string_view>

#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/TextConversion.h"

namespace {

struct MessageRow {
    std::u16string_view japanese;
    std::string_view english;
};

// clang-format off
constexpr MessageRow kMessages[] = {
    {u"Start=%d\nSoftModeFlag=%d\nWindowModeFlag=%d\n"
     u"SEandBGM=%d  # 0:SE\uFF65BGMなし 1:SEのみ 2:BGMのみ 3:SE+BGMあり\n"
     u"FrameSkip=%d\nProxy=%s\nProxyPort=%s\nScreenShotFlag=%d\nF12_Reset=%d\nDisplay_Number=%d\n"
     u"Old_DirectX_Use=%d\nClipBoard_Use=%d\nMainText_to_ClipBoard=%d\n"
     u"SelectedText_to_ClipBoard_F2=%d\n",
     "Start=%d\nSoftModeFlag=%d\nWindowModeFlag=%d\n"
     "SEandBGM=%d  # 0:No Sound 1:Only SE 2:Only BGM 3:SE+BGM ON\n"
     "FrameSkip=%d\nProxy=%s\nProxyPort=%s\nScreenShotFlag=%d\nF12_Reset=%d\nDisplay_Number=%d\n"
     "Old_DirectX_Use=%d\nClipBoard_Use=%d\nMainText_to_ClipBoard=%d\n"
     "SelectedText_to_ClipBoard_F2=%d\n"},
    {u"Game.iniに書き込めませんでした。\r\nアクセス権限などをご確認下さい。",
     "Cannot write to Game.ini \r\nCheck Access Permission settings."},
    {u"%sに書き込めませんでした。\r\nアクセス権限などをご確認下さい。",
     "Unable to write to %s\r\nPlease check access permissions."},
    {u"書き込みエラー", "Writing Error"},
};
// clang-format on

std::atomic<ShellMessageBoxHandler> messageBoxHandler{nullptr};

}  // namespace

std::string TranslateShellMessage(const char16_t* japanese) {
    std::u16string_view key(japanese);
    for (const MessageRow& row : kMessages) {
        if (row.japanese != key) continue;
        if (UiLanguage == 0) return ConvertWideToUtf8(japanese);
        return std::string(row.english);
    }
    return "<ERROR STRING>";
}

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
