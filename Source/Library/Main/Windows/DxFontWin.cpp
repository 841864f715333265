#include "Main/Windows/DxFontWin.h"

#include <cstring>

#include "Main/DxChar.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

GlyphCacheWriter WriteGlyphToCache = nullptr;

namespace {

constexpr const char* kSourceFile = "DxFontWin";
constexpr int kNameEntryUnits = 64;  // 128-byte entries of face names

// The rendering batch: one at a time, on the thread that draws.
struct GlyphBatch {
    HDC dc;
    HGDIOBJ previousFont;
    HGDIOBJ previousBitmap;
    TEXTMETRICW metrics;
};
GlyphBatch Batch;

const MAT2 kIdentity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};

FontPlatformArea* Area(FontHandleData* font) {
    if (font->platform == nullptr) font->platform = &font->platformArea;
    return font->platform;
}

bool SameText(const char16_t* a, const char16_t* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

int TextUnits(const char16_t* text) {
    int n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// Code point and selector as UTF-16; the number of units.
int EncodeUtf16(std::uint32_t code, std::uint32_t selector, char16_t* out) {
    int n = 0;
    for (std::uint32_t c : {code, selector}) {
        if (c == 0) continue;
        if (c > 0xFFFF) {
            out[n++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out[n++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out[n++] = static_cast<char16_t>(c);
        }
    }
    out[n] = 0;
    return n;
}

struct EnumContext {
    char16_t* names;  // null: search mode
    int maxCount;
    int count;
    int found;
};

int EnumFaceCallback(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM data) {
    auto* context = reinterpret_cast<EnumContext*>(data);
    const auto* info = reinterpret_cast<const ENUMLOGFONTEXW*>(font);
    char16_t full[LF_FULLFACESIZE + 1];
    std::memcpy(full, info->elfFullName, sizeof(info->elfFullName));
    full[LF_FULLFACESIZE] = 0;
    if (full[0] == u'@') return 1;
    if (context->names == nullptr) {
        context->found = 1;
        return 1;
    }
    for (int i = 0; i < context->count; ++i) {
        if (SameText(context->names + i * kNameEntryUnits, full)) return 1;
    }
    char16_t* entry = context->names + context->count * kNameEntryUnits;
    std::memcpy(entry, full, (kNameEntryUnits - 1) * 2);
    entry[kNameEntryUnits - 1] = 0;
    ++context->count;
    return context->maxCount != 0 && context->count >= context->maxCount ? 0 : 1;
}

// Counts the faces enumerated for a face and CharSetId, '@' faces left out.
int CountFaces(const char16_t* face, int charSetId) {
    struct Counter {
        static int Callback(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM data) {
            if (reinterpret_cast<const ENUMLOGFONTEXW*>(font)->elfFullName[0] != u'@') {
                ++*reinterpret_cast<int*>(data);
            }
            return 1;
        }
    };
    EnsureSystemApiTable();
    if (SystemApi.GetDC == nullptr) return 0;
    HDC dc = SystemApi.GetDC(nullptr);
    LOGFONTW query{};
    query.lfCharSet = static_cast<BYTE>(charSetId < 0 ? DEFAULT_CHARSET : GdiCharSetOf(charSetId));
    for (int i = 0; face != nullptr && i < LF_FACESIZE - 1 && face[i] != 0; ++i) {
        query.lfFaceName[i] = face[i];
    }
    int count = 0;
    WinEnumFontFamiliesExW(dc, &query, &Counter::Callback, reinterpret_cast<LPARAM>(&count), 0);
    if (SystemApi.ReleaseDC) SystemApi.ReleaseDC(nullptr, dc);
    return count;
}

// The face check: is there a face of this name for the font's character set?
bool FaceOfferedForCharSet(const char16_t* face, int charSetId) {
    if (face[0] == u'@') ++face;
    char16_t small[16 * kNameEntryUnits];
    char16_t* names = small;
    int count = EnumFontFacesOfCharSet(small, 16, face, charSetId);
    if (count >= 16) {
        int total = CountFaces(face, charSetId);
        names = static_cast<char16_t*>(AllocateTrackedMemory(
            static_cast<std::size_t>(total + 1) * kNameEntryUnits * 2, kSourceFile, __LINE__));
        if (names == nullptr) return false;
        count = EnumFontFacesOfCharSet(names, total + 1, face, charSetId);
    }
    bool equal = false;
    for (int i = 0; i < count && !equal; ++i) {
        equal = SameText(names + i * kNameEntryUnits, face);
    }
    if (names != small) FreeTrackedMemory(names);
    return equal;
}

HFONT CreateGdiFont(FontHandleData* font, int height, int italic, int charSet,
                    const char16_t* face) {
    return WinCreateFontW(height, 0, 0, 0, font->metrics.thickness * 100, italic ? 1 : 0, 0, 0,
                          static_cast<DWORD>(charSet), 0, 0, NONANTIALIASED_QUALITY, FIXED_PITCH,
                          face);
}

// Reads the face GDI chose into the font's wide and narrow face names.
void ReadChosenFace(FontHandleData* font, HFONT gdiFont) {
    char16_t face[LF_FACESIZE + 1] = {};
    if (SystemApi.wideCalls && SystemApi.GetObjectW) {
        LOGFONTW logFont{};
        if (SystemApi.GetObjectW(gdiFont, sizeof(LOGFONTW), &logFont) != 0) {
            std::memcpy(face, logFont.lfFaceName, sizeof(logFont.lfFaceName));
        }
    } else if (SystemApi.GetObjectA) {
        LOGFONTA logFont{};
        if (SystemApi.GetObjectA(gdiFont, sizeof(LOGFONTA), &logFont) != 0) {
            logFont.lfFaceName[LF_FACESIZE - 1] = 0;
            TranscodeString(logFont.lfFaceName, -1, NarrowEncoding, face, sizeof(face),
                            WideEncoding);
        }
    }
    face[LF_FACESIZE] = 0;
    std::memset(font->faceNameWide, 0, sizeof(font->faceNameWide));
    std::memcpy(font->faceNameWide, face, static_cast<std::size_t>(TextUnits(face)) * 2);
    std::memset(font->faceName, 0, sizeof(font->faceName));
    TranscodeString(font->faceNameWide, -1, WideEncoding, font->faceName,
                    sizeof(font->faceName) - 1, NarrowEncoding);
}

void ReleaseAll(FontHandleData* font) {
    FontPlatformArea* area = Area(font);
    FreeTrackedMemory(font->kerning);
    font->kerning = nullptr;
    font->metrics.kerningCount = 0;
    if (area->gdiFont && SystemApi.DeleteObject) SystemApi.DeleteObject(area->gdiFont);
    area->gdiFont = nullptr;
    if (area->cacheDib && SystemApi.DeleteObject) SystemApi.DeleteObject(area->cacheDib);
    area->cacheDib = nullptr;
    area->dibPixels = nullptr;
    area->dibPitch = 0;
    FreeTrackedMemory(area->glyphBuffer);
    area->glyphBuffer = nullptr;
    area->glyphBufferSize = 0;
    FreeTrackedMemory(area->unicodeRanges);
    area->unicodeRanges = nullptr;
}

void CloseDc(HDC dc, HGDIOBJ previousFont) {
    if (dc == nullptr) return;
    if (previousFont && SystemApi.SelectObject) SystemApi.SelectObject(dc, previousFont);
    if (SystemApi.DeleteDC) SystemApi.DeleteDC(dc);
}

// Reads the kerning pairs into the font's table, sorted by (first << 16 | second), amounts in
// output pixels. False after a failure (logged).
bool ReadKerningPairs(FontHandleData* font, HDC dc, int f) {
    if (SystemApi.GetKerningPairsW == nullptr) return true;
    DWORD n = SystemApi.GetKerningPairsW(dc, 0, nullptr);
    if (n == 0 || n == GDI_ERROR) return true;
    auto* pairs = static_cast<KERNINGPAIR*>(
        AllocateTrackedMemory(sizeof(KERNINGPAIR) * n, kSourceFile, __LINE__));
    if (pairs == nullptr) {
        WriteLogFormatUtf16(
            u"カーニングペア情報を一時的に格納するメモリの確保に失敗しました in CFont");
        return false;
    }
    font->kerning = static_cast<FontKerningPair*>(
        AllocateTrackedMemoryZeroed(sizeof(FontKerningPair) * n, kSourceFile, __LINE__));
    if (font->kerning == nullptr) {
        FreeTrackedMemory(pairs);
        WriteLogFormatUtf16(u"カーニングペア情報を格納するメモリの確保に失敗しました in CFont");
        return false;
    }
    n = SystemApi.GetKerningPairsW(dc, n, pairs);
    if (n == GDI_ERROR) n = 0;
    int count = 0;
    for (DWORD i = 0; i < n; ++i) {
        std::uint32_t key = static_cast<std::uint32_t>(pairs[i].wFirst) << 16 | pairs[i].wSecond;
        int at = 0;
        while (at < count && (font->kerning[at].first << 16 | font->kerning[at].second) < key) {
            ++at;
        }
        std::memmove(&font->kerning[at + 1], &font->kerning[at],
                     sizeof(FontKerningPair) * static_cast<std::size_t>(count - at));
        font->kerning[at] = {pairs[i].wFirst, pairs[i].wSecond, (pairs[i].iKernAmount + f / 4) / f,
                             0};
        ++count;
    }
    font->metrics.kerningCount = count;
    FreeTrackedMemory(pairs);
    return true;
}

}  // namespace

int GdiCharSetOf(int charSetId) {
    static const int kCharSets[8] = {DEFAULT_CHARSET,     SHIFTJIS_CHARSET, HANGUL_CHARSET,
                                     CHINESEBIG5_CHARSET, GB2312_CHARSET,   ANSI_CHARSET,
                                     ANSI_CHARSET,        DEFAULT_CHARSET};
    return charSetId >= 0 && charSetId < 8 ? kCharSets[charSetId] : DEFAULT_CHARSET;
}

int FontSupersampling(int fontType) {
    switch (fontType) {
        case DX_FONTTYPE_ANTIALIASING_4X4:
        case DX_FONTTYPE_ANTIALIASING_EDGE_4X4:
            return 4;
        case DX_FONTTYPE_ANTIALIASING_8X8:
        case DX_FONTTYPE_ANTIALIASING_EDGE_8X8:
            return 8;
        case DX_FONTTYPE_ANTIALIASING_16X16:
        case DX_FONTTYPE_ANTIALIASING_EDGE_16X16:
            return 16;
        default:
            return 1;
    }
}

int CreateFontGdiSide(const FontCreateParams* params, FontHandleData* font, int faceCheck) {
    if (font->fromData) return 0;
    if (MainWindow.destroyed) return -1;
    EnsureSystemApiTable();
    FontPlatformArea* area = Area(font);
    int f = FontSupersampling(font->fontType);
    bool retried = false;  // made again at f = 1 for text-output mode
    // An empty face lets GDI choose; the name read back afterwards does not change that.
    const bool faceGiven = font->faceNameWide[0] != 0;
    HDC dc = nullptr;
    HGDIOBJ previousFont = nullptr;
    auto fail = [&]() {
        CloseDc(dc, previousFont);
        ReleaseAll(font);
        return -1;
    };
    for (;;) {
        int c = f * font->metrics.size;
        int adjustment = 0;
        int h1 = 0;
        bool secondPass = false;
        TEXTMETRICW tm{};
        for (int pass = 0; pass < 2; ++pass) {
            if (area->gdiFont && SystemApi.DeleteObject) SystemApi.DeleteObject(area->gdiFont);
            area->gdiFont = nullptr;
            int italic = font->metrics.italic;
            if (faceGiven) {
                if (faceCheck && pass == 0 &&
                    !FaceOfferedForCharSet(font->faceNameWide, font->metrics.charSet)) {
                    font->metrics.charSet = 0;
                }
                int charSet = GdiCharSetOf(font->metrics.charSet);
                for (int gdiCharSet : {charSet, int(DEFAULT_CHARSET), int(SHIFTJIS_CHARSET)}) {
                    area->gdiFont =
                        CreateGdiFont(font, c + adjustment, italic, gdiCharSet, font->faceNameWide);
                    if (area->gdiFont) break;
                }
                if (area->gdiFont == nullptr) {
                    WriteLogTextUtf16(u"指定のフォントの作成に失敗しました\n");
                    return fail();
                }
            } else {
                int charSet = GdiCharSetOf(font->metrics.charSet);
                area->gdiFont =
                    CreateGdiFont(font, c + adjustment, italic, charSet, u"ＭＳ ゴシック");
                if (area->gdiFont == nullptr) {
                    area->gdiFont =
                        CreateGdiFont(font, c + adjustment, 0, DEFAULT_CHARSET, u"ＭＳ ゴシック");
                }
                if (area->gdiFont == nullptr) {
                    area->gdiFont =
                        CreateGdiFont(font, c + adjustment, 0, DEFAULT_CHARSET, nullptr);
                }
                if (area->gdiFont == nullptr) {
                    WriteLogTextUtf16(u"フォントの作成に失敗しました\n");
                    return fail();
                }
            }
            ReadChosenFace(font, area->gdiFont);
            dc = SystemApi.CreateCompatibleDC ? SystemApi.CreateCompatibleDC(nullptr) : nullptr;
            if (dc == nullptr) {
                WriteLogTextUtf16(u"デバイスコンテキストの取得に失敗しました\n");
                return fail();
            }
            previousFont = SystemApi.SelectObject(dc, area->gdiFont);
            WinGetTextMetricsW(dc, &tm);
            int leading = tm.tmInternalLeading + tm.tmExternalLeading;
            // All leading (r = 1) would ask for an endless height: such a font keeps its own.
            if (pass == 0 && !params->noLeadingAdjustment && leading > 0 && leading < tm.tmHeight) {
                h1 = tm.tmHeight;
                float r = static_cast<float>(leading) / static_cast<float>(tm.tmHeight);
                adjustment = -(static_cast<int>(static_cast<float>(c) / (r - 1.0f)) + c);
                CloseDc(dc, previousFont);
                dc = nullptr;
                previousFont = nullptr;
                secondPass = true;
                continue;
            }
            break;
        }
        font->metrics.leadingAdjustment =
            static_cast<std::uint16_t>(secondPass ? (tm.tmHeight - h1) / f : 0);
        font->metrics.cellSize = static_cast<std::uint16_t>(
            font->metrics.italic ? (tm.tmMaxCharWidth * 135 / f + 540) / 100
                                 : tm.tmMaxCharWidth / f + 4);
        font->metrics.height = static_cast<std::uint16_t>(tm.tmHeight / f + 1);
        font->metrics.ascent =
            static_cast<std::uint16_t>(tm.tmAscent / f + (tm.tmAscent % f >= f / 2 && f > 1));
        if (retried) break;
        GLYPHMETRICS gm{};
        if (WinGetGlyphOutlineW(dc, u' ', GGO_BITMAP, &gm, 0, nullptr, &kIdentity) == -1) {
            area->textOutputMode = 1;
            // Text output draws at the font's own size into a cell-sized DIB: a supersampled
            // font is made again at its output size.
            if (f != 1) {
                CloseDc(dc, previousFont);
                dc = nullptr;
                previousFont = nullptr;
                f = 1;
                retried = true;
                continue;
            }
        }
        break;
    }
    if (SystemApi.GetFontUnicodeRanges) {
        DWORD size = SystemApi.GetFontUnicodeRanges(dc, nullptr);
        if (size != 0) {
            area->unicodeRanges = AllocateTrackedMemory(size, kSourceFile, __LINE__);
            if (area->unicodeRanges == nullptr) {
                WriteLogFormatUtf16(
                    u"フォントが持つ文字の情報を格納するメモリの確保に失敗しました");
                return fail();
            }
            SystemApi.GetFontUnicodeRanges(dc, area->unicodeRanges);
        }
    }
    if (!ReadKerningPairs(font, dc, f)) return fail();
    CloseDc(dc, previousFont);
    return 0;
}

int ReleaseFontGdiHandle(FontHandleData* font) {
    FontPlatformArea* area = Area(font);
    if (area->gdiFont && SystemApi.DeleteObject) SystemApi.DeleteObject(area->gdiFont);
    area->gdiFont = nullptr;
    return 0;
}

int ReleaseFontGdiSide(FontHandleData* font) {
    FontPlatformArea* area = Area(font);
    FreeTrackedMemory(area->glyphBuffer);
    area->glyphBuffer = nullptr;
    area->glyphBufferSize = 0;
    if (area->gdiFont && SystemApi.DeleteObject) SystemApi.DeleteObject(area->gdiFont);
    area->gdiFont = nullptr;
    if (area->cacheDib && SystemApi.DeleteObject) SystemApi.DeleteObject(area->cacheDib);
    area->cacheDib = nullptr;
    area->dibPixels = nullptr;
    FreeTrackedMemory(area->unicodeRanges);
    area->unicodeRanges = nullptr;
    return 0;
}

int CreateFontCacheDib(const FontCreateParams*, FontHandleData* font, int) {
    FontPlatformArea* area = Area(font);
    area->cacheDib = nullptr;
    area->dibPixels = nullptr;
    area->dibPitch = 0;
    if (!area->textOutputMode) return 0;
    EnsureSystemApiTable();
    HDC dc = SystemApi.CreateCompatibleDC ? SystemApi.CreateCompatibleDC(nullptr) : nullptr;
    if (dc == nullptr) {
        WriteLogTextUtf16(u"デバイスコンテキストの取得に失敗しました\n");
        ReleaseAll(font);
        return -1;
    }
    HGDIOBJ previousFont = SystemApi.SelectObject(dc, area->gdiFont);
    // Text output draws without anti-aliasing.
    switch (font->fontType) {
        case 2:
        case 18:
        case 34:
        case 50:
            font->fontType = DX_FONTTYPE_NORMAL;
            break;
        case 3:
        case 19:
        case 35:
        case 51:
            font->fontType = DX_FONTTYPE_EDGE;
            break;
        default:
            break;
    }
    int cell = font->metrics.cellSize;
    auto* info = static_cast<BITMAPINFO*>(AllocateTrackedMemoryZeroed(1068, kSourceFile, __LINE__));
    if (info == nullptr) {
        WriteLogFormatUtf16(u"メモリの確保に失敗しました in CFont");
        CloseDc(dc, previousFont);
        ReleaseAll(font);
        return -1;
    }
    info->bmiHeader.biSize = 40;
    info->bmiHeader.biWidth = cell;
    info->bmiHeader.biHeight = -cell;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = 8;
    info->bmiHeader.biCompression = BI_RGB;
    info->bmiHeader.biSizeImage = static_cast<DWORD>(cell * cell);
    auto* palette = reinterpret_cast<RGBQUAD*>(reinterpret_cast<BYTE*>(info) + 40);
    for (int i = 0; i < 256; ++i) palette[i] = {static_cast<BYTE>(i), 0, static_cast<BYTE>(i), 0};
    void* bits = nullptr;
    area->cacheDib = SystemApi.CreateDIBSection
                         ? SystemApi.CreateDIBSection(dc, info, DIB_RGB_COLORS, &bits, nullptr, 0)
                         : nullptr;
    FreeTrackedMemory(info);
    if (area->cacheDib == nullptr) {
        WriteLogFormatUtf16(u"フォントキャッシュ用の DIB の作成に失敗しました in CFont");
        CloseDc(dc, previousFont);
        ReleaseAll(font);
        return -1;
    }
    BITMAP bitmap{};
    if (SystemApi.GetObjectW) SystemApi.GetObjectW(area->cacheDib, sizeof(BITMAP), &bitmap);
    area->dibPixels = bits;
    area->dibPitch = bitmap.bmWidthBytes;
    CloseDc(dc, previousFont);
    return 0;
}

int BeginGlyphRendering(FontHandleData* font) {
    FontPlatformArea* area = Area(font);
    EnsureSystemApiTable();
    Batch = GlyphBatch{};
    Batch.dc = SystemApi.CreateCompatibleDC ? SystemApi.CreateCompatibleDC(nullptr) : nullptr;
    if (Batch.dc == nullptr) {
        WriteLogFormatUtf16(
            u"テキストキャッシュサーフェスのデバイスコンテキストの取得に失敗しました");
        return -1;
    }
    Batch.previousFont = SystemApi.SelectObject(Batch.dc, area->gdiFont);
    WinGetTextMetricsW(Batch.dc, &Batch.metrics);
    if (area->textOutputMode) {
        Batch.previousBitmap = SystemApi.SelectObject(Batch.dc, area->cacheDib);
        if (SystemApi.SetTextColor) SystemApi.SetTextColor(Batch.dc, 0xFFFFFF);
        if (SystemApi.SetBkColor) SystemApi.SetBkColor(Batch.dc, 0);
        if (SystemApi.SetBkMode) SystemApi.SetBkMode(Batch.dc, OPAQUE);
    }
    return 0;
}

int EndGlyphRendering(FontHandleData*) {
    if (Batch.dc == nullptr) return 0;
    if (Batch.previousBitmap) SystemApi.SelectObject(Batch.dc, Batch.previousBitmap);
    CloseDc(Batch.dc, Batch.previousFont);
    Batch = GlyphBatch{};
    return 0;
}

int RenderGlyphWithGdi(FontHandleData* font, FontGlyphEntry* entry, std::uint32_t code,
                       std::uint32_t selector, int upload) {
    FontPlatformArea* area = Area(font);
    if (WriteGlyphToCache == nullptr) return -1;
    int blank = code == 32 ? 1 : code == 0x3000 ? 2 : 0;
    char16_t text[5];
    if (area->textOutputMode) {
        int units = EncodeUtf16(code, selector, text);
        SIZE extent{};
        WinGetTextExtentPoint32W(Batch.dc, text, units, &extent);
        WinTextOutW(Batch.dc, 0, 0, text, units);
        // The DIB holds one cell: a wider or taller extent is cut to it.
        int cell = font->metrics.cellSize;
        int width = extent.cx < cell ? static_cast<int>(extent.cx) : cell;
        int height = extent.cy < cell ? static_cast<int>(extent.cy) : cell;
        if (width < 0) width = 0;
        if (height < 0) height = 0;
        return WriteGlyphToCache(font, entry, code, selector, blank, 5, area->dibPixels, width,
                                 height, area->dibPitch, 0, 0, static_cast<int>(extent.cx), upload);
    }
    UINT format = GGO_BITMAP;
    int kind = 0;
    switch (font->fontType) {
        case 18:
        case 19:
            kind = 1;
            break;
        case 34:
        case 35:
            kind = 2;
            break;
        case 50:
        case 51:
            kind = 3;
            break;
        case 2:
        case 3:
            if (font->cache.onTexture && font->cache.textureColorDepth == 32) {
                format = GGO_GRAY8_BITMAP;
                kind = 7;
            } else {
                format = GGO_GRAY4_BITMAP;
                kind = 6;
            }
            break;
        default:
            break;
    }
    UINT glyph = code;
    if (code > 0xFFFF || selector != 0) {
        format |= GGO_GLYPH_INDEX;
        int units = EncodeUtf16(code, selector, text);
        if (selector != 0) {
            if (SystemApi.ScriptItemize == nullptr || SystemApi.ScriptShape == nullptr) {
                WriteLogTextUtf16(
                    u"Win32API ScriptShape 又は Win32 ScriptItemize が使用できませんでした\n");
                return -1;
            }
            SCRIPT_ITEM items[3] = {};
            int itemCount = 0;
            WORD glyphs[22] = {};
            WORD clusters[5] = {};
            SCRIPT_VISATTR attributes[22] = {};
            SCRIPT_CACHE cache = nullptr;
            int glyphCount = 0;
            HRESULT hr =
                SystemApi.ScriptItemize(text, units, 2, nullptr, nullptr, items, &itemCount);
            if (hr == S_OK) {
                hr = SystemApi.ScriptShape(Batch.dc, &cache, text, units, 22, &items[0].a, glyphs,
                                           clusters, attributes, &glyphCount);
            }
            if (hr != S_OK || glyphCount <= 0) {
                WriteLogTextUtf16(
                    u"Win32API ScriptShape による異体字のグリフインデックスの取得に失敗しました\n");
                return -1;
            }
            glyph = glyphs[0];
        } else {
            char16_t glyphs[2] = {};
            GCP_RESULTSW results{};
            results.lStructSize = sizeof(results);
            results.lpGlyphs = glyphs;
            results.nGlyphs = 2;
            if (WinGetCharacterPlacementW(Batch.dc, text, units, 0, &results, GCP_GLYPHSHAPE) ==
                0) {
                WriteLogTextUtf16(u"Win32API GetCharacterPlacement が失敗しました\n");
                return -1;
            }
            glyph = glyphs[0];
        }
    }
    GLYPHMETRICS gm{};
    int size = WinGetGlyphOutlineW(Batch.dc, glyph, format, &gm, 0, nullptr, &kIdentity);
    if (size == -1) {
        WriteLogTextUtf16(u"Win32API GetGlyphOutline が失敗しました\n");
        return -1;
    }
    if (blank != 0) {
        return WriteGlyphToCache(font, entry, code, selector, blank, 0, nullptr, 0, 0, 0, 0, 0,
                                 gm.gmCellIncX, upload);
    }
    int bytesPerRow = (font->fontType == 2 || font->fontType == 3)
                          ? static_cast<int>(gm.gmBlackBoxX)
                          : static_cast<int>((gm.gmBlackBoxX + 7) / 8);
    int pitch = (bytesPerRow + 3) / 4 * 4;
    // A glyph without rows of its own (or a box of no width) is drawn as nothing.
    if (size == 0 || pitch == 0) {
        return WriteGlyphToCache(font, entry, code, selector, 0, 0, nullptr, 0, 0, 0, 0, 0,
                                 gm.gmCellIncX, upload);
    }
    int rows = size / pitch;
    int needed = size + (rows + 2) * pitch;
    if (area->glyphBufferSize < needed) {
        FreeTrackedMemory(area->glyphBuffer);
        area->glyphBufferSize = 0;
        area->glyphBuffer = static_cast<std::uint8_t*>(
            AllocateTrackedMemory(static_cast<std::size_t>(needed), kSourceFile, __LINE__));
        if (area->glyphBuffer == nullptr) {
            WriteLogFormatUtf16(u"アンチエイリアス文字取得用バッファの確保に失敗しました");
            return -1;
        }
        area->glyphBufferSize = needed;
    }
    std::memset(area->glyphBuffer, 0, static_cast<std::size_t>(needed));
    std::uint8_t* bitmap = area->glyphBuffer + (rows + 1) * pitch;
    if (WinGetGlyphOutlineW(Batch.dc, glyph, format, &gm, static_cast<DWORD>(size), bitmap,
                            &kIdentity) == -1) {
        WriteLogTextUtf16(u"Win32API GetGlyphOutline が失敗しました\n");
        return -1;
    }
    return WriteGlyphToCache(font, entry, code, selector, 0, kind, bitmap,
                             static_cast<int>(gm.gmBlackBoxX), rows, pitch, gm.gmptGlyphOrigin.x,
                             Batch.metrics.tmAscent - gm.gmptGlyphOrigin.y, gm.gmCellIncX, upload);
}

int EnumFontFacesOfCharSet(char16_t* names, int maxCount, const char16_t* face, int charSetId) {
    EnsureSystemApiTable();
    if (SystemApi.GetDC == nullptr) return 0;
    HDC dc = SystemApi.GetDC(nullptr);
    LOGFONTW query{};
    query.lfCharSet = static_cast<BYTE>(charSetId < 0 ? DEFAULT_CHARSET : GdiCharSetOf(charSetId));
    for (int i = 0; face != nullptr && i < LF_FACESIZE - 1 && face[i] != 0; ++i) {
        query.lfFaceName[i] = face[i];
    }
    EnumContext context{names, maxCount, 0, 0};
    WinEnumFontFamiliesExW(dc, &query, &EnumFaceCallback, reinterpret_cast<LPARAM>(&context), 0);
    if (SystemApi.ReleaseDC) SystemApi.ReleaseDC(nullptr, dc);
    return names ? context.count : context.found;
}

int IsFontFaceInstalledWide(const char16_t* face, int charSetId) {
    return EnumFontFacesOfCharSet(nullptr, 0, face, charSetId) ? 1 : 0;
}

int IsFontFaceInstalled(const char* face, int charSetId) {
    if (face == nullptr) return 0;
    char16_t wide[512];
    TranscodeString(face, -1, NarrowEncoding, wide, sizeof(wide), WideEncoding);
    wide[511] = 0;
    return IsFontFaceInstalledWide(wide, charSetId);
}

}  // namespace ZiDaz
