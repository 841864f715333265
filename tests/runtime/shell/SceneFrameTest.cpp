// The frame loop and the work of one frame, with every outside step replaced by a recorder and
// the clocks by a virtual one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FrameLoopTestSupport.h"
#include "ShellTestSupport.h"
#include "SoundTestSupport.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_InputReplay.h"
#include "runtime/shell/Game_Scene.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/SceneServices.h"
#include "runtime/world/Game_MapState.h"

extern std::uint8_t ReloadMapUpdate;

namespace {

std::vector<std::string>& Log() {
    static std::vector<std::string> log;
    return log;
}
int& Draws() {
    static int n = 0;
    return n;
}
int& Flips() {
    static int n = 0;
    return n;
}
// Run by the common-event step: what a save loaded by an event command does.
bool& LoadSaveInCommonEvents() {
    static bool flag = false;
    return flag;
}

void InstallRecorders() {
    ClearSceneServices();
    SceneServices& s = GetSceneServices();
    s.updateMap = [] { Log().push_back(ReloadMapUpdate ? "map(reload)" : "map"); };
    s.playerUpdateInput = [](bool move, bool input) {
        Log().push_back(std::string("player") + (move ? "M" : "") + (input ? "I" : ""));
    };
    s.updatePanoramaAndFog = [](Game_Scene&) { Log().push_back("panorama"); };
    s.pollDownload = [] { Log().push_back("download"); };
    s.runMainInterpreter = [] { Log().push_back("main"); };
    s.runCommonEvents = [] {
        Log().push_back("common");
        if (LoadSaveInCommonEvents()) {
            SaveJustLoaded = 1;
            TheGameSystem.sceneReloadRequested = 1;
            LoadSaveInCommonEvents() = false;
        }
    };
    s.updateChoiceWindow = [] { Log().push_back("choice"); };
    s.updateMessageWindow = [] { Log().push_back("message"); };
    s.updatePictures = [] { Log().push_back("pictures"); };
    s.updateSounds = [] { Log().push_back("sounds"); };
    s.updateTimers = [] { Log().push_back("timers"); };
    s.updateEffects = [] { Log().push_back("effects"); };
    s.flushDirtySaves = [] { Log().push_back("flush"); };
    s.closeChoiceWindow = [] { Log().push_back("closeChoice"); };
    s.closeMessageWindow = [] { Log().push_back("closeMessage"); };
    s.clearGraphicCache = [] { Log().push_back("clearCache"); };
    s.rebuildMapParts = [](Game_Scene&) { Log().push_back("rebuild"); };
    s.reloadWindowSkins = [] { Log().push_back("skins"); };
    s.drawMap = [](Game_Scene&) { ++Draws(); };
    s.flipScreen = [] {
        ++Flips();
        return 0;
    };
}

class SceneFrameTest : public sound_test::SoundTest {
  protected:
    void SetUp() override {
        sound_test::SoundTest::SetUp();
        savedGraphics_ = GetGameSystemGraphics();
        savedDrawing_ = GetSystemStateDrawing();
        GetGameSystemGraphics() = GameSystemGraphics{};
        GetSystemStateDrawing() = SystemStateDrawing{};
        GetGameInputDevices() = GameInputDevices{};
        InstallRecorders();
        Log().clear();
        Draws() = Flips() = 0;
        LoadSaveInCommonEvents() = false;
        savedMapId_ = TheMapState.mapId;
        TheMapState.mapId = 1;
        TheGameSystem.gameState = GameState::Run;
        TheSoundManager = Game_SoundManager();
        TheSoundManager.PrepareLists();
        scene_ = std::make_unique<Game_Scene>();
        Log().clear();
    }
    void TearDown() override {
        scene_.reset();
        TheSoundManager = Game_SoundManager();
        TheMapState.mapId = savedMapId_;
        SaveJustLoaded = 0;
        ReplayPlaying = ReplayStopRequested = 0;
        ResetSceneServices();
        ResetGameInputDevices();
        GetGameSystemGraphics() = savedGraphics_;
        GetSystemStateDrawing() = savedDrawing_;
        SetFrameSkipLevel(0);
        sound_test::SoundTest::TearDown();
    }

    // Runs the frame loop for `frames` frames.
    void RunFrames(std::int64_t frames) {
        // One pump at the loop's entry, then one at the start of every frame.
        frame_test::Clock().pumpCallsLeft = frames + 1;
        scene_->RunFrames();
    }

    frame_test::VirtualClockScope clock_;
    std::unique_ptr<Game_Scene> scene_;

  private:
    GameSystemGraphics savedGraphics_{};
    SystemStateDrawing savedDrawing_{};
    std::int32_t savedMapId_ = -1;
};

TEST_F(SceneFrameTest, FrameSkipLevelsDrawAndFlipOnlyChosenFrames) {
    struct Case {
        int level;
        int draws;
        int flips;
    };
    // 16 frames: the last drawn frame is flipped by a 17th frame that never comes.
    for (const Case& c : std::vector<Case>{{0, 16, 15}, {1, 8, 7}, {2, 4, 3}}) {
        Draws() = Flips() = 0;
        scene_->flipPending = 0;
        SetFrameSkipLevel(c.level);
        RunFrames(16);
        EXPECT_EQ(Draws(), c.draws) << c.level;
        EXPECT_EQ(Flips(), c.flips) << c.level;
        EXPECT_EQ(TheGameSystem.gameState, GameState::Run);
    }
}

TEST_F(SceneFrameTest, FramesLastTheGamesFrameLength) {
    for (std::int32_t k : {1, 2}) {
        FrameMultiplier = k;
        const std::int64_t start = frame_test::Clock().nowUs;
        RunFrames(30);
        const double msPerFrame = (frame_test::Clock().nowUs - start) / 1000.0 / 30;
        // 50 ms per three frames at k = 1, 100 ms at k = 2 (the first frame starts at once).
        EXPECT_NEAR(msPerFrame, 16.67 * k, 1.2) << k;
    }
}

TEST_F(SceneFrameTest, UpdateOrderFollowsTheGameDataVersion) {
    struct Case {
        std::int16_t version;
        std::vector<std::string> order;
    };
    const std::vector<Case> cases = {
        {231,
         {"map", "playerI", "panorama", "download", "main", "common", "playerM", "choice",
          "message", "pictures", "sounds", "timers", "effects", "flush"}},
        {230,
         {"map", "main", "common", "playerMI", "choice", "message", "pictures", "sounds", "timers",
          "effects", "panorama", "download", "flush"}},
    };
    for (const Case& c : cases) {
        SetGameDataVersion(c.version);
        Log().clear();
        scene_->drawThisFrame = 0;
        scene_->UpdateFrame();
        EXPECT_EQ(Log(), c.order) << c.version;
        EXPECT_EQ(scene_->flipPending, 0);
    }
}

TEST_F(SceneFrameTest, LoadedSaveEndsTheFrameAndTheNextFrameReloads) {
    shell_test::MessageBoxCapture boxes;
    SetGameDataVersion(231);
    LoadSaveInCommonEvents() = true;
    scene_->drawThisFrame = 1;
    scene_->UpdateFrame();
    EXPECT_EQ(Log(), (std::vector<std::string>{"map", "playerI", "panorama", "download", "main",
                                               "common"}));
    // Nothing was drawn on the cut frame.
    EXPECT_EQ(Draws(), 0);

    Log().clear();
    scene_->drawThisFrame = 0;
    scene_->UpdateFrame();
    EXPECT_EQ(SaveJustLoaded, 0);
    EXPECT_EQ(TheGameSystem.sceneReloadRequested, 0);
    const std::vector<std::string> head(Log().begin(), Log().begin() + 7);
    EXPECT_EQ(head, (std::vector<std::string>{"closeChoice", "clearCache", "rebuild", "skins",
                                              "closeMessage", "map(reload)", "map"}));
    EXPECT_EQ(Log().back(), "flush");
}

TEST_F(SceneFrameTest, FileBgmOfALoadedSaveComesBackAsTheFirstSpareEntry) {
    shell_test::MessageBoxCapture boxes;
    WriteSound("music/field.ogg");
    TheSystemState.currentBgm = kSoundPlayedByFileName;
    TheSystemState.bgmFileName = "music/field.ogg";
    TheSystemState.bgmValues = {80, 120, 7};
    TheGameSystem.sceneReloadRequested = 1;
    scene_->drawThisFrame = 0;
    scene_->UpdateFrame();
    EXPECT_EQ(TheSystemDatabase.ReadString(1, sound_test::kListCount, 0), "music/field.ogg");
    EXPECT_EQ(TheSystemDatabase.ReadNumber(1, sound_test::kListCount, 1), 80);
    EXPECT_EQ(TheSystemDatabase.ReadNumber(1, sound_test::kListCount, 2), 120);
    EXPECT_EQ(TheSystemDatabase.ReadNumber(1, sound_test::kListCount, 3), 7);
    EXPECT_EQ(TheGameSystem.addedSoundEntries[0], 1);
    EXPECT_NE(TheSoundManager.soundsById[0][sound_test::kListCount], 0);
    EXPECT_EQ(TheSystemState.currentBgm, sound_test::kListCount);
}

TEST_F(SceneFrameTest, ReplayStopAndQuitEndTheLoop) {
    ReplayPlaying = 1;
    ReplayStopRequested = 1;
    RunFrames(5);
    EXPECT_EQ(TheGameSystem.gameState, GameState::Restart);
    EXPECT_EQ(ReplayPlaying, 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"rebuild", "closeMessage", "closeChoice"}));

    // A state change inside a frame closes the windows and frees the sounds.
    TheGameSystem.gameState = GameState::Run;
    Log().clear();
    GetSceneServices().updateEffects = [] { TheGameSystem.gameState = GameState::Restart; };
    RunFrames(5);
    EXPECT_EQ(TheGameSystem.gameState, GameState::Restart);
    EXPECT_EQ(std::count(Log().begin(), Log().end(), "main"), 1);
    EXPECT_EQ(Log().back(), "closeChoice");
}

}  // namespace
