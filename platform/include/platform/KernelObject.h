// Kernel objects behind HANDLE values: files, find searches, threads, events. Every such object
// derives from KernelObject and is entered into one process-wide handle table, so that
// CloseHandle, the waits and the file calls can tell a live handle of the right kind from a stale
// or foreign value (they fail with ERROR_INVALID_HANDLE instead of touching freed memory).
//
// Handle values are small multiples of 4 from a counter, never reused, never null and never
// INVALID_HANDLE_VALUE. Lookups hand out shared ownership: an object stays alive while a call
// that looked it up is still using it, even if another thread closes the handle meanwhile.
#pragma once

#include <memory>

#include "platform/WinTypes.h"

namespace platform {

class KernelObject {
  public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject() = default;

    // Called by CloseHandle once the handle has left the table (the handle is gone either way).
    // Release OS resources here; return FALSE (after SetLastError) to report a failed close.
    // The object itself is destroyed when the last lookup that still holds it lets go.
    virtual BOOL Close() { return TRUE; }
};

// Enters the object into the table and returns its new handle.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);

// The live object behind a handle, or null (null, INVALID_HANDLE_VALUE, closed or unknown values).
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

// The live object when it is of kind T, else null.
template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Removes the handle from the table and returns its object (null when it was not live); the
// caller closes it. CloseHandle is this plus KernelObject::Close.
std::shared_ptr<KernelObject> UnregisterHandle(HANDLE handle);

// How many handles are open (for tests that check nothing leaks).
std::size_t OpenHandleCount();

}  // namespace platform
