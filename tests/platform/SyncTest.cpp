#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Kernel32.h"

namespace {

using namespace platform::kernel32;

TEST(CriticalSections, ReentrantAndNoLostUpdatesFromEightThreads) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                EnterCriticalSection(&section);
                EnterCriticalSection(&section);  // re-entered by the owner
                long seen = counter;
                counter = seen + 1;
                LeaveCriticalSection(&section);
                LeaveCriticalSection(&section);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 8 * 20000);

    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    std::thread([&] { EXPECT_FALSE(TryEnterCriticalSection(&section)); }).join();  // still held
    LeaveCriticalSection(&section);
    std::thread([&] {
        EXPECT_TRUE(TryEnterCriticalSection(&section));
        LeaveCriticalSection(&section);
    }).join();
    DeleteCriticalSection(&section);
}

TEST(Events, AutomaticResetReleasesOneWaiterManualResetReleasesAll) {
    for (BOOL manual : {FALSE, TRUE}) {
        HANDLE event = CreateEventA(nullptr, manual, FALSE, nullptr);
        std::atomic<int> released{0};
        std::atomic<int> started{0};
        std::vector<std::thread> waiters;
        // The signal comes well inside every waiter's time, however slowly the threads start (a
        // loaded machine or a sanitizer): an auto-reset event still releases only one of them.
        for (int i = 0; i < 4; ++i) {
            waiters.emplace_back([&] {
                ++started;
                if (WaitForSingleObject(event, 500) == WAIT_OBJECT_0) ++released;
            });
        }
        while (started.load() < 4) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SetEvent(event);
        for (auto& w : waiters) w.join();
        EXPECT_EQ(released.load(), manual ? 4 : 1) << "manual " << manual;
        EXPECT_EQ(WaitForSingleObject(event, 0), manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
        ResetEvent(event);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
        CloseHandle(event);
    }
}

TEST(Waits, TimeOutsAnyAndAllAndBadHandles) {
    HANDLE a = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE b = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    HANDLE both[] = {a, b};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(a, 20), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));

    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);  // a wait for all took nothing
    SetEvent(a);
    SetEvent(b);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);  // lowest index first
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
    SetEvent(a);
    SetEvent(b);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);  // both were reset

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        SetEvent(b);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 2000), WAIT_OBJECT_0 + 1);
    setter.join();

    CloseHandle(a);
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForMultipleObjects(0, both, FALSE, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(a));
    CloseHandle(b);
}

TEST(Semaphores, CountDownOnWaitsAndRefuseToPassTheirMaximum) {
    EXPECT_EQ(CreateSemaphoreA(nullptr, 3, 2, nullptr), nullptr);
    HANDLE semaphore = CreateSemaphoreA(nullptr, 2, 3, nullptr);
    ASSERT_NE(semaphore, nullptr);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 3, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_EQ(previous, 0);
    std::atomic<int> taken{0};
    std::vector<std::thread> takers;
    for (int i = 0; i < 5; ++i) {
        takers.emplace_back([&] {
            if (WaitForSingleObject(semaphore, 100) == WAIT_OBJECT_0) ++taken;
        });
    }
    for (auto& t : takers) t.join();
    EXPECT_EQ(taken.load(), 3);
    CloseHandle(semaphore);
}

}  // namespace
