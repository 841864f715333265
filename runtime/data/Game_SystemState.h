// The system state of a running game: everything that is neither a variable, a database cell, a
// map nor a character. The main event interpreter, the drawing frame-skip factor, the screen tone
// and flash, two sets of full-screen image filters (the screen effects) with the off-screen graph
// they are drawn through, two captured screens, the current BGM and BGS, panorama and fog,
// message and choice window settings, the key configuration of the game buttons, the screen
// transition, the user font names, and the many values that the game reads and writes as system
// variables and system strings.
//
// One instance is the live one; every save snapshot holds another, written to and read from the
// save stream by WriteSave and ReadSave.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/script/Game_Interpreter.h"

// The drawing calls of the tone, flash, screen effects and captures. The game library does not
// offer all of them yet: the defaults use what it has (draw target, screen colour, mouse cursor)
// and leave the others null, and a null entry draws or makes nothing (a graph or soft image it
// would have made stays -1, and an effect that needs it is not applied).
struct SystemStateDrawing {
    // Graphs.
    std::int32_t (*createDrawableGraph)(std::int32_t width, std::int32_t height, bool alpha);
    std::int32_t (*destroyGraph)(std::int32_t graph);
    std::int32_t (*putGraph)(std::int32_t x, std::int32_t y, std::int32_t graph, bool transparent);
    // -2 is the back screen.
    std::int32_t (*setDrawTarget)(std::int32_t graph);
    // Draw settings and shapes.
    std::int32_t (*setBlendMode)(std::int32_t mode, std::int32_t parameter);
    std::int32_t (*setDrawBrightness)(std::int32_t red, std::int32_t green, std::int32_t blue);
    std::uint32_t (*composeScreenColor)(std::int32_t red, std::int32_t green, std::int32_t blue);
    std::int32_t (*paintRectangle)(std::int32_t x1, std::int32_t y1, std::int32_t x2,
                                   std::int32_t y2, std::uint32_t colour, bool fill);
    // Image filters on a graph: the HSB filter (mode 0 relative hue, 1 absolute hue) and the
    // Gauss blur (width 8 or 16, strength in hundredths).
    std::int32_t (*runHsbFilter)(std::int32_t graph, std::int32_t mode, std::int32_t hue,
                                 std::int32_t saturation, std::int32_t brightness);
    std::int32_t (*runGaussFilter)(std::int32_t graph, std::int32_t width, std::int32_t strength);
    // Soft images for the captures.
    std::int32_t (*newScreenSoftImage)(std::int32_t width, std::int32_t height);
    std::int32_t (*copyScreenToSoftImage)(std::int32_t softImage);
    std::int32_t (*graphFromSoftImage)(std::int32_t softImage);
    std::int32_t (*releaseSoftImage)(std::int32_t softImage);
    // The mouse cursor, shown (1) or hidden (0).
    std::int32_t (*setMouseCursorVisible)(std::int32_t visible);
};

SystemStateDrawing& GetSystemStateDrawing();
// Puts back the defaults.
void ResetSystemStateDrawing();

// The back screen as a draw target.
inline constexpr std::int32_t kBackScreen = -2;
// A BGM or BGS played by file name (from a spare sound entry) is saved under this number.
inline constexpr std::int32_t kSoundPlayedByFileName = -3;
// Tone and flash frame counts are 16-bit totals of n + 1.
inline constexpr std::int32_t kLongestToneFrames = 32766;

// One set of screen-effect filters: an HSB colour filter and a Gauss blur, each moving from its
// start to its target over its frames.
struct ScreenEffectSet {
    std::array<std::int32_t, 3> colourTarget{};  // hue, saturation, brightness
    std::array<std::int32_t, 3> colourStart{};
    std::int32_t colourFramesLeft = 0;
    std::int32_t colourFramesTotal = 0;
    std::int32_t blurTarget = 0;
    std::int32_t blurStart = 0;
    std::int32_t blurFramesLeft = 0;
    std::int32_t blurFramesTotal = 0;

    bool operator==(const ScreenEffectSet&) const = default;
};

// A soft image that belongs to the object holding it: a copy of the holder starts without one
// (it makes its own when it captures), so that no two objects release the same image.
class CaptureSoftImage {
  public:
    std::int32_t handle = -1;

    CaptureSoftImage() = default;
    CaptureSoftImage(const CaptureSoftImage&) {}
    CaptureSoftImage& operator=(const CaptureSoftImage& other);
    ~CaptureSoftImage();
    void Release();
};

// One entry of the tile image list of the special system command.
struct TileImageEntry {
    std::string fileName;
    std::int32_t offsetX = 0;
    std::int32_t offsetY = 0;
    std::int32_t frameCount = 0;
    std::int32_t frameWait = 0;
    std::int32_t frameSize = 0;

    bool operator==(const TileImageEntry&) const = default;
};

class Game_SystemState {
  public:
    // ---- Frame skip and interpreter ----
    float frameSkipFactor = 1.0f;
    std::int32_t frameSkipLevel = 0;  // sv 33
    Game_Interpreter mainInterpreter;
    std::int32_t savedFlag = 0;  // sv 24
    std::int32_t lastSlot = -1;  // sv 25

    // ---- Screen tone and flash ----
    std::array<std::int16_t, 3> toneCurrent{};
    std::array<std::int16_t, 3> toneTarget{};
    std::array<std::int16_t, 3> toneStart{};
    std::int16_t toneFramesLeft = -1;
    std::int16_t toneFramesTotal = -1;
    // The flash colour plus 255 per channel.
    std::array<std::int16_t, 3> flashColour{};
    std::int16_t flashFramesLeft = -1;
    std::int16_t flashFramesTotal = -1;

    // ---- Screen effects: set 1 on the map picture, set 2 on the whole screen ----
    std::int32_t effectScreen = -1;
    std::int32_t effectsActive = 0;
    std::array<std::int32_t, 2> colourModes{};
    std::array<ScreenEffectSet, 2> effectSets{};

    // ---- Screen captures ----
    std::array<CaptureSoftImage, 2> captureSoftImages{};
    std::array<std::int32_t, 2> captureGraphs{-1, -1};
    std::array<std::int32_t, 2> captureRequests{};
    std::array<std::int32_t, 2> capturedThisFrame{};

    // ---- Sound ----
    std::int32_t currentBgm = -1;
    std::int32_t currentBgs = -1;
    std::int32_t bgmVolumeCorrection = 100;   // sv 100
    std::int32_t bgsVolumeCorrection = 100;   // sv 101
    std::int32_t seVolumeCorrection = 100;    // sv 102
    std::string bgmFileName;                  // ss 33
    std::array<std::int32_t, 3> bgmValues{};  // volume (sv 95) and two playback values
    std::string bgsFileName;                  // ss 34
    std::array<std::int32_t, 3> bgsValues{};  // volume (sv 97) and two playback values

    // ---- Screen transition ----
    std::int32_t transitionImage = -1;
    std::int32_t transitionTime = 20;
    std::uint8_t transitionMode = 0;

    // ---- Key configuration of the game buttons 0, 1 and 2 ----
    std::array<std::int32_t, 3> keyCodes{144, 145, 146};
    std::array<std::int32_t, 3> padBits{16, 32, 64};

    // ---- Fonts and mouse ----
    std::vector<std::string> fontNames = std::vector<std::string>(5);
    std::string fontSelectionName;                                           // not saved
    std::vector<std::int32_t> fontSelection = std::vector<std::int32_t>(5);  // not saved
    std::uint8_t cursorVisible = 1;                                          // sv 74

    // ---- Values of the system variables and strings ----
    std::uint8_t firstFlag = 0;
    std::uint8_t secondFlag = 0;
    std::int32_t playTimeSeconds = 0;  // sv 29
    std::int32_t spareValue = 0;
    std::int32_t messageFace = 0;                          // sv 0
    std::int32_t messageWindowX = -1;                      // sv 1
    std::int32_t messageWindowY = -1;                      // sv 2
    std::int32_t choiceWindowX = -1;                       // sv 3
    std::int32_t choiceWindowY = -1;                       // sv 4
    std::array<std::int32_t, 3> choiceSounds{-1, -1, -1};  // sv 17, 18, 19
    std::int32_t choiceCursorStart = 0;                    // sv 7
    std::int32_t baseFontSize = 28;                        // sv 8
    std::int32_t panoramaNumber = -1;                      // sv 66
    std::int32_t panoramaSpeedX = 0;                       // sv 67
    std::int32_t panoramaSpeedY = 0;                       // sv 68
    std::int32_t fogNumber = -1;                           // sv 61
    std::int32_t fogSpeedX = 0;                            // sv 62
    std::int32_t fogSpeedY = 0;                            // sv 63
    std::int32_t fogBlend = 0;                             // sv 64
    std::int32_t fogOpacity = 255;                         // sv 65
    std::uint8_t moveDuringEvents = 0;
    std::int16_t playerShadow = 0;            // sv 36
    std::int32_t keyRepeatFirstWait = 16;     // sv 15
    std::int32_t keyRepeatWait = 5;           // sv 16
    std::int16_t pauseCursorX = 0;            // sv 5
    std::int16_t pauseCursorY = 0;            // sv 6
    std::int16_t keyboardEntryX = 0;          // sv 40
    std::int16_t keyboardEntryY = 0;          // sv 41
    std::int32_t messageSpeed = 120;          // sv 9
    std::int32_t pictureTextSpeed = 1000000;  // sv 11
    std::int32_t messageDisplayWait = 1;      // sv 10
    std::uint8_t showChoiceWindow = 1;        // sv 14
    std::int32_t cameraLock = 0;
    std::int32_t textShadow = 0;       // sv 21
    std::int32_t mouseInMessages = 0;  // sv 73
    std::vector<std::string> partyGraphics;
    std::vector<std::int32_t> followerShadows = std::vector<std::int32_t>(5, -1);  // sv 87..91
    std::int32_t choiceCursorDrawing = 0;                                          // sv 22
    std::int32_t panoramaParallax = 0;
    std::int32_t fogParallax = 0;
    std::int32_t confirmKeyRepeat = 0;  // sv 59
    std::int32_t cancelKeyRepeat = 0;   // sv 60
    std::int16_t partyDistance = 2;     // sv 37
    std::string messagePrefix;          // ss 26
    std::string messageSuffix;          // ss 27
    std::int32_t frameCount = 0;        // sv 28
    std::string panoramaSettings;       // ss 30
    std::string fogSettings;            // ss 31
    std::uint8_t partyFollowing = 1;
    std::array<std::string, 3> furtherStrings{};
    std::int32_t spriteYOffset = 0;           // sv 49
    std::int32_t keyboardEntryAntialias = 1;  // sv 42
    std::int32_t runMoveRoutesAtOnce = 0;     // sv 50
    std::int32_t rubyFontSize = 10;           // sv 23
    std::int32_t mapDrawingMode = 0;          // sv 121
    std::int32_t nextPictureUnsmoothed = 0;   // sv 123
    std::int32_t fontThickness = 5;           // sv 125
    std::int32_t smoothMapZoom = 0;           // sv 122
    std::int32_t mapTilesOmitted = 0;         // sv 127
    std::int32_t diagonalSpeedX = 100;        // sv 129
    std::int32_t diagonalSpeedY = 100;        // sv 130
    std::int32_t playerCentreX = 0;           // sv 131
    std::int32_t playerCentreY = 0;           // sv 132
    std::uint8_t padHatDirections = 1;        // sv 134
    std::uint8_t padStickDirections = 1;      // sv 135
    std::int32_t showMoreWhenZoomedOut = 1;   // sv 139
    std::int32_t mapMaskScreen = 0;
    std::int32_t choiceMarginX = 0;          // sv 26
    std::int32_t choiceMarginY = 0;          // sv 27
    std::int32_t rememberedUiLanguage = -1;  // sv 141
    std::string windowTitleOverride;         // ss 60
    // Not saved.
    std::int32_t playTimeMilliseconds = 0;
    std::int32_t framesRunLastSecond = 0;    // sv 31
    std::int32_t framesDrawnLastSecond = 0;  // sv 32
    std::uint8_t liveDrawing = 1;
    std::int32_t keyboardTextEntryState = 0;  // sv 39
    std::vector<TileImageEntry> tileImageList;
    // Set when a map names its panorama by file (in the settings text, with the speeds and the
    // parallax divisor); the panorama loads it at its next draw and clears it.
    std::uint8_t panoramaFromFile = 0;

    // The defaults, then the screen-dependent ones (ResetForScreen).
    Game_SystemState();
    // For the long-lived global, built before anything else runs: the plain defaults only,
    // touching no other global. The restart point replaces it with a fully built one.
    struct QuietConstruction {};
    explicit Game_SystemState(QuietConstruction) {}
    Game_SystemState(const Game_SystemState&) = default;
    Game_SystemState& operator=(const Game_SystemState&) = default;

    // The defaults that follow the screen size, the tile size and "Game.ini".
    void ResetForScreen();

    void SetFrameSkipFactor(float factor) { frameSkipFactor = factor; }
    float GetFrameSkipFactor() const { return frameSkipFactor; }

    // The tone pass: with `reset` the brightness goes back to white; with `additive` the positive
    // parts of the tone brighten the screen; otherwise the negative parts darken it through the
    // draw brightness, which is also stored into `brightness` when given.
    void ApplyTone(bool additive, bool reset, std::array<std::int32_t, 3>* brightness = nullptr);
    // Draws the flash over the screen while it lasts; the drawing call's result, 0 when none.
    std::int32_t DrawFlash();
    // Once per frame, after the interpreters.
    void UpdateEffects();
    // Type -1 clears both sets; 1, 2 colour set 1 (relative, absolute hue); 3 blur set 1; 6, 7
    // colour set 2; 8 blur set 2; every other type only switches the effect screen on.
    void SetScreenEffect(std::int32_t type, std::int32_t a, std::int32_t b, std::int32_t c,
                         std::int32_t frames);
    void EnsureEffectScreen();
    // Stage 0 before the frame is drawn, 1 after the map and characters, 2 after pictures,
    // windows and the flash.
    void ProcessScreenEffect(std::int32_t stage);
    // Kind 1 or 2 takes a capture when one is missing or asked for (1 when taken); 99 makes the
    // capture graphs again from their soft images.
    std::int32_t CaptureScreen(std::int32_t kind);

    // The save part, through TheSaveStream.
    bool WriteSave();
    bool ReadSave();

  private:
    void ApplyColourFilter(std::int32_t set);
    void ApplyBlur(std::int32_t set);
};

// The live system state (main thread only).
extern Game_SystemState TheSystemState;

// Starts a tone change or a flash on the live system state: r, g, b of -255..255 over n frames
// (n is held to 0..kLongestToneFrames).
void StartToneChange(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t frames);
void StartFlash(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t frames);
