// Critical sections, events, semaphores and the waits on kernel objects.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <vector>

#include "Kernel32ThreadId.h"
#include "platform/Kernel32.h"
#include "platform/KernelWait.h"
#include "platform/Modules.h"

namespace platform {

namespace {

struct WaitState {
    std::mutex mutex;
    std::condition_variable wake;
};

WaitState& TheWaitState() {
    static WaitState* state = new WaitState;  // never destroyed: threads may wait at exit
    return *state;
}

}  // namespace

std::mutex& WaitLock() {
    return TheWaitState().mutex;
}

void WakeWaiters() {
    TheWaitState().wake.notify_all();
}

bool WaitForWake(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point deadline,
                 bool infinite) {
    if (infinite) {
        TheWaitState().wake.wait(lock);
        return true;
    }
    return TheWaitState().wake.wait_until(lock, deadline) == std::cv_status::no_timeout ||
           std::chrono::steady_clock::now() < deadline;
}

namespace kernel32 {

namespace {

// ---- Critical sections ----------------------------------------------------------------------

// The lock word follows the classic three-state futex mutex: 0 free, 1 held, 2 held and
// somebody may be sleeping on it.
std::atomic_ref<LONG> LockWord(LPCRITICAL_SECTION section) {
    return std::atomic_ref<LONG>(section->LockCount);
}

std::atomic_ref<HANDLE> Owner(LPCRITICAL_SECTION section) {
    return std::atomic_ref<HANDLE>(section->OwningThread);
}

HANDLE AsOwner(DWORD id) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(id));
}

void FutexWait(LONG* word, LONG expected) {
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

// Sleeps until the lock is ours, leaving the word at 2 so that our own leave wakes the next
// sleeper.
void LockContended(LPCRITICAL_SECTION section) {
    auto word = LockWord(section);
    LONG previous = word.exchange(2, std::memory_order_acquire);
    while (previous != 0) {
        FutexWait(&section->LockCount, 2);
        previous = word.exchange(2, std::memory_order_acquire);
    }
}

// Everything but a free lock taken by a thread that knows its id: kept out of line, so that
// the uncontended enter and leave need no stack frame and no saved registers (every store
// before the lock word's locked instruction is one more store it waits for).
[[gnu::noinline]] void EnterSlowly(LPCRITICAL_SECTION section) {
    HANDLE self = AsOwner(CurrentThreadId());
    // Only the owner writes its own id there, so finding it means this thread holds the lock.
    if (Owner(section).load(std::memory_order_relaxed) == self) {
        ++section->RecursionCount;
        return;
    }
    LONG expected = 0;
    if (!LockWord(section).compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        LockContended(section);
    }
    Owner(section).store(self, std::memory_order_relaxed);
    section->RecursionCount = 1;
}

[[gnu::noinline]] void WakeOneSleeper(LPCRITICAL_SECTION section) {
    syscall(SYS_futex, &section->LockCount, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->DebugInfo = nullptr;
    section->LockCount = 0;
    section->RecursionCount = 0;
    section->OwningThread = nullptr;
    section->LockSemaphore = nullptr;
    section->SpinCount = 0;
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    InitializeCriticalSection(section);
}

// The lock word is tried before the owner is looked at: a free lock is the common case, and
// reading the owner first would fetch a contended cache line shared only to fetch it again for
// writing. A thread re-entering its own lock finds the word taken and then itself as the owner.
void EnterCriticalSection(LPCRITICAL_SECTION section) {
    DWORD self = cachedThreadId;
    LONG expected = 0;
    if (__builtin_expect(self != 0, 1) &&
        LockWord(section).compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        Owner(section).store(AsOwner(self), std::memory_order_relaxed);
        section->RecursionCount = 1;
        return;
    }
    EnterSlowly(section);
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    HANDLE self = AsOwner(CurrentThreadId());
    LONG expected = 0;
    if (!LockWord(section).compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        if (Owner(section).load(std::memory_order_relaxed) != self) return FALSE;
        ++section->RecursionCount;
        return TRUE;
    }
    Owner(section).store(self, std::memory_order_relaxed);
    section->RecursionCount = 1;
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    // A thread that never asked for its id (0) has entered nothing, so it owns nothing.
    DWORD self = cachedThreadId;
    if (self == 0 || Owner(section).load(std::memory_order_relaxed) != AsOwner(self)) return;
    if (--section->RecursionCount > 0) return;
    Owner(section).store(nullptr, std::memory_order_relaxed);
    if (LockWord(section).exchange(0, std::memory_order_release) == 2) WakeOneSleeper(section);
}

// ---- Events and semaphores ------------------------------------------------------------------

namespace {

class EventObject : public WaitableObject {
  public:
    EventObject(bool manualReset, bool signaled) : manualReset_(manualReset), signaled_(signaled) {}
    bool IsSignaled() const override { return signaled_; }
    void Satisfy() override {
        if (!manualReset_) signaled_ = false;
    }
    void Set(bool signaled) { signaled_ = signaled; }

  private:
    const bool manualReset_;
    bool signaled_;
};

class SemaphoreObject : public WaitableObject {
  public:
    SemaphoreObject(LONG count, LONG maximum) : count_(count), maximum_(maximum) {}
    bool IsSignaled() const override { return count_ > 0; }
    void Satisfy() override { --count_; }
    bool Release(LONG amount, LONG* previous) {
        if (amount > maximum_ - count_) return false;
        if (previous != nullptr) *previous = count_;
        count_ += amount;
        return true;
    }

  private:
    LONG count_;
    const LONG maximum_;
};

HANDLE NewEvent(BOOL manualReset, BOOL initialState) {
    return RegisterHandle(
        std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
}

BOOL ChangeEvent(HANDLE event, bool signaled) {
    auto object = LookupHandleAs<EventObject>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(WaitLock());
    object->Set(signaled);
    if (signaled) WakeWaiters();
    return TRUE;
}

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
    return NewEvent(manualReset, initialState);
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR) {
    return NewEvent(manualReset, initialState);
}

BOOL SetEvent(HANDLE event) {
    return ChangeEvent(event, true);
}

BOOL ResetEvent(HANDLE event) {
    return ChangeEvent(event, false);
}

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount, LPCSTR) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return RegisterHandle(std::make_shared<SemaphoreObject>(initialCount, maximumCount));
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount) {
    auto object = LookupHandleAs<SemaphoreObject>(semaphore);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (releaseCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(WaitLock());
    if (!object->Release(releaseCount, previousCount)) {
        SetLastError(ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    WakeWaiters();
    return TRUE;
}

// ---- Waits ----------------------------------------------------------------------------------

// Resolves a handle to a waitable object; the thread pseudo handle is resolved by the thread
// module (declared here, defined in Kernel32Thread.cpp).
std::shared_ptr<WaitableObject> ResolveWaitable(HANDLE handle);

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || objects == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<WaitableObject>> waitables(count);
    for (DWORD i = 0; i < count; ++i) {
        waitables[i] = ResolveWaitable(objects[i]);
        if (!waitables[i]) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    const bool infinite = milliseconds == INFINITE;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite ? 0 : milliseconds);
    std::unique_lock<std::mutex> lock(WaitLock());
    for (;;) {
        if (waitAll) {
            bool all = true;
            for (const auto& w : waitables) all = all && w->IsSignaled();
            if (all) {
                for (const auto& w : waitables) w->Satisfy();
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < count; ++i) {
                if (waitables[i]->IsSignaled()) {
                    waitables[i]->Satisfy();
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        if (!infinite && std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
        WaitForWake(lock, deadline, infinite);
    }
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

namespace {
const ModuleExports kExports("kernel32.dll",
                             {{"InitializeCriticalSection", Export(&InitializeCriticalSection)},
                              {"DeleteCriticalSection", Export(&DeleteCriticalSection)},
                              {"EnterCriticalSection", Export(&EnterCriticalSection)},
                              {"TryEnterCriticalSection", Export(&TryEnterCriticalSection)},
                              {"LeaveCriticalSection", Export(&LeaveCriticalSection)},
                              {"CreateEventA", Export(&CreateEventA)},
                              {"CreateEventW", Export(&CreateEventW)},
                              {"SetEvent", Export(&SetEvent)},
                              {"ResetEvent", Export(&ResetEvent)},
                              {"CreateSemaphoreA", Export(&CreateSemaphoreA)},
                              {"ReleaseSemaphore", Export(&ReleaseSemaphore)},
                              {"WaitForSingleObject", Export(&WaitForSingleObject)},
                              {"WaitForMultipleObjects", Export(&WaitForMultipleObjects)}});
}  // namespace

}  // namespace kernel32

}  // namespace platform
