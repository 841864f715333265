#include "Main/Windows/DxWindowQueries.h"

namespace ZiDaz {

int IsWindowActivationInProgress() {
    return MainWindow.activationInProgress;
}

DWORD GetMainWindowThreadId() {
    return MainWindow.mainThreadId;
}

int* MainWindowWheelAccumulator() {
    return &MainWindow.wheelVertical;
}

int GetWindowsVersionCode() {
    return SystemReport.windowsVersionCode;
}

int GetMainWindowClientRect(RECT* rect) {
    *rect = MainWindow.clientRectOnScreen;
    return 0;
}

int IsImageCentredInClient() {
    return MainWindow.maximized && !MainWindow.noStretch && !MainWindow.requestedSizeSet;
}

}  // namespace ZiDaz
