#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Main/DxChar.h"

using namespace ZiDaz;

namespace {

constexpr std::int32_t kUtf8 = CharEncoding::Utf8;
constexpr std::int32_t kUtf16 = CharEncoding::Utf16Le;

TEST(CodeStrings, CountAndCopyInEveryUnitSize) {
    const char32_t wide32[] = U"ab\U0001F600";
    EXPECT_EQ(CountCodeStringUnits(kUtf8, "a\xE3\x81\x82"), 4);
    EXPECT_EQ(CountCodeStringUnits(kUtf16, u"a\U0001F600"), 3);
    EXPECT_EQ(CountCodeStringUnits(CharEncoding::Utf32Le, wide32), 3);
    EXPECT_EQ(CountCodeStringUnits(437, "abc"), 0);

    char32_t copy32[8];
    CopyCodeString(CharEncoding::Utf32Le, copy32, wide32);
    EXPECT_EQ(std::u32string(copy32), wide32);
    char16_t copy16[8] = {};
    CopyWideString(copy16, u"xyz");
    AppendWideString(copy16, u"12");
    EXPECT_EQ(std::u16string(copy16), u"xyz12");
    char untouched[4] = "ok";
    CopyCodeString(437, untouched, "abc");
    EXPECT_STREQ(untouched, "ok");
}

TEST(CodeStrings, BoundedCopiesTerminateAndCutBetweenCharacters) {
    struct Case {
        std::int32_t encoding;
        std::string dst;  // what dst holds before (for appends), terminated
        int bytes;
        std::string src;
        bool append;
        std::string expected;  // the dst bytes up to and including the terminator
    } cases[] = {
        {kUtf8, "", 1, "abc", false, std::string("\0", 1)},
        {kUtf8, "", 4, "abc", false, std::string("abc\0", 4)},
        {kUtf8, "", 3, "abc", false, std::string("ab\0", 3)},
        {kUtf8, "", 4, "a\xE3\x81\x82", false, std::string("a\0", 2)},  // never half a character
        {kUtf8, "", 5, "a\xE3\x81\x82", false, std::string("a\xE3\x81\x82\0", 5)},
        {932, "", 2, "\x82\xA0", false, std::string("\0", 1)},
        {932, "", 3, "a\x82\xA0", false, std::string("a\0", 2)},
        {kUtf8, "xy", 4, "abc", true, std::string("xya\0", 4)},
        {kUtf8, "xy", 3, "abc", true, std::string("xy\0", 3)},  // no room: nothing appended
        {kUtf8, "xy", 8, "abc", true, std::string("xyabc\0", 6)},
    };
    for (const Case& c : cases) {
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);
        std::memcpy(buffer, c.dst.c_str(), c.dst.size() + 1);
        if (c.append) {
            AppendCodeStringBounded(c.encoding, buffer, c.bytes, c.src.c_str());
        } else {
            CopyCodeStringBounded(c.encoding, buffer, c.bytes, c.src.c_str());
        }
        EXPECT_EQ(std::string(buffer, c.expected.size()), c.expected) << c.src << " " << c.bytes;
        EXPECT_EQ(buffer[c.bytes], 'Z');  // nothing written past the bound
    }
    char zero[2] = {'Z', 'Z'};
    CopyCodeStringBounded(kUtf8, zero, 0, "abc");
    EXPECT_EQ(zero[0], 'Z');

    char16_t wide[8];
    std::fill(wide, wide + 8, u'Z');
    CopyWideStringBounded(wide, 8, u"ab\U0001F600");  // 4 units of room: a, b, then no pair
    EXPECT_EQ(std::u16string(wide), u"ab");
    std::fill(wide, wide + 8, u'Z');
    CopyWideStringBounded(wide, 10, u"ab\U0001F600c");
    EXPECT_EQ(std::u16string(wide), u"ab\U0001F600");
    AppendWideStringBounded(wide, 14, u"cdef");
    EXPECT_EQ(std::u16string(wide), u"ab\U0001F600cd");
}

TEST(CodeStrings, CopyNPadsWithZerosAndAddsNoTerminator) {
    char buffer[8];
    std::memset(buffer, 'Z', sizeof buffer);
    CopyCodeStringN(kUtf8, buffer, "ab", 4);
    EXPECT_EQ(std::string(buffer, 5), std::string("ab\0\0Z", 5));
    std::memset(buffer, 'Z', sizeof buffer);
    CopyCodeStringN(kUtf8, buffer, "abcdef", 4);
    EXPECT_EQ(std::string(buffer, 5), "abcdZ");
    std::memset(buffer, 'Z', sizeof buffer);
    CopyCodeStringN(kUtf8, buffer, "abcdef", 0);
    EXPECT_EQ(buffer[0], 'Z');
    char16_t wide[6];
    std::fill(wide, wide + 6, u'Z');
    CopyWideStringPrefixBounded(wide, 6, u"abcdef", 5);  // 3 units of room
    EXPECT_EQ(std::u16string(wide, 4), u"abcZ");
    std::fill(wide, wide + 6, u'Z');
    CopyWideStringPrefixBounded(wide, 1, u"abcdef", 5);
    EXPECT_EQ(wide[0], u'Z');
}

TEST(CodeStrings, Comparisons) {
    struct Case {
        std::int32_t encoding;
        std::u16string a, b;  // as units (narrow cases use the low bytes)
        int n;                // -1: the unbounded compare
        int expected;
    } cases[] = {
        {kUtf16, u"abc", u"abc", -1, 0},  {kUtf16, u"abc", u"abd", -1, -1},
        {kUtf16, u"abd", u"abc", -1, 1},  {kUtf16, u"ab", u"abc", -1, -1},
        {kUtf16, u"\xFF00", u"A", -1, 1}, {kUtf16, u"abX", u"abY", 2, 0},
        {kUtf16, u"abX", u"abY", 3, -1},  {kUtf16, u"a", u"b", 0, 0},
    };
    for (const Case& c : cases) {
        int r = c.n < 0 ? CompareCodeStrings(c.encoding, c.a.c_str(), c.b.c_str())
                        : CompareCodeStringsN(c.encoding, c.a.c_str(), c.b.c_str(), c.n);
        EXPECT_EQ(r, c.expected);
    }
    EXPECT_EQ(CompareCodeStrings(kUtf8, "\xE9", "e"), 1);  // bytes compare unsigned
    EXPECT_EQ(CompareNarrowString("abc", "abc"), 0);
    EXPECT_EQ(CompareWideString(u"b", u"a"), 1);
    EXPECT_EQ(CompareCodeStringWithAscii(kUtf16, u"Log", "Log"), 0);
    EXPECT_EQ(CompareCodeStringWithAscii(kUtf16, u"Lo", "Log"), -1);
    EXPECT_EQ(CompareCodeStringWithAscii(CharEncoding::Utf32Le, U"\u3042", "a"), 1);
    EXPECT_EQ(CompareCodeStrings(437, "a", "b"), 0);

    EXPECT_EQ(CompareCodeStringsNoCase(kUtf8, "abc", "ABD"), -1);
    EXPECT_EQ(CompareCodeStringsNoCase(kUtf8, "abc", "ABC"), 0);
    EXPECT_EQ(CompareCodeStringsNoCase(kUtf8, "abc", "AB"), 1);
    EXPECT_EQ(CompareWideStringNoCase(u"\U0001F600x", u"\U0001F600X"), 0);
    EXPECT_EQ(CompareCodeStringsNoCase(kUtf8, "\xC1\x81", "A"), 1);  // overlong form sorts last
    EXPECT_EQ(CompareCodeStringsNoCase(932,
                                       "\x82\xA0"
                                       "a",
                                       "\x82\xA0"
                                       "A"),
              0);
    EXPECT_EQ(CompareCodeStringsNoCase(kUtf8, "a\x80", "a\x80"), 0);  // stray bytes compare too
    EXPECT_EQ(CompareCodeStringsNoCase(kUtf8, "a\x80", "a\x81"), -1);
}

TEST(CodeStrings, Searches) {
    const char* text =
        "ab\xE3\x81\x82"
        "c";
    EXPECT_EQ(FindCharInCodeString(kUtf8, text, 0x3042), text + 2);
    EXPECT_EQ(FindCharInCodeString(kUtf8, text, 'c'), text + 5);
    EXPECT_EQ(FindCharInCodeString(kUtf8, text, 0), nullptr);
    EXPECT_EQ(FindCharInCodeString(kUtf8, text, 0x81), nullptr);
    // A stray byte is stepped over one unit at a time.
    const char* stray =
        "a\x80\x80"
        "b";
    EXPECT_EQ(FindCharInCodeString(kUtf8, stray, 'b'), stray + 3);
    // Shift-JIS: the trail byte 0x5C of 0x815C is no backslash.
    const char* sjis = "\x81\x5C\\";
    EXPECT_EQ(FindCharInCodeString(932, sjis, '\\'), sjis + 2);
    const char16_t* wide = u"path\\to";
    EXPECT_EQ(FindWideChar(wide, u'\\'), wide + 4);

    const char* hello = "hello";
    EXPECT_EQ(FindCodeSubstring(kUtf8, hello, "ll"), hello + 2);
    EXPECT_EQ(FindCodeSubstring(kUtf8, hello, "lo"), hello + 3);
    EXPECT_EQ(FindCodeSubstring(kUtf8, hello, "lox"), nullptr);
    EXPECT_EQ(FindCodeSubstring(kUtf8, hello, ""), hello);
    EXPECT_EQ(FindCodeSubstring(kUtf8, "", ""), nullptr);
    EXPECT_EQ(FindWideSubstring(wide, u"to"), wide + 5);
    EXPECT_EQ(FindCharInCodeString(437, hello, 'l'), nullptr);
}

TEST(CodeStrings, CaseConversionLeavesTrailBytesAlone) {
    char sjis[] = "a\x82\x61Z";  // 0x8261 is a double-byte character whose trail is 'a'
    LowerCaseCodeString(932, sjis);
    EXPECT_STREQ(sjis, "a\x82\x61z");
    UpperCaseCodeString(932, sjis);
    EXPECT_STREQ(sjis, "A\x82\x61Z");
    char utf8[] = "Ab\xC3\xA9z";
    EXPECT_EQ(UpperCaseCodeString(kUtf8, utf8), utf8);
    EXPECT_STREQ(utf8, "AB\xC3\xA9Z");
    char16_t wide[] = u"x\u00E9y";
    UpperCaseWideString(wide);
    EXPECT_EQ(std::u16string(wide), u"X\u00E9Y");
}

TEST(CodeStrings, ParseIntegers) {
    struct Case {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"  -42abc", -42},
        {"99999999999", 2147483647},
        {"-99999999999", INT32_MIN},
        {"2147483647", 2147483647},
        {"2147483646", 2147483646},
        {"-2147483648", INT32_MIN},
        {"-2147483647", -2147483647},
        {"abc", 0},
        {"", 0},
        {"+17", 17},
        {"\t\n 8", 8},
        {"- 5", 0},
        {"0000000000000000000000000012", 12},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseCodeStringInt(kUtf8, c.text), c.value) << c.text;
    EXPECT_EQ(ParseCodeStringInt(kUtf8, nullptr), 0);
    EXPECT_EQ(ParseCodeStringInt(kUtf16, u" -123x"), -123);
    EXPECT_EQ(ParseCodeStringInt(CharEncoding::Utf32Le, U"456"), 456);
    std::string longNines(2000, '9');
    EXPECT_EQ(ParseCodeStringInt(kUtf8, longNines.c_str()), 2147483647);

    EXPECT_EQ(ParseCodeStringInt64(kUtf8, "-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(ParseCodeStringInt64(kUtf8, "12345678901234"), 12345678901234);
    EXPECT_EQ(ParseCodeStringInt64(kUtf8, "18446744073709551617"), 1);  // modulo 2^64
    EXPECT_EQ(ParseCodeStringInt64(kUtf8, std::string(300, '1').c_str()), -1);
    EXPECT_EQ(ParseCodeStringInt64(kUtf8, std::string(255, '0').c_str()), 0);
    EXPECT_EQ(ParseCodeStringInt64(kUtf8, std::string(256, '0').c_str()), -1);
}

TEST(CodeStrings, IntToText) {
    struct Case {
        std::int32_t value;
        int radix;
        const char* text;
    } cases[] = {
        {255, 16, "ff"}, {-2147483648, 10, "-2147483648"}, {0, 10, "0"}, {35, 36, "z"},
        {-5, 2, "-101"}, {2147483647, 10, "2147483647"},   {7, 1, ""},   {7, 37, ""},
    };
    for (const Case& c : cases) {
        char buffer[40];
        EXPECT_EQ(IntToCodeString(kUtf8, c.value, buffer, c.radix), buffer);
        EXPECT_STREQ(buffer, c.text) << c.value << " " << c.radix;
    }
    char16_t wide[16];
    EXPECT_EQ(IntToWideString(-255, wide, 16), wide);
    EXPECT_EQ(std::u16string(wide), u"-ff");
    char32_t wide32[16];
    IntToCodeString(CharEncoding::Utf32Be, 12, wide32, 10);
    EXPECT_EQ(std::memcmp(wide32,
                          "\0\0\0"
                          "1"
                          "\0\0\0"
                          "2"
                          "\0\0\0\0",
                          12),
              0);
}

}  // namespace
