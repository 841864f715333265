// The debug window's state that the event script writes to: whether the window is open, whether
// its text changed since the last refresh, and the variables whose writes are watched. The text
// itself is DebugWindowText (RuntimeError.h).
#pragma once

#include <cstdint>
#include <set>

// 1 from the window's creation until its destruction, else 0.
extern std::int32_t DebugWindowOpen;
// 1 when text was added or removed since the last refresh.
extern std::int32_t DebugWindowDirty;
// Variable ids whose writes add a watch line (filled by the debug-text command).
extern std::set<std::int32_t> DebugWatchedVariables;
// Picture ids whose changes add a watch line (filled by the debug-text command).
extern std::set<std::int32_t> DebugWatchedPictures;
