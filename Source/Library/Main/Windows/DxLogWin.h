// The log file's append with a conversion block the caller supplies, so that the log can take its
// blocks before its lock (the allocator writes to the log while it holds its own lock).
#pragma once

#include <cstdint>

namespace ZiDaz {

int AppendLogFileInto(const char16_t* path, const char16_t* text, std::uint8_t* utf8, int bytes);

}  // namespace ZiDaz
