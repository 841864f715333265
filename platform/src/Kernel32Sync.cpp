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

HANDLE SelfAsOwner() {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(CurrentThreadId()));
}

void FutexWait(LONG* word, LONG expected) {
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void FutexWakeOne(LONG* word) {
    syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// Rounds of waiting for a held lock to come free before sleeping on it. Locks in this program
// guard a few dozen instructions, so the owner is usually about to leave: taking the lock as it
// comes free costs far less than sleeping and being woken, and a lock taken that way stays in
// its uncontended state, so its owner's leave needs no wake-up call either.
constexpr int kSpinRounds = 64;

// Tells the processor that this is a wait loop (so the core lends its resources to its sibling
// and leaves the loop without a misspeculation penalty).
inline void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

void LockContended(LPCRITICAL_SECTION section) {
    auto word = LockWord(section);
    for (int round = 0; round < kSpinRounds; ++round) {
        LONG state = word.load(std::memory_order_relaxed);
        if (state == 0) {
            if (word.compare_exchange_weak(state, 1, std::memory_order_acquire)) return;
        } else if (state == 2) {
            break;  // others sleep already: join them rather than jump the queue
        }
        SpinPause();
    }
    LONG previous = word.exchange(2, std::memory_order_acquire);
    while (previous != 0) {
        FutexWait(&section->LockCount, 2);
        previous = word.exchange(2, std::memory_order_acquire);
    }
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

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    HANDLE self = SelfAsOwner();
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

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    HANDLE self = SelfAsOwner();
    if (Owner(section).load(std::memory_order_relaxed) == self) {
        ++section->RecursionCount;
        return TRUE;
    }
    LONG expected = 0;
    if (!LockWord(section).compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        return FALSE;
    }
    Owner(section).store(self, std::memory_order_relaxed);
    section->RecursionCount = 1;
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    if (Owner(section).load(std::memory_order_relaxed) != SelfAsOwner()) return;  // not ours
    if (--section->RecursionCount > 0) return;
    Owner(section).store(nullptr, std::memory_order_relaxed);
    if (LockWord(section).exchange(0, std::memory_order_release) == 2) {
        FutexWakeOne(&section->LockCount);
    }
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
