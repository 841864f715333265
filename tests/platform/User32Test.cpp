// The user32 layer over SDL2's dummy video driver: windows and their rectangles, the message
// queue, SDL events turned into window messages, timers, displays, the cursor, message boxes and
// the clipboard.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/Kernel32.h"
#include "platform/User32.h"

using namespace platform::user32;
namespace test = platform::user32test;

namespace {

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> gSeen;
bool gCloseDestroys = true;

LRESULT RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    gSeen.push_back({message, wParam, lParam});
    if (message == WM_CLOSE && !gCloseDestroys) return 0;
    if (message == WM_DESTROY) PostQuitMessage(7);
    return DefWindowProcW(window, message, wParam, lParam);
}

int CountOf(UINT message) {
    int n = 0;
    for (auto& s : gSeen) n += s.message == message;
    return n;
}

const Seen* LastOf(UINT message) {
    for (auto it = gSeen.rbegin(); it != gSeen.rend(); ++it) {
        if (it->message == message) return &*it;
    }
    return nullptr;
}

// Drains the queue the way a game loop does.
int Pump() {
    MSG msg;
    int n = 0;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return -1;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        ++n;
    }
    return n;
}

class User32Test : public ::testing::Test {
  protected:
    static constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

    void SetUp() override {
        gSeen.clear();
        gCloseDestroys = true;
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &RecordingProc;
        wc.lpszClassName = u"User32TestClass";
        wc.hCursor = LoadCursorW(nullptr, nullptr);
        ASSERT_NE(RegisterClassExW(&wc), 0);
    }

    void TearDown() override {
        if (window_ && IsWindow(window_)) DestroyWindow(window_);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        EXPECT_TRUE(UnregisterClassW(u"User32TestClass", nullptr));
        EXPECT_EQ(test::WindowCount(), 0);
    }

    // A shown window whose client area is width x height at (x, y).
    HWND MakeWindow(int x, int y, int width, int height, DWORD style = kStyle) {
        RECT r{x, y, x + width, y + height};
        AdjustWindowRectEx(&r, style, FALSE, WS_EX_WINDOWEDGE);
        window_ =
            CreateWindowExW(WS_EX_WINDOWEDGE, u"User32TestClass", u"タイトル", style, r.left, r.top,
                            r.right - r.left, r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
        if (window_) {
            ShowWindow(window_, SW_SHOW);
            UpdateWindow(window_);
        }
        return window_;
    }

    HWND window_ = nullptr;
};

TEST_F(User32Test, WindowHasTheRequestedClientAreaAndFrames) {
    struct Case {
        DWORD style;
        RECT adjusted;  // AdjustWindowRectEx of {0, 0, 0, 0}
    } cases[] = {
        {WS_POPUP | WS_SYSMENU, {0, 0, 0, 0}},
        {kStyle, {-3, -26, 3, 3}},
        {kStyle | WS_THICKFRAME, {-8, -31, 8, 8}},
        {WS_POPUP | WS_BORDER, {-1, -1, 1, 1}},
    };
    for (const Case& c : cases) {
        RECT r{0, 0, 0, 0};
        AdjustWindowRectEx(&r, c.style, FALSE, WS_EX_WINDOWEDGE);
        EXPECT_EQ(r.left, c.adjusted.left);
        EXPECT_EQ(r.top, c.adjusted.top);
        EXPECT_EQ(r.right, c.adjusted.right);
        EXPECT_EQ(r.bottom, c.adjusted.bottom);
    }

    HWND w = MakeWindow(100, 50, 640, 480);
    ASSERT_NE(w, nullptr);
    RECT client, window;
    ASSERT_TRUE(GetClientRect(w, &client));
    ASSERT_TRUE(GetWindowRect(w, &window));
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);
    EXPECT_EQ(window.left, 97);
    EXPECT_EQ(window.top, 24);
    POINT origin{0, 0};
    ClientToScreen(w, &origin);
    EXPECT_EQ(origin.x, 100);
    EXPECT_EQ(origin.y, 50);

    SDL_Window* sdl = test::SdlWindowOf(w);
    ASSERT_NE(sdl, nullptr);
    int sw, sh, sx, sy;
    SDL_GetWindowSize(sdl, &sw, &sh);
    SDL_GetWindowPosition(sdl, &sx, &sy);
    EXPECT_EQ(sw, 640);
    EXPECT_EQ(sh, 480);
    EXPECT_EQ(sx, 100);
    EXPECT_EQ(sy, 50);
    EXPECT_STREQ(SDL_GetWindowTitle(sdl), "タイトル");
    EXPECT_TRUE(SDL_GetWindowFlags(sdl) & SDL_WINDOW_SHOWN);

    // Creation reported the client size; showing activated the window and painted it.
    ASSERT_NE(LastOf(WM_SIZE), nullptr);
    EXPECT_EQ(LastOf(WM_SIZE)->lParam, (480 << 16) | 640);
    EXPECT_EQ(CountOf(WM_ACTIVATEAPP), 1);
    EXPECT_EQ(GetForegroundWindow(), w);
    EXPECT_EQ(CountOf(WM_PAINT), 1);

    // Moving and resizing report the new client rectangle.
    gSeen.clear();
    SetWindowPos(w, nullptr, 10, 20, 800 + 6, 600 + 29, SWP_NOZORDER);
    ASSERT_NE(LastOf(WM_MOVE), nullptr);
    EXPECT_EQ(LastOf(WM_MOVE)->lParam, ((20 + 26) << 16) | (10 + 3));
    EXPECT_EQ(LastOf(WM_SIZE)->lParam, (600 << 16) | 800);
    SDL_GetWindowSize(sdl, &sw, &sh);
    EXPECT_EQ(sw, 800);
    EXPECT_EQ(sh, 600);

    // A style change keeps the window rectangle; the frame follows with SWP_FRAMECHANGED.
    SetWindowLongW(w, GWL_STYLE, static_cast<LONG>(WS_POPUP | WS_VISIBLE));
    SetWindowPos(w, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE);
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 806);
    EXPECT_EQ(client.bottom, 629);
}

TEST_F(User32Test, QueueOrderFiltersAndQuit) {
    HWND w = MakeWindow(0, 0, 320, 240);
    ASSERT_NE(w, nullptr);
    Pump();
    gSeen.clear();
    PostMessageW(w, WM_USER + 1, 1, 0);
    PostMessageW(nullptr, WM_USER + 2, 2, 0);  // a thread message
    PostMessageW(w, WM_USER + 3, 3, 0);
    PostQuitMessage(5);

    MSG msg;
    // Thread messages only.
    ASSERT_TRUE(PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 2u);
    // A range; looking does not remove.
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 3, WM_USER + 3, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    // The quit message comes after every posted message.
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1u);
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 5u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));

    // A message sent from another thread runs in this thread's pump, and its result goes back.
    LRESULT result = 0;
    DWORD senderThread = 0;
    std::thread sender([&] {
        senderThread = platform::kernel32::GetCurrentThreadId();
        result = SendMessageW(w, WM_GETTEXTLENGTH, 0, 0);
    });
    while (CountOf(WM_GETTEXTLENGTH) == 0) Pump();
    sender.join();
    EXPECT_EQ(result, 4);
    EXPECT_NE(senderThread, platform::kernel32::GetCurrentThreadId());
}

TEST_F(User32Test, TimersArriveThroughThePump) {
    HWND w = MakeWindow(0, 0, 100, 100);
    ASSERT_NE(w, nullptr);
    Pump();
    gSeen.clear();
    ASSERT_EQ(SetTimer(w, 42, 10, nullptr), 42u);
    MSG msg;
    ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.wParam, 42u);
    DispatchMessageW(&msg);
    EXPECT_EQ(CountOf(WM_TIMER), 1);
    EXPECT_TRUE(KillTimer(w, 42));
    EXPECT_FALSE(KillTimer(w, 42));
    SDL_Delay(20);
    Pump();
    EXPECT_EQ(CountOf(WM_TIMER), 1);
}

TEST_F(User32Test, SdlEventsBecomeWindowMessages) {
    HWND w = MakeWindow(200, 100, 640, 480);
    ASSERT_NE(w, nullptr);
    Pump();
    gSeen.clear();

    // Focus lost and regained: deactivation with WM_ACTIVATEAPP, then activation.
    test::InjectWindowEvent(w, SDL_WINDOWEVENT_FOCUS_LOST);
    Pump();
    ASSERT_NE(LastOf(WM_ACTIVATE), nullptr);
    EXPECT_EQ(LastOf(WM_ACTIVATE)->wParam & 0xFFFF, WA_INACTIVE);
    ASSERT_NE(LastOf(WM_ACTIVATEAPP), nullptr);
    EXPECT_EQ(LastOf(WM_ACTIVATEAPP)->wParam, 0u);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    test::InjectWindowEvent(w, SDL_WINDOWEVENT_FOCUS_GAINED);
    Pump();
    EXPECT_EQ(LastOf(WM_ACTIVATE)->wParam & 0xFFFF, WA_ACTIVE);
    EXPECT_EQ(LastOf(WM_ACTIVATEAPP)->wParam, 1u);
    EXPECT_EQ(GetForegroundWindow(), w);

    // Keys, typed text (UTF-16 units, a surrogate pair for U+1F600), control characters.
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.windowID = SDL_GetWindowID(test::SdlWindowOf(w));
    e.key.keysym.scancode = SDL_SCANCODE_BACKSPACE;
    test::InjectEvent(e);
    e = SDL_Event{};
    e.type = SDL_TEXTINPUT;
    e.text.windowID = SDL_GetWindowID(test::SdlWindowOf(w));
    std::strcpy(e.text.text, "aあ\xF0\x9F\x98\x80");
    test::InjectEvent(e);
    gSeen.clear();
    Pump();
    ASSERT_NE(LastOf(WM_KEYDOWN), nullptr);
    EXPECT_EQ(LastOf(WM_KEYDOWN)->wParam, VK_BACK);
    std::vector<WPARAM> chars;
    for (auto& s : gSeen) {
        if (s.message == WM_CHAR) chars.push_back(s.wParam);
    }
    EXPECT_EQ(chars, (std::vector<WPARAM>{8, u'a', u'あ', 0xD83D, 0xDE00}));

    // Mouse: client coordinates, the cursor position on the screen, the wheel in 120ths.
    e = SDL_Event{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = SDL_GetWindowID(test::SdlWindowOf(w));
    e.motion.x = 30;
    e.motion.y = 40;
    test::InjectEvent(e);
    e = SDL_Event{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = SDL_GetWindowID(test::SdlWindowOf(w));
    e.wheel.y = -2;
    test::InjectEvent(e);
    gSeen.clear();
    Pump();
    ASSERT_NE(LastOf(WM_MOUSEMOVE), nullptr);
    EXPECT_EQ(LastOf(WM_MOUSEMOVE)->lParam, (40 << 16) | 30);
    EXPECT_EQ(CountOf(WM_SETCURSOR), 1);
    POINT p;
    GetCursorPos(&p);
    EXPECT_EQ(p.x, 230);
    EXPECT_EQ(p.y, 140);
    ASSERT_NE(LastOf(WM_MOUSEWHEEL), nullptr);
    EXPECT_EQ(static_cast<SHORT>(LastOf(WM_MOUSEWHEEL)->wParam >> 16), -240);

    // The user resizing and moving the window.
    gSeen.clear();
    test::InjectUserResize(w, 800, 600);
    test::InjectUserMove(w, 50, 60);
    Pump();
    RECT client, window;
    GetClientRect(w, &client);
    GetWindowRect(w, &window);
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 600);
    EXPECT_EQ(window.left, 47);
    EXPECT_EQ(window.top, 34);
    EXPECT_EQ(LastOf(WM_SIZE)->lParam, (600 << 16) | 800);
    EXPECT_EQ(LastOf(WM_MOVE)->lParam, (60 << 16) | 50);

    // Minimising: WM_SIZE with SIZE_MINIMIZED and a lost activation; restoring brings both back.
    gSeen.clear();
    test::InjectWindowEvent(w, SDL_WINDOWEVENT_MINIMIZED);
    Pump();
    EXPECT_TRUE(IsIconic(w));
    EXPECT_EQ(LastOf(WM_SIZE)->wParam, SIZE_MINIMIZED);
    EXPECT_EQ(LastOf(WM_ACTIVATE)->wParam & 0xFFFF, WA_INACTIVE);
    test::InjectWindowEvent(w, SDL_WINDOWEVENT_RESTORED);
    Pump();
    EXPECT_FALSE(IsIconic(w));
    EXPECT_EQ(LastOf(WM_SIZE)->wParam, SIZE_RESTORED);
    EXPECT_EQ(LastOf(WM_SIZE)->lParam, (600 << 16) | 800);
    EXPECT_EQ(GetForegroundWindow(), w);

    // Dropped files reach a window that accepts them.
    platform::shell32::DragAcceptFiles(w, TRUE);
    e = SDL_Event{};
    e.type = SDL_DROPFILE;
    e.drop.windowID = SDL_GetWindowID(test::SdlWindowOf(w));
    e.drop.file = SDL_strdup("/tmp/ドロップ.txt");
    test::InjectEvent(e);
    e = SDL_Event{};
    e.type = SDL_DROPCOMPLETE;
    e.drop.windowID = SDL_GetWindowID(test::SdlWindowOf(w));
    test::InjectEvent(e);
    gSeen.clear();
    Pump();
    ASSERT_NE(LastOf(WM_DROPFILES), nullptr);
    auto drop = reinterpret_cast<HDROP>(LastOf(WM_DROPFILES)->wParam);
    EXPECT_EQ(platform::shell32::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0), 1u);
    char16_t name[64];
    EXPECT_EQ(platform::shell32::DragQueryFileW(drop, 0, nullptr, 0), 13u);
    EXPECT_EQ(platform::shell32::DragQueryFileW(drop, 0, name, 64), 13u);
    EXPECT_EQ(std::u16string(name), u"/tmp/ドロップ.txt");
    platform::shell32::DragFinish(drop);

    // Closing: the close button becomes WM_CLOSE, the default procedure destroys the window, and
    // the quit message follows.
    gSeen.clear();
    test::InjectWindowEvent(w, SDL_WINDOWEVENT_CLOSE);
    EXPECT_EQ(Pump(), -1);
    EXPECT_EQ(CountOf(WM_CLOSE), 1);
    EXPECT_EQ(CountOf(WM_DESTROY), 1);
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(User32Test, ShowCommandsMaximiseMinimiseAndRestore) {
    HWND w = MakeWindow(100, 100, 320, 240);
    ASSERT_NE(w, nullptr);
    RECT before;
    GetWindowRect(w, &before);
    gSeen.clear();
    ShowWindow(w, SW_MAXIMIZE);
    RECT work, client;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetClientRect(w, &client);
    EXPECT_TRUE(IsZoomed(w));
    EXPECT_EQ(client.right, work.right - work.left);
    EXPECT_EQ(client.bottom, work.bottom - work.top - 23);
    EXPECT_EQ(LastOf(WM_SIZE)->wParam, SIZE_MAXIMIZED);
    ShowWindow(w, SW_RESTORE);
    RECT after;
    GetWindowRect(w, &after);
    EXPECT_FALSE(IsZoomed(w));
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.bottom, before.bottom);

    // A minimised activation keeps the window active with the minimised flag in the high word.
    gSeen.clear();
    ShowWindow(w, SW_SHOWMINIMIZED);
    EXPECT_TRUE(IsIconic(w));
    ASSERT_NE(LastOf(WM_ACTIVATE), nullptr);
    EXPECT_EQ(LastOf(WM_ACTIVATE)->wParam, (1u << 16) | WA_ACTIVE);
    ShowWindow(w, SW_RESTORE);
    EXPECT_EQ(LastOf(WM_ACTIVATE)->wParam, static_cast<WPARAM>(WA_ACTIVE));

    // Hiding the active window leaves the program without an active window.
    gSeen.clear();
    ShowWindow(w, SW_HIDE);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    EXPECT_EQ(LastOf(WM_ACTIVATEAPP)->wParam, 0u);
    EXPECT_FALSE(SDL_GetWindowFlags(test::SdlWindowOf(w)) & SDL_WINDOW_SHOWN);
}

TEST(User32Display, DesktopIsReportedAt32BitsAnd96Dpi) {
    HDC dc = GetDC(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(
        platform::gdi32::GetDeviceCaps(dc, BITSPIXEL) * platform::gdi32::GetDeviceCaps(dc, PLANES),
        32);
    EXPECT_EQ(platform::gdi32::GetDeviceCaps(dc, LOGPIXELSX), 96);
    EXPECT_EQ(ReleaseDC(nullptr, dc), 1);

    DEVMODEW dm{};
    dm.dmSize = sizeof(dm);
    ASSERT_TRUE(EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &dm));
    EXPECT_EQ(dm.dmBitsPerPel, 32u);
    EXPECT_EQ(static_cast<int>(dm.dmPelsWidth), GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(static_cast<int>(dm.dmPelsHeight), GetSystemMetrics(SM_CYSCREEN));
    EXPECT_TRUE(EnumDisplaySettingsW(u"\\\\.\\DISPLAY1", 0, &dm));
    EXPECT_FALSE(EnumDisplaySettingsW(u"\\\\.\\DISPLAY9", 0, &dm));

    struct Found {
        int count = 0;
        RECT first{};
    } found;
    EnumDisplayMonitors(
        nullptr, nullptr,
        [](HMONITOR, HDC, RECT* r, LPARAM data) -> BOOL {
            auto* f = reinterpret_cast<Found*>(data);
            if (f->count++ == 0) f->first = *r;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    EXPECT_EQ(found.count, GetSystemMetrics(SM_CMONITORS));
    EXPECT_EQ(found.first.right - found.first.left, GetSystemMetrics(SM_CXSCREEN));
    MONITORINFOEXW info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY),
                                reinterpret_cast<MONITORINFO*>(&info)));
    EXPECT_EQ(info.dwFlags, MONITORINFOF_PRIMARY);
    EXPECT_EQ(std::u16string(info.szDevice), u"\\\\.\\DISPLAY1");
    EXPECT_EQ(ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);

    // The foreground lock time-out is kept, and the screen saver switch recorded.
    DWORD timeout = 0;
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<void*>(1234), 0);
    SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
    EXPECT_EQ(timeout, 1234u);
    SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, 0, nullptr, SPIF_SENDCHANGE);
    EXPECT_FALSE(test::ScreenSaverAllowed());
    SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, 1, nullptr, SPIF_SENDCHANGE);
    EXPECT_TRUE(test::ScreenSaverAllowed());
}

TEST(User32Cursor, DisplayCountAndCursorImage) {
    int start = test::CursorDisplayCount();
    EXPECT_EQ(ShowCursor(FALSE), start - 1);
    if (start == 0) {
        EXPECT_FALSE(test::CursorShown());
    }
    EXPECT_EQ(ShowCursor(TRUE), start);
    HCURSOR arrow = LoadCursorW(nullptr, nullptr);
    HCURSOR old = SetCursor(nullptr);
    EXPECT_FALSE(test::CursorShown());
    SetCursor(old ? old : arrow);
    EXPECT_EQ(test::CursorShown(), start >= 0);
}

TEST(User32MessageBox, WithoutADisplayItAnswersTheDefaultAtOnce) {
    ASSERT_FALSE(test::HasDisplay()) << "the tests run with SDL_VIDEODRIVER=dummy";
    int before = test::MessageBoxCount();
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxW(nullptr, u"本文", u"見出し", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, u"text", nullptr, MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "narrow", "cap", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxW(nullptr, u"x", u"y", MB_OK | MB_DEFBUTTON3), IDOK);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("[見出し] 本文\n"), std::string::npos);
    EXPECT_EQ(test::MessageBoxCount(), before + 4);
    EXPECT_EQ(test::LastMessageBoxText(), "y\nx");
}

TEST(User32Clipboard, UnicodeTextRoundTrip) {
    const std::u16string text = u"コピー \U0001F600 text";
    ASSERT_TRUE(OpenClipboard(nullptr));
    ASSERT_TRUE(EmptyClipboard());
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));
    HGLOBAL block = platform::kernel32::GlobalAlloc(GMEM_FIXED, (text.size() + 1) * 2);
    std::memcpy(platform::kernel32::GlobalLock(block), text.c_str(), (text.size() + 1) * 2);
    EXPECT_EQ(SetClipboardData(CF_UNICODETEXT, block), block);
    ASSERT_TRUE(CloseClipboard());

    // Another thread cannot open it while it is open here.
    ASSERT_TRUE(OpenClipboard(nullptr));
    BOOL otherOpened = TRUE;
    std::thread([&] { otherOpened = OpenClipboard(nullptr); }).join();
    EXPECT_FALSE(otherOpened);
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_UNICODETEXT));
    HANDLE got = GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(platform::kernel32::GlobalSize(got), (text.size() + 1) * 2);
    EXPECT_EQ(std::u16string(static_cast<const char16_t*>(platform::kernel32::GlobalLock(got))),
              text);
    EmptyClipboard();
    CloseClipboard();
    EXPECT_FALSE(CloseClipboard());
}

}  // namespace
