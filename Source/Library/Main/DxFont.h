// The font handle's record and the types the font code shares: what a Font handle holds (its
// face, sizes and metrics, glyph cache and GDI objects), the glyph entries of its cache, and the
// creation settings. The font back ends fill it; the glyph cache and the text code read it.
#pragma once

#include <cstdint>

#include "Main/DxBaseImage.h"
#include "Main/DxHandle.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

// Font rendering kinds: bit 0 edge, bit 1 anti-aliased, bits 4-5 the supersampling grid of
// anti-aliasing (1 = 4x4, 2 = 8x8, 3 = 16x16).
enum FontType : std::int32_t {
    DX_FONTTYPE_NORMAL = 0,
    DX_FONTTYPE_EDGE = 1,
    DX_FONTTYPE_ANTIALIASING = 2,
    DX_FONTTYPE_ANTIALIASING_EDGE = 3,
    DX_FONTTYPE_ANTIALIASING_4X4 = 18,
    DX_FONTTYPE_ANTIALIASING_EDGE_4X4 = 19,
    DX_FONTTYPE_ANTIALIASING_8X8 = 34,
    DX_FONTTYPE_ANTIALIASING_EDGE_8X8 = 35,
    DX_FONTTYPE_ANTIALIASING_16X16 = 50,
    DX_FONTTYPE_ANTIALIASING_EDGE_16X16 = 51,
};

// The settings a font is made with, copied from the module's state when it is created.
struct FontCreateParams {
    std::int32_t forceMemImageCache;
    std::int32_t use16BitAntialiasTexture;
    std::int32_t cacheCapacity;  // 0: automatic
    std::int32_t premultipliedAlpha;
    std::int32_t noLeadingAdjustment;
};

// One glyph of a font's cache, or one glyph image that replaces a character.
struct FontGlyphEntry {
    std::uint32_t code;
    std::uint32_t selector;  // variation selector, 0 for none
    std::uint8_t valid;
    std::uint8_t isImage;  // the glyph is a graph
    std::int16_t drawX;
    std::int16_t drawY;
    std::int16_t advance;
    std::uint16_t width;
    std::uint16_t height;
    std::int32_t graph;  // the graph of a glyph image
    std::int32_t cacheIndex;
};

inline constexpr int kFontGlyphEntries = 2025;  // at most 2,024 cached, plus a closing entry
inline constexpr int kFontImageEntries = 256;

// The sizes and metrics a font data image carries whole, in this order.
struct FontMetricsBlock {
    std::uint16_t thickness;
    std::uint16_t size;
    std::uint16_t height;
    std::uint16_t leadingAdjustment;  // extra height made for the font's leading
    std::uint8_t italic;
    std::uint16_t cellSize;  // side of one cache cell
    std::uint16_t charSet;   // CharSetId
    std::uint16_t encoding;  // from the character set; 0xFFFF none
    std::uint16_t ascent;    // output pixels, rounded
    std::int32_t kerningCount;
    std::uint8_t reserved[40];
};
static_assert(sizeof(FontMetricsBlock) == 64);

// One kerning pair: the amount in output pixels; sorted by (first << 16 | second).
struct FontKerningPair {
    std::uint32_t first;
    std::uint32_t second;
    std::int32_t amount;
    std::int32_t unused;
};

// The Windows objects of a font (the GDI back end's own area of the record).
struct FontPlatformArea {
    std::int32_t textOutputMode;  // glyphs drawn with TextOutW into the cache DIB
    HBITMAP cacheDib;
    void* dibPixels;
    std::int32_t dibPitch;
    HFONT gdiFont;
    void* unicodeRanges;  // GetFontUnicodeRanges' block, kept with the font
    std::uint8_t* glyphBuffer;
    std::int32_t glyphBufferSize;  // grows, never shrinks
};

struct FontCacheIndexEntry {
    std::int32_t present;
    FontGlyphEntry* entry;
};

// The glyph cache's state of a font.
struct FontGlyphCacheState {
    std::int32_t imageWidth;
    std::int32_t imageHeight;
    std::int32_t columns;
    void* workBuffer;
    std::int32_t workBufferSize;
    std::int32_t graph;
    std::int32_t edgeHalf;
    std::int32_t graphMissing;
    BASEIMAGE image;
    std::int32_t textureColorDepth;
    std::int32_t textureWidth;
    std::int32_t textureHeight;
    float inverseTextureWidth;
    float inverseTextureHeight;
    std::int32_t changed;
    RECT changedRect;
    std::int32_t onTexture;
    std::int32_t extra[3];
};

// The record of a Font handle (handle type 8); the handle manager allocates it zeroed.
struct FontHandleData {
    HandleHeader header;
    FontPlatformArea* platform;  // the platform area below
    int* lostFlag;
    std::int32_t fromData;  // made from a font data image
    void* dataImage;
    std::int32_t dataImageSize;
    void* dataHeader;
    void* dataGlyphTable;
    void* dataBitmaps;
    std::int32_t dataBitsPerPixel;  // 0 = 1 bit, 4, 8
    void** dataGlyphByCode;         // 65,536
    void** dataGlyphsAbove;
    void* dataDecodeBuffer;
    FontGlyphEntry glyphs[kFontGlyphEntries];
    FontCacheIndexEntry cacheIndex[65536];
    std::int32_t extendedCount;
    FontGlyphEntry* extended[1024];
    std::int32_t nextSlot;
    std::int32_t capacity;
    void* memImagePixels;
    std::int32_t memImagePitch;
    std::int32_t memImageBitsPerPixel;  // 1 or 8
    FontKerningPair* kerning;
    std::int32_t imageCount;
    FontGlyphEntry images[kFontImageEntries];
    char faceName[256];  // NarrowEncoding
    char16_t faceNameWide[256];
    FontMetricsBlock metrics;
    std::int32_t encodingOverride;  // -1 none
    std::int32_t spacing;
    std::int32_t lineSpacingSet;
    std::int32_t lineSpacing;
    std::int32_t fontType;
    std::int32_t edgeSize;
    BASEIMAGE edgePattern;
    FontGlyphCacheState cache;
    FontPlatformArea platformArea;
};

// Where RenderGlyphWithGdi hands each rendered glyph: the glyph cache's WriteGlyphToCache (font,
// entry, code, selector, blank kind (1 space, 2 ideographic space, else 0), source kind, bitmap,
// width, height, bytes per row, origin x, top, advance, upload flag; 0 or -1). Null until the
// glyph cache is there; rendering then fails.
using GlyphCacheWriter = int (*)(FontHandleData* font, FontGlyphEntry* entry, std::uint32_t code,
                                 std::uint32_t selector, int blank, int sourceKind,
                                 const void* bitmap, int width, int height, int pitch, int originX,
                                 int top, int advance, int upload);
extern GlyphCacheWriter WriteGlyphToCache;

}  // namespace ZiDaz
