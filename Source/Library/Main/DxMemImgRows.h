// Row loops of the transfers: one kernel applied along a destination row, with wide loops for the
// settings that dominate real drawing (opaque copies, colour-keyed copies, alpha sprites). Every
// wide loop gives exactly the kernel's result.
#pragma once

#include <cstdint>
#include <cstring>

#include "Main/DxMemImgBlend.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace ZiDaz::memimg {

// The kernel applied pixel by pixel in destination order; safe when source and destination
// overlap.
template <class K>
inline void RunRowInOrder(const PixelContext& c, typename K::Dst* d, const std::uint8_t* s,
                          const std::uint8_t* b, int count) {
    for (int i = 0; i < count; ++i) {
        K::Pixel(c, s + i * K::kSrcBytes, K::kBlend ? b + i : nullptr, d + i);
    }
}

template <class T>
inline void KeyedCopyRow(T* d, const std::uint8_t* s, T key, int count) {
    typedef T Vec __attribute__((vector_size(16)));
    constexpr int kLanes = 16 / sizeof(T);
    Vec keys;
    for (int j = 0; j < kLanes; ++j) keys[j] = key;
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        Vec sv, dv;
        std::memcpy(&sv, s + i * sizeof(T), 16);
        std::memcpy(&dv, d + i, 16);
        const Vec skip = reinterpret_cast<Vec>(sv == keys);
        const Vec r = (dv & skip) | (sv & ~skip);
        std::memcpy(d + i, &r, 16);
    }
    for (; i < count; ++i) {
        T v;
        std::memcpy(&v, s + i * sizeof(T), sizeof(T));
        if (v != key) d[i] = v;
    }
}

// Copies the source pixels whose mask byte is 0 and keeps the others (T of 2 or 4 bytes);
// branch-free sixteen pixels at a time, so that a mask of small patches costs about a plain copy.
template <class T>
inline void CopyWhereMaskZeroRow(T* d, const T* s, const std::uint8_t* mask, int count) {
    static_assert(sizeof(T) == 2 || sizeof(T) == 4);
    int i = 0;
#if defined(__SSE2__) && defined(__x86_64__)
    const __m128i zero = _mm_setzero_si128();
    auto select = [](T* dp, const T* sp, __m128i open) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp));
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dp));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dp),
                         _mm_or_si128(_mm_and_si128(open, sv), _mm_andnot_si128(open, dv)));
    };
    for (; i + 16 <= count; i += 16) {
        const __m128i open =
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + i)), zero);
        const int bits = _mm_movemask_epi8(open);
        if (bits == 0) continue;
        const __m128i lo = _mm_unpacklo_epi8(open, open);
        const __m128i hi = _mm_unpackhi_epi8(open, open);
        if constexpr (sizeof(T) == 2) {
            if (bits == 0xFFFF) {
                std::memcpy(d + i, s + i, 32);
                continue;
            }
            select(d + i, s + i, lo);
            select(d + i + 8, s + i + 8, hi);
        } else {
            if (bits == 0xFFFF) {
                std::memcpy(d + i, s + i, 64);
                continue;
            }
            select(d + i, s + i, _mm_unpacklo_epi16(lo, lo));
            select(d + i + 4, s + i + 4, _mm_unpackhi_epi16(lo, lo));
            select(d + i + 8, s + i + 8, _mm_unpacklo_epi16(hi, hi));
            select(d + i + 12, s + i + 12, _mm_unpackhi_epi16(hi, hi));
        }
    }
#endif
    for (; i < count; ++i)
        if (mask[i] == 0) d[i] = s[i];
}

#if defined(__SSE2__) && defined(__x86_64__)
// 32-bit alpha source with transparency, no tint, no weights: alpha 0 keeps the destination,
// 255 copies the whole source pixel, anything else mixes each colour byte by a / 256 and keeps
// the destination's top byte.
inline void AlphaOverRow32Sse2(std::uint32_t* d, const std::uint8_t* s, int count) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i top = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i colour = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    auto one = [&](int i) {
        std::uint32_t v;
        std::memcpy(&v, s + i * 4, 4);
        const std::uint32_t a = v >> 24;
        if (a == 0) return;
        if (a == 255) {
            d[i] = v;
            return;
        }
        const std::uint32_t dv = d[i];
        const std::uint32_t rb =
            (((dv & 0xFF00FFu) * (256 - a) + (v & 0xFF00FFu) * a) >> 8) & 0xFF00FFu;
        const std::uint32_t g = (((dv & 0xFF00u) * (256 - a) + (v & 0xFF00u) * a) >> 8) & 0xFF00u;
        d[i] = (dv & 0xFF000000u) | rb | g;
    };
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4));
        const __m128i alpha = _mm_and_si128(sv, top);
        const __m128i opaque = _mm_cmpeq_epi32(alpha, top);
        if (_mm_movemask_epi8(opaque) == 0xFFFF) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), sv);
            continue;
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(alpha, zero)) == 0xFFFF) continue;
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i sLo = _mm_unpacklo_epi8(sv, zero);
        const __m128i sHi = _mm_unpackhi_epi8(sv, zero);
        const __m128i dLo = _mm_unpacklo_epi8(dv, zero);
        const __m128i dHi = _mm_unpackhi_epi8(dv, zero);
        // Twice the pixel's alpha in its colour lanes and 0 in its top lane, which so keeps the
        // destination's top byte.
        const __m128i aLo = _mm_and_si128(
            _mm_slli_epi16(_mm_shufflehi_epi16(_mm_shufflelo_epi16(sLo, 0xFF), 0xFF), 1), colour);
        const __m128i aHi = _mm_and_si128(
            _mm_slli_epi16(_mm_shufflehi_epi16(_mm_shufflelo_epi16(sHi, 0xFF), 0xFF), 1), colour);
        // d + floor((s - d) * a / 256), as ((s - d) * 128) * (a * 2) / 65536 rounded down.
        const __m128i mLo =
            _mm_add_epi16(dLo, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(sLo, dLo), 7), aLo));
        const __m128i mHi =
            _mm_add_epi16(dHi, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(sHi, dHi), 7), aHi));
        const __m128i mixed = _mm_packus_epi16(mLo, mHi);
        const __m128i r = _mm_or_si128(_mm_and_si128(opaque, sv), _mm_andnot_si128(opaque, mixed));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), r);
    }
    for (; i < count; ++i) one(i);
}

// 32-bit plain source under DX_BLEND_ALPHA with parameter p (1..254), no tint, no blend image:
// each colour byte becomes floor((d * 256 + (s - d) * p) / 256), the top byte is kept; with
// Key, source pixels equal to key leave the destination as it is.
template <bool Key>
inline void ConstantMixRow32(std::uint32_t* d, const std::uint8_t* s, int count, std::uint32_t p,
                             std::uint32_t key) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i keys = _mm_set1_epi32(static_cast<int>(key));
    const std::int16_t w = static_cast<std::int16_t>(2 * p);
    const __m128i weight = _mm_set_epi16(0, w, w, w, 0, w, w, w);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4));
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i dLo = _mm_unpacklo_epi8(dv, zero);
        const __m128i dHi = _mm_unpackhi_epi8(dv, zero);
        const __m128i diffLo = _mm_slli_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(sv, zero), dLo), 7);
        const __m128i diffHi = _mm_slli_epi16(_mm_sub_epi16(_mm_unpackhi_epi8(sv, zero), dHi), 7);
        __m128i r = _mm_packus_epi16(_mm_add_epi16(dLo, _mm_mulhi_epi16(diffLo, weight)),
                                     _mm_add_epi16(dHi, _mm_mulhi_epi16(diffHi, weight)));
        if constexpr (Key) {
            const __m128i skip = _mm_cmpeq_epi32(sv, keys);
            r = _mm_or_si128(_mm_and_si128(skip, dv), _mm_andnot_si128(skip, r));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), r);
    }
    for (; i < count; ++i) {
        std::uint32_t v;
        std::memcpy(&v, s + i * 4, 4);
        if (Key && v == key) continue;
        const std::uint32_t dv = d[i];
        const std::uint32_t rb =
            (((dv & 0xFF00FFu) * (256 - p) + (v & 0xFF00FFu) * p) >> 8) & 0xFF00FFu;
        const std::uint32_t g = (((dv & 0xFF00u) * (256 - p) + (v & 0xFF00u) * p) >> 8) & 0xFF00u;
        d[i] = (dv & 0xFF000000u) | rb | g;
    }
}

// The same with the widest instructions the processor has.
void AlphaOverRow32(std::uint32_t* d, const std::uint8_t* s, int count);

// CopyWhereMaskZeroRow for 32-bit pixels with the widest instructions the processor has.
void CopyWhereMaskZeroRow32(std::uint32_t* d, const std::uint32_t* s, const std::uint8_t* mask,
                            int count);

// 32-bit alpha source drawn with a blend parameter p (0..255), no tint, no weights: each colour
// byte moves from the destination towards the source by w / 65536, w being p x alpha, or p x 256
// for an opaque pixel when `opaqueWhole` (the transparency rule: an opaque pixel mixes by the
// parameter alone); the destination's top byte stays.
void AlphaMixRow32(std::uint32_t* d, const std::uint8_t* s, int count, std::uint32_t p,
                   bool opaqueWhole);
#endif

// Which loop RunRow runs for a kernel.
enum class RowLoop { kInOrder, kCopy, kKeyedCopy, kAlphaOver, kConstantMix, kAlphaMix };

template <class K>
constexpr RowLoop RowLoopOf() {
    if (K::kCopiesSource && sizeof(typename K::Src) == sizeof(typename K::Dst) &&
        K::kKind != Kind::kPalette) {
        return RowLoop::kCopy;
    }
    if (K::kKind == Kind::kPlain && K::kOp == Op::kNone && K::kWhite && !K::kBlend && K::kKey) {
        return RowLoop::kKeyedCopy;
    }
#if defined(__SSE2__) && defined(__x86_64__)
    if (K::kColorType == 1 && K::kKind == Kind::kAlpha && K::kOp == Op::kNone && K::kWhite &&
        !K::kBlend && K::kKey) {
        return RowLoop::kAlphaOver;
    }
    if (K::kColorType == 1 && K::kKind == Kind::kPlain && K::kOp == Op::kAlpha && K::kWhite &&
        !K::kBlend) {
        return RowLoop::kConstantMix;
    }
    if (K::kColorType == 1 && K::kKind == Kind::kAlpha && K::kOp == Op::kAlpha && K::kWhite &&
        !K::kBlend) {
        return RowLoop::kAlphaMix;
    }
#endif
    return RowLoop::kInOrder;
}

// The kernel along a row whose source pixels are consecutive; the destination does not overlap
// the source. Kernels without a wide loop run RunRowInOrder, so a walker that has to keep pixel
// order for overlapping images needs no second loop for them.
template <class K>
inline void RunRow(const PixelContext& c, typename K::Dst* d, const std::uint8_t* s,
                   const std::uint8_t* b, int count) {
    using Dst = typename K::Dst;
    constexpr RowLoop kLoop = RowLoopOf<K>();
    if constexpr (kLoop == RowLoop::kCopy) {
        std::memcpy(d, s, static_cast<std::size_t>(count) * sizeof(Dst));
    } else if constexpr (kLoop == RowLoop::kKeyedCopy) {
        if (c.key > static_cast<Dst>(~Dst{0})) {
            std::memcpy(d, s, static_cast<std::size_t>(count) * sizeof(Dst));
        } else {
            KeyedCopyRow<Dst>(d, s, static_cast<Dst>(c.key), count);
        }
#if defined(__SSE2__) && defined(__x86_64__)
    } else if constexpr (kLoop == RowLoop::kAlphaOver) {
        AlphaOverRow32(d, s, count);
    } else if constexpr (kLoop == RowLoop::kConstantMix) {
        ConstantMixRow32<K::kKey>(d, s, count, c.param, c.key);
    } else if constexpr (kLoop == RowLoop::kAlphaMix) {
        AlphaMixRow32(d, s, count, c.param, K::kKey);
#endif
    } else {
        RunRowInOrder<K>(c, d, s, b, count);
    }
}

// The kernel along a row whose source pixels are picked by column: destination pixel i takes
// source pixel cols[i] of the row. Pixel by pixel in destination order, so it is also right when
// source and destination overlap.
template <class K>
inline void RunRowIndexed(const PixelContext& c, typename K::Dst* d, const std::uint8_t* s,
                          const std::uint8_t* b, const std::int32_t* cols, int count) {
    using Dst = typename K::Dst;
    using Src = typename K::Src;
    if constexpr (K::kCopiesSource && sizeof(Src) == sizeof(Dst) && K::kKind != Kind::kPalette) {
        for (int i = 0; i < count; ++i) d[i] = LoadPixel<Dst>(s + cols[i] * sizeof(Dst));
    } else {
        for (int i = 0; i < count; ++i) {
            K::Pixel(c, s + cols[i] * K::kSrcBytes, K::kBlend ? b + cols[i] : nullptr, d + i);
        }
    }
}

}  // namespace ZiDaz::memimg
