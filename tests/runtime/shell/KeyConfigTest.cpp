// Key configuration with its swaps, the read-back of pad bits, the key names and the queries for
// the key or pad button pressed now.
#include <gtest/gtest.h>

#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/ShellGlobals.h"
#include "tests/runtime/shell/ReportCapture.h"

namespace {

using shell_test::ReportCapture;

class KeyConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TheInput = Game_Input();
        UiLanguage = 0;
    }
    void TearDown() override { TestPlay = false; }
    Game_SystemState state_{};
};

TEST_F(KeyConfigTest, AssigningAnotherButtonsCodeSwapsTheTwo) {
    struct Case {
        int code, button;
        bool keyboard;
        std::array<std::int32_t, 3> keys, pads;
    };
    const Case cases[] = {
        {145, 0, true, {145, 144, 146}, {16, 32, 64}},
        {146, 0, true, {146, 145, 144}, {16, 32, 64}},
        {144, 2, true, {146, 145, 144}, {16, 32, 64}},
        {200, 1, true, {144, 200, 146}, {16, 32, 64}},
        {302, 0, false, {144, 145, 146}, {32, 16, 64}},
        {303, 1, false, {144, 145, 146}, {16, 64, 32}},
        {318, 2, false, {144, 145, 146}, {16, 32, 0x400}},
        {317, 0, false, {144, 145, 146}, {1 << 20, 32, 64}},
        {320, 0, false, {144, 145, 146}, {1 << 22, 32, 64}},
    };
    for (const Case& c : cases) {
        Game_SystemState s;
        SetKeyConfig(c.code, c.button, c.keyboard, &s);
        EXPECT_EQ(s.keyCodes, c.keys) << c.code << " to " << c.button;
        EXPECT_EQ(s.padBits, c.pads) << c.code << " to " << c.button;
    }
}

TEST_F(KeyConfigTest, NullStateMeansTheLiveOne) {
    const auto saved = TheSystemState.keyCodes;
    SetKeyConfig(145, 0, true, nullptr);
    EXPECT_EQ(TheSystemState.keyCodes[0], 145);
    EXPECT_EQ(GetConfiguredKeyCode(1, true, nullptr), 144);
    TheSystemState.keyCodes = saved;
}

TEST_F(KeyConfigTest, OutOfRangeCodesChangeNothingAndAreReportedInTestPlayOnly) {
    const int badKeys[] = {0, 99, 356};
    const int badPads[] = {300, 321, 0};
    ReportCapture capture;
    for (bool testPlay : {false, true}) {
        TestPlay = testPlay;
        ReportCapture::reports().clear();
        for (int code : badKeys) SetKeyConfig(code, 0, true, &state_);
        for (int code : badPads) SetKeyConfig(code, 0, false, &state_);
        EXPECT_EQ(state_.keyCodes, (std::array<std::int32_t, 3>{144, 145, 146}));
        EXPECT_EQ(state_.padBits, (std::array<std::int32_t, 3>{16, 32, 64}));
        if (!testPlay) {
            EXPECT_TRUE(ReportCapture::reports().empty());
            continue;
        }
        ASSERT_EQ(ReportCapture::reports().size(), 6u);
        EXPECT_EQ(ReportCapture::reports()[0].first,
                  "ERROR:キー設定(キーボード)で範囲外(100～355外)の値を与えました");
        EXPECT_EQ(ReportCapture::reports()[5].first,
                  "ERROR:キー設定(パッド)で範囲外(301～308外)の値を与えました");
    }
}

TEST_F(KeyConfigTest, ReadBackGivesPadCodesOnlyForTheFifteenButtonBits) {
    const struct {
        int code, readBack;
    } cases[] = {{301, 301}, {315, 315}, {316, 0}, {317, 0}, {318, 307}, {319, 310}, {320, 0}};
    for (const auto& c : cases) {
        Game_SystemState s;
        SetKeyConfig(c.code, 1, false, &s);
        EXPECT_EQ(GetConfiguredKeyCode(1, false, &s), c.readBack) << c.code;
    }
    EXPECT_EQ(GetConfiguredKeyCode(3, true, &state_), 0);
    EXPECT_EQ(GetConfiguredKeyCode(-1, false, &state_), 0);
    EXPECT_EQ(GetConfiguredKeyCode(2, true, &state_), 146);
}

TEST_F(KeyConfigTest, KeyNames) {
    const struct {
        int code;
        const char* name;
    } cases[] = {{1, "ESC"},   {2, "1"},     {10, "9"},   {11, "0"},   {13, "???"}, {29, "左Ctrl"},
                 {44, "Z"},    {68, "F10"},  {84, "???"}, {125, "\\"}, {146, ":"},  {200, "↑"},
                 {211, "DEL"}, {212, "???"}, {0, "???"},  {-5, "???"}, {300, "???"}};
    for (const auto& c : cases) EXPECT_EQ(KeyCodeToName(c.code), c.name) << c.code;
}

TEST_F(KeyConfigTest, ConfiguredKeyNamesReadTheLiveState) {
    const Game_SystemState saved = TheSystemState;
    EXPECT_EQ(GetConfiguredKeyName(0, true), "Z");
    EXPECT_EQ(GetConfiguredKeyName(2, true), "C");
    TheSystemState.keyCodes[2] = 246;
    EXPECT_EQ(GetConfiguredKeyName(2, true), ":");
    TheSystemState.keyCodes = saved.keyCodes;
    EXPECT_EQ(GetConfiguredKeyName(0, false), "ボタン1");
    TheSystemState.padBits[1] = 0x40000;
    EXPECT_EQ(GetConfiguredKeyName(1, false), "ボタン15");
    TheSystemState.padBits[1] = 0x80000;
    EXPECT_EQ(GetConfiguredKeyName(1, false), "");
    EXPECT_EQ(GetConfiguredKeyName(3, true), "");
    TheSystemState.padBits = saved.padBits;
}

TEST_F(KeyConfigTest, PressedKeyCode) {
    int last = 77;
    EXPECT_EQ(GetPressedKeyCode(false, false, &last, 0), 0);
    EXPECT_EQ(last, 0);
    // A named code answers for itself only.
    TheInput.keys[0x2C] = 1;  // Z
    EXPECT_EQ(GetPressedKeyCode(false, false, &last, 144), 144);
    EXPECT_EQ(GetPressedKeyCode(false, false, &last, 145), 0);
    // The scan skips the text-entry keys and takes the lowest other key.
    TheInput.keys[dik::Enter] = 1;
    TheInput.keys[dik::Space] = 1;
    TheInput.keys[0x2D] = 1;  // X
    EXPECT_EQ(GetPressedKeyCode(false, false, &last, 0), 144);
    // Remember: the found key is kept and then passed over while held.
    last = 0;
    EXPECT_EQ(GetPressedKeyCode(true, false, &last, 0), 144);
    EXPECT_EQ(last, 0x2C);
    // "remember" clears the remembered key first, so the same key is found again.
    EXPECT_EQ(GetPressedKeyCode(true, false, &last, 0), 144);
    // newOnly: a key down last frame is passed over, a key equal to *lastCode too.
    TheInput.prevKeys[0x2C] = 1;
    last = 0;
    EXPECT_EQ(GetPressedKeyCode(false, true, &last, 0), 145);
    EXPECT_EQ(last, 0);
    last = 0x2D;
    EXPECT_EQ(GetPressedKeyCode(false, true, &last, 0), 0);
    EXPECT_EQ(last, 0);
    // Keys above 146 are never scanned.
    TheInput = Game_Input();
    TheInput.keys[dik::Up] = 1;
    EXPECT_EQ(GetPressedKeyCode(false, false, &last, 0), 0);
}

TEST_F(KeyConfigTest, PressedPadCode) {
    int last = 5;
    TheInput.padMask = 0x20 | 0x80;  // buttons 2 and 4
    EXPECT_EQ(GetPressedPadCode(false, false, &last, 0), 302);
    EXPECT_EQ(GetPressedPadCode(false, false, &last, 304), 304);
    EXPECT_EQ(GetPressedPadCode(false, false, &last, 303), 0);
    EXPECT_EQ(GetPressedPadCode(false, false, &last, 316), 0);
    // Remembered: the same button is not reported twice running.
    last = 0;
    EXPECT_EQ(GetPressedPadCode(true, false, &last, 0), 302);
    EXPECT_EQ(last, 302);
    EXPECT_EQ(GetPressedPadCode(true, false, &last, 0), 0);
    TheInput.padMask = 0;
    EXPECT_EQ(GetPressedPadCode(true, false, &last, 0), 0);
    EXPECT_EQ(last, 0);
}

}  // namespace
