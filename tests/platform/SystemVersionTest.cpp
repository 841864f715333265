#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/SystemVersion.h"

namespace {

using namespace platform::shcore;

constexpr HRESULT kOk = 0;

// The first library calls of several threads may each set the DPI awareness: one setting wins
// and the others are refused, without a race on the setting.
TEST(DpiAwareness, SetOncePerProcessEvenByManyThreadsAtOnce) {
    int before = -1;
    ASSERT_EQ(GetProcessDpiAwareness(nullptr, &before), kOk);
    std::atomic<int> accepted{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            if (SetProcessDpiAwareness(1) == kOk) ++accepted;
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(accepted.load(), before == 0 ? 1 : 0);
    int after = -1;
    ASSERT_EQ(GetProcessDpiAwareness(nullptr, &after), kOk);
    EXPECT_EQ(after, before == 0 ? 1 : before);
    EXPECT_NE(SetProcessDpiAwareness(2), kOk);
    EXPECT_NE(SetProcessDpiAwareness(3), kOk);
}

}  // namespace
