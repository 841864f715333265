// The triangle transfer: one triangle of a memory image mapped affinely onto another (nearest
// texel), or filled with one colour, in 14.18 fixed point with a clipped scanline walk.
#include <algorithm>
#include <cstdint>
#include <utility>

#include "Main/DxMemImg.h"
#include "Main/DxMemImgBlend.h"
#include "Main/DxMemImgConstant.h"

namespace ZiDaz {

namespace {

using memimg::Op;
using memimg::PixelContext;

// 14.18 fixed point: 1.0 is 1 << 18. All of its arithmetic wraps around in 32 bits.
constexpr int kFixedShift = 18;
constexpr std::int32_t kHalf = 1 << (kFixedShift - 1);

constexpr std::int32_t Add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
constexpr std::int32_t Sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
constexpr std::int32_t Mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
constexpr std::int32_t ToFixed(std::int32_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << kFixedShift);
}
// Integer part, truncated toward zero (one more than the floor for negative non-integers).
constexpr std::int32_t I(std::int32_t n) {
    return (n + (n < 0 ? (1 << kFixedShift) - 1 : 0)) >> kFixedShift;
}

// One straight piece of an edge.
struct Segment {
    std::int32_t startX;
    std::int32_t startY;
    std::int32_t slope;  // 14.18 per row
    std::int32_t rows;
};

// A piece from (x0, y0) to (x1, y1); false when it has no rows. The rows are never negative for
// coordinates in range; wrapped-around ones are refused, since the walk would never end.
bool MakeSegment(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, Segment* out) {
    const std::int32_t rows = I(Sub(y1, y0));
    if (rows <= 0) return false;
    out->startX = x0;
    out->startY = y0;
    out->rows = rows;
    // Divided in 64 bits: the only 32-bit quotient that overflows would trap.
    out->slope = static_cast<std::int32_t>(std::int64_t{Sub(x1, x0)} / rows);
    return true;
}

struct Edge {
    Segment first;
    Segment second;
    bool twoSegments;
};

// Everything the walk needs, fixed by the set-up.
struct Geometry {
    Edge left;
    Edge right;
    RECT clip;
    std::int32_t refX, refY, refU, refV;
    std::int32_t dudx, dudy, dvdx, dvdy;
};

bool SetUpTriangle(const MemImgTriangleVertex* vertices, Geometry* g) {
    std::int32_t X[3], Y[3], U[3], V[3];
    for (int i = 0; i < 3; ++i) {
        X[i] = Add(ToFixed(vertices[i].x), kHalf);
        Y[i] = Add(ToFixed(vertices[i].y), kHalf);
        U[i] = ToFixed(vertices[i].u);
        V[i] = ToFixed(vertices[i].v);
    }
    int ox[3] = {0, 1, 2};
    int oy[3] = {0, 1, 2};
    for (int i = 0; i < 3; ++i) {
        for (int j = i + 1; j < 3; ++j) {
            if (X[ox[i]] > X[ox[j]]) std::swap(ox[i], ox[j]);
            if (Y[oy[i]] > Y[oy[j]]) std::swap(oy[i], oy[j]);
        }
    }
    const int L = ox[0], Mx = ox[1], R = ox[2];
    const int T = oy[0], M = oy[1], B = oy[2];

    const std::int32_t dxR = I(Sub(X[R], X[L])), duR = I(Sub(U[R], U[L]));
    const std::int32_t dxM = I(Sub(X[Mx], X[L])), duM = I(Sub(U[Mx], U[L]));
    const std::int32_t dyR = I(Sub(Y[R], Y[L])), dvR = I(Sub(V[R], V[L]));
    const std::int32_t dyM = I(Sub(Y[Mx], Y[L])), dvM = I(Sub(V[Mx], V[L]));
    const std::int32_t area = Sub(Mul(dxR, dyM), Mul(dxM, dyR));
    if (area == 0) return false;
    auto gradient = [&](std::int32_t numerator) {
        return memimg::TruncateToInt32(static_cast<double>(numerator) * 262144.0 /
                                       static_cast<double>(area));
    };
    g->dudx = gradient(Sub(Mul(duR, dyM), Mul(duM, dyR)));
    g->dudy = gradient(Sub(Mul(duM, dxR), Mul(duR, dxM)));
    g->dvdx = gradient(Sub(Mul(dvR, dyM), Mul(dvM, dyR)));
    g->dvdy = gradient(Sub(Mul(dvM, dxR), Mul(dvR, dxM)));
    g->refX = I(X[L]);
    g->refY = I(Y[L]);
    g->refU = U[L];
    g->refV = V[L];

    Edge& le = g->left;
    Edge& re = g->right;
    le.twoSegments = re.twoSegments = false;
    if (Y[T] == Y[M]) {
        const int a = X[T] > X[M] ? M : T;
        const int b = a == M ? T : M;
        if (!MakeSegment(X[a], Y[a], X[B], Y[B], &le.first) ||
            !MakeSegment(X[b], Y[b], X[B], Y[B], &re.first)) {
            return false;
        }
    } else if (Y[M] == Y[B]) {
        const int a = X[M] > X[B] ? B : M;
        const int b = a == B ? M : B;
        if (!MakeSegment(X[T], Y[T], X[a], Y[a], &le.first) ||
            !MakeSegment(X[T], Y[T], X[b], Y[b], &re.first)) {
            return false;
        }
    } else {
        const double sM = static_cast<double>(Sub(X[M], X[T])) /
                          (static_cast<double>(Sub(Y[M], Y[T])) / 262144.0);
        const double sB = static_cast<double>(Sub(X[B], X[T])) /
                          (static_cast<double>(Sub(Y[B], Y[T])) / 262144.0);
        if (sB > sM) {  // middle vertex on the left
            le.twoSegments = true;
            if (!MakeSegment(X[T], Y[T], X[M], Y[M], &le.first) ||
                !MakeSegment(X[M], Y[M], X[B], Y[B], &le.second) ||
                !MakeSegment(X[T], Y[T], X[B], Y[B], &re.first)) {
                return false;
            }
        } else {  // middle vertex on the right: its second piece starts one unit right of it
            re.twoSegments = true;
            if (!MakeSegment(X[T], Y[T], X[B], Y[B], &le.first) ||
                !MakeSegment(X[T], Y[T], X[M], Y[M], &re.first) ||
                !MakeSegment(Add(X[M], 1), Y[M], X[B], Y[B], &re.second)) {
                return false;
            }
        }
    }
    return true;
}

// The scanline walk. span(y, x, count) is called for every row part inside the clip rectangle, x
// being the first pixel drawn (after the left clip) and count at least 1.
template <class Span>
void WalkTriangle(const Geometry& g, Span&& span) {
    const Edge& le = g.left;
    const Edge& re = g.right;
    std::int32_t leftX = le.first.startX, leftSlope = le.first.slope, leftRows = le.first.rows;
    std::int32_t rightX = re.first.startX, rightSlope = re.first.slope, rightRows = re.first.rows;
    bool leftLast = !le.twoSegments, rightLast = !re.twoSegments;
    std::int32_t y = I(le.first.startY);
    std::int32_t x = I(leftX);
    std::int32_t count = I(rightX) - x;
    const RECT& clip = g.clip;
    for (;;) {
        const std::int32_t rememberedLeftX = leftX;
        std::int64_t cx = x;
        std::int64_t n = count;
        if (cx < clip.left) {
            n -= clip.left - cx;
            cx = clip.left;
        }
        n += 1;
        if (y >= clip.top && y < clip.bottom && cx < clip.right && n > 0) {
            n = std::min<std::int64_t>(n, clip.right - cx);
            span(y, static_cast<std::int32_t>(cx), static_cast<int>(n));
        }
        rightX = Add(rightX, rightSlope);
        leftX = Add(rememberedLeftX, leftSlope);
        x = I(leftX);
        count = I(rightX) - x;
        ++y;
        --leftRows;
        --rightRows;
        if (leftRows == 0) {
            if (leftLast) return;
            leftLast = true;
            leftSlope = le.second.slope;
            leftX = le.second.startX;
            x = I(leftX);
            y = I(le.second.startY);
            leftRows = le.second.rows;
            count = I(rightX) - x;
        }
        if (rightRows == 0) {
            if (rightLast) return;
            rightLast = true;
            rightSlope = re.second.slope;
            rightX = re.second.startX;
            rightRows = re.second.rows;
            count = I(rightX) - x;
        }
    }
}

// One textured call, fixed once the variant is chosen.
struct TextureCall {
    const Geometry* geometry;
    std::uint8_t* dst;
    std::ptrdiff_t dstPitch;
    const std::uint8_t* src;
    std::ptrdiff_t srcPitch;
    std::uint32_t uLimit;  // source width << 18
    std::uint32_t vLimit;  // source height << 18
    const std::uint8_t* blend;
    std::ptrdiff_t blendPitch;
    PixelContext context;
};

template <class K>
struct TriangleWalker {
    static void Run(const TextureCall& call) {
        using Dst = typename K::Dst;
        const Geometry& g = *call.geometry;
        WalkTriangle(g, [&](std::int32_t y, std::int32_t x0, int count) {
            // Texel coordinates are recomputed at the first pixel of each row from the reference
            // vertex, so no error piles up from row to row.
            std::uint32_t u = static_cast<std::uint32_t>(
                Add(Add(Mul(x0 - g.refX, g.dudx), Mul(y - g.refY, g.dudy)), g.refU));
            std::uint32_t v = static_cast<std::uint32_t>(
                Add(Add(Mul(x0 - g.refX, g.dvdx), Mul(y - g.refY, g.dvdy)), g.refV));
            const std::uint32_t du = static_cast<std::uint32_t>(g.dudx);
            const std::uint32_t dv = static_cast<std::uint32_t>(g.dvdx);
            Dst* d = reinterpret_cast<Dst*>(call.dst + std::ptrdiff_t{y} * call.dstPitch) + x0;
            for (int i = 0; i < count; ++i, u += du, v += dv) {
                if (u >= call.uLimit || v >= call.vLimit) continue;
                const std::ptrdiff_t tx = u >> kFixedShift;
                const std::ptrdiff_t ty = v >> kFixedShift;
                const std::uint8_t* texel = call.src + ty * call.srcPitch + tx * K::kSrcBytes;
                const std::uint8_t* blend =
                    K::kBlend ? call.blend + ty * call.blendPitch + tx : nullptr;
                K::Pixel(call.context, texel, blend, d + i);
            }
        });
    }
};

constexpr auto kTriangleVariants =
    memimg::MakeVariantTable<TriangleWalker, memimg::kTriangleTransferRules>();

// The fill colour under the bright colour: each channel through the table row of its bright
// channel; byte 3 of a 32-bit colour carried along.
std::uint32_t PrepareFillColor(std::uint32_t colorType, std::uint32_t color, std::uint32_t bright) {
    const auto& scale = MemImgDrawState.MemImgScaleTable;
    const std::int32_t* br = scale[(bright >> 16) & 0xFF];
    const std::int32_t* bg = scale[(bright >> 8) & 0xFF];
    const std::int32_t* bb = scale[bright & 0xFF];
    if (colorType == 0) {
        return static_cast<std::uint32_t>(br[(color >> 11) & 31] << 11 |
                                          bg[(color >> 5) & 63] << 5 | bb[color & 31]);
    }
    return (color & 0xFF000000u) |
           static_cast<std::uint32_t>(br[(color >> 16) & 0xFF] << 16 |
                                      bg[(color >> 8) & 0xFF] << 8 | bb[color & 0xFF]);
}

void FillTriangle(MEMIMG* dest, const Geometry& g, std::uint32_t fillColor) {
    const MemImgShared* ds = dest->Shared;
    if (ds->ColorType > 1) return;
    Op op;
    if (!memimg::SelectMemImgOp(MemImgDrawState.BlendMode, MemImgDrawState.BlendParam, &op)) {
        return;
    }
    // A 16-bit colour is R5G6B5 in its low 16 bits; the rest is not a colour.
    const std::uint32_t color =
        PrepareFillColor(ds->ColorType, ds->ColorType == 0 ? fillColor & 0xFFFFu : fillColor,
                         MemImgDrawState.DrawBright);
    memimg::WithColorKernel(static_cast<int>(ds->ColorType), op, [&]<class K>() {
        using Dst = typename K::Dst;
        PixelContext context;
        memimg::SetupMemImgPixelContext(nullptr, &context);
        const Dst c = static_cast<Dst>(color);
        std::uint8_t* pixels = dest->Pixels;
        const std::ptrdiff_t pitch = ds->Pitch;
        WalkTriangle(g, [&](std::int32_t y, std::int32_t x0, int count) {
            Dst* d = reinterpret_cast<Dst*>(pixels + std::ptrdiff_t{y} * pitch) + x0;
            memimg::FillColorRun<K>(context, d, c, count);
        });
    });
}

// The largest source side whose texel limits (side << 18) stay within 32 bits.
constexpr std::int32_t kMaxSourceSide = 8192;

}  // namespace

void DrawMemImgTriangle(MEMIMG* dest, const MEMIMG* source, const MemImgTriangleVertex* vertices,
                        int transparent, const MEMIMG* blendImage, std::uint32_t fillColor) {
    const MemImgShared* ds = dest->Shared;
    const MemImgShared* ss = source != nullptr ? source->Shared : nullptr;
    const bool key = transparent != 0 && (ss == nullptr || ss->UseTransColor != 0);
    if (ss != nullptr && ss->ColorType != ds->ColorType) return;
    if (ds->UsePalette != 0 || ds->UseAlpha != 0) return;
    if (ss != nullptr) {
        // Larger sources overflow the texel limits. A blend image is read at the texel positions,
        // so one smaller than the source would be read past its end.
        if (source->Width > kMaxSourceSide || source->Height > kMaxSourceSide) return;
        if (blendImage != nullptr &&
            (blendImage->Width < source->Width || blendImage->Height < source->Height)) {
            return;
        }
    }

    Geometry g;
    if (!SetUpTriangle(vertices, &g)) return;
    g.clip = memimg::MemImgDrawBounds(dest);

    if (ss == nullptr) {
        FillTriangle(dest, g, fillColor);
        return;
    }
    int index;
    TextureCall call;
    if (!memimg::SelectMemImgVariant(ss, key, blendImage != nullptr, &index, &call.context)) {
        return;
    }
    call.geometry = &g;
    call.dst = dest->Pixels;
    call.dstPitch = ds->Pitch;
    call.src = source->Pixels;
    call.srcPitch = ss->Pitch;
    call.uLimit = static_cast<std::uint32_t>(std::max(source->Width, 0)) << kFixedShift;
    call.vLimit = static_cast<std::uint32_t>(std::max(source->Height, 0)) << kFixedShift;
    call.blend = blendImage != nullptr ? blendImage->Pixels : nullptr;
    call.blendPitch = blendImage != nullptr ? blendImage->Shared->Pitch : 0;
    kTriangleVariants[index](call);
}

std::uint32_t MemImgAddSaturate32(std::uint32_t f, std::uint32_t d) {
    return memimg::PackedAdd32(d, f);
}
std::uint16_t MemImgAddSaturate16(std::uint32_t f, std::uint32_t d) {
    return memimg::PackedAdd16(d & 0xFFFFu, f & 0xFFFFu);
}
std::uint32_t MemImgSubSaturate32(std::uint32_t d, std::uint32_t f) {
    return memimg::PackedSubtract32(d, f);
}
std::uint16_t MemImgSubSaturate16(std::uint32_t d, std::uint32_t f) {
    return memimg::PackedSubtract16(d & 0xFFFFu, f & 0xFFFFu);
}

}  // namespace ZiDaz
