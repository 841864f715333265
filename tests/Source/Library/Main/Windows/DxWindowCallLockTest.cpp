#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {
namespace {

class LibraryCallLockTest : public ::testing::Test {
  protected:
    void TearDown() override { CloseLibraryCallLock(); }
    static int Count() {
        AcquireTracedLock(&CallLock.guard, "test", __LINE__);
        int count = CallLock.count;
        ReleaseTracedLock(&CallLock.guard);
        return count;
    }
    static void WaitForQueue(int count) {
        while (Count() < count) std::this_thread::yield();
    }
};

TEST_F(LibraryCallLockTest, NestsForItsOwner) {
    for (int i = 0; i < 3; ++i) EnterLibraryCallLock();
    EXPECT_EQ(CallLock.depth, 3);
    EXPECT_EQ(CallLock.owned, 1);
    for (int i = 0; i < 2; ++i) LeaveLibraryCallLock();
    EXPECT_EQ(CallLock.owned, 1);
    LeaveLibraryCallLock();
    EXPECT_EQ(CallLock.depth, 0);
    EXPECT_EQ(CallLock.owned, 0);
    EXPECT_EQ(CallLock.owner, -1);

    // Closing drops the events; the next enter makes them again.
    CloseLibraryCallLock();
    EXPECT_EQ(CallLock.eventsCreated, 0);
    EXPECT_EQ(CallLock.queue[0].event, nullptr);
    EnterLibraryCallLock();
    EXPECT_EQ(CallLock.eventsCreated, 1);
    EXPECT_NE(CallLock.queue[kLibraryCallLockQueueSize - 1].event, nullptr);
    LeaveLibraryCallLock();
}

TEST_F(LibraryCallLockTest, WaitersAreServedInArrivalOrder) {
    EnterLibraryCallLock();
    constexpr int kThreads = 8;
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            EnterLibraryCallLock();
            EnterLibraryCallLock();  // nested while owning
            {
                std::lock_guard lock(mutex);
                order.push_back(i);
            }
            LeaveLibraryCallLock();
            LeaveLibraryCallLock();
        });
        WaitForQueue(i + 1);  // thread i has queued before thread i + 1 starts
    }
    LeaveLibraryCallLock();
    // A newcomer while the woken head has not taken the lock yet queues behind the others.
    std::thread late([&] {
        EnterLibraryCallLock();
        {
            std::lock_guard lock(mutex);
            order.push_back(kThreads);
        }
        LeaveLibraryCallLock();
    });
    for (auto& t : threads) t.join();
    late.join();
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kThreads + 1));
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(CallLock.owned, 0);
    EXPECT_EQ(CallLock.count, 0);
}

TEST_F(LibraryCallLockTest, ExcludesOtherThreads) {
    std::atomic<int> inside{0};
    std::atomic<int> worst{0};
    long long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                EnterLibraryCallLock();
                int now = ++inside;
                if (now > worst) worst = now;
                ++counter;
                --inside;
                LeaveLibraryCallLock();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(worst.load(), 1);
    EXPECT_EQ(counter, 8000);
}

}  // namespace
}  // namespace ZiDaz
