// The main window's state as the input module reads it. Interim: the window module owns these
// (its record, activation and inactive waiting, scale factors and the screen-image mapping) and
// replaces this file and its bodies when it lands; the signatures are final.
#pragma once

#include "platform/WinTypes.h"

namespace ZiDaz {

// Pumps while the main window is inactive; 0 when the caller may go on.
int WaitWhileWindowInactive();
// 1 while the activation handler runs (input queries then skip the inactive wait).
int IsWindowActivationInProgress();
// The close-posted flag.
int IsWindowQuitRequested();
HWND QueryMainWindow();
// The thread that runs the main window.
DWORD GetMainWindowThreadId();
// 1 windowed, 0 full screen.
int IsWindowedMode();
int IsMainWindowActive();
int GetKeepRunningWhenInactive();
// The window procedure's vertical wheel accumulator (wheel units, 120 per notch).
int* MainWindowWheelAccumulator();
// The system report's version code (264 Vista, 268 Windows 10).
int GetWindowsVersionCode();
// The client rectangle in screen coordinates, and whether the screen image is shown centred in
// a larger client area (maximised with stretching allowed and no requested client size).
int GetMainWindowClientRect(RECT* rect);
int IsImageCentredInClient();
// Screen-image mapping and size.
int ScreenPointToImagePoint(int x, int y, int* outX, int* outY);
double GetWindowScaleFactors(double* x, double* y);
int GetScreenSize(int* width, int* height);
int ScreenPointToWindowPoint(int x, int y, int* outX, int* outY);

}  // namespace ZiDaz
