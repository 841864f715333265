#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Main/DxThread.h"
#include "Main/Windows/DxWinAPI.h"
#include "platform/Kernel32.h"

namespace {

using namespace ZiDaz;

TEST(TracedLock, ReentrantAndTracesTheLastAcquirer) {
    TracedLock lock;
    InitTracedLock(&lock);
    EXPECT_STREQ(lock.file, "");
    AcquireTracedLock(&lock, "first.cpp", 10);
    AcquireTracedLock(&lock, "second.cpp", 20);
    EXPECT_STREQ(lock.file, "second.cpp");
    EXPECT_EQ(lock.line, 20);
    EXPECT_EQ(lock.thread, QueryCurrentThreadId());
    ReleaseTracedLock(&lock);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        AcquireTracedLock(&lock, "other.cpp", 30);
        entered = true;
        ReleaseTracedLock(&lock);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(entered.load());  // still held once
    ReleaseTracedLock(&lock);
    other.join();
    EXPECT_TRUE(entered.load());
    EXPECT_STREQ(lock.file, "other.cpp");
    EXPECT_NE(lock.thread, QueryCurrentThreadId());

    std::string longName(600, 'n');
    longName[510] = 'x';
    AcquireTracedLock(&lock, longName.c_str(), 1);
    EXPECT_EQ(std::string(lock.file), longName.substr(0, 511));
    ReleaseTracedLock(&lock);
    DeleteTracedLock(&lock);
}

// Locks made and taken by several threads at once while the system table is still empty: each
// thread either fills the table or waits for it, and sees its entries once it sees it loaded.
TEST(TracedLock, FirstUsesFromSeveralThreadsLoadTheTableSafely) {
    ReleaseSystemApiTable();
    std::atomic<bool> go{false};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            TracedLock lock;
            InitTracedLock(&lock);
            AcquireTracedLock(&lock, "first.cpp", 1);
            ReleaseTracedLock(&lock);
            DeleteTracedLock(&lock);
            ++done;
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(done.load(), 8);
    EXPECT_EQ(SystemApi.loaded, 1);
}

TEST(TracedLock, NoLostUpdatesUnderEightThreads) {
    TracedLock lock;
    InitTracedLock(&lock);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                DX_LOCK(&lock);
                long seen = counter;
                counter = seen + 1;
                DX_UNLOCK(&lock);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 8 * 20000);
    DeleteTracedLock(&lock);
}

struct Job {
    std::atomic<int> runs{0};
    std::atomic<int> phase{0};
    WorkerThread* seenRecord = nullptr;
    void* seenParameter = nullptr;
};

void RunJob(WorkerThread* thread, void* parameter) {
    auto* job = static_cast<Job*>(parameter);
    job->seenRecord = thread;
    job->seenParameter = parameter;
    job->runs++;
    // Park like a load thread waiting for the main thread, then finish.
    job->phase = 1;
    SuspendCurrentThread();
    job->phase = 2;
}

TEST(WorkerThreads, StartSuspendedRunOnResumeAndParkThemselves) {
    WorkerThread thread{};
    EXPECT_EQ(WorkerThreadExists(&thread), 0);
    Job job;
    ASSERT_EQ(StartWorkerThread(&thread, &RunJob, &job), 0);
    EXPECT_EQ(WorkerThreadExists(&thread), 1);
    EXPECT_NE(thread.id, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(job.runs.load(), 0);
    // A resume reports 1 only once the thread has suspended itself; before that it is retried.
    while (ResumeWorkerThread(&thread) == 0) std::this_thread::yield();
    while (job.phase.load() != 1) std::this_thread::yield();
    EXPECT_EQ(job.runs.load(), 1);
    EXPECT_EQ(job.seenRecord, &thread);
    EXPECT_EQ(job.seenParameter, &job);
    while (ResumeWorkerThread(&thread) == 0) std::this_thread::yield();
    EXPECT_EQ(platform::kernel32::WaitForSingleObject(thread.handle, 2000), WAIT_OBJECT_0);
    EXPECT_EQ(job.phase.load(), 2);
    DWORD code = 1;
    platform::kernel32::GetExitCodeThread(thread.handle, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ResumeWorkerThread(&thread), 0);  // ended: nothing to resume
    CloseWorkerThread(&thread);
    EXPECT_EQ(WorkerThreadExists(&thread), 0);
    EXPECT_EQ(thread.handle, nullptr);
}

void SayDone(WorkerThread*, void* parameter) {
    static_cast<std::atomic<bool>*>(parameter)->store(true);
}

// A load thread tells its owner that it is done before it has ended; the library may then end and
// empty the system table while the thread is still on its way out.
TEST(WorkerThreads, EndAfterTheTableWasEmptiedBehindThem) {
    WorkerThread thread{};
    std::atomic<bool> done{false};
    ASSERT_EQ(StartWorkerThread(&thread, &SayDone, &done), 0);
    while (ResumeWorkerThread(&thread) == 0) std::this_thread::yield();
    // The table is emptied as soon as the function has finished, before the thread can exit.
    while (!done.load()) std::this_thread::yield();
    ReleaseSystemApiTable();
    EXPECT_EQ(platform::kernel32::WaitForSingleObject(thread.handle, 2000), WAIT_OBJECT_0);
    CloseWorkerThread(&thread);
}

void Nothing(WorkerThread*, void*) {}

TEST(WorkerThreads, PriorityLevelsMapToSystemPrioritiesAndOthersDoNothing) {
    WorkerThread thread{};
    ASSERT_EQ(StartWorkerThread(&thread, &Nothing, nullptr), 0);
    const int expected[] = {THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL,
                            THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_HIGHEST};
    for (int level = 0; level < 4; ++level) {
        SetWorkerThreadPriority(&thread, level);
        EXPECT_EQ(platform::kernel32::GetThreadPriority(thread.handle), expected[level]);
    }
    SetWorkerThreadPriority(&thread, 1);
    SetWorkerThreadPriority(&thread, 4);
    SetWorkerThreadPriority(&thread, -1);
    EXPECT_EQ(platform::kernel32::GetThreadPriority(thread.handle), THREAD_PRIORITY_BELOW_NORMAL);
    while (ResumeWorkerThread(&thread) == 0) std::this_thread::yield();
    platform::kernel32::WaitForSingleObject(thread.handle, 2000);
    CloseWorkerThread(&thread);
}

}  // namespace
