// The keys of the three archive key generations. An archive marks its generation in the high 16
// bits of the header's flag word (0, 300 or 314 for generations 10, 11 and 12); the player then
// unscrambles it with the generation's key instead of the one the archive key file names. The
// keys are built when asked for rather than kept as plain text in the program, and our archive
// tool writes archives of each generation with the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace archive_keys {

// Generation 10: 30 characters, each stored shifted by its position.
inline std::string Generation10Key() {
    static constexpr std::uint8_t kStored[30] = {
        0x56, 0x46, 0x4E, 0x6E, 0x24, 0x4F, 0x7B, 0x5A, 0x78, 0x2F, 0x6F, 0x44, 0x80, 0x3D, 0x89,
        0x49, 0x82, 0x75, 0x43, 0x8E, 0x7A, 0x55, 0x6A, 0x90, 0x4A, 0x8C, 0x7E, 0x56, 0x6D, 0x8A};
    std::string key;
    for (std::size_t i = 0; i < 30; ++i) key.push_back(static_cast<char>(kStored[i] - i));
    return key;
}

// Generation 11: 40 characters, two halves of 20 interleaved and masked.
inline std::string Generation11Key() {
    static constexpr std::uint8_t kEven[20] = {0x1B, 0x38, 0x2E, 0x03, 0x12, 0x79, 0x26,
                                               0x33, 0x1F, 0x0C, 0x2A, 0x71, 0x16, 0x3D,
                                               0x05, 0x24, 0x30, 0x7E, 0x1C, 0x2B};
    static constexpr std::uint8_t kOdd[20] = {0x0F, 0x25, 0x7A, 0x19, 0x36, 0x2D, 0x11,
                                              0x08, 0x3B, 0x72, 0x23, 0x14, 0x39, 0x2F,
                                              0x7C, 0x06, 0x1A, 0x35, 0x22, 0x0D};
    constexpr std::uint8_t kMask = 0x4B;
    std::string key;
    for (std::size_t i = 0; i < 20; ++i) {
        key.push_back(static_cast<char>(kEven[i] ^ kMask));
        key.push_back(static_cast<char>(kOdd[i] ^ kMask));
    }
    return key;
}

// Generation 12: 45 characters drawn from a fixed-seed sequence; a zero becomes a blank.
inline std::string Generation12Key() {
    std::uint32_t state = 0x2F6B1D43u;
    std::string key;
    for (int i = 0; i < 45; ++i) {
        state = state * 1103515245u + 12345u;
        char c = static_cast<char>((state >> 16) % 127);
        if (c == 0) c = ' ';
        key.push_back(c);
    }
    return key;
}

// The key of generation 10, 11 or 12; empty for any other.
inline std::string GenerationKey(std::int32_t generation) {
    switch (generation) {
        case 10:
            return Generation10Key();
        case 11:
            return Generation11Key();
        case 12:
            return Generation12Key();
        default:
            return {};
    }
}

// The high 16 bits of the header's flag word that mark generation 10, 11 or 12 (0 for any other).
inline std::uint16_t GenerationMark(std::int32_t generation) {
    return generation == 11 ? 300 : generation == 12 ? 314 : 0;
}

}  // namespace archive_keys
