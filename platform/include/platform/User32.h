// user32 (windows, messages, displays, the cursor, message boxes, the clipboard), the few gdi32
// and shell32 calls that go with them, and kernel32's global memory blocks, over SDL2.
//
// Every top-level window is one SDL window showing its client area; the frame around it is
// computed with this layer's own metrics (a sizing frame 8 pixels wide, a fixed frame 3, a caption
// of 23), so window and client rectangles relate exactly as on Windows. Every thread has its own
// message queue; window procedures run in the thread that created the window, from
// DispatchMessage, SendMessage and the functions that send messages. The thread that first starts
// SDL video (the first window, display or message-box call) reads SDL's events inside its
// PeekMessage / GetMessage and turns them into the messages a window procedure handles: size,
// move, activation, keys, characters, mouse, wheel, close, drop and paint.
//
// Without a display (SDL video cannot start, or the driver is "dummy" or "offscreen") windows
// still work against SDL's dummy driver when it is the one in use, the desktop is reported as one
// 1024 x 768 display, and MessageBox writes its text to standard error and returns its default
// button at once. The desktop colour depth is always reported as 32 bits and the DPI as 96.
// FindWindow never finds a window (there is no search of other programs' windows).
#pragma once

#include <string>

#include "platform/Gdi32.h"
#include "platform/WinTypes.h"

union SDL_Event;
struct SDL_Window;

namespace platform::user32 {

// Window classes and windows.
ATOM RegisterClassExW(const WNDCLASSEXW* windowClass);
ATOM RegisterClassExA(const WNDCLASSEXA* windowClass);
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL IsIconic(HWND window);
BOOL IsZoomed(HWND window);
HWND FindWindowW(LPCWSTR className, LPCWSTR title);
HWND FindWindowA(LPCSTR className, LPCSTR title);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
BOOL SetWindowTextA(HWND window, LPCSTR text);
int GetWindowTextW(HWND window, LPWSTR buffer, int length);
LONG GetWindowLongW(HWND window, int index);
LONG SetWindowLongW(HWND window, int index, LONG value);
LONG_PTR GetWindowLongPtrW(HWND window, int index);
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
DWORD SetClassLongW(HWND window, int index, LONG value);
ULONG_PTR SetClassLongPtrW(HWND window, int index, LONG_PTR value);
DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId);

// Position, size, frames and showing.
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);
BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle);
BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
BOOL ShowWindow(HWND window, int command);
BOOL UpdateWindow(HWND window);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND window, const RECT* rect);

// Activation and focus (one active window for the whole program).
HWND GetForegroundWindow();
HWND GetActiveWindow();
HWND GetFocus();
BOOL SetForegroundWindow(HWND window);
HWND SetActiveWindow(HWND window);
HWND SetFocus(HWND window);
BOOL BringWindowToTop(HWND window);
BOOL AttachThreadInput(DWORD attach, DWORD attachTo, BOOL doAttach);
HWND GetDesktopWindow();
BOOL WINNLSEnableIME(HWND window, BOOL enable);

// Messages and timers.
BOOL PeekMessageW(MSG* msg, HWND window, UINT first, UINT last, UINT remove);
BOOL PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove);
BOOL GetMessageW(MSG* msg, HWND window, UINT first, UINT last);
BOOL GetMessageA(MSG* msg, HWND window, UINT first, UINT last);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int TranslateAcceleratorW(HWND window, HACCEL table, MSG* msg);
BOOL IsDialogMessageW(HWND dialog, MSG* msg);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);
DWORD GetQueueStatus(UINT flags);

// Painting: window device contexts live in gdi32's table (platform/Gdi32.h) and draw into the
// surface the screen presentation code gives the window.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);

// Displays.
int GetSystemMetrics(int index);
BOOL SystemParametersInfoW(UINT action, UINT param, LPVOID data, UINT winIni);
BOOL SystemParametersInfoA(UINT action, UINT param, LPVOID data, UINT winIni);
BOOL EnumDisplayMonitors(HDC dc, const RECT* clip, MONITORENUMPROC proc, LPARAM data);
BOOL GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info);
BOOL GetMonitorInfoA(HMONITOR monitor, MONITORINFO* info);
HMONITOR MonitorFromWindow(HWND window, DWORD flags);
HMONITOR MonitorFromPoint(POINT point, DWORD flags);
BOOL EnumDisplayDevicesW(LPCWSTR device, DWORD index, DISPLAY_DEVICEW* info, DWORD flags);
BOOL EnumDisplayDevicesA(LPCSTR device, DWORD index, DISPLAY_DEVICEA* info, DWORD flags);
BOOL EnumDisplaySettingsW(LPCWSTR device, DWORD mode, DEVMODEW* info);
BOOL EnumDisplaySettingsA(LPCSTR device, DWORD mode, DEVMODEA* info);
// Null restores the desktop mode (nothing to do); a mode equal to the desktop's succeeds; any other
// mode is refused with DISP_CHANGE_BADMODE (the layer does not switch display modes).
LONG ChangeDisplaySettingsW(DEVMODEW* mode, DWORD flags);
LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags);

// The keyboard: 256 bytes by virtual key (bit 7 down, bit 0 toggled), as the event pump has seen
// the keys and mouse buttons.
BOOL GetKeyboardState(BYTE* keys);

// The cursor.
int ShowCursor(BOOL show);
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
BOOL GetCursorPos(POINT* point);
BOOL SetCursorPos(int x, int y);
BOOL ClipCursor(const RECT* rect);

// Message boxes: SDL's message box; without a display the caption and text go to standard error
// and the default button (MB_DEFBUTTON1..3 of the type's buttons) is returned at once.
int MessageBoxW(HWND window, LPCWSTR text, LPCWSTR caption, UINT type);
int MessageBoxA(HWND window, LPCSTR text, LPCSTR caption, UINT type);

// The clipboard: CF_UNICODETEXT (and CF_TEXT in the ANSI code page) through SDL's clipboard.
BOOL OpenClipboard(HWND owner);
BOOL CloseClipboard();
BOOL EmptyClipboard();
HANDLE SetClipboardData(UINT format, HANDLE data);
HANDLE GetClipboardData(UINT format);
BOOL IsClipboardFormatAvailable(UINT format);

// Accelerator tables (kept; TranslateAccelerator never translates: the library registers none).
HACCEL CreateAcceleratorTableW(ACCEL* entries, int count);
BOOL DestroyAcceleratorTable(HACCEL table);

}  // namespace platform::user32

namespace platform::shell32 {
void DragAcceptFiles(HWND window, BOOL accept);
UINT DragQueryFileW(HDROP drop, UINT index, LPWSTR buffer, UINT length);
UINT DragQueryFileA(HDROP drop, UINT index, LPSTR buffer, UINT length);
void DragFinish(HDROP drop);
}  // namespace platform::shell32

namespace platform::kernel32 {
// Global memory blocks: fixed and movable blocks are both plain blocks; the handle is the address.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL GlobalFree(HGLOBAL block);
LPVOID GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
SIZE_T GlobalSize(HGLOBAL block);
[[noreturn]] void ExitProcess(UINT exitCode);
// Null gives the program's own handle; a name gives its module when the layer offers it.
HMODULE GetModuleHandleA(LPCSTR name);
HMODULE GetModuleHandleW(LPCWSTR name);
}  // namespace platform::kernel32

// Test hooks.
namespace platform::user32test {
// Queues an SDL event as if the system had sent it (read by the next PeekMessage / GetMessage of
// the thread that runs SDL).
void InjectEvent(const SDL_Event& event);
// A window event (SDL_WINDOWEVENT_CLOSE, _FOCUS_LOST, _MINIMIZED ...) for a window.
void InjectWindowEvent(HWND window, int windowEventId);
// The user moving or resizing the window's client area (SDL's own record changes, then the event).
void InjectUserMove(HWND window, int clientX, int clientY);
void InjectUserResize(HWND window, int clientWidth, int clientHeight);
// The SDL window behind a top-level window, or null.
SDL_Window* SdlWindowOf(HWND window);
// The cursor's display count (ShowCursor) and whether SDL shows the cursor now.
int CursorDisplayCount();
bool CursorShown();
// The last message box's caption and text (UTF-8) and how many were shown.
std::string LastMessageBoxText();
int MessageBoxCount();
// How many windows and registered classes exist in the whole program.
int WindowCount();
int ClassCount();
// Whether the screen saver is allowed (SPI_SETSCREENSAVEACTIVE).
bool ScreenSaverAllowed();
// Whether a display is there (false: message boxes go to standard error).
bool HasDisplay();
}  // namespace platform::user32test
