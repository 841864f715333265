#include <gtest/gtest.h>

#include <vector>

#include "FrameLoopTestSupport.h"
#include "runtime/shell/Game_Scene.h"

namespace {

using frame_test::Clock;

class FramePacingTest : public ::testing::Test {
  protected:
    frame_test::VirtualClockScope clock_;
    FramePacer pacer_;

    void Advance(std::int32_t ms) { Clock().nowUs += std::int64_t{ms} * 1000; }
};

TEST_F(FramePacingTest, FrameLengthsFollowTheMultiplier) {
    struct Case {
        std::int32_t k, frame, three;
    };
    // A multiplier below 1 (a frame rate above 60) is held to 1.
    for (const Case& c :
         std::vector<Case>{{1, 17, 50}, {2, 33, 100}, {3, 50, 149}, {0, 17, 50}, {-3, 17, 50}}) {
        pacer_.Start(c.k);
        EXPECT_EQ(pacer_.baseFrameLengthMs, c.frame) << c.k;
        EXPECT_EQ(pacer_.frameLengthMs, c.frame) << c.k;
        EXPECT_EQ(pacer_.threeFrameLengthMs, c.three) << c.k;
        EXPECT_EQ(pacer_.recentFrameMs[2], c.frame) << c.k;
    }
}

TEST_F(FramePacingTest, ThreeFrameWaitMakesUpForShortFrames) {
    pacer_.Start(1);
    pacer_.recentFrameMs = {16, 16, 99};
    Advance(10);
    std::int32_t extra = 0;
    EXPECT_TRUE(pacer_.Pace(1.0f, 30, true, extra));
    EXPECT_EQ(Clock().waits, (std::vector<std::int32_t>{8}));
    EXPECT_EQ(pacer_.recentFrameMs[0], 18);
    EXPECT_EQ(pacer_.recentFrameMs[1], 16);
    // The three-frame wait is taken from the script's extra wait, which may go negative.
    EXPECT_EQ(extra, -8);
}

TEST_F(FramePacingTest, ExtraWaitIsPaidOutOfLateness) {
    struct Case {
        const char* name;
        std::int32_t frameMs;
        std::int32_t extra;
        std::vector<std::int32_t> waits;
        bool drawn;
    };
    const std::vector<Case> cases = {
        {"on time", 5, 100, {100}, true},
        // 47 ms of a 17 ms frame: 30 ms late; 70 ms are left to wait.
        {"late by 30", 47, 100, {70}, false},
        {"late by more than the wait", 60, 20, {}, false},
    };
    for (const Case& c : cases) {
        Clock().waits.clear();
        pacer_.Start(1);
        Advance(c.frameMs);
        std::int32_t extra = c.extra;
        EXPECT_EQ(pacer_.Pace(1.0f, 30, false, extra), c.drawn) << c.name;
        EXPECT_EQ(Clock().waits, c.waits) << c.name;
        EXPECT_EQ(extra, 0) << c.name;
        if (c.frameMs == 60) EXPECT_EQ(pacer_.late, 43 - 20) << c.name;
        if (c.frameMs == 47) EXPECT_EQ(pacer_.late, 0) << c.name;
    }
}

TEST_F(FramePacingTest, LateFramesStillDrawEverySecondFrame) {
    pacer_.Start(1);
    std::vector<bool> drawn;
    bool flip = true;
    for (int i = 0; i < 6; ++i) {
        Advance(40);
        std::int32_t extra = 0;
        const bool draw = pacer_.Pace(1.0f, 30, flip, extra);
        if (draw) pacer_.drawAccumulator = 0.0f;
        drawn.push_back(draw);
        pacer_.EndPacing();
        flip = draw;
    }
    EXPECT_EQ(drawn, (std::vector<bool>{false, true, false, true, false, true}));
    EXPECT_TRUE(Clock().waits.empty());
}

TEST_F(FramePacingTest, FastReplayAimsAtOneMillisecondFrames) {
    pacer_.Start(2);
    struct Case {
        bool replay, decide, sub;
        std::int32_t length;
    };
    for (const Case& c : std::vector<Case>{{true, true, true, 1},
                                           {true, true, false, 5},
                                           {true, false, true, 33},
                                           {false, true, true, 33}}) {
        pacer_.ChooseFrameLength(c.replay, c.decide, c.sub);
        EXPECT_EQ(pacer_.frameLengthMs, c.length);
    }
    // Frames of 2 ms never wait: each is already past its 1 ms.
    pacer_.ChooseFrameLength(true, true, true);
    for (int i = 0; i < 10; ++i) {
        Advance(2);
        std::int32_t extra = 0;
        pacer_.Pace(1.0f, 30, true, extra);
        pacer_.EndPacing();
    }
    EXPECT_TRUE(Clock().waits.empty());
}

TEST_F(FramePacingTest, HighRatePathHoldsFramesOnTheMicrosecondClock) {
    pacer_.Start(3);
    pacer_.EndPacing();
    const std::int64_t start = Clock().nowUs;
    Advance(10);
    std::int32_t extra = 0;
    EXPECT_TRUE(pacer_.Pace(1.0f, 60, true, extra));
    // Waits the rest up to 16 ms, then spins until more than 16,650 us have passed, whatever the
    // multiplier.
    EXPECT_EQ(Clock().waits, (std::vector<std::int32_t>{6}));
    EXPECT_EQ(Clock().nowUs - start, 16651);

    // An extra wait is added to the pumped wait and then cleared.
    pacer_.EndPacing();
    Clock().waits.clear();
    Advance(4);
    extra = 100;
    pacer_.Pace(1.0f, 60, true, extra);
    EXPECT_EQ(Clock().waits, (std::vector<std::int32_t>{112}));
    EXPECT_EQ(extra, 0);
}

}  // namespace
