#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/data/SaveStream.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/ShellGlobals.h"

namespace {

// Every drawing call, as text.
std::vector<std::string> Calls;
std::int32_t NextHandle = 100;

std::string Text(const char* name, std::initializer_list<long long> args) {
    std::string s = name;
    s += "(";
    bool first = true;
    for (long long a : args) {
        if (!first) s += ",";
        s += std::to_string(a);
        first = false;
    }
    return s + ")";
}

SystemStateDrawing RecordingDrawing() {
    SystemStateDrawing d{};
    d.createDrawableGraph = [](std::int32_t w, std::int32_t h, bool alpha) {
        Calls.push_back(Text("CreateDrawableGraph", {w, h, alpha}));
        return NextHandle++;
    };
    d.destroyGraph = [](std::int32_t g) {
        Calls.push_back(Text("DestroyGraph", {g}));
        return 0;
    };
    d.putGraph = [](std::int32_t x, std::int32_t y, std::int32_t g, bool t) {
        Calls.push_back(Text("PutGraph", {x, y, g, t}));
        return 0;
    };
    d.setDrawTarget = [](std::int32_t g) {
        Calls.push_back(Text("SetDrawTarget", {g}));
        return 0;
    };
    d.setBlendMode = [](std::int32_t m, std::int32_t p) {
        Calls.push_back(Text("SetBlendMode", {m, p}));
        return 0;
    };
    d.setDrawBrightness = [](std::int32_t r, std::int32_t g, std::int32_t b) {
        Calls.push_back(Text("SetDrawBrightness", {r, g, b}));
        return 0;
    };
    d.composeScreenColor = [](std::int32_t r, std::int32_t g, std::int32_t b) {
        return static_cast<std::uint32_t>((r << 16) | (g << 8) | b);
    };
    d.paintRectangle = [](std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                          std::uint32_t c, bool fill) {
        Calls.push_back(Text("PaintRectangle", {x1, y1, x2, y2, c, fill}));
        return 7;
    };
    d.runHsbFilter = [](std::int32_t g, std::int32_t m, std::int32_t h, std::int32_t s,
                        std::int32_t b) {
        Calls.push_back(Text("Hsb", {g, m, h, s, b}));
        return 0;
    };
    d.runGaussFilter = [](std::int32_t g, std::int32_t w, std::int32_t s) {
        Calls.push_back(Text("Gauss", {g, w, s}));
        return 0;
    };
    d.newScreenSoftImage = [](std::int32_t w, std::int32_t h) {
        Calls.push_back(Text("NewScreenSoftImage", {w, h}));
        return NextHandle++;
    };
    d.copyScreenToSoftImage = [](std::int32_t s) {
        Calls.push_back(Text("CopyScreenToSoftImage", {s}));
        return 0;
    };
    d.graphFromSoftImage = [](std::int32_t s) {
        Calls.push_back(Text("GraphFromSoftImage", {s}));
        return NextHandle++;
    };
    d.releaseSoftImage = [](std::int32_t s) {
        Calls.push_back(Text("ReleaseSoftImage", {s}));
        return 0;
    };
    d.setMouseCursorVisible = [](std::int32_t v) {
        Calls.push_back(Text("SetMouseCursorVisible", {v}));
        return 0;
    };
    return d;
}

class SystemStateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        GetSystemStateDrawing() = RecordingDrawing();
        Calls.clear();
        NextHandle = 100;
        ScreenWidth = 640;
        ScreenHeight = 480;
        WindowScale = 1;
        TileSize = 16;
        FrameMultiplier = 1;
        TheSystemState = Game_SystemState();
        Calls.clear();
    }
    void TearDown() override {
        TheSystemState = Game_SystemState(Game_SystemState::QuietConstruction{});
        ResetSystemStateDrawing();
        TheSaveStream.Release();
        TheSystemDatabase = Game_Database();
        GameIniSettings = GameIniValues{};
        ScreenWidth = 640;
        ScreenHeight = 480;
        WindowScale = 1;
        TileSize = 16;
    }

    // Calls made by one action.
    std::vector<std::string> During(const std::function<void()>& action) {
        Calls.clear();
        action();
        return Calls;
    }
};

}  // namespace

TEST_F(SystemStateTest, ResetForScreenFollowsScreenTileSizeAndSettings) {
    struct Case {
        std::int32_t width, scale, tile, iniLevel, version;
        std::int32_t font, ruby, pauseX, pauseY, entryX, entryY, margin;
        float factor;
    };
    for (const Case& c : std::vector<Case>{
             {800, 1, 16, 0, 250, 28, 10, 160, 68, 75, 200, 14, 1.0f},
             {1280, 2, 32, 1, 250, 22, 10, 320, 137, 150, 400, 7, 0.5f},
             {640, 2, 40, 2, 229, 12, 5, 400, 172, 188, 500, -999, 0.25f},
             {639, 1, 48, 7, 0, 12, 5, 480, 206, 225, 600, -999, 0.25f},
         }) {
        SCOPED_TRACE(c.width);
        ScreenWidth = c.width;
        WindowScale = c.scale;
        TileSize = c.tile;
        GameIniSettings.FrameSkip = c.iniLevel;
        TheBasicData.SetDefaults();
        TheBasicData.settingNumbers[15] = static_cast<std::int16_t>(c.version);
        Game_SystemState s;
        EXPECT_EQ(s.baseFontSize, c.font);
        EXPECT_EQ(s.rubyFontSize, c.ruby);
        EXPECT_EQ(s.pauseCursorX, c.pauseX);
        EXPECT_EQ(s.pauseCursorY, c.pauseY);
        EXPECT_EQ(s.keyboardEntryX, c.entryX);
        EXPECT_EQ(s.keyboardEntryY, c.entryY);
        EXPECT_EQ(s.choiceMarginX, c.margin);
        EXPECT_EQ(s.choiceMarginY, c.margin);
        // The level goes to the live system state and "Game.ini", held to 0..2.
        EXPECT_EQ(TheSystemState.GetFrameSkipFactor(), c.factor);
        EXPECT_EQ(TheSystemState.frameSkipLevel, std::min(c.iniLevel, 2));
        EXPECT_EQ(GameIniSettings.FrameSkip, std::min(c.iniLevel, 2));
        EXPECT_EQ(s.fontNames, std::vector<std::string>(5));
        EXPECT_EQ(s.effectsActive, 0);
    }
    TheBasicData.SetDefaults();
}

TEST_F(SystemStateTest, AToneChangeShowsTheStartFirstAndEndsOnTheTarget) {
    for (std::int32_t n : {0, 1, 4, 30}) {
        SCOPED_TRACE(n);
        Game_SystemState& s = TheSystemState;
        s.toneCurrent = {-100, 40, 0};
        StartToneChange(200, -255, 10, n);
        s.UpdateEffects();
        EXPECT_EQ(s.toneCurrent, (std::array<std::int16_t, 3>{-100, 40, 0}));
        for (std::int32_t update = 2; update <= n + 1; ++update) {
            s.UpdateEffects();
            EXPECT_NE(s.toneCurrent[0], 200) << update;
        }
        s.UpdateEffects();
        EXPECT_EQ(s.toneCurrent, (std::array<std::int16_t, 3>{200, -255, 10}));
        EXPECT_EQ(s.toneFramesLeft, -1);
        s.UpdateEffects();
        EXPECT_EQ(s.toneCurrent, (std::array<std::int16_t, 3>{200, -255, 10}));
    }
}

TEST_F(SystemStateTest, FrameCountsThatCannotBeHeldAreClampedAndNeverDivideByZero) {
    Game_SystemState& s = TheSystemState;
    for (std::int32_t n : {-1, 65535, 32767, -100000}) {
        SCOPED_TRACE(n);
        StartToneChange(50, 50, 50, n);
        EXPECT_GE(s.toneFramesTotal, 1);
        EXPECT_EQ(s.toneFramesLeft, s.toneFramesTotal);
        StartFlash(0, 0, 0, n);
        EXPECT_GE(s.flashFramesTotal, 1);
    }
    StartToneChange(50, 50, 50, 65535);
    EXPECT_EQ(s.toneFramesTotal, 32767);
    // A saved total of 0 counts as 1.
    s.toneFramesLeft = 3;
    s.toneFramesTotal = 0;
    s.toneStart = {10, 10, 10};
    s.toneTarget = {0, 0, 0};
    s.UpdateEffects();
    EXPECT_EQ(s.toneCurrent[0], 30);
    s.flashFramesLeft = 5;
    s.flashFramesTotal = 0;
    EXPECT_EQ(During([&] { s.DrawFlash(); })[0], "SetBlendMode(1,1275)");
}

TEST_F(SystemStateTest, FlashAndTonePasses) {
    Game_SystemState& s = TheSystemState;
    StartFlash(0, 0, 0, 9);
    EXPECT_EQ(During([&] { EXPECT_EQ(s.DrawFlash(), 7); }),
              (std::vector<std::string>{"SetBlendMode(1,255)", "SetDrawBrightness(255,255,255)",
                                        "PaintRectangle(0,0,640,480,16777215,1)"}));
    StartFlash(-255, -255, -255, 9);
    s.UpdateEffects();
    EXPECT_EQ(During([&] { s.DrawFlash(); }),
              (std::vector<std::string>{"SetBlendMode(1,229)", "SetDrawBrightness(255,255,255)",
                                        "PaintRectangle(0,0,640,480,0,1)"}));
    s.flashFramesLeft = 0;
    EXPECT_TRUE(During([&] { EXPECT_EQ(s.DrawFlash(), 0); }).empty());

    s.toneCurrent = {-55, 0, 300};
    std::array<std::int32_t, 3> out{};
    EXPECT_EQ(During([&] { s.ApplyTone(false, false, &out); }),
              (std::vector<std::string>{"SetDrawBrightness(200,255,255)"}));
    EXPECT_EQ(out, (std::array<std::int32_t, 3>{200, 255, 255}));
    EXPECT_EQ(During([&] { s.ApplyTone(true, false); }),
              (std::vector<std::string>{"SetBlendMode(2,255)", "SetDrawBrightness(255,255,255)",
                                        "PaintRectangle(0,0,640,480,255,1)"}));
    EXPECT_EQ(During([&] { s.ApplyTone(false, true); }),
              (std::vector<std::string>{"SetDrawBrightness(255,255,255)"}));
    s.toneCurrent = {1, 2, 3};
    EXPECT_TRUE(During([&] { s.ApplyTone(false, false); }).empty());
    s.toneCurrent = {0, -3, 0};
    EXPECT_EQ(During([&] { s.ApplyTone(true, false); }),
              (std::vector<std::string>{"SetBlendMode(2,255)", "SetDrawBrightness(255,255,255)"}));
}

TEST_F(SystemStateTest, BlurStrengthSetAtOnceOrReachedOverFrames) {
    Game_SystemState& s = TheSystemState;
    s.SetScreenEffect(3, 20, 0, 0, 0);
    EXPECT_EQ(During([&] { s.ProcessScreenEffect(1); }),
              (std::vector<std::string>{"Gauss(100,16,2000)"}));
    s.SetScreenEffect(-1, 0, 0, 0, 0);
    s.SetScreenEffect(3, 20, 0, 0, 10);
    // Nothing on the first frame (frames left equals total, still above 0).
    EXPECT_TRUE(During([&] { s.ProcessScreenEffect(1); }).empty());
    std::vector<std::string> strengths;
    for (int frame = 0; frame < 12; ++frame) {
        s.UpdateEffects();
        for (const std::string& call : During([&] { s.ProcessScreenEffect(1); })) {
            strengths.push_back(call);
        }
    }
    EXPECT_EQ(strengths.front(), "Gauss(100,8,200)");
    EXPECT_EQ(strengths[3], "Gauss(100,8,800)");
    EXPECT_EQ(strengths[4], "Gauss(100,16,1000)");
    EXPECT_EQ(strengths.back(), "Gauss(100,16,1600)");
    for (const std::string& call : strengths) EXPECT_LE(std::stoi(call.substr(13)), 1600) << call;
    // A small target set at once uses the narrow width.
    s.SetScreenEffect(8, 8, 0, 0, 0);
    EXPECT_EQ(
        During([&] { s.ProcessScreenEffect(2); }),
        (std::vector<std::string>{"Gauss(100,8,800)", "SetDrawTarget(-2)", "PutGraph(0,0,100,0)"}));
}

TEST_F(SystemStateTest, ColourEffectsContinueFromTheValueShownAndNormaliseTheHue) {
    Game_SystemState& s = TheSystemState;
    s.SetScreenEffect(1, 100, 40, -20, 10);
    EXPECT_EQ(During([] {}).size(), 0u);
    for (int i = 0; i < 5; ++i) s.UpdateEffects();
    EXPECT_EQ(During([&] { s.ProcessScreenEffect(1); }),
              (std::vector<std::string>{"Hsb(100,0,50,20,-10)"}));
    // A new target starts from what is shown now.
    s.SetScreenEffect(1, 0, 0, 0, 4);
    EXPECT_EQ(s.effectSets[0].colourStart, (std::array<std::int32_t, 3>{50, 20, -10}));
    s.UpdateEffects();
    EXPECT_EQ(During([&] { s.ProcessScreenEffect(1); }),
              (std::vector<std::string>{"Hsb(100,0,37,15,-7)"}));
    // Absolute hue (type 2) is applied even while frames left equals total; hues wrap.
    s.SetScreenEffect(2, -30, 0, 0, 5);
    EXPECT_EQ(During([&] { s.ProcessScreenEffect(1); }),
              (std::vector<std::string>{"Hsb(100,1,330,0,0)"}));
    s.SetScreenEffect(6, 200, 0, 0, 0);
    EXPECT_EQ(During([&] { s.ProcessScreenEffect(2); }),
              (std::vector<std::string>{"Hsb(100,0,-160,0,0)", "SetDrawTarget(-2)",
                                        "PutGraph(0,0,100,0)"}));
    // Stage 0 draws into the effect screen while effects are active.
    EXPECT_EQ(During([&] { s.ProcessScreenEffect(0); }),
              (std::vector<std::string>{"SetDrawTarget(100)"}));
    s.SetScreenEffect(-1, 0, 0, 0, 0);
    EXPECT_EQ(s.effectsActive, 0);
    EXPECT_EQ(s.effectSets, (std::array<ScreenEffectSet, 2>{}));
    EXPECT_EQ(During([&] { s.ProcessScreenEffect(0); }),
              (std::vector<std::string>{"SetDrawTarget(-2)"}));
    EXPECT_TRUE(During([&] { s.ProcessScreenEffect(1); }).empty());
}

TEST_F(SystemStateTest, OtherTypesOnlySwitchTheEffectScreenOn) {
    Game_SystemState& s = TheSystemState;
    for (std::int32_t type : {4, 5, 9, 0}) {
        SCOPED_TRACE(type);
        s.SetScreenEffect(-1, 0, 0, 0, 0);
        s.effectScreen = -1;
        EXPECT_EQ(During([&] { s.SetScreenEffect(type, 9, 9, 9, 9); }),
                  (std::vector<std::string>{"CreateDrawableGraph(640,480,0)"}));
        EXPECT_EQ(s.effectsActive, 1);
        EXPECT_EQ(s.effectSets, (std::array<ScreenEffectSet, 2>{}));
    }
    // Without graphs the effects are not applied and drawing stays on the back screen.
    GetSystemStateDrawing().createDrawableGraph = nullptr;
    s.effectScreen = -1;
    s.SetScreenEffect(3, 20, 0, 0, 0);
    EXPECT_EQ(During([&] { s.ProcessScreenEffect(0); }),
              (std::vector<std::string>{"SetDrawTarget(-2)"}));
    EXPECT_TRUE(During([&] { s.ProcessScreenEffect(1); }).empty());
}

TEST_F(SystemStateTest, CapturesAreTakenWhenMissingOrAskedForOncePerFrame) {
    Game_SystemState& s = TheSystemState;
    EXPECT_EQ(During([&] { EXPECT_EQ(s.CaptureScreen(1), 1); }),
              (std::vector<std::string>{"NewScreenSoftImage(640,480)", "CopyScreenToSoftImage(100)",
                                        "GraphFromSoftImage(100)"}));
    EXPECT_EQ(s.captureGraphs[0], 101);
    EXPECT_EQ(s.CaptureScreen(1), 0);
    s.captureRequests[0] = 1;
    EXPECT_EQ(s.CaptureScreen(1), 0);  // already captured this frame
    s.UpdateEffects();
    EXPECT_EQ(During([&] { EXPECT_EQ(s.CaptureScreen(1), 1); }),
              (std::vector<std::string>{"CopyScreenToSoftImage(100)", "DestroyGraph(101)",
                                        "GraphFromSoftImage(100)"}));
    EXPECT_EQ(s.captureRequests[0], 0);
    EXPECT_EQ(s.CaptureScreen(2), 1);
    EXPECT_EQ(s.CaptureScreen(3), 0);
    EXPECT_EQ(During([&] { EXPECT_EQ(s.CaptureScreen(99), 0); }),
              (std::vector<std::string>{"GraphFromSoftImage(100)", "GraphFromSoftImage(103)"}));
    // A copy does not share the soft images; the original releases its own once.
    {
        Game_SystemState copy = s;
        EXPECT_EQ(copy.captureSoftImages[0].handle, -1);
    }
    EXPECT_EQ(During([&] { s = Game_SystemState(Game_SystemState::QuietConstruction{}); }),
              (std::vector<std::string>{"ReleaseSoftImage(100)", "ReleaseSoftImage(103)"}));
}

// ---- The save part ----

namespace {

std::vector<std::uint8_t> WriteBody(Game_SystemState& s) {
    TheSaveStream.BeginWrite(true);
    s.WriteSave();
    const std::int32_t measured = TheSaveStream.position;
    TheSaveStream.BeginWrite(false, static_cast<std::size_t>(measured));
    EXPECT_TRUE(s.WriteSave());
    EXPECT_EQ(TheSaveStream.position, measured);
    return {TheSaveStream.buffer.begin(), TheSaveStream.buffer.begin() + measured};
}

// Every saved member set to a value unlike its default.
Game_SystemState Varied() {
    Game_SystemState s;
    s.firstFlag = 1;
    s.secondFlag = 1;
    s.playTimeSeconds = 3601;
    s.spareValue = -9;
    s.currentBgm = 3;
    s.currentBgs = 2;
    s.messageFace = 5;
    s.messageWindowX = 11;
    s.messageWindowY = 12;
    s.choiceWindowX = 13;
    s.choiceWindowY = 14;
    s.choiceSounds = {7, 8, 9};
    s.choiceCursorStart = 2;
    s.toneCurrent = {1, 2, 3};
    s.toneTarget = {-4, -5, -6};
    s.toneStart = {7, 8, 9};
    s.toneFramesLeft = 10;
    s.toneFramesTotal = 20;
    s.flashColour = {100, 200, 300};
    s.flashFramesLeft = 4;
    s.flashFramesTotal = 8;
    s.baseFontSize = 19;
    s.panoramaNumber = 4;
    s.panoramaSpeedX = -2;
    s.panoramaSpeedY = 3;
    s.fogNumber = 6;
    s.fogSpeedX = 1;
    s.fogSpeedY = -1;
    s.fogBlend = 2;
    s.fogOpacity = 99;
    s.moveDuringEvents = 1;
    s.playerShadow = 3;
    s.keyRepeatFirstWait = 20;
    s.keyRepeatWait = 6;
    s.pauseCursorX = 301;
    s.pauseCursorY = 302;
    s.keyboardEntryX = 303;
    s.keyboardEntryY = 304;
    s.messageSpeed = 60;
    s.pictureTextSpeed = 500;
    s.messageDisplayWait = 3;
    s.showChoiceWindow = 0;
    s.cameraLock = 1;
    s.textShadow = 1;
    s.mouseInMessages = 1;
    s.transitionImage = 4;
    s.transitionTime = 40;
    s.transitionMode = 2;
    s.partyGraphics = {"a.png", "仲間.png", "", "b", "c", "d"};
    s.followerShadows = {1, 2, 3, 4, 5};
    s.choiceCursorDrawing = 1;
    s.panoramaParallax = 2;
    s.fogParallax = 3;
    s.confirmKeyRepeat = 4;
    s.cancelKeyRepeat = 5;
    s.keyCodes = {150, 151, 152};
    s.padBits = {128, 256, 512};
    s.partyDistance = 4;
    s.messagePrefix = "前";
    s.messageSuffix = "後";
    s.frameCount = 777;
    s.bgmVolumeCorrection = 50;
    s.bgsVolumeCorrection = 60;
    s.seVolumeCorrection = 70;
    s.bgmFileName = "BGM/曲.ogg";
    s.bgmValues = {80, 90, 100};
    s.bgsFileName = "BGS/rain.ogg";
    s.bgsValues = {81, 91, 101};
    s.panoramaSettings = "pano";
    s.fogSettings = "fog\nlines";
    s.cursorVisible = 0;
    s.partyFollowing = 0;
    s.furtherStrings = {"one", "two", "three"};
    s.spriteYOffset = -4;
    s.keyboardEntryAntialias = 0;
    s.runMoveRoutesAtOnce = 1;
    s.rubyFontSize = 7;
    s.mapDrawingMode = 2;
    s.nextPictureUnsmoothed = 1;
    s.fontThickness = 9;
    s.smoothMapZoom = 1;
    s.mapTilesOmitted = 1;
    s.diagonalSpeedX = 70;
    s.diagonalSpeedY = 71;
    s.playerCentreX = -8;
    s.playerCentreY = 8;
    s.padHatDirections = 0;
    s.padStickDirections = 0;
    s.showMoreWhenZoomedOut = 0;
    s.effectsActive = 1;
    s.colourModes = {1, 0};
    s.effectSets[0] = {{1, 2, 3}, {4, 5, 6}, 7, 8, 9, 10, 11, 12};
    s.effectSets[1] = {{13, 14, 15}, {16, 17, 18}, 19, 20, 21, 22, 23, 24};
    s.mapMaskScreen = 1;
    s.choiceMarginX = 3;
    s.choiceMarginY = 4;
    s.rememberedUiLanguage = 1;
    s.windowTitleOverride = "タイトル";
    s.fontNames = {"f1", "f2", "", "f4", "f5"};
    return s;
}

// One item of the save part: the first format that holds it (and the last, for the item older
// saves have and newer ones dropped), how it is written and which members it carries.
struct SavedItem {
    std::int16_t since;
    std::int16_t until;
    std::function<void(SaveStream&, const Game_SystemState&)> write;
    std::function<void(Game_SystemState&, const Game_SystemState&)> copy;
};

std::vector<SavedItem> SavedItems() {
    using S = SaveStream;
    using G = Game_SystemState;
    auto i32 = [](auto member) { return [member](S& s, const G& g) { s.WriteInt32(g.*member); }; };
    auto same = [](auto member) { return [member](G& d, const G& g) { d.*member = g.*member; }; };
    auto none = [](G&, const G&) {};
    std::vector<SavedItem> items = {
        {0, 999,
         [](S& s, const G& g) {
             s.WriteByte(g.firstFlag);
             s.WriteByte(g.secondFlag);
             s.WriteInt32(g.playTimeSeconds);
             s.WriteInt32(g.spareValue);
             s.WriteInt32(g.currentBgm);
             s.WriteInt32(g.currentBgs);
             s.WriteFloat(0.25f);  // the frame-skip factor and level are never applied
             s.WriteInt32(2);
             for (auto v : {g.messageFace, g.messageWindowX, g.messageWindowY, g.choiceWindowX,
                            g.choiceWindowY, g.choiceSounds[0], g.choiceSounds[1],
                            g.choiceSounds[2], g.choiceCursorStart}) {
                 s.WriteInt32(v);
             }
             for (const auto* t : {&g.toneCurrent, &g.toneTarget, &g.toneStart}) {
                 for (auto v : *t) s.WriteInt16(v);
             }
             s.WriteInt16(g.toneFramesLeft);
             s.WriteInt16(g.toneFramesTotal);
             for (auto v : g.flashColour) s.WriteInt16(v);
             s.WriteInt16(g.flashFramesLeft);
             s.WriteInt16(g.flashFramesTotal);
             for (auto v : {g.baseFontSize, g.panoramaNumber, g.panoramaSpeedX, g.panoramaSpeedY,
                            g.fogNumber, g.fogSpeedX, g.fogSpeedY, g.fogBlend, g.fogOpacity}) {
                 s.WriteInt32(v);
             }
             s.WriteByte(g.moveDuringEvents);
             s.WriteInt16(g.playerShadow);
             s.WriteInt32(g.keyRepeatFirstWait);
             s.WriteInt32(g.keyRepeatWait);
             for (auto v : {g.pauseCursorX, g.pauseCursorY, g.keyboardEntryX, g.keyboardEntryY}) {
                 s.WriteInt16(v);
             }
             for (auto v : {g.messageSpeed, g.pictureTextSpeed, g.messageDisplayWait}) {
                 s.WriteInt32(v);
             }
             s.WriteByte(g.showChoiceWindow);
         },
         [](G& d, const G& g) {
             d.firstFlag = g.firstFlag;
             d.secondFlag = g.secondFlag;
             d.moveDuringEvents = g.moveDuringEvents;
             d.showChoiceWindow = g.showChoiceWindow;
             for (auto m :
                  {&G::playTimeSeconds,   &G::spareValue,         &G::currentBgm,
                   &G::currentBgs,        &G::messageFace,        &G::messageWindowX,
                   &G::messageWindowY,    &G::choiceWindowX,      &G::choiceWindowY,
                   &G::choiceCursorStart, &G::baseFontSize,       &G::panoramaNumber,
                   &G::panoramaSpeedX,    &G::panoramaSpeedY,     &G::fogNumber,
                   &G::fogSpeedX,         &G::fogSpeedY,          &G::fogBlend,
                   &G::fogOpacity,        &G::keyRepeatFirstWait, &G::keyRepeatWait,
                   &G::messageSpeed,      &G::pictureTextSpeed,   &G::messageDisplayWait}) {
                 d.*m = g.*m;
             }
             for (auto m : {&G::toneFramesLeft, &G::toneFramesTotal, &G::flashFramesLeft,
                            &G::flashFramesTotal, &G::playerShadow, &G::pauseCursorX,
                            &G::pauseCursorY, &G::keyboardEntryX, &G::keyboardEntryY}) {
                 d.*m = g.*m;
             }
             d.choiceSounds = g.choiceSounds;
             d.toneCurrent = g.toneCurrent;
             d.toneTarget = g.toneTarget;
             d.toneStart = g.toneStart;
             d.flashColour = g.flashColour;
         }},
        {0, 96, [](S& s, const G&) { s.WriteInt32(12345); }, none},
        {0, 999, i32(&G::cameraLock), same(&G::cameraLock)},
        {98, 999,
         [](S& s, const G& g) {
             s.WriteInt32(g.textShadow);
             s.WriteInt32(g.mouseInMessages);
         },
         [](G& d, const G& g) {
             d.textShadow = g.textShadow;
             d.mouseInMessages = g.mouseInMessages;
         }},
        {100, 999,
         [](S& s, const G& g) {
             s.WriteInt32(g.transitionImage);
             s.WriteInt32(g.transitionTime);
             s.WriteByte(g.transitionMode);
             s.WriteInt32(static_cast<std::int32_t>(g.partyGraphics.size()));
             for (const auto& t : g.partyGraphics) s.WriteLongString(t);
             s.WriteInt32(static_cast<std::int32_t>(g.followerShadows.size()));
             for (auto v : g.followerShadows) s.WriteInt32(v);
             for (auto v : {g.choiceCursorDrawing, g.panoramaParallax, g.fogParallax,
                            g.confirmKeyRepeat, g.cancelKeyRepeat}) {
                 s.WriteInt32(v);
             }
         },
         [](G& d, const G& g) {
             d.transitionImage = g.transitionImage;
             d.transitionTime = g.transitionTime;
             d.transitionMode = g.transitionMode;
             d.partyGraphics = g.partyGraphics;
             d.followerShadows = g.followerShadows;
             d.choiceCursorDrawing = g.choiceCursorDrawing;
             d.panoramaParallax = g.panoramaParallax;
             d.fogParallax = g.fogParallax;
             d.confirmKeyRepeat = g.confirmKeyRepeat;
             d.cancelKeyRepeat = g.cancelKeyRepeat;
         }},
        {101, 999,
         [](S& s, const G& g) {
             for (int i = 0; i < 3; ++i) {
                 s.WriteInt32(g.keyCodes[i]);
                 s.WriteInt32(g.padBits[i]);
             }
         },
         [](G& d, const G& g) {
             d.keyCodes = g.keyCodes;
             d.padBits = g.padBits;
         }},
        {102, 999, [](S& s, const G& g) { s.WriteInt16(g.partyDistance); },
         same(&G::partyDistance)},
        {103, 999,
         [](S& s, const G& g) {
             s.WriteShortString(g.messagePrefix);
             s.WriteShortString(g.messageSuffix);
         },
         [](G& d, const G& g) {
             d.messagePrefix = g.messagePrefix;
             d.messageSuffix = g.messageSuffix;
         }},
        {104, 999, i32(&G::frameCount), same(&G::frameCount)},
        {106, 999,
         [](S& s, const G& g) {
             for (auto v : {g.bgmVolumeCorrection, g.bgsVolumeCorrection, g.seVolumeCorrection}) {
                 s.WriteInt32(v);
             }
         },
         [](G& d, const G& g) {
             d.bgmVolumeCorrection = g.bgmVolumeCorrection;
             d.bgsVolumeCorrection = g.bgsVolumeCorrection;
             d.seVolumeCorrection = g.seVolumeCorrection;
         }},
        {108, 999,
         [](S& s, const G& g) {
             s.WriteShortString(g.bgmFileName);
             for (auto v : g.bgmValues) s.WriteInt32(v);
             s.WriteShortString(g.bgsFileName);
             for (auto v : g.bgsValues) s.WriteInt32(v);
         },
         [](G& d, const G& g) {
             d.bgmFileName = g.bgmFileName;
             d.bgmValues = g.bgmValues;
             d.bgsFileName = g.bgsFileName;
             d.bgsValues = g.bgsValues;
         }},
        {109, 999,
         [](S& s, const G& g) {
             s.WriteShortString(g.panoramaSettings);
             s.WriteShortString(g.fogSettings);
             s.WriteByte(g.cursorVisible);
         },
         [](G& d, const G& g) {
             d.panoramaSettings = g.panoramaSettings;
             d.fogSettings = g.fogSettings;
             d.cursorVisible = g.cursorVisible;
         }},
        {110, 999, [](S& s, const G& g) { s.WriteByte(g.partyFollowing); },
         same(&G::partyFollowing)},
        {119, 999,
         [](S& s, const G& g) {
             s.WriteShortString(g.furtherStrings[0]);
             s.WriteShortString(g.furtherStrings[2]);
             s.WriteShortString(g.furtherStrings[1]);
         },
         same(&G::furtherStrings)},
        {121, 999, i32(&G::spriteYOffset), same(&G::spriteYOffset)},
        {122, 999, i32(&G::keyboardEntryAntialias), same(&G::keyboardEntryAntialias)},
        {124, 999, i32(&G::runMoveRoutesAtOnce), same(&G::runMoveRoutesAtOnce)},
        {126, 999, i32(&G::rubyFontSize), same(&G::rubyFontSize)},
        {128, 999, i32(&G::mapDrawingMode), same(&G::mapDrawingMode)},
        {129, 999,
         [](S& s, const G& g) {
             s.WriteInt32(g.nextPictureUnsmoothed);
             s.WriteInt32(g.fontThickness);
         },
         [](G& d, const G& g) {
             d.nextPictureUnsmoothed = g.nextPictureUnsmoothed;
             d.fontThickness = g.fontThickness;
         }},
        {130, 999, i32(&G::smoothMapZoom), same(&G::smoothMapZoom)},
        {131, 999, i32(&G::mapTilesOmitted), same(&G::mapTilesOmitted)},
        {132, 999,
         [](S& s, const G& g) {
             for (auto v : {g.diagonalSpeedX, g.diagonalSpeedY, g.playerCentreX, g.playerCentreY}) {
                 s.WriteInt32(v);
             }
         },
         [](G& d, const G& g) {
             d.diagonalSpeedX = g.diagonalSpeedX;
             d.diagonalSpeedY = g.diagonalSpeedY;
             d.playerCentreX = g.playerCentreX;
             d.playerCentreY = g.playerCentreY;
         }},
        {134, 999, [](S& s, const G& g) { s.WriteByte(g.padHatDirections); },
         same(&G::padHatDirections)},
        {136, 999, [](S& s, const G& g) { s.WriteByte(g.padStickDirections); },
         same(&G::padStickDirections)},
        {137, 999,
         [](S& s, const G& g) {
             for (auto v :
                  {g.showMoreWhenZoomedOut, g.effectsActive, g.colourModes[0], g.colourModes[1]}) {
                 s.WriteInt32(v);
             }
             for (const auto& e : g.effectSets) {
                 for (auto v : e.colourTarget) s.WriteInt32(v);
                 for (auto v : {e.blurTarget, e.colourFramesLeft, e.blurFramesLeft})
                     s.WriteInt32(v);
             }
             for (const auto& e : g.effectSets) {
                 for (auto v : e.colourStart) s.WriteInt32(v);
                 for (auto v : {e.blurStart, e.colourFramesTotal, e.blurFramesTotal}) {
                     s.WriteInt32(v);
                 }
             }
         },
         [](G& d, const G& g) {
             d.showMoreWhenZoomedOut = g.showMoreWhenZoomedOut;
             d.effectsActive = g.effectsActive;
             d.colourModes = g.colourModes;
             d.effectSets = g.effectSets;
         }},
        {138, 999,
         [](S& s, const G& g) {
             for (auto v :
                  {g.mapMaskScreen, g.choiceMarginX, g.choiceMarginY, g.rememberedUiLanguage}) {
                 s.WriteInt32(v);
             }
             s.WriteLongString(g.windowTitleOverride);
             s.WriteInt32(static_cast<std::int32_t>(g.fontNames.size()));
             for (const auto& t : g.fontNames) s.WriteLongString(t);
         },
         [](G& d, const G& g) {
             d.mapMaskScreen = g.mapMaskScreen;
             d.choiceMarginX = g.choiceMarginX;
             d.choiceMarginY = g.choiceMarginY;
             d.rememberedUiLanguage = g.rememberedUiLanguage;
             d.windowTitleOverride = g.windowTitleOverride;
             d.fontNames = g.fontNames;
         }},
    };
    return items;
}

}  // namespace

TEST_F(SystemStateTest, WriteSaveWritesEveryItemInLayoutOrder) {
    // BGM 3 and BGS 2 come from the database's own entries.
    TheSystemDatabase.SetTypeCount(3);
    TheSystemDatabase.ResizeType(1, 25);
    TheSystemDatabase.ResizeType(2, 25);
    Game_SystemState varied = Varied();
    std::vector<std::uint8_t> body = WriteBody(varied);
    SaveStream expected;
    expected.BeginWrite(false);
    for (const SavedItem& item : SavedItems()) {
        if (item.until >= 140) item.write(expected, varied);
    }
    // The frame-skip factor and level are the object's own.
    body[18] = 0, body[19] = 0, body[20] = 0x80, body[21] = 0x3E;  // 0.25f
    body[22] = 2, body[23] = 0, body[24] = 0, body[25] = 0;
    EXPECT_EQ(body, std::vector<std::uint8_t>(expected.buffer.begin(),
                                              expected.buffer.begin() + expected.position));
}

TEST_F(SystemStateTest, EveryMemberRoundTripsThroughEveryFormatGate) {
    const Game_SystemState varied = Varied();
    const std::vector<SavedItem> items = SavedItems();
    for (std::int16_t format = 95; format <= 140; ++format) {
        SCOPED_TRACE(format);
        SaveStream source;
        source.BeginWrite(false);
        Game_SystemState expected;
        for (const SavedItem& item : items) {
            if (item.since > format || item.until < format) continue;
            item.write(source, varied);
            item.copy(expected, varied);
        }
        if (expected.effectsActive) expected.EnsureEffectScreen();
        TheSaveStream.BeginRead(std::vector<std::uint8_t>(source.buffer.begin(),
                                                          source.buffer.begin() + source.position),
                                true, format);
        Game_SystemState read;
        ASSERT_TRUE(read.ReadSave());
        EXPECT_EQ(TheSaveStream.position, TheSaveStream.size);
        EXPECT_EQ(read.frameSkipLevel, expected.frameSkipLevel);
        EXPECT_EQ(WriteBody(read), WriteBody(expected));
        EXPECT_EQ(read.effectScreen != -1, format >= 137);
    }
}

TEST_F(SystemStateTest, AFormat100SaveKeepsTheDefaultKeys) {
    Game_SystemState varied = Varied();
    SaveStream source;
    source.BeginWrite(false);
    for (const SavedItem& item : SavedItems()) {
        if (item.since <= 100 && item.until >= 100) item.write(source, varied);
    }
    TheSaveStream.BeginRead({source.buffer.begin(), source.buffer.begin() + source.position}, true,
                            100);
    Game_SystemState read;
    ASSERT_TRUE(read.ReadSave());
    EXPECT_EQ(read.keyCodes, (std::array<std::int32_t, 3>{144, 145, 146}));
    EXPECT_EQ(read.padBits, (std::array<std::int32_t, 3>{16, 32, 64}));
    EXPECT_EQ(read.transitionTime, 40);
}

TEST_F(SystemStateTest, SoundsPlayedByFileNameSaveAsMinusThree) {
    TheSystemDatabase = Game_Database();
    TheSystemDatabase.SetTypeCount(4);
    TheSystemDatabase.ResizeType(1, 25);  // 15 entries and the 10 spare ones
    TheSystemDatabase.ResizeType(2, 12);
    struct Case {
        std::int32_t bgm, bgs, savedBgm, savedBgs;
    };
    for (const Case& c : std::vector<Case>{
             {14, 1, 14, 1}, {15, 2, -3, -3}, {24, 11, -3, -3}, {-1, -1, -1, -1}, {0, 0, 0, 0}}) {
        Game_SystemState s;
        s.currentBgm = c.bgm;
        s.currentBgs = c.bgs;
        const std::vector<std::uint8_t> body = WriteBody(s);
        TheSaveStream.BeginRead(body, true, 140);
        Game_SystemState read;
        ASSERT_TRUE(read.ReadSave());
        EXPECT_EQ(read.currentBgm, c.savedBgm) << c.bgm;
        EXPECT_EQ(read.currentBgs, c.savedBgs) << c.bgs;
    }
}

TEST_F(SystemStateTest, ShortOrDamagedPartsStopWithTheOverrunFlag) {
    Game_SystemState varied = Varied();
    const std::vector<std::uint8_t> body = WriteBody(varied);
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{100}, std::size_t{162},
                            std::size_t{200}, body.size() - 1}) {
        SCOPED_TRACE(cut);
        TheSaveStream.BeginRead({body.begin(), body.begin() + static_cast<std::ptrdiff_t>(cut)},
                                true, 140);
        Game_SystemState read;
        EXPECT_FALSE(read.ReadSave());
        EXPECT_TRUE(TheSaveStream.overrun);
    }
    // A list count the data cannot hold is refused before anything is allocated.
    std::vector<std::uint8_t> damaged = body;
    damaged[183] = 0xFF, damaged[184] = 0xFF, damaged[185] = 0xFF, damaged[186] = 0x7F;
    TheSaveStream.BeginRead(damaged, true, 140);
    Game_SystemState read;
    EXPECT_FALSE(read.ReadSave());
    EXPECT_TRUE(TheSaveStream.overrun);
    EXPECT_TRUE(read.partyGraphics.empty());
}

TEST_F(SystemStateTest, OldTextsAreUpgradedBelowFormat125AndTheCursorIsApplied) {
    UpgradeOldTextCodesHook = [](const std::string& t) { return "<" + t + ">"; };
    for (std::int16_t format : {124, 125}) {
        SCOPED_TRACE(format);
        Game_SystemState varied = Varied();
        SaveStream source;
        source.BeginWrite(false);
        for (const SavedItem& item : SavedItems()) {
            if (item.since <= format && item.until >= format) item.write(source, varied);
        }
        TheSaveStream.BeginRead({source.buffer.begin(), source.buffer.begin() + source.position},
                                true, format);
        Game_SystemState read;
        Calls.clear();
        ASSERT_TRUE(read.ReadSave());
        const bool old = format < 125;
        EXPECT_EQ(read.fogSettings, old ? "<fog\nlines>" : "fog\nlines");
        EXPECT_EQ(read.furtherStrings[1], old ? "<two>" : "two");
        EXPECT_EQ(read.messagePrefix, "前");
        EXPECT_EQ(read.bgmFileName, "BGM/曲.ogg");
        EXPECT_EQ(Calls, (std::vector<std::string>{"SetMouseCursorVisible(0)"}));
    }
    UpgradeOldTextCodesHook = nullptr;
}
