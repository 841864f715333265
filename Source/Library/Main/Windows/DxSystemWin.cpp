#include "Main/Windows/DxSystemWin.h"
#include "Main/DuRadudAvuvur.h"

#include <cstdarg>
#include <cstdlib>

#include "Main/DuZuder.h"
#include "Main/DuZuderConvert.h"
#include "Main/DxASyncLoad.h"
#include "Main/DxArchive_.h"
#include "Main/DxBaseFunc.h"
#include "Main/DxBaseImage.h"
#include "Main/DxChar.h"
#include "Main/DxCharFormat.h"
#include "Main/DxFile.h"
#include "Main/DxGraphics.h"
#include "Main/DxInput.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/DxMovie.h"
#include "Main/DxNetwork.h"
#include "Main/Windows/DuZuderWin.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

LibrarySystemState LibrarySystem;

namespace {

constexpr const char* kSourceFile = "DxSystemWin";

// Set while the per-frame line-input step runs, so that a pump re-entered from it returns at once.
int gLineInputRunning = 0;

// The size the last size query of the clipboard reported (0: none).
int gClipboardReportedBytes = 0;

bool OnMainThread() {
    return SystemApi.GetCurrentThreadId &&
           SystemApi.GetCurrentThreadId() == MainWindow.mainThreadId;
}

bool WindowLike() {
    return MainWindow.windowMode || GetFullScreenResolutionModeInEffect() == 0;
}

// Fails the start after the modules began: ends what was started, logs, clears the flag.
int FailStart() {
    EndLibraryUnlocked();
    DecreaseLogIndent();
    WriteLogFormatUtf16(u"RAvorazの初期化処理失敗");
    LibrarySystem.initialising = 0;
    return -1;
}

int DesktopColorDepth() {
    if (SystemApi.GetDC == nullptr || SystemApi.GetDeviceCaps == nullptr) return 32;
    HDC dc = SystemApi.GetDC(nullptr);
    int depth = SystemApi.GetDeviceCaps(dc, BITSPIXEL) * SystemApi.GetDeviceCaps(dc, PLANES);
    if (SystemApi.ReleaseDC) SystemApi.ReleaseDC(nullptr, dc);
    return depth;
}

// The display check of a scaled full screen: the display in use must offer the screen's size at
// its colour depth; a 640 x 480 x 16 screen falls back to 32 bits.
void CheckDisplayModes() {
    bool fallback = false;
    for (;;) {
        int width, height;
        int bits = GetScreenColorBits();
        GetScreenSize(&width, &height);
        WriteLogFormatUtf16(u"設定されている画面設定 %dx%d %dbit color", width, height, bits);
        if (GraphicsSystemState.ScreenModeSettings.Displays == nullptr) EnumerateDisplays();
        int display = DisplayInUse();
        int count = display < 0 ? 0 : GetDisplayModeCount(display);
        for (int i = 0; i < count; ++i) {
            DisplayMode mode;
            GetDisplayModeEntry(&mode, i, display);
            if (mode.Width == width && mode.Height == height &&
                (mode.ColorBits == bits || (fallback && mode.ColorBits == 32)))
                return;
        }
        WriteLogFormatUtf16(u"対応している画面モードなし");
        if (width != 640 || height != 480 || bits != 16) return;
        if (IsHardwareDrawing()) {
            if (fallback) return;
            fallback = true;
        } else {
            SetScreenMode(640, 480, 32, GraphicsSystemState.ScreenModeSettings.RefreshRate);
        }
    }
}

}  // namespace

int RecordLastError(std::int32_t code, const char16_t* text) {
    LibrarySystem.lastErrorCode = code;
    if (text == nullptr) {
        LibrarySystem.lastErrorText[0] = 0;
    } else {
        if (WideEncoding == 0) EnsureDefaultCharCodes();
        CopyCodeStringBounded(WideEncoding, LibrarySystem.lastErrorText,
                              sizeof(LibrarySystem.lastErrorText), text);
    }
    return 0;
}

int IsLibraryEndRequested() {
    return LibrarySystem.endRequested;
}

int ClearLibraryEndRequest() {
    LibrarySystem.endRequested = 0;
    return 0;
}

int IsASyncLoadEnabled() {
    return LibrarySystem.asyncLoadEnabled != 0 ? 1 : 0;
}

int EnableASyncLoad(int flag) {
    LibrarySystem.asyncLoadEnabled = flag;
    return 0;
}

int StartLibrary() {
    if (LibrarySystem.initialised) return 0;
    return StartLibraryUnlocked();
}

int EndLibrary() {
    if (!LibrarySystem.initialised) return 0;
    return EndLibraryUnlocked();
}

int PumpMessages() {
    return PumpMessagesUnlocked();
}

int StartLibraryUnlocked() {
    LibrarySystemState& s = LibrarySystem;
    // 1.
    if (s.initialised) return 0;
    // 2.
    WriteLogFormatUtf16(u"RAvorazの初期化処理開始");
    IncreaseLogIndent();
    // 3, 4, 5.
    EnsureSystemApiTable();
    s.initialising = 1;
    MainWindow.endRequested = 0;
    ClearLibraryEndRequest();
    // 6, 7.
    InitBaseFunctions();
    EnsureDefaultCharCodes();
    // 8, 9, 10.
    StartArchivePathLayer();
    InstallNarrowStreamFunctions(nullptr);
    StreamGetCurrentDir(s.startDirectory, sizeof(s.startDirectory));
    SetWaitMessagePump(&PumpMessagesUnlocked);
    // 11.
    OpenLogFile();

    // 12. In a scaled full screen the display must offer the screen's mode.
    if (!MainWindow.windowMode && GetFullScreenResolutionModeInEffect() != 0) CheckDisplayModes();

    // 13. A 24-bit desktop cannot be drawn on.
    if ((DesktopColorDepth() == 24 && WindowLike()) || GetScreenColorBits() == 24) {
        WriteLogTextUtf16(u"RAvorazは２４ビットカラーモードに対応していません\n");
        DecreaseLogIndent();
        WriteLogTextUtf16WithError(kErrorColorDepth24, u"RAvorazの初期化処理失敗");
        s.initialising = 0;
        return -1;
    }

    // 14, 15.
    QueryHighResolutionClock();
    LogSystemReport();

    // 16.
    SetGraphicsRestoreCallback(nullptr);
    StartComApartment();
    if (StartWindowSystem() == -1) return FailStart();
    if (InitInputDevices() == -1) return FailStart();
    InitTextInputSystem();
    InitBaseImageModule();
    InitSoftImageModule();
    StartMovieSystem();
    if (StartGraphicsModule() < 0) return FailStart();
    if (!s.noSound) {
        StartPlatformSoundDecoders();
        StartSoundSystem();
    }

    // 18.
    s.initialised = 1;

    // 19.
    if (!MainWindow.windowMode && GetFullScreenResolutionModeInEffect() != 0) {
        ForceWindowToForeground(MainWindow.mainWindow, 1);
    }

    // 20.
    InitOnScreenLog();

    // 21.
    SetDrawTarget(DX_TARGET_BACK_SCREEN);
    SetDrawTarget(DX_TARGET_FRONT_SCREEN);

    // 23.
    s.initialising = 0;
    if (MainWindow.sizeSetWhileInitialising) MainWindow.requestedSizeSet = 0;

    // 24.
    DecreaseLogIndent();
    WriteLogFormatUtf16(u"RAvorazの初期化処理終了");
    return 0;
}

int EndLibraryUnlocked() {
    LibrarySystemState& s = LibrarySystem;
    // 1, 2.
    if (!s.initialised) return 0;
    EnsureSystemApiTable();
    MainWindow.closeRequest = 1;
    // 4, 5.
    EndOnScreenLog();
    ShutdownNetwork();
    // 7.
    StopCurrentMusicPlayback();
    // 9.
    EndGraphicsModule();
    // 10.
    EndSoftImageModule();
    EndBaseImageModule();
    // 12.
    ShutdownMovieSystem();
    // 13.
    TerminateInputDevices();
    // 15, 16.
    ShutdownSoundSystem();
    EndPlatformSoundDecoders();
    // 17, 18, 19.
    CloseWindowSystem();
    EndTextInputSystem();
    EndComApartment();
    s.initialised = 0;
    // 20. Pump until the window is gone.
    while (MainWindow.mainWindow && PumpMessagesUnlocked() == 0 && !MainWindow.endRequested &&
           !MainWindow.destroyed) {
    }
    // 21, 22.
    if (SystemApi.UnregisterClassW) WinUnregisterClassW(MainWindow.className, MainWindow.instance);
    while (MainWindow.mainWindow && SystemApi.FindWindowW &&
           WinFindWindowW(MainWindow.className, nullptr) == MainWindow.mainWindow) {
        SystemApi.DestroyWindow(MainWindow.mainWindow);
        SystemApi.Sleep(100);
    }
    // 23, 24.
    StreamChangeDir(s.startDirectory);
    EndArchivePathLayer();
    // 25, 27, 28.
    DumpTrackedMemory();
    CloseLogFile();
    EndTrackedMemory();
    SetWaitMessagePump(nullptr);
    ReleaseSystemApiTable();
    return 0;
}

int PumpMessagesUnlocked() {
    MainWindowState& m = MainWindow;
    // 1.
    if (gLineInputRunning) return 0;
    EnsureSystemApiTable();
    // 2.
    m.stockSwitch = 1;

    // 3. Keep the cursor inside the client area once it is there.
    if (m.mouseClip && m.active && !m.minimized && WindowLike() && !m.mouseClipApplied &&
        SystemApi.GetCursorPos && SystemApi.ClipCursor) {
        POINT p{};
        SystemApi.GetCursorPos(&p);
        const RECT& c = m.clientRectOnScreen;
        if (c.left < p.x && p.x <= c.right && c.top < p.y && p.y <= c.bottom) {
            m.mouseClipApplied = 1;
            SystemApi.ClipCursor(&c);
        }
    }

    if (m.mainWindow != nullptr) {
        bool mainThread = OnMainThread();
        // 6. A window-mode toggle the window procedure asked for.
        if (m.modeToggleRequested && m.allowModeToggle && mainThread) {
            m.modeToggleRequested = 0;
            ChangeWindowMode(!m.windowMode && GetFullScreenResolutionModeInEffect() != 0 ? 1 : 0);
            if (m.modeChangeCallback) m.modeChangeCallback(m.modeChangeCallbackData);
        }

        // 7. The message loop.
        int passes = 0;
        bool noted = false;
        bool foundLastPass = true;
        for (bool first = true;; first = false) {
            bool inactive = (!m.active || m.minimized) && !m.keepRunningInactive;
            bool waiting = inactive && !m.closePosted && m.stock.count == 0;
            // 7.1
            if (!first && !waiting && (!foundLastPass || m.endRequested)) break;
            // 7.2
            if (inactive && !noted) {
                noted = true;
                m.inactiveWaitStart = ReadMillisecondClock();
                m.inactiveWaiting = 1;
            }
            // 7.3
            if (inactive) {
                SystemApi.Sleep(1);
                if (m.repaintThrottle &&
                    MillisecondsElapsed(ReadMillisecondClock(), m.repaintThrottleTime) > 64) {
                    RepaintScreen();
                    m.repaintThrottleTime = ReadMillisecondClock();
                    m.repaintThrottle = 0;
                }
            }
            // 7.4 Drain.
            foundLastPass = false;
            bool leave = false;
            for (;;) {
                MSG msg{};
                bool got = false;
                if (WinPeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
                    got = WinPeekMessage(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
                }
                if (!got)
                    got =
                        WinPeekMessage(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE) != FALSE;
                if (!got) got = WinPeekMessage(&msg, m.mainWindow, 0, 0, PM_REMOVE) != FALSE;
                if (!got) break;
                foundLastPass = true;
                if (m.dialogWindow && WinIsDialogMessage(m.dialogWindow, &msg)) {
                } else {
                    if (msg.message == WM_ACTIVATEAPP && WindowLike()) {
                        m.active = static_cast<int>(msg.wParam & 0xFFFF);
                    }
                    if (m.endRequested) {
                        leave = true;
                        break;
                    }
                    if (msg.message == WM_QUIT) {
                        m.endRequested = 1;
                        RequestLibraryEnd();
                    }
                    if (!m.acceleratorTable ||
                        !WinTranslateAccelerator(m.mainWindow, m.acceleratorTable, &msg)) {
                        SystemApi.TranslateMessage(&msg);
                        WinDispatchMessage(&msg);
                    }
                }
                if (m.dialogWindow) {
                    MSG own{};
                    if (WinPeekMessage(&own, m.dialogWindow, 0, 0, PM_REMOVE)) {
                        WinIsDialogMessage(m.dialogWindow, &own);
                    }
                }
            }
            if (leave) break;
            // 7.5 The services that keep running while the window waits.
            if (inactive) {
                RunPumpSoundService();
                UpdateTrackedMemory();
                PumpNetworkWindowMessages(1);
                Backend_ExpireSysMemCaches();
                ServeMainThreadCalls();
                SystemApi.Sleep(1);
            }
            // 7.6
            if (m.endRequested || !mainThread) break;
            ++passes;
            if (m.closeRequest != 0 && passes >= 10) break;
        }

        // 8.
        if (mainThread && !m.alwaysShowMenu) UpdateMenuAutoShow();
    }

    // The sound service of this pass, once the window's messages are handled.
    RunPumpSoundService();

    // 9. The activation events that arrived meanwhile, oldest first.
    m.stockSwitch = 0;
    if (!m.closePosted) {
        ActivationStock& stock = m.stock;
        while (stock.count > 0) {
            int i = stock.readIndex;
            stock.readIndex = (stock.readIndex + 1) % kActivationStockSize;
            --stock.count;
            HandleWindowActivation(stock.wParam[i], stock.lParam[i], stock.isActivateApp[i], 0);
        }
    }

    // 10. Per-frame services.
    Backend_ExpireSysMemCaches();
    if (!m.endRequested) ServeMainThreadCalls();
    UpdateMusicPlayState();
    PollKeyboardTable(false);
    UpdateJoypadVibration();
    PumpNetworkWindowMessages(1);
    UpdateTrackedMemory();
    ReinitAudioAfterDeviceChange();
    // The typed characters of this pass reach the active line input last.
    ProcessLineInputKeys();

    // 11.
    m.stockSwitch = 0;
    return m.endRequested ? -1 : 0;
}

void AbortLibraryWithMessage(const char16_t* text) {
    WriteLogTextWide(text);
    WriteLogTextWide(u"\n");
    EndLibraryUnlocked();
    CloseLibraryCallLock();
    EnsureSystemApiTable();
    if (SystemApi.ExitProcess) SystemApi.ExitProcess(static_cast<UINT>(-1));
    std::_Exit(-1);
}

int AbortLibraryWithMessageUtf16(const char16_t* text) {
    EnsureDefaultCharCodes();
    if (text == nullptr || WideEncoding == 1200) AbortLibraryWithMessage(text);
    int n = CountCodeStringUnits(1200, text);
    char16_t stack[512];
    void* heap = nullptr;
    void* buffer = stack;
    int bytes = static_cast<int>(sizeof(stack));
    if (n + 16 > 512) {
        bytes = n * 2 + 32;
        heap = AllocateTrackedMemory(static_cast<std::size_t>(bytes), kSourceFile, __LINE__);
        if (heap == nullptr) return -1;
        buffer = heap;
    }
    TranscodeString(text, -1, 1200, buffer, bytes, WideEncoding);
    AbortLibraryWithMessage(static_cast<const char16_t*>(buffer));
}

int AbortLibraryWithFormatUtf16(const char16_t* format, ...) {
    EnsureDefaultCharCodes();
    char16_t buffer[1024];
    std::va_list args;
    va_start(args, format);
    FormatCodeStringV(1200, 1, NarrowEncoding, WideEncoding, buffer, 1024, format, args);
    va_end(args);
    return AbortLibraryWithMessageUtf16(buffer);
}

int ReadClipboardWideText(char16_t* buffer) {
    EnsureSystemApiTable();
    if (SystemApi.OpenClipboard == nullptr || !SystemApi.OpenClipboard(MainWindow.mainWindow))
        return -1;
    HANDLE block =
        SystemApi.GetClipboardData ? SystemApi.GetClipboardData(CF_UNICODETEXT) : nullptr;
    if (block == nullptr) {
        SystemApi.CloseClipboard();
        return -1;
    }
    const auto* text = static_cast<const char16_t*>(SystemApi.GlobalLock(block));
    int size = static_cast<int>(SystemApi.GlobalSize(block));
    int result = 0;
    if (buffer == nullptr) {
        result = size + 1;
        gClipboardReportedBytes = result;
    } else if (text != nullptr) {
        // Bounded by the size reported to the caller, in case the clipboard changed since.
        int units = gClipboardReportedBytes > 0 ? (gClipboardReportedBytes - 1) / 2 : size / 2;
        int i = 0;
        for (; i < units - 1 && text[i]; ++i) buffer[i] = text[i];
        if (units > 0) buffer[i] = 0;
    }
    SystemApi.GlobalUnlock(block);
    SystemApi.CloseClipboard();
    return result;
}

int WriteClipboardWideText(const char16_t* text) {
    EnsureSystemApiTable();
    EnsureDefaultCharCodes();
    if (SystemApi.GlobalAlloc == nullptr || text == nullptr) return 0;
    int units = CountCodeStringUnits(WideEncoding, text);
    HGLOBAL block = SystemApi.GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(units + 1) * 2);
    if (block == nullptr) return 0;
    CopyByteBlock(SystemApi.GlobalLock(block), text, static_cast<std::size_t>(units + 1) * 2);
    SystemApi.GlobalUnlock(block);
    if (SystemApi.OpenClipboard == nullptr || !SystemApi.OpenClipboard(MainWindow.mainWindow)) {
        SystemApi.GlobalFree(block);
        return 0;
    }
    SystemApi.EmptyClipboard();
    SystemApi.SetClipboardData(CF_UNICODETEXT, block);
    SystemApi.CloseClipboard();
    return 0;
}

}  // namespace ZiDaz
