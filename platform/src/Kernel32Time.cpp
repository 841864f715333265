// Clocks over CLOCK_MONOTONIC, the local time, and Sleep.
#include <sched.h>
#include <sys/time.h>

#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/Kernel32.h"
#include "platform/Modules.h"
#include "platform/Winmm.h"

namespace platform {

namespace {

constexpr LONGLONG kCounterFrequency = 10'000'000;  // 100 ns ticks, as Windows reports today

timespec Monotonic() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

ULONGLONG MonotonicMilliseconds() {
    timespec now = Monotonic();
    return static_cast<ULONGLONG>(now.tv_sec) * 1000 +
           static_cast<ULONGLONG>(now.tv_nsec) / 1'000'000;
}

}  // namespace

namespace kernel32 {

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (count == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    timespec now = Monotonic();
    count->QuadPart = static_cast<LONGLONG>(now.tv_sec) * kCounterFrequency + now.tv_nsec / 100;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (frequency == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    frequency->QuadPart = kCounterFrequency;
    return TRUE;
}

DWORD GetTickCount() {
    return static_cast<DWORD>(MonotonicMilliseconds());
}

void GetLocalTime(SYSTEMTIME* time) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    time->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);  // no leap second
    time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1'000'000);
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) pause();
    }
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1'000'000};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

namespace {
const ModuleExports kExports("kernel32.dll",
                             {{"QueryPerformanceCounter", Export(&QueryPerformanceCounter)},
                              {"QueryPerformanceFrequency", Export(&QueryPerformanceFrequency)},
                              {"GetTickCount", Export(&GetTickCount)},
                              {"GetLocalTime", Export(&GetLocalTime)},
                              {"Sleep", Export(&Sleep)}});
}  // namespace

}  // namespace kernel32

namespace winmm {

DWORD timeGetTime() {
    return static_cast<DWORD>(MonotonicMilliseconds());
}

MMRESULT timeBeginPeriod(UINT period) {
    return period >= 1 && period <= 1'000'000 ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

MMRESULT timeEndPeriod(UINT period) {
    return period >= 1 && period <= 1'000'000 ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

namespace {
const ModuleExports kExports("winmm.dll", {{"timeGetTime", Export(&timeGetTime)},
                                           {"timeBeginPeriod", Export(&timeBeginPeriod)},
                                           {"timeEndPeriod", Export(&timeEndPeriod)}});
}  // namespace

}  // namespace winmm

}  // namespace platform
