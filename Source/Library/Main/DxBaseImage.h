// Pixel-format records of the image module: how the channels of a pixel sit in its bits.
#pragma once

#include <cstdint>

namespace ZiDaz {

// A pixel format. Plain formats describe each channel by its mask, the mask's width in bits and
// its lowest bit; single-channel and float formats by channel count and bits per channel.
struct COLORFORMAT {
    std::uint8_t FormatKind;  // 0 plain pixels, 1..5 DXT1..DXT5 blocks, 6 and 7 BC7 blocks
    std::uint8_t ChannelCount;
    std::uint8_t BitsPerChannel;
    std::uint8_t FloatFlag;
    std::uint8_t BytesPerPixel;
    std::uint8_t BitsPerPixel;
    std::uint8_t RedWidth, GreenWidth, BlueWidth, AlphaWidth;
    std::uint8_t RedPosition, GreenPosition, BluePosition, AlphaPosition;
    std::uint32_t RedMask, GreenMask, BlueMask, AlphaMask;
    std::uint32_t NoneMask;        // bits that no channel covers
    std::uint8_t Palette[256][4];  // blue, green, red, fourth byte
};

// Clears the format and fills it from the channel masks; with all masks 0 from the channel
// count, bits per channel and float flag instead. Returns 0.
int InitColorFormatFromMasks(COLORFORMAT* format, int bitsPerPixel, std::uint32_t redMask,
                             std::uint32_t greenMask, std::uint32_t blueMask,
                             std::uint32_t alphaMask, int channelCount, int bitsPerChannel,
                             int floatFlag);

}  // namespace ZiDaz
