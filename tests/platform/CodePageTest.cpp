#include <gtest/gtest.h>
#include <unicode/ucnv.h>

#include <cstdlib>
#include <string>

#include "platform/Kernel32.h"

namespace {

using namespace platform::kernel32;

std::u16string ToWide(UINT cp, const std::string& text, DWORD flags = 0) {
    int n = MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(n, u'\0');
    if (n > 0)
        MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string ToNarrow(UINT cp, const std::u16string& text) {
    int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n, '\0');
    if (n > 0)
        WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

TEST(CodePages, ConvertKnownCharactersBothWays) {
    struct Case {
        UINT codePage;
        std::string bytes;
        std::u16string wide;
    } cases[] = {
        {932, "\x82\xA0\x88\x9F", u"\u3042\u4E9C"},  // あ亜
        {936, "\xC4\xE3", u"\u4F60"},                // 你
        {949, "\xC7\xD1", u"\uD55C"},                // 한
        {950, "\xA4\xA4", u"\u4E2D"},                // 中
        {1252, "\x80\xE9", u"\u20AC\u00E9"},
        {65001, "\xE3\x81\x82\xF0\x9F\x98\x80", u"\u3042\U0001F600"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToWide(c.codePage, c.bytes, MB_ERR_INVALID_CHARS), c.wide) << c.codePage;
        EXPECT_EQ(ToNarrow(c.codePage, c.wide), c.bytes) << c.codePage;
    }
}

TEST(CodePages, InvalidSequencesAreRejectedWithTheFlag) {
    const char* invalid[] = {"\x81", "\x80", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80"};
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, invalid[0], 1, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    for (int i = 1; i < 5; ++i) {
        EXPECT_EQ(MultiByteToWideChar(65001, MB_ERR_INVALID_CHARS, invalid[i], -1, nullptr, 0), 0)
            << i;
        EXPECT_GT(MultiByteToWideChar(65001, 0, invalid[i], -1, nullptr, 0), 0) << i;
    }
    // Windows' 1252 keeps the five unassigned bytes as C1 controls.
    EXPECT_EQ(ToWide(1252, "\x81", MB_ERR_INVALID_CHARS), u"\u0081");
}

TEST(CodePages, TerminatorIsCountedAndSmallBuffersFail) {
    char16_t out[2];
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "abc", -1, out, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", -1, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    BOOL usedDefault = FALSE;
    char narrow[8] = {};
    EXPECT_EQ(WideCharToMultiByte(932, 0, u"a\u00E9", -1, narrow, 8, nullptr, &usedDefault), 3);
    EXPECT_TRUE(usedDefault);
    EXPECT_STREQ(narrow, "a?");
}

TEST(CodePages, SystemCodePageFollowsLang) {
    const char* saved = std::getenv("LANG");
    std::string keep = saved ? saved : "";
    setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(GetOEMCP(), 932u);
    setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(GetOEMCP(), 1252u);
    if (saved)
        setenv("LANG", keep.c_str(), 1);
    else
        unsetenv("LANG");
}

}  // namespace

// ---- Windows' own tables ------------------------------------------------------------------

// The character ICU's copy of a Windows table gives for the bytes, or 0 when it gives not
// exactly one unit (ICU ships Windows' 936, 949 and 950 tables; for 932 only IBM's variant).
char16_t WindowsTableDecode(UConverter* converter, const std::string& bytes) {
    UErrorCode error = U_ZERO_ERROR;
    UChar out[4];
    ucnv_reset(converter);
    int32_t n =
        ucnv_toUChars(converter, out, 4, bytes.data(), static_cast<int32_t>(bytes.size()), &error);
    return U_SUCCESS(error) && n == 1 ? static_cast<char16_t>(out[0]) : 0;
}

char16_t OurDecode(UINT cp, const std::string& bytes) {
    char16_t out[4];
    int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(),
                                static_cast<int>(bytes.size()), out, 4);
    return n == 1 ? out[0] : 0;
}

// Every one- and two-byte code of the double-byte code pages reads as in Windows' tables, the
// user-defined rows and the single bytes Windows gives private characters included, and each
// of those characters is written back as its code.
TEST(CodePages, DoubleByteCodePagesReadAsWindowsTablesDo) {
    for (auto [cp, table] : {std::pair<UINT, const char*>{936, "windows-936-2000"},
                             {949, "windows-949-2000"},
                             {950, "windows-950-2000"}}) {
        UErrorCode error = U_ZERO_ERROR;
        UConverter* converter = ucnv_open(table, &error);
        ASSERT_TRUE(U_SUCCESS(error)) << table;
        ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
        int privateUse = 0;
        for (unsigned code = 1; code <= 0xFFFF; ++code) {
            std::string bytes;
            if (code >= 0x100) {
                if ((code >> 8) < 0x81 || (code >> 8) == 0xFF) continue;
                bytes += static_cast<char>(code >> 8);
            }
            bytes += static_cast<char>(code);
            char16_t expected = WindowsTableDecode(converter, bytes);
            ASSERT_EQ(int{OurDecode(cp, bytes)}, int{expected}) << cp << " " << std::hex << code;
            if (expected >= 0xE000 && expected <= 0xF8FF) {
                ++privateUse;
                EXPECT_EQ(ToNarrow(cp, std::u16string(1, expected)), bytes)
                    << cp << " U+" << std::hex << int{expected};
            }
        }
        EXPECT_GE(privateUse, 189) << cp;
        ucnv_close(converter);
    }
}

// Shift-JIS: glibc's table is Windows' own for every two-byte code (user-defined rows
// F040-F9FC included); of the single bytes, Windows also reads 0x80 and gives 0xA0 and
// 0xFD-0xFF private characters, where glibc refuses them.
TEST(CodePages, ShiftJisSingleBytesAsWindowsReadsThem) {
    const std::pair<char, char16_t> singles[] = {
        {'\x80', 0x0080}, {'\xA0', 0xF8F0}, {'\xFD', 0xF8F1}, {'\xFE', 0xF8F2}, {'\xFF', 0xF8F3}};
    for (auto [byte, wide] : singles) {
        std::string bytes(1, byte);
        EXPECT_EQ(ToWide(932, bytes, MB_ERR_INVALID_CHARS), std::u16string(1, wide));
        EXPECT_EQ(ToNarrow(932, std::u16string(1, wide)), bytes);
        // Never the default character, also in the middle of a text.
        EXPECT_EQ(ToWide(932, "a" + bytes + "\x82\xA0"),
                  u"a" + std::u16string(1, wide) + u"\u3042");
    }
    EXPECT_EQ(ToWide(932, "\xF0\x40\xF9\xFC", MB_ERR_INVALID_CHARS), u"\uE000\uE757");
    EXPECT_EQ(ToNarrow(932, u"\uE000\uE757"), "\xF0\x40\xF9\xFC");
    // A lead byte without its trail is still refused.
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "\x81", 1, nullptr, 0), 0);
}
