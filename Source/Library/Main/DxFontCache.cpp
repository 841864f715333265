// The glyph cache of a font: square cells in a texture (a graph) while a device is in use, else in
// a memory strip; the lookup of a character's glyph, the batch that renders missing glyphs, the
// levels of anti-aliased glyphs, the edges of edged fonts, the replacement of the oldest slot
// when the cache is full, and the upload of changed cells to the texture.
//
// Every glyph is clipped to its cell: whatever its size, nothing is written into a neighbouring
// cell or past the cache.
#include <algorithm>
#include <cstring>
#include <vector>

#include "Main/DxFont.h"
#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxFontWin.h"

namespace ZiDaz {

namespace {

constexpr const char* kSourceFile = "DxFontCache";
constexpr int kMaxCapacity = 2024;
constexpr int kMaxLargeCodes = 1024;

int FloorDiv(int a, int b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

bool IsEdged(const FontHandleData* font) {
    return (font->fontType & 1) != 0 && font->edgeSize > 0;
}

bool IsAntialiased(int fontType) {
    return (fontType & 2) != 0;
}

// The stamp of one ink pixel onto its edge: offsets from the ink pixel, in rows from the top.
struct Offset {
    int dx, dy;
};

void AddShape(std::vector<Offset>& out, const char* const* rows, int size) {
    for (int y = 0; y < 2 * size + 1; ++y) {
        for (int x = 0; x < 2 * size + 1; ++x) {
            if (rows[y][x] == 'X') out.push_back({x - size, y - size});
        }
    }
}

std::vector<Offset> StampOffsets(const FontHandleData* font, bool memory) {
    static const char* const kSize2[] = {".XXX.", "XXXXX", "XXXXX", "XXXXX", ".XXX."};
    static const char* const kSize3[] = {"...X...", ".XXXXX.", ".XXXXX.", "XXXXXXX",
                                         ".XXXXX.", ".XXXXX.", "...X..."};
    static const char* const kSize4[] = {"..XXXXX..", ".XXXXXXX.", "XXXXXXXXX",
                                         "XXXXXXXXX", "XXXXXXXXX", "XXXXXXXXX",
                                         "XXXXXXXXX", ".XXXXXXX.", "..XXXXX.."};
    std::vector<Offset> out;
    const int e = font->edgeSize;
    if (e == 1) {
        if (memory) {
            out = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};
        } else {
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) out.push_back({dx, dy});
        }
    } else if (e == 2) {
        AddShape(out, kSize2, 2);
    } else if (e == 3) {
        AddShape(out, kSize3, 3);
    } else if (e == 4) {
        AddShape(out, kSize4, 4);
    } else if (e > 4 && font->edgePattern.Pixels != nullptr) {
        const auto* p = static_cast<const std::uint8_t*>(font->edgePattern.Pixels);
        for (int y = 0; y < 2 * e + 1; ++y)
            for (int x = 0; x < 2 * e + 1; ++x)
                if (p[y * font->edgePattern.Pitch + x] != 0) out.push_back({x - e, y - e});
    }
    return out;
}

// One pixel of the cache image: white, the glyph in alpha.
void PutCachePixel(BASEIMAGE& image, int x, int y, std::uint32_t value) {
    auto* row =
        static_cast<std::uint8_t*>(image.Pixels) + static_cast<std::ptrdiff_t>(y) * image.Pitch;
    if (image.Format.BytesPerPixel == 4) {
        std::memcpy(row + x * 4, &value, 4);
    } else {
        auto v = static_cast<std::uint16_t>(value);
        std::memcpy(row + x * 2, &v, 2);
    }
}

std::uint32_t WhiteWithAlpha(const COLORFORMAT& f, int alpha) {
    std::uint32_t white = f.RedMask | f.GreenMask | f.BlueMask;
    return white | ((static_cast<std::uint32_t>(alpha) << f.AlphaPosition) & f.AlphaMask);
}

// level << shift - 1 with a shift that may be negative.
int ShiftedMinusOne(int level, int shift) {
    if (level == 0) return 0;
    int v = shift >= 0 ? level << shift : level >> -shift;
    return v > 0 ? v - 1 : 0;
}

int AlphaOf(int level, int scale, int alphaBits, bool edged) {
    const int full = (1 << alphaBits) - 1;
    switch (scale) {
        case 1:
            return level ? full : 0;
        case 16:
            return alphaBits < 4 ? (level ? full : 0) : ShiftedMinusOne(level, alphaBits - 4);
        case 64:
            if (alphaBits < 6) return level ? full : 0;
            if (edged) return ShiftedMinusOne(level, alphaBits - 6);
            return level ? (level - 1) << (alphaBits - 6) : 0;
        default:
            return alphaBits >= 8 ? level : level >> (8 - alphaBits);
    }
}

// The scale of the levels that a source kind gives: 1 (one bit), 16, 64 or 255; 0 for a kind
// that does not exist.
int ScaleOfKind(int kind, bool texture, bool texture32) {
    switch (kind) {
        case 0:
        case 5:
            return 1;
        case 1:
        case 2:
            return texture32 ? 64 : 16;
        case 3:
            return texture32 ? 255 : 16;
        case 4:
        case 7:
            return texture ? 64 : 16;
        case 6:
            return 16;
        case 8:
            return texture ? 255 : 16;
        default:
            return 0;
    }
}

struct Source {
    const std::uint8_t* bits;
    int width, height, pitch, kind, w, r;
    bool texture32, texture;
};

// The level of one output pixel of the glyph.
int LevelAt(const Source& s, int x, int y) {
    const FontSystemStateData& t = FontSystemState;
    auto byteAt = [&](int row, int column) -> int {
        if (row < 0 || row >= s.height || column < 0 || column >= s.pitch) return 0;
        return s.bits[static_cast<std::ptrdiff_t>(row) * s.pitch + column];
    };
    switch (s.kind) {
        case 0:
            if (x >= s.width) return 0;
            return (byteAt(y, x >> 3) >> (7 - (x & 7))) & 1;
        case 5:
            if (x >= s.width) return 0;
            return byteAt(y, x) != 0 ? 1 : 0;
        case 1:
        case 2:
        case 3: {
            int count = 0;
            for (int k = 0; k < s.w; ++k) {
                int row = y * s.w - s.r + k;
                if (s.w == 4) {
                    int b = byteAt(row, x >> 1);
                    count += t.popCount[(x & 1) ? (b & 0x0F) : (b >> 4)];
                } else if (s.w == 8) {
                    count += t.popCount[byteAt(row, x)];
                } else {
                    count += t.popCount[byteAt(row, 2 * x)] + t.popCount[byteAt(row, 2 * x + 1)];
                }
            }
            if (s.texture32) {
                if (s.w == 4) return count * 4;
                if (s.w == 8) return count;
                return std::min(count, 255);
            }
            if (s.w == 4) return count;
            if (s.w == 8) return count / 4;
            return t.level8To16[std::min(count, 255)];
        }
        case 4: {
            if (x >= s.width) return 0;
            int b = byteAt(y, x >> 1);
            int n = (x & 1) ? (b & 0x0F) : (b >> 4);
            return s.texture ? t.level4To64[n] : t.level4To16[n];
        }
        case 6:
            return x >= s.width ? 0 : std::min(byteAt(y, x), 16);
        case 7: {
            int v = x >= s.width ? 0 : std::min(byteAt(y, x), 64);
            return s.texture ? v : v / 4;
        }
        case 8: {
            int v = x >= s.width ? 0 : byteAt(y, x);
            return s.texture ? v : t.level8To16[v];
        }
        default:
            return 0;
    }
}

void Unlink(FontHandleData* font, FontGlyphEntry* entry) {
    if (!entry->valid) return;
    if (entry->indexEntry != nullptr) {
        entry->indexEntry->present = 0;
        entry->indexEntry->entry = nullptr;
        entry->indexEntry = nullptr;
    } else {
        for (int i = 0; i < font->extendedCount; ++i) {
            if (font->extended[i] == entry) {
                std::memmove(&font->extended[i], &font->extended[i + 1],
                             sizeof(FontGlyphEntry*) *
                                 static_cast<std::size_t>(font->extendedCount - i - 1));
                --font->extendedCount;
                break;
            }
        }
    }
    entry->valid = 0;
}

void Link(FontHandleData* font, FontGlyphEntry* entry) {
    if (entry->code > 0xFFFF || entry->selector != 0) {
        if (font->extendedCount >= kMaxLargeCodes) {
            for (int i = 0; i < font->extendedCount; ++i) {
                if (font->extended[i] != entry) {
                    font->extended[i]->valid = 0;
                    std::memmove(&font->extended[i], &font->extended[i + 1],
                                 sizeof(FontGlyphEntry*) *
                                     static_cast<std::size_t>(font->extendedCount - i - 1));
                    --font->extendedCount;
                    break;
                }
            }
        }
        font->extended[font->extendedCount++] = entry;
        entry->indexEntry = nullptr;
    } else {
        FontCacheIndexEntry& pair = font->cacheIndex[entry->code];
        pair.present = 1;
        pair.entry = entry;
        entry->indexEntry = &pair;
    }
    entry->valid = 1;
}

// A cached glyph (not a glyph image) for the code and selector, without loading.
FontGlyphEntry* FindCached(FontHandleData* font, std::uint32_t code, std::uint32_t selector) {
    if (code > 0xFFFF || selector != 0) {
        for (int i = 0; i < font->extendedCount; ++i) {
            FontGlyphEntry* e = font->extended[i];
            if (e->code == code && e->selector == selector) return e;
        }
        return nullptr;
    }
    const FontCacheIndexEntry& pair = font->cacheIndex[code];
    return pair.present && pair.entry != nullptr ? pair.entry : nullptr;
}

FontGlyphEntry* FindImage(FontHandleData* font, std::uint32_t code, std::uint32_t selector) {
    for (int i = 0; i < font->imageCount; ++i) {
        FontGlyphEntry& e = font->images[i];
        if (e.valid && e.code == code && e.selector == selector) return &e;
    }
    return nullptr;
}

bool IsVariationSelector(std::uint32_t code) {
    return code >= 0xE0100 && code <= 0xE01EF;
}

// One code of UTF-16 text; 0 units when the text ends inside a pair.
std::uint32_t ReadCode(const char16_t* text, int left, int* units) {
    std::uint32_t c = text[0];
    if (c >= 0xD800 && c < 0xDC00) {
        if (left < 2 || text[1] < 0xDC00 || text[1] >= 0xE000) {
            *units = left < 2 ? 0 : 1;
            return c;
        }
        *units = 2;
        return 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00u);
    }
    *units = 1;
    return c;
}

}  // namespace

int GetGlyphTextureFormat(int alphaChannel, int alphaTest, int bits32, COLORFORMAT* format) {
    if (bits32) return InitColorFormatArgb8(format);
    if (alphaChannel)
        return InitColorFormatFromMasks(format, 16, 0x0F00, 0x00F0, 0x000F, 0xF000, 0, 0, 0);
    if (alphaTest)
        return InitColorFormatFromMasks(format, 16, 0x7C00, 0x03E0, 0x001F, 0x8000, 0, 0, 0);
    return InitColorFormatR5G6B5(format);
}

int CreateGlyphCache(const FontCreateParams* params, FontHandleData* font, int async) {
    FontGlyphCacheState& c = font->cache;
    const bool antialiased = IsAntialiased(font->fontType);
    const bool edged = IsEdged(font);
    int cell = font->metrics.cellSize;
    int height = font->metrics.height;
    if (edged) {
        cell += 2 * font->edgeSize;
        height += 2 * font->edgeSize;
    }
    cell = (cell + 7) / 8 * 8;
    height = (height + 1) / 2 * 2;
    if (cell < height) cell = height;
    if (cell <= 0) cell = 8;
    font->metrics.cellSize = static_cast<std::uint16_t>(cell);
    font->metrics.height = static_cast<std::uint16_t>(height);
    const GraphicsSystemStateData& g = GraphicsSystemState;
    c.onTexture = g.DevicePresent && !g.HardwareForbidden && !params->forceMemImageCache ? 1 : 0;
    c.textureColorDepth = antialiased ? 32 : 16;
    const int setting = params->cacheCapacity;
    if (c.onTexture) {
        int maxTexture = g.MaxTextureSize > 0 ? g.MaxTextureSize : 8192;
        int limitH = std::min(maxTexture, 8192);
        int limitW = std::min(edged ? maxTexture / 2 : maxTexture, 8192);
        int w = 8, h = 8;
        int screenW = 0, screenH = 0;
        GetScreenSize(&screenW, &screenH);
        const long long area85 = static_cast<long long>(screenW) * screenH * 85 / 100;
        int capacity = (w / cell) * (h / cell);
        if (capacity >= kMaxCapacity) capacity = kMaxCapacity;
        while (capacity < kMaxCapacity) {
            if (setting > 0 && capacity >= setting) break;
            if (setting <= 0 && static_cast<long long>(w) * h >= area85 && capacity >= 10) break;
            if (w < limitW) {
                if (h < limitH && h < w)
                    h *= 2;
                else
                    w *= 2;
            } else if (h < limitH) {
                h *= 2;
            } else {
                break;
            }
            capacity = (w / cell) * (h / cell);
            if (capacity >= kMaxCapacity) capacity = kMaxCapacity;
        }
        if (capacity < 1) {
            c.onTexture = 0;
        } else {
            c.imageWidth = w;
            c.imageHeight = h;
            c.columns = h / cell;
            font->capacity = capacity;
            COLORFORMAT format;
            GetGlyphTextureFormat(antialiased, !antialiased, c.textureColorDepth == 32, &format);
            if (NewBaseImageInFormat(edged ? 2 * w : w, h, &format, &c.image) != 0) {
                WriteLogTextUtf16(u"文字キャッシュ基本イメージ用のメモリの確保に失敗しました\n");
                return -1;
            }
            FillBaseImage(&c.image, 255, 255, 255, 0);
            c.graphMissing = 1;
            // On a load thread the graph is made by the first use on the main thread.
            if (!async && CreateGlyphCacheGraph(font, async) != 0) {
                WriteLogTextUtf16(u"テクスチャ文字キャッシュの作成に失敗しました\n");
                DisposeBaseImage(&c.image);
                c.graphMissing = 0;
                c.onTexture = 0;
            }
        }
    }
    if (!c.onTexture) {
        int bits = font->fontType == DX_FONTTYPE_NORMAL ? 1 : 8;
        int capacity = setting;
        if (capacity <= 0) capacity = std::max(0x50000 / (cell * cell), 20);
        capacity = std::min(capacity, kMaxCapacity);
        font->capacity = capacity;
        font->memImageBitsPerPixel = bits;
        font->memImagePitch = (bits * cell + 7) / 8;
        c.columns = capacity;
        font->memImagePixels = AllocateTrackedMemoryZeroed(
            static_cast<std::size_t>(font->memImagePitch) * cell * capacity, kSourceFile, __LINE__);
        if (font->memImagePixels == nullptr) {
            WriteLogTextUtf16(
                u"フォントのキャッシュ用メモリの確保に失敗しました in CreateFontToHandle");
            return -1;
        }
    }
    c.workBufferSize = (cell + 4) * (cell + 4);
    c.workBuffer =
        AllocateTrackedMemory(static_cast<std::size_t>(c.workBufferSize), kSourceFile, __LINE__);
    if (c.workBuffer == nullptr) {
        WriteLogTextUtf16(u"フォントの作業用バッファの作成に失敗しました\n");
        return -1;
    }
    if (CreateFontCacheDib(params, font, async) != 0) return -1;
    ResetGlyphCache(font);
    return 0;
}

int CreateGlyphCacheGraph(FontHandleData* font, int) {
    FontGlyphCacheState& c = font->cache;
    if (c.graphMissing != 1) return 0;
    c.graphMissing = 0;
    const bool antialiased = IsAntialiased(font->fontType);
    GraphCreateParams params;
    InitGraphCreateParams(&params, antialiased ? c.textureColorDepth : 16, antialiased ? 1 : 0,
                          antialiased ? 0 : 1);
    params.KeptAlways = 1;
    params.Reserved1 = 1;
    c.graph = CreateBlankGraph(&params, c.image.Width, c.image.Height, 0, 0, 0, 0, nullptr);
    if (c.graph < 0) {
        c.graph = -1;
        return -1;
    }
    if (IsEdged(font)) {
        c.edgeHalf = DeriveGraphFromRect(c.imageWidth, 0, c.imageWidth, c.imageHeight, c.graph);
        if (c.edgeHalf < 0) {
            DestroyGraph(c.graph);
            c.graph = c.edgeHalf = -1;
            return -1;
        }
    }
    SetGraphDeleteFlag(c.graph, &c.graphMissing);
    int tw = 0, th = 0;
    GetGraphTextureSize(c.graph, &tw, &th);
    c.textureWidth = tw > 0 ? tw : c.image.Width;
    c.textureHeight = th > 0 ? th : c.image.Height;
    c.inverseTextureWidth = 1.0f / static_cast<float>(c.textureWidth);
    c.inverseTextureHeight = 1.0f / static_cast<float>(c.textureHeight);
    ResetGlyphCache(font);
    return 0;
}

int ResetGlyphCache(FontHandleData* font) {
    std::memset(font->cacheIndex, 0, sizeof(font->cacheIndex));
    std::memset(font->glyphs, 0, sizeof(font->glyphs));
    std::memset(font->extended, 0, sizeof(font->extended));
    font->extendedCount = 0;
    const int columns = font->cache.columns > 0 ? font->cache.columns : 1;
    const int capacity = std::clamp(font->capacity, 0, kMaxCapacity);
    for (int i = 0; i < capacity; ++i) {
        font->glyphs[i].cacheIndex = i;
        font->glyphs[i].slotRow = i / columns;
        font->glyphs[i].slotColumn = i % columns;
    }
    font->glyphs[capacity].cacheIndex = -1;
    font->nextSlot = 0;
    return 0;
}

FontGlyphEntry* FindGlyph(FontHandleData* font, std::uint32_t code, std::uint32_t selector,
                          FontHandleData** usedFont, int* offsetX, int* offsetY, int includeImages,
                          int log) {
    if (usedFont != nullptr) *usedFont = font;
    if (offsetX != nullptr) *offsetX = 0;
    if (offsetY != nullptr) *offsetY = 0;
    if (includeImages) {
        if (FontGlyphEntry* image = FindImage(font, code, selector)) return image;
    }
    if (FontGlyphEntry* cached = FindCached(font, code, selector)) return cached;
    std::uint32_t codes[1] = {code}, selectors[1] = {selector};
    if (FontGlyphEntry* loaded = LoadGlyphs(1, codes, selectors, font, 1)) return loaded;
    if (log) WriteLogTextUtf16(u"テキストキャッシュの追加に失敗しました\n");
    return nullptr;
}

int PrepareTextGlyphs(FontHandleData* font, const char16_t* text, int length, std::uint32_t* codes,
                      std::uint32_t* selectors, int* count) {
    FontSystemStateData& s = FontSystemState;
    if (length < 0) {
        length = 0;
        while (text[length] != 0) ++length;
    }
    std::uint32_t* block = nullptr;
    std::uint32_t* arrays[6];
    if (length <= kFontScratchLength) {
        for (int i = 0; i < 6; ++i) arrays[i] = s.scratch[i];
    } else {
        block = static_cast<std::uint32_t*>(AllocateTrackedMemory(
            sizeof(std::uint32_t) * 6 * static_cast<std::size_t>(length), kSourceFile, __LINE__));
        if (block == nullptr) return -1;
        for (int i = 0; i < 6; ++i) arrays[i] = block + static_cast<std::size_t>(i) * length;
    }
    std::uint32_t* outCodes = codes ? codes : arrays[0];
    std::uint32_t* outSelectors = selectors ? selectors : arrays[1];
    std::uint32_t* batchCodes = arrays[2];
    std::uint32_t* batchSelectors = arrays[3];
    int batch = 0, n = 0, at = 0;
    while (at < length) {
        int units = 0;
        std::uint32_t code = ReadCode(text + at, length - at, &units);
        if (units == 0) break;
        at += units;
        std::uint32_t selector = 0;
        if (at < length) {
            int selectorUnits = 0;
            std::uint32_t next = ReadCode(text + at, length - at, &selectorUnits);
            if (selectorUnits != 0 && IsVariationSelector(next)) {
                selector = next;
                at += selectorUnits;
            }
        }
        outCodes[n] = code;
        outSelectors[n] = selector;
        ++n;
        if (batch >= font->capacity) continue;
        if (FindImage(font, code, selector) || FindCached(font, code, selector)) continue;
        bool small = code <= 0xFFFF && selector == 0;
        if (small) {
            if (font->cacheIndex[code].present) continue;  // already in this batch
            font->cacheIndex[code].present = 1;
        } else {
            bool seen = false;
            for (int i = 0; i < batch && !seen; ++i)
                seen = batchCodes[i] == code && batchSelectors[i] == selector;
            if (seen) continue;
        }
        batchCodes[batch] = code;
        batchSelectors[batch] = selector;
        ++batch;
    }
    for (int i = 0; i < batch; ++i) {
        if (batchCodes[i] <= 0xFFFF && batchSelectors[i] == 0) {
            font->cacheIndex[batchCodes[i]].present = 0;
        }
    }
    if (batch > 0) LoadGlyphs(batch, batchCodes, batchSelectors, font, 1);
    if (count != nullptr) *count = n;
    FreeTrackedMemory(block);
    return 0;
}

FontGlyphEntry* LoadGlyphs(int count, const std::uint32_t* codes, const std::uint32_t* selectors,
                           FontHandleData* font, int upload) {
    if (count <= 0 || font->capacity <= 0) return nullptr;
    if (WriteGlyphToCache == nullptr) WriteGlyphToCache = &CacheRenderedGlyph;
    if (font->cache.onTexture) {
        if (!Backend_IsDeviceReady()) return nullptr;
        if (CreateGlyphCacheGraph(font, 0) != 0) return nullptr;
    }
    if (!font->fromData && BeginGlyphRendering(font) != 0) return nullptr;
    FontGlyphEntry* last = nullptr;
    for (int i = 0; i < count; ++i) {
        FontGlyphEntry* entry = &font->glyphs[font->nextSlot];
        int result = font->fromData
                         ? RenderGlyphFromData(font, entry, codes[i], selectors[i], upload)
                         : RenderGlyphWithGdi(font, entry, codes[i], selectors[i], upload);
        if (result != 0) continue;
        last = entry;
        font->nextSlot = (font->nextSlot + 1) % font->capacity;
    }
    UploadGlyphCache(font);
    if (!font->fromData) EndGlyphRendering(font);
    return last;
}

int CacheRenderedGlyph(FontHandleData* font, FontGlyphEntry* entry, std::uint32_t code,
                       std::uint32_t selector, int blank, int kind, const void* bitmap, int width,
                       int height, int pitch, int originX, int top, int advance, int upload) {
    FontGlyphCacheState& c = font->cache;
    const bool texture = c.onTexture != 0;
    const bool texture32 = texture && c.textureColorDepth == 32;
    const bool edged = IsEdged(font);
    const int e = edged ? font->edgeSize : 0;
    const int cell = font->metrics.cellSize;
    const bool isBlank = blank != 0 || bitmap == nullptr || width <= 0 || height <= 0;
    const int scale = isBlank ? 1 : ScaleOfKind(kind, texture, texture32);
    if (scale == 0) return -1;
    // The memory strip holds only what its layout can: bits for the plain type, levels 0..16 for
    // the anti-aliased ones.
    if (!texture && !isBlank) {
        if (font->memImageBitsPerPixel == 1 || font->fontType == DX_FONTTYPE_EDGE) {
            if (scale != 1) return -1;
        } else if (scale != 16) {
            return -1;
        }
    }
    Unlink(font, entry);
    const int w = kind == 1 ? 4 : kind == 2 ? 8 : kind == 3 ? 16 : 1;
    entry->code = code;
    entry->selector = selector;
    entry->isImage = 0;
    entry->kerning = nullptr;
    entry->kerningCount = 0;
    if (font->kerning != nullptr) {
        for (int i = 0; i < font->metrics.kerningCount; ++i) {
            if (font->kerning[i].first == code) {
                entry->kerning = &font->kerning[i];
                int n = 0;
                while (i + n < font->metrics.kerningCount && font->kerning[i + n].first == code)
                    ++n;
                entry->kerningCount = n;
                break;
            }
        }
    }
    if (isBlank) {
        entry->drawX = entry->drawY = 0;
        entry->width = entry->height = 0;
        entry->advance = static_cast<std::int16_t>(FloorDiv(advance + w / 4, w) + 2 * e);
        Link(font, entry);
        return 0;
    }
    const int ox = FloorDiv(originX + w / 4, w);
    const int ow = (width + w - 1) / w;
    const int adv = FloorDiv(advance + w / 4, w);
    const int oy = FloorDiv(top, w);
    const int r = top - oy * w;
    const int oh = (height + r + w - 1) / w;

    // The cell and where the glyph starts in it.
    const int cellX = texture ? entry->slotRow * cell : 0;
    const int cellY = texture ? entry->slotColumn * cell : entry->cacheIndex * cell;
    const int inset = texture ? 1 : 0;
    const int base = inset + e;
    // Only glyph pixels that can reach the cell are looked at.
    const int winW = std::max(0, std::min(ow, cell - base + e));
    const int winH = std::max(0, std::min(oh, cell - base + e));

    // Clear the cell.
    if (texture) {
        const std::uint32_t clear = edged ? 0 : WhiteWithAlpha(c.image.Format, 0);
        for (int y = 0; y < cell; ++y) {
            for (int x = 0; x < cell; ++x) {
                PutCachePixel(c.image, cellX + x, cellY + y, clear);
                if (edged) PutCachePixel(c.image, cellX + c.imageWidth + x, cellY + y, 0);
            }
        }
    } else {
        std::memset(static_cast<std::uint8_t*>(font->memImagePixels) +
                        static_cast<std::ptrdiff_t>(cellY) * font->memImagePitch,
                    0, static_cast<std::size_t>(font->memImagePitch) * cell);
    }

    Source source{static_cast<const std::uint8_t*>(bitmap),
                  width,
                  height,
                  pitch,
                  kind,
                  w,
                  r,
                  texture32,
                  texture};
    thread_local std::vector<int> body, edge;
    body.assign(static_cast<std::size_t>(winW) * winH, 0);
    for (int y = 0; y < winH; ++y)
        for (int x = 0; x < winW; ++x)
            body[static_cast<std::size_t>(y) * winW + x] = LevelAt(source, x, y);

    const int alphaBits = c.image.Format.AlphaWidth;
    auto inCell = [&](int x, int y) { return x >= 0 && y >= 0 && x < cell && y < cell; };
    if (!edged) {
        for (int y = 0; y < winH; ++y) {
            for (int x = 0; x < winW; ++x) {
                const int cx = base + x, cy = base + y;
                if (!inCell(cx, cy)) continue;
                const int level = body[static_cast<std::size_t>(y) * winW + x];
                if (texture) {
                    PutCachePixel(
                        c.image, cellX + cx, cellY + cy,
                        WhiteWithAlpha(c.image.Format, AlphaOf(level, scale, alphaBits, false)));
                } else {
                    auto* row = static_cast<std::uint8_t*>(font->memImagePixels) +
                                static_cast<std::ptrdiff_t>(cellY + cy) * font->memImagePitch;
                    if (font->memImageBitsPerPixel == 1) {
                        if (level) row[cx >> 3] |= static_cast<std::uint8_t>(0x80 >> (cx & 7));
                    } else {
                        row[cx] = static_cast<std::uint8_t>(level ? level - 1 : 0);
                    }
                }
            }
        }
    } else {
        const int ew = winW + 2 * e, eh = winH + 2 * e;
        edge.assign(static_cast<std::size_t>(ew) * eh, 0);
        const std::vector<Offset> stamps = StampOffsets(font, !texture);
        const int top16 = scale == 255 ? 255 : scale;
        const int divisor = scale == 255 ? 256 : scale;
        for (int y = 0; y < winH; ++y) {
            for (int x = 0; x < winW; ++x) {
                const int a = body[static_cast<std::size_t>(y) * winW + x];
                if (a <= 0) continue;
                for (const Offset& o : stamps) {
                    int& t = edge[static_cast<std::size_t>(y + e + o.dy) * ew + (x + e + o.dx)];
                    if (scale == 1) {
                        t = 1;
                    } else if (!texture) {
                        t = std::max(t, a);  // the strip keeps the largest level stamped
                    } else {
                        t = t + (top16 - t) * a / divisor;
                    }
                }
            }
        }
        for (int ey = 0; ey < eh; ++ey) {
            for (int ex = 0; ex < ew; ++ex) {
                const int cx = inset + ex, cy = inset + ey;
                if (!inCell(cx, cy)) continue;
                const int bx = ex - e, by = ey - e;
                const int b = bx >= 0 && by >= 0 && bx < winW && by < winH
                                  ? body[static_cast<std::size_t>(by) * winW + bx]
                                  : 0;
                const int t = edge[static_cast<std::size_t>(ey) * ew + ex];
                if (texture) {
                    int bodyAlpha, edgeAlpha;
                    if (scale == 1) {
                        bodyAlpha = AlphaOf(b, 1, alphaBits, true);
                        edgeAlpha = AlphaOf(t, 1, alphaBits, true);
                    } else if (scale != 255 && b == scale) {
                        bodyAlpha = (1 << alphaBits) - 1;
                        edgeAlpha = 0;
                    } else {
                        bodyAlpha = AlphaOf(b, scale, alphaBits, true);
                        edgeAlpha = AlphaOf(t, scale, alphaBits, true);
                    }
                    PutCachePixel(c.image, cellX + cx, cellY + cy,
                                  WhiteWithAlpha(c.image.Format, bodyAlpha));
                    PutCachePixel(c.image, cellX + c.imageWidth + cx, cellY + cy,
                                  WhiteWithAlpha(c.image.Format, edgeAlpha));
                } else {
                    auto* row = static_cast<std::uint8_t*>(font->memImagePixels) +
                                static_cast<std::ptrdiff_t>(cellY + cy) * font->memImagePitch;
                    if (scale == 1) {
                        row[cx] = static_cast<std::uint8_t>(b ? 1 : t ? 2 : 0);
                    } else {
                        const int low = b ? b - 1 : 0, high = t ? t - 1 : 0;
                        row[cx] = static_cast<std::uint8_t>(high << 4 | low);
                    }
                }
            }
        }
    }
    entry->drawX = static_cast<std::int16_t>(ox);
    entry->drawY = static_cast<std::int16_t>(oy);
    entry->advance = static_cast<std::int16_t>(adv + 2 * e);
    entry->width = static_cast<std::uint16_t>(std::max(0, std::min(ow + 2 * e, cell - inset)));
    entry->height = static_cast<std::uint16_t>(std::max(0, std::min(oh + 2 * e, cell - inset)));
    if (texture && upload) {
        RECT cellRect{cellX, cellY, cellX + cell, cellY + cell};
        if (!c.changed) {
            c.changedRect = cellRect;
            c.changed = 1;
        } else {
            c.changedRect.left = std::min(c.changedRect.left, cellRect.left);
            c.changedRect.top = std::min(c.changedRect.top, cellRect.top);
            c.changedRect.right = std::max(c.changedRect.right, cellRect.right);
            c.changedRect.bottom = std::max(c.changedRect.bottom, cellRect.bottom);
        }
    }
    Link(font, entry);
    return 0;
}

int UploadGlyphCache(FontHandleData* font) {
    FontGlyphCacheState& c = font->cache;
    if (!c.changed) return 0;
    c.changed = 0;
    if (c.graph < 0) return 0;
    RECT rect = c.changedRect;
    TransferBaseImageRectToGraph(&rect, rect.left, rect.top, c.graph, &c.image, nullptr, 0, 0, 0,
                                 nullptr);
    if (IsEdged(font)) {
        RECT moved{rect.left + c.imageWidth, rect.top, rect.right + c.imageWidth, rect.bottom};
        TransferBaseImageRectToGraph(&moved, moved.left, moved.top, c.graph, &c.image, nullptr, 0,
                                     0, 0, nullptr);
    }
    return 0;
}

}  // namespace ZiDaz
