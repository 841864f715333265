// The runtime's one system object: the game state that the main loop and the frame loop switch on,
// the links between the event script and the two text windows, the screen transition with its
// screen-sized capture graphs, the pending map transfer, the mouse-confine setting, frame-time
// statistics and the flags that event commands set for the frame loop.
//
// Members the runtime does not name yet keep their place and initial value as plain fields; the
// subsystems that give them a meaning name them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

class Game_Interpreter;

// What the main loop does next. Construction gives Restart; the restart point sets Run.
enum class GameState : std::int32_t {
    Quit = -1,
    Restart = 0,
    Run = 1,
};

// The graphics the transition and the screen graphs use. The graphics module fills the entries;
// a null entry does nothing (a graph that cannot be made stays -1, nothing is drawn).
struct GameSystemGraphics {
    std::int32_t (*makeGraph)(std::int32_t width, std::int32_t height, std::int32_t flag);
    std::int32_t (*destroyGraph)(std::int32_t graph);
    std::int32_t (*loadBlendGraph)(const std::string& path);
    std::int32_t (*setDrawBright)(std::int32_t r, std::int32_t g, std::int32_t b);
    std::int32_t (*setBlendMode)(std::int32_t mode, std::int32_t param);
    std::int32_t (*drawGraph)(std::int32_t x, std::int32_t y, std::int32_t graph,
                              std::int32_t transparent);
    std::int32_t (*drawBlendGraph)(std::int32_t x, std::int32_t y, std::int32_t graph,
                                   std::int32_t transparent, std::int32_t blendGraph,
                                   std::int32_t borderParam, std::int32_t borderRange);
    std::int32_t (*copyDrawTargetToGraph)(std::int32_t left, std::int32_t top, std::int32_t right,
                                          std::int32_t bottom, std::int32_t graph);
};
GameSystemGraphics& GetGameSystemGraphics();

// The window services of the mouse confinement. Defaults: the library's window record and the
// platform's cursor clipping; absent without a display.
struct GameSystemWindow {
    bool (*isWindowed)();
    bool (*isActive)();
    // The client area's top-left corner in screen coordinates.
    bool (*clientOrigin)(std::int32_t* x, std::int32_t* y);
    double (*scaleFactor)();
    // Confines the cursor to the rectangle, or frees it (null).
    std::int32_t (*clipCursor)(const std::int32_t* rect);
};
GameSystemWindow& GetGameSystemWindow();
void ResetGameSystemWindow();

struct Game_System {
    GameState gameState = GameState::Restart;
    // The message window's pending text (non-empty while it has a message).
    std::string messageText;
    // A second message text that every message command empties.
    std::string secondMessageText;
    // The choice window's pending text, one choice per line (non-empty while it has choices).
    std::string choiceText;
    // Full path of the transition image (data folder + file name).
    std::string transitionImagePath;
    // The last message text shown (a system string reads it).
    std::string lastMessageText;
    std::int32_t messageWaitMode = -1;
    std::array<std::int32_t, 4> messageSettings{99, 0, 0, 0};
    std::int32_t choiceWaitIndent = -1;
    // The choice window's cancel case (-1 none), pending result, choice count and further
    // setting (bit 0 left key, bit 1 right key, bit 2 forced close).
    std::int32_t choiceCancelCase = -1;
    std::int32_t choicePendingResult = 99;
    std::int32_t choiceCount = 0;
    std::int32_t choiceFlags = 0;
    std::int32_t graphSlot = -1;
    std::uint8_t flag1 = 0;
    // Requests of the event script to close the message window and the choice window.
    std::uint8_t closeMessageRequest = 0;
    std::uint8_t closeChoiceRequest = 0;
    std::array<std::uint8_t, 2> bytes1{};
    std::uint8_t transferPending = 0;
    std::uint8_t transitionActive = 0;
    std::array<std::uint8_t, 2> bytes2{};
    std::int32_t transferMap = 0, transferX = 0, transferY = 0;
    std::array<std::int32_t, 4> ints1{};
    Game_Interpreter* messageWaiter = nullptr;
    Game_Interpreter* choiceWaiter = nullptr;
    // The message command's copy of system variable 10 (the window's opening delay).
    std::int32_t messageOpeningDelay = 0;
    // A message followed by choices shows both; the pair is set and cleared together.
    std::uint8_t messageWithChoices = 0;
    std::uint8_t closeMessageAfterChoice = 0;
    std::uint8_t drawingSuspended = 0;
    std::uint8_t transitionMode = 0;
    std::uint8_t transitionWithoutImage = 1;
    std::int32_t transitionCountdown = 20;
    std::int32_t transitionTime = 20;
    std::int32_t transitionImage = 0;
    std::int32_t captureGraph = -1;
    std::uint8_t transitionPrepared = 0;
    // The next frame reloads the scene (a save was loaded into the live game). While it is set
    // runtime-error reports are dropped.
    std::uint8_t sceneReloadRequested = 0;
    std::int32_t storedScreenGraph = -1;
    std::int32_t titleInfoMode = 0;
    std::int32_t int2 = -1;
    std::int16_t short1 = 0;
    std::int32_t frameClearFlag = 0;
    std::uint8_t mapRendererSetupRequested = 0;
    std::array<std::int64_t, 5> frameStartHistory{};
    std::array<std::int64_t, 5> drawTimeHistory{};
    std::array<std::string, 3> texts6to8;
    // Event sprites reload their graphics until the next drawn frame.
    std::uint8_t characterGraphicsChanged = 0;
    // The ten choice texts, one per slot.
    std::array<std::string, 10> choiceSlotTexts;
    std::int32_t int3 = 0;
    std::int32_t midiListId = -1;
    std::uint8_t midiPaused = 0;
    std::array<std::int32_t, 2> ints2{};
    std::array<std::int32_t, 3> soundListCounts{};
    std::array<std::int32_t, 3> addedSoundEntries{};
    std::int16_t short2 = 0;
    std::int32_t bgmDatabaseVolume = 0, bgsDatabaseVolume = 0;
    std::int32_t stepCounter = 0;
    std::array<std::int32_t, 2> legacyPair{};
    std::int32_t playFileVolume = 0;
    std::int32_t mouseConfine = 1;
    std::int32_t mouseConfineAllowed = 0;
    std::int32_t httpStatus = 0;
    std::uint8_t reloadMapLayers = 0;
    std::string text19;
    std::uint8_t byte4 = 1;
    std::int32_t int4 = 0;
    std::string text20;
    std::int32_t int5 = 0;
    std::int32_t ExtraWaitMs = 0;
    std::array<std::int32_t, 6> mapOffsets{-99999, -99999, -99999, -99999, -99999, -99999};
    std::int32_t int6 = 0;
    std::int32_t transitionKind = -1;
    std::int32_t transitionGraph = -1;
    std::int32_t transitionRemaining = -1;
    std::int32_t transitionTotal = -1;
    std::int32_t flipAfterReload = 0;
    void* activePanorama = nullptr;
    void* activeFog = nullptr;
    std::int32_t int7 = 0;
    // The common event the main interpreter starts next (the reserve command); -1 none.
    std::int32_t requestedCommonEvent = -1;
    // The facing the player keeps through the requested transfer.
    std::int32_t transferDirection = 2;

    Game_System() { ResetHooks(); }
    // The constructor's quiet form for the global built before the game data is read.
    struct QuietConstruction {};
    explicit Game_System(QuietConstruction) {}

    void ResetHooks();
    void CreateScreenGraphs();
    void SetMessageWaiter(std::int32_t mode, Game_Interpreter* interpreter);
    void SetChoiceWaiter(std::int32_t indent, Game_Interpreter* interpreter);
    // The message window closed: the interpreter waiting for it (mode 1) goes on.
    void ReleaseMessageWaiter();
    // The choice made: written into the waiting interpreter's branch state for the recorded
    // indent, which then goes on. Returns that interpreter (null when none waits).
    Game_Interpreter* DeliverChoice(std::int32_t index);
    std::int32_t ClipMouseCursor(std::int32_t setting);
    void SetTransition(std::int32_t n, std::int32_t time, std::int32_t mode);
    void DrawTransition();
    void EndTransition();
    // No message or choice window is shown and no transition runs: one may start.
    bool IsTransitionFree() const;
    // Captures the screen and runs the set transition at once (prepare and execute in one).
    void StartTransitionNow();
    void DrawStoredScreen();
    void UpdateTimers();
};

// The one system object (main thread only).
extern Game_System TheGameSystem;
