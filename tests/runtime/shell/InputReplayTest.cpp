// The key-input replay: run-length recording, play-back with its seed checks and end report, and
// the save part (always written absent, read in full, damaged parts refused without allocating).
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/data/SaveStream.h"
#include "runtime/shell/GameRandom.h"
#include "runtime/shell/Game_InputReplay.h"
#include "tests/runtime/shell/ReportCapture.h"

namespace {

using shell_test::ReportCapture;

std::vector<std::uint8_t> Int32(std::int32_t v) {
    std::vector<std::uint8_t> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class InputReplayTest : public ::testing::Test {
  protected:
    void TearDown() override {
        ReplayStopRequested = 0;
        TheSaveStream.Release();
    }
};

TEST_F(InputReplayTest, ConstructionOpensWithTheGeneratorsSeed) {
    GameRandom(2, 4242);
    Game_InputReplay r;
    ASSERT_EQ(r.counts, (std::vector<std::uint8_t>{250}));
    EXPECT_EQ(r.values, (std::vector<std::int32_t>{4242}));
    // The first frame with nothing pressed extends a run of value 0.
    r.RecordFrame(0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(r.runLength, 1);
    EXPECT_EQ(r.counts.size(), 1u);
}

TEST_F(InputReplayTest, RunsAreCutAt240Frames) {
    Game_InputReplay r{Game_InputReplay::Quiet{}};
    for (int i = 0; i < 300; ++i) r.RecordFrame(1, 0, 0, 1, 0, 1, 0, 1);
    r.RecordFrame(0, 0, 0, 0, 0, 0, 0, 0);
    const std::int32_t v = 1 | 8 | 32 | 128;
    EXPECT_EQ(r.counts, (std::vector<std::uint8_t>{240, 60}));
    EXPECT_EQ(r.values, (std::vector<std::int32_t>{v, v}));
    EXPECT_EQ(r.runLength, 1);
}

TEST_F(InputReplayTest, FlushClosesTheOpenRun) {
    Game_InputReplay r{Game_InputReplay::Quiet{}};
    for (int i = 0; i < 480; ++i) r.RecordFrame(0, 0, 1, 0, 0, 0, 0, 0);
    EXPECT_EQ(r.counts, (std::vector<std::uint8_t>{240, 240}));
    EXPECT_EQ(r.runLength, 0);
    r.Flush();
    EXPECT_EQ(r.counts.size(), 2u);
    r.RecordFrame(0, 0, 0, 0, 0, 0, 0, 0);
    r.Flush();
    EXPECT_EQ(r.counts.back(), 1);
    EXPECT_EQ(r.runLength, 0);
    EXPECT_EQ(r.currentValue, 0);
}

TEST_F(InputReplayTest, SeedChecksAmongTheFirstTenEntriesAreNotCompared) {
    ReportCapture capture;
    GameRandom(2, 777);
    Game_InputReplay r{Game_InputReplay::Quiet{}};
    r.counts = {250, 251, 0, 0, 0, 0, 0, 0, 0, 0, 251, 251, 1};
    r.values = {1, 5, 0, 0, 0, 0, 0, 0, 0, 0, 6, 777, 0x11};
    std::uint8_t out[8];
    r.PlayFrame(out);
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.reports()[0].first, "乱数シードが違います 保存=6 現在=777");
    EXPECT_EQ(r.readIndex, 12u);
    const std::uint8_t expected[8] = {1, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(std::memcmp(out, expected, 8), 0);
    EXPECT_EQ(r.framesPlayed, 1);
    EXPECT_EQ(ReplayStopRequested, 0);
    // Then the data ends: reported once, stop requested, the frame still counted.
    r.PlayFrame(out);
    EXPECT_EQ(ReplayStopRequested, 1);
    EXPECT_EQ(r.framesPlayed, 2);
    ASSERT_EQ(capture.reports().size(), 2u);
    EXPECT_EQ(capture.reports()[1].first, "リプレイデータが終了しました");
}

TEST_F(InputReplayTest, AValueOfZeroStillUsesUpAFrame) {
    Game_InputReplay r{Game_InputReplay::Quiet{}};
    r.counts = {2, 252, 1};
    r.values = {0, 99, 0xFF};
    std::uint8_t out[8];
    std::memset(out, 9, 8);
    r.PlayFrame(out);
    EXPECT_EQ(std::memcmp(out, "\0\0\0\0\0\0\0\0", 8), 0);
    EXPECT_EQ(r.counts[0], 1);
    r.PlayFrame(out);
    r.PlayFrame(out);
    const std::uint8_t all[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(std::memcmp(out, all, 8), 0);
    EXPECT_EQ(r.readIndex, 2u);
}

TEST_F(InputReplayTest, SaveWritesTheAbsentForm) {
    TheSaveStream.BeginWrite(true);
    EXPECT_TRUE(Game_InputReplay::Save());
    EXPECT_EQ(TheSaveStream.position, 1);
    TheSaveStream.BeginWrite(false, 1);
    EXPECT_TRUE(Game_InputReplay::Save());
    ASSERT_EQ(TheSaveStream.position, 1);
    EXPECT_EQ(TheSaveStream.buffer[0], 0);
}

TEST_F(InputReplayTest, LoadReadsBothEntryForms) {
    Game_InputReplay r{Game_InputReplay::Quiet{}};
    r.runLength = 7;
    r.framesPlayed = 3;
    TheSaveStream.BeginRead(
        Concat({{1}, Int32(3), {250}, Int32(-5), {17, 0x81}, {251}, Int32(123456)}), true,
        SaveStream::kCurrentFormat);
    ASSERT_TRUE(r.Load());
    EXPECT_EQ(r.counts, (std::vector<std::uint8_t>{250, 17, 251}));
    EXPECT_EQ(r.values, (std::vector<std::int32_t>{-5, 0x81, 123456}));
    EXPECT_EQ(r.runLength, 7);
    EXPECT_EQ(r.framesPlayed, 3);
}

TEST_F(InputReplayTest, APartThatIsNotPresentChangesNothing) {
    for (std::uint8_t present : {0, 2, 255}) {
        Game_InputReplay r;
        const Game_InputReplay before = r;
        TheSaveStream.BeginRead({present, 9, 9, 9}, true, SaveStream::kCurrentFormat);
        EXPECT_TRUE(r.Load());
        EXPECT_EQ(r.counts, before.counts);
        EXPECT_EQ(r.values, before.values);
        EXPECT_EQ(TheSaveStream.position, 1);
    }
}

TEST_F(InputReplayTest, DamagedPartsSetTheOverrunFlag) {
    const std::vector<std::vector<std::uint8_t>> cases = {
        {},
        {1},
        {1, 2, 0},
        Concat({{1}, Int32(2), {5, 1}}),
        Concat({{1}, Int32(1), {250, 1, 2}}),
        // Counts that cannot fit are refused before anything is allocated.
        Concat({{1}, Int32(-1), {5, 1}}),
        Concat({{1}, Int32(0x7FFFFFFF), {5, 1, 5, 1}}),
        Concat({{1}, Int32(3), {5, 1, 5, 1, 5}}),
    };
    for (const auto& bytes : cases) {
        Game_InputReplay r{Game_InputReplay::Quiet{}};
        TheSaveStream.BeginRead(bytes, true, SaveStream::kCurrentFormat);
        EXPECT_FALSE(r.Load()) << bytes.size();
        EXPECT_TRUE(TheSaveStream.overrun);
        EXPECT_LE(r.counts.size(), bytes.size() / 2);
    }
}

}  // namespace
