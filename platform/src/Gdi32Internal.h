// What user32's painting calls share with gdi32's object table.
#pragma once

#include "platform/Gdi32.h"

namespace platform::gdi::detail {

// Runs the window release hook once a window's device context is released.
void WindowDcReleased(HWND window);
// The colour a brush paints with; false for the null brush and unknown handles.
bool BrushColor(HBRUSH brush, COLORREF* color);
// Writes one colour into a rectangle of a surface, clipped to it.
void FillSurface(const Surface& surface, RECT rect, COLORREF color);

}  // namespace platform::gdi::detail
