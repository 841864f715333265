#include "runtime/shell/GameRandom.h"

#include "platform/Kernel32.h"

namespace {
constexpr std::uint64_t kMultiplier = 16807;
constexpr std::uint64_t kModulus = 2147483647;
constexpr std::uint32_t kLargest = 2000000000;
}  // namespace

std::uint32_t ParkMillerStep(std::uint32_t state) {
    return static_cast<std::uint32_t>((state * kMultiplier) % kModulus);
}

std::uint32_t GameRandomStep(std::uint32_t state) {
    std::uint32_t next = ParkMillerStep(state);
    while (next > kLargest) next = ParkMillerStep(next);
    return next;
}

std::uint32_t GameRandom(int mode, std::uint32_t value) {
    static std::uint32_t state =
        platform::kernel32::GetTickCount();  // thread-safe one-time initialisation
    if (mode == 0) {
        state = GameRandomStep(state);
    } else if (mode == 2) {
        state = value;
    }
    if (state == 0) state = platform::kernel32::GetTickCount();
    return state;
}
