// gdi32's objects and device contexts. One table holds every object the layer hands out (brushes,
// bitmaps and DIB sections, fonts, regions) and every device context (window, screen and memory
// contexts), so that the bitmap, font and screen code share SelectObject, DeleteObject and
// GetObject. Each kind of object is a subclass of gdi::Object made by the file that creates it.
#pragma once

#include <memory>

#include "platform/WinTypes.h"

// Object types, as GetObjectType answers them.
inline constexpr DWORD OBJ_PEN = 1;
inline constexpr DWORD OBJ_BRUSH = 2;
inline constexpr DWORD OBJ_DC = 3;
inline constexpr DWORD OBJ_PAL = 5;
inline constexpr DWORD OBJ_FONT = 6;
inline constexpr DWORD OBJ_BITMAP = 7;
inline constexpr DWORD OBJ_REGION = 8;
inline constexpr DWORD OBJ_MEMDC = 10;

// Background modes.
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

// A selected object's slot, and what SelectObject returns when it fails.
inline const HGDIOBJ HGDI_ERROR = reinterpret_cast<HGDIOBJ>(static_cast<std::intptr_t>(-1));

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

// Device-independent bitmaps.
inline constexpr DWORD BI_RGB = 0;
inline constexpr DWORD BI_RLE8 = 1;
inline constexpr DWORD BI_RLE4 = 2;
inline constexpr DWORD BI_BITFIELDS = 3;
inline constexpr DWORD BI_JPEG = 4;
inline constexpr DWORD BI_PNG = 5;
inline constexpr UINT DIB_RGB_COLORS = 0;
inline constexpr DWORD SRCCOPY = 0x00CC0020;

struct BITMAPINFOHEADER {  // 40 bytes
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // negative: rows top-down
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

#pragma pack(push, 2)
struct BITMAPFILEHEADER {  // 14 bytes, the start of a ".bmp" file
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

// GetObject of a bitmap.
struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};

// GetObject of a DIB section, with a size of at least this record.
struct DIBSECTION {
    BITMAP dsBm;
    BITMAPINFOHEADER dsBmih;
    DWORD dsBitfields[3];
    HANDLE dshSection;
    DWORD dsOffset;
};

namespace platform::gdi {

// An object of the table. Subclasses answer GetObject and are destroyed with their last use.
class Object {
  public:
    explicit Object(DWORD type) : type_(type) {}
    virtual ~Object() = default;
    DWORD Type() const { return type_; }
    // GetObjectA/W: with out null the size of the description, else writes at most size bytes of
    // it and returns how many; 0 when the object has no description of that size.
    virtual int Describe(int size, void* out, bool wide) const {
        (void)size;
        (void)out;
        (void)wide;
        return 0;
    }

  private:
    DWORD type_;
};

// The pixels a device context draws into, rows top-down.
struct Surface {
    BYTE* bits = nullptr;  // the first byte of the top row
    int width = 0;
    int height = 0;
    int pitch = 0;     // bytes from one row to the one below it
    int bitCount = 0;  // 1, 4, 8, 16, 24 or 32
    // Bit-field masks of 16- and 32-bit surfaces; all 0 means 5-5-5 or 8-8-8.
    DWORD redMask = 0;
    DWORD greenMask = 0;
    DWORD blueMask = 0;
    const RGBQUAD* palette = nullptr;  // palette surfaces
    int paletteSize = 0;
};

// A bitmap that memory device contexts can select and draw into.
class BitmapObject : public Object {
  public:
    BitmapObject() : Object(OBJ_BITMAP) {}
    virtual bool GetSurface(Surface* out) = 0;
};

// Adds an object and returns its new handle.
HGDIOBJ AddObject(std::shared_ptr<Object> object);
// The object behind a handle; null for stock objects, device contexts and unknown handles.
std::shared_ptr<Object> FindObject(HGDIOBJ handle);
template <typename T>
std::shared_ptr<T> FindObjectAs(HGDIOBJ handle) {
    return std::dynamic_pointer_cast<T>(FindObject(handle));
}
// Stock objects (GetStockObject) are never deleted; their type is OBJ_BRUSH, OBJ_PEN or OBJ_FONT.
bool IsStockObject(HGDIOBJ handle);

struct DeviceContext {
    HWND window = nullptr;     // the window of a GetDC context; null for the screen and memory DCs
    bool memory = false;       // made by CreateCompatibleDC
    HGDIOBJ bitmap = nullptr;  // selected into a memory DC (null: the default 1 x 1 bitmap)
    HGDIOBJ font = nullptr;
    HGDIOBJ brush = nullptr;
    HGDIOBJ pen = nullptr;
    COLORREF textColor = 0;
    COLORREF backgroundColor = 0xFFFFFF;
    int backgroundMode = OPAQUE;
};

// Adds a device context and returns its handle; finds and removes one.
HDC AddDc(const DeviceContext& dc);
// A copy of the context's current state; false for an unknown handle.
bool FindDc(HDC handle, DeviceContext* out);
// Changes a context's state under the table's lock; false for an unknown handle.
bool UpdateDc(HDC handle, void (*update)(DeviceContext& dc, void* data), void* data);
bool RemoveDc(HDC handle);

// The surface a context draws into: the selected bitmap of a memory DC, or the client image of a
// window DC as the window hook gives it. False when the context has none.
bool DcSurface(HDC dc, Surface* out);

// The screen presentation code gives window DCs their pixels: `surface` answers a window DC's
// drawing surface, `release` runs when a window DC is released (to show what was drawn).
using WindowSurfaceHook = bool (*)(HWND window, Surface* out);
using WindowReleaseHook = void (*)(HWND window);
void SetWindowHooks(WindowSurfaceHook surface, WindowReleaseHook release);

}  // namespace platform::gdi

namespace platform::gdi32 {
HGDIOBJ GetStockObject(int index);
// Every device context reports a 32-bit, one-layer, 96-DPI display of the primary desktop's size.
int GetDeviceCaps(HDC dc, int index);
HBRUSH CreateSolidBrush(COLORREF color);
BOOL DeleteObject(HGDIOBJ object);
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
int GetObjectA(HGDIOBJ object, int size, LPVOID out);
int GetObjectW(HGDIOBJ object, int size, LPVOID out);
DWORD GetObjectType(HGDIOBJ object);
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
int SetBkMode(HDC dc, int mode);

// DIB sections and DIB output. A DIB section's pixels start zeroed; only DIB_RGB_COLORS and no
// file mapping are offered. SetDIBitsToDevice and StretchDIBits (SRCCOPY only) draw into the
// context's surface and return the number of source rows they were given, or 0 when the DIB is
// one they cannot draw (other bit counts, BI_JPEG, BI_PNG) or the context has no surface.
// StretchDIBits takes the nearest source pixel: destination offset d shows source offset
// floor(d x source size / destination size); a negative size mirrors that axis.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT scanLines, const void* bits, const BITMAPINFO* info,
                      UINT usage);
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage,
                  DWORD rop);
}  // namespace platform::gdi32
