// Line input: handles and the typed-character queue, editing driven by keys and text injected as
// SDL events through the real window procedure and pump, drawing on the software screen, and the
// IME's composition and candidate lists.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "GraphTestSupport.h"
#include "Main/DuRadudAvuvur.h"
#include "Main/DxBaseImage.h"
#include "Main/DxChar.h"
#include "Main/DxFont.h"
#include "Main/DxFontDraw.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsDraw.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"
#include "platform/User32.h"

namespace {

using namespace ZiDaz;
namespace test = platform::user32test;
using velk_graph_test::GraphFixture;

std::u16string TextOf(HandleValue h) {
    LineInputRecord* r = FindLineInput(h);
    return r ? std::u16string(r->text, r->length) : u"<bad>";
}

// ---- Handles and queue (no window needed) ----

class LineInputTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetNarrowCharCode(CharEncoding::Utf8);
        InitTextInputSystem();
    }
    void TearDown() override { DeleteAllLineInputs(); }
};

TEST_F(LineInputTableTest, HandlesCarryTypeNineAndACheckCounterThatWrapsAfter254) {
    HandleValue first = CreateLineInputHandle(10, 0, 0, 0, 0, 0);
    ASSERT_GE(first, 0);
    EXPECT_EQ(first, static_cast<HandleValue>(0 | ((0 | 0x900) << 18)));
    EXPECT_EQ((first >> 26) & 0x1F, 9);
    ASSERT_EQ(DeleteLineInputHandle(first), 0);
    std::vector<int> checks;
    HandleValue last = -1;
    for (int i = 1; i <= 255; ++i) {
        last = CreateLineInputHandle(4, 0, 0, 0, 0, 0);
        ASSERT_GE(last, 0);
        checks.push_back((last >> 18) & 0xFF);
        if (i < 255) ASSERT_EQ(DeleteLineInputHandle(last), 0);
    }
    EXPECT_EQ(checks.front(), 1);
    EXPECT_EQ(checks[253], 254);
    EXPECT_EQ(checks.back(), 0);  // after 254 comes 0 again
    EXPECT_EQ(last, first);       // the same slot and check as the very first handle
    // A re-used slot refuses the old handle.
    ASSERT_EQ(DeleteLineInputHandle(last), 0);
    HandleValue again = CreateLineInputHandle(4, 0, 0, 0, 0, 0);
    EXPECT_NE(again, first);
    EXPECT_EQ(CheckLineInputState(first), -1);
    EXPECT_EQ(SetLineInputTextWide(u"x", first), -1);
    EXPECT_EQ(ActivateLineInput(first), -1);
    EXPECT_EQ(DeleteLineInputHandle(first), -1);
    EXPECT_EQ(CheckLineInputState(again), 0);
}

TEST_F(LineInputTableTest, CreationLimitsAndBadHandles) {
    EXPECT_EQ(CreateLineInputHandle(0, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(CreateLineInputHandle(-3, 0, 0, 0, 0, 0), -1);
    std::vector<HandleValue> all;
    for (int i = 0; i < kLineInputSlots; ++i)
        all.push_back(CreateLineInputHandle(2, 0, 0, 0, 0, 0));
    for (HandleValue h : all) ASSERT_GE(h, 0);
    EXPECT_EQ(CreateLineInputHandle(2, 0, 0, 0, 0, 0), -1);
    for (HandleValue bad : {-1, 0, 5, all[0] ^ (1 << 26), (all[0] & ~0x3FFFF) | 300})
        EXPECT_EQ(CheckLineInputState(bad), -1) << bad;
    EXPECT_EQ(ActivateLineInput(all[3]), 0);
    EXPECT_EQ(TextInputSystem.activeInput, all[3]);
    DeleteLineInputHandle(all[3]);
    EXPECT_EQ(TextInputSystem.activeInput, -1);
}

TEST_F(LineInputTableTest, QueueHolds1024UnitsAndAHighSurrogateWaitsForItsPair) {
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(QueueTypedCharacter(u'a'), 0) << i;
    EXPECT_TRUE(IsTypedQueueFull());
    EXPECT_EQ(QueueTypedCharacter(u'b'), -1);
    char16_t c[2];
    EXPECT_EQ(TakeTypedCharacter(c, 1), 1);
    EXPECT_EQ(QueueTypedCharacter(u'b'), 0);
    EXPECT_EQ(QueueTypedCharacter(u'c'), -1);
    ClearTypedCharacters();
    EXPECT_EQ(TakeTypedCharacter(c, 1), 0);
    // The ring wraps: fill past the end and read everything back in order.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 700; ++i)
            ASSERT_EQ(QueueTypedCharacter(static_cast<char16_t>(i + 1)), 0);
        for (int i = 0; i < 700; ++i) {
            ASSERT_EQ(TakeTypedCharacter(c, 1), 1);
            ASSERT_EQ(c[0], i + 1);
        }
    }
    QueueTypedCharacter(0xD83D);
    EXPECT_EQ(TakeTypedCharacter(c, 1), 0);  // the second half has not arrived
    EXPECT_EQ(TakeTypedCharacter(c, 0), 0);
    QueueTypedCharacter(0xDE00);
    EXPECT_EQ(TakeTypedCharacter(c, 0), 2);  // peek leaves it queued
    EXPECT_EQ(TakeTypedCharacter(c, 1), 2);
    EXPECT_EQ(c[0], 0xD83D);
    EXPECT_EQ(c[1], 0xDE00);
    EXPECT_EQ(TakeTypedCharacter(c, 1), 0);
}

TEST_F(LineInputTableTest, TextIsCutAtTheLimitAndReadBackWithinTheBuffer) {
    HandleValue h = CreateLineInputHandle(10, 0, 0, 0, 0, 0);
    ASSERT_EQ(SetLineInputText("あいうえおかきくけこさし", h), 0);
    EXPECT_EQ(TextOf(h), u"あいうえおかきくけこ");  // ten UTF-16 units, 30 bytes in UTF-8
    LineInputRecord* r = FindLineInput(h);
    EXPECT_EQ(r->cursor, 10);
    EXPECT_EQ(r->selectionStart, -1);
    char big[64];
    ASSERT_EQ(GetLineInputText(big, sizeof big, h), 0);
    EXPECT_STREQ(big, "あいうえおかきくけこ");
    // A short buffer is cut between characters and terminated, never written past.
    char small[12];
    std::memset(small, 'Z', sizeof small);
    char guard = small[11];
    ASSERT_EQ(GetLineInputText(small, 8, h), 0);
    EXPECT_STREQ(small, "あい");
    EXPECT_EQ(small[8], guard);
    EXPECT_EQ(GetLineInputText(small, sizeof small, h + 1), -1);
    SetNarrowCharCode(CharEncoding::ShiftJis);
    ASSERT_EQ(GetLineInputText(big, sizeof big, h), 0);
    EXPECT_EQ(std::strlen(big), 20u);
    SetNarrowCharCode(CharEncoding::Utf8);
}

TEST_F(LineInputTableTest, StateColoursAndActivation) {
    HandleValue h = CreateLineInputHandle(5, 1, 0, 0, 0, 0);
    EXPECT_EQ(TextInputSystem.imeAllowedByInput, 1);
    HandleValue single = CreateLineInputHandle(5, 0, 1, 0, 0, 0);
    EXPECT_EQ(TextInputSystem.imeAllowedByInput, 0);
    ASSERT_EQ(ActivateLineInput(h), 0);
    EXPECT_EQ(TextInputSystem.imeAllowedByInput, 1);
    LineInputRecord* r = FindLineInput(h);
    r->finished = r->cancelled = 1;
    EXPECT_EQ(CheckLineInputState(h), 2);
    r->cancelled = 0;
    EXPECT_EQ(CheckLineInputState(h), 1);
    ASSERT_EQ(ActivateLineInput(h), 0);  // a finished input activated again starts over
    EXPECT_EQ(CheckLineInputState(h), 0);
    ASSERT_EQ(ActivateLineInput(single), 0);
    EXPECT_EQ(TextInputSystem.imeAllowedByInput, 0);
    ASSERT_EQ(ActivateLineInput(-1), 0);
    EXPECT_EQ(TextInputSystem.activeInput, -1);

    std::int64_t colours[17];
    for (auto& c : colours) c = -1;
    TextInputSystem.colours[3] = TextInputSystem.colours[0] = 12345;
    TextInputSystem.colours[20] = 1;
    SetLineInputColors(colours);
    EXPECT_EQ(TextInputSystem.colours[0], 12345u);  // omitted: kept
    EXPECT_EQ(TextInputSystem.colours[3], ComposeScreenColor(0, 0, 0));
    EXPECT_EQ(TextInputSystem.colours[4], ComposeScreenColor(128, 128, 128));
    EXPECT_EQ(TextInputSystem.colours[5], ComposeScreenColor(255, 255, 255));
    EXPECT_EQ(TextInputSystem.colours[20], ComposeScreenColor(0, 0, 0));
    colours[2] = 777;  // parameter 3: composition background, and the frame when 11 is omitted
    colours[16] = 55;  // parameter 17 switches the composition edge on
    SetLineInputColors(colours);
    EXPECT_EQ(TextInputSystem.colours[8], 777u);
    EXPECT_EQ(TextInputSystem.colours[19], 777u);
    EXPECT_EQ(TextInputSystem.colours[7], 55u);
    EXPECT_EQ(TextInputSystem.compositionEdgeSwitch, 1);
}

// ---- Editing through the window procedure and the pump ----

class LineInputWindowTest : public GraphFixture {
  protected:
    void SetUp() override {
        GraphFixture::SetUp();
        StartSoftware(32);
        // Below Windows 10 the window procedure does not drop a repeated code within 40 ms.
        SystemReport.windowsVersionCode = 262;
        SDL_SetModState(KMOD_NONE);
    }
    void TearDown() override {
        SDL_SetModState(KMOD_NONE);
        SetNarrowCharCode(CharEncoding::Utf8);
        GraphFixture::TearDown();
    }
    static std::uint32_t WindowId() {
        return SDL_GetWindowID(test::SdlWindowOf(MainWindow.mainWindow));
    }
    static void Pump() {
        for (int i = 0; i < 2; ++i) PumpMessages();
    }
    static void Key(SDL_Scancode code, bool down) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.windowID = WindowId();
        e.key.keysym.scancode = code;
        e.key.keysym.mod = SDL_GetModState();
        test::InjectEvent(e);
    }
    static void Modifier(SDL_Scancode code, SDL_Keymod mod, bool down) {
        SDL_SetModState(
            static_cast<SDL_Keymod>(down ? (SDL_GetModState() | mod) : (SDL_GetModState() & ~mod)));
        Key(code, down);
        Pump();
    }
    static void Tap(SDL_Scancode code) {
        Key(code, true);
        Pump();
        Key(code, false);
        Pump();
    }
    static void Type(const std::string& utf8) {
        SDL_Event e{};
        e.type = SDL_TEXTINPUT;
        e.text.windowID = WindowId();
        std::strncpy(e.text.text, utf8.c_str(), sizeof e.text.text - 1);
        test::InjectEvent(e);
        Pump();
    }
    // Runs a key script: words separated by spaces.
    static void Run(const std::string& script) {
        std::istringstream in(script);
        std::string w;
        while (in >> w) {
            if (w == "Left")
                Tap(SDL_SCANCODE_LEFT);
            else if (w == "Right")
                Tap(SDL_SCANCODE_RIGHT);
            else if (w == "Up")
                Tap(SDL_SCANCODE_UP);
            else if (w == "Down")
                Tap(SDL_SCANCODE_DOWN);
            else if (w == "Home")
                Tap(SDL_SCANCODE_HOME);
            else if (w == "End")
                Tap(SDL_SCANCODE_END);
            else if (w == "PgUp")
                Tap(SDL_SCANCODE_PAGEUP);
            else if (w == "Back")
                Tap(SDL_SCANCODE_BACKSPACE);
            else if (w == "Del")
                Tap(SDL_SCANCODE_DELETE);
            else if (w == "Enter")
                Tap(SDL_SCANCODE_RETURN);
            else if (w == "Esc")
                Tap(SDL_SCANCODE_ESCAPE);
            else if (w == "Tab")
                Tap(SDL_SCANCODE_TAB);
            else if (w == "+Shift")
                Modifier(SDL_SCANCODE_LSHIFT, KMOD_LSHIFT, true);
            else if (w == "-Shift")
                Modifier(SDL_SCANCODE_LSHIFT, KMOD_LSHIFT, false);
            else if (w == "+Ctrl")
                Modifier(SDL_SCANCODE_LCTRL, KMOD_LCTRL, true);
            else if (w == "-Ctrl")
                Modifier(SDL_SCANCODE_LCTRL, KMOD_LCTRL, false);
            else if (w == "^A" || w == "^C" || w == "^X" || w == "^V") {
                Modifier(SDL_SCANCODE_LCTRL, KMOD_LCTRL, true);
                Tap(static_cast<SDL_Scancode>(SDL_SCANCODE_A + (w[1] - 'A')));
                Modifier(SDL_SCANCODE_LCTRL, KMOD_LCTRL, false);
            } else if (w.rfind("t:", 0) == 0) {
                // One text event per character, as an input method delivers typed keys.
                std::string t = w.substr(2);
                for (std::size_t i = 0; i < t.size();) {
                    std::size_t n = 1;
                    unsigned char b = static_cast<unsigned char>(t[i]);
                    if (b >= 0xF0)
                        n = 4;
                    else if (b >= 0xE0)
                        n = 3;
                    else if (b >= 0xC0)
                        n = 2;
                    Type(t.substr(i, n));
                    i += n;
                }
            } else {
                ADD_FAILURE() << "unknown word " << w;
            }
        }
    }
    static std::u16string Clipboard() {
        int size = ReadClipboardWideText(nullptr);
        if (size <= 0) return u"<none>";
        std::vector<char16_t> b(size / 2 + 2, 0);
        ReadClipboardWideText(b.data());
        return b.data();
    }
};

struct EditCase {
    const char* name;
    int maxLength;
    int options;  // bit 0 cancel, 1 single-byte, 2 numbers, 3 double-byte, 4 multi-line
    const char16_t* initial;
    int cursor;  // -1: at the end
    int selStart, selEnd;
    const char* script;
    const char16_t* text;
    int wantCursor;
    int wantSelStart, wantSelEnd;  // wantSelStart -1: none (end not checked)
    int state;
    std::int32_t encoding = CharEncoding::Utf8;
};

TEST_F(LineInputWindowTest, EditingKeysTypingAndFilters) {
    const EditCase cases[] = {
        {"typing", 20, 0, u"", -1, -1, 0, "t:ab t:c", u"abc", 3, -1, 0, 0},
        {"shift+left selects backwards", 20, 0, u"abcd", -1, -1, 0, "+Shift Left Left -Shift",
         u"abcd", 2, 4, 2, 0},
        {"left without shift drops the selection", 20, 0, u"abcd", 3, 1, 3, "Left", u"abcd", 2, -1,
         0, 0},
        {"shift+right extends from the start", 20, 0, u"abcd", 1, 1, 2, "+Shift Right Right",
         u"abcd", 3, 1, 3, 0},
        {"ctrl+shift+home selects to 0", 20, 0, u"abc", -1, -1, 0, "+Ctrl +Shift Home", u"abc", 0,
         3, 0, 0},
        {"ctrl+end", 20, 0, u"ab\ncd", 0, -1, 0, "+Ctrl End", u"ab\ncd", 5, -1, 0, 0},
        {"home goes to the line start", 20, 16, u"ab\ncd", 4, -1, 0, "Home", u"ab\ncd", 3, -1, 0,
         0},
        {"end stops at the line break", 20, 16, u"ab\ncd", 0, -1, 0, "End", u"ab\ncd", 2, -1, 0, 0},
        {"home at 0 keeps the selection", 20, 0, u"abc", 0, 0, 2, "Home", u"abc", 0, 0, 2, 0},
        {"backspace removes a pair", 20, 0, u"a😀", -1, -1, 0, "Back", u"a", 1, -1, 0, 0},
        {"left steps over a pair", 20, 0, u"a😀b", -1, -1, 0, "Left Left", u"a😀b", 1, -1, 0, 0},
        {"delete removes a pair", 20, 0, u"a😀b", 1, -1, 0, "Del", u"ab", 1, -1, 0, 0},
        {"delete at the end does nothing", 20, 0, u"ab", -1, -1, 0, "Del", u"ab", 2, -1, 0, 0},
        {"backspace deletes the selection", 20, 0, u"abcd", 1, 1, 3, "Back", u"ad", 1, -1, 0, 0},
        {"delete with a selection", 20, 0, u"abcd", 3, 3, 1, "Del", u"ad", 1, -1, 0, 0},
        {"tab and ctrl+a and page up are not text", 20, 0, u"", -1, -1, 0, "Tab ^A PgUp t:x", u"x",
         1, -1, 0, 0},
        {"enter finishes a single line", 20, 0, u"ab", -1, -1, 0, "Enter t:c", u"ab", 2, -1, 0, 1},
        {"enter breaks a multi-line input", 20, 16, u"ab", 1, -1, 0, "Enter", u"a\nb", 2, -1, 0, 0},
        {"escape without cancel is ignored", 20, 0, u"ab", -1, -1, 0, "Esc", u"ab", 2, -1, 0, 0},
        {"escape with cancel", 20, 1, u"ab", -1, -1, 0, "Esc", u"ab", 2, -1, 0, 2},
        {"numbers only", 20, 4, u"", -1, -1, 0, "t:-1-2.3.4a", u"-12.34", 6, -1, 0, 0},
        {"a digit over a selection", 20, 4, u"abc", 0, 0, 3, "t:1", u"1", 1, -1, 0, 0},
        {"a letter over a selection", 20, 4, u"abc", 0, 0, 3, "t:x", u"", 0, -1, 0, 0},
        {"single-byte only", 20, 2, u"", -1, -1, 0, "t:aあb", u"ab", 2, -1, 0, 0},
        {"double-byte only", 20, 8, u"", -1, -1, 0, "t:aあb", u"あ", 1, -1, 0, 0},
        {"full UTF-8 input drops from the end", 10, 0, u"", -1, -1, 0, "t:あいうえ", u"あいえ", 3,
         -1, 0, 0},
        {"ten ASCII characters in UTF-8", 10, 0, u"", -1, -1, 0, "t:abcdefghijk", u"abcdefghik", 10,
         -1, 0, 0},
        {"full CP932 input", 10, 0, u"", -1, -1, 0, "t:あいうえおか", u"あいうえか", 5, -1, 0, 0,
         CharEncoding::ShiftJis},
        {"typing into the middle of a full input", 5, 0, u"abcde", 0, -1, 0, "t:x", u"xabcd", 1, -1,
         0, 0},
        {"a character longer than the limit is dropped", 2, 0, u"ab", -1, -1, 0, "t:あ", u"ab", 2,
         -1, 0, 0},
        {"a surrogate pair is one character", 20, 0, u"", -1, -1, 0, "t:x😀 Left", u"x😀", 1, -1, 0,
         0},
        {"up on the first line clears the selection", 20, 16, u"abc\nde", 2, 0, 2, "Up", u"abc\nde",
         2, -1, 0, 0},
        {"shift+up on the first line changes nothing", 20, 16, u"abc\nde", 2, 0, 2, "+Shift Up",
         u"abc\nde", 2, 0, 2, 0},
        {"down keeps the column or ends the line", 30, 16, u"ab\ncdefg\nxyz", 8, -1, 0, "Down",
         u"ab\ncdefg\nxyz", 12, -1, 0, 0},
        {"down past an empty first line", 30, 16, u"\nabcd\nefgh", 3, -1, 0, "Down",
         u"\nabcd\nefgh", 8, -1, 0, 0},
        {"up keeps the column", 30, 16, u"abcdef\nxy", 9, -1, 0, "Up", u"abcdef\nxy", 2, -1, 0, 0},
        {"up from a line start", 30, 16, u"abc\ndef", 4, -1, 0, "Up", u"abc\ndef", 0, -1, 0, 0},
        {"down on the last line clears the selection", 30, 16, u"ab\ncd", 4, 3, 4, "Down",
         u"ab\ncd", 4, -1, 0, 0},
    };
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetNarrowCharCode(c.encoding);
        HandleValue h =
            CreateLineInputHandle(c.maxLength, c.options & 1, (c.options >> 1) & 1,
                                  (c.options >> 2) & 1, (c.options >> 3) & 1, (c.options >> 4) & 1);
        ASSERT_GE(h, 0);
        ASSERT_EQ(SetLineInputTextWide(c.initial, h), 0);
        LineInputRecord* r = FindLineInput(h);
        if (c.cursor >= 0) r->cursor = c.cursor;
        ASSERT_EQ(ActivateLineInput(h), 0);
        r->selectionStart = c.selStart;
        r->selectionEnd = c.selEnd;
        Run(c.script);
        EXPECT_EQ(TextOf(h), c.text);
        EXPECT_EQ(r->cursor, c.wantCursor);
        EXPECT_EQ(r->selectionStart, c.wantSelStart);
        if (c.wantSelStart != -1) EXPECT_EQ(r->selectionEnd, c.wantSelEnd);
        EXPECT_EQ(CheckLineInputState(h), c.state);
        SDL_SetModState(KMOD_NONE);
        Key(SDL_SCANCODE_LSHIFT, false);
        Key(SDL_SCANCODE_LCTRL, false);
        Pump();
        DeleteLineInputHandle(h);
        SetNarrowCharCode(CharEncoding::Utf8);
    }
}

TEST_F(LineInputWindowTest, CopyCutAndPasteGoThroughTheClipboard) {
    HandleValue h = CreateLineInputHandle(30, 0, 0, 0, 0, 0);
    SetLineInputTextWide(u"hello world", h);
    ActivateLineInput(h);
    Run("+Shift Left Left Left Left Left -Shift ^C");
    EXPECT_EQ(Clipboard(), u"world");
    EXPECT_EQ(FindLineInput(h)->selectionStart, 11);  // a copy keeps the selection
    Run("^X");
    EXPECT_EQ(TextOf(h), u"hello ");
    EXPECT_EQ(Clipboard(), u"world");
    Run("+Ctrl Home -Ctrl ^V");
    EXPECT_EQ(TextOf(h), u"worldhello ");
    EXPECT_EQ(FindLineInput(h)->cursor, 5);
    Run("+Shift Home -Shift");
    WriteClipboardWideText(u"x");
    Run("+Shift Del -Shift");  // Shift+Delete cuts
    EXPECT_EQ(TextOf(h), u"hello ");
    EXPECT_EQ(Clipboard(), u"world");
    // Line breaks and other control codes of a pasted text.
    WriteClipboardWideText(u"a\r\nb\tc\x01");
    SetLineInputTextWide(u"", h);
    Run("^V");
    EXPECT_EQ(TextOf(h), u"abc");
    DeleteLineInputHandle(h);
    HandleValue m = CreateLineInputHandle(30, 0, 0, 0, 0, 1);
    ActivateLineInput(m);
    WriteClipboardWideText(u"a\r\nb");
    Run("^V");
    EXPECT_EQ(TextOf(m), u"a\n\nb");
}

TEST_F(LineInputWindowTest, WindowsTenDropsARepeatedKeyWithin40Milliseconds) {
    SystemReport.windowsVersionCode = 268;
    HandleValue h = CreateLineInputHandle(30, 0, 0, 0, 0, 0);
    SetLineInputTextWide(u"abcd", h);
    ActivateLineInput(h);
    Key(SDL_SCANCODE_BACKSPACE, true);
    Key(SDL_SCANCODE_BACKSPACE, true);
    Pump();
    EXPECT_EQ(TextOf(h), u"abc");
    SDL_Delay(60);
    Key(SDL_SCANCODE_BACKSPACE, true);
    Pump();
    Key(SDL_SCANCODE_BACKSPACE, false);
    Pump();
    EXPECT_EQ(TextOf(h), u"ab");
}

// ---- Drawing on the software screen ----

class LineInputDrawTest : public LineInputWindowTest {
  protected:
    void SetUp() override {
        LineInputWindowTest::SetUp();
        target_ = CreateDrawableGraph(kW, kH, 0);
        ASSERT_GE(target_, 0);
        ASSERT_EQ(SetDrawTarget(target_), 0);
        std::int64_t colours[17];
        for (auto& c : colours) c = -1;
        colours[1] = ComposeScreenColor(0, 255, 0);     // cursor
        colours[12] = ComposeScreenColor(255, 0, 255);  // selection background
        SetLineInputColors(colours);
        font_ = ObtainDefaultFont();
        h_ = QueryFontSize(font_);
        lineHeight_ = h_ + 3 * (h_ / 10);
    }
    void Area(int left, int top, int right, int bottom) {
        ASSERT_EQ(SetDrawClipRect(RECT{left, top, right, bottom}), 0);
    }
    void Clear() {
        const RECT all{0, 0, kW, kH};
        SetDrawClipRect(all);
        PaintRectangle(0, 0, kW, kH, ComposeScreenColor(0, 0, 0), 1);
    }
    bool Is(int x, int y, int r, int g, int b) const {
        return (velk_graph_test::MemImgPixel(*GetGraphMemImg(target_), x, y) & 0xFFFFFF) ==
               (ComposeScreenColor(r, g, b) & 0xFFFFFF);
    }
    // The box that holds every pixel of the colour; false when there is none.
    bool Bounds(int r, int g, int b, RECT* out) const {
        bool any = false;
        *out = RECT{kW, kH, -1, -1};
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                if (Is(x, y, r, g, b)) {
                    any = true;
                    out->left = std::min<int>(out->left, x);
                    out->top = std::min<int>(out->top, y);
                    out->right = std::max<int>(out->right, x + 1);
                    out->bottom = std::max<int>(out->bottom, y + 1);
                }
        return any;
    }
    std::vector<std::uint32_t> Snapshot() const {
        std::vector<std::uint32_t> v;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                v.push_back(velk_graph_test::MemImgPixel(*GetGraphMemImg(target_), x, y));
        return v;
    }
    int Width(const char16_t* t, int n) const { return MeasureTextWidthWide(t, n, -1, font_, 0); }

    static constexpr int kW = 240, kH = 160;
    HandleValue target_ = -1, font_ = -1;
    int h_ = 0, lineHeight_ = 0;
};

TEST_F(LineInputDrawTest, TheCursorStandsAfterTheTextOnlyOnTheActiveInput) {
    ASSERT_GT(h_, 0);
    HandleValue h = CreateLineInputHandle(20, 0, 0, 0, 0, 0);
    SetLineInputTextWide(u"abc", h);
    Clear();
    Area(0, 0, kW, kH);
    EXPECT_EQ(DrawLineInput(10, 20, h, 1), 0);
    RECT box;
    EXPECT_FALSE(Bounds(0, 255, 0, &box));     // not active: no cursor
    EXPECT_TRUE(Bounds(255, 255, 255, &box));  // but the text
    ActivateLineInput(h);
    Clear();
    Area(0, 0, kW, kH);
    EXPECT_EQ(DrawLineInput(10, 20, h, 1), 0);
    ASSERT_TRUE(Bounds(0, 255, 0, &box));
    EXPECT_EQ(box.left, 10 + Width(u"abc", 3));
    EXPECT_EQ(box.right - box.left, 2);
    EXPECT_EQ(box.top, 20);
    EXPECT_EQ(box.bottom - box.top, h_);
    // An empty area or a finished handle draws nothing.
    Clear();
    Area(5, 5, 5, 40);
    std::vector<std::uint32_t> before = Snapshot();
    EXPECT_EQ(DrawLineInput(10, 20, h, 1), -1);
    FindLineInput(h)->finished = 1;
    Area(0, 0, kW, kH);
    EXPECT_EQ(DrawLineInput(10, 20, h, 1), -1);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(DrawLineInput(10, 20, h + 1, 1), -1);
}

TEST_F(LineInputDrawTest, TextWrapsAtTheAreaAndContinuesAtTheStartX) {
    HandleValue h = CreateLineInputHandle(40, 0, 0, 0, 0, 0);
    const std::u16string text = u"MMMMMMMMMMMMMMMMMMMM";
    SetLineInputTextWide(text.c_str(), h);
    LineInputRecord* r = FindLineInput(h);
    r->selectionStart = 0;
    r->selectionEnd = r->length;
    Clear();
    Area(0, 0, 120, kH);
    ASSERT_EQ(DrawLineInput(40, 10, h, 1), 0);
    RECT box;
    ASSERT_TRUE(Bounds(255, 0, 255, &box));
    EXPECT_EQ(box.left, 40);  // continuation lines start at x 40, not at the area's left
    EXPECT_LE(box.right, 120);
    EXPECT_GT(box.bottom, 10 + lineHeight_);  // more than one line
    EXPECT_TRUE(Is(40, 10 + lineHeight_ + 1, 255, 0, 255) ||
                Is(41, 10 + lineHeight_ + 1, 255, 0, 255));
    // A start x beyond the area's right edge wraps before drawing.
    ActivateLineInput(h);
    SetLineInputTextWide(u"", h);
    Clear();
    Area(0, 0, 120, kH);
    ASSERT_EQ(DrawLineInput(130, 10, h, 1), 0);
    ASSERT_TRUE(Bounds(0, 255, 0, &box));
    EXPECT_EQ(box.left, 10);
    EXPECT_EQ(box.top, 10 + lineHeight_);
}

TEST_F(LineInputDrawTest, ASelectionLooksTheSameMadeEitherWay) {
    HandleValue h = CreateLineInputHandle(40, 0, 0, 0, 0, 0);
    SetLineInputTextWide(u"abcdefg", h);
    LineInputRecord* r = FindLineInput(h);
    std::vector<std::uint32_t> shots[3];
    const int sel[3][2] = {{1, 5}, {5, 1}, {-1, 0}};
    for (int i = 0; i < 3; ++i) {
        r->selectionStart = sel[i][0];
        r->selectionEnd = sel[i][1];
        Clear();
        Area(0, 0, kW, kH);
        ASSERT_EQ(DrawLineInput(5, 5, h, 1), 0);
        shots[i] = Snapshot();
    }
    EXPECT_EQ(shots[0], shots[1]);
    EXPECT_NE(shots[0], shots[2]);
    r->selectionStart = 1;
    r->selectionEnd = 5;
    Clear();
    Area(0, 0, kW, kH);
    DrawLineInput(5, 5, h, 1);
    RECT box;
    ASSERT_TRUE(Bounds(255, 0, 255, &box));
    EXPECT_EQ(box.left, 5 + Width(u"a", 1));
    EXPECT_EQ(box.right, 5 + Width(u"abcde", 5));
}

TEST_F(LineInputDrawTest, AOneLineAreaScrollsOneCharacterAtATime) {
    HandleValue h = CreateLineInputHandle(60, 0, 0, 0, 0, 0);
    ActivateLineInput(h);
    LineInputRecord* r = FindLineInput(h);
    const int right = 100;
    std::u16string typed;
    int lastFirst = 0;
    for (int i = 0; i < 30; ++i) {
        typed += static_cast<char16_t>(u'a' + i % 26);
        SetLineInputTextWide(typed.c_str(), h);
        Clear();
        Area(0, 0, right, lineHeight_);
        ASSERT_EQ(DrawLineInput(0, 0, h, 1), 0);
        const int f = r->firstShown;
        EXPECT_GE(f, lastFirst);
        EXPECT_LE(f - lastFirst, 1) << i;  // one character a step
        lastFirst = f;
        // The cursor stays on the first line: the shown part fits, one more character would not.
        EXPECT_LE(Width(typed.c_str() + f, r->cursor - f), right) << i;
        if (f > 0) EXPECT_GT(Width(typed.c_str() + f - 1, r->cursor - f + 1), right) << i;
        RECT box;
        SetDrawClipRect(RECT{0, 0, kW, kH});
        ASSERT_TRUE(Bounds(0, 255, 0, &box));
        EXPECT_LT(box.top, lineHeight_);
    }
    EXPECT_GT(lastFirst, 0);
    // A text that fits again is drawn from its first character.
    SetLineInputTextWide(u"ab", h);
    r->firstShown = 2;
    Area(0, 0, right, lineHeight_);
    DrawLineInput(0, 0, h, 1);
    EXPECT_EQ(r->firstShown, 0);
}

// ---- IME ----

class LineInputImeTest : public LineInputDrawTest {
  protected:
    void SetUp() override {
        LineInputDrawTest::SetUp();
        SetDefaultFontSize(20);
        font_ = ObtainDefaultFont();
        h_ = QueryFontSize(font_);
        lineHeight_ = h_ + 3 * (h_ / 10);
        std::int64_t colours[17];
        for (auto& c : colours) c = -1;
        colours[4] = ComposeScreenColor(255, 128, 0);  // clause underline
        SetLineInputColors(colours);
        // Windows 10: typed characters from 0x20 up are dropped while the IME is open.
        SystemReport.windowsVersionCode = 268;
    }
    static void Editing(const std::string& utf8, int start) {
        SDL_Event e{};
        e.type = SDL_TEXTEDITING;
        e.edit.windowID = WindowId();
        std::strncpy(e.edit.text, utf8.c_str(), sizeof e.edit.text - 1);
        e.edit.start = start;
        e.edit.length = 0;
        test::InjectEvent(e);
        Pump();
    }
};

TEST_F(LineInputImeTest, ACompositionIsDrawnAtTheCursorAndItsCommitInsertedOnce) {
    ASSERT_EQ(h_, 20);
    HandleValue h = CreateLineInputHandle(40, 0, 0, 0, 0, 0);
    ASSERT_EQ(ActivateLineInput(h), 0);
    EXPECT_EQ(TextInputSystem.imeEnabled, 1);
    Type("ab");
    EXPECT_EQ(TextOf(h), u"ab");  // closed IME: typed characters come as WM_CHAR
    Editing("かな", 1);
    EXPECT_EQ(TextInputSystem.composing, 1);
    EXPECT_EQ(TextInputSystem.imeOpen, 1);
    EXPECT_EQ(std::u16string(TextInputSystem.composition), u"かな");
    EXPECT_EQ(TextInputSystem.compositionCursor, 1);
    EXPECT_EQ(TextInputSystem.clauseCount, 2);
    EXPECT_EQ(TextInputSystem.attributeCount, 2);
    EXPECT_EQ(TextOf(h), u"ab");

    Clear();
    Area(0, 0, kW, kH);
    ASSERT_EQ(DrawLineInput(10, 10, h, 1), 0);
    const int cx = 10 + Width(u"ab", 2);
    RECT box;
    ASSERT_TRUE(Bounds(255, 255, 0, &box));  // the composition's background
    EXPECT_EQ(box.left, cx);
    EXPECT_EQ(box.top, 10);
    EXPECT_EQ(box.right, cx + Width(u"かな", 2));
    EXPECT_EQ(box.bottom, 10 + h_);
    ASSERT_TRUE(Bounds(255, 128, 0, &box));  // one clause over the whole string, underlined
    EXPECT_EQ(box.left, cx);
    EXPECT_EQ(box.right, cx + Width(u"かな", 2));
    EXPECT_EQ(box.top, 10 + h_ + h_ / 10);
    EXPECT_EQ(box.bottom - box.top, h_ / 10);

    // The commit is a result string while the IME is open: inserted once.
    Type("仮名");
    Editing("", 0);
    EXPECT_EQ(TextOf(h), u"ab仮名");
    EXPECT_EQ(TextInputSystem.composing, 0);
    EXPECT_EQ(TextInputSystem.composition[0], 0);
    // A surrogate pair arrives as two units and is one character.
    Type("😀");
    EXPECT_EQ(TextOf(h), u"ab仮名😀");
    Run("Left");
    EXPECT_EQ(FindLineInput(h)->cursor, 4);
    // Plain typing while the IME is open also comes as result strings, once.
    Type("z");
    EXPECT_EQ(TextOf(h), u"ab仮名z😀");
    // Activating an input cancels a composition in progress.
    Editing("x", 1);
    EXPECT_EQ(TextInputSystem.composing, 1);
    ActivateLineInput(-1);
    ActivateLineInput(h);
    EXPECT_EQ(TextInputSystem.composing, 0);
    EXPECT_EQ(TextInputSystem.composition[0], 0);
}

TEST_F(LineInputImeTest, AClauseNoWiderThanTheThresholdIsNotUnderlined) {
    HandleValue h = CreateLineInputHandle(40, 0, 0, 0, 0, 0);
    ActivateLineInput(h);
    // Drawn narrowed to a tenth: the 20-pixel font's threshold is 4 pixels.
    const double sx = 0.1;
    const int one = MeasureTextWidthScaledWide(sx, u"か", 1, -1, font_, 0);
    const int five = MeasureTextWidthScaledWide(sx, u"かかかかか", 5, -1, font_, 0);
    ASSERT_LE(one, 4);
    ASSERT_GT(five, 4);
    RECT box;
    Editing("か", 1);
    Clear();
    Area(0, 0, kW, kH);
    ASSERT_EQ(DrawLineInputScaled(10, 10, 1, sx, 1.0, h, 1), 0);
    EXPECT_TRUE(Bounds(255, 255, 0, &box));
    EXPECT_FALSE(Bounds(255, 128, 0, &box));
    Editing("かかかかか", 5);
    Clear();
    Area(0, 0, kW, kH);
    ASSERT_EQ(DrawLineInputScaled(10, 10, 1, sx, 1.0, h, 1), 0);
    ASSERT_TRUE(Bounds(255, 128, 0, &box));
    EXPECT_EQ(box.right - box.left, five);
}

TEST_F(LineInputImeTest, ReactivatingTheWindowResynchronisesAnOpenIme) {
    HandleValue h = CreateLineInputHandle(40, 0, 0, 0, 0, 0);
    ActivateLineInput(h);
    Editing("かな", 2);
    ASSERT_EQ(TextInputSystem.composing, 1);
    HWND window = MainWindow.mainWindow;
    test::InjectWindowEvent(window, SDL_WINDOWEVENT_FOCUS_LOST);
    PumpMessages();
    ASSERT_EQ(IsMainWindowActive(), 0);
    std::thread activator([&] {
        SDL_Delay(50);
        test::InjectWindowEvent(window, SDL_WINDOWEVENT_FOCUS_GAINED);
    });
    EXPECT_EQ(WaitWhileWindowInactive(), 0);
    activator.join();
    Pump();
    // The composition was saved and cancelled, the IME closed and opened again; putting the
    // composition back is refused by this platform.
    EXPECT_EQ(TextInputSystem.imeResyncStep, 0);
    EXPECT_EQ(std::u16string(TextInputSystem.savedComposition), u"かな");
    EXPECT_EQ(TextInputSystem.composing, 0);
    EXPECT_EQ(TextInputSystem.composition[0], 0);
    EXPECT_EQ(TextInputSystem.imeOpen, 1);
    Type("x");
    EXPECT_EQ(TextOf(h), u"x");
}

TEST_F(LineInputImeTest, SwitchingTheImeOffDropsTheCompositionAndTypingComesAsCharacters) {
    HandleValue h = CreateLineInputHandle(40, 0, 0, 0, 0, 0);
    ActivateLineInput(h);
    Editing("かな", 2);
    ASSERT_EQ(TextInputSystem.imeOpen, 1);
    HandleValue single = CreateLineInputHandle(40, 0, 1, 0, 0, 0);
    ASSERT_EQ(ActivateLineInput(single), 0);
    Pump();
    EXPECT_EQ(TextInputSystem.imeEnabled, 0);
    EXPECT_EQ(TextInputSystem.imeOpen, 0);
    EXPECT_EQ(TextInputSystem.composing, 0);
    Editing("かな", 2);  // the detached context ignores the input method
    EXPECT_EQ(TextInputSystem.composing, 0);
    Type("ab");
    EXPECT_EQ(TextOf(single), u"ab");
    // With the IME requested by the game it stays on whatever the input.
    EnableImeInput(1);
    EXPECT_EQ(TextInputSystem.imeEnabled, 1);
    Editing("か", 1);
    EXPECT_EQ(TextInputSystem.composing, 1);
}

// Twelve candidates "c1" ... "c12" with the given selection.
std::vector<std::uint8_t> CandidateBlock(int count, int selection) {
    std::vector<std::u16string> texts;
    for (int i = 1; i <= count; ++i) {
        std::string t = "c" + std::to_string(i);
        texts.emplace_back(t.begin(), t.end());
    }
    std::size_t size = 24 + 4 * count;
    for (const auto& t : texts) size += 2 * (t.size() + 1);
    std::vector<std::uint8_t> b(size, 0);
    auto word = [&](std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); };
    word(0, static_cast<std::uint32_t>(size));
    word(8, count);
    word(12, selection);
    std::size_t at = 24 + 4 * count;
    for (int i = 0; i < count; ++i) {
        word(24 + 4 * i, static_cast<std::uint32_t>(at));
        std::memcpy(&b[at], texts[i].c_str(), 2 * texts[i].size());
        at += 2 * (texts[i].size() + 1);
    }
    return b;
}

void SetCandidates(const std::vector<std::uint8_t>& block) {
    auto* copy = static_cast<std::uint8_t*>(
        AllocateTrackedMemoryZeroed(block.size(), "LineInputTest", __LINE__));
    std::memcpy(copy, block.data(), block.size());
    if (TextInputSystem.candidateList) FreeTrackedMemory(TextInputSystem.candidateList);
    TextInputSystem.candidateList = copy;
    TextInputSystem.candidateListSize = static_cast<int>(block.size());
}

TEST_F(LineInputImeTest, TheCandidateWindowListsThePageOfTheSelection) {
    SetCandidates(CandidateBlock(12, 7));
    const RECT area{0, 0, 400, 400};
    CandidateWindowLayout l;
    ASSERT_TRUE(LayOutCandidateWindow(50, 30, 30, 20, area, 5, 0, 1.0, &l));
    EXPECT_EQ(l.pageSize, 5);
    EXPECT_EQ(l.pageStart, 5);
    const std::vector<std::u16string> lines = {u"1:c6", u"2:c7", u"3:c8", u"4:c9", u"5:c10"};
    EXPECT_EQ(l.lines, lines);
    EXPECT_EQ(l.counter, u"8/12");
    const int m = 2 * (20 / 3);
    EXPECT_EQ(l.box.left, 50);
    EXPECT_EQ(l.box.top, 30 + 20 + 10);
    EXPECT_EQ(l.box.bottom - l.box.top, 6 * 20 + m);
    EXPECT_EQ(l.box.right - l.box.left, m + l.widest);
    // Too low for the area: above the text line when there is room there...
    ASSERT_TRUE(LayOutCandidateWindow(50, 300, 300, 20, area, 5, 0, 1.0, &l));
    EXPECT_EQ(l.box.bottom, 300 - 10);
    EXPECT_EQ(l.box.bottom - l.box.top, 6 * 20 + m);
    // ... else it ends at the area's bottom.
    const RECT low{0, 0, 400, 170};
    ASSERT_TRUE(LayOutCandidateWindow(50, 100, 100, 20, low, 5, 0, 1.0, &l));
    EXPECT_EQ(l.box.bottom, 170);
    EXPECT_EQ(l.box.top, 170 - (6 * 20 + m));
    // Past the right edge it moves left.
    ASSERT_TRUE(LayOutCandidateWindow(390, 30, 30, 20, area, 5, 0, 1.0, &l));
    EXPECT_EQ(l.box.right, 400);
    // A short area lowers the page size.
    const RECT shortArea{0, 0, 400, 100};
    ASSERT_TRUE(LayOutCandidateWindow(50, 10, 10, 20, shortArea, 5, 0, 1.0, &l));
    EXPECT_EQ(l.pageSize, (100 - m) / 20 - 1);
    EXPECT_EQ(l.pageStart, 7 - 7 % l.pageSize);
    // A damaged block: a count larger than its offsets, an offset out of the block.
    std::vector<std::uint8_t> bad = CandidateBlock(3, 0);
    std::uint32_t huge = 100000, outside = 5000;
    std::memcpy(&bad[8], &huge, 4);
    std::memcpy(&bad[28], &outside, 4);
    SetCandidates(bad);
    ASSERT_TRUE(LayOutCandidateWindow(50, 30, 30, 20, area, 5, 0, 1.0, &l));
    EXPECT_LE(static_cast<int>(l.lines.size()), 5);
    EXPECT_EQ(l.lines[0], u"1:c1");
    EXPECT_EQ(l.lines[1], u"2:");
    // Every listed candidate empty: nothing is shown.
    SetCandidates(std::vector<std::uint8_t>(24 + 4 + 2, 0));
    std::uint32_t one = 1, size = 30, offset = 28;
    std::memcpy(&TextInputSystem.candidateList[0], &size, 4);
    std::memcpy(&TextInputSystem.candidateList[8], &one, 4);
    std::memcpy(&TextInputSystem.candidateList[24], &offset, 4);
    EXPECT_FALSE(LayOutCandidateWindow(50, 30, 30, 20, area, 5, 0, 1.0, &l));
}

TEST_F(LineInputImeTest, TheCandidateWindowIsDrawnBelowTheComposition) {
    HandleValue h = CreateLineInputHandle(40, 0, 0, 0, 0, 0);
    ActivateLineInput(h);
    Editing("か", 1);
    SetCandidates(CandidateBlock(12, 7));
    std::int64_t colours[17];
    for (auto& c : colours) c = -1;
    colours[10] = ComposeScreenColor(0, 0, 255);  // frame
    colours[11] = ComposeScreenColor(0, 64, 0);   // background
    SetLineInputColors(colours);
    Clear();
    Area(0, 0, kW, kH);
    ASSERT_EQ(DrawLineInput(10, 10, h, 1), 0);
    RECT frame;
    ASSERT_TRUE(Bounds(0, 0, 255, &frame));
    // Six rows and the margin do not fit below the line in this area, nor above it: the window
    // ends at the area's bottom.
    EXPECT_EQ(frame.top, kH - (6 * h_ + 2 * (h_ / 3)));
    EXPECT_EQ(frame.left, 10 + Width(u"か", 1));  // at the composition cursor
    // Without show, no window.
    Clear();
    Area(0, 0, kW, kH);
    ASSERT_EQ(DrawLineInput(10, 10, h, 0), 0);
    EXPECT_FALSE(Bounds(0, 0, 255, &frame));
}

TEST_F(LineInputImeTest, ReconversionAsksForTheSelectedTextsSize) {
    HandleValue h = CreateLineInputHandle(40, 0, 0, 0, 0, 0);
    SetLineInputTextWide(u"abcdef", h);
    ActivateLineInput(h);
    LineInputRecord* r = FindLineInput(h);
    r->selectionStart = 4;
    r->selectionEnd = 1;
    EXPECT_EQ(platform::user32::SendMessageW(MainWindow.mainWindow, WM_IME_REQUEST,
                                             IMR_RECONVERTSTRING, 0),
              40);
    r->selectionStart = -1;
    EXPECT_EQ(platform::user32::SendMessageW(MainWindow.mainWindow, WM_IME_REQUEST,
                                             IMR_RECONVERTSTRING, 0),
              6 * 2 + 34);
    // The platform refuses to set a composition string: the text stays.
    std::vector<std::uint8_t> block(6 * 2 + 34, 0);
    // A block sized for a shorter string is left alone.
    block[0] = 6 * 2 + 32;
    EXPECT_EQ(
        platform::user32::SendMessageW(MainWindow.mainWindow, WM_IME_REQUEST, IMR_RECONVERTSTRING,
                                       reinterpret_cast<LPARAM>(block.data())),
        0);
    EXPECT_EQ(block[32], 0);
    block[0] = 6 * 2 + 34;
    EXPECT_EQ(
        platform::user32::SendMessageW(MainWindow.mainWindow, WM_IME_REQUEST, IMR_RECONVERTSTRING,
                                       reinterpret_cast<LPARAM>(block.data())),
        0);
    EXPECT_EQ(TextOf(h), u"abcdef");
    std::uint32_t words[8];
    std::memcpy(words, block.data(), sizeof words);
    EXPECT_EQ(words[2], 6u);
    EXPECT_EQ(words[3], 32u);
    EXPECT_EQ(words[5], 12u);  // no selection: from the cursor, in bytes
    EXPECT_EQ(std::memcmp(block.data() + 32, u"abcdef", 12), 0);
}

// ---- The text-services sink and candidate-list elements ----

struct FakeElement : CandidateListElement {
    std::vector<std::u16string> texts;
    std::vector<bool> fails;
    UINT selection = 0;
    bool countFails = false;
    int freed = 0;
    HRESULT GetSelection(UINT* index) override {
        *index = selection;
        return 0;
    }
    HRESULT GetCount(UINT* count) override {
        *count = static_cast<UINT>(texts.size());
        return countFails ? static_cast<HRESULT>(0x80004005) : 0;
    }
    HRESULT GetString(UINT index, char16_t** text) override {
        if (fails[index]) return static_cast<HRESULT>(0x80004005);
        *text = new char16_t[texts[index].size() + 1];
        std::memcpy(*text, texts[index].c_str(), 2 * (texts[index].size() + 1));
        return 0;
    }
    void FreeString(char16_t* text) override {
        ++freed;
        delete[] text;
    }
};

FakeElement* gElement = nullptr;
CandidateListElement* LookUp(DWORD id, bool* isCandidateList) {
    *isCandidateList = id == 7;
    return id == 7 || id == 8 ? gElement : nullptr;
}

TEST_F(LineInputTableTest, CandidateElementsFillTheListAndTheSinkTracksThem) {
    FakeElement e;
    e.texts = {u"漢字", u"x", u"感じ"};
    e.fails = {false, true, false};
    e.selection = 2;
    ASSERT_EQ(ReadCandidateListElement(&e), 0);
    const std::uint8_t* b = TextInputSystem.candidateList;
    ASSERT_NE(b, nullptr);
    auto word = [&](int i) {
        std::uint32_t v;
        std::memcpy(&v, b + 4 * i, 4);
        return v;
    };
    const std::uint32_t size = 24 + 3 * 4 + 2 * 3 + 2 * 1 + 2 * 3;
    EXPECT_EQ(TextInputSystem.candidateListSize, static_cast<int>(size));
    EXPECT_EQ(word(0), size);
    EXPECT_EQ(word(2), 3u);
    EXPECT_EQ(word(3), 2u);
    EXPECT_EQ(word(6), 36u);
    EXPECT_EQ(word(7), 42u);
    EXPECT_EQ(word(8), 44u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(b + 36)), u"漢字");
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(b + 42)), u"");
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(b + 44)), u"感じ");
    EXPECT_EQ(e.freed, 2);
    e.countFails = true;
    ASSERT_EQ(ReadCandidateListElement(&e), 0);
    EXPECT_EQ(TextInputSystem.candidateListSize, 24);
    EXPECT_EQ(word(2), 0u);
    EXPECT_EQ(word(3), 0u);
    e.countFails = false;

    gElement = &e;
    auto* sink = new DE_DUDedivavAzid(&LookUp);
    BOOL show = TRUE;
    EXPECT_EQ(sink->BeginUIElement(9, &show), static_cast<HRESULT>(0x80070057));
    EXPECT_EQ(sink->BeginUIElement(8, &show), 0);  // not a candidate list
    EXPECT_EQ(show, FALSE);
    EXPECT_EQ(TextInputSystem.openCandidateElements, 0);
    EXPECT_EQ(sink->BeginUIElement(7, &show), 0);
    EXPECT_EQ(sink->BeginUIElement(7, &show), 0);
    EXPECT_EQ(TextInputSystem.openCandidateElements, 2);
    e.texts.push_back(u"幹事");
    e.fails.push_back(false);
    EXPECT_EQ(sink->UpdateUIElement(7), 0);
    EXPECT_EQ(word(2), 4u);
    EXPECT_EQ(sink->EndUIElement(7), 0);
    EXPECT_NE(TextInputSystem.candidateList, nullptr);
    EXPECT_EQ(sink->EndUIElement(7), 0);
    EXPECT_EQ(TextInputSystem.candidateList, nullptr);
    EXPECT_EQ(TextInputSystem.candidateListSize, 0);
    EXPECT_EQ(sink->AddRef(), 2u);
    EXPECT_EQ(sink->Release(), 1u);
    EXPECT_EQ(sink->Release(), 0u);  // deleted
    gElement = nullptr;
}

}  // namespace
