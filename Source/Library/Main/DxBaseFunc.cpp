#include "Main/DxBaseFunc.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "Main/Windows/DxSystemWin.h"

namespace ZiDaz {

float SineTable[kSineTableSize];

int InitBaseFunctions() {
    // The angle is formed in single precision (pi as the float 3.1415927), its sine taken in
    // double precision and rounded back to float.
    const float pi = 3.1415927f;
    const float step = 1.0f / 65536.0f;
    for (int i = 0; i < kSineTableSize; ++i) {
        float angle = static_cast<float>(i) * pi * 2.0f * step;
        SineTable[i] = static_cast<float>(std::sin(static_cast<double>(angle)));
    }
    return 0;
}

int RequestLibraryEnd() {
    LibrarySystem.endRequested = 1;
    return 0;
}

void CopyByteBlock(void* destination, const void* source, std::size_t size) {
    auto* d = static_cast<unsigned char*>(destination);
    auto* s = static_cast<const unsigned char*>(source);
    for (std::size_t i = 0; i < size; ++i) d[i] = s[i];
}

void MoveByteBlock(void* destination, const void* source, std::size_t size) {
    auto* d = static_cast<unsigned char*>(destination);
    auto* s = static_cast<const unsigned char*>(source);
    if (d < s) {
        for (std::size_t i = 0; i < size; ++i) d[i] = s[i];
    } else if (d > s) {
        for (std::size_t i = size; i > 0; --i) d[i - 1] = s[i - 1];
    }
}

void FillByteBlock(void* destination, int value, std::size_t size) {
    // The C library's fill: zeroed blocks of a megabyte (font records) are filled often.
    std::memset(destination, value, size);
}

void FillInts(void* destination, std::int32_t value, std::size_t count) {
    auto* d = static_cast<unsigned char*>(destination);
    for (std::size_t i = 0; i < count; ++i) {
        for (int k = 0; k < 4; ++k) {
            d[i * 4 + k] = static_cast<unsigned char>(static_cast<std::uint32_t>(value) >> (8 * k));
        }
    }
}

int CompareByteBlocks(const void* first, const void* second, std::size_t size) {
    auto* a = static_cast<const unsigned char*>(first);
    auto* b = static_cast<const unsigned char*>(second);
    for (std::size_t i = 0; i < size; ++i) {
        if (a[i] != b[i]) return a[i] > b[i] ? -1 : 1;
    }
    return 0;
}

void MultiplyUInt64To128(const std::uint64_t* first, const std::uint64_t* second,
                         std::uint32_t product[4]) {
    const std::uint64_t a0 = *first & 0xFFFFFFFF, a1 = *first >> 32;
    const std::uint64_t b0 = *second & 0xFFFFFFFF, b1 = *second >> 32;
    // Schoolbook: four 32 x 32-bit partial products with their carries.
    std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFF) + (p10 & 0xFFFFFFFF);
    std::uint64_t high = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
    product[0] = static_cast<std::uint32_t>(p00);
    product[1] = static_cast<std::uint32_t>(middle);
    product[2] = static_cast<std::uint32_t>(high);
    product[3] = static_cast<std::uint32_t>(high >> 32);
}

void DivideUInt128(const std::uint32_t dividend[4], const std::uint64_t* divisor,
                   std::uint64_t* quotient) {
    // Binary long division, one quotient bit per step from the top; 128 steps at most, also for
    // the cases callers never pass.
    const std::uint64_t d = *divisor;
    if (d == 0) {
        *quotient = ~std::uint64_t{0};
        return;
    }
    std::uint64_t high = (std::uint64_t{dividend[3]} << 32) | dividend[2];
    std::uint64_t low = (std::uint64_t{dividend[1]} << 32) | dividend[0];
    std::uint64_t remainder = 0, q = 0;
    for (int bit = 127; bit >= 0; --bit) {
        std::uint64_t next = bit >= 64 ? (high >> (bit - 64)) & 1 : (low >> bit) & 1;
        bool carry = (remainder >> 63) != 0;  // the shifted remainder would exceed 64 bits
        remainder = (remainder << 1) | next;
        if (carry || remainder >= d) {
            remainder -= d;
            if (bit < 64) q |= std::uint64_t{1} << bit;
        }
    }
    *quotient = q;
}

float ComputeAcosFloat(float x) {
    return static_cast<float>(std::acos(static_cast<double>(x)));
}
double ComputeAtan2(double y, double x) {
    return std::atan2(y, x);
}
float ComputeExpFloat(float x) {
    return static_cast<float>(std::exp(static_cast<double>(x)));
}
double ComputeLog10(double x) {
    return std::log10(x);
}
float PowerFloat(float base, float exponent) {
    return static_cast<float>(std::pow(static_cast<double>(base), static_cast<double>(exponent)));
}
float SqrtFloat(float x) {
    return static_cast<float>(std::sqrt(static_cast<double>(x)));
}
double SqrtDouble(double x) {
    return std::sqrt(x);
}

void SinCosFloat(float angle, float* sine, float* cosine) {
    *sine = static_cast<float>(std::sin(static_cast<double>(angle)));
    *cosine = static_cast<float>(std::cos(static_cast<double>(angle)));
}

void SinCosDouble(double angle, double* sine, double* cosine) {
    *sine = std::sin(angle);
    *cosine = std::cos(angle);
}

namespace {

// Truncation toward zero; a value out of range (or NaN) gives the most negative integer, as the
// processor's own conversion does.
std::int32_t TruncateToInt32(double x) {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
    return static_cast<std::int32_t>(x);
}

}  // namespace

std::int64_t TruncateDoubleToInt64(double x) {
    if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0)) return INT64_MIN;
    return static_cast<std::int64_t>(x);
}

void TruncateFloat4ToInt4(const float in[4], std::int32_t out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = TruncateToInt32(in[i]);
}

void TruncateDouble4ToInt4(const double in[4], std::int32_t out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = TruncateToInt32(in[i]);
}

}  // namespace ZiDaz
