// The shape drawing operations: boxes, lines of any thickness, circles and ovals (filled, outlined
// or thick), triangles and caller-made 2D vertices. Each runs the common frame around one device
// dispatch or a few calls into the software renderer; thick rings are cut into row spans here.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "Main/DxBaseFunc.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsFrame.h"
#include "Main/DxGraphicsMovie.h"
#include "Main/DxMemImgRotate.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

using drawframe::DeviceInUse;
using drawframe::G;
using drawframe::RunFrameDraw;
using drawframe::Settings;

namespace {

constexpr const char* kSourceFile = "DxGraphics";

// The copy of caller vertices tinted by the brightness and the blend parameter.
VERTEX2D* gVertexCopy = nullptr;
int gVertexCopyCount = 0;

// Bounding coordinates near the int limits stay inside them.
LONG Bound(std::int64_t v) {
    return static_cast<LONG>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

MEMIMG* SoftDest() {
    return G().SoftwareDrawDestination;
}

// The shape steps of the frame, then the draw. Returns 0 under an empty draw area.
template <class Bounds, class Draw>
int ShapeFrame(Bounds bounds, Draw draw) {
    if (Settings().DrawingSuppressed) return 0;
    WaitWhileWindowInactive();
    return RunFrameDraw(DeviceInUse(), true, true, bounds, draw);
}

MemImgLineRecord LineRecord(int x1, int y1, int x2, int y2, std::uint32_t color) {
    return MemImgLineRecord{x1, y1, x2, y2, color, Settings().BlendParam};
}

void SoftwareFilledTriangle(int x1, int y1, int x2, int y2, int x3, int y3, std::uint32_t color) {
    const MemImgTriangleVertex v[3] = {{x1, y1, 0, 0}, {x2, y2, 0, 0}, {x3, y3, 0, 0}};
    DrawMemImgTriangle(SoftDest(), nullptr, v, 0, drawframe::SoftwareBlendImage(), color);
}

// ---- Span tables ----

// Rows of the table that may be written: inside the draw area.
bool RowInArea(std::int64_t row) {
    const RECT& a = Settings().DrawArea;
    return row >= a.top && row < a.bottom;
}

// Span ends are kept in 16 bits; ends beyond them stay beyond every target instead of wrapping.
std::int16_t Short(std::int64_t x) {
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(x, INT16_MIN, INT16_MAX));
}

void EnterOuter(ThickSpanRow* table, std::int64_t row, std::int64_t left, std::int64_t right) {
    if (!RowInArea(row)) return;
    ThickSpanRow& r = table[row];
    if (!(r.Flags & kSpanOuterLeft) || left < r.OuterLeft) {
        r.OuterLeft = Short(left);
        r.Flags |= kSpanOuterLeft;
    }
    if (!(r.Flags & kSpanOuterRight) || right > r.OuterRight) {
        r.OuterRight = Short(right);
        r.Flags |= kSpanOuterRight;
    }
}

void EnterInnerLeft(ThickSpanRow& r, std::int64_t x) {
    if (!(r.Flags & kSpanInnerLeft) || x > r.InnerLeft) {
        r.InnerLeft = Short(x);
        r.Flags |= kSpanInnerLeft;
    }
}

void EnterInnerRight(ThickSpanRow& r, std::int64_t x) {
    if (!(r.Flags & kSpanInnerRight) || x < r.InnerRight) {
        r.InnerRight = Short(x);
        r.Flags |= kSpanInnerRight;
    }
}

// A span of the inner oval: its left end keeps the largest, its right end the smallest value.
void EnterInner(ThickSpanRow* table, std::int64_t row, std::int64_t left, std::int64_t right) {
    if (!RowInArea(row)) return;
    EnterInnerLeft(table[row], left);
    EnterInnerRight(table[row], right);
}

// The midpoint circle walk, handing each of the eight points of every step to point(x, y).
template <class Point>
void WalkCircle(std::int64_t cx, std::int64_t cy, std::int64_t radius, Point point) {
    point(cx - radius, cy);
    point(cx + radius, cy);
    point(cx, cy - radius);
    point(cx, cy + radius);
    std::int64_t x = 0, y = radius, d = 3 - 2 * radius;
    while (x <= y) {
        const std::int64_t ix = x, iy = y;
        point(cx + ix, cy + iy);
        point(cx - ix, cy + iy);
        point(cx + ix, cy - iy);
        point(cx - ix, cy - iy);
        point(cx + iy, cy + ix);
        point(cx - iy, cy + ix);
        point(cx + iy, cy - ix);
        point(cx - iy, cy - ix);
        if (d < 0) {
            d += 4 * x + 6;
        } else {
            d += 4 * (x - y) + 10;
            --y;
        }
        ++x;
    }
}

// The integer ellipse walks. span(dy, halfWidth) enters rows cy - dy and cy + dy with the span
// cx - halfWidth .. cx + halfWidth; everyPass says that the wide walk enters a row at every pass
// (the inner oval).
template <class Span>
void WalkWideOval(std::int64_t X, std::int64_t Y, bool everyPass, Span span) {
    const std::int64_t m = X * X / Y;
    span(0, X);
    std::int64_t s = Y >= m ? 1 : 0;
    std::int64_t acc = Y < m ? Y : Y - m;
    std::int64_t p = 3 - 4 * X, q = 3 - 2 * X;
    bool entered;
    if (q < 0) {
        p += 4 * s;
        q = 4 * s - 2 * X + 5;
        entered = s == 1;
    } else {
        X -= 1;
        if (p < 0) {
            p += 4 * (s - X) + 2;
            q = 4 * (s - X) - 2 * X + 3;
        } else {
            s = 0;
            acc = 0;
            p = 9 - 8 * (X + 1);
            q = 7 - 6 * (X + 1);
        }
        entered = true;
    }
    std::int64_t dy = s;
    while (X > 0) {
        if (entered || everyPass) span(dy, X);
        std::int64_t nextAcc, nextDy;
        bool newRow;
        if (acc + Y < m) {
            nextAcc = acc + Y;
            nextDy = dy;
            newRow = false;
        } else {
            nextAcc = acc + Y - m;
            nextDy = dy + 1;
            newRow = true;
        }
        if (q < 0) {
            p += 4 * nextDy;
            q += 4 * nextDy + 2;
        } else {
            X -= 1;
            if (p < 0) {
                p += 4 * (nextDy - X) + 2;
                q += 4 * (nextDy - X) + 2;
            } else {
                nextDy = dy;
                nextAcc = acc;
                newRow = false;
                p += 6 - 4 * (X + 1);
                q -= 4 * X;
            }
        }
        dy = nextDy;
        acc = nextAcc;
        entered = newRow;
    }
    span(dy, X);
}

template <class Span>
void WalkTallOval(std::int64_t X, std::int64_t Y, Span span) {
    const std::int64_t m = Y * Y / X;
    std::int64_t acc = X < m ? X : X - m;
    std::int64_t s = X >= m ? 1 : 0;
    std::int64_t p = 3 - 4 * Y;
    std::int64_t i, k, q;
    if (3 - 2 * Y < 0) {
        i = Y;
        k = 4 * s;
        q = k - 2 * Y + 5;
    } else {
        i = Y - 1;
        if (p < 0) {
            k = 4 * (s + 1 - Y);
            p += 2;
            q = k - 2 * Y + 5;
        } else {
            k = 6 - 4 * Y;
            acc = 0;
            q = 7 - 6 * Y;
            s = 0;
        }
    }
    k += p;
    std::int64_t v = 4 * i;
    std::int64_t e = s;
    while (i >= 0) {
        std::int64_t nextAcc, nextE, step;
        if (acc + X < m) {
            nextAcc = acc + X;
            nextE = e;
        } else {
            nextAcc = acc + X - m;
            nextE = e + 1;
        }
        if (q < 0) {
            step = 4 * nextE;
            q += step + 2;
        } else {
            span(i, e);
            i -= 1;
            if (k < 0) {
                step = 4 * (nextE - i);
                k += 2;
                q += step + 2;
                v -= 4;
            } else {
                step = 6 - v;
                v -= 4;
                q -= v;
                nextAcc = acc;
                nextE = e;
            }
        }
        k += step;
        acc = nextAcc;
        e = nextE;
    }
}

template <class Span>
void WalkOval(std::int64_t X, std::int64_t Y, bool inner, Span span) {
    if (X >= Y)
        WalkWideOval(X, Y, inner, span);
    else
        WalkTallOval(X, Y, span);
}

// Draws the rows of a filled span table as horizontal segments.
void DrawSpanTable(const ThickSpanRow* table, std::uint32_t color) {
    MEMIMG* dest = SoftDest();
    const RECT& a = Settings().DrawArea;
    for (LONG row = a.top; row < a.bottom; ++row) {
        const ThickSpanRow& r = table[row];
        if (r.Flags == 0) continue;
        const int y = static_cast<int>(row);
        if ((r.Flags & (kSpanInnerLeft | kSpanInnerRight)) && r.InnerLeft < r.InnerRight) {
            DrawMemImgLine(dest, r.OuterLeft, y, r.InnerLeft + 1, y, color);
            DrawMemImgLine(dest, r.InnerRight, y, r.OuterRight + 1, y, color);
        } else {
            DrawMemImgLine(dest, r.OuterLeft, y, r.OuterRight + 1, y, color);
        }
    }
}

// The span table in the second work buffer, zeroed, for rows 0 up to the bottom of the draw area.
ThickSpanRow* PrepareSpanTable() {
    const LONG bottom = std::max<LONG>(Settings().DrawArea.bottom, 1);
    const std::size_t bytes = static_cast<std::size_t>(bottom) * sizeof(ThickSpanRow);
    if (EnsureGraphicsWorkBuffer(1, bytes) != 0) return nullptr;
    auto* table = static_cast<ThickSpanRow*>(G().WorkBuffers[1]);
    std::memset(table, 0, bytes);
    return table;
}

}  // namespace

int ComputeThickCircleSpans(int cx, int cy, int radius, int thickness, ThickSpanRow* table) {
    const std::int64_t outer = std::int64_t{radius} + thickness / 2;
    const std::int64_t inner = std::int64_t{radius} - thickness / 2 + (thickness % 2 == 0 ? 1 : 0);
    WalkCircle(cx, cy, outer,
               [&](std::int64_t x, std::int64_t row) { EnterOuter(table, row, x, x); });
    WalkCircle(cx, cy, inner, [&](std::int64_t x, std::int64_t row) {
        if (!RowInArea(row)) return;
        if (x <= cx) EnterInnerLeft(table[row], x);
        if (x >= cx) EnterInnerRight(table[row], x);
    });
    return 0;
}

int ComputeThickOvalSpans(int cx, int cy, int rx, int ry, int thickness, ThickSpanRow* table) {
    const int even = thickness % 2 == 0 ? 1 : 0;
    const std::int64_t ox = std::int64_t{rx} + thickness / 2, oy = std::int64_t{ry} + thickness / 2;
    const std::int64_t ix = std::int64_t{rx} - thickness / 2 + even;
    const std::int64_t iy = std::int64_t{ry} - thickness / 2 + even;
    if (ox <= 0 || oy <= 0 || ix <= 0 || iy <= 0) return -1;
    auto rows = [&](auto enter) {
        return [&, enter](std::int64_t dy, std::int64_t half) {
            const std::int64_t l = cx - half, r = cx + half;
            enter(table, cy - dy, l, r);
            if (dy != 0) enter(table, cy + dy, l, r);
        };
    };
    WalkOval(ox, oy, false, rows(EnterOuter));
    WalkOval(ix, iy, true, rows(EnterInner));
    return 0;
}

int PaintRectangle(int x1, int y1, int x2, int y2, std::uint32_t color, int fill) {
    return fill ? PaintFilledBox(x1, y1, x2, y2, color) : PaintBoxOutline(x1, y1, x2, y2, color);
}

int PaintFilledBox(int x1, int y1, int x2, int y2, std::uint32_t color) {
    return ShapeFrame(
        [&] {
            return RECT{x1, y1, x2, y2};
        },
        [&] {
            if (DeviceInUse()) return Backend_FillRectangle(x1, y1, x2, y2, color);
            const RECT r{x1, y1, x2, y2};
            if (SoftDest()) FillMemImgBox(SoftDest(), &r, color);
            return 0;
        });
}

int PaintBoxOutline(int x1, int y1, int x2, int y2, std::uint32_t color) {
    return ShapeFrame(
        [&] {
            return RECT{x1, y1, x2, y2};
        },
        [&] {
            if (DeviceInUse()) return Backend_OutlineRectangle(x1, y1, x2, y2, color);
            const MemImgLineRecord lines[4] = {LineRecord(x1, y1, x2 - 1, y1, color),
                                               LineRecord(x2 - 1, y1, x2 - 1, y2 - 1, color),
                                               LineRecord(x2 - 1, y2 - 1, x1, y2 - 1, color),
                                               LineRecord(x1, y2 - 1, x1, y1, color)};
            if (SoftDest()) DrawMemImgLines(SoftDest(), lines, 4);
            return 0;
        });
}

int PaintLine(int x1, int y1, int x2, int y2, std::uint32_t color, int thickness) {
    if (thickness > 1) return PaintThickLine(x1, y1, x2, y2, color, thickness);
    return ShapeFrame(
        [&] {
            const std::int64_t t = thickness;
            return RECT{Bound(std::min(x1, x2) - t), Bound(std::min(y1, y2) - t),
                        Bound(std::max(x1, x2) + t + 1), Bound(std::max(y1, y2) + t + 1)};
        },
        [&] {
            if (DeviceInUse()) return Backend_DrawLineSegment(x1, y1, x2, y2, color);
            if (SoftDest()) DrawMemImgLine(SoftDest(), x1, y1, x2, y2, color);
            return 0;
        });
}

int PaintThickLine(int x1, int y1, int x2, int y2, std::uint32_t color, int t) {
    if (t <= 1) return PaintLine(x1, y1, x2, y2, color, 1);
    if (t % 2 == 1) {
        const int h = t / 2;
        if (x1 == x2) return PaintFilledBox(x1 - h, y1, x1 + t - h, y2, color);
        if (y1 == y2) return PaintFilledBox(x1, y1 - h, x2, y1 + t - h, color);
    }
    // A line without length has no direction to widen it across.
    if (x1 == x2 && y1 == y2) return 0;
    WaitWhileWindowInactive();
    if (DeviceInUse()) Enter2DDrawMode();
    const float dx = static_cast<float>(std::int64_t{x2} - x1),
                dy = static_cast<float>(std::int64_t{y2} - y1);
    const float length = SqrtFloat(dx * dx + dy * dy);
    const float half = static_cast<float>(t) * 0.5f;
    const float nx = dy * half / length, ny = -dx * half / length;
    const float fx1 = static_cast<float>(x1), fy1 = static_cast<float>(y1);
    const float fx2 = static_cast<float>(x2), fy2 = static_cast<float>(y2);
    const float c[8] = {fx1 + nx, fy1 + ny, fx2 + nx, fy2 + ny,
                        fx2 - nx, fy2 - ny, fx1 - nx, fy1 - ny};
    int p[8];
    for (int i = 0; i < 8; ++i) p[i] = memimg::TruncateFloatToInt32(c[i]);
    // Under the mask layer a software draw lands in the layer's work image, so the line needs
    // the bracket like every other primitive or it would never reach the target.
    const bool masked = MaskLayerInUse();
    RECT r{};
    if (masked) {
        r = RECT{p[0], p[1], p[0], p[1]};
        for (int i = 0; i < 4; ++i) {
            r.left = std::min<LONG>(r.left, p[2 * i]);
            r.top = std::min<LONG>(r.top, p[2 * i + 1]);
            r.right = std::max<LONG>(r.right, p[2 * i]);
            r.bottom = std::max<LONG>(r.bottom, p[2 * i + 1]);
        }
        r.right = Bound(std::int64_t{r.right} + 1);
        r.bottom = Bound(std::int64_t{r.bottom} + 1);
        r = drawframe::ClampToDrawArea(r);
        BeginMaskedDraw(r);
    }
    int result = 0;
    if (DeviceInUse()) {
        result = Backend_DrawQuadShape(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], color, 1);
    } else if (SoftDest() != nullptr) {
        SoftwareFilledTriangle(p[0], p[1], p[2], p[3], p[6], p[7], color);
        SoftwareFilledTriangle(p[4], p[5], p[2], p[3], p[6], p[7], color);
    }
    if (masked) EndMaskedDraw(r);
    return result;
}

namespace {

// A thick ring drawn in software from its span table; -1 when the table cannot be made or the
// oval degenerates.
template <class Fill>
int DrawThickRing(std::uint32_t color, Fill fill) {
    if (SoftDest() == nullptr) return 0;
    ThickSpanRow* table = PrepareSpanTable();
    if (table == nullptr) return -1;
    if (fill(table) != 0) return -1;
    DrawSpanTable(table, color);
    return 0;
}

}  // namespace

int PaintCircle(int x, int y, int radius, std::uint32_t color, int fill, int thickness) {
    if (radius < 0) return 0;
    // A thick ring reaches half its thickness beyond the radius.
    const std::int64_t reach =
        std::int64_t{radius} + 1 + (thickness != 1 ? std::max(thickness, 0) / 2 : 0);
    return ShapeFrame(
        [&] {
            return RECT{Bound(x - reach), Bound(y - reach), Bound(x + reach), Bound(y + reach)};
        },
        [&] {
            if (thickness == 1) {
                if (DeviceInUse()) return Backend_DrawCircleShape(x, y, radius, color, fill, 0, 0);
                if (SoftDest()) DrawMemImgCircle(SoftDest(), x, y, radius, color, fill, 0, 0);
                return 0;
            }
            if (DeviceInUse()) return Backend_DrawThickCircle(x, y, radius, color, thickness);
            if (thickness < 1) return 0;
            return DrawThickRing(color, [&](ThickSpanRow* table) {
                return ComputeThickCircleSpans(x, y, radius, thickness, table);
            });
        });
}

int PaintOval(int x, int y, int rx, int ry, std::uint32_t color, int fill, int thickness) {
    if (rx <= 0 || ry <= 0) return 0;
    const std::int64_t grow = 1 + (thickness != 1 ? std::max(thickness, 0) / 2 : 0);
    const std::int64_t gx = rx + grow, gy = ry + grow;
    return ShapeFrame(
        [&] {
            return RECT{Bound(x - gx), Bound(y - gy), Bound(x + gx), Bound(y + gy)};
        },
        [&] {
            if (thickness == 1) {
                if (DeviceInUse()) return Backend_DrawEllipse(x, y, rx, ry, color, fill, 0, 0);
                if (SoftDest()) DrawMemImgOval(SoftDest(), x, y, rx, ry, color, fill, 0, 0);
                return 0;
            }
            if (DeviceInUse()) return Backend_DrawThickEllipse(x, y, rx, ry, color, thickness);
            if (thickness < 1) return 0;
            return DrawThickRing(color, [&](ThickSpanRow* table) {
                return ComputeThickOvalSpans(x, y, rx, ry, thickness, table);
            });
        });
}

int PaintTriangle(int x1, int y1, int x2, int y2, int x3, int y3, std::uint32_t color, int fill) {
    return ShapeFrame(
        [&] {
            RECT r{16777215, 16777215, 0, 0};
            for (auto [x, y] : {std::pair{x1, y1}, std::pair{x2, y2}, std::pair{x3, y3}}) {
                r.left = std::min<LONG>(r.left, x);
                r.top = std::min<LONG>(r.top, y);
                r.right = std::max<LONG>(r.right, x);
                r.bottom = std::max<LONG>(r.bottom, y);
            }
            return r;
        },
        [&] {
            if (DeviceInUse())
                return Backend_DrawTriangleShape(x1, y1, x2, y2, x3, y3, color, fill);
            if (SoftDest() == nullptr) return 0;
            if (fill) {
                SoftwareFilledTriangle(x1, y1, x2, y2, x3, y3, color);
            } else {
                const MemImgLineRecord lines[3] = {LineRecord(x1, y1, x2, y2, color),
                                                   LineRecord(x2, y2, x3, y3, color),
                                                   LineRecord(x3, y3, x1, y1, color)};
                DrawMemImgLines(SoftDest(), lines, 3);
            }
            return 0;
        });
}

int PaintUserVertices2D(const VERTEX2D* vertices, int count, int primitive, HandleValue graph,
                        int transparent) {
    WaitWhileWindowInactive();
    GraphHandleRecord* record = nullptr;
    bool device;
    if (graph == kUntexturedVertices) {
        device = DeviceInUse();
    } else {
        record = LookUpGraphRecord(graph, 0);
        if (record == nullptr || record->Image == nullptr) return -1;
        device = record->Image->Format.DeviceImage != 0;
        AdvanceGraphMovie(record);
    }
    if (vertices == nullptr || count <= 0) return 0;
    const DrawSettingsData& d = Settings();
    const bool tinted = !(d.BrightRed == 255 && d.BrightGreen == 255 && d.BrightBlue == 255);
    const bool faded = d.BlendMode != DX_BLEND_NONE && d.BlendParam != 255;
    const VERTEX2D* drawn = vertices;
    if (tinted || faded) {
        if (gVertexCopyCount < count) {
            FreeTrackedMemory(gVertexCopy);
            gVertexCopyCount = 0;
            gVertexCopy = static_cast<VERTEX2D*>(AllocateTrackedMemory(
                static_cast<std::size_t>(count) * sizeof(VERTEX2D), kSourceFile, __LINE__));
            if (gVertexCopy == nullptr) return -1;
            gVertexCopyCount = count;
        }
        const auto& mul = MemImgDrawState.MemImgScaleTable;
        for (int i = 0; i < count; ++i) {
            VERTEX2D v = vertices[i];
            v.b = static_cast<std::uint8_t>(mul[v.b][d.BrightBlue]);
            v.g = static_cast<std::uint8_t>(mul[v.g][d.BrightGreen]);
            v.r = static_cast<std::uint8_t>(mul[v.r][d.BrightRed]);
            if (d.BlendMode != DX_BLEND_NONE)
                v.a = static_cast<std::uint8_t>(mul[v.a][d.BlendParam]);
            gVertexCopy[i] = v;
        }
        drawn = gVertexCopy;
    }
    return RunFrameDraw(
        device, true, false, [&] { return Settings().DrawArea; },
        [&] {
            // The software renderer has no vertex path.
            if (!device) return 0;
            return Backend_DrawUserVertices2D(drawn, count, primitive, record, 0, transparent, 0, 0,
                                              0);
        });
}

void ReleaseDrawWorkBuffers() {
    FreeTrackedMemory(gVertexCopy);
    gVertexCopy = nullptr;
    gVertexCopyCount = 0;
}

}  // namespace ZiDaz
