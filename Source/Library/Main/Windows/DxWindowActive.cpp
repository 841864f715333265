// Activation of the main window: the handler, the stock that defers activation events while the
// pump dispatches, the inactive wait, and forcing a window to the foreground.
#include "Main/DuRadudAvuvur.h"
#include "Main/DuZuder.h"
#include "Main/DxGraphics.h"
#include "Main/DxInput.h"
#include "Main/DxLog.h"
#include "Main/DxMovie.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxInputWin.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

int StockActivation(WPARAM wParam, LPARAM lParam, int isActivateApp, int fromLoop) {
    MainWindowState& m = MainWindow;
    ActivationStock& s = m.stock;
    if (m.stockSwitch && !m.creating && s.count < kActivationStockSize) {
        s.wParam[s.writeIndex] = wParam;
        s.lParam[s.writeIndex] = lParam;
        s.isActivateApp[s.writeIndex] = isActivateApp;
        s.fromLoop[s.writeIndex] = fromLoop;
        s.writeIndex = (s.writeIndex + 1) % kActivationStockSize;
        ++s.count;
        return 0;
    }
    HandleWindowActivation(wParam, lParam, isActivateApp, fromLoop);
    return 0;
}

int HandleWindowActivation(WPARAM wParam, LPARAM, int, int fromLoop) {
    EnsureSystemApiTable();
    MainWindowState& m = MainWindow;
    struct InProgress {
        InProgress() { MainWindow.activationInProgress = 1; }
        ~InProgress() { MainWindow.activationInProgress = 0; }
    } inProgress;
    int low = static_cast<int>(wParam & 0xFFFF), high = static_cast<int>((wParam >> 16) & 0xFFFF);
    if (m.creating) {
        m.active = low != 0;
        return 0;
    }
    int active = low != 0 && high == 0;  // a minimised activation counts as inactive
    if (active == m.active) return 0;
    m.active = active;
    bool exclusive = !m.windowMode && GetFullScreenResolutionModeInEffect() != 0;
    // In a window the sounds pause only when the library does not keep running while inactive.
    const bool pauseSounds = exclusive || !m.windowMode || !m.keepRunningInactive;
    if (active) {
        RequestImeResync();
        if (pauseSounds) {
            ResumeMoviesAfterActivation();
            PauseSounds(0);
            PauseSoftSoundPlayers(0);
        }
        if (!exclusive && !m.windowMode && GetFullScreenResolutionModeInEffect() == 0 &&
            m.mainWindow) {
            SystemApi.SetWindowPos(m.mainWindow, HWND_TOPMOST, 0, 0, 0, 0, 0x1B);
        }
        if (!exclusive) {
            Backend_CheckDeviceLost();
        } else if (LibrarySystem.initialised) {
            // Direct3D 11 re-enters exclusive full screen through its back end's switch.
            if (GraphicsBackendKind != DX_GRAPHICS_BACKEND_D3D11) RebuildAfterDeviceLoss();
        }
        ReacquireInputDevices();
        ApplyJoypadVibration();
    } else {
        if (pauseSounds) {
            PauseMoviesForDeactivation();
            PauseSounds(1);
            PauseSoftSoundPlayers(1);
        }
        if (exclusive) {
            if (!LibrarySystem.noGraphics && GraphicsSystemState.DevicePresent)
                Backend_ReleaseDeviceResources();
            if (SystemApi.ChangeDisplaySettingsA) SystemApi.ChangeDisplaySettingsA(nullptr, 0);
            if (m.mainWindow) SystemApi.ShowWindow(m.mainWindow, SW_MINIMIZE);
        }
        if (!m.windowMode && GetFullScreenResolutionModeInEffect() == 0 && m.mainWindow) {
            SystemApi.SetWindowPos(m.mainWindow, HWND_NOTOPMOST, 0, 0, 0, 0, 0x1B);
        }
        if (!fromLoop && m.mainWindow && SystemApi.GetDC) {
            HDC dc = SystemApi.GetDC(m.mainWindow);
            DrawInactiveScreen(dc);
            SystemApi.ReleaseDC(m.mainWindow, dc);
        }
    }
    return 0;
}

int IsInactiveWaitNeeded() {
    const MainWindowState& m = MainWindow;
    if (m.painting || (m.active && !m.minimized)) return 0;
    return m.keepRunningInactive ? 0 : 1;
}

int WaitWhileWindowInactive() {
    MainWindowState& m = MainWindow;
    if (IsInactiveWaitNeeded() == 0) return 0;
    if (m.endRequested || m.mainWindow == nullptr) return 1;
    m.inactiveWaitStart = ReadMillisecondClock();
    m.inactiveWaiting = 1;
    int result;
    do {
        result = PumpMessagesUnlocked();
    } while (result == 0 && (!m.active || m.minimized));
    return result;
}

int IsMainWindowActive() {
    return MainWindow.active;
}

int SetKeepRunningWhenInactive(int flag) {
    MainWindow.keepRunningInactive = flag;
    return 0;
}

int GetKeepRunningWhenInactive() {
    return MainWindow.keepRunningInactive;
}

int ForceWindowToForeground(HWND window, int topmost) {
    EnsureSystemApiTable();
    DWORD windowThread = SystemApi.GetWindowThreadProcessId(window, nullptr);
    HWND foreground = SystemApi.GetForegroundWindow ? SystemApi.GetForegroundWindow() : nullptr;
    DWORD foregroundThread =
        foreground ? SystemApi.GetWindowThreadProcessId(foreground, nullptr) : 0;
    if (SystemApi.AttachThreadInput)
        SystemApi.AttachThreadInput(windowThread, foregroundThread, TRUE);
    DWORD timeout = 0;
    WinSystemParametersInfo(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
    WinSystemParametersInfo(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, 0);
    SystemApi.SetForegroundWindow(window);
    WinSystemParametersInfo(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                            reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(timeout)), 0);
    if (SystemApi.AttachThreadInput)
        SystemApi.AttachThreadInput(windowThread, foregroundThread, FALSE);
    if (topmost && MainWindow.mainWindow) {
        SystemApi.SetWindowPos(MainWindow.mainWindow, HWND_TOPMOST, 0, 0, 0, 0,
                               SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW);
    }
    return 0;
}

int DrawInactiveScreen(HDC) {
    if (MainWindow.closeRequest == 1) return 0;
    return -1;  // no inactive-screen image is ever prepared
}

}  // namespace ZiDaz
