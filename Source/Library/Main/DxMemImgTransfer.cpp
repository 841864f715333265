// The plain transfer: a whole memory image drawn onto another at a point, one source pixel per
// destination pixel, clipped to the draw area.
#include <cstring>

#include "Main/DxMemImg.h"
#include "Main/DxMemImgBlend.h"
#include "Main/DxMemImgRows.h"

namespace ZiDaz {

namespace {

using memimg::PixelContext;

struct PlainCall {
    std::uint8_t* dst;
    std::ptrdiff_t dstPitch;
    const std::uint8_t* src;
    std::ptrdiff_t srcPitch;
    const std::uint8_t* blend;
    std::ptrdiff_t blendPitch;
    int width;
    int height;
    bool overlap;  // source and destination share pixel memory: keep strict pixel order
    PixelContext context;
};

template <class K>
struct PlainWalker {
    static void Run(const PlainCall& call) {
        using Dst = typename K::Dst;
        if constexpr (K::kCopiesSource && sizeof(typename K::Src) == sizeof(Dst) &&
                      K::kKind != memimg::Kind::kPalette) {
            // Rows that fill their whole pitch in both images: one block.
            const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(call.width) * sizeof(Dst);
            if (!call.overlap && call.dstPitch == rowBytes && call.srcPitch == rowBytes) {
                std::memcpy(call.dst, call.src, static_cast<std::size_t>(rowBytes) * call.height);
                return;
            }
        }
        std::uint8_t* d = call.dst;
        const std::uint8_t* s = call.src;
        const std::uint8_t* b = call.blend;
        for (int y = 0; y < call.height; ++y) {
            if (memimg::RowLoopOf<K>() == memimg::RowLoop::kInOrder || call.overlap) {
                memimg::RunRowInOrder<K>(call.context, reinterpret_cast<Dst*>(d), s, b, call.width);
            } else {
                memimg::RunRow<K>(call.context, reinterpret_cast<Dst*>(d), s, b, call.width);
            }
            d += call.dstPitch;
            s += call.srcPitch;
            if constexpr (K::kBlend) b += call.blendPitch;
        }
    }
};

constexpr auto kPlainVariants =
    memimg::MakeVariantTable<PlainWalker, memimg::kPlainTransferRules>();

}  // namespace

void DrawMemImg(MEMIMG* dest, const MEMIMG* source, int x, int y, int transFlag,
                const MEMIMG* blendImage) {
    const MemImgShared* ds = dest->Shared;
    const MemImgShared* ss = source->Shared;
    const bool key = transFlag != 0 && ss->UseTransColor == 1;
    if (ss->ColorType != ds->ColorType || ds->UsePalette != 0 || ds->UseAlpha != 0) return;
    // A blend image smaller than the source would be read past its end.
    if (blendImage != nullptr &&
        (blendImage->Width < source->Width || blendImage->Height < source->Height)) {
        return;
    }

    RECT r{x, y, static_cast<LONG>(std::int64_t{x} + source->Width),
           static_cast<LONG>(std::int64_t{y} + source->Height)};
    if (std::int64_t{x} + source->Width > INT32_MAX) r.right = INT32_MAX;
    if (std::int64_t{y} + source->Height > INT32_MAX) r.bottom = INT32_MAX;
    ClipRectangle(&r, &MemImgDrawState.DrawArea);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return;

    int index;
    PlainCall call;
    if (!memimg::SelectMemImgVariant(ss, key, blendImage != nullptr, &index, &call.context)) {
        return;
    }
    const std::ptrdiff_t sx = std::int64_t{r.left} - x;
    const std::ptrdiff_t sy = std::int64_t{r.top} - y;
    const int srcBytes = MemImgBytesPerPixel(ss);
    const int dstBytes = MemImgBytesPerPixel(ds);
    call.dst = dest->Pixels + static_cast<std::ptrdiff_t>(r.top) * ds->Pitch +
               static_cast<std::ptrdiff_t>(r.left) * dstBytes;
    call.dstPitch = ds->Pitch;
    call.src = source->Pixels + sy * ss->Pitch + sx * srcBytes;
    call.srcPitch = ss->Pitch;
    call.blend = nullptr;
    call.blendPitch = 0;
    if (blendImage != nullptr) {
        call.blend = blendImage->Pixels + sy * blendImage->Shared->Pitch + sx;
        call.blendPitch = blendImage->Shared->Pitch;
    }
    call.width = w;
    call.height = h;
    call.overlap = ds->Pixels == ss->Pixels;
    kPlainVariants[index](call);
}

}  // namespace ZiDaz
