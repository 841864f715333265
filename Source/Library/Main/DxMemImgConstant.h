// Drawing one constant colour with the transfers' pixel kernels: the shapes and the flat triangle
// fill treat their colour as a plain source that has that colour at every pixel, drawn without
// blend image, transparency or tint (each primitive tints its colour itself, once, beforehand).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "Main/DxMemImg.h"
#include "Main/DxMemImgBlend.h"

namespace ZiDaz::memimg {

template <int CT, Op M>
using ColorKernel = Kernel<CT, Kind::kPlain, M, false, true, false, kPlainTransferRules>;

// Calls f.template operator()<K>() with the colour kernel of colorType (0 or 1) and op.
template <class F>
inline void WithColorKernel(int colorType, Op op, F&& f) {
    auto forType = [&]<int CT>() {
        switch (op) {
            case Op::kNone:
                f.template operator()<ColorKernel<CT, Op::kNone>>();
                break;
            case Op::kAlpha:
                f.template operator()<ColorKernel<CT, Op::kAlpha>>();
                break;
            case Op::kAdd:
                f.template operator()<ColorKernel<CT, Op::kAdd>>();
                break;
            case Op::kSubtract:
                f.template operator()<ColorKernel<CT, Op::kSubtract>>();
                break;
            case Op::kMultiply:
                f.template operator()<ColorKernel<CT, Op::kMultiply>>();
                break;
            case Op::kInvertSource:
                f.template operator()<ColorKernel<CT, Op::kInvertSource>>();
                break;
            case Op::kMultiplyAlpha:
                f.template operator()<ColorKernel<CT, Op::kMultiplyAlpha>>();
                break;
        }
    };
    if (colorType == 0) {
        forType.template operator()<0>();
    } else {
        forType.template operator()<1>();
    }
}

// count pixels from d, each drawn with colour s.
template <class K>
inline void FillColorRun(const PixelContext& c, typename K::Dst* d, typename K::Dst s, int count) {
    if constexpr (K::kOp == Op::kNone) {
        std::fill_n(d, count, s);
    } else if constexpr (K::kOp == Op::kAlpha && K::kColorType == 1) {
        // floor((d * (256 - p) + s * p) / 256) per colour byte, red and blue in one product: each
        // byte's sum stays below 2^16 and cannot reach its neighbour.
        const std::uint32_t p = c.param;
        const std::uint32_t q = 256 - p;
        const std::uint32_t rb = (s & 0xFF00FFu) * p;
        const std::uint32_t g = (s & 0xFF00u) * p;
        for (int i = 0; i < count; ++i) {
            const std::uint32_t v = d[i];
            d[i] = (v & 0xFF000000u) | ((((v & 0xFF00FFu) * q + rb) >> 8) & 0xFF00FFu) |
                   ((((v & 0xFF00u) * q + g) >> 8) & 0xFF00u);
        }
    } else {
        for (int i = 0; i < count; ++i) K::template Apply<false>(c, s, 0, 0, d + i);
    }
}

// DrawArea narrowed to the destination's own size, so that no primitive writes outside it even
// when a caller leaves the draw area larger than the image.
inline RECT MemImgDrawBounds(const MEMIMG* dest) {
    const RECT& a = MemImgDrawState.DrawArea;
    RECT r{std::max<LONG>(a.left, 0), std::max<LONG>(a.top, 0),
           std::min<LONG>(a.right, dest->Width), std::min<LONG>(a.bottom, dest->Height)};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}

// Truncation toward zero of a double into a signed 32-bit integer; a value outside that range, or
// not a number, gives INT32_MIN (as the processor's own conversion does).
inline std::int32_t TruncateToInt32(double x) {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(x);
}

}  // namespace ZiDaz::memimg
