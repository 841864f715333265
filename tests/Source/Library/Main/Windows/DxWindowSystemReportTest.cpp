#include <gtest/gtest.h>

#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"
#include "Source/Library/Main/LogCapture.h"
#include "platform/Modules.h"

namespace ZiDaz {
namespace {

class SystemReportTest : public LogCaptureTest {
  protected:
    void TearDown() override {
        ReleaseSystemApiTable();
        platform::ResetHiddenModules();
        LogCaptureTest::TearDown();
    }
    std::string Report() {
        ReleaseSystemApiTable();
        EXPECT_EQ(LogSystemReport(), 0);
        return Normalised();
    }
};

TEST_F(SystemReportTest, WritesVersionProcessorsAndWindows) {
    std::string log = Report();
    std::string processors = std::to_string(SystemReport.logicalProcessorCount);
    EXPECT_GE(SystemReport.logicalProcessorCount, 1);
    EXPECT_EQ(log,
              "\xEF\xBB\xBF"
              "T:システムの情報を出力します\r\n"
              "T:\tRAvoraz Ver3.24a\r\n"
              "T:\t論理プロセッサの数 : " +
                  processors +
                  "\r\n"
                  "T:\tＯＳ  Windows10 ( Build 19045  )\r\n");
    EXPECT_EQ(SystemReport.windowsVersionCode, WINDOWS_VERSION_10);
    EXPECT_EQ(std::u16string(SystemReport.windowsDescription), u"Windows10 ( Build 19045  )");
    EXPECT_EQ(SystemReport.directXVersionCode, 0x70000);
    EXPECT_EQ(LibraryLog.indent, 0);
}

TEST_F(SystemReportTest, WithoutRtlGetVersionTheVersionChecksDecide) {
    platform::HideModule("ntdll.dll", true);
    Report();
    EXPECT_EQ(std::u16string(SystemReport.windowsDescription), u"Windows10");
    EXPECT_EQ(SystemReport.windowsVersionCode, WINDOWS_VERSION_10);

    // Without any way to learn the newer version, the numbers GetVersionEx gives are named.
    platform::HideEntry("kernel32.dll", "VerSetConditionMask", true);
    Report();
    EXPECT_EQ(std::u16string(SystemReport.windowsDescription), u"Windows8 ( Build 9200  )");
    EXPECT_EQ(SystemReport.windowsVersionCode, WINDOWS_VERSION_8);
}

}  // namespace
}  // namespace ZiDaz
