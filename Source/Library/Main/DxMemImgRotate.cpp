// The rotated transfer: a whole memory image turned about a centre and scaled, drawn by walking
// every destination pixel the turned image can touch and sampling the source at the nearest
// pixel. Mirrored draws go to the four-corner transfer.
#include "Main/DxMemImgRotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Main/DxBaseFunc.h"
#include "Main/DxMemImg.h"
#include "Main/DxMemImgBlend.h"
#include "Main/DxMemImgRows.h"

namespace ZiDaz {

// Addresses of the source's and the blend image's rows, refilled by every draw that walks.
const std::uint8_t* RotateSourceRowTable[memimg::kRotateRowTableSize];
const std::uint8_t* RotateBlendRowTable[memimg::kRotateRowTableSize];

namespace memimg {

namespace {

// Two's-complement wrap to 32 bits, the width in which the fixed-point arithmetic runs.
constexpr std::int32_t Wrap(std::int64_t v) {
    return static_cast<std::int32_t>(v);
}

struct RotateCall {
    std::uint8_t* dst;  // first pixel of the walked rectangle
    std::ptrdiff_t dstPitch;
    int cols;
    int rows;
    RotatedSteps steps;
    std::uint64_t uLimit;  // source width and height in 14.18
    std::uint64_t vLimit;
    bool spans;  // rows may be cut to their covered span up front
    PixelContext context;
};

template <class K>
struct RotateWalker {
    using Dst = typename K::Dst;
    // Alpha sprites drawn over with transparency, and plain images mixed by a constant, have a
    // wide row loop of their own.
    static constexpr bool kGathers =
        RowLoopOf<K>() == RowLoop::kAlphaOver || RowLoopOf<K>() == RowLoop::kConstantMix;

    static inline void Sample(const PixelContext& c, std::uint32_t u, std::uint32_t v, Dst* d) {
        const std::uint32_t col = u >> 18;
        const std::uint32_t row = v >> 18;
        K::Pixel(c, RotateSourceRowTable[row] + col * K::kSrcBytes,
                 K::kBlend ? RotateBlendRowTable[row] + col : nullptr, d);
    }

    static void Run(const RotateCall& call) {
        const RotatedSteps& st = call.steps;
        const std::uint32_t duX = static_cast<std::uint32_t>(st.duX);
        const std::uint32_t dvX = static_cast<std::uint32_t>(st.dvX);
        std::uint8_t* line = call.dst;
        std::uint32_t uRow = static_cast<std::uint32_t>(st.uTop);
        std::uint32_t vRow = static_cast<std::uint32_t>(st.vTop);
        for (int r = 0; r < call.rows; ++r) {
            Dst* d = reinterpret_cast<Dst*>(line);
            const std::int64_t u0 = static_cast<std::int32_t>(uRow);
            const std::int64_t v0 = static_cast<std::int32_t>(vRow);
            const std::int64_t last = call.cols - 1;
            const std::int64_t uEnd = u0 + last * st.duX;
            const std::int64_t vEnd = v0 + last * st.dvX;
            if (call.spans && uEnd == Wrap(uEnd) && vEnd == Wrap(vEnd)) {
                // No position of the row wraps, so the covered pixels are one run, found up
                // front; inside it every position passes the bounds test.
                std::int64_t lo = 0, hi = last;
                ClampRotatedSpan(u0, st.duX, static_cast<std::int64_t>(call.uLimit), &lo, &hi);
                ClampRotatedSpan(v0, st.dvX, static_cast<std::int64_t>(call.vLimit), &lo, &hi);
                std::uint32_t u = static_cast<std::uint32_t>(u0 + lo * st.duX);
                std::uint32_t v = static_cast<std::uint32_t>(v0 + lo * st.dvX);
                if constexpr (kGathers) {
                    // Source pixels gathered into a run go through the wide row loop.
                    constexpr int kChunk = 256;
                    alignas(16) std::uint8_t run[kChunk * K::kSrcBytes];
                    for (std::int64_t i = lo; i <= hi; i += kChunk) {
                        const int n = static_cast<int>(std::min<std::int64_t>(kChunk, hi + 1 - i));
                        for (int j = 0; j < n; ++j) {
                            std::memcpy(run + j * K::kSrcBytes,
                                        RotateSourceRowTable[v >> 18] + (u >> 18) * K::kSrcBytes,
                                        K::kSrcBytes);
                            u += duX;
                            v += dvX;
                        }
                        RunRow<K>(call.context, d + i, run, nullptr, n);
                    }
                } else {
                    for (std::int64_t i = lo; i <= hi; ++i) {
                        Sample(call.context, u, v, d + i);
                        u += duX;
                        v += dvX;
                    }
                }
            } else {
                std::uint32_t u = uRow;
                std::uint32_t v = vRow;
                for (int i = 0; i < call.cols; ++i) {
                    if (u < call.uLimit && v < call.vLimit) Sample(call.context, u, v, d + i);
                    u += duX;
                    v += dvX;
                }
            }
            uRow += static_cast<std::uint32_t>(st.duRow);
            vRow += static_cast<std::uint32_t>(st.dvRow);
            line += call.dstPitch;
        }
    }
};

constexpr auto kRotateVariants = MakeVariantTable<RotateWalker, kRotatedTransferRules>();

// floor(a / b) and ceil(a / b) for b > 0.
constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}
constexpr std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return -FloorDiv(-a, b);
}

}  // namespace

void ClampRotatedSpan(std::int64_t start, std::int64_t step, std::int64_t limit, std::int64_t* lo,
                      std::int64_t* hi) {
    if (step == 0) {
        if (start < 0 || start >= limit) *hi = *lo - 1;
    } else if (step > 0) {
        *lo = std::max(*lo, CeilDiv(-start, step));
        *hi = std::min(*hi, FloorDiv(limit - 1 - start, step));
    } else {
        *lo = std::max(*lo, CeilDiv(start - limit + 1, -step));
        *hi = std::min(*hi, FloorDiv(start, -step));
    }
}

std::int32_t TruncateFloatToInt32(float x) {
    if (!(x >= -2147483648.0f && x < 2147483648.0f)) return INT32_MIN;
    return static_cast<std::int32_t>(x);
}

RotatedFrame ComputeRotatedFrame(std::uint32_t width, std::uint32_t height, std::int32_t centerX,
                                 std::int32_t centerY, float angle, float xScale, float yScale) {
    constexpr float kOne = static_cast<float>(kRotateOne);
    RotatedFrame f;
    float s, c;
    SinCosFloat(-angle, &s, &c);
    f.sinN = TruncateFloatToInt32(s * kOne);
    f.cosN = TruncateFloatToInt32(c * kOne);
    SinCosFloat(angle, &s, &c);
    f.sinA = TruncateFloatToInt32(s * kOne);
    f.cosA = TruncateFloatToInt32(c * kOne);

    const float hw = static_cast<float>(width) * xScale * 0.5f;
    const float hh = static_cast<float>(height) * yScale * 0.5f;
    const float ca = static_cast<float>(f.cosA);
    const float sa = static_cast<float>(f.sinA);
    const std::int64_t kx = TruncateFloatToInt32(ca * hw - sa * hh);
    const std::int64_t ky = TruncateFloatToInt32(ca * hh + sa * hw);
    const std::int64_t jx = TruncateFloatToInt32(ca * hw + sa * hh);
    const std::int64_t jy = TruncateFloatToInt32(ca * hh - sa * hw);
    const std::int64_t X = Wrap(std::int64_t{centerX} * kRotateOne);
    const std::int64_t Y = Wrap(std::int64_t{centerY} * kRotateOne);
    f.x[kTopLeft] = Wrap(X - kx);
    f.y[kTopLeft] = Wrap(Y - ky);
    f.x[kTopRight] = Wrap(X + jx);
    f.y[kTopRight] = Wrap(Y - jy);
    f.x[kBottomLeft] = Wrap(X - jx);
    f.y[kBottomLeft] = Wrap(Y + jy);
    f.x[kBottomRight] = Wrap(X + kx);
    f.y[kBottomRight] = Wrap(Y + ky);
    return f;
}

RECT RotatedWalkBox(const RotatedFrame& frame) {
    const std::int32_t minX =
        std::min(std::min(frame.x[0], frame.x[1]), std::min(frame.x[2], frame.x[3]));
    const std::int32_t maxX =
        std::max(std::max(frame.x[0], frame.x[1]), std::max(frame.x[2], frame.x[3]));
    const std::int32_t minY =
        std::min(std::min(frame.y[0], frame.y[1]), std::min(frame.y[2], frame.y[3]));
    const std::int32_t maxY =
        std::max(std::max(frame.y[0], frame.y[1]), std::max(frame.y[2], frame.y[3]));
    return RECT{minX / kRotateOne - 2, minY / kRotateOne - 2, maxX / kRotateOne + 4,
                maxY / kRotateOne + 4};
}

void RotatedTurnedPoints(const RotatedFrame& frame, bool turnX, bool turnY, MemImgPoint points[4]) {
    // Mirroring left to right swaps the left and right corners, top to bottom the top and bottom
    // ones: bit 0 of a corner's index is its side, bit 1 its end.
    const int flip = (turnX ? 1 : 0) | (turnY ? 2 : 0);
    for (int i = 0; i < 4; ++i) {
        points[i].x = frame.x[i ^ flip] / kRotateOne;
        points[i].y = frame.y[i ^ flip] / kRotateOne;
    }
}

RotatedSteps ComputeRotatedSteps(const RotatedFrame& frame, const RECT& rect, std::uint32_t width,
                                 std::uint32_t height, std::int32_t centerX, std::int32_t centerY,
                                 float xScale, float yScale) {
    RotatedSteps st;
    st.duX = TruncateFloatToInt32(static_cast<float>(frame.cosA) / xScale);
    st.dvX = TruncateFloatToInt32(static_cast<float>(frame.sinN) / yScale);
    const std::int64_t dx0 = Wrap(std::int64_t{rect.left} - centerX);
    const std::int64_t uCentre = Wrap(std::int64_t{width >> 1} * kRotateOne);
    const std::int64_t vCentre = Wrap(std::int64_t{height >> 1} * kRotateOne);
    auto u = [&](std::int64_t dy) {
        const float p = static_cast<float>(Wrap(dx0 * frame.cosN - dy * frame.sinN));
        return Wrap(TruncateFloatToInt32(p / xScale) + uCentre);
    };
    auto v = [&](std::int64_t dy) {
        const float p = static_cast<float>(Wrap(dy * frame.cosN + dx0 * frame.sinN));
        return Wrap(TruncateFloatToInt32(p / yScale) + vCentre);
    };
    const std::int64_t dy0 = Wrap(std::int64_t{rect.top} - centerY);
    const std::int64_t dyB = Wrap(std::int64_t{rect.bottom} - centerY);
    const std::int32_t rows = rect.bottom - rect.top;
    st.uTop = u(dy0);
    st.vTop = v(dy0);
    st.duRow = Wrap(std::int64_t{u(dyB)} - st.uTop) / rows;
    st.dvRow = Wrap(std::int64_t{v(dyB)} - st.vTop) / rows;
    return st;
}

}  // namespace memimg

void DrawMemImgRotated(MEMIMG* dest, const MEMIMG* source, int centerX, int centerY, float angle,
                       float xScale, float yScale, int transFlag, int turnX, int turnY,
                       const MEMIMG* blendImage) {
    using namespace memimg;
    const MemImgShared* ds = dest->Shared;
    const MemImgShared* ss = source->Shared;
    if (ss->ColorType != ds->ColorType || ds->UsePalette != 0 || ds->UseAlpha != 0) return;
    const bool key = transFlag != 0 && ss->UseTransColor != 0;
    // The row tables hold 4096 rows, a zero scale has no inverse, and a blend image is read at
    // the source's positions.
    if (source->Width < 1 || source->Height < 1 || source->Height > kRotateRowTableSize) return;
    if (xScale == 0.0f || yScale == 0.0f || !std::isfinite(xScale) || !std::isfinite(yScale)) {
        return;
    }
    if (blendImage != nullptr &&
        (blendImage->Width < source->Width || blendImage->Height < source->Height)) {
        return;
    }
    const std::uint32_t width = static_cast<std::uint32_t>(source->Width);
    const std::uint32_t height = static_cast<std::uint32_t>(source->Height);
    const RotatedFrame frame =
        ComputeRotatedFrame(width, height, centerX, centerY, angle, xScale, yScale);

    if (turnX != 0 || turnY != 0) {
        MemImgPoint points[4];
        RotatedTurnedPoints(frame, turnX != 0, turnY != 0, points);
        DrawMemImgToCorners(dest, source, points, key ? 1 : 0, blendImage);
        return;
    }

    RECT rect = RotatedWalkBox(frame);
    ClipRectangle(&rect, &MemImgDrawState.DrawArea);
    if (rect.left == rect.right || rect.top == rect.bottom) return;

    for (std::uint32_t r = 0; r < height; ++r) {
        RotateSourceRowTable[r] = source->Pixels + static_cast<std::ptrdiff_t>(r) * ss->Pitch;
    }
    if (blendImage != nullptr) {
        const std::ptrdiff_t pitch = blendImage->Shared->Pitch;
        for (std::uint32_t r = 0; r < height; ++r) {
            RotateBlendRowTable[r] = blendImage->Pixels + static_cast<std::ptrdiff_t>(r) * pitch;
        }
    }

    int index;
    RotateCall call;
    if (!SelectMemImgVariant(ss, key, blendImage != nullptr, &index, &call.context)) return;
    call.cols = rect.right - rect.left;
    call.rows = rect.bottom - rect.top;
    call.steps = ComputeRotatedSteps(frame, rect, width, height, centerX, centerY, xScale, yScale);
    call.uLimit = std::uint64_t{width} << 18;
    call.vLimit = std::uint64_t{height} << 18;
    // With both limits below 2^31, a position inside them never reads as negative, so the test
    // on exact positions equals the unsigned test.
    call.spans = call.uLimit <= 0x80000000u;
    call.dst = dest->Pixels + static_cast<std::ptrdiff_t>(rect.top) * ds->Pitch +
               static_cast<std::ptrdiff_t>(rect.left) * MemImgBytesPerPixel(ds);
    call.dstPitch = ds->Pitch;
    kRotateVariants[index](call);
}

}  // namespace ZiDaz
