// The printf and scanf engines against glibc's snprintf and sscanf over generated cases. Where the
// engines deliberately differ, the difference is a row of kDifferences: each row shows an example
// on both sides (checked here, so the table cannot go stale) and says how generated cases of its
// kind are compared.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cfenv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Main/DxCharFormat.h"

namespace {

using namespace ZiDaz;

constexpr int32_t kUtf8 = 65001;
constexpr int32_t kUtf16 = 1200;

std::string Ours(const char* format, ...) {
    char buffer[4096];
    va_list args;
    va_start(args, format);
    FormatCodeStringV(kUtf8, 0, kUtf8, kUtf16, buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Glibc(const char* format, ...) {
    char buffer[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string GlibcTowardZero(const char* format, double value) {
    int mode = fegetround();
    fesetround(FE_TOWARDZERO);
    std::string s = Glibc(format, value);
    fesetround(mode);
    return s;
}

// ---------------------------------------------------------------------------------------------
// Every deliberate difference from glibc.

enum class Diff {
    ExponentDigits,
    ExactHalfRoundsDown,
    NegativeZero,
    SpecialValues,
    HexDefaultPrecision,
    HexSubnormal,
    HexCarry,
    HexUpperPrefix,
    ZeroPrecisionZero,
    AlternatePrefixOnZero,
    AlternateOctalWithPrecision,
    ZeroFlagOnText,
    CharZero,
    PointerForm,
    LongIs32Bit,
    UnknownConversion,
    UnknownSize,
    CapitalF,
    PercentN,
    ScanPlusSign,
    ScanHexPrefix,
    ScanIntegerUpperX,
    ScanPrefixWithoutDigits,
    ScanSetSkipsSpace,
    ScanSetEmptyMatch,
    ScanInfinityNan,
    ScanLongLong,
};

struct Value {
    enum Kind { None, Int, Int64, Double, Text, CountTarget } kind;
    int64_t i;
    double d;
    const char* s;
};
Value I(int64_t v) {
    return {Value::Int, v, 0, nullptr};
}
Value L(int64_t v) {
    return {Value::Int64, v, 0, nullptr};
}
Value D(double v) {
    return {Value::Double, 0, v, nullptr};
}
Value S(const char* v) {
    return {Value::Text, 0, 0, v};
}
Value N() {
    return {Value::None, 0, 0, nullptr};
}
// glibc stores through %n; the engine takes no argument for it, so the extra one is ignored.
Value CountTarget() {
    return {Value::CountTarget, 0, 0, nullptr};
}

struct Difference {
    Diff id;
    const char* what;  // the difference, and how generated cases of the kind are compared
    bool scan;         // a scanf row: `value` is the text, results are "count:stored"
    const char* format;
    Value value;
    const char* ours;
    const char* glibc;
};

const Difference kDifferences[] = {
    {Diff::ExponentDigits,
     "exponents have exactly three digits; compared against glibc with width - 1 and the exponent "
     "widened",
     false, "%e", D(1e6), "1.000000e+006", "1.000000e+06"},
    {Diff::ExactHalfRoundsDown,
     "a dropped part of exactly one half rounds down (glibc: to even); compared against glibc "
     "rounding toward zero",
     false, "%.0f", D(1.5), "1", "2"},
    {Diff::NegativeZero, "negative zero prints without its sign; compared against glibc of +0",
     false, "%f", D(-0.0), "0.000000", "-0.000000"},
    {Diff::SpecialValues, "infinities and NaNs print as 1.#INF and 1.#QNAN; not generated", false,
     "%f", D(-INFINITY), "-1.#INF00", "-inf"},
    {Diff::HexDefaultPrecision, "%a without precision gives six digits; generated with precision",
     false, "%a", D(1.0), "0x1.000000p+0", "0x1p+0"},
    {Diff::HexSubnormal, "%a normalises subnormals to 1.x; not generated", false, "%.3a",
     D(0x1p-1030), "0x1.000p-1030", "0x0.010p-1022"},
    {Diff::HexCarry, "%a renormalises when rounding carries into the first digit; skipped", false,
     "%.0a", D(1.75), "0x1p+1", "0x2p+0"},
    {Diff::HexUpperPrefix, "%A writes its prefix as 0x; compared against glibc with 0X lowered",
     false, "%.1A", D(1.0), "0x1.0P+0", "0X1.0P+0"},
    {Diff::ZeroPrecisionZero,
     "precision 0 of the value 0 still prints the digit 0; compared against glibc with precision 1",
     false, "%.0d", I(0), "0", ""},
    {Diff::AlternatePrefixOnZero, "'#' puts the prefix also before the value 0; skipped", false,
     "%#x", I(0), "0x0", "0"},
    {Diff::AlternateOctalWithPrecision,
     "'#' with octal adds its 0 also before precision zeros; skipped", false, "%#.4o", I(8),
     "00010", "0010"},
    {Diff::ZeroFlagOnText, "'0' pads strings and characters with zeros; not generated", false,
     "%05s", S("ab"), "000ab", "   ab"},
    {Diff::CharZero, "%c of code 0 writes nothing (glibc a NUL byte); not generated", false, "[%c]",
     I(0), "[]", "["},
    {Diff::PointerForm, "%p is uppercase with eight digits at least and no 0x; not generated",
     false, "%p", I(0xABCDEF), "00ABCDEF", "0xabcdef"},
    {Diff::LongIs32Bit, "'l' reads a 32-bit value; 'll' and 'I64' read 64 bits; not generated",
     false, "%ld", L(0x100000005), "5", "4294967301"},
    {Diff::UnknownConversion, "an unknown conversion letter prints itself; not generated", false,
     "%y", N(), "y", "%y"},
    {Diff::UnknownSize, "'hh' is 16-bit; 'j', 'z', 't', 'L' are not size letters; not generated",
     false, "%hhd", I(300), "300", "44"},
    {Diff::CapitalF, "'F' is not a conversion and prints itself; not generated", false, "%F",
     D(1.0), "F", "1.000000"},
    {Diff::PercentN, "%n writes nothing and takes no argument; not generated", false, "a%nb",
     CountTarget(), "ab", "ab"},
    {Diff::ScanPlusSign, "scanf numbers take '-' but no '+'; not generated", true, "%d", S("+5"),
     "0:", "1:5"},
    {Diff::ScanHexPrefix, "scanf %x takes no 0x prefix; not generated", true, "%x", S("0x1f"),
     "1:0", "1:31"},
    {Diff::ScanIntegerUpperX, "scanf %i takes 0x but not 0X; not generated", true, "%i", S("0X1f"),
     "1:0", "1:31"},
    {Diff::ScanPrefixWithoutDigits,
     "scanf %i: a 0x that the width or the text leaves without digits ends the scan; skipped", true,
     "%3i", S("-0x2a"), "0:", "1:0"},
    {Diff::ScanSetSkipsSpace, "scanf %[ skips white space first; skipped", true, "%[a-c]",
     S("  ab"), "1:ab", "0:"},
    {Diff::ScanSetEmptyMatch, "scanf %[ stores an empty string when nothing matches; skipped", true,
     "%[a-c]", S("xy"), "1:", "0:"},
    {Diff::ScanInfinityNan, "scanf reads neither inf, nan nor hexadecimal floats; not generated",
     true, "%lf", S("inf"), "0:", "1:inf"},
    {Diff::ScanLongLong,
     "scanf 'I64' is the 64-bit size; in %lld the second l is an unknown "
     "conversion (counted, nothing stored); not generated",
     true, "%lld", S("5"), "1:0", "1:5"},
};

std::string FormatWith(std::string (*format)(const char*, ...), const char* f, const Value& v) {
    switch (v.kind) {
        case Value::Int:
            return format(f, static_cast<int>(v.i));
        case Value::Int64:
            return format(f, v.i);
        case Value::Double:
            return format(f, v.d);
        case Value::Text:
            return format(f, v.s);
        case Value::CountTarget: {
            int count = 0;
            return format(f, &count);
        }
        default:
            return format(f);
    }
}

std::string ScanWith(bool ours, const char* format, const char* text) {
    char stored[256] = {};
    double d = 0;
    long long ll = 0;
    int n;
    std::string f = format;
    bool isDouble = f.find('f') != std::string::npos;
    bool isText = f.find('[') != std::string::npos || f.find('s') != std::string::npos;
    void* to = isDouble ? static_cast<void*>(&d) : isText ? static_cast<void*>(stored) : &ll;
    if (ours)
        n = ScanCodeString(kUtf8, 0, kUtf8, kUtf16, text, format, to);
    else
        n = sscanf(text, format, to);
    std::string result = std::to_string(n < 0 ? 0 : n) + ":";
    if (n > 0) {
        if (isDouble) {
            char buffer[64];
            snprintf(buffer, sizeof buffer, "%g", d);
            result += buffer;
        } else if (isText) {
            result += stored;
        } else {
            result += std::to_string(static_cast<int>(ll));
        }
    }
    return result;
}

TEST(FormatAgainstGlibc, EveryDifferenceRowHoldsOnBothSides) {
    for (const Difference& row : kDifferences) {
        SCOPED_TRACE(row.what);
        SCOPED_TRACE(row.format);
        if (row.scan) {
            EXPECT_EQ(ScanWith(true, row.format, row.value.s), row.ours);
            EXPECT_EQ(ScanWith(false, row.format, row.value.s), row.glibc);
        } else {
            EXPECT_EQ(FormatWith(Ours, row.format, row.value), row.ours);
            EXPECT_EQ(FormatWith(Glibc, row.format, row.value), row.glibc);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Generated printf cases.

struct Spec {
    std::string flags;
    int width = -1;      // -1: none
    int precision = -2;  // -2: none, -1: '.' alone
    char conversion = 'd';
    std::string size;

    std::string Text(int widthDelta = 0, int precisionOverride = -3) const {
        std::string s = "%" + flags;
        if (width >= 0) s += std::to_string(width + widthDelta);
        int p = precisionOverride != -3 ? precisionOverride : precision;
        if (p == -1) s += ".";
        if (p >= 0) s += "." + std::to_string(p);
        return s + size + conversion;
    }
    int EffectivePrecision(int fallback) const {
        return precision == -2 ? fallback : precision < 0 ? 0 : precision;
    }
};

Spec RandomSpec(std::mt19937_64& rng, const char* conversions) {
    Spec s;
    const char* flagChars = "-+ #0";
    for (int i = 0; i < 5; ++i)
        if (rng() % 4 == 0) s.flags += flagChars[i];
    if (rng() % 2) s.width = static_cast<int>(rng() % 25);
    switch (rng() % 4) {
        case 0:
            break;
        case 1:
            s.precision = -1;
            break;
        default:
            s.precision = static_cast<int>(rng() % 22);
            break;
    }
    size_t n = std::strlen(conversions);
    s.conversion = conversions[rng() % n];
    return s;
}

// Widens a two-digit exponent ("e+06") to three digits.
std::string WidenExponent(std::string s) {
    size_t e = s.find_first_of("eE");
    if (e == std::string::npos || e + 1 >= s.size()) return s;
    size_t digits = e + 2;
    size_t end = digits;
    while (end < s.size() && std::isdigit(static_cast<unsigned char>(s[end]))) ++end;
    if (end - digits == 2) s.insert(digits, "0");
    return s;
}

// Whether rounding `value` to `count` significant digits drops exactly one half.
bool IsDecimalTie(double value, long cutFromFirst) {
    if (value == 0 || cutFromFirst < 0) return false;
    std::string exact = Glibc("%.1100e", value);  // the exact expansion: every double has < 1100
    std::string digits;
    for (char c : exact) {
        if (c == 'e') break;
        if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
    }
    if (cutFromFirst >= static_cast<long>(digits.size())) return false;
    if (digits[cutFromFirst] != '5') return false;
    return digits.find_first_not_of('0', cutFromFirst + 1) == std::string::npos;
}

int DecimalExponent(double value) {
    if (value == 0) return 0;
    std::string e = Glibc("%.1100e", value);
    return std::atoi(e.c_str() + e.find('e') + 1);
}

double RandomDouble(std::mt19937_64& rng) {
    switch (rng() % 6) {
        case 0: {  // any finite bit pattern
            for (;;) {
                uint64_t bits = rng();
                double d;
                std::memcpy(&d, &bits, sizeof d);
                if (std::isfinite(d)) return d;
            }
        }
        case 1:
            return std::ldexp(static_cast<double>(rng() % 4096), -static_cast<int>(rng() % 12));
        case 2:
            return static_cast<double>(static_cast<int64_t>(rng() % 2000000) - 1000000);
        case 3:
            return std::pow(10.0, static_cast<int>(rng() % 40) - 20);
        case 4:
            return (static_cast<double>(rng() % 100000) + 0.5) / std::pow(10.0, rng() % 6);
        default:
            return std::ldexp(static_cast<double>(rng() >> 11),
                              static_cast<int>(rng() % 200) - 120);
    }
}

TEST(FormatAgainstGlibc, GeneratedFloatingFieldsAgree) {
    std::mt19937_64 rng(20240611);
    int compared = 0;
    for (int i = 0; i < 4000; ++i) {
        Spec spec = RandomSpec(rng, "eEfgG");
        double value = RandomDouble(rng);
        if (rng() % 50 == 0) value = -0.0;
        if (rng() % 50 == 0) value = 0.0;
        std::string format = spec.Text();
        SCOPED_TRACE(format);
        SCOPED_TRACE(Glibc("%a", value));
        const char kind = static_cast<char>(spec.conversion | 0x20);

        // Where the rounding cut lies, counted in significant digits from the first.
        int p = spec.EffectivePrecision(6);
        long cut = kind == 'e'   ? p + 1
                   : kind == 'g' ? (p == 0 ? 1 : p)
                                 : DecimalExponent(value) + 1 + p;
        double compareValue = value == 0 ? 0.0 : value;  // NegativeZero: glibc of +0
        bool tie = IsDecimalTie(std::fabs(value), cut);  // ExactHalfRoundsDown

        std::string expected = tie ? GlibcTowardZero(format.c_str(), compareValue)
                                   : Glibc(format.c_str(), compareValue);
        if (WidenExponent(expected) != expected) {  // ExponentDigits
            std::string narrower = spec.Text(spec.width > 0 ? -1 : 0);
            std::string g = tie ? GlibcTowardZero(narrower.c_str(), compareValue)
                                : Glibc(narrower.c_str(), compareValue);
            expected = WidenExponent(g);
        }
        EXPECT_EQ(Ours(format.c_str(), value), expected);
        ++compared;
    }
    EXPECT_GT(compared, 3500);
}

TEST(FormatAgainstGlibc, GeneratedHexFloatsAgree) {
    std::mt19937_64 rng(77);
    int compared = 0;
    for (int i = 0; i < 1500; ++i) {
        Spec spec = RandomSpec(rng, "aA");
        if (spec.precision == -2)
            spec.precision = static_cast<int>(rng() % 15);  // HexDefaultPrecision
        double value = RandomDouble(rng);
        if (value != 0 && std::fabs(value) < 0x1p-1022) continue;  // HexSubnormal
        std::string format = spec.Text();
        SCOPED_TRACE(format);
        std::string exact = Glibc("%.13a", std::fabs(value));
        int p = spec.EffectivePrecision(6);
        // ExactHalfRoundsDown: the dropped hexadecimal digits are exactly 8000...
        bool tie = false;
        if (p < 13) {
            std::string fraction = exact.substr(4, 13);
            tie = fraction[p] == '8' && fraction.find_first_not_of('0', p + 1) == std::string::npos;
        }
        std::string expected =
            tie ? GlibcTowardZero(format.c_str(), value) : Glibc(format.c_str(), value);
        std::string plain = "%." + std::to_string(p) + "a";
        if (Glibc(plain.c_str(), std::fabs(value)).compare(0, 3, "0x2") == 0) continue;  // HexCarry
        size_t prefix = expected.find("0X");  // HexUpperPrefix
        if (prefix != std::string::npos) expected[prefix + 1] = 'x';
        EXPECT_EQ(Ours(format.c_str(), value), expected);
        ++compared;
    }
    EXPECT_GT(compared, 1200);
}

TEST(FormatAgainstGlibc, GeneratedIntegerFieldsAgree) {
    std::mt19937_64 rng(4242);
    const int64_t kSpecial[] = {0,   1,       -1,        7,         42,        -42,
                                255, 0x18000, INT32_MAX, INT32_MIN, INT64_MAX, INT64_MIN};
    int compared = 0;
    for (int i = 0; i < 4000; ++i) {
        Spec spec = RandomSpec(rng, "diuoxX");
        int sizeChoice = static_cast<int>(rng() % 4);
        spec.size = sizeChoice == 0 ? "h" : sizeChoice == 1 ? "ll" : "";
        int64_t value =
            rng() % 3 == 0 ? kSpecial[rng() % 12] : static_cast<int64_t>(rng() >> (rng() % 64));
        if (rng() % 2) value = static_cast<int64_t>(0 - static_cast<uint64_t>(value));
        bool wide = spec.size == "ll";
        if (!wide) value = static_cast<int32_t>(value);
        bool isZero = spec.size == "h" ? static_cast<int16_t>(value) == 0 : value == 0;
        bool alternate = spec.flags.find('#') != std::string::npos;
        bool hasPrecision = spec.precision != -2;
        if (alternate && isZero) continue;  // AlternatePrefixOnZero
        if (alternate && spec.conversion == 'o' && hasPrecision)
            continue;  // AlternateOctalWithPrecision
        std::string format = spec.Text();
        SCOPED_TRACE(format);
        // ZeroPrecisionZero: glibc with precision 1.
        std::string reference =
            isZero && spec.EffectivePrecision(1) == 0 ? spec.Text(0, 1) : format;
        std::string ours =
            wide ? Ours(format.c_str(), value) : Ours(format.c_str(), static_cast<int>(value));
        std::string glibc = wide ? Glibc(reference.c_str(), static_cast<long long>(value))
                                 : Glibc(reference.c_str(), static_cast<int>(value));
        EXPECT_EQ(ours, glibc);
        ++compared;
    }
    EXPECT_GT(compared, 3000);
}

TEST(FormatAgainstGlibc, GeneratedStringFieldsAgree) {
    std::mt19937_64 rng(99);
    const char* texts[] = {"", "a", "ab", "hello", "white space", "0123456789abcdef"};
    for (int i = 0; i < 600; ++i) {
        Spec spec = RandomSpec(rng, "sc");
        spec.flags.erase(std::remove(spec.flags.begin(), spec.flags.end(), '0'), spec.flags.end());
        std::string format = spec.Text();
        SCOPED_TRACE(format);
        if (spec.conversion == 's') {
            const char* t = texts[rng() % 6];
            EXPECT_EQ(Ours(format.c_str(), t), Glibc(format.c_str(), t));
        } else {
            int c = 'A' + static_cast<int>(rng() % 26);
            EXPECT_EQ(Ours(format.c_str(), c), Glibc(format.c_str(), c));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Generated scanf cases.

template <class T>
int ScanOne(bool ours, const std::string& format, const std::string& text, T* value, char* rest) {
    if (ours)
        return ScanCodeString(kUtf8, 0, kUtf8, kUtf16, text.c_str(), format.c_str(), value, rest);
    int n = sscanf(text.c_str(), format.c_str(), value, rest);
    return n < 0 ? 0 : n;
}

TEST(ScanAgainstGlibc, GeneratedIntegerFieldsAgree) {
    std::mt19937_64 rng(5150);
    for (int i = 0; i < 3000; ++i) {
        const char conversions[] = "duoxi";
        char conversion = conversions[rng() % 5];
        unsigned radix = conversion == 'o' ? 8 : conversion == 'x' ? 16 : 10;
        std::string text(rng() % 3, ' ');
        if (rng() % 3 == 0) text += '-';
        if (conversion == 'i') {
            switch (rng() % 3) {
                case 0:
                    text += "0x";
                    radix = 16;
                    break;
                case 1:
                    text += "0";
                    radix = 8;
                    break;
                default:
                    break;
            }
        }
        int digits = 1 + static_cast<int>(rng() % 18);  // stays below 2^64 in every radix
        if (radix == 16) digits = 1 + static_cast<int>(rng() % 15);
        if (radix == 8) digits = 1 + static_cast<int>(rng() % 20);
        for (int d = 0; d < digits; ++d) text += "0123456789abcdef"[rng() % radix];
        text += rng() % 2 ? " tail" : "z";
        int size = static_cast<int>(rng() % 3);  // 32-bit, 16-bit, 64-bit
        int widthValue = rng() % 3 == 0 ? static_cast<int>(1 + rng() % 8) : 0;
        std::string width = widthValue > 0 ? std::to_string(widthValue) : "";
        size_t prefixEnd = text.find("0x");
        if (prefixEnd != std::string::npos && widthValue > 0 &&
            widthValue <= static_cast<int>(prefixEnd + 2 - text.find_first_not_of(' ')))
            continue;  // ScanPrefixWithoutDigits
        std::string ours = "%" + width +
                           (size == 1   ? "h"
                            : size == 2 ? "I64"
                                        : "") +
                           conversion + "%s";
        std::string theirs = "%" + width +
                             (size == 1   ? "h"
                              : size == 2 ? "ll"
                                          : "") +
                             conversion + "%s";
        SCOPED_TRACE(ours + " over \"" + text + "\"");
        char restOurs[64] = {}, restTheirs[64] = {};
        int64_t a = 0, b = 0;
        int na = ScanOne(true, ours, text, &a, restOurs);
        int nb = ScanOne(false, theirs, text, &b, restTheirs);
        ASSERT_EQ(na, nb);
        if (size == 1) {
            EXPECT_EQ(static_cast<int16_t>(a), static_cast<int16_t>(b));
        } else if (size == 0) {
            EXPECT_EQ(static_cast<int32_t>(a), static_cast<int32_t>(b));
        } else {
            EXPECT_EQ(a, b);
        }
        EXPECT_STREQ(restOurs, restTheirs);
    }
}

TEST(ScanAgainstGlibc, GeneratedFloatingFieldsAgreeBitForBit) {
    std::mt19937_64 rng(8086);
    for (int i = 0; i < 4000; ++i) {
        std::string text = rng() % 4 == 0 ? " " : "";
        if (rng() % 3 == 0) text += '-';
        int integerDigits = static_cast<int>(rng() % 22);
        int fractionDigits = static_cast<int>(rng() % 22);
        if (integerDigits + fractionDigits == 0) integerDigits = 1;
        for (int d = 0; d < integerDigits; ++d) text += static_cast<char>('0' + rng() % 10);
        if (fractionDigits > 0 || rng() % 2) text += '.';
        for (int d = 0; d < fractionDigits; ++d) text += static_cast<char>('0' + rng() % 10);
        if (rng() % 2) {
            text += rng() % 2 ? 'e' : 'E';
            int e = static_cast<int>(rng() % 660) - 330;
            if (e >= 0 && rng() % 2) text += '+';
            text += std::to_string(e);
        }
        text += rng() % 2 ? "" : " x";
        bool isDouble = rng() % 2;
        std::string width = rng() % 5 == 0 ? std::to_string(1 + rng() % 12) : "";
        std::string format = "%" + width + (isDouble ? "l" : "") + "f%s";
        SCOPED_TRACE(format + " over \"" + text + "\"");
        char restOurs[64] = {}, restTheirs[64] = {};
        if (isDouble) {
            double a = 1, b = 1;
            int na = ScanOne(true, format, text, &a, restOurs);
            int nb = ScanOne(false, format, text, &b, restTheirs);
            ASSERT_EQ(na, nb);
            if (na > 0) {
                EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << a << " vs " << b;
            }
        } else {
            float a = 1, b = 1;
            int na = ScanOne(true, format, text, &a, restOurs);
            int nb = ScanOne(false, format, text, &b, restTheirs);
            ASSERT_EQ(na, nb);
            if (na > 0) {
                EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << a << " vs " << b;
            }
        }
        EXPECT_STREQ(restOurs, restTheirs);
    }
}

TEST(ScanAgainstGlibc, GeneratedTextFieldsAgree) {
    std::mt19937_64 rng(31337);
    const char* formats[] = {"%s%s",     "%3s%s",   "%c%s",      "%4c%s",
                             "%[a-m]%s", "%[^,]%s", "%2[abc]%s", "%*s%s"};
    const char alphabet[] = "abcmnxyz, ";
    for (int i = 0; i < 1500; ++i) {
        const char* format = formats[rng() % 8];
        std::string text;
        int length = 1 + static_cast<int>(rng() % 12);
        for (int c = 0; c < length; ++c) text += alphabet[rng() % 10];
        bool set = std::strchr(format, '[') != nullptr;
        if (set && text[0] == ' ') continue;  // ScanSetSkipsSpace
        SCOPED_TRACE(std::string(format) + " over \"" + text + "\"");
        char a[64] = {}, b[64] = {}, restA[64] = {}, restB[64] = {};
        int na, nb;
        if (std::strncmp(format, "%*", 2) == 0) {
            na = ScanCodeString(kUtf8, 0, kUtf8, kUtf16, text.c_str(), format, restA);
            nb = sscanf(text.c_str(), format, restB);
        } else {
            na = ScanCodeString(kUtf8, 0, kUtf8, kUtf16, text.c_str(), format, a, restA);
            nb = sscanf(text.c_str(), format, b, restB);
        }
        if (nb < 0) nb = 0;
        if (set && nb == 0 && na >= 1 && a[0] == 0) continue;  // ScanSetEmptyMatch
        ASSERT_EQ(na, nb);
        EXPECT_STREQ(a, b);
        EXPECT_STREQ(restA, restB);
    }
}

}  // namespace
