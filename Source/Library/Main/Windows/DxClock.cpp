// Clocks and waits over the multimedia timer and the high-resolution counter.
#include "Main/Windows/DxClock.h"

#include <atomic>

#include "Main/DxBaseFunc.h"
#include "Main/Windows/DxWinAPI.h"
#include "platform/Modules.h"

namespace ZiDaz {

HighResolutionClockState HighResolutionClock;

namespace {

MessagePumpFunction messagePump = nullptr;

// The multimedia timer's reading at the first use of the millisecond clock.
std::atomic<std::uint32_t> clockOrigin{0};
std::atomic<bool> clockOriginSet{false};

// The multimedia timer entry, with a second load of its library when the table has none.
DWORD (*TimeGetTime())() {
    EnsureSystemApiTable();
    if (SystemApi.timeGetTime == nullptr) {
        if (SystemApi.winmmModule == nullptr) SystemApi.winmmModule = LoadLibraryA("winmm.dll");
        if (SystemApi.winmmModule != nullptr) {
            SystemApi.timeGetTime =
                reinterpret_cast<DWORD (*)()>(GetProcAddress(SystemApi.winmmModule, "timeGetTime"));
        }
    }
    return SystemApi.timeGetTime;
}

// a * b / divisor, truncated: through the 128-bit product unless 64 bits surely hold it (both
// paths give the same result). A zero divisor (no counter) gives 0.
std::uint64_t MultiplyDivide(std::uint64_t a, std::uint64_t b, std::uint64_t divisor) {
    if (divisor == 0) return 0;
    if ((a >> 32) == 0 && (b >> 32) == 0) return a * b / divisor;
    std::uint32_t product[4];
    MultiplyUInt64To128(&a, &b, product);
    std::uint64_t quotient = 0;
    DivideUInt128(product, &divisor, &quotient);
    return quotient;
}

std::uint64_t ReadCounter() {
    LARGE_INTEGER count{};
    SystemApi.QueryPerformanceCounter(&count);
    return static_cast<std::uint64_t>(count.QuadPart);
}

}  // namespace

int QueryHighResolutionClock() {
    EnsureSystemApiTable();
    LARGE_INTEGER frequency{};
    if (SystemApi.QueryPerformanceFrequency == nullptr ||
        !SystemApi.QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) {
        HighResolutionClock.counterPresent = 0;
        HighResolutionClock.frequency = 0;
    } else {
        HighResolutionClock.counterPresent = 1;
        HighResolutionClock.frequency = static_cast<std::uint64_t>(frequency.QuadPart);
    }
    return HighResolutionClock.counterPresent;
}

int ReadMillisecondClock() {
    DWORD (*timeGetTime)() = TimeGetTime();
    if (timeGetTime == nullptr) return -1;
    std::uint32_t now = timeGetTime();
    if (!clockOriginSet.load(std::memory_order_acquire)) {
        std::uint32_t expected = 0;
        clockOrigin.compare_exchange_strong(expected, now);
        clockOriginSet.store(true, std::memory_order_release);
    }
    return static_cast<int>((now - clockOrigin.load(std::memory_order_relaxed)) & 0x7FFFFFFF);
}

int MillisecondsElapsed(int now, int start) {
    return static_cast<int>((static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(start)) &
                            0x7FFFFFFF);
}

void ResetMillisecondClockOrigin() {
    clockOrigin.store(0);
    clockOriginSet.store(false);
}

namespace {
std::atomic<MicrosecondClockFunction> microsecondClockOverride{nullptr};
}  // namespace

void SetMicrosecondClockOverride(MicrosecondClockFunction clock) {
    microsecondClockOverride.store(clock);
}

std::int64_t ReadMicrosecondClock() {
    if (MicrosecondClockFunction clock = microsecondClockOverride.load()) return clock();
    EnsureSystemApiTable();
    if (HighResolutionClock.counterPresent) {
        return static_cast<std::int64_t>(
            MultiplyDivide(ReadCounter(), 1'000'000, HighResolutionClock.frequency));
    }
    DWORD (*timeGetTime)() = TimeGetTime();
    if (timeGetTime == nullptr) return -1;
    return static_cast<std::int64_t>(timeGetTime()) * 1000;
}

std::uint64_t ReadTickCounter() {
    EnsureSystemApiTable();
    if (HighResolutionClock.counterPresent) return ReadCounter();
    DWORD (*timeGetTime)() = TimeGetTime();
    return timeGetTime == nullptr ? 0 : timeGetTime();
}

std::int64_t MillisecondsToTicks(std::int64_t milliseconds) {
    // Negative spans convert as their two's-complement bit pattern, as the counter arithmetic
    // of the callers expects.
    return static_cast<std::int64_t>(MultiplyDivide(static_cast<std::uint64_t>(milliseconds),
                                                    HighResolutionClock.frequency, 1000));
}

std::int64_t TicksToMicroseconds(std::uint64_t ticks) {
    return static_cast<std::int64_t>(
        MultiplyDivide(ticks, 1'000'000, HighResolutionClock.frequency));
}

std::int64_t TicksToNanoseconds(std::uint64_t ticks) {
    return static_cast<std::int64_t>(
        MultiplyDivide(ticks, 1'000'000'000, HighResolutionClock.frequency));
}

int ReadLocalDateTime(LocalDateTime* time) {
    EnsureSystemApiTable();
    SYSTEMTIME now{};
    SystemApi.GetLocalTime(&now);
    time->year = now.wYear;
    time->month = now.wMonth;
    time->day = now.wDay;
    time->hour = now.wHour;
    time->minute = now.wMinute;
    time->second = now.wSecond;
    return 0;
}

void SleepMilliseconds(int milliseconds) {
    EnsureSystemApiTable();
    SystemApi.Sleep(milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds));
}

void SetWaitMessagePump(MessagePumpFunction pump) {
    messagePump = pump;
}

int WaitPumpingMessages(int milliseconds) {
    std::uint64_t start = ReadTickCounter();
    if (milliseconds > 4) {
        std::uint64_t softEnd =
            start + static_cast<std::uint64_t>(MillisecondsToTicks(milliseconds - 4));
        while (ReadTickCounter() < softEnd) {
            if (messagePump != nullptr && messagePump() != 0) return 0;
            SleepMilliseconds(1);
        }
    }
    std::uint64_t end = start + static_cast<std::uint64_t>(MillisecondsToTicks(milliseconds));
    while (ReadTickCounter() < end) {
    }
    return 0;
}

}  // namespace ZiDaz
