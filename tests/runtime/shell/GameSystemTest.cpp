// The system object: initial values, the transition settings and timers, the transition's
// drawing steps through recorded graphics calls, and the mouse confinement.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/shell/Game_System.h"
#include "runtime/shell/ShellGlobals.h"

namespace {

std::vector<std::string> gCalls;
std::vector<std::vector<std::int32_t>> gClips;
bool gWindowed = true;

class GameSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gCalls.clear();
        gClips.clear();
        gWindowed = true;
        savedGraphics_ = GetGameSystemGraphics();
        GameSystemGraphics& g = GetGameSystemGraphics();
        g.makeGraph = [](std::int32_t w, std::int32_t h, std::int32_t) {
            gCalls.push_back("make " + std::to_string(w) + "x" + std::to_string(h));
            return static_cast<std::int32_t>(100 + gCalls.size());
        };
        g.destroyGraph = [](std::int32_t graph) {
            gCalls.push_back("destroy " + std::to_string(graph));
            return 0;
        };
        g.loadBlendGraph = [](const std::string& path) {
            gCalls.push_back("load " + path);
            return 77;
        };
        g.setBlendMode = [](std::int32_t mode, std::int32_t param) {
            gCalls.push_back("blend " + std::to_string(mode) + " " + std::to_string(param));
            return 0;
        };
        g.drawGraph = [](std::int32_t, std::int32_t, std::int32_t graph, std::int32_t) {
            gCalls.push_back("draw " + std::to_string(graph));
            return 0;
        };
        g.drawBlendGraph = [](std::int32_t, std::int32_t, std::int32_t graph, std::int32_t,
                              std::int32_t blend, std::int32_t border, std::int32_t range) {
            gCalls.push_back("wipe " + std::to_string(graph) + " " + std::to_string(blend) + " " +
                             std::to_string(border) + " " + std::to_string(range));
            return 0;
        };
        g.copyDrawTargetToGraph = [](std::int32_t, std::int32_t, std::int32_t r, std::int32_t b,
                                     std::int32_t graph) {
            gCalls.push_back("copy " + std::to_string(r) + "x" + std::to_string(b) + " " +
                             std::to_string(graph));
            return 0;
        };
        GameSystemWindow& w = GetGameSystemWindow();
        w.isWindowed = [] { return gWindowed; };
        w.isActive = [] { return true; };
        w.clientOrigin = [](std::int32_t* x, std::int32_t* y) {
            *x = 10;
            *y = 20;
            return true;
        };
        w.scaleFactor = [] { return 1.5; };
        w.clipCursor = [](const std::int32_t* rect) {
            gClips.push_back(rect ? std::vector<std::int32_t>(rect, rect + 4)
                                  : std::vector<std::int32_t>{});
            return 1;
        };
        FrameMultiplier = 1;
    }
    void TearDown() override {
        GetGameSystemGraphics() = savedGraphics_;
        ResetGameSystemWindow();
        FrameMultiplier = 1;
        WindowScale = 1;
        ScreenWidth = 640;
        ScreenHeight = 480;
    }
    GameSystemGraphics savedGraphics_;
};

TEST_F(GameSystemTest, ConstructionGivesTheInitialValues) {
    Game_System s;
    EXPECT_EQ(s.gameState, GameState::Restart);
    EXPECT_EQ(s.messageWaitMode, -1);
    EXPECT_EQ(s.messageSettings, (std::array<std::int32_t, 4>{99, 0, 0, 0}));
    EXPECT_EQ(s.choiceCancelCase, -1);
    EXPECT_EQ(s.choicePendingResult, 99);
    EXPECT_EQ(s.choiceCount, 0);
    EXPECT_EQ(s.choiceFlags, 0);
    EXPECT_EQ(s.transitionWithoutImage, 1);
    EXPECT_EQ(s.transitionCountdown, 20);
    EXPECT_EQ(s.transitionKind, -1);
    EXPECT_EQ(s.midiListId, -1);
    EXPECT_EQ(s.mouseConfine, 1);
    EXPECT_EQ(s.mapOffsets[1], -99999);
    EXPECT_EQ(s.legacyPair, (std::array<std::int32_t, 2>{0, 0}));
}

TEST_F(GameSystemTest, SetTransitionPlainCrossFadeAndReloadWithoutPath) {
    Game_System s;
    s.SetTransition(-1, 30, 0);
    EXPECT_EQ(s.transitionWithoutImage, 1);
    EXPECT_EQ(s.transitionTime, 30);
    EXPECT_TRUE(s.transitionImagePath.empty());
    const Game_System before = s;
    s.SetTransition(-2, 99, 3);
    EXPECT_EQ(s.transitionTime, 30);
    EXPECT_EQ(s.transitionMode, 0);
    EXPECT_EQ(s.transitionImage, 0);
    EXPECT_TRUE(gCalls.empty());
    // With a path, -2 loads the same image again and keeps time and mode.
    s.transitionImagePath = "Data/Wipe.png";
    s.SetTransition(-2, 99, 3);
    EXPECT_EQ(s.transitionImage, 77);
    EXPECT_EQ(s.transitionTime, 30);
    // The loaded image is deleted when the next transition is set, unless it is in use.
    s.SetTransition(-1, 10, 1);
    EXPECT_EQ(gCalls.back(), "destroy 77");
    EXPECT_EQ(s.transitionImage, 0);
}

TEST_F(GameSystemTest, CountdownStopsAtMinusTen) {
    Game_System s;
    FrameMultiplier = 2;
    for (int frame = 1; frame <= 15; ++frame) s.UpdateTimers();
    EXPECT_EQ(s.transitionCountdown, -10);
    EXPECT_EQ(s.transitionRemaining, -10);
    s.UpdateTimers();
    EXPECT_EQ(s.transitionCountdown, -10);
    Game_System t;
    for (int frame = 1; frame <= 14; ++frame) t.UpdateTimers();
    EXPECT_EQ(t.transitionCountdown, -8);
}

TEST_F(GameSystemTest, ClipMouseCursor) {
    Game_System s;
    s.mouseConfineAllowed = 1;
    s.ClipMouseCursor(5);
    EXPECT_EQ(s.mouseConfine, 1);
    ASSERT_EQ(gClips.size(), 1u);
    EXPECT_EQ(gClips[0], (std::vector<std::int32_t>{10, 20, 10 + 960, 20 + 720}));
    gWindowed = false;
    s.ClipMouseCursor(-1);
    EXPECT_TRUE(gClips.back().empty());
    gWindowed = true;
    s.ClipMouseCursor(-4);
    EXPECT_EQ(s.mouseConfine, 0);
    EXPECT_TRUE(gClips.back().empty());
    s.mouseConfine = 1;
    s.mouseConfineAllowed = 0;
    s.ClipMouseCursor(-1);
    EXPECT_TRUE(gClips.back().empty());
}

TEST_F(GameSystemTest, ScreenGraphsAreRoundedToTheScale) {
    Game_System s;
    WindowScale = 2;
    ScreenWidth = 641;
    ScreenHeight = 481;
    s.captureGraph = 5;
    s.storedScreenGraph = 6;
    s.CreateScreenGraphs();
    EXPECT_EQ(gCalls,
              (std::vector<std::string>{"destroy 5", "destroy 6", "make 640x480", "make 640x480"}));
    EXPECT_EQ(s.graphSlot, -1);
}

TEST_F(GameSystemTest, TransitionStartsFadesAndEnds) {
    Game_System s;
    s.captureGraph = 5;
    s.transitionActive = 1;
    s.transitionPrepared = 1;
    s.transitionTotal = 4;
    s.transitionKind = 1;
    s.transitionGraph = 9;
    s.DrawTransition();
    EXPECT_EQ(gCalls.back(), "copy 640x480 5");
    EXPECT_EQ(s.transitionRemaining, 4);
    EXPECT_EQ(s.transitionCountdown, 4);
    s.UpdateTimers();
    gCalls.clear();
    s.DrawTransition();
    EXPECT_EQ(gCalls, (std::vector<std::string>{"blend 1 127", "draw 5"}));
    // The image wipe draws the old screen through the transition graph.
    s.transitionKind = 0;
    gCalls.clear();
    s.DrawTransition();
    EXPECT_EQ(gCalls, (std::vector<std::string>{"blend 1 255", "wipe 5 9 128 64"}));
    for (int i = 0; i < 4; ++i) s.UpdateTimers();
    gCalls.clear();
    s.DrawTransition();
    EXPECT_EQ(s.transitionActive, 0);
    EXPECT_EQ(s.transitionKind, -1);
    EXPECT_EQ(s.transitionGraph, -1);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"destroy 9"}));
}

}  // namespace
