#include "runtime/shell/TextConversion.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Kernel32.h"

namespace {

const char* const kJapanese =
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83"
    "\x88\xE3\x80\x82\xEF\xBD\xB6\xEF\xBE\x80\xEF\xBD\xB6\xEF\xBE\x85 ABC";  // 日本語のテキスト。ｶﾀｶﾅ
                                                                             // ABC
const char* const kJpn = "jpn_jpn.932";

TEST(TextConversion, JapaneseRoundTripsThroughUtf16AndCodePage932) {
    const std::u16string wide = ConvertUtf8ToWide(kJapanese);
    EXPECT_EQ(wide, u"日本語のテキスト。ｶﾀｶﾅ ABC");
    EXPECT_STREQ(ConvertWideToUtf8(wide.c_str()), kJapanese);

    const std::string sjis = ConvertUtf8ToCodePage(kJpn, kJapanese);
    EXPECT_EQ(sjis.substr(0, 4), "\x93\xFA\x96\x7B");  // 日本
    EXPECT_EQ(ConvertWideToCodePage(kJpn, wide.c_str()), sjis);
    EXPECT_EQ(ConvertCodePageToWide(kJpn, sjis.c_str()), wide);
    int length = -1;
    EXPECT_EQ(ConvertCodePageToUtf8(kJpn, sjis.c_str(), &length), kJapanese);
    EXPECT_EQ(length, static_cast<int>(std::string(kJapanese).size()));

    length = -1;
    EXPECT_EQ(ConvertCodePageToUtf8(kJpn, "", &length), "");
    EXPECT_EQ(length, 0);
    EXPECT_EQ(ConvertUtf8ToWide(""), std::u16string());
    EXPECT_EQ(ConvertUtf8ToWide(nullptr), std::u16string());
}

TEST(TextConversion, LocaleStringsNameTheirCodePage) {
    struct {
        const char* locale;
        unsigned codePage;
    } cases[] = {{"jpn_jpn.932", 932},
                 {"ENU_USA.1252", 1252},
                 {"KOR_KOR.949", 949},
                 {"jpn", 0},
                 {"a.", 0},
                 {"a.b", 0},
                 {"a.936x", 936},
                 {"a.9.1", 9},
                 {"", 0},
                 {nullptr, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(CodePageOfLocale(c.locale), c.codePage) << (c.locale ? c.locale : "(null)");
    }
    EXPECT_STREQ(LocaleOfCharacterSet(0), "jpn_jpn.932");
    EXPECT_STREQ(LocaleOfCharacterSet(1), "jpn_jpn.932");
    EXPECT_STREQ(LocaleOfCharacterSet(3), "cht_hkg.950");
    EXPECT_STREQ(LocaleOfCharacterSet(6), "DEU_DEU.1252");
    EXPECT_STREQ(LocaleOfCharacterSet(7), "");
    EXPECT_STREQ(LocaleOfCharacterSet(-1), "");
    EXPECT_STREQ(LocaleOfCharacterSet(10), "");

    // Without a code page the system's ANSI code page converts.
    const std::u16string viaAnsi = ConvertCodePageToWide("jpn", "\x82\xA0");
    const std::string explicitAnsi = "x." + std::to_string(platform::kernel32::GetACP());
    EXPECT_EQ(viaAnsi, ConvertCodePageToWide(explicitAnsi.c_str(), "\x82\xA0"));
}

TEST(TextConversion, AByteOrderSignatureIsDroppedOnlyBeforeOtherText) {
    EXPECT_STREQ(ConvertWideToCodePage(kJpn, u"\uFEFFあ"), "\x82\xA0");
    EXPECT_STREQ(ConvertWideToCodePage("x.65001", u"\uFFFEa"), "a");
    EXPECT_STREQ(ConvertWideToCodePage("x.65001", u"\uFEFF"), "\xEF\xBB\xBF");
    EXPECT_STREQ(ConvertWideToCodePage("x.65001", u"a\uFEFF"), "a\xEF\xBB\xBF");
}

// Each pointer-returning converter hands out ten results that stay intact, then reuses the first
// slot; converters and threads do not share slots.
TEST(TextConversion, EachRingHandsOutTenResultsBeforeReusingTheFirst) {
    using Call = std::function<std::u16string(int, const void**)>;
    auto narrowResult = [](const char* p, const void** where) {
        *where = p;
        return std::u16string(ConvertUtf8ToWide(p));
    };
    const std::vector<std::pair<const char*, Call>> converters = {
        {"ConvertUtf8ToWide",
         [](int i, const void** where) {
             const char16_t* p = ConvertUtf8ToWide(std::to_string(100 + i).c_str());
             *where = p;
             return std::u16string(p);
         }},
        {"ConvertCodePageToWide",
         [](int i, const void** where) {
             const char16_t* p = ConvertCodePageToWide(kJpn, std::to_string(100 + i).c_str());
             *where = p;
             return std::u16string(p);
         }},
        {"ConvertWideToUtf8",
         [=](int i, const void** where) {
             std::u16string text = u"10" + std::u16string(1, u'0' + i);
             return narrowResult(ConvertWideToUtf8(text.c_str()), where);
         }},
        {"ConvertWideToCodePage",
         [=](int i, const void** where) {
             std::u16string text = u"10" + std::u16string(1, u'0' + i);
             return narrowResult(ConvertWideToCodePage(kJpn, text.c_str()), where);
         }},
        {"ConvertUtf8ToCodePage",
         [=](int i, const void** where) {
             return narrowResult(ConvertUtf8ToCodePage(kJpn, std::to_string(100 + i).c_str()),
                                 where);
         }},
    };
    for (const auto& [name, call] : converters) {
        SCOPED_TRACE(name);
        std::vector<const void*> pointers(11);
        std::vector<std::u16string> texts(11);
        for (int i = 0; i < 10; ++i) texts[i] = call(i, &pointers[i]);
        std::set<const void*> distinct(pointers.begin(), pointers.begin() + 10);
        EXPECT_EQ(distinct.size(), 10u);
        // All ten results are still readable; the eleventh call takes the first slot.
        for (int i = 0; i < 10; ++i) {
            const bool wide = std::string(name).find("ToWide") != std::string::npos;
            std::u16string now =
                wide ? std::u16string(static_cast<const char16_t*>(pointers[i]))
                     : std::u16string(ConvertUtf8ToWide(static_cast<const char*>(pointers[i])));
            EXPECT_EQ(now, texts[i]) << "result " << i;
        }
        texts[10] = call(10, &pointers[10]);
        EXPECT_EQ(pointers[10], pointers[0]);
    }
}

TEST(TextConversion, AnotherThreadsConversionsLeaveThisThreadsResults) {
    const char16_t* mine = ConvertUtf8ToWide("main");
    std::thread worker([] {
        for (int i = 0; i < 25; ++i) ConvertUtf8ToWide("worker");
    });
    worker.join();
    EXPECT_EQ(std::u16string(mine), u"main");
}

TEST(TextConversion, OldSaveTextKeepsItsCodeRuns) {
    struct Case {
        const char* label;
        std::string text;
        std::string expected;
    } cases[] = {
        {"ASCII around a run",
         "AB\x01\x02\x05"
         "CD",
         "AB\x01\x02\x05"
         "CD"},
        {"Japanese around a run", "\x82\xA0\x01\x03\x82\xA0\x82\xA2",
         "\xE3\x81\x82\x01\x03\x82\xA0\xE3\x81\x84"},  // the run's bytes stay unconverted
        {"two runs in a row", "\x01\x02\x05\x01\x02\x06\x82\xA0",
         "\x01\x02\x05\x01\x02\x06\xE3\x81\x82"},
        {"a length byte of 16 converts the whole text", "\x01\x10\x82\xA0", "\x01\x10\xE3\x81\x82"},
        {"no run",
         "\x82\xA0"
         "a",
         "\xE3\x81\x82"
         "a"},
        {"0x01 as the last byte", "A\x01", "A\x01"},
        {"a run longer than the text",
         "A\x01\x0F"
         "B",
         "A\x01\x0F"
         "B"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ConvertOldSaveText(c.text, kJpn), c.expected) << c.label;
    }
    // A run that claims more bytes than the text has is cut at the text's real end.
    const std::string buffer = std::string(
                                   "A\x01\x0F"
                                   "B") +
                               "ZZZZZZZZZZZZZZZZ";
    EXPECT_EQ(ConvertOldSaveText(std::string_view(buffer).substr(0, 4), kJpn),
              "A\x01\x0F"
              "B");
}

TEST(TextConversion, Utf8Validity) {
    struct {
        const char* text;
        bool valid;
    } cases[] = {
        {"a\xE3\x81\x82", true},
        {"\xE3\x81", false},
        {"\xC3\x28", false},
        {"", true},
        {"\xF0\x9F\x98\x80", true},
        {"\xF0\x9F\x98", false},
        {"\x80", false},
        {"\xF8\x88\x80\x80\x80", false},
        {"\xFF", false},
        {"\xC0\xAF", true},      // overlong forms are not looked at
        {"\xED\xA0\x80", true},  // nor surrogates
        {"abc\xC3\xA9", true},
    };
    for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
    EXPECT_FALSE(IsValidUtf8(nullptr));
}

TEST(TextConversion, DisplayColumns) {
    struct {
        std::string text;
        int columns;
    } cases[] = {
        {"abc", 3},
        {"\xE3\x81\x82", 2},  // あ
        {"\xEF\xBD\xB1", 1},  // ｱ U+FF71
        {"\xEF\xBD\xA1", 2},  // ｡ U+FF61 is outside the half-width range counted as 1
        {"\xEF\xBD\xA6", 1},  // U+FF66
        {"\xEF\xBE\x80", 1},  // U+FF80
        {"\xEF\xBF\x9F", 1},  // U+FFDF
        {"\xEF\xBF\xA0", 2},  // U+FFE0
        {"\n", 0},
        {"a\nb", 2},
        {"\xC3\xA9x", 3},  // é
        {"\xF0\x9F\x98\x80", 2},
        {"\x80\xC0\xC1\xF5\xFF\x7F", 0},
        {"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(CountTextColumns(c.text), c.columns) << c.text;
    // A character cut off by the end of the text counts, and nothing beyond the text is read.
    const std::string buffer =
        "a\xE3"
        "bbbbbbbb";
    EXPECT_EQ(CountTextColumns(std::string_view(buffer).substr(0, 2)), 3);
    const std::string halfWidth =
        "\xEF\xBD"
        "\xB1";
    EXPECT_EQ(CountTextColumns(std::string_view(halfWidth).substr(0, 2)), 2);
}

}  // namespace
