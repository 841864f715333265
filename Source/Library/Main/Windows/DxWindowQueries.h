// The main window's state as the input module reads it, beside the window module's own queries
// (Main/Windows/DxWindow.h).
#pragma once

#include "Main/DxGraphics.h"
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

}  // namespace ZiDaz
