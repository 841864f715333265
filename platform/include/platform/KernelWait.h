// Objects that WaitForSingleObject and WaitForMultipleObjects wait on (threads, events,
// semaphores). Their signal state lives under one process-wide wait lock; whoever changes it calls
// WakeWaiters while holding that lock, and every waiting thread looks again. Waits are rare and
// short in this program, so one lock and one condition are enough and keep multi-object waits
// simple and atomic (a wait for all takes every object in one step).
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/KernelObject.h"

namespace platform {

class WaitableObject : public KernelObject {
  public:
    // Both are called with the wait lock held. IsSignaled says whether a wait would be satisfied
    // now; Satisfy is the wait's side effect once it is (an automatic event resets, a semaphore
    // counts down).
    virtual bool IsSignaled() const = 0;
    virtual void Satisfy() {}
};

std::mutex& WaitLock();
// Wakes every waiting thread; call with the wait lock held, after changing a signal state.
void WakeWaiters();
// Waits on the process-wide condition (the wait lock must be held through `lock`) until woken or
// until `deadline` passes; false when the deadline has passed.
bool WaitForWake(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point deadline,
                 bool infinite);

}  // namespace platform
