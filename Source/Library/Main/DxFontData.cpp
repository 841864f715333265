// Fonts made from font data images ("FNTF": pre-rendered glyph bitmaps with their metrics, no
// system font needed), the glyph loading from such an image, and the built-in fallback font that
// takes the default font's place when no system font can be made.
//
// A data image is outside data: every count, offset and size in it is checked against the image
// before anything is allocated or read, and a damaged image is refused with -1.
#include <cstring>

#include "Main/DxASyncLoad.h"
#include "Main/DxArchive_.h"
#include "Main/DxChar.h"
#include "Main/DxFont.h"
#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

namespace {

constexpr const char* kSourceFile = "DxFontData";
// Bounds that no real font comes near; they keep a damaged image from asking for huge blocks.
constexpr std::uint64_t kMaxBodyBytes = 1u << 24;
constexpr std::uint64_t kMaxDecodeBytes = 1u << 24;
constexpr int kMaxCellSize = 512;
constexpr std::uint64_t kLzMaxRatio = 8195 / 3 + 1;  // the most one LZ token can produce per byte

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The decoded size of an LZ stream that lies within size bytes, or -1.
std::int64_t CheckedLzSize(const std::uint8_t* stream, std::uint64_t size, std::uint64_t limit) {
    if (size < 9) return -1;
    std::uint64_t decoded = Le32(stream), encoded = Le32(stream + 4);
    if (encoded < 9 || encoded > size) return -1;
    if (decoded > limit || decoded > encoded * kLzMaxRatio) return -1;
    return static_cast<std::int64_t>(decoded);
}

std::uint64_t Align8(std::uint64_t n) {
    return (n + 7) & ~std::uint64_t{7};
}

void RunFontDataJob(ASyncLoadJob* job) {
    int at = 0;
    const std::uint8_t* block = job->parameters;
    FontCreateParams params;
    std::memcpy(&params, UnpackJobBlock(block, &at), sizeof(params));
    HandleValue handle = UnpackJobInt(block, &at);
    auto image =
        reinterpret_cast<const void*>(static_cast<std::intptr_t>(UnpackJobInt64(block, &at)));
    int size = UnpackJobInt(block, &at);
    int edgeSize = UnpackJobInt(block, &at);
    int result = SetUpFontFromData(&params, handle, image, size, edgeSize, 1);
    HandleHeader* record = LookupHandleRecord(handle);
    if (record != nullptr) record->asyncResult = result;
    FinishHandleASyncLoad(handle);
    if (result < 0) DeleteHandle(handle);
}

// The record of a glyph of a data font, or null.
const std::uint8_t* FindDataGlyph(const FontHandleData* font, std::uint32_t code) {
    if (code <= 0xFFFF) return static_cast<const std::uint8_t*>(font->dataGlyphByCode[code]);
    const auto* header = static_cast<const std::uint8_t*>(font->dataHeader);
    std::uint32_t above = Le32(header + 20);
    for (std::uint32_t i = 0; i < above; ++i) {
        const auto* record = static_cast<const std::uint8_t*>(font->dataGlyphsAbove[i]);
        if (record != nullptr && Le32(record) == code) return record;
    }
    return nullptr;
}

// Decodes the Base64 text of a built-in block into a new block; null when it cannot.
std::uint8_t* DecodeBuiltin(const char* text, int* size) {
    std::size_t length = std::strlen(text);
    std::int64_t n = DecodeBase64WithSize(text, length, nullptr, 0);
    if (n <= 0) return nullptr;
    auto* out = static_cast<std::uint8_t*>(
        AllocateTrackedMemory(static_cast<std::size_t>(n), kSourceFile, __LINE__));
    if (out == nullptr) return nullptr;
    if (DecodeBase64WithSize(text, length, out, static_cast<std::size_t>(n)) != n) {
        FreeTrackedMemory(out);
        return nullptr;
    }
    *size = static_cast<int>(n);
    return out;
}

}  // namespace

HandleValue CreateFontFromData(const FontCreateParams* params, const void* image, int size,
                               int edgeSize, HandleValue reuse, int async) {
    WaitWhileWindowInactive();
    HandleValue h = AllocateHandle(DX_HANDLETYPE_FONT, async, reuse);
    if (h < 0) return -1;
    if (!async) {
        if (SetUpFontFromData(params, h, image, size, edgeSize, 0) < 0) {
            DeleteHandle(h);
            return -1;
        }
        return h;
    }
    auto pack = [&](std::uint8_t* block) {
        int at = 0;
        PackJobBlock(block, &at, params, static_cast<int>(sizeof(*params)));
        PackJobInt(block, &at, h);
        PackJobInt64(block, &at, static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(image)));
        PackJobInt(block, &at, size);
        PackJobInt(block, &at, edgeSize);
        return at;
    };
    return QueueFontJob(h, MakeASyncLoadJob(&RunFontDataJob, pack));
}

int SetUpFontFromData(const FontCreateParams* params, HandleValue handle, const void* image,
                      int size, int edgeSize, int async) {
    auto* font = reinterpret_cast<FontHandleData*>(LookupHandleRecord(handle));
    const auto* src = static_cast<const std::uint8_t*>(image);
    if (font == nullptr || src == nullptr || size < kFontDataPrefixBytes) return -1;
    if (std::memcmp(src, "FNTF", 4) != 0 || src[4] > 1) return -1;
    const int version = src[4];
    const std::uint64_t imageSize = static_cast<std::uint64_t>(size);
    const std::uint64_t bitmapOffset = Le32(src + 8);
    const std::uint64_t decodeSize = Le32(src + 12);
    const std::uint64_t glyphCount = Le32(src + 16);
    const std::uint64_t aboveCount = Le32(src + 20);
    const std::int64_t body =
        CheckedLzSize(src + kFontDataPrefixBytes, imageSize - kFontDataPrefixBytes, kMaxBodyBytes);
    if (body < 0) return -1;
    const std::uint64_t headerSize = kFontDataPrefixBytes + static_cast<std::uint64_t>(body) +
                                     (version == 0 ? kFontDataVersion0Gap : 0);
    if (headerSize < static_cast<std::uint64_t>(kFontDataGlyphsOffset)) return -1;
    if (glyphCount > (headerSize - kFontDataGlyphsOffset) / kFontDataGlyphRecordBytes) return -1;
    if (aboveCount > glyphCount || bitmapOffset > imageSize || decodeSize > kMaxDecodeBytes) {
        return -1;
    }
    // One block: the image, the header, the per-code table, the list above 0xFFFF, the decode
    // buffer.
    const std::uint64_t headerAt = Align8(imageSize);
    const std::uint64_t tableAt = headerAt + Align8(headerSize);
    const std::uint64_t aboveAt = tableAt + 65536 * sizeof(void*);
    const std::uint64_t decodeAt = aboveAt + aboveCount * sizeof(void*);
    const std::uint64_t total = decodeAt + decodeSize + 8;
    auto* blockBytes = static_cast<std::uint8_t*>(
        AllocateTrackedMemoryZeroed(static_cast<std::size_t>(total), kSourceFile, __LINE__));
    if (blockBytes == nullptr) return -1;
    auto fail = [&]() {
        FreeTrackedMemory(blockBytes);
        if (font->dataImage == blockBytes) font->dataImage = nullptr;
        font->fromData = 0;
        font->kerning = nullptr;
        font->dataGlyphByCode = nullptr;
        font->dataGlyphsAbove = nullptr;
        return -1;
    };
    std::memcpy(blockBytes, src, imageSize);
    std::uint8_t* header = blockBytes + headerAt;
    std::memcpy(header, src, kFontDataPrefixBytes);
    if (DecodeArchiveLz(src + kFontDataPrefixBytes, imageSize - kFontDataPrefixBytes,
                        header + kFontDataPrefixBytes, static_cast<std::size_t>(body)) != body) {
        return fail();
    }
    if (version == 0) {
        const std::uint64_t moved =
            kFontDataPrefixBytes + static_cast<std::uint64_t>(body) - kFontDataKerningCountOffset;
        std::memmove(header + kFontDataKerningCountOffset + kFontDataVersion0Gap,
                     header + kFontDataKerningCountOffset, moved);
        std::memset(header + kFontDataKerningCountOffset, 0, kFontDataVersion0Gap);
    }
    const auto kerningCount = static_cast<std::int32_t>(Le32(header + kFontDataKerningCountOffset));
    if (kerningCount < 0 || kFontDataGlyphsOffset + glyphCount * kFontDataGlyphRecordBytes +
                                    static_cast<std::uint64_t>(kerningCount) * 16 >
                                headerSize) {
        return fail();
    }
    const int depthKind = header[kFontDataDepthOffset];
    if (depthKind > 2) return fail();
    const int bits = depthKind == 0 ? 1 : depthKind == 1 ? 4 : 8;
    FontMetricsBlock metrics;
    std::memcpy(&metrics, header + kFontDataMetricsOffset, sizeof(metrics));
    if (metrics.cellSize == 0 || metrics.cellSize > kMaxCellSize || metrics.height > kMaxCellSize) {
        return fail();
    }
    // Every glyph's bitmap must lie inside the image (or decode into the decode buffer).
    auto** table = reinterpret_cast<void**>(blockBytes + tableAt);
    auto** above = reinterpret_cast<void**>(blockBytes + aboveAt);
    const std::uint8_t* area = blockBytes + bitmapOffset;
    const std::uint64_t areaSize = imageSize - bitmapOffset;
    std::uint64_t aboveFilled = 0;
    for (std::uint64_t i = 0; i < glyphCount; ++i) {
        const std::uint8_t* record = header + kFontDataGlyphsOffset + i * kFontDataGlyphRecordBytes;
        const std::uint32_t code = Le32(record);
        const std::uint64_t width = Le16(record + 12), height = Le16(record + 14);
        const std::uint64_t offset = Le32(record + 16), rowBytes = Le32(record + 20);
        if (width > 0 && height > 0) {
            if (rowBytes < (width * bits + 7) / 8) return fail();
            const std::uint64_t needed = rowBytes * height;
            if (offset > areaSize) return fail();
            if (record[4] != 0) {
                const std::int64_t decoded =
                    CheckedLzSize(area + offset, areaSize - offset, decodeSize);
                if (decoded < 0 || static_cast<std::uint64_t>(decoded) < needed) return fail();
            } else if (needed > areaSize - offset) {
                return fail();
            }
        }
        if (code <= 0xFFFF) {
            table[code] = const_cast<std::uint8_t*>(record);
        } else {
            if (aboveFilled >= aboveCount) return fail();
            above[aboveFilled++] = const_cast<std::uint8_t*>(record);
        }
    }
    font->fromData = 1;
    font->dataImage = blockBytes;
    font->dataImageSize = size;
    font->dataHeader = header;
    font->dataGlyphTable = header + kFontDataGlyphsOffset;
    font->dataBitmaps = const_cast<std::uint8_t*>(area);
    font->dataBitsPerPixel = bits == 1 ? 0 : bits;
    font->dataGlyphByCode = table;
    font->dataGlyphsAbove = above;
    font->dataDecodeBuffer = blockBytes + decodeAt;
    font->kerning = kerningCount > 0
                        ? reinterpret_cast<FontKerningPair*>(header + kFontDataGlyphsOffset +
                                                             glyphCount * kFontDataGlyphRecordBytes)
                        : nullptr;
    const int e = edgeSize < 0 ? 0 : edgeSize;
    font->fontType =
        bits == 1   ? (e > 0 ? DX_FONTTYPE_EDGE : DX_FONTTYPE_NORMAL)
        : bits == 4 ? (e > 0 ? DX_FONTTYPE_ANTIALIASING_EDGE_4X4 : DX_FONTTYPE_ANTIALIASING_4X4)
                    : (e > 0 ? DX_FONTTYPE_ANTIALIASING_EDGE_8X8 : DX_FONTTYPE_ANTIALIASING_8X8);
    font->metrics = metrics;
    font->edgeSize = e;
    font->spacing = 0;
    font->lineSpacingSet = 0;
    font->lineSpacing = 0;
    font->encodingOverride = -1;
    font->lostFlag = nullptr;
    std::memset(font->faceNameWide, 0, sizeof(font->faceNameWide));
    char16_t face[128] = {};
    for (int i = 0; i < 127; ++i)
        face[i] = static_cast<char16_t>(Le16(header + kFontDataFaceOffset + 2 * i));
    TranscodeString(face, -1, CharEncoding::Utf16Le, font->faceNameWide,
                    sizeof(font->faceNameWide) - 2, WideEncoding);
    std::memset(font->faceName, 0, sizeof(font->faceName));
    TranscodeString(font->faceNameWide, -1, WideEncoding, font->faceName,
                    sizeof(font->faceName) - 1, NarrowEncoding);
    if (e > 4) {
        // The same circle as the GDI fonts stamp.
        int side = 2 * e + 1;
        if (NewBaseImagePal8(side, side, &font->edgePattern, 0) != 0) return fail();
        auto* p = static_cast<std::uint8_t*>(font->edgePattern.Pixels);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                p[y * font->edgePattern.Pitch + x] =
                    (x - e) * (x - e) + (y - e) * (y - e) <= e * e ? 1 : 0;
    }
    if (CreateGlyphCache(params, font, async) != 0) {
        if (font->edgePattern.Pixels != nullptr) DisposeBaseImage(&font->edgePattern);
        return fail();
    }
    return 0;
}

int RenderGlyphFromData(FontHandleData* font, FontGlyphEntry* entry, std::uint32_t code,
                        std::uint32_t selector, int upload) {
    if (selector != 0 || font->dataGlyphByCode == nullptr) return -1;
    const std::uint8_t* record = FindDataGlyph(font, code);
    if (record == nullptr) return -1;
    const int width = Le16(record + 12), height = Le16(record + 14);
    const std::uint32_t offset = Le32(record + 16), rowBytes = Le32(record + 20);
    const auto originX = static_cast<std::int16_t>(Le16(record + 6));
    const auto top = static_cast<std::int16_t>(Le16(record + 8));
    const auto advance = static_cast<std::int16_t>(Le16(record + 10));
    const int kind = font->dataBitsPerPixel == 0 ? 0 : font->dataBitsPerPixel == 4 ? 4 : 8;
    const void* bits = nullptr;
    if (width > 0 && height > 0) {
        const auto* area = static_cast<const std::uint8_t*>(font->dataBitmaps);
        const std::uint64_t areaSize =
            static_cast<std::uint64_t>(font->dataImageSize) -
            static_cast<std::uint64_t>(area - static_cast<const std::uint8_t*>(font->dataImage));
        if (record[4] != 0) {
            const auto* header = static_cast<const std::uint8_t*>(font->dataHeader);
            const std::uint32_t decodeSize = Le32(header + 12);
            if (DecodeArchiveLz(area + offset, areaSize - offset, font->dataDecodeBuffer,
                                decodeSize) < static_cast<std::int64_t>(rowBytes) * height) {
                return -1;
            }
            bits = font->dataDecodeBuffer;
        } else {
            bits = area + offset;
        }
    }
    return WriteGlyphToCache(font, entry, code, 0, 0, kind, bits, width, height,
                             static_cast<int>(rowBytes), originX, top, advance, upload);
}

int CreateBuiltinFont() {
    FontSystemStateData& s = FontSystemState;
    // The data image is decoded once and kept: the font is made from it again after resets.
    static std::uint8_t imageBytes[256];
    static int imageSize = 0;
    if (imageSize == 0) {
        int n = 0;
        std::uint8_t* decoded = DecodeBuiltin(kBuiltinFontImageText, &n);
        if (decoded == nullptr || n > static_cast<int>(sizeof(imageBytes))) {
            FreeTrackedMemory(decoded);
            return -1;
        }
        std::memcpy(imageBytes, decoded, static_cast<std::size_t>(n));
        FreeTrackedMemory(decoded);
        imageSize = n;
    }
    FontCreateParams params;
    InitFontCreateParams(&params);
    HandleValue h = CreateFontFromData(&params, imageBytes, imageSize, 0, -1, IsASyncLoadEnabled());
    if (h < 0) return -1;
    s.defaultFont = h;
    if (s.builtinSheet == nullptr) {
        int packedSize = 0;
        std::uint8_t* packed = DecodeBuiltin(kBuiltinGlyphSheetText, &packedSize);
        if (packed == nullptr) return -1;
        std::int64_t n = CheckedLzSize(packed, static_cast<std::uint64_t>(packedSize), 1u << 20);
        if (n > 0) {
            s.builtinSheet =
                AllocateTrackedMemory(static_cast<std::size_t>(n), kSourceFile, __LINE__);
        }
        if (s.builtinSheet == nullptr ||
            DecodeArchiveLz(packed, static_cast<std::size_t>(packedSize), s.builtinSheet,
                            static_cast<std::size_t>(n)) != n) {
            FreeTrackedMemory(s.builtinSheet);
            s.builtinSheet = nullptr;
            FreeTrackedMemory(packed);
            return -1;
        }
        FreeTrackedMemory(packed);
        s.builtinSheetSize = static_cast<int>(n);
    }
    if (!IsGraphHandleValid(s.builtinGlyphs[0])) {
        const int deleteAll = GetDeleteAllIncludesNewGraphs();
        const std::uint32_t transparent = GraphCreationSettings.TransparentColor;
        SetTransparentColor(255, 0, 255);
        SetDeleteAllIncludesNewGraphs(0);
        HandleValue glyphs[128];
        int result = CreateDivGraphFromImageInMemory(s.builtinSheet, s.builtinSheetSize, 128, 16, 8,
                                                     8, 8, glyphs, 1, 0, nullptr, 0);
        GraphCreationSettings.TransparentColor = transparent;
        if (result == 0) {
            for (int i = 0; i < 128; ++i) {
                s.builtinGlyphs[i] = glyphs[i];
                SetGraphDeleteFlag(glyphs[i], &s.builtinGlyphs[i]);
            }
        }
        SetDeleteAllIncludesNewGraphs(deleteAll);
    }
    char16_t text[2] = {0, 0};
    for (int code = 0; code < 128; ++code) {
        text[0] = static_cast<char16_t>(code);
        AddFontGlyphImageWide(h, text, s.builtinGlyphs[code], 0, 0, 8);
    }
    s.builtinInUse = 1;
    SetHandleLostFlag(h, &s.defaultFont);
    return 0;
}

}  // namespace ZiDaz
