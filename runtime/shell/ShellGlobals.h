// Process-wide values of the runtime shell that several services read.
#pragma once

#include <cstdint>

// The language of user-visible text: 0 Japanese, 1 English (the value before start-up sets it).
extern std::int32_t UiLanguage;
