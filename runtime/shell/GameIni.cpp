#include "runtime/shell/GameIni.h"

#include <climits>
#include <cstdio>
#include <vector>

#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/LibraryFile.h"
#include "runtime/shell/ShellMessages.h"
#include "runtime/shell/StringUtil.h"
#include "runtime/shell/TextConversion.h"

GameIniValues GameIniSettings;

namespace {

std::int32_t ReadInteger(std::string_view text) {
    return ReadLeadingInt32(text);
}

// A text value runs to the character before the next line feed (the CR of a CR LF line end), or
// to one character before the end of the text. A line feed right after the key gives nothing.
std::string TextValue(std::string_view text, std::size_t valueStart) {
    std::size_t end = text.find('\n', valueStart);
    if (end == std::string_view::npos) end = text.size();
    if (end < valueStart + 1) return {};
    return std::string(text.substr(valueStart, end - 1 - valueStart));
}

}  // namespace

void ParseGameIniText(std::string_view original, std::int32_t& start, std::int32_t& softModeFlag,
                      std::int32_t& windowModeFlag, std::int32_t& seAndBgm,
                      std::int32_t& frameSkip) {
    std::string text;
    text.reserve(original.size());
    for (char c : original) {
        if (c != ' ') text += c;
    }
    const std::string_view all(text);
    auto find = [&](std::string_view key, std::size_t& valueStart) {
        std::size_t at = all.find(key);
        if (at == std::string_view::npos) return false;
        valueStart = at + key.size();
        return true;
    };
    auto number = [&](std::string_view key, std::size_t count, std::int32_t fallback) {
        std::size_t at;
        return find(key, at) ? ReadInteger(all.substr(at, count)) : fallback;
    };

    std::size_t at;
    if (find("Start=", at)) {
        // Up to the text's first line feed; when that lies before the key, the rest of the text.
        std::size_t firstLineFeed = all.find('\n');
        std::size_t count = firstLineFeed != std::string_view::npos && firstLineFeed >= at
                                ? firstLineFeed - at
                                : std::string_view::npos;
        start = ReadInteger(all.substr(at, count));
    } else {
        start = 0;
    }
    softModeFlag = number("SoftModeFlag=", 1, 0);
    windowModeFlag = number("WindowModeFlag=", 2, 1);
    seAndBgm = number("SEandBGM=", 1, 3);
    frameSkip = number("FrameSkip=", 1, 0);
    GameIniValues& s = GameIniSettings;
    s.ProxyHost = find("Proxy=", at) ? TextValue(all, at) : std::string();
    s.ProxyPort = find("ProxyPort=", at) ? TextValue(all, at) : std::string();
    s.ScreenShotEnabled = number("ScreenShotFlag=", 1, 1);
    s.F12ResetEnabled = number("F12_Reset=", 1, 1);
    s.Display_Number = number("Display_Number=", 1, 0);
    s.Old_DirectX_Use = number("Old_DirectX_Use=", 1, 0);
    s.ClipboardEnabled = number("ClipBoard_Use=", 1, 1);
    s.MainTextToClipboard = number("MainText_to_ClipBoard=", 1, 0);
    s.SelectedTextToClipboardF2 = number("SelectedText_to_ClipBoard_F2=", 1, 0);
}

int ReadGameIniFile(const char* path, std::int32_t& start, std::int32_t& softModeFlag,
                    std::int32_t& windowModeFlag, std::int32_t& seAndBgm, std::int32_t& frameSkip) {
    std::vector<std::uint8_t> bytes;
    ReadLibraryFile(path ? path : "", bytes, kGameIniReadLimit);
    const std::string text(bytes.begin(), bytes.end());
    ParseGameIniText(text, start, softModeFlag, windowModeFlag, seAndBgm, frameSkip);
    return 1;
}

int ReadGameIni(std::int32_t& start, std::int32_t& softModeFlag, std::int32_t& windowModeFlag,
                std::int32_t& seAndBgm, std::int32_t& frameSkip) {
    std::string path = GetExeFolderUtf8() + "Game.ini";
    return ReadGameIniFile(path.c_str(), start, softModeFlag, windowModeFlag, seAndBgm, frameSkip);
}

std::string FormatGameIniText(std::int32_t start, std::int32_t frameSkip) {
    static constexpr char16_t kTemplate[] =
        u"Start=%d\nSoftModeFlag=%d\nWindowModeFlag=%d\n"
        u"SEandBGM=%d  # 0:SE\uFF65BGMなし 1:SEのみ 2:BGMのみ 3:SE+BGMあり\n"
        u"FrameSkip=%d\nProxy=%s\nProxyPort=%s\nScreenShotFlag=%d\nF12_Reset=%d\n"
        u"Display_Number=%d\nOld_DirectX_Use=%d\nClipBoard_Use=%d\nMainText_to_ClipBoard=%d\n"
        u"SelectedText_to_ClipBoard_F2=%d\n";
    // The file's layout must survive a language the dictionary has no texts for: written as the
    // miss text, the player's settings would be lost.
    std::string format = TranslateMessageUtf8(kTemplate);
    if (format == kMessageErrorString) format = ConvertWideToUtf8(kTemplate);
    const GameIniValues& s = GameIniSettings;
    auto print = [&](char* out, std::size_t size) {
        return std::snprintf(out, size, format.c_str(), start, s.SoftModeFlag, s.WindowModeFlag,
                             s.SEandBGM, frameSkip, s.ProxyHost.c_str(), s.ProxyPort.c_str(),
                             s.ScreenShotEnabled, s.F12ResetEnabled, s.Display_Number,
                             s.Old_DirectX_Use, s.ClipboardEnabled, s.MainTextToClipboard,
                             s.SelectedTextToClipboardF2);
    };
    int size = print(nullptr, 0);
    if (size <= 0) return {};
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    print(text.data(), text.size());
    text.resize(static_cast<std::size_t>(size));
    return text;
}

int WriteGameIniFile(const char* path, std::int32_t start, std::int32_t frameSkip) {
    if (WriteTextModeFile(path, FormatGameIniText(start, frameSkip))) return 1;
    std::string caption = TranslateMessageUtf8(u"書き込みエラー");
    std::string message = TranslateMessageUtf8(
        u"Game.iniに書き込めませんでした。\r\nアクセス権限などをご確認下さい。");
    ShowShellMessageBox(ConvertUtf8ToWide(message.c_str()), ConvertUtf8ToWide(caption.c_str()));
    return 0;
}

int WriteGameIni(std::int32_t start, std::int32_t frameSkip) {
    std::string path = GetExeFolderUtf8() + "Game.ini";
    return WriteGameIniFile(path.c_str(), start, frameSkip);
}
