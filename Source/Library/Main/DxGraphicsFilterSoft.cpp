// Colour and alpha filter bodies: Mono, BrightClip, BrightnessScale, Hsb, Invert, Level,
// TwoColor, GradientMap, Replacement, PremultipliedAlpha and InterpolatedAlpha, with the
// premultiplied forms of the ones that have them.
//
// Each kernel is one loop per mode, chosen once per call; the premultiplied form is a compile-time
// switch of the same loop: it un-premultiplies what it reads (Divide255Table) and premultiplies
// what it writes (Multiply255Table).
#include <cmath>
#include <cstring>

#include "Main/DxBaseFunc.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsFilter.h"
#include "Main/DxGraphicsFilterPixels.h"

namespace ZiDaz {

namespace {

inline std::uint32_t* RowOf(const FilterPixelView& view, int y) {
    return reinterpret_cast<std::uint32_t*>(view.Pixels +
                                            static_cast<std::ptrdiff_t>(y) * view.Pitch);
}

// Limits v to lo..hi; a NaN gives lo.
inline float ClampFloat(float v, float lo, float hi) {
    if (!(v >= lo)) return lo;
    if (v > hi) return hi;
    return v;
}

// trunc(v), limited to lo..hi first so that no conversion overflows; a NaN gives 0.
inline int TruncLimited(float v, int lo, int hi) {
    if (v != v) return 0;
    if (v <= static_cast<float>(lo)) return lo;
    if (v >= static_cast<float>(hi)) return hi;
    return static_cast<int>(v);
}

inline int ClampByte(int v) {
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

inline int Blue(std::uint32_t w) {
    return static_cast<int>(w & 0xFFu);
}
inline int Green(std::uint32_t w) {
    return static_cast<int>((w >> 8) & 0xFFu);
}
inline int Red(std::uint32_t w) {
    return static_cast<int>((w >> 16) & 0xFFu);
}
inline int Alpha(std::uint32_t w) {
    return static_cast<int>(w >> 24);
}
inline std::uint32_t Word(int b, int g, int r, std::uint32_t alphaBits) {
    return (static_cast<std::uint32_t>(b) & 0xFFu) |
           ((static_cast<std::uint32_t>(g) & 0xFFu) << 8) |
           ((static_cast<std::uint32_t>(r) & 0xFFu) << 16) | alphaBits;
}

inline const std::uint8_t* MulRow(int c) {
    return BaseImageModuleState.Multiply255Table[c];
}
inline const std::uint8_t* DivRow(int c) {
    return BaseImageModuleState.Divide255Table[c];
}

// The colour channels of a source pixel as the body sees them: stored, or un-premultiplied.
template <bool P>
inline void ReadColor(std::uint32_t w, int& b, int& g, int& r) {
    b = Blue(w);
    g = Green(w);
    r = Red(w);
    if constexpr (P) {
        const int a = Alpha(w);
        b = DivRow(b)[a];
        g = DivRow(g)[a];
        r = DivRow(r)[a];
    }
}

// A computed colour byte as stored: kept, or premultiplied with alpha a.
template <bool P>
inline int WriteChannel(int c, int a) {
    if constexpr (P) return MulRow(c & 0xFF)[a];
    return c & 0xFF;
}

// Luminance in 12-bit fixed point; white gives 1,043,970.
inline int Luminance(int b, int g, int r) {
    return 2404 * g + 1224 * r + 466 * b;
}

template <class F>
inline void MapPixels(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                      F f) {
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* s = RowOf(src, y);
        std::uint32_t* d = RowOf(dst, y);
        for (int x = 0; x < width; ++x) d[x] = f(s[x]);
    }
}

std::uint32_t PremultiplyWord(std::uint32_t w) {
    const int a = Alpha(w);
    return Word(MulRow(Blue(w))[a], MulRow(Green(w))[a], MulRow(Red(w))[a], w & 0xFF000000u);
}

// ---- Hsb and BrightnessScale share the colour model ----

struct Lightness {
    int L;  // (max + min) >> 1
    int S;  // saturation, 256 = full
};

inline Lightness LightnessOf(int mx, int mn) {
    Lightness out;
    out.L = (mx + mn) >> 1;
    if (mx == mn) {
        out.S = 0;
    } else {
        // Out-of-range brightness can make this divisor 0 or negative: no saturation then.
        const int divisor = out.L <= 128 ? mx + mn : 512 - mx - mn;
        out.S = divisor > 0 ? ((mx - mn) * 256) / divisor : 0;
    }
    return out;
}

// The lightness step: a pure, desaturated colour channel c brought to lightness L.
inline int ApplyLightness(int c, int L) {
    if (L <= 128) return ((2 * L) * c) >> 8;
    return c + ((((255 - c) * (L - 128)) * 2) >> 8);
}

template <bool P, bool Absolute>
void HsbLoop(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
             const HsbSetup& setup) {
    const int H = setup.H;
    const int K = setup.K;
    const int SPlus = setup.SPlus;
    MapPixels(src, dst, width, height, [&](std::uint32_t w) {
        int b, g, r;
        ReadColor<P>(w, b, g, r);
        if (K > 0) {
            b += ((255 - b) * K) >> 8;
            g += ((255 - g) * K) >> 8;
            r += ((255 - r) * K) >> 8;
        } else {
            b = (b * (K + 256)) >> 8;
            g = (g * (K + 256)) >> 8;
            r = (r * (K + 256)) >> 8;
        }
        const int mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
        const int mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
        const Lightness l = LightnessOf(mx, mn);
        int hue;
        if constexpr (Absolute) {
            hue = H;
        } else {
            if (mx == mn) {
                hue = 0;
            } else {
                const int d = mx - mn;
                const int bc = ((mx - b) * 256) / d;
                const int gc = ((mx - g) * 256) / d;
                const int rc = ((mx - r) * 256) / d;
                hue = r == mx ? bc - gc : g == mx ? rc - bc + 512 : gc - rc + 1024;
                if (hue < 0) hue += 1536;
            }
            hue += H;
            if (hue < 0) {
                hue += 1536;
            } else if (hue >= 1536) {
                hue -= 1536;
            }
        }
        const int f = hue & 0xFF;
        int pr, pg, pb;
        switch (hue >> 8) {
            case 0:
                pr = 255, pg = f, pb = 0;
                break;
            case 1:
                pr = 255 - f, pg = 255, pb = 0;
                break;
            case 2:
                pr = 0, pg = 255, pb = f;
                break;
            case 3:
                pr = 0, pg = 255 - f, pb = 255;
                break;
            case 4:
                pr = f, pg = 0, pb = 255;
                break;
            default:
                pr = 255, pg = 0, pb = 255 - f;
                break;
        }
        // S above 65536 saturates q for any gain of 1 or more; the limit keeps the product in
        // range.
        const int s = l.S > 65536 ? 65536 : l.S;
        int q = (SPlus * s) >> 8;
        if (q > 256) q = 256;
        pr += ((128 - pr) * (256 - q)) >> 8;
        pg += ((128 - pg) * (256 - q)) >> 8;
        pb += ((128 - pb) * (256 - q)) >> 8;
        const int a = Alpha(w);
        return Word(WriteChannel<P>(ApplyLightness(pb, l.L), a),
                    WriteChannel<P>(ApplyLightness(pg, l.L), a),
                    WriteChannel<P>(ApplyLightness(pr, l.L), a), w & 0xFF000000u);
    });
}

template <bool P>
void BrightnessScaleLoop(const FilterPixelView& src, const FilterPixelView& dst, int width,
                         int height, int lo, int F) {
    MapPixels(src, dst, width, height, [&](std::uint32_t w) {
        int b, g, r;
        ReadColor<P>(w, b, g, r);
        const int mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
        const int mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
        const Lightness l = LightnessOf(mx, mn);
        int pr, pg, pb;
        if (mx == mn) {
            pr = 255, pg = 0, pb = 0;
        } else {
            const int d = mx - mn;
            const int bc = ((mx - b) * 256) / d;
            const int gc = ((mx - g) * 256) / d;
            const int rc = ((mx - r) * 256) / d;
            if (r == mx) {
                pr = 255;
                if (bc > gc) {
                    pg = bc - gc, pb = 0;
                } else {
                    pg = 0, pb = gc - bc;
                }
            } else if (g == mx) {
                pg = 255;
                if (rc <= bc) {
                    pr = bc - rc, pb = 0;
                } else {
                    pr = 0, pb = rc - bc;
                }
            } else {
                pb = 255;
                if (gc > rc) {
                    pr = gc - rc, pg = 0;
                } else {
                    pr = 0, pg = rc - gc;
                }
            }
        }
        const int L = ClampByte(((l.L - lo) * F) >> 12);
        pr += ((128 - pr) * (256 - l.S)) >> 8;
        pg += ((128 - pg) * (256 - l.S)) >> 8;
        pb += ((128 - pb) * (256 - l.S)) >> 8;
        const int a = Alpha(w);
        return Word(WriteChannel<P>(ApplyLightness(pb, L), a),
                    WriteChannel<P>(ApplyLightness(pg, L), a),
                    WriteChannel<P>(ApplyLightness(pr, L), a), w & 0xFF000000u);
    });
}

// ---- Level's software gamma table, kept with the gamma it was built for ----

std::uint8_t LevelGammaTable[256];
float LevelGammaTableGamma = -10000000.0f;

const std::uint8_t* LevelTableFor(float gamma) {
    if (std::fabs(gamma - LevelGammaTableGamma) > 0.0001f) {
        const float exponent = 1.0f / gamma;
        for (int i = 0; i < 256; ++i) {
            const float v = PowerFloat(static_cast<float>(i) / 255.0f, exponent) * 255.0f;
            LevelGammaTable[i] = static_cast<std::uint8_t>(v > 255.0f ? 255 : static_cast<int>(v));
        }
        LevelGammaTableGamma = gamma;
    }
    return LevelGammaTable;
}

// The shader path's copy of the table as a 256 x 1 graph, with its own gamma.
HandleValue LevelGammaGraph = -1;
float LevelGammaGraphGamma = -10000000.0f;

void RefreshLevelGammaGraph(float gamma) {
    bool fresh = false;
    if (LevelGammaGraph < 0) {
        GraphCreateParams params;
        InitGraphCreateParams(&params, 32, 0, 0);
        LevelGammaGraph = CreateBlankGraph(&params, 256, 1, 0, 0, 0, 0, nullptr);
        if (LevelGammaGraph < 0) return;
        SetHandleLostFlag(LevelGammaGraph, &LevelGammaGraph);
        LevelGammaGraphGamma = -10000000.0f;
        fresh = true;
    }
    if (!fresh && std::fabs(gamma - LevelGammaGraphGamma) <= 0.0001f) return;
    BASEIMAGE image;
    if (NewBaseImageXrgb8(256, 1, &image) != 0) return;
    const std::uint8_t* table = LevelTableFor(gamma);
    std::uint32_t* row = static_cast<std::uint32_t*>(image.Pixels);
    for (int i = 0; i < 256; ++i) row[i] = table[i] * 0x01010101u;
    TransferImageToGraph(nullptr, nullptr, nullptr, 0, &image, nullptr, 0, 0, LevelGammaGraph);
    DisposeBaseImage(&image);
    LevelGammaGraphGamma = gamma;
}

bool ShadersUsable() {
    return GraphicsSystemState.ShadersUsable == 1;
}

// Takes the images (fresh destination or not); false when they cannot be taken.
bool TakeImages(FilterRunInfo* info, int fresh) {
    return LockFilterImages(info, fresh, -1, -1, nullptr) == 0;
}

struct TakenViews {
    FilterPixelView Src, Dst;
    int Width, Height;
};

TakenViews ViewsOf(const FilterRunInfo& info) {
    TakenViews v;
    v.Src = FilterViewOf(info.SourceImage);
    v.Dst = FilterViewOf(info.DestImage);
    v.Width = info.WorkWidth;
    v.Height = info.WorkHeight;
    // Never walk past either image, whatever the work size says.
    if (v.Width > info.SourceImage.Width) v.Width = info.SourceImage.Width;
    if (v.Width > info.DestImage.Width) v.Width = info.DestImage.Width;
    if (v.Height > info.SourceImage.Height) v.Height = info.SourceImage.Height;
    if (v.Height > info.DestImage.Height) v.Height = info.DestImage.Height;
    if (v.Width < 0) v.Width = 0;
    if (v.Height < 0) v.Height = 0;
    return v;
}

// Takes the images, runs the kernel over them and writes the destination back.
template <class K>
int RunSoftware(FilterRunInfo* info, int fresh, K kernel) {
    if (!TakeImages(info, fresh)) return -1;
    const TakenViews v = ViewsOf(*info);
    kernel(v);
    UnlockFilterImages(info);
    return 0;
}

}  // namespace

FilterPixelView FilterViewOf(const BASEIMAGE& image) {
    return FilterPixelView{static_cast<std::uint8_t*>(image.Pixels), image.Pitch};
}

// ---- Parameter conversion ----

MonoSetup PrepareMono(float cb, float cr) {
    MonoSetup s;
    s.Cb = ClampFloat(cb / 200.0f, -0.5f, 0.5f);
    s.Cr = ClampFloat(cr / 200.0f, -0.5f, 0.5f);
    s.RedOffset = static_cast<std::int32_t>(s.Cr * 1.402f * 255.0f * 4096.0f);
    s.GreenOffset =
        static_cast<std::int32_t>((s.Cb * 0.34414f - s.Cr * 0.71414f) * 255.0f * 4096.0f);
    s.BlueOffset = static_cast<std::int32_t>(s.Cb * 1.772f * 255.0f * 4096.0f);
    return s;
}

HsbSetup PrepareHsb(int hueMode, float hue, float saturation, float brightness) {
    HsbSetup s;
    float h = hue / 360.0f;
    h = hueMode == 0 ? ClampFloat(h, -0.5f, 0.5f) : ClampFloat(h, 0.0f, 1.0f);
    s.Hue = h * 6.0f;
    s.Saturation = ClampFloat(saturation / 100.0f, -1.0f, 1.0f);
    s.Brightness = brightness / 100.0f;
    s.H = static_cast<std::int32_t>(s.Hue * 256.0f);
    const float gain = s.Saturation > 0.0f ? s.Saturation * 5.0f : s.Saturation;
    s.SPlus = static_cast<std::int32_t>(gain * 256.0f) + 256;
    // Far beyond the designed range the brightness only has to keep the arithmetic in range.
    s.K = TruncLimited(s.Brightness * 256.0f, -(1 << 20), 1 << 20);
    if (hueMode == 1 && s.H >= 1536) s.H -= 1536;
    return s;
}

LevelSetup PrepareLevel(float minimum, float maximum, float gamma, float outMin, float outMax) {
    LevelSetup s;
    s.Min = ClampFloat(minimum / 255.0f, 0.0f, 1.0f);
    s.Max = ClampFloat(maximum / 255.0f, 0.0f, 1.0f);
    s.Gamma = gamma > 0.001f ? gamma : 0.001f;
    s.OutMin = ClampFloat(outMin / 255.0f, 0.0f, 1.0f);
    s.OutMax = ClampFloat(outMax / 255.0f, 0.0f, 1.0f);
    if (s.Min > s.Max) s.Min = s.Max;
    if (s.OutMin > s.OutMax) s.OutMin = s.OutMax;
    const std::uint8_t* table = LevelTableFor(s.Gamma);
    const int lo8 = static_cast<int>(s.Min * 255.0f);
    const int hi8 = static_cast<int>(s.Max * 255.0f);
    const int range = hi8 - lo8;
    const int olo8 = static_cast<int>(s.OutMin * 255.0f);
    const int orange = static_cast<int>(s.OutMax * 255.0f) - olo8;
    for (int c = 0; c < 256; ++c) {
        int v;
        if (range == 0) {
            // An empty input range is a hard threshold at the minimum.
            v = c >= lo8 ? table[255] : table[0];
        } else {
            const int k = ((c - lo8) * 256) / range;
            v = k < 0 ? table[0] : k > 255 ? table[255] : table[k];
        }
        s.Map[c] = static_cast<std::uint8_t>((v * orange + olo8 * 256) >> 8);
    }
    return s;
}

std::uint32_t FilterColorWord(const float color[4], int premultiplied) {
    const std::uint32_t w =
        Word(TruncLimited(color[2] * 255.0f, 0, 255), TruncLimited(color[1] * 255.0f, 0, 255),
             TruncLimited(color[0] * 255.0f, 0, 255),
             static_cast<std::uint32_t>(TruncLimited(color[3] * 255.0f, 0, 255)) << 24);
    return premultiplied ? PremultiplyWord(w) : w;
}

// ---- Kernels ----

void SoftMono(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
              const MonoSetup& setup) {
    const int ro = setup.RedOffset, go = setup.GreenOffset, bo = setup.BlueOffset;
    MapPixels(src, dst, width, height, [&](std::uint32_t w) {
        const int y = Luminance(Blue(w), Green(w), Red(w));
        return Word(ClampByte((y + bo) >> 12), ClampByte((y + go) >> 12), ClampByte((y + ro) >> 12),
                    w & 0xFF000000u);
    });
}

namespace {

template <bool P, bool Fill, bool Greater>
void BrightClipLoop(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                    int T, std::uint32_t fillWord) {
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* s = RowOf(src, y);
        std::uint32_t* d = RowOf(dst, y);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t w = s[x];
            int b, g, r;
            ReadColor<P>(w, b, g, r);
            const int lum = Luminance(b, g, r);
            const bool passes = Greater ? lum > T : lum < T;
            if (passes) {
                if constexpr (Fill) d[x] = fillWord;
            } else {
                d[x] = w;
            }
        }
    }
}

template <bool P, bool Fill>
void BrightClipCompare(bool greater, const FilterPixelView& src, const FilterPixelView& dst,
                       int width, int height, int T, std::uint32_t fillWord) {
    if (greater) {
        BrightClipLoop<P, Fill, true>(src, dst, width, height, T, fillWord);
    } else {
        BrightClipLoop<P, Fill, false>(src, dst, width, height, T, fillWord);
    }
}

int BrightClipThreshold(float threshold) {
    const float t = ClampFloat(threshold / 255.0f, 0.0f, 1.0f);
    return static_cast<int>(t * 255.0f * 4096.0f);
}

}  // namespace

int SoftBrightClip(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                   int compare, float threshold, int fill, std::uint32_t fillWord,
                   int premultiplied) {
    if (compare != 2 && compare != 5) return -1;
    const int T = BrightClipThreshold(threshold);
    const bool greater = compare == 5;
    if (premultiplied) {
        if (fill) {
            BrightClipCompare<true, true>(greater, src, dst, width, height, T, fillWord);
        } else {
            BrightClipCompare<true, false>(greater, src, dst, width, height, T, fillWord);
        }
    } else if (fill) {
        BrightClipCompare<false, true>(greater, src, dst, width, height, T, fillWord);
    } else {
        BrightClipCompare<false, false>(greater, src, dst, width, height, T, fillWord);
    }
    return 0;
}

void SoftBrightnessScale(const FilterPixelView& src, const FilterPixelView& dst, int width,
                         int height, int minimum, int maximum, int premultiplied) {
    const int lo = minimum < 0 ? 0 : minimum > 254 ? 254 : minimum;
    int hi = maximum < 1 ? 1 : maximum > 255 ? 255 : maximum;
    if (hi == lo) hi = lo + 1;
    const int F = 1044480 / (hi - lo);
    if (premultiplied) {
        BrightnessScaleLoop<true>(src, dst, width, height, lo, F);
    } else {
        BrightnessScaleLoop<false>(src, dst, width, height, lo, F);
    }
}

void SoftHsb(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
             int hueMode, const HsbSetup& setup, int premultiplied) {
    const bool absolute = hueMode == 1;
    if (premultiplied) {
        if (absolute) {
            HsbLoop<true, true>(src, dst, width, height, setup);
        } else {
            HsbLoop<true, false>(src, dst, width, height, setup);
        }
    } else if (absolute) {
        HsbLoop<false, true>(src, dst, width, height, setup);
    } else {
        HsbLoop<false, false>(src, dst, width, height, setup);
    }
}

void SoftInvert(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                int premultiplied) {
    if (!premultiplied) {
        MapPixels(src, dst, width, height, [](std::uint32_t w) { return w ^ 0x00FFFFFFu; });
        return;
    }
    MapPixels(src, dst, width, height, [](std::uint32_t w) {
        const int a = Alpha(w);
        return Word(MulRow(255 - DivRow(Blue(w))[a])[a], MulRow(255 - DivRow(Green(w))[a])[a],
                    MulRow(255 - DivRow(Red(w))[a])[a], w & 0xFF000000u);
    });
}

void SoftLevel(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
               const LevelSetup& setup, int premultiplied) {
    const std::uint8_t* map = setup.Map;
    if (!premultiplied) {
        MapPixels(src, dst, width, height, [map](std::uint32_t w) {
            return Word(map[Blue(w)], map[Green(w)], map[Red(w)], w & 0xFF000000u);
        });
        return;
    }
    MapPixels(src, dst, width, height, [map](std::uint32_t w) {
        const int a = Alpha(w);
        return Word(MulRow(map[DivRow(Blue(w))[a]])[a], MulRow(map[DivRow(Green(w))[a]])[a],
                    MulRow(map[DivRow(Red(w))[a]])[a], w & 0xFF000000u);
    });
}

namespace {

template <bool P>
void TwoColorLoop(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                  int T, std::uint32_t lowWord, std::uint32_t highWord) {
    MapPixels(src, dst, width, height, [=](std::uint32_t w) {
        int b, g, r;
        ReadColor<P>(w, b, g, r);
        return Luminance(b, g, r) < T ? lowWord : highWord;
    });
}

template <bool P>
void GradientLoop(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                  const std::uint32_t* table) {
    MapPixels(src, dst, width, height, [=](std::uint32_t w) {
        int b, g, r;
        ReadColor<P>(w, b, g, r);
        return table[static_cast<unsigned>(Luminance(b, g, r)) >> 12];
    });
}

}  // namespace

void SoftTwoColor(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                  float threshold, std::uint32_t lowWord, std::uint32_t highWord,
                  int premultiplied) {
    // The threshold is on the 0..255 scale and not limited; beyond the luminance range it simply
    // sends every pixel to one colour.
    const int T = TruncLimited(threshold * 4096.0f, -(1 << 30), 1 << 30);
    if (premultiplied) {
        TwoColorLoop<true>(src, dst, width, height, T, lowWord, highWord);
    } else {
        TwoColorLoop<false>(src, dst, width, height, T, lowWord, highWord);
    }
}

void BuildGradientTable(const std::uint32_t* row, int gradientWidth, int reverse, int premultiplied,
                        std::uint32_t table[256]) {
    for (int i = 0; i < 256; ++i) {
        std::uint32_t w = row[(i * gradientWidth) >> 8];
        if (premultiplied) w = PremultiplyWord(w);
        table[reverse ? 255 - i : i] = w;
    }
}

void SoftGradientMap(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                     const std::uint32_t table[256], int premultiplied) {
    if (premultiplied) {
        GradientLoop<true>(src, dst, width, height, table);
    } else {
        GradientLoop<false>(src, dst, width, height, table);
    }
}

void SoftReplacement(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                     std::uint32_t target, std::uint32_t replacement, int premultiplied) {
    if (!premultiplied) {
        MapPixels(src, dst, width, height,
                  [=](std::uint32_t w) { return w == target ? replacement : w; });
        return;
    }
    const std::uint32_t newWord = PremultiplyWord(replacement);
    MapPixels(src, dst, width, height, [=](std::uint32_t w) {
        if (Alpha(w) != Alpha(target)) return w;
        int b, g, r;
        ReadColor<true>(w, b, g, r);
        return b == Blue(target) && g == Green(target) && r == Red(target) ? newWord : w;
    });
}

void SoftPremultiplyAlpha(const FilterPixelView& src, const FilterPixelView& dst, int width,
                          int height) {
    // A shift by 8, not a division by 255: what the shader path does too.
    MapPixels(src, dst, width, height, [](std::uint32_t w) {
        const int a = Alpha(w);
        return Word((Blue(w) * a) >> 8, (Green(w) * a) >> 8, (Red(w) * a) >> 8, w & 0xFF000000u);
    });
}

void SoftInterpolateAlpha(const FilterPixelView& src, const FilterPixelView& dst, int width,
                          int height) {
    MapPixels(src, dst, width, height, [](std::uint32_t w) -> std::uint32_t {
        const int a = Alpha(w);
        if (a == 0) return 0;
        auto un = [a](int c) {
            const int v = (c * 255) / a;
            return v > 255 ? 255 : v;
        };
        return Word(un(Blue(w)), un(Green(w)), un(Red(w)), w & 0xFF000000u);
    });
}

HandleValue GetLevelGammaGraph() {
    return LevelGammaGraph;
}

// ---- The bodies ----

int FilterBodyMono(FilterRunInfo* info, float cb, float cr) {
    const MonoSetup setup = PrepareMono(cb, cr);
    if (ShadersUsable()) {
        Backend_Filter_Mono(info, setup.Cb, setup.Cr);
        return 0;
    }
    return RunSoftware(
        info, 1, [&](const TakenViews& v) { SoftMono(v.Src, v.Dst, v.Width, v.Height, setup); });
}

int FilterBodyBrightClip(FilterRunInfo* info, int compare, float threshold, int fill,
                         const float fillColor[4], int premultiplied) {
    if (compare != 2 && compare != 5) return -1;
    if (fill != 0 && fillColor == nullptr) return -1;
    if (ShadersUsable()) {
        Backend_Filter_BrightClip(info, compare, ClampFloat(threshold / 255.0f, 0.0f, 1.0f), fill,
                                  fillColor, premultiplied);
        return 0;
    }
    const std::uint32_t fillWord = fill != 0 ? FilterColorWord(fillColor, premultiplied) : 0;
    // Pixels the filter clips keep the destination's content: the destination is read first.
    return RunSoftware(info, 0, [&](const TakenViews& v) {
        SoftBrightClip(v.Src, v.Dst, v.Width, v.Height, compare, threshold, fill, fillWord,
                       premultiplied);
    });
}

int FilterBodyBrightnessScale(FilterRunInfo* info, int minimum, int maximum, int premultiplied) {
    if (ShadersUsable()) {
        const int lo = minimum < 0 ? 0 : minimum > 254 ? 254 : minimum;
        int hi = maximum < 1 ? 1 : maximum > 255 ? 255 : maximum;
        if (hi == lo) hi = lo + 1;
        Backend_Filter_BrightnessScale(info, lo, hi, premultiplied);
        return 0;
    }
    return RunSoftware(info, 1, [&](const TakenViews& v) {
        SoftBrightnessScale(v.Src, v.Dst, v.Width, v.Height, minimum, maximum, premultiplied);
    });
}

int FilterBodyHsb(FilterRunInfo* info, int hueMode, float hue, float saturation, float brightness,
                  int premultiplied) {
    const HsbSetup setup = PrepareHsb(hueMode, hue, saturation, brightness);
    if (ShadersUsable()) {
        Backend_Filter_Hsb(info, hueMode, setup.Hue, setup.Saturation, setup.Brightness,
                           premultiplied);
        return 0;
    }
    return RunSoftware(info, 1, [&](const TakenViews& v) {
        SoftHsb(v.Src, v.Dst, v.Width, v.Height, hueMode, setup, premultiplied);
    });
}

int FilterBodyInvert(FilterRunInfo* info, int premultiplied) {
    if (ShadersUsable()) {
        Backend_Filter_Invert(info, premultiplied);
        return 0;
    }
    return RunSoftware(info, 1, [&](const TakenViews& v) {
        SoftInvert(v.Src, v.Dst, v.Width, v.Height, premultiplied);
    });
}

int FilterBodyLevel(FilterRunInfo* info, float minimum, float maximum, float gamma, float outMin,
                    float outMax, int premultiplied) {
    const LevelSetup setup = PrepareLevel(minimum, maximum, gamma, outMin, outMax);
    if (ShadersUsable()) {
        RefreshLevelGammaGraph(setup.Gamma);
        Backend_Filter_Level(info, setup.Min, setup.Max, setup.Gamma, setup.OutMin, setup.OutMax,
                             premultiplied);
        return 0;
    }
    return RunSoftware(info, 1, [&](const TakenViews& v) {
        SoftLevel(v.Src, v.Dst, v.Width, v.Height, setup, premultiplied);
    });
}

int FilterBodyTwoColor(FilterRunInfo* info, float threshold, const float low[4],
                       const float high[4], int premultiplied) {
    if (low == nullptr || high == nullptr) return -1;
    if (ShadersUsable()) {
        Backend_Filter_TwoColor(info, threshold, low, high, premultiplied);
        return 0;
    }
    const std::uint32_t lowWord = FilterColorWord(low, premultiplied);
    const std::uint32_t highWord = FilterColorWord(high, premultiplied);
    return RunSoftware(info, 1, [&](const TakenViews& v) {
        SoftTwoColor(v.Src, v.Dst, v.Width, v.Height, threshold, lowWord, highWord, premultiplied);
    });
}

int FilterBodyGradientMap(FilterRunInfo* info, HandleValue gradient, int reverse,
                          int premultiplied) {
    if (ShadersUsable()) {
        Backend_Filter_GradientMap(info, gradient, reverse, premultiplied);
        return 0;
    }
    int gradientWidth = 0, gradientHeight = 0;
    if (GetGraphSize(gradient, &gradientWidth, &gradientHeight) != 0 || gradientWidth <= 0 ||
        gradientHeight <= 0) {
        return -1;
    }
    BASEIMAGE image;
    std::memset(&image, 0, sizeof image);
    if (ReadGraphRectToBaseImage(gradient, &image, nullptr) != 0) return -1;
    std::uint32_t table[256];
    // The image is what was read; never sample past it.
    const int sampleWidth = image.Width < gradientWidth ? image.Width : gradientWidth;
    if (sampleWidth <= 0 || image.Height <= 0) {
        DisposeBaseImage(&image);
        return -1;
    }
    BuildGradientTable(static_cast<const std::uint32_t*>(image.Pixels), sampleWidth, reverse,
                       premultiplied, table);
    DisposeBaseImage(&image);
    return RunSoftware(info, 1, [&](const TakenViews& v) {
        SoftGradientMap(v.Src, v.Dst, v.Width, v.Height, table, premultiplied);
    });
}

int FilterBodyReplacement(FilterRunInfo* info, std::uint32_t target, std::uint32_t replacement,
                          int premultiplied) {
    if (ShadersUsable()) {
        Backend_Filter_Replacement(info, target, replacement, premultiplied);
        return 0;
    }
    return RunSoftware(info, 1, [&](const TakenViews& v) {
        SoftReplacement(v.Src, v.Dst, v.Width, v.Height, target, replacement, premultiplied);
    });
}

int FilterBodyPremultipliedAlpha(FilterRunInfo* info) {
    if (ShadersUsable()) {
        Backend_Filter_PremultipliedAlpha(info);
        return 0;
    }
    return RunSoftware(info, 1, [&](const TakenViews& v) {
        SoftPremultiplyAlpha(v.Src, v.Dst, v.Width, v.Height);
    });
}

int FilterBodyInterpolatedAlpha(FilterRunInfo* info) {
    if (ShadersUsable()) {
        Backend_Filter_InterpolatedAlpha(info);
        return 0;
    }
    return RunSoftware(info, 1, [&](const TakenViews& v) {
        SoftInterpolateAlpha(v.Src, v.Dst, v.Width, v.Height);
    });
}

void ResetLevelGammaGraph() {
    LevelGammaGraph = -1;
    LevelGammaGraphGamma = -10000000.0f;
}

}  // namespace ZiDaz
