#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/Kernel32.h"

namespace {

using namespace platform::kernel32;

std::u16string ToWide(UINT cp, const std::string& text, DWORD flags = 0) {
    int n = MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(n, u'\0');
    if (n > 0) MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string ToNarrow(UINT cp, const std::u16string& text) {
    int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n, '\0');
    if (n > 0)
        WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                            nullptr);
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
        EXPECT_EQ(MultiByteToWideChar(65001, MB_ERR_INVALID_CHARS, invalid[i], -1, nullptr, 0), 0) << i;
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
    if (saved) setenv("LANG", keep.c_str(), 1); else unsetenv("LANG");
}

}  // namespace
