// Window mode and full screen, the style modes, the scale factors, the client size, the window's
// position (centred on the display, clear of the taskbar) and the cursor's visibility.
#include <cmath>

#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

namespace {

struct Desktop {
    int width, height, left, top;
};

Desktop ChosenDesktop() {
    Desktop d{};
    GetDesktopMetrics(&d.width, &d.height, nullptr, nullptr, &d.left, &d.top, nullptr, nullptr,
                      nullptr, nullptr);
    return d;
}

bool WindowLike() {
    return MainWindow.windowMode || GetFullScreenResolutionModeInEffect() == 0;
}

// The chosen display's monitor (index -1: the chosen one).
struct MonitorSearch {
    int wanted;
    int index;
    HMONITOR found;
};

BOOL FindMonitor(HMONITOR monitor, HDC, RECT*, LPARAM data) {
    auto* search = reinterpret_cast<MonitorSearch*>(data);
    if (search->index++ == search->wanted) {
        search->found = monitor;
        return FALSE;
    }
    return TRUE;
}

HMONITOR MonitorOf(int display) {
    if (SystemApi.EnumDisplayMonitors == nullptr) return nullptr;
    MonitorSearch search{display < 0 ? (DisplayInUse() > 0 ? DisplayInUse() : 0) : display, 0,
                         nullptr};
    SystemApi.EnumDisplayMonitors(nullptr, nullptr, &FindMonitor,
                                  reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void ReadRects(RECT* window, RECT* client) {
    if (window) SystemApi.GetWindowRect(MainWindow.mainWindow, window);
    if (client) SystemApi.GetClientRect(MainWindow.mainWindow, client);
}

}  // namespace

int TruncateDoubleToInt(double x) {
    return static_cast<int>(x);
}

int StoreWindowModeFlag(int flag) {
    MainWindow.windowMode = flag;
    WriteLogTextUtf16(flag ? u"ウインドウモードフラグが立てられました\n"
                           : u"ウインドウモードフラグが倒されました\n");
    return 0;
}

int ChangeWindowMode(int flag) {
    WriteLogTextUtf16(u"ChangeWindowMode実行 \n");
    if (flag == MainWindow.windowMode) return 0;
    MainWindow.shown = 1;
    StoreWindowModeFlag(flag);
    if (MainWindow.mainWindow == nullptr) return 0;
    MainWindow.modeChanging = 1;
    ApplyWindowStyle(1);
    int result = 0;
    if (LibrarySystem.initialised) result = RunScreenModeChange(-1, -1, -1, 1, -1, 0);
    MainWindow.modeChanging = 0;
    return result;
}

int SelectWindowStyle(int mode) {
    if (mode < 0 || mode > 11) return -1;
    MainWindow.styleMode = mode;
    if (WindowLike()) ApplyWindowStyle(1);
    if (MainWindow.mainWindow) {
        EnsureSystemApiTable();
        SystemApi.SetWindowPos(MainWindow.mainWindow, nullptr, 0, 0, 0, 0,
                               SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE);
        SystemApi.UpdateWindow(MainWindow.mainWindow);
    }
    return 0;
}

int SetWindowResizable(int resizable, int stretch) {
    int noStretch = stretch != 1;
    if (MainWindow.resizable == resizable && MainWindow.noStretch == noStretch) return 0;
    MainWindow.resizable = resizable;
    MainWindow.noStretch = noStretch;
    if (WindowLike()) ApplyWindowStyle(1);
    return 0;
}

int SetWindowScaleFactors(double x, double y) {
    MainWindowState& m = MainWindow;
    if (y <= 0) y = x;
    if (x == m.scaleX && y == m.scaleY) return 0;
    m.scaleSet = 1;
    m.scaleX = x <= 0 ? 1.0 : x;
    m.scaleY = y <= 0 ? 1.0 : y;
    m.requestedSizeSet = 0;
    if (WindowLike()) {
        m.scaleChanging = 1;
        ApplyWindowStyle(1);
        m.scaleChanging = 0;
    }
    return 0;
}

double GetWindowScaleFactors(double* x, double* y) {
    MainWindowState& m = MainWindow;
    if (m.scaleX <= 0) m.scaleX = 1.0;
    if (m.scaleY <= 0) m.scaleY = 1.0;
    double outX = m.scaleX, outY = m.scaleY;
    if (!m.windowMode && GetFullScreenResolutionModeInEffect() != 0) {
        outX = outY = 1.0;
    } else if (m.maximized && !m.noStretch && !m.requestedSizeSet) {
        int w, h;
        GetWindowModeScreenSize(&w, &h);
        double fx =
            static_cast<double>(m.maximizedClientRect.right - m.maximizedClientRect.left - 1) / w;
        double fy =
            static_cast<double>(m.maximizedClientRect.bottom - m.maximizedClientRect.top - 1) / h;
        outX = outY = fx < fy ? fx : fy;
    }
    if (x) *x = outX;
    if (y) *y = outY;
    return outX;
}

int SetWindowClientPosition(int x, int y) {
    MainWindow.positionX = x;
    MainWindow.positionY = y;
    MainWindow.positionSet = 1;
    return ProcessWindowSize();
}

int GetWindowModeScreenSize(int* width, int* height) {
    int w, h;
    GetScreenSize(&w, &h);
    const ScreenModeSettingsData& s = GraphicsSystemState.ScreenModeSettings;
    if (MainWindow.windowMode) {
        if (s.Emulate320x240) {
            w = 640;
            h = 480;
        }
    } else if (s.FullScreenResolutionMode != 0) {
        // The display mode the front end selects for full screen.
        SelectFullScreenDisplayMode();
        if (s.FullScreenMode.Width > 0 && s.FullScreenMode.Height > 0) {
            w = s.FullScreenMode.Width;
            h = s.FullScreenMode.Height;
        }
    }
    if (width) *width = w;
    if (height) *height = h;
    return h;
}

int GetDesktopMetrics(int* width, int* height, int* colorBits, int* refreshRate, int* left,
                      int* top, int* width2, int* height2, int* dpiX, int* dpiY) {
    EnsureSystemApiTable();
    int w = 0, h = 0, x = 0, y = 0;
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    HMONITOR monitor = MonitorOf(-1);
    if (monitor && WinGetMonitorInfoW(monitor, &info)) {
        w = info.rcMonitor.right - info.rcMonitor.left;
        h = info.rcMonitor.bottom - info.rcMonitor.top;
        x = info.rcMonitor.left;
        y = info.rcMonitor.top;
    } else if (SystemApi.GetSystemMetrics) {
        w = SystemApi.GetSystemMetrics(SM_CXSCREEN);
        h = SystemApi.GetSystemMetrics(SM_CYSCREEN);
    }
    int bits = 32, refresh = 60;
    if (SystemApi.GetDC && SystemApi.GetDeviceCaps) {
        HDC dc = SystemApi.GetDC(nullptr);
        bits = SystemApi.GetDeviceCaps(dc, BITSPIXEL) * SystemApi.GetDeviceCaps(dc, PLANES);
        refresh = SystemApi.GetDeviceCaps(dc, VREFRESH);
        SystemApi.ReleaseDC(nullptr, dc);
    }
    int dx = 96, dy = 96;
    ReadDisplayDpi(&dx, &dy, -1);
    if (width) *width = w;
    if (height) *height = h;
    if (colorBits) *colorBits = bits;
    if (refreshRate) *refreshRate = refresh;
    if (left) *left = x;
    if (top) *top = y;
    if (width2) *width2 = w;
    if (height2) *height2 = h;
    if (dpiX) *dpiX = dx;
    if (dpiY) *dpiY = dy;
    return 0;
}

int ReadDisplayDpi(int* x, int* y, int display) {
    EnsureSystemApiTable();
    if (display >= 0 && SystemApi.GetSystemMetrics &&
        display >= SystemApi.GetSystemMetrics(SM_CMONITORS)) {
        return -1;
    }
    int dx = 96, dy = 96;
    if (SystemApi.GetDpiForMonitor) {
        UINT ux = 96, uy = 96;
        auto getDpi =
            reinterpret_cast<HRESULT (*)(HMONITOR, int, UINT*, UINT*)>(SystemApi.GetDpiForMonitor);
        if (getDpi(MonitorOf(display), 0, &ux, &uy) >= 0) {
            dx = static_cast<int>(ux);
            dy = static_cast<int>(uy);
        }
    } else if (SystemApi.GetDC && SystemApi.GetDeviceCaps) {
        HDC dc = SystemApi.GetDC(nullptr);
        dx = SystemApi.GetDeviceCaps(dc, LOGPIXELSX);
        dy = SystemApi.GetDeviceCaps(dc, LOGPIXELSY);
        SystemApi.ReleaseDC(nullptr, dc);
    }
    if (x) *x = dx;
    if (y) *y = dy;
    return 0;
}

int SetDesktopCompositionEnabled(int flag) {
    int disabled = flag == 0;
    if (MainWindow.compositionDisabled == disabled) return 0;
    EnsureSystemApiTable();
    if (SystemApi.DwmEnableComposition) SystemApi.DwmEnableComposition(static_cast<UINT>(flag));
    MainWindow.compositionDisabled = disabled;
    return 0;
}

int ApplyWindowStyle(int center) {
    MainWindowState& m = MainWindow;
    if (m.mainWindow == nullptr) return 0;
    EnsureSystemApiTable();
    HWND window = m.mainWindow;
    RECT windowRect{}, clientRect{};
    ReadRects(&windowRect, &clientRect);
    int imageW, imageH;
    GetWindowModeScreenSize(&imageW, &imageH);
    const WindowStyleEntry& entry = WindowStyleTable[m.styleMode];

    if (m.windowMode) {
        WriteLogTextUtf16(u"ウインドウスタイルをウインドウモード用に変更します... ");
        DWORD exStyle =
            entry.windowExStyle | (m.layeredAlphaMode || m.layeredColorKeyMode ? WS_EX_LAYERED : 0);
        DWORD style =
            entry.windowStyle | (m.shown ? WS_VISIBLE : 0) | (m.resizable ? WS_THICKFRAME : 0);
        WinSetWindowLong(window, GWL_EXSTYLE, static_cast<LONG>(exStyle));
        WinSetWindowLong(window, GWL_STYLE, static_cast<LONG>(style));

        // 3. Whether the scale is the display's own DPI scale.
        int dpiX = 96, dpiY = 96;
        ReadDisplayDpi(&dpiX, &dpiY, -1);
        double sx, sy;
        GetWindowScaleFactors(&sx, &sy);
        bool matches = (std::fabs(sx - 1.0) < 1e-7 && std::fabs(sy - 1.0) < 1e-7) ||
                       ((dpiX != 96 || dpiY != 96) && std::fabs(sx - dpiX / 96.0) < 1e-7 &&
                        std::fabs(sy - dpiY / 96.0) < 1e-7);

        // 4. Client size.
        int clientW, clientH;
        if (m.requestedSizeSet) {
            clientW = m.requestedWidth;
            clientH = m.requestedHeight;
        } else if (m.noStretch) {
            clientW = clientRect.right - clientRect.left;
            clientH = clientRect.bottom - clientRect.top;
        } else {
            clientW = TruncateDoubleToInt(imageW * m.scaleX);
            clientH = MeasureToolbarHeight() + TruncateDoubleToInt(imageH * m.scaleY);
        }

        // 5, 6. Desktop and frames.
        Desktop desktop = ChosenDesktop();
        RECT adjusted{0, 0, clientW, clientH};
        SystemApi.AdjustWindowRectEx(&adjusted, style, FALSE, exStyle);
        m.frameLeft = -adjusted.left;
        m.frameTop = -adjusted.top;
        m.captionHeight = -adjusted.top;
        m.frameRight = adjusted.right - clientW;
        m.frameBottom = adjusted.bottom - clientH;

        // 7. Window size.
        int windowW, windowH, x, y;
        bool tookCurrent = false;
        if (!m.scaleChanging && !m.modeChanging && matches) {
            // The size the window already has (the user may have resized it); after a screen-mode
            // change, the frame it had around the screen of before, around the new client size.
            windowW = windowRect.right - windowRect.left;
            windowH = windowRect.bottom - windowRect.top;
            const ScreenModeSettingsData& screen = GraphicsSystemState.ScreenModeSettings;
            if (screen.ScreenModeChangedOnce) {
                windowW = clientW + windowW - screen.PreviousWidth;
                windowH = clientH + windowH - screen.PreviousHeight;
            }
            tookCurrent = true;
        } else {
            windowW = clientW + m.frameLeft + m.frameRight;
            windowH = clientH + m.frameTop + m.frameBottom;
        }
        if (tookCurrent) {
            x = windowRect.left;
            y = windowRect.top;
        } else {
            x = adjusted.left;
            y = adjusted.top;
        }

        // 8. Centred, clear of the taskbar.
        if (center) {
            HWND taskbar =
                SystemApi.FindWindowW ? WinFindWindowW(u"Shell_TrayWnd", nullptr) : nullptr;
            RECT t{};
            if (taskbar == nullptr || !SystemApi.GetWindowRect(taskbar, &t)) {
                x = desktop.left + (desktop.width - windowW) / 2;
                y = desktop.top + (desktop.height - windowH) / 2;
            } else {
                int tw = t.right - t.left, th = t.bottom - t.top;
                int centreX = desktop.left + (desktop.width - windowW) / 2;
                int centreY = desktop.top + (desktop.height - windowH) / 2;
                if (t.left <= 0 && t.top <= 0 && t.right >= desktop.width) {
                    x = centreX;
                    y = desktop.top + th + (desktop.height - th - windowH) / 2;
                } else if (t.left > 0 && t.top <= 0 && t.right >= desktop.width &&
                           t.bottom >= desktop.height) {
                    x = desktop.left + (desktop.width - tw - windowW) / 2;
                    y = centreY;
                } else if (t.left <= 0 && t.top > 0 && t.right >= desktop.width &&
                           t.bottom >= desktop.height) {
                    x = centreX;
                    y = desktop.top + (desktop.height - th - windowH) / 2;
                } else if (t.left <= 0 && t.top <= 0 && t.right < desktop.width &&
                           t.bottom >= desktop.height) {
                    x = desktop.left + tw + (desktop.width - tw - windowW) / 2;
                    y = centreY;
                }
            }
        } else {
            x = windowRect.left;
            y = windowRect.top;
        }

        // 9. Place it.
        if (m.positionSet) {
            x = m.positionX;
            y = m.positionY;
        }
        SystemApi.SetWindowPos(window, HWND_NOTOPMOST, x, y, windowW, windowH, 0);
        SystemApi.SetWindowPos(window, HWND_TOP, x, y, windowW, windowH, 0);

        // 10. Keep the client area's top-left corner on the display.
        RECT c{};
        SystemApi.GetClientRect(window, &c);
        POINT p{0, 0};
        SystemApi.ClientToScreen(window, &p);
        m.clientRectOnScreen = RECT{p.x, p.y, p.x + c.right, p.y + c.bottom};
        if (!m.positionSet && (p.x < desktop.left || p.y < desktop.top)) {
            if (p.x < desktop.left) x += desktop.left - p.x;
            if (p.y < desktop.top) y += desktop.top - p.y;
            SystemApi.SetWindowPos(window, HWND_TOP, x, y, windowW, windowH, 0);
            p = POINT{0, 0};
            SystemApi.ClientToScreen(window, &p);
            m.clientRectOnScreen = RECT{p.x, p.y, p.x + c.right, p.y + c.bottom};
        }
        SystemApi.GetWindowRect(window, &m.windowRect);

        // 11. The cursor.
        SetMouseCursorVisible(m.cursorSetting);
    } else {
        // 12. Full screen over the chosen display.
        WriteLogTextUtf16(u"ウインドウスタイルをフルスクリーンモード用に変更します... ");
        WinSetWindowLong(window, GWL_EXSTYLE, static_cast<LONG>(entry.fullScreenExStyle));
        WinSetWindowLong(window, GWL_STYLE,
                         static_cast<LONG>(entry.fullScreenStyle | (m.shown ? WS_VISIBLE : 0)));
        Desktop desktop = ChosenDesktop();
        m.clientRectOnScreen = RECT{desktop.left, desktop.top, desktop.left + desktop.width,
                                    desktop.top + desktop.height};
        if (GetFullScreenResolutionModeInEffect() == 2 ||
            GetFullScreenResolutionModeInEffect() == 3) {
            m.clientRectOnScreen.right = desktop.left + imageW;
            m.clientRectOnScreen.bottom = desktop.top + imageH;
        }
        SystemApi.ShowWindow(window, SW_SHOW);
        SystemApi.UpdateWindow(window);
        SystemApi.SetWindowPos(window, HWND_TOPMOST, m.clientRectOnScreen.left,
                               m.clientRectOnScreen.top, imageW, imageH, SWP_NOREDRAW);
        SystemApi.GetWindowRect(window, &m.windowRect);
        SetMouseCursorVisible(0);
    }

    // 13.
    WriteLogTextUtf16(u"完了\n");
    if (SystemApi.SetActiveWindow) SystemApi.SetActiveWindow(window);
    ApplyFileDropSetting();
    WinPostMessage(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), 0);
    return 0;
}

int ProcessWindowSize() {
    MainWindowState& m = MainWindow;
    if (m.mainWindow == nullptr) return 0;
    if (!m.windowMode && GetFullScreenResolutionModeInEffect() != 0) return 0;
    EnsureSystemApiTable();
    HWND window = m.mainWindow;

    // 1. Target client size.
    int targetW, targetH;
    if (!m.windowMode) {
        Desktop desktop = ChosenDesktop();
        targetW = desktop.width;
        targetH = desktop.height;
    } else {
        int imageW, imageH;
        GetWindowModeScreenSize(&imageW, &imageH);
        targetW = TruncateDoubleToInt(imageW * m.scaleX);
        targetH = TruncateDoubleToInt(imageH * m.scaleY);
    }

    // 2. Rectangles and frames.
    RECT windowRect{}, clientRect{};
    ReadRects(&windowRect, &clientRect);
    int currentW = clientRect.right - clientRect.left,
        currentH = clientRect.bottom - clientRect.top;
    m.clientRectOnScreen.right = m.clientRectOnScreen.left + currentW;
    m.clientRectOnScreen.bottom = m.clientRectOnScreen.top + currentH;
    int frameW = (windowRect.right - windowRect.left) - currentW;
    int frameH = (windowRect.bottom - windowRect.top) - currentH;

    // 3. Client size.
    int clientW, clientH;
    if (!m.noStretch && !m.requestedSizeSet) {
        clientW = targetW;
        clientH = targetH;
    } else if (m.requestedSizeSet) {
        clientW = m.requestedWidth < targetW ? m.requestedWidth : targetW;
        clientH = m.requestedHeight < targetH ? m.requestedHeight : targetH;
        if (m.resizable || m.noStretch) {
            if (LibrarySystem.initialising) {
                m.sizeSetWhileInitialising = 1;
            } else {
                m.requestedSizeSet = 0;
            }
        }
    } else {
        clientW = currentW < targetW ? currentW : targetW;
        clientH = currentH < targetH ? currentH : targetH;
    }

    // 4. New rectangle.
    RECT r{windowRect.left, windowRect.top, windowRect.left + frameW + clientW,
           windowRect.top + frameH + clientH};
    if (!m.noStretch && !m.requestedSizeSet) r.bottom += MeasureToolbarHeight();

    // 5. A stored position, or the maximised rectangle.
    if (m.positionSet) {
        int w = r.right - r.left, h = r.bottom - r.top;
        r = RECT{m.positionX, m.positionY, m.positionX + w, m.positionY + h};
        if (!LibrarySystem.initialising &&
            !GraphicsSystemState.ScreenModeSettings.ScreenModeChangedOnce)
            m.positionSet = 0;
    } else if (m.maximized) {
        r = m.maximizedWindowRect;
        m.lastPlacedRect = r;
    }

    // 6.
    SystemApi.MoveWindow(window, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    SystemApi.GetWindowRect(window, &m.windowRect);
    RECT c{};
    SystemApi.GetClientRect(window, &c);
    POINT p{0, 0};
    SystemApi.ClientToScreen(window, &p);
    m.clientRectOnScreen = RECT{p.x, p.y, p.x + c.right, p.y + c.bottom};

    // 7. The first size processing after creation centres the window.
    if (WindowLike() && !m.shown) {
        m.shown = 1;
        ApplyWindowStyle(1);
    }
    return 0;
}

int SetMouseCursorVisible(int flag) {
    MainWindowState& m = MainWindow;
    if (flag != -1) m.cursorSetting = flag;
    int visible = m.cursorSetting == 1 || IsWindowMenuShown();
    if (flag != -1 && visible == m.cursorApplied) return 0;
    EnsureSystemApiTable();
    if (SystemApi.ShowCursor) {
        if (!visible && ((!m.windowMode && GetFullScreenResolutionModeInEffect() != 0) ||
                         IsCursorInClientArea())) {
            while (SystemApi.ShowCursor(FALSE) >= 0) {
            }
        } else {
            while (SystemApi.ShowCursor(TRUE) < 0) {
            }
        }
    }
    if (m.mainWindow)
        WinPostMessage(m.mainWindow, WM_SETCURSOR, reinterpret_cast<WPARAM>(m.mainWindow), 0);
    m.cursorApplied = visible;
    return 0;
}

int GetMouseCursorVisibleSetting() {
    return MainWindow.cursorSetting;
}

}  // namespace ZiDaz
