#include "runtime/shell/GameIni.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ShellTestSupport.h"

namespace {

using shell_test::ReadBytes;
using shell_test::ScratchFolder;
using shell_test::WriteBytes;

struct ReadResult {
    std::int32_t start = 0, softMode = 0, windowMode = 1, seAndBgm = 3, frameSkip = 0;
    GameIniValues rest;
};

ReadResult ReadFrom(const std::string& path) {
    GameIniSettings = GameIniValues{};
    GameIniSettings.ProxyHost = "stale";  // every read sets every setting
    GameIniSettings.ClipboardEnabled = 7;
    ReadResult r;
    r.start = r.softMode = r.windowMode = r.seAndBgm = r.frameSkip = 99;
    EXPECT_EQ(
        ReadGameIniFile(path.c_str(), r.start, r.softMode, r.windowMode, r.seAndBgm, r.frameSkip),
        1);
    r.rest = GameIniSettings;
    return r;
}

void ExpectSame(const ReadResult& got, const ReadResult& want, const std::string& label) {
    SCOPED_TRACE(label);
    EXPECT_EQ(got.start, want.start);
    EXPECT_EQ(got.softMode, want.softMode);
    EXPECT_EQ(got.windowMode, want.windowMode);
    EXPECT_EQ(got.seAndBgm, want.seAndBgm);
    EXPECT_EQ(got.frameSkip, want.frameSkip);
    EXPECT_EQ(got.rest.ProxyHost, want.rest.ProxyHost);
    EXPECT_EQ(got.rest.ProxyPort, want.rest.ProxyPort);
    EXPECT_EQ(got.rest.ScreenShotEnabled, want.rest.ScreenShotEnabled);
    EXPECT_EQ(got.rest.F12ResetEnabled, want.rest.F12ResetEnabled);
    EXPECT_EQ(got.rest.Display_Number, want.rest.Display_Number);
    EXPECT_EQ(got.rest.Old_DirectX_Use, want.rest.Old_DirectX_Use);
    EXPECT_EQ(got.rest.ClipboardEnabled, want.rest.ClipboardEnabled);
    EXPECT_EQ(got.rest.MainTextToClipboard, want.rest.MainTextToClipboard);
    EXPECT_EQ(got.rest.SelectedTextToClipboardF2, want.rest.SelectedTextToClipboardF2);
}

TEST(GameIni, ReadsEachFileTextAsTheSettingsItHolds) {
    struct Case {
        const char* label;
        std::optional<std::string> file;  // no file at all when empty
        void (*expect)(ReadResult&);
    };
    const Case cases[] = {
        {"no file", std::nullopt, [](ReadResult&) {}},
        {"empty file", std::string(), [](ReadResult&) {}},
        {"blanks around the equals sign", std::string("SoftModeFlag = 1\r\n"),
         [](ReadResult& r) { r.softMode = 1; }},
        {"blank lines and blanks inside lines",
         std::string("\r\n\r\n  SE and BGM=  1  \r\n\r\nDisplay_ Number=2\r\n\r\n"),
         [](ReadResult& r) {
             r.seAndBgm = 1;
             r.rest.Display_Number = 2;
         }},
        {"two characters of WindowModeFlag", std::string("WindowModeFlag=-1\r\n"),
         [](ReadResult& r) { r.windowMode = -1; }},
        {"WindowModeFlag=12", std::string("WindowModeFlag=123\r\n"),
         [](ReadResult& r) { r.windowMode = 12; }},
        {"one character of FrameSkip", std::string("FrameSkip=25\r\n"),
         [](ReadResult& r) { r.frameSkip = 2; }},
        {"Start on the first line", std::string("Start=1\r\nFrameSkip=1\r\n"),
         [](ReadResult& r) {
             r.start = 1;
             r.frameSkip = 1;
         }},
        {"Start on the third line", std::string("SoftModeFlag=0\r\nX=2\r\nStart=1\r\n"),
         [](ReadResult& r) { r.start = 1; }},
        {"Start with more digits", std::string("Start=12x\r\n"),
         [](ReadResult& r) { r.start = 12; }},
        {"lower-case keys are not found",
         std::string("start=1\r\nsoftmodeflag=1\r\nframeskip=2\r\nproxy=host\r\n"),
         [](ReadResult&) {}},
        {"other white space stays", std::string("SEandBGM=\t1\r\n"),
         [](ReadResult& r) { r.seAndBgm = 0; }},
        {"missing keys take their defaults", std::string("ClipBoard_Use=0\r\nF12_Reset=0\r\n"),
         [](ReadResult& r) {
             r.rest.ClipboardEnabled = 0;
             r.rest.F12ResetEnabled = 0;
         }},
        {"proxy with CR LF", std::string("Proxy=abcd\r\nProxyPort=8080\r\n"),
         [](ReadResult& r) {
             r.rest.ProxyHost = "abcd";
             r.rest.ProxyPort = "8080";
         }},
        {"proxy on the last line without a line end", std::string("ProxyPort=81\r\nProxy=abcd"),
         [](ReadResult& r) {
             r.rest.ProxyHost = "abc";
             r.rest.ProxyPort = "81";
         }},
        {"empty proxy", std::string("Proxy=\r\nProxyPort=\r\n"), [](ReadResult&) {}},
        {"empty proxy before a bare line feed", std::string("Proxy=\nProxyPort=8080\r\n"),
         [](ReadResult& r) { r.rest.ProxyPort = "8080"; }},
        {"empty proxy at the end of the text", std::string("FrameSkip=1\r\nProxy="),
         [](ReadResult& r) { r.frameSkip = 1; }},
        {"every key",
         std::string("Start=0\r\nSoftModeFlag=1\r\nWindowModeFlag=0\r\nSEandBGM=2\r\n"
                     "FrameSkip=1\r\nProxy=proxy.example\r\nProxyPort=3128\r\n"
                     "ScreenShotFlag=0\r\nF12_Reset=0\r\nDisplay_Number=3\r\n"
                     "Old_DirectX_Use=1\r\nClipBoard_Use=0\r\n"
                     "MainText_to_ClipBoard=1\r\nSelectedText_to_ClipBoard_F2=1\r\n"),
         [](ReadResult& r) {
             r.softMode = 1;
             r.windowMode = 0;
             r.seAndBgm = 2;
             r.frameSkip = 1;
             r.rest.ProxyHost = "proxy.example";
             r.rest.ProxyPort = "3128";
             r.rest.ScreenShotEnabled = 0;
             r.rest.F12ResetEnabled = 0;
             r.rest.Display_Number = 3;
             r.rest.Old_DirectX_Use = 1;
             r.rest.ClipboardEnabled = 0;
             r.rest.MainTextToClipboard = 1;
             r.rest.SelectedTextToClipboardF2 = 1;
         }},
    };
    ScratchFolder folder;
    const std::string path = folder.File("Game.ini");
    for (const Case& c : cases) {
        std::filesystem::remove(path);
        if (c.file) WriteBytes(path, *c.file);
        ReadResult want;
        c.expect(want);
        ExpectSame(ReadFrom(path), want, c.label);
    }
}

TEST(GameIni, ReadsOnlyTheFirstFiveThousandBytes) {
    ScratchFolder folder;
    const std::string path = folder.File("Game.ini");
    WriteBytes(path, "SEandBGM=1\r\n" + std::string(kGameIniReadLimit, '#') + "FrameSkip=2\r\n");
    ReadResult want;
    want.seAndBgm = 1;
    ExpectSame(ReadFrom(path), want, "large file");
}

GameIniValues SampleSettings() {
    GameIniValues s;
    s.SoftModeFlag = 1;
    s.WindowModeFlag = -1;
    s.SEandBGM = 2;
    s.FrameSkip = 2;  // the writer takes the level from its caller, not from here
    s.ProxyHost = "proxy.local";
    s.ProxyPort = "8080";
    s.ScreenShotEnabled = 0;
    s.F12ResetEnabled = 1;
    s.Display_Number = 2;
    s.Old_DirectX_Use = 1;
    s.ClipboardEnabled = 0;
    s.MainTextToClipboard = 1;
    s.SelectedTextToClipboardF2 = 1;
    return s;
}

std::string ExpectedFile(const std::string& comment) {
    return "Start=1\r\nSoftModeFlag=1\r\nWindowModeFlag=-1\r\nSEandBGM=2  " + comment +
           "\r\nFrameSkip=0\r\nProxy=proxy.local\r\nProxyPort=8080\r\nScreenShotFlag=0\r\n"
           "F12_Reset=1\r\nDisplay_Number=2\r\nOld_DirectX_Use=1\r\nClipBoard_Use=0\r\n"
           "MainText_to_ClipBoard=1\r\nSelectedText_to_ClipBoard_F2=1\r\n";
}

TEST(GameIni, WritesTheExactBytesInEitherLanguage) {
    ScratchFolder folder;
    const std::string path = folder.File("Game.ini");
    struct {
        std::int32_t language;
        std::string comment;
    } cases[] = {
        {0,
         "# 0:SE\xEF\xBD\xA5"
         "BGM\xE3\x81\xAA\xE3\x81\x97 1:SE\xE3\x81\xAE\xE3\x81\xBF "
         "2:BGM\xE3\x81\xAE\xE3\x81\xBF 3:SE+BGM\xE3\x81\x82\xE3\x82\x8A"},
        {1, "# 0:No Sound 1:Only SE 2:Only BGM 3:SE+BGM ON"},
    };
    for (const auto& c : cases) {
        UiLanguage = c.language;
        GameIniSettings = SampleSettings();
        ASSERT_EQ(WriteGameIniFile(path.c_str(), 1, 0), 1);
        EXPECT_EQ(ReadBytes(path), ExpectedFile(c.comment)) << "language " << c.language;
    }
}

TEST(GameIni, ALanguageWithoutTextsStillWritesTheSettings) {
    ScratchFolder folder;
    const std::string path = folder.File("Game.ini");
    UiLanguage = 0;
    GameIniSettings = SampleSettings();
    ASSERT_EQ(WriteGameIniFile(path.c_str(), 1, 0), 1);
    const std::string japanese = ReadBytes(path);
    UiLanguage = 5;
    ASSERT_EQ(WriteGameIniFile(path.c_str(), 1, 0), 1);
    EXPECT_EQ(ReadBytes(path), japanese);
}

TEST(GameIni, WhatIsWrittenReadsBack) {
    ScratchFolder folder;
    const std::string path = folder.File("Game.ini");
    for (std::int32_t language : {0, 1}) {
        UiLanguage = language;
        GameIniSettings = SampleSettings();
        ASSERT_EQ(WriteGameIniFile(path.c_str(), 0, 1), 1);
        ReadResult want;
        want.start = 0;
        want.softMode = 1;
        want.windowMode = -1;
        want.seAndBgm = 2;
        want.frameSkip = 1;
        want.rest = SampleSettings();
        ExpectSame(ReadFrom(path), want, "language " + std::to_string(language));
    }
}

TEST(GameIni, AFileThatCannotBeWrittenIsReportedAndReturnsZero) {
    ScratchFolder folder;
    shell_test::MessageBoxCapture box;
    const std::string path = folder.File("missing/Game.ini");
    UiLanguage = 1;
    EXPECT_EQ(WriteGameIniFile(path.c_str(), 0, 0), 0);
    EXPECT_EQ(box.count(), 1);
    EXPECT_EQ(box.caption(), u"Writing Error");
    EXPECT_EQ(box.text(), u"Cannot write to Game.ini \r\nCheck Access Permission settings.");
    UiLanguage = 0;
    EXPECT_EQ(WriteGameIniFile(path.c_str(), 0, 0), 0);
    EXPECT_EQ(box.caption(), u"書き込みエラー");
    EXPECT_EQ(box.text(), u"Game.iniに書き込めませんでした。\r\nアクセス権限などをご確認下さい。");
}

}  // namespace
