#include <gtest/gtest.h>

#include "PresentationTestSupport.h"
#include "runtime/shell/ReportCapture.h"

namespace {

using namespace presentation_test;

class GameTextTest : public PresentationTest {};

TEST_F(GameTextTest, RevealSpeedAndTheSpeedRunLimit) {
    Game_Text text;
    text.sourceText = "abcdefghijklmnop";
    text.Draw(TextLayoutPass, 1.0, 1.0, 0.0);
    text.Step();
    EXPECT_DOUBLE_EQ(text.revealPosition, 8.0);
    text.Draw(TextDrawingPass, 1.0, 1.0, 0.0);
    EXPECT_EQ(fake_.Drawn(), "abcdefgh");
    EXPECT_FALSE(text.IsFinished());
    text.Step();
    EXPECT_TRUE(text.IsFinished());

    // A speed run at byte 0 keeps the first step from passing it: 30 / k, at least 1.
    struct Case {
        int frameStep;
        double speed;
    };
    for (const Case c : {Case{1, 30.0}, Case{2, 15.0}, Case{60, 1.0}}) {
        FrameMultiplier = c.frameStep;
        Game_Text limited;
        limited.sourceText = Speed(500) + "abc";
        limited.Start();
        EXPECT_DOUBLE_EQ(limited.revealSpeed, c.speed) << c.frameStep;
    }
    // Without one the speed stays; the position never passes its limit.
    Game_Text plain;
    plain.sourceText = "abc";
    plain.revealSpeed = 1e12;
    plain.Start();
    EXPECT_DOUBLE_EQ(plain.revealSpeed, 1e12);
    plain.Step();
    EXPECT_DOUBLE_EQ(plain.revealPosition, kRevealPositionLimit);
}

TEST_F(GameTextTest, InstantTextStopsAtAKeyWaitUntilTheOwnerClearsIt) {
    Game_Text text;
    ShowWhole(text, "ab" + RunOf(0x0F) + "cd");
    EXPECT_EQ(fake_.Drawn(), "ab");
    EXPECT_EQ(text.paused, 1);
    fake_.calls.clear();
    text.Draw(TextDrawingPass, 1.0, 1.0, 0.0);
    EXPECT_EQ(fake_.Drawn(), "ab");
    text.paused = 0;
    fake_.calls.clear();
    text.Draw(TextDrawingPass, 1.0, 1.0, 0.0);
    EXPECT_EQ(fake_.Drawn(), "abcd");
    EXPECT_EQ(text.paused, 0);
}

TEST_F(GameTextTest, TimedWaitHoldsSixteenSixtiethsOncePerStart) {
    FrameMultiplier = 2;
    Game_Text text;
    text.sourceText = "a" + RunOf(0x0E) + "b";
    text.revealSpeed = 1000.0;
    text.Draw(TextLayoutPass, 1.0, 1.0, 0.0);
    int held = 0;
    for (int frame = 0; frame < 20; ++frame) {
        text.Step();
        fake_.calls.clear();
        text.Draw(TextDrawingPass, 1.0, 1.0, 0.0);
        if (fake_.Drawn() == "a") ++held;
    }
    EXPECT_EQ(held, 8);
    EXPECT_EQ(fake_.Drawn(), "ab");
}

TEST_F(GameTextTest, FontSizeClamp) {
    struct Case {
        int scale, version, platform, size, expected;
    };
    const Case cases[] = {
        {1, 314, 2, 1000, 128}, {2, 314, 2, 1000, 64}, {1, 220, 2, 0, 4},  {1, 219, 2, 0, 7},
        {2, 219, 2, 100, 64},   {2, 314, 2, 0, 2},     {1, 314, 1, 11, 9}, {1, 314, 1, 26, 25},
        {2, 314, 1, 13, 12},    {1, 314, 2, 11, 11},
    };
    for (const Case& c : cases) {
        WindowScale = c.scale;
        TheBasicData.settingNumbers[15] = static_cast<std::int16_t>(c.version);
        TheTextEngineSettings.platformId = c.platform;
        EXPECT_EQ(Game_Text::ClampFontSize(c.size), c.expected)
            << c.scale << " " << c.version << " " << c.size;
    }
}

TEST_F(GameTextTest, ColoursComeFromTheTableAndAreBlackOutsideIt) {
    Game_Text text;
    ShowWhole(text, "a" + Colour(3) + "b" + Colour(400) + "c" + RunOf(0x21, Digits(6, 3)) +
                        RunOf(0x24, Digits(99, 3)) + RunOf(0x28) + "d");
    const auto texts = fake_.Texts();
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[0].colour, ColourOf(0));
    EXPECT_EQ(texts[1].colour, ColourOf(3));
    // Beyond the table: the last entry.
    EXPECT_EQ(texts[2].colour, ColourOf(15));
    EXPECT_EQ(texts[2].edge, 0u);
    // The shadow first, one pixel down and right, in black (entry 98 is missing).
    EXPECT_EQ(texts[3].colour, 0u);
    EXPECT_EQ(texts[3].x, texts[4].x + 1);
    EXPECT_EQ(texts[3].y, texts[4].y + 1);
    EXPECT_EQ(texts[4].edge, ColourOf(5));

    // Without any colour type every colour is black, and nothing is read out of range.
    SetColours(0);
    Game_Text bare;
    fake_.calls.clear();
    ShowWhole(bare, "x" + Colour(2) + "y");
    ASSERT_EQ(fake_.Texts().size(), 2u);
    EXPECT_EQ(fake_.Texts()[1].colour, 0u);
}

TEST_F(GameTextTest, PenPlacementLinesAndAlignment) {
    Game_Text text;
    text.originX = 100;
    text.originY = 50;
    ShowWhole(text, "ab\n" + RunOf(0x15) + "c\n" + RunOf(0x14) + "d" + RunOf(0x50) + "\r");
    const auto t = fake_.Texts();
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0].x, 100);
    EXPECT_EQ(t[0].y, 50);
    EXPECT_EQ(t[1].x, 110);
    // Right-aligned: the widest line (the last, 30) minus this one (10).
    EXPECT_EQ(t[2].x, 120);
    EXPECT_EQ(t[2].y, 70);
    // Centred on the widest line itself: no offset. An unknown run stands as a character of
    // its two bytes.
    EXPECT_EQ(t[3].x, 100);
    EXPECT_EQ(t[4].text, std::string("\x02\x50", 2));
    int w = 0, h = 0;
    text.Measure(&w, &h);
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 60);
    Game_Text empty;
    empty.Measure(&w, &h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
}

TEST_F(GameTextTest, LeadingLineBreaksMoveThePenOnlyFromVersion203) {
    for (const int version : {202, 203}) {
        TheBasicData.settingNumbers[15] = static_cast<std::int16_t>(version);
        Game_Text text;
        fake_.calls.clear();
        ShowWhole(text, "\n\nA");
        ASSERT_EQ(fake_.Texts().size(), 1u);
        EXPECT_EQ(fake_.Texts()[0].y, version == 202 ? 0 : 40) << version;
    }
}

TEST_F(GameTextTest, ChoiceModeKeepsOneHeightPerChoiceAndSpacesOnlyFilledOnes) {
    TheBasicData.settingBytes[11] = 30;
    TheBasicData.settingBytes[12] = 8;
    TheGameSystem.choiceCount = 3;
    Game_Text text;
    text.choiceMode = 1;
    ShowWhole(text, "Yes\n\nNo" + RunOf(0x0F) + "!");
    const auto t = fake_.Texts();
    ASSERT_EQ(t.size(), 6u);
    // 20 for the first line and 8 of choice spacing; the empty choice adds nothing.
    EXPECT_EQ(t[3].y, 28);
    // No key waits in choices.
    EXPECT_EQ(text.paused, 0);
    EXPECT_EQ(text.lineHeights, (std::vector<std::int32_t>{20, 0, 20}));
}

TEST_F(GameTextTest, SizesScalesAndTheDoubledTextMode) {
    Game_Text text;
    ShowWhole(text, FontSize(30) + "a" + RunOf(0x27, Digits(4990, 2) + "\x01") + "b");
    const int list = FontCache::ListIndex(0, 0, 1);
    EXPECT_GT(TheFontCache.handleLists[list][30], 0);
    EXPECT_GT(TheFontCache.handleLists[list][20], 0);
    EXPECT_EQ(fake_.Texts()[1].y, 10);  // the smaller glyph sits on the line of the larger

    fake_.calls.clear();
    Game_Text scaled;
    scaled.sourceText = "ab";
    scaled.instantFlag = 1;
    scaled.Draw(TextLayoutPass, 1.0, 1.0, 0.0);
    scaled.Draw(TextDrawingPass, 2.0, 2.0, 0.0);
    ASSERT_EQ(fake_.Texts().size(), 2u);
    EXPECT_EQ(fake_.Texts()[1].kind, "scaled");
    EXPECT_EQ(fake_.Texts()[1].x, 20);

    TheFontCache.textScale = 200;
    fake_.calls.clear();
    Game_Text doubled;
    ShowWhole(doubled, RunOf(0x1D, Digits(5040, 2) + "\x01") + "c");
    ASSERT_EQ(fake_.Texts().size(), 1u);
    EXPECT_EQ(fake_.Texts()[0].kind, "scaled");
    EXPECT_EQ(fake_.Texts()[0].x, 40);  // 40 halved, then drawn at twice the size

    // Angles are honoured from version 230.
    TheFontCache.textScale = 100;
    fake_.calls.clear();
    Game_Text turned;
    turned.sourceText = "e";
    turned.instantFlag = 1;
    turned.Draw(TextLayoutPass, 1.0, 1.0, 0.0);
    turned.Draw(TextDrawingPass, 1.0, 1.0, 0.5);
    EXPECT_EQ(fake_.Texts()[0].kind, "rotated");
}

TEST_F(GameTextTest, UnusableFontHandlesAreReportedAndSkipped) {
    shell_test::ReportCapture capture;
    GetTextDrawLibrary().isFontHandleUsable = [](int) { return 0; };
    Game_Text text;
    ShowWhole(text, "ab");
    EXPECT_TRUE(fake_.Texts().empty());
    EXPECT_EQ(capture.reports().size(), 2u);
    // With the opacity cap the check is not made.
    TheTextEngineSettings.opacityCap = 1;
    text.Draw(TextDrawingPass, 1.0, 1.0, 0.0);
    EXPECT_EQ(fake_.Drawn(), "ab");
    // A drawing call that fails is reported and the walk goes on.
    GetTextDrawLibrary().drawText = [](int, int, const std::string&, std::uint32_t, int,
                                       std::uint32_t) { return -1; };
    capture.reports().clear();
    text.Draw(TextDrawingPass, 1.0, 1.0, 0.0);
    ASSERT_EQ(capture.reports().size(), 2u);
    EXPECT_EQ(capture.reports()[0].first, "Can't Draw Message.");
    EXPECT_EQ(capture.reports()[1].third, "b");
}

TEST_F(GameTextTest, RubyCentredOrSpreadAndWithoutCommaOnlyItsBase) {
    TheSystemState.rubyFontSize = 10;
    Game_Text wide;
    ShowWhole(wide, Ruby("A", "abc") + "z");
    auto t = fake_.Texts();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].text, "A");
    EXPECT_EQ(t[1].text, "abc");
    EXPECT_EQ(t[1].x, -10);  // (10 + 0) / 2 - 30 / 2
    EXPECT_EQ(t[1].colour, ColourOf(13));
    EXPECT_EQ(t[1].y, 20 - 10 - 20);
    EXPECT_EQ(t[2].text, "z");
    EXPECT_EQ(t[2].x, 10);

    fake_.calls.clear();
    Game_Text narrow;
    ShowWhole(narrow, Ruby("ABCD", "xy"));
    t = fake_.Texts();
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t[4].text, "x");
    EXPECT_EQ(t[4].x, 5);
    EXPECT_EQ(t[5].x, 25);

    fake_.calls.clear();
    Game_Text bare;
    ShowWhole(bare, RunOf(0x09) + "AB");
    EXPECT_EQ(fake_.Drawn(), "AB");

    fake_.calls.clear();
    Game_Text empty;
    ShowWhole(empty, Ruby("AB", "") + "c");
    EXPECT_EQ(fake_.Drawn(), "ABc");
}

TEST_F(GameTextTest, IconsAndImagesSitOnTheLineAndAdvanceThePen) {
    fake_.hasListFile = true;
    fake_.listFile = "icon0003.png\n";
    LoadTextIcons();
    Game_Text text;
    ShowWhole(text, "a" + Icon(3) + "b" + Icon(4) + Image("big.png") + "c");
    std::vector<DrawCall> graphs;
    for (const auto& c : fake_.calls) {
        if (c.kind == "graph") graphs.push_back(c);
    }
    ASSERT_EQ(graphs.size(), 2u);
    // The icon (16 by 16) stands on the 20-pixel line after "a".
    EXPECT_EQ(graphs[0].x, 10);
    EXPECT_EQ(graphs[0].y, 4);
    EXPECT_EQ(graphs[0].x2, 26);
    EXPECT_EQ(graphs[0].y2, 20);
    // A missing icon places nothing; the 64 by 32 image makes the line 32 high.
    EXPECT_EQ(graphs[1].x, 36);
    EXPECT_EQ(graphs[1].y, 0);
    EXPECT_EQ(graphs[1].y2, 32);
    EXPECT_EQ(fake_.Texts().back().x, 100);
}

TEST_F(GameTextTest, CutAndAnimatedImagesAndNearestFiltering) {
    Game_Text text;
    // Too short for a prefix: a plain name.
    ShowWhole(text, Image("<CUT/X1-2>a"));
    EXPECT_EQ(fake_.loadedImages.back(), "<CUT/X1-2>a");

    fake_.calls.clear();
    fake_.destroyed.clear();
    Game_Text cut;
    ShowWhole(cut, Image("<CUT/X2-10/Y3-7>big.png"));
    EXPECT_EQ(fake_.loadedImages.back(), "big.png");
    // Made and deleted in each pass.
    ASSERT_EQ(fake_.destroyed.size(), 2u);
    EXPECT_EQ(fake_.destroyed[0], 5000 + 2 * 100 + 3);

    // A 2 by 2 grid of 32 by 16 cells, a cell every 3 frames, wrapping after the fourth.
    const std::pair<int, int> frames[] = {
        {0, 5000}, {3, 5000 + 3200}, {6, 5016}, {11, 5000 + 3216}, {12, 5000}};
    for (const auto& [frame, cell] : frames) {
        TheSystemState.frameCount = frame;
        fake_.destroyed.clear();
        Game_Text anime;
        ShowWhole(anime, Image("<ANIME/X2/Y2/3>big.png", true));
        ASSERT_EQ(fake_.destroyed.size(), 2u);
        EXPECT_EQ(fake_.destroyed[1], cell) << frame;
    }
    // Nearest-neighbour filtering around the image, then the default filter or the owner's.
    EXPECT_EQ(fake_.lastFilter, TheTextEngineSettings.defaultTextureFilter);
    fake_.calls.clear();
    Game_Text owner;
    owner.filterMode = 1;
    ShowWhole(owner, "a" + Image("big.png", true));
    ASSERT_GE(fake_.calls.size(), 4u);
    EXPECT_EQ(fake_.calls[1].kind, "filter");
    EXPECT_EQ(fake_.calls[1].x, 0);
    EXPECT_EQ(fake_.calls[2].kind, "graph");
    EXPECT_EQ(fake_.calls[3].kind, "filter");
    EXPECT_EQ(fake_.calls[3].x, 0);

    // A missing image places nothing and moves nothing.
    fake_.missingImages = {"gone.png"};
    fake_.calls.clear();
    Game_Text missing;
    ShowWhole(missing, Image("gone.png") + "z");
    ASSERT_EQ(fake_.Texts().size(), 1u);
    EXPECT_EQ(fake_.Texts()[0].x, 0);
}

}  // namespace
