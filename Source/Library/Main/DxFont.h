// The font handle's record and the types the font code shares: what a Font handle holds (its
// face, sizes and metrics, glyph cache and GDI objects), the glyph entries of its cache, and the
// creation settings. The font back ends fill it; the glyph cache and the text code read it.
#pragma once

#include <cstdint>

#include "Main/DxBaseImage.h"
#include "Main/DxHandle.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

struct ASyncLoadJob;

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

struct FontKerningPair;
struct FontCacheIndexEntry;

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
    std::int32_t graph;               // the graph of a glyph image
    std::int32_t cacheIndex;          // the cache slot; -1 for the closing entry
    std::int32_t slotRow;             // x = row x cell size
    std::int32_t slotColumn;          // y = column x cell size
    const FontKerningPair* kerning;   // the first pair whose first character is this code
    std::int32_t kerningCount;        // consecutive pairs from there
    FontCacheIndexEntry* indexEntry;  // the per-code index pair pointing here, or null
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

// ============================================================================================
// The font module
// ============================================================================================

inline constexpr int kFontScratchLength = 1024;  // texts up to this many characters use no heap

// The module's one record; zero at program start.
struct FontSystemStateData {
    std::int32_t initialised;
    FontCreateParams createParams;  // only the capacity has a setter
    // Level tables built at start.
    std::uint8_t popCount[256];
    std::uint8_t level4To16[16];
    std::uint8_t level8To16[256];
    std::uint8_t level4To64[16];
    std::uint8_t level8To64[256];
    char16_t ideographicSpace;  // U+3000 in the WideEncoding
    // The built-in fallback font.
    std::int32_t builtinInUse;
    void* builtinSheet;  // the decoded glyph sheet (an image file in memory)
    std::int32_t builtinSheetSize;
    HandleValue builtinGlyphs[128];
    HandleValue defaultFont;  // -1 or 0: none
    char16_t defaultFace[256];
    std::int32_t defaultSize, defaultThickness, defaultFontType, defaultCharSet, defaultEdgeSize,
        defaultItalic, defaultSpacing;
    // Set before the start: the start keeps these values.
    std::int32_t sizeSet, thicknessSet, fontTypeSet, charSetSet, edgeSizeSet, italicSet, spacingSet,
        faceSet;
    std::int32_t charSetChanged;  // the next EnsureDefaultFont makes the default font again
    std::int32_t defaultLineSpacingSet, defaultLineSpacing;
    // Scratch of PrepareTextGlyphs and of text layout.
    std::uint32_t scratch[6][kFontScratchLength];
    std::uint32_t layoutCodes[kFontScratchLength];
    std::uint32_t layoutSelectors[kFontScratchLength];
};
extern FontSystemStateData FontSystemState;

// The name the handle dump prints for a FontType ("Null" for any other value).
const char16_t* FontTypeName(int fontType);

int StartFontSystem();
int ShutdownFontSystem();
int ResetFontHandles();
// After a device reset: every font made again under its handle value, with its spacing, line
// spacing and encoding override; the default font stays the default.
int RecreateAllFonts();

int InitFontCreateParams(FontCreateParams* params);
HandleValue CreateFontToHandle(const char* face, int size, int thickness, int fontType, int charSet,
                               int edgeSize, int italic, HandleValue reuse);
HandleValue MakeFontHandle(const FontCreateParams* params, const char16_t* face, int size,
                           int thickness, int fontType, int charSet, int edgeSize, int italic,
                           HandleValue reuse, int async);
// Queues the load-thread job of a font being made under handle h and records its slot on the
// handle: h, or -1 with the handle deleted when there is no job or the queue is full.
HandleValue QueueFontJob(HandleValue h, ASyncLoadJob* job);
// The body of a creation (at once or on a load thread): 0 or -1.
int SetUpFontHandle(const FontCreateParams* params, HandleValue handle, const char16_t* face,
                    int size, int thickness, int fontType, int charSet, int edgeSize, int italic,
                    int async);

int SetDefaultFontFace(const char* face, int charSet);
int SetDefaultFontFaceWide(const char16_t* face, int charSet);
int SetDefaultFontType(int fontType);
int SetDefaultFontSize(int size);
int SetDefaultFontThickness(int thickness);
int ConfigureDefaultFont(const char16_t* face, int size, int thickness, int fontType, int charSet,
                         int edgeSize, int italic);
int SetDefaultCharSpacing(int spacing);
int SetGlyphCacheCapacity(int count);
HandleValue ObtainDefaultFont();
int EnsureDefaultFont();

int IsFontHandleUsable(HandleValue font);
int IsFontCacheOnTexture(HandleValue font);
int QueryFontSize(HandleValue font);
int QueryFontCharSpacing(HandleValue font);
int QueryFontState(char16_t* face, int* size, int* thickness, HandleValue font, int* fontType,
                   int* charSet, int* edgeSize, int* italic);
int SetFontCharSpacing(int spacing, HandleValue font);
int SetFontLineSpacing(int lineSpacing, HandleValue font);
int SetFontStringEncoding(int encoding, HandleValue font);
int GetFontStringEncoding(HandleValue font);
int SetFontLostFlagPointer(HandleValue font, int* flag);
int AddFontGlyphImage(HandleValue font, const char* character, HandleValue graph, int offsetX,
                      int offsetY, int advance);
int AddFontGlyphImageWide(HandleValue font, const char16_t* character, HandleValue graph,
                          int offsetX, int offsetY, int advance);
// -2 names the default font (made first when it is missing); a handle still being made on a
// load thread is finished first. Null for a bad handle.
FontHandleData* ResolveFontHandle(HandleValue font);

// The handle manager's callbacks of the Font type.
void InitFontHandle(HandleHeader* record);
int TerminateFontHandle(HandleHeader* record);
void DumpFontHandle(HandleHeader* record);

// ============================================================================================
// The glyph cache
// ============================================================================================

int CreateGlyphCache(const FontCreateParams* params, FontHandleData* font, int async);
int CreateGlyphCacheGraph(FontHandleData* font, int async);
int ResetGlyphCache(FontHandleData* font);
FontGlyphEntry* FindGlyph(FontHandleData* font, std::uint32_t code, std::uint32_t selector,
                          FontHandleData** usedFont, int* offsetX, int* offsetY, int includeImages,
                          int log);
int PrepareTextGlyphs(FontHandleData* font, const char16_t* text, int length, std::uint32_t* codes,
                      std::uint32_t* selectors, int* count);
FontGlyphEntry* LoadGlyphs(int count, const std::uint32_t* codes, const std::uint32_t* selectors,
                           FontHandleData* font, int upload);
// The glyph cache's writer (installed as WriteGlyphToCache).
int CacheRenderedGlyph(FontHandleData* font, FontGlyphEntry* entry, std::uint32_t code,
                       std::uint32_t selector, int blank, int sourceKind, const void* bitmap,
                       int width, int height, int pitch, int originX, int top, int advance,
                       int upload);
int UploadGlyphCache(FontHandleData* font);
// The colour format of a glyph texture (the cache image): white with the glyph in alpha.
int GetGlyphTextureFormat(int alphaChannel, int alphaTest, int bits32, COLORFORMAT* format);

// ============================================================================================
// Font data images and the built-in fallback font
// ============================================================================================

// The layout of a font data image.
inline constexpr int kFontDataPrefixBytes = 24;
inline constexpr int kFontDataFaceOffset = 24;
inline constexpr int kFontDataMetricsOffset = 280;
inline constexpr int kFontDataKerningCountOffset = 300;
inline constexpr int kFontDataDepthOffset = 344;
inline constexpr int kFontDataGlyphsOffset = 412;
inline constexpr int kFontDataGlyphRecordBytes = 32;
inline constexpr int kFontDataVersion0Gap = 44;

HandleValue CreateFontFromData(const FontCreateParams* params, const void* image, int size,
                               int edgeSize, HandleValue reuse, int async);
// Checks every count, offset and size of the image before it allocates or reads: a damaged image
// is refused with -1 and nothing stays allocated.
int SetUpFontFromData(const FontCreateParams* params, HandleValue handle, const void* image,
                      int size, int edgeSize, int async);
// Renders one glyph of a data font into the cache: 0, or -1 when the image does not hold it.
int RenderGlyphFromData(FontHandleData* font, FontGlyphEntry* entry, std::uint32_t code,
                        std::uint32_t selector, int upload);
// Makes the built-in fallback font the default font: 0 or -1.
int CreateBuiltinFont();
// The built-in font's data image and glyph sheet (Base64 text with its size), made at build time.
extern const char kBuiltinFontImageText[];
extern const char kBuiltinGlyphSheetText[];

}  // namespace ZiDaz
