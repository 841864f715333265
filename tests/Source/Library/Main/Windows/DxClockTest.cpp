#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxWinAPI.h"
#include "platform/Modules.h"

namespace {

using namespace ZiDaz;

DWORD fakeTime = 0;
DWORD FakeTimeGetTime() {
    return fakeTime;
}

// Puts a fake multimedia timer and counter state in place for one test and restores them.
class ClockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureSystemApiTable();
        savedTime = SystemApi.timeGetTime;
        savedClock = HighResolutionClock;
    }
    void TearDown() override {
        SystemApi.timeGetTime = savedTime;
        HighResolutionClock = savedClock;
        platform::ResetHiddenModules();
        ResetMillisecondClockOrigin();
    }
    DWORD (*savedTime)();
    HighResolutionClockState savedClock;
};

TEST_F(ClockTest, TickConversionsAreExactAndTruncated) {
    HighResolutionClock = {1, 10'000'000};
    EXPECT_EQ(TicksToMicroseconds(std::uint64_t{1} << 40), 109'951'162'777);
    EXPECT_EQ(TicksToMicroseconds(10'000'000), 1'000'000);
    EXPECT_EQ(TicksToNanoseconds(3), 300);
    EXPECT_EQ(MillisecondsToTicks(16), 160'000);
    // Against a 128-bit reference over the whole range, at several frequencies.
    std::mt19937_64 random(7);
    for (std::uint64_t frequency : {std::uint64_t{1'000}, std::uint64_t{3'579'545},
                                    std::uint64_t{10'000'000}, std::uint64_t{2'400'000'000}}) {
        HighResolutionClock = {1, frequency};
        for (int i = 0; i < 2000; ++i) {
            std::uint64_t ticks = random() >> (random() % 64);
            auto reference = [&](std::uint64_t a, std::uint64_t b, std::uint64_t d) {
                return static_cast<std::int64_t>(static_cast<unsigned __int128>(a) * b / d);
            };
            ASSERT_EQ(TicksToMicroseconds(ticks), reference(ticks, 1'000'000, frequency));
            ASSERT_EQ(TicksToNanoseconds(ticks), reference(ticks, 1'000'000'000, frequency));
            std::uint64_t ms = ticks >> 20;
            ASSERT_EQ(MillisecondsToTicks(static_cast<std::int64_t>(ms)),
                      reference(ms, frequency, 1000));
        }
    }
    HighResolutionClock = {0, 0};
    EXPECT_EQ(TicksToMicroseconds(12345), 0);
    EXPECT_EQ(MillisecondsToTicks(20), 0);
}

TEST_F(ClockTest, MillisecondClockCountsFromItsFirstReadingAndNeverFreezes) {
    SystemApi.timeGetTime = &FakeTimeGetTime;
    // The system timer is close to its own 32-bit wrap, and later passes 2^31 ms of our run.
    fakeTime = 0xFFFFFF00u;
    ResetMillisecondClockOrigin();
    EXPECT_EQ(ReadMillisecondClock(), 0);
    fakeTime += 0x200;  // the system timer wrapped
    EXPECT_EQ(ReadMillisecondClock(), 0x200);
    int start = ReadMillisecondClock();
    fakeTime += 1000;
    EXPECT_EQ(MillisecondsElapsed(ReadMillisecondClock(), start), 1000);
    // 24.8 days of running: the 31-bit clock wraps to 0, and a span measured across it is right.
    fakeTime = 0xFFFFFF00u + 0x7FFFFFF0u;
    start = ReadMillisecondClock();
    EXPECT_EQ(start, 0x7FFFFFF0);
    fakeTime += 0x30;
    int now = ReadMillisecondClock();
    EXPECT_EQ(now, 0x20);
    EXPECT_GE(now, 0);
    EXPECT_EQ(MillisecondsElapsed(now, start), 0x30);
}

TEST_F(ClockTest, WithoutTheMultimediaTimerTheClocksReportFailure) {
    HighResolutionClock = {0, 0};
    SystemApi.timeGetTime = nullptr;
    HMODULE savedModule = SystemApi.winmmModule;
    SystemApi.winmmModule = nullptr;
    platform::HideModule("winmm.dll", true);  // the second load fails too
    EXPECT_EQ(ReadMillisecondClock(), -1);
    EXPECT_EQ(ReadMicrosecondClock(), -1);
    EXPECT_EQ(ReadTickCounter(), 0u);
    platform::HideModule("winmm.dll", false);
    EXPECT_GE(ReadMillisecondClock(), 0);  // loaded again on demand
    EXPECT_NE(SystemApi.winmmModule, nullptr);
    if (savedModule != nullptr) FreeLibrary(savedModule);
}

TEST_F(ClockTest, MicrosecondAndTickClocksFollowTheCounter) {
    ASSERT_EQ(QueryHighResolutionClock(), 1);
    EXPECT_EQ(HighResolutionClock.frequency, 10'000'000u);
    std::int64_t a = ReadMicrosecondClock();
    std::uint64_t t = ReadTickCounter();
    SleepMilliseconds(5);
    std::int64_t b = ReadMicrosecondClock();
    EXPECT_GE(b - a, 5000);
    EXPECT_LT(b - a, 500'000);
    EXPECT_GE(TicksToMicroseconds(ReadTickCounter() - t), 5000);
    LocalDateTime now{};
    EXPECT_EQ(ReadLocalDateTime(&now), 0);
    EXPECT_GE(now.year, 2024);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_LE(now.second, 59);
}

int pumpCalls = 0;
int quitAfter = -1;
int CountingPump() {
    ++pumpCalls;
    return pumpCalls == quitAfter ? 1 : 0;
}

TEST_F(ClockTest, WaitPumpsAndSleepsThenSpinsTheLastFourMilliseconds) {
    QueryHighResolutionClock();
    SetWaitMessagePump(&CountingPump);
    using Clock = std::chrono::steady_clock;
    pumpCalls = 0;
    quitAfter = -1;
    auto start = Clock::now();
    EXPECT_EQ(WaitPumpingMessages(3), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(3));
    EXPECT_EQ(pumpCalls, 0);

    start = Clock::now();
    EXPECT_EQ(WaitPumpingMessages(20), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(20));
    EXPECT_GT(pumpCalls, 0);
    EXPECT_LE(pumpCalls, 17);  // one per millisecond slept, at most

    pumpCalls = 0;
    quitAfter = 2;  // the quit message arrives on the second pump
    start = Clock::now();
    EXPECT_EQ(WaitPumpingMessages(200), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(pumpCalls, 2);

    HighResolutionClock = {0, 0};  // no counter: nothing converts to ticks, so no wait at all
    pumpCalls = 0;
    start = Clock::now();
    WaitPumpingMessages(50);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_EQ(pumpCalls, 0);
    SetWaitMessagePump(nullptr);
}

}  // namespace
