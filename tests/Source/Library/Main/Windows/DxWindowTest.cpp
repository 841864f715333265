// The library's start, pump and end with its main window over SDL's dummy video driver: window
// sizes for the modes, styles and scales, activation and the inactive wait, the window procedure's
// own handling, the clipboard text, the socket hooks.
#include <SDL.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Main/DxBaseFunc.h"
#include "Main/DxBaseImage.h"
#include "Main/DxChar.h"
#include "Main/DxFile.h"
#include "Main/DxInput.h"
#include "Main/DxLog.h"
#include "Main/DxNetwork.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"
#include "platform/KernelObject.h"
#include "platform/User32.h"

using namespace ZiDaz;
namespace test = platform::user32test;

namespace {

std::vector<int> gTyped;
std::vector<UINT> gHooked;
LRESULT RecordingHook(HWND, UINT message, WPARAM, LPARAM) {
    gHooked.push_back(message);
    return 0;
}
int TypedSink(int code) {
    gTyped.push_back(code);
    return 0;
}

class LibraryWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MainWindow = MainWindowState{};
        LibrarySystem.initialised = 0;
        LibrarySystem.endRequested = 0;
        SetNarrowCharCode(CharEncoding::Utf8);  // as the runtime does before the start
        EnableLogOutput(0);                     // no Log.txt beside the tests
        StoreWindowModeFlag(1);
        handlesBefore_ = platform::OpenHandleCount();
        gTyped.clear();
        SetTypedCharacterSink(&TypedSink);
    }

    void TearDown() override {
        EndLibrary();
        // Later tests in this process start from a window that was never destroyed, and find the
        // image module as they left it (ending the library ends the module too).
        MainWindow = MainWindowState{};
        if (baseImageModuleStarted_ && BaseImageModuleState.Initialised == 0) {
            InitBaseImageModule();
        }
        SetTypedCharacterSink(nullptr);
        EXPECT_EQ(test::WindowCount(), 0);
        EXPECT_EQ(test::ClassCount(), 0);
        EXPECT_EQ(platform::OpenHandleCount(), handlesBefore_);
    }

    static RECT WindowRect() {
        RECT r{};
        platform::user32::GetWindowRect(MainWindow.mainWindow, &r);
        return r;
    }
    static RECT ClientRect() {
        RECT r{};
        platform::user32::GetClientRect(MainWindow.mainWindow, &r);
        return r;
    }
    static void Pump(int frames) {
        for (int i = 0; i < frames; ++i) PumpMessages();
    }

    std::size_t handlesBefore_ = 0;
    // Whether the image module ran before this test (a test may end and start the library again).
    const bool baseImageModuleStarted_ = BaseImageModuleState.Initialised != 0;
};

TEST_F(LibraryWindowTest, HeadlessStartPumpCloseAndEnd) {
    EXPECT_EQ(EndLibrary(), 0);  // not running: nothing to do
    ASSERT_EQ(SetWindowCaption("ゲームの題"), 0);
    ASSERT_EQ(StartLibrary(), 0);
    EXPECT_EQ(LibrarySystem.initialised, 1);
    EXPECT_EQ(LibrarySystem.initialising, 0);
    EXPECT_EQ(StartLibrary(), 0);  // already running
    ASSERT_NE(MainWindow.mainWindow, nullptr);
    EXPECT_EQ(std::u16string(MainWindow.className), u"ゲームの題");
    EXPECT_STREQ(SDL_GetWindowTitle(test::SdlWindowOf(MainWindow.mainWindow)), "ゲームの題");

    // A 640 x 480 client area under a caption, centred on the 1024 x 768 desktop.
    RECT client = ClientRect(), window = WindowRect();
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);
    EXPECT_EQ(window.left, (1024 - 646) / 2);
    EXPECT_EQ(window.top, (768 - 509) / 2);
    EXPECT_EQ(MainWindow.clientRectOnScreen.left, window.left + 3);
    EXPECT_EQ(MainWindow.clientRectOnScreen.top, window.top + 26);
    EXPECT_TRUE(SDL_GetWindowFlags(test::SdlWindowOf(MainWindow.mainWindow)) & SDL_WINDOW_SHOWN);
    EXPECT_FALSE(test::ScreenSaverAllowed());
    EXPECT_EQ(IsMainWindowActive(), 1);

    for (int i = 0; i < 5; ++i) EXPECT_EQ(PumpMessages(), 0);

    // The title changes while running.
    SetWindowCaption("別の題");
    EXPECT_STREQ(SDL_GetWindowTitle(test::SdlWindowOf(MainWindow.mainWindow)), "別の題");

    // The close button: WM_CLOSE destroys the window, the pump answers -1 from now on.
    test::InjectWindowEvent(MainWindow.mainWindow, SDL_WINDOWEVENT_CLOSE);
    EXPECT_EQ(PumpMessages(), -1);
    EXPECT_EQ(PumpMessages(), -1);
    EXPECT_EQ(CheckWindowCloseRequest(0), 1);
    EXPECT_EQ(IsLibraryEndRequested(), 1);
    EXPECT_EQ(MainWindow.destroyed, 1);
    EXPECT_EQ(WaitWhileWindowInactive(), 1);  // the window is gone: nothing to wait for

    EXPECT_EQ(EndLibrary(), 0);
    EXPECT_EQ(LibrarySystem.initialised, 0);
    EXPECT_EQ(test::WindowCount(), 0);
    EXPECT_EQ(test::ClassCount(), 0);
    EXPECT_TRUE(test::ScreenSaverAllowed());

    // A new start runs the whole start again, and the end without a close closes the window.
    ASSERT_EQ(StartLibrary(), 0);
    EXPECT_EQ(IsLibraryEndRequested(), 0);
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_EQ(EndLibrary(), 0);
    EXPECT_EQ(test::WindowCount(), 0);
}

TEST_F(LibraryWindowTest, StartedLibraryWiresClocksFilesAndTheWaitsPump) {
    ASSERT_EQ(StartLibrary(), 0);
    // The clocks use the counter the window start chose.
    EXPECT_EQ(HighResolutionClock.counterPresent, MainWindow.counterPresent);
    EXPECT_NE(HighResolutionClock.frequency, 0u);
    // The file module came up with the window: a second start is refused.
    EXPECT_EQ(StartFileModule(), -1);

    // A message posted to the main window is dispatched while the game waits.
    gHooked.clear();
    SetWindowMessageHook(&RecordingHook);
    ASSERT_TRUE(platform::user32::PostMessageW(MainWindow.mainWindow, WM_USER + 7, 0, 0));
    EXPECT_EQ(WaitPumpingMessages(20), 0);
    EXPECT_NE(std::find(gHooked.begin(), gHooked.end(), WM_USER + 7), gHooked.end());
    SetWindowMessageHook(nullptr);

    // The close button during a long wait destroys the window and ends the wait early.
    test::InjectWindowEvent(MainWindow.mainWindow, SDL_WINDOWEVENT_CLOSE);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitPumpingMessages(2000), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(MainWindow.destroyed, 1);
    EXPECT_EQ(IsLibraryEndRequested(), 1);

    // The library's end takes the file module down again.
    EXPECT_EQ(EndLibrary(), 0);
    EXPECT_EQ(EndFileModule(), -1);
}

TEST_F(LibraryWindowTest, StartedLibraryReadsTheKeyboardThroughItsPump) {
    ASSERT_EQ(StartLibrary(), 0);
    EXPECT_EQ(InputSystem.initialised, 1);  // input starts with the window

    constexpr int kKeyZ = 0x2C;  // the DirectInput code of Z
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.scancode = SDL_SCANCODE_Z;
    test::InjectEvent(e);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // one read per clock tick
    Pump(2);
    EXPECT_EQ(IsKeyDown(kKeyZ), 1);

    e.type = SDL_KEYUP;
    e.key.state = SDL_RELEASED;
    test::InjectEvent(e);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Pump(2);
    EXPECT_EQ(IsKeyDown(kKeyZ), 0);

    EXPECT_EQ(EndLibrary(), 0);
    EXPECT_EQ(InputSystem.initialised, 0);  // and ends with it
}

// A counter that never moves loses the precision test to the multimedia timer.
BOOL FrozenCounter(LARGE_INTEGER* count) {
    count->QuadPart = 12345;
    return TRUE;
}

TEST_F(LibraryWindowTest, ClocksFallingBackToTheMultimediaTimerCountInMilliseconds) {
    EnsureSystemApiTable();
    SystemApi.QueryPerformanceCounter = &FrozenCounter;
    ASSERT_EQ(StartLibrary(), 0);
    EXPECT_EQ(MainWindow.counterPresent, 0);
    EXPECT_EQ(HighResolutionClock.counterPresent, 0);
    // Ticks are now milliseconds: a 30 ms wait lasts 30 ms, not 30 seconds and not nothing.
    EXPECT_EQ(MillisecondsToTicks(30), 30);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitPumpingMessages(30), 0);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(29));
    EXPECT_LT(waited, std::chrono::milliseconds(1000));
    EXPECT_EQ(EndLibrary(), 0);  // releases the table, and with it the stand-in counter
}

TEST_F(LibraryWindowTest, NoTitleGivesTheDefaultClassAndTitle) {
    ASSERT_EQ(StartLibrary(), 0);
    EXPECT_EQ(std::u16string(MainWindow.className), u"D123987X");
    EXPECT_EQ(std::u16string(MainWindow.title), u"ZiDaz");
    char16_t text[32];
    platform::user32::GetWindowTextW(MainWindow.mainWindow, text, 32);
    EXPECT_EQ(std::u16string(text), u"ZiDaz");
}

TEST_F(LibraryWindowTest, ModesStylesAndScalesGiveTheirSizes) {
    struct Case {
        int styleMode;
        double scale;
        int resizable;
        int clientW, clientH;
        RECT window;  // expected window rectangle
    } cases[] = {
        // A caption and a fixed frame (3, 26 + 3): centred.
        {0, 1.0, 0, 640, 480, {189, 129, 189 + 646, 129 + 509}},
        {3, 1.0, 0, 640, 480, {189, 129, 189 + 646, 129 + 509}},
        // No frame at all.
        {2, 1.0, 0, 640, 480, {192, 144, 832, 624}},
        // A sizing frame (8, 31 + 8) and a 1.5 scale.
        {7, 1.5, 1, 960, 720, {24, 4, 24 + 976, 4 + 759}},
        // Larger than the desktop: the client area's corner is kept on the display.
        {2, 2.0, 0, 1280, 960, {0, 0, 1280, 960}},
        {0, 2.0, 0, 1280, 960, {-3, -26, -3 + 1286, -26 + 989}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "style " << c.styleMode << " scale " << c.scale);
        MainWindow = MainWindowState{};
        StoreWindowModeFlag(1);
        ASSERT_EQ(SelectWindowStyle(c.styleMode), 0);
        SetWindowScaleFactors(c.scale, 0);
        SetWindowResizable(c.resizable, 1);
        ASSERT_EQ(StartLibrary(), 0);
        RECT client = ClientRect(), window = WindowRect();
        EXPECT_EQ(client.right, c.clientW);
        EXPECT_EQ(client.bottom, c.clientH);
        EXPECT_EQ(window.left, c.window.left);
        EXPECT_EQ(window.top, c.window.top);
        EXPECT_EQ(window.right, c.window.right);
        EXPECT_EQ(window.bottom, c.window.bottom);
        EXPECT_EQ(EndLibrary(), 0);
    }
}

TEST_F(LibraryWindowTest, ScaleSettersAndStyleLimits) {
    SetWindowScaleFactors(2.0, 0);
    double x = 0, y = 0;
    EXPECT_EQ(GetWindowScaleFactors(&x, &y), 2.0);
    EXPECT_EQ(y, 2.0);
    SetWindowScaleFactors(-1, -1);
    GetWindowScaleFactors(&x, &y);
    EXPECT_EQ(x, 1.0);
    EXPECT_EQ(y, 1.0);
    EXPECT_EQ(SelectWindowStyle(12), -1);
    EXPECT_EQ(MainWindow.styleMode, 0);
    EXPECT_EQ(TruncateDoubleToInt(-2.7), -2);

    // While running, a new scale re-applies the window's size at once.
    ASSERT_EQ(StartLibrary(), 0);
    SetWindowScaleFactors(1.25, 0);
    EXPECT_EQ(ClientRect().right, 800);
    EXPECT_EQ(ClientRect().bottom, 600);
    EXPECT_EQ(WindowRect().left, (1024 - 806) / 2);
}

TEST_F(LibraryWindowTest, SwitchingToFullScreenAndBack) {
    ASSERT_EQ(StartLibrary(), 0);
    ASSERT_EQ(ChangeWindowMode(0), 0);
    EXPECT_EQ(IsWindowedMode(), 0);
    EXPECT_EQ(platform::user32::GetWindowLongW(MainWindow.mainWindow, GWL_STYLE) & WS_CAPTION, 0);
    EXPECT_NE(platform::user32::GetWindowLongW(MainWindow.mainWindow, GWL_EXSTYLE) & WS_EX_TOPMOST,
              0);
    RECT window = WindowRect();
    EXPECT_EQ(window.left, 0);
    EXPECT_EQ(window.top, 0);
    EXPECT_EQ(MainWindow.clientRectOnScreen.right, 1024);
    EXPECT_EQ(MainWindow.clientRectOnScreen.bottom, 768);
    EXPECT_EQ(MainWindow.cursorSetting, 0);
    GetWindowScaleFactors(nullptr, nullptr);
    Pump(2);

    ASSERT_EQ(ChangeWindowMode(1), 0);
    EXPECT_EQ(IsWindowedMode(), 1);
    EXPECT_EQ(ClientRect().right, 640);
    EXPECT_EQ(ClientRect().bottom, 480);
    window = WindowRect();
    EXPECT_EQ(window.left, 189);
    EXPECT_EQ(window.top, 129);
    EXPECT_EQ(platform::user32::GetWindowLongW(MainWindow.mainWindow, GWL_EXSTYLE) & WS_EX_TOPMOST,
              0);
    EXPECT_EQ(ChangeWindowMode(1), 0);  // no change
}

TEST_F(LibraryWindowTest, StartingInFullScreenCoversTheDisplay) {
    StoreWindowModeFlag(0);
    ASSERT_EQ(StartLibrary(), 0);
    RECT window = WindowRect();
    EXPECT_EQ(window.left, 0);
    EXPECT_EQ(window.top, 0);
    EXPECT_EQ(window.right, 1024);
    EXPECT_EQ(window.bottom, 768);
    EXPECT_EQ(MainWindow.cursorSetting, 0);
}

TEST_F(LibraryWindowTest, ActivationAndTheInactiveWait) {
    ASSERT_EQ(StartLibrary(), 0);
    HWND window = MainWindow.mainWindow;
    EXPECT_EQ(IsInactiveWaitNeeded(), 0);

    // Losing the focus reaches the handler (after the pump's dispatch).
    test::InjectWindowEvent(window, SDL_WINDOWEVENT_FOCUS_LOST);
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_EQ(IsMainWindowActive(), 0);
    EXPECT_EQ(MainWindow.stock.count, 0);
    EXPECT_EQ(IsInactiveWaitNeeded(), 1);
    SetKeepRunningWhenInactive(1);
    EXPECT_EQ(IsInactiveWaitNeeded(), 0);
    SetKeepRunningWhenInactive(0);

    // The wait returns once the window is active again.
    std::thread activator([&] {
        SDL_Delay(50);
        test::InjectWindowEvent(window, SDL_WINDOWEVENT_FOCUS_GAINED);
    });
    EXPECT_EQ(WaitWhileWindowInactive(), 0);
    activator.join();
    EXPECT_EQ(IsMainWindowActive(), 1);
    EXPECT_NE(MainWindow.inactiveWaitStart, -1);

    // Minimising counts as inactive; with a close request the pump leaves after 10 passes.
    test::InjectWindowEvent(window, SDL_WINDOWEVENT_MINIMIZED);
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_EQ(MainWindow.minimized, 1);
    EXPECT_EQ(IsInactiveWaitNeeded(), 1);
    MainWindow.closeRequest = 1;
    EXPECT_EQ(PumpMessages(), 0);
    MainWindow.closeRequest = 0;
    test::InjectWindowEvent(window, SDL_WINDOWEVENT_RESTORED);
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_EQ(IsMainWindowActive(), 1);
    EXPECT_EQ(MainWindow.minimized, 0);

    // The wait also ends when the window is closed meanwhile.
    test::InjectWindowEvent(window, SDL_WINDOWEVENT_FOCUS_LOST);
    PumpMessages();
    std::thread closer([&] {
        SDL_Delay(50);
        test::InjectWindowEvent(window, SDL_WINDOWEVENT_CLOSE);
    });
    EXPECT_EQ(WaitWhileWindowInactive(), -1);
    closer.join();
    EXPECT_EQ(WaitWhileWindowInactive(), 1);  // ending: no wait
}

TEST_F(LibraryWindowTest, StockedActivationsAreHandledInOrder) {
    ASSERT_EQ(StartLibrary(), 0);
    MainWindow.stockSwitch = 1;
    StockActivation(WA_INACTIVE, 0, 0, 0);
    StockActivation(WA_ACTIVE, 0, 0, 0);
    StockActivation(WA_INACTIVE, 0, 0, 0);
    EXPECT_EQ(MainWindow.stock.count, 3);
    EXPECT_EQ(IsMainWindowActive(), 1);  // not handled yet
    PumpMessages();
    EXPECT_EQ(MainWindow.stock.count, 0);
    EXPECT_EQ(IsMainWindowActive(), 0);  // the last one wins
    // A full stock hands the event over at once.
    MainWindow.stockSwitch = 1;
    MainWindow.stock.count = kActivationStockSize;
    StockActivation(WA_ACTIVE, 0, 0, 0);
    EXPECT_EQ(IsMainWindowActive(), 1);
    MainWindow.stock.count = 0;
    MainWindow.stockSwitch = 0;
}

TEST_F(LibraryWindowTest, WindowProcedureAnswers) {
    ASSERT_EQ(StartLibrary(), 0);
    HWND w = MainWindow.mainWindow;
    using platform::user32::SendMessageW;

    // Alt+key: answered 0, remembered.
    EXPECT_EQ(SendMessageW(w, WM_SYSCHAR, 'x', 0), 0);
    EXPECT_EQ(MainWindow.lastSysChar, 'x');
    // The wheel: a turn against the collected direction starts over.
    SendMessageW(w, WM_MOUSEWHEEL, static_cast<WPARAM>(120) << 16, 0);
    SendMessageW(w, WM_MOUSEWHEEL, static_cast<WPARAM>(120) << 16, 0);
    SendMessageW(w, WM_MOUSEWHEEL, static_cast<WPARAM>(static_cast<WORD>(-120)) << 16, 0);
    EXPECT_EQ(MainWindow.wheelVertical, -120);
    // The socket notification finds no network handle.
    EXPECT_EQ(SendMessageW(w, 1285, 1, 2), 0);
    // The screen saver and monitor power-off are refused.
    EXPECT_EQ(SendMessageW(w, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 1);

    // Typed characters: line feed becomes 13, some control codes are dropped, the cursor keys
    // give control codes, and an unchanged code within 40 ms is dropped on Windows 10 and later.
    SendMessageW(w, WM_CHAR, 'a', 0);
    SendMessageW(w, WM_CHAR, 10, 0);
    SendMessageW(w, WM_CHAR, 2, 0);
    SendMessageW(w, WM_KEYDOWN, VK_LEFT, 0);
    SendMessageW(w, WM_KEYDOWN, 'A', 0);
    EXPECT_EQ(gTyped, (std::vector<int>{'a', 13, 0x1D}));
    SystemReport.windowsVersionCode = 268;
    gTyped.clear();
    SendMessageW(w, WM_CHAR, 8, 0);
    SendMessageW(w, WM_CHAR, 8, 0);
    SendMessageW(w, WM_CHAR, 'b', 0);
    EXPECT_EQ(gTyped, (std::vector<int>{8, 'b'}));

    // Dragging a corner of a stretchable window keeps the image's proportions.
    SetWindowResizable(1, 1);
    RECT proposed = WindowRect();
    proposed.right += 200;
    proposed.bottom += 10;
    SendMessageW(w, WM_SIZING, 8, reinterpret_cast<LPARAM>(&proposed));
    int frameW = 16, frameH = 39;
    int clientW = proposed.right - proposed.left - frameW;
    int clientH = proposed.bottom - proposed.top - frameH;
    EXPECT_EQ(clientW * 480, clientH * 640);
    EXPECT_EQ(MainWindow.scaleX, MainWindow.scaleY);
    EXPECT_DOUBLE_EQ(MainWindow.scaleX, clientW / 640.0);

    // Screen points map through the client origin and the scale.
    MainWindow.scaleX = MainWindow.scaleY = 2.0;
    int ix = 0, iy = 0;
    ScreenPointToImagePoint(MainWindow.clientRectOnScreen.left + 100,
                            MainWindow.clientRectOnScreen.top + 51, &ix, &iy);
    EXPECT_EQ(ix, 50);
    EXPECT_EQ(iy, 25);
}

TEST_F(LibraryWindowTest, OptionalFeaturesStayOff) {
    ASSERT_EQ(StartLibrary(), 0);
    EXPECT_EQ(IsWindowMenuShown(), 0);
    EXPECT_EQ(MeasureToolbarHeight(), 0);
    EXPECT_EQ(ToolbarButtonIndex(1280), -1);
    EXPECT_EQ(SetWindowRegionImage(nullptr), 0);
    EXPECT_EQ(BuildToolbar(nullptr, 0, -1), 0);
    EXPECT_EQ(EnableWindowMenu(0), 0);
    EXPECT_EQ(DrawInactiveScreen(nullptr), -1);
    EXPECT_EQ(PumpNetworkWindowMessages(1), 0);
    EXPECT_EQ(ShutdownNetwork(), 0);
    EXPECT_EQ(Network.started, 0);
    EXPECT_EQ(AcceptNetWork(1), -1);
    EXPECT_EQ(RecvSocket(1), -1);
    EXPECT_EQ(SendSocket(1), -1);
    EXPECT_EQ(StartComApartment(), 0 == MainWindow.comInitialised ? 0 : -1);
}

TEST_F(LibraryWindowTest, ClipboardTextThroughTheLibrary) {
    ASSERT_EQ(StartLibrary(), 0);
    const std::u16string text = u"クリップ\U0001F600";
    EXPECT_EQ(WriteClipboardWideText(text.c_str()), 0);
    int size = ReadClipboardWideText(nullptr);
    EXPECT_EQ(size, static_cast<int>((text.size() + 1) * 2) + 1);
    std::vector<char16_t> buffer(static_cast<std::size_t>(size));
    EXPECT_EQ(ReadClipboardWideText(buffer.data()), 0);
    EXPECT_EQ(std::u16string(buffer.data()), text);

    // A clipboard that grew after the size query is cut to the size reported then.
    WriteClipboardWideText(u"ab");
    std::vector<char16_t> small(static_cast<std::size_t>(ReadClipboardWideText(nullptr)));
    WriteClipboardWideText(u"a much longer text than before");
    EXPECT_EQ(ReadClipboardWideText(small.data()), 0);
    EXPECT_EQ(std::u16string(small.data()), u"a ");
}

TEST_F(LibraryWindowTest, LastErrorRecordAndTheEndRequest) {
    EXPECT_EQ(RecordLastError(kErrorWindowCreation, u"失敗"), 0);
    EXPECT_EQ(LibrarySystem.lastErrorCode, kErrorWindowCreation);
    EXPECT_EQ(std::u16string(LibrarySystem.lastErrorText), u"失敗");
    RecordLastError(1, nullptr);
    EXPECT_EQ(LibrarySystem.lastErrorText[0], 0);
    RequestLibraryEnd();
    EXPECT_EQ(IsLibraryEndRequested(), 1);
    ClearLibraryEndRequest();
    EXPECT_EQ(IsLibraryEndRequested(), 0);
    EnableASyncLoad(5);
    EXPECT_EQ(IsASyncLoadEnabled(), 1);
    EnableASyncLoad(0);
    EXPECT_EQ(IsASyncLoadEnabled(), 0);
}

TEST_F(LibraryWindowTest, SocketNotificationIsLoggedOnce) {
    char folder[] = "/tmp/velk-window-logXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(chdir(folder), 0);
    // The log keeps the folder it first wrote to; this run's log goes into this folder.
    LibraryLog.folder[0] = 0;
    EnableLogOutput(1);
    ASSERT_EQ(StartLibrary(), 0);
    EXPECT_EQ(platform::user32::SendMessageW(MainWindow.mainWindow, 1285, 7, 0), 0);
    EXPECT_EQ(EndLibrary(), 0);
    std::ifstream in(std::string(folder) + "/Log.txt", std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    std::string log = content.str();
    std::size_t first = log.find("通信エラー No.1\r\n");
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("通信エラー No.1", first + 1), std::string::npos);
    EXPECT_NE(log.find("RAvorazの初期化処理開始"), std::string::npos);
    EXPECT_NE(log.find("ウインドウの作成に成功しました"), std::string::npos);
    EXPECT_EQ(chdir(previous), 0);
    std::remove((std::string(folder) + "/Log.txt").c_str());
    rmdir(folder);
    LibraryLog.folder[0] = 0;
    EnableLogOutput(0);
}

TEST(LibraryAbortTest, AbortEndsTheLibraryAndTheProcess) {
    EXPECT_EXIT(
        {
            EnableLogOutput(0);
            MainWindow = MainWindowState{};
            StoreWindowModeFlag(1);
            StartLibrary();
            AbortLibraryWithFormatUtf16(u"止まります %d", 3);
        },
        testing::ExitedWithCode(255), "");
}

}  // namespace
