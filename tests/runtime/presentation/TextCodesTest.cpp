#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_Database.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/ReportCapture.h"
#include "runtime/shell/ShellGlobals.h"

using shell_test::CapturedReport;
using shell_test::ReportCapture;

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

std::array<std::int32_t, 8> SystemVariables{};
std::array<std::string, 4> SystemStrings{};

constexpr std::int32_t kMapEvent = 7;
constexpr std::int32_t kCommonEvent = 2;
constexpr std::int32_t kMap = 5;

// A type with a number field (0) and a string field (1).
Game_DatabaseType MixedType(std::int32_t entries) {
    Game_DatabaseType t;
    t.fieldKinds = {kNumberFieldBase, kStringFieldBase};
    t.entries.assign(static_cast<std::size_t>(entries), Game_DatabaseEntry{{0}, {""}});
    return t;
}

class TextCodesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SystemVariables.fill(0);
        SystemStrings = {"zero", "one", "", ""};
        VariableStoreLinks& links = GetVariableStoreLinks();
        links.getSystemVariable = [](Game_Variables&, std::int32_t n) {
            return n >= 0 && n < 8 ? SystemVariables[static_cast<std::size_t>(n)] : 0;
        };
        links.setSystemVariable = [](Game_Variables&, std::int32_t n, std::int32_t value) {
            if (n >= 0 && n < 8) SystemVariables[static_cast<std::size_t>(n)] = value;
        };
        links.getSystemString = [](Game_Variables&, std::int32_t n) {
            return n >= 0 && n < 4 ? SystemStrings[static_cast<std::size_t>(n)] : std::string();
        };
        GetDataFileServices().reportRuntimeError = [](const std::string&, const std::string&,
                                                      const std::string&) {};

        Game_Variables& v = TheVariables;
        v = Game_Variables(Game_Variables::QuietConstruction{});
        v.numberLists.assign(10, std::vector<std::int32_t>(10, 0));
        v.numberLists[0][1] = 3;
        v.numberLists[0][2] = 5;
        v.numberLists[0][3] = 42;
        v.numberLists[0][4] = -17;
        v.numberLists[2][4] = 240;
        v.strings = {"\\v[3]", "plain"};
        v.mapEventSelf.resize(kMap + 1);
        v.mapEventSelf[kMap].resize(kMapEvent + 1);
        v.mapEventSelf[kMap][kMapEvent] = {0, 0, 77, 0, 0, 0, 0, 0, 0, 0};
        v.commonSelfIntegers.assign(3, std::vector<std::int32_t>(100, 0));
        v.commonSelfIntegers[kCommonEvent][3] = 33;
        v.commonSelfIntegers[kCommonEvent][12] = 1212;
        v.commonSelfStrings.assign(3, std::vector<std::string>(5));
        v.commonSelfStrings[kCommonEvent][0] = "five";
        v.commonSelfStrings[kCommonEvent][4] = "nine";

        // User database type 0 "Items": data 1 "Sword" with 250 and "sharp \v[3]".
        TheUserDatabase = Game_Database();
        TheUserDatabase.kind = kUserDatabase;
        TheUserDatabase.SetTypeCount(1);
        TheUserDatabase.types[0] = MixedType(3);
        TheUserDatabase.types[0].entries[1] = Game_DatabaseEntry{{250}, {"sharp \\v[3]"}};
        TheUserDatabase.typeInfos[0].typeName = "Items";
        TheUserDatabase.typeInfos[0].dataNames = {"None", "Sword \\v[4]", "Shield"};
        // The variable and system databases, told apart by their type names and a cell each.
        TheVariableDatabase = Game_Database();
        TheVariableDatabase.SetTypeCount(1);
        TheVariableDatabase.types[0] = MixedType(2);
        TheVariableDatabase.types[0].entries[1] = Game_DatabaseEntry{{-9}, {"var"}};
        TheVariableDatabase.typeInfos[0].typeName = "VarType";
        TheSystemDatabase = Game_Database();
        TheSystemDatabase.kind = kSystemDatabase;
        TheSystemDatabase.SetTypeCount(2);
        TheSystemDatabase.types[1] = MixedType(2);
        TheSystemDatabase.types[1].entries[1] = Game_DatabaseEntry{{8}, {"sys"}};
        TheSystemDatabase.typeInfos[1].typeName = "SysType";
        TestPlay = false;
    }
    void TearDown() override {
        ResetVariableStoreLinks();
        ResetDataFileServices();
        TheVariables = Game_Variables(Game_Variables::QuietConstruction{});
        TheUserDatabase = Game_Database();
        TheVariableDatabase = Game_Database();
        TheSystemDatabase = Game_Database();
        TestPlay = false;
        PictureSourceTextHook = previousPictureHook;
    }

    static std::string Expand(const std::string& text, bool valuesOnly = false) {
        return ExpandTextCodes(text, kMapEvent, kCommonEvent, kMap, valuesOnly, false, nullptr,
                               nullptr, false);
    }
    std::vector<CapturedReport>& Reports() { return ReportCapture::reports(); }

    ReportCapture capture;
    PictureSourceTextReader previousPictureHook = PictureSourceTextHook;
};

struct ExpansionCase {
    const char* text;
    std::string expected;
};

TEST_F(TextCodesTest, DisplayCodesBecomeRunsWithTheirNumbersClamped) {
    const ExpansionCase cases[] = {
        {"\\c[-4]", Bytes({1, 6, 2, 0x0E, 0x0E, 0x0E, 1})},
        {"\\c[\\v[2]]", Bytes({1, 6, 2, 0x0E, 0x0E, 0x13, 1})},
        {"\\sp[0]", Bytes({1, 6, 0x0C, 0x1D, 0x4D, 0x4D, 1})},
        {"\\sp[-5]", Bytes({1, 6, 0x0C, 0x1D, 0x4D, 0x4D, 1})},
        {"\\sp[70000]", Bytes({1, 6, 0x0C, 0x1C, 0x37, 0x2E, 1})},
        {"\\sp[30]", Bytes({1, 6, 0x0C, 0x0E, 0x0E, 0x2C, 1})},
        {"\\-[150]", Bytes({1, 3, 7, 0xDC})},
        {"\\-[-7]", Bytes({1, 3, 7, 113})},
        {"\\f[1]", Bytes({1, 5, 3, 0x0E, 0x10, 1})},
        {"\\f[5000]", Bytes({1, 5, 3, 0x1D, 0x35, 1})},
        {"\\m[9999]", Bytes({1, 5, 4, 0x18, 0x0E, 1})},
        {"\\m[0]", Bytes({1, 5, 4, 0x0E, 0x0F, 1})},
        {"\\font[2]", Bytes({1, 4, 0x11, 0x10, 1})},
        {"\\space[-2000]", Bytes({1, 4, 0x12, 0x0E, 0x0E})},
        {"\\space[5]", Bytes({1, 4, 0x12, 0x1D, 0x3B})},
        {"\\i[12]", Bytes({1, 5, 0x16, 0x0E, 0x0E, 0x1A})},
        {"\\iS[-3]", Bytes({1, 5, 0x1F, 0x0E, 0x0E, 0x0E})},
        {"\\isize[5000]", Bytes({1, 5, 0x25, 0x0E, 0x1D, 0x35})},
        {"\\mx[-9000]", Bytes({1, 5, 0x18, 0x0E, 0x0E, 1})},
        {"\\my[9000]", Bytes({1, 5, 0x19, 0xAA, 0x1E, 1})},
        // 5,060 and 5,001 have the digit bytes "]" and "\": the runs still read as runs.
        {"\\ay[60]", Bytes({1, 5, 0x1E, ']', 0x12, 1})},
        {"\\ax[60]", Bytes({1, 5, 0x1D, ']', 0x12, 1})},
        {"\\bx[1]", Bytes({1, 5, 0x26, '\\', 0x17, 1})},
        {"\\f+[-2]", Bytes({1, 5, 0x27, '\\', 0x14, 1})},
        {"\\wE[9]", Bytes({1, 5, 0x23, 0x0E, 0x13, 1})},
        {"\\wE[0]", Bytes({1, 5, 0x23, 0x0E, 0x0F, 1})},
        {"\\cE[-1]", Bytes({1, 5, 0x21, 0x0E, 0x0E, 0x0E})},
        {"\\cS[9999]", Bytes({1, 5, 0x24, 0x10, 0x2A, 0x1E})},
        {"\\E\\N\\<\\>\\.\\!\\^",
         Bytes({1, 2, 5, 1, 2, 6, 1, 2, 0x0B, 1, 2, 0x20, 1, 2, 0x0E, 1, 2, 0x0F, 1, 2, 0x10})},
        {"\\A+\\A-\\sh+\\sh-", Bytes({1, 2, 0x1A, 1, 2, 0x1B, 1, 2, 0x28, 1, 2, 0x29})},
        {"\\r[a,b]", Bytes({1, 2, 9}) + "a,b]"},
        {"\\img[x.png]\\imgS[y]", Bytes({1, 2, 0x17}) + "x.png]" + Bytes({1, 2, 0x22}) + "y]"},
        {"<L><C><R>", Bytes({1, 2, 0x13, 1, 2, 0x14, 1, 2, 0x15})},
        {"<X> < L>", "<X> < L>"},
        // Two backslashes: a literal backslash, and "v[3]" stays plain text.
        {"\\\\v[3]", Bytes({1, 2, 1}) + "v[3]"},
        {"\\q", Bytes({1, 2, 1}) + "q"},
        {"a\\", "a" + Bytes({1, 2, 1})},
        {"\\va \\c \\sp \\v0[1]", "\\va \\c \\sp \\v0[1]"},
        {"a\r\nb", "a\nb"},
        {"\xE3\x81\x82\\E", "\xE3\x81\x82" + Bytes({1, 2, 5})},
    };
    for (const ExpansionCase& c : cases) {
        EXPECT_EQ(Expand(c.text), c.expected) << c.text;
    }
    EXPECT_TRUE(Reports().empty());
}

TEST_F(TextCodesTest, ValueCodesReadTheVariablesTheyName) {
    PictureSourceTextHook = [](std::int32_t id) {
        return id == 4 ? std::string("pic4.png") : std::string(kPictureNotFoundText);
    };
    const ExpansionCase cases[] = {
        {"[\\v[3]]", "[42]"},
        {"\\v[4]", "-17"},
        {"\\v[\\v[1]]", "42"},
        {"\\v2[4]", "240"},
        {"\\s[1]!", "plain!"},
        {"\\self[2]", "77"},
        {"\\cself[5]|\\cself[9]|\\cself[3]|\\cself[12]", "five|nine|33|1212"},
        {"\\sys[0]\\sysS[1]", "0one"},
        {"\\pic[4] \\pic[3]", "pic4.png <<NotFound>>"},
        {"\\udb[0]", "Items"},
        {"\\udb[0:2]", "Shield"},
        {"\\udb[0:1:0]", "250"},
        {"\\cdb[0] \\cdb[0:1:0] \\cdb[0:1:1]", "VarType -9 var"},
        {"\\sdb[1] \\sdb[1:1:0] \\sdb[1:1:1]", "SysType 8 sys"},
        // The colon search stops at the code's own bracket.
        {"\\udb[0]:2:0", "Items:2:0"},
    };
    for (const ExpansionCase& c : cases) {
        EXPECT_EQ(Expand(c.text), c.expected) << c.text;
    }
    EXPECT_TRUE(Reports().empty());
}

TEST_F(TextCodesTest, SecondPassOnlyAfterADatabaseTextCameIn) {
    // A string variable holding a code stays unexpanded...
    EXPECT_EQ(Expand("\\s[0]"), "\\v[3]");
    // ...unless the same call brought in a database string or data name.
    EXPECT_EQ(Expand("\\udb[0:1:1]"), "sharp 42");
    EXPECT_EQ(Expand("\\udb[0:1]/\\s[0]"), "Sword -17/42");
    // A type name does not.
    EXPECT_EQ(Expand("\\udb[0]\\s[0]"), "Items\\v[3]");
    EXPECT_TRUE(Reports().empty());
}

TEST_F(TextCodesTest, ValuesOnlyLeavesDisplayCodesAlone) {
    EXPECT_EQ(Expand("\\\\v[3]", true), "\\\\v[3]");
    EXPECT_EQ(Expand("\\c[3]\\v[3]<L>\\q\r\n", true), "\\c[3]42<L>\\q\r\n");
    EXPECT_EQ(Expand("\\udb[0:2]\\s[0]", true), "Shield42");
}

TEST_F(TextCodesTest, ProblemsAreReportedAndExpansionGoesOn) {
    const std::string location = GetScriptLocationText();
    struct ReportCase {
        const char* text;
        std::string expected;
        std::vector<CapturedReport> reports;
    };
    const ReportCase cases[] = {
        {"\\c[12345]",
         Bytes({1, 6, 2, 0x10, 0x2A, 0x1D, 1}),
         {{"エラー：\\cの[]内は9999以下までしか受け付けません", "指定色 > 12345", location}}},
        // Clamped after the report: a slot byte of 0x00 or 0x01 would break the text.
        {"\\font[-14]",
         Bytes({1, 4, 0x11, 0x0E, 1}),
         {{"エラー：\\fontの[ ]内の値が0～3の範囲を超えています", "", ""}}},
        {"\\font[243]",
         Bytes({1, 4, 0x11, 0x11, 1}),
         {{"エラー：\\fontの[ ]内の値が0～3の範囲を超えています", "", ""}}},
        // A missing "]": the code is closed right after its backslash's first letter.
        {"\\v[3 ok", "42[3 ok", {{"エラー：\\v[の「]」が見つかりません", location, ""}}},
        {"\\v2[4", "2402[4", {{"エラー：\\v?の「]」が見つかりません", location, ""}}},
        {"\\c[3",
         Bytes({1, 6, 2, 0x0E, 0x0E, 0x11, 1}) + "[3",
         {{"エラー：\\cの「]」が見つかりません", location, ""}}},
        {"\\pic[1", "<<NotFound>>ic[1", {{"エラー：\\pic[の「]」が見つかりません", location, ""}}},
        // A database reference without "]" stays as it is.
        {"\\udb[0:1", "\\udb[0:1", {{"エラー：\\?dbの「]」が見つかりません", location, ""}}},
        // The "]" inside an earlier run is not the code's bracket.
        {"\\ay[60]\\v[3",
         Bytes({1, 5, 0x1E, ']', 0x12, 1}) + "42[3",
         {{"エラー：\\v[の「]」が見つかりません", location, ""}}},
    };
    for (const ReportCase& c : cases) {
        Reports().clear();
        EXPECT_EQ(Expand(c.text), c.expected) << c.text;
        EXPECT_EQ(Reports(), c.reports) << c.text;
    }
}

TEST_F(TextCodesTest, LetterSpacingIsReportedInTestPlayOnly) {
    EXPECT_EQ(Expand("\\-[150]"), Bytes({1, 3, 7, 0xDC}));
    EXPECT_TRUE(Reports().empty());
    TestPlay = true;
    EXPECT_EQ(Expand("\\-[-150]"), Bytes({1, 3, 7, 20}));
    const std::vector<CapturedReport> expected = {
        {"エラー：\\-の数値が-100～100の範囲を超えています", "-150", GetScriptLocationText()}};
    EXPECT_EQ(Reports(), expected);
}

TEST_F(TextCodesTest, HeaderLineSetsSystemVariableZero) {
    const auto expand = [](const std::string& text, bool header) {
        return ExpandTextCodes(text, kMapEvent, kCommonEvent, kMap, false, false, nullptr, nullptr,
                               header);
    };
    EXPECT_EQ(expand("@12\nabc\\v[3]", true), "abc42");
    EXPECT_EQ(SystemVariables[0], 12);
    EXPECT_EQ(expand("@12", true), "");
    EXPECT_EQ(expand("@12\nabc", false), "@12\nabc");
    EXPECT_EQ(expand("x@12\nabc", true), "x@12\nabc");
    EXPECT_TRUE(Reports().empty());

    SystemVariables[0] = 5;
    EXPECT_EQ(expand("@1234567890\nrest", true), "rest");
    EXPECT_EQ(SystemVariables[0], 0);
    const std::vector<CapturedReport> expected = {
        {"＠後に数字だけでなく、文字が入っている可能性があります", "", ""}};
    EXPECT_EQ(Reports(), expected);
}

TEST_F(TextCodesTest, AffixesComeAfterTheHeaderAndAreExpanded) {
    const std::string prefix = "<C>";
    const std::string suffix = "\\v[3]";
    EXPECT_EQ(ExpandTextCodes("@7\nmid", kMapEvent, kCommonEvent, kMap, false, true, &prefix,
                              &suffix, true),
              Bytes({1, 2, 0x14}) + "mid42");
    EXPECT_EQ(SystemVariables[0], 7);
    EXPECT_EQ(ExpandTextCodes("mid", 0, 0, 0, false, true, nullptr, &suffix, false), "mid42");
    EXPECT_EQ(ExpandTextCodes("mid", 0, 0, 0, false, false, &prefix, &suffix, false), "mid");
}

TEST_F(TextCodesTest, ExpandedTextsSurviveASecondExpansion) {
    const std::string text =
        "\\c[5]\\f[20]\\m[30]\\E\\N\\-[3]\\r[a,b]\\<\\sp[9]\\.\\!\\^\\font[1]\\space[4]<L><C><R>"
        "\\i[7]\\img[p]\\mx[60]\\my[-1]\\A+\\A-\\ax[60]\\ay[1]\\iS[8]\\>\\cE[3]\\imgS[q]\\wE[2]"
        "\\cS[4]\\isize[50]\\bx[1]\\f+[-2]\\sh+\\sh-\\\\ \\q \xE6\x97\xA5\r\n";
    const std::string once = Expand(text);
    EXPECT_EQ(Expand(once), once);
    EXPECT_EQ(Expand(once, true), once);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(TextCodesTest, TokenizerReportsCodesAndPositionsInTextOrder) {
    const std::string text =
        "\xE3\x81\x82\\v[1]" + Bytes({1, 5, 0x1E, '\\', 'E', 1}) + "\\\\c[2]<R>\r\\sdb[1]\\x\\s";
    std::vector<std::int32_t> tokens, positions;
    TokenizeTextCodes(text, tokens, positions, false);
    EXPECT_EQ(tokens, (std::vector<std::int32_t>{10, 1, 125, 100, 52, 2}));
    EXPECT_EQ(positions, (std::vector<std::int32_t>{3, 14, 20, 23, 24, 31}));
    tokens.clear();
    positions.clear();
    TokenizeTextCodes(text, tokens, positions, true);
    EXPECT_EQ(tokens, (std::vector<std::int32_t>{10, 52}));
    EXPECT_EQ(positions, (std::vector<std::int32_t>{3, 24}));
    // "\v[" needs a byte after its bracket.
    tokens.clear();
    TokenizeTextCodes("\\v[", tokens, positions, false);
    EXPECT_TRUE(tokens.empty());
}

// ---- The conversions ----

TEST(TextCodeConversions, TextsWithoutRunsComeBackUnchanged) {
    const std::string text = "plain \\ text\nline";
    EXPECT_EQ(UpgradeOldTextCodes(text), text);
    EXPECT_EQ(RestoreEscapeCodes(text), text);
    EXPECT_EQ(RestoreLiteralBackslashes(text), text);
    EXPECT_EQ(RestoreEscapeCodesForLog(text), "plain \\ text\\nline");
}

TEST(TextCodeConversions, OldRunsGetTheirLengthByte) {
    struct UpgradeCase {
        std::string old, current;
    };
    const UpgradeCase cases[] = {
        // Font size with two digits and a pad becomes a well-formed six-byte run.
        {Bytes({1, 3, 0x0E, 0x20, 1}), Bytes({1, 5, 3, 0x0E, 0x20, 1})},
        {Bytes({1, 2, 0x0E, 0x0E, 0x11, 1}), Bytes({1, 6, 2, 0x0E, 0x0E, 0x11, 1})},
        {Bytes({1, 1}) + "x", Bytes({1, 2, 1}) + "x"},
        // The parameter bytes are stepped over with the run.
        {Bytes({1, 7, 120, 1, 0x13}), Bytes({1, 3, 7, 120, 1, 2, 0x13})},
        {Bytes({1, 0x11, 0x0F, 1}), Bytes({1, 4, 0x11, 0x0F, 1})},
        // The open 28th row: old code 0x1F was a literal backslash.
        {Bytes({1, 0x1F}) + "ab", Bytes({1, 2, 1}) + "ab"},
        // No row: left alone, and the walk goes on at the next byte.
        {Bytes({1, 8, 1, 0x0E}), Bytes({1, 8, 1, 2, 0x0E})},
        // A run cut short at the end.
        {Bytes({'a', 1}), Bytes({'a', 1})},
        {Bytes({1, 0x0C, 0x0E}), Bytes({1, 6, 0x0C, 0x0E})},
    };
    for (const UpgradeCase& c : cases) {
        EXPECT_EQ(UpgradeOldTextCodes(c.old), c.current);
    }
}

TEST(TextCodeConversions, RestoreGivesEscapeTextAndDropsSixByteRuns) {
    const std::string colour = Bytes({1, 6, 2, 0x0E, 0x0E, 0x11, 1});
    const std::string spacing = Bytes({1, 3, 7, 0xDC});
    const std::string fontSize = Bytes({1, 5, 3, 0x0E, 0x20, 1});
    const std::string lineHeight = Bytes({1, 5, 4, 0x0E, 0x20, 1});
    EXPECT_EQ(RestoreEscapeCodes("a" + colour + spacing + "b" + fontSize + Bytes({1, 2, 1}) + "c"),
              "a" + colour + spacing + "b\\c");
    // Close after reveal has its escape text; runs without a row stay and the walk goes on.
    EXPECT_EQ(RestoreEscapeCodes(Bytes({1, 2, 0x10}) + lineHeight + Bytes({1, 2, 0x07, 1, 2, 5})),
              "\\^" + lineHeight + Bytes({1, 2, 0x07}) + "\\E");
    // A truncated or stray run byte is passed on as it is.
    EXPECT_EQ(RestoreEscapeCodes(Bytes({1, 5, 3, 0x0E})), Bytes({1, 5, 3, 0x0E}));
    EXPECT_EQ(RestoreEscapeCodes(Bytes({'x', 1})), Bytes({'x', 1}));
    EXPECT_EQ(RestoreEscapeCodesForLog("one" + Bytes({1, 2, 0x13}) + "\ntwo"), "one<L>\\ntwo");
    EXPECT_EQ(RestoreLiteralBackslashes("\\" + Bytes({1, 2, 1}) + colour), "\\\\" + colour);
}

TEST_F(TextCodesTest, ExpansionThenRestoreGivesBackTheEscapeText) {
    const std::string restorable =
        "\\E\\N\\r[a]\\<\\.\\!\\^<L><C><R>\\img[p]\\A+\\A-\\>\\imgS[q]\\sh+\\sh-";
    EXPECT_EQ(RestoreEscapeCodes(Expand(restorable)), restorable);
    // Dropped codes vanish; a literal backslash comes back as a single one.
    EXPECT_EQ(RestoreEscapeCodes(Expand("a\\f[20]\\i[3]\\mx[1]\\my[1]\\ax[1]\\ay[1]\\iS[1]\\cE[1]"
                                        "\\wE[2]\\cS[1]b\\\\v")),
              "ab\\v");
}

}  // namespace
