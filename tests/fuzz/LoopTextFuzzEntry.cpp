#include "fuzz/LoopTextFuzzEntry.h"

#include <cstdlib>

#include "Main/DuZuder.h"

int RunLoopTextFuzzInput(const std::uint8_t* data, std::size_t size) {
    std::int32_t point = -7;
    std::int32_t start = -7;
    const int result = ZiDaz::ParseLoopText(data, size, &point, &start);
    if (result == 0 && (point < 0 || start <= point)) std::abort();
    if (result != 0 && (point != -7 || start != -7)) std::abort();  // a refusal changes nothing
    return 0;
}
