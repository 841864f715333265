#include "Main/DxASyncLoad.h"

#include <cstring>

#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"

namespace ZiDaz {

ASyncLoadState ASyncLoad;

namespace {

constexpr const char* kSourceFile = "DxASyncLoad";

// Which of two readings of the 31-bit millisecond clock is earlier: negative when a is.
int CompareClock(int a, int b) {
    return MillisecondsElapsed(a, b) >= 0x40000000 ? -1 : a == b ? 0 : 1;
}

// Fields that a thread polls before it takes the lock (the stop flag, the used-slot end, the
// hand-over flag) are read with Peek and written with Publish; the stop flag is also written
// without the lock, so it is read with Peek everywhere.
int Peek(const int& flag) {
    return __atomic_load_n(&flag, __ATOMIC_ACQUIRE);
}
void Publish(int& flag, int value) {
    __atomic_store_n(&flag, value, __ATOMIC_RELEASE);
}

void Lock(int line) {
    AcquireTracedLock(&ASyncLoad.lock, kSourceFile, line);
}
void Unlock() {
    ReleaseTracedLock(&ASyncLoad.lock);
}

int ThreadIndexOf(const WorkerThread* thread) {
    auto* record = reinterpret_cast<const LoadThreadRecord*>(thread);
    return static_cast<int>(record - ASyncLoad.threads);
}

// The record of the calling thread, or -1 when it is not one of the 33 load threads.
int CallingThreadIndex() {
    std::uint32_t id = QueryCurrentThreadId();
    for (int i = 0; i <= kExtraLoadThreadIndex; ++i) {
        const LoadThreadRecord& t = ASyncLoad.threads[i];
        if (WorkerThreadExists(const_cast<WorkerThread*>(&t.thread)) != 0 && t.thread.id == id) {
            return i;
        }
    }
    return -1;
}

bool HasUnstartedJob() {
    for (int i = 0; i < ASyncLoad.usedSlotEnd; ++i) {
        const ASyncLoadJob* job = ASyncLoad.jobs[i];
        if (job != nullptr && job->started == 0) return true;
    }
    return false;
}

// The job a load thread should run next: the not-started job queued earliest, on equal times the
// one in the later slot. -1 when none.
int OldestUnstartedJob() {
    int best = -1;
    for (int i = 0; i < ASyncLoad.usedSlotEnd; ++i) {
        const ASyncLoadJob* job = ASyncLoad.jobs[i];
        if (job == nullptr || job->started != 0) continue;
        if (best < 0 || CompareClock(job->timeQueued, ASyncLoad.jobs[best]->timeQueued) <= 0)
            best = i;
    }
    return best;
}

// Wake step 2's choice among the 32 load threads, or -1.
int ChooseThreadToWake(bool idleAllowed) {
    int best = -1;
    for (int i = 0; i < kLoadThreadCount; ++i) {
        const LoadThreadRecord& t = ASyncLoad.threads[i];
        if (WorkerThreadExists(const_cast<WorkerThread*>(&t.thread)) == 0) continue;
        if (t.exited || !t.sleeping || !t.runningJob || t.waitingForMainThread) continue;
        if (t.currentJob == nullptr) continue;
        if (best < 0 || CompareClock(t.currentJob->timeQueued,
                                     ASyncLoad.threads[best].currentJob->timeQueued) < 0) {
            best = i;
        }
    }
    if (best >= 0 || !idleAllowed) return best;
    for (int i = 0; i < kLoadThreadCount; ++i) {
        const LoadThreadRecord& t = ASyncLoad.threads[i];
        if (WorkerThreadExists(const_cast<WorkerThread*>(&t.thread)) == 0) continue;
        if (t.exited || !t.sleeping || t.waitingForMainThread) continue;
        if (best < 0 || CompareClock(t.idleSince, ASyncLoad.threads[best].idleSince) < 0) best = i;
    }
    return best;
}

// WakeASyncLoadThreads' body; the caller holds the lock.
void WakeLocked(int extraAllowance) {
    // 1. A thread whose main-thread call was served goes on first.
    for (int i = 0; i <= kExtraLoadThreadIndex; ++i) {
        LoadThreadRecord& t = ASyncLoad.threads[i];
        if (WorkerThreadExists(&t.thread) == 0) continue;
        if (t.exited || !t.sleeping || !t.runningJob || !t.suspendedForCall ||
            t.waitingForMainThread) {
            continue;
        }
        if (ResumeWorkerThread(&t.thread) != 0) {
            t.suspendedForCall = 0;
            --ASyncLoad.suspendedForCallCount;
            t.sleeping = 0;
            ++ASyncLoad.runningCount;
        }
        break;
    }
    // 2. Fill up to the active limit. An idle thread is woken only when it has something to do
    // (a job nobody has started, or the stop request): waking one for nothing would make it wake
    // the next one for nothing, round and round while a long job runs.
    bool idleAllowed = Peek(ASyncLoad.stopFlag) != 0 || HasUnstartedJob();
    int lastTried = -1;
    int failures = 0;
    while (ASyncLoad.runningCount < ASyncLoad.activeLimit + extraAllowance) {
        int chosen = ChooseThreadToWake(idleAllowed);
        if (chosen < 0) return;
        LoadThreadRecord& t = ASyncLoad.threads[chosen];
        if (ResumeWorkerThread(&t.thread) != 0) {
            t.sleeping = 0;
            if (t.suspendedForCall) {
                t.suspendedForCall = 0;
                --ASyncLoad.suspendedForCallCount;
            }
            ++ASyncLoad.runningCount;
            failures = 0;
            continue;
        }
        // Not suspended yet: it is on its way to sleep.
        failures = chosen == lastTried ? failures + 1 : 1;
        lastTried = chosen;
        if (failures >= 3) return;
    }
}

void FreeJobSlot(int slotIndex) {
    ASyncLoadJob* job = ASyncLoad.jobs[slotIndex];
    if (job->waiter != nullptr) *job->waiter = 1;
    FreeTrackedMemory(job);
    ASyncLoad.jobs[slotIndex] = nullptr;
    --ASyncLoad.jobCount;
    while (ASyncLoad.usedSlotEnd > 0 && ASyncLoad.jobs[ASyncLoad.usedSlotEnd - 1] == nullptr) {
        Publish(ASyncLoad.usedSlotEnd, ASyncLoad.usedSlotEnd - 1);
    }
}

// Parks the calling load thread (index) until another thread resumes it.
void SleepLoadThread(int index) {
    LoadThreadRecord& t = ASyncLoad.threads[index];
    t.sleeping = 1;
    t.idleSince = ReadMillisecondClock();
    --ASyncLoad.runningCount;
}

std::uint16_t ReadUInt16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void WriteUInt16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

int InitASyncLoad(std::uint32_t mainThreadId) {
    if (ASyncLoad.initialised != 0) return -1;
    WriteLogTextUtf16(u"非同期読み込み処理の初期化...");
    WriteLogTextUtf16(u"成功\n");
    ASyncLoad.mainThreadId = mainThreadId;
    InitTracedLock(&ASyncLoad.lock);
    ASyncLoad.initialised = 1;
    return 0;
}

int StartASyncLoadThreads(int logicalProcessorCount) {
    ASyncLoad.threadCount = kLoadThreadCount;
    ASyncLoad.activeLimit = logicalProcessorCount - 1 < 1 ? 1 : logicalProcessorCount - 1;
    for (int i = 0; i <= kExtraLoadThreadIndex; ++i) {
        LoadThreadRecord& t = ASyncLoad.threads[i];
        std::memset(&t, 0, sizeof(t));
        t.sleeping = 1;
        t.idleSince = ReadMillisecondClock();
        if (StartWorkerThread(&t.thread, &RunASyncLoadWorker, nullptr) != 0) return -1;
        SetWorkerThreadPriority(&t.thread, i == kExtraLoadThreadIndex ? 2 : 1);
    }
    SleepMilliseconds(16);
    return 0;
}

int LimitActiveLoadThreads(int count) {
    if (ASyncLoad.initialised == 0) {
        ASyncLoad.activeLimit = count;
        return 0;
    }
    Lock(__LINE__);
    ASyncLoad.activeLimit = count < 1 ? 1 : count > kLoadThreadCount ? kLoadThreadCount : count;
    Unlock();
    return 0;
}

int StopASyncLoadThreads() {
    Publish(ASyncLoad.stopFlag, 1);
    // The extra thread leaves too, so that a stopped pool holds no threads at all.
    for (int i = 0; i <= kExtraLoadThreadIndex; ++i) {
        LoadThreadRecord& t = ASyncLoad.threads[i];
        if (WorkerThreadExists(&t.thread) == 0) continue;
        for (;;) {
            Lock(__LINE__);
            bool exited = t.exited != 0;
            if (!exited) {
                if (i == kExtraLoadThreadIndex) {
                    if (t.sleeping && ResumeWorkerThread(&t.thread) != 0) {
                        t.sleeping = 0;
                        ++ASyncLoad.runningCount;
                    }
                } else if (ASyncLoad.runningCount == 0) {
                    WakeLocked(0);
                }
            }
            Unlock();
            if (exited) break;
            ServeMainThreadCalls();
            SleepMilliseconds(1);
        }
        CloseWorkerThread(&t.thread);
    }
    Publish(ASyncLoad.stopFlag, 0);
    return 0;
}

int EndASyncLoad() {
    if (ASyncLoad.initialised == 0) return -1;
    DeleteTracedLock(&ASyncLoad.lock);
    ASyncLoad.initialised = 0;
    return 0;
}

int IsMainThread() {
    return QueryCurrentThreadId() == ASyncLoad.mainThreadId ? 1 : 0;
}

ASyncLoadJob* AllocateASyncLoadJob(int parameterBytes) {
    if (parameterBytes < 0) return nullptr;
    std::size_t size = sizeof(ASyncLoadJob) + static_cast<std::size_t>(parameterBytes);
    auto* job = static_cast<ASyncLoadJob*>(AllocateTrackedMemory(size, kSourceFile, __LINE__));
    if (job == nullptr) {
        WriteLogFormatUtf16(u"非同期読み込みデータを格納するメモリ領域 %dByte の確保に失敗しました",
                            static_cast<int>(size));
        return nullptr;
    }
    std::memset(job, 0, sizeof(ASyncLoadJob));
    job->slotIndex = -1;
    job->parameters = reinterpret_cast<std::uint8_t*>(job + 1);
    return job;
}

int PackJobInt(std::uint8_t* block, int* offset, std::int32_t value) {
    if (block != nullptr) std::memcpy(block + *offset, &value, 4);
    *offset += 4;
    return 0;
}

int PackJobInt64(std::uint8_t* block, int* offset, std::int64_t value) {
    if (block != nullptr) std::memcpy(block + *offset, &value, 8);
    *offset += 8;
    return 0;
}

int PackJobString(std::uint8_t* block, int* offset, const char16_t* text) {
    int bytes = 0;
    if (text != nullptr) {
        int units = 0;
        while (text[units] != 0) ++units;
        bytes = (units + 1) * 2;
    }
    if (block != nullptr) {
        WriteUInt16(block + *offset, static_cast<std::uint16_t>(2 + bytes));
        if (bytes != 0) std::memcpy(block + *offset + 2, text, static_cast<std::size_t>(bytes));
    }
    *offset += 2 + bytes;
    return 0;
}

int PackJobBlock(std::uint8_t* block, int* offset, const void* data, int size) {
    if (block != nullptr) {
        WriteUInt16(block + *offset, static_cast<std::uint16_t>(size + 2));
        if (size > 0) std::memcpy(block + *offset + 2, data, static_cast<std::size_t>(size));
    }
    *offset += 2 + size;
    return 0;
}

std::int32_t UnpackJobInt(const std::uint8_t* block, int* offset) {
    std::int32_t value;
    std::memcpy(&value, block + *offset, 4);
    *offset += 4;
    return value;
}

std::int64_t UnpackJobInt64(const std::uint8_t* block, int* offset) {
    std::int64_t value;
    std::memcpy(&value, block + *offset, 8);
    *offset += 8;
    return value;
}

const char16_t* UnpackJobString(const std::uint8_t* block, int* offset) {
    int length = ReadUInt16(block + *offset);
    const std::uint8_t* characters = block + *offset + 2;
    *offset += length;
    return length == 2 ? nullptr : reinterpret_cast<const char16_t*>(characters);
}

const std::uint8_t* UnpackJobBlock(const std::uint8_t* block, int* offset) {
    int length = ReadUInt16(block + *offset);
    const std::uint8_t* bytes = block + *offset + 2;
    *offset += length;
    return bytes;
}

int QueueASyncLoadJob(ASyncLoadJob* job) {
    Lock(__LINE__);
    if (ASyncLoad.jobCount >= kMaxASyncLoadJobs) {
        Unlock();
        WriteLogFormatUtf16(u"非同期読み込みデータの数が許容量を越えました終了します");
        FreeTrackedMemory(job);
        return -1;
    }
    int slot = ASyncLoad.usedSlotEnd;
    if (slot < kMaxASyncLoadJobs) {
        Publish(ASyncLoad.usedSlotEnd, slot + 1);
    } else {
        for (slot = 0; ASyncLoad.jobs[slot] != nullptr; ++slot) {
        }
    }
    job->slotIndex = slot;
    job->started = 0;
    job->waiter = nullptr;
    job->timeQueued = ReadMillisecondClock();
    ASyncLoad.jobs[slot] = job;
    ++ASyncLoad.jobCount;
    WakeLocked(0);
    Unlock();
    return 0;
}

int DeleteASyncLoadJob(int slotIndex, int onlyIfNotStarted) {
    if (slotIndex < 0 || slotIndex >= kMaxASyncLoadJobs) return -1;
    Lock(__LINE__);
    ASyncLoadJob* job = ASyncLoad.jobs[slotIndex];
    int result = 0;
    if (job == nullptr) {
        result = -1;
    } else if (onlyIfNotStarted != 0 && job->started != 0) {
        result = -2;
    } else {
        FreeJobSlot(slotIndex);
    }
    Unlock();
    return result;
}

int CountQueuedASyncLoadJobs() {
    Lock(__LINE__);
    int count = ASyncLoad.jobCount;
    Unlock();
    return count;
}

int FinishASyncLoadJobNow(int slotIndex) {
    if (IsMainThread() == 0 || slotIndex < 0 || slotIndex >= kMaxASyncLoadJobs) return -1;
    Lock(__LINE__);
    ASyncLoadJob* job = ASyncLoad.jobs[slotIndex];
    if (job == nullptr) {
        Unlock();
        return -1;
    }
    if (job->started != 0) {
        int deleted = 0;
        job->waiter = &deleted;
        Unlock();
        for (;;) {
            Lock(__LINE__);
            bool done = deleted != 0;
            Unlock();
            if (done) return 0;
            ServeMainThreadCalls();
            SleepMilliseconds(0);
        }
    }
    LoadThreadRecord& extra = ASyncLoad.threads[kExtraLoadThreadIndex];
    job->started = 1;
    ASyncLoad.handOverIndex = slotIndex;
    Publish(ASyncLoad.handOver, 1);
    extra.sleeping = 0;
    ++ASyncLoad.runningCount;
    Unlock();
    while (ResumeWorkerThread(&extra.thread) == 0) SleepMilliseconds(0);
    // The caller goes on to use what the job loads, so the wait lasts until the job is done even
    // when the quit message comes: from then on the window is no longer pumped, but main-thread
    // calls are still served, since the job may be waiting for one.
    bool pumping = true;
    auto waitWhile = [&pumping](auto condition) {
        for (;;) {
            Lock(__LINE__);
            bool waiting = condition();
            Unlock();
            if (!waiting) return;
            if (pumping && PumpMessagesUnlocked() != 0) pumping = false;
            ServeMainThreadCalls();
            SleepMilliseconds(1);
        }
    };
    waitWhile([] { return ASyncLoad.handOver != 0; });
    waitWhile([] {
        const LoadThreadRecord& t = ASyncLoad.threads[kExtraLoadThreadIndex];
        return t.sleeping == 0 && t.exited == 0;
    });
    return 0;
}

int RequestMainThreadCall(MainThreadCallRequest* request) {
    Lock(__LINE__);
    // Only a load thread may queue: a request from any other thread would be served after its
    // caller has returned and its request record is gone.
    int index = CallingThreadIndex();
    if (index < 0) {
        Unlock();
        WriteLogFormatUtf16(
            u"非同期読み込みスレッド以外からメインスレッドへの処理依頼が行われました");
        return -1;
    }
    request->result = 0;
    request->threadIndex = index;
    ASyncLoad.callQueue[ASyncLoad.queuedCallCount++] = request;
    LoadThreadRecord& t = ASyncLoad.threads[index];
    t.waitingForMainThread = 1;
    WakeLocked(1);
    SleepLoadThread(index);
    t.suspendedForCall = 1;
    ++ASyncLoad.suspendedForCallCount;
    Unlock();
    SuspendCurrentThread();
    return request->result;
}

int ServeMainThreadCalls() {
    if (ASyncLoad.initialised == 0 || IsMainThread() == 0) return -1;
    Lock(__LINE__);
    if (ASyncLoad.queuedCallCount > 0) {
        int start = ReadMillisecondClock();
        int served = 0;
        while (served < ASyncLoad.queuedCallCount &&
               (served == 0 || MillisecondsElapsed(ReadMillisecondClock(), start) <= 2)) {
            MainThreadCallRequest* request = ASyncLoad.callQueue[served++];
            request->result = request->function(request);
            ASyncLoad.threads[request->threadIndex].waitingForMainThread = 0;
            WakeLocked(0);
        }
        int left = ASyncLoad.queuedCallCount - served;
        std::memmove(&ASyncLoad.callQueue[0], &ASyncLoad.callQueue[served],
                     sizeof(ASyncLoad.callQueue[0]) * static_cast<std::size_t>(left));
        ASyncLoad.queuedCallCount = left;
    }
    int target = ASyncLoad.activeLimit - 1 < 1 ? 1 : ASyncLoad.activeLimit - 1;
    if (target > ASyncLoad.jobCount) target = ASyncLoad.jobCount;
    if (ASyncLoad.jobCount > 0) {
        for (int missing = target - ASyncLoad.runningCount; missing > 0; --missing) WakeLocked(0);
    }
    Unlock();
    return 0;
}

int WakeASyncLoadThreads(int extraAllowance) {
    Lock(__LINE__);
    WakeLocked(extraAllowance);
    Unlock();
    return 0;
}

void RunASyncLoadWorker(WorkerThread* thread, void*) {
    int index = ThreadIndexOf(thread);
    LoadThreadRecord& self = ASyncLoad.threads[index];
    bool extra = index == kExtraLoadThreadIndex;
    while (Peek(ASyncLoad.stopFlag) == 0) {
        bool lookForWork = extra ? Peek(ASyncLoad.handOver) != 0 : Peek(ASyncLoad.usedSlotEnd) > 0;
        if (lookForWork) {
            Lock(__LINE__);
            int slot = -1;
            if (extra) {
                if (ASyncLoad.handOver != 0) slot = ASyncLoad.handOverIndex;
            } else {
                slot = OldestUnstartedJob();
            }
            if (slot >= 0 && ASyncLoad.jobs[slot] != nullptr) {
                ASyncLoadJob* job = ASyncLoad.jobs[slot];
                job->started = 1;
                self.runningJob = 1;
                self.currentJob = job;
                Unlock();
                job->run(job);
                Lock(__LINE__);
                DeleteASyncLoadJob(slot, 0);
                self.runningJob = 0;
                self.currentJob = nullptr;
                if (extra) Publish(ASyncLoad.handOver, 0);
                Unlock();
                continue;
            }
            if (extra) Publish(ASyncLoad.handOver, 0);
            Unlock();
            if (!extra) WakeASyncLoadThreads(1);
        }
        Lock(__LINE__);
        if (Peek(ASyncLoad.stopFlag) != 0) {
            Unlock();
            break;
        }
        SleepLoadThread(index);
        Unlock();
        SuspendCurrentThread();
    }
    Lock(__LINE__);
    self.exited = 1;
    --ASyncLoad.runningCount;
    Unlock();
}

}  // namespace ZiDaz
