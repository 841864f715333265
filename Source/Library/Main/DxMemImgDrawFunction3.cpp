// The software renderer's primitives of one colour: boxes, lines and line lists, circles and
// ellipses (outlined or filled), and a memory image drawn onto four corners.
#include <algorithm>
#include <cstdint>

#include "Main/DxMemImg.h"
#include "Main/DxMemImgBlend.h"
#include "Main/DxMemImgConstant.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

namespace {

using memimg::Op;
using memimg::PixelContext;

// Allocation tag and lines of the row-flag buffers of filled circles and ellipses.
constexpr const char* kAllocTag = "DxMemImgDrawFunction3";
constexpr int kCircleRowsLine = 1357;
constexpr int kOvalRowsLine = 2022;

// The colour tinted by the bright colour: each channel times its bright channel, divided by 256;
// the top byte of a 32-bit colour is kept.
std::uint32_t TintShapeColor(std::uint32_t colorType, std::uint32_t color, std::uint32_t bright) {
    if ((bright & 0xFFFFFFu) == 0xFFFFFFu) return color;
    const std::uint32_t br = (bright >> 16) & 0xFF;
    const std::uint32_t bg = (bright >> 8) & 0xFF;
    const std::uint32_t bb = bright & 0xFF;
    if (colorType == 1) {
        return (color & 0xFF000000u) | (((((color >> 16) & 0xFF) * br) >> 8) << 16) |
               (((((color >> 8) & 0xFF) * bg) >> 8) << 8) | (((color & 0xFF) * bb) >> 8);
    }
    return (((((color >> 11) & 31) * br) >> 8) << 11) | (((((color >> 5) & 63) * bg) >> 8) << 5) |
           (((color & 31) * bb) >> 8);
}

// Writes one colour into a destination with one pixel kernel, clipped to the draw bounds.
template <class K>
struct Painter {
    using Dst = typename K::Dst;
    PixelContext context;
    std::uint8_t* pixels;
    std::ptrdiff_t pitch;
    Dst color;
    RECT area;
    std::uint8_t* rowFlags;  // filled shapes: one flag per row, set once a span reached the row

    Dst* At(std::int64_t x, std::int64_t y) const {
        return reinterpret_cast<Dst*>(pixels + y * pitch) + x;
    }
    // A run of count pixels inside the area.
    void Run(std::int64_t y, std::int64_t x, int count) const {
        memimg::FillColorRun<K>(context, At(x, y), color, count);
    }
    // One pixel, skipped outside the area.
    void Plot(std::int64_t x, std::int64_t y) const {
        if (x >= area.left && x < area.right && y >= area.top && y < area.bottom) {
            K::template Apply<false>(context, color, 0, 0, At(x, y));
        }
    }
    // The span from..to of a filled shape: only the first span that reaches a row is written,
    // clamped to the area.
    void Span(std::int64_t y, std::int64_t from, std::int64_t to) const {
        if (y < area.top || y >= area.bottom || rowFlags[y] != 0) return;
        if (to < area.left || from > area.right - 1) return;
        from = std::max<std::int64_t>(from, area.left);
        to = std::min<std::int64_t>(to, area.right - 1);
        rowFlags[y] = 1;
        if (from <= to) Run(y, from, static_cast<int>(to - from + 1));
    }
};

// Runs body(painter) with the painter of the destination, colour and current drawing state; draws
// nothing for a destination with palette or alpha, a colour type other than 0 and 1, a blend mode
// without rules or a parameter that draws nothing.
template <class Body>
void WithPainter(MEMIMG* dest, std::uint32_t color, std::uint8_t* rowFlags, Body&& body) {
    const MemImgShared* ds = dest->Shared;
    // Palette and alpha images have pixels of another size than their colour type.
    if (ds->UsePalette != 0 || ds->UseAlpha != 0 || ds->ColorType > 1) return;
    Op op;
    if (!memimg::SelectMemImgOp(MemImgDrawState.BlendMode, MemImgDrawState.BlendParam, &op)) {
        return;
    }
    const std::uint32_t tinted = TintShapeColor(ds->ColorType, color, MemImgDrawState.DrawBright);
    memimg::WithColorKernel(static_cast<int>(ds->ColorType), op, [&]<class K>() {
        Painter<K> painter;
        memimg::SetupMemImgPixelContext(nullptr, &painter.context);
        painter.pixels = dest->Pixels;
        painter.pitch = ds->Pitch;
        painter.color = static_cast<typename K::Dst>(tinted);
        painter.area = memimg::MemImgDrawBounds(dest);
        painter.rowFlags = rowFlags;
        body(painter);
    });
}

// The row flags of a filled shape: one zeroed byte per row above the bottom of the draw bounds.
class RowFlags {
  public:
    RowFlags(const MEMIMG* dest, int line) {
        const LONG rows = memimg::MemImgDrawBounds(dest).bottom;
        if (rows > 0) {
            flags_ = static_cast<std::uint8_t*>(
                AllocateTrackedMemoryZeroed(static_cast<std::size_t>(rows), kAllocTag, line));
        }
    }
    ~RowFlags() { FreeTrackedMemory(flags_); }
    RowFlags(const RowFlags&) = delete;
    RowFlags& operator=(const RowFlags&) = delete;
    std::uint8_t* get() const { return flags_; }

  private:
    std::uint8_t* flags_ = nullptr;
};

// Whether the box of columns left..right and rows top..bottom (inclusive) meets the draw bounds.
bool MeetsDrawBounds(const MEMIMG* dest, std::int64_t left, std::int64_t top, std::int64_t right,
                     std::int64_t bottom) {
    const RECT a = memimg::MemImgDrawBounds(dest);
    return right >= a.left && left < a.right && bottom >= a.top && top < a.bottom;
}

// Bresenham's circle: px from 0 up, py from the radius down, decision value 3 - 2r. visit(px, py,
// d) is called for every point before the step.
template <class Visit>
void WalkCircle(std::int64_t radius, Visit&& visit) {
    std::int64_t px = 0;
    std::int64_t py = radius;
    std::int64_t d = 3 - 2 * radius;
    do {
        visit(px, py, d);
        if (d < 0) {
            d += 4 * px + 6;
        } else {
            d += 4 * (px - py) + 10;
            --py;
        }
        ++px;
    } while (px <= py);
}

// The ellipse walk: the circle of the major radius traced with its minor offset advanced only
// when the accumulator passes the threshold, which squeezes it to the minor radius.
struct OvalWalk {
    std::int64_t major;  // M: offset along the major axis, from the major radius down to 0
    std::int64_t minor;  // m: offset along the minor axis, from 0 up to the minor radius
    std::int64_t d;
    std::int64_t e;
    std::int64_t acc = 0;
    std::int64_t increment;  // the minor radius
    std::int64_t threshold;  // floor(major radius^2 / minor radius), in 64 bits

    OvalWalk(std::int64_t majorRadius, std::int64_t minorRadius)
        : major(majorRadius),
          minor(0),
          d(3 - 2 * majorRadius),
          e(3 - 4 * majorRadius),
          increment(minorRadius),
          threshold(majorRadius * majorRadius / minorRadius) {}

    void Accumulate() {
        acc += increment;
        if (acc >= threshold) {
            acc -= threshold;
            ++minor;
        }
    }
    void Step() {
        if (d < 0) {
            Accumulate();
            d += 4 * minor + 2;
            e += 4 * minor;
            return;
        }
        --major;
        if (e >= 0) {
            d -= 4 * major;
            e += 2 - 4 * major;
        } else {
            Accumulate();
            const std::int64_t t = minor - major;
            d += 4 * t + 2;
            e += 4 * t + 2;
        }
    }
};

template <class P>
void OvalOutline(const P& p, std::int64_t x, std::int64_t y, std::int64_t a, std::int64_t b,
                 std::int64_t w, std::int64_t h) {
    if (a >= b) {
        OvalWalk walk(a, b);
        if (h == 0) {
            p.Plot(x - a, y);
            p.Plot(x - w + a, y);
        }
        for (;;) {
            const std::int64_t M0 = walk.major, m0 = walk.minor;
            walk.Step();
            const std::int64_t M = walk.major, m = walk.minor;
            if (M <= 0) break;
            if (M != M0 || m != m0) {
                p.Plot(x - M, y - h + m);
                p.Plot(x - w + M, y - h + m);
                p.Plot(x - M, y - m);
                p.Plot(x - w + M, y - m);
            }
        }
        if (w == 0) {
            p.Plot(x, y - b);
            p.Plot(x, y - h + b);
        }
    } else {
        OvalWalk walk(b, a);
        if (h == 0) {
            p.Plot(x, y - b);
            p.Plot(x, y + b);
        }
        for (;;) {
            const std::int64_t M0 = walk.major, m0 = walk.minor;
            walk.Step();
            const std::int64_t M = walk.major, m = walk.minor;
            if (M <= 0) break;
            if (M != M0 || m != m0) {
                p.Plot(x - w + m, y - M);
                p.Plot(x - w + m, y - h + M);
                p.Plot(x - m, y - M);
                p.Plot(x - m, y - h + M);
            }
        }
        if (w == 0) {
            p.Plot(x - a, y);
            p.Plot(x + a, y);
        }
    }
}

template <class P>
void OvalFill(const P& p, std::int64_t x, std::int64_t y, std::int64_t a, std::int64_t b,
              std::int64_t w, std::int64_t h) {
    if (a >= b) {
        OvalWalk walk(a, b);
        if (h == 0) p.Span(y, x - a, x - w + a);
        for (;;) {
            const std::int64_t m0 = walk.minor;
            walk.Step();
            const std::int64_t M = walk.major, m = walk.minor;
            if (M < 0) break;
            if (m != m0) {
                p.Span(y - h + m, x - M, x - w + M);
                p.Span(y - m, x - M, x - w + M);
            }
        }
    } else {
        OvalWalk walk(b, a);
        while (walk.major >= 0) {
            if (walk.d >= 0) {
                const std::int64_t M = walk.major, m = walk.minor;
                p.Span(y - M, x - m, x - w + m);
                p.Span(y - h + M, x - m, x - w + m);
            }
            walk.Step();
        }
    }
}

}  // namespace

void FillMemImgBox(MEMIMG* dest, const RECT* rect, std::uint32_t color) {
    RECT r{0, 0, dest->Width, dest->Height};
    if (rect != nullptr) {
        r = RECT{std::min(rect->left, rect->right), std::min(rect->top, rect->bottom),
                 std::max(rect->left, rect->right), std::max(rect->top, rect->bottom)};
    }
    const RECT bounds = memimg::MemImgDrawBounds(dest);
    ClipRectangle(&r, &bounds);
    if (r.right <= r.left || r.bottom <= r.top) return;
    WithPainter(dest, color, nullptr, [&](const auto& p) {
        for (LONG y = r.top; y < r.bottom; ++y) p.Run(y, r.left, r.right - r.left);
    });
}

void DrawMemImgLine(MEMIMG* dest, int x1, int y1, int x2, int y2, std::uint32_t color) {
    const RECT area = memimg::MemImgDrawBounds(dest);
    const std::int64_t L = area.left, T = area.top, R = area.right, B = area.bottom;
    if (std::min(y1, y2) >= B || std::min(x1, x2) >= R || std::max(y1, y2) < T ||
        std::max(x1, x2) < L) {
        return;
    }
    // The line's equations, always from the end points as given.
    const double m = x1 == x2 ? 0.0 : (double{1} * y2 - y1) / (double{1} * x2 - x1);
    const double n = y1 == y2 ? 0.0 : (double{1} * x2 - x1) / (double{1} * y2 - y1);
    const double cy = y1 - x1 * m;
    const double cx = x1 - y1 * n;
    auto yAt = [&](std::int64_t x) -> std::int64_t {
        return memimg::TruncateToInt32(static_cast<double>(x) * m + cy);
    };
    auto xAt = [&](std::int64_t y) -> std::int64_t {
        return memimg::TruncateToInt32(static_cast<double>(y) * n + cx);
    };
    // An end point left or right of the area moves onto the side's column (low or high), one
    // above or below the area onto the edge's row; the start stays inside, the excluded end
    // just outside.
    auto toSide = [&](std::int64_t& px, std::int64_t& py, std::int64_t low, std::int64_t high) {
        if (px < L) {
            px = low;
            py = yAt(low);
        } else if (px >= R) {
            px = high;
            py = yAt(high);
        }
    };
    auto toEdge = [&](std::int64_t& px, std::int64_t& py, std::int64_t low, std::int64_t high) {
        if (py < T) {
            py = low;
            px = xAt(low);
        } else if (py >= B) {
            py = high;
            px = xAt(high);
        }
    };
    std::int64_t sx = x1, sy = y1, ex = x2, ey = y2;
    toSide(sx, sy, L, R - 1);
    toSide(ex, ey, L - 1, R);
    toEdge(sx, sy, T, B - 1);
    toEdge(ex, ey, T - 1, B);
    sx = std::clamp(sx, L, R - 1);
    ex = ex < L ? L - 1 : ex >= R ? R : ex;
    sy = std::clamp(sy, T, B - 1);
    ey = ey < T ? T - 1 : ey >= B ? B : ey;

    std::int64_t dx = ex - sx;
    std::int64_t dy = ey - sy;
    if (dx == 0 && dy == 0) return;
    const std::int64_t stepX = dx < 0 ? -1 : 1;
    const std::int64_t stepY = dy < 0 ? -1 : 1;
    dx = dx < 0 ? -dx : dx;
    dy = dy < 0 ? -dy : dy;
    // Steps along the longer axis; the other coordinate moves when the error passes its length.
    const bool xMajor = dx >= dy;
    const std::int64_t length = xMajor ? dx : dy;
    const std::int64_t rise = xMajor ? dy : dx;
    WithPainter(dest, color, nullptr, [&](const auto& p) {
        std::int64_t x = sx, y = sy;
        std::int64_t& major = xMajor ? x : y;
        std::int64_t& minor = xMajor ? y : x;
        const std::int64_t majorStep = xMajor ? stepX : stepY;
        const std::int64_t minorStep = xMajor ? stepY : stepX;
        std::int64_t e = length / 2;
        for (std::int64_t i = 0; i < length; ++i) {
            p.Plot(x, y);
            e += rise;
            major += majorStep;
            if (e >= length) {
                minor += minorStep;
                e -= length;
            }
        }
    });
}

void DrawMemImgLines(MEMIMG* dest, const MemImgLineRecord* lines, int count) {
    for (int i = 0; i < count; ++i) {
        DrawMemImgLine(dest, lines[i].x1, lines[i].y1, lines[i].x2, lines[i].y2, lines[i].color);
    }
}

void DrawMemImgCircle(MEMIMG* dest, int x, int y, int radius, std::uint32_t color, int fillFlag,
                      int evenWidth, int evenHeight) {
    if (radius < 0) return;
    const std::int64_t w = evenWidth != 0 ? 1 : 0;
    const std::int64_t h = evenHeight != 0 ? 1 : 0;
    const std::int64_t cx = x, cy = y, r = radius;
    if (!MeetsDrawBounds(dest, cx - r, cy - r, cx - w + r, cy - h + r)) return;
    if (fillFlag != 0) {
        RowFlags rows(dest, kCircleRowsLine);
        if (rows.get() == nullptr) return;
        WithPainter(dest, color, rows.get(), [&](const auto& p) {
            WalkCircle(r, [&](std::int64_t px, std::int64_t py, std::int64_t d) {
                if (px == 0) {
                    if (h == 0) p.Span(cy, cx - py, cx - w + py);
                } else {
                    p.Span(cy - h + px, cx - py, cx - w + py);
                    p.Span(cy - px, cx - py, cx - w + py);
                }
                if (d >= 0) {
                    p.Span(cy - h + py, cx - px, cx - w + px);
                    p.Span(cy - py, cx - px, cx - w + px);
                }
            });
        });
        return;
    }
    WithPainter(dest, color, nullptr, [&](const auto& p) {
        WalkCircle(r, [&](std::int64_t px, std::int64_t py, std::int64_t) {
            if (px == 0) {
                if (h == 0) {
                    p.Plot(cx - py, cy);
                    p.Plot(cx - w + py, cy);
                }
                if (w == 0) {
                    p.Plot(cx, cy - h + py);
                    p.Plot(cx, cy - py);
                }
                return;
            }
            p.Plot(cx - py, cy - h + px);
            p.Plot(cx - w + py, cy - h + px);
            p.Plot(cx - py, cy - px);
            p.Plot(cx - w + py, cy - px);
            p.Plot(cx - px, cy - h + py);
            p.Plot(cx - w + px, cy - h + py);
            p.Plot(cx - px, cy - py);
            p.Plot(cx - w + px, cy - py);
        });
    });
}

void DrawMemImgOval(MEMIMG* dest, int x, int y, int radiusX, int radiusY, std::uint32_t color,
                    int fillFlag, int evenWidth, int evenHeight) {
    if (radiusX == 0 || radiusY == 0) return;
    const std::int64_t a = radiusX < 0 ? -std::int64_t{radiusX} : radiusX;
    const std::int64_t b = radiusY < 0 ? -std::int64_t{radiusY} : radiusY;
    const std::int64_t w = evenWidth != 0 ? 1 : 0;
    const std::int64_t h = evenHeight != 0 ? 1 : 0;
    // The walk ends with the minor offset at the minor radius; one more pixel of margin keeps
    // the test safe.
    if (!MeetsDrawBounds(dest, x - a - 1, y - b - 1, x + a + 1, y + b + 1)) return;
    if (fillFlag != 0) {
        RowFlags rows(dest, kOvalRowsLine);
        if (rows.get() == nullptr) return;
        WithPainter(dest, color, rows.get(), [&](const auto& p) { OvalFill(p, x, y, a, b, w, h); });
        return;
    }
    WithPainter(dest, color, nullptr, [&](const auto& p) { OvalOutline(p, x, y, a, b, w, h); });
}

void DrawMemImgToCorners(MEMIMG* dest, const MEMIMG* source, const MemImgPoint* corners,
                         int transFlag, const MEMIMG* blendImage) {
    MemImgPoint c[4];
    std::copy(corners, corners + 4, c);
    std::int64_t minX = c[0].x, maxX = c[0].x, minY = c[0].y, maxY = c[0].y;
    for (const MemImgPoint& p : c) {
        minX = std::min<std::int64_t>(minX, p.x);
        maxX = std::max<std::int64_t>(maxX, p.x);
        minY = std::min<std::int64_t>(minY, p.y);
        maxY = std::max<std::int64_t>(maxY, p.y);
    }
    // Quadrilaterals whose widened box misses the draw area are not handed on.
    const RECT& area = MemImgDrawState.DrawArea;
    const std::int64_t left = std::clamp<std::int64_t>(minX - 2, area.left, area.right);
    const std::int64_t right = std::clamp<std::int64_t>(maxX + 4, area.left, area.right);
    const std::int64_t top = std::clamp<std::int64_t>(minY - 2, area.top, area.bottom);
    const std::int64_t bottom = std::clamp<std::int64_t>(maxY + 4, area.top, area.bottom);
    if (left == right || top == bottom) return;

    const std::int32_t W = source->Width;
    const std::int32_t H = source->Height;
    const MemImgTriangleVertex first[3] = {
        {c[0].x, c[0].y, 0, 0}, {c[1].x, c[1].y, W, 0}, {c[2].x, c[2].y, 0, H}};
    const MemImgTriangleVertex second[3] = {
        {c[1].x, c[1].y, W, 0}, {c[2].x, c[2].y, 0, H}, {c[3].x, c[3].y, W, H}};
    DrawMemImgTriangle(dest, source, first, transFlag, blendImage, 0);
    DrawMemImgTriangle(dest, source, second, transFlag, blendImage, 0);
}

}  // namespace ZiDaz
