// Graph blend bodies: the 34 blend types (sixteen channel formulas, the RGBA select mix and the
// premultiplied-alpha form of each) mixing a blend image into a source image.
//
// Each type has its own loop, chosen once per request; the premultiplied form is a compile-time
// switch of the same loop. The straight formulas mix in 16-bit fixed point: k = blend alpha x
// ratio weight, and one multiply and one shift move a channel towards the formula's value.
#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELK_BLEND_AVX2 1
#endif

#include "Main/DxGraphics.h"
#include "Main/DxGraphicsFilter.h"
#include "Main/DxGraphicsFilterPixels.h"

namespace ZiDaz {

namespace {

enum BlendType : int {
    kNormal = 0,
    kRgbaMix = 1,
    kMultiple = 2,
    kDifference = 3,
    kAdd = 4,
    kScreen = 5,
    kOverlay = 6,
    kDodge = 7,
    kBurn = 8,
    kDarken = 9,
    kLighten = 10,
    kSoftLight = 11,
    kHardLight = 12,
    kExclusion = 13,
    kNormalAlphaCh = 14,
    kAddAlphaCh = 15,
    kMultipleAOnly = 16,
    kPremultipliedBase = 17,
};

inline const std::uint32_t* ConstRow(const FilterPixelView& view, int y) {
    return reinterpret_cast<const std::uint32_t*>(view.Pixels +
                                                  static_cast<std::ptrdiff_t>(y) * view.Pitch);
}
inline std::uint32_t* Row(const FilterPixelView& view, int y) {
    return reinterpret_cast<std::uint32_t*>(view.Pixels +
                                            static_cast<std::ptrdiff_t>(y) * view.Pitch);
}

inline int Channel(std::uint32_t w, int shift) {
    return static_cast<int>((w >> shift) & 0xFFu);
}

inline const std::uint8_t* MulRow(int c) {
    return BaseImageModuleState.Multiply255Table[c];
}
inline const std::uint8_t* DivRow(int c) {
    return BaseImageModuleState.Divide255Table[c];
}

// The formulas that divide, raise to a power or choose between halves, tabulated once by (x, y).
struct FormulaTables {
    std::uint8_t Dodge[256][256];
    std::uint8_t Burn[256][256];
    std::uint8_t SoftLight[256][256];
    std::uint8_t Overlay[256][256];
    std::uint8_t HardLight[256][256];
};

const FormulaTables& Tables() {
    static const FormulaTables* tables = [] {
        auto* t = new FormulaTables;
        for (int x = 0; x < 256; ++x) {
            for (int y = 0; y < 256; ++y) {
                int dodge = 255;
                if (y < 255) {
                    dodge = (x * 256) / (255 - y);
                    if (dodge > 255) dodge = 255;
                }
                t->Dodge[x][y] = static_cast<std::uint8_t>(dodge);
                const int low = (2 * x * y) >> 8;
                const int high = std::min(255, ((2 * ((256 - y) * x + 256 * y)) >> 8) - 255);
                t->Overlay[x][y] = static_cast<std::uint8_t>(x < 128 ? low : high);
                t->HardLight[x][y] = static_cast<std::uint8_t>(y < 128 ? low : high);
                int burn = 255 + ((x - 255) * 256) / (y + 1);
                t->Burn[x][y] = static_cast<std::uint8_t>(burn < 0 ? 0 : burn);
                const float v = static_cast<float>(y) / 255.0f;
                const float u = static_cast<float>(x) / 255.0f;
                const float e = y < 128 ? 2.0f * (1.0f - v) : 0.5f / v;
                const float soft = 255.0f * std::pow(u, e);
                t->SoftLight[x][y] =
                    static_cast<std::uint8_t>(soft >= 255.0f ? 255
                                              : soft > 0.0f  ? static_cast<int>(soft)
                                                             : 0);
            }
        }
        return t;
    }();
    return *tables;
}

// f(x, y) of the straight formulas of types 0 and 2..13.
template <int T>
inline int Formula(int x, int y, const FormulaTables& t) {
    if constexpr (T == kNormal) {
        return y;
    } else if constexpr (T == kMultiple) {
        return (x * y) >> 8;
    } else if constexpr (T == kDifference) {
        return x > y ? x - y : 0;
    } else if constexpr (T == kAdd) {
        return x + y > 255 ? 255 : x + y;
    } else if constexpr (T == kScreen) {
        return 255 - (((255 - y) * (255 - x)) >> 8);
    } else if constexpr (T == kOverlay) {
        return t.Overlay[x][y];
    } else if constexpr (T == kHardLight) {
        return t.HardLight[x][y];
    } else if constexpr (T == kDodge) {
        return t.Dodge[x][y];
    } else if constexpr (T == kBurn) {
        return t.Burn[x][y];
    } else if constexpr (T == kDarken) {
        return x < y ? x : y;
    } else if constexpr (T == kLighten) {
        return x > y ? x : y;
    } else if constexpr (T == kSoftLight) {
        return t.SoftLight[x][y];
    } else {
        static_assert(T == kExclusion);
        const int v = (2 * ((128 - y) * x + 128 * y)) >> 8;
        return v > 255 ? 255 : v;
    }
}

template <int T>
inline int MixChannel(int x, int y, int k, const FormulaTables& t) {
    return (x * 65536 + (Formula<T>(x, y, t) - x) * k) >> 16;
}

// Types 0 and 2..13 and their premultiplied forms.
template <int T, bool P>
void FormulaLoop(int r, const FilterPixelView& src, const FilterPixelView& blend,
                 const FilterPixelView& dst, int width, int height) {
    const FormulaTables& t = Tables();
    for (int row = 0; row < height; ++row) {
        const std::uint32_t* s = ConstRow(src, row);
        const std::uint32_t* b = ConstRow(blend, row);
        std::uint32_t* d = Row(dst, row);
        for (int i = 0; i < width; ++i) {
            const std::uint32_t sw = s[i], bw = b[i];
            const int sA = static_cast<int>(sw >> 24);
            const int bA = static_cast<int>(bw >> 24);
            const int k = bA * r;
            std::uint32_t out = sw & 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                int x = Channel(sw, shift), y = Channel(bw, shift);
                if constexpr (P) {
                    x = DivRow(x)[sA];
                    y = DivRow(y)[bA];
                }
                int m = MixChannel<T>(x, y, k, t);
                if constexpr (P) m = MulRow(m & 0xFF)[sA];
                out |= static_cast<std::uint32_t>(m & 0xFF) << shift;
            }
            d[i] = out;
        }
    }
}

// Straight Add, many pixels at a time. f = x + y saturated is never below x, so the mix is
// x + ((f - x) x k) >> 16 exactly: one unsigned high multiply per channel. The even bytes (blue,
// red) and the odd bytes (green, alpha) of each pixel are multiplied in separate 16-bit lanes, the
// alpha with weight 0 so that adding the weighted difference keeps the source alpha; no byte
// shuffles are needed.
#if defined(VELK_BLEND_AVX2)
__attribute__((target("avx512bw"))) int AddRowAvx512(const std::uint32_t* s, const std::uint32_t* b,
                                                     std::uint32_t* d, int width, int r) {
    const __m512i ratio = _mm512_set1_epi32(r);
    const __m512i evenBytes = _mm512_set1_epi16(0x00FF);
    int i = 0;
    for (; i + 16 <= width; i += 16) {
        const __m512i sv = _mm512_loadu_si512(s + i);
        const __m512i bv = _mm512_loadu_si512(b + i);
        const __m512i diff = _mm512_sub_epi8(_mm512_adds_epu8(sv, bv), sv);
        const __m512i kOdd = _mm512_mullo_epi16(_mm512_srli_epi32(bv, 24), ratio);  // k, 0
        const __m512i kEven = _mm512_or_si512(kOdd, _mm512_slli_epi32(kOdd, 16));   // k, k
        const __m512i mEven = _mm512_mulhi_epu16(_mm512_and_si512(diff, evenBytes), kEven);
        const __m512i mOdd = _mm512_mulhi_epu16(_mm512_srli_epi16(diff, 8), kOdd);
        const __m512i m = _mm512_or_si512(mEven, _mm512_slli_epi16(mOdd, 8));
        _mm512_storeu_si512(d + i, _mm512_add_epi8(sv, m));
    }
    return i;
}

__attribute__((target("avx2"))) int AddRowAvx2(const std::uint32_t* s, const std::uint32_t* b,
                                               std::uint32_t* d, int width, int r) {
    const __m256i ratio = _mm256_set1_epi32(r);
    const __m256i evenBytes = _mm256_set1_epi16(0x00FF);
    int i = 0;
    for (; i + 8 <= width; i += 8) {
        const __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i bv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        const __m256i diff = _mm256_sub_epi8(_mm256_adds_epu8(sv, bv), sv);
        const __m256i kOdd = _mm256_mullo_epi16(_mm256_srli_epi32(bv, 24), ratio);
        const __m256i kEven = _mm256_or_si256(kOdd, _mm256_slli_epi32(kOdd, 16));
        const __m256i mEven = _mm256_mulhi_epu16(_mm256_and_si256(diff, evenBytes), kEven);
        const __m256i mOdd = _mm256_mulhi_epu16(_mm256_srli_epi16(diff, 8), kOdd);
        const __m256i m = _mm256_or_si256(mEven, _mm256_slli_epi16(mOdd, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_add_epi8(sv, m));
    }
    return i;
}

bool HasAvx512() {
    static const bool has = __builtin_cpu_supports("avx512bw") != 0;
    return has;
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}
#endif

void AddLoop(int r, const FilterPixelView& src, const FilterPixelView& blend,
             const FilterPixelView& dst, int width, int height) {
#if defined(__SSE2__)
    const __m128i ratio = _mm_set1_epi32(r);
    const __m128i evenBytes = _mm_set1_epi16(0x00FF);
#endif
    const FormulaTables& t = Tables();
    for (int row = 0; row < height; ++row) {
        const std::uint32_t* s = ConstRow(src, row);
        const std::uint32_t* b = ConstRow(blend, row);
        std::uint32_t* d = Row(dst, row);
        int i = 0;
#if defined(VELK_BLEND_AVX2)
        if (HasAvx512()) i = AddRowAvx512(s, b, d, width, r);
        if (HasAvx2()) i += AddRowAvx2(s + i, b + i, d + i, width - i, r);
#endif
#if defined(__SSE2__)
        for (; i + 4 <= width; i += 4) {
            const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i bv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
            const __m128i diff = _mm_sub_epi8(_mm_adds_epu8(sv, bv), sv);
            const __m128i kOdd = _mm_mullo_epi16(_mm_srli_epi32(bv, 24), ratio);
            const __m128i kEven = _mm_or_si128(kOdd, _mm_slli_epi32(kOdd, 16));
            const __m128i mEven = _mm_mulhi_epu16(_mm_and_si128(diff, evenBytes), kEven);
            const __m128i mOdd = _mm_mulhi_epu16(_mm_srli_epi16(diff, 8), kOdd);
            const __m128i m = _mm_or_si128(mEven, _mm_slli_epi16(mOdd, 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_add_epi8(sv, m));
        }
#endif
        for (; i < width; ++i) {
            const std::uint32_t sw = s[i], bw = b[i];
            const int k = static_cast<int>(bw >> 24) * r;
            std::uint32_t out = sw & 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                const int m = MixChannel<kAdd>(Channel(sw, shift), Channel(bw, shift), k, t);
                out |= static_cast<std::uint32_t>(m & 0xFF) << shift;
            }
            d[i] = out;
        }
    }
}

// Types 14 (Normal_AlphaCh), 15 (Add_AlphaCh) and their forms 31 and 32: the blend pixel laid
// over the source with both alphas; the output alpha is the combined one.
template <bool P, bool AddForm>
void AlphaComposeLoop(int r, const FilterPixelView& src, const FilterPixelView& blend,
                      const FilterPixelView& dst, int width, int height) {
    for (int row = 0; row < height; ++row) {
        const std::uint32_t* s = ConstRow(src, row);
        const std::uint32_t* b = ConstRow(blend, row);
        std::uint32_t* d = Row(dst, row);
        for (int i = 0; i < width; ++i) {
            const std::uint32_t sw = s[i], bw = b[i];
            const unsigned sA = sw >> 24;
            const unsigned bA = bw >> 24;
            const unsigned a = (bA * static_cast<unsigned>(r)) >> 8;
            const unsigned sWeight = sA * (256 - a);
            const unsigned bWeight = a * 256;
            const unsigned combined = sWeight + bWeight;
            const unsigned outA = combined >> 8;
            if ((AddForm ? outA : combined) == 0) {
                // Nothing to mix: the pixel is transparent black rather than undefined.
                d[i] = 0;
                continue;
            }
            std::uint32_t out = outA << 24;
            for (int shift = 0; shift < 24; shift += 8) {
                unsigned x = static_cast<unsigned>(Channel(sw, shift));
                unsigned y = static_cast<unsigned>(Channel(bw, shift));
                if constexpr (P) {
                    x = DivRow(static_cast<int>(x))[sA];
                    y = DivRow(static_cast<int>(y))[bA];
                }
                unsigned q;
                if constexpr (AddForm) {
                    q = (y * a + x * sA) / outA;
                    if (q > 255) q = 255;
                } else {
                    q = ((x * sWeight + y * bWeight) / combined) & 0xFF;
                }
                if constexpr (P) q = MulRow(static_cast<int>(q))[outA];
                out |= q << shift;
            }
            d[i] = out;
        }
    }
}

// Types 16 (Multiple_AOnly) and 33: only the alpha is multiplied.
template <bool P>
void AlphaOnlyLoop(int r, const FilterPixelView& src, const FilterPixelView& blend,
                   const FilterPixelView& dst, int width, int height) {
    const int weight = r * 255;
    for (int row = 0; row < height; ++row) {
        const std::uint32_t* s = ConstRow(src, row);
        const std::uint32_t* b = ConstRow(blend, row);
        std::uint32_t* d = Row(dst, row);
        for (int i = 0; i < width; ++i) {
            const std::uint32_t sw = s[i];
            const int sA = static_cast<int>(sw >> 24);
            const int bA = static_cast<int>(b[i] >> 24);
            const int outA = (sA * 65536 + (((bA * sA) >> 8) - sA) * weight) >> 16;
            if constexpr (P) {
                d[i] = static_cast<std::uint32_t>(MulRow(DivRow(Channel(sw, 0))[sA])[outA]) |
                       static_cast<std::uint32_t>(MulRow(DivRow(Channel(sw, 8))[sA])[outA]) << 8 |
                       static_cast<std::uint32_t>(MulRow(DivRow(Channel(sw, 16))[sA])[outA]) << 16 |
                       static_cast<std::uint32_t>(outA) << 24;
            } else {
                d[i] = (sw & 0x00FFFFFFu) | static_cast<std::uint32_t>(outA) << 24;
            }
        }
    }
}

template <bool P>
int RunBasicType(int base, int r, const FilterPixelView& src, const FilterPixelView& blend,
                 const FilterPixelView& dst, int width, int height) {
    switch (base) {
        case kNormal:
            FormulaLoop<kNormal, P>(r, src, blend, dst, width, height);
            break;
        case kMultiple:
            FormulaLoop<kMultiple, P>(r, src, blend, dst, width, height);
            break;
        case kDifference:
            FormulaLoop<kDifference, P>(r, src, blend, dst, width, height);
            break;
        case kAdd:
            if constexpr (P) {
                FormulaLoop<kAdd, P>(r, src, blend, dst, width, height);
            } else {
                AddLoop(r, src, blend, dst, width, height);
            }
            break;
        case kScreen:
            FormulaLoop<kScreen, P>(r, src, blend, dst, width, height);
            break;
        case kOverlay:
            FormulaLoop<kOverlay, P>(r, src, blend, dst, width, height);
            break;
        case kDodge:
            FormulaLoop<kDodge, P>(r, src, blend, dst, width, height);
            break;
        case kBurn:
            FormulaLoop<kBurn, P>(r, src, blend, dst, width, height);
            break;
        case kDarken:
            FormulaLoop<kDarken, P>(r, src, blend, dst, width, height);
            break;
        case kLighten:
            FormulaLoop<kLighten, P>(r, src, blend, dst, width, height);
            break;
        case kSoftLight:
            FormulaLoop<kSoftLight, P>(r, src, blend, dst, width, height);
            break;
        case kHardLight:
            FormulaLoop<kHardLight, P>(r, src, blend, dst, width, height);
            break;
        case kExclusion:
            FormulaLoop<kExclusion, P>(r, src, blend, dst, width, height);
            break;
        case kNormalAlphaCh:
            AlphaComposeLoop<P, false>(r, src, blend, dst, width, height);
            break;
        case kAddAlphaCh:
            AlphaComposeLoop<P, true>(r, src, blend, dst, width, height);
            break;
        case kMultipleAOnly:
            AlphaOnlyLoop<P>(r, src, blend, dst, width, height);
            break;
        default:
            return -1;
    }
    return 0;
}

// Byte position of a selector within its word, and which word; -1 for an unknown code.
inline int SelectorShift(int selector) {
    static const int shifts[8] = {16, 8, 0, 24, 16, 8, 0, 24};
    return selector >= 0 && selector < 8 ? shifts[selector] : -1;
}

bool TakeBlendImages(FilterRunInfo* info) {
    return LockFilterImages(info, 1, -1, -1, nullptr) == 0;
}

int WorkSize(int work, int a, int b, int c) {
    int v = work;
    if (v > a) v = a;
    if (v > b) v = b;
    if (v > c) v = c;
    return v < 0 ? 0 : v;
}

}  // namespace

int BlendRatioWeight(float ratio) {
    if (!(ratio > 0.0f)) return 0;
    if (ratio >= 1.0f) return 256;
    return static_cast<int>(ratio * 256.0f);
}

int SoftBlendBasic(int type, float ratio, const FilterPixelView& src, const FilterPixelView& blend,
                   const FilterPixelView& dst, int width, int height) {
    if (type < 0 || type >= kGraphBlendTypeCount || type == kRgbaMix ||
        type == kRgbaMix + kPremultipliedBase) {
        return -1;
    }
    const int r = BlendRatioWeight(ratio);
    if (type >= kPremultipliedBase) {
        return RunBasicType<true>(type - kPremultipliedBase, r, src, blend, dst, width, height);
    }
    return RunBasicType<false>(type, r, src, blend, dst, width, height);
}

void SoftBlendRgbaMix(const int selectors[4], const FilterPixelView& src,
                      const FilterPixelView& blend, const FilterPixelView& dst, int width,
                      int height) {
    // Output channel order red, green, blue, alpha; byte shifts 16, 8, 0, 24.
    static const int outShifts[4] = {16, 8, 0, 24};
    int shifts[4];
    bool fromBlend[4];
    bool known[4];
    for (int c = 0; c < 4; ++c) {
        shifts[c] = SelectorShift(selectors[c]);
        known[c] = shifts[c] >= 0;
        fromBlend[c] = selectors[c] >= 4;
        if (!known[c]) shifts[c] = 0;
    }
    for (int row = 0; row < height; ++row) {
        const std::uint32_t* s = ConstRow(src, row);
        const std::uint32_t* b = ConstRow(blend, row);
        std::uint32_t* d = Row(dst, row);
        for (int i = 0; i < width; ++i) {
            const std::uint32_t words[2] = {s[i], b[i]};
            std::uint32_t out = 0;
            for (int c = 0; c < 4; ++c) {
                if (!known[c]) continue;
                out |= ((words[fromBlend[c]] >> shifts[c]) & 0xFFu) << outShifts[c];
            }
            d[i] = out;
        }
    }
}

int BlendGraphBasic(FilterRunInfo* info, int p) {
    if (GraphicsSystemState.ShadersUsable == 1) {
        Backend_Blend_Basic(info, p);
        return 0;
    }
    const int type = info->Mode;
    if (type < 0 || type >= kGraphBlendTypeCount || type == kRgbaMix ||
        type == kRgbaMix + kPremultipliedBase) {
        return -1;
    }
    if (!TakeBlendImages(info)) return -1;
    const int width = WorkSize(info->WorkWidth, info->SourceImage.Width, info->BlendImage.Width,
                               info->DestImage.Width);
    const int height = WorkSize(info->WorkHeight, info->SourceImage.Height, info->BlendImage.Height,
                                info->DestImage.Height);
    SoftBlendBasic(type, info->BlendRatio, FilterViewOf(info->SourceImage),
                   FilterViewOf(info->BlendImage), FilterViewOf(info->DestImage), width, height);
    UnlockFilterImages(info);
    return 0;
}

int BlendGraphRgbaMix(FilterRunInfo* info, int red, int green, int blue, int alpha, int p) {
    if (GraphicsSystemState.ShadersUsable == 1) {
        Backend_Blend_RgbaMix(info, red, green, blue, alpha, p);
        return 0;
    }
    if (!TakeBlendImages(info)) return -1;
    const int width = WorkSize(info->WorkWidth, info->SourceImage.Width, info->BlendImage.Width,
                               info->DestImage.Width);
    const int height = WorkSize(info->WorkHeight, info->SourceImage.Height, info->BlendImage.Height,
                                info->DestImage.Height);
    const int selectors[4] = {red, green, blue, alpha};
    SoftBlendRgbaMix(selectors, FilterViewOf(info->SourceImage), FilterViewOf(info->BlendImage),
                     FilterViewOf(info->DestImage), width, height);
    UnlockFilterImages(info);
    return 0;
}

}  // namespace ZiDaz
