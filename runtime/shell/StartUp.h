// The start-up sequence: from the command line to the first arrival at the restart point. It
// settles the folders, checks the archives and their key, reads "Game.dat" and "Game.ini", sets
// the screen, starts the game library, shows the progress screen, adds the private fonts, preloads
// the archives, loads the databases and builds the scene; then the restart point and the main loop
// take over until the game quits.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/dictionary/MessageDictionary.h"  // UiLanguage
#include "runtime/shell/ShellGlobals.h"

class Game_Scene;

// --- Settings the start-up decides (besides those of ShellGlobals.h)
// ------------------------------

// The command line as received, its arguments joined by blanks.
extern std::string CommandLineText;
// The arguments as received (without the program's name), passed on unchanged when the player
// starts itself again.
extern std::vector<std::string> StartupArguments;
// Bit 0: "Game_PosErrorStop.txt" stands beside the executable in test play.
extern std::int32_t TestPlayOptions;
// The data folder relative to the executable's folder, ending in "/" ("Data/" unless "-f" gives
// another). Defined with the sound manager, which keys its caches by it.
extern std::string DataFolder;
// The extension of the game's archives with its dot (".velk" unless the archive key file names
// another).
extern std::string ArchiveExtension;
// The desktop's colour depth in bits (16 gives a 16-bit screen, anything else 32).
extern std::int32_t DesktopColorDepth;
// 0 when the game asked for MIDI and the MIDI player could not be loaded. Defined with the sound
// manager.
extern std::int32_t MidiAvailable;
// Left, top, right, bottom of the monitor under the mouse cursor at start (all 0 when a display
// was chosen in "Game.ini").
extern std::array<std::int32_t, 4> StartMonitorRect;
// The library's main window once the library has started, else null.
extern void* MainWindowHandle;
// The font files added for this process, relative to the executable's folder; removed at
// shut-down.
extern std::vector<std::u16string> PrivateFontFiles;
// The clipboard's text at start-up (UTF-8).
extern std::string StartupClipboardText;
// 1 after the player maximised the main window, 0 after a restore.
extern std::int32_t WindowMaximized;

// --- The parts of the start-up that decide from plain values
// --------------------------------------

// What the command line asks for.
struct CommandLineOptions {
    bool testPlay = false;         // "Test_Of_Main"
    bool debugWindow = false;      // "Use_Debug_Window"
    bool dataFolderGiven = false;  // "-f": dataFolder holds the next token and "/"
    std::string dataFolder;
};
// Splits `commandLine` at white space into at most 50 tokens and looks at the first 40, stopping
// at the first empty one.
CommandLineOptions ParseCommandLine(const std::string& commandLine);

// The screen as "Game.dat" asks for it.
struct ScreenGeometry {
    std::int32_t colorDepth = 32;
    std::int32_t tileSize = 32;
    std::int32_t windowScale = 1;  // never below 1
    std::int32_t width = 640;      // the library's screen: the game's size times windowScale
    std::int32_t height = 480;
    std::int32_t frameMultiplier = 1;  // 60 / frame rate, never below 1
};
class Game_BasicData;
// `currentTileSize` stays when the data names no valid tile size.
ScreenGeometry ComputeScreenGeometry(const Game_BasicData& data, std::int32_t desktopDepth,
                                     std::int32_t currentTileSize);

// 0 (Japanese) when the system's language name is exactly "Japanese", else 1.
std::int32_t UiLanguageFromSystemName(const std::string& englishLanguageName);

// --- The run -----------------------------------------------------------------------------------

// What the start-up leaves for the restart point.
struct RestartPassState {
    // The first pass: the start-up has already faded the progress screen in.
    bool firstPass = true;
    // The start-up has loaded the databases (outside test play the first pass uses them).
    bool databasesLoaded = false;
};

// The restart point, then the main loop, which comes back to the restart point whenever the game
// returns to the title; returns when the game quits. Defined by the main-loop module.
int RunFromRestartPoint(Game_Scene& scene, RestartPassState& pass);

// Runs the whole game: the start-up, then RunFromRestartPoint. Returns -1 when the start was
// abandoned (a message has said why), else what the main loop returned. The caller then runs
// ShutDownGame.
int RunGame(const std::vector<std::string>& arguments);

// The queries of the machine the start-up makes. The defaults ask the platform; tests replace
// them.
struct StartUpEnvironment {
    // The English name of the system's default language ("Japanese", "English", ...).
    std::string (*systemLanguageName)();
    // The desktop's colour depth in bits.
    std::int32_t (*desktopColorDepth)();
    // The executable's folder, ending in its separator.
    std::string (*exeFolder)();
    // What runs from the restart point on (RunFromRestartPoint by default).
    int (*runFromRestartPoint)(Game_Scene& scene, RestartPassState& pass);
};
StartUpEnvironment& GetStartUpEnvironment();
void ResetStartUpEnvironment();
