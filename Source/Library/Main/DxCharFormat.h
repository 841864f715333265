// The library's own printf and scanf engines. They work in every CharEncoding: the format, the
// output buffer and the scanned text are in one encoding; string and character arguments come in
// the narrow or the wide argument encoding and are converted on the way. Sizes are in code units of
// the output encoding; the output is never written past its size and is always terminated.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace ZiDaz {

// Formatted output. `wideCall` is 0 for the narrow entry points and 1 for the wide ones: it picks
// the argument encoding of %s and %c (%S and %C take the other one). Returns the code units
// written without the terminator, 0 when the buffer cannot hold even the terminator, -1 when the
// format cannot be expanded for lack of memory.
int FormatCodeStringV(int32_t outputEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                      int32_t wideArgEncoding, void* buffer, int32_t size, const void* format,
                      va_list args);
int FormatCodeString(int32_t outputEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                     int32_t wideArgEncoding, void* buffer, int32_t size, const void* format, ...);
// The unbounded forms trust the caller's buffer (a size of 0x7FFFFFFF units).
int FormatCodeStringUnbounded(int32_t outputEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                              int32_t wideArgEncoding, void* buffer, const void* format, ...);
int FormatCodeStringUnboundedV(int32_t outputEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                               int32_t wideArgEncoding, void* buffer, const void* format,
                               va_list args);

// Wrappers in the library's narrow and wide encodings.
int FormatNarrowString(char* buffer, int32_t size, const char* format, ...);
int FormatWideString(char16_t* buffer, int32_t size, const char16_t* format, ...);
int FormatWideStringV(char16_t* buffer, int32_t size, const char16_t* format, va_list args);
int FormatWideStringUnbounded(char16_t* buffer, const char16_t* format, ...);

// Formatted input: reads fields of `text` under `format` (both in `textEncoding`), stores them
// through the pointer arguments and returns the number of fields stored.
int ScanCodeStringV(int32_t textEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                    int32_t wideArgEncoding, const void* text, const void* format, va_list args);
int ScanCodeString(int32_t textEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                   int32_t wideArgEncoding, const void* text, const void* format, ...);

// Exact conversions between doubles and decimal digits, shared by both engines.
namespace FormatDigits {

// Digits as ASCII '0'-'9'. `count` digits are stored, followed by `zeros` further '0' digits that
// are not stored (the exact expansion ended before them).
struct DecimalText {
    const char* digits;
    int count;
    int64_t zeros;
    // Fixed form: the number of integer digits (0 when the value is below 1).
    // Significant form: the decimal exponent of the first digit.
    int point;
};

// Room for the longest text either form produces: 309 integer digits and the exact fraction of
// the smallest subnormal (1,074 digits), plus look-ahead.
inline constexpr int kDigitRoom = 1536;

// Fixed form of a finite value >= 0 with `precision` fraction digits. The digits are exact; the
// last kept digit is rounded up only when the dropped part is greater than half a unit of it.
void FixedDigits(double value, int64_t precision, char (&room)[kDigitRoom], DecimalText& out);
// `count` (>= 1) significant digits of a finite value >= 0 with the same rounding; zero gives
// one digit 0 and the exponent 0.
void SignificantDigits(double value, int64_t count, char (&room)[kDigitRoom], DecimalText& out);

// The double (or, with `toFloat`, the float) nearest to digits × 10^exponent, ties to even.
// `digits` are values 0-9, most significant first.
double DecimalToBinary(const uint8_t* digits, int count, int64_t exponent, bool toFloat);

}  // namespace FormatDigits

}  // namespace ZiDaz
