// What user32's painting calls share with gdi32's object table.
#pragma once

#include <cstddef>

#include "platform/Gdi32.h"

namespace platform::gdi::detail {

// Runs the window release hook once a window's device context is released.
void WindowDcReleased(HWND window);
// The colour a brush paints with; false for the null brush and unknown handles.
bool BrushColor(HBRUSH brush, COLORREF* color);
// Writes one colour into a rectangle of a surface, clipped to it.
void FillSurface(const Surface& surface, RECT rect, COLORREF color);
// Forgets a window's client image and what showed it; user32 calls it as the window goes.
void WindowDestroyed(HWND window);
// GetDeviceCaps of a display context.
int DisplayDeviceCaps(int display, int index);

}  // namespace platform::gdi::detail

namespace platform::gdi::detail {

// The one DIB copy routine behind SetDIBitsToDevice and StretchDIBits. Draws the source rectangle
// of a packed DIB into the destination rectangle of a surface (clipped to it); each destination
// pixel takes the nearest source pixel, floor(destination offset x source size / destination
// size) from the rectangle's first column or row, and a negative source or destination size
// mirrors that axis. Source rows are counted from the DIB's origin: the bottom row of a bottom-up
// DIB, the top row of a top-down one. `bits` holds the DIB's stored rows firstScan to
// firstScan + scanCount - 1 (rows of the other stored rows are not drawn); `bitsSize` bounds the
// run-length data (SIZE_MAX: up to the end-of-picture code). Reads BI_RGB 1, 4, 8, 16, 24, 32,
// BI_RLE4, BI_RLE8 and BI_BITFIELDS 16 and 32 with DIB_RGB_COLORS colour tables. Pixels that
// run-length data skips keep their colour. Returns false, drawing nothing, for any other DIB.
struct DibRect {
    int x, y, width, height;
};
bool CopyDib(const Surface& dest, DibRect destRect, const BITMAPINFO* info, const void* bits,
             std::size_t bitsSize, DibRect sourceRect, int firstScan, int scanCount);

}  // namespace platform::gdi::detail
