// Wide row loops that need more than the baseline instruction set, chosen at run time.
#include "Main/DxMemImgRows.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ZiDaz::memimg {

#if defined(__SSE2__) && defined(__x86_64__)
namespace {

// AlphaOverRow32 eight pixels at a time.
__attribute__((target("avx2"))) void AlphaOverRow32Avx2(std::uint32_t* d, const std::uint8_t* s,
                                                        int count) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i colour =
        _mm256_set_epi16(0, -1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i * 4));
        const __m256i alpha = _mm256_and_si256(sv, top);
        const __m256i opaque = _mm256_cmpeq_epi32(alpha, top);
        const int opaqueBits = _mm256_movemask_epi8(opaque);
        if (opaqueBits == -1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), sv);
            continue;
        }
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(alpha, zero)) == -1) continue;
        const __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i sLo = _mm256_unpacklo_epi8(sv, zero);
        const __m256i sHi = _mm256_unpackhi_epi8(sv, zero);
        const __m256i dLo = _mm256_unpacklo_epi8(dv, zero);
        const __m256i dHi = _mm256_unpackhi_epi8(dv, zero);
        const __m256i aLo = _mm256_and_si256(
            _mm256_slli_epi16(_mm256_shufflehi_epi16(_mm256_shufflelo_epi16(sLo, 0xFF), 0xFF), 1),
            colour);
        const __m256i aHi = _mm256_and_si256(
            _mm256_slli_epi16(_mm256_shufflehi_epi16(_mm256_shufflelo_epi16(sHi, 0xFF), 0xFF), 1),
            colour);
        const __m256i mLo = _mm256_add_epi16(
            dLo, _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(sLo, dLo), 7), aLo));
        const __m256i mHi = _mm256_add_epi16(
            dHi, _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(sHi, dHi), 7), aHi));
        const __m256i mixed = _mm256_packus_epi16(mLo, mHi);
        const __m256i r = _mm256_blendv_epi8(mixed, sv, opaque);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), r);
    }
    if (i < count) AlphaOverRow32Sse2(d + i, s + i * 4, count - i);
}

inline std::uint32_t AlphaMixPixel(std::uint32_t dv, std::uint32_t sv, std::uint32_t p,
                                   bool opaqueWhole) {
    const std::uint32_t a = sv >> 24;
    const std::int32_t w = static_cast<std::int32_t>(opaqueWhole && a == 255 ? p << 8 : p * a);
    std::uint32_t out = dv & 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        const std::int32_t x = static_cast<std::int32_t>((sv >> shift) & 0xFFu);
        const std::int32_t c = static_cast<std::int32_t>((dv >> shift) & 0xFFu);
        // An arithmetic shift floors the negative steps as the exact formula does.
        out |= static_cast<std::uint32_t>(c + (((x - c) * w) >> 16)) << shift;
    }
    return out;
}

void AlphaMixRow32Scalar(std::uint32_t* d, const std::uint8_t* s, int count, std::uint32_t p,
                         bool opaqueWhole) {
    for (int i = 0; i < count; ++i) {
        std::uint32_t v;
        std::memcpy(&v, s + i * 4, 4);
        d[i] = AlphaMixPixel(d[i], v, p, opaqueWhole);
    }
}

// c + floor((x - c) * w / 65536) in each 32-bit lane.
__attribute__((target("avx2"))) inline __m256i MixLanes(__m256i x, __m256i c, __m256i w) {
    return _mm256_add_epi32(c,
                            _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(x, c), w), 16));
}

// AlphaMixRow32 eight pixels at a time, each channel in 32-bit lanes.
__attribute__((target("avx2"))) void AlphaMixRow32Avx2(std::uint32_t* d, const std::uint8_t* s,
                                                       int count, std::uint32_t p,
                                                       bool opaqueWhole) {
    const __m256i pv = _mm256_set1_epi32(static_cast<int>(p));
    const __m256i opaqueWeight =
        _mm256_set1_epi32(static_cast<int>(opaqueWhole ? p << 8 : p * 255));
    const __m256i full = _mm256_set1_epi32(255);
    const __m256i top = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i * 4));
        const __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i a = _mm256_srli_epi32(sv, 24);
        if (_mm256_testz_si256(a, a)) continue;
        const __m256i w = _mm256_blendv_epi8(_mm256_mullo_epi32(a, pv), opaqueWeight,
                                             _mm256_cmpeq_epi32(a, full));
        const __m256i blue = _mm256_and_si256(sv, full), dBlue = _mm256_and_si256(dv, full);
        const __m256i green = _mm256_and_si256(_mm256_srli_epi32(sv, 8), full);
        const __m256i dGreen = _mm256_and_si256(_mm256_srli_epi32(dv, 8), full);
        const __m256i red = _mm256_and_si256(_mm256_srli_epi32(sv, 16), full);
        const __m256i dRed = _mm256_and_si256(_mm256_srli_epi32(dv, 16), full);

        const __m256i out =
            _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(dv, top), MixLanes(blue, dBlue, w)),
                            _mm256_or_si256(_mm256_slli_epi32(MixLanes(green, dGreen, w), 8),
                                            _mm256_slli_epi32(MixLanes(red, dRed, w), 16)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), out);
    }
    if (i < count) AlphaMixRow32Scalar(d + i, s + i * 4, count - i, p, opaqueWhole);
}

// Eight pixels at a time, the open ones chosen by a byte blend (a masked store is slow on some
// processors).
__attribute__((target("avx2"))) void CopyWhereMaskZeroRow32Avx2(std::uint32_t* d,
                                                                const std::uint32_t* s,
                                                                const std::uint8_t* mask,
                                                                int count) {
    const __m256i zero = _mm256_setzero_si256();
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i open = _mm256_cmpeq_epi32(
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(mask + i))),
            zero);
        const int bits = _mm256_movemask_epi8(open);
        if (bits == 0) continue;
        const __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        if (bits == -1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), sv);
            continue;
        }
        const __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_blendv_epi8(dv, sv, open));
    }
    for (; i < count; ++i)
        if (mask[i] == 0) d[i] = s[i];
}

}  // namespace

void CopyWhereMaskZeroRow32(std::uint32_t* d, const std::uint32_t* s, const std::uint8_t* mask,
                            int count) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        CopyWhereMaskZeroRow32Avx2(d, s, mask, count);
    } else {
        CopyWhereMaskZeroRow(d, s, mask, count);
    }
}

void AlphaMixRow32(std::uint32_t* d, const std::uint8_t* s, int count, std::uint32_t p,
                   bool opaqueWhole) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        AlphaMixRow32Avx2(d, s, count, p, opaqueWhole);
    } else {
        AlphaMixRow32Scalar(d, s, count, p, opaqueWhole);
    }
}

void AlphaOverRow32(std::uint32_t* d, const std::uint8_t* s, int count) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        AlphaOverRow32Avx2(d, s, count);
    } else {
        AlphaOverRow32Sse2(d, s, count);
    }
}
#endif

}  // namespace ZiDaz::memimg
