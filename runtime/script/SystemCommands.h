// The two event commands that reach outside the game's own state: restarting the whole program
// (a new process with the same command line) and the special system command, whose sub-codes
// restart, make a folder, save the screen as a JPEG file, copy a file and set up the tile image
// list of the map renderer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Game_Interpreter;

inline constexpr std::int32_t kRestartProgramCode = 1001;
inline constexpr std::int32_t kSpecialSystemCode = 10001;

// Sub-codes of the special system command.
enum SpecialSystemOperation : std::int32_t {
    kSpecialRestart = 14,
    kSpecialMakeFolder = 16,
    kSpecialSaveScreenJpeg = 17,
    kSpecialCopyFile = 18,
    kSpecialTileImageList = 20,
};

bool CommandRestartProgram(Game_Interpreter& interpreter);
bool CommandSpecialSystem(Game_Interpreter& interpreter);

// Plugs both handlers into the dispatcher.
void InstallSystemCommands();

// What a restart calls. The defaults use the library and the process; a null entry does nothing.
// Tests replace startProcess and exitProcess so that nothing ends.
struct SystemCommandServices {
    // Writes the save files changed since they were last written.
    void (*flushDirtySaves)();
    void (*destroyDebugWindow)();
    int (*deleteAllGraphs)();
    int (*deleteAllSounds)();
    int (*resetFontHandles)();
    int (*writeGameIni)(std::int32_t start, std::int32_t frameSkip);
    // The folder the game was started in (UTF-8); it becomes the current folder.
    std::string (*baseFolder)();
    void (*removePrivateFonts)();
    int (*endLibrary)();
    // The parameters the program was started with, passed on as received.
    std::vector<std::string> (*startupArguments)();
    // Starts the program's own executable with the arguments; a failure is ignored.
    void (*startProcess)(const std::vector<std::string>& arguments);
    void (*exitProcess)(int code);
    // Saves the rectangle of the draw target as a JPEG file; the library's result.
    int (*saveScreenJpeg)(std::int32_t width, std::int32_t height, const std::string& path,
                          std::int32_t quality);
};
SystemCommandServices& GetSystemCommandServices();
void ResetSystemCommandServices();

// Sub-code 20's text: "RESET", or file "=>" chip "," x "," y, optionally "/" frames "," wait.
// Returns false (changing nothing) when the text has no "=>".
bool ApplyTileImageListText(const std::string& text);

// Sub-code 18's text: source ">>" destination, both inside the game folder. The copy goes to a
// temporary file beside the destination, which then replaces the destination, so a failed copy
// leaves the old destination whole. Returns false when the text has no ">>".
bool CopyFileByText(const std::string& text);
