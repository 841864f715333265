// user32 displays, system metrics and parameters, the cursor, painting contexts, message boxes,
// the clipboard and accelerator tables; shell32's dropped files; kernel32's global memory blocks
// and ExitProcess.
#include <algorithm>
#include <cstdio>
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

struct Display {
    RECT bounds;
    RECT work;
    int refresh;
    std::string name;
};

// The displays as SDL reports them; one 1024 x 768 display without video.
std::vector<Display> Displays() {
    std::vector<Display> out;
    if (EnsureVideo()) {
        int n = SDL_GetNumVideoDisplays();
        for (int i = 0; i < n; ++i) {
            SDL_Rect b, u;
            if (SDL_GetDisplayBounds(i, &b) != 0) continue;
            if (SDL_GetDisplayUsableBounds(i, &u) != 0) u = b;
            SDL_DisplayMode mode{};
            int refresh = SDL_GetDesktopDisplayMode(i, &mode) == 0 && mode.refresh_rate > 0
                              ? mode.refresh_rate
                              : 60;
            const char* name = SDL_GetDisplayName(i);
            out.push_back(Display{RECT{b.x, b.y, b.x + b.w, b.y + b.h},
                                  RECT{u.x, u.y, u.x + u.w, u.y + u.h}, refresh,
                                  name ? name : "Display"});
        }
    }
    if (out.empty()) out.push_back(Display{{0, 0, 1024, 768}, {0, 0, 1024, 768}, 60, "Display"});
    return out;
}

struct MiscState {
    int cursorCount = 0;
    HCURSOR cursor = reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(0x30001));
    bool cursorShown = true;
    bool screenSaver = true;
    UINT foregroundLockTimeout = 200000;
    HWND clipboardOwner = nullptr;
    DWORD clipboardThread = 0;
    bool clipboardOpen = false;
    std::u16string localClipboard;
    std::vector<HGLOBAL> clipboardBlocks;  // handed out by GetClipboardData, freed on Empty
    std::string lastMessageBox;
    int messageBoxes = 0;
    RECT clip{};
    bool clipped = false;
};

MiscState& Misc() {
    static MiscState* state = new MiscState;
    return *state;
}

const HCURSOR kArrowCursor = reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(0x30001));
const HICON kAppIcon = reinterpret_cast<HICON>(static_cast<std::uintptr_t>(0x30101));

// Shows or hides SDL's cursor by the display count and the cursor image (Lock() held).
void ApplyCursorLocked() {
    MiscState& m = Misc();
    bool shown = m.cursorCount >= 0 && m.cursor != nullptr;
    if (shown != m.cursorShown) {
        m.cursorShown = shown;
        if (IsVideoThread()) SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
    }
}

int DisplayIndexOf(LPCWSTR device) {
    if (device == nullptr) return 0;
    std::string name = ToUtf8(device);
    auto pos = name.find("DISPLAY");
    if (pos == std::string::npos) return -1;
    int n = std::atoi(name.c_str() + pos + 7);
    return n - 1;
}

template <typename DevMode>
void FillDevMode(DevMode* dm, int width, int height, int refresh, int x, int y) {
    WORD size = dm->dmSize;
    std::memset(dm, 0, sizeof(*dm));
    dm->dmSize = size ? size : static_cast<WORD>(sizeof(DevMode));
    dm->dmSpecVersion = 0x0401;
    dm->dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY | DM_POSITION;
    dm->dmBitsPerPel = 32;
    dm->dmPelsWidth = static_cast<DWORD>(width);
    dm->dmPelsHeight = static_cast<DWORD>(height);
    dm->dmDisplayFrequency = static_cast<DWORD>(refresh);
    dm->dmPosition = POINT{x, y};
    dm->dmLogPixels = 96;
}

// The modes of a display: SDL's list without repeats (every mode is reported at 32 bits).
std::vector<SDL_DisplayMode> ModesOf(int display) {
    std::vector<SDL_DisplayMode> out;
    if (!EnsureVideo()) return out;
    int n = SDL_GetNumDisplayModes(display);
    for (int i = 0; i < n; ++i) {
        SDL_DisplayMode m;
        if (SDL_GetDisplayMode(display, i, &m) != 0) continue;
        bool seen = false;
        for (auto& o : out) seen |= o.w == m.w && o.h == m.h && o.refresh_rate == m.refresh_rate;
        if (!seen) out.push_back(m);
    }
    return out;
}

constexpr std::uint32_t kGlobalMagic = 0x474C4F42;  // "GLOB"
struct GlobalHeader {
    std::uint32_t magic;
    std::uint32_t flags;
    SIZE_T size;
};

GlobalHeader* HeaderOf(HGLOBAL block) {
    if (block == nullptr) return nullptr;
    auto* h = reinterpret_cast<GlobalHeader*>(static_cast<char*>(block) - sizeof(GlobalHeader));
    return h->magic == kGlobalMagic ? h : nullptr;
}

struct DropList {
    std::uint32_t magic = 0x44524F50;  // "DROP"
    std::vector<std::u16string> files;
};

}  // namespace

HDROP MakeDrop(const std::vector<std::string>& files) {
    auto* list = new DropList;
    for (auto& f : files) list->files.push_back(platform::Utf8ToUtf16(f));
    return reinterpret_cast<HDROP>(list);
}

}  // namespace detail

using namespace detail;

int GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXSCREEN:
        case SM_CXFULLSCREEN: {
            RECT b = Displays()[0].bounds;
            return b.right - b.left;
        }
        case SM_CYSCREEN:
        case SM_CYFULLSCREEN: {
            RECT b = Displays()[0].bounds;
            return b.bottom - b.top;
        }
        case SM_CXBORDER:
        case SM_CYBORDER:
            return 1;
        case SM_CYCAPTION:
            return 23;
        case SM_CYSMCAPTION:
            return 23;
        case SM_CXFIXEDFRAME:
        case SM_CYFIXEDFRAME:
            return 3;
        case SM_CXSIZEFRAME:
        case SM_CYSIZEFRAME:
            return 4;
        case SM_CXPADDEDBORDER:
            return 4;
        case SM_CYMENU:
            return 20;
        case SM_CMONITORS:
            return static_cast<int>(Displays().size());
        case SM_XVIRTUALSCREEN:
        case SM_YVIRTUALSCREEN:
        case SM_CXVIRTUALSCREEN:
        case SM_CYVIRTUALSCREEN: {
            auto all = Displays();
            RECT u = all[0].bounds;
            for (auto& d : all) {
                u.left = std::min(u.left, d.bounds.left);
                u.top = std::min(u.top, d.bounds.top);
                u.right = std::max(u.right, d.bounds.right);
                u.bottom = std::max(u.bottom, d.bounds.bottom);
            }
            if (index == SM_XVIRTUALSCREEN) return u.left;
            if (index == SM_YVIRTUALSCREEN) return u.top;
            return index == SM_CXVIRTUALSCREEN ? u.right - u.left : u.bottom - u.top;
        }
        default:
            return 0;
    }
}

BOOL SystemParametersInfoW(UINT action, UINT param, LPVOID data, UINT) {
    switch (action) {
        case SPI_GETWORKAREA:
            if (data == nullptr) return FALSE;
            *static_cast<RECT*>(data) = Displays()[0].work;
            return TRUE;
        case SPI_SETSCREENSAVEACTIVE: {
            {
                std::lock_guard lock(Lock());
                Misc().screenSaver = param != 0;
            }
            if (EnsureVideo() && IsVideoThread()) {
                if (param) {
                    SDL_EnableScreenSaver();
                } else {
                    SDL_DisableScreenSaver();
                }
            }
            return TRUE;
        }
        case SPI_GETSCREENSAVEACTIVE:
            if (data == nullptr) return FALSE;
            *static_cast<BOOL*>(data) = Misc().screenSaver ? TRUE : FALSE;
            return TRUE;
        case SPI_GETFOREGROUNDLOCKTIMEOUT:
            if (data == nullptr) return FALSE;
            *static_cast<DWORD*>(data) = Misc().foregroundLockTimeout;
            return TRUE;
        case SPI_SETFOREGROUNDLOCKTIMEOUT:
            Misc().foregroundLockTimeout =
                static_cast<UINT>(reinterpret_cast<std::uintptr_t>(data));
            return TRUE;
        default:
            kernel32::SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
}

BOOL SystemParametersInfoA(UINT action, UINT param, LPVOID data, UINT winIni) {
    return SystemParametersInfoW(action, param, data, winIni);
}

BOOL EnumDisplayMonitors(HDC, const RECT*, MONITORENUMPROC proc, LPARAM data) {
    if (proc == nullptr) return FALSE;
    auto all = Displays();
    for (std::size_t i = 0; i < all.size(); ++i) {
        RECT r = all[i].bounds;
        if (!proc(reinterpret_cast<HMONITOR>(i + 1), nullptr, &r, data)) break;
    }
    return TRUE;
}

BOOL GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info) {
    auto all = Displays();
    auto index = reinterpret_cast<std::uintptr_t>(monitor);
    if (info == nullptr || index == 0 || index > all.size()) return FALSE;
    const Display& d = all[index - 1];
    info->rcMonitor = d.bounds;
    info->rcWork = d.work;
    info->dwFlags = index == 1 ? MONITORINFOF_PRIMARY : 0;
    if (info->cbSize >= sizeof(MONITORINFOEXW)) {
        auto* ex = reinterpret_cast<MONITORINFOEXW*>(info);
        std::u16string name = u"\\\\.\\DISPLAY" + platform::Utf8ToUtf16(std::to_string(index));
        std::memset(ex->szDevice, 0, sizeof(ex->szDevice));
        std::copy(name.begin(), name.end(), ex->szDevice);
    }
    return TRUE;
}

BOOL GetMonitorInfoA(HMONITOR monitor, MONITORINFO* info) {
    if (info == nullptr) return FALSE;
    DWORD size = info->cbSize;
    info->cbSize = sizeof(MONITORINFO);
    BOOL ok = GetMonitorInfoW(monitor, info);
    info->cbSize = size;
    if (ok && size >= sizeof(MONITORINFOEXA)) {
        auto* ex = reinterpret_cast<MONITORINFOEXA*>(info);
        std::snprintf(ex->szDevice, sizeof(ex->szDevice), "\\\\.\\DISPLAY%u",
                      static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(monitor)));
    }
    return ok;
}

HMONITOR MonitorFromPoint(POINT p, DWORD flags) {
    auto all = Displays();
    for (std::size_t i = 0; i < all.size(); ++i) {
        const RECT& b = all[i].bounds;
        if (p.x >= b.left && p.x < b.right && p.y >= b.top && p.y < b.bottom) {
            return reinterpret_cast<HMONITOR>(i + 1);
        }
    }
    return flags == MONITOR_DEFAULTTONULL ? nullptr : reinterpret_cast<HMONITOR>(1);
}

HMONITOR MonitorFromWindow(HWND window, DWORD flags) {
    RECT r;
    if (!GetWindowRect(window, &r))
        return flags == MONITOR_DEFAULTTONULL ? nullptr : reinterpret_cast<HMONITOR>(1);
    return MonitorFromPoint(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}, flags);
}

BOOL EnumDisplayDevicesW(LPCWSTR device, DWORD index, DISPLAY_DEVICEW* info, DWORD) {
    auto all = Displays();
    if (device != nullptr || info == nullptr || index >= all.size()) return FALSE;
    DWORD cb = info->cb;
    std::memset(info, 0, sizeof(*info));
    info->cb = cb;
    std::u16string name = u"\\\\.\\DISPLAY" + platform::Utf8ToUtf16(std::to_string(index + 1));
    std::copy(name.begin(), name.end(), info->DeviceName);
    std::u16string text = platform::Utf8ToUtf16(all[index].name).substr(0, 127);
    std::copy(text.begin(), text.end(), info->DeviceString);
    info->StateFlags =
        DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | (index == 0 ? DISPLAY_DEVICE_PRIMARY_DEVICE : 0);
    return TRUE;
}

BOOL EnumDisplayDevicesA(LPCSTR device, DWORD index, DISPLAY_DEVICEA* info, DWORD flags) {
    if (device != nullptr || info == nullptr) return FALSE;
    DISPLAY_DEVICEW w{};
    w.cb = sizeof(w);
    if (!EnumDisplayDevicesW(nullptr, index, &w, flags)) return FALSE;
    DWORD cb = info->cb;
    std::memset(info, 0, sizeof(*info));
    info->cb = cb;
    std::snprintf(info->DeviceName, sizeof(info->DeviceName), "%s", ToUtf8(w.DeviceName).c_str());
    std::snprintf(info->DeviceString, sizeof(info->DeviceString), "%s",
                  ToUtf8(w.DeviceString).c_str());
    info->StateFlags = w.StateFlags;
    return TRUE;
}

BOOL EnumDisplaySettingsW(LPCWSTR device, DWORD mode, DEVMODEW* info) {
    auto all = Displays();
    int d = DisplayIndexOf(device);
    if (info == nullptr || d < 0 || static_cast<std::size_t>(d) >= all.size()) return FALSE;
    const Display& disp = all[static_cast<std::size_t>(d)];
    if (mode == ENUM_CURRENT_SETTINGS || mode == ENUM_REGISTRY_SETTINGS) {
        FillDevMode(info, disp.bounds.right - disp.bounds.left,
                    disp.bounds.bottom - disp.bounds.top, disp.refresh, disp.bounds.left,
                    disp.bounds.top);
        return TRUE;
    }
    auto modes = ModesOf(d);
    if (modes.empty() && mode == 0) {
        FillDevMode(info, disp.bounds.right - disp.bounds.left,
                    disp.bounds.bottom - disp.bounds.top, disp.refresh, disp.bounds.left,
                    disp.bounds.top);
        return TRUE;
    }
    if (mode >= modes.size()) return FALSE;
    const SDL_DisplayMode& m = modes[mode];
    FillDevMode(info, m.w, m.h, m.refresh_rate > 0 ? m.refresh_rate : 60, disp.bounds.left,
                disp.bounds.top);
    return TRUE;
}

BOOL EnumDisplaySettingsA(LPCSTR device, DWORD mode, DEVMODEA* info) {
    if (info == nullptr) return FALSE;
    std::u16string name = FromAnsi(device);
    DEVMODEW w{};
    w.dmSize = sizeof(w);
    if (!EnumDisplaySettingsW(device ? name.c_str() : nullptr, mode, &w)) return FALSE;
    FillDevMode(info, static_cast<int>(w.dmPelsWidth), static_cast<int>(w.dmPelsHeight),
                static_cast<int>(w.dmDisplayFrequency), w.dmPosition.x, w.dmPosition.y);
    return TRUE;
}

LONG ChangeDisplaySettingsW(DEVMODEW* mode, DWORD) {
    if (mode == nullptr) return DISP_CHANGE_SUCCESSFUL;
    DEVMODEW now{};
    now.dmSize = sizeof(now);
    EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &now);
    bool same = (!(mode->dmFields & DM_PELSWIDTH) || mode->dmPelsWidth == now.dmPelsWidth) &&
                (!(mode->dmFields & DM_PELSHEIGHT) || mode->dmPelsHeight == now.dmPelsHeight) &&
                (!(mode->dmFields & DM_BITSPERPEL) || mode->dmBitsPerPel == 32);
    return same ? DISP_CHANGE_SUCCESSFUL : DISP_CHANGE_BADMODE;
}

LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags) {
    if (mode == nullptr) return DISP_CHANGE_SUCCESSFUL;
    DEVMODEW w{};
    w.dmSize = sizeof(w);
    w.dmFields = mode->dmFields;
    w.dmPelsWidth = mode->dmPelsWidth;
    w.dmPelsHeight = mode->dmPelsHeight;
    w.dmBitsPerPel = mode->dmBitsPerPel;
    return ChangeDisplaySettingsW(&w, flags);
}

int ShowCursor(BOOL show) {
    std::lock_guard lock(Lock());
    MiscState& m = Misc();
    m.cursorCount += show ? 1 : -1;
    ApplyCursorLocked();
    return m.cursorCount;
}

HCURSOR SetCursor(HCURSOR cursor) {
    std::lock_guard lock(Lock());
    MiscState& m = Misc();
    HCURSOR old = m.cursor;
    m.cursor = cursor;
    ApplyCursorLocked();
    return old;
}

HCURSOR LoadCursorW(HINSTANCE, LPCWSTR) {
    return kArrowCursor;
}
HCURSOR LoadCursorA(HINSTANCE, LPCSTR) {
    return kArrowCursor;
}
HICON LoadIconW(HINSTANCE, LPCWSTR) {
    return kAppIcon;
}
HICON LoadIconA(HINSTANCE, LPCSTR) {
    return kAppIcon;
}

BOOL ClipCursor(const RECT* rect) {
    HWND active = ActiveWindow();
    std::lock_guard lock(Lock());
    MiscState& m = Misc();
    m.clipped = rect != nullptr;
    if (rect) m.clip = *rect;
    auto w = FindWindowLocked(active);
    if (w && w->sdl && IsVideoThread()) {
        if (rect) {
            RECT c = ClientRectOnScreen(*w);
            SDL_Rect r{rect->left - c.left, rect->top - c.top, rect->right - rect->left,
                       rect->bottom - rect->top};
            SDL_SetWindowMouseRect(w->sdl, &r);
        } else {
            SDL_SetWindowMouseRect(w->sdl, nullptr);
        }
    }
    return TRUE;
}

HDC GetDC(HWND window) {
    {
        std::lock_guard lock(Lock());
        if (window != nullptr && !FindWindowLocked(window)) return nullptr;
    }
    gdi::DeviceContext dc;
    dc.window = window;
    return gdi::AddDc(dc);
}

int ReleaseDC(HWND, HDC dc) {
    gdi::DeviceContext c;
    if (!gdi::FindDc(dc, &c) || c.memory || !gdi::RemoveDc(dc)) return 0;
    gdi::detail::WindowDcReleased(c.window);
    return 1;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    if (paint == nullptr) return nullptr;
    std::memset(paint, 0, sizeof(*paint));
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w) return nullptr;
        RECT c = ClientRectOnScreen(*w);
        paint->rcPaint = w->needsPaint ? w->invalid : RECT{0, 0, 0, 0};
        if (paint->rcPaint.right > c.right - c.left) paint->rcPaint.right = c.right - c.left;
        if (paint->rcPaint.bottom > c.bottom - c.top) paint->rcPaint.bottom = c.bottom - c.top;
        w->needsPaint = false;
    }
    paint->hdc = GetDC(window);
    return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
    if (paint == nullptr) return FALSE;
    ReleaseDC(window, paint->hdc);
    return TRUE;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    if (dc == nullptr || rect == nullptr || !gdi::FindDc(dc, nullptr)) return 0;
    COLORREF color;
    gdi::Surface surface;
    if (gdi::detail::BrushColor(brush, &color) && gdi::DcSurface(dc, &surface)) {
        gdi::detail::FillSurface(surface, *rect, color);
    }
    return 1;
}

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
    std::string body = ToUtf8(text), title = caption ? ToUtf8(caption) : "Error";
    struct Button {
        int id;
        const char* label;
    };
    std::vector<Button> buttons;
    switch (type & 0xF) {
        case MB_OKCANCEL:
            buttons = {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
            break;
        case MB_ABORTRETRYIGNORE:
            buttons = {{IDABORT, "Abort"}, {IDRETRY, "Retry"}, {IDIGNORE, "Ignore"}};
            break;
        case MB_YESNOCANCEL:
            buttons = {{IDYES, "Yes"}, {IDNO, "No"}, {IDCANCEL, "Cancel"}};
            break;
        case MB_YESNO:
            buttons = {{IDYES, "Yes"}, {IDNO, "No"}};
            break;
        case MB_RETRYCANCEL:
            buttons = {{IDRETRY, "Retry"}, {IDCANCEL, "Cancel"}};
            break;
        case MB_CANCELTRYCONTINUE:
            buttons = {{IDCANCEL, "Cancel"}, {IDTRYAGAIN, "Try Again"}, {IDCONTINUE, "Continue"}};
            break;
        default:
            buttons = {{IDOK, "OK"}};
            break;
    }
    std::size_t def = (type >> 8) & 0xF;
    if (def >= buttons.size()) def = 0;
    {
        std::lock_guard lock(Lock());
        Misc().lastMessageBox = title + "\n" + body;
        ++Misc().messageBoxes;
    }
    const char* mode = std::getenv("VELK_MESSAGEBOX");
    bool interactive =
        !(mode && std::strcmp(mode, "stderr") == 0) && DisplayPresent() && IsVideoThread();
    if (interactive) {
        std::vector<SDL_MessageBoxButtonData> data;
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            Uint32 flags = 0;
            if (i == def) flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
            if (buttons[i].id == IDCANCEL || buttons[i].id == IDNO)
                flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
            data.push_back(SDL_MessageBoxButtonData{flags, buttons[i].id, buttons[i].label});
        }
        Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
        UINT icon = type & 0xF0;
        if (icon == MB_ICONERROR) flags = SDL_MESSAGEBOX_ERROR;
        if (icon == MB_ICONWARNING) flags = SDL_MESSAGEBOX_WARNING;
        SDL_MessageBoxData box{
            flags,       nullptr, title.c_str(), body.c_str(), static_cast<int>(data.size()),
            data.data(), nullptr};
        int pressed = 0;
        if (SDL_ShowMessageBox(&box, &pressed) == 0) {
            return pressed >= 0 ? pressed
                                : (buttons.size() > 1 ? buttons.back().id : buttons[0].id);
        }
    }
    std::fprintf(stderr, "[%s] %s\n", title.c_str(), body.c_str());
    std::fflush(stderr);
    return buttons[def].id;
}

int MessageBoxA(HWND window, LPCSTR text, LPCSTR caption, UINT type) {
    std::u16string t = FromAnsi(text), c = FromAnsi(caption);
    return MessageBoxW(window, t.c_str(), caption ? c.c_str() : nullptr, type);
}

BOOL OpenClipboard(HWND owner) {
    std::lock_guard lock(Lock());
    MiscState& m = Misc();
    if (m.clipboardOpen && m.clipboardThread != CurrentThreadId()) {
        kernel32::SetLastError(5);
        return FALSE;
    }
    m.clipboardOpen = true;
    m.clipboardOwner = owner;
    m.clipboardThread = CurrentThreadId();
    return TRUE;
}

BOOL CloseClipboard() {
    std::lock_guard lock(Lock());
    MiscState& m = Misc();
    if (!m.clipboardOpen || m.clipboardThread != CurrentThreadId()) return FALSE;
    m.clipboardOpen = false;
    return TRUE;
}

namespace {
bool ClipboardHeld() {
    MiscState& m = Misc();
    return m.clipboardOpen && m.clipboardThread == CurrentThreadId();
}
void FreeClipboardBlocksLocked() {
    for (HGLOBAL b : Misc().clipboardBlocks) kernel32::GlobalFree(b);
    Misc().clipboardBlocks.clear();
}
}  // namespace

BOOL EmptyClipboard() {
    std::lock_guard lock(Lock());
    if (!ClipboardHeld()) return FALSE;
    FreeClipboardBlocksLocked();
    Misc().localClipboard.clear();
    if (EnsureVideo()) SDL_SetClipboardText("");
    return TRUE;
}

HANDLE SetClipboardData(UINT format, HANDLE data) {
    std::lock_guard lock(Lock());
    if (!ClipboardHeld() || data == nullptr) return nullptr;
    std::u16string text;
    GlobalHeader* h = HeaderOf(data);
    if (h == nullptr) return nullptr;
    if (format == CF_UNICODETEXT) {
        auto* p = static_cast<const char16_t*>(data);
        std::size_t n = 0, max = h->size / 2;
        while (n < max && p[n]) ++n;
        text.assign(p, n);
    } else if (format == CF_TEXT) {
        std::string s(static_cast<const char*>(data),
                      strnlen(static_cast<const char*>(data), h->size));
        text = FromAnsi(s.c_str());
    } else {
        return nullptr;
    }
    Misc().localClipboard = text;
    if (EnsureVideo()) SDL_SetClipboardText(ToUtf8(text.c_str()).c_str());
    // The clipboard owns the block now.
    Misc().clipboardBlocks.push_back(data);
    return data;
}

HANDLE GetClipboardData(UINT format) {
    std::lock_guard lock(Lock());
    if (!ClipboardHeld() || (format != CF_UNICODETEXT && format != CF_TEXT)) return nullptr;
    std::u16string text = Misc().localClipboard;
    if (EnsureVideo() && SDL_HasClipboardText()) {
        char* utf8 = SDL_GetClipboardText();
        if (utf8) {
            text = platform::Utf8ToUtf16(utf8);
            SDL_free(utf8);
        }
    }
    if (text.empty()) return nullptr;
    HGLOBAL block;
    if (format == CF_UNICODETEXT) {
        block = kernel32::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * 2);
        if (block == nullptr) return nullptr;
        std::memcpy(block, text.c_str(), (text.size() + 1) * 2);
    } else {
        std::string ansi = ToAnsi(text);
        block = kernel32::GlobalAlloc(GMEM_MOVEABLE, ansi.size() + 1);
        if (block == nullptr) return nullptr;
        std::memcpy(block, ansi.c_str(), ansi.size() + 1);
    }
    Misc().clipboardBlocks.push_back(block);
    return block;
}

BOOL IsClipboardFormatAvailable(UINT format) {
    if (format != CF_UNICODETEXT && format != CF_TEXT) return FALSE;
    std::lock_guard lock(Lock());
    if (EnsureVideo() && SDL_HasClipboardText()) return TRUE;
    return Misc().localClipboard.empty() ? FALSE : TRUE;
}

HACCEL CreateAcceleratorTableW(ACCEL*, int count) {
    if (count <= 0) return nullptr;
    return reinterpret_cast<HACCEL>(new int(count));
}

BOOL DestroyAcceleratorTable(HACCEL table) {
    delete reinterpret_cast<int*>(table);
    return TRUE;
}

namespace {
const ModuleExports kExports("user32.dll",
                             {{"GetSystemMetrics", Export(&GetSystemMetrics)},
                              {"SystemParametersInfoW", Export(&SystemParametersInfoW)},
                              {"SystemParametersInfoA", Export(&SystemParametersInfoA)},
                              {"EnumDisplayMonitors", Export(&EnumDisplayMonitors)},
                              {"GetMonitorInfoW", Export(&GetMonitorInfoW)},
                              {"GetMonitorInfoA", Export(&GetMonitorInfoA)},
                              {"MonitorFromWindow", Export(&MonitorFromWindow)},
                              {"MonitorFromPoint", Export(&MonitorFromPoint)},
                              {"EnumDisplayDevicesW", Export(&EnumDisplayDevicesW)},
                              {"EnumDisplayDevicesA", Export(&EnumDisplayDevicesA)},
                              {"EnumDisplaySettingsW", Export(&EnumDisplaySettingsW)},
                              {"EnumDisplaySettingsA", Export(&EnumDisplaySettingsA)},
                              {"ChangeDisplaySettingsW", Export(&ChangeDisplaySettingsW)},
                              {"ChangeDisplaySettingsA", Export(&ChangeDisplaySettingsA)},
                              {"ShowCursor", Export(&ShowCursor)},
                              {"SetCursor", Export(&SetCursor)},
                              {"LoadCursorW", Export(&LoadCursorW)},
                              {"LoadCursorA", Export(&LoadCursorA)},
                              {"LoadIconW", Export(&LoadIconW)},
                              {"LoadIconA", Export(&LoadIconA)},
                              {"ClipCursor", Export(&ClipCursor)},
                              {"GetDC", Export(&GetDC)},
                              {"ReleaseDC", Export(&ReleaseDC)},
                              {"BeginPaint", Export(&BeginPaint)},
                              {"EndPaint", Export(&EndPaint)},
                              {"FillRect", Export(&FillRect)},
                              {"MessageBoxW", Export(&MessageBoxW)},
                              {"MessageBoxA", Export(&MessageBoxA)},
                              {"OpenClipboard", Export(&OpenClipboard)},
                              {"CloseClipboard", Export(&CloseClipboard)},
                              {"EmptyClipboard", Export(&EmptyClipboard)},
                              {"SetClipboardData", Export(&SetClipboardData)},
                              {"GetClipboardData", Export(&GetClipboardData)},
                              {"IsClipboardFormatAvailable", Export(&IsClipboardFormatAvailable)},
                              {"CreateAcceleratorTableW", Export(&CreateAcceleratorTableW)},
                              {"DestroyAcceleratorTable", Export(&DestroyAcceleratorTable)}});
}  // namespace

}  // namespace platform::user32

namespace platform::shell32 {

void DragAcceptFiles(HWND window, BOOL accept) {
    std::lock_guard lock(user32::detail::Lock());
    if (auto w = user32::detail::FindWindowLocked(window)) w->acceptFiles = accept != FALSE;
}

UINT DragQueryFileW(HDROP drop, UINT index, LPWSTR buffer, UINT length) {
    auto* list = reinterpret_cast<user32::detail::DropList*>(drop);
    if (list == nullptr || list->magic != 0x44524F50) return 0;
    if (index == 0xFFFFFFFF) return static_cast<UINT>(list->files.size());
    if (index >= list->files.size()) return 0;
    const std::u16string& f = list->files[index];
    if (buffer == nullptr) return static_cast<UINT>(f.size());
    if (length == 0) return 0;
    UINT n = std::min<UINT>(static_cast<UINT>(f.size()), length - 1);
    std::copy_n(f.c_str(), n, buffer);
    buffer[n] = 0;
    return n;
}

UINT DragQueryFileA(HDROP drop, UINT index, LPSTR buffer, UINT length) {
    auto* list = reinterpret_cast<user32::detail::DropList*>(drop);
    if (list == nullptr || list->magic != 0x44524F50) return 0;
    if (index == 0xFFFFFFFF) return static_cast<UINT>(list->files.size());
    if (index >= list->files.size()) return 0;
    std::string f = user32::detail::ToAnsi(list->files[index]);
    if (buffer == nullptr) return static_cast<UINT>(f.size());
    if (length == 0) return 0;
    UINT n = std::min<UINT>(static_cast<UINT>(f.size()), length - 1);
    std::memcpy(buffer, f.c_str(), n);
    buffer[n] = 0;
    return n;
}

void DragFinish(HDROP drop) {
    auto* list = reinterpret_cast<user32::detail::DropList*>(drop);
    if (list && list->magic == 0x44524F50) {
        list->magic = 0;
        delete list;
    }
}

namespace {
const ModuleExports kExports("shell32.dll", {{"DragAcceptFiles", Export(&DragAcceptFiles)},
                                             {"DragQueryFileW", Export(&DragQueryFileW)},
                                             {"DragQueryFileA", Export(&DragQueryFileA)},
                                             {"DragFinish", Export(&DragFinish)}});
}  // namespace

}  // namespace platform::shell32

namespace platform::kernel32 {

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    using user32::detail::GlobalHeader;
    void* raw = (flags & GMEM_ZEROINIT) ? std::calloc(1, sizeof(GlobalHeader) + bytes)
                                        : std::malloc(sizeof(GlobalHeader) + bytes);
    if (raw == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* h = static_cast<GlobalHeader*>(raw);
    h->magic = user32::detail::kGlobalMagic;
    h->flags = flags;
    h->size = bytes;
    return h + 1;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    if (block == nullptr) return nullptr;
    auto* h = user32::detail::HeaderOf(block);
    if (h == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return block;
    }
    h->magic = 0;
    std::free(h);
    return nullptr;
}

LPVOID GlobalLock(HGLOBAL block) {
    return user32::detail::HeaderOf(block) ? block : nullptr;
}

BOOL GlobalUnlock(HGLOBAL block) {
    SetLastError(user32::detail::HeaderOf(block) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
    return FALSE;  // no lock count left
}

SIZE_T GlobalSize(HGLOBAL block) {
    auto* h = user32::detail::HeaderOf(block);
    return h ? h->size : 0;
}

HMODULE GetModuleHandleA(LPCSTR name) {
    // Null names the program itself, which has no module record of its own.
    if (name == nullptr) return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x400000));
    HMODULE module = LoadLibraryA(name);
    if (module) FreeLibrary(module);
    return module;
}

HMODULE GetModuleHandleW(LPCWSTR name) {
    if (name == nullptr) return GetModuleHandleA(nullptr);
    return GetModuleHandleA(user32::detail::ToUtf8(name).c_str());
}

void ExitProcess(UINT exitCode) {
    std::fflush(nullptr);
    std::exit(static_cast<int>(exitCode));
}

namespace {
const ModuleExports kExports("kernel32.dll", {{"GlobalAlloc", Export(&GlobalAlloc)},
                                              {"GlobalFree", Export(&GlobalFree)},
                                              {"GlobalLock", Export(&GlobalLock)},
                                              {"GlobalUnlock", Export(&GlobalUnlock)},
                                              {"GlobalSize", Export(&GlobalSize)},
                                              {"ExitProcess", Export(&ExitProcess)},
                                              {"GetModuleHandleA", Export(&GetModuleHandleA)},
                                              {"GetModuleHandleW", Export(&GetModuleHandleW)}});
}  // namespace

}  // namespace platform::kernel32

namespace platform::user32test {

int CursorDisplayCount() {
    std::lock_guard lock(user32::detail::Lock());
    return user32::detail::Misc().cursorCount;
}

bool CursorShown() {
    std::lock_guard lock(user32::detail::Lock());
    return user32::detail::Misc().cursorShown;
}

std::string LastMessageBoxText() {
    std::lock_guard lock(user32::detail::Lock());
    return user32::detail::Misc().lastMessageBox;
}

int MessageBoxCount() {
    std::lock_guard lock(user32::detail::Lock());
    return user32::detail::Misc().messageBoxes;
}

bool ScreenSaverAllowed() {
    std::lock_guard lock(user32::detail::Lock());
    return user32::detail::Misc().screenSaver;
}

}  // namespace platform::user32test
