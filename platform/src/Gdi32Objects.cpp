// gdi32's object and device-context table, stock objects, brushes, SelectObject, DeleteObject,
// GetObject and the device caps; FillRect draws through it into whatever surface a context has.
#include <map>
#include <mutex>

#include "Gdi32Internal.h"
#include "platform/Gdi32.h"
#include "platform/Modules.h"
#include "platform/User32.h"

namespace platform::gdi {

namespace {

constexpr std::uintptr_t kStockBase = 0x40000;
constexpr int kStockCount = 20;
// The 1 x 1 bitmap a new memory context holds; it has no pixels to draw into.
constexpr std::uintptr_t kDefaultBitmap = kStockBase + kStockCount;

struct Table {
    std::mutex lock;
    std::map<std::uintptr_t, std::shared_ptr<Object>> objects;
    std::map<std::uintptr_t, DeviceContext> dcs;
    std::uintptr_t next = 0x50000;
    WindowSurfaceHook surfaceHook = nullptr;
    WindowReleaseHook releaseHook = nullptr;
};

Table& Objects() {
    static Table* table = new Table;
    return *table;
}

std::uintptr_t Key(const void* handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

class BrushObject : public Object {
  public:
    explicit BrushObject(COLORREF c) : Object(OBJ_BRUSH), color(c) {}
    COLORREF color;
};

DWORD StockType(std::uintptr_t key) {
    if (key == kDefaultBitmap) return OBJ_BITMAP;
    int index = static_cast<int>(key - kStockBase);
    if (index <= 5 || index == 18) return OBJ_BRUSH;
    if (index <= 8 || index == 19) return OBJ_PEN;
    if (index == 15) return OBJ_PAL;
    return OBJ_FONT;
}

}  // namespace

HGDIOBJ AddObject(std::shared_ptr<Object> object) {
    if (!object) return nullptr;
    Table& t = Objects();
    std::lock_guard guard(t.lock);
    std::uintptr_t key = t.next;
    t.next += 4;
    t.objects[key] = std::move(object);
    return reinterpret_cast<HGDIOBJ>(key);
}

std::shared_ptr<Object> FindObject(HGDIOBJ handle) {
    Table& t = Objects();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(Key(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

bool IsStockObject(HGDIOBJ handle) {
    std::uintptr_t key = Key(handle);
    return key >= kStockBase && key <= kDefaultBitmap;
}

HDC AddDc(const DeviceContext& dc) {
    Table& t = Objects();
    std::lock_guard guard(t.lock);
    std::uintptr_t key = t.next;
    t.next += 4;
    t.dcs[key] = dc;
    return reinterpret_cast<HDC>(key);
}

bool FindDc(HDC handle, DeviceContext* out) {
    Table& t = Objects();
    std::lock_guard guard(t.lock);
    auto it = t.dcs.find(Key(handle));
    if (it == t.dcs.end()) return false;
    if (out) *out = it->second;
    return true;
}

bool UpdateDc(HDC handle, void (*update)(DeviceContext& dc, void* data), void* data) {
    Table& t = Objects();
    std::lock_guard guard(t.lock);
    auto it = t.dcs.find(Key(handle));
    if (it == t.dcs.end()) return false;
    update(it->second, data);
    return true;
}

bool RemoveDc(HDC handle) {
    Table& t = Objects();
    std::lock_guard guard(t.lock);
    return t.dcs.erase(Key(handle)) != 0;
}

bool DcSurface(HDC dc, Surface* out) {
    DeviceContext c;
    if (!FindDc(dc, &c)) return false;
    if (c.memory) {
        auto bitmap = FindObjectAs<BitmapObject>(c.bitmap);
        return bitmap && bitmap->GetSurface(out);
    }
    WindowSurfaceHook hook;
    {
        Table& t = Objects();
        std::lock_guard guard(t.lock);
        hook = t.surfaceHook;
    }
    return c.window != nullptr && hook != nullptr && hook(c.window, out);
}

void SetWindowHooks(WindowSurfaceHook surface, WindowReleaseHook release) {
    Table& t = Objects();
    std::lock_guard guard(t.lock);
    t.surfaceHook = surface;
    t.releaseHook = release;
}

namespace detail {

// Called by user32's ReleaseDC and EndPaint once a window context is gone.
void WindowDcReleased(HWND window) {
    WindowReleaseHook hook;
    {
        Table& t = Objects();
        std::lock_guard guard(t.lock);
        hook = t.releaseHook;
    }
    if (hook && window) hook(window);
}

// The colour a brush paints with; false for the null brush and unknown handles.
bool BrushColor(HBRUSH brush, COLORREF* color) {
    std::uintptr_t key = Key(brush);
    if (IsStockObject(brush)) {
        static const COLORREF kStock[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
        int index = static_cast<int>(key - kStockBase);
        if (index < 0 || index > 4) return false;
        *color = kStock[index];
        return true;
    }
    auto b = FindObjectAs<BrushObject>(brush);
    if (!b) return false;
    *color = b->color;
    return true;
}

// Writes one colour into a rectangle of a surface, clipped to it.
void FillSurface(const Surface& s, RECT r, COLORREF color) {
    if (r.left < 0) r.left = 0;
    if (r.top < 0) r.top = 0;
    if (r.right > s.width) r.right = s.width;
    if (r.bottom > s.height) r.bottom = s.height;
    if (r.left >= r.right || r.top >= r.bottom || s.bits == nullptr) return;
    DWORD red = color & 0xFF, green = (color >> 8) & 0xFF, blue = (color >> 16) & 0xFF;
    auto pack = [&](DWORD mask, DWORD value) -> DWORD {
        if (mask == 0) return 0;
        int shift = 0, width = 0;
        while (!(mask >> shift & 1)) ++shift;
        while (shift + width < 32 && (mask >> (shift + width) & 1)) ++width;
        return width >= 8 ? value << (shift + width - 8) : (value >> (8 - width)) << shift;
    };
    DWORD pixel = 0;
    if (s.bitCount == 16) {
        bool masks = s.redMask | s.greenMask | s.blueMask;
        pixel = pack(masks ? s.redMask : 0x7C00, red) | pack(masks ? s.greenMask : 0x3E0, green) |
                pack(masks ? s.blueMask : 0x1F, blue);
    } else if (s.bitCount == 32) {
        bool masks = s.redMask | s.greenMask | s.blueMask;
        pixel = pack(masks ? s.redMask : 0xFF0000, red) |
                pack(masks ? s.greenMask : 0xFF00, green) | pack(masks ? s.blueMask : 0xFF, blue);
    } else if (s.bitCount <= 8) {
        // The nearest palette entry.
        long best = -1;
        for (int i = 0; i < s.paletteSize && s.palette; ++i) {
            long dr = long(s.palette[i].rgbRed) - long(red),
                 dg = long(s.palette[i].rgbGreen) - long(green),
                 db = long(s.palette[i].rgbBlue) - long(blue);
            long d = dr * dr + dg * dg + db * db;
            if (best < 0 || d < best) {
                best = d;
                pixel = static_cast<DWORD>(i);
            }
        }
    }
    for (LONG y = r.top; y < r.bottom; ++y) {
        BYTE* row = s.bits + static_cast<std::ptrdiff_t>(y) * s.pitch;
        for (LONG x = r.left; x < r.right; ++x) {
            switch (s.bitCount) {
                case 32:
                    reinterpret_cast<std::uint32_t*>(row)[x] = pixel;
                    break;
                case 24:
                    row[x * 3] = static_cast<BYTE>(blue);
                    row[x * 3 + 1] = static_cast<BYTE>(green);
                    row[x * 3 + 2] = static_cast<BYTE>(red);
                    break;
                case 16:
                    reinterpret_cast<std::uint16_t*>(row)[x] = static_cast<std::uint16_t>(pixel);
                    break;
                case 8:
                    row[x] = static_cast<BYTE>(pixel);
                    break;
                case 4: {
                    BYTE& b = row[x / 2];
                    b = (x & 1) ? static_cast<BYTE>((b & 0xF0) | (pixel & 0xF))
                                : static_cast<BYTE>((b & 0x0F) | (pixel & 0xF) << 4);
                    break;
                }
                case 1: {
                    BYTE bit = static_cast<BYTE>(0x80 >> (x & 7));
                    row[x / 8] = (pixel & 1) ? (row[x / 8] | bit) : (row[x / 8] & ~bit);
                    break;
                }
                default:
                    return;
            }
        }
    }
}

}  // namespace detail

}  // namespace platform::gdi

namespace platform::gdi32 {

using gdi::Objects;

HGDIOBJ GetStockObject(int index) {
    if (index < 0 || index >= gdi::kStockCount) return nullptr;
    return reinterpret_cast<HGDIOBJ>(gdi::kStockBase + static_cast<std::uintptr_t>(index));
}

int GetDeviceCaps(HDC dc, int index) {
    gdi::DeviceContext c;
    if (dc && gdi::FindDc(dc, &c) && c.display >= 0)
        return gdi::detail::DisplayDeviceCaps(c.display, index);
    switch (index) {
        case BITSPIXEL:
            return 32;
        case PLANES:
            return 1;
        case LOGPIXELSX:
        case LOGPIXELSY:
            return 96;
        case HORZRES:
            return user32::GetSystemMetrics(SM_CXSCREEN);
        case VERTRES:
            return user32::GetSystemMetrics(SM_CYSCREEN);
        case VREFRESH: {
            DEVMODEW dm{};
            dm.dmSize = sizeof(dm);
            user32::EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &dm);
            return static_cast<int>(dm.dmDisplayFrequency);
        }
        default:
            return 0;
    }
}

HBRUSH CreateSolidBrush(COLORREF color) {
    return gdi::AddObject(std::make_shared<gdi::BrushObject>(color));
}

BOOL DeleteObject(HGDIOBJ object) {
    if (object == nullptr) return FALSE;
    if (gdi::IsStockObject(object)) return TRUE;
    gdi::Table& t = Objects();
    std::shared_ptr<gdi::Object> doomed;  // destroyed outside the lock
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(gdi::Key(object));
    if (it == t.objects.end()) return FALSE;
    doomed = std::move(it->second);
    t.objects.erase(it);
    return TRUE;
}

HDC CreateCompatibleDC(HDC) {
    gdi::DeviceContext dc;
    dc.memory = true;
    return gdi::AddDc(dc);
}

BOOL DeleteDC(HDC dc) {
    gdi::DeviceContext c;
    if (!gdi::FindDc(dc, &c) || (!c.memory && c.display < 0)) return FALSE;
    return gdi::RemoveDc(dc) ? TRUE : FALSE;
}

DWORD GetObjectType(HGDIOBJ object) {
    if (object == nullptr) return 0;
    if (gdi::IsStockObject(object)) return gdi::StockType(gdi::Key(object));
    gdi::DeviceContext c;
    if (gdi::FindDc(reinterpret_cast<HDC>(object), &c)) return c.memory ? OBJ_MEMDC : OBJ_DC;
    auto o = gdi::FindObject(object);
    return o ? o->Type() : 0;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    DWORD type = GetObjectType(object);
    struct Change {
        DWORD type;
        HGDIOBJ object;
        HGDIOBJ previous;
        bool ok;
    } change{type, object, nullptr, false};
    if (type == OBJ_BITMAP && object == reinterpret_cast<HGDIOBJ>(gdi::kDefaultBitmap)) {
        change.object = nullptr;
    }
    gdi::UpdateDc(
        dc,
        [](gdi::DeviceContext& c, void* data) {
            auto& ch = *static_cast<Change*>(data);
            HGDIOBJ* slot = nullptr;
            HGDIOBJ standard = nullptr;
            switch (ch.type) {
                case OBJ_BITMAP:
                    if (!c.memory) return;  // only memory contexts hold bitmaps
                    slot = &c.bitmap;
                    standard = reinterpret_cast<HGDIOBJ>(gdi::kDefaultBitmap);
                    break;
                case OBJ_FONT:
                    slot = &c.font;
                    standard = GetStockObject(13);  // SYSTEM_FONT
                    break;
                case OBJ_BRUSH:
                    slot = &c.brush;
                    standard = GetStockObject(WHITE_BRUSH);
                    break;
                case OBJ_PEN:
                    slot = &c.pen;
                    standard = GetStockObject(7);  // BLACK_PEN
                    break;
                default:
                    return;
            }
            ch.previous = *slot ? *slot : standard;
            *slot = ch.object;
            ch.ok = true;
        },
        &change);
    return change.ok ? change.previous : nullptr;
}

namespace {

int Describe(HGDIOBJ object, int size, LPVOID out, bool wide) {
    auto o = gdi::FindObject(object);
    if (!o || size < 0) return 0;
    return o->Describe(size, out, wide);
}

}  // namespace

int GetObjectA(HGDIOBJ object, int size, LPVOID out) {
    return Describe(object, size, out, false);
}

int GetObjectW(HGDIOBJ object, int size, LPVOID out) {
    return Describe(object, size, out, true);
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
    struct Change {
        COLORREF color, previous;
    } ch{color, 0xFFFFFFFF};  // CLR_INVALID for an unknown context
    gdi::UpdateDc(
        dc,
        [](gdi::DeviceContext& c, void* data) {
            auto& x = *static_cast<Change*>(data);
            x.previous = c.textColor;
            c.textColor = x.color;
        },
        &ch);
    return ch.previous;
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
    struct Change {
        COLORREF color, previous;
    } ch{color, 0xFFFFFFFF};
    gdi::UpdateDc(
        dc,
        [](gdi::DeviceContext& c, void* data) {
            auto& x = *static_cast<Change*>(data);
            x.previous = c.backgroundColor;
            c.backgroundColor = x.color;
        },
        &ch);
    return ch.previous;
}

int SetBkMode(HDC dc, int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) return 0;
    struct Change {
        int mode, previous;
    } ch{mode, 0};
    gdi::UpdateDc(
        dc,
        [](gdi::DeviceContext& c, void* data) {
            auto& x = *static_cast<Change*>(data);
            x.previous = c.backgroundMode;
            c.backgroundMode = x.mode;
        },
        &ch);
    return ch.previous;
}

namespace {
const ModuleExports kExports("gdi32.dll", {{"GetStockObject", Export(&GetStockObject)},
                                           {"GetDeviceCaps", Export(&GetDeviceCaps)},
                                           {"CreateSolidBrush", Export(&CreateSolidBrush)},
                                           {"DeleteObject", Export(&DeleteObject)},
                                           {"CreateCompatibleDC", Export(&CreateCompatibleDC)},
                                           {"DeleteDC", Export(&DeleteDC)},
                                           {"SelectObject", Export(&SelectObject)},
                                           {"GetObjectA", Export(&GetObjectA)},
                                           {"GetObjectW", Export(&GetObjectW)},
                                           {"GetObjectType", Export(&GetObjectType)},
                                           {"SetTextColor", Export(&SetTextColor)},
                                           {"SetBkColor", Export(&SetBkColor)},
                                           {"SetBkMode", Export(&SetBkMode)}});
}  // namespace

}  // namespace platform::gdi32
