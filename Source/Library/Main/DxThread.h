// Traced locks and worker threads: the library's two threading primitives. A TracedLock is a
// re-entrant critical section that remembers the source file, line and thread of its last
// acquirer, so that a deadlock can be read off in a debugger. A WorkerThread starts suspended
// and runs one function once its owner resumes it.
#pragma once

#include <cstdint>

#include "platform/WinTypes.h"

namespace ZiDaz {

struct TracedLock {
    CRITICAL_SECTION section;
    char file[512];        // source file of the last acquirer, at most 511 bytes, terminated
    int line;              // its source line
    std::uint32_t thread;  // its thread id
    // The file name pointer the text was copied from: lock sites pass literals, so the same
    // pointer again means the same text and the copy is skipped.
    const char* filePointer;
};

int InitTracedLock(TracedLock* lock);
int DeleteTracedLock(TracedLock* lock);
int AcquireTracedLock(TracedLock* lock, const char* file, int line);
int ReleaseTracedLock(TracedLock* lock);

struct WorkerThread;
using WorkerThreadFunction = void (*)(WorkerThread* thread, void* parameter);

struct WorkerThread {
    WorkerThreadFunction function;
    void* parameter;
    HANDLE handle;  // null when there is no thread
    std::uint32_t id;
};

// Creates the thread; it suspends itself at once and runs `function` once resumed. 0 or -1.
int StartWorkerThread(WorkerThread* thread, WorkerThreadFunction function, void* parameter);
// 1 when the system reported a nonzero previous suspend count (the thread really was suspended)
// or an error, else 0 (the thread has not suspended itself yet: the caller retries).
int ResumeWorkerThread(WorkerThread* thread);
// Levels 0 lowest, 1 below normal, 2 normal, 3 highest; any other level does nothing.
int SetWorkerThreadPriority(WorkerThread* thread, int level);
int CloseWorkerThread(WorkerThread* thread);
int WorkerThreadExists(WorkerThread* thread);
std::uint32_t QueryCurrentThreadId();
// Suspends the calling thread until another thread resumes it.
int SuspendCurrentThread();

}  // namespace ZiDaz

// Takes a traced lock with the caller's own file and line.
#define DX_LOCK(lock) ::ZiDaz::AcquireTracedLock((lock), __FILE__, __LINE__)
#define DX_UNLOCK(lock) ::ZiDaz::ReleaseTracedLock(lock)
