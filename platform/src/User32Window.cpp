// user32 window classes and windows over SDL2: creation and destruction, styles, rectangles and
// frames, showing, activation.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Gdi32Internal.h"
#include "User32Internal.h"
#include "platform/HostPath.h"
#include "platform/Kernel32.h"
#include "platform/Modules.h"

namespace platform::user32 {

namespace detail {

namespace {

struct WindowState {
    std::mutex mutex;
    std::map<HWND, std::shared_ptr<Window>> windows;
    std::vector<std::shared_ptr<WindowClass>> classes;
    std::uintptr_t nextHandle = 0x10000;
    HWND active = nullptr;
    HWND focus = nullptr;
};

WindowState& State() {
    static WindowState* state =
        new WindowState;  // lives to the end: windows may be looked up at exit
    return *state;
}

struct VideoState {
    std::once_flag once;
    bool ok = false;
    DWORD thread = 0;
};

VideoState& Video() {
    static VideoState video;
    return video;
}

bool SameClassName(const std::u16string& a, LPCWSTR b) {
    std::size_t n = 0;
    for (; b[n]; ++n) {
        if (n >= a.size()) return false;
        char16_t x = a[n], y = b[n];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
        if (x != y) return false;
    }
    return n == a.size();
}

bool IsAtom(const void* name) {
    return reinterpret_cast<std::uintptr_t>(name) < 0x10000;
}

std::shared_ptr<WindowClass> FindClassLocked(LPCWSTR name) {
    WindowState& s = State();
    for (std::size_t i = 0; i < s.classes.size(); ++i) {
        if (!s.classes[i]) continue;
        if (IsAtom(name) ? reinterpret_cast<std::uintptr_t>(name) == 0xC000 + i
                         : SameClassName(s.classes[i]->name, name)) {
            return s.classes[i];
        }
    }
    return nullptr;
}

int Width(const RECT& r) {
    return r.right - r.left;
}
int Height(const RECT& r) {
    return r.bottom - r.top;
}

}  // namespace

std::mutex& Lock() {
    return State().mutex;
}
std::map<HWND, std::shared_ptr<Window>>& Windows() {
    return State().windows;
}

std::shared_ptr<Window> FindWindowLocked(HWND window) {
    auto& windows = State().windows;
    auto it = windows.find(window);
    return it == windows.end() ? nullptr : it->second;
}

std::shared_ptr<Window> FindWindowById(std::uint32_t sdlId) {
    std::lock_guard lock(Lock());
    for (auto& [handle, window] : State().windows) {
        if (window->sdl && window->sdlId == sdlId) return window;
    }
    return nullptr;
}

bool EnsureVideo() {
    VideoState& video = Video();
    std::call_once(video.once, [&] {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
        SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
        video.ok = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        video.thread = CurrentThreadId();
        if (video.ok) std::atexit([] { SDL_Quit(); });
    });
    return video.ok;
}

bool IsVideoThread() {
    VideoState& video = Video();
    return video.ok && video.thread == CurrentThreadId();
}

bool DisplayPresent() {
    if (!EnsureVideo()) return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr) return false;
    return std::strcmp(driver, "dummy") != 0 && std::strcmp(driver, "offscreen") != 0;
}

Insets FrameInsets(DWORD style, DWORD exStyle, bool menu) {
    Insets in;
    int edge = 0;
    if (style & WS_THICKFRAME) {
        edge = GetSystemMetrics(SM_CXSIZEFRAME) + GetSystemMetrics(SM_CXPADDEDBORDER);
    } else if (style & WS_DLGFRAME) {
        edge = GetSystemMetrics(SM_CXFIXEDFRAME);
    } else if (style & WS_BORDER) {
        edge = GetSystemMetrics(SM_CXBORDER);
    }
    if (exStyle & WS_EX_CLIENTEDGE) edge += 2;
    in.left = in.right = in.top = in.bottom = edge;
    if ((style & WS_CAPTION) == WS_CAPTION) {
        in.caption = GetSystemMetrics((exStyle & WS_EX_TOOLWINDOW) ? SM_CYSMCAPTION : SM_CYCAPTION);
        in.top += in.caption;
    }
    if (menu) in.top += GetSystemMetrics(SM_CYMENU);
    return in;
}

RECT ClientRectOnScreen(const Window& w) {
    if (w.minimized)
        return RECT{w.windowRect.left, w.windowRect.top, w.windowRect.left, w.windowRect.top};
    RECT r{w.windowRect.left + w.frame.left, w.windowRect.top + w.frame.top,
           w.windowRect.right - w.frame.right, w.windowRect.bottom - w.frame.bottom};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}

HWND ActiveWindow() {
    std::lock_guard lock(Lock());
    return State().active;
}

namespace {

// Brings the SDL window in line with the record (video thread only; other threads leave it).
void SyncSdl(Window& w, bool geometry, bool look, bool show) {
    if (w.sdl == nullptr || !IsVideoThread()) return;
    if (look) {
        SDL_SetWindowBordered(w.sdl,
                              (w.style & (WS_CAPTION | WS_THICKFRAME)) ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowResizable(w.sdl, (w.style & WS_THICKFRAME) ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowAlwaysOnTop(w.sdl, (w.exStyle & WS_EX_TOPMOST) ? SDL_TRUE : SDL_FALSE);
    }
    if (geometry && !w.minimized) {
        RECT c = ClientRectOnScreen(w);
        SDL_SetWindowPosition(w.sdl, c.left, c.top);
        SDL_SetWindowSize(w.sdl, std::max(1, Width(c)), std::max(1, Height(c)));
    }
    if (show) {
        if (w.style & WS_VISIBLE) {
            SDL_ShowWindow(w.sdl);
        } else {
            SDL_HideWindow(w.sdl);
        }
    }
}

WPARAM SizeKind(const Window& w) {
    return w.minimized ? SIZE_MINIMIZED : w.maximized ? SIZE_MAXIMIZED : SIZE_RESTORED;
}

// Sends WM_MOVE / WM_SIZE for a change of the client rectangle.
void NotifyGeometry(HWND handle, const RECT& oldClient, const RECT& newClient, WPARAM kind,
                    bool force) {
    if (force || oldClient.left != newClient.left || oldClient.top != newClient.top) {
        Send(handle, WM_MOVE, 0, MakeLParam(newClient.left, newClient.top));
    }
    if (force || Width(oldClient) != Width(newClient) || Height(oldClient) != Height(newClient)) {
        Send(handle, WM_SIZE, kind, MakeLParam(Width(newClient), Height(newClient)));
    }
}

RECT PrimaryWorkArea() {
    RECT r{0, 0, 1024, 768};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
    return r;
}

// Maximised: the client area and caption fill the work area; the side frames lie outside it.
void MaximizeLocked(Window& w) {
    if (!w.maximized && !w.minimized) w.restoreRect = w.windowRect;
    RECT work = PrimaryWorkArea();
    w.windowRect = RECT{work.left - w.frame.left, work.top - (w.frame.top - w.frame.caption),
                        work.right + w.frame.right, work.bottom + w.frame.bottom};
    w.maximized = true;
    w.minimized = false;
    w.style = (w.style | WS_MAXIMIZE) & ~WS_MINIMIZE;
}

bool HandleValid(HWND window) {
    std::lock_guard lock(Lock());
    return FindWindowLocked(window) != nullptr;
}

}  // namespace

void Activate(HWND window, bool minimizedState) {
    HWND old;
    bool oldMinimized = false;
    {
        std::lock_guard lock(Lock());
        WindowState& s = State();
        if (window != nullptr && !FindWindowLocked(window)) return;
        old = s.active;
        if (old == window) return;
        if (auto w = FindWindowLocked(old)) {
            oldMinimized = w->minimized;
        } else {
            old = nullptr;
        }
        s.active = window;
        s.focus = window;
    }
    if (old) {
        Send(old, WM_NCACTIVATE, FALSE, 0);
        Send(old, WM_ACTIVATE, static_cast<WPARAM>(MakeLParam(WA_INACTIVE, oldMinimized)),
             reinterpret_cast<LPARAM>(window));
        if (window == nullptr) Send(old, WM_ACTIVATEAPP, FALSE, 0);
        Send(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
    }
    if (window) {
        if (old == nullptr) Send(window, WM_ACTIVATEAPP, TRUE, 0);
        Send(window, WM_NCACTIVATE, TRUE, 0);
        Send(window, WM_ACTIVATE, static_cast<WPARAM>(MakeLParam(WA_ACTIVE, minimizedState)),
             reinterpret_cast<LPARAM>(old));
        Send(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    }
}

void SystemMovedOrSized(HWND handle) {
    RECT oldClient, newClient;
    WPARAM kind;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(handle);
        if (!w || !w->sdl || w->minimized) return;
        int x, y, cw, ch;
        SDL_GetWindowPosition(w->sdl, &x, &y);
        SDL_GetWindowSize(w->sdl, &cw, &ch);
        oldClient = ClientRectOnScreen(*w);
        if (oldClient.left == x && oldClient.top == y && Width(oldClient) == cw &&
            Height(oldClient) == ch) {
            return;
        }
        w->windowRect = RECT{x - w->frame.left, y - w->frame.top, x + cw + w->frame.right,
                             y + ch + w->frame.bottom};
        newClient = ClientRectOnScreen(*w);
        if (Width(oldClient) != cw || Height(oldClient) != ch) {
            w->needsPaint = true;
            w->invalid = RECT{0, 0, cw, ch};
        }
        kind = SizeKind(*w);
    }
    NotifyGeometry(handle, oldClient, newClient, kind, false);
}

void SystemMinimized(HWND handle, bool minimized) {
    RECT client;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(handle);
        if (!w || w->minimized == minimized) return;
        w->minimized = minimized;
        if (minimized) {
            w->style |= WS_MINIMIZE;
        } else {
            w->style &= ~WS_MINIMIZE;
            w->needsPaint = true;
        }
        client = ClientRectOnScreen(*w);
    }
    if (minimized) {
        Send(handle, WM_SIZE, SIZE_MINIMIZED, 0);
        if (ActiveWindow() == handle) Activate(nullptr, false);
    } else {
        Send(handle, WM_SIZE, SIZE_RESTORED, MakeLParam(Width(client), Height(client)));
        Activate(handle, false);
    }
}

void SystemMaximized(HWND handle) {
    RECT oldClient, newClient;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(handle);
        if (!w || w->maximized) return;
        oldClient = ClientRectOnScreen(*w);
        MaximizeLocked(*w);
        newClient = ClientRectOnScreen(*w);
        SyncSdl(*w, true, false, false);
        w->needsPaint = true;
    }
    NotifyGeometry(handle, oldClient, newClient, SIZE_MAXIMIZED, true);
}

std::string ToUtf8(LPCWSTR text) {
    std::string out;
    if (text) platform::Utf16ToUtf8(std::u16string_view(text), out);
    return out;
}

std::u16string FromUtf8(const char* text) {
    return text ? platform::Utf8ToUtf16(text) : std::u16string();
}

std::u16string FromAnsi(LPCSTR text) {
    if (text == nullptr) return {};
    int n = kernel32::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    kernel32::MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

std::string ToAnsi(const std::u16string& text) {
    int n =
        kernel32::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    kernel32::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

}  // namespace detail

using namespace detail;

ATOM RegisterClassExW(const WNDCLASSEXW* c) {
    if (c == nullptr || c->lpszClassName == nullptr || c->lpfnWndProc == nullptr ||
        IsAtom(c->lpszClassName)) {
        kernel32::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard lock(Lock());
    if (FindClassLocked(c->lpszClassName)) {
        kernel32::SetLastError(1410);  // ERROR_CLASS_ALREADY_EXISTS
        return 0;
    }
    auto wc = std::make_shared<WindowClass>();
    wc->name = c->lpszClassName;
    wc->style = c->style;
    wc->proc = c->lpfnWndProc;
    wc->instance = c->hInstance;
    wc->icon = c->hIcon;
    wc->cursor = c->hCursor;
    wc->background = c->hbrBackground;
    auto& classes = State().classes;
    for (std::size_t i = 0; i < classes.size(); ++i) {
        if (!classes[i]) {
            classes[i] = wc;
            return static_cast<ATOM>(0xC000 + i);
        }
    }
    classes.push_back(wc);
    return static_cast<ATOM>(0xC000 + classes.size() - 1);
}

ATOM RegisterClassExA(const WNDCLASSEXA* c) {
    if (c == nullptr || c->lpszClassName == nullptr) {
        kernel32::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string name = FromAnsi(c->lpszClassName);
    WNDCLASSEXW w{};
    w.cbSize = sizeof(w);
    w.style = c->style;
    w.lpfnWndProc = c->lpfnWndProc;
    w.hInstance = c->hInstance;
    w.hIcon = c->hIcon;
    w.hCursor = c->hCursor;
    w.hbrBackground = c->hbrBackground;
    w.lpszClassName = name.c_str();
    return RegisterClassExW(&w);
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
    if (className == nullptr) return FALSE;
    std::lock_guard lock(Lock());
    auto wc = FindClassLocked(className);
    if (!wc) {
        kernel32::SetLastError(1411);  // ERROR_CLASS_DOES_NOT_EXIST
        return FALSE;
    }
    for (auto& [handle, window] : State().windows) {
        if (window->windowClass == wc) {
            kernel32::SetLastError(1412);  // ERROR_CLASS_HAS_WINDOWS
            return FALSE;
        }
    }
    for (auto& c : State().classes) {
        if (c == wc) c.reset();
    }
    return TRUE;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
    if (className == nullptr) return FALSE;
    return UnregisterClassW(FromAnsi(className).c_str(), instance);
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    auto w = std::make_shared<Window>();
    {
        std::lock_guard lock(Lock());
        w->windowClass = className ? FindClassLocked(className) : nullptr;
    }
    if (!w->windowClass) {
        kernel32::SetLastError(1407);  // ERROR_CANNOT_FIND_WND_CLASS
        return nullptr;
    }
    bool child = (style & WS_CHILD) != 0;
    if (child && !HandleValid(parent)) {
        kernel32::SetLastError(1406);  // ERROR_TLW_WITH_WSCHILD
        return nullptr;
    }
    if (x == CW_USEDEFAULT) x = y = 100;
    if (width == CW_USEDEFAULT) {
        width = 640;
        height = 480;
    }
    w->proc = w->windowClass->proc;
    w->style = style & ~(WS_VISIBLE | WS_MAXIMIZE | WS_MINIMIZE);
    w->exStyle = exStyle;
    w->title = title ? title : u"";
    w->threadId = CurrentThreadId();
    w->parent = parent;
    w->menu = child ? nullptr : menu;
    w->instance = instance;
    w->windowRect = RECT{x, y, x + std::max(0, width), y + std::max(0, height)};
    w->frame = FrameInsets(w->style, exStyle, w->menu != nullptr);
    w->acceptFiles = (exStyle & WS_EX_ACCEPTFILES) != 0;
    w->needsPaint = true;
    if (!child) {
        if (!EnsureVideo() || !IsVideoThread()) {
            kernel32::SetLastError(ERROR_NOT_SUPPORTED);
            return nullptr;
        }
        RECT c = ClientRectOnScreen(*w);
        Uint32 flags = SDL_WINDOW_HIDDEN;
        if (style & WS_THICKFRAME) flags |= SDL_WINDOW_RESIZABLE;
        if (!(style & (WS_CAPTION | WS_THICKFRAME))) flags |= SDL_WINDOW_BORDERLESS;
        if (exStyle & WS_EX_TOPMOST) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
        w->sdl =
            SDL_CreateWindow(ToUtf8(w->title.c_str()).c_str(), c.left, c.top,
                             std::max(1, c.right - c.left), std::max(1, c.bottom - c.top), flags);
        if (w->sdl == nullptr) {
            kernel32::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        w->sdlId = SDL_GetWindowID(w->sdl);
    }
    {
        std::lock_guard lock(Lock());
        WindowState& s = State();
        w->handle = reinterpret_cast<HWND>(s.nextHandle);
        s.nextHandle += 0x10;
        s.windows[w->handle] = w;
    }
    HWND handle = w->handle;
    CREATESTRUCTW cs{
        param, instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
        title, className, exStyle};
    if (!Send(handle, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) ||
        Send(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(handle);
        kernel32::SetLastError(1400);  // ERROR_INVALID_WINDOW_HANDLE
        return nullptr;
    }
    if (!IsWindow(handle)) return nullptr;
    RECT client;
    {
        std::lock_guard lock(Lock());
        client = ClientRectOnScreen(*w);
    }
    Send(handle, WM_SIZE, SIZE_RESTORED, MakeLParam(Width(client), Height(client)));
    Send(handle, WM_MOVE, 0, MakeLParam(client.left, client.top));
    if (style & WS_MAXIMIZE) {
        ShowWindow(handle, SW_MAXIMIZE);
    } else if (style & WS_VISIBLE) {
        ShowWindow(handle, SW_SHOW);
    }
    return handle;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    std::u16string cls = FromAnsi(className), text = FromAnsi(title);
    return CreateWindowExW(exStyle, className ? cls.c_str() : nullptr, text.c_str(), style, x, y,
                           width, height, parent, menu, instance, param);
}

BOOL DestroyWindow(HWND handle) {
    std::shared_ptr<Window> w;
    std::vector<HWND> children;
    {
        std::lock_guard lock(Lock());
        w = FindWindowLocked(handle);
        if (!w) {
            kernel32::SetLastError(1400);
            return FALSE;
        }
        if (w->threadId != CurrentThreadId()) {
            kernel32::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (w->destroying) return TRUE;
        w->destroying = true;
        for (auto& [h, other] : State().windows) {
            if (other->parent == handle && (other->style & WS_CHILD)) children.push_back(h);
        }
    }
    if (ActiveWindow() == handle) Activate(nullptr, false);
    {
        std::lock_guard lock(Lock());
        w->style &= ~WS_VISIBLE;
        SyncSdl(*w, false, false, true);
    }
    Send(handle, WM_DESTROY, 0, 0);
    for (HWND child : children) DestroyWindow(child);
    Send(handle, WM_NCDESTROY, 0, 0);
    {
        std::lock_guard lock(Lock());
        State().windows.erase(handle);
        if (State().focus == handle) State().focus = nullptr;
    }
    if (auto q = QueueOf(w->threadId)) {
        std::lock_guard lock(q->mutex);
        std::erase_if(q->posted, [&](const MSG& m) { return m.hwnd == handle; });
        std::erase_if(q->timers, [&](const Timer& t) { return t.window == handle; });
    }
    gdi::detail::WindowDestroyed(handle);
    if (w->sdl) {
        SDL_DestroyWindow(w->sdl);
        w->sdl = nullptr;
    }
    return TRUE;
}

BOOL IsWindow(HWND window) {
    return HandleValid(window) ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    return w && (w->style & WS_VISIBLE) ? TRUE : FALSE;
}

BOOL IsIconic(HWND window) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    return w && w->minimized ? TRUE : FALSE;
}

BOOL IsZoomed(HWND window) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    return w && w->maximized ? TRUE : FALSE;
}

HWND FindWindowW(LPCWSTR, LPCWSTR) {
    kernel32::SetLastError(ERROR_SUCCESS);
    return nullptr;
}

HWND FindWindowA(LPCSTR, LPCSTR) {
    kernel32::SetLastError(ERROR_SUCCESS);
    return nullptr;
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w) {
        kernel32::SetLastError(1400);
        return FALSE;
    }
    w->title = text ? text : u"";
    if (w->sdl && IsVideoThread()) SDL_SetWindowTitle(w->sdl, ToUtf8(w->title.c_str()).c_str());
    return TRUE;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
    return SetWindowTextW(window, FromAnsi(text).c_str());
}

int GetWindowTextW(HWND window, LPWSTR buffer, int length) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w || buffer == nullptr || length <= 0) return 0;
    int n = std::min(static_cast<int>(w->title.size()), length - 1);
    std::copy_n(w->title.c_str(), n, buffer);
    buffer[n] = 0;
    return n;
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w) {
        kernel32::SetLastError(1400);
        return 0;
    }
    switch (index) {
        case GWL_STYLE:
            return static_cast<LONG_PTR>(w->style);
        case GWL_EXSTYLE:
            return static_cast<LONG_PTR>(w->exStyle);
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(w->proc);
        case GWLP_HINSTANCE:
            return reinterpret_cast<LONG_PTR>(w->instance);
        case GWLP_USERDATA:
            return w->userData;
        case GWLP_ID:
            return reinterpret_cast<LONG_PTR>(w->menu);
        default:
            kernel32::SetLastError(1413);
            return 0;  // ERROR_INVALID_INDEX
    }
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w) {
        kernel32::SetLastError(1400);
        return 0;
    }
    LONG_PTR old = 0;
    switch (index) {
        case GWL_STYLE: {
            old = static_cast<LONG_PTR>(w->style);
            DWORD keep = w->style & (WS_MINIMIZE | WS_MAXIMIZE);
            bool wasVisible = (w->style & WS_VISIBLE) != 0;
            w->style = (static_cast<DWORD>(value) & ~(WS_MINIMIZE | WS_MAXIMIZE)) | keep;
            SyncSdl(*w, false, true, wasVisible != ((w->style & WS_VISIBLE) != 0));
            break;
        }
        case GWL_EXSTYLE:
            old = static_cast<LONG_PTR>(w->exStyle);
            w->exStyle = static_cast<DWORD>(value);
            w->acceptFiles = (w->exStyle & WS_EX_ACCEPTFILES) != 0 || w->acceptFiles;
            SyncSdl(*w, false, true, false);
            break;
        case GWLP_WNDPROC:
            old = reinterpret_cast<LONG_PTR>(w->proc);
            if (value) w->proc = reinterpret_cast<WNDPROC>(value);
            break;
        case GWLP_USERDATA:
            old = w->userData;
            w->userData = value;
            break;
        case GWLP_HINSTANCE:
            old = reinterpret_cast<LONG_PTR>(w->instance);
            w->instance = reinterpret_cast<HINSTANCE>(value);
            break;
        default:
            kernel32::SetLastError(1413);
            return 0;
    }
    kernel32::SetLastError(ERROR_SUCCESS);
    return old;
}

LONG GetWindowLongW(HWND window, int index) {
    return static_cast<LONG>(GetWindowLongPtrW(window, index));
}

LONG SetWindowLongW(HWND window, int index, LONG value) {
    LONG_PTR v = value;
    if (index == GWL_STYLE || index == GWL_EXSTYLE)
        v = static_cast<LONG_PTR>(static_cast<DWORD>(value));
    return static_cast<LONG>(SetWindowLongPtrW(window, index, v));
}

ULONG_PTR SetClassLongPtrW(HWND window, int index, LONG_PTR value) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w) {
        kernel32::SetLastError(1400);
        return 0;
    }
    ULONG_PTR old = 0;
    if (index == GCL_HICON) {
        old = reinterpret_cast<ULONG_PTR>(w->windowClass->icon);
        w->windowClass->icon = reinterpret_cast<HICON>(value);
    } else if (index == GCL_HCURSOR) {
        old = reinterpret_cast<ULONG_PTR>(w->windowClass->cursor);
        w->windowClass->cursor = reinterpret_cast<HCURSOR>(value);
    } else {
        kernel32::SetLastError(1413);
    }
    return old;
}

DWORD SetClassLongW(HWND window, int index, LONG value) {
    return static_cast<DWORD>(SetClassLongPtrW(window, index, value));
}

DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w) return 0;
    if (processId) *processId = static_cast<DWORD>(getpid());
    return w->threadId;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w || rect == nullptr) {
        kernel32::SetLastError(1400);
        return FALSE;
    }
    *rect = w->windowRect;
    return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w || rect == nullptr) {
        kernel32::SetLastError(1400);
        return FALSE;
    }
    RECT c = ClientRectOnScreen(*w);
    *rect = RECT{0, 0, Width(c), Height(c)};
    return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w || point == nullptr) return FALSE;
    RECT c = ClientRectOnScreen(*w);
    point->x += c.left;
    point->y += c.top;
    return TRUE;
}

BOOL ScreenToClient(HWND window, POINT* point) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w || point == nullptr) return FALSE;
    RECT c = ClientRectOnScreen(*w);
    point->x -= c.left;
    point->y -= c.top;
    return TRUE;
}

BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle) {
    if (rect == nullptr) return FALSE;
    Insets in = FrameInsets(style, exStyle, menu != FALSE);
    rect->left -= in.left;
    rect->top -= in.top;
    rect->right += in.right;
    rect->bottom += in.bottom;
    return TRUE;
}

BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu) {
    return AdjustWindowRectEx(rect, style, menu, 0);
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
    RECT oldClient, newClient;
    WPARAM kind;
    bool showChange = false, show = false, activate = false;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w) {
            kernel32::SetLastError(1400);
            return FALSE;
        }
        oldClient = ClientRectOnScreen(*w);
        RECT r = w->windowRect;
        if (!(flags & SWP_NOMOVE)) {
            r = RECT{x, y, x + Width(r), y + Height(r)};
        }
        if (!(flags & SWP_NOSIZE)) {
            r.right = r.left + std::max(0, width);
            r.bottom = r.top + std::max(0, height);
        }
        if (!(flags & SWP_NOZORDER)) {
            if (insertAfter == HWND_TOPMOST) w->exStyle |= WS_EX_TOPMOST;
            if (insertAfter == HWND_NOTOPMOST) w->exStyle &= ~WS_EX_TOPMOST;
        }
        bool moved = r.left != w->windowRect.left || r.top != w->windowRect.top ||
                     r.right != w->windowRect.right || r.bottom != w->windowRect.bottom;
        if (moved && (w->minimized || w->maximized)) {
            // Placing a maximised window explicitly leaves the maximised state, as dragging does.
            if (w->maximized && !w->minimized) {
                w->maximized = false;
                w->style &= ~WS_MAXIMIZE;
            }
        }
        if (!w->minimized) w->windowRect = r;
        w->frame = FrameInsets(w->style, w->exStyle, w->menu != nullptr);
        if (flags & SWP_SHOWWINDOW && !(w->style & WS_VISIBLE)) {
            w->style |= WS_VISIBLE;
            showChange = show = true;
        }
        if (flags & SWP_HIDEWINDOW && (w->style & WS_VISIBLE)) {
            w->style &= ~WS_VISIBLE;
            showChange = true;
        }
        newClient = ClientRectOnScreen(*w);
        if (Width(newClient) != Width(oldClient) || Height(newClient) != Height(oldClient) ||
            (flags & SWP_FRAMECHANGED) || show) {
            w->needsPaint = true;
            w->invalid = RECT{0, 0, Width(newClient), Height(newClient)};
        }
        SyncSdl(*w, true, (flags & (SWP_FRAMECHANGED | SWP_NOZORDER)) != SWP_NOZORDER, showChange);
        kind = SizeKind(*w);
        activate = !(flags & SWP_NOACTIVATE) && (w->style & WS_VISIBLE) && !(w->style & WS_CHILD);
    }
    NotifyGeometry(window, oldClient, newClient, kind, false);
    if (showChange) Send(window, WM_SHOWWINDOW, show, 0);
    if (activate) Activate(window, IsIconic(window) != FALSE);
    if (showChange && !show && ActiveWindow() == window) Activate(nullptr, false);
    return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
    return SetWindowPos(window, nullptr, x, y, width, height,
                        SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL ShowWindow(HWND window, int command) {
    bool wasVisible, activate = false, deactivate = false, minimizedNow = false;
    RECT oldClient, newClient;
    WPARAM kind;
    bool geometry = false;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w) {
            kernel32::SetLastError(1400);
            return FALSE;
        }
        wasVisible = (w->style & WS_VISIBLE) != 0;
        oldClient = ClientRectOnScreen(*w);
        bool top = !(w->style & WS_CHILD);
        switch (command) {
            case SW_HIDE:
                w->style &= ~WS_VISIBLE;
                deactivate = true;
                break;
            case SW_MINIMIZE:
            case SW_SHOWMINIMIZED:
            case SW_SHOWMINNOACTIVE:
                w->style |= WS_VISIBLE;
                if (!w->minimized) {
                    if (!w->maximized) w->restoreRect = w->windowRect;
                    w->minimized = true;
                    w->style |= WS_MINIMIZE;
                    if (w->sdl && IsVideoThread()) SDL_MinimizeWindow(w->sdl);
                    geometry = true;
                }
                if (command == SW_SHOWMINIMIZED) {
                    activate = top;
                } else {
                    deactivate = true;
                }
                break;
            case SW_MAXIMIZE:
                w->style |= WS_VISIBLE;
                if (!w->maximized || w->minimized) {
                    MaximizeLocked(*w);
                    geometry = true;
                }
                activate = top;
                break;
            case SW_RESTORE:
            case SW_SHOWNORMAL:
            case 10:  // SW_SHOWDEFAULT
                w->style |= WS_VISIBLE;
                if (w->minimized || (w->maximized && command != 10)) {
                    bool wasMax = w->maximized && !w->minimized;
                    w->minimized = false;
                    w->style &= ~WS_MINIMIZE;
                    if (wasMax || command != 10) {
                        if (w->maximized || wasMax) {
                            w->maximized = false;
                            w->style &= ~WS_MAXIMIZE;
                            w->windowRect = w->restoreRect;
                        }
                    }
                    if (w->sdl && IsVideoThread()) SDL_RestoreWindow(w->sdl);
                    geometry = true;
                }
                activate = top;
                break;
            case SW_SHOWNOACTIVATE:
            case SW_SHOWNA:
                w->style |= WS_VISIBLE;
                break;
            default:  // SW_SHOW and anything else
                w->style |= WS_VISIBLE;
                activate = top;
                break;
        }
        if ((w->style & WS_VISIBLE) && !wasVisible) {
            w->needsPaint = true;
            RECT c = ClientRectOnScreen(*w);
            w->invalid = RECT{0, 0, Width(c), Height(c)};
        }
        minimizedNow = w->minimized;
        newClient = ClientRectOnScreen(*w);
        SyncSdl(*w, geometry, false, ((w->style & WS_VISIBLE) != 0) != wasVisible);
        kind = SizeKind(*w);
    }
    bool visible = IsWindowVisible(window) != FALSE;
    if (visible != wasVisible) Send(window, WM_SHOWWINDOW, visible, 0);
    if (geometry) {
        if (minimizedNow) {
            Send(window, WM_SIZE, SIZE_MINIMIZED, 0);
        } else {
            NotifyGeometry(window, oldClient, newClient, kind, true);
        }
    }
    if (activate) {
        if (ActiveWindow() == window && geometry) {
            // A change of the minimised state of the active window is reported as a new activation.
            Send(window, WM_ACTIVATE, static_cast<WPARAM>(MakeLParam(WA_ACTIVE, minimizedNow)), 0);
        } else {
            Activate(window, minimizedNow);
        }
    } else if (deactivate && ActiveWindow() == window) {
        Activate(nullptr, false);
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND window) {
    bool paint;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w) return FALSE;
        paint = w->needsPaint && (w->style & WS_VISIBLE) && w->threadId == CurrentThreadId();
    }
    if (paint) Send(window, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w) return FALSE;
    RECT c = ClientRectOnScreen(*w);
    RECT r = rect ? *rect : RECT{0, 0, Width(c), Height(c)};
    if (w->needsPaint) {
        w->invalid =
            RECT{std::min(w->invalid.left, r.left), std::min(w->invalid.top, r.top),
                 std::max(w->invalid.right, r.right), std::max(w->invalid.bottom, r.bottom)};
    } else {
        w->invalid = r;
    }
    w->needsPaint = true;
    if (auto q = QueueOf(w->threadId)) q->wake.notify_all();
    return TRUE;
}

BOOL ValidateRect(HWND window, const RECT*) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w) return FALSE;
    w->needsPaint = false;
    return TRUE;
}

HWND GetForegroundWindow() {
    return ActiveWindow();
}
HWND GetActiveWindow() {
    return ActiveWindow();
}

HWND GetFocus() {
    std::lock_guard lock(Lock());
    return State().focus;
}

BOOL SetForegroundWindow(HWND window) {
    if (!IsWindow(window)) return FALSE;
    Activate(window, IsIconic(window) != FALSE);
    if (IsVideoThread()) {
        std::lock_guard lock(Lock());
        if (auto w = FindWindowLocked(window); w && w->sdl && (w->style & WS_VISIBLE)) {
            SDL_RaiseWindow(w->sdl);
        }
    }
    return TRUE;
}

HWND SetActiveWindow(HWND window) {
    HWND old = ActiveWindow();
    if (!IsWindow(window)) return nullptr;
    Activate(window, IsIconic(window) != FALSE);
    return old;
}

HWND SetFocus(HWND window) {
    std::lock_guard lock(Lock());
    HWND old = State().focus;
    if (window == nullptr || FindWindowLocked(window)) State().focus = window;
    return old;
}

BOOL BringWindowToTop(HWND window) {
    if (!IsWindow(window)) return FALSE;
    if (IsWindowVisible(window)) Activate(window, IsIconic(window) != FALSE);
    return TRUE;
}

BOOL AttachThreadInput(DWORD, DWORD, BOOL) {
    return TRUE;
}

HWND GetDesktopWindow() {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10));
}

BOOL WINNLSEnableIME(HWND window, BOOL enable) {
    std::unique_lock lock(Lock());
    auto w = FindWindowLocked(window);
    if (!w) return FALSE;
    BOOL old = w->imeEnabled ? TRUE : FALSE;
    w->imeEnabled = enable != FALSE;
    lock.unlock();
    if (!enable) ImeClose(window);
    return old;
}

namespace {
const ModuleExports kExports("user32.dll",
                             {{"RegisterClassExW", Export(&RegisterClassExW)},
                              {"RegisterClassExA", Export(&RegisterClassExA)},
                              {"UnregisterClassW", Export(&UnregisterClassW)},
                              {"UnregisterClassA", Export(&UnregisterClassA)},
                              {"CreateWindowExW", Export(&CreateWindowExW)},
                              {"CreateWindowExA", Export(&CreateWindowExA)},
                              {"DestroyWindow", Export(&DestroyWindow)},
                              {"IsWindow", Export(&IsWindow)},
                              {"IsWindowVisible", Export(&IsWindowVisible)},
                              {"IsIconic", Export(&IsIconic)},
                              {"IsZoomed", Export(&IsZoomed)},
                              {"FindWindowW", Export(&FindWindowW)},
                              {"FindWindowA", Export(&FindWindowA)},
                              {"SetWindowTextW", Export(&SetWindowTextW)},
                              {"SetWindowTextA", Export(&SetWindowTextA)},
                              {"GetWindowTextW", Export(&GetWindowTextW)},
                              {"GetWindowLongW", Export(&GetWindowLongW)},
                              {"SetWindowLongW", Export(&SetWindowLongW)},
                              {"GetWindowLongPtrW", Export(&GetWindowLongPtrW)},
                              {"SetWindowLongPtrW", Export(&SetWindowLongPtrW)},
                              {"SetClassLongW", Export(&SetClassLongW)},
                              {"SetClassLongPtrW", Export(&SetClassLongPtrW)},
                              {"GetWindowThreadProcessId", Export(&GetWindowThreadProcessId)},
                              {"GetWindowRect", Export(&GetWindowRect)},
                              {"GetClientRect", Export(&GetClientRect)},
                              {"ClientToScreen", Export(&ClientToScreen)},
                              {"ScreenToClient", Export(&ScreenToClient)},
                              {"AdjustWindowRectEx", Export(&AdjustWindowRectEx)},
                              {"AdjustWindowRect", Export(&AdjustWindowRect)},
                              {"MoveWindow", Export(&MoveWindow)},
                              {"SetWindowPos", Export(&SetWindowPos)},
                              {"ShowWindow", Export(&ShowWindow)},
                              {"UpdateWindow", Export(&UpdateWindow)},
                              {"InvalidateRect", Export(&InvalidateRect)},
                              {"ValidateRect", Export(&ValidateRect)},
                              {"GetForegroundWindow", Export(&GetForegroundWindow)},
                              {"GetActiveWindow", Export(&GetActiveWindow)},
                              {"GetFocus", Export(&GetFocus)},
                              {"SetForegroundWindow", Export(&SetForegroundWindow)},
                              {"SetActiveWindow", Export(&SetActiveWindow)},
                              {"SetFocus", Export(&SetFocus)},
                              {"BringWindowToTop", Export(&BringWindowToTop)},
                              {"AttachThreadInput", Export(&AttachThreadInput)},
                              {"GetDesktopWindow", Export(&GetDesktopWindow)},
                              {"WINNLSEnableIME", Export(&WINNLSEnableIME)}});
}  // namespace

}  // namespace platform::user32

namespace platform::user32test {

SDL_Window* SdlWindowOf(HWND window) {
    std::lock_guard lock(user32::detail::Lock());
    auto w = user32::detail::FindWindowLocked(window);
    return w ? w->sdl : nullptr;
}

int WindowCount() {
    std::lock_guard lock(user32::detail::Lock());
    return static_cast<int>(user32::detail::Windows().size());
}

int ClassCount() {
    std::lock_guard lock(user32::detail::Lock());
    int n = 0;
    for (auto& c : user32::detail::State().classes) n += c != nullptr;
    return n;
}

bool HasDisplay() {
    return user32::detail::DisplayPresent();
}

}  // namespace platform::user32test
