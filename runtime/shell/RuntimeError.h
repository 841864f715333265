// Runtime error reports: every error the runtime detects while a game runs goes through
// ReportRuntimeError, which appends it to "Game_ErrorLog.txt", shows it over the game screen,
// adds it to the debug window's text, keeps it as the last error text and waits until the player
// acknowledges it. A report is not fatal: play goes on where it was, unless the main window was
// closed, which ends the game.
//
// The two location texts say where the running event script stands and which scripts called it.
// Texts are UTF-8 unless said otherwise.
#pragma once

#include <cstdint>
#include <string>

class Game_Interpreter;

// The log's file name, in the current folder (the executable's folder once started).
inline constexpr char kErrorLogFileName[] = "Game_ErrorLog.txt";
// The line that closes every report in the log.
inline constexpr char kErrorLogSeparator[] = "--------------------";

// Everything added to the debug window since it was last opened, in the code page of the game's
// character set, lines ended by CR LF.
extern std::string DebugWindowText;
// The three texts of the last report joined by LF.
extern std::string LastErrorText;

// Reports one error of three texts (a text may be empty). With flushSaves the save files waiting
// to be written are written first. Dropped while the scene reloads and outside GameState::Run.
void ReportRuntimeError(bool flushSaves, std::string first, std::string second, std::string third);

// Where the running event script stands: "処理地点:【", the map event and common event, the line,
// and the chain of calling scripts when it was called.
std::string GetScriptLocationText();
// One entry per interpreter of a call chain: upward from `interpreter` through its parents, or
// downward from its topmost ancestor through the first children. Null gives "".
std::string BuildCallStackText(const Game_Interpreter* interpreter, bool upward);

// Deletes the log in the current folder (once at every start); true.
bool DeleteErrorLog();
// Appends one line and CR LF to the log; true when it opened. A log that cannot be opened is
// left as it is and the line is lost: the reports already in it are never thrown away.
bool AppendErrorLogLine(const std::string& text);
// The default font of the runtime's debug drawing (Meiryo, size 11, antialiased, thickness 5).
void SetDebugFont();

// What a report reads while it waits for the player, after one input update.
struct ReportWaitInput {
    bool f11Held = false;
    bool f12Held = false;
    bool decidePressed = false;
    bool decideHeld = false;
    bool leftMousePressed = false;
    bool leftMouseHeld = false;
};

// The services a report calls. The defaults use the game library where it provides the call;
// entries that stay null are the ones no module provides yet, and the report then does without
// them: without the box drawing (font, blend, rectangle, text, flip) the box is shown as a message
// box, which waits for the player itself; without game input the wait ends at once.
struct RuntimeErrorServices {
    // Writes the save files that wait for the next flush.
    void (*flushDirtySaves)();
    // The box.
    void (*setDefaultFontFace)(const char* face, int charSet);
    void (*setDefaultFontSize)(int size);
    void (*setDefaultFontType)(int fontType);
    void (*setDefaultFontThickness)(int thickness);
    int (*setBlendMode)(int mode, int parameter);
    int (*setDrawBrightness)(int red, int green, int blue);
    unsigned (*composeScreenColor)(int red, int green, int blue);
    int (*paintRectangle)(int x1, int y1, int x2, int y2, unsigned colour, int fill);
    int (*measureTextWidth)(const char* text, int byteCount);
    int (*drawText)(int x, int y, const char* text, unsigned colour, unsigned edgeColour);
    int (*flipScreen)();
    // The message box shown instead of the box (text and caption UTF-16).
    void (*showMessageBox)(const std::u16string& text, const std::u16string& caption);
    // Shows the debug window's text again when the window is open.
    void (*refreshDebugWindow)();
    // The window and the wait.
    int (*isWindowQuitRequested)();
    // 0 to go on, -1 when the program must quit.
    int (*pumpMessages)();
    // Updates the game input and reads it; null while there is no game input.
    void (*readWaitInput)(ReportWaitInput& input);
    // Runs the system keys once (F11, F12 held during the wait).
    void (*handleSystemKeys)();
    void (*waitPumpingMessages)(int milliseconds);
};

RuntimeErrorServices& GetRuntimeErrorServices();
// Puts back the defaults.
void ResetRuntimeErrorServices();

// Test hook: while installed, a report that is not dropped hands its three texts (after the
// executable's folder was cut from them) to the hook instead of writing the log, showing the box
// and waiting; the debug window's text and the last error text are still updated. Returns the
// hook it replaces.
using RuntimeErrorCaptureHook = void (*)(const std::string& first, const std::string& second,
                                         const std::string& third);
RuntimeErrorCaptureHook SetRuntimeErrorCaptureHook(RuntimeErrorCaptureHook hook);

// Points the data-file readers' reports and script location at ReportRuntimeError and
// GetScriptLocationText (the start-up calls it once).
void InstallRuntimeErrorReporting();
