#include "runtime/script/CommandTestSupport.h"

using namespace script_test;

namespace {

constexpr std::int32_t kTarget = 2000002;

class InterpreterOperationsTest : public CommandTest {
  protected:
    // KeyInput without waiting: the reading of `kind` and `subKind` written at once.
    std::int32_t Read(std::int32_t kind, std::int32_t subKind, std::int32_t extraBits = 0,
                      std::int32_t argument3 = 0) {
        TheVariables.SetValue(kTarget, 12345);
        Execute(Command({123, kTarget, kind << 8 | subKind | extraBits, argument3}));
        return Value(kTarget);
    }
};

TEST_F(InterpreterOperationsTest, StickDirectionsInTenthsOfADegree) {
    struct Case {
        std::int32_t x, y, direction, length;
    };
    for (const Case& c :
         {Case{1000, 0, 0, 1000}, Case{0, 1000, 900, 1000}, Case{-1000, 0, 1800, 1000},
          Case{0, -1000, 2700, 1000}, Case{707, 707, 450, 999}, Case{0, 0, 0, 0}}) {
        TheInput.stickX = c.x;
        TheInput.stickY = c.y;
        TheInput.stickRX = c.x;
        TheInput.stickRY = c.y;
        EXPECT_EQ(Read(4, 3), c.direction) << c.x << "," << c.y;
        EXPECT_EQ(Read(4, 7), c.direction) << c.x << "," << c.y;
        EXPECT_EQ(Read(4, 4), c.length) << c.x << "," << c.y;
    }
    TheInput.leftTrigger = 255;
    EXPECT_EQ(Read(4, 9), 1000);
}

TEST_F(InterpreterOperationsTest, HatReadings) {
    struct Case {
        std::int32_t angle, subKind, value;
    };
    for (const Case& c : {Case{13500, 2, 3}, Case{31500, 2, 7}, Case{1000, 2, 0}, Case{4500, 3, 8},
                          Case{13500, 4, 2}, Case{22500, 5, 4}, Case{4500, 6, 6}, Case{22500, 7, 2},
                          Case{13500, 8, 6}, Case{-1, 2, 0}}) {
        TheInput.povRaw = c.angle;
        EXPECT_EQ(Read(5, c.subKind), c.value) << c.angle << " " << c.subKind;
    }
    TheInput.povRaw = 4500;
    TheInput.povDirection = 9000;
    EXPECT_EQ(Read(5, 1), 6);
}

TEST_F(InterpreterOperationsTest, WaitingKeyInputKeepsWaitingUntilAValueComes) {
    Game_Interpreter& i = Load({Command({123, kTarget, 5 << 8 | 2 | 0x80}), Command({0})});
    TheInput.povRaw = -1;
    Frame();
    EXPECT_EQ(i.waitingForInput, 1);
    Frame();
    EXPECT_EQ(i.waitingForInput, 1);
    EXPECT_EQ(Value(kTarget), 0);
    TheInput.povRaw = 13500;
    Frame();
    EXPECT_EQ(i.waitingForInput, 0);
    EXPECT_EQ(Value(kTarget), 3);
}

TEST_F(InterpreterOperationsTest, ButtonsAndMouseButtonsByPriority) {
    TheInput.gameButton[1] = 1;
    TheInput.gameButton[2] = 1;
    EXPECT_EQ(Read(0, 0, 0x70), 11);
    EXPECT_EQ(Read(0, 0, 0x40), 12);
    TheInput.gameButton[1] = TheInput.gameButton[2] = 0;
    TheInput.down = 1;
    TheInput.dir8 = 2;
    EXPECT_EQ(Read(0, 4, 0x70), 2);
    EXPECT_EQ(Read(0, 3), 0);
    EXPECT_EQ(Read(0, 2), 2);
    TheInput.mouseButton[2] = 1;
    EXPECT_EQ(Read(3, 0, 0x70), 22);
    TheInput.mouseX = 77;
    EXPECT_EQ(Read(3, 1), 77);
}

TEST_F(InterpreterOperationsTest, KeyboardReadsAnyKeyOrTheOneAsked) {
    TheInput.keys[0x1E] = 1;
    EXPECT_EQ(Read(1, 0), 130);
    TheVariables.SetValue(2000005, 131);
    EXPECT_EQ(Read(1, 0, 0x1000, 2000005), 0);
    EXPECT_EQ(Read(1, 0, 0x1000, 130), 130);
    // Waiting, only a key newly pressed counts.
    TheInput.prevKeys[0x1E] = 1;
    Game_Interpreter& i = Load({Command({123, kTarget, 1 << 8 | 0x80}), Command({0})});
    Frame();
    EXPECT_EQ(i.waitingForInput, 1);
    TheInput.prevKeys[0x1E] = 0;
    Frame();
    EXPECT_EQ(i.waitingForInput, 0);
    EXPECT_EQ(Value(kTarget), 130);
}

TEST_F(InterpreterOperationsTest, MissingTouchPointReadsMinusOne) {
    GetTouchInput().count = [] { return 1; };
    GetTouchInput().point = [](int, int* x, int* y, int* id, int*, int*) {
        *x = 50;
        *y = 9000;
        *id = -3;
        return 0;
    };
    ScreenWidth = 640;
    ScreenHeight = 480;
    WindowScale = 1;
    EXPECT_EQ(Read(6, 1, 0x1000, 3), -1);
    EXPECT_EQ(Read(6, 1, 0x1000, 0), 50);
    EXPECT_EQ(Read(6, 2, 0x1000, 0), 480);
    EXPECT_EQ(Read(6, 3, 0x1000, 0), 3);
}

TEST_F(InterpreterOperationsTest, NothingIsReadWhileALineInputIsInUse) {
    TheInput.stickX = 1000;
    TheInput.stickY = 1000;
    LineInputInUse = 1;
    EXPECT_EQ(Read(4, 2), 12345);
    LineInputInUse = 0;
    SaveJustLoaded = 1;
    EXPECT_EQ(Read(4, 2), 12345);
    SaveJustLoaded = 0;
}

TEST_F(InterpreterOperationsTest, ChoicesThatExpandEmptyDeliverTheCancelCaseAtOnce) {
    Game_Interpreter& i = Load({});
    Game_EventCommand choices = Command({102, 3 | 3 << 4}, {"", "", ""});
    choices.indent = 2;
    TheGameSystem.closeMessageRequest = 1;
    EXPECT_FALSE(StartChoices(i, choices));
    EXPECT_EQ(i.waitingForWindow, 0);
    EXPECT_EQ(i.branchStates[2], 3);
    EXPECT_EQ(TheGameSystem.choiceCancelCase, 1);
    EXPECT_EQ(TheGameSystem.closeChoiceRequest, 1);
    EXPECT_EQ(TheGameSystem.closeMessageRequest, 0);
    EXPECT_TRUE(TheGameSystem.choiceText.empty());

    choices.strings = {"はい", "", "いいえ"};
    EXPECT_TRUE(StartChoices(i, choices));
    EXPECT_EQ(i.waitingForWindow, 1);
    EXPECT_EQ(TheGameSystem.choiceText, "はい\n\nいいえ\n");
    EXPECT_EQ(TheGameSystem.choiceSlotTexts[2], "いいえ");
    EXPECT_EQ(TheGameSystem.choiceCount, 3);
    EXPECT_EQ(TheGameSystem.choiceWaiter, &i);
    EXPECT_EQ(TheGameSystem.choiceWaitIndent, 2);
    // The choice window delivers later.
    EXPECT_EQ(TheGameSystem.DeliverChoice(1), &i);
    EXPECT_EQ(i.branchStates[2], 1);
    EXPECT_EQ(i.waitingForWindow, 0);
}

TEST_F(InterpreterOperationsTest, TileNumbersOfOlderData) {
    TheBasicData.utf8 = 0;
    TheBasicData.settingNumbers[15] = 229;
    EXPECT_EQ(ConvertTileNumber(20, 1), 36);
    EXPECT_EQ(ConvertTileNumber(20, -1), -1);
    EXPECT_EQ(ConvertTileNumber(40, -1), 24);
    EXPECT_EQ(ConvertTileNumber(10, 1), 10);
    EXPECT_EQ(ConvertTileNumber(INT32_MAX, 1), INT32_MIN + 15);
    TheBasicData.utf8 = 1;
    TheBasicData.settingNumbers[15] = 230;
    EXPECT_EQ(ConvertTileNumber(20, 1), 20);
    EXPECT_EQ(ConvertTileNumber(20, -1), 20);
}

TEST_F(InterpreterOperationsTest, AutotilePartCodes) {
    struct Case {
        std::uint8_t c[9];
        std::int32_t code;
    };
    const Case cases[] = {
        {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 4444}, {{0, 1, 0, 0, 0, 0, 0, 1, 0}, 1111},
        {{0, 0, 0, 1, 0, 1, 0, 0, 0}, 2222}, {{0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
        {{0, 1, 0, 1, 1, 1, 0, 1, 0}, 3333}, {{1, 1, 0, 1, 1, 0, 0, 0, 0}, 4120},
    };
    for (const Case& c : cases) EXPECT_EQ(ComputeAutotilePartCode(c.c), c.code);
}

TEST_F(InterpreterOperationsTest, Clamps) {
    EXPECT_EQ(ClampSixDigits(true, 1234567), 999999);
    EXPECT_EQ(ClampSixDigits(true, -1234567), -999999);
    EXPECT_EQ(ClampSixDigits(false, 1234567), 1234567);
    EXPECT_EQ(ClampCalculation(-3000000000LL), -2000000000);
    EXPECT_EQ(ClampCalculation(3000000000LL), 2000000000);
    EXPECT_EQ(ClampCalculation(-5), -5);
}

}  // namespace
