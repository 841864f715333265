#include "runtime/shell/GameRandom.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/Kernel32.h"

namespace {

TEST(GameRandom, FromSeedOneFollowsTheMinimalStandardSequence) {
    EXPECT_EQ(GameRandom(2, 1), 1u);
    const std::uint32_t expected[] = {16807,     282475249, 1622650073, 984943658,  1144108930,
                                      470211272, 101027544, 1457850878, 1458777923, 2007237709};
    // The tenth raw value, 2007237709, is above 2,000,000,000 and is stepped over.
    for (int i = 0; i < 9; ++i) EXPECT_EQ(GameRandom(0, 0), expected[i]) << "step " << i;
    EXPECT_EQ(GameRandom(0, 0), ParkMillerStep(2007237709u));
}

TEST(GameRandom, TenThousandRawStepsGiveThePublishedCheckValue) {
    std::uint32_t state = 1;
    for (int i = 0; i < 10000; ++i) state = ParkMillerStep(state);
    EXPECT_EQ(state, 1043618065u);
}

// The game's sequence is the raw sequence with every value above 2,000,000,000 left out.
TEST(GameRandom, SkipsExactlyTheValuesAboveTwoBillion) {
    const std::uint32_t seed = 123456789;
    GameRandom(2, seed);
    std::uint32_t raw = seed;
    int skipped = 0;
    for (int i = 0; i < 200000; ++i) {
        do {
            raw = ParkMillerStep(raw);
            skipped += raw > 2000000000u;
        } while (raw > 2000000000u);
        std::uint32_t value = GameRandom(0, 0);
        ASSERT_EQ(value, raw) << "step " << i;
        ASSERT_GE(value, 1u);
    }
    EXPECT_GT(skipped, 0);
}

TEST(GameRandom, ReadingLeavesTheStateAndASavedStateContinuesTheSequence) {
    GameRandom(2, 42);
    GameRandom(0, 0);
    std::uint32_t saved = GameRandom(1, 999);
    EXPECT_EQ(GameRandom(1, 0), saved);
    EXPECT_EQ(GameRandom(7, 5), saved);  // any mode but 0 and 2 only reads
    std::vector<std::uint32_t> first;
    for (int i = 0; i < 5; ++i) first.push_back(GameRandom(0, 0));
    GameRandom(2, saved);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(GameRandom(0, 0), first[i]);
}

TEST(GameRandom, AZeroResultIsReplacedByTheTickCount) {
    std::uint32_t before = platform::kernel32::GetTickCount();
    std::uint32_t reseeded = GameRandom(2, 0);
    std::uint32_t after = platform::kernel32::GetTickCount();
    EXPECT_GE(reseeded, before);
    EXPECT_LE(reseeded, after);
    EXPECT_EQ(GameRandom(1, 0), reseeded);

    // 2147483647 is the modulus itself: its next value is 0, which reseeds as well.
    EXPECT_EQ(GameRandom(2, 2147483647u), 2147483647u);
    before = platform::kernel32::GetTickCount();
    reseeded = GameRandom(0, 0);
    after = platform::kernel32::GetTickCount();
    EXPECT_GE(reseeded, before);
    EXPECT_LE(reseeded, after);
}

}  // namespace
