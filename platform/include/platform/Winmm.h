// winmm entry points implemented by the platform layer: the multimedia timer's clock.
#pragma once

#include "platform/WinTypes.h"

namespace platform::winmm {

// Milliseconds since the system started (CLOCK_MONOTONIC), wrapping after 2^32.
DWORD timeGetTime();
// The timer period: accepted for 1 to 1,000,000 ms (Linux timers need no raising).
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);

// Joysticks by id 0..15: the attached SDL joysticks that XInput does not serve, in SDL's order.
// Axes 0..65535 (X, Y, Z, R, U, V), up to 32 buttons, one point-of-view hat in hundredths of a
// degree (JOY_POVCENTERED when centred).
MMRESULT joyGetDevCapsW(UINT_PTR id, JOYCAPSW* caps, UINT size);
MMRESULT joyGetPosEx(UINT id, JOYINFOEX* info);

}  // namespace platform::winmm
