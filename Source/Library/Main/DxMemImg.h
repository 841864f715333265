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
// Copies the rectangle (sourceX, sourceY, width, height) of a BASEIMAGE to (destX, destY) of the
// image, converting to its format; alphaSource, when given, supplies the alpha of each pixel. The
// rectangle is clipped to both images. useTransColor says whether the image shall use its
// transparent colour (and, into an alpha image, turns that colour into alpha 0). Palette images
// take the source's palette when the source is a palette image. A copy of the whole image rebuilds
// the run table. Returns 0, or -1 when nothing could be copied (16- and 32-bit images).
int CopyBaseImageIntoMemImg(const BASEIMAGE* source, const BASEIMAGE* alphaSource, MEMIMG* image,
                            int sourceX, int sourceY, int width, int height, int destX, int destY,
                            int useTransColor);
// Copies rect of source (the whole source when null) to (destX, destY) of dest, converting
// formats, without transparency; clipped to both images, and correct when the two overlap in
// memory. Returns the converter's result: -1 when nothing is copied, the highest value copied
// between 8-bit images, else 0.
int CopyMemImgRect(MEMIMG* dest, const MEMIMG* source, const RECT* rect, int destX, int destY);
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
// Draws source turned by angle (radians, clockwise on screen) about its centre and scaled by
// xScale and yScale, with the source's centre pixel on (centerX, centerY). A mirrored draw (either
// turn flag) goes to the four-corner transfer. Sources taller than 4096 rows, zero or non-finite
// scales and blend images smaller than the source draw nothing.
void DrawMemImgRotated(MEMIMG* dest, const MEMIMG* source, int centerX, int centerY, float angle,
                       float xScale, float yScale, int transFlag, int turnX, int turnY,
                       const MEMIMG* blendImage);

// Primitives of one colour. Each reads DrawArea, BlendMode, BlendParam, DrawBright and the tables
// of MemImgDrawState and changes nothing but destination pixels; colours are raw pixel values of
// the destination's colour type. Destinations with a palette or alpha are not drawn.

// One line of a line list.
struct MemImgLineRecord {
    std::int32_t x1;
    std::int32_t y1;
    std::int32_t x2;
    std::int32_t y2;
    std::uint32_t color;
    std::int32_t param;  // the blend parameter the list was built under; carried, not read
};

// Fills rect (corners in any order; null for the whole image) clipped to DrawArea.
void FillMemImgBox(MEMIMG* dest, const RECT* rect, std::uint32_t color);
// The line from (x1, y1) towards (x2, y2), the end point excluded.
void DrawMemImgLine(MEMIMG* dest, int x1, int y1, int x2, int y2, std::uint32_t color);
void DrawMemImgLines(MEMIMG* dest, const MemImgLineRecord* lines, int count);
// A circle outline or disc. evenWidth draws every point right of the centre column one column
// further left, evenHeight every point below the centre row one row higher.
void DrawMemImgCircle(MEMIMG* dest, int x, int y, int radius, std::uint32_t color, int fillFlag,
                      int evenWidth, int evenHeight);
// An axis-aligned ellipse outline or filled ellipse; a zero radius draws nothing and a negative
// one counts by its absolute value.
void DrawMemImgOval(MEMIMG* dest, int x, int y, int radiusX, int radiusY, std::uint32_t color,
                    int fillFlag, int evenWidth, int evenHeight);

// Triangles. A vertex is a destination pixel (x, y) and a source texel (u, v).
struct MemImgTriangleVertex {
    std::int32_t x;
    std::int32_t y;
    std::int32_t u;
    std::int32_t v;
};
struct MemImgPoint {
    std::int32_t x;
    std::int32_t y;
};

// One triangle of source mapped affinely onto dest (nearest texel), or, with a null source, filled
// with the raw colour fillColor. transparent asks for the transparent colour (or alpha 0) to be
// skipped; blendImage weighs each texel by its byte at the texel's position. Reads DrawArea,
// BlendMode, BlendParam, DrawBright and the tables of MemImgDrawState.
void DrawMemImgTriangle(MEMIMG* dest, const MEMIMG* source, const MemImgTriangleVertex* vertices,
                        int transparent, const MEMIMG* blendImage, std::uint32_t fillColor);
// The whole source mapped onto the quadrilateral of four corners (where its top-left, top-right,
// bottom-left and bottom-right corners go), as two triangles sharing the corner 1 - corner 2 edge.
void DrawMemImgToCorners(MEMIMG* dest, const MEMIMG* source, const MemImgPoint* corners,
                         int transFlag, const MEMIMG* blendImage);

// Packed saturating add and subtract of a colour f to or from a destination pixel d, all three
// channels in one integer operation. The lowest bits of green and red take the carry (or borrow)
// of the channel below, and byte 3 of a 32-bit result takes the red carry (add) or 0 (subtract).
std::uint32_t MemImgAddSaturate32(std::uint32_t f, std::uint32_t d);
std::uint16_t MemImgAddSaturate16(std::uint32_t f, std::uint32_t d);
std::uint32_t MemImgSubSaturate32(std::uint32_t d, std::uint32_t f);
std::uint16_t MemImgSubSaturate16(std::uint32_t d, std::uint32_t f);

}  // namespace ZiDaz
