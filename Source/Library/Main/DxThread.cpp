// Traced locks and worker threads over the system's critical sections and threads.
#include "Main/DxThread.h"

#include "Main/DxBaseFunc.h"

#include "Main/Windows/DxWinAPI.h"

namespace ZiDaz {

namespace {

// The table test of every function that calls Windows, inlined: locks are taken very often. The
// flag is read with acquire order, pairing with the release that publishes a filled table, so
// that a thread seeing it set also sees every entry another thread stored before setting it.
inline void EnsureApi() {
    if (__atomic_load_n(&SystemApi.loaded, __ATOMIC_ACQUIRE) == 0) LoadSystemApiTable();
}

}  // namespace

int InitTracedLock(TracedLock* lock) {
    EnsureApi();
    SystemApi.InitializeCriticalSection(&lock->section);
    lock->file[0] = '\0';
    lock->line = 0;
    lock->thread = 0;
    lock->filePointer = nullptr;
    return 0;
}

int DeleteTracedLock(TracedLock* lock) {
    EnsureSystemApiTable();
    SystemApi.DeleteCriticalSection(&lock->section);
    return 0;
}

// Lock sites pass literals, so after the first acquisition from a site the same pointer comes
// back and nothing is copied.
void RememberTracedLockFile(TracedLock* lock, const char* file) {
    std::size_t length = 0;
    if (file != nullptr) {
        while (length < sizeof(lock->file) - 1 && file[length] != '\0') ++length;
        CopyByteBlock(lock->file, file, length);
    }
    lock->file[length] = '\0';
    lock->filePointer = file;
}

int AcquireTracedLockAfterLoading(TracedLock* lock, const char* file, int line) {
    LoadSystemApiTable();
    return AcquireTracedLock(lock, file, line);
}

int ReleaseTracedLockAfterLoading(TracedLock* lock) {
    LoadSystemApiTable();
    return ReleaseTracedLock(lock);
}

namespace {

// Runs on the new thread: parks until the owner resumes it, then runs the function. The exit
// entry is taken before the function runs: once the function has told its owner that it is done,
// the library may end and empty the table while this thread is still on its way out.
DWORD WorkerThreadEntry(LPVOID parameter) {
    auto* thread = static_cast<WorkerThread*>(parameter);
    void (*exitThread)(DWORD) = SystemApi.ExitThread;
    SystemApi.SuspendThread(SystemApi.GetCurrentThread());
    thread->function(thread, thread->parameter);
    exitThread(0);
    return 0;
}

}  // namespace

int StartWorkerThread(WorkerThread* thread, WorkerThreadFunction function, void* parameter) {
    EnsureSystemApiTable();
    thread->function = function;
    thread->parameter = parameter;
    DWORD id = 0;
    thread->handle = SystemApi.CreateThread(nullptr, 0, &WorkerThreadEntry, thread, 0, &id);
    thread->id = id;
    return thread->handle != nullptr ? 0 : -1;
}

int ResumeWorkerThread(WorkerThread* thread) {
    EnsureSystemApiTable();
    DWORD previous = SystemApi.ResumeThread(thread->handle);
    return previous != 0 ? 1 : 0;  // (DWORD)-1, an error, also counts as nonzero
}

int SetWorkerThreadPriority(WorkerThread* thread, int level) {
    static const int kPriorities[] = {THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL,
                                      THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_HIGHEST};
    if (level < 0 || level > 3) return 0;
    EnsureSystemApiTable();
    SystemApi.SetThreadPriority(thread->handle, kPriorities[level]);
    return 0;
}

int CloseWorkerThread(WorkerThread* thread) {
    EnsureSystemApiTable();
    if (thread->handle != nullptr) SystemApi.CloseHandle(thread->handle);
    thread->handle = nullptr;
    return 0;
}

int WorkerThreadExists(WorkerThread* thread) {
    return thread->handle != nullptr ? 1 : 0;
}

std::uint32_t QueryCurrentThreadId() {
    EnsureSystemApiTable();
    return SystemApi.GetCurrentThreadId();
}

int SuspendCurrentThread() {
    EnsureSystemApiTable();
    SystemApi.SuspendThread(SystemApi.GetCurrentThread());
    return 0;
}

}  // namespace ZiDaz
