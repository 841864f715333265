// The stretched transfer: a whole memory image drawn into a rectangle of another, magnified or
// shrunk by nearest-pixel 16.16 stepping, mirrored when the rectangle's edges come reversed.
#include <algorithm>
#include <cstring>

#include "Main/DxMemImg.h"
#include "Main/DxMemImgBlend.h"
#include "Main/DxMemImgRows.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

namespace {

using memimg::PixelContext;

// The 16.16 stepping keeps every value in a signed 32-bit integer only within these sizes.
constexpr std::int64_t kMaxRectSize = 32767;
constexpr std::int64_t kMaxSourceSize = 65536;
// Column tables up to this width live on the stack.
constexpr int kStackColumns = 1024;

struct StretchCall {
    std::uint8_t* dst;  // first destination pixel of the first row
    std::ptrdiff_t dstPitch;
    const std::uint8_t* srcRow;  // first source row
    std::ptrdiff_t srcRowStep;   // signed by the y direction
    const std::uint8_t* blendRow;
    std::ptrdiff_t blendRowStep;
    const std::int32_t* cols;  // source column of each destination pixel of a row
    int width;
    int height;
    std::int32_t yScale;
    std::int32_t yAccumulator;  // at the first row
    bool overlap;
    PixelContext context;
};

template <class K>
struct StretchWalker {
    // Kernels with a wide row loop of their own (and no blend image) take gathered runs.
    static constexpr bool kGathers = memimg::RowLoopOf<K>() == memimg::RowLoop::kAlphaOver ||
                                     memimg::RowLoopOf<K>() == memimg::RowLoop::kConstantMix;

    static void Run(const StretchCall& call) {
        using Dst = typename K::Dst;
        std::uint8_t* d = call.dst;
        const std::uint8_t* s = call.srcRow;
        const std::uint8_t* b = call.blendRow;
        std::int32_t acc = call.yAccumulator;
        const std::uint8_t* lastRow = nullptr;  // source row of the previous destination row
        for (int y = 0; y < call.height; ++y) {
            if (K::kCopiesSource && !call.overlap && s == lastRow) {
                // Same source row and a result independent of the destination: same pixels.
                std::memcpy(d, d - call.dstPitch,
                            static_cast<std::size_t>(call.width) * sizeof(Dst));
            } else if (kGathers && !call.overlap) {
                // Source pixels gathered into a run go through the wide row loop.
                constexpr int kChunk = 256;
                alignas(16) std::uint8_t run[kChunk * K::kSrcBytes];
                Dst* row = reinterpret_cast<Dst*>(d);
                for (int i = 0; i < call.width; i += kChunk) {
                    const int n = std::min(kChunk, call.width - i);
                    for (int j = 0; j < n; ++j)
                        std::memcpy(run + j * K::kSrcBytes, s + call.cols[i + j] * K::kSrcBytes,
                                    K::kSrcBytes);
                    memimg::RunRow<K>(call.context, row + i, run, nullptr, n);
                }
            } else {
                // In destination order: also right for overlapping images.
                memimg::RunRowIndexed<K>(call.context, reinterpret_cast<Dst*>(d), s, b, call.cols,
                                         call.width);
            }
            lastRow = s;
            if (y + 1 == call.height) break;
            d += call.dstPitch;
            acc -= 65536;
            while (acc <= 0) {
                acc += call.yScale;
                s += call.srcRowStep;
                if constexpr (K::kBlend) b += call.blendRowStep;
            }
        }
    }
};

constexpr auto kStretchVariants =
    memimg::MakeVariantTable<StretchWalker, memimg::kStretchTransferRules>();

}  // namespace

void DrawMemImgStretched(MEMIMG* dest, const MEMIMG* source, const RECT* rect, int transFlag,
                         const MEMIMG* blendImage) {
    const MemImgShared* ds = dest->Shared;
    const MemImgShared* ss = source->Shared;
    // A 32-bit destination with alpha is refused as the plain transfer refuses it, so that a
    // rectangle of the source's own size draws the same whichever transfer takes it.
    if (ss->ColorType != ds->ColorType || ds->UsePalette != 0 || ds->UseAlpha != 0) return;
    const int key = transFlag != 0 && ss->UseTransColor == 1 ? 1 : 0;

    const int xDir = rect->left > rect->right ? -1 : 1;
    const int yDir = rect->top > rect->bottom ? -1 : 1;
    const std::int32_t x0 = xDir < 0 ? rect->right : rect->left;
    const std::int32_t x1 = xDir < 0 ? rect->left : rect->right;
    const std::int32_t y0 = yDir < 0 ? rect->bottom : rect->top;
    const std::int32_t y1 = yDir < 0 ? rect->top : rect->bottom;
    const std::int64_t w = std::int64_t{x1} - x0;
    const std::int64_t h = std::int64_t{y1} - y0;
    if (w == 0 || h == 0) return;
    // Outside the 16.16 range the stepping would overflow and read outside the source.
    if (w > kMaxRectSize || h > kMaxRectSize) return;
    if (source->Width < 1 || source->Height < 1 || source->Width > kMaxSourceSize ||
        source->Height > kMaxSourceSize) {
        return;
    }
    if (blendImage != nullptr &&
        (blendImage->Width < source->Width || blendImage->Height < source->Height)) {
        return;
    }
    if (w == source->Width && h == source->Height && xDir > 0 && yDir > 0) {
        DrawMemImg(dest, source, x0, y0, key, blendImage);
        return;
    }

    const std::uint32_t xScale =
        static_cast<std::uint32_t>(w * 65536) / static_cast<std::uint32_t>(source->Width);
    const std::uint32_t yScale =
        static_cast<std::uint32_t>(h * 65536) / static_cast<std::uint32_t>(source->Height);
    RECT clip{x0, y0, x1, y1};
    ClipRectangle(&clip, &MemImgDrawState.DrawArea);
    const int cw = clip.right - clip.left;
    const int ch = clip.bottom - clip.top;
    if (cw <= 0 || ch <= 0) return;
    // The clipped rectangle starts inside the ordered one, at most 32767 pixels in.
    const std::int32_t xs = static_cast<std::int32_t>(xScale);
    const std::int32_t ys = static_cast<std::int32_t>(yScale);
    const std::int32_t xNum = (clip.left - x0) * 65536;
    const std::int32_t yNum = (clip.top - y0) * 65536;
    const std::int32_t u = xNum / xs;
    const std::int32_t v = yNum / ys;
    const std::int32_t xAcc = xs - xNum % xs;
    const std::int32_t yAcc = ys - yNum % ys;

    int index;
    StretchCall call;
    if (!memimg::SelectMemImgVariant(ss, key != 0, blendImage != nullptr, &index, &call.context)) {
        return;
    }

    // Source column of every destination pixel of a row, stepped as the 16.16 accumulator does.
    std::int32_t stackCols[kStackColumns];
    std::int32_t* cols = stackCols;
    if (cw > kStackColumns) {
        cols = static_cast<std::int32_t*>(DX_ALLOC(static_cast<std::size_t>(cw) * 4));
        if (cols == nullptr) return;
    }
    std::int32_t col = xDir > 0 ? u : source->Width - 1 - u;
    std::int32_t acc = xAcc;
    for (int i = 0; i < cw; ++i) {
        cols[i] = col;
        acc -= 65536;
        while (acc <= 0) {
            acc += xs;
            col += xDir;
        }
    }

    const std::int32_t row = yDir > 0 ? v : source->Height - 1 - v;
    call.dst = dest->Pixels + static_cast<std::ptrdiff_t>(clip.top) * ds->Pitch +
               static_cast<std::ptrdiff_t>(clip.left) * MemImgBytesPerPixel(ds);
    call.dstPitch = ds->Pitch;
    call.srcRow = source->Pixels + static_cast<std::ptrdiff_t>(row) * ss->Pitch;
    call.srcRowStep = static_cast<std::ptrdiff_t>(yDir) * ss->Pitch;
    call.blendRow = nullptr;
    call.blendRowStep = 0;
    if (blendImage != nullptr) {
        const std::ptrdiff_t pitch = blendImage->Shared->Pitch;
        call.blendRow = blendImage->Pixels + static_cast<std::ptrdiff_t>(row) * pitch;
        call.blendRowStep = yDir * pitch;
    }
    call.cols = cols;
    call.width = cw;
    call.height = ch;
    call.yScale = ys;
    call.yAccumulator = yAcc;
    call.overlap = ds->Pixels == ss->Pixels;
    kStretchVariants[index](call);
    if (cols != stackCols) DX_FREE(cols);
}

}  // namespace ZiDaz
