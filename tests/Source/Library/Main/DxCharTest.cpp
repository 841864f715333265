#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "Main/DxChar.h"
#include "Main/Windows/DxWinAPI.h"
#include "platform/Kernel32.h"
#include "platform/Modules.h"

using namespace ZiDaz;

namespace {

constexpr std::int32_t kAllEncodings[] = {932,   936,  949,  950,   1252,  32764,
                                          32765, 1200, 1201, 32766, 32767, 65001};
constexpr std::int32_t kUtfEncodings[] = {1200, 1201, 32766, 32767, 65001};

int Unit(std::int32_t e) {
    return UnitBytesOfCharCode(e);
}

// Bytes of a text in an encoding, without its terminator, converted from UTF-32 code points.
std::string Encode(const std::u32string& text, std::int32_t e) {
    int size = TranscodeString(text.c_str(), -1, CharEncoding::Utf32Le, nullptr, 0, e);
    std::string out(size, '\0');
    TranscodeString(text.c_str(), -1, CharEncoding::Utf32Le, out.data(), size, e);
    out.resize(size - Unit(e));
    return out;
}

// A terminated copy of bytes with the encoding's terminator and extra bytes after it that a
// reader must never reach.
std::string Terminated(const std::string& bytes, std::int32_t e, const std::string& after = "") {
    return bytes + std::string(Unit(e), '\0') + after;
}

std::u32string Decode(const std::string& bytes, std::int32_t e) {
    std::string text = Terminated(bytes, e);
    int size = TranscodeString(text.data(), -1, e, nullptr, 0, CharEncoding::Utf32Le);
    std::u32string out(size / 4, U'\0');
    TranscodeString(text.data(), -1, e, out.data(), size, CharEncoding::Utf32Le);
    out.resize(size / 4 - 1);
    return out;
}

// Restores the process-wide encoding settings a test changes.
class EncodingSettings : public ::testing::Test {
  protected:
    void SetUp() override { saved_ = {NarrowEncoding, WideEncoding, CharSetId}; }
    void TearDown() override {
        NarrowEncoding = saved_[0], WideEncoding = saved_[1], CharSetId = saved_[2];
        platform::ResetHiddenModules();
        ReleaseSystemApiTable();
    }
    void Clear() { NarrowEncoding = WideEncoding = CharSetId = 0; }

  private:
    std::vector<std::int32_t> saved_;
};

TEST_F(EncodingSettings, NarrowEncodingChoosesCharacterSet) {
    struct Case {
        std::int32_t encoding, before, charSet;
    } cases[] = {{65001, 0, 7}, {932, 0, 1},   {949, 0, 2},  {950, 0, 3},  {936, 0, 4},
                 {1252, 0, 5},  {32764, 0, 6}, {1201, 0, 1}, {1201, 3, 3}, {12345, 4, 4}};
    for (const Case& c : cases) {
        Clear();
        CharSetId = c.before;
        EXPECT_EQ(SetNarrowCharCode(c.encoding), 0);
        EXPECT_EQ(NarrowEncoding, c.encoding);
        EXPECT_EQ(GetCharSetId(), c.charSet) << c.encoding;
        EXPECT_EQ(WideEncoding, 1200);
    }
    // Once set, the defaults never run.
    Clear();
    SetNarrowCharCode(65001);
    EnsureDefaultCharCodes();
    EXPECT_EQ(NarrowEncoding, 65001);
    EXPECT_EQ(CharSetId, 7);
}

TEST_F(EncodingSettings, DefaultsFollowTheOemCodePage) {
    // An OEM code page that is none of ours (here: no answer at all) gives Shift-JIS.
    Clear();
    ReleaseSystemApiTable();
    platform::HideEntry("kernel32.dll", "GetOEMCP", true);
    EXPECT_EQ(CountNarrowStringUnits("abc"), 3);
    EXPECT_EQ(NarrowEncoding, 932);
    EXPECT_EQ(CharSetId, 1);
    EXPECT_EQ(WideEncoding, 1200);

    // The system's own answer is taken when it is one of ours.
    Clear();
    platform::ResetHiddenModules();
    ReleaseSystemApiTable();
    std::string lang = getenv("LANG") ? getenv("LANG") : "";
    setenv("LANG", "C.UTF-8", 1);
    EnsureDefaultCharCodes();
    EXPECT_EQ(NarrowEncoding, 1252);
    EXPECT_EQ(CharSetId, 5);
    setenv("LANG", lang.c_str(), 1);
}

TEST(CharEncodings, CharacterLengthRule) {
    struct Case {
        std::int32_t encoding;
        std::string text;
        int size;
    } cases[] = {
        {65001, "\x41", 1},
        {65001, "\x80", -1},
        {65001, "\xC3\xA9", 2},
        {65001, "\xE3\x81\x82", 3},
        {65001, "\xF0", 4},
        {65001, "\xF8", 5},
        {65001, "\xFC", 6},
        {65001, "\xFE", -1},
        {65001, "\xFF", -1},
        {932, "\x81", 2},
        {932, "\x9F", 2},
        {932, "\xA0", 1},
        {932, "\xE0", 2},
        {932, "\xFC", 2},
        {932, "\xFD", 1},
        {936, "\x80", 2},
        {949, "\x7F", 1},
        {950, "\xFF", 2},
        {1252, "\xFF", 1},
        {32764, "\x81", 1},
        {32765, "\xFF", 1},
        {1200, std::string("\x00\xD8", 2), 4},
        {1200, std::string("\x00\xDC", 2), 2},
        {1201, std::string("\xDB\xFF", 2), 4},
        {1201, std::string("\xFF\xDB", 2), 2},
        {32766, "\x01\x02\x03\x04", 4},
        {32767, "\x01\x02\x03\x04", 4},
        {437, "A", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SizeOfCharAt(c.encoding, c.text.c_str()), c.size)
            << c.encoding << " " << std::hex << int(static_cast<unsigned char>(c.text[0]));
    }
    EXPECT_EQ(UnitBytesOfCharCode(437), -1);
}

TEST(CharEncodings, ReadAndWriteOneCharacter) {
    int length = -5;
    EXPECT_EQ(ReadCharCodeAt("\x88\x9F", 932, &length), 0x889Fu);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(ReadCharCodeAt("\xF4\x8F\xBF\xBF", 65001, &length), 0x10FFFFu);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(ReadCharCodeAt("\xFD\xBF\xBF\xBF\xBF\xBF", 65001, &length), 0x7FFFFFFFu);
    EXPECT_EQ(length, 6);
    EXPECT_EQ(ReadCharCodeAt(u"\xD83D\xDE00", 1200, &length), 0x1F600u);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(ReadCharCodeAt("\x00\x00\x01\x02", 32767, &length), 0x102u);
    EXPECT_EQ(ReadCharCodeAt(u"", 1200, &length), 0u);
    EXPECT_EQ(length, 2);  // the terminator: its unit size
    EXPECT_EQ(ReadCharCodeAt("\x80", 65001, &length), 0u);
    EXPECT_EQ(length, 0);  // invalid first unit
    EXPECT_EQ(ReadCharCodeAt("A", 437, &length), 0u);
    EXPECT_EQ(length, 0);

    unsigned char buffer[8] = {};
    EXPECT_EQ(EncodeCharCode(0x10000, 1200, buffer, 2), 0);
    EXPECT_EQ(EncodeCharCode(0x10000, 1200, nullptr, 2), 0);
    EXPECT_EQ(EncodeCharCode(0x10000, 1200, buffer, 4), 4);
    EXPECT_EQ(std::memcmp(buffer, "\x00\xD8\x00\xDC", 4), 0);
    EXPECT_EQ(EncodeCharCode(0x10000, 1201, buffer, 4), 4);
    EXPECT_EQ(std::memcmp(buffer, "\xD8\x00\xDC\x00", 4), 0);
    EXPECT_EQ(EncodeCharCode(0x110000, 1200, buffer, 8), 0);
    EXPECT_EQ(EncodeCharCode(0x7FFFFFFF, 65001, buffer, 8), 6);
    EXPECT_EQ(std::memcmp(buffer, "\xFD\xBF\xBF\xBF\xBF\xBF", 6), 0);
    EXPECT_EQ(EncodeCharCode(0x80000000u, 65001, buffer, 8), 0);
    EXPECT_EQ(EncodeCharCode(0x889F, 932, buffer, 8), 2);
    EXPECT_EQ(std::memcmp(buffer, "\x88\x9F", 2), 0);
    EXPECT_EQ(EncodeCharCode(0x12345678, 32767, buffer, 4), 4);
    EXPECT_EQ(std::memcmp(buffer, "\x12\x34\x56\x78", 4), 0);
    EXPECT_EQ(EncodeCharCode('A', 437, buffer, 8), 0);
}

TEST(CharEncodings, EveryScalarValueRoundTripsThroughEachUtf) {
    std::u32string all;
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        if (c < 0xD800 || c > 0xDFFF) all += c;
    }
    for (std::int32_t e : kUtfEncodings) {
        // One character at a time through the character functions...
        for (char32_t c : all) {
            unsigned char buffer[8];
            int n = EncodeCharCode(c, e, buffer, 8);
            ASSERT_GT(n, 0) << e << " " << std::hex << std::uint32_t{c};
            int length;
            ASSERT_EQ(ReadCharCodeAt(buffer, e, &length), static_cast<std::uint32_t>(c));
            ASSERT_EQ(length, n);
            ASSERT_EQ(MeasureCharAt(buffer, e), n);
        }
        // ...and the whole text through the string conversion, to and from every other UTF.
        std::string text = Encode(all, e);
        EXPECT_EQ(Decode(text, e), all) << e;
        for (std::int32_t other : kUtfEncodings) {
            std::string t = Terminated(text, e);
            int size = TranscodeString(t.data(), -1, e, nullptr, 0, other);
            std::string out(size, '\0');
            ASSERT_EQ(TranscodeString(t.data(), -1, e, out.data(), size, other), size);
            out.resize(size - Unit(other));
            EXPECT_EQ(out, Encode(all, other)) << e << " -> " << other;
        }
    }
    // Spot-check against the plain forms.
    EXPECT_EQ(Encode(U"\u00E9\u3042\U0001F600", 65001), "\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80");
    EXPECT_EQ(Encode(U"\U0001F600", 1201), std::string("\xD8\x3D\xDE\x00", 4));
}

// ---- Agreement with glibc iconv for the code pages ---------------------------------------

// The Unicode value iconv gives for the bytes, or 0 when it gives not exactly one BMP unit.
char16_t IconvDecode(iconv_t cd, const std::string& bytes) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char16_t out[4];
    char* o = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return 0;
    return sizeof out - outLeft == 2 ? out[0] : 0;
}

// The character the system's conversion gives for the bytes, or 0 when not exactly one unit.
char16_t SystemDecode(std::int32_t cp, const std::string& bytes) {
    char16_t out[4];
    int n = platform::kernel32::MultiByteToWideChar(static_cast<UINT>(cp), MB_ERR_INVALID_CHARS,
                                                    bytes.data(), static_cast<int>(bytes.size()),
                                                    out, 4);
    return n == 1 ? out[0] : 0;
}

// To Unicode every code reads as the system reads it (which is glibc's iconv wherever iconv
// knows the code); from Unicode each character goes to the highest code that gives it.
TEST(CodePageTables, FollowTheSystemToUnicodeAndTheHighestCodeFromUnicode) {
    for (std::int32_t cp : {932, 936, 949, 950, 1252}) {
        SCOPED_TRACE(cp);
        std::string name = "CP" + std::to_string(cp);
        iconv_t toWide = iconv_open("UTF-16LE", name.c_str());
        ASSERT_NE(toWide, reinterpret_cast<iconv_t>(-1));
        std::vector<unsigned> highest(0x10000, 0);
        std::vector<int> sharers(0x10000, 0);
        std::string allCodes;  // every mapped character once, in code order
        std::u16string allWide;
        const unsigned last = cp == 1252 ? 0xFF : 0xFFFF;
        for (unsigned code = 1; code <= last; ++code) {
            std::string bytes;
            if (code >= 0x100) bytes += static_cast<char>(code >> 8);
            bytes += static_cast<char>(code);
            bool lead = code < 0x100 && SizeOfCharAt(cp, bytes.c_str()) == 2;
            if ((code >= 0x100 && SizeOfCharAt(cp, bytes.c_str()) != 2) || lead) {
                continue;  // not a character of this length
            }
            char16_t expected = SystemDecode(cp, bytes);
            char16_t glibc = IconvDecode(toWide, bytes);
            if (glibc != 0) {
                ASSERT_EQ(int{expected}, int{glibc}) << std::hex << code;
            }
            ASSERT_EQ(TranscodeChar(code, cp, 1200), std::uint32_t{expected}) << std::hex << code;
            if (expected != 0) {
                highest[expected] = code;
                ++sharers[expected];
                allCodes += bytes;
                allWide += expected;
            }
        }
        EXPECT_GE(allWide.size(), cp == 1252 ? 255u : 7000u);
        int shared = 0;
        std::string back;  // allWide written back by the highest codes
        for (unsigned u = 1; u <= 0xFFFF; ++u) {
            if (sharers[u] > 1) ++shared;
            ASSERT_EQ(TranscodeChar(u, 65001, cp), highest[u]) << "U+" << std::hex << u;
        }
        for (char16_t u : allWide) {
            if (highest[u] >= 0x100) back += static_cast<char>(highest[u] >> 8);
            back += static_cast<char>(highest[u]);
        }
        if (cp == 932) {
            EXPECT_GE(shared, 390);  // NEC row 13 and the IBM extensions twice over
        }

        // The same through the string conversion, in one text each way.
        std::string wideBytes(reinterpret_cast<const char*>(allWide.data()), allWide.size() * 2);
        EXPECT_EQ(Encode(Decode(allCodes, cp), 1200), wideBytes);
        std::string narrow = Terminated(wideBytes, 1200);
        std::string converted(allCodes.size() + 1, '\0');
        int n = TranscodeString(narrow.data(), -1, 1200, converted.data(), converted.size(), cp);
        converted.resize(n > 0 ? n - 1 : 0);
        EXPECT_EQ(converted, back);
        iconv_close(toWide);
    }
}

TEST(CodePageTables, ShiftJisCharactersWithTwoCodesTakeTheHigher) {
    struct Case {
        char32_t character;
        std::uint32_t code;
    } cases[] = {
        {U'\u2252', 0x8790},  // ≒, also 81E0
        {U'\u2261', 0x8791},  // ≡, also 81DF
        {U'\u222B', 0x8792},  // ∫, also 81E7
        {U'\u221A', 0x8795},  // √, also 81E3
        {U'\u2160', 0xFA4A},  // Ⅰ, also 8754
        {U'\u2116', 0xFA59},  // №, also 8782
        {U'\u3231', 0xFA58},  // ㈱, also 878D
        {U'\uFFE2', 0xFA54},  // ￢, also 81CA
        {U'\u7E8A', 0xFA5C},  // 纊, also ED40
        {U'\u3042', 0x82A0},  // あ, one code only
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TranscodeChar(c.character, 65001, 932), c.code) << std::hex << c.code;
        std::string bytes{static_cast<char>(c.code >> 8), static_cast<char>(c.code)};
        EXPECT_EQ(Encode(std::u32string(1, c.character), 932), bytes);
    }
    // Both codes still read as the character.
    EXPECT_EQ(TranscodeChar(0x81E0, 932, 65001), 0x2252u);
    EXPECT_EQ(TranscodeChar(0xED40, 932, 65001), 0x7E8Au);
    // The single bytes the system gives private characters are characters of the tables too.
    EXPECT_EQ(TranscodeChar(0xA0, 932, 1200), 0xF8F0u);
    EXPECT_EQ(TranscodeChar(0xF8F3, 1200, 932), 0xFFu);
    EXPECT_EQ(TranscodeChar(0x80, 932, 1200), 0x80u);
}

TEST(CodePageTables, WesternEuroReplacesEightCharacters) {
    EXPECT_EQ(TranscodeChar(0xA4, 32764, 65001), 0x20ACu);
    EXPECT_EQ(TranscodeChar(0x20AC, 65001, 32764), 0xA4u);
    EXPECT_EQ(TranscodeChar(0xBE, 32764, 1200), 0x178u);
    EXPECT_EQ(TranscodeChar(0x178, 1200, 32764), 0xBEu);
    // The 1252 characters that gave way have no code any more: they must not come back as the
    // euro sign and its companions.
    EXPECT_EQ(TranscodeChar(0xA4, 65001, 32764), 0u);
    EXPECT_EQ(TranscodeChar(0xBD, 65001, 32764), 0u);
    EXPECT_EQ(TranscodeChar(0xE9, 65001, 32764), 0xE9u);
    EXPECT_EQ(TranscodeChar(0x80, 1252, 32764), 0xA4u);  // the euro sign moves
}

TEST(CodePageTables, CharacterMappingRules) {
    struct Case {
        std::uint32_t code;
        std::int32_t from, to;
        std::uint32_t expected;
    } cases[] = {
        {0x10000, 65001, 932, 0},
        {0x1F600, 1200, 936, 0},
        {0xE9, 65001, 32765, 0xE9},
        {0x100, 65001, 32765, 0},
        {0x1F600, 65001, 32766, 0x1F600},
        {0x82A0, 932, 65001, 0x3042},
        {0x3042, 1201, 932, 0x82A0},
        {0xC4E3, 936, 950, 0xA7 << 8 | 0x41},
        {0x41, 949, 950, 0x41},
        {0xE9, 32765, 1252, 0xE9},
        {0xE9, 32765, 65001, 0xE9},
        {0xE9, 1252, 32765, 0xE9},
        {0x80, 1252, 32765, 0},  // the euro sign is no byte value
        {0xE9, 32765, 932, 0},   // no é in Shift-JIS: dropped, never a stray lead byte
        {0x1234, 437, 65001, 0},
        {0x1234, 437, 437, 0x1234},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TranscodeChar(c.code, c.from, c.to), c.expected)
            << std::hex << c.code << " " << std::dec << c.from << "->" << c.to;
    }
}

// ---- Whole strings ---------------------------------------------------------------------------

// A mixed text every encoding can hold part of.
const std::u32string kMixed = U"Ab1 \u00E9\u20AC\u3042\u4E9C\u4F60\uD55C\uFF71\U0001F600z";

// Character boundaries of bytes in an encoding.
std::set<size_t> Boundaries(const std::string& bytes, std::int32_t e) {
    std::set<size_t> at = {0};
    std::string t = Terminated(bytes, e);
    size_t p = 0;
    while (p < bytes.size()) {
        int n = MeasureCharAt(t.data() + p, e);
        p += n > 0 ? n : Unit(e);
        at.insert(p);
    }
    return at;
}

TEST(TranscodeString, MeasuringGivesWhatWritingProducesOnEveryRoute) {
    for (std::int32_t from : kAllEncodings) {
        std::string source = Terminated(Encode(kMixed, from), from);
        for (std::int32_t to : kAllEncodings) {
            const int term = Unit(to);
            int needed = TranscodeString(source.data(), -1, from, nullptr, 0, to);
            ASSERT_GE(needed, term) << from << "->" << to;
            std::string full(needed + 8, '\x5A');
            ASSERT_EQ(TranscodeString(source.data(), -1, from, full.data(), needed, to), needed)
                << from << "->" << to;
            EXPECT_EQ(full.substr(needed), std::string(8, '\x5A'));  // nothing past the end
            std::string body = full.substr(0, needed - term);
            EXPECT_EQ(full.substr(needed - term, term), std::string(term, '\0'));
            std::set<size_t> boundaries = Boundaries(body, to);

            // Every smaller destination: a prefix of whole characters, always terminated, and
            // as long as it can be.
            for (int bytes = 0; bytes < needed; ++bytes) {
                std::string out(bytes + 8, '\x5A');
                int written = TranscodeString(source.data(), -1, from, out.data(), bytes, to);
                if (bytes < term) {
                    ASSERT_EQ(written, 0);
                    continue;
                }
                ASSERT_GE(written, term);
                ASSERT_LE(written, bytes) << from << "->" << to << " in " << bytes;
                size_t length = written - term;
                ASSERT_TRUE(boundaries.count(length)) << from << "->" << to << " in " << bytes;
                ASSERT_EQ(out.substr(0, length), body.substr(0, length));
                ASSERT_EQ(out.substr(length, term), std::string(term, '\0'));
                auto next = boundaries.upper_bound(length);
                ASSERT_TRUE(next == boundaries.end() || *next + term > static_cast<size_t>(bytes));
                ASSERT_EQ(out.substr(bytes), std::string(8, '\x5A'));
            }
        }
    }
}

TEST(TranscodeString, ConvertsBetweenTheEncodings) {
    EXPECT_EQ(Encode(U"Hello", 936), "Hello");
    EXPECT_EQ(Encode(U"Hello", 949), "Hello");
    EXPECT_EQ(Encode(U"Hello", 950), "Hello");
    EXPECT_EQ(Encode(U"\u3042\u4E9C\uFF71A", 932), "\x82\xA0\x88\x9F\xB1\x41");
    EXPECT_EQ(Decode("\x82\xA0\x88\x9F\xB1\x41", 932), U"\u3042\u4E9C\uFF71A");
    EXPECT_EQ(Encode(U"\u20AC\u0160\u00E9", 32764), "\xA4\xA6\xE9");
    EXPECT_EQ(Encode(U"\u20AC\u00E9", 1252), "\x80\xE9");
    // Characters a destination has no code for are dropped, the rest kept.
    EXPECT_EQ(Encode(U"a\u3042b\U0001F600c", 1252), "abc");
    EXPECT_EQ(Encode(U"a\u3042b\U0001F600c", 32765), "abc");
    EXPECT_EQ(Encode(U"a\u00E9\U0001F600", 932), "a");
    // Shift-JIS to 32765 keeps what is below U+0100 by its Unicode value.
    std::string sjis = Terminated("A\x82\xA0\x5C", 932);
    char out[8];
    EXPECT_EQ(TranscodeString(sjis.data(), -1, 932, out, 8, 32765), 3);
    EXPECT_STREQ(out, "A\x5C");
    // 936 to 950 through Unicode.
    std::string gbk = Terminated(
        "\xC4\xE3"
        "a",
        936);
    EXPECT_EQ(TranscodeString(gbk.data(), -1, 936, out, 8, 950), 4);
    EXPECT_STREQ(out,
                 "\xA7\x41"
                 "a");
}

TEST(TranscodeString, DestinationAndSourceLimits) {
    // Three 3-byte characters and "a" into 5 bytes of UTF-8: the first character only.
    const char16_t* text = u"\u3042\u3044\u3046a";
    char out[16];
    EXPECT_EQ(TranscodeString(text, -1, 1200, out, 5, 65001), 4);
    EXPECT_STREQ(out, "\xE3\x81\x82");
    EXPECT_EQ(TranscodeString(text, -1, 1200, nullptr, 5, 65001), 11);
    // A source limit in source units; a character that starts inside it is taken whole.
    EXPECT_EQ(TranscodeString(text, 2, 1200, out, 16, 65001), 7);
    const char* utf8 = "\xE3\x81\x82\xE3\x81\x84z";
    char16_t wide[8];
    EXPECT_EQ(TranscodeString(utf8, 4, 65001, wide, 16, 1200), 6);
    EXPECT_EQ(std::u16string(wide), u"\u3042\u3044");
    EXPECT_EQ(TranscodeString(utf8, 0, 65001, wide, 16, 1200), 2);
    EXPECT_EQ(TranscodeString("\x82\xA0\x82\xA2", 1, 932, wide, 16, 949), 3);
    // The same encoding copies, and cuts between characters.
    EXPECT_EQ(TranscodeString(utf8, -1, 65001, out, 16, 65001), 8);
    EXPECT_STREQ(out, utf8);
    EXPECT_EQ(TranscodeString(utf8, -1, 65001, out, 6, 65001), 4);
    EXPECT_STREQ(out, "\xE3\x81\x82");
    EXPECT_EQ(TranscodeString(utf8, 5, 65001, out, 16, 65001), 7);
    // Destinations too small for the terminator, unsupported encodings.
    EXPECT_EQ(TranscodeString(utf8, -1, 65001, wide, 1, 1200), 0);
    EXPECT_EQ(TranscodeString(utf8, -1, 65001, out, 0, 932), 0);
    EXPECT_EQ(TranscodeString("abc", -1, 437, out, 16, 437), -1);
    EXPECT_EQ(TranscodeString("abc", -1, 65001, out, 16, 437), 0);
    EXPECT_EQ(TranscodeString("abc", -1, 437, out, 16, 65001), 1);
    EXPECT_STREQ(out, "");
}

TEST(TranscodeString, AnInvalidUtf8ByteEndsTheText) {
    char16_t wide[8];
    EXPECT_EQ(TranscodeString("ab\x80"
                              "cd",
                              -1, 65001, wide, 16, 1200),
              6);
    EXPECT_EQ(std::u16string(wide), u"ab");
    char out[8];
    EXPECT_EQ(TranscodeString("ab\xFF"
                              "cd",
                              -1, 65001, out, 8, 1252),
              3);
    EXPECT_STREQ(out, "ab");
}

// A last unit that starts a longer character is cut by the terminator; behind the terminator
// lie bytes that would show up in the output if anything read past it.
TEST(TranscodeString, NeverReadsPastTheTerminatorOfACutCharacter) {
    struct Case {
        std::int32_t encoding;
        std::string text;
    } cases[] = {
        {932, Terminated("A\x81", 932, "@B")},
        {936, Terminated("A\xC4", 936,
                         "\xE3"
                         "B")},
        {949, Terminated("A\xC7", 949, "B")},
        {950, Terminated("A\xA4", 950, "B")},
        {65001, Terminated("A\xE3", 65001,
                           "\x81\x82"
                           "B")},
        {65001, Terminated("A\xE3\x81", 65001,
                           "\x82"
                           "B")},
        {65001, Terminated("A\xFC\x80\x80", 65001,
                           "\x80\x80\x80"
                           "B")},
        {1200, Terminated(std::string("A\0\x3D\xD8", 4), 1200,
                          std::string("\x00\xDE"
                                      "B\0",
                                      4))},
        {1201, Terminated(std::string("\0A\xD8\x3D", 4), 1201, std::string("\xDE\x00\0B", 4))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoding);
        const void* text = c.text.data();
        for (std::int32_t to : kAllEncodings) {
            int needed = TranscodeString(text, -1, c.encoding, nullptr, 0, to);
            std::string out(64, '\x5A');
            ASSERT_EQ(TranscodeString(text, -1, c.encoding, out.data(), 64, to), needed) << to;
            std::u32string back = Decode(out.substr(0, needed - Unit(to)), to);
            EXPECT_EQ(back, U"A") << c.encoding << "->" << to;
        }
        EXPECT_EQ(CountCharsInCodeString(text, c.encoding), 1);
        EXPECT_EQ(FindCharInCodeString(c.encoding, text, 'B'), nullptr);
        EXPECT_EQ(FindNthCharInCodeString(text, c.encoding, 2), nullptr);
        EXPECT_EQ(ExpandToCodeArray(text, c.encoding, nullptr), 8);
        int length = -1;
        ReadCharCodeAt(static_cast<const char*>(text) + Unit(c.encoding), c.encoding, &length);
        EXPECT_EQ(length, 0);
    }
}

TEST(CharEncodings, CountFindAndExpandCharacters) {
    const char* text =
        "a\xE3\x81\x82"
        "b";
    EXPECT_EQ(CountCharsInCodeString(text, 65001), 3);
    EXPECT_EQ(FindNthCharInCodeString(text, 65001, 0), text);
    EXPECT_EQ(FindNthCharInCodeString(text, 65001, 2), text + 4);
    EXPECT_EQ(FindNthCharInCodeString(text, 65001, 3), text + 5);  // the terminator
    EXPECT_EQ(FindNthCharInCodeString(text, 65001, 4), nullptr);
    EXPECT_EQ(FindNthCharInCodeString("a\x80"
                                      "b",
                                      65001, 2),
              nullptr);
    EXPECT_EQ(CountCharsInCodeString("a\x80"
                                     "b",
                                     65001),
              1);
    std::uint32_t codes[4];
    EXPECT_EQ(ExpandToCodeArray(text, 65001, codes), 16);
    EXPECT_EQ(codes[0], 'a');
    EXPECT_EQ(codes[1], 0x3042u);
    EXPECT_EQ(codes[2], 'b');
    EXPECT_EQ(codes[3], 0u);
    EXPECT_EQ(ExpandToCodeArray("\x88\x9F", 932, codes), 8);
    EXPECT_EQ(codes[0], 0x889Fu);
}

}  // namespace
