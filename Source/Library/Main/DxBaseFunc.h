// The library's base functions: byte blocks, 128-bit arithmetic, thin math wrappers, the sine
// table, and the request to end the library. The library uses these instead of the C run time so
// that they behave the same everywhere, also inside its locks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZiDaz {

// sin(i * 2 pi / 65536) for i = 0 .. 65535; the cosine of the same angle is entry
// (i + 16384) & 0xFFFF. Zero until InitBaseFunctions fills it.
inline constexpr int kSineTableSize = 65536;
extern float SineTable[kSineTableSize];

// Fills SineTable; returns 0.
int InitBaseFunctions();
// Sets the library's end-requested flag; returns 0.
int RequestLibraryEnd();

// Byte blocks.
void CopyByteBlock(void* destination, const void* source, std::size_t size);  // no overlap
void MoveByteBlock(void* destination, const void* source, std::size_t size);  // may overlap
void FillByteBlock(void* destination, int value, std::size_t size);
void FillInts(void* destination, std::int32_t value, std::size_t count);
// 0 when equal (or size 0); at the first differing byte -1 when the first block's byte is greater
// and 1 when it is smaller (unsigned) - the reverse of memcmp's sign.
int CompareByteBlocks(const void* first, const void* second, std::size_t size);

// 128-bit values are four 32-bit words, least significant first; a 64-bit operand is two such
// words, which is the memory form of a std::uint64_t here.
void MultiplyUInt64To128(const std::uint64_t* first, const std::uint64_t* second,
                         std::uint32_t product[4]);
// The low 64 bits of dividend / divisor; the remainder is dropped. A zero divisor gives the
// largest quotient (all bits set).
void DivideUInt128(const std::uint32_t dividend[4], const std::uint64_t* divisor,
                   std::uint64_t* quotient);

// Math wrappers; the float forms compute in double precision and round to float.
float ComputeAcosFloat(float x);
double ComputeAtan2(double y, double x);
float ComputeExpFloat(float x);
double ComputeLog10(double x);
float PowerFloat(float base, float exponent);
float SqrtFloat(float x);
double SqrtDouble(double x);
void SinCosFloat(float angle, float* sine, float* cosine);
void SinCosDouble(double angle, double* sine, double* cosine);
std::int64_t TruncateDoubleToInt64(double x);
void TruncateFloat4ToInt4(const float in[4], std::int32_t out[4]);
void TruncateDouble4ToInt4(const double in[4], std::int32_t out[4]);

}  // namespace ZiDaz
