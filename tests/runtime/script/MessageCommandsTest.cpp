#include <cstring>

#include "Source/Library/Main/DuRadudAvuvur.h"
#include "Source/Library/Main/DxChar.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/script/CommandTestSupport.h"
#include "runtime/shell/ShellMessages.h"
#include "runtime/shell/TextConversion.h"

using namespace script_test;

namespace {

std::vector<std::u16string> Boxes;

class MessageCommandsTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        Boxes.clear();
        previousBox_ = SetShellMessageBoxHandler(
            [](const std::u16string& text, const std::u16string& caption) {
                Boxes.push_back(caption + u"|" + text);
            });
    }
    void TearDown() override {
        SetShellMessageBoxHandler(previousBox_);
        CommandTest::TearDown();
    }
    ShellMessageBoxHandler previousBox_ = nullptr;
};

TEST_F(MessageCommandsTest, EmptyMessageOpensWithOneBlankAndTheNextOneWaits) {
    Game_Interpreter& i = Load({Command({101}, {""}), Command({101}, {"二つ目"})});
    TheGameSystem.closeMessageRequest = 1;
    TheGameSystem.secondMessageText = "x";
    Frame();
    EXPECT_EQ(TheGameSystem.messageText, " ");
    EXPECT_EQ(TheGameSystem.lastMessageText, " ");
    EXPECT_EQ(TheGameSystem.secondMessageText, "");
    EXPECT_EQ(TheGameSystem.closeMessageRequest, 0);
    EXPECT_EQ(TheGameSystem.messageWaiter, &i);
    EXPECT_EQ(i.waitingForWindow, 1);
    EXPECT_EQ(i.line, 1);
    // The waiter is released while the window still shows the first message: the second one
    // runs again every frame until the window is empty.
    TheGameSystem.ReleaseMessageWaiter();
    EXPECT_EQ(i.waitingForWindow, 0);
    Frame();
    Frame();
    EXPECT_EQ(i.line, 1);
    EXPECT_EQ(TheGameSystem.messageText, " ");
    TheGameSystem.messageText.clear();
    TheGameSystem.choiceText = "a\n";
    Frame();
    EXPECT_EQ(i.line, 1);
    TheGameSystem.choiceText.clear();
    Frame();
    EXPECT_EQ(TheGameSystem.messageText, "二つ目");
    EXPECT_EQ(i.line, 2);
}

TEST_F(MessageCommandsTest, MessageTakesAFollowingChoiceAtOnce) {
    Game_EventCommand choices = Command({102, 2 | 1 << 4}, {"はい", "いいえ"});
    choices.indent = 1;
    Game_Interpreter& i = Load({Command({101}, {"どうする？"}), choices});
    Frame();
    EXPECT_EQ(TheGameSystem.messageText, "どうする？");
    EXPECT_EQ(TheGameSystem.choiceText, "はい\nいいえ\n");
    EXPECT_EQ(TheGameSystem.messageWithChoices, 1);
    EXPECT_EQ(TheGameSystem.choiceCancelCase, -1);
    EXPECT_EQ(TheGameSystem.choiceWaitIndent, 1);
    EXPECT_EQ(i.line, 2);

    // Choices that are all empty settle at once and leave a plain message.
    TheGameSystem = Game_System(Game_System::QuietConstruction{});
    TheGameSystem.gameState = GameState::Run;
    choices.strings = {"", ""};
    Game_Interpreter& j = Load({Command({101}, {"本文"}), choices});
    Frame();
    EXPECT_EQ(TheGameSystem.messageWithChoices, 0);
    EXPECT_EQ(j.branchStates[1], 1);
    EXPECT_TRUE(TheGameSystem.choiceText.empty());
}

TEST_F(MessageCommandsTest, DebugTextWatchesAndMessageBox) {
    DebugWindowOpen = 1;
    Execute(Command({106}, {"PictureWatch:ON=5"}));
    EXPECT_EQ(DebugWatchedPictures.count(5), 1u);
    Execute(Command({106}, {"PictureWatch:OFF=5"}));
    EXPECT_TRUE(DebugWatchedPictures.empty());
    Execute(Command({106}, {"PictureWatch:ON=8"}));
    Execute(Command({106}, {"PictureWatch:8"}));
    EXPECT_TRUE(DebugWatchedPictures.empty());
    EXPECT_NE(
        DebugWindowText.find(ConvertUtf8ToCodePage(GameCodePageLocale(), "# 開始 ﾋﾟｸﾁｬ番号監視 5")),
        std::string::npos);

    // Relative ids are watched as the ids they stand for.
    Execute(Command({106}, {"ValWatch:ON=1600003"}), -1, 4);
    Execute(Command({106}, {"ValWatch:ON=1100002"}), 7, -1);
    EXPECT_EQ(DebugWatchedVariables, (std::set<std::int32_t>{15000403, 1000072}));
    DebugWindowDirty = 0;
    Execute(Command({106}, {"ValWatch:ON=1100002"}), -1, 4);
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].first,
              "マップEvのセルフ変数に格納しようとしましたが、呼出元マップEvがありません"
              "でした => 1100002");
    EXPECT_EQ(DebugWindowDirty, 0);
    EXPECT_EQ(DebugWatchedVariables.size(), 2u);

    DebugWindowText.clear();
    Execute(Command({106}, {"MessageBox:こんにちは"}), 3, 2);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"Message|こんにちは");
    EXPECT_EQ(DebugWindowText, ConvertUtf8ToCodePage(GameCodePageLocale(),
                                                     "MessageBox:こんにちは -->[MapEv3/ｺﾓﾝ2/0行]") +
                                   std::string("\r\n"));
}

TEST_F(MessageCommandsTest, DebugTextGoesToTheOpenWindowOnly) {
    Execute(Command({106}, {"a\nb"}));
    EXPECT_TRUE(DebugWindowText.empty());
    EXPECT_EQ(DebugWindowDirty, 0);
    DebugWindowOpen = 1;
    Execute(Command({106}, {"a\nb"}));
    EXPECT_EQ(DebugWindowText,
              ConvertUtf8ToCodePage(GameCodePageLocale(), "a\r\nb -->[0行]") + std::string("\r\n"));
    EXPECT_EQ(DebugWindowDirty, 1);
}

TEST_F(MessageCommandsTest, AutomaticInputPressesForOneUpdate) {
    TheVariables.SetValue(2000003, 400);
    Execute(Command({125, 1 << 28, 99}));
    Execute(Command({125, 1 << 28, 2000003}));
    EXPECT_EQ(TheInput.forceKeys[0], 1);
    EXPECT_EQ(TheInput.forceKeys[255], 1);
    EXPECT_EQ(TheInput.virtualInputGiven, 1);
    Execute(Command({125, 0x1 | 0x80 | 0x40}));
    EXPECT_EQ(TheInput.forceButton[0], 1);
    EXPECT_EQ(TheInput.forceButton[1], 0);
    EXPECT_EQ(TheInput.forceUp, 1);
    EXPECT_EQ(TheInput.forceRight, 1);
    Execute(Command({125, 2 << 28 | 0x2 | 0x8 | 0x10, 30, 40}));
    EXPECT_EQ(TheInput.forceMouse[2], 1);
    EXPECT_EQ(TheInput.forceMouse[0], 0);
    EXPECT_EQ(TheInput.forceMouseX, 30);
    EXPECT_EQ(TheInput.forceMouseY, 40);
    EXPECT_EQ(TheInput.forceWheel, 1);
    EXPECT_EQ(TheInput.forceWheelValue, 30);
}

TEST_F(MessageCommandsTest, InputEnableOfKeysAsStoredOrFromAVariable) {
    Execute(Command({126, 1 << 28 | 0x100, -1}));
    for (std::uint8_t flag : TheInput.keyEnabled) ASSERT_EQ(flag, 0);
    Execute(Command({126, 1 << 28, -1}));
    TheVariables.SetValue(2000004, -1);
    Execute(Command({126, 1 << 28 | 0x100, 2000004}));
    EXPECT_EQ(TheInput.keyEnabled[0], 0);
    EXPECT_EQ(TheInput.keyEnabled[1], 1);
    Execute(Command({126, 1 << 28 | 0x100 | 3}));
    EXPECT_EQ(TheInput.mouseEnabled, 0);
    EXPECT_EQ(TheInput.padEnabled, 0);
    EXPECT_EQ(TheInput.keyEnabled[200], 0);
    // Buttons: bit 9 shuts the button off, bit 8 only the player's use of it.
    Execute(Command({126, 0x1 | 0x100}));
    EXPECT_EQ(TheInput.buttonEnabled[0], 1);
    EXPECT_EQ(TheInput.playerButtonEnabled[0], 0);
    Execute(Command({126, 0x80 | 0x200}));
    EXPECT_EQ(TheInput.upEnabled, 0);
    EXPECT_EQ(TheInput.playerUpEnabled, 0);
    EXPECT_EQ(TheInput.buttonEnabled[0], 1);
}

struct Drawn {
    int x = -1, y = -1, handle = -1, font = -1;
    std::int64_t colours[17] = {};
    int colourCalls = 0;
};
Drawn Draw;

TEST_F(MessageCommandsTest, StringInputBoxOfTheDeepestChild) {
    Draw = Drawn{};
    LineInputServices& s = GetLineInputServices();
    s.drawLineInput = [](int x, int y, int handle, int) {
        Draw.x = x;
        Draw.y = y;
        Draw.handle = handle;
        return 0;
    };
    s.setLineInputColors = [](const std::int64_t colours[17]) {
        std::memcpy(Draw.colours, colours, sizeof Draw.colours);
        ++Draw.colourCalls;
        return 0;
    };
    s.setDefaultFontType = [](int type) {
        Draw.font = type;
        return 0;
    };
    s.composeScreenColor = [](int r, int g, int b) {
        return static_cast<std::uint32_t>(r << 16 | g << 8 | b);
    };
    Game_DatabaseType colours;
    colours.fieldKinds = {kNumberFieldBase, kNumberFieldBase + 1, kNumberFieldBase + 2};
    colours.entries.assign(13, Game_DatabaseEntry{{0, 0, 0}, {}});
    colours.entries[10].numbers = {1, 2, 3};
    colours.entries[11].numbers = {-4, 5, 6};
    colours.entries[12].numbers = {7, 8, 9};
    TheSystemDatabase.types[12] = colours;
    WindowScale = 2;

    Game_Interpreter& parent = Load({});
    Game_Interpreter& child = parent.AddChild();
    // A parent with a line input and a running child shows nothing.
    parent.lineInputHandle = 4;
    parent.DrawStringInput();
    EXPECT_EQ(Draw.handle, -1);
    parent.lineInputHandle = 0;
    child.lineInputHandle = 9;
    parent.DrawStringInput();
    EXPECT_EQ(Draw.handle, 9);
    EXPECT_EQ(Draw.x, 0);
    const std::int64_t expected[17] = {0x010203, 0x010203, 0x000506, 0x010203, 0x070809, 0x010203,
                                       0x070809, 0,        0,        0,        -1,       -1,
                                       -1,       -1,       -1,       -1,       -1};
    for (int k = 0; k < 17; ++k) EXPECT_EQ(Draw.colours[k], expected[k]) << k;
    EXPECT_EQ(DatabaseAccessFailed, 0);
    child.lineInputHandle = 0;
    WindowScale = 1;
}

TEST_F(MessageCommandsTest, LineInputTextIsReadIntoABoundedBuffer) {
    EXPECT_EQ(ReadLineInputText(3), "");
    static std::size_t givenSize = 0;
    GetLineInputServices().getLineInputText = [](int, char* buffer, std::size_t size) {
        givenSize = size;
        // A line input that fills whatever room it is given.
        std::memset(buffer, 'x', size - 1);
        buffer[size - 1] = '\0';
        return 0;
    };
    const std::string text = ReadLineInputText(3);
    EXPECT_EQ(givenSize, kStringInputBufferSize);
    EXPECT_EQ(text.size(), kStringInputBufferSize - 1);
    EXPECT_EQ(GetInterpreterLinks().getLineInputText, &ReadLineInputText);
}

TEST_F(MessageCommandsTest, StringInputReadsTheTextTypedIntoTheLibrarysLineInput) {
    ResetLineInputServices();
    ZiDaz::SetNarrowCharCode(ZiDaz::CharEncoding::Utf8);
    ZiDaz::InitTextInputSystem();
    const std::int32_t handle = ZiDaz::CreateLineInputHandle(16, 1, 0, 0, 0, 0);
    ASSERT_GE(handle, 0);
    ASSERT_EQ(ZiDaz::ActivateLineInput(handle), 0);
    InterpreterLinks& links = GetInterpreterLinks();
    ASSERT_NE(links.checkLineInputState, nullptr);
    EXPECT_EQ(links.checkLineInputState(handle), 0);
    for (char16_t unit : std::u16string(u"名前x")) ZiDaz::QueueTypedCharacter(unit);
    ZiDaz::QueueTypedCharacter(8);   // Backspace
    ZiDaz::QueueTypedCharacter(13);  // Enter
    ZiDaz::ProcessLineInputKeys();
    EXPECT_EQ(links.checkLineInputState(handle), 1);
    EXPECT_EQ(links.getLineInputText(handle), "名前");
    links.deleteLineInputHandle(handle);
    EXPECT_EQ(links.checkLineInputState(handle), -1);
    EXPECT_EQ(ReadLineInputText(handle), "");
}

}  // namespace
