// The table's shape: every row present byte for byte, keys unique, and English texts that are safe
// to format with their keys' arguments.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/dictionary/MessageDictionary.h"

namespace {

// Row numbers (1-based positions) whose English text is ours rather than a fixed translation.
struct RowRange {
    int first, last;
};
constexpr RowRange kOurEnglishRows[] = {
    {7, 8},     {28, 28},   {39, 39},   {44, 45},   {90, 99},   {121, 123}, {125, 127}, {129, 133},
    {135, 135}, {139, 143}, {147, 154}, {156, 157}, {161, 161}, {163, 163}, {165, 165}, {167, 167},
    {172, 172}, {176, 177}, {180, 189}, {191, 192}, {194, 194}, {198, 202}, {205, 208}, {210, 212},
    {218, 218}, {220, 220}, {222, 234}, {236, 240}, {243, 245}, {248, 248}, {251, 251}, {253, 254},
    {256, 256}, {259, 260}, {265, 266}, {269, 269}, {271, 271}, {278, 278}, {284, 284}, {292, 294},
    {298, 299}, {302, 303}, {307, 309}, {311, 314}, {317, 326}, {328, 348}, {352, 352}, {369, 372}};

// Rows whose English text is the key itself.
constexpr int kSelfTranslatedRows[] = {33,  34,  35,  36,  349, 350, 351, 353,
                                       354, 355, 357, 358, 359, 360, 361, 363};

bool IsOurEnglish(int row) {
    for (const RowRange& r : kOurEnglishRows) {
        if (row >= r.first && row <= r.last) return true;
    }
    return false;
}

// FNV-1a over UTF-16 code units, with a NUL unit after each text so that a blank moved across a
// row boundary changes the value.
std::uint64_t Fingerprint(const std::vector<std::u16string_view>& texts) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](std::uint16_t unit) { h = (h ^ unit) * 0x100000001b3ull; };
    for (std::u16string_view text : texts) {
        for (char16_t unit : text) mix(static_cast<std::uint16_t>(unit));
        mix(0);
    }
    return h;
}

// The printf conversions of a text, each as its length modifier and conversion letter ("d",
// "s", "i", "I64d"); flags, width and precision do not change what argument is taken. A '%' that
// starts no valid conversion yields "?" so that it fails every comparison.
std::vector<std::string> Conversions(std::u16string_view text) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%') continue;
        std::size_t j = i + 1;
        if (j < text.size() && text[j] == u'%') {
            i = j;
            continue;
        }
        while (j < text.size() && std::u16string_view(u"-+ #0").find(text[j]) != text.npos) ++j;
        while (j < text.size() && text[j] >= u'0' && text[j] <= u'9') ++j;
        if (j < text.size() && text[j] == u'.') {
            ++j;
            while (j < text.size() && text[j] >= u'0' && text[j] <= u'9') ++j;
        }
        std::string kind;
        if (text.substr(j, 3) == u"I64") {
            kind = "I64";
            j += 3;
        } else if (j < text.size() && (text[j] == u'l' || text[j] == u'h')) {
            kind += static_cast<char>(text[j++]);
        }
        if (j < text.size() && std::u16string_view(u"diouxXcsfgeEp").find(text[j]) != text.npos) {
            kind += static_cast<char>(text[j]);
            i = j;
        } else {
            kind = "?";
        }
        out.push_back(kind);
    }
    return out;
}

int RowNumber(std::size_t index) {
    return static_cast<int>(index) + 1;
}

TEST(MessageTableTest, HoldsEveryRowByteForByteWithUniqueKeys) {
    std::vector<std::u16string_view> keys, fixedEnglish;
    std::set<std::u16string_view> unique;
    for (std::size_t i = 0; i < MessageTable.size(); ++i) {
        const MessageTableRow& row = MessageTable[i];
        EXPECT_FALSE(row.key.empty()) << "row " << RowNumber(i);
        EXPECT_FALSE(row.english.empty()) << "row " << RowNumber(i);
        EXPECT_TRUE(unique.insert(row.key).second) << "duplicate key in row " << RowNumber(i);
        // The lookups hand out data() as a C string.
        EXPECT_EQ(row.key.data()[row.key.size()], u'\0');
        EXPECT_EQ(row.english.data()[row.english.size()], u'\0');
        keys.push_back(row.key);
        if (!IsOurEnglish(RowNumber(i))) fixedEnglish.push_back(row.english);
    }
    EXPECT_EQ(unique.size(), 372u);
    // Fingerprints of the exact keys and of the fixed English texts, in row order: any changed
    // blank, width, line break or row changes them.
    EXPECT_EQ(Fingerprint(keys), 0xbe4319b3b5f8c2a7ull);
    EXPECT_EQ(fixedEnglish.size(), 211u);
    EXPECT_EQ(Fingerprint(fixedEnglish), 0x5774e857207b4a39ull);
    for (int row : kSelfTranslatedRows) {
        EXPECT_EQ(MessageTable[row - 1].english, MessageTable[row - 1].key) << "row " << row;
    }
}

TEST(MessageTableTest, SpotRowsKeepTheirExactForm) {
    struct Case {
        int row;
        std::u16string_view key, english;
    };
    const Case cases[] = {
        {11, u"□ ", u"|"},
        {12, u"■ ", u"/"},
        {20, u"<TITLE><TITLE_PLUS>\u3000 <SOFT>\u3000 F4:画面変更 / F8:情報変更",
         u"<TITLE><TITLE_PLUS>   <SOFT>   F4:Change Display / F8:Change Info"},
        {61, u"Meiryo", u"MS Gothic"},
        {118, u"マップEv %d ", u"MapEv %d "},
        {295,
         u"データベースファイル読み込みに失敗、強制終了します。\n\r\n\r%"
         u"s\r\nのファイルがあるか確認してください",
         u"Failed to read database file. Shutting down.Check for file \n\r\n\r%s\r\n"},
        {318, u"エラー：\\v[の「]」が見つかりません", u"Error: no \"]\" found for \\v["},
        {349, u";", u";"},
        {356, u"コモンイベントファイル \"%s\"が破損しています。", u"Exception : \"%s\" is broken."},
        {362, u"Delay Reset", u"Reset Delay"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MessageTable[c.row - 1].key, c.key) << "row " << c.row;
        EXPECT_EQ(MessageTable[c.row - 1].english, c.english) << "row " << c.row;
    }
}

TEST(MessageTableTest, EnglishTakesTheKeysArgumentsInOrder) {
    int withArguments = 0;
    for (std::size_t i = 0; i < MessageTable.size(); ++i) {
        const int row = RowNumber(i);
        const std::vector<std::string> key = Conversions(MessageTable[i].key);
        const std::vector<std::string> english = Conversions(MessageTable[i].english);
        for (const std::string& kind : key) EXPECT_NE(kind, "?") << "row " << row;
        if (IsOurEnglish(row)) {
            // Ours use every argument, exactly as the key does.
            EXPECT_EQ(english, key) << "row " << row;
        } else {
            // Fixed texts may stop early, but never take an argument the key does not give.
            ASSERT_LE(english.size(), key.size()) << "row " << row;
            EXPECT_EQ(english, std::vector<std::string>(key.begin(), key.begin() + english.size()))
                << "row " << row;
        }
        if (!key.empty()) ++withArguments;
    }
    EXPECT_EQ(withArguments, 113);
    EXPECT_EQ(Conversions(u"%5d %.2i %I64d % s %% %s"),
              (std::vector<std::string>{"d", "i", "I64d", "s", "s"}));
}

TEST(MessageTableTest, OurEnglishIsPlainText) {
    for (std::size_t i = 0; i < MessageTable.size(); ++i) {
        if (!IsOurEnglish(RowNumber(i))) continue;
        for (char16_t unit : MessageTable[i].english) {
            ASSERT_LT(unit, 0x80) << "row " << RowNumber(i) << " is not translated";
        }
    }
}

}  // namespace
