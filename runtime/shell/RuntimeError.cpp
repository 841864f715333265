#include "runtime/shell/RuntimeError.h"

#include <cstdlib>
#include <cstring>

#include <cstdio>
#include <utility>

#include "Main/DxBaseImage.h"
#include "Main/DxFont.h"
#include "Main/DxFontDraw.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsDraw.h"
#include "Main/DxMemImg.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/ShellMessages.h"
#include "runtime/shell/TextConversion.h"

std::string DebugWindowText;
std::string LastErrorText;

namespace {

// A report's fixed places: the box from y 192 to 288, the texts at x 10.
constexpr int kBoxTop = 192;
constexpr int kBoxBottom = 288;
constexpr int kTextX = 10;
constexpr int kFirstTextY = 200;
constexpr int kSecondTextY = 234;
constexpr int kThirdTextY = 260;
constexpr int kSecondLineOffset = 10;
constexpr int kBoxAlpha = 240;
// Holding Decide from before the report closes it after this many rounds of the wait.
constexpr int kHoldRounds = 10;
constexpr int kWaitRoundMs = 16;

constexpr int kDebugFontSize = 11;
// The library's handle for its default font.
constexpr int kDefaultFont = -2;
constexpr int kDebugFontThickness = 5;

// One formatted piece of a location text; like every such piece it holds at most 255 bytes.
std::string FormatPiece(const char* format, int value) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

int PumpLibraryMessages() {
    return ZiDaz::PumpMessages();
}

void WaitLibrary(int milliseconds) {
    ZiDaz::WaitPumpingMessages(milliseconds);
}

unsigned ComposeLibraryColor(int red, int green, int blue) {
    return ZiDaz::ComposeScreenColor(red, green, blue);
}

int FlipLibraryScreen() {
    return ZiDaz::FlipScreen();
}

void ShowBoxAsMessageBox(const std::u16string& text, const std::u16string& caption) {
    ShowShellMessageBox(text, caption);
}

void SetLibraryFontFace(const char* face, int charSet) {
    ZiDaz::SetDefaultFontFace(face, charSet);
}

void SetLibraryFontSize(int size) {
    ZiDaz::SetDefaultFontSize(size);
}

void SetLibraryFontType(int fontType) {
    ZiDaz::SetDefaultFontType(fontType);
}

void SetLibraryFontThickness(int thickness) {
    ZiDaz::SetDefaultFontThickness(thickness);
}

int PaintLibraryRectangle(int x1, int y1, int x2, int y2, unsigned colour, int fill) {
    return ZiDaz::PaintRectangle(x1, y1, x2, y2, colour, fill);
}

// Report texts are UTF-8 whatever the game's code page, so they reach the font as UTF-16.
int MeasureLibraryText(const char* text, int byteCount) {
    const std::u16string wide = ConvertUtf8ToWide(std::string(text, byteCount).c_str());
    return ZiDaz::MeasureTextWidthWide(wide.c_str(), 0, -1, kDefaultFont, 0);
}

int DrawLibraryText(int x, int y, const char* text, unsigned colour, unsigned edgeColour) {
    const std::u16string wide = ConvertUtf8ToWide(text);
    return ZiDaz::DrawTextWithFontWide(x, y, wide.c_str(), -1, colour, kDefaultFont, edgeColour, 0);
}

// The wait reads the game's own input record, so that replayed and configured keys close the
// report exactly as they would answer a message.
void ReadGameInput(ReportWaitInput& input) {
    TheInput.Update();
    input.f11Held = TheInput.functionKeyHeld[kF11] != 0;
    input.f12Held = TheInput.functionKeyHeld[kF12] != 0;
    input.decidePressed = TheInput.gameButtonPressed[Decide] != 0;
    input.decideHeld = TheInput.gameButton[Decide] != 0;
    input.leftMousePressed = TheInput.mousePressed[0] != 0;
    input.leftMouseHeld = TheInput.mouseButton[0] != 0;
}

RuntimeErrorServices DefaultServices() {
    RuntimeErrorServices s{};
    s.setDefaultFontFace = SetLibraryFontFace;
    s.setDefaultFontSize = SetLibraryFontSize;
    s.setDefaultFontType = SetLibraryFontType;
    s.setDefaultFontThickness = SetLibraryFontThickness;
    s.setBlendMode = ZiDaz::SelectBlendMode;
    s.setDrawBrightness = ZiDaz::SetBrightnessColor;
    s.paintRectangle = PaintLibraryRectangle;
    s.measureTextWidth = MeasureLibraryText;
    s.drawText = DrawLibraryText;
    s.readWaitInput = ReadGameInput;
    s.composeScreenColor = ComposeLibraryColor;
    s.flipScreen = FlipLibraryScreen;
    s.showMessageBox = ShowBoxAsMessageBox;
    s.isWindowQuitRequested = ZiDaz::IsWindowQuitRequested;
    s.pumpMessages = PumpLibraryMessages;
    s.waitPumpingMessages = WaitLibrary;
    return s;
}

RuntimeErrorServices& Services() {
    static RuntimeErrorServices services = DefaultServices();
    return services;
}

RuntimeErrorCaptureHook CaptureHook = nullptr;

bool CanDrawBox(const RuntimeErrorServices& s) {
    return s.setBlendMode && s.setDrawBrightness && s.composeScreenColor && s.paintRectangle &&
           s.measureTextWidth && s.drawText && s.flipScreen;
}

// The byte offset where a text too wide for one line is cut: half its length, moved back to the
// start of the character it falls in so that no character is torn apart.
std::size_t SplitOffset(const std::string& text) {
    std::size_t at = text.size() / 2;
    while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
    return at;
}

void DrawBoxText(const RuntimeErrorServices& s, const std::string& text, int y, bool mayWrap,
                 unsigned white) {
    const int width = s.measureTextWidth(text.c_str(), static_cast<int>(text.size()));
    if (!mayWrap || width < ScreenWidth) {
        s.drawText(kTextX, y, text.c_str(), white, 0);
        return;
    }
    const std::size_t at = SplitOffset(text);
    s.drawText(kTextX, y, text.substr(0, at).c_str(), white, 0);
    s.drawText(kTextX, y + kSecondLineOffset, text.substr(at).c_str(), white, 0);
}

// Returns false when the report went to a message box, which has already waited for the player.
bool ShowBox(const std::string& first, const std::string& second, const std::string& third) {
    const RuntimeErrorServices& s = Services();
    if (!CanDrawBox(s)) {
        // Until the screen can draw text, the box is a message box, which also waits.
        if (s.showMessageBox) {
            const std::string text = first + "\n" + second + "\n" + third;
            s.showMessageBox(ConvertUtf8ToWide(text.c_str()), TranslateMessageWide(u"エラー"));
            return false;
        }
        return true;
    }
    SetDebugFont();
    s.setBlendMode(ZiDaz::DX_BLEND_ALPHA, kBoxAlpha);
    const int scale = WindowScale > 0 ? WindowScale : 1;
    s.paintRectangle(0, kBoxTop, (ScreenWidth / scale) * scale, kBoxBottom,
                     s.composeScreenColor(0, 50, 0), 1);
    s.setBlendMode(ZiDaz::DX_BLEND_NONE, 255);
    s.setDrawBrightness(255, 255, 255);
    const unsigned white = s.composeScreenColor(255, 255, 255);
    DrawBoxText(s, first, kFirstTextY, true, white);
    DrawBoxText(s, second, kSecondTextY, true, white);
    DrawBoxText(s, third, kThirdTextY, false, white);
    s.flipScreen();
    return true;
}

// Every running interpreter stops running commands for this frame and the main loop leaves.
void TakeQuitPath() {
    CommandStepCounter = kCommandStepLimit;
    TheGameSystem.gameState = GameState::Quit;
}

std::string ToGameCodePage(const std::string& text) {
    return ConvertUtf8ToCodePage(GameCodePageLocale(), text.c_str());
}

// A run without a display (SDL's dummy or offscreen video) has nobody to press a key: the
// report is logged and shown, and the game goes on at once.
bool RunsWithoutDisplay() {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    return driver && (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0);
}

// Returns false when the program must quit.
bool WaitForPlayer() {
    const RuntimeErrorServices& s = Services();
    if (!s.readWaitInput ||
        (s.readWaitInput == DefaultServices().readWaitInput && RunsWithoutDisplay())) {
        return true;
    }
    int held = 0;
    for (;;) {
        if (s.pumpMessages && s.pumpMessages() != 0) return false;
        ReportWaitInput input;
        s.readWaitInput(input);
        if (input.f12Held || input.f11Held) {
            if (s.handleSystemKeys) s.handleSystemKeys();
            return true;
        }
        if (input.decidePressed || input.leftMousePressed) return true;
        if (input.decideHeld || input.leftMouseHeld) {
            if (++held > kHoldRounds) return true;
        } else {
            held = 0;
        }
        if (s.waitPumpingMessages) s.waitPumpingMessages(kWaitRoundMs);
    }
}

// Cuts a report text so that paths inside the player's own folder show relative to it.
void CutExeFolder(std::string& first, std::string& second, std::string& third) {
    if (ExeFolder.empty()) return;
    const std::size_t at = first.find(ExeFolder);
    if (at != std::string::npos) first.erase(0, at + ExeFolder.size());
    for (std::string* text : {&second, &third}) {
        if (text->compare(0, ExeFolder.size(), ExeFolder) == 0) text->erase(0, ExeFolder.size());
    }
}

void AddToDebugText(const std::string& first, const std::string& second, const std::string& third) {
    DebugWindowText += ToGameCodePage(first);
    DebugWindowText += "\r\n";
    DebugWindowText += ToGameCodePage(second);
    DebugWindowText += "\r\n";
    DebugWindowText += ToGameCodePage(third);
    std::string suffix = " -->[";
    if (CurrentMapEventId != -1) suffix += FormatPiece("MapEv%d/", CurrentMapEventId);
    if (CurrentCommonEventId != -1) {
        suffix += FormatPiece(TranslateMessageUtf8(u"ｺﾓﾝ%d/"), CurrentCommonEventId);
    }
    suffix += FormatPiece(TranslateMessageUtf8(u"%d行]"), CurrentScriptLine);
    DebugWindowText += ToGameCodePage(suffix);
    DebugWindowText += "\r\n";
}

}  // namespace

RuntimeErrorServices& GetRuntimeErrorServices() {
    return Services();
}

void ResetRuntimeErrorServices() {
    Services() = DefaultServices();
}

RuntimeErrorCaptureHook SetRuntimeErrorCaptureHook(RuntimeErrorCaptureHook hook) {
    return std::exchange(CaptureHook, hook);
}

void ReportRuntimeError(bool flushSaves, std::string first, std::string second, std::string third) {
    if (TheGameSystem.sceneReloadRequested || TheGameSystem.gameState != GameState::Run) return;
    const RuntimeErrorServices& s = Services();
    if (flushSaves && s.flushDirtySaves) s.flushDirtySaves();
    CutExeFolder(first, second, third);
    if (CaptureHook) {
        CaptureHook(first, second, third);
        AddToDebugText(first, second, third);
        LastErrorText = first + "\n" + second + "\n" + third;
        return;
    }
    AppendErrorLogLine(first);
    AppendErrorLogLine(second);
    AppendErrorLogLine(third);
    AppendErrorLogLine(kErrorLogSeparator);
    if ((s.isWindowQuitRequested && s.isWindowQuitRequested()) ||
        TheGameSystem.gameState == GameState::Quit) {
        TakeQuitPath();
        return;
    }
    const bool boxOnScreen = ShowBox(first, second, third);
    AddToDebugText(first, second, third);
    LastErrorText = first + "\n" + second + "\n" + third;
    if (s.refreshDebugWindow) s.refreshDebugWindow();
    if (boxOnScreen && !WaitForPlayer()) {
        TakeQuitPath();
        return;
    }
    if (s.setDefaultFontSize) s.setDefaultFontSize(TheSystemState.baseFontSize);
}

std::string BuildCallStackText(const Game_Interpreter* interpreter, bool upward) {
    std::string result;
    if (!interpreter) return result;
    auto entry = [](const Game_Interpreter& i) {
        const bool map = i.mapEventId != -1;
        const bool common = i.commonEventId != -1;
        const int line = i.line - (i.children.empty() ? 0 : 1);
        char buffer[256];
        std::snprintf(buffer, sizeof buffer, "%s%s%s%s%s line%d", map ? "Ev" : "",
                      map ? std::to_string(i.mapEventId).c_str() : "", map ? " " : "",
                      common ? "Common" : "", common ? std::to_string(i.commonEventId).c_str() : "",
                      line);
        return std::string(buffer);
    };
    if (upward) {
        result += entry(*interpreter);
        for (const Game_Interpreter* i = interpreter->parent; i; i = i->parent) {
            result += " <- \r\n";
            result += entry(*i);
        }
        return result;
    }
    const Game_Interpreter* top = interpreter;
    while (top->parent) top = top->parent;
    result += entry(*top);
    for (const Game_Interpreter* i = top; !i->children.empty();) {
        i = &i->children.front();
        result += " -> \r\n";
        result += entry(*i);
    }
    return result;
}

std::string GetScriptLocationText() {
    std::string text = TranslateMessageUtf8(u"処理地点:【");
    const Game_Interpreter* running = RunningInterpreter;
    const int mapEvent = running ? running->mapEventId : CurrentMapEventId;
    const int commonEvent = running ? running->commonEventId : CurrentCommonEventId;
    const int line = running ? running->line : CurrentScriptLine;
    if (mapEvent != -1) text += FormatPiece(TranslateMessageUtf8(u"マップEv %d "), mapEvent);
    if (commonEvent != -1) text += FormatPiece(TranslateMessageUtf8(u"コモンEv %d "), commonEvent);
    text += FormatPiece(TranslateMessageUtf8(u"行 %d 】"), line);
    if (running && running->parent) {
        std::string chain = BuildCallStackText(running->parent, true);
        std::string joined;
        for (std::size_t i = 0; i < chain.size(); ++i) {
            if (chain[i] == '\r' && i + 1 < chain.size() && chain[i + 1] == '\n') {
                ++i;
                continue;
            }
            joined += chain[i];
        }
        text += "       <=[ ";
        text += joined;
        text += " ]";
    }
    return text;
}

bool DeleteErrorLog() {
    std::remove(kErrorLogFileName);
    return true;
}

bool AppendErrorLogLine(const std::string& text) {
    std::FILE* file = std::fopen(kErrorLogFileName, "ab");
    if (!file) return false;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fwrite("\r\n", 1, 2, file);
    std::fclose(file);
    return true;
}

void SetDebugFont() {
    const RuntimeErrorServices& s = Services();
    if (s.setDefaultFontFace) s.setDefaultFontFace(TranslateMessageUtf8(u"Meiryo"), -1);
    if (s.setDefaultFontSize) s.setDefaultFontSize(kDebugFontSize);
    if (s.setDefaultFontType) s.setDefaultFontType(ZiDaz::DX_FONTTYPE_ANTIALIASING);
    if (s.setDefaultFontThickness) s.setDefaultFontThickness(kDebugFontThickness);
}

namespace {

void ReportFromDataFiles(const std::string& line1, const std::string& line2,
                         const std::string& line3) {
    ReportRuntimeError(true, line1, line2, line3);
}

}  // namespace

void InstallRuntimeErrorReporting() {
    DataFileServices& s = GetDataFileServices();
    s.reportRuntimeError = ReportFromDataFiles;
    s.scriptLocation = GetScriptLocationText;
}
