// The library's clocks and waits: the millisecond clock (the game's frame and timer clock), the
// microsecond clock, the raw high-resolution counter with exact conversions of its ticks, the
// local date and time, a plain sleep and a wait that keeps pumping window messages.
#pragma once

#include <cstdint>

namespace ZiDaz {

// The high-resolution counter as the library start found it.
struct HighResolutionClockState {
    int counterPresent;       // 1 when the counter reports a nonzero frequency
    std::uint64_t frequency;  // its ticks per second
};
extern HighResolutionClockState HighResolutionClock;

// Queries the counter's frequency (library start); until then the clocks fall back to the
// multimedia timer. Returns counterPresent.
int QueryHighResolutionClock();

struct LocalDateTime {
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

// Milliseconds, never negative (31 bits); -1 when the multimedia timer is not available. The
// clock counts from its first reading in this process, so it does not wrap for 24.8 days of
// running time; callers that measure spans should still use MillisecondsElapsed, which is
// correct across the wrap as well.
int ReadMillisecondClock();
// now - start on the 31-bit clock, modulo 2^31.
int MillisecondsElapsed(int now, int start);
// Microseconds: counter x 1,000,000 / frequency, else the multimedia timer x 1,000; -1 when
// neither is available.
std::int64_t ReadMicrosecondClock();
// The raw counter; without it the multimedia timer (1 tick = 1 ms); 0 when neither exists.
std::uint64_t ReadTickCounter();
// Exact truncated conversions (a 128-bit product where 64 bits might not hold it). With no
// counter (frequency 0) every conversion yields 0.
std::int64_t MillisecondsToTicks(std::int64_t milliseconds);
std::int64_t TicksToMicroseconds(std::uint64_t ticks);
std::int64_t TicksToNanoseconds(std::uint64_t ticks);
int ReadLocalDateTime(LocalDateTime* time);
// Sleeps; 0 gives up the rest of the time slice.
void SleepMilliseconds(int milliseconds);
// Pumps window messages and sleeps until 4 ms before the end, then spins on the counter without
// pumping. Returns 0, early when the pump reports the quit message.
int WaitPumpingMessages(int milliseconds);

// The message pump the wait calls (the library's PumpMessagesUnlocked, installed by the library
// start; nonzero when the quit message came). Null: the wait only sleeps.
using MessagePumpFunction = int (*)();
void SetWaitMessagePump(MessagePumpFunction pump);

// The seconds the heaps stamp into their blocks and the log's origin use this clock too.
// For tests: forget the clock's origin, so the next reading starts it again.
void ResetMillisecondClockOrigin();
// For tests: a function that answers ReadMicrosecondClock in place of the counter (null puts the
// counter back), so that what runs on the clock can be driven step by step.
using MicrosecondClockFunction = std::int64_t (*)();
void SetMicrosecondClockOverride(MicrosecondClockFunction clock);

}  // namespace ZiDaz
