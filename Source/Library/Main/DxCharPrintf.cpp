// The library's printf engine and its exact digit generator.
//
// Floating-point text is produced from the exact binary value: the integer part through a big
// integer, the fraction by multiplying the remaining fraction by 10^9 per step. The last kept digit
// is rounded up only when the dropped part is greater than half a unit of it (an exact half is
// dropped), so the text never depends on the run time's rounding mode.

#include "Main/DxCharFormat.h"

#include <cmath>
#include <cstring>

#include "Main/DxChar.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

namespace FormatDigits {
namespace {

// Unsigned big integer of fixed capacity, 32-bit words, least significant first. Large enough for
// the biggest value either engine builds (a 255 + 255 digit decimal scaled by 10^836).
class BigNum {
  public:
    static constexpr int kWords = 192;

    void Set(uint64_t v) {
        n_ = 0;
        while (v != 0) {
            w_[n_++] = static_cast<uint32_t>(v);
            v >>= 32;
        }
    }
    bool IsZero() const { return n_ == 0; }
    int BitLength() const { return n_ == 0 ? 0 : (n_ - 1) * 32 + 32 - __builtin_clz(w_[n_ - 1]); }

    // this = this * m + add
    void MulAdd(uint32_t m, uint32_t add) {
        uint64_t carry = add;
        for (int i = 0; i < n_; ++i) {
            uint64_t t = static_cast<uint64_t>(w_[i]) * m + carry;
            w_[i] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        if (carry != 0 && n_ < kWords) w_[n_++] = static_cast<uint32_t>(carry);
    }
    void MulPow10(int64_t exponent) {
        for (; exponent >= 9; exponent -= 9) MulAdd(1000000000u, 0);
        static constexpr uint32_t kSmall[9] = {1,      10,      100,      1000,     10000,
                                               100000, 1000000, 10000000, 100000000};
        if (exponent > 0) MulAdd(kSmall[exponent], 0);
    }
    // this /= d; returns the remainder.
    uint32_t DivSmall(uint32_t d) {
        uint64_t r = 0;
        for (int i = n_ - 1; i >= 0; --i) {
            uint64_t t = (r << 32) | w_[i];
            w_[i] = static_cast<uint32_t>(t / d);
            r = t % d;
        }
        Trim();
        return static_cast<uint32_t>(r);
    }
    void ShiftLeft(int bits) {
        if (n_ == 0 || bits <= 0) return;
        int words = bits / 32, shift = bits % 32;
        int old = n_;
        int count = n_ + words + 1;
        if (count > kWords) count = kWords;
        for (int i = count - 1; i >= 0; --i) {
            int src = i - words;
            uint32_t hi = (src >= 0 && src < old) ? w_[src] : 0;
            uint32_t lo = (src >= 1 && src - 1 < old) ? w_[src - 1] : 0;
            w_[i] = shift != 0 ? (hi << shift) | (lo >> (32 - shift)) : hi;
        }
        n_ = count;
        Trim();
    }
    void ShiftRight1() {
        for (int i = 0; i < n_; ++i) w_[i] = (w_[i] >> 1) | (i + 1 < n_ ? w_[i + 1] << 31 : 0);
        Trim();
    }
    int Compare(const BigNum& o) const {
        if (n_ != o.n_) return n_ < o.n_ ? -1 : 1;
        for (int i = n_ - 1; i >= 0; --i)
            if (w_[i] != o.w_[i]) return w_[i] < o.w_[i] ? -1 : 1;
        return 0;
    }
    // this -= o, with this >= o.
    void Subtract(const BigNum& o) {
        int64_t borrow = 0;
        for (int i = 0; i < n_; ++i) {
            int64_t t = static_cast<int64_t>(w_[i]) - (i < o.n_ ? o.w_[i] : 0) - borrow;
            borrow = t < 0;
            w_[i] = static_cast<uint32_t>(t);
        }
        Trim();
    }
    // The bits from `bit` up as a number below 2^32 (the caller knows it fits), then those bits
    // are cleared.
    uint32_t TakeBitsFrom(int bit) {
        int q = bit / 32, s = bit % 32;
        if (q >= n_) return 0;
        uint64_t lo = w_[q], hi = q + 1 < n_ ? w_[q + 1] : 0;
        uint32_t result = static_cast<uint32_t>(((hi << 32) | lo) >> s);
        w_[q] &= s == 0 ? 0u : (1u << s) - 1u;
        n_ = q + 1;
        Trim();
        return result;
    }
    // The top 64 bits; `exponent` receives the weight of their lowest bit, `sticky` whether any
    // lower bit is set.
    uint64_t Top64(int& exponent, bool& sticky) const {
        int length = BitLength();
        int drop = length > 64 ? length - 64 : 0;
        uint64_t result = 0;
        for (int b = 63; b >= 0; --b) {
            int bit = drop + b;
            if (bit < length && (w_[bit / 32] >> (bit % 32) & 1u)) result |= uint64_t{1} << b;
        }
        sticky = false;
        for (int bit = 0; bit < drop && !sticky; ++bit) sticky = (w_[bit / 32] >> (bit % 32)) & 1u;
        exponent = drop;
        return result;
    }

  private:
    void Trim() {
        while (n_ > 0 && w_[n_ - 1] == 0) --n_;
    }
    uint32_t w_[kWords];
    int n_ = 0;
};

// A fraction r / 2^k that fits in 128 bits (k <= 98, so r * 10^9 still fits).
class SmallFraction {
  public:
    SmallFraction(unsigned __int128 r, int k) : r_(r), k_(k) {}
    bool IsZero() const { return r_ == 0; }
    uint32_t Next9() {
        r_ *= 1000000000u;
        uint32_t chunk = static_cast<uint32_t>(r_ >> k_);
        r_ &= (static_cast<unsigned __int128>(1) << k_) - 1;
        return chunk;
    }

  private:
    unsigned __int128 r_;
    int k_;
};

// A fraction r / 2^k of any size.
class BigFraction {
  public:
    BigFraction(uint64_t r, int k) : k_(k) { r_.Set(r); }
    bool IsZero() const { return r_.IsZero(); }
    uint32_t Next9() {
        r_.MulAdd(1000000000u, 0);
        return r_.TakeBitsFrom(k_);
    }

  private:
    BigNum r_;
    int k_;
};

void WriteChunk9(char* at, uint32_t chunk) {
    for (int i = 8; i >= 0; --i) {
        at[i] = static_cast<char>('0' + chunk % 10);
        chunk /= 10;
    }
}

int WriteUInt64(char* at, uint64_t v) {
    if (v == 0) return 0;
    char tmp[20];
    int n = 0;
    while (v != 0) {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    for (int i = 0; i < n; ++i) at[i] = tmp[n - 1 - i];
    return n;
}

int WriteBigInteger(char* at, BigNum& v) {
    uint32_t chunks[40];
    int n = 0;
    while (!v.IsZero() && n < 40) chunks[n++] = v.DivSmall(1000000000u);
    if (n == 0) return 0;
    int len = WriteUInt64(at, chunks[n - 1]);
    for (int i = n - 2; i >= 0; --i, len += 9) WriteChunk9(at + len, chunks[i]);
    return len;
}

// Whether the dropped digits (and a non-zero rest of the fraction) exceed half a unit.
bool DroppedExceedsHalf(const char* tail, int count, bool restNonZero) {
    if (tail[0] != '5') return tail[0] > '5';
    for (int i = 1; i < count; ++i)
        if (tail[i] != '0') return true;
    return restNonZero;
}

// Adds one unit at digits[end - 1]; returns true when the carry ran out of the front.
bool PropagateCarry(char* digits, int begin, int end) {
    for (int i = end - 1; i >= begin; --i) {
        if (digits[i] != '9') {
            ++digits[i];
            return false;
        }
        digits[i] = '0';
    }
    return true;
}

// Digits beyond the integer part stop growing once enough are known; the room is a safety net.
constexpr int kLastChunkStart = kDigitRoom - 1 - 9;

// Generates the digits after d[len] until the cut at `cut` is passed (or the fraction ends),
// then rounds at the cut: len becomes the cut when there were more digits. True when the rounding
// carried out of the digit at `first`, which then must become a new leading 1.
template <class Fraction>
bool GrowAndRoundAt(char* d, int first, int& len, int64_t cut, Fraction& fraction) {
    while (len <= cut && !fraction.IsZero() && len <= kLastChunkStart) {
        WriteChunk9(d + len, fraction.Next9());
        len += 9;
    }
    if (len <= cut) return false;
    int c = static_cast<int>(cut);
    bool up = DroppedExceedsHalf(d + c, len - c, !fraction.IsZero());
    len = c;
    return up && PropagateCarry(d, first, c);
}

template <class Fraction>
void FixedFrom(char* d, int intCount, Fraction& fraction, int64_t precision, DecimalText& out) {
    int len = intCount;
    if (GrowAndRoundAt(d, 0, len, intCount + precision, fraction)) {
        --d;
        d[0] = '1';
        ++intCount;
        ++len;
    }
    out.digits = d;
    out.count = len;
    out.point = intCount;
    out.zeros = precision - (len - intCount);
}

template <class Fraction>
void SignificantFrom(char* d, int intCount, Fraction& fraction, int64_t count, DecimalText& out) {
    int len = intCount, first = 0, exponent = intCount - 1;
    if (intCount == 0) {
        int skipped = 0;
        for (;;) {
            uint32_t chunk = fraction.Next9();
            if (chunk == 0) {
                skipped += 9;
                continue;
            }
            WriteChunk9(d, chunk);
            while (d[first] == '0') ++first;
            exponent = -(skipped + first + 1);
            len = 9;
            break;
        }
    }
    if (GrowAndRoundAt(d, first, len, first + count, fraction)) {
        // All digits were 9: the text becomes 1 followed by zeros, one decade up.
        --first;
        d[first] = '1';
        ++exponent;
        len = first + static_cast<int>(count);
    }
    out.digits = d + first;
    out.count = len - first;
    out.point = exponent;
    out.zeros = count - out.count;
}

struct Decomposed {
    uint64_t mantissa;  // value = mantissa * 2^exponent
    int exponent;
};

Decomposed Decompose(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    int field = static_cast<int>(bits >> 52 & 0x7FF);
    uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    if (field == 0) return {fraction, -1074};
    return {fraction | uint64_t{1} << 52, field - 1075};
}

enum class Form { Fixed, Significant };

void Generate(double value, int64_t amount, Form form, char (&room)[kDigitRoom], DecimalText& out) {
    char* d = room + 1;  // room[0] takes a carry out of the first digit
    Decomposed v = Decompose(value);
    if (v.mantissa == 0) {
        d[0] = '0';
        out.digits = d;
        if (form == Form::Fixed) {
            out.count = 0;
            out.point = 0;
            out.zeros = amount;
        } else {
            out.count = 1;
            out.point = 0;
            out.zeros = amount - 1;
        }
        return;
    }
    auto run = [&](int intCount, auto& fraction) {
        if (form == Form::Fixed)
            FixedFrom(d, intCount, fraction, amount, out);
        else
            SignificantFrom(d, intCount, fraction, amount, out);
    };
    if (v.exponent >= 0 && v.exponent <= 11) {
        SmallFraction none(0, 0);
        run(WriteUInt64(d, v.mantissa << v.exponent), none);
    } else if (v.exponent < 0 && v.exponent >= -98) {
        int k = -v.exponent;
        uint64_t integer = k >= 64 ? 0 : v.mantissa >> k;
        unsigned __int128 rest = static_cast<unsigned __int128>(v.mantissa) &
                                 ((static_cast<unsigned __int128>(1) << k) - 1);
        SmallFraction fraction(rest, k);
        run(WriteUInt64(d, integer), fraction);
    } else if (v.exponent > 11) {
        BigNum integer;
        integer.Set(v.mantissa);
        integer.ShiftLeft(v.exponent);
        SmallFraction none(0, 0);
        run(WriteBigInteger(d, integer), none);
    } else {
        BigFraction fraction(v.mantissa, -v.exponent);
        run(0, fraction);
    }
}

// Rounds mantissa * 2^exponent (plus a sticky non-zero rest below it) to the nearest value of a
// binary format with `bits` significant bits and the given smallest normal exponent, ties to even.
double RoundToBinary(unsigned __int128 mantissa, int exponent, bool sticky, int bits,
                     int minExponent, int maxExponent) {
    int length = 0;
    for (unsigned __int128 t = mantissa; t != 0; t >>= 1) ++length;
    int lead = length - 1 + exponent;  // weight of the leading bit
    if (lead > maxExponent) return HUGE_VAL;
    int keep = bits;
    if (lead < minExponent) keep = bits - (minExponent - lead);
    if (keep < 0) return 0.0;
    int drop = length - keep;
    unsigned __int128 kept = mantissa;
    if (drop > 0) {
        kept = mantissa >> drop;
        unsigned __int128 rest = mantissa & ((static_cast<unsigned __int128>(1) << drop) - 1);
        unsigned __int128 half = static_cast<unsigned __int128>(1) << (drop - 1);
        bool up = rest > half || (rest == half && (sticky || (kept & 1) != 0));
        if (up) ++kept;
    } else {
        drop = 0;
    }
    double result = std::ldexp(static_cast<double>(static_cast<uint64_t>(kept)), exponent + drop);
    if (std::isinf(result) || std::ilogb(result) > maxExponent) return HUGE_VAL;
    return result;
}

}  // namespace

void FixedDigits(double value, int64_t precision, char (&room)[kDigitRoom], DecimalText& out) {
    Generate(value, precision, Form::Fixed, room, out);
}

void SignificantDigits(double value, int64_t count, char (&room)[kDigitRoom], DecimalText& out) {
    Generate(value, count < 1 ? 1 : count, Form::Significant, room, out);
}

double DecimalToBinary(const uint8_t* digits, int count, int64_t exponent, bool toFloat) {
    while (count > 0 && digits[0] == 0) ++digits, --count;
    while (count > 0 && digits[count - 1] == 0) --count, ++exponent;
    if (count == 0) return 0.0;
    const int bits = toFloat ? 24 : 53;
    const int minExponent = toFloat ? -126 : -1022;
    const int maxExponent = toFloat ? 127 : 1023;
    if (count + exponent > 310) return HUGE_VAL;
    if (count + exponent <= -326) return 0.0;
    if (!toFloat && count <= 15 && exponent >= -22 && exponent <= 22) {
        // Both the integer and the power of ten are exact doubles: one rounding.
        static constexpr double kPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        uint64_t n = 0;
        for (int i = 0; i < count; ++i) n = n * 10 + digits[i];
        double m = static_cast<double>(n);
        return exponent >= 0 ? m * kPow10[exponent] : m / kPow10[-exponent];
    }
    BigNum numerator;
    numerator.Set(0);
    for (int i = 0; i < count; ++i) numerator.MulAdd(10, digits[i]);
    if (exponent >= 0) {
        numerator.MulPow10(exponent);
        int low;
        bool sticky;
        uint64_t top = numerator.Top64(low, sticky);
        return RoundToBinary(top, low, sticky, bits, minExponent, maxExponent);
    }
    BigNum denominator;
    denominator.Set(1);
    denominator.MulPow10(-exponent);
    // Scale the numerator so that the quotient has at least 65 bits, then divide bit by bit.
    int shift = denominator.BitLength() - numerator.BitLength() + 66;
    if (shift < 0) shift = 0;
    numerator.ShiftLeft(shift);
    int steps = numerator.BitLength() - denominator.BitLength();
    unsigned __int128 quotient = 0;
    if (steps >= 0) {
        denominator.ShiftLeft(steps);
        for (int i = steps; i >= 0; --i) {
            quotient <<= 1;
            if (numerator.Compare(denominator) >= 0) {
                numerator.Subtract(denominator);
                quotient |= 1;
            }
            denominator.ShiftRight1();
        }
    }
    return RoundToBinary(quotient, -shift, !numerator.IsZero(), bits, minExponent, maxExponent);
}

}  // namespace FormatDigits

namespace {

using FormatDigits::DecimalText;
using FormatDigits::kDigitRoom;

constexpr int32_t kUnboundedUnits = 0x7FFFFFFF;
constexpr size_t kStackCodeBytes = 4096;
constexpr size_t kStackStringBytes = 512;

struct ArgList {
    va_list ap;
};

// Code units of a string up to its terminator or `limit` units, whichever comes first.
int64_t CountUnitsUpTo(const void* text, int unit, int64_t limit) {
    int64_t n = 0;
    switch (unit) {
        case 1: {
            auto* p = static_cast<const uint8_t*>(text);
            while (n < limit && p[n] != 0) ++n;
            break;
        }
        case 2: {
            auto* p = static_cast<const uint16_t*>(text);
            while (n < limit && p[n] != 0) ++n;
            break;
        }
        case 4: {
            auto* p = static_cast<const uint32_t*>(text);
            while (n < limit && p[n] != 0) ++n;
            break;
        }
        default:
            break;
    }
    return n;
}

// Where the formatted text goes: characters are encoded into the caller's buffer, always keeping
// room for the terminator. Once a character does not fit, the output has ended.
class OutputSink {
  public:
    OutputSink(int32_t encoding, uint8_t* buffer, size_t limit, int unit)
        : encoding_(encoding), buffer_(buffer), limit_(limit), unit_(unit) {
        bigEndian_ = encoding == static_cast<int32_t>(CharEncoding::Utf16Be) ||
                     encoding == static_cast<int32_t>(CharEncoding::Utf32Be);
        full_ = limit == 0;
    }

    bool Full() const { return full_; }
    size_t Used() const { return used_; }

    void Put(uint32_t code) {
        if (full_) return;
        if (code < 0x80) {
            if (limit_ - used_ < static_cast<size_t>(unit_)) {
                full_ = true;
                return;
            }
            StoreUnit(buffer_ + used_, code);
            used_ += unit_;
        } else {
            if (code == 0) return;
            size_t room = limit_ - used_;
            int32_t n = EncodeCharCode(code, encoding_, buffer_ + used_,
                                       room > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(room));
            if (n <= 0) {
                // A character the output encoding cannot hold is dropped; one that does not fit
                // ends the output.
                if (EncodeCharCode(code, encoding_, nullptr, 16) > 0) full_ = true;
                return;
            }
            used_ += n;
        }
        if (used_ == limit_) full_ = true;
    }

    void PutRepeat(uint32_t code, int64_t count) {
        if (count <= 0 || full_) return;
        if (unit_ == 1 && code < 0x80 && static_cast<uint64_t>(count) < limit_ - used_) {
            std::memset(buffer_ + used_, static_cast<int>(code), static_cast<size_t>(count));
            used_ += static_cast<size_t>(count);
            return;
        }
        for (; count > 0 && !full_; --count) Put(code);
    }

    // ASCII characters (every encoding writes them as one unit of their value).
    void PutAscii(const char* text, int64_t count) {
        if (count <= 0 || full_) return;
        if (static_cast<uint64_t>(count) * unit_ < limit_ - used_) {
            if (unit_ == 1) {
                std::memcpy(buffer_ + used_, text, static_cast<size_t>(count));
            } else {
                for (int64_t i = 0; i < count; ++i)
                    StoreUnit(buffer_ + used_ + i * unit_, static_cast<uint8_t>(text[i]));
            }
            used_ += static_cast<size_t>(count) * unit_;
            return;
        }
        for (int64_t i = 0; i < count && !full_; ++i) Put(static_cast<uint8_t>(text[i]));
    }

    // Text already in the output encoding; cut on a character boundary when it does not fit.
    void PutEncoded(const uint8_t* text, size_t bytes) {
        if (full_ || bytes == 0) return;
        size_t room = limit_ - used_;
        if (bytes < room) {
            std::memcpy(buffer_ + used_, text, bytes);
            used_ += bytes;
            return;
        }
        size_t take = CharBoundaryWithin(text, bytes, room);
        std::memcpy(buffer_ + used_, text, take);
        used_ += take;
        full_ = true;
    }

    // The longest prefix of `text` (whole characters, at most `bytes`) that fits in `room` bytes.
    size_t CharBoundaryWithin(const uint8_t* text, size_t bytes, size_t room) const {
        size_t at = 0;
        size_t limit = bytes < room ? bytes : room;
        while (at < limit) {
            int32_t n = MeasureCharAt(text + at, encoding_);
            if (n <= 0) n = unit_;  // a unit that starts no character goes on its own
            if (at + static_cast<size_t>(n) > limit) break;
            at += n;
        }
        return at;
    }

    void Terminate() {
        // The room for the terminator was kept back from the limit.
        std::memset(buffer_ + used_, 0, unit_);
    }

  private:
    void StoreUnit(uint8_t* at, uint32_t code) {
        switch (unit_) {
            case 1:
                at[0] = static_cast<uint8_t>(code);
                break;
            case 2:
                if (bigEndian_) {
                    at[0] = 0;
                    at[1] = static_cast<uint8_t>(code);
                } else {
                    at[0] = static_cast<uint8_t>(code);
                    at[1] = 0;
                }
                break;
            default:
                if (bigEndian_) {
                    at[0] = at[1] = at[2] = 0;
                    at[3] = static_cast<uint8_t>(code);
                } else {
                    at[0] = static_cast<uint8_t>(code);
                    at[1] = at[2] = at[3] = 0;
                }
                break;
        }
    }

    int32_t encoding_;
    uint8_t* buffer_;
    size_t limit_;
    size_t used_ = 0;
    int unit_;
    bool bigEndian_ = false;
    bool full_ = false;
};

// A directive after parsing.
struct Directive {
    bool left = false, plus = false, space = false, alternate = false, zero = false;
    int32_t width = -1;      // -1: not given
    int32_t precision = -1;  // -1: not given
    int size = 32;           // integer argument bits: 16, 32 or 64
};

// The text of a number: pieces of stored characters or repeated fill characters, so that huge
// precisions cost no memory.
class NumberText {
  public:
    void Add(const char* text, int64_t count) {
        if (count <= 0) return;
        if (n_ < kPieces) pieces_[n_++] = {text, 0, count};
        length_ += count;
    }
    void Fill(char c, int64_t count) {
        if (count <= 0) return;
        if (n_ < kPieces) pieces_[n_++] = {nullptr, c, count};
        length_ += count;
    }
    void Char(char c) { Fill(c, 1); }
    // Stored digits from `from` for `count` digits, zeros where the stored digits end.
    void Digits(const DecimalText& d, int64_t from, int64_t count) {
        if (count <= 0) return;
        int64_t stored = d.count - from;
        if (stored < 0) stored = 0;
        if (stored > count) stored = count;
        Add(d.digits + from, stored);
        Fill('0', count - stored);
    }
    int64_t Length() const { return length_; }
    void WriteTo(OutputSink& out) const {
        for (int i = 0; i < n_ && !out.Full(); ++i) {
            if (pieces_[i].text != nullptr)
                out.PutAscii(pieces_[i].text, pieces_[i].count);
            else
                out.PutRepeat(static_cast<uint8_t>(pieces_[i].fill), pieces_[i].count);
        }
    }

  private:
    struct Piece {
        const char* text;
        char fill;
        int64_t count;
    };
    static constexpr int kPieces = 16;
    Piece pieces_[kPieces];
    int n_ = 0;
    int64_t length_ = 0;
};

// Sign, prefix ("0x" or nothing) and text within the field width. Zero padding goes between the
// prefix and the text, so that "0x" stays in front of the digits.
void WritePadded(OutputSink& out, const Directive& d, char sign, const NumberText& prefix,
                 const NumberText& text, bool zeroPad) {
    int64_t pad =
        static_cast<int64_t>(d.width) - (sign != 0 ? 1 : 0) - prefix.Length() - text.Length();
    if (d.left) {
        if (sign != 0) out.Put(static_cast<uint8_t>(sign));
        prefix.WriteTo(out);
        text.WriteTo(out);
        out.PutRepeat(' ', pad);
    } else if (zeroPad) {
        if (sign != 0) out.Put(static_cast<uint8_t>(sign));
        prefix.WriteTo(out);
        out.PutRepeat('0', pad);
        text.WriteTo(out);
    } else {
        out.PutRepeat(' ', pad);
        if (sign != 0) out.Put(static_cast<uint8_t>(sign));
        prefix.WriteTo(out);
        text.WriteTo(out);
    }
}

void IntegerField(OutputSink& out, const Directive& d, uint64_t magnitude, bool negative,
                  bool signedDecimal, unsigned radix, bool upper, int32_t precision) {
    static const char kLower[] = "0123456789abcdef";
    static const char kUpper[] = "0123456789ABCDEF";
    const char* table = upper ? kUpper : kLower;
    char digits[24];
    int n = 0;
    int64_t p = precision < 0 ? 1 : precision;
    if (magnitude == 0) {
        if (p == 0) digits[n++] = '0';
    } else {
        // Digits from the right end of the scratch area; constant divisors keep this cheap.
        char* end = digits + sizeof digits;
        char* at = end;
        if (radix == 10) {
            while (magnitude != 0) {
                *--at = static_cast<char>('0' + magnitude % 10);
                magnitude /= 10;
            }
        } else {
            const unsigned shift = radix == 16 ? 4 : 3;
            while (magnitude != 0) {
                *--at = table[magnitude & (radix - 1)];
                magnitude >>= shift;
            }
        }
        n = static_cast<int>(end - at);
        std::memmove(digits, at, static_cast<size_t>(n));
    }
    char sign = 0;
    if (negative)
        sign = '-';
    else if (signedDecimal && d.plus)
        sign = '+';
    else if (signedDecimal && d.space)
        sign = ' ';
    NumberText prefix;
    if (d.alternate && radix == 8) prefix.Char('0');
    if (d.alternate && radix == 16) prefix.Add(upper ? "0X" : "0x", 2);
    NumberText body;
    body.Fill('0', p - n);
    body.Add(digits, n);
    WritePadded(out, d, sign, prefix, body, d.zero && precision < 0);
}

// "1.#INF" and "1.#QNAN" as they read when rounded to each precision.
const char* const kNanRows[] = {"1", "1.", "1.$", "1.#R", "1.#QO", "1.#QNB", "1.#QNAN"};
const char* const kInfinityRows[] = {"1", "1.", "1.$", "1.#J", "1.#IO", "1.#INF"};

void SpecialText(NumberText& text, bool nan, int64_t precision, bool alternate, bool padZeros) {
    if (precision == 0) {
        text.Add(alternate ? "1." : "1", alternate ? 2 : 1);
        return;
    }
    int64_t n = (precision < (nan ? 5 : 4) ? precision : (nan ? 5 : 4)) + 2;
    text.Add(nan ? kNanRows[n - 1] : kInfinityRows[n - 1], n);
    if (padZeros) text.Fill('0', precision + 2 - n);
}

// Appends "e+ddd": always three exponent digits.
void ExponentPart(NumberText& text, char letter, int exponent, char (&scratch)[6]) {
    scratch[0] = letter;
    scratch[1] = exponent < 0 ? '-' : '+';
    int e = exponent < 0 ? -exponent : exponent;
    scratch[2] = static_cast<char>('0' + e / 100 % 10);
    scratch[3] = static_cast<char>('0' + e / 10 % 10);
    scratch[4] = static_cast<char>('0' + e % 10);
    text.Add(scratch, 5);
}

void FloatField(OutputSink& out, const Directive& d, uint32_t conversion, double value) {
    bool nan = std::isnan(value), infinite = std::isinf(value);
    bool negative = !nan && std::signbit(value) && value != 0.0;
    if (!nan) value = std::fabs(value);
    const bool upper = conversion == 'E' || conversion == 'G' || conversion == 'A';
    const uint32_t kind = conversion | 0x20;  // e, f, g or a
    int64_t precision = d.precision < 0 ? 6 : d.precision;

    NumberText prefix, text;
    char room[kDigitRoom];
    char exponentText[6];
    char hexDigits[16];
    char binaryExponent[8];
    DecimalText digits;

    if (nan || infinite) {
        switch (kind) {
            case 'e':
                SpecialText(text, nan, precision, d.alternate, true);
                text.Add(upper ? "E+000" : "e+000", 5);
                break;
            case 'g':
                SpecialText(text, nan, precision > 0 ? precision - 1 : 0, d.alternate, false);
                break;
            case 'a':
                prefix.Add("0x", 2);
                SpecialText(text, nan, precision, d.alternate, true);
                text.Add(upper ? "P+0" : "p+0", 3);
                break;
            default:
                SpecialText(text, nan, precision, d.alternate, true);
                break;
        }
    } else if (kind == 'e') {
        FormatDigits::SignificantDigits(value, precision + 1, room, digits);
        text.Digits(digits, 0, 1);
        if (precision > 0 || d.alternate) text.Char('.');
        text.Digits(digits, 1, precision);
        ExponentPart(text, upper ? 'E' : 'e', digits.point, exponentText);
    } else if (kind == 'f') {
        FormatDigits::FixedDigits(value, precision, room, digits);
        if (digits.point == 0)
            text.Char('0');
        else
            text.Digits(digits, 0, digits.point);
        if (precision > 0 || d.alternate) text.Char('.');
        text.Digits(digits, digits.point, precision);
    } else if (kind == 'g') {
        int64_t p = precision == 0 ? 1 : precision;
        FormatDigits::SignificantDigits(value, p, room, digits);
        int64_t last = -1;  // index among the digits after the first of the last non-zero one
        for (int i = digits.count - 1; i >= 1; --i)
            if (digits.digits[i] != '0') {
                last = i - 1;
                break;
            }
        int64_t x = digits.point;
        if (x < -4 || x >= p) {
            int64_t n = d.alternate ? p : last + 2;
            text.Digits(digits, 0, 1);
            if (n > 1 || d.alternate) text.Char('.');
            text.Digits(digits, 1, n - 1);
            ExponentPart(text, upper ? 'E' : 'e', digits.point, exponentText);
        } else {
            int64_t fraction = p - x - 1;
            if (!d.alternate) {
                int64_t needed = last - x + 1;
                if (needed < fraction) fraction = needed;
                if (fraction < 0) fraction = 0;
            }
            if (x >= 0) {
                text.Digits(digits, 0, x + 1);
                if (fraction > 0 || d.alternate) text.Char('.');
                text.Digits(digits, x + 1, fraction);
            } else {
                text.Char('0');
                if (fraction > 0 || d.alternate) text.Char('.');
                int64_t leading = -x - 1 < fraction ? -x - 1 : fraction;
                text.Fill('0', leading);
                text.Digits(digits, 0, fraction - leading);
            }
        }
    } else {  // 'a'
        FormatDigits::Decomposed v = FormatDigits::Decompose(value);
        uint64_t fraction = 0;
        int exponent = 0;
        char lead = '0';
        if (v.mantissa != 0) {
            int shift = __builtin_clzll(v.mantissa) - 11;  // bring the leading 1 to bit 52
            fraction = (v.mantissa << shift) & ((uint64_t{1} << 52) - 1);
            exponent = v.exponent + 52 - shift;
            lead = '1';
        }
        int stored = precision < 13 ? static_cast<int>(precision) : 13;
        if (stored < 13) {
            int drop = 52 - 4 * stored;
            uint64_t rest = fraction & ((uint64_t{1} << drop) - 1);
            fraction >>= drop;
            if (rest > uint64_t{1} << (drop - 1)) {
                ++fraction;
                if (fraction >> (4 * stored) != 0) {  // 1.fff... became 2: one binary step up
                    fraction = 0;
                    ++exponent;
                }
            }
        }
        const char* table = upper ? "0123456789ABCDEF" : "0123456789abcdef";
        for (int i = stored - 1; i >= 0; --i, fraction >>= 4) hexDigits[i] = table[fraction & 15];
        prefix.Add("0x", 2);
        text.Char(lead);
        if (precision > 0 || d.alternate) text.Char('.');
        text.Add(hexDigits, stored);
        text.Fill('0', precision - stored);
        text.Char(upper ? 'P' : 'p');
        text.Char(exponent < 0 ? '-' : '+');
        int e = exponent < 0 ? -exponent : exponent;
        int n = 0;
        char reversed[8];
        do {
            reversed[n++] = static_cast<char>('0' + e % 10);
            e /= 10;
        } while (e != 0);
        for (int i = 0; i < n; ++i) binaryExponent[i] = reversed[n - 1 - i];
        text.Add(binaryExponent, n);
    }

    char sign = negative ? '-' : d.plus ? '+' : d.space ? ' ' : 0;
    WritePadded(out, d, sign, prefix, text, d.zero);
}

struct Encodings {
    int32_t output;
    int unit;
    int32_t narrowArg;
    int32_t wideArg;
    bool wideCall;
    // The argument encoding of %c and %s (`lower`) or of %C and %S.
    int32_t ForLetter(bool lower) const { return lower != wideCall ? narrowArg : wideArg; }
};

void CharField(OutputSink& out, const Directive& d, const Encodings& e, bool lower, ArgList& args) {
    int32_t encoding = e.ForLetter(lower);
    uint32_t value = static_cast<uint32_t>(va_arg(args.ap, int));
    switch (UnitBytesOfCharCode(encoding)) {
        case 1:
            value &= 0xFF;
            break;
        case 2:
            value &= 0xFFFF;
            break;
        default:
            break;
    }
    uint32_t code = encoding == e.output ? value : TranscodeChar(value, encoding, e.output);
    // Code 0 (also a character without a mapping) writes nothing: it would end the text early.
    auto put = [&] {
        if (code != 0) out.Put(code);
    };
    int64_t pad = static_cast<int64_t>(d.width) - 1;
    if (d.left) {
        put();
        out.PutRepeat(' ', pad);
    } else {
        out.PutRepeat(d.zero ? '0' : ' ', pad);
        put();
    }
}

void StringField(OutputSink& out, const Directive& d, const Encodings& e, bool lower,
                 ArgList& args) {
    int32_t encoding = e.ForLetter(lower);
    const void* text = va_arg(args.ap, const void*);
    if (text == nullptr) return;
    int sourceUnit = UnitBytesOfCharCode(encoding);
    if (sourceUnit <= 0) return;

    uint8_t stackScratch[kStackStringBytes];
    uint8_t* scratch = nullptr;
    const uint8_t* converted;
    int64_t units;
    if (encoding == e.output) {
        converted = static_cast<const uint8_t*>(text);
        units = CountUnitsUpTo(text, e.unit, d.precision < 0 ? INT64_MAX : d.precision);
    } else {
        int64_t sourceUnits = CountUnitsUpTo(text, sourceUnit, INT64_MAX);
        // Each source unit becomes at most 8 output units.
        uint64_t bytes = 8 * static_cast<uint64_t>(sourceUnits + 1) * e.unit;
        if (bytes > 0x7FFFFFFF) return;
        uint8_t* into = stackScratch;
        if (bytes > kStackStringBytes) {
            scratch = static_cast<uint8_t*>(DX_ALLOC(bytes));
            if (scratch == nullptr) return;
            into = scratch;
        }
        int32_t written =
            TranscodeString(text, -1, encoding, into, static_cast<int32_t>(bytes), e.output);
        converted = into;
        units = written > e.unit ? (written - e.unit) / e.unit : 0;
    }
    size_t bytes = static_cast<size_t>(units) * e.unit;
    if (d.precision >= 0 && d.precision < units) {
        // Never a partial character: the cut goes back to a character boundary.
        bytes = out.CharBoundaryWithin(converted, bytes, static_cast<size_t>(d.precision) * e.unit);
        units = static_cast<int64_t>(bytes) / e.unit;
    }
    int64_t pad = static_cast<int64_t>(d.width) - units;
    if (d.left) {
        out.PutEncoded(converted, bytes);
        out.PutRepeat(' ', pad);
    } else {
        out.PutRepeat(d.zero ? '0' : ' ', pad);
        out.PutEncoded(converted, bytes);
    }
    if (scratch != nullptr) DX_FREE(scratch);
}

bool IsDigit(uint32_t c) {
    return c >= '0' && c <= '9';
}

int32_t ReadCount(const uint32_t*& f) {
    uint32_t v = 0;
    while (IsDigit(*f)) v = v * 10 + (*f++ - '0');
    return static_cast<int32_t>(v);
}

void FormatCodes(OutputSink& out, const uint32_t* f, const Encodings& e, ArgList& args) {
    while (*f != 0 && !out.Full()) {
        uint32_t c = *f++;
        if (c != '%') {
            out.Put(c);
            continue;
        }
        Directive d;
        for (;; ++f) {
            if (*f == '-')
                d.left = true;
            else if (*f == '+')
                d.plus = true;
            else if (*f == ' ')
                d.space = true;
            else if (*f == '#')
                d.alternate = true;
            else if (*f == '0')
                d.zero = true;
            else
                break;
        }
        if (IsDigit(*f)) {
            d.width = ReadCount(f);
        } else if (*f == '*') {
            ++f;
            d.width = va_arg(args.ap, int);
        }
        if (d.width < 0) d.width = -1;
        if (*f == '.') {
            ++f;
            if (IsDigit(*f)) {
                d.precision = ReadCount(f);
            } else if (*f == '*') {
                ++f;
                d.precision = va_arg(args.ap, int);
            } else {
                d.precision = 0;
            }
            if (d.precision < 0) d.precision = -1;
        }
        for (bool more = true; more;) {
            switch (*f) {
                case 'h':
                    d.size = 16;
                    ++f;
                    break;
                case 'l':
                    ++f;
                    if (*f == 'l') {
                        ++f;
                        d.size = 64;
                    } else {
                        d.size = 32;
                    }
                    break;
                case 'w':
                    d.size = 32;
                    ++f;
                    break;
                case 'I':
                    ++f;
                    if (f[0] == '6' && f[1] == '4') {
                        f += 2;
                        d.size = 64;
                    } else if (f[0] == '3' && f[1] == '2') {
                        f += 2;
                        d.size = 32;
                    } else {
                        d.size = 32;
                    }
                    break;
                default:
                    more = false;
                    break;
            }
        }
        uint32_t conversion = *f;
        if (conversion == 0) break;  // a directive cut off by the end of the format prints nothing
        ++f;
        switch (conversion) {
            case 'd':
            case 'i': {
                int64_t v;
                if (d.size == 64)
                    v = va_arg(args.ap, int64_t);
                else if (d.size == 16)
                    v = static_cast<int16_t>(va_arg(args.ap, int));
                else
                    v = va_arg(args.ap, int32_t);
                uint64_t magnitude =
                    v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
                IntegerField(out, d, magnitude, v < 0, true, 10, false, d.precision);
                break;
            }
            case 'u':
            case 'o':
            case 'x':
            case 'X': {
                uint64_t v;
                if (d.size == 64)
                    v = va_arg(args.ap, uint64_t);
                else if (d.size == 16)
                    v = static_cast<uint16_t>(va_arg(args.ap, unsigned));
                else
                    v = va_arg(args.ap, uint32_t);
                unsigned radix = conversion == 'u' ? 10 : conversion == 'o' ? 8 : 16;
                IntegerField(out, d, v, false, false, radix, conversion == 'X', d.precision);
                break;
            }
            case 'p': {
                auto v = reinterpret_cast<uintptr_t>(va_arg(args.ap, void*));
                IntegerField(out, d, v, false, false, 16, true, 8);
                break;
            }
            case 'c':
            case 'C':
                CharField(out, d, e, conversion == 'c', args);
                break;
            case 's':
            case 'S':
                StringField(out, d, e, conversion == 's', args);
                break;
            case 'e':
            case 'E':
            case 'f':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                FloatField(out, d, conversion, va_arg(args.ap, double));
                break;
            case 'n':
            case 'Z':
                break;
            default:
                out.Put(conversion);
                break;
        }
    }
}

}  // namespace

int FormatCodeStringV(int32_t outputEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                      int32_t wideArgEncoding, void* buffer, int32_t size, const void* format,
                      va_list args) {
    int unit = UnitBytesOfCharCode(outputEncoding);
    if (unit <= 0 || buffer == nullptr || size <= 0) return 0;
    const size_t capacity = static_cast<size_t>(size) * unit;

    uint32_t stackCodes[kStackCodeBytes / 4];
    uint32_t* codes = stackCodes;
    uint32_t* allocated = nullptr;
    uint32_t empty = 0;
    if (format == nullptr) {
        codes = &empty;
    } else {
        // A one-byte format of plain ASCII (the common case) is its own code array; anything
        // else goes through the encoding's reader.
        bool expanded = false;
        if (unit == 1) {
            auto* bytes = static_cast<const uint8_t*>(format);
            for (size_t i = 0; i < kStackCodeBytes / 4 - 16 && bytes[i] < 0x80; ++i) {
                stackCodes[i] = bytes[i];
                if (bytes[i] == 0) {
                    expanded = true;
                    break;
                }
            }
        }
        if (!expanded) {
            // Every character takes at least one unit, so the unit count bounds the expanded size.
            int64_t units = CountUnitsUpTo(format, unit, (kStackCodeBytes - 64) / 4);
            if (static_cast<size_t>(units + 1) * 4 + 64 > kStackCodeBytes) {
                int32_t bytes = ExpandToCodeArray(format, outputEncoding, nullptr);
                allocated = static_cast<uint32_t*>(DX_ALLOC(bytes > 4 ? bytes : 4));
                if (allocated == nullptr) return -1;
                codes = allocated;
            }
            ExpandToCodeArray(format, outputEncoding, codes);
        }
    }

    Encodings e{outputEncoding, unit, narrowArgEncoding, wideArgEncoding, wideCall != 0};
    OutputSink out(outputEncoding, static_cast<uint8_t*>(buffer), capacity - unit, unit);
    ArgList list;
    va_copy(list.ap, args);
    FormatCodes(out, codes, e, list);
    va_end(list.ap);
    out.Terminate();
    if (allocated != nullptr) DX_FREE(allocated);
    return static_cast<int>(out.Used() / unit);
}

int FormatCodeString(int32_t outputEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                     int32_t wideArgEncoding, void* buffer, int32_t size, const void* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatCodeStringV(outputEncoding, wideCall, narrowArgEncoding, wideArgEncoding, buffer,
                              size, format, args);
    va_end(args);
    return n;
}

int FormatCodeStringUnboundedV(int32_t outputEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                               int32_t wideArgEncoding, void* buffer, const void* format,
                               va_list args) {
    return FormatCodeStringV(outputEncoding, wideCall, narrowArgEncoding, wideArgEncoding, buffer,
                             kUnboundedUnits, format, args);
}

int FormatCodeStringUnbounded(int32_t outputEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                              int32_t wideArgEncoding, void* buffer, const void* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatCodeStringV(outputEncoding, wideCall, narrowArgEncoding, wideArgEncoding, buffer,
                              kUnboundedUnits, format, args);
    va_end(args);
    return n;
}

int FormatNarrowString(char* buffer, int32_t size, const char* format, ...) {
    EnsureDefaultCharCodes();
    va_list args;
    va_start(args, format);
    int n = FormatCodeStringV(NarrowEncoding, 0, NarrowEncoding, WideEncoding, buffer, size, format,
                              args);
    va_end(args);
    return n;
}

int FormatWideStringV(char16_t* buffer, int32_t size, const char16_t* format, va_list args) {
    EnsureDefaultCharCodes();
    return FormatCodeStringV(WideEncoding, 1, NarrowEncoding, WideEncoding, buffer, size, format,
                             args);
}

int FormatWideString(char16_t* buffer, int32_t size, const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatWideStringV(buffer, size, format, args);
    va_end(args);
    return n;
}

int FormatWideStringUnbounded(char16_t* buffer, const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatWideStringV(buffer, kUnboundedUnits, format, args);
    va_end(args);
    return n;
}

}  // namespace ZiDaz
