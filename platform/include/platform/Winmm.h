// winmm entry points implemented by the platform layer: the multimedia timer's clock.
#pragma once

#include "platform/WinTypes.h"

namespace platform::winmm {

// Milliseconds since the system started (CLOCK_MONOTONIC), wrapping after 2^32.
DWORD timeGetTime();
// The timer period: accepted for 1 to 1,000,000 ms (Linux timers need no raising).
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);

}  // namespace platform::winmm
