// Pixel-format records of the image module.
#include "Main/DxBaseImage.h"

#include <bit>
#include <cstring>

namespace ZiDaz {

namespace {

void DescribeMask(std::uint32_t mask, std::uint8_t* width, std::uint8_t* position) {
    if (mask == 0) {
        *width = 0;
        *position = 0;
        return;
    }
    *position = static_cast<std::uint8_t>(std::countr_zero(mask));
    *width = static_cast<std::uint8_t>(std::popcount(mask));
}

}  // namespace

int InitColorFormatFromMasks(COLORFORMAT* format, int bitsPerPixel, std::uint32_t redMask,
                             std::uint32_t greenMask, std::uint32_t blueMask,
                             std::uint32_t alphaMask, int channelCount, int bitsPerChannel,
                             int floatFlag) {
    std::memset(format, 0, sizeof(*format));
    if (redMask == 0 && greenMask == 0 && blueMask == 0 && alphaMask == 0) {
        format->ChannelCount = static_cast<std::uint8_t>(channelCount);
        format->BitsPerChannel = static_cast<std::uint8_t>(bitsPerChannel);
        format->FloatFlag = static_cast<std::uint8_t>(floatFlag);
        format->BitsPerPixel = static_cast<std::uint8_t>(channelCount * bitsPerChannel);
        format->BytesPerPixel = static_cast<std::uint8_t>(format->BitsPerPixel / 8);
        return 0;
    }
    format->BitsPerPixel = static_cast<std::uint8_t>(bitsPerPixel);
    format->BytesPerPixel = static_cast<std::uint8_t>(bitsPerPixel / 8);
    format->RedMask = redMask;
    format->GreenMask = greenMask;
    format->BlueMask = blueMask;
    format->AlphaMask = alphaMask;
    DescribeMask(redMask, &format->RedWidth, &format->RedPosition);
    DescribeMask(greenMask, &format->GreenWidth, &format->GreenPosition);
    DescribeMask(blueMask, &format->BlueWidth, &format->BluePosition);
    DescribeMask(alphaMask, &format->AlphaWidth, &format->AlphaPosition);
    const std::uint32_t all = bitsPerPixel >= 32 ? 0xFFFFFFFFu : ((1u << bitsPerPixel) - 1u);
    format->NoneMask = all & ~(redMask | greenMask | blueMask | alphaMask);
    return 0;
}

}  // namespace ZiDaz
