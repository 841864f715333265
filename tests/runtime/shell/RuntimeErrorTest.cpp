#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ShellTestSupport.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ReportCapture.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/TextConversion.h"

using shell_test::CapturedReport;
using shell_test::ReportCapture;

namespace {

// What the report drew, said and waited for.
struct Recorder {
    static inline std::vector<std::string> calls;
    static inline std::vector<ReportWaitInput> inputs;
    static inline int rounds = 0;
    static inline int pumpResult = 0;
    static inline int quitRequested = 0;
};

void InstallRecordingServices() {
    RuntimeErrorServices& s = GetRuntimeErrorServices();
    s.flushDirtySaves = [] { Recorder::calls.push_back("Flush"); };
    s.setDefaultFontFace = [](const char* face, int set) {
        Recorder::calls.push_back("Face " + std::string(face) + " " + std::to_string(set));
    };
    s.setDefaultFontSize = [](int size) {
        Recorder::calls.push_back("Size " + std::to_string(size));
    };
    s.setDefaultFontType = [](int type) {
        Recorder::calls.push_back("Type " + std::to_string(type));
    };
    s.setDefaultFontThickness = [](int t) {
        Recorder::calls.push_back("Thickness " + std::to_string(t));
    };
    s.setBlendMode = [](int mode, int p) {
        Recorder::calls.push_back("Blend " + std::to_string(mode) + " " + std::to_string(p));
        return 0;
    };
    s.setDrawBrightness = [](int r, int g, int b) {
        Recorder::calls.push_back("Bright " + std::to_string(r) + " " + std::to_string(g) + " " +
                                  std::to_string(b));
        return 0;
    };
    s.composeScreenColor = [](int r, int g, int b) {
        return static_cast<unsigned>((r << 16) | (g << 8) | b);
    };
    s.paintRectangle = [](int x1, int y1, int x2, int y2, unsigned c, int fill) {
        Recorder::calls.push_back("Box " + std::to_string(x1) + " " + std::to_string(y1) + " " +
                                  std::to_string(x2) + " " + std::to_string(y2) + " " +
                                  std::to_string(c) + " " + std::to_string(fill));
        return 0;
    };
    // Ten pixels per byte.
    s.measureTextWidth = [](const char*, int bytes) { return bytes * 10; };
    s.drawText = [](int x, int y, const char* text, unsigned c, unsigned edge) {
        Recorder::calls.push_back("Text " + std::to_string(x) + " " + std::to_string(y) + " [" +
                                  text + "] " + std::to_string(c) + " " + std::to_string(edge));
        return 0;
    };
    s.flipScreen = [] {
        Recorder::calls.push_back("Flip");
        return 0;
    };
    s.showMessageBox = [](const std::u16string& text, const std::u16string&) {
        Recorder::calls.push_back("MessageBox " + std::string(ConvertWideToUtf8(text.c_str())));
    };
    s.refreshDebugWindow = [] { Recorder::calls.push_back("Refresh"); };
    s.isWindowQuitRequested = [] { return Recorder::quitRequested; };
    s.pumpMessages = [] { return Recorder::pumpResult; };
    s.readWaitInput = [](ReportWaitInput& input) {
        const std::size_t i = static_cast<std::size_t>(Recorder::rounds++);
        input = i < Recorder::inputs.size() ? Recorder::inputs[i] : Recorder::inputs.back();
    };
    s.handleSystemKeys = [] { Recorder::calls.push_back("SystemKeys"); };
    s.waitPumpingMessages = [](int ms) { Recorder::calls.push_back("Wait " + std::to_string(ms)); };
}

class RuntimeErrorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallRecordingServices();
        Recorder::calls.clear();
        Recorder::inputs = {ReportWaitInput{}};
        Recorder::inputs[0].decidePressed = true;
        Recorder::rounds = 0;
        Recorder::pumpResult = 0;
        Recorder::quitRequested = 0;
        std::filesystem::current_path(folder.path());
        TheGameSystem = Game_System();
        TheGameSystem.gameState = GameState::Run;
        UiLanguage = 0;
        ExeFolder = "/games/velk/";
        ScreenWidth = 640;
        WindowScale = 1;
        RunningInterpreter = nullptr;
        CurrentMapEventId = CurrentCommonEventId = -1;
        CurrentScriptLine = 0;
        CommandStepCounter = 0;
        DebugWindowText.clear();
        LastErrorText.clear();
        TheSystemState.baseFontSize = 22;
    }
    void TearDown() override {
        ResetRuntimeErrorServices();
        TheGameSystem = Game_System();
        ExeFolder.clear();
        CommandStepCounter = 0;
        TheSystemState = Game_SystemState(Game_SystemState::QuietConstruction{});
    }

    std::string Log() const { return shell_test::ReadBytes(kErrorLogFileName); }

    shell_test::ScratchFolder folder;
};

}  // namespace

TEST_F(RuntimeErrorTest, TheExecutableFolderIsCutFromTheTexts) {
    struct Case {
        std::string first, second, third;
        CapturedReport logged;
    };
    const std::vector<Case> cases = {
        {"読めません /games/velk/Data/map.dat",
         "/games/velk/Data/a.png",
         "x /games/velk/b",
         {"Data/map.dat", "Data/a.png", "x /games/velk/b"}},
        {"/games/velk/", "", "/games/velk/c/games/velk/", {"", "", "c/games/velk/"}},
        {"no folder here",
         "see /games/velk/Data/x",
         "",
         {"no folder here", "see /games/velk/Data/x", ""}},
        {"a /games/velk/ b /games/velk/ c", "", "", {" b /games/velk/ c", "", ""}},
    };
    ReportCapture capture;
    for (const Case& c : cases) ReportRuntimeError(false, c.first, c.second, c.third);
    ASSERT_EQ(ReportCapture::reports().size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(ReportCapture::reports()[i], cases[i].logged);
    // The hook takes the place of the log, the box and the wait.
    EXPECT_FALSE(std::filesystem::exists(kErrorLogFileName));
    EXPECT_TRUE(Recorder::calls.empty());
    EXPECT_EQ(LastErrorText, " b /games/velk/ c\n\n");
}

TEST_F(RuntimeErrorTest, EachReportAppendsFourLinesToTheLogDeletedAtStart) {
    shell_test::WriteBytes(kErrorLogFileName, "from the last run\r\n");
    EXPECT_TRUE(DeleteErrorLog());
    EXPECT_FALSE(std::filesystem::exists(kErrorLogFileName));
    ReportRuntimeError(true, "一つ目 /games/velk/Data/x.png", "二行目", "");
    ReportRuntimeError(false, "", "", "");
    EXPECT_EQ(Log(),
              "Data/x.png\r\n二行目\r\n\r\n--------------------\r\n"
              "\r\n\r\n\r\n--------------------\r\n");
    EXPECT_EQ(std::count(Recorder::calls.begin(), Recorder::calls.end(), "Flush"), 1);
}

TEST_F(RuntimeErrorTest, TheBoxIsDrawnOverTheScreenAndLongTextsTakeTwoLines) {
    // 63 bytes fit in 640 pixels; the first text has 66 (a three-byte character straddles the
    // middle), the third is never cut.
    const std::string first = std::string(32, 'a') + "語" + std::string(31, 'b');
    const std::string third(80, 'c');
    ReportRuntimeError(false, first, "short", third);
    const std::vector<std::string> expected = {
        "Face Meiryo -1",
        "Size 11",
        "Type 2",
        "Thickness 5",
        "Blend 1 240",
        "Box 0 192 640 288 12800 1",
        "Blend 0 255",
        "Bright 255 255 255",
        "Text 10 200 [" + std::string(32, 'a') + "] 16777215 0",
        "Text 10 210 [語" + std::string(31, 'b') + "] 16777215 0",
        "Text 10 234 [short] 16777215 0",
        "Text 10 260 [" + third + "] 16777215 0",
        "Flip",
        "Refresh",
        "Size 22",
    };
    EXPECT_EQ(Recorder::calls, expected);
    // Three empty texts draw three empty lines.
    Recorder::calls.clear();
    WindowScale = 2;
    ScreenWidth = 641;
    ReportRuntimeError(false, "", "", "");
    EXPECT_EQ(Recorder::calls[5], "Box 0 192 640 288 12800 1");
    EXPECT_EQ(Recorder::calls[8], "Text 10 200 [] 16777215 0");
    EXPECT_EQ(Recorder::calls[10], "Text 10 260 [] 16777215 0");
}

TEST_F(RuntimeErrorTest, WithoutTextDrawingTheBoxIsAMessageBox) {
    GetRuntimeErrorServices().drawText = nullptr;
    GetRuntimeErrorServices().readWaitInput = nullptr;
    ReportRuntimeError(false, "one", "two", "three");
    EXPECT_EQ(Recorder::calls,
              (std::vector<std::string>{"MessageBox one\ntwo\nthree", "Refresh", "Size 22"}));
    // The shell's own message box, which has already waited for the player.
    ResetRuntimeErrorServices();
    GetRuntimeErrorServices().drawText = nullptr;
    shell_test::MessageBoxCapture box;
    ReportRuntimeError(false, "a", "b", "c");
    EXPECT_EQ(box.count(), 1);
    EXPECT_EQ(box.text(), u"a\nb\nc");
    EXPECT_EQ(box.caption(), u"エラー");
}

TEST_F(RuntimeErrorTest, TheWaitEndsOnAPressALongHoldOrTheSystemKeys) {
    struct Case {
        const char* name;
        std::vector<ReportWaitInput> inputs;
        int rounds;
        bool systemKeys;
    };
    ReportWaitInput none, press, held, mouseHeld, mousePress, f12, f11;
    press.decidePressed = true;
    held.decideHeld = true;
    mouseHeld.leftMouseHeld = true;
    mousePress.leftMousePressed = true;
    f12.f12Held = true;
    f11.f11Held = true;
    const std::vector<Case> cases = {
        {"a fresh press", {none, none, press}, 3, false},
        {"a mouse click", {mousePress}, 1, false},
        {"Decide held from before", {held}, 11, false},
        {"the mouse held", {mouseHeld}, 11, false},
        {"a hold that lets go starts again", {held, held, none, held}, 14, false},
        {"F12", {none, f12}, 2, true},
        {"F11", {f11}, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder::calls.clear();
        Recorder::inputs = c.inputs;
        Recorder::rounds = 0;
        ReportRuntimeError(false, "x", "", "");
        EXPECT_EQ(Recorder::rounds, c.rounds);
        EXPECT_EQ(std::count(Recorder::calls.begin(), Recorder::calls.end(), "SystemKeys"),
                  c.systemKeys ? 1 : 0);
        EXPECT_EQ(std::count(Recorder::calls.begin(), Recorder::calls.end(), "Wait 16"),
                  c.rounds - 1);
        EXPECT_EQ(TheGameSystem.gameState, GameState::Run);
    }
}

TEST_F(RuntimeErrorTest, AClosedWindowTakesTheQuitPath) {
    Recorder::quitRequested = 1;
    ReportRuntimeError(false, "gone", "", "");
    EXPECT_EQ(TheGameSystem.gameState, GameState::Quit);
    EXPECT_EQ(CommandStepCounter, 5000000);
    EXPECT_EQ(Log(), "gone\r\n\r\n\r\n--------------------\r\n");
    EXPECT_TRUE(Recorder::calls.empty());
    EXPECT_TRUE(LastErrorText.empty());
    // A close during the wait.
    TheGameSystem.gameState = GameState::Run;
    CommandStepCounter = 0;
    Recorder::quitRequested = 0;
    Recorder::pumpResult = -1;
    ReportRuntimeError(false, "closed while waiting", "", "");
    EXPECT_EQ(TheGameSystem.gameState, GameState::Quit);
    EXPECT_EQ(CommandStepCounter, 5000000);
    EXPECT_EQ(Recorder::rounds, 0);
}

TEST_F(RuntimeErrorTest, ReportsAreDroppedDuringASceneReloadOrOutsideRun) {
    ReportCapture capture;
    TheGameSystem.sceneReloadRequested = 1;
    ReportRuntimeError(true, "reload", "", "");
    TheGameSystem.sceneReloadRequested = 0;
    for (GameState state : {GameState::Restart, GameState::Quit}) {
        TheGameSystem.gameState = state;
        ReportRuntimeError(true, "not running", "", "");
    }
    EXPECT_TRUE(ReportCapture::reports().empty());
    EXPECT_TRUE(Recorder::calls.empty());
    EXPECT_TRUE(DebugWindowText.empty());
    EXPECT_FALSE(std::filesystem::exists(kErrorLogFileName));
}

TEST_F(RuntimeErrorTest, TheDebugTextAndTheLastErrorText) {
    CurrentMapEventId = 3;
    CurrentCommonEventId = 5;
    CurrentScriptLine = 12;
    ReportRuntimeError(false, "エラー", "b", "c");
    const std::string locale = GameCodePageLocale();
    EXPECT_EQ(DebugWindowText,
              ConvertUtf8ToCodePage(locale.c_str(), "エラー") + std::string("\r\nb\r\nc") +
                  ConvertUtf8ToCodePage(locale.c_str(), " -->[MapEv3/ｺﾓﾝ5/12行]") + "\r\n");
    EXPECT_EQ(LastErrorText, "エラー\nb\nc");
    DebugWindowText.clear();
    CurrentMapEventId = CurrentCommonEventId = -1;
    CurrentScriptLine = 0;
    ReportRuntimeError(false, "a", "", "");
    EXPECT_EQ(
        DebugWindowText,
        "a\r\n\r\n" + std::string(ConvertUtf8ToCodePage(locale.c_str(), " -->[0行]")) + "\r\n");
}

TEST_F(RuntimeErrorTest, ALogThatCannotBeOpenedIsNeverThrownAway) {
    std::filesystem::create_directory(kErrorLogFileName);
    shell_test::WriteBytes(std::string(kErrorLogFileName) + "/keep", "earlier");
    EXPECT_FALSE(AppendErrorLogLine("lost"));
    ReportRuntimeError(false, "still shown", "", "");
    EXPECT_EQ(shell_test::ReadBytes(std::string(kErrorLogFileName) + "/keep"), "earlier");
    EXPECT_NE(std::find(Recorder::calls.begin(), Recorder::calls.end(),
                        "Text 10 200 [still shown] 16777215 0"),
              Recorder::calls.end());
    std::filesystem::remove_all(kErrorLogFileName);
}

TEST_F(RuntimeErrorTest, LocationTextsOfACallChain) {
    EXPECT_EQ(GetScriptLocationText(), "処理地点:【行 0 】");
    CurrentScriptLine = 7;
    CurrentMapEventId = 2;
    EXPECT_EQ(GetScriptLocationText(), "処理地点:【マップEv 2 行 7 】");
    EXPECT_EQ(BuildCallStackText(nullptr, true), "");

    Game_Interpreter a;
    a.mapEventId = 4;
    a.line = 10;
    Game_Interpreter& b = a.AddChild();
    b.commonEventId = 7;
    b.line = 3;
    Game_Interpreter& c = b.AddChild();
    c.commonEventId = 9;
    c.line = 2;
    EXPECT_EQ(BuildCallStackText(&c, true), "Common9 line2 <- \r\nCommon7 line2 <- \r\nEv4  line9");
    for (const Game_Interpreter* i : {&a, &b, &c}) {
        EXPECT_EQ(BuildCallStackText(i, false),
                  "Ev4  line9 -> \r\nCommon7 line2 -> \r\nCommon9 line2");
    }
    RunningInterpreter = &c;
    EXPECT_EQ(GetScriptLocationText(),
              "処理地点:【コモンEv 9 行 2 】       <=[ Common7 line2 <- Ev4  line9 ]");
    c.mapEventId = 12;
    // The quoted entry format puts a blank after the map event and another before "line".
    EXPECT_EQ(BuildCallStackText(&c, true).substr(0, 18), "Ev12 Common9 line2");
    RunningInterpreter = &a;
    EXPECT_EQ(GetScriptLocationText(), "処理地点:【マップEv 4 行 10 】");
    // A copied chain keeps its own links.
    Game_Interpreter copy = a;
    EXPECT_EQ(copy.children[0].parent, &copy);
    EXPECT_EQ(copy.children[0].children[0].parent, &copy.children[0]);
    RunningInterpreter = nullptr;
}

TEST_F(RuntimeErrorTest, TheDataFileReadersReportThroughIt) {
    InstallRuntimeErrorReporting();
    ReportCapture capture;
    GetDataFileServices().reportRuntimeError("d1", "d2", "d3");
    EXPECT_EQ(GetDataFileServices().scriptLocation(), "処理地点:【行 0 】");
    ResetDataFileServices();
    EXPECT_EQ(ReportCapture::reports(), (std::vector<CapturedReport>{{"d1", "d2", "d3"}}));
}
