// The game's basic settings from "BasicData/Game.dat".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The version of this player, times 100; data of a newer editor gets a warning.
inline constexpr std::int32_t kRuntimeDataVersion = 314;
inline constexpr std::size_t kBasicDataTextLimit = 1024;

class Game_BasicData {
  public:
    std::vector<std::uint8_t> settingBytes;
    std::vector<std::int16_t> settingNumbers;
    std::vector<std::string> settingTexts;
    // -1 until a file was read, then 1 for UTF-8 text and 0 for code-page text.
    std::int32_t utf8 = -1;

    Game_BasicData();
    // Sizes the lists (35 bytes, 22 numbers, 13 texts) and sets every default.
    void SetDefaults();

    std::int32_t IsUtf8() const { return utf8; }

    std::uint8_t TileSize() const { return settingBytes[0]; }
    std::uint8_t CharacterDirections() const { return settingBytes[1]; }
    std::uint8_t MovementDirections() const { return settingBytes[2]; }
    bool UsesMidi() const { return settingBytes[3] == 1; }
    std::uint8_t FrameRate() const { return settingBytes[4]; }
    std::uint8_t CharacterSpriteSetting() const { return settingBytes[5]; }
    std::uint8_t MidiPlayerSetting() const { return settingBytes[6]; }
    std::uint8_t CharacterPatternCount() const { return settingBytes[7]; }
    std::uint8_t StepLengthSetting() const { return settingBytes[8]; }
    bool UsesExtendedHitBox() const { return settingBytes[9] == 1; }
    std::uint8_t CharacterSet() const { return settingBytes[17]; }
    bool RunsWhileInactive() const { return settingBytes[19] == 1; }
    std::uint8_t UiLanguageSetting() const { return settingBytes[20]; }
    std::uint8_t ScreenSizeSwitch() const { return settingBytes[21]; }
    std::uint8_t DisplayScale() const { return settingBytes[32]; }
    std::uint8_t StartUpScreenSetting() const { return settingBytes[33]; }
    std::uint8_t AnimationCycleSetting() const { return settingBytes[34]; }

    // Move speed s (0..6): the step in quarter pixels per frame for the player and followers, or
    // for every other character.
    std::int16_t MoveStep(int speed, bool player) const {
        return settingNumbers[static_cast<std::size_t>(2 * speed + (player ? 1 : 2))];
    }
    std::int16_t GameDataVersion() const { return settingNumbers[15]; }
    std::int16_t ScreenWidth() const { return settingNumbers[16]; }
    std::int16_t ScreenHeight() const { return settingNumbers[17]; }
    std::int16_t EditorVersion() const { return settingNumbers[18]; }

    const std::string& Title() const { return settingTexts[0]; }
    const std::string& PlayerGraphic() const { return settingTexts[7]; }

    bool operator==(const Game_BasicData&) const = default;
};

// The one record of the running game.
extern Game_BasicData TheBasicData;

// Reads "Game.dat" at `path` into `data` (defaults to the global record); 1 on success, 0 on
// failure. With `showMessages` false no message box is shown. Sets GameCharSetIndex and
// UiLanguage.
int ReadBasicData(const std::string& path, bool showMessages, Game_BasicData& data = TheBasicData);

// Parses the "Game.dat" already loaded into TheDataFileBuffer (path for reports only).
int ParseBasicData(Game_BasicData& data, const std::string& path, bool showMessages);
