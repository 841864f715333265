// The calling thread's id, kept per thread once asked for, so that the critical sections (which
// compare it on every enter and leave) read it with one thread-local load instead of a call.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include "platform/WinTypes.h"

namespace platform::kernel32 {

// 0 until the thread first asks (no thread has the id 0). A plain __thread variable: it needs no
// initialisation guard, which a C++ thread_local seen from another file would check every time.
extern __thread DWORD cachedThreadId;

inline DWORD CurrentThreadId() {
    DWORD id = cachedThreadId;
    if (__builtin_expect(id == 0, 0)) {
        id = static_cast<DWORD>(syscall(SYS_gettid));
        cachedThreadId = id;
    }
    return id;
}

}  // namespace platform::kernel32
