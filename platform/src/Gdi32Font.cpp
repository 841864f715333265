// gdi32's font objects over FreeType: CreateFontW always gives a font (the face asked for, else
// fontconfig's substitute), with Windows' metrics derived from the face's tables; glyphs come
// from FreeType's hinted renderer in the row layouts of GetGlyphOutline; kerning pairs from the
// 'kern' table; text extents and text output into a context's surface.
#include <ft2build.h>
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>

#include "Gdi32FontInternal.h"
#include "Gdi32Internal.h"
#include "platform/HostPath.h"
#include "platform/Kernel32.h"
#include "platform/Modules.h"

namespace platform::gdi {

namespace {
std::atomic<int> failingCreations{0};
}

void FailNextFontCreations(int count) {
    failingCreations = count;
}

namespace font {

namespace {

// The largest glyph box rendered, in pixels either way: sixteen ems and a little, at most this.
constexpr FT_Pos kMaxGlyphPixels = 4096;

int RoundDiv(long long value, long long divisor) {
    // Rounds half away from zero; divisor > 0.
    return static_cast<int>(value >= 0 ? (value + divisor / 2) / divisor
                                       : -((-value + divisor / 2) / divisor));
}

// Windows' metrics from the face's OS/2 and hhea tables, for a size in pixels: a positive height
// is the cell (winAscent + winDescent), a negative one the em.
void SetUpMetrics(FontObject& f) {
    FT_Face face = f.face;
    const auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const auto* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
    long em = face->units_per_EM > 0 ? face->units_per_EM : 1000;
    long winAscent = os2 ? os2->usWinAscent : 0;
    long winDescent = os2 ? os2->usWinDescent : 0;
    long ascender = hhea ? hhea->Ascender : face->ascender;
    long descender = hhea ? -hhea->Descender : -face->descender;
    long lineGap = hhea ? hhea->Line_Gap : 0;
    if (winAscent + winDescent <= 0) {
        winAscent = ascender;
        winDescent = descender;
    }
    if (winAscent + winDescent <= 0) {
        winAscent = em * 4 / 5;
        winDescent = em - winAscent;
    }
    long cell = winAscent + winDescent;
    long height = f.logFont.lfHeight;
    if (height == 0) height = 16;
    long long num, den;  // pixels per font unit = num / den
    int tmHeight, tmAscent;
    if (height > 0) {
        height = std::min<long>(height, 0x4000);
        num = height;
        den = cell;
        f.ppem = std::max(1, RoundDiv(static_cast<long long>(height) * em, cell));
        tmHeight = static_cast<int>(height);
        tmAscent = RoundDiv(winAscent * num, den);
    } else {
        long size = std::min<long>(-height, 0x4000);
        num = size;
        den = em;
        f.ppem = static_cast<int>(size);
        tmAscent = RoundDiv(winAscent * num, den);
        tmHeight = tmAscent + RoundDiv(winDescent * num, den);
    }
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(f.ppem));
    TEXTMETRICW& tm = f.metrics;
    tm = TEXTMETRICW{};
    tm.tmHeight = tmHeight;
    tm.tmAscent = tmAscent;
    tm.tmDescent = tmHeight - tmAscent;
    tm.tmInternalLeading = std::max(0, tmHeight - f.ppem);
    // The line gap, less what the Windows ascent and descent already add over hhea's.
    long extra = cell - (ascender + descender);
    tm.tmExternalLeading = std::max(0, RoundDiv(std::max(0L, lineGap - extra) * num, den));
    long widest = face->bbox.xMax - face->bbox.xMin;
    tm.tmMaxCharWidth = static_cast<LONG>((widest * num + den - 1) / den);
    long average = os2 && os2->xAvgCharWidth > 0 ? os2->xAvgCharWidth : em / 2;
    tm.tmAveCharWidth = std::max(1, RoundDiv(average * num, den));
    if (f.choice.emboldened) {
        tm.tmMaxCharWidth += 1;
        tm.tmAveCharWidth += 1;
    }
    if (f.choice.sheared) tm.tmMaxCharWidth += (tmHeight + 2) / 3;
    tm.tmWeight = f.choice.emboldened || f.logFont.lfWeight >= FW_SEMIBOLD
                      ? std::max<LONG>(f.logFont.lfWeight, FW_BOLD)
                      : (os2 ? os2->usWeightClass : FW_NORMAL);
    tm.tmDigitizedAspectX = 96;
    tm.tmDigitizedAspectY = 96;
    tm.tmFirstChar = 0x20;
    tm.tmLastChar = 0xFFFC;
    tm.tmDefaultChar = 0x1F;
    tm.tmBreakChar = 0x20;
    tm.tmItalic = f.logFont.lfItalic ? 0xFF : 0;
    tm.tmUnderlined = f.logFont.lfUnderline;
    tm.tmStruckOut = f.logFont.lfStrikeOut;
    // TMPF_FIXED_PITCH set means a variable pitch; then vector and TrueType.
    tm.tmPitchAndFamily = static_cast<BYTE>((FT_IS_FIXED_WIDTH(face) ? 0 : 1) | 2 | 4);
    BYTE charSet = f.logFont.lfCharSet;
    if (charSet == DEFAULT_CHARSET) {
        charSet = CharSetLanguage(DEFAULT_CHARSET) == "ja" ? SHIFTJIS_CHARSET : ANSI_CHARSET;
    }
    tm.tmCharSet = charSet;
}

bool OpenFace(FontObject& f) {
    if (FT_New_Face(Library(), f.choice.file.c_str(), f.choice.index, &f.face) != 0) {
        f.face = nullptr;
        return false;
    }
    if (!FT_IS_SCALABLE(f.face) || f.face->units_per_EM == 0) {
        FT_Done_Face(f.face);
        f.face = nullptr;
        return false;
    }
    // Unicode, the UCS-4 map where there is one, so that characters above U+FFFF are found.
    for (int i = 0; i < f.face->num_charmaps; ++i) {
        FT_CharMap map = f.face->charmaps[i];
        if (map->platform_id == 3 && map->encoding_id == 10) {
            FT_Set_Charmap(f.face, map);
            break;
        }
    }
    if (f.face->charmap == nullptr) FT_Select_Charmap(f.face, FT_ENCODING_UNICODE);
    // Weight 600 and more on a face without bold is emboldened; italic on an upright face sheared.
    const auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f.face, FT_SFNT_OS2));
    bool boldFace = (f.face->style_flags & FT_STYLE_FLAG_BOLD) ||
                    (os2 != nullptr && os2->usWeightClass >= FW_SEMIBOLD);
    f.choice.emboldened = f.logFont.lfWeight >= FW_SEMIBOLD && !boldFace;
    f.choice.sheared = f.logFont.lfItalic != 0 && !(f.face->style_flags & FT_STYLE_FLAG_ITALIC);
    SetUpMetrics(f);
    return true;
}

std::shared_ptr<FontObject> MakeFont(const LOGFONTW& logFont) {
    auto f = std::make_shared<FontObject>();
    f->logFont = logFont;
    std::lock_guard guard(Lock());
    if (ChooseFace(logFont, &f->choice) && OpenFace(*f)) return f;
    // The face fontconfig named would not load: any face at all.
    LOGFONTW plain{};
    plain.lfHeight = logFont.lfHeight;
    plain.lfCharSet = DEFAULT_CHARSET;
    if (ChooseFace(plain, &f->choice) && OpenFace(*f)) return f;
    return nullptr;
}

std::shared_ptr<FontObject> DefaultFont() {
    static std::shared_ptr<FontObject> font = [] {
        LOGFONTW lf{};
        lf.lfHeight = 16;
        lf.lfWeight = FW_NORMAL;
        lf.lfCharSet = DEFAULT_CHARSET;
        return MakeFont(lf);
    }();
    return font;
}

// The 'kern' table's format 0 subtables, as (left glyph, right glyph) -> font units.
std::map<std::pair<UINT, UINT>, int> ReadKernTable(FT_Face face) {
    std::map<std::pair<UINT, UINT>, int> pairs;
    FT_ULong length = 0;
    if (FT_Load_Sfnt_Table(face, TTAG_kern, 0, nullptr, &length) != 0 || length < 4) return pairs;
    std::vector<BYTE> table(length);
    if (FT_Load_Sfnt_Table(face, TTAG_kern, 0, table.data(), &length) != 0) return pairs;
    auto u16 = [&](std::size_t at) { return static_cast<UINT>(table[at] << 8 | table[at + 1]); };
    if (u16(0) != 0) return pairs;  // the Apple layout is not read
    UINT tables = u16(2);
    std::size_t at = 4;
    for (UINT t = 0; t < tables && at + 6 <= length; ++t) {
        UINT subLength = u16(at + 2), coverage = u16(at + 4);
        std::size_t end = std::min<std::size_t>(length, at + std::max<UINT>(subLength, 6));
        // Horizontal, not minimum values, not cross-stream, format 0.
        if ((coverage & 0xFF0F) == 0x0001 && at + 14 <= end) {
            UINT count = u16(at + 6);
            std::size_t p = at + 14;
            for (UINT i = 0; i < count && p + 6 <= length; ++i, p += 6) {
                pairs[{u16(p), u16(p + 2)}] = static_cast<std::int16_t>(u16(p + 4));
            }
        }
        if (subLength < 6) break;
        at += subLength;
    }
    return pairs;
}

void ReadKerning(FontObject& f) {
    f.kerningRead = true;
    auto pairs = ReadKernTable(f.face);
    if (pairs.empty()) return;
    // Glyphs back to characters: the lowest character of each glyph in the basic plane.
    std::map<UINT, WORD> characters;
    FT_UInt glyph = 0;
    for (FT_ULong c = FT_Get_First_Char(f.face, &glyph); glyph != 0 && c <= 0xFFFF;
         c = FT_Get_Next_Char(f.face, c, &glyph)) {
        characters.emplace(glyph, static_cast<WORD>(c));
    }
    FT_Fixed scale = f.face->size->metrics.x_scale;
    for (const auto& [key, value] : pairs) {
        auto left = characters.find(key.first), right = characters.find(key.second);
        if (left == characters.end() || right == characters.end()) continue;
        FT_Long scaled = FT_MulFix(value, scale);  // 26.6 pixels
        int amount = static_cast<int>(scaled >= 0 ? (scaled + 32) >> 6 : -((-scaled + 32) >> 6));
        if (amount == 0) continue;
        f.kerning.push_back({left->second, right->second, amount});
    }
}

}  // namespace

FontObject::~FontObject() {
    std::lock_guard guard(Lock());
    if (face) FT_Done_Face(face);
}

int FontObject::Describe(int size, void* out, bool wide) const {
    if (wide) {
        if (out == nullptr) return sizeof(LOGFONTW);
        int n = std::min<int>(size, sizeof(LOGFONTW));
        std::memcpy(out, &logFont, static_cast<std::size_t>(n));
        return n;
    }
    if (out == nullptr) return sizeof(LOGFONTA);
    LOGFONTA narrow{};
    std::memcpy(&narrow, &logFont, offsetof(LOGFONTA, lfFaceName));
    int units = 0;
    while (units < LF_FACESIZE && logFont.lfFaceName[units] != 0) ++units;
    kernel32::WideCharToMultiByte(0, 0, logFont.lfFaceName, units, narrow.lfFaceName,
                                  LF_FACESIZE - 1, nullptr, nullptr);
    int n = std::min<int>(size, sizeof(LOGFONTA));
    std::memcpy(out, &narrow, static_cast<std::size_t>(n));
    return n;
}

std::shared_ptr<FontObject> DcFont(HDC dc) {
    DeviceContext c;
    if (!FindDc(dc, &c)) return nullptr;
    auto selected = FindObjectAs<FontObject>(c.font);
    return selected ? selected : DefaultFont();
}

bool IsVariationSelector(char32_t c) {
    return (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF) ||
           (c >= 0x180B && c <= 0x180D);
}

UINT GlyphIndex(FontObject& f, char32_t code) {
    return f.face ? FT_Get_Char_Index(f.face, code) : 0;
}

bool RenderGlyph(FontObject& f, UINT index, UINT format, Glyph* out) {
    if (f.face == nullptr) return false;
    if (index == f.lastIndex && format == f.lastFormat) {
        *out = f.last;
        return true;
    }
    bool mono = format == GGO_BITMAP || format == GGO_METRICS;
    FT_Int32 flags = FT_LOAD_NO_BITMAP | (mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
    if (FT_Load_Glyph(f.face, index, flags) != 0) return false;
    FT_GlyphSlot slot = f.face->glyph;
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return false;
    FT_Pos advance = slot->advance.x;
    if (f.choice.sheared) {
        FT_Matrix shear{0x10000, 0x0366A, 0, 0x10000};  // about 12 degrees, as an oblique face
        FT_Outline_Transform(&slot->outline, &shear);
    }
    if (f.choice.emboldened) {
        FT_Outline_EmboldenXY(&slot->outline, 64, 0);
        advance += 64;
    }
    // A damaged or hostile face may describe glyphs far larger than any text: refused, so that
    // rendering never asks for a huge bitmap.
    FT_BBox box;
    FT_Outline_Get_CBox(&slot->outline, &box);
    FT_Pos largest = std::min<FT_Pos>(kMaxGlyphPixels, 16 * static_cast<FT_Pos>(f.ppem) + 64) << 6;
    if ((box.xMax - box.xMin) > largest || (box.yMax - box.yMin) > largest) {
        return false;
    }
    if (FT_Render_Glyph(slot, mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0) {
        return false;
    }
    const FT_Bitmap& b = slot->bitmap;
    Glyph g;
    g.metrics.gmBlackBoxX = b.width;
    g.metrics.gmBlackBoxY = b.rows;
    g.metrics.gmptGlyphOrigin = {slot->bitmap_left, slot->bitmap_top};
    g.metrics.gmCellIncX = static_cast<SHORT>((advance + 32) >> 6);
    if (b.width == 0 || b.rows == 0 || slot->outline.n_contours == 0) {
        // A glyph without ink: a 1 x 1 box and no bits, as Windows reports it.
        g.metrics.gmBlackBoxX = g.metrics.gmBlackBoxY = 1;
    } else if (format == GGO_BITMAP) {
        std::size_t pitch = (b.width + 31) / 32 * 4;
        g.bits.assign(pitch * b.rows, 0);
        std::size_t rowBytes = (b.width + 7) / 8;
        for (unsigned y = 0; y < b.rows; ++y) {
            std::memcpy(&g.bits[y * pitch], b.buffer + static_cast<std::ptrdiff_t>(y) * b.pitch,
                        rowBytes);
        }
    } else if (format != GGO_METRICS) {
        int levels = format == GGO_GRAY2_BITMAP ? 4 : format == GGO_GRAY4_BITMAP ? 16 : 64;
        std::size_t pitch = (b.width + 3) & ~3u;
        g.bits.assign(pitch * b.rows, 0);
        BYTE quantised[256];
        for (int v = 0; v < 256; ++v) quantised[v] = static_cast<BYTE>((v * levels + 127) / 255);
        for (unsigned y = 0; y < b.rows; ++y) {
            const BYTE* src = b.buffer + static_cast<std::ptrdiff_t>(y) * b.pitch;
            BYTE* dst = &g.bits[y * pitch];
            for (unsigned x = 0; x < b.width; ++x) dst[x] = quantised[src[x]];
        }
    }
    f.lastIndex = index;
    f.lastFormat = format;
    f.last = g;
    *out = std::move(g);
    return true;
}

}  // namespace font

bool FontFileOf(HFONT handle, std::string* path, int* index) {
    auto f = FindObjectAs<font::FontObject>(handle);
    if (!f) return false;
    if (path) *path = f->choice.file;
    if (index) *index = f->choice.index;
    return true;
}

}  // namespace platform::gdi

namespace platform::gdi32 {

using gdi::font::FontObject;
using gdi::font::Lock;

namespace {

// Code points of UTF-16 text; an unpaired surrogate stands for itself.
std::u32string CodePoints(LPCWSTR text, int count) {
    std::u32string out;
    for (int i = 0; i < count; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        out.push_back(c);
    }
    return out;
}

// Each character's glyph: a variation selector picks the variant of the character before it and
// takes no glyph of its own.
struct Placed {
    UINT index;
    int advance;
};

std::vector<Placed> PlaceText(FontObject& f, const std::u32string& codes) {
    std::vector<Placed> out;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        UINT index = 0;
        if (i + 1 < codes.size() && gdi::font::IsVariationSelector(codes[i + 1])) {
            index = FT_Face_GetCharVariantIndex(f.face, codes[i], codes[i + 1]);
        }
        if (index == 0) index = gdi::font::GlyphIndex(f, codes[i]);
        gdi::font::Glyph g;
        int advance = gdi::font::RenderGlyph(f, index, GGO_METRICS, &g) ? g.metrics.gmCellIncX : 0;
        out.push_back({index, advance});
        if (i + 1 < codes.size() && gdi::font::IsVariationSelector(codes[i + 1])) ++i;
    }
    return out;
}

}  // namespace

HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                  DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, LPCWSTR face) {
    if (gdi::failingCreations > 0) {
        --gdi::failingCreations;
        return nullptr;
    }
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWidth = width;
    lf.lfEscapement = escapement;
    lf.lfOrientation = orientation;
    lf.lfWeight = weight;
    lf.lfItalic = static_cast<BYTE>(italic);
    lf.lfUnderline = static_cast<BYTE>(underline);
    lf.lfStrikeOut = static_cast<BYTE>(strikeOut);
    lf.lfCharSet = static_cast<BYTE>(charSet);
    lf.lfOutPrecision = static_cast<BYTE>(outPrecision);
    lf.lfClipPrecision = static_cast<BYTE>(clipPrecision);
    lf.lfQuality = static_cast<BYTE>(quality);
    lf.lfPitchAndFamily = static_cast<BYTE>(pitchAndFamily);
    for (int i = 0; face != nullptr && i < LF_FACESIZE - 1 && face[i] != 0; ++i) {
        lf.lfFaceName[i] = face[i];
    }
    auto f = gdi::font::MakeFont(lf);
    return f ? gdi::AddObject(f) : nullptr;
}

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                  DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, LPCSTR face) {
    WCHAR wide[LF_FACESIZE] = {};
    if (face != nullptr && *face != 0) {
        kernel32::MultiByteToWideChar(0, 0, face, -1, wide, LF_FACESIZE - 1);
    }
    return CreateFontW(height, width, escapement, orientation, weight, italic, underline, strikeOut,
                       charSet, outPrecision, clipPrecision, quality, pitchAndFamily, wide);
}

BOOL GetTextMetricsW(HDC dc, TEXTMETRICW* metrics) {
    auto f = gdi::font::DcFont(dc);
    if (!f || metrics == nullptr) return FALSE;
    *metrics = f->metrics;
    return TRUE;
}

BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics) {
    TEXTMETRICW wide;
    if (metrics == nullptr || !GetTextMetricsW(dc, &wide)) return FALSE;
    std::memcpy(metrics, &wide, offsetof(TEXTMETRICA, tmFirstChar));
    metrics->tmFirstChar = 0x20;
    metrics->tmLastChar = 0xFF;
    metrics->tmDefaultChar = 0x1F;
    metrics->tmBreakChar = 0x20;
    metrics->tmItalic = wide.tmItalic;
    metrics->tmUnderlined = wide.tmUnderlined;
    metrics->tmStruckOut = wide.tmStruckOut;
    metrics->tmPitchAndFamily = wide.tmPitchAndFamily;
    metrics->tmCharSet = wide.tmCharSet;
    return TRUE;
}

DWORD GetGlyphOutlineW(HDC dc, UINT code, UINT format, GLYPHMETRICS* metrics, DWORD size,
                       LPVOID buffer, const MAT2* matrix) {
    UINT kind = format & ~GGO_GLYPH_INDEX;
    if (matrix == nullptr || metrics == nullptr) return GDI_ERROR;
    // Only the identity transformation is offered.
    if (matrix->eM11.value != 1 || matrix->eM11.fract != 0 || matrix->eM22.value != 1 ||
        matrix->eM22.fract != 0 || matrix->eM12.value != 0 || matrix->eM12.fract != 0 ||
        matrix->eM21.value != 0 || matrix->eM21.fract != 0) {
        return GDI_ERROR;
    }
    if (kind != GGO_METRICS && kind != GGO_BITMAP && kind != GGO_GRAY2_BITMAP &&
        kind != GGO_GRAY4_BITMAP && kind != GGO_GRAY8_BITMAP) {
        return GDI_ERROR;
    }
    auto f = gdi::font::DcFont(dc);
    if (!f) return GDI_ERROR;
    std::lock_guard guard(Lock());
    UINT index = (format & GGO_GLYPH_INDEX) ? code : gdi::font::GlyphIndex(*f, code);
    if (f->face == nullptr || index >= static_cast<UINT>(f->face->num_glyphs)) return GDI_ERROR;
    gdi::font::Glyph g;
    if (!gdi::font::RenderGlyph(*f, index, kind, &g)) return GDI_ERROR;
    *metrics = g.metrics;
    if (kind == GGO_METRICS) return 0;
    DWORD needed = static_cast<DWORD>(g.bits.size());
    if (buffer == nullptr || size == 0) return needed;
    if (size < needed) return GDI_ERROR;
    if (needed != 0) std::memcpy(buffer, g.bits.data(), needed);
    return needed;
}

DWORD GetKerningPairsW(HDC dc, DWORD count, KERNINGPAIR* pairs) {
    auto f = gdi::font::DcFont(dc);
    if (!f) return 0;
    std::lock_guard guard(Lock());
    if (!f->kerningRead && f->face) gdi::font::ReadKerning(*f);
    DWORD total = static_cast<DWORD>(f->kerning.size());
    if (pairs == nullptr) return total;
    DWORD n = std::min(count, total);
    std::copy_n(f->kerning.begin(), n, pairs);
    return n;
}

DWORD GetCharacterPlacementW(HDC dc, LPCWSTR text, int count, int, GCP_RESULTSW* results, DWORD) {
    if (text == nullptr || count <= 0 || results == nullptr) return 0;
    auto f = gdi::font::DcFont(dc);
    if (!f || f->face == nullptr) return 0;
    std::lock_guard guard(Lock());
    auto placed = PlaceText(*f, CodePoints(text, count));
    int width = 0;
    UINT n = std::min<UINT>(results->nGlyphs, static_cast<UINT>(placed.size()));
    for (UINT i = 0; i < placed.size(); ++i) {
        if (i < n && results->lpGlyphs) results->lpGlyphs[i] = static_cast<WCHAR>(placed[i].index);
        if (i < n && results->lpDx) results->lpDx[i] = placed[i].advance;
        width += placed[i].advance;
    }
    if (results->lpOutString) {
        std::copy_n(text, std::min<int>(count, static_cast<int>(results->nGlyphs)),
                    results->lpOutString);
    }
    results->nGlyphs = n;
    results->nMaxFit = static_cast<int>(n);
    return static_cast<DWORD>((f->metrics.tmHeight & 0xFFFF) << 16 | (width & 0xFFFF));
}

BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, SIZE* size) {
    if (size == nullptr || count < 0 || (text == nullptr && count > 0)) return FALSE;
    auto f = gdi::font::DcFont(dc);
    if (!f || f->face == nullptr) return FALSE;
    std::lock_guard guard(Lock());
    int width = 0;
    for (const auto& p : PlaceText(*f, CodePoints(text, count))) width += p.advance;
    size->cx = width;
    size->cy = f->metrics.tmHeight;
    return TRUE;
}

BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count) {
    if (count < 0 || (text == nullptr && count > 0)) return FALSE;
    gdi::DeviceContext c;
    if (!gdi::FindDc(dc, &c)) return FALSE;
    auto f = gdi::font::DcFont(dc);
    if (!f || f->face == nullptr) return FALSE;
    gdi::Surface surface;
    if (!gdi::DcSurface(dc, &surface)) return TRUE;  // nothing to draw into
    std::lock_guard guard(Lock());
    auto placed = PlaceText(*f, CodePoints(text, count));
    int width = 0;
    for (const auto& p : placed) width += p.advance;
    if (c.backgroundMode == OPAQUE) {
        gdi::detail::FillSurface(surface, RECT{x, y, x + width, y + f->metrics.tmHeight},
                                 c.backgroundColor);
    }
    int pen = x;
    for (const auto& p : placed) {
        gdi::font::Glyph g;
        if (gdi::font::RenderGlyph(*f, p.index, GGO_BITMAP, &g) && !g.bits.empty()) {
            int pitch = static_cast<int>(g.bits.size() / g.metrics.gmBlackBoxY);
            int left = pen + g.metrics.gmptGlyphOrigin.x;
            int top = y + f->metrics.tmAscent - g.metrics.gmptGlyphOrigin.y;
            for (UINT row = 0; row < g.metrics.gmBlackBoxY; ++row) {
                for (UINT col = 0; col < g.metrics.gmBlackBoxX; ++col) {
                    if (g.bits[row * pitch + col / 8] & (0x80 >> (col & 7))) {
                        LONG px = left + static_cast<LONG>(col), py = top + static_cast<LONG>(row);
                        gdi::detail::FillSurface(surface, RECT{px, py, px + 1, py + 1},
                                                 c.textColor);
                    }
                }
            }
        }
        pen += p.advance;
    }
    return TRUE;
}

namespace {
const ModuleExports kExports("gdi32.dll",
                             {{"CreateFontW", Export(&CreateFontW)},
                              {"CreateFontA", Export(&CreateFontA)},
                              {"GetTextMetricsW", Export(&GetTextMetricsW)},
                              {"GetTextMetricsA", Export(&GetTextMetricsA)},
                              {"GetGlyphOutlineW", Export(&GetGlyphOutlineW)},
                              {"GetKerningPairsW", Export(&GetKerningPairsW)},
                              {"GetCharacterPlacementW", Export(&GetCharacterPlacementW)},
                              {"GetTextExtentPoint32W", Export(&GetTextExtentPoint32W)},
                              {"TextOutW", Export(&TextOutW)}});
}  // namespace

}  // namespace platform::gdi32
