// The font module: its defaults and the default font that -2 stands for, the life of every font
// handle (made at once or on a load thread, deleted, made again after a device reset), the
// settings a font keeps after its creation, glyph images that replace characters, and the dump
// line of a font handle.
#include "Main/DxFont.h"

#include <cstring>

#include "Main/DxASyncLoad.h"
#include "Main/DxChar.h"
#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/DxWideText.h"
#include "Main/Windows/DxFontWin.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

FontSystemStateData FontSystemState;

namespace {

constexpr const char* kSourceFile = "DxFont";

FontSystemStateData& S() {
    return FontSystemState;
}

// The encoding fixed by a character set 1..7; 0 when there is none.
int EncodingOfCharSet(int charSet) {
    static const int kEncodings[8] = {0, 932, 949, 950, 936, 1252, 32764, 65001};
    return charSet >= 1 && charSet <= 7 ? kEncodings[charSet] : 0;
}

void CopyFace(char16_t* out, const char16_t* face) {
    std::memset(out, 0, 256 * sizeof(char16_t));
    for (int i = 0; face != nullptr && i < 255 && face[i] != 0; ++i) out[i] = face[i];
}

bool SameFace(const char16_t* a, const char16_t* b) {
    int i = 0;
    while (i < 256 && a[i] != 0 && a[i] == b[i]) ++i;
    return i == 256 || a[i] == b[i];
}

bool IsFontHandleValue(HandleValue h) {
    return h >= 0 && ((h & kHandleTypeMask) >> kHandleTypeShift) == DX_HANDLETYPE_FONT;
}

// The record of a font handle, waiting for a pending creation on a load thread.
FontHandleData* LookupFont(HandleValue h) {
    if (!IsFontHandleValue(h)) return nullptr;
    HandleHeader* record = LookupHandleRecord(h);
    if (record == nullptr) return nullptr;
    if (record->asyncPending > 0) {
        if (IsMainThread() && record->jobIndex >= 0) FinishASyncLoadJobNow(record->jobIndex);
        WaitHandleASyncLoad(h);
        record = LookupHandleRecord(h);
    }
    return reinterpret_cast<FontHandleData*>(record);
}

// One code point of UTF-16 text (a surrogate pair gives one code); the units read.
std::uint32_t ReadWideCode(const char16_t* text, int* units) {
    std::uint32_t c = text[0];
    if (c >= 0xD800 && c < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
        *units = 2;
        return 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
    }
    *units = 1;
    return c;
}

void BuildLevelTables() {
    FontSystemStateData& s = S();
    for (int i = 0; i < 256; ++i) {
        int n = 0;
        for (int b = i; b != 0; b >>= 1) n += b & 1;
        s.popCount[i] = static_cast<std::uint8_t>(n);
        s.level8To16[i] = static_cast<std::uint8_t>(16 * i / 255);
        s.level8To64[i] = static_cast<std::uint8_t>(64 * i / 255);
    }
    for (int i = 0; i < 16; ++i) {
        s.level4To16[i] = static_cast<std::uint8_t>(i == 0 ? 0 : i + 1);
        s.level4To64[i] = static_cast<std::uint8_t>(64 * i / 15);
    }
}

// The edge pattern of an edge above 4: a filled circle of that radius in an 8-bit palette image.
int BuildEdgePattern(FontHandleData* font, int edge) {
    int side = 2 * edge + 1;
    if (NewBaseImagePal8(side, side, &font->edgePattern, 0) != 0) return -1;
    for (auto& entry : font->edgePattern.Format.Palette) {
        entry[0] = entry[1] = entry[2] = entry[3] = 0;
    }
    font->edgePattern.Format.Palette[1][0] = 255;
    font->edgePattern.Format.Palette[1][1] = 255;
    font->edgePattern.Format.Palette[1][2] = 255;
    auto* pixels = static_cast<std::uint8_t*>(font->edgePattern.Pixels);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            int dx = x - edge, dy = y - edge;
            pixels[y * font->edgePattern.Pitch + x] = dx * dx + dy * dy <= edge * edge ? 1 : 0;
        }
    }
    return 0;
}

struct DefaultSettings {
    char16_t face[256];
    int size, thickness, fontType, charSet, edgeSize, italic;
};

DefaultSettings CurrentDefaults() {
    FontSystemStateData& s = S();
    DefaultSettings d{};
    CopyFace(d.face, s.defaultFace);
    d.size = s.defaultSize < 0 ? 16 : s.defaultSize;
    d.thickness = s.defaultThickness < 0 ? 6 : s.defaultThickness;
    d.fontType = s.defaultFontType == -1 ? DX_FONTTYPE_NORMAL : s.defaultFontType;
    d.charSet = s.defaultCharSet;
    d.edgeSize = s.defaultEdgeSize == -1 ? 1 : s.defaultEdgeSize;
    d.italic = s.defaultItalic;
    return d;
}

void RunFontCreateJob(ASyncLoadJob* job) {
    int at = 0;
    const std::uint8_t* block = job->parameters;
    FontCreateParams params;
    std::memcpy(&params, UnpackJobBlock(block, &at), sizeof(params));
    HandleValue handle = UnpackJobInt(block, &at);
    const char16_t* face = UnpackJobString(block, &at);
    int size = UnpackJobInt(block, &at);
    int thickness = UnpackJobInt(block, &at);
    int fontType = UnpackJobInt(block, &at);
    int charSet = UnpackJobInt(block, &at);
    int edgeSize = UnpackJobInt(block, &at);
    int italic = UnpackJobInt(block, &at);
    // The face is unaligned inside the block.
    char16_t faceCopy[256];
    std::memset(faceCopy, 0, sizeof(faceCopy));
    if (face != nullptr) {
        for (int i = 0; i < 255; ++i) {
            char16_t c;
            std::memcpy(&c, reinterpret_cast<const char*>(face) + i * 2, 2);
            if (c == 0) break;
            faceCopy[i] = c;
        }
    }
    int result = SetUpFontHandle(&params, handle, face ? faceCopy : nullptr, size, thickness,
                                 fontType, charSet, edgeSize, italic, 1);
    HandleHeader* record = LookupHandleRecord(handle);
    if (record != nullptr) record->asyncResult = result;
    FinishHandleASyncLoad(handle);
    if (result < 0) DeleteHandle(handle);
}

int ApplyDefaultToHandle(HandleValue handle) {
    FontSystemStateData& s = S();
    SetFontCharSpacing(s.defaultSpacing, handle);
    if (s.defaultLineSpacingSet) SetFontLineSpacing(s.defaultLineSpacing, handle);
    SetHandleLostFlag(handle, &s.defaultFont);
    return 0;
}

}  // namespace

const char16_t* FontTypeName(int fontType) {
    switch (fontType) {
        case DX_FONTTYPE_NORMAL:
            return u"DX_FONTTYPE_NORMAL";
        case DX_FONTTYPE_EDGE:
            return u"DX_FONTTYPE_EDGE";
        case DX_FONTTYPE_ANTIALIASING:
            return u"DX_FONTTYPE_ANTIALIASING";
        case DX_FONTTYPE_ANTIALIASING_EDGE:
            return u"DX_FONTTYPE_ANTIALIASING_EDGE";
        case DX_FONTTYPE_ANTIALIASING_4X4:
            return u"DX_FONTTYPE_ANTIALIASING_4X4";
        case DX_FONTTYPE_ANTIALIASING_EDGE_4X4:
            return u"DX_FONTTYPE_ANTIALIASING_EDGE_4X4";
        case DX_FONTTYPE_ANTIALIASING_8X8:
            return u"DX_FONTTYPE_ANTIALIASING_8X8";
        case DX_FONTTYPE_ANTIALIASING_EDGE_8X8:
            return u"DX_FONTTYPE_ANTIALIASING_EDGE_8X8";
        case DX_FONTTYPE_ANTIALIASING_16X16:
            return u"DX_FONTTYPE_ANTIALIASING_16X16";
        case DX_FONTTYPE_ANTIALIASING_EDGE_16X16:
            return u"DX_FONTTYPE_ANTIALIASING_EDGE_16X16";
        default:
            return u"Null";
    }
}

// ---- Handle callbacks ----

void InitFontHandle(HandleHeader* record) {
    auto* font = reinterpret_cast<FontHandleData*>(record);
    font->platform = &font->platformArea;
    font->cache.graph = -1;
    font->cache.edgeHalf = -1;
    font->encodingOverride = -1;
}

int TerminateFontHandle(HandleHeader* record) {
    auto* font = reinterpret_cast<FontHandleData*>(record);
    if (!font->fromData) ReleaseFontGdiSide(font);
    FreeTrackedMemory(font->memImagePixels);
    font->memImagePixels = nullptr;
    FreeTrackedMemory(font->cache.workBuffer);
    font->cache.workBuffer = nullptr;
    // Deleting the graphs writes into this record's missing flag, which is still there.
    if (font->cache.edgeHalf >= 0) DestroyGraph(font->cache.edgeHalf);
    if (font->cache.graph >= 0) DestroyGraph(font->cache.graph);
    font->cache.graph = font->cache.edgeHalf = -1;
    if (font->cache.image.Pixels != nullptr) DisposeBaseImage(&font->cache.image);
    if (font->fromData) {
        FreeTrackedMemory(font->dataImage);
        font->dataImage = nullptr;
    } else {
        FreeTrackedMemory(font->kerning);
    }
    font->kerning = nullptr;
    if (font->edgePattern.Pixels != nullptr) DisposeBaseImage(&font->edgePattern);
    if (font->lostFlag != nullptr) *font->lostFlag = 1;
    return 0;
}

void DumpFontHandle(HandleHeader* record) {
    auto* font = reinterpret_cast<FontHandleData*>(record);
    if (font->fromData) {
        WriteLogFormatWide(
            u"Handle:0x%08x IsFontFile:true  FontName:%s FontType:%s Size:%d Thickness:%d "
            u"Height:%d",
            record->handle, font->faceNameWide, FontTypeName(font->fontType), font->metrics.size,
            font->metrics.thickness, font->metrics.height);
        return;
    }
    WriteLogFormatWide(
        u"Handle:0x%08x IsFontFile:false FontName:%s FontType:%s Size:%d Thickness:%d Height:%d",
        record->handle, font->faceNameWide, FontTypeName(font->fontType), font->metrics.size,
        font->metrics.thickness, font->metrics.height);
}

// ---- Start and end ----

int StartFontSystem() {
    FontSystemStateData& s = S();
    if (s.initialised) return -1;
    s.initialised = 1;
    WriteGlyphToCache = &CacheRenderedGlyph;
    RegisterHandleType(DX_HANDLETYPE_FONT, static_cast<int>(sizeof(FontHandleData)),
                       kMaxFontHandles, InitFontHandle, TerminateFontHandle, DumpFontHandle,
                       u"Font");
    s.ideographicSpace =
        static_cast<char16_t>(TranscodeChar(0x3000, CharEncoding::Utf16Le, WideEncoding));
    if (!s.faceSet) std::memset(s.defaultFace, 0, sizeof(s.defaultFace));
    if (!s.fontTypeSet) s.defaultFontType = DX_FONTTYPE_NORMAL;
    if (!s.sizeSet) s.defaultSize = 16;
    if (!s.thicknessSet) s.defaultThickness = 6;
    if (!s.charSetSet) {
        s.defaultCharSet = GetCharSetId();
        s.charSetChanged = 1;
    }
    if (!s.edgeSizeSet) s.defaultEdgeSize = 1;
    if (!s.italicSet) s.defaultItalic = 0;
    if (!s.spacingSet) s.defaultSpacing = 0;
    if (!s.defaultLineSpacingSet) s.defaultLineSpacing = 0;
    s.faceSet = s.fontTypeSet = s.sizeSet = s.thicknessSet = s.charSetSet = s.edgeSizeSet =
        s.italicSet = s.spacingSet = 0;
    s.defaultFont = -1;
    BuildLevelTables();
    ResetFontHandles();
    return 0;
}

int ResetFontHandles() {
    FontSystemStateData& s = S();
    WriteLogTextUtf16(u"フォントの初期化を行います\n");
    IncreaseLogIndent();
    DefaultSettings d = CurrentDefaults();
    if (FontHandleData* font = LookupFont(s.defaultFont)) {
        CopyFace(d.face, font->faceNameWide);
        d.size = font->metrics.size;
        d.thickness = font->metrics.thickness;
        d.fontType = font->fontType;
        d.charSet = font->metrics.charSet;
        d.edgeSize = font->edgeSize;
        d.italic = font->metrics.italic;
    }
    DeleteAllHandlesOfType(DX_HANDLETYPE_FONT, nullptr);
    s.defaultFont = -1;
    FontCreateParams params;
    InitFontCreateParams(&params);
    HandleValue h = MakeFontHandle(&params, d.face, d.size, d.thickness, d.fontType, d.charSet,
                                   (d.fontType & 1) ? d.edgeSize : -1, d.italic, -1, 0);
    s.defaultFont = h;
    if (h >= 0) {
        s.charSetChanged = 0;
        s.builtinInUse = 0;
        ApplyDefaultToHandle(h);
    }
    DecreaseLogIndent();
    WriteLogTextUtf16(u"フォントの初期化は正常に終了しました\n");
    return 0;
}

int ShutdownFontSystem() {
    FontSystemStateData& s = S();
    if (!s.initialised) return -1;
    WriteLogTextUtf16(u"フォントの初期化を行います\n");
    IncreaseLogIndent();
    DeleteAllHandlesOfType(DX_HANDLETYPE_FONT, nullptr);
    s.defaultFont = -1;
    DecreaseLogIndent();
    WriteLogTextUtf16(u"フォントの初期化は正常に終了しました\n");
    UnregisterHandleType(DX_HANDLETYPE_FONT);
    FreeTrackedMemory(s.builtinSheet);
    s.builtinSheet = nullptr;
    s.builtinSheetSize = 0;
    for (HandleValue& glyph : s.builtinGlyphs) {
        if (glyph > 0 && IsGraphHandleValid(glyph)) {
            SetGraphDeleteFlag(glyph, nullptr);
            DestroyGraph(glyph);
        }
        glyph = 0;
    }
    s.builtinInUse = 0;
    s.initialised = 0;
    return 0;
}

int RecreateAllFonts() {
    FontSystemStateData& s = S();
    if (!s.initialised) return -1;
    HandleTypeRecord& type = HandleTypeTable[DX_HANDLETYPE_FONT];
    FontCreateParams params;
    InitFontCreateParams(&params);
    for (int index = 0; index < type.max; ++index) {
        if (type.slots == nullptr || type.slots[index] == nullptr) continue;
        HandleValue h = type.slots[index]->handle;
        FontHandleData* font = LookupFont(h);
        if (font == nullptr) continue;
        const int spacing = font->spacing, lineSet = font->lineSpacingSet, line = font->lineSpacing,
                  encoding = font->encodingOverride, edge = font->edgeSize;
        const bool wasDefault = h == s.defaultFont;
        int result;
        if (font->fromData) {
            int size = font->dataImageSize;
            void* copy =
                AllocateTrackedMemory(static_cast<std::size_t>(size), kSourceFile, __LINE__);
            if (copy == nullptr) {
                WriteLogTextUtf16(
                    u"フォントファイルイメージを一時的に保存するメモリ領域の確保に失敗しました\n");
                continue;
            }
            std::memcpy(copy, font->dataImage, static_cast<std::size_t>(size));
            DeleteHandle(h);
            result = AllocateHandle(DX_HANDLETYPE_FONT, 0, h) == h
                         ? SetUpFontFromData(&params, h, copy, size, edge, 0)
                         : -1;
            FreeTrackedMemory(copy);
        } else {
            char16_t face[256];
            CopyFace(face, font->faceNameWide);
            const int size = font->metrics.size, thickness = font->metrics.thickness,
                      fontType = font->fontType, charSet = font->metrics.charSet,
                      italic = font->metrics.italic;
            DeleteHandle(h);
            WaitWhileWindowInactive();
            result = AllocateHandle(DX_HANDLETYPE_FONT, 0, h) == h
                         ? SetUpFontHandle(&params, h, face, size, thickness, fontType, charSet,
                                           (fontType & 1) ? edge : -1, italic, 0)
                         : -1;
        }
        if (result < 0) {
            DeleteHandle(h);
            continue;
        }
        SetFontCharSpacing(spacing, h);
        if (lineSet) SetFontLineSpacing(line, h);
        SetFontStringEncoding(encoding, h);
        // The default font keeps its handle, so resets never fill the table with former
        // default fonts.
        if (wasDefault) {
            s.defaultFont = h;
            SetHandleLostFlag(h, &s.defaultFont);
            if (s.builtinInUse) {
                char16_t text[2] = {0, 0};
                for (int code = 0; code < 128; ++code) {
                    text[0] = static_cast<char16_t>(code);
                    AddFontGlyphImageWide(h, text, s.builtinGlyphs[code], 0, 0, 8);
                }
            }
        }
    }
    return 0;
}

// ---- Creation ----

int InitFontCreateParams(FontCreateParams* params) {
    *params = S().createParams;
    return 0;
}

HandleValue CreateFontToHandle(const char* face, int size, int thickness, int fontType, int charSet,
                               int edgeSize, int italic, HandleValue reuse) {
    FontCreateParams params;
    InitFontCreateParams(&params);
    if (face != nullptr && NarrowEncoding == WideEncoding) {
        return MakeFontHandle(&params, reinterpret_cast<const char16_t*>(face), size, thickness,
                              fontType, charSet, edgeSize, italic, reuse, IsASyncLoadEnabled());
    }
    WideText wide(face, NarrowEncoding);
    if (wide.Failed()) return -1;
    return MakeFontHandle(&params, wide.Get(), size, thickness, fontType, charSet, edgeSize, italic,
                          reuse, IsASyncLoadEnabled());
}

HandleValue MakeFontHandle(const FontCreateParams* params, const char16_t* face, int size,
                           int thickness, int fontType, int charSet, int edgeSize, int italic,
                           HandleValue reuse, int async) {
    WaitWhileWindowInactive();
    HandleValue h = AllocateHandle(DX_HANDLETYPE_FONT, async, reuse);
    if (h < 0) return -1;
    if (!async) {
        if (SetUpFontHandle(params, h, face, size, thickness, fontType, charSet, edgeSize, italic,
                            0) < 0) {
            DeleteHandle(h);
            return -1;
        }
        return h;
    }
    auto pack = [&](std::uint8_t* block) {
        int at = 0;
        PackJobBlock(block, &at, params, static_cast<int>(sizeof(*params)));
        PackJobInt(block, &at, h);
        PackJobString(block, &at, face);
        for (int v : {size, thickness, fontType, charSet, edgeSize, italic}) {
            PackJobInt(block, &at, v);
        }
        return at;
    };
    return QueueFontJob(h, MakeASyncLoadJob(&RunFontCreateJob, pack));
}

HandleValue QueueFontJob(HandleValue h, ASyncLoadJob* job) {
    if (job == nullptr) {
        DeleteHandle(h);
        return -1;
    }
    const int slot = job->slotIndex;
    if (QueueASyncLoadJob(job) != 0) {
        DeleteHandle(h);
        return -1;
    }
    if (HandleHeader* record = LookupHandleRecord(h)) record->jobIndex = slot;
    return h;
}

int SetUpFontHandle(const FontCreateParams* params, HandleValue handle, const char16_t* face,
                    int size, int thickness, int fontType, int charSet, int edgeSize, int italic,
                    int async) {
    auto* font = reinterpret_cast<FontHandleData*>(LookupHandleRecord(handle));
    if (font == nullptr) return -1;
    if (fontType == -1) fontType = DX_FONTTYPE_NORMAL;
    if (size < 0) size = 16;
    if (thickness < 0) thickness = 6;
    int faceCheck = 0;
    if (charSet < 0 || charSet > 7) {
        charSet = GetCharSetId();
        faceCheck = 1;
    }
    int encoding = faceCheck ? 0 : EncodingOfCharSet(charSet);
    if (GetScreenColorBits() == 8) fontType &= ~2;
    font->metrics.size = static_cast<std::uint16_t>(size);
    font->metrics.thickness = static_cast<std::uint16_t>(thickness);
    font->metrics.italic = static_cast<std::uint8_t>(italic ? 1 : 0);
    font->metrics.charSet = static_cast<std::uint16_t>(charSet);
    font->metrics.encoding = static_cast<std::uint16_t>(encoding == 0 ? 0xFFFF : encoding);
    font->fontType = fontType;
    font->edgeSize = (fontType & 1) == 0 ? 0 : edgeSize < 0 ? 1 : edgeSize;
    font->spacing = 0;
    font->lineSpacingSet = 0;
    font->lineSpacing = 0;
    font->encodingOverride = -1;
    font->lostFlag = nullptr;
    font->fromData = 0;
    CopyFace(font->faceNameWide, face);
    if (font->edgeSize > 4 && BuildEdgePattern(font, font->edgeSize) != 0) return -1;
    if (CreateFontGdiSide(params, font, faceCheck) != 0) return -1;
    std::memset(font->faceName, 0, sizeof(font->faceName));
    TranscodeString(font->faceNameWide, -1, WideEncoding, font->faceName,
                    sizeof(font->faceName) - 1, NarrowEncoding);
    if (CreateGlyphCache(params, font, async) != 0) {
        ReleaseFontGdiSide(font);
        return -1;
    }
    return 0;
}

// ---- The default font ----

int EnsureDefaultFont() {
    FontSystemStateData& s = S();
    if (!s.initialised) return -1;
    if (FontHandleData* font = LookupFont(s.defaultFont)) {
        DefaultSettings d = CurrentDefaults();
        if (s.builtinInUse && IsGraphHandleValid(s.builtinGlyphs[0])) return 0;
        if (!s.builtinInUse && (d.face[0] == 0 || SameFace(d.face, font->faceNameWide)) &&
            font->fontType == d.fontType && font->metrics.size == d.size &&
            font->metrics.thickness == d.thickness &&
            (!(d.fontType & 1) || font->edgeSize == d.edgeSize) &&
            font->metrics.italic == (d.italic ? 1 : 0) && !s.charSetChanged) {
            return 0;
        }
        DeleteHandle(s.defaultFont);
    }
    s.defaultFont = -1;
    DefaultSettings d = CurrentDefaults();
    WaitWhileWindowInactive();
    FontCreateParams params;
    InitFontCreateParams(&params);
    HandleValue h = AllocateHandle(DX_HANDLETYPE_FONT, 0, -1);
    if (h >= 0 && SetUpFontHandle(&params, h, d.face, d.size, d.thickness, d.fontType, d.charSet,
                                  (d.fontType & 1) ? d.edgeSize : -1, d.italic, 0) < 0) {
        DeleteHandle(h);
        h = -1;
    }
    s.charSetChanged = 0;
    if (h < 0) return CreateBuiltinFont();
    s.defaultFont = h;
    s.builtinInUse = 0;
    ApplyDefaultToHandle(h);
    return 0;
}

HandleValue ObtainDefaultFont() {
    EnsureDefaultFont();
    return S().defaultFont;
}

int SetDefaultFontFaceWide(const char16_t* face, int charSet) {
    FontSystemStateData& s = S();
    CopyFace(s.defaultFace, face);
    if (charSet != s.defaultCharSet) s.charSetChanged = 1;
    s.defaultCharSet = charSet;
    if (s.initialised) {
        EnsureDefaultFont();
        return 0;
    }
    s.faceSet = 1;
    s.charSetSet = 1;
    return 0;
}

int SetDefaultFontFace(const char* face, int charSet) {
    WideText wide(face, NarrowEncoding);
    if (wide.Failed()) return -1;
    return SetDefaultFontFaceWide(wide.Get(), charSet);
}

int SetDefaultFontType(int fontType) {
    FontSystemStateData& s = S();
    s.defaultFontType = fontType == -1 ? DX_FONTTYPE_NORMAL : fontType;
    if (s.initialised) {
        EnsureDefaultFont();
        return 0;
    }
    s.fontTypeSet = 1;
    return 0;
}

int SetDefaultFontSize(int size) {
    FontSystemStateData& s = S();
    s.defaultSize = size == -1 ? 16 : size;
    if (s.initialised) {
        EnsureDefaultFont();
        return 0;
    }
    s.sizeSet = 1;
    return 0;
}

int SetDefaultFontThickness(int thickness) {
    FontSystemStateData& s = S();
    s.defaultThickness = thickness == -1 ? 6 : thickness;
    if (s.initialised) {
        EnsureDefaultFont();
        return 0;
    }
    s.thicknessSet = 1;
    return 0;
}

int ConfigureDefaultFont(const char16_t* face, int size, int thickness, int fontType, int charSet,
                         int edgeSize, int italic) {
    FontSystemStateData& s = S();
    CopyFace(s.defaultFace, face);
    s.defaultSize = size < 0 ? 16 : size;
    s.defaultThickness = thickness < 0 ? 6 : thickness;
    s.defaultFontType = fontType < 0 ? DX_FONTTYPE_NORMAL : fontType;
    if (charSet != s.defaultCharSet) s.charSetChanged = 1;
    s.defaultCharSet = charSet;
    s.defaultEdgeSize = edgeSize < 0 ? 1 : edgeSize;
    if (s.defaultEdgeSize > 1) s.defaultFontType |= 1;
    s.defaultItalic = italic;
    if (s.initialised) {
        EnsureDefaultFont();
        return 0;
    }
    s.faceSet = s.sizeSet = s.thicknessSet = s.fontTypeSet = s.charSetSet = s.edgeSizeSet =
        s.italicSet = 1;
    return 0;
}

int SetDefaultCharSpacing(int spacing) {
    FontSystemStateData& s = S();
    s.defaultSpacing = spacing;
    if (s.initialised) {
        EnsureDefaultFont();
        SetFontCharSpacing(spacing, s.defaultFont);
        return 0;
    }
    s.spacingSet = 1;
    return 0;
}

int SetGlyphCacheCapacity(int count) {
    S().createParams.cacheCapacity = count < 0 ? 0 : count;
    return 0;
}

// ---- Queries and per-font settings ----

FontHandleData* ResolveFontHandle(HandleValue font) {
    if (font == -2) {
        if (EnsureDefaultFont() < 0) return nullptr;
        font = S().defaultFont;
    }
    return LookupFont(font);
}

int IsFontHandleUsable(HandleValue font) {
    return ResolveFontHandle(font) != nullptr ? 1 : 0;
}

int IsFontCacheOnTexture(HandleValue font) {
    FontHandleData* f = ResolveFontHandle(font);
    return f == nullptr ? -1 : f->cache.onTexture ? 1 : 0;
}

int QueryFontSize(HandleValue font) {
    FontHandleData* f = ResolveFontHandle(font);
    return f == nullptr ? -1 : f->metrics.size;
}

int QueryFontCharSpacing(HandleValue font) {
    FontHandleData* f = ResolveFontHandle(font);
    return f == nullptr ? -1 : f->spacing;
}

int QueryFontState(char16_t* face, int* size, int* thickness, HandleValue font, int* fontType,
                   int* charSet, int* edgeSize, int* italic) {
    FontHandleData* f = ResolveFontHandle(font);
    if (f == nullptr) return -1;
    if (face != nullptr) CopyFace(face, f->faceNameWide);
    if (size != nullptr) *size = f->metrics.size;
    if (thickness != nullptr) *thickness = f->metrics.thickness;
    if (fontType != nullptr) *fontType = f->fontType;
    if (charSet != nullptr) *charSet = f->metrics.charSet;
    if (edgeSize != nullptr) *edgeSize = f->edgeSize;
    if (italic != nullptr) *italic = f->metrics.italic;
    return 0;
}

int SetFontCharSpacing(int spacing, HandleValue font) {
    FontHandleData* f = ResolveFontHandle(font);
    if (f == nullptr) return -1;
    f->spacing = spacing;
    return 0;
}

int SetFontLineSpacing(int lineSpacing, HandleValue font) {
    FontHandleData* f = ResolveFontHandle(font);
    if (f == nullptr) return -1;
    f->lineSpacingSet = 1;
    f->lineSpacing = lineSpacing;
    return 0;
}

int SetFontStringEncoding(int encoding, HandleValue font) {
    FontHandleData* f = ResolveFontHandle(font);
    if (f == nullptr) return -1;
    f->encodingOverride = encoding;
    return 0;
}

int GetFontStringEncoding(HandleValue font) {
    FontHandleData* f = ResolveFontHandle(font);
    if (f == nullptr) return -1;
    if (f->encodingOverride >= 0) return f->encodingOverride;
    if (f->metrics.encoding != 0xFFFF && f->metrics.encoding != 0) return f->metrics.encoding;
    return NarrowEncoding;
}

int SetFontLostFlagPointer(HandleValue font, int* flag) {
    FontHandleData* f = ResolveFontHandle(font);
    if (f == nullptr) return -1;
    f->lostFlag = flag;
    if (flag != nullptr) *flag = 0;
    return 0;
}

int AddFontGlyphImage(HandleValue font, const char* character, HandleValue graph, int offsetX,
                      int offsetY, int advance) {
    int encoding = GetFontStringEncoding(font);
    if (encoding < 0) return -1;
    WideText wide(character, encoding);
    if (wide.Failed()) return -1;
    return AddFontGlyphImageWide(font, wide.Get(), graph, offsetX, offsetY, advance);
}

int AddFontGlyphImageWide(HandleValue font, const char16_t* character, HandleValue graph,
                          int offsetX, int offsetY, int advance) {
    FontHandleData* f = ResolveFontHandle(font);
    if (f == nullptr || character == nullptr) return -1;
    int units = 0;
    std::uint32_t code = ReadWideCode(character, &units);
    FontGlyphEntry* entry = nullptr;
    for (int i = 0; i < f->imageCount; ++i) {
        if (f->images[i].code == code) {
            entry = &f->images[i];
            break;
        }
    }
    if (entry == nullptr) {
        if (f->imageCount >= kFontImageEntries) return -1;
        entry = &f->images[f->imageCount++];
    }
    int width = 0, height = 0;
    GetGraphSize(graph, &width, &height);
    *entry = FontGlyphEntry{};
    entry->code = code;
    entry->drawX = static_cast<std::int16_t>(offsetX);
    entry->drawY = static_cast<std::int16_t>(offsetY);
    entry->advance = static_cast<std::int16_t>(advance);
    entry->valid = 1;
    entry->isImage = 1;
    entry->width = static_cast<std::uint16_t>(width);
    entry->height = static_cast<std::uint16_t>(height);
    entry->graph = graph;
    entry->cacheIndex = -1;
    return 0;
}

}  // namespace ZiDaz
