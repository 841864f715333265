// How many game frames really run per second, the play time in seconds, and the drawing
// frame-skip level. The measured rate steers the frame loop's pacing; play time and the rates are
// readable by the event script as system variables.
//
// The millisecond clock is 31 bits wide (it wraps after about 24.8 days of uptime): every
// interval is taken modulo 2^31, so the counters keep counting across the wrap.
#pragma once

#include <cstdint>

// Counts one game frame when countFrame is set, advances the play-time seconds on a grid that
// does not drift, and returns the frames counted in the last two completed half-second windows.
int UpdateFrameCounters(bool countFrame);
// Level 0, 1 or 2 (clamped): drawing every frame, every second or every fourth; stored in the live
// system state and in the "Game.ini" value.
void SetFrameSkipLevel(int level);

// The millisecond clock the counters read (the library's, masked to 31 bits). Tests step it.
using FrameClockFunction = std::int32_t (*)();
void SetFrameCounterClock(FrameClockFunction clock);
// Forgets the counters' windows, as before the first call (the process normally never does).
void ResetFrameCounters();
// Milliseconds between two readings of the 31-bit clock.
inline std::int32_t ClockInterval(std::int32_t later, std::int32_t earlier) {
    return static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(later) - static_cast<std::uint32_t>(earlier)) & 0x7FFFFFFFu);
}

#include <string>

// The game's window title: the title template (empty = the built-in one) with "<TITLE>",
// "<TITLE_PLUS>" and "<SOFT>" replaced; a window title set by the event script replaces it whole.
std::string BuildGameTitleText(const std::string& titleTemplate, const std::string& title,
                               const std::string& titlePlus, bool softwareMode,
                               const std::string& scriptTitle);
// The test-play title's frame load: "ms.tenthsms" and a bar that grows with the milliseconds.
std::string BuildFrameLoadText(std::int64_t microseconds);
