// Traced locks and worker threads: the library's two threading primitives. A TracedLock is a
// re-entrant critical section that remembers the source file, line and thread of its last
// acquirer, so that a deadlock can be read off in a debugger. A WorkerThread starts suspended
// and runs one function once its owner resumes it.
#pragma once

#include <cstdint>

#include "Main/Windows/DxWinAPI.h"
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

// The out-of-line parts of the two below: the first lock calls of the program load the system
// table, and a lock site seen for the first time copies its file name.
int AcquireTracedLockAfterLoading(TracedLock* lock, const char* file, int line);
int ReleaseTracedLockAfterLoading(TracedLock* lock);
void RememberTracedLockFile(TracedLock* lock, const char* file);

// Inline, as locks are taken very often: at a lock site the file and line are constants, so
// nothing but the lock itself has to be kept across the call into the critical section. The
// table's flag is read with acquire order, pairing with the release that publishes a filled
// table, so that a thread seeing it set also sees every entry.
inline int AcquireTracedLock(TracedLock* lock, const char* file, int line) {
    if (__builtin_expect(__atomic_load_n(&SystemApi.loaded, __ATOMIC_ACQUIRE) == 0, 0)) {
        return AcquireTracedLockAfterLoading(lock, file, line);
    }
    SystemApi.EnterCriticalSection(&lock->section);
    // Written after the lock is taken, so the fields always describe the current owner. The
    // critical section records its owner's thread id in its owning-thread field, so the caller's
    // id is read from there instead of asking the system a second time.
    lock->thread =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(lock->section.OwningThread));
    lock->line = line;
    if (file != lock->filePointer || file == nullptr) RememberTracedLockFile(lock, file);
    return 0;
}

inline int ReleaseTracedLock(TracedLock* lock) {
    if (__builtin_expect(__atomic_load_n(&SystemApi.loaded, __ATOMIC_ACQUIRE) == 0, 0)) {
        return ReleaseTracedLockAfterLoading(lock);
    }
    SystemApi.LeaveCriticalSection(&lock->section);
    return 0;
}

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
