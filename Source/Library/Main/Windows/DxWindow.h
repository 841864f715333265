// The main window's module. The LibraryCallLock lives here: the re-entrant, first-come
// first-served lock that StartLibrary, EndLibrary and PumpMessages take around their bodies.
#pragma once

#include <cstdint>

#include "Main/DxThread.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

inline constexpr int kLibraryCallLockQueueSize = 4096;

struct LibraryCallLockWaiter {
    int threadId;
    HANDLE event;  // every entry carries one; the pool of events only moves between entries
};

// A field group of the main window's state; the window start-up keeps it when it resets the rest.
struct LibraryCallLock {
    int depth;
    int owned;
    int owner;  // -1 once released
    LibraryCallLockWaiter queue[kLibraryCallLockQueueSize];
    int eventsCreated;
    int count;  // waiting threads, in arrival order from entry 0
    TracedLock guard;
};

extern LibraryCallLock CallLock;

// WindowsVersionCode values; callers compare ranges (above 261, 264 or more, 268 or more).
enum WindowsVersionCode : int {
    WINDOWS_VERSION_31 = 0,
    WINDOWS_VERSION_95 = 1,
    WINDOWS_VERSION_98 = 2,
    WINDOWS_VERSION_ME = 3,
    WINDOWS_VERSION_NT31 = 260,  // NT 3.51
    WINDOWS_VERSION_NT40 = 261,
    WINDOWS_VERSION_2000 = 262,
    WINDOWS_VERSION_XP = 263,
    WINDOWS_VERSION_VISTA = 264,
    WINDOWS_VERSION_7 = 265,
    WINDOWS_VERSION_8 = 266,
    WINDOWS_VERSION_8_1 = 267,
    WINDOWS_VERSION_10 = 268,
    WINDOWS_VERSION_11 = 269,
};

// What the system report leaves for the other modules (fields of the main window's state).
struct SystemReportState {
    char16_t windowsDescription[256];
    int logicalProcessorCount;
    int windowsVersionCode;
    int directXVersionCode;
};

extern SystemReportState SystemReport;

// Writes the library version, the processor count and the Windows version to the log, stores the
// processor count and the WindowsVersionCode, and raises the system timer's resolution. 0.
int LogSystemReport();

void EnterLibraryCallLock();
void LeaveLibraryCallLock();
void CloseLibraryCallLock();

}  // namespace ZiDaz
