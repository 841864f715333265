#include "Main/DxASyncLoad.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "Main/DxHandle.h"
#include "Main/DxLog.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {
namespace {

TEST(ASyncLoadPacking, ItemsKeepTheirLayout) {
    const char16_t text[] = u"ab";
    const std::uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    int size = 0;
    PackJobInt(nullptr, &size, 0);
    PackJobInt64(nullptr, &size, 0);
    PackJobString(nullptr, &size, nullptr);
    PackJobString(nullptr, &size, text);
    PackJobBlock(nullptr, &size, bytes, 10);
    EXPECT_EQ(size, 4 + 8 + 2 + (2 + 6) + 12);

    std::vector<std::uint8_t> block(static_cast<std::size_t>(size));
    int offset = 0;
    PackJobInt(block.data(), &offset, -5);
    PackJobInt64(block.data(), &offset, 0x123456789ABCLL);
    PackJobString(block.data(), &offset, nullptr);
    PackJobString(block.data(), &offset, text);
    PackJobBlock(block.data(), &offset, bytes, 10);
    EXPECT_EQ(offset, size);
    EXPECT_EQ(block[14], 8);  // the string item's length: 2 + characters and terminator
    EXPECT_EQ(block[22], 12);

    offset = 0;
    EXPECT_EQ(UnpackJobInt(block.data(), &offset), -5);
    EXPECT_EQ(UnpackJobInt64(block.data(), &offset), 0x123456789ABCLL);
    EXPECT_EQ(UnpackJobString(block.data(), &offset), nullptr);
    EXPECT_EQ(offset, 14);
    const char16_t* unpacked = UnpackJobString(block.data(), &offset);
    char16_t copy[3];
    std::memcpy(copy, unpacked, sizeof(copy));
    EXPECT_EQ(std::u16string(copy), u"ab");
    EXPECT_EQ(std::memcmp(UnpackJobBlock(block.data(), &offset), bytes, 10), 0);
    EXPECT_EQ(offset, size);
}

// A job whose parameter block holds a pointer to a function object to run.
struct Task {
    std::function<void()> body;
};

void RunTask(ASyncLoadJob* job) {
    int offset = 0;
    auto* task = reinterpret_cast<Task*>(UnpackJobInt64(job->parameters, &offset));
    task->body();
    delete task;
}

ASyncLoadJob* MakeJob(std::function<void()> body) {
    ASyncLoadJob* job = AllocateASyncLoadJob(8);
    if (job == nullptr) return nullptr;
    job->run = &RunTask;
    int offset = 0;
    PackJobInt64(job->parameters, &offset,
                 reinterpret_cast<std::intptr_t>(new Task{std::move(body)}));
    return job;
}

class ASyncLoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EnableLogOutput(0);
        ASSERT_EQ(InitASyncLoad(QueryCurrentThreadId()), 0);
    }
    void TearDown() override {
        StopASyncLoadThreads();
        EndASyncLoad();
    }
    void Start(int processors) { ASSERT_EQ(StartASyncLoadThreads(processors), 0); }
    // Serves main-thread calls until the condition holds (or a generous time-out passes).
    template <typename F>
    bool ServeUntil(F condition) {
        for (int i = 0; i < 20000; ++i) {
            if (condition()) return true;
            ServeMainThreadCalls();
            SleepMilliseconds(1);
        }
        return condition();
    }
};

TEST_F(ASyncLoadTest, ActiveLimitFollowsTheProcessorCount) {
    Start(4);
    EXPECT_EQ(ASyncLoad.activeLimit, 3);
    LimitActiveLoadThreads(99);
    EXPECT_EQ(ASyncLoad.activeLimit, 32);
    LimitActiveLoadThreads(0);
    EXPECT_EQ(ASyncLoad.activeLimit, 1);
    StopASyncLoadThreads();
    Start(1);
    EXPECT_EQ(ASyncLoad.activeLimit, 1);
}

TEST_F(ASyncLoadTest, JobsFromSeveralThreadsAllRunInQueueingOrder) {
    Start(2);  // one load thread at a time: the run order is the order of queueing
    constexpr int kThreads = 5;
    constexpr int kPerThread = 100;
    std::mutex mutex;
    std::vector<std::vector<int>> ran(kThreads);
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                ASyncLoadJob* job = MakeJob([&, t, i] {
                    std::lock_guard lock(mutex);
                    ran[static_cast<std::size_t>(t)].push_back(i);
                });
                ASSERT_EQ(QueueASyncLoadJob(job), 0);
                // Jobs queued in one millisecond are served later slot first.
                SleepMilliseconds(2);
            }
        });
    }
    for (auto& p : producers) p.join();
    ASSERT_TRUE(ServeUntil([] { return CountQueuedASyncLoadJobs() == 0; }));
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(ran[static_cast<std::size_t>(t)].size(), static_cast<std::size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i)
            EXPECT_EQ(ran[static_cast<std::size_t>(t)][static_cast<std::size_t>(i)], i);
    }
    EXPECT_EQ(ASyncLoad.usedSlotEnd, 0);
}

TEST_F(ASyncLoadTest, ManyJobsRunConcurrentlyWithinTheLimit) {
    Start(4);
    std::atomic<int> done{0};
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(QueueASyncLoadJob(MakeJob([&] {
                      int now = ++running;
                      int seen = peak.load();
                      while (now > seen && !peak.compare_exchange_weak(seen, now)) {
                      }
                      std::this_thread::sleep_for(std::chrono::microseconds(200));
                      --running;
                      ++done;
                  })),
                  0);
    }
    ASSERT_TRUE(ServeUntil([&] { return done.load() == 500; }));
    ASSERT_TRUE(ServeUntil([] { return CountQueuedASyncLoadJobs() == 0; }));
    EXPECT_LE(peak.load(), 4);  // the limit, plus one while another waits for the main thread
    EXPECT_GE(peak.load(), 1);
}

struct CallRecord {
    MainThreadCallRequest request;
    std::uint32_t ranOn;
};

int RecordCallThread(MainThreadCallRequest* request) {
    reinterpret_cast<CallRecord*>(request)->ranOn = QueryCurrentThreadId();
    return 42;
}

TEST_F(ASyncLoadTest, MainThreadCallWaitsUntilTheMainThreadServesIt) {
    Start(2);
    std::atomic<int> result{0};
    std::atomic<bool> finished{false};
    CallRecord call{};
    call.request.function = &RecordCallThread;
    ASSERT_EQ(QueueASyncLoadJob(MakeJob([&] {
                  result = RequestMainThreadCall(&call.request);
                  finished = true;
              })),
              0);
    // Nobody serves yet: the load thread stays suspended with its call queued.
    auto queuedCalls = [] {
        AcquireTracedLock(&ASyncLoad.lock, "test", __LINE__);
        int count = ASyncLoad.queuedCallCount;
        ReleaseTracedLock(&ASyncLoad.lock);
        return count;
    };
    for (int i = 0; i < 50 && queuedCalls() == 0; ++i) SleepMilliseconds(1);
    SleepMilliseconds(20);
    EXPECT_FALSE(finished.load());
    EXPECT_EQ(queuedCalls(), 1);
    ASSERT_TRUE(ServeUntil([&] { return finished.load(); }));
    EXPECT_EQ(result.load(), 42);
    EXPECT_EQ(call.ranOn, QueryCurrentThreadId());

    // Only load threads may ask; the request is not queued.
    std::thread stranger([&] { result = RequestMainThreadCall(&call.request); });
    stranger.join();
    EXPECT_EQ(result.load(), -1);
    EXPECT_EQ(ASyncLoad.queuedCallCount, 0);
    EXPECT_EQ(ServeMainThreadCalls(), 0);
    std::thread offMain([&] { result = ServeMainThreadCalls(); });
    offMain.join();
    EXPECT_EQ(result.load(), -1);
}

std::uint32_t createdOn = 0;
HRESULT FakeCoCreateInstance(REFCLSID classId, void*, DWORD context, REFIID interfaceId,
                             void** object) {
    createdOn = QueryCurrentThreadId();
    *object =
        reinterpret_cast<void*>(static_cast<std::uintptr_t>(classId.Data1 + interfaceId.Data1));
    return static_cast<HRESULT>(context);
}

TEST_F(ASyncLoadTest, ComObjectsAreCreatedOnTheMainThread) {
    Start(2);
    EnsureSystemApiTable();
    auto saved = SystemApi.CoCreateInstance;
    SystemApi.CoCreateInstance = &FakeCoCreateInstance;
    std::atomic<HRESULT> result{-1};
    std::atomic<bool> finished{false};
    void* object = nullptr;
    ASSERT_EQ(QueueASyncLoadJob(MakeJob([&] {
                  CLSID classId{40, 0, 0, {}};
                  IID interfaceId{2, 0, 0, {}};
                  result = WinCoCreateInstance(classId, nullptr, 7, interfaceId, &object, 1);
                  finished = true;
              })),
              0);
    ASSERT_TRUE(ServeUntil([&] { return finished.load(); }));
    EXPECT_EQ(result.load(), 7);
    EXPECT_EQ(object, reinterpret_cast<void*>(42));
    EXPECT_EQ(createdOn, QueryCurrentThreadId());
    SystemApi.CoCreateInstance = nullptr;
    CLSID none{};
    EXPECT_EQ(WinCoCreateInstance(none, nullptr, 1, none, &object, 0), REGDB_E_CLASSNOTREG);
    SystemApi.CoCreateInstance = saved;
}

TEST_F(ASyncLoadTest, DeletingAndFinishingJobs) {
    Start(2);
    std::atomic<bool> release{false};
    std::atomic<bool> blockerRunning{false};
    ASSERT_EQ(QueueASyncLoadJob(MakeJob([&] {
                  blockerRunning = true;
                  while (!release) SleepMilliseconds(1);
              })),
              0);
    ASSERT_TRUE(ServeUntil([&] { return blockerRunning.load(); }));
    EXPECT_EQ(DeleteASyncLoadJob(0, 1), -2);  // running

    // With the only active thread busy, later jobs stay queued.
    std::atomic<int> ranQueued{0};
    ASSERT_EQ(QueueASyncLoadJob(MakeJob([&] { ++ranQueued; })), 0);
    ASSERT_EQ(QueueASyncLoadJob(MakeJob([&] { ++ranQueued; })), 0);
    int waiter = 0;
    ASyncLoad.jobs[1]->waiter = &waiter;
    // Deleting a queued job frees it (its Task leaks nothing: the test owns no other state).
    delete reinterpret_cast<Task*>(*reinterpret_cast<std::int64_t*>(ASyncLoad.jobs[1]->parameters));
    EXPECT_EQ(DeleteASyncLoadJob(1, 1), 0);
    EXPECT_EQ(waiter, 1);
    EXPECT_EQ(DeleteASyncLoadJob(1, 1), -1);

    // Finishing a queued job now runs it on the extra thread and returns after its deletion.
    EXPECT_EQ(FinishASyncLoadJobNow(2), 0);
    EXPECT_EQ(ranQueued.load(), 1);
    EXPECT_EQ(ASyncLoad.jobs[2], nullptr);
    EXPECT_EQ(ASyncLoad.usedSlotEnd, 1);  // shrunk past the trailing empty slots
    EXPECT_EQ(FinishASyncLoadJobNow(2), -1);

    // Finishing the running job waits for it.
    std::thread releaser([&] {
        SleepMilliseconds(30);
        release = true;
    });
    EXPECT_EQ(FinishASyncLoadJobNow(0), 0);
    EXPECT_TRUE(release.load());
    EXPECT_EQ(ASyncLoad.jobs[0], nullptr);
    EXPECT_EQ(ASyncLoad.usedSlotEnd, 0);
    releaser.join();
}

TEST_F(ASyncLoadTest, FinishingAJobNowOutlastsTheQuitMessage) {
    Start(2);
    std::atomic<bool> release{false};
    std::atomic<bool> blockerRunning{false};
    ASSERT_EQ(QueueASyncLoadJob(MakeJob([&] {
                  blockerRunning = true;
                  while (!release) SleepMilliseconds(1);
              })),
              0);
    ASSERT_TRUE(ServeUntil([&] { return blockerRunning.load(); }));
    std::atomic<bool> done{false};
    ASSERT_EQ(QueueASyncLoadJob(MakeJob([&] {
                  SleepMilliseconds(30);
                  done = true;
              })),
              0);
    // The quit message has come: the pump reports it at once, yet the caller still gets the job
    // done before it goes on to use what the job loaded.
    MainWindow.endRequested = 1;
    EXPECT_EQ(FinishASyncLoadJobNow(1), 0);
    MainWindow.endRequested = 0;
    EXPECT_TRUE(done.load());
    EXPECT_EQ(FinishASyncLoadJobNow(1), -1);  // deleted
    release = true;
}

TEST_F(ASyncLoadTest, JobsQueuedInTheSameMillisecondRunLaterSlotFirst) {
    Start(2);
    std::atomic<bool> release{false};
    std::atomic<bool> blockerRunning{false};
    std::mutex mutex;
    std::vector<int> order;
    ASSERT_EQ(QueueASyncLoadJob(MakeJob([&] {
                  blockerRunning = true;
                  while (!release) SleepMilliseconds(1);
              })),
              0);
    ASSERT_TRUE(ServeUntil([&] { return blockerRunning.load(); }));
    for (int attempt = 0; attempt < 50; ++attempt) {
        ASSERT_EQ(QueueASyncLoadJob(MakeJob([&] {
                      std::lock_guard lock(mutex);
                      order.push_back(1);
                  })),
                  0);
        ASSERT_EQ(QueueASyncLoadJob(MakeJob([&] {
                      std::lock_guard lock(mutex);
                      order.push_back(2);
                  })),
                  0);
        if (ASyncLoad.jobs[1]->timeQueued == ASyncLoad.jobs[2]->timeQueued) break;
        // Not in one millisecond: drop both and try again.
        for (int slot = 1; slot <= 2; ++slot) {
            delete reinterpret_cast<Task*>(
                *reinterpret_cast<std::int64_t*>(ASyncLoad.jobs[slot]->parameters));
            DeleteASyncLoadJob(slot, 1);
        }
    }
    release = true;
    ASSERT_TRUE(ServeUntil([] { return CountQueuedASyncLoadJobs() == 0; }));
    EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

TEST_F(ASyncLoadTest, AFullQueueRefusesAndFreesTheJob) {
    // No load threads: the jobs stay queued.
    for (int i = 0; i < kMaxASyncLoadJobs; ++i) {
        ASyncLoadJob* job = AllocateASyncLoadJob(0);
        ASSERT_NE(job, nullptr);
        ASSERT_EQ(QueueASyncLoadJob(job), 0);
    }
    EXPECT_EQ(CountQueuedASyncLoadJobs(), kMaxASyncLoadJobs);
    EXPECT_EQ(QueueASyncLoadJob(AllocateASyncLoadJob(16)), -1);  // freed: ASan sees no leak
    // A freed slot below the end is found again.
    ASSERT_EQ(DeleteASyncLoadJob(100, 0), 0);
    ASyncLoadJob* job = AllocateASyncLoadJob(0);
    ASSERT_EQ(QueueASyncLoadJob(job), 0);
    EXPECT_EQ(job->slotIndex, 100);
    for (int i = kMaxASyncLoadJobs - 1; i >= 0; --i) ASSERT_EQ(DeleteASyncLoadJob(i, 0), 0);
    EXPECT_EQ(ASyncLoad.usedSlotEnd, 0);
    EXPECT_EQ(ASyncLoad.jobCount, 0);
}

// Handle records loaded by jobs, deleted while the jobs are queued or running.
struct LoadedRecord {
    HandleHeader header;
    int value;
};

void LoadRecord(ASyncLoadJob* job) {
    int offset = 0;
    HandleValue handle = UnpackJobInt(job->parameters, &offset);
    SleepMilliseconds(UnpackJobInt(job->parameters, &offset));
    if (auto* record = reinterpret_cast<LoadedRecord*>(LookupHandleRecord(handle)))
        record->value = 1;
    FinishHandleASyncLoad(handle);
}

TEST_F(ASyncLoadTest, DeletingAllHandlesOfATypeWhileJobsRunLeavesNothing) {
    Start(4);
    constexpr int kType = 31;
    ASSERT_EQ(
        RegisterHandleType(kType, sizeof(LoadedRecord), 1024, nullptr, nullptr, nullptr, u"Loaded"),
        0);
    std::vector<HandleValue> handles;
    for (int i = 0; i < 200; ++i) {
        HandleValue handle = AllocateHandle(kType, 1, -1);
        ASSERT_GE(handle, 0);
        ASyncLoadJob* job = AllocateASyncLoadJob(8);
        job->run = &LoadRecord;
        int offset = 0;
        PackJobInt(job->parameters, &offset, handle);
        PackJobInt(job->parameters, &offset, i % 3);
        ASSERT_EQ(QueueASyncLoadJob(job), 0);
        LookupHandleRecord(handle)->jobIndex = job->slotIndex;
        handles.push_back(handle);
    }
    EXPECT_EQ(WaitHandleASyncLoad(handles[0]), 0);
    EXPECT_EQ(IsHandleLoading(handles[0]), 0);
    EXPECT_EQ(DeleteAllHandlesOfType(kType, nullptr), 0);
    EXPECT_EQ(HandleTypeTable[kType].count, 0);
    for (HandleValue h : handles) EXPECT_EQ(LookupHandleRecord(h), nullptr);
    ASSERT_TRUE(ServeUntil([] { return CountQueuedASyncLoadJobs() == 0; }));
    EXPECT_EQ(UnregisterHandleType(kType), 0);
}

}  // namespace
}  // namespace ZiDaz
