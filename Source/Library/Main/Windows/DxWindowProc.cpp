// The main window's procedure: activation, size and position, painting, the cursor, typed
// characters, the wheel, mouse buttons, sizing with the image's proportions, dropped files.
#include "Main/DuRadudAvuvur.h"
#include "Main/DxBaseFunc.h"
#include "Main/DxGraphics.h"
#include "Main/DxInput.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/DxMovie.h"
#include "Main/DxNetwork.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

namespace {

constexpr const char* kSourceFile = "DxWindowProc";

struct KeyControlCode {
    UINT virtualKey;
    int code;
};
const KeyControlCode KeyControlCodeTable[] = {
    {VK_DELETE, 0x10}, {VK_LEFT, 0x1D}, {VK_RIGHT, 0x1C}, {VK_UP, 0x1E},   {VK_DOWN, 0x1F},
    {VK_HOME, 0x1A},   {VK_END, 0x19},  {VK_PRIOR, 0x17}, {VK_NEXT, 0x15}, {0, 0},
};

TypedCharacterSink gTypedCharacterSink = nullptr;

bool WindowLike() {
    return MainWindow.windowMode || GetFullScreenResolutionModeInEffect() == 0;
}

int LowSigned(LPARAM l) {
    return static_cast<short>(l & 0xFFFF);
}
int HighSigned(LPARAM l) {
    return static_cast<short>((l >> 16) & 0xFFFF);
}

void QueueCharacter(int code) {
    if (gTypedCharacterSink) {
        gTypedCharacterSink(code);
    } else {
        QueueTypedCharacter(static_cast<char16_t>(code));
    }
}

void StartLoop() {
    if (WindowLike() && !MainWindow.inLoop) {
        MainWindow.inLoop = 1;
        HandleWindowActivation(0, 0, 0, 1);
    }
}

void EndLoop() {
    if (MainWindow.inLoop) {
        MainWindow.inLoop = 0;
        StockActivation(1, 0, 0, 1);
    }
}

void ApplyCursorRule() {
    MainWindowState& m = MainWindow;
    if (SystemApi.ShowCursor == nullptr) return;
    if (!m.cursorApplied && (!m.windowMode || IsCursorInClientArea())) {
        if (SystemApi.SetCursor) SystemApi.SetCursor(nullptr);
        while (SystemApi.ShowCursor(FALSE) >= 0) {
        }
    } else {
        while (SystemApi.ShowCursor(TRUE) < 0) {
        }
    }
}

void HandleSize(HWND window, WPARAM wParam) {
    MainWindowState& m = MainWindow;
    SystemApi.GetWindowRect(window, &m.windowRect);
    int wasMaximized = m.maximized, wasMinimized = m.minimized;
    if (wParam != SIZE_MAXIMIZED) m.maximized = 0;
    m.minimized = wParam == SIZE_MINIMIZED;
    if (wParam != SIZE_MAXIMIZED || wasMaximized) {
        ProcessWindowSize();
        return;
    }
    if (!wasMinimized) {
        RECT oldClient = m.maximizedClientRect, oldWindow = m.maximizedWindowRect;
        SystemApi.GetClientRect(window, &m.maximizedClientRect);
        SystemApi.GetWindowRect(window, &m.maximizedWindowRect);
        RECT shifted = m.maximizedWindowRect;
        int dx = oldWindow.left - m.lastPlacedRect.left, dy = oldWindow.top - m.lastPlacedRect.top;
        shifted.left += dx;
        shifted.right += dx;
        shifted.top += dy;
        shifted.bottom += dy;
        int same = (shifted.left == oldWindow.left) + (shifted.top == oldWindow.top) +
                   (shifted.right == oldWindow.right) + (shifted.bottom == oldWindow.bottom);
        if (same >= 3) {
            m.maximizedClientRect = oldClient;
            m.maximizedWindowRect = oldWindow;
        }
    }
    m.maximized = 1;
    ProcessWindowSize();
}

void HandleSizing(WPARAM edge, RECT* r) {
    MainWindowState& m = MainWindow;
    if (!WindowLike() || r == nullptr) return;
    int desktopW = 0, desktopH = 0;
    GetDesktopMetrics(&desktopW, &desktopH, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr);
    RECT window{}, client{};
    SystemApi.GetWindowRect(m.mainWindow, &window);
    SystemApi.GetClientRect(m.mainWindow, &client);
    int frameW = (window.right - window.left) - client.right;
    int frameH = (window.bottom - window.top) - client.bottom;
    int w = r->right - r->left - frameW, h = r->bottom - r->top - frameH;
    if (w > desktopW - frameW) w = desktopW - frameW;
    if (h > desktopH - frameH) h = desktopH - frameH;
    int screenW, screenH;
    GetWindowModeScreenSize(&screenW, &screenH);
    constexpr WPARAM kLeft = 1, kRight = 2, kTop = 3, kTopLeft = 4, kTopRight = 5, kBottom = 6,
                     kBottomLeft = 7, kBottomRight = 8;
    if (m.noStretch || m.requestedSizeSet) {
        int maxW = TruncateDoubleToInt(screenW * m.scaleX),
            maxH = TruncateDoubleToInt(screenH * m.scaleY);
        int newW = w > maxW ? maxW : w < 16 ? 16 : w;
        int newH = h > maxH ? maxH : h < 16 ? 16 : h;
        if (newW != w) {
            if (edge == kRight || edge == kTopRight || edge == kBottomRight) {
                r->right = r->left + newW + frameW;
            } else {
                r->left = r->right - newW - frameW;
            }
        }
        if (newH != h) {
            if (edge == kBottom || edge == kBottomLeft || edge == kBottomRight) {
                r->bottom = r->top + newH + frameH;
            } else {
                r->top = r->bottom - newH - frameH;
            }
        }
        return;
    }
    bool heightLeads;
    if (edge == kTop || edge == kBottom) {
        heightLeads = true;
    } else if (edge == kLeft || edge == kRight) {
        heightLeads = false;
    } else {
        heightLeads = !(static_cast<double>(w) / screenW > static_cast<double>(h) / screenH);
    }
    int toolbar = MeasureToolbarHeight();
    if (heightLeads) {
        m.scaleX = m.scaleY = static_cast<double>(h - toolbar) / screenH;
        w = h * screenW / screenH;
    } else {
        m.scaleX = m.scaleY = static_cast<double>(w) / screenW;
        h = w * screenH / screenW;
    }
    if (w < 16 || h < 16) {
        if (screenW < screenH) {
            w = 16;
            h = 16 * screenH / screenW;
        } else {
            h = 16;
            w = 16 * screenW / screenH;
        }
        m.scaleX = m.scaleY = static_cast<double>(w) / screenW;
    }
    switch (edge) {
        case kLeft:
        case kBottomLeft:
            r->left = r->right - w - frameW;
            r->bottom = r->top + h + frameH;
            break;
        case kTopLeft:
            r->left = r->right - w - frameW;
            r->top = r->bottom - h - frameH;
            break;
        case kTop:
        case kTopRight:
            r->right = r->left + w + frameW;
            r->top = r->bottom - h - frameH;
            break;
        default:  // right, bottom, bottom right
            r->right = r->left + w + frameW;
            r->bottom = r->top + h + frameH;
            break;
    }
}

void HandleDropFiles(HDROP drop) {
    MainWindowState& m = MainWindow;
    UINT count = WinDragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count && m.droppedFileCount < kMaxDroppedFiles; ++i) {
        UINT length = WinDragQueryFileW(drop, i, nullptr, 0);
        auto* name = static_cast<char16_t*>(
            AllocateTrackedMemory(static_cast<std::size_t>(length) * 2 + 2, kSourceFile, __LINE__));
        if (name == nullptr) break;
        WinDragQueryFileW(drop, i, name, length + 1);
        m.droppedFiles[m.droppedFileCount++] = name;
    }
    if (SystemApi.DragFinish) SystemApi.DragFinish(drop);
}

void HandleDisplayChange(WPARAM depth) {
    MainWindowState& m = MainWindow;
    if (!WindowLike() || m.modeChanging) return;
    int bits = 0;
    GetScreenState(nullptr, nullptr, &bits);
    if (static_cast<int>(depth) == bits) return;
    if (!HasGraphicsRestoreCallback() || depth == 24 || depth == 8) {
        WriteLogTextUtf16(
            u"復元関数が登録されていないためか画面が24ビットカラー、又は8ビットカラーに変更されたた"
            u"め"
            u"終了します\n");
        if (!m.closePosted) {
            m.closePosted = 1;
            WinPostMessage(m.mainWindow, WM_CLOSE, 0, 0);
        }
    } else {
        ResumeMoviesAfterActivation();
    }
}

}  // namespace

void SetTypedCharacterSink(TypedCharacterSink sink) {
    gTypedCharacterSink = sink;
}

int SetWindowMessageHook(WNDPROC hook) {
    MainWindow.messageHook = hook;
    return 0;
}

int SetHookMessageHandled(int flag) {
    MainWindow.hookHandled = flag;
    return 0;
}

int IsCursorInClientArea() {
    EnsureSystemApiTable();
    POINT p{};
    if (SystemApi.GetCursorPos == nullptr || !SystemApi.GetCursorPos(&p)) return 0;
    const RECT& c = MainWindow.clientRectOnScreen;
    return p.x >= c.left && p.x < c.right && p.y >= c.top + MeasureToolbarHeight() &&
           p.y < c.bottom;
}

int ScreenPointToImagePoint(int x, int y, int* outX, int* outY) {
    MainWindowState& m = MainWindow;
    if (m.windowMode) {
        x -= m.clientRectOnScreen.left;
        y -= m.clientRectOnScreen.top + MeasureToolbarHeight();
        double sx, sy;
        GetWindowScaleFactors(&sx, &sy);
        if (m.maximized && !m.noStretch && !m.requestedSizeSet) {
            int w, h;
            GetWindowModeScreenSize(&w, &h);
            int clientW = m.clientRectOnScreen.right - m.clientRectOnScreen.left;
            int clientH = m.clientRectOnScreen.bottom - m.clientRectOnScreen.top;
            x -= (clientW - TruncateDoubleToInt(w * sx)) / 2;
            y -= (clientH - TruncateDoubleToInt(h * sy)) / 2;
        }
        x = TruncateDoubleToInt(x / sx);
        y = TruncateDoubleToInt(y / sy);
    } else {
        WindowPointToScreenPoint(x, y, &x, &y);
    }
    if (outX) *outX = x;
    if (outY) *outY = y;
    return 0;
}

int ClearDroppedFiles() {
    MainWindowState& m = MainWindow;
    for (int i = 0; i < m.droppedFileCount; ++i) {
        FreeTrackedMemory(m.droppedFiles[i]);
        m.droppedFiles[i] = nullptr;
    }
    m.droppedFileCount = 0;
    return 0;
}

int ProcessWindowMove(LPARAM lParam) {
    MainWindowState& m = MainWindow;
    RECT c{};
    if (!SystemApi.GetClientRect(m.mainWindow, &c)) return 0;
    m.clientRectOnScreen.left = LowSigned(lParam);
    m.clientRectOnScreen.top = HighSigned(lParam);
    m.clientRectOnScreen.right = m.clientRectOnScreen.left + c.right;
    m.clientRectOnScreen.bottom = m.clientRectOnScreen.top + c.bottom;
    return 0;
}

int ProcessWindowPaint(HDC dc, const RECT* rect, int force) {
    MainWindowState& m = MainWindow;
    if (!m.active && m.captureExists && !m.keepRunningInactive) {
        if (!m.minimized) DrawInactiveScreen(dc);
        return 0;
    }
    if ((!LibrarySystem.initialised && m.windowRegion == nullptr) || force) {
        if (SystemApi.FillRect && SystemApi.GetStockObject && rect) {
            SystemApi.FillRect(dc, rect, SystemApi.GetStockObject(BLACK_BRUSH));
        }
    }
    if ((LibrarySystem.initialised || m.windowRegion != nullptr) &&
        GetDrawTarget() == DX_TARGET_BACK_SCREEN) {
        int wait = GetFlipWaitVSync();
        GraphicsSystemState.FlipWaitVSyncOff = 1;
        RECT client{};
        SystemApi.GetClientRect(m.mainWindow, &client);
        bool whole = rect != nullptr && rect->left == client.left && rect->top == client.top &&
                     rect->right == client.right && rect->bottom == client.bottom;
        int now = ReadMillisecondClock();
        if (whole) {
            RepaintScreen();
        } else if (m.repaintThrottle && MillisecondsElapsed(now, m.repaintThrottleTime) > 64) {
            m.repaintThrottleTime = now;
            RepaintScreen();
        } else {
            m.repaintThrottle = 1;
            m.repaintThrottleTime = now;
        }
        GraphicsSystemState.FlipWaitVSyncOff = wait ? 0 : 1;
    }
    return 0;
}

LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    EnsureSystemApiTable();
    MainWindowState& m = MainWindow;
    if (m.messageHook) {
        m.hookHandled = 0;
        LRESULT result = m.messageHook(window, message, wParam, lParam);
        if (m.hookHandled) return result;
    }
    switch (message) {
        case WM_DESTROY:
            WriteLogTextUtf16(u"ウインドウが破棄されようとしています\n");
            m.destroyed = 1;
            SystemApi.PostQuitMessage(0);
            m.endRequested = 1;
            RequestLibraryEnd();
            WriteLogTextUtf16(u"ソフトを終了する準備が整いました\n");
            break;
        case WM_MOVE:
            SystemApi.GetWindowRect(window, &m.windowRect);
            if (WindowLike() && !m.modeChanging) ProcessWindowMove(lParam);
            break;
        case WM_SIZE:
            HandleSize(window, wParam);
            break;
        case WM_ACTIVATE:
            StockActivation(wParam, lParam, 0, 0);
            break;
        case WM_PAINT: {
            PAINTSTRUCT ps{};
            HDC dc = SystemApi.BeginPaint(window, &ps);
            if (dc && WindowLike()) {
                m.painting = 1;
                ProcessWindowPaint(dc, &ps.rcPaint, 0);
                m.painting = 0;
            }
            SystemApi.EndPaint(window, &ps);
            break;
        }
        case WM_CLOSE:
            WriteLogTextUtf16(u"ウインドウを閉じようとしています\n");
            SystemApi.DestroyWindow(window);
            if (m.closeRequest == 0) m.closeRequest = 4;
            return 0;
        case WM_ACTIVATEAPP:
            if (wParam == 0) StockActivation(0, lParam, 1, 0);
            break;
        case WM_SETCURSOR:
            EndLoop();
            ApplyCursorRule();
            break;
        case WM_DISPLAYCHANGE:
            HandleDisplayChange(wParam);
            break;
        case WM_NCRBUTTONDOWN:
        case WM_ENTERMENULOOP:
        case WM_ENTERSIZEMOVE:
            StartLoop();
            break;
        case WM_EXITMENULOOP:
        case WM_EXITSIZEMOVE:
            EndLoop();
            break;
        case WM_KEYDOWN: {
            // A full ring loses the key; during a composition the keys belong to the IME.
            if (IsTypedQueueFull()) break;
            if (SystemReport.windowsVersionCode >= 268 && TextInputSystem.composing) break;
            for (const KeyControlCode* k = KeyControlCodeTable; k->virtualKey; ++k) {
                if (k->virtualKey != wParam) continue;
                int now = ReadMillisecondClock();
                if (SystemReport.windowsVersionCode >= 268 &&
                    MillisecondsElapsed(now, m.lastCharTime) <= 40 && m.lastCharCode == k->code) {
                    break;
                }
                m.lastCharTime = now;
                m.lastCharCode = k->code;
                QueueCharacter(k->code);
                break;
            }
            break;
        }
        case WM_CHAR: {
            int code = static_cast<int>(wParam);
            if (SystemReport.windowsVersionCode >= 268) {
                // While the IME is open its text arrives as a result string instead.
                if ((IsImeOpenForInput() && code >= 32) || TextInputSystem.composing) break;
                int now = ReadMillisecondClock();
                if (MillisecondsElapsed(now, m.lastCharTime) < 40 && code == m.lastCharCode) break;
                m.lastCharTime = now;
                m.lastCharCode = code;
            }
            if (code == 10) code = 13;
            if (code >= 32 || code == 1 || code == 3 || code == 8 || code == 9 || code == 13 ||
                code == 16 || code == 22 || code == 24 || code == 27) {
                QueueCharacter(code);
            }
            break;
        }
        case WM_IME_STARTCOMPOSITION:
        case WM_IME_ENDCOMPOSITION:
        case WM_IME_COMPOSITION:
        case WM_IME_SETCONTEXT:
        case WM_IME_NOTIFY:
        case WM_IME_CHAR:
        case WM_IME_REQUEST:
            return ReadImeCandidateList(window, message, wParam, lParam);
        case WM_SYSCHAR:
            m.lastSysChar = static_cast<int>(wParam);
            return 0;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_MOVE:
                    StartLoop();
                    break;
                case SC_MONITORPOWER:
                case SC_SCREENSAVE:
                    return 1;
                default:
                    break;
            }
            break;
        case WM_MOUSEWHEEL:
        case WM_MOUSEHWHEEL: {
            int delta = static_cast<short>((wParam >> 16) & 0xFFFF);
            int& accumulator = message == WM_MOUSEWHEEL ? m.wheelVertical : m.wheelHorizontal;
            if ((delta < 0 && accumulator > 0) || (delta > 0 && accumulator < 0)) {
                accumulator = delta;
            } else {
                accumulator += delta;
            }
            break;
        }
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP: {
            // The input module's mouse log takes the point once it exists.
            ApplyCursorRule();
            break;
        }
        case WM_SIZING:
            HandleSizing(wParam, reinterpret_cast<RECT*>(lParam));
            break;
        case WM_MOVING:
            SystemApi.GetWindowRect(window, &m.windowRect);
            if (!m.windowMode && GetFullScreenResolutionModeInEffect() != 0 && lParam) {
                *reinterpret_cast<RECT*>(lParam) = m.windowRect;
            }
            break;
        case WM_DROPFILES:
            HandleDropFiles(reinterpret_cast<HDROP>(wParam));
            break;
        case WM_DEVICECHANGE:
            // A pad was plugged in or pulled out: look for joypads again.
            if (wParam == 7) ReinitJoypads();
            break;
        case 1285:
            return HandleSocketMessage(wParam, lParam);
        default:
            break;
    }
    return WinDefWindowProc(window, message, wParam, lParam);
}

}  // namespace ZiDaz
