// The main window's state as the input module reads it, beside the window module's own queries
// (Main/Windows/DxWindow.h).
#pragma once

#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

// 1 while the activation handler runs (input queries then skip the inactive wait).
int IsWindowActivationInProgress();
// The thread that runs the main window.
DWORD GetMainWindowThreadId();
// The window procedure's vertical wheel accumulator (wheel units, 120 per notch).
int* MainWindowWheelAccumulator();
// The system report's version code (264 Vista, 268 Windows 10).
int GetWindowsVersionCode();
// The client rectangle in screen coordinates, and whether the screen image is shown centred in
// a larger client area (maximised with stretching allowed and no requested client size).
int GetMainWindowClientRect(RECT* rect);
int IsImageCentredInClient();
// The screen image's size, and a point of it in display coordinates in full screen. Interim until
// the graphics front end lands: the size the window module keeps, and the point unchanged.
int GetScreenSize(int* width, int* height);
int ScreenPointToWindowPoint(int x, int y, int* outX, int* outY);

}  // namespace ZiDaz
