#include "platform/User32.h"
#include "runtime/shell/StringUtil.h"

#include <gtest/gtest.h>

#include <thread>

#include <climits>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ShellTestSupport.h"
#include "runtime/shell/TextConversion.h"

namespace {

using shell_test::ReadBytes;
using shell_test::ScratchFolder;

TEST(CodedText, FindSkipsCodeRunsForShortNeedles) {
    using namespace std::string_literals;
    struct {
        std::string text, needle;
        int start, expected;
    } cases[] = {
        {"x\x01\x02"
         "aa",
         "a", 0, 4},  // the 'a' inside the run is its code number
        {"x\x01\x02"
         "aa",
         "\x01", 0, 1},  // a needle that is a code run is found
        {"x\x01\x02"
         "aa",
         "\x01\x02", 0, 1},
        {"\x01\x05"
         "abcd"
         "abcd",
         "abcd", 0, 2},  // longer needles are plain substrings
        {"\x01\x05"
         "abc"
         "Xabc",
         "abc", 0, 6},
        {"abcabc", "bc", 2, 4},
        {"abc", "", 0, -1},
        {"abc", "abcd", 0, -1},
        {"abc", "c", 3, -1},
        {"abc", "c", -1, -1},
        {"abcdefg", "efgh", 9, -1},
        {"ab\x01\xFF", "z", 0, -1},  // a run running past the end
        {"ab\x01", "b", 0, 1},
        {"\x01\x00"
         "a"s,
         "a", 0, 2},  // a zero length byte still moves on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindInCodedText(c.text, c.needle, c.start), c.expected)
            << "needle " << c.needle << " from " << c.start;
    }
}

TEST(CodedText, StripDropsRunsAndHiddenArguments) {
    struct {
        std::string text, expected;
    } cases[] = {
        {"A\x01\x02\x01"
         "B",
         "A\\B"},
        {"x\x01\x02\x09"
         "name,hidden]y",
         "xnamey"},
        {"x\x01\x02\x09"
         "name only",
         "xname only"},
        {"x\x01\x02\x09"
         "name,no bracket",
         "xname"},
        {"a\x01\x02\x17"
         "arg]b",
         "ab"},
        {"a\x01\x02\x22"
         "arg]b",
         "ab"},
        {"a\x01\x02\x17"
         "arg",
         "a"},
        {"a\x01\x03\x05\x06"
         "b",
         "ab"},
        {"a\x01\x09", "a"},
        {"a\x01", "a"},
        {"a\x01\x0F\x05", "a"},
        {"plain", "plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(StripTextCodes(c.text), c.expected);
}

TEST(TextReplace, ReplacesLeftToRightWithoutRescanning) {
    EXPECT_EQ(ReplaceAllText("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(ReplaceAllText("abcabc", "bc", ""), "aa");
    EXPECT_EQ(ReplaceAllText("abab", "ab", "ba"), "baba");
    EXPECT_EQ(ReplaceAllText("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceAllText("", "a", "b"), "");
    EXPECT_EQ(ReplaceAllTextWide(u"あいあ", u"あ", u"ああ"), u"ああいああ");
    EXPECT_EQ(ReplaceAllTextWide(u"abc", u"", u"x"), u"abc");
}

TEST(IntToTempString, FormatsIntoARingOfTen) {
    EXPECT_STREQ(IntToTempString(-42), "-42");
    EXPECT_STREQ(IntToTempString(0), "0");
    EXPECT_STREQ(IntToTempString(INT_MIN), "-2147483648");
    EXPECT_STREQ(IntToTempString(INT_MAX), "2147483647");
    std::vector<const char*> results;
    for (int i = 0; i < 10; ++i) results.push_back(IntToTempString(i));
    EXPECT_EQ(std::set<const char*>(results.begin(), results.end()).size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(std::string(results[i]), std::to_string(i));
    EXPECT_EQ(IntToTempString(10), results[0]);
}

// An independent encoder: the bytes as one bit string, six bits at a time.
std::string ReferenceBase64(const std::vector<unsigned char>& bytes) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<bool> bits;
    for (unsigned char b : bytes)
        for (int k = 7; k >= 0; --k) bits.push_back((b >> k) & 1);
    while (bits.size() % 6 != 0) bits.push_back(false);
    std::string out;
    for (std::size_t i = 0; i < bits.size(); i += 6) {
        int v = 0;
        for (int k = 0; k < 6; ++k) v = v * 2 + bits[i + k];
        out += alphabet[v];
    }
    while (out.size() % 4 != 0) out += '=';
    return out;
}

TEST(Base64, AgreesWithAReferenceOnRandomBuffersOfEveryLength) {
    std::mt19937 random(20240611);
    for (std::size_t length = 1; length <= 400; ++length) {
        std::vector<unsigned char> bytes(length);
        for (auto& b : bytes) b = static_cast<unsigned char>(random());
        ASSERT_EQ(EncodeBase64(bytes.data(), bytes.size()), ReferenceBase64(bytes))
            << "length " << length;
    }
    EXPECT_EQ(EncodeBase64("f", 1), "Zg==");
    EXPECT_EQ(EncodeBase64("fo", 2), "Zm8=");
    EXPECT_EQ(EncodeBase64("foobar", 6), "Zm9vYmFy");
    EXPECT_EQ(EncodeBase64("\xFF\xFF\xFE", 3), "///+");
    EXPECT_EQ(EncodeBase64("x", 0), "");
    EXPECT_EQ(EncodeBase64(nullptr, 5), "");
    // No line breaks, however long.
    std::vector<unsigned char> large(3000, 0xA5);
    EXPECT_EQ(EncodeBase64(large.data(), large.size()).find_first_of("\r\n"), std::string::npos);
}

TEST(UrlForm, KeepsQueryCharactersAndEncodesTheRest) {
    EXPECT_EQ(EncodeUrlForm("a b&c=d/\xC3\xA9"), "a+b&c=d%2F%C3%A9");
    EXPECT_EQ(EncodeUrlForm("AZaz09&*-.=_"), "AZaz09&*-.=_");
    EXPECT_EQ(EncodeUrlForm(std::string("~+%\n\x7F\xFF\0", 7)), "%7E%2B%25%0A%7F%FF%00");
    EXPECT_EQ(EncodeUrlForm(""), "");
}

TEST(ExeFolder, IsTheFolderOfThisProgram) {
    const std::string folder = GetExeFolderUtf8();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(folder + "runtime_tests"));
    EXPECT_EQ(GetExeFolderWide(), std::u16string(ConvertUtf8ToWide(folder.c_str())));
}

TEST(FolderChain, CreatesTheFoldersOfAPathBelowTheBase) {
    ScratchFolder scratch;
    const std::string base = scratch.path().string() + "/";
    EXPECT_EQ(CreateFolderChain("save\\2\\file.sav", base), "file.sav");
    EXPECT_TRUE(std::filesystem::is_directory(scratch.path() / "save" / "2"));
    EXPECT_EQ(std::filesystem::current_path(), scratch.path());

    EXPECT_EQ(CreateFolderChain("a/b/", base), "");
    EXPECT_TRUE(std::filesystem::is_directory(scratch.path() / "a" / "b"));

    EXPECT_EQ(CreateFolderChain("x", base), "x");
    EXPECT_EQ(CreateFolderChain("", base), "");

    // Games are made on Windows: a folder spelt in another case is the folder that exists.
    EXPECT_EQ(CreateFolderChain("SAVE\\3\\f.sav", base), "f.sav");
    EXPECT_TRUE(std::filesystem::is_directory(scratch.path() / "save" / "3"));
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / "SAVE"));

    // ".." is removed, so a path cannot climb out of the base folder.
    std::filesystem::create_directory(scratch.path() / "inner");
    const std::string inner = (scratch.path() / "inner").string() + "/";
    EXPECT_EQ(CreateFolderChain("../escape/f.txt", inner), "f.txt");
    EXPECT_TRUE(std::filesystem::is_directory(scratch.path() / "inner" / "escape"));
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / "escape"));
}

TEST(SafeRelativePath, AcceptsOnlyPathsThatStayInTheGameFolder) {
    struct {
        const char* path;
        bool safe;
    } cases[] = {
        {"a/b", true},
        {"BGM/a.ogg", true},
        {"Save/SaveData01.sav", true},
        {"a\\b.txt", true},
        {"a/b/", true},
        {"file.name.txt", true},
        {"", true},  // the game folder itself
        {"..", false},
        {"../x", false},
        {"..\\x", false},
        {"a/../../x", false},
        {"a/../b", false},
        {"a/..", false},
        {"a..b", false},
        {"..x", false},
        {"/etc/x", false},
        {"/", false},
        {"\\x", false},
        {"//server/share", false},
        {"\\\\server\\share", false},
        {"C:\\x", false},
        {"C:x", false},
        {"a:b", false},
        {"x%y", false},
        {"%APPDATA%/x", false},
        {"./a", false},
        {"a/./b", false},
        {"a\\.\\b", false},
    };
    for (const auto& c : cases) {
        for (int flag : {0, 1}) {
            EXPECT_EQ(IsSafeRelativePath(c.path, flag), c.safe)
                << "\"" << c.path << "\" flag " << flag;
        }
    }
}

TEST(TextFile, WritesLineFeedsAsCrLfUpToTheFirstZero) {
    ScratchFolder scratch;
    const std::string path = scratch.File("out.txt");
    ASSERT_TRUE(WriteTextFile("a\nb\r\nc", path.c_str()));
    EXPECT_EQ(ReadBytes(path), "a\r\nb\r\r\nc");
    ASSERT_TRUE(WriteTextFile(std::string_view("short\0tail", 10), path.c_str()));
    EXPECT_EQ(ReadBytes(path), "short");  // truncated, and only up to the zero
    ASSERT_TRUE(WriteTextFile("", path.c_str()));
    EXPECT_EQ(ReadBytes(path), "");

    // A Windows-style path names the file in its folder.
    std::filesystem::create_directory(scratch.path() / "Sub");
    ASSERT_TRUE(WriteTextFile("x", (scratch.path().string() + "/sub\\f.txt").c_str()));
    EXPECT_EQ(ReadBytes(scratch.File("Sub/f.txt")), "x");
}

TEST(TextFile, AFileThatCannotBeOpenedIsReported) {
    ScratchFolder scratch;
    shell_test::MessageBoxCapture box;
    const std::string path = scratch.File("no/such/folder.txt");
    UiLanguage = 1;
    EXPECT_FALSE(WriteTextFile("x", path.c_str()));
    EXPECT_EQ(box.count(), 1);
    EXPECT_EQ(box.caption(), u"Writing Error");
    EXPECT_EQ(
        box.text(),
        std::u16string(ConvertUtf8ToWide(
            ("Unable to write to " + path + "\r\nPlease check access permissions.").c_str())));
    UiLanguage = 0;
    EXPECT_FALSE(WriteTextFile("x", path.c_str()));
    EXPECT_EQ(box.caption(), u"書き込みエラー");
    EXPECT_EQ(box.text(), std::u16string(ConvertUtf8ToWide(path.c_str())) +
                              u"に書き込めませんでした。\r\nアクセス権限などをご確認下さい。");
    // The message is cut to its 512-byte buffer, never overrun.
    const std::string longPath = scratch.File(std::string(600, 'x') + "/f.txt");
    EXPECT_FALSE(WriteTextFile("x", longPath.c_str()));
    EXPECT_LE(std::string(ConvertWideToUtf8(box.text().c_str())).size(), 511u);
}

TEST(Clipboard, CopiesAndReadsUnicodeText) {
    EXPECT_TRUE(CopyTextToClipboard("コピー \xF0\x9F\x98\x80 text"));
    EXPECT_EQ(ReadClipboardText(), u"コピー \U0001F600 text");
    // An empty text leaves the clipboard as it was.
    EXPECT_FALSE(CopyTextToClipboard(""));
    EXPECT_EQ(ReadClipboardText(), u"コピー \U0001F600 text");
    // Opened elsewhere: copying fails and reading gives nothing.
    ASSERT_TRUE(platform::user32::OpenClipboard(nullptr));
    bool copied = true;
    std::u16string read = u"x";
    std::thread([&] {
        copied = CopyTextToClipboard("other");
        read = ReadClipboardText();
    }).join();
    platform::user32::CloseClipboard();
    EXPECT_FALSE(copied);
    EXPECT_EQ(read, u"");
}

TEST(ShellMessageBox, WithoutADisplayTheBoxGoesToStandardErrorAtOnce) {
    testing::internal::CaptureStderr();
    ShowShellMessageBox(u"本文", u"見出し");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("[見出し] 本文"), std::string::npos);
}

}  // namespace
