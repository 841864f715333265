// Interim bodies until the window module lands: one windowed, always active window of 640 x 480
// at scale 1 whose thread is the first that asks, with no handle yet.
#include "Main/Windows/DxWindowQueries.h"

#include "Main/Windows/DxWinAPI.h"

namespace ZiDaz {

namespace {
int gWheel = 0;
}  // namespace

int WaitWhileWindowInactive() {
    return 0;
}
int IsWindowActivationInProgress() {
    return 0;
}
int IsWindowQuitRequested() {
    return 0;
}
HWND QueryMainWindow() {
    return nullptr;
}
DWORD GetMainWindowThreadId() {
    EnsureSystemApiTable();
    static const DWORD id = SystemApi.GetCurrentThreadId();
    return id;
}
int IsWindowedMode() {
    return 1;
}
int IsMainWindowActive() {
    return 1;
}
int GetKeepRunningWhenInactive() {
    return 0;
}
int* MainWindowWheelAccumulator() {
    return &gWheel;
}
int GetWindowsVersionCode() {
    return 268;
}
int GetMainWindowClientRect(RECT* rect) {
    *rect = RECT{0, 0, 640, 480};
    return 0;
}
int IsImageCentredInClient() {
    return 0;
}
int ScreenPointToImagePoint(int x, int y, int* outX, int* outY) {
    if (outX) *outX = x;
    if (outY) *outY = y;
    return 0;
}
double GetWindowScaleFactors(double* x, double* y) {
    if (x) *x = 1.0;
    if (y) *y = 1.0;
    return 1.0;
}
int GetScreenSize(int* width, int* height) {
    if (width) *width = 640;
    if (height) *height = 480;
    return 0;
}
int ScreenPointToWindowPoint(int x, int y, int* outX, int* outY) {
    if (outX) *outX = x;
    if (outY) *outY = y;
    return 0;
}

}  // namespace ZiDaz
