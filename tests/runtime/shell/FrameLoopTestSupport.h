// A virtual clock for the frame loop: both clocks read one microsecond counter that only waits,
// the pump and the frame's own work advance, so pacing can be checked to the microsecond.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/shell/FrameCounters.h"
#include "runtime/shell/Game_Scene.h"

namespace frame_test {

struct VirtualClock {
    std::int64_t nowUs = 1000000;
    // Every pump call advances the clock by this much.
    std::int64_t pumpStepUs = 1;
    // The pump reports the end after this many calls (negative: never).
    std::int64_t pumpCallsLeft = -1;
    std::vector<std::int32_t> waits;
    std::int64_t pumpCalls = 0;
};

inline VirtualClock& Clock() {
    static VirtualClock clock;
    return clock;
}

inline std::int32_t Milliseconds() {
    return static_cast<std::int32_t>(Clock().nowUs / 1000);
}
inline std::int64_t Microseconds() {
    return Clock().nowUs;
}
inline void Wait(std::int32_t ms) {
    Clock().waits.push_back(ms);
    if (ms > 0) Clock().nowUs += std::int64_t{ms} * 1000;
}
inline int Pump() {
    VirtualClock& c = Clock();
    ++c.pumpCalls;
    c.nowUs += c.pumpStepUs;
    if (c.pumpCallsLeft == 0) return 1;
    if (c.pumpCallsLeft > 0) --c.pumpCallsLeft;
    return 0;
}
inline std::int32_t CounterClock() {
    return Milliseconds() & 0x7FFFFFFF;
}

// Installs the virtual clock for the frame loop and the frame counters; puts the library's back.
class VirtualClockScope {
  public:
    VirtualClockScope() {
        Clock() = VirtualClock{};
        GetFrameClock() = FrameClock{Milliseconds, Microseconds, Wait, Pump};
        SetFrameCounterClock(CounterClock);
        ResetFrameCounters();
    }
    ~VirtualClockScope() {
        ResetFrameClock();
        SetFrameCounterClock(nullptr);
        ResetFrameCounters();
    }
    VirtualClockScope(const VirtualClockScope&) = delete;
    VirtualClockScope& operator=(const VirtualClockScope&) = delete;
};

}  // namespace frame_test
