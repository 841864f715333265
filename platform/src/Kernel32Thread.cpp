// Threads over pthreads, with Windows suspend counts and exit codes.
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>

#include "Kernel32ThreadId.h"
#include "platform/Kernel32.h"
#include "platform/KernelWait.h"
#include "platform/Modules.h"

namespace platform::kernel32 {

__thread DWORD cachedThreadId = 0;

namespace {

const HANDLE kCurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

// Fields other than `id` are guarded by the wait lock.
class ThreadObject : public WaitableObject {
  public:
    bool IsSignaled() const override { return finished; }

    DWORD id = 0;
    bool started = false;  // the thread has published its id
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
    DWORD suspendCount = 0;
    int priority = THREAD_PRIORITY_NORMAL;
    std::condition_variable resumed;  // the thread sleeps on it while suspended
};

struct StartBlock {
    std::shared_ptr<ThreadObject> thread;
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
};

thread_local std::shared_ptr<ThreadObject> currentThread;

DWORD ReadThreadId() {
    return static_cast<DWORD>(syscall(SYS_gettid));
}

// The record of the calling thread; threads not made by CreateThread get one on first use.
ThreadObject& Current() {
    if (!currentThread) {
        currentThread = std::make_shared<ThreadObject>();
        currentThread->id = ReadThreadId();
        currentThread->started = true;
    }
    return *currentThread;
}

std::shared_ptr<ThreadObject> Resolve(HANDLE handle) {
    if (handle == kCurrentThreadPseudoHandle) {
        Current();
        return currentThread;
    }
    return LookupHandleAs<ThreadObject>(handle);
}

// Blocks the calling thread (wait lock held) while its suspend count is above 0.
void ParkWhileSuspended(ThreadObject& self, std::unique_lock<std::mutex>& lock) {
    while (self.suspendCount > 0) self.resumed.wait(lock);
}

// Marks the thread ended when its routine returns or ExitThread unwinds it.
struct FinishGuard {
    ThreadObject& thread;
    ~FinishGuard() {
        std::lock_guard<std::mutex> lock(WaitLock());
        thread.finished = true;
        WakeWaiters();
    }
};

void* ThreadMain(void* argument) {
    std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(argument));
    currentThread = block->thread;
    ThreadObject& self = *currentThread;
    {
        std::unique_lock<std::mutex> lock(WaitLock());
        self.id = ReadThreadId();
        self.started = true;
        WakeWaiters();
        ParkWhileSuspended(self, lock);
    }
    FinishGuard guard{self};
    DWORD code = block->start(block->parameter);
    std::lock_guard<std::mutex> lock(WaitLock());
    self.exitCode = code;
    return nullptr;
}

int NiceFor(int priority) {
    switch (priority) {
        case THREAD_PRIORITY_IDLE:
            return 19;
        case THREAD_PRIORITY_LOWEST:
            return 10;
        case THREAD_PRIORITY_BELOW_NORMAL:
            return 5;
        case THREAD_PRIORITY_ABOVE_NORMAL:
            return -5;
        case THREAD_PRIORITY_HIGHEST:
            return -10;
        case THREAD_PRIORITY_TIME_CRITICAL:
            return -20;
        default:
            return 0;
    }
}

bool IsPriority(int priority) {
    return priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL ||
           (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST);
}

const int kProcessNice = getpriority(PRIO_PROCESS, 0);

}  // namespace

// The waits (Kernel32Sync.cpp) resolve handles here, so that the pseudo handle works too.
std::shared_ptr<WaitableObject> ResolveWaitable(HANDLE handle) {
    if (handle == kCurrentThreadPseudoHandle) return Resolve(handle);
    return LookupHandleAs<WaitableObject>(handle);
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>();
    if (flags & CREATE_SUSPENDED) thread->suspendCount = 1;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        const SIZE_T minimum = static_cast<SIZE_T>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attributes, stackSize < minimum ? minimum : stackSize);
    }
    auto* block = new StartBlock{thread, start, parameter};
    pthread_t pthread;
    int failed = pthread_create(&pthread, &attributes, &ThreadMain, block);
    pthread_attr_destroy(&attributes);
    if (failed != 0) {
        delete block;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    {
        // The id is the Linux thread id, known once the thread runs.
        std::unique_lock<std::mutex> lock(WaitLock());
        while (!thread->started) WaitForWake(lock, {}, true);
    }
    if (threadId != nullptr) *threadId = thread->id;
    return RegisterHandle(thread);
}

void ExitThread(DWORD exitCode) {
    {
        std::lock_guard<std::mutex> lock(WaitLock());
        Current().exitCode = exitCode;
    }
    pthread_exit(nullptr);  // unwinds the thread's stack; ThreadMain's guard marks it ended
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    auto object = Resolve(thread);
    if (!object || exitCode == nullptr) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(WaitLock());
    *exitCode = object->finished ? object->exitCode : STILL_ACTIVE;
    return TRUE;
}

HANDLE GetCurrentThread() {
    return kCurrentThreadPseudoHandle;
}

DWORD GetCurrentThreadId() {
    return CurrentThreadId();
}

DWORD SuspendThread(HANDLE thread) {
    auto object = Resolve(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    std::unique_lock<std::mutex> lock(WaitLock());
    DWORD previous = object->suspendCount;
    if (object.get() == &Current()) {
        ++object->suspendCount;
        ParkWhileSuspended(*object, lock);
        return previous;
    }
    // Another thread: only one that is already parked (or has ended) can take a further count.
    if (previous == 0 && !object->finished) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return static_cast<DWORD>(-1);
    }
    ++object->suspendCount;
    return previous;
}

DWORD ResumeThread(HANDLE thread) {
    auto object = Resolve(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    std::lock_guard<std::mutex> lock(WaitLock());
    DWORD previous = object->suspendCount;
    if (previous > 0 && --object->suspendCount == 0) object->resumed.notify_all();
    return previous;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    auto object = Resolve(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!IsPriority(priority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(WaitLock());
    object->priority = priority;
    if (!object->finished) {
        int nice = kProcessNice + NiceFor(priority);
        setpriority(PRIO_PROCESS, object->id, nice < -20 ? -20 : nice > 19 ? 19 : nice);
    }
    return TRUE;
}

int GetThreadPriority(HANDLE thread) {
    auto object = Resolve(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    std::lock_guard<std::mutex> lock(WaitLock());
    return object->priority;
}

namespace {
const ModuleExports kExports("kernel32.dll", {{"CreateThread", Export(&CreateThread)},
                                              {"ExitThread", Export(&ExitThread)},
                                              {"GetExitCodeThread", Export(&GetExitCodeThread)},
                                              {"GetCurrentThread", Export(&GetCurrentThread)},
                                              {"GetCurrentThreadId", Export(&GetCurrentThreadId)},
                                              {"SuspendThread", Export(&SuspendThread)},
                                              {"ResumeThread", Export(&ResumeThread)},
                                              {"SetThreadPriority", Export(&SetThreadPriority)},
                                              {"GetThreadPriority", Export(&GetThreadPriority)}});
}  // namespace

}  // namespace platform::kernel32
