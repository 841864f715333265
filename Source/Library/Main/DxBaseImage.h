// Images in memory (BASEIMAGE), their pixel-format records (COLORFORMAT), colour composition in
// a format and the one converter of pixel rectangles between any two formats.
#pragma once

#include <cstdint>
#include <type_traits>

#include "platform/WinTypes.h"

struct BITMAPINFO;

namespace ZiDaz {

// A pixel format. Plain formats describe each channel by its mask, the mask's width in bits and
// its lowest bit; channel formats (1 to 4 equal channels of 8, 16 or 32 bits, integer or float,
// red first in memory) by channel count and bits per channel. A format of one byte per pixel and
// no channel count is a palette format: its pixels are indices and its masks describe the palette
// entries.
struct COLORFORMAT {
    std::uint8_t FormatKind;  // 0 plain pixels, 1..5 DXT1..DXT5 blocks, 6 and 7 BC7 blocks
    std::uint8_t ChannelCount;
    std::uint8_t BitsPerChannel;
    std::uint8_t FloatFlag;
    std::uint8_t BytesPerPixel;
    std::uint8_t BitsPerPixel;
    std::uint8_t UnusedPosition;
    std::uint8_t UnusedWidth;
    std::uint8_t RedWidth, GreenWidth, BlueWidth, AlphaWidth;
    std::uint8_t RedPosition, GreenPosition, BluePosition, AlphaPosition;
    std::uint32_t RedMask, GreenMask, BlueMask, AlphaMask;
    std::uint32_t UnusedMask;  // bits that no channel covers; composition sets them to 1
    std::int32_t HighestPaletteIndex;
    std::uint8_t Palette[256][4];  // blue, green, red, fourth byte
};

// An image in memory, top row first; rows are Pitch bytes apart.
struct BASEIMAGE {
    COLORFORMAT Format;
    std::int32_t Width;
    std::int32_t Height;
    std::int32_t Pitch;
    void* Pixels;
    std::int32_t MipCount;    // 0 or 1 for one level
    std::int32_t ImageCount;  // 0 for one image, 6 for a cube map
};

// Clears the format and fills it: a channel format when channel count and channel bits are both
// non-zero, otherwise a mask-described format of the given bits per pixel. Returns 0.
int InitColorFormatFromMasks(COLORFORMAT* format, int bitsPerPixel, std::uint32_t redMask,
                             std::uint32_t greenMask, std::uint32_t blueMask,
                             std::uint32_t alphaMask, int channelCount, int bitsPerChannel,
                             int floatFlag);

// Builders of the common formats. Each writes the layout fields and leaves the palette untouched;
// each returns 0.
int InitColorFormatArgb8(COLORFORMAT* format);
int InitColorFormatAbgr8(COLORFORMAT* format);
int InitColorFormatXrgb8(COLORFORMAT* format);
int InitColorFormatRgb24(COLORFORMAT* format);
int InitColorFormatBgr24(COLORFORMAT* format);
int InitColorFormatR5G6B5(COLORFORMAT* format);
int InitColorFormatX1R5G5B5(COLORFORMAT* format);
int InitColorFormatPal8(COLORFORMAT* format);
// An 8-bit palette format with the library's default palette (3 bits red, 3 bits green, blue from
// index bits 5 and 6); the entries' fourth byte is their alpha when withAlpha is set. Returns 0.
int InitDefaultPaletteFormat(COLORFORMAT* format, int withAlpha);
// Sets the unused mask from the bits per pixel and the four channel masks. Returns 0.
int RecomputeColorFormatUnusedMask(COLORFORMAT* format);

// ---- Base images ------------------------------------------------------------------------------

// The set-ups fill the format, width, height and pitch (rounded up to 4 bytes) and allocate the
// pixels, left uninitialised. A negative size, a pitch beyond 32 bits or an image above
// kMaxBaseImageBytes is refused like a failed allocation: pixels null, result -1.
inline constexpr std::int64_t kMaxBaseImageBytes = std::int64_t{1} << 30;
int NewBaseImageArgb8(int width, int height, BASEIMAGE* image);
int NewBaseImageXrgb8(int width, int height, BASEIMAGE* image);
int NewBaseImageRgb24(int width, int height, BASEIMAGE* image);
int NewBaseImagePal8(int width, int height, BASEIMAGE* image, int withAlpha);
int NewBaseImageRgbaFloat32(int width, int height, BASEIMAGE* image);
int NewBaseImageInFormat(int width, int height, const COLORFORMAT* format, BASEIMAGE* image);
// Frees owned pixels and clears the record. Returns 0.
int DisposeBaseImage(BASEIMAGE* image);
// A record sharing the source's pixels of (left, top)-(right, bottom); single-level plain images
// only. The view is never disposed. Returns 0, or -1 for a rectangle outside the source.
int MakeBaseImageView(const BASEIMAGE* source, int left, int top, int right, int bottom,
                      BASEIMAGE* view);
// Bytes of one image with its mip levels, or -1 for an unknown format.
int BaseImageDataSize(const BASEIMAGE* image);
// The highest index used by an 8-bit image, -1 for other images.
int MaxUsedPaletteIndex(const BASEIMAGE* image);

// The colour argument of the drawing calls: 0xFFRRGGBB with a device, else packed in the software
// screen's format.
std::uint32_t ComposeScreenColor(int red, int green, int blue);
int DecomposeScreenColor(std::uint32_t color, int* red, int* green, int* blue);

// One pixel as 0xAARRGGBB with each field in the top bits of its byte (no bit replication).
std::uint32_t ReadBaseImagePixelArgb(const BASEIMAGE* image, int x, int y);
// One pixel as channels of 0..255 (float channels times 255, not clamped). Decodes a
// block-compressed image in place first. Outputs may be null. Returns 0, or -1 outside the image
// or for a format that cannot be read.
int ReadBaseImagePixelRgba(BASEIMAGE* image, int x, int y, int* red, int* green, int* blue,
                           int* alpha);
int WriteBaseImagePixelRgba(BASEIMAGE* image, int x, int y, int red, int green, int blue,
                            int alpha);

struct Float4 {
    float x, y, z, w;
};
Float4* SetFloat4(Float4* record, float red, float green, float blue, float alpha);
// 0xAARRGGBB of the four low bytes.
std::uint32_t PackArgbColor(int red, int green, int blue, int alpha);

// The name of an image's separate alpha file: "_a" inserted before the last ".", or appended.
// The output is cut to bufferBytes (always terminated). Returns 0.
int MakeAlphaImageFileName(const char16_t* name, char16_t* output, int bufferBytes);

// ---- The module -------------------------------------------------------------------------------

inline constexpr int kMaxUserImageReaders = 10;
using UserImageReaderEntry = void (*)();

// Built once at library start, read-only afterwards.
struct BaseImageModuleStateData {
    std::int32_t Initialised;
    // Entry k is k - 512 limited to 0..255: a value v of -512..767 is clamped by entry v + 512.
    std::uint8_t ByteClampTable[1280];
    // 14 fraction bits: V to red, U to green, V to green, U to blue, luma.
    std::int32_t YuvCoefficientTables[5][256];
    std::uint8_t Multiply255Table[256][256];  // a * b / 255
    std::uint8_t Divide255Table[256][256];    // a * 255 / b limited to 255; 0 for b = 0
    UserImageReaderEntry UserReaders[kMaxUserImageReaders];
    std::int32_t UserReaderCount;
};
extern BaseImageModuleStateData BaseImageModuleState;

inline constexpr int kYuvVToRed = 0;
inline constexpr int kYuvUToGreen = 1;
inline constexpr int kYuvVToGreen = 2;
inline constexpr int kYuvUToBlue = 3;
inline constexpr int kYuvLuma = 4;

// Copies the registered user readers and their count into an image-load parameter record (its
// UserReaders, UserReaderCount and HeaderOnly fields) and stores the header-only flag.
template <class LoadParams>
int CopyUserImageReaders(LoadParams* params, int headerOnly) {
    using Entry = std::remove_reference_t<decltype(params->UserReaders[0])>;
    const int count = BaseImageModuleState.UserReaderCount;
    for (int i = 0; i < count && i < kMaxUserImageReaders; ++i) {
        params->UserReaders[i] = reinterpret_cast<Entry>(BaseImageModuleState.UserReaders[i]);
    }
    params->UserReaderCount = count;
    params->HeaderOnly = headerOnly;
    return 0;
}

// Builds the tables and starts the platform image reader: -1 when already started.
int InitBaseImageModule();
// -1 when not started.
int EndBaseImageModule();

// The pixel value of an 8-bit-per-channel colour in a format: the nearest palette entry's index
// in a palette format, otherwise each channel's top bits at its position with the unused bits set.
std::uint32_t ComposeFormatColor(const COLORFORMAT* format, int red, int green, int blue,
                                 int alpha);
// Splits a pixel value into channels of 0..255 (alpha 0 when the format has none). Each output
// may be null. Returns 0.
int DecomposeFormatColor(const COLORFORMAT* format, std::uint32_t value, int* red, int* green,
                         int* blue, int* alpha);

// Half floats: no special cases beyond zero (subnormals, infinities and NaNs come out as normal
// numbers of that exponent; large values keep exponent 31 with their mantissa).
float HalfToFloat(std::uint16_t half);
std::uint16_t FloatToHalf(float value);

// Copies sourceRect of the source to (destX, destY) of the destination, converting from the
// source format to the destination format. The alpha image, when given and used, supplies each
// pixel's alpha from its red channel at the source's coordinates. keyToAlpha turns the colour
// keyColor (0xRRGGBB) into alpha 0; colorToZero keeps only the alpha; alphaFromRed writes the
// source's red field as the alpha; paletteRemap maps indices between differing palettes. Does not
// clip. Returns -1 for an empty rectangle or an unsupported combination, the highest index copied
// for a plain copy between 8-bit images, else 0. The three reserved arguments are passed as 0.
int ConvertPixelRect(void* destPixels, int destPitch, const COLORFORMAT* destFormat,
                     const void* sourcePixels, int sourcePitch, const COLORFORMAT* sourceFormat,
                     const void* alphaPixels, int alphaPitch, const COLORFORMAT* alphaFormat,
                     int destX, int destY, const RECT* sourceRect, int reserved1, int keyToAlpha,
                     std::uint32_t keyColor, int reserved2, int colorToZero, int alphaFromRed,
                     int reserved3, int paletteRemap);

// Copies (sourceX, sourceY, width, height) of source to (destX, destY) of dest, clipped to both
// images, through ConvertPixelRect with palette remapping. Block-compressed images are decoded in
// place first. Returns 0 (also when nothing is left after clipping), or -1 when the decoding or
// the conversion is refused.
int CopyBaseImageRect(int sourceX, int sourceY, int width, int height, int destX, int destY,
                      BASEIMAGE* source, BASEIMAGE* dest);
int CopyWholeBaseImage(int destX, int destY, BASEIMAGE* source, BASEIMAGE* dest);
// Fills a top-down BI_RGB header (8 bits with the image's palette, else 24 bits; an 8-bit image's
// info must have room for 256 colours) and returns the pixel bits in *bits: 1 when they are a new
// buffer the caller frees with FreeTrackedMemory, 0 when they are the image's own, -1 on failure.
int BaseImageToBitmapInfo(BASEIMAGE* image, BITMAPINFO* info, void** bits, int copy,
                          int force24Bit);
// Writes the half-size image of a width x height rectangle (each 1 or even) of a 16- or 32-bit
// format. Returns 0 or -1.
int DownsampleHalfRect(const COLORFORMAT* format, void* destPixels, int destPitch,
                       const void* sourcePixels, int sourcePitch, int destX, int destY, int sourceX,
                       int sourceY, int width, int height);

// ---- Decoding ---------------------------------------------------------------------------------

// Decodes the top level of every face of a DXT1..DXT5 image into a new ARGB8 buffer of whole
// blocks; frees the old pixels when freeOld is set. 0 for plain images, -1 for BC7 or other
// formats and when out of memory (the image is then unchanged).
int DecodeBlockCompressedBaseImage(BASEIMAGE* image, int freeOld);
// Turns the image into premultiplied ARGB8 in place. Returns 0, or -1 (image unchanged).
int PremultiplyBaseImageAlpha(BASEIMAGE* image);

// YUV frames of 8-bit samples, rows unpadded, into a 32-bit image (blue, green, red, 255). A
// remainder row or column that makes no whole chroma group is left untouched. Return 0.
int UnpackNv11Frame(const void* frame, int width, int height, BASEIMAGE* dest);
int UnpackNv12Frame(const void* frame, int width, int height, BASEIMAGE* dest);
int UnpackYv12Frame(const void* frame, int width, int height, BASEIMAGE* dest);
int UnpackUyvyFrame(const void* frame, int width, int height, BASEIMAGE* dest);
int UnpackYuy2Frame(const void* frame, int width, int height, BASEIMAGE* dest);
int UnpackYvyuFrame(const void* frame, int width, int height, BASEIMAGE* dest);
// The frame's luma into a width x height buffer and its chroma into interleaved U, V pairs at the
// layout's resolution. Return 0.
int SplitNv11FrameYuv(const void* frame, int width, int height, void* luma, void* chroma);
int SplitNv12FrameYuv(const void* frame, int width, int height, void* luma, void* chroma);
int SplitYv12FrameYuv(const void* frame, int width, int height, void* luma, void* chroma);
int SplitUyvyFrameYuv(const void* frame, int width, int height, void* luma, void* chroma);
int SplitYuy2FrameYuv(const void* frame, int width, int height, void* luma, void* chroma);
int SplitYvyuFrameYuv(const void* frame, int width, int height, void* luma, void* chroma);

}  // namespace ZiDaz

// --- Image readers, writers, drawing into base images and Windows DIBs ----------------------

#include "Main/DxFile.h"
#include "platform/Gdi32.h"

namespace ZiDaz {

// What a reader reads through: the stream functions with their stream.
struct ImageReaderAccess {
    const StreamReaderOps* Ops;
    void* Stream;
};
// A reader: 0 when it recognised the data and filled the cleared image, -1 otherwise (having
// freed what it allocated). With headerOnly it fills format, width and height only.
using ImageReader = int (*)(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly);
using UserImageReader = int (*)(ImageReaderAccess* access, BASEIMAGE* image);

// The parameters of one image load, copied from the module's settings at its start.
struct ImageLoadParams {
    UserImageReader UserReaders[10];
    std::int32_t UserReaderCount;
    std::int32_t HeaderOnly;
    StreamFunctionTable StreamFunctions;
    StreamReaderOps FileAccess;
    StreamReaderOps MemoryAccess;
    std::int32_t ConvertToPremultipliedAlpha;
    std::int32_t DecodeBlockFormats;
    std::int32_t UseTransparentColor;
    std::uint32_t TransparentColor;  // 0x00RRGGBB
};

// The module's image-load settings and its platform reader order (1: the platform reader last).
struct ImageLoadSettings {
    std::int32_t ConvertToPremultipliedAlpha;
    std::int32_t DecodeBlockFormats;
    std::int32_t UseTransparentColor;
    std::uint32_t TransparentColor;
    std::int32_t PlatformReadersLast;
};
extern ImageLoadSettings BaseImageLoadSettings;
// The built-in readers in their fixed order (BMP, JPEG, PNG, PNG through libpng, TGA, DDS, TIFF,
// "BGRA", "DBIM"), and the platform's, each ending with null.
extern ImageReader ImageLoaderTable[10];
extern ImageReader PlatformImageReaderTable[2];

int InitColorFormatGray8(COLORFORMAT* format);
void InitImageLoadParams(ImageLoadParams* params, int headerOnly);
int RunImageReaders(const ImageLoadParams* params, ImageReaderAccess* access, BASEIMAGE* image);
int ReadImageWithParams(const ImageLoadParams* params, const char16_t* path, const void* memory,
                        std::size_t memorySize, int fromMemory, int makeDib, int mirror,
                        int separateAlpha, BASEIMAGE* result, BITMAPINFO** bitmapInfo,
                        void** pixelBits);
int ReadImageToBaseImage(const char16_t* path, const void* memory, std::size_t memorySize,
                         int fromMemory, int makeDib, int mirror, int separateAlpha,
                         BASEIMAGE* result, BITMAPINFO** bitmapInfo, void** pixelBits);
int LoadBaseImageWithAlphaFile(const ImageLoadParams* params, const char16_t* path,
                               const void* memory, std::size_t memorySize, int fromMemory,
                               const void* alphaMemory, std::size_t alphaMemorySize, int alphaMode,
                               BASEIMAGE* result, BASEIMAGE* alphaResult, int mirror,
                               int separateAlpha);

int ReadBmpImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly);
int ReadTgaImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly);
int ReadDdsImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly);
int ReadBgraImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly);
int ReadDbimImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly);
int WriteBaseImageBmpFile(const char16_t* path, const BASEIMAGE* image);

// PNG, JPEG and TIFF. The own PNG decoder (Main/DxBaseImagePng.cpp) reads non-interlaced files
// from memory streams only; the libpng reader takes what it refuses. The readers built on the
// outside libraries and the PNG and JPEG writers live in Main/DxUseCLib.cpp.
int ReadPngImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly);
int ReadPngImageLibpng(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly);
int ReadJpegImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly);
int ReadTiffImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly);
// Writers: 8-bit RGB PNG (RGBA when the image has alpha) at a zlib level 0 to 9, and baseline
// JPEG at a quality of 1 to 100 (the sampling flag is not used). With a null UTF-16 path the
// narrow path, in the library's narrow encoding, is used. 0, or -1 (a partly written file stays).
int EncodePngFile(const char16_t* path, const char* narrowPath, BASEIMAGE* image,
                  int compressionLevel);
int WriteBaseImagePngFile(const char16_t* path, BASEIMAGE* image, int compressionLevel);
int EncodeJpegFile(const char16_t* path, const char* narrowPath, BASEIMAGE* image, int quality,
                   int samplingFlag);
int WriteBaseImageJpegFile(const char16_t* path, BASEIMAGE* image, int quality, int samplingFlag);
int WriteBaseImageDdsFile(const char16_t* path, const BASEIMAGE* images, int cube, int mipCount);

int ZeroBaseImageRect(BASEIMAGE* image, int x, int y, int width, int height);
int FillBaseImage(BASEIMAGE* image, int red, int green, int blue, int alpha);
int FillBaseImageRect(BASEIMAGE* image, int x, int y, int width, int height, int red, int green,
                      int blue, int alpha);
int DrawCircleInBaseImage(BASEIMAGE* image, int centreX, int centreY, int radius, int red,
                          int green, int blue, int alpha, int fill);
int FlipBaseImageVertically(BASEIMAGE* image);
int MirrorBaseImageHorizontally(BASEIMAGE* image);

// Windows DIBs (Main/Windows/DxBaseImageWin.cpp).
// Draws a packed DIB through the system into a new 24-bit top-down image (format RGB24); -1 when
// the system copies no line of it or memory runs out.
int ConvertDibToRgb24(const BITMAPINFO* info, const void* bits, std::size_t bitsSize,
                      BASEIMAGE* image);
int ReadBitmapInfoImage(const BITMAPINFO* info, const void* bits, BASEIMAGE* image, int copy);
HGDIOBJ__* BuildDIBSection(const BITMAPINFO* info, const void* bits, int mirror,
                           COLORFORMAT* format);
HGDIOBJ__* LoadImageAsDIBSection(const char16_t* fileName, const void* memory,
                                 std::size_t memorySize, int fromMemory, int mirror,
                                 COLORFORMAT* format);
HGDIOBJ__* CreateDIBGraph(const char16_t* fileName, int mirror, COLORFORMAT* format);
// The Windows Imaging Component reader; the component is absent on this platform, so the factory
// stays null and the reader refuses every image.
int StartWicImageReader();
int EndWicImageReader();
int ReadWicImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly);

}  // namespace ZiDaz
