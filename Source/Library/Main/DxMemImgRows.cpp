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

}  // namespace

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
