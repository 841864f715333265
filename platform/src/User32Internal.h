// Shared state of the user32 layer (windows, queues, SDL) for its source files.
#pragma once

#include <SDL.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/User32.h"

namespace platform::user32::detail {

struct WindowClass {
    std::u16string name;  // as registered
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
};

struct Insets {
    int left = 0, top = 0, right = 0, bottom = 0, caption = 0;
};

struct Window {
    HWND handle = nullptr;
    std::shared_ptr<WindowClass> windowClass;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT windowRect{};  // screen coordinates (child windows: parent's client coordinates)
    Insets frame;       // the frame between window and client rectangle, as last computed
    std::u16string title;
    DWORD threadId = 0;
    HWND parent = nullptr;
    HMENU menu = nullptr;
    HINSTANCE instance = nullptr;
    LONG_PTR userData = 0;
    SDL_Window* sdl = nullptr;
    std::uint32_t sdlId = 0;
    bool minimized = false;
    bool maximized = false;
    RECT restoreRect{};  // window rectangle before maximising or minimising
    bool needsPaint = false;
    RECT invalid{};
    bool destroying = false;
    bool acceptFiles = false;
    bool imeEnabled = true;
    // The window's one input context (Imm32): attached or detached, the IME's open status and
    // the composition the system's input method is building.
    bool imeAttached = true;
    bool imeOpen = false;
    bool composing = false;
    std::u16string composition;
    int compositionCursor = 0;           // UTF-16 units
    std::deque<std::u16string> results;  // committed texts not yet read as result strings
};

// A message sent to a window of another thread, waiting for its result.
struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
};

struct Timer {
    HWND window;
    UINT_PTR id;
    UINT elapse;
    TIMERPROC proc;
    std::uint64_t due;  // ms of the layer's clock
};

struct ThreadQueue {
    DWORD threadId = 0;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    bool quitPosted = false;
    int quitCode = 0;
};

// The one lock of the window table, the active window, the cursor and the clipboard. Never held
// while a window procedure runs.
std::mutex& Lock();
std::map<HWND, std::shared_ptr<Window>>& Windows();
std::shared_ptr<Window> FindWindowLocked(HWND window);
std::shared_ptr<Window> FindWindowById(std::uint32_t sdlId);

// The calling thread's queue (made on first use) and another thread's (null when it has none).
ThreadQueue& CurrentQueue();
std::shared_ptr<ThreadQueue> QueueOf(DWORD threadId);
DWORD CurrentThreadId();
std::uint64_t NowMs();

// SDL video: started once on the first call that needs it; false when it cannot start. The
// thread that started it reads the events.
bool EnsureVideo();
bool IsVideoThread();
bool DisplayPresent();
// Reads SDL's events and turns them into messages (video thread only).
void PumpSdlEvents();
// The virtual key of the key at an SDL scan code's position (0 for none).
UINT VirtualKeyOfScancode(int scancode);

// Sends to a window's procedure (directly on its own thread, else through its queue).
// The system's input method over SDL text editing (Imm32.cpp). ImeTextEditing turns a text-editing
// event into composition messages; ImeCommit takes committed text as a result string while the
// IME is open (true) or leaves it to WM_CHAR (false); ImeClose closes the IME of a window whose
// IME was disabled.
void ImeTextEditing(HWND window, const char* utf8, int start);
bool ImeCommit(HWND window, const std::u16string& text);
void ImeClose(HWND window);

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// front: the message is read next (the characters TranslateMessage makes).
bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool front = false);

// Frame insets of a style (this layer's metrics).
Insets FrameInsets(DWORD style, DWORD exStyle, bool menu);
RECT ClientRectOnScreen(const Window& window);
// Applies a new client rectangle (screen coordinates) that the system (SDL) reports.
void SystemMovedOrSized(HWND window);
void SystemMinimized(HWND window, bool minimized);
void SystemMaximized(HWND window);
// Activation: makes a window active (null: the program loses activation).
void Activate(HWND window, bool minimizedState);
HWND ActiveWindow();

// Drop lists for WM_DROPFILES.
HDROP MakeDrop(const std::vector<std::string>& files);

// Text helpers.
std::string ToUtf8(LPCWSTR text);
std::u16string FromUtf8(const char* text);
std::u16string FromAnsi(LPCSTR text);
std::string ToAnsi(const std::u16string& text);

constexpr LPARAM MakeLParam(int low, int high) {
    return static_cast<LPARAM>(static_cast<DWORD>((static_cast<DWORD>(low) & 0xFFFF) |
                                                  ((static_cast<DWORD>(high) & 0xFFFF) << 16)));
}

}  // namespace platform::user32::detail
