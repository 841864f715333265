#include "Main/DxLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Main/DxHandle.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Source/Library/Main/LogCapture.h"
#include "platform/Modules.h"

namespace ZiDaz {
namespace {

namespace fs = std::filesystem;

using LibraryLogTest = LogCaptureTest;

TEST_F(LibraryLogTest, WritesTheExactBytes) {
    EXPECT_EQ(WriteLogTextUtf16(u"alpha\n"), 0);
    IncreaseLogIndent();
    IncreaseLogIndent();
    EXPECT_EQ(WriteLogTextUtf16(u"two\nlines\n"), 0);
    EXPECT_EQ(WriteLogTextUtf16(u"open "), 0);  // leaves the line open
    EXPECT_EQ(WriteLogTextWide(u"closed\n"), 0);
    for (int i = 0; i < 3; ++i) DecreaseLogIndent();
    EXPECT_EQ(LibraryLog.indent, 0);
    EXPECT_EQ(WriteLogTextUtf16(u"crlf\r\nthen\nlone\n"), 0);
    EXPECT_EQ(WriteLogText("日本語 narrow\n"), 0);
    EXPECT_EQ(WriteLogFormatUtf16(u"n=%d", 5), 0);
    EXPECT_EQ(WriteLogTextCp932("\x93\xFA\x96\x7B\n"), 0);
    EXPECT_EQ(WriteLogFormatCp932("\x93\xFA%s", "\x96\x7B"), 0);
    EXPECT_EQ(WriteLogFormatWide(u"%s!", u"wide"), 0);
    EXPECT_EQ(WriteLogTextUtf16(nullptr), 0);
    EXPECT_EQ(WriteLogTextUtf16(u"\n"), 0);

    const std::string expected =
        "\xEF\xBB\xBF"
        "T:alpha\r\n"
        "T:\t\ttwo\r\nlines\r\n"
        "T:\t\topen closed\r\n"
        "T:crlf\r\nthen\nlone\n"
        "T:日本語 narrow\r\n"
        "T:n=5\r\n"
        "T:日本\r\n"
        "T:日本\r\n"
        "T:wide!\r\n"
        "T:\r\n";
    EXPECT_EQ(Normalised(), expected);
    std::string raw = LogBytes();
    ASSERT_GE(raw.size(), 4u);
    EXPECT_TRUE(raw[3] >= '0' && raw[3] <= '9');
}

TEST_F(LibraryLogTest, ReopeningRecreatesTheFileAndModulesReportThroughIt) {
    WriteLogTextUtf16(u"first run\n");
    CloseLogFile();
    ASSERT_EQ(RegisterHandleType(30, sizeof(HandleHeader), 1, nullptr, nullptr, nullptr, u"Test"),
              0);
    ASSERT_GE(AllocateHandle(30, 0, -1), 0);
    EXPECT_EQ(AllocateHandle(30, 0, -1), -1);
    UnregisterHandleType(30);
    EXPECT_EQ(Normalised(),
              "\xEF\xBB\xBF"
              "T:Testハンドルの数が限界数( 1 )に達していて新たなハンドルを作成できません\r\n");
}

// The log recreates its own file only: another file whose name differs in case is never
// deleted, overwritten or written to in its place.
TEST_F(LibraryLogTest, RecreatingTheLogLeavesOtherSpellingsAlone) {
    for (const char* other : {"log.txt", "LOG.TXT"}) {
        SCOPED_TRACE(other);
        CloseLogFile();
        fs::remove(folder_ / "Log.txt");
        std::ofstream(folder_ / other, std::ios::binary) << "mine";
        EXPECT_EQ(WriteLogTextUtf16(u"entry\n"), 0);
        CloseLogFile();
        std::ifstream in(folder_ / other, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "mine");
        EXPECT_EQ(Normalised(), "\xEF\xBB\xBFT:entry\r\n");
    }
    // The log's own file is recreated as before.
    EXPECT_EQ(WriteLogTextUtf16(u"again\n"), 0);
    EXPECT_EQ(Normalised(), "\xEF\xBB\xBFT:again\r\n");
}

TEST_F(LibraryLogTest, OutputOffWritesNothingButStillRecordsErrors) {
    // Whatever an earlier test recorded is cleared first: an entry without a code keeps the record.
    RecordLastError(0, nullptr);
    EnableLogOutput(0);
    EXPECT_EQ(WriteLogTextUtf16(u"x\n"), 0);
    EXPECT_EQ(WriteLogFormatUtf16(u"%d", 1), 0);
    EXPECT_EQ(LogTextAndFail("failed\n"), -1);
    EXPECT_EQ(WriteLogTextUtf16WithError(0, u"fine"), 0);
    EXPECT_EQ(LibrarySystem.lastErrorCode, 0);
    EXPECT_EQ(WriteLogTextUtf16WithError(0x01010003, u"ウインドウの作成に失敗しました\n"), -1);
    EXPECT_EQ(LibrarySystem.lastErrorCode, 0x01010003);
    EXPECT_EQ(std::u16string(LibrarySystem.lastErrorText), u"ウインドウの作成に失敗しました\n");
    EXPECT_EQ(WriteLogFormatUtf16WithError(0x01020004, u"code %d", 7), -1);
    EXPECT_EQ(LibrarySystem.lastErrorCode, 0x01020004);
    EXPECT_EQ(std::u16string(LibrarySystem.lastErrorText), u"code 7\n");
    EXPECT_FALSE(fs::exists(folder_ / "Log.txt"));
    EXPECT_EQ(LibraryLog.opened, 0);
}

TEST_F(LibraryLogTest, WithoutTheMultimediaTimerLibraryEntriesAreLost) {
    platform::HideModule("winmm.dll", true);
    ReleaseSystemApiTable();
    EXPECT_EQ(WriteLogTextUtf16(u"lost\n"), 0);
    EXPECT_EQ(AppendLogFile(u"Log.txt", u"x"), -1);
    EXPECT_EQ(LogBytes(), "\xEF\xBB\xBF");
    platform::ResetHiddenModules();
    ReleaseSystemApiTable();
    EXPECT_EQ(WriteLogTextUtf16(u"kept\n"), 0);
    EXPECT_EQ(Normalised(), "\xEF\xBB\xBFT:kept\r\n");
}

TEST_F(LibraryLogTest, LongEntriesUseBlocksAndKeepEveryCharacter) {
    std::u16string text(3000, u'あ');
    text += u"\n";
    EXPECT_EQ(WriteLogTextUtf16(text.c_str()), 0);
    std::string raw = LogBytes();
    std::string expectedTail;
    for (int i = 0; i < 3000; ++i) expectedTail += "あ";
    expectedTail += "\r\n";
    ASSERT_GE(raw.size(), expectedTail.size());
    EXPECT_EQ(raw.substr(raw.size() - expectedTail.size()), expectedTail);
}

TEST_F(LibraryLogTest, TheFolderIsTheFirstComposedOne) {
    WriteLogTextUtf16(u"here\n");
    fs::create_directories(folder_ / "sub");
    fs::current_path(folder_ / "sub");
    WriteLogTextUtf16(u"still here\n");
    EXPECT_FALSE(fs::exists(folder_ / "sub" / "Log.txt"));
    EXPECT_EQ(Normalised(), "\xEF\xBB\xBFT:here\r\nT:still here\r\n");
    char16_t path[1024];
    ComposeLogFilePath(path, sizeof(path));
    std::u16string composed(path);
    EXPECT_EQ(composed.substr(composed.size() - 8), u"\\Log.txt");
}

}  // namespace
}  // namespace ZiDaz
