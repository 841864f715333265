// "Game.ini": the player's own settings beside the executable (display, sound, clipboard, the
// drawing frame-skip level, the download proxy) and the "Start=" value that reveals a start that
// never completed. Its configuration program edits the same file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// One value per key of the file, with the defaults that a missing key takes.
struct GameIniValues {
    std::int32_t SoftModeFlag = 0;    // 1: no Direct3D device, software drawing
    std::int32_t WindowModeFlag = 1;  // 1 window, 0 full screen
    std::int32_t SEandBGM = 3;        // 0 no sound, 1 SE only, 2 BGM only, 3 both
    std::int32_t FrameSkip = 0;       // drawing frame-skip level 0..2
    std::string ProxyHost;
    std::string ProxyPort;
    std::int32_t ScreenShotEnabled = 1;
    std::int32_t F12ResetEnabled = 1;
    std::int32_t Display_Number = 0;   // 0 the display under the mouse, n display n
    std::int32_t Old_DirectX_Use = 0;  // 1 forbids Direct3D 11
    std::int32_t ClipboardEnabled = 1;
    std::int32_t MainTextToClipboard = 0;
    std::int32_t SelectedTextToClipboardF2 = 0;
};

// The process's settings. WriteGameIni writes these; ReadGameIni stores the settings after the
// first five here and hands the first five to its caller, which passes these fields (or its own
// variables that it copies here).
extern GameIniValues GameIniSettings;

// The file's largest size that is read; the rest of a larger file is ignored.
inline constexpr std::size_t kGameIniReadLimit = 5000;

// Reads the executable folder's "Game.ini". A missing file gives every default. Returns 1.
int ReadGameIni(std::int32_t& start, std::int32_t& softModeFlag, std::int32_t& windowModeFlag,
                std::int32_t& seAndBgm, std::int32_t& frameSkip);
// The same from a given file.
int ReadGameIniFile(const char* path, std::int32_t& start, std::int32_t& softModeFlag,
                    std::int32_t& windowModeFlag, std::int32_t& seAndBgm, std::int32_t& frameSkip);
// The same from the file's text.
void ParseGameIniText(std::string_view text, std::int32_t& start, std::int32_t& softModeFlag,
                      std::int32_t& windowModeFlag, std::int32_t& seAndBgm,
                      std::int32_t& frameSkip);

// The file's text (line feeds only) from the current settings with the given start value and
// frame-skip level; the comment follows UiLanguage.
std::string FormatGameIniText(std::int32_t start, std::int32_t frameSkip);

// Writes the executable folder's "Game.ini" with CR LF line ends. Returns 1, or 0 after a message
// box when the file cannot be written.
int WriteGameIni(std::int32_t start, std::int32_t frameSkip);
int WriteGameIniFile(const char* path, std::int32_t start, std::int32_t frameSkip);
