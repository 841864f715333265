// Text drawing and measuring with a font handle: the layout engine that every draw and measure
// runs through, the draw operations (plain, scaled, rotated, vertical, edged) and the measures.
#pragma once

#include <cstdint>

#include "Main/DxFont.h"
#include "Main/DxHandle.h"
#include "Main/DxMemImg.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

// Walks the text once: places each glyph (advance, spacing, kerning, line feeds, leading shift,
// line step, vertical text, rotation) and, with drawFlag, draws it: to the screen through the
// graph draws when the cache is a texture, else as pixels into dest (clipped to clip). A
// destination image or a memory-image cache takes only unscaled, unrotated integer positions.
// Length < 0: up to the terminator. Outputs (any may be null): the size (vertical text: swapped),
// the line count and the character count. Returns the widest line's width (truncated), or -1.
int LayOutText(int drawFlag, int x, int y, float fx, float fy, int intPosition, int scaleFlag,
               double scaleX, double scaleY, int rotateFlag, float centreX, float centreY,
               double angle, const char16_t* text, std::uint32_t colour, MEMIMG* dest,
               const RECT* clip, FontHandleData* font, std::uint32_t edgeColour, int length,
               int vertical, int* outWidth, int* outHeight, int* lineCount, int* charCount);

int DrawTextWithFont(int x, int y, const char* text, std::uint32_t colour, HandleValue font,
                     std::uint32_t edgeColour, int vertical);
int DrawTextWithFontWide(int x, int y, const char16_t* text, int length, std::uint32_t colour,
                         HandleValue font, std::uint32_t edgeColour, int vertical);
int DrawTextDefaultFont(int x, int y, const char* text, std::uint32_t colour,
                        std::uint32_t edgeColour);
int DrawFormattedText(int x, int y, std::uint32_t colour, const char* format, ...);
int DrawTextScaledWithFont(float x, float y, double scaleX, double scaleY, const char* text,
                           std::uint32_t colour, HandleValue font, std::uint32_t edgeColour,
                           int vertical);
int DrawTextScaledWithFontWide(float x, float y, double scaleX, double scaleY, const char16_t* text,
                               int length, std::uint32_t colour, HandleValue font,
                               std::uint32_t edgeColour, int vertical);
int DrawTextScaledAtIntWide(int x, int y, double scaleX, double scaleY, const char16_t* text,
                            int length, std::uint32_t colour, HandleValue font,
                            std::uint32_t edgeColour, int vertical);
int DrawTextRotatedWithFont(int x, int y, double scaleX, double scaleY, double centreX,
                            double centreY, double angle, std::uint32_t colour, HandleValue font,
                            std::uint32_t edgeColour, int vertical, const char* text);
int DrawTextRotatedWithFontWide(int x, int y, double scaleX, double scaleY, double centreX,
                                double centreY, double angle, std::uint32_t colour,
                                HandleValue font, std::uint32_t edgeColour, int vertical,
                                const char16_t* text, int length);

// count: the first count code units (< 0: the whole text).
int MeasureTextWidthWithFont(const char* text, int count, HandleValue font, int vertical);
int MeasureTextWidthDefaultFont(const char* text, int count, int vertical);
// length 0: up to the terminator; cap >= 0 limits the counted length.
int MeasureTextWidthWide(const char16_t* text, int length, int cap, HandleValue font, int vertical);
int MeasureTextWidthScaledWide(double scaleX, const char16_t* text, int length, int cap,
                               HandleValue font, int vertical);

// The shapes the runtime's error report calls: horizontal text in the default font.
int MeasureDefaultFontText(const char* text, int count);

}  // namespace ZiDaz
