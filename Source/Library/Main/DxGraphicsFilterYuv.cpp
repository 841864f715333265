// YUV to RGB conversion of a luma graph (Y in the blue byte) with a chroma graph (U in the blue
// byte, V in the green byte), in Q15 fixed point. The alpha forms hold a second, alpha picture in
// the right half of both graphs; its red component becomes the alpha.
#include <algorithm>

#include "Main/DxGraphics.h"
#include "Main/DxGraphicsFilter.h"

namespace ZiDaz {

namespace {

constexpr int kBlueU = 58064;   // 1.772
constexpr int kGreenU = 11272;  // 0.344
constexpr int kGreenV = 23396;  // 0.714
constexpr int kRedV = 45940;    // 1.402

inline std::uint32_t ClampQ15(int t) {
    return t < 0 ? 0u : t > 255 * 32768 ? 255u : static_cast<std::uint32_t>(t >> 15);
}

inline const std::uint8_t* Pixel(const BASEIMAGE& image, int x, int y) {
    return static_cast<const std::uint8_t*>(image.Pixels) +
           static_cast<std::ptrdiff_t>(y) * image.Pitch + static_cast<std::ptrdiff_t>(x) * 4;
}

}  // namespace

int FilterBodyYuvToRgb(FilterRunInfo* info, HandleValue uvGraph) {
    if (GraphicsSystemState.ShadersUsable == 1) {
        Backend_Filter_YuvToRgb(info, uvGraph);
        return 0;
    }
    const bool alphaForm = info->Mode == static_cast<int>(ImageFilterMode::YuvToRgbAlpha) ||
                           info->Mode == static_cast<int>(ImageFilterMode::YuvToRgbUvAlpha);
    int sw = 0, sh = 0;
    if (GetGraphSize(info->Source, &sw, &sh) != 0) return -1;
    if (alphaForm) {
        // The picture is the left half; its alpha picture is the right half.
        if (info->X1 != 0 || info->Y1 != 0 || info->X2 != sw / 2 || info->Y2 != sh) return -1;
        const RECT whole{0, 0, sw, sh};
        if (LockFilterImages(info, 1, sw / 2, sh, &whole) != 0) return -1;
    } else if (LockFilterImages(info, 1, -1, -1, nullptr) != 0) {
        return -1;
    }
    BASEIMAGE uv{};
    if (uvGraph < 0 || ReadGraphRectToBaseImage(uvGraph, &uv, nullptr) != 0) {
        ReleaseFilterImages(info);
        return -1;
    }
    const int uw = uv.Width, uh = uv.Height;
    int sx = 0, sy = 0;
    if (uw == sw && uh == sh) {
        sx = sy = 1;
    } else if (uw == sw / 2 && uh == sh / 2) {
        sx = sy = 2;
    } else if (uw == sw / 2 && uh == sh) {
        sx = 2;
        sy = 1;
    } else if (uw == sw && uh == sh / 2) {
        sx = 1;
        sy = 2;
    } else if (uw == sw / 4 && uh == sh) {
        sx = 4;
        sy = 1;
    }
    if (sx == 0) {
        // A chroma layout without a software conversion: the destination stays as it was.
        DisposeBaseImage(&uv);
        ReleaseFilterImages(info);
        return 0;
    }
    const BASEIMAGE& source = info->SourceImage;
    const BASEIMAGE& dest = info->DestImage;
    const int w = info->X2 - info->X1, h = info->Y2 - info->Y1;
    const int lumaHalf = source.Width / 2, chromaHalf = uw / 2;
    // Pixels past the last whole block take the chroma sample of the block before them.
    const int lastU = (alphaForm ? chromaHalf : uw) - 1, lastV = uh - 1;
    for (int y = 0; y < h; ++y) {
        const int vy = std::min(y / sy, lastV);
        auto* out =
            static_cast<std::uint8_t*>(dest.Pixels) + static_cast<std::ptrdiff_t>(y) * dest.Pitch;
        for (int x = 0; x < w; ++x) {
            const int ux = std::min(x / sx, std::max(lastU, 0));
            const std::uint8_t* c = Pixel(uv, ux, vy);
            const int yq = Pixel(source, x, y)[0] * 32768;
            const int u = c[0] - 128, v = c[1] - 128;
            out[x * 4 + 0] = static_cast<std::uint8_t>(ClampQ15(yq + kBlueU * u));
            out[x * 4 + 1] = static_cast<std::uint8_t>(ClampQ15(yq - kGreenU * u - kGreenV * v));
            out[x * 4 + 2] = static_cast<std::uint8_t>(ClampQ15(yq + kRedV * v));
            if (alphaForm) {
                const int ya = Pixel(source, x + lumaHalf, y)[0] * 32768;
                const int va = Pixel(uv, ux + chromaHalf, vy)[1] - 128;
                out[x * 4 + 3] = static_cast<std::uint8_t>(ClampQ15(ya + kRedV * va));
            } else {
                out[x * 4 + 3] = 255;
            }
        }
    }
    DisposeBaseImage(&uv);
    UnlockFilterImages(info);
    return 0;
}

}  // namespace ZiDaz
