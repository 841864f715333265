// Text drawing and measuring. One layout engine (LayOutText) walks a text once, finds each
// character's glyph in the font's cache, places it (advance, spacing, kerning, line feeds, the
// leading shift, vertical text, rotation) and either only measures or also draws: graph draws
// from the cache texture while a device holds the cache, else pixels written straight into a
// memory image. The draw operations put the common frame around it (2D mode, emulated
// subtraction, the mask bracket) and, for a memory-image cache, take the software path: the text
// is written into the screen, or into a scratch image that the renderer's transfers then blend,
// scale or turn onto the screen.
#include "Main/DxFontDraw.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>

#include "Main/DxChar.h"
#include "Main/DxCharFormat.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsFrame.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

namespace {

constexpr const char* kSourceFile = "DxFontDraw";
constexpr double kQuarterTurn = 1.5707963267948966;
// Narrow texts from this many code units on are converted into an allocated buffer.
constexpr int kStackTextUnits = 505;

using drawframe::DeviceInUse;
using drawframe::G;
using drawframe::Settings;

bool IsEdgedFont(const FontHandleData* f) {
    return (f->fontType & 1) != 0 && f->edgeSize > 0;
}

bool IsAntialiasedFont(const FontHandleData* f) {
    return (f->fontType & 2) != 0;
}

FontHandleData* ResolveOrLog(HandleValue handle) {
    FontHandleData* f = ResolveFontHandle(handle);
    if (f == nullptr) WriteLogTextUtf16(u"フォントハンドル値が異常です\n");
    return f;
}

int LineStepOf(const FontHandleData* f) {
    return f->lineSpacingSet ? f->lineSpacing
                             : static_cast<int>(f->metrics.height) - f->metrics.leadingAdjustment;
}

int TruncD(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return static_cast<int>(v);
}

// The kerning amount between code and next: among the glyph's own pairs, or for a character
// without glyph among the pairs whose first character is the code.
int KerningAmount(const FontHandleData* f, const FontGlyphEntry* glyph, std::uint32_t code,
                  std::uint32_t next) {
    if (f->kerning == nullptr || f->metrics.kerningCount <= 0) return 0;
    const FontKerningPair* pairs = nullptr;
    int count = 0;
    if (glyph != nullptr) {
        pairs = glyph->kerning;
        count = glyph->kerningCount;
    } else {
        const FontKerningPair* all = f->kerning;
        const int n = f->metrics.kerningCount;
        const std::uint64_t key = std::uint64_t{code} << 32;
        const FontKerningPair* at =
            std::lower_bound(all, all + n, key, [](const FontKerningPair& p, std::uint64_t k) {
                return (std::uint64_t{p.first} << 32 | p.second) < k;
            });
        pairs = at;
        while (at + count < all + n && at[count].first == code) ++count;
    }
    for (int i = 0; i < count; ++i)
        if (pairs[i].second == next) return pairs[i].amount;
    return 0;
}

struct Rgb {
    int r, g, b;
};

// A colour argument split into channels with the draw brightness applied.
Rgb BrightenedColour(std::uint32_t colour) {
    Rgb c{};
    DecomposeScreenColor(colour, &c.r, &c.g, &c.b);
    const DrawSettingsData& d = Settings();
    c.r = c.r * d.BrightRed / 255;
    c.g = c.g * d.BrightGreen / 255;
    c.b = c.b * d.BrightBlue / 255;
    return c;
}

std::uint32_t RawOf(const COLORFORMAT* f, Rgb c, int alpha) {
    return ComposeFormatColor(f, c.r, c.g, c.b, alpha);
}

// Writes the cells of a memory-image cache into a memory image by the four pixel rules. Every
// cell value maps to one raw pixel, so the values are worked out once per text.
struct MemImgTextWriter {
    MEMIMG* dest;
    RECT clip;
    const COLORFORMAT* format;
    int bytes;
    Rgb text, edge;
    std::uint32_t textRaw, edgeRaw;
    // By cell value (8-bit cells): the raw pixel, and whether the value draws at all.
    std::uint32_t values[256];
    bool draws[256];

    // The value of one 8-bit cell value, or false to leave the destination.
    bool Value(const FontHandleData* f, int v, std::uint32_t* out) const {
        if (!IsAntialiasedFont(f)) {
            if (v == 1) {
                *out = textRaw;
            } else if (v == 2) {
                *out = edgeRaw;
            } else {
                return false;
            }
            return true;
        }
        if (!IsEdgedFont(f)) {
            const int b = v & 15;
            if (b == 0) return false;
            *out = RawOf(format, text, 16 * b);
            return true;
        }
        const int b = v & 15, e = v >> 4;
        if (b == 15) {
            *out = RawOf(format, text, 255);
        } else if (b > 0) {
            const int a = 16 * b + e * (15 - b);
            const int w = 4096 * b / a;
            const Rgb mixed{edge.r + (text.r - edge.r) * w / 256,
                            edge.g + (text.g - edge.g) * w / 256,
                            edge.b + (text.b - edge.b) * w / 256};
            *out = RawOf(format, mixed, a);
        } else if (e > 0) {
            *out = RawOf(format, edge, 16 * e);
        } else {
            return false;
        }
        return true;
    }

    void BuildValues(const FontHandleData* f) {
        if (f->memImageBitsPerPixel == 1) return;
        const int count = !IsAntialiasedFont(f) ? 3 : IsEdgedFont(f) ? 256 : 16;
        for (int v = 0; v < 256; ++v) {
            draws[v] = v < count && Value(f, v, &values[v]);
        }
    }

    void Store(std::uint8_t* p, std::uint32_t value) const {
        if (bytes == 4) {
            std::memcpy(p, &value, 4);
        } else if (bytes == 2) {
            const auto v = static_cast<std::uint16_t>(value);
            std::memcpy(p, &v, 2);
        } else {
            *p = static_cast<std::uint8_t>(value);
        }
    }

    bool CellPixel(const FontHandleData* f, const std::uint8_t* row, int u,
                   std::uint32_t* out) const {
        if (f->memImageBitsPerPixel == 1) {
            if (((row[u >> 3] >> (7 - (u & 7))) & 1) == 0) return false;
            *out = textRaw;
            return true;
        }
        if (!draws[row[u]]) return false;
        *out = values[row[u]];
        return true;
    }

    // One cached glyph: horizontally with its top-left at (x, y), or turned a quarter clockwise
    // with its top row on column x - 1 and its left column on row y.
    void Glyph(const FontHandleData* f, const FontGlyphEntry* g, int x, int y, bool turned) const {
        const int cell = f->metrics.cellSize;
        const auto* base = static_cast<const std::uint8_t*>(f->memImagePixels) +
                           static_cast<std::ptrdiff_t>(g->cacheIndex) * cell * f->memImagePitch;
        const std::ptrdiff_t pitch = dest->Shared->Pitch;
        // The part of the glyph (u across its width, v down its height) inside the clip.
        int u0, u1, v0, v1;
        if (turned) {
            // Column x - 1 - v, row y + u.
            u0 = std::max(0, static_cast<int>(clip.top) - y);
            u1 = std::min(static_cast<int>(g->width), static_cast<int>(clip.bottom) - y);
            v0 = std::max(0, x - static_cast<int>(clip.right));
            v1 = std::min(static_cast<int>(g->height), x - static_cast<int>(clip.left));
        } else {
            u0 = std::max(0, static_cast<int>(clip.left) - x);
            u1 = std::min(static_cast<int>(g->width), static_cast<int>(clip.right) - x);
            v0 = std::max(0, static_cast<int>(clip.top) - y);
            v1 = std::min(static_cast<int>(g->height), static_cast<int>(clip.bottom) - y);
        }
        if (!turned && bytes == 4 && f->memImageBitsPerPixel == 8) {
            // The common case, one table lookup a pixel.
            for (int v = v0; v < v1; ++v) {
                const std::uint8_t* row = base + static_cast<std::ptrdiff_t>(v) * f->memImagePitch;
                std::uint8_t* out =
                    dest->Pixels + (y + v) * pitch + static_cast<std::ptrdiff_t>(x) * 4;
                for (int u = u0; u < u1; ++u) {
                    const std::uint8_t c = row[u];
                    if (draws[c]) std::memcpy(out + u * 4, &values[c], 4);
                }
            }
            return;
        }
        for (int v = v0; v < v1; ++v) {
            const std::uint8_t* row = base + static_cast<std::ptrdiff_t>(v) * f->memImagePitch;
            for (int u = u0; u < u1; ++u) {
                std::uint32_t value;
                if (!CellPixel(f, row, u, &value)) continue;
                const int px = turned ? x - 1 - v : x + u, py = turned ? y + u : y + v;
                Store(dest->Pixels + py * pitch + static_cast<std::ptrdiff_t>(px) * bytes, value);
            }
        }
    }
};

// The software state that a glyph image's transfer into a memory image runs under.
struct SavedMemImgState {
    RECT area;
    int mode, param;
    std::uint32_t bright;
};

SavedMemImgState SaveMemImgState() {
    const MemImgDrawStateRecord& s = MemImgDrawState;
    return {s.DrawArea, s.BlendMode, s.BlendParam, s.DrawBright};
}

void RestoreMemImgState(const SavedMemImgState& s) {
    SetMemImgDrawArea(&s.area);
    SetMemImgBlendMode(s.mode, s.param);
    SetMemImgDrawBright(s.bright);
}

void PutGlyphImageIntoMemImg(MEMIMG* dest, const RECT& clip, HandleValue graph, int x, int y) {
    GraphHandleRecord* record = LookUpGraphRecord(graph, 0);
    if (record == nullptr || record->Image == nullptr || record->Image->Format.DeviceImage) return;
    const SavedMemImgState saved = SaveMemImgState();
    SetMemImgDrawArea(&clip);
    SetMemImgBlendMode(DX_BLEND_NONE, 255);
    SetMemImgDrawBright(0xFFFFFF);
    DrawMemImg(dest, &record->View, x, y, 1, nullptr);
    RestoreMemImgState(saved);
}

// The draws of one glyph through the cache texture.
struct TextureGlyphDrawer {
    FontHandleData* f;
    bool edged;
    double sx, sy;
    bool intUnscaled, scaled, rotated, vertical;
    float shift;  // the half-pixel correction
    double cosA, sinA;
    double posX, posY;  // the given position (rotation)
    double centreX, centreY;
    Rgb text, edge;

    void Bright(const Rgb& c) const { SetBrightnessColor(c.r, c.g, c.b); }

    // The four corners (top-left, top-right, bottom-left, bottom-right) of the rectangle at
    // unscaled text coordinates (u, v) of size (w, h), turned about the centre.
    void Corners(double u, double v, double w, double h, float out[4][2]) const {
        const double us[4] = {u, u + w, u, u + w}, vs[4] = {v, v, v + h, v + h};
        for (int i = 0; i < 4; ++i) {
            const double dx = (us[i] - centreX) * sx, dy = (vs[i] - centreY) * sy;
            out[i][0] = static_cast<float>(posX + dx * cosA - dy * sinA) - shift;
            out[i][1] = static_cast<float>(posY + dx * sinA + dy * cosA) - shift;
        }
    }

    void Cached(const FontGlyphEntry* g, double penX, double penY, double textU, double textV,
                double turnedRight) const {
        const FontGlyphCacheState& c = f->cache;
        const int cell = f->metrics.cellSize;
        const int cellX = g->slotRow * cell, cellY = g->slotColumn * cell;
        const int w = g->width, h = g->height;
        for (int pass = edged ? 0 : 1; pass < 2; ++pass) {
            const bool edgePass = pass == 0;
            if (edged) Bright(edgePass ? edge : text);
            const HandleValue graph = edgePass ? c.edgeHalf : c.graph;
            if (vertical && !rotated) {
                const HandleValue view = DeriveGraphFromRect(cellX, cellY, w + 2, h + 2, graph);
                if (view < 0) continue;
                const float right = static_cast<float>(turnedRight) - shift;
                const float left = static_cast<float>(turnedRight - (h + 2) * sx) - shift;
                const float top = static_cast<float>(penY + (g->drawX - 1) * sy) - shift;
                const float bottom = static_cast<float>(top + (w + 2) * sy);
                PutGraphOnQuadF(right, top, right, bottom, left, bottom, left, top, view, 1);
                DestroyGraph(view);
            } else if (rotated) {
                float p[4][2];
                Corners(textU + g->drawX - 1, textV + g->drawY - 1, w + 2, h + 2, p);
                const float half = edgePass ? 0.5f : 0.0f;
                const float u0 = cellX * c.inverseTextureWidth + half,
                            u1 = (cellX + w + 2) * c.inverseTextureWidth + half;
                const float v0 = cellY * c.inverseTextureHeight,
                            v1 = (cellY + h + 2) * c.inverseTextureHeight;
                GraphQuad quad{{{p[0][0], p[0][1], u0, v0},
                                {p[1][0], p[1][1], u1, v0},
                                {p[2][0], p[2][1], u0, v1},
                                {p[3][0], p[3][1], u1, v1}}};
                GraphQuadList list{1, &quad, c.graph, 1};
                PutGraphList(&list);
            } else if (intUnscaled) {
                PutGraphSubRect(static_cast<int>(penX) + g->drawX,
                                static_cast<int>(penY) + g->drawY, cellX + 1, cellY + 1, w, h,
                                graph, 1, 0, 0);
            } else {
                const float x1 = static_cast<float>(penX + (g->drawX - 1) * sx) - shift;
                const float y1 = static_cast<float>(penY + (g->drawY - 1) * sy) - shift;
                if (scaled) {
                    PutGraphSubRectStretchedF(x1, y1, static_cast<float>(x1 + (w + 2) * sx),
                                              static_cast<float>(y1 + (h + 2) * sy), cellX, cellY,
                                              w + 2, h + 2, graph, 1);
                } else {
                    PutGraphSubRectF(x1, y1, static_cast<float>(cellX), static_cast<float>(cellY),
                                     static_cast<float>(w + 2), static_cast<float>(h + 2), graph, 1,
                                     0, 0);
                }
            }
        }
    }

    void Image(const FontGlyphEntry* g, double penX, double penY, double textU, double textV,
               double turnedRight) const {
        int w = 0, h = 0;
        GetGraphSize(g->graph, &w, &h);
        if (edged) Bright(text);
        if (vertical && !rotated) {
            const float right = static_cast<float>(turnedRight) - shift;
            const float left = static_cast<float>(turnedRight - h * sx) - shift;
            const float top = static_cast<float>(penY + g->drawX * sy) - shift;
            const float bottom = static_cast<float>(top + w * sy);
            PutGraphOnQuadF(right, top, right, bottom, left, bottom, left, top, g->graph, 1);
        } else if (rotated) {
            float p[4][2];
            Corners(textU + g->drawX, textV + g->drawY, w, h, p);
            PutGraphOnQuadF(p[0][0], p[0][1], p[1][0], p[1][1], p[3][0], p[3][1], p[2][0], p[2][1],
                            g->graph, 1);
        } else if (intUnscaled) {
            PutGraph(static_cast<int>(penX) + g->drawX, static_cast<int>(penY) + g->drawY, g->graph,
                     1);
        } else {
            const float x1 = static_cast<float>(penX + g->drawX * sx) - shift;
            const float y1 = static_cast<float>(penY + g->drawY * sy) - shift;
            PutGraphStretchedF(x1, y1, static_cast<float>(x1 + w * sx),
                               static_cast<float>(y1 + h * sy), g->graph, 1);
        }
    }
};

// Codes and selectors of a text: the module's arrays for short texts, else an allocated block.
struct CodeArrays {
    std::uint32_t* codes = nullptr;
    std::uint32_t* selectors = nullptr;
    std::uint32_t* block = nullptr;
    ~CodeArrays() { FreeTrackedMemory(block); }
    bool Get(int length) {
        if (length <= kFontScratchLength) {
            codes = FontSystemState.layoutCodes;
            selectors = FontSystemState.layoutSelectors;
            return true;
        }
        block = static_cast<std::uint32_t*>(AllocateTrackedMemory(
            sizeof(std::uint32_t) * 2 * static_cast<std::size_t>(length), kSourceFile, __LINE__));
        if (block == nullptr) return false;
        codes = block;
        selectors = block + length;
        return true;
    }
};

bool IsBlankCode(std::uint32_t code) {
    return code == 32 || code == 0x3000;
}

}  // namespace

int LayOutText(int drawFlag, int x, int y, float fx, float fy, int intPosition, int scaleFlag,
               double scaleX, double scaleY, int rotateFlag, float centreX, float centreY,
               double angle, const char16_t* text, std::uint32_t colour, MEMIMG* dest,
               const RECT* clip, FontHandleData* f, std::uint32_t edgeColour, int length,
               int vertical, int* outWidth, int* outHeight, int* lineCount, int* charCount) {
    if (f == nullptr || text == nullptr) return -1;
    const bool texture = f->cache.onTexture != 0 && dest == nullptr;
    if (f->cache.onTexture && !Backend_IsDeviceReady()) return -1;
    if (drawFlag && !texture) {
        // Pixels are written one to one: no scaling, no rotation, integer positions.
        if (scaleFlag || rotateFlag) return -1;
        if (dest == nullptr || !IsMemImgValid(dest) || f->cache.onTexture) return -1;
        if (!intPosition) {
            x = static_cast<int>(fx);
            y = static_cast<int>(fy);
            intPosition = 1;
        }
    }
    const double sx = scaleFlag ? scaleX : 1.0, sy = scaleFlag ? scaleY : 1.0;
    const double along = vertical ? sy : sx, across = vertical ? sx : sy;
    const double turn = angle + (vertical ? kQuarterTurn : 0.0);
    const double cosA = rotateFlag ? std::cos(turn) : 1.0, sinA = rotateFlag ? std::sin(turn) : 0.0;

    if (length < 0) {
        length = 0;
        while (text[length] != 0) ++length;
    }
    CodeArrays arrays;
    if (!arrays.Get(length)) return -1;
    int count = 0;
    if (length > 0 &&
        PrepareTextGlyphs(f, text, length, arrays.codes, arrays.selectors, &count) != 0) {
        return -1;
    }
    const std::uint32_t* codes = arrays.codes;
    const std::uint32_t* selectors = arrays.selectors;

    const int leading = f->metrics.leadingAdjustment;
    const double leadingShift = (leading / 2) * sy;
    const double lineStep = LineStepOf(f) * across;
    const double originX = (intPosition ? x : fx) - (vertical ? leadingShift : 0.0);
    const double originY = (intPosition ? y : fy) - (vertical ? 0.0 : leadingShift);

    // What drawing needs.
    const DrawSettingsData& d = Settings();
    const int savedRed = d.BrightRed, savedGreen = d.BrightGreen, savedBlue = d.BrightBlue;
    const bool edged = IsEdgedFont(f);
    MemImgTextWriter writer{};
    TextureGlyphDrawer drawer{};
    if (drawFlag) {
        const Rgb text8 = BrightenedColour(colour), edge8 = BrightenedColour(edgeColour);
        if (texture) {
            drawer = TextureGlyphDrawer{f,
                                        edged,
                                        sx,
                                        sy,
                                        intPosition && !scaleFlag && !rotateFlag,
                                        scaleFlag != 0,
                                        rotateFlag != 0,
                                        vertical != 0,
                                        G().NoHalfPixelOffset ? 0.0f : 0.5f,
                                        cosA,
                                        sinA,
                                        static_cast<double>(intPosition ? x : fx),
                                        static_cast<double>(intPosition ? y : fy),
                                        centreX,
                                        centreY,
                                        text8,
                                        edge8};
            if (!edged) drawer.Bright(text8);
        } else {
            writer.dest = dest;
            writer.clip = clip != nullptr ? *clip : RECT{0, 0, dest->Width, dest->Height};
            const RECT whole{0, 0, dest->Width, dest->Height};
            ClipRectangle(&writer.clip, &whole);
            writer.format = dest->Shared->Format;
            writer.bytes = MemImgBytesPerPixel(dest->Shared);
            writer.text = text8;
            writer.edge = edge8;
            writer.textRaw = RawOf(writer.format, text8, 255);
            writer.edgeRaw = RawOf(writer.format, edge8, 255);
            writer.BuildValues(f);
        }
    }

    double pen = 0.0, offset = 0.0, widest = 0.0;
    int lines = 1;
    const int fontHeight = f->metrics.height;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t code = codes[i];
        if (code == 10) {
            ++lines;
            pen = 0.0;
            offset += lineStep;
            continue;
        }
        const FontGlyphEntry* g = FindGlyph(f, code, selectors[i], nullptr, nullptr, nullptr, 1, 0);
        if (drawFlag && g != nullptr && !IsBlankCode(code) &&
            (g->isImage || g->width != 0 || g->height != 0)) {
            if (texture) {
                const double penX = vertical ? originX : originX + pen;
                const double penY = vertical ? originY + pen : originY + offset;
                // Rotated vertical text is laid out as a line turned a quarter further.
                const double textU = pen / along;
                const double textV = offset / across - leading / 2;
                const double turnedRight =
                    originX - offset + (fontHeight - (g->isImage ? g->drawY : g->drawY - 1)) * sx;
                // A blend graph would be laid over each glyph's cell: it is off while the glyph
                // is drawn.
                const HandleValue blendGraph = d.BlendGraph;
                const int border = d.BlendBorderParam, range = d.BlendBorderRange;
                if (blendGraph > 0) SetBlendGraphParams(-1, 0, 0, 0);
                if (g->isImage)
                    drawer.Image(g, penX, penY, textU, textV, turnedRight);
                else
                    drawer.Cached(g, penX, penY, textU, textV, turnedRight);
                if (blendGraph > 0) SetBlendGraphParams(blendGraph, 1, border, range);
            } else {
                const int penX = static_cast<int>(originX), penY = static_cast<int>(originY);
                const int at = static_cast<int>(pen), lineAt = static_cast<int>(offset);
                if (g->isImage) {
                    PutGlyphImageIntoMemImg(dest, writer.clip, g->graph, penX + at + g->drawX,
                                            penY + lineAt + g->drawY);
                } else if (vertical) {
                    writer.Glyph(f, g, penX - lineAt + (fontHeight - g->drawY),
                                 penY + at + g->drawX, true);
                } else {
                    writer.Glyph(f, g, penX + at + g->drawX, penY + lineAt + g->drawY, false);
                }
            }
        }
        pen += g != nullptr ? (g->advance + f->spacing) * along : f->spacing * along;
        if (i + 1 < count) pen += KerningAmount(f, g, code, codes[i + 1]) * along;
        widest = std::max(widest, pen);
    }

    if (drawFlag && texture) SetBrightnessColor(savedRed, savedGreen, savedBlue);
    const int width = TruncD(widest);
    const int height = TruncD((fontHeight - leading) * across + offset);
    if (outWidth != nullptr) *outWidth = vertical ? height : width;
    if (outHeight != nullptr) *outHeight = vertical ? width : height;
    if (lineCount != nullptr) *lineCount = lines;
    if (charCount != nullptr) *charCount = count;
    return width;
}

namespace {

enum class DrawForm { kPlain, kScaled, kScaledAtInt, kRotated };

struct DrawRequest {
    DrawForm form;
    int x, y;
    float fx, fy;
    double sx = 1.0, sy = 1.0;
    double cx = 0.0, cy = 0.0, angle = 0.0;
};

// The raw values a text of this font writes into an image of the format.
void RawColours(const FontHandleData* f, const COLORFORMAT* format, std::uint32_t colour,
                std::uint32_t edgeColour, std::uint32_t* text, std::uint32_t* edge) {
    *text = RawOf(format, BrightenedColour(colour), 255);
    *edge = IsEdgedFont(f) ? RawOf(format, BrightenedColour(edgeColour), 255) : *text;
}

void SetSoftwareArea(const RECT& r) {
    SetMemImgDrawArea(&r);
}

std::uint32_t PackedBrightness() {
    const DrawSettingsData& d = Settings();
    return static_cast<std::uint32_t>(d.BrightRed << 16 | d.BrightGreen << 8 | d.BrightBlue);
}

// The software path of every draw form (memory-image cache).
int DrawThroughMemImg(FontHandleData* f, const DrawRequest& q, const char16_t* text, int length,
                      std::uint32_t colour, std::uint32_t edgeColour, int vertical, int width,
                      int height, int lineOffset) {
    GraphicsSystemStateData& g = G();
    DrawSettingsData& d = Settings();
    MEMIMG* screen = g.SoftwareDrawDestination;
    if (screen == nullptr || !IsMemImgValid(screen)) return 0;
    const bool antialiased = IsAntialiasedFont(f);
    const bool blending =
        !(d.BlendMode == DX_BLEND_NONE || (d.BlendMode == DX_BLEND_ALPHA && d.BlendParam == 255));
    if (q.form == DrawForm::kPlain && !blending && !antialiased) {
        return LayOutText(1, q.x, q.y, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, text, colour, screen,
                          &d.DrawArea, f, edgeColour, length, vertical, nullptr, nullptr, nullptr,
                          nullptr) < 0
                   ? -1
                   : 0;
    }
    MEMIMG* scratch = antialiased ? &g.FontWorkAlphaImage : &g.FontWorkImage;
    if (!IsMemImgValid(scratch)) return 0;
    MemImgShared* shared = scratch->Shared;
    std::uint32_t clear = 0;
    if (!antialiased) {
        std::uint32_t textRaw, edgeRaw;
        RawColours(f, shared->Format, colour, edgeColour, &textRaw, &edgeRaw);
        clear = shared->TransColor;
        while (clear == textRaw || clear == edgeRaw) ++clear;
    }
    shared->TransColor = clear;
    shared->UseTransColor = 1;
    // Vertical lines after the first go to the left: the scratch text starts right of them.
    const int startX = vertical ? lineOffset : 0;
    RECT rect{0, 0, width + (f->metrics.italic ? f->metrics.cellSize / 2 : 0), height};
    if (vertical) rect.right += f->metrics.leadingAdjustment;
    const RECT whole{0, 0, scratch->Width, scratch->Height};
    ClipRectangle(&rect, &whole);
    if (rect.right <= rect.left || rect.bottom <= rect.top) return 0;
    FillMemImgRect(scratch, &rect, clear);
    if (LayOutText(1, startX, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, text, colour, scratch, &rect, f,
                   edgeColour, length, vertical, nullptr, nullptr, nullptr, nullptr) < 0) {
        return -1;
    }
    const int x = q.x - startX, y = q.y;
    const RECT saved = d.DrawArea;
    SetMemImgDrawBright(0xFFFFFF);
    const MEMIMG* blend = drawframe::SoftwareBlendImage();
    MEMIMG view;
    MakeMemImgView(&view, scratch, 0, 0, rect.right, rect.bottom);
    switch (q.form) {
        case DrawForm::kPlain: {
            const int top = vertical ? y : y - f->metrics.leadingAdjustment / 2;
            RECT box{x, top, saved.right, y + height + f->metrics.leadingAdjustment + 3};
            if (vertical)
                box =
                    RECT{x - f->metrics.leadingAdjustment / 2, y, x + rect.right + 3, saved.bottom};
            ClipRectangle(&box, &saved);
            SetSoftwareArea(box);
            DrawMemImg(screen, &view, x, y, 1, blend);
            break;
        }
        case DrawForm::kScaled:
        case DrawForm::kScaledAtInt: {
            RECT box{x, y, TruncD(x + rect.right * q.sx + 3), TruncD(y + height * q.sy + 3)};
            ClipRectangle(&box, &saved);
            SetSoftwareArea(box);
            const RECT to{x, y, TruncD(x + scratch->Width * q.sx + 3),
                          TruncD(y + scratch->Height * q.sy + 3)};
            DrawMemImgStretched(screen, scratch, &to, 1, blend);
            break;
        }
        case DrawForm::kRotated: {
            const double cx = q.cx + startX, cy = q.cy;
            if (q.angle != 0.0) {
                const double ox = (view.Width / 2.0 - cx) * q.sx,
                             oy = (view.Height / 2.0 - cy) * q.sy;
                const double c = std::cos(q.angle), s = std::sin(q.angle);
                DrawMemImgRotated(screen, &view, TruncD(q.x + ox * c - oy * s),
                                  TruncD(q.y + ox * s + oy * c), static_cast<float>(q.angle),
                                  static_cast<float>(q.sx), static_cast<float>(q.sy), 1, 0, 0,
                                  blend);
            } else if (q.sx != 1.0 || q.sy != 1.0) {
                const int left = TruncD(q.x - q.sx * cx), top = TruncD(q.y - q.sy * cy);
                const RECT to{left, top, TruncD(left + view.Width * q.sx),
                              TruncD(top + view.Height * q.sy)};
                DrawMemImgStretched(screen, &view, &to, 1, blend);
            } else {
                DrawMemImg(screen, &view, TruncD(q.x - cx), TruncD(q.y - cy), 1, blend);
            }
            break;
        }
    }
    SetSoftwareArea(saved);
    SetMemImgDrawBright(PackedBrightness());
    return 0;
}

// The front of every draw: the checks, the measure, the brackets, then the texture or the
// software path.
int DrawTextBody(const DrawRequest& q, const char16_t* text, int length, std::uint32_t colour,
                 HandleValue handle, std::uint32_t edgeColour, int vertical) {
    if (text == nullptr || length == 0 || text[0] == 0) return 0;
    if (Settings().DrawingSuppressed) return 0;
    WaitWhileWindowInactive();
    FontHandleData* f = ResolveOrLog(handle);
    if (f == nullptr) return -1;
    if (DeviceInUse() && Settings().TwoDimModeInEffect == 0) Enter2DDrawMode();

    const bool texture = f->cache.onTexture != 0;
    const bool scaled = q.form != DrawForm::kPlain;
    const bool rotated = q.form == DrawForm::kRotated;
    const bool intPosition = q.form != DrawForm::kScaled;
    int width = 0, height = 0;
    // The software path lays out unscaled; the texture path measures as it will draw.
    const bool measureScaled = texture && scaled;
    if (LayOutText(0, q.x, q.y, q.fx, q.fy, intPosition, measureScaled, q.sx, q.sy, 0, 0, 0, 0,
                   text, 0, nullptr, nullptr, f, 0, length, vertical, &width, &height, nullptr,
                   nullptr) < 0) {
        return -1;
    }
    const int leading = f->metrics.leadingAdjustment;
    const int lineOffset = vertical ? std::max(0, width - TruncD((f->metrics.height - leading) *
                                                                 (measureScaled ? q.sx : 1.0)))
                                    : 0;

    // The text's rectangle.
    const RECT& area = Settings().DrawArea;
    RECT box = area;
    if (!rotated) {
        const double sx = scaled ? q.sx : 1.0, sy = scaled ? q.sy : 1.0;
        if (vertical) {
            const int across = texture ? width : TruncD(width * sx);
            box = RECT{q.x - TruncD((leading / 2) * sy) - (texture ? 0 : TruncD(lineOffset * sx)),
                       q.y, TruncD(q.x + across + leading * sx + 3), area.bottom};
        } else {
            const int down = texture ? height : TruncD(height * sy);
            box = RECT{q.x, q.form == DrawForm::kPlain ? q.y - leading / 2 : q.y, area.right,
                       TruncD(q.y + down + leading * sy + 3)};
        }
        if (box.left >= area.right) return 0;
    }

    const bool emulate = texture && drawframe::NeedsEmulatedSubtract(true);
    const bool masked = MaskLayerInUse();
    const RECT bracket = drawframe::ClampToDrawArea(box);
    if (masked) BeginMaskedDraw(bracket);
    if (emulate) BeginEmulatedSubtract(bracket);
    int result;
    if (texture) {
        if (f->cache.graphMissing) CreateGlyphCacheGraph(f, 0);
        result = LayOutText(1, q.x, q.y, q.fx, q.fy, intPosition, scaled, q.sx, q.sy, rotated,
                            static_cast<float>(q.cx), static_cast<float>(q.cy), q.angle, text,
                            colour, nullptr, nullptr, f, edgeColour, length, vertical, nullptr,
                            nullptr, nullptr, nullptr) < 0
                     ? -1
                     : 0;
    } else {
        result = DrawThroughMemImg(f, q, text, length, colour, edgeColour, vertical, width, height,
                                   lineOffset);
    }
    if (emulate) EndEmulatedSubtract(bracket);
    if (masked) EndMaskedDraw(bracket);
    return result;
}

// Narrow text of a font's string encoding as UTF-16: on the stack below 505 code units, else in
// an allocated buffer of 2 x length + 32 bytes.
class FontWideText {
  public:
    FontWideText(const char* text, std::int32_t encoding, int units = -1) {
        if (text == nullptr) return;
        if (encoding == WideEncoding) {
            text_ = reinterpret_cast<const char16_t*>(text);
            return;
        }
        const int length = units >= 0 ? units : CountCodeStringUnits(encoding, text);
        const int bytesPerUnit = UnitBytesOfCharCode(encoding);
        char16_t* target = local_;
        int capacity = static_cast<int>(sizeof(local_));
        if (length >= kStackTextUnits) {
            capacity = 2 * length * bytesPerUnit + 32;
            heap_ = static_cast<char16_t*>(
                AllocateTrackedMemory(static_cast<std::size_t>(capacity), kSourceFile, __LINE__));
            if (heap_ == nullptr) {
                failed_ = true;
                return;
            }
            target = heap_;
        }
        target[0] = 0;
        TranscodeString(text, length, encoding, target, capacity, WideEncoding);
        text_ = target;
    }
    ~FontWideText() { FreeTrackedMemory(heap_); }
    FontWideText(const FontWideText&) = delete;
    FontWideText& operator=(const FontWideText&) = delete;
    const char16_t* Get() const { return text_; }
    bool Failed() const { return failed_; }

  private:
    char16_t local_[2 * kStackTextUnits + 32];
    char16_t* heap_ = nullptr;
    const char16_t* text_ = nullptr;
    bool failed_ = false;
};

// The encoding of a font's narrow texts, or -1 (logged) for a bad handle.
int NarrowEncodingOf(HandleValue handle) {
    if (ResolveOrLog(handle) == nullptr) return -1;
    return GetFontStringEncoding(handle);
}

bool IsEmptyNarrow(const char* text) {
    return text == nullptr || text[0] == 0;
}

}  // namespace

int DrawTextWithFontWide(int x, int y, const char16_t* text, int length, std::uint32_t colour,
                         HandleValue font, std::uint32_t edgeColour, int vertical) {
    DrawRequest q{DrawForm::kPlain, x, y, static_cast<float>(x), static_cast<float>(y)};
    return DrawTextBody(q, text, length, colour, font, edgeColour, vertical);
}

int DrawTextWithFont(int x, int y, const char* text, std::uint32_t colour, HandleValue font,
                     std::uint32_t edgeColour, int vertical) {
    if (IsEmptyNarrow(text)) return 0;
    const int encoding = NarrowEncodingOf(font);
    if (encoding < 0) return -1;
    FontWideText wide(text, encoding);
    if (wide.Failed()) return -1;
    return DrawTextWithFontWide(x, y, wide.Get(), -1, colour, font, edgeColour, vertical);
}

int DrawTextDefaultFont(int x, int y, const char* text, std::uint32_t colour,
                        std::uint32_t edgeColour) {
    return DrawTextWithFont(x, y, text, colour, -2, edgeColour, 0);
}

int DrawFormattedText(int x, int y, std::uint32_t colour, const char* format, ...) {
    if (IsEmptyNarrow(format)) return 0;
    const int encoding = NarrowEncodingOf(-2);
    if (encoding < 0) return -1;
    alignas(char16_t) char buffer[2048];
    const int units = static_cast<int>(sizeof(buffer)) / UnitBytesOfCharCode(encoding);
    va_list args;
    va_start(args, format);
    FormatCodeStringV(encoding, 0, NarrowEncoding, WideEncoding, buffer, units, format, args);
    va_end(args);
    return DrawTextWithFont(x, y, buffer, colour, -2, 0, 0);
}

int DrawTextScaledWithFontWide(float x, float y, double scaleX, double scaleY, const char16_t* text,
                               int length, std::uint32_t colour, HandleValue font,
                               std::uint32_t edgeColour, int vertical) {
    DrawRequest q{
        DrawForm::kScaled, static_cast<int>(x), static_cast<int>(y), x, y, scaleX, scaleY};
    return DrawTextBody(q, text, length, colour, font, edgeColour, vertical);
}

int DrawTextScaledWithFont(float x, float y, double scaleX, double scaleY, const char* text,
                           std::uint32_t colour, HandleValue font, std::uint32_t edgeColour,
                           int vertical) {
    if (IsEmptyNarrow(text)) return 0;
    const int encoding = NarrowEncodingOf(font);
    if (encoding < 0) return -1;
    FontWideText wide(text, encoding);
    if (wide.Failed()) return -1;
    return DrawTextScaledWithFontWide(x, y, scaleX, scaleY, wide.Get(), -1, colour, font,
                                      edgeColour, vertical);
}

int DrawTextScaledAtIntWide(int x, int y, double scaleX, double scaleY, const char16_t* text,
                            int length, std::uint32_t colour, HandleValue font,
                            std::uint32_t edgeColour, int vertical) {
    DrawRequest q{DrawForm::kScaledAtInt, x,      y,     static_cast<float>(x),
                  static_cast<float>(y),  scaleX, scaleY};
    return DrawTextBody(q, text, length, colour, font, edgeColour, vertical);
}

int DrawTextRotatedWithFontWide(int x, int y, double scaleX, double scaleY, double centreX,
                                double centreY, double angle, std::uint32_t colour,
                                HandleValue font, std::uint32_t edgeColour, int vertical,
                                const char16_t* text, int length) {
    DrawRequest q{DrawForm::kRotated,
                  x,
                  y,
                  static_cast<float>(x),
                  static_cast<float>(y),
                  scaleX,
                  scaleY,
                  centreX,
                  centreY,
                  angle};
    return DrawTextBody(q, text, length, colour, font, edgeColour, vertical);
}

int DrawTextRotatedWithFont(int x, int y, double scaleX, double scaleY, double centreX,
                            double centreY, double angle, std::uint32_t colour, HandleValue font,
                            std::uint32_t edgeColour, int vertical, const char* text) {
    if (IsEmptyNarrow(text)) return 0;
    const int encoding = NarrowEncodingOf(font);
    if (encoding < 0) return -1;
    FontWideText wide(text, encoding);
    if (wide.Failed()) return -1;
    return DrawTextRotatedWithFontWide(x, y, scaleX, scaleY, centreX, centreY, angle, colour, font,
                                       edgeColour, vertical, wide.Get(), -1);
}

int MeasureTextWidthWide(const char16_t* text, int length, int cap, HandleValue font,
                         int vertical) {
    return MeasureTextWidthScaledWide(1.0, text, length, cap, font, vertical);
}

int MeasureTextWidthScaledWide(double scaleX, const char16_t* text, int length, int cap,
                               HandleValue font, int vertical) {
    FontHandleData* f = ResolveOrLog(font);
    if (f == nullptr) return -1;
    if (text == nullptr) return 0;
    if (length <= 0) {
        length = 0;
        while (text[length] != 0) ++length;
    }
    if (cap >= 0) length = std::min(length, cap);
    if (length == 0) return 0;
    const bool scaled = scaleX != 1.0;
    return LayOutText(0, 0, 0, 0, 0, 1, scaled, scaleX, scaleX, 0, 0, 0, 0, text, 0, nullptr,
                      nullptr, f, 0, length, vertical, nullptr, nullptr, nullptr, nullptr);
}

int MeasureTextWidthWithFont(const char* text, int count, HandleValue font, int vertical) {
    const int encoding = NarrowEncodingOf(font);
    if (encoding < 0) return -1;
    if (IsEmptyNarrow(text) || count == 0) return 0;
    if (count < 0) {
        FontWideText wide(text, encoding);
        if (wide.Failed()) return -1;
        return MeasureTextWidthWide(wide.Get(), 0, -1, font, vertical);
    }
    // The first count code units, terminated.
    const int unitBytes = UnitBytesOfCharCode(encoding);
    const std::size_t bytes = static_cast<std::size_t>(count + 1) * unitBytes;
    alignas(char16_t) char local[512];
    char* copy = local;
    void* heap = nullptr;
    if (bytes > sizeof(local)) {
        heap = AllocateTrackedMemory(bytes, kSourceFile, __LINE__);
        if (heap == nullptr) return -1;
        copy = static_cast<char*>(heap);
    }
    // Never read past the text's own terminator.
    const int available = CountCodeStringUnits(encoding, text);
    const int units = std::min(count, available);
    std::memcpy(copy, text, static_cast<std::size_t>(units) * unitBytes);
    std::memset(copy + static_cast<std::size_t>(units) * unitBytes, 0,
                static_cast<std::size_t>(unitBytes));
    int result;
    {
        FontWideText wide(copy, encoding, units);
        result = wide.Failed() ? -1 : MeasureTextWidthWide(wide.Get(), 0, -1, font, vertical);
    }
    FreeTrackedMemory(heap);
    return result;
}

int MeasureTextWidthDefaultFont(const char* text, int count, int vertical) {
    return MeasureTextWidthWithFont(text, count, -2, vertical);
}

int MeasureDefaultFontText(const char* text, int count) {
    return MeasureTextWidthDefaultFont(text, count, 0);
}

}  // namespace ZiDaz
