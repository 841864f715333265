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

int GetScreenSize(int* width, int* height) {
    if (width) *width = MainWindow.screenWidth ? MainWindow.screenWidth : 640;
    if (height) *height = MainWindow.screenHeight ? MainWindow.screenHeight : 480;
    return 0;
}

int ScreenPointToWindowPoint(int x, int y, int* outX, int* outY) {
    if (outX) *outX = x;
    if (outY) *outY = y;
    return 0;
}

}  // namespace ZiDaz
