// The main window's start and end, the COM apartment, title and icon, small queries, and the
// optional window features in their off state.
#include "Main/DuRadudAvuvur.h"
#include "Main/Windows/DxWindow.h"

#include "Main/DxASyncLoad.h"
#include "Main/DxBaseFunc.h"
#include "Main/DxChar.h"
#include "Main/DxFile.h"
#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMath.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "platform/Modules.h"

namespace ZiDaz {

MainWindowState MainWindow;

namespace {

constexpr const char* kSourceFile = "DxWindow";
constexpr DWORD kPopupCaptionSysMin = 0x80CA0000;
constexpr DWORD kPopupSys = 0x80080000;
constexpr DWORD kPopupCaptionSys = 0x80C80000;
constexpr DWORD kPopupCaptionSysMinMax = 0x80CB0000;

void CopyTitle(char16_t* destination, const char16_t* source) {
    int i = 0;
    for (; source && source[i] && i < kWindowTextUnits - 1; ++i) destination[i] = source[i];
    destination[i] = 0;
}

}  // namespace

const WindowStyleEntry WindowStyleTable[12] = {
    {SW_SHOW, kPopupCaptionSysMin, WS_EX_WINDOWEDGE, WS_POPUP, WS_EX_TOPMOST},
    {SW_SHOW, kPopupSys, WS_EX_WINDOWEDGE, WS_POPUP, WS_EX_TOPMOST},
    {SW_SHOW, kPopupSys, 0, WS_POPUP, WS_EX_TOPMOST},
    {SW_SHOW, kPopupCaptionSysMin, WS_EX_TOOLWINDOW, WS_POPUP, WS_EX_TOPMOST},
    {SW_SHOW, kPopupSys, WS_EX_TOOLWINDOW, WS_POPUP, WS_EX_TOPMOST},
    {SW_SHOW, kPopupCaptionSys, WS_EX_WINDOWEDGE, WS_POPUP, WS_EX_TOPMOST},
    {SW_SHOW, kPopupCaptionSysMin, WS_EX_WINDOWEDGE, WS_POPUP, WS_EX_TOPMOST},
    {SW_SHOW, kPopupCaptionSysMinMax, WS_EX_WINDOWEDGE, WS_POPUP, WS_EX_TOPMOST},
    {SW_MAXIMIZE, kPopupCaptionSysMinMax | WS_MAXIMIZE, WS_EX_WINDOWEDGE, WS_POPUP, WS_EX_TOPMOST},
    {SW_SHOW, kPopupCaptionSysMin, WS_EX_WINDOWEDGE, WS_POPUP, WS_EX_TOPMOST},
    {SW_SHOW, kPopupCaptionSysMinMax, WS_EX_WINDOWEDGE, WS_POPUP, WS_EX_TOPMOST},
    {SW_SHOW, 0x80C00000, WS_EX_WINDOWEDGE, WS_POPUP, WS_EX_TOPMOST},
};

int StartWindowSystem() {
    // 1. Keep the settings and what survives a restart; clear the rest.
    {
        static MainWindowState kept;
        kept = MainWindow;
        MainWindow = MainWindowState{};
        MainWindowState& m = MainWindow;
        CopyByteBlock(m.graphicsInterfaceName, kept.graphicsInterfaceName,
                      sizeof(m.graphicsInterfaceName));
        m.availablePhysicalMemory = kept.availablePhysicalMemory;
        m.totalPhysicalMemory = kept.totalPhysicalMemory;
        CopyByteBlock(m.adapterDescription, kept.adapterDescription, sizeof(m.adapterDescription));
        m.mainWindow = kept.mainWindow;
        m.windowRegion = kept.windowRegion;
        m.styleMode = kept.styleMode;
        m.windowMode = kept.windowMode;
        m.comInitialised = kept.comInitialised;
        CopyByteBlock(m.logText, kept.logText, sizeof(m.logText));
        m.titleSet = kept.titleSet;
        CopyByteBlock(m.title, kept.title, sizeof(m.title));
        CopyByteBlock(m.className, kept.className, sizeof(m.className));
        m.keepRunningInactive = kept.keepRunningInactive;
        m.iconId = kept.iconId;
        m.resizable = kept.resizable;
        m.noStretch = kept.noStretch;
        m.scaleSet = kept.scaleSet;
        m.scaleX = kept.scaleX;
        m.scaleY = kept.scaleY;
        m.requestedWidth = kept.requestedWidth;
        m.requestedHeight = kept.requestedHeight;
        m.requestedSizeSet = kept.requestedSizeSet;
        m.positionX = kept.positionX;
        m.positionY = kept.positionY;
        m.positionSet = kept.positionSet;
        m.messageHook = kept.messageHook;
        m.acceptDroppedFiles = kept.acceptDroppedFiles;
        m.mouseClip = kept.mouseClip;
        m.allowModeToggle = kept.allowModeToggle;
        m.modeChangeCallback = kept.modeChangeCallback;
        m.modeChangeCallbackData = kept.modeChangeCallbackData;
        m.alwaysShowMenu = kept.alwaysShowMenu;
        m.inactiveWaitStart = -1;
    }
    MainWindowState& m = MainWindow;

    // 2. Program instance, main thread, files, class name.
    EnsureSystemApiTable();
    m.instance = WinGetModuleHandleW(nullptr);
    m.mainThreadId = SystemApi.GetCurrentThreadId ? SystemApi.GetCurrentThreadId() : 0;
    InitASyncLoad(m.mainThreadId);
    StartFileModule();
    if (m.className[0] == 0) CopyTitle(m.className, m.titleSet ? m.title : u"D123987X");

    // 3. Memory report.
    if (SystemReport.windowsVersionCode > 261) {
        HMODULE kernel = LoadLibraryA("Kernel32.dll");
        if (kernel) {
            auto statusEx = reinterpret_cast<BOOL (*)(MEMORYSTATUSEX*)>(
                GetProcAddress(kernel, "GlobalMemoryStatusEx"));
            if (statusEx) {
                MEMORYSTATUSEX status{};
                status.dwLength = sizeof(status);
                statusEx(&status);
                WriteLogFormatUtf16(u"メモリ総量:%.2fMB  空きメモリ領域:%.2fMB ",
                                    static_cast<double>(status.ullTotalPhys) / 1048576.0,
                                    static_cast<double>(status.ullAvailPhys) / 1048576.0);
                m.availablePhysicalMemory = status.ullAvailPhys;
                m.totalPhysicalMemory = status.ullTotalPhys;
            }
            FreeLibrary(kernel);
        }
    }
    if (m.totalPhysicalMemory == 0 && SystemApi.GlobalMemoryStatus) {
        MEMORYSTATUS status{};
        status.dwLength = sizeof(status);
        SystemApi.GlobalMemoryStatus(&status);
        WriteLogFormatUtf16(u"メモリ総量:%.2fMB  空きメモリ領域:%.2fMB ",
                            static_cast<double>(status.dwTotalPhys) / 1048576.0,
                            static_cast<double>(status.dwAvailPhys) / 1048576.0);
        m.availablePhysicalMemory = static_cast<std::uint32_t>(status.dwAvailPhys);
        m.totalPhysicalMemory = static_cast<std::uint32_t>(status.dwTotalPhys);
    }

    // 4. The image size for later.
    GetWindowModeScreenSize(nullptr, nullptr);

    // 5. Timers: the clocks read the counter state found here.
    m.counterPresent = QueryHighResolutionClock();
    m.counterFrequency = static_cast<std::int64_t>(HighResolutionClock.frequency);
    TIMECAPS caps{1, 1000000};
    if (SystemApi.timeGetDevCaps) SystemApi.timeGetDevCaps(&caps, sizeof(caps));
    if (SystemApi.timeBeginPeriod) SystemApi.timeBeginPeriod(caps.wPeriodMin);

    // 6. Timer precision test.
    if (m.counterPresent && SystemApi.timeGetTime && SystemApi.QueryPerformanceCounter) {
        WriteLogTextUtf16(u"タイマーの精度を検査します\n");
        int mmChanges = 0, counterChanges = 0;
        DWORD start = SystemApi.timeGetTime(), lastTime = start;
        LARGE_INTEGER lastCount{};
        SystemApi.QueryPerformanceCounter(&lastCount);
        while (mmChanges < 60 && counterChanges < 60 && SystemApi.timeGetTime() - start < 1000) {
            DWORD t = SystemApi.timeGetTime();
            LARGE_INTEGER c;
            SystemApi.QueryPerformanceCounter(&c);
            if (t != lastTime) ++mmChanges, lastTime = t;
            if (c.QuadPart != lastCount.QuadPart) ++counterChanges, lastCount = c;
        }
        WriteLogFormatUtf16(
            u"精度結果 更新回数 マルチメディアタイマー：%d  パフォーマンスカウンター：%d",
            mmChanges, counterChanges);
        WriteLogText(" ");
        if (counterChanges < mmChanges) {
            WriteLogFormatUtf16(u"Multi Media Timer を使用します Timer 精度 : %d.00 ms ",
                                static_cast<int>(caps.wPeriodMin));
            m.counterPresent = 0;
            // The clocks fall back to the multimedia timer, whose ticks are milliseconds; the
            // conversions must count in the same unit, or a wait in ticks would last a
            // thousandfold (or, at frequency 0, not at all).
            HighResolutionClock = {0, 1000};
        } else {
            WriteLogFormatUtf16(u"パフォーマンスカウンターを使用します タイマー精度 : %lf KHz ",
                                static_cast<double>(m.counterFrequency) / 1000.0);
        }
        WriteLogText(" \n");
    }

    // 7. The random generator.
    SeedMersenneTwister(static_cast<std::uint32_t>(ReadMillisecondClock()));

    // 8. No screen saver while the library runs.
    WinSystemParametersInfo(SPI_SETSCREENSAVEACTIVE, 0, nullptr, SPIF_SENDCHANGE);

    // 10. Double start: a window of this class already running.
    WriteLogTextUtf16(u"ソフトの二重起動検査... ");
    if (SystemApi.FindWindowW && WinFindWindowW(m.className, nullptr) != nullptr) {
        WriteLogTextUtf16WithError(0x01010002, u"二重起動されています、ソフトを終了します\n");
        m.endRequested = 1;
        RequestLibraryEnd();
        return -1;
    }
    WriteLogTextUtf16(u"二重起動はされていませんでした\n");

    // 11. The window class.
    m.creating = 1;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &MainWindowProc;
    wc.hInstance = m.instance;
    wc.hIcon = WinLoadIcon(m.instance, reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(
                                           m.iconId ? m.iconId : IDI_APPLICATION_ID)));
    wc.hCursor = WinLoadCursor(
        nullptr, reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(IDC_ARROW_ID)));
    wc.hbrBackground = SystemApi.GetStockObject ? SystemApi.GetStockObject(NULL_BRUSH) : nullptr;
    wc.lpszClassName = m.className;
    WriteLogTextUtf16(u"ウインドウクラスを登録します... ");
    if (SystemApi.RegisterClassExW && WinRegisterClassExW(&wc) != 0) {
        WriteLogTextUtf16(u"登録に成功しました\n");
    } else {
        m.endRequested = 1;
        RequestLibraryEnd();
    }

    // 12. Default title.
    if (!m.titleSet) CopyTitle(m.title, u"ZiDaz");

    HWND window = nullptr;
    const WindowStyleEntry& entry = WindowStyleTable[m.styleMode];
    if (m.windowMode) {
        // 13. A window.
        WriteLogTextUtf16(u"ウインドウモード起動用のウインドウを作成します\n");
        int screenW, screenH;
        GetWindowModeScreenSize(&screenW, &screenH);
        int clientW, clientH;
        if (m.requestedSizeSet) {
            if (m.noStretch) {
                clientW = m.requestedWidth;
                clientH = m.requestedHeight;
            } else {
                SetWindowScaleFactors(static_cast<double>(m.requestedWidth) / screenW,
                                      static_cast<double>(m.requestedHeight) / screenH);
                m.requestedSizeSet = 1;  // kept: the scale setter clears it
                clientW = TruncateDoubleToInt(screenW * m.scaleX);
                clientH = TruncateDoubleToInt(screenH * m.scaleY);
            }
        } else {
            int dpiX = 96, dpiY = 96;
            ReadDisplayDpi(&dpiX, &dpiY, -1);
            if (m.scaleX <= 0) m.scaleX = 1.0;
            if (m.scaleY <= 0) m.scaleY = 1.0;
            if (!m.scaleSet && (dpiX != 96 || dpiY != 96)) {
                SetWindowScaleFactors(m.scaleX * dpiX / 96.0, m.scaleY * dpiY / 96.0);
            }
            clientW = TruncateDoubleToInt(screenW * m.scaleX);
            clientH = TruncateDoubleToInt(screenH * m.scaleY);
        }
        DWORD style = entry.windowStyle | (m.resizable ? WS_THICKFRAME : 0);
        DWORD exStyle =
            entry.windowExStyle | (m.layeredAlphaMode || m.layeredColorKeyMode ? WS_EX_LAYERED : 0);
        RECT r{0, 0, clientW, clientH};
        if (SystemApi.AdjustWindowRectEx) SystemApi.AdjustWindowRectEx(&r, style, FALSE, exStyle);
        m.frameLeft = -r.left;
        m.frameTop = -r.top;
        m.captionHeight = -r.top;
        m.frameRight = r.right - clientW;
        m.frameBottom = r.bottom - clientH;
        int desktopW = 0, desktopH = 0, desktopX = 0, desktopY = 0;
        GetDesktopMetrics(&desktopW, &desktopH, nullptr, nullptr, &desktopX, &desktopY, nullptr,
                          nullptr, nullptr, nullptr);
        int width = r.right - r.left, height = r.bottom - r.top;
        int x = desktopX + (desktopW - width) / 2 + r.left;
        int y = desktopY + (desktopH - height) / 2 + r.top;
        WriteLogFormatUtf16(u"ウインドウ矩形 ( %d, %d )-( %d, %d )", x, y, x + width, y + height);
        if (m.positionSet) {
            x = m.positionX;
            y = m.positionY;
        }
        window = WinCreateWindowExW(exStyle, m.className, m.title, style, x, y, width, height,
                                    nullptr, m.menu, m.instance, nullptr);
        m.cursorSetting = 1;
    } else {
        // 14. Full screen over the chosen display.
        WriteLogTextUtf16(u"フルスクリーンモード用のウインドウを作成します\n");
        int desktopW = 0, desktopH = 0, desktopX = 0, desktopY = 0;
        GetDesktopMetrics(&desktopW, &desktopH, nullptr, nullptr, &desktopX, &desktopY, nullptr,
                          nullptr, nullptr, nullptr);
        int dpiX = 96, dpiY = 96;
        ReadDisplayDpi(&dpiX, &dpiY, -1);
        if (m.scaleX <= 0) m.scaleX = 1.0;
        if (m.scaleY <= 0) m.scaleY = 1.0;
        if (!m.scaleSet && (dpiX != 96 || dpiY != 96)) {
            SetWindowScaleFactors(m.scaleX * dpiX / 96.0, m.scaleY * dpiY / 96.0);
        }
        m.cursorSetting = 0;
        int screenW, screenH;
        GetWindowModeScreenSize(&screenW, &screenH);
        window = WinCreateWindowExW(entry.fullScreenExStyle, m.className, m.title,
                                    entry.fullScreenStyle, desktopX, desktopY, screenW, screenH,
                                    nullptr, nullptr, m.instance, nullptr);
        m.clientRectOnScreen = RECT{desktopX, desktopY, desktopX + desktopW, desktopY + desktopH};
        if (GetFullScreenResolutionModeInEffect() == 2 ||
            GetFullScreenResolutionModeInEffect() == 3) {
            m.clientRectOnScreen.right = desktopX + screenW;
            m.clientRectOnScreen.bottom = desktopY + screenH;
        }
    }

    // 15. No window: the library cannot run.
    if (window == nullptr) {
        m.endRequested = 1;
        RequestLibraryEnd();
        WriteLogTextUtf16WithError(0x01010003, u"ウインドウの作成に失敗しました\n");
        m.creating = 0;
        if (SystemApi.UnregisterClassW) WinUnregisterClassW(m.className, m.instance);
        return -1;
    }
    m.mainWindow = window;
    WriteLogTextUtf16(u"ウインドウの作成に成功しました\n");

    // 16. Show it.
    WriteLogTextUtf16(u"ウインドウを表示します\n");
    SystemApi.ShowWindow(window, entry.showCommand);
    SystemApi.UpdateWindow(window);
    if (SystemApi.RegisterTouchWindow) SystemApi.RegisterTouchWindow(window, 0);

    // 17. Running.
    m.closePosted = 0;
    m.destroyed = 0;
    m.active = 1;
    if (!m.windowMode && GetFullScreenResolutionModeInEffect() != 0) {
        WriteLogTextUtf16(u"カーソルを不可視にしました\n");
        if (SystemApi.SetCursor) SystemApi.SetCursor(nullptr);
    }
    WriteLogTextUtf16(u"ＩＭＥを無効にしました\n");
    if (SystemApi.WINNLSEnableIME) SystemApi.WINNLSEnableIME(window, FALSE);

    // 18. The client rectangle on the screen.
    if (m.windowMode || GetFullScreenResolutionModeInEffect() == 0) {
        RECT c{};
        SystemApi.GetClientRect(window, &c);
        POINT topLeft{c.left, c.top}, bottomRight{c.right, c.bottom};
        SystemApi.ClientToScreen(window, &topLeft);
        SystemApi.ClientToScreen(window, &bottomRight);
        m.clientRectOnScreen = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    }

    // 19. Cursor, close state, first size processing.
    SetMouseCursorVisible(m.cursorSetting);
    m.closeRequest = 0;
    SystemApi.BringWindowToTop(window);
    ProcessWindowSize();
    m.creating = 0;
    m.positionSet = 0;
    ApplyFileDropSetting();

    // 20. The load threads.
    if (StartASyncLoadThreads(SystemReport.logicalProcessorCount) < 0) {
        WriteLogTextUtf16WithError(kErrorLoadThreads,
                                   u"非同期読み込み処理を行うスレッドの立ち上げに失敗しました\n");
        m.endRequested = 1;
        RequestLibraryEnd();
        return -1;
    }
    return 0;
}

int CloseWindowSystem() {
    MainWindowState& m = MainWindow;
    if (m.mainWindow == nullptr) return 0;
    WriteLogTextUtf16(u"ウィンドウ関連の終了処理... ");
    EnsureSystemApiTable();
    WinSystemParametersInfo(SPI_SETSCREENSAVEACTIVE, 1, nullptr, SPIF_SENDCHANGE);
    if (SystemApi.WINNLSEnableIME) SystemApi.WINNLSEnableIME(m.mainWindow, TRUE);
    SetMouseCursorVisible(1);
    SetWindowRegionImage(nullptr);
    EnableWindowMenu(0);
    BuildToolbar(nullptr, 0, -1);
    if (!m.closePosted) {
        m.closePosted = 1;
        WinPostMessage(m.mainWindow, WM_CLOSE, 0, 0);
    }
    while (PumpMessagesUnlocked() == 0 && !m.destroyed) {
    }
    DeleteAllLineInputs();
    WinUnregisterClassW(m.className, m.instance);
    ClearDroppedFiles();
    StopASyncLoadThreads();
    EndFileModule();
    EndASyncLoad();
    TIMECAPS caps{1, 1000000};
    if (SystemApi.timeGetDevCaps) SystemApi.timeGetDevCaps(&caps, sizeof(caps));
    if (SystemApi.timeEndPeriod) SystemApi.timeEndPeriod(caps.wPeriodMin);
    WriteLogTextUtf16(u"完了\n");
    return 0;
}

int StartComApartment() {
    if (MainWindow.comInitialised) return -1;
    EnsureSystemApiTable();
    WriteLogTextUtf16(u"ＣＯＭの初期化... ");
    if (SystemApi.CoInitializeEx == nullptr || SystemApi.CoInitializeEx(nullptr, 2) < 0) {
        return WriteLogTextUtf16(u"失敗\n");
    }
    WriteLogTextUtf16(u"成功\n");
    MainWindow.comInitialised = 1;
    return 0;
}

int EndComApartment() {
    if (!MainWindow.comInitialised) return -1;
    if (SystemApi.CoUninitialize) SystemApi.CoUninitialize();
    WriteLogTextUtf16(u"ＣＯＭを終了... 完了\n");
    MainWindow.comInitialised = 0;
    return 0;
}

int SetWindowCaption(const char* text) {
    EnsureDefaultCharCodes();
    char16_t stack[512];
    char16_t* wide = stack;
    void* heap = nullptr;
    if (text == nullptr) {
        stack[0] = 0;
    } else if (NarrowEncoding != WideEncoding) {
        int n = CountCodeStringUnits(NarrowEncoding, text);
        int bytes = 2 * n + 32;
        if (n + 16 > 512) {
            heap = AllocateTrackedMemory(static_cast<std::size_t>(bytes), kSourceFile, __LINE__);
            if (heap == nullptr) return -1;
            wide = static_cast<char16_t*>(heap);
        }
        TranscodeString(text, -1, NarrowEncoding, wide, bytes, WideEncoding);
    } else {
        wide = reinterpret_cast<char16_t*>(const_cast<char*>(text));
    }
    CopyTitle(MainWindow.title, wide);
    MainWindow.titleSet = 1;
    if (MainWindow.mainWindow) {
        EnsureSystemApiTable();
        WinSetWindowTextW(MainWindow.mainWindow, MainWindow.title);
    }
    if (heap) FreeTrackedMemory(heap);
    return 0;
}

int SetWindowIconResource(int id) {
    MainWindow.iconId = id;
    if (MainWindow.mainWindow) {
        EnsureSystemApiTable();
        HICON icon =
            WinLoadIcon(MainWindow.instance,
                        reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(id ? id : 32512)));
        // The handle is pointer-sized here: the class long of the pointer size keeps all of it.
        if (SystemApi.SetClassLongPtrW) {
            SystemApi.SetClassLongPtrW(MainWindow.mainWindow, GCL_HICON,
                                       reinterpret_cast<LONG_PTR>(icon));
        } else {
            WinSetClassLong(MainWindow.mainWindow, GCL_HICON,
                            static_cast<LONG>(reinterpret_cast<LONG_PTR>(icon)));
        }
    }
    return 0;
}

HWND QueryMainWindow() {
    return MainWindow.mainWindow;
}
HWND GetDrawTargetWindow() {
    return MainWindow.mainWindow;
}
int IsWindowedMode() {
    return MainWindow.windowMode;
}
int IsWindowQuitRequested() {
    return MainWindow.closePosted;
}
int CheckWindowCloseRequest(int) {
    return MainWindow.closeRequest == 4 ? 1 : 0;
}

int GetMainWindowTopLeft(int* x, int* y) {
    RECT r{};
    EnsureSystemApiTable();
    if (MainWindow.mainWindow && SystemApi.GetWindowRect)
        SystemApi.GetWindowRect(MainWindow.mainWindow, &r);
    if (x) *x = r.left;
    if (y) *y = r.top;
    return 0;
}

int SetDialogMessageWindow(HWND window) {
    MainWindow.dialogWindow = window;
    return 0;
}

int ApplyFileDropSetting() {
    EnsureSystemApiTable();
    if (MainWindow.mainWindow && SystemApi.DragAcceptFiles) {
        SystemApi.DragAcceptFiles(MainWindow.mainWindow,
                                  MainWindow.acceptDroppedFiles ? TRUE : FALSE);
    }
    return 0;
}

// ---- Optional window features: nothing in this system switches them on. ----

int EnableWindowMenu(int flag) {
    MainWindowState& m = MainWindow;
    m.selectedMenuIdCount = 0;
    m.menuItemCount = 0;
    if (flag) return -1;  // no menu resource can be made here
    if (m.menu) {
        EnsureSystemApiTable();
        if (m.mainWindow && SystemApi.SetMenu) SystemApi.SetMenu(m.mainWindow, nullptr);
        if (SystemApi.DestroyMenu) SystemApi.DestroyMenu(m.menu);
        m.menu = nullptr;
    }
    m.menuInUse = 0;
    return 0;
}

int ShowWindowMenu(int) {
    return 0;
}

int IsWindowMenuShown() {
    const MainWindowState& m = MainWindow;
    if (!m.mainWindow || !m.menuInUse || m.menuHidden) return 0;
    return m.alwaysShowMenu || m.windowMode || GetFullScreenResolutionModeInEffect() == 0 ||
           m.menuAutoShow > 0;
}

int UpdateMenuAutoShow() {
    return 0;
}

int BuildToolbar(const char16_t* bitmapFile, int, int resourceId) {
    MainWindowState& m = MainWindow;
    if (bitmapFile == nullptr && resourceId < 0) {
        if (m.toolbarExists) {
            EnsureSystemApiTable();
            WinPostMessage(m.toolbarWindow, WM_CLOSE, 0, 0);
            if (SystemApi.DeleteObject && m.toolbarBitmap) SystemApi.DeleteObject(m.toolbarBitmap);
            m.toolbarExists = 0;
            m.toolbarWindow = nullptr;
            m.toolbarBitmap = nullptr;
            m.toolbarButtonCount = 0;
            ProcessWindowSize();
        }
        return 0;
    }
    WriteLogTextUtf16(u"ツールバーウインドウの作成に失敗しました\n");
    return -1;
}

int ToolbarButtonIndex(int id) {
    const MainWindowState& m = MainWindow;
    if (!m.toolbarExists) return -1;
    for (int i = 0; i < m.toolbarButtonCount; ++i) {
        if (m.toolbarButtons[i].id == id && m.toolbarButtons[i].state != 3) return i;
    }
    return -1;
}

int RemoveToolbarButtons() {
    MainWindowState& m = MainWindow;
    if (!m.toolbarExists) return -1;
    for (int i = 0; i < m.toolbarButtonCount; ++i) WinSendMessage(m.toolbarWindow, 1046, 0, 0);
    m.toolbarButtonCount = 0;
    return 0;
}

int MeasureToolbarHeight() {
    if (!MainWindow.toolbarExists || !MainWindow.toolbarWindow) return 0;
    RECT r{};
    SystemApi.GetWindowRect(MainWindow.toolbarWindow, &r);
    return r.bottom - r.top;
}

int SetWindowRegionImage(const char16_t* file) {
    MainWindowState& m = MainWindow;
    if (file != nullptr) return -1;  // region images are not built here
    if (m.windowRegion) {
        EnsureSystemApiTable();
        if (m.mainWindow && SystemApi.SetWindowRgn)
            SystemApi.SetWindowRgn(m.mainWindow, nullptr, TRUE);
        if (SystemApi.DeleteObject) SystemApi.DeleteObject(m.windowRegion);
        m.windowRegion = nullptr;
    }
    return 0;
}

}  // namespace ZiDaz
