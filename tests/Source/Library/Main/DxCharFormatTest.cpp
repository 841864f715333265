// The printf and scanf engines: their documented cases, every encoding, truncation and hostile
// formats. The comparison with glibc is in DxCharFormatGlibcTest.cpp.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Main/DxChar.h"
#include "Main/DxCharFormat.h"

namespace {

using namespace ZiDaz;

constexpr int32_t kUtf8 = CharEncoding::Utf8;
constexpr int32_t kUtf16 = CharEncoding::Utf16Le;
constexpr int32_t kUtf32 = CharEncoding::Utf32Le;
constexpr int32_t kSjis = CharEncoding::ShiftJis;
constexpr int32_t kAllEncodings[] = {932,   936,  949,  950,   1252,  32764,
                                     32765, 1200, 1201, 32766, 32767, 65001};

template <class... A>
std::string Narrow(const char* format, A... args) {
    char buffer[2048];
    std::memset(buffer, 0x55, sizeof buffer);
    FormatCodeString(kUtf8, 0, kUtf8, kUtf16, buffer, sizeof buffer, format, args...);
    return buffer;
}

// Bytes of a text in an encoding (without terminator), from UTF-8.
std::string Encode(const std::string& utf8, int32_t e) {
    int size = TranscodeString(utf8.c_str(), -1, kUtf8, nullptr, 0, e);
    std::string out(size, '\0');
    TranscodeString(utf8.c_str(), -1, kUtf8, out.data(), size, e);
    out.resize(size - UnitBytesOfCharCode(e));
    return out;
}

std::string ToUtf8(const void* text, int32_t e) {
    int size = TranscodeString(text, -1, e, nullptr, 0, kUtf8);
    std::string out(size, '\0');
    TranscodeString(text, -1, e, out.data(), size, kUtf8);
    out.resize(size - 1);
    return out;
}

TEST(FormatCodeString, DocumentedCases) {
    struct Case {
        std::string got;
        const char* expected;
    } cases[] = {
        {Narrow("%5s|%-5s|%.1s", "ab", "ab", "ab"), "   ab|ab   |a"},
        {Narrow("%05d %+d % d %.3d %.0d", -42, 5, 5, 7, 0), "-0042 +5  5 007 0"},
        {Narrow("%#o %#x %X %-05d|", 8, 255, 255, 3), "010 0xff FF 3    |"},
        {Narrow("%p", reinterpret_cast<void*>(uintptr_t{0x80000000})), "80000000"},
        {Narrow("%lld %I64d %hd", int64_t{-5000000000}, int64_t{1} << 40, 0x18000),
         "-5000000000 1099511627776 -32768"},
        {Narrow("%.0f %.0f %.0f %.0f", 0.5, 0.6, 1.5, 2.5), "0 1 1 2"},
        {Narrow("%e %g %g %g", 0.0, 100000.0, 1000000.0, 0.0001),
         "0.000000e+000 100000 1e+006 0.0001"},
        {Narrow("%a %A %.0a", 1.0, 255.0, 1.5), "0x1.000000p+0 0x1.FE0000P+7 0x1p+0"},
        {Narrow("%f %08.2f %f %e", -INFINITY, NAN, INFINITY, INFINITY),
         "-1.#INF00 00001.#R 1.#INF00 1.#INF00e+000"},
        {Narrow("%f|%g|%.0f|%#.0f|%.1f|%.2f|%a", NAN, INFINITY, NAN, NAN, NAN, INFINITY, NAN),
         "1.#QNAN0|1.#INF|1|1.|1.$|1.#J|0x1.#QNAN0p+0"},
        {Narrow("%y|%Z|%n|%F|%", 1), "y|||F|"},
        {Narrow("%n%d", 7), "7"},
        {Narrow("%*d|%.*d|%-*d|", -4, 1, -2, 5, 3, 9), "1|5|9  |"},
        {Narrow("%5.2.f", 1.0), ".f"},
        {Narrow("%c%C%c", 'a', u'\u3042', 0x1F600), "a\xE3\x81\x82"},  // a byte of 0 writes nothing
        {Narrow("%s|%S|%s", "x", u"\u3042\U0001F600", nullptr), "x|\xE3\x81\x82\xF0\x9F\x98\x80|"},
        {Narrow("%5c|%-3c|%03c", 'a', 'b', 'c'), "    a|b  |00c"},
        {Narrow("%-08.3f|%+.2e|%#g|%g|%G", 3.14159, -12345.678, 2.0, 1e-5, 1.5e-7),
         "3.142   |-1.23e+004|2.00000|1e-005|1.5E-007"},
        {Narrow("%.2f|%.20e", 1e300, 5e-324),
         "1000000000000000052504760255204420248704468581108159154915854115511802457988908195786"
         "371375080447864043704443832883878176942523235360430575644792184786706982848387200926"
         "575803737830233794788090059368953234970799945081119038967640880074652742780142494579"
         "258788820056842838115669472196386865459400540160.00|4.94065645841246544177e-324"},
        {Narrow("%g|%g|%.3g|%.10g", 123456789.0, 0.000123456, 9.9996, 0.1),
         "1.23457e+008|0.000123456|10|0.1"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(FormatCodeString, SizesAndReturnValues) {
    char buffer[8];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(FormatCodeString(kUtf8, 0, kUtf8, kUtf16, buffer, 0, "abc"), 0);
    EXPECT_EQ(buffer[0], 'z');
    EXPECT_EQ(FormatCodeString(kUtf8, 0, kUtf8, kUtf16, buffer, 1, "abc"), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'z');
    EXPECT_EQ(FormatCodeString(kUtf8, 0, kUtf8, kUtf16, buffer, 4, "abcdef"), 3);
    EXPECT_STREQ(buffer, "abc");
    char16_t wide[8];
    EXPECT_EQ(FormatCodeString(kUtf16, 1, kUtf8, kUtf16, wide, 8, u"%s=%d", u"x", 42), 4);
    EXPECT_EQ(std::u16string(wide), u"x=42");
    EXPECT_EQ(FormatCodeString(12345, 0, kUtf8, kUtf16, buffer, 8, "abc"), 0);
}

TEST(FormatCodeString, WrappersUseTheLibraryEncodings) {
    SetNarrowCharCode(kUtf8);
    char narrow[32];
    EXPECT_EQ(FormatNarrowString(narrow, 32, "%s %S %d", "\xE3\x81\x82", u"\u3044", 5), 9);
    EXPECT_STREQ(narrow, "\xE3\x81\x82 \xE3\x81\x84 5");
    char16_t wide[32];
    EXPECT_EQ(FormatWideString(wide, 32, u"%s %S %c", u"\u3042", "\xE3\x81\x84", u'z'), 5);
    EXPECT_EQ(std::u16string(wide), u"\u3042 \u3044 z");
    EXPECT_EQ(FormatWideStringUnbounded(wide, u"%05.1f", 2.25), 5);
    EXPECT_EQ(std::u16string(wide), u"002.2");
}

// The same format gives the same text in every encoding: the Japanese text where the encoding can
// hold it (UTF-8, UTF-16, UTF-32 and Shift-JIS), plain ASCII in all of them.
TEST(FormatCodeString, SameTextInEveryEncoding) {
    const std::string japaneseFormat = "\xE6\x97\xA5\xE6\x9C\xAC %s|%5d|%-8.3f|%c|%e";
    const std::string japaneseArg = "\xE8\xAA\x9E\xE3\x81\xA0";
    const std::string expectedJapanese =
        "\xE6\x97\xA5\xE6\x9C\xAC \xE8\xAA\x9E\xE3\x81\xA0|  -42|3.142   |Q|1.500000e+010";
    const std::string asciiFormat = "ascii %s|%5d|%-8.3f|%c|%e";
    const std::string expectedAscii = "ascii text|  -42|3.142   |Q|1.500000e+010";
    for (int32_t e : kAllEncodings) {
        SCOPED_TRACE(e);
        bool japanese =
            e == kSjis || e == 1200 || e == 1201 || e == 32766 || e == 32767 || e == kUtf8;
        const std::string& format = japanese ? japaneseFormat : asciiFormat;
        std::string f = Encode(format, e);
        std::string arg = Encode(japanese ? japaneseArg : "text", e);
        f.append(4, '\0');
        arg.append(4, '\0');
        alignas(4) char buffer[256];
        // The argument in the output encoding itself, and in UTF-8 converted on the way.
        int n = FormatCodeString(e, 0, e, kUtf16, buffer, 256 / UnitBytesOfCharCode(e), f.data(),
                                 arg.data(), -42, 3.14159, 'Q', 1.5e10);
        const std::string& expected = japanese ? expectedJapanese : expectedAscii;
        EXPECT_EQ(ToUtf8(buffer, e), expected);
        EXPECT_EQ(n, static_cast<int>(Encode(expected, e).size() / UnitBytesOfCharCode(e)));
        std::string utf8Arg = japanese ? japaneseArg : "text";
        FormatCodeString(e, 1, kUtf16, kUtf8, buffer, 256 / UnitBytesOfCharCode(e), f.data(),
                         utf8Arg.c_str(), -42, 3.14159, 'Q', 1.5e10);
        EXPECT_EQ(ToUtf8(buffer, e), expected);
    }
}

// Every buffer size from 1 unit up gives a terminated prefix of the full text, cut between
// characters, and nothing is written past the size.
TEST(FormatCodeString, TruncatesOnCharacterBoundaries) {
    const std::string format = "\xE6\x97\xA5%s\xE6\x9C\xAC%5d%S";
    const std::string arg = "a\xE8\xAA\x9E\xF0\x9F\x98\x80z";
    for (int32_t e : {kUtf8, kUtf16, kSjis, kUtf32}) {
        SCOPED_TRACE(e);
        const int unit = UnitBytesOfCharCode(e);
        std::string f = Encode(format, e), a = Encode(arg, e);
        f.append(4, '\0');
        a.append(4, '\0');
        alignas(4) char full[256];
        int fullUnits =
            FormatCodeString(e, 0, e, kUtf8, full, 256 / unit, f.data(), a.data(), 7, u"\u3042");
        std::u32string whole;
        {
            std::vector<uint32_t> codes(300);
            int bytes = ExpandToCodeArray(full, e, codes.data());
            whole.assign(codes.begin(), codes.begin() + bytes / 4 - 1);
        }
        for (int size = 1; size <= fullUnits + 1; ++size) {
            SCOPED_TRACE(size);
            alignas(4) char buffer[256];
            std::memset(buffer, 0x7E, sizeof buffer);
            int n =
                FormatCodeString(e, 0, e, kUtf8, buffer, size, f.data(), a.data(), 7, u"\u3042");
            ASSERT_LT(n, size);
            for (int b = 0; b < unit; ++b) EXPECT_EQ(buffer[n * unit + b], 0);
            for (int b = size * unit; b < static_cast<int>(sizeof buffer); ++b)
                ASSERT_EQ(buffer[b], 0x7E);
            std::vector<uint32_t> codes(300);
            int bytes = ExpandToCodeArray(buffer, e, codes.data());
            std::u32string got(codes.begin(), codes.begin() + bytes / 4 - 1);
            EXPECT_EQ(whole.compare(0, got.size(), got), 0);  // whole characters only
            // Decoding the written units again gives exactly the characters counted.
            EXPECT_EQ(Encode(ToUtf8(buffer, e), e).size(), static_cast<size_t>(n * unit));
        }
    }
}

TEST(FormatCodeString, HostileFormatsStayInsideTheBuffer) {
    enum Args { Int, Text, Real, StarInt, StarReal, TwoStarsReal };
    const struct {
        const char* format;
        Args args;
    } cases[] = {
        {"%2147483647d", Int},
        {"%-2147483647s", Text},
        {"%.2147483647f", Real},
        {"%.2147483647e", Real},
        {"%.2147483647g", Real},
        {"%.2147483647a", Real},
        {"%.2147483647d", Int},
        {"%099999999999999999999d", Int},
        {"%.99999999999999999s", Text},
        {"%2147483648d", Int},
        {"%*d", StarInt},
        {"%.*f", StarReal},
        {"%", Int},
        {"%-", Int},
        {"%5.", Int},
        {"%ll", Int},
        {"%I6", Int},
        {"%I64", Int},
        {"%hhhhhhhhhhhhd", Int},
        {"%#0+- *.*e", TwoStarsReal},
        {"%2147483647c", Int},
        {"%0*.*f", TwoStarsReal},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        char buffer[64];
        std::memset(buffer, 0x7E, sizeof buffer);
        int n = 0;
        auto format = [&](auto... args) {
            n = FormatCodeString(kUtf8, 0, kUtf8, kUtf16, buffer, 32, c.format, args...);
        };
        switch (c.args) {
            case Int:
                format(2147483647);
                break;
            case Text:
                format("abc");
                break;
            case Real:
                format(1.0 / 3);
                break;
            case StarInt:
                format(2147483647, 5);
                break;
            case StarReal:
                format(2147483647, 2.5);
                break;
            case TwoStarsReal:
                format(2147483647, 2147483647, 1e300);
                break;
        }
        EXPECT_GE(n, 0);
        EXPECT_LT(n, 32);
        EXPECT_EQ(buffer[n], '\0');
        for (int i = 32; i < 64; ++i) ASSERT_EQ(buffer[i], 0x7E);
    }
    // A huge precision with room for it: the exact digits followed by zeros.
    std::vector<char> big(5000);
    int n = FormatCodeString(kUtf8, 0, kUtf8, kUtf16, big.data(), 5000, "%.4000e", 1.0 / 3);
    EXPECT_EQ(n, 4000 + 7);
    EXPECT_EQ(std::string(big.data(), 20), "3.333333333333333148");
    EXPECT_EQ(std::string(big.data() + 3995), "0000000e-001");
}

// -------------------------------------------------------------------------------------------------

template <class... A>
int Scan(const char* text, const char* format, A... args) {
    return ScanCodeString(kUtf8, 0, kUtf8, kUtf16, text, format, args...);
}

TEST(ScanCodeString, DocumentedCases) {
    int32_t a = -1, b = -1;
    EXPECT_EQ(Scan("VID_045E&PID_028E", "VID_%4X&PID_%4X", &a, &b), 2);
    EXPECT_EQ(a, 0x45E);
    EXPECT_EQ(b, 0x28E);
    EXPECT_EQ(Scan("XID_045E&PID", "VID_%4X", &a), 0);

    char rest[16] = {};
    EXPECT_EQ(Scan("  -17x", "%d%c", &a, rest), 2);
    EXPECT_EQ(a, -17);
    EXPECT_EQ(rest[0], 'x');
    EXPECT_EQ(Scan("12345", "%3d%d", &a, &b), 2);
    EXPECT_EQ(a, 123);
    EXPECT_EQ(b, 45);

    int32_t i1, i2, i3;
    EXPECT_EQ(Scan("0x1f 017 0", "%i %i %i", &i1, &i2, &i3), 3);
    EXPECT_EQ(i1, 31);
    EXPECT_EQ(i2, 15);
    EXPECT_EQ(i3, 0);

    double d = 0;
    float f = 0;
    EXPECT_EQ(Scan("1.5e2 0.1", "%lf %f", &d, &f), 2);
    EXPECT_EQ(d, 150.0);
    EXPECT_EQ(f, 0.1f);

    char s[16];
    std::memset(s, 'z', sizeof s);
    EXPECT_EQ(Scan("  word more", "%s", s), 1);
    EXPECT_STREQ(s, "word");
    std::memset(s, 'z', sizeof s);
    EXPECT_EQ(Scan("abcdef", "%3c", s), 1);
    EXPECT_EQ(std::string(s, 4), "abcz");  // exactly three units, no terminator

    EXPECT_EQ(Scan("abcd", "%[a-c]", s), 1);
    EXPECT_STREQ(s, "abc");
    EXPECT_EQ(Scan("x,y", "%[^,]", s), 1);
    EXPECT_STREQ(s, "x");
    EXPECT_EQ(Scan("x-y]", "%[-x]", s), 1);
    EXPECT_STREQ(s, "x-");
    EXPECT_EQ(Scan("ba-", "%[c-a-]", s), 1);  // reversed range, '-' after a range is a member
    EXPECT_STREQ(s, "ba-");

    EXPECT_EQ(Scan("5 6", "%d %d %d", &a, &b, &i1), 2);
}

TEST(ScanCodeString, DirectivesSizesAndEnds) {
    int16_t h = 0;
    int64_t big = 0;
    int32_t a = 0, b = 0;
    EXPECT_EQ(Scan("70000 -9000000000", "%hd %I64d", &h, &big), 2);
    EXPECT_EQ(h, static_cast<int16_t>(70000));
    EXPECT_EQ(big, -9000000000);
    EXPECT_EQ(Scan("1 2 3", "%*d %d %d", &a, &b), 2);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(Scan("42", "%0d", &a), 0);     // width 0 ends the scan
    EXPECT_EQ(Scan("-5", "%1d", &a), 0);     // the sign uses the whole width
    EXPECT_EQ(Scan("ab", "%[ab", &a), 0);    // unterminated set: nothing read or stored
    EXPECT_EQ(Scan("ab", "%l[ab]", &a), 0);  // a size before '[' ends the scan
    EXPECT_EQ(Scan("100%", "%d%%", &a), 1);
    EXPECT_EQ(Scan("yq7", "%yq%d", &a), 2);  // unknown letter: counted, then matched as 'y'
    EXPECT_EQ(a, 7);
    char c[4] = {'z', 'z', 'z', 'z'};
    EXPECT_EQ(Scan("", "%c", c), 1);  // %c at the end still counts
    EXPECT_EQ(c[0], 'z');
    EXPECT_EQ(Scan("", "%d", &a), 0);
    EXPECT_EQ(Scan("   ", " %d", &a), 0);
    double d = 1;
    EXPECT_EQ(Scan("1e999 -1e-999 .5 5. .", "%lf", &d), 1);
    EXPECT_TRUE(std::isinf(d));
    EXPECT_EQ(Scan("-1e-999", "%lf", &d), 1);
    EXPECT_EQ(d, 0.0);
    EXPECT_TRUE(std::signbit(d));
    EXPECT_EQ(Scan(".5", "%lf", &d), 1);
    EXPECT_EQ(d, 0.5);
    EXPECT_EQ(Scan(".", "%lf", &d), 0);
    // 300 digits: the field keeps 255 and the rest stays in the text.
    std::string digits(300, '1');
    float f = 0;
    EXPECT_EQ(Scan(digits.c_str(), "%f", &f), 1);
    EXPECT_TRUE(std::isinf(f));
}

TEST(ScanCodeString, EncodingsAndArgumentEncodings) {
    // Shift-JIS text: %s stores Shift-JIS (narrow argument encoding), %S UTF-16 (wide).
    std::string text = Encode("\xE6\x97\xA5\xE6\x9C\xAC 12 \xE8\xAA\x9E\xE3\x81\xA0", kSjis);
    std::string format = Encode("%s %d %S", kSjis);
    char narrow[16] = {};
    char16_t wide[16] = {};
    int32_t n = 0;
    EXPECT_EQ(
        ScanCodeString(kSjis, 0, kSjis, kUtf16, text.c_str(), format.c_str(), narrow, &n, wide), 3);
    EXPECT_EQ(ToUtf8(narrow, kSjis), "\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(n, 12);
    EXPECT_EQ(std::u16string(wide), u"\u8A9E\u3060");

    // A wide call over UTF-16: %c and %s go to UTF-16, %C and %S to the narrow encoding.
    char16_t two[4] = {u'z', u'z', u'z', u'z'};
    char utf8[16] = {};
    EXPECT_EQ(
        ScanCodeString(kUtf16, 1, kUtf8, kUtf16, u"\u3042\u3044 \u3046x", u"%2c %S", two, utf8), 2);
    EXPECT_EQ(std::u16string(two, 3), u"\u3042\u3044z");
    EXPECT_STREQ(utf8, "\xE3\x81\x86x");

    // %3s counts destination units: a three-byte UTF-8 character does not fit in the last two.
    char cut[8];
    EXPECT_EQ(ScanCodeString(kUtf16, 0, kUtf8, kUtf16, u"a\u3042", u"%3s", cut), 1);
    EXPECT_STREQ(cut, "a");

    // The same scan in every encoding.
    for (int32_t e : kAllEncodings) {
        SCOPED_TRACE(e);
        std::string t = Encode("x=-12 y=3.5 name", e), f = Encode("x=%d y=%lf %s", e);
        t.append(4, '\0');
        f.append(4, '\0');
        int32_t x = 0;
        double y = 0;
        alignas(4) char name[32] = {};
        EXPECT_EQ(ScanCodeString(e, 0, e, kUtf16, t.data(), f.data(), &x, &y, name), 3);
        EXPECT_EQ(x, -12);
        EXPECT_EQ(y, 3.5);
        EXPECT_EQ(ToUtf8(name, e), "name");
    }
}

}  // namespace
