// The two lookups: language following, misses, the UTF-8 result ring and use from two threads.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/HostPath.h"
#include "runtime/dictionary/MessageDictionary.h"

namespace {

// The narrow results checked against the host path layer's encoder, not the code-page service
// that the lookup itself uses.
std::string Utf8(std::u16string_view text) {
    std::string out;
    EXPECT_TRUE(platform::Utf16ToUtf8(text, out));
    return out;
}

std::u16string Key(std::size_t row) {
    return std::u16string(MessageTable[row - 1].key);
}

// Every test leaves the language as it found it.
class MessageDictionaryTest : public testing::Test {
  protected:
    void SetUp() override { saved_ = UiLanguage; }
    void TearDown() override { UiLanguage = saved_; }

  private:
    std::int32_t saved_ = 0;
};

TEST_F(MessageDictionaryTest, StartsInEnglish) {
    // Before start-up decides, lookups answer in English, whatever the system.
    EXPECT_EQ(UiLanguage, 1);
    EXPECT_STREQ(TranslateMessageUtf8(u"新規ゲーム名"), "New Game Name");
    EXPECT_STREQ(TranslateMessageUtf8(u"なし"), "No");
    EXPECT_EQ(std::u16string(TranslateMessageWide(u"エラー")), u"Error");
}

TEST_F(MessageDictionaryTest, BothLookupsAnswerEveryRowInTheCurrentLanguage) {
    for (std::int32_t language : {0, 1, 0}) {
        UiLanguage = language;
        for (const MessageTableRow& row : MessageTable) {
            const std::u16string_view expected = language == 0 ? row.key : row.english;
            ASSERT_EQ(std::u16string(TranslateMessageWide(std::u16string(row.key))), expected);
            ASSERT_EQ(std::string(TranslateMessageUtf8(std::u16string(row.key))), Utf8(expected));
        }
    }
}

TEST_F(MessageDictionaryTest, LanguageDependentValues) {
    struct Case {
        std::u16string_view key;
        const char* japanese;
        const char* english;
    };
    const Case cases[] = {
        {u"Meiryo", "Meiryo", "MS Gothic"},
        {u"□ ", "□ ", "|"},
        {u"■ ", "■ ", "/"},
        {u"←", "←", "←"},
        {u"左Shift", "左Shift", "Left Shift"},
        {u"公式サイトのURLには接続できません", "公式サイトのURLには接続できません",
         "公式サイトのURLには接続できません"},
        {u"Delay Reset", "Delay Reset", "Reset Delay"},
    };
    for (const Case& c : cases) {
        UiLanguage = 0;
        EXPECT_STREQ(TranslateMessageUtf8(std::u16string(c.key)), c.japanese);
        UiLanguage = 1;
        EXPECT_STREQ(TranslateMessageUtf8(std::u16string(c.key)), c.english);
    }
}

TEST_F(MessageDictionaryTest, KeysMatchOnlyExactly) {
    const std::u16string misses[] = {
        u"",
        u"；",             // full-width form of the ";" key
        u"マップEv %d",    // without its trailing blank
        u"マップEv %d  ",  // with one blank too many
        u"meiryo",         // no case folding
        u"ｴﾗｰ",            // no width folding
        u"エラー\n",
        std::u16string(u"エラー\0", 4),
    };
    for (std::int32_t language : {0, 1}) {
        UiLanguage = language;
        EXPECT_STRNE(TranslateMessageUtf8(u";"), kMessageErrorString);
        EXPECT_STRNE(TranslateMessageUtf8(u"マップEv %d "), kMessageErrorString);
        for (const std::u16string& key : misses) {
            EXPECT_EQ(TranslateMessageUtf8(key), kMessageErrorString);
            EXPECT_EQ(TranslateMessageWide(key), kMessageErrorStringWide);
        }
    }
    EXPECT_EQ(std::u16string(kMessageErrorStringWide), u"<ERROR STRING>");
    EXPECT_STREQ(kMessageErrorString, "<ERROR STRING>");
}

TEST_F(MessageDictionaryTest, OtherLanguageValuesMissEveryKeyUntilChangedBack) {
    for (std::int32_t language : {2, -1, 127, -128}) {
        UiLanguage = language;
        for (const MessageTableRow& row : MessageTable) {
            ASSERT_EQ(TranslateMessageUtf8(std::u16string(row.key)), kMessageErrorString);
            ASSERT_EQ(TranslateMessageWide(std::u16string(row.key)), kMessageErrorStringWide);
        }
        UiLanguage = 1;
        EXPECT_STREQ(TranslateMessageUtf8(u"エラー"), "Error");
        EXPECT_EQ(std::u16string(TranslateMessageWide(u"エラー")), u"Error");
    }
}

TEST_F(MessageDictionaryTest, RingHoldsThirtyResultsAndAMissDoesNotAdvanceIt) {
    UiLanguage = 1;
    std::vector<const char*> results;
    std::vector<std::string> texts;
    for (std::size_t row = 1; row <= kMessageResultRingSize; ++row) {
        results.push_back(TranslateMessageUtf8(Key(row)));
        texts.emplace_back(results.back());
        // Misses in between take no slot.
        EXPECT_EQ(TranslateMessageUtf8(u"no such key"), kMessageErrorString);
    }
    EXPECT_EQ(std::set<const char*>(results.begin(), results.end()).size(), kMessageResultRingSize);
    for (std::size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i], texts[i]);

    // The 31st hit reuses the slot of the first and leaves the other 29 alone.
    const char* thirtyFirst = TranslateMessageUtf8(Key(100));
    EXPECT_EQ(thirtyFirst, results[0]);
    EXPECT_STREQ(results[0], "*");
    for (std::size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i], texts[i]);
}

TEST_F(MessageDictionaryTest, NarrowResultsSurviveALanguageChange) {
    UiLanguage = 0;
    const char* japanese = TranslateMessageUtf8(u"エラー");
    const char16_t* japaneseWide = TranslateMessageWide(u"エラー");
    UiLanguage = 1;
    EXPECT_STREQ(TranslateMessageUtf8(u"エラー"), "Error");
    EXPECT_EQ(std::u16string(TranslateMessageWide(u"エラー")), u"Error");
    EXPECT_STREQ(japanese, "エラー");
    // Wide results point into the constant table and stay readable too.
    EXPECT_EQ(std::u16string(japaneseWide), u"エラー");
}

TEST_F(MessageDictionaryTest, LookupsFromSeveralThreadsAgree) {
    UiLanguage = 1;
    constexpr int kThreads = 4;
    std::array<int, kThreads> wrong{};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int pass = 0; pass < 20; ++pass) {
                for (const MessageTableRow& row : MessageTable) {
                    const std::u16string key(row.key);
                    if (std::u16string_view(TranslateMessageWide(key)) != row.english) ++wrong[t];
                    if (TranslateMessageUtf8(key) == kMessageErrorString) ++wrong[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

}  // namespace
