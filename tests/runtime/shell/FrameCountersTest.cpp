// Frame counters over a stepped clock, also across the 31-bit clock's wrap, and the frame-skip
// level.
#include <gtest/gtest.h>

#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/FrameCounters.h"
#include "runtime/shell/GameIni.h"

namespace {

std::int32_t gNow = 0;
std::int32_t SteppedClock() {
    return gNow;
}

class FrameCountersTest : public ::testing::TestWithParam<std::int32_t> {
  protected:
    void SetUp() override {
        saved_ = TheSystemState;
        TheSystemState = Game_SystemState();
        ResetFrameCounters();
        SetFrameCounterClock(&SteppedClock);
        gNow = GetParam();
    }
    void TearDown() override {
        SetFrameCounterClock(nullptr);
        ResetFrameCounters();
        TheSystemState = saved_;
    }
    void Advance(std::int32_t ms) {
        gNow = static_cast<std::int32_t>((static_cast<std::uint32_t>(gNow) + ms) & 0x7FFFFFFFu);
    }
    Game_SystemState saved_;
};

TEST_P(FrameCountersTest, SixtyFramesASecondMeasureSixty) {
    int rate = 0;
    for (int frame = 0; frame < 240; ++frame) {
        rate = UpdateFrameCounters(true);
        if (frame == 59) {
            EXPECT_LT(rate, 60);
        }
        Advance(frame % 3 == 2 ? 16 : 17);  // 50 ms per 3 frames
    }
    EXPECT_EQ(rate, 60);
    EXPECT_EQ(TheSystemState.framesRunLastSecond, 60);
    // 240 frames of 50/3 ms: 4 seconds of play.
    EXPECT_EQ(TheSystemState.playTimeSeconds, 3);
    Advance(0);
    UpdateFrameCounters(false);
    EXPECT_EQ(TheSystemState.playTimeSeconds, 4);
    // Reading the rate counts no frame.
    EXPECT_EQ(UpdateFrameCounters(false), 60);
}

TEST_P(FrameCountersTest, AGapAddsWholeSecondsAndKeepsThePhase) {
    UpdateFrameCounters(true);
    Advance(3500);
    UpdateFrameCounters(true);
    EXPECT_EQ(TheSystemState.playTimeSeconds, 3);
    EXPECT_EQ(TheSystemState.playTimeMilliseconds, 500);
    Advance(499);
    UpdateFrameCounters(true);
    EXPECT_EQ(TheSystemState.playTimeSeconds, 3);
    EXPECT_EQ(TheSystemState.playTimeMilliseconds, 999);
    Advance(1);
    UpdateFrameCounters(true);
    EXPECT_EQ(TheSystemState.playTimeSeconds, 4);
    EXPECT_EQ(TheSystemState.playTimeMilliseconds, 0);
}

// Starts well inside the clock's range, and just before its wrap from 2^31 - 1 to 0.
INSTANTIATE_TEST_SUITE_P(Clock, FrameCountersTest,
                         ::testing::Values(1000, 0x7FFFFFFF - 1700, 0x7FFFFFFF - 30));

TEST(FrameSkipLevelTest, LevelsAreClampedAndStoredWithTheirFactor) {
    const Game_SystemState saved = TheSystemState;
    const std::int32_t savedIni = GameIniSettings.FrameSkip;
    const struct {
        int level, stored;
        float factor;
    } cases[] = {{5, 2, 0.25f}, {-3, 0, 1.0f}, {1, 1, 0.5f}, {2, 2, 0.25f}, {0, 0, 1.0f}};
    for (const auto& c : cases) {
        SetFrameSkipLevel(c.level);
        EXPECT_EQ(TheSystemState.frameSkipLevel, c.stored) << c.level;
        EXPECT_EQ(TheSystemState.GetFrameSkipFactor(), c.factor) << c.level;
        EXPECT_EQ(GameIniSettings.FrameSkip, c.stored) << c.level;
    }
    TheSystemState = saved;
    GameIniSettings.FrameSkip = savedIni;
}

TEST(ClockIntervalTest, IntervalsAreTakenModulo2To31) {
    EXPECT_EQ(ClockInterval(10, 5), 5);
    EXPECT_EQ(ClockInterval(100, 0x7FFFFFFF - 399), 500);
    EXPECT_EQ(ClockInterval(0, 0x7FFFFFFF), 1);
}

}  // namespace

namespace {

TEST(WindowTitleTest, GameTitleFromTheTemplate) {
    UiLanguage = 0;
    EXPECT_EQ(BuildGameTitleText("", "Quest", " II", false, ""),
              "Quest II　 　 F4:画面変更 / F8:情報変更");
    EXPECT_EQ(BuildGameTitleText("<TITLE>-<SOFT>-<TITLE>", "A", "", true, ""),
              "A-【ソフトウェアモード】-A");
    EXPECT_EQ(BuildGameTitleText("<TITLE>", "A", "", false, "Set by script"), "Set by script");
}

TEST(WindowTitleTest, FrameLoadBars) {
    UiLanguage = 0;
    const struct {
        std::int64_t us;
        std::string text;
    } cases[] = {
        {9000, "9.0ms|||||||||"},
        {30000, "30.0ms||||||||||■■■■■"},
        {100000, "100.0ms||||||||||■■■■■★★★★★★"},
        {1550, "1.5ms|"},
        {-20, "0.0ms"},
    };
    for (const auto& c : cases) EXPECT_EQ(BuildFrameLoadText(c.us), c.text) << c.us;
}

}  // namespace
