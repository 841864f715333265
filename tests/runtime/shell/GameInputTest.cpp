// The per-frame input update over stepped devices: directions and their choice rules, POV,
// buttons with auto-repeat, the mouse, virtual input, enable flags, and the replay branch.
#include <gtest/gtest.h>

#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_InputReplay.h"
#include "runtime/shell/ShellGlobals.h"
#include "tests/runtime/shell/FakeInputDevices.h"
#include "tests/runtime/shell/ReportCapture.h"

namespace {

using shell_test::FakeDevices;
using shell_test::FakeDeviceScope;

class GameInputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedState_ = TheSystemState;
        TheSystemState = Game_SystemState();
        TheInput = Game_Input();
        TheInputReplay = Game_InputReplay(Game_InputReplay::Quiet{});
        ReplayPlaying = 0;
        ReplayStopRequested = 0;
        FrameMultiplier = 1;
        WindowScale = 1;
        ScreenWidth = 640;
        ScreenHeight = 480;
    }
    void TearDown() override {
        TheSystemState = savedState_;
        TheInput = Game_Input();
        ReplayPlaying = 0;
        ReplayStopRequested = 0;
        FrameMultiplier = 1;
    }
    FakeDevices& dev() { return scope_.devices(); }
    void Frame() { TheInput.Update(); }
    void Hold(int key, bool down) { dev().keys[key] = down ? 1 : 0; }

    FakeDeviceScope scope_;
    Game_SystemState savedState_;
};

TEST_F(GameInputTest, TheLaterOfTwoOpposedDirectionsWinsUntilReleased) {
    Hold(dik::Up, true);
    Frame();
    EXPECT_EQ(TheInput.dir8, 8);
    EXPECT_EQ(TheInput.dir4, 8);
    EXPECT_EQ(TheInput.dirPressed, 8);
    Hold(dik::Down, true);
    Frame();
    EXPECT_EQ(TheInput.dir8, 2);
    EXPECT_EQ(TheInput.dir4, 2);
    EXPECT_EQ(TheInput.vertical, 2);
    EXPECT_EQ(TheInput.verticalPressed, 2);
    Hold(dik::Down, false);
    Frame();
    EXPECT_EQ(TheInput.dir8, 8);
    EXPECT_EQ(TheInput.dir4, 8);
    EXPECT_EQ(TheInput.dir8Changed, 8);
    EXPECT_EQ(TheInput.dirPressed, 0);
    // Diagonals from both axes; the four-way choice stays with the first direction.
    Hold(dik::Numpad4, true);
    Frame();
    EXPECT_EQ(TheInput.dir8, 7);
    EXPECT_EQ(TheInput.dir4, 4);
    EXPECT_EQ(TheInput.horizontal, 4);
    Hold(dik::Numpad4, false);
    Frame();
    EXPECT_EQ(TheInput.dir4, 8);
}

TEST_F(GameInputTest, PovDiagonalsTurnAwayFromTheLastCardinal) {
    dev().padPresent = true;
    const struct {
        int before, diagonal, expected;
    } cases[] = {{0, 4500, 9000},      {9000, 4500, 0},       {18000, 13500, 9000},
                 {9000, 13500, 18000}, {27000, 22500, 18000}, {18000, 22500, 27000},
                 {0, 31500, 27000},    {27000, 31500, 0}};
    for (const auto& c : cases) {
        TheInput = Game_Input();
        dev().pad.pov[0] = c.before;
        Frame();
        EXPECT_EQ(TheInput.povDirection, c.before);
        dev().pad.pov[0] = c.diagonal;
        Frame();
        EXPECT_EQ(TheInput.povDirection, c.expected) << c.before << " then " << c.diagonal;
        EXPECT_EQ(TheInput.povRaw, c.diagonal);
    }
    // A diagonal with no cardinal read before takes the fixed choice.
    TheInput = Game_Input();
    dev().pad.pov[0] = 13500;
    Frame();
    EXPECT_EQ(TheInput.povDirection, 18000);
    // Centred keeps the last values; an inactive window clears them.
    dev().pad.pov[0] = -1;
    Frame();
    EXPECT_EQ(TheInput.povDirection, 18000);
    dev().active = false;
    Frame();
    EXPECT_EQ(TheInput.povDirection, -1);
    EXPECT_EQ(TheInput.povLastCardinal, -1);
}

TEST_F(GameInputTest, APovNotCentredAtStartGivesNoDirectionsUntilCentred) {
    dev().padPresent = true;
    dev().pad.pov[0] = 0;
    TheInput.CheckPovAtStart();
    EXPECT_EQ(TheInput.povTrusted, 0);
    Frame();
    EXPECT_EQ(TheInput.up, 0);
    dev().pad.pov[0] = -1;
    Frame();
    EXPECT_EQ(TheInput.povTrusted, 1);
    dev().pad.pov[0] = 0;
    Frame();
    EXPECT_EQ(TheInput.up, 1);
    // The POV-moves setting shuts it off.
    TheSystemState.padHatDirections = 0;
    Frame();
    EXPECT_EQ(TheInput.up, 0);
}

TEST_F(GameInputTest, AutoRepeatPulsesAfterTheFirstWaitThenEveryNextWait) {
    struct Case {
        int multiplier, firstWait, nextWait;
        std::vector<int> buttonFrames, directionFrames;
    };
    const Case cases[] = {
        {1, 16, 5, {16, 21, 26, 31}, {17, 22, 27}},
        {2, 16, 5, {8, 10, 12}, {9, 11, 13}},
        {1, 0, 0, {1, 2, 3}, {2, 3, 4}},
    };
    for (const Case& c : cases) {
        TheInput = Game_Input();
        FrameMultiplier = c.multiplier;
        TheSystemState.keyRepeatFirstWait = c.firstWait;
        TheSystemState.keyRepeatWait = c.nextWait;
        dev() = FakeDevices{};
        for (std::int32_t& p : dev().pad.pov) p = -1;
        Hold(0x2C, true);  // Z, Decide
        Hold(dik::Left, true);
        std::vector<int> buttonFrames, directionFrames;
        for (int frame = 1; frame <= 32; ++frame) {
            Frame();
            if (TheInput.buttonRepeat[0]) buttonFrames.push_back(frame);
            if (TheInput.dir4Repeat == 4 && frame > 1) directionFrames.push_back(frame);
        }
        buttonFrames.resize(std::min(buttonFrames.size(), c.buttonFrames.size()));
        directionFrames.resize(std::min(directionFrames.size(), c.directionFrames.size()));
        EXPECT_EQ(buttonFrames, c.buttonFrames) << c.multiplier;
        EXPECT_EQ(directionFrames, c.directionFrames) << c.multiplier;
    }
}

TEST_F(GameInputTest, ButtonsFromKeysPadAndConfiguration) {
    const struct {
        int key;
        int button;
    } keys[] = {{0x2C, Decide},           {dik::Enter, Decide},
                {dik::Space, Decide},     {dik::NumpadEnter, Decide},
                {0x2D, Cancel},           {dik::Escape, Cancel},
                {dik::Numpad0, Cancel},   {dik::Insert, Cancel},
                {dik::Backspace, Cancel}, {0x2E, Sub},
                {dik::LeftShift, Sub},    {dik::RightShift, Sub}};
    for (const auto& k : keys) {
        TheInput = Game_Input();
        std::memset(dev().keys, 0, 256);
        Hold(k.key, true);
        Frame();
        for (int b = 0; b < 4; ++b) {
            EXPECT_EQ(TheInput.buttonHeld[b], b == k.button ? 1 : 0) << k.key << " " << b;
            EXPECT_EQ(TheInput.gameButtonPressed[b], b == k.button ? 1 : 0) << k.key;
        }
        Frame();
        EXPECT_EQ(TheInput.buttonPressed[k.button], 0);
        EXPECT_EQ(TheInput.gameButton[k.button], 1);
    }
    std::memset(dev().keys, 0, 256);
    TheInput = Game_Input();
    dev().padPresent = true;
    dev().padMask = 32 | 0x4000;
    Frame();
    EXPECT_EQ(TheInput.buttonHeld[Cancel], 1);
    EXPECT_EQ(TheInput.buttonHeld[Extra], 1);
    // XInput triggers add their bits.
    dev().padMask = 0;
    dev().xinput = true;
    dev().padX.leftTrigger = 10;
    dev().padX.rightTrigger = 9;
    Frame();
    EXPECT_EQ(TheInput.padMask, 0x4000u);
    EXPECT_EQ(TheInput.leftTrigger, 10);
    EXPECT_EQ(TheInput.rightTrigger, 9);
}

TEST_F(GameInputTest, MouseButtonsPressedOutsideTheScreenAreNotHeld) {
    dev().mouseX = 700;
    dev().mouseY = 100;
    dev().mouseButtons = 1;
    Frame();
    EXPECT_EQ(TheInput.mouseButton[0], 0);
    EXPECT_EQ(TheInput.mouseX, 640);
    EXPECT_EQ(TheInput.rawMouseX, 700);
    dev().mouseButtons = 0;
    Frame();
    dev().mouseX = 300;
    dev().mouseButtons = 1;
    Frame();
    EXPECT_EQ(TheInput.mouseButton[0], 1);
    EXPECT_EQ(TheInput.mousePressed[0], 1);
    dev().mouseX = 900;
    Frame();
    EXPECT_EQ(TheInput.mouseButton[0], 1);
    EXPECT_EQ(TheInput.mousePressed[0], 0);
    EXPECT_EQ(TheInput.mouseDX, 340);
    // Scale 2 halves the clamped position.
    WindowScale = 2;
    ScreenWidth = 1280;
    dev().mouseX = 101;
    dev().mouseY = -5;
    Frame();
    EXPECT_EQ(TheInput.mouseX, 50);
    EXPECT_EQ(TheInput.mouseY, 0);
}

TEST_F(GameInputTest, WheelCountsOnlyAfterTwoActiveFrames) {
    dev().wheel = 3;
    Frame();
    EXPECT_EQ(TheInput.wheel, 0);
    dev().wheel = 3;
    Frame();
    EXPECT_EQ(TheInput.wheel, 0);
    dev().wheel = 3;
    Frame();
    EXPECT_EQ(TheInput.wheel, 3);
    TheInput.forceWheel = 1;
    TheInput.forceWheelValue = -2;
    Frame();
    EXPECT_EQ(TheInput.wheel, -2);
}

TEST_F(GameInputTest, HiddenCursorSettingShowsItAboveTheScreenAndHidesItOnIt) {
    TheSystemState.cursorVisible = 0;
    dev().mouseY = 10;
    Frame();
    EXPECT_EQ(dev().cursorShown, 0);
    dev().mouseY = -2;
    Frame();
    EXPECT_EQ(dev().cursorShown, 1);
    dev().mouseY = 10;
    dev().active = false;
    Frame();
    EXPECT_EQ(dev().cursorShown, 1);
}

TEST_F(GameInputTest, VirtualInputLastsOneUpdate) {
    TheInput.forceUp = 1;
    TheInput.forceButton[Cancel] = 1;
    TheInput.forceKeys[dik::Enter] = 1;
    TheInput.forceMouse[1] = 1;  // middle
    TheInput.forceMouseX = 12;
    Frame();
    EXPECT_EQ(TheInput.up, 1);
    EXPECT_EQ(TheInput.buttonHeld[Cancel], 1);
    EXPECT_EQ(TheInput.buttonHeld[Decide], 1);
    EXPECT_EQ(TheInput.forcedEnterCopy, 1);
    EXPECT_EQ(TheInput.mouseButton[2], 1);
    EXPECT_EQ(TheInput.mouseX, 12);
    EXPECT_EQ(TheInput.forceMouseX, -1000);
    Frame();
    EXPECT_EQ(TheInput.up, 0);
    EXPECT_EQ(TheInput.buttonHeld[Cancel], 0);
    EXPECT_EQ(TheInput.mouseButton[2], 0);
    EXPECT_EQ(TheInput.forcedEnterCopy, 0);
}

TEST_F(GameInputTest, AClearedEnableFlagShutsThatInputOffUntilChanged) {
    Hold(dik::Up, true);
    Hold(0x2C, true);
    Hold(dik::Escape, true);
    TheInput.upEnabled = 0;
    TheInput.buttonEnabled[Decide] = 0;
    TheInput.keyEnabled[dik::Escape] = 0;
    for (int i = 0; i < 3; ++i) {
        Frame();
        EXPECT_EQ(TheInput.up, 0);
        EXPECT_EQ(TheInput.buttonHeld[Decide], 0);
        EXPECT_EQ(TheInput.buttonHeld[Cancel], 0);
        EXPECT_EQ(TheInput.rawKeys[dik::Escape], 1);
    }
    TheInput.upEnabled = 1;
    TheInput.buttonEnabled[Decide] = 1;
    Frame();
    EXPECT_EQ(TheInput.up, 1);
    EXPECT_EQ(TheInput.buttonHeld[Decide], 1);
}

TEST_F(GameInputTest, AnInactiveWindowReadsNoKeysButKeepsTheRawTable) {
    Hold(dik::Up, true);
    dev().active = false;
    Frame();
    EXPECT_EQ(TheInput.up, 0);
    EXPECT_EQ(TheInput.keys[dik::Up], 0);
    EXPECT_EQ(TheInput.rawKeys[dik::Up], 1);
}

TEST_F(GameInputTest, FunctionKeysAndModifiers) {
    Hold(dik::F2 + 6, true);  // F8
    Hold(dik::F10, true);
    Hold(dik::LeftCtrl, true);
    Frame();
    EXPECT_EQ(TheInput.functionKeyHeld[kF8], 1);
    EXPECT_EQ(TheInput.functionKeyPressed[kF8], 1);
    EXPECT_EQ(TheInput.functionKeyHeld[kF9], 0);
    EXPECT_EQ(TheInput.f10Pressed, 1);
    EXPECT_EQ(TheInput.ctrlPressed, 1);
    Hold(dik::F10, false);
    Frame();
    EXPECT_EQ(TheInput.f10Released, 1);
    EXPECT_EQ(TheInput.functionKeyPressed[kF8], 0);
    EXPECT_EQ(TheInput.ctrlPressed, 0);
    EXPECT_EQ(TheInput.ctrlHeld, 1);
}

TEST_F(GameInputTest, NormalPlayRecordsEveryFrame) {
    TheInputReplay = Game_InputReplay();
    Hold(dik::Right, true);
    Hold(0x2C, true);
    for (int i = 0; i < 3; ++i) Frame();
    TheInputReplay.Flush();
    ASSERT_EQ(TheInputReplay.counts.size(), 2u);
    EXPECT_EQ(TheInputReplay.counts[1], 3);
    EXPECT_EQ(TheInputReplay.values[1], 8 | 16);
}

TEST_F(GameInputTest, ARecordedRunPlaysBackTheSameInputs) {
    shell_test::ReportCapture capture;
    TheInputReplay = Game_InputReplay();
    std::vector<std::array<std::uint8_t, 8>> recorded;
    const int keyFor[8] = {dik::Up, dik::Down, dik::Left, dik::Right, 0x2C, 0x2D, 0x2E, -1};
    std::uint32_t bits = 12345;
    for (int frame = 0; frame < 600; ++frame) {
        if (frame % 7 == 0) bits = bits * 1103515245u + 12345u;
        for (int k = 0; k < 7; ++k) dev().keys[keyFor[k]] = (bits >> (k + 8)) & 1;
        dev().padPresent = true;
        dev().padMask = (bits >> 20) & 1 ? 0x4000 : 0;
        Frame();
        recorded.push_back({TheInput.up, TheInput.down, TheInput.left, TheInput.right,
                            TheInput.gameButton[0], TheInput.gameButton[1], TheInput.gameButton[2],
                            TheInput.gameButton[3]});
    }
    TheInputReplay.Flush();
    Game_InputReplay copy = TheInputReplay;
    TheInputReplay = copy;
    TheInput = Game_Input();
    std::memset(dev().keys, 0, 256);
    dev().padMask = 0;
    ReplayPlaying = 1;
    for (int frame = 0; frame < 600; ++frame) {
        Frame();
        const std::array<std::uint8_t, 8> got{TheInput.up,
                                              TheInput.down,
                                              TheInput.left,
                                              TheInput.right,
                                              TheInput.gameButton[0],
                                              TheInput.gameButton[1],
                                              TheInput.gameButton[2],
                                              TheInput.gameButton[3]};
        ASSERT_EQ(got, recorded[frame]) << "frame " << frame;
    }
    EXPECT_EQ(TheInputReplay.framesPlayed, 600);
    EXPECT_TRUE(capture.reports().empty());
    // The end of the data is reported once and requests the stop; the next update does nothing.
    Frame();
    EXPECT_EQ(ReplayStopRequested, 1);
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.reports()[0].first, "リプレイデータが終了しました");
    Frame();
    EXPECT_EQ(capture.reports().size(), 1u);
}

TEST_F(GameInputTest, DuringReplayTheLiveButtonsSteerWithoutVirtualInput) {
    TheInputReplay.counts = {5};
    TheInputReplay.values = {0};
    ReplayPlaying = 1;
    Hold(0x2D, true);
    TheInput.forceButton[Decide] = 1;
    Frame();
    EXPECT_EQ(TheInput.buttonHeld[Cancel], 1);
    EXPECT_EQ(TheInput.buttonHeld[Decide], 0);
    EXPECT_EQ(TheInput.gameButton[Cancel], 0);
}

}  // namespace
