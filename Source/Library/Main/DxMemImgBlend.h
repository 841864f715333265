// The per-pixel kernels of the software renderer's transfers, and the variant tables that pick
// one kernel per call.
//
// A transfer is a walker (which destination pixels, which source pixel each one takes) run with
// one kernel (what a source pixel does to a destination pixel). Kernels are templates over every
// setting that is decided once per call: colour type, kind of source, blend mode, blend image,
// white or tinted bright colour and transparency. A walker is a class template over the kernel;
// MakeVariantTable instantiates it for every kernel, and SelectMemImgVariant picks the entry for
// the current drawing state. Where transfer families differ for the same case, the difference is
// a member of Rules, not a second kernel.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "Main/DxMemImg.h"

namespace ZiDaz::memimg {

enum class Kind : int { kPlain, kPalette, kAlpha };
enum class Op : int { kNone, kAlpha, kAdd, kSubtract, kMultiply, kInvertSource, kMultiplyAlpha };
inline constexpr int kKindCount = 3;
inline constexpr int kOpCount = 7;
inline constexpr int kVariantCount = 2 * kKindCount * kOpCount * 2 * 2 * 2;

// The points on which transfer families disagree for the same settings.
struct Rules {
    // An alpha source without transparency, DX_BLEND_NONE, white bright colour and no blend image
    // copies whole source pixels (true) or mixes each by its alpha like every other case (false).
    bool alphaCopiesWhole;
    // With transparency, an alpha-0 source pixel under DX_BLEND_MULTIPLY is drawn by the alpha
    // formula, which blackens the colour channels (true), or skipped as in every other mode
    // (false).
    bool keyedClearAlphaMultiplies = false;
};
inline constexpr Rules kPlainTransferRules{true};
inline constexpr Rules kStretchTransferRules{false};
inline constexpr Rules kTriangleTransferRules{false, true};
inline constexpr Rules kRotatedTransferRules{false, true};

// Everything a kernel reads besides the pixels, fixed once per call.
struct PixelContext {
    const std::int32_t* paramRow;        // MemImgScaleTable[BlendParam]
    const std::int32_t* signedParamRow;  // MemImgSignedScaleTable[BlendParam] + 256
    const std::int32_t* brightRow[3];    // MemImgScaleTable rows of bright red, green, blue
    const std::uint8_t* blendTable;      // BlendImageTable
    const void* palette;
    std::uint32_t key;
    std::uint32_t param;
};

// Packed channel arithmetic on whole pixels with carry guards.
constexpr std::uint32_t PackedAdd32(std::uint32_t d, std::uint32_t t) {
    const std::uint32_t l = (d & 0xFEFEFFu) + (t & 0xFEFEFFu);
    const std::uint32_t c = l & 0x1010100u;
    return (c - (c >> 8)) | l | ((d | t) & 0x10100u);
}
constexpr std::uint32_t PackedSubtract32(std::uint32_t d, std::uint32_t t) {
    const std::uint32_t l = (d | 0x1010100u) - (t & 0xFEFEFEFFu);
    const std::uint32_t c = l & 0x1010100u;
    return (c - (c >> 8)) & l;
}
constexpr std::uint16_t PackedAdd16(std::uint32_t d, std::uint32_t t) {
    const std::uint32_t l = (d & 0xF7DFu) + (t & 0xF7DFu);
    const std::uint32_t c = l & 0x8210820u;
    return static_cast<std::uint16_t>((c - (c >> 5)) | l | ((d | t) & 0x0820u));
}
constexpr std::uint16_t PackedSubtract16(std::uint32_t d, std::uint32_t t) {
    const std::uint32_t l = (d | 0x8210820u) - (t & 0xF7DEF7DFu);
    const std::uint32_t c = l & 0x8210820u;
    return static_cast<std::uint16_t>((c - (c >> 5)) & l);
}

// Channel layout of a colour type; channel 0 red, 1 green, 2 blue.
template <int CT>
struct Channels;
template <>
struct Channels<0> {
    static constexpr int kShift[3] = {11, 5, 0};
    static constexpr int kWidth[3] = {5, 6, 5};
    static constexpr std::uint32_t kMax[3] = {31, 63, 31};
};
template <>
struct Channels<1> {
    static constexpr int kShift[3] = {16, 8, 0};
    static constexpr int kWidth[3] = {8, 8, 8};
    static constexpr std::uint32_t kMax[3] = {255, 255, 255};
};

template <class T>
inline T LoadPixel(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

// floor((d * 2^n + (x - d) * w) / 2^n), which never goes negative because w < 2^n.
inline std::uint32_t Mix(std::uint32_t x, std::uint32_t d, std::uint32_t w, int n) {
    return static_cast<std::uint32_t>(
        (static_cast<std::uint64_t>(d) * ((std::uint64_t{1} << n) - w) +
         static_cast<std::uint64_t>(x) * w) >>
        n);
}

template <int CT, Kind K, Op M, bool Blend, bool White, bool Key, Rules R>
struct Kernel {
    using Dst = std::conditional_t<CT == 1, std::uint32_t, std::uint16_t>;
    using Src = std::conditional_t<K == Kind::kPalette, std::uint8_t,
                                   std::conditional_t<K == Kind::kAlpha, std::uint32_t, Dst>>;
    static constexpr int kColorType = CT;
    static constexpr Kind kKind = K;
    static constexpr Op kOp = M;
    static constexpr bool kBlend = Blend;
    static constexpr bool kWhite = White;
    static constexpr bool kKey = Key;
    static constexpr int kSrcBytes = sizeof(Src);
    static constexpr bool kHasParam = M == Op::kAlpha || M == Op::kAdd || M == Op::kSubtract ||
                                      M == Op::kInvertSource || M == Op::kMultiplyAlpha;
    // An alpha pixel copied whole, alpha ignored.
    static constexpr bool kAlphaCopiesWhole =
        K == Kind::kAlpha && !Key && M == Op::kNone && !Blend && White && R.alphaCopiesWhole;
    // Every destination pixel becomes the source colour whatever it held before.
    static constexpr bool kCopiesSource =
        M == Op::kNone && !Blend && White && !Key && (K != Kind::kAlpha || kAlphaCopiesWhole);

    static inline void Pixel(const PixelContext& c, const std::uint8_t* src,
                             const std::uint8_t* blend, Dst* d) {
        const Src raw = LoadPixel<Src>(src);
        std::uint32_t q = 0;
        if constexpr (Blend) q = c.blendTable[*blend];
        if constexpr (K != Kind::kAlpha) {
            if constexpr (Key) {
                if (static_cast<std::uint32_t>(raw) == c.key) return;
            }
            Dst s;
            if constexpr (K == Kind::kPalette) {
                s = static_cast<const Dst*>(c.palette)[raw];
            } else {
                s = raw;
            }
            Apply<false>(c, s, 0, q, d);
        } else {
            const std::uint32_t a = CT == 1 ? raw >> 24 : (raw >> 16) & 0xFFu;
            const Dst s = static_cast<Dst>(raw);
            if constexpr (Key) {
                constexpr bool kClearDrawn = M == Op::kMultiply && R.keyedClearAlphaMultiplies;
                if (!kClearDrawn && a == 0) return;
                if (a == 255) {
                    Apply<false>(c, s, 0, q, d);
                } else {
                    Apply<true>(c, s, a, q, d);
                }
            } else if constexpr (kAlphaCopiesWhole) {
                *d = s;
            } else {
                Apply<true>(c, s, a, q, d);
            }
        }
    }

    // One pixel of source colour s with alpha a (a weight factor when HasA) and blend weight q.
    template <bool HasA>
    static inline void Apply(const PixelContext& c, Dst s, std::uint32_t a, std::uint32_t q,
                             Dst* dp) {
        using Ch = Channels<CT>;
        constexpr int nF = int{kHasParam} + int{Blend} + int{HasA};
        constexpr int n = 8 * nF;
        const std::uint32_t P = c.param;
        std::uint32_t W = 1;
        if constexpr (kHasParam) W *= P;
        if constexpr (Blend) W *= q;
        if constexpr (HasA) W *= a;
        const std::uint32_t d = *dp;

        if constexpr (M == Op::kNone && nF == 0 && White) {
            *dp = s;
            return;
        }
        // Source channel and operand (inverted for DX_BLEND_INVERT_SOURCE, then tinted).
        auto source = [&](int ch) -> std::uint32_t {
            return (static_cast<std::uint32_t>(s) >> Ch::kShift[ch]) & Ch::kMax[ch];
        };
        auto operand = [&](int ch) -> std::uint32_t {
            std::uint32_t v = source(ch);
            if constexpr (M == Op::kInvertSource) v = Ch::kMax[ch] - v;
            if constexpr (!White) v = static_cast<std::uint32_t>(c.brightRow[ch][v]);
            return v;
        };
        auto dest = [&](int ch) -> std::uint32_t { return (d >> Ch::kShift[ch]) & Ch::kMax[ch]; };
        constexpr std::uint32_t kTop = CT == 1 ? 0xFF000000u : 0u;

        if constexpr (M == Op::kAdd || M == Op::kSubtract) {
            std::uint32_t t = 0;
            for (int ch = 0; ch < 3; ++ch) {
                std::uint32_t tc;
                if constexpr (nF == 1) {
                    tc = static_cast<std::uint32_t>(c.paramRow[operand(ch)]);
                } else if constexpr (CT == 1) {
                    tc = static_cast<std::uint32_t>((static_cast<std::uint64_t>(operand(ch)) * W) >>
                                                    n);
                } else if constexpr (HasA && !Blend && !White) {
                    // Alpha before the tint on 16-bit pixels.
                    const std::uint32_t scaled = (source(ch) * a) >> 8;
                    tc = static_cast<std::uint32_t>(c.paramRow[c.brightRow[ch][scaled]]);
                } else {
                    std::uint32_t V = 1;  // the factors other than P
                    if constexpr (Blend) V *= q;
                    if constexpr (HasA) V *= a;
                    const std::uint32_t u = static_cast<std::uint32_t>(
                        (static_cast<std::uint64_t>(operand(ch)) * V) >> (n - 8));
                    tc = static_cast<std::uint32_t>(c.paramRow[u]);
                }
                t |= tc << Ch::kShift[ch];
            }
            if constexpr (CT == 1) {
                *dp = M == Op::kAdd ? PackedAdd32(d, t) : PackedSubtract32(d, t);
            } else {
                *dp = M == Op::kAdd ? PackedAdd16(d, t) : PackedSubtract16(d, t);
            }
            return;
        }

        std::uint32_t out = d & kTop;
        for (int ch = 0; ch < 3; ++ch) {
            const std::uint32_t x = operand(ch);
            const std::uint32_t dc = dest(ch);
            std::uint32_t r;
            if constexpr (M == Op::kNone) {
                r = nF == 0 ? x : Mix(x, dc, W, n);
            } else if constexpr (M == Op::kAlpha || M == Op::kInvertSource) {
                if constexpr (CT == 0 && nF == 1) {
                    r = static_cast<std::uint32_t>(static_cast<std::int32_t>(dc) +
                                                   c.signedParamRow[static_cast<std::int32_t>(x) -
                                                                    static_cast<std::int32_t>(dc)]);
                } else {
                    r = Mix(x, dc, W, n);
                }
            } else if constexpr (M == Op::kMultiply) {
                r = static_cast<std::uint32_t>((static_cast<std::uint64_t>(x) * dc * W) >>
                                               (Ch::kWidth[ch] + n));
            } else {  // kMultiplyAlpha
                const std::uint32_t m = (x * dc) >> Ch::kWidth[ch];
                if constexpr (CT == 0 && nF == 1) {
                    r = static_cast<std::uint32_t>(static_cast<std::int32_t>(dc) +
                                                   c.signedParamRow[static_cast<std::int32_t>(m) -
                                                                    static_cast<std::int32_t>(dc)]);
                } else if constexpr (CT == 0 && HasA && !Blend && White) {
                    if (ch == 1) {
                        // Green keeps five more fraction bits of the product.
                        const std::int64_t mg = (static_cast<std::int64_t>(x) * dc) >> 1;
                        const std::int64_t num = (static_cast<std::int64_t>(dc) << 21) +
                                                 (mg - 32 * static_cast<std::int64_t>(dc)) *
                                                     static_cast<std::int64_t>(P) * a;
                        r = static_cast<std::uint32_t>(num >> 21);
                    } else {
                        r = Mix(m, dc, W, n);
                    }
                } else {
                    r = Mix(m, dc, W, n);
                }
            }
            out |= r << Ch::kShift[ch];
        }
        *dp = static_cast<Dst>(out);
    }
};

// Index of a variant in a variant table.
constexpr int VariantIndex(int colorType, Kind kind, Op op, bool blend, bool white, bool key) {
    return ((((colorType * kKindCount + static_cast<int>(kind)) * kOpCount + static_cast<int>(op)) *
                 2 +
             int{blend}) *
                2 +
            int{white}) *
               2 +
           int{key};
}

template <int I, Rules R>
using KernelAt =
    Kernel<I / (kKindCount * kOpCount * 8), static_cast<Kind>((I / (kOpCount * 8)) % kKindCount),
           static_cast<Op>((I / 8) % kOpCount), ((I / 4) % 2) != 0, ((I / 2) % 2) != 0,
           (I % 2) != 0, R>;

// A table holding Walker<K>::Run for every kernel K under the rules R, entry i for KernelAt<i>.
// The entries are one pack expanded in a braced list rather than a fold expression: a fold of
// every variant nests as deep as the table is long, beyond what compilers accept by default.
template <template <class> class Walker, Rules R, std::size_t... I>
constexpr auto MakeVariantTableOf(std::index_sequence<I...>) {
    using Fn = decltype(&Walker<KernelAt<0, R>>::Run);
    return std::array<Fn, sizeof...(I)>{{&Walker<KernelAt<static_cast<int>(I), R>>::Run...}};
}
template <template <class> class Walker, Rules R>
constexpr auto MakeVariantTable() {
    return MakeVariantTableOf<Walker, R>(std::make_index_sequence<kVariantCount>{});
}

// The operation of a blend mode and parameter after the parameter shortcuts (DX_BLEND_ALPHA at 255
// is DX_BLEND_NONE); false when nothing is to be drawn (a mode without rules, or DX_BLEND_ALPHA,
// DX_BLEND_ADD or DX_BLEND_SUBTRACT at 0).
bool SelectMemImgOp(int mode, int param, Op* op);

// The table rows, blend-image table, palette and transparent colour of a draw under the current
// MemImgDrawState; source may be null for a draw of one constant colour.
void SetupMemImgPixelContext(const MemImgShared* source, PixelContext* context);

// Chooses the variant for a source drawn under the current MemImgDrawState, after the call's own
// refusals: false when nothing is to be drawn (colour type 2 or 3, a blend mode without rules, or
// a parameter that draws nothing). key is the transparency in effect.
bool SelectMemImgVariant(const MemImgShared* source, bool key, bool blend, int* index,
                         PixelContext* context);

}  // namespace ZiDaz::memimg
