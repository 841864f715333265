// Asynchronous loading: a loader packs its arguments into an ASyncLoadJob and queues it; 32 load
// threads run queued jobs oldest first (at most the active limit of them at once), and an extra
// 33rd thread runs a job that the main thread needs finished at once. Work that must happen on the
// main thread is requested by a load thread with RequestMainThreadCall and served by the main
// thread in ServeMainThreadCalls (the message pump runs it every frame).
#pragma once

#include <cstdint>

#include "Main/DxThread.h"

namespace ZiDaz {

inline constexpr int kLoadThreadCount = 32;
inline constexpr int kExtraLoadThreadIndex = 32;
inline constexpr int kMaxASyncLoadJobs = 32768;

struct ASyncLoadJob;
using ASyncLoadRunFunction = void (*)(ASyncLoadJob* job);

struct ASyncLoadJob {
    int slotIndex;
    int started;
    int* waiter;  // receives 1 when the job is deleted, may be null
    int timeQueued;
    ASyncLoadRunFunction run;
    std::uint8_t* parameters;  // the packed parameter block, right behind this record
};

struct MainThreadCallRequest;
using MainThreadCallFunction = int (*)(MainThreadCallRequest* request);

// A caller that needs parameters embeds this record at the front of its own.
struct MainThreadCallRequest {
    MainThreadCallFunction function;
    int threadIndex;  // the asking load thread
    int result;
};

struct LoadThreadRecord {
    WorkerThread thread;
    int exited;
    int runningJob;
    int waitingForMainThread;  // a call is queued and not yet served
    int suspendedForCall;
    int sleeping;
    int idleSince;  // millisecond clock when it last went to sleep
    ASyncLoadJob* currentJob;
};

struct ASyncLoadState {
    int initialised;
    std::uint32_t mainThreadId;
    int stopFlag;
    int threadCount;
    int activeLimit;
    LoadThreadRecord threads[kLoadThreadCount + 1];
    int runningCount;
    TracedLock lock;
    MainThreadCallRequest* callQueue[kLoadThreadCount + 1];
    int queuedCallCount;
    int suspendedForCallCount;
    ASyncLoadJob* jobs[kMaxASyncLoadJobs];
    int jobCount;
    int usedSlotEnd;  // one past the highest used slot
    int handOver;
    int handOverIndex;
};

extern ASyncLoadState ASyncLoad;

int InitASyncLoad(std::uint32_t mainThreadId);
int StartASyncLoadThreads(int logicalProcessorCount);
int LimitActiveLoadThreads(int count);
int StopASyncLoadThreads();
int EndASyncLoad();
int IsMainThread();

// Null on failure (logged); the caller then loads synchronously.
ASyncLoadJob* AllocateASyncLoadJob(int parameterBytes);
// Packing appends one item at *offset and advances it; with a null block only the offset advances,
// so a loader packs once with null to learn the size, allocates the job, then packs for real.
int PackJobInt(std::uint8_t* block, int* offset, std::int32_t value);
int PackJobInt64(std::uint8_t* block, int* offset, std::int64_t value);
int PackJobString(std::uint8_t* block, int* offset, const char16_t* text);
int PackJobBlock(std::uint8_t* block, int* offset, const void* data, int size);
std::int32_t UnpackJobInt(const std::uint8_t* block, int* offset);
std::int64_t UnpackJobInt64(const std::uint8_t* block, int* offset);
// Points into the block (the characters are stored unaligned, with their terminator); null for a
// packed null string.
const char16_t* UnpackJobString(const std::uint8_t* block, int* offset);
const std::uint8_t* UnpackJobBlock(const std::uint8_t* block, int* offset);

// 0 when queued. -1 when the queue is full: the job is then logged, freed and not queued, and the
// loader must give up its asynchronous load.
int QueueASyncLoadJob(ASyncLoadJob* job);

// Allocates a job whose parameters pack(block) writes (pack(nullptr) only gives their size) and
// sets its run function; null when no job can be had.
template <class Pack>
ASyncLoadJob* MakeASyncLoadJob(ASyncLoadRunFunction run, Pack pack) {
    ASyncLoadJob* job = AllocateASyncLoadJob(pack(nullptr));
    if (job == nullptr) return nullptr;
    pack(job->parameters);
    job->run = run;
    return job;
}

// -1 for an empty slot, -2 when onlyIfNotStarted is set and the job has started, else 0.
int DeleteASyncLoadJob(int slotIndex, int onlyIfNotStarted);
int CountQueuedASyncLoadJobs();
int FinishASyncLoadJobNow(int slotIndex);
int RequestMainThreadCall(MainThreadCallRequest* request);
int ServeMainThreadCalls();
int WakeASyncLoadThreads(int extraAllowance);
void RunASyncLoadWorker(WorkerThread* thread, void* parameter);

}  // namespace ZiDaz
