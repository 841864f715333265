// The software renderer's memory images (MEMIMG), the one global drawing state every software
// drawing operation reads, its exact integer lookup tables, and the plain and stretched transfers
// of one image onto another.
#pragma once

#include <cstdint>

#include "Main/DxBaseImage.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

// Blend modes (the library's public numbering). The software renderer draws 0-4, 10 and 11.
inline constexpr int DX_BLEND_NONE = 0;
inline constexpr int DX_BLEND_ALPHA = 1;
inline constexpr int DX_BLEND_ADD = 2;
inline constexpr int DX_BLEND_SUBTRACT = 3;
inline constexpr int DX_BLEND_MULTIPLY = 4;
inline constexpr int DX_BLEND_INVERT_SOURCE = 10;
inline constexpr int DX_BLEND_MULTIPLY_ALPHA = 11;

inline constexpr std::uint32_t MEMIMG_VALID_CODE = 0x12345678;

// Run-table codes: bits 0-5 hold the run length minus 1, bits 6-7 the kind.
inline constexpr std::uint8_t MEMIMG_RUN_CLEAR = 0x00;
inline constexpr std::uint8_t MEMIMG_RUN_SOLID = 0x40;
inline constexpr std::uint8_t MEMIMG_RUN_BLEND = 0x80;
inline constexpr std::uint8_t MEMIMG_RUN_END = 0xC0;

// Store shared by an image and every view made from it.
struct MemImgShared {
    std::int32_t RefCount;
    std::int32_t Width;
    std::int32_t Height;
    std::int32_t Pitch;
    const COLORFORMAT* Format;
    std::uint32_t UseTransColor;
    std::uint32_t TransColor;  // raw pixel value; a palette index in palette images
    std::uint32_t ColorType;   // 0 R5G6B5, 1 32-bit, 2 8-bit single channel, 3 16-bit single
    std::uint32_t UsePalette;
    std::uint32_t PaletteColorCount;
    std::uint32_t UseAlpha;
    std::uint32_t RunTableValid;
    std::uint32_t UserPixels;
    void* PaletteTable;  // 256 entries of 2 (type 0) or 4 (type 1) bytes; null without palette
    std::uint8_t* Pixels;
    std::uint8_t* RunTable;
};

// An image or a view onto a sub-rectangle of one; owned by the caller.
struct MEMIMG {
    std::uint32_t ValidCode;
    std::int32_t Width;
    std::int32_t Height;
    std::uint8_t* Pixels;  // this image's top-left pixel
    MemImgShared* Shared;
};

// The global drawing state of the software renderer; zero at program start.
struct MemImgDrawStateRecord {
    std::int32_t MemImgScaleTable[256][256];        // [p][v] = floor(p * v / 255)
    std::int32_t MemImgSignedScaleTable[256][512];  // [p][256 + d] = p * d / 255, truncated
    std::uint8_t BlendImageTable[256];
    std::int32_t DefaultColorType;
    RECT DrawArea;
    std::int32_t BlendMode;
    std::int32_t BlendParam;
    std::uint32_t DrawBright;  // 0x??RRGGBB; low 24 bits 0xFFFFFF mean no tint
    struct {
        COLORFORMAT Format;
        std::int32_t Built;
    } MemImgColorFormats[10];
};

extern MemImgDrawStateRecord MemImgDrawState;

// Draw state and tables.
int InitMemImgModule();
void BuildMemImgBlendImageTable(int borderPosition, int borderRange);
int SetDefaultMemImgColorType(int colorType);
int SetMemImgDrawArea(const RECT* area);
int SetMemImgBlendMode(int mode, int param);
int SetMemImgDrawBright(std::uint32_t bright);

// Clips rect into bound in place (right raised to left and bottom to top first). Returns 0.
int ClipRectangle(RECT* rect, const RECT* bound);

// Images.
int SetupMemImg(MEMIMG* image, int width, int height, int pitch, std::uint32_t transColor,
                int colorType, int usePalette, int useAlpha, int withDrawAids, void* userPixels);
int SetupMemImgDefault(MEMIMG* image, int width, int height, int colorType);
void ReleaseMemImg(MEMIMG* image);
int IsMemImgValid(const MEMIMG* image);
void MakeMemImgView(MEMIMG* view, const MEMIMG* source, int x, int y, int width, int height);
const COLORFORMAT* SelectMemImgColorFormat(int colorType, int useAlpha, int usePalette);
void FillMemImgRect(MEMIMG* image, const RECT* rect, std::uint32_t value);
// Bytes per pixel of an image as set up (1 for palette images, 4 for type 0 with alpha).
int MemImgBytesPerPixel(const MemImgShared* shared);
// Encodes the run table of a whole image from its pixels and marks it valid; nothing when the
// image has no run table or is not of colour type 0 or 1.
void RebuildMemImgRunTable(MEMIMG* image);

// Transfers. Both read DrawArea, BlendMode, BlendParam, DrawBright and the tables of
// MemImgDrawState and change nothing but destination pixels.
void DrawMemImg(MEMIMG* dest, const MEMIMG* source, int x, int y, int transFlag,
                const MEMIMG* blendImage);
void DrawMemImgStretched(MEMIMG* dest, const MEMIMG* source, const RECT* rect, int transFlag,
                         const MEMIMG* blendImage);

}  // namespace ZiDaz
